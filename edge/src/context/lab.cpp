// Lab samples: a sample is a sample id (each row, where the file has no id column). A result is
// any text but a placeholder for one not yet there; censored results (<0.5, >100, ND) are
// results, counted as censored. A sample is valid when it has a result and no row of it is
// cancelled, canceled, rejected, void or voided (any case); its time is its earliest.
#include <algorithm>
#include <unordered_map>

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

struct Sample {
    std::optional<std::int64_t> time;
    bool result = false;
    bool invalid = false;
};

}  // namespace

ep::Result<ep::ContextEvidence> read_lab(const Table& t, const Against& against) {
    const Columns& c = t.columns;
    auto times = TimeReader::make(against, t, {c[lab::Time]});
    if (!times) return ep::ProfileError{t.file, times.error().reason};
    TimeReader& clock = times.value();
    ep::ContextEvidence e;
    Skips skips;
    const char decimal = against.profile.options.decimal;
    std::vector<Sample> samples;
    std::unordered_map<std::string, std::size_t> by_id;
    const bool ids = !c[lab::Id].empty();
    std::vector<std::string> points;
    for (const Row& row : t.rows) {
        ++e.records;
        const std::string& id = row.cell(c[lab::Id]);
        if (ids && id.empty()) {
            skips.add("rows without a sample id");
            continue;
        }
        const auto when = clock.instant(row.cell(c[lab::Time]));
        if (!when) {
            skips.add("rows whose sampled time does not parse");
            continue;
        }
        e.first_us = e.first_us ? std::min(*e.first_us, *when) : *when;
        e.last_us = e.last_us ? std::max(*e.last_us, *when) : *when;
        std::size_t k = samples.size();
        if (ids) {
            const auto [it, added] = by_id.emplace(id, samples.size());
            k = it->second;
            if (added) samples.emplace_back();
        } else {
            samples.emplace_back();
        }
        Sample& s = samples[k];
        s.time = s.time ? std::min(*s.time, *when) : *when;
        const std::string& result = row.cell(c[lab::Result]);
        if (!no_result(result)) {
            s.result = true;
            e.censored += ep::is_censored(result, decimal);
        }
        if (says_word(row.cell(c[lab::Status]), kInvalid)) s.invalid = true;
        if (const std::string& p = row.cell(c[lab::Point]); !p.empty()) points.push_back(p);
    }
    for (const Sample& s : samples) {
        if (s.invalid) {
            skips.add("samples cancelled, rejected or void");
        } else if (!s.result) {
            skips.add("samples without a result");
        } else {
            if (e.marks.size() < kMaxMarks) e.marks.emplace_back(*s.time, *s.time);
            ++(against.inside(*s.time) ? e.inside : e.outside);
        }
    }
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    for (const std::string& p : points) against.tags_named(p, e.tags);
    finish_tags(e.tags);
    e.skipped = skips.list();
    note_span(against, e, false);
    clock.notes(e.notes);
    std::sort(e.marks.begin(), e.marks.end());
    return e;
}

}  // namespace qorv_chemical_engineering_edge::context
