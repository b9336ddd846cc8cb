// The long records' lean path against the exact one: each export is scanned both ways (whole and
// in every two pieces) and the partial profiles must be equal. The cases sit on the lean path's
// edges: a repeated time text, a predicted tag, a remembered quality verdict.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "export/state.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

struct LongCase {
    const char* name;
    std::string csv;
    const char* zone = "UTC";
};

void PrintTo(const LongCase& c, std::ostream* os) {
    *os << c.name;
}

ep::PartialProfile scan(const LongCase& c, std::size_t cut, bool exact) {
    std::optional<ep::ExactCells> guard;
    if (exact) guard.emplace();
    ep::ProfileOptions o;
    o.layout = ep::Layout::Long;
    o.zone_name = c.zone;
    ep::ExportScanner s(o, "l.csv");
    s.feed(std::string_view(c.csv).substr(0, cut));
    s.feed(std::string_view(c.csv).substr(cut));
    auto r = s.finish();
    EXPECT_TRUE(r) << (r ? "" : r.error().reason);
    return r ? std::move(r).value() : ep::PartialProfile();
}

const std::string kHead = "Tag,Timestamp,Value,Quality,Units\n";

std::vector<LongCase> long_cases() {
    return {
        {"cycle", kHead + "A,2026-01-05 00:00:00,1,Good,kPa\nB,2026-01-05 00:00:00,2,Good,bar\n"
                          "A,2026-01-05 00:01:00,3,Good,kPa\nB,2026-01-05 00:01:00,4,Bad,bar\n"},
        // The predicted tag's name with a blank, quoted, or another tag's.
        {"padded_and_quoted_names",
         kHead + "A,2026-01-05 00:00:00,1,Good,kPa\nB,2026-01-05 00:00:00,2,Good,bar\n"
                 "A,2026-01-05 00:01:00,3,Good,kPa\n B,2026-01-05 00:01:00,4,Good,bar\n"
                 "\"A\",2026-01-05 00:01:00,5,Good,kPa\nB ,2026-01-05 00:01:00,6,Good,bar\n"
                 "C,2026-01-05 00:01:00,7,Good,m\n,2026-01-05 00:01:00,8,Good,m\n"},
        // The same instant written otherwise, and a time text that does not parse, repeated.
        {"time_texts", kHead +
                           "A,2026-01-05 00:00:00,1,Good,kPa\nB,2026-01-05 00:00:00,2,Good,bar\n"
                           "A,\"2026-01-05 00:00:00\",3,Good,kPa\nB, 2026-01-05 00:00:00,4,,\n"
                           "A,2026-01-05 00:01:00,5,Good,kPa\nB,soon,6,Good,bar\n"
                           "B,soon,7,Good,bar\nA,Average,8,,\n"},
        // Quality texts one byte apart, padded, quoted, longer than a word, and units likewise.
        {"quality_and_units",
         kHead + "A,2026-01-05 00:00:00,1,Good,kPa\nB,2026-01-05 00:00:00,2,Goodx,bar\n"
                 "A,2026-01-05 00:01:00,3,good,kPa \nB,2026-01-05 00:01:00,4, Good,bar\n"
                 "A,2026-01-05 00:02:00,x,\"Bad\",\"kPa\"\nB,2026-01-05 00:02:00,,Uncertain,bar\n"
                 "A,2026-01-05 00:03:00,-1e3,Questionable,degC\nB,2026-01-05 00:03:00,5,Bad,bar\n"},
        // Ragged rows, carriage returns, a stray quote's run.
        {"ragged_and_returns",
         kHead + "A,2026-01-05 00:00:00,1,Good,kPa\r\nB,2026-01-05 00:00:00,2,Good\r\n"
                 "A,2026-01-05 00:00:00,3,Good,kPa,extra\r\nB,2026-01-05 00:00:00,4,Good,bar\r\r\n"
                 "A,2026-01-05 00:01:00,\"5,Good,kPa\nB,2026-01-05 00:01:00,6,Good,bar\n"},
        // Slash dates (day/month evidence per record) and the repeated hour of an autumn change.
        {"slash_dates_and_clock_change",
         kHead + "A,05/01/2026 00:00,1,Good,kPa\nB,05/01/2026 00:00,2,Good,bar\n"
                 "A,25/10/2026 02:30,3,Good,kPa\nB,25/10/2026 02:30,4,Good,bar\n"
                 "A,25/10/2026 02:30,5,Good,kPa\nB,25/10/2026 02:30,6,Good,bar\n",
         "Europe/Berlin"},
    };
}

class LongRecords : public ::testing::TestWithParam<LongCase> {};

TEST_P(LongRecords, LeanPathEqualsExact) {
    const LongCase& c = GetParam();
    const ep::PartialProfile exact = scan(c, c.csv.size(), true);
    for (std::size_t cut = 0; cut <= c.csv.size(); ++cut)
        ASSERT_TRUE(scan(c, cut, false) == exact) << "cut at " << cut;
}

INSTANTIATE_TEST_SUITE_P(Exports, LongRecords, ::testing::ValuesIn(long_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
