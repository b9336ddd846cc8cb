// Availability bins: counting, coarsening, merging and the binary section.
#include "export/bins.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string_view>

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

// Instants lie within years 1..9999 (and 1e11 s for numeric formats): under 2^48 ms.
constexpr int kMaxLevel = 52;
constexpr std::int64_t kMaxIndex = std::int64_t{1} << 52;

void add_counts(std::vector<TimeBins::Counts>& into, const std::vector<TimeBins::Counts>& from) {
    if (into.size() < from.size()) into.resize(from.size());
    for (std::size_t t = 0; t < from.size(); ++t)
        for (std::size_t k = 0; k < 4; ++k) into[t][k] += from[t][k];
}

void add_extents(std::vector<TimeBins::Extent>& into, const std::vector<TimeBins::Extent>& from) {
    if (into.size() < from.size()) into.resize(from.size());
    for (std::size_t t = 0; t < from.size(); ++t) into[t].add(from[t]);
}

}  // namespace

std::size_t TimeBins::max_bins(std::size_t n_tags) noexcept {
    const std::size_t share = kBudget / std::max<std::size_t>(n_tags, 1);
    return std::clamp<std::size_t>(std::bit_floor(std::max<std::size_t>(share, 1)), 2, kMaxBins);
}

void TimeBins::coarsen() {
    ++level;
    if (!any) return;
    const std::int64_t new_first = first >> 1;
    const auto n = static_cast<std::size_t>(
        ((first + static_cast<std::int64_t>(rows.size()) - 1) >> 1) - new_first + 1);
    std::vector<std::uint64_t> new_rows(n, 0), new_reach(n, 0);
    std::vector<std::vector<Counts>> new_tags(n);
    std::vector<std::vector<Extent>> new_extents(values ? n : 0);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto j =
            static_cast<std::size_t>(((first + static_cast<std::int64_t>(i)) >> 1) - new_first);
        new_rows[j] += rows[i];
        new_reach[j] += reach[i];
        if (new_tags[j].empty())
            new_tags[j] = std::move(tags[i]);
        else
            add_counts(new_tags[j], tags[i]);
        if (!values) {
        } else if (new_extents[j].empty()) {
            new_extents[j] = std::move(extents[i]);
        } else {
            add_extents(new_extents[j], extents[i]);
        }
        overflow = overflow || new_reach[j] > kMaxCount;
    }
    first = new_first;
    rows = std::move(new_rows);
    reach = std::move(new_reach);
    tags = std::move(new_tags);
    extents = std::move(new_extents);
    if (overflow) drop_counts();
}

void TimeBins::drop_counts() {
    tags.assign(rows.size(), {});
    if (values) extents.assign(rows.size(), {});
}

void TimeBins::fit(std::int64_t lo, std::int64_t hi, std::size_t n_tags) {
    const std::size_t most = max_bins(n_tags);
    while (static_cast<std::uint64_t>(hi - lo) + 1 > most) {
        coarsen();
        lo >>= 1;
        hi >>= 1;
    }
}

void TimeBins::extend(std::int64_t lo, std::int64_t hi) {
    if (!any) {
        any = true;
        first = lo;
        rows.assign(static_cast<std::size_t>(hi - lo + 1), 0);
        reach.assign(rows.size(), 0);
        tags.assign(rows.size(), {});
        if (values) extents.assign(rows.size(), {});
        return;
    }
    const std::int64_t last = first + static_cast<std::int64_t>(rows.size()) - 1;
    if (lo < first) {
        const auto more = static_cast<std::size_t>(first - lo);
        rows.insert(rows.begin(), more, 0);
        reach.insert(reach.begin(), more, 0);
        tags.insert(tags.begin(), more, {});
        if (values) extents.insert(extents.begin(), more, {});
        first = lo;
    }
    if (hi > last) {
        rows.resize(rows.size() + static_cast<std::size_t>(hi - last), 0);
        reach.resize(rows.size(), 0);
        tags.resize(rows.size());
        if (values) extents.resize(rows.size());
    }
}

TimeBins::Counts* TimeBins::add_row_slow(std::int64_t t_us, std::size_t n_tags,
                                         std::uint32_t samples) {
    std::int64_t k = bin_of(t_us);
    const std::int64_t last = first + static_cast<std::int64_t>(rows.size()) - 1;
    if (!any || k < first || k > last || n_tags != fitted_tags_) {
        fitted_tags_ = n_tags;
        const std::int64_t lo = any ? std::min(first, k) : k;
        const std::int64_t hi = any ? std::max(last, k) : k;
        const int before = level;
        fit(lo, hi, n_tags);
        extend(lo >> (level - before), hi >> (level - before));
        k = bin_of(t_us);
    }
    const auto b = static_cast<std::size_t>(k - first);
    ++rows[b];
    if ((reach[b] += samples) > kMaxCount && !overflow) {
        overflow = true;
        drop_counts();
    }
    if (overflow) return nullptr;
    if (tags[b].size() < n_tags) tags[b].resize(n_tags);
    return tags[b].data();
}

void TimeBins::merge(TimeBins&& later, const std::vector<std::uint32_t>& remap,
                     std::size_t n_tags) {
    fitted_tags_ = 0;
    if (later.values && !values) {
        values = true;
        extents.assign(rows.size(), {});
    }
    if (!later.any) return;
    // Both to one level, then up until the union fits. Nothing kept yet: level 0.
    if (!any) level = later.level;
    for (;;) {
        while (level < later.level) coarsen();
        while (later.level < level) later.coarsen();
        const std::int64_t later_last =
            later.first + static_cast<std::int64_t>(later.rows.size()) - 1;
        const std::int64_t lo = any ? std::min(first, later.first) : later.first;
        const std::int64_t hi =
            any ? std::max(first + static_cast<std::int64_t>(rows.size()) - 1, later_last)
                : later_last;
        if (static_cast<std::uint64_t>(hi - lo) + 1 <= max_bins(n_tags)) {
            extend(lo, hi);
            break;
        }
        coarsen();
        later.coarsen();
    }
    overflow = overflow || later.overflow;
    for (std::size_t i = 0; i < later.rows.size(); ++i) {
        const auto b = static_cast<std::size_t>(later.first + static_cast<std::int64_t>(i) - first);
        rows[b] += later.rows[i];
        reach[b] += later.reach[i];
        overflow = overflow || reach[b] > kMaxCount;
        if (overflow) continue;
        const auto& from = later.tags[i];
        auto& into = tags[b];
        for (std::size_t r = 0; r < from.size(); ++r) {
            if (from[r] == Counts{}) continue;
            const std::uint32_t id = remap[r];
            if (into.size() <= id) into.resize(std::max<std::size_t>(id + 1, n_tags));
            for (std::size_t k = 0; k < 4; ++k) into[id][k] += from[r][k];
        }
        if (!later.values) continue;
        const auto& low_high = later.extents[i];
        auto& kept = extents[b];
        for (std::size_t r = 0; r < low_high.size(); ++r) {
            if (low_high[r].empty()) continue;
            const std::uint32_t id = remap[r];
            if (kept.size() <= id) kept.resize(std::max<std::size_t>(id + 1, n_tags));
            kept[id].add(low_high[r]);
        }
    }
    if (overflow) drop_counts();
    later = TimeBins();
}

TimeBins::Counts TimeBins::at(std::size_t b, std::size_t tag) const noexcept {
    return b < tags.size() && tag < tags[b].size() ? tags[b][tag] : Counts{};
}

bool TimeBins::same_counts(const TimeBins& o) const {
    if (any != o.any) return false;
    if (!any) return true;
    if (level != o.level || first != o.first || rows != o.rows || reach != o.reach ||
        overflow != o.overflow)
        return false;
    for (std::size_t b = 0; b < rows.size(); ++b) {
        const std::size_t n = std::max(tags[b].size(), o.tags[b].size());
        for (std::size_t t = 0; t < n; ++t)
            if (at(b, t) != o.at(b, t)) return false;
    }
    if (values != o.values) return false;
    for (std::size_t b = 0; values && b < rows.size(); ++b) {
        const std::size_t n = std::max(extents[b].size(), o.extents[b].size());
        for (std::size_t t = 0; t < n; ++t)
            if (!(extent(b, t) == o.extent(b, t))) return false;
    }
    return true;
}

// The section: its byte length, then any, level, first, overflow, the bins' row counts and
// reaches, and per bin its tag entries (count, then four 32-bit counts each); with envelopes
// kept, a mark and per bin its tag extents (count, then the low and high doubles' bits each);
// little-endian throughout.
namespace {

void put64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
bool get(std::string_view& in, std::uint64_t& v, int bytes) {
    if (in.size() < static_cast<std::size_t>(bytes)) return false;
    v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= std::uint64_t(static_cast<unsigned char>(in[static_cast<std::size_t>(i)])) << (8 * i);
    in.remove_prefix(static_cast<std::size_t>(bytes));
    return true;
}

}  // namespace

void TimeBins::serialize(std::string& out) const {
    std::string s;
    put64(s, any);
    put64(s, static_cast<std::uint64_t>(level));
    put64(s, static_cast<std::uint64_t>(first));
    put64(s, overflow);
    put64(s, rows.size());
    for (auto r : rows) put64(s, r);
    for (auto r : reach) put64(s, r);
    for (const auto& bin : tags) {
        // Trailing untouched tags are not written.
        std::size_t n = bin.size();
        while (n > 0 && bin[n - 1] == Counts{}) --n;
        put64(s, n);
        for (std::size_t t = 0; t < n; ++t)
            for (auto c : bin[t]) put32(s, c);
    }
    if (values) {
        put64(s, kValuesMark);
        for (const auto& bin : extents) {
            std::size_t n = bin.size();
            while (n > 0 && bin[n - 1].empty()) --n;
            put64(s, n);
            for (std::size_t t = 0; t < n; ++t) {
                put64(s, std::bit_cast<std::uint64_t>(bin[t].lo));
                put64(s, std::bit_cast<std::uint64_t>(bin[t].hi));
            }
        }
    }
    put64(out, s.size());
    out += s;
}

bool TimeBins::deserialize(std::string_view& bytes, std::size_t n_tags) {
    *this = TimeBins();
    std::uint64_t length = 0;
    if (!get(bytes, length, 8) || length > bytes.size()) return false;
    std::string_view in = bytes.substr(0, length);
    bytes.remove_prefix(length);
    std::uint64_t v_any, v_level, v_first, v_overflow, n_bins;
    if (!get(in, v_any, 8) || !get(in, v_level, 8) || !get(in, v_first, 8) ||
        !get(in, v_overflow, 8) || !get(in, n_bins, 8))
        return false;
    if (v_any > 1 || v_overflow > 1 || v_level > kMaxLevel) return false;
    any = v_any == 1;
    level = static_cast<int>(v_level);
    first = static_cast<std::int64_t>(v_first);
    overflow = v_overflow == 1;
    // A valid partial's bins run from its first instant's bin to its last's, at most kMaxBins
    // (tags of a file without rows, at the end, may not have narrowed them yet).
    if (any ? n_bins == 0 || n_bins > kMaxBins : n_bins != 0 || level != 0 || overflow)
        return false;
    const std::int64_t furthest = kMaxIndex >> level;
    if (first < -furthest || first > furthest) return false;
    rows.resize(n_bins);
    for (auto& r : rows)
        if (!get(in, r, 8)) return false;
    if (any && (rows.front() == 0 || rows.back() == 0)) return false;
    reach.resize(n_bins);
    for (std::size_t b = 0; b < n_bins; ++b) {
        if (!get(in, reach[b], 8) || reach[b] < rows[b]) return false;
        if (!overflow && reach[b] > kMaxCount) return false;
    }
    tags.resize(n_bins);
    for (std::size_t b = 0; b < n_bins; ++b) {
        std::uint64_t n = 0;
        if (!get(in, n, 8) || n > n_tags || n > in.size() / 16 || (overflow && n != 0))
            return false;
        tags[b].resize(n);
        for (auto& c : tags[b]) {
            std::uint64_t sum = 0;
            for (auto& k : c) {
                std::uint64_t x = 0;
                get(in, x, 4);
                k = static_cast<std::uint32_t>(x);
                sum += x;
            }
            if (sum > reach[b]) return false;
        }
        // Written without its trailing untouched tags: one blob per state.
        if (n > 0 && tags[b].back() == Counts{}) return false;
    }
    if (in.empty()) return true;
    std::uint64_t mark = 0;
    if (!get(in, mark, 8) || mark != kValuesMark) return false;
    values = true;
    extents.resize(n_bins);
    for (std::size_t b = 0; b < n_bins; ++b) {
        std::uint64_t n = 0;
        if (!get(in, n, 8) || n > n_tags || n > in.size() / 16 || (overflow && n != 0))
            return false;
        extents[b].resize(n);
        for (auto& e : extents[b]) {
            std::uint64_t lo = 0, hi = 0;
            get(in, lo, 8);
            get(in, hi, 8);
            e.lo = std::bit_cast<double>(lo);
            e.hi = std::bit_cast<double>(hi);
            // Empty, or finite with lo <= hi and no -0: as adding values leaves it.
            const bool empty = e == TimeBins::Extent{};
            if (!empty &&
                !(std::isfinite(e.lo) && std::isfinite(e.hi) && e.lo <= e.hi &&
                  !(e.lo == 0 && std::signbit(e.lo)) && !(e.hi == 0 && std::signbit(e.hi))))
                return false;
        }
        if (n > 0 && extents[b].back().empty()) return false;
    }
    return in.empty();
}

}  // namespace qorv_chemical_engineering_edge::export_profile
