// Bookkeeping shared by scanning and merging: tags, units, texts, unparsed rows, clock notes.
#include <algorithm>
#include <bit>
#include <iterator>
#include <mutex>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "export/state.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

namespace {
thread_local int exact_cells_asked = 0;
}  // namespace

ExactCells::ExactCells() noexcept {
    ++exact_cells_asked;
}
ExactCells::~ExactCells() {
    --exact_cells_asked;
}

std::shared_ptr<const ScanSettings> make_settings(const ProfileOptions& options) {
    auto s = std::make_shared<ScanSettings>();
    s->exact_cells = exact_cells_asked > 0;
    s->options = options;
    s->syntax = {options.timestamp_format, options.day_first.value_or(false), options.decimal};
    s->either_date_order = !options.day_first;
    if (auto zone = tz::zone_of(options.zone_name, options.zone_tzif, &s->zone_error))
        s->zone = std::move(*zone);
    const auto& periods = s->zone.periods();
    s->zone_is_utc = periods.size() == 1 && periods[0].offset == 0;
    s->health = options.health;
    if (s->health)
        for (const TagUnit& t : options.tag_units)
            if (const std::string_view unit = trim(t.unit); !unit.empty())
                s->listed_units.emplace(std::string(trim(t.tag)), std::string(unit));
    return s;
}

std::uint32_t PartialProfile::State::tag_id(std::string_view name) {
    if (tag_index.size() != tags.size()) {
        tag_index.clear();
        tag_index.reserve(tags.size());
        for (std::size_t i = 0; i < tags.size(); ++i)
            tag_index.emplace(tags[i].name, static_cast<std::uint32_t>(i));
    }
    const auto it = tag_index.find(name);
    if (it != tag_index.end()) return it->second;
    const auto id = static_cast<std::uint32_t>(tags.size());
    tags.emplace_back().name = std::string(name);
    if (settings && settings->health) health.resize(tags.size());
    tag_index.emplace(std::string(name), id);
    return id;
}

std::vector<std::uint32_t> PartialProfile::State::tag_ids(const std::vector<std::string>& names) {
    std::vector<std::uint32_t> ids;
    ids.reserve(names.size());
    if (!tags.empty()) {
        for (const std::string& name : names) ids.push_back(tag_id(name));
        return ids;
    }
    // A new piece: duplicate names found through one flat table of ids (load at most a half),
    // which is freed whole, instead of a node per tag.
    std::size_t size = 16;
    while (size < 2 * names.size()) size *= 2;
    std::vector<std::uint32_t> table(size, 0);  // id + 1; 0: free
    tags.reserve(names.size());
    for (const std::string& name : names) {
        std::size_t at = std::hash<std::string_view>{}(name) & (size - 1);
        while (table[at] != 0 && tags[table[at] - 1].name != name) at = (at + 1) & (size - 1);
        if (table[at] == 0) {
            table[at] = static_cast<std::uint32_t>(tags.size()) + 1;
            tags.emplace_back().name = name;
        }
        ids.push_back(table[at] - 1);
    }
    if (settings && settings->health) health.resize(tags.size());
    return ids;
}

void PartialProfile::State::note_unit(TagStats& tag, std::string_view unit) {
    unit = trim(unit);
    if (unit.empty()) return;
    if (tag.unit.empty()) {
        tag.unit = std::string(unit);
        return;
    }
    if (unit == tag.unit || tag.other_units_overflow) return;
    auto at = std::lower_bound(tag.other_units.begin(), tag.other_units.end(), unit);
    if (at != tag.other_units.end() && *at == unit) return;
    if (tag.other_units.size() == kMaxOtherUnits) {
        tag.other_units.clear();
        tag.other_units_overflow = true;
        return;
    }
    tag.other_units.insert(at, std::string(unit));
}

void PartialProfile::State::note_unparsed(LineRef at) {
    ++unparsed_rows;
    if (first_unparsed.size() < kFirstRefs) first_unparsed.push_back(at);
}

void PartialProfile::State::note_text(std::string_view text) {
    if (texts_overflow) return;
    text = text.substr(0, kMaxTextBytes);
    const auto it = texts.find(text);
    if (it != texts.end()) {
        ++it->second;
        return;
    }
    if (texts.size() == kMaxTexts) {
        texts.clear();
        texts_overflow = true;
        return;
    }
    texts.emplace(std::string(text), 1);
}

void PartialProfile::State::note_clock_slow(StreamEnds& ends, std::int64_t t, LineRef at,
                                            std::uint32_t stream, FilePart& part) {
    if (!ends.any) {
        ends = {true, t, t, at, at};
        return;
    }
    const std::int64_t last = ends.last_us;
    const LineRef last_at = ends.last_at;
    ends.last_us = t;
    ends.last_at = at;
    // Most steps go forward by a regular step: decided in a few compares, with the candidates
    // full and this row past the last one kept.
    constexpr std::int64_t kHour = 3600 * kUsPerSecond;
    const std::int64_t back = last - t;
    if (back < 0) {
        if (last_at.file != at.file) return;
        ++part.rises;
        // Noted at the row before the step, which a later row of another stream may precede:
        // kept sorted, the first ones by position, as a merge keeps them.
        if (back < -kHour) return;
        const ClockCandidate c{last_at, stream, last};
        if (clock_rises.size() >= kClockCandidates && !by_position(c, clock_rises.back())) return;
        if (settings->zone.has_dst()) return;
        clock_rises.insert(std::upper_bound(clock_rises.begin(), clock_rises.end(), c, by_position),
                           c);
        if (clock_rises.size() > kClockCandidates) clock_rises.pop_back();
    } else if (back > 0) {
        if (last_at.file == at.file) ++part.falls;
        if (back <= kHour && clock.size() < kClockCandidates && !settings->zone.has_dst())
            clock.push_back({at, stream, t});
    }
}

void DateEvidence::note(LineRef at, const ParsedTime& pt) {
    ++slash_rows;
    const unsigned a = pt.slash_first, b = pt.slash_second;
    if (a > 12 && b <= 12) {
        if (day_only++ == 0) first_day_only = at;
    } else if (b > 12 && a <= 12) {
        if (month_only++ == 0) first_month_only = at;
    } else if (a <= 12 && b <= 12) {
        if (ambiguous++ == 0) first_ambiguous = at;
        if (dates_overflow) return;
        const std::uint32_t d = pack_date(pt.slash_year, a, b);
        const auto it = std::lower_bound(dates.begin(), dates.end(), d);
        if (it != dates.end() && *it == d) return;
        if (dates.size() == kMaxAmbiguousDates) {
            dates.clear();
            dates_overflow = true;
            return;
        }
        dates.insert(it, d);
    }
}

void DateEvidence::merge(const DateEvidence& later, const std::function<LineRef(LineRef)>& shift) {
    slash_rows += later.slash_rows;
    day_only += later.day_only;
    month_only += later.month_only;
    ambiguous += later.ambiguous;
    if (!first_day_only && later.first_day_only) first_day_only = shift(*later.first_day_only);
    if (!first_month_only && later.first_month_only)
        first_month_only = shift(*later.first_month_only);
    if (!first_ambiguous && later.first_ambiguous) first_ambiguous = shift(*later.first_ambiguous);
    if (dates_overflow || later.dates_overflow) {
        dates.clear();
        dates_overflow = true;
        return;
    }
    std::vector<std::uint32_t> all;
    all.reserve(dates.size() + later.dates.size());
    std::set_union(dates.begin(), dates.end(), later.dates.begin(), later.dates.end(),
                   std::back_inserter(all));
    if (all.size() > kMaxAmbiguousDates) {
        dates.clear();
        dates_overflow = true;
        return;
    }
    dates = std::move(all);
}

std::size_t longest_run(std::string_view bytes, std::size_t& run) noexcept {
    std::size_t longest = run;  // never below run
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes a compare: the opening's first feed is a few MiB, and the byte loop over it
    // was 2.8% of the wide export's CPU time, one thread.
    const __m128i comma = _mm_set1_epi8(','), semi = _mm_set1_epi8(';'), tab = _mm_set1_epi8('\t'),
                  bar = _mm_set1_epi8('|'), lf = _mm_set1_epi8('\n');
    for (; i + 16 <= bytes.size(); i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + i));
        const __m128i hit = _mm_or_si128(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, semi)),
                         _mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, bar))),
            _mm_cmpeq_epi8(v, lf));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        unsigned at = 0;  // the chunk's bytes before this one are counted
        while (mask) {
            const auto b = static_cast<unsigned>(std::countr_zero(mask));
            mask &= mask - 1;
            run += b - at;
            longest = std::max(longest, run);
            run = 0;
            at = b + 1;
        }
        run += 16 - at;
        longest = std::max(longest, run);
    }
#endif
    for (char c : bytes.substr(i)) {
        if (c == ',' || c == ';' || c == '\t' || c == '|' || c == '\n') {
            run = 0;
        } else if (++run > longest) {
            longest = run;
        }
    }
    return longest;
}

std::uint32_t most_repeated(std::vector<std::uint32_t> ids) {
    std::sort(ids.begin(), ids.end());
    std::size_t most = 1;
    for (std::size_t i = 0, j = 0; i < ids.size(); i = j) {
        for (j = i; j < ids.size() && ids[j] == ids[i];) ++j;
        most = std::max(most, j - i);
    }
    return static_cast<std::uint32_t>(most);
}

std::string_view unquote(std::string_view cell, bool quoted, std::string& scratch) {
    if (!quoted) return trim(cell);
    cell = trim(cell);
    scratch.clear();
    bool inside = false;
    for (std::size_t i = 0; i < cell.size(); ++i) {
        const char c = cell[i];
        if (c != '"') {
            scratch.push_back(c);
        } else if (inside && i + 1 < cell.size() && cell[i + 1] == '"') {
            scratch.push_back('"');
            ++i;
        } else {
            inside = !inside;
        }
    }
    return trim(scratch);
}

}  // namespace qorv_chemical_engineering_edge::export_profile
