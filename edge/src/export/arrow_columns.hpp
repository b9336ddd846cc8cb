// Profiling a table offered through the Arrow C stream interface straight from its buffers.
//
// The header and the opening rows (as many as the layout rules read) are written as export text
// and read by the scanner like a file's opening, so a table settles its layout, roles and
// conventions exactly as the same data as CSV does. The rows after it are read from the columns:
// each row's cells go to the same record processor a CSV row goes to, text cells as their bytes,
// the time and other typed cells as their text, and a value cell holding a finite number as a
// stand-in number (the cell rules ask nothing more of it unless missing-value sentinels are
// given, when its text is written). A row holding a text cell with a quote or a line break, or
// one that may be long, is written as text and read as a CSV record. No number is written as
// text on the way, which is where the time went (measured: 1.8 s of the 2.3 s a float64 +
// timestamp table of the wide bench data took).
//
// The input digest of a table is taken over its canonical encoding (table_columns_v1, see
// EXPORT_PROFILE.md), built as the batches go by: the column names and types, then the rows in
// groups, each column by column, so it is the same however the table is cut into batches.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "export/arrow_c.h"
#include "export/arrow_text.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"
#include "qorv_chemical_engineering_edge/sha256.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

PartialProfile::State* opened_state(ExportScanner& scanner, std::uint64_t& next_line);

namespace arrow {

inline constexpr std::string_view kTableDigest = "table_columns_v1";

// The canonical encoding of a table, digested in blocks of ExportScanner::kDigestBlock bytes as a
// file's bytes are: the input digest of a table is that of a file holding its encoding. After
// the preamble the rows come in groups of kGroupRows, each written column by column (validity
// bits, then the values as stored), so the values of a fixed-width column are copied, not visited
// cell by cell; the groups are counted from the table's first row, so how the table is cut into
// batches changes nothing. The batches of a group not yet written must stay alive until it is
// (batches_done() counts those it is done with, in the order given).
class CanonicalTable {
  public:
    static constexpr std::int64_t kGroupRows = 8192;

    // The preamble: the encoding's name and version, the column count, each column's name and
    // type text.
    CanonicalTable(const ArrowSchema& schema, const std::vector<ColumnType>& types);
    CanonicalTable(const CanonicalTable&) = delete;
    CanonicalTable& operator=(const CanonicalTable&) = delete;
    // Adds a checked batch, writing every group it completes.
    void add_batch(const ArrowArray& batch);
    std::size_t batches_done() const noexcept { return done_; }
    // The block digests of everything added (the last one of a partial block), and its size.
    std::vector<hashing::Sha256Digest> finish();
    std::uint64_t bytes() const noexcept { return bytes_; }
    bool ends_mid_block() const noexcept { return bytes_ % ExportScanner::kDigestBlock != 0; }

  private:
    struct Held {
        const ArrowArray* batch;
        std::int64_t from;  // its first row not yet written
    };
    struct Segment {
        const ArrowArray* column;
        std::int64_t at;  // the first row in the column's buffers (offsets included)
        std::int64_t count;
    };

    // n bytes at the returned position (zeros when `zeroed`)
    std::size_t room(std::size_t n, bool zeroed = true);
    void put(const void* data, std::size_t n) {
        if (n == 0) return;  // `data` may then be null (an empty cell without a data buffer)
        const std::size_t at = room(n, false);  // before buffer_.data(): room may move it
        std::memcpy(buffer_.data() + at, data, n);
    }
    void put_u64(std::uint64_t v);
    void write_group(std::int64_t rows);
    void write_column(const ColumnType& type, std::int64_t rows);
    void flush(bool all);

    const std::vector<ColumnType>& types_;
    std::deque<Held> held_;
    std::int64_t pending_ = 0;  // rows held and not yet written
    std::size_t done_ = 0;
    std::vector<Segment> segments_;
    std::vector<char> buffer_;  // its first used_ bytes are the encoding not yet digested
    std::size_t used_ = 0;
    std::vector<hashing::Sha256Digest> blocks_;
    std::uint64_t bytes_ = 0;
};

struct TableOutcome {
    std::optional<ExportProfile> profile;  // absent on an error or when cancelled
    bool type_error = false;               // the table's shape or a column's type is unsupported
    std::string error;                     // prefixed with the label; empty when cancelled
};

struct TableScan {
    std::optional<PartialProfile> partial;  // absent on an error or when cancelled
    bool type_error = false;
    std::string error;
};

// Reads the stream to its end (or until `cancelled` says so, asked between row runs), to the
// partial profile of the table as one file.
TableScan scan_table(ArrowArrayStream& stream, const std::string& label,
                     const ProfileOptions& options, const Cancelled& cancelled);

// scan_table, then finalised under the options' declared fields.
TableOutcome profile_table(ArrowArrayStream& stream, const std::string& label,
                           const ProfileOptions& options, const Cancelled& cancelled);

}  // namespace arrow
}  // namespace qorv_chemical_engineering_edge::export_profile
