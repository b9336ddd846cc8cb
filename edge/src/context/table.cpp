// A context file's header and rows as an export's are read: a title block and a sep= line above
// the header, cells split and unquoted as the export's, texts that are not valid UTF-8 read as
// Windows-1252.
#include <algorithm>

#include "context/context_internal.hpp"
#include "export/encoding.hpp"

namespace qorv_chemical_engineering_edge::context {
namespace {

constexpr std::size_t kMaxHeaderRecords = 64;

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

void cells_of(std::string_view record, char delim, ep::Encoding encoding, Row& out) {
    thread_local std::string scratch, unq;
    std::size_t n = 0;
    for (const ep::CellText& c : ep::split_record(record, delim, scratch)) {
        std::string text =
            ep::text_out(ep::unquote(c.text, c.quoted, unq), encoding, false, nullptr);
        if (n < out.cells.size()) {
            out.cells[n] = std::move(text);
        } else {
            out.cells.push_back(std::move(text));
        }
        ++n;
    }
    out.cells.resize(n);
}

const std::string& Row::cell(const std::vector<std::size_t>& columns) const {
    static const std::string kEmpty;
    for (std::size_t j : columns)
        if (j < cells.size() && !cells[j].empty()) return cells[j];
    return kEmpty;
}

bool Row::blank() const {
    return std::all_of(cells.begin(), cells.end(), [](const std::string& c) { return c.empty(); });
}

bool HeaderSearch::offer(std::string_view record, std::uint64_t end) {
    if (decided()) return false;
    const std::size_t h = seen_++;
    if (h == 0 && (sep_ = ep::sep_line_delimiter(record))) return true;
    const char delim = sep_ ? sep_ : ep::header_delimiter(record);
    cells_of(record, delim, enc_, row_);
    std::vector<std::string>& cells = row_.cells;
    if (!ep::is_title_line(cells)) {
        if (first_seen_.empty()) first_seen_ = cells;
        std::optional<Columns> best;
        if (file_.kind) {
            Columns c = columns_for(*file_.kind, cells);
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
                error_ = "its header (" + joined(cells) +
                         ") fits more than one kind of context file equally; name the kind (lab, "
                         "maintenance or batches)";
                return false;
            }
        }
        if (best) {
            header_ = Header{delim, std::move(*best), end};
            return false;
        }
    }
    if (seen_ >= kMaxHeaderRecords) at_end();
    return !decided();
}

void HeaderSearch::at_end() {
    if (decided()) return;
    if (seen_ == 0) {
        error_ = "the file is empty";
        return;
    }
    error_ = file_.kind
                 ? "no header naming the columns of a " + std::string(name(*file_.kind)) + " file"
                 : "no header naming the columns of a lab sample export, a work order "
                   "list or a batch event journal";
    if (!first_seen_.empty()) error_ += " (columns seen: " + joined(first_seen_) + ")";
}

}  // namespace qorv_chemical_engineering_edge::context
