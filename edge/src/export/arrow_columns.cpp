// A table's rows read from their Arrow buffers into the scan state (see arrow_columns.hpp).
#include "export/arrow_columns.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "export/digest.hpp"
#include "export/records.hpp"
#include "export/state.hpp"
#include "export/tokenize.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qorv_chemical_engineering_edge::export_profile::arrow {

namespace {

template <class T>
struct Owned : T {
    Owned() : T{} {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() {
        if (this->release != nullptr) this->release(this);
    }
};

std::string stream_error(ArrowArrayStream& stream, int code) {
    const char* text = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
    return text != nullptr ? std::string(text) : "error code " + std::to_string(code);
}

std::string type_text(const ArrowSchema& schema) {
    std::string text = schema.format;
    if (schema.dictionary != nullptr) text = "dictionary:" + text + ":" + schema.dictionary->format;
    return text;
}

// Rows written as export text before the layout is read: enough for the opening sample of a
// typical table at a time (the scanner tries its layout as the opening doubles).
constexpr std::int64_t kOpeningRows = 64;
// A row whose text cells hold more than this is written as text and read as a CSV record, so
// the record rules on long rows (oversized, a quoted run) see its exact length.
constexpr std::size_t kDirectRowBytes = std::size_t{1} << 20;
constexpr std::string_view kNumber = "0";  // stands in for a finite number's text

bool needs_text(std::string_view s) {
    for (const char c : s) {
        if (c == '"' || c == '\n' || c == '\r') return true;
    }
    return false;
}

}  // namespace

CanonicalTable::CanonicalTable(const ArrowSchema& schema, const std::vector<ColumnType>& types)
    : types_(types) {
    buffer_.resize(4 * ExportScanner::kDigestBlock);
    const std::string magic = "qce table columns\nv1\n";
    put(magic.data(), magic.size());
    put_u64(types.size());
    for (std::size_t c = 0; c < types.size(); ++c) {
        const ArrowSchema& column = *schema.children[c];
        const std::string_view name = column.name != nullptr ? column.name : "";
        put_u64(name.size());
        put(name.data(), name.size());
        const std::string type = type_text(column);
        put_u64(type.size());
        put(type.data(), type.size());
    }
}

std::size_t CanonicalTable::room(std::size_t n, bool zeroed) {
    if (buffer_.size() - used_ < n) buffer_.resize(std::max(2 * buffer_.size(), used_ + n));
    if (zeroed) std::memset(buffer_.data() + used_, 0, n);
    used_ += n;
    return used_ - n;
}

void CanonicalTable::put_u64(std::uint64_t v) {
    unsigned char b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
    put(b, 8);
}

void CanonicalTable::add_batch(const ArrowArray& batch) {
    held_.push_back(Held{&batch, 0});
    pending_ += batch.length;
    while (pending_ >= kGroupRows) write_group(kGroupRows);
}

namespace {

// Up to 8 bits of a bitmap from bit `at`, reading no byte past the last bit asked for.
unsigned bits_at(const std::uint8_t* bits, std::int64_t at, int k) {
    const std::size_t byte = static_cast<std::size_t>(at >> 3);
    const int shift = static_cast<int>(at & 7);
    unsigned v = bits[byte] >> shift;
    if (shift + k > 8) v |= static_cast<unsigned>(bits[byte + 1]) << (8 - shift);
    return v & ((1u << k) - 1);
}

// ORs `count` bits of `src` from bit `at` (all ones when `src` is null) into `dst` from bit
// `to`, a byte at a time.
void or_bits(std::uint8_t* dst, std::int64_t to, const std::uint8_t* src, std::int64_t at,
             std::int64_t count) {
    while (count > 0) {
        const int k = static_cast<int>(std::min<std::int64_t>(count, 8 - (to & 7)));
        const unsigned v = src != nullptr ? bits_at(src, at, k) : (1u << k) - 1;
        dst[to >> 3] = static_cast<std::uint8_t>(dst[to >> 3] | (v << (to & 7)));
        to += k;
        at += k;
        count -= k;
    }
}

const std::uint8_t* validity_of(const ArrowArray& array) {
    if (array.null_count == 0 || array.n_buffers == 0) return nullptr;
    return static_cast<const std::uint8_t*>(array.buffers[0]);
}

}  // namespace

void CanonicalTable::write_group(std::int64_t rows) {
    for (std::size_t c = 0; c < types_.size() && rows > 0; ++c) {
        segments_.clear();
        std::int64_t left = rows;
        for (const Held& h : held_) {
            const std::int64_t count = std::min(left, h.batch->length - h.from);
            const ArrowArray& column = *h.batch->children[c];
            segments_.push_back({&column, h.batch->offset + column.offset + h.from, count});
            left -= count;
            if (left == 0) break;
        }
        write_column(types_[c], rows);
        if (used_ >= 3 * ExportScanner::kDigestBlock) flush(false);
    }
    pending_ -= rows;
    std::int64_t left = rows;
    while (!held_.empty()) {  // the batches written to their end, empty ones included
        Held& h = held_.front();
        const std::int64_t count = std::min(left, h.batch->length - h.from);
        h.from += count;
        left -= count;
        if (h.from != h.batch->length) break;
        held_.pop_front();
        ++done_;
    }
}

void CanonicalTable::write_column(const ColumnType& type, std::int64_t rows) {
    const std::size_t bitmap = static_cast<std::size_t>((rows + 7) / 8);
    const std::size_t validity = room(bitmap);
    if (type.kind == Kind::Null) return;  // no value: every validity bit 0
    const int width = value_width(type);
    const bool text = type.kind == Kind::Utf8 || type.kind == Kind::LargeUtf8;
    if (width > 0 || (type.kind == Kind::Bool && !type.dictionary) || (text && !type.dictionary)) {
        std::int64_t to = 0;
        for (const Segment& g : segments_) {
            or_bits(reinterpret_cast<std::uint8_t*>(buffer_.data() + validity), to,
                    validity_of(*g.column), g.at, g.count);
            to += g.count;
        }
    }
    if (width > 0) {  // the values as stored, zeros in place of a null's
        const std::size_t values = room(static_cast<std::size_t>(rows * width), false);
        std::size_t to = values;
        for (const Segment& g : segments_) {
            std::memcpy(buffer_.data() + to,
                        static_cast<const char*>(g.column->buffers[1]) + g.at * width,
                        static_cast<std::size_t>(g.count * width));
            to += static_cast<std::size_t>(g.count * width);
        }
        const auto* valid = reinterpret_cast<const std::uint8_t*>(buffer_.data() + validity);
        for (std::size_t b = 0; b < bitmap; ++b) {
            if (valid[b] == 0xFF) continue;
            for (std::size_t r = 8 * b; r < std::min<std::size_t>(8 * b + 8, rows); ++r) {
                if (((valid[r >> 3] >> (r & 7)) & 1) == 0)
                    std::memset(buffer_.data() + values + r * width, 0, width);
            }
        }
        return;
    }
    if (type.kind == Kind::Bool && !type.dictionary) {  // value bits, 0 for a null
        const std::size_t values = room(bitmap);
        std::int64_t to = 0;
        for (const Segment& g : segments_) {
            or_bits(reinterpret_cast<std::uint8_t*>(buffer_.data() + values), to,
                    static_cast<const std::uint8_t*>(g.column->buffers[1]), g.at, g.count);
            to += g.count;
        }
        for (std::size_t b = 0; b < bitmap; ++b)
            buffer_[values + b] = static_cast<char>(buffer_[values + b] & buffer_[validity + b]);
        return;
    }
    // Text, views and dictionaries, cell by cell: a validity bit and a u64 length each (0 for
    // a null), then the cells' bytes end to end. A dictionary cell is its value's cell.
    const ColumnType& value_type = type.dictionary ? *type.dictionary : type;
    const std::size_t lengths = room(static_cast<std::size_t>(rows) * 8);
    const bool bools = value_type.kind == Kind::Bool;
    const int value_bytes = value_width(value_type);
    std::int64_t r = 0;
    for (const Segment& g : segments_) {
        for (std::int64_t i = 0; i < g.count; ++i, ++r) {
            const ArrowArray* array = g.column;
            std::int64_t row = g.at + i;
            if (!cell_valid(*array, row)) continue;
            if (type.dictionary) {
                row = dictionary_row(type, *array, row);
                array = array->dictionary;
                if (!cell_valid(*array, row)) continue;
            }
            buffer_[validity + static_cast<std::size_t>(r >> 3)] |= static_cast<char>(1 << (r & 7));
            std::string_view cell;
            if (bools) {
                const auto* bits = static_cast<const std::uint8_t*>(array->buffers[1]);
                cell = ((bits[row >> 3] >> (row & 7)) & 1) != 0 ? "\1" : std::string_view("\0", 1);
            } else if (value_bytes > 0) {
                cell = std::string_view(
                    static_cast<const char*>(array->buffers[1]) + row * value_bytes,
                    static_cast<std::size_t>(value_bytes));
            } else if (!text_cell(value_type, *array, row, cell)) {
                continue;  // a null-typed dictionary: no value
            }
            std::uint64_t n = cell.size();
            for (int k = 0; k < 8; ++k, n >>= 8)
                buffer_[lengths + static_cast<std::size_t>(r) * 8 + k] = static_cast<char>(n);
            put(cell.data(), cell.size());
        }
    }
}

void CanonicalTable::flush(bool all) {
    const std::size_t whole = used_ / ExportScanner::kDigestBlock;
    if (whole > 0) {
        const std::size_t from = blocks_.size();
        blocks_.resize(from + whole);
        digest_whole_blocks(buffer_.data(), whole, blocks_.data() + from);
        const std::size_t done = whole * ExportScanner::kDigestBlock;
        bytes_ += done;
        std::memmove(buffer_.data(), buffer_.data() + done, used_ - done);
        used_ -= done;
    }
    if (all && used_ != 0) {
        hashing::Sha256 last;
        last.update(buffer_.data(), used_);
        blocks_.push_back(last.finish());
        bytes_ += used_;
        used_ = 0;
    }
}

std::vector<hashing::Sha256Digest> CanonicalTable::finish() {
    write_group(pending_);
    flush(true);
    return std::move(blocks_);
}

namespace {

// Up to 64 bits of a bitmap from bit `at`, reading no byte past the last bit asked for.
std::uint64_t bits64_at(const std::uint8_t* bits, std::int64_t at, std::int64_t n) {
    const auto first = static_cast<std::size_t>(at >> 3);
    const auto last = static_cast<std::size_t>((at + n - 1) >> 3);
    std::uint64_t v = 0;
    const std::size_t low = std::min<std::size_t>(last - first + 1, 8);
    for (std::size_t i = 0; i < low; ++i) v |= std::uint64_t{bits[first + i]} << (8 * i);
    const int shift = static_cast<int>(at & 7);
    v >>= shift;
    if (last - first == 8) v |= std::uint64_t{bits[first + 8]} << (64 - shift);
    return n == 64 ? v : v & ((std::uint64_t{1} << n) - 1);
}

// Bit k set when double k of the `n` (at most 64) at `v` is not finite (its exponent bits all
// ones). Two at a time with SSE2 where there is SSE2 (part of x86-64), the same test on the
// high words; measured on the wide bench table this marking took a third of the table's row
// loop one value at a time.
std::uint64_t nonfinite_doubles(const char* v, std::int64_t n) {
    std::uint64_t word = 0;
    std::int64_t k = 0;
#if defined(__SSE2__)
    const __m128i mask = _mm_set_epi32(0x7FF00000, 0, 0x7FF00000, 0);
    for (; k + 2 <= n; k += 2) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + k * 8));
        const __m128i eq = _mm_cmpeq_epi32(_mm_and_si128(x, mask), mask);
        word |= static_cast<std::uint64_t>(_mm_movemask_pd(_mm_castsi128_pd(eq))) << k;
    }
#endif
    for (; k < n; ++k) {
        std::uint64_t x;
        std::memcpy(&x, v + k * 8, 8);
        word |= std::uint64_t{(x & 0x7FF0000000000000u) == 0x7FF0000000000000u} << k;
    }
    return word;
}

}  // namespace

namespace {

// The rows after the opening: each row's cells handed to the record processor as CellRefs.
class DirectRows {
  public:
    DirectRows(PartialProfile::State& state, std::uint64_t line,
               const std::vector<ColumnType>& types, const TextStyle& style)
        : state_(state), proc_(state, 0), line_(line), types_(types), style_(style) {
        const FileLayout& layout = state.files[0].layout;
        const std::size_t n = types.size();
        cells_.resize(n);
        starts_.resize(n);
        ends_.resize(n);
        stand_in_.assign(n, 0);
        // A finite number in a value cell is read for being a number alone (its value only
        // against the sentinels); every other role reads the cell's text. Signal health
        // reads every value: no stand-in then.
        if (state.settings->options.missing_sentinels.empty() && !state.settings->health) {
            auto mark = [&](std::int64_t col, char on) {
                if (col >= 0 && static_cast<std::size_t>(col) < n)
                    stand_in_[static_cast<std::size_t>(col)] = on;
            };
            for (const auto col : layout.tag_column) mark(col, 1);
            mark(layout.value_col, 1);
            for (const auto col : layout.more_value_cols) mark(col, 1);
            for (const auto col : layout.quality_column) mark(col, 0);
            for (const auto col : layout.pair_time_column) mark(col, 0);
            mark(layout.time_col, 0);
            mark(layout.time_col2, 0);
            mark(layout.tag_col, 0);
            mark(layout.quality_col, 0);
            mark(layout.unit_col, 0);
        }
        // The block classifier's road, as a CSV file's wide rows take it: plain_row with only
        // the cells that are not finite numbers listed. Measured on the float64 + timestamp
        // table of the wide bench data (with the columnar encoding): the whole table took 0.83 s
        // CPU cell by cell, 0.19 s this way, against 0.22 s for the same data as a CSV file.
        // Signal health on that road: the plain cells' values are handed over here.
        health_ = state.settings->health;
        if (health_) proc_.values_by_caller();
        fast_ = proc_.plain_rows_allowed(false) && layout.n_columns == n &&
                layout.time_join == TimeJoin::None && layout.time_col >= 0 &&
                static_cast<std::size_t>(layout.time_col) < n && layout.time_col2 < 0;
        if (!fast_) return;
        time_col_ = static_cast<std::size_t>(layout.time_col);
        value_.assign(n, 0);
        for (const auto col : layout.tag_column) value_[static_cast<std::size_t>(col)] = 1;
        std::size_t typed_bytes = 0;
        for (std::size_t c = 0; c < n; ++c) {
            if (is_text(types[c])) {
                text_cols_.push_back(c);
            } else {
                typed_bytes += 100;  // more than any typed cell's text
            }
            if (value_[c]) value_cols_.push_back(c);
        }
        typed_bytes_ = typed_bytes;
        exceptions_.resize(value_cols_.size() * (kRun / 64));
        plain_.resize(n);
        wide_.resize(n);
        wide_from_.resize(n);
        wide_to_.resize(n);
    }

    std::uint64_t line() const noexcept { return line_; }

    // Rows [begin, end) of a batch, at most kRun of them.
    void rows(const ArrowArray& batch, std::int64_t begin, std::int64_t end) {
        if (fast_) {
            fast_rows(batch, begin, end);
            return;
        }
        for (std::int64_t row = begin; row < end; ++row) one(batch, row);
    }

    static constexpr std::int64_t kRun = 4096;

  private:
    bool quotes(std::string_view s) const {
        for (const char c : s) {
            if (style_.needs_quotes[static_cast<unsigned char>(c)]) return true;
        }
        return false;
    }

    static bool is_text(const ColumnType& type) {
        const Kind k = type.dictionary ? type.dictionary->kind : type.kind;
        return k == Kind::Utf8 || k == Kind::LargeUtf8 || k == Kind::Utf8View;
    }

    // Sets bit r of `bits` for each row begin + r of a value column whose cell is not a finite
    // number (a null, NaN, infinity, or a cell of a type that is no number): the listed cells.
    static void mark_exceptions(const ColumnType& type, const ArrowArray& array, std::int64_t begin,
                                std::int64_t count, std::uint64_t* bits) {
        const std::int64_t at = begin + array.offset;
        const bool nulls = array.null_count != 0 && array.n_buffers > 0 && array.buffers[0];
        if (!type.dictionary && type.kind == Kind::Float64) {
            const auto* v = static_cast<const char*>(array.buffers[1]) + at * 8;
            for (std::int64_t r = 0; r < count; r += 64)
                bits[r >> 6] |= nonfinite_doubles(v + r * 8, std::min<std::int64_t>(64, count - r));
        } else if (!type.dictionary && type.kind == Kind::Float32) {
            const auto* v = static_cast<const char*>(array.buffers[1]) + at * 4;
            for (std::int64_t r = 0; r < count; ++r) {
                std::uint32_t x;
                std::memcpy(&x, v + r * 4, 4);
                const std::uint64_t bad = (x & 0x7F800000u) == 0x7F800000u;
                bits[r >> 6] |= bad << (r & 63);
            }
        } else if (type.dictionary || !finite_number_cell(type, array, at)) {
            // Not a number type (finite_number_cell answers by type alone for these): all listed.
            for (std::int64_t r = 0; r < count; ++r) bits[r >> 6] |= std::uint64_t{1} << (r & 63);
            return;
        } else if (type.kind == Kind::Float16) {
            for (std::int64_t r = 0; r < count; ++r) {
                const std::uint64_t bad = finite_number_cell(type, array, at + r) ? 0 : 1;
                bits[r >> 6] |= bad << (r & 63);
            }
        }  // integers and decimals: every valid cell a number
        if (!nulls) return;
        const auto* valid = static_cast<const std::uint8_t*>(array.buffers[0]);
        for (std::int64_t r = 0; r < count; r += 64) {
            const std::int64_t n = std::min<std::int64_t>(64, count - r);
            const std::uint64_t ones = n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
            bits[r >> 6] |= ~bits64_at(valid, at + r, n) & ones;
        }
    }

    void fast_rows(const ArrowArray& batch, std::int64_t begin, std::int64_t end) {
        const std::int64_t count = end - begin;
        const std::size_t words = static_cast<std::size_t>((count + 63) / 64);
        // Text columns whose bytes over the run hold no quote or line break need no look per
        // row; their bytes bound the rows' lengths.
        bool check_text = false;
        std::size_t text_bytes = 0;
        for (const std::size_t c : text_cols_) {
            const ArrowArray& column = *batch.children[c];
            const ColumnType& type = types_[c];
            const std::int64_t at = begin + batch.offset + column.offset;
            plain_[c] = plain_text(type, column, at, count, style_);
            if (!plain_[c]) {
                check_text = true;
                text_bytes = kDirectRowBytes;  // measured per row
                continue;
            }
            const bool large = type.kind == Kind::LargeUtf8;
            std::int64_t first = 0, last = 0;
            if (large) {
                std::memcpy(&first, static_cast<const std::int64_t*>(column.buffers[1]) + at, 8);
                std::memcpy(&last, static_cast<const std::int64_t*>(column.buffers[1]) + at + count,
                            8);
            } else {
                std::int32_t a = 0, b = 0;
                std::memcpy(&a, static_cast<const std::int32_t*>(column.buffers[1]) + at, 4);
                std::memcpy(&b, static_cast<const std::int32_t*>(column.buffers[1]) + at + count,
                            4);
                first = a;
                last = b;
            }
            text_bytes += static_cast<std::size_t>(last - first);
        }
        const bool measure = typed_bytes_ + text_bytes > kDirectRowBytes;
        // Each value column's listed rows; the columns with any, in column order.
        active_.clear();
        for (std::size_t k = 0; k < value_cols_.size(); ++k) {
            std::uint64_t* bits = exceptions_.data() + k * (kRun / 64);
            std::fill(bits, bits + words, 0);
            const std::size_t c = value_cols_[k];
            const ArrowArray& column = *batch.children[c];
            mark_exceptions(types_[c], column, begin + batch.offset, count, bits);
            for (std::size_t w = 0; w < words; ++w) {
                if (bits[w] != 0) {
                    active_.push_back(k);
                    break;
                }
            }
        }
        // The listed cells row by row, in column order (a counting sort over the bitmaps):
        // each row then visits its own listed cells, not every column's bit.
        row_first_.assign(static_cast<std::size_t>(count) + 1, 0);
        for (const std::size_t k : active_) {
            const std::uint64_t* bits = exceptions_.data() + k * (kRun / 64);
            for (std::size_t w = 0; w < words; ++w) {
                for (std::uint64_t b = bits[w]; b != 0; b &= b - 1)
                    ++row_first_[64 * w + static_cast<std::size_t>(std::countr_zero(b)) + 1];
            }
        }
        for (std::size_t r = 0; r < static_cast<std::size_t>(count); ++r)
            row_first_[r + 1] += row_first_[r];
        listed_.resize(row_first_.back());
        fill_.assign(row_first_.begin(), row_first_.end() - 1);
        for (const std::size_t k : active_) {
            const std::uint64_t* bits = exceptions_.data() + k * (kRun / 64);
            for (std::size_t w = 0; w < words; ++w) {
                for (std::uint64_t b = bits[w]; b != 0; b &= b - 1) {
                    const std::size_t r = 64 * w + static_cast<std::size_t>(std::countr_zero(b));
                    listed_[fill_[r]++] = static_cast<std::uint32_t>(value_cols_[k]);
                }
            }
        }
        static const char kEmpty[1] = {0};
        for (std::int64_t row = begin; row < end; ++row) {
            const std::int64_t r = row - begin;
            if (check_text || measure) {
                std::size_t length = typed_bytes_;
                bool as_text = false;
                for (const std::size_t c : text_cols_) {
                    const ArrowArray& column = *batch.children[c];
                    const std::int64_t at = row + batch.offset + column.offset;
                    std::string_view text;
                    if (!cell_valid(column, at) || !text_cell(types_[c], column, at, text))
                        continue;
                    length += text.size();
                    // A cell CSV text would quote goes the record's way, as its text would.
                    if (!plain_[c] && quotes(text)) as_text = true;
                }
                if (as_text || length > kDirectRowBytes) {
                    proc_.flush_plain();
                    one(batch, row);
                    continue;
                }
            }
            out_.clear();
            std::size_t n_listed = 0;
            for (std::size_t i = row_first_[static_cast<std::size_t>(r)];
                 i < row_first_[static_cast<std::size_t>(r) + 1]; ++i) {
                const std::size_t c = listed_[i];
                const ArrowArray& column = *batch.children[c];
                const std::int64_t at = row + batch.offset + column.offset;
                wide_from_[n_listed] = out_.size();
                std::string_view text;
                if (cell_valid(column, at) && text_cell(types_[c], column, at, text)) {
                    out_.append(text);
                } else {
                    append_cell(types_[c], column, at, style_, false, out_);
                }
                wide_[n_listed].col = static_cast<std::uint32_t>(c);
                wide_to_[n_listed] = out_.size();
                ++n_listed;
            }
            const std::size_t time_from = out_.size();
            {
                const ArrowArray& column = *batch.children[time_col_];
                append_cell(types_[time_col_], column, row + batch.offset + column.offset, style_,
                            false, out_);
            }
            const std::size_t time_to = out_.size();
            std::size_t first_from = time_from, first_to = time_to;
            if (time_col_ != 0) {
                first_from = out_.size();
                const ArrowArray& column = *batch.children[0];
                append_cell(types_[0], column, row + batch.offset + column.offset, style_, false,
                            out_);
                first_to = out_.size();
            }
            // out_ is complete: its cells as pointers.
            const char* base = out_.size() != 0 ? out_.data() : kEmpty;
            for (std::size_t k = 0; k < n_listed; ++k) {
                wide_[k].b = base + wide_from_[k];
                wide_[k].e = base + wide_to_[k];
            }
            const CellRef time{base + time_from, base + time_to, false};
            const CellRef first{base + first_from, base + first_to, false};
            static const CellRef kNone{nullptr, nullptr, false};
            proc_.plain_row(time, kNone, first, wide_.data(), n_listed, line_);
            if (health_ && proc_.plain_row_taken())
                plain_values(batch, row, static_cast<std::size_t>(r));
            ++line_;
        }
        proc_.flush_plain();
    }

    // Row `row`'s plain cells (valid finite numbers, those not listed) to signal health, in
    // column order: a double as it is, any other number by its text, read as a text file's
    // cell would be (a float's shortest text reads as another double than the float widened).
    void plain_values(const ArrowArray& batch, std::int64_t row, std::size_t r) {
        std::size_t next = row_first_[r];
        const std::size_t end = row_first_[r + 1];
        for (const std::size_t c : value_cols_) {
            if (next < end && listed_[next] == c) {
                ++next;
                continue;
            }
            const ArrowArray& column = *batch.children[c];
            const std::int64_t at = row + batch.offset + column.offset;
            const ColumnType& type = types_[c];
            const auto col = static_cast<std::uint32_t>(c);
            if (!type.dictionary && type.kind == Kind::Float64) {
                double v = 0;
                std::memcpy(&v, static_cast<const char*>(column.buffers[1]) + at * 8, 8);
                proc_.plain_value(col, v);
                continue;
            }
            value_text_.clear();
            append_cell(type, column, at, style_, false, value_text_);
            proc_.plain_value(col, std::string_view(value_text_.data(), value_text_.size()));
        }
    }

    void one(const ArrowArray& batch, std::int64_t row) {
        static const char kEmpty[1] = {0};
        out_.clear();
        std::size_t length = types_.size() - 1;  // the delimiters
        bool as_text = false;
        for (std::size_t c = 0; c < types_.size(); ++c) {
            const ColumnType& type = types_[c];
            const ArrowArray& column = *batch.children[c];
            const std::int64_t at = row + batch.offset + column.offset;
            starts_[c] = kNoText;
            if (type.kind == Kind::Null || !cell_valid(column, at)) {
                cells_[c] = {kEmpty, kEmpty, false};
                continue;
            }
            std::string_view text;
            if (text_cell(type, column, at, text)) {
                length += text.size();
                if (needs_text(text)) as_text = true;
                cells_[c] = {text.data(), text.data() + text.size(), false};
                if (text.empty()) cells_[c] = {kEmpty, kEmpty, false};
                continue;
            }
            if (stand_in_[c] && finite_number_cell(type, column, at)) {
                cells_[c] = {kNumber.data(), kNumber.data() + kNumber.size(), false};
                length += 24;  // the most a number's text takes
                continue;
            }
            starts_[c] = out_.size();
            append_cell(type, column, at, style_, false, out_);
            ends_[c] = out_.size();
            length += ends_[c] - starts_[c];
        }
        if (as_text || length > kDirectRowBytes) {
            record_.clear();
            {
                Text out(record_);
                render_rows(types_, batch, row, row + 1, style_, out);
            }
            record_.pop_back();  // the line feed (a rare path: a Text of its own is fine)
            process_record(state_, 0, record_, line_);
            line_ +=
                1 + static_cast<std::uint64_t>(std::count(record_.begin(), record_.end(), '\n'));
            return;
        }
        for (std::size_t c = 0; c < types_.size(); ++c) {
            if (starts_[c] == kNoText) continue;
            cells_[c] = {out_.data() + starts_[c], out_.data() + ends_[c], false};
        }
        proc_.process(cells_.data(), cells_.size(), cells_.size(), length, line_, 0);
        ++line_;
    }

    static constexpr std::size_t kNoText = ~std::size_t{0};
    PartialProfile::State& state_;
    RecordProcessor proc_;
    std::uint64_t line_;
    const std::vector<ColumnType>& types_;
    const TextStyle& style_;
    std::vector<CellRef> cells_;
    std::vector<std::size_t> starts_, ends_;
    std::vector<char> stand_in_;
    // The block classifier's road (fast_): the time column, the value columns and their listed
    // rows in the run at hand (a bitmap of kRun bits each), those with any, the text columns.
    bool fast_ = false, health_ = false;
    std::size_t time_col_ = 0;
    std::size_t typed_bytes_ = 0;
    std::vector<char> value_, plain_;
    std::vector<std::size_t> value_cols_, text_cols_, active_;
    std::vector<std::uint64_t> exceptions_;
    std::vector<std::size_t> row_first_, fill_;  // a row's listed cells: listed_[first, next)
    std::vector<std::uint32_t> listed_;
    std::vector<WideCell> wide_;
    std::vector<std::size_t> wide_from_, wide_to_;
    // The typed cells of the row at hand written as text (the time cell, mostly); one Text for
    // every row, since a Text sized afresh zeroes its room (measured: that memset was a fifth of
    // the table's scan time).
    std::string scratch_;
    Text out_{scratch_};
    std::string value_scratch_;
    Text value_text_{value_scratch_};  // a plain cell's text, for signal health
    std::string record_;
};

}  // namespace

namespace {

// The batches read so far, alive until the canonical encoding is done with them, and the
// encoding written either here or, with threads to spare, on a thread of its own beside the row
// loop (it reads the same batches). Profiled on the wide bench table: the encoding and its
// digest are about half the table's CPU time, the part a second thread can take off the row loop.
class Encoder {
  public:
    Encoder(CanonicalTable& table, bool threaded) : table_(table) {
        if (!threaded) return;
        try {
            worker_ = std::thread([this] { work(); });
        } catch (...) {  // no thread to be had: written here
        }
    }
    ~Encoder() {
        if (!worker_.joinable()) return;
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Room for the next batch of the stream; give() it once read and checked, or drop() it.
    Owned<ArrowArray>& slot() { return batches_.emplace_back(); }
    void drop() { batches_.pop_back(); }
    void give() {
        const ArrowArray& batch = batches_.back();
        if (!worker_.joinable()) {
            table_.add_batch(batch);
            release(table_.batches_done());
            return;
        }
        std::unique_lock lock(mutex_);
        queue_.push_back(&batch);
        queued_rows_ += batch.length;
        wake_.notify_all();
        // The worker no more than a few groups behind: memory stays bounded.
        wake_.wait(lock, [&] { return queued_rows_ <= 4 * CanonicalTable::kGroupRows; });
        const std::size_t done = done_;
        lock.unlock();
        release(done);
    }
    // Waits for the worker to write what it was given.
    void finish() {
        if (!worker_.joinable()) return;
        {
            const std::lock_guard lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }

  private:
    void release(std::size_t done) {
        for (; released_ < done; ++released_) batches_.pop_front();
    }
    void work() {
        std::unique_lock lock(mutex_);
        std::vector<const ArrowArray*> taken;
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || closing_ || !queue_.empty(); });
            if (stop_ || (closing_ && queue_.empty())) return;
            taken.swap(queue_);
            queued_rows_ = 0;
            wake_.notify_all();
            lock.unlock();
            for (const ArrowArray* batch : taken) table_.add_batch(*batch);
            taken.clear();
            lock.lock();
            done_ = table_.batches_done();
        }
    }

    CanonicalTable& table_;
    std::deque<Owned<ArrowArray>> batches_;  // from the first not yet released
    std::size_t released_ = 0;
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<const ArrowArray*> queue_;  // given, not yet taken by the worker
    std::int64_t queued_rows_ = 0;
    std::size_t done_ = 0;  // batches the worker is done with
    bool stop_ = false, closing_ = false;
};

}  // namespace

TableScan scan_table(ArrowArrayStream& stream, const std::string& label,
                     const ProfileOptions& options, const Cancelled& cancelled) {
    TableScan outcome;
    auto fail = [&](bool type_error, std::string text) {
        outcome.type_error = type_error;
        outcome.error = label + ": " + std::move(text);
        return std::move(outcome);
    };
    Owned<ArrowSchema> schema;
    if (const int code = stream.get_schema(&stream, &schema); code != 0) {
        return fail(false, "the Arrow stream failed: " + stream_error(stream, code));
    }
    if (schema.format == nullptr || std::string_view(schema.format) != "+s") {
        return fail(true, "the Arrow stream's rows are not a struct (a table)");
    }
    if (auto why = check_table_schema(schema); !why.empty()) return fail(false, why);
    const auto n_columns = static_cast<std::size_t>(schema.n_children);
    std::vector<ColumnType> types(n_columns);
    const TextStyle style(options.delimiter, options.decimal);
    std::string text;
    {
        Text header(text);
        for (std::size_t c = 0; c < n_columns; ++c) {
            const ArrowSchema& column = *schema.children[c];
            const char* name = column.name != nullptr ? column.name : "";
            if (auto why = resolve(column, types[c]); !why.empty()) {
                return fail(true, "column '" + std::string(name) + "': " + why);
            }
            if (c != 0) header.push_back(options.delimiter);
            append_text(name, style, header);
        }
        header.push_back('\n');
    }
    CanonicalTable canonical(schema, types);
    ExportScanner scanner(options, label);
    scanner.feed(text);

    std::optional<DirectRows> direct;
    std::int64_t rows_before = 0;
    const unsigned threads =
        options.threads != 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    Encoder encoder(canonical, threads > 1);
    while (!scanner.failed()) {
        Owned<ArrowArray>& batch = encoder.slot();
        if (const int code = stream.get_next(&stream, &batch); code != 0) {
            return fail(false, "the Arrow stream failed: " + stream_error(stream, code));
        }
        if (batch.release == nullptr) {  // the end of the stream
            encoder.drop();
            break;
        }
        if (auto why = check_batch(schema, types, batch, rows_before); !why.empty()) {
            return fail(false, why);
        }
        rows_before += batch.length;
        for (std::int64_t row = 0; row < batch.length && !scanner.failed();) {
            if (cancelled && cancelled()) return outcome;
            if (!direct) {
                const std::int64_t end = std::min(batch.length, row + kOpeningRows);
                text.clear();
                {
                    Text out(text);
                    render_rows(types, batch, row, end, style, out);
                }
                scanner.feed(text);
                row = end;
                std::uint64_t line = 0;
                if (PartialProfile::State* state = opened_state(scanner, line)) {
                    direct.emplace(*state, line, types, style);
                }
                continue;
            }
            // Runs of rows between questions to `cancelled`.
            const std::int64_t end = std::min(batch.length, row + DirectRows::kRun);
            direct->rows(batch, row, end);
            row = end;
        }
        encoder.give();
    }
    encoder.finish();
    const std::optional<std::uint64_t> lines =
        direct ? std::optional(direct->line()) : std::nullopt;
    direct.reset();
    auto partial = scanner.finish();
    if (!partial) return fail(false, partial.error().reason);
    PartialProfile::State& state = partial.value().state();
    FilePart& part = state.files[0];
    if (lines) {  // the rows read from the columns count as the lines their text would take
        part.lines = *lines;
        state.tail_line = *lines;
    }
    part.ends_mid_block = canonical.ends_mid_block();
    part.blocks = canonical.finish();
    part.bytes = canonical.bytes();
    part.digest_complete = true;
    set_fact(part.layout.facts, "input_digest", std::string(kTableDigest), Decided::Detected);
    outcome.partial = std::move(partial.value());
    return outcome;
}

TableOutcome profile_table(ArrowArrayStream& stream, const std::string& label,
                           const ProfileOptions& options, const Cancelled& cancelled) {
    TableScan scan = scan_table(stream, label, options, cancelled);
    TableOutcome outcome;
    outcome.type_error = scan.type_error;
    outcome.error = std::move(scan.error);
    if (!scan.partial) return outcome;
    auto finished = std::move(*scan.partial).finalize(options.declared);
    if (!finished) {
        outcome.error = label + ": " + finished.error().reason;
        return outcome;
    }
    outcome.profile = std::move(finished.value());
    return outcome;
}

}  // namespace qorv_chemical_engineering_edge::export_profile::arrow
