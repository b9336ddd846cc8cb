// Work orders: an order is an order id (each row, where the file has no id column), from its
// earliest start to its latest finish; one without a finish runs to the log's end, the latest
// time written in the log. The log witnesses the export when its own span (earliest to latest
// time written in it) contains the export's and an order overlaps the export's span.
#include <algorithm>
#include <unordered_map>

#include "context/context_internal.hpp"

namespace qorv_chemical_engineering_edge::context {
namespace {

struct Order {
    std::int64_t start = 0;
    std::optional<std::int64_t> finish;
};

}  // namespace

ep::Result<ep::ContextEvidence> read_work_orders(const Table& t, const Against& against) {
    const Columns& c = t.columns;
    auto times = TimeReader::make(against, t, {c[maintenance::Start], c[maintenance::Finish]});
    if (!times) return ep::ProfileError{t.file, times.error().reason};
    TimeReader& clock = times.value();
    ep::ContextEvidence e;
    Skips skips;
    std::vector<Order> orders;
    std::unordered_map<std::string, std::size_t> by_id;
    const bool ids = !c[maintenance::Id].empty();
    std::vector<std::string> equipment;
    auto widen = [&](std::int64_t t) {
        e.first_us = e.first_us ? std::min(*e.first_us, t) : t;
        e.last_us = e.last_us ? std::max(*e.last_us, t) : t;
    };
    for (const Row& row : t.rows) {
        ++e.records;
        const std::string& id = row.cell(c[maintenance::Id]);
        if (ids && id.empty() && row.cell(c[maintenance::Equipment]).empty()) {
            skips.add("rows without an order id");
            continue;
        }
        const auto start = clock.instant(row.cell(c[maintenance::Start]));
        const std::string& finish_text = row.cell(c[maintenance::Finish]);
        const auto finish = clock.instant(finish_text);
        if (!start) {
            skips.add("rows whose start does not parse");
            continue;
        }
        if (!finish_text.empty() && !finish) {
            skips.add("rows whose finish does not parse");
            continue;
        }
        if (finish && *finish < *start) {
            skips.add("rows finishing before they start");
            continue;
        }
        widen(*start);
        if (finish) widen(*finish);
        std::size_t k = orders.size();
        if (ids && !id.empty()) {
            const auto [it, added] = by_id.emplace(id, orders.size());
            k = it->second;
            if (added) orders.push_back({*start, std::nullopt});
        } else {
            orders.push_back({*start, std::nullopt});
        }
        Order& o = orders[k];
        o.start = std::min(o.start, *start);
        if (finish) o.finish = o.finish ? std::max(*o.finish, *finish) : *finish;
        if (const std::string& q = row.cell(c[maintenance::Equipment]); !q.empty())
            equipment.push_back(q);
    }
    for (const Order& o : orders) {
        const std::int64_t end = o.finish ? *o.finish : *e.last_us;
        e.breaks.emplace_back(o.start, end);
        if (e.marks.size() < kMaxMarks) e.marks.emplace_back(o.start, end);
        ++(against.overlaps(o.start, end) ? e.inside : e.outside);
    }
    std::sort(e.breaks.begin(), e.breaks.end());
    std::sort(e.marks.begin(), e.marks.end());
    std::sort(equipment.begin(), equipment.end());
    equipment.erase(std::unique(equipment.begin(), equipment.end()), equipment.end());
    for (const std::string& q : equipment) against.tags_named(q, e.tags);
    finish_tags(e.tags);
    e.skipped = skips.list();
    note_span(against, e, true);
    clock.notes(e.notes);
    return e;
}

}  // namespace qorv_chemical_engineering_edge::context
