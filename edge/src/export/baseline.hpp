// The normal-operation window: what the scan keeps of each row, and the search over it.
//
// A row's verdict needs the loop tags of its file, the share of its cells missing and each loop's
// PV against its SP; the runs it makes need the modal step and the break spans, known only once
// the export is whole. So a piece keeps its rows' verdicts run-length coded beside their instants
// (as runs of equal steps, as the row axis is kept), and the runs are cut at finalisation: one
// entry per change of verdict, a regular stream's instants one run. A merge of consecutive pieces
// appends, so any split gives the verdicts and instants of one scan.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

// A loop member's base and suffix (finalize.cpp's rule for has_controllers).
std::optional<std::pair<std::string_view, std::string_view>> loop_member(std::string_view name);

// The loops among one file's tag names: the layout indexes of every loop member, and of each
// loop's PV and SP where it has both.
struct LoopPlan {
    std::vector<std::uint32_t> members;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pv_sp;
};
LoopPlan plan_loops(const std::vector<std::string>& tag_names);

// What one row gives the search.
enum class RowVerdict : std::uint8_t {
    Qualifies,
    Fails,    // a loop tag missing, over 5% of the cells missing, a PV off its SP by the SP
    Clock,    // a wall time in a clock change (repeated or skipped hour): breaks the run
    Pending,  // qualifies only if a PV's range turns out wide enough (SP near zero)
};

// Long and paired exports have no rows of their own: a row is a run of consecutive records of
// one instant (file order; a paired line's pairs left to right). A tag's first record in a row
// is the one judged; a later one at that instant counts for nothing here. What a row holds is
// judged only when it ends, and fully only at finalisation, when the export's tags and loops are
// known: each entry keeps how many tags were present and which loop-suffixed ones (see resolved).
struct RowTag {
    std::uint32_t tag = 0;
    bool present = false;  // not missing as the bins count it
    bool number = false;   // a PV or SP read as a number (value)
    double value = 0;
    friend bool operator==(const RowTag&, const RowTag&) = default;
};
struct OpenRow {
    bool any = false;
    bool clock = false;  // a wall time in a clock change
    std::int64_t t = 0;
    std::vector<RowTag> tags;  // in record order, one per tag
    friend bool operator==(const OpenRow&, const OpenRow&) = default;
};

struct BaselineTrack {
    // A PV off its SP by more than 5% of |SP| still qualifies where the SP is near zero: when the
    // PV's range over the export, R, is at least `need` = max(100 |SP|, 20 |PV - SP|).
    struct Need {
        std::uint32_t tag = 0;  // the PV's tag id
        double need = 0;
        friend bool operator==(const Need&, const Need&) = default;
    };
    struct Entry {
        std::uint64_t rows = 0;
        RowVerdict verdict = RowVerdict::Fails;
        std::vector<Need> needs;  // Pending only
        // Records rows that may qualify: the tags present, and the present tags with a loop
        // suffix (sorted ids), for the checks that need the whole export's tags.
        std::uint64_t present = 0;
        std::vector<std::uint32_t> loop_tags;
        friend bool operator==(const Entry&, const Entry&) = default;
    };
    struct Range {
        bool any = false;
        double lo = 0, hi = 0;
        friend bool operator==(const Range&, const Range&) = default;
    };
    std::vector<Entry> verdicts;       // rows in file order
    std::vector<std::int64_t> starts;  // instants as runs: start, step, count (flat triples)
    std::vector<Range> pv_range;       // by tag id; PVs only
    // Records rows (long, paired): the piece's first row, ended but kept out of `verdicts` since
    // it may continue the row a piece before left open, and the row open at its end. Rows in
    // order: head, then verdicts, then tail; verdicts only once head is set.
    bool records = false;
    OpenRow head, tail;

    // A tag's name by id, for its loop suffix.
    using NameOf = std::function<std::string_view(std::uint32_t)>;

    void add(std::int64_t t, RowVerdict verdict, std::vector<Need> needs);
    void add_instant(std::int64_t t);
    void note_pv(std::uint32_t tag, double v);
    // One record at t (a clock-change wall time: `clock`); a tag already in the open row at that
    // instant is dropped.
    void record(std::int64_t t, bool clock, const RowTag& tag, const NameOf& name_of);
    // Whether a record of this tag needs its value read (a PV or SP by name).
    bool wants_value(std::uint32_t tag, const NameOf& name_of) {
        return role(tag, name_of).kind >= kPv;
    }
    // Appends a later piece's rows; its tag ids through `remap`. A records track joins the open
    // row here to the later one's first row when both hold one instant.
    void append(BaselineTrack&& later, const std::vector<std::uint32_t>& remap,
                const NameOf& name_of = {});
    // A records track with head and tail ended and every row judged against the export's `n_tags`
    // tags and loop `members` (sorted ids): a track of plain verdicts, as a wide export's.
    BaselineTrack resolved(std::uint64_t n_tags, const std::vector<std::uint32_t>& members,
                           const NameOf& name_of) &&;
    std::uint64_t rows() const noexcept;
    friend bool operator==(const BaselineTrack&, const BaselineTrack&) = default;

  private:
    static constexpr std::uint8_t kNone = 0, kMember = 1, kPv = 2, kSp = 3, kUnknown = 0xFF;
    struct Role {
        std::uint8_t kind = kUnknown;
        std::uint32_t base = 0;  // the base's number (its spelling in any case)
    };
    // What scanning keeps to avoid work: roles by tag id, the open row's tags. Not state.
    struct Scratch {
        std::vector<Role> roles;
        std::unordered_map<std::string, std::uint32_t> bases;
        std::vector<std::uint64_t> seen;  // by tag id: the serial of the last row it was in
        std::uint64_t serial = 0;
        bool stamped = false;  // the tail's tags carry `serial` (false once a merge made it)
        // By base, while a row is judged: its first PV's and SP's place in the row.
        std::vector<std::uint64_t> pv_row, sp_row;
        std::vector<std::uint32_t> pv_at, sp_at;
        std::uint64_t judged = 0;
        Entry entry;  // the row being judged: its vectors' room kept from row to row
        friend bool operator==(const Scratch&, const Scratch&) { return true; }
    } scratch_;
    const Role& role(std::uint32_t tag, const NameOf& name_of) {
        if (tag < scratch_.roles.size() && scratch_.roles[tag].kind != kUnknown)
            return scratch_.roles[tag];
        return new_role(tag, name_of);
    }
    const Role& new_role(std::uint32_t tag, const NameOf& name_of);
    void add_entry(std::int64_t t, const Entry& e);
    // An ended row: the piece's head if it has none, else judged into verdicts.
    void end_row(OpenRow&& row, const NameOf& name_of);
    void commit(const OpenRow& row, const NameOf& name_of);
};

// The search over a finished track: runs of consecutive qualifying rows cut by a step of more
// than three modal steps, a step against the run's direction (a clock change), a clock-change
// row, and `breaks`; the longest run (by duration, then rows, then the earliest) of at least 100
// rows and 24 h, or the export's span when that is shorter. `span_lo`, `span_hi`: the export's
// first and last instant.
BaselineSuggestion find_baseline(const BaselineTrack& track, std::optional<std::int64_t> modal_step,
                                 std::int64_t span_lo, std::int64_t span_hi,
                                 std::vector<std::pair<std::int64_t, std::int64_t>> breaks);

}  // namespace qorv_chemical_engineering_edge::export_profile
