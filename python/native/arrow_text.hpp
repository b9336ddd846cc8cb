// Arrow columns written as export text, cell by cell, for the profiler's scanner.
//
// The scanner reads bytes as a historian writes them, so an Arrow table reaches it as CSV text
// rendered straight from the Arrow buffers (no Python objects, no copy of the table): numbers
// in their shortest round-trip form with the declared decimal separator, strings quoted when
// they hold the delimiter, a quote or a line break, timestamps as ISO text ("Z" when the
// column has a zone, naive otherwise), nulls as empty cells.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "arrow_c.h"

namespace qorv_chemical_engineering_edge_py::arrow {

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
};

// A column's type, resolved once from its schema.
struct ColumnType {
    Kind kind = Kind::Null;
    std::int64_t per_second = 1;  // timestamps: units per second
    bool zoned = false;           // timestamps: the column has a time zone (instants in UTC)
    std::unique_ptr<ColumnType> dictionary;  // set when the column is dictionary-encoded;
                                             // `kind` is then the index type
};

// Resolves `format`; an empty string on success, else the reason the type is not supported.
std::string resolve(const ArrowSchema& schema, ColumnType& type);

// Appends the cell at `row` (already including the array's own offset) of `array`.
void append_cell(const ColumnType& type, const ArrowArray& array, std::int64_t row, char delimiter,
                 char decimal, std::string& out);

// Appends a text field, quoted when it must be.
void append_text(std::string_view text, char delimiter, std::string& out);

}  // namespace qorv_chemical_engineering_edge_py::arrow
