// The profile seal. Fields are framed as the canonical hasher frames them, in a fixed order;
// a field added later is sealed only when present, so that older profiles keep their seals.
#include "export/seal.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string_view>
#include <utility>
#include <vector>

#include "export/state.hpp"
#include "qorv_chemical_engineering_edge/hashing.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

std::uint64_t double_bits(double v) {
    if (std::isnan(v)) return 0x7FF8000000000000ULL;
    return std::bit_cast<std::uint64_t>(v);
}

template <class T>
void seal_field(hashing::CanonicalHasher& h, std::string_view label, const ProfileField<T>& f) {
    if constexpr (std::is_same_v<T, double>) {
        h.field(label, double_bits(f.value));
    } else {
        h.field(label, static_cast<std::uint64_t>(f.value));
    }
    h.field(label, name(f.provenance));
}

void seal_optional(hashing::CanonicalHasher& h, std::string_view label,
                   const std::optional<std::int64_t>& v) {
    h.field(label, v ? std::string_view("set") : std::string_view("unset"));
    if (v) h.field(label, static_cast<std::uint64_t>(*v));
}

std::int64_t floor_seconds(std::int64_t us) {
    constexpr std::int64_t kUs = 1'000'000;
    return us / kUs - (us % kUs < 0 ? 1 : 0);
}

// A wall time w resolves by the offsets in force at w - kMaxOffset .. w - kMinOffset, all within
// kMaxOffset - kMinOffset seconds of the instant it resolves to: the zone's data beyond that
// reach of the span cannot have changed an instant, and does not enter the seal. Transitions
// that keep the offset (a new abbreviation, a daylight flag) change no instant either.
void seal_zone(hashing::CanonicalHasher& h, const tz::Zone& zone, std::optional<ZoneSpan> span) {
    if (!span) {
        h.field("zone_walls", std::string_view("none"));
        return;
    }
    constexpr std::int64_t kReach = std::int64_t{tz::kMaxOffset} - tz::kMinOffset;
    const std::int64_t from = floor_seconds(span->first_us) - kReach;
    const std::int64_t to = floor_seconds(span->last_us) + 1 + kReach;
    h.field("zone_walls", std::string_view("resolved"));
    std::int32_t offset = zone.offset_at(from);
    h.field("zone_offset", static_cast<std::uint64_t>(std::int64_t{offset}));
    std::vector<std::pair<std::int64_t, std::int32_t>> changes;
    for (const tz::Period& q : zone.periods()) {
        if (q.utc_start <= from) continue;
        if (q.utc_start > to) break;
        if (q.offset == offset) continue;
        changes.emplace_back(q.utc_start, q.offset);
        offset = q.offset;
    }
    h.field("zone_changes", static_cast<std::uint64_t>(changes.size()));
    for (const auto& [at, off] : changes)
        h.field("at_s", static_cast<std::uint64_t>(at))
            .field("offset", static_cast<std::uint64_t>(std::int64_t{off}));
}

}  // namespace

std::string seal_of(const ExportProfile& p, const tz::Zone& zone, std::optional<ZoneSpan> span) {
    hashing::CanonicalHasher h;
    h.field("schema", ExportProfile::kSchema);
    h.field("unit_vocabulary", p.unit_vocabulary);
    h.field("input_digest", p.input_digest);
    const ProfileOptions& o = p.options;
    h.field("layout", name(o.layout));
    h.field("delimiter", std::string_view(&o.delimiter, 1));
    h.field("decimal", std::string_view(&o.decimal, 1));
    // Unset seals as month first: where the data decided otherwise, the decision is a reading
    // fact, sealed with the file.
    h.field("day_first", static_cast<std::uint64_t>(o.day_first.value_or(false)));
    h.field("timestamp_format", name(o.timestamp_format));
    // Sealed only when given, so that a profile read without them keeps its seal.
    if (!o.timestamp_columns.empty()) {
        h.field("timestamp_columns", static_cast<std::uint64_t>(o.timestamp_columns.size()));
        for (const std::string& c : o.timestamp_columns) h.field("timestamp_column", c);
    }
    h.field("zone_name", o.zone_name);
    seal_zone(h, zone, span);
    h.field("missing_sentinels", static_cast<std::uint64_t>(o.missing_sentinels.size()));
    for (double s : o.missing_sentinels) h.field("sentinel", double_bits(s));
    h.field("good_quality", static_cast<std::uint64_t>(o.good_quality.size()));
    for (const std::string& g : o.good_quality) h.field("good", g);
    h.field("tag_units", static_cast<std::uint64_t>(o.tag_units.size()));
    for (const TagUnit& t : o.tag_units) {
        h.field("tag", t.tag).field("unit", t.unit);
        if (!t.id.empty()) h.field("tag_id", t.id);  // sealed only when the list has ids
    }
    const DeclaredFields& d = o.declared;
    for (const auto& [label, v] : {std::pair{"declared_baseline_present", d.baseline_present},
                                   std::pair{"declared_license_cleared", d.license_cleared},
                                   std::pair{"declared_has_maintenance", d.has_maintenance},
                                   std::pair{"declared_has_batches", d.has_batches},
                                   std::pair{"declared_has_lab_samples", d.has_lab_samples}})
        h.field(label, !v ? std::string_view("unset") : *v ? "true" : "false");
    seal_optional(h, "baseline_start_us", d.baseline_start_us);
    seal_optional(h, "baseline_end_us", d.baseline_end_us);
    if (o.accept_multiline_fields) h.field("accept_multiline_fields", std::uint64_t{1});
    if (o.accept_unparsed_rows) h.field("accept_unparsed_rows", std::uint64_t{1});
    if (o.quality_convention != QualityConvention::Auto)
        h.field("quality_convention", name(o.quality_convention));
    if (o.header_line) h.field("header_line", std::uint64_t{o.header_line});
    // Only when given, so that the seals of exports read before the option stay as they were.
    if (o.encoding != Encoding::Auto) h.field("encoding", name(o.encoding));
    // The window search is sealed only when it decides a value (auto): a suggestion shown
    // beside the profile changes no seal.
    const bool auto_baseline = o.baseline_search == BaselineSearch::Auto;
    if (auto_baseline) {
        h.field("baseline_search", std::string_view("auto"));
        h.field("baseline_breaks", static_cast<std::uint64_t>(o.baseline_breaks.size()));
        for (const auto& [a, b] : o.baseline_breaks)
            h.field("break_start_us", static_cast<std::uint64_t>(a))
                .field("break_end_us", static_cast<std::uint64_t>(b));
    }

    seal_field(h, "n_tags", p.n_tags);
    seal_field(h, "n_rows", p.n_rows);
    seal_field(h, "baseline_present", p.baseline_present);
    seal_field(h, "license_cleared", p.license_cleared);
    seal_field(h, "missingness", p.missingness);
    seal_field(h, "unit_coverage", p.unit_coverage);
    seal_field(h, "duplicate_timestamps", p.duplicate_timestamps);
    seal_field(h, "time_span_hours", p.time_span_hours);
    seal_field(h, "sampling_regular", p.sampling_regular);
    seal_field(h, "has_controllers", p.has_controllers);
    seal_field(h, "has_maintenance", p.has_maintenance);
    seal_field(h, "has_batches", p.has_batches);
    seal_field(h, "has_lab_samples", p.has_lab_samples);
    h.field("profile_layout", p.layout);

    h.field("tags", static_cast<std::uint64_t>(p.tags.size()));
    for (const TagEvidence& t : p.tags) {
        h.field("name", t.name).field("unit", t.unit).field("dimension", t.dimension);
        h.field("unit_recognised", static_cast<std::uint64_t>(t.unit_recognised));
        h.field("numeric", static_cast<std::uint64_t>(t.numeric));
        h.field("samples", t.samples).field("present", t.present);
        h.field("missing_empty", t.missing_empty).field("missing_bad_state", t.missing_bad_state);
        h.field("missing_text", t.missing_text).field("missing_sentinel", t.missing_sentinel);
        h.field("missing_quality", t.missing_quality);
        seal_optional(h, "first_us", t.first_us);
        seal_optional(h, "last_us", t.last_us);
        seal_optional(h, "modal_step_us", t.modal_step_us);
        h.field("regular", static_cast<std::uint64_t>(t.regular));
        // Sealed only when present, so profiles without them keep their seals.
        if (t.uncertain) h.field("uncertain", t.uncertain);
        if (t.censored) h.field("censored", t.censored);
    }
    const ProfileNotes& n = p.notes;
    auto counts = [&h](std::string_view label, const std::vector<TextCount>& list) {
        h.field(label, static_cast<std::uint64_t>(list.size()));
        for (const TextCount& c : list) h.field("text", c.text).field("count", c.count);
    };
    counts("unknown_units", n.unknown_units);
    counts("bad_state_texts", n.bad_state_texts);
    counts("other_texts", n.other_texts);
    h.field("other_texts_complete", static_cast<std::uint64_t>(n.other_texts_complete));
    h.field("metadata_rows_skipped", n.metadata_rows_skipped);
    h.field("unparsed_rows", n.unparsed_rows);
    for (const RowRef& r : n.first_unparsed_rows) h.field("file", r.file).field("line", r.line);
    h.field("clock_changes", static_cast<std::uint64_t>(n.clock_changes.size()));
    for (const ClockChangeNote& c : n.clock_changes)
        h.field("file", c.file)
            .field("line", c.line)
            .field("at_us", static_cast<std::uint64_t>(c.at_us));
    h.field("nonexistent_times_moved", n.nonexistent_times_moved);
    h.field("repeated_hour_second", n.repeated_hour_second);
    h.field("unit_disagreements", static_cast<std::uint64_t>(n.unit_disagreements.size()));
    for (const UnitDisagreement& u : n.unit_disagreements)
        h.field("tag", u.tag).field("unit", u.unit).field("other", u.other);
    h.field("loops", static_cast<std::uint64_t>(n.loops.size()));
    for (const ControlLoop& l : n.loops) {
        h.field("base", l.base);
        for (const std::string& s : l.suffixes) h.field("suffix", s);
    }
    h.field("blank_lines", n.blank_lines).field("ragged_rows", n.ragged_rows);
    h.field("oversized_rows", n.oversized_rows).field("unnamed_columns", n.unnamed_columns);
    h.field("input_digest_complete", static_cast<std::uint64_t>(n.input_digest_complete));
    // Sealed only when present, so profiles without them keep their seals.
    if (n.multiline_fields) {
        h.field("multiline_fields", n.multiline_fields);
        h.field("multiline_field_lines", n.multiline_field_lines);
        h.field("file", n.first_multiline_field->file).field("line", n.first_multiline_field->line);
        h.field("first_multiline_field_lines", n.first_multiline_field_lines);
    }
    if (n.uncertain_samples) h.field("uncertain_samples", n.uncertain_samples);
    if (n.censored_samples) h.field("censored_samples", n.censored_samples);
    if (n.windows_1252_texts) h.field("windows_1252_texts", n.windows_1252_texts);
    if (n.utf16_replacements) h.field("utf16_replacements", n.utf16_replacements);
    // Reading facts restate the sealed input and options while a file reads as every export
    // once did; only those that depart from that are sealed, per file, in the files' order.
    for (const FileSummary& f : p.files) {
        const auto departs = [](const ReadingFact& r) { return fact_sealed(r); };
        if (std::none_of(f.reading.begin(), f.reading.end(), departs)) continue;
        h.field("reading_file", f.path);
        for (const ReadingFact& r : f.reading)
            if (departs(r))
                h.field("fact", r.name).field("value", r.value).field("how", name(r.how));
    }
    if (n.title_lines_skipped) h.field("title_lines_skipped", n.title_lines_skipped);
    if (n.footer_rows) h.field("footer_rows", n.footer_rows);
    if (auto_baseline && p.baseline_suggestion) {
        const BaselineSuggestion& b = *p.baseline_suggestion;
        auto window = [&h](const BaselineWindow& w) {
            h.field("start_us", static_cast<std::uint64_t>(w.start_us))
                .field("end_us", static_cast<std::uint64_t>(w.end_us))
                .field("rows", w.rows);
        };
        h.field("baseline_window", std::string_view(b.window ? "found" : "none"));
        if (b.window) window(*b.window);
        h.field("why", b.why);
        h.field("runners_up", static_cast<std::uint64_t>(b.runners_up.size()));
        for (const BaselineWindow& w : b.runners_up) window(w);
        h.field("qualifying_runs", b.qualifying_runs).field("qualifying_rows", b.qualifying_rows);
    }
    // Sealed only when context was read, so that profiles without it keep their seals.
    if (!p.context.empty()) {
        h.field("context", static_cast<std::uint64_t>(p.context.size()));
        for (const ContextEvidence& c : p.context) {
            h.field("kind", c.kind).field("file", c.file).field("digest", c.digest);
            h.field("bytes", c.bytes).field("records", c.records);
            h.field("inside", c.inside).field("outside", c.outside);
            h.field("censored", c.censored).field("open", c.open);
            counts("skipped", c.skipped);
            h.field("tags", static_cast<std::uint64_t>(c.tags.size()));
            for (const std::string& t : c.tags) h.field("tag", t);
            seal_optional(h, "first_us", c.first_us);
            seal_optional(h, "last_us", c.last_us);
            h.field("notes", static_cast<std::uint64_t>(c.notes.size()));
            for (const std::string& t : c.notes) h.field("note", t);
        }
    }
    // Signal health: sealed only with it on, so that a profile without it keeps its seal.
    if (o.health) {
        h.field("health", std::string_view("on"));
        for (const TagEvidence& t : p.tags) {
            h.field("numeric_samples", t.numeric_samples);
            for (const auto& [label, v] : {std::pair{"min", t.min},
                                           {"max", t.max},
                                           {"mean", t.mean},
                                           {"std", t.std},
                                           {"first_value", t.first_value},
                                           {"last_value", t.last_value},
                                           {"modal_step_seconds", t.modal_step_seconds},
                                           {"frozen_longest_seconds", t.frozen_longest_seconds},
                                           {"frozen_share", t.frozen_share},
                                           {"interpolated_share", t.interpolated_share}})
                h.field(label, double_bits(v));
            h.field("constant", static_cast<std::uint64_t>(t.constant));
            h.field("state_tag", static_cast<std::uint64_t>(t.state_tag));
            h.field("compressed", static_cast<std::uint64_t>(t.compressed));
            h.field("frozen_longest_samples", t.frozen_longest_samples);
            h.field("interpolated_judged", t.interpolated_judged);
            h.field("value_limits", t.value_limits);
            h.field("impossible_values", t.impossible_values);
            for (std::int64_t at : t.first_impossible_us)
                h.field("at_us", static_cast<std::uint64_t>(at));
            h.field("suspicious_values", t.suspicious_values);
            for (std::int64_t at : t.first_suspicious_us)
                h.field("at_us", static_cast<std::uint64_t>(at));
        }
        for (const auto& [label, list] : {std::pair{"frozen_tags", &n.frozen_tags},
                                          {"interpolated_tags", &n.interpolated_tags},
                                          {"impossible_value_tags", &n.impossible_value_tags}}) {
            h.field(label, static_cast<std::uint64_t>(list->size()));
            for (const std::string& t : *list) h.field("tag", t);
        }
    }
    return std::move(h).finalize_hex();
}

}  // namespace qorv_chemical_engineering_edge::export_profile
