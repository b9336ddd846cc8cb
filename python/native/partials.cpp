// Partial profiles across processes: scanning a piece, merging in order, finishing.
#include "partials.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arrow_c.h"
#include "arrow_capsule.hpp"
#include "arrow_text.hpp"
#include "profile_options.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace profile = qorv_chemical_engineering_edge::export_profile;

namespace {

constexpr std::size_t kRead = profile::ExportScanner::kDigestBlock;  // bytes read at a time
constexpr std::size_t kGuessWindow = std::size_t{64} << 10;          // looked back for a row start

bool odd_quotes(std::string_view bytes) {
    return (std::count(bytes.begin(), bytes.end(), '"') & 1) != 0;
}

// A scanner for a piece at `offset`: the stream's own from byte 0, else resumed.
profile::Result<profile::ExportScanner> scanner_at(const profile::ProfileOptions& options,
                                                   const std::string& label,
                                                   std::string_view opening, std::uint64_t offset,
                                                   bool inside_quotes) {
    if (offset == 0) return profile::ExportScanner(options, label);
    return profile::ExportScanner::resume_at(options, label, opening, offset, inside_quotes);
}

PyObject* blob_of(profile::Result<profile::PartialProfile>& partial) {
    if (!partial) return raise_profile_error(partial.error());
    const std::string blob = without_gil([&] { return partial.value().serialize(); });
    return PyBytes_FromStringAndSize(blob.data(), static_cast<Py_ssize_t>(blob.size()));
}

std::string_view bytes_view(PyObject* bytes) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes, &data, &size) != 0) return {nullptr, 0};
    return {data, static_cast<std::size_t>(size)};
}

// An optional bytes argument (None: empty).
bool optional_bytes(PyObject* object, std::string_view& out) {
    out = {};
    if (object == Py_None) return true;
    out = bytes_view(object);
    return out.data() != nullptr;
}

std::optional<profile::PartialProfile> load(std::string_view blob, Py_ssize_t index) {
    auto loaded = profile::PartialProfile::deserialize(blob);
    if (!loaded) {
        PyErr_Format(PyExc_ValueError, "partial profile %zd is not usable: %s", index,
                     loaded.error().reason.c_str());
        return std::nullopt;
    }
    return std::move(loaded.value());
}

// Reads [start, end) of an open file in kRead pieces, handing each to `take`; an errno value,
// or -1 when the file ends early.
template <class Take>
int read_range(int fd, std::uint64_t start, std::uint64_t end, std::string& buffer, Take&& take) {
    buffer.resize(kRead);
    std::uint64_t at = start;
    while (at < end) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kRead, end - at));
        const ssize_t got = ::pread(fd, buffer.data(), want, static_cast<off_t>(at));
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return -1;
        take(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
        at += static_cast<std::uint64_t>(got);
    }
    return 0;
}

// The quote parity at `start` if the last line feed before it (within kGuessWindow) begins a
// row outside quotes; false when no line feed is in reach.
bool guess_inside_quotes(int fd, std::uint64_t start) {
    if (start == 0) return false;
    const std::uint64_t from = start > kGuessWindow ? start - kGuessWindow : 0;
    std::string window(static_cast<std::size_t>(start - from), '\0');
    const ssize_t got = ::pread(fd, window.data(), window.size(), static_cast<off_t>(from));
    if (got <= 0) return false;
    window.resize(static_cast<std::size_t>(got));
    const std::size_t lf = window.rfind('\n');
    if (lf == std::string::npos) return false;
    return odd_quotes(std::string_view(window).substr(lf + 1));
}

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

PyObject* scan_range(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        const char* path = nullptr;
        long long start = 0, end = 0;
        PyObject* opening_object = nullptr;
        PyObject* quotes_object = nullptr;
        PyObject* options_dict = nullptr;
        if (!PyArg_ParseTuple(args, "sLLOOO!:scan_range", &path, &start, &end, &opening_object,
                              &quotes_object, &PyDict_Type, &options_dict)) {
            return nullptr;
        }
        std::string_view opening;
        profile::ProfileOptions options;
        if (!optional_bytes(opening_object, opening) ||
            !read_profile_options(options_dict, options)) {
            return nullptr;
        }
        if (start < 0) {
            PyErr_SetString(PyExc_ValueError, "scan_range: start must not be negative");
            return nullptr;
        }
        Descriptor file;
        file.fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (file.fd < 0) return PyErr_SetFromErrnoWithFilename(PyExc_OSError, path);
        if (end < 0) {
            const off_t size = ::lseek(file.fd, 0, SEEK_END);
            if (size < 0) return PyErr_SetFromErrnoWithFilename(PyExc_OSError, path);
            end = static_cast<long long>(size);
        }
        const std::string label(path);
        const auto first = static_cast<std::uint64_t>(start);
        const auto last = static_cast<std::uint64_t>(std::max(start, end));

        const int given = quotes_object == Py_None ? -1 : PyObject_IsTrue(quotes_object);
        if (given == -1 && PyErr_Occurred()) return nullptr;
        bool inside = given == 1;
        bool odd = false;
        int failure = 0;
        auto partial = without_gil([&]() -> profile::Result<profile::PartialProfile> {
            if (given < 0) inside = guess_inside_quotes(file.fd, first);
            auto scanner = scanner_at(options, label, opening, first, inside);
            if (!scanner) return scanner.error();
            std::string buffer;
            failure = read_range(file.fd, first, last, buffer, [&](std::string_view piece) {
                odd ^= odd_quotes(piece);
                scanner.value().feed(piece);
            });
            if (failure != 0) return profile::ProfileError{label, "read failed"};
            return scanner.value().finish();
        });
        if (failure > 0) {
            errno = failure;
            return PyErr_SetFromErrnoWithFilename(PyExc_OSError, path);
        }
        if (failure < 0) {
            PyErr_Format(PyExc_ValueError,
                         "%s: the file ended before byte %lld (changed while "
                         "being read?)",
                         path, end);
            return nullptr;
        }
        PyRef blob(blob_of(partial));
        if (!blob) return nullptr;
        return Py_BuildValue("(NOO)", blob.release(), inside ? Py_True : Py_False,
                             odd ? Py_True : Py_False);
    });
}

PyObject* scan_text(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        const char* label = nullptr;
        long long offset = 0;
        PyObject* opening_object = nullptr;
        int inside = 0;
        PyObject* options_dict = nullptr;
        PyObject* list = nullptr;
        if (!PyArg_ParseTuple(args, "sLOpO!O!:scan_text", &label, &offset, &opening_object, &inside,
                              &PyDict_Type, &options_dict, &PyList_Type, &list)) {
            return nullptr;
        }
        std::string_view opening;
        profile::ProfileOptions options;
        if (!optional_bytes(opening_object, opening) ||
            !read_profile_options(options_dict, options)) {
            return nullptr;
        }
        // The pieces stay referenced while the lock is released.
        std::vector<PyRef> held;
        std::vector<std::string_view> pieces;
        for (Py_ssize_t i = 0, n = PyList_Size(list); i < n; ++i) {
            PyObject* item = PyList_GetItem(list, i);
            Py_IncRef(item);
            held.emplace_back(item);
            pieces.push_back(bytes_view(item));
            if (pieces.back().data() == nullptr) return nullptr;
        }
        const std::string name(label);
        auto partial = without_gil([&]() -> profile::Result<profile::PartialProfile> {
            auto scanner = scanner_at(options, name, opening,
                                      static_cast<std::uint64_t>(std::max(offset, 0LL)), inside);
            if (!scanner) return scanner.error();
            for (std::string_view piece : pieces) scanner.value().feed(piece);
            return scanner.value().finish();
        });
        return blob_of(partial);
    });
}

PyObject* merge_partials(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* list = nullptr;
        if (!PyArg_ParseTuple(args, "O!:merge_partials", &PyList_Type, &list)) return nullptr;
        std::vector<PyRef> held;
        std::vector<std::string_view> blobs;
        for (Py_ssize_t i = 0, n = PyList_Size(list); i < n; ++i) {
            PyObject* item = PyList_GetItem(list, i);
            if (!PyBytes_Check(item)) {
                PyErr_Format(PyExc_TypeError, "partial profile %zd is not bytes", i);
                return nullptr;
            }
            Py_IncRef(item);
            held.emplace_back(item);
            blobs.push_back(bytes_view(item));
        }
        std::optional<Py_ssize_t> bad;
        std::string reason;
        std::string merged = without_gil([&]() -> std::string {
            profile::PartialProfile total;
            for (std::size_t i = 0; i < blobs.size(); ++i) {
                auto loaded = profile::PartialProfile::deserialize(blobs[i]);
                if (!loaded) {
                    bad = static_cast<Py_ssize_t>(i);
                    reason = loaded.error().reason;
                    return {};
                }
                total.merge(std::move(loaded.value()));
            }
            return total.serialize();
        });
        if (bad) {
            PyErr_Format(PyExc_ValueError, "partial profile %zd is not usable: %s", *bad,
                         reason.c_str());
            return nullptr;
        }
        return PyBytes_FromStringAndSize(merged.data(), static_cast<Py_ssize_t>(merged.size()));
    });
}

PyObject* finalize_partial(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* blob = nullptr;
        PyObject* options_dict = nullptr;
        if (!PyArg_ParseTuple(args, "O!O!:finalize_partial", &PyBytes_Type, &blob, &PyDict_Type,
                              &options_dict)) {
            return nullptr;
        }
        profile::ProfileOptions options;
        if (!read_profile_options(options_dict, options)) return nullptr;
        const std::string_view bytes = bytes_view(blob);
        auto partial = load(bytes, 0);
        if (!partial) return nullptr;
        auto finished = without_gil([&] { return std::move(*partial).finalize(options); });
        if (!finished) return raise_profile_error(finished.error());
        return profile_to_python(finished.value());
    });
}

using arrow::Released;

PyObject* render_table(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* capsule = nullptr;
        PyObject* options_dict = nullptr;
        if (!PyArg_ParseTuple(args, "OO!:render_table", &capsule, &PyDict_Type, &options_dict))
            return nullptr;
        profile::ProfileOptions options;
        if (!read_profile_options(options_dict, options)) return nullptr;
        Released<ArrowArrayStream> stream;
        if (!arrow::take_stream(capsule, stream)) return nullptr;

        std::string header, body, error;
        PyObject* error_type = PyExc_TypeError;
        without_gil([&] {
            Released<ArrowSchema> schema;
            if (stream.get_schema(&stream, &schema) != 0 || schema.format == nullptr ||
                std::string_view(schema.format) != "+s") {
                error = "the Arrow stream does not offer a table";
                return;
            }
            if (auto why = arrow::check_table_schema(schema); !why.empty()) {
                error_type = PyExc_ValueError;
                error = std::move(why);
                return;
            }
            const auto n_columns = static_cast<std::size_t>(schema.n_children);
            std::vector<arrow::ColumnType> types(n_columns);
            const arrow::TextStyle style(options.delimiter, options.decimal);
            {
                arrow::Text out(header);
                for (std::size_t c = 0; c < n_columns; ++c) {
                    const ArrowSchema& column = *schema.children[c];
                    const char* name = column.name != nullptr ? column.name : "";
                    if (auto why = arrow::resolve(column, types[c]); !why.empty()) {
                        error = "column '" + std::string(name) + "': " + why;
                        return;
                    }
                    if (c != 0) out.push_back(options.delimiter);
                    arrow::append_text(name, style, out);
                }
                out.push_back('\n');
            }
            arrow::Text out(body);
            std::int64_t rows_before = 0;
            while (true) {
                Released<ArrowArray> batch;
                if (stream.get_next(&stream, &batch) != 0) {
                    error_type = PyExc_ValueError;
                    error = "the Arrow stream failed";
                    return;
                }
                if (batch.release == nullptr) break;
                if (auto why = arrow::check_batch(schema, types, batch, rows_before);
                    !why.empty()) {
                    error_type = PyExc_ValueError;
                    error = std::move(why);
                    return;
                }
                rows_before += batch.length;
                arrow::render_rows(types, batch, 0, batch.length, style, out);
            }
        });
        stream.reset();  // before an error is set: a Python stream's release runs code
        if (!error.empty()) {
            PyErr_SetString(error_type, error.c_str());
            return nullptr;
        }
        return Py_BuildValue("(y#y#)", header.data(), static_cast<Py_ssize_t>(header.size()),
                             body.data(), static_cast<Py_ssize_t>(body.size()));
    });
}

}  // namespace qorv_chemical_engineering_edge_py
