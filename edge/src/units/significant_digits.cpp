// Rounding is left to std::to_chars in scientific form, which is exact; this file only moves
// the decimal point, so the digits shown are exactly the correctly rounded ones.
#include "units/significant_digits.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>

namespace qorv_chemical_engineering_edge::text {

void append_significant(std::string& out, double value, int digits) {
    if (std::isnan(value)) {
        out.append("NaN");
        return;
    }
    if (std::isinf(value)) {
        out.append(value < 0 ? "-inf" : "inf");
        return;
    }
    if (value == 0.0) {
        out.push_back('0');
        return;
    }
    digits = std::clamp(digits, 1, 17);
    char buffer[40];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific, digits - 1);
    // "d.ddde+XX" or "de+XX": collect the digits and the decimal exponent.
    char mantissa[20];
    int n = 0;
    const char* p = buffer;
    for (; p < result.ptr && *p != 'e'; ++p) {
        if (*p != '.') mantissa[n++] = *p;
    }
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), result.ptr, exponent);
    while (n > 1 && mantissa[n - 1] == '0') --n;  // trailing zeros carry no information

    if (value < 0) out.push_back('-');
    if (exponent < 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out.append(mantissa, static_cast<std::size_t>(n));
    } else if (exponent + 1 >= n) {
        out.append(mantissa, static_cast<std::size_t>(n));
        out.append(static_cast<std::size_t>(exponent + 1 - n), '0');
    } else {
        out.append(mantissa, static_cast<std::size_t>(exponent + 1));
        out.push_back('.');
        out.append(mantissa + exponent + 1, static_cast<std::size_t>(n - exponent - 1));
    }
}

}  // namespace qorv_chemical_engineering_edge::text
