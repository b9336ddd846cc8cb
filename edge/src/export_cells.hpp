// Classifying one export cell: number, bad-state text, other text or empty; good quality or not.
// Called for every cell, so none of these allocate.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qorv_chemical_engineering_edge::export_profile {

// Trims ASCII spaces and tabs at both ends.
std::string_view trim(std::string_view s) noexcept;

// [sign] digits [decimal digits] [e|E [sign] digits], with a digit on at least one side of the
// separator. `s` is trimmed.
bool is_number(std::string_view s, char decimal) noexcept;

// The value of a text that is_number accepts.
std::optional<double> to_double(std::string_view s, char decimal) noexcept;

// The bad-state list: canonical spellings. -1 when `s` (trimmed) is none of them in any case.
int bad_state_index(std::string_view s) noexcept;
std::span<const std::string_view> bad_state_list() noexcept;

// Case-insensitive ASCII equality.
bool iequals(std::string_view a, std::string_view b) noexcept;

// Good quality: the declared list when it is not empty, else empty, good, g, ok, 192.
bool is_good_quality(std::string_view s, const std::vector<std::string>& declared) noexcept;

}  // namespace qorv_chemical_engineering_edge::export_profile
