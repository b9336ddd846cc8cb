// Reading the profiler's options from the dict the package's Python layer builds, and
// reporting a profiler error as a Python exception.
#pragma once

#include "native.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge_py {

// Fills `options` from the dict; false with a Python error set (ValueError naming the option
// or the tag-list file).
bool read_profile_options(PyObject* dict,
                          qorv_chemical_engineering_edge::export_profile::ProfileOptions& options);

// Raises ValueError "FILE: reason" (or the reason alone) and returns null.
PyObject* raise_profile_error(
    const qorv_chemical_engineering_edge::export_profile::ProfileError& e);

// The finished profile as nested plain Python objects (see profile.cpp for the shape).
PyObject* profile_to_python(const qorv_chemical_engineering_edge::export_profile::ExportProfile& p);

}  // namespace qorv_chemical_engineering_edge_py
