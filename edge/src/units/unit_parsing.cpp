// Normalising a unit string and looking it up in the unit table.
//
// Normalisation runs in a fixed order, each step seeing only what the previous one left:
// trim Unicode white space at both ends, lower-case, drop every '^', strip every leading degree
// sign. There is no second trim, so "° C" keeps the blank in front of the "c" and is refused.
//
// All forms in the table are short ASCII, so the normalised text is written into a small stack
// buffer and the text is turned away as soon as that buffer would overflow or a non-ASCII byte
// would be kept. Input that is not valid UTF-8 is read byte by byte within its bounds and never
// matches: any stray byte survives normalisation and is not ASCII.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "qorv_chemical_engineering_edge/unit_consistency.hpp"
#include "units/unit_v1_vocabulary.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency {
namespace {

using Byte = unsigned char;

// Byte length of the White_Space character encoded at `s`, or 0 if none starts there. Reads at
// most `avail` bytes.
//   1 byte:  U+0009..U+000D, U+0020
//   2 bytes: U+0085 (C2 85), U+00A0 (C2 A0)
//   3 bytes: U+1680 (E1 9A 80), U+2000..U+200A (E2 80 80..8A), U+2028, U+2029 (E2 80 A8, A9),
//            U+202F (E2 80 AF), U+205F (E2 81 9F), U+3000 (E3 80 80)
constexpr std::size_t space_length(const Byte* s, std::size_t avail) noexcept {
    if (avail == 0) return 0;
    const Byte b0 = s[0];
    if (b0 == 0x20 || (b0 >= 0x09 && b0 <= 0x0D)) return 1;
    if (b0 == 0xC2) {
        return avail >= 2 && (s[1] == 0x85 || s[1] == 0xA0) ? 2 : 0;
    }
    if (avail < 3) return 0;
    const Byte b1 = s[1];
    const Byte b2 = s[2];
    switch (b0) {
        case 0xE1:
            return b1 == 0x9A && b2 == 0x80 ? 3 : 0;
        case 0xE2:
            if (b1 == 0x80) {
                const bool spaces = b2 >= 0x80 && b2 <= 0x8A;
                const bool separators = b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF;
                return spaces || separators ? 3 : 0;
            }
            return b1 == 0x81 && b2 == 0x9F ? 3 : 0;
        case 0xE3:
            return b1 == 0x80 && b2 == 0x80 ? 3 : 0;
        default:
            return 0;
    }
}

// Byte length of the White_Space character that ends the `size` bytes at `s`, or 0.
constexpr std::size_t trailing_space_length(const Byte* s, std::size_t size) noexcept {
    for (std::size_t k = 1; k <= 3 && k <= size; ++k) {
        if (space_length(s + size - k, k) == k) return k;
    }
    return 0;
}

constexpr Byte kCaret = 0x5E;
constexpr Byte kDegreeLead = 0xC2, kDegreeTrail = 0xB0;               // U+00B0
constexpr Byte kKelvinLead = 0xE2, kKelvin1 = 0x84, kKelvin2 = 0xAA;  // U+212A

}  // namespace

std::optional<ParsedUnit> parse_unit(std::string_view text) noexcept {
    const auto* s = reinterpret_cast<const Byte*>(text.data());
    std::size_t begin = 0;
    std::size_t end = text.size();

    while (begin < end) {
        const std::size_t n = space_length(s + begin, end - begin);
        if (n == 0) break;
        begin += n;
    }
    while (end > begin) {
        const std::size_t n = trailing_space_length(s + begin, end - begin);
        if (n == 0) break;
        end -= n;
    }

    char buf[unit_vocabulary::kLongestForm];
    std::size_t len = 0;
    for (std::size_t i = begin; i < end; ++i) {
        Byte c = s[i];
        if (c == kCaret) continue;
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<Byte>(c - 'A' + 'a');
        } else if (c == kKelvinLead && end - i >= 3 && s[i + 1] == kKelvin1 &&
                   s[i + 2] == kKelvin2) {
            c = 'k';
            i += 2;
        } else if (c == kDegreeLead && len == 0 && end - i >= 2 && s[i + 1] == kDegreeTrail) {
            // Nothing kept yet, so this degree sign leads the text once the carets are gone.
            ++i;
            continue;
        } else if (c > 0x7F) {
            return std::nullopt;
        }
        if (len == unit_vocabulary::kLongestForm) return std::nullopt;
        buf[len++] = static_cast<char>(c);
    }

    const unit_vocabulary::UnitEntry* entry = unit_vocabulary::find(std::string_view(buf, len));
    if (entry == nullptr) return std::nullopt;
    return entry->unit;
}

}  // namespace qorv_chemical_engineering_edge::unit_consistency
