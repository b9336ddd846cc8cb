// Value limits by unit kind: each kind in several spellings, gauge against absolute, units that
// set none, and the bounds a reading at the stated decimal must not cross.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string_view>

#include "export/value_limits.hpp"

namespace {

using qorv_chemical_engineering_edge::export_profile::value_limits;

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Row {
    std::string_view unit;
    std::string_view kind;  // empty: no limit
    double below = -kInf;   // impossible below, written as the decimal a plant would read
    double above = kInf;    // impossible above
    double suspicious = -kInf;
};

// Gauge bounds are one standard atmosphere in the unit, to 11 digits toward zero.
const Row kRows[] = {
    {"K", "absolute temperature", 0.0},
    {"degC", "absolute temperature", -273.15},
    {"°C", "absolute temperature", -273.15},
    {"deg C", "absolute temperature", -273.15},
    {"°F", "absolute temperature", -459.67},
    {"F", "absolute temperature", -459.67},
    {"°R", "absolute temperature", 0.0},
    {"degC*m/m", ""},    // a temperature interval to the court
    {"delta degC", ""},  // not a unit to the court
    {"Pa", "absolute pressure", 0.0},
    {"kPa", "absolute pressure", 0.0},
    {"bar", "absolute pressure", 0.0},
    {"bara", "absolute pressure", 0.0},
    {"bar abs", "absolute pressure", 0.0},
    {"psia", "absolute pressure", 0.0},
    {"mmHg", "absolute pressure", 0.0},
    {"atm", "absolute pressure", 0.0},
    {"barg", "gauge pressure", -1.01325},
    {"bar g", "gauge pressure", -1.01325},
    {"kPa(g)", "gauge pressure", -101.325},
    {"mbarg", "gauge pressure", -1013.25},
    {"psig", "gauge pressure", -14.695948775},
    {"kg/cm2(g)", "gauge pressure", -1.0332274527},
    {"%", "fraction", 0.0, 100.0},
    {"wt%", "fraction", 0.0, 100.0},
    {"mass %", "fraction", 0.0, 100.0},
    {"mol%", "fraction", 0.0, 100.0},
    {"% v/v", "fraction", 0.0, 100.0},
    {"kg/kg", "fraction", 0.0, 1.0},
    {"mol/mol", "fraction", 0.0, 1.0},
    {"g/kg", "fraction", 0.0, 1000.0},
    {"ppm", "ppm", 0.0},
    {"ppmv", "ppm", 0.0},
    {"ppm(w)", "ppm", 0.0},
    {"ppb", "ppm", 0.0},
    {"rpm", "rotational speed", 0.0},
    {"RPM", "rotational speed", 0.0},
    {"rev/s", "rotational speed", 0.0},
    {"Hz", ""},
    {"%/min", ""},
    {"kg/h", "flow", -kInf, kInf, 0.0},
    {"tph", "flow", -kInf, kInf, 0.0},
    {"Nm3/h", "flow", -kInf, kInf, 0.0},
    {"gpm", "flow", -kInf, kInf, 0.0},
    {"MMSCFD", "flow", -kInf, kInf, 0.0},
    {"kmol/h", "flow", -kInf, kInf, 0.0},
    {"kW", ""},
    {"m3", ""},
    {"pH", ""},
    {"-", ""},
    {"", ""},
    {"furlongs", ""},
};

// Equal to 11 significant digits, and a reading written as the table's decimal is not beyond
// the bound: absolute zero read as -459.67 degF is not below absolute zero.
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
        SCOPED_TRACE(row.unit);
        const auto limits = value_limits(row.unit);
        EXPECT_EQ(limits.kind, row.kind);
        EXPECT_EQ(limits.any(), !row.kind.empty());
        expect_bound(limits.impossible_below, row.below, true);
        expect_bound(limits.impossible_above, row.above, false);
        expect_bound(limits.suspicious_below, row.suspicious, true);
        EXPECT_EQ(limits.impossible_why.empty(), std::isinf(row.below) && std::isinf(row.above));
        EXPECT_EQ(limits.suspicious_why.empty(), std::isinf(row.suspicious));
    }
}

}  // namespace
