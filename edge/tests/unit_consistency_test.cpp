// The unit consistency court: verdicts, messages, counts and the seal.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qorv_chemical_engineering_edge/hashing.hpp"
#include "qorv_chemical_engineering_edge/sha256.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency.hpp"
#include "seal_stream.hpp"
#include "units/unit_closeness.hpp"

namespace uc = qorv_chemical_engineering_edge::unit_consistency;
using qorv_chemical_engineering_edge::testing::frame;
using uc::AssertionRelation;
using uc::UnitAssertion;
using uc::UnitConsistencyCourtV1;
using uc::UnitFinding;
using uc::UnitHazard;
using namespace std::string_literals;

namespace {

constexpr auto Same = AssertionRelation::SameQuantity;
constexpr auto Added = AssertionRelation::AdditivelyCombined;

UnitAssertion pair(std::string a_unit, std::string b_unit, AssertionRelation relation = Same) {
    return {"py", "a", std::move(a_unit), "b", std::move(b_unit), relation};
}

UnitFinding judge_one(const UnitAssertion& assertion) {
    const auto court = UnitConsistencyCourtV1::build({&assertion, 1});
    EXPECT_EQ(court.findings.size(), 1u);
    return court.findings.at(0);
}

struct MessageCase {
    std::string a_unit, b_unit;
    AssertionRelation relation;
    std::string_view hazard;
    std::string message;
};

TEST(UnitCourt, JudgesAndExplainsEachPairing) {
    const MessageCase cases[] = {
        {"kPa", "Pa", Same, "scale_mismatch",
         "same dimension, scale differs by \u00D71000.000000: [kPa] vs [Pa]; compared as the same "
         "quantity without conversion is wrong by that factor"},
        {"Pa", "kPa", Added, "scale_mismatch",
         "same dimension, scale differs by \u00D70.001000: [Pa] vs [kPa]; added/subtracted in a "
         "balance term without conversion is wrong by that factor"},
        {"degF", "K", Same, "scale_mismatch",
         "same dimension, scale differs by \u00D70.555556: [degF] vs [K]; compared as the same "
         "quantity without conversion is wrong by that factor"},
        {"%", "ratio", Same, "scale_mismatch",
         "same dimension, scale differs by \u00D70.010000: [%] vs [ratio]; compared as the same "
         "quantity without conversion is wrong by that factor"},
        {"  KPA\t", "Pa", Same, "scale_mismatch",
         "same dimension, scale differs by \u00D71000.000000: [  KPA\t] vs [Pa]; compared as the "
         "same quantity without conversion is wrong by that factor"},
        {"degC", "K", Same, "affine_offset_hazard",
         "affine offset differs: [degC] vs [K] (e.g. \u00B0C vs K); compared as the same quantity "
         "sees a constant ~273 offset that is pure unit error, not a process residual"},
        {"K", "\u00B0C", Added, "affine_offset_hazard",
         "affine offset differs: [K] vs [\u00B0C] (e.g. \u00B0C vs K); added/subtracted in a "
         "balance term sees a constant ~273 offset that is pure unit error, not a process "
         "residual"},
        {"bar", "kg/s", Same, "dimension_mismatch",
         "different dimensions: [bar]=ML^-1T^-2 vs [kg/s]=MT^-1; compared as the same quantity is "
         "meaningless"},
        {"wt%", "K", Added, "dimension_mismatch",
         "different dimensions: [wt%]=1 vs [K]=\u0398; added/subtracted in a balance term is "
         "meaningless"},
        {"wt%", "mol%", Same, "basis_mismatch",
         "both dimensionless but different basis: [wt%]=mass_fraction vs [mol%]=mole_fraction; "
         "not interconvertible without molar mass"},
        {"%", "wt%", Added, "basis_mismatch",
         "both dimensionless but different basis: [%]=pure vs [wt%]=mass_fraction; not "
         "interconvertible without molar mass"},
        {"kelvin", "K", Same, "consistent",
         "identical units [kelvin] (dimension \u0398); compared as the same quantity is valid"},
        {"psig", " PSI ", Added, "consistent",
         "identical units [psig] (dimension ML^-1T^-2); added/subtracted in a balance term is "
         "valid"},
        {"", "-", Same, "consistent",
         "identical units [] (dimension 1); compared as the same quantity is valid"},
        {"furlong", "m", Same, "unknown_unit",
         "unit 'furlong' is not recognised; refusing to assume compatibility"},
        {"m", "furlong", Added, "unknown_unit",
         "unit 'furlong' is not recognised; refusing to assume compatibility"},
        {"x", "y", Same, "unknown_unit",
         "unit 'x' is not recognised; refusing to assume compatibility"},
        {"k\0g"s, "kg", Same, "unknown_unit",
         "unit 'k\0g' is not recognised; refusing to assume compatibility"s},
    };
    for (const MessageCase& c : cases) {
        SCOPED_TRACE("[" + c.a_unit + "] vs [" + c.b_unit + "]");
        const UnitFinding f = judge_one(pair(c.a_unit, c.b_unit, c.relation));
        EXPECT_EQ(f.hazard, c.hazard);
        EXPECT_EQ(f.message, c.message);
        EXPECT_EQ(f.relation, c.relation == Same ? "same_quantity" : "additively_combined");
        EXPECT_EQ(f.a, "a [" + c.a_unit + "]");
        EXPECT_EQ(f.b, "b [" + c.b_unit + "]");
        EXPECT_EQ(uc::name(uc::classify(c.a_unit, c.b_unit)), c.hazard);
    }
}

TEST(UnitCourt, FirstApplicableRuleDecides) {
    using enum UnitHazard;
    // Unknown before dimension, dimension before basis, basis before scale, scale before offset.
    // clang-format off
    const struct { std::string_view a, b; UnitHazard want; } cases[] = {
        {"furlong", "K", UnknownUnit}, {"K", "s", UnknownUnit}, {"wt%", "K", DimensionMismatch},
        {"%", "kg/kg", BasisMismatch}, {"mol/mol", "wt%", BasisMismatch},
        {"degF", "K", ScaleMismatch}, {"degF", "degC", ScaleMismatch},
        {"degC", "kelvin", AffineOffsetHazard}, {"celsius", "\u00B0C", Consistent},
        {"l/min", "LPM", Consistent}, {"kg/kg", "mass_frac", Consistent},
        {"wt%", "mass%", Consistent}};
    // clang-format on
    for (const auto& c : cases) EXPECT_EQ(uc::classify(c.a, c.b), c.want) << c.a << " vs " << c.b;
}

TEST(ApproxEqual, ToleranceIsAbsoluteNearZeroAndRelativeAbove) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // clang-format off
    const struct { double x, y; bool equal; } cases[] = {
        {1.0, 1.0000000005, true}, {1.0, 1.000000003, false}, {1000.0, 1000.0000009, true},
        {1000.0, 1000.000002, false}, {0.0, 1e-9, true}, {0.0, 2e-9, false},
        {-1.0, -1.0000000005, true}, {-1.0, 1.0, false}, {1e12, 1e12 + 900.0, true},
        {1e12, 1e12 + 1100.0, false}, {nan, nan, false}, {nan, 1.0, false}};
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(uc::approx_equal(c.x, c.y), c.equal) << c.x << " vs " << c.y;
        EXPECT_EQ(uc::approx_equal(c.y, c.x), c.equal) << c.y << " vs " << c.x;
    }
}

TEST(ApproxEqual, DifferenceEqualToTheBoundCountsAsEqual) {
    // Against zero the bound is (y + 1) * 1e-9; iterate to the y that equals its own bound.
    double y = 1e-9;
    for (int i = 0; i < 8; ++i) y = (y + 1.0) * 1e-9;
    ASSERT_EQ(y, (y + 1.0) * 1e-9);
    EXPECT_TRUE(uc::approx_equal(0.0, y));
    EXPECT_FALSE(uc::approx_equal(0.0, std::nextafter(y, 1.0)));
}

TEST(UnitCourt, CallerTextsAreKeptByteForByte) {
    const std::vector<UnitAssertion> assertions{
        {"ctx \0 here"s, "", "kg/h", "Feed Flow", "  KG/H ", Same},
        {"", "x\0y"s, "", "b", "k\0g"s, Added},
    };
    const auto court = UnitConsistencyCourtV1::build(assertions);
    ASSERT_EQ(court.findings.size(), 2u);
    EXPECT_EQ(court.findings[0].context, "ctx \0 here"s);
    EXPECT_EQ(court.findings[0].a, " [kg/h]");
    EXPECT_EQ(court.findings[0].b, "Feed Flow [  KG/H ]");
    EXPECT_EQ(court.findings[0].hazard, "consistent");
    EXPECT_EQ(court.findings[1].context, "");
    EXPECT_EQ(court.findings[1].a, "x\0y []"s);
    EXPECT_EQ(court.findings[1].b, "b [k\0g]"s);
    EXPECT_EQ(court.findings[1].hazard, "unknown_unit");
    EXPECT_EQ(court.findings[1].message,
              "unit 'k\0g' is not recognised; refusing to assume compatibility"s);
}

TEST(UnitCourt, CountsFollowTheHazardTexts) {
    const std::vector<UnitAssertion> assertions{
        pair("K", "kelvin"), pair("kPa", "Pa"),   pair("psi", "psig", Added),
        pair("s", "h"),      pair("wt%", "mol%"),
    };
    const auto court = UnitConsistencyCourtV1::build(assertions);
    EXPECT_EQ(court.assertions_checked, 5u);
    EXPECT_EQ(court.n_consistent, 2u);
    EXPECT_EQ(court.n_hazard, 3u);
    ASSERT_EQ(court.findings.size(), 5u);
    EXPECT_EQ(court.findings[3].hazard, "unknown_unit");  // input order kept
    EXPECT_EQ(court.findings[3].message,
              "unit 's' is not recognised; refusing to assume compatibility");
    EXPECT_EQ(court.court_hash, UnitConsistencyCourtV1::seal(5, court.findings, 2, 3));
}

// ---- seal ----

UnitFinding finding(std::string a, std::string b, std::string hazard) {
    return {"py", std::move(a), std::move(b), "same_quantity", std::move(hazard), "any text"};
}

const UnitFinding kKpaPa = finding("a [kPa]", "b [Pa]", "scale_mismatch");
const UnitFinding kKKelvin = finding("a [K]", "b [kelvin]", "consistent");

constexpr std::string_view kEmptyHash =
    "fc5dfb4810ba6858cd246dfe0a283bb8c7c71b90d5c8f12b13a2325cb8ede28e";
constexpr std::string_view kKpaPaHash =
    "72e9952ef547c2dae32875be22e3450cd6edb2ea1668f7b1ef7ace17d292a553";
constexpr std::string_view kKKelvinHash =
    "db3005e12fb7dde268135de2f89354cbf703444f9d38842696ea4791ccc2c0c0";
constexpr std::string_view kBothHash =
    "24946bc97d2906b4c188f09ffa2d49a98b7e3f36188715b45c56c1d79f54b4c1";
constexpr std::string_view kBothReversedHash =
    "284c1c4da9d974ebd372257437a026aeefe1961874e08ce3f1d57305aaabb004";

TEST(UnitSeal, KnownVectors) {
    EXPECT_EQ(UnitConsistencyCourtV1::seal(0, {}, 0, 0), kEmptyHash);
    EXPECT_EQ(UnitConsistencyCourtV1::seal(1, {&kKpaPa, 1}, 0, 1), kKpaPaHash);
    EXPECT_EQ(UnitConsistencyCourtV1::seal(1, {&kKKelvin, 1}, 1, 0), kKKelvinHash);
    const std::vector<UnitFinding> both{kKpaPa, kKKelvin};
    const std::vector<UnitFinding> reversed{kKKelvin, kKpaPa};
    EXPECT_EQ(UnitConsistencyCourtV1::seal(2, both, 1, 1), kBothHash);
    EXPECT_EQ(UnitConsistencyCourtV1::seal(2, reversed, 1, 1), kBothReversedHash);
}

TEST(UnitSeal, BuildSealsWhatTheBindingPasses) {
    EXPECT_EQ(UnitConsistencyCourtV1::build({}).court_hash, kEmptyHash);
    const UnitAssertion kpa = pair("kPa", "Pa");
    const UnitAssertion kelvin = pair("K", "kelvin");
    EXPECT_EQ(UnitConsistencyCourtV1::build({&kpa, 1}).court_hash, kKpaPaHash);
    EXPECT_EQ(UnitConsistencyCourtV1::build({&kelvin, 1}).court_hash, kKKelvinHash);
    EXPECT_EQ(UnitConsistencyCourtV1::build(std::vector{kpa, kelvin}).court_hash, kBothHash);
    EXPECT_EQ(UnitConsistencyCourtV1::build(std::vector{kelvin, kpa}).court_hash,
              kBothReversedHash);
    const auto empty = UnitConsistencyCourtV1::build({});
    EXPECT_TRUE(empty.findings.empty());
    EXPECT_EQ(empty.assertions_checked + empty.n_consistent + empty.n_hazard, 0u);
}

std::string hex_sha256(std::string_view bytes) {
    namespace hashing = qorv_chemical_engineering_edge::hashing;
    return hashing::to_hex(hashing::sha256(bytes));
}

// The judgement is the record without its findings: the same hazards, counts and seal, for
// courts of every size up to a mix of every hazard and both relations.
TEST(UnitSeal, JudgementAgreesWithTheRecord) {
    const std::vector<UnitAssertion> mix{
        pair("kPa", "Pa"),
        pair("K", "kelvin", Added),
        pair("degC", "K"),
        pair("bar", "kg/s", Added),
        pair("wt%", "mol%"),
        pair("furlong", "m"),
        {"ctx \0"s, "", "kg/h", "Feed Flow", "  KG/H ", Added},
    };
    for (std::size_t n = 0; n <= mix.size(); ++n) {
        const std::span<const UnitAssertion> assertions(mix.data(), n);
        const auto court = UnitConsistencyCourtV1::build(assertions);
        std::vector<UnitHazard> hazards(n);
        const auto judgement = UnitConsistencyCourtV1::judge(assertions, hazards);
        for (std::size_t i = 0; i < n; ++i)
            EXPECT_EQ(court.findings[i].hazard, uc::name(hazards[i]));
        EXPECT_EQ(court.n_consistent, judgement.n_consistent);
        EXPECT_EQ(court.n_hazard, judgement.n_hazard);
        EXPECT_EQ(court.court_hash,
                  qorv_chemical_engineering_edge::hashing::to_hex(judgement.seal));
    }
}

TEST(UnitSeal, StreamIsTheFramedFieldsInOrder) {
    std::string empty;
    frame(empty, "schema", "unit_consistency_court_v1");
    frame(empty, "assertions_checked", std::uint64_t{0});
    frame(empty, "n_consistent", std::uint64_t{0});
    frame(empty, "n_hazard", std::uint64_t{0});
    EXPECT_EQ(empty.size(), 157u);
    EXPECT_EQ(hex_sha256(empty), UnitConsistencyCourtV1::seal(0, {}, 0, 0));

    std::string one;
    frame(one, "schema", "unit_consistency_court_v1");
    frame(one, "assertions_checked", std::uint64_t{1});
    frame(one, "context", "py");
    frame(one, "a", "a [kPa]");
    frame(one, "b", "b [Pa]");
    frame(one, "relation", "same_quantity");
    frame(one, "hazard", "scale_mismatch");
    frame(one, "n_consistent", std::uint64_t{0});
    frame(one, "n_hazard", std::uint64_t{1});
    EXPECT_EQ(one.size(), 302u);
    EXPECT_EQ(hex_sha256(one), UnitConsistencyCourtV1::seal(1, {&kKpaPa, 1}, 0, 1));
}

TEST(UnitSeal, MessageIsNeverSealedButEveryOtherTextIs) {
    const std::string base = UnitConsistencyCourtV1::seal(1, {&kKpaPa, 1}, 0, 1);
    UnitFinding reworded = kKpaPa;
    reworded.message = "something else entirely";
    EXPECT_EQ(UnitConsistencyCourtV1::seal(1, {&reworded, 1}, 0, 1), base);

    std::string UnitFinding::*const sealed[] = {&UnitFinding::context, &UnitFinding::a,
                                                &UnitFinding::b, &UnitFinding::relation,
                                                &UnitFinding::hazard};
    for (auto field : sealed) {
        UnitFinding changed = kKpaPa;
        changed.*field += " ";
        EXPECT_NE(UnitConsistencyCourtV1::seal(1, {&changed, 1}, 0, 1), base);
    }
    UnitFinding swapped = kKpaPa;
    std::swap(swapped.a, swapped.b);
    EXPECT_NE(UnitConsistencyCourtV1::seal(1, {&swapped, 1}, 0, 1), base);
    EXPECT_NE(UnitConsistencyCourtV1::seal(2, {&kKpaPa, 1}, 0, 1), base);
    EXPECT_NE(UnitConsistencyCourtV1::seal(1, {&kKpaPa, 1}, 1, 1), base);
    EXPECT_NE(UnitConsistencyCourtV1::seal(1, {&kKpaPa, 1}, 0, 2), base);
}

}  // namespace
