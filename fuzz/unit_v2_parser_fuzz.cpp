// Fuzzing the second unit court's parser and pair classification.
//
// The input is read whole as one unit text, then split at its first newline into a pair. Any
// bytes must parse or be refused with a reason, without a crash; a parsed unit's canonical
// spelling must read back as the same unit, with the same value limits; every hazard rule is
// symmetric, and the conversion from b to a undoes the one from a to b.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "export/value_limits.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"

namespace v2 = qorv_chemical_engineering_edge::unit_consistency_v2;
namespace uc = qorv_chemical_engineering_edge::unit_consistency;

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

bool close(double x, double y, double tolerance) {
    return std::fabs(x - y) <= tolerance * std::max({1.0, std::fabs(x), std::fabs(y)});
}

void check_unit(std::string_view text) {
    const v2::ParseOutcome outcome = v2::parse_unit(text);
    require(outcome.unit.has_value() == outcome.why.empty());
    const auto limits = qorv_chemical_engineering_edge::export_profile::value_limits(text);
    require(!limits.any() || outcome.unit.has_value());
    require(limits.impossible_below < limits.impossible_above &&
            !std::isnan(limits.suspicious_below));
    const v2::PairVerdict self = v2::classify(text, text);
    if (!outcome.unit) {
        require(self.hazard == v2::UnitHazardV2::MissingUnit ||
                self.hazard == v2::UnitHazardV2::UnknownUnit);
        return;
    }
    require(self.hazard == v2::UnitHazardV2::Consistent);
    const v2::UnitV2& u = *outcome.unit;
    require(std::isfinite(u.scale) && u.scale > 0);
    const v2::ParseOutcome again = v2::parse_unit(u.canonical);
    require(again.unit.has_value());
    require(again.unit->dim == u.dim);
    require(close(again.unit->scale, u.scale, 1e-12));
    require(again.unit->pressure == u.pressure && again.unit->volume == u.volume &&
            again.unit->basis == u.basis);
    require(qorv_chemical_engineering_edge::export_profile::value_limits(u.canonical).kind ==
            limits.kind);
}

void check_pair(std::string_view a, std::string_view b) {
    const v2::PairVerdict ab = v2::classify(a, b);
    const v2::PairVerdict ba = v2::classify(b, a);
    require(ab.hazard == ba.hazard);
    require(std::isnan(ab.factor) == std::isnan(ba.factor));
    require(std::isnan(ab.offset) == std::isnan(ba.offset));
    if (!std::isnan(ab.factor)) {
        require(close(ab.factor * ba.factor, 1.0, 1e-12));
        if (!std::isnan(ab.offset)) require(close(ab.offset * ba.factor, -ba.offset, 1e-9));
    }
    const std::vector<uc::UnitAssertion> one = {
        {"fuzz", "a", std::string(a), "b", std::string(b), uc::AssertionRelation::SameQuantity}};
    const auto court = v2::UnitConsistencyCourtV2::build(one);
    require(court.findings.size() == 1 && court.findings[0].hazard == v2::name(ab.hazard));
    require(!court.findings[0].message.empty() && court.court_hash.size() == 64);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    check_unit(input);
    const std::size_t newline = input.find('\n');
    if (newline != std::string_view::npos) {
        const std::string_view a = input.substr(0, newline);
        const std::string_view b = input.substr(newline + 1);
        check_unit(a);
        check_unit(b);
        check_pair(a, b);
    }
    return 0;
}
