// One record into the scan state: the timestamp, its zone, every value cell. The hot path.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "export/civil.hpp"
#include "export/records.hpp"
#include "export/tokenize.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

// Most cells are unquoted and have no blank at either end: two byte tests, inline, decide it
// (text_of was about 6% of the long benchmark export's scan as a call).
[[gnu::always_inline]] inline std::string_view trimmed(std::string_view raw) {
    if (raw.empty() ||
        (raw.front() != ' ' && raw.front() != '\t' && raw.back() != ' ' && raw.back() != '\t'))
        return raw;
    return trim(raw);
}
[[gnu::always_inline]] inline std::string_view text_of(const CellRef& c, std::string& scratch) {
    const std::string_view raw(c.b, static_cast<std::size_t>(c.e - c.b));
    return c.quoted ? unquote(raw, true, scratch) : trimmed(raw);
}

// Equal bytes, for the short texts a long record repeats (tag names, units, timestamps): a few
// word compares inline instead of a library call per text. Three of them a record took about 8%
// of the long benchmark export's single-core scan through memcmp.
[[gnu::always_inline]] inline std::uint64_t word_at(const char* p) noexcept {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}
[[gnu::always_inline]] inline bool same_text(std::string_view a, std::string_view b) noexcept {
    const std::size_t n = a.size();
    if (n != b.size()) return false;
    const char* x = a.data();
    const char* y = b.data();
    if (n < 8) {
        for (std::size_t i = 0; i < n; ++i)
            if (x[i] != y[i]) return false;
        return true;
    }
    if (n > 32) return std::memcmp(x, y, n) == 0;
    // Words from the start, then the last word (overlapping the one before it).
    for (std::size_t i = 0; i + 8 < n; i += 8)
        if (word_at(x + i) != word_at(y + i)) return false;
    return word_at(x + n - 8) == word_at(y + n - 8);
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return q * b > a ? q - 1 : q;
}

// Zone periods may start near either end of int64 (crafted TZif data): clamp, never wrap.
std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (!__builtin_add_overflow(a, b, &r)) return r;
    return b > 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
}

// Summary rows and row counts that reports and SQL tools write under the data: "Average",
// "Max:", "(172 rows affected)", "Rows: 172", "[End]". Read only for rows whose time cell does
// not parse, so the hot path never sees it.
bool footer_label(std::string_view s) {
    s = trim(s);
    if (s.size() >= 2 && s.front() == '[' && s.back() == ']') return true;
    if (s.size() >= 2 && s.front() == '(' && s.back() == ')') s = trim(s.substr(1, s.size() - 2));
    while (!s.empty() && (s.back() == ':' || s.back() == '.')) s.remove_suffix(1);
    std::string k;
    bool digits = false;
    for (char c : s) {
        if (c >= '0' && c <= '9') {
            if (!digits) k.push_back('#');
            digits = true;
            continue;
        }
        digits = false;
        if (c == ',' && !k.empty() && k.back() == '#') continue;  // 1,234 rows
        k.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
    static constexpr std::array<std::string_view, 34> kLabels = {"min",
                                                                 "minimum",
                                                                 "max",
                                                                 "maximum",
                                                                 "avg",
                                                                 "average",
                                                                 "mean",
                                                                 "total",
                                                                 "totals",
                                                                 "sum",
                                                                 "count",
                                                                 "std dev",
                                                                 "stddev",
                                                                 "std. dev",
                                                                 "stdev",
                                                                 "standard deviation",
                                                                 "range",
                                                                 "median",
                                                                 "summary",
                                                                 "end of report",
                                                                 "end of data",
                                                                 "# row affected",
                                                                 "# rows affected",
                                                                 "# rows",
                                                                 "# row",
                                                                 "# rows returned",
                                                                 "# rows selected",
                                                                 "# rows exported",
                                                                 "rows: #",
                                                                 "row count: #",
                                                                 "total rows: #",
                                                                 "rows #",
                                                                 "row count #",
                                                                 "records: #"};
    return std::find(kLabels.begin(), kLabels.end(), k) != kLabels.end();
}

}  // namespace

TimeSyntax file_syntax(const TimeSyntax& options, const FileLayout& layout) noexcept {
    TimeSyntax s = options;
    if (layout.time_format != TimestampFormat::Auto) s.format = layout.time_format;
    return s;
}

bool milliseconds_of(std::string_view text, std::int64_t& ms) noexcept {
    if (text.empty() || text.size() > 3) return false;
    ms = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        ms = ms * 10 + (c - '0');
    }
    return true;
}

bool rows_inside(std::string_view record, const FileLayout& layout, const TimeSyntax& options) {
    const auto time_index = static_cast<std::size_t>(layout.time_col);
    const TimeSyntax syntax = file_syntax(options, layout);
    std::string scratch;
    for (std::size_t lf = record.find('\n'); lf != std::string_view::npos;
         lf = record.find('\n', lf + 1)) {
        std::string_view line = record.substr(lf + 1);
        line = line.substr(0, line.find('\n'));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::size_t from = 0;
        for (std::size_t k = 0; k < time_index && from != std::string_view::npos; ++k) {
            from = line.find(layout.delimiter, from);
            if (from != std::string_view::npos) ++from;
        }
        if (from == std::string_view::npos) continue;
        std::string_view cell = line.substr(from);
        cell = cell.substr(0, cell.find(layout.delimiter));
        ParsedTime pt;
        if (parse_timestamp(unquote(cell, true, scratch), syntax, pt)) return true;
    }
    return false;
}

RecordProcessor::RecordProcessor(PartialProfile::State& state, std::uint32_t part)
    : st_(state),
      set_(*state.settings),
      part_index_(part),
      layout_(state.files[part].layout),
      sentinels_(set_.options.missing_sentinels),
      good_(set_.options.good_quality),
      convention_(layout_.quality_convention),
      decimal_(set_.options.decimal),
      syntax_(file_syntax(set_.syntax, layout_)),
      baseline_(set_.options.baseline_search != BaselineSearch::Off &&
                layout_.layout == Layout::Wide),
      baseline_records_(set_.options.baseline_search != BaselineSearch::Off &&
                        layout_.layout != Layout::Wide) {
    const auto column = [&](std::int32_t c) {
        return c >= 0 && static_cast<std::uint64_t>(c) < layout_.n_columns;
    };
    if (set_.health && !st_.bins.values && !st_.bins.any) st_.bins.values = true;
    long_lean_ = !set_.exact_cells && layout_.layout == Layout::Long &&
                 layout_.time_join == TimeJoin::None && layout_.more_value_cols.empty() &&
                 column(layout_.tag_col) && column(layout_.time_col) && column(layout_.value_col) &&
                 (layout_.quality_col < 0 || column(layout_.quality_col)) &&
                 (layout_.unit_col < 0 || column(layout_.unit_col));
    if (baseline_records_)
        name_of_ = [&tags = st_.tags](std::uint32_t id) { return std::string_view(tags[id].name); };
    if (baseline_) {
        loops_ = plan_loops(layout_.tag_names);
        member_.assign(layout_.tag_column.size(), 0);
        for (const std::uint32_t i : loops_.members)
            if (i < member_.size()) member_[i] = 1;
        pv_values_.resize(loops_.pv_sp.size());
        loop_cells_.resize(2 * loops_.pv_sp.size());
    }
    if (set_.health && layout_.layout != Layout::Long) {
        layout_limits_.resize(layout_.tag_column.size());
        for (std::size_t i = 0; i < layout_limits_.size(); ++i) {
            std::string_view unit;
            const auto listed = i < layout_.tag_names.size()
                                    ? set_.listed_units.find(trim(layout_.tag_names[i]))
                                    : set_.listed_units.end();
            if (listed != set_.listed_units.end()) {
                unit = listed->second;
            } else {
                if (i < layout_.unit_row.size()) unit = trim(layout_.unit_row[i]);
                if (unit.empty() && i < layout_.header_units.size())
                    unit = trim(layout_.header_units[i]);
            }
            layout_limits_[i] = value_limits(unit);
        }
    }
}

void RecordProcessor::feed_health(std::string_view s, std::optional<double> v) {
    // A plain decimal's decimals come from its text (decimals_of tries powers of ten: on the
    // long benchmark export it and the second parse took a sixth of the time with health on).
    if (const auto plain = plain_value_of(s, decimal_); plain && (!v || *v == plain->v)) {
        health_->add(health_t_, plain->v, plain->decimals, *health_limits_);
        v = plain->v;
    } else {
        if (!v) v = to_double(s, decimal_);
        if (!v || !std::isfinite(*v)) return;
        health_->add(health_t_, *v, *health_limits_);
    }
    if (TimeBins::Extent* row = st_.bins.extents_at(health_t_, st_.tags.size()))
        row[health_id_].add(*v);
}

const ValueLimits& RecordProcessor::long_limits(std::uint32_t id, std::string_view unit) {
    if (tag_limits_.size() <= id) tag_limits_.resize(st_.tags.size());
    TagLimits& l = tag_limits_[id];
    if (!l.looked) {
        l.looked = true;
        if (const auto it = set_.listed_units.find(trim(st_.tags[id].name));
            it != set_.listed_units.end()) {
            l.listed = true;
            l.limits = value_limits(it->second);
        }
    }
    if (l.listed) return l.limits;
    unit = trim(unit);
    if (!l.valid || l.unit != unit) {
        l.unit.assign(unit);
        l.limits = value_limits(unit);
        l.valid = true;
    }
    return l.limits;
}

RecordProcessor::Instant RecordProcessor::instant(const ParsedTime& pt, std::int64_t& out,
                                                  tz::WallResolution& repeated) {
    if (!pt.naive || set_.zone_is_utc) {
        out = pt.us;
        return in_supported_range(out) ? Instant::Unique : Instant::OutOfRange;
    }
    const std::int64_t wall_s = floor_div(pt.us, kUsPerSecond);
    const std::int64_t frac = pt.us - wall_s * kUsPerSecond;
    if (cache_valid_ && wall_s >= cache_lo_ && wall_s < cache_hi_) {
        out = (wall_s - cache_offset_) * kUsPerSecond + frac;
        return in_supported_range(out) ? Instant::Unique : Instant::OutOfRange;
    }
    // Wall times lie within the supported range and offsets within a day or so (the zone
    // checks both), so none of these products overflows; the range check comes after.
    // A cached offset was found here first, so this is the one place to note the zone's use.
    st_.zone_walls = true;
    const tz::WallResolution r = set_.zone.resolve(wall_s);
    if (r.kind == tz::WallKind::Repeated) {
        repeated = r;
        repeated.first_s = r.first_s * kUsPerSecond + frac;
        repeated.second_s = r.second_s * kUsPerSecond + frac;
        return in_supported_range(repeated.first_s) && in_supported_range(repeated.second_s)
                   ? Instant::Repeated
                   : Instant::OutOfRange;
    }
    out = r.first_s * kUsPerSecond + frac;
    if (!in_supported_range(out)) return Instant::OutOfRange;
    if (r.kind == tz::WallKind::Gap) return Instant::Moved;
    // Remember the wall-time range that maps to this period alone.
    const auto& periods = set_.zone.periods();
    auto it = std::upper_bound(periods.begin(), periods.end(), r.first_s,
                               [](std::int64_t t, const tz::Period& p) { return t < p.utc_start; });
    const auto p = static_cast<std::size_t>(it - periods.begin()) - 1;
    const std::int64_t o = periods[p].offset;
    constexpr std::int64_t kFar = std::int64_t{1} << 60;
    cache_lo_ = p == 0 ? -kFar
                       : saturating_add(periods[p].utc_start,
                                        std::max<std::int64_t>(o, periods[p - 1].offset));
    cache_hi_ = p + 1 == periods.size()
                    ? kFar
                    : saturating_add(periods[p + 1].utc_start,
                                     std::min<std::int64_t>(o, periods[p + 1].offset));
    cache_offset_ = o;
    cache_valid_ = true;
    return Instant::Unique;
}

inline void RecordProcessor::note_instant(Instant kind, std::int64_t t, const ParsedTime& pt,
                                          const tz::WallResolution& rep, std::uint64_t line,
                                          std::uint32_t stream, FilePart& part, TimeAxis* tag_axis,
                                          StreamEnds& ends) {
    if (kind == Instant::Repeated) {
        st_.repeated.push_back(
            {part_index_, stream, line, pt.us, rep.first_s, rep.second_s, rep.window_s});
        return;
    }
    if (kind == Instant::Moved) ++st_.gap_moved;
    if (tag_axis) tag_axis->append(t);
    st_.rows.append(t);
    note_part_time(part, t);
    st_.note_clock(ends, t, {part_index_, line}, stream, part);
}

inline TimeBins::Counts* RecordProcessor::bin_of_row(std::int64_t t, std::uint32_t samples) {
    TimeBins::Counts* bin = st_.bins.add_row(t, st_.tags.size(), samples);
    if (bin) [[likely]]
        return bin;
    dropped_.resize(st_.tags.size());
    return dropped_.data();
}

inline QualityVerdict RecordProcessor::verdict(const CellRef* quality) {
    if (!quality) return QualityVerdict::Good;
    // A verdict depends on the cell's bytes alone, and a quality column repeats a few short
    // texts: one word compare against the last one read.
    const auto n = static_cast<std::size_t>(quality->e - quality->b);
    if (quality->quoted || !limit_ || n - 1 >= 8 || set_.exact_cells)
        return quality_verdict(text_of(*quality, quality_scratch_), convention_, good_);
    const std::uint64_t word = cell_word(quality->b, n, limit_);
    if (word == last_quality_.word && n == last_quality_.size) return last_quality_.verdict;
    const QualityVerdict v =
        quality_verdict(text_of(*quality, quality_scratch_), convention_, good_);
    last_quality_ = {word, n, v};
    return v;
}

inline void RecordProcessor::count_number(TagStats& tag, std::string_view s, const CellRef* quality,
                                          TimeBins::Counts& bin, bool censored) {
    ++tag.numbers;
    std::optional<double> v;
    if (censored) {
        ++tag.censored;
    } else if (!sentinels_.empty()) {
        v = to_double(s, decimal_);
        if (v && std::find(sentinels_.begin(), sentinels_.end(), *v) != sentinels_.end()) {
            ++tag.sentinel;
            ++bin[TimeBins::OtherMissing];
            return;
        }
    }
    const QualityVerdict q = verdict(quality);
    if (q != QualityVerdict::Bad) {
        tag.uncertain += q == QualityVerdict::Uncertain;
        ++bin[TimeBins::GoodNumber];
        if (health_ && !censored) feed_health(s, v);  // a censored value has no value
    } else {
        ++tag.number_bad_quality;
        ++bin[TimeBins::OtherMissing];
    }
}

inline void RecordProcessor::classify(TagStats& tag, const CellRef& cell, const CellRef* quality,
                                      TimeBins::Counts& bin) {
    ++tag.cells;
    std::string_view s;
    if (!cell.quoted) {
        s = trimmed(std::string_view(cell.b, static_cast<std::size_t>(cell.e - cell.b)));
    } else {
        s = unquote(std::string_view(cell.b, static_cast<std::size_t>(cell.e - cell.b)), true,
                    scratch_);
    }
    if (s.empty()) {
        ++tag.empty;
        ++bin[TimeBins::OtherMissing];
        return;
    }
    // An unquoted cell lies in the scanned buffer, where reading a whole word is safe.
    const bool number = !cell.quoted && limit_ && s.size() - 1 < 8
                            ? is_number_word(cell_word(s.data(), s.size(), limit_), s, decimal_)
                            : is_number(s, decimal_);
    if (number) [[likely]] {
        if (!quality && sentinels_.empty()) {  // most cells of most exports
            ++tag.numbers;
            ++bin[TimeBins::GoodNumber];
            if (health_) feed_health(s, std::nullopt);
            return;
        }
        count_number(tag, s, quality, bin, false);
        return;
    }
    classify_other(tag, s, quality, bin);
}

// Cells that are not plain numbers: off the hot path.
void RecordProcessor::classify_other(TagStats& tag, std::string_view s, const CellRef* quality,
                                     TimeBins::Counts& bin) {
    const int bad = bad_state_index(s);
    if (bad >= 0) {
        ++tag.bad_state;
        ++st_.bad_state_counts[static_cast<std::size_t>(bad)];
        ++bin[TimeBins::BadState];
        return;
    }
    if (const std::string_view plain = spreadsheet_number(s, decimal_, plain_scratch_);
        !plain.empty()) {
        count_number(tag, plain, quality, bin, false);
        return;
    }
    if (is_censored(s, decimal_)) {
        count_number(tag, s, quality, bin, true);
        return;
    }
    ++tag.text;
    const QualityVerdict q = verdict(quality);
    if (q != QualityVerdict::Bad) {
        tag.text_uncertain += q == QualityVerdict::Uncertain;
        ++bin[TimeBins::GoodText];
    } else {
        ++tag.text_bad_quality;
        ++bin[TimeBins::OtherMissing];
    }
    st_.note_text(s);
}

bool RecordProcessor::parse_time(const CellRef& cell, ParsedTime& pt) {
    const std::string_view text = unquote(
        std::string_view(cell.b, static_cast<std::size_t>(cell.e - cell.b)), cell.quoted, scratch_);
    if (layout_.first_row_fast_iso && iso_.parse(text, pt)) return true;
    return parse_timestamp(text, syntax_, pt);
}

bool RecordProcessor::row_time(const CellRef& first, const CellRef& second, ParsedTime& pt) {
    if (layout_.time_join == TimeJoin::None) return parse_time(first, pt);
    const std::string_view a = text_of(first, scratch_);
    if (layout_.time_join == TimeJoin::Milliseconds) {
        std::int64_t ms = 0;
        if (!milliseconds_of(text_of(second, join_scratch_), ms) ||
            !parse_timestamp(a, syntax_, pt))
            return false;
        pt.us += ms * 1000;
        return in_supported_range(pt.us);
    }
    const std::string_view b = text_of(second, quality_scratch_);
    if (a.empty() || b.empty()) return false;
    join_scratch_.assign(a);
    join_scratch_.push_back(' ');
    join_scratch_.append(b);
    return parse_timestamp(join_scratch_, syntax_, pt);
}

inline RecordProcessor::Instant RecordProcessor::row_instant(const CellRef& first,
                                                             const CellRef& second, ParsedTime& pt,
                                                             std::int64_t& out,
                                                             tz::WallResolution& repeated) {
    const bool reuse = layout_.layout == Layout::Long && layout_.time_join == TimeJoin::None;
    const std::string_view text(first.b, static_cast<std::size_t>(first.e - first.b));
    if (reuse && last_time_.valid && same_text(text, last_time_.text)) {
        pt = last_time_.pt;
        out = last_time_.us;
        repeated = last_time_.repeated;
        return last_time_.kind;
    }
    const Instant kind =
        row_time(first, second, pt) ? instant(pt, out, repeated) : Instant::OutOfRange;
    if (reuse) {
        last_time_.valid = true;
        last_time_.text.assign(text);  // its capacity kept: no allocation per instant
        last_time_.pt = pt;
        last_time_.kind = kind;
        last_time_.us = out;
        last_time_.repeated = repeated;
    }
    return kind;
}

bool RecordProcessor::footer_row(const CellRef& time, const CellRef& first, std::int64_t time_col) {
    // A footer's label stands in the time cell, or alone in the first cell.
    const CellRef& label = time.b != time.e || time_col == 0 ? time : first;
    return label.b != label.e && footer_label(text_of(label, scratch_));
}

void RecordProcessor::process_paired(const CellRef* cells, std::size_t n, std::size_t n_total,
                                     std::uint64_t line) {
    FilePart& part = st_.files[part_index_];
    static const CellRef kEmpty{nullptr, nullptr, false};
    auto cell_at = [&](std::int64_t col) -> const CellRef& {
        return col >= 0 && static_cast<std::size_t>(col) < n ? cells[col] : kEmpty;
    };
    auto blank = [&](const CellRef& c) { return c.b == c.e || text_of(c, scratch_).empty(); };
    bool any = false, seen = false;
    for (std::size_t i = 0; i < layout_.tag_column.size(); ++i) {
        const CellRef& time = cell_at(layout_.pair_time_column[i]);
        const CellRef& value = cell_at(layout_.tag_column[i]);
        // A shorter tag's rows end early: its cells below are padding, not samples.
        if (blank(time) && blank(value)) continue;
        ParsedTime pt;
        std::int64_t t = 0;
        tz::WallResolution rep;
        const Instant kind = parse_time(time, pt) ? instant(pt, t, rep) : Instant::OutOfRange;
        if (pt.slash_first) st_.dates.note({part_index_, line}, pt);  // the day/month evidence
        if (kind == Instant::OutOfRange) {
            // A footer under the groups: judged once, by the first group that is no padding.
            if (!seen && footer_row(time, cell_at(0), layout_.pair_time_column[i])) {
                ++st_.footer_rows;
                return;
            }
            seen = true;
            st_.note_unparsed({part_index_, line});
            continue;
        }
        seen = true;
        any = true;
        const std::int64_t binned_at = kind == Instant::Repeated ? rep.first_s : t;
        const std::uint32_t id = part.tag_ids[i];
        TagStats& tag = st_.tags[id];
        ++st_.parsed_rows;
        ++part.data_rows;
        note_instant(kind, t, pt, rep, line, id, part, &tag.axis, tag.ends);
        const std::int32_t q = layout_.quality_column[i];
        if (set_.health) aim_health(id, binned_at, layout_limits_[i]);
        TimeBins::Counts& bin = bin_of_row(binned_at, 1)[id];
        const std::uint64_t before = bin[TimeBins::OtherMissing] + bin[TimeBins::BadState];
        classify(tag, value, q >= 0 && static_cast<std::size_t>(q) < n ? &cells[q] : nullptr, bin);
        if (baseline_records_) baseline_record(kind, t, rep, id, value, bin, before);
    }
    if (any && n_total != layout_.n_columns) ++st_.ragged_rows;
}

void RecordProcessor::process(CellRef* cells, std::size_t n, std::size_t n_total,
                              std::size_t length, std::uint64_t line, std::uint64_t quoted_lf) {
    flush_plain_bin();  // before a row of its own may move the bins
    FilePart& part = st_.files[part_index_];
    const LineRef at{part_index_, line};
    if (quoted_lf)
        st_.note_quotes(
            at, quoted_lf, length,
            n > 0 && length <= kMaxQuotedRecordBytes &&
                rows_inside(std::string_view(cells[0].b, length), layout_, set_.syntax));
    if (length > kMaxRecordBytes) {
        ++st_.oversized_rows;
        st_.note_unparsed(at);
        return;
    }
    if (n == n_total && n > 0 && cells[n - 1].e != cells[n - 1].b && cells[n - 1].e[-1] == '\r')
        --cells[n - 1].e;
    if (n_total == 1 && cells[0].b == cells[0].e) {
        ++st_.blank_lines;
        return;
    }
    if (layout_.layout == Layout::Paired) {
        process_paired(cells, n, n_total, line);
        return;
    }
    if (long_lean_ && n == n_total && n == layout_.n_columns && long_row(cells, line)) return;
    static const CellRef kEmpty{nullptr, nullptr, false};
    auto cell_at = [&](std::int64_t col) -> const CellRef& {
        return col >= 0 && static_cast<std::size_t>(col) < n ? cells[col] : kEmpty;
    };
    ParsedTime pt;
    std::int64_t t = 0;
    tz::WallResolution rep;
    const Instant kind =
        row_instant(cell_at(layout_.time_col), cell_at(layout_.time_col2), pt, t, rep);
    if (pt.slash_first) st_.dates.note(at, pt);  // parsed or not: the day/month evidence
    if (kind == Instant::OutOfRange) {
        if (footer_row(cell_at(layout_.time_col), cell_at(0), layout_.time_col)) {
            ++st_.footer_rows;
            return;
        }
        st_.note_unparsed(at);
        return;
    }
    const std::int64_t binned_at = kind == Instant::Repeated ? rep.first_s : t;  // first occurrence
    if (layout_.layout == Layout::Wide) {
        ++st_.parsed_rows;
        ++part.data_rows;
        if (n_total != layout_.n_columns) ++st_.ragged_rows;
        note_instant(kind, t, pt, rep, line, kRowStream, part, nullptr, st_.row_ends);
        TimeBins::Counts* bin = bin_of_row(binned_at, part.repeats);
        if (baseline_) {
            baseline_row(kind, t, rep, cells, n, bin);
            return;
        }
        const std::size_t n_tags = layout_.tag_column.size();
        if (set_.health) {
            for (std::size_t i = 0; i < n_tags; ++i) {
                const std::int32_t q = layout_.quality_column[i];
                const std::uint32_t id = part.tag_ids[i];
                aim_health(id, binned_at, layout_limits_[i]);
                classify(st_.tags[id], cell_at(layout_.tag_column[i]),
                         q >= 0 && static_cast<std::size_t>(q) < n ? &cells[q] : nullptr, bin[id]);
            }
            return;
        }
        for (std::size_t i = 0; i < n_tags; ++i) {
            const std::int32_t q = layout_.quality_column[i];
            const std::uint32_t id = part.tag_ids[i];
            classify(st_.tags[id], cell_at(layout_.tag_column[i]),
                     q >= 0 && static_cast<std::size_t>(q) < n ? &cells[q] : nullptr, bin[id]);
        }
        return;
    }
    const CellRef& name_cell = cell_at(layout_.tag_col);
    const std::string_view name = text_of(name_cell, name_scratch_);
    if (name.empty()) {
        st_.note_unparsed(at);
        return;
    }
    // Long exports cycle through their tags in a fixed order: try the next tag (after the last,
    // the first) before hashing.
    std::uint32_t id = predicted_ + 1;
    if (id >= st_.tags.size()) id = 0;
    if (id >= st_.tags.size() || !same_text(st_.tags[id].name, name)) id = st_.tag_id(name);
    predicted_ = id;
    TagStats& tag = st_.tags[id];
    ++st_.parsed_rows;
    ++part.data_rows;
    if (n_total != layout_.n_columns) ++st_.ragged_rows;
    note_instant(kind, t, pt, rep, line, id, part, &tag.axis, tag.ends);
    const std::int32_t q = layout_.quality_col;
    const CellRef* value = &cell_at(layout_.value_col);
    // A text value beside the number, or typed columns: the first non-empty one is the value.
    for (std::size_t k = 0; k < layout_.more_value_cols.size() && text_of(*value, scratch_).empty();
         ++k)
        value = &cell_at(layout_.more_value_cols[k]);
    if (set_.health)
        aim_health(id, binned_at,
                   long_limits(id, layout_.unit_col >= 0
                                       ? text_of(cell_at(layout_.unit_col), health_scratch_)
                                       : std::string_view()));
    TimeBins::Counts& bin = bin_of_row(binned_at, 1)[id];
    const std::uint64_t before = bin[TimeBins::OtherMissing] + bin[TimeBins::BadState];
    classify(tag, *value, q >= 0 && static_cast<std::size_t>(q) < n ? &cells[q] : nullptr, bin);
    if (baseline_records_) baseline_record(kind, t, rep, id, *value, bin, before);
    if (layout_.unit_col >= 0) {
        const CellRef& u = cell_at(layout_.unit_col);
        const std::string_view unit = text_of(u, scratch_);
        if (!same_text(unit, tag.unit)) st_.note_unit(tag, unit);
    }
}

inline bool RecordProcessor::long_row(const CellRef* cells, std::uint64_t line) {
    // The long branch of process for the usual record: every column present, its time cell the
    // last record's text (the same instant), its tag the predicted one, written plainly.
    const CellRef& time = cells[layout_.time_col];
    const CellRef& name_cell = cells[layout_.tag_col];
    if (!last_time_.valid || last_time_.kind == Instant::OutOfRange || name_cell.quoted ||
        !same_text(std::string_view(time.b, static_cast<std::size_t>(time.e - time.b)),
                   last_time_.text))
        return false;
    std::uint32_t id = predicted_ + 1;
    if (id >= st_.tags.size()) id = 0;
    if (id >= st_.tags.size()) return false;
    const std::string_view name(name_cell.b, static_cast<std::size_t>(name_cell.e - name_cell.b));
    TagStats& tag = st_.tags[id];
    if (name.empty() || !same_text(name, tag.name) || trimmed(name).size() != name.size())
        return false;
    // From here on, what process does with this record, in its order.
    FilePart& part = st_.files[part_index_];
    const ParsedTime& pt = last_time_.pt;
    if (pt.slash_first) st_.dates.note({part_index_, line}, pt);
    predicted_ = id;
    const Instant kind = last_time_.kind;
    const std::int64_t t = last_time_.us;
    const std::int64_t binned_at = kind == Instant::Repeated ? last_time_.repeated.first_s : t;
    ++st_.parsed_rows;
    ++part.data_rows;
    note_instant(kind, t, pt, last_time_.repeated, line, id, part, &tag.axis, tag.ends);
    const std::int32_t q = layout_.quality_col;
    if (set_.health)
        aim_health(id, binned_at,
                   long_limits(id, layout_.unit_col >= 0
                                       ? text_of(cells[layout_.unit_col], health_scratch_)
                                       : std::string_view()));
    TimeBins::Counts& bin = bin_of_row(binned_at, 1)[id];
    const std::uint64_t before = bin[TimeBins::OtherMissing] + bin[TimeBins::BadState];
    classify(tag, cells[layout_.value_col], q >= 0 ? &cells[q] : nullptr, bin);
    if (baseline_records_)
        baseline_record(kind, t, last_time_.repeated, id, cells[layout_.value_col], bin, before);
    if (layout_.unit_col >= 0) {
        const std::string_view unit = text_of(cells[layout_.unit_col], scratch_);
        if (!same_text(unit, tag.unit)) st_.note_unit(tag, unit);
    }
    return true;
}

bool RecordProcessor::plain_rows_allowed(bool row_bytes) {
    if (baseline_ && !row_bytes) return false;
    if (!column_tag_.empty()) return true;
    const FilePart& part = st_.files[part_index_];
    const char delim = layout_.delimiter;
    const std::size_t n_tags = layout_.tag_column.size();
    // Signal health reads every value: plain_health reads the plain cells from the row's bytes,
    // or the caller hands them over (values_by_caller), each tag once a row (one column each).
    if (set_.health && (!(row_bytes || values_by_caller_) || part.repeats != 1)) return false;
    if (set_.exact_cells || layout_.layout != Layout::Wide || !sentinels_.empty() ||
        (decimal_ != '.' && decimal_ != ',') || delim == decimal_ || delim == '"' ||
        delim == '\n' || delim == '\r' || delim == '+' || delim == '-' ||
        static_cast<unsigned char>(delim - '0') < 10 || layout_.n_columns < 2 ||
        layout_.n_columns > 0x7FFFFFFFu || part.tag_ids.size() != n_tags ||
        layout_.quality_column.size() < n_tags || layout_.time_col < 0 ||
        static_cast<std::uint64_t>(layout_.time_col) >= layout_.n_columns ||
        (layout_.time_col2 >= 0 &&
         static_cast<std::uint64_t>(layout_.time_col2) >= layout_.n_columns))
        return false;
    std::vector<std::int32_t> map(layout_.n_columns, -1);
    for (std::size_t i = 0; i < n_tags; ++i) {
        const std::int32_t col = layout_.tag_column[i];
        if (layout_.quality_column[i] >= 0 || col < 0 ||
            static_cast<std::uint64_t>(col) >= layout_.n_columns || map[col] >= 0)
            return false;
        map[col] = static_cast<std::int32_t>(i);
    }
    loop_columns_.clear();
    for (std::size_t k = 0; baseline_ && k < loops_.pv_sp.size(); ++k) {
        const auto [pv, sp] = loops_.pv_sp[k];
        if (pv >= n_tags || sp >= n_tags) return false;
        loop_columns_.emplace_back(static_cast<std::uint32_t>(layout_.tag_column[pv]), 2 * k);
        loop_columns_.emplace_back(static_cast<std::uint32_t>(layout_.tag_column[sp]), 2 * k + 1);
    }
    std::sort(loop_columns_.begin(), loop_columns_.end());
    missing_.assign(n_tags, 0);
    column_tag_ = std::move(map);
    return true;
}

void RecordProcessor::plain_row(const CellRef& time, const CellRef& time2, const CellRef& first,
                                const WideCell* cells, std::size_t n, std::uint64_t line,
                                const char* row) {
    // The wide branch of process, for a row whose cells the caller has judged.
    plain_taken_ = false;
    FilePart& part = st_.files[part_index_];
    const LineRef at{part_index_, line};
    ParsedTime pt;
    std::int64_t t = 0;
    tz::WallResolution rep;
    const Instant kind = row_instant(time, time2, pt, t, rep);
    if (pt.slash_first) st_.dates.note(at, pt);
    if (kind == Instant::OutOfRange) {
        if (footer_row(time, first, layout_.time_col)) {
            ++st_.footer_rows;
            return;
        }
        st_.note_unparsed(at);
        return;
    }
    const std::int64_t binned_at = kind == Instant::Repeated ? rep.first_s : t;
    ++st_.parsed_rows;
    ++part.data_rows;
    note_instant(kind, t, pt, rep, line, kRowStream, part, nullptr, st_.row_ends);
    // Every cell counted as a plain number (in the bin's totals once the rows move on from it),
    // then the listed ones taken back and judged.
    TimeBins::Counts* bin = st_.bins.add_row_kept(binned_at, st_.tags.size(), part.repeats);
    if (!bin) {
        flush_plain_bin();  // the bins may move
        bin = bin_of_row(binned_at, part.repeats);
    }
    if (bin != plain_bin_) {
        flush_plain_bin();
        plain_bin_ = bin;
    }
    ++plain_bin_rows_;
    const std::uint32_t* ids = part.tag_ids.data();
    ++plain_rows_;
    if (!baseline_) {
        for (std::size_t k = 0; k < n; ++k) {
            const std::int32_t i = column_tag_[cells[k].col];
            if (i < 0) continue;
            const std::uint32_t id = ids[i];
            TagStats& tag = st_.tags[id];
            --tag.cells;  // unsigned: restored by flush_plain
            --tag.numbers;
            --bin[id][TimeBins::GoodNumber];
            if (set_.health) aim_health(id, binned_at, layout_limits_[static_cast<std::size_t>(i)]);
            classify(tag, CellRef{cells[k].b, cells[k].e, false}, nullptr, bin[id]);
        }
        if (set_.health) plain_health(binned_at, row, cells, n);
        return;
    }
    // As above, noting which listed cells are missing: a plain decimal never is.
    std::size_t n_missing = 0;
    bool member_missing = false;
    for (std::size_t k = 0; k < n; ++k) {
        const std::int32_t i = column_tag_[cells[k].col];
        if (i < 0) continue;
        const std::uint32_t id = ids[i];
        TagStats& tag = st_.tags[id];
        --tag.cells;
        --tag.numbers;
        --bin[id][TimeBins::GoodNumber];
        const std::uint64_t before = bin[id][TimeBins::OtherMissing] + bin[id][TimeBins::BadState];
        if (set_.health) aim_health(id, binned_at, layout_limits_[static_cast<std::size_t>(i)]);
        classify(tag, CellRef{cells[k].b, cells[k].e, false}, nullptr, bin[id]);
        // Set for every listed cell, so plain_baseline reads none of an earlier row.
        const bool missing =
            bin[id][TimeBins::OtherMissing] + bin[id][TimeBins::BadState] != before;
        missing_[static_cast<std::size_t>(i)] = missing;
        n_missing += missing;
        member_missing = member_missing || (missing && member_[static_cast<std::size_t>(i)]);
    }
    if (set_.health) plain_health(binned_at, row, cells, n);
    plain_baseline(kind, t, rep, row, cells, n, n_missing, member_missing);
}

namespace {

// A plain decimal's value, exactly as from_chars rounds it, when it has at most 19 digits, a
// mantissa of at most 2^53 and at most 22 decimals (both exact doubles: one division rounds
// once); nullopt for any other, left to the exact rule. `p` is the cell's first byte; `end`
// gets the byte after it; bytes before `limit` may be read past it.
[[gnu::always_inline]] inline std::optional<double> plain_decimal(const char* p, char decimal,
                                                                  const char* limit,
                                                                  const char*& end,
                                                                  unsigned& decimals_out) {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    // Up to eight bytes of digits and separator from one word, without a branch per byte: the
    // cell's end is its first byte that is neither (a delimiter, CR or LF). The per-byte loops
    // below mispredicted at each end: grade_export of the wide benchmark export took 0.55 s of
    // CPU with them alone, 0.49 s with this.
    if (limit && limit - p >= 8) {
        constexpr std::uint64_t kOnes = 0x0101010101010101ull, kLow7 = kOnes * 0x7F;
        constexpr std::uint64_t kHigh = kOnes * 0x80;
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
        const std::uint64_t t = w ^ (kOnes * '0');  // a digit's byte becomes 0 to 9
        const std::uint64_t digit = ~(((t & kLow7) + kOnes * (0x80 - 10)) | t) & kHigh;
        const std::uint64_t x = w ^ (kOnes * static_cast<unsigned char>(decimal));
        const std::uint64_t sep = ~(((x & kLow7) + kLow7) | x | kLow7);
        const std::uint64_t other = ~(digit | sep) & kHigh;
        if (other) {
            const unsigned len = static_cast<unsigned>(std::countr_zero(other)) >> 3;
            const std::uint64_t inside = (std::uint64_t{1} << (8 * len)) - 1;  // len < 8
            const std::uint64_t at = sep & inside;
            unsigned n = len, decimals = 0;
            std::uint64_t v = t & inside;
            if (at) {
                // The separator out, the decimals moved down one byte.
                const unsigned dp = static_cast<unsigned>(std::countr_zero(at)) >> 3;
                const std::uint64_t below = (std::uint64_t{1} << (8 * dp)) - 1;
                v = (v & below) | ((v >> 8) & ~below);
                --n;
                decimals = len - dp - 1;
            }
            if (n > 0) {
                // Leading zeros in, then the eight digits to one number (three multiplies).
                v <<= 8 * (8 - n);
                v = v * 10 + (v >> 8);
                v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
                     (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
                    32;
                end = p + len;
                decimals_out = decimals;
                const double d = static_cast<double>(v) / kPow10[decimals];
                return negative ? -d : d;
            }
        }
    }
    std::uint64_t m = 0;
    unsigned digits = 0, decimals = 0;
    for (; static_cast<unsigned char>(*p - '0') < 10; ++p, ++digits)
        if (digits < 19) m = m * 10 + static_cast<unsigned>(*p - '0');
    if (*p == decimal)
        for (++p; static_cast<unsigned char>(*p - '0') < 10; ++p, ++digits, ++decimals)
            if (digits < 19) m = m * 10 + static_cast<unsigned>(*p - '0');
    end = p;
    decimals_out = decimals;
    if (digits > 19 || m > (std::uint64_t{1} << 53) || decimals > 22) return std::nullopt;
    const double v = static_cast<double>(m) / kPow10[decimals];
    return negative ? -v : v;
}

}  // namespace

void RecordProcessor::plain_baseline(Instant kind, std::int64_t t, const tz::WallResolution& rep,
                                     const char* row, const WideCell* cells, std::size_t n,
                                     std::size_t n_missing, bool member_missing) {
    // Only the PV and SP columns are found, walking the row's delimiters to them, and an SP is
    // read only while its row may qualify: on the wide benchmark export (one thread, CPU
    // seconds, medians of 5) grade_export went from 0.85 s (every cell through classify) to
    // 0.47 s, against 0.18 s for profile_export.
    const char delim = layout_.delimiter;
    // The row's delimiters eight bytes at a time (a byte loop to each one mispredicted at every
    // cell's end: grade_export of the wide benchmark export took 0.63 s with it, 0.55 s with
    // this). A word's delimiter bytes get their top bit; past the read limit, the bytes loaded
    // are none.
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t spread = 0x0101010101010101ull * static_cast<unsigned char>(delim);
    auto delimiters = [&](const char* q) {
        std::uint64_t w = spread ^ kLow7;  // no byte equal to delim
        if (limit_ - q >= 8)
            std::memcpy(&w, q, 8);
        else if (q < limit_)
            std::memcpy(&w, q, static_cast<std::size_t>(limit_ - q));
        if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
        const std::uint64_t x = w ^ spread;
        return ~(((x & kLow7) + kLow7) | x | kLow7);
    };
    const char* word = row;
    std::uint64_t bits = limit_ ? delimiters(word) : 0;
    auto next_cell = [&](const char* q) {
        if (!limit_) {
            while (*q != delim) ++q;  // the row holds n_columns cells: a delimiter comes first
            return q + 1;
        }
        while (!bits) bits = delimiters(word += 8);
        const char* at = word + (std::countr_zero(bits) >> 3);
        bits &= bits - 1;
        return at + 1;
    };
    const char* p = row;
    std::uint32_t col = 0;
    std::size_t listed = 0;
    for (const auto& [column, slot] : loop_columns_) {
        for (; col < column; ++col) p = next_cell(p);
        while (listed < n && cells[listed].col < column) ++listed;
        LoopCell& c = loop_cells_[slot];
        if (listed < n && cells[listed].col == column) {
            const std::uint32_t k = slot / 2;
            c = {cells[listed].b, cells[listed].e,
                 missing_[(slot & 1) ? loops_.pv_sp[k].second : loops_.pv_sp[k].first] != 0};
        } else {
            c = {p, nullptr, false};
        }
    }
    for (std::size_t k = 0; k < loops_.pv_sp.size(); ++k)
        pv_values_[k] = loop_cell_value(loop_cells_[2 * k]);
    baseline_verdict(kind, t, rep, n_missing, member_missing,
                     [&](std::size_t k) { return loop_cell_value(loop_cells_[2 * k + 1]); });
}

std::optional<double> RecordProcessor::loop_cell_value(const LoopCell& c) {
    if (c.e) return c.missing ? std::nullopt : loop_value(CellRef{c.b, c.e, false});
    const char* end = c.b;
    unsigned decimals = 0;
    if (auto v = plain_decimal(c.b, decimal_, limit_, end, decimals)) return v;
    return loop_value(CellRef{c.b, end, false});
}

void RecordProcessor::plain_value(std::uint32_t col, double v) {
    const std::int32_t i = column_tag_[col];
    if (i < 0 || !std::isfinite(v)) return;
    const std::uint32_t id = st_.files[part_index_].tag_ids[static_cast<std::size_t>(i)];
    st_.health[id].add(plain_t_, v, layout_limits_[static_cast<std::size_t>(i)]);
    if (plain_extents_) plain_extents_[id].add(v);
}

void RecordProcessor::plain_value(std::uint32_t col, std::string_view text) {
    if (const auto v = to_double(text, decimal_)) plain_value(col, *v);
}

void RecordProcessor::plain_health(std::int64_t t, const char* row, const WideCell* cells,
                                   std::size_t n) {
    if (row == nullptr) {  // the caller hands the plain cells' values over
        plain_taken_ = true;
        plain_t_ = t;
        plain_extents_ = st_.bins.extents_at(t, st_.tags.size());
        return;
    }
    // Column by column: a listed cell was classified (and fed) already; a plain one is read
    // here, as classify would read it, without its text being looked at again.
    const std::uint32_t* ids = st_.files[part_index_].tag_ids.data();
    const char delim = layout_.delimiter;
    const auto columns = static_cast<std::uint32_t>(layout_.n_columns);
    TimeBins::Extent* extents = st_.bins.extents_at(t, st_.tags.size());
    const char* p = row;
    std::size_t next = 0;
    for (std::uint32_t col = 0; col < columns; ++col) {
        const char* end = p;
        const std::int32_t i = column_tag_[col];
        if (next < n && cells[next].col == col) {
            end = cells[next++].e;
        } else if (i < 0) {
            while (*end != delim && *end != '\n' && *end != '\r') ++end;
        } else {
            unsigned decimals = 0;
            TagHealth& health = st_.health[ids[i]];
            const ValueLimits& limits = layout_limits_[static_cast<std::size_t>(i)];
            std::optional<double> v = plain_decimal(p, decimal_, limit_, end, decimals);
            if (v && end - p <= 15) {
                unsigned zeros = 0;
                while (zeros < decimals && end[-1 - static_cast<std::ptrdiff_t>(zeros)] == '0')
                    ++zeros;
                health.add(t, *v, decimals_of_plain(*v, decimals, zeros), limits);
            } else if (v) {
                health.add(t, *v, limits);
            } else {  // over 19 digits or 22 decimals: the general parser
                v = to_double(std::string_view(p, static_cast<std::size_t>(end - p)), decimal_);
                if (v) health.add(t, *v, limits);
            }
            if (v && extents && std::isfinite(*v)) extents[ids[i]].add(*v);
        }
        p = end + 1;
    }
}

void RecordProcessor::flush_plain_bin() {
    if (!plain_bin_rows_) return;
    for (const std::uint32_t id : st_.files[part_index_].tag_ids)
        plain_bin_[id][TimeBins::GoodNumber] += static_cast<std::uint32_t>(plain_bin_rows_);
    plain_bin_rows_ = 0;
}
void RecordProcessor::flush_plain() {
    flush_plain_bin();
    if (!plain_rows_) return;
    const FilePart& part = st_.files[part_index_];
    for (const std::uint32_t id : part.tag_ids) {
        st_.tags[id].cells += plain_rows_;
        st_.tags[id].numbers += plain_rows_;
    }
    plain_rows_ = 0;
}

void RecordProcessor::baseline_row(Instant kind, std::int64_t t, const tz::WallResolution& rep,
                                   const CellRef* cells, std::size_t n, TimeBins::Counts* bin) {
    static const CellRef kEmpty{nullptr, nullptr, false};
    auto cell_at = [&](std::int64_t col) -> const CellRef& {
        return col >= 0 && static_cast<std::size_t>(col) < n ? cells[col] : kEmpty;
    };
    const FilePart& part = st_.files[part_index_];
    const std::size_t n_tags = layout_.tag_column.size();
    missing_.assign(n_tags, 0);
    std::size_t n_missing = 0;
    for (std::size_t i = 0; i < n_tags; ++i) {
        const std::int32_t q = layout_.quality_column[i];
        const std::uint32_t id = part.tag_ids[i];
        // Missing as the bins count it (empty, bad state, sentinel, bad quality): the rules
        // stay classify's.
        const std::uint64_t before = bin[id][TimeBins::OtherMissing] + bin[id][TimeBins::BadState];
        if (set_.health)
            aim_health(id, kind == Instant::Repeated ? rep.first_s : t, layout_limits_[i]);
        classify(st_.tags[id], cell_at(layout_.tag_column[i]),
                 q >= 0 && static_cast<std::size_t>(q) < n ? &cells[q] : nullptr, bin[id]);
        missing_[i] = bin[id][TimeBins::OtherMissing] + bin[id][TimeBins::BadState] != before;
        n_missing += missing_[i];
    }
    bool member_missing = false;
    for (std::uint32_t i : loops_.members) member_missing = member_missing || missing_[i];
    auto value = [&](std::uint32_t i) -> std::optional<double> {
        if (missing_[i]) return std::nullopt;
        return loop_value(cell_at(layout_.tag_column[i]));
    };
    for (std::size_t k = 0; k < loops_.pv_sp.size(); ++k)
        pv_values_[k] = value(loops_.pv_sp[k].first);
    baseline_verdict(kind, t, rep, n_missing, member_missing,
                     [&](std::size_t k) { return value(loops_.pv_sp[k].second); });
}

void RecordProcessor::baseline_record(Instant kind, std::int64_t t, const tz::WallResolution& rep,
                                      std::uint32_t id, const CellRef& cell,
                                      const TimeBins::Counts& bin, std::uint64_t before) {
    BaselineTrack& track = st_.baseline;
    RowTag r{id, bin[TimeBins::OtherMissing] + bin[TimeBins::BadState] == before, false, 0};
    if (r.present && track.wants_value(id, name_of_))
        if (const auto v = loop_value(cell)) {
            r.number = true;
            r.value = *v;
        }
    const bool clock = kind == Instant::Repeated || kind == Instant::Moved;
    track.record(kind == Instant::Repeated ? rep.first_s : t, clock, r, name_of_);
}

std::optional<double> RecordProcessor::loop_value(const CellRef& cell) {
    const std::string_view s = text_of(cell, scratch_);
    if (auto v = to_double(s, decimal_); v && std::isfinite(*v)) return v;
    const std::string_view plain = spreadsheet_number(s, decimal_, plain_scratch_);
    if (auto v = plain.empty() ? std::nullopt : to_double(plain, decimal_); v && std::isfinite(*v))
        return v;
    return std::nullopt;
}

template <class Sp>
void RecordProcessor::baseline_verdict(Instant kind, std::int64_t t, const tz::WallResolution& rep,
                                       std::size_t n_missing, bool member_missing, Sp&& sp_of) {
    const FilePart& part = st_.files[part_index_];
    const std::size_t n_tags = layout_.tag_column.size();
    // Every PV's range counts, whatever the row's verdict: the near-zero rule reads it.
    for (std::size_t k = 0; k < loops_.pv_sp.size(); ++k)
        if (pv_values_[k])
            st_.baseline.note_pv(part.tag_ids[loops_.pv_sp[k].first], *pv_values_[k]);
    if (kind == Instant::Repeated || kind == Instant::Moved) {
        st_.baseline.add(kind == Instant::Repeated ? rep.first_s : t, RowVerdict::Clock, {});
        return;
    }
    bool fails = n_missing * 20 > n_tags || member_missing;
    std::vector<BaselineTrack::Need> needs;
    for (std::size_t k = 0; k < loops_.pv_sp.size() && !fails; ++k) {
        const std::optional<double>& pv = pv_values_[k];
        const std::optional<double> sp = sp_of(k);
        if (!pv || !sp) {
            fails = true;  // a text where a number belongs: the loop cannot be judged
            break;
        }
        const double dev = std::fabs(*pv - *sp);
        if (dev * 20 <= std::fabs(*sp)) continue;
        needs.push_back(
            {part.tag_ids[loops_.pv_sp[k].first], std::max(std::fabs(*sp) * 100, dev * 20)});
    }
    const RowVerdict v = fails           ? RowVerdict::Fails
                         : needs.empty() ? RowVerdict::Qualifies
                                         : RowVerdict::Pending;
    st_.baseline.add(t, v, fails ? std::vector<BaselineTrack::Need>{} : std::move(needs));
}

void RecordProcessor::note_part_time(FilePart& part, std::int64_t t) {
    if (!part.any_time) {
        part.any_time = true;
        part.min_us = part.max_us = t;
        return;
    }
    part.min_us = std::min(part.min_us, t);
    part.max_us = std::max(part.max_us, t);
}

void process_record(PartialProfile::State& state, std::uint32_t part, std::string_view record,
                    std::uint64_t line) {
    std::string scratch;
    const auto cells = split_record(record, state.files[part].layout.delimiter, scratch);
    std::vector<CellRef> refs;
    refs.reserve(cells.size());
    for (const CellText& c : cells)
        refs.push_back({c.text.data(), c.text.data() + c.text.size(), c.quoted});
    // A whole record's line feeds all lie inside quotes.
    const auto quoted_lf =
        static_cast<std::uint64_t>(std::count(record.begin(), record.end(), '\n'));
    RecordProcessor(state, part)
        .process(refs.data(), refs.size(), refs.size(), record.size(), line, quoted_lf);
}

void close_tail(PartialProfile::State& state) {
    if (state.tail.length == 0 || state.files.empty()) return;
    const auto part = static_cast<std::uint32_t>(state.files.size() - 1);
    if (state.tail.length > kMaxRecordBytes) {
        state.note_quotes({part, state.tail_line}, state.tail.line_feeds, state.tail.length, false);
        ++state.oversized_rows;
        state.note_unparsed({part, state.tail_line});
    } else {
        process_record(state, part, state.tail.bytes, state.tail_line);
    }
    state.tail = {};
}

}  // namespace qorv_chemical_engineering_edge::export_profile
