// The Python module `qorv_chemical_engineering`: a thin face over the two courts.
//
// Laid out as one path: the function bodies, the module definition, then the init entry.
// Built against the stable ABI (abi3) with single-phase initialisation; every entry point runs
// under `trampoline`, so only Python exceptions leave the module.
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "argument_binding.hpp"
#include "py_ref.hpp"
#include "qorv_chemical_engineering_edge/data_readiness.hpp"
#include "qorv_chemical_engineering_edge/hashing.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency.hpp"
#include "readiness_binding.hpp"
#include "trampoline.hpp"

namespace qorv_chemical_engineering_py {
namespace {

namespace readiness = qorv_chemical_engineering_edge::data_readiness;
namespace units = qorv_chemical_engineering_edge::unit_consistency;
namespace hashing = qorv_chemical_engineering_edge::hashing;

// The version held by pyproject.toml, passed in by the build.
constexpr char kVersion[] = QCE_VERSION_TEXT;

// ---- version -----------------------------------------------------------------------------

PyObject* version(PyObject*, PyObject*) {
    return trampoline([]() -> PyObject* {
        return checked(PyUnicode_FromStringAndSize(kVersion, sizeof kVersion - 1));
    });
}

// ---- classify_unit_pair ------------------------------------------------------------------

constexpr const char* kClassifyParameters[] = {"a", "b"};
PyObject* classify_interned[2] = {};
const FunctionDescription kClassifyUnitPair{"classify_unit_pair", kClassifyParameters, 2,
                                            classify_interned};

// The texts a result can hold, made once at module init as interned str and indexed by the
// enumeration's value: a call returns a new reference instead of building the same str again.
template <class Enum, std::size_t N>
struct TextCache {
    PyObject* objects[N] = {};

    bool make() {
        for (std::size_t i = 0; i < N; ++i) {
            const std::string_view text = name(static_cast<Enum>(i));
            objects[i] =
                PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
            if (objects[i] == nullptr) return false;
            PyUnicode_InternInPlace(&objects[i]);
        }
        return true;
    }
    PyObject* get(Enum value) const {
        PyObject* text = objects[static_cast<std::size_t>(value)];
        Py_IncRef(text);
        return text;
    }
};

TextCache<units::UnitHazard, 6> hazard_texts;
TextCache<readiness::ReadinessVerdict, 3> verdict_texts;

PyObject* classify_unit_pair(PyObject*, PyObject* args, PyObject* kwargs) {
    return trampoline([&]() -> PyObject* {
        PyRef slots[2];
        if (!extract_arguments_tuple_dict(kClassifyUnitPair, args, kwargs, slots)) return nullptr;
        units::UnitAssertion assertion{"py", "a", {},
                                       "b",  {},  units::AssertionRelation::SameQuantity};
        if (!convert_argument(slots[0], "a", assertion.a_unit)) return nullptr;
        if (!convert_argument(slots[1], "b", assertion.b_unit)) return nullptr;

        // The court decides and seals; the finding's message is never rendered, since only the
        // hazard is returned.
        units::UnitHazard hazard{};
        units::UnitConsistencyCourtV1::judge({&assertion, 1}, {&hazard, 1});
        return hazard_texts.get(hazard);
    });
}

// ---- grade_readiness ---------------------------------------------------------------------

PyObject* grade_interned[kReadinessParameters.size()] = {};
const FunctionDescription kGradeReadiness{"grade_readiness", kReadinessParameters,
                                          kReadinessRequired, grade_interned};

// Result keys, in the order the dict shows them; interned once at module init.
struct ResultKeys {
    PyObject* verdict = nullptr;
    PyObject* n_caveat = nullptr;
    PyObject* n_critical_missing = nullptr;
    PyObject* court_hash = nullptr;
} result_keys;

// Inserts a new value reference into the dict, which keeps its own.
bool set_item(PyObject* dict, PyObject* key, PyObject* new_value) {
    PyRef value(new_value);
    return PyDict_SetItem(dict, key, value.get()) == 0;
}

PyObject* grade_readiness(PyObject*, PyObject* args, PyObject* kwargs) {
    return trampoline([&]() -> PyObject* {
        PyRef s[kReadinessParameters.size()];
        if (!extract_arguments_tuple_dict(kGradeReadiness, args, kwargs, s)) return nullptr;
        readiness::ReadinessProfile p;
        if (!convert_readiness_profile(s, p)) return nullptr;

        // The findings' messages are never returned, so the court only decides and seals.
        const auto court = readiness::IndustrialDataReadinessCourtV1::judge(p);
        char court_hash[64];
        hashing::write_hex(court.seal, court_hash);

        PyRef result(checked(PyDict_New()));
        if (!set_item(result.get(), result_keys.verdict, verdict_texts.get(court.verdict)) ||
            !set_item(result.get(), result_keys.n_caveat,
                      checked(PyLong_FromUnsignedLongLong(court.n_caveat))) ||
            !set_item(result.get(), result_keys.n_critical_missing,
                      checked(PyLong_FromUnsignedLongLong(court.n_critical_missing))) ||
            !set_item(result.get(), result_keys.court_hash,
                      checked(PyUnicode_FromStringAndSize(court_hash, sizeof court_hash)))) {
            return nullptr;
        }
        return result.release();
    });
}

// ---- module definition -------------------------------------------------------------------

constexpr const char* kVersionDoc =
    "version()\n--\n\n"
    "Return the version string of the qorv_chemical_engineering library.";

constexpr const char* kClassifyDoc =
    "classify_unit_pair(a, b)\n--\n\n"
    "Classify a pair of engineering-unit strings into a unit-consistency hazard tag\n"
    "(`consistent` / `scale_mismatch` / `affine_offset_hazard` / `dimension_mismatch` / "
    "`basis_mismatch` /\n"
    "`unknown_unit`) \u2014 the deterministic unit court applied to one `same-quantity` "
    "assertion.";

constexpr const char* kGradeDoc =
    "grade_readiness(n_tags, n_rows, baseline_present, license_cleared, missingness, "
    "unit_coverage, duplicate_timestamps=0.0, time_span_hours=..., sampling_regular=True, "
    "has_controllers=False, has_maintenance=False, has_batches=False, has_lab_samples=False)\n"
    "--\n\n"
    "Grade a historian-export profile (the deterministic `IndustrialDataReadinessCourtV1`). "
    "Returns a dict with\n"
    "`verdict`, `n_caveat`, `n_critical_missing`, and the sealed `court_hash`. The optional "
    "context fields default to\n"
    "absent, which grades as a caveat: the same defaults as the core library's default "
    "profile.";

struct FunctionEntry {
    const char* name;
    PyCFunction function;
    int flags;
    const char* doc;
};

const FunctionEntry kFunctions[] = {
    {"version", version, METH_NOARGS, kVersionDoc},
    {"classify_unit_pair",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(classify_unit_pair)),
     METH_VARARGS | METH_KEYWORDS, kClassifyDoc},
    {"grade_readiness",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(grade_readiness)),
     METH_VARARGS | METH_KEYWORDS, kGradeDoc},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "qorv_chemical_engineering",
    "The Python module `qorv_chemical_engineering`.",
    0,        // no per-module state
    nullptr,  // functions are added by the initializer
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The interpreter that imported the module; -1 until then. Never reset. Only the main
// interpreter may own the module, so that a sub-interpreter touching it first (and being
// refused, by us or by CPython) cannot lock the main interpreter out for the rest of the process.
std::atomic<std::int64_t> owning_interpreter{-1};
// CPython numbers interpreters from 0 in creation order; the main interpreter is always 0.
constexpr std::int64_t kMainInterpreter = 0;
// The module, kept for the life of the process after the first successful import.
PyObject* cached_module = nullptr;

// Appends the function's name to __all__ and sets it as a module attribute.
bool add_function(PyObject* module, const FunctionEntry& entry) {
    // The interpreter keeps pointing at the method definition, so it is never freed.
    auto* definition = new PyMethodDef{entry.name, entry.function, entry.flags, entry.doc};
    PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) return false;
    PyRef function(PyCMethod_New(definition, module, module_name.get(), nullptr));
    if (!function) return false;

    static PyObject* const name_attribute = PyUnicode_InternFromString("__name__");
    static PyObject* const all_attribute = PyUnicode_InternFromString("__all__");
    if (name_attribute == nullptr || all_attribute == nullptr) return false;

    PyRef name(PyObject_GetAttr(function.get(), name_attribute));
    if (!name) return false;
    PyRef all(PyObject_GetAttr(module, all_attribute));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all.reset(PyList_New(0));
        if (!all || PyObject_SetAttr(module, all_attribute, all.get()) != 0) return false;
    }
    return PyList_Append(all.get(), name.get()) == 0 &&
           PyObject_SetAttr(module, name.get(), function.get()) == 0;
}

bool initialize(PyObject* module) {
    if (!intern_parameter_names(kClassifyUnitPair) || !intern_parameter_names(kGradeReadiness)) {
        return false;
    }
    result_keys = {PyUnicode_InternFromString("verdict"), PyUnicode_InternFromString("n_caveat"),
                   PyUnicode_InternFromString("n_critical_missing"),
                   PyUnicode_InternFromString("court_hash")};
    if (!result_keys.verdict || !result_keys.n_caveat || !result_keys.n_critical_missing ||
        !result_keys.court_hash) {
        return false;
    }
    if (!hazard_texts.make() || !verdict_texts.make()) return false;
    for (const auto& entry : kFunctions) {
        if (!add_function(module, entry)) return false;
    }
    return true;
}

PyObject* make_module() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1) return nullptr;

    // Refuse before claiming: a refused import must leave no owner behind.
    std::int64_t expected = -1;
    if (interpreter != kMainInterpreter ||
        (!owning_interpreter.compare_exchange_strong(expected, interpreter) &&
         expected != interpreter)) {
        PyErr_SetString(PyExc_ImportError,
                        "qorv_chemical_engineering does not yet support sub-interpreters: it is "
                        "initialised once per process and may only be imported by the first "
                        "interpreter (see the tracked issue \"sub-interpreter support\")");
        return nullptr;
    }

    if (cached_module != nullptr) {
        Py_IncRef(cached_module);
        return cached_module;
    }
    PyRef module(PyModule_Create2(&module_def, 3));  // 3: the stable ABI's API version
    if (!module || !initialize(module.get())) return nullptr;
    cached_module = module.get();
    Py_IncRef(cached_module);
    return module.release();
}

}  // namespace
}  // namespace qorv_chemical_engineering_py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_qorv_chemical_engineering() {
    return qorv_chemical_engineering_py::trampoline(qorv_chemical_engineering_py::make_module);
}
