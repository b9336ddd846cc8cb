// Proleptic Gregorian calendar arithmetic on day numbers (days since 1970-01-01), shared by the
// timestamp parser and the time-zone rules.
#pragma once

#include <cstdint>

namespace qorv_chemical_engineering_edge::export_profile {

constexpr std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) noexcept {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

constexpr CivilDate civil_from_days(std::int64_t z) noexcept {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

constexpr bool is_leap(std::int64_t y) noexcept {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

constexpr unsigned days_in_month(std::int64_t y, unsigned m) noexcept {
    constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && is_leap(y) ? 29 : kDays[m - 1];
}

// The instants a profile holds: 0001-01-01T00:00:00Z to 9999-12-31T23:59:59.999999Z, in
// microseconds since 1970-01-01T00:00:00Z. Outside it no calendar date of four digits names the
// instant, and callers (Python's datetime among them) cannot represent it.
inline constexpr std::int64_t kMinInstantUs = days_from_civil(1, 1, 1) * 86'400'000'000;
inline constexpr std::int64_t kMaxInstantUs = days_from_civil(10000, 1, 1) * 86'400'000'000 - 1;

constexpr bool in_supported_range(std::int64_t us) noexcept {
    return us >= kMinInstantUs && us <= kMaxInstantUs;
}

// 0 = Sunday.
constexpr unsigned weekday(std::int64_t days) noexcept {
    return static_cast<unsigned>((days % 7 + 11) % 7);
}

}  // namespace qorv_chemical_engineering_edge::export_profile
