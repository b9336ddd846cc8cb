// Differential check of finalize's time-axis reading: axis_facts, which works from the runs where
// they allow it, must give exactly what axis_facts_expanded gives from every instant sorted
// (count, distinct instants, steps, modal step, regularity, first and last), and axis_repeats
// must agree with counting in the sorted instants. The input builds one or two axes the way a
// scan does (regular steps, jitter, repeats, newest first, a tag-major export's replays, gaps)
// and checks the second appended to the first as well.
//
// Input: [flags][ops: kind, argument]...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <source_location>
#include <vector>

#include "export/state.hpp"
#include "fuzz_check.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

constexpr std::size_t kMaxInstants = 1 << 16;
constexpr std::int64_t kFar = std::int64_t{1} << 50;  // instants stay well inside the range

struct Builder {
    ep::TimeAxis axis;
    std::vector<std::int64_t> appended;  // every instant offered, in order
    std::int64_t t = 0;

    void add(std::int64_t v) {
        if (appended.size() >= kMaxInstants) return;
        t = std::clamp<std::int64_t>(v, -kFar, kFar);
        axis.append(t);
        appended.push_back(t);
    }
};

void run_op(Builder& b, std::uint8_t kind, std::uint8_t arg, std::int64_t step) {
    const std::int64_t n = arg % 64 + 1;
    switch (kind % 8) {
        case 0:  // a regular stretch
            for (std::int64_t i = 0; i < n; ++i) b.add(b.t + step);
            break;
        case 1:  // newest first
            for (std::int64_t i = 0; i < n; ++i) b.add(b.t - step);
            break;
        case 2:  // the same instant again (the tags of one long instant)
            for (std::int64_t i = 0; i < n % 4 + 1; ++i) b.add(b.t);
            break;
        case 3:  // a gap or a step back by whole steps
            b.add(b.t + step * (static_cast<std::int64_t>(arg) - 128));
            break;
        case 4:  // jitter: a step off by a little
            b.add(b.t + step + static_cast<std::int64_t>(arg % 7) - 3);
            break;
        case 5: {  // the stream so far again (a long export ordered by tag)
            const std::vector<std::int64_t> again(
                b.appended.begin(),
                b.appended.begin() +
                    std::min<std::int64_t>(static_cast<std::int64_t>(b.appended.size()), n * 16));
            for (std::int64_t v : again) b.add(v);
            break;
        }
        case 6:  // a new step size from here
            for (std::int64_t i = 0; i < n; ++i) b.add(b.t + step * (arg % 5 + 1));
            break;
        default:  // anywhere
            b.add(static_cast<std::int64_t>(arg) * step * 1000 - 64 * step);
            break;
    }
}

void compare(const ep::TimeAxis& axis) {
    const ep::AxisFacts want = ep::axis_facts_expanded(axis);
    bool from_runs = false;
    const ep::AxisFacts got = ep::axis_facts(axis, &from_runs);
    check(got == want);
    const std::vector<std::int64_t> all = axis.sorted();
    check(want.size == all.size());
    // Repeats: each instant's neighbours and a few that lie between or beside the instants.
    std::vector<std::int64_t> probes;
    for (std::size_t i = 0; i < all.size() && probes.size() < 256; i += 1 + all.size() / 128) {
        probes.push_back(all[i]);
        probes.push_back(all[i] + 1);
        probes.push_back(all[i] - 1);
    }
    for (std::int64_t p : probes) {
        const auto r = std::equal_range(all.begin(), all.end(), p);
        check(ep::axis_repeats(axis, p) == (r.second - r.first >= 2));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t flags = data[0];
    const bool collapse = flags & 1;
    const bool two = flags & 2;
    const std::int64_t step = std::int64_t{1} << (flags >> 3);  // 1 us to about 9 minutes
    Builder first, second;
    first.axis.collapse_repeats = second.axis.collapse_repeats = collapse;
    first.t = second.t = static_cast<std::int64_t>(data[1]) * step;
    const std::size_t half = two ? 2 + (size - 2) / 2 : size;
    for (std::size_t i = 2; i + 1 < half; i += 2) run_op(first, data[i], data[i + 1], step);
    for (std::size_t i = half; i + 1 < size; i += 2) run_op(second, data[i], data[i + 1], step);
    compare(first.axis);
    if (two) {
        compare(second.axis);
        ep::TimeAxis joined = first.axis;
        joined.append_axis(second.axis);
        compare(joined);
    }
    return 0;
}
