// Turning one tokenised record into counts.
#pragma once

#include <string>

#include "export/state.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

struct CellRef {
    const char* b;
    const char* e;
    bool quoted;
};

struct WideCell;

// True when a line after a line feed in `record` (all inside quotes) reads as a row: its
// timestamp cell parses. The mark of a stray quote's run, not of a multi-line note.
bool rows_inside(std::string_view record, const FileLayout& layout, const TimeSyntax& syntax);

// The options' time syntax under the timestamp format a file's values showed.
TimeSyntax file_syntax(const TimeSyntax& options, const FileLayout& layout) noexcept;

// Milliseconds written as their own cell: 0 to 999, digits only.
bool milliseconds_of(std::string_view text, std::int64_t& ms) noexcept;

class RecordProcessor {
  public:
    RecordProcessor(PartialProfile::State& state, std::uint32_t part);

    // `cells` holds the first n of the record's n_total cells; `length` is its byte length
    // without the line feed; `line` its 0-based line in the file part; `quoted_lf` the line
    // feeds inside its quotes.
    void process(CellRef* cells, std::size_t n, std::size_t n_total, std::size_t length,
                 std::uint64_t line, std::uint64_t quoted_lf);

    // Whether this file's wide rows may go the block classifier's way (plain_row): no quality
    // column, no missing sentinels, separators that cannot be read as part of a number. While
    // the window is looked for, only for a caller that hands plain_row the row's bytes (the
    // search reads its loops' PVs and SPs from them).
    bool plain_rows_allowed(bool row_bytes);
    // A wide row of exactly n_columns unquoted cells, all plain decimals but the `n` listed
    // (column order; the time cells among them or not). `time`, `time2` and `first` are its
    // time cells and its first cell; [row, row_end) its bytes up to the line feed, or null.
    // Counts as process would.
    void plain_row(const CellRef& time, const CellRef& time2, const CellRef& first,
                   const WideCell* cells, std::size_t n, std::uint64_t line,
                   const char* row = nullptr);
    // Adds the plain cells of the rows so far to their tags' totals.
    void flush_plain();

    // Signal health for a caller without row bytes (typed columns): plain_row leaves a plain
    // cell's value to the caller, who hands it to plain_value after the row, in column order,
    // when plain_row_taken() says the row was counted. Call before plain_rows_allowed.
    void values_by_caller() noexcept { values_by_caller_ = true; }
    bool plain_row_taken() const noexcept { return plain_taken_; }
    // A plain cell's value (finite) in column `col` of the row plain_row last took.
    void plain_value(std::uint32_t col, double v);
    // The same from its text, read as a plain cell of a text file would be.
    void plain_value(std::uint32_t col, std::string_view text);

    // Bytes up to here may be read past a cell's end (the scanned buffer's end).
    void set_read_limit(const char* limit) noexcept { limit_ = limit; }

  private:
    bool parse_time(const CellRef& cell, ParsedTime& pt);
    // The row's instant from its time column, or the two its layout joins.
    bool row_time(const CellRef& first, const CellRef& second, ParsedTime& pt);
    // A row whose time cell does not parse: a summary or row-count label under the data.
    bool footer_row(const CellRef& time, const CellRef& first, std::int64_t time_col);
    // Paired: each tag's time and value cells make one record, padding cells none.
    void process_paired(const CellRef* cells, std::size_t n, std::size_t n_total,
                        std::uint64_t line);
    // Unique and Moved (out of a spring gap) give an instant; Repeated, a wall time in an autumn
    // change's repeated hour, is resolved at the end; OutOfRange has no supported instant.
    enum class Instant : std::uint8_t { Unique, Moved, Repeated, OutOfRange };
    Instant instant(const ParsedTime& pt, std::int64_t& out, tz::WallResolution& repeated);
    // row_time, then instant: OutOfRange when the time does not parse.
    // Inlined into the row loop with note_instant: each call showed as 2 to 3% of a long scan.
    [[gnu::always_inline]] inline Instant row_instant(const CellRef& first, const CellRef& second,
                                                      ParsedTime& pt, std::int64_t& out,
                                                      tz::WallResolution& repeated);
    [[gnu::always_inline]] inline void note_instant(Instant kind, std::int64_t t,
                                                    const ParsedTime& pt,
                                                    const tz::WallResolution& rep,
                                                    std::uint64_t line, std::uint32_t stream,
                                                    FilePart& part, TimeAxis* tag_axis,
                                                    StreamEnds& ends);
    // Inlined into the row loop: the call cost was a tenth of the wide scan.
    [[gnu::always_inline]] inline void classify(TagStats& tag, const CellRef& cell,
                                                const CellRef* quality, TimeBins::Counts& bin);
    [[gnu::always_inline]] inline void count_number(TagStats& tag, std::string_view s,
                                                    const CellRef* quality, TimeBins::Counts& bin,
                                                    bool censored);
    [[gnu::noinline]] void classify_other(TagStats& tag, std::string_view s, const CellRef* quality,
                                          TimeBins::Counts& bin);
    [[gnu::always_inline]] inline QualityVerdict verdict(const CellRef* quality);
    // The bin counts of a row at t giving a tag at most `samples` samples; a scratch array once
    // the counts are dropped.
    [[gnu::always_inline]] inline TimeBins::Counts* bin_of_row(std::int64_t t,
                                                               std::uint32_t samples);
    static void note_part_time(FilePart& part, std::int64_t t);
    // A long record of every column whose time cell repeats the last one's text and whose tag is
    // the predicted one, counted as process counts it; false, nothing changed, for any other.
    [[gnu::always_inline]] inline bool long_row(const CellRef* cells, std::uint64_t line);
    // A wide row's cells when a normal-operation window is looked for: counted as the row loop
    // counts them, and the row's verdict kept (see baseline.hpp).
    void baseline_row(Instant kind, std::int64_t t, const tz::WallResolution& rep,
                      const CellRef* cells, std::size_t n, TimeBins::Counts* bin);
    // A long or paired record when the window is looked for: `cell` classified into `bin` (its
    // missing and bad-state counts before were `before`) goes to its instant's row.
    [[gnu::noinline]] void baseline_record(Instant kind, std::int64_t t,
                                           const tz::WallResolution& rep, std::uint32_t id,
                                           const CellRef& cell, const TimeBins::Counts& bin,
                                           std::uint64_t before);

    PartialProfile::State& st_;
    const ScanSettings& set_;
    std::uint32_t part_index_;
    const FileLayout& layout_;
    const std::vector<double>& sentinels_;
    const std::vector<std::string>& good_;
    QualityConvention convention_;
    char decimal_;
    TimeSyntax syntax_;  // the options' syntax under the format the file's values showed
    const char* limit_ = nullptr;
    IsoFastPath iso_;
    std::uint32_t predicted_ = 0xFFFFFFFFu;
    bool long_lean_ = false;  // long_row may take this file's records
    bool cache_valid_ = false;
    std::int64_t cache_lo_ = 0, cache_hi_ = 0, cache_offset_ = 0;
    std::string scratch_, quality_scratch_, name_scratch_, plain_scratch_, join_scratch_;
    // A long export gives one instant to the records of every tag in turn: the time cell read
    // last, and what it read as (same text, same instant, in any zone).
    struct LastTime {
        bool valid = false;
        std::string text;
        ParsedTime pt;
        Instant kind = Instant::OutOfRange;
        std::int64_t us = 0;
        tz::WallResolution repeated;
    } last_time_;
    // The last unquoted quality cell of 1 to 8 bytes (as cell_word reads it) and its verdict.
    struct LastQuality {
        std::uint64_t word = 0;
        std::size_t size = 0;
        QualityVerdict verdict = QualityVerdict::Good;
    } last_quality_;
    std::vector<TimeBins::Counts> dropped_;
    std::vector<std::int32_t> column_tag_;  // a wide column's tag index, -1 for none
    std::uint64_t plain_rows_ = 0;          // rows by plain_row not yet in the tag totals
    // values_by_caller: the last plain_row's instant and envelope bin, for plain_value.
    bool values_by_caller_ = false, plain_taken_ = false;
    std::int64_t plain_t_ = 0;
    TimeBins::Extent* plain_extents_ = nullptr;
    bool baseline_ = false;               // a window is looked for: each row leaves a verdict
    bool baseline_records_ = false;       // and this file's records make its rows
    BaselineTrack::NameOf name_of_;       // a tag's name, for baseline_record
    LoopPlan loops_;                      // this file's loops, when baseline_
    std::vector<unsigned char> missing_;  // baseline_row's scratch: per layout tag
    std::vector<std::optional<double>> pv_values_;  // and per loop
    // A plain row's PV and SP cells by slot (2 k, 2 k + 1): e null for a plain decimal.
    struct LoopCell {
        const char* b = nullptr;
        const char* e = nullptr;
        bool missing = false;
    };
    std::vector<LoopCell> loop_cells_;
    std::vector<unsigned char> member_;  // per layout tag: a loop member, when baseline_
    // The PV and SP columns in column order, for plain rows: column, then 2 k (+1 for the SP).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> loop_columns_;
    // A present cell's number as the search reads it (the exact rule, in one place).
    std::optional<double> loop_value(const CellRef& cell);
    std::optional<double> loop_cell_value(const LoopCell& cell);
    // The verdict of a row whose missing cells are counted and pv_values_ read; sp(k) reads loop
    // k's SP, only while the row may still qualify.
    template <class Sp>
    void baseline_verdict(Instant kind, std::int64_t t, const tz::WallResolution& rep,
                          std::size_t n_missing, bool member_missing, Sp&& sp);
    // plain_row's part while the window is looked for: the listed cells are classified.
    void plain_baseline(Instant kind, std::int64_t t, const tz::WallResolution& rep,
                        const char* row, const WideCell* cells, std::size_t n,
                        std::size_t n_missing, bool member_missing);
    // The bin of the last plain rows and how many are not yet in its plain-number counts: a
    // hundred-tag row's counting once a bin, not once a row (wide export, one thread: plain_row
    // from 6.9% of the CPU time to 2.6%).
    TimeBins::Counts* plain_bin_ = nullptr;
    std::uint64_t plain_bin_rows_ = 0;
    void flush_plain_bin();

    // A plain row's plain cells to their tags' health, at t (the listed ones are classify's).
    void plain_health(std::int64_t t, const char* row, const WideCell* cells, std::size_t n);
    // Signal health (set_.health): classify feeds a good number to health_, at health_t_ under
    // health_limits_, which each caller aims before it classifies a tag's cell; the value
    // also widens the tag's envelope in the bin of health_t_.
    TagHealth* health_ = nullptr;
    std::uint32_t health_id_ = 0;
    std::int64_t health_t_ = 0;
    const ValueLimits* health_limits_ = nullptr;
    void aim_health(std::uint32_t id, std::int64_t t, const ValueLimits& limits) {
        health_ = &st_.health[id];
        health_id_ = id;
        health_t_ = t;
        health_limits_ = &limits;
    }
    [[gnu::noinline]] void feed_health(std::string_view s, std::optional<double> v);
    // Wide and paired: per layout tag, the limits of the tag list's unit, else the file's.
    std::vector<ValueLimits> layout_limits_;
    // Long: per tag, the limits of the tag list's unit, else of the unit the record gives (the
    // last one looked up kept).
    struct TagLimits {
        bool looked = false, listed = false, valid = false;
        std::string unit;
        ValueLimits limits;
    };
    std::vector<TagLimits> tag_limits_;
    std::string health_scratch_;
    const ValueLimits& long_limits(std::uint32_t id, std::string_view unit);
};

}  // namespace qorv_chemical_engineering_edge::export_profile
