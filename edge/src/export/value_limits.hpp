// Values a tag's unit rules out: below absolute zero, a negative absolute pressure, a gauge
// pressure below a full vacuum, a fraction outside its whole, a negative concentration or
// rotational speed; and values it makes suspicious: a negative flow. Read from the second unit
// court's parse of the unit, once per tag; the scan compares each value with the bounds.
#pragma once

#include <limits>
#include <string_view>

namespace qorv_chemical_engineering_edge::export_profile {

// What a tag's unit says its values can never be (impossible) or should rarely be (suspicious).
// Bounds are in the unit itself; infinities where the unit sets none.
struct ValueLimits {
    std::string_view kind;  // empty: the unit sets no limit; else a name from a fixed table,
                            // e.g. "absolute temperature", "absolute pressure", "gauge pressure",
                            // "fraction", "ppm", "rotational speed", "flow"
    double impossible_below = -std::numeric_limits<double>::infinity();  // v < this: impossible
    double impossible_above = std::numeric_limits<double>::infinity();   // v > this: impossible
    double suspicious_below = -std::numeric_limits<double>::infinity();  // v < this: suspicious
    std::string_view impossible_why;  // e.g. "below absolute zero", "negative absolute pressure"
    std::string_view suspicious_why;  // e.g. "reverse or zero-offset flow"
    bool any() const noexcept { return !kind.empty(); }
};

// The limits of a unit as the second unit court reads it (its parser, dimensions and
// vocabulary in edge/src/units/unit_v2_*); none for an empty or unrecognised unit.
ValueLimits value_limits(std::string_view unit);

}  // namespace qorv_chemical_engineering_edge::export_profile
