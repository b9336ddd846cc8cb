// The normal-operation window: row verdicts kept by the scan, runs cut and ranked at the end.
#include "export/baseline.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

#include "export/cells.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr std::int64_t kDayUs = std::int64_t{86400} * 1'000'000;
constexpr std::uint64_t kMinRows = 100;
constexpr std::size_t kRunnersUp = 5;

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return out;
}

std::string hours(std::int64_t us) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.1f h", static_cast<double>(us) / 3.6e9);
    return buf;
}

}  // namespace

LoopPlan plan_loops(const std::vector<std::string>& tag_names) {
    // Bases compare in any case, as for has_controllers; the first column of a suffix stands.
    struct Base {
        std::map<std::string, std::uint32_t> by_suffix;
        std::vector<std::uint32_t> members;
    };
    std::map<std::string, Base> bases;
    for (std::uint32_t i = 0; i < tag_names.size(); ++i) {
        const auto m = loop_member(tag_names[i]);
        if (!m) continue;
        Base& b = bases[lower(m->first)];
        b.by_suffix.emplace(upper(m->second), i);
        b.members.push_back(i);
    }
    LoopPlan plan;
    for (const auto& [key, b] : bases) {
        if (b.by_suffix.size() < 2) continue;
        plan.members.insert(plan.members.end(), b.members.begin(), b.members.end());
        const auto pv = b.by_suffix.find("PV");
        const auto sp = b.by_suffix.find("SP");
        if (pv != b.by_suffix.end() && sp != b.by_suffix.end())
            plan.pv_sp.emplace_back(pv->second, sp->second);
    }
    std::sort(plan.members.begin(), plan.members.end());
    return plan;
}

void BaselineTrack::add(std::int64_t t, RowVerdict verdict, std::vector<Need> needs) {
    add_instant(t);
    if (!verdicts.empty() && verdicts.back().verdict == verdict && verdicts.back().needs == needs &&
        verdicts.back().present == 0 && verdicts.back().loop_tags.empty()) {
        ++verdicts.back().rows;
        return;
    }
    verdicts.push_back({1, verdict, std::move(needs), 0, {}});
}

void BaselineTrack::add_entry(std::int64_t t, const Entry& e) {
    add_instant(t);
    if (!verdicts.empty()) {
        Entry& b = verdicts.back();
        if (b.verdict == e.verdict && b.needs == e.needs && b.present == e.present &&
            b.loop_tags == e.loop_tags) {
            ++b.rows;
            return;
        }
    }
    verdicts.push_back(e);
    verdicts.back().rows = 1;
}

const BaselineTrack::Role& BaselineTrack::new_role(std::uint32_t tag, const NameOf& name_of) {
    Scratch& s = scratch_;
    if (tag >= s.roles.size()) s.roles.resize(tag + std::size_t{1});
    Role& r = s.roles[tag];
    r.kind = kNone;
    if (const auto m = loop_member(name_of(tag))) {
        r.kind = m->second == "PV" ? kPv : m->second == "SP" ? kSp : kMember;
        r.base = s.bases.emplace(lower(m->first), static_cast<std::uint32_t>(s.bases.size()))
                     .first->second;
        if (r.base >= s.pv_row.size()) {
            s.pv_row.resize(r.base + std::size_t{1}, 0);
            s.sp_row.resize(r.base + std::size_t{1}, 0);
            s.pv_at.resize(r.base + std::size_t{1}, 0);
            s.sp_at.resize(r.base + std::size_t{1}, 0);
        }
    }
    return r;
}

void BaselineTrack::record(std::int64_t t, bool clock, const RowTag& tag, const NameOf& name_of) {
    Scratch& s = scratch_;
    if (tag.tag >= s.seen.size()) s.seen.resize(tag.tag + std::size_t{1}, 0);
    if (tail.any && tail.t == t && tail.clock == clock) {
        if (!s.stamped) {  // a row a merge joined: its tags marked once
            ++s.serial;
            for (const RowTag& r : tail.tags)
                if (r.tag < s.seen.size()) s.seen[r.tag] = s.serial;
            s.stamped = true;
        }
        if (s.seen[tag.tag] == s.serial) return;  // the tag's first record stands
    } else {
        records = true;
        if (tail.any) end_row(std::move(tail), name_of);
        tail.any = true;
        tail.clock = clock;
        tail.t = t;
        tail.tags.clear();
        ++s.serial;
        s.stamped = true;
    }
    s.seen[tag.tag] = s.serial;
    tail.tags.push_back(tag);
}

void BaselineTrack::end_row(OpenRow&& row, const NameOf& name_of) {
    if (!head.any) {
        head = std::move(row);
    } else {
        commit(row, name_of);
    }
    row.any = false;
    row.tags.clear();
}

void BaselineTrack::commit(const OpenRow& row, const NameOf& name_of) {
    Scratch& s = scratch_;
    Entry& e = s.entry;
    e.verdict = RowVerdict::Qualifies;
    e.needs.clear();
    e.present = 0;
    e.loop_tags.clear();
    const std::uint64_t judged = ++s.judged;
    // One pass over the row: the present tags, those with a loop suffix, each base's first PV
    // and SP (by base number, so a row costs its tags, not their pairs: the pairwise search was
    // 20% of a long export's scan with the window looked for).
    for (std::uint32_t i = 0; i < row.tags.size(); ++i) {
        const RowTag& r = row.tags[i];
        const Role& ro = role(r.tag, name_of);
        // Every PV's first record at the instant counts for its range, whatever the verdict.
        if (r.number && ro.kind == kPv) note_pv(r.tag, r.value);
        if (!r.present || ro.kind == kNone) {
            e.present += r.present;
            continue;
        }
        ++e.present;
        e.loop_tags.push_back(r.tag);
        if (ro.kind == kPv && s.pv_row[ro.base] != judged) {
            s.pv_row[ro.base] = judged;
            s.pv_at[ro.base] = i;
        } else if (ro.kind == kSp && s.sp_row[ro.base] != judged) {
            s.sp_row[ro.base] = judged;
            s.sp_at[ro.base] = i;
        }
    }
    if (row.clock) {
        e.present = 0;
        e.loop_tags.clear();
        e.verdict = RowVerdict::Clock;
        add_entry(row.t, e);
        return;
    }
    if (!std::is_sorted(e.loop_tags.begin(), e.loop_tags.end()))  // rows keep one tag order
        std::sort(e.loop_tags.begin(), e.loop_tags.end());
    // A loop's PV and SP: its base's first present records with those suffixes, judged in the
    // PVs' order. Where either is absent, the loop's members are not all present and the row
    // fails once they are known.
    for (std::uint32_t i = 0; i < row.tags.size(); ++i) {
        const RowTag& pv = row.tags[i];
        if (!pv.present) continue;
        const Role& rp = role(pv.tag, name_of);
        if (rp.kind != kPv || s.pv_at[rp.base] != i || s.sp_row[rp.base] != judged) continue;
        const RowTag& sp = row.tags[s.sp_at[rp.base]];
        if (!pv.number || !sp.number) {
            e.verdict = RowVerdict::Fails;  // a text where a number belongs
            break;
        }
        const double dev = std::fabs(pv.value - sp.value);
        if (dev * 20 <= std::fabs(sp.value)) continue;
        e.needs.push_back({pv.tag, std::max(std::fabs(sp.value) * 100, dev * 20)});
    }
    if (e.verdict == RowVerdict::Fails) {
        e.needs.clear();
        e.present = 0;
        e.loop_tags.clear();
    } else if (!e.needs.empty()) {
        e.verdict = RowVerdict::Pending;
    }
    add_entry(row.t, e);
}

void BaselineTrack::add_instant(std::int64_t t) {
    // Instants as runs of equal steps (start, step, count), as TimeAxis keeps them.
    const std::size_t n = starts.size();
    if (n >= 3 && starts[n - 1] >= 2 &&
        t - (starts[n - 3] + starts[n - 2] * (starts[n - 1] - 1)) == starts[n - 2]) {
        ++starts[n - 1];
    } else if (n >= 3 && starts[n - 1] == 1) {
        starts[n - 2] = t - starts[n - 3];
        starts[n - 1] = 2;
    } else {
        starts.insert(starts.end(), {t, 0, 1});
    }
}

void BaselineTrack::note_pv(std::uint32_t tag, double v) {
    if (!std::isfinite(v)) return;
    if (pv_range.size() <= tag) pv_range.resize(tag + std::size_t{1});
    Range& r = pv_range[tag];
    r.lo = r.any ? std::min(r.lo, v) : v;
    r.hi = r.any ? std::max(r.hi, v) : v;
    r.any = true;
}

std::uint64_t BaselineTrack::rows() const noexcept {
    std::uint64_t n = 0;
    for (const Entry& e : verdicts) n += e.rows;
    return n;
}

void BaselineTrack::append(BaselineTrack&& later, const std::vector<std::uint32_t>& remap,
                           const NameOf& name_of) {
    auto id = [&](std::uint32_t t) { return t < remap.size() ? remap[t] : t; };
    for (std::size_t k = 0; k < later.pv_range.size(); ++k) {
        const Range& r = later.pv_range[k];
        if (!r.any) continue;
        note_pv(id(static_cast<std::uint32_t>(k)), r.lo);
        note_pv(id(static_cast<std::uint32_t>(k)), r.hi);
    }
    if (later.records) {
        records = true;
        scratch_.stamped = false;
        for (OpenRow* row : {&later.head, &later.tail})
            for (RowTag& r : row->tags) r.tag = id(r.tag);
        for (Entry& e : later.verdicts) {
            for (std::uint32_t& t : e.loop_tags) t = id(t);
            std::sort(e.loop_tags.begin(), e.loop_tags.end());
        }
        // The seam: this piece's open row and the later piece's first row, one row when they
        // hold one instant (the tag's first record standing).
        OpenRow* first = later.head.any ? &later.head : later.tail.any ? &later.tail : nullptr;
        if (tail.any && first) {
            if (first->t == tail.t && first->clock == tail.clock) {
                for (const RowTag& r : first->tags)
                    if (std::none_of(tail.tags.begin(), tail.tags.end(),
                                     [&](const RowTag& o) { return o.tag == r.tag; }))
                        tail.tags.push_back(r);
                *first = OpenRow{};
                if (first == &later.head) end_row(std::move(tail), name_of);
            } else {
                end_row(std::move(tail), name_of);
            }
        }
        if (later.head.any) end_row(std::move(later.head), name_of);
        if (later.tail.any) tail = std::move(later.tail);
    }
    // Each later run's first two instants as a scan appends them, then the rest by count: the
    // runs come out as one scan of both pieces would leave them.
    // Once the last run has this run's step and ends at its instant before, the rest joins it
    // whole; until then instants go one by one (the first of a run may close the run before).
    for (std::size_t k = 0; k + 2 < later.starts.size(); k += 3) {
        const std::int64_t start = later.starts[k], step = later.starts[k + 1];
        const std::int64_t count = later.starts[k + 2];
        add_instant(start);
        for (std::int64_t i = 1; i < count; ++i) {
            const std::size_t n = starts.size();
            if (i >= 2 && starts[n - 2] == step && starts[n - 1] >= 2 &&
                starts[n - 3] + step * (starts[n - 1] - 1) == start + step * (i - 1)) {
                starts.back() += count - i;
                break;
            }
            add_instant(start + step * i);
        }
    }
    for (Entry& e : later.verdicts) {
        for (Need& n : e.needs) n.tag = id(n.tag);
        if (!verdicts.empty() && verdicts.back().verdict == e.verdict &&
            verdicts.back().needs == e.needs && verdicts.back().present == e.present &&
            verdicts.back().loop_tags == e.loop_tags) {
            verdicts.back().rows += e.rows;
            continue;
        }
        verdicts.push_back(std::move(e));
    }
    later = BaselineTrack();
}

BaselineTrack BaselineTrack::resolved(std::uint64_t n_tags,
                                      const std::vector<std::uint32_t>& members,
                                      const NameOf& name_of) && {
    if (tail.any) end_row(std::move(tail), name_of);
    // The head goes first: judged alone, the rest appended after it.
    BaselineTrack rest;
    rest.starts = std::move(starts);
    rest.verdicts = std::move(verdicts);
    starts.clear();
    verdicts.clear();
    if (head.any) commit(head, name_of);
    head = OpenRow{};
    append(std::move(rest), {});
    BaselineTrack out;
    out.pv_range = std::move(pv_range);
    out.starts = std::move(starts);
    for (Entry& e : verdicts) {
        if (e.verdict == RowVerdict::Qualifies || e.verdict == RowVerdict::Pending) {
            // No loop tag missing, at most 5% of the export's tags missing.
            const std::uint64_t missing = n_tags > e.present ? n_tags - e.present : 0;
            if (missing * 20 > n_tags || !std::includes(e.loop_tags.begin(), e.loop_tags.end(),
                                                        members.begin(), members.end())) {
                e.verdict = RowVerdict::Fails;
                e.needs.clear();
            }
        }
        e.present = 0;
        e.loop_tags.clear();
        if (!out.verdicts.empty() && out.verdicts.back().verdict == e.verdict &&
            out.verdicts.back().needs == e.needs) {
            out.verdicts.back().rows += e.rows;
            continue;
        }
        out.verdicts.push_back(std::move(e));
    }
    return out;
}

BaselineSuggestion find_baseline(const BaselineTrack& track, std::optional<std::int64_t> modal_step,
                                 std::int64_t span_lo, std::int64_t span_hi,
                                 std::vector<std::pair<std::int64_t, std::int64_t>> breaks) {
    BaselineSuggestion out;
    const std::int64_t span = span_hi - span_lo;
    out.short_export = span < kDayUs;
    out.min_duration_us = std::min(kDayUs, span);

    // The break spans as disjoint intervals in order, so a step is checked by one search.
    for (auto& b : breaks)
        if (b.first > b.second) std::swap(b.first, b.second);
    std::sort(breaks.begin(), breaks.end());
    std::vector<std::pair<std::int64_t, std::int64_t>> spans;
    for (const auto& b : breaks) {
        if (!spans.empty() && b.first <= spans.back().second)
            spans.back().second = std::max(spans.back().second, b.second);
        else
            spans.push_back(b);
    }
    auto broken = [&](std::int64_t lo, std::int64_t hi) {
        const auto it = std::lower_bound(spans.begin(), spans.end(), lo,
                                         [](const std::pair<std::int64_t, std::int64_t>& s,
                                            std::int64_t v) { return s.second < v; });
        return it != spans.end() && it->first <= hi;
    };

    // Why a run ended, for the text.
    enum class End : std::uint8_t { Row, Gap, Clock, Span, Export };
    struct Run {
        std::int64_t first = 0, last = 0;
        std::uint64_t rows = 0;
        int dir = 0;
        End end = End::Export;
        std::int64_t gap = 0;
        std::int64_t duration() const { return last > first ? last - first : first - last; }
    };
    auto better = [](const Run& a, const Run& b) {
        if (a.duration() != b.duration()) return a.duration() > b.duration();
        if (a.rows != b.rows) return a.rows > b.rows;
        return std::min(a.first, a.last) < std::min(b.first, b.last);
    };
    std::vector<Run> best;  // the kRunnersUp + 1 best qualifying runs, best first
    Run longest;            // the best run of any size, for the text when none qualifies
    Run run;
    bool open = false;
    auto close = [&](End why, std::int64_t gap) {
        if (!open) return;
        open = false;
        run.end = why;
        run.gap = gap;
        if (longest.rows == 0 || better(run, longest)) longest = run;
        if (run.rows < kMinRows || run.duration() < out.min_duration_us) return;
        ++out.qualifying_runs;
        best.insert(std::upper_bound(best.begin(), best.end(), run, better), run);
        if (best.size() > kRunnersUp + 1) best.pop_back();
    };

    const std::int64_t limit =
        modal_step ? 3 * *modal_step : std::numeric_limits<std::int64_t>::max();
    std::size_t entry = 0;
    std::uint64_t left = track.verdicts.empty() ? 0 : track.verdicts[0].rows;
    auto qualifies = [&](const BaselineTrack::Entry& e) {
        if (e.verdict == RowVerdict::Qualifies) return true;
        if (e.verdict != RowVerdict::Pending) return false;
        for (const BaselineTrack::Need& n : e.needs) {
            if (n.tag >= track.pv_range.size() || !track.pv_range[n.tag].any) return false;
            const BaselineTrack::Range& r = track.pv_range[n.tag];
            if (!(r.hi - r.lo >= n.need)) return false;
        }
        return true;
    };
    bool entry_q = !track.verdicts.empty() && qualifies(track.verdicts[0]);
    for (std::size_t k = 0; k + 2 < track.starts.size(); k += 3) {
        const std::int64_t start = track.starts[k], step = track.starts[k + 1];
        for (std::int64_t i = 0; i < track.starts[k + 2]; ++i) {
            const std::int64_t t = start + step * i;
            while (left == 0 && entry + 1 < track.verdicts.size()) {
                left = track.verdicts[++entry].rows;
                entry_q = qualifies(track.verdicts[entry]);
            }
            if (left == 0) break;  // more instants than verdicts: a damaged track
            --left;
            const RowVerdict v = track.verdicts[entry].verdict;
            if (!entry_q || broken(t, t)) {
                close(v == RowVerdict::Clock ? End::Clock : broken(t, t) ? End::Span : End::Row, 0);
                continue;
            }
            if (open) {
                const std::int64_t d = t - run.last;
                const int sign = d > 0 ? 1 : d < 0 ? -1 : 0;
                End why = End::Export;
                if ((d > 0 ? d : -d) > limit)
                    why = End::Gap;
                else if (run.dir != 0 && sign != 0 && sign != run.dir)
                    why = End::Clock;
                else if (broken(std::min(run.last, t), std::max(run.last, t)))
                    why = End::Span;
                if (why == End::Export) {
                    if (run.dir == 0) run.dir = sign;
                    run.last = t;
                    ++run.rows;
                    continue;
                }
                close(why, d > 0 ? d : -d);
            }
            run = Run{t, t, 1, 0, End::Export, 0};
            open = true;
        }
    }
    close(End::Export, 0);
    for (const BaselineTrack::Entry& e : track.verdicts)
        if (qualifies(e)) out.qualifying_rows += e.rows;

    auto window = [](const Run& r) {
        return BaselineWindow{std::min(r.first, r.last), std::max(r.first, r.last), r.rows};
    };
    const std::string rule =
        "every loop tag present, at most 5% of the tags missing and every loop's PV within 5% of "
        "its SP, or of the PV's range where the SP is near zero";
    const std::string needed = out.short_export
                                   ? "at least 100 rows over the export's whole span of " +
                                         hours(span) + " (the export spans under 24 h)"
                                   : std::string("at least 100 rows over 24 h");
    if (best.empty()) {
        out.why = "no run of qualifying rows (" + rule + ") holds " + needed;
        if (!modal_step) out.why += "; the export has fewer than two distinct instants";
        if (longest.rows)
            out.why += "; the longest holds " + std::to_string(longest.rows) + " rows over " +
                       hours(longest.duration()) + " from " +
                       format_instant(std::min(longest.first, longest.last));
        return out;
    }
    const Run& w = best.front();
    out.window = window(w);
    for (std::size_t k = 1; k < best.size(); ++k) out.runners_up.push_back(window(best[k]));
    std::string ends;
    switch (w.end) {
        case End::Row:
            ends = "a row that does not qualify";
            break;
        case End::Gap:
            ends = "a gap of " + hours(w.gap) + " (more than three steps)";
            break;
        case End::Clock:
            ends = "a clock change";
            break;
        case End::Span:
            ends = "a break span (work order or batch)";
            break;
        case End::Export:
            ends = "the end of the export";
            break;
    }
    out.why = "the longest of " + std::to_string(out.qualifying_runs) +
              " run(s) of qualifying rows (" + rule + ") holding " + needed + ": " +
              std::to_string(w.rows) + " rows over " + hours(w.duration()) + ", ended by " + ends;
    return out;
}

}  // namespace qorv_chemical_engineering_edge::export_profile
