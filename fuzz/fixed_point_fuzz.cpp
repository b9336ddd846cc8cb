// The fixed-point formatter against the C library's printf("%.*f"), which glibc rounds exactly
// from the binary value with ties to even. Input: eight bytes of a double's bits and a byte of
// decimals (the formatter clamps decimals to 0..17).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qorv_chemical_engineering_edge/fixed_point.hpp"
#include "reference.hpp"

namespace text = qorv_chemical_engineering_edge::text;
using qorv_fuzz::check;

namespace {

std::string reference(double value, int decimals) {
    if (std::isnan(value)) return "NaN";  // printf says "nan" or "-nan"
    decimals = std::clamp(decimals, 0, text::kMaxDecimals);
    std::vector<char> buffer(400);
    const int n = std::snprintf(buffer.data(), buffer.size(), "%.*f", decimals, value);
    check(n > 0 && static_cast<std::size_t>(n) < buffer.size(), "printf fits");
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) return 0;
    std::uint64_t bits;
    std::memcpy(&bits, data, 8);
    double value;
    std::memcpy(&value, &bits, 8);
    const int decimals = static_cast<std::int8_t>(data[8]) % 24;  // some below 0, some above 17

    const std::string expected = reference(value, decimals);
    char buffer[text::kMaxFixedChars];
    const char* end = text::write_fixed(buffer, value, decimals);
    check(end >= buffer && end <= buffer + sizeof buffer, "stays within kMaxFixedChars");
    check(std::string(static_cast<const char*>(buffer), end) == expected, "write_fixed");
    check(text::format_fixed(value, decimals) == expected, "format_fixed");
    std::string appended = "x";
    text::append_fixed(appended, value, decimals);
    check(appended == "x" + expected, "append_fixed");
    return 0;
}
