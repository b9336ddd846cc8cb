// An owning reference to a Python object: one strong reference, released on destruction.
#pragma once

#include <Python.h>

#include <utility>

namespace qorv_chemical_engineering_py {

class PyRef {
  public:
    PyRef() noexcept = default;
    // Takes over a new reference (which may be null).
    explicit PyRef(PyObject* owned) noexcept : object_(owned) {}
    static PyRef borrow(PyObject* borrowed) noexcept {
        Py_IncRef(borrowed);
        return PyRef(borrowed);
    }

    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) reset(std::exchange(other.object_, nullptr));
        return *this;
    }
    ~PyRef() { Py_DecRef(object_); }  // Py_DecRef ignores null

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hands the reference to the caller.
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    void reset(PyObject* owned = nullptr) noexcept { Py_DecRef(std::exchange(object_, owned)); }

  private:
    PyObject* object_ = nullptr;
};

}  // namespace qorv_chemical_engineering_py
