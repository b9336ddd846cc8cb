// Partial profiles from elsewhere: a state a scan could not have left is refused by name when
// read, and by finalize when merged in process; time axes merge by runs and are read from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "export/state.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"
#include "scan_whole.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

// A minute apart with one step back (a clock-change note) and one text cell.
const std::string kWide =
    "Time,FT1.PV,FT1.SP\n2026-03-01 00:00:00,1,2\n2026-03-01 00:01:00,2,hello\n"
    "2026-03-01 00:02:00,3,4\n2026-03-01 00:03:00,4,5\n2026-03-01 00:01:30,5,6\n";
const std::string kLong =
    "Tag,Time,Value\nA,2026-03-01 00:00:00,1\nB,2026-03-01 00:00:00,2\n"
    "A,2026-03-01 00:01:00,3\nA,2026-03-01 00:00:30,4\n";

ep::PartialProfile scan(const std::string& csv) {
    return ep::test_support::scan_whole(ep::ProfileOptions{}, csv);
}

struct Crafted {
    const char* name;
    const std::string* csv;  // null: the empty partial
    std::function<void(ep::PartialProfile::State&)> edit;
    const char* reason;
    bool finalize_refuses;  // the same state merged in process is refused too
};

void PrintTo(const Crafted& c, std::ostream* os) {
    *os << c.name;
}

std::vector<Crafted> crafted_cases() {
    using State = ep::PartialProfile::State;
    return {
        {"wide_clock_note_on_a_tag", &kWide, [](State& s) { s.clock.at(0).stream = 0; },
         "clock change 0 names a stream or line its file does not have", true},
        {"long_clock_note_on_the_rows", &kLong,
         [](State& s) { s.clock.at(0).stream = ep::kRowStream; },
         "clock change 0 names a stream or line its file does not have", true},
        {"zero_step_run_of_2_40_on_claimed_bytes", &kWide,
         [](State& s) {
             s.rows.runs.at(0) = {s.rows.runs[0].start, 0, std::uint64_t{1} << 40};
             s.files[0].bytes = std::uint64_t{1} << 50;
         },
         "file 0 claims more bytes than it has block digests for", false},
        {"more_instants_than_rows", &kWide,
         [](State& s) { s.rows.runs.at(0).count = std::uint64_t{1} << 31; },
         "the instants are not one a parsed row", true},
        {"instants_past_64_bits", &kWide,
         [](State& s) {
             s.rows.runs.at(0) = {std::int64_t{1} << 62, std::int64_t{1} << 62, 4};
         },
         "the row axis run 0 leaves the range of instants", true},
        {"a_run_that_continues_the_one_before", &kWide,
         [](State& s) {
             ep::TimeAxis::Run& r = s.rows.runs.at(0);
             r.count -= 2;
             s.rows.runs.insert(s.rows.runs.begin() + 1,
                                {r.start + r.step * static_cast<std::int64_t>(r.count), r.step, 2});
         },
         "the row axis run 1 continues the run before it", true},
        {"more_sentinels_than_numbers", &kWide,
         [](State& s) { s.tags.at(0).sentinel = s.tags[0].numbers + 1; },
         "tag 0 has cell counts that do not add up", true},
        {"texts_not_counted_by_tags", &kWide, [](State& s) { s.texts["other"] = 1; },
         "the texts noted do not add up", true},
        {"more_rows_than_bytes", &kWide,
         [](State& s) { s.files.at(0).bytes = s.files[0].data_rows - 1; },
         "file 0 claims more lines or rows than bytes", true},
        {"a_cut_row_in_a_piece_from_the_start", &kWide,
         [](State& s) {
             s.head = {"x", 1, 0};
         },
         "a piece that begins at a file's start has a cut row", true},
        {"a_tail_shorter_than_its_length", &kLong,
         [](State& s) {
             s.tail = {"A,1", 9, 0};
         },
         "the unfinished last row disagrees with its length", true},
        {"units_out_of_order", &kLong,
         [](State& s) {
             s.tags.at(0).unit = std::string("K");
             s.tags[0].other_units = {"degC", "bar"};
         },
         "tag 0 has units that are not a scan's", true},
        {"a_clock_note_past_the_last_line", &kWide,
         [](State& s) { s.clock.at(0).at.line = s.files[0].lines + 1; },
         "clock change 0 names a stream or line its file does not have", true},
        {"unparsed_rows_noted_but_not_counted", &kWide,
         [](State& s) {
             s.first_unparsed.push_back({0, 3});
         },
         "the unparsed rows noted are not the first of those counted", true},
        {"an_empty_partial_with_a_tag", nullptr,
         [](State& s) { s.tags.emplace_back().name = std::string("A"); },
         "a partial that scanned nothing holds data", false},
    };
}

class CraftedPartial : public ::testing::TestWithParam<Crafted> {};

TEST_P(CraftedPartial, IsRefusedByName) {
    const Crafted& c = GetParam();
    ep::PartialProfile p = c.csv ? scan(*c.csv) : ep::PartialProfile();
    // Untouched, the partial reads back as it was: the edit alone is refused.
    auto same = ep::PartialProfile::deserialize(p.serialize());
    ASSERT_TRUE(same) << same.error().reason;
    ASSERT_TRUE(same.value() == p);
    c.edit(p.state());
    auto back = ep::PartialProfile::deserialize(p.serialize());
    ASSERT_FALSE(back) << "accepted";
    EXPECT_EQ(back.error().reason, std::string("corrupt partial profile: ") + c.reason);
    if (c.finalize_refuses) {
        auto done = p.finalize(ep::DeclaredFields{});
        ASSERT_FALSE(done) << "finalised";
        EXPECT_EQ(done.error().reason,
                  std::string("the partial profile is inconsistent: ") + c.reason);
    }
}

INSTANTIATE_TEST_SUITE_P(Edits, CraftedPartial, ::testing::ValuesIn(crafted_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Appending instant by instant: what append_axis must equal.
ep::TimeAxis one_by_one(ep::TimeAxis a, const ep::TimeAxis& later) {
    for (const auto& run : later.runs)
        for (std::uint64_t i = 0; i < run.count; ++i)
            a.append(run.start + run.step * static_cast<std::int64_t>(i));
    return a;
}

TEST(TimeAxis, AppendAxisEqualsAppendingEachInstant) {
    using Runs = std::vector<ep::TimeAxis::Run>;
    const std::vector<std::pair<Runs, Runs>> table = {
        {{}, {{5, 0, 4}}},
        {{{1, 2, 3}}, {{7, 0, 5}}},
        {{{5, 0, 3}}, {{5, 0, 4}, {6, 1, 3}}},
        {{{1, 2, 3}, {4, 0, 1}}, {{4, 0, 3}}},
        {{{1, 1, 3}}, {{4, 1, 5}, {8, 0, 2}}},
        {{{0, 3, 2}}, {{6, 3, 4}}},
    };
    for (const bool collapse : {false, true}) {
        for (const auto& [left, right] : table) {
            ep::TimeAxis a{left, collapse};
            const ep::TimeAxis b{right, collapse};
            const ep::TimeAxis want = one_by_one(a, b);
            a.append_axis(b);
            EXPECT_TRUE(a == want)
                << left.size() << " + " << right.size() << " runs, collapse " << collapse;
        }
    }
}

TEST(TimeAxis, ZeroStepRunsMergeInTimeOfTheirRuns) {
    // 2^40 repeats: replayed one by one this would not finish.
    const std::uint64_t n = std::uint64_t{1} << 40;
    for (const bool collapse : {false, true}) {
        ep::TimeAxis a{{{1, 1, 3}}, collapse};
        a.append_axis(ep::TimeAxis{{{9, 0, n}}, collapse});
        EXPECT_EQ(a.size(), collapse ? 4 : 3 + n);
        EXPECT_EQ(a.last(), 9);
    }
}

// Finalize reads an axis from its runs where they do not overlap once turned ascending and
// copies set aside; the figures must equal those of every instant sorted. `runs` says which
// way the axis is read.
TEST(TimeAxis, FactsFromRunsEqualTheExpandedOnes) {
    using Runs = std::vector<ep::TimeAxis::Run>;
    struct Case {
        const char* name;
        Runs runs;
        bool runs_used;
    };
    const std::vector<Case> table = {
        {"empty", {}, true},
        {"one instant", {{7, 0, 1}}, true},
        {"regular", {{0, 60, 1000}}, true},
        {"newest first", {{60000, -60, 1000}}, true},
        {"gap then regular", {{0, 60, 10}, {1000, 60, 10}}, true},
        {"second run starts on the last instant", {{0, 60, 10}, {540, 30, 5}}, true},
        {"repeats of one instant", {{5, 0, 4}, {6, 1, 3}}, true},
        {"tag-major copies", {{0, 60, 50}, {0, 60, 50}, {0, 60, 50}}, true},
        {"copies out of order", {{3000, 60, 5}, {0, 60, 50}, {3000, 60, 5}}, true},
        {"newest-first copies", {{2940, -60, 50}, {2940, -60, 50}}, true},
        {"jitter", {{0, 60, 2}, {121, 59, 2}, {241, 61, 2}}, true},
        {"modal tie takes the smaller step", {{0, 10, 3}, {40, 20, 2}}, true},
        {"interleaved grids", {{0, 60, 50}, {30, 60, 50}}, false},
        {"overlapping lengths", {{0, 60, 50}, {0, 60, 10}}, false},
        {"a step back into the run", {{0, 60, 50}, {600, 7, 3}}, false},
    };
    for (const Case& c : table) {
        for (const bool collapse : {false, true}) {
            const ep::TimeAxis axis{c.runs, collapse};
            bool from_runs = !c.runs_used;
            const ep::AxisFacts got = ep::axis_facts(axis, &from_runs);
            const ep::AxisFacts want = ep::axis_facts_expanded(axis);
            EXPECT_EQ(from_runs, c.runs_used) << c.name;
            EXPECT_EQ(got.size, want.size) << c.name;
            EXPECT_EQ(got.lo, want.lo) << c.name;
            EXPECT_EQ(got.hi, want.hi) << c.name;
            EXPECT_EQ(got.sampling.distinct, want.sampling.distinct) << c.name;
            EXPECT_EQ(got.sampling.steps, want.sampling.steps) << c.name;
            EXPECT_EQ(got.sampling.modal, want.sampling.modal) << c.name;
            EXPECT_EQ(got.sampling.regular, want.sampling.regular) << c.name;
            const std::vector<std::int64_t> all = axis.sorted();
            for (std::int64_t t : {0, 5, 30, 59, 60, 540, 2940, 3000, 3001}) {
                const auto r = std::equal_range(all.begin(), all.end(), t);
                EXPECT_EQ(ep::axis_repeats(axis, t), r.second - r.first >= 2) << c.name << " " << t;
            }
        }
    }
    // The figures themselves, on two of them.
    const ep::AxisFacts copies = ep::axis_facts(ep::TimeAxis{{{0, 60, 50}, {0, 60, 50}}, false});
    EXPECT_EQ(copies.size, 100u);
    EXPECT_EQ(copies.sampling.distinct, 50u);
    EXPECT_EQ(copies.sampling.modal, 60);
    // Steps 10, 10, 20, 20: a tie, which the smaller step takes.
    const ep::AxisFacts tie = ep::axis_facts(ep::TimeAxis{{{0, 10, 3}, {40, 20, 2}}, false});
    EXPECT_EQ(tie.sampling.modal, 10);
    EXPECT_EQ(tie.hi, 60);
}

}  // namespace
