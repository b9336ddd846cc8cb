// Lab samples: a sample is a sample id (each row, where the file has no id column). A result is
// any text but a placeholder for one not yet there; censored results (<0.5, >100, ND) are
// results, counted as censored. A sample is valid when it has a result and no row of it is
// cancelled, canceled, rejected, void or voided (any case); its time is its earliest.
#include <algorithm>

#include "context/context_internal.hpp"
#include "export/cells.hpp"

namespace qorv_chemical_engineering_edge::context {
namespace {

constexpr std::string_view kInvalid[] = {"cancelled", "canceled", "rejected", "void", "voided"};
// Texts a LIMS writes where no result is entered yet.
constexpr std::string_view kNoResult[] = {
    "pending", "tbd", "na", "n/a", "-", "--", "---", "?", "null", "not tested", "in progress"};

bool no_result(std::string_view r) {
    if (r.empty()) return true;
    std::string k(r);
    std::transform(k.begin(), k.end(), k.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return std::find(std::begin(kNoResult), std::end(kNoResult), k) != std::end(kNoResult);
}

}  // namespace

std::vector<std::size_t> time_columns(const Columns& c) {
    switch (c.kind) {
        case Kind::Lab:
            return c[lab::Time];
        case Kind::Maintenance: {
            std::vector<std::size_t> both = c[maintenance::Start];
            both.insert(both.end(), c[maintenance::Finish].begin(), c[maintenance::Finish].end());
            return both;
        }
        case Kind::Batches:
            return c[batches::Time];
    }
    return {};
}

void lab_row(Tally& t, const Row& row, const Columns& c, const TimeReader& clock, char decimal) {
    ++t.records;
    const std::string& id = row.cell(c[lab::Id]);
    const bool ids = !c[lab::Id].empty();
    if (ids && id.empty()) {
        t.skips.add("rows without a sample id");
        return;
    }
    const auto when = clock.instant(row.cell(c[lab::Time]), t.offsets);
    if (!when) {
        t.skips.add("rows whose sampled time does not parse");
        return;
    }
    t.widen(*when);
    Item& s = t.item(id, ids, *when);
    s.a = std::min(s.a, *when);
    const std::string& result = row.cell(c[lab::Result]);
    if (!no_result(result)) {
        s.result = true;
        t.censored += ep::is_censored(result, decimal);
    }
    if (says_word(row.cell(c[lab::Status]), kInvalid)) s.invalid = true;
    if (const std::string& p = row.cell(c[lab::Point]); !p.empty()) t.names.insert(p);
}

ep::ContextEvidence lab_evidence(Tally&& t, const Against& against) {
    ep::ContextEvidence e;
    e.records = t.records;
    e.censored = t.censored;
    e.first_us = t.first_us;
    e.last_us = t.last_us;
    Skips& skips = t.skips;
    for (const Item& s : t.items) {
        if (s.invalid) {
            skips.add("samples cancelled, rejected or void");
        } else if (!s.result) {
            skips.add("samples without a result");
        } else {
            if (e.marks.size() < kMaxMarks) e.marks.emplace_back(s.a, s.a);
            ++(against.inside(s.a) ? e.inside : e.outside);
        }
    }
    for (const std::string& p : t.names) against.tags_named(p, e.tags);
    finish_tags(e.tags);
    e.skipped = skips.list();
    note_span(against, e, false);
    offset_notes(t.offsets, against.profile.options, e.notes);
    std::sort(e.marks.begin(), e.marks.end());
    return e;
}

}  // namespace qorv_chemical_engineering_edge::context
