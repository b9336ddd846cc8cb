// Availability bins: any split merges to one scan's bins at the smallest level that fits; the
// finished counts add up to each tag's evidence; the binary section refuses what no scan makes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "export/state.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"
#include "scan_whole.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;
using ep::TimeBins;

namespace {

struct Sample {
    std::int64_t t_us;
    std::uint32_t tag;
    TimeBins::Kind kind;
};

struct InstantCase {
    const char* name;
    std::vector<Sample> samples;
    std::size_t n_tags;
};

void PrintTo(const InstantCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<Sample> make(std::initializer_list<std::int64_t> times, std::uint32_t tags) {
    std::vector<Sample> out;
    std::uint32_t k = 0;
    for (std::int64_t t : times) {
        out.push_back({t, k % tags, static_cast<TimeBins::Kind>(k % 4)});
        ++k;
    }
    return out;
}

std::vector<InstantCase> instant_cases() {
    constexpr std::int64_t kMin = 60'000'000, kDay = 86'400'000'000, kYear = 365 * kDay;
    std::vector<Sample> regular;
    for (std::int64_t i = 0; i < 200; ++i)
        if (i < 70 || i >= 130) regular.push_back({1'767'225'600'000'000 + i * kMin, 0, {}});
    std::vector<Sample> many_tags;  // 5000 tags: fewer bins each
    for (std::int64_t i = 0; i < 24; ++i)
        many_tags.push_back(
            {i * kDay, static_cast<std::uint32_t>(i * 149 % 5000), TimeBins::GoodNumber});
    return {
        {"regular_minutes_with_outage", regular, 1},
        {"milliseconds_then_years", make({5, 900, 1'700, 3 * kYear, 3 * kYear + 1, 40 * kYear}, 3),
         3},
        {"out_of_order_and_before_1970",
         make({-kDay, 7 * kDay, -3 * kYear, 2 * kMin, -1, 0, 5 * kYear, -kDay}, 2), 2},
        {"one_instant_repeated", make({kDay, kDay, kDay, kDay}, 4), 4},
        {"many_tags", many_tags, 5000},
    };
}

// With envelopes: a good number's value, -0 among them (kept as 0).
TimeBins bins_of(const std::vector<Sample>& s, std::size_t from, std::size_t to,
                 std::size_t n_tags) {
    TimeBins b;
    b.values = true;
    for (std::size_t i = from; i < to; ++i) {
        TimeBins::Counts* row = b.add_row(s[i].t_us, n_tags);
        ++row[s[i].tag][s[i].kind];
        if (s[i].kind == TimeBins::GoodNumber)
            b.extents_at(s[i].t_us, n_tags)[s[i].tag].add(i % 5 == 0 ? -0.0 : double(i % 11) - 5);
    }
    return b;
}

class BinSplits : public ::testing::TestWithParam<InstantCase> {};

TEST_P(BinSplits, EverySplitMergesToOneScanAtTheSmallestFittingLevel) {
    const auto& c = GetParam();
    const std::size_t n = c.samples.size();
    const TimeBins whole = bins_of(c.samples, 0, n, c.n_tags);
    ASSERT_TRUE(whole.any);
    EXPECT_LE(whole.rows.size(), TimeBins::max_bins(c.n_tags));
    if (whole.level > 0) {  // one level finer would not fit
        std::int64_t lo = INT64_MAX, hi = INT64_MIN;
        for (const Sample& s : c.samples) {
            const std::int64_t k =
                (s.t_us >= 0 ? s.t_us / 1000 : -((-s.t_us + 999) / 1000)) >> (whole.level - 1);
            lo = std::min(lo, k);
            hi = std::max(hi, k);
        }
        EXPECT_GT(static_cast<std::size_t>(hi - lo + 1), TimeBins::max_bins(c.n_tags));
    }
    std::uint64_t rows = 0;
    for (auto r : whole.rows) rows += r;
    EXPECT_EQ(rows, n);
    const std::vector<std::uint32_t> same = [&] {
        std::vector<std::uint32_t> ids(c.n_tags);
        for (std::uint32_t i = 0; i < ids.size(); ++i) ids[i] = i;
        return ids;
    }();
    for (std::size_t a = 0; a <= n; ++a) {
        for (std::size_t b = a; b <= n; b += 3) {
            TimeBins x = bins_of(c.samples, 0, a, c.n_tags);
            x.merge(bins_of(c.samples, a, b, c.n_tags), same, c.n_tags);
            x.merge(bins_of(c.samples, b, n, c.n_tags), same, c.n_tags);
            EXPECT_TRUE(x == whole) << a << " " << b;
            std::string blob;
            x.serialize(blob);
            std::string_view in = blob;
            TimeBins back;
            ASSERT_TRUE(back.deserialize(in, c.n_tags)) << a << " " << b;
            EXPECT_TRUE(in.empty() && back == whole);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Instants, BinSplits, ::testing::ValuesIn(instant_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BinBudget, ManyTagsKeepFewerBinsAndAtLeastTwo) {
    EXPECT_EQ(TimeBins::max_bins(1), TimeBins::kMaxBins);
    EXPECT_EQ(TimeBins::max_bins(4096), TimeBins::kMaxBins);
    EXPECT_EQ(TimeBins::max_bins(5000), 64u);
    EXPECT_EQ(TimeBins::max_bins(1'000'000), 2u);
}

ep::PartialProfile scan(const ep::ProfileOptions& o, std::string_view bytes) {
    return ep::test_support::scan_whole(o, bytes);
}

struct ExportCase {
    const char* name;
    std::string csv;
    const char* zone;
    std::vector<double> sentinels;
};

void PrintTo(const ExportCase& c, std::ostream* os) {
    *os << c.name;
}

class FinishedBins : public ::testing::TestWithParam<ExportCase> {};

// Each tag's bins add up to its evidence, whatever it turned out to be (numeric or text).
TEST_P(FinishedBins, AddUpToEachTagsEvidence) {
    ep::ProfileOptions o;
    o.zone_name = GetParam().zone;
    o.missing_sentinels = GetParam().sentinels;
    const ep::PartialProfile partial = scan(o, GetParam().csv);
    const auto back = ep::PartialProfile::deserialize(partial.serialize());
    ASSERT_TRUE(back) << back.error().reason;
    EXPECT_TRUE(back.value() == partial);
    const auto r = partial.finalize(o.declared);
    ASSERT_TRUE(r) << r.error().reason;
    const ep::ExportProfile& p = r.value();
    const ep::AvailabilityBins& a = p.availability;
    ASSERT_GT(a.bins, 0u);
    ASSERT_EQ(a.counts.size(), p.tags.size() * a.bins * 3);
    EXPECT_EQ(a.start_us % a.bin_us, 0);
    std::uint64_t rows = 0;
    for (auto n : a.rows) rows += n;
    std::uint64_t expected_rows = 0;
    for (const auto& f : p.files) expected_rows += f.data_rows;
    EXPECT_EQ(rows, expected_rows);
    for (std::size_t i = 0; i < p.tags.size(); ++i) {
        const ep::TagEvidence& t = p.tags[i];
        std::uint64_t present = 0, missing = 0, bad = 0;
        for (std::size_t b = 0; b < a.bins; ++b) {
            const std::uint32_t* c = &a.counts[(i * a.bins + b) * 3];
            present += c[0];
            missing += c[1];
            bad += c[2];
        }
        EXPECT_EQ(present, t.present) << t.name;
        EXPECT_EQ(bad, t.missing_bad_state) << t.name;
        EXPECT_EQ(missing, t.samples - t.present - t.missing_bad_state) << t.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    SmallExports, FinishedBins,
    ::testing::Values(
        ExportCase{"wide_numeric_text_and_sentinel",
                   "Time,A,B,C,C quality\n2024-01-01 00:00,1,x,-999,good\n"
                   "2024-01-01 00:10,Bad,y,2,bad\n2024-01-01 03:00,,\"\",3,good\n"
                   "2024-01-01 03:10,oops,Shutdown,-999,bad\n",
                   "UTC",
                   {-999}},
        ExportCase{"wide_column_repeated",
                   "Time,A,A,B\n2024-01-01 00:00,1,,x\n2024-01-01 02:00,,2,\n",
                   "UTC",
                   {}},
        ExportCase{"long_quality_and_repeated_hour",
                   "Tag;Time;Value;Status\nA;2024-10-27 02:00;1;good\nB;2024-10-27 02:00;x;good\n"
                   "A;2024-10-27 02:30;2;bad\nA;2024-10-27 02:00;3;\nB;2024-10-27 02:30;y;bad\n"
                   "A;2024-10-28 09:00;N/A;good\n",
                   "Europe/Berlin",
                   {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Sections no scan can make, with a valid digest around them.
TEST(BinSection, RefusesCountsNoScanMakes) {
    const ep::ProfileOptions o;
    const ep::PartialProfile p = scan(o,
                                      "Time,A,B\n2024-01-01 00:00,1,2\n2024-01-01 01:00,,3\n"
                                      "2024-01-01 05:00,4,x\n");
    ASSERT_TRUE(ep::PartialProfile::deserialize(p.serialize()));
    struct Damage {
        const char* what;
        void (*apply)(TimeBins&);
    };
    const Damage damages[] = {
        {"a row more than were parsed", [](TimeBins& b) { ++b.rows[1]; }},
        {"a tag with more samples than rows", [](TimeBins& b) { b.tags.front()[0][0] += 5; }},
        {"fewer samples within reach than rows", [](TimeBins& b) { b.reach.front() = 0; }},
        {"an empty first bin",
         [](TimeBins& b) {
             b.rows.insert(b.rows.begin(), 0);
             b.tags.insert(b.tags.begin(), std::vector<TimeBins::Counts>{});
             --b.first;
         }},
        {"more bins than the budget",
         [](TimeBins& b) {
             const std::size_t n = b.rows.size();
             b.rows.resize(TimeBins::kMaxBins + 1, 0);
             b.tags.resize(b.rows.size());
             std::swap(b.rows[n - 1], b.rows.back());
             std::swap(b.tags[n - 1], b.tags.back());
         }},
        {"a tag beyond the tags",
         [](TimeBins& b) {
             b.tags.back().resize(3);
             b.tags.back()[2][3] = 1;
         }},
        {"a level no instant reaches", [](TimeBins& b) { b.level = 60; }},
        {"an envelope whose least passes its greatest",
         [](TimeBins& b) {
             b.extents.front()[0] = {2.0, 1.0};
         }},
        {"an envelope at -0",
         [](TimeBins& b) {
             b.extents.front()[0] = {-0.0, 1.0};
         }},
        {"an envelope of NaN",
         [](TimeBins& b) {
             b.extents.front()[0] = {NAN, NAN};
         }},
        {"an envelope of an infinity", [](TimeBins& b) { b.extents.front()[1].hi = INFINITY; }},
    };
    for (const Damage& d : damages) {
        ep::PartialProfile bad = p;
        d.apply(bad.state().bins);
        EXPECT_FALSE(ep::PartialProfile::deserialize(bad.serialize())) << d.what;
    }
}

}  // namespace
