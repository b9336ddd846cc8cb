// The index over the vocabulary's spellings and the reading of one written atom.
//
// Spellings go into two open-addressing hash tables built once, one keyed by the exact bytes
// and one by the ASCII-lower-cased bytes. An atom is read by looking up the whole text and
// the text after each prefix that can start it: a hash probe each, a few per atom, so that a
// plant unit parses within the 100 ns budget (bench/unit_v2_bench.cpp).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "unit_v2_vocabulary.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency_v2::vocabulary {
namespace {

constexpr char lower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_folded(std::string_view x, std::string_view y) noexcept {
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (lower(x[i]) != lower(y[i])) return false;
    }
    return true;
}

std::uint32_t hash(std::string_view text, bool fold) noexcept {
    std::uint32_t h = 2166136261u;  // FNV-1a
    for (char c : text) {
        h ^= static_cast<unsigned char>(fold ? lower(c) : c);
        h *= 16777619u;
    }
    return h;
}

constexpr std::size_t kSlots = 1024;  // a power of two, several times the spellings

struct Slot {
    std::string_view spelling;
    std::uint16_t unit = 0;
    bool used = false;
};

class SpellingIndex {
  public:
    explicit SpellingIndex(bool fold) : fold_(fold) {
        const auto all = units();
        for (std::size_t u = 0; u < all.size(); ++u) {
            std::string_view rest = all[u].spellings;
            while (!rest.empty()) {
                const std::size_t bar = std::min(rest.find('|'), rest.size());
                insert(rest.substr(0, bar), static_cast<std::uint16_t>(u));
                rest.remove_prefix(std::min(bar + 1, rest.size()));
            }
        }
    }

    // Calls `found(unit)` for every unit with this spelling.
    template <class Found>
    void find(std::string_view text, Found&& found) const noexcept {
        for (std::size_t i = hash(text, fold_) & (kSlots - 1);; i = (i + 1) & (kSlots - 1)) {
            const Slot& slot = slots_[i];
            if (!slot.used) return;
            if (fold_ ? equal_folded(slot.spelling, text) : slot.spelling == text) {
                found(slot.unit);
            }
        }
    }

    std::size_t size() const noexcept { return size_; }

  private:
    void insert(std::string_view spelling, std::uint16_t unit) {
        std::size_t i = hash(spelling, fold_) & (kSlots - 1);
        while (slots_[i].used) {
            // The folded table keeps one slot per unit and folded spelling ("L" and "l").
            if (fold_ && slots_[i].unit == unit && equal_folded(slots_[i].spelling, spelling)) {
                return;
            }
            i = (i + 1) & (kSlots - 1);
        }
        slots_[i] = Slot{spelling, unit, true};
        ++size_;
    }

    bool fold_;
    std::size_t size_ = 0;
    std::array<Slot, kSlots> slots_{};
};

const SpellingIndex& index(bool fold) noexcept {
    static const SpellingIndex exact(false);
    static const SpellingIndex folded(true);
    return fold ? folded : exact;
}

bool has_phrase_char(std::string_view spelling) noexcept {
    return spelling.find_first_of("/^") != std::string_view::npos;
}

}  // namespace

int read_atom(std::string_view text, bool fold, std::array<Reading, kMaxReadings>& out) noexcept {
    const SpellingIndex& idx = index(fold);
    const auto all = units();
    int n = 0;
    auto add = [&](std::uint16_t unit, std::uint8_t prefix) {
        const double factor = prefix == kNoPrefix ? 1.0 : kPrefixes[prefix].factor;
        for (int k = 0; k < std::min(n, kMaxReadings); ++k) {
            const double other = out[k].prefix == kNoPrefix ? 1.0 : kPrefixes[out[k].prefix].factor;
            if (out[k].unit == unit && other == factor) return;
        }
        if (n < kMaxReadings) out[n] = Reading{unit, prefix};
        ++n;
    };
    idx.find(text, [&](std::uint16_t unit) {
        const UnitDef& def = all[unit];
        if ((def.prefixes & kBare) != 0 || def.role == Role::Ambiguous) add(unit, kNoPrefix);
    });
    if (text.size() < 2) return n;
    const char first = fold ? lower(text[0]) : text[0];
    for (std::size_t p = 0; p < kPrefixes.size(); ++p) {
        const Prefix& prefix = kPrefixes[p];
        const char lead = fold ? lower(prefix.text[0]) : prefix.text[0];
        if (lead != first || text.size() <= prefix.text.size()) continue;
        const std::string_view head = text.substr(0, prefix.text.size());
        if (fold ? !equal_folded(head, prefix.text) : head != prefix.text) continue;
        idx.find(text.substr(prefix.text.size()), [&](std::uint16_t unit) {
            if ((all[unit].prefixes & prefix.bit) != 0) add(unit, static_cast<std::uint8_t>(p));
        });
    }
    return n;
}

PhraseMatch match_phrase(std::string_view rest, bool fold) noexcept {
    // Few phrases exist; scanning them is cheaper than indexing them.
    const auto all = units();
    PhraseMatch best;
    for (std::size_t u = 0; u < all.size(); ++u) {
        std::string_view spellings = all[u].spellings;
        if (!has_phrase_char(spellings)) continue;
        while (!spellings.empty()) {
            const std::size_t bar = std::min(spellings.find('|'), spellings.size());
            const std::string_view spelling = spellings.substr(0, bar);
            spellings.remove_prefix(std::min(bar + 1, spellings.size()));
            if (!has_phrase_char(spelling) || spelling.size() > rest.size()) continue;
            const std::string_view head = rest.substr(0, spelling.size());
            const bool hit = fold ? equal_folded(head, spelling) : head == spelling;
            if (hit && spelling.size() > best.length) {
                best = PhraseMatch{static_cast<std::uint16_t>(u), spelling.size()};
            }
        }
    }
    return best;
}

VocabularySize count() noexcept {
    VocabularySize size;
    for (const UnitDef& def : units()) {
        if (def.role == Role::Ambiguous) continue;
        ++size.units;
        size.spellings += 1 + static_cast<std::size_t>(
                                  std::count(def.spellings.begin(), def.spellings.end(), '|'));
    }
    return size;
}

}  // namespace qorv_chemical_engineering_edge::unit_consistency_v2::vocabulary
