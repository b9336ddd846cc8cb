// What every file of the companion's native module shares: an owning reference, the guard each
// entry point runs under, and the entry points themselves.
//
// The Python layer of the package checks and normalises arguments (types, ranges, option
// names) before it calls in here, so these functions take plain positional values. An entry
// point returns a new reference, or null with a Python exception set; no C++ exception leaves
// it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <string_view>
#include <utility>

namespace qorv_chemical_engineering_edge_py {

class PyRef {
  public:
    PyRef() noexcept = default;
    explicit PyRef(PyObject* owned) noexcept : object_(owned) {}
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other)
            Py_DecRef(std::exchange(object_, std::exchange(other.object_, nullptr)));
        return *this;
    }
    ~PyRef() { Py_DecRef(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }

  private:
    PyObject* object_ = nullptr;
};

// Runs an entry point's body; a C++ exception becomes MemoryError or RuntimeError.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& failure) {
        PyErr_SetString(PyExc_RuntimeError, failure.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "qorv_chemical_engineering_edge: native failure");
    }
    return nullptr;
}

// A new str from UTF-8 bytes (the core's texts are UTF-8); null with an error on failure.
inline PyObject* new_str(std::string_view text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// grade(13 profile values) -> (verdict, n_caveat, n_critical_missing, court_hash,
//                              [(dimension, level, message), ...])
PyObject* grade(PyObject* module, PyObject* args);
// check_units_v1([(context, a_name, a_unit, b_name, b_unit, additive), ...])
//   -> (assertions_checked, n_consistent, n_hazard, court_hash,
//       [(context, a, b, relation, hazard, message), ...])
PyObject* check_units_v1(PyObject* module, PyObject* args);
// parse_unit_v1(text) -> None or (dimension_tag, scale, offset, basis, (M, L, T, Θ, N))
PyObject* parse_unit_v1(PyObject* module, PyObject* args);

}  // namespace qorv_chemical_engineering_edge_py
