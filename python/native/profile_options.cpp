// The options dict: every key is present, typed and checked by the Python layer; this side
// copies the values, checking the declared fields once more. Keys: layout, delimiter, decimal,
// day_first (None: decided from the data), timestamp_format, zone_name, zone_tzif,
// missing_sentinels, good_quality, tag_list (None, (file, bytes) or a {tag: unit} dict), the
// declared fields (None or bool), baseline_start_us, baseline_end_us, threads,
// accept_multiline_fields, accept_unparsed_rows, health (absent: off), quality_convention,
// header_line (0: found), encoding; optional: baseline_search ("off", "suggest", "auto"; absent:
// off) and baseline_breaks (a list of (start_us, end_us) pairs).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "context/pieces.hpp"
#include "profile_options.hpp"
#include "qorv_chemical_engineering_edge/context.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace profile = qorv_chemical_engineering_edge::export_profile;

namespace {

PyObject* item(PyObject* dict, const char* key) {
    PyObject* value = PyDict_GetItemString(dict, key);  // borrowed
    if (value == nullptr && !PyErr_Occurred()) {
        PyErr_Format(PyExc_KeyError, "profile option %s is missing", key);
    }
    return value;
}

// PyUnicode_AsUTF8AndSize joined the limited API only in 3.10.
bool read_text(PyObject* object, std::string& out) {
    PyRef utf8(PyUnicode_AsUTF8String(object));
    char* text = nullptr;
    Py_ssize_t size = 0;
    if (!utf8 || PyBytes_AsStringAndSize(utf8.get(), &text, &size) != 0) return false;
    out.assign(text, static_cast<std::size_t>(size));
    return true;
}

bool text_option(PyObject* dict, const char* key, std::string& out) {
    PyObject* value = item(dict, key);
    return value != nullptr && read_text(value, out);
}

// A {tag: unit} mapping, each key and value taken as str() gives it.
bool read_tag_mapping(PyObject* mapping, std::vector<profile::TagUnit>& out) {
    std::vector<profile::TagUnit> given;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    for (Py_ssize_t at = 0; PyDict_Next(mapping, &at, &key, &value);) {
        PyRef tag(PyObject_Str(key));
        PyRef unit(PyObject_Str(value));
        auto& pair = given.emplace_back();
        if (!tag || !unit || !read_text(tag.get(), pair.tag) || !read_text(unit.get(), pair.unit))
            return false;
    }
    out = profile::tag_units_of(std::move(given));
    return true;
}

bool optional_instant(PyObject* dict, const char* key, std::optional<std::int64_t>& out) {
    PyObject* value = item(dict, key);
    if (value == nullptr) return false;
    if (value == Py_None) return true;
    const long long us = PyLong_AsLongLong(value);
    if (us == -1 && PyErr_Occurred()) return false;
    out = us;
    return true;
}

template <class Enum, std::size_t N>
bool enum_option(PyObject* dict, const char* key, const Enum (&values)[N], Enum& out) {
    std::string text;
    if (!text_option(dict, key, text)) return false;
    for (const Enum value : values) {
        if (profile::name(value) == text) {
            out = value;
            return true;
        }
    }
    PyErr_Format(PyExc_ValueError, "option %s=%R is not recognised", key, item(dict, key));
    return false;
}

bool char_option(PyObject* dict, const char* key, char& out) {
    std::string text;
    if (!text_option(dict, key, text)) return false;
    if (text.size() > 1) {
        PyErr_Format(PyExc_ValueError, "option %s must be one character", key);
        return false;
    }
    out = text.empty() ? '\0' : text[0];
    return true;
}

}  // namespace

bool read_profile_options(PyObject* dict, profile::ProfileOptions& options) {
    if (!PyDict_Check(dict)) {
        PyErr_SetString(PyExc_TypeError, "profile options must be a dict");
        return false;
    }
    const profile::Layout layouts[] = {profile::Layout::Auto, profile::Layout::Wide,
                                       profile::Layout::Long, profile::Layout::Paired};
    const profile::TimestampFormat formats[] = {
        profile::TimestampFormat::Auto, profile::TimestampFormat::ExcelSerial,
        profile::TimestampFormat::UnixSeconds, profile::TimestampFormat::UnixMilliseconds};
    const profile::QualityConvention conventions[] = {
        profile::QualityConvention::Auto,  profile::QualityConvention::Text,
        profile::QualityConvention::OpcDa, profile::QualityConvention::OpcHda,
        profile::QualityConvention::OpcUa, profile::QualityConvention::ZeroGood};
    const profile::Encoding encodings[] = {
        profile::Encoding::Auto,    profile::Encoding::Utf8,    profile::Encoding::Windows1252,
        profile::Encoding::Utf16LE, profile::Encoding::Utf16BE, profile::Encoding::Utf16};
    if (!enum_option(dict, "layout", layouts, options.layout) ||
        !enum_option(dict, "encoding", encodings, options.encoding) ||
        !enum_option(dict, "quality_convention", conventions, options.quality_convention) ||
        !enum_option(dict, "timestamp_format", formats, options.timestamp_format) ||
        !char_option(dict, "delimiter", options.delimiter) ||
        !char_option(dict, "decimal", options.decimal) ||
        !text_option(dict, "zone_name", options.zone_name)) {
        return false;
    }
    PyObject* day_first = item(dict, "day_first");
    PyObject* tzif = item(dict, "zone_tzif");
    PyObject* sentinels = item(dict, "missing_sentinels");
    PyObject* good = item(dict, "good_quality");
    PyObject* tag_list = item(dict, "tag_list");
    PyObject* threads = item(dict, "threads");
    PyObject* multiline = item(dict, "accept_multiline_fields");
    PyObject* unparsed = item(dict, "accept_unparsed_rows");
    if (!day_first || !tzif || !sentinels || !good || !tag_list || !threads || !multiline ||
        !unparsed)
        return false;
    if (day_first != Py_None) options.day_first = PyObject_IsTrue(day_first) == 1;
    options.accept_multiline_fields = PyObject_IsTrue(multiline) == 1;
    options.accept_unparsed_rows = PyObject_IsTrue(unparsed) == 1;
    // Absent: off, so that a dict made before it existed reads as it always did.
    PyObject* health = PyDict_GetItemString(dict, "health");
    options.health = health && PyObject_IsTrue(health) == 1;
    if (PyObject* header_line = PyDict_GetItemString(dict, "header_line")) {
        const unsigned long line = PyLong_AsUnsignedLong(header_line);
        if (PyErr_Occurred()) return false;
        if (line > 0xFFFFFFFFul) {
            PyErr_SetString(PyExc_ValueError, "option header_line is past any line");
            return false;
        }
        options.header_line = static_cast<std::uint32_t>(line);
    }

    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(tzif, &bytes, &size) != 0) return false;
    options.zone_tzif.assign(bytes, static_cast<std::size_t>(size));

    for (Py_ssize_t i = 0, n = PyList_Size(sentinels); i < n; ++i) {
        const double value = PyFloat_AsDouble(PyList_GetItem(sentinels, i));
        if (value == -1.0 && PyErr_Occurred()) return false;
        options.missing_sentinels.push_back(value);
    }
    for (Py_ssize_t i = 0, n = PyList_Size(good); i < n; ++i) {
        if (!read_text(PyList_GetItem(good, i), options.good_quality.emplace_back())) return false;
    }
    if (PyDict_Check(tag_list)) {
        if (!read_tag_mapping(tag_list, options.tag_units)) return false;
    } else if (tag_list != Py_None) {
        const char* file = nullptr;
        const char* data = nullptr;
        Py_ssize_t file_size = 0, data_size = 0;
        if (!PyArg_ParseTuple(tag_list, "s#y#:tag_list", &file, &file_size, &data, &data_size))
            return false;
        auto parsed =
            profile::parse_tag_list({data, static_cast<std::size_t>(data_size)},
                                    {file, static_cast<std::size_t>(file_size)}, options.encoding);
        if (!parsed) {
            raise_profile_error(parsed.error());
            return false;
        }
        options.tag_units = std::move(parsed.value());
    }
    // Absent from dicts built before the option existed: none named.
    if (PyObject* columns = PyDict_GetItemString(dict, "timestamp_columns")) {
        if (!PyList_Check(columns) || PyList_Size(columns) > 2) {
            PyErr_SetString(PyExc_ValueError,
                            "option timestamp_columns must be a list of one or two names");
            return false;
        }
        for (Py_ssize_t i = 0, n = PyList_Size(columns); i < n; ++i)
            if (!read_text(PyList_GetItem(columns, i), options.timestamp_columns.emplace_back()))
                return false;
    }
    const unsigned long count = PyLong_AsUnsignedLong(threads);
    if (count == static_cast<unsigned long>(-1) && PyErr_Occurred()) return false;
    options.threads = static_cast<unsigned>(count);

    if (PyObject* search = PyDict_GetItemString(dict, "baseline_search")) {
        std::string text;
        if (!read_text(search, text)) return false;
        constexpr std::pair<std::string_view, profile::BaselineSearch> kSearches[] = {
            {"off", profile::BaselineSearch::Off},
            {"suggest", profile::BaselineSearch::Suggest},
            {"auto", profile::BaselineSearch::Auto}};
        bool known = false;
        for (const auto& [label, value] : kSearches)
            if (text == label) {
                options.baseline_search = value;
                known = true;
            }
        if (!known) {
            PyErr_Format(PyExc_ValueError, "option baseline=%R is not recognised", search);
            return false;
        }
    }
    if (PyObject* breaks = PyDict_GetItemString(dict, "baseline_breaks")) {
        if (!PyList_Check(breaks)) {
            PyErr_SetString(PyExc_TypeError,
                            "option baseline_breaks must be a list of (start_us, end_us) pairs");
            return false;
        }
        for (Py_ssize_t i = 0, n = PyList_Size(breaks); i < n; ++i) {
            long long a = 0, b = 0;
            if (!PyArg_ParseTuple(PyList_GetItem(breaks, i), "LL:baseline_breaks", &a, &b))
                return false;
            options.baseline_breaks.emplace_back(a, b);
        }
    }

    auto& d = options.declared;
    return read_declared(dict, d) &&
           optional_instant(dict, "baseline_start_us", d.baseline_start_us) &&
           optional_instant(dict, "baseline_end_us", d.baseline_end_us);
}

bool read_context_files(PyObject* dict,
                        std::vector<qorv_chemical_engineering_edge::context::ContextFile>& files) {
    namespace context = qorv_chemical_engineering_edge::context;
    PyObject* given = PyDict_GetItemString(dict, "context");  // borrowed
    if (given == nullptr || given == Py_None) return true;
    if (!PyList_Check(given)) {
        PyErr_SetString(PyExc_TypeError, "option context must be a list of (path, kind)");
        return false;
    }
    for (Py_ssize_t i = 0, n = PyList_Size(given); i < n; ++i) {
        PyObject* pair = PyList_GetItem(given, i);  // borrowed
        std::string kind;
        context::ContextFile& f = files.emplace_back();
        if (!PyTuple_Check(pair) || PyTuple_Size(pair) != 2 ||
            !read_text(PyTuple_GetItem(pair, 0), f.path) ||
            !read_text(PyTuple_GetItem(pair, 1), kind)) {
            if (!PyErr_Occurred())
                PyErr_SetString(PyExc_TypeError, "option context must be a list of (path, kind)");
            return false;
        }
        if (!kind.empty() && !(f.kind = context::kind_named(kind))) {
            PyErr_Format(PyExc_ValueError, "option context: kind %s is not recognised",
                         kind.c_str());
            return false;
        }
    }
    return true;
}

PyObject* finished_profile_to_python(
    PyObject* dict, profile::ExportProfile& p,
    std::vector<qorv_chemical_engineering_edge::context::ContextPartial>* partials) {
    namespace context = qorv_chemical_engineering_edge::context;
    std::vector<context::ContextFile> files;
    if (!read_context_files(dict, files)) return nullptr;
    if (!files.empty() || partials) {
        PyThreadState* caller = PyEval_SaveThread();
        const std::optional<profile::ProfileError> failed =
            partials ? context::attach_partials(p, files, std::move(*partials))
                     : context::attach(p, files);
        PyEval_RestoreThread(caller);
        if (failed) return raise_profile_error(*failed);
    }
    return profile_to_python(p);
}

PyObject* raise_profile_error(const profile::ProfileError& e) {
    if (e.file.empty()) {
        PyErr_Format(PyExc_ValueError, "%s", e.reason.c_str());
    } else {
        PyErr_Format(PyExc_ValueError, "%s: %s", e.file.c_str(), e.reason.c_str());
    }
    return nullptr;
}

PyObject* read_tag_list(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        const char* file = nullptr;
        const char* data = nullptr;
        Py_ssize_t file_size = 0, data_size = 0;
        if (!PyArg_ParseTuple(args, "s#y#:read_tag_list", &file, &file_size, &data, &data_size))
            return nullptr;
        const auto parsed = profile::parse_tag_list({data, static_cast<std::size_t>(data_size)},
                                                    {file, static_cast<std::size_t>(file_size)});
        if (!parsed) return raise_profile_error(parsed.error());
        PyRef pairs(PyList_New(static_cast<Py_ssize_t>(parsed.value().size())));
        if (!pairs) return nullptr;
        for (std::size_t i = 0; i < parsed.value().size(); ++i) {
            const auto& row = parsed.value()[i];
            PyObject* pair =
                Py_BuildValue("(s#s#)", row.tag.data(), static_cast<Py_ssize_t>(row.tag.size()),
                              row.unit.data(), static_cast<Py_ssize_t>(row.unit.size()));
            if (pair == nullptr) return nullptr;
            PyList_SetItem(pairs.get(), static_cast<Py_ssize_t>(i), pair);
        }
        return pairs.release();
    });
}

}  // namespace qorv_chemical_engineering_edge_py
