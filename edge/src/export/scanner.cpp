// ExportScanner: bytes in, a PartialProfile out. A stream scanned from its first byte reads its
// own header; a range resumed mid-file keeps the row cut at its start as the partial's head.
#include <algorithm>
#include <cstring>

#include "export/digest.hpp"
#include "export/encoding.hpp"
#include "export/records.hpp"
#include "export/state.hpp"
#include "export/tokenize.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

struct ExportScanner::Impl {
    std::shared_ptr<const ScanSettings> settings;
    PartialProfile profile;
    std::string file;
    std::optional<ProfileError> error;

    bool layout_ready = false;
    std::string opening;  // bytes held until the header and first data row are in
    // The file's opening as the later ranges read it, when this first range may end short of it.
    std::string file_opening;
    // The layout is read again only when a line feed came in and the opening has doubled since
    // the last try, so a long opening costs linear time however finely it is fed.
    std::size_t tried_at = 0;
    bool line_feed_since_try = false;
    bool header_line_seen = false;  // a line feed among the opening bytes
    std::size_t opening_run = 0;    // bytes since the last delimiter or line feed

    bool head_pending = false;  // a range still reading the row cut at its start
    bool pending = false;       // an unfinished record is held in `carry`
    Fragment carry;
    std::uint64_t carry_line = 0;
    std::uint64_t lines = 0;  // line feeds consumed so far (the 0-based line of the next byte)
    TokenizerState tok;
    std::vector<CellRef> cells;
    std::vector<WideCell> wide_cells;  // the block classifier's listed cells of one row

    std::uint64_t offset = 0;  // file offset of the next byte fed
    std::uint64_t fed = 0;
    hashing::Sha256 block;
    bool block_started = false;
    std::vector<hashing::Sha256Digest> blocks;

    // The stream's encoding, settled by its first bytes. A UTF-16 stream is decoded here, before
    // the digest and the scan, so everything after reads (and hashes) UTF-8.
    std::optional<StreamEncoding> encoding;
    std::string undecided;  // the first bytes, until they settle it
    std::optional<Utf16Decoder> utf16;
    std::string decoded;

    PartialProfile::State& st() { return profile.state(); }

    void settle(StreamEncoding e) {
        encoding = e;
        if (e == StreamEncoding::Utf16LE || e == StreamEncoding::Utf16BE)
            utf16.emplace(e == StreamEncoding::Utf16BE);
        std::string held = std::move(undecided);
        undecided = {};
        pass(held.data(), held.size());
    }

    void take(const char* p, std::size_t n) {
        if (error) return;
        if (encoding) return pass(p, n);
        undecided.append(p, n);
        if (auto e = stream_encoding(undecided, settings->options.encoding, false)) settle(*e);
    }

    void pass(const char* p, std::size_t n) {
        if (!utf16) return feed(p, n);
        decoded.clear();
        utf16->decode(std::string_view(p, n), decoded);
        feed(decoded.data(), decoded.size());
    }

    void end_stream() {
        if (!encoding && !error)
            settle(*stream_encoding(undecided, settings->options.encoding, true));
        if (utf16 && !error) {
            decoded.clear();
            utf16->finish(decoded);
            feed(decoded.data(), decoded.size());
        }
    }

    void start_part(FileLayout layout, bool continues) {
        PartialProfile::State& s = st();
        s.settings = settings;
        s.used = true;
        FilePart part;
        part.path = file;
        part.continues = continues;
        part.tag_ids = s.tag_ids(layout.tag_names);
        if (!continues) {
            for (std::size_t i = 0; i < layout.unit_row.size() && i < part.tag_ids.size(); ++i)
                s.note_unit(s.tags[part.tag_ids[i]], layout.unit_row[i]);
            for (std::size_t i = 0; i < layout.header_units.size() && i < part.tag_ids.size(); ++i)
                s.note_unit(s.tags[part.tag_ids[i]], layout.header_units[i]);
        }
        part.repeats = most_repeated(part.tag_ids);
        part.layout = std::move(layout);
        s.files.push_back(std::move(part));
        s.head_open = continues;
        cells.resize(s.files.back().layout.n_columns + 1);
        wide_cells.resize(s.files.back().layout.n_columns);
        layout_ready = true;
    }

    void hash(const char* p, std::size_t n) {
        static_assert(kDigestBlock == kBlockBytes);
        if (!block_started && offset % kDigestBlock == 0 && n >= kDigestBlock) {
            const std::size_t whole = n / kDigestBlock;
            const std::size_t from = blocks.size();
            blocks.resize(from + whole);
            digest_whole_blocks(p, whole, blocks.data() + from);
            offset += whole * kDigestBlock;
            p += whole * kDigestBlock;
            n -= whole * kDigestBlock;
        }
        while (n) {
            const std::size_t room = kDigestBlock - static_cast<std::size_t>(offset % kDigestBlock);
            const std::size_t take = std::min(room, n);
            block.update(p, take);
            block_started = true;
            offset += take;
            p += take;
            n -= take;
            if (offset % kDigestBlock == 0) {
                blocks.push_back(block.finish());
                block = hashing::Sha256();
                block_started = false;
            }
        }
    }

    void end_pending(Fragment& frag) {
        if (head_pending) {
            st().head = std::move(frag);
            st().head_closed = true;
            head_pending = false;
        } else if (frag.length > kMaxRecordBytes) {
            st().note_quotes({0, carry_line}, frag.line_feeds, frag.length, false);
            ++st().oversized_rows;
            st().note_unparsed({0, carry_line});
        } else {
            process_record(st(), 0, frag.bytes, carry_line);
        }
        frag = {};
        pending = false;
    }

    struct Sink {
        RecordProcessor proc;
        CellRef* cells;
        std::size_t cap;
        std::size_t n = 0, n_total = 0;
        const char* record_from;
        std::uint64_t line;  // of the current record
        std::uint64_t base_lines, records = 0, qlf_base;
        std::uint64_t qlf_before;  // quoted line feeds before the current record

        void cell(const char* b, const char* e, bool quoted) {
            if (n < cap) cells[n++] = {b, e, quoted};
            ++n_total;
        }
        void record_end(const char* pos, std::uint64_t qlf) {
            proc.process(cells, n, n_total, static_cast<std::size_t>(pos - record_from), line,
                         qlf - qlf_before);
            qlf_before = qlf;
            record_from = pos + 1;
            n = n_total = 0;
            ++records;
            line = base_lines + records + (qlf - qlf_base);
        }

        // Wide rows the block classifier read: no quote, every cell present.
        char delim = ',';
        std::uint64_t columns = 0;
        std::int32_t time_col = 0, time_col2 = -1;

        // The cell in column `col` of the row [b, lf); the last one without its carriage return,
        // as process takes it.
        CellRef cell_of(const char* b, const char* lf, std::size_t col) const {
            for (std::size_t k = 0; k < col; ++k)
                b = static_cast<const char*>(
                        std::memchr(b, delim, static_cast<std::size_t>(lf - b))) +
                    1;
            return {b, end_of(b, lf, col), false};
        }
        const char* end_of(const char* b, const char* lf, std::size_t col) const {
            const void* d = std::memchr(b, delim, static_cast<std::size_t>(lf - b));
            const char* e = d ? static_cast<const char*>(d) : lf;
            if (col + 1 == columns && e != b && e[-1] == '\r') --e;
            return e;
        }
        void plain_row(const char* b, const char* lf, WideCell* listed, std::size_t n_listed) {
            for (std::size_t k = 0; k < n_listed; ++k)
                listed[k].e = end_of(listed[k].b, lf, listed[k].col);
            static const CellRef kNone{nullptr, nullptr, false};
            const CellRef time = cell_of(b, lf, static_cast<std::size_t>(time_col));
            const CellRef time2 =
                time_col2 >= 0 ? cell_of(b, lf, static_cast<std::size_t>(time_col2)) : kNone;
            const CellRef first = time_col == 0 ? time : cell_of(b, lf, 0);
            proc.plain_row(time, time2, first, listed, n_listed, line, b);
            record_from = lf + 1;
            ++records;
            line = base_lines + records + (qlf_before - qlf_base);
        }
    };

    std::size_t wide_rows_any(const char* p, std::size_t n, const FileLayout& layout, Sink& sink) {
        return wide_tokenize(p, n, layout.delimiter, settings->options.decimal, layout.n_columns,
                             kMaxRecordBytes, tok, sink, wide_cells.data());
    }
#if defined(__x86_64__) || defined(__i386__)
    // The wide loop counts delimiters at every listed cell and finds bits by the dozen per block:
    // baseline x86-64 makes each popcount a library call (3.7% of the wide export's scan).
    __attribute__((target("popcnt,bmi"))) std::size_t wide_rows_bits(const char* p, std::size_t n,
                                                                     const FileLayout& layout,
                                                                     Sink& sink) {
        return wide_tokenize(p, n, layout.delimiter, settings->options.decimal, layout.n_columns,
                             kMaxRecordBytes, tok, sink, wide_cells.data());
    }
#endif
    std::size_t wide_rows(const char* p, std::size_t n, const FileLayout& layout, Sink& sink) {
#if defined(__x86_64__) || defined(__i386__)
        static const bool bits = __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi");
        if (bits) return wide_rows_bits(p, n, layout, sink);
#endif
        return wide_rows_any(p, n, layout, sink);
    }

    void scan(const char* p, std::size_t n) {
        std::size_t from = 0;
        if (pending) {
            bool inside = tok.in_quotes;
            std::uint64_t lf = 0;
            std::size_t i = 0;
            for (; i < n; ++i) {
                if (p[i] == '"') {
                    inside = !inside;
                } else if (p[i] == '\n') {
                    if (!inside) break;
                    ++lf;
                }
            }
            Fragment& frag = head_pending ? st().head : carry;
            frag.line_feeds += lf;
            lines += lf;
            if (i == n) {
                frag.add(std::string_view(p, n));
                tok.in_quotes = inside;
                return;
            }
            frag.add(std::string_view(p, i));
            lines += 1;
            tok.in_quotes = false;
            if (head_pending) {
                st().head_closed = true;
                head_pending = false;
                pending = false;
            } else {
                end_pending(carry);
            }
            from = i + 1;
        }
        if (from == n) return;
        Sink sink{RecordProcessor(st(), 0),
                  cells.data(),
                  cells.size(),
                  0,
                  0,
                  p + from,
                  lines,
                  lines,
                  0,
                  tok.quoted_line_feeds,
                  tok.quoted_line_feeds};
        sink.proc.set_read_limit(p + n);
        const FileLayout& layout = st().files[0].layout;
        std::size_t used = 0;
        if (!tok.in_quotes && sink.proc.plain_rows_allowed(true)) {
            sink.delim = layout.delimiter;
            sink.columns = layout.n_columns;
            sink.time_col = layout.time_col;
            sink.time_col2 = layout.time_col2;
            used = wide_rows(p + from, n - from, layout, sink);
            sink.proc.flush_plain();
        } else {
            used = tokenize(p + from, n - from, layout.delimiter, tok, sink);
        }
        lines += sink.records + (tok.quoted_line_feeds - sink.qlf_base);
        if (from + used < n) {
            pending = true;
            carry = {};
            carry.add(std::string_view(p + from + used, n - from - used));
            carry.line_feeds = static_cast<std::uint64_t>(std::count(p + from + used, p + n, '\n'));
            carry_line = sink.line;
        }
    }

    void feed(const char* p, std::size_t n) {
        if (error) return;
        fed += n;
        hash(p, n);
        if (layout_ready) {
            scan(p, n);
            return;
        }
        const void* lf = std::memchr(p, '\n', n);
        // A stream whose first line holds a NUL, or that runs kMaxOpeningRun bytes without a
        // delimiter or line end before its layout is known, is no text export: refused on the
        // bytes seen so far, before a compressed stream is inflated further (the file pool stops
        // reading once the scanner has failed). A header of any length with cells is read.
        if (!header_line_seen) {
            const std::size_t line =
                lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - p) : n;
            if (std::memchr(p, '\0', line)) {
                const std::string head = (opening + std::string(p, n)).substr(0, kUtf16Sniff);
                const auto order = bomless_utf16(head);
                error = ProfileError{
                    file, order ? bomless_utf16_reason(*order)
                                : "binary data (NUL bytes) in the header; not a text export"};
                return;
            }
            header_line_seen = lf != nullptr;
        }
        if (longest_run(std::string_view(p, n), opening_run) > kMaxOpeningRun) {
            error = ProfileError{file, std::string(kNoDelimiterRun)};
            return;
        }
        opening.append(p, n);
        line_feed_since_try = line_feed_since_try || lf != nullptr;
        // Past the header, growth alone may complete the opening sample (a long row in it).
        if ((line_feed_since_try || header_line_seen) && opening.size() >= 2 * tried_at)
            try_layout(false);
    }

    // The header and metadata rows are records too: a stray quote there swallows rows alike.
    void note_opening_quotes(std::string_view b) {
        bool inside = false;
        std::uint64_t line = 0, quoted_lf = 0;
        std::size_t start = 0;
        for (std::size_t i = 0; i < b.size(); ++i) {
            if (b[i] == '"') {
                inside = !inside;
            } else if (b[i] == '\n') {
                if (inside) {
                    ++quoted_lf;
                    continue;
                }
                const std::string_view record = b.substr(start, i - start);
                st().note_quotes(
                    {0, line}, quoted_lf, record.size(),
                    quoted_lf && rows_inside(record, st().files[0].layout, settings->syntax));
                line += quoted_lf + 1;
                quoted_lf = 0;
                start = i + 1;
            }
        }
    }

    // The layout as a range resumed at `offset` reads it from the file's opening `bytes`: a
    // short opening reaching the range is, by the contract, the whole file.
    static Needing<FileLayout> read_opening(std::string_view bytes, std::uint64_t offset,
                                            const ScanSettings& settings) {
        auto read = read_layout(bytes, false, settings);
        if (std::holds_alternative<NeedBytes>(read) && offset <= bytes.size())
            read = read_layout(bytes, true, settings);
        return read;
    }

    // The file's opening settles the layout for a first range that holds its header yet may end
    // inside the sample; none is used for a UTF-16 stream (its opening bytes are not what is
    // scanned) or one the bytes fed do not begin.
    std::optional<Needing<FileLayout>> read_file_opening(bool at_end) {
        if (file_opening.size() <= opening.size() || utf16 ||
            !std::string_view(file_opening).starts_with(opening))
            return std::nullopt;
        if (!at_end) return NeedBytes{file_opening.size()};  // wait: the range may reach it
        auto read = read_opening(file_opening, file_opening.size(), *settings);
        const auto* layout = std::get_if<FileLayout>(&read);
        if (layout && layout->data_offset > opening.size()) return std::nullopt;
        return read;
    }

    void try_layout(bool at_end) {
        tried_at = opening.size();
        line_feed_since_try = false;
        auto given = read_file_opening(at_end);
        auto read = given ? std::move(*given) : read_layout(opening, at_end, *settings);
        if (auto* failed = std::get_if<ProfileError>(&read)) {
            error = ProfileError{file, std::move(failed->reason)};
            return;
        }
        FileLayout* layout = std::get_if<FileLayout>(&read);
        if (!layout) return;  // more bytes to come
        const std::uint64_t data_offset = layout->data_offset;
        lines = layout->data_line;
        start_part(std::move(*layout), false);
        note_opening_quotes(std::string_view(opening).substr(0, data_offset));
        std::string bytes = std::move(opening);
        opening.clear();
        opening.shrink_to_fit();
        scan(bytes.data() + data_offset, bytes.size() - data_offset);
    }
};

ExportScanner::ExportScanner(const ProfileOptions& options, std::string file)
    : impl_(std::make_unique<Impl>()) {
    impl_->settings = make_settings(options);
    impl_->file = std::move(file);
    if (!impl_->settings->zone_error.empty())
        impl_->error = ProfileError{impl_->file, impl_->settings->zone_error};
}

ExportScanner::ExportScanner(const ProfileOptions& options, std::string file,
                             std::string_view opening_bytes)
    : ExportScanner(options, std::move(file)) {
    impl_->file_opening = opening_bytes;
}

ExportScanner::~ExportScanner() = default;
ExportScanner::ExportScanner(ExportScanner&&) noexcept = default;
ExportScanner& ExportScanner::operator=(ExportScanner&&) noexcept = default;

Result<ExportScanner> ExportScanner::resume_at(const ProfileOptions& options, std::string file,
                                               std::string_view opening_bytes, std::uint64_t offset,
                                               bool inside_quotes) {
    ExportScanner s(options, file);
    Impl& m = *s.impl_;
    if (m.error) return *m.error;
    const StreamEncoding e = *stream_encoding(opening_bytes, options.encoding, true);
    if (e == StreamEncoding::Utf16LE || e == StreamEncoding::Utf16BE)
        return ProfileError{file,
                            "a UTF-16 file is decoded as one stream from its first byte; "
                            "it cannot be read from a range"};
    m.encoding = e;
    auto read = Impl::read_opening(opening_bytes, offset, *m.settings);
    if (auto* failed = std::get_if<ProfileError>(&read)) return ProfileError{file, failed->reason};
    FileLayout* layout = std::get_if<FileLayout>(&read);
    if (!layout) return ProfileError{file, "the opening bytes given end before the first data row"};
    // The piece before must hold the whole first data row, which settles the layout.
    if (offset < layout->first_row_end || layout->first_row_end > opening_bytes.size() ||
        opening_bytes[layout->first_row_end - 1] != '\n')
        return ProfileError{file, "a range may start only after the first data row"};
    m.start_part(std::move(*layout), true);
    m.offset = offset;
    m.head_pending = true;
    m.pending = true;
    m.tok.in_quotes = inside_quotes;
    if (offset % kDigestBlock != 0) m.st().files[0].digest_complete = false;
    return s;
}

void ExportScanner::feed(std::span<const char> bytes) {
    impl_->take(bytes.data(), bytes.size());
}

bool ExportScanner::failed() const noexcept {
    return impl_->error.has_value();
}

PartialProfile::State* opened_state(ExportScanner& scanner, std::uint64_t& next_line) {
    ExportScanner::Impl& m = *scanner.impl_;
    if (m.error || !m.layout_ready || m.pending || m.head_pending) return nullptr;
    next_line = m.lines;
    return &m.st();
}

Result<PartialProfile> ExportScanner::finish() {
    Impl& m = *impl_;
    m.end_stream();
    if (!m.error && !m.layout_ready) m.try_layout(true);
    if (m.error) return *m.error;
    PartialProfile::State& s = m.st();
    FilePart& part = s.files[0];
    if (m.block_started) {
        m.blocks.push_back(m.block.finish());
        part.ends_mid_block = true;
    }
    part.blocks = std::move(m.blocks);
    part.lines = m.lines;
    part.bytes = m.fed;
    if (!part.continues) {
        part.encoding = static_cast<std::uint8_t>(*m.encoding);
        part.utf16_replaced = m.utf16 ? m.utf16->replaced() : 0;
    }
    if (m.head_pending) {
        s.head_closed = false;  // the whole range lies inside one row
    } else if (m.pending) {
        s.tail = std::move(m.carry);
        s.tail_line = m.carry_line;
    } else {
        s.tail_line = m.lines;
    }
    return std::move(m.profile);
}

}  // namespace qorv_chemical_engineering_edge::export_profile
