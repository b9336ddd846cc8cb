// Number rendering for court messages.
//
// Fixed-point with exactly `decimals` digits after the point (none and no point for 0),
// correctly rounded from the exact binary value with ties to even. Never exponent notation:
// 1e300 is written out in full. NaN is "NaN" and the infinities "inf" and "-inf" whatever the
// decimals; negative values, negative zero included, carry a leading "-".
#pragma once

#include <cstddef>
#include <string>

namespace qorv_chemical_engineering_edge::text {

// Largest supported `decimals`; more is clamped to it.
inline constexpr int kMaxDecimals = 17;

// Room `write_fixed` may need: the 309 integer digits of the largest double, a sign, a point and
// the most decimals.
inline constexpr std::size_t kMaxFixedChars = 1 + 309 + 1 + kMaxDecimals;

// Writes the text at `out`, which has room for kMaxFixedChars; returns the end.
char* write_fixed(char* out, double value, int decimals);
void append_fixed(std::string& out, double value, int decimals);
std::string format_fixed(double value, int decimals);

}  // namespace qorv_chemical_engineering_edge::text
