// Differential check of tables read from their buffers: a random honest table (a time column,
// value columns of float, integer, boolean and text types with nulls, NaN, infinities, sentinels
// and text that needs quotes; wide, or long with a tag column) cut into random batches is
// profiled from its columns (scan_table: the opening as text, then the rows from the buffers,
// by the block classifier's road where the layout allows) and, as the same data as CSV text
// (the table's rows rendered by render_rows), by the scanner. The two partial profiles must be
// equal in everything but what is defined over the bytes read: the input digest's blocks and
// the byte count, and the reading fact naming the digest. Signal health on or off, its
// envelopes included.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <source_location>
#include <string>
#include <vector>

#include "export/arrow_c.h"
#include "export/arrow_columns.hpp"
#include "export/arrow_text.hpp"
#include "export/state.hpp"
#include "fuzz_check.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace arrow = qorv_chemical_engineering_edge::export_profile::arrow;
namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

void no_release_schema(ArrowSchema* s) {
    s->release = nullptr;
}
void no_release_array(ArrowArray* a) {
    a->release = nullptr;
}

// One column's cells for every row, as its Arrow buffers are built from them.
struct Column {
    const char* format;
    std::string name;
    std::vector<bool> valid;
    std::vector<std::uint8_t> fixed;  // width bytes per row (booleans: one byte 0/1)
    std::vector<std::string> text;
    int width = 0;  // 0: text
};

constexpr double kDoubles[] = {1.5,    -2.25, 0.0,  -0.0,    100.0,  1e20, 1e-7,  -9999.0,
                               3.0e15, 7.125, 12.5, -1.0e-3, 98.282, 0.1,  250.0, 65504.0};
const char* const kTexts[] = {"3.5", "Bad",  "",          " 12 ",       "a,b",  "say \"hi\"",
                              "1;5", "<0.5", "ND",        "two\nlines", "OPEN", "1,234.5",
                              "-",   "1e5",  "Comm Fail", "12,5",       "x\r",  "I/O Timeout"};
const char* const kTags[] = {"FIC100.PV", "TI200.PV", "Bad", "", "LIC3.PV", "a,b"};

struct Arena {
    std::deque<std::vector<std::uint8_t>> bytes;
    std::deque<std::vector<const void*>> buffers;
    std::deque<ArrowArray> arrays;
    std::deque<std::vector<ArrowArray*>> children;

    const void* keep(std::vector<std::uint8_t> b) {
        b.resize(b.size() + 8);  // room to spare: never an empty buffer
        return bytes.emplace_back(std::move(b)).data();
    }
};

// Rows [from, from + n) of a column as an Arrow array (no offset, or `offset` rows before).
ArrowArray* array_of(Arena& arena, const Column& col, std::size_t from, std::size_t n,
                     std::size_t offset) {
    ArrowArray& a = arena.arrays.emplace_back();
    a = ArrowArray{};
    a.length = static_cast<std::int64_t>(n);
    a.offset = static_cast<std::int64_t>(offset);
    a.release = no_release_array;
    const std::size_t total = offset + n;
    std::vector<std::uint8_t> validity((total + 7) / 8, 0);
    std::int64_t nulls = 0;
    for (std::size_t r = 0; r < n; ++r) {
        if (col.valid[from + r]) {
            validity[(offset + r) / 8] |= static_cast<std::uint8_t>(1u << ((offset + r) % 8));
        } else {
            ++nulls;
        }
    }
    a.null_count = nulls;
    auto& buffers = arena.buffers.emplace_back();
    buffers.push_back(arena.keep(std::move(validity)));
    if (col.width == 0) {
        std::vector<std::uint8_t> offsets, data;
        auto put_offset = [&](std::int32_t v) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
            offsets.insert(offsets.end(), p, p + 4);
        };
        put_offset(0);
        for (std::size_t r = 0; r < offset; ++r) put_offset(0);
        for (std::size_t r = 0; r < n; ++r) {
            const std::string& t = col.valid[from + r] ? col.text[from + r] : std::string();
            data.insert(data.end(), t.begin(), t.end());
            put_offset(static_cast<std::int32_t>(data.size()));
        }
        buffers.push_back(arena.keep(std::move(offsets)));
        buffers.push_back(arena.keep(std::move(data)));
    } else if (std::strcmp(col.format, "b") == 0) {
        std::vector<std::uint8_t> bits((total + 7) / 8, 0);
        for (std::size_t r = 0; r < n; ++r) {
            if (col.fixed[from + r] != 0)
                bits[(offset + r) / 8] |= static_cast<std::uint8_t>(1u << ((offset + r) % 8));
        }
        buffers.push_back(arena.keep(std::move(bits)));
    } else {
        const auto w = static_cast<std::size_t>(col.width);
        std::vector<std::uint8_t> values(offset * w, 0xA5);  // what lies before: never read
        values.insert(values.end(), col.fixed.begin() + static_cast<std::ptrdiff_t>(from * w),
                      col.fixed.begin() + static_cast<std::ptrdiff_t>((from + n) * w));
        buffers.push_back(arena.keep(std::move(values)));
    }
    a.n_buffers = static_cast<std::int64_t>(buffers.size());
    a.buffers = buffers.data();
    return &a;
}

struct Stream {
    ArrowSchema* schema;
    std::vector<ArrowArray*> batches;
    std::size_t next = 0;
};

int get_schema(ArrowArrayStream* s, ArrowSchema* out) {
    *out = *static_cast<Stream*>(s->private_data)->schema;
    out->release = no_release_schema;
    return 0;
}

int get_next(ArrowArrayStream* s, ArrowArray* out) {
    auto& st = *static_cast<Stream*>(s->private_data);
    if (st.next == st.batches.size()) {
        *out = ArrowArray{};
        return 0;
    }
    *out = *st.batches[st.next++];
    out->release = no_release_array;
    return 0;
}

const char* last_error(ArrowArrayStream*) {
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t shape = in.byte();
    const bool is_long = (shape & 1) != 0;
    ep::ProfileOptions o;
    o.delimiter = (shape & 2) != 0 ? ';' : ',';
    o.decimal = (shape & 4) != 0 && o.delimiter == ';' ? ',' : '.';
    if ((shape & 8) != 0) o.missing_sentinels = {-9999.0, 0.0};
    if ((shape & 16) != 0) o.zone_name = "Europe/Berlin";
    o.health = (shape & 32) == 0;  // signal health reads every value, on either road
    o.accept_unparsed_rows = true;
    o.accept_multiline_fields = true;
    const std::size_t rows = 1 + static_cast<std::size_t>(in.byte()) * 2;  // up to 511

    std::vector<Column> cols;
    // The time column.
    {
        Column& t = cols.emplace_back();
        t.name = "Timestamp";
        constexpr const char* kTimes[] = {"tss:", "tsm:", "tsu:UTC", "tdD", "u"};
        t.format = kTimes[in.byte() % 5];
        const bool text = t.format[0] == 'u';
        t.width = text ? 0 : t.format[1] == 'd' ? 4 : 8;
        const std::int64_t step = 1 + in.byte() % 4;
        const std::uint8_t odd = in.byte();  // how often a row's time is null or out of order
        std::int64_t v = 1'700'000'000;
        for (std::size_t r = 0; r < rows; ++r) {
            const std::uint8_t b = in.byte();
            t.valid.push_back(odd == 0 || b % (odd | 8) != 1);
            if (b % 16 == 3) v -= step;  // a step back
            v += is_long && r % 2 == 1 ? 0 : step;
            if (text) {
                std::int64_t s = v % 86400;
                char buf[40];
                std::snprintf(buf, sizeof buf, "2024-03-%02d %02d:%02d:%02d",
                              static_cast<int>(1 + (v / 86400) % 28), static_cast<int>(s / 3600),
                              static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
                t.text.push_back(b % 37 == 5 ? std::string("total") : std::string(buf));
                continue;
            }
            std::int64_t stored = v;
            if (t.format[1] == 'd') stored = 19000 + v / 86400 % 1000;
            if (std::strcmp(t.format, "tsm:") == 0) stored = v * 1000 + b % 3;
            const auto* p = reinterpret_cast<const std::uint8_t*>(&stored);
            t.fixed.insert(t.fixed.end(), p, p + t.width);
        }
    }
    if (is_long) {
        Column& tag = cols.emplace_back();
        tag.name = "Tag";
        tag.format = "u";
        for (std::size_t r = 0; r < rows; ++r) {
            const std::uint8_t b = in.byte();
            tag.valid.push_back(b % 29 != 7);
            tag.text.push_back(kTags[b % 8 < 6 ? r % 2 : b % 6]);
        }
    }
    const std::size_t n_values = is_long ? 1 : 1 + in.byte() % 5;
    for (std::size_t k = 0; k < n_values; ++k) {
        Column& c = cols.emplace_back();
        c.name = is_long ? "Value" : "T" + std::to_string(k) + ".PV";
        constexpr const char* kValues[] = {"g", "g", "g", "f", "l", "i", "b", "u", "g"};
        c.format = kValues[in.byte() % 9];
        c.width = c.format[0] == 'u'   ? 0
                  : c.format[0] == 'b' ? 1
                  : c.format[0] == 'f' ? 4
                  : c.format[0] == 'i' ? 4
                                       : 8;
        const std::uint8_t nulls = in.byte();
        const std::uint8_t odd = in.byte();  // how often a cell is NaN, inf or text
        for (std::size_t r = 0; r < rows; ++r) {
            const std::uint8_t b = in.byte();
            c.valid.push_back(nulls == 0 || b % (nulls | 4) != 0);
            double d = kDoubles[b % 16] + static_cast<double>(r % 7);
            if (odd != 0 && b % (odd | 2) == 1) {
                constexpr double kOdd[] = {std::numeric_limits<double>::quiet_NaN(),
                                           std::numeric_limits<double>::infinity(),
                                           -std::numeric_limits<double>::infinity(), -9999.0};
                d = kOdd[(b >> 4) % 4];
            }
            if (c.width == 0) {
                c.text.push_back(odd != 0 && b % (odd | 2) == 1
                                     ? kTexts[b % 18]
                                     : std::to_string(static_cast<int>(b) - 100));
                continue;
            }
            std::uint8_t raw[8] = {};
            if (c.format[0] == 'g') {
                std::memcpy(raw, &d, 8);
            } else if (c.format[0] == 'f') {
                const auto f = static_cast<float>(d);
                std::memcpy(raw, &f, 4);
            } else if (c.format[0] == 'b') {
                raw[0] = b & 1;
            } else {
                const std::int64_t i = std::fabs(d) < 1e18 ? static_cast<std::int64_t>(d) : -5;
                std::memcpy(raw, &i, 8);
            }
            c.fixed.insert(c.fixed.end(), raw, raw + c.width);
        }
    }

    // The schema.
    std::deque<ArrowSchema> schemas;
    std::vector<ArrowSchema*> children;
    for (const Column& c : cols) {
        ArrowSchema& s = schemas.emplace_back();
        s = ArrowSchema{};
        s.format = c.format;
        s.name = c.name.c_str();
        s.flags = 2;  // nullable
        s.release = no_release_schema;
        children.push_back(&s);
    }
    ArrowSchema table{};
    table.format = "+s";
    table.n_children = static_cast<std::int64_t>(cols.size());
    table.children = children.data();
    table.release = no_release_schema;

    // The batches: random cuts, random offsets into their buffers.
    Arena arena;
    Stream st{&table, {}, 0};
    for (std::size_t from = 0; from < rows;) {
        const std::uint8_t b = in.byte();
        const std::size_t n = std::min<std::size_t>(rows - from, b < 128 ? rows : 1 + b % 97);
        ArrowArray& batch = arena.arrays.emplace_back();
        batch = ArrowArray{};
        batch.length = static_cast<std::int64_t>(n);
        batch.n_buffers = 1;
        auto& no_buffers = arena.buffers.emplace_back(1, nullptr);
        batch.buffers = no_buffers.data();
        auto& kids = arena.children.emplace_back();
        for (const Column& c : cols) kids.push_back(array_of(arena, c, from, n, b % 11));
        batch.n_children = static_cast<std::int64_t>(kids.size());
        batch.children = kids.data();
        batch.release = no_release_array;
        st.batches.push_back(&batch);
        from += n;
    }

    std::vector<arrow::ColumnType> types(cols.size());
    for (std::size_t c = 0; c < cols.size(); ++c)
        check(arrow::resolve(*children[c], types[c]).empty());
    for (ArrowArray* batch : st.batches) check(arrow::check_batch(table, types, *batch).empty());

    ArrowArrayStream stream{get_schema, get_next, last_error, nullptr, &st};
    auto scanned = arrow::scan_table(stream, "table", o, {});

    // The same data as CSV text.
    const arrow::TextStyle style(o.delimiter, o.decimal);
    std::string text;
    {
        arrow::Text out(text);
        for (std::size_t c = 0; c < cols.size(); ++c) {
            if (c != 0) out.push_back(o.delimiter);
            arrow::append_text(cols[c].name, style, out);
        }
        out.push_back('\n');
        for (ArrowArray* batch : st.batches)
            arrow::render_rows(types, *batch, 0, batch->length, style, out);
    }
    ep::ExportScanner scanner(o, "table");
    scanner.feed(text);
    auto csv = scanner.finish();

    check(scanned.partial.has_value() == csv.ok());
    if (!csv.ok()) {
        check(scanned.error == "table: " + csv.error().reason);
        return 0;
    }
    // What is defined over the bytes read, taken from the table's side.
    ep::PartialProfile& table_side = *scanned.partial;
    ep::FilePart& from_table = table_side.state().files[0];
    ep::FilePart& from_text = csv.value().state().files[0];
    check(from_table.layout.facts.size() == from_text.layout.facts.size() + 1);
    from_text.layout.facts = from_table.layout.facts;
    from_text.bytes = from_table.bytes;
    from_text.blocks = from_table.blocks;
    from_text.ends_mid_block = from_table.ends_mid_block;
    from_text.digest_complete = from_table.digest_complete;
    check(table_side == csv.value());
    return 0;
}
