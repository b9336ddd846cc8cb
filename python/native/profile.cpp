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
    return guarded([&]() -> PyObject* {
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
        return profile_to_python(result.value());
    });
}

PyObject* scan_ranges(PyObject*, PyObject* args) {
    return guarded([&]() -> PyObject* {
        const char* data = nullptr;
        Py_ssize_t size = 0;
        const char* label = nullptr;
        PyObject* options_dict = nullptr;
        Py_ssize_t wanted = 0;
        if (!PyArg_ParseTuple(args, "y#sO!n:scan_ranges", &data, &size, &label, &PyDict_Type,
                              &options_dict, &wanted)) {
            return nullptr;
        }
        profile::ProfileOptions options;
        if (!read_profile_options(options_dict, options)) return nullptr;
        const std::string_view bytes(data, static_cast<std::size_t>(size));

        // Cut points: the first line end (outside quotes) at or after each equal share, and
        // never among the header and the (at most ten) metadata rows under it.
        std::vector<std::size_t> cuts{0};
        const std::size_t share =
            bytes.size() / static_cast<std::size_t>(std::max<Py_ssize_t>(wanted, 1)) + 1;
        bool quoted = false;
        std::size_t lines = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '"') quoted = !quoted;
            if (bytes[i] != '\n' || quoted) continue;
            if (++lines > 12 && i + 1 >= cuts.back() + share && i + 1 < bytes.size())
                cuts.push_back(i + 1);
        }
        cuts.push_back(bytes.size());

        // A range's partial only finalises after the pieces before it, so each range is
        // merged onto the running partial of all before it and that is finalised: the
        // counts are cumulative, and a range's own are the difference to the one before.
        const std::string_view opening =
            bytes.substr(0, std::min<std::size_t>(bytes.size(), std::size_t{1} << 20));
        PyRef ranges(PyList_New(0));
        if (!ranges) return nullptr;
        std::optional<profile::PartialProfile> running;
        for (std::size_t r = 0; r + 1 < cuts.size(); ++r) {
            const std::string_view piece = bytes.substr(cuts[r], cuts[r + 1] - cuts[r]);
            auto finished = without_gil([&]() -> profile::Result<profile::ExportProfile> {
                auto scanner = r == 0 ? profile::Result<profile::ExportScanner>(
                                            profile::ExportScanner(options, label))
                                      : profile::ExportScanner::resume_at(options, label, opening,
                                                                          cuts[r], false);
                if (!scanner) return scanner.error();
                scanner.value().feed(piece);
                auto partial = scanner.value().finish();
                if (!partial) return partial.error();
                if (running) {
                    running->merge(std::move(partial.value()));
                } else {
                    running = std::move(partial.value());
                }
                return running->finalize(options);
            });
            if (!finished) return raise_profile_error(finished.error());
            PyRef tags(PyList_New(0));
            if (!tags) return nullptr;
            for (const auto& t : finished.value().tags) {
                PyRef entry(Py_BuildValue("(NKKNN)", new_str(t.name),
                                          static_cast<unsigned long long>(t.present),
                                          static_cast<unsigned long long>(t.samples),
                                          t.first_us ? PyLong_FromLongLong(*t.first_us) : none(),
                                          t.last_us ? PyLong_FromLongLong(*t.last_us) : none()));
                if (!entry || PyList_Append(tags.get(), entry.get()) != 0) return nullptr;
            }
            PyRef range(Py_BuildValue(
                "(KN)", static_cast<unsigned long long>(finished.value().n_rows.value),
                tags.release()));
            if (!range || PyList_Append(ranges.get(), range.get()) != 0) return nullptr;
        }
        return ranges.release();
    });
}

}  // namespace qorv_chemical_engineering_edge_py
