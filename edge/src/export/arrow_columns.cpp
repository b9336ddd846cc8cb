// A table's rows read from their Arrow buffers into the scan state (see arrow_columns.hpp).
#include "export/arrow_columns.hpp"

#include <algorithm>
#include <cstring>
#include <deque>

#include "export/digest.hpp"
#include "export/records.hpp"
#include "export/state.hpp"

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

CanonicalTable::CanonicalTable(const ArrowSchema& schema, const std::vector<ColumnType>& types) {
    buffer_.resize(2 * ExportScanner::kDigestBlock + 4096);
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

void CanonicalTable::put_u64(std::uint64_t v) {
    unsigned char b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
    put(b, 8);
}

void CanonicalTable::put_cell(const ColumnType& type, const ArrowArray& array, std::int64_t row) {
    if (type.kind == Kind::Null || !cell_valid(array, row)) {
        put_byte(0);
        return;
    }
    put_byte(1);
    if (type.dictionary) {  // the value it indexes, as its own cell
        std::int64_t index = 0;
        ColumnType index_type;
        index_type.kind = type.kind;
        const int width = value_width(index_type);
        const auto* p = static_cast<const unsigned char*>(array.buffers[1]) + row * width;
        std::uint64_t raw = 0;
        std::memcpy(&raw, p, static_cast<std::size_t>(width));
        const bool is_signed = type.kind == Kind::Int8 || type.kind == Kind::Int16 ||
                               type.kind == Kind::Int32 || type.kind == Kind::Int64;
        if (is_signed && width < 8 && ((raw >> (8 * width - 1)) & 1) != 0) {
            raw |= ~std::uint64_t{0} << (8 * width);
        }
        index = static_cast<std::int64_t>(raw);
        --used_;  // the value's own validity byte follows
        put_cell(*type.dictionary, *array.dictionary, index + array.dictionary->offset);
        return;
    }
    std::string_view text;
    if (text_cell(type, array, row, text)) {
        put_u64(text.size());
        put(text.data(), text.size());
        return;
    }
    if (type.kind == Kind::Bool) {
        const auto* bits = static_cast<const std::uint8_t*>(array.buffers[1]);
        put_byte(static_cast<char>((bits[row >> 3] >> (row & 7)) & 1));
        return;
    }
    const int width = value_width(type);
    put(static_cast<const char*>(array.buffers[1]) + row * width, static_cast<std::size_t>(width));
}

void CanonicalTable::add_rows(const std::vector<ColumnType>& types, const ArrowArray& batch) {
    for (std::int64_t row = 0; row < batch.length; ++row) {
        for (std::size_t c = 0; c < types.size(); ++c) {
            const ArrowArray& column = *batch.children[c];
            put_cell(types[c], column, row + batch.offset + column.offset);
        }
        if (used_ >= 2 * ExportScanner::kDigestBlock) flush(false);
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
    flush(true);
    return std::move(blocks_);
}

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
        // against the sentinels); every other role reads the cell's text.
        if (state.settings->options.missing_sentinels.empty()) {
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
    }

    std::uint64_t line() const noexcept { return line_; }

    void rows(const ArrowArray& batch, std::int64_t begin, std::int64_t end) {
        for (std::int64_t row = begin; row < end; ++row) one(batch, row);
    }

  private:
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
    // The typed cells of the row at hand written as text (the time cell, mostly); one Text for
    // every row, since a Text sized afresh zeroes its room (measured: that memset was a fifth of
    // the table's scan time).
    std::string scratch_;
    Text out_{scratch_};
    std::string record_;
};

}  // namespace

TableOutcome profile_table(ArrowArrayStream& stream, const std::string& label,
                           const ProfileOptions& options, const Cancelled& cancelled) {
    TableOutcome outcome;
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
    while (!scanner.failed()) {
        Owned<ArrowArray> batch;
        if (const int code = stream.get_next(&stream, &batch); code != 0) {
            return fail(false, "the Arrow stream failed: " + stream_error(stream, code));
        }
        if (batch.release == nullptr) break;  // the end of the stream
        if (auto why = check_batch(schema, types, batch, rows_before); !why.empty()) {
            return fail(false, why);
        }
        rows_before += batch.length;
        canonical.add_rows(types, batch);
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
            const std::int64_t end = std::min(batch.length, row + 4096);
            direct->rows(batch, row, end);
            row = end;
        }
    }
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
    auto finished = std::move(partial.value()).finalize(options.declared);
    if (!finished) return fail(false, finished.error().reason);
    outcome.profile = std::move(finished.value());
    return outcome;
}

}  // namespace qorv_chemical_engineering_edge::export_profile::arrow
