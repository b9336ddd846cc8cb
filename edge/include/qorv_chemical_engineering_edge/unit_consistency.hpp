// The unit consistency court.
//
// `parse_unit` resolves an engineering-unit string against a closed table of written forms;
// `UnitConsistencyCourtV1::build` judges claimed pairings of two units into hazards with
// messages, counts them and seals the result; `judge` decides and seals the same way without
// writing findings or messages. No input is an error: an unrecognised unit is the finding
// `unknown_unit`.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qorv_chemical_engineering_edge/sha256.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency {

// Exponents over mass, length, time, temperature and amount of substance.
struct Dimension {
    std::int8_t mass = 0;
    std::int8_t length = 0;
    std::int8_t time = 0;
    std::int8_t temperature = 0;
    std::int8_t amount = 0;

    friend bool operator==(const Dimension&, const Dimension&) = default;

    // "ML^-1T^-2", "Θ", "T^-1N"; "1" for a pure number.
    std::string tag() const;
};

enum class CompositionBasis : std::uint8_t { Pure, MassFraction, MoleFraction };
std::string_view name(CompositionBasis basis) noexcept;  // "pure", "mass_fraction", ...

// A value x in the unit is x * scale + offset in the coherent base unit.
struct ParsedUnit {
    Dimension dim;
    double scale = 1.0;
    double offset = 0.0;
    CompositionBasis basis = CompositionBasis::Pure;
};

// Trims Unicode white space, lower-cases, drops every '^' and leading degree signs, then looks
// the text up in the unit table. Absent when the table does not hold it.
std::optional<ParsedUnit> parse_unit(std::string_view text) noexcept;

enum class AssertionRelation : std::uint8_t { SameQuantity, AdditivelyCombined };
std::string_view name(AssertionRelation relation) noexcept;    // "same_quantity", ...
std::string_view phrase(AssertionRelation relation) noexcept;  // "compared as the same quantity"

enum class UnitHazard : std::uint8_t {
    Consistent,
    UnknownUnit,
    DimensionMismatch,
    ScaleMismatch,
    AffineOffsetHazard,
    BasisMismatch,
};
std::string_view name(UnitHazard hazard) noexcept;  // "consistent", "unknown_unit", ...

// A claim that two quantities meet: compared as one quantity, or added in a balance term.
struct UnitAssertion {
    std::string context;
    std::string a_name;
    std::string a_unit;
    std::string b_name;
    std::string b_unit;
    AssertionRelation relation = AssertionRelation::SameQuantity;
};

struct UnitFinding {
    std::string context;
    std::string a;  // "{a_name} [{a_unit}]"
    std::string b;  // "{b_name} [{b_unit}]"
    std::string relation;
    std::string hazard;
    std::string message;  // for readers only; never sealed
};

// The counts and the seal of the record `build` would make.
struct UnitJudgement {
    std::uint64_t n_consistent = 0;
    std::uint64_t n_hazard = 0;
    hashing::Sha256Digest seal{};
};

struct UnitConsistencyCourtV1 {
    static constexpr std::string_view kSchema = "unit_consistency_court_v1";

    std::uint64_t assertions_checked = 0;
    std::vector<UnitFinding> findings;
    std::uint64_t n_consistent = 0;
    std::uint64_t n_hazard = 0;
    std::string court_hash;

    static UnitConsistencyCourtV1 build(std::span<const UnitAssertion> assertions);
    // Each assertion's hazard into `hazards` (as many slots as assertions), the counts and the
    // seal alone: no findings, no messages, no allocation.
    static UnitJudgement judge(std::span<const UnitAssertion> assertions,
                               std::span<UnitHazard> hazards) noexcept;

    static std::string seal(std::uint64_t assertions_checked, std::span<const UnitFinding> findings,
                            std::uint64_t n_consistent, std::uint64_t n_hazard);
};

// The hazard of one pairing, without building a finding.
UnitHazard classify(std::string_view a_unit, std::string_view b_unit) noexcept;

}  // namespace qorv_chemical_engineering_edge::unit_consistency
