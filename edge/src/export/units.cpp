#include "export/units.hpp"

#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

// The second unit court's grammar: it reads the units plants write (m3/h, barg, Nm3/h, deg C),
// where the first court's closed table would leave most of them unrecognised.
std::optional<std::string> recognised_unit(std::string_view text) {
    auto outcome = unit_consistency_v2::parse_unit(text);
    if (!outcome.unit) return std::nullopt;
    return outcome.unit->dim.tag();
}

}  // namespace qorv_chemical_engineering_edge::export_profile
