// Reading a context file's bytes and rows as an export's are read: plain or .gz, UTF-16 decoded
// (a BOM-less UTF-16 file refused), texts that are not valid UTF-8 read as Windows-1252, a
// title block and a sep= line above the header, quotes by parity.
#include <algorithm>

#include "context/context_internal.hpp"
#include "export/digest.hpp"
#include "export/encoding.hpp"
#include "export/file_io.hpp"
#include "export/gzip.hpp"
#include "export/plan.hpp"
#include "qorv_chemical_engineering_edge/hashing.hpp"

namespace qorv_chemical_engineering_edge::context {
namespace {

// Context files are the size of a year's samples or orders; a larger one is no context file.
constexpr std::uint64_t kMaxContextBytes = std::uint64_t{1} << 30;
constexpr std::size_t kMaxHeaderRecords = 64;

ep::Result<std::string> read_bytes(const std::string& path) {
    if (ep::ends_with_gz(path)) {
        ep::GzipReader gz;
        std::string why;
        if (!gz.open(path, &why)) return ep::ProfileError{path, why};
        std::string out;
        std::vector<char> buf(std::size_t{1} << 20);
        for (;;) {
            const long n = gz.read(buf.data(), buf.size(), &why);
            if (n < 0) return ep::ProfileError{path, why};
            if (n == 0) break;
            out.append(buf.data(), static_cast<std::size_t>(n));
            if (out.size() > kMaxContextBytes)
                return ep::ProfileError{path, "over 1 GiB inflated: too large for a context file"};
        }
        return out;
    }
    ep::File f(path);
    if (!f) return ep::ProfileError{path, "the file cannot be opened"};
    const auto size = f.size();
    if (!size) return ep::ProfileError{path, size.error().reason};
    if (size.value() > kMaxContextBytes)
        return ep::ProfileError{path, "over 1 GiB: too large for a context file"};
    return ep::read_range(path, 0, size.value());
}

// As an export file is digested: SHA-256 over the SHA-256 digests of its 1 MiB blocks.
std::string digest_of(std::string_view bytes) {
    hashing::Sha256 all;
    for (std::size_t at = 0; at < bytes.size(); at += ep::kBlockBytes) {
        hashing::Sha256 block;
        block.update(bytes.substr(at, ep::kBlockBytes));
        const auto d = block.finish();
        all.update(d.data(), d.size());
    }
    return hashing::to_hex(all.finish());
}

struct Record {
    std::string_view text;
    std::uint64_t line = 0;  // 1-based
};

std::vector<Record> records_of(std::string_view bytes) {
    std::vector<Record> out;
    std::size_t from = 0;
    std::uint64_t line = 1, lines_in = 0;
    bool inside = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '"') inside = !inside;
        if (bytes[i] != '\n') continue;
        ++lines_in;
        if (inside) continue;
        std::string_view r = bytes.substr(from, i - from);
        if (!r.empty() && r.back() == '\r') r.remove_suffix(1);
        out.push_back({r, line});
        line += lines_in;
        lines_in = 0;
        from = i + 1;
    }
    if (from < bytes.size()) {
        std::string_view r = bytes.substr(from);
        if (!r.empty() && r.back() == '\r') r.remove_suffix(1);
        out.push_back({r, line});
    }
    return out;
}

std::vector<std::string> cells_of(std::string_view record, char delim, ep::Encoding encoding) {
    std::string scratch, unq;
    std::vector<std::string> out;
    for (const ep::CellText& c : ep::split_record(record, delim, scratch))
        out.push_back(ep::text_out(ep::unquote(c.text, c.quoted, unq), encoding, false, nullptr));
    return out;
}

// The header's cells for an error text, cut short: a header may be megabytes long.
std::string joined(const std::vector<std::string>& cells) {
    constexpr std::size_t kMost = 200;
    std::string s;
    for (const std::string& c : cells) {
        if (c.empty()) continue;
        if (!s.empty()) s += ", ";
        s += c;
        if (s.size() > kMost) {
            std::size_t cut = kMost;
            while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
            return s.substr(0, cut) + " ...";
        }
    }
    return s;
}

}  // namespace

const std::string& Row::cell(const std::vector<std::size_t>& columns) const {
    static const std::string kEmpty;
    for (std::size_t j : columns)
        if (j < cells.size() && !cells[j].empty()) return cells[j];
    return kEmpty;
}

ep::Result<Table> read_table(const ContextFile& file, ep::Encoding encoding) {
    auto read = read_bytes(file.path);
    if (!read) return read.error();
    return table_of(std::move(read).value(), file, encoding);
}

ep::Result<Table> table_of(std::string bytes, const ContextFile& file, ep::Encoding encoding) {
    // UTF-16 is decoded whole, as the export's stream is, and digested as the UTF-8 it reads as.
    const ep::StreamEncoding stream = *ep::stream_encoding(bytes, encoding, true);
    if (stream == ep::StreamEncoding::Utf16LE || stream == ep::StreamEncoding::Utf16BE) {
        ep::Utf16Decoder d(stream == ep::StreamEncoding::Utf16BE);
        std::string utf8;
        d.decode(bytes, utf8);
        d.finish(utf8);
        bytes = std::move(utf8);
    } else if (bytes.find('\0') != std::string::npos) {
        if (const auto order = ep::bomless_utf16(bytes))
            return ep::ProfileError{file.path, ep::bomless_utf16_reason(*order)};
        return ep::ProfileError{file.path, "binary data (NUL bytes); not a text file"};
    }
    Table t;
    t.file = file.path;
    t.bytes = bytes.size();
    t.digest = digest_of(bytes);
    std::string_view text = bytes;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    const std::vector<Record> recs = records_of(text);
    if (recs.empty()) return ep::ProfileError{file.path, "the file is empty"};
    const char sep = ep::sep_line_delimiter(recs[0].text);
    std::size_t h = sep ? 1 : 0;
    char delim = ',';
    std::vector<std::string> first_seen;  // the first record that could have been a header
    bool found = false;
    for (; h < recs.size() && h < kMaxHeaderRecords; ++h) {
        delim = sep ? sep : ep::header_delimiter(recs[h].text);
        std::vector<std::string> cells = cells_of(recs[h].text, delim, encoding);
        if (ep::is_title_line(cells)) continue;
        if (first_seen.empty()) first_seen = cells;
        std::optional<Columns> best;
        if (file.kind) {
            Columns c = columns_for(*file.kind, cells);
            if (c.fits) best = std::move(c);
        } else {
            // The kind whose columns the header names most; a tie between two is no kind.
            bool tie = false;
            for (Kind k : {Kind::Lab, Kind::Maintenance, Kind::Batches}) {
                Columns c = columns_for(k, cells);
                if (!c.fits) continue;
                if (best && c.named == best->named) tie = true;
                if (!best || c.named > best->named) {
                    tie = false;
                    best = std::move(c);
                }
            }
            if (tie) {
                return ep::ProfileError{
                    file.path, "its header (" + joined(cells) +
                                   ") fits more than one kind of context file equally; name "
                                   "the kind (lab, maintenance or batches)"};
            }
        }
        if (!best) continue;
        t.header = std::move(cells);
        t.header_line = recs[h].line;
        t.columns = std::move(*best);
        found = true;
        break;
    }
    if (!found) {
        std::string what = file.kind ? "no header naming the columns of a " +
                                           std::string(name(*file.kind)) + " file"
                                     : "no header naming the columns of a lab sample export, "
                                       "a work order list or a batch event journal";
        if (!first_seen.empty()) what += " (columns seen: " + joined(first_seen) + ")";
        return ep::ProfileError{file.path, what};
    }
    for (std::size_t k = h + 1; k < recs.size(); ++k) {
        Row r;
        r.line = recs[k].line;
        r.cells = cells_of(recs[k].text, delim, encoding);
        if (std::all_of(r.cells.begin(), r.cells.end(),
                        [](const std::string& c) { return c.empty(); }))
            continue;
        t.rows.push_back(std::move(r));
    }
    return t;
}

}  // namespace qorv_chemical_engineering_edge::context
