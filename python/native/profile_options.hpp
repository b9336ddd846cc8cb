// Reading the profiler's options from the dict the package's Python layer builds, and
// reporting a profiler error as a Python exception.
#pragma once

#include <cstdint>
#include <vector>

#include "context/pieces.hpp"
#include "native.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge_py {

// Fills `options` from the dict; false with a Python error set (ValueError naming the option
// or the tag-list file).
bool read_profile_options(PyObject* dict,
                          qorv_chemical_engineering_edge::export_profile::ProfileOptions& options);

// Raises ValueError "FILE: reason" (or the reason alone) and returns null.
PyObject* raise_profile_error(
    const qorv_chemical_engineering_edge::export_profile::ProfileError& e);

// The finished profile as nested plain Python objects (see profile.cpp for the shape).
PyObject* profile_to_python(const qorv_chemical_engineering_edge::export_profile::ExportProfile& p);

// The options' context files (key "context", absent from dicts without them: a list of
// (path, kind) with kind "" when recognised by columns) read against the finished profile,
// then the profile as profile_to_python gives it; ValueError naming the file on failure. With
// `partials`, each file's merged partial (read elsewhere) stands in for reading it here.
PyObject* finished_profile_to_python(
    PyObject* options_dict, qorv_chemical_engineering_edge::export_profile::ExportProfile& p,
    std::vector<qorv_chemical_engineering_edge::context::ContextPartial>* partials = nullptr);
// The options' context files; false with an error set.
bool read_context_files(PyObject* options_dict,
                        std::vector<qorv_chemical_engineering_edge::context::ContextFile>& files);

// {note key: words for a reader}, for the notes that have words; reports show any other by its
// key.
PyObject* note_labels_to_python();

// The Python side of a scan that runs with the interpreter lock released: the progress
// callable and the signal handlers, run on the thread that called in (the lock taken back
// briefly each time). The first exception either raises is kept and stops the scan; failed()
// makes it the pending one again. Without this, Ctrl-C waits for the whole scan.
class ScanRelay {
  public:
    explicit ScanRelay(PyObject* progress = nullptr) : callable_(progress) {}
    ~ScanRelay();
    ScanRelay(const ScanRelay&) = delete;
    ScanRelay& operator=(const ScanRelay&) = delete;

    // Runs `body` with the lock released, taking it back however the body ends.
    template <class Body>
    auto released(Body&& body) {
        struct Restore {
            ScanRelay& relay;
            ~Restore() { PyEval_RestoreThread(relay.caller_); }
        } restore{*this};
        caller_ = PyEval_SaveThread();
        return body();
    }

    // Within released(): calls the progress callable, unless one raised before.
    void progress(std::uint64_t done, std::uint64_t total);
    // Within released(): runs the handlers of signals that arrived (SIGINT's raises
    // KeyboardInterrupt); true when the scan is to stop.
    bool cancelled();
    // After released(): true when the callable or a handler raised, its exception pending.
    bool failed();

  private:
    PyObject* callable_;               // borrowed; None or null: no progress
    PyThreadState* caller_ = nullptr;  // the calling thread's state while the lock is released
    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* traceback_ = nullptr;
};

}  // namespace qorv_chemical_engineering_edge_py
