// The unit court over several assertions cut from the input, against the rules written out again
// (unit_reference.hpp): each finding's texts and hazard, the message of each hazard, symmetry of
// the hazard in its two units, the counts, and the seal framed by hand and hashed with OpenSSL.
//
// Input: the first byte chooses each assertion's relation (bit i for assertion i); the rest is cut
// at newlines into groups of five lines: context, a_name, a_unit, b_name, b_unit.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "qorv_chemical_engineering_edge/unit_consistency.hpp"
#include "reference.hpp"
#include "unit_reference.hpp"

namespace units = qorv_chemical_engineering_edge::unit_consistency;
using qorv_fuzz::check;

namespace {

constexpr std::size_t kMaxAssertions = 16;

std::string ratio_text(double ratio) {
    if (std::isnan(ratio)) return "NaN";
    char buffer[400];
    const int n = std::snprintf(buffer, sizeof buffer, "%.6f", ratio);
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::string message_by_hand(const units::UnitAssertion& x, std::string_view hazard) {
    const std::string phrase = x.relation == units::AssertionRelation::SameQuantity
                                   ? "compared as the same quantity"
                                   : "added/subtracted in a balance term";
    const auto a = qorv_fuzz::meaning_of(x.a_unit);
    const auto b = qorv_fuzz::meaning_of(x.b_unit);
    if (hazard == "unknown_unit") {
        return "unit '" + (a ? x.b_unit : x.a_unit) +
               "' is not recognised; refusing to assume compatibility";
    }
    if (hazard == "consistent") {
        return "identical units [" + x.a_unit + "] (dimension " + qorv_fuzz::tag_of(*a) + "); " +
               phrase + " is valid";
    }
    if (hazard == "dimension_mismatch") {
        return "different dimensions: [" + x.a_unit + "]=" + qorv_fuzz::tag_of(*a) + " vs [" +
               x.b_unit + "]=" + qorv_fuzz::tag_of(*b) + "; " + phrase + " is meaningless";
    }
    if (hazard == "basis_mismatch") {
        return "both dimensionless but different basis: [" + x.a_unit + "]=" + a->basis + " vs [" +
               x.b_unit + "]=" + b->basis + "; not interconvertible without molar mass";
    }
    if (hazard == "scale_mismatch") {
        return "same dimension, scale differs by \u00d7" + ratio_text(a->scale / b->scale) + ": [" +
               x.a_unit + "] vs [" + x.b_unit + "]; " + phrase +
               " without conversion is wrong by that factor";
    }
    return "affine offset differs: [" + x.a_unit + "] vs [" + x.b_unit + "] (e.g. \u00b0C vs K); " +
           phrase + " sees a constant ~273 offset that is pure unit error, not a process residual";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned relations = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string> lines;
    while (!rest.empty() && lines.size() < 5 * kMaxAssertions) {
        const std::size_t cut = std::min(rest.find('\n'), rest.size());
        lines.emplace_back(rest.substr(0, cut));
        rest.remove_prefix(std::min(cut + 1, rest.size()));
    }
    std::vector<units::UnitAssertion> assertions;
    for (std::size_t i = 0; i + 5 <= lines.size(); i += 5) {
        const bool added = (relations >> (assertions.size() % 8)) & 1;
        assertions.push_back(
            units::UnitAssertion{lines[i], lines[i + 1], lines[i + 2], lines[i + 3], lines[i + 4],
                                 added ? units::AssertionRelation::AdditivelyCombined
                                       : units::AssertionRelation::SameQuantity});
    }

    const auto court = units::UnitConsistencyCourtV1::build(assertions);
    check(court.assertions_checked == assertions.size(), "assertions_checked");
    check(court.findings.size() == assertions.size(), "one finding per assertion");

    std::uint64_t consistent = 0;
    qorv_fuzz::FramedStream seal;
    seal.field("schema", "unit_consistency_court_v1")
        .count("assertions_checked", assertions.size());
    for (std::size_t i = 0; i < assertions.size(); ++i) {
        const auto& x = assertions[i];
        const auto& f = court.findings[i];
        const std::string hazard = qorv_fuzz::hazard_of(x.a_unit, x.b_unit);
        const std::string relation = x.relation == units::AssertionRelation::SameQuantity
                                         ? "same_quantity"
                                         : "additively_combined";
        check(f.context == x.context, "context");
        check(f.a == x.a_name + " [" + x.a_unit + "]", "a");
        check(f.b == x.b_name + " [" + x.b_unit + "]", "b");
        check(f.relation == relation, "relation");
        check(f.hazard == hazard, "hazard");
        check(units::name(units::classify(x.a_unit, x.b_unit)) == hazard, "classify agrees");
        check(units::name(units::classify(x.b_unit, x.a_unit)) == hazard, "hazard is symmetric");
        check(f.message == message_by_hand(x, hazard), "message");
        consistent += hazard == "consistent";
        seal.field("context", x.context)
            .field("a", f.a)
            .field("b", f.b)
            .field("relation", relation)
            .field("hazard", hazard);
    }
    check(court.n_consistent == consistent, "n_consistent");
    check(court.n_hazard == assertions.size() - consistent, "n_hazard");
    seal.count("n_consistent", consistent).count("n_hazard", assertions.size() - consistent);
    check(court.court_hash == seal.seal(), "court_hash against the framed seal");
    check(
        units::UnitConsistencyCourtV1::seal(court.assertions_checked, court.findings,
                                            court.n_consistent, court.n_hazard) == court.court_hash,
        "sealing again");
    return 0;
}
