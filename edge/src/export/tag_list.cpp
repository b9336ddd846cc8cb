// Reading a tag list: the units a caller declares for tags, as CSV with a tag and a unit column.
#include <algorithm>

#include "export/encoding.hpp"
#include "export/state.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr std::size_t kMaxTagListTitleLines = 16;

// Column names compared without case, spaces, '_', '-' or '.': "Eng Units", "EngineeringUnits".
constexpr std::string_view kTagColumns[] = {"tag", "tagname", "name", "tagpath"};
// A tag table keyed by id (a SCADA tag-history table names its tags by id).
constexpr std::string_view kIdColumns[] = {"id", "tagid"};
constexpr std::string_view kUnitColumns[] = {"unit",
                                             "units",
                                             "eu",
                                             "uom",
                                             "engunit",
                                             "engunits",
                                             "engineeringunit",
                                             "engineeringunits",
                                             "unitofmeasure",
                                             "unitsofmeasure"};

std::string key_of(std::string_view s) {
    std::string k;
    for (char c : s) {
        if (c == ' ' || c == '_' || c == '-' || c == '.') continue;
        k.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
    return k;
}

template <std::size_t N>
std::int64_t column_named(const std::vector<std::string>& header,
                          const std::string_view (&names)[N]) {
    for (std::size_t j = 0; j < header.size(); ++j) {
        const std::string k = key_of(header[j]);
        for (std::string_view n : names)
            if (k == n) return static_cast<std::int64_t>(j);
    }
    return -1;
}

}  // namespace

Result<std::vector<TagUnit>> parse_tag_list(std::string_view bytes, std::string_view file,
                                            Encoding encoding) {
    // Read as an export is: UTF-16 decoded whole, then each name and unit made valid UTF-8.
    const StreamEncoding stream = *stream_encoding(bytes, encoding, true);
    std::string utf8;
    if (stream == StreamEncoding::Utf16LE || stream == StreamEncoding::Utf16BE) {
        Utf16Decoder d(stream == StreamEncoding::Utf16BE);
        d.decode(bytes, utf8);
        d.finish(utf8);
        bytes = utf8;
    } else if (bytes.find('\0') != std::string_view::npos) {
        if (const auto order = bomless_utf16(bytes))
            return ProfileError{std::string(file), bomless_utf16_reason(*order)};
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::vector<std::string_view> lines;
    std::size_t from = 0;
    bool inside = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '"') inside = !inside;
        if (bytes[i] == '\n' && !inside) {
            lines.push_back(bytes.substr(from, i - from));
            from = i + 1;
        }
    }
    if (from < bytes.size()) lines.push_back(bytes.substr(from));
    for (auto& l : lines)
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    if (lines.empty()) return ProfileError{std::string(file), "the tag list is empty"};
    // The header is the first line naming a tag and a unit column; a section line ("[Tags]")
    // or a title block above it is skipped.
    std::string scratch, unq;
    char delim = ',';
    std::int64_t tag = -1, unit = -1, id = -1;
    std::size_t header_at = 0;
    for (; header_at < lines.size() && header_at < kMaxTagListTitleLines; ++header_at) {
        const std::string_view line = lines[header_at];
        delim = ',';
        for (char c : {',', ';', '\t', '|'})
            if (std::count(line.begin(), line.end(), c) >
                std::count(line.begin(), line.end(), delim))
                delim = c;
        std::vector<std::string> header;
        for (const CellText& c : split_record(line, delim, scratch))
            header.emplace_back(unquote(c.text, c.quoted, unq));
        tag = column_named(header, kTagColumns);
        unit = column_named(header, kUnitColumns);
        id = column_named(header, kIdColumns);
        if (tag >= 0 && unit >= 0) break;
    }
    if (tag < 0 || unit < 0)
        return ProfileError{std::string(file), "the tag list names no tag column and unit column"};
    std::vector<TagUnit> out;
    for (std::size_t i = header_at + 1; i < lines.size(); ++i) {
        const auto cells = split_record(lines[i], delim, scratch);
        if (static_cast<std::size_t>(std::max({tag, unit, id})) >= cells.size()) continue;
        TagUnit t;
        t.tag = text_out(unquote(cells[static_cast<std::size_t>(tag)].text,
                                 cells[static_cast<std::size_t>(tag)].quoted, unq),
                         encoding, false, nullptr);
        t.unit = text_out(unquote(cells[static_cast<std::size_t>(unit)].text,
                                  cells[static_cast<std::size_t>(unit)].quoted, unq),
                          encoding, false, nullptr);
        if (id >= 0)
            t.id = text_out(unquote(cells[static_cast<std::size_t>(id)].text,
                                    cells[static_cast<std::size_t>(id)].quoted, unq),
                            encoding, false, nullptr);
        out.push_back(std::move(t));
    }
    return tag_units_of(std::move(out));
}

}  // namespace qorv_chemical_engineering_edge::export_profile
