// The first court's vocabulary: the closed list of engineering units that `parse_unit` resolves
// against.
//
// Each entry is one unit: its written forms (already normalised: lower case, no '^', no leading
// degree sign), its dimension, the factor and affine offset to the coherent base unit, and the
// composition basis of a dimensionless fraction. There are no prefixes and no composition of
// units from parts: a text is a unit only if it is one of these forms.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string_view>

#include "qorv_chemical_engineering_edge/unit_consistency.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency::unit_vocabulary {

// The most written forms any one entry has ("", "-", "ratio", "dimensionless").
inline constexpr std::size_t kMaxFormsPerEntry = 4;

// Byte length of the longest form ("dimensionless"). A normalised text longer than this
// cannot be in the table.
inline constexpr std::size_t kLongestForm = 13;

// The written forms of one entry. The empty text is a real form, so the count is kept
// explicitly rather than marked by an empty slot.
struct FormList {
    std::array<std::string_view, kMaxFormsPerEntry> text{};
    std::size_t count = 0;

    constexpr FormList(std::initializer_list<std::string_view> forms) {
        for (std::string_view form : forms) text[count++] = form;
    }

    constexpr std::span<const std::string_view> view() const { return {text.data(), count}; }
};

struct UnitEntry {
    std::string_view quantity;  // what the unit measures; for readers of the table only
    FormList forms;
    ParsedUnit unit;
};

// Every entry, in table order.
std::span<const UnitEntry> entries() noexcept;

// The entry whose form is exactly `normalised`, or null. No allocation.
const UnitEntry* find(std::string_view normalised) noexcept;

}  // namespace qorv_chemical_engineering_edge::unit_consistency::unit_vocabulary
