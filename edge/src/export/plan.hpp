// Pieces: how an export is cut for scanning on several cores or machines.
//
// A piece is a byte range of one file. Plain files are cut at whole multiples of the digest
// block, so the per-block digests need no stitching; a gzip file is one piece, inflated whole.
// A piece after a file's first resumes from the file's opening bytes (the header, metadata rows
// and first data row, whole), and from the quote parity at its start: the parity of the quotes
// before it, chained piece by piece. The opening is read until the layout is known, whatever its
// size: only a run of 16 MiB without a delimiter or line end (headerless data)
// ends the search. Every path that cuts an export (the file pool, the native stream scan, the
// partial profiles for other processes) goes through here.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "export/state.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

inline constexpr std::size_t kDigestBlock = ExportScanner::kDigestBlock;
// The default piece: grown with the columns (see piece_bytes_for).
inline constexpr std::uint64_t kPieceBytes = 8 * kDigestBlock;
// Looked back from a piece's start for the row start its quote parity is guessed from.
inline constexpr std::uint64_t kGuessWindow = std::uint64_t{64} << 10;

struct Piece {
    std::size_t file = 0;  // the file's index in the export
    std::string path;
    std::uint64_t from = 0, to = 0;  // bytes [from, to) of the file; gzip: 0 and the file size
    bool gzip = false;
    std::uint64_t header_bytes = 0;  // bytes [0, header_bytes) it resumes from; 0: a first piece
    bool first() const noexcept { return from == 0; }
};

struct FilePlan {
    std::string path;
    std::uint64_t size = 0;
    bool gzip = false;
    // A UTF-16 file: one piece, decoded as a stream while it is read in order, as a gzip file is
    // inflated.
    bool decoded = false;
    std::string opening;  // plain files cut in several pieces: the bytes they resume from
    std::vector<Piece> pieces;
};

// The piece size for a file of `columns` columns: every piece's partial holds a record per tag,
// so on wide exports pieces grow with the columns (512 bytes a column).
std::uint64_t piece_bytes_for(std::uint64_t columns) noexcept;

// Reads the layout from a file's first bytes `head` (all of them when head.size() == size), or
// says how many bytes it needs: the one rule for the opening, on every path.
Needing<FileLayout> probe_opening(const std::string& path, std::uint64_t size,
                                  std::string_view head, const ScanSettings& settings);
// Plans a file from its first bytes `head` (all of them when head.size() == size): the pieces,
// or how many bytes are needed to settle the layout. `piece_bytes` 0 chooses by the columns; else
// it must be a multiple of kDigestBlock. `text`: the bytes are export text already (a rendered
// table), never inflated whatever the label's suffix.
Needing<FilePlan> plan_head(const std::string& path, std::size_t file, std::uint64_t size,
                            std::string_view head, const ScanSettings& settings,
                            std::uint64_t piece_bytes, bool text = false);
// Plans a local file, reading its opening as far as the layout needs.
Result<FilePlan> plan_file(const std::string& path, std::size_t file, const ScanSettings& settings,
                           std::uint64_t piece_bytes);

// The quote parity at a piece's start guessed from the bytes just before it: that of the quotes
// since the last line feed (right unless a quoted line break straddles that row start).
bool guess_parity(std::string_view before) noexcept;
// Whether bytes hold an odd number of quotes.
bool odd_quotes(std::string_view bytes) noexcept;
// The parity at each piece's start of one file, from the parity of the quotes inside each.
std::vector<bool> chain_parities(std::span<const bool> odd_inside);

// A text rendered in parts (a data frame's partitions): the header, then each part's rows, read
// as one export text. A piece starts at the first digest-block multiple inside a part (the first
// piece at 0, with the header) and runs to the next piece's start; a part without a multiple
// joins the piece before. So a piece's bytes are the rest of one part's rows, then the first
// bytes of the parts after it, and each part is handed to the pieces that read it, never copied
// whole into one text.
struct TextPart {
    std::uint64_t bytes = 0;  // the length of its rows
    bool odd_quotes = false;  // whether its rows hold an odd number of quotes
};
struct PartHead {
    std::size_t part = 0;
    std::uint64_t bytes = 0;  // its rows' first bytes read; never 0
};
struct TextPiece {
    std::size_t part = 0;             // the part it starts in
    std::uint64_t from = 0, to = 0;   // bytes [from, to) of the whole text
    std::uint64_t skip = 0;           // its first byte within that part's rows
    bool part_inside_quotes = false;  // the quote parity where that part's rows start
    std::vector<PartHead> heads;      // the following parts it reads, in order
};
// The pieces of the text (none without parts); `header_odd`: the header's quote parity.
std::vector<TextPiece> plan_parts(std::uint64_t header_bytes, bool header_odd,
                                  std::span<const TextPart> parts);
// The parts' first bytes that make up the text's bytes [header_bytes, upto): what an opening
// of `upto` bytes reads past the header.
std::vector<PartHead> part_heads(std::uint64_t header_bytes, std::span<const TextPart> parts,
                                 std::uint64_t upto);

// A scanner for `piece`: its file's own from byte 0, else resumed from `opening` at its start.
Result<ExportScanner> piece_scanner(const Piece& piece, const ProfileOptions& options,
                                    std::string_view opening, bool inside_quotes);

// Bytes from a file: pread in a loop, an error naming the file on failure or a short file.
Result<std::string> read_range(const std::string& path, std::uint64_t from, std::uint64_t to);

struct PieceScan {
    PartialProfile partial;
    bool inside_quotes = false;  // the parity the scan started from
    bool odd_quotes = false;     // the parity of the quotes inside the piece
};
// Scans a piece of a local file. `inside_quotes` none: guessed from the row before the piece.
// `stop`, when given, is polled once a digest block; true ends the scan with kCancelled.
// `inflate_ahead`: a gzip piece is inflated on a thread of its own beside the scan.
Result<PieceScan> scan_piece(const Piece& piece, const ProfileOptions& options,
                             std::optional<bool> inside_quotes,
                             const std::atomic<bool>* stop = nullptr, bool inflate_ahead = false);
// As scan_piece over bytes at hand: `before` ends where the piece begins (for the guess), `data`
// is the piece's bytes (a gzip piece's inflated text), `opening` the file's first header_bytes.
// `known_odd`, when the caller has counted the piece's quotes already, spares a second count.
Result<PieceScan> scan_piece_bytes(const Piece& piece, const ProfileOptions& options,
                                   std::optional<bool> inside_quotes, std::string_view opening,
                                   std::string_view before, std::span<const std::string_view> data,
                                   const std::atomic<bool>* stop = nullptr,
                                   std::optional<bool> known_odd = std::nullopt);

// The parity chain of an export's pieces in order, shared by workers: each publishes the quote
// count of its piece and waits for the parity at its start.
class ParityChain {
  public:
    explicit ParityChain(std::span<const Piece> pieces);
    void publish(std::size_t k, bool odd_inside);
    // The parity at piece k's start; none once stop() was called.
    std::optional<bool> wait(std::size_t k);
    void stop();

  private:
    std::span<const Piece> pieces_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<std::uint8_t> odd_;  // 0 unknown, 1 even, 2 odd
    std::vector<std::uint8_t> at_;   // the same for the parity at the start
    std::size_t chained_ = 0;        // pieces before this have a known start parity
    bool stopped_ = false;
};

}  // namespace qorv_chemical_engineering_edge::export_profile
