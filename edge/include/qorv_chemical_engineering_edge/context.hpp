// Context files read against an export: a lab sample export, a maintenance system's work orders
// and a batch system's event journal turn has_lab_samples, has_maintenance and has_batches from
// declarations into evidence.
//
// A file is read as an export is (the same file reading, .gz, encodings, title block, sep= line
// and delimiter; naive times in the export's zone, slash dates in its day/month order) and
// recognised by its header's column names (kinds and names in edge/EXPORT_PROFILE.md, Context
// files), or read as the kind the caller names. `attach` reads every file, derives the three
// fields by the rules stated there (a declared value still wins, with a note when the files say
// otherwise), puts one ContextEvidence per file in the profile and reseals it. Nothing throws:
// a file that cannot be read, or holds no recognisable kind, is a ProfileError naming it (and
// the columns it saw); the profile is then left as it was.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::context {

enum class Kind : std::uint8_t { Lab, Maintenance, Batches };

std::string_view name(Kind kind) noexcept;  // "lab", "maintenance", "batches"
std::optional<Kind> kind_named(std::string_view text) noexcept;

struct ContextFile {
    std::string path;
    std::optional<Kind> kind;  // none: recognised by its columns
};

// Reads one file against `profile` (its span, tags, zone and date order).
export_profile::Result<export_profile::ContextEvidence> read_context(
    const ContextFile& file, const export_profile::ExportProfile& profile);

// Reads every file, derives the fields and reseals `profile`; with no files, does nothing.
std::optional<export_profile::ProfileError> attach(export_profile::ExportProfile& profile,
                                                   std::span<const ContextFile> files);

}  // namespace qorv_chemical_engineering_edge::context
