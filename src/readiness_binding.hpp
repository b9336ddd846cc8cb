// The readiness court's thirteen parameters, bound and converted once for both native modules:
// `grade_readiness` here and the companion's `grade` accept and refuse the same arguments with
// the same texts.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

#include "argument_binding.hpp"
#include "py_ref.hpp"
#include "qorv_chemical_engineering_edge/data_readiness.hpp"
#include "qorv_chemical_engineering_edge/names.hpp"

namespace qorv_chemical_engineering_py {

// The parameter names in order, from the core's names table (as C strings, for the binder); the
// first six are required.
inline constexpr auto kReadinessParameters = [] {
    std::array<const char*, qorv_chemical_engineering_edge::names::kReadinessFields.size()> out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = qorv_chemical_engineering_edge::names::kReadinessFields[i].data();
    }
    return out;
}();
inline constexpr std::size_t kReadinessRequired = 6;

// Converts the bound arguments into a profile; omitted optional ones keep the profile's
// defaults (no duplicates, an unknown time span, regular sampling, no context sources). False
// with the Python error set.
bool convert_readiness_profile(const PyRef (&slots)[kReadinessParameters.size()],
                               qorv_chemical_engineering_edge::data_readiness::ReadinessProfile& p);

}  // namespace qorv_chemical_engineering_py
