// Scanning in pieces: every split of a small export merges back to one scan; the binary form
// round-trips; profile_files on real files agrees with one scan, with any thread count.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "export/digest.hpp"
#include "export/state.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"
#include "scan_whole.hpp"
#include "temp_path.hpp"

#if defined(QCE_HAVE_ZLIB)
#include <zlib.h>
#endif

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

struct SplitCase {
    const char* name;
    std::string csv;
    const char* zone;
    std::uint64_t multiline_fields = 0;  // quoted fields holding rows (stray quotes' runs)
    ep::BaselineSearch search = ep::BaselineSearch::Off;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<SplitCase> split_cases() {
    return {
        // Newest first through the autumn change: steps, repeated walls and forward clock
        // candidates counted across every cut.
        {"wide_newest_first_berlin_autumn",
         "Timestamp,TI101.PV\r\n2026-10-25 04:00,1\r\n2026-10-25 03:30,2\r\n"
         "2026-10-25 03:00,3\r\n2026-10-25 02:30,4\r\n2026-10-25 02:00,5\r\n"
         "2026-10-25 02:30,6\r\n2026-10-25 02:00,7\r\n2026-10-25 01:30,8\r\n",
         "Europe/Berlin"},
        {"long_newest_first_clock_step_utc",
         "TagName,DateTime,Value\nA,2026-06-01 03:00,1\nB,2026-06-01 03:00,1\n"
         "A,2026-06-01 02:00,2\nB,2026-06-01 02:00,2\nA,2026-06-01 01:00,3\n"
         "B,2026-06-01 01:00,3\nA,2026-06-01 02:00,4\nB,2026-06-01 02:00,4\n"
         "A,2026-06-01 01:00,5\nA,2026-06-01 00:00,6\nB,2026-06-01 00:00,6\n",
         "UTC"},
        // Slash dates: ambiguous ones (a set of dates), one that reads only month first.
        {"wide_slash_dates_month_first",
         "Date,A\r\n03/01/2026 00:00,1\r\n03/01/2026 12:00,2\r\n03/02/2026 00:00,3\r\n"
         "03/02/2026 12:00,4\r\n03/03/2026 00:00,5\r\n03/13/2026 00:00,6\r\n",
         "UTC"},
        // The quality codes read as OPC codes until a text among them: a first range cut before
        // the text still reads them as the whole sample does.
        {"long_quality_codes_then_text",
         "Tag,Time,Value,Quality\nA,2026-01-01 00:00,1,192\nB,2026-01-01 00:00,2,192\n"
         "A,2026-01-01 00:01,3,Bad\nB,2026-01-01 00:01,4,0\nA,2026-01-01 00:02,5,192\n",
         "UTC"},
        {"wide_quoted_crlf_no_final_newline",
         "Time,\"FIC1.PV\",FIC1.SP,Note\r\nunits,kg/h,\"k\"\"Pa\",\r\ndesc,a,b,c\r\n"
         "2024-10-27 02:00:00,1.5,\"2,5\",\"line one\nline two\"\r\n"
         "2024-10-27 02:30:00,,Bad,\"he said \"\"hi\"\"\"\r\n\r\n"
         "garbage,1,2,3\r\n2024-10-27 02:00:00,3,4,\"x\ny\nz\"\r\n"
         "2024-10-27 02:30:00,5e-3,OPEN,plain\r\n2024-10-27 03:00:00,7,8,\"tail\"",
         "UTC"},
        {"long_berlin_repeated_hour",
         "Tag;Time;Value;Status;Unit\nA;2024-10-27 02:00;1;good;degC\n"
         "B;2024-10-27 02:00;\"x;y\";good;bar\nA;2024-10-27 02:30;2;bad;K\n"
         "A;2024-10-27 02:00;3;;degC\nB;2024-10-27 02:30;4;good;bar\n"
         "B;2024-10-27 02:00;5;good;\"b\nar\"\nA;2024-10-27 03:00;6;good;degC\n",
         "Europe/Berlin"},
        {"wide_repeated_tag_names",
         "Time,B,A,B,C,A\nunits,kPa,,bar,K,degC\n2024-01-01 00:00,1,2,,x,5\n"
         "2024-01-01 00:01,,3,4,6,Bad\n2024-01-01 00:02,7,,8,9,\n"
         "2024-01-01 00:03,\"1,5\",2,,N/A,4\n2024-01-01 00:04,5,6,7,8,9\n",
         "UTC"},
        {"wide_quotes_everywhere",
         "\"Time\",\"A\",\"B\"\n\"2024-01-01 00:00\",\"1\",\"\"\"\"\n"
         "\"2024-01-01 00:01\",\"\",\"a\"\"b,c\"\n\"2024-01-01 00:02\",\"-1.5\",\"N/A\"\n",
         "UTC"},
        // Signal health across every cut: sums that only exact arithmetic gets right (1e16, 1,
        // -1e16), a frozen run and a straight line crossing the cuts, a value below 0 K.
        {"wide_health_sums_runs_and_lines",
         "Time,A,B\nunits,K,%\n2026-01-01 00:00,1e16,10\n2026-01-01 00:01,1,20\n"
         "2026-01-01 00:02,-1e16,30\n2026-01-01 00:03,5,40\n2026-01-01 00:04,5,50\n"
         "2026-01-01 00:06,5,45\n2026-01-01 00:07,-3,40\n2026-01-01 00:08,5,35.5\n",
         "UTC"},
        // Stray quotes: a run over two rows, closed by a second stray quote; one that opens in
        // the header; one that runs to the end of the file.
        {"wide_stray_quotes",
         "Time,A,B\n2024-01-01 00:00,1,2\n2024-01-01 00:01,5\",2\n2024-01-01 00:02,3,4\n"
         "2024-01-01 00:03,3,4\n2024-01-01 00:04,7\",8\n2024-01-01 00:05,9,9\n",
         "UTC", 1},
        {"wide_stray_quote_in_header",
         "Time,\"A,B\nunits,m,s\n2024-01-01 00:00,1,2\n2024-01-01 00:01,3\",4\n"
         "2024-01-01 00:02,5,6\n2024-01-01 00:03,5,6\n2024-01-01 00:04,,6\n"
         "2024-01-01 00:05,5,6\n2024-01-01 00:06,5,Bad\n2024-01-01 00:07,5,6\n",
         "UTC", 1},
        {"long_stray_quote_to_the_end",
         "Tag,Time,Value\nA,2024-01-01 00:00,1\nA,2024-01-01 00:01,2\"\nA,2024-01-01 00:02,3\n"
         "B,2024-01-01 00:03,4\n",
         "UTC", 1},
        // The window's rows of one instant cut anywhere: a repeated record (the first stands),
        // a missing and an absent record, an SP of zero (its PV's range decides), a mode text
        // where the PV belongs, a row of the repeated hour.
        {"long_window_rows",
         "Tag,Time,Value\nFIC1.PV,2024-10-27 00:00,50\nFIC1.SP,2024-10-27 00:00,50\n"
         "TI2,2024-10-27 00:00,7\nFIC1.PV,2024-10-27 00:00,90\nFIC1.PV,2024-10-27 00:01,50.5\n"
         "FIC1.SP,2024-10-27 00:01,50\nFIC1.PV,2024-10-27 00:02,0.3\nFIC1.SP,2024-10-27 00:02,0\n"
         "TI2,2024-10-27 00:02,\nFIC1.PV,2024-10-27 02:30,AUTO\nFIC1.SP,2024-10-27 02:30,5\n"
         "FIC1.PV,2024-10-27 03:00,5\nFIC1.SP,2024-10-27 03:00,5\nTI2,2024-10-27 03:00,8\n",
         "Europe/Berlin", 0, ep::BaselineSearch::Auto},
        {"paired_window_rows",
         "Time,FIC1.PV,Time,FIC1.SP,Time,TI2\n"
         "2024-01-01 00:00,50,2024-01-01 00:00,50,2024-01-01 00:00,7\n"
         "2024-01-01 00:01,51,2024-01-01 00:01,50,,\n"
         "2024-01-01 00:02,0.3,2024-01-01 00:02,0,2024-01-01 00:02,\n"
         "2024-01-01 00:03,50,2024-01-01 00:04,50,2024-01-01 00:03,8\n",
         "UTC", 0, ep::BaselineSearch::Auto},
    };
}

ep::ProfileOptions options_for(const SplitCase& c) {
    ep::ProfileOptions o;
    o.zone_name = c.zone;
    o.accept_multiline_fields = true;
    o.accept_unparsed_rows = true;  // the garbage rows are there on purpose
    o.baseline_search = c.search;
    return o;
}

// Ranges that do not start on a digest block cannot share the one scan's block digests; the
// rest of the state must match exactly.
ep::PartialProfile without_digest(ep::PartialProfile p) {
    for (auto& f : p.state().files) {
        f.blocks.clear();
        f.digest_complete = true;
        f.ends_mid_block = false;
    }
    return p;
}

bool odd_quotes_before(const std::string& s, std::size_t at) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < at; ++i) n += s[i] == '"';
    return n % 2 == 1;
}

ep::PartialProfile scan(const ep::ProfileOptions& o, std::string_view bytes,
                        std::string_view opening = {}) {
    return ep::test_support::scan_whole(o, bytes, opening);
}

class EverySplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(EverySplit, MergedPiecesEqualOneScan) {
    const std::string& csv = GetParam().csv;
    const ep::ProfileOptions o = options_for(GetParam());
    const ep::PartialProfile whole = scan(o, csv);
    const auto whole_profile = whole.finalize(o.declared);
    ASSERT_TRUE(whole_profile);
    const std::string seal = whole_profile.value().seal;
    const ep::PartialProfile whole_nd = without_digest(whole);
    const auto whole_nd_seal = whole_nd.finalize(o.declared).value().seal;
    std::size_t ranges = 0;
    for (std::size_t at = 0; at <= csv.size(); ++at) {
        const std::string_view head = std::string_view(csv).substr(0, at);
        const std::string_view rest = std::string_view(csv).substr(at);
        // One stream fed in two pieces.
        ep::ExportScanner fed(o, "f.csv");
        fed.feed(head);
        fed.feed(rest);
        auto two = fed.finish();
        ASSERT_TRUE(two);
        EXPECT_TRUE(two.value() == whole) << "feed split at " << at;
        EXPECT_EQ(two.value().finalize(o.declared).value().seal, seal);
        // Two ranges scanned apart and merged.
        auto right = ep::ExportScanner::resume_at(o, "f.csv", csv, at, odd_quotes_before(csv, at));
        if (!right) continue;  // the cut lies in the header rows
        ++ranges;
        right.value().feed(rest);
        auto r = right.value().finish();
        ASSERT_TRUE(r);
        // The first range reads the conventions from the file's opening, as the second does.
        ep::PartialProfile left = scan(o, head, csv);
        left.merge(std::move(r).value());
        EXPECT_TRUE(without_digest(left) == whole_nd) << "range split at " << at;
        EXPECT_EQ(without_digest(left).finalize(o.declared).value().seal, whole_nd_seal) << at;
    }
    EXPECT_GT(ranges, csv.size() / 2);
}

TEST_P(EverySplit, ThreePiecesMergeAssociatively) {
    const std::string& csv = GetParam().csv;
    const ep::ProfileOptions o = options_for(GetParam());
    const ep::PartialProfile whole = without_digest(scan(o, csv));
    auto range = [&](std::size_t from, std::size_t to) {
        auto s = ep::ExportScanner::resume_at(o, "f.csv", csv, from, odd_quotes_before(csv, from));
        EXPECT_TRUE(s);
        s.value().feed(std::string_view(csv).substr(from, to - from));
        return std::move(s.value().finish()).value();
    };
    std::size_t start = 0;  // the first offset a range may start at
    while (!ep::ExportScanner::resume_at(o, "f.csv", csv, start, false)) ++start;
    for (std::size_t a = start; a <= csv.size(); a += 3) {
        for (std::size_t b = a; b <= csv.size(); b += 5) {
            // (L + M) + R
            ep::PartialProfile x = scan(o, std::string_view(csv).substr(0, a), csv);
            x.merge(range(a, b));
            x.merge(range(b, csv.size()));
            // L + (M + R)
            ep::PartialProfile m = range(a, b);
            m.merge(range(b, csv.size()));
            ep::PartialProfile y = scan(o, std::string_view(csv).substr(0, a), csv);
            y.merge(std::move(m));
            EXPECT_TRUE(without_digest(x) == whole) << a << " " << b;
            EXPECT_TRUE(without_digest(y) == whole) << a << " " << b;
        }
    }
}

TEST_P(EverySplit, BinaryFormRoundTripsAndRefusesDamage) {
    const ep::ProfileOptions o = options_for(GetParam());
    const ep::PartialProfile p = scan(o, GetParam().csv);
    const std::string blob = p.serialize();
    auto back = ep::PartialProfile::deserialize(blob);
    ASSERT_TRUE(back) << back.error().reason;
    EXPECT_TRUE(back.value() == p);
    EXPECT_EQ(back.value().finalize(o.declared).value().seal, p.finalize(o.declared).value().seal);
    for (std::size_t n = 0; n < blob.size(); ++n)
        EXPECT_FALSE(ep::PartialProfile::deserialize(std::string_view(blob).substr(0, n))) << n;
    std::string bumped = blob;
    bumped[22] = static_cast<char>(blob[22] + 1);  // the version, just after the schema text
    EXPECT_FALSE(ep::PartialProfile::deserialize(bumped));
    for (std::size_t i = 0; i < blob.size(); ++i) {
        std::string flipped = blob;
        flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
        auto r = ep::PartialProfile::deserialize(flipped);
        if (r)
            (void)r.value().finalize(o.declared);  // damage that parses must still finalise safely
    }
}

TEST_P(EverySplit, StrayQuoteRunsAreCountedOrRefused) {
    ep::ProfileOptions o = options_for(GetParam());
    const ep::PartialProfile p = scan(o, GetParam().csv);
    const auto accepted = p.finalize(o.declared);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted.value().notes.multiline_fields, GetParam().multiline_fields);
    EXPECT_EQ(accepted.value().notes.first_multiline_field.has_value(),
              GetParam().multiline_fields > 0);
    // The setting travels in the partial: scanned without it, the same text is refused.
    o.accept_multiline_fields = false;
    const auto refused = scan(o, GetParam().csv).finalize(o.declared);
    EXPECT_EQ(refused.ok(), GetParam().multiline_fields == 0);
    if (!refused) {
        EXPECT_NE(refused.error().reason.find("accept_multiline_fields"), std::string::npos);
        EXPECT_EQ(refused.error().file, "f.csv");
    }
}

// Files listing their tags in other orders merge by name (through the index built then), and
// finalising in place gives what finalising a copy gives.
TEST(PartialProfile, FilesMergeByNameAndFinaliseInPlace) {
    const ep::ProfileOptions o;
    ep::PartialProfile p = scan(o, "Time,A,B,C\n2024-01-01 00:00,1,,3\n");
    p.merge(scan(o, "Time,C,A,D,A\n2024-01-01 00:01,4,5,,7\n2024-01-01 00:02,8,,9,\n"));
    const auto& tags = p.state().tags;
    ASSERT_EQ(tags.size(), 4u);
    const std::vector<std::pair<std::string, std::uint64_t>> expected = {
        {"A", 5}, {"B", 1}, {"C", 3}, {"D", 2}};  // (name, cells); A twice per row in file two
    for (std::size_t i = 0; i < tags.size(); ++i) {
        EXPECT_EQ(tags[i].name, expected[i].first);
        EXPECT_EQ(tags[i].cells, expected[i].second) << tags[i].name;
    }
    EXPECT_EQ(tags[0].empty, 2u);
    const ep::PartialProfile before = p;
    const auto copied = p.finalize(o.declared);
    EXPECT_TRUE(p == before);  // the const form leaves the partial as it was
    const auto in_place = std::move(p).finalize(o.declared);
    ASSERT_TRUE(copied && in_place);
    EXPECT_EQ(copied.value().seal, in_place.value().seal);
    EXPECT_EQ(in_place.value().tags.size(), 4u);
    EXPECT_EQ(in_place.value().tags[3].samples, 2u);
}

INSTANTIATE_TEST_SUITE_P(SmallExports, EverySplit, ::testing::ValuesIn(split_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A file over several chunks, with quoted line breaks landing anywhere.
std::string big_export() {
    std::string s = "Time,FIC7.PV,FIC7.OP,Note\nunits,m3/h,%,\n";
    char line[160];
    for (int r = 0; s.size() < (std::size_t{19} << 20); ++r) {
        const int n = std::snprintf(line, sizeof line,
                                    "2024-01-%02d %02d:%02d:%02d,%d.%03d,%s,\"n%d\n,\"\"%d\"\"\"\n",
                                    1 + r / 86400, r / 3600 % 24, r / 60 % 60, r % 60, r % 97,
                                    r % 1000, r % 13 == 0 ? "Bad" : "5", r, r % 7);
        s.append(line, static_cast<std::size_t>(n));
    }
    return s;
}

TEST(InputDigest, WholeBlocksTwoAtATimeMatchPlainHashing) {
    std::string data(3 * ep::kBlockBytes, '\0');
    std::uint32_t x = 12345;
    for (char& c : data) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    std::vector<qorv_chemical_engineering_edge::hashing::Sha256Digest> got(3);
    ep::digest_whole_blocks(data.data(), 3, got.data());
    for (std::size_t i = 0; i < 3; ++i) {
        qorv_chemical_engineering_edge::hashing::Sha256 h;
        h.update(data.data() + i * ep::kBlockBytes, ep::kBlockBytes);
        EXPECT_EQ(got[i], h.finish()) << i;
    }
}

TEST(ProfileFiles, ChunkedAndThreadedScansEqualOneScan) {
    const std::string csv = big_export();
    const std::string path = temp_path("export_profile_big.csv");
    std::ofstream(path, std::ios::binary) << csv;
    ep::ProfileOptions o;
    const auto one = scan(o, csv).finalize(o.declared);
    ASSERT_TRUE(one);
    for (unsigned threads : {1u, 2u, 3u}) {
        o.threads = threads;
        std::uint64_t last_done = 0, calls = 0, asks = 0;
        const std::vector<std::string> paths{path};
        const auto progress = [&](std::uint64_t done, std::uint64_t total) {
            EXPECT_LE(done, total);
            EXPECT_GE(done, last_done);
            last_done = done;
            ++calls;
        };
        const auto r = ep::profile_files(paths, o, progress, [&] { return ++asks == 0; });
        ASSERT_TRUE(r) << r.error().reason;
        EXPECT_EQ(last_done, csv.size());
        EXPECT_GT(calls, 1u);
        EXPECT_GE(asks, calls - 1);  // asked after every report but the final one

        // Stopped at the first ask: an error, and no report after the ask.
        last_done = calls = 0;
        const auto stopped = ep::profile_files(paths, o, progress, [] { return true; });
        ASSERT_FALSE(stopped);
        EXPECT_EQ(stopped.error().reason, ep::kCancelled);
        EXPECT_LE(calls, 1u);
        ep::ExportProfile a = r.value(), b = one.value();
        EXPECT_TRUE(a.notes.input_digest_complete);
        EXPECT_EQ(a.input_digest, b.input_digest);
        EXPECT_EQ(a.seal, b.seal) << threads;
        EXPECT_EQ(a.availability.start_us, b.availability.start_us) << threads;
        EXPECT_EQ(a.availability.bin_us, b.availability.bin_us) << threads;
        EXPECT_EQ(a.availability.rows, b.availability.rows) << threads;
        EXPECT_EQ(a.availability.counts, b.availability.counts) << threads;
        EXPECT_EQ(a.n_rows.value, b.n_rows.value);
    }
    std::remove(path.c_str());
}

TEST(ProfileFiles, FileListsGzipAndMissingFiles) {
    const std::string prefix = temp_path("");
    const std::string day1 = "Time,A,B\n2024-01-01 00:00,1,2\n2024-01-01 00:01,1,2\n";
    const std::string day2 = "Time,B,C\n2024-01-01 00:02,1,\n2024-01-01 00:03,1,2\n";
    std::ofstream(prefix + "day1.csv", std::ios::binary) << day1;
    std::ofstream(prefix + "day2.csv", std::ios::binary) << day2;
    std::vector<std::string> paths{prefix + "day1.csv", prefix + "day2.csv"};
    auto r = ep::profile_files(paths, {});
    ASSERT_TRUE(r) << r.error().reason;
    EXPECT_EQ(r.value().n_tags.value, 3u);
    EXPECT_EQ(r.value().n_rows.value, 4u);
    EXPECT_DOUBLE_EQ(r.value().missingness.value, 1.0 / 8);  // absent tags are not counted
    EXPECT_TRUE(r.value().sampling_regular.value);
    EXPECT_EQ(r.value().files.size(), 2u);

    paths.push_back(prefix + "no_such_file.csv");
    r = ep::profile_files(paths, {});
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().file, prefix + "no_such_file.csv");

    const std::string gz = prefix + "day1.csv.gz";
#if defined(QCE_HAVE_ZLIB)
    gzFile g = gzopen(gz.c_str(), "wb");
    gzwrite(g, day1.data(), static_cast<unsigned>(day1.size()));
    gzclose(g);
    const std::vector<std::string> gz_paths{gz};
    r = ep::profile_files(gz_paths, {});
    ASSERT_TRUE(r) << r.error().reason;
    const auto plain = scan({}, day1).finalize(ep::DeclaredFields{});
    EXPECT_EQ(r.value().seal, plain.value().seal);  // the digest covers the content
    std::ofstream(gz, std::ios::binary) << std::string("\x1f\x8b\x08\x00garbage", 11);
    r = ep::profile_files(gz_paths, {});
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().file, gz);
#else
    std::ofstream(gz, std::ios::binary) << "x";
    const std::vector<std::string> gz_paths{gz};
    r = ep::profile_files(gz_paths, {});
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().reason.find("gzip"), std::string::npos);
#endif
    for (const char* name : {"day1.csv", "day2.csv", "day1.csv.gz"})
        std::remove((prefix + name).c_str());
}

}  // namespace
