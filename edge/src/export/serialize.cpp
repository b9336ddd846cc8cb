// PartialProfile's binary form: "export_profile_partial" text, a version, the payload length,
// every field of the state and of the options it was scanned with (little-endian), and the
// SHA-256 of that payload. The digest only catches damage: a blob may come from anywhere, so
// reading checks each length against what is left, and then check_state holds every field
// against every other before anything trusts them. A crafted blob is an error value, never a
// crash, a runaway or a huge allocation: it may claim only as many bytes scanned as it carries
// block digests for (32 bytes a MiB), and no more instants than rows, nor rows than bytes.
#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>

#include "export/cells.hpp"
#include "export/state.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr std::string_view kMagic = "export_profile_partial";
// 2: the multi-line field counts; 3: zone_walls; 4: the options carry accept_multiline_fields
// (finalize reads them from the partial) and no longer a tag list's path; 5: the reading facts
// settled with the opening; 6: day_first may be unset, accept_unparsed_rows, the time order
// (steps per file, forward clock candidates, the streams' last lines) and the slash dates'
// evidence; 7: the quality convention (option and per file) and the uncertain and censored
// counts per tag.
// 8: header_line, the title lines and header units of a layout, the footer rows; the encoding
// option, and per file the stream encoding and the U+FFFD put in decoding UTF-16; the paired
// layout, a layout's second time column, time join and format, its further value columns; the
// timestamp_columns option and a tag list's ids.
constexpr std::uint32_t kVersion = 8;

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

// Fields written as 64 bits but held narrower: a value that does not fit would not read back
// as written (a wide index would wrap onto another).
std::int32_t narrow(Reader& r, std::int64_t v) {
    if (v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        r.ok = false;
    return static_cast<std::int32_t>(v);
}
std::uint32_t narrow_u32(Reader& r, std::uint64_t v) {
    if (v > std::numeric_limits<std::uint32_t>::max()) r.ok = false;
    return static_cast<std::uint32_t>(v);
}

char narrow_char(Reader& r, std::uint64_t v) {
    if (v > 0xFF) r.ok = false;
    return static_cast<char>(v);
}

void put_opt_bool(Writer& w, const std::optional<bool>& v) {
    w.b(v.has_value());
    w.b(v.value_or(false));
}
// An unset value is written as false or 0; anything else would not write back the same.
std::optional<bool> get_opt_bool(Reader& r) {
    const bool has = r.b();
    const bool v = r.b();
    if (!has && v) r.ok = false;
    return has ? std::optional<bool>(v) : std::nullopt;
}
void put_opt_i64(Writer& w, const std::optional<std::int64_t>& v) {
    w.b(v.has_value());
    w.i64(v.value_or(0));
}
std::optional<std::int64_t> get_opt_i64(Reader& r) {
    const bool has = r.b();
    const std::int64_t v = r.i64();
    if (!has && v != 0) r.ok = false;
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
    w.u64(e.last_at.file);
    w.u64(e.last_at.line);
}
void get_ends(Reader& r, StreamEnds& e) {
    e.any = r.b();
    e.first_us = r.i64();
    e.last_us = r.i64();
    e.first_at.file = narrow_u32(r, r.u64());
    e.first_at.line = r.u64();
    e.last_at.file = narrow_u32(r, r.u64());
    e.last_at.line = r.u64();
}
void put_clock(Writer& w, const std::vector<ClockCandidate>& v) {
    w.u64(v.size());
    for (const ClockCandidate& c : v) {
        w.u64(c.at.file);
        w.u64(c.at.line);
        w.u64(c.stream);
        w.i64(c.us);
    }
}
void get_clock(Reader& r, std::vector<ClockCandidate>& v) {
    v.resize(r.count(32));
    for (ClockCandidate& c : v) {
        c.at.file = narrow_u32(r, r.u64());
        c.at.line = r.u64();
        c.stream = narrow_u32(r, r.u64());
        c.us = r.i64();
    }
}
void put_line(Writer& w, const std::optional<LineRef>& l) {
    w.b(l.has_value());
    if (!l) return;
    w.u64(l->file);
    w.u64(l->line);
}
std::optional<LineRef> get_line(Reader& r) {
    if (!r.b()) return std::nullopt;
    return LineRef{narrow_u32(r, r.u64()), r.u64()};
}
void put_dates(Writer& w, const DateEvidence& d) {
    for (auto v : {d.slash_rows, d.day_only, d.month_only, d.ambiguous}) w.u64(v);
    for (const auto* l : {&d.first_day_only, &d.first_month_only, &d.first_ambiguous})
        put_line(w, *l);
    w.u64(d.dates.size());
    for (auto v : d.dates) w.u64(v);
    w.b(d.dates_overflow);
}
void get_dates(Reader& r, DateEvidence& d) {
    for (std::uint64_t* v : {&d.slash_rows, &d.day_only, &d.month_only, &d.ambiguous}) *v = r.u64();
    for (auto* l : {&d.first_day_only, &d.first_month_only, &d.first_ambiguous}) *l = get_line(r);
    d.dates.resize(r.count(8));
    for (auto& v : d.dates) v = narrow_u32(r, r.u64());
    d.dates_overflow = r.b();
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

// Signal health: a section of its own after the window search's, marked, present only with
// health on (so every other partial reads as version 8 always did).
constexpr std::uint64_t kHealthMark = 0x6874'6c61'6568ULL;  // "health"
// A long or paired export's window rows: marked too, so that the health section after them is
// never read as rows.
constexpr std::uint64_t kRecordsMark = 0x7364'726f'6365'72ULL;  // "records"

void put_sum(Writer& w, const ExactSum& x) {
    const std::uint64_t fill = x.negative() ? ~std::uint64_t{0} : 0;
    std::size_t n = ExactSum::kLimbs;
    const ExactSum::Limbs& limbs = x.limbs();
    while (n > 0 && limbs[n - 1] == fill) --n;
    w.b(x.negative());
    w.u64(n);
    for (std::size_t i = 0; i < n; ++i) w.u64(limbs[i]);
}
void get_sum(Reader& r, ExactSum& x) {
    const bool negative = r.b();
    const std::uint64_t n = r.count(8);
    if (n > ExactSum::kLimbs) r.ok = false;
    ExactSum::Limbs limbs;
    limbs.fill(negative ? ~std::uint64_t{0} : 0);
    for (std::size_t i = 0; r.ok && i < n; ++i) limbs[i] = r.u64();
    x = ExactSum::of_limbs(limbs);
    if (x.negative() != negative) r.ok = false;
}
void put_sample(Writer& w, const HealthSample& x) {
    w.i64(x.t);
    w.f64(x.v);
    w.u64(x.decimals);
}
void get_sample(Reader& r, HealthSample& x) {
    x.t = r.i64();
    x.v = r.f64();
    const std::uint64_t d = r.u64();
    if (d > 0xFF) r.ok = false;
    x.decimals = static_cast<std::uint8_t>(d);
}
void put_run(Writer& w, const FrozenRun& x) {
    w.f64(x.value);
    w.i64(x.first);
    w.i64(x.last);
    w.u64(x.samples);
}
void get_run(Reader& r, FrozenRun& x) {
    x.value = r.f64();
    x.first = r.i64();
    x.last = r.i64();
    x.samples = r.u64();
}
void put_health(Writer& w, const TagHealth& h) {
    w.u64(h.count);
    w.f64(h.min);
    w.f64(h.max);
    w.i64(h.t_min);
    w.i64(h.t_max);
    for (const HealthSample& x : h.head) put_sample(w, x);
    for (const HealthSample& x : h.tail) put_sample(w, x);
    put_sum(w, h.sum);
    put_sum(w, h.squares);
    w.b(h.squares_overflow);
    w.u64(h.steps.size());
    for (const auto& [step, n] : h.steps) {
        w.i64(step);
        w.u64(n);
    }
    w.b(h.steps_overflow);
    w.i64(h.min_step);
    w.i64(h.max_step);
    put_run(w, h.first_run);
    put_run(w, h.open_run);
    w.b(h.first_closed);
    w.u64(h.frozen_us);
    w.i64(h.longest_us);
    w.u64(h.longest_samples);
    w.u64(h.judged);
    w.u64(h.interpolated);
    w.u64(h.states.size());
    for (double v : h.states) w.f64(v);
    w.b(h.not_states);
    w.u64(h.impossible);
    w.u64(h.suspicious);
    for (const auto* list : {&h.first_impossible, &h.first_suspicious}) {
        w.u64(list->size());
        for (std::int64_t t : *list) w.i64(t);
    }
}
void get_health(Reader& r, TagHealth& h) {
    h.count = r.u64();
    h.min = r.f64();
    h.max = r.f64();
    h.t_min = r.i64();
    h.t_max = r.i64();
    for (HealthSample& x : h.head) get_sample(r, x);
    for (HealthSample& x : h.tail) get_sample(r, x);
    get_sum(r, h.sum);
    get_sum(r, h.squares);
    h.squares_overflow = r.b();
    h.steps.resize(r.count(16));
    for (auto& [step, n] : h.steps) {
        step = r.i64();
        n = r.u64();
    }
    h.steps_overflow = r.b();
    h.min_step = r.i64();
    h.max_step = r.i64();
    get_run(r, h.first_run);
    get_run(r, h.open_run);
    h.first_closed = r.b();
    h.frozen_us = r.u64();
    h.longest_us = r.i64();
    h.longest_samples = r.u64();
    h.judged = r.u64();
    h.interpolated = r.u64();
    h.states.resize(r.count(8));
    for (double& v : h.states) v = r.f64();
    h.not_states = r.b();
    h.impossible = r.u64();
    h.suspicious = r.u64();
    for (auto* list : {&h.first_impossible, &h.first_suspicious}) {
        list->resize(r.count(8));
        for (std::int64_t& t : *list) t = r.i64();
    }
}

void put_options(Writer& w, const ProfileOptions& o) {
    w.u64(static_cast<std::uint64_t>(o.layout));
    w.u64(static_cast<unsigned char>(o.delimiter));
    w.u64(static_cast<unsigned char>(o.decimal));
    w.u64(o.day_first ? *o.day_first : 2);
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
        w.str(t.id);
    }
    const DeclaredFields& d = o.declared;
    put_opt_bool(w, d.baseline_present);
    put_opt_bool(w, d.license_cleared);
    put_opt_bool(w, d.has_maintenance);
    put_opt_bool(w, d.has_batches);
    put_opt_bool(w, d.has_lab_samples);
    put_opt_i64(w, d.baseline_start_us);
    put_opt_i64(w, d.baseline_end_us);
    w.u64(o.threads);
    w.b(o.accept_multiline_fields);
    w.b(o.accept_unparsed_rows);
    w.u64(static_cast<std::uint64_t>(o.quality_convention));  // version 7
    w.u64(o.header_line);
    w.u64(static_cast<std::uint64_t>(o.encoding));
    put_strings(w, o.timestamp_columns);
}
void get_options(Reader& r, ProfileOptions& o) {
    const std::uint64_t layout = r.u64();
    if (layout > 3) r.ok = false;
    o.layout = static_cast<Layout>(layout);
    o.delimiter = narrow_char(r, r.u64());
    o.decimal = narrow_char(r, r.u64());
    const std::uint64_t day_first = r.u64();
    if (day_first > 2) r.ok = false;
    if (day_first < 2) o.day_first = day_first == 1;
    const std::uint64_t format = r.u64();
    if (format > 3) r.ok = false;
    o.timestamp_format = static_cast<TimestampFormat>(format);
    o.zone_name = r.str();
    o.zone_tzif = r.str();
    o.missing_sentinels.resize(r.count(8));
    for (double& d : o.missing_sentinels) d = r.f64();
    o.good_quality = get_strings(r);
    o.tag_units.resize(r.count(24));
    for (auto& t : o.tag_units) {
        t.tag = r.str();
        t.unit = r.str();
        t.id = r.str();
    }
    DeclaredFields& d = o.declared;
    d.baseline_present = get_opt_bool(r);
    d.license_cleared = get_opt_bool(r);
    d.has_maintenance = get_opt_bool(r);
    d.has_batches = get_opt_bool(r);
    d.has_lab_samples = get_opt_bool(r);
    d.baseline_start_us = get_opt_i64(r);
    d.baseline_end_us = get_opt_i64(r);
    o.threads = narrow_u32(r, r.u64());
    o.accept_multiline_fields = r.b();
    o.accept_unparsed_rows = r.b();
    const std::uint64_t convention = r.u64();
    if (convention > static_cast<std::uint64_t>(QualityConvention::ZeroGood)) r.ok = false;
    o.quality_convention = static_cast<QualityConvention>(convention);
    o.header_line = narrow_u32(r, r.u64());
    const std::uint64_t encoding = r.u64();
    if (encoding > 5) r.ok = false;
    o.encoding = static_cast<Encoding>(encoding);
    o.timestamp_columns = get_strings(r);
    if (o.timestamp_columns.size() > 2) r.ok = false;
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
    w.i64(L.time_col2);
    w.u64(static_cast<std::uint64_t>(L.time_join));
    w.u64(static_cast<std::uint64_t>(L.time_format));
    w.u64(L.pair_time_column.size());
    for (auto c : L.pair_time_column) w.u64(c);
    w.u64(L.more_value_cols.size());
    for (auto c : L.more_value_cols) w.i64(c);
    w.u64(L.facts.size());
    for (const ReadingFact& f : L.facts) {
        w.str(f.name);
        w.str(f.value);
        w.u64(static_cast<std::uint64_t>(f.how));
    }
    w.u64(static_cast<std::uint64_t>(L.quality_convention));  // version 7
    w.u64(L.title_lines);
    put_strings(w, L.header_units);
}
void get_layout(Reader& r, FileLayout& L) {
    const std::uint64_t layout = r.u64();
    if (layout < 1 || layout > 3) r.ok = false;
    L.layout = static_cast<Layout>(layout);
    L.delimiter = narrow_char(r, r.u64());
    L.data_offset = r.u64();
    L.data_line = r.u64();
    L.first_row_end = r.u64();
    L.n_columns = r.u64();
    L.metadata_skipped = r.u64();
    L.unnamed_columns = r.u64();
    L.first_row_fast_iso = r.b();
    L.tag_names = get_strings(r);
    L.tag_column.resize(r.count(8));
    for (auto& c : L.tag_column) c = narrow_u32(r, r.u64());
    L.quality_column.resize(r.count(8));
    for (auto& c : L.quality_column) c = narrow(r, r.i64());
    L.unit_row = get_strings(r);
    for (std::int32_t* c : {&L.tag_col, &L.time_col, &L.value_col, &L.quality_col, &L.unit_col})
        *c = narrow(r, r.i64());
    L.time_col2 = narrow(r, r.i64());
    const std::uint64_t join = r.u64();
    const std::uint64_t format = r.u64();
    if (join > 2 || format > 3) r.ok = false;
    L.time_join = static_cast<TimeJoin>(join);
    L.time_format = static_cast<TimestampFormat>(format);
    L.pair_time_column.resize(r.count(8));
    for (auto& c : L.pair_time_column) c = narrow_u32(r, r.u64());
    L.more_value_cols.resize(r.count(8));
    for (auto& c : L.more_value_cols) c = narrow(r, r.i64());
    L.facts.resize(r.count(3));
    for (ReadingFact& f : L.facts) {
        f.name = r.str();
        f.value = r.str();
        const std::uint64_t how = r.u64();
        if (how > static_cast<std::uint64_t>(Decided::Default)) r.ok = false;
        f.how = static_cast<Decided>(how);
    }
    const std::uint64_t convention = r.u64();
    // Auto is never a file's convention: it is decided when the layout is read.
    if (convention == 0 || convention > static_cast<std::uint64_t>(QualityConvention::ZeroGood))
        r.ok = false;
    L.quality_convention = static_cast<QualityConvention>(convention);
    L.title_lines = r.u64();
    L.header_units = get_strings(r);
}

hashing::Sha256Digest sha256_of(std::string_view bytes) {
    hashing::Sha256 h;
    h.update(bytes);
    return h.finish();
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
        w.u64(f.rises);
        w.u64(f.falls);
        w.u64(f.blocks.size());
        for (const auto& d : f.blocks)
            w.out.append(reinterpret_cast<const char*>(d.data()), d.size());
        w.b(f.digest_complete);
        w.b(f.ends_mid_block);
        w.u64(f.encoding);  // version 5
        w.u64(f.utf16_replaced);
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
        w.u64(t.uncertain);  // version 7
        w.u64(t.text_uncertain);
        w.u64(t.censored);
    }
    put_axis(w, s.rows);
    put_ends(w, s.row_ends);
    for (auto v : {s.parsed_rows, s.unparsed_rows, s.blank_lines, s.ragged_rows, s.oversized_rows,
                   s.gap_moved, s.footer_rows})
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
    put_clock(w, s.clock);
    // Multi-line fields (version 2).
    w.u64(s.multiline_fields);
    w.u64(s.multiline_lines);
    w.b(s.first_multiline.has_value());
    if (s.first_multiline) {
        w.u64(s.first_multiline->file);
        w.u64(s.first_multiline->line);
    }
    w.u64(s.first_multiline_lines);
    w.b(s.zone_walls);            // version 3
    put_clock(w, s.clock_rises);  // version 6
    put_dates(w, s.dates);
    s.bins.serialize(w.out);
    // A window search's section follows the bins only when one was asked for, so that every
    // other partial reads as version 8 always did.
    if (s.settings && s.settings->options.baseline_search != BaselineSearch::Off) {
        const ProfileOptions& o = s.settings->options;
        w.u64(static_cast<std::uint64_t>(o.baseline_search));
        w.u64(o.baseline_breaks.size());
        for (const auto& [a, b] : o.baseline_breaks) {
            w.i64(a);
            w.i64(b);
        }
        const BaselineTrack& t = s.baseline;
        w.u64(t.starts.size());
        for (std::int64_t v : t.starts) w.i64(v);
        w.u64(t.verdicts.size());
        for (const BaselineTrack::Entry& e : t.verdicts) {
            w.u64(e.rows);
            w.u64(static_cast<std::uint64_t>(e.verdict));
            w.u64(e.needs.size());
            for (const BaselineTrack::Need& n : e.needs) {
                w.u64(n.tag);
                w.f64(n.need);
            }
        }
        w.u64(t.pv_range.size());
        for (const BaselineTrack::Range& g : t.pv_range) {
            w.b(g.any);
            w.f64(g.lo);
            w.f64(g.hi);
        }
        // A long or paired export's rows: what each entry and the two rows left open hold.
        if (t.records) {
            w.u64(kRecordsMark);
            for (const BaselineTrack::Entry& e : t.verdicts) {
                w.u64(e.present);
                w.u64(e.loop_tags.size());
                for (std::uint32_t id : e.loop_tags) w.u64(id);
            }
            for (const OpenRow* row : {&t.head, &t.tail}) {
                w.b(row->any);
                w.b(row->clock);
                w.i64(row->t);
                w.u64(row->tags.size());
                for (const RowTag& g : row->tags) {
                    w.u64(g.tag);
                    w.b(g.present);
                    w.b(g.number);
                    w.f64(g.value);
                }
            }
        }
    }
    if (s.settings && s.settings->health) {
        w.u64(kHealthMark);
        w.u64(s.health.size());
        for (const TagHealth& h : s.health) put_health(w, h);
    }
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
    const std::uint64_t version = r.u64();
    const std::uint64_t length = r.u64();
    if (r.ok && version != kVersion && version < 64)
        return ProfileError{"", "a partial profile of version " + std::to_string(version) +
                                    "; this build reads version " + std::to_string(kVersion) +
                                    ": scan the export again"};
    if (!r.ok || version != kVersion || r.in.size() < 32 || length != r.in.size() - 32)
        return corrupt;
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
        for (auto& id : f.tag_ids) id = narrow_u32(r, r.u64());
        f.repeats = most_repeated(f.tag_ids);
        f.continues = r.b();
        f.bytes = r.u64();
        f.lines = r.u64();
        f.data_rows = r.u64();
        f.any_time = r.b();
        f.min_us = r.i64();
        f.max_us = r.i64();
        f.rises = r.u64();
        f.falls = r.u64();
        f.blocks.resize(r.count(32));
        for (auto& d : f.blocks) {
            if (!r.need(32)) break;
            std::memcpy(d.data(), r.in.data(), 32);
            r.in.remove_prefix(32);
        }
        f.digest_complete = r.b();
        f.ends_mid_block = r.b();
        const std::uint64_t encoding = r.u64();
        if (encoding > 3) r.ok = false;
        f.encoding = static_cast<std::uint8_t>(encoding);
        f.utf16_replaced = r.u64();
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
        t.uncertain = r.u64();
        t.text_uncertain = r.u64();
        t.censored = r.u64();
    }
    get_axis(r, s.rows);
    get_ends(r, s.row_ends);
    for (std::uint64_t* v : {&s.parsed_rows, &s.unparsed_rows, &s.blank_lines, &s.ragged_rows,
                             &s.oversized_rows, &s.gap_moved, &s.footer_rows})
        *v = r.u64();
    s.first_unparsed.resize(r.count(16));
    for (LineRef& l : s.first_unparsed) {
        l.file = narrow_u32(r, r.u64());
        l.line = r.u64();
    }
    for (auto& v : s.bad_state_counts) v = r.u64();
    const std::uint64_t n_texts = r.count(16);
    for (std::uint64_t i = 0; i < n_texts && r.ok; ++i) {
        std::string text = r.str();
        // Written in order: anything else would not read back to the same bytes.
        if (!s.texts.empty() && !(s.texts.rbegin()->first < text)) r.ok = false;
        s.texts.emplace_hint(s.texts.end(), std::move(text), r.u64());
    }
    s.texts_overflow = r.b();
    s.repeated.resize(r.count(56));
    for (RepeatedWall& w : s.repeated) {
        w.file = narrow_u32(r, r.u64());
        w.stream = narrow_u32(r, r.u64());
        w.line = r.u64();
        w.wall_us = r.i64();
        w.first_us = r.i64();
        w.second_us = r.i64();
        w.window_s = r.i64();
    }
    get_clock(r, s.clock);
    s.multiline_fields = r.u64();
    s.multiline_lines = r.u64();
    if (r.b()) s.first_multiline = LineRef{narrow_u32(r, r.u64()), r.u64()};
    s.first_multiline_lines = r.u64();
    s.zone_walls = r.b();
    get_clock(r, s.clock_rises);
    get_dates(r, s.dates);
    // The availability bins: a section of its own; every parsed row lies in one bin.
    if (r.ok && !s.bins.deserialize(r.in, s.tags.size())) r.ok = false;
    std::uint64_t binned = 0;
    for (auto n : s.bins.rows) binned += std::min<std::uint64_t>(n, 1ULL << 50);
    if (binned != s.parsed_rows) r.ok = false;
    const auto next = [&r] {
        Reader peek = r;
        return peek.u64();
    };
    if (r.ok && !r.in.empty() && next() != kHealthMark) {
        const std::uint64_t search = r.u64();
        if (search < 1 || search > 2) r.ok = false;
        options.baseline_search = static_cast<BaselineSearch>(search);
        options.baseline_breaks.resize(r.count(16));
        for (auto& [a, b] : options.baseline_breaks) {
            a = r.i64();
            b = r.i64();
        }
        BaselineTrack& t = s.baseline;
        t.starts.resize(r.count(8));
        for (std::int64_t& v : t.starts) v = r.i64();
        t.verdicts.resize(r.count(24));
        for (BaselineTrack::Entry& e : t.verdicts) {
            e.rows = r.u64();
            const std::uint64_t verdict = r.u64();
            if (verdict > 3) r.ok = false;
            e.verdict = static_cast<RowVerdict>(verdict);
            e.needs.resize(r.count(16));
            for (BaselineTrack::Need& n : e.needs) {
                n.tag = narrow_u32(r, r.u64());
                n.need = r.f64();
            }
        }
        t.pv_range.resize(r.count(17));
        for (BaselineTrack::Range& g : t.pv_range) {
            g.any = r.b();
            g.lo = r.f64();
            g.hi = r.f64();
        }
        t.records = r.ok && !r.in.empty() && next() == kRecordsMark;
        if (t.records) {
            r.u64();
            for (BaselineTrack::Entry& e : t.verdicts) {
                e.present = r.u64();
                e.loop_tags.resize(r.count(8));
                for (std::uint32_t& id : e.loop_tags) id = narrow_u32(r, r.u64());
            }
            for (OpenRow* row : {&t.head, &t.tail}) {
                row->any = r.b();
                row->clock = r.b();
                row->t = r.i64();
                row->tags.resize(r.count(18));
                for (RowTag& g : row->tags) {
                    g.tag = narrow_u32(r, r.u64());
                    g.present = r.b();
                    g.number = r.b();
                    g.value = r.f64();
                }
            }
        }
    }
    options.health = r.ok && !r.in.empty() && next() == kHealthMark;
    if (options.health) {
        r.u64();
        s.health.resize(r.count(64));
        for (TagHealth& h : s.health) get_health(r, h);
    }
    if (!r.ok || !r.in.empty()) return corrupt;
    s.settings = make_settings(options);
    if (!s.settings->zone_error.empty()) return ProfileError{"", s.settings->zone_error};
    for (std::uint32_t i = 0; i < s.tags.size(); ++i)
        if (!s.tag_index.emplace(s.tags[i].name, i).second)
            return ProfileError{"", "corrupt partial profile: two tags share a name"};
    // Each 1 MiB block scanned left its digest, so a blob carries what it claims: with no more
    // rows than bytes and no more instants than rows (check_state), what finalising expands is
    // bounded by the blob's own length.
    for (std::size_t i = 0; i < s.files.size(); ++i)
        if (s.files[i].bytes > s.files[i].blocks.size() * ExportScanner::kDigestBlock)
            return ProfileError{"", "corrupt partial profile: file " + std::to_string(i) +
                                        " claims more bytes than it has block digests for"};
    if (std::string why = check_state(s); !why.empty())
        return ProfileError{"", "corrupt partial profile: " + why};
    return p;
}

namespace {

using State = PartialProfile::State;

// A sum of counts read from elsewhere: once it would wrap, no scan could have made them.
struct Total {
    std::uint64_t value = 0;
    bool wrapped = false;
    Total& operator+=(std::uint64_t v) {
        wrapped = wrapped || v > std::numeric_limits<std::uint64_t>::max() - value;
        value += v;
        return *this;
    }
    bool equals(std::uint64_t v) const { return !wrapped && value == v; }
};

std::string nth(std::string_view what, std::size_t i) {
    return std::string(what) + " " + std::to_string(i);
}

bool in_range(std::int64_t t) {
    return t > -kInstantLimit && t < kInstantLimit;
}

// A run's last instant, reached without overflow; nothing when it leaves the range.
std::optional<std::int64_t> run_end(const TimeAxis::Run& run) {
    if (!in_range(run.start) || run.count == 0) return std::nullopt;
    const std::uint64_t n = run.count - 1;
    if (n == 0) return run.start;
    const std::uint64_t magnitude = run.step < 0 ? 0 - static_cast<std::uint64_t>(run.step)
                                                 : static_cast<std::uint64_t>(run.step);
    if (magnitude > static_cast<std::uint64_t>(2 * kInstantLimit) / n) return std::nullopt;
    const std::int64_t end = run.start + run.step * static_cast<std::int64_t>(n);
    return in_range(end) ? std::optional(end) : std::nullopt;
}

// Runs as TimeAxis::append leaves them: no run empty or out of range, only the last one a single
// instant, none that could have continued the run before it.
std::string check_axis(const TimeAxis& axis, std::string_view what, Total& instants) {
    std::optional<std::int64_t> before;
    for (std::size_t k = 0; k < axis.runs.size(); ++k) {
        const TimeAxis::Run& run = axis.runs[k];
        const auto end = run_end(run);
        if (!end) return nth(std::string(what) + " run", k) + " leaves the range of instants";
        if (run.count == 1 && run.step != 0)
            return nth(std::string(what) + " run", k) + " has a step but a single instant";
        if (axis.collapse_repeats && run.step == 0 && run.count > 1)
            return nth(std::string(what) + " run", k) + " repeats an instant it collapses";
        if (k > 0) {
            const TimeAxis::Run& last = axis.runs[k - 1];
            if (last.count == 1 || run.start - *before == last.step ||
                (axis.collapse_repeats && run.start == *before))
                return nth(std::string(what) + " run", k) + " continues the run before it";
        }
        before = end;
        instants += run.count;
    }
    return {};
}

// A line of a listed file, at most its last (a last row without a line feed is on that line).
bool line_in(const State& s, LineRef at) {
    return at.file < s.files.size() && at.line <= s.files[at.file].lines;
}

std::string check_ends(const State& s, const StreamEnds& e, std::string_view what) {
    if (!e.any) return e == StreamEnds{} ? "" : std::string(what) + " has ends but no instants";
    if (!in_range(e.first_us) || !in_range(e.last_us))
        return std::string(what) + " ends outside the range of instants";
    if (!line_in(s, e.first_at) || !line_in(s, e.last_at))
        return std::string(what) + " begins or ends on a line not scanned";
    return {};
}

std::string check_fragment(const Fragment& f, std::string_view what, std::uint64_t scanned) {
    const bool kept = f.length <= kMaxRecordBytes;
    if ((kept && f.bytes.size() != f.length) || (!kept && !f.bytes.empty()) ||
        f.line_feeds > f.length || f.length > scanned)
        return std::string(what) + " disagrees with its length";
    return {};
}

bool unused_is_empty(const State& s) {
    return s.files.empty() && s.tags.empty() && !s.head_open && !s.head_closed &&
           s.head == Fragment{} && s.tail == Fragment{} && s.tail_line == 0 &&
           s.rows == TimeAxis{} && s.row_ends == StreamEnds{} && s.parsed_rows == 0 &&
           s.unparsed_rows == 0 && s.blank_lines == 0 && s.ragged_rows == 0 &&
           s.oversized_rows == 0 && s.gap_moved == 0 && s.footer_rows == 0 &&
           s.first_unparsed.empty() &&
           std::all_of(s.bad_state_counts.begin(), s.bad_state_counts.end(),
                       [](std::uint64_t v) { return v == 0; }) &&
           s.texts.empty() && !s.texts_overflow && s.repeated.empty() && s.clock.empty() &&
           s.multiline_fields == 0 && s.multiline_lines == 0 && !s.first_multiline &&
           s.first_multiline_lines == 0 && !s.zone_walls && s.clock_rises.empty() &&
           s.dates == DateEvidence{};
}

std::string check_layout(const FileLayout& L, std::size_t i) {
    const std::uint64_t cols = L.n_columns;
    auto column = [cols](std::int64_t c, bool optional) {
        return (optional && c == -1) || (c >= 0 && static_cast<std::uint64_t>(c) < cols);
    };
    const std::string file = nth("file", i);
    if (L.layout != Layout::Wide && L.layout != Layout::Long && L.layout != Layout::Paired)
        return file + " has no layout";
    if (cols == 0 || cols > (std::uint64_t{1} << 24))
        return file + " claims " + std::to_string(cols) + " columns";
    if (L.tag_column.size() != L.tag_names.size() || L.quality_column.size() != L.tag_names.size())
        return file + " has tag columns and tag names that disagree";
    if (!L.unit_row.empty() && L.unit_row.size() != L.tag_names.size())
        return file + " has a unit row of another width than its tags";
    for (std::size_t k = 0; k < L.facts.size(); ++k)
        if (!known_fact(L.facts[k].name) ||
            (k > 0 && fact_rank(L.facts[k - 1].name) >= fact_rank(L.facts[k].name)))
            return file + " states reading facts out of the names' order";
    if (!L.header_units.empty() && L.header_units.size() != L.tag_names.size())
        return file + " has header units of another width than its tags";
    for (std::size_t t = 0; t < L.tag_column.size(); ++t)
        if (!column(L.tag_column[t], false) || !column(L.quality_column[t], true))
            return file + " names a column past its header";
    if (!column(L.time_col, false) || !column(L.time_col2, true))
        return file + " names a time column past its header";
    if ((L.time_col2 == -1) != (L.time_join == TimeJoin::None))
        return file + " joins a second time column it does not name";
    if (L.layout != Layout::Long) {
        for (auto c : {L.tag_col, L.value_col, L.quality_col, L.unit_col})
            if (c != -1) return file + " is not long but names long-layout columns";
        if (!L.more_value_cols.empty()) return file + " is not long but names value columns";
        if (L.layout == Layout::Wide)
            return L.pair_time_column.empty() ? std::string()
                                              : file + " is wide but names paired time columns";
        if (L.pair_time_column.size() != L.tag_names.size() || L.tag_names.empty())
            return file + " has paired time columns and tags that disagree";
        if (!L.unit_row.empty() || !L.header_units.empty())
            return file + " is paired but has a unit row or header units";
        for (auto c : L.pair_time_column)
            if (!column(c, false)) return file + " names a column past its header";
        return {};
    }
    if (!L.tag_names.empty() || !L.unit_row.empty() || !L.header_units.empty() ||
        L.metadata_skipped != 0 || !L.pair_time_column.empty())
        return file + " is long but has wide-layout tags";
    if (!column(L.tag_col, false) || !column(L.value_col, false) || !column(L.quality_col, true) ||
        !column(L.unit_col, true))
        return file + " names a column past its header";
    for (auto c : L.more_value_cols)
        if (!column(c, false)) return file + " names a column past its header";
    return {};
}

// The files, their layouts, and the cut rows at either end of the piece.
std::string check_files(const State& s) {
    if (s.files.empty()) return "a partial that scanned something lists no file";
    for (std::size_t i = 0; i < s.files.size(); ++i) {
        const FilePart& f = s.files[i];
        const std::string file = nth("file", i);
        if (std::string why = check_layout(f.layout, i); !why.empty()) return why;
        if (f.tag_ids.size() != f.layout.tag_names.size())
            return file + " maps another number of tags than it names";
        for (auto id : f.tag_ids)
            if (id >= s.tags.size()) return file + " maps a tag not listed";
        if (f.continues != (i == 0 && s.head_open))
            return file + " continues a file but is not where the piece begins";
        if (f.lines > f.bytes || f.data_rows > f.bytes)
            return file + " claims more lines or rows than bytes";
        Total steps;
        steps += f.rises;
        steps += f.falls;
        if (steps.wrapped || steps.value > f.data_rows)
            return file + " claims more steps between instants than rows";
        if (f.any_time ? !in_range(f.min_us) || !in_range(f.max_us) || f.min_us > f.max_us
                       : f.min_us != 0 || f.max_us != 0)
            return file + " has a time range that is not one";
    }
    if (!s.head_open && (s.head_closed || s.head != Fragment{}))
        return "a piece that begins at a file's start has a cut row";
    if (std::string why = check_fragment(s.head, "the cut first row", s.files.front().bytes);
        !why.empty())
        return why;
    if (s.tail_line > s.files.back().lines) return "the unfinished last row is past the last line";
    return check_fragment(s.tail, "the unfinished last row", s.files.back().bytes);
}

// The tags: names, counts that add up, units, and (long layout) their instants.
std::string check_tags(const State& s) {
    // Names are unique by construction in a scan, and checked as a blob is read (its index is
    // built there); an in-process piece builds its index only when it needs one.
    if (!s.tag_index.empty() && s.tag_index.size() != s.tags.size()) return "two tags share a name";
    if (s.settings && s.settings->health ? s.health.size() != s.tags.size() : !s.health.empty())
        return "signal health is not one per tag";
    for (std::size_t i = 0; i < s.tags.size(); ++i) {
        const TagStats& t = s.tags[i];
        const std::string tag = nth("tag", i);
        Total cells;
        cells += t.numbers;
        cells += t.empty;
        cells += t.bad_state;
        cells += t.text;
        Total numbers;
        numbers += t.sentinel;
        numbers += t.number_bad_quality;
        if (!cells.equals(t.cells) || numbers.wrapped || numbers.value > t.numbers ||
            t.text_bad_quality > t.text || t.censored > t.numbers || t.uncertain > t.numbers ||
            t.text_uncertain > t.text)
            return tag + " has cell counts that do not add up";
        const auto& other = t.other_units;
        if (other.size() > kMaxOtherUnits || (t.other_units_overflow && !other.empty()) ||
            (t.unit.empty() && (t.other_units_overflow || !other.empty())) ||
            std::adjacent_find(other.begin(), other.end(), std::greater_equal<>()) != other.end() ||
            std::find(other.begin(), other.end(), t.unit) != other.end())
            return tag + " has units that are not a scan's";
        Total instants;
        if (std::string why = check_axis(t.axis, tag, instants); !why.empty()) return why;
        if (instants.wrapped) return tag + " has more instants than can be counted";
        if (std::string why = check_ends(s, t.ends, tag); !why.empty()) return why;
        if (i < s.health.size()) {
            if (const char* why = s.health[i].check()) return tag + ": " + why;
            if (s.health[i].count > t.numbers) return tag + " has more health samples than numbers";
        }
        if (t.ends.any != !t.axis.runs.empty() ||
            (t.ends.any &&
             (t.ends.first_us != t.axis.runs.front().start || t.ends.last_us != t.axis.last())))
            return tag + " has ends that are not its first and last instants";
    }
    return {};
}

bool stream_fits(const State& s, std::uint32_t file, std::uint32_t stream) {
    if (file >= s.files.size()) return false;
    // Wide rows share one time stream; long and paired records each belong to their tag's.
    return s.files[file].layout.layout == Layout::Wide ? stream == kRowStream
                                                       : stream < s.tags.size();
}

// Rows and instants: every parsed row left one instant (or a repeated wall time) on the row
// axis and, in the long layout, one on its tag's; no file has more rows than bytes. So the
// instants finalising expands are bounded by the bytes the blob holds digests for.
std::string check_rows(const State& s) {
    Total rows, long_rows, row_instants, tag_instants;
    for (const FilePart& f : s.files) {
        rows += f.data_rows;
        if (f.layout.layout != Layout::Wide) long_rows += f.data_rows;
    }
    if (!rows.equals(s.parsed_rows)) return "the parsed rows are not the files' rows";
    if (std::string why = check_axis(s.rows, "the row axis", row_instants); !why.empty())
        return why;
    if (std::string why = check_ends(s, s.row_ends, "the row stream"); !why.empty()) return why;
    if (s.row_ends.any && s.rows.runs.empty()) return "the row stream has ends but no instants";
    for (const TagStats& t : s.tags)
        for (const TimeAxis::Run& run : t.axis.runs) tag_instants += run.count;
    for (const RepeatedWall& w : s.repeated) {
        row_instants += 1;
        if (w.stream != kRowStream) tag_instants += 1;
    }
    if (!row_instants.equals(s.parsed_rows) || !tag_instants.equals(long_rows.value) ||
        long_rows.wrapped)
        return "the instants are not one a parsed row";
    if (s.ragged_rows > s.parsed_rows || s.gap_moved > s.parsed_rows ||
        s.oversized_rows > s.unparsed_rows)
        return "the row counts do not add up";
    if (s.first_unparsed.size() != std::min<std::uint64_t>(s.unparsed_rows, kFirstRefs))
        return "the unparsed rows noted are not the first of those counted";
    for (const LineRef& l : s.first_unparsed)
        if (!line_in(s, l)) return "an unparsed row lies on a line not scanned";
    return {};
}

// The notes on cells: bad states and other texts, counted as the tags count them.
std::string check_texts(const State& s) {
    const std::size_t known = bad_state_list().size();
    Total bad, tag_bad, texts, tag_texts;
    for (std::size_t k = 0; k < s.bad_state_counts.size(); ++k) {
        if (k >= known && s.bad_state_counts[k] != 0) return "a bad state not known is counted";
        bad += s.bad_state_counts[k];
    }
    for (const TagStats& t : s.tags) {
        tag_bad += t.bad_state;
        tag_texts += t.text;
    }
    if (bad.wrapped || !tag_bad.equals(bad.value)) return "the bad states do not add up";
    if (s.texts.size() > kMaxTexts || (s.texts_overflow && !s.texts.empty()))
        return "the texts noted are more than are kept";
    for (const auto& [text, count] : s.texts) {
        if (text.empty() || text.size() > kMaxTextBytes || count == 0)
            return "a text noted is not one a scan keeps";
        texts += count;
    }
    if (!s.texts_overflow && (texts.wrapped || !tag_texts.equals(texts.value)))
        return "the texts noted do not add up";
    return {};
}

// Times held back for the end: repeated wall times and candidate clock changes, each on a
// stream its file's layout has.
std::string check_time_notes(const State& s) {
    for (std::size_t i = 0; i < s.repeated.size(); ++i) {
        const RepeatedWall& w = s.repeated[i];
        if (!stream_fits(s, w.file, w.stream) || !line_in(s, {w.file, w.line}))
            return nth("repeated wall time", i) + " names a stream or line its file does not have";
        if (!in_range(w.wall_us) || !in_range(w.first_us) || !in_range(w.second_us))
            return nth("repeated wall time", i) + " lies outside the range of instants";
    }
    for (const auto* list : {&s.clock, &s.clock_rises}) {
        if (list->size() > kClockCandidates) return "more clock changes are noted than are kept";
        for (std::size_t i = 0; i < list->size(); ++i) {
            const ClockCandidate& c = (*list)[i];
            if (!stream_fits(s, c.at.file, c.stream) || !line_in(s, c.at))
                return nth("clock change", i) + " names a stream or line its file does not have";
            if (!in_range(c.us))
                return nth("clock change", i) + " lies outside the range of instants";
        }
    }
    if (!std::is_sorted(s.clock_rises.begin(), s.clock_rises.end(), by_position))
        return "the forward clock steps are not in file order";
    return {};
}

// The slash dates' evidence: counts within the rows, first lines where counted, the dates a
// sorted set of dates whose fields both read as months.
std::string check_dates(const State& s) {
    const DateEvidence& d = s.dates;
    Total rows, kinds;
    rows += s.parsed_rows;
    rows += s.unparsed_rows;
    kinds += d.day_only;
    kinds += d.month_only;
    kinds += d.ambiguous;
    if (rows.wrapped || kinds.wrapped || d.slash_rows > rows.value || kinds.value > d.slash_rows)
        return "the slash dates do not add up";
    if (d.first_day_only.has_value() != (d.day_only > 0) ||
        d.first_month_only.has_value() != (d.month_only > 0) ||
        d.first_ambiguous.has_value() != (d.ambiguous > 0) || d.dates.size() > d.ambiguous)
        return "the slash dates' first lines disagree with their counts";
    for (const auto* line : {&d.first_day_only, &d.first_month_only, &d.first_ambiguous})
        if (*line && !line_in(s, **line)) return "a slash date lies on a line not scanned";
    if (d.dates.size() > kMaxAmbiguousDates || (d.dates_overflow && !d.dates.empty()) ||
        std::adjacent_find(d.dates.begin(), d.dates.end(), std::greater_equal<>()) != d.dates.end())
        return "the slash dates kept are not a set";
    for (const std::uint32_t v : d.dates) {
        const unsigned a = (v >> 4) & 15, b = v & 15, year = v >> 8;
        if (a < 1 || a > 12 || b < 1 || b > 12 || year < 1 || year > 9999)
            return "a slash date kept is not one both orders read";
    }
    return {};
}

// Records whose quoted fields run over lines: each has at least one line feed inside, all of
// them among the lines scanned; the first is noted with its own.
std::string check_multiline(const State& s) {
    Total lines;
    for (const FilePart& f : s.files) lines += f.lines;
    const bool any = s.multiline_fields > 0;
    if (s.first_multiline.has_value() != any || s.multiline_lines < s.multiline_fields ||
        (!lines.wrapped && s.multiline_lines > lines.value) ||
        (any ? s.first_multiline_lines == 0 || s.first_multiline_lines > s.multiline_lines
             : s.first_multiline_lines != 0))
        return "the multi-line fields do not add up";
    if (s.first_multiline && !line_in(s, *s.first_multiline))
        return "the first multi-line field lies on a line not scanned";
    return {};
}

}  // namespace

namespace {

// The window search's rows: one verdict per row with an instant, no more than the parsed rows
// (so the search walks no more instants than the blob's bytes allow), ids within the tags.
std::string check_baseline(const State& s) {
    const BaselineTrack& t = s.baseline;
    if (t.starts.size() % 3 != 0) return "the window search's instants are not whole runs";
    Total instants, rows;
    for (std::size_t k = 0; k < t.starts.size(); k += 3) {
        const std::int64_t start = t.starts[k], step = t.starts[k + 1], count = t.starts[k + 2];
        if (count < 1 || !in_range(start) ||
            (count > 1 && !run_end({start, step, static_cast<std::uint64_t>(count)})))
            return nth("window search run", k / 3) + " leaves the range of instants";
        instants += static_cast<std::uint64_t>(count);
    }
    for (std::size_t k = 0; k < t.verdicts.size(); ++k) {
        const BaselineTrack::Entry& e = t.verdicts[k];
        if (e.rows == 0) return nth("window search verdict", k) + " covers no row";
        if (e.verdict != RowVerdict::Pending && !e.needs.empty())
            return nth("window search verdict", k) + " has needs but is not pending";
        for (const BaselineTrack::Need& n : e.needs)
            if (n.tag >= s.tags.size() || !(n.need >= 0))
                return nth("window search verdict", k) + " names no tag or no range";
        rows += e.rows;
    }
    if (!rows.equals(instants.value) || instants.wrapped || instants.value > s.parsed_rows)
        return "the window search's verdicts and instants disagree with the rows";
    if (t.pv_range.size() > s.tags.size()) return "the window search's ranges name no tag";
    if (!t.records) {
        if (t.head.any || t.tail.any) return "the window search holds open rows of no records";
        return {};
    }
    // Records rows: ids within the tags, each tag once in an open row, the head set before any
    // row is judged and the tail open whenever a row is (the order merging relies on).
    for (std::size_t k = 0; k < t.verdicts.size(); ++k) {
        const BaselineTrack::Entry& e = t.verdicts[k];
        bool sorted = true;
        for (std::size_t i = 0; i < e.loop_tags.size(); ++i)
            sorted = sorted && e.loop_tags[i] < s.tags.size() &&
                     (i == 0 || e.loop_tags[i - 1] < e.loop_tags[i]);
        if (!sorted || e.present > s.tags.size())
            return nth("window search verdict", k) + " names no tag or tags out of order";
    }
    std::vector<bool> in_row(s.tags.size());
    for (const OpenRow* row : {&t.head, &t.tail}) {
        if (!row->any && (row->clock || row->t || !row->tags.empty()))
            return "the window search's open rows hold data but no row";
        if (row->any && (!in_range(row->t) || row->tags.empty()))
            return "the window search's open rows leave the range of instants";
        std::fill(in_row.begin(), in_row.end(), false);
        for (const RowTag& g : row->tags) {
            if (g.tag >= s.tags.size() || in_row[g.tag])
                return "the window search's open rows name no tag or a tag twice";
            in_row[g.tag] = true;
        }
    }
    if ((!t.head.any && !t.verdicts.empty()) || (t.head.any && !t.tail.any))
        return "the window search's rows are out of order";
    return {};
}

}  // namespace

std::string check_state(const PartialProfile::State& s) {
    if (!s.used) return unused_is_empty(s) ? "" : "a partial that scanned nothing holds data";
    // In order: later sections index what earlier ones checked.
    for (auto section : {check_files, check_tags, check_rows, check_texts, check_time_notes,
                         check_dates, check_multiline, check_baseline})
        if (std::string why = section(s); !why.empty()) return why;
    return {};
}

}  // namespace qorv_chemical_engineering_edge::export_profile
