// Reading an export's opening bytes: BOM, delimiter, header, layout, metadata rows.
#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>

#include "export/encoding.hpp"
#include "export/records.hpp"
#include "export/state.hpp"
#include "export/tokenize.hpp"
#include "export/units.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr int kMaxMetadataRows = 10;

constexpr std::array<std::string_view, 10> kTagNames = {
    "tag",    "tagname", "tag_name", "name",      "tagid",
    "tag_id", "tagpath", "tag_path", "pointname", "point_name"};
constexpr std::array<std::string_view, 11> kTimeNames = {
    "timestamp",  "time",       "datetime",  "date",      "t_stamp",  "ts",
    "time_stamp", "time stamp", "date time", "date/time", "date_time"};
constexpr std::array<std::string_view, 2> kValueNames = {"value", "val"};
// A long table's other value columns: text beside the number, or one column per type.
constexpr std::array<std::string_view, 16> kMoreValueNames = {
    "vvalue",      "stringvalue",  "string_value", "strvalue",  "str_value",  "textvalue",
    "text_value",  "value_string", "intvalue",     "int_value", "floatvalue", "float_value",
    "doublevalue", "double_value", "datevalue",    "date_value"};
constexpr std::array<std::string_view, 7> kQualityNames = {
    "quality",     "status",        "statuscode",    "status_code",
    "status code", "dataintegrity", "data_integrity"};
constexpr std::array<std::string_view, 5> kUnitNames = {"unit", "units", "eu", "uom",
                                                        "engineering_units"};
// A time's milliseconds in a column of their own.
constexpr std::array<std::string_view, 5> kMillisecondNames = {"milliseconds", "millisecond", "ms",
                                                               "msec", "millisec"};
// A leading column numbering the rows.
constexpr std::array<std::string_view, 9> kRowNumberNames = {"#",     "no", "no.",  "nr",    "row",
                                                             "index", "n",  "line", "sample"};
// Paired headers: "TAG Time", "TAG Value", "TAG Quality", "TAG Annotation" (space . _ between).
constexpr std::array<std::string_view, 2> kPairTimeWords = {"time", "timestamp"};
constexpr std::array<std::string_view, 2> kPairValueWords = {"value", "val"};
constexpr std::array<std::string_view, 2> kPairQualityWords = {"quality", "status"};
constexpr std::array<std::string_view, 3> kPairNoteWords = {"annotation", "annotations", "comment"};
constexpr std::array<std::string_view, 6> kQualitySuffixes = {" quality", ".quality", "_quality",
                                                              " status",  ".status",  "_status"};

template <std::size_t N>
bool one_of(std::string_view s, const std::array<std::string_view, N>& names) {
    return std::any_of(names.begin(), names.end(),
                       [s](std::string_view n) { return iequals(s, n); });
}

template <std::size_t N>
std::int32_t find_column(const std::vector<std::string>& header,
                         const std::array<std::string_view, N>& names) {
    for (std::size_t j = 0; j < header.size(); ++j)
        if (one_of(header[j], names)) return static_cast<std::int32_t>(j);
    return -1;
}

// The end of the record starting at `from` (the offset of its line feed), or npos.
std::size_t record_end(std::string_view b, std::size_t from) {
    bool inside = false;
    for (std::size_t i = from; i < b.size(); ++i) {
        if (b[i] == '"')
            inside = !inside;
        else if (b[i] == '\n' && !inside)
            return i;
    }
    return std::string_view::npos;
}

char sniff_delimiter(std::string_view header) {
    constexpr char kCandidates[4] = {',', ';', '\t', '|'};
    std::size_t counts[4] = {};
    bool inside = false;
    for (char c : header) {
        if (c == '"') inside = !inside;
        if (inside) continue;
        for (int k = 0; k < 4; ++k) counts[k] += c == kCandidates[k];
    }
    int best = 0;
    for (int k = 1; k < 4; ++k)
        if (counts[k] > counts[best]) best = k;
    return kCandidates[best];
}

std::string_view strip_cr(std::string_view line) {
    return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

std::vector<std::string> cell_texts(std::string_view record, char delim) {
    std::string scratch, unq;
    std::vector<std::string> out;
    for (const CellText& c : split_record(record, delim, scratch))
        out.emplace_back(unquote(c.text, c.quoted, unq));
    return out;
}

bool fail(std::string* error, std::string text) {
    *error = std::move(text);
    return false;
}

}  // namespace

std::vector<CellText> split_record(std::string_view record, char delimiter, std::string& scratch) {
    struct Sink {
        std::vector<CellText> cells;
        void cell(const char* b, const char* e, bool quoted) {
            cells.push_back({std::string_view(b, static_cast<std::size_t>(e - b)), quoted});
        }
        void record_end(const char*, std::uint64_t) {}
    } sink;
    scratch.assign(record);
    scratch.push_back('\n');
    TokenizerState st;
    tokenize(scratch.data(), scratch.size(), delimiter, st, sink);
    if (!sink.cells.empty()) {
        std::string_view& last = sink.cells.back().text;
        if (!last.empty() && last.back() == '\r') last.remove_suffix(1);
    }
    return std::move(sink.cells);
}

std::optional<OpeningSample> sample_window(std::string_view bytes, std::size_t from,
                                           std::uint64_t line, char delimiter, bool at_end) {
    // The window is the records that end within kSampleBytes of `from`, at most kSampleRows of
    // them: it never waits on a long row's end, only on kSampleBytes more bytes.
    const std::size_t limit = std::min(bytes.size(), from + kSampleBytes);
    std::size_t at = from, records = 0;
    while (records < kSampleRows && at < limit) {
        const std::size_t end = record_end(bytes.substr(0, limit), at);
        if (end == std::string_view::npos) break;
        records += end > at && !(end == at + 1 && bytes[at] == '\r');
        at = end + 1;
    }
    if (at_end && records < kSampleRows && limit == bytes.size()) at = bytes.size();
    // Short of the window with more to come: wait, so every reader of the opening sees one sample.
    if (!at_end && records < kSampleRows && bytes.size() < from + kSampleBytes) return std::nullopt;
    return OpeningSample{bytes.substr(from, at - from), line, delimiter};
}

std::vector<SampleRow> OpeningSample::rows() const {
    std::vector<SampleRow> out;
    std::string scratch, unq;
    std::uint64_t at_line = line;
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t end = record_end(bytes, at);
        if (end == std::string_view::npos) end = bytes.size();
        const std::string_view record = strip_cr(bytes.substr(at, end - at));
        if (!record.empty()) {
            SampleRow row;
            row.line = at_line;
            for (const CellText& c : split_record(record, delimiter, scratch))
                row.cells.emplace_back(unquote(c.text, c.quoted, unq));
            out.push_back(std::move(row));
        }
        at_line += 1 + static_cast<std::uint64_t>(std::count(record.begin(), record.end(), '\n'));
        at = end + 1;
    }
    return out;
}

namespace {

// The file's quality convention, stated as a fact when the file has quality columns or one is
// given: the option, a declared good list, or decided from the quality columns' names and their
// cells in the sample. False with *error set when names and values contradict.
bool settle_quality(FileLayout& L, const std::vector<std::string>& header,
                    const OpeningSample& sample, const ProfileOptions& o, std::string* error) {
    std::vector<std::int32_t> columns;
    if (L.layout == Layout::Long) {
        if (L.quality_col >= 0) columns.push_back(L.quality_col);
    } else {
        for (std::int32_t q : L.quality_column)
            if (q >= 0) columns.push_back(q);
        std::sort(columns.begin(), columns.end());
        columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
    }
    if (!o.good_quality.empty()) {
        if (!columns.empty())
            set_fact(L.facts, "quality_convention", "good_quality", Decided::Given);
        return true;
    }
    if (o.quality_convention != QualityConvention::Auto) {
        L.quality_convention = o.quality_convention;
        set_fact(L.facts, "quality_convention", std::string(name(o.quality_convention)),
                 Decided::Given);
        return true;
    }
    if (columns.empty()) return true;
    // Split only here: most exports have no quality column, and every piece reads the opening.
    const std::vector<SampleRow> rows = sample.rows();
    std::vector<std::string_view> names, values;
    for (std::int32_t q : columns) names.push_back(header[static_cast<std::size_t>(q)]);
    for (const SampleRow& row : rows)
        for (std::int32_t q : columns)
            if (static_cast<std::size_t>(q) < row.cells.size() &&
                !row.cells[static_cast<std::size_t>(q)].empty())
                values.push_back(row.cells[static_cast<std::size_t>(q)]);
    const bool sibling = L.layout == Layout::Long &&
                         std::any_of(header.begin(), header.end(), is_quality_detail_name);
    QualityDecision d = decide_quality(names, sibling, values);
    if (!d.fault.empty()) {
        const std::size_t at = static_cast<std::size_t>(columns.front());
        return fail(error, "quality column \"" + header[at] + "\" (" +
                               std::to_string(values.size()) + " values in the first " +
                               std::to_string(rows.size()) + " rows): " + d.fault);
    }
    L.quality_convention = d.convention;
    set_fact(L.facts, "quality_convention", std::string(name(d.convention)),
             values.empty() ? Decided::Default : Decided::Detected);
    return true;
}

}  // namespace

bool settle_from_sample(FileLayout& layout, const std::vector<std::string>& header,
                        const OpeningSample& sample, const ScanSettings& settings,
                        std::string* error) {
    return settle_quality(layout, header, sample, settings.options, error);
}

namespace {

// ---- Column roles: which column is time, tag, value, quality --------------------------------

// The rows under the header that roles are decided from: up to and including the first row
// holding a number or a timestamp (in text, or in the format given), at most the 11 a first
// data row may lie in. The first data row is never above that row, and a range starts past the
// first data row, so every piece of a file (and a range's opening) holds these rows and decides
// alike: roles depend on no more of the file than its layout did before.
struct Sample {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::uint64_t> lines;  // 1-based line of each row
};

bool ends_sample(const std::vector<std::string>& row, const TimeSyntax& syntax) {
    for (const std::string& c : row) {
        if (c.empty()) continue;
        ParsedTime pt;
        if (is_number(c, syntax.decimal) || parse_timestamp(c, syntax, pt) ||
            parse_timestamp(c, {TimestampFormat::Auto, !syntax.day_first, syntax.decimal}, pt))
            return true;
    }
    return false;
}

bool is_digits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// An integer as a row number or tag id is written: an optional sign, then digits.
std::optional<std::int64_t> integer_of(std::string_view s) {
    if (!s.empty() && s[0] == '-') {
        const auto v = integer_of(s.substr(1));
        return v ? std::optional<std::int64_t>(-*v) : std::nullopt;
    }
    if (!is_digits(s) || s.size() > 18) return std::nullopt;
    std::int64_t v = 0;
    for (char c : s) v = v * 10 + (c - '0');
    return v;
}

// A clock time alone: h:mm[:ss[.fff]].
bool is_clock(std::string_view s) {
    std::size_t i = 0;
    auto digits = [&](std::size_t lo, std::size_t hi) {
        const std::size_t b = i;
        while (i < s.size() && i - b < hi && s[i] >= '0' && s[i] <= '9') ++i;
        return i - b >= lo;
    };
    if (!digits(1, 2) || i >= s.size() || s[i++] != ':' || !digits(2, 2)) return false;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!digits(2, 2)) return false;
        if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
            ++i;
            if (!digits(1, 9)) return false;
        }
    }
    return i == s.size();
}

// What the sample's last row (its first holding a number or a timestamp) shows of a column.
struct ColumnLook {
    bool filled = false;     // a cell there at all
    bool stamp = false;      // a date and time in text (either day order)
    bool date_only = false;  // of those, a date without a clock time
    bool clock = false;      // a clock time alone
    bool integer = false;
    std::int64_t value = 0;  // the integer
    std::size_t digits = 0;  // its length in digits
    std::string first;       // the cell
    std::uint64_t first_line = 0;
    bool time_column() const { return stamp; }
    bool integer_column() const { return integer; }
    bool milliseconds() const { return integer && value >= 0 && value <= 999; }
};

std::vector<ColumnLook> look_at(const Sample& sample, std::size_t columns, bool day_first) {
    std::vector<ColumnLook> looks(columns);
    if (sample.rows.empty()) return looks;
    const auto& row = sample.rows.back();
    for (std::size_t j = 0; j < columns && j < row.size(); ++j) {
        const std::string_view c = row[j];
        ColumnLook& k = looks[j];
        if (c.empty()) continue;
        k.filled = true;
        k.first = c;
        k.first_line = sample.lines.back();
        ParsedTime pt;
        k.stamp = parse_timestamp(c, {TimestampFormat::Auto, day_first, '.'}, pt) ||
                  parse_timestamp(c, {TimestampFormat::Auto, !day_first, '.'}, pt);
        k.date_only = k.stamp && c.find(':') == std::string_view::npos;
        k.clock = is_clock(c);
        if (const auto v = integer_of(c)) {
            k.integer = true;
            k.value = *v;
            k.digits = c.size() - (c[0] == '-');
        }
    }
    return looks;
}

std::string quoted(std::string_view s) {
    std::string out = "'";
    out.append(s.substr(0, 40));
    if (s.size() > 40) out.append("...");
    return out + "'";
}

// Splits "TAG Time" into TAG and the word, for the words given (space . _ or - before it).
template <std::size_t N>
std::string_view base_before(std::string_view h, const std::array<std::string_view, N>& words) {
    for (std::string_view w : words) {
        if (h.size() <= w.size() + 1) continue;
        const std::size_t cut = h.size() - w.size();
        const char sep = h[cut - 1];
        if ((sep == ' ' || sep == '.' || sep == '_' || sep == '-') && iequals(h.substr(cut), w))
            return trim(h.substr(0, cut - 1));
    }
    return {};
}

// A paired header: each tag's time column beside its value column, optionally a quality or
// annotation column; as `Time, TAG1, Time, TAG2`, `TAG1 Time, TAG1 Value, ...`, or a row of
// tag names over a row of `Time, Value, ...`. Groups in column order.
struct PairedGroups {
    std::vector<std::string> names;
    std::vector<std::uint32_t> time, value;
    std::vector<std::int32_t> quality;
    bool second_header = false;  // the names row stands over a Time/Value row
};

// Groups where each starts at a time column and holds one value column, then quality and
// annotation columns only; `role(j)` tells a column: 't' time, 'q' quality, 'a' annotation,
// 'v' value.
template <class Role, class Name>
std::optional<PairedGroups> groups_of(std::size_t columns, Role role, Name name_of) {
    PairedGroups g;
    for (std::size_t j = 0; j < columns;) {
        if (role(j) != 't' || j + 1 >= columns || role(j + 1) != 'v') return std::nullopt;
        std::string name = name_of(j);
        if (name.empty()) return std::nullopt;
        g.names.push_back(std::move(name));
        g.time.push_back(static_cast<std::uint32_t>(j));
        g.value.push_back(static_cast<std::uint32_t>(j + 1));
        g.quality.push_back(-1);
        j += 2;
        for (; j < columns && (role(j) == 'q' || role(j) == 'a'); ++j)
            if (role(j) == 'q' && g.quality.back() < 0)
                g.quality.back() = static_cast<std::int32_t>(j);
    }
    if (g.names.empty()) return std::nullopt;
    return g;
}

std::optional<PairedGroups> paired_groups(const std::vector<std::string>& header,
                                          const Sample& sample,
                                          const std::vector<ColumnLook>& looks) {
    std::size_t columns = header.size();
    while (columns > 0 && header[columns - 1].empty() &&
           (sample.rows.empty() || sample.rows[0].size() < columns ||
            sample.rows[0][columns - 1].empty()))
        --columns;  // a trailing delimiter
    // `Time, TAG1, Time, TAG2`: two or more time columns, each holding timestamps.
    std::size_t named_times = 0;
    for (std::size_t j = 0; j < columns; ++j) named_times += one_of(header[j], kTimeNames);
    if (named_times >= 2) {
        auto g = groups_of(
            columns,
            [&](std::size_t j) {
                if (one_of(header[j], kTimeNames)) return looks[j].stamp ? 't' : '?';
                if (one_of(header[j], kPairQualityWords)) return 'q';
                if (one_of(header[j], kPairNoteWords)) return 'a';
                if (j > 0 && (!base_before(header[j], kPairQualityWords).empty())) return 'q';
                if (j > 0 && (!base_before(header[j], kPairNoteWords).empty())) return 'a';
                return header[j].empty() ? '?' : 'v';
            },
            [&](std::size_t j) { return header[j + 1]; });
        if (g) return g;
    }
    // `TAG1 Time, TAG1 Value, ...`: every column a tag's time, value, quality or annotation.
    {
        auto g = groups_of(
            columns,
            [&](std::size_t j) {
                const std::string_view h = header[j];
                if (!base_before(h, kPairTimeWords).empty()) return 't';
                if (!base_before(h, kPairValueWords).empty()) return 'v';
                if (!base_before(h, kPairQualityWords).empty()) return 'q';
                if (!base_before(h, kPairNoteWords).empty()) return 'a';
                return '?';
            },
            [&](std::size_t j) {
                const std::string_view t = base_before(header[j], kPairTimeWords);
                const std::string_view v = base_before(header[j + 1], kPairValueWords);
                return iequals(t, v) ? std::string(v) : std::string();
            });
        if (g) return g;
    }
    // A row of tag names over a row of `Time, Value, ...`.
    if (!sample.rows.empty()) {
        const std::vector<std::string>& words = sample.rows[0];
        std::size_t width = words.size();
        while (width > 0 && words[width - 1].empty()) --width;
        std::size_t times = 0;
        for (std::size_t j = 0; j < width; ++j) times += one_of(words[j], kTimeNames);
        if (times >= 1 && width >= 2) {
            auto g = groups_of(
                width,
                [&](std::size_t j) {
                    const std::string_view w = words[j];
                    if (one_of(w, kTimeNames)) return 't';
                    if (one_of(w, kPairValueWords)) return 'v';
                    if (one_of(w, kPairQualityWords)) return 'q';
                    if (one_of(w, kPairNoteWords)) return 'a';
                    return '?';
                },
                [&](std::size_t j) {
                    const std::string& a = j < header.size() ? header[j] : std::string();
                    const std::string& b = j + 1 < header.size() ? header[j + 1] : std::string();
                    return a.empty() ? b : a;
                });
            if (g) {
                g->second_header = true;
                return g;
            }
        }
    }
    return std::nullopt;
}

// The reading facts of the column roles: the time column(s), the format read, and the tag,
// value and quality columns by their header names.
void state_roles(FileLayout& L, const std::vector<std::string>& header, Decided time_how,
                 TimestampFormat given_format) {
    // A wide header may name a quality column per tag: the first few stand for them all.
    auto named = [&](auto first, auto last) {
        std::string out;
        std::size_t n = 0;
        for (auto it = first; it != last; ++it, ++n) {
            if (n == 8) {
                out += ", ... (" + std::to_string(last - first) + " columns)";
                break;
            }
            const auto j = static_cast<std::size_t>(*it);
            if (!out.empty()) out += ", ";
            out += j < header.size() ? header[j] : std::string();
        }
        return out;
    };
    std::vector<std::int64_t> times;
    if (L.layout == Layout::Paired)
        times.assign(L.pair_time_column.begin(), L.pair_time_column.end());
    else
        times.push_back(L.time_col);
    if (L.time_col2 >= 0) times.push_back(L.time_col2);
    std::string time_text = named(times.begin(), times.end());
    if (L.time_join == TimeJoin::Milliseconds) time_text += " (milliseconds)";
    if (L.time_join == TimeJoin::Clock) time_text += " (date, clock time)";
    set_fact(L.facts, "time_columns", std::move(time_text), time_how);
    const TimestampFormat format =
        L.time_format != TimestampFormat::Auto ? L.time_format : given_format;
    set_fact(L.facts, "timestamp_format", std::string(name(format)),
             given_format != TimestampFormat::Auto    ? Decided::Given
             : L.time_format != TimestampFormat::Auto ? Decided::Detected
                                                      : Decided::Default);
    std::vector<std::int64_t> values, qualities;
    if (L.layout == Layout::Long) {
        set_fact(L.facts, "tag_column", named(&L.tag_col, &L.tag_col + 1), Decided::Detected);
        values.push_back(L.value_col);
        values.insert(values.end(), L.more_value_cols.begin(), L.more_value_cols.end());
        if (L.quality_col >= 0) qualities.push_back(L.quality_col);
    } else {
        if (L.layout == Layout::Paired) values.assign(L.tag_column.begin(), L.tag_column.end());
        for (std::int32_t q : L.quality_column)
            if (q >= 0) qualities.push_back(q);
    }
    if (!values.empty())
        set_fact(L.facts, "value_columns", named(values.begin(), values.end()), Decided::Detected);
    if (!qualities.empty())
        set_fact(L.facts, "quality_columns", named(qualities.begin(), qualities.end()),
                 Decided::Detected);
}

// The columns `timestamp_columns` names, or why not.
std::optional<std::vector<std::int32_t>> named_columns(const std::vector<std::string>& header,
                                                       const std::vector<std::string>& names,
                                                       std::string* error) {
    std::vector<std::int32_t> cols;
    for (const std::string& n : names) {
        std::int32_t found = -1;
        for (std::size_t j = 0; j < header.size() && found < 0; ++j)
            if (iequals(trim(header[j]), trim(n))) found = static_cast<std::int32_t>(j);
        if (found < 0) {
            std::string shown;
            for (std::size_t j = 0; j < header.size() && j < 12; ++j)
                shown += (j ? ", " : "") + quoted(header[j]);
            fail(error, "timestamp_columns names " + quoted(n) +
                            ", which the header does not hold (it reads " + shown + ")");
            return std::nullopt;
        }
        cols.push_back(found);
    }
    if (cols.size() == 2 && cols[0] == cols[1]) {
        fail(error, "timestamp_columns names the column " + quoted(names[0]) + " twice");
        return std::nullopt;
    }
    return cols;
}

// How a second time column joins the first: its milliseconds, or the clock time of its date.
TimeJoin join_of(const std::string& header, const ColumnLook& look) {
    if (one_of(header, kMillisecondNames) || look.milliseconds()) return TimeJoin::Milliseconds;
    return TimeJoin::Clock;
}

// The epoch format a time column's integers show: 10 digits seconds, 13 milliseconds.
TimestampFormat epoch_of(const ColumnLook& look) {
    if (!look.integer || look.value < 0) return TimestampFormat::Auto;
    if (look.digits == 10) return TimestampFormat::UnixSeconds;
    if (look.digits == 13) return TimestampFormat::UnixMilliseconds;
    return TimestampFormat::Auto;
}

// A title block's "Key:" line: its first cell ends with ':'.
bool key_line(const std::vector<CellText>& cells, std::string& unq) {
    if (cells.empty()) return false;
    const std::string_view first = unquote(cells[0].text, cells[0].quoted, unq);
    return !first.empty() && first.back() == ':';
}

// A title line's cells: at most one text, in the first cell, or a first cell ending with ':'.
bool title_cells(const std::vector<std::string>& cells) {
    std::size_t filled = 0;
    for (const std::string& c : cells) filled += !c.empty();
    const bool first = !cells.empty() && !cells[0].empty();
    return (filled <= 1 && (filled == 0 || first)) || (first && cells[0].back() == ':');
}

// What a header's roles came to: fitting, not fitting the options (another record may be the
// header), or refused for weak evidence (when this record is the header).
enum class Roles : std::uint8_t { Fit, Misfit, Refused };

// Which column holds what: the layout, the time, tag, value and quality columns, decided from
// the header and the sample under it (`header_no` its 1-based line). `names_row`: a paired
// header's Time/Value row stands under it.
Roles column_roles(const std::vector<std::string>& header_cells, const Sample& sample,
                   std::uint64_t header_no, const ScanSettings& settings, FileLayout& L,
                   bool& names_row, std::string* error) {
    const ProfileOptions& o = settings.options;
    // A quote left open leaves no cell; roles are still decided over one, as the scan reads one.
    std::vector<std::string> header = header_cells;
    if (header.empty()) header.emplace_back();
    const std::vector<ColumnLook> looks =
        look_at(sample, header.size(), o.day_first.value_or(false));
    std::vector<std::int32_t> given;
    if (!o.timestamp_columns.empty()) {
        auto named = named_columns(header, o.timestamp_columns, error);
        if (!named) return Roles::Misfit;
        given = std::move(*named);
    }
    auto column_name = [&](std::int32_t j) {
        return quoted(header[static_cast<std::size_t>(j)]) + " (column " + std::to_string(j + 1) +
               ")";
    };

    const std::int32_t tag_col = find_column(header, kTagNames);
    const std::int32_t named_time = find_column(header, kTimeNames);
    std::int32_t value_col = find_column(header, kValueNames);
    std::vector<std::int32_t> more_values;
    for (std::size_t j = 0; j < header.size(); ++j)
        if (one_of(header[j], kMoreValueNames)) more_values.push_back(static_cast<std::int32_t>(j));
    if (value_col < 0 && !more_values.empty()) {
        value_col = more_values.front();
        more_values.erase(more_values.begin());
    }
    const bool long_ok = tag_col >= 0 && (named_time >= 0 || !given.empty()) && value_col >= 0;
    if (o.layout == Layout::Long && !long_ok) {
        fail(error, "the header names no tag, timestamp and value columns for the long layout");
        return Roles::Misfit;
    }
    std::optional<PairedGroups> groups;
    if (o.layout == Layout::Paired || (o.layout == Layout::Auto && !long_ok))
        groups = paired_groups(header, sample, looks);
    if (o.layout == Layout::Paired && !groups) {
        fail(error,
             "layout='paired' was given, but the header shows no tag whose time column stands "
             "beside its value column (as 'Time, TAG1, Time, TAG2', 'TAG1 Time, TAG1 Value' or a "
             "row of tag names over 'Time, Value')");
        return Roles::Misfit;
    }
    L.layout = o.layout != Layout::Auto ? o.layout
               : long_ok                ? Layout::Long
               : groups                 ? Layout::Paired
                                        : Layout::Wide;
    set_fact(L.facts, "layout", std::string(name(L.layout)),
             o.layout == Layout::Auto ? Decided::Detected : Decided::Given);
    const bool stated = !given.empty() || o.layout != Layout::Auto;
    Decided time_how = given.empty() ? Decided::Detected : Decided::Given;
    auto use_time = [&](const std::vector<std::int32_t>& cols) {
        L.time_col = cols[0];
        if (cols.size() == 2) {
            L.time_col2 = cols[1];
            const auto j = static_cast<std::size_t>(cols[1]);
            L.time_join = join_of(header[j], looks[j]);
        }
    };
    // A count of seconds or days from an epoch needs a column that counts them: small integers
    // decode to the epoch's first weeks and are row numbers or ids, not times.
    auto small_epoch = [&](std::int32_t col) {
        const TimestampFormat f =
            L.time_format != TimestampFormat::Auto ? L.time_format : o.timestamp_format;
        const ColumnLook& k = looks[static_cast<std::size_t>(col)];
        if (f == TimestampFormat::Auto || !k.integer_column()) return false;
        const std::int64_t year = f == TimestampFormat::ExcelSerial ? 366
                                  : f == TimestampFormat::UnixSeconds
                                      ? 31'536'000
                                      : std::int64_t{31'536'000'000};
        if (k.value >= year) return false;
        fail(error, "the time column " + column_name(col) + " holds small integers (" +
                        std::to_string(k.value) + " on line " + std::to_string(k.first_line) +
                        "), which as timestamp_format='" + std::string(name(f)) +
                        "' decode to the epoch's first year: they read " +
                        "as row numbers or ids, not times. Name the time column with " +
                        "timestamp_columns=[...] or set timestamp_format");
        return true;
    };
    auto counting_value = [&](std::int32_t col) {
        const ColumnLook& k = looks[static_cast<std::size_t>(col)];
        // Named as a row number and holding an integer: a tag named otherwise may be a counter.
        const std::string& h = header[static_cast<std::size_t>(col)];
        if (stated || !k.integer || !one_of(h, kRowNumberNames)) return false;
        fail(error, "the column " + column_name(col) + " is named as a row number and holds " +
                        "integers (" + k.first + " on line " + std::to_string(k.first_line) +
                        "), not measurements; pass timestamp_columns=[...] or layout= to read " +
                        "it as a tag");
        return true;
    };

    if (L.layout == Layout::Long) {
        L.tag_col = tag_col;
        use_time(given.empty() ? std::vector<std::int32_t>{named_time} : given);
        L.value_col = value_col;
        L.more_value_cols = std::move(more_values);
        L.quality_col = find_column(header, kQualityNames);
        L.unit_col = find_column(header, kUnitNames);
        const ColumnLook& t = looks[static_cast<std::size_t>(L.time_col)];
        if (o.timestamp_format == TimestampFormat::Auto && L.time_join == TimeJoin::None &&
            !t.time_column())
            L.time_format = epoch_of(t);
        if (small_epoch(L.time_col)) return Roles::Refused;
    } else if (L.layout == Layout::Paired) {
        L.tag_names = std::move(groups->names);
        L.tag_column = std::move(groups->value);
        L.quality_column = std::move(groups->quality);
        L.pair_time_column = std::move(groups->time);
        L.time_col = static_cast<std::int32_t>(L.pair_time_column.front());
    } else {
        std::vector<std::int32_t> times = given;
        if (times.empty()) {
            std::vector<std::int32_t> stamps;
            if (o.timestamp_format == TimestampFormat::Auto)
                for (std::size_t j = 0; j < header.size(); ++j)
                    if (looks[j].time_column()) stamps.push_back(static_cast<std::int32_t>(j));
            if (stamps.size() >= 2) {
                const ColumnLook& a = looks[static_cast<std::size_t>(stamps[0])];
                const ColumnLook& b = looks[static_cast<std::size_t>(stamps[1])];
                fail(error, "two columns hold timestamps, " + column_name(stamps[0]) + " (" +
                                quoted(a.first) + " on line " + std::to_string(a.first_line) +
                                ") and " + column_name(stamps[1]) + " (" + quoted(b.first) +
                                "): name the time column with timestamp_columns=[...], or pass "
                                "layout='paired' when each tag has its own");
                return Roles::Refused;
            }
            if (stamps.size() == 1) {
                const std::int32_t tc = stamps[0];
                const auto j = static_cast<std::size_t>(tc);
                times.push_back(tc);
                // A date alone takes its clock time from a column of clock times, the next one
                // first; a time takes its milliseconds from a column named for them.
                auto second = [&](auto fits) {
                    if (j + 1 < header.size() && fits(j + 1))
                        return static_cast<std::int32_t>(j + 1);
                    for (std::size_t c = 0; c < header.size(); ++c)
                        if (c != j && fits(c)) return static_cast<std::int32_t>(c);
                    return -1;
                };
                std::int32_t extra = -1;
                if (looks[j].date_only)
                    extra = second([&](std::size_t c) { return looks[c].clock; });
                else
                    extra = second([&](std::size_t c) {
                        return one_of(header[c], kMillisecondNames) && looks[c].milliseconds();
                    });
                if (extra >= 0) times.push_back(extra);
            } else {
                const std::int32_t tc = std::max(named_time, 0);
                if (named_time < 0) time_how = Decided::Default;  // column one, as ever
                times.push_back(tc);
                if (o.timestamp_format == TimestampFormat::Auto && named_time >= 0)
                    L.time_format = epoch_of(looks[static_cast<std::size_t>(tc)]);
            }
        }
        use_time(times);
        if (small_epoch(L.time_col)) return Roles::Refused;
    }
    if (L.layout != Layout::Paired) {
        // The header's own time cell reading as a time: the first line is data, not a header.
        const std::string& h = header[static_cast<std::size_t>(L.time_col)];
        ParsedTime pt;
        if (L.time_join == TimeJoin::None &&
            (parse_timestamp(h, {TimestampFormat::Auto, false, '.'}, pt) ||
             parse_timestamp(h, {TimestampFormat::Auto, true, '.'}, pt))) {
            fail(error, "the header (line " + std::to_string(header_no) + ") reads as data: its " +
                            "time cell " + quoted(h) + " is a timestamp, so the export has no " +
                            "header naming its columns; add one, then pass layout= and " +
                            "timestamp_columns=[...] if they are not found");
            return Roles::Refused;
        }
    }
    if (L.layout == Layout::Wide) {
        std::vector<bool> skip(header.size(), false);
        skip[static_cast<std::size_t>(L.time_col)] = true;
        if (L.time_col2 >= 0) skip[static_cast<std::size_t>(L.time_col2)] = true;
        // A leading column numbering the rows is no tag.
        if (L.time_col > 0 && !skip[0] &&
            (header[0].empty() || one_of(header[0], kRowNumberNames)) && looks[0].integer)
            skip[0] = true;
        auto quality_base = [&](std::string_view h, std::string_view suffix) {
            if (h.size() <= suffix.size() || !iequals(h.substr(h.size() - suffix.size()), suffix))
                return std::string_view();
            return h.substr(0, h.size() - suffix.size());
        };
        // The hash tables below cost a node per column, read_layout runs a few times per file,
        // and most wide headers name no quality column at all: build them only when one might.
        bool any_quality = false;
        for (std::size_t j = 0; j < header.size() && !any_quality; ++j)
            any_quality = !skip[j] && std::any_of(kQualitySuffixes.begin(), kQualitySuffixes.end(),
                                                  [&](std::string_view x) {
                                                      return !quality_base(header[j], x).empty();
                                                  });
        // Names looked up by hash: a header of many tag and quality pairs stays linear.
        std::unordered_set<std::string_view> names;
        if (any_quality)
            for (std::size_t j = 0; j < header.size(); ++j)
                if (!skip[j]) names.insert(header[j]);
        for (std::size_t j = 0; j < header.size(); ++j) {
            if (skip[j]) continue;
            if (header[j].empty()) {
                ++L.unnamed_columns;
                continue;
            }
            bool is_quality = false;
            for (std::string_view suffix : kQualitySuffixes) {
                const std::string_view base = quality_base(header[j], suffix);
                if (!base.empty() && names.count(base)) {
                    is_quality = true;
                    break;
                }
            }
            if (is_quality) continue;
            if (counting_value(static_cast<std::int32_t>(j))) return Roles::Refused;
            L.tag_names.push_back(header[j]);
            L.tag_column.push_back(static_cast<std::uint32_t>(j));
            L.quality_column.push_back(-1);
        }
        // Every tag of a name takes the first quality column naming it.
        std::unordered_map<std::string_view, std::vector<std::size_t>> tags_named;
        for (std::size_t t = 0; any_quality && t < L.tag_names.size(); ++t)
            tags_named[L.tag_names[t]].push_back(t);
        for (std::size_t j = 0; any_quality && j < header.size(); ++j) {
            if (skip[j]) continue;
            for (std::string_view suffix : kQualitySuffixes) {
                const std::string_view base = quality_base(header[j], suffix);
                if (base.empty()) continue;
                const auto it = tags_named.find(base);
                if (it == tags_named.end()) continue;
                for (std::size_t t : it->second)
                    if (L.quality_column[t] < 0) L.quality_column[t] = static_cast<std::int32_t>(j);
            }
        }
    }

    names_row = groups && groups->second_header;
    state_roles(L, header, time_how, o.timestamp_format);
    return Roles::Fit;
}

// The opening's records, read as far as a decision needs: [from, end) without the line feed.
struct Rec {
    std::size_t from = 0, end = 0;
    std::uint64_t line = 0;  // 0-based physical line where it starts
};

class Records {
  public:
    enum class Got : std::uint8_t { Yes, End, NeedMore };
    Records(std::string_view b, std::size_t at, bool at_end) : b_(b), next_(at), at_end_(at_end) {}
    Got get(std::size_t i, Rec& out) {
        while (recs_.size() <= i) {
            if (next_ >= b_.size()) return at_end_ ? Got::End : Got::NeedMore;
            std::size_t e = record_end(b_, next_);
            if (e == std::string_view::npos) {
                if (!at_end_) return Got::NeedMore;
                e = b_.size();
            }
            recs_.push_back({next_, e, line_});
            line_ += static_cast<std::uint64_t>(
                         std::count(b_.begin() + static_cast<std::ptrdiff_t>(next_),
                                    b_.begin() + static_cast<std::ptrdiff_t>(e), '\n')) +
                     1;
            next_ = e == b_.size() ? e : e + 1;
        }
        out = recs_[i];
        return Got::Yes;
    }
    std::string_view text(const Rec& r) const {
        return strip_cr(b_.substr(r.from, r.end - r.from));
    }
    std::size_t after(const Rec& r) const { return r.end == b_.size() ? r.end : r.end + 1; }

  private:
    std::string_view b_;
    std::size_t next_;
    bool at_end_;
    std::uint64_t line_ = 0;
    std::vector<Rec> recs_;
};

// Labels, compared with case, spaces, '_', '-', '.' and a trailing ':' ignored.
std::string label_key(std::string_view s) {
    std::string k;
    for (char c : s) {
        if (c == ' ' || c == '_' || c == '-' || c == '.' || c == '\t') continue;
        k.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
    while (!k.empty() && k.back() == ':') k.pop_back();
    return k;
}

constexpr std::array<std::string_view, 11> kUnitLabels = {"unit",
                                                          "units",
                                                          "eu",
                                                          "engunit",
                                                          "engunits",
                                                          "uom",
                                                          "engineeringunit",
                                                          "engineeringunits",
                                                          "unitofmeasure",
                                                          "unitsofmeasure",
                                                          "engunitsofmeasure"};
constexpr std::array<std::string_view, 6> kDescriptionLabels = {
    "descriptor", "descriptors", "description", "descriptions", "desc", "tagdescription"};

bool unit_label(std::string_view s) {
    const std::string k = label_key(s);
    return std::find(kUnitLabels.begin(), kUnitLabels.end(), k) != kUnitLabels.end();
}
bool metadata_label(std::string_view s) {
    const std::string k = label_key(s);
    return unit_label(s) || std::find(kDescriptionLabels.begin(), kDescriptionLabels.end(), k) !=
                                kDescriptionLabels.end();
}

// `sep=X` as a spreadsheet writes it to name the delimiter, quoted or not.
char sep_line(std::string_view line) {
    if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
        line = line.substr(1, line.size() - 2);
    if (line.size() != 5 || !iequals(line.substr(0, 4), "sep=")) return 0;
    const char c = line[4];
    return c == ',' || c == ';' || c == '\t' || c == '|' ? c : 0;
}

// What a record looks like, under one delimiter.
struct Shape {
    std::vector<std::string> cells;
    std::size_t filled = 0;    // non-empty cells
    std::size_t trimmed = 0;   // cells up to the last non-empty one
    bool title = false;        // a title or section line: never the header
    bool timestamped = false;  // some cell parses as a timestamp: data, not a header
    bool numbers = true;       // every non-empty cell is a number: data, not names
    bool data = false;         // the first cell is a timestamp: the data has begun
};

Shape shape_of(std::string_view text, char delim, const TimeSyntax& syntax, bool either_order) {
    Shape s;
    s.cells = cell_texts(text, delim);
    for (std::size_t j = 0; j < s.cells.size(); ++j) {
        if (s.cells[j].empty()) continue;
        ++s.filled;
        s.trimmed = j + 1;
    }
    const std::string_view first = s.cells.empty() ? std::string_view() : s.cells[0];
    // A title line holds one text (a report name, "[Data]", padded by a spreadsheet with empty
    // cells) or a "key:" and its value ("Server:", "Exported by:").
    s.title = (s.filled <= 1 && (s.filled == 0 || !first.empty())) ||
              (!first.empty() && first.back() == ':');
    for (const std::string& c : s.cells) {
        if (!c.empty() && !is_number(c, '.') && !is_number(c, ',')) {
            s.numbers = false;
            break;
        }
    }
    for (const std::string& c : s.cells) {
        if (!c.empty() && is_timestamp(c, syntax, either_order)) {
            s.timestamped = true;
            s.data = &c == &s.cells[0];
            break;
        }
    }
    s.data = s.data && !s.title;  // a date alone in a title block is no data row
    return s;
}

bool counts_match(const Shape& header, std::size_t data_cells, std::size_t data_trimmed) {
    const std::size_t h = header.cells.size();
    return h == data_cells || header.trimmed == data_cells || h == data_trimmed;
}

// A unit written in a tag's header cell: "TAG [unit]", "TAG (unit)", "TAG - unit", "TAG, unit".
// Split only when the second court reads the part as a unit, so "Pump (North)" stays a name.
bool split_header_unit(std::string_view cell, std::string& name, std::string& unit) {
    auto take = [&](std::size_t name_end, std::size_t unit_from, std::size_t unit_end) {
        const std::string_view n = trim(cell.substr(0, name_end));
        const std::string_view u = trim(cell.substr(unit_from, unit_end - unit_from));
        if (n.empty() || u.empty() || !recognised_unit(u)) return false;
        name = std::string(n);
        unit = std::string(u);
        return true;
    };
    if (cell.size() > 2 && (cell.back() == ']' || cell.back() == ')')) {
        const std::size_t open = cell.rfind(cell.back() == ']' ? '[' : '(');
        if (open != std::string_view::npos && open > 0 && take(open, open + 1, cell.size() - 1))
            return true;
    }
    const std::size_t dash = cell.rfind(" - ");
    if (dash != std::string_view::npos && take(dash, dash + 3, cell.size())) return true;
    const std::size_t comma = cell.rfind(',');
    if (comma != std::string_view::npos && take(comma, comma + 1, cell.size())) return true;
    return false;
}

// The same unit however written ("kg/h", "kg/hr"): by the second court's canonical form.
bool same_unit(std::string_view a, std::string_view b) {
    if (trim(a) == trim(b)) return true;
    const auto x = unit_consistency_v2::parse_unit(a);
    const auto y = unit_consistency_v2::parse_unit(b);
    return x.unit && y.unit && x.unit->canonical == y.unit->canonical;
}

constexpr std::size_t kMaxTitleRecords = 64;  // the header lies among the first 64 records

// Absent with *error empty when more bytes are needed.
std::optional<FileLayout> layout_of(std::string_view bytes, bool at_end,
                                    const ScanSettings& settings, std::string* error) {
    error->clear();
    const ProfileOptions& o = settings.options;
    std::size_t at = 0;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") at = 3;
    auto need_more = [&]() -> std::optional<FileLayout> {
        if (at_end) return std::nullopt;
        std::size_t run = 0;
        if (longest_run(bytes, run) > kMaxOpeningRun) fail(error, std::string(kNoDelimiterRun));
        return std::nullopt;
    };
    if (bytes.size() == at) {
        if (at_end) fail(error, "the file is empty");
        return std::nullopt;
    }
    Records recs(bytes, at, at_end);
    using Got = Records::Got;
    Rec r0;
    if (recs.get(0, r0) == Got::NeedMore) return need_more();
    if (recs.text(r0).find('\0') != std::string_view::npos) {
        const auto order = bomless_utf16(bytes);
        fail(error, order ? bomless_utf16_reason(*order)
                          : "binary data (NUL bytes) in the header; not a text export");
        return std::nullopt;
    }
    const char sep = sep_line(recs.text(r0));
    const std::size_t first = sep ? 1 : 0;  // the first record that may be the header
    auto delimiter_of = [&](std::string_view line) {
        return o.delimiter != 0 ? o.delimiter : sep ? sep : sniff_delimiter(line);
    };

    // A header and the first row under it whose timestamp cell parses, within 11 rows.
    struct Reading {
        FileLayout L;
        Shape header;
        std::size_t data = 0;
        std::size_t data_cells = 0, data_trimmed = 0;  // the data row's cells, up to the last
        std::string data_time;                         // the data row's time text
        bool found = false;
        bool roles = true;       // the header's roles fit the options and the evidence
        bool refused = false;    // the evidence for its roles is weak: refused if it is the header
        bool names_row = false;  // a paired header's Time/Value row stands under it
        std::string why;         // why the roles do not stand, or why no data row was found
    };
    // `shape`, when given, is the header's, read under its delimiter already.
    auto read_under = [&](std::size_t h, Reading& out, Shape* shape) -> Got {
        Rec hr;
        recs.get(h, hr);
        out.L = FileLayout();
        out.L.delimiter = delimiter_of(recs.text(hr));
        out.header = shape ? std::move(*shape)
                           : shape_of(recs.text(hr), out.L.delimiter, settings.syntax,
                                      settings.either_date_order);
        out.L.n_columns = out.header.cells.size();
        // The roles' sample: the rows under it to the first holding a number or a timestamp.
        Sample sample;
        for (std::size_t k = h + 1;
             sample.rows.size() <= static_cast<std::size_t>(kMaxMetadataRows); ++k) {
            Rec r;
            const Got got = recs.get(k, r);
            if (got == Got::NeedMore) return got;
            if (got == Got::End) break;
            std::vector<std::string> cells = cell_texts(recs.text(r), out.L.delimiter);
            // A title block's lines under a record tried as the header ("Start time:", a date
            // alone) say nothing of the columns.
            if (title_cells(cells)) continue;
            sample.rows.push_back(std::move(cells));
            sample.lines.push_back(r.line + 1);
            if (ends_sample(sample.rows.back(), settings.syntax)) break;
        }
        const Roles roles = column_roles(out.header.cells, sample, hr.line + 1, settings, out.L,
                                         out.names_row, &out.why);
        out.roles = roles == Roles::Fit;
        out.refused = roles == Roles::Refused;
        if (roles == Roles::Misfit) return Got::Yes;
        const FileLayout& L = out.L;
        const TimeSyntax syntax = file_syntax(settings.syntax, L);
        std::string scratch, unq;
        auto cell = [&](const std::vector<CellText>& cells, std::int64_t col) -> std::string_view {
            if (col < 0 || static_cast<std::size_t>(col) >= cells.size()) return {};
            const auto c = static_cast<std::size_t>(col);
            return unquote(cells[c].text, cells[c].quoted, unq);
        };
        // The row's time text (two cells joined as the scan joins them), and whether it parses.
        std::string& joined = out.data_time;
        auto row_time = [&](const std::vector<CellText>& cells) {
            if (L.layout == Layout::Paired) {
                for (std::uint32_t c : L.pair_time_column) {
                    joined.assign(cell(cells, c));
                    if (is_timestamp(joined, syntax, settings.either_date_order)) return true;
                }
                return false;
            }
            joined.assign(cell(cells, L.time_col));
            if (L.time_join == TimeJoin::Milliseconds) {
                std::int64_t ms = 0;
                return milliseconds_of(cell(cells, L.time_col2), ms) &&
                       is_timestamp(joined, syntax, settings.either_date_order);
            }
            if (L.time_join == TimeJoin::Clock) {
                const std::string_view clock = cell(cells, L.time_col2);
                if (joined.empty() || clock.empty()) return false;
                joined.push_back(' ');
                joined.append(clock);
            }
            return is_timestamp(joined, syntax, settings.either_date_order);
        };
        auto why = [&](const char* text) {
            if (!out.refused) out.why = text;
        };
        for (std::size_t k = h + 1;; ++k) {
            Rec r;
            const Got got = recs.get(k, r);
            if (got == Got::NeedMore) return got;
            if (got == Got::End) {
                why(k == h + 1 ? "a header and no data rows; not a historian export"
                               : "no row under the header has a timestamp in its "
                                 "timestamp column; not a historian export");
                return Got::Yes;
            }
            const std::string_view line = recs.text(r);
            const auto cells = split_record(line, L.delimiter, scratch);
            // The Time/Value row under a paired header's tag names is part of the header; a
            // "Key:" line of a title block is no data row, whatever its second cell holds.
            if (!(k == h + 1 && out.names_row) && !key_line(cells, unq) && row_time(cells)) {
                out.data = k;
                out.found = true;
                out.data_cells = cells.size();
                out.data_trimmed = cells.size();
                while (out.data_trimmed > 0 && unquote(cells[out.data_trimmed - 1].text,
                                                       cells[out.data_trimmed - 1].quoted, unq)
                                                   .empty())
                    --out.data_trimmed;
                return Got::Yes;
            }
            if (k - h > static_cast<std::size_t>(kMaxMetadataRows)) {
                why("no row among the 11 under the header has a timestamp in its timestamp "
                    "column; not a historian export");
                return Got::Yes;
            }
            if (line.find('\0') != std::string_view::npos) {
                why("binary data (NUL bytes) under the header; not a text export");
                return Got::Yes;
            }
        }
    };
    // A record that could be a header: not a title line, no timestamp, no metadata label.
    auto header_like = [&](const Shape& s) {
        return !s.title && !s.timestamped && !s.numbers && s.cells.size() >= 2 &&
               !(!s.cells[0].empty() && metadata_label(s.cells[0]));
    };
    auto time_named = [&](const Reading& rd) {
        if (rd.L.layout != Layout::Wide) return true;  // long and paired headers name them
        const auto t = static_cast<std::size_t>(rd.L.time_col);
        return t < rd.header.cells.size() && one_of(rd.header.cells[t], kTimeNames);
    };

    Reading chosen;
    std::size_t header = first;
    if (o.header_line != 0) {
        // Given: the record starting on that line, read under the old rules below.
        std::size_t k = 0;
        for (;; ++k) {
            Rec r;
            const Got got = recs.get(k, r);
            if (got == Got::NeedMore) return need_more();
            if (got == Got::End || r.line + 1 > o.header_line) {
                fail(error, "header_line=" + std::to_string(o.header_line) +
                                " is not the first line of a record in the file");
                return std::nullopt;
            }
            if (r.line + 1 == o.header_line) break;
        }
        header = k;
        if (read_under(header, chosen, nullptr) == Got::NeedMore) return need_more();
    } else {
        // The first record that reads as a header: its cell count is the data row's under it,
        // and every row between is metadata (not itself header-like).
        bool decided = false;
        for (std::size_t h = first; h < first + kMaxTitleRecords && !decided; ++h) {
            Rec r;
            const Got got = recs.get(h, r);
            if (got == Got::NeedMore) return need_more();
            if (got == Got::End) break;
            if (recs.text(r).find('\0') != std::string_view::npos) break;
            Shape s = shape_of(recs.text(r), delimiter_of(recs.text(r)), settings.syntax,
                               settings.either_date_order);
            if (s.data) break;  // the header lies above the first data row
            if (!header_like(s)) continue;
            Reading rd;
            if (read_under(h, rd, &s) == Got::NeedMore) return need_more();
            if (!rd.found || !counts_match(rd.header, rd.data_cells, rd.data_trimmed)) continue;
            // Other header-like rows between it and the data: the one naming its timestamp
            // column wins; else the evidence is even and the caller says.
            std::vector<std::size_t> alike{h};
            for (std::size_t k = h + 1 + (rd.names_row ? 1 : 0); k < rd.data; ++k) {
                Rec m;
                recs.get(k, m);
                // Unit and description rows (a blank or a label first) are read no further.
                const std::string_view line = recs.text(m);
                const std::string_view lead = line.substr(0, line.find(rd.L.delimiter));
                if (lead.find('"') == std::string_view::npos &&
                    (trim(lead).empty() || metadata_label(trim(lead))))
                    continue;
                const Shape ms =
                    shape_of(line, rd.L.delimiter, settings.syntax, settings.either_date_order);
                if (header_like(ms) && !ms.cells[0].empty() &&
                    counts_match(ms, rd.data_cells, rd.data_trimmed))
                    alike.push_back(k);
            }
            std::vector<std::size_t> named;
            for (std::size_t k = 0; alike.size() > 1 && k < alike.size(); ++k) {
                Reading x;
                read_under(alike[k], x, nullptr);
                if (x.roles && time_named(x)) named.push_back(alike[k]);
            }
            if (alike.size() > 1 && named.size() != 1) {
                Rec a, b;
                recs.get(alike[0], a);
                recs.get(alike[1], b);
                fail(error, "line " + std::to_string(a.line + 1) + " and line " +
                                std::to_string(b.line + 1) +
                                " could each be the header (as many cells as the data rows "
                                "under them); header_line=N names it");
                return std::nullopt;
            }
            header = alike.size() > 1 ? named[0] : h;
            if (header == h) chosen = std::move(rd);
            decided = true;
        }
        if (!decided) {
            // No record shows the evidence: the first header-like record with a data row under
            // it, else the first record, as exports without a title block have always been read.
            header = first;
            for (std::size_t h = first; h < first + kMaxTitleRecords; ++h) {
                Rec r;
                const Got got = recs.get(h, r);
                if (got == Got::NeedMore) return need_more();
                if (got == Got::End) break;
                if (recs.text(r).find('\0') != std::string_view::npos) break;
                Shape s = shape_of(recs.text(r), delimiter_of(recs.text(r)), settings.syntax,
                                   settings.either_date_order);
                if (s.data) break;
                if (!header_like(s)) continue;
                Reading rd;
                if (read_under(h, rd, &s) == Got::NeedMore) return need_more();
                if (rd.found) {
                    header = h;
                    chosen = std::move(rd);
                    break;
                }
            }
        }
        if (!chosen.found && read_under(header, chosen, nullptr) == Got::NeedMore)
            return need_more();
    }
    if (!chosen.roles || !chosen.found) {
        fail(error, chosen.why);
        return std::nullopt;
    }

    Rec hr, dr;
    recs.get(header, hr);
    recs.get(chosen.data, dr);
    const std::optional<OpeningSample> sample =
        sample_window(bytes, dr.from, dr.line, chosen.L.delimiter, at_end);
    if (!sample) return need_more();
    FileLayout L = std::move(chosen.L);
    set_fact(L.facts, "encoding", at == 3 ? "utf-8-bom" : "utf-8",
             at == 3 ? Decided::Detected : Decided::Default);
    set_fact(L.facts, "delimiter", L.delimiter == '\t' ? "tab" : std::string(1, L.delimiter),
             o.delimiter != 0 ? Decided::Given : Decided::Detected);
    set_fact(L.facts, "decimal", std::string(1, o.decimal),
             o.decimal == '.' ? Decided::Default : Decided::Given);
    set_fact(L.facts, "header_line", std::to_string(hr.line + 1),
             o.header_line != 0 ? Decided::Given : Decided::Detected);
    set_fact(L.facts, "title_lines", std::to_string(hr.line),
             o.header_line != 0 ? Decided::Given : Decided::Detected);
    const std::vector<std::string> header_cells = chosen.header.cells;
    L.title_lines = hr.line;
    L.data_offset = dr.from;
    L.first_row_end = recs.after(dr);
    L.data_line = dr.line;
    {
        IsoFastPath fast;
        ParsedTime ft;
        L.first_row_fast_iso = L.time_join == TimeJoin::None && fast.parse(chosen.data_time, ft);
    }
    if (L.layout == Layout::Long) {
        // Long exports have no metadata rows: every row under the header is a record.
        const Rec& h = hr;
        L.data_offset = recs.after(h);
        L.data_line = h.line + 1 +
                      static_cast<std::uint64_t>(
                          std::count(bytes.begin() + static_cast<std::ptrdiff_t>(h.from),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(h.end), '\n'));
        set_fact(L.facts, "unit_source", L.unit_col >= 0 ? "unit column" : "none",
                 L.unit_col >= 0 ? Decided::Detected : Decided::Default);
        // Conventions that need values, not just names, are settled here from the sample.
        if (!settle_from_sample(L, header_cells, *sample, settings, error)) return std::nullopt;
        return L;
    }

    if (L.layout == Layout::Paired) {
        // Rows between the header (with its Time/Value row) and the first data row are skipped.
        L.metadata_skipped = chosen.data - header - 1 - (chosen.names_row ? 1 : 0);
        set_fact(L.facts, "unit_source", "none", Decided::Default);
        if (!settle_from_sample(L, header_cells, *sample, settings, error)) return std::nullopt;
        return L;
    }

    // Metadata rows: a row labelled as units is the unit row; without one, the row with an
    // empty time cell whose cells mostly read as units, else the first such row.
    std::vector<std::vector<std::string>> rows;
    std::string scratch, unq;
    int labelled = -1, blank_first = -1, unitlike = -1;
    std::size_t best_units = 0;
    for (std::size_t k = header + 1; k < chosen.data; ++k) {
        Rec m;
        recs.get(k, m);
        std::vector<std::string> cells = cell_texts(recs.text(m), L.delimiter);
        // The label stands in the time cell (the first cell when the time column is first),
        // or in the first cell before a time column further right.
        const auto tc = static_cast<std::size_t>(L.time_col);
        const std::string_view lead = tc < cells.size() ? std::string_view(cells[tc]) : "";
        const std::string_view first = cells.empty() ? std::string_view() : cells[0];
        const int index = static_cast<int>(rows.size());
        if (labelled < 0 && ((!lead.empty() && unit_label(lead)) ||
                             (tc > 0 && !first.empty() && unit_label(first))))
            labelled = index;
        if (lead.empty()) {
            if (blank_first < 0) blank_first = index;
            std::size_t filled = 0, units = 0;
            for (std::uint32_t col : L.tag_column) {
                if (col >= cells.size() || trim(cells[col]).empty()) continue;
                ++filled;
                units += recognised_unit(trim(cells[col])).has_value();
            }
            if (2 * units > filled && units > best_units) {
                best_units = units;
                unitlike = index;
            }
        }
        rows.push_back(std::move(cells));
    }
    const int unit_row = labelled >= 0 ? labelled : unitlike >= 0 ? unitlike : blank_first;
    L.metadata_skipped = rows.size() - (unit_row >= 0 ? 1 : 0);
    if (unit_row >= 0) {
        const auto& cells = rows[static_cast<std::size_t>(unit_row)];
        for (std::uint32_t col : L.tag_column)
            L.unit_row.emplace_back(col < cells.size() ? std::string(trim(cells[col]))
                                                       : std::string());
    }

    // Units in the header cells; the unit row's unit stands where both are given.
    bool any_header_unit = false;
    std::vector<std::string> header_units(L.tag_names.size());
    for (std::size_t t = 0; t < L.tag_names.size(); ++t) {
        std::string name, unit;
        if (!split_header_unit(L.tag_names[t], name, unit)) continue;
        L.tag_names[t] = std::move(name);
        if (!L.unit_row.empty() && !L.unit_row[t].empty() && same_unit(L.unit_row[t], unit))
            continue;
        header_units[t] = std::move(unit);
        any_header_unit = true;
    }
    if (any_header_unit) L.header_units = std::move(header_units);
    const char* source = unit_row >= 0 && any_header_unit ? "unit row, header cells"
                         : unit_row >= 0                  ? "unit row"
                         : any_header_unit                ? "header cells"
                                                          : "none";
    set_fact(L.facts, "unit_source", source,
             unit_row >= 0 || any_header_unit ? Decided::Detected : Decided::Default);
    if (!settle_from_sample(L, header_cells, *sample, settings, error)) return std::nullopt;
    return L;
}

}  // namespace

Needing<FileLayout> read_layout(std::string_view bytes, bool at_end, const ScanSettings& settings) {
    std::string why;
    auto layout = layout_of(bytes, at_end, settings, &why);
    if (layout) return std::move(*layout);
    if (!why.empty()) return ProfileError{"", std::move(why)};
    return NeedBytes{bytes.size() + 1};
}

// The opening's rules for other files read alike (context files).
char header_delimiter(std::string_view header) {
    return sniff_delimiter(header);
}
char sep_line_delimiter(std::string_view line) {
    return sep_line(strip_cr(line));
}
bool is_title_line(const std::vector<std::string>& cells) {
    return title_cells(cells);
}

}  // namespace qorv_chemical_engineering_edge::export_profile
