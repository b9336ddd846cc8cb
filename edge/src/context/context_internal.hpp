// What the context readers share: a context file read into rows under its header, the column
// roles of each kind, times read as the export reads them, and the export's span and tags.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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

// ---- The file (table.cpp) ---------------------------------------------------------------------

struct Row {
    std::uint64_t line = 0;  // 1-based physical line
    std::vector<std::string> cells;
    const std::string& cell(const std::vector<std::size_t>& columns) const;  // the first non-empty
};

struct Table {
    std::string file;
    std::string digest;
    std::uint64_t bytes = 0;
    std::vector<std::string> header;
    std::uint64_t header_line = 0;
    Columns columns;
    std::vector<Row> rows;  // under the header; blank rows left out
};

// Reads the file and finds its header among the first 64 records: the first that is no title
// line and fits a kind (the named one, else the kind whose columns it names most).
ep::Result<Table> read_table(const ContextFile& file, ep::Encoding encoding);
// The same over bytes at hand (the file's as read, inflated when .gz).
ep::Result<Table> table_of(std::string bytes, const ContextFile& file, ep::Encoding encoding);
// A table read as its kind against the export: the evidence without file, digest and bytes.
ep::Result<ep::ContextEvidence> evidence_of(const Table& table, const ep::ExportProfile& profile);

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

// Times read as the export's: the syntax and zone of its options, the day/month order given, else
// seen in the file's own slash dates, else the export's. Explicit offsets that differ from the
// zone's are counted for a note.
class TimeReader {
  public:
    // Decides the day/month order from the cells of `columns`; an error names the file and
    // day_first when the file holds both orders.
    static ep::Result<TimeReader> make(const Against& against, const Table& table,
                                       const std::vector<std::vector<std::size_t>>& time_columns);
    std::optional<std::int64_t> instant(std::string_view cell);
    void notes(std::vector<std::string>& out) const;  // the zone note, when due

  private:
    TimeReader() = default;
    std::shared_ptr<const ep::ScanSettings> settings_;
    ep::TimeSyntax syntax_;
    std::uint64_t offset_differs_ = 0;
    std::string first_differing_;
    std::int32_t written_offset_ = 0, zone_offset_ = 0;
};

// Reasons counted, for ContextEvidence::skipped.
struct Skips {
    std::map<std::string, std::uint64_t> counts;
    void add(std::string_view reason, std::uint64_t n = 1) {
        if (n) counts[std::string(reason)] += n;
    }
    std::vector<ep::TextCount> list() const;
};

// Whether a text holds one of `words` as a word (letters and digits between other bytes), any
// case.
bool says_word(std::string_view text, std::span<const std::string_view> words);

void note_span(const Against& against, ep::ContextEvidence& e, bool must_cover);
void finish_tags(std::vector<std::string>& tags);
inline constexpr std::size_t kMaxMarks = 4096;

// ---- The kinds (lab.cpp, work_orders.cpp, batch_journal.cpp) ----------------------------------

ep::Result<ep::ContextEvidence> read_lab(const Table& table, const Against& against);
ep::Result<ep::ContextEvidence> read_work_orders(const Table& table, const Against& against);
ep::Result<ep::ContextEvidence> read_batch_journal(const Table& table, const Against& against);

}  // namespace qorv_chemical_engineering_edge::context
