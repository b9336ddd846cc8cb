// Rewriting a unit text as ASCII before the grammar reads it.
//
// UTF-8 is decoded strictly (no overlong forms, no surrogates, nothing above U+10FFFF), so
// stray bytes are reported where they stand instead of being misread. Only the characters
// that plant exports really use in units are mapped; any other character makes the text
// unknown, with its code point in the reason.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "units/unit_v2_parsing.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency_v2::detail {
namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes the code point at `s[i]`, advancing `i`; kInvalid on malformed input.
char32_t decode(std::string_view s, std::size_t& i) noexcept {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    std::size_t extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        return kInvalid;
    }
    if (s.size() - i <= extra) return kInvalid;
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return kInvalid;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kInvalid;
    i += extra + 1;
    return cp;
}

bool is_white_space(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// The ASCII a non-ASCII character stands for in a unit; empty when it stands for nothing.
std::string_view ascii_for(char32_t c) noexcept {
    switch (c) {
        case 0xB5:   // MICRO SIGN
        case 0x3BC:  // GREEK SMALL LETTER MU
            return "u";
        case 0xB0:   // DEGREE SIGN
        case 0xBA:   // MASCULINE ORDINAL INDICATOR, typed for a degree sign
        case 0x2DA:  // RING ABOVE
            return "deg";
        case 0x2103:
            return "degC";
        case 0x2109:
            return "degF";
        case 0x212A:
            return "K";
        case 0x3A9:
        case 0x2126:
            return "ohm";
        case 0xB7:
        case 0xD7:
        case 0x2022:
        case 0x2219:
        case 0x22C5:
            return "*";
        case 0x2044:
        case 0x2215:
            return "/";
        case 0x2212:
        case 0x207B:
            return "-";
        case 0xB9:
            return "1";
        case 0xB2:
            return "2";
        case 0xB3:
            return "3";
        default:
            break;
    }
    static constexpr std::string_view kDigits[] = {"0", "1", "2", "3", "4",
                                                   "5", "6", "7", "8", "9"};
    if (c == 0x2070 || (c >= 0x2074 && c <= 0x2079)) return kDigits[c - 0x2070];
    if (c >= 0x2080 && c <= 0x2089) return kDigits[c - 0x2080];
    return {};
}

bool is_operator(char c) noexcept {
    return c == '/' || c == '*' || c == '^' || c == '(' || c == ')' || c == '.';
}

void append_hex(std::string& out, std::uint32_t value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        out.push_back("0123456789ABCDEF"[(value >> shift) & 0xF]);
    }
}

bool refuse(std::string* why, std::string_view what, std::size_t at, char32_t c) {
    if (why == nullptr) return false;
    why->assign(what);
    if (c != kInvalid) {
        why->append(" U+");
        append_hex(*why, c, c > 0xFFFF ? 6 : 4);
    }
    why->append(" at byte ");
    why->append(std::to_string(at));
    return false;
}

}  // namespace

bool is_blank(std::string_view text) noexcept {
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = decode(text, i);
        if (c == kInvalid || !is_white_space(c)) return false;
    }
    return true;
}

bool normalise(std::string_view text, NormalisedText& out, std::string* why) {
    out.size = 0;
    // Most units are short printable ASCII without blanks: copied as they are.
    if (text.size() <= kMaxUnitBytes &&
        std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; })) {
        std::copy(text.begin(), text.end(), out.bytes.begin());
        out.size = text.size();
        return true;
    }
    // Trim leading and trailing white space by decoding; only inner text is bounded.
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t next = begin;
        const char32_t c = decode(text, next);
        if (c == kInvalid || !is_white_space(c)) break;
        begin = next;
    }
    std::size_t end = begin;
    for (std::size_t i = begin; i < text.size();) {
        const std::size_t at = i;
        const char32_t c = decode(text, i);
        if (c == kInvalid) return refuse(why, "invalid UTF-8", at, kInvalid);
        if (!is_white_space(c)) end = i;
        if (end - begin > kMaxUnitBytes) {
            if (why != nullptr) {
                *why = "longer than " + std::to_string(kMaxUnitBytes) + " bytes";
            }
            return false;
        }
    }

    bool pending_space = false;
    for (std::size_t i = begin; i < end;) {
        const std::size_t at = i;
        const char32_t c = decode(text, i);
        if (is_white_space(c)) {
            pending_space = out.size > 0;
            continue;
        }
        std::string_view piece;
        char ascii = 0;
        if (c >= 0x21 && c < 0x7F) {
            ascii = static_cast<char>(c);
            piece = std::string_view(&ascii, 1);
        } else {
            piece = ascii_for(c);
            if (piece.empty()) return refuse(why, "no unit uses the character", at, c);
        }
        // A blank survives only between two words: none next to an operator. A degree sign
        // right after a word starts a new one: "kJ/kg°C" is kJ/(kg*degC).
        const bool degree = piece.size() >= 3 && piece.substr(0, 3) == "deg" && c > 0x7F;
        if (out.size > 0 && !is_operator(piece[0]) && !is_operator(out.bytes[out.size - 1]) &&
            (pending_space || (degree && out.bytes[out.size - 1] != ' '))) {
            out.bytes[out.size++] = ' ';
        }
        pending_space = false;
        for (char b : piece) out.bytes[out.size++] = b;
    }
    return true;
}

}  // namespace qorv_chemical_engineering_edge::unit_consistency_v2::detail
