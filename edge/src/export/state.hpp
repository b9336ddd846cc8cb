// The scan state behind PartialProfile, and what scanning and merging share.
//
// Everything here is either a sum, a first-in-file-order value, or a list in file order, so a
// merge of consecutive pieces rebuilds exactly what one scan would have built. Positions (file,
// line) are relative to the piece and shifted when pieces merge.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "export/baseline.hpp"
#include "export/bins.hpp"
#include "export/cells.hpp"
#include "export/health.hpp"
#include "export/timestamps.hpp"
#include "export/tzif.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"
#include "qorv_chemical_engineering_edge/sha256.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

inline constexpr std::size_t kMaxRecordBytes = std::size_t{16} << 20;  // longer rows: unparsed
// A record with a line feed inside quotes and over this many bytes is taken for a stray quote's
// run, as is one where a line inside the quotes reads as a row (see note_quotes).
inline constexpr std::uint64_t kMaxQuotedRecordBytes = std::uint64_t{1} << 20;
// Until the layout is known, a run of more bytes than a row may hold with no delimiter and no
// line end is headerless data, not a cell: it bounds what a non-export costs (a .gz inflating
// far) without bounding the header, which may hold any number of cells.
inline constexpr std::size_t kMaxOpeningRun = kMaxRecordBytes;
inline constexpr std::string_view kNoDelimiterRun =
    "no delimiter or line end in 16 MiB before the first data row; not a text export";
// The longest run of bytes that are neither a delimiter candidate nor a line feed, counting the
// `run` bytes of one open before `bytes`; `run` is left as the run open at their end.
std::size_t longest_run(std::string_view bytes, std::size_t& run) noexcept;
inline constexpr std::size_t kMaxTexts = 1024;
inline constexpr std::size_t kMaxTextBytes = 64;
inline constexpr std::size_t kFirstRefs = 5;
inline constexpr std::size_t kMaxOtherUnits = 16;
inline constexpr std::size_t kClockCandidates = 16;
inline constexpr std::uint32_t kRowStream = 0xFFFFFFFFu;
inline constexpr std::int64_t kUsPerSecond = 1'000'000;
// Instants lie within +-kInstantLimit microseconds: far beyond any timestamp the parsers accept
// (about +-36,000 years), and the difference of two still fits in 64 bits.
inline constexpr std::int64_t kInstantLimit = std::int64_t{1} << 60;

// Instants in the order appended, as runs of equal steps: a regular stream costs one run.
struct TimeAxis {
    struct Run {
        std::int64_t start = 0;
        std::int64_t step = 0;
        std::uint64_t count = 0;
        friend bool operator==(const Run&, const Run&) = default;
    };
    std::vector<Run> runs;
    bool collapse_repeats = false;  // drop an instant equal to the one just appended

    // Inline for the common case, an instant one step on (or a repeat collapsed): two appends a
    // long record.
    [[gnu::always_inline]] void append(std::int64_t t) {
        if (!runs.empty()) {
            Run& r = runs.back();
            if (r.count >= 2) {
                const std::int64_t end = r.start + r.step * static_cast<std::int64_t>(r.count - 1);
                if (t - end == r.step && !(collapse_repeats && r.step == 0)) {
                    ++r.count;
                    return;
                }
                if (collapse_repeats && t == end) return;
            }
        }
        append_slow(t);
    }
    void append_axis(const TimeAxis& later);
    std::uint64_t size() const noexcept;
    std::int64_t last() const noexcept;
    // Every instant, sorted.
    std::vector<std::int64_t> sorted() const;

  private:
    void append_slow(std::int64_t t);

  public:
    friend bool operator==(const TimeAxis&, const TimeAxis&) = default;
};

// Steps between consecutive distinct instants of a sorted list; the modal step (ties: the
// smaller); regular when at least 95% of steps lie within 1% of it, both inclusive.
struct Sampling {
    std::uint64_t distinct = 0;
    std::uint64_t steps = 0;
    std::optional<std::int64_t> modal;
    bool regular = true;
    friend bool operator==(const Sampling&, const Sampling&) = default;
};
Sampling sampling(const std::vector<std::int64_t>& sorted);

// What finalize reads of an axis: its instants' count, sampling and span (lo, hi: 0 when empty).
struct AxisFacts {
    std::uint64_t size = 0;
    Sampling sampling;
    std::int64_t lo = 0, hi = 0;
    friend bool operator==(const AxisFacts&, const AxisFacts&) = default;
};
// From the runs when, each turned ascending and copies of one run set aside, they do not overlap
// (a file in time order or newest first, a long export by time or by tag); `from_runs` says so.
// Otherwise by axis_facts_expanded, the exact reference.
AxisFacts axis_facts(const TimeAxis& axis, bool* from_runs = nullptr);
AxisFacts axis_facts_expanded(const TimeAxis& axis);
// Whether `t` occurs at least twice in the axis.
bool axis_repeats(const TimeAxis& axis, std::int64_t t) noexcept;

struct LineRef {
    std::uint32_t file = 0;  // index into the piece's files
    std::uint64_t line = 0;  // 0-based physical line within the file (within the piece's part)
    friend bool operator==(const LineRef&, const LineRef&) = default;
};

// First and last instant of a stream in file order, for clock-change checks across pieces.
struct StreamEnds {
    bool any = false;
    std::int64_t first_us = 0;
    std::int64_t last_us = 0;
    LineRef first_at;
    LineRef last_at;
    friend bool operator==(const StreamEnds&, const StreamEnds&) = default;
};

struct TagStats {
    std::string name;
    std::uint64_t cells = 0;
    std::uint64_t numbers = 0;
    std::uint64_t empty = 0;
    std::uint64_t bad_state = 0;
    std::uint64_t text = 0;
    std::uint64_t text_bad_quality = 0;
    std::uint64_t sentinel = 0;
    std::uint64_t number_bad_quality = 0;
    std::string unit;                      // first non-empty unit the export gives
    std::vector<std::string> other_units;  // the other units seen, sorted; cleared on overflow
    bool other_units_overflow = false;     // more than kMaxOtherUnits other units
    TimeAxis axis;                         // long layout: this tag's instants
    StreamEnds ends;                       // long layout
    std::uint64_t uncertain = 0;           // numbers (censored ones too) of uncertain quality
    std::uint64_t text_uncertain = 0;      // other texts of uncertain quality
    std::uint64_t censored = 0;  // numbers written as censored values (<0.5, ND); in `numbers`
    friend bool operator==(const TagStats&, const TagStats&) = default;
};

// How a second time column joins the first: none, a clock time after a date ("2026-03-01" and
// "10:00:00"), or the milliseconds of the first column's second.
enum class TimeJoin : std::uint8_t { None, Clock, Milliseconds };

struct FileLayout {
    Layout layout = Layout::Wide;
    char delimiter = ',';
    std::uint64_t data_offset = 0;    // bytes before the first data row
    std::uint64_t data_line = 0;      // physical lines before it
    std::uint64_t first_row_end = 0;  // just past the line feed of the first timestamped row
    std::uint64_t n_columns = 0;
    std::uint64_t metadata_skipped = 0;
    std::uint64_t unnamed_columns = 0;
    bool first_row_fast_iso = false;  // the first data row's timestamp suits the fast path
    // Every layout: the time column (paired: the first tag's), the column joined to it, and
    // the timestamp format the values showed (Auto: the options' format).
    std::int32_t time_col = 0;
    std::int32_t time_col2 = -1;
    TimeJoin time_join = TimeJoin::None;
    TimestampFormat time_format = TimestampFormat::Auto;
    // wide and paired
    std::vector<std::string> tag_names;
    std::vector<std::uint32_t> tag_column;        // the value column
    std::vector<std::int32_t> quality_column;     // -1: none
    std::vector<std::string> unit_row;            // per tag; empty without a unit row
    std::vector<std::uint32_t> pair_time_column;  // paired: each tag's own time column
    std::uint64_t title_lines = 0;                // physical lines above the header
    // Per tag, a unit its header cell gives ("TAG [kg/h]") where the unit row gives none or
    // another; empty when no header cell gives one.
    std::vector<std::string> header_units;
    // long
    std::int32_t tag_col = -1, value_col = -1, quality_col = -1, unit_col = -1;
    // Further value columns (a text value beside the number, typed columns): a record's value is
    // the first non-empty cell of value_col and these.
    std::vector<std::int32_t> more_value_cols;
    std::vector<ReadingFact> facts;  // the conventions settled when the opening was read
    // How the quality columns read, given or decided from the opening rows (never Auto).
    QualityConvention quality_convention = QualityConvention::Text;
    friend bool operator==(const FileLayout&, const FileLayout&) = default;
};

// Sets the fact `name` (one of names::kReadingFacts) to `value`, replacing an earlier setting and
// keeping the table's order, so facts come out in one order whichever step settled them first.
void set_fact(std::vector<ReadingFact>& facts, std::string_view name, std::string value,
              Decided how);
// Whether a fact departs from how every export was read before it could vary (see kReadingFacts).
bool fact_sealed(const ReadingFact& fact) noexcept;
bool known_fact(std::string_view name) noexcept;
std::size_t fact_rank(std::string_view name) noexcept;  // its place in kReadingFacts

struct FilePart {
    std::string path;
    FileLayout layout;
    std::vector<std::uint32_t> tag_ids;  // wide: state tag index per layout tag
    std::uint32_t repeats = 1;           // wide: the most columns one tag has (from tag_ids)
    bool continues = false;              // the piece began inside this file, not at its start
    std::uint64_t bytes = 0;             // bytes scanned (as fed)
    std::uint64_t lines = 0;             // line feeds scanned
    std::uint64_t data_rows = 0;
    bool any_time = false;
    std::int64_t min_us = 0, max_us = 0;
    // Steps between consecutive instants of a stream within this file that rise or fall: the
    // file is read newest-first when more fall than rise.
    std::uint64_t rises = 0, falls = 0;
    std::vector<hashing::Sha256Digest> blocks;  // digests of the kDigestBlock blocks
    bool digest_complete = true;
    bool ends_mid_block = false;
    std::uint8_t encoding = 0;         // StreamEncoding, as the file's first bytes settled it
    std::uint64_t utf16_replaced = 0;  // U+FFFD put in decoding UTF-16
    friend bool operator==(const FilePart&, const FilePart&) = default;
};

// A row cut by a piece boundary: its bytes (dropped past kMaxRecordBytes) and length.
struct Fragment {
    std::string bytes;
    std::uint64_t length = 0;
    std::uint64_t line_feeds = 0;  // inside quotes
    void add(std::string_view b) {
        length += b.size();
        if (length <= kMaxRecordBytes)
            bytes.append(b);
        else
            bytes.clear();
    }
    friend bool operator==(const Fragment&, const Fragment&) = default;
};

// A wall time in the repeated hour of an autumn change, resolved when the stream is complete.
struct RepeatedWall {
    std::uint32_t file = 0;
    std::uint32_t stream = kRowStream;  // tag index (long) or the row stream (wide)
    std::uint64_t line = 0;
    std::int64_t wall_us = 0;
    std::int64_t first_us = 0;
    std::int64_t second_us = 0;
    std::int64_t window_s = 0;
    friend bool operator==(const RepeatedWall&, const RepeatedWall&) = default;
};

struct ClockCandidate {
    LineRef at;
    std::uint32_t stream = kRowStream;
    std::int64_t us = 0;
    friend bool operator==(const ClockCandidate&, const ClockCandidate&) = default;
};

// Slash dates (a/b/y) in the timestamp cells: what decides the day/month order. Counts and the
// first lines are sums and first-in-file-order values; the dates a set, so any split agrees.
inline constexpr std::size_t kMaxAmbiguousDates = 4096;
struct DateEvidence {
    std::uint64_t slash_rows = 0;
    std::uint64_t day_only = 0;    // first field above 12, second not: reads only day-first
    std::uint64_t month_only = 0;  // second field above 12, first not: reads only month-first
    std::uint64_t ambiguous = 0;   // both fields at most 12: reads either way
    std::optional<LineRef> first_day_only, first_month_only, first_ambiguous;
    // The distinct dates with both fields at most 12, as pack_date packs them, sorted.
    std::vector<std::uint32_t> dates;
    bool dates_overflow = false;  // more than kMaxAmbiguousDates; dates cleared
    void note(LineRef at, const ParsedTime& pt);
    void merge(const DateEvidence& later, const std::function<LineRef(LineRef)>& shift);
    friend bool operator==(const DateEvidence&, const DateEvidence&) = default;
};
constexpr std::uint32_t pack_date(unsigned year, unsigned first, unsigned second) noexcept {
    return (year << 8) | (first << 4) | second;
}

// The order clock-change candidates are kept in, and the first kClockCandidates of it kept.
inline bool by_position(const ClockCandidate& a, const ClockCandidate& b) {
    if (a.at.file != b.at.file) return a.at.file < b.at.file;
    if (a.at.line != b.at.line) return a.at.line < b.at.line;
    return a.stream != b.stream ? a.stream < b.stream : a.us < b.us;
}

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
        return std::hash<std::string_view>{}(s);
    }
};

// Options turned into what scanning needs; shared by every piece of one profile.
struct ScanSettings {
    ProfileOptions options;
    TimeSyntax syntax;
    // The day/month order is decided from the data: until then a slash date that reads in
    // either order marks a data row (the scan itself reads syntax.day_first's order).
    bool either_date_order = false;
    tz::Zone zone = tz::Zone::utc();
    bool zone_is_utc = true;
    std::string zone_error;  // non-empty: the zone could not be loaded
    // Every wide cell by the per-cell rules, none by the block classifier: what the classifier
    // is checked against. Set only by ExactCells.
    bool exact_cells = false;
    // options.health, and the tag list's units by trimmed tag name (they take precedence).
    bool health = false;
    std::unordered_map<std::string, std::string, StringHash, std::equal_to<>> listed_units;
};
std::shared_ptr<const ScanSettings> make_settings(const ProfileOptions& options);

// While one lives, settings made on this thread ask for the per-cell path (tests and fuzzing).
struct ExactCells {
    ExactCells() noexcept;
    ~ExactCells();
    ExactCells(const ExactCells&) = delete;
    ExactCells& operator=(const ExactCells&) = delete;
};

struct PartialProfile::State {
    std::shared_ptr<const ScanSettings> settings;
    bool used = false;  // false: the empty partial, the identity of merge

    bool head_open = false;  // a range piece whose first record began before it
    bool head_closed = false;
    Fragment head;
    Fragment tail;                // the unfinished last record
    std::uint64_t tail_line = 0;  // its line, in the last file part

    std::vector<FilePart> files;
    std::vector<TagStats> tags;
    // Names to ids; built when first needed (a long export's records, a merge of different
    // files), so that a wide piece, whose tags come from its header, does not keep one.
    std::unordered_map<std::string, std::uint32_t, StringHash, std::equal_to<>> tag_index;

    TimeAxis rows;  // wide: row instants; long: instants, repeats collapsed
    StreamEnds row_ends;
    std::uint64_t parsed_rows = 0;  // wide rows / long records with a parsed timestamp
    std::uint64_t unparsed_rows = 0;
    std::uint64_t blank_lines = 0;
    std::uint64_t footer_rows = 0;  // summary and row-count lines (their time cell says so)
    std::uint64_t ragged_rows = 0;
    std::uint64_t oversized_rows = 0;
    std::uint64_t gap_moved = 0;
    // A naive timestamp was resolved through a zone with offsets: only then do the zone's
    // transitions enter the seal (an export of UTC or offset times depends on no zone data).
    bool zone_walls = false;
    std::vector<LineRef> first_unparsed;
    std::array<std::uint64_t, kMaxBadStates> bad_state_counts{};
    std::map<std::string, std::uint64_t, std::less<>> texts;
    bool texts_overflow = false;
    std::vector<RepeatedWall> repeated;
    std::vector<ClockCandidate> clock;
    // Steps forward of at most an hour, at the row before the step with its instant: in a
    // newest-first file these are the clock changes (seen in time order, a step back).
    std::vector<ClockCandidate> clock_rises;
    DateEvidence dates;
    // profile_files scanned again in the order the dates decided: the options' order was not
    // given but detected. Never serialized: no partial leaves that path.
    bool date_order_detected = false;
    // Records holding a quoted field that runs long: the rows it swallowed are counted here, and
    // finalize refuses them unless the caller accepts multi-line fields.
    std::uint64_t multiline_fields = 0;
    std::uint64_t multiline_lines = 0;  // line feeds inside those records
    std::optional<LineRef> first_multiline;
    std::uint64_t first_multiline_lines = 0;
    TimeBins bins;           // availability; a repeated wall time counts at its first occurrence
    BaselineTrack baseline;  // wide rows' verdicts, kept only when a window is looked for
    // Per tag (settings->health): one per tag as tags are added; empty with health off.
    std::vector<TagHealth> health;

    std::uint32_t tag_id(std::string_view name);
    // The ids of a header's tag names, adding the new ones in order.
    std::vector<std::uint32_t> tag_ids(const std::vector<std::string>& names);
    void note_unit(TagStats& tag, std::string_view unit);
    void note_unparsed(LineRef at);
    // Every record ends here once: `quoted_lf` line feeds inside its quotes, `length` bytes,
    // `rows_inside` when a line inside its quotes reads as a row. A multi-line note reads as
    // text; a stray quote's run holds whole rows, or grows past kMaxQuotedRecordBytes.
    void note_quotes(LineRef at, std::uint64_t quoted_lf, std::uint64_t length, bool rows_inside) {
        if (quoted_lf == 0 || (!rows_inside && length <= kMaxQuotedRecordBytes)) return;
        ++multiline_fields;
        multiline_lines += quoted_lf;
        if (!first_multiline) {
            first_multiline = at;
            first_multiline_lines = quoted_lf;
        }
    }
    void note_text(std::string_view text);
    // `part` is the file part `at` lies in. Inline for a stream's usual step, a rise within the
    // hour once the first candidates are kept: every record of a long export (a call each was
    // about 2% of its scan).
    [[gnu::always_inline]] void note_clock(StreamEnds& ends, std::int64_t t, LineRef at,
                                           std::uint32_t stream, FilePart& part) {
        const std::int64_t back = ends.last_us - t;
        if (ends.any && back < 0 && back >= -kHourUs && ends.last_at.file == at.file &&
            clock_rises.size() >= kClockCandidates &&
            !by_position({ends.last_at, stream, ends.last_us}, clock_rises.back())) {
            ends.last_us = t;
            ends.last_at = at;
            ++part.rises;
            return;
        }
        note_clock_slow(ends, t, at, stream, part);
    }
    void note_clock_slow(StreamEnds& ends, std::int64_t t, LineRef at, std::uint32_t stream,
                         FilePart& part);
    static constexpr std::int64_t kHourUs = 3600 * kUsPerSecond;
};

// The day/month order of an export's slash dates, from the options or the evidence.
struct DateOrder {
    std::optional<bool> day_first;  // none: no slash date was read
    bool given = false;             // from the options
    bool by_default = false;        // every date read the same either way (a/a/y)
    std::optional<ProfileError> refusal;
};
DateOrder decide_date_order(const PartialProfile::State& state);

// The most times one id occurs (1 for none): a row gives a tag that many samples.
std::uint32_t most_repeated(std::vector<std::uint32_t> ids);

// Empty when every field agrees with every other as scanning and merging leave them (counts with
// lengths, indices with what they index, streams with their file's layout, instants in range);
// else what disagrees. Partials from elsewhere are checked before anything trusts them.
std::string check_state(const PartialProfile::State& state);

// Processes one complete record (no line feed) of `part` into `state`.
void process_record(PartialProfile::State& state, std::uint32_t part, std::string_view record,
                    std::uint64_t line);
// Closes the unfinished last record of the last file, as a file end does.
void close_tail(PartialProfile::State& state);

// A wait for more bytes: the opening is incomplete until `bytes` of the file are at hand.
struct NeedBytes {
    std::uint64_t bytes = 0;
};

// The outcome of a step that may need more bytes before it can say.
template <class T>
using Needing = std::variant<T, NeedBytes, ProfileError>;

// The first data rows of a file, read with its opening so that conventions which the header
// cannot settle (time columns, quality codes, date order, ...) are settled from values. Every
// reader of a file's opening (the plan, a resumed piece, a Dask task) waits for the same window,
// so every piece settles the same way.
inline constexpr std::size_t kSampleRows = 200;
inline constexpr std::size_t kSampleBytes = std::size_t{64} << 10;
struct SampleRow {
    std::uint64_t line = 0;          // 0-based physical line where the row starts
    std::vector<std::string> cells;  // unquoted and trimmed
};
// The window's bytes; its rows are split only when a convention asks for them, since every
// resumed piece reads the opening again.
struct OpeningSample {
    std::string_view bytes;  // from the first data row to the window's end
    std::uint64_t line = 0;  // the first data row's physical line
    char delimiter = ',';
    std::vector<SampleRow> rows() const;  // empty lines left out
};
// The window from `from` (the first data row, at physical line `line`): up to kSampleRows
// records, starting within kSampleBytes of `from`; absent when the bytes end short of that and
// more are to come.
std::optional<OpeningSample> sample_window(std::string_view bytes, std::size_t from,
                                           std::uint64_t line, char delimiter, bool at_end);
// Settles the conventions that need the sample's values; false with *error set to refuse.
bool settle_from_sample(FileLayout& layout, const std::vector<std::string>& header,
                        const OpeningSample& sample, const ScanSettings& settings,
                        std::string* error);

// Reads the header and metadata rows; NeedBytes when more bytes are needed (with at_end, never).
Needing<FileLayout> read_layout(std::string_view bytes, bool at_end, const ScanSettings& settings);

// One record's cells, for the rows read outside the hot loop (header, metadata, joined rows).
struct CellText {
    std::string_view text;  // raw, quotes included
    bool quoted = false;
};
std::vector<CellText> split_record(std::string_view record, char delimiter, std::string& scratch);

// Cell text with quoting removed ("a""b" -> a"b), trimmed.
std::string_view unquote(std::string_view cell, bool quoted, std::string& scratch);

// The opening's rules, shared with files read alike (context files): the delimiter sniffed from
// a header (the most frequent of , ; tab | outside quotes, ties in that order); the delimiter a
// `sep=X` line names (0: none); a title line (at most one text, in the first cell, or a first
// cell ending in ':'), never a header.
char header_delimiter(std::string_view header);
char sep_line_delimiter(std::string_view line);
bool is_title_line(const std::vector<std::string>& cells);

}  // namespace qorv_chemical_engineering_edge::export_profile
