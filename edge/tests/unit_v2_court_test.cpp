// The second unit court: every hazard at its boundary, the conversions and their wording, the
// number format, the counts and the seal.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "qorv_chemical_engineering_edge/hashing.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"
#include "units/significant_digits.hpp"

namespace {

namespace v2 = qorv_chemical_engineering_edge::unit_consistency_v2;
namespace uc = qorv_chemical_engineering_edge::unit_consistency;
namespace text = qorv_chemical_engineering_edge::text;
using H = v2::UnitHazardV2;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double PSI = 6894.757293168361, FT3 = 0.028316846592, GAL = 3.785411784e-3;
constexpr double BTU = 1055.05585262;
constexpr double SCF_T = (60 + 459.67) * 5.0 / 9.0, SCF_P = 14.696 * PSI;

uc::UnitAssertion pair(std::string a, std::string b,
                       uc::AssertionRelation relation = uc::AssertionRelation::SameQuantity) {
    return {"ctx", "a", std::move(a), "b", std::move(b), relation};
}

struct HazardCase {
    std::string a, b;
    H hazard;
    double factor, offset;
    std::string says;  // a piece of the message
};

// Each row sits next to the rule before or after it: the first rule that applies decides.
TEST(UnitV2Court, EachHazardAtItsBoundary) {
    const HazardCase cases[] = {
        {"", "kg", H::MissingUnit, NaN, NaN,
         "no unit given for 'a'; a blank unit is not taken as dimensionless"},
        {"kg", " \u00A0", H::MissingUnit, NaN, NaN, "no unit given for 'b'"},
        {"", "furlong", H::MissingUnit, NaN, NaN, "for 'a'"},
        {"furlong", "", H::MissingUnit, NaN, NaN, "for 'b'"},
        {"furlong", "kg", H::UnknownUnit, NaN, NaN,
         "unit 'furlong' is not recognised ('furlong' is not a known unit); refusing to "
         "assume compatibility"},
        {"kg", "mw", H::UnknownUnit, NaN, NaN, "unit 'mw' is not recognised ('mw' is ambiguous"},
        {"furlong", "wt%", H::UnknownUnit, NaN, NaN, "'furlong'"},
        {"bar", "kg/s", H::DimensionMismatch, NaN, NaN,
         "different dimensions: [bar]=ML^-1T^-2 vs [kg/s]=MT^-1; compared as the same quantity "
         "is meaningless"},
        {"wt%", "K", H::DimensionMismatch, NaN, NaN, "[wt%]=1 vs [K]=\u0398"},
        {"barg", "kg/h", H::DimensionMismatch, NaN, NaN, "[barg]=ML^-1T^-2"},
        {"Nm3/h", "kg/h", H::DimensionMismatch, NaN, NaN, "[Nm3/h]=L^3T^-1"},
        {"pH", "-", H::DimensionMismatch, NaN, NaN, "[pH]=logarithmic vs [-]=1"},
        {"mA", "V", H::DimensionMismatch, NaN, NaN, "[mA]=I vs [V]=ML^2T^-3I^-1"},
        {"wt%", "mol%", H::BasisMismatch, NaN, NaN,
         "different fraction bases: [wt%]=mass vs [mol%]=mole; not interconvertible without "
         "the molar masses"},
        {"vol%", "mol%", H::BasisMismatch, NaN, NaN, "agree only for ideal gases"},
        {"ppmv", "ppm", H::BasisMismatch, NaN, NaN, "[ppmv]=volume vs [ppm]=unstated"},
        {"ratio", "wt%", H::BasisMismatch, NaN, NaN, "[ratio]=none vs [wt%]=mass"},
        {"kg/kg", "mol/mol", H::BasisMismatch, NaN, NaN, "=mass vs [mol/mol]=mole"},
        {"%", "ppm", H::ScaleMismatch, 1e4, 0, "x_b = x_a \u00D7 10000"},
        {"-", "%", H::ScaleMismatch, 100, 0, "x_b = x_a \u00D7 100;"},
        {"mol/mol", "mol%", H::ScaleMismatch, 100, 0, "\u00D7 100"},
        {"wt%", "ppmw", H::ScaleMismatch, 1e4, 0, "\u00D7 10000"},
        {"barg", "bara", H::PressureReferenceMismatch, 1, 1.01325,
         "gauge against absolute pressure: [barg]=gauge vs [bara]=absolute; with the standard "
         "atmosphere (101.325 kPa) x_b = x_a \u00D7 1 + 1.01325, but the local barometric "
         "pressure decides the true offset"},
        {"psia", "kPag", H::PressureReferenceMismatch, PSI / 1e3, -101.325,
         "x_b = x_a \u00D7 6.894757293 - 101.325"},
        {"kg/cm2g", "bara", H::PressureReferenceMismatch, 0.980665, 1.01325, "\u00D7 0.980665"},
        {"bar", "barg", H::PressureReferenceUnstated, 1, NaN,
         "pressure reference unstated: [bar]=unstated vs [barg]=gauge; if both are on the same "
         "reference x_b = x_a \u00D7 1, otherwise the atmosphere lies between them"},
        {"psig", "kPa", H::PressureReferenceUnstated, PSI / 1e3, NaN, "\u00D7 6.894757293"},
        {"N/m2", "Paa", H::PressureReferenceUnstated, 1, NaN, "=unstated vs [Paa]=absolute"},
        {"barg", "psig", H::ScaleMismatch, 1e5 / PSI, 0, "\u00D7 14.50377377"},
        {"bar", "psi", H::ScaleMismatch, 1e5 / PSI, 0, "scale differs: [bar] vs [psi]"},
        {"barg", "bar g", H::Consistent, 1, 0, "same unit"},
        {"m3/h", "Nm3/h", H::ReferenceStateMismatch, NaN, NaN,
         "volume reference states differ: [m3/h]=actual vs [Nm3/h]=normal (0 \u00B0C, 101.325 "
         "kPa); no conversion without the actual temperature and pressure"},
        {"Nm3/h", "Sm3/h", H::ReferenceStateMismatch, 288.15 / 273.15, 0,
         "=standard (15 \u00B0C, 101.325 kPa); as an ideal gas x_b = x_a \u00D7 1.054914882"},
        {"kg/Nm3", "kg/Sm3", H::ReferenceStateMismatch, 273.15 / 288.15, 0, "\u00D7 0.9479437793"},
        {"scf", "Sm3", H::ReferenceStateMismatch, FT3 * (288.15 / SCF_T) * (SCF_P / 101325.0), 0,
         "[scf]=standard (15.55555556 \u00B0C, 101.3253532 kPa)"},
        {"MMscfd", "Nm3/d", H::ReferenceStateMismatch,
         1e6 * FT3 * (273.15 / SCF_T) * (SCF_P / 101325.0), 0, "as an ideal gas"},
        {"Sm3/h", "kscmh", H::ScaleMismatch, 1e-3, 0, "\u00D7 0.001"},
        {"MMscfd", "Mscfd", H::ScaleMismatch, 1000, 0, "\u00D7 1000"},
        {"Am3/h", "m3/h", H::Consistent, 1, 0, "same unit"},
        {"L", "m3", H::ScaleMismatch, 1e-3, 0, "\u00D7 0.001"},
        {"gpm", "m3/h", H::ScaleMismatch, GAL * 60, 0, "\u00D7 0.227124707"},
        {"degF", "degC", H::AffineOffsetHazard, 5.0 / 9.0, -160.0 / 9.0,
         "offsets differ: [degF] vs [degC]: x_b = x_a \u00D7 0.5555555556 - 17.77777778; "
         "compared as the same quantity without conversion sees a constant offset"},
        {"degC", "K", H::AffineOffsetHazard, 1, 273.15, "x_b = x_a \u00D7 1 + 273.15;"},
        {"K", "degC", H::AffineOffsetHazard, 1, -273.15, "\u00D7 1 - 273.15;"},
        {"degC", "degR", H::AffineOffsetHazard, 1.8, 491.67, "\u00D7 1.8 + 491.67;"},
        {"K", "degR", H::ScaleMismatch, 1.8, 0, "\u00D7 1.8;"},
        {"degC", "\u00B0C", H::Consistent, 1, 0, "dimension \u0398"},
        {"kJ/(kg\u00B7K)", "kJ/(kg\u00B7degC)", H::Consistent, 1, 0, "same unit"},
        {"kJ/kg K", "J/(g*K)", H::Consistent, 1, 0, "same unit"},
        {"K/min", "\u00B0C/min", H::Consistent, 1, 0, "same unit"},
        {"pH", "PH", H::Consistent, 1, 0, "same unit"},
        {"kPa", "Pa", H::ScaleMismatch, 1000, 0,
         "scale differs: [kPa] vs [Pa]: x_b = x_a \u00D7 1000; compared as the same quantity "
         "without conversion is wrong by that factor"},
        {"L/h", "m3/s", H::ScaleMismatch, 1 / 3.6e6, 0, "\u00D7 0.0000002777777778;"},
        {"MW", "mW", H::ScaleMismatch, 1e9, 0, "\u00D7 1000000000;"},
        {"kWh", "MJ", H::ScaleMismatch, 3.6, 0, "\u00D7 3.6;"},
        {"BTU/h", "kW", H::ScaleMismatch, BTU / 3.6e6, 0, "\u00D7 0.0002930710702;"},
        {"kg/h", "kg/hr", H::Consistent, 1, 0,
         "consistent: [kg/h] and [kg/hr] are the same unit (dimension MT^-1); compared as the "
         "same quantity is valid"},
    };
    std::vector<uc::UnitAssertion> assertions;
    for (const HazardCase& c : cases) assertions.push_back(pair(c.a, c.b));
    const auto court = v2::UnitConsistencyCourtV2::build(assertions);
    ASSERT_EQ(court.findings.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const HazardCase& c = cases[i];
        const v2::UnitFindingV2& f = court.findings[i];
        SCOPED_TRACE(c.a + " vs " + c.b);
        EXPECT_EQ(f.hazard, name(c.hazard));
        EXPECT_NE(f.message.find(c.says), std::string::npos) << f.message;
        // Plain notation only: no exponent, no zero that hides a small factor.
        EXPECT_EQ(f.message.find("e-"), std::string::npos) << f.message;
        EXPECT_EQ(f.message.find("0.000000;"), std::string::npos) << f.message;
        const v2::PairVerdict v = v2::classify(c.a, c.b);
        EXPECT_EQ(v.hazard, c.hazard);
        for (auto [got, want] : {std::pair{f.factor, c.factor}, std::pair{f.offset, c.offset},
                                 std::pair{v.factor, c.factor}, std::pair{v.offset, c.offset}}) {
            if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(got)) << got;
            } else {
                EXPECT_NEAR(got, want, 1e-12 * std::max(1.0, std::fabs(want)));
            }
        }
        // Every rule is symmetric.
        EXPECT_EQ(v2::classify(c.b, c.a).hazard, c.hazard);
    }
    EXPECT_EQ(court.n_consistent + court.n_hazard, std::size(cases));
}

TEST(UnitV2Court, RelationChangesTheWordingOnly) {
    const auto same = v2::UnitConsistencyCourtV2::build(std::vector{pair("kPa", "Pa")});
    const auto added = v2::UnitConsistencyCourtV2::build(
        std::vector{pair("kPa", "Pa", uc::AssertionRelation::AdditivelyCombined)});
    EXPECT_EQ(same.findings[0].hazard, added.findings[0].hazard);
    EXPECT_EQ(added.findings[0].relation, "additively_combined");
    EXPECT_NE(added.findings[0].message.find("added/subtracted in a balance term"),
              std::string::npos);
    EXPECT_NE(same.court_hash, added.court_hash);
}

TEST(SignificantDigits, PlainNotationAtTenDigits) {
    const std::pair<double, const char*> cases[] = {
        {1000, "1000"},
        {1.0 / 3600, "0.0002777777778"},
        {5.0 / 9.0, "0.5555555556"},
        {-160.0 / 9.0, "-17.77777778"},
        {3.6e6, "3600000"},
        {1e-12, "0.000000000001"},
        {1e20, "100000000000000000000"},
        {123456789012.0, "123456789000"},
        {0.1, "0.1"},
        {9.99999999995, "10"},
        {1.01325, "1.01325"},
        {2.5e-7, "0.00000025"},
        {-0.0, "0"},
        {NaN, "NaN"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
    };
    for (const auto& [value, want] : cases) {
        std::string out;
        text::append_significant(out, value, 10);
        EXPECT_EQ(out, want) << value;
    }
}

// The seal frames, through CanonicalHasher, exactly the documented fields.
std::string framed(const std::vector<uc::UnitAssertion>& assertions,
                   const std::vector<const char*>& hazards, std::uint64_t n_consistent) {
    qorv_chemical_engineering_edge::hashing::CanonicalHasher h;
    h.field("schema", "unit_consistency_court_v2")
        .field("assertions_checked", std::uint64_t{assertions.size()});
    for (std::size_t i = 0; i < assertions.size(); ++i) {
        const uc::UnitAssertion& x = assertions[i];
        h.field("context", x.context)
            .field("a", x.a_name + " [" + x.a_unit + "]")
            .field("b", x.b_name + " [" + x.b_unit + "]")
            .field("relation", uc::name(x.relation))
            .field("hazard", hazards[i]);
    }
    h.field("n_consistent", n_consistent).field("n_hazard", assertions.size() - n_consistent);
    return std::move(h).finalize_hex();
}

TEST(UnitV2Seal, ReferenceSeals) {
    const std::vector<uc::UnitAssertion> none;
    const std::vector<uc::UnitAssertion> three = {pair("barg", "bara"), pair("kg/h", "kg/hr"),
                                                  pair("degF", "degC")};
    const auto empty = v2::UnitConsistencyCourtV2::build(none);
    const auto court = v2::UnitConsistencyCourtV2::build(three);
    EXPECT_EQ(empty.court_hash, framed(none, {}, 0));
    EXPECT_EQ(
        court.court_hash,
        framed(three, {"pressure_reference_mismatch", "consistent", "affine_offset_hazard"}, 1));
    // Stored seals depend on these; computed once (and checked against a separate framing in
    // Python) and must not change.
    EXPECT_EQ(empty.court_hash, "99cfffb23543230136041905d3bfbbcfa9b9e6936992f8b1a12d542d7291e10c");
    EXPECT_EQ(court.court_hash, "91464955aa725fabcef9b798cd7ded17ea46378c903c1e8459fef3ecd51a1b96");
    // The first court's seal of the same claims differs in its schema alone.
    EXPECT_NE(uc::UnitConsistencyCourtV1::build(none).court_hash, empty.court_hash);
}

TEST(UnitV2Seal, MessagesFactorsAndOffsetsAreNeverSealed) {
    const auto court = v2::UnitConsistencyCourtV2::build(
        std::vector{pair("kPa", "Pa"), pair("m3/h", "Nm3/h"), pair("", "kg")});
    std::vector<v2::UnitFindingV2> findings = court.findings;
    const auto reseal = [&] {
        return v2::UnitConsistencyCourtV2::seal(3, findings, court.n_consistent, court.n_hazard);
    };
    EXPECT_EQ(reseal(), court.court_hash);
    findings[0].message = "reworded";
    findings[0].factor = 2;
    findings[1].offset = 7;
    EXPECT_EQ(reseal(), court.court_hash);
    findings[2].hazard = "unknown_unit";
    EXPECT_NE(reseal(), court.court_hash);
    EXPECT_EQ(court.n_consistent, 0u);
    EXPECT_EQ(court.n_hazard, 3u);
}

}  // namespace
