// Signal health per tag (see health.hpp and "Signal health" in edge/EXPORT_PROFILE.md).
#include "export/health.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

__extension__ typedef unsigned __int128 u128;  // GCC and Clang on 64-bit targets
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kScale = 1074;  // ExactSum counts units of 2^-1074

// A magnitude as little-endian 64-bit limbs, for the few operations finalising needs.
using Big = std::vector<std::uint64_t>;

void trim(Big& a) {
    while (!a.empty() && a.back() == 0) a.pop_back();
}

Big magnitude(const ExactSum& s) {
    Big a(s.limbs().begin(), s.limbs().end());
    if (s.negative()) {  // two's complement: invert and add one
        bool carry = true;
        for (std::uint64_t& l : a) {
            l = ~l + (carry ? 1 : 0);
            carry = carry && l == 0;
        }
    }
    trim(a);
    return a;
}

Big multiply(const Big& a, const Big& b) {
    Big r(a.size() + b.size(), 0);
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::uint64_t carry = 0;
        for (std::size_t j = 0; j < b.size(); ++j) {
            const u128 p = static_cast<u128>(a[i]) * b[j] + r[i + j] + carry;
            r[i + j] = static_cast<std::uint64_t>(p);
            carry = static_cast<std::uint64_t>(p >> 64);
        }
        r[i + b.size()] = carry;
    }
    trim(r);
    return r;
}

Big shift_left(const Big& a, unsigned limbs) {
    Big r(limbs, 0);
    r.insert(r.end(), a.begin(), a.end());
    trim(r);
    return r;
}

// a - b, for a >= b; false (a left as is) when a < b.
bool subtract(Big& a, const Big& b) {
    if (a.size() < b.size()) return false;
    if (a.size() == b.size()) {
        for (std::size_t i = a.size(); i-- > 0;) {
            if (a[i] != b[i]) {
                if (a[i] < b[i]) return false;
                break;
            }
        }
    }
    bool borrow = false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const std::uint64_t bi = i < b.size() ? b[i] : 0;
        const std::uint64_t d = a[i] - bi - (borrow ? 1 : 0);
        borrow = a[i] < bi || (a[i] == bi && borrow);
        a[i] = d;
    }
    trim(a);
    return true;
}

// Floor division by d > 0; true when a remainder was left.
bool divide(Big& a, std::uint64_t d) {
    u128 rem = 0;
    for (std::size_t i = a.size(); i-- > 0;) {
        const u128 cur = (rem << 64) | a[i];
        a[i] = static_cast<std::uint64_t>(cur / d);
        rem = cur % d;
    }
    trim(a);
    return rem != 0;
}

// m * 2^e (plus a little more when `sticky`), rounded once to nearest, ties to even. Callers
// leave at least 64 bits above any sticky remainder, so that rounding sees it.
double round_big(const Big& m, std::int64_t e, bool sticky) {
    if (m.empty()) return 0.0;
    const std::int64_t top = static_cast<std::int64_t>(m.size() * 64 - 1) -
                             static_cast<std::int64_t>(std::countl_zero(m.back()));
    // The lowest bit kept: 53 bits, fewer where the result is subnormal.
    const std::int64_t lo = std::max<std::int64_t>(top - 52, -1074 - e);
    auto bit = [&](std::int64_t i) {
        return i >= 0 && ((m[static_cast<std::size_t>(i / 64)] >> (i % 64)) & 1) != 0;
    };
    if (lo <= 0) {  // every bit kept: exact (top < 53)
        return std::ldexp(static_cast<double>(m[0]), static_cast<int>(e));
    }
    std::uint64_t mant = 0;
    for (std::int64_t i = top; i >= lo; --i) mant = (mant << 1) | (bit(i) ? 1 : 0);
    const bool half = bit(lo - 1);
    bool below = sticky;
    for (std::int64_t i = 0; i < lo - 1 && !below; ++i) {
        if (i % 64 == 0 && i + 64 <= lo - 1 && m[static_cast<std::size_t>(i / 64)] == 0) {
            i += 63;
            continue;
        }
        below = bit(i);
    }
    if (half && (below || (mant & 1))) ++mant;
    const std::int64_t exp = lo + e;
    if (exp > 2000) return std::numeric_limits<double>::infinity();
    return std::ldexp(static_cast<double>(mant), static_cast<int>(exp));
}

}  // namespace

void ExactSum::add_new_exponent(double x) noexcept {
    const auto bits = std::bit_cast<std::uint64_t>(x);
    const auto e = static_cast<unsigned>((bits >> 52) & 0x7FF);
    if (e == 0x7FF || (bits << 1) == 0) return;
    carry_pending();
    const auto m = static_cast<std::int64_t>(e ? (bits & kFraction) | kHidden : bits & kFraction);
    pending_shift_ = e ? e - 1 : 0;  // a subnormal's m is at bit 0
    pending_ = (bits >> 63) ? -m : m;
}

void ExactSum::carry_pending() const noexcept {
    if (pending_shift_ == kNone) return;
    const bool minus = pending_ < 0;
    const auto magnitude = static_cast<u128>(minus ? -pending_ : pending_);
    pending_ = 0;
    const unsigned at = pending_shift_ / 64, off = pending_shift_ % 64;
    pending_shift_ = kNone;
    // The magnitude shifted to its place: three limbs from `at` (the callers' bounds keep the
    // third inside the limbs).
    const u128 low = magnitude << off;
    const std::uint64_t words[3] = {static_cast<std::uint64_t>(low),
                                    static_cast<std::uint64_t>(low >> 64),
                                    off ? static_cast<std::uint64_t>(magnitude >> (128 - off)) : 0};
    bool c = false;
    for (std::size_t i = at; i < kLimbs; ++i) {
        const std::uint64_t w = i - at < 3 ? words[i - at] : 0;
        if (i - at >= 3 && !c) break;
        std::uint64_t r = 0;
        bool c1 = false;
        if (!minus) {
            c1 = __builtin_add_overflow(limbs_[i], w, &r);
            c1 |= __builtin_add_overflow(r, static_cast<std::uint64_t>(c), &r);
        } else {
            c1 = __builtin_sub_overflow(limbs_[i], w, &r);
            c1 |= __builtin_sub_overflow(r, static_cast<std::uint64_t>(c), &r);
        }
        limbs_[i] = r;
        c = c1;
    }
}

void ExactSum::add(const ExactSum& other) noexcept {
    carry_pending();
    const Limbs& o = other.limbs();
    bool c = false;
    for (std::size_t i = 0; i < kLimbs; ++i) {
        std::uint64_t s = 0;
        bool c1 = __builtin_add_overflow(limbs_[i], o[i], &s);
        c1 |= __builtin_add_overflow(s, static_cast<std::uint64_t>(c), &s);
        limbs_[i] = s;
        c = c1;
    }
}

double ExactSum::value() const {
    const double v = round_big(magnitude(*this), -kScale, false);
    return negative() ? -v : v;
}

std::uint8_t decimals_of(double v) noexcept {
    static constexpr double kPow10[] = {1e0, 1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                        1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
    // nearbyint without the library call: below 2^52, adding and taking away 2^52 rounds to
    // the nearest integer, ties to even, as nearbyint does in the default rounding mode; from
    // 2^52 on every double is an integer already.
    auto nearest = [](double x) {
        const double a = std::fabs(x);
        return a < 0x1p52 ? std::copysign((a + 0x1p52) - 0x1p52, x) : x;
    };
    for (std::uint8_t k = 0; k < std::size(kPow10); ++k)
        if (nearest(v * kPow10[k]) / kPow10[k] == v) return k;
    return HealthSample::kNoDecimals;
}

std::optional<PlainValue> plain_value_of(std::string_view text, char decimal) noexcept {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    if (text.empty() || text.size() > 15) return std::nullopt;
    std::size_t i = text[0] == '-' || text[0] == '+';
    std::uint64_t m = 0;
    unsigned digits = 0, decimals = 0, zeros = 0;
    bool separator = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (static_cast<unsigned char>(c - '0') < 10) {
            m = m * 10 + static_cast<unsigned>(c - '0');
            ++digits;
            decimals += separator;
            zeros = separator && c == '0' ? zeros + 1 : 0;
        } else if (c == decimal && !separator) {
            separator = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) return std::nullopt;  // 15 digits at most: m < 2^53
    const double v = static_cast<double>(m) / kPow10[decimals];
    return PlainValue{text[0] == '-' ? -v : v, decimals_of_plain(v, decimals, zeros)};
}

void TagHealth::note_new_step(std::int64_t step, std::uint64_t n) {
    if (step == 0) return;
    min_step = min_step == 0 ? step : std::min(min_step, step);
    max_step = std::max(max_step, step);
    if (steps_overflow) return;
    auto it = std::lower_bound(steps.begin(), steps.end(), step,
                               [](const auto& p, std::int64_t s) { return p.first < s; });
    if (it != steps.end() && it->first == step) {
        it->second += n;
    } else if (steps.size() == kMaxSteps) {
        steps.clear();
        steps.shrink_to_fit();
        steps_overflow = true;
        return;
    } else {
        it = steps.insert(it, {step, n});
    }
    hint_.i = static_cast<std::size_t>(it - steps.begin());
}

// `run` follows the open run (its value differs unless it was joined); `closed`: a later value
// ends it.
void TagHealth::join_run(const FrozenRun& run, bool closed) {
    if (!first_closed) {
        if (first_run.samples == 0 || first_run.value == run.value) {
            // The first run grows (the joined samples lie after it in time order).
            if (first_run.samples == 0) {
                first_run = run;
            } else {
                first_run.last = run.last;
                first_run.samples += run.samples;
            }
            if (closed) {
                first_closed = true;
                open_run = {};
            }
            return;
        }
        first_closed = true;
        if (closed) {
            close_run(run);
            open_run = {};
        } else {
            open_run = run;
        }
        return;
    }
    FrozenRun joined = run;
    if (open_run.samples && open_run.value == run.value) {
        joined = open_run;
        joined.last = run.last;
        joined.samples += run.samples;
    } else if (open_run.samples) {
        close_run(open_run);
    }
    if (closed) {
        close_run(joined);
        open_run = {};
    } else {
        open_run = joined;
    }
}

void TagHealth::note_new_state(double v) {
    if (v != std::floor(v)) {
        not_states = true;
        states.clear();
        return;
    }
    const auto it = std::lower_bound(states.begin(), states.end(), v);
    if (it != states.end() && *it == v) return;
    if (states.size() == kMaxStateValues) {
        not_states = true;
        states.clear();
        return;
    }
    states.insert(it, v);
}

void TagHealth::add_square_outside(double v) {
    const double hi = v * v;
    if (std::isfinite(hi)) {  // x*x split exactly into hi + lo
        squares.add(hi);
        squares.add(std::fma(v, v, -hi));
    } else {
        squares_overflow = true;
    }
}

void TagHealth::merge(const TagHealth& b) {
    if (b.count == 0) return;
    if (count == 0) {
        *this = b;
        return;
    }
    // The seam: its step and the samples whose neighbours lie on both sides.
    note_step(b.head[0].t > tail[1].t ? b.head[0].t - tail[1].t : tail[1].t - b.head[0].t, 1);
    if (count >= 2) judge(tail[0], tail[1], b.head[0]);
    if (b.count >= 2) judge(tail[1], b.head[0], b.head[1]);
    if (count == 1) head[1] = b.head[0];
    if (b.count >= 2) {
        tail = b.tail;
    } else {
        tail[0] = tail[1];
        tail[1] = b.tail[1];
    }
    for (const auto& [step, n] : b.steps) note_step(step, n);
    if (b.steps_overflow && !steps_overflow) {
        steps.clear();
        steps.shrink_to_fit();
        steps_overflow = true;
    }
    if (b.min_step) {
        min_step = min_step == 0 ? b.min_step : std::min(min_step, b.min_step);
        max_step = std::max(max_step, b.max_step);
    }
    min = std::min(min, b.min);
    max = std::max(max, b.max);
    t_min = std::min(t_min, b.t_min);
    t_max = std::max(t_max, b.t_max);
    count += b.count;
    sum.add(b.sum);
    squares.add(b.squares);
    squares_overflow = squares_overflow || b.squares_overflow;
    judged += b.judged;
    interpolated += b.interpolated;
    // Runs: the later piece's first run follows this one's open run; its closed runs and its
    // open run follow that.
    join_run(b.first_run, b.first_closed);
    if (b.first_closed) {
        frozen_us += b.frozen_us;
        if (b.longest_us > longest_us ||
            (b.longest_us == longest_us && b.longest_samples > longest_samples)) {
            longest_us = b.longest_us;
            longest_samples = b.longest_samples;
        }
        if (b.open_run.samples) join_run(b.open_run, false);
    }
    for (double v : b.states) note_state(v);
    if (b.not_states && !not_states) {
        not_states = true;
        states.clear();
    }
    for (std::int64_t t : b.first_impossible)
        if (first_impossible.size() < kFirstInstants) first_impossible.push_back(t);
    for (std::int64_t t : b.first_suspicious)
        if (first_suspicious.size() < kFirstInstants) first_suspicious.push_back(t);
    impossible += b.impossible;
    suspicious += b.suspicious;
}

std::optional<std::int64_t> TagHealth::modal_step() const {
    if (steps_overflow || steps.empty()) return std::nullopt;
    const auto* best = &steps.front();
    for (const auto& s : steps)
        if (s.second > best->second) best = &s;  // sorted: the first of a tie is the smaller
    return best->first;
}

std::pair<std::int64_t, std::uint64_t> TagHealth::longest_run() const {
    TagHealth h;
    h.longest_us = longest_us;
    h.longest_samples = longest_samples;
    if (first_run.samples) h.close_run(first_run);
    if (first_closed && open_run.samples) h.close_run(open_run);
    return {h.longest_us, h.longest_samples};
}

std::uint64_t TagHealth::frozen_time() const {
    TagHealth h;
    h.frozen_us = frozen_us;
    if (first_run.samples) h.close_run(first_run);
    if (first_closed && open_run.samples) h.close_run(open_run);
    return h.frozen_us;
}

double TagHealth::mean() const {
    if (count == 0) return kNaN;
    // sum / n with 128 more bits below the point: the remainder is a sticky bit.
    Big m = shift_left(magnitude(sum), 2);
    const bool sticky = divide(m, count);
    const double v = round_big(m, -kScale - 128, sticky);
    return sum.negative() ? -v : v;
}

double TagHealth::std_dev() const {
    if (count < 2 || squares_overflow) return kNaN;
    // (n Q - S^2) / (n (n - 1)), in units of 2^-2148, rounded once; then its square root.
    Big s = magnitude(sum);
    Big num = magnitude(squares);
    if (squares.negative()) return kNaN;  // cannot happen: squares are exact
    num = multiply(num, Big{count});
    num = multiply(num, shift_left(Big{1}, 16));  // * 2^1024
    {
        Big more = multiply(num, Big{std::uint64_t{1} << 50});  // * 2^50: 2^1074 in all
        num = std::move(more);
    }
    if (!subtract(num, multiply(s, s))) return 0.0;  // rounding below 2^-1074: no spread
    num = shift_left(num, 3);                        // 192 bits below the point
    bool sticky = divide(num, count);
    sticky = divide(num, count - 1) || sticky;
    return std::sqrt(round_big(num, -2 * kScale - 192, sticky));
}

const char* TagHealth::check() const {
    if (count == 0) return *this == TagHealth{} ? nullptr : "health fields without a sample";
    if (!(min <= max) || !std::isfinite(min) || !std::isfinite(max) || t_min > t_max)
        return "health extremes out of order";
    if (judged > count || interpolated > judged || impossible + suspicious > count ||
        first_impossible.size() != std::min<std::uint64_t>(impossible, kFirstInstants) ||
        first_suspicious.size() != std::min<std::uint64_t>(suspicious, kFirstInstants))
        return "health counts do not add up";
    if (steps.size() > kMaxSteps || (steps_overflow && !steps.empty()) || min_step < 0 ||
        max_step < min_step || (min_step == 0) != (max_step == 0) ||
        !std::is_sorted(steps.begin(), steps.end()))
        return "health steps are not a scan's";
    for (const auto& [step, n] : steps)
        if (step <= 0 || n == 0 || n >= count) return "health steps are not a scan's";
    if (states.size() > kMaxStateValues || (not_states && !states.empty()) ||
        std::adjacent_find(states.begin(), states.end(), std::greater_equal<>()) != states.end())
        return "health states are not a scan's";
    if (first_run.samples == 0 || (!first_closed && open_run.samples != 0) ||
        (first_closed && open_run.samples == 0) || first_run.samples > count ||
        open_run.samples > count)
        return "health runs are not a scan's";
    return nullptr;
}

void fill_health(ExportProfile& p, const std::vector<TagHealth>& health,
                 const std::vector<char>& loop_state, bool is_long) {
    if (health.size() != p.tags.size()) return;
    for (std::size_t i = 0; i < health.size(); ++i) {
        const TagHealth& h = health[i];
        TagEvidence& e = p.tags[i];
        const ValueLimits limits = value_limits(e.unit);
        e.value_limits = std::string(limits.kind);
        e.impossible_values = h.impossible;
        e.suspicious_values = h.suspicious;
        e.first_impossible_us = h.first_impossible;
        e.first_suspicious_us = h.first_suspicious;
        if (h.impossible) p.notes.impossible_value_tags.push_back(e.name);
        e.numeric_samples = h.count;
        if (h.count == 0) continue;
        e.min = h.min;
        e.max = h.max;
        e.mean = h.mean();
        e.std = h.std_dev();
        e.first_value = h.head[0].v;
        e.last_value = h.tail[1].v;
        if (const auto step = h.modal_step())
            e.modal_step_seconds = static_cast<double>(*step) / 1e6;
        e.constant = h.count >= 2 && h.min == h.max;
        e.state_tag = loop_state[i] || !h.not_states;
        const auto [longest_us, longest_samples] = h.longest_run();
        e.frozen_longest_seconds = static_cast<double>(longest_us) / 1e6;
        e.frozen_longest_samples = longest_samples;
        const std::int64_t span = h.t_max - h.t_min;
        e.frozen_share =
            span > 0
                ? std::min(1.0, static_cast<double>(h.frozen_time()) / static_cast<double>(span))
                : 0.0;
        e.interpolated_judged = h.judged;
        e.interpolated_share =
            h.judged ? static_cast<double>(h.interpolated) / static_cast<double>(h.judged) : 0.0;
        // A tag stored by exception: its own instants irregular, steps spread over a decade.
        e.compressed = is_long && !e.regular && h.min_step > 0 && h.max_step / 10 >= h.min_step;
        const bool held = longest_us >= kFrozenUs && longest_samples >= kFrozenSamples;
        if (!e.constant && !e.state_tag && (e.frozen_share >= 0.05 || held))
            p.notes.frozen_tags.push_back(e.name);
        if (e.compressed || (h.judged >= kInterpolatedJudged && e.interpolated_share >= 0.5))
            p.notes.interpolated_tags.push_back(e.name);
    }
    for (auto* list :
         {&p.notes.frozen_tags, &p.notes.interpolated_tags, &p.notes.impossible_value_tags})
        std::sort(list->begin(), list->end());
}

}  // namespace qorv_chemical_engineering_edge::export_profile
