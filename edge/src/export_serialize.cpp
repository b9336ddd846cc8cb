// PartialProfile's binary form: "export_profile_partial" text, a version, the payload length,
// every field of the state and of the options it was scanned with (little-endian), and the
// SHA-256 of that payload. Reading checks the digest, each length against what is left, every
// index against what it indexes, and that no time axis holds more instants than bytes were
// scanned, so damaged or crafted input is an error value, never a crash or a runaway.
#include <cstring>

#include "export_state.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr std::string_view kMagic = "export_profile_partial";
constexpr std::uint32_t kVersion = 2;  // 2: the multi-line field counts

struct Writer {
    std::string out;
    void u64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
    }
    void i64(std::int64_t v) { u64(static_cast<std::uint64_t>(v)); }
    void b(bool v) { out.push_back(v ? 1 : 0); }
    void str(std::string_view s) {
        u64(s.size());
        out.append(s);
    }
    void f64(double v) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        u64(bits);
    }
};

struct Reader {
    std::string_view in;
    bool ok = true;
    bool need(std::uint64_t n) {
        if (!ok || in.size() < n) ok = false;
        return ok;
    }
    std::uint64_t u64() {
        if (!need(8)) return 0;
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= std::uint64_t(static_cast<unsigned char>(in[i])) << (8 * i);
        in.remove_prefix(8);
        return v;
    }
    std::int64_t i64() { return static_cast<std::int64_t>(u64()); }
    bool b() {
        if (!need(1)) return false;
        const char c = in[0];
        in.remove_prefix(1);
        if (c != 0 && c != 1) ok = false;
        return c == 1;
    }
    std::string str() {
        const std::uint64_t n = u64();
        if (!need(n)) return {};
        std::string s(in.substr(0, n));
        in.remove_prefix(n);
        return s;
    }
    double f64() {
        const std::uint64_t bits = u64();
        double v;
        std::memcpy(&v, &bits, 8);
        return v;
    }
    // A count of items each taking at least `min_bytes`, bounded by what is left.
    std::uint64_t count(std::uint64_t min_bytes) {
        const std::uint64_t n = u64();
        if (ok && n > in.size() / std::max<std::uint64_t>(min_bytes, 1)) ok = false;
        return ok ? n : 0;
    }
};

void put_opt_bool(Writer& w, const std::optional<bool>& v) {
    w.b(v.has_value());
    w.b(v.value_or(false));
}
std::optional<bool> get_opt_bool(Reader& r) {
    const bool has = r.b();
    const bool v = r.b();
    return has ? std::optional<bool>(v) : std::nullopt;
}
void put_opt_i64(Writer& w, const std::optional<std::int64_t>& v) {
    w.b(v.has_value());
    w.i64(v.value_or(0));
}
std::optional<std::int64_t> get_opt_i64(Reader& r) {
    const bool has = r.b();
    const std::int64_t v = r.i64();
    return has ? std::optional<std::int64_t>(v) : std::nullopt;
}

void put_axis(Writer& w, const TimeAxis& a) {
    w.b(a.collapse_repeats);
    w.u64(a.runs.size());
    for (const auto& run : a.runs) {
        w.i64(run.start);
        w.i64(run.step);
        w.u64(run.count);
    }
}
void get_axis(Reader& r, TimeAxis& a) {
    a.collapse_repeats = r.b();
    a.runs.resize(r.count(24));
    for (auto& run : a.runs) {
        run.start = r.i64();
        run.step = r.i64();
        run.count = r.u64();
        if (run.count == 0) r.ok = false;
    }
}
void put_ends(Writer& w, const StreamEnds& e) {
    w.b(e.any);
    w.i64(e.first_us);
    w.i64(e.last_us);
    w.u64(e.first_at.file);
    w.u64(e.first_at.line);
}
void get_ends(Reader& r, StreamEnds& e) {
    e.any = r.b();
    e.first_us = r.i64();
    e.last_us = r.i64();
    e.first_at.file = static_cast<std::uint32_t>(r.u64());
    e.first_at.line = r.u64();
}
void put_frag(Writer& w, const Fragment& f) {
    w.str(f.bytes);
    w.u64(f.length);
    w.u64(f.line_feeds);
}
void get_frag(Reader& r, Fragment& f) {
    f.bytes = r.str();
    f.length = r.u64();
    f.line_feeds = r.u64();
    if (f.length < f.bytes.size()) r.ok = false;
}
void put_strings(Writer& w, const std::vector<std::string>& v) {
    w.u64(v.size());
    for (const auto& s : v) w.str(s);
}
std::vector<std::string> get_strings(Reader& r) {
    std::vector<std::string> v(r.count(8));
    for (auto& s : v) s = r.str();
    return v;
}

void put_options(Writer& w, const ProfileOptions& o) {
    w.u64(static_cast<std::uint64_t>(o.layout));
    w.u64(static_cast<unsigned char>(o.delimiter));
    w.u64(static_cast<unsigned char>(o.decimal));
    w.b(o.day_first);
    w.u64(static_cast<std::uint64_t>(o.timestamp_format));
    w.str(o.zone_name);
    w.str(o.zone_tzif);
    w.u64(o.missing_sentinels.size());
    for (double d : o.missing_sentinels) w.f64(d);
    put_strings(w, o.good_quality);
    w.u64(o.tag_units.size());
    for (const auto& t : o.tag_units) {
        w.str(t.tag);
        w.str(t.unit);
    }
    w.str(o.tag_list_path);
    const DeclaredFields& d = o.declared;
    put_opt_bool(w, d.baseline_present);
    put_opt_bool(w, d.license_cleared);
    put_opt_bool(w, d.has_maintenance);
    put_opt_bool(w, d.has_batches);
    put_opt_bool(w, d.has_lab_samples);
    put_opt_i64(w, d.baseline_start_us);
    put_opt_i64(w, d.baseline_end_us);
    w.u64(o.threads);
}
void get_options(Reader& r, ProfileOptions& o) {
    const std::uint64_t layout = r.u64();
    if (layout > 2) r.ok = false;
    o.layout = static_cast<Layout>(layout);
    o.delimiter = static_cast<char>(r.u64());
    o.decimal = static_cast<char>(r.u64());
    o.day_first = r.b();
    const std::uint64_t format = r.u64();
    if (format > 3) r.ok = false;
    o.timestamp_format = static_cast<TimestampFormat>(format);
    o.zone_name = r.str();
    o.zone_tzif = r.str();
    o.missing_sentinels.resize(r.count(8));
    for (double& d : o.missing_sentinels) d = r.f64();
    o.good_quality = get_strings(r);
    o.tag_units.resize(r.count(16));
    for (auto& t : o.tag_units) {
        t.tag = r.str();
        t.unit = r.str();
    }
    o.tag_list_path = r.str();
    DeclaredFields& d = o.declared;
    d.baseline_present = get_opt_bool(r);
    d.license_cleared = get_opt_bool(r);
    d.has_maintenance = get_opt_bool(r);
    d.has_batches = get_opt_bool(r);
    d.has_lab_samples = get_opt_bool(r);
    d.baseline_start_us = get_opt_i64(r);
    d.baseline_end_us = get_opt_i64(r);
    o.threads = static_cast<unsigned>(r.u64());
}

void put_layout(Writer& w, const FileLayout& L) {
    w.u64(static_cast<std::uint64_t>(L.layout));
    w.u64(static_cast<unsigned char>(L.delimiter));
    w.u64(L.data_offset);
    w.u64(L.data_line);
    w.u64(L.first_row_end);
    w.u64(L.n_columns);
    w.u64(L.metadata_skipped);
    w.u64(L.unnamed_columns);
    w.b(L.first_row_fast_iso);
    put_strings(w, L.tag_names);
    w.u64(L.tag_column.size());
    for (auto c : L.tag_column) w.u64(c);
    w.u64(L.quality_column.size());
    for (auto c : L.quality_column) w.i64(c);
    put_strings(w, L.unit_row);
    for (auto c : {L.tag_col, L.time_col, L.value_col, L.quality_col, L.unit_col}) w.i64(c);
}
void get_layout(Reader& r, FileLayout& L) {
    const std::uint64_t layout = r.u64();
    if (layout != 1 && layout != 2) r.ok = false;
    L.layout = static_cast<Layout>(layout);
    L.delimiter = static_cast<char>(r.u64());
    L.data_offset = r.u64();
    L.data_line = r.u64();
    L.first_row_end = r.u64();
    L.n_columns = r.u64();
    L.metadata_skipped = r.u64();
    L.unnamed_columns = r.u64();
    L.first_row_fast_iso = r.b();
    L.tag_names = get_strings(r);
    L.tag_column.resize(r.count(8));
    for (auto& c : L.tag_column) c = static_cast<std::uint32_t>(r.u64());
    L.quality_column.resize(r.count(8));
    for (auto& c : L.quality_column) c = static_cast<std::int32_t>(r.i64());
    L.unit_row = get_strings(r);
    for (std::int32_t* c : {&L.tag_col, &L.time_col, &L.value_col, &L.quality_col, &L.unit_col})
        *c = static_cast<std::int32_t>(r.i64());
    // Column indices must stay inside a row of n_columns cells (plus one spare).
    const std::uint64_t cols = L.n_columns;
    if (L.tag_names.size() != L.tag_column.size() ||
        L.quality_column.size() != L.tag_column.size() || cols > (std::uint64_t{1} << 24))
        r.ok = false;
    for (auto c : L.tag_column)
        if (c >= cols) r.ok = false;
    for (auto c : L.quality_column)
        if (c >= static_cast<std::int64_t>(cols)) r.ok = false;
    if (L.layout == Layout::Long && (L.time_col < 0 || L.tag_col < 0 || L.value_col < 0))
        r.ok = false;
    for (auto c : {L.tag_col, L.time_col, L.value_col, L.quality_col, L.unit_col})
        if (c >= static_cast<std::int64_t>(cols)) r.ok = false;
}

hashing::Sha256Digest sha256_of(std::string_view bytes) {
    hashing::Sha256 h;
    h.update(bytes);
    return h.finish();
}

// Adds the axis's instants to `used`; false once they pass `limit` (no overflow on the way).
bool fits(const TimeAxis& axis, std::uint64_t limit, std::uint64_t& used) {
    for (const auto& run : axis.runs) {
        if (run.count > limit - used) return false;
        used += run.count;
    }
    return true;
}

}  // namespace

std::string PartialProfile::serialize() const {
    const State& s = *s_;
    Writer w;
    w.b(s.used);
    put_options(w, s.settings ? s.settings->options : ProfileOptions{});
    w.b(s.head_open);
    w.b(s.head_closed);
    put_frag(w, s.head);
    put_frag(w, s.tail);
    w.u64(s.tail_line);
    w.u64(s.files.size());
    for (const FilePart& f : s.files) {
        w.str(f.path);
        put_layout(w, f.layout);
        w.u64(f.tag_ids.size());
        for (auto id : f.tag_ids) w.u64(id);
        w.b(f.continues);
        w.u64(f.bytes);
        w.u64(f.lines);
        w.u64(f.data_rows);
        w.b(f.any_time);
        w.i64(f.min_us);
        w.i64(f.max_us);
        w.u64(f.blocks.size());
        for (const auto& d : f.blocks)
            w.out.append(reinterpret_cast<const char*>(d.data()), d.size());
        w.b(f.digest_complete);
        w.b(f.ends_mid_block);
    }
    w.u64(s.tags.size());
    for (const TagStats& t : s.tags) {
        w.str(t.name);
        for (auto v : {t.cells, t.numbers, t.empty, t.bad_state, t.text, t.text_bad_quality,
                       t.sentinel, t.number_bad_quality})
            w.u64(v);
        w.str(t.unit);
        put_strings(w, t.other_units);
        w.b(t.other_units_overflow);
        put_axis(w, t.axis);
        put_ends(w, t.ends);
    }
    put_axis(w, s.rows);
    put_ends(w, s.row_ends);
    for (auto v : {s.parsed_rows, s.unparsed_rows, s.blank_lines, s.ragged_rows, s.oversized_rows,
                   s.gap_moved})
        w.u64(v);
    w.u64(s.first_unparsed.size());
    for (const LineRef& r : s.first_unparsed) {
        w.u64(r.file);
        w.u64(r.line);
    }
    for (auto v : s.bad_state_counts) w.u64(v);
    w.u64(s.texts.size());
    for (const auto& [text, count] : s.texts) {
        w.str(text);
        w.u64(count);
    }
    w.b(s.texts_overflow);
    w.u64(s.repeated.size());
    for (const RepeatedWall& r : s.repeated) {
        w.u64(r.file);
        w.u64(r.stream);
        w.u64(r.line);
        w.i64(r.wall_us);
        w.i64(r.first_us);
        w.i64(r.second_us);
        w.i64(r.window_s);
    }
    w.u64(s.clock.size());
    for (const ClockCandidate& c : s.clock) {
        w.u64(c.at.file);
        w.u64(c.at.line);
        w.u64(c.stream);
        w.i64(c.us);
    }
    // Multi-line fields (version 2).
    w.u64(s.multiline_fields);
    w.u64(s.multiline_lines);
    w.b(s.first_multiline.has_value());
    if (s.first_multiline) {
        w.u64(s.first_multiline->file);
        w.u64(s.first_multiline->line);
    }
    w.u64(s.first_multiline_lines);
    s.bins.serialize(w.out);
    Writer head;
    head.out.append(kMagic);
    head.u64(kVersion);
    head.u64(w.out.size());
    const auto digest = sha256_of(w.out);
    return head.out + w.out +
           std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

Result<PartialProfile> PartialProfile::deserialize(std::string_view bytes) {
    const ProfileError corrupt{"", "not a partial profile of this version, or corrupt"};
    if (bytes.substr(0, kMagic.size()) != kMagic) return corrupt;
    Reader r{bytes.substr(kMagic.size())};
    if (r.u64() != kVersion || r.u64() + 32 != r.in.size() || !r.ok) return corrupt;
    const std::string_view payload = r.in.substr(0, r.in.size() - 32);
    const auto digest = sha256_of(payload);
    if (r.in.substr(payload.size()) !=
        std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()))
        return corrupt;
    r.in = payload;
    PartialProfile p;
    State& s = *p.s_;
    s.used = r.b();
    ProfileOptions options;
    get_options(r, options);
    s.settings = make_settings(options);
    s.head_open = r.b();
    s.head_closed = r.b();
    get_frag(r, s.head);
    get_frag(r, s.tail);
    s.tail_line = r.u64();
    s.files.resize(r.count(64));
    for (FilePart& f : s.files) {
        f.path = r.str();
        get_layout(r, f.layout);
        f.tag_ids.resize(r.count(8));
        for (auto& id : f.tag_ids) id = static_cast<std::uint32_t>(r.u64());
        f.repeats = most_repeated(f.tag_ids);
        f.continues = r.b();
        f.bytes = r.u64();
        f.lines = r.u64();
        f.data_rows = r.u64();
        f.any_time = r.b();
        f.min_us = r.i64();
        f.max_us = r.i64();
        f.blocks.resize(r.count(32));
        for (auto& d : f.blocks) {
            if (!r.need(32)) break;
            std::memcpy(d.data(), r.in.data(), 32);
            r.in.remove_prefix(32);
        }
        f.digest_complete = r.b();
        f.ends_mid_block = r.b();
        if (f.tag_ids.size() != f.layout.tag_names.size()) r.ok = false;
    }
    s.tags.resize(r.count(64));
    for (TagStats& t : s.tags) {
        t.name = r.str();
        for (std::uint64_t* v : {&t.cells, &t.numbers, &t.empty, &t.bad_state, &t.text,
                                 &t.text_bad_quality, &t.sentinel, &t.number_bad_quality})
            *v = r.u64();
        t.unit = r.str();
        t.other_units = get_strings(r);
        t.other_units_overflow = r.b();
        get_axis(r, t.axis);
        get_ends(r, t.ends);
    }
    get_axis(r, s.rows);
    get_ends(r, s.row_ends);
    for (std::uint64_t* v : {&s.parsed_rows, &s.unparsed_rows, &s.blank_lines, &s.ragged_rows,
                             &s.oversized_rows, &s.gap_moved})
        *v = r.u64();
    s.first_unparsed.resize(r.count(16));
    for (LineRef& l : s.first_unparsed) {
        l.file = static_cast<std::uint32_t>(r.u64());
        l.line = r.u64();
    }
    for (auto& v : s.bad_state_counts) v = r.u64();
    const std::uint64_t n_texts = r.count(16);
    for (std::uint64_t i = 0; i < n_texts && r.ok; ++i) {
        std::string text = r.str();
        s.texts[text] = r.u64();
    }
    s.texts_overflow = r.b();
    s.repeated.resize(r.count(56));
    for (RepeatedWall& w : s.repeated) {
        w.file = static_cast<std::uint32_t>(r.u64());
        w.stream = static_cast<std::uint32_t>(r.u64());
        w.line = r.u64();
        w.wall_us = r.i64();
        w.first_us = r.i64();
        w.second_us = r.i64();
        w.window_s = r.i64();
    }
    s.clock.resize(r.count(32));
    for (ClockCandidate& c : s.clock) {
        c.at.file = static_cast<std::uint32_t>(r.u64());
        c.at.line = r.u64();
        c.stream = static_cast<std::uint32_t>(r.u64());
        c.us = r.i64();
    }
    s.multiline_fields = r.u64();
    s.multiline_lines = r.u64();
    if (r.b()) s.first_multiline = LineRef{static_cast<std::uint32_t>(r.u64()), r.u64()};
    s.first_multiline_lines = r.u64();
    if (s.first_multiline.has_value() != (s.multiline_fields > 0)) r.ok = false;
    // The availability bins: a section of its own; every parsed row lies in one bin.
    if (r.ok && !s.bins.deserialize(r.in, s.tags.size())) r.ok = false;
    std::uint64_t binned = 0;
    for (auto n : s.bins.rows) binned += std::min<std::uint64_t>(n, 1ULL << 50);
    if (binned != s.parsed_rows) r.ok = false;
    // Every index must point inside what it indexes.
    const auto n_files = s.files.size();
    const auto n_tags = s.tags.size();
    for (const FilePart& f : s.files)
        for (auto id : f.tag_ids)
            if (id >= n_tags) r.ok = false;
    for (const LineRef& l : s.first_unparsed)
        if (l.file >= n_files) r.ok = false;
    if (s.first_multiline && s.first_multiline->file >= n_files) r.ok = false;
    for (const RepeatedWall& w : s.repeated)
        if (w.file >= n_files || (w.stream != kRowStream && w.stream >= n_tags)) r.ok = false;
    for (const ClockCandidate& c : s.clock)
        if (c.at.file >= n_files || (c.stream != kRowStream && c.stream >= n_tags)) r.ok = false;
    if (s.used && n_files == 0) r.ok = false;
    std::uint64_t scanned = 0;
    for (const FilePart& f : s.files) scanned += std::min<std::uint64_t>(f.bytes, 1ULL << 50);
    std::uint64_t instants = 0;
    bool small = s.repeated.size() <= scanned && fits(s.rows, scanned, instants);
    for (const TagStats& t : s.tags) small = small && fits(t.axis, scanned, instants);
    if (!small) r.ok = false;
    if (!r.ok || !r.in.empty()) return corrupt;
    if (!s.settings->zone_error.empty()) return ProfileError{"", s.settings->zone_error};
    for (std::uint32_t i = 0; i < n_tags; ++i) s.tag_index.emplace(s.tags[i].name, i);
    if (s.tag_index.size() != n_tags) return corrupt;
    return p;
}

}  // namespace qorv_chemical_engineering_edge::export_profile
