// The export profiler on small exports written here: layouts, cells, units, clocks, errors.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "export/state.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

ep::Result<ep::ExportProfile> profile(std::string_view csv, const ep::ProfileOptions& o = {}) {
    ep::ExportScanner s(o, "test.csv");
    s.feed(csv);
    auto partial = s.finish();
    if (!partial) return partial.error();
    return partial.value().finalize(o.declared);
}

bool same(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::abs(a - b) < 1e-12;
}

struct ProfileCase {
    const char* name;
    std::string csv;
    std::function<void(ep::ProfileOptions&)> options;
    std::uint64_t n_tags, n_rows;
    double missingness, unit_coverage, duplicates, span_hours;
    bool regular, controllers;
    std::function<void(const ep::ExportProfile&)> more;  // case-specific evidence
};

void PrintTo(const ProfileCase& c, std::ostream* os) {
    *os << c.name;
}

class ExportProfiles : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ExportProfiles, MatchTheRules) {
    const ProfileCase& c = GetParam();
    ep::ProfileOptions o;
    if (c.options) c.options(o);
    const auto r = profile(c.csv, o);
    ASSERT_TRUE(r) << r.error().reason;
    const ep::ExportProfile& p = r.value();
    EXPECT_EQ(p.n_tags.value, c.n_tags);
    EXPECT_EQ(p.n_rows.value, c.n_rows);
    EXPECT_TRUE(same(p.missingness.value, c.missingness)) << p.missingness.value;
    EXPECT_TRUE(same(p.unit_coverage.value, c.unit_coverage)) << p.unit_coverage.value;
    EXPECT_TRUE(same(p.duplicate_timestamps.value, c.duplicates)) << p.duplicate_timestamps.value;
    EXPECT_TRUE(same(p.time_span_hours.value, c.span_hours)) << p.time_span_hours.value;
    EXPECT_EQ(p.sampling_regular.value, c.regular);
    EXPECT_EQ(p.has_controllers.value, c.controllers);
    EXPECT_EQ(p.has_controllers.provenance, ep::Provenance::Inferred);
    EXPECT_EQ(p.seal.size(), 64u);
    if (c.more) c.more(p);
}

const double kNaN = std::nan("");

std::vector<ProfileCase> cases() {
    return {
        {"wide_bom_crlf_unit_and_description_rows",
         "\xEF\xBB\xBFTime,FIC1.PV,FIC1.SP,TI2\r\nDescription,flow,flow sp,temp\r\n"
         "Units,kg/h,kg/h,furlongs\r\n2024-01-01 00:00:00,1.5,2,Bad\r\n"
         "2024-01-01 00:01:00,,2,3\r\n",
         {},
         3,
         2,
         2.0 / 6,
         2.0 / 3,
         0,
         1.0 / 60,
         true,
         true,
         [](const ep::ExportProfile& p) {
             EXPECT_EQ(p.notes.metadata_rows_skipped, 1u);
             ASSERT_EQ(p.notes.unknown_units.size(), 1u);
             EXPECT_EQ(p.notes.unknown_units[0].text, "furlongs");
             ASSERT_EQ(p.notes.loops.size(), 1u);
             EXPECT_EQ(p.notes.loops[0].base, "FIC1");
             EXPECT_EQ(p.sampling_regular.provenance, ep::Provenance::Default);
             EXPECT_EQ(p.tags[0].dimension, p.tags[1].dimension);
             EXPECT_EQ(p.tags[2].missing_bad_state, 1u);
             EXPECT_EQ(p.tags[0].missing_empty, 1u);
         }},
        {"semicolon_decimal_comma_quoted_numbers",
         "Zeit;A;B\n05.03.2024 10:00:00;1,5;\"2,5\"\n05.03.2024 10:01:00;x;3\n"
         "05.03.2024 10:02:00;-1,5e3;4\n",
         [](ep::ProfileOptions& o) { o.decimal = ','; }, 2, 3, 1.0 / 6, 0, 0, 2.0 / 60, true, false,
         [](const ep::ExportProfile& p) {
             EXPECT_EQ(p.files[0].delimiter, ';');
             EXPECT_EQ(p.tags[0].missing_text, 1u);
         }},
        {"quoted_delimiters_line_breaks_and_digital_tags",
         "Time,Valve,Note\n2024-01-01 00:00,OPEN,\"a,b\nc\"\n2024-01-01 00:01,CLOSED,\"x\"\"y\"\n"
         "2024-01-01 00:02,OPEN,\"\"\n",
         {},
         2,
         3,
         1.0 / 6,
         0,
         0,
         2.0 / 60,
         true,
         false,
         [](const ep::ExportProfile& p) {
             EXPECT_FALSE(p.tags[0].numeric);
             EXPECT_EQ(p.tags[0].present, 3u);
             EXPECT_EQ(p.tags[1].present, 2u);  // the empty quoted cell is missing
             bool saw = false;
             for (const auto& t : p.notes.other_texts)
                 saw = saw || (t.text == "x\"y" && t.count == 1);
             EXPECT_TRUE(saw);
         }},
        {"quality_columns_and_declared_good_list",
         "Time,T1,T1 Quality,T2,T2.status\n2024-01-01 00:00,1,Good,2,Bad\n"
         "2024-01-01 00:01,3,192,4,ok\n2024-01-01 00:02,5,,6,G\n",
         {},
         2,
         3,
         1.0 / 6,
         0,
         0,
         2.0 / 60,
         true,
         false,
         [](const ep::ExportProfile& p) { EXPECT_EQ(p.tags[1].missing_quality, 1u); }},
        {"declared_good_list_replaces_the_default",
         "Time,T1,T1_quality\n2024-01-01 00:00,1,Good\n2024-01-01 00:01,3,valid\n",
         [](ep::ProfileOptions& o) { o.good_quality = {"valid"}; },
         1,
         2,
         0.5,
         0,
         0,
         1.0 / 60,
         true,
         false,
         {}},
        {"sentinels",
         "Time,A,B\n2024-01-01 00:00,-999,1\n2024-01-01 00:01,1,-999.0\n2024-01-01 "
         "00:02,-999.5,2\n",
         [](ep::ProfileOptions& o) { o.missing_sentinels = {-999}; }, 2, 3, 2.0 / 6, 0, 0, 2.0 / 60,
         true, false,
         [](const ep::ExportProfile& p) { EXPECT_EQ(p.tags[0].missing_sentinel, 1u); }},
        {"long_layout_units_quality_duplicates",
         "TagName,Value,Time,Quality,EU\nA,1,2024-01-01 00:00,Good,degC\n"
         "B,2,2024-01-01 00:00,Good,bar\nA,1,2024-01-01 00:00,Good,K\n"
         "A,,2024-01-01 00:01,Good,\nB,I/O Timeout,2024-01-01 00:01,Good,bar\n"
         "B,7,2024-01-01 00:02,Bad,bar\n",
         {},
         2,
         3,
         3.0 / 6,
         1.0,
         1.0 / 6,
         2.0 / 60,
         true,
         false,
         [](const ep::ExportProfile& p) {
             EXPECT_EQ(p.layout, "long");
             ASSERT_EQ(p.notes.unit_disagreements.size(), 1u);
             EXPECT_EQ(p.notes.unit_disagreements[0].other, "K");
             EXPECT_EQ(p.tags[1].missing_quality, 1u);
             EXPECT_EQ(p.sampling_regular.provenance, ep::Provenance::Derived);
         }},
        {"out_of_order_rows_are_regular",
         "Time,A\n2024-01-01 00:02,1\n2024-01-01 00:00,1\n2024-01-01 00:01,1\n"
         "2024-01-01 00:03,1\n",
         {},
         1,
         4,
         0,
         0,
         0,
         0.05,
         true,
         false,
         {}},
        {"irregular_sampling",
         "Time,A\n2024-01-01 00:00,1\n2024-01-01 00:01,1\n2024-01-01 00:02,1\n"
         "2024-01-01 00:03,1\n2024-01-01 00:10,1\n",
         {},
         1,
         5,
         0,
         0,
         0,
         10.0 / 60,
         false,
         false,
         {}},
        {"unparsed_rows_are_counted_with_lines",
         "Time,A\n2024-01-01 00:00,1\nnot a time,2\n2024-01-01 00:01,1\n\n",
         [](ep::ProfileOptions& o) { o.accept_unparsed_rows = true; }, 1, 2, 0, 0, 0, 1.0 / 60,
         true, false,
         [](const ep::ExportProfile& p) {
             EXPECT_EQ(p.notes.unparsed_rows, 1u);
             ASSERT_EQ(p.notes.first_unparsed_rows.size(), 1u);
             EXPECT_EQ(p.notes.first_unparsed_rows[0].line, 3u);
             EXPECT_EQ(p.notes.blank_lines, 1u);
         }},
        {"autumn_change_without_zone_is_a_clock_note",
         "Time,A\n2024-10-27 02:00,1\n2024-10-27 02:30,1\n2024-10-27 02:00,1\n"
         "2024-10-27 02:30,1\n2024-10-27 03:00,1\n",
         {},
         1,
         5,
         0,
         0,
         2.0 / 5,
         1.0,
         true,
         false,
         [](const ep::ExportProfile& p) {
             ASSERT_EQ(p.notes.clock_changes.size(), 1u);
             EXPECT_EQ(p.notes.clock_changes[0].line, 4u);
             EXPECT_EQ(ep::format_instant(p.notes.clock_changes[0].at_us), "2024-10-27T02:00:00Z");
         }},
        {"autumn_change_in_berlin_is_two_distinct_hours",
         "Time,A\n2024-10-27 02:00,1\n2024-10-27 02:30,1\n2024-10-27 02:00,1\n"
         "2024-10-27 02:30,1\n2024-10-27 03:00,1\n",
         [](ep::ProfileOptions& o) { o.zone_name = "Europe/Berlin"; }, 1, 5, 0, 0, 0, 2.0, true,
         false,
         [](const ep::ExportProfile& p) {
             EXPECT_TRUE(p.notes.clock_changes.empty());
             EXPECT_EQ(p.notes.repeated_hour_second, 2u);
             EXPECT_EQ(ep::format_instant(*p.tags[0].first_us), "2024-10-27T00:00:00Z");
         }},
        {"zone_from_caller_supplied_tzif_bytes",
         "Time,A\n2024-10-27 02:00,1\n2024-10-27 02:30,1\n2024-10-27 02:00,1\n",
         [](ep::ProfileOptions& o) {
             std::ifstream in("/usr/share/zoneinfo/Europe/Berlin", std::ios::binary);
             o.zone_tzif.assign(std::istreambuf_iterator<char>(in), {});
             o.zone_name = "Caller/Supplied";  // the bytes are used, not a file of this name
         },
         1, 3, 0, 0, 0, 1.0, true, false,
         [](const ep::ExportProfile& p) { EXPECT_EQ(p.notes.repeated_hour_second, 1u); }},
        {"long_autumn_change_per_tag_in_new_york",
         "tag,timestamp,value\nA,2024-11-03 01:00,1\nB,2024-11-03 01:00,1\nA,2024-11-03 01:30,1\n"
         "B,2024-11-03 01:30,1\nA,2024-11-03 01:00,1\nB,2024-11-03 01:00,1\n"
         "A,2024-11-03 01:30,1\nB,2024-11-03 01:30,1\n",
         [](ep::ProfileOptions& o) { o.zone_name = "America/New_York"; },
         2,
         4,
         0,
         0,
         0,
         1.5,
         true,
         false,
         {}},
        {"spring_gap_moves_forward",
         "Time,A\n2024-03-31 01:30,1\n2024-03-31 02:30,1\n2024-03-31 03:30,1\n",
         [](ep::ProfileOptions& o) { o.zone_name = "Europe/Berlin"; }, 1, 3, 0, 0, 1.0 / 3, 1.0,
         true, false,
         [](const ep::ExportProfile& p) { EXPECT_EQ(p.notes.nonexistent_times_moved, 1u); }},
        {"tag_list_units_take_precedence", "Time,A,B\nunits,furlongs,\n2024-01-01 00:00,1,2\n",
         [](ep::ProfileOptions& o) {
             o.tag_units = {{" A ", "kPa"}, {"B", "degC"}};
         },
         2, 1, 0, 1.0, 0, 0, true, false,
         [](const ep::ExportProfile& p) {
             EXPECT_EQ(p.tags[0].unit, "kPa");
             ASSERT_EQ(p.notes.unit_disagreements.size(), 1u);
         }},
        {"declared_fields_and_baseline_window", "Time,A\n2024-01-01 00:00,1\n2024-01-01 00:01,1\n",
         [](ep::ProfileOptions& o) {
             o.declared.license_cleared = true;
             o.declared.has_batches = false;
             o.declared.baseline_start_us = 0;
         },
         1, 2, 0, 0, 0, 1.0 / 60, true, false,
         [](const ep::ExportProfile& p) {
             EXPECT_EQ(p.license_cleared.provenance, ep::Provenance::Declared);
             EXPECT_TRUE(p.license_cleared.value);
             EXPECT_EQ(p.has_batches.provenance, ep::Provenance::Declared);
             EXPECT_EQ(p.has_maintenance.provenance, ep::Provenance::Default);
             EXPECT_EQ(p.baseline_present.provenance, ep::Provenance::Derived);
             EXPECT_FALSE(p.baseline_present.value);  // two rows, not a hundred
         }},
        // Under utf-8 given, invalid bytes are U+FFFD; by default the texts read as
        // Windows-1252 (the next case).
        {"invalid_utf8_and_ragged_rows",
         "Time,T\xff\xfe\n2024-01-01 00:00,\xc3\x28\n2024-01-01 00:01,1,extra\n"
         "2024-01-01 00:02\n",
         [](ep::ProfileOptions& o) { o.encoding = ep::Encoding::Utf8; }, 1, 3, 2.0 / 3, 0, 0,
         2.0 / 60, true, false,
         [](const ep::ExportProfile& p) {
             EXPECT_EQ(p.tags[0].name, "T\xEF\xBF\xBD\xEF\xBF\xBD");
             EXPECT_EQ(p.notes.ragged_rows, 2u);
         }},
        {"invalid_utf8_read_as_windows_1252",
         "Time,T\xff\xfe\n2024-01-01 00:00,\xc3\x28\n2024-01-01 00:01,1,extra\n"
         "2024-01-01 00:02\n",
         {},
         1,
         3,
         2.0 / 3,
         0,
         0,
         2.0 / 60,
         true,
         false,
         [](const ep::ExportProfile& p) {
             EXPECT_EQ(p.tags[0].name, "T\xC3\xBF\xC3\xBE");  // T, y and thorn
             ASSERT_EQ(p.notes.other_texts.size(), 1u);
             EXPECT_EQ(p.notes.other_texts[0].text, "\xC3\x83(");  // A tilde, (
             EXPECT_EQ(p.notes.windows_1252_texts, 2u);
         }},
        {"no_tags_only_times",
         "Time\n2024-01-01 00:00\n",
         {},
         0,
         1,
         kNaN,
         kNaN,
         0,
         0,
         true,
         false,
         {}},
    };
}

INSTANTIATE_TEST_SUITE_P(SmallExports, ExportProfiles, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadCase {
    std::string csv;
    ep::Layout layout;
    const char* reason_part;
};

class NotAnExport : public ::testing::TestWithParam<BadCase> {};

TEST_P(NotAnExport, IsAnErrorNamingTheFile) {
    ep::ProfileOptions o;
    o.layout = GetParam().layout;
    const auto r = profile(GetParam().csv, o);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().file, "test.csv");
    EXPECT_NE(r.error().reason.find(GetParam().reason_part), std::string::npos) << r.error().reason;
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, NotAnExport,
    ::testing::Values(BadCase{"", ep::Layout::Auto, "empty"},
                      BadCase{"Time,A\n", ep::Layout::Auto, "no data rows"},
                      BadCase{"Time,A", ep::Layout::Auto, "no data rows"},
                      BadCase{std::string("\x7f\x45\x4c\x46\x00\x01\x02\n\x00\x00", 10),
                              ep::Layout::Auto, "binary"},
                      BadCase{"a,b\n1,2\n3,4\n", ep::Layout::Auto, "timestamp"},
                      BadCase{"a,b\n1,2\n1,2\n1,2\n1,2\n1,2\n1,2\n1,2\n1,2\n1,2\n1,2\n1,2\n"
                              "2024-01-01,1\n",
                              ep::Layout::Auto, "11 under the header"},
                      BadCase{"Time,A\n2024-01-01,1\n", ep::Layout::Long, "long layout"}));

TEST(ExportProfile, OversizedRowIsCountedAndTheRestProfiled) {
    ep::ProfileOptions o;
    o.accept_unparsed_rows = true;  // one row of three
    ep::ExportScanner s(o, "big.csv");
    s.feed(std::string_view("Time,A\n2024-01-01 00:00,1\n2024-01-01 00:01,"));
    const std::string piece(std::size_t{1} << 20, '7');
    for (int k = 0; k < 17; ++k) s.feed(piece);
    s.feed(std::string_view("\n2024-01-01 00:02,3\n"));
    auto partial = s.finish();
    ASSERT_TRUE(partial);
    const auto p = partial.value().finalize(ep::DeclaredFields{});
    ASSERT_TRUE(p);
    EXPECT_EQ(p.value().n_rows.value, 2u);
    EXPECT_EQ(p.value().notes.oversized_rows, 1u);
    EXPECT_EQ(p.value().notes.unparsed_rows, 1u);
    EXPECT_EQ(p.value().notes.first_unparsed_rows.at(0).line, 3u);
}

TEST(ExportProfile, SealFollowsInputAndSettings) {
    const std::string csv = "Time,A\n2024-01-01 00:00,1\n2024-01-01 00:01,2\n";
    const auto a = profile(csv).value();
    EXPECT_EQ(a.seal, profile(csv).value().seal);
    ep::ProfileOptions o;
    o.missing_sentinels = {2};
    EXPECT_NE(a.seal, profile(csv, o).value().seal);
    EXPECT_NE(a.seal, profile(csv + "2024-01-01 00:02,3\n").value().seal);
    EXPECT_NE(a.input_digest, profile(csv + "\n").value().input_digest);
    EXPECT_EQ(a.unit_vocabulary.empty(), false);
    const auto r = a.readiness();
    EXPECT_EQ(r.n_rows, 2u);
    EXPECT_EQ(r.n_tags, 1u);
}

}  // namespace

// Facts keep the names table's order whichever step sets them first, a later setting replaces
// an earlier one, and only a value that departs from the classic reading is sealed.
TEST(ReadingFacts, KeepTheTableOrderAndSealOnlyDepartures) {
    std::vector<ep::ReadingFact> facts;
    ep::set_fact(facts, "layout", "long", ep::Decided::Given);
    ep::set_fact(facts, "encoding", "utf-8", ep::Decided::Default);
    ep::set_fact(facts, "delimiter", ";", ep::Decided::Detected);
    ep::set_fact(facts, "encoding", "utf-8-bom", ep::Decided::Detected);
    ASSERT_EQ(facts.size(), 3u);
    EXPECT_EQ(facts[0], (ep::ReadingFact{"encoding", "utf-8-bom", ep::Decided::Detected}));
    EXPECT_EQ(facts[1].name, "delimiter");
    EXPECT_EQ(facts[2].name, "layout");
    const struct {
        ep::ReadingFact fact;
        bool sealed;
    } cases[] = {
        {{"encoding", "utf-8", ep::Decided::Default}, false},
        {{"encoding", "utf-8-bom", ep::Decided::Detected}, false},
        {{"encoding", "utf-8-", ep::Decided::Detected}, true},
        {{"encoding", "windows-1252", ep::Decided::Detected}, true},
        {{"delimiter", "tab", ep::Decided::Given}, false},
        {{"no_such_fact", "x", ep::Decided::Given}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ep::fact_sealed(c.fact), c.sealed) << c.fact.name << "=" << c.fact.value;
}
