// The wide rows' block classifier against the per-cell rules: each export is scanned both ways
// (whole and in every two pieces) and the partial profiles must be equal; the classifier must
// really take the rows it is meant for; the CPU's mask path must match the portable one.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "export/blocks.hpp"
#include "export/records.hpp"
#include "export/state.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

struct WideCase {
    const char* name;
    std::string csv;
    char delimiter = 0;  // 0: found from the header
    char decimal = '.';
    bool sentinels = false;
    bool classifier = true;  // the block classifier may take this file's rows
    bool search = false;     // the normal-operation window is looked for
};

void PrintTo(const WideCase& c, std::ostream* os) {
    *os << c.name;
}

ep::ProfileOptions options_of(const WideCase& c) {
    ep::ProfileOptions o;
    o.layout = ep::Layout::Wide;
    o.health = false;  // signal health reads every cell: the classifier stands aside
    o.delimiter = c.delimiter;
    o.decimal = c.decimal;
    if (c.sentinels) o.missing_sentinels = {-999, 0};
    if (c.search) o.baseline_search = ep::BaselineSearch::Suggest;
    return o;
}

ep::PartialProfile scan(const ep::ProfileOptions& o, const std::string& csv, std::size_t cut,
                        bool exact) {
    std::optional<ep::ExactCells> guard;
    if (exact) guard.emplace();
    ep::ExportScanner s(o, "w.csv");
    s.feed(std::string_view(csv).substr(0, cut));
    s.feed(std::string_view(csv).substr(cut));
    auto r = s.finish();
    EXPECT_TRUE(r) << (r ? "" : r.error().reason);
    return r ? std::move(r).value() : ep::PartialProfile();
}

// A row long enough to span several 64-byte blocks, with `cell` in column `at`.
std::string long_row(const std::string& time, std::size_t cols, std::size_t at,
                     const std::string& cell) {
    std::string row = time;
    for (std::size_t c = 1; c < cols; ++c) row += "," + (c == at ? cell : "1234.567");
    return row + "\n";
}

std::string long_header(std::size_t cols) {
    std::string h = "Timestamp";
    for (std::size_t c = 1; c < cols; ++c) h += ",TAG" + std::to_string(c);
    return h + "\n";
}

std::vector<WideCase> wide_cases() {
    std::string across = long_header(40);
    const char* odd[] = {"1..2", "-", "",    " 5",    "1e3",  "Bad", "--1",
                         "5-",   ".", "+.5", "1.2.3", "12,5", "NaN", "1\r"};
    for (std::size_t k = 0; k < sizeof odd / sizeof odd[0]; ++k)
        across += long_row("2026-01-05 00:0" + std::to_string(k % 10) + ":00", 40, 1 + (k * 7) % 39,
                           odd[k]);
    return {
        {"plain_numbers",
         "Timestamp,A,B,C\n2026-01-05 00:00:00,1.5,-2,+3\n"
         "2026-01-05 00:01:00,4.,.5,0\n"},
        {"empty_cells_and_empty_last",
         "Timestamp,A,B,C\n2026-01-05 00:00:00,,2,\n"
         "2026-01-05 00:01:00,1,,3\n2026-01-05 00:02:00,,,\n"},
        {"signs_and_separators_out_of_place",
         "Timestamp,A,B,C,D\n2026-01-05 00:00:00,1-2,--1,1..2,1.2.3\n"
         "2026-01-05 00:01:00,-,+,.,-.\n2026-01-05 00:02:00,+.5,-.5,5.,-5.\n"},
        {"texts_bad_states_exponents_and_spaces",
         "Timestamp,A,B,C,D\n2026-01-05 00:00:00,Bad,NaN,1e5, 12 \n"
         "2026-01-05 00:01:00,Calc Failed,abc,1E-3,\t4\n"
         "2026-01-05 00:02:00,#N/A,inf,-1e+2,<0.5\n"},
        {"spreadsheet_numbers_and_censored",
         "Timestamp;A;B;C\n2026-01-05 00:00:00;1,234.5;=12.5;ND\n"
         "2026-01-05 00:01:00;12,345;<LOD;>3\n"},
        {"crlf_rows",
         "Timestamp,A,B\r\n2026-01-05 00:00:00,1,2\r\n"
         "2026-01-05 00:01:00,3,\r\n2026-01-05 00:02:00,,\r\n"
         "2026-01-05 00:03:00,4,5\r\r\n2026-01-05 00:04:00,6\r,7\r\n"},
        {"ragged_blank_and_footer_rows",
         "Timestamp,A,B\n2026-01-05 00:00:00,1\n\n2026-01-05 00:01:00,1,2,3\n"
         "2026-01-05 00:02:00,4,5\nAverage,2.5,3\nnot a time,1,2\n"},
        {"quoted_cells_and_multiline_note",
         "Timestamp,A,B\n2026-01-05 00:00:00,\"1.5\",2\n2026-01-05 00:01:00,3,\"x\ny\"\n"
         "2026-01-05 00:02:00,\"a,b\",4\n2026-01-05 00:03:00,5,6\n"},
        {"repeated_tag_columns",
         "Timestamp,A,A,B\n2026-01-05 00:00:00,1,x,2\n2026-01-05 00:01:00,,3,Bad\n"},
        {"no_final_newline", "Timestamp,A,B\n2026-01-05 00:00:00,1,2\n2026-01-05 00:01:00,3,x"},
        {"tab_delimited",
         "Timestamp\tA\tB\n2026-01-05 00:00:00\t1.5\t 2\n"
         "2026-01-05 00:01:00\t\t-3\n",
         '\t'},
        {"decimal_comma",
         "Timestamp;A;B\n2026-01-05 00:00:00;1,5;2.5\n2026-01-05 00:01:00;1,2,3;,5\n"
         "2026-01-05 00:02:00;-1,;3\n",
         ';', ','},
        {"numeric_epoch_time_column", "Time,A,B\n1767571200,1,2\n1767571260,x,3\n1767571320,,4\n"},
        {"rows_across_blocks", across},
        // Sentinels and quality columns keep the per-cell path for the whole file.
        {"sentinels", "Timestamp,A,B\n2026-01-05 00:00:00,-999,0\n2026-01-05 00:01:00,0.0,5\n", 0,
         '.', true, false},
        {"quality_column",
         "Timestamp,A,A Quality,B\n2026-01-05 00:00:00,1,Good,2\n"
         "2026-01-05 00:01:00,3,Bad,4\n",
         0, '.', false, false},
        // The window looked for: PVs near and far from their SPs, an SP near zero, a loop tag
        // missing or a text, digits past the quick parse, the SP last before a CR.
        {"loops_searched",
         "Timestamp,FIC1.PV,FIC1.OP,TI2,FIC3.PV,FIC1.SP,FIC3.SP\r\n"
         "2026-01-05 00:00:00,100,5,1,0.01,99,0\r\n"
         "2026-01-05 00:01:00,100,5,1,0.5,90,-0.001\r\n"
         "2026-01-05 00:02:00,AUTO,5,1,0.01,99,0\r\n"
         "2026-01-05 00:03:00,100,,1,0.01,99,0\r\n"
         "2026-01-05 00:04:00,1e2,5,Bad,0.01,100.000000000000000000001,1E-3\r\n"
         "2026-01-05 00:05:00,\"100\",5,1,0.01,99,0\r\n"
         "2026-01-05 00:06:00,-0,5,1,9007199254740993,+0.0,9007199254740993.5\r\n",
         0, '.', false, true, true},
        {"loops_searched_decimal_comma",
         "Timestamp;A.PV;A.SP;A.OP\n2026-01-05 00:00:00;1,5;1,52;3\n"
         "2026-01-05 00:01:00;1,5;2;3\n2026-01-05 00:02:00;;1,5;3\n",
         ';', ',', false, true, true},
    };
}

class WideClassifier : public ::testing::TestWithParam<WideCase> {};

TEST_P(WideClassifier, EqualsThePerCellRulesWholeAndInPieces) {
    const WideCase& c = GetParam();
    const ep::ProfileOptions o = options_of(c);
    const ep::PartialProfile exact = scan(o, c.csv, c.csv.size(), true);
    ASSERT_GT(exact.state().parsed_rows, 0u);
    if (c.search) {
        ASSERT_EQ(exact.state().baseline.rows(), exact.state().parsed_rows);
    }
    EXPECT_TRUE(scan(o, c.csv, c.csv.size(), false) == exact);
    for (std::size_t cut = 1; cut < c.csv.size(); cut += 1 + c.csv.size() / 97)
        ASSERT_TRUE(scan(o, c.csv, cut, false) == exact) << "cut at " << cut;
}

TEST_P(WideClassifier, TakesTheRowsItIsMeantFor) {
    const WideCase& c = GetParam();
    const ep::ProfileOptions o = options_of(c);
    ep::PartialProfile p = scan(o, c.csv, c.csv.size(), false);
    ASSERT_FALSE(p.state().files.empty());
    EXPECT_EQ(ep::RecordProcessor(p.state(), 0).plain_rows_allowed(true), c.classifier);
    // Rows without their bytes (an Arrow table's) keep the per-cell path while searching.
    EXPECT_EQ(ep::RecordProcessor(p.state(), 0).plain_rows_allowed(false),
              c.classifier && !c.search);
    ep::ExactCells exact;
    ep::PartialProfile q = scan(o, c.csv, c.csv.size(), false);
    EXPECT_FALSE(ep::RecordProcessor(q.state(), 0).plain_rows_allowed(true));
}

INSTANTIATE_TEST_SUITE_P(Exports, WideClassifier, ::testing::ValuesIn(wide_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Every mask path this CPU has, and the one it chose, against the portable one, on random bytes
// rich in the characters the masks pick out.
TEST(CharBits, EveryPathEqualsPortable) {
    std::mt19937 rng(7);
    const std::string alphabet = "0123456789.,;+-\"\n\r\t eE";
    std::string bytes(64 * 50, '\0');
    for (char& ch : bytes)
        ch = rng() % 4 ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng());
    const auto fields = [](const ep::CharBits& x) {
        return std::tuple(x.delim, x.quote, x.line, x.cr, x.digit, x.decimal, x.sign);
    };
    for (const char* seps : {",.", ";,", "\t."}) {
        std::vector<ep::CharBits> a(50), b(50), c(50);
        ep::char_bits_portable(bytes.data(), 50, seps[0], seps[1], b.data());
        for (const auto path : {ep::CharBitsPath::Avx2, ep::CharBitsPath::Avx512}) {
            if (!ep::char_bits_on(path, bytes.data(), 50, seps[0], seps[1], c.data())) continue;
            for (std::size_t k = 0; k < 50; ++k) {
                EXPECT_EQ(fields(c[k]), fields(b[k])) << static_cast<int>(path) << " " << k;
            }
        }
        ep::char_bits(bytes.data(), 50, seps[0], seps[1], a.data());
        for (std::size_t k = 0; k < 50; ++k) {
            EXPECT_EQ(fields(a[k]), fields(b[k])) << k;
        }
        // Spot check against the bytes themselves.
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const bool digit = bytes[i] >= '0' && bytes[i] <= '9';
            ASSERT_EQ((a[i / 64].digit >> (i % 64)) & 1, digit ? 1u : 0u) << i;
            ASSERT_EQ((a[i / 64].delim >> (i % 64)) & 1, bytes[i] == seps[0] ? 1u : 0u) << i;
        }
    }
}

}  // namespace

// The opening's run without a delimiter, sixteen bytes at a time, against a byte loop, fed in
// random splits so the run carries across calls and across the chunk edges.
TEST(LongestRun, EqualsByteLoop) {
    std::mt19937 rng(11);
    const std::string alphabet = ",;\t|\nab\"0";
    for (int round = 0; round < 200; ++round) {
        std::string bytes(rng() % 300, '\0');
        const unsigned sparse = 1 + rng() % 40;  // runs from a few bytes to whole chunks
        for (char& ch : bytes) ch = rng() % sparse ? 'x' : alphabet[rng() % alphabet.size()];
        std::size_t run = rng() % 3, want_run = run, want = run;
        std::size_t got = run;
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t n = std::min<std::size_t>(bytes.size() - at, 1 + rng() % 70);
            got = std::max(got, ep::longest_run(std::string_view(bytes).substr(at, n), run));
            at += n;
        }
        for (char c : bytes) {
            want_run =
                std::string_view(",;\t|\n").find(c) != std::string_view::npos ? 0 : want_run + 1;
            want = std::max(want, want_run);
        }
        ASSERT_EQ(got, want) << round;
        ASSERT_EQ(run, want_run) << round;
    }
}
