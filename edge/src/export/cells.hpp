// Classifying one export cell: number, bad-state text, other text or empty; good quality or not.
// Called for every cell, so none of these allocate.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

// Trims ASCII spaces and tabs at both ends.
inline std::string_view trim(std::string_view s) noexcept {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

// [sign] digits [decimal digits] [e|E [sign] digits], with a digit on at least one side of the
// separator. `s` is trimmed.
bool is_number_slow(std::string_view s, char decimal) noexcept;

// Cells of up to eight bytes (most historian values) are judged in one word: every byte is a
// digit except at most a leading sign and one decimal separator. Anything else (exponents, long
// cells) goes the byte-by-byte way. `word` holds the cell's bytes, little-endian, padded with
// '0'. Measured on the wide benchmark export: the byte loop took about a third of the
// single-core scan time; this takes under a tenth.
[[gnu::always_inline]] inline bool is_number_word(std::uint64_t word, std::string_view s,
                                                  char decimal) noexcept {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    const std::uint64_t t = word ^ (kOnes * '0');                          // digits become 0..9
    const std::uint64_t odd = (((t & kLow7) + kOnes * 0x76) | t) & kHigh;  // not a digit
    if (odd == 0) return true;
    const std::uint64_t d = word ^ (kOnes * static_cast<unsigned char>(decimal));
    const std::uint64_t dec = ~(((d & kLow7) + kLow7) | d) & kHigh;  // exactly the separators
    const char c0 = s[0];
    const std::uint64_t sign = (c0 == '-' || c0 == '+') ? 0x80 : 0;
    const std::uint64_t used =
        s.size() == 8 ? kHigh : kHigh & ((std::uint64_t{1} << (8 * s.size())) - 1);
    const bool plain = (odd & ~dec & ~sign) == 0 && (dec & (dec - 1)) == 0 && (~odd & used) != 0;
    // Exponents and stray characters take the byte-by-byte way.
    return plain || ((odd & ~dec & ~sign) != 0 && is_number_slow(s, decimal));
}

// The cell's word for is_number_word. When eight bytes from its start are readable (before
// `limit`), one load and a mask; a byte-wise copy would stall the load behind small stores.
[[gnu::always_inline]] inline std::uint64_t cell_word(const char* b, std::size_t n,
                                                      const char* limit) noexcept {
    constexpr std::uint64_t kZeros = 0x3030303030303030ULL;
    std::uint64_t x = kZeros;
    if (limit - b >= 8) {
        std::memcpy(&x, b, 8);
        if (n < 8) {
            const std::uint64_t keep = (std::uint64_t{1} << (8 * n)) - 1;
            x = (x & keep) | (kZeros & ~keep);
        }
    } else {
        std::memcpy(&x, b, n);
    }
    return x;
}

inline bool is_number(std::string_view s, char decimal) noexcept {
    const std::size_t n = s.size();
    if (n == 0 || n > 8) return n != 0 && is_number_slow(s, decimal);
    return is_number_word(cell_word(s.data(), n, s.data() + n), s, decimal);
}

// The value of a text that is_number accepts, as from_chars reads it (to_double_exact: the
// general parser; to_double: the same bits, plain decimals without it).
std::optional<double> to_double(std::string_view s, char decimal) noexcept;
std::optional<double> to_double_exact(std::string_view s, char decimal) noexcept;

// The most bad-state texts the scan state counts apart.
inline constexpr std::size_t kMaxBadStates = 64;

// The bad-state list: canonical spellings. -1 when `s` (trimmed) is none of them in any case.
int bad_state_index(std::string_view s) noexcept;
std::span<const std::string_view> bad_state_list() noexcept;

// Case-insensitive ASCII equality.
bool iequals(std::string_view a, std::string_view b) noexcept;

// Numbers as spreadsheets write them, beyond the plain form (`s` trimmed, not plain): a number
// in thousands groups that the decimal setting leaves unambiguous ([sign] 1-3 digits, not a lone
// 0, then groups of exactly three after ',' with decimal '.' or after '.' with decimal ',', then
// an optional decimal part), or a text-protected number (="12.5", or =12.5 once unquoted). The
// plain spelling (decimal as declared) is written to `plain` and returned; empty when `s` is none.
std::string_view spreadsheet_number(std::string_view s, char decimal, std::string& plain);

// A censored laboratory value: < <= > >= (spaces allowed) before a number or a limit's name
// (LOD LOQ DL MDL RL PQL LOR), or a non-detect word (ND, N.D., n.d, BDL, BLQ, BQL, "not
// detected", "below detection limit"), any case. Present, counted apart, and numeric.
bool is_censored(std::string_view s, char decimal);

// A quality column's verdict on one cell.
enum class QualityVerdict : std::uint8_t { Good, Uncertain, Bad };

// A quality code as tools write one: decimal digits, a float with nothing but zeros after the
// point (192.0), hex (0x000400C0), or a negative 32-bit code (a signed StatusCode). Codes above
// 32 bits are none.
std::optional<std::uint32_t> quality_code(std::string_view s) noexcept;

// The convention's verdict; `declared` (a good_quality list), when not empty, replaces it.
QualityVerdict quality_verdict_slow(std::string_view s, QualityConvention convention,
                                    const std::vector<std::string>& declared) noexcept;
inline QualityVerdict quality_verdict(std::string_view s, QualityConvention convention,
                                      const std::vector<std::string>& declared) noexcept {
    if (convention == QualityConvention::Text && declared.empty() && s.size() == 4) {
        std::uint32_t w;
        std::memcpy(&w, s.data(), 4);
        if ((w | 0x20202020u) == 0x646f6f67u) return QualityVerdict::Good;  // "good", any case
    }
    return quality_verdict_slow(s, convention, declared);
}

// The convention of a file's quality columns, decided once when its layout is read: from their
// header names (`names`), whether the header also holds an OPC quality beside a SQL view's
// Quality (`detail_sibling`), and the non-empty quality cells of the opening rows (`values`).
// `fault` says what contradicts, naming the option that settles it; then `convention` is Auto.
struct QualityDecision {
    QualityConvention convention = QualityConvention::Text;
    std::string fault;
};
QualityDecision decide_quality(std::span<const std::string_view> names, bool detail_sibling,
                               std::span<const std::string_view> values);

// A column beside a SQL view's Quality that carries the OPC quality (QualityDetail, OPCQuality).
bool is_quality_detail_name(std::string_view name) noexcept;

// Good quality: the declared list when it is not empty, else empty, good, g, ok, 192.
bool is_good_quality_slow(std::string_view s, const std::vector<std::string>& declared) noexcept;
inline bool is_good_quality(std::string_view s, const std::vector<std::string>& declared) noexcept {
    if (declared.empty() && s.size() == 4) {
        std::uint32_t w;
        std::memcpy(&w, s.data(), 4);
        if ((w | 0x20202020u) == 0x646f6f67u) return true;  // "good" in any case
    }
    return is_good_quality_slow(s, declared);
}

}  // namespace qorv_chemical_engineering_edge::export_profile
