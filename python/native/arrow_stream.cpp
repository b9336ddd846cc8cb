// Profiling a table offered through the Arrow C stream interface (`__arrow_c_stream__`): the
// batches are read in place and rendered to export text, which is cut into pieces scanned on the
// core's work queue. The profile's input digest is then the digest of that text.
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

#include "arrow_c.h"
#include "arrow_capsule.hpp"
#include "arrow_text.hpp"
#include "export/pool.hpp"
#include "profile_options.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace profile = qorv_chemical_engineering_edge::export_profile;

namespace {

using profile::ExportScanner;

using arrow::Released;

std::string stream_error(ArrowArrayStream& stream, int code) {
    const char* text = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
    return text != nullptr ? std::string(text) : "error code " + std::to_string(code);
}

// Rows [begin, end) of a batch, rendered to text.
struct Slice {
    const ArrowArray* batch;
    std::int64_t begin;
    std::int64_t end;
    std::string text;
};

void render_slice(Slice& slice, const std::vector<arrow::ColumnType>& types,
                  const arrow::TextStyle& style, std::size_t bytes_per_row) {
    slice.text.reserve(static_cast<std::size_t>(slice.end - slice.begin) * bytes_per_row);
    arrow::Text out(slice.text);
    arrow::render_rows(types, *slice.batch, slice.begin, slice.end, style, out);
}

// Renders the slices, all but the first on threads of their own.
void render_slices(std::vector<Slice>& slices, const std::vector<arrow::ColumnType>& types,
                   const arrow::TextStyle& style, std::size_t bytes_per_row) {
    std::vector<std::thread> helpers;
    std::exception_ptr failure;
    std::mutex failure_mutex;
    for (std::size_t i = 1; i < slices.size(); ++i) {
        helpers.emplace_back([&, i] {
            try {
                render_slice(slices[i], types, style, bytes_per_row);
            } catch (...) {
                const std::lock_guard lock(failure_mutex);
                failure = std::current_exception();
            }
        });
    }
    if (!slices.empty()) {
        try {
            render_slice(slices[0], types, style, bytes_per_row);
        } catch (...) {
            const std::lock_guard lock(failure_mutex);
            failure = std::current_exception();
        }
    }
    for (auto& helper : helpers) helper.join();
    if (failure) std::rethrow_exception(failure);
}

// What the rendering pass ends with: the finished profile, or why not.
struct Outcome {
    std::optional<profile::ExportProfile> profile;
    PyObject* error_type = nullptr;
    std::string error;
};

// Ends early, with neither profile nor error, when `cancelled` says so.
Outcome scan_stream(ArrowArrayStream& stream, const std::string& label,
                    const profile::ProfileOptions& options, std::function<bool()> cancelled) {
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
    if (schema.format == nullptr || std::string_view(schema.format) != "+s") {
        return fail(PyExc_TypeError, "the Arrow stream's rows are not a struct (a table)");
    }
    if (auto why = arrow::check_table_schema(schema); !why.empty()) {
        return fail(PyExc_ValueError, why);
    }
    const auto n_columns = static_cast<std::size_t>(schema.n_children);
    std::vector<arrow::ColumnType> types(n_columns);
    const char delimiter = options.delimiter;
    const arrow::TextStyle style(delimiter, options.decimal);
    profile::TextPieces scan(options, label, options.threads, std::move(cancelled));
    std::string& text = scan.buffer();
    std::optional<arrow::Text> header(std::in_place, text);
    for (std::size_t c = 0; c < n_columns; ++c) {
        const ArrowSchema& column = *schema.children[c];
        const char* name = column.name != nullptr ? column.name : "";
        if (auto why = arrow::resolve(column, types[c]); !why.empty()) {
            return fail(PyExc_TypeError, "column '" + std::string(name) + "': " + why);
        }
        if (c != 0) header->push_back(delimiter);
        arrow::append_text(name, style, *header);
    }
    header->push_back('\n');
    header.reset();

    // Rows are rendered in slices of about a block of text, a wave of slices at a time on
    // as many threads as the scan has; the texts join the scan's buffer in order while the
    // scan's workers are busy with earlier blocks. Measured on the 150 MB bench table: one
    // rendering thread made the table twice as slow as the file.
    const unsigned threads =
        options.threads != 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    std::deque<Released<ArrowArray>> batches;  // alive until their slices are rendered
    std::vector<Slice> wave;
    std::int64_t rows_per_slice = 64;  // until the first slice tells the text per row
    std::int64_t rows_before = 0;
    std::size_t bytes_per_row = 16;
    auto render_wave = [&] {
        render_slices(wave, types, style, bytes_per_row + bytes_per_row / 8);
        for (auto& slice : wave) {
            text.append(slice.text);
            scan.flush();
        }
        if (!wave.empty() && wave.front().end > wave.front().begin) {
            bytes_per_row = std::max<std::size_t>(
                1, wave.front().text.size() /
                       static_cast<std::size_t>(wave.front().end - wave.front().begin));
            rows_per_slice = std::max<std::int64_t>(
                1, static_cast<std::int64_t>(ExportScanner::kDigestBlock / bytes_per_row));
        }
        wave.clear();
        while (batches.size() > 1) batches.pop_front();  // the last is still being sliced
    };
    while (!scan.stopped()) {
        Released<ArrowArray>& batch = batches.emplace_back();
        if (const int code = stream.get_next(&stream, &batch); code != 0) {
            return fail(PyExc_ValueError, "the Arrow stream failed: " + stream_error(stream, code));
        }
        if (batch.release == nullptr) break;  // the end of the stream
        if (auto why = arrow::check_batch(schema, types, batch, rows_before); !why.empty()) {
            return fail(PyExc_ValueError, why);
        }
        rows_before += batch.length;
        for (std::int64_t row = 0; row < batch.length && !scan.stopped();) {
            const std::int64_t end = std::min(batch.length, row + rows_per_slice);
            wave.push_back(Slice{&batch, row, end, {}});
            row = end;
            if (wave.size() == threads) render_wave();
        }
    }
    render_wave();
    if (scan.stopped()) return outcome;
    auto partial = scan.finish();
    if (!partial) return fail(PyExc_ValueError, partial.error().reason);
    auto finished = std::move(partial.value()).finalize(options.declared);
    if (!finished) return fail(PyExc_ValueError, finished.error().reason);
    outcome.profile = std::move(finished.value());
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
        Released<ArrowArrayStream> stream;
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
        return profile_to_python(*outcome.profile);
    });
}

}  // namespace qorv_chemical_engineering_edge_py
