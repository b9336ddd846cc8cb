// TZif parsing, POSIX TZ footer rules and wall-time resolution.
#include "export/tzif.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "export/civil.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace tz {
namespace {

constexpr std::int64_t kLowest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kRuleHorizonYear = 2200;

struct Reader {
    std::string_view b;
    std::size_t at = 0;
    bool fail = false;

    bool need(std::size_t n) {
        if (b.size() - at < n) fail = true;
        return !fail;
    }
    std::int64_t be(std::size_t n) {
        if (!need(n)) return 0;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
        at += n;
        if (n == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
        return static_cast<std::int64_t>(v);
    }
    void skip(std::size_t n) {
        if (need(n)) at += n;
    }
};

struct Counts {
    std::uint32_t isut, isstd, leap, time, type, chars;
};

bool read_header(Reader& r, char& version, Counts& c) {
    if (!r.need(44) || r.b.substr(r.at, 4) != "TZif") return false;
    version = r.b[r.at + 4];
    r.skip(20);
    c.isut = static_cast<std::uint32_t>(r.be(4));
    c.isstd = static_cast<std::uint32_t>(r.be(4));
    c.leap = static_cast<std::uint32_t>(r.be(4));
    c.time = static_cast<std::uint32_t>(r.be(4));
    c.type = static_cast<std::uint32_t>(r.be(4));
    c.chars = static_cast<std::uint32_t>(r.be(4));
    // RFC 8536: at least one type and one abbreviation byte; the indicator tables are empty or
    // one entry per type.
    return !r.fail && c.type >= 1 && c.type <= 256 && c.chars >= 1 && c.time <= (1u << 20) &&
           c.leap <= (1u << 20) && (c.isut == 0 || c.isut == c.type) &&
           (c.isstd == 0 || c.isstd == c.type);
}

// The bytes of a data block after its header, so every count is checked against the length
// before anything is allocated.
std::size_t block_bytes(const Counts& c, std::size_t time_size) {
    return std::size_t{c.time} * (time_size + 1) + std::size_t{c.type} * 6 + c.chars +
           std::size_t{c.leap} * (time_size + 4) + c.isstd + c.isut;
}

// ---- POSIX TZ rule ("CET-1CEST,M3.5.0,M10.5.0/3") -------------------------------------------

struct RuleDate {
    char kind = 'M';  // 'J' (1..365, no Feb 29), 'D' (0..365), 'M' (month.week.day)
    int a = 0, b = 0, c = 0;
    std::int32_t time = 7200;  // seconds after local midnight
};

struct PosixRule {
    std::int32_t std_offset = 0;  // east of UTC
    bool has_dst = false;
    std::int32_t dst_offset = 0;
    RuleDate start, end;
};

struct RuleParser {
    std::string_view s;
    std::size_t i = 0;
    bool ok = true;

    bool more() const { return i < s.size(); }
    char peek() const { return more() ? s[i] : '\0'; }
    int number() {
        if (!more() || s[i] < '0' || s[i] > '9') {
            ok = false;
            return 0;
        }
        int v = 0;
        while (more() && s[i] >= '0' && s[i] <= '9' && v < 100000) v = v * 10 + (s[i++] - '0');
        return v;
    }
    void zone_name() {
        if (peek() == '<') {
            while (more() && s[i] != '>') ++i;
            if (!more()) ok = false;
            ++i;
            return;
        }
        const std::size_t from = i;
        while (more() && ((s[i] >= 'A' && s[i] <= 'Z') || (s[i] >= 'a' && s[i] <= 'z'))) ++i;
        if (i - from < 3) ok = false;
    }
    // [+-]hh[:mm[:ss]] in seconds, hours up to max_hours (24 for an offset, 167 for a
    // transition time), minutes and seconds up to 59.
    std::int32_t hms(int max_hours) {
        int sign = 1;
        if (peek() == '+' || peek() == '-') sign = s[i++] == '-' ? -1 : 1;
        const int h = number();
        int m = 0, sec = 0;
        if (peek() == ':') {
            ++i;
            m = number();
            if (peek() == ':') {
                ++i;
                sec = number();
            }
        }
        if (h > max_hours || m > 59 || sec > 59) {
            ok = false;
            return 0;
        }
        return sign * (h * 3600 + m * 60 + sec);
    }
    RuleDate date() {
        RuleDate d;
        if (peek() == 'M') {
            ++i;
            d.kind = 'M';
            d.a = number();
            if (peek() != '.') ok = false;
            ++i;
            d.b = number();
            if (peek() != '.') ok = false;
            ++i;
            d.c = number();
            if (d.a < 1 || d.a > 12 || d.b < 1 || d.b > 5 || d.c > 6) ok = false;
        } else if (peek() == 'J') {
            ++i;
            d.kind = 'J';
            d.a = number();
            if (d.a < 1 || d.a > 365) ok = false;
        } else {
            d.kind = 'D';
            d.a = number();
            if (d.a > 365) ok = false;
        }
        if (peek() == '/') {
            ++i;
            d.time = hms(167);
        }
        return d;
    }
};

std::optional<PosixRule> parse_rule(std::string_view text) {
    RuleParser p{text};
    PosixRule r;
    p.zone_name();
    r.std_offset = -p.hms(24);
    if (p.ok && p.more()) {
        p.zone_name();
        r.has_dst = true;
        r.dst_offset = r.std_offset + 3600;
        if (p.more() && p.peek() != ',') r.dst_offset = -p.hms(24);
        if (p.peek() != ',') return std::nullopt;
        ++p.i;
        r.start = p.date();
        if (p.peek() != ',') return std::nullopt;
        ++p.i;
        r.end = p.date();
    }
    if (!p.ok || p.more()) return std::nullopt;
    return r;
}

// The local day number of a rule date in a year.
std::int64_t rule_day(const RuleDate& d, std::int64_t year) {
    const std::int64_t jan1 = days_from_civil(year, 1, 1);
    if (d.kind == 'J') return jan1 + d.a - 1 + (is_leap(year) && d.a >= 60 ? 1 : 0);
    if (d.kind == 'D') return jan1 + d.a;
    const auto month = static_cast<unsigned>(d.a);
    const std::int64_t first = days_from_civil(year, month, 1);
    const auto first_wd = static_cast<int>(weekday(first));
    std::int64_t day = first + (d.c - first_wd + 7) % 7 + 7 * (d.b - 1);
    while (day >= first + days_in_month(year, month)) day -= 7;
    return day;
}

void extend_with_rule(std::vector<Period>& periods, const PosixRule& rule) {
    const std::int64_t after = periods.back().utc_start;
    if (!rule.has_dst) {
        if (periods.back().offset != rule.std_offset &&
            after < std::numeric_limits<std::int64_t>::max())
            periods.push_back({after + 1, rule.std_offset, false});
        return;
    }
    const std::int64_t from_year =
        after == kLowest ? 1900 : std::max<std::int64_t>(1900, civil_from_days(after / 86400).year);
    for (std::int64_t y = from_year; y <= kRuleHorizonYear; ++y) {
        // Rule times are wall times of the offset in force before each change.
        const std::int64_t start =
            rule_day(rule.start, y) * 86400 + rule.start.time - rule.std_offset;
        const std::int64_t end = rule_day(rule.end, y) * 86400 + rule.end.time - rule.dst_offset;
        Period a{start, rule.dst_offset, true};
        Period b{end, rule.std_offset, false};
        if (end < start) std::swap(a, b);  // southern hemisphere
        for (const Period& p : {a, b})
            if (p.utc_start > periods.back().utc_start && p.offset != periods.back().offset)
                periods.push_back(p);
    }
}

}  // namespace

Zone Zone::utc() {
    Zone z;
    z.periods_.push_back({kLowest, 0, false});
    return z;
}

std::optional<Zone> Zone::from_tzif(std::string_view bytes) {
    Reader r{bytes};
    char version = 0;
    Counts c{};
    if (!read_header(r, version, c)) return std::nullopt;
    std::size_t time_size = 4;
    if (version >= '2') {
        // Skip the 32-bit section; the 64-bit one follows with its own header.
        r.skip(block_bytes(c, 4));
        if (!read_header(r, version, c)) return std::nullopt;
        time_size = 8;
    }
    if (!r.need(block_bytes(c, time_size))) return std::nullopt;
    std::vector<std::int64_t> times(c.time);
    for (auto& t : times) t = r.be(time_size);
    std::vector<std::uint8_t> index(c.time);
    for (auto& i : index) i = static_cast<std::uint8_t>(r.be(1));
    std::vector<std::int32_t> offsets(c.type);
    std::vector<bool> dst(c.type);
    for (std::uint32_t k = 0; k < c.type; ++k) {
        offsets[k] = static_cast<std::int32_t>(r.be(4));
        const std::int64_t is_dst = r.be(1);
        const std::int64_t abbreviation = r.be(1);
        if (offsets[k] < kMinOffset || offsets[k] > kMaxOffset || is_dst > 1 ||
            abbreviation >= c.chars)
            return std::nullopt;
        dst[k] = is_dst != 0;
    }
    r.skip(c.chars + std::size_t{c.leap} * (time_size + 4));
    for (std::size_t k = 0; k < std::size_t{c.isstd} + c.isut; ++k)
        if (r.be(1) > 1) return std::nullopt;
    if (r.fail) return std::nullopt;
    Zone z;
    z.periods_.push_back({kLowest, offsets[0], dst[0]});
    for (std::size_t k = 0; k < times.size(); ++k) {
        if (index[k] >= c.type) return std::nullopt;
        const Period p{times[k], offsets[index[k]], dst[index[k]]};
        if (k == 0 && times[k] == kLowest) {
            z.periods_[0] = p;  // a transition at the dawn of time sets the first period
            continue;
        }
        if (times[k] <= z.periods_.back().utc_start) return std::nullopt;  // they must rise
        z.periods_.push_back(p);
    }
    if (version >= '2' && r.at < bytes.size() && bytes[r.at] == '\n') {
        const std::size_t end = bytes.find('\n', r.at + 1);
        if (end == std::string_view::npos) return std::nullopt;
        const std::string_view footer = bytes.substr(r.at + 1, end - r.at - 1);
        if (!footer.empty()) {
            const auto rule = parse_rule(footer);
            if (!rule) return std::nullopt;
            extend_with_rule(z.periods_, *rule);
            z.has_dst_ = rule->has_dst;
            return z;
        }
    }
    // Without a rule, the transitions tell whether the zone keeps summer time.
    for (const Period& p : z.periods_) z.has_dst_ = z.has_dst_ || p.is_dst;
    return z;
}

std::int32_t Zone::offset_at(std::int64_t utc_s) const noexcept {
    auto it = std::upper_bound(periods_.begin(), periods_.end(), utc_s,
                               [](std::int64_t t, const Period& p) { return t < p.utc_start; });
    return std::prev(it)->offset;
}

WallResolution Zone::resolve(std::int64_t wall_s) const noexcept {
    // Offsets stay within a day, so only periods near wall_s - offset can map to wall_s.
    const std::int64_t probe = wall_s - offset_at(wall_s);
    auto it = std::upper_bound(periods_.begin(), periods_.end(), probe,
                               [](std::int64_t t, const Period& p) { return t < p.utc_start; });
    const auto at = static_cast<std::size_t>(std::distance(periods_.begin(), it)) - 1;
    const std::size_t lo = at >= 2 ? at - 2 : 0;
    const std::size_t hi = std::min(periods_.size(), at + 3);
    std::int64_t found[2] = {0, 0};
    std::size_t n = 0;
    std::size_t second_period = 0;
    for (std::size_t q = lo; q < hi; ++q) {
        const std::int64_t u = wall_s - periods_[q].offset;
        const bool after_start = q == 0 || u >= periods_[q].utc_start;
        const bool before_end = q + 1 == periods_.size() || u < periods_[q + 1].utc_start;
        if (after_start && before_end && n < 2) {
            found[n++] = u;
            second_period = q;
        }
    }
    WallResolution r;
    if (n == 1) {
        r.first_s = found[0];
        return r;
    }
    if (n == 2) {
        r.kind = WallKind::Repeated;
        r.first_s = std::min(found[0], found[1]);
        r.second_s = std::max(found[0], found[1]);
        r.window_s = periods_[second_period].utc_start;
        return r;
    }
    // A gap: the wall time read with the offset in force before the change, which lands after it.
    r.kind = WallKind::Gap;
    for (std::size_t q = lo; q + 1 < hi; ++q) {
        const std::int64_t next = periods_[q + 1].utc_start;
        if (wall_s - periods_[q].offset >= next && wall_s - periods_[q + 1].offset < next) {
            r.first_s = wall_s - periods_[q].offset;
            return r;
        }
    }
    r.first_s = wall_s - offset_at(probe);
    return r;
}

bool valid_zone_name(std::string_view name, std::string* error) {
    const std::string_view why = zone_name_fault(name);
    if (why.empty()) return true;
    if (error) {
        // A name can be any length; the message shows its start.
        const std::string shown =
            name.size() > 64 ? std::string(name.substr(0, 64)) + "..." : std::string(name);
        *error = "the zone name '" + shown + "' is not a zone name: " + std::string(why);
    }
    return false;
}

std::optional<Zone> load_zone(std::string_view name, std::string* error) {
    if (!valid_zone_name(name, error)) return std::nullopt;
    const char* dir = std::getenv("TZDIR");
    std::string path = (dir && *dir ? std::string(dir) : std::string("/usr/share/zoneinfo")) + "/" +
                       std::string(name);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (name == "UTC") return Zone::utc();
        if (error) *error = "there is no zone file " + path;
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto zone = Zone::from_tzif(bytes);
    if (!zone && error) *error = "the zone file " + path + " is not valid TZif data";
    return zone;
}

std::optional<Zone> zone_of(std::string_view name, std::string_view tzif, std::string* error) {
    if (!name.empty() && !valid_zone_name(name, error)) return std::nullopt;
    if (!tzif.empty()) {
        auto zone = Zone::from_tzif(tzif);
        if (!zone && error) *error = "the time-zone bytes given are not valid TZif data";
        return zone;
    }
    if (name.empty() || name == "UTC") return Zone::utc();
    return load_zone(name, error);
}

}  // namespace tz

std::string_view zone_name_fault(std::string_view name) noexcept {
    constexpr std::size_t kLongest = 255;
    if (name.empty()) return "it is empty";
    if (name.size() > kLongest) return "it is longer than 255 bytes";
    for (std::size_t from = 0; from <= name.size();) {
        const std::size_t end = std::min(name.find('/', from), name.size());
        const std::string_view part = name.substr(from, end - from);
        if (part.empty()) return "it has an empty part (a leading, trailing or doubled '/')";
        if (part == "." || part == "..") return "it has a '.' or '..' part";
        if (part.front() == '-') return "a part starts with '-'";
        if (!std::all_of(part.begin(), part.end(), [](char c) {
                return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '+' || c == '-';
            }))
            return "it holds a character other than letters, digits and . _ + -";
        from = end + 1;
    }
    return {};
}

Result<std::int64_t> zone_instant(std::int64_t wall_us, std::string_view zone_name,
                                  std::string_view zone_tzif) {
    std::string error;
    const auto zone = tz::zone_of(zone_name, zone_tzif, &error);
    if (!zone) return ProfileError{"", error};
    // Within the range offsets stay far from int64's ends (see kMinOffset).
    if (!in_supported_range(wall_us))
        return ProfileError{"", "the wall time " + std::to_string(wall_us) +
                                    " us lies outside the years 0001 to 9999"};
    constexpr std::int64_t kUs = 1'000'000;
    const std::int64_t frac = (wall_us % kUs + kUs) % kUs;
    const std::int64_t wall_s = (wall_us - frac) / kUs;
    // The earlier instant of a repeated hour; a time in a gap moves forward, as the scan does.
    return zone->resolve(wall_s).first_s * kUs + frac;
}

}  // namespace qorv_chemical_engineering_edge::export_profile
