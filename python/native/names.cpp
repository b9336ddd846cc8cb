// The core's table of names for the Python layer, the one check of declared fields, and the
// one rendering of an instant: the package reads these instead of keeping its own copies.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "argument_binding.hpp"
#include "export/health.hpp"
#include "native.hpp"
#include "profile_options.hpp"
#include "qorv_chemical_engineering_edge/names.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace core = qorv_chemical_engineering_edge;
namespace names = qorv_chemical_engineering_edge::names;
namespace kit = qorv_chemical_engineering_py;

namespace {

template <class Texts>
PyObject* tuple_of(const Texts& texts) {
    PyRef out(PyTuple_New(static_cast<Py_ssize_t>(std::size(texts))));
    if (!out) return nullptr;
    Py_ssize_t at = 0;
    for (std::string_view text : texts) {
        PyObject* item = new_str(text);
        if (item == nullptr) return nullptr;
        PyTuple_SetItem(out.get(), at++, item);  // steals item
    }
    return out.release();
}

// Sets d[key] = value, taking `value` (null: an error is already set).
bool put(PyObject* d, const char* key, PyObject* value) {
    PyRef owned(value);
    return owned && PyDict_SetItemString(d, key, owned.get()) == 0;
}

PyObject* text(std::string_view t) {
    return new_str(t);
}

constexpr std::array<std::string_view, names::kReadingFacts.size()> fact_names() {
    std::array<std::string_view, names::kReadingFacts.size()> out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = names::kReadingFacts[i].name;
    return out;
}

PyObject* flag_object(const std::optional<bool>& value) {
    if (!value) return none();
    return PyBool_FromLong(*value ? 1 : 0);
}

}  // namespace

bool read_declared_flag(PyObject* value, const char* name, std::optional<bool>& out) {
    out.reset();
    if (value == nullptr || value == Py_None) return true;
    bool flag = false;
    if (!kit::convert_argument(PyRef::borrow(value), name, flag)) return false;
    out = flag;
    return true;
}

bool read_declared(PyObject* dict, core::export_profile::DeclaredFields& declared) {
    std::optional<bool>* slots[] = {&declared.baseline_present, &declared.license_cleared,
                                    &declared.has_maintenance, &declared.has_batches,
                                    &declared.has_lab_samples};
    static_assert(std::size(slots) == names::kDeclaredFields.size());
    for (std::size_t i = 0; i < names::kDeclaredFields.size(); ++i) {
        const std::string key(names::kDeclaredFields[i]);
        PyObject* value = PyDict_GetItemString(dict, key.c_str());  // borrowed; null: absent
        if (!read_declared_flag(value, key.c_str(), *slots[i])) return false;
    }
    // A licence is only ever declared cleared: False is the default, not a declaration.
    if (declared.license_cleared == false) declared.license_cleared.reset();
    return true;
}

PyObject* names_table(PyObject*, PyObject*) {
    return trampoline([]() -> PyObject* {
        namespace readiness = core::data_readiness;
        namespace units = core::unit_consistency;
        const std::array relations{units::name(units::AssertionRelation::SameQuantity),
                                   units::name(units::AssertionRelation::AdditivelyCombined)};
        const std::array verdicts{
            readiness::name(readiness::ReadinessVerdict::Ready),
            readiness::name(readiness::ReadinessVerdict::ReadyWithCaveats),
            readiness::name(readiness::ReadinessVerdict::NotReadyMissingCriticalWitnesses)};
        const std::array levels{readiness::name(readiness::ReadinessLevel::Ok),
                                readiness::name(readiness::ReadinessLevel::Caveat),
                                readiness::name(readiness::ReadinessLevel::CriticalMissing)};
        PyRef d(PyDict_New());
        PyRef courts(PyDict_New());
        if (!d || !courts || !put(courts.get(), "v1", text(names::kUnitCourtV1)) ||
            !put(courts.get(), "v2", text(names::kUnitCourtV2))) {
            return nullptr;
        }
        // For the reports: words for the notes' keys, and a profile as the core starts one (its
        // notes are those of an export read without remark).
        if (!put(d.get(), "note_labels", note_labels_to_python()) ||
            !put(d.get(), "quiet_profile",
                 profile_to_python(core::export_profile::ExportProfile{}))) {
            return nullptr;
        }
        const bool ok = put(d.get(), "readiness_fields", tuple_of(names::kReadinessFields)) &&
                        put(d.get(), "declared_fields", tuple_of(names::kDeclaredFields)) &&
                        put(d.get(), "layouts", tuple_of(names::kLayouts)) &&
                        put(d.get(), "timestamp_formats", tuple_of(names::kTimestampFormats)) &&
                        put(d.get(), "provenances", tuple_of(names::kProvenances)) &&
                        put(d.get(), "reading_facts", tuple_of(fact_names())) &&
                        put(d.get(), "decided", tuple_of(names::kDecided)) &&
                        put(d.get(), "quality_conventions", tuple_of(names::kQualityConventions)) &&
                        put(d.get(), "encodings", tuple_of(names::kEncodings)) &&
                        put(d.get(), "delimiters", tuple_of(names::kDelimiters)) &&
                        put(d.get(), "decimals", tuple_of(names::kDecimals)) &&
                        put(d.get(), "relations", tuple_of(relations)) &&
                        put(d.get(), "verdicts", tuple_of(verdicts)) &&
                        put(d.get(), "levels", tuple_of(levels)) &&
                        put(d.get(), "readiness_court", text(names::kReadinessCourt)) &&
                        put(d.get(), "profile_schema", text(names::kProfileSchema)) &&
                        put(d.get(), "unit_courts", courts.release());
        // From this long and this many samples on, a run of one value counts as frozen.
        if (!ok || !put(d.get(), "frozen_run",
                        Py_BuildValue(
                            "(dK)", static_cast<double>(core::export_profile::kFrozenUs) / 1e6,
                            static_cast<unsigned long long>(core::export_profile::kFrozenSamples))))
            return nullptr;
        return d.release();
    });
}

PyObject* declared_fields(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* given = nullptr;
        if (!PyArg_ParseTuple(args, "O!:declared_fields", &PyDict_Type, &given)) return nullptr;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        for (Py_ssize_t at = 0; PyDict_Next(given, &at, &key, &value);) {
            bool known = false;
            for (std::string_view name : names::kDeclaredFields) {
                const std::string text(name);
                known = known || (PyUnicode_Check(key) &&
                                  PyUnicode_CompareWithASCIIString(key, text.c_str()) == 0);
            }
            if (!known) {
                PyErr_Format(PyExc_TypeError, "%R is not a declared field", key);
                return nullptr;
            }
        }
        // license_cleared defaults to False, not None, so None is no more a flag than 1 is.
        PyObject* licence = PyDict_GetItemString(given, "license_cleared");
        bool cleared = false;
        if (licence == Py_None &&
            !kit::convert_argument(PyRef::borrow(licence), "license_cleared", cleared)) {
            return nullptr;
        }
        core::export_profile::DeclaredFields declared;
        if (!read_declared(given, declared)) return nullptr;
        const std::optional<bool>* slots[] = {&declared.baseline_present, &declared.license_cleared,
                                              &declared.has_maintenance, &declared.has_batches,
                                              &declared.has_lab_samples};
        PyRef out(PyDict_New());
        if (!out) return nullptr;
        for (std::size_t i = 0; i < names::kDeclaredFields.size(); ++i) {
            const std::string name(names::kDeclaredFields[i]);
            if (!put(out.get(), name.c_str(), flag_object(*slots[i]))) return nullptr;
        }
        return out.release();
    });
}

PyObject* format_instant(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* us = nullptr;
        if (!PyArg_ParseTuple(args, "O:format_instant", &us)) return nullptr;
        if (us == Py_None) return none();
        const long long value = PyLong_AsLongLong(us);
        if (value == -1 && PyErr_Occurred()) return nullptr;
        return new_str(core::export_profile::format_instant(value));
    });
}

PyObject* argument(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        const char* kind = nullptr;
        PyObject* value = nullptr;
        const char* name = nullptr;
        if (!PyArg_ParseTuple(args, "sOs:argument", &kind, &value, &name)) return nullptr;
        const PyRef held = PyRef::borrow(value);
        const std::string_view k(kind);
        if (k == "count") {
            std::uint64_t n = 0;
            if (!kit::convert_argument(held, name, n)) return nullptr;
            return PyLong_FromUnsignedLongLong(n);
        }
        if (k == "real") {
            double x = 0;
            if (!kit::convert_argument(held, name, x)) return nullptr;
            return PyFloat_FromDouble(x);
        }
        if (k == "flag") {
            bool b = false;
            if (!kit::convert_argument(held, name, b)) return nullptr;
            return PyBool_FromLong(b ? 1 : 0);
        }
        if (k == "text") {
            std::string s;
            if (!kit::convert_argument(held, name, s)) return nullptr;
            return new_str(s);
        }
        PyErr_Format(PyExc_ValueError, "no argument kind %s", kind);
        return nullptr;
    });
}

}  // namespace qorv_chemical_engineering_edge_py
