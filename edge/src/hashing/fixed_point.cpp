#include "qorv_chemical_engineering_edge/fixed_point.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>

namespace qorv_chemical_engineering_edge::text {

namespace {

constexpr int kFastDecimals = 6;
constexpr std::uint64_t kPow10[kFastDecimals + 1] = {1, 10, 100, 1000, 10000, 100000, 1000000};

__extension__ typedef unsigned __int128 u128;  // GCC and Clang on 64-bit targets

// Writes the decimal digits of n ending at `end`; returns the first digit.
char* write_digits(char* end, u128 n) {
    while (n > static_cast<u128>(UINT64_MAX)) {  // rare: only values far above any message's range
        *--end = static_cast<char>('0' + static_cast<unsigned>(n % 10));
        n /= 10;
    }
    auto low = static_cast<std::uint64_t>(n);
    do {
        *--end = static_cast<char>('0' + low % 10);
        low /= 10;
    } while (low != 0);
    return end;
}

// Exact rounding without a general formatter, for the decimals court messages use. A finite
// double is m * 2^e with m < 2^53, so value * 10^decimals = m * 10^decimals * 2^e, and
// m * 10^decimals < 2^73 fits in 128 bits. Its integer part and the remainder decide the
// rounding (ties to even). Null when the value is too large for 128 bits.
char* write_fixed_small(char* out, double value, int decimals) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const int biased_exponent = static_cast<int>((bits >> 52) & 0x7ff);
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    int shift = 1 - 1075;  // subnormal: m * 2^-1074
    if (biased_exponent != 0) {
        m |= std::uint64_t{1} << 52;
        shift = biased_exponent - 1075;
    }
    const u128 scaled = static_cast<u128>(m) * kPow10[decimals];

    u128 units;  // |value| * 10^decimals, rounded to an integer
    if (shift >= 0) {
        if (shift > 127 - 74) return nullptr;
        units = scaled << shift;
    } else if (shift <= -128) {
        units = 0;  // below 2^-55: far from any rounding boundary
    } else {
        const int right = -shift;
        units = scaled >> right;
        const u128 remainder = scaled - (units << right);
        const u128 half = static_cast<u128>(1) << (right - 1);
        if (remainder > half || (remainder == half && (units & 1) != 0)) ++units;
    }

    char buffer[48];
    char* const end = buffer + sizeof buffer;
    char* first = write_digits(end, units);
    // At least one integer digit before the point.
    while (end - first < decimals + 1) *--first = '0';
    if ((bits >> 63) != 0) *out++ = '-';
    char* const point = end - decimals;
    out = std::copy(static_cast<const char*>(first), static_cast<const char*>(point), out);
    if (decimals > 0) {
        *out++ = '.';
        out = std::copy(static_cast<const char*>(point), static_cast<const char*>(end), out);
    }
    return out;
}

}  // namespace

char* write_fixed(char* out, double value, int decimals) {
    if (std::isnan(value)) return std::copy_n("NaN", 3, out);
    if (std::isinf(value))
        return value < 0 ? std::copy_n("-inf", 4, out) : std::copy_n("inf", 3, out);
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    if (decimals <= kFastDecimals) {
        if (char* end = write_fixed_small(out, value, decimals)) return end;
    }
    // to_chars with a precision is exact and rounds ties to even, like a correctly rounded
    // printf in the "C" locale; it writes "-" for negative zero too.
    return std::to_chars(out, out + kMaxFixedChars, value, std::chars_format::fixed, decimals).ptr;
}

void append_fixed(std::string& out, double value, int decimals) {
    char buffer[kMaxFixedChars];
    out.append(buffer, write_fixed(buffer, value, decimals));
}

std::string format_fixed(double value, int decimals) {
    std::string out;
    append_fixed(out, value, decimals);
    return out;
}

}  // namespace qorv_chemical_engineering_edge::text
