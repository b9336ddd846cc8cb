// Which unit texts the export profiler counts as units. One function, so that the recogniser can
// be swapped; the vocabulary name travels into the profile seal and must change with it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qorv_chemical_engineering_edge::export_profile {

inline constexpr std::string_view kUnitVocabulary = "unit_consistency_court_v2.parse_unit";

// The dimension tag of a recognised unit text ("ML^-1T^-2", "1"); absent when not recognised.
std::optional<std::string> recognised_unit(std::string_view text);

}  // namespace qorv_chemical_engineering_edge::export_profile
