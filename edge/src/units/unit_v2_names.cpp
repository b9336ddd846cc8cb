// Text forms of the second court's enumerations and dimensions, and its public parse.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"
#include "units/unit_v2_parsing.hpp"
#include "units/unit_v2_vocabulary.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency_v2 {

std::string DimensionV2::tag() const {
    // The first court's symbols in its order, current last; theta is CE 98 in UTF-8.
    const std::array<std::pair<std::string_view, std::int8_t>, 6> pieces{{
        {"M", mass},
        {"L", length},
        {"T", time},
        {"\xCE\x98", temperature},
        {"N", amount},
        {"I", current},
    }};
    std::string out;
    for (const auto& [symbol, exponent] : pieces) {
        if (exponent == 0) continue;
        out.append(symbol);
        if (exponent == 1) continue;
        out.push_back('^');
        out.append(std::to_string(exponent));
    }
    if (out.empty()) out.push_back('1');
    return out;
}

std::string_view name(PressureReference reference) noexcept {
    switch (reference) {
        case PressureReference::None:
            return "none";
        case PressureReference::Unstated:
            return "unstated";
        case PressureReference::Gauge:
            return "gauge";
        case PressureReference::Absolute:
            return "absolute";
    }
    return {};
}

std::string_view name(VolumeReference reference) noexcept {
    switch (reference) {
        case VolumeReference::None:
            return "none";
        case VolumeReference::Actual:
            return "actual";
        case VolumeReference::Normal:
            return "normal";
        case VolumeReference::Standard:
            return "standard";
    }
    return {};
}

std::string_view name(FractionBasis basis) noexcept {
    switch (basis) {
        case FractionBasis::None:
            return "none";
        case FractionBasis::Unstated:
            return "unstated";
        case FractionBasis::Mass:
            return "mass";
        case FractionBasis::Mole:
            return "mole";
        case FractionBasis::Volume:
            return "volume";
    }
    return {};
}

std::string_view name(UnitHazardV2 hazard) noexcept {
    switch (hazard) {
        case UnitHazardV2::MissingUnit:
            return "missing_unit";
        case UnitHazardV2::UnknownUnit:
            return "unknown_unit";
        case UnitHazardV2::DimensionMismatch:
            return "dimension_mismatch";
        case UnitHazardV2::BasisMismatch:
            return "basis_mismatch";
        case UnitHazardV2::PressureReferenceMismatch:
            return "pressure_reference_mismatch";
        case UnitHazardV2::PressureReferenceUnstated:
            return "pressure_reference_unstated";
        case UnitHazardV2::ReferenceStateMismatch:
            return "reference_state_mismatch";
        case UnitHazardV2::AffineOffsetHazard:
            return "affine_offset_hazard";
        case UnitHazardV2::ScaleMismatch:
            return "scale_mismatch";
        case UnitHazardV2::Consistent:
            return "consistent";
    }
    return {};
}

ParseOutcome parse_unit(std::string_view text) {
    ParseOutcome outcome;
    outcome.unit.emplace();  // parsed in place; dropped again if the text is refused
    if (!detail::parse(text, *outcome.unit, &outcome.why, true)) outcome.unit.reset();
    return outcome;
}

VocabularySize vocabulary_size() noexcept {
    return vocabulary::count();
}

}  // namespace qorv_chemical_engineering_edge::unit_consistency_v2
