// What the context readers share: a context file's records, header and rows, the column roles of
// each kind, what rows add up to (per piece, merged in order), times read as the export reads
// them, and the export's span and tags.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "export/state.hpp"
#include "qorv_chemical_engineering_edge/context.hpp"

namespace qorv_chemical_engineering_edge::context {

namespace ep = export_profile;

// ---- Kinds and their columns (kinds.cpp) ------------------------------------------------------

// A column role of a kind; `required` roles must all be named, and of `one_of_group` roles at
// least one per group (a non-zero group number).
struct RoleSpec {
    std::string_view role;
    std::span<const std::string_view> names;  // compared as keys (see column_key)
    bool required = false;
    int one_of_group = 0;
};

// Lower case without spaces, '_', '-', '.', '/', '#', '(' or ')': "Sampled Time" -> sampledtime.
std::string column_key(std::string_view header_cell);

// Columns per role of one kind, in header order (a role may name several columns: a batch
// journal's event and state texts).
struct Columns {
    Kind kind = Kind::Lab;
    std::vector<std::vector<std::size_t>> of_role;  // by the kind's role order
    std::size_t named = 0;                          // roles with a column
    bool fits = false;                              // every required role named
    const std::vector<std::size_t>& operator[](std::size_t role) const { return of_role[role]; }
};
Columns columns_for(Kind kind, const std::vector<std::string>& header);
std::span<const RoleSpec> roles_of(Kind kind);

// Role indexes, in the order of each kind's table.
namespace lab {
enum : std::size_t { Id, Point, Time, Analysis, Result, Unit, Status };
}
namespace maintenance {
enum : std::size_t { Id, Equipment, Start, Finish, Type, Description };
}
namespace batches {
enum : std::size_t { Batch, Recipe, Unit, Phase, Event, Time };
}

// ---- Records, the header and rows (table.cpp) -----------------------------------------------

// A row's cells, unquoted and decoded; one is reused for every row of a piece.
struct Row {
    std::vector<std::string> cells;
    const std::string& cell(const std::vector<std::size_t>& columns) const;  // the first non-empty
    bool blank() const;
};

// Splits a record (no line feed) at `delim` into `out`'s cells, texts as the encoding reads them.
void cells_of(std::string_view record, char delim, ep::Encoding encoding, Row& out);

// What the header gives the rows under it.
struct Header {
    char delim = ',';
    Columns columns;
    std::uint64_t rows_from = 0;  // the stream offset of the first byte after the header record
};

// The header among a file's first 64 records, offered one at a time (the byte-order mark left
// out): the first that is no title line and fits a kind (the named one, else the kind whose
// columns it names most), after a sep= line when the first record is one.
class HeaderSearch {
  public:
    HeaderSearch(const ContextFile& file, ep::Encoding encoding) : file_(file), enc_(encoding) {}
    // `end` is the stream offset just past the record's line feed. False once decided.
    bool offer(std::string_view record, std::uint64_t end);
    // The stream ended: decides when still undecided.
    void at_end();
    bool decided() const noexcept { return header_.has_value() || !error_.empty(); }
    const std::optional<Header>& header() const noexcept { return header_; }
    const std::string& error() const noexcept { return error_; }  // the refusal, without the file

  private:
    const ContextFile& file_;
    ep::Encoding enc_;
    std::size_t seen_ = 0;
    char sep_ = 0;
    Row row_;
    std::vector<std::string> first_seen_;  // the first record that could have been a header
    std::optional<Header> header_;
    std::string error_;
};

// ---- What the rows add up to ------------------------------------------------------------------

// A sample, an order or a batch: an id's rows combine (a keyed item), else one row is one item.
// `a` is the earliest time (a sample's, an order's start, a batch's first event), `b` the latest
// finish or end event; `result` and `invalid` are a sample's.
struct Item {
    std::string id;
    std::int64_t a = 0;
    std::optional<std::int64_t> b;
    bool result = false, invalid = false, keyed = false;
    void combine(const Item& later);
};

// Times written with an offset that is not the export's zone's, for the note.
struct OffsetNote {
    std::uint64_t differs = 0;
    std::string first;
    std::int32_t written = 0, zone = 0;
};

// Reasons counted, for ContextEvidence::skipped.
struct Skips {
    std::map<std::string, std::uint64_t> counts;
    void add(std::string_view reason, std::uint64_t n = 1) {
        if (n) counts[std::string(reason)] += n;
    }
    std::vector<ep::TextCount> list() const;
};

// What rows give under one day/month order: in file order, so that tallies of consecutive
// pieces merge into the tally of their rows read at once. Memory grows with the items (ids) and
// the distinct names, never with the rows.
struct Tally {
    std::uint64_t records = 0, censored = 0;
    Skips skips;
    std::optional<std::int64_t> first_us, last_us;
    std::deque<Item> items;  // in order of first row; a deque, so by_id's views stay put
    std::unordered_map<std::string_view, std::size_t> by_id;
    std::set<std::string, std::less<>> names;  // sample points, equipment or units named
    OffsetNote offsets;

    Tally() = default;
    Tally(Tally&&) = default;
    Tally& operator=(Tally&&) = default;
    Tally(const Tally& other);
    Tally& operator=(const Tally&) = delete;

    void widen(std::int64_t t) {
        first_us = first_us ? std::min(*first_us, t) : t;
        last_us = last_us ? std::max(*last_us, t) : t;
    }
    // The item of a keyed id (added at `t` when new), or a new unkeyed item at `t`.
    Item& item(const std::string& id, bool keyed, std::int64_t t);
    void merge(Tally&& later);
};

// ---- Against the export (span.cpp) ------------------------------------------------------------

// The export as the readers see it: its span, tag names, zone and date order.
class Against {
  public:
    explicit Against(const ep::ExportProfile& profile);

    std::optional<std::int64_t> lo, hi;  // the export's first and last instant
    bool inside(std::int64_t t) const noexcept { return lo && t >= *lo && t <= *hi; }
    bool overlaps(std::int64_t a, std::int64_t b) const noexcept {
        return lo && a <= *hi && b >= *lo;
    }
    // The export's tags a text names: its own name, or tags it prefixes before one of . _ - : /
    // or a space (equipment "FIC101" names FIC101.PV and FIC101_SP), any case; failing that,
    // those its first word names so ("TI200 outlet" names TI200).
    void tags_named(std::string_view text, std::vector<std::string>& out) const;
    const ep::ExportProfile& profile;
    std::string span_text() const;

  private:
    void names_by_prefix(std::string_view text, std::vector<std::string>& out) const;
    std::vector<std::pair<std::string, std::size_t>> lowered_;  // sorted: lower-case name, index
};

// Times read as the export's: the syntax and zone of its options, in one day/month order.
// Explicit offsets that differ from the zone's are counted for a note.
class TimeReader {
  public:
    TimeReader(std::shared_ptr<const ep::ScanSettings> settings, bool day_first);
    std::optional<std::int64_t> instant(std::string_view cell, OffsetNote& note) const;
    // What a time cell says of the day/month order: a slash date, a first or second field > 12.
    void order_evidence(std::string_view cell, bool& slash, bool& day, bool& month) const;

  private:
    std::shared_ptr<const ep::ScanSettings> settings_;
    ep::TimeSyntax syntax_;
};
// The zone note, when due.
void offset_notes(const OffsetNote& note, const ep::ProfileOptions& options,
                  std::vector<std::string>& out);
// The day/month order the export's own dates were read in (month first when none was).
bool export_day_first(const ep::ExportProfile& profile);

// Whether a text holds one of `words` as a word (letters and digits between other bytes), any
// case.
bool says_word(std::string_view text, std::span<const std::string_view> words);

void note_span(const Against& against, ep::ContextEvidence& e, bool must_cover);
void finish_tags(std::vector<std::string>& tags);
inline constexpr std::size_t kMaxMarks = 4096;

// ---- The kinds (lab.cpp, work_orders.cpp, batch_journal.cpp) ----------------------------------

// The time columns a kind's order evidence is read from.
std::vector<std::size_t> time_columns(const Columns& columns);
// One row (not blank) into the tally: the rules of each kind, row by row.
void lab_row(Tally& t, const Row& row, const Columns& c, const TimeReader& clock, char decimal);
void order_row(Tally& t, const Row& row, const Columns& c, const TimeReader& clock);
void batch_row(Tally& t, const Row& row, const Columns& c, const TimeReader& clock);
// The rows' tally as evidence against the export: the rules that need every row.
ep::ContextEvidence lab_evidence(Tally&& t, const Against& against);
ep::ContextEvidence order_evidence(Tally&& t, const Against& against);
ep::ContextEvidence batch_evidence(Tally&& t, const Against& against);

}  // namespace qorv_chemical_engineering_edge::context
