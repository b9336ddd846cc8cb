// Signal health per tag: exact sums, the accumulator's merge at every cut, and small exports
// with planted frozen runs, interpolated stretches, impossible values, constant and state tags.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "export/cells.hpp"
#include "export/health.hpp"
#include "export/state.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

struct Sample {
    std::int64_t t;
    double v;
};

ep::TagHealth fed(const std::vector<Sample>& s, std::size_t from, std::size_t to,
                  const ep::ValueLimits& limits = {}) {
    ep::TagHealth h;
    for (std::size_t i = from; i < to; ++i) h.add(s[i].t, s[i].v, limits);
    return h;
}

// Samples a minute apart with a frozen run across the middle, a straight stretch, a repeat of
// the first value and a few values K rules out.
std::vector<Sample> mixed_samples() {
    std::vector<Sample> s;
    const double noise[] = {3.25, 1.5, 4.75, 2.0, 9.5, 0.25, 7.0};
    for (int i = 0; i < 240; ++i) {
        double v = noise[i % 7] + i;
        if (i >= 20 && i < 150) v = 42.5;      // frozen: 129 minutes, 130 samples
        if (i >= 160 && i < 200) v = 0.5 * i;  // a straight line
        if (i == 210 || i == 230) v = -1.0;    // below absolute zero in K
        s.push_back({std::int64_t{i} * 60'000'000, v});
    }
    s[5].t += 30'000'000;  // one uneven step pair
    return s;
}

TEST(ExactSum, OrderAndSplitNeverChangeTheSum) {
    // Naive left-to-right summation gives 0 for the first order and 1 for the second.
    const std::vector<std::vector<double>> orders = {
        {1e16, 1, -1e16}, {1, 1e16, -1e16}, {-1e16, 1e16, 1}, {1e308, 1e308, -1e308, -1e308, 1}};
    for (const auto& values : orders) {
        ep::ExactSum whole;
        for (double v : values) whole.add(v);
        EXPECT_EQ(whole.value(), 1.0);
        for (std::size_t cut = 0; cut <= values.size(); ++cut) {
            ep::ExactSum a, b;
            for (std::size_t i = 0; i < values.size(); ++i) (i < cut ? a : b).add(values[i]);
            a.add(b);
            EXPECT_TRUE(a == whole) << cut;
        }
    }
    ep::ExactSum tiny;
    tiny.add(5e-324);
    tiny.add(5e-324);
    tiny.add(-1e-300);
    EXPECT_EQ(tiny.value(), -1e-300 + 1e-323);
}

TEST(ExactSum, TermsHeldByExponentCarryAsEachTermAlone) {
    // Runs of one exponent (held as an integer until it changes), alternating exponents,
    // subnormals, the extremes, and two million squares of one value (carried before the held
    // integer could overflow): each sum against the same terms added one sum at a time.
    std::mt19937_64 rng(20261208);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    std::vector<std::vector<double>> cases(5);
    for (int i = 0; i < 5000; ++i) cases[0].push_back(uniform(64, 128));
    for (int i = 0; i < 5000; ++i) cases[1].push_back(uniform(-200, 200));
    for (int i = 0; i < 2000; ++i)
        cases[2].push_back(std::ldexp(uniform(-1, 1), static_cast<int>(rng() % 2098) - 1074));
    cases[3] = {5e-324, 1e-310, -5e-324, 1.7e308, 1.7e308, -1.7e308, 0.0, -0.0, 1e-300, 3.0};
    cases[4].assign(2'200'000, 9007199254740991.0);  // 2^53 - 1: squares near 2^106
    for (std::size_t c = 0; c < cases.size(); ++c) {
        ep::ExactSum sum, squares, sum_ref, squares_ref;
        for (double v : cases[c]) {
            sum.add(v);
            ep::ExactSum one;
            one.add(v);
            sum_ref.add(one);
            const auto e = static_cast<unsigned>((std::bit_cast<std::uint64_t>(v) >> 52) & 0x7FF);
            if (e < ep::ExactSum::kSquareLow || e > ep::ExactSum::kSquareHigh) continue;
            squares.add_square(v);
            const double hi = v * v;
            ep::ExactSum split;
            split.add(hi);
            split.add(std::fma(v, v, -hi));
            squares_ref.add(split);
        }
        EXPECT_TRUE(sum == sum_ref) << c;
        EXPECT_TRUE(squares == squares_ref) << c;
        EXPECT_EQ(sum.value(), sum_ref.value()) << c;
    }
}

TEST(PlainValue, ReadsAsTheExactParserAndTheDecimalsOfItsValue) {
    // Fixed cases, then random plain decimals of up to 15 bytes with either separator: each
    // read must give the exact parser's value and decimals_of of it; other texts are left.
    std::vector<std::pair<std::string, char>> texts = {
        {"98.282", '.'}, {"110.70", '.'}, {"-0.000", '.'}, {"+5", '.'},
        {"007.50", '.'}, {"0", '.'},      {"12,5", ','},   {"999999999999999", '.'}};
    const std::vector<std::string> refused = {
        "", ".", "-", "1e5", "1.2.3", " 1", "1 ", "1234567890123456", "nan", "--1"};
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const char sep = i % 2 ? '.' : ',';
        std::string t = rng() % 4 == 0 ? "-" : "";
        const std::size_t digits = 1 + rng() % 13, point = rng() % (digits + 1);
        for (std::size_t k = 0; k < digits; ++k) {
            if (k == point && k > 0) t += sep;
            t += static_cast<char>('0' + (rng() % 3 == 0 ? 0 : rng() % 10));
        }
        texts.emplace_back(t, sep);
    }
    for (const auto& [text, sep] : texts) {
        const auto plain = ep::plain_value_of(text, sep);
        ASSERT_TRUE(plain) << text;
        const auto exact = ep::to_double(text, sep);
        ASSERT_TRUE(exact) << text;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(plain->v), std::bit_cast<std::uint64_t>(*exact))
            << text;
        EXPECT_EQ(plain->decimals, ep::decimals_of(*exact)) << text;
    }
    for (const auto& text : refused) EXPECT_FALSE(ep::plain_value_of(text, '.')) << text;
    EXPECT_FALSE(ep::plain_value_of("1.5", ','));
}

TEST(TagHealthStats, MeanAndStdAreTheExactSumsRoundedOnce) {
    std::vector<Sample> s = {{0, 1e16}, {1, 1}, {2, -1e16}};
    const ep::TagHealth h = fed(s, 0, s.size());
    EXPECT_EQ(h.mean(), 1.0 / 3.0);  // a naive sum gives 0
    // Mean 1/3; squares 2e32 + 1: variance (3 (2e32 + 1) - 1) / 6.
    EXPECT_EQ(h.std_dev(), std::sqrt(1e32));
    const ep::TagHealth one = fed(s, 0, 1);
    EXPECT_EQ(one.mean(), 1e16);
    EXPECT_TRUE(std::isnan(one.std_dev()));
    EXPECT_TRUE(std::isnan(ep::TagHealth{}.mean()));
    std::vector<Sample> small = {{0, 0.1}, {1, 0.2}, {2, 0.3}, {3, 0.4}};
    const ep::TagHealth q = fed(small, 0, small.size());
    EXPECT_EQ(q.mean(), 0.25);
    EXPECT_NEAR(q.std_dev(), std::sqrt(0.05 / 3), 1e-17);
}

TEST(TagHealthMerge, EveryCutAndThreePiecesGiveOneScan) {
    const ep::ValueLimits kelvin = ep::value_limits("K");
    const std::vector<Sample> s = mixed_samples();
    const ep::TagHealth whole = fed(s, 0, s.size(), kelvin);
    for (std::size_t cut = 0; cut <= s.size(); ++cut) {
        ep::TagHealth a = fed(s, 0, cut, kelvin);
        a.merge(fed(s, cut, s.size(), kelvin));
        ASSERT_TRUE(a == whole) << "cut at " << cut;
        for (std::size_t cut2 = cut; cut2 <= s.size(); cut2 += 37) {
            ep::TagHealth m = fed(s, cut, cut2, kelvin);
            m.merge(fed(s, cut2, s.size(), kelvin));
            ep::TagHealth l = fed(s, 0, cut, kelvin);
            l.merge(m);
            ASSERT_TRUE(l == whole) << cut << " " << cut2;
        }
    }
    // What one scan of these samples shows, counted by hand.
    EXPECT_EQ(whole.longest_run(),
              (std::pair<std::int64_t, std::uint64_t>{std::int64_t{129} * 60'000'000, 130}));
    EXPECT_EQ(whole.frozen_time(), std::uint64_t{129} * 60'000'000);
    EXPECT_EQ(whole.modal_step(), std::optional<std::int64_t>(60'000'000));
    EXPECT_EQ(whole.impossible, 2u);
    EXPECT_EQ(whole.first_impossible,
              (std::vector<std::int64_t>{210 * 60'000'000LL, 230 * 60'000'000LL}));
    // The line's 38 inner samples (161 to 198) lie on it; nothing else does.
    EXPECT_EQ(whole.interpolated, 38u);
}

struct HealthCase {
    const char* name;
    std::string csv;
    ep::Layout layout;
    std::vector<std::string> frozen, interpolated, impossible;  // the notes
    std::function<void(const std::vector<ep::TagEvidence>&)> more;
};

void PrintTo(const HealthCase& c, std::ostream* os) {
    *os << c.name;
}

const ep::TagEvidence& tag(const std::vector<ep::TagEvidence>& tags, std::string_view name) {
    for (const auto& t : tags)
        if (t.name == name) return t;
    static const ep::TagEvidence none;
    ADD_FAILURE() << "no tag " << name;
    return none;
}

std::string minute(int i) {
    char b[32];
    std::snprintf(b, sizeof b, "2026-01-01 %02d:%02d:00", i / 60, i % 60);
    return b;
}

// 240 rows a minute apart: F frozen for 130 minutes, L on straight lines, K and C below
// absolute zero, P above 100%, Z constant, a loop whose SP holds long, a mode tag.
std::string wide_export() {
    std::string csv =
        "Time,F,L,K,C,P,Z,FIC1.PV,FIC1.SP,MODE_A\nunits,m,m,K,degC,wt%,m,kg/h,kg/h,\n";
    const double noise[] = {3.25, 1.5, 4.75, 2.0, 9.5, 0.25, 7.0};
    for (int i = 0; i < 240; ++i) {
        char row[256];
        const double n = noise[i % 7] + i * 0.01;
        const double f = i >= 30 && i < 160 ? 12.5 : n;
        const double l = i < 120 ? 0.25 * i : 30.0 - 0.125 * (i - 120);
        const double k = i == 3 || i == 7 ? -0.5 : 300 + n;
        const double c = i == 11 ? -280.0 : n;
        const double p = i == 13 ? 130.0 : 50 + n;
        std::snprintf(row, sizeof row, "%s,%.2f,%.3f,%.2f,%.2f,%.2f,7,%.2f,%.1f,%d\n",
                      minute(i).c_str(), f, l, k, c, p, 50 + n, i < 200 ? 50.5 : 60.5, i / 100);
        csv += row;
    }
    return csv;
}

// Records of A stored by exception (uneven instants), B on a one-minute grid with % values
// out of range, C constant, in a long export.
std::string long_export() {
    std::string csv = "Tag,Time,Value,Unit\n";
    const int a_at[] = {0, 1, 2, 30, 31, 90, 200, 201, 230};
    for (int i : a_at) csv += "A," + minute(i) + "," + std::to_string(i % 5 + 0.5) + ",bar\n";
    for (int i = 0; i < 30; ++i) {
        const double v = i == 4 ? -3 : i == 9 ? 101 : 40 + (i * 7) % 11 + 0.5;
        csv += "B," + minute(i) + "," + std::to_string(v) + ",wt%\n";
        csv += "C," + minute(i) + ",3.5,m\n";
    }
    return csv;
}

std::string paired_export() {
    std::string csv = "Time,A,Time,B\n";
    for (int i = 0; i < 25; ++i) {
        csv += minute(2 * i) + "," + (i == 2 ? "-4" : std::to_string(280 + i % 3)) + ",";
        csv += minute(i) + "," + std::to_string(20.0 + 0.5 * i) + "\n";
    }
    return csv;
}

std::vector<HealthCase> health_cases() {
    return {
        {"wide",
         wide_export(),
         ep::Layout::Wide,
         {"F"},
         {"L"},
         {"C", "K", "P"},
         [](const std::vector<ep::TagEvidence>& t) {
             const ep::TagEvidence& f = tag(t, "F");
             EXPECT_EQ(f.frozen_longest_seconds, 129 * 60.0);
             EXPECT_EQ(f.frozen_longest_samples, 130u);
             EXPECT_DOUBLE_EQ(f.frozen_share, 129.0 / 239.0);
             EXPECT_EQ(f.modal_step_seconds, 60.0);
             EXPECT_EQ(f.numeric_samples, 240u);
             EXPECT_EQ(f.first_value, 3.25);
             EXPECT_EQ(f.last_value, 3.89);
             EXPECT_EQ(f.min, 0.3);
             // 238 judged; only the corner (row 120) lies off its neighbours' line.
             const ep::TagEvidence& l = tag(t, "L");
             EXPECT_EQ(l.interpolated_judged, 238u);
             EXPECT_DOUBLE_EQ(l.interpolated_share, 237.0 / 238.0);
             EXPECT_FALSE(l.state_tag);
             EXPECT_EQ(tag(t, "K").impossible_values, 2u);
             EXPECT_EQ(tag(t, "K").first_impossible_us.size(), 2u);
             EXPECT_EQ(tag(t, "K").value_limits, "absolute temperature");
             EXPECT_EQ(tag(t, "C").impossible_values, 1u);
             EXPECT_EQ(tag(t, "P").impossible_values, 1u);
             EXPECT_EQ(tag(t, "P").suspicious_values, 0u);
             const ep::TagEvidence& z = tag(t, "Z");
             EXPECT_TRUE(z.constant);
             EXPECT_EQ(z.std, 0.0);
             EXPECT_EQ(z.mean, 7.0);
             EXPECT_EQ(z.frozen_share, 239.0 / 239.0);  // held all along, yet not noted
             EXPECT_TRUE(tag(t, "FIC1.SP").state_tag);  // a loop's set point
             EXPECT_FALSE(tag(t, "FIC1.SP").constant);
             EXPECT_TRUE(tag(t, "MODE_A").state_tag);  // three whole values
             EXPECT_FALSE(tag(t, "FIC1.PV").state_tag);
         }},
        {"long",
         long_export(),
         ep::Layout::Long,
         {},
         {"A"},
         {"B"},
         [](const std::vector<ep::TagEvidence>& t) {
             const ep::TagEvidence& a = tag(t, "A");
             EXPECT_TRUE(a.compressed);  // steps from 1 to 110 minutes
             EXPECT_EQ(a.modal_step_seconds, 60.0);
             EXPECT_EQ(tag(t, "B").impossible_values, 2u);
             EXPECT_FALSE(tag(t, "B").compressed);
             EXPECT_TRUE(tag(t, "C").constant);
             EXPECT_EQ(tag(t, "C").frozen_longest_seconds, 29 * 60.0);
             EXPECT_EQ(tag(t, "C").value_limits, "");
         }},
        {"paired",
         paired_export(),
         ep::Layout::Paired,
         {},
         {"B"},
         {"A"},
         [](const std::vector<ep::TagEvidence>& t) {
             EXPECT_EQ(tag(t, "A").modal_step_seconds, 120.0);
             EXPECT_EQ(tag(t, "A").impossible_values, 1u);
             EXPECT_EQ(tag(t, "B").interpolated_judged, 23u);
             EXPECT_EQ(tag(t, "B").interpolated_share, 1.0);
             EXPECT_EQ(tag(t, "B").mean, 26.0);
         }},
    };
}

class HealthExports : public ::testing::TestWithParam<HealthCase> {};

TEST_P(HealthExports, FieldsAndNotesMatchTheRules) {
    const HealthCase& c = GetParam();
    ep::ProfileOptions o;
    o.layout = c.layout;
    if (c.layout == ep::Layout::Paired) o.tag_units = {{"A", "K"}, {"B", "degC"}};
    ep::ExportScanner s(o, "h.csv");
    s.feed(c.csv);
    auto partial = s.finish();
    ASSERT_TRUE(partial) << partial.error().reason;
    const auto r = partial.value().finalize(o.declared);
    ASSERT_TRUE(r) << r.error().reason;
    const ep::ExportProfile& p = r.value();
    EXPECT_EQ(p.notes.frozen_tags, c.frozen);
    EXPECT_EQ(p.notes.interpolated_tags, c.interpolated);
    EXPECT_EQ(p.notes.impossible_value_tags, c.impossible);
    c.more(p.tags);
    // The envelope: a value in a bin exactly where a present sample is counted, and the bins'
    // least and greatest values are the tag's.
    const ep::AvailabilityBins& a = p.availability;
    ASSERT_EQ(a.low.size(), p.tags.size() * a.bins);
    for (std::size_t i = 0; i < p.tags.size(); ++i) {
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        for (std::size_t b = 0; b < a.bins; ++b) {
            const double l = a.low[i * a.bins + b], h = a.high[i * a.bins + b];
            EXPECT_EQ(std::isnan(l), a.counts[(i * a.bins + b) * 3] == 0) << p.tags[i].name << b;
            if (std::isnan(l)) continue;
            EXPECT_LE(l, h);
            lo = std::min(lo, l);
            hi = std::max(hi, h);
        }
        if (p.tags[i].numeric_samples == 0) continue;
        EXPECT_EQ(lo, p.tags[i].min) << p.tags[i].name;
        EXPECT_EQ(hi, p.tags[i].max) << p.tags[i].name;
    }
    // With health off: none of it, and the seal of a scan that never heard of it.
    o.health = false;
    ep::ExportScanner off(o, "h.csv");
    off.feed(c.csv);
    const auto q = off.finish().value().finalize(o.declared).value();
    EXPECT_NE(q.seal, p.seal);
    EXPECT_TRUE(q.notes.frozen_tags.empty() && q.notes.impossible_value_tags.empty());
    for (const auto& t : q.tags) EXPECT_TRUE(std::isnan(t.mean) && t.impossible_values == 0);
    EXPECT_TRUE(q.availability.low.empty() && q.availability.high.empty());
    EXPECT_EQ(q.availability.counts, a.counts);
}

INSTANTIATE_TEST_SUITE_P(Health, HealthExports, ::testing::ValuesIn(health_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
