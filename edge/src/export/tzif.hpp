// Time zones from TZif data (RFC 8536): the system's zoneinfo files or bytes a caller supplies.
//
// A zone is kept as UTC periods with a fixed offset each: the transitions of the file's 64-bit
// section, continued past the last one by the footer's POSIX TZ rule up to the year 2200 (later
// instants keep the last offset). Resolving a wall time finds every period that maps to it, so
// the repeated hour of an autumn change yields two instants and a spring gap yields none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qorv_chemical_engineering_edge::export_profile::tz {

// RFC 8536 bounds a UT offset to -89999..93599 seconds; that keeps wall-time arithmetic on
// instants of the supported range far from int64's ends. Zones outside are refused.
inline constexpr std::int32_t kMinOffset = -89999, kMaxOffset = 93599;

struct Period {
    std::int64_t utc_start;  // seconds; the first period starts at the lowest int64
    std::int32_t offset;     // seconds east of UTC
    bool is_dst;
};

enum class WallKind : std::uint8_t { Unique, Repeated, Gap };

struct WallResolution {
    WallKind kind = WallKind::Unique;
    std::int64_t first_s = 0;   // Unique: the instant; Repeated: the earlier; Gap: moved forward
    std::int64_t second_s = 0;  // Repeated: the later instant
    std::int64_t window_s = 0;  // Repeated: the transition's UTC second, naming the repeated hour
};

class Zone {
  public:
    static Zone utc();
    // Parses TZif bytes; absent when they are not a valid TZif file.
    static std::optional<Zone> from_tzif(std::string_view bytes);

    // Daylight saving in the zone's current rule (the TZif footer), or in any period without one.
    bool has_dst() const noexcept { return has_dst_; }
    std::int32_t offset_at(std::int64_t utc_s) const noexcept;
    WallResolution resolve(std::int64_t wall_s) const noexcept;

    const std::vector<Period>& periods() const noexcept { return periods_; }

  private:
    std::vector<Period> periods_;  // never empty, sorted by utc_start
    bool has_dst_ = false;
};

// An IANA-style name: at most 255 bytes of parts joined by '/', each part non-empty, not "."
// or "..", not starting with '-', of letters, digits and . _ + - only. Checked before any file
// is looked up, so a name can neither leave the zone folder nor be absurdly long. The error
// text names the zone and says what is wrong.
bool valid_zone_name(std::string_view name, std::string* error);

// Loads a zone by IANA name from $TZDIR or /usr/share/zoneinfo. "UTC" needs no file. The error
// text says why the zone is unusable.
std::optional<Zone> load_zone(std::string_view name, std::string* error);

// The one way a zone is made from what a caller gives: the name is checked first (it is sealed
// with the profile), then the TZif bytes are read when given, else the name is looked up. An
// empty name is UTC. The error text names the zone or says the bytes are no TZif data.
std::optional<Zone> zone_of(std::string_view name, std::string_view tzif, std::string* error);

}  // namespace qorv_chemical_engineering_edge::export_profile::tz
