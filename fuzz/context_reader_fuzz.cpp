// The context readers over any bytes: a context file's table is read (or refused) and, when it
// names a kind, read as that kind against a small export, never crashing. Checked as well: the
// counts agree with one another (items inside and outside never exceed what was read, the
// evidence's span holds every mark, breaks are closed intervals), and reading the same bytes
// named as the kind found gives the same evidence.
//
// The same bytes cut in three pieces (where the kind byte and the input's length say) read
// into the same evidence and digest.
//
// Input: [kind byte][file bytes]: kind % 4 == 3 recognises by columns, else names the kind.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <source_location>
#include <string>
#include <utility>
#include <vector>

#include "context/pieces.hpp"
#include "fuzz_check.hpp"

namespace cx = qorv_chemical_engineering_edge::context;
namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

// An export of one day (2026-03-01) with a loop and a lone tag.
const ep::ExportProfile& export_profile() {
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

void check_evidence(const ep::ContextEvidence& e) {
    check(e.inside + e.outside + e.open <= e.records);  // every item has a row
    check(e.first_us.has_value() == e.last_us.has_value());
    if (e.first_us) check(*e.first_us <= *e.last_us);
    for (const auto& [a, b] : e.breaks) {
        check(a <= b);
        check(e.first_us && *e.first_us <= a && b <= *e.last_us);
    }
    for (const auto& [a, b] : e.marks) check(a <= b);
    for (const ep::TextCount& s : e.skipped) check(s.count > 0);
}

// The bytes read as a context file (the file's pieces cut at `cuts`) into evidence.
ep::Result<ep::ContextEvidence> read_cut(const std::string& bytes, const cx::ContextFile& file,
                                         const std::vector<std::uint64_t>& cuts) {
    const cx::ReadAt read = [&](std::uint64_t at, std::size_t n, std::string& out) {
        out.assign(bytes, static_cast<std::size_t>(at), n);
        return true;
    };
    cx::ContextPartial merged;
    bool inside = false;
    std::uint64_t from = 0;
    for (std::size_t k = 0; k <= cuts.size(); ++k) {
        const std::uint64_t to = k < cuts.size() ? cuts[k] : bytes.size();
        auto scan = cx::scan_context_range({file, from, to, false}, bytes.size(), read,
                                           export_profile().options, inside);
        if (!scan) return scan.error();
        inside = inside != scan.value().odd_quotes;
        merged.merge(std::move(scan.value().partial));
        from = to;
    }
    return cx::context_evidence(std::move(merged), file, export_profile());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned which = data[0] % 4;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    cx::ContextFile file{"fuzz.csv", std::nullopt};
    if (which < 3) file.kind = static_cast<cx::Kind>(which);
    auto e = read_cut(bytes, file, {});
    if (!e) {
        check(e.error().file == "fuzz.csv" && !e.error().reason.empty());
        return 0;
    }
    if (file.kind) check(e.value().kind == cx::name(*file.kind));
    check_evidence(e.value());
    // Cut in three anywhere, the file reads alike: every field and the digest.
    const std::uint64_t n = bytes.size();
    std::vector<std::uint64_t> cuts = {(n * data[0]) / 256, (n * (size % 251)) / 251};
    if (cuts[0] > cuts[1]) std::swap(cuts[0], cuts[1]);
    auto cut = read_cut(bytes, file, cuts);
    check(cut.ok());
    const ep::ContextEvidence& a = e.value();
    const ep::ContextEvidence& b = cut.value();
    check(a.digest == b.digest && a.bytes == b.bytes && a.records == b.records &&
          a.inside == b.inside && a.outside == b.outside && a.censored == b.censored &&
          a.open == b.open && a.first_us == b.first_us && a.last_us == b.last_us &&
          a.tags == b.tags && a.notes == b.notes && a.breaks == b.breaks && a.marks == b.marks &&
          a.skipped.size() == b.skipped.size());
    for (std::size_t k = 0; k < a.skipped.size(); ++k)
        check(a.skipped[k].text == b.skipped[k].text && a.skipped[k].count == b.skipped[k].count);
    if (!file.kind) {  // named as the kind its columns gave, it reads alike
        file.kind = cx::kind_named(e.value().kind);
        auto again = read_cut(bytes, file, {});
        check(again.ok() && again.value().inside == e.value().inside &&
              again.value().records == e.value().records &&
              again.value().breaks == e.value().breaks);
    }
    return 0;
}
