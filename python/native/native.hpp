// What every file of the companion's native module shares: the binding kit's owning reference
// and guard, and the entry points themselves.
//
// The Python layer of the package checks and normalises arguments (types, ranges, option
// names) before it calls in here, so these functions take plain positional values (the unit
// courts read and check their many assertions here, in one call). An entry
// point returns a new reference, or null with a Python exception set; no C++ exception leaves
// it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "py_ref.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency.hpp"
#include "trampoline.hpp"

namespace qorv_chemical_engineering_edge_py {

// The binding kit shared with the module qorv_chemical_engineering: the owning reference and the
// guard every entry point runs under (a C++ failure becomes PanicException, running out of memory
// MemoryError).
using qorv_chemical_engineering_py::PyRef;
using qorv_chemical_engineering_py::trampoline;

// Runs `body` with the interpreter lock released, taking it back however the body ends.
template <class Body>
auto without_gil(Body&& body) {
    struct Restore {
        PyThreadState* saved;
        ~Restore() { PyEval_RestoreThread(saved); }
    } restore{PyEval_SaveThread()};
    return body();
}

// A new reference to None.
inline PyObject* none() {
    Py_IncRef(Py_None);
    return Py_None;
}

// A new str from UTF-8 bytes (the core's texts are UTF-8); null with an error on failure.
inline PyObject* new_str(std::string_view text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// grade(the 13 parameters of grade_readiness, bound the same way)
//   -> (verdict, n_caveat, n_critical_missing, court_hash, [(dimension, level, message), ...],
//       the 13 values as converted)
PyObject* grade(PyObject* module, PyObject* args, PyObject* kwargs);
// Interns grade's parameter names at module init; false with a Python error set.
bool intern_grade_parameters();
// check_units_v1(assertions, UnitAssertion, UnitFinding, Mapping)
//   -> (assertions_checked, n_consistent, n_hazard, court_hash, (UnitFinding, ...))
// `assertions` is any iterable of UnitAssertion instances, mappings of their fields and pairs of
// unit texts, read and checked here as units.check_units documents (TypeError or ValueError
// naming "assertions[i]" or its field); the classes are the package's own. The first court's
// findings have factor and offset None.
PyObject* check_units_v1(PyObject* module, PyObject* args);
// check_units_v2: as check_units_v1, each finding with the second court's (factor, offset);
// None where no conversion exists.
PyObject* check_units_v2(PyObject* module, PyObject* args);

// One check_units call: its arguments, the assertions read from them and the findings made
// for them. Every member function is false or null with a Python error set on failure.
class UnitCall {
  public:
    using FindingTexts = std::array<const std::string*, 6>;  // context, a, b, relation, hazard,
                                                             // message

    // Parses (assertions, UnitAssertion, UnitFinding, Mapping) with `format`.
    bool start(PyObject* args, const char* format);
    bool read(std::vector<qorv_chemical_engineering_edge::unit_consistency::UnitAssertion>& out);
    // A new UnitFinding; NaN factor or offset becomes None.
    PyObject* finding(const FindingTexts& texts, double factor, double offset);

  private:
    using Assertion = qorv_chemical_engineering_edge::unit_consistency::UnitAssertion;
    bool read_item(PyObject* item, Py_ssize_t index, Assertion& out);
    PyObject* from_mapping(PyObject* item, Py_ssize_t index) const;
    bool read_pair(PyObject* item, Py_ssize_t index, Assertion& out);
    bool read_fields(PyObject* source, Py_ssize_t index, Assertion& out,
                     std::size_t first = 0) const;
    static bool read_text(PyObject* value, Py_ssize_t index, std::size_t field, Assertion& out);

    PyObject* assertions_ = nullptr;  // borrowed from the call's arguments, as are the classes
    PyObject* assertion_type_ = nullptr;
    PyObject* finding_type_ = nullptr;
    PyObject* mapping_type_ = nullptr;
    std::array<PyRef, 5> text_names_;
    PyRef relation_name_;
    std::array<PyRef, 8> finding_names_;
    newfunc new_finding_ = nullptr;
    std::array<PyRef, 6> last_texts_;  // the previous finding's texts as str, and their source
    FindingTexts last_sources_{};
    PyRef no_args_;
    std::optional<Assertion> pair_defaults_;  // what a pair takes from the class, read once
};

// Both unit courts' entry points: the assertions through `Court::build`, returned as
// (assertions_checked, n_consistent, n_hazard, court_hash, (UnitFinding, ...)).
template <class Court>
PyObject* check_units(PyObject* args, const char* format) {
    return trampoline([&]() -> PyObject* {
        UnitCall call;
        std::vector<qorv_chemical_engineering_edge::unit_consistency::UnitAssertion> assertions;
        if (!call.start(args, format) || !call.read(assertions)) return nullptr;
        const auto court = Court::build(assertions);
        PyRef findings(PyTuple_New(static_cast<Py_ssize_t>(court.findings.size())));
        if (!findings) return nullptr;
        Py_ssize_t index = 0;
        for (const auto& f : court.findings) {
            double factor = std::numeric_limits<double>::quiet_NaN();
            double offset = factor;
            if constexpr (requires { f.factor; }) {
                factor = f.factor;
                offset = f.offset;
            }
            PyObject* item = call.finding(
                {&f.context, &f.a, &f.b, &f.relation, &f.hazard, &f.message}, factor, offset);
            if (item == nullptr) return nullptr;
            PyTuple_SetItem(findings.get(), index++, item);  // steals item
        }
        return Py_BuildValue("(KKKs#N)", static_cast<unsigned long long>(court.assertions_checked),
                             static_cast<unsigned long long>(court.n_consistent),
                             static_cast<unsigned long long>(court.n_hazard),
                             court.court_hash.data(),
                             static_cast<Py_ssize_t>(court.court_hash.size()), findings.release());
    });
}
// parse_unit_v1(text) -> None or (dimension_tag, scale, offset, basis, (M, L, T, Θ, N))
PyObject* parse_unit_v1(PyObject* module, PyObject* args);
// parse_unit_v2(text) -> None or (dimension_tag, scale, offset, basis, (M, L, T, Θ, N, I),
//                                 pressure_reference, volume_reference, canonical)
PyObject* parse_unit_v2(PyObject* module, PyObject* args);
// value_limits(unit) -> None where the unit sets no limit, or {"kind", "impossible_below",
// "impossible_above", "suspicious_below", "impossible_why", "suspicious_why"}
PyObject* value_limits(PyObject* module, PyObject* args);

// profile_files([path, ...], options, progress) -> the profile (see profile_convert.cpp);
// ValueError "FILE: reason" when the profiler refuses the input.
PyObject* profile_files(PyObject* module, PyObject* args);
// profile_stream(capsule, label, options) -> the profile of an Arrow C stream's table.
PyObject* profile_stream(PyObject* module, PyObject* args);

// availability_grid(start_us, bin_us, bins, rows, counts, first, last, step (bytes, as the
//   profile's "availability" holds them), samples, present ([int] per tag), wide, buckets,
//   max_tags (-1: all)[, low, high (bytes, as the profile's, empty: none)[, tags ([int]: draw
//   these, in this order, instead of those with the least data)]]) -> (drawn tag
//   indexes, start_us, bucket_us, shares (float or None), present, expected, bad_state
//   ([drawn tag][bucket]), rows per bucket, low, high ([drawn tag][bucket], float or None; empty
//   without an envelope))
PyObject* availability_grid(PyObject* module, PyObject* args);
// names() -> the core's table of names: {"readiness_fields": (...), "declared_fields": (...),
//   "layouts", "timestamp_formats", "provenances", "delimiters", "decimals", "relations",
//   "verdicts", "levels": tuples of str; "readiness_court", "profile_schema": str;
//   "unit_courts": {"v1": str, "v2": str}}
PyObject* names_table(PyObject* module, PyObject* args);
// declared_fields({name: value}) -> {name: None or bool} for every declared field, in the
// table's order; TypeError naming the field for a value that is neither None nor a bool (for
// license_cleared, whose default is False: neither True nor False).
PyObject* declared_fields(PyObject* module, PyObject* args);
// argument(kind, value, name) -> the value converted as qorv_chemical_engineering's binder converts
// its parameters ("count": int 0..2**64-1, "real": float, "flag": bool, "text": str), or the
// same error, prefixed "argument 'NAME': ".
PyObject* argument(PyObject* module, PyObject* args);
// format_instant(us or None) -> "YYYY-MM-DDThh:mm:ss[.ffffff]Z" or None
PyObject* format_instant(PyObject* module, PyObject* args);

// A declared field's value: absent (null or None) or a bool (True, False or a NumPy bool);
// false with TypeError "argument 'NAME': ..." otherwise.
bool read_declared_flag(PyObject* value, const char* name, std::optional<bool>& out);
// Every declared field from `dict` (absent keys: not declared); license_cleared False reads as
// not declared, for a licence is only ever declared cleared.
bool read_declared(PyObject* dict,
                   qorv_chemical_engineering_edge::export_profile::DeclaredFields& declared);

// read_tag_list(file, bytes) -> [(tag, unit), ...]: a tag list's rows, read as profile_export
// reads one; ValueError naming the file.
PyObject* read_tag_list(PyObject* module, PyObject* args);
// zone_name_fault(name) -> None, or why the text is no zone name (checked before any lookup).
PyObject* zone_name_fault(PyObject* module, PyObject* args);
// zone_instant(wall_us, zone_name, tzif) -> the instant in microseconds, resolved as the scan
// resolves a naive timestamp; empty tzif: the zone looked up by name. ValueError naming the zone.
PyObject* zone_instant(PyObject* module, PyObject* args);

}  // namespace qorv_chemical_engineering_edge_py
