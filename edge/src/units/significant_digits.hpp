// Numbers in court messages by significant digits, always in plain notation.
#pragma once

#include <string>

namespace qorv_chemical_engineering_edge::text {

// Appends `value` rounded to `digits` significant digits (1..17, ties to even, from the exact
// binary value) in plain notation: never an exponent, trailing fraction zeros dropped.
// 1/3600 to 10 digits is "0.0002777777778", 3.6e6 is "3600000", 1e-12 is "0.000000000001".
// NaN is "NaN", the infinities "inf" and "-inf"; negative zero is "0".
void append_significant(std::string& out, double value, int digits);

}  // namespace qorv_chemical_engineering_edge::text
