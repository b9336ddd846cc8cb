// Fuzzes partial profiles as they arrive from elsewhere: the input's CSV is scanned into a valid
// partial (whole, or a range cut from its middle, or both halves merged), then the input's edits
// change fields of that state (counts, runs, indices, ends, layouts, with values chosen to reach
// the limits) and flip bits of its binary form, which is framed again under a fresh digest so
// that nothing hides behind it. Whatever reads back must write back bit-exactly, merge with
// itself and with the unedited partial either way round, and finalise without a crash, a hang
// or a runaway allocation into a profile whose figures stay inside their ranges.
//
// Input: [options][edit count][edits: field, index, value, extra][CSV].
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "export/state.hpp"
#include "fuzz_check.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"
#include "qorv_chemical_engineering_edge/sha256.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;
namespace hashing = qorv_chemical_engineering_edge::hashing;
using State = ep::PartialProfile::State;

namespace {

constexpr std::string_view kMagic = "export_profile_partial";
constexpr std::size_t kHead = kMagic.size() + 16;  // schema text, version, payload length

// The values edits write: the edges of every width, steps, instants.
constexpr std::int64_t kValues[] = {0,
                                    1,
                                    2,
                                    3,
                                    -1,
                                    -2,
                                    24,
                                    60'000'000,
                                    std::int64_t{1} << 20,
                                    std::int64_t{1} << 31,
                                    std::int64_t{1} << 32,
                                    std::int64_t{1} << 40,
                                    std::int64_t{1} << 50,
                                    (std::int64_t{1} << 60) - 1,
                                    std::int64_t{1} << 60,
                                    std::int64_t{1} << 62,
                                    std::numeric_limits<std::int64_t>::max(),
                                    std::numeric_limits<std::int64_t>::min(),
                                    0xFFFFFFFF,
                                    0xFFFFFFFE,
                                    1'729'994'400'000'000,  // 2024-10-27T02:00:00Z
                                    -(std::int64_t{1} << 60) + 1};

std::int64_t value_of(std::uint8_t v) {
    constexpr std::size_t n = sizeof kValues / sizeof kValues[0];
    return v < n ? kValues[v] : std::int64_t{v} - static_cast<std::int64_t>(n);
}

template <class T>
T* pick(std::vector<T>& v, std::uint8_t index) {
    return v.empty() ? nullptr : &v[index % v.size()];
}

struct Edit {
    std::uint8_t field, index, value, extra;
};

// One field of the state set to a value (what a sender writing the binary form could do).
void apply(State& s, const Edit& e) {
    const std::int64_t v = value_of(e.value);
    const auto u = static_cast<std::uint64_t>(v);
    const auto u32 = static_cast<std::uint32_t>(u);
    auto run_field = [&](ep::TimeAxis& axis) {
        if (axis.runs.empty()) axis.runs.push_back({0, 0, 1});
        ep::TimeAxis::Run& r = axis.runs[e.index % axis.runs.size()];
        switch (e.extra % 4) {
            case 0:
                r.start = v;
                break;
            case 1:
                r.step = v;
                break;
            case 2:
                r.count = u;
                break;
            default:
                axis.runs.push_back(r);
        }
    };
    switch (e.field % 19) {
        case 0:
            run_field(s.rows);
            break;
        case 1:
            if (auto* t = pick(s.tags, e.index)) run_field(t->axis);
            break;
        case 2:
            if (auto* t = pick(s.tags, e.index)) {
                std::uint64_t* counts[] = {
                    &t->cells, &t->numbers,          &t->empty,    &t->bad_state,
                    &t->text,  &t->text_bad_quality, &t->sentinel, &t->number_bad_quality};
                *counts[e.extra % 8] = u;
            }
            break;
        case 3:
            if (auto* f = pick(s.files, e.index)) {
                switch (e.extra % 6) {
                    case 0:
                        f->bytes = u;
                        break;
                    case 1:
                        f->lines = u;
                        break;
                    case 2:
                        f->data_rows = u;
                        break;
                    case 3:
                        f->min_us = v;
                        break;
                    case 4:
                        f->max_us = v;
                        break;
                    default:
                        f->blocks.resize(u % 4096);  // digests for what bytes claim
                }
            }
            break;
        case 4: {
            if (s.clock.empty()) s.clock.push_back({});
            ep::ClockCandidate& c = *pick(s.clock, e.index);
            switch (e.extra % 4) {
                case 0:
                    c.at.file = u32;
                    break;
                case 1:
                    c.at.line = u;
                    break;
                case 2:
                    c.stream = u32;
                    break;
                default:
                    c.us = v;
            }
            break;
        }
        case 5: {
            if (s.repeated.empty()) s.repeated.push_back({});
            ep::RepeatedWall& w = *pick(s.repeated, e.index);
            switch (e.extra % 6) {
                case 0:
                    w.file = u32;
                    break;
                case 1:
                    w.stream = u32;
                    break;
                case 2:
                    w.wall_us = v;
                    break;
                case 3:
                    w.first_us = v;
                    break;
                case 4:
                    w.second_us = v;
                    break;
                default:
                    w.window_s = v;
            }
            break;
        }
        case 6: {
            std::uint64_t* counts[] = {&s.parsed_rows, &s.unparsed_rows,  &s.blank_lines,
                                       &s.ragged_rows, &s.oversized_rows, &s.gap_moved};
            *counts[e.extra % 6] = u;
            break;
        }
        case 7:
            s.first_unparsed.push_back({u32, e.extra});
            break;
        case 8:
            if (e.extra & 1)
                s.texts_overflow = !s.texts_overflow;
            else
                s.texts["t" + std::to_string(e.index)] = u;
            break;
        case 9: {
            ep::Fragment& f = e.extra & 1 ? s.tail : s.head;
            switch (e.extra / 2 % 3) {
                case 0:
                    f.length = u;
                    break;
                case 1:
                    f.line_feeds = u;
                    break;
                default:
                    f.bytes.push_back(static_cast<char>(e.index));
            }
            break;
        }
        case 10: {
            ep::StreamEnds* ends = &s.row_ends;
            if (auto* t = pick(s.tags, e.index); t && (e.extra & 8)) ends = &t->ends;
            switch (e.extra % 4) {
                case 0:
                    ends->any = !ends->any;
                    break;
                case 1:
                    ends->first_us = v;
                    break;
                case 2:
                    ends->last_us = v;
                    break;
                default:
                    ends->first_at.file = u32;
            }
            break;
        }
        case 11:
            if (auto* f = pick(s.files, e.index)) {
                ep::FileLayout& L = f->layout;
                const auto i32 = static_cast<std::int32_t>(v);
                switch (e.extra % 9) {
                    case 0:
                        L.n_columns = u;
                        break;
                    case 1:
                        L.tag_col = i32;
                        break;
                    case 2:
                        L.time_col = i32;
                        break;
                    case 3:
                        L.value_col = i32;
                        break;
                    case 4:
                        L.quality_col = i32;
                        break;
                    case 5:
                        L.unit_col = i32;
                        break;
                    case 6:
                        if (!L.tag_column.empty()) L.tag_column[0] = u32;
                        break;
                    case 7:
                        if (!L.quality_column.empty()) L.quality_column[0] = i32;
                        break;
                    default:
                        L.layout =
                            L.layout == ep::Layout::Wide ? ep::Layout::Long : ep::Layout::Wide;
                }
            }
            break;
        case 12:
            if (auto* f = pick(s.files, e.index)) {
                if (f->tag_ids.empty() || (e.extra & 1))
                    f->tag_ids.push_back(u32);
                else
                    f->tag_ids[0] = u32;
            }
            break;
        case 13:
            switch (e.extra % 6) {
                case 0:
                    s.head_open = !s.head_open;
                    break;
                case 1:
                    s.head_closed = !s.head_closed;
                    break;
                case 2:
                    s.used = !s.used;
                    break;
                case 3:
                    s.rows.collapse_repeats = !s.rows.collapse_repeats;
                    break;
                case 4:
                    if (auto* f = pick(s.files, e.index)) f->continues = !f->continues;
                    break;
                default:
                    if (auto* f = pick(s.files, e.index)) f->any_time = !f->any_time;
            }
            break;
        case 14:
            s.bad_state_counts[e.extra % 64] = u;
            break;
        case 15:
            if (auto* t = pick(s.tags, e.index)) {
                if (e.extra & 1)
                    t->other_units.push_back("u" + std::to_string(e.value));
                else
                    t->unit = e.extra & 2 ? "" : "u" + std::to_string(e.value);
            }
            break;
        case 16:
            if (auto* t = pick(s.tags, e.index)) t->name = s.tags[e.extra % s.tags.size()].name;
            break;
        case 17:
            switch (e.extra % 4) {
                case 0:
                    s.multiline_fields = u;
                    break;
                case 1:
                    s.multiline_lines = u;
                    break;
                case 2:
                    s.first_multiline_lines = u;
                    break;
                default:
                    if (s.first_multiline)
                        s.first_multiline.reset();
                    else
                        s.first_multiline = ep::LineRef{u32, e.index};
            }
            break;
        default:
            if (!s.files.empty() && (e.extra & 1)) s.files.push_back(s.files.back());
            if (!s.tags.empty() && (e.extra & 2)) s.tags.push_back(s.tags.back());
            if (!s.clock.empty() && (e.extra & 4)) s.clock.push_back(s.clock.back());
    }
}

// A payload under the schema text and version of `blob`, with its length and digest.
std::string frame(std::string_view blob, std::string_view payload) {
    std::string out(blob.substr(0, kHead - 8));
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(payload.size() >> (8 * i)));
    out.append(payload);
    hashing::Sha256 h;
    h.update(payload);
    const auto d = h.finish();
    out.append(reinterpret_cast<const char*>(d.data()), d.size());
    return out;
}

// The figures of a profile from any partial that was accepted stay inside their ranges.
void check_profile(const ep::ExportProfile& p) {
    auto fraction = [](double v) { return std::isnan(v) || (v >= 0 && v <= 1); };
    check(fraction(p.missingness.value) && fraction(p.unit_coverage.value) &&
          fraction(p.duplicate_timestamps.value));
    check(std::isnan(p.time_span_hours.value) || p.time_span_hours.value >= 0);
    check(p.n_tags.value == p.tags.size());
    for (const ep::TagEvidence& t : p.tags) {
        check(t.present <= t.samples);
        check(t.missing_empty + t.missing_bad_state + t.missing_text + t.missing_sentinel +
                  t.missing_quality + t.present ==
              t.samples);
        check(!t.first_us || !t.last_us || *t.first_us <= *t.last_us);
    }
}

// Finalising expands every instant: bounded by the bytes claimed, which the binary form makes a
// blob pay for with digests, but large for a fuzzing run. Larger claims are read and merged only.
bool small(const State& s) {
    std::uint64_t n = s.repeated.size();
    auto add = [&n](const ep::TimeAxis& a) {
        for (const auto& r : a.runs) n += std::min<std::uint64_t>(r.count, 1ULL << 40);
    };
    add(s.rows);
    for (const auto& t : s.tags) add(t.axis);
    return n <= (1u << 22);
}

void finish(const ep::PartialProfile& p) {
    if (!small(p.state())) return;
    auto done = p.finalize(p.state().settings ? p.state().settings->options.declared
                                              : ep::DeclaredFields{});
    if (done) check_profile(done.value());
}

// Two without and two with daylight saving time.
constexpr const char* kZones[4] = {"UTC", "Europe/Berlin", "Asia/Kolkata", "America/New_York"};

// The zones' TZif bytes, read once.
const std::string& zone_bytes(int i) {
    static const std::array<std::string, 4> bytes = [] {
        std::array<std::string, 4> all;
        for (int k = 0; k < 4; ++k) {
            std::ifstream in(std::string("/usr/share/zoneinfo/") + kZones[k], std::ios::binary);
            all[k].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return all;
    }();
    return bytes[static_cast<std::size_t>(i)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t flags = data[0];
    const std::size_t n_edits = std::min<std::size_t>(data[1], (size - 2) / 4);
    std::vector<Edit> edits;
    for (std::size_t i = 0; i < n_edits; ++i) {
        const std::uint8_t* e = data + 2 + 4 * i;
        edits.push_back({e[0], e[1], e[2], e[3]});
    }
    const std::string_view csv(reinterpret_cast<const char*>(data + 2 + 4 * n_edits),
                               size - 2 - 4 * n_edits);

    ep::ProfileOptions o;
    o.zone_name = kZones[flags & 3];
    if (flags & 0x40) o.zone_tzif = zone_bytes(flags & 3);  // as Python sends it: edits reach it
    o.layout = static_cast<ep::Layout>((flags >> 4) % 3);
    if (flags & 0x80) {
        o.missing_sentinels = {-999};
        o.good_quality = {"good"};
    }

    // Whole, the range from the middle on (its first row cut), the part before it (its last row
    // cut), or both merged.
    const std::size_t cut = csv.size() / 2;
    std::size_t quotes = 0;
    for (std::size_t i = 0; i < cut; ++i) quotes += csv[i] == '"';
    // A first range is given the file's opening, as every range after it is.
    auto scan = [&](std::string_view bytes) -> ep::Result<ep::PartialProfile> {
        ep::ExportScanner s(o, "fuzz.csv", csv);
        s.feed(bytes);
        return s.finish();
    };
    auto right = [&]() -> ep::Result<ep::PartialProfile> {
        auto s = ep::ExportScanner::resume_at(o, "fuzz.csv", csv, cut, quotes % 2 == 1);
        if (!s) return s.error();
        s.value().feed(csv.substr(cut));
        return s.value().finish();
    };
    ep::Result<ep::PartialProfile> scanned = ep::ProfileError{};
    switch ((flags >> 2) & 3) {
        case 0:
            scanned = scan(csv);
            break;
        case 1:
            scanned = right();
            break;
        case 2:
            scanned = scan(csv.substr(0, cut));
            break;
        default:
            scanned = scan(csv.substr(0, cut));
            if (auto r = right(); scanned && r) scanned.value().merge(std::move(r).value());
    }
    if (!scanned) return 0;
    const ep::PartialProfile original = scanned.value();
    // Every partial a scan or merge leaves reads back as it was.
    {
        auto back = ep::PartialProfile::deserialize(original.serialize());
        check(back.ok() && back.value() == original);
    }

    ep::PartialProfile edited = original;
    std::vector<Edit> flips;
    for (const Edit& e : edits) {
        if (e.field >= 0xF0)
            flips.push_back(e);
        else
            apply(edited.state(), e);
    }
    std::string blob = edited.serialize();
    if (!flips.empty()) {
        std::string payload = blob.substr(kHead, blob.size() - kHead - 32);
        for (const Edit& e : flips) {
            if (payload.empty()) break;
            const std::size_t bit =
                ((std::size_t{e.index} << 16) | (std::size_t{e.value} << 8) | e.extra) %
                (payload.size() * 8);
            payload[bit / 8] = static_cast<char>(payload[bit / 8] ^ (1 << (bit % 8)));
        }
        blob = frame(blob, payload);
    }

    auto read = ep::PartialProfile::deserialize(blob);
    if (!read) return 0;
    const ep::PartialProfile& p = read.value();
    check(p.serialize() == blob);
    finish(p);
    for (int order = 0; order < 3; ++order) {
        ep::PartialProfile a = order == 1 ? original : p;
        ep::PartialProfile b = order == 2 ? original : p;
        a.merge(std::move(b));
        finish(a);
    }
    return 0;
}
