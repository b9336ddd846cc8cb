// The unit courts over many assertions (both read their assertions here), and the first court's
// unit parser.
#include "native.hpp"  // first: it defines PY_SSIZE_T_CLEAN before Python.h, for the '#' formats

#include <array>
#include <limits>
#include <string>
#include <vector>

#include "argument_binding.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace kit = qorv_chemical_engineering_py;
namespace units = qorv_chemical_engineering_edge::unit_consistency;

namespace {

Py_ssize_t length(const std::string& text) {
    return static_cast<Py_ssize_t>(text.size());
}

// The assertion's fields in the order they are checked, and where each goes.
constexpr std::array<const char*, 5> kTextFields{"a_unit", "b_unit", "context", "a_name", "b_name"};
constexpr std::array<std::string units::UnitAssertion::*, 5> kTextSlots{
    &units::UnitAssertion::a_unit, &units::UnitAssertion::b_unit, &units::UnitAssertion::context,
    &units::UnitAssertion::a_name, &units::UnitAssertion::b_name};
constexpr std::array<const char*, 8> kFindingFields{"context", "a",       "b",      "relation",
                                                    "hazard",  "message", "factor", "offset"};
constexpr std::array kRelations{units::AssertionRelation::SameQuantity,
                                units::AssertionRelation::AdditivelyCombined};

PyObject* intern(const char* name) {
    return PyUnicode_InternFromString(name);
}

}  // namespace

bool UnitCall::start(PyObject* args, const char* format) {
    if (!PyArg_ParseTuple(args, format, &assertions_, &assertion_type_, &finding_type_,
                          &mapping_type_)) {
        return false;
    }
    if (!PyType_Check(assertion_type_) || !PyType_Check(finding_type_)) {
        PyErr_SetString(PyExc_TypeError, "the assertion and finding classes must be types");
        return false;
    }
    for (std::size_t i = 0; i < kTextFields.size(); ++i) {
        text_names_[i] = PyRef(intern(kTextFields[i]));
        if (!text_names_[i]) return false;
    }
    // The class's own allocator (object.__new__): it lays out the instance's attributes the
    // way the class shares their keys, which PyType_GenericNew does not.
    new_finding_ = reinterpret_cast<newfunc>(
        PyType_GetSlot(reinterpret_cast<PyTypeObject*>(finding_type_), Py_tp_new));
    no_args_ = PyRef(PyTuple_New(0));
    if (new_finding_ == nullptr || !no_args_) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "the finding class has no __new__");
        return false;
    }
    relation_name_ = PyRef(intern("relation"));
    if (!relation_name_) return false;
    for (std::size_t i = 0; i < kFindingFields.size(); ++i) {
        finding_names_[i] = PyRef(intern(kFindingFields[i]));
        if (!finding_names_[i]) return false;
    }
    return true;
}

bool UnitCall::read(std::vector<units::UnitAssertion>& out) {
    if (PyList_Check(assertions_)) out.reserve(static_cast<std::size_t>(PyList_Size(assertions_)));
    PyRef iterator(PyObject_GetIter(assertions_));
    if (!iterator) return false;
    for (Py_ssize_t index = 0;; ++index) {
        PyRef item(PyIter_Next(iterator.get()));
        if (!item) return PyErr_Occurred() == nullptr;
        if (!read_item(item.get(), index, out.emplace_back())) return false;
    }
}

// As the package has always told them apart: a UnitAssertion, then a mapping of its fields,
// then a pair of unit texts. A plain 2-tuple goes first: it is neither of the others.
bool UnitCall::read_item(PyObject* item, Py_ssize_t index, units::UnitAssertion& out) {
    if (PyTuple_CheckExact(item) && PyTuple_Size(item) == 2) return read_pair(item, index, out);
    int is = PyObject_IsInstance(item, assertion_type_);
    if (is != 0) return is > 0 && read_fields(item, index, out);
    is = PyObject_IsInstance(item, mapping_type_);
    if (is < 0) return false;
    if (is > 0) {
        PyRef made(from_mapping(item, index));
        return made && read_fields(made.get(), index, out);
    }
    if (PyTuple_Check(item) && PyTuple_Size(item) == 2) return read_pair(item, index, out);
    PyRef type_name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(item)), "__name__"));
    if (!type_name) return false;
    PyErr_Format(PyExc_TypeError,
                 "assertions[%zd]: expected a UnitAssertion, a pair of unit texts or a mapping, "
                 "not %S",
                 index, type_name.get());
    return false;
}

// UnitAssertion(**item); a TypeError on the way names the assertion.
PyObject* UnitCall::from_mapping(PyObject* item, Py_ssize_t index) const {
    PyRef kwargs(PyDict_New());
    if (!kwargs) return nullptr;
    if (PyDict_Merge(kwargs.get(), item, 1) == 0) {
        if (PyObject* made = PyObject_Call(assertion_type_, no_args_.get(), kwargs.get())) {
            return made;
        }
    }
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return nullptr;
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    const PyRef held_type(type), held_traceback(traceback);
    PyRef original(value);
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    PyRef message(PyUnicode_FromFormat("assertions[%zd]: %S", index, value));
    if (!message) return nullptr;
    PyRef error(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
    if (!error) return nullptr;
    // As `raise ... from None` leaves it: the original kept as context, not shown.
    PyException_SetContext(error.get(), original.release());  // steals
    if (PyObject_SetAttrString(error.get(), "__suppress_context__", Py_True) != 0) return nullptr;
    Py_IncRef(PyExc_TypeError);
    PyErr_Restore(PyExc_TypeError, error.release(), nullptr);  // no chaining to a handled error
    return nullptr;
}

// A pair is UnitAssertion(a_unit, b_unit): the other fields are the class's defaults.
bool UnitCall::read_pair(PyObject* item, Py_ssize_t index, units::UnitAssertion& out) {
    if (!read_text(PyTuple_GetItem(item, 0), index, 0, out) ||
        !read_text(PyTuple_GetItem(item, 1), index, 1, out)) {
        return false;
    }
    if (!pair_defaults_) {
        units::UnitAssertion defaults;
        if (!read_fields(assertion_type_, index, defaults, 2)) return false;
        pair_defaults_ = std::move(defaults);
    }
    out.context = pair_defaults_->context;
    out.a_name = pair_defaults_->a_name;
    out.b_name = pair_defaults_->b_name;
    out.relation = pair_defaults_->relation;
    return true;
}

// The text fields from `first` on, then the relation, read as attributes of `source`.
bool UnitCall::read_fields(PyObject* source, Py_ssize_t index, units::UnitAssertion& out,
                           std::size_t first) const {
    for (std::size_t field = first; field < kTextFields.size(); ++field) {
        PyRef value(PyObject_GetAttr(source, text_names_[field].get()));
        if (!value || !read_text(value.get(), index, field, out)) return false;
    }
    PyRef relation(PyObject_GetAttr(source, relation_name_.get()));
    if (!relation) return false;
    if (PyUnicode_Check(relation.get())) {
        for (const auto r : kRelations) {
            const std::string text(units::name(r));
            if (PyUnicode_CompareWithASCIIString(relation.get(), text.c_str()) == 0) {
                out.relation = r;
                return true;
            }
        }
    }
    std::string options;
    for (const auto r : kRelations) {
        options += (options.empty() ? "'" : ", '") + std::string(units::name(r)) + "'";
    }
    PyErr_Format(PyExc_ValueError, "option assertions[%zd].relation=%R is not one of %s", index,
                 relation.get(), options.c_str());
    return false;
}

// A text field converted as every text argument of the package is, errors naming the field.
bool UnitCall::read_text(PyObject* value, Py_ssize_t index, std::size_t field,
                         units::UnitAssertion& out) {
    if (kit::extract_bound(value, out.*kTextSlots[field])) return true;
    const std::string name =
        "assertions[" + std::to_string(index) + "]." + std::string(kTextFields[field]);
    kit::argument_extraction_error(name.c_str());
    return false;
}

// A UnitFinding made as its dataclass __init__ makes one (the same attributes, in field order)
// without running it: the frozen class's __init__ costs more than the court's own judgement
// (10k findings: ~15 ms against ~10 ms for the whole native call).
PyObject* UnitCall::finding(const FindingTexts& texts, double factor, double offset) {
    PyRef object(
        new_finding_(reinterpret_cast<PyTypeObject*>(finding_type_), no_args_.get(), nullptr));
    if (!object) return nullptr;
    for (std::size_t i = 0; i < kFindingFields.size(); ++i) {
        PyRef value;
        if (i < texts.size()) {
            // A text equal to the previous finding's shares its str: contexts, relations and
            // hazards mostly repeat (10k findings, bench/unit_check_bench.py: 5% less CPU).
            PyRef& last = last_texts_[i];
            if (!last || *texts[i] != *last_sources_[i]) {
                last = PyRef(new_str(*texts[i]));
                last_sources_[i] = texts[i];
                if (!last) return nullptr;
            }
            value = PyRef::borrow(last.get());
        } else {
            const double x = i == texts.size() ? factor : offset;
            value = x == x ? PyRef(PyFloat_FromDouble(x)) : PyRef(none());  // NaN: no conversion
        }
        if (!value || PyObject_GenericSetAttr(object.get(), finding_names_[i].get(), value.get()))
            return nullptr;
    }
    return object.release();
}

PyObject* check_units_v1(PyObject*, PyObject* args) {
    return check_units<units::UnitConsistencyCourtV1>(args, "OOOO:check_units_v1");
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
