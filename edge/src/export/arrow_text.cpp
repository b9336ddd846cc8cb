// Rendering Arrow cells as export text. Layouts follow the Arrow columnar format: buffer 0 is
// the validity bitmap (absent when there are no nulls), then offsets or values.
#include "export/arrow_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace qorv_chemical_engineering_edge::export_profile::arrow {

namespace {

template <class T>
T value_at(const ArrowArray& array, int buffer, std::int64_t index) {
    T value;
    std::memcpy(&value, static_cast<const char*>(array.buffers[buffer]) + index * sizeof(T),
                sizeof(T));
    return value;
}

bool valid(const ArrowArray& array, std::int64_t row) {
    if (array.null_count == 0 || array.n_buffers == 0 || array.buffers[0] == nullptr) return true;
    const auto* bits = static_cast<const std::uint8_t*>(array.buffers[0]);
    return ((bits[row >> 3] >> (row & 7)) & 1) != 0;
}

template <class T>
void append_number(T value, char decimal, Text& out) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    if (decimal != '.') {
        for (char* c = buffer; c != end; ++c) {
            if (*c == '.') *c = decimal;
        }
    }
    out.append(buffer, end);
}

// At least `width` digits, zeros in front; a minus sign before them.
void append_digits(std::int64_t value, int width, Text& out) {
    char buffer[24];
    if (value < 0) out.push_back('-');
    const auto magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, magnitude).ptr;
    for (auto n = end - buffer; n < width; ++n) out.push_back('0');
    out.append(buffer, end);
}

// Civil date of a day count since 1970-01-01 (proleptic Gregorian). Any int64 day count that
// a timestamp or date can hold (|days| < 2^47) stays far from overflow here. A year outside
// 0001..9999 is written as it is (a sign, or more digits), which the scanner does not take for
// a timestamp: such an instant counts as an unparsed timestamp, as in a CSV file.
void append_date(std::int64_t days, Text& out) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    append_digits(year, 4, out);
    out.push_back('-');
    append_digits(month, 2, out);
    out.push_back('-');
    append_digits(day, 2, out);
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Non-negative remainder; no product that could overflow at the int64 extremes.
std::int64_t floor_mod(std::int64_t a, std::int64_t b) {
    const std::int64_t r = a % b;
    return r < 0 ? r + b : r;
}

void append_timestamp(std::int64_t value, const ColumnType& type, Text& out) {
    const std::int64_t seconds = floor_div(value, type.per_second);
    const std::int64_t fraction = floor_mod(value, type.per_second);
    const std::int64_t days = floor_div(seconds, 86400);
    const std::int64_t of_day = floor_mod(seconds, 86400);
    append_date(days, out);
    out.push_back(' ');
    append_digits(of_day / 3600, 2, out);
    out.push_back(':');
    append_digits(of_day / 60 % 60, 2, out);
    out.push_back(':');
    append_digits(of_day % 60, 2, out);
    if (fraction != 0) {
        int width = 0;
        for (std::int64_t p = type.per_second; p > 1; p /= 10) ++width;
        out.push_back('.');
        append_digits(fraction, width, out);
    }
    if (type.zoned) out.push_back('Z');
}

// The decimal digits of the magnitude of a little-endian two's complement integer of `n`
// bytes (4, 8, 16 or 32) into `digits` (room for 80), and its sign; the number of digits.
std::size_t integer_digits(const void* bytes, int n, bool& negative, char* digits) {
    std::uint32_t limbs[8] = {};
    const int count = n / 4;
    std::memcpy(limbs, bytes, static_cast<std::size_t>(n));
    negative = (limbs[count - 1] >> 31) != 0;
    if (negative) {  // the magnitude: invert and add one
        std::uint64_t carry = 1;
        for (int i = 0; i < count; ++i) {
            const std::uint64_t sum = std::uint64_t{static_cast<std::uint32_t>(~limbs[i])} + carry;
            limbs[i] = static_cast<std::uint32_t>(sum);
            carry = sum >> 32;
        }
    }
    int top = count;
    while (top > 0 && limbs[top - 1] == 0) --top;
    std::size_t size = 0;
    if (top == 0) digits[size++] = '0';
    // Nine digits at a time, least significant first: a remainder below 10^9 shifted by 32
    // bits stays below 2^62.
    while (top > 0) {
        std::uint64_t rest = 0;
        for (int i = top - 1; i >= 0; --i) {
            const std::uint64_t current = (rest << 32) | limbs[i];
            limbs[i] = static_cast<std::uint32_t>(current / 1000000000u);
            rest = current % 1000000000u;
        }
        while (top > 0 && limbs[top - 1] == 0) --top;
        for (int k = 0; k < 9 && (top > 0 || rest != 0); ++k) {
            digits[size++] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        }
    }
    std::reverse(digits, digits + size);
    return size;
}

// An integer scaled by 10^-scale, written exactly; `trim` drops the fraction's trailing zeros.
void append_scaled(const void* bytes, int n, int scale, bool trim, char decimal, Text& out) {
    char digits[80];
    bool negative = false;
    const auto size = static_cast<std::int64_t>(integer_digits(bytes, n, negative, digits));
    if (negative) out.push_back('-');
    if (scale <= 0) {
        out.append(digits, static_cast<std::size_t>(size));
        if (size != 1 || digits[0] != '0') {
            for (int k = 0; k < -scale; ++k) out.push_back('0');
        }
        return;
    }
    const std::int64_t whole = size - scale;  // digits before the point
    std::int64_t last = size;                 // one past the last digit written
    if (trim) {
        while (last > 0 && last > whole && digits[last - 1] == '0') --last;
    }
    if (whole > 0) {
        out.append(digits, static_cast<std::size_t>(whole));
    } else {
        out.push_back('0');
    }
    if (last <= std::max<std::int64_t>(whole, 0)) return;  // no fraction left
    out.push_back(decimal);
    for (std::int64_t k = whole; k < 0; ++k) out.push_back('0');
    const std::int64_t first = std::max<std::int64_t>(whole, 0);
    out.append(digits + first, static_cast<std::size_t>(last - first));
}

// Half precision: its value, and the half nearest to a double (ties to even).
double half_value(std::uint16_t bits) {
    const int exponent = (bits >> 10) & 31;
    const int fraction = bits & 1023;
    double value;
    if (exponent == 0) {
        value = std::ldexp(fraction, -24);
    } else if (exponent == 31) {
        value = fraction != 0 ? std::nan("") : HUGE_VAL;
    } else {
        value = std::ldexp(1024 + fraction, exponent - 25);
    }
    return (bits & 0x8000) != 0 ? -value : value;
}

std::uint16_t half_bits(double value) {
    const std::uint16_t sign = std::signbit(value) ? 0x8000 : 0;
    const double a = std::fabs(value);
    if (std::isnan(a)) return sign | 0x7e00;
    if (a >= 65520.0) return sign | 0x7c00;
    // Subnormal: rounding up to 1024 gives the smallest normal's encoding, as it should.
    if (a < 0x1p-14) return sign | static_cast<std::uint16_t>(std::nearbyint(a * 0x1p24));
    int exponent = 0;
    std::frexp(a, &exponent);
    --exponent;  // a lies in [2^exponent, 2^(exponent + 1))
    int fraction = static_cast<int>(std::nearbyint((std::ldexp(a, -exponent) - 1.0) * 1024.0));
    if (fraction == 1024) {
        fraction = 0;
        ++exponent;
    }
    return sign | static_cast<std::uint16_t>(((exponent + 15) << 10) | fraction);
}

// The fewest significant digits that read back as the same half, written as the double they
// make is written (so 0.1, not 0.0999755859375).
void append_half(std::uint16_t bits, char decimal, Text& out) {
    const double value = half_value(bits);
    if (!std::isfinite(value)) {
        append_number(static_cast<float>(value), decimal, out);
        return;
    }
    char buffer[64];
    double shortest = value;
    for (int digits = 1; digits <= 5; ++digits) {  // five always do for 11 bits
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value,
                                       std::chars_format::scientific, digits - 1)
                             .ptr;
        double back = 0;
        std::from_chars(buffer, end, back);
        if (half_bits(back) == bits) {
            shortest = back;
            break;
        }
    }
    append_number(shortest, decimal, out);
}

std::string_view view_text(const ArrowArray& array, std::int64_t row) {
    // A view is 16 bytes: the length, then either the text inline (up to 12 bytes) or a
    // 4-byte prefix, the data buffer's index and the offset into it.
    const char* view = static_cast<const char*>(array.buffers[1]) + row * 16;
    std::int32_t size;
    std::memcpy(&size, view, 4);
    if (size <= 12) return {view + 4, static_cast<std::size_t>(size)};
    std::int32_t buffer, offset;
    std::memcpy(&buffer, view + 8, 4);
    std::memcpy(&offset, view + 12, 4);
    return {static_cast<const char*>(array.buffers[2 + buffer]) + offset,
            static_cast<std::size_t>(size)};
}

// The bytes of a cell of a text column with offsets (int32 for Utf8, int64 for LargeUtf8).
std::string_view offset_text(Kind kind, const ArrowArray& array, std::int64_t row) {
    const std::int64_t begin = kind == Kind::Utf8 ? value_at<std::int32_t>(array, 1, row)
                                                  : value_at<std::int64_t>(array, 1, row);
    const std::int64_t end = kind == Kind::Utf8 ? value_at<std::int32_t>(array, 1, row + 1)
                                                : value_at<std::int64_t>(array, 1, row + 1);
    if (begin == end) return {};  // the data buffer may be absent
    return {static_cast<const char*>(array.buffers[2]) + begin,
            static_cast<std::size_t>(end - begin)};
}

std::int64_t index_at(Kind kind, const ArrowArray& array, std::int64_t row) {
    switch (kind) {
        case Kind::Int8:
            return value_at<std::int8_t>(array, 1, row);
        case Kind::Int16:
            return value_at<std::int16_t>(array, 1, row);
        case Kind::Int32:
            return value_at<std::int32_t>(array, 1, row);
        case Kind::UInt8:
            return value_at<std::uint8_t>(array, 1, row);
        case Kind::UInt16:
            return value_at<std::uint16_t>(array, 1, row);
        case Kind::UInt32:
            return value_at<std::uint32_t>(array, 1, row);
        case Kind::UInt64:
            return static_cast<std::int64_t>(value_at<std::uint64_t>(array, 1, row));
        default:
            return value_at<std::int64_t>(array, 1, row);
    }
}

}  // namespace

namespace {

bool is_index(Kind kind) {
    switch (kind) {
        case Kind::Int8:
        case Kind::Int16:
        case Kind::Int32:
        case Kind::Int64:
        case Kind::UInt8:
        case Kind::UInt16:
        case Kind::UInt32:
        case Kind::UInt64:
            return true;
        default:
            return false;
    }
}

bool read_int(std::string_view& text, int& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end == text.data()) return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

// "d:P,S" or "d:P,S,W": precision, scale, and the width in bits (128 when not given).
bool resolve_decimal(std::string_view format, ColumnType& type) {
    if (format.substr(0, 2) != "d:") return false;
    format.remove_prefix(2);
    int precision = 0, scale = 0, bits = 128;
    if (!read_int(format, precision) || format.empty() || format[0] != ',') return false;
    format.remove_prefix(1);
    if (!read_int(format, scale)) return false;
    if (!format.empty()) {
        if (format[0] != ',') return false;
        format.remove_prefix(1);
        if (!read_int(format, bits) || !format.empty()) return false;
    }
    // Scales past any decimal's precision would only make cells of zeros.
    if (precision < 1 || precision > 76 || scale < -76 || scale > 76) return false;
    if (bits != 32 && bits != 64 && bits != 128 && bits != 256) return false;
    type.kind = Kind::Decimal;
    type.bytes = bits / 8;
    type.scale = scale;
    return true;
}

}  // namespace

std::string resolve(const ArrowSchema& schema, ColumnType& type) {
    const std::string_view format = schema.format != nullptr ? schema.format : "";
    static constexpr struct {
        std::string_view format;
        Kind kind;
        bool binary;
    } kSimple[] = {{"n", Kind::Null, false},        {"u", Kind::Utf8, false},
                   {"U", Kind::LargeUtf8, false},   {"vu", Kind::Utf8View, false},
                   {"z", Kind::Utf8, true},         {"Z", Kind::LargeUtf8, true},
                   {"vz", Kind::Utf8View, true},    {"b", Kind::Bool, false},
                   {"c", Kind::Int8, false},        {"s", Kind::Int16, false},
                   {"i", Kind::Int32, false},       {"l", Kind::Int64, false},
                   {"C", Kind::UInt8, false},       {"S", Kind::UInt16, false},
                   {"I", Kind::UInt32, false},      {"L", Kind::UInt64, false},
                   {"e", Kind::Float16, false},     {"f", Kind::Float32, false},
                   {"g", Kind::Float64, false},     {"tdD", Kind::Date32, false},
                   {"tdm", Kind::Date64, false},    {"tts", Kind::Seconds32, false},
                   {"ttm", Kind::Seconds32, false}, {"ttu", Kind::Seconds64, false},
                   {"ttn", Kind::Seconds64, false}, {"tDs", Kind::Seconds64, false},
                   {"tDm", Kind::Seconds64, false}, {"tDu", Kind::Seconds64, false},
                   {"tDn", Kind::Seconds64, false}};
    static constexpr std::int64_t kPerSecond[] = {1, 1000, 1000000, 1000000000};
    static constexpr std::string_view kUnits = "smun";
    bool known = false;
    for (const auto& simple : kSimple) {
        if (format == simple.format) {
            type.kind = simple.kind;
            type.binary = simple.binary;
            if (simple.kind == Kind::Seconds32 || simple.kind == Kind::Seconds64) {
                type.per_second = kPerSecond[kUnits.find(format[2])];
            }
            known = true;
            break;
        }
    }
    if (!known && format.size() >= 4 && format.substr(0, 2) == "ts" && format[3] == ':') {
        const auto unit = kUnits.find(format[2]);
        if (unit != std::string_view::npos) {
            type.kind = Kind::Timestamp;
            type.per_second = kPerSecond[unit];
            type.zoned = format.size() > 4;
            known = true;
        }
    }
    if (!known) known = resolve_decimal(format, type);
    if (!known) return "Arrow type '" + std::string(format) + "' is not supported";
    if (schema.dictionary != nullptr) {
        if (!is_index(type.kind)) {
            return "a dictionary indexed by Arrow type '" + std::string(format) +
                   "' (not an integer)";
        }
        if (schema.dictionary->dictionary != nullptr) {
            return "a dictionary of a dictionary is not supported";
        }
        type.dictionary = std::make_unique<ColumnType>();
        if (auto why = resolve(*schema.dictionary, *type.dictionary); !why.empty()) return why;
    }
    return {};
}

TextStyle::TextStyle(char delimiter_, char decimal_) : delimiter(delimiter_), decimal(decimal_) {
    for (const char c : {'"', '\n', '\r', delimiter_}) {
        needs_quotes[static_cast<unsigned char>(c)] = true;
    }
}

void append_text(std::string_view text, const TextStyle& style, Text& out) {
    // Cells are short: one pass over a lookup table beats two library searches (measured: the
    // searches took a quarter of a table's scan time).
    bool plain = true;
    for (const char c : text) {
        if (style.needs_quotes[static_cast<unsigned char>(c)]) {
            plain = false;
            break;
        }
    }
    if (plain) {
        out.append(text);
        return;
    }
    out.push_back('"');
    for (const char c : text) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

bool plain_text(const ColumnType& type, const ArrowArray& array, std::int64_t begin,
                std::int64_t length, const TextStyle& style) {
    if (type.dictionary || length == 0) return false;
    std::int64_t first = 0, last = 0;
    if (type.kind == Kind::Utf8) {
        first = value_at<std::int32_t>(array, 1, begin);
        last = value_at<std::int32_t>(array, 1, begin + length);
    } else if (type.kind == Kind::LargeUtf8) {
        first = value_at<std::int64_t>(array, 1, begin);
        last = value_at<std::int64_t>(array, 1, begin + length);
    } else {
        return false;
    }
    // One library search per special byte over the column's bytes costs far less than looking
    // at each cell (measured: the per-cell check was a fifth of a string table's scan time).
    const auto size = static_cast<std::size_t>(last - first);
    if (size == 0) return true;  // the data buffer may be absent
    const char* bytes = static_cast<const char*>(array.buffers[2]) + first;
    for (const char c : {'"', '\n', '\r', style.delimiter}) {
        if (std::memchr(bytes, c, size) != nullptr) return false;
    }
    return true;
}

void append_cell(const ColumnType& type, const ArrowArray& array, std::int64_t row,
                 const TextStyle& style, bool plain, Text& out) {
    if (type.kind == Kind::Null || !valid(array, row)) return;
    if (type.dictionary) {
        const ArrowArray& values = *array.dictionary;
        append_cell(*type.dictionary, values, index_at(type.kind, array, row) + values.offset,
                    style, false, out);
        return;
    }
    switch (type.kind) {
        case Kind::Null:
            return;
        case Kind::Utf8:
        case Kind::LargeUtf8: {
            const std::string_view text = offset_text(type.kind, array, row);
            plain ? out.append(text) : append_text(text, style, out);
            return;
        }
        case Kind::Utf8View:
            append_text(view_text(array, row), style, out);
            return;
        case Kind::Bool: {
            const auto* bits = static_cast<const std::uint8_t*>(array.buffers[1]);
            out.append(((bits[row >> 3] >> (row & 7)) & 1) != 0 ? "True" : "False");
            return;
        }
        case Kind::Float32:
            append_number(value_at<float>(array, 1, row), style.decimal, out);
            return;
        case Kind::Float64:
            append_number(value_at<double>(array, 1, row), style.decimal, out);
            return;
        case Kind::UInt64:
            append_number(value_at<std::uint64_t>(array, 1, row), style.decimal, out);
            return;
        case Kind::Timestamp:
            append_timestamp(value_at<std::int64_t>(array, 1, row), type, out);
            return;
        case Kind::Date32:
            append_date(value_at<std::int32_t>(array, 1, row), out);
            return;
        case Kind::Date64:
            append_date(floor_div(value_at<std::int64_t>(array, 1, row), 86400000), out);
            return;
        case Kind::Float16:
            append_half(value_at<std::uint16_t>(array, 1, row), style.decimal, out);
            return;
        case Kind::Decimal:
            append_scaled(static_cast<const char*>(array.buffers[1]) + row * type.bytes, type.bytes,
                          type.scale, false, style.decimal, out);
            return;
        case Kind::Seconds32:
        case Kind::Seconds64: {
            const std::int64_t units = type.kind == Kind::Seconds32
                                           ? value_at<std::int32_t>(array, 1, row)
                                           : value_at<std::int64_t>(array, 1, row);
            int scale = 0;
            for (std::int64_t p = type.per_second; p > 1; p /= 10) ++scale;
            append_scaled(&units, 8, scale, true, style.decimal, out);
            return;
        }
        default:
            append_number(index_at(type.kind, array, row), style.decimal, out);
            return;
    }
}

bool cell_valid(const ArrowArray& array, std::int64_t row) {
    return valid(array, row);
}

std::int64_t dictionary_row(const ColumnType& type, const ArrowArray& array, std::int64_t row) {
    return index_at(type.kind, array, row) + array.dictionary->offset;
}

bool text_cell(const ColumnType& type, const ArrowArray& array, std::int64_t row,
               std::string_view& out) {
    if (type.dictionary) {
        const ArrowArray& values = *array.dictionary;
        return text_cell(*type.dictionary, values, index_at(type.kind, array, row) + values.offset,
                         out);
    }
    switch (type.kind) {
        case Kind::Utf8:
        case Kind::LargeUtf8:
            out = offset_text(type.kind, array, row);
            return true;
        case Kind::Utf8View:
            out = view_text(array, row);
            return true;
        default:
            return false;
    }
}

bool finite_number_cell(const ColumnType& type, const ArrowArray& array, std::int64_t row) {
    if (type.dictionary) return false;
    switch (type.kind) {
        case Kind::Float64:
            return std::isfinite(value_at<double>(array, 1, row));
        case Kind::Float32:
            return std::isfinite(value_at<float>(array, 1, row));
        case Kind::Float16:
            return ((value_at<std::uint16_t>(array, 1, row) >> 10) & 31) != 31;
        case Kind::Decimal:
            return true;
        default:
            return is_index(type.kind);
    }
}

int value_width(const ColumnType& type) {
    if (type.dictionary) return 0;
    switch (type.kind) {
        case Kind::Int8:
        case Kind::UInt8:
            return 1;
        case Kind::Int16:
        case Kind::UInt16:
        case Kind::Float16:
            return 2;
        case Kind::Int32:
        case Kind::UInt32:
        case Kind::Float32:
        case Kind::Date32:
        case Kind::Seconds32:
            return 4;
        case Kind::Int64:
        case Kind::UInt64:
        case Kind::Float64:
        case Kind::Timestamp:
        case Kind::Date64:
        case Kind::Seconds64:
            return 8;
        case Kind::Decimal:
            return type.bytes;
        default:
            return 0;
    }
}

// ---- Checking batches against their schema --------------------------------------------------
//
// The C interfaces carry no buffer sizes, so what is checked is everything an array says of
// itself that a reader would otherwise trust: its counts, lengths and offsets, the offsets and
// views that point into its data, its dictionary and the indices into it.

namespace {

// More rows than any memory holds: it keeps the index arithmetic far from overflow.
constexpr std::int64_t kMaxRows = std::int64_t{1} << 40;

bool is_utf8(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t size;
        std::uint32_t code, least;
        if ((c & 0xE0) == 0xC0) {
            size = 2, code = c & 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            size = 3, code = c & 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            size = 4, code = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (n - i < size) return false;
        for (std::size_t k = 1; k < size; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            code = (code << 6) | (s[i + k] & 0x3Fu);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += size;
    }
    return true;
}

std::string rows_text(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " row" : " rows");
}

// Checks `array` of `type` for reading `count` rows from `skip` rows past its own offset;
// `first_row` is the table's number of the first of them.
std::string check_array(const ColumnType& type, const ArrowArray& array, std::int64_t skip,
                        std::int64_t count, std::int64_t first_row) {
    if (array.length < 0 || array.offset < 0 || array.length > kMaxRows ||
        array.offset > kMaxRows) {
        return "its length (" + std::to_string(array.length) + ") or offset (" +
               std::to_string(array.offset) + ") is impossible";
    }
    if (array.length - skip < count) {
        return "its array has " + rows_text(array.length) + " where " + rows_text(skip + count) +
               " are announced";
    }
    if (array.n_children != 0) {
        return "its array has " + std::to_string(array.n_children) +
               " child arrays where its type has none";
    }
    const bool view = !type.dictionary && type.kind == Kind::Utf8View;
    const std::int64_t buffers = type.dictionary                                           ? 2
                                 : type.kind == Kind::Null                                 ? 0
                                 : view                                                    ? 3
                                 : type.kind == Kind::Utf8 || type.kind == Kind::LargeUtf8 ? 3
                                                                                           : 2;
    // A null column's buffers are never read (some producers give it a validity buffer).
    const bool counted = type.dictionary || type.kind != Kind::Null;
    if (counted && (view ? array.n_buffers < buffers : array.n_buffers != buffers)) {
        return "its array has " + std::to_string(array.n_buffers) + " buffers where its type has " +
               (view ? "at least " : "") + std::to_string(buffers);
    }
    if (array.n_buffers > 0 && array.buffers == nullptr) return "its array's buffers are missing";
    if (count == 0 || buffers == 0) return {};
    if (array.null_count > 0 && array.buffers[0] == nullptr) {
        return "its array announces " + std::to_string(array.null_count) +
               " nulls but has no validity bitmap";
    }
    if (array.buffers[1] == nullptr) return "its array's values buffer is missing";
    const std::int64_t from = array.offset + skip;
    const std::int64_t to = from + count;

    if (type.dictionary) {
        if (array.dictionary == nullptr) return "its dictionary is missing";
        const ArrowArray& values = *array.dictionary;
        if (auto why = check_array(*type.dictionary, values, 0, values.length, 0); !why.empty()) {
            return "its dictionary: " + why;
        }
        for (std::int64_t row = from; row < to; ++row) {
            if (!valid(array, row)) continue;
            const std::int64_t index = index_at(type.kind, array, row);
            if (index < 0 || index >= values.length) {
                return "row " + std::to_string(first_row + row - from) + " has dictionary index " +
                       std::to_string(index) + " outside its dictionary of " +
                       std::to_string(values.length) + " values";
            }
        }
        return {};
    }
    auto not_utf8 = [&](std::int64_t row) {
        return "row " + std::to_string(first_row + row - from) +
               " holds binary data that is not UTF-8 text";
    };
    if (type.kind == Kind::Utf8 || type.kind == Kind::LargeUtf8) {
        auto offset = [&](std::int64_t row) {
            return type.kind == Kind::Utf8 ? value_at<std::int32_t>(array, 1, row)
                                           : value_at<std::int64_t>(array, 1, row);
        };
        std::int64_t last = offset(from);
        if (last < 0) return "its offsets are negative";
        for (std::int64_t row = from + 1; row <= to; ++row) {
            const std::int64_t next = offset(row);
            if (next < last) return "its offsets decrease";
            last = next;
        }
        if (last > 0 && array.buffers[2] == nullptr) return "its array's data buffer is missing";
        if (type.binary) {
            for (std::int64_t row = from; row < to; ++row) {
                if (valid(array, row) && !is_utf8(offset_text(type.kind, array, row))) {
                    return not_utf8(row);
                }
            }
        }
        return {};
    }
    if (view) {
        // Buffers: validity, views, the data buffers, then one int64 size per data buffer.
        const std::int64_t n_data = array.n_buffers - 3;
        const void* sizes = array.buffers[array.n_buffers - 1];
        if (n_data > 0 && sizes == nullptr) return "its array's buffer sizes are missing";
        for (std::int64_t row = from; row < to; ++row) {
            if (!valid(array, row)) continue;
            const char* cell = static_cast<const char*>(array.buffers[1]) + row * 16;
            std::int32_t size, buffer, offset;
            std::memcpy(&size, cell, 4);
            std::memcpy(&buffer, cell + 8, 4);
            std::memcpy(&offset, cell + 12, 4);
            if (size < 0)
                return "row " + std::to_string(first_row + row - from) + " has a negative size";
            if (size > 12) {
                std::int64_t limit = 0;
                if (buffer >= 0 && buffer < n_data) {
                    std::memcpy(&limit, static_cast<const char*>(sizes) + buffer * 8, 8);
                }
                if (buffer < 0 || buffer >= n_data || array.buffers[2 + buffer] == nullptr ||
                    offset < 0 || std::int64_t{offset} + size > limit) {
                    return "row " + std::to_string(first_row + row - from) +
                           " points outside its data buffers";
                }
            }
            if (type.binary && !is_utf8(view_text(array, row))) return not_utf8(row);
        }
        return {};
    }
    return {};
}

}  // namespace

std::string check_table_schema(const ArrowSchema& schema) {
    if (schema.n_children < 0 || (schema.n_children > 0 && schema.children == nullptr)) {
        return "the Arrow schema's columns are missing";
    }
    for (std::int64_t c = 0; c < schema.n_children; ++c) {
        const ArrowSchema* column = schema.children[c];
        if (column == nullptr || column->format == nullptr ||
            (column->dictionary != nullptr && column->dictionary->format == nullptr)) {
            return "the Arrow schema's column " + std::to_string(c + 1) + " is missing its type";
        }
    }
    return {};
}

std::string check_batch(const ArrowSchema& schema, const std::vector<ColumnType>& types,
                        const ArrowArray& batch, std::int64_t first_row) {
    if (batch.length < 0 || batch.offset < 0 || batch.length > kMaxRows ||
        batch.offset > kMaxRows) {
        return "an Arrow batch's length (" + std::to_string(batch.length) + ") or offset (" +
               std::to_string(batch.offset) + ") is impossible";
    }
    if (batch.n_children != schema.n_children ||
        static_cast<std::size_t>(batch.n_children) != types.size()) {
        return "an Arrow batch has " + std::to_string(batch.n_children) +
               " columns where its schema has " + std::to_string(schema.n_children);
    }
    if (batch.n_children > 0 && batch.children == nullptr) {
        return "an Arrow batch's columns are missing";
    }
    for (std::size_t c = 0; c < types.size(); ++c) {
        const char* name = schema.children[c]->name != nullptr ? schema.children[c]->name : "";
        const ArrowArray* column = batch.children[c];
        std::string why = column == nullptr ? "its array is missing"
                                            : check_array(types[c], *column, batch.offset,
                                                          batch.length, first_row);
        if (!why.empty()) return "column '" + std::string(name) + "': " + why;
    }
    return {};
}

void render_rows(const std::vector<ColumnType>& types, const ArrowArray& batch, std::int64_t begin,
                 std::int64_t end, const TextStyle& style, Text& out) {
    std::vector<char> plain(types.size());
    for (std::size_t c = 0; c < types.size(); ++c) {
        const ArrowArray& column = *batch.children[c];
        plain[c] =
            plain_text(types[c], column, begin + batch.offset + column.offset, end - begin, style);
    }
    for (std::int64_t row = begin; row < end; ++row) {
        for (std::size_t c = 0; c < types.size(); ++c) {
            if (c != 0) out.push_back(style.delimiter);
            const ArrowArray& column = *batch.children[c];
            append_cell(types[c], column, row + batch.offset + column.offset, style, plain[c] != 0,
                        out);
        }
        out.push_back('\n');
    }
}

}  // namespace qorv_chemical_engineering_edge::export_profile::arrow
