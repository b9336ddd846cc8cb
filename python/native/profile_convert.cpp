// A finished export profile as plain Python objects:
//   {"values": {field: (value, provenance)}, "layout": str,
//    "tags": [(name, unit, unit_recognised, dimension, numeric, samples, present, missing_empty,
//              missing_bad_state, missing_text, missing_sentinel, missing_quality, first_us,
//              last_us, modal_step_us, regular, uncertain, censored, health)], health None
//              (health off) or (numeric_samples, min, max, mean, std, first_value, last_value,
//              modal_step_seconds, constant, state_tag, frozen_longest_seconds,
//              frozen_longest_samples, frozen_share, interpolated_share, interpolated_judged,
//              compressed, value_limits, impossible_values, suspicious_values,
//              [first_impossible_us], [first_suspicious_us]) with None where no value,
//    "notes": {...}, "files": [(path, bytes, layout, delimiter, data_rows, [(fact, value, how)])],
//    "input_digest": str, "unit_vocabulary": str, "seal": str,
//    "context": [(kind, file, digest, bytes, records, inside, outside, censored, open,
//                 [(reason, count)], [tag], first_us, last_us, [note], [(from_us, to_us)] breaks,
//                 [(from_us, to_us)] marks)],
//    "availability": {"start_us", "bin_us", "bins", "complete", "rows": bytes (uint64 per bin),
//                     "counts": bytes (uint32 [tag][bin][present, missing, bad-state]),
//                     "first": bytes, "last": bytes, "step": bytes (int64 per tag; INT64_MIN
//                     when absent; the step is the tag's (long) or the rows' (wide) modal step),
//                     "low": bytes, "high": bytes (double [tag][bin], NaN where no value;
//                     empty without signal health)},
//    "baseline_suggestion": None, or {"window": (start_us, end_us, rows) or None, "why": str,
//                           "runners_up": [(start_us, end_us, rows)], "qualifying_runs",
//                           "qualifying_rows", "short_export", "min_duration_us"}}
// Instants are microseconds since the epoch (UTC), None when absent. Byte arrays are in the
// machine's order, for memoryview.cast.
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "profile_options.hpp"
#include "qorv_chemical_engineering_edge/names.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace profile = qorv_chemical_engineering_edge::export_profile;
namespace names = qorv_chemical_engineering_edge::names;

namespace {

PyObject* str(std::string_view text) {
    return new_str(text);
}
PyObject* count(std::uint64_t n) {
    return PyLong_FromUnsignedLongLong(n);
}
PyObject* flag(bool value) {
    return PyBool_FromLong(value ? 1 : 0);
}
PyObject* instant(const std::optional<std::int64_t>& us) {
    return us ? PyLong_FromLongLong(*us) : none();
}

// Sets dict[key] = new_value, taking the new reference; false on failure.
bool put(PyObject* dict, const char* key, PyObject* new_value) {
    PyRef value(new_value);
    return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

// A list made by converting each element; null on failure.
template <class T, class Convert>
PyObject* list_of(const std::vector<T>& items, Convert&& convert) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return nullptr;
    Py_ssize_t index = 0;
    for (const auto& element : items) {
        PyObject* converted = convert(element);
        if (converted == nullptr) return nullptr;
        PyList_SetItem(list.get(), index++, converted);  // steals
    }
    return list.release();
}

template <class T>
PyObject* field(const profile::ProfileField<T>& f, PyObject* value) {
    if (value == nullptr) return nullptr;
    return Py_BuildValue("(Ns)", value, std::string(profile::name(f.provenance)).c_str());
}

PyObject* text_counts(const std::vector<profile::TextCount>& counts) {
    return list_of(counts, [](const profile::TextCount& c) {
        return Py_BuildValue("(NK)", str(c.text), static_cast<unsigned long long>(c.count));
    });
}

// Keyed by the names table's readiness fields, in its order.
PyObject* values(const profile::ExportProfile& p) {
    PyObject* made[] = {
        field(p.n_tags, count(p.n_tags.value)),
        field(p.n_rows, count(p.n_rows.value)),
        field(p.baseline_present, flag(p.baseline_present.value)),
        field(p.license_cleared, flag(p.license_cleared.value)),
        field(p.missingness, PyFloat_FromDouble(p.missingness.value)),
        field(p.unit_coverage, PyFloat_FromDouble(p.unit_coverage.value)),
        field(p.duplicate_timestamps, PyFloat_FromDouble(p.duplicate_timestamps.value)),
        field(p.time_span_hours, PyFloat_FromDouble(p.time_span_hours.value)),
        field(p.sampling_regular, flag(p.sampling_regular.value)),
        field(p.has_controllers, flag(p.has_controllers.value)),
        field(p.has_maintenance, flag(p.has_maintenance.value)),
        field(p.has_batches, flag(p.has_batches.value)),
        field(p.has_lab_samples, flag(p.has_lab_samples.value)),
    };
    static_assert(std::size(made) == names::kReadinessFields.size());
    PyRef d(PyDict_New());
    bool ok = static_cast<bool>(d);
    for (std::size_t i = 0; i < std::size(made); ++i) {
        PyRef value(made[i]);  // released however the loop goes
        const std::string key(names::kReadinessFields[i]);
        ok = ok && value && PyDict_SetItemString(d.get(), key.c_str(), value.get()) == 0;
    }
    return ok ? d.release() : nullptr;
}

// Signal health's fields (see TagEvidence), or None with health off.
PyObject* health(const profile::TagEvidence& t, bool on) {
    if (!on) return none();
    auto us = [](std::int64_t v) { return PyLong_FromLongLong(v); };
    auto real = [](double v) { return std::isnan(v) ? none() : PyFloat_FromDouble(v); };
    return Py_BuildValue(
        "(KNNNNNNNNNNKNNKNNKKNN)", static_cast<unsigned long long>(t.numeric_samples), real(t.min),
        real(t.max), real(t.mean), real(t.std), real(t.first_value), real(t.last_value),
        real(t.modal_step_seconds), flag(t.constant), flag(t.state_tag),
        real(t.frozen_longest_seconds), static_cast<unsigned long long>(t.frozen_longest_samples),
        real(t.frozen_share), real(t.interpolated_share),
        static_cast<unsigned long long>(t.interpolated_judged), flag(t.compressed),
        str(t.value_limits), static_cast<unsigned long long>(t.impossible_values),
        static_cast<unsigned long long>(t.suspicious_values), list_of(t.first_impossible_us, us),
        list_of(t.first_suspicious_us, us));
}

PyObject* tag(const profile::TagEvidence& t, bool on) {
    return Py_BuildValue(
        "(NNNNNKKKKKKKNNNNKKN)", str(t.name), str(t.unit), flag(t.unit_recognised),
        str(t.dimension), flag(t.numeric), static_cast<unsigned long long>(t.samples),
        static_cast<unsigned long long>(t.present),
        static_cast<unsigned long long>(t.missing_empty),
        static_cast<unsigned long long>(t.missing_bad_state),
        static_cast<unsigned long long>(t.missing_text),
        static_cast<unsigned long long>(t.missing_sentinel),
        static_cast<unsigned long long>(t.missing_quality), instant(t.first_us), instant(t.last_us),
        instant(t.modal_step_us), flag(t.regular), static_cast<unsigned long long>(t.uncertain),
        static_cast<unsigned long long>(t.censored), health(t, on));
}

PyObject* notes(const profile::ProfileNotes& n) {
    PyRef d(PyDict_New());
    if (!d) return nullptr;
    const bool ok =
        put(d.get(), "unknown_units", text_counts(n.unknown_units)) &&
        put(d.get(), "bad_state_texts", text_counts(n.bad_state_texts)) &&
        put(d.get(), "other_texts", text_counts(n.other_texts)) &&
        put(d.get(), "other_texts_complete", flag(n.other_texts_complete)) &&
        put(d.get(), "metadata_rows_skipped", count(n.metadata_rows_skipped)) &&
        put(d.get(), "unparsed_rows", count(n.unparsed_rows)) &&
        put(d.get(), "first_unparsed_rows",
            list_of(n.first_unparsed_rows,
                    [](const profile::RowRef& r) {
                        return Py_BuildValue("(NK)", str(r.file),
                                             static_cast<unsigned long long>(r.line));
                    })) &&
        put(d.get(), "clock_changes",
            list_of(n.clock_changes,
                    [](const profile::ClockChangeNote& c) {
                        return Py_BuildValue("(NKL)", str(c.file),
                                             static_cast<unsigned long long>(c.line),
                                             static_cast<long long>(c.at_us));
                    })) &&
        put(d.get(), "nonexistent_times_moved", count(n.nonexistent_times_moved)) &&
        put(d.get(), "repeated_hour_second", count(n.repeated_hour_second)) &&
        put(d.get(), "unit_disagreements",
            list_of(n.unit_disagreements,
                    [](const profile::UnitDisagreement& u) {
                        return Py_BuildValue("(NNN)", str(u.tag), str(u.unit), str(u.other));
                    })) &&
        put(d.get(), "blank_lines", count(n.blank_lines)) &&
        put(d.get(), "ragged_rows", count(n.ragged_rows)) &&
        put(d.get(), "oversized_rows", count(n.oversized_rows)) &&
        put(d.get(), "unnamed_columns", count(n.unnamed_columns)) &&
        put(d.get(), "title_lines_skipped", count(n.title_lines_skipped)) &&
        put(d.get(), "footer_rows", count(n.footer_rows)) &&
        put(d.get(), "input_digest_complete", flag(n.input_digest_complete)) &&
        put(d.get(), "multiline_fields", count(n.multiline_fields)) &&
        put(d.get(), "windows_1252_texts", count(n.windows_1252_texts)) &&
        put(d.get(), "utf16_replacements", count(n.utf16_replacements)) &&
        put(d.get(), "multiline_field_lines", count(n.multiline_field_lines)) &&
        put(d.get(), "uncertain_samples", count(n.uncertain_samples)) &&
        put(d.get(), "censored_samples", count(n.censored_samples)) &&
        put(d.get(), "first_multiline_field",
            n.first_multiline_field
                ? Py_BuildValue("(NKK)", str(n.first_multiline_field->file),
                                static_cast<unsigned long long>(n.first_multiline_field->line),
                                static_cast<unsigned long long>(n.first_multiline_field_lines))
                : Py_BuildValue("")) &&
        put(d.get(), "loops",
            list_of(n.loops,
                    [](const profile::ControlLoop& loop) {
                        return Py_BuildValue("(NN)", str(loop.base), list_of(loop.suffixes, str));
                    })) &&
        put(d.get(), "frozen_tags", list_of(n.frozen_tags, str)) &&
        put(d.get(), "interpolated_tags", list_of(n.interpolated_tags, str)) &&
        put(d.get(), "impossible_value_tags", list_of(n.impossible_value_tags, str));
    return ok ? d.release() : nullptr;
}

PyObject* fact(const profile::ReadingFact& r) {
    return Py_BuildValue("(NNN)", str(r.name), str(r.value), str(profile::name(r.how)));
}

PyObject* file(const profile::FileSummary& f) {
    return Py_BuildValue("(NKNNKN)", str(f.path), static_cast<unsigned long long>(f.bytes),
                         str(f.layout), str(std::string_view(&f.delimiter, 1)),
                         static_cast<unsigned long long>(f.data_rows), list_of(f.reading, fact));
}

template <class T>
PyObject* raw_bytes(const std::vector<T>& items) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(items.data()),
                                     static_cast<Py_ssize_t>(items.size() * sizeof(T)));
}

PyObject* availability(const profile::ExportProfile& p) {
    const profile::AvailabilityBins& a = p.availability;
    constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::min();
    std::vector<std::int64_t> first, last, step;
    first.reserve(p.tags.size());
    last.reserve(p.tags.size());
    step.reserve(p.tags.size());
    const bool is_long = p.layout != "wide";  // paired tags keep their own steps, as long ones
    for (const profile::TagEvidence& t : p.tags) {
        first.push_back(t.first_us.value_or(kNone));
        last.push_back(t.last_us.value_or(kNone));
        step.push_back((is_long ? t.modal_step_us : a.row_step_us).value_or(kNone));
    }
    PyRef d(PyDict_New());
    if (!d) return nullptr;
    const bool ok =
        put(d.get(), "start_us", PyLong_FromLongLong(a.start_us)) &&
        put(d.get(), "bin_us", PyLong_FromLongLong(a.bin_us)) &&
        put(d.get(), "bins", count(a.bins)) && put(d.get(), "complete", flag(a.complete)) &&
        put(d.get(), "rows", raw_bytes(a.rows)) && put(d.get(), "counts", raw_bytes(a.counts)) &&
        put(d.get(), "first", raw_bytes(first)) && put(d.get(), "last", raw_bytes(last)) &&
        put(d.get(), "step", raw_bytes(step)) && put(d.get(), "low", raw_bytes(a.low)) &&
        put(d.get(), "high", raw_bytes(a.high));
    return ok ? d.release() : nullptr;
}

PyObject* window(const profile::BaselineWindow& w) {
    return Py_BuildValue("(LLK)", static_cast<long long>(w.start_us),
                         static_cast<long long>(w.end_us), static_cast<unsigned long long>(w.rows));
}

PyObject* baseline_suggestion(const profile::ExportProfile& p) {
    if (!p.baseline_suggestion) Py_RETURN_NONE;
    const profile::BaselineSuggestion& b = *p.baseline_suggestion;
    PyRef d(PyDict_New());
    if (!d) return nullptr;
    PyObject* found = nullptr;
    if (b.window) {
        found = window(*b.window);
    } else {
        found = Py_None;
        Py_INCREF(found);
    }
    const bool ok = put(d.get(), "window", found) && put(d.get(), "why", str(b.why)) &&
                    put(d.get(), "runners_up", list_of(b.runners_up, window)) &&
                    put(d.get(), "qualifying_runs", count(b.qualifying_runs)) &&
                    put(d.get(), "qualifying_rows", count(b.qualifying_rows)) &&
                    put(d.get(), "short_export", flag(b.short_export)) &&
                    put(d.get(), "min_duration_us", PyLong_FromLongLong(b.min_duration_us));
    return ok ? d.release() : nullptr;
}

PyObject* spans(const std::vector<std::pair<std::int64_t, std::int64_t>>& list) {
    return list_of(list, [](const std::pair<std::int64_t, std::int64_t>& s) {
        return Py_BuildValue("(LL)", static_cast<long long>(s.first),
                             static_cast<long long>(s.second));
    });
}

PyObject* context_source(const profile::ContextEvidence& c) {
    return Py_BuildValue("(NNNNNNNNNNNNNNNN)", str(c.kind), str(c.file), str(c.digest),
                         count(c.bytes), count(c.records), count(c.inside), count(c.outside),
                         count(c.censored), count(c.open), text_counts(c.skipped),
                         list_of(c.tags, [](const std::string& t) { return str(t); }),
                         instant(c.first_us), instant(c.last_us),
                         list_of(c.notes, [](const std::string& t) { return str(t); }),
                         spans(c.breaks), spans(c.marks));
}

// What a report calls each note, by the key notes() writes it under. A note without words here
// is shown by its key.
constexpr std::pair<std::string_view, std::string_view> kNoteLabels[] = {
    {"unknown_units", "units not recognised (× tags)"},
    {"bad_state_texts", "bad-state texts (× cells)"},
    {"other_texts", "other texts, counted missing (× cells)"},
    {"other_texts_complete", "every other text listed"},
    {"metadata_rows_skipped", "metadata rows skipped"},
    {"unparsed_rows", "rows with an unparsed timestamp"},
    {"first_unparsed_rows", "first unparsed rows"},
    {"clock_changes", "likely clock changes"},
    {"nonexistent_times_moved", "times in the spring gap, moved"},
    {"repeated_hour_second", "repeated-hour rows read as the second"},
    {"unit_disagreements", "unit disagreements"},
    {"loops", "control loops"},
    {"blank_lines", "blank lines skipped"},
    {"ragged_rows", "rows with more or fewer cells than the header"},
    {"oversized_rows", "rows over 16 MiB, counted unparsed"},
    {"unnamed_columns", "columns without a name, not tags"},
    {"input_digest_complete", "input digest covers every byte"},
    {"multiline_fields", "quoted fields read as cells"},
    {"multiline_field_lines", "line ends inside them"},
    {"first_multiline_field", "the first of them"},
    {"uncertain_samples", "samples of uncertain quality, counted present"},
    {"censored_samples", "censored values (<0.5, ND), counted present"},
    {"windows_1252_texts", "texts read as Windows-1252"},
    {"utf16_replacements", "UTF-16 units replaced by U+FFFD"},
    {"title_lines_skipped", "title lines above the header skipped"},
    {"footer_rows", "footer rows under the data skipped"},
};

}  // namespace

PyObject* note_labels_to_python() {
    PyRef d(PyDict_New());
    if (!d) return nullptr;
    for (const auto& [key, label] : kNoteLabels) {
        if (!put(d.get(), std::string(key).c_str(), str(label))) return nullptr;
    }
    return d.release();
}

PyObject* profile_to_python(const profile::ExportProfile& p) {
    PyRef d(PyDict_New());
    if (!d) return nullptr;
    const bool ok =
        put(d.get(), "values", values(p)) && put(d.get(), "layout", str(p.layout)) &&
        put(d.get(), "tags",
            list_of(p.tags,
                    [&p](const profile::TagEvidence& t) { return tag(t, p.options.health); })) &&
        put(d.get(), "notes", notes(p.notes)) && put(d.get(), "files", list_of(p.files, file)) &&
        put(d.get(), "input_digest", str(p.input_digest)) &&
        put(d.get(), "unit_vocabulary", str(p.unit_vocabulary)) &&
        put(d.get(), "seal", str(p.seal)) && put(d.get(), "availability", availability(p)) &&
        put(d.get(), "baseline_suggestion", baseline_suggestion(p)) &&
        put(d.get(), "context", list_of(p.context, context_source));
    return ok ? d.release() : nullptr;
}

}  // namespace qorv_chemical_engineering_edge_py
