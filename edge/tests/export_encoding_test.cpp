// The UTF-16 decoder fed in every split (a surrogate pair or a code unit cut between feeds), the
// Windows-1252 table, the per-text reading, and a UTF-16 stream scanned in any split.
#include <gtest/gtest.h>

#include <string>

#include "export/encoding.hpp"
#include "export/state.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

struct Utf16Case {
    const char* name;
    std::string le;          // UTF-16LE code units
    std::string utf8;        // what they decode to
    std::uint64_t replaced;  // U+FFFD put in
};

void PrintTo(const Utf16Case& c, std::ostream* os) {
    *os << c.name;
}

std::string be_of(const std::string& le) {
    std::string be = le;
    for (std::size_t i = 0; i + 1 < be.size(); i += 2) std::swap(be[i], be[i + 1]);
    return be;
}

std::string decode(const std::string& bytes, bool big_endian, std::size_t cut1, std::size_t cut2,
                   std::uint64_t* replaced) {
    ep::Utf16Decoder d(big_endian);
    std::string out;
    d.decode(std::string_view(bytes).substr(0, cut1), out);
    d.decode(std::string_view(bytes).substr(cut1, cut2 - cut1), out);
    d.decode(std::string_view(bytes).substr(cut2), out);
    d.finish(out);
    *replaced = d.replaced();
    return out;
}

class Utf16Decoding : public ::testing::TestWithParam<Utf16Case> {};

// Every pair of cuts, both byte orders: the same text and count as one feed.
TEST_P(Utf16Decoding, AnySplitGivesTheSameText) {
    const Utf16Case& c = GetParam();
    for (const bool big : {false, true}) {
        const std::string bytes = big ? be_of(c.le) : c.le;
        for (std::size_t a = 0; a <= bytes.size(); ++a)
            for (std::size_t b = a; b <= bytes.size(); ++b) {
                std::uint64_t replaced = 0;
                ASSERT_EQ(decode(bytes, big, a, b, &replaced), c.utf8)
                    << "big " << big << " cuts " << a << " " << b;
                ASSERT_EQ(replaced, c.replaced) << "big " << big << " cuts " << a << " " << b;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf16Decoding,
    ::testing::Values(
        Utf16Case{"ascii",
                  std::string("T\0I\0\t\0"
                              "1\0\r\0\n\0",
                              12),
                  "TI\t1\r\n", 0},
        // U+00B0 U+00B3 U+20AC: two- and three-byte UTF-8.
        Utf16Case{"bmp", std::string("\xB0\0\xB3\0\xAC\x20", 6), "\xC2\xB0\xC2\xB3\xE2\x82\xAC", 0},
        // U+1D54F as D835 DD4F, between ASCII: the pair is cut between feeds at every byte.
        Utf16Case{"pair",
                  std::string("a\0\x35\xD8\x4F\xDD"
                              "b\0",
                              8),
                  "a\xF0\x9D\x95\x8F"
                  "b",
                  0},
        Utf16Case{"high surrogate alone",
                  std::string("a\0\x35\xD8"
                              "b\0",
                              6),
                  "a\xEF\xBF\xBD"
                  "b",
                  1},
        Utf16Case{"low surrogate alone",
                  std::string("\x4F\xDD"
                              "b\0",
                              4),
                  "\xEF\xBF\xBD"
                  "b",
                  1},
        Utf16Case{"high surrogate at the end", std::string("a\0\x35\xD8", 4), "a\xEF\xBF\xBD", 1},
        Utf16Case{"odd last byte", std::string("a\0b", 3), "a\xEF\xBF\xBD", 1},
        Utf16Case{"two highs then a low", std::string("\x35\xD8\x35\xD8\x4F\xDD", 6),
                  "\xEF\xBF\xBD\xF0\x9D\x95\x8F", 1}));

struct TextCase {
    const char* name;
    std::string raw;
    ep::Encoding encoding;
    bool cut;
    std::string out;
    bool decoded;  // read as Windows-1252
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class TextOut : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextOut, ReadsTheTextAsTheEncodingSays) {
    const TextCase& c = GetParam();
    bool decoded = false;
    EXPECT_EQ(ep::text_out(c.raw, c.encoding, c.cut, &decoded), c.out);
    EXPECT_EQ(decoded, c.decoded);
    EXPECT_TRUE(ep::valid_utf8(ep::text_out(c.raw, c.encoding, c.cut, nullptr)));
}

using E = ep::Encoding;
INSTANTIATE_TEST_SUITE_P(
    Cases, TextOut,
    ::testing::Values(
        TextCase{"ascii", "degC", E::Auto, false, "degC", false},
        TextCase{"utf-8 kept",
                 "\xC2\xB0"
                 "C",
                 E::Auto, false,
                 "\xC2\xB0"
                 "C",
                 false},
        TextCase{"degree in 1252",
                 "\xB0"
                 "C",
                 E::Auto, false,
                 "\xC2\xB0"
                 "C",
                 true},
        TextCase{"cubic metres an hour", "m\xB3/h", E::Auto, false, "m\xC2\xB3/h", true},
        // 80 is the euro sign, 9F Y with diaeresis: the 0x80..0x9F table's two ends.
        TextCase{"table ends", "\x80\x9F", E::Auto, false, "\xE2\x82\xAC\xC5\xB8", true},
        TextCase{"undefined bytes", "\x81\x8D\x8F\x90\x9D", E::Auto, false,
                 std::string(5, '\0').replace(0, 5,
                                              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
                                              "\xEF\xBF\xBD\xEF\xBF\xBD"),
                 true},
        TextCase{"utf-8 given",
                 "\xB0"
                 "C",
                 E::Utf8, false,
                 "\xEF\xBF\xBD"
                 "C",
                 false},
        TextCase{"1252 given to utf-8", "\xC2\xB0", E::Windows1252, false, "\xC3\x82\xC2\xB0",
                 true},
        // A text cut at the byte limit inside its last character is still UTF-8.
        TextCase{"cut utf-8", "ab\xC3", E::Auto, true, "ab\xEF\xBF\xBD", false},
        TextCase{"uncut, same bytes", "ab\xC3", E::Auto, false, "ab\xC3\x83", true}));

// A UTF-16 export through the scanner: any split of its bytes gives the partial of one feed,
// and the partial is that of its UTF-8 (with a BOM) but for the file's encoding.
TEST(Utf16Stream, ScansInAnySplitAsItsUtf8) {
    const std::string utf8 =
        "Time\tTI101\nUnits\t\xC2\xB0"
        "C\n2026-03-01 00:00:00\t1\n2026-03-01 00:01:00\t"
        "\xF0\x9D\x95\x8F\n";
    std::string le = "\xFF\xFE";
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t u = c;
        std::size_t n = 1;
        if (c >= 0xF0) {
            u = c & 0x07, n = 4;
        } else if (c >= 0xE0) {
            u = c & 0x0F, n = 3;
        } else if (c >= 0xC0) {
            u = c & 0x1F, n = 2;
        }
        for (std::size_t k = 1; k < n; ++k) u = (u << 6) | (utf8[i + k] & 0x3F);
        i += n;
        auto put = [&le](std::uint32_t v) {
            le.push_back(static_cast<char>(v & 0xFF));
            le.push_back(static_cast<char>(v >> 8));
        };
        if (u >= 0x10000) {
            put(0xD800 + ((u - 0x10000) >> 10));
            put(0xDC00 + ((u - 0x10000) & 0x3FF));
        } else {
            put(u);
        }
    }
    ep::ProfileOptions o;
    ep::ExportScanner as_utf8(o, "f");
    as_utf8.feed(std::string("\xEF\xBB\xBF") + utf8);
    auto reference = as_utf8.finish();
    ASSERT_TRUE(reference.ok()) << reference.error().reason;
    reference.value().state().files[0].encoding = 2;  // utf-16le
    for (std::size_t cut = 0; cut <= le.size(); ++cut) {
        ep::ExportScanner s(o, "f");
        s.feed(std::string_view(le).substr(0, cut));
        s.feed(std::string_view(le).substr(cut));
        auto partial = s.finish();
        ASSERT_TRUE(partial.ok()) << cut << ": " << partial.error().reason;
        ASSERT_TRUE(partial.value() == reference.value()) << "cut " << cut;
    }
    auto profile = reference.value().finalize({});
    ASSERT_TRUE(profile.ok());
    EXPECT_EQ(profile.value().tags[0].unit,
              "\xC2\xB0"
              "C");
    EXPECT_TRUE(profile.value().tags[0].unit_recognised);
}

// A resumed range never decodes: a UTF-16 file is one piece, read from its first byte.
TEST(Utf16Stream, ARangeOfAUtf16FileIsRefused) {
    const std::string le(
        "\xFF\xFE"
        "T\0,\0a\0\n\0",
        10);
    auto r = ep::ExportScanner::resume_at({}, "f", le, 4, false);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().reason.find("UTF-16"), std::string::npos);
}

}  // namespace

namespace {

// Without a mark, `utf-16` takes the byte order from the first 512 bytes, however they are fed:
// here 40 bytes alone look big-endian and the 512 do not.
TEST(Utf16Stream, TheOrderIsTakenFromTheSameBytesInAnySplit) {
    static constexpr char kOpening[] =
        "\0T\0i\0m\0e\0,\0A\0\n\0"
        "2\0"
        "0\0"
        "2\0"
        "6\0-\0"
        "0\0"
        "1\0-\0"
        "0\0"
        "1\0,\0"
        "1\0\n";
    std::string be(kOpening, sizeof kOpening - 1);
    be += std::string(600, '\xFF');
    ep::ProfileOptions o;
    o.encoding = ep::Encoding::Utf16;
    ep::ExportScanner whole(o, "f");
    whole.feed(be);
    auto one = whole.finish();
    ep::ExportScanner split(o, "f");
    split.feed(std::string_view(be).substr(0, 40));
    split.feed(std::string_view(be).substr(40));
    auto two = split.finish();
    ASSERT_EQ(one.ok(), two.ok());
    if (one.ok()) {
        EXPECT_TRUE(one.value() == two.value());
    } else {
        EXPECT_EQ(one.error().reason, two.error().reason);
    }
}

}  // namespace
