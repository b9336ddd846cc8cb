// The rules, by what the court reads a unit as:
//   absolute temperature  one degree scale or kelvin standing alone (K, degC, degF, degR): below
//                         absolute zero is impossible (0, -273.15, -459.67, 0). A temperature
//                         written inside a compound ("degC*m/m") is an interval to the court and
//                         sets none; the court reads no "delta degC".
//   gauge pressure        a pressure marked gauge (barg, psig, kPa(g), "bar g"): below minus one
//                         standard atmosphere (101325 Pa through the unit's own factor) is
//                         impossible, a vacuum beyond a full one.
//   absolute pressure     a pressure marked absolute (bara, psia, kPa(a)): below 0 is impossible.
//   pressure              a pressure marked neither way (Pa, kPa, bar, psi, mmHg, inH2O): plants
//                         write gauge readings, drafts and differentials in these, so only what
//                         is impossible either way, below minus one standard atmosphere, is
//                         impossible; below 0 is suspicious.
//   ppm                   a fraction written in ppm or ppb: below 0 is impossible; no upper bound.
//   fraction              any other fraction whose basis the unit states (wt%, mol%, vol%, % v/v,
//                         kg/kg, mol/mol): below 0 or above the whole (100 %, 1 kg/kg) is
//                         impossible. A bare % sets none: it is as often a controller output, a
//                         valve position or a level in % of span, which run past 0 and 100 by
//                         design. Plain numbers ("-", "ratio") and pH set none.
//   rotational speed      a per-time unit written in revolutions (rpm, rev/s, rev/min): below 0
//                         is impossible. Hertz sets none: the court reads it as a frequency of
//                         its own row, with the per-second rates and spectra it shares a
//                         dimension with, not as a revolution.
//   flow                  mass, volume or amount per time (kg/h, Nm3/h, gpm, kmol/h): below 0 is
//                         suspicious, a reverse flow or a meter's zero offset, never impossible.
#include "export/value_limits.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <limits>
#include <span>
#include <string_view>

#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"
#include "units/unit_v2_parsing.hpp"
#include "units/unit_v2_vocabulary.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

namespace v2 = unit_consistency_v2;
using v2::DimensionV2;

constexpr DimensionV2 kTemperature{0, 0, 0, 1, 0, 0};
constexpr DimensionV2 kPressure{1, -1, -2, 0, 0, 0};
constexpr DimensionV2 kPerTime{0, 0, -1, 0, 0, 0};
constexpr DimensionV2 kMassFlow{1, 0, -1, 0, 0, 0};
constexpr DimensionV2 kVolumeFlow{0, 3, -1, 0, 0, 0};
constexpr DimensionV2 kAmountFlow{0, 0, -1, 0, 1, 0};

// A bound carried into a unit by the court's factors can miss its decimal by a rounding:
// absolute zero in degF comes out as -459.66999999999996, which would call a reading of
// exactly -459.67 impossible. The shortest decimal within four units in the last place is the
// bound meant; a bound with no short decimal near it stays as computed.
double decimal_bound(double x) {
    if (x == 0.0) return 0.0;  // never -0.0
    const double tolerance =
        4.0 *
        (std::nextafter(std::fabs(x), std::numeric_limits<double>::infinity()) - std::fabs(x));
    for (int digits = 1; digits <= 17; ++digits) {
        char buffer[40];
        const auto written = std::to_chars(buffer, buffer + sizeof buffer, x,
                                           std::chars_format::scientific, digits - 1);
        double y = x;
        std::from_chars(buffer, written.ptr, y);
        if (std::fabs(y - x) <= tolerance) return y;
    }
    return x;
}

bool written_in(const v2::detail::WrittenAtoms& written,
                std::initializer_list<std::string_view> canonical) {
    const auto rows = v2::vocabulary::units();
    for (std::size_t k = 0; k < written.count; ++k) {
        const std::string_view row = rows[written.atoms[k].unit].canonical;
        for (std::string_view name : canonical) {
            if (row == name) return true;
        }
    }
    return false;
}

ValueLimits impossible_below(std::string_view kind, double bound, std::string_view why) {
    ValueLimits limits;
    limits.kind = kind;
    limits.impossible_below = bound;
    limits.impossible_why = why;
    return limits;
}

}  // namespace

ValueLimits value_limits(std::string_view unit) {
    v2::UnitV2 u;
    v2::detail::WrittenAtoms written;
    if (!v2::detail::parse_atoms(unit, u, written)) return {};

    if (u.dim == kTemperature) {
        const auto& only = written.atoms[0];
        const bool alone =
            written.count == 1 && only.exponent == 1 && only.prefix == v2::vocabulary::kNoPrefix;
        if (!alone) return {};
        return impossible_below("absolute temperature", decimal_bound((0.0 - u.offset) / u.scale),
                                "below absolute zero");
    }
    if (u.dim == kPressure) {
        if (u.pressure == v2::PressureReference::Gauge) {
            return impossible_below("gauge pressure",
                                    decimal_bound(-v2::kStandardAtmospherePa / u.scale),
                                    "gauge pressure below minus one standard atmosphere");
        }
        if (u.pressure == v2::PressureReference::Absolute)
            return impossible_below("absolute pressure", 0.0, "negative absolute pressure");
        ValueLimits limits =
            impossible_below("pressure", decimal_bound(-v2::kStandardAtmospherePa / u.scale),
                             "pressure below minus one standard atmosphere");
        limits.suspicious_below = 0.0;
        limits.suspicious_why = "negative pressure: a gauge reading, or a misread absolute one";
        return limits;
    }
    if (u.dim == DimensionV2{} && u.basis != v2::FractionBasis::None && !u.logarithmic) {
        if (written_in(written, {"ppm", "ppb"})) {
            return impossible_below("ppm", 0.0, "negative concentration");
        }
        if (u.basis == v2::FractionBasis::Unstated) return {};
        ValueLimits limits = impossible_below("fraction", 0.0, "fraction below 0 or above 100%");
        limits.impossible_above = decimal_bound(1.0 / u.scale);
        return limits;
    }
    if (u.dim == kPerTime && written_in(written, {"rpm", "rev"})) {
        return impossible_below("rotational speed", 0.0, "negative rotational speed");
    }
    if (u.dim == kMassFlow || u.dim == kVolumeFlow || u.dim == kAmountFlow) {
        ValueLimits limits;
        limits.kind = "flow";
        limits.suspicious_below = 0.0;
        limits.suspicious_why = "reverse or zero-offset flow";
        return limits;
    }
    return {};
}

}  // namespace qorv_chemical_engineering_edge::export_profile
