// Planning a file into pieces, chaining quote parity across them, scanning one; see plan.hpp.
#include "export/plan.hpp"

#include <algorithm>
#include <cstring>

#include "export/encoding.hpp"
#include "export/file_io.hpp"
#include "export/gzip.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

std::uint64_t piece_bytes_for(std::uint64_t columns) noexcept {
    const std::uint64_t want = std::max<std::uint64_t>(kPieceBytes, columns * 512);
    return (want + kPieceBytes - 1) / kPieceBytes * kPieceBytes;
}

Needing<FileLayout> probe_opening(const std::string& path, std::uint64_t size,
                                  std::string_view head, const ScanSettings& settings) {
    const bool at_end = head.size() >= size;
    auto read = read_layout(head, at_end, settings);
    if (auto* layout = std::get_if<FileLayout>(&read)) return std::move(*layout);
    if (auto* failed = std::get_if<ProfileError>(&read)) return ProfileError{path, failed->reason};
    if (at_end) return ProfileError{path, "the file ends before its first data row"};
    // Doubling keeps the reads, and the layout reads over them, linear in the opening.
    return NeedBytes{std::min<std::uint64_t>(
        size, std::max<std::uint64_t>(kDigestBlock, 2 * static_cast<std::uint64_t>(head.size())))};
}

Needing<FilePlan> plan_head(const std::string& path, std::size_t file, std::uint64_t size,
                            std::string_view head, const ScanSettings& settings,
                            std::uint64_t piece_bytes, bool text) {
    FilePlan plan;
    plan.path = path;
    plan.size = size;
    plan.gzip = !text && ends_with_gz(path);
    if (plan.gzip) {
        plan.pieces.push_back({file, path, 0, size, true, 0});
        return plan;
    }
    if (piece_bytes % kDigestBlock != 0)
        return ProfileError{path, "the piece size is no multiple of the 1 MiB digest block"};
    // A rendered table's text is UTF-8 whatever the option says.
    const auto encoding =
        text ? std::optional(StreamEncoding::Utf8)
             : stream_encoding(head, settings.options.encoding, head.size() >= size);
    if (!encoding) return NeedBytes{std::min<std::uint64_t>(size, kDigestBlock)};
    if (*encoding == StreamEncoding::Utf16LE || *encoding == StreamEncoding::Utf16BE) {
        // Its byte offsets are no UTF-8 offsets: one piece, whose scan decodes it in order.
        plan.decoded = true;
        plan.pieces.push_back({file, path, 0, size, false, 0});
        return plan;
    }
    auto probed = probe_opening(path, size, head, settings);
    if (auto* more = std::get_if<NeedBytes>(&probed)) return *more;
    if (auto* error = std::get_if<ProfileError>(&probed)) return std::move(*error);
    const FileLayout* layout = &std::get<FileLayout>(probed);
    const std::uint64_t piece = piece_bytes ? piece_bytes : piece_bytes_for(layout->n_columns);
    // The first piece holds the opening the others resume from: the header, the first data row
    // and the opening sample, all within `head`, which was read until they settled the layout.
    std::uint64_t cut = std::max<std::uint64_t>({piece, layout->first_row_end, head.size()});
    cut = std::min((cut + kDigestBlock - 1) / kDigestBlock * kDigestBlock, size);
    plan.pieces.push_back({file, path, 0, cut, false, 0});
    if (cut < size) plan.opening = std::string(head);
    for (std::uint64_t from = cut; from < size; from += piece)
        plan.pieces.push_back(
            {file, path, from, std::min(from + piece, size), false, plan.opening.size()});
    return plan;
}

Result<FilePlan> plan_file(const std::string& path, std::size_t file, const ScanSettings& settings,
                           std::uint64_t piece_bytes) {
    File f(path);
    if (!f) return ProfileError{path, "the file cannot be opened"};
    auto size = f.size();
    if (!size) return size.error();
    std::string head;
    std::uint64_t want =
        ends_with_gz(path) ? 0 : std::min<std::uint64_t>(kDigestBlock, size.value());
    for (;;) {
        if (want > head.size()) {
            const std::size_t had = head.size();
            head.resize(static_cast<std::size_t>(want));
            if (!f.read_at(head.data() + had, head.size() - had, had))
                return ProfileError{path, "reading the file failed"};
        }
        auto planned = plan_head(path, file, size.value(), head, settings, piece_bytes);
        if (auto* plan = std::get_if<FilePlan>(&planned)) return std::move(*plan);
        if (auto* error = std::get_if<ProfileError>(&planned)) return std::move(*error);
        want = std::get<NeedBytes>(planned).bytes;
    }
}

bool odd_quotes(std::string_view bytes) noexcept {
    // Exports rarely quote, so memchr's stride beats a byte loop.
    bool odd = false;
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end) {
        p = static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
        if (!p) break;
        odd = !odd;
        ++p;
    }
    return odd;
}

bool guess_parity(std::string_view before) noexcept {
    const std::size_t lf = before.rfind('\n');
    return lf != std::string_view::npos && odd_quotes(before.substr(lf + 1));
}

std::vector<bool> chain_parities(std::span<const bool> odd_inside) {
    std::vector<bool> at;
    at.reserve(odd_inside.size());
    bool parity = false;
    for (bool odd : odd_inside) {
        at.push_back(parity);
        parity = parity != odd;
    }
    return at;
}

namespace {

// The first bytes of parts [first, ...) that lie before text byte `upto`, where `at` is the
// text byte part `first`'s rows start at.
std::vector<PartHead> heads_before(std::span<const TextPart> parts, std::size_t first,
                                   std::uint64_t at, std::uint64_t upto) {
    std::vector<PartHead> heads;
    for (std::size_t q = first; q < parts.size() && at < upto; at += parts[q++].bytes)
        if (parts[q].bytes != 0) heads.push_back({q, std::min(parts[q].bytes, upto - at)});
    return heads;
}

}  // namespace

std::vector<TextPiece> plan_parts(std::uint64_t header_bytes, bool header_odd,
                                  std::span<const TextPart> parts) {
    std::vector<TextPiece> pieces;
    std::vector<std::uint64_t> ends;     // where each piece's part's rows end in the text
    std::uint64_t start = header_bytes;  // where part p's rows start in the text
    bool inside = header_odd;            // the quote parity there
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const std::uint64_t end = start + parts[p].bytes;
        const std::uint64_t cut =
            p == 0 ? 0 : (start + kDigestBlock - 1) / kDigestBlock * kDigestBlock;
        if (p == 0 || cut < end) {
            if (!pieces.empty()) pieces.back().to = cut;
            pieces.push_back({p, cut, end, cut > start ? cut - start : 0, inside, {}});
            ends.push_back(end);
        }
        start = end;
        inside = inside != parts[p].odd_quotes;
    }
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        if (k + 1 == pieces.size()) pieces[k].to = start;
        pieces[k].heads = heads_before(parts, pieces[k].part + 1, ends[k], pieces[k].to);
    }
    return pieces;
}

std::vector<PartHead> part_heads(std::uint64_t header_bytes, std::span<const TextPart> parts,
                                 std::uint64_t upto) {
    return heads_before(parts, 0, header_bytes, upto);
}

Result<ExportScanner> piece_scanner(const Piece& piece, const ProfileOptions& options,
                                    std::string_view opening, bool inside_quotes) {
    if (piece.first()) return ExportScanner(options, piece.path, opening);
    return ExportScanner::resume_at(options, piece.path, opening, piece.from, inside_quotes);
}

namespace {

// Bytes go to the scanner three digest blocks at a time, which it hashes together (three
// SHA-256 streams interleaved).
constexpr std::size_t kFeedBlocks = 3;

// Feeds bytes kFeedBlocks digest blocks at a time, counting their quotes unless `count` is false;
// false once `stop` is set.
bool feed(ExportScanner& s, std::string_view bytes, bool& odd, const std::atomic<bool>* stop,
          bool count = true) {
    for (std::size_t at = 0; at < bytes.size(); at += kFeedBlocks * kDigestBlock) {
        if (stop && stop->load(std::memory_order_relaxed)) return false;
        const std::string_view block = bytes.substr(at, kFeedBlocks * kDigestBlock);
        if (count) odd = odd != odd_quotes(block);
        s.feed(std::span<const char>(block.data(), block.size()));
    }
    return true;
}

Result<PieceScan> scan_gzip(const Piece& piece, const ProfileOptions& options,
                            const std::atomic<bool>* stop, bool inflate_ahead) {
    // Whole digest blocks, so the digest never falls back to its one-block path.
    GzipBlocks gz(kDigestBlock, inflate_ahead);
    std::string why;
    if (!gz.open(piece.path, &why)) return ProfileError{piece.path, why};
    ExportScanner s(options, piece.path);
    bool odd = false;
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed))
            return ProfileError{piece.path, std::string(kCancelled)};
        std::string_view block;
        if (!gz.next(&block, &why)) return ProfileError{piece.path, why};
        if (block.empty()) break;
        feed(s, block, odd, nullptr);
        if (s.failed()) break;  // no export: inflate no further
    }
    auto partial = s.finish();
    if (!partial) return partial.error();
    return PieceScan{std::move(partial).value(), false, odd};
}

}  // namespace

Result<PieceScan> scan_piece_bytes(const Piece& piece, const ProfileOptions& options,
                                   std::optional<bool> inside_quotes, std::string_view opening,
                                   std::string_view before, std::span<const std::string_view> data,
                                   const std::atomic<bool>* stop, std::optional<bool> known_odd) {
    const bool inside = inside_quotes ? *inside_quotes : !piece.first() && guess_parity(before);
    auto s = piece_scanner(piece, options, opening, inside);
    if (!s) return s.error();
    bool odd = known_odd.value_or(false);
    for (std::string_view bytes : data) {
        if (!feed(s.value(), bytes, odd, stop, !known_odd))
            return ProfileError{piece.path, std::string(kCancelled)};
        if (piece.gzip && s.value().failed()) break;
    }
    auto partial = s.value().finish();
    if (!partial) return partial.error();
    return PieceScan{std::move(partial).value(), inside, odd};
}

Result<PieceScan> scan_piece(const Piece& piece, const ProfileOptions& options,
                             std::optional<bool> inside_quotes, const std::atomic<bool>* stop,
                             bool inflate_ahead) {
    if (piece.gzip) return scan_gzip(piece, options, stop, inflate_ahead);
    std::string opening, before;
    if (!piece.first()) {
        auto head = read_range(piece.path, 0, piece.header_bytes);
        if (!head) return head.error();
        opening = std::move(head).value();
        if (!inside_quotes) {
            auto window =
                read_range(piece.path, piece.from - std::min(piece.from, kGuessWindow), piece.from);
            if (!window) return window.error();
            before = std::move(window).value();
        }
    }
    const bool inside = inside_quotes ? *inside_quotes : !piece.first() && guess_parity(before);
    auto s = piece_scanner(piece, options, opening, inside);
    if (!s) return s.error();
    File f(piece.path);
    if (!f) return ProfileError{piece.path, "the file cannot be opened"};
    // Mapped where the file allows it; else read a few blocks at a time into the scanner, so the
    // piece is never held whole.
    std::string buf;
    bool odd = false;
    for (std::uint64_t at = piece.from; at < piece.to;) {
        const std::uint64_t upto =
            std::min<std::uint64_t>(piece.to, at + kFeedBlocks * kDigestBlock);
        FileView view(f, at, upto, buf);
        if (!view.ok()) return changed_while_read(piece.path);
        if (!feed(s.value(), view.bytes(), odd, stop))
            return ProfileError{piece.path, std::string(kCancelled)};
        if (!view.intact()) return changed_while_read(piece.path);
        at = upto;
    }
    auto partial = s.value().finish();
    if (!partial) return partial.error();
    return PieceScan{std::move(partial).value(), inside, odd};
}

Result<std::string> read_range(const std::string& path, std::uint64_t from, std::uint64_t to) {
    File f(path);
    if (!f) return ProfileError{path, "the file cannot be opened"};
    std::string out(static_cast<std::size_t>(to - from), '\0');
    if (!f.read_at(out.data(), out.size(), from))
        return ProfileError{
            path, "the file ended early or could not be read (changed while being read?)"};
    return out;
}

ParityChain::ParityChain(std::span<const Piece> pieces)
    : pieces_(pieces), odd_(pieces.size(), 0), at_(pieces.size(), 0) {}

void ParityChain::publish(std::size_t k, bool odd_inside) {
    std::lock_guard lock(mu_);
    odd_[k] = odd_inside ? 2 : 1;
    // Chain forward as far as the counts allow; a file's first piece starts outside quotes.
    for (; chained_ < pieces_.size(); ++chained_) {
        const std::size_t j = chained_;
        if (pieces_[j].first()) {
            at_[j] = 1;
        } else if (odd_[j - 1] != 0) {
            at_[j] = ((at_[j - 1] == 2) != (odd_[j - 1] == 2)) ? 2 : 1;
        } else {
            break;
        }
    }
    cv_.notify_all();
}

std::optional<bool> ParityChain::wait(std::size_t k) {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [&] { return k < chained_ || stopped_; });
    if (stopped_) return std::nullopt;
    return at_[k] == 2;
}

void ParityChain::stop() {
    std::lock_guard lock(mu_);
    stopped_ = true;
    cv_.notify_all();
}

}  // namespace qorv_chemical_engineering_edge::export_profile
