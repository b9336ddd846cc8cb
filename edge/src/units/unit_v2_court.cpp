// The second unit court: classifying pairs, stating each conversion, counting and sealing.
//
// Rules are tried in a fixed order and the first that applies decides: missing, unknown,
// dimension, basis, pressure reference, volume reference state, offset, scale. Every rule is
// symmetric in the two units, and the conversion it reports from a to b is the inverse of the
// one from b to a. The relation never changes the verdict, only the wording.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "qorv_chemical_engineering_edge/hashing.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"
#include "units/significant_digits.hpp"
#include "units/unit_closeness.hpp"
#include "units/unit_v2_parsing.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency_v2 {
namespace {

using unit_consistency::AssertionRelation;
using unit_consistency::UnitAssertion;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kDigits = 10;
constexpr std::string_view kTimes = "\xC3\x97";   // U+00D7 MULTIPLICATION SIGN
constexpr std::string_view kDegree = "\xC2\xB0";  // U+00B0 DEGREE SIGN

bool stated(FractionBasis basis) noexcept {
    return basis == FractionBasis::Mass || basis == FractionBasis::Mole ||
           basis == FractionBasis::Volume;
}

bool referenced(VolumeReference volume) noexcept {
    return volume == VolumeReference::Normal || volume == VolumeReference::Standard;
}

bool same_scale(double x, double y) noexcept {
    return std::fabs(x - y) <= 1e-9 * std::max(std::fabs(x), std::fabs(y));
}

struct Judgement {
    PairVerdict verdict;
    UnitV2 a;
    UnitV2 b;
    bool a_known = false;
    bool b_known = false;
    bool a_blank = false;
    bool b_blank = false;
    std::string a_why;
    std::string b_why;
};

// `why` is filled only when a message will be written.
void judge(std::string_view a_text, std::string_view b_text, bool explain, Judgement& j) {
    PairVerdict& v = j.verdict;
    j.a_known = j.b_known = false;
    j.a_blank = detail::is_blank(a_text);
    j.b_blank = detail::is_blank(b_text);
    if (j.a_blank || j.b_blank) {
        v = {UnitHazardV2::MissingUnit, kNaN, kNaN};
        return;
    }
    j.a_known = detail::parse(a_text, j.a, explain ? &j.a_why : nullptr, false);
    j.b_known = detail::parse(b_text, j.b, explain ? &j.b_why : nullptr, false);
    if (!j.a_known || !j.b_known) {
        v = {UnitHazardV2::UnknownUnit, kNaN, kNaN};
        return;
    }
    const UnitV2& a = j.a;
    const UnitV2& b = j.b;
    const double factor = a.scale / b.scale;
    const double offset = (a.offset - b.offset) / b.scale;
    if (a.dim != b.dim || a.logarithmic != b.logarithmic) {
        v = {UnitHazardV2::DimensionMismatch, kNaN, kNaN};
    } else if (a.basis != b.basis && (stated(a.basis) || stated(b.basis))) {
        v = {UnitHazardV2::BasisMismatch, kNaN, kNaN};
    } else if (a.pressure != b.pressure) {
        if (a.pressure == PressureReference::Unstated ||
            b.pressure == PressureReference::Unstated) {
            v = {UnitHazardV2::PressureReferenceUnstated, factor, kNaN};
        } else {
            const double atmosphere = a.pressure == PressureReference::Gauge
                                          ? kStandardAtmospherePa
                                          : -kStandardAtmospherePa;
            v = {UnitHazardV2::PressureReferenceMismatch, factor, atmosphere / b.scale};
        }
    } else if ((a.volume != b.volume && (referenced(a.volume) || referenced(b.volume))) ||
               (referenced(a.volume) && referenced(b.volume) &&
                (a.reference_temperature_k != b.reference_temperature_k ||
                 a.reference_pressure_pa != b.reference_pressure_pa))) {
        v = {UnitHazardV2::ReferenceStateMismatch, kNaN, kNaN};
        if (referenced(a.volume) && referenced(b.volume) && a.volume_power == b.volume_power) {
            // The same amount of an ideal gas: V_b = V_a * (T_b / T_a) * (p_a / p_b).
            const double per_volume = (b.reference_temperature_k * a.reference_pressure_pa) /
                                      (a.reference_temperature_k * b.reference_pressure_pa);
            double gas = 1.0;
            for (int k = 0; k < std::abs(a.volume_power); ++k) gas *= per_volume;
            v.factor = factor * (a.volume_power < 0 ? 1.0 / gas : gas);
            v.offset = 0.0;
        }
    } else if (!unit_consistency::approx_equal(a.offset, b.offset)) {
        v = {UnitHazardV2::AffineOffsetHazard, factor, offset};
    } else if (!same_scale(a.scale, b.scale)) {
        v = {UnitHazardV2::ScaleMismatch, factor, offset};
    } else {
        v = {UnitHazardV2::Consistent, factor, offset};
    }
}

void append_all(std::string& out, std::initializer_list<std::string_view> pieces) {
    for (std::string_view piece : pieces) out.append(piece);
}

// "x_b = x_a × 0.5555555556 - 17.77777778"
void append_conversion(std::string& out, double factor, double offset) {
    append_all(out, {"x_b = x_a ", kTimes, " "});
    text::append_significant(out, factor, kDigits);
    if (offset != 0.0 && !std::isnan(offset)) {
        out.append(offset < 0 ? " - " : " + ");
        text::append_significant(out, std::fabs(offset), kDigits);
    }
}

// "normal (0 °C, 101.325 kPa)", "actual"
void append_state(std::string& out, const UnitV2& unit) {
    out.append(name(unit.volume));
    if (!referenced(unit.volume)) return;
    out.append(" (");
    text::append_significant(out, unit.reference_temperature_k - 273.15, kDigits);
    append_all(out, {" ", kDegree, "C, "});
    text::append_significant(out, unit.reference_pressure_pa / 1000.0, kDigits);
    out.append(" kPa)");
}

void explain(std::string& out, const Judgement& j, const UnitAssertion& assertion) {
    const std::string_view a_unit = assertion.a_unit;
    const std::string_view b_unit = assertion.b_unit;
    const std::string_view how = unit_consistency::phrase(assertion.relation);
    const PairVerdict& v = j.verdict;
    const auto pair = [&](std::string_view a_kind, std::string_view b_kind) {
        append_all(out, {"[", a_unit, "]=", a_kind, " vs [", b_unit, "]=", b_kind});
    };
    switch (v.hazard) {
        case UnitHazardV2::MissingUnit: {
            const std::string_view who = j.a_blank ? assertion.a_name : assertion.b_name;
            append_all(out, {"no unit given for '", who,
                             "'; a blank unit is not taken as dimensionless, so ", how,
                             " cannot be checked"});
            break;
        }
        case UnitHazardV2::UnknownUnit: {
            const std::string_view unknown = j.a_known ? b_unit : a_unit;
            const std::string_view why = j.a_known ? j.b_why : j.a_why;
            append_all(out, {"unit '", unknown, "' is not recognised (", why,
                             "); refusing to assume compatibility"});
            break;
        }
        case UnitHazardV2::DimensionMismatch: {
            const std::string a_tag = j.a.logarithmic ? "logarithmic" : j.a.dim.tag();
            const std::string b_tag = j.b.logarithmic ? "logarithmic" : j.b.dim.tag();
            out.append("different dimensions: ");
            pair(a_tag, b_tag);
            append_all(out, {"; ", how, " is meaningless"});
            break;
        }
        case UnitHazardV2::BasisMismatch:
            out.append("different fraction bases: ");
            pair(name(j.a.basis), name(j.b.basis));
            if (!stated(j.a.basis) || !stated(j.b.basis)) {
                append_all(out, {"; a fraction without a stated basis cannot be ", how});
            } else if (j.a.basis != FractionBasis::Mass && j.b.basis != FractionBasis::Mass) {
                out.append(
                    "; volume and mole fractions agree only for ideal gases, so they are kept "
                    "apart");
            } else {
                out.append("; not interconvertible without the molar masses of the mixture");
            }
            break;
        case UnitHazardV2::PressureReferenceMismatch:
            out.append("gauge against absolute pressure: ");
            pair(name(j.a.pressure), name(j.b.pressure));
            out.append("; with the standard atmosphere (101.325 kPa) ");
            append_conversion(out, v.factor, v.offset);
            out.append(", but the local barometric pressure decides the true offset");
            break;
        case UnitHazardV2::PressureReferenceUnstated: {
            out.append("pressure reference unstated: ");
            pair(name(j.a.pressure), name(j.b.pressure));
            out.append("; if both are on the same reference ");
            append_conversion(out, v.factor, 0.0);
            out.append(", otherwise the atmosphere lies between them");
            break;
        }
        case UnitHazardV2::ReferenceStateMismatch: {
            std::string a_state, b_state;
            append_state(a_state, j.a);
            append_state(b_state, j.b);
            out.append("volume reference states differ: ");
            pair(a_state, b_state);
            if (std::isnan(v.factor)) {
                out.append("; no conversion without the actual temperature and pressure");
            } else {
                out.append("; as an ideal gas ");
                append_conversion(out, v.factor, v.offset);
            }
            break;
        }
        case UnitHazardV2::AffineOffsetHazard:
            append_all(out, {"offsets differ: [", a_unit, "] vs [", b_unit, "]: "});
            append_conversion(out, v.factor, v.offset);
            append_all(out, {"; ", how,
                             " without conversion sees a constant offset that is unit error, not a "
                             "process residual"});
            break;
        case UnitHazardV2::ScaleMismatch:
            append_all(out, {"scale differs: [", a_unit, "] vs [", b_unit, "]: "});
            append_conversion(out, v.factor, v.offset);
            append_all(out, {"; ", how, " without conversion is wrong by that factor"});
            break;
        case UnitHazardV2::Consistent: {
            const std::string tag = j.a.dim.tag();
            append_all(out, {"consistent: [", a_unit, "] and [", b_unit,
                             "] are the same unit (dimension ", tag, "); ", how, " is valid"});
            break;
        }
    }
}

}  // namespace

PairVerdict classify(std::string_view a_unit, std::string_view b_unit) {
    Judgement j;
    judge(a_unit, b_unit, false, j);
    return j.verdict;
}

UnitConsistencyCourtV2 UnitConsistencyCourtV2::build(std::span<const UnitAssertion> assertions) {
    UnitConsistencyCourtV2 court;
    court.assertions_checked = assertions.size();
    court.findings.reserve(assertions.size());
    Judgement j;  // reused: its texts keep their capacity from one assertion to the next
    for (const UnitAssertion& assertion : assertions) {
        j.a_why.clear();
        j.b_why.clear();
        judge(assertion.a_unit, assertion.b_unit, true, j);
        UnitFindingV2& f = court.findings.emplace_back();
        f.context = assertion.context;
        append_all(f.a, {assertion.a_name, " [", assertion.a_unit, "]"});
        append_all(f.b, {assertion.b_name, " [", assertion.b_unit, "]"});
        f.relation = unit_consistency::name(assertion.relation);
        f.hazard = name(j.verdict.hazard);
        f.factor = j.verdict.factor;
        f.offset = j.verdict.offset;
        explain(f.message, j, assertion);
        if (j.verdict.hazard == UnitHazardV2::Consistent) ++court.n_consistent;
    }
    court.n_hazard = court.findings.size() - court.n_consistent;
    court.court_hash =
        seal(court.assertions_checked, court.findings, court.n_consistent, court.n_hazard);
    return court;
}

std::string UnitConsistencyCourtV2::seal(std::uint64_t assertions_checked,
                                         std::span<const UnitFindingV2> findings,
                                         std::uint64_t n_consistent, std::uint64_t n_hazard) {
    // Messages, factors and offsets are never fed: rewording an explanation or refining a
    // vocabulary value must not change a stored seal.
    hashing::CanonicalHasher hasher;
    hasher.field("schema", kSchema).field("assertions_checked", assertions_checked);
    for (const UnitFindingV2& f : findings) {
        hasher.field("context", f.context)
            .field("a", f.a)
            .field("b", f.b)
            .field("relation", f.relation)
            .field("hazard", f.hazard);
    }
    hasher.field("n_consistent", n_consistent).field("n_hazard", n_hazard);
    return std::move(hasher).finalize_hex();
}

}  // namespace qorv_chemical_engineering_edge::unit_consistency_v2
