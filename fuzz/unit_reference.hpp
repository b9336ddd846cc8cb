// The unit table and its normalisation written out again for the fuzz targets, from the stated
// rules rather than from the library's code: code points instead of bytes, a flat list of forms,
// and the classification rules in their stated order.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qorv_fuzz {

struct UnitMeaning {
    int m, l, t, theta, n;  // exponents of mass, length, time, temperature, amount
    double scale;
    double offset;
    const char* basis;  // "pure", "mass_fraction", "mole_fraction"
};

struct UnitForm {
    const char* form;
    UnitMeaning meaning;
};

// clang-format off
inline const UnitForm kUnitForms[] = {
    {"k", {0, 0, 0, 1, 0, 1, 0, "pure"}}, {"kelvin", {0, 0, 0, 1, 0, 1, 0, "pure"}},
    {"c", {0, 0, 0, 1, 0, 1, 273.15, "pure"}}, {"degc", {0, 0, 0, 1, 0, 1, 273.15, "pure"}},
    {"celsius", {0, 0, 0, 1, 0, 1, 273.15, "pure"}},
    {"f", {0, 0, 0, 1, 0, 0.5555555555555556, 255.3722222222222, "pure"}},
    {"degf", {0, 0, 0, 1, 0, 0.5555555555555556, 255.3722222222222, "pure"}},
    {"fahrenheit", {0, 0, 0, 1, 0, 0.5555555555555556, 255.3722222222222, "pure"}},
    {"pa", {1, -1, -2, 0, 0, 1, 0, "pure"}}, {"kpa", {1, -1, -2, 0, 0, 1000, 0, "pure"}},
    {"bar", {1, -1, -2, 0, 0, 100000, 0, "pure"}}, {"mbar", {1, -1, -2, 0, 0, 100, 0, "pure"}},
    {"psi", {1, -1, -2, 0, 0, 6894.757, 0, "pure"}}, {"psig", {1, -1, -2, 0, 0, 6894.757, 0, "pure"}},
    {"atm", {1, -1, -2, 0, 0, 101325, 0, "pure"}},
    {"kg/s", {1, 0, -1, 0, 0, 1, 0, "pure"}},
    {"kg/h", {1, 0, -1, 0, 0, 0.0002777777777777778, 0, "pure"}},
    {"kg/hr", {1, 0, -1, 0, 0, 0.0002777777777777778, 0, "pure"}},
    {"g/s", {1, 0, -1, 0, 0, 0.001, 0, "pure"}},
    {"t/h", {1, 0, -1, 0, 0, 0.2777777777777778, 0, "pure"}},
    {"tonne/h", {1, 0, -1, 0, 0, 0.2777777777777778, 0, "pure"}},
    {"kg/min", {1, 0, -1, 0, 0, 0.016666666666666666, 0, "pure"}},
    {"mol/s", {0, 0, -1, 0, 1, 1, 0, "pure"}},
    {"mol/h", {0, 0, -1, 0, 1, 0.0002777777777777778, 0, "pure"}},
    {"kmol/h", {0, 0, -1, 0, 1, 0.2777777777777778, 0, "pure"}},
    {"mol/min", {0, 0, -1, 0, 1, 0.016666666666666666, 0, "pure"}},
    {"m3/s", {0, 3, -1, 0, 0, 1, 0, "pure"}},
    {"m3/h", {0, 3, -1, 0, 0, 0.0002777777777777778, 0, "pure"}},
    {"l/s", {0, 3, -1, 0, 0, 0.001, 0, "pure"}},
    {"l/min", {0, 3, -1, 0, 0, 1.6666666666666667e-05, 0, "pure"}},
    {"lpm", {0, 3, -1, 0, 0, 1.6666666666666667e-05, 0, "pure"}},
    {"l/h", {0, 3, -1, 0, 0, 2.7777777777777776e-07, 0, "pure"}},
    {"lph", {0, 3, -1, 0, 0, 2.7777777777777776e-07, 0, "pure"}},
    {"gpm", {0, 3, -1, 0, 0, 6.30902e-05, 0, "pure"}},
    {"hz", {0, 0, -1, 0, 0, 1, 0, "pure"}}, {"1/s", {0, 0, -1, 0, 0, 1, 0, "pure"}},
    {"s-1", {0, 0, -1, 0, 0, 1, 0, "pure"}},
    {"1/min", {0, 0, -1, 0, 0, 0.016666666666666666, 0, "pure"}},
    {"1/h", {0, 0, -1, 0, 0, 0.0002777777777777778, 0, "pure"}},
    {"w", {1, 2, -3, 0, 0, 1, 0, "pure"}}, {"j/s", {1, 2, -3, 0, 0, 1, 0, "pure"}},
    {"kw", {1, 2, -3, 0, 0, 1000, 0, "pure"}},
    {"kj/min", {1, 2, -3, 0, 0, 16.666666666666668, 0, "pure"}},
    {"j/min", {1, 2, -3, 0, 0, 0.016666666666666666, 0, "pure"}},
    {"kg", {1, 0, 0, 0, 0, 1, 0, "pure"}}, {"g", {1, 0, 0, 0, 0, 0.001, 0, "pure"}},
    {"m", {0, 1, 0, 0, 0, 1, 0, "pure"}}, {"cm", {0, 1, 0, 0, 0, 0.01, 0, "pure"}},
    {"mm", {0, 1, 0, 0, 0, 0.001, 0, "pure"}},
    {"m3", {0, 3, 0, 0, 0, 1, 0, "pure"}}, {"l", {0, 3, 0, 0, 0, 0.001, 0, "pure"}},
    {"liter", {0, 3, 0, 0, 0, 0.001, 0, "pure"}}, {"litre", {0, 3, 0, 0, 0, 0.001, 0, "pure"}},
    {"", {0, 0, 0, 0, 0, 1, 0, "pure"}}, {"-", {0, 0, 0, 0, 0, 1, 0, "pure"}},
    {"ratio", {0, 0, 0, 0, 0, 1, 0, "pure"}}, {"dimensionless", {0, 0, 0, 0, 0, 1, 0, "pure"}},
    {"%", {0, 0, 0, 0, 0, 0.01, 0, "pure"}},
    {"wt%", {0, 0, 0, 0, 0, 0.01, 0, "mass_fraction"}},
    {"wt_pct", {0, 0, 0, 0, 0, 0.01, 0, "mass_fraction"}},
    {"mass%", {0, 0, 0, 0, 0, 0.01, 0, "mass_fraction"}},
    {"kg/kg", {0, 0, 0, 0, 0, 1, 0, "mass_fraction"}},
    {"mass_frac", {0, 0, 0, 0, 0, 1, 0, "mass_fraction"}},
    {"massfraction", {0, 0, 0, 0, 0, 1, 0, "mass_fraction"}},
    {"mol%", {0, 0, 0, 0, 0, 0.01, 0, "mole_fraction"}},
    {"mole%", {0, 0, 0, 0, 0, 0.01, 0, "mole_fraction"}},
    {"mol/mol", {0, 0, 0, 0, 0, 1, 0, "mole_fraction"}},
    {"mole_frac", {0, 0, 0, 0, 0, 1, 0, "mole_fraction"}},
    {"molefraction", {0, 0, 0, 0, 0, 1, 0, "mole_fraction"}},
};
// clang-format on

// Code points of valid UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
inline std::optional<std::vector<char32_t>> decode_utf8(std::string_view text) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        std::size_t n;
        char32_t c;
        if (b0 < 0x80) {
            n = 1, c = b0;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            n = 2, c = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            n = 3, c = b0 & 0x0F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            n = 4, c = b0 & 0x07;
        } else {
            return std::nullopt;
        }
        if (i + n > text.size()) return std::nullopt;
        for (std::size_t k = 1; k < n; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80) return std::nullopt;
            c = c << 6 | (b & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        out.push_back(c);
        i += n;
    }
    return out;
}

inline bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Trim, lower-case, drop carets, strip leading degree signs; then the table. Not valid UTF-8, or
// anything left that is not ASCII, is no unit (every form is ASCII).
inline std::optional<UnitMeaning> meaning_of(std::string_view text) {
    auto decoded = decode_utf8(text);
    if (!decoded) return std::nullopt;
    std::vector<char32_t> c = *decoded;
    while (!c.empty() && is_white_space(c.front())) c.erase(c.begin());
    while (!c.empty() && is_white_space(c.back())) c.pop_back();
    for (auto& x : c) {
        if (x >= U'A' && x <= U'Z') x = x - U'A' + U'a';
        if (x == 0x212A) x = U'k';
    }
    std::erase(c, U'^');
    while (!c.empty() && c.front() == 0xB0) c.erase(c.begin());
    std::string normalised;
    for (char32_t x : c) {
        if (x > 0x7F) return std::nullopt;
        normalised += static_cast<char>(x);
    }
    for (const auto& entry : kUnitForms) {
        if (normalised == entry.form) return entry.meaning;
    }
    return std::nullopt;
}

// "ML^-1T^-2": each non-zero exponent's symbol, with "^" and the exponent unless it is 1.
inline std::string tag_of(const UnitMeaning& u) {
    const std::pair<const char*, int> parts[] = {
        {"M", u.m}, {"L", u.l}, {"T", u.t}, {"\u0398", u.theta}, {"N", u.n}};
    std::string tag;
    for (const auto& [symbol, exponent] : parts) {
        if (exponent == 0) continue;
        tag += symbol;
        if (exponent != 1) tag += "^" + std::to_string(exponent);
    }
    return tag.empty() ? "1" : tag;
}

inline bool approx_equal(double x, double y) {
    return std::abs(x - y) <= (std::max(std::abs(x), std::abs(y)) + 1.0) * 1e-9;
}

// The hazard text of one pairing, by the rules in their order.
inline const char* hazard_of(std::string_view a_unit, std::string_view b_unit) {
    const auto a = meaning_of(a_unit);
    const auto b = meaning_of(b_unit);
    if (!a || !b) return "unknown_unit";
    if (a->m != b->m || a->l != b->l || a->t != b->t || a->theta != b->theta || a->n != b->n) {
        return "dimension_mismatch";
    }
    if (std::string_view(a->basis) != b->basis) return "basis_mismatch";
    if (!approx_equal(a->scale, b->scale)) return "scale_mismatch";
    if (!approx_equal(a->offset, b->offset)) return "affine_offset_hazard";
    return "consistent";
}

}  // namespace qorv_fuzz
