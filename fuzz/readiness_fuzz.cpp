// Readiness grading from raw bytes against the grading rules written out again here, message by
// message, and against a seal framed by hand and hashed with OpenSSL.
//
// Input: n_tags and n_rows (8 bytes each, little-endian), a byte of seven flags, then four
// doubles of 9 bytes each: a mode byte and 8 bytes. An odd mode takes the 8 bytes as the double's
// bits; an even one picks a value near a threshold (or a special value) and steps it by a few
// units in the last place, since raw bits almost never land on a threshold. Missing bytes are 0.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qorv_chemical_engineering_edge/data_readiness.hpp"
#include "reference.hpp"

namespace readiness = qorv_chemical_engineering_edge::data_readiness;
using qorv_fuzz::check;

namespace {

constexpr double kInteresting[] = {0.0,   0.1,      0.9,   0.01, 24.0,     1.0,       -0.0,   0.125,
                                   0.07,  23.96,    0.005, -0.2, 1e300,    -1e300,    5e-324, 0.105,
                                   0.995, 0.000125, 1e22,  0.5,  INFINITY, -INFINITY, NAN,    -1.0};

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    std::uint8_t byte() { return at < size ? data[at++] : 0; }
    std::uint64_t le64() {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= std::uint64_t{byte()} << (8 * i);
        return v;
    }
    double number() {
        const std::uint8_t mode = byte();
        const std::uint64_t bits = le64();
        if (mode & 1) {
            double value;
            std::memcpy(&value, &bits, 8);
            return value;
        }
        double value = kInteresting[(mode >> 1) % std::size(kInteresting)];
        const int steps = static_cast<std::int8_t>(bits & 0xff) % 4;
        for (int i = 0; i < std::abs(steps); ++i) {
            value = std::nextafter(value, steps > 0 ? INFINITY : -INFINITY);
        }
        return value;
    }
};

// Fixed-point as printf writes it, with the court's "NaN".
std::string fixed(double value, int decimals) {
    if (std::isnan(value)) return "NaN";
    std::vector<char> buffer(400);
    const int n = std::snprintf(buffer.data(), buffer.size(), "%.*f", decimals, value);
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

struct Expected {
    const char* dimension;
    const char* level;
    std::string message;
};

std::string witness(bool available, const std::string& phrase) {
    return available ? "available \u2014 unlocks " + phrase
                     : "absent \u2014 " + phrase + " unavailable";
}

std::vector<Expected> grade_by_hand(const readiness::ReadinessProfile& p) {
    const char* ok = "ok";
    const char* caveat = "caveat";
    const char* critical = "critical_missing";
    std::vector<Expected> e;
    e.push_back({"tags_present", p.n_tags == 0 ? critical : ok,
                 std::to_string(p.n_tags) + " tags (need \u2265 1)"});
    e.push_back({"rows_sufficient", p.n_rows < 100 ? critical : ok,
                 std::to_string(p.n_rows) + " rows (need \u2265 100)"});
    e.push_back({"baseline_window", p.baseline_present ? ok : critical,
                 "a known-good / normal-operation window is required to fit the baseline"});
    e.push_back({"license_cleared", p.license_cleared ? ok : critical,
                 "the data must be the operator's to analyse (no licence / export-control "
                 "blocker)"});
    e.push_back({"missingness", p.missingness <= 0.1 ? ok : caveat,
                 fixed(p.missingness * 100.0, 1) + "% missing (caveat above 10%)"});
    e.push_back({"unit_coverage", p.unit_coverage >= 0.9 ? ok : caveat,
                 fixed(p.unit_coverage * 100.0, 0) +
                     "% of tags carry a unit (caveat below 90%; limits the unit-consistency "
                     "court + physical balances)"});
    e.push_back(
        {"duplicate_timestamps", p.duplicate_timestamps <= 0.01 ? ok : caveat,
         fixed(p.duplicate_timestamps * 100.0, 2) + "% duplicate timestamps (caveat above 1%)"});
    if (std::isfinite(p.time_span_hours)) {
        e.push_back({"time_span", p.time_span_hours >= 24.0 ? ok : caveat,
                     fixed(p.time_span_hours, 1) +
                         " h of data (caveat below 24 h; too short for diurnal structure)"});
    } else {
        e.push_back({"time_span", caveat,
                     "span not assessed (caveat; need \u2265 24 h of timestamped data for "
                     "diurnal structure)"});
    }
    e.push_back({"sampling_regularity", p.sampling_regular ? ok : caveat,
                 "irregular/ragged sampling is handled (multi-rate alignment) but flagged"});
    e.push_back({"controller_context", p.has_controllers ? ok : caveat,
                 witness(p.has_controllers, "control-loop interaction map + setpoint separation")});
    e.push_back(
        {"maintenance_log", p.has_maintenance ? ok : caveat,
         witness(p.has_maintenance, "maintenance-window overlays + calibration witnesses")});
    e.push_back({"batch_genealogy", p.has_batches ? ok : caveat,
                 witness(p.has_batches, "batch-phase envelopes + genealogy recurrence")});
    e.push_back({"lab_samples", p.has_lab_samples ? ok : caveat,
                 witness(p.has_lab_samples, "manual-sample bridge + soft-sensor witnesses")});
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    readiness::ReadinessProfile p;
    p.n_tags = in.le64();
    p.n_rows = in.le64();
    const std::uint8_t flags = in.byte();
    p.baseline_present = flags & 1;
    p.license_cleared = flags & 2;
    p.sampling_regular = flags & 4;
    p.has_controllers = flags & 8;
    p.has_maintenance = flags & 16;
    p.has_batches = flags & 32;
    p.has_lab_samples = flags & 64;
    p.missingness = in.number();
    p.unit_coverage = in.number();
    p.duplicate_timestamps = in.number();
    p.time_span_hours = in.number();

    const auto court = readiness::IndustrialDataReadinessCourtV1::grade(p);
    const auto expected = grade_by_hand(p);

    check(court.findings.size() == expected.size(), "thirteen findings");
    std::uint64_t critical = 0, caveats = 0;
    qorv_fuzz::FramedStream seal;
    seal.field("schema", "industrial_data_readiness_court_v1");
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& f = court.findings[i];
        check(f.dimension == expected[i].dimension, "dimension");
        check(f.level == expected[i].level, "level");
        check(f.message == expected[i].message, "message");
        critical += f.level == std::string_view("critical_missing");
        caveats += f.level == std::string_view("caveat");
        seal.field("dimension", expected[i].dimension).field("level", expected[i].level);
    }
    check(court.n_critical_missing == critical && court.n_caveat == caveats, "counts");
    const char* verdict = critical  ? "NotReadyMissingCriticalWitnesses"
                          : caveats ? "ReadyWithCaveats"
                                    : "Ready";
    check(court.verdict == verdict, "verdict");
    seal.count("n_critical_missing", critical).count("n_caveat", caveats).field("verdict", verdict);
    check(court.court_hash == seal.seal(), "court_hash against the framed seal");
    check(court.seal() == court.court_hash, "sealing again");
    return 0;
}
