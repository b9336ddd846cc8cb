// The three readiness profiles the tests grade against reference seals and the benchmarks time.
#pragma once

#include "qorv_chemical_engineering_edge/data_readiness.hpp"

namespace qorv_chemical_engineering_edge::data_readiness::reference {

// Every witness present and every quality figure clean: verdict Ready.
inline ReadinessProfile all_present() {
    return {.n_tags = 10,
            .n_rows = 1000,
            .baseline_present = true,
            .license_cleared = true,
            .missingness = 0.0,
            .unit_coverage = 1.0,
            .duplicate_timestamps = 0.0,
            .time_span_hours = 48.0,
            .sampling_regular = true,
            .has_controllers = true,
            .has_maintenance = true,
            .has_batches = true,
            .has_lab_samples = true};
}

// Only the six fields a caller must give; the rest keep their defaults (span unknown, no
// context sources): verdict ReadyWithCaveats.
inline ReadinessProfile required_only() {
    return {.n_tags = 10,
            .n_rows = 1000,
            .baseline_present = true,
            .license_cleared = true,
            .missingness = 0.05,
            .unit_coverage = 0.95};
}

// Every finding fails: verdict NotReadyMissingCriticalWitnesses.
inline ReadinessProfile everything_bad() {
    return {.n_tags = 0,
            .n_rows = 50,
            .baseline_present = false,
            .license_cleared = false,
            .missingness = 0.2,
            .unit_coverage = 0.5,
            .duplicate_timestamps = 0.05,
            .time_span_hours = 12.0,
            .sampling_regular = false};
}

}  // namespace qorv_chemical_engineering_edge::data_readiness::reference
