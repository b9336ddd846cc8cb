// The second unit court's vocabulary: one table of units, the prefixes they take, and a hashed
// index over their spellings.
//
// Spellings are written as the parser sees them after normalisation: ASCII, with micro as "u",
// degree signs as "deg", superscript digits as digits and middle dots as '*'. Prefixes are not
// spelled out: each unit names the prefixes it accepts, so "kPa" is the prefix "k" on "Pa".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>

#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency_v2::vocabulary {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Which prefixes a unit accepts, one bit each; kBare lets it stand without one.
enum PrefixBit : std::uint16_t {
    kBare = 1u << 0,
    kPico = 1u << 1,
    kNano = 1u << 2,
    kMicro = 1u << 3,
    kMilli = 1u << 4,
    kCenti = 1u << 5,
    kDeci = 1u << 6,
    kHecto = 1u << 7,
    kKilo = 1u << 8,
    kMega = 1u << 9,
    kGiga = 1u << 10,
    kTera = 1u << 11,
    kFieldM = 1u << 12,   // oil-and-gas M = 10^3 (Mscf)
    kFieldMM = 1u << 13,  // oil-and-gas MM = 10^6 (MMscfd)
};

struct Prefix {
    std::string_view text;
    double factor;
    std::uint16_t bit;
};

// Longest first within a leading letter, so "MM" is tried before "M".
inline constexpr std::array<Prefix, 13> kPrefixes{{
    {"p", 1e-12, kPico},
    {"n", 1e-9, kNano},
    {"u", 1e-6, kMicro},
    {"m", 1e-3, kMilli},
    {"c", 1e-2, kCenti},
    {"d", 1e-1, kDeci},
    {"h", 1e2, kHecto},
    {"k", 1e3, kKilo},
    {"MM", 1e6, kFieldMM},
    {"M", 1e6, kMega},
    {"M", 1e3, kFieldM},
    {"G", 1e9, kGiga},
    {"T", 1e12, kTera},
}};
inline constexpr std::uint8_t kNoPrefix = 0xFF;

// What a unit does beyond its dimension and scale.
enum class Role : std::uint8_t {
    Plain,
    Pressure,     // takes a gauge or absolute mark ("barg", "kPa(a)")
    CubeOnly,     // a referenced metre, meaningful only cubed: "Nm" in "Nm3"
    Fraction,     // a dimensionless fraction with a basis; an unstated one takes a basis mark
    Logarithmic,  // pH
    Ambiguous,    // a spelling refused on purpose; `ambiguity` says why
};

struct UnitDef {
    std::string_view spellings;  // '|'-separated, normalised
    std::string_view canonical;  // how the unit is written back (before any prefix)
    DimensionV2 dim;
    double scale = 1.0;
    double offset = 0.0;
    std::uint16_t prefixes = kBare;
    Role role = Role::Plain;
    VolumeReference volume = VolumeReference::None;
    double reference_temperature_k = kNaN;
    double reference_pressure_pa = kNaN;
    FractionBasis basis = FractionBasis::None;
    std::string_view ambiguity = {};
};

// The table itself; constant-initialised, so it is usable at any time.
extern const std::span<const UnitDef> kUnitTable;
inline std::span<const UnitDef> units() noexcept {
    return kUnitTable;
}

// Up to this many distinct readings of one written atom are kept; more are reported as
// ambiguous all the same.
inline constexpr int kMaxReadings = 4;

struct Reading {
    std::uint16_t unit = 0;
    std::uint8_t prefix = kNoPrefix;
};

// The readings of `text` as one prefixed unit: exact spelling only, or case-insensitively
// (`fold`). Distinct readings only (same unit and same
// prefix factor count once). Returns how many were found (possibly more than were stored).
int read_atom(std::string_view text, bool fold, std::array<Reading, kMaxReadings>& out) noexcept;

// Phrases: spellings with a '/' or '^' in them ("kg/cm2", "v/v"), matched before the grammar
// splits the text. Returns the unit and the matched length, or length 0.
struct PhraseMatch {
    std::uint16_t unit = 0;
    std::size_t length = 0;
};
PhraseMatch match_phrase(std::string_view rest, bool fold) noexcept;

// The phrase spellings and the characters they start with (either case), derived from the
// table at compile time: a test of one character decides most texts without a scan.
struct Phrase {
    std::string_view spelling;
    std::uint16_t unit = 0;
};
inline constexpr std::size_t kMaxPhrases = 16;
struct PhraseList {
    std::array<Phrase, kMaxPhrases> phrases{};
    std::size_t count = 0;
    std::array<bool, 256> first{};
};
extern const PhraseList kPhraseList;

inline bool may_start_phrase(char c) noexcept {
    return kPhraseList.first[static_cast<unsigned char>(c)];
}

VocabularySize count() noexcept;

}  // namespace qorv_chemical_engineering_edge::unit_consistency_v2::vocabulary
