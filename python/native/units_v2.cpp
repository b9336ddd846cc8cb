// The second unit court over many assertions, and its unit parser.
#include <string>
#include <string_view>
#include <vector>

#include "export/value_limits.hpp"
#include "native.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace v2 = qorv_chemical_engineering_edge::unit_consistency_v2;

namespace {

Py_ssize_t length(std::string_view text) {
    return static_cast<Py_ssize_t>(text.size());
}

}  // namespace

PyObject* check_units_v2(PyObject*, PyObject* args) {
    return check_units<v2::UnitConsistencyCourtV2>(args, "OOOO:check_units_v2");
}

PyObject* parse_unit_v2(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        const char* text = nullptr;
        Py_ssize_t size = 0;
        if (!PyArg_ParseTuple(args, "s#:parse_unit_v2", &text, &size)) return nullptr;
        const auto outcome = v2::parse_unit({text, static_cast<std::size_t>(size)});
        if (!outcome.unit) Py_RETURN_NONE;
        const auto& u = *outcome.unit;
        const std::string tag = u.dim.tag();
        const auto basis = v2::name(u.basis);
        const auto pressure = v2::name(u.pressure);
        const auto volume = v2::name(u.volume);
        const auto& d = u.dim;
        return Py_BuildValue("(s#dds#(iiiiii)s#s#s#)", tag.data(), length(tag), u.scale, u.offset,
                             basis.data(), length(basis), int{d.mass}, int{d.length}, int{d.time},
                             int{d.temperature}, int{d.amount}, int{d.current}, pressure.data(),
                             length(pressure), volume.data(), length(volume), u.canonical.data(),
                             length(u.canonical));
    });
}

PyObject* value_limits(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        const char* text = nullptr;
        Py_ssize_t size = 0;
        if (!PyArg_ParseTuple(args, "s#:value_limits", &text, &size)) return nullptr;
        const auto limits = qorv_chemical_engineering_edge::export_profile::value_limits(
            {text, static_cast<std::size_t>(size)});
        if (!limits.any()) Py_RETURN_NONE;
        // z#: a why left empty, where the unit sets no such bound, is None.
        const auto why = [](std::string_view text) { return text.empty() ? nullptr : text.data(); };
        return Py_BuildValue("{s:s#,s:d,s:d,s:d,s:z#,s:z#}", "kind", limits.kind.data(),
                             length(limits.kind), "impossible_below", limits.impossible_below,
                             "impossible_above", limits.impossible_above, "suspicious_below",
                             limits.suspicious_below, "impossible_why", why(limits.impossible_why),
                             length(limits.impossible_why), "suspicious_why",
                             why(limits.suspicious_why), length(limits.suspicious_why));
    });
}

}  // namespace qorv_chemical_engineering_edge_py
