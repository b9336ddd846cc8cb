// Fuzzes the export scanner: any bytes (UTF-16 ones decoded as they come), options from the
// first bytes. Checks that feeding the rest in two pieces, and scanning two ranges apart and
// merging them, give exactly the partial profile of one scan; that the partial, the pieces and
// their merge survive the binary form; that finalising never fails for a stream that scanned,
// but for a stray quote's run when multi-line fields are not accepted, unparsed rows past the
// limit when they are not accepted, and slash dates whose order is undecided or decided other
// than scanned.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <source_location>
#include <string>
#include <string_view>

#include "export/state.hpp"
#include "fuzz_check.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

ep::PartialProfile without_digest(ep::PartialProfile p) {
    for (auto& f : p.state().files) {
        f.blocks.clear();
        f.digest_complete = true;
        f.ends_mid_block = false;
    }
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::uint8_t flags = data[0];
    const std::uint8_t zone = data[1];
    const std::uint16_t cut = static_cast<std::uint16_t>(data[2] | (data[3] << 8));
    const std::string_view csv(reinterpret_cast<const char*>(data + 4), size - 4);

    ep::ProfileOptions o;
    constexpr char kDelims[4] = {0, ',', ';', '\t'};
    o.delimiter = kDelims[flags & 3];
    o.decimal = (flags & 4) ? ',' : '.';
    o.day_first = (flags & 8) != 0;
    o.layout = static_cast<ep::Layout>((flags >> 4) % 3);
    if (flags & 0x40) o.missing_sentinels = {-999, 0};
    if (flags & 0x80) o.good_quality = {"1", "good"};
    constexpr const char* kZones[4] = {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata"};
    o.zone_name = kZones[zone & 3];
    o.timestamp_format = static_cast<ep::TimestampFormat>((zone >> 2) & 3);
    o.accept_multiline_fields = (zone & 0x10) != 0;
    if (zone & 0x20) o.day_first.reset();  // decided from the data
    o.accept_unparsed_rows = (zone & 0x40) != 0;
    // The cut's top bits also pick the quality convention.
    o.quality_convention = static_cast<ep::QualityConvention>((cut >> 13) % 6);
    // The zone byte's last bit asks for a given encoding, picked by the cut's middle bits.
    if (zone & 0x80) o.encoding = static_cast<ep::Encoding>((cut >> 10) % 6);
    // And bits 8-9 the normal-operation window's search (with a break span), so that its row
    // verdicts are checked across the cut like every other part of the state.
    constexpr ep::BaselineSearch kSearches[4] = {ep::BaselineSearch::Off, ep::BaselineSearch::Off,
                                                 ep::BaselineSearch::Suggest,
                                                 ep::BaselineSearch::Auto};
    o.baseline_search = kSearches[(cut >> 8) & 3];
    // Signal health on but for the second of those: its accumulators merge across the cut too.
    o.health = ((cut >> 8) & 3) != 1;
    if (o.baseline_search != ep::BaselineSearch::Off)
        o.baseline_breaks = {{std::int64_t{cut} << 30, (std::int64_t{cut} << 30) + 3'600'000'000}};

    ep::ExportScanner one(o, "fuzz.csv");
    one.feed(csv);
    auto whole = one.finish();
    const std::size_t at = csv.empty() ? 0 : cut % (csv.size() + 1);

    ep::ExportScanner two(o, "fuzz.csv");
    two.feed(csv.substr(0, at));
    two.feed(csv.substr(at));
    auto split = two.finish();
    check(whole.ok() == split.ok());
    if (!whole) return 0;
    check(split.value() == whole.value());
    // Unset, the order is scanned month first: refused where the dates decide nothing or day
    // first. Else, accepting multi-line fields and unparsed rows, finalising never fails;
    // without, exactly when it counted some (the last record, closed by finalize, may be one).
    // Decided as finalize decides it: with the unfinished last record closed.
    ep::PartialProfile closed = whole.value();
    ep::close_tail(closed.state());
    const auto order = ep::decide_date_order(closed.state());
    const bool order_refused =
        order.refusal.has_value() || (!order.given && order.day_first.value_or(false));
    ep::ProfileOptions accepting = o;
    accepting.accept_multiline_fields = true;
    accepting.accept_unparsed_rows = true;
    if (o.baseline_search == ep::BaselineSearch::Auto)  // shown, never refused for the layout
        accepting.baseline_search = ep::BaselineSearch::Suggest;
    ep::ExportScanner open(accepting, "fuzz.csv");
    open.feed(csv);
    auto accepted = open.finish().value().finalize(accepting.declared);
    check(accepted.ok() != order_refused);
    bool refusable = order_refused;
    if (accepted) {
        const auto& n = accepted.value().notes;
        std::uint64_t parsed = 0;
        for (const auto& f : accepted.value().files) parsed += f.data_rows;
        refusable = (!o.accept_multiline_fields && n.multiline_fields > 0) ||
                    (!o.accept_unparsed_rows && 19 * n.unparsed_rows > parsed) ||
                    (o.baseline_search == ep::BaselineSearch::Auto &&
                     accepted.value().baseline_suggestion->why.starts_with("not looked for"));
    }
    auto profile = whole.value().finalize(o.declared);
    check(profile.ok() != refusable);

    const std::string blob = whole.value().serialize();
    auto back = ep::PartialProfile::deserialize(blob);
    check(back.ok() && back.value() == whole.value());
    (void)ep::PartialProfile::deserialize(blob.substr(0, blob.size() / 2));

    std::size_t quotes = 0;
    for (std::size_t i = 0; i < at; ++i) quotes += csv[i] == '"';
    auto right = ep::ExportScanner::resume_at(o, "fuzz.csv", csv, at, quotes % 2 == 1);
    if (!right) return 0;
    right.value().feed(csv.substr(at));
    auto r = right.value().finish();
    check(r.ok());
    // The first range reads the conventions from the file's opening, as the range after it does,
    // however little of the opening sample it holds itself.
    ep::ExportScanner left_scan(o, "fuzz.csv", csv);
    left_scan.feed(csv.substr(0, at));
    auto left = left_scan.finish();
    check(left.ok());
    const auto& lf = left.value().state().files;
    const auto& wf = whole.value().state().files;
    check(!lf.empty() && !wf.empty() && lf[0].layout == wf[0].layout);
    // The pieces and their merge read back as they were: the checks on partials from elsewhere
    // accept everything scanning and merging leave.
    auto reads_back = [](const ep::PartialProfile& p) {
        auto back = ep::PartialProfile::deserialize(p.serialize());
        return back.ok() && back.value() == p;
    };
    check(reads_back(left.value()) && reads_back(r.value()));
    left.value().merge(std::move(r).value());
    check(reads_back(left.value()));
    check(without_digest(left.value()) == without_digest(whole.value()));
    auto merged = without_digest(left.value()).finalize(o.declared);
    check(merged.ok() != refusable);
    if (merged.ok()) {
        const auto one_scan = without_digest(whole.value()).finalize(o.declared).value();
        check(merged.value().seal == one_scan.seal);
        check(merged.value().baseline_suggestion == one_scan.baseline_suggestion);
        check(one_scan.baseline_suggestion.has_value() ==
              (o.baseline_search != ep::BaselineSearch::Off));
    }
    return 0;
}
