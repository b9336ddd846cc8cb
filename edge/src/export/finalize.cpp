// From the merged scan state to the profile: the thirteen values, evidence, notes and digest;
// the seal over them is seal.cpp's.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <set>
#include <unordered_map>

#include "export/baseline.hpp"
#include "export/civil.hpp"
#include "export/encoding.hpp"
#include "export/seal.hpp"
#include "export/state.hpp"
#include "export/units.hpp"
#include "qorv_chemical_engineering_edge/hashing.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct TagMissing {
    std::uint64_t missing, text, quality;
};

TagMissing missing_of(const TagStats& t) {
    if (t.numbers > 0) {
        return {t.empty + t.bad_state + t.text + t.sentinel + t.number_bad_quality, t.text,
                t.number_bad_quality};
    }
    return {t.empty + t.bad_state + t.text_bad_quality, 0, t.text_bad_quality};
}

// Every text handed out goes through here, so each is valid UTF-8 (see text_out); the distinct
// texts read as Windows-1252 are counted.
struct TextsOut {
    Encoding encoding;
    std::set<std::string, std::less<>> decoded;
    std::string operator()(std::string_view raw, bool cut = false) {
        bool as_1252 = false;
        std::string text = text_out(raw, encoding, cut, &as_1252);
        if (as_1252 && decoded.find(raw) == decoded.end()) decoded.emplace(raw);
        return text;
    }
};

// The file's `encoding` fact: UTF-16 as its first bytes showed (or given); Windows-1252 when
// given, or when some text of the export was read so (texts are decided after the files are
// merged, so that is the export's evidence); else the UTF-8 the layout saw.
void encoding_fact(std::vector<ReadingFact>& facts, StreamEncoding stream, Encoding given,
                   bool windows_1252_read) {
    const bool utf16 = stream == StreamEncoding::Utf16LE || stream == StreamEncoding::Utf16BE;
    const Decided how = given != Encoding::Auto ? Decided::Given : Decided::Detected;
    if (given == Encoding::Windows1252 || (given == Encoding::Auto && !utf16 && windows_1252_read))
        set_fact(facts, "encoding", "windows-1252", how);
    else if (given != Encoding::Auto || utf16)
        set_fact(facts, "encoding", std::string(name(stream)), how);
}

}  // namespace

// A loop member's base and suffix: the name cut at its last separator (. _ - : / or a space)
// where the rest is a loop suffix. A parameter path's field (FIC1601/PID1/PV.CV, FIC101.PV.Value)
// is dropped first when what precedes it ends in a loop suffix; the base of a path is then the
// path without its last parameter (FIC1601/PID1). Suffixes in any case.
std::optional<std::pair<std::string_view, std::string_view>> loop_member(std::string_view name) {
    constexpr std::string_view kSuffixes[] = {"PV", "SP", "OP", "OUT", "MV", "MODE"};
    constexpr std::string_view kFields[] = {"CV", "Value", "F_CV"};
    constexpr std::string_view kSeparators = "._-:/ ";
    auto split =
        [&](std::string_view n) -> std::optional<std::pair<std::string_view, std::string_view>> {
        const std::size_t cut = n.find_last_of(kSeparators);
        if (cut == std::string_view::npos || cut == 0) return std::nullopt;
        const std::string_view suffix = n.substr(cut + 1);
        for (std::string_view s : kSuffixes)
            if (iequals(suffix, s)) return std::pair{n.substr(0, cut), s};
        return std::nullopt;
    };
    if (auto m = split(name)) return m;
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos) return std::nullopt;
    for (std::string_view f : kFields)
        if (iequals(name.substr(dot + 1), f)) return split(name.substr(0, dot));
    return std::nullopt;
}

namespace {

std::string lower_ascii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::vector<ControlLoop> find_loops(const std::vector<TagStats>& tags, TextsOut& out) {
    // Bases compare in any case; a loop is named by its smallest spelling.
    struct Base {
        std::string spelling;
        std::set<std::string> suffixes;
    };
    std::map<std::string, Base> bases;
    for (const TagStats& t : tags) {
        const auto m = loop_member(t.name);
        if (!m) continue;
        Base& b = bases[lower_ascii(m->first)];
        if (b.spelling.empty() || m->first < b.spelling) b.spelling = std::string(m->first);
        b.suffixes.insert(std::string(m->second));
    }
    std::vector<const Base*> found;
    for (const auto& [key, b] : bases)
        if (b.suffixes.size() >= 2) found.push_back(&b);
    std::sort(found.begin(), found.end(),
              [](const Base* a, const Base* b) { return a->spelling < b->spelling; });
    std::vector<ControlLoop> loops;
    for (const Base* b : found)
        loops.push_back({out(b->spelling), {b->suffixes.begin(), b->suffixes.end()}});
    return loops;
}

// The bins' kinds resolved by what each tag turned out to be (see missing_of).
void fill_availability(AvailabilityBins& a, const PartialProfile::State& s,
                       std::optional<std::int64_t> row_step) {
    const TimeBins& tb = s.bins;
    a.row_step_us = row_step;
    if (!tb.any) return;
    a.bin_us = TimeBins::kBaseUs << tb.level;
    a.start_us = tb.first * a.bin_us;
    a.bins = tb.rows.size();
    a.rows = tb.rows;
    a.complete = !tb.overflow;
    if (tb.overflow) return;
    a.counts.assign(s.tags.size() * a.bins * 3, 0);
    std::uint32_t* out = a.counts.data();
    for (std::size_t i = 0; i < s.tags.size(); ++i) {
        const bool numeric = s.tags[i].numbers > 0;
        for (std::size_t b = 0; b < a.bins; ++b, out += 3) {
            const TimeBins::Counts c = tb.at(b, i);
            out[0] = numeric ? c[TimeBins::GoodNumber] : c[TimeBins::GoodText];
            out[1] = c[TimeBins::OtherMissing] + (numeric ? c[TimeBins::GoodText] : 0);
            out[2] = c[TimeBins::BadState];
        }
    }
    if (!tb.values) return;
    a.low.assign(s.tags.size() * a.bins, std::numeric_limits<double>::quiet_NaN());
    a.high = a.low;
    for (std::size_t i = 0; i < s.tags.size(); ++i) {
        for (std::size_t b = 0; b < a.bins; ++b) {
            const TimeBins::Extent e = tb.extent(b, i);
            if (e.empty()) continue;
            a.low[i * a.bins + b] = e.lo;
            a.high[i * a.bins + b] = e.hi;
        }
    }
}

// How distinct dates (packed, read in one order) step: by a steady number of days (the sampling
// rule over their day numbers, with at least two steps), or by whole months on one day of the
// month (the same rule over their month numbers).
struct DateSteps {
    bool daily = false;
    bool monthly = false;
};
DateSteps date_steps(const std::vector<std::uint32_t>& packed, bool day_first) {
    std::vector<std::int64_t> days, months;
    std::set<unsigned> days_of_month;
    for (const std::uint32_t v : packed) {
        const unsigned year = v >> 8, a = (v >> 4) & 15, b = v & 15;
        const unsigned month = day_first ? b : a, day = day_first ? a : b;
        days.push_back(days_from_civil(static_cast<int>(year), month, day));
        months.push_back(static_cast<std::int64_t>(year) * 12 + month);
        days_of_month.insert(day);
    }
    std::sort(days.begin(), days.end());
    std::sort(months.begin(), months.end());
    const Sampling by_day = sampling(days);
    const Sampling by_month = sampling(months);
    return {by_day.steps >= 2 && by_day.regular,
            days_of_month.size() == 1 && by_month.steps >= 2 && by_month.regular};
}

std::string where(const PartialProfile::State& s, LineRef at) {
    return "line " + std::to_string(at.line + 1) + " of " + s.files[at.file].path;
}

// "a.csv lines 3, 4, 9; b.csv line 2"
std::string line_list(const PartialProfile::State& s, const std::vector<LineRef>& refs) {
    std::string out;
    for (std::size_t i = 0; i < refs.size(); ++i) {
        const bool same = i > 0 && refs[i].file == refs[i - 1].file;
        if (!same) {
            std::size_t n = 1;
            while (i + n < refs.size() && refs[i + n].file == refs[i].file) ++n;
            out += (i ? "; " : "") + s.files[refs[i].file].path + (n > 1 ? " lines " : " line ");
        } else {
            out += ", ";
        }
        out += std::to_string(refs[i].line + 1);
    }
    return out;
}

}  // namespace

DateOrder decide_date_order(const PartialProfile::State& s) {
    DateOrder o;
    const std::optional<bool>& given = s.settings->options.day_first;
    const DateEvidence& d = s.dates;
    if (given && !s.date_order_detected) {
        o.day_first = *given;
        o.given = true;
        return o;
    }
    constexpr std::string_view kSettle = "; pass day_first=True or day_first=False";
    if (d.day_only > 0 && d.month_only > 0)
        return {{},
                false,
                false,
                ProfileError{s.files[d.first_day_only->file].path,
                             "slash dates read both ways: " + where(s, *d.first_day_only) +
                                 " has a first field above 12 (day first) and " +
                                 where(s, *d.first_month_only) +
                                 " a second field above 12 (month first)" + std::string(kSettle)}};
    if (d.day_only > 0 || d.month_only > 0) {
        o.day_first = d.day_only > 0;
        return o;
    }
    if (!d.first_ambiguous) return o;  // no slash date, or none either order reads
    const bool same_either_way =
        !d.dates_overflow && std::all_of(d.dates.begin(), d.dates.end(), [](std::uint32_t v) {
            return ((v >> 4) & 15) == (v & 15);
        });
    if (same_either_way) {
        o.day_first = false;
        o.by_default = true;
        return o;
    }
    // One order steps by steady days, the other not. Dates a/b with b fixed read as steady days
    // one way and as months on one day the other: with one row a date, daily and monthly data
    // look alike, and only rows within a date (a sub-daily export) tell the daily reading.
    const DateSteps day = d.dates_overflow ? DateSteps{} : date_steps(d.dates, true);
    const DateSteps month = d.dates_overflow ? DateSteps{} : date_steps(d.dates, false);
    const bool one_row_a_date = d.ambiguous <= d.dates.size();
    const std::string first = " (the first on " + where(s, *d.first_ambiguous) + ")";
    const std::string& path = s.files[d.first_ambiguous->file].path;
    if (day.daily != month.daily) {
        const bool day_first = day.daily;
        if (!((day_first ? month.monthly : day.monthly) && one_row_a_date)) {
            o.day_first = day_first;
            return o;
        }
        o.refusal = ProfileError{path, "every slash date reads either way" + first +
                                           ", one row a date: daily one way, monthly the other" +
                                           std::string(kSettle)};
        return o;
    }
    o.refusal =
        ProfileError{path, "every slash date reads either way, day or month first" + first +
                               ", and " + (day.daily ? "both orders give" : "neither order gives") +
                               " a steady step in days between the dates" + std::string(kSettle)};
    return o;
}

std::span<const std::string_view> bad_state_texts() noexcept {
    return bad_state_list();
}

std::string format_instant(std::int64_t us) {
    std::int64_t s = us / kUsPerSecond;
    std::int64_t frac = us % kUsPerSecond;
    if (frac < 0) {
        frac += kUsPerSecond;
        --s;
    }
    std::int64_t days = s / 86400;
    std::int64_t sod = s % 86400;
    if (sod < 0) {
        sod += 86400;
        --days;
    }
    const CivilDate d = civil_from_days(days);
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lld",
                          static_cast<long long>(d.year), d.month, d.day,
                          static_cast<long long>(sod / 3600), static_cast<long long>(sod / 60 % 60),
                          static_cast<long long>(sod % 60));
    if (frac != 0)
        n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), ".%06lld",
                           static_cast<long long>(frac));
    return std::string(buf, static_cast<std::size_t>(n)) + "Z";
}

data_readiness::ReadinessProfile ExportProfile::readiness() const {
    data_readiness::ReadinessProfile r;
    r.n_tags = n_tags.value;
    r.n_rows = n_rows.value;
    r.baseline_present = baseline_present.value;
    r.license_cleared = license_cleared.value;
    r.missingness = missingness.value;
    r.unit_coverage = unit_coverage.value;
    r.duplicate_timestamps = duplicate_timestamps.value;
    r.time_span_hours = time_span_hours.value;
    r.sampling_regular = sampling_regular.value;
    r.has_controllers = has_controllers.value;
    r.has_maintenance = has_maintenance.value;
    r.has_batches = has_batches.value;
    r.has_lab_samples = has_lab_samples.value;
    return r;
}

Result<ExportProfile> PartialProfile::finalize(const DeclaredFields& fields) const& {
    PartialProfile copy(*this);
    return std::move(copy).finalize(fields);
}

// Finalising changes the state (the last row, the repeated hour), so the const form works on a
// copy; this one works in place: on a wide export the copy is the scan state's size again.
Result<ExportProfile> PartialProfile::finalize(const DeclaredFields& fields) && {
    State& s = *s_;
    if (!s.used || s.files.empty() || !s.settings) return ProfileError{"", "nothing was scanned"};
    ProfileOptions options = s.settings->options;
    options.declared = fields;
    // Pieces merged out of order can disagree (a long piece's clock note on a wide file);
    // nothing below indexes or expands a field before it is checked.
    if (std::string why = check_state(s); !why.empty())
        return ProfileError{"", "the partial profile is inconsistent: " + why};
    if (s.head_open)
        return ProfileError{s.files.front().path,
                            "the partial begins inside a file; merge it after the piece before it"};
    close_tail(s);
    const Layout layout = s.files.front().layout.layout;
    for (const FilePart& f : s.files)
        if (f.layout.layout != layout)
            return ProfileError{f.path, "the files mix the wide and the long layout"};
    // Paired records, each a tag's own time and value, are profiled as long records are.
    const bool is_long = layout != Layout::Wide;
    if (s.multiline_fields && !options.accept_multiline_fields) {
        const LineRef at = *s.first_multiline;
        return ProfileError{
            s.files[at.file].path,
            "line " + std::to_string(at.line + 1) + ": a quoted field opens in the row there and " +
                "runs on past " + std::to_string(s.first_multiline_lines) +
                " line ends, and lines inside it read as rows (" +
                std::to_string(s.multiline_fields) + " such field(s), " +
                std::to_string(s.multiline_lines) +
                " line ends inside them in all): a stray quote swallows the rows after it so. "
                "Pass accept_multiline_fields=True to read such fields as cells"};
    }

    // The day/month order: the scan must have read the order the dates decide.
    const DateOrder date_order = decide_date_order(s);
    if (date_order.refusal) return *date_order.refusal;
    const bool scanned_day_first = s.settings->syntax.day_first;
    if (date_order.day_first && *date_order.day_first != scanned_day_first)
        return ProfileError{
            s.files.front().path,
            std::string("the slash dates read ") +
                (*date_order.day_first ? "day first" : "month first") +
                " (as detected from them) but were scanned the other way; pass day_first=" +
                (*date_order.day_first ? "True" : "False")};
    if (s.date_order_detected) options.day_first.reset();  // as the caller gave it

    // Rows without a parsed timestamp: past 5% of the data rows the export is refused.
    // u / (p + u) > 1/20 is 19u > p; rows are bounded by bytes, far below where doubles round.
    const double data_rows =
        static_cast<double>(s.parsed_rows) + static_cast<double>(s.unparsed_rows);
    if (!options.accept_unparsed_rows &&
        19.0 * static_cast<double>(s.unparsed_rows) > static_cast<double>(s.parsed_rows)) {
        char share[32];
        std::snprintf(share, sizeof share, "%.1f%%",
                      100.0 * static_cast<double>(s.unparsed_rows) / data_rows);
        std::string hint;
        const DateEvidence& d = s.dates;
        if (!scanned_day_first && d.day_only > 0)
            hint = "; " + std::to_string(d.day_only) + " read only day first (" +
                   where(s, *d.first_day_only) +
                   " has a first field above 12): pass day_first=True";
        else if (scanned_day_first && d.month_only > 0)
            hint = "; " + std::to_string(d.month_only) + " read only month first (" +
                   where(s, *d.first_month_only) +
                   " has a second field above 12): pass day_first=False";
        return ProfileError{s.files[s.first_unparsed.front().file].path,
                            std::to_string(s.unparsed_rows) + " of " +
                                std::to_string(s.parsed_rows + s.unparsed_rows) + " data rows (" +
                                share +
                                ") have no timestamp that parses, over the limit of 5%: first at " +
                                line_list(s, s.first_unparsed) + hint +
                                ". Pass accept_unparsed_rows=True to profile the rows that parse"};
    }

    // Newest-first files: more steps between consecutive instants fall than rise. They are
    // resolved in time order, that is against the file's order.
    std::vector<bool> newest_first(s.files.size());
    for (std::size_t f = 0; f < s.files.size(); ++f) {
        newest_first[f] = s.files[f].falls > s.files[f].rises;
        std::vector<ReadingFact>& facts = s.files[f].layout.facts;
        set_fact(facts, "row_order", newest_first[f] ? "newest_first" : "oldest_first",
                 Decided::Detected);
        // One order for the export, stated on each file once any slash date was read.
        if (date_order.day_first && s.dates.slash_rows > 0)
            set_fact(facts, "date_order", *date_order.day_first ? "day_first" : "month_first",
                     date_order.given        ? Decided::Given
                     : date_order.by_default ? Decided::Default
                                             : Decided::Detected);
    }

    // Repeated wall times: per stream and change, in time order (file order, reversed in a
    // newest-first file), the first occurrence until a wall time fails to rise above the
    // highest seen; the second from there on.
    ExportProfile p;
    std::vector<std::size_t> order(s.repeated.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const RepeatedWall& x = s.repeated[a];
        const RepeatedWall& y = s.repeated[b];
        if (x.file != y.file) return x.file < y.file;
        if (x.stream != y.stream) return x.stream < y.stream;
        if (x.window_s != y.window_s) return x.window_s < y.window_s;
        if (x.line != y.line) return newest_first[x.file] ? x.line > y.line : x.line < y.line;
        return a < b;
    });
    for (std::size_t k = 0; k < order.size();) {
        const RepeatedWall& g = s.repeated[order[k]];
        std::int64_t highest = std::numeric_limits<std::int64_t>::min();
        bool second = false;
        for (; k < order.size(); ++k) {
            const RepeatedWall& w = s.repeated[order[k]];
            if (w.file != g.file || w.stream != g.stream || w.window_s != g.window_s) break;
            if (w.wall_us <= highest) second = true;
            highest = std::max(highest, w.wall_us);
            const std::int64_t t = second ? w.second_us : w.first_us;
            p.notes.repeated_hour_second += second;
            FilePart& part = s.files[w.file];
            part.min_us = part.any_time ? std::min(part.min_us, t) : t;
            part.max_us = part.any_time ? std::max(part.max_us, t) : t;
            part.any_time = true;
            s.rows.append(t);
            if (w.stream != kRowStream) s.tags[w.stream].axis.append(t);
        }
    }

    // From here on only counts and tag ids are read: drop what the scan kept for reading rows
    // and finding tags by name (on a wide export, about a hundred bytes a tag).
    s.tag_index = {};
    for (FilePart& f : s.files) {
        FileLayout& l = f.layout;
        l.tag_names = {};
        l.tag_column = {};
        l.quality_column = {};
        l.unit_row = {};
        l.header_units = {};
    }

    const AxisFacts rows = axis_facts(s.rows);
    const Sampling& row_sampling = rows.sampling;
    // A long or paired export's rows judged now that its tags are known, by the names its records
    // gave. A long export listing its records tag by tag has each instant in a row per tag: its
    // rows number at least twice its instants, and it has no rows of one instant to judge.
    bool by_tag = false;
    if (is_long && options.baseline_search != BaselineSearch::Off) {
        std::vector<std::string> names;
        names.reserve(s.tags.size());
        for (const TagStats& t : s.tags) names.push_back(t.name);
        s.baseline =
            std::move(s.baseline)
                .resolved(s.tags.size(), plan_loops(names).members,
                          [&names](std::uint32_t id) { return std::string_view(names[id]); });
        by_tag = layout == Layout::Long && row_sampling.distinct > 0 &&
                 s.baseline.rows() >= 2 * row_sampling.distinct;
    }

    p.layout = std::string(name(layout));
    p.options = options;
    p.unit_vocabulary = std::string(kUnitVocabulary);
    p.n_tags = {s.tags.size(), Provenance::Derived};
    p.n_rows = {is_long ? row_sampling.distinct : s.parsed_rows, Provenance::Derived};

    // A tag table's ids: a tag the export names by its id takes the table's name (and so its
    // unit below), as a SCADA history table's records name their tags.
    std::unordered_map<std::string_view, std::string_view> named_by_id;
    for (const TagUnit& t : options.tag_units)
        if (!t.id.empty()) named_by_id.emplace(t.id, t.tag);
    for (TagStats& t : s.tags)
        if (const auto it = named_by_id.find(trim(t.name)); it != named_by_id.end())
            t.name = std::string(it->second);

    // Units: the tag list's first, then the export's.
    std::map<std::string, std::string, std::less<>> listed;
    for (const TagUnit& t : options.tag_units) {
        const std::string_view unit = trim(t.unit);
        if (!unit.empty()) listed.emplace(std::string(trim(t.tag)), std::string(unit));
    }
    std::map<std::string, std::uint64_t> unknown;
    TextsOut out{options.encoding, {}};
    std::uint64_t missing_total = 0, cells_total = 0, dup_records = 0, recognised = 0;
    std::uint64_t judged = 0, judged_regular = 0;
    std::unordered_map<std::string, std::optional<std::string>, StringHash, std::equal_to<>>
        unit_memo;
    // Clock changes: a step back in time order, so a step forward in a newest-first file.
    std::vector<ClockCandidate> clock;
    for (const ClockCandidate& c : s.clock)
        if (!newest_first[c.at.file]) clock.push_back(c);
    for (const ClockCandidate& c : s.clock_rises)
        if (newest_first[c.at.file]) clock.push_back(c);
    std::sort(clock.begin(), clock.end(), by_position);
    p.tags.reserve(s.tags.size());
    for (std::size_t i = 0; i < s.tags.size(); ++i) {
        const TagStats& t = s.tags[i];
        TagEvidence e;
        // Names and units are decoded before the tag list is matched and the unit recognised.
        e.name = out(t.name);
        const auto l = listed.find(std::string_view(trim(e.name)));
        const std::string own = out(t.unit);
        const std::string& unit = l != listed.end() ? l->second : own;
        e.unit = unit;
        if (!unit.empty()) {
            // Wide exports repeat a handful of units over many tags: parse each text once.
            auto known = unit_memo.find(unit);
            if (known == unit_memo.end())
                known = unit_memo.emplace(unit, recognised_unit(unit)).first;
            if (const auto& dim = known->second) {
                e.unit_recognised = true;
                e.dimension = *dim;
                ++recognised;
            } else {
                ++unknown[e.unit];
            }
        }
        if (l != listed.end() && !own.empty() && own != unit)
            p.notes.unit_disagreements.push_back({e.name, e.unit, own});
        for (const std::string& raw : t.other_units)
            if (std::string other = out(raw); other != unit)
                p.notes.unit_disagreements.push_back({e.name, e.unit, std::move(other)});
        const TagMissing m = missing_of(t);
        e.numeric = t.numbers > 0;
        e.samples = t.cells;
        e.present = t.cells - m.missing;
        e.missing_empty = t.empty;
        e.missing_bad_state = t.bad_state;
        e.missing_text = m.text;
        e.missing_sentinel = t.sentinel;
        e.missing_quality = m.quality;
        e.uncertain = e.numeric ? t.uncertain : t.text_uncertain;
        e.censored = t.censored;
        p.notes.uncertain_samples += e.uncertain;
        p.notes.censored_samples += e.censored;
        missing_total += m.missing;
        cells_total += t.cells;
        if (is_long) {
            const AxisFacts ax = axis_facts(t.axis);
            const Sampling& ts = ax.sampling;
            dup_records += ax.size - ts.distinct;
            if (ax.size) {
                e.first_us = ax.lo;
                e.last_us = ax.hi;
            }
            e.modal_step_us = ts.modal;
            if (ts.distinct >= 3) {
                ++judged;
                judged_regular += ts.regular;
                e.regular = ts.regular;
            }
        }
        p.tags.push_back(std::move(e));
    }
    if (!is_long) {
        for (const FilePart& f : s.files) {
            if (!f.any_time) continue;
            for (std::uint32_t id : f.tag_ids) {
                TagEvidence& e = p.tags[id];
                e.first_us = e.first_us ? std::min(*e.first_us, f.min_us) : f.min_us;
                e.last_us = e.last_us ? std::max(*e.last_us, f.max_us) : f.max_us;
            }
        }
        for (TagEvidence& e : p.tags) e.regular = row_sampling.regular;
        dup_records = s.parsed_rows - row_sampling.distinct;
    }
    for (const auto& [text, count] : unknown) p.notes.unknown_units.push_back({text, count});

    const double records = static_cast<double>(s.parsed_rows);
    p.missingness = {
        cells_total ? static_cast<double>(missing_total) / static_cast<double>(cells_total) : kNaN,
        Provenance::Derived};
    p.unit_coverage = {s.tags.empty()
                           ? kNaN
                           : static_cast<double>(recognised) / static_cast<double>(s.tags.size()),
                       Provenance::Derived};
    p.duplicate_timestamps = {s.parsed_rows ? static_cast<double>(dup_records) / records : kNaN,
                              Provenance::Derived};
    p.time_span_hours = {rows.size == 0 ? kNaN : static_cast<double>(rows.hi - rows.lo) / 3.6e9,
                         Provenance::Derived};
    if (is_long) {
        p.sampling_regular = {judged == 0 || static_cast<double>(judged_regular) * 100.0 >=
                                                 static_cast<double>(judged) * 95.0,
                              judged == 0 ? Provenance::Default : Provenance::Derived};
    } else {
        p.sampling_regular = {row_sampling.regular,
                              row_sampling.steps < 2 ? Provenance::Default : Provenance::Derived};
    }
    p.notes.loops = find_loops(s.tags, out);
    p.has_controllers = {!p.notes.loops.empty(), Provenance::Inferred};
    if (options.health) {
        // A loop's set point and mode are states: held values are their nature, not a fault.
        std::vector<char> loop_state(s.tags.size(), 0);
        for (std::size_t i = 0; i < s.tags.size(); ++i) {
            const auto m = loop_member(s.tags[i].name);
            if (!m || (m->second != "SP" && m->second != "MODE")) continue;
            const std::string base = lower_ascii(m->first);
            for (const ControlLoop& l : p.notes.loops) loop_state[i] |= lower_ascii(l.base) == base;
        }
        fill_health(p, s.health, loop_state, is_long);
    }

    const DeclaredFields& d = options.declared;
    auto declared = [](const std::optional<bool>& v) {
        return v ? ProfileField<bool>{*v, Provenance::Declared}
                 : ProfileField<bool>{false, Provenance::Default};
    };
    p.license_cleared = declared(d.license_cleared);
    p.has_maintenance = declared(d.has_maintenance);
    p.has_batches = declared(d.has_batches);
    p.has_lab_samples = declared(d.has_lab_samples);
    p.baseline_present = declared(d.baseline_present);
    if (!d.baseline_present && (d.baseline_start_us || d.baseline_end_us)) {
        const std::int64_t lo =
            d.baseline_start_us.value_or(std::numeric_limits<std::int64_t>::min());
        const std::int64_t hi =
            d.baseline_end_us.value_or(std::numeric_limits<std::int64_t>::max());
        const std::vector<std::int64_t> axis = s.rows.sorted();  // a declared window: rare
        const auto from = std::lower_bound(axis.begin(), axis.end(), lo);
        const auto to = std::upper_bound(axis.begin(), axis.end(), hi);
        std::uint64_t in_window = 0;
        for (auto it = from; it < to; ++it) in_window += !is_long || it == from || *it != it[-1];
        p.baseline_present = {in_window >= 100, Provenance::Derived};
    }
    if (options.baseline_search != BaselineSearch::Off) {
        if (by_tag && options.baseline_search == BaselineSearch::Auto)
            return ProfileError{
                s.files.front().path,
                "baseline auto needs the records of each instant together, as rows; this long "
                "export lists its records tag by tag: give the window instead (baseline=(start, "
                "end))"};
        if (by_tag) {
            p.baseline_suggestion = BaselineSuggestion{};
            p.baseline_suggestion->why =
                "not looked for: this long export lists its records tag by tag, so it has no "
                "rows of one instant";
        } else {
            p.baseline_suggestion = find_baseline(s.baseline, row_sampling.modal, rows.lo, rows.hi,
                                                  options.baseline_breaks);
            p.baseline_inputs = ExportProfile::BaselineInputs{
                std::make_shared<const BaselineTrack>(std::move(s.baseline)), row_sampling.modal,
                rows.lo, rows.hi};
        }
        if (options.baseline_search == BaselineSearch::Auto && !d.baseline_present &&
            !d.baseline_start_us && !d.baseline_end_us)
            p.baseline_present = {p.baseline_suggestion->window.has_value(), Provenance::Suggested};
    }

    // Notes.
    const auto bad = bad_state_list();
    for (std::size_t k = 0; k < bad.size(); ++k)
        if (s.bad_state_counts[k])
            p.notes.bad_state_texts.push_back({std::string(bad[k]), s.bad_state_counts[k]});
    // Two texts may read alike once decoded (B0 and C2 B0 are both a degree sign): one entry.
    std::map<std::string, std::uint64_t> texts;
    for (const auto& [text, count] : s.texts)
        texts[out(text, text.size() == kMaxTextBytes)] += count;
    for (auto& [text, count] : texts) p.notes.other_texts.push_back({text, count});
    p.notes.windows_1252_texts = out.decoded.size();
    std::sort(p.notes.other_texts.begin(), p.notes.other_texts.end(),
              [](const TextCount& a, const TextCount& b) {
                  return a.count != b.count ? a.count > b.count : a.text < b.text;
              });
    p.notes.other_texts_complete = !s.texts_overflow;
    for (const FilePart& f : s.files) {
        p.notes.metadata_rows_skipped += f.layout.metadata_skipped;
        p.notes.unnamed_columns += f.layout.unnamed_columns;
        p.notes.title_lines_skipped += f.layout.title_lines;
    }
    p.notes.unparsed_rows = s.unparsed_rows;
    for (const LineRef& r : s.first_unparsed)
        p.notes.first_unparsed_rows.push_back({s.files[r.file].path, r.line + 1});
    for (const ClockCandidate& c : clock) {
        if (axis_repeats(c.stream == kRowStream ? s.rows : s.tags[c.stream].axis, c.us))
            p.notes.clock_changes.push_back({s.files[c.at.file].path, c.at.line + 1, c.us});
    }
    p.notes.nonexistent_times_moved = s.gap_moved;
    p.notes.blank_lines = s.blank_lines;
    p.notes.footer_rows = s.footer_rows;
    p.notes.ragged_rows = s.ragged_rows;
    p.notes.oversized_rows = s.oversized_rows;
    p.notes.multiline_fields = s.multiline_fields;
    p.notes.multiline_field_lines = s.multiline_lines;
    if (s.first_multiline)
        p.notes.first_multiline_field =
            RowRef{s.files[s.first_multiline->file].path, s.first_multiline->line + 1};
    p.notes.first_multiline_field_lines = s.first_multiline_lines;
    for (const FilePart& f : s.files) p.notes.utf16_replacements += f.utf16_replaced;

    // The input digest: per file, SHA-256 over its block digests; then over the file digests.
    hashing::Sha256 all;
    for (const FilePart& f : s.files) {
        hashing::Sha256 file;
        for (const auto& b : f.blocks) file.update(b.data(), b.size());
        const auto fd = file.finish();
        all.update(fd.data(), fd.size());
        p.notes.input_digest_complete = p.notes.input_digest_complete && f.digest_complete;
        p.files.push_back({f.path, f.bytes, std::string(name(f.layout.layout)), f.layout.delimiter,
                           f.data_rows, f.layout.facts});
        // A tag list's units stand over the file's own: it heads the file's unit sources.
        if (!listed.empty()) {
            std::vector<ReadingFact>& reading = p.files.back().reading;
            for (ReadingFact& r : reading)
                if (r.name == "unit_source") {
                    r.value = r.value == "none" ? "tag list" : "tag list, " + r.value;
                    r.how = Decided::Given;
                }
        }
        encoding_fact(p.files.back().reading, static_cast<StreamEncoding>(f.encoding),
                      options.encoding, !out.decoded.empty());
    }
    p.input_digest = hashing::to_hex(all.finish());
    const tz::Zone utc = tz::Zone::utc();
    if (s.zone_walls && rows.size) p.zone_walls = std::pair{rows.lo, rows.hi};
    p.seal = seal_of(p, s.settings ? s.settings->zone : utc,
                     p.zone_walls ? std::optional(ZoneSpan{rows.lo, rows.hi}) : std::nullopt);
    fill_availability(p.availability, s, row_sampling.modal);
    return p;
}

}  // namespace qorv_chemical_engineering_edge::export_profile
