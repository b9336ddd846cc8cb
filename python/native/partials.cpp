// Partial profiles across processes: scanning a piece, merging in order, finishing.
#include "partials.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arrow_capsule.hpp"
#include "context/pieces.hpp"
#include "export/arrow_c.h"
#include "export/arrow_text.hpp"
#include "export/plan.hpp"
#include "profile_options.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace profile = qorv_chemical_engineering_edge::export_profile;
namespace context = qorv_chemical_engineering_edge::context;

namespace {

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
    if (object == nullptr || object == Py_None) return true;
    out = bytes_view(object);
    return out.data() != nullptr;
}

// A list of bytes, kept referenced while the lock is released; false with an error set.
bool bytes_list(PyObject* list, std::vector<PyRef>& held, std::vector<std::string_view>& out) {
    if (!PyList_Check(list)) {
        PyErr_SetString(PyExc_TypeError, "the piece's data must be a list of bytes");
        return false;
    }
    for (Py_ssize_t i = 0, n = PyList_Size(list); i < n; ++i) {
        PyObject* item = PyList_GetItem(list, i);
        Py_IncRef(item);
        held.emplace_back(item);
        out.push_back(bytes_view(item));
        if (out.back().data() == nullptr) return false;
    }
    return true;
}

// A list of bytes (`what` numbered in errors), kept referenced while the lock is released.
bool blob_list(PyObject* list, const char* what, std::vector<PyRef>& held,
               std::vector<std::string_view>& out) {
    if (!PyList_Check(list)) {
        PyErr_Format(PyExc_TypeError, "the %ss must be a list of bytes", what);
        return false;
    }
    for (Py_ssize_t i = 0, n = PyList_Size(list); i < n; ++i) {
        PyObject* item = PyList_GetItem(list, i);
        if (!PyBytes_Check(item)) {
            PyErr_Format(PyExc_TypeError, "%s %zd is not bytes", what, i);
            return false;
        }
        Py_IncRef(item);
        held.emplace_back(item);
        out.push_back(bytes_view(item));
    }
    return true;
}

// Partials merged in their order, without the GIL: the merged partial's bytes, or ValueError
// naming the first that does not load.
template <class Partial>
PyObject* merged_bytes(const std::vector<std::string_view>& blobs, const char* what) {
    std::optional<std::size_t> bad;
    std::string reason;
    const std::string merged = without_gil([&]() -> std::string {
        Partial total;
        for (std::size_t i = 0; i < blobs.size(); ++i) {
            auto loaded = Partial::deserialize(blobs[i]);
            if (!loaded) {
                bad = i;
                reason = loaded.error().reason;
                return {};
            }
            total.merge(std::move(loaded.value()));
        }
        return total.serialize();
    });
    if (bad) {
        PyErr_Format(PyExc_ValueError, "%s %zu is not usable: %s", what, *bad, reason.c_str());
        return nullptr;
    }
    return PyBytes_FromStringAndSize(merged.data(), static_cast<Py_ssize_t>(merged.size()));
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

// A piece as Python holds it: {"path", "file", "start", "end", "gzip", "header_bytes",
// "guess_from"}; guess_from is where the bytes a guess of its quote parity reads begin.
PyObject* piece_to_python(const profile::Piece& piece) {
    const std::uint64_t guess_from =
        piece.from - std::min<std::uint64_t>(piece.from, profile::kGuessWindow);
    return Py_BuildValue(
        "{s:s#,s:n,s:K,s:K,s:O,s:K,s:K}", "path", piece.path.data(),
        static_cast<Py_ssize_t>(piece.path.size()), "file", static_cast<Py_ssize_t>(piece.file),
        "start", static_cast<unsigned long long>(piece.from), "end",
        static_cast<unsigned long long>(piece.to), "gzip", piece.gzip ? Py_True : Py_False,
        "header_bytes", static_cast<unsigned long long>(piece.header_bytes), "guess_from",
        static_cast<unsigned long long>(guess_from));
}

bool piece_number(PyObject* dict, const char* key, std::uint64_t& out) {
    PyObject* value = PyDict_GetItemString(dict, key);
    if (value == nullptr) {
        PyErr_Format(PyExc_ValueError, "the piece has no '%s'", key);
        return false;
    }
    const unsigned long long n = PyLong_AsUnsignedLongLong(value);
    if (PyErr_Occurred()) return false;
    out = n;
    return true;
}

bool piece_from_python(PyObject* dict, profile::Piece& piece) {
    if (!PyDict_Check(dict)) {
        PyErr_SetString(PyExc_TypeError, "a piece is the dict plan_file gives");
        return false;
    }
    PyObject* path = PyDict_GetItemString(dict, "path");
    PyObject* gzip = PyDict_GetItemString(dict, "gzip");
    if (path == nullptr || !PyUnicode_Check(path) || gzip == nullptr) {
        PyErr_SetString(PyExc_ValueError, "the piece has no path or gzip entry");
        return false;
    }
    PyRef utf8(PyUnicode_AsUTF8String(path));
    if (!utf8) return false;
    piece.path = std::string(bytes_view(utf8.get()));
    piece.gzip = PyObject_IsTrue(gzip) == 1;
    std::uint64_t file = 0;
    if (!piece_number(dict, "file", file) || !piece_number(dict, "start", piece.from) ||
        !piece_number(dict, "end", piece.to) ||
        !piece_number(dict, "header_bytes", piece.header_bytes))
        return false;
    piece.file = static_cast<std::size_t>(file);
    if (piece.to < piece.from || (piece.from > 0 && piece.header_bytes == 0)) {
        PyErr_Format(PyExc_ValueError, "%s: the piece's byte range is not one plan_file gives",
                     piece.path.c_str());
        return false;
    }
    return true;
}

// A data frame's parts as Python lists them: [(rows' length, rows' quotes odd), ...].
bool text_parts(PyObject* list, std::vector<profile::TextPart>& out) {
    for (Py_ssize_t i = 0, n = PyList_Size(list); i < n; ++i) {
        PyObject* item = PyList_GetItem(list, i);
        if (!PyTuple_Check(item) || PyTuple_Size(item) != 2 ||
            !PyLong_Check(PyTuple_GetItem(item, 0))) {
            PyErr_Format(PyExc_TypeError, "part %zd is not a (length, quotes odd) pair", i);
            return false;
        }
        const unsigned long long bytes = PyLong_AsUnsignedLongLong(PyTuple_GetItem(item, 0));
        if (PyErr_Occurred()) {
            PyErr_Clear();
            PyErr_Format(PyExc_ValueError, "part %zd has a negative or too large length", i);
            return false;
        }
        const int odd = PyObject_IsTrue(PyTuple_GetItem(item, 1));
        if (odd < 0) return false;
        out.push_back({bytes, odd == 1});
    }
    return true;
}

PyObject* heads_to_python(const std::vector<profile::PartHead>& heads) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(heads.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < heads.size(); ++i) {
        PyObject* item = Py_BuildValue("(nK)", static_cast<Py_ssize_t>(heads[i].part),
                                       static_cast<unsigned long long>(heads[i].bytes));
        if (item == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

}  // namespace

PyObject* plan_file(PyObject*, PyObject* args, PyObject* kwargs) {
    return trampoline([&]() -> PyObject* {
        static const char* keywords[] = {"path", "options", "piece_bytes", "head",
                                         "size", "text",    nullptr};
        const char* path = nullptr;
        PyObject* options_dict = nullptr;
        unsigned long long piece_bytes = 0;
        PyObject* head_object = Py_None;
        PyObject* size_object = Py_None;
        int text = 0;
        if (!PyArg_ParseTupleAndKeywords(
                args, kwargs, "sO!K|OOp:plan_file", const_cast<char**>(keywords), &path,
                &PyDict_Type, &options_dict, &piece_bytes, &head_object, &size_object, &text))
            return nullptr;
        profile::ProfileOptions options;
        if (!read_profile_options(options_dict, options)) return nullptr;
        if (piece_bytes % profile::kDigestBlock != 0) {
            PyErr_Format(PyExc_ValueError,
                         "option chunk_bytes=%llu must be a positive multiple of %zu (the digest "
                         "block)",
                         piece_bytes, profile::kDigestBlock);
            return nullptr;
        }
        std::string_view head;
        if (!optional_bytes(head_object, head)) return nullptr;
        const std::string name(path);
        const auto settings = profile::make_settings(options);
        if (!settings->zone_error.empty()) return raise_profile_error({"", settings->zone_error});
        std::uint64_t need = 0;
        std::optional<profile::Result<profile::FilePlan>> planned;
        if (head_object == Py_None) {
            planned =
                without_gil([&] { return profile::plan_file(name, 0, *settings, piece_bytes); });
        } else {
            const unsigned long long size = PyLong_AsUnsignedLongLong(size_object);
            if (PyErr_Occurred()) return nullptr;
            auto step = without_gil([&] {
                return profile::plan_head(name, 0, size, head, *settings, piece_bytes, text != 0);
            });
            if (auto* more = std::get_if<profile::NeedBytes>(&step)) {
                need = more->bytes;
                planned = profile::FilePlan{};
            } else if (auto* error = std::get_if<profile::ProfileError>(&step)) {
                planned = std::move(*error);
            } else {
                planned = std::move(std::get<profile::FilePlan>(step));
            }
        }
        if (!*planned) return raise_profile_error(planned->error());
        PyRef list(PyList_New(0));
        if (!list) return nullptr;
        for (const profile::Piece& piece : planned->value().pieces) {
            PyRef item(piece_to_python(piece));
            if (!item || PyList_Append(list.get(), item.get()) != 0) return nullptr;
        }
        return Py_BuildValue("(NK)", list.release(), static_cast<unsigned long long>(need));
    });
}

PyObject* plan_parts(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* header = nullptr;
        PyObject* list = nullptr;
        if (!PyArg_ParseTuple(args, "O!O!:plan_parts", &PyBytes_Type, &header, &PyList_Type, &list))
            return nullptr;
        std::vector<profile::TextPart> parts;
        if (!text_parts(list, parts)) return nullptr;
        const std::string_view head = bytes_view(header);
        const auto pieces = profile::plan_parts(head.size(), profile::odd_quotes(head), parts);
        PyRef out(PyList_New(0));
        if (!out) return nullptr;
        for (const profile::TextPiece& piece : pieces) {
            PyRef item(Py_BuildValue(
                "{s:n,s:K,s:K,s:K,s:O,s:N}", "part", static_cast<Py_ssize_t>(piece.part), "start",
                static_cast<unsigned long long>(piece.from), "end",
                static_cast<unsigned long long>(piece.to), "skip",
                static_cast<unsigned long long>(piece.skip), "part_inside_quotes",
                piece.part_inside_quotes ? Py_True : Py_False, "heads",
                heads_to_python(piece.heads)));
            if (!item || PyList_Append(out.get(), item.get()) != 0) return nullptr;
        }
        return out.release();
    });
}

PyObject* part_heads(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        unsigned long long header_bytes = 0, upto = 0;
        PyObject* list = nullptr;
        if (!PyArg_ParseTuple(args, "KO!K:part_heads", &header_bytes, &PyList_Type, &list, &upto))
            return nullptr;
        std::vector<profile::TextPart> parts;
        if (!text_parts(list, parts)) return nullptr;
        return heads_to_python(profile::part_heads(header_bytes, parts, upto));
    });
}

PyObject* scan_piece(PyObject*, PyObject* args, PyObject* kwargs) {
    return trampoline([&]() -> PyObject* {
        static const char* keywords[] = {"piece",   "options", "inside_quotes", "data",
                                         "opening", "before",  nullptr};
        PyObject* piece_dict = nullptr;
        PyObject* options_dict = nullptr;
        PyObject* quotes_object = Py_None;
        PyObject* data_object = Py_None;
        PyObject* opening_object = Py_None;
        PyObject* before_object = Py_None;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO!|OOOO:scan_piece",
                                         const_cast<char**>(keywords), &piece_dict, &PyDict_Type,
                                         &options_dict, &quotes_object, &data_object,
                                         &opening_object, &before_object))
            return nullptr;
        profile::Piece piece;
        profile::ProfileOptions options;
        if (!piece_from_python(piece_dict, piece) || !read_profile_options(options_dict, options))
            return nullptr;
        std::optional<bool> inside;
        if (quotes_object != Py_None) {
            const int truth = PyObject_IsTrue(quotes_object);
            if (truth < 0) return nullptr;
            inside = truth == 1;
        }
        std::string_view opening, before;
        std::vector<PyRef> held;
        std::vector<std::string_view> data;
        if (!optional_bytes(opening_object, opening) || !optional_bytes(before_object, before))
            return nullptr;
        if (data_object != Py_None && !bytes_list(data_object, held, data)) return nullptr;
        auto scanned = without_gil([&] {
            return data_object == Py_None
                       ? profile::scan_piece(piece, options, inside)
                       : profile::scan_piece_bytes(piece, options, inside, opening, before, data);
        });
        if (!scanned) return raise_profile_error(scanned.error());
        profile::Result<profile::PartialProfile> partial(std::move(scanned.value().partial));
        PyRef blob(blob_of(partial));
        if (!blob) return nullptr;
        return Py_BuildValue("(NOO)", blob.release(),
                             scanned.value().inside_quotes ? Py_True : Py_False,
                             scanned.value().odd_quotes ? Py_True : Py_False);
    });
}

PyObject* chain_parities(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* list = nullptr;
        if (!PyArg_ParseTuple(args, "O!:chain_parities", &PyList_Type, &list)) return nullptr;
        std::vector<bool> odd;
        for (Py_ssize_t i = 0, n = PyList_Size(list); i < n; ++i) {
            const int truth = PyObject_IsTrue(PyList_GetItem(list, i));
            if (truth < 0) return nullptr;
            odd.push_back(truth == 1);
        }
        std::unique_ptr<bool[]> plain(new bool[odd.size() ? odd.size() : 1]);
        for (std::size_t i = 0; i < odd.size(); ++i) plain[i] = odd[i];
        const std::vector<bool> at =
            profile::chain_parities(std::span<const bool>(plain.get(), odd.size()));
        PyRef out(PyList_New(static_cast<Py_ssize_t>(at.size())));
        if (!out) return nullptr;
        for (std::size_t i = 0; i < at.size(); ++i) {
            PyObject* flag = at[i] ? Py_True : Py_False;
            Py_IncRef(flag);
            PyList_SetItem(out.get(), static_cast<Py_ssize_t>(i), flag);
        }
        return out.release();
    });
}

PyObject* quotes_odd(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* bytes = nullptr;
        Py_ssize_t end = -1;
        if (!PyArg_ParseTuple(args, "O!|n:quotes_odd", &PyBytes_Type, &bytes, &end)) return nullptr;
        std::string_view data = bytes_view(bytes);
        if (end >= 0) data = data.substr(0, static_cast<std::size_t>(end));
        return PyBool_FromLong(profile::odd_quotes(data) ? 1 : 0);
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
        std::vector<PyRef> held;
        std::vector<std::string_view> pieces;
        if (!bytes_list(list, held, pieces)) return nullptr;
        profile::Piece piece;
        piece.path = label;
        piece.from = static_cast<std::uint64_t>(std::max(offset, 0LL));
        piece.header_bytes = opening.size();
        auto scanned = without_gil([&] {
            return profile::scan_piece_bytes(piece, options, inside != 0, opening, {}, pieces);
        });
        if (!scanned) return raise_profile_error(scanned.error());
        profile::Result<profile::PartialProfile> partial(std::move(scanned.value().partial));
        return blob_of(partial);
    });
}

PyObject* merge_partials(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* list = nullptr;
        if (!PyArg_ParseTuple(args, "O!:merge_partials", &PyList_Type, &list)) return nullptr;
        std::vector<PyRef> held;
        std::vector<std::string_view> blobs;
        if (!blob_list(list, "partial profile", held, blobs)) return nullptr;
        return merged_bytes<profile::PartialProfile>(blobs, "partial profile");
    });
}

PyObject* finalize_partial(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* blob = nullptr;
        PyObject* options_dict = nullptr;
        PyObject* contexts = Py_None;
        if (!PyArg_ParseTuple(args, "O!O!|O:finalize_partial", &PyBytes_Type, &blob, &PyDict_Type,
                              &options_dict, &contexts)) {
            return nullptr;
        }
        // Only the declared fields are read: the rest travels in the partial.
        profile::ProfileOptions options;
        if (!read_profile_options(options_dict, options)) return nullptr;
        std::optional<std::vector<context::ContextPartial>> read;
        if (contexts != Py_None) {
            read.emplace();
            std::vector<PyRef> held;
            std::vector<std::string_view> blobs;
            if (!blob_list(contexts, "context partial", held, blobs)) return nullptr;
            for (std::size_t i = 0; i < blobs.size(); ++i) {
                auto loaded = context::ContextPartial::deserialize(blobs[i]);
                if (!loaded) {
                    PyErr_Format(PyExc_ValueError, "context partial %zu is not usable: %s", i,
                                 loaded.error().reason.c_str());
                    return nullptr;
                }
                read->push_back(std::move(loaded.value()));
            }
        }
        const std::string_view bytes = bytes_view(blob);
        auto partial = load(bytes, 0);
        if (!partial) return nullptr;
        auto finished = without_gil([&] { return std::move(*partial).finalize(options.declared); });
        if (!finished) return raise_profile_error(finished.error());
        return finished_profile_to_python(options_dict, finished.value(), read ? &*read : nullptr);
    });
}

PyObject* plan_context(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        const char* path = nullptr;
        const char* kind = nullptr;
        unsigned long long size = 0, piece_bytes = 0;
        if (!PyArg_ParseTuple(args, "ssKK:plan_context", &path, &kind, &size, &piece_bytes))
            return nullptr;
        context::ContextFile file{path, std::nullopt};
        if (*kind && !(file.kind = context::kind_named(kind))) {
            PyErr_Format(PyExc_ValueError, "option context: kind %s is not recognised", kind);
            return nullptr;
        }
        auto planned = context::plan_context(file, size, piece_bytes);
        if (!planned) return raise_profile_error(planned.error());
        PyRef list(PyList_New(0));
        if (!list) return nullptr;
        for (const context::ContextPiece& piece : planned.value()) {
            PyRef item(Py_BuildValue("{s:s,s:s,s:K,s:K,s:O}", "path", path, "kind", kind, "start",
                                     static_cast<unsigned long long>(piece.from), "end",
                                     static_cast<unsigned long long>(piece.to), "gzip",
                                     piece.gzip ? Py_True : Py_False));
            if (!item || PyList_Append(list.get(), item.get()) != 0) return nullptr;
        }
        return list.release();
    });
}

namespace {

bool read_text(PyObject* object, std::string& out) {
    if (!PyUnicode_Check(object)) return false;
    PyRef utf8(PyUnicode_AsUTF8String(object));
    if (!utf8) return false;
    out = std::string(bytes_view(utf8.get()));
    return true;
}

bool context_piece(PyObject* dict, context::ContextPiece& piece) {
    if (!PyDict_Check(dict)) {
        PyErr_SetString(PyExc_TypeError, "a context piece is the dict plan_context gives");
        return false;
    }
    PyObject* path = PyDict_GetItemString(dict, "path");
    PyObject* kind = PyDict_GetItemString(dict, "kind");
    PyObject* gzip = PyDict_GetItemString(dict, "gzip");
    std::string kind_text;
    if (path == nullptr || kind == nullptr || gzip == nullptr ||
        !read_text(path, piece.file.path) || !read_text(kind, kind_text)) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_ValueError, "the context piece has no path, kind or gzip entry");
        return false;
    }
    if (!kind_text.empty() && !(piece.file.kind = context::kind_named(kind_text))) {
        PyErr_Format(PyExc_ValueError, "option context: kind %s is not recognised",
                     kind_text.c_str());
        return false;
    }
    piece.gzip = PyObject_IsTrue(gzip) == 1;
    if (!piece_number(dict, "start", piece.from) || !piece_number(dict, "end", piece.to))
        return false;
    if (piece.to < piece.from || (piece.gzip && piece.from != 0)) {
        PyErr_Format(PyExc_ValueError, "%s: the piece's byte range is not one plan_context gives",
                     piece.file.path.c_str());
        return false;
    }
    return true;
}

}  // namespace

PyObject* scan_context_piece(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* piece_dict = nullptr;
        PyObject* options_dict = nullptr;
        PyObject* quotes_object = Py_None;
        if (!PyArg_ParseTuple(args, "OO!|O:scan_context_piece", &piece_dict, &PyDict_Type,
                              &options_dict, &quotes_object))
            return nullptr;
        context::ContextPiece piece;
        profile::ProfileOptions options;
        if (!context_piece(piece_dict, piece) || !read_profile_options(options_dict, options))
            return nullptr;
        std::optional<bool> inside;
        if (quotes_object != Py_None) {
            const int truth = PyObject_IsTrue(quotes_object);
            if (truth < 0) return nullptr;
            inside = truth == 1;
        }
        auto scanned =
            without_gil([&] { return context::scan_context_piece(piece, options, inside); });
        if (!scanned) return raise_profile_error(scanned.error());
        const std::string blob = without_gil([&] { return scanned.value().partial.serialize(); });
        return Py_BuildValue("(y#OO)", blob.data(), static_cast<Py_ssize_t>(blob.size()),
                             scanned.value().inside_quotes ? Py_True : Py_False,
                             scanned.value().odd_quotes ? Py_True : Py_False);
    });
}

PyObject* merge_context(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        PyObject* list = nullptr;
        if (!PyArg_ParseTuple(args, "O:merge_context", &list)) return nullptr;
        std::vector<PyRef> held;
        std::vector<std::string_view> blobs;
        if (!blob_list(list, "context partial", held, blobs)) return nullptr;
        return merged_bytes<context::ContextPartial>(blobs, "context partial");
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
