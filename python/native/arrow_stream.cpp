// Profiling a table offered through the Arrow C stream interface (`__arrow_c_stream__`): the
// batches are read in place and rendered to export text, which is scanned in blocks on worker
// threads. The profile's input digest is then the digest of that text.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "arrow_c.h"
#include "arrow_text.hpp"
#include "block_scan.hpp"
#include "profile_options.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace profile = qorv_chemical_engineering_edge::export_profile;

namespace {

constexpr std::size_t kFlushAt = std::size_t{2} << 20;  // rendered text handed over in blocks

// Owns a stream, schema or array and calls its release callback once.
template <class T>
struct Released : T {
    Released() : T{} {}
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;
    ~Released() {
        if (this->release != nullptr) this->release(this);
    }
};

std::string stream_error(ArrowArrayStream& stream, int code) {
    const char* text = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
    return text != nullptr ? std::string(text) : "error code " + std::to_string(code);
}

// What the rendering pass ends with: the finished profile, or why not.
struct Outcome {
    std::optional<profile::ExportProfile> profile;
    PyObject* error_type = nullptr;
    std::string error;
};

Outcome scan_stream(ArrowArrayStream& stream, const std::string& label,
                    const profile::ProfileOptions& options) {
    Outcome outcome;
    auto fail = [&](PyObject* type, std::string text) {
        outcome.error_type = type;
        outcome.error = label + ": " + std::move(text);
        return std::move(outcome);
    };
    Released<ArrowSchema> schema;
    if (const int code = stream.get_schema(&stream, &schema); code != 0) {
        return fail(PyExc_ValueError, "the Arrow stream failed: " + stream_error(stream, code));
    }
    if (std::string_view(schema.format) != "+s") {
        return fail(PyExc_TypeError, "the Arrow stream's rows are not a struct (a table)");
    }
    const auto n_columns = static_cast<std::size_t>(schema.n_children);
    std::vector<arrow::ColumnType> types(n_columns);
    const char delimiter = options.delimiter;
    BlockScan scan(options, label, options.threads);
    std::string& text = scan.buffer();
    for (std::size_t c = 0; c < n_columns; ++c) {
        const ArrowSchema& column = *schema.children[c];
        const char* name = column.name != nullptr ? column.name : "";
        if (auto why = arrow::resolve(column, types[c]); !why.empty()) {
            return fail(PyExc_TypeError, "column '" + std::string(name) + "': " + why);
        }
        if (c != 0) text.push_back(delimiter);
        arrow::append_text(name, delimiter, text);
    }
    text.push_back('\n');

    while (true) {
        Released<ArrowArray> batch;
        if (const int code = stream.get_next(&stream, &batch); code != 0) {
            return fail(PyExc_ValueError, "the Arrow stream failed: " + stream_error(stream, code));
        }
        if (batch.release == nullptr) break;  // the end of the stream
        for (std::int64_t row = 0; row < batch.length; ++row) {
            for (std::size_t c = 0; c < n_columns; ++c) {
                if (c != 0) text.push_back(delimiter);
                const ArrowArray& column = *batch.children[c];
                arrow::append_cell(types[c], column, row + batch.offset + column.offset, delimiter,
                                   options.decimal, text);
            }
            text.push_back('\n');
            if (text.size() >= kFlushAt) scan.flush();
        }
    }
    auto partial = scan.finish();
    if (!partial) return fail(PyExc_ValueError, partial.error().reason);
    auto finished = partial.value().finalize(options);
    if (!finished) return fail(PyExc_ValueError, finished.error().reason);
    outcome.profile = std::move(finished.value());
    return outcome;
}

}  // namespace

PyObject* profile_stream(PyObject*, PyObject* args) {
    return guarded([&]() -> PyObject* {
        PyObject* capsule = nullptr;
        const char* label = nullptr;
        PyObject* options_dict = nullptr;
        if (!PyArg_ParseTuple(args, "OsO!:profile_stream", &capsule, &label, &PyDict_Type,
                              &options_dict)) {
            return nullptr;
        }
        profile::ProfileOptions options;
        if (!read_profile_options(options_dict, options)) return nullptr;
        auto* offered =
            static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, "arrow_array_stream"));
        if (offered == nullptr) return nullptr;
        if (offered->release == nullptr) {
            PyErr_SetString(PyExc_ValueError, "the Arrow stream was already consumed");
            return nullptr;
        }
        // Take the stream over: the capsule's destructor then finds it released.
        Released<ArrowArrayStream> stream;
        static_cast<ArrowArrayStream&>(stream) = *offered;
        offered->release = nullptr;

        const std::string name(label);
        Outcome outcome = without_gil([&] { return scan_stream(stream, name, options); });
        if (!outcome.profile) {
            PyErr_SetString(outcome.error_type, outcome.error.c_str());
            return nullptr;
        }
        return profile_to_python(*outcome.profile);
    });
}

}  // namespace qorv_chemical_engineering_edge_py
