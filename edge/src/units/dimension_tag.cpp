// The text form of a dimension, e.g. "ML^-1T^-2" for pressure.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "qorv_chemical_engineering_edge/unit_consistency.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency {
namespace {

// An exponent in plain decimal, "-" for negatives, no plus sign (-128..127).
void append_exponent(std::string& out, std::int8_t exponent) {
    int value = exponent;
    if (value < 0) {
        out.push_back('-');
        value = -value;
    }
    char digits[3];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) out.push_back(digits[--n]);
}

}  // namespace

std::string Dimension::tag() const {
    // Rendered in field order; temperature is GREEK CAPITAL LETTER THETA (CE 98).
    const std::array<std::pair<std::string_view, std::int8_t>, 5> pieces{{
        {"M", mass},
        {"L", length},
        {"T", time},
        {"\xCE\x98", temperature},
        {"N", amount},
    }};
    std::string out;  // table tags fit the small-string buffer; no reserve needed
    for (const auto& [symbol, exponent] : pieces) {
        if (exponent == 0) continue;
        out.append(symbol);
        if (exponent == 1) continue;
        out.push_back('^');
        append_exponent(out, exponent);
    }
    if (out.empty()) out.push_back('1');
    return out;
}

}  // namespace qorv_chemical_engineering_edge::unit_consistency
