// The export profiler: the readiness profile read from a historian export, in one streaming pass.
//
// `profile_files` reads one export (one file or an ordered list of files, gzip allowed when the
// build has zlib), scans pieces on all cores and finalises an `ExportProfile`: the thirteen
// readiness values with their provenance, per-tag evidence, notes, a digest of the input and a
// seal. Callers that already hold bytes feed an `ExportScanner` and merge the `PartialProfile`s
// themselves. Nothing here throws across the API: failures are `ProfileError` values naming the
// file and the reason. A partly bad file still gives a complete profile, with the bad parts
// counted in the notes.
//
// The rules (also in edge/EXPORT_PROFILE.md):
//  - Encoding (`encoding`): UTF-8, BOM allowed; UTF-16 LE/BE with its BOM (or given), decoded to
//    UTF-8 as a stream (one piece, one core; bytes and input digest over the UTF-8, so a UTF-16
//    save shares its UTF-8-with-BOM save's digest; unpaired surrogates and a lone last byte are
//    U+FFFD, counted); BOM-less UTF-16 refused naming `encoding`. Each text (tag name, unit, cell
//    text) is decided at finalize: not valid UTF-8 -> Windows-1252 (auto, counted), U+FFFD
//    (utf-8 given), always Windows-1252 (given). Every text handed out is valid UTF-8.
//  - Input: CSV; delimiter , ; tab or | (sniffed from the header: the most
//    frequent outside quotes, ties in that order); quoting by quote parity: every '"' toggles
//    quoting, so RFC 4180 fields read as written and any split of the bytes is resolved
//    exactly; LF or CRLF; the decimal separator is `decimal` and there are no thousands
//    separators. A NUL before the first line feed, or 16 MiB without a delimiter or line feed
//    before the first data row: not a text export (a header of any length is read). A quoted
//    field whose lines read as rows, or a record with a quoted line feed over 1 MiB, is a stray
//    quote's run: counted, and refused unless accept_multiline_fields.
//  - Layout (edge/EXPORT_PROFILE.md, Layouts and column roles, has the name lists): decided from
//    the header and the rows under it down to the first holding a number or a timestamp (every
//    piece of a file holds them), or given by `layout` and `timestamp_columns`. Long when the
//    header names a tag, a time and a value column (further value columns such as vValue or
//    intvalue/floatvalue/stringvalue: the first non-empty one is the value); optional quality and
//    unit. Paired when each tag's time column stands beside its value column (Time, TAG1, Time,
//    TAG2 / TAG1 Time, TAG1 Value / tag names over Time, Value): each group is a record of its tag,
//    profiled as long records are; empty padding groups are no samples. Otherwise wide: the time
//    column is the one holding timestamps wherever it stands (or a date and a clock-time column, or
//    a time and a milliseconds column), every other column a tag, except a column named as another
//    plus " quality" ".quality" "_quality" " status" ".status" "_status" (any case), which is that
//    tag's quality, and a leading row-number column. Epoch seconds or milliseconds (10 or 13
//    digits) in a time column are read as such unless `timestamp_format` is given. Refused, naming
//    the option that settles it: two columns holding timestamps; a header whose time cell is a
//    timestamp; a numeric format decoding a time column's small integers to its epoch's first year;
//    a column named as a row number holding integers among the tags.
//  - Opening: a first line `sep=X` names the delimiter. Title lines (one text in the first cell,
//    blank, `[Section]`, or a first cell ending in ':') are never the header. The header is the
//    first of the first 64 records that is no title line, has no timestamp cell, not only
//    numbers, no metadata label first, and as many cells as the first row under it (within 11)
//    whose timestamp cell parses; a rival such row between them decides by naming its time
//    column, else the export is refused naming `header_line` (1-based; given, it names the
//    header outright). Lines above the header are counted (title_lines_skipped).
//  - Metadata rows (wide): the rows between header and first data row (at most 10). The unit
//    row is the first labelled Unit(s), EU, Eng Unit(s), EngUnit(s), Engineering Unit(s),
//    Unit(s) of Measure or UOM (any case, spaces, '_', '-', '.', trailing ':') in its time cell
//    or first cell; else the row with an empty time cell whose tag cells mostly read as units
//    (second unit court); else the first such row. The others are skipped and counted, as are
//    all of a paired export's (its Time/Value row under the tag names aside).
//  - Header units (wide): `TAG [unit]`, `TAG (unit)`, `TAG - unit`, `TAG, unit` name the tag TAG
//    with that unit when the second unit court reads it (else the cell is the name). The unit
//    row wins; a header unit that differs is noted as a unit disagreement.
//  - Footer rows: a row whose timestamp cell does not parse and holds (or, empty, whose first
//    cell holds) a summary or row-count label (Min, Max, Average, Total, Count, Std Dev,
//    "(N rows affected)", "Rows: N", "[End]" ...) is counted in footer_rows, not as unparsed.
//  - Cells: a number is [sign] digits [decimal digits] [e|E [sign] digits] (digits on at least
//    one side of the separator), or as spreadsheets write one: in thousands groups the decimal
//    setting leaves unambiguous (1,234.5 with decimal '.', 1.234,5 with ','; groups of exactly
//    three), text-protected (="12.5"), with a leading +. Censored values (<0.5, >100, <LOD, ND,
//    n.d. ...) are present numbers, counted per tag. A tag is numeric when any of its cells is a
//    number. Missing: empty; a bad-state text (`bad_state_texts()`, system states included, any
//    case, any tag); any other text in a numeric tag; a number equal to a declared sentinel; a
//    bad quality under the file's QualityConvention (a declared good_quality list replaces it).
//    Each missing cell is counted once, under the first of those causes. Every other cell is
//    present; those of uncertain quality are counted per tag.
//  - Timestamps: see `TimestampFormat`. Slash dates in the day/month order of `day_first`;
//    unset, decided from every timestamp cell of the export: a first field above 12 in any row
//    settles day first, a second above 12 month first (both kinds: refused); with every date
//    ambiguous, the order whose distinct dates step by steady days where the other's do not,
//    unless the other steps by whole months and no date holds two rows; else refused naming
//    day_first. profile_files scans again when the data decide day first; a partial scanned in
//    the other order is refused at finalize. Naive times are wall times in `zone_name`
//    (default UTC), resolved through the system's TZif files or the caller's TZif bytes. A file
//    whose consecutive instants (per stream) fall more often than they rise is newest-first and
//    read in time order, i.e. from its last row. In the repeated hour of an autumn change, a
//    wall time is the first occurrence until, in time order (per tag in the long layout), a
//    wall time in that hour fails to rise above the highest one seen in it; from there on it is
//    the second. A wall time in a spring gap moves forward by the gap and is counted. In a zone
//    without daylight saving, a step back in time order of at most one hour onto an instant the
//    stream already holds is noted as a likely clock change. Supported instants are
//    0001-01-01T00:00:00Z..9999-12-31T23:59:59.999999Z; a timestamp outside them (or a number
//    that is no finite value) does not parse. Rows whose timestamp does not parse are excluded
//    and counted, with the first five line numbers kept; more than 5% of the data rows so is
//    refused unless accept_unparsed_rows.
//  - n_tags (derived): wide and paired, the tag columns (the union over files, by trimmed name);
//    long, the distinct tag names (a tag list's id column renames ids).
//  - n_rows (derived): wide, data rows with a parsed timestamp; long and paired, distinct
//    instants.
//  - missingness (derived): wide, missing cells / (rows x tags of each file); long and paired,
//    missing records / records with a parsed timestamp. NaN when nothing is counted.
//  - unit_coverage (derived): tags whose unit is non-empty and recognised by the second unit
//    court's parser (unit_consistency_v2::parse_unit) / n_tags (NaN with no tags). A tag's unit is
//    its non-empty tag-list unit (names matched after trimming), else the first non-empty unit the
//    export gives it; later different units are noted.
//  - duplicate_timestamps (derived): wide, rows whose instant repeats an earlier row's / rows;
//    long and paired, records whose (tag, instant) repeats / records. NaN when nothing is
//    counted.
//  - time_span_hours (derived): latest minus earliest instant, hours; NaN with no instant.
//  - sampling_regular (derived): over the steps between consecutive distinct instants in time
//    order, the modal step (ties: the smaller); a step is on the mode within 1% inclusive;
//    regular when >= 95% of steps are. Long and paired: per tag, and regular when >= 95% of
//    the tags with three or more distinct instants are. True (default) with fewer than two
//    steps, or no such tag.
//  - has_controllers (inferred): a base name carrying two or more of PV SP OP OUT MV MODE (any
//    case) after one of . _ - : / or a space; a parameter path's field (.CV .Value .F_CV) is
//    dropped first, so FIC1601/PID1/PV.CV is PV of FIC1601/PID1. Bases compare in any case. The
//    loops are listed in the notes.
//  - baseline_present: declared; else derived from a declared window holding >= 100 rows (as
//    n_rows counts them); else default false. license_cleared: declared, else default false.
//    has_maintenance, has_batches, has_lab_samples: declared, else derived from context files
//    (context.hpp) when given, else default false. Never inferred.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "qorv_chemical_engineering_edge/data_readiness.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

// ---- Errors as values ------------------------------------------------------------------------

struct ProfileError {
    std::string file;    // the file at fault; empty when no file is to blame
    std::string reason;  // one plain sentence
};

template <class T>
class Result {
  public:
    Result(T value) : v_(std::move(value)) {}
    Result(ProfileError error) : v_(std::move(error)) {}

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const ProfileError& error() const { return std::get<1>(v_); }

  private:
    std::variant<T, ProfileError> v_;
};

// ---- Options ---------------------------------------------------------------------------------

enum class Layout : std::uint8_t { Auto, Wide, Long, Paired };

// Auto recognises, per cell: ISO 8601 (date, 'T' or space, hh:mm[:ss[.fff]], optional Z or
// +-HH[:MM] / +-HHMM; a date alone is midnight), YYYY/MM/DD hh:mm[:ss], MM/DD/YYYY hh:mm[:ss]
// [AM|PM] (DD/MM/YYYY day first), DD.MM.YYYY hh:mm[:ss], DD-Mon-YYYY hh:mm:ss; in the last three
// a two-digit year is 2000-2068 for 00-68 and 1969-1999 for 69-99. The others
// are numbers: Excel serial days (naive, 1899-12-30 epoch), Unix seconds or milliseconds (UTC).
enum class TimestampFormat : std::uint8_t { Auto, ExcelSerial, UnixSeconds, UnixMilliseconds };

// Suggested: baseline_present from a normal-operation window the profiler found itself
// (BaselineSearch::Auto).
enum class Provenance : std::uint8_t { Derived, Inferred, Declared, Default, Suggested };

// How a quality column's cells read; Auto decides per file from the quality columns' names and
// the values under them (see edge/EXPORT_PROFILE.md, Cells). Text: good is empty, good, g, ok or
// 192, uncertain is uncertain, unc or u, any case; anything else bad. OpcDa: code & 0xC0 is 0xC0
// good, 0x40 uncertain, else bad. OpcHda: the low 16 bits read as OpcDa (the upper ones are
// history flags). OpcUa: a StatusCode's top two bits, 0 good, 01 uncertain, else bad. ZeroGood:
// 0 good, anything else bad (a SQL history view's Quality beside its OPC quality). Codes may be
// written as integers, floats with no fraction (192.0), hex (0x000400C0) or, for 32-bit codes,
// signed (-2147483648). A declared good_quality list replaces any convention.
enum class QualityConvention : std::uint8_t { Auto, Text, OpcDa, OpcHda, OpcUa, ZeroGood };

// How the export's bytes are read (see `ProfileOptions::encoding`).
enum class Encoding : std::uint8_t { Auto, Utf8, Windows1252, Utf16LE, Utf16BE, Utf16 };

std::string_view name(Layout layout) noexcept;                 // "auto", "wide", "long", "paired"
std::string_view name(TimestampFormat format) noexcept;        // "auto", "excel_serial", ...
std::string_view name(Provenance provenance) noexcept;         // "derived", "inferred", ...
std::string_view name(QualityConvention convention) noexcept;  // "auto", "text", "opc_da", ...
std::string_view name(Encoding encoding) noexcept;  // "auto", "utf-8", "windows-1252", ...

struct TagUnit {
    std::string tag;
    std::string unit;
    std::string id = {};  // the id an export may name the tag by (a tag table's id); empty: none
};

// What an export cannot show. An instant is microseconds since 1970-01-01T00:00:00Z.
struct DeclaredFields {
    std::optional<bool> baseline_present;
    std::optional<bool> license_cleared;
    std::optional<bool> has_maintenance;
    std::optional<bool> has_batches;
    std::optional<bool> has_lab_samples;
    std::optional<std::int64_t> baseline_start_us;  // the window, both ends inclusive
    std::optional<std::int64_t> baseline_end_us;
};

// Whether the profiler looks for a normal-operation window in the export (see "Normal-operation
// window" in edge/EXPORT_PROFILE.md). Off: not looked for, the scan's speed and every seal as
// ever. Suggest: found and shown (ExportProfile::baseline_suggestion), no value or seal changed.
// Auto: found, and it decides baseline_present (provenance Suggested) unless a window or the
// value is declared; the option and the window are sealed.
enum class BaselineSearch : std::uint8_t { Off, Suggest, Auto };

struct ProfileOptions {
    Layout layout = Layout::Auto;
    char delimiter = 0;  // 0: sniffed from the header
    char decimal = '.';  // '.' or ','
    // The order of a slash date's day and month (DD/MM vs MM/DD): none decides it from the
    // data (see "Timestamps" in edge/EXPORT_PROFILE.md), refusing where the data cannot.
    std::optional<bool> day_first;
    TimestampFormat timestamp_format = TimestampFormat::Auto;
    // The time column, or two whose texts make the instant (a date and a clock time, or a time
    // and its milliseconds), named as the header names them; empty: found from the header and
    // the values under it.
    std::vector<std::string> timestamp_columns;
    std::string zone_name = "UTC";  // IANA name, for naive timestamps
    std::string zone_tzif;          // TZif bytes; when set, used instead of zone_name's file
    std::vector<double> missing_sentinels;  // numbers that mean missing, e.g. -999
    std::vector<std::string> good_quality;  // empty: the default good list
    std::vector<TagUnit> tag_units;         // a tag list's units; they take precedence
    DeclaredFields declared;
    unsigned threads = 0;  // 0: every core
    // Read a quoted field whose lines read as rows (their timestamp cell parses), or one with a
    // line feed in a record over 1 MiB, as one cell (counted in the notes). Off: such an export
    // is refused, for that is how a stray quote swallows the rows up to the next quote.
    // Multi-line notes of text are read either way.
    bool accept_multiline_fields = false;
    // Profile an export whose rows without a parsed timestamp are more than 5% of its data rows
    // (counted in the notes). Off: such an export is refused, naming its first unparsed lines.
    bool accept_unparsed_rows = false;
    QualityConvention quality_convention = QualityConvention::Auto;
    // The 1-based physical line of the header; 0: found by the rule under Header, title block.
    std::uint32_t header_line = 0;
    // Auto: UTF-16 when the file starts with its byte-order mark, else UTF-8, with a text (tag
    // name, unit, header or cell text) that is not valid UTF-8 read as Windows-1252. Given, it
    // wins: Utf8 keeps U+FFFD for invalid bytes, Windows1252 decodes every text so, Utf16LE and
    // Utf16BE read a file with or without a mark, Utf16 takes the order from the mark (else from
    // where the NULs of ASCII text fall, else little-endian). Tag lists are read alike.
    Encoding encoding = Encoding::Auto;
    BaselineSearch baseline_search = BaselineSearch::Off;
    // Spans (UTC microseconds, both ends inclusive) that break a normal-operation run: work
    // orders, batch starts and ends. Read only when baseline_search is not Off.
    std::vector<std::pair<std::int64_t, std::int64_t>> baseline_breaks;
    // Signal health per tag (see "Signal health" in edge/EXPORT_PROFILE.md): statistics, frozen
    // runs, interpolated samples and values the unit rules out, sealed. Off: none of them, the
    // scan's speed and every seal as before they existed.
    bool health = true;
};

// The bad-state texts, compared in any case after trimming.
std::span<const std::string_view> bad_state_texts() noexcept;

// Reads a tag list (CSV with a tag column and a unit column, names as in the long layout; a
// column `id`, `tagid` or `tag_id` gives the id an export's records may name the tag by).
// Read as exports are under `encoding` (UTF-16 decoded; texts that are not valid UTF-8 decoded as
// Windows-1252 under auto): the names, ids and units come out valid UTF-8.
Result<std::vector<TagUnit>> parse_tag_list(std::string_view bytes, std::string_view file,
                                            Encoding encoding = Encoding::Auto);

// A tag list given as pairs, read as a tag list's rows are: tag and unit trimmed of spaces and
// tabs, pairs without a tag dropped.
std::vector<TagUnit> tag_units_of(std::vector<TagUnit> given);

// ---- The profile ---------------------------------------------------------------------------

template <class T>
struct ProfileField {
    T value{};
    Provenance provenance = Provenance::Default;
};

struct TagEvidence {
    std::string name;
    std::string unit;  // the unit used (tag list first); empty when none
    bool unit_recognised = false;
    std::string dimension;      // dimension tag of a recognised unit, e.g. "ML^-1T^-2"
    bool numeric = false;       // holds at least one number
    std::uint64_t samples = 0;  // wide: rows x 1 of each file holding it; long: records
    std::uint64_t present = 0;
    std::uint64_t missing_empty = 0;
    std::uint64_t missing_bad_state = 0;
    std::uint64_t missing_text = 0;  // other text in a numeric tag
    std::uint64_t missing_sentinel = 0;
    std::uint64_t missing_quality = 0;
    std::optional<std::int64_t> first_us;  // earliest instant (long: of this tag)
    std::optional<std::int64_t> last_us;
    std::optional<std::int64_t> modal_step_us;  // long only; wide tags share the row axis
    bool regular = true;
    std::uint64_t uncertain = 0;  // present samples whose quality is uncertain
    std::uint64_t censored = 0;   // present samples written as censored (<0.5, >100, ND ...)
    // Signal health (ProfileOptions::health; rules in "Signal health", edge/EXPORT_PROFILE.md),
    // over the finite numbers counted present and not censored. NaN, 0, false or empty with
    // health off or without such a number.
    std::uint64_t numeric_samples = 0;
    double min = kNoValue, max = kNoValue, mean = kNoValue;
    double std = kNoValue;  // sample standard deviation (n - 1); NaN below 2 samples
    double first_value = kNoValue, last_value = kNoValue;  // in the export's order
    double modal_step_seconds = kNoValue;  // between the tag's samples, every layout
    bool constant = false;                 // at least 2 samples, min == max
    bool state_tag = false;  // a loop's SP or MODE, or at most 8 distinct whole values
    double frozen_longest_seconds = kNoValue;  // the longest run of identical values
    std::uint64_t frozen_longest_samples = 0;
    double frozen_share = kNoValue;        // of the tag's span, in runs of >= 2 h and >= 50 samples
    double interpolated_share = kNoValue;  // of the samples judged against their neighbours
    std::uint64_t interpolated_judged = 0;
    bool compressed = false;   // long and paired: irregular steps spread like a deadband
    std::string value_limits;  // the unit's limit kind ("" when it sets none)
    std::uint64_t impossible_values = 0;
    std::uint64_t suspicious_values = 0;
    std::vector<std::int64_t> first_impossible_us;  // at most five, in the export's order
    std::vector<std::int64_t> first_suspicious_us;
    static constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();
};

struct TextCount {
    std::string text;
    std::uint64_t count = 0;
};

struct RowRef {
    std::string file;
    std::uint64_t line = 0;  // 1-based physical line where the row starts
};

struct ClockChangeNote {
    std::string file;
    std::uint64_t line = 0;
    std::int64_t at_us = 0;  // the instant stepped back to
};

struct UnitDisagreement {
    std::string tag;
    std::string unit;   // the unit kept
    std::string other;  // a later, different unit
};

struct ControlLoop {
    std::string base;
    std::vector<std::string> suffixes;  // upper case, sorted
};

struct ProfileNotes {
    std::vector<TextCount> unknown_units;    // unit text -> tags carrying it
    std::vector<TextCount> bad_state_texts;  // canonical text -> cells
    std::vector<TextCount> other_texts;      // any other text -> cells; see other_texts_complete
    bool other_texts_complete = true;        // false when more than 1024 distinct texts were seen
    std::uint64_t metadata_rows_skipped = 0;
    std::uint64_t unparsed_rows = 0;
    std::vector<RowRef> first_unparsed_rows;  // at most five
    std::vector<ClockChangeNote> clock_changes;
    std::uint64_t nonexistent_times_moved = 0;  // spring gap
    std::uint64_t repeated_hour_second = 0;     // autumn, resolved to the second occurrence
    std::vector<UnitDisagreement> unit_disagreements;
    std::vector<ControlLoop> loops;
    std::uint64_t blank_lines = 0;      // empty lines, skipped
    std::uint64_t ragged_rows = 0;      // rows with more or fewer cells than the header
    std::uint64_t oversized_rows = 0;   // rows over 16 MiB, counted as unparsed
    std::uint64_t unnamed_columns = 0;  // wide columns with an empty header cell, not tags
    bool input_digest_complete = true;  // false when ranges were not cut at kDigestBlock
    // Quoted fields running long (see accept_multiline_fields): how many, the line feeds inside
    // them (lines not read as rows), and the first one's row with its line feeds.
    std::uint64_t multiline_fields = 0;
    std::uint64_t multiline_field_lines = 0;
    std::optional<RowRef> first_multiline_field;
    std::uint64_t first_multiline_field_lines = 0;
    // Present samples whose quality is uncertain, and those written as censored values: the
    // sums of the tags' counts.
    std::uint64_t uncertain_samples = 0;
    std::uint64_t censored_samples = 0;
    std::uint64_t title_lines_skipped = 0;  // lines above the header (title block, sep=, [Data])
    std::uint64_t footer_rows = 0;          // summary rows (Min, Average ...) and row counts
    // Distinct texts (tag names, units, cell texts) read as Windows-1252 because they were not
    // valid UTF-8 (auto), or because that encoding was given (those with a byte above 0x7F).
    std::uint64_t windows_1252_texts = 0;
    // U+FFFD put in while decoding UTF-16: unpaired surrogates and a lone last byte.
    std::uint64_t utf16_replacements = 0;
    // Signal health, tag names sorted: frozen (never a constant or state tag), interpolated or
    // compressed, and holding values their unit rules out.
    std::vector<std::string> frozen_tags;
    std::vector<std::string> interpolated_tags;
    std::vector<std::string> impossible_value_tags;
};

// How a convention of the reading was settled: seen in the file, set by an option, or the
// reader's default where the file gave no evidence either way.
enum class Decided : std::uint8_t { Detected, Given, Default };
std::string_view name(Decided decided) noexcept;  // "detected", "given", "default"

// One convention the reader chose for a file (its layout, encoding, time columns, ...), named
// from `names::kReadingFacts`, with the value chosen and how. The profile states every one, so a
// reader of the profile can tell a number read right from one read under a wrong assumption.
struct ReadingFact {
    std::string name;
    std::string value;
    Decided how = Decided::Default;
    friend bool operator==(const ReadingFact&, const ReadingFact&) = default;
};

struct FileSummary {
    std::string path;
    std::uint64_t bytes = 0;  // bytes scanned (decompressed, for .gz)
    std::string layout;       // "wide", "long" or "paired"
    char delimiter = ',';
    std::uint64_t data_rows = 0;       // rows (wide) or records (long) with a parsed timestamp
    std::vector<ReadingFact> reading;  // in the order of names::kReadingFacts
};

// Per tag and time bin, what became of its samples, counted during the scan: the data behind an
// availability chart, so that a report need not read the export again. Not part of the seal.
// Bin i covers [start_us + i*bin_us, start_us + (i+1)*bin_us); bin_us is a power-of-two number
// of milliseconds and bins are aligned to whole multiples of it since the epoch. At most 128
// bins, fewer when there are many tags (about 2^19 tag-bins in all, at least two per tag). A
// repeated wall time of an autumn change is binned at its first occurrence.
struct AvailabilityBins {
    std::int64_t start_us = 0;
    std::int64_t bin_us = 0;
    std::uint64_t bins = 0;           // 0: no timestamped row
    std::vector<std::uint64_t> rows;  // timestamped rows (wide) or records (long) per bin
    // [tag][bin][present, missing other than bad-state, bad-state], counted as TagEvidence counts
    // them; empty when `complete` is false.
    std::vector<std::uint32_t> counts;
    // [tag][bin]: the least and greatest numeric value there (NaN where none); empty unless
    // signal health was on and `complete` is true.
    std::vector<double> low, high;
    std::optional<std::int64_t> row_step_us;  // modal step between distinct row instants
    bool complete = true;  // false: a tag could pass 2^32-1 samples in a bin; counts dropped
};

// The availability grid a report draws, from a profile's bins and per-tag evidence alone. A
// bucket is an aligned group of 2^k bins, as few as keep the buckets within the number asked for.
// A bucket's denominator (`expected`) is the tag's samples there, or more when its step puts more
// instants of a regular grid (from its first to its last instant) in the bucket, so that rows
// absent altogether (an outage) count as missing; 0 where no row falls in the bucket (long
// layout: no record of the tag), which has no share. With `max_tags`, the tags with the smallest
// share of present samples over their whole span, in profile order.
struct AvailabilityGridInput {
    std::int64_t start_us = 0;
    std::int64_t bin_us = 0;
    std::uint64_t bins = 0;
    std::span<const std::uint64_t> rows;    // [bin]
    std::span<const std::uint32_t> counts;  // [tag][bin][present, missing, bad-state]
    // Per tag: first and last instant, the step of its grid (the rows' modal step when wide, the
    // tag's own when long); INT64_MIN where there is none.
    std::span<const std::int64_t> first, last, step;
    std::span<const std::uint64_t> samples, present;  // per tag, as TagEvidence counts them
    std::span<const double> low, high;  // [tag][bin], as AvailabilityBins; empty: no envelope
    bool wide = true;
};

struct AvailabilityGrid {
    std::vector<std::size_t> tags;  // indexes of the tags drawn, in profile order
    std::int64_t start_us = 0;
    std::int64_t bucket_us = 0;
    std::size_t buckets = 0;
    std::vector<std::uint64_t> present, expected, bad_state;  // [drawn tag][bucket]
    std::vector<std::uint64_t> rows;                          // [bucket]
    // [drawn tag][bucket]: the least and greatest value in the bucket's bins (NaN where none);
    // empty when the input has no envelope.
    std::vector<double> low, high;
};

// `buckets` >= 1 and `in` consistent (spans sized by bins and tags), as the caller checks.
AvailabilityGrid availability_grid(const AvailabilityGridInput& in, std::size_t buckets,
                                   std::optional<std::size_t> max_tags);
// The same grid for the tags named, in the order given (each below the input's tag count).
AvailabilityGrid availability_grid(const AvailabilityGridInput& in, std::size_t buckets,
                                   std::vector<std::size_t> tags);

// A run of consecutive qualifying rows: its first and last instant and its rows.
struct BaselineWindow {
    std::int64_t start_us = 0;
    std::int64_t end_us = 0;
    std::uint64_t rows = 0;
    friend bool operator==(const BaselineWindow&, const BaselineWindow&) = default;
};

// The normal-operation window found in the export, or why none was.
struct BaselineTrack;  // the rows a window is searched over (internal)

struct BaselineSuggestion {
    std::optional<BaselineWindow> window;    // none: no run holds 100 rows over the span asked
    std::string why;                         // why this window, or why none
    std::vector<BaselineWindow> runners_up;  // the next best runs that qualify too, at most 5
    std::uint64_t qualifying_runs = 0;       // runs that meet the minimums, the window included
    std::uint64_t qualifying_rows = 0;       // rows that qualify, in any run
    bool short_export = false;         // the export spans under 24 h: the run had to span all of it
    std::int64_t min_duration_us = 0;  // the span a run needed
    friend bool operator==(const BaselineSuggestion&, const BaselineSuggestion&) = default;
};

// What one context file (a lab sample export, a maintenance log's work orders, a batch event
// journal) showed against the export; see context.hpp for how it is read. Sealed with the
// profile when present.
struct ContextEvidence {
    std::string kind;         // "lab", "maintenance" or "batches"
    std::string file;         // as given
    std::string digest;       // hex, as an export file is digested (1 MiB blocks of the bytes read)
    std::uint64_t bytes = 0;  // read (inflated, for .gz)
    std::uint64_t records = 0;  // data rows read under the header
    // Its items (valid samples, orders, closed batches) inside the export's span and outside;
    // open batches are neither.
    std::uint64_t inside = 0, outside = 0;
    std::uint64_t censored = 0;      // lab: results written as censored values (<0.5, ND ...)
    std::uint64_t open = 0;          // batches without an end event of their own
    std::vector<TextCount> skipped;  // reason -> rows or samples, as the reason says
    std::vector<std::string> tags;   // the export's tags it names, sorted
    std::optional<std::int64_t> first_us, last_us;  // its own span: every time written in it
    std::vector<std::string> notes;
    // Where a normal-operation run must break: each work order's [start, finish or log end], a
    // batch's start [t, t] and end [t, t]; closed intervals, UTC microseconds. Not sealed: the
    // digest covers what they come from.
    std::vector<std::pair<std::int64_t, std::int64_t>> breaks;
    // What a report draws over the time axis: a lab sample's instant as [t, t], an order's or a
    // closed batch's [start, end], an open batch's [start, start]. At most 4096, not sealed.
    std::vector<std::pair<std::int64_t, std::int64_t>> marks;
};

struct ExportProfile {
    static constexpr std::string_view kSchema = "export_profile_v2";

    ProfileField<std::uint64_t> n_tags;
    ProfileField<std::uint64_t> n_rows;
    ProfileField<bool> baseline_present;
    ProfileField<bool> license_cleared;
    ProfileField<double> missingness;
    ProfileField<double> unit_coverage;
    ProfileField<double> duplicate_timestamps;
    ProfileField<double> time_span_hours;
    ProfileField<bool> sampling_regular;
    ProfileField<bool> has_controllers;
    ProfileField<bool> has_maintenance;
    ProfileField<bool> has_batches;
    ProfileField<bool> has_lab_samples;

    std::string layout;  // "wide", "long" or "paired"
    std::vector<TagEvidence> tags;
    ProfileNotes notes;
    std::vector<FileSummary> files;
    std::string input_digest;     // hex: SHA-256 over the files' digests, each the SHA-256 over
                                  // the SHA-256 digests of its consecutive 1 MiB blocks
    ProfileOptions options;       // as given
    std::string unit_vocabulary;  // names the unit recogniser; part of the seal
    // hex, through the canonical hasher under kSchema. The zone enters by its name and the
    // offsets and transitions around the instants its wall times resolved to, never by the
    // TZif bytes, so that another copy or version of the zone data gives the same seal.
    std::string seal;

    AvailabilityBins availability;  // not sealed
    // One entry per context file read against the export (context::attach); sealed when any.
    std::vector<ContextEvidence> context;
    // The first and last instant the zone was sealed around (naive times resolved through it);
    // kept so that context attached later reseals as finalize sealed. Not sealed itself.
    std::optional<std::pair<std::int64_t, std::int64_t>> zone_walls;

    // Present when options.baseline_search is not Off; sealed only under Auto.
    std::optional<BaselineSuggestion> baseline_suggestion;
    // What the window was found from, kept so that context files read after the scan can cut
    // its runs at their work orders and batch events (context::attach). Not sealed.
    struct BaselineInputs {
        std::shared_ptr<const BaselineTrack> track;
        std::optional<std::int64_t> modal_step;
        std::int64_t span_lo = 0, span_hi = 0;
    };
    std::optional<BaselineInputs> baseline_inputs;

    data_readiness::ReadinessProfile readiness() const;
};

// Renders an instant as "YYYY-MM-DDThh:mm:ss[.ffffff]Z".
std::string format_instant(std::int64_t us);

// The instant (microseconds since 1970 UTC) of a wall time in a zone, resolved as the scan
// resolves naive timestamps, with the zone given as in ProfileOptions (TZif bytes when not
// empty, else the name looked up); the earlier instant of a repeated hour, a time in a gap
// moved forward. An error names the zone, or the wall time when it lies outside 0001..9999.
Result<std::int64_t> zone_instant(std::int64_t wall_us, std::string_view zone_name,
                                  std::string_view zone_tzif);

// Why a text is not a zone name (at most 255 bytes of non-empty parts joined by '/', none "."
// or "..", none starting with '-', of ASCII letters, digits and . _ + -); empty when it is
// one. Checked before any zone file is looked up.
std::string_view zone_name_fault(std::string_view name) noexcept;

// ---- Streaming ------------------------------------------------------------------------------

// The mergeable scan state. `merge` is associative: merging the partials of consecutive pieces
// of a stream, or of consecutive files, in order, gives the partial of one scan of the whole.
class PartialProfile {
  public:
    PartialProfile();
    ~PartialProfile();
    PartialProfile(PartialProfile&&) noexcept;
    PartialProfile& operator=(PartialProfile&&) noexcept;
    PartialProfile(const PartialProfile& other);
    PartialProfile& operator=(const PartialProfile& other);

    // this := this followed by `later`. Pieces must be merged in stream order.
    void merge(PartialProfile&& later);
    // Finishes the profile under the options the pieces were scanned with, which travel in the
    // partial, and the fields the caller declares. The rvalue form finalises in place instead of
    // copying the scan state first.
    Result<ExportProfile> finalize(const DeclaredFields& declared) const&;
    Result<ExportProfile> finalize(const DeclaredFields& declared) &&;

    // A compact versioned binary form; `deserialize` checks the schema text, the version and
    // every length, and gives an error value on corrupt input.
    std::string serialize() const;
    static Result<PartialProfile> deserialize(std::string_view bytes);

    friend bool operator==(const PartialProfile& a, const PartialProfile& b);

    struct State;
    State& state() noexcept { return *s_; }
    const State& state() const noexcept { return *s_; }

  private:
    std::unique_ptr<State> s_;
};

// Memory: per tag, a partial holds about 300 bytes plus the name (twice when longer than 15
// bytes); its index from names to tags (about 80 bytes a tag) is built only for long exports
// and merges of differently ordered files. See edge/EXPORT_PROFILE.md, Memory.
//
// Scans one file's bytes. From the first byte (the default) it reads the header itself. For a
// byte range of a file (a Dask task, a thread), `resume_at` takes the file's opening bytes (the
// header, metadata rows and the opening sample: 200 rows or 64 KiB from the first data row, or
// the whole file when it is shorter, as the file plan reads it), the range's offset (after that
// first data row) and whether the offset lies inside a quoted field (the parity of the quotes
// before it); the partial keeps the rows cut at each end of the range so that merging the ranges in
// order rejoins them exactly. The input digest (SHA-256 over the digests of the file's kDigestBlock
// blocks) is complete when ranges start at multiples of kDigestBlock. A first range that may end
// inside the opening sample takes the same opening bytes, so that it settles the conventions from
// the whole sample, as the ranges after it do, and not from the rows it holds.
class ExportScanner {
  public:
    static constexpr std::size_t kDigestBlock = std::size_t{1} << 20;

    ExportScanner(const ProfileOptions& options, std::string file);
    ExportScanner(const ProfileOptions& options, std::string file, std::string_view opening_bytes);
    static Result<ExportScanner> resume_at(const ProfileOptions& options, std::string file,
                                           std::string_view opening_bytes, std::uint64_t offset,
                                           bool inside_quotes);
    ~ExportScanner();
    ExportScanner(ExportScanner&&) noexcept;
    ExportScanner& operator=(ExportScanner&&) noexcept;

    void feed(std::span<const char> bytes);
    // True once the bytes fed show the stream is no export (finish gives the error): the
    // caller may stop reading, as profile_files does for a compressed stream.
    bool failed() const noexcept;
    // The partial of everything fed; an error when the stream is not an export.
    Result<PartialProfile> finish();

    struct Impl;

    // The scan state once the layout is read and every record fed is processed (null before),
    // and the 0-based line the next record starts on: a table's typed rows go on from there.
    friend PartialProfile::State* opened_state(ExportScanner& scanner, std::uint64_t& next_line);

  private:
    std::unique_ptr<Impl> impl_;
};

// ---- Files ----------------------------------------------------------------------------------

// Called on the calling thread, now and then and once at the end.
using Progress = std::function<void(std::uint64_t bytes_done, std::uint64_t bytes_total)>;

// Asked on the calling thread after each progress report and at least every 50 ms while the
// workers scan. True stops the scan: the workers leave within one 1 MiB block and
// profile_files returns the error kCancelled, with nothing of the profile kept.
using Cancelled = std::function<bool()>;
inline constexpr std::string_view kCancelled = "the scan was cancelled";

Result<ExportProfile> profile_files(std::span<const std::string> paths,
                                    const ProfileOptions& options, const Progress& progress = {},
                                    const Cancelled& cancelled = {});

// True when the build reads .gz files itself.
bool has_gzip_support() noexcept;
// What inflates them in this process: "isa-l" (built in and installed), "zlib", or "" without
// gzip support. The bytes read, and so every profile, are the same whichever it is.
const char* gzip_inflater() noexcept;

}  // namespace qorv_chemical_engineering_edge::export_profile
