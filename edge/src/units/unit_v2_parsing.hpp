// Internal steps of the second court's parser, shared by `parse_unit`, `classify` and the court.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency_v2::detail {

// A mapped character at most doubles in bytes ("°" after a word becomes " deg"), so twice the
// longest accepted text always fits.
inline constexpr std::size_t kNormalisedCap = 2 * kMaxUnitBytes;

// Only the first `size` bytes are ever written or read; the rest stays uninitialised, as
// clearing it showed as the largest single cost of a parse in a profile.
// The most bytes one unit takes in a canonical spelling, power and separator included
// ("kgf/cm2(g)^-99*"); kMaxAtoms of them and a "/()" stay within kMaxUnitBytes, so every
// canonical spelling reads back. The vocabulary tests hold each unit to it.
inline constexpr std::size_t kMaxCanonicalAtom = 15;
inline constexpr std::size_t kMaxAtoms = 16;
static_assert(kMaxAtoms * kMaxCanonicalAtom + 3 <= kMaxUnitBytes);

struct NormalisedText {
    std::array<char, kNormalisedCap> bytes;
    std::size_t size = 0;
    std::string_view view() const noexcept { return {bytes.data(), size}; }
};

// True when the text is empty or only Unicode white space.
bool is_blank(std::string_view text) noexcept;

// Trims white space and rewrites the text in ASCII: micro signs as "u", degree signs as "deg",
// superscript and subscript digits as digits, middle dots and multiplication signs as '*',
// ohm signs as "ohm"; inner white space is one blank, dropped next to operators. False (and
// `why` set, when given) for invalid UTF-8, a character no unit uses, or an overlong text.
bool normalise(std::string_view text, NormalisedText& out, std::string* why);

// Parses a text into `out`. On failure returns false and, when `why` is given, says why. The
// canonical spelling is written only when asked for, as the court does not need it.
bool parse(std::string_view text, UnitV2& out, std::string* why, bool canonical);

// The vocabulary rows a text is written in, each with its prefix and power, in the order
// written: for rules that need more than the dimension and scale, which a revolution per second
// and a hertz share. Parses exactly as `parse` does; "-" has no atoms.
struct WrittenAtom {
    std::uint16_t unit = 0;
    std::uint8_t prefix = 0xFF;  // vocabulary::kNoPrefix
    int exponent = 0;
};
struct WrittenAtoms {
    std::array<WrittenAtom, kMaxAtoms> atoms{};
    std::size_t count = 0;
};
bool parse_atoms(std::string_view text, UnitV2& out, WrittenAtoms& written);

}  // namespace qorv_chemical_engineering_edge::unit_consistency_v2::detail
