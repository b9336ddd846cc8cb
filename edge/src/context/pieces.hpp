// Context files in pieces, as exports are read: a plain file cut into byte ranges at multiples
// of the 1 MiB digest block (a gzip file, or a UTF-16 one, is read whole as one stream), each
// piece read into a mergeable partial, the partials merged in file order, and the merged partial
// turned into the evidence against the export. Whatever the cuts, the evidence and the digest
// (SHA-256 over the SHA-256 of each 1 MiB block of the bytes read) are those of one read.
//
// A piece owns the records that begin after a line end (outside quotes) inside its range, and
// reads on past its end to finish the last of them; a piece after the first reads the file's
// opening to learn the header, and starts from the quote parity at its first byte (chained from
// the pieces before it, or guessed and checked as an export's pieces are). Memory holds a piece's
// chunk in hand and what the rows add up to: the items (samples, orders, batches) by id and the
// names they give, never the file.
//
// The day/month order of slash dates is decided by the whole file: a piece whose rows hold slash
// dates but say nothing of the order keeps its tally in both orders, and the merge keeps the one
// the file (or, failing that, the export) decides.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "context/context_internal.hpp"

namespace qorv_chemical_engineering_edge::context {

// Context files are the size of a year's samples or orders; a larger one is no context file.
inline constexpr std::uint64_t kMaxContextBytes = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kContextPieceBytes = std::uint64_t{8} << 20;

struct ContextPiece {
    ContextFile file;
    std::uint64_t from = 0, to = 0;  // bytes [from, to) of the file; a gzip file: 0 and its size
    bool gzip = false;
    bool first() const noexcept { return from == 0; }
};

// The pieces of a file of `size` bytes, from its size alone (nothing of it is read, so a
// cluster's client plans what only its workers read). `piece_bytes` 0: the default; else a
// multiple of the digest block.
ep::Result<std::vector<ContextPiece>> plan_context(const ContextFile& file, std::uint64_t size,
                                                   std::uint64_t piece_bytes);

class ContextPartial {
  public:
    ContextPartial();
    ~ContextPartial();
    ContextPartial(ContextPartial&&) noexcept;
    ContextPartial& operator=(ContextPartial&&) noexcept;

    // Appends `later`, the partial of the bytes right after this one's.
    void merge(ContextPartial&& later);
    std::string serialize() const;
    // A blob from elsewhere, checked before it is trusted: an error says what is wrong.
    static ep::Result<ContextPartial> deserialize(std::string_view blob);

    struct State;
    std::unique_ptr<State> state;
};

struct ContextScan {
    ContextPartial partial;
    bool inside_quotes = false;  // the parity the read started from
    bool odd_quotes = false;     // the parity of the quotes inside the piece's range
};

// Reads bytes [at, at + n) of a file into `out` (fewer at its end); false when reading fails.
using ReadAt = std::function<bool(std::uint64_t at, std::size_t n, std::string& out)>;

// Reads a piece of a local file. `inside_quotes` none: guessed from the row before the piece.
// `stop`, when given, is polled once a chunk; true ends the read with kCancelled.
ep::Result<ContextScan> scan_context_piece(const ContextPiece& piece,
                                           const ep::ProfileOptions& options,
                                           std::optional<bool> inside_quotes,
                                           const std::atomic<bool>* stop = nullptr);
// The same over a plain file's bytes as `read` gives them (tests and fuzzing: any cut).
ep::Result<ContextScan> scan_context_range(const ContextPiece& piece, std::uint64_t size,
                                           const ReadAt& read, const ep::ProfileOptions& options,
                                           std::optional<bool> inside_quotes,
                                           const std::atomic<bool>* stop = nullptr);

// A file read piece by piece, in order, each from the parity the one before it leaves.
ep::Result<ContextPartial> read_context_partial(const ContextFile& file,
                                                const ep::ProfileOptions& options,
                                                std::uint64_t piece_bytes = 0);

// The merged partial of a whole file as evidence against the export; refusals name the file.
ep::Result<ep::ContextEvidence> context_evidence(ContextPartial&& partial, const ContextFile& file,
                                                 const ep::ExportProfile& profile);

// attach() with each file's merged partial (read elsewhere) in place of reading it here.
std::optional<ep::ProfileError> attach_partials(ep::ExportProfile& profile,
                                                std::span<const ContextFile> files,
                                                std::vector<ContextPartial> partials);
// Derives the fields from the evidence of every file and reseals the profile.
void attach_evidence(ep::ExportProfile& profile, std::vector<ep::ContextEvidence> read);

}  // namespace qorv_chemical_engineering_edge::context
