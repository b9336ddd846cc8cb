// Rendering Arrow cells as export text. Layouts follow the Arrow columnar format: buffer 0 is
// the validity bitmap (absent when there are no nulls), then offsets or values.
#include "arrow_text.hpp"

#include <charconv>
#include <cstring>

namespace qorv_chemical_engineering_edge_py::arrow {

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

void append_digits(std::int64_t value, int width, Text& out) {
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    for (auto n = end - buffer; n < width; ++n) out.push_back('0');
    out.append(buffer, end);
}

// Civil date of a day count since 1970-01-01 (proleptic Gregorian).
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

void append_timestamp(std::int64_t value, const ColumnType& type, Text& out) {
    const std::int64_t seconds = floor_div(value, type.per_second);
    const std::int64_t fraction = value - seconds * type.per_second;
    const std::int64_t days = floor_div(seconds, 86400);
    const std::int64_t of_day = seconds - days * 86400;
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

std::string resolve(const ArrowSchema& schema, ColumnType& type) {
    const std::string_view format = schema.format != nullptr ? schema.format : "";
    if (schema.dictionary != nullptr) {
        type.dictionary = std::make_unique<ColumnType>();
        if (auto why = resolve(*schema.dictionary, *type.dictionary); !why.empty()) return why;
    }
    static constexpr struct {
        std::string_view format;
        Kind kind;
    } kSimple[] = {{"n", Kind::Null},      {"u", Kind::Utf8},    {"U", Kind::LargeUtf8},
                   {"vu", Kind::Utf8View}, {"b", Kind::Bool},    {"c", Kind::Int8},
                   {"s", Kind::Int16},     {"i", Kind::Int32},   {"l", Kind::Int64},
                   {"C", Kind::UInt8},     {"S", Kind::UInt16},  {"I", Kind::UInt32},
                   {"L", Kind::UInt64},    {"f", Kind::Float32}, {"g", Kind::Float64},
                   {"tdD", Kind::Date32},  {"tdm", Kind::Date64}};
    for (const auto& simple : kSimple) {
        if (format == simple.format) {
            type.kind = simple.kind;
            return {};
        }
    }
    if (format.size() >= 4 && format.substr(0, 2) == "ts" && format[3] == ':') {
        const std::string_view units = "smun";
        const auto unit = units.find(format[2]);
        if (unit != std::string_view::npos) {
            const std::int64_t per_second[] = {1, 1000, 1000000, 1000000000};
            type.kind = Kind::Timestamp;
            type.per_second = per_second[unit];
            type.zoned = format.size() > 4;
            return {};
        }
    }
    return "Arrow type '" + std::string(format) + "' is not supported";
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
    const char* bytes = static_cast<const char*>(array.buffers[2]) + first;
    const auto size = static_cast<std::size_t>(last - first);
    for (const char c : {'"', '\n', '\r', style.delimiter}) {
        if (std::memchr(bytes, c, size) != nullptr) return false;
    }
    return true;
}

void append_cell(const ColumnType& type, const ArrowArray& array, std::int64_t row,
                 const TextStyle& style, bool plain, Text& out) {
    if (!valid(array, row)) return;
    if (type.dictionary) {
        const ArrowArray& values = *array.dictionary;
        append_cell(*type.dictionary, values, index_at(type.kind, array, row) + values.offset,
                    style, false, out);
        return;
    }
    switch (type.kind) {
        case Kind::Null:
            return;
        case Kind::Utf8: {
            const auto begin = value_at<std::int32_t>(array, 1, row);
            const auto end = value_at<std::int32_t>(array, 1, row + 1);
            const std::string_view text(static_cast<const char*>(array.buffers[2]) + begin,
                                        static_cast<std::size_t>(end - begin));
            plain ? out.append(text) : append_text(text, style, out);
            return;
        }
        case Kind::LargeUtf8: {
            const auto begin = value_at<std::int64_t>(array, 1, row);
            const auto end = value_at<std::int64_t>(array, 1, row + 1);
            const std::string_view text(static_cast<const char*>(array.buffers[2]) + begin,
                                        static_cast<std::size_t>(end - begin));
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
        default:
            append_number(index_at(type.kind, array, row), style.decimal, out);
            return;
    }
}

}  // namespace qorv_chemical_engineering_edge_py::arrow
