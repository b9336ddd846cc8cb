// A batch event journal: a batch starts at its earliest event and ends at an end event of the
// batch itself, a row of the batch naming no phase or step whose event or state text says end,
// ended, complete(d), stopped or aborted (any case); a phase's end is not its batch's. A batch
// without one is open, never given an end.
#include <algorithm>
#include <unordered_map>

#include "context/context_internal.hpp"

namespace qorv_chemical_engineering_edge::context {
namespace {

constexpr std::string_view kEndWords[] = {"end",       "ended",   "complete",
                                          "completed", "stopped", "aborted"};

struct Batch {
    std::int64_t start = 0;
    std::optional<std::int64_t> end;
};

}  // namespace

ep::Result<ep::ContextEvidence> read_batch_journal(const Table& t, const Against& against) {
    const Columns& c = t.columns;
    auto times = TimeReader::make(against, t, {c[batches::Time]});
    if (!times) return ep::ProfileError{t.file, times.error().reason};
    TimeReader& clock = times.value();
    ep::ContextEvidence e;
    Skips skips;
    std::vector<Batch> list;
    std::unordered_map<std::string, std::size_t> by_id;
    std::vector<std::string> units;
    for (const Row& row : t.rows) {
        ++e.records;
        const std::string& id = row.cell(c[batches::Batch]);
        if (id.empty()) {
            skips.add("rows without a batch id");
            continue;
        }
        const auto when = clock.instant(row.cell(c[batches::Time]));
        if (!when) {
            skips.add("rows whose time does not parse");
            continue;
        }
        e.first_us = e.first_us ? std::min(*e.first_us, *when) : *when;
        e.last_us = e.last_us ? std::max(*e.last_us, *when) : *when;
        const auto [it, added] = by_id.emplace(id, list.size());
        if (added) list.push_back({*when, std::nullopt});
        Batch& b = list[it->second];
        b.start = std::min(b.start, *when);
        bool ends = false;
        if (row.cell(c[batches::Phase]).empty())
            for (std::size_t j : c[batches::Event])
                ends = ends || (j < row.cells.size() && says_word(row.cells[j], kEndWords));
        if (ends) b.end = b.end ? std::max(*b.end, *when) : *when;
        if (const std::string& u = row.cell(c[batches::Unit]); !u.empty()) units.push_back(u);
    }
    for (const Batch& b : list) {
        e.breaks.emplace_back(b.start, b.start);
        if (!b.end) {
            ++e.open;
            if (e.marks.size() < kMaxMarks) e.marks.emplace_back(b.start, b.start);
            continue;
        }
        e.breaks.emplace_back(*b.end, *b.end);
        if (e.marks.size() < kMaxMarks) e.marks.emplace_back(b.start, *b.end);
        ++(against.inside(b.start) && against.inside(*b.end) ? e.inside : e.outside);
    }
    std::sort(e.breaks.begin(), e.breaks.end());
    std::sort(e.marks.begin(), e.marks.end());
    std::sort(units.begin(), units.end());
    units.erase(std::unique(units.begin(), units.end()), units.end());
    for (const std::string& u : units) against.tags_named(u, e.tags);
    finish_tags(e.tags);
    e.skipped = skips.list();
    note_span(against, e, false);
    clock.notes(e.notes);
    return e;
}

}  // namespace qorv_chemical_engineering_edge::context
