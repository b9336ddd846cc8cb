// Value limits by unit kind: each kind in several spellings, gauge against absolute, units that
// set none, and bounds that a reading written as the stated decimal must not cross.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <string_view>

#include "export/value_limits.hpp"

namespace {

using qorv_chemical_engineering_edge::export_profile::value_limits;

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Row {
    std::string_view units;  // '|'-separated spellings
    std::string_view kind;   // empty: no limit
    double below = -kInf;    // impossible below, as a plant would write it (gauge: 11 digits)
    double above = kInf;
    double suspicious = -kInf;
};

const Row kRows[] = {
    {"K|°R|rankine", "absolute temperature", 0.0},
    {"degC|°C|deg C|C", "absolute temperature", -273.15},
    {"degF|°F|F", "absolute temperature", -459.67},
    {"bara|bar abs|kPa(a)|psia", "absolute pressure", 0.0},
    {"bar", "pressure", -1.01325, kInf, 0.0},
    {"Pa", "pressure", -101325.0, kInf, 0.0},
    {"psi", "pressure", -14.695948775, kInf, 0.0},
    {"barg|bar g|bar(g)|bar-g", "gauge pressure", -1.01325},
    {"kPa(g)|kPag", "gauge pressure", -101.325},
    {"mbarg", "gauge pressure", -1013.25},
    {"psig", "gauge pressure", -14.695948775},
    {"kg/cm2(g)|kg/cm2g", "gauge pressure", -1.0332274527},
    {"wt%|mass %|%wt|mol%|vol %|% v/v", "fraction", 0.0, 100.0},
    {"kg/kg|mol/mol|w/w", "fraction", 0.0, 1.0},
    {"g/kg", "fraction", 0.0, 1000.0},
    {"ppm|ppmv|ppm(w)|ppb", "ppm", 0.0},
    {"rpm|RPM|rev/s|rev/min", "rotational speed", 0.0},
    {"kg/h|tph|Nm3/h|gpm|MMSCFD|kmol/h", "flow", -kInf, kInf, 0.0},
    // An interval, a unit the court refuses, frequencies and rates, plain numbers, empty.
    {"degC*m/m|delta degC|v/v %|%|Hz|1/s|%/min|kW|m3|pH|-|ratio||furlongs", ""},
};

// Equal to 11 significant digits, and a reading of the stated decimal is not beyond the bound:
// absolute zero written as -459.67 degF is not below absolute zero.
void expect_bound(double actual, double stated, bool lower) {
    if (std::isinf(stated)) {
        EXPECT_EQ(actual, stated);
        return;
    }
    EXPECT_NEAR(actual, stated, 1e-10 * std::fabs(stated));
    EXPECT_FALSE(lower ? stated < actual : stated > actual) << actual;
}

TEST(ValueLimits, KindAndBoundsByUnit) {
    for (const Row& row : kRows) {
        for (std::string_view rest = row.units;;) {
            const std::size_t bar = rest.find('|');
            const std::string_view unit = rest.substr(0, bar);
            SCOPED_TRACE(unit);
            const auto limits = value_limits(unit);
            EXPECT_EQ(limits.kind, row.kind);
            EXPECT_EQ(limits.any(), !row.kind.empty());
            expect_bound(limits.impossible_below, row.below, true);
            expect_bound(limits.impossible_above, row.above, false);
            expect_bound(limits.suspicious_below, row.suspicious, true);
            EXPECT_EQ(limits.impossible_why.empty(), std::isinf(row.below));
            EXPECT_EQ(limits.suspicious_why.empty(), std::isinf(row.suspicious));
            if (bar == std::string_view::npos) break;
            rest.remove_prefix(bar + 1);
        }
    }
}

}  // namespace
