// The unit table, written once as data, and its compile-time lookup index.
//
// Scales and offsets are the doubles nearest to the decimals plant engineers quote; where a
// quotient stands in a row it evaluates to that same double. A few values are deliberate:
// "psig" is the same entry as "psi" (gauge and absolute are not told apart, neither has an
// offset), psi is 6894.757 and gpm 6.30902e-05 as commonly tabulated, "%" is a plain ratio
// rather than a composition fraction, and "t/h" is the metric tonne.
#include "units/unit_v1_vocabulary.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace qorv_chemical_engineering_edge::unit_consistency::unit_vocabulary {
namespace {

using enum CompositionBasis;

// Exponents of mass, length, time, temperature (Θ) and amount, in that order.
constexpr Dimension kTemperature{0, 0, 0, 1, 0};
constexpr Dimension kPressure{1, -1, -2, 0, 0};
constexpr Dimension kMassFlow{1, 0, -1, 0, 0};
constexpr Dimension kMolarFlow{0, 0, -1, 0, 1};
constexpr Dimension kVolumetricFlow{0, 3, -1, 0, 0};
constexpr Dimension kFrequency{0, 0, -1, 0, 0};
constexpr Dimension kPower{1, 2, -3, 0, 0};
constexpr Dimension kMass{1, 0, 0, 0, 0};
constexpr Dimension kLength{0, 1, 0, 0, 0};
constexpr Dimension kVolume{0, 3, 0, 0, 0};
constexpr Dimension kNone{0, 0, 0, 0, 0};

constexpr std::array<UnitEntry, 44> kEntries{{
    {"temperature", {"k", "kelvin"}, {kTemperature, 1.0, 0.0, Pure}},
    {"temperature", {"c", "degc", "celsius"}, {kTemperature, 1.0, 273.15, Pure}},
    {"temperature",
     {"f", "degf", "fahrenheit"},
     {kTemperature, 5.0 / 9.0, 273.15 - 32.0 * 5.0 / 9.0, Pure}},

    {"pressure", {"pa"}, {kPressure, 1.0, 0.0, Pure}},
    {"pressure", {"kpa"}, {kPressure, 1000.0, 0.0, Pure}},
    {"pressure", {"bar"}, {kPressure, 100000.0, 0.0, Pure}},
    {"pressure", {"mbar"}, {kPressure, 100.0, 0.0, Pure}},
    {"pressure", {"psi", "psig"}, {kPressure, 6894.757, 0.0, Pure}},
    {"pressure", {"atm"}, {kPressure, 101325.0, 0.0, Pure}},

    {"mass flow", {"kg/s"}, {kMassFlow, 1.0, 0.0, Pure}},
    {"mass flow", {"kg/h", "kg/hr"}, {kMassFlow, 1.0 / 3600.0, 0.0, Pure}},
    {"mass flow", {"g/s"}, {kMassFlow, 0.001, 0.0, Pure}},
    {"mass flow", {"t/h", "tonne/h"}, {kMassFlow, 1000.0 / 3600.0, 0.0, Pure}},
    {"mass flow", {"kg/min"}, {kMassFlow, 1.0 / 60.0, 0.0, Pure}},

    {"molar flow", {"mol/s"}, {kMolarFlow, 1.0, 0.0, Pure}},
    {"molar flow", {"mol/h"}, {kMolarFlow, 1.0 / 3600.0, 0.0, Pure}},
    {"molar flow", {"kmol/h"}, {kMolarFlow, 1000.0 / 3600.0, 0.0, Pure}},
    {"molar flow", {"mol/min"}, {kMolarFlow, 1.0 / 60.0, 0.0, Pure}},

    {"volumetric flow", {"m3/s"}, {kVolumetricFlow, 1.0, 0.0, Pure}},
    {"volumetric flow", {"m3/h"}, {kVolumetricFlow, 1.0 / 3600.0, 0.0, Pure}},
    {"volumetric flow", {"l/s"}, {kVolumetricFlow, 0.001, 0.0, Pure}},
    {"volumetric flow", {"l/min", "lpm"}, {kVolumetricFlow, 0.001 / 60.0, 0.0, Pure}},
    {"volumetric flow", {"l/h", "lph"}, {kVolumetricFlow, 0.001 / 3600.0, 0.0, Pure}},
    {"volumetric flow", {"gpm"}, {kVolumetricFlow, 6.30902e-05, 0.0, Pure}},

    {"frequency", {"hz", "1/s", "s-1"}, {kFrequency, 1.0, 0.0, Pure}},
    {"frequency", {"1/min"}, {kFrequency, 1.0 / 60.0, 0.0, Pure}},
    {"frequency", {"1/h"}, {kFrequency, 1.0 / 3600.0, 0.0, Pure}},

    {"power", {"w", "j/s"}, {kPower, 1.0, 0.0, Pure}},
    {"power", {"kw"}, {kPower, 1000.0, 0.0, Pure}},
    {"power", {"kj/min"}, {kPower, 1000.0 / 60.0, 0.0, Pure}},
    {"power", {"j/min"}, {kPower, 1.0 / 60.0, 0.0, Pure}},

    {"mass", {"kg"}, {kMass, 1.0, 0.0, Pure}},
    {"mass", {"g"}, {kMass, 0.001, 0.0, Pure}},

    {"length", {"m"}, {kLength, 1.0, 0.0, Pure}},
    {"length", {"cm"}, {kLength, 0.01, 0.0, Pure}},
    {"length", {"mm"}, {kLength, 0.001, 0.0, Pure}},

    {"volume", {"m3"}, {kVolume, 1.0, 0.0, Pure}},
    {"volume", {"l", "liter", "litre"}, {kVolume, 0.001, 0.0, Pure}},

    {"dimensionless", {"", "-", "ratio", "dimensionless"}, {kNone, 1.0, 0.0, Pure}},
    {"dimensionless", {"%"}, {kNone, 0.01, 0.0, Pure}},

    {"mass fraction", {"wt%", "wt_pct", "mass%"}, {kNone, 0.01, 0.0, MassFraction}},
    {"mass fraction", {"kg/kg", "mass_frac", "massfraction"}, {kNone, 1.0, 0.0, MassFraction}},

    {"mole fraction", {"mol%", "mole%"}, {kNone, 0.01, 0.0, MoleFraction}},
    {"mole fraction", {"mol/mol", "mole_frac", "molefraction"}, {kNone, 1.0, 0.0, MoleFraction}},
}};

// A form packed into two words: bytes 0-7 in `lo`, bytes 8-12 and the length in `hi`. The
// length keeps "kg" apart from "kg" followed by a NUL byte.
struct FormKey {
    std::uint64_t lo = 0;
    std::uint64_t hi = 0;

    friend constexpr bool operator==(const FormKey&, const FormKey&) = default;
};

static_assert(kLongestForm < 16, "a form and its length must fit in one FormKey");

// `text` must be at most kLongestForm bytes.
constexpr FormKey make_key(std::string_view text) noexcept {
    FormKey key;
    for (std::size_t i = 0; i < text.size() && i < 8; ++i) {
        key.lo |= std::uint64_t{static_cast<unsigned char>(text[i])} << (8 * i);
    }
    for (std::size_t i = 8; i < text.size(); ++i) {
        key.hi |= std::uint64_t{static_cast<unsigned char>(text[i])} << (8 * (i - 8));
    }
    key.hi |= std::uint64_t{text.size()} << 56;
    return key;
}

struct IndexSlot {
    FormKey key;
    std::uint8_t entry = 0;
};

constexpr std::size_t count_forms() {
    std::size_t n = 0;
    for (const UnitEntry& e : kEntries) n += e.forms.count;
    return n;
}

constexpr std::size_t kFormCount = count_forms();
static_assert(kFormCount == 69);

constexpr std::array<IndexSlot, kFormCount> build_index() {
    std::array<IndexSlot, kFormCount> index{};
    std::size_t n = 0;
    for (std::size_t e = 0; e < kEntries.size(); ++e) {
        for (std::string_view form : kEntries[e].forms.view()) {
            index[n++] = {make_key(form), static_cast<std::uint8_t>(e)};
        }
    }
    return index;
}

constexpr std::array<IndexSlot, kFormCount> kIndex = build_index();

// The parser relies on every form being ASCII: it turns away a text as soon as its normalised
// form holds a byte above 0x7F or grows past the longest form.
constexpr bool forms_are_short_ascii_and_unique() {
    std::size_t longest = 0;
    for (const UnitEntry& e : kEntries) {
        for (std::string_view form : e.forms.view()) {
            longest = std::max(longest, form.size());
            for (char c : form) {
                if (static_cast<unsigned char>(c) > 0x7F) return false;
            }
        }
    }
    for (std::size_t i = 0; i < kIndex.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (kIndex[i].key == kIndex[j].key) return false;
        }
    }
    return longest == kLongestForm;
}
static_assert(forms_are_short_ascii_and_unique(),
              "forms must be unique ASCII texts, the longest 13 bytes");

// Looked up by hashing: one multiplication picks a key's place in a table of 1024, holding one
// plus its position in kIndex (0 where no form hashes). The multiplier is searched for at compile
// time so that no two forms share a place. A lookup is then one probe and one comparison instead
// of a binary search: parse_unit went from about 14 to 11 ns (bench: run_parse).
constexpr int kHashBits = 10;

constexpr std::size_t hash_place(const FormKey& key, std::uint64_t multiplier) noexcept {
    return static_cast<std::size_t>(((key.lo ^ (key.hi * 0x9E3779B97F4A7C15)) * multiplier) >>
                                    (64 - kHashBits));
}

struct HashedIndex {
    std::uint64_t multiplier = 0;
    std::array<std::uint8_t, std::size_t{1} << kHashBits> place{};
};

constexpr HashedIndex build_hashed_index() {
    static_assert(kFormCount < 255);
    for (std::uint64_t multiplier = 0xD6E8FEB86659FD93;; multiplier += 0x9E3779B97F4A7C16) {
        HashedIndex index{multiplier | 1, {}};
        bool collides = false;
        for (std::size_t i = 0; i < kIndex.size() && !collides; ++i) {
            std::uint8_t& place = index.place[hash_place(kIndex[i].key, index.multiplier)];
            collides = place != 0;
            place = static_cast<std::uint8_t>(i + 1);
        }
        if (!collides) return index;
    }
}

constexpr HashedIndex kHashedIndex = build_hashed_index();

}  // namespace

std::span<const UnitEntry> entries() noexcept {
    return kEntries;
}

const UnitEntry* find(std::string_view normalised) noexcept {
    if (normalised.size() > kLongestForm) return nullptr;
    const FormKey key = make_key(normalised);
    const std::uint8_t place = kHashedIndex.place[hash_place(key, kHashedIndex.multiplier)];
    if (place == 0 || !(kIndex[place - 1].key == key)) return nullptr;
    return &kEntries[kIndex[place - 1].entry];
}

}  // namespace qorv_chemical_engineering_edge::unit_consistency::unit_vocabulary
