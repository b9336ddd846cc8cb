// The industrial data readiness court.
//
// `IndustrialDataReadinessCourtV1::grade` turns a historian-export profile into thirteen
// findings in fixed order, two counts, a verdict and a SHA-256 seal. `judge` applies the same
// rules and seals the same way but renders no messages, for callers that need only the
// verdict. Both are pure and have no error path: NaN, infinities and out-of-range fractions
// are graded as they stand.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "qorv_chemical_engineering_edge/sha256.hpp"

namespace qorv_chemical_engineering_edge::data_readiness {

// A summary of one process-historian export. Fractions are 0..1, not percentages.
struct ReadinessProfile {
    std::uint64_t n_tags{};
    std::uint64_t n_rows{};
    bool baseline_present{};
    bool license_cleared{};
    double missingness{};
    double unit_coverage{};
    double duplicate_timestamps = 0.0;
    double time_span_hours = std::numeric_limits<double>::quiet_NaN();  // NaN: not known
    bool sampling_regular = true;
    bool has_controllers = false;
    bool has_maintenance = false;
    bool has_batches = false;
    bool has_lab_samples = false;
};

enum class ReadinessLevel : std::uint8_t { Ok, Caveat, CriticalMissing };
enum class ReadinessVerdict : std::uint8_t {
    Ready,
    ReadyWithCaveats,
    NotReadyMissingCriticalWitnesses
};

std::string_view name(ReadinessLevel level) noexcept;      // "ok", "caveat", "critical_missing"
std::string_view name(ReadinessVerdict verdict) noexcept;  // "Ready", "ReadyWithCaveats", ...

inline constexpr std::size_t kReadinessDimensions = 13;

// What grading decides, in finding order, with the seal of the record `grade` would make.
struct ReadinessJudgement {
    std::array<ReadinessLevel, kReadinessDimensions> levels{};
    std::uint64_t n_critical_missing = 0;
    std::uint64_t n_caveat = 0;
    ReadinessVerdict verdict = ReadinessVerdict::Ready;
    hashing::Sha256Digest seal{};
};

struct ReadinessFinding {
    std::string dimension;
    std::string level;    // name(ReadinessLevel)
    std::string message;  // for readers only; never sealed
};

struct IndustrialDataReadinessCourtV1 {
    static constexpr std::string_view kSchema = "industrial_data_readiness_court_v1";

    std::vector<ReadinessFinding> findings;
    std::string verdict;
    std::string court_hash;
    std::uint64_t n_critical_missing = 0;
    std::uint64_t n_caveat = 0;

    static IndustrialDataReadinessCourtV1 grade(const ReadinessProfile& profile);
    // The levels, counts, verdict and seal alone: no findings, no messages, no allocation.
    static ReadinessJudgement judge(const ReadinessProfile& profile) noexcept;

    // SHA-256 over the schema, each finding's dimension and level, the counts and the verdict.
    // Reads neither the messages nor court_hash.
    std::string seal() const;
};

}  // namespace qorv_chemical_engineering_edge::data_readiness
