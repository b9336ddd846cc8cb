// Reading a context file's pieces into partials, merging them in order, and the evidence of the
// merged partial; see pieces.hpp.
#include "context/pieces.hpp"

#include <algorithm>
#include <cstring>

#include "export/digest.hpp"
#include "export/encoding.hpp"
#include "export/file_io.hpp"
#include "export/gzip.hpp"
#include "export/plan.hpp"
#include "qorv_chemical_engineering_edge/hashing.hpp"

namespace qorv_chemical_engineering_edge::context {
namespace {

constexpr std::uint64_t kBlock = ep::kBlockBytes;
constexpr std::uint64_t kToEnd = ~std::uint64_t{0};
// Bytes read at a time inside a piece's range, and past it to finish its last record (rarely
// more than a line).
constexpr std::size_t kChunk = 3 * ep::kBlockBytes;
constexpr std::size_t kOverrun = std::size_t{64} << 10;
constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The digest of the bytes [from, to) of the stream: the SHA-256 of each whole 1 MiB block of
// the file inside them, with the bytes before the first block boundary (`lead`) and after the
// last (`tail`) kept for the neighbours' pieces to complete.
struct DigestPart {
    bool used = false;
    std::uint64_t from = 0, to = 0;
    std::string lead;
    bool closed = true;  // a block boundary was reached (or `from` is one): `lead` is complete
    std::vector<hashing::Sha256Digest> blocks;
    std::string tail;

    void start(std::uint64_t at) {
        used = true;
        from = to = at;
        closed = at % kBlock == 0;
    }

    void feed(std::string_view bytes) {
        while (!bytes.empty()) {
            if (!closed) {
                const std::uint64_t boundary = (to / kBlock + 1) * kBlock;
                const std::size_t take =
                    static_cast<std::size_t>(std::min<std::uint64_t>(boundary - to, bytes.size()));
                lead.append(bytes.substr(0, take));
                to += take;
                bytes.remove_prefix(take);
                closed = to == boundary;
                continue;
            }
            if (tail.empty() && bytes.size() >= kBlock) {
                const std::size_t n = bytes.size() / kBlock;
                const std::size_t had = blocks.size();
                blocks.resize(had + n);
                ep::digest_whole_blocks(bytes.data(), n, blocks.data() + had);
                to += n * kBlock;
                bytes.remove_prefix(n * kBlock);
                continue;
            }
            const std::size_t take = std::min<std::size_t>(kBlock - tail.size(), bytes.size());
            tail.append(bytes.substr(0, take));
            to += take;
            bytes.remove_prefix(take);
            if (tail.size() == kBlock) {
                blocks.push_back(hashing::sha256(tail));
                tail.clear();
            }
        }
    }

    void merge(DigestPart&& later) {
        if (!later.used) return;
        if (!used) {
            *this = std::move(later);
            return;
        }
        if (!closed) {
            lead += later.lead;
            closed = later.closed;
            blocks = std::move(later.blocks);
            tail = std::move(later.tail);
        } else if (later.closed) {
            tail += later.lead;
            if (!tail.empty()) blocks.push_back(hashing::sha256(tail));
            blocks.insert(blocks.end(), later.blocks.begin(), later.blocks.end());
            tail = std::move(later.tail);
        } else {
            tail += later.lead;
        }
        to = later.to;
    }

    std::string hex() const {
        hashing::Sha256 all;
        for (const auto& d : blocks) all.update(d.data(), d.size());
        const std::string& last = closed ? tail : lead;
        if (!last.empty()) {
            const auto d = hashing::sha256(last);
            all.update(d.data(), d.size());
        }
        return hashing::to_hex(all.finish());
    }
};

enum class Order : std::uint8_t { Free, Split, Fixed };

}  // namespace

struct ContextPartial::State {
    bool used = false;            // false: the empty partial, the identity of merge
    std::string too_large;        // the refusal, when the stream grew past kMaxContextBytes
    bool nul = false;             // a NUL byte in a stream read as UTF-8
    std::optional<bool> bomless;  // the stream's opening looks like UTF-16 (big-endian: true)
    std::string opening_error;    // the header search's refusal
    std::optional<Kind> kind;
    bool given = false;               // the day/month order was given
    bool day = false, month = false;  // slash dates seen reading only day first, month first
    Order order = Order::Free;
    bool day_first = false;      // Fixed: the order
    std::vector<Tally> tallies;  // Free and Fixed: one; Split: month first, day first
    DigestPart digest;
    std::uint64_t bytes = 0;

    bool conflict() const noexcept { return !given && day && month; }
    // The tally under `day` (an undecided order's, or the only one).
    Tally& in_order(bool day_order) { return tallies[order == Order::Split && day_order ? 1 : 0]; }
    void decide(bool day_order) {
        if (order == Order::Split) {
            Tally kept = std::move(tallies[day_order ? 1 : 0]);
            tallies.clear();
            tallies.push_back(std::move(kept));
        }
        order = Order::Fixed;
        day_first = day_order;
    }
    void split() {
        Tally copy(tallies[0]);
        tallies.push_back(std::move(copy));
        order = Order::Split;
    }
};

ContextPartial::ContextPartial() : state(std::make_unique<State>()) {}
ContextPartial::~ContextPartial() = default;
ContextPartial::ContextPartial(ContextPartial&&) noexcept = default;
ContextPartial& ContextPartial::operator=(ContextPartial&&) noexcept = default;

void ContextPartial::merge(ContextPartial&& later_partial) {
    State& a = *state;
    State& b = *later_partial.state;
    if (!b.used) return;
    if (!a.used) {
        std::swap(state, later_partial.state);
        return;
    }
    if (a.too_large.empty()) a.too_large = std::move(b.too_large);
    a.nul = a.nul || b.nul;
    if (!a.bomless) a.bomless = b.bomless;
    if (a.opening_error.empty()) a.opening_error = std::move(b.opening_error);
    if (!a.kind) a.kind = b.kind;
    a.day = a.day || b.day;
    a.month = a.month || b.month;
    a.digest.merge(std::move(b.digest));
    a.bytes += b.bytes;
    if (a.conflict() || a.tallies.empty() || b.tallies.empty()) {
        a.tallies.clear();  // refused at the end: nothing more is kept
        return;
    }
    if (a.given || a.day || a.month) {
        const bool day = a.given ? a.day_first : a.day;
        a.decide(day);
        a.tallies[0].merge(std::move(b.in_order(day)));
        return;
    }
    // Neither says the order: a tally in both orders where either read slash dates.
    if (a.order == Order::Free && b.order == Order::Free) {
        a.tallies[0].merge(std::move(b.tallies[0]));
        return;
    }
    if (a.order == Order::Free) a.split();
    if (b.order == Order::Free) b.split();
    a.tallies[0].merge(std::move(b.tallies[0]));
    a.tallies[1].merge(std::move(b.tallies[1]));
}

ep::Result<std::vector<ContextPiece>> plan_context(const ContextFile& file, std::uint64_t size,
                                                   std::uint64_t piece_bytes) {
    if (ep::ends_with_gz(file.path)) return std::vector<ContextPiece>{{file, 0, size, true}};
    if (size > kMaxContextBytes)
        return ep::ProfileError{file.path, "over 1 GiB: too large for a context file"};
    if (piece_bytes == 0) piece_bytes = kContextPieceBytes;
    if (piece_bytes % kBlock != 0)
        return ep::ProfileError{file.path,
                                "the piece size is no multiple of the 1 MiB digest block"};
    std::vector<ContextPiece> pieces;
    std::uint64_t from = 0;
    do {
        const std::uint64_t to = std::min(size, from + piece_bytes);
        pieces.push_back({file, from, to, false});
        from = to;
    } while (from < size);
    return pieces;
}

namespace {

// One piece's reader: the stream's bytes from the piece's start, in order, as a first piece
// reads them (the encoding sniffed, UTF-16 decoded, the header searched for) or as a later one
// (from its quote parity, under the header its opening gave).
class PieceReader {
  public:
    PieceReader(const ContextFile& file, const ep::ProfileOptions& options, std::uint64_t from,
                std::uint64_t to, bool inside, const std::optional<Header>& header)
        : file_(file),
          options_(options),
          settings_(ep::make_settings(options)),
          month_(settings_, false),
          day_(settings_, true),
          search_(file_, options.encoding),
          first_(from == 0),
          pos_(from),
          to_(to),
          inside_(inside),
          phase_(first_ ? Phase::Records : Phase::Seek),
          header_(header) {
        State& s = st();
        s.used = true;
        s.given = options.day_first.has_value();
        if (s.given) {
            s.order = Order::Fixed;
            s.day_first = *options.day_first;
        }
        s.tallies.emplace_back();
        if (header_) set_header();
        if (!first_) s.digest.start(from);
    }

    // Raw bytes of the file in order; false once the reader needs no more.
    bool feed_raw(std::string_view raw) {
        if (!first_ || sniffed_) return feed_stream(raw);
        sniff_.append(raw);
        const auto enc = ep::stream_encoding(sniff_, options_.encoding, false);
        if (!enc) return true;
        return start_stream(*enc);
    }

    // The file ended.
    void end_raw() {
        if (first_ && !sniffed_) {
            const auto enc = ep::stream_encoding(sniff_, options_.encoding, true);
            if (!start_stream(enc.value_or(ep::StreamEncoding::Utf8))) return;
        }
        if (decoder_) {
            std::string out;
            decoder_->finish(out);
            feed_text(out);
        }
        if (phase_ == Phase::Records) {
            std::string_view text = carry_;
            if (rec_start_ == 0 && text.substr(0, 3) == kBom) text.remove_prefix(3);
            if (!text.empty()) record(text, pos_);
        }
        carry_.clear();
        phase_ = Phase::Done;
        if (first_) search_.at_end();
    }

    bool decoded() const noexcept { return decoder_.has_value(); }
    bool odd() const noexcept { return odd_; }
    std::uint64_t pos() const noexcept { return pos_; }
    std::uint64_t to() const noexcept { return to_; }
    const HeaderSearch& search() const noexcept { return search_; }

    ContextPartial take() {
        State& s = st();
        if (first_) {
            if (!search_.error().empty()) s.opening_error = search_.error();
            if (!decoded()) s.bomless = ep::bomless_utf16(opening_);
        }
        if (header_) s.kind = header_->columns.kind;
        return std::move(partial_);
    }

    // Reads the opening alone, for a later piece: a UTF-16 stream ends it at once.
    void opening_only() { opening_only_ = true; }

  private:
    using State = ContextPartial::State;
    enum class Phase : std::uint8_t { Seek, Records, Done };
    State& st() { return *partial_.state; }

    bool start_stream(ep::StreamEncoding enc) {
        sniffed_ = true;
        State& s = st();
        if (enc == ep::StreamEncoding::Utf16LE || enc == ep::StreamEncoding::Utf16BE) {
            // Decoded whole, as the export's stream is: one piece, digested as the UTF-8 it
            // reads as.
            decoder_.emplace(enc == ep::StreamEncoding::Utf16BE);
            to_ = kToEnd;
            if (opening_only_) return false;  // the first piece reads it all
        }
        s.digest.start(0);
        std::string raw = std::move(sniff_);
        sniff_.clear();
        return feed_stream(raw);
    }

    bool feed_stream(std::string_view raw) {
        if (!decoder_) return feed_text(raw);
        std::string out;
        decoder_->decode(raw, out);
        return feed_text(out);
    }

    void set_header() {
        columns_ = time_columns(header_->columns);
        if (!settings_->zone_error.empty()) rows_ = false;
    }

    // Text bytes at pos_: the range's bytes counted, digested and checked, records split.
    bool feed_text(std::string_view text) {
        if (pos_ < to_) {
            const std::size_t inside =
                static_cast<std::size_t>(std::min<std::uint64_t>(to_ - pos_, text.size()));
            const std::string_view own = text.substr(0, inside);
            State& s = st();
            s.digest.feed(own);
            s.bytes += own.size();
            if (!decoder_ && !s.nul && std::memchr(own.data(), '\0', own.size())) s.nul = true;
            if (first_ && opening_.size() < ep::kUtf16Sniff)
                opening_.append(own.substr(0, ep::kUtf16Sniff - opening_.size()));
        }
        if (phase_ == Phase::Done) {
            pos_ += text.size();
            return pos_ < to_;
        }
        std::size_t seg = 0;  // where the current record's bytes in `text` begin
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '"') {
                inside_ = !inside_;
                if (pos_ + i < to_) odd_ = !odd_;
                continue;
            }
            if (c != '\n' || inside_) continue;
            const std::uint64_t at = pos_ + i;  // a line end
            if (phase_ == Phase::Records) {
                std::string_view rec;
                if (carry_.empty()) {
                    rec = text.substr(seg, i - seg);
                } else {
                    carry_.append(text.substr(seg, i - seg));
                    rec = carry_;
                }
                if (rec_start_ == 0 && rec.substr(0, 3) == kBom) rec.remove_prefix(3);
                record(rec, at + 1);
                carry_.clear();
            }
            seg = i + 1;
            rec_start_ = at + 1;
            // The next record is the piece's when this line end lies inside its range (or the
            // header is still to be found).
            if (at < to_ || (first_ && !search_.decided())) {
                phase_ = Phase::Records;
            } else {
                phase_ = Phase::Done;
                pos_ += text.size();
                return pos_ < to_;
            }
        }
        if (phase_ == Phase::Records) carry_.append(text.substr(seg));
        pos_ += text.size();
        return true;
    }

    // A complete record (no line feed; a carriage return before it left on) ending at `end`.
    void record(std::string_view rec, std::uint64_t end) {
        if (!rec.empty() && rec.back() == '\r') rec.remove_suffix(1);
        if (first_ && !search_.decided()) {
            search_.offer(rec, end);
            if (search_.header()) {
                header_ = search_.header();
                set_header();
            }
            return;
        }
        if (!header_ || !rows_ || rec_start_ < header_->rows_from) return;
        cells_of(rec, header_->delim, options_.encoding, row_);
        if (row_.blank()) return;
        State& s = st();
        if (s.tallies.empty()) return;  // refused: slash dates read both ways
        if (!s.given) {
            bool slash = false, day = false, month = false;
            for (std::size_t j : columns_)
                if (j < row_.cells.size()) month_.order_evidence(row_.cells[j], slash, day, month);
            s.day = s.day || day;
            s.month = s.month || month;
            if (s.conflict()) {
                s.tallies.clear();
                return;
            }
            if (s.order != Order::Fixed && (s.day || s.month)) {
                s.decide(s.day);
            } else if (s.order == Order::Free && slash) {
                s.split();
            }
        }
        if (s.order == Order::Split) {
            row(s.tallies[0], month_);
            row(s.tallies[1], day_);
        } else {
            row(s.tallies[0], s.order == Order::Fixed && s.day_first ? day_ : month_);
        }
    }

    void row(Tally& t, const TimeReader& clock) {
        const Columns& c = header_->columns;
        switch (c.kind) {
            case Kind::Lab:
                lab_row(t, row_, c, clock, options_.decimal);
                break;
            case Kind::Maintenance:
                order_row(t, row_, c, clock);
                break;
            case Kind::Batches:
                batch_row(t, row_, c, clock);
                break;
        }
    }

    const ContextFile& file_;
    const ep::ProfileOptions& options_;
    std::shared_ptr<const ep::ScanSettings> settings_;
    TimeReader month_, day_;
    HeaderSearch search_;
    bool first_;
    std::uint64_t pos_, to_;
    bool inside_;
    bool odd_ = false;
    Phase phase_;
    std::uint64_t rec_start_ = 0;
    std::string carry_;
    std::optional<Header> header_;
    std::vector<std::size_t> columns_;
    bool rows_ = true;
    Row row_;
    bool sniffed_ = false;
    bool opening_only_ = false;
    std::string sniff_;
    std::string opening_;  // the stream's first bytes, for the UTF-16 sniff of a refusal
    std::optional<ep::Utf16Decoder> decoder_;
    ContextPartial partial_;
};

// Feeds `reader` the file from `at` until it needs no more or the file ends (`size`).
std::optional<ep::ProfileError> pump(PieceReader& reader, const ContextFile& file, std::uint64_t at,
                                     std::uint64_t size, const ReadAt& read,
                                     const std::atomic<bool>* stop) {
    std::string buf;
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed))
            return ep::ProfileError{file.path, std::string(ep::kCancelled)};
        if (at >= size) {
            reader.end_raw();
            return std::nullopt;
        }
        const std::uint64_t want =
            at < reader.to() ? std::min<std::uint64_t>(kChunk, reader.to() - at) : kOverrun;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(want, size - at));
        if (!read(at, n, buf) || buf.size() != n)
            return ep::ProfileError{
                file.path, "the file ended early or could not be read (changed while being read?)"};
        at += n;
        if (!reader.feed_raw(buf)) return std::nullopt;
    }
}

ep::Result<ContextScan> scan_gzip(const ContextPiece& piece, const ep::ProfileOptions& options,
                                  const std::atomic<bool>* stop) {
    ep::GzipBlocks gz(kBlock, false);
    std::string why;
    if (!gz.open(piece.file.path, &why)) return ep::ProfileError{piece.file.path, why};
    PieceReader reader(piece.file, options, 0, kToEnd, false, std::nullopt);
    std::uint64_t inflated = 0;
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed))
            return ep::ProfileError{piece.file.path, std::string(ep::kCancelled)};
        std::string_view block;
        if (!gz.next(&block, &why)) return ep::ProfileError{piece.file.path, why};
        if (block.empty()) break;
        inflated += block.size();
        if (inflated > kMaxContextBytes)
            return ep::ProfileError{piece.file.path,
                                    "over 1 GiB inflated: too large for a context file"};
        reader.feed_raw(block);
    }
    reader.end_raw();
    return ContextScan{reader.take(), false, reader.odd()};
}

}  // namespace

ep::Result<ContextScan> scan_context_range(const ContextPiece& piece, std::uint64_t size,
                                           const ReadAt& read, const ep::ProfileOptions& options,
                                           std::optional<bool> inside_quotes,
                                           const std::atomic<bool>* stop) {
    const ContextFile& file = piece.file;
    if (piece.first()) {
        PieceReader reader(file, options, 0, piece.to, false, std::nullopt);
        if (auto failed = pump(reader, file, 0, size, read, stop)) return *failed;
        return ContextScan{reader.take(), false, reader.odd()};
    }
    // The opening: its encoding and header, read as the first piece reads them.
    PieceReader opening(file, options, 0, 0, false, std::nullopt);
    opening.opening_only();
    if (auto failed = pump(opening, file, 0, size, read, stop)) return *failed;
    if (opening.decoded()) return ContextScan{};  // the first piece reads it whole
    bool inside = false;
    if (inside_quotes) {
        inside = *inside_quotes;
    } else {
        const std::uint64_t back = std::min(piece.from, ep::kGuessWindow);
        std::string before;
        if (!read(piece.from - back, static_cast<std::size_t>(back), before) ||
            before.size() != back)
            return ep::ProfileError{file.path, "the file ended early or could not be read"};
        inside = ep::guess_parity(before);
    }
    PieceReader reader(file, options, piece.from, piece.to, inside, opening.search().header());
    if (auto failed = pump(reader, file, piece.from, size, read, stop)) return *failed;
    if (reader.pos() < piece.to)
        return ep::ProfileError{
            file.path, "the file ended early or could not be read (changed while being read?)"};
    return ContextScan{reader.take(), inside, reader.odd()};
}

ep::Result<ContextScan> scan_context_piece(const ContextPiece& piece,
                                           const ep::ProfileOptions& options,
                                           std::optional<bool> inside_quotes,
                                           const std::atomic<bool>* stop) {
    if (piece.gzip) return scan_gzip(piece, options, stop);
    ep::File f(piece.file.path);
    if (!f) return ep::ProfileError{piece.file.path, "the file cannot be opened"};
    const auto size = f.size();
    if (!size) return ep::ProfileError{piece.file.path, size.error().reason};
    const ReadAt read = [&f](std::uint64_t at, std::size_t n, std::string& out) {
        out.resize(n);
        return f.read_at(out.data(), n, at);
    };
    return scan_context_range(piece, size.value(), read, options, inside_quotes, stop);
}

ep::Result<ContextPartial> read_context_partial(const ContextFile& file,
                                                const ep::ProfileOptions& options,
                                                std::uint64_t piece_bytes) {
    std::uint64_t size = 0;
    if (!ep::ends_with_gz(file.path)) {
        ep::File f(file.path);
        if (!f) return ep::ProfileError{file.path, "the file cannot be opened"};
        const auto got = f.size();
        if (!got) return ep::ProfileError{file.path, got.error().reason};
        size = got.value();
    }
    auto pieces = plan_context(file, size, piece_bytes);
    if (!pieces) return pieces.error();
    ContextPartial merged;
    bool inside = false;  // in order, each piece starts from the parity the last one left
    for (const ContextPiece& piece : pieces.value()) {
        auto scan = scan_context_piece(piece, options, inside);
        if (!scan) return scan.error();
        inside = inside != scan.value().odd_quotes;
        merged.merge(std::move(scan.value().partial));
    }
    return merged;
}

ep::Result<ep::ContextEvidence> context_evidence(ContextPartial&& partial, const ContextFile& file,
                                                 const ep::ExportProfile& profile) {
    ContextPartial::State& s = *partial.state;
    const std::string& path = file.path;
    if (!s.too_large.empty()) return ep::ProfileError{path, s.too_large};
    if (s.nul) {
        if (s.bomless) return ep::ProfileError{path, ep::bomless_utf16_reason(*s.bomless)};
        return ep::ProfileError{path, "binary data (NUL bytes); not a text file"};
    }
    if (!s.opening_error.empty()) return ep::ProfileError{path, s.opening_error};
    if (!s.used || !s.kind) return ep::ProfileError{path, "the file is empty"};
    const auto settings = ep::make_settings(profile.options);
    if (!settings->zone_error.empty()) return ep::ProfileError{path, settings->zone_error};
    if (s.conflict() || s.tallies.empty())
        return ep::ProfileError{path,
                                "its slash dates read both day first and month first; give "
                                "day_first"};
    Tally& t = s.in_order(export_day_first(profile));
    const Against against(profile);
    ep::ContextEvidence e;
    switch (*s.kind) {
        case Kind::Lab:
            e = lab_evidence(std::move(t), against);
            break;
        case Kind::Maintenance:
            e = order_evidence(std::move(t), against);
            break;
        case Kind::Batches:
            e = batch_evidence(std::move(t), against);
            break;
    }
    e.kind = std::string(name(*s.kind));
    e.file = path;
    e.digest = s.digest.hex();
    e.bytes = s.bytes;
    return e;
}

// ---- Serialised partials: checked field by field before anything trusts them ----------------

namespace {

constexpr std::string_view kMagic = "qce-context-partial-1\n";

class Writer {
  public:
    void u8(std::uint8_t v) { out.push_back(static_cast<char>(v)); }
    void u64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
    void i64(std::int64_t v) { u64(static_cast<std::uint64_t>(v)); }
    void str(std::string_view s) {
        u64(s.size());
        out.append(s);
    }
    void opt(const std::optional<std::int64_t>& v) {
        u8(v.has_value());
        if (v) i64(*v);
    }
    std::string out;
};

class Reader {
  public:
    explicit Reader(std::string_view in) : in_(in) {}
    bool u8(std::uint8_t& v) {
        if (in_.empty()) return fail();
        v = static_cast<std::uint8_t>(in_[0]);
        in_.remove_prefix(1);
        return true;
    }
    bool flag(bool& v) {
        std::uint8_t b = 0;
        if (!u8(b) || b > 1) return fail();
        v = b == 1;
        return true;
    }
    bool u64(std::uint64_t& v) {
        if (in_.size() < 8) return fail();
        v = 0;
        for (int i = 0; i < 8; ++i)
            v |= std::uint64_t{static_cast<unsigned char>(in_[i])} << (8 * i);
        in_.remove_prefix(8);
        return true;
    }
    bool i64(std::int64_t& v) {
        std::uint64_t u = 0;
        if (!u64(u)) return false;
        v = static_cast<std::int64_t>(u);
        return true;
    }
    bool str(std::string& s, std::uint64_t most = kToEnd) {
        std::uint64_t n = 0;
        if (!u64(n) || n > in_.size() || n > most) return fail();
        s.assign(in_.substr(0, static_cast<std::size_t>(n)));
        in_.remove_prefix(static_cast<std::size_t>(n));
        return true;
    }
    bool opt(std::optional<std::int64_t>& v) {
        bool has = false;
        std::int64_t x = 0;
        if (!flag(has) || (has && !i64(x))) return false;
        v = has ? std::optional(x) : std::nullopt;
        return true;
    }
    // A count of items at least `each` bytes long each: no more than the bytes left can hold.
    bool count(std::uint64_t& n, std::size_t each) {
        if (!u64(n) || n > in_.size() / each) return fail();
        return true;
    }
    bool done() const noexcept { return in_.empty() && ok_; }
    bool ok() const noexcept { return ok_; }

  private:
    bool fail() {
        ok_ = false;
        return false;
    }
    std::string_view in_;
    bool ok_ = true;
};

void write_tally(Writer& w, const Tally& t) {
    w.u64(t.records);
    w.u64(t.censored);
    w.u64(t.skips.counts.size());
    for (const auto& [reason, n] : t.skips.counts) {
        w.str(reason);
        w.u64(n);
    }
    w.opt(t.first_us);
    w.opt(t.last_us);
    w.u64(t.items.size());
    for (const Item& x : t.items) {
        w.str(x.id);
        w.i64(x.a);
        w.opt(x.b);
        w.u8(static_cast<std::uint8_t>(x.result | x.invalid << 1 | x.keyed << 2));
    }
    w.u64(t.names.size());
    for (const std::string& n : t.names) w.str(n);
    w.u64(t.offsets.differs);
    w.str(t.offsets.first);
    w.i64(t.offsets.written);
    w.i64(t.offsets.zone);
}

bool read_tally(Reader& r, Tally& t) {
    std::uint64_t n = 0;
    if (!r.u64(t.records) || !r.u64(t.censored) || !r.count(n, 16)) return false;
    for (std::uint64_t k = 0; k < n; ++k) {
        std::string reason;
        std::uint64_t c = 0;
        if (!r.str(reason) || !r.u64(c) || c == 0 || !t.skips.counts.emplace(reason, c).second)
            return false;
    }
    if (!r.opt(t.first_us) || !r.opt(t.last_us)) return false;
    if (t.first_us.has_value() != t.last_us.has_value() || (t.first_us && *t.first_us > *t.last_us))
        return false;
    if (!r.count(n, 18)) return false;
    for (std::uint64_t k = 0; k < n; ++k) {
        Item x;
        std::uint8_t flags = 0;
        if (!r.str(x.id) || !r.i64(x.a) || !r.opt(x.b) || !r.u8(flags) || flags > 7) return false;
        x.result = flags & 1;
        x.invalid = flags & 2;
        x.keyed = flags & 4;
        // Every item's times lie in the tally's span, as rows leave them.
        if (!t.first_us || x.a < *t.first_us || x.a > *t.last_us ||
            (x.b && (*x.b < *t.first_us || *x.b > *t.last_us)))
            return false;
        if (!x.keyed && !x.id.empty()) return false;
        Item& added = t.items.emplace_back(std::move(x));
        if (added.keyed && !t.by_id.emplace(added.id, t.items.size() - 1).second) return false;
    }
    if (!r.count(n, 8)) return false;
    for (std::uint64_t k = 0; k < n; ++k) {
        std::string name;
        if (!r.str(name) || !t.names.insert(std::move(name)).second) return false;
    }
    std::int64_t written = 0, zone = 0;
    if (!r.u64(t.offsets.differs) || !r.str(t.offsets.first) || !r.i64(written) || !r.i64(zone))
        return false;
    constexpr std::int64_t kDay = 86400;
    if (written < -kDay || written > kDay || zone < -kDay || zone > kDay) return false;
    t.offsets.written = static_cast<std::int32_t>(written);
    t.offsets.zone = static_cast<std::int32_t>(zone);
    return true;
}

}  // namespace

std::string ContextPartial::serialize() const {
    const State& s = *state;
    Writer w;
    w.out.append(kMagic);
    w.u8(s.used);
    w.str(s.too_large);
    w.u8(s.nul);
    w.u8(s.bomless ? (*s.bomless ? 2 : 1) : 0);
    w.str(s.opening_error);
    w.u8(s.kind ? static_cast<std::uint8_t>(static_cast<std::uint8_t>(*s.kind) + 1) : 0);
    w.u8(s.given);
    w.u8(s.day);
    w.u8(s.month);
    w.u8(static_cast<std::uint8_t>(s.order));
    w.u8(s.day_first);
    w.u64(s.tallies.size());
    for (const Tally& t : s.tallies) write_tally(w, t);
    const DigestPart& d = s.digest;
    w.u8(d.used);
    w.u64(d.from);
    w.u64(d.to);
    w.str(d.lead);
    w.u8(d.closed);
    w.u64(d.blocks.size());
    for (const auto& b : d.blocks) w.out.append(reinterpret_cast<const char*>(b.data()), b.size());
    w.str(d.tail);
    w.u64(s.bytes);
    return std::move(w.out);
}

ep::Result<ContextPartial> ContextPartial::deserialize(std::string_view blob) {
    const ep::ProfileError bad{"", "not a context partial of this version, or damaged"};
    if (blob.substr(0, kMagic.size()) != kMagic) return bad;
    Reader r(blob.substr(kMagic.size()));
    ContextPartial p;
    State& s = *p.state;
    std::uint8_t bomless = 0, kind = 0, order = 0;
    if (!r.flag(s.used) || !r.str(s.too_large) || !r.flag(s.nul) || !r.u8(bomless) || bomless > 2 ||
        !r.str(s.opening_error) || !r.u8(kind) || kind > 3 || !r.flag(s.given) || !r.flag(s.day) ||
        !r.flag(s.month) || !r.u8(order) || order > 2 || !r.flag(s.day_first))
        return bad;
    if (bomless) s.bomless = bomless == 2;
    if (kind) s.kind = static_cast<Kind>(kind - 1);
    s.order = static_cast<Order>(order);
    std::uint64_t n = 0;
    if (!r.u64(n)) return bad;
    // Split holds both orders, Free and Fixed one; a refused order (both seen) none.
    // The empty partial none.
    const std::uint64_t want = !s.used ? 0 : s.conflict() ? n : s.order == Order::Split ? 2 : 1;
    if (n != want || n > 2 || (s.given && s.order != Order::Fixed) ||
        (s.order == Order::Split && (s.day || s.month)))
        return bad;
    for (std::uint64_t k = 0; k < n; ++k) {
        s.tallies.emplace_back();
        if (!read_tally(r, s.tallies.back())) return bad;
    }
    DigestPart& d = s.digest;
    if (!r.flag(d.used) || !r.u64(d.from) || !r.u64(d.to) || !r.str(d.lead, kBlock) ||
        !r.flag(d.closed) || !r.count(n, 32))
        return bad;
    d.blocks.resize(static_cast<std::size_t>(n));
    for (auto& b : d.blocks) {
        std::string raw;
        for (auto& byte : b) {
            std::uint8_t v = 0;
            if (!r.u8(v)) return bad;
            byte = v;
        }
    }
    if (!r.str(d.tail, kBlock - 1) || !r.u64(s.bytes) || !r.done()) return bad;
    if (d.to < d.from || (!d.closed && !d.tail.empty()) || (!d.closed && !d.blocks.empty()) ||
        d.lead.size() >= kBlock)
        return bad;
    return p;
}

}  // namespace qorv_chemical_engineering_edge::context
