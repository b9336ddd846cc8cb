// The profile seal: everything a profile says, and what it was read with, through the
// canonical hasher under ExportProfile::kSchema (framing in edge/EXPORT_PROFILE.md).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "export/tzif.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

// The first and last instant of a profile whose naive timestamps went through its zone.
struct ZoneSpan {
    std::int64_t first_us = 0;
    std::int64_t last_us = 0;
};

// The zone is sealed by the profile's zone name and, with a span, by the offset in force and
// the offset changes near it (as far as a wall time in the span can reach), never by the bytes
// it came from: another copy or version of the zone data that agrees there seals alike.
std::string seal_of(const ExportProfile& p, const tz::Zone& zone, std::optional<ZoneSpan> span);

}  // namespace qorv_chemical_engineering_edge::export_profile
