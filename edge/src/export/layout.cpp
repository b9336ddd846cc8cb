// Reading an export's opening bytes: BOM, delimiter, header, layout, metadata rows.
#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>

#include "export/state.hpp"
#include "export/tokenize.hpp"

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
constexpr std::array<std::string_view, 8> kUnitRowNames = {"unit",
                                                           "units",
                                                           "eu",
                                                           "uom",
                                                           "engineering unit",
                                                           "engineering units",
                                                           "engineering_unit",
                                                           "engineering_units"};

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
    std::size_t header_end = record_end(bytes, at);
    if (header_end == std::string_view::npos) {
        if (!at_end) return need_more();
        header_end = bytes.size();
    }
    const std::string_view header_line = strip_cr(bytes.substr(at, header_end - at));
    if (header_line.find('\0') != std::string_view::npos) {
        fail(error, "binary data (NUL bytes) in the header; not a text export");
        return std::nullopt;
    }
    FileLayout L;
    L.delimiter = o.delimiter != 0 ? o.delimiter : sniff_delimiter(header_line);
    set_fact(L.facts, "encoding", at == 3 ? "utf-8-bom" : "utf-8",
             at == 3 ? Decided::Detected : Decided::Default);
    set_fact(L.facts, "delimiter", L.delimiter == '\t' ? "tab" : std::string(1, L.delimiter),
             o.delimiter != 0 ? Decided::Given : Decided::Detected);
    set_fact(L.facts, "decimal", std::string(1, o.decimal),
             o.decimal == '.' ? Decided::Default : Decided::Given);
    const std::vector<std::string> header = cell_texts(header_line, L.delimiter);
    L.n_columns = header.size();

    const std::int32_t tag_col = find_column(header, kTagNames);
    const std::int32_t time_col = find_column(header, kTimeNames);
    const std::int32_t value_col = find_column(header, kValueNames);
    const bool long_ok = tag_col >= 0 && time_col >= 0 && value_col >= 0;
    if (o.layout == Layout::Long && !long_ok) {
        fail(error, "the header names no tag, timestamp and value columns for the long layout");
        return std::nullopt;
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

    // The rows under the header, until the first whose timestamp cell parses.
    const auto time_index = static_cast<std::size_t>(L.layout == Layout::Long ? L.time_col : 0);
    std::size_t row_from = header_end == bytes.size() ? bytes.size() : header_end + 1;
    bool unit_row_seen = false;
    std::string unq;
    for (int row = 0;; ++row) {
        if (row_from >= bytes.size()) {
            if (!at_end) return need_more();
            fail(error, row == 0 ? "a header and no data rows; not a historian export"
                                 : "no row under the header has a timestamp in its "
                                   "timestamp column; not a historian export");
            return std::nullopt;
        }
        std::size_t end = record_end(bytes, row_from);
        if (end == std::string_view::npos) {
            if (!at_end) return need_more();
            end = bytes.size();
        }
        const std::string_view line = strip_cr(bytes.substr(row_from, end - row_from));
        std::string scratch;
        const std::vector<CellText> cells = split_record(line, L.delimiter, scratch);
        std::string_view first;
        if (time_index < cells.size())
            first = unquote(cells[time_index].text, cells[time_index].quoted, unq);
        if (is_timestamp(first, settings.syntax, settings.either_date_order)) {
            const std::optional<OpeningSample> sample = sample_window(
                bytes, row_from,
                static_cast<std::uint64_t>(std::count(
                    bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(row_from), '\n')),
                L.delimiter, at_end);
            if (!sample) return need_more();
            L.data_offset = row_from;
            L.first_row_end = end == bytes.size() ? end : end + 1;
            L.data_line = static_cast<std::uint64_t>(std::count(
                bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(row_from), '\n'));
            IsoFastPath fast;
            ParsedTime ft;
            L.first_row_fast_iso = fast.parse(first, ft);
            if (L.layout == Layout::Long) {
                // Long exports have no metadata rows: every row under the header is a record.
                L.data_offset = header_end == bytes.size() ? bytes.size() : header_end + 1;
                L.data_line = static_cast<std::uint64_t>(
                    std::count(bytes.begin(),
                               bytes.begin() + static_cast<std::ptrdiff_t>(L.data_offset), '\n'));
                L.metadata_skipped = 0;
                L.unit_row.clear();
            }
            // Conventions that need values, not just names, are settled here from the sample.
            if (!settle_from_sample(L, header, *sample, settings, error)) return std::nullopt;
            return L;
        }
        if (row >= kMaxMetadataRows) {
            fail(error,
                 "no row among the 11 under the header has a timestamp in its timestamp "
                 "column; not a historian export");
            return std::nullopt;
        }
        if (line.find('\0') != std::string_view::npos) {
            fail(error, "binary data (NUL bytes) under the header; not a text export");
            return std::nullopt;
        }
        if (L.layout == Layout::Wide && !unit_row_seen &&
            (first.empty() || one_of(first, kUnitRowNames))) {
            unit_row_seen = true;
            for (std::uint32_t col : L.tag_column)
                L.unit_row.emplace_back(
                    col < cells.size()
                        ? std::string(unquote(cells[col].text, cells[col].quoted, unq))
                        : std::string());
        } else {
            ++L.metadata_skipped;
        }
        if (end == bytes.size()) {
            row_from = bytes.size();
        } else {
            row_from = end + 1;
        }
    }
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
