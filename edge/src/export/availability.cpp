// The availability grid a report draws; see export_profile.hpp.
#include <algorithm>
#include <limits>
#include <numeric>

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::min();

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Instants first + k*step inside [lo, hi] and [first, last].
std::uint64_t grid_points(std::int64_t lo, std::int64_t hi, std::int64_t first, std::int64_t last,
                          std::int64_t step) {
    if (first == kNone || last == kNone || step == kNone || step <= 0) return 0;
    lo = std::max(lo, first);
    hi = std::min(hi, last);
    if (lo > hi) return 0;
    const std::uint64_t below_hi = static_cast<std::uint64_t>(hi - first) / step;
    const std::uint64_t below_lo =
        (static_cast<std::uint64_t>(lo - first) + static_cast<std::uint64_t>(step) - 1) / step;
    return below_hi - below_lo + 1;
}

std::vector<std::size_t> least_data(const AvailabilityGridInput& in,
                                    std::optional<std::size_t> max_tags) {
    std::vector<std::size_t> order(in.first.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (!max_tags || order.size() <= *max_tags) return order;
    std::vector<double> share(order.size());
    for (std::size_t i : order) {
        const std::uint64_t full =
            std::max(in.samples[i],
                     grid_points(in.first[i], in.last[i], in.first[i], in.last[i], in.step[i]));
        share[i] = full ? static_cast<double>(in.present[i]) / static_cast<double>(full) : 0.0;
    }
    // By share, ties in profile order (a stable sort, written as one on (share, index)).
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return share[a] != share[b] ? share[a] < share[b] : a < b;
    });
    order.resize(*max_tags);
    std::sort(order.begin(), order.end());
    return order;
}

}  // namespace

AvailabilityGrid availability_grid(const AvailabilityGridInput& in, std::size_t buckets,
                                   std::optional<std::size_t> max_tags) {
    return availability_grid(in, buckets, least_data(in, max_tags));
}

AvailabilityGrid availability_grid(const AvailabilityGridInput& in, std::size_t buckets,
                                   std::vector<std::size_t> tags) {
    AvailabilityGrid grid;
    const std::int64_t n = static_cast<std::int64_t>(in.bins);
    if (n == 0 || buckets == 0) return grid;
    const std::int64_t k0 = floor_div(in.start_us, in.bin_us);
    const auto wanted = static_cast<std::int64_t>(std::min<std::size_t>(buckets, 1ull << 62));
    int shift = 0;
    while (((k0 + n - 1) >> shift) - (k0 >> shift) + 1 > wanted) ++shift;
    const std::int64_t g0 = k0 >> shift;
    const auto groups = static_cast<std::size_t>(((k0 + n - 1) >> shift) - g0 + 1);
    grid.bucket_us = in.bin_us << shift;
    grid.start_us = g0 * grid.bucket_us;
    grid.buckets = groups;
    std::vector<std::size_t> group(in.bins);
    grid.rows.assign(groups, 0);
    for (std::int64_t i = 0; i < n; ++i) {
        group[i] = static_cast<std::size_t>(((k0 + i) >> shift) - g0);
        grid.rows[group[i]] += in.rows[i];
    }

    grid.tags = std::move(tags);
    grid.present.assign(grid.tags.size() * groups, 0);
    grid.expected.assign(grid.tags.size() * groups, 0);
    grid.bad_state.assign(grid.tags.size() * groups, 0);
    std::vector<std::uint64_t> missing(groups);
    const bool envelope = !in.low.empty();
    if (envelope) {
        grid.low.assign(grid.tags.size() * groups, std::numeric_limits<double>::quiet_NaN());
        grid.high = grid.low;
    }
    for (std::size_t row = 0; row < grid.tags.size(); ++row) {
        const std::size_t t = grid.tags[row];
        std::uint64_t* present = grid.present.data() + row * groups;
        std::uint64_t* expected = grid.expected.data() + row * groups;
        std::uint64_t* bad = grid.bad_state.data() + row * groups;
        std::fill(missing.begin(), missing.end(), 0);
        const std::uint32_t* counts = in.counts.data() + t * in.bins * 3;
        for (std::size_t b = 0; b < in.bins; ++b) {
            present[group[b]] += counts[3 * b];
            missing[group[b]] += counts[3 * b + 1];
            bad[group[b]] += counts[3 * b + 2];
        }
        for (std::size_t b = 0; envelope && b < in.bins; ++b) {
            const double lo = in.low[t * in.bins + b], hi = in.high[t * in.bins + b];
            double& into_lo = grid.low[row * groups + group[b]];
            double& into_hi = grid.high[row * groups + group[b]];
            if (lo == lo && !(into_lo <= lo)) into_lo = lo;  // NaN: none yet
            if (hi == hi && !(into_hi >= hi)) into_hi = hi;
        }
        for (std::size_t g = 0; g < groups; ++g) {
            const std::uint64_t samples = present[g] + missing[g] + bad[g];
            if (!samples && !(in.wide && grid.rows[g])) continue;
            const std::int64_t lo = grid.start_us + static_cast<std::int64_t>(g) * grid.bucket_us;
            expected[g] = std::max(samples, grid_points(lo, lo + grid.bucket_us - 1, in.first[t],
                                                        in.last[t], in.step[t]));
        }
    }
    return grid;
}

}  // namespace qorv_chemical_engineering_edge::export_profile
