// Reading a tag list: the units a caller declares for tags, as CSV with a tag and a unit column.
#include <algorithm>

#include "export/state.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

Result<std::vector<TagUnit>> parse_tag_list(std::string_view bytes, std::string_view file) {
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
    char delim = ',';
    for (char c : {',', ';', '\t', '|'})
        if (std::count(lines[0].begin(), lines[0].end(), c) >
            std::count(lines[0].begin(), lines[0].end(), delim))
            delim = c;
    std::string scratch, unq;
    std::vector<std::string> header;
    for (const CellText& c : split_record(lines[0], delim, scratch))
        header.emplace_back(unquote(c.text, c.quoted, unq));
    auto find = [&](std::initializer_list<std::string_view> names) {
        for (std::size_t j = 0; j < header.size(); ++j)
            for (std::string_view n : names)
                if (iequals(header[j], n)) return static_cast<std::int64_t>(j);
        return std::int64_t{-1};
    };
    const std::int64_t tag = find({"tag", "tagname", "tag_name", "name"});
    const std::int64_t unit = find({"unit", "units", "eu", "uom", "engineering_units"});
    if (tag < 0 || unit < 0)
        return ProfileError{std::string(file), "the tag list names no tag column and unit column"};
    std::vector<TagUnit> out;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto cells = split_record(lines[i], delim, scratch);
        if (static_cast<std::size_t>(std::max(tag, unit)) >= cells.size()) continue;
        TagUnit t;
        t.tag = std::string(unquote(cells[static_cast<std::size_t>(tag)].text,
                                    cells[static_cast<std::size_t>(tag)].quoted, unq));
        t.unit = std::string(unquote(cells[static_cast<std::size_t>(unit)].text,
                                     cells[static_cast<std::size_t>(unit)].quoted, unq));
        out.push_back(std::move(t));
    }
    return tag_units_of(std::move(out));
}

}  // namespace qorv_chemical_engineering_edge::export_profile
