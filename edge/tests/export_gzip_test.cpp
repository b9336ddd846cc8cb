// The .gz reader: the fast inflater gives zlib's bytes and zlib's error texts on valid, odd,
// truncated and corrupt streams; blocks inflated ahead on a thread equal blocks read in turn; and
// several .gz files profiled with any thread count seal as their plain text does.
#include <gtest/gtest.h>

#if defined(QCE_HAVE_ZLIB)

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "export/gzip.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"
#include "temp_path.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

// A plant export's look with enough variety that deflate makes every kind of block.
std::string export_text(std::size_t rows, std::uint32_t seed, int day = 1) {
    std::string out = "Time,FIC101.PV,TIC202.PV,LIC303.PV\n";
    std::uint32_t x = seed;
    for (std::size_t r = 0; r < rows; ++r) {
        x = x * 1664525u + 1013904223u;
        char line[96];
        std::snprintf(line, sizeof line, "2024-01-%02d %02zu:%02zu:%02zu,%u.%u,%d,%s\n", day,
                      r / 3600 % 24, r / 60 % 60, r % 60, x >> 20, (x >> 8) & 0xfff,
                      static_cast<int>(x % 997) - 400, (x & 0x300) == 0x300 ? "Bad" : "12.5");
        out += line;
    }
    return out;
}

std::string deflated(const std::string& text, int window_bits, int level, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, strategy), Z_OK);
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string gz(const std::string& text, int level = 6, int strategy = Z_DEFAULT_STRATEGY) {
    return deflated(text, 16 + MAX_WBITS, level, strategy);
}

std::string le32(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}

std::uint32_t crc(const std::string& s) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// A member with every optional header field: extra, name, comment and the header's own crc.
std::string member_with_fields(const std::string& text, char flags = 0x1e, bool good_hcrc = true) {
    std::string h = std::string("\x1f\x8b\x08", 3) + flags + le32(0) + std::string("\0\3", 2);
    h += std::string("\4\0ab\1\2", 6) + "day1.csv" + '\0' + "from the historian" + '\0';
    const std::uint32_t hcrc = crc(h) ^ (good_hcrc ? 0u : 1u);
    h += std::string{static_cast<char>(hcrc), static_cast<char>(hcrc >> 8)};
    return h + deflated(text, -MAX_WBITS, 6, Z_DEFAULT_STRATEGY) + le32(crc(text)) +
           le32(static_cast<std::uint32_t>(text.size()));
}

struct Inflated {
    std::string bytes;
    std::string error;
};

Inflated read_all(const std::string& path, ep::Inflater inflater, std::size_t chunk) {
    ep::GzipReader r;
    Inflated out;
    if (!r.open(path, &out.error, inflater)) return out;
    std::string buf(chunk, '\0');
    for (;;) {
        const long got = r.read(buf.data(), buf.size(), &out.error);
        if (got <= 0) break;
        // Every read but the last fills the buffer: the scanner relies on whole blocks.
        EXPECT_TRUE(static_cast<std::size_t>(got) == chunk ||
                    r.read(buf.data(), 1, &out.error) <= 0);
        out.bytes.append(buf.data(), static_cast<std::size_t>(got));
    }
    return out;
}

std::string write_file(const std::string& name, const std::string& bytes) {
    const std::string path = temp_path(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

const std::string& big() {
    static const std::string text = export_text(70000, 7);  // about 3 MiB: several refills
    return text;
}

struct StreamCase {
    std::string name;
    std::string file;
    std::string text;   // what it inflates to when valid
    const char* error;  // today's error text, "" when valid
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

std::string with(std::string s, std::size_t at, char x) {
    s[at] = static_cast<char>(s[at] ^ x);
    return s;
}

std::vector<StreamCase> stream_cases() {
    const std::string a = export_text(300, 1), b = export_text(20000, 2);
    const std::string whole = gz(big());
    const std::size_t n = whole.size();
    std::vector<StreamCase> cases = {
        {"one_member", whole, big(), ""},
        {"members", gz(a) + gz("") + gz(b, 9) + gz(a, 1), a + b + a, ""},
        {"stored", gz(b, 0), b, ""},
        {"huffman_only", gz(b, 6, Z_HUFFMAN_ONLY), b, ""},
        {"rle", gz(b, 6, Z_RLE), b, ""},
        {"fixed_codes", gz(b, 6, Z_FIXED), b, ""},
        {"header_fields", member_with_fields(a) + member_with_fields(b), a + b, ""},
        {"empty_file", "", "", ""},
        {"empty_member", gz(""), "", ""},
        {"truncated_magic", whole.substr(0, 1), "", "truncated gzip data"},
        {"truncated_header", whole.substr(0, 7), "", "truncated gzip data"},
        {"truncated_body", whole.substr(0, n / 2), "", "truncated gzip data"},
        {"truncated_trailer", whole.substr(0, n - 3), "", "truncated gzip data"},
        {"truncated_second", gz(a) + gz(b).substr(0, 9), "", "truncated gzip data"},
        {"truncated_fields", member_with_fields(a).substr(0, 20), "", "truncated gzip data"},
        {"not_gzip", "Time,A\n2024-01-01,1\n", "", "corrupt gzip data"},
        {"bad_method", with(gz(a), 2, 0x01), "", "corrupt gzip data"},
        {"bad_crc", with(whole, n - 6, 0x10), "", "corrupt gzip data"},
        {"bad_length", with(whole, n - 2, 0x01), "", "corrupt gzip data"},
        // zlib checks the crc as soon as its four bytes are in; ISA-L waits for the length too.
        {"bad_crc_cut_length", with(whole, n - 6, 0x10).substr(0, n - 2), "", "corrupt gzip data"},
        {"bad_header_crc", member_with_fields(a, 0x1e, false), "", "corrupt gzip data"},
        {"bad_block_type", with(gz(a), 10, 0x02), "", "corrupt gzip data"},
        {"trailing_garbage", gz(a) + "garbage!", "", "corrupt gzip data"},
        {"trailing_bytes", gz(a) + "ab", "", "corrupt gzip data"},
        {"trailing_byte", gz(a) + "x", "", "truncated gzip data"},
        {"trailing_magic", gz(a) + "\x1f\x8b\x08", "", "truncated gzip data"},
        {"trailing_method", gz(a) + std::string("\x1f\x8b\x07\x00", 4), "", "corrupt gzip data"},
        {"short_file", "ab", "", "corrupt gzip data"},
        {"reserved_flag", member_with_fields(a, 0x3e), "", "corrupt gzip data"},
        {"trailing_zeros", gz(a) + std::string(16, '\0'), "", "corrupt gzip data"},
    };
    // Flips through the body: each gives corrupt data, a crc mismatch or (rarely) a valid
    // stream of other bytes; whatever zlib says the fast inflater must say too.
    for (std::size_t k = 1; k <= 12; ++k) {
        static std::vector<std::string> names;
        names.push_back("flip_" + std::to_string(k));
        cases.push_back(
            {names.back().c_str(), with(whole, 10 + k * (n - 20) / 13, 0x5a), "", nullptr});
    }
    return cases;
}

class GzipStreams : public ::testing::TestWithParam<StreamCase> {};

TEST_P(GzipStreams, FastInflaterAgreesWithZlib) {
    const StreamCase& c = GetParam();
    const std::string path = write_file("gzip_case_" + c.name + ".gz", c.file);
    const Inflated ref = read_all(path, ep::Inflater::Zlib, std::size_t{1} << 20);
    if (c.error) {
        EXPECT_EQ(ref.error, c.error);
        if (!*c.error) {
            EXPECT_TRUE(ref.bytes == c.text);
        }
    }
    // Output room running out mid-block and mid-member, and whole digest blocks.
    for (std::size_t chunk : {std::size_t{1} << 20, std::size_t{4099}, std::size_t{1}}) {
        if (chunk == 1 && c.file.size() > 100000) continue;
        const Inflated fast = read_all(path, ep::Inflater::Fast, chunk);
        EXPECT_EQ(fast.error, ref.error) << chunk;
        EXPECT_TRUE(fast.bytes == ref.bytes || !ref.error.empty())
            << chunk << ": " << fast.bytes.size() << " bytes against " << ref.bytes.size();
    }
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Gzip, GzipStreams, ::testing::ValuesIn(stream_cases()),
                         [](const auto& info) { return info.param.name; });

TEST(GzipBlocks, InflatedAheadEqualsInTurn) {
    const std::string a = export_text(5000, 3);
    const std::string ok = write_file("gzip_blocks_ok.gz", gz(big()) + gz(a));
    const std::string cut = write_file("gzip_blocks_cut.gz", gz(big()).substr(0, 600000));
    struct Row {
        std::string path;
        std::size_t block, depth;
    };
    const std::vector<Row> rows = {
        {ok, 1 << 20, 3}, {ok, 4096, 1}, {ok, 65537, 2}, {cut, 1 << 20, 3}, {cut, 4096, 1}};
    for (const Row& row : rows) {
        std::vector<std::string> blocks[2];
        std::string errors[2];
        for (int ahead = 0; ahead < 2; ++ahead) {
            ep::GzipBlocks g(row.block, ahead == 1, row.depth);
            ASSERT_TRUE(g.open(row.path, &errors[ahead]));
            std::string_view b;
            while (g.next(&b, &errors[ahead]) && !b.empty()) blocks[ahead].emplace_back(b);
        }
        EXPECT_EQ(errors[0], errors[1]) << row.path << " " << row.block;
        ASSERT_EQ(blocks[0].size(), blocks[1].size()) << row.path << " " << row.block;
        for (std::size_t k = 0; k < blocks[0].size(); ++k) {
            EXPECT_TRUE(blocks[0][k] == blocks[1][k]) << k;
            if (k + 1 < blocks[0].size()) {
                EXPECT_EQ(blocks[0][k].size(), row.block) << k;
            }
        }
        if (row.path == ok) {
            std::string joined;
            for (const auto& b : blocks[1]) joined += b;
            EXPECT_TRUE(joined == big() + a);
        } else {
            EXPECT_EQ(errors[1], "truncated gzip data");
        }
    }
    // Left after one block, and never read: the inflater stops and is joined, with no hang.
    for (int reads = 0; reads < 2; ++reads) {
        ep::GzipBlocks g(4096, true, 2);
        std::string error;
        ASSERT_TRUE(g.open(ok, &error));
        std::string_view b;
        if (reads) {
            EXPECT_TRUE(g.next(&b, &error) && b.size() == 4096);
        }
    }
    std::remove(ok.c_str());
    std::remove(cut.c_str());
}

TEST(GzipBlocks, SeveralFilesAnyThreadsSealAsPlainText) {
    std::vector<std::string> plain, zipped;
    for (int k = 0; k < 3; ++k) {
        // Each file a day of its own: the files follow one another in time.
        const std::string text = export_text(k == 1 ? 40000 : 3000, 11 + k, 2 + k);
        plain.push_back(write_file("gzip_day" + std::to_string(k) + ".csv", text));
        // The middle one in two members.
        zipped.push_back(
            write_file("gzip_day" + std::to_string(k) + ".csv.gz",
                       k == 1 ? gz(text.substr(0, 9000)) + gz(text.substr(9000)) : gz(text)));
    }
    ep::ProfileOptions o;
    o.threads = 1;
    const auto want = ep::profile_files(plain, o);
    ASSERT_TRUE(want) << want.error().reason;
    for (unsigned threads : {1u, 2u, 3u, 4u, 7u}) {
        o.threads = threads;
        const auto got = ep::profile_files(zipped, o);
        ASSERT_TRUE(got) << got.error().reason;
        EXPECT_EQ(got.value().seal, want.value().seal) << threads;
        EXPECT_EQ(got.value().n_rows.value, want.value().n_rows.value) << threads;
    }
    // A corrupt file among them names itself, whichever thread read it.
    const std::string bad = write_file("gzip_day_bad.csv.gz", with(gz(big()), 2000, 0x5a));
    for (unsigned threads : {1u, 2u, 4u}) {
        o.threads = threads;
        std::vector<std::string> paths = zipped;
        paths.insert(paths.begin() + 1, bad);
        const auto got = ep::profile_files(paths, o);
        ASSERT_FALSE(got) << threads;
        EXPECT_EQ(got.error().file, bad);
        EXPECT_EQ(got.error().reason, "corrupt gzip data");
    }
    for (const auto& p : plain) std::remove(p.c_str());
    for (const auto& p : zipped) std::remove(p.c_str());
    std::remove(bad.c_str());
}

}  // namespace

#endif
