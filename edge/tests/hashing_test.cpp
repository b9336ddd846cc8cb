#include "qorv_chemical_engineering_edge/hashing.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "seal_stream.hpp"

namespace {

namespace h = qorv_chemical_engineering_edge::hashing;
using qorv_chemical_engineering_edge::testing::frame;
using qorv_chemical_engineering_edge::testing::le64;

std::string bytes(std::initializer_list<unsigned> values) {
    std::string s;
    for (unsigned v : values) s.push_back(static_cast<char>(v));
    return s;
}

h::Sha256Digest digest_of(const std::function<void(h::CanonicalHasher&)>& feed) {
    h::CanonicalHasher hasher;
    feed(hasher);
    return std::move(hasher).finalize_digest();
}

// Each case feeds some fields and gives the byte stream they must frame to; the hasher's digest
// must equal the plain SHA-256 of that stream.
TEST(CanonicalHasher, FramesFieldsAsLengthPrefixedBytes) {
    const std::string z7 = bytes({0, 0, 0, 0, 0, 0, 0});
    const std::string label60(60, 'L');
    const std::string label49(49, 'M');
    const std::string value200(200, 'v');
    const std::string value3000(3000, 'w');  // larger than the hasher's staging buffer
    const std::string label1100(1100, 'N');
    constexpr auto kPreframed = h::FramedFields<64>{}.field("a", "b").field("schema", "k");
    struct Case {
        const char* name;
        std::function<void(h::CanonicalHasher&)> feed;
        std::string framed;
    };
    const Case cases[] = {
        {"no fields", [](h::CanonicalHasher&) {}, ""},
        {"text a=b", [](h::CanonicalHasher& x) { x.field("a", "b"); },
         bytes({0x01, 0, 0, 0, 0, 0, 0, 0, 0x61, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x62})},
        {"count n=5", [](h::CanonicalHasher& x) { x.field("n", std::uint64_t{5}); },
         bytes({0x01, 0, 0, 0, 0,    0, 0, 0, 0x6e, 0x08, 0, 0, 0,
                0,    0, 0, 0, 0x05, 0, 0, 0, 0,    0,    0, 0})},
        {"count n=0", [](h::CanonicalHasher& x) { x.field("n", std::uint64_t{0}); },
         bytes(
             {0x01, 0, 0, 0, 0, 0, 0, 0, 0x6e, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"count byte order",
         [](h::CanonicalHasher& x) { x.field("n", std::uint64_t{0x0102030405060708}); },
         bytes({0x01, 0, 0, 0, 0,    0,    0,    0,    0x6e, 0x08, 0,    0,   0,
                0,    0, 0, 0, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01})},
        {"empty label and value", [](h::CanonicalHasher& x) { x.field("", ""); },
         std::string(16, '\0')},
        {"chained fields",
         [](h::CanonicalHasher& x) { x.field("schema", "k").field("n", std::uint64_t{3}); },
         "\x06" + z7 + "schema" + "\x01" + z7 + "k" + "\x01" + z7 + "n" + "\x08" + z7 + "\x03" +
             z7},
        {"60-byte label straddles a block", [&](h::CanonicalHasher& x) { x.field(label60, "v"); },
         le64(60) + label60 + le64(1) + "v"},
        {"long label with a count",
         [&](h::CanonicalHasher& x) { x.field(label49, std::uint64_t{7}); },
         le64(49) + label49 + le64(8) + le64(7)},
        {"value over several blocks", [&](h::CanonicalHasher& x) { x.field("v", value200); },
         le64(1) + "v" + le64(200) + value200},
        {"value larger than the staging buffer, between short fields",
         [&](h::CanonicalHasher& x) { x.field("a", "b").field("v", value3000).field("c", "d"); },
         le64(1) + "a" + le64(1) + "b" + le64(1) + "v" + le64(3000) + value3000 + le64(1) + "c" +
             le64(1) + "d"},
        {"label larger than the staging buffer",
         [&](h::CanonicalHasher& x) { x.field(label1100, std::uint64_t{9}); },
         le64(1100) + label1100 + le64(8) + le64(9)},
        {"value in pieces",
         [](h::CanonicalHasher& x) {
             x.field_pieces("a", {"a", " [", "kPa", "]"});
         },
         le64(1) + "a" + le64(7) + "a [kPa]"},
        {"value in pieces, one of them huge",
         [&](h::CanonicalHasher& x) {
             x.field_pieces("p", {"<", value3000, ">"});
         },
         le64(1) + "p" + le64(3002) + "<" + value3000 + ">"},
        {"fields framed ahead of time",
         [&](h::CanonicalHasher& x) { x.field("n", std::uint64_t{1}).framed(kPreframed); },
         le64(1) + "n" + le64(8) + le64(1) + le64(1) + "a" + le64(1) + "b" + le64(6) + "schema" +
             le64(1) + "k"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(h::to_hex(digest_of(c.feed)), h::to_hex(h::sha256(c.framed)));
    }
}

// Label lengths around the block size, text and count values interleaved, so the framing of
// every label length meets every fill level of the buffered block.
TEST(CanonicalHasher, EveryLabelLengthFramesLikeOnePiece) {
    h::CanonicalHasher hasher;
    std::string framed;
    for (std::size_t n = 0; n <= 140; ++n) {
        const std::string label(n, static_cast<char>('a' + n % 26));
        const std::string value(n % 11, 'x');
        hasher.field(label, value).field(label, std::uint64_t{n * 0x0101010101});
        frame(framed, label, value);
        frame(framed, label, std::uint64_t{n * 0x0101010101});
    }
    EXPECT_EQ(h::to_hex(std::move(hasher).finalize_digest()), h::to_hex(h::sha256(framed)));
}

// Field streams that would collide without the length prefixes, or with order ignored.
TEST(CanonicalHasher, DifferentFieldSequencesDiffer) {
    using Feed = std::function<void(h::CanonicalHasher&)>;
    const std::pair<Feed, Feed> pairs[] = {
        {[](h::CanonicalHasher& x) { x.field("ab", "c"); },
         [](h::CanonicalHasher& x) { x.field("a", "bc"); }},
        {[](h::CanonicalHasher& x) { x.field("", "x"); },
         [](h::CanonicalHasher& x) { x.field("x", ""); }},
        {[](h::CanonicalHasher& x) { x.field("a", "b").field("c", "d"); },
         [](h::CanonicalHasher& x) { x.field("c", "d").field("a", "b"); }},
        {[](h::CanonicalHasher& x) { x.field("n", std::uint64_t{1}); },
         [](h::CanonicalHasher& x) { x.field("n", "1"); }},
    };
    for (std::size_t i = 0; i < std::size(pairs); ++i) {
        SCOPED_TRACE("pair " + std::to_string(i));
        EXPECT_NE(digest_of(pairs[i].first), digest_of(pairs[i].second));
    }
}

TEST(CanonicalHasher, HexIsSixtyFourLowerCaseDigits) {
    h::Sha256Digest ramp{};
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::uint8_t>(i * 8 + 7);
    EXPECT_EQ(h::to_hex(ramp), "070f171f272f373f474f575f676f777f878f979fa7afb7bfc7cfd7dfe7eff7ff");
    EXPECT_EQ(h::to_hex(h::Sha256Digest{}), std::string(64, '0'));

    EXPECT_EQ(h::CanonicalHasher{}.finalize_hex(),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    h::CanonicalHasher a, b;
    a.field("schema", "industrial").field("n", std::uint64_t{2});
    b.field("schema", "industrial").field("n", std::uint64_t{2});
    EXPECT_EQ(std::move(a).finalize_hex(), h::to_hex(std::move(b).finalize_digest()));
}

}  // namespace
