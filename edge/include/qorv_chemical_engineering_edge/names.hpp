// The names the library's texts are made of, in one table: courts and schemas, the profiler's
// option choices, the thirteen readiness fields and the declared ones. The enum `name()`
// functions read it, and callers above the core (the Python package, the command line) take
// their choices and labels from it instead of writing them out again, so a name changes in one
// place.
#pragma once

#include <array>
#include <string_view>

#include "qorv_chemical_engineering_edge/data_readiness.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"

namespace qorv_chemical_engineering_edge::names {

// The thirteen profile values, in the order grading takes them (ReadinessProfile's members).
inline constexpr std::array<std::string_view, data_readiness::kReadinessDimensions>
    kReadinessFields{
        "n_tags",           "n_rows",          "baseline_present",     "license_cleared",
        "missingness",      "unit_coverage",   "duplicate_timestamps", "time_span_hours",
        "sampling_regular", "has_controllers", "has_maintenance",      "has_batches",
        "has_lab_samples"};

// What an export cannot show, in DeclaredFields' order. A declared field is a bool or absent.
inline constexpr std::array<std::string_view, 5> kDeclaredFields{
    "baseline_present", "license_cleared", "has_maintenance", "has_batches", "has_lab_samples"};

// Indexed by export_profile::Layout, TimestampFormat and Provenance.
inline constexpr std::array<std::string_view, 4> kLayouts{"auto", "wide", "long", "paired"};
inline constexpr std::array<std::string_view, 4> kTimestampFormats{
    "auto", "excel_serial", "unix_seconds", "unix_milliseconds"};
inline constexpr std::array<std::string_view, 5> kProvenances{"derived", "inferred", "declared",
                                                              "default", "suggested"};
// Indexed by export_profile::QualityConvention.
inline constexpr std::array<std::string_view, 6> kQualityConventions{
    "auto", "text", "opc_da", "opc_hda", "opc_ua", "zero_good"};
// Indexed by export_profile::Encoding.
inline constexpr std::array<std::string_view, 6> kEncodings{"auto",     "utf-8",    "windows-1252",
                                                            "utf-16le", "utf-16be", "utf-16"};

inline constexpr std::array<std::string_view, 3> kDecided{"detected", "given", "default"};

// The conventions a profile states for each file (`FileSummary::reading`), in the order stated.
// `classic` is the value every export was read with before the convention could vary ("*": the
// value restates the sealed options and input, whatever it is). A fact enters the seal only when
// its value departs from its classic one, so profiles read as before keep their seals.
struct ReadingFactName {
    std::string_view name;
    std::string_view classic;  // '|' between alternatives
};
inline constexpr std::array<ReadingFactName, 16> kReadingFacts{{
    {"encoding", "utf-8|utf-8-bom"},
    {"delimiter", "*"},
    {"decimal", "*"},
    {"layout", "*"},
    // Stated for every file; newest_first when more of its steps between instants fall.
    {"row_order", "oldest_first"},
    // Stated when the export holds slash dates: day_first or month_first.
    {"date_order", "month_first"},
    {"quality_convention", "text|good_quality"},
    {"header_line", "1"},  // 1-based physical line of the header
    {"title_lines", "0"},  // lines above it: a title block, a sep= line, section lines
    // Where the tags' units come from: the tag list (given), a unit row, units in header cells,
    // a long layout's unit column; "none".
    {"unit_source", "none|unit row|unit column|tag list|tag list, unit row|tag list, unit column"},
    // The column roles restate the input and options (they follow from them), so they are "*".
    {"time_columns", "*"},
    {"timestamp_format", "*"},
    {"tag_column", "*"},
    {"value_columns", "*"},
    {"quality_columns", "*"},
    // What the input digest is taken over: a file's bytes, or a table's canonical encoding
    // (`table_columns_v1`, see EXPORT_PROFILE.md). Stated for tables only.
    {"input_digest", "file_bytes"},
}};

// The delimiters and decimal separators an export may use, in the sniffer's tie order.
inline constexpr std::array<std::string_view, 4> kDelimiters{",", ";", "\t", "|"};
inline constexpr std::array<std::string_view, 2> kDecimals{".", ","};

inline constexpr std::string_view kReadinessCourt =
    data_readiness::IndustrialDataReadinessCourtV1::kSchema;
inline constexpr std::string_view kProfileSchema = export_profile::ExportProfile::kSchema;
inline constexpr std::string_view kUnitCourtV1 = unit_consistency::UnitConsistencyCourtV1::kSchema;
inline constexpr std::string_view kUnitCourtV2 =
    unit_consistency_v2::UnitConsistencyCourtV2::kSchema;

}  // namespace qorv_chemical_engineering_edge::names
