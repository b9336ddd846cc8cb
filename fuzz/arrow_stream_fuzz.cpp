// Fuzzes the Arrow reader's checks and rendering: a table (schema and one batch) is built from
// the input, with formats, child counts, buffer counts, lengths, offsets, offsets and views into
// data buffers, dictionaries and indices that may disagree with each other. The table goes the
// way the module takes it: the schema checked and resolved, the batch checked, its rows
// rendered and the text scanned. A check that lets a lie through shows up as a sanitizer
// report when the rows are read. Decimals of up to 128 bits are compared with a reference.
//
// The C interfaces carry no buffer sizes, so the builder is honest about what they cannot say:
// every buffer is as large as the array it belongs to claims (kBuffer bytes, more than any
// array here needs), and a view's data-buffer sizes are the true ones. Everything the arrays
// say of themselves beyond that may be a lie.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "export/arrow_c.h"
#include "export/arrow_text.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace arrow = qorv_chemical_engineering_edge::export_profile::arrow;
namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

constexpr std::size_t kBuffer = 8192;
constexpr std::int64_t kMaxLength = 96;  // rows of a batch or array that does not lie
// Entries of offsets and views written: past any honest array's offset and length (at most
// 8 + 96 + 2 + 8). Offsets climb by less than 40 and views reach 8.5 KiB: data stays within
// kBuffer unless a check lets a lie through.
constexpr std::int64_t kEntries = 128;

constexpr const char* kFormats[] = {
    "n",      "u",          "U",           "vu",       "z",          "Z",     "vz",       "b",
    "c",      "s",          "i",           "l",        "C",          "S",     "I",        "L",
    "e",      "f",          "g",           "tdD",      "tdm",        "tts",   "ttm",      "ttu",
    "ttn",    "tDs",        "tDm",         "tDn",      "tss:",       "tsm:",  "tsu:",     "tsn:UTC",
    "d:18,3", "d:38,0,128", "d:76,-5,256", "d:9,2,32", "d:18,20,64", "d:0,1", "d:5,1,48", "d:",
    "d:5,1,", "x",          "+l",          "ts",       "tsq:",       "",      nullptr};
constexpr std::size_t kFormatCount = sizeof kFormats / sizeof kFormats[0];

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    bool flag(int one_in) { return byte() % one_in == 0; }
    // A length or offset: mostly small and honest, sometimes impossible.
    std::int64_t extent(std::int64_t honest_limit) {
        const std::uint8_t b = byte();
        if (b < 250) return b % (honest_limit + 1);
        constexpr std::int64_t kLies[] = {
            -1, INT64_MIN, INT64_MAX, std::int64_t{1} << 41, std::int64_t{1} << 62, -100};
        return kLies[b - 250];
    }
    bool honest(std::int64_t v) const { return v >= 0 && v <= kMaxLength; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Owns everything a built table points to.
struct Arena {
    std::deque<std::vector<std::uint8_t>> blocks;
    std::deque<std::vector<const void*>> pointer_lists;
    std::deque<ArrowArray> arrays;
    std::deque<std::vector<ArrowArray*>> array_lists;
    std::deque<ArrowSchema> schemas;
    std::deque<std::vector<ArrowSchema*>> schema_lists;

    std::uint8_t* block(Input& in) {
        auto& b = blocks.emplace_back(kBuffer);
        for (std::size_t i = 0; i < 64; ++i) b[i] = in.byte();
        for (std::size_t i = 64; i < kBuffer; ++i) b[i] = b[i % 64];  // the input, repeated
        return b.data();
    }
};

std::string_view format_of(const ArrowSchema& s) {
    return s.format ? s.format : "";
}

bool is_view(std::string_view f) {
    return f == "vu" || f == "vz";
}
bool has_offsets(std::string_view f) {
    return f == "u" || f == "U" || f == "z" || f == "Z";
}
bool large(std::string_view f) {
    return f == "U" || f == "Z";
}

// An array for a column of format `format` (the index format when `dictionary` is set).
ArrowArray* build_array(Input& in, Arena& arena, const ArrowSchema& schema, std::int64_t rows,
                        int depth) {
    ArrowArray& a = arena.arrays.emplace_back();
    const std::string_view f = format_of(schema);
    const bool dictionary = schema.dictionary != nullptr;
    // Lengths beyond what is needed, or short of it, or impossible.
    a.length = in.flag(4) ? in.extent(kMaxLength) : rows + in.byte() % 3;
    a.offset = in.flag(5) ? in.extent(8) : in.byte() % 4;
    a.null_count = static_cast<std::int64_t>(in.byte() % 4) - 1;
    std::int64_t buffers = dictionary || f.empty() ? 2
                           : f == "n"              ? 0
                           : has_offsets(f)        ? 3
                           : is_view(f)            ? 3 + in.byte() % 3
                                                   : 2;
    if (in.flag(6)) buffers += static_cast<std::int64_t>(in.byte() % 3) - 1;
    if (buffers < 0) buffers = 0;
    a.n_buffers = buffers;
    auto& list = arena.pointer_lists.emplace_back(static_cast<std::size_t>(buffers), nullptr);
    for (auto& p : list) p = arena.block(in);
    if (!dictionary && has_offsets(f) && buffers >= 2) {
        // Offsets that climb by small steps from a small start (a step may go back).
        auto* offsets = static_cast<std::uint8_t*>(const_cast<void*>(list[1]));
        std::int64_t at = static_cast<std::int64_t>(in.byte() % 8) - 2;
        for (std::int64_t i = 0; i < kEntries; ++i) {
            if (large(f)) {
                std::memcpy(offsets + i * 8, &at, 8);
            } else {
                const auto at32 = static_cast<std::int32_t>(at);
                std::memcpy(offsets + i * 4, &at32, 4);
            }
            at += static_cast<std::int64_t>(in.byte() % 40) - (in.flag(16) ? 45 : 0);
        }
    }
    if (!dictionary && is_view(f) && buffers >= 3) {
        auto* views = static_cast<std::uint8_t*>(const_cast<void*>(list[1]));
        const std::int64_t n_data = buffers - 3;
        for (std::int64_t i = 0; i < kEntries; ++i) {
            const std::int32_t size = static_cast<std::int32_t>(in.byte() % 48) - 2;
            const std::int32_t index = static_cast<std::int32_t>(in.byte() % 4) - 1;
            const std::int32_t offset = static_cast<std::int32_t>(in.byte()) * 33 - 8;
            std::memcpy(views + i * 16, &size, 4);
            std::memcpy(views + i * 16 + 8, &index, 4);
            std::memcpy(views + i * 16 + 12, &offset, 4);
        }
        // The true sizes of the data buffers.
        auto& sizes = arena.blocks.emplace_back(static_cast<std::size_t>(n_data) * 8 + 8);
        for (std::int64_t i = 0; i < n_data; ++i) {
            const std::int64_t size = kBuffer;
            std::memcpy(sizes.data() + i * 8, &size, 8);
        }
        list[static_cast<std::size_t>(buffers - 1)] = sizes.data();
    }
    for (auto& p : list) {
        if (in.flag(24)) p = nullptr;
    }
    a.buffers = in.flag(40) ? nullptr : list.data();
    if (in.flag(12)) {
        auto& children = arena.array_lists.emplace_back();
        children.push_back(&arena.arrays.emplace_back());
        a.n_children = 1;
        a.children = children.data();
    }
    if (dictionary && depth < 2 && !in.flag(8)) {
        a.dictionary = build_array(in, arena, *schema.dictionary, in.byte() % 12, depth + 1);
    }
    return &a;
}

ArrowSchema* build_column(Input& in, Arena& arena) {
    ArrowSchema& s = arena.schemas.emplace_back();
    s.format = kFormats[in.byte() % kFormatCount];
    s.name = "T";
    if (in.flag(4)) {
        ArrowSchema& values = arena.schemas.emplace_back();
        values.format = kFormats[in.byte() % kFormatCount];
        s.dictionary = &values;
        // The index type: an integer, mostly.
        constexpr const char* kIndices[] = {"c", "s", "i", "l", "C", "S", "I", "L", "u", "g"};
        s.format = kIndices[in.byte() % 10];
        if (in.flag(16)) values.dictionary = &arena.schemas.emplace_back(values);
    }
    return &s;
}

// The reference for decimals of up to 128 bits: the integer by __int128, its point by text.
__extension__ typedef __int128 Wide;
__extension__ typedef unsigned __int128 UWide;

std::string reference_decimal(const std::uint8_t* bytes, int width, int scale, char decimal) {
    Wide value = 0;
    std::memcpy(&value, bytes, static_cast<std::size_t>(width));
    const int shift = 128 - 8 * width;
    value = static_cast<Wide>(static_cast<UWide>(value) << shift) >> shift;
    const bool negative = value < 0;
    auto magnitude =
        negative ? static_cast<UWide>(0) - static_cast<UWide>(value) : static_cast<UWide>(value);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    if (scale < 0 && digits != "0") digits.append(static_cast<std::size_t>(-scale), '0');
    if (scale > 0) {
        if (digits.size() <= static_cast<std::size_t>(scale)) {
            digits.insert(0, static_cast<std::size_t>(scale) + 1 - digits.size(), '0');
        }
        digits.insert(digits.size() - static_cast<std::size_t>(scale), 1, decimal);
    }
    return (negative ? "-" : "") + digits;
}

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    Arena arena;
    const std::uint8_t shape = in.byte();
    const char delimiter = (shape & 1) != 0 ? ';' : ',';
    const char decimal = (shape & 2) != 0 ? ',' : '.';

    ArrowSchema table{};
    table.format = (shape & 0xF0) == 0xF0 ? "+l" : "+s";
    const std::size_t n_columns = 1 + in.byte() % 4;
    auto& columns = arena.schema_lists.emplace_back();
    for (std::size_t c = 0; c < n_columns; ++c) {
        columns.push_back(in.flag(32) ? nullptr : build_column(in, arena));
    }
    if (in.flag(32) && columns[0] != nullptr) columns[0]->format = nullptr;
    table.n_children = static_cast<std::int64_t>(n_columns);
    table.children = columns.data();

    if (std::string_view(table.format) != "+s") return 0;
    if (!arrow::check_table_schema(table).empty()) return 0;
    std::vector<arrow::ColumnType> types(n_columns);
    for (std::size_t c = 0; c < n_columns; ++c) {
        if (!arrow::resolve(*columns[c], types[c]).empty()) return 0;
    }

    ArrowArray batch{};
    batch.length = in.flag(8) ? in.extent(kMaxLength) : in.byte() % 48;
    batch.offset = in.flag(8) ? in.extent(8) : in.byte() % 3;
    const std::int64_t rows =
        in.honest(batch.length) && in.honest(batch.offset) ? batch.offset + batch.length : 4;
    std::size_t n_arrays = n_columns;
    if (in.flag(10)) n_arrays = in.byte() % 5;
    auto& arrays = arena.array_lists.emplace_back();
    for (std::size_t c = 0; c < n_arrays; ++c) {
        const ArrowSchema& schema = c < n_columns ? *columns[c] : *columns[0];
        arrays.push_back(in.flag(40) ? nullptr : build_array(in, arena, schema, rows, 0));
    }
    batch.n_children = static_cast<std::int64_t>(n_arrays);
    batch.children = n_arrays == 0 && in.flag(2) ? nullptr : arrays.data();
    batch.n_buffers = 1;

    if (!arrow::check_batch(table, types, batch, 0).empty()) return 0;

    const arrow::TextStyle style(delimiter, decimal);
    std::string text = "Timestamp";
    for (std::size_t c = 1; c < n_columns; ++c) text += std::string(1, delimiter) + "T";
    text += '\n';
    {
        arrow::Text out(text);
        arrow::render_rows(types, batch, 0, batch.length, style, out);
    }
    // Decimals of up to 128 bits, cell by cell, against the reference.
    for (std::size_t c = 0; c < n_columns; ++c) {
        const arrow::ColumnType& type = types[c];
        if (type.dictionary || type.kind != arrow::Kind::Decimal || type.bytes > 16) continue;
        const ArrowArray& column = *batch.children[c];
        for (std::int64_t row = 0; row < batch.length; ++row) {
            const std::int64_t at = row + batch.offset + column.offset;
            std::string cell;
            {
                arrow::Text out(cell);
                arrow::append_cell(type, column, at, style, false, out);
            }
            if (cell.empty()) continue;  // a null
            const auto* values = static_cast<const std::uint8_t*>(column.buffers[1]);
            check(cell ==
                  reference_decimal(values + at * type.bytes, type.bytes, type.scale, decimal));
        }
    }

    ep::ProfileOptions options;
    options.delimiter = delimiter;
    options.decimal = decimal;
    ep::ExportScanner scanner(options, "<fuzz table>");
    scanner.feed(text);
    auto partial = scanner.finish();
    if (partial) (void)partial.value().finalize(options.declared);
    return 0;
}
