// Per tag and time bin, what became of its samples, counted during the scan: the data behind the
// availability chart, so that the report never reads the export again.
//
// A bin is 2^level milliseconds wide and aligned to whole multiples of its width since the
// epoch; the bins kept run from the earliest instant's bin to the latest's. When that run would
// pass max_bins(tags), the level rises by one and neighbouring bins are summed pairwise. Both
// the run of instants and the tag count only grow, so the level is always the smallest that
// fits both, whatever the split: pieces merge by rising to the larger level and summing, and
// any split of a scan (threads, byte ranges, files, Dask) ends with exactly one scan's bins.
//
// With signal health on, each tag-bin also keeps the least and greatest numeric value that
// landed in it (its envelope): minimum and maximum are indifferent to order, and -0 is kept as
// 0, so the envelopes too are the same for every split.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qorv_chemical_engineering_edge::export_profile {

struct TimeBins {
    static constexpr std::int64_t kBaseUs = 1000;  // level 0: 1 ms
    static constexpr std::size_t kMaxBins = 128;
    // Tag-bins for one partial (16 bytes each): wide exports keep fewer bins per tag.
    static constexpr std::size_t kBudget = std::size_t{1} << 19;

    // Whether a sample is present depends on whether its tag turns out numeric, known only at
    // the end; so samples are kept by kind and resolved when the profile is finished.
    enum Kind : std::uint8_t { GoodNumber, GoodText, BadState, OtherMissing };
    using Counts = std::array<std::uint32_t, 4>;

    bool any = false;
    int level = 0;
    std::int64_t first = 0;           // index of bins[0], in widths since the epoch
    std::vector<std::uint64_t> rows;  // timestamped rows (wide) or records (long) per bin
    // Per bin, the most samples one tag can have there (rows, times a wide file's most repeated
    // column): tag counts are kept while this fits in 32 bits.
    std::vector<std::uint64_t> reach;
    // [bin][tag]; a bin's vector is grown only when a sample lands in it (zeros beyond).
    std::vector<std::vector<Counts>> tags;
    // A bin's reach passed 2^32-1: tag counts are dropped (rows and bins are kept, so the
    // outcome is the same for every split).
    bool overflow = false;

    // A tag's least and greatest value in a bin; empty (lo > hi) when none landed there.
    struct Extent {
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        bool empty() const noexcept { return lo > hi; }
        void add(double v) noexcept {  // v finite
            v += 0.0;                  // -0 as 0
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
        void add(const Extent& o) noexcept {
            lo = o.lo < lo ? o.lo : lo;
            hi = o.hi > hi ? o.hi : hi;
        }
        friend bool operator==(const Extent&, const Extent&) = default;
    };
    // Envelopes kept (signal health on): set before the first row, dropped with the counts.
    bool values = false;
    std::vector<std::vector<Extent>> extents;  // [bin][tag], grown when a value lands

    // The extents of the bin holding t, with room for n_tags tags; null when none are kept
    // (values off, counts dropped, or t outside the kept bins).
    Extent* extents_at(std::int64_t t_us, std::size_t n_tags) {
        const auto b = static_cast<std::size_t>(bin_of(t_us) - first);
        if (!values || overflow || !any || b >= extents.size()) return nullptr;
        if (extents[b].size() < n_tags) extents[b].resize(n_tags);
        return extents[b].data();
    }
    // Extent of one tag in bin b (empty when none).
    Extent extent(std::size_t b, std::size_t tag) const noexcept {
        return b < extents.size() && tag < extents[b].size() ? extents[b][tag] : Extent{};
    }

    static std::size_t max_bins(std::size_t n_tags) noexcept;
    std::int64_t bin_of(std::int64_t t_us) const noexcept {
        const std::int64_t ms = t_us / kBaseUs - (t_us % kBaseUs < 0 ? 1 : 0);
        return ms >> level;  // arithmetic shift: floor
    }

    // Counts one timestamped row at t, giving a tag at most `samples` samples, and returns its
    // bin's per-tag counts, with room for n_tags tags; null once the counts are dropped.
    // Inline: the row's bin is almost always one already kept, with room for every tag.
    [[gnu::always_inline]] Counts* add_row(std::int64_t t_us, std::size_t n_tags,
                                           std::uint32_t samples = 1) {
        if (Counts* kept = add_row_kept(t_us, n_tags, samples)) return kept;
        return add_row_slow(t_us, n_tags, samples);
    }
    // add_row when that is all it does; else null, nothing counted and no bin moved.
    [[gnu::always_inline]] Counts* add_row_kept(std::int64_t t_us, std::size_t n_tags,
                                                std::uint32_t samples = 1) {
        const auto b = static_cast<std::size_t>(bin_of(t_us) - first);
        if (any && b < rows.size() && n_tags == fitted_tags_ && tags[b].size() >= n_tags &&
            n_tags > 0 && reach[b] + samples <= kMaxCount) {
            ++rows[b];
            reach[b] += samples;
            return tags[b].data();
        }
        return nullptr;
    }
    // this := this + later, `later`'s tag r being this's tag remap[r].
    void merge(TimeBins&& later, const std::vector<std::uint32_t>& remap, std::size_t n_tags);
    // Counts of one tag in bin b (zeros when never touched).
    Counts at(std::size_t b, std::size_t tag) const noexcept;

    void serialize(std::string& out) const;
    // False on a damaged section; `bytes` is advanced past it.
    bool deserialize(std::string_view& bytes, std::size_t n_tags);

    bool same_counts(const TimeBins& o) const;
    friend bool operator==(const TimeBins& a, const TimeBins& b) { return a.same_counts(b); }

  private:
    static constexpr std::uint64_t kMaxCount = 0xFFFFFFFFu;
    static constexpr std::uint64_t kValuesMark = 0x7365'756c'6176ULL;  // "values"
    void drop_counts();
    Counts* add_row_slow(std::int64_t t_us, std::size_t n_tags, std::uint32_t samples);
    void fit(std::int64_t lo, std::int64_t hi, std::size_t n_tags);
    void coarsen();
    void extend(std::int64_t lo, std::int64_t hi);
    std::size_t fitted_tags_ = 0;  // the tag count the level was last checked against
};

}  // namespace qorv_chemical_engineering_edge::export_profile
