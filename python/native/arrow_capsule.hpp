// Taking an Arrow stream over from its PyCapsule, and owning Arrow structures while they are read.
#pragma once

#include <Python.h>

#include "export/arrow_c.h"
#include "export/arrow_text.hpp"

namespace qorv_chemical_engineering_edge_py::arrow {

// The reader itself lives in the core.
using namespace qorv_chemical_engineering_edge::export_profile::arrow;

// Owns a stream, schema or array and calls its release callback once.
template <class T>
struct Released : T {
    Released() : T{} {}
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;
    ~Released() { reset(); }
    void reset() {
        if (this->release != nullptr) this->release(this);
        this->release = nullptr;
    }
};

// Moves the capsule's stream into `stream`, so that the capsule's destructor finds it released.
// False, with a Python error set, when the capsule holds no stream or a consumed one.
inline bool take_stream(PyObject* capsule, Released<ArrowArrayStream>& stream) {
    auto* offered =
        static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, "arrow_array_stream"));
    if (offered == nullptr) return false;
    if (offered->release == nullptr) {
        PyErr_SetString(PyExc_ValueError, "the Arrow stream was already consumed");
        return false;
    }
    static_cast<ArrowArrayStream&>(stream) = *offered;
    offered->release = nullptr;
    return true;
}

}  // namespace qorv_chemical_engineering_edge_py::arrow
