// The second unit consistency court: the units plants actually write.
//
// `parse_unit` reads a unit by a grammar (SI prefixes, products, quotients, parentheses, powers)
// over one vocabulary table, and keeps the kinds that change a verdict: gauge or absolute
// pressure, actual, normal or standard volume with its reference conditions, and the basis of a
// fraction. `classify` judges a pair of unit texts into one hazard plus the conversion
// x_b = x_a * factor + offset (NaN where none exists). `UnitConsistencyCourtV2::build` judges
// assertions into findings with messages, counts them and seals hazards, never messages.
// Nothing here throws on any text: a text the grammar refuses is `unknown_unit` with a reason.
// The first court (`unit_consistency.hpp`) is untouched; its assertion type is reused here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qorv_chemical_engineering_edge/unit_consistency.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency_v2 {

// Exponents over mass, length, time, temperature, amount of substance and electric current.
struct DimensionV2 {
    std::int8_t mass = 0;
    std::int8_t length = 0;
    std::int8_t time = 0;
    std::int8_t temperature = 0;
    std::int8_t amount = 0;
    std::int8_t current = 0;

    friend bool operator==(const DimensionV2&, const DimensionV2&) = default;

    // As the first court's tag with current last as "I": "ML^-1T^-2", "ML^2T^-3I^-1", "1".
    std::string tag() const;
};

// Whether a pressure is measured against vacuum or against the atmosphere. `None` for units
// that are not pressures; `Unstated` for "bar", "psi", "kPa".
enum class PressureReference : std::uint8_t { None, Unstated, Gauge, Absolute };
std::string_view name(PressureReference reference) noexcept;  // "none", "unstated", ...

// The state a volume is counted at. `Actual` for plain volumes (m3, L, gal, ACFM); `Normal`
// (Nm3: 0 degC, 101.325 kPa) and `Standard` (Sm3: 15 degC, 101.325 kPa; scf: 60 degF,
// 14.696 psi) carry their reference conditions. `None` for units with no volume in them.
enum class VolumeReference : std::uint8_t { None, Actual, Normal, Standard };
std::string_view name(VolumeReference reference) noexcept;  // "none", "actual", ...

// What a dimensionless fraction is a fraction of. `None` for dimensional units and plain
// numbers ("-", "ratio"); `Unstated` for "%", "ppm", "ppb".
enum class FractionBasis : std::uint8_t { None, Unstated, Mass, Mole, Volume };
std::string_view name(FractionBasis basis) noexcept;  // "none", "unstated", "mass", ...

// The standard atmosphere, used to carry gauge pressures to absolute ones in conversions.
inline constexpr double kStandardAtmospherePa = 101325.0;

// Longest unit text read (after trimming white space) and deepest parenthesis nesting; beyond
// either the text is unknown, so no input can exhaust the stack or take long to read. The
// length also holds every canonical spelling (16 units of at most 15 bytes), so a canonical
// spelling always reads back.
inline constexpr std::size_t kMaxUnitBytes = 256;
inline constexpr int kMaxNesting = 8;

// A value x in the unit is x * scale + offset in the coherent SI unit (kelvin, pascal,
// kilogram per second, ...; a plain ratio for fractions, so "wt%" has scale 0.01). A gauge
// pressure's scale and offset carry it to gauge pascals: the atmosphere is never folded in.
struct UnitV2 {
    DimensionV2 dim;
    double scale = 1.0;
    double offset = 0.0;
    PressureReference pressure = PressureReference::None;
    VolumeReference volume = VolumeReference::None;
    // Reference conditions of a normal or standard volume; NaN otherwise.
    double reference_temperature_k = std::numeric_limits<double>::quiet_NaN();
    double reference_pressure_pa = std::numeric_limits<double>::quiet_NaN();
    // Exponent of the referenced volume: 1 in "Nm3/h", -1 in "kg/Nm3", 0 without one.
    std::int8_t volume_power = 0;
    FractionBasis basis = FractionBasis::None;
    // A logarithmic scale (pH): dimensionless but never a multiple of a ratio.
    bool logarithmic = false;
    // The unit written back in one fixed spelling: "m^3/h", "kJ/(kg*K)", "bar(g)", "degC".
    std::string canonical;
};

// `unit` is present when the text is a unit; otherwise `why` says why not (an unknown word, an
// ambiguous spelling and what it could mean, a grammar fault, a bound exceeded). `why` is empty
// whenever `unit` is present. A blank text is not a unit ("no unit given").
struct ParseOutcome {
    std::optional<UnitV2> unit;
    std::string why;
};

// Case: an exact spelling wins; otherwise a case-insensitive spelling counts only when exactly
// one unit fits ("KPA" is kPa, "mw" is refused: milliwatt or megawatt). Pure; any bytes.
ParseOutcome parse_unit(std::string_view text);

// Hazards in the order they are tried; the first that applies decides.
enum class UnitHazardV2 : std::uint8_t {
    MissingUnit,                // a blank unit text
    UnknownUnit,                // a text the grammar or vocabulary refuses
    DimensionMismatch,          // different dimensions (or a logarithmic against a ratio)
    BasisMismatch,              // fractions of different stated bases, or stated vs unstated
    PressureReferenceMismatch,  // gauge against absolute
    PressureReferenceUnstated,  // unstated against gauge or absolute
    ReferenceStateMismatch,     // actual, normal, standard, or standards of other conditions
    AffineOffsetHazard,         // offsets differ, whatever the scales do
    ScaleMismatch,              // scales differ beyond 1e-9 relative
    Consistent,
};
std::string_view name(UnitHazardV2 hazard) noexcept;  // "missing_unit", "unknown_unit", ...

// The verdict on a pair without its message: x_b = x_a * factor + offset, NaN where no
// conversion exists (missing, unknown, dimension, basis, actual against normal or standard).
// Gauge against absolute uses the standard atmosphere; normal against standard the ideal gas.
// Unstated against stated pressure gives the scale factor and a NaN offset.
struct PairVerdict {
    UnitHazardV2 hazard = UnitHazardV2::UnknownUnit;
    double factor = std::numeric_limits<double>::quiet_NaN();
    double offset = std::numeric_limits<double>::quiet_NaN();
};

PairVerdict classify(std::string_view a_unit, std::string_view b_unit);

struct UnitFindingV2 {
    std::string context;
    std::string a;         // "{a_name} [{a_unit}]"
    std::string b;         // "{b_name} [{b_unit}]"
    std::string relation;  // "same_quantity", "additively_combined"
    std::string hazard;    // name(UnitHazardV2)
    double factor = std::numeric_limits<double>::quiet_NaN();
    double offset = std::numeric_limits<double>::quiet_NaN();
    std::string message;  // for readers only; never sealed
};

// The seal feeds, through CanonicalHasher, in this order:
//   "schema" = kSchema, "assertions_checked" (count),
//   per finding in order: "context", "a", "b", "relation", "hazard" (texts),
//   "n_consistent" (count), "n_hazard" (count).
// Messages, factors and offsets are never sealed: rewording or refining a vocabulary value
// must not change a stored seal; a changed verdict does.
struct UnitConsistencyCourtV2 {
    static constexpr std::string_view kSchema = "unit_consistency_court_v2";

    std::uint64_t assertions_checked = 0;
    std::vector<UnitFindingV2> findings;
    std::uint64_t n_consistent = 0;
    std::uint64_t n_hazard = 0;
    std::string court_hash;

    static UnitConsistencyCourtV2 build(
        std::span<const unit_consistency::UnitAssertion> assertions);

    static std::string seal(std::uint64_t assertions_checked,
                            std::span<const UnitFindingV2> findings, std::uint64_t n_consistent,
                            std::uint64_t n_hazard);
};

// The size of the vocabulary table: distinct units and written spellings (prefixed forms not
// counted), for notes and profile schemas.
struct VocabularySize {
    std::size_t units = 0;
    std::size_t spellings = 0;
};
VocabularySize vocabulary_size() noexcept;

}  // namespace qorv_chemical_engineering_edge::unit_consistency_v2
