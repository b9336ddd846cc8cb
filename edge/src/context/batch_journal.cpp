// A batch event journal: a batch starts at its earliest event and ends at an end event of the
// batch itself, a row of the batch naming no phase or step whose event or state text says end,
// ended, complete(d), stopped or aborted (any case); a phase's end is not its batch's. A batch
// without one is open, never given an end.
#include <algorithm>

#include "context/context_internal.hpp"

namespace qorv_chemical_engineering_edge::context {
namespace {

constexpr std::string_view kEndWords[] = {"end",       "ended",   "complete",
                                          "completed", "stopped", "aborted"};

}  // namespace

void batch_row(Tally& t, const Row& row, const Columns& c, const TimeReader& clock) {
    ++t.records;
    const std::string& id = row.cell(c[batches::Batch]);
    if (id.empty()) {
        t.skips.add("rows without a batch id");
        return;
    }
    const auto when = clock.instant(row.cell(c[batches::Time]), t.offsets);
    if (!when) {
        t.skips.add("rows whose time does not parse");
        return;
    }
    t.widen(*when);
    Item& b = t.item(id, true, *when);
    b.a = std::min(b.a, *when);
    bool ends = false;
    if (row.cell(c[batches::Phase]).empty())
        for (std::size_t j : c[batches::Event])
            ends = ends || (j < row.cells.size() && says_word(row.cells[j], kEndWords));
    if (ends) b.b = b.b ? std::max(*b.b, *when) : *when;
    if (const std::string& u = row.cell(c[batches::Unit]); !u.empty()) t.names.insert(u);
}

ep::ContextEvidence batch_evidence(Tally&& t, const Against& against) {
    ep::ContextEvidence e;
    e.records = t.records;
    e.first_us = t.first_us;
    e.last_us = t.last_us;
    for (const Item& b : t.items) {
        e.breaks.emplace_back(b.a, b.a);
        if (!b.b) {
            ++e.open;
            if (e.marks.size() < kMaxMarks) e.marks.emplace_back(b.a, b.a);
            continue;
        }
        e.breaks.emplace_back(*b.b, *b.b);
        if (e.marks.size() < kMaxMarks) e.marks.emplace_back(b.a, *b.b);
        ++(against.inside(b.a) && against.inside(*b.b) ? e.inside : e.outside);
    }
    std::sort(e.breaks.begin(), e.breaks.end());
    std::sort(e.marks.begin(), e.marks.end());
    for (const std::string& u : t.names) against.tags_named(u, e.tags);
    finish_tags(e.tags);
    e.skipped = t.skips.list();
    note_span(against, e, false);
    offset_notes(t.offsets, against.profile.options, e.notes);
    return e;
}

}  // namespace qorv_chemical_engineering_edge::context
