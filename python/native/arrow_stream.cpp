// Profiling a table offered through the Arrow C stream interface (`__arrow_c_stream__`): the
// stream is handed to the core, which reads the batches in place (export/arrow_columns.hpp).
#include <algorithm>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "arrow_capsule.hpp"
#include "export/arrow_c.h"
#include "export/arrow_columns.hpp"
#include "profile_options.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace profile = qorv_chemical_engineering_edge::export_profile;

namespace {

// What the pass ends with: the finished profile, or why not.
struct Outcome {
    std::optional<profile::ExportProfile> profile;
    PyObject* error_type = nullptr;
    std::string error;
};

// Ends early, with neither profile nor error, when `cancelled` says so.
Outcome scan_stream(ArrowArrayStream& stream, const std::string& label,
                    const profile::ProfileOptions& options, std::function<bool()> cancelled) {
    auto table = profile::arrow::profile_table(stream, label, options, cancelled);
    Outcome outcome;
    outcome.profile = std::move(table.profile);
    if (!table.error.empty()) {
        outcome.error_type = table.type_error ? PyExc_TypeError : PyExc_ValueError;
        outcome.error = std::move(table.error);
    }
    return outcome;
}

}  // namespace

PyObject* profile_stream(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* capsule = nullptr;
        const char* label = nullptr;
        PyObject* options_dict = nullptr;
        if (!PyArg_ParseTuple(args, "OsO!:profile_stream", &capsule, &label, &PyDict_Type,
                              &options_dict)) {
            return nullptr;
        }
        profile::ProfileOptions options;
        if (!read_profile_options(options_dict, options)) return nullptr;
        arrow::Released<ArrowArrayStream> stream;
        if (!arrow::take_stream(capsule, stream)) return nullptr;

        const std::string name(label);
        ScanRelay relay;
        Outcome outcome = relay.released(
            [&] { return scan_stream(stream, name, options, [&] { return relay.cancelled(); }); });
        // Released before an error is set or restored: a stream implemented in Python runs
        // code there, which must not find an exception pending (nor may it replace ours).
        stream.reset();
        if (relay.failed()) return nullptr;
        if (!outcome.profile) {
            PyErr_SetString(outcome.error_type, outcome.error.c_str());
            return nullptr;
        }
        return finished_profile_to_python(options_dict, *outcome.profile);
    });
}

}  // namespace qorv_chemical_engineering_edge_py
