#include "export/timestamps.hpp"

#include <cstring>

#include "export/cells.hpp"
#include "export/civil.hpp"

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr std::int64_t kUsPerS = 1'000'000;

struct Cursor {
    std::string_view s;
    std::size_t i = 0;

    bool done() const { return i == s.size(); }
    bool is(char c) const { return i < s.size() && s[i] == c; }
    bool digit() const { return i < s.size() && static_cast<unsigned char>(s[i] - '0') < 10; }
    // Exactly n digits (n_min..n_max when they differ).
    bool num(int n_min, int n_max, int& v) {
        v = 0;
        int n = 0;
        while (n < n_max && digit()) {
            v = v * 10 + (s[i++] - '0');
            ++n;
        }
        return n >= n_min;
    }
    bool eat(char c) {
        if (!is(c)) return false;
        ++i;
        return true;
    }
};

bool valid_date(int y, int m, int d) {
    return m >= 1 && m <= 12 && d >= 1 && static_cast<unsigned>(d) <= days_in_month(y, m) && y > 0;
}

std::int64_t wall_us(int y, int mo, int d, int h, int mi, int s) {
    return (days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 +
            h * 3600 + mi * 60 + s) *
           kUsPerS;
}

// [(T| )hh:mm[:ss[(.|,)f+]]], hour of one or two digits. Absent time is midnight.
bool time_of_day(Cursor& c, bool needed, int& h, int& mi, int& s, std::int64_t& frac_us) {
    h = mi = s = 0;
    frac_us = 0;
    if (c.done()) return !needed;
    if (!c.eat('T') && !c.eat(' ')) return false;
    while (c.is(' ')) ++c.i;
    if (!c.num(1, 2, h) || !c.eat(':') || !c.num(2, 2, mi)) return false;
    if (c.eat(':')) {
        if (!c.num(2, 2, s)) return false;
        if (c.is('.') || c.is(',')) {
            ++c.i;
            if (!c.digit()) return false;
            std::int64_t scale = 100000;
            while (c.digit()) {
                frac_us += (c.s[c.i++] - '0') * scale;
                scale /= 10;
            }
        }
    }
    return h <= 23 && mi <= 59 && s <= 59;
}

// Z, +-HH, +-HH:MM, +-HHMM, possibly after one space. Returns false on a malformed zone.
bool zone_suffix(Cursor& c, bool& has_zone, std::int64_t& offset_s) {
    has_zone = false;
    offset_s = 0;
    if (c.done()) return true;
    if (c.is(' ') && c.i + 1 < c.s.size()) ++c.i;
    if (c.eat('Z') || c.eat('z')) {
        has_zone = true;
        return c.done();
    }
    if (!c.is('+') && !c.is('-')) return false;
    const int sign = c.s[c.i++] == '-' ? -1 : 1;
    int hh = 0, mm = 0;
    if (!c.num(2, 2, hh)) return false;
    if (c.eat(':')) {
        if (!c.num(2, 2, mm)) return false;
    } else if (c.digit() && !c.num(2, 2, mm)) {
        return false;
    }
    if (hh > 23 || mm > 59) return false;
    has_zone = true;
    offset_s = sign * (hh * 3600 + mm * 60);
    return c.done();
}

bool month_name(Cursor& c, int& m) {
    static constexpr const char* kMonths[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                "jul", "aug", "sep", "oct", "nov", "dec"};
    if (c.s.size() - c.i < 3) return false;
    for (int k = 0; k < 12; ++k) {
        if (iequals(c.s.substr(c.i, 3), kMonths[k])) {
            m = k + 1;
            c.i += 3;
            return true;
        }
    }
    return false;
}

bool finish(int y, int mo, int d, int h, int mi, int s, std::int64_t frac, bool has_zone,
            std::int64_t offset_s, ParsedTime& out) {
    if (!valid_date(y, mo, d)) return false;
    out.us = wall_us(y, mo, d, h, mi, s) + frac - offset_s * kUsPerS;
    out.naive = !has_zone;
    return in_supported_range(out.us);
}

// Four digits, or two read through the pivot (full_year).
bool year(Cursor& c, int& y) {
    const std::size_t from = c.i;
    if (!c.num(2, 4, y)) return false;
    const std::size_t n = c.i - from;
    if (n == 2) y = full_year(y);
    return n != 3;
}

bool parse_text(std::string_view cell, bool day_first, ParsedTime& out) {
    Cursor c{cell};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    std::int64_t frac = 0;
    int a = 0;
    if (!c.num(1, 4, a)) return false;
    const std::size_t lead = c.i;
    if (lead == 4 && (c.is('-') || c.is('/'))) {
        const char sep = c.s[c.i++];
        y = a;
        if (!c.num(2, 2, mo) || !c.eat(sep) || !c.num(2, 2, d)) return false;
        if (!time_of_day(c, false, h, mi, s, frac)) {
            // An ISO time may be followed by a zone; retry the time then read it.
            return false;
        }
        bool has_zone = false;
        std::int64_t off = 0;
        if (sep == '-' && !zone_suffix(c, has_zone, off)) return false;
        if (!c.done()) return false;
        return finish(y, mo, d, h, mi, s, frac, has_zone, off, out);
    }
    if (lead > 2) return false;
    if (c.eat('/')) {
        int b = 0;
        if (!c.num(1, 2, b) || !c.eat('/') || !year(c, y)) return false;
        mo = day_first ? b : a;
        d = day_first ? a : b;
        if (!time_of_day(c, false, h, mi, s, frac)) return false;
        if (!c.done()) {
            // [ AM|PM]
            if (!c.eat(' ')) return false;
            const std::string_view rest = c.s.substr(c.i);
            const bool am = iequals(rest, "am"), pm = iequals(rest, "pm");
            if (!(am || pm) || h < 1 || h > 12) return false;
            h = (h % 12) + (pm ? 12 : 0);
            c.i = c.s.size();
        }
        // Kept even when the date is invalid in this order: it may be valid in the other.
        if (a >= 1 && b >= 1 && a <= 31 && b <= 31) {
            out.slash_first = static_cast<std::uint8_t>(a);
            out.slash_second = static_cast<std::uint8_t>(b);
            out.slash_year = static_cast<std::uint16_t>(y);
        }
        return finish(y, mo, d, h, mi, s, frac, false, 0, out);
    }
    if (c.eat('.')) {
        d = a;
        if (!c.num(1, 2, mo) || !c.eat('.') || !year(c, y)) return false;
        if (!time_of_day(c, false, h, mi, s, frac) || !c.done()) return false;
        return finish(y, mo, d, h, mi, s, frac, false, 0, out);
    }
    if (c.eat('-')) {
        d = a;
        if (!month_name(c, mo) || !c.eat('-') || !year(c, y)) return false;
        if (!time_of_day(c, false, h, mi, s, frac) || !c.done()) return false;
        return finish(y, mo, d, h, mi, s, frac, false, 0, out);
    }
    return false;
}

// Day counts and epoch seconds beyond this are not timestamps.
constexpr double kLimitS = 1.0e11;

}  // namespace

bool parse_timestamp(std::string_view cell, const TimeSyntax& syntax, ParsedTime& out) noexcept {
    out.slash_first = out.slash_second = 0;
    out.slash_year = 0;
    if (cell.empty()) return false;
    if (syntax.format == TimestampFormat::Auto) return parse_text(cell, syntax.day_first, out);
    const auto v = to_double(cell, syntax.decimal);
    if (!v) return false;
    double seconds = *v;
    out.naive = false;
    if (syntax.format == TimestampFormat::ExcelSerial) {
        seconds = (*v - 25569.0) * 86400.0;  // 1899-12-30 to 1970-01-01 is 25569 days
        out.naive = true;
    } else if (syntax.format == TimestampFormat::UnixMilliseconds) {
        seconds = *v / 1000.0;
    }
    if (!(seconds > -kLimitS && seconds < kLimitS)) return false;  // NaN and infinities too
    // Rounded to the microsecond: serial days rarely land on one exactly.
    const double us = seconds * 1.0e6;
    out.us = static_cast<std::int64_t>(us < 0 ? us - 0.5 : us + 0.5);
    // A serial day is a wall time, checked again once its zone has made it an instant.
    return in_supported_range(out.us);
}

bool is_timestamp(std::string_view cell, const TimeSyntax& syntax, bool either_order) noexcept {
    ParsedTime pt;
    if (parse_timestamp(cell, syntax, pt)) return true;
    if (!either_order || pt.slash_first == 0) return false;
    TimeSyntax other = syntax;
    other.day_first = !syntax.day_first;
    return parse_timestamp(cell, other, pt);
}

bool IsoFastPath::parse(std::string_view cell, ParsedTime& out) noexcept {
    if (cell.size() != 19) return false;
    const char* p = cell.data();
    if (p[4] != '-' || p[7] != '-' || (p[10] != ' ' && p[10] != 'T') || p[13] != ':' ||
        p[16] != ':')
        return false;
    auto dd = [p](int i) -> int {
        const unsigned a = static_cast<unsigned char>(p[i] - '0');
        const unsigned b = static_cast<unsigned char>(p[i + 1] - '0');
        return a < 10 && b < 10 ? static_cast<int>(a * 10 + b) : -1;
    };
    const int h = dd(11), mi = dd(14), s = dd(17);
    if (h < 0 || mi < 0 || s < 0 || h > 23 || mi > 59 || s > 59) return false;
    if (!primed || std::memcmp(last_date, p, 10) != 0) {
        const int y1 = dd(0), y2 = dd(2), mo = dd(5), d = dd(8);
        if (y1 < 0 || y2 < 0 || mo < 0 || d < 0) return false;
        const int y = y1 * 100 + y2;
        if (!valid_date(y, mo, d)) return false;
        last_days = days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
        std::memcpy(last_date, p, 10);
        primed = true;
    }
    out.us = (last_days * 86400 + h * 3600 + mi * 60 + s) * kUsPerS;
    out.naive = true;
    return true;
}

}  // namespace qorv_chemical_engineering_edge::export_profile
