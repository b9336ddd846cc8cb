#include <algorithm>

#include "export/state.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

void TimeAxis::append(std::int64_t t) {
    if (runs.empty()) {
        runs.push_back({t, 0, 1});
        return;
    }
    Run& r = runs.back();
    const std::int64_t end = r.start + r.step * static_cast<std::int64_t>(r.count - 1);
    if (collapse_repeats && t == end) return;
    if (r.count == 1) {
        r.step = t - r.start;
        r.count = 2;
    } else if (t - end == r.step) {
        ++r.count;
    } else {
        runs.push_back({t, 0, 1});
    }
}

void TimeAxis::append_axis(const TimeAxis& later) {
    // Replays `later` element by element until the open run can absorb the rest of a run whole,
    // so the runs come out exactly as if every instant had been appended here. That takes at
    // most three elements a run: the work follows the runs, not the instants they stand for.
    for (const Run& run : later.runs) {
        if (collapse_repeats && run.step == 0) {
            append(run.start);  // the repeats after the first collapse into it
            continue;
        }
        for (std::uint64_t i = 0; i < run.count; ++i) {
            const std::int64_t t = run.start + run.step * static_cast<std::int64_t>(i);
            if (!runs.empty()) {
                Run& b = runs.back();
                if (b.count >= 2 && b.step == run.step && t - last() == b.step) {
                    b.count += run.count - i;
                    break;
                }
            }
            append(t);
        }
    }
}

std::uint64_t TimeAxis::size() const noexcept {
    std::uint64_t n = 0;
    for (const Run& r : runs) n += r.count;
    return n;
}

std::int64_t TimeAxis::last() const noexcept {
    const Run& r = runs.back();
    return r.start + r.step * static_cast<std::int64_t>(r.count - 1);
}

std::vector<std::int64_t> TimeAxis::sorted() const {
    std::vector<std::int64_t> all;
    all.reserve(size());
    for (const Run& r : runs)
        for (std::uint64_t i = 0; i < r.count; ++i)
            all.push_back(r.start + r.step * static_cast<std::int64_t>(i));
    if (std::is_sorted(all.begin(), all.end())) return all;
    // A newest-first file's instants come in reverse order.
    if (std::is_sorted(all.rbegin(), all.rend())) {
        std::reverse(all.begin(), all.end());
        return all;
    }
    std::sort(all.begin(), all.end());
    return all;
}

}  // namespace qorv_chemical_engineering_edge::export_profile
