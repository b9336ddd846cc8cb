// Signal health per tag: statistics, sampling step, frozen runs, interpolated samples and
// values a unit rules out, fed every numeric sample of a tag in the order the export holds it.
//
// Every field is a sum, a min or max, an exact sum, a bounded exact set, or the first and last
// samples kept so that a merge judges the seam as one scan would: `merge(later)` of consecutive
// pieces gives one scan's fields, bit for bit, whatever the split. A file read newest-first feeds
// its samples newest-first: runs, steps and lines read the same either way.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
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
//
// Terms of one binary exponent are summed as integers first and carried into the limbs when
// the exponent changes or the sum is read: a tag's values mostly keep their exponent, so most
// adds are one integer addition (the wide benchmark export with signal health: the sums took a
// third of the time with a limb update per term). Reading carries the held part, so one sum is
// read by one thread at a time, as it is fed.
struct ExactSum {
  private:
    __extension__ typedef __int128 Wide;  // GCC and Clang on 64-bit targets
    __extension__ typedef unsigned __int128 UWide;

  public:
    static constexpr std::size_t kLimbs = 34;
    using Limbs = std::array<std::uint64_t, kLimbs>;

    void add(double x) noexcept {  // x finite
        const auto bits = std::bit_cast<std::uint64_t>(x);
        const auto e = static_cast<unsigned>((bits >> 52) & 0x7FF);
        if (e - 1 == pending_shift_) {  // m * 2^(e - 1075): m at bit e - 1 in units of 2^-1074
            const auto m = static_cast<std::int64_t>((bits & kFraction) | kHidden);
            pending_ += (bits >> 63) ? -m : m;
            return;
        }
        add_new_exponent(x);
    }
    // x * x, exact; for finite x with kSquareLow <= its biased exponent <= kSquareHigh, where
    // x * x neither underflows nor overflows.
    static constexpr unsigned kSquareLow = 600, kSquareHigh = 1533;
    void add_square(double x) noexcept {
        const auto bits = std::bit_cast<std::uint64_t>(x);
        const auto e = static_cast<unsigned>((bits >> 52) & 0x7FF);
        const std::uint64_t m = (bits & kFraction) | kHidden;
        const Wide sq = static_cast<Wide>(static_cast<UWide>(m) * m);
        // m^2 * 2^(2e - 2150): m^2 at bit 2e - 1076. Below 2^126 another square (< 2^106) fits.
        if (2 * e - 1076 == pending_shift_ && static_cast<std::uint64_t>(pending_ >> 64) < kRoom) {
            pending_ += sq;
            return;
        }
        carry_pending();
        pending_shift_ = 2 * e - 1076;
        pending_ = sq;
    }
    void add(const ExactSum& other) noexcept;
    bool negative() const noexcept { return limbs().back() >> 63; }
    double value() const;
    const Limbs& limbs() const noexcept {
        carry_pending();
        return limbs_;
    }
    static ExactSum of_limbs(const Limbs& limbs) noexcept {
        ExactSum s;
        s.limbs_ = limbs;
        return s;
    }
    friend bool operator==(const ExactSum& a, const ExactSum& b) noexcept {
        return a.limbs() == b.limbs();
    }

  private:
    static constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
    static constexpr std::uint64_t kHidden = std::uint64_t{1} << 52;
    static constexpr std::uint64_t kRoom = std::uint64_t{1} << 62;
    static constexpr unsigned kNone = 0x7FFFFFFF;  // never e - 1 for an exponent e
    void add_new_exponent(double x) noexcept;
    void carry_pending() const noexcept;
    // Limbs plus pending * 2^pending_shift is the sum. Below 2^64 terms of at most 2^53, the
    // pending integer stays within 2^117; squares are carried before it reaches 2^126.
    mutable Limbs limbs_{};
    mutable Wide pending_ = 0;
    mutable unsigned pending_shift_ = kNone;
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

// A cell's value and its decimals_of, read from its text when it is a plain decimal (an
// optional sign, digits and at most one `decimal` separator, at most 15 bytes): the value as
// the exact parser gives it (a mantissa below 2^53 over a power of ten, one rounding) and the
// decimals by decimals_of_plain, with no loop over powers of ten. Nullopt for any other text.
struct PlainValue {
    double v;
    std::uint8_t decimals;
};
std::optional<PlainValue> plain_value_of(std::string_view text, char decimal) noexcept;

struct TagHealth {
    std::uint64_t count = 0;  // finite numeric samples fed
    double min = 0, max = 0;
    std::int64_t t_min = 0, t_max = 0;
    // The first two and the last two samples (one each while count < 2): first, and the seam.
    std::array<HealthSample, 2> head{}, tail{};
    ExactSum sum, squares;
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
    // Inline: the wide row reads feed it once a cell.
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
    void note_step(std::int64_t step, std::uint64_t n) {
        // A tag's steps are mostly one step: the last one counted is looked at first (a step
        // counted before is within min_step and max_step already).
        if (hint_.i < steps.size() && steps[hint_.i].first == step) {
            steps[hint_.i].second += n;
            return;
        }
        note_new_step(step, n);
    }
    void note_new_step(std::int64_t step, std::uint64_t n);
    void close_run(const FrozenRun& run) {
        const std::int64_t d = run.duration();
        if (d >= kFrozenUs && run.samples >= kFrozenSamples)
            frozen_us += static_cast<std::uint64_t>(d);
        if (d > longest_us || (d == longest_us && run.samples > longest_samples)) {
            longest_us = d;
            longest_samples = run.samples;
        }
    }
    void join_run(const FrozenRun& run, bool closed);
    void judge(const HealthSample& a, const HealthSample& b, const HealthSample& c);
    void note_state(double v) {
        if (!not_states) note_new_state(v);
    }
    void note_new_state(double v);
    void add_square_outside(double v);  // x * x near underflow or overflow

  public:
    friend bool operator==(const TagHealth&, const TagHealth&) = default;
};

// The half unit of the last decimal shown, by a sample's decimals; 0 where they are unknown
// (kNoDecimals). Decreasing in the decimals, so the least of three samples' is the half unit
// of the finest of them, and 0 when any is unknown.
inline constexpr std::array<double, 256> kHalfUnit = [] {
    std::array<double, 256> half{};
    constexpr double kShown[] = {0.5,   0.05,  5e-3,  5e-4,  5e-5,  5e-6,  5e-7,  5e-8,
                                 5e-9,  5e-10, 5e-11, 5e-12, 5e-13, 5e-14, 5e-15, 5e-16,
                                 5e-17, 5e-18, 5e-19, 5e-20, 5e-21, 5e-22, 5e-23};
    for (std::size_t d = 0; d < std::size(kShown); ++d) half[d] = kShown[d];
    return half;
}();
static_assert(HealthSample::kNoDecimals >= 23);

inline void TagHealth::judge(const HealthSample& a, const HealthSample& b, const HealthSample& c) {
    if (!((a.t < b.t && b.t < c.t) || (a.t > b.t && b.t > c.t))) return;
    if (a.v == b.v && b.v == c.v) return;  // frozen, not interpolated
    // The resolution the cells show: a change within a few units of it is quantisation.
    const double half =
        std::min({kHalfUnit[a.decimals], kHalfUnit[b.decimals], kHalfUnit[c.decimals]});
    if (std::fabs(c.v - a.v) < 8 * half) return;
    ++judged;
    // Equal steps give 0.5 exactly (x / 2x, even once both are rounded): no division.
    const double f = b.t - a.t == c.t - b.t
                         ? 0.5
                         : static_cast<double>(b.t - a.t) / static_cast<double>(c.t - a.t);
    const double line = a.v + (c.v - a.v) * f;
    const double scale = std::max({std::fabs(a.v), std::fabs(b.v), std::fabs(c.v)});
    if (std::fabs(b.v - line) <= 1e-9 * scale + half) ++interpolated;
}

[[gnu::always_inline]] inline void TagHealth::add(std::int64_t t, double v, std::uint8_t decimals,
                                                  const ValueLimits& limits) {
    if (!std::isfinite(v)) return;
    if (v == 0) v = 0;  // -0 and 0 are one value: runs, states and sums agree
    const HealthSample s{t, v, decimals};
    if (count == 0) [[unlikely]] {
        min = max = v;
        t_min = t_max = t;
        head[0] = tail[1] = s;
    } else {
        min = std::min(min, v);
        max = std::max(max, v);
        t_min = std::min(t_min, t);
        t_max = std::max(t_max, t);
        const HealthSample& prev = tail[1];
        note_step(t > prev.t ? t - prev.t : prev.t - t, 1);
        if (count >= 2) [[likely]]
            judge(tail[0], prev, s);
        else
            head[1] = s;
        tail[0] = tail[1];
        tail[1] = s;
    }
    ++count;
    sum.add(v);
    const auto e = static_cast<unsigned>((std::bit_cast<std::uint64_t>(v) >> 52) & 0x7FF);
    if (e - ExactSum::kSquareLow <= ExactSum::kSquareHigh - ExactSum::kSquareLow) [[likely]]
        squares.add_square(v);
    else
        add_square_outside(v);
    // The open run grows, or closes and a new one opens.
    FrozenRun& open = first_closed ? open_run : first_run;
    if (open.samples && open.value == v) {
        open.last = t;
        ++open.samples;
    } else if (open.samples == 0) {
        open = {v, t, t, 1};
    } else {
        if (first_closed) close_run(open);
        first_closed = true;
        open_run = {v, t, t, 1};
    }
    note_state(v);
    if (v < limits.impossible_below || v > limits.impossible_above) [[unlikely]] {
        if (impossible++ < kFirstInstants) first_impossible.push_back(t);
    } else if (v < limits.suspicious_below) [[unlikely]] {
        if (suspicious++ < kFirstInstants) first_suspicious.push_back(t);
    }
}

// The profile's health fields and notes from the tags' accumulators (one per profile tag, or
// none with health off); `loop_state[i]`: tag i is a loop's SP or MODE; `is_long`: long or
// paired records, where a tag's own timestamps may show compression.
void fill_health(ExportProfile& p, const std::vector<TagHealth>& health,
                 const std::vector<char>& loop_state, bool is_long);

}  // namespace qorv_chemical_engineering_edge::export_profile
