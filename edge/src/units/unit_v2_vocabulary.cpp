// The vocabulary of process plants, written once as data.
//
// Each row is one unit: its spellings (normalised, '|'-separated), how it is written back, its
// dimension over M, L, T, Θ, N, I, the factor and offset to the coherent SI unit, the prefixes
// it takes, and what it carries beyond that (pressure reference, volume reference state with
// its conditions, fraction basis). Factors are the exact SI and NIST definitions, written as
// the expressions that define them where that is clearer than a decimal.
//
// Choices worth knowing: "cal" is the thermochemical calorie (4.184 J) and "Btu" the
// International Table one; "gal" and "gpm" are US, "igpm" imperial (4.54609 L a gallon);
// "pph" is pounds per hour, as steam and fuel meters write it, and "klb", "Mlb", "KPPH",
// "KSCFH" take k or field M as a thousand; "hp" is mechanical (550 ft*lbf/s); "t" is the
// tonne; "C" and "F" alone are degrees; "kg/cm2" is the pressure kgf/cm2, as plants mean it;
// standard conditions are 15 degC and 101.325 kPa for Sm3 and scm, 60 degF and 14.696 psi for
// scf; normal conditions 0 degC and 101.325 kPa. Rows marked Ambiguous are refused with their
// reason rather than guessed.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "units/unit_v2_vocabulary.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency_v2::vocabulary {
namespace {

using enum Role;
constexpr auto Actual = VolumeReference::Actual;
constexpr auto Normal = VolumeReference::Normal;
constexpr auto Standard = VolumeReference::Standard;
constexpr auto Unstated = FractionBasis::Unstated;
constexpr auto Mass = FractionBasis::Mass;
constexpr auto Mole = FractionBasis::Mole;
constexpr auto Volume = FractionBasis::Volume;

// Exponents of mass, length, time, temperature, amount and current, in that order.
constexpr DimensionV2 kNone{};
constexpr DimensionV2 kMass{1, 0, 0, 0, 0, 0};
constexpr DimensionV2 kLength{0, 1, 0, 0, 0, 0};
constexpr DimensionV2 kTime{0, 0, 1, 0, 0, 0};
constexpr DimensionV2 kTemperature{0, 0, 0, 1, 0, 0};
constexpr DimensionV2 kAmount{0, 0, 0, 0, 1, 0};
constexpr DimensionV2 kCurrent{0, 0, 0, 0, 0, 1};
constexpr DimensionV2 kVolume{0, 3, 0, 0, 0, 0};
constexpr DimensionV2 kVolumeFlow{0, 3, -1, 0, 0, 0};
constexpr DimensionV2 kMassFlow{1, 0, -1, 0, 0, 0};
constexpr DimensionV2 kFrequency{0, 0, -1, 0, 0, 0};
constexpr DimensionV2 kForce{1, 1, -2, 0, 0, 0};
constexpr DimensionV2 kPressure{1, -1, -2, 0, 0, 0};
constexpr DimensionV2 kEnergy{1, 2, -2, 0, 0, 0};
constexpr DimensionV2 kPower{1, 2, -3, 0, 0, 0};
constexpr DimensionV2 kDynamicViscosity{1, -1, -1, 0, 0, 0};
constexpr DimensionV2 kKinematicViscosity{0, 2, -1, 0, 0, 0};
constexpr DimensionV2 kVoltage{1, 2, -3, 0, 0, -1};
constexpr DimensionV2 kResistance{1, 2, -3, 0, 0, -2};
constexpr DimensionV2 kConductance{-1, -2, 3, 0, 0, 2};

// Defining constants (exact by definition).
constexpr double kInch = 0.0254;
constexpr double kFoot = 0.3048;
constexpr double kPound = 0.45359237;
constexpr double kGravity = 9.80665;
constexpr double kGallon = 231.0 * kInch * kInch * kInch;  // US liquid gallon, 231 in3
constexpr double kBarrel = 42.0 * kGallon;
constexpr double kCubicFoot = kFoot * kFoot * kFoot;
constexpr double kPoundForce = kPound * kGravity;
constexpr double kPsi = kPoundForce / (kInch * kInch);
constexpr double kMinute = 60.0, kHour = 3600.0, kDay = 86400.0;

// Reference states.
constexpr double kNormalT = 273.15, kStandardT = 288.15, kAtm = 101325.0;
constexpr double kScfT = (60.0 + 459.67) * 5.0 / 9.0;
constexpr double kScfP = 14.696 * kPsi;

constexpr std::uint16_t kSiSmall = kBare | kMilli | kMicro;
constexpr std::uint16_t kSiLarge = kBare | kKilo | kMega | kGiga | kTera;
constexpr std::uint16_t kField = kBare | kFieldM | kFieldMM;

// One unit per row reads as the table it is.
// clang-format off
constexpr std::array kUnits = std::to_array<UnitDef>({
    // Length, mass, time.
    {.spellings = "m|metre|meter|metres|meters", .canonical = "m", .dim = kLength,
     .prefixes = kBare | kKilo | kCenti | kMilli | kMicro | kDeci},
    {.spellings = "micron|microns", .canonical = "um", .dim = kLength, .scale = 1e-6},
    {.spellings = "in|inch|inches", .canonical = "in", .dim = kLength, .scale = kInch},
    {.spellings = "ft|feet|foot", .canonical = "ft", .dim = kLength, .scale = kFoot},
    {.spellings = "yd", .canonical = "yd", .dim = kLength, .scale = 3.0 * kFoot},
    {.spellings = "g|gram|grams", .canonical = "g", .dim = kMass, .scale = 1e-3,
     .prefixes = kBare | kKilo | kMilli | kMicro},
    {.spellings = "t|tonne|tonnes", .canonical = "t", .dim = kMass, .scale = 1e3,
     .prefixes = kBare | kKilo | kMega},
    {.spellings = "lb|lbs|lbm", .canonical = "lb", .dim = kMass, .scale = kPound,
     .prefixes = kBare | kKilo | kFieldM | kFieldMM},
    {.spellings = "s|sec|secs", .canonical = "s", .dim = kTime, .prefixes = kBare | kMilli},
    {.spellings = "min|mins", .canonical = "min", .dim = kTime, .scale = kMinute},
    {.spellings = "h|hr|hrs|hour|hours", .canonical = "h", .dim = kTime, .scale = kHour},
    {.spellings = "d|day|days", .canonical = "d", .dim = kTime, .scale = kDay},

    // Temperature: the degree scales carry their offsets only when they stand alone.
    {.spellings = "K|kelvin|degK", .canonical = "K", .dim = kTemperature},
    {.spellings = "degC|C|celsius|Cel|oC|centigrade", .canonical = "degC", .dim = kTemperature,
     .offset = 273.15},
    {.spellings = "degF|F|fahrenheit|oF", .canonical = "degF", .dim = kTemperature,
     .scale = 5.0 / 9.0, .offset = 273.15 - 32.0 * 5.0 / 9.0},
    {.spellings = "degR|rankine", .canonical = "degR", .dim = kTemperature, .scale = 5.0 / 9.0},

    // Amount and current.
    {.spellings = "mol|mole|moles", .canonical = "mol", .dim = kAmount,
     .prefixes = kBare | kKilo | kMilli | kMicro},
    {.spellings = "kgmol|kgmole", .canonical = "kgmol", .dim = kAmount, .scale = 1e3},
    {.spellings = "lbmol|lbmole", .canonical = "lbmol", .dim = kAmount, .scale = 1e3 * kPound},
    {.spellings = "A|amp|amps|ampere", .canonical = "A", .dim = kCurrent,
     .prefixes = kSiSmall | kKilo},

    // Volume: plain volumes are actual; normal and standard ones carry their conditions.
    {.spellings = "L|l|liter|litre|liters|litres", .canonical = "L", .dim = kVolume, .scale = 1e-3,
     .prefixes = kBare | kMilli | kMicro | kCenti | kDeci | kHecto | kKilo, .volume = Actual},
    {.spellings = "cc", .canonical = "cc", .dim = kVolume, .scale = 1e-6, .volume = Actual},
    {.spellings = "gal|usgal|USgal", .canonical = "gal", .dim = kVolume, .scale = kGallon,
     .volume = Actual},
    {.spellings = "impgal|ukgal|UKgal", .canonical = "impgal", .dim = kVolume, .scale = 4.54609e-3,
     .volume = Actual},
    {.spellings = "bbl|bbls|barrel|barrels", .canonical = "bbl", .dim = kVolume, .scale = kBarrel,
     .prefixes = kField | kKilo, .volume = Actual},
    {.spellings = "acf", .canonical = "acf", .dim = kVolume, .scale = kCubicFoot, .volume = Actual},
    {.spellings = "Am", .canonical = "Am", .dim = kLength, .role = CubeOnly, .volume = Actual},
    {.spellings = "Nm", .canonical = "Nm", .dim = kLength, .prefixes = kBare | kKilo,
     .role = CubeOnly, .volume = Normal, .reference_temperature_k = kNormalT,
     .reference_pressure_pa = kAtm},
    {.spellings = "Nl|NL", .canonical = "NL", .dim = kVolume, .scale = 1e-3, .volume = Normal,
     .reference_temperature_k = kNormalT, .reference_pressure_pa = kAtm},
    {.spellings = "Sm", .canonical = "Sm", .dim = kLength,
     .prefixes = kBare | kKilo | kMega | kGiga, .role = CubeOnly, .volume = Standard,
     .reference_temperature_k = kStandardT, .reference_pressure_pa = kAtm},
    {.spellings = "scm", .canonical = "scm", .dim = kVolume,
     .prefixes = kBare | kKilo | kMega | kFieldMM, .volume = Standard,
     .reference_temperature_k = kStandardT, .reference_pressure_pa = kAtm},
    {.spellings = "scf", .canonical = "scf", .dim = kVolume, .scale = kCubicFoot,
     .prefixes = kField | kKilo, .volume = Standard, .reference_temperature_k = kScfT,
     .reference_pressure_pa = kScfP},

    // Flows written as one word.
    {.spellings = "gpm|usgpm|USgpm", .canonical = "gpm", .dim = kVolumeFlow,
     .scale = kGallon / kMinute, .volume = Actual},
    {.spellings = "igpm|impgpm|ukgpm|UKgpm", .canonical = "igpm", .dim = kVolumeFlow,
     .scale = 4.54609e-3 / kMinute, .volume = Actual},
    {.spellings = "gph", .canonical = "gph", .dim = kVolumeFlow, .scale = kGallon / kHour,
     .volume = Actual},
    {.spellings = "lpm", .canonical = "lpm", .dim = kVolumeFlow, .scale = 1e-3 / kMinute,
     .volume = Actual},
    {.spellings = "lph", .canonical = "lph", .dim = kVolumeFlow, .scale = 1e-3 / kHour,
     .volume = Actual},
    {.spellings = "bpd|bopd|bwpd|blpd", .canonical = "bpd", .dim = kVolumeFlow,
     .scale = kBarrel / kDay, .prefixes = kField | kKilo, .volume = Actual},
    {.spellings = "cfm|acfm", .canonical = "acfm", .dim = kVolumeFlow,
     .scale = kCubicFoot / kMinute, .volume = Actual},
    {.spellings = "acfh", .canonical = "acfh", .dim = kVolumeFlow, .scale = kCubicFoot / kHour,
     .volume = Actual},
    {.spellings = "scfm", .canonical = "scfm", .dim = kVolumeFlow, .scale = kCubicFoot / kMinute,
     .prefixes = kField | kKilo, .volume = Standard, .reference_temperature_k = kScfT,
     .reference_pressure_pa = kScfP},
    {.spellings = "scfh", .canonical = "scfh", .dim = kVolumeFlow, .scale = kCubicFoot / kHour,
     .prefixes = kField | kKilo, .volume = Standard, .reference_temperature_k = kScfT,
     .reference_pressure_pa = kScfP},
    {.spellings = "scfd", .canonical = "scfd", .dim = kVolumeFlow, .scale = kCubicFoot / kDay,
     .prefixes = kField | kKilo, .volume = Standard, .reference_temperature_k = kScfT,
     .reference_pressure_pa = kScfP},
    {.spellings = "scmh", .canonical = "scmh", .dim = kVolumeFlow, .scale = 1.0 / kHour,
     .prefixes = kBare | kKilo | kMega | kFieldMM, .volume = Standard,
     .reference_temperature_k = kStandardT, .reference_pressure_pa = kAtm},
    {.spellings = "scmd", .canonical = "scmd", .dim = kVolumeFlow, .scale = 1.0 / kDay,
     .prefixes = kBare | kKilo | kMega | kFieldMM, .volume = Standard,
     .reference_temperature_k = kStandardT, .reference_pressure_pa = kAtm},
    {.spellings = "pph|lbph", .canonical = "pph", .dim = kMassFlow, .scale = kPound / kHour,
     .prefixes = kBare | kKilo | kFieldM},
    {.spellings = "tph", .canonical = "tph", .dim = kMassFlow, .scale = 1e3 / kHour},
    {.spellings = "tpd", .canonical = "tpd", .dim = kMassFlow, .scale = 1e3 / kDay},
    {.spellings = "rpm", .canonical = "rpm", .dim = kFrequency, .scale = 1.0 / kMinute},
    {.spellings = "rev", .canonical = "rev", .dim = kNone},
    {.spellings = "Hz", .canonical = "Hz", .dim = kFrequency,
     .prefixes = kBare | kKilo | kMega | kGiga},

    // Force, pressure.
    {.spellings = "N|newton|newtons", .canonical = "N", .dim = kForce,
     .prefixes = kBare | kKilo | kMega},
    {.spellings = "kgf", .canonical = "kgf", .dim = kForce, .scale = kGravity},
    {.spellings = "lbf", .canonical = "lbf", .dim = kForce, .scale = kPoundForce},
    {.spellings = "Pa", .canonical = "Pa", .dim = kPressure,
     .prefixes = kBare | kMilli | kHecto | kKilo | kMega | kGiga, .role = Pressure},
    {.spellings = "bar|bars", .canonical = "bar", .dim = kPressure, .scale = 1e5,
     .prefixes = kBare | kMilli, .role = Pressure},
    {.spellings = "psi", .canonical = "psi", .dim = kPressure, .scale = kPsi, .role = Pressure},
    {.spellings = "atm", .canonical = "atm", .dim = kPressure, .scale = kAtm, .role = Pressure},
    {.spellings = "torr|Torr", .canonical = "Torr", .dim = kPressure, .scale = kAtm / 760.0,
     .prefixes = kBare | kMilli, .role = Pressure},
    {.spellings = "mmHg", .canonical = "mmHg", .dim = kPressure, .scale = 133.322387415,
     .role = Pressure},
    {.spellings = "inHg", .canonical = "inHg", .dim = kPressure,
     .scale = 133.322387415 * kInch / 1e-3, .role = Pressure},
    {.spellings = "mmH2O|mmWC|mmWG", .canonical = "mmH2O", .dim = kPressure,
     .scale = 1e-3 * 1000.0 * kGravity, .role = Pressure},
    {.spellings = "cmH2O|cmWC", .canonical = "cmH2O", .dim = kPressure,
     .scale = 1e-2 * 1000.0 * kGravity, .role = Pressure},
    {.spellings = "mH2O|mWC", .canonical = "mH2O", .dim = kPressure, .scale = 1000.0 * kGravity,
     .role = Pressure},
    {.spellings = "inH2O|inWC|inWG", .canonical = "inH2O", .dim = kPressure,
     .scale = kInch * 1000.0 * kGravity, .role = Pressure},
    {.spellings = "ftH2O|ftWC", .canonical = "ftH2O", .dim = kPressure,
     .scale = kFoot * 1000.0 * kGravity, .role = Pressure},
    {.spellings = "kg/cm2|kg/cm^2|kgf/cm2|kgf/cm^2|ksc", .canonical = "kgf/cm2", .dim = kPressure,
     .scale = 98066.5, .role = Pressure},

    // Energy, power.
    {.spellings = "J|joule|joules", .canonical = "J", .dim = kEnergy, .prefixes = kSiLarge},
    {.spellings = "Wh", .canonical = "Wh", .dim = kEnergy, .scale = kHour, .prefixes = kSiLarge},
    {.spellings = "cal", .canonical = "cal", .dim = kEnergy, .scale = 4.184,
     .prefixes = kBare | kKilo | kMega | kGiga},
    {.spellings = "Btu|BTU|btu", .canonical = "Btu", .dim = kEnergy, .scale = 1055.05585262,
     .prefixes = kBare | kFieldMM},
    {.spellings = "W|watt|watts", .canonical = "W", .dim = kPower, .prefixes = kSiLarge | kMilli},
    {.spellings = "VA", .canonical = "VA", .dim = kPower, .prefixes = kBare | kKilo | kMega},
    {.spellings = "hp", .canonical = "hp", .dim = kPower, .scale = 550.0 * kFoot * kPoundForce},

    // Viscosity.
    {.spellings = "P|poise", .canonical = "P", .dim = kDynamicViscosity, .scale = 0.1,
     .prefixes = kBare | kCenti},
    {.spellings = "St|stokes", .canonical = "St", .dim = kKinematicViscosity, .scale = 1e-4,
     .prefixes = kBare | kCenti},

    // Electrical. Siemens needs its prefix, so that a bare "S" in capitals stays a second.
    {.spellings = "V|volt|volts", .canonical = "V", .dim = kVoltage,
     .prefixes = kBare | kMilli | kKilo},
    {.spellings = "ohm|ohms", .canonical = "ohm", .dim = kResistance,
     .prefixes = kBare | kMilli | kKilo | kMega},
    {.spellings = "S", .canonical = "S", .dim = kConductance, .prefixes = kMilli | kMicro},

    // Dimensionless numbers and fractions.
    {.spellings = "ratio|dimensionless|fraction|frac|unitless", .canonical = "1", .dim = kNone},
    {.spellings = "%|pct|percent", .canonical = "%", .dim = kNone, .scale = 1e-2, .role = Fraction,
     .basis = Unstated},
    {.spellings = "ppm", .canonical = "ppm", .dim = kNone, .scale = 1e-6, .role = Fraction,
     .basis = Unstated},
    {.spellings = "ppb", .canonical = "ppb", .dim = kNone, .scale = 1e-9, .role = Fraction,
     .basis = Unstated},
    {.spellings = "wt%|wtpct|wt_pct|mass%|masspct|%w/w", .canonical = "wt%", .dim = kNone, .scale = 1e-2,
     .role = Fraction, .basis = Mass},
    {.spellings = "w/w|massfrac|mass_frac", .canonical = "w/w", .dim = kNone, .role = Fraction,
     .basis = Mass},
    {.spellings = "mol%|mole%|molpct|mol_pct", .canonical = "mol%", .dim = kNone, .scale = 1e-2,
     .role = Fraction, .basis = Mole},
    {.spellings = "molfrac|molefrac|mole_frac", .canonical = "mol/mol", .dim = kNone,
     .role = Fraction, .basis = Mole},
    {.spellings = "vol%|volpct|vol_pct|%v/v", .canonical = "vol%", .dim = kNone, .scale = 1e-2,
     .role = Fraction, .basis = Volume},
    {.spellings = "v/v|vol/vol|volfrac|vol_frac", .canonical = "v/v", .dim = kNone,
     .role = Fraction, .basis = Volume},
    {.spellings = "pH", .canonical = "pH", .dim = kNone, .role = Logarithmic},

    // Refused on purpose: each has two readings a plant could mean.
    {.spellings = "ton|tons", .canonical = "ton", .dim = kNone, .role = Ambiguous,
     .ambiguity = "short ton (907.18474 kg), long ton (1016.0469088 kg) or tonne (1000 kg)"},
    {.spellings = "MT", .canonical = "MT", .dim = kNone, .role = Ambiguous,
     .ambiguity = "metric ton (1000 kg) or megatonne"},
    {.spellings = "MBtu|MBTU", .canonical = "MBtu", .dim = kNone, .role = Ambiguous,
     .ambiguity = "a thousand Btu (M = 1000 in field units) or a million (SI mega)"},
    {.spellings = "ppt", .canonical = "ppt", .dim = kNone, .role = Ambiguous,
     .ambiguity = "parts per thousand or parts per trillion"},
    {.spellings = "slpm|slm|sccm|nlpm", .canonical = "slpm", .dim = kNone, .role = Ambiguous,
     .ambiguity = "standard litres, whose reference temperature depends on the maker "
                  "(0, 20, 21.1 or 25 degC)"},
    {.spellings = "M", .canonical = "M", .dim = kNone, .role = Ambiguous,
     .ambiguity = "molar (mol/L), or a prefix (mega, or thousand in field units) without a unit"},
    {.spellings = "cps", .canonical = "cps", .dim = kNone, .role = Ambiguous,
     .ambiguity = "centipoise or counts (cycles) per second"},
});
// clang-format on

}  // namespace

constinit const std::span<const UnitDef> kUnitTable = kUnits;

// Spellings with an operator in them, gathered from the table when compiling.
constinit const PhraseList kPhraseList = [] {
    PhraseList list;
    for (std::size_t u = 0; u < kUnits.size(); ++u) {
        std::string_view rest = kUnits[u].spellings;
        while (!rest.empty()) {
            const std::size_t bar = std::min(rest.find('|'), rest.size());
            const std::string_view spelling = rest.substr(0, bar);
            rest.remove_prefix(std::min(bar + 1, rest.size()));
            if (spelling.find_first_of("/^") == std::string_view::npos) continue;
            list.phrases[list.count++] = Phrase{spelling, static_cast<std::uint16_t>(u)};
            const char c = spelling[0];
            list.first[static_cast<unsigned char>(c)] = true;
            if (c >= 'a' && c <= 'z') list.first[static_cast<unsigned char>(c - 'a' + 'A')] = true;
            if (c >= 'A' && c <= 'Z') list.first[static_cast<unsigned char>(c - 'A' + 'a')] = true;
        }
    }
    return list;
}();

}  // namespace qorv_chemical_engineering_edge::unit_consistency_v2::vocabulary
