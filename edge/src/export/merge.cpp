// PartialProfile: construction, merging of consecutive pieces, equality.
#include <algorithm>

#include "export/state.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

PartialProfile::PartialProfile() : s_(std::make_unique<State>()) {}
PartialProfile::~PartialProfile() = default;
PartialProfile::PartialProfile(PartialProfile&&) noexcept = default;
PartialProfile& PartialProfile::operator=(PartialProfile&&) noexcept = default;
PartialProfile::PartialProfile(const PartialProfile& other)
    : s_(std::make_unique<State>(*other.s_)) {}
PartialProfile& PartialProfile::operator=(const PartialProfile& other) {
    if (this != &other) s_ = std::make_unique<State>(*other.s_);
    return *this;
}

void PartialProfile::merge(PartialProfile&& later) {
    State& L = *s_;
    State& R = *later.s_;
    if (!R.used) return;
    if (!L.used) {
        std::swap(s_, later.s_);
        return;
    }
    const bool cont = R.head_open;

    // The row cut at the boundary, or the last row of L's file.
    auto extend = [](Fragment& f, const Fragment& more) {
        f.add(more.bytes);
        f.length += more.length - more.bytes.size();
        if (f.length > kMaxRecordBytes) f.bytes.clear();
        f.line_feeds += more.line_feeds;
    };
    const bool all_head = L.head_open && !L.head_closed;  // L lies inside one row
    if (cont) {
        if (all_head) {
            extend(L.head, R.head);
            L.head_closed = R.head_closed;
        } else if (R.head_closed) {
            extend(L.tail, R.head);
            const auto part = static_cast<std::uint32_t>(L.files.size() - 1);
            if (L.tail.length > kMaxRecordBytes) {
                L.note_quotes({part, L.tail_line}, L.tail.line_feeds, L.tail.length, false);
                ++L.oversized_rows;
                L.note_unparsed({part, L.tail_line});
            } else {
                process_record(L, part, L.tail.bytes, L.tail_line);
            }
            L.tail = {};
        } else {
            extend(L.tail, R.head);
        }
    } else if (all_head) {
        L.head_closed = true;  // the file ended inside that row, which closes it
    } else {
        close_tail(L);
    }

    const auto file_shift = static_cast<std::uint32_t>(L.files.size() - (cont ? 1 : 0));
    const std::uint64_t line_shift = cont ? L.files.back().lines : 0;
    auto shift = [&](LineRef r) {
        if (cont && r.file == 0) r.line += line_shift;
        r.file += file_shift;
        return r;
    };

    // Tags, by name.
    std::vector<std::uint32_t> remap(R.tags.size());
    std::vector<ClockCandidate> boundary, boundary_rises;
    const auto joined_file = static_cast<std::uint32_t>(L.files.size() - 1);
    auto join_ends = [&](StreamEnds& a, const StreamEnds& b, std::uint32_t stream) {
        if (!b.any) return;
        if (!a.any) {
            a = b;
            a.first_at = shift(b.first_at);
            a.last_at = shift(b.last_at);
            return;
        }
        const std::int64_t back = a.last_us - b.first_us;
        // The step across the cut, counted as the scan of the whole file counts it.
        if (cont && a.last_at.file == joined_file && b.first_at.file == 0) {
            FilePart& f = L.files[joined_file];
            f.rises += back < 0;
            f.falls += back > 0;
            if (back < 0 && back >= -3600 * kUsPerSecond && !L.settings->zone.has_dst())
                boundary_rises.push_back({a.last_at, stream, a.last_us});
        }
        if (back > 0 && back <= 3600 * kUsPerSecond && !L.settings->zone.has_dst())
            boundary.push_back({shift(b.first_at), stream, b.first_us});
        a.last_us = b.last_us;
        a.last_at = shift(b.last_at);
    };
    for (std::size_t r = 0; r < R.tags.size(); ++r) {
        TagStats& b = R.tags[r];
        // Pieces of one file list the same tags in the same order: compare before hashing.
        const std::uint32_t id = r < L.tags.size() && L.tags[r].name == b.name
                                     ? static_cast<std::uint32_t>(r)
                                     : L.tag_id(b.name);
        remap[r] = id;
        TagStats& a = L.tags[id];
        a.cells += b.cells;
        a.numbers += b.numbers;
        a.empty += b.empty;
        a.bad_state += b.bad_state;
        a.text += b.text;
        a.text_bad_quality += b.text_bad_quality;
        a.sentinel += b.sentinel;
        a.number_bad_quality += b.number_bad_quality;
        a.uncertain += b.uncertain;
        a.text_uncertain += b.text_uncertain;
        a.censored += b.censored;
        L.note_unit(a, b.unit);
        if (b.other_units_overflow) {
            a.other_units.clear();
            a.other_units_overflow = true;
        }
        for (const std::string& u : b.other_units) L.note_unit(a, u);
        a.axis.append_axis(b.axis);
        join_ends(a.ends, b.ends, id);
        if (L.settings->health && r < R.health.size()) {
            L.health.resize(L.tags.size());
            L.health[id].merge(R.health[r]);
        }
    }
    auto stream_of = [&](std::uint32_t s) { return s == kRowStream ? s : remap[s]; };
    L.bins.merge(std::move(R.bins), remap, L.tags.size());

    // Files.
    for (std::size_t f = 0; f < R.files.size(); ++f) {
        FilePart& b = R.files[f];
        for (std::uint32_t& id : b.tag_ids) id = remap[id];
        if (f == 0 && cont) {
            FilePart& a = L.files.back();
            a.bytes += b.bytes;
            a.lines += b.lines;
            a.data_rows += b.data_rows;
            a.rises += b.rises;
            a.falls += b.falls;
            if (b.any_time) {
                a.min_us = a.any_time ? std::min(a.min_us, b.min_us) : b.min_us;
                a.max_us = a.any_time ? std::max(a.max_us, b.max_us) : b.max_us;
                a.any_time = true;
            }
            a.digest_complete = a.digest_complete && b.digest_complete && !a.ends_mid_block;
            a.blocks.insert(a.blocks.end(), b.blocks.begin(), b.blocks.end());
            a.ends_mid_block = b.ends_mid_block;
            a.utf16_replaced += b.utf16_replaced;
        } else {
            L.files.push_back(std::move(b));
        }
    }

    L.rows.append_axis(R.rows);
    L.baseline.append(std::move(R.baseline), remap, [&tags = L.tags](std::uint32_t id) {
        return std::string_view(tags[id].name);
    });
    join_ends(L.row_ends, R.row_ends, kRowStream);
    L.parsed_rows += R.parsed_rows;
    L.unparsed_rows += R.unparsed_rows;
    L.blank_lines += R.blank_lines;
    L.footer_rows += R.footer_rows;
    L.ragged_rows += R.ragged_rows;
    L.oversized_rows += R.oversized_rows;
    L.gap_moved += R.gap_moved;
    L.zone_walls = L.zone_walls || R.zone_walls;
    for (const LineRef& r : R.first_unparsed)
        if (L.first_unparsed.size() < kFirstRefs) L.first_unparsed.push_back(shift(r));
    for (std::size_t k = 0; k < L.bad_state_counts.size(); ++k)
        L.bad_state_counts[k] += R.bad_state_counts[k];
    if (R.texts_overflow || L.texts_overflow) {
        L.texts.clear();
        L.texts_overflow = true;
    } else {
        for (auto& [text, count] : R.texts) L.texts[text] += count;
        if (L.texts.size() > kMaxTexts) {
            L.texts.clear();
            L.texts_overflow = true;
        }
    }
    for (RepeatedWall w : R.repeated) {
        const LineRef at = shift({w.file, w.line});
        w.file = at.file;
        w.line = at.line;
        w.stream = stream_of(w.stream);
        L.repeated.push_back(w);
    }
    for (ClockCandidate c : R.clock) {
        c.at = shift(c.at);
        c.stream = stream_of(c.stream);
        boundary.push_back(c);
    }
    L.clock.insert(L.clock.end(), boundary.begin(), boundary.end());
    for (ClockCandidate c : R.clock_rises) {
        c.at = shift(c.at);
        c.stream = stream_of(c.stream);
        boundary_rises.push_back(c);
    }
    L.clock_rises.insert(L.clock_rises.end(), boundary_rises.begin(), boundary_rises.end());
    std::sort(L.clock_rises.begin(), L.clock_rises.end(), by_position);
    if (L.clock_rises.size() > kClockCandidates) L.clock_rises.resize(kClockCandidates);
    L.dates.merge(R.dates, shift);
    L.multiline_fields += R.multiline_fields;
    L.multiline_lines += R.multiline_lines;
    if (!L.first_multiline && R.first_multiline) {
        L.first_multiline = shift(*R.first_multiline);
        L.first_multiline_lines = R.first_multiline_lines;
    }
    std::sort(L.clock.begin(), L.clock.end(), by_position);
    if (L.clock.size() > kClockCandidates) L.clock.resize(kClockCandidates);

    if (!(cont && !R.head_closed)) {
        L.tail = std::move(R.tail);
        L.tail_line = R.tail_line + (cont && R.files.size() == 1 ? line_shift : 0);
    }
    later = PartialProfile();
}

namespace {
// Per tag, an entry not yet made reads as one that was never fed.
bool same_health(const PartialProfile::State& a, const PartialProfile::State& b) {
    static const TagHealth kNone;
    for (std::size_t i = 0; i < std::max(a.health.size(), b.health.size()); ++i)
        if (!((i < a.health.size() ? a.health[i] : kNone) ==
              (i < b.health.size() ? b.health[i] : kNone)))
            return false;
    return true;
}
}  // namespace

bool operator==(const PartialProfile& x, const PartialProfile& y) {
    const auto& a = x.state();
    const auto& b = y.state();
    return a.used == b.used && a.head_open == b.head_open && a.head_closed == b.head_closed &&
           a.head == b.head && a.tail == b.tail && a.tail_line == b.tail_line &&
           a.files == b.files && a.tags == b.tags && a.rows == b.rows && a.row_ends == b.row_ends &&
           a.parsed_rows == b.parsed_rows && a.unparsed_rows == b.unparsed_rows &&
           a.blank_lines == b.blank_lines && a.footer_rows == b.footer_rows &&
           a.ragged_rows == b.ragged_rows && a.oversized_rows == b.oversized_rows &&
           a.gap_moved == b.gap_moved && a.first_unparsed == b.first_unparsed &&
           a.bad_state_counts == b.bad_state_counts && a.texts == b.texts &&
           a.texts_overflow == b.texts_overflow && a.repeated == b.repeated && a.clock == b.clock &&
           a.multiline_fields == b.multiline_fields && a.multiline_lines == b.multiline_lines &&
           a.first_multiline == b.first_multiline &&
           a.first_multiline_lines == b.first_multiline_lines && a.bins == b.bins &&
           a.zone_walls == b.zone_walls && a.clock_rises == b.clock_rises && a.dates == b.dates &&
           a.baseline == b.baseline && same_health(a, b);
}

}  // namespace qorv_chemical_engineering_edge::export_profile
