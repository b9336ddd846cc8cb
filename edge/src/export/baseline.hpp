// The normal-operation window: what the scan keeps of each wide row, and the search over it.
//
// A row's verdict needs the loop tags of its file, the share of its cells missing and each loop's
// PV against its SP; the runs it makes need the modal step and the break spans, known only once
// the export is whole. So a piece keeps its rows' verdicts run-length coded beside their instants
// (as runs of equal steps, as the row axis is kept), and the runs are cut at finalisation: one
// entry per change of verdict, a regular stream's instants one run. A merge of consecutive pieces
// appends, so any split gives the verdicts and instants of one scan.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

    void add(std::int64_t t, RowVerdict verdict, std::vector<Need> needs);
    void add_instant(std::int64_t t);
    void note_pv(std::uint32_t tag, double v);
    // Appends a later piece's rows; its tag ids through `remap`.
    void append(BaselineTrack&& later, const std::vector<std::uint32_t>& remap);
    std::uint64_t rows() const noexcept;
    friend bool operator==(const BaselineTrack&, const BaselineTrack&) = default;
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
