#include "qorv_chemical_engineering_edge/data_readiness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "qorv_chemical_engineering_edge/hashing.hpp"
#include "qorv_chemical_engineering_edge/sha256.hpp"
#include "reference_profiles.hpp"
#include "seal_stream.hpp"

namespace {

using namespace qorv_chemical_engineering_edge::data_readiness;
using namespace qorv_chemical_engineering_edge::data_readiness::reference;
using qorv_chemical_engineering_edge::testing::frame;
namespace hashing = qorv_chemical_engineering_edge::hashing;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const char* const kDimensions[13] = {
    "tags_present",        "rows_sufficient",    "baseline_window",      "license_cleared",
    "missingness",         "unit_coverage",      "duplicate_timestamps", "time_span",
    "sampling_regularity", "controller_context", "maintenance_log",      "batch_genealogy",
    "lab_samples"};

// The finding for `dim`; a test that asks for a dimension the court does not grade fails.
const ReadinessFinding* finding(const IndustrialDataReadinessCourtV1& court, const char* dim) {
    auto it = std::find_if(court.findings.begin(), court.findings.end(),
                           [&](const ReadinessFinding& f) { return f.dimension == dim; });
    return it == court.findings.end() ? nullptr : &*it;
}

// The seal vectors are what stored court hashes are compared against.
TEST(ReadinessCourt, ReferenceSeals) {
    struct Case {
        ReadinessProfile profile;
        std::uint64_t n_critical, n_caveat;
        const char* verdict;
        const char* hash;
    };
    const Case cases[] = {
        {all_present(), 0, 0, "Ready",
         "1b1120e65afcd03882c4b118d58255eeda1a2e487bdb3189706634e428539c09"},
        {required_only(), 0, 5, "ReadyWithCaveats",
         "96815849a21122812a1ab159b29c8aaa9fd424b366b0d3c6407ae4c470aa4b13"},
        {everything_bad(), 4, 9, "NotReadyMissingCriticalWitnesses",
         "a86c7d84cfef3db63e101138ec0bbaea8fa4a905ad38e0eb3b236df5dfb2be4e"},
    };
    for (const auto& c : cases) {
        const auto court = IndustrialDataReadinessCourtV1::grade(c.profile);
        ASSERT_EQ(court.findings.size(), 13u);
        for (std::size_t i = 0; i < 13; ++i) EXPECT_EQ(court.findings[i].dimension, kDimensions[i]);
        EXPECT_EQ(court.n_critical_missing, c.n_critical);
        EXPECT_EQ(court.n_caveat, c.n_caveat);
        EXPECT_EQ(court.verdict, c.verdict);
        EXPECT_EQ(court.court_hash, c.hash);
        EXPECT_EQ(court.seal(), c.hash);  // sealing again ignores the stored court_hash
    }
}

// The all-ok seal input is 970 bytes; rebuild it by hand and hash it in one piece.
// The judgement is the record without its messages: the same levels, counts, verdict and seal,
// for profiles that reach every level of every dimension.
TEST(ReadinessCourt, JudgementAgreesWithTheRecord) {
    std::vector<ReadinessProfile> profiles{all_present(), required_only(), everything_bad()};
    for (int bits = 0; bits < 64; ++bits) {
        auto p = bits % 2 ? everything_bad() : all_present();
        p.n_rows = bits & 2 ? 99 : 100;
        p.missingness = bits & 4 ? kNaN : 0.1;
        p.time_span_hours = bits & 8 ? kInf : 24.0;
        p.has_batches = (bits & 16) != 0;
        p.license_cleared = (bits & 32) != 0;
        profiles.push_back(p);
    }
    for (const ReadinessProfile& p : profiles) {
        const auto court = IndustrialDataReadinessCourtV1::grade(p);
        const auto judgement = IndustrialDataReadinessCourtV1::judge(p);
        ASSERT_EQ(court.findings.size(), judgement.levels.size());
        for (std::size_t i = 0; i < judgement.levels.size(); ++i) {
            EXPECT_EQ(court.findings[i].level, name(judgement.levels[i])) << kDimensions[i];
        }
        EXPECT_EQ(court.n_critical_missing, judgement.n_critical_missing);
        EXPECT_EQ(court.n_caveat, judgement.n_caveat);
        EXPECT_EQ(court.verdict, name(judgement.verdict));
        EXPECT_EQ(court.court_hash, hashing::to_hex(judgement.seal));
        EXPECT_EQ(court.seal(), court.court_hash);
    }
}

TEST(ReadinessCourt, SealStreamFraming) {
    std::string stream;
    frame(stream, "schema", "industrial_data_readiness_court_v1");
    for (const char* dim : kDimensions) {
        frame(stream, "dimension", dim);
        frame(stream, "level", "ok");
    }
    frame(stream, "n_critical_missing", std::uint64_t{0});
    frame(stream, "n_caveat", std::uint64_t{0});
    frame(stream, "verdict", "Ready");
    EXPECT_EQ(stream.size(), 970u);
    EXPECT_EQ(hashing::to_hex(hashing::sha256(stream)),
              IndustrialDataReadinessCourtV1::grade(all_present()).court_hash);
}

TEST(ReadinessCourt, MessagesNeverChangeTheSeal) {
    auto p = required_only();
    const auto before = IndustrialDataReadinessCourtV1::grade(p);
    p.missingness = 0.01;
    p.unit_coverage = 0.99;
    const auto after = IndustrialDataReadinessCourtV1::grade(p);
    EXPECT_NE(before.findings[4].message, after.findings[4].message);
    EXPECT_NE(before.findings[5].message, after.findings[5].message);
    EXPECT_EQ(before.court_hash, after.court_hash);

    auto tampered = before;
    for (auto& f : tampered.findings) f.message = "rewritten";
    EXPECT_EQ(tampered.seal(), before.court_hash);
    std::swap(tampered.findings[0], tampered.findings[1]);
    EXPECT_NE(tampered.seal(), before.court_hash);
}

// One dimension at a time: the level and message that a single field produces.
struct DimensionCase {
    const char* label;
    void (*tweak)(ReadinessProfile&);
    const char* dimension;
    const char* level;
    const char* message;
};

class ReadinessDimension : public ::testing::TestWithParam<DimensionCase> {};

TEST_P(ReadinessDimension, GradesAndExplains) {
    const auto& c = GetParam();
    auto profile = all_present();
    c.tweak(profile);
    const auto court = IndustrialDataReadinessCourtV1::grade(profile);
    const ReadinessFinding* f = finding(court, c.dimension);
    ASSERT_NE(f, nullptr) << c.dimension;
    EXPECT_EQ(f->level, c.level);
    EXPECT_EQ(f->message, c.message);
}

#define TWEAK(body) [](ReadinessProfile& p) { body; }
const char* const kSpanUnknown =
    "span not assessed (caveat; need \u2265 24 h of timestamped data for diurnal structure)";

INSTANTIATE_TEST_SUITE_P(
    Thresholds, ReadinessDimension,
    ::testing::Values(
        DimensionCase{"tags_zero", TWEAK(p.n_tags = 0), "tags_present", "critical_missing",
                      "0 tags (need \u2265 1)"},
        DimensionCase{"tags_one", TWEAK(p.n_tags = 1), "tags_present", "ok",
                      "1 tags (need \u2265 1)"},
        DimensionCase{"tags_max", TWEAK(p.n_tags = 18446744073709551615u), "tags_present", "ok",
                      "18446744073709551615 tags (need \u2265 1)"},
        DimensionCase{"rows_99", TWEAK(p.n_rows = 99), "rows_sufficient", "critical_missing",
                      "99 rows (need \u2265 100)"},
        DimensionCase{"rows_100", TWEAK(p.n_rows = 100), "rows_sufficient", "ok",
                      "100 rows (need \u2265 100)"},
        DimensionCase{"rows_1000", TWEAK(p.n_rows = 1000), "rows_sufficient", "ok",
                      "1000 rows (need \u2265 100)"},
        DimensionCase{"no_baseline", TWEAK(p.baseline_present = false), "baseline_window",
                      "critical_missing",
                      "a known-good / normal-operation window is required to fit the baseline"},
        DimensionCase{"not_cleared", TWEAK(p.license_cleared = false), "license_cleared",
                      "critical_missing",
                      "the data must be the operator's to analyse (no licence / export-control "
                      "blocker)"},
        DimensionCase{"missing_5pct", TWEAK(p.missingness = 0.05), "missingness", "ok",
                      "5.0% missing (caveat above 10%)"},
        DimensionCase{"missing_at_limit", TWEAK(p.missingness = 0.1), "missingness", "ok",
                      "10.0% missing (caveat above 10%)"},
        DimensionCase{"missing_above", TWEAK(p.missingness = 0.1000000001), "missingness", "caveat",
                      "10.0% missing (caveat above 10%)"},
        DimensionCase{"missing_nan", TWEAK(p.missingness = kNaN), "missingness", "caveat",
                      "NaN% missing (caveat above 10%)"},
        DimensionCase{"missing_negative", TWEAK(p.missingness = -0.2), "missingness", "ok",
                      "-20.0% missing (caveat above 10%)"},
        DimensionCase{"missing_negative_zero", TWEAK(p.missingness = -0.0), "missingness", "ok",
                      "-0.0% missing (caveat above 10%)"},
        DimensionCase{"missing_inf", TWEAK(p.missingness = kInf), "missingness", "caveat",
                      "inf% missing (caveat above 10%)"},
        DimensionCase{"missing_minus_inf", TWEAK(p.missingness = -kInf), "missingness", "ok",
                      "-inf% missing (caveat above 10%)"},
        DimensionCase{"coverage_95", TWEAK(p.unit_coverage = 0.95), "unit_coverage", "ok",
                      "95% of tags carry a unit (caveat below 90%; limits the unit-consistency "
                      "court + physical balances)"},
        DimensionCase{"coverage_at_limit", TWEAK(p.unit_coverage = 0.9), "unit_coverage", "ok",
                      "90% of tags carry a unit (caveat below 90%; limits the unit-consistency "
                      "court + physical balances)"},
        DimensionCase{"coverage_tie_to_even", TWEAK(p.unit_coverage = 0.125), "unit_coverage",
                      "caveat",
                      "12% of tags carry a unit (caveat below 90%; limits the unit-consistency "
                      "court + physical balances)"},
        DimensionCase{"coverage_above_one", TWEAK(p.unit_coverage = 1.5), "unit_coverage", "ok",
                      "150% of tags carry a unit (caveat below 90%; limits the unit-consistency "
                      "court + physical balances)"},
        DimensionCase{"coverage_nan", TWEAK(p.unit_coverage = kNaN), "unit_coverage", "caveat",
                      "NaN% of tags carry a unit (caveat below 90%; limits the unit-consistency "
                      "court + physical balances)"},
        DimensionCase{"duplicates_none", TWEAK(p.duplicate_timestamps = 0.0),
                      "duplicate_timestamps", "ok", "0.00% duplicate timestamps (caveat above 1%)"},
        DimensionCase{"duplicates_at_limit", TWEAK(p.duplicate_timestamps = 0.01),
                      "duplicate_timestamps", "ok", "1.00% duplicate timestamps (caveat above 1%)"},
        DimensionCase{"duplicates_above", TWEAK(p.duplicate_timestamps = 0.0101),
                      "duplicate_timestamps", "caveat",
                      "1.01% duplicate timestamps (caveat above 1%)"},
        DimensionCase{"duplicates_nan", TWEAK(p.duplicate_timestamps = kNaN),
                      "duplicate_timestamps", "caveat",
                      "NaN% duplicate timestamps (caveat above 1%)"},
        DimensionCase{"span_48", TWEAK(p.time_span_hours = 48.0), "time_span", "ok",
                      "48.0 h of data (caveat below 24 h; too short for diurnal structure)"},
        DimensionCase{"span_at_limit", TWEAK(p.time_span_hours = 24.0), "time_span", "ok",
                      "24.0 h of data (caveat below 24 h; too short for diurnal structure)"},
        DimensionCase{"span_rounds_up_to_limit", TWEAK(p.time_span_hours = 23.96), "time_span",
                      "caveat",
                      "24.0 h of data (caveat below 24 h; too short for diurnal structure)"},
        DimensionCase{"span_negative", TWEAK(p.time_span_hours = -5.0), "time_span", "caveat",
                      "-5.0 h of data (caveat below 24 h; too short for diurnal structure)"},
        DimensionCase{"span_nan", TWEAK(p.time_span_hours = kNaN), "time_span", "caveat",
                      kSpanUnknown},
        DimensionCase{"span_inf", TWEAK(p.time_span_hours = kInf), "time_span", "caveat",
                      kSpanUnknown},
        DimensionCase{"span_minus_inf", TWEAK(p.time_span_hours = -kInf), "time_span", "caveat",
                      kSpanUnknown},
        DimensionCase{"regular", TWEAK(p.sampling_regular = true), "sampling_regularity", "ok",
                      "irregular/ragged sampling is handled (multi-rate alignment) but flagged"},
        DimensionCase{"irregular", TWEAK(p.sampling_regular = false), "sampling_regularity",
                      "caveat",
                      "irregular/ragged sampling is handled (multi-rate alignment) but flagged"},
        DimensionCase{"controllers", TWEAK(p.has_controllers = true), "controller_context", "ok",
                      "available \u2014 unlocks control-loop interaction map + setpoint "
                      "separation"},
        DimensionCase{"no_controllers", TWEAK(p.has_controllers = false), "controller_context",
                      "caveat",
                      "absent \u2014 control-loop interaction map + setpoint separation "
                      "unavailable"},
        DimensionCase{"no_maintenance", TWEAK(p.has_maintenance = false), "maintenance_log",
                      "caveat",
                      "absent \u2014 maintenance-window overlays + calibration witnesses "
                      "unavailable"},
        DimensionCase{"batches", TWEAK(p.has_batches = true), "batch_genealogy", "ok",
                      "available \u2014 unlocks batch-phase envelopes + genealogy recurrence"},
        DimensionCase{"no_lab", TWEAK(p.has_lab_samples = false), "lab_samples", "caveat",
                      "absent \u2014 manual-sample bridge + soft-sensor witnesses unavailable"}),
    [](const auto& info) { return std::string(info.param.label); });
#undef TWEAK

TEST(ReadinessCourt, HugeValuesAreWrittenInFull) {
    auto p = all_present();
    p.time_span_hours = 1e300;
    p.missingness = -1e300;
    const auto court = IndustrialDataReadinessCourtV1::grade(p);
    EXPECT_EQ(court.findings[7].level, "ok");
    const auto& span = court.findings[7].message;
    EXPECT_EQ(span.find_first_not_of("0123456789"), 301u);  // 1e300 has 301 integer digits
    EXPECT_EQ(span.substr(301, 12), ".0 h of data");
    EXPECT_EQ(court.findings[4].level, "ok");
    EXPECT_EQ(court.findings[4].message.substr(0, 2), "-1");
}

TEST(ReadinessCourt, CriticalGapsOutrankCaveats) {
    auto p = everything_bad();
    p.has_controllers = true;
    auto court = IndustrialDataReadinessCourtV1::grade(p);
    EXPECT_EQ(court.verdict, "NotReadyMissingCriticalWitnesses");
    EXPECT_EQ(court.n_critical_missing, 4u);
    EXPECT_EQ(court.n_caveat, 8u);
    EXPECT_EQ(court.findings[0].message, "0 tags (need \u2265 1)");
    EXPECT_EQ(court.findings[1].message, "50 rows (need \u2265 100)");

    p = all_present();
    p.n_rows = 99;
    court = IndustrialDataReadinessCourtV1::grade(p);
    EXPECT_EQ(court.verdict, "NotReadyMissingCriticalWitnesses");
    EXPECT_EQ(court.n_caveat, 0u);
}

TEST(ReadinessCourt, EnumerationNames) {
    EXPECT_EQ(name(ReadinessLevel::Ok), "ok");
    EXPECT_EQ(name(ReadinessLevel::Caveat), "caveat");
    EXPECT_EQ(name(ReadinessLevel::CriticalMissing), "critical_missing");
    EXPECT_EQ(name(ReadinessVerdict::Ready), "Ready");
    EXPECT_EQ(name(ReadinessVerdict::ReadyWithCaveats), "ReadyWithCaveats");
    EXPECT_EQ(name(ReadinessVerdict::NotReadyMissingCriticalWitnesses),
              "NotReadyMissingCriticalWitnesses");
    ReadinessProfile defaults;
    EXPECT_TRUE(std::isnan(defaults.time_span_hours));
    EXPECT_FALSE(std::signbit(defaults.time_span_hours));
}

}  // namespace
