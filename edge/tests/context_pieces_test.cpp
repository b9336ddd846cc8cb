// Context files read in pieces: wherever the file is cut, the merged partials give the evidence
// and the digest of one read, serialised or not.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "context/pieces.hpp"
#include "qorv_chemical_engineering_edge/hashing.hpp"

namespace cx = qorv_chemical_engineering_edge::context;
namespace ep = qorv_chemical_engineering_edge::export_profile;
namespace hashing = qorv_chemical_engineering_edge::hashing;

namespace {

// An export of one day, 2026-03-01 UTC, with a loop and a lone tag.
const ep::ExportProfile& day_export() {
    static const ep::ExportProfile p = [] {
        ep::ExportProfile q;
        for (const char* name : {"FIC101.PV", "FIC101.SP", "TI200"}) {
            ep::TagEvidence& t = q.tags.emplace_back();
            t.name = name;
            t.first_us = std::int64_t{1772323200} * 1'000'000;
            t.last_us = *t.first_us + std::int64_t{86400} * 1'000'000;
        }
        return q;
    }();
    return p;
}

std::string shown(const ep::ContextEvidence& e) {
    std::ostringstream o;
    o << e.kind << '|' << e.digest << '|' << e.bytes << '|' << e.records << '|' << e.inside << '|'
      << e.outside << '|' << e.censored << '|' << e.open << '|' << (e.first_us ? *e.first_us : -1)
      << '|' << (e.last_us ? *e.last_us : -1) << '|';
    for (const auto& s : e.skipped) o << s.text << '=' << s.count << ';';
    for (const auto& t : e.tags) o << t << ';';
    for (const auto& n : e.notes) o << n << ';';
    for (const auto& [a, b] : e.breaks) o << a << '-' << b << ';';
    for (const auto& [a, b] : e.marks) o << a << '-' << b << ';';
    return o.str();
}

// The bytes cut at `cuts`, each piece read from the parity the one before leaves, its partial
// sent through a blob when `blobs`, merged in order.
std::string read_cut(const std::string& bytes, const cx::ContextFile& file,
                     const std::vector<std::uint64_t>& cuts, bool blobs = false) {
    const cx::ReadAt read = [&](std::uint64_t at, std::size_t n, std::string& out) {
        out.assign(bytes, static_cast<std::size_t>(at), n);
        return true;
    };
    cx::ContextPartial merged;
    bool inside = false;
    std::uint64_t from = 0;
    for (std::size_t k = 0; k <= cuts.size(); ++k) {
        const std::uint64_t to = k < cuts.size() ? cuts[k] : bytes.size();
        // Later pieces guess their parity when there is no chain to ask; the guess is kept only
        // when it matches the chained one, as the cluster's pieces are settled.
        auto scan = cx::scan_context_range({file, from, to, false}, bytes.size(), read,
                                           day_export().options,
                                           k % 2 ? std::nullopt : std::optional(inside));
        if (!scan) return "error: " + scan.error().reason;
        if (scan.value().inside_quotes != inside) {
            scan = cx::scan_context_range({file, from, to, false}, bytes.size(), read,
                                          day_export().options, inside);
            if (!scan) return "error: " + scan.error().reason;
        }
        inside = inside != scan.value().odd_quotes;
        cx::ContextPartial part = std::move(scan.value().partial);
        if (blobs) {
            auto loaded = cx::ContextPartial::deserialize(part.serialize());
            if (!loaded) return "blob refused: " + loaded.error().reason;
            part = std::move(loaded.value());
        }
        merged.merge(std::move(part));
        from = to;
    }
    auto e = cx::context_evidence(std::move(merged), file, day_export());
    if (!e) return e.error().file + ": " + e.error().reason;
    return shown(e.value());
}

// SHA-256 over the SHA-256 of each 1 MiB block.
std::string block_digest(const std::string& bytes) {
    hashing::Sha256 all;
    for (std::size_t at = 0; at < bytes.size(); at += std::size_t{1} << 20) {
        const auto d = hashing::sha256(std::string_view(bytes).substr(at, std::size_t{1} << 20));
        all.update(d.data(), d.size());
    }
    return hashing::to_hex(all.finish());
}

struct SmallFile {
    const char* name;
    const char* kind;
    std::string text;
    std::string digested =
        {};  // the bytes the digest is over, when not the text's (UTF-16 decoded)
};

// ASCII text saved as UTF-16LE with its byte-order mark.
std::string utf16le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

// Each with what a cut can break: a quoted line break, ids whose rows lie far apart, slash dates
// whose order only a later row decides, a byte-order mark, a sep= line and a title block.
const std::vector<SmallFile>& small_files() {
    static const std::vector<SmallFile> files = {
        {"lab", "lab",
         "Sample Results Export\nSample ID,Sample Point,Sampled Time,Analysis,Result,Status\n"
         "S1,TI200,03/01/2026 01:00,Water,<0.5,\"ok\nchecked twice\"\n"
         "S2,FIC101,03/01/2026 02:00,Water,1.2,ok\n\n"
         "S3,TI200,03/01/2026 03:00,Water,ND,Cancelled\n"
         "S1,TI200,03/01/2026 00:30,Iron,2,ok\n"
         ",TI200,03/01/2026 04:00,Iron,2,ok\n"
         "S4,P-9,03/01/2026 05:00,Iron,Pending,ok\n"
         "S5,TI200,\"03/01/2026 06:00\",Iron,\"1,5\",ok\n"
         "S6,TI200,13/01/2026 07:00,Iron,3,ok\r\n"
         "S2,FIC101,03/01/2026 08:00,Iron,4,ok"},
        {"orders", "maintenance",
         "Order;Functional Location;Actual Start;Actual Finish;Order Type\n"
         "4711;FIC101;02/28/2026 08:00;03/01/2026 06:00;Corrective\n"
         "4712;P-300;03/01/2026 10:00;;Preventive\n"
         ";TI200;03/01/2026 11:00;03/01/2026 12:00;Inspection\n"
         "4711;FIC101;03/01/2026 09:00;03/01/2026 09:30;\"Corrective;\"\"again\"\"\"\n"
         "4713;TI200;bad time;;Calibration\n"
         "4714;TI200;03/01/2026 14:00;02/27/2026 00:00;Calibration\n"
         "4715;FIC101;03/02/2026 10:00;03/30/2026 10:00;Preventive\n"},
        {"batches", "batches",
         "\xEF\xBB\xBFsep=;\nBatch ID;Recipe;Unit;Phase;Event;Time\n"
         "B0;R-7;TI200;;Batch Start;2026-02-27T10:00:00+02:00\n"
         "B1;R-7;TI200;;Batch Start;2026-03-01T02:00:00Z\n"
         "B1;R-7;TI200;Heat;Phase End;2026-03-01T03:00:00Z\n"
         "B0;R-7;TI200;;Batch Complete;2026-02-27T12:00:00+02:00\n"
         "B2;R-7;FIC101;;Start;2026-03-01T20:00:00Z\n"
         "B1;R-7;TI200;;BATCH_ENDED;2026-03-01T05:00:00Z\n"
         "B2;R-7;FIC101;Heat;Complete;2026-03-01T21:00:00Z\n"},
    };
    static const std::vector<SmallFile> with_utf16 = [] {
        std::vector<SmallFile> all = files;
        const std::string& orders = files[1].text;
        all.push_back({"orders16", "maintenance", utf16le(orders), "\xEF\xBB\xBF" + orders});
        return all;
    }();
    return with_utf16;
}

TEST(ContextPieces, EverySplitReadsAsTheWholeFile) {
    for (const SmallFile& f : small_files()) {
        SCOPED_TRACE(f.name);
        const cx::ContextFile file{std::string(f.name) + ".csv", std::nullopt};
        const std::string whole = read_cut(f.text, file, {});
        ASSERT_EQ(whole.rfind(f.kind, 0), 0u) << whole;  // evidence, no refusal
        EXPECT_NE(whole.find(block_digest(f.digested.empty() ? f.text : f.digested)),
                  std::string::npos)
            << whole;
        const std::uint64_t n = f.text.size();
        for (std::uint64_t c = 1; c <= n; ++c) {
            ASSERT_EQ(read_cut(f.text, file, {c}), whole) << "cut at " << c;
        }
        for (std::uint64_t c1 = 1; c1 < n; c1 += 3)
            for (std::uint64_t c2 = c1; c2 < n; c2 += 5)
                ASSERT_EQ(read_cut(f.text, file, {c1, c2}, true), whole)
                    << "cuts at " << c1 << ", " << c2;
    }
}

TEST(ContextPieces, SplitsReadTheSlashDatesInTheOrderTheWholeFileDecides) {
    // Day first: only the last row says so, and the merge must keep the day-first reading of
    // every piece read before it.
    const std::string& lab = small_files()[0].text;
    const std::string whole = read_cut(lab, {"lab.csv", cx::Kind::Lab}, {});
    EXPECT_NE(whole.find("|1767400200000000|"), std::string::npos) << whole;  // 3 Jan, 00:30
    // Both orders in one file: refused, whatever the cut.
    const std::string both = lab + "\nS7,TI200,01/13/2026 09:00,Iron,1,ok\n";
    for (std::uint64_t c : {std::uint64_t{0}, std::uint64_t{90}, std::uint64_t{both.size() - 9}})
        EXPECT_EQ(read_cut(both, {"lab.csv", std::nullopt}, {c}),
                  "lab.csv: its slash dates read both day first and month first; give day_first");
}

TEST(ContextPieces, BlockDigestsStitchAcrossUnalignedCuts) {
    std::string lab = "Sample ID,Sampled Time,Result\n";
    for (int i = 0; lab.size() < 3 * (std::size_t{1} << 20) + 777; ++i)
        lab += "S" + std::to_string(i % 5000) + ",2026-03-01 " + std::to_string(10 + i % 10) +
               ":00,1." + std::to_string(i % 7) + "\n";
    const cx::ContextFile file{"big.csv", std::nullopt};
    const std::string whole = read_cut(lab, file, {});
    EXPECT_NE(whole.find(block_digest(lab)), std::string::npos);
    constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
    const std::vector<std::vector<std::uint64_t>> cuts = {
        {kMiB, 2 * kMiB, 3 * kMiB}, {kMiB - 5, kMiB + 3}, {17, 2 * kMiB + 1}, {kMiB / 2, 3 * kMiB}};
    for (const auto& c : cuts) EXPECT_EQ(read_cut(lab, file, c, true), whole);
}

TEST(ContextPieces, DamagedBlobsAreRefused) {
    const std::string& text = small_files()[1].text;
    const cx::ReadAt read = [&](std::uint64_t at, std::size_t n, std::string& out) {
        out.assign(text, static_cast<std::size_t>(at), n);
        return true;
    };
    auto scan = cx::scan_context_range({{"o.csv", std::nullopt}, 0, text.size(), false},
                                       text.size(), read, day_export().options, false);
    ASSERT_TRUE(scan.ok());
    const std::string blob = scan.value().partial.serialize();
    ASSERT_TRUE(cx::ContextPartial::deserialize(blob).ok());
    for (std::size_t cut = 0; cut < blob.size(); cut += 7)
        EXPECT_FALSE(cx::ContextPartial::deserialize(blob.substr(0, cut)).ok()) << cut;
    std::string longer = blob + "x";
    EXPECT_FALSE(cx::ContextPartial::deserialize(longer).ok());
}

}  // namespace
