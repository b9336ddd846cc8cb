// Signal health per tag: statistics, sampling step, frozen runs, interpolated samples and
// values a unit rules out, fed every numeric sample of a tag in the order the export holds it.
//
// Every field is a sum, a min or max, an exact sum, a bounded exact set, or the first and last
// samples kept so that a merge judges the seam as one scan would: `merge(later)` of consecutive
// pieces gives one scan's fields, bit for bit, whatever the split. A file read newest-first feeds
// its samples newest-first: runs, steps and lines read the same either way.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "export/value_limits.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

// An exact sum of doubles: a two's-complement integer in units of 2^-1074 (the smallest
// subnormal) over 34 64-bit limbs, room for 2^64 terms of the largest double. Order never
// changes it; value() rounds once.
struct ExactSum {
    static constexpr std::size_t kLimbs = 34;
    std::array<std::uint64_t, kLimbs> limbs{};
    void add(double x) noexcept;  // x finite
    void add(const ExactSum& other) noexcept;
    bool negative() const noexcept { return limbs.back() >> 63; }
    double value() const;
    friend bool operator==(const ExactSum&, const ExactSum&) = default;
};

struct HealthSample {
    std::int64_t t = 0;
    double v = 0;
    // The fewest decimals of a decimal that reads back as v: the resolution the value shows,
    // the same whether it came as text (1.0, 1.00) or as a typed number.
    std::uint8_t decimals = kNoDecimals;
    static constexpr std::uint8_t kNoDecimals = 0xFF;  // more than 17
    friend bool operator==(const HealthSample&, const HealthSample&) = default;
};

// A run of identical consecutive values; its duration is from its first instant to its last.
struct FrozenRun {
    double value = 0;
    std::int64_t first = 0, last = 0;
    std::uint64_t samples = 0;
    std::int64_t duration() const noexcept { return last > first ? last - first : first - last; }
    friend bool operator==(const FrozenRun&, const FrozenRun&) = default;
};

inline constexpr std::size_t kMaxSteps = 4096;            // distinct steps counted exactly
inline constexpr std::size_t kMaxStateValues = 8;         // a state tag's distinct whole values
inline constexpr std::int64_t kFrozenUs = 7'200'000'000;  // a frozen run lasts at least 2 h ...
inline constexpr std::uint64_t kFrozenSamples = 50;       // ... and holds at least 50 samples
inline constexpr std::size_t kFirstInstants = 5;
inline constexpr std::uint64_t kInterpolatedJudged = 20;  // samples judged before a tag is listed

// The fewest decimals k (0 to 17) with round(v 10^k) / 10^k == v; kNoDecimals past 17.
std::uint8_t decimals_of(double v) noexcept;
// The same, for a plain decimal cell of at most 15 digits whose last `zeros` digits after the
// separator, of `decimals`, are zeros: a decimal of 15 significant digits is the only one of
// so few that reads as its double, so the fewest is decimals - zeros (0 for a zero value).
inline std::uint8_t decimals_of_plain(double v, unsigned decimals, unsigned zeros) noexcept {
    return v == 0 ? 0 : static_cast<std::uint8_t>(decimals - zeros);
}

struct TagHealth {
    std::uint64_t count = 0;  // finite numeric samples fed
    double min = 0, max = 0;
    std::int64_t t_min = 0, t_max = 0;
    // The first two and the last two samples (one each while count < 2): first, and the seam.
    std::array<HealthSample, 2> head{}, tail{};
    ExactSum sum, squares;          // squares: x*x split exactly into hi + lo with fma
    bool squares_overflow = false;  // some x*x passed the largest double: no std
    // Steps between consecutive samples' instants (zero steps skipped), by step, sorted; cleared
    // and sticky past kMaxSteps distinct ones. The smallest and largest step stay exact.
    std::vector<std::pair<std::int64_t, std::uint64_t>> steps;
    bool steps_overflow = false;
    std::int64_t min_step = 0, max_step = 0;  // 0: no step
    // Frozen runs: the first run and the open one kept whole (they may join a neighbour's);
    // those in between summed into `frozen_us` (runs of both thresholds) and `longest`.
    FrozenRun first_run, open_run;
    bool first_closed = false;  // a later value differed: open_run is a run of its own
    std::uint64_t frozen_us = 0;
    std::int64_t longest_us = 0;  // the longest of them: by duration, ties by more samples
    std::uint64_t longest_samples = 0;
    // Samples judged against the line through their neighbours, and those lying on it.
    std::uint64_t judged = 0, interpolated = 0;
    // The distinct values while all are whole numbers and at most kMaxStateValues.
    std::vector<double> states;
    bool not_states = false;
    std::uint64_t impossible = 0, suspicious = 0;
    std::vector<std::int64_t> first_impossible, first_suspicious;  // first kFirstInstants

    void add(std::int64_t t, double v, const ValueLimits& limits) {
        add(t, v, decimals_of(v), limits);
    }
    // `decimals` is decimals_of(v), known to the caller without computing it (plain_decimals).
    void add(std::int64_t t, double v, std::uint8_t decimals, const ValueLimits& limits);
    void merge(const TagHealth& later);
    std::optional<std::int64_t> modal_step() const;  // ties: the smaller
    // The runs as one scan ends them: the longest (duration, samples) and the time in runs of
    // both thresholds.
    std::pair<std::int64_t, std::uint64_t> longest_run() const;
    std::uint64_t frozen_time() const;
    double mean() const;     // NaN with no sample
    double std_dev() const;  // sample standard deviation (n - 1); NaN below 2 samples
    // Empty when the fields agree with one another as feeding and merging leave them.
    const char* check() const;

  private:
    struct Hint {  // where the last step was counted: a cache, never compared
        std::size_t i = 0;
        friend bool operator==(const Hint&, const Hint&) { return true; }
    } hint_;
    void note_step(std::int64_t step, std::uint64_t n);
    void close_run(const FrozenRun& run);
    void join_run(const FrozenRun& run, bool closed);
    void judge(const HealthSample& a, const HealthSample& b, const HealthSample& c);
    void note_state(double v);

  public:
    friend bool operator==(const TagHealth&, const TagHealth&) = default;
};

// The profile's health fields and notes from the tags' accumulators (one per profile tag, or
// none with health off); `loop_state[i]`: tag i is a loop's SP or MODE; `is_long`: long or
// paired records, where a tag's own timestamps may show compression.
void fill_health(ExportProfile& p, const std::vector<TagHealth>& health,
                 const std::vector<char>& loop_state, bool is_long);

}  // namespace qorv_chemical_engineering_edge::export_profile
