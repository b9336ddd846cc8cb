// Work orders: an order is an order id (each row, where the file has no id column), from its
// earliest start to its latest finish; one without a finish runs to the log's end, the latest
// time written in the log. The log witnesses the export when its own span (earliest to latest
// time written in it) contains the export's and an order overlaps the export's span.
#include <algorithm>

#include "context/context_internal.hpp"

namespace qorv_chemical_engineering_edge::context {
void order_row(Tally& t, const Row& row, const Columns& c, const TimeReader& clock) {
    ++t.records;
    const std::string& id = row.cell(c[maintenance::Id]);
    const bool ids = !c[maintenance::Id].empty();
    if (ids && id.empty() && row.cell(c[maintenance::Equipment]).empty()) {
        t.skips.add("rows without an order id");
        return;
    }
    const auto start = clock.instant(row.cell(c[maintenance::Start]), t.offsets);
    const std::string& finish_text = row.cell(c[maintenance::Finish]);
    const auto finish = clock.instant(finish_text, t.offsets);
    if (!start) {
        t.skips.add("rows whose start does not parse");
        return;
    }
    if (!finish_text.empty() && !finish) {
        t.skips.add("rows whose finish does not parse");
        return;
    }
    if (finish && *finish < *start) {
        t.skips.add("rows finishing before they start");
        return;
    }
    t.widen(*start);
    if (finish) t.widen(*finish);
    Item& o = t.item(id, ids && !id.empty(), *start);
    o.a = std::min(o.a, *start);
    if (finish) o.b = o.b ? std::max(*o.b, *finish) : *finish;
    if (const std::string& q = row.cell(c[maintenance::Equipment]); !q.empty()) t.names.insert(q);
}

ep::ContextEvidence order_evidence(Tally&& t, const Against& against) {
    ep::ContextEvidence e;
    e.records = t.records;
    e.first_us = t.first_us;
    e.last_us = t.last_us;
    for (const Item& o : t.items) {
        const std::int64_t end = o.b ? *o.b : *e.last_us;
        e.breaks.emplace_back(o.a, end);
        if (e.marks.size() < kMaxMarks) e.marks.emplace_back(o.a, end);
        ++(against.overlaps(o.a, end) ? e.inside : e.outside);
    }
    std::sort(e.breaks.begin(), e.breaks.end());
    std::sort(e.marks.begin(), e.marks.end());
    for (const std::string& q : t.names) against.tags_named(q, e.tags);
    finish_tags(e.tags);
    e.skipped = t.skips.list();
    note_span(against, e, true);
    offset_notes(t.offsets, against.profile.options, e.notes);
    return e;
}

}  // namespace qorv_chemical_engineering_edge::context
