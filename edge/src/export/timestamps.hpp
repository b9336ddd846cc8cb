// Parsing timestamp cells into microseconds, either a UTC instant or a naive wall time.
#pragma once

#include <cstdint>
#include <string_view>

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

struct ParsedTime {
    std::int64_t us = 0;  // since 1970-01-01T00:00:00, UTC or wall
    bool naive = false;   // a wall time, still to be resolved in the zone
};

struct TimeSyntax {
    TimestampFormat format = TimestampFormat::Auto;
    bool day_first = false;
    char decimal = '.';
};

// False when `cell` (trimmed by the caller) is no timestamp in `syntax`.
bool parse_timestamp(std::string_view cell, const TimeSyntax& syntax, ParsedTime& out) noexcept;

// "YYYY-MM-DD hh:mm:ss" (or 'T'), the commonest form, with the day number of the last date kept:
// rows of one day share it. Same answers as parse_timestamp; false sends the cell there.
struct IsoFastPath {
    char last_date[10] = {};
    std::int64_t last_days = 0;
    bool primed = false;

    bool parse(std::string_view cell, ParsedTime& out) noexcept;
};

}  // namespace qorv_chemical_engineering_edge::export_profile
