#include "qorv_chemical_engineering_edge/fixed_point.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace qorv_chemical_engineering_edge::text {

// The largest finite double has 309 integer digits; with a sign, a point and the most
// decimals that is well inside this buffer.
static constexpr std::size_t kBufferSize = 1 + 309 + 1 + kMaxDecimals + 8;

void append_fixed(std::string& out, double value, int decimals) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return;
    }
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    char buffer[kBufferSize];
    // to_chars with a precision is exact and rounds ties to even, like a correctly rounded
    // printf in the "C" locale; it writes "-" for negative zero too.
    const auto result =
        std::to_chars(buffer, buffer + kBufferSize, value, std::chars_format::fixed, decimals);
    out.append(buffer, result.ptr);
}

std::string format_fixed(double value, int decimals) {
    std::string out;
    append_fixed(out, value, decimals);
    return out;
}

}  // namespace qorv_chemical_engineering_edge::text
