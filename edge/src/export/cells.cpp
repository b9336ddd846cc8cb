#include "export/cells.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <limits>

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr std::array<std::string_view, 41> kBadStates = {
    "Bad",         "Bad Input",     "Bad Data",    "Bad Quality",    "Bad Value",
    "I/O Timeout", "Shutdown",      "Calc Failed", "Calc Timeout",   "No Data",
    "No Sample",   "Comm Fail",     "Scan Off",    "Scan Timeout",   "Over Range",
    "Under Range", "Not Connected", "Out of Serv", "Out of Service", "Configure",
    "Invalid",     "Error",         "NaN",         "#N/A",           "N/A",
    "null",        "none",          "inf",         "+inf",           "-inf",
    "infinity",    "-infinity",     "#VALUE!",     "#DIV/0!",        "#NUM!",
    "#REF!",       "#NAME?",        "#NULL!",      "Not Available",  "Pt Created",
    "Intf Shut"};

constexpr char lower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? char(c + 32) : c;
}

// from_chars leaves its value untouched out of range (1e309 would read as 0): the decimal order
// of the first significant digit tells an overflow (infinity) from an underflow (zero).
double out_of_range(const char* p, std::size_t n) noexcept {
    const bool negative = n > 0 && p[0] == '-';
    const char* const end = p + n;
    if (negative) ++p;
    long long order = 0;  // of the first significant digit, once seen
    bool significant = false, point = false;
    long long leading = 0;
    for (; p != end && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            point = true;
        } else if (!significant && *p != '0') {
            significant = true;
            order = point ? -leading - 1 : 0;
        } else if (significant && !point) {
            ++order;
        } else if (!significant && point) {
            ++leading;
        }
    }
    long long exponent = 0;
    if (p != end) {
        ++p;
        const bool minus = p != end && *p == '-';
        if (p != end && (*p == '-' || *p == '+')) ++p;
        for (; p != end; ++p)
            if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
        if (minus) exponent = -exponent;
    }
    const double magnitude =
        significant && order + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -magnitude : magnitude;
}

}  // namespace

bool is_number_slow(std::string_view s, char decimal) noexcept {
    const char* p = s.data();
    const char* const end = p + s.size();
    if (p != end && (*p == '-' || *p == '+')) ++p;
    const char* digits_from = p;
    while (p != end && static_cast<unsigned char>(*p - '0') < 10) ++p;
    std::size_t digits = static_cast<std::size_t>(p - digits_from);
    if (p != end && *p == decimal) {
        ++p;
        const char* frac_from = p;
        while (p != end && static_cast<unsigned char>(*p - '0') < 10) ++p;
        digits += static_cast<std::size_t>(p - frac_from);
    }
    if (digits == 0) return false;
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p != end && (*p == '-' || *p == '+')) ++p;
        const char* exp_from = p;
        while (p != end && static_cast<unsigned char>(*p - '0') < 10) ++p;
        if (p == exp_from) return false;
    }
    return p == end;
}

std::optional<double> to_double(std::string_view s, char decimal) noexcept {
    if (!is_number(s, decimal)) return std::nullopt;
    char buf[128] = {};
    if (s.size() >= sizeof buf) return std::nullopt;
    std::size_t n = 0;
    for (char c : s) {
        if (c == '+' && n == 0) continue;  // from_chars takes no plus sign
        buf[n++] = c == decimal ? '.' : c;
    }
    double v = 0;
    const auto r = std::from_chars(buf, buf + n, v);
    if (r.ec == std::errc::result_out_of_range) return out_of_range(buf, n);
    if (r.ec != std::errc()) return std::nullopt;
    return v;
}

bool iequals(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

int bad_state_index(std::string_view s) noexcept {
    s = trim(s);
    if (s.size() < 3 || s.size() > 14) return -1;
    for (std::size_t i = 0; i < kBadStates.size(); ++i)
        if (iequals(s, kBadStates[i])) return static_cast<int>(i);
    return -1;
}

std::span<const std::string_view> bad_state_list() noexcept {
    return kBadStates;
}

bool is_good_quality_slow(std::string_view s, const std::vector<std::string>& declared) noexcept {
    s = trim(s);
    if (!declared.empty()) {
        for (const std::string& g : declared)
            if (iequals(s, trim(g))) return true;
        return false;
    }
    return s.empty() || iequals(s, "good") || iequals(s, "g") || iequals(s, "ok") || s == "192";
}

}  // namespace qorv_chemical_engineering_edge::export_profile
