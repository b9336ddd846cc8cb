#include "export_units.hpp"

#include "qorv_chemical_engineering_edge/unit_consistency.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

std::optional<std::string> recognised_unit(std::string_view text) {
    const auto parsed = unit_consistency::parse_unit(text);
    if (!parsed) return std::nullopt;
    return parsed->dim.tag();
}

}  // namespace qorv_chemical_engineering_edge::export_profile
