// Arrow columns written as export text, cell by cell, for the profiler's scanner.
//
// The scanner reads bytes as a historian writes them, so an Arrow table reaches it as CSV text
// rendered straight from the Arrow buffers (no Python objects, no copy of the table): numbers
// in their shortest round-trip form with the declared decimal separator, decimals exactly from
// their integer and scale, times and durations as numbers of seconds, strings quoted when
// they hold the delimiter, a quote or a line break, binary cells as their UTF-8 text,
// timestamps as ISO text ("Z" when the column has a zone, naive otherwise), nulls as empty
// cells.
//
// Nothing here needs Python: the module and the fuzz targets compile this file alike. The
// arrays come from another program, so every batch is checked against its schema
// (check_batch) before a cell of it is read.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "export/arrow_c.h"

namespace qorv_chemical_engineering_edge::export_profile::arrow {

enum class Kind : std::uint8_t {
    Null,
    Utf8,
    LargeUtf8,
    Utf8View,
    Bool,
    Int8,
    Int16,
    Int32,
    Int64,
    UInt8,
    UInt16,
    UInt32,
    UInt64,
    Float32,
    Float64,
    Timestamp,
    Date32,
    Date64,
    Float16,
    Decimal,    // two's complement integers of `bytes` bytes, scaled by 10^-scale
    Seconds32,  // time32: units of 1/per_second s
    Seconds64,  // time64, duration
};

// A column's type, resolved once from its schema.
struct ColumnType {
    Kind kind = Kind::Null;
    std::int64_t per_second = 1;  // timestamps: units per second
    bool zoned = false;           // timestamps: the column has a time zone (instants in UTC)
    bool binary = false;          // Utf8 kinds holding binary: each cell must be UTF-8 text
    int bytes = 0;                // decimals: width of a value
    int scale = 0;                // decimals: digits after the point (negative: zeros appended)
    std::unique_ptr<ColumnType> dictionary;  // set when the column is dictionary-encoded;
                                             // `kind` is then the index type
};

// An append-only text over a std::string: an append is a bounds check and a copy. The string
// is sized ahead and trimmed to the text when the Text dies. (Measured: appending cell by cell
// to the std::string itself cost a third of the rendering time.)
class Text {
  public:
    explicit Text(std::string& target) : target_(target), used_(target.size()) {
        target_.resize(std::max(target_.capacity(), used_ + 4096));
        data_ = target_.data();
    }
    ~Text() { target_.resize(used_); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;

    void push_back(char c) {
        if (used_ == target_.size()) grow(1);
        data_[used_++] = c;
    }
    void append(const char* bytes, std::size_t n) {
        if (n == 0) return;  // `bytes` may then be null (an empty cell without a data buffer)
        if (target_.size() - used_ < n) grow(n);
        std::memcpy(data_ + used_, bytes, n);
        used_ += n;
    }
    void append(std::string_view text) { append(text.data(), text.size()); }
    // Starts over, keeping the room: a text reused row after row is not zeroed again.
    void clear() noexcept { used_ = 0; }
    const char* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return used_; }
    void append(const char* begin, const char* end) {
        append(begin, static_cast<std::size_t>(end - begin));
    }

  private:
    void grow(std::size_t n) {
        target_.resize(std::max(2 * target_.size(), used_ + n));
        data_ = target_.data();
    }

    std::string& target_;
    std::size_t used_;
    char* data_;
};

// How cells are written: the separators, and the bytes that make a text field need quotes.
struct TextStyle {
    char delimiter = ',';
    char decimal = '.';
    std::array<bool, 256> needs_quotes{};

    TextStyle(char delimiter_, char decimal_);
};

// Resolves `format`; an empty string on success, else the reason the type is not supported.
std::string resolve(const ArrowSchema& schema, ColumnType& type);

// A table's schema is a struct whose children are the columns. An empty string when its
// structure holds together (formats and children present), else what is wrong.
std::string check_table_schema(const ArrowSchema& schema);

// Checks a batch of the table against its schema and the columns' resolved types before any
// cell is read: child counts, buffer counts, lengths and offsets, offsets and views within
// their buffers, dictionaries present and their indices within them, binary cells UTF-8. An
// empty string when the batch may be read, else the reason, naming the column. `first_row`
// (the rows of the batches before) numbers the rows in the reason.
std::string check_batch(const ArrowSchema& schema, const std::vector<ColumnType>& types,
                        const ArrowArray& batch, std::int64_t first_row = 0);

// Renders rows [begin, end) of a checked batch, a line each.
void render_rows(const std::vector<ColumnType>& types, const ArrowArray& batch, std::int64_t begin,
                 std::int64_t end, const TextStyle& style, Text& out);

// True when the column is text whose bytes in `array` (rows from `begin`, the array's own
// offset included, `length` of them) hold nothing that needs quotes: its cells can then be
// copied without looking at them one by one.
bool plain_text(const ColumnType& type, const ArrowArray& array, std::int64_t begin,
                std::int64_t length, const TextStyle& style);

// Appends the cell at `row` (already including the array's own offset) of `array`; `plain`
// as plain_text() found for the rows around it.
void append_cell(const ColumnType& type, const ArrowArray& array, std::int64_t row,
                 const TextStyle& style, bool plain, Text& out);

// Appends a text field, quoted when it must be.
void append_text(std::string_view text, const TextStyle& style, Text& out);

// Whether the cell at `row` (the array's own offset included) holds a value.
bool cell_valid(const ArrowArray& array, std::int64_t row);

// The row of a dictionary column's cell in its dictionary (the dictionary's offset included).
std::int64_t dictionary_row(const ColumnType& type, const ArrowArray& array, std::int64_t row);

// The bytes of a valid text cell (Utf8 kinds, and dictionaries of them, resolved); false for a
// cell of any other type.
bool text_cell(const ColumnType& type, const ArrowArray& array, std::int64_t row,
               std::string_view& out);

// True when a valid cell is a number whose text is a plain finite number (not NaN or inf).
bool finite_number_cell(const ColumnType& type, const ArrowArray& array, std::int64_t row);

// The width in bytes of a fixed-width value of `type` in its values buffer; 0 for the others
// (null, text, booleans, dictionaries).
int value_width(const ColumnType& type);

}  // namespace qorv_chemical_engineering_edge::export_profile::arrow
