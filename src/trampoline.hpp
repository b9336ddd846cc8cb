// The guard every entry point from the interpreter runs under.
//
// A body returns a new reference, or null with a Python exception set (an ordinary error), or
// throws `Panic` (an internal failure). The trampoline turns an internal failure into a
// `PanicException` so that nothing but a Python exception ever leaves the module. Both native
// modules run every entry point under it. Running out of memory is MemoryError where the
// allocator throws (the companion's module); qorv_chemical_engineering's own allocator ends the
// process instead, so that path never reaches it.
#pragma once

#include <Python.h>

#include <new>
#include <string>

namespace qorv_chemical_engineering_py {

// An internal failure: a state the library cannot continue from within this call.
struct Panic {
    std::string message;
};

// Makes a PanicException carrying `message` the current exception. The class
// ("trelk_runtime.PanicException", a direct subclass of BaseException) is made once per process
// on first need.
void raise_panic(const std::string& message) noexcept;

// Ends the process after a failure while another failure was being reported.
[[noreturn]] void panic_trap() noexcept;

// An interpreter call that creates an object the module needs returned null: print the
// pending error and fail internally in its place.
[[noreturn]] void python_api_call_failed();

// Returns `object`, or fails internally with "Python API call failed" when it is null.
inline PyObject* checked(PyObject* object) {
    if (object == nullptr) python_api_call_failed();
    return object;
}

// When the pending exception is the module's own PanicException (raised by a nested call into
// the module from user code), reports it on standard error and resumes it as an internal
// failure. Any other pending exception is left in place.
void resume_panic_if_pending();

template <class Body>
PyObject* trampoline(Body&& body) noexcept {
    try {
        PyObject* result = body();
        if (result == nullptr && !PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        }
        return result;
    } catch (const Panic& panic) {
        raise_panic(panic.message);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        raise_panic("the library's native code failed");
    }
    return nullptr;
}

}  // namespace qorv_chemical_engineering_py
