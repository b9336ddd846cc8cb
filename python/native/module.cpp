// The module `qorv_chemical_engineering_edge._native`: the core library in full, for the
// package's Python layer.
//
// Laid out as one path: the function table, the module definition, then the init entry. Built
// against the stable ABI (abi3). The module keeps no state of its own, so every interpreter
// that imports it gets an independent module object.
#include "export/plan.hpp"
#include "native.hpp"
#include "partials.hpp"

namespace qorv_chemical_engineering_edge_py {
namespace {

PyMethodDef functions[] = {
    {"grade", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(grade)),
     METH_VARARGS | METH_KEYWORDS, "The readiness court in full, bound as grade_readiness."},
    {"check_units_v1", check_units_v1, METH_VARARGS, "The first unit court over assertions."},
    {"parse_unit_v1", parse_unit_v1, METH_VARARGS, "The first court's unit parser."},
    {"check_units_v2", check_units_v2, METH_VARARGS, "The second unit court over assertions."},
    {"parse_unit_v2", parse_unit_v2, METH_VARARGS, "The second court's unit parser."},
    {"value_limits", value_limits, METH_VARARGS, "What a unit rules out of its values."},
    {"profile_files", profile_files, METH_VARARGS, "Profile export files."},
    {"profile_stream", profile_stream, METH_VARARGS, "Profile an Arrow C stream."},
    {"read_tag_list", read_tag_list, METH_VARARGS, "A tag list's (tag, unit) rows."},
    {"zone_name_fault", zone_name_fault, METH_VARARGS, "Why a text is no zone name, or None."},
    {"zone_instant", zone_instant, METH_VARARGS, "The instant of a wall time in a zone."},
    QCE_PARTIAL_FUNCTIONS,
    {"names", names_table, METH_NOARGS, "The core's table of names."},
    {"declared_fields", declared_fields, METH_VARARGS, "Checked declared fields."},
    {"availability_grid", availability_grid, METH_VARARGS, "The availability grid of a report."},
    {"argument", argument, METH_VARARGS, "One argument converted as the module's binder does."},
    {"format_instant", format_instant, METH_VARARGS, "An epoch-microsecond instant as ISO 8601."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "qorv_chemical_engineering_edge._native",
    "Native entry points of qorv_chemical_engineering_edge; use the package, not this module.",
    0,  // no per-module state
    functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace qorv_chemical_engineering_edge_py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__native() {
    return qorv_chemical_engineering_py::trampoline([]() -> PyObject* {
        if (!qorv_chemical_engineering_edge_py::intern_grade_parameters()) return nullptr;
        PyObject* module =
            PyModule_Create2(&qorv_chemical_engineering_edge_py::module_def, 3);  // 3: abi3
        // Pieces of plain files start at multiples of it, so callers size pieces by it.
        constexpr auto block = qorv_chemical_engineering_edge::export_profile::kDigestBlock;
        if (module != nullptr &&
            PyModule_AddIntConstant(module, "DIGEST_BLOCK", static_cast<long>(block)) != 0) {
            Py_DecRef(module);
            return nullptr;
        }
        return module;
    });
}
