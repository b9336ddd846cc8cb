// The index over the vocabulary's spellings and the reading of one written atom.
//
// Every spelling with every prefix its unit takes ("Pa", "kPa", "MPa", ...) goes into two
// open-addressing hash tables built once, one keyed by the exact bytes and one by the
// ASCII-lower-cased bytes, so reading an atom is one hash probe. Trying each prefix in turn
// instead took about a fifth of a two-unit parse such as "kg/h" (bench/unit_v2_bench.cpp).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "units/unit_v2_vocabulary.hpp"

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

// Short texts compared inline; a library call cost more than the comparison.
bool equal_exact(std::string_view x, std::string_view y) noexcept {
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i] != y[i]) return false;
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

constexpr std::size_t kSlots = 2048;  // a power of two, about five times the prefixed spellings

// The full hash is kept so that a probe compares texts only when the hashes agree.
struct Slot {
    std::string_view spelling;
    std::uint32_t hash = 0;
    std::uint16_t unit = 0;
    std::uint8_t prefix = kNoPrefix;
    bool used = false;
};

template <class Each>
void for_each_spelling(std::string_view spellings, Each&& each) {
    while (!spellings.empty()) {
        const std::size_t bar = std::min(spellings.find('|'), spellings.size());
        each(spellings.substr(0, bar));
        spellings.remove_prefix(std::min(bar + 1, spellings.size()));
    }
}

class SpellingIndex {
  public:
    explicit SpellingIndex(bool fold) : fold_(fold) {
        const auto all = units();
        // The prefixed spellings live in one buffer, sized first so that views into it stay put.
        std::size_t bytes = 0;
        for (const UnitDef& def : all) {
            for_each_spelling(def.spellings, [&](std::string_view spelling) {
                for (const Prefix& prefix : kPrefixes) {
                    if ((def.prefixes & prefix.bit) != 0)
                        bytes += prefix.text.size() + spelling.size();
                }
            });
        }
        text_ = std::make_unique<char[]>(bytes);
        for (std::size_t u = 0; u < all.size(); ++u) {
            const UnitDef& def = all[u];
            const auto unit = static_cast<std::uint16_t>(u);
            for_each_spelling(def.spellings, [&](std::string_view spelling) {
                if ((def.prefixes & kBare) != 0 || def.role == Role::Ambiguous) {
                    insert(spelling, unit, kNoPrefix);
                }
                for (std::size_t p = 0; p < kPrefixes.size(); ++p) {
                    if ((def.prefixes & kPrefixes[p].bit) == 0) continue;
                    char* at = text_.get() + used_;
                    std::copy(kPrefixes[p].text.begin(), kPrefixes[p].text.end(), at);
                    std::copy(spelling.begin(), spelling.end(), at + kPrefixes[p].text.size());
                    used_ += kPrefixes[p].text.size() + spelling.size();
                    insert(std::string_view(at, kPrefixes[p].text.size() + spelling.size()), unit,
                           static_cast<std::uint8_t>(p));
                }
            });
        }
    }

    // Calls `found(unit, prefix)` for every reading of this text.
    template <class Found>
    void find(std::string_view text, Found&& found) const noexcept {
        const std::uint32_t h = hash(text, fold_);
        for (std::size_t i = h & (kSlots - 1);; i = (i + 1) & (kSlots - 1)) {
            const Slot& slot = slots_[i];
            if (!slot.used) return;
            if (slot.hash != h) continue;
            if (fold_ ? equal_folded(slot.spelling, text) : equal_exact(slot.spelling, text)) {
                found(slot.unit, slot.prefix);
            }
        }
    }

  private:
    void insert(std::string_view spelling, std::uint16_t unit, std::uint8_t prefix) {
        const std::uint32_t h = hash(spelling, fold_);
        std::size_t i = h & (kSlots - 1);
        while (slots_[i].used) {
            // One slot per reading: the folded table would otherwise hold "L" and "l" twice.
            const Slot& slot = slots_[i];
            if (slot.unit == unit && slot.prefix == prefix && slot.hash == h &&
                (fold_ ? equal_folded(slot.spelling, spelling) : slot.spelling == spelling)) {
                return;
            }
            i = (i + 1) & (kSlots - 1);
        }
        slots_[i] = Slot{spelling, h, unit, prefix, true};
    }

    bool fold_;
    std::unique_ptr<char[]> text_;
    std::size_t used_ = 0;
    std::array<Slot, kSlots> slots_{};
};

const SpellingIndex& index(bool fold) noexcept {
    static const SpellingIndex exact(false);
    static const SpellingIndex folded(true);
    return fold ? folded : exact;
}

}  // namespace

int read_atom(std::string_view text, bool fold, std::array<Reading, kMaxReadings>& out) noexcept {
    int n = 0;
    index(fold).find(text, [&](std::uint16_t unit, std::uint8_t prefix) {
        // Distinct readings only: "M" as mega and as the field thousand are two, "L" and "l"
        // one.
        const double factor = prefix == kNoPrefix ? 1.0 : kPrefixes[prefix].factor;
        for (int k = 0; k < std::min(n, kMaxReadings); ++k) {
            const double other = out[k].prefix == kNoPrefix ? 1.0 : kPrefixes[out[k].prefix].factor;
            if (out[k].unit == unit && other == factor) return;
        }
        if (n < kMaxReadings) out[n] = Reading{unit, prefix};
        ++n;
    });
    return n;
}

PhraseMatch match_phrase(std::string_view rest, bool fold) noexcept {
    const PhraseList& list = kPhraseList;
    PhraseMatch best;
    for (std::size_t i = 0; i < list.count; ++i) {
        const Phrase& phrase = list.phrases[i];
        if (phrase.spelling.size() > rest.size() || phrase.spelling.size() <= best.length) continue;
        if (lower(phrase.spelling[0]) != lower(rest[0])) continue;
        const std::string_view head = rest.substr(0, phrase.spelling.size());
        if (fold ? equal_folded(head, phrase.spelling) : equal_exact(head, phrase.spelling)) {
            best = PhraseMatch{phrase.unit, phrase.spelling.size()};
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
