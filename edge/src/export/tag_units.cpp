// A tag list's pairs, however they were given (a CSV file's rows or a caller's mapping), made
// one list by one rule.
#include <utility>

#include "export/cells.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

std::vector<TagUnit> tag_units_of(std::vector<TagUnit> given) {
    std::vector<TagUnit> out;
    out.reserve(given.size());
    for (TagUnit& t : given) {
        const std::string_view tag = trim(t.tag);
        if (tag.empty()) continue;
        const std::string_view unit = trim(t.unit);
        out.push_back({std::string(tag), std::string(unit), std::string(trim(t.id))});
    }
    return out;
}

}  // namespace qorv_chemical_engineering_edge::export_profile
