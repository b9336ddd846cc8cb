// The ordered work queue: an export's pieces scanned on worker threads, their partials merged in
// order on the calling thread as they arrive.
#pragma once

#include <span>

#include "export/plan.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

// Scans every piece of `plans` (in file order, each file's pieces in order) on `threads`
// workers and merges them into `merged`; an error, or kCancelled once `cancelled` says so.
std::optional<ProfileError> scan_plans(std::span<const FilePlan> plans,
                                       const ProfileOptions& options, unsigned threads,
                                       const Progress& progress, const Cancelled& cancelled,
                                       PartialProfile& merged);

}  // namespace qorv_chemical_engineering_edge::export_profile
