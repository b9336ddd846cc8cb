// Parsing timestamp cells into microseconds, either a UTC instant or a naive wall time.
#pragma once

#include <cstdint>
#include <string_view>

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

struct ParsedTime {
    std::int64_t us = 0;  // since 1970-01-01T00:00:00, UTC or wall
    bool naive = false;   // a wall time, still to be resolved in the zone
    // A slash date's leading fields as written and its year (two digits already pivoted), set
    // whether or not the cell parses: the evidence for the day/month order. 0: no slash date.
    std::uint8_t slash_first = 0, slash_second = 0;
    std::uint16_t slash_year = 0;
};

// Two-digit years: 00-68 are 2000-2068, 69-99 are 1969-1999 (the pivot C's %y uses).
constexpr int full_year(int two_digits) noexcept {
    return two_digits + (two_digits < 69 ? 2000 : 1900);
}

struct TimeSyntax {
    TimestampFormat format = TimestampFormat::Auto;
    bool day_first = false;
    char decimal = '.';
};

// False when `cell` (trimmed by the caller) is no timestamp in `syntax`.
bool parse_timestamp(std::string_view cell, const TimeSyntax& syntax, ParsedTime& out) noexcept;

// Whether `cell` is a timestamp in `syntax`, or with `either_order` in the other day/month order.
bool is_timestamp(std::string_view cell, const TimeSyntax& syntax, bool either_order) noexcept;

// "YYYY-MM-DD hh:mm:ss" (or 'T'), the commonest form, with the day number of the last date kept:
// rows of one day share it. Same answers as parse_timestamp; false sends the cell there.
struct IsoFastPath {
    char last_date[10] = {};
    std::int64_t last_days = 0;
    bool primed = false;

    bool parse(std::string_view cell, ParsedTime& out) noexcept;
};

}  // namespace qorv_chemical_engineering_edge::export_profile
