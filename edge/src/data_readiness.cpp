#include "qorv_chemical_engineering_edge/data_readiness.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#include "qorv_chemical_engineering_edge/fixed_point.hpp"
#include "qorv_chemical_engineering_edge/hashing.hpp"

namespace qorv_chemical_engineering_edge::data_readiness {

std::string_view name(ReadinessLevel level) noexcept {
    switch (level) {
        case ReadinessLevel::Ok:
            return "ok";
        case ReadinessLevel::Caveat:
            return "caveat";
        case ReadinessLevel::CriticalMissing:
            return "critical_missing";
    }
    return "critical_missing";
}

std::string_view name(ReadinessVerdict verdict) noexcept {
    switch (verdict) {
        case ReadinessVerdict::Ready:
            return "Ready";
        case ReadinessVerdict::ReadyWithCaveats:
            return "ReadyWithCaveats";
        case ReadinessVerdict::NotReadyMissingCriticalWitnesses:
            return "NotReadyMissingCriticalWitnesses";
    }
    return "NotReadyMissingCriticalWitnesses";
}

namespace {

constexpr int kDimensionCount = 13;

// Thresholds compare the raw fractions; the percentages in the messages are fixed text.
constexpr double kMaxMissingness = 0.1;
constexpr double kMinUnitCoverage = 0.9;
constexpr double kMaxDuplicateTimestamps = 0.01;
constexpr double kMinTimeSpanHours = 24.0;
constexpr std::uint64_t kMinRows = 100;

void push_finding(std::vector<ReadinessFinding>& findings, std::string_view dimension,
                  ReadinessLevel level, std::string message) {
    // Built from its three texts (an empty finding would first be zero-filled) with braces, since
    // emplace_back on an aggregate needs parenthesised aggregate init, which older clang lacks.
    findings.push_back(
        ReadinessFinding{std::string(dimension), std::string(name(level)), std::move(message)});
}

// "{count}{suffix}"
template <std::size_t N>
std::string count_message(std::uint64_t count, const char (&suffix)[N]) {
    char text[20 + N];
    char* end = std::to_chars(text, text + 20, count).ptr;
    std::memcpy(end, suffix, N - 1);
    return std::string(text, static_cast<std::size_t>(end - text) + N - 1);
}

// "{value:decimals}{suffix}"; the value is rendered exactly, so it may be long for huge input.
template <std::size_t N>
std::string number_message(double value, int decimals, const char (&suffix)[N]) {
    char text[text::kMaxFixedChars + N];
    char* end = text::write_fixed(text, value, decimals);
    std::memcpy(end, suffix, N - 1);
    return std::string(text, static_cast<std::size_t>(end - text) + N - 1);
}

// The four context witnesses share one shape of message.
void push_witness(std::vector<ReadinessFinding>& findings, std::string_view dimension,
                  bool available, std::string_view witness) {
    constexpr std::string_view kAvailable = "available \u2014 unlocks ";
    constexpr std::string_view kAbsent = "absent \u2014 ";
    constexpr std::string_view kUnavailable = " unavailable";
    std::string message;
    if (available) {
        message.reserve(kAvailable.size() + witness.size());
        message.append(kAvailable).append(witness);
    } else {
        message.reserve(kAbsent.size() + witness.size() + kUnavailable.size());
        message.append(kAbsent).append(witness).append(kUnavailable);
    }
    push_finding(findings, dimension, available ? ReadinessLevel::Ok : ReadinessLevel::Caveat,
                 std::move(message));
}

ReadinessLevel critical_unless(bool ok) {
    return ok ? ReadinessLevel::Ok : ReadinessLevel::CriticalMissing;
}

ReadinessLevel caveat_unless(bool ok) {
    return ok ? ReadinessLevel::Ok : ReadinessLevel::Caveat;
}

}  // namespace

IndustrialDataReadinessCourtV1 IndustrialDataReadinessCourtV1::grade(const ReadinessProfile& p) {
    IndustrialDataReadinessCourtV1 court;
    auto& findings = court.findings;
    findings.reserve(kDimensionCount);

    // The four hard witnesses: without any of them the export cannot be analysed at all.
    push_finding(findings, "tags_present", critical_unless(p.n_tags != 0),
                 count_message(p.n_tags, " tags (need \u2265 1)"));
    push_finding(findings, "rows_sufficient", critical_unless(p.n_rows >= kMinRows),
                 count_message(p.n_rows, " rows (need \u2265 100)"));
    push_finding(findings, "baseline_window", critical_unless(p.baseline_present),
                 "a known-good / normal-operation window is required to fit the baseline");
    push_finding(
        findings, "license_cleared", critical_unless(p.license_cleared),
        "the data must be the operator's to analyse (no licence / export-control blocker)");

    // Quality caveats. A NaN fails every comparison and so grades as a caveat.
    push_finding(findings, "missingness", caveat_unless(p.missingness <= kMaxMissingness),
                 number_message(p.missingness * 100.0, 1, "% missing (caveat above 10%)"));
    push_finding(findings, "unit_coverage", caveat_unless(p.unit_coverage >= kMinUnitCoverage),
                 number_message(p.unit_coverage * 100.0, 0,
                                "% of tags carry a unit (caveat below 90%; limits the "
                                "unit-consistency court + physical balances)"));
    push_finding(findings, "duplicate_timestamps",
                 caveat_unless(p.duplicate_timestamps <= kMaxDuplicateTimestamps),
                 number_message(p.duplicate_timestamps * 100.0, 2,
                                "% duplicate timestamps (caveat above 1%)"));
    if (std::isfinite(p.time_span_hours)) {
        push_finding(findings, "time_span", caveat_unless(p.time_span_hours >= kMinTimeSpanHours),
                     number_message(p.time_span_hours, 1,
                                    " h of data (caveat below 24 h; too short for diurnal "
                                    "structure)"));
    } else {
        push_finding(findings, "time_span", ReadinessLevel::Caveat,
                     "span not assessed (caveat; need \u2265 24 h of timestamped data for "
                     "diurnal structure)");
    }
    push_finding(findings, "sampling_regularity", caveat_unless(p.sampling_regular),
                 "irregular/ragged sampling is handled (multi-rate alignment) but flagged");

    // Context sources: each one unlocks a family of witnesses.
    push_witness(findings, "controller_context", p.has_controllers,
                 "control-loop interaction map + setpoint separation");
    push_witness(findings, "maintenance_log", p.has_maintenance,
                 "maintenance-window overlays + calibration witnesses");
    push_witness(findings, "batch_genealogy", p.has_batches,
                 "batch-phase envelopes + genealogy recurrence");
    push_witness(findings, "lab_samples", p.has_lab_samples,
                 "manual-sample bridge + soft-sensor witnesses");

    for (const auto& finding : findings) {
        if (finding.level == name(ReadinessLevel::CriticalMissing)) {
            ++court.n_critical_missing;
        } else if (finding.level == name(ReadinessLevel::Caveat)) {
            ++court.n_caveat;
        }
    }
    // Critical gaps outrank caveats.
    const ReadinessVerdict verdict = court.n_critical_missing > 0
                                         ? ReadinessVerdict::NotReadyMissingCriticalWitnesses
                                     : court.n_caveat > 0 ? ReadinessVerdict::ReadyWithCaveats
                                                          : ReadinessVerdict::Ready;
    court.verdict = std::string(name(verdict));
    court.court_hash = court.seal();
    return court;
}

std::string IndustrialDataReadinessCourtV1::seal() const {
    hashing::CanonicalHasher hasher;
    hasher.field("schema", kSchema);
    for (const auto& finding : findings) {
        hasher.field("dimension", finding.dimension).field("level", finding.level);
    }
    hasher.field("n_critical_missing", n_critical_missing)
        .field("n_caveat", n_caveat)
        .field("verdict", verdict);
    return std::move(hasher).finalize_hex();
}

}  // namespace qorv_chemical_engineering_edge::data_readiness
