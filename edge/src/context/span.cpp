// The export as context files are checked against it: its span and tags, and times read as its
// own naive times are (its zone, its day/month order).
#include <algorithm>
#include <cstdio>

#include "context/context_internal.hpp"
#include "export/timestamps.hpp"

namespace qorv_chemical_engineering_edge::context {
namespace {

char lower(char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    return a / b - (a % b < 0 ? 1 : 0);
}

std::string offset_text(std::int32_t s) {
    const char sign = s < 0 ? '-' : '+';
    const std::int32_t a = s < 0 ? -s : s;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%02d:%02d", sign, a / 3600, a / 60 % 60);
    return buf;
}

// A written offset's start in an ISO time ("...T10:00:00+02:00", "...Z"); npos: none.
std::size_t offset_at(std::string_view cell) {
    if (cell.size() > 10 && (cell.back() == 'Z' || cell.back() == 'z')) return cell.size() - 1;
    for (std::size_t i = cell.size(); i-- > 11;)
        if (cell[i] == '+' || cell[i] == '-') return i;
    return std::string_view::npos;
}

}  // namespace

Against::Against(const ep::ExportProfile& p) : profile(p) {
    for (std::size_t i = 0; i < p.tags.size(); ++i) {
        const ep::TagEvidence& t = p.tags[i];
        if (t.first_us) lo = lo ? std::min(*lo, *t.first_us) : *t.first_us;
        if (t.last_us) hi = hi ? std::max(*hi, *t.last_us) : *t.last_us;
        lowered_.emplace_back(lowered(t.name), i);
    }
    if (!lo || !hi) lo = hi = std::nullopt;
    std::sort(lowered_.begin(), lowered_.end());
}

void Against::tags_named(std::string_view text, std::vector<std::string>& out) const {
    text = trimmed(text);
    const std::size_t before = out.size();
    names_by_prefix(text, out);
    // "TI200 outlet": a sample point or location named after its tag and more.
    const std::size_t space = text.find(' ');
    if (out.size() == before && space != std::string_view::npos)
        names_by_prefix(text.substr(0, space), out);
}

void Against::names_by_prefix(std::string_view text, std::vector<std::string>& out) const {
    const std::string x = lowered(text);
    if (x.empty()) return;
    auto it = std::lower_bound(lowered_.begin(), lowered_.end(), std::pair{x, std::size_t{0}});
    for (; it != lowered_.end() && it->first.compare(0, x.size(), x) == 0; ++it) {
        const std::string& n = it->first;
        const char next = n.size() > x.size() ? n[x.size()] : '\0';
        if (n.size() == x.size() || next == '.' || next == '_' || next == '-' || next == ':' ||
            next == '/' || next == ' ')
            out.push_back(profile.tags[it->second].name);
    }
}

std::string Against::span_text() const {
    return lo ? ep::format_instant(*lo) + " to " + ep::format_instant(*hi) : "none";
}

TimeReader::TimeReader(std::shared_ptr<const ep::ScanSettings> settings, bool day_first)
    : settings_(std::move(settings)) {
    // A context file's times are its own: any format the reader knows, whatever the export's.
    syntax_ = {ep::TimestampFormat::Auto, day_first, settings_->options.decimal};
}

void TimeReader::order_evidence(std::string_view cell, bool& slash, bool& day, bool& month) const {
    if (cell.empty()) return;
    ep::ParsedTime pt;
    ep::parse_timestamp(cell, syntax_, pt);
    slash = slash || pt.slash_first != 0;
    day = day || pt.slash_first > 12;
    month = month || pt.slash_second > 12;
}

bool export_day_first(const ep::ExportProfile& profile) {
    bool day = false;
    for (const ep::FileSummary& f : profile.files)
        for (const ep::ReadingFact& fact : f.reading)
            if (fact.name == "date_order") day = fact.value == "day_first";
    return day;
}

std::optional<std::int64_t> TimeReader::instant(std::string_view cell, OffsetNote& note) const {
    cell = trimmed(cell);
    ep::ParsedTime pt;
    if (cell.empty() || !ep::parse_timestamp(cell, syntax_, pt)) return std::nullopt;
    constexpr std::int64_t kUs = 1'000'000;
    if (pt.naive) {
        const std::int64_t s = floor_div(pt.us, kUs);
        const auto res = settings_->zone.resolve(s);
        return res.first_s * kUs + (pt.us - s * kUs);
    }
    // A written offset that is not the zone's at that instant: the file was kept in another zone.
    const std::size_t at = offset_at(cell);
    ep::ParsedTime wall;
    if (at != std::string_view::npos && ep::parse_timestamp(cell.substr(0, at), syntax_, wall) &&
        wall.naive) {
        const auto written = static_cast<std::int32_t>(floor_div(wall.us - pt.us, kUs));
        const std::int32_t zone = settings_->zone.offset_at(floor_div(pt.us, kUs));
        if (written != zone) {
            if (note.differs++ == 0) {
                note.first = std::string(cell);
                note.written = written;
                note.zone = zone;
            }
        }
    }
    return pt.us;
}

void offset_notes(const OffsetNote& note, const ep::ProfileOptions& options,
                  std::vector<std::string>& out) {
    if (!note.differs) return;
    out.push_back(std::to_string(note.differs) + " times written at UTC" +
                  offset_text(note.written) + " (first: " + note.first +
                  "), where the export's zone " + options.zone_name + " is at UTC" +
                  offset_text(note.zone) + ": the file was kept in another zone");
}

void Item::combine(const Item& later) {
    a = std::min(a, later.a);
    if (later.b) b = b ? std::max(*b, *later.b) : *later.b;
    result = result || later.result;
    invalid = invalid || later.invalid;
}

Tally::Tally(const Tally& o)
    : records(o.records),
      censored(o.censored),
      skips(o.skips),
      first_us(o.first_us),
      last_us(o.last_us),
      items(o.items),
      names(o.names),
      offsets(o.offsets) {
    for (std::size_t k = 0; k < items.size(); ++k)
        if (items[k].keyed) by_id.emplace(items[k].id, k);
}

Item& Tally::item(const std::string& id, bool keyed, std::int64_t t) {
    if (keyed) {
        if (const auto it = by_id.find(id); it != by_id.end()) return items[it->second];
    }
    Item& added = items.emplace_back();
    added.a = t;
    if (keyed) {
        added.id = id;
        added.keyed = true;
        by_id.emplace(added.id, items.size() - 1);
    }
    return added;
}

void Tally::merge(Tally&& later) {
    records += later.records;
    censored += later.censored;
    for (auto& [reason, n] : later.skips.counts) skips.counts[reason] += n;
    if (later.first_us) widen(*later.first_us);
    if (later.last_us) widen(*later.last_us);
    for (Item& x : later.items) {
        if (x.keyed) {
            if (const auto it = by_id.find(x.id); it != by_id.end()) {
                items[it->second].combine(x);
                continue;
            }
        }
        Item& added = items.emplace_back(std::move(x));
        if (added.keyed) by_id.emplace(added.id, items.size() - 1);
    }
    names.merge(later.names);
    if (!offsets.differs) {
        offsets = std::move(later.offsets);
    } else {
        offsets.differs += later.offsets.differs;
    }
}

std::vector<ep::TextCount> Skips::list() const {
    std::vector<ep::TextCount> out;
    for (const auto& [reason, n] : counts) out.push_back({reason, n});
    return out;
}

bool says_word(std::string_view text, std::span<const std::string_view> words) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto alnum = [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        };
        while (i < text.size() && !alnum(text[i])) ++i;
        const std::size_t from = i;
        while (i < text.size() && alnum(text[i])) ++i;
        if (i == from) break;
        const std::string w = lowered(text.substr(from, i - from));
        if (std::find(words.begin(), words.end(), w) != words.end()) return true;
    }
    return false;
}

void note_span(const Against& against, ep::ContextEvidence& e, bool must_cover) {
    if (!against.lo) {
        e.notes.push_back("the export has no timestamped rows: nothing lies inside its span");
        return;
    }
    if (!e.first_us) {
        e.notes.push_back("no time in the file parses");
        return;
    }
    const std::string own =
        ep::format_instant(*e.first_us) + " to " + ep::format_instant(*e.last_us);
    if (*e.last_us < *against.lo || *e.first_us > *against.hi) {
        e.notes.push_back("its times (" + own + ") lie outside the export's span (" +
                          against.span_text() + ")");
    } else if (must_cover && (*e.first_us > *against.lo || *e.last_us < *against.hi)) {
        e.notes.push_back(std::string("the log (") + own +
                          (*e.last_us < *against.hi ? ") ends before" : ") starts after") +
                          " the export's span (" + against.span_text() +
                          "): it does not witness the whole export");
    }
}

void finish_tags(std::vector<std::string>& tags) {
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
}

}  // namespace qorv_chemical_engineering_edge::context
