// The first unit court over many assertions, and its unit parser.
#include <string>
#include <vector>

#include "native.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace units = qorv_chemical_engineering_edge::unit_consistency;

namespace {

Py_ssize_t length(const std::string& text) {
    return static_cast<Py_ssize_t>(text.size());
}

// Copies one assertion tuple out of Python; false with a Python error set.
bool read_assertion(PyObject* item, units::UnitAssertion& out) {
    const char* text[5] = {};
    Py_ssize_t size[5] = {};
    int additive = 0;
    if (!PyArg_ParseTuple(item, "s#s#s#s#s#p:assertion", &text[0], &size[0], &text[1], &size[1],
                          &text[2], &size[2], &text[3], &size[3], &text[4], &size[4], &additive)) {
        return false;
    }
    std::string* fields[5] = {&out.context, &out.a_name, &out.a_unit, &out.b_name, &out.b_unit};
    for (int i = 0; i < 5; ++i) fields[i]->assign(text[i], static_cast<std::size_t>(size[i]));
    out.relation = additive != 0 ? units::AssertionRelation::AdditivelyCombined
                                 : units::AssertionRelation::SameQuantity;
    return true;
}

}  // namespace

bool read_assertions(PyObject* list, std::vector<units::UnitAssertion>& assertions) {
    const Py_ssize_t n = PyList_Size(list);
    assertions.resize(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        // The list is the Python layer's own and nothing runs in between, so the borrowed item
        // stays alive while it is read.
        if (!read_assertion(PyList_GetItem(list, i), assertions[static_cast<std::size_t>(i)]))
            return false;
    }
    return true;
}

PyObject* check_units_v1(PyObject*, PyObject* args) {
    return check_units<units::UnitConsistencyCourtV1>(args, "O!:check_units_v1", [](const auto& f) {
        return Py_BuildValue("(s#s#s#s#s#s#)", f.context.data(), length(f.context), f.a.data(),
                             length(f.a), f.b.data(), length(f.b), f.relation.data(),
                             length(f.relation), f.hazard.data(), length(f.hazard),
                             f.message.data(), length(f.message));
    });
}

PyObject* parse_unit_v1(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        const char* text = nullptr;
        Py_ssize_t size = 0;
        if (!PyArg_ParseTuple(args, "s#:parse_unit_v1", &text, &size)) return nullptr;
        const auto parsed = units::parse_unit({text, static_cast<std::size_t>(size)});
        if (!parsed) Py_RETURN_NONE;
        const std::string tag = parsed->dim.tag();
        const auto basis = units::name(parsed->basis);
        const auto& d = parsed->dim;
        return Py_BuildValue("(s#dds#(iiiii))", tag.data(), length(tag), parsed->scale,
                             parsed->offset, basis.data(), static_cast<Py_ssize_t>(basis.size()),
                             int{d.mass}, int{d.length}, int{d.time}, int{d.temperature},
                             int{d.amount});
    });
}

}  // namespace qorv_chemical_engineering_edge_py
