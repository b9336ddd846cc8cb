// Time zones for the Python layer: it finds a zone's TZif bytes (the system's database, then
// the tzdata package) and the core does everything else with them, so a wall time means the same
// instant in the options, the scan and the seal.
#include <cstdint>
#include <string_view>

#include "profile_options.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace profile = qorv_chemical_engineering_edge::export_profile;

PyObject* zone_name_fault(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        const char* name = nullptr;
        Py_ssize_t size = 0;
        if (!PyArg_ParseTuple(args, "s#:zone_name_fault", &name, &size)) return nullptr;
        const std::string_view why =
            profile::zone_name_fault({name, static_cast<std::size_t>(size)});
        return why.empty() ? none() : new_str(why);
    });
}

PyObject* zone_instant(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        long long wall_us = 0;
        const char* name = nullptr;
        const char* tzif = nullptr;
        Py_ssize_t name_size = 0, tzif_size = 0;
        if (!PyArg_ParseTuple(args, "Ls#y#:zone_instant", &wall_us, &name, &name_size, &tzif,
                              &tzif_size))
            return nullptr;
        const auto instant =
            profile::zone_instant(wall_us, {name, static_cast<std::size_t>(name_size)},
                                  {tzif, static_cast<std::size_t>(tzif_size)});
        if (!instant) return raise_profile_error(instant.error());
        return PyLong_FromLongLong(instant.value());
    });
}

}  // namespace qorv_chemical_engineering_edge_py
