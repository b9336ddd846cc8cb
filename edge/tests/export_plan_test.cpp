// The piece plan: openings of any size, pieces that tile the file on digest blocks, parity
// chained across cuts, and pieces scanned apart that merge back into the one scan.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "export/plan.hpp"
#include "scan_whole.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

constexpr std::uint64_t kMiB = ep::kDigestBlock;

// A wide export whose header holds `tags` names of `width` bytes, with `rows` rows; every
// fifth row carries a quoted cell with a line feed, so that cuts fall inside quotes.
std::string wide_export(std::size_t tags, std::size_t width, std::size_t rows) {
    std::string out = "timestamp";
    for (std::size_t k = 0; k < tags; ++k) {
        // Appended piece by piece: GCC 12's -Wrestrict misfires on "literal" + string at -O3.
        std::string name(1, 'T');
        name.append(std::to_string(k)).push_back('.');
        name.resize(width, 'n');
        out.push_back(',');
        out.append(name);
    }
    out += "\n";
    for (std::size_t r = 0; r < rows; ++r) {
        out += "2024-01-01T00:00:00Z";
        out[out.size() - 3] = static_cast<char>('0' + r % 6);
        out[out.size() - 2] = static_cast<char>('0' + r % 10);
        for (std::size_t k = 0; k < tags; ++k) {
            if (r % 5 == 0 && k == 1) {
                out += ",\"a\nb\"";
            } else {
                out.push_back(',');
                out.append(std::to_string((r + k) % 97));
            }
        }
        out += "\n";
    }
    return out;
}

// Plans from a head grown as the plan asks, counting the asks.
ep::FilePlan plan_of(const std::string& bytes, std::uint64_t piece_bytes, int& asks) {
    const auto settings = ep::make_settings({});
    std::string_view head(bytes.data(), std::min<std::size_t>(bytes.size(), 4096));
    for (asks = 0; asks < 64; ++asks) {
        auto step = ep::plan_head("f.csv", 0, bytes.size(), head, *settings, piece_bytes);
        if (auto* plan = std::get_if<ep::FilePlan>(&step)) return std::move(*plan);
        if (auto* error = std::get_if<ep::ProfileError>(&step)) {
            ADD_FAILURE() << error->reason;
            return {};
        }
        const auto need = std::get<ep::NeedBytes>(step).bytes;
        EXPECT_GT(need, head.size()) << "a wait must ask for more than it has";
        head = std::string_view(bytes.data(), need);
    }
    ADD_FAILURE() << "the plan never settled";
    return {};
}

struct PlanCase {
    const char* name;
    std::size_t tags, width, rows;
    std::uint64_t piece_bytes;
};

class PiecePlan : public ::testing::TestWithParam<PlanCase> {};

const PlanCase kPlans[] = {
    {"narrow_many_pieces", 4, 8, 120'000, kMiB},
    // A 3 MB header: past the first piece size and past the first reads of the opening.
    {"header_past_the_piece", 3'000, 1'000, 400, kMiB},
    // 17 MB: past what any path once held of an opening.
    {"header_of_17_mb", 1'700, 10'000, 300, 2 * kMiB},
    {"one_piece", 3, 5, 20, 0},
};

TEST_P(PiecePlan, PiecesTileTheFileAndRescanToTheWholeScan) {
    const PlanCase& c = GetParam();
    const std::string bytes = wide_export(c.tags, c.width, c.rows);
    int asks = 0;
    const ep::FilePlan plan = plan_of(bytes, c.piece_bytes, asks);
    ASSERT_FALSE(plan.pieces.empty());
    // Doubling: the asks grow with the log of the opening, not its size.
    EXPECT_LE(asks, 16);
    std::uint64_t at = 0;
    for (const ep::Piece& p : plan.pieces) {
        EXPECT_EQ(p.from, at);
        EXPECT_EQ(p.from % kMiB, 0u);
        EXPECT_GT(p.to, p.from);
        EXPECT_EQ(p.header_bytes, p.first() ? 0u : plan.opening.size());
        at = p.to;
    }
    EXPECT_EQ(at, bytes.size());

    // Scanned apart under the chained parity, merged in order: the one scan, digest included.
    std::vector<bool> odd;
    for (const ep::Piece& p : plan.pieces)
        odd.push_back(ep::odd_quotes(std::string_view(bytes).substr(p.from, p.to - p.from)));
    std::unique_ptr<bool[]> flags(new bool[odd.size()]);
    for (std::size_t i = 0; i < odd.size(); ++i) flags[i] = odd[i];
    const auto at_start = ep::chain_parities(std::span<const bool>(flags.get(), odd.size()));
    ep::PartialProfile merged;
    for (std::size_t i = 0; i < plan.pieces.size(); ++i) {
        const ep::Piece& p = plan.pieces[i];
        const std::string_view data = std::string_view(bytes).substr(p.from, p.to - p.from);
        EXPECT_EQ(at_start[i], ep::odd_quotes(std::string_view(bytes).substr(0, p.from)));
        auto scanned = ep::scan_piece_bytes(p, {}, at_start[i], plan.opening, {},
                                            std::span<const std::string_view>(&data, 1));
        ASSERT_TRUE(scanned) << scanned.error().reason;
        merged.merge(std::move(scanned.value().partial));
    }
    const auto whole = ep::test_support::scan_whole({}, bytes);
    EXPECT_EQ(merged.finalize(ep::DeclaredFields{}).value().seal,
              whole.finalize(ep::DeclaredFields{}).value().seal);
}

INSTANTIATE_TEST_SUITE_P(Exports, PiecePlan, ::testing::ValuesIn(kPlans),
                         [](const auto& info) { return std::string(info.param.name); });

struct OpeningCase {
    const char* name;
    std::string bytes;
    const char* error;  // empty: a layout
};

class Opening : public ::testing::TestWithParam<OpeningCase> {};

const OpeningCase kOpenings[] = {
    // A run past what a row may hold, with no delimiter: no header at all.
    {"headerless_letters", std::string(17 * kMiB, 'a'), "no delimiter or line end in 16 MiB"},
    {"binary", std::string("time,a\0b\n", 9) + "2024-01-01,1\n", "NUL bytes"},
    {"header_of_20_mb", wide_export(2'000, 10'000, 2), ""},
};

TEST_P(Opening, ReadsAnyHeaderAndRefusesHeaderlessData) {
    const OpeningCase& c = GetParam();
    const auto settings = ep::make_settings({});
    // A refusal is settled by the bytes at hand, as a stream that goes on; a layout waits for
    // the opening sample, which this short export's end completes.
    const auto probed =
        ep::probe_opening("f.csv", c.bytes.size() + (*c.error == '\0' ? 0 : 1), c.bytes, *settings);
    if (*c.error == '\0') {
        ASSERT_TRUE(std::holds_alternative<ep::FileLayout>(probed));
        EXPECT_EQ(std::get<ep::FileLayout>(probed).n_columns, 2'001u);
    } else {
        ASSERT_TRUE(std::holds_alternative<ep::ProfileError>(probed));
        EXPECT_NE(std::get<ep::ProfileError>(probed).reason.find(c.error), std::string::npos)
            << std::get<ep::ProfileError>(probed).reason;
    }
    // A stream fed in pieces says the same, without waiting for its end.
    ep::ExportScanner s({}, "f.csv");
    for (std::size_t at = 0; at < c.bytes.size() && !s.failed(); at += kMiB)
        s.feed(std::string_view(c.bytes).substr(at, kMiB));
    EXPECT_EQ(s.failed(), *c.error != '\0');
    const auto done = s.finish();
    EXPECT_EQ(done.ok(), *c.error == '\0');
}

INSTANTIATE_TEST_SUITE_P(Openings, Opening, ::testing::ValuesIn(kOpenings),
                         [](const auto& info) { return std::string(info.param.name); });

// A data frame's parts planned as one text: where pieces start, what each reads of which part.
struct PartsCase {
    const char* name;
    std::uint64_t header;
    bool header_odd;
    std::vector<ep::TextPart> parts;
    std::vector<ep::TextPiece> pieces;
};

class PartsPlan : public ::testing::TestWithParam<PartsCase> {};

const PartsCase kPartsPlans[] = {
    {"parts_shorter_than_a_block",
     10,
     false,
     {{100, true}, {200, false}, {300, true}},
     {{0, 0, 610, 0, false, {{1, 200}, {2, 300}}}}},
    {"empty_parts_read_by_no_one",
     10,
     true,
     {{0, false}, {kMiB, true}, {0, false}, {kMiB, false}},
     {{0, 0, kMiB, 0, true, {{1, kMiB - 10}}},
      {1, kMiB, 2 * kMiB, kMiB - 10, true, {{3, kMiB - 10}}},
      {3, 2 * kMiB, 2 * kMiB + 10, kMiB - 10, false, {}}}},
    // The first block multiple after the header lies in part 2: parts 0 and 1 are one piece.
    {"header_longer_than_a_block",
     kMiB + 5,
     false,
     {{kMiB, true}, {10, false}, {3 * kMiB, false}},
     {{0, 0, 3 * kMiB, 0, false, {{1, 10}, {2, kMiB - 15}}},
      {2, 3 * kMiB, 5 * kMiB + 15, kMiB - 15, true, {}}}},
    {"starts_exactly_on_blocks",
     100,
     false,
     // An empty part at a block multiple starts no piece of no bytes.
     {{kMiB - 100, true}, {kMiB, true}, {0, false}, {5, false}},
     {{0, 0, kMiB, 0, false, {}},
      {1, kMiB, 2 * kMiB, 0, true, {}},
      {3, 2 * kMiB, 2 * kMiB + 5, 0, false, {}}}},
    // A part spanning several blocks still starts one piece only: its rows travel once.
    {"long_part_then_short_ones",
     7,
     false,
     {{3 * kMiB, false}, {1, true}, {kMiB, false}},
     {{0, 0, 4 * kMiB, 0, false, {{1, 1}, {2, kMiB - 8}}},
      {2, 4 * kMiB, 4 * kMiB + 8, kMiB - 8, true, {}}}},
    {"no_parts", 10, false, {}, {}},
};

TEST_P(PartsPlan, PiecesTileTheTextFromTheirParts) {
    const PartsCase& c = GetParam();
    const auto pieces = ep::plan_parts(c.header, c.header_odd, c.parts);
    ASSERT_EQ(pieces.size(), c.pieces.size());
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const ep::TextPiece &got = pieces[k], &want = c.pieces[k];
        EXPECT_EQ(got.part, want.part) << k;
        EXPECT_EQ(got.from, want.from) << k;
        EXPECT_EQ(got.to, want.to) << k;
        EXPECT_EQ(got.skip, want.skip) << k;
        EXPECT_EQ(got.part_inside_quotes, want.part_inside_quotes) << k;
        ASSERT_EQ(got.heads.size(), want.heads.size()) << k;
        for (std::size_t h = 0; h < got.heads.size(); ++h) {
            EXPECT_EQ(got.heads[h].part, want.heads[h].part) << k << "," << h;
            EXPECT_EQ(got.heads[h].bytes, want.heads[h].bytes) << k << "," << h;
        }
    }
    // Assembled as a scan task does (the header, the rest of its part, the heads), each piece
    // is exactly its range of the one text.
    std::string header(c.header, 'h'), text = header;
    std::vector<std::string> rows;
    for (std::size_t p = 0; p < c.parts.size(); ++p) {
        std::string r(c.parts[p].bytes, '\0');
        for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<char>('a' + (i * 7 + p) % 26);
        text += r;
        rows.push_back(std::move(r));
    }
    for (const ep::TextPiece& piece : pieces) {
        std::string bytes = piece.from == 0 ? header : "";
        bytes += rows[piece.part].substr(piece.skip);
        for (const ep::PartHead& h : piece.heads) bytes += rows[h.part].substr(0, h.bytes);
        EXPECT_TRUE(bytes == text.substr(piece.from, piece.to - piece.from))
            << "piece at " << piece.from;
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, PartsPlan, ::testing::ValuesIn(kPartsPlans),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PartHeads, AnOpeningReadsThePartsItSpans) {
    const std::vector<ep::TextPart> parts = {{5, false}, {0, false}, {20, true}, {9, false}};
    struct {
        std::uint64_t upto;
        std::vector<std::pair<std::size_t, std::uint64_t>> heads;
    } const cases[] = {
        {10, {}}, {12, {{0, 2}}}, {30, {{0, 5}, {2, 15}}}, {99, {{0, 5}, {2, 20}, {3, 9}}}};
    for (const auto& c : cases) {
        std::vector<std::pair<std::size_t, std::uint64_t>> got;
        for (const ep::PartHead& h : ep::part_heads(10, parts, c.upto))
            got.emplace_back(h.part, h.bytes);
        EXPECT_EQ(got, c.heads) << "upto " << c.upto;
    }
}

}  // namespace
