// Profiling export files: the profiler runs with the interpreter lock released, and takes it
// back only to report progress to a Python callable and to run signal handlers, so that
// Ctrl-C stops a long scan within a tenth of a second.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "profile_options.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace profile = qorv_chemical_engineering_edge::export_profile;

ScanRelay::~ScanRelay() {
    Py_DecRef(type_);
    Py_DecRef(value_);
    Py_DecRef(traceback_);
}

void ScanRelay::progress(std::uint64_t done, std::uint64_t total) {
    if (callable_ == nullptr || callable_ == Py_None || type_ != nullptr) return;
    PyEval_RestoreThread(caller_);
    PyObject* result = PyObject_CallFunction(callable_, "KK", static_cast<unsigned long long>(done),
                                             static_cast<unsigned long long>(total));
    if (result == nullptr) PyErr_Fetch(&type_, &value_, &traceback_);
    Py_DecRef(result);
    caller_ = PyEval_SaveThread();
}

bool ScanRelay::cancelled() {
    if (type_ != nullptr) return true;
    PyEval_RestoreThread(caller_);
    if (PyErr_CheckSignals() != 0) PyErr_Fetch(&type_, &value_, &traceback_);
    caller_ = PyEval_SaveThread();
    return type_ != nullptr;
}

bool ScanRelay::failed() {
    if (type_ == nullptr) return false;
    PyErr_Restore(type_, value_, traceback_);
    type_ = value_ = traceback_ = nullptr;
    return true;
}

namespace {

bool read_paths(PyObject* list, std::vector<std::string>& paths) {
    for (Py_ssize_t i = 0, n = PyList_Size(list); i < n; ++i) {
        PyRef utf8(PyUnicode_AsUTF8String(PyList_GetItem(list, i)));
        char* text = nullptr;
        Py_ssize_t size = 0;
        if (!utf8 || PyBytes_AsStringAndSize(utf8.get(), &text, &size) != 0) return false;
        paths.emplace_back(text, static_cast<std::size_t>(size));
    }
    return true;
}

}  // namespace

PyObject* profile_files(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* list = nullptr;
        PyObject* options_dict = nullptr;
        PyObject* callable = nullptr;
        if (!PyArg_ParseTuple(args, "O!O!O:profile_files", &PyList_Type, &list, &PyDict_Type,
                              &options_dict, &callable)) {
            return nullptr;
        }
        ScanRelay relay(callable);
        std::vector<std::string> paths;
        profile::ProfileOptions options;
        if (!read_paths(list, paths) || !read_profile_options(options_dict, options)) {
            return nullptr;
        }
        const profile::Progress progress = [&relay](std::uint64_t done, std::uint64_t total) {
            relay.progress(done, total);
        };
        const profile::Cancelled cancelled = [&relay] { return relay.cancelled(); };
        auto result = relay.released(
            [&] { return profile::profile_files(paths, options, progress, cancelled); });
        if (relay.failed()) return nullptr;
        if (!result) return raise_profile_error(result.error());
        return finished_profile_to_python(options_dict, result.value());
    });
}

}  // namespace qorv_chemical_engineering_edge_py
