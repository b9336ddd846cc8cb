// Reading an export's opening bytes: BOM, delimiter, header, layout, metadata rows.
#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>

#include "export/encoding.hpp"
#include "export/state.hpp"
#include "export/tokenize.hpp"
#include "export/units.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr int kMaxMetadataRows = 10;

constexpr std::array<std::string_view, 4> kTagNames = {"tag", "tagname", "tag_name", "name"};
constexpr std::array<std::string_view, 4> kTimeNames = {"timestamp", "time", "datetime", "date"};
constexpr std::array<std::string_view, 2> kValueNames = {"value", "val"};
constexpr std::array<std::string_view, 5> kQualityNames = {"quality", "status", "statuscode",
                                                           "status_code", "status code"};
constexpr std::array<std::string_view, 5> kUnitNames = {"unit", "units", "eu", "uom",
                                                        "engineering_units"};
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

// Which column holds what: the layout, the time, tag, value and quality columns. False, with
// `error` set, when the options ask for a layout the header cannot give.
bool column_roles(const std::vector<std::string>& header, const ProfileOptions& o, FileLayout& L,
                  std::string* error) {
    const std::int32_t tag_col = find_column(header, kTagNames);
    const std::int32_t time_col = find_column(header, kTimeNames);
    const std::int32_t value_col = find_column(header, kValueNames);
    const bool long_ok = tag_col >= 0 && time_col >= 0 && value_col >= 0;
    if (o.layout == Layout::Long && !long_ok) {
        fail(error, "the header names no tag, timestamp and value columns for the long layout");
        return false;
    }
    L.layout = o.layout == Layout::Long || (o.layout == Layout::Auto && long_ok) ? Layout::Long
                                                                                 : Layout::Wide;
    set_fact(L.facts, "layout", std::string(name(L.layout)),
             o.layout == Layout::Auto ? Decided::Detected : Decided::Given);
    if (L.layout == Layout::Long) {
        L.tag_col = tag_col;
        L.time_col = time_col;
        L.value_col = value_col;
        L.quality_col = find_column(header, kQualityNames);
        L.unit_col = find_column(header, kUnitNames);
    } else {
        auto quality_base = [&](std::string_view h, std::string_view suffix) {
            if (h.size() <= suffix.size() || !iequals(h.substr(h.size() - suffix.size()), suffix))
                return std::string_view();
            return h.substr(0, h.size() - suffix.size());
        };
        // The hash tables below cost a node per column, read_layout runs a few times per file,
        // and most wide headers name no quality column at all: build them only when one might.
        const bool any_quality =
            header.size() > 1 &&
            std::any_of(header.begin() + 1, header.end(), [&](const std::string& h) {
                return std::any_of(kQualitySuffixes.begin(), kQualitySuffixes.end(),
                                   [&](std::string_view x) { return !quality_base(h, x).empty(); });
            });
        // Names looked up by hash: a header of many tag and quality pairs stays linear.
        std::unordered_set<std::string_view> names;
        if (any_quality)
            for (std::size_t j = 1; j < header.size(); ++j) names.insert(header[j]);
        for (std::size_t j = 1; j < header.size(); ++j) {
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
            L.tag_names.push_back(header[j]);
            L.tag_column.push_back(static_cast<std::uint32_t>(j));
            L.quality_column.push_back(-1);
        }
        // Every tag of a name takes the first quality column naming it.
        std::unordered_map<std::string_view, std::vector<std::size_t>> tags_named;
        for (std::size_t t = 0; any_quality && t < L.tag_names.size(); ++t)
            tags_named[L.tag_names[t]].push_back(t);
        for (std::size_t j = 1; any_quality && j < header.size(); ++j) {
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

    return true;
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
        bool found = false;
        bool roles = true;  // the options' layout fits the header
        std::string why;    // why no data row was found
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
        out.roles = column_roles(out.header.cells, o, out.L, &out.why);
        if (!out.roles) return Got::Yes;
        const auto time_index =
            static_cast<std::size_t>(out.L.layout == Layout::Long ? out.L.time_col : 0);
        std::string scratch, unq;
        for (std::size_t k = h + 1;; ++k) {
            Rec r;
            const Got got = recs.get(k, r);
            if (got == Got::NeedMore) return got;
            if (got == Got::End) {
                out.why = k == h + 1 ? "a header and no data rows; not a historian export"
                                     : "no row under the header has a timestamp in its "
                                       "timestamp column; not a historian export";
                return Got::Yes;
            }
            const std::string_view line = recs.text(r);
            const auto cells = split_record(line, out.L.delimiter, scratch);
            if (time_index < cells.size() &&
                is_timestamp(unquote(cells[time_index].text, cells[time_index].quoted, unq),
                             settings.syntax, settings.either_date_order)) {
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
                out.why =
                    "no row among the 11 under the header has a timestamp in its timestamp "
                    "column; not a historian export";
                return Got::Yes;
            }
            if (line.find('\0') != std::string_view::npos) {
                out.why = "binary data (NUL bytes) under the header; not a text export";
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
        return rd.L.layout == Layout::Long ||
               (!rd.header.cells.empty() && one_of(rd.header.cells[0], kTimeNames));
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
            for (std::size_t k = h + 1; k < rd.data; ++k) {
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
        std::string scratch, unq;
        const auto time_index = static_cast<std::size_t>(L.layout == Layout::Long ? L.time_col : 0);
        const auto cells = split_record(recs.text(dr), L.delimiter, scratch);
        IsoFastPath fast;
        ParsedTime ft;
        L.first_row_fast_iso =
            fast.parse(unquote(cells[time_index].text, cells[time_index].quoted, unq), ft);
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

    // Metadata rows: a row labelled as units is the unit row; without one, the row with an
    // empty first cell whose cells mostly read as units, else the first such row.
    std::vector<std::vector<std::string>> rows;
    std::string scratch, unq;
    int labelled = -1, blank_first = -1, unitlike = -1;
    std::size_t best_units = 0;
    for (std::size_t k = header + 1; k < chosen.data; ++k) {
        Rec m;
        recs.get(k, m);
        std::vector<std::string> cells = cell_texts(recs.text(m), L.delimiter);
        const std::string_view lead = cells.empty() ? std::string_view() : cells[0];
        const int index = static_cast<int>(rows.size());
        if (labelled < 0 && !lead.empty() && unit_label(lead)) labelled = index;
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

}  // namespace qorv_chemical_engineering_edge::export_profile
