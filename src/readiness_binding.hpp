// The readiness court's thirteen parameters, bound and converted once for both native modules:
// `grade_readiness` here and the companion's `grade` accept and refuse the same arguments with
// the same texts.
#pragma once

#include <Python.h>

#include "argument_binding.hpp"
#include "py_ref.hpp"
#include "qorv_chemical_engineering_edge/data_readiness.hpp"

namespace qorv_chemical_engineering_py {

// The parameter names in order; the first six are required.
inline constexpr const char* kReadinessParameters[] = {
    "n_tags",           "n_rows",          "baseline_present",     "license_cleared",
    "missingness",      "unit_coverage",   "duplicate_timestamps", "time_span_hours",
    "sampling_regular", "has_controllers", "has_maintenance",      "has_batches",
    "has_lab_samples"};
inline constexpr std::size_t kReadinessRequired = 6;

// Converts the bound arguments into a profile; omitted optional ones keep the profile's
// defaults (no duplicates, an unknown time span, regular sampling, no context sources). False
// with the Python error set.
bool convert_readiness_profile(const PyRef (&slots)[std::size(kReadinessParameters)],
                               qorv_chemical_engineering_edge::data_readiness::ReadinessProfile& p);

}  // namespace qorv_chemical_engineering_py
