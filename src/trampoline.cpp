#include "trampoline.hpp"

#include <cstdio>
#include <cstdlib>

#include "py_ref.hpp"

namespace qorv_chemical_engineering_py {

namespace {

constexpr const char* kPanicDoc =
    "\n"
    "Raised when the library's native code, called from Python, fails irrecoverably.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// Made once under the interpreter lock and kept for the life of the process.
PyObject* panic_type = nullptr;

PyObject* panic_exception_type() {
    if (panic_type == nullptr) {
        panic_type = PyErr_NewExceptionWithDoc("trelk_runtime.PanicException", kPanicDoc,
                                               PyExc_BaseException, nullptr);
        if (panic_type == nullptr) {
            PyErr_Clear();
            throw Panic{"Failed to initialize new exception type."};
        }
    }
    return panic_type;
}

}  // namespace

void raise_panic(const std::string& message) noexcept {
    // Any failure from here on is a failure while failing: there is nothing left to report to.
    try {
        PyObject* type = panic_exception_type();
        PyRef text(
            PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
        if (!text) panic_trap();
        PyRef args(PyTuple_New(1));
        if (!args) panic_trap();
        PyTuple_SetItem(args.get(), 0, text.release());  // steals the text
        PyRef instance(PyObject_CallObject(type, args.get()));
        if (!instance) panic_trap();
        Py_IncRef(type);
        PyErr_Restore(type, instance.release(), nullptr);
    } catch (...) {
        panic_trap();
    }
}

void panic_trap() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::fflush(stderr);
    std::abort();
}

void python_api_call_failed() {
    if (PyErr_Occurred()) PyErr_Print();
    throw Panic{"Python API call failed"};
}

void resume_panic_if_pending() {
    PyObject* panic = panic_type;
    if (panic == nullptr) return;  // no PanicException can exist yet
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type != panic) {
        PyErr_Restore(type, value, traceback);
        return;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    std::string message = "Unwrapped panic from Python code";
    if (PyRef text{PyObject_Str(value)}) {
        if (PyRef utf8{PyUnicode_AsUTF8String(text.get())}) {
            message.assign(PyBytes_AsString(utf8.get()),
                           static_cast<std::size_t>(PyBytes_Size(utf8.get())));
        }
    }
    PyErr_Clear();
    std::fputs(
        "qorv_chemical_engineering: resuming an internal failure fetched from Python\n"
        "Python stack trace below:\n",
        stderr);
    PyErr_Restore(type, value, traceback);
    PyErr_PrintEx(0);
    throw Panic{std::move(message)};
}

}  // namespace qorv_chemical_engineering_py
