// Differential fuzzing of the long record loop: random long exports (tags in a cycle that skips,
// repeats and renames, time cells repeated or changed, quoted or padded, slash dates, zones with
// clock changes, values, quality and unit cells of every kind, carriage returns, ragged rows,
// stray bytes) are scanned with the lean path and with every record through the exact one; the
// partial profiles must be equal, whole and fed in two pieces.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>

#include "export/state.hpp"
#include "fuzz_check.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

struct Bytes {
    const std::uint8_t* p;
    std::size_t n;
    std::uint8_t next() {
        if (!n) return 0;
        --n;
        return *p++;
    }
};

constexpr std::string_view kNames[] = {"FIC100.PV", "FIC100.SP", "TI7", " TI7",      "TI7 ",
                                       "\"TI7\"",   "",          "A",   "FIC100.PVX"};
constexpr std::string_view kValues[] = {
    "12.5",      "-3",   "",     "1e5", "Bad", "I/O Timeout", " 7",       "8 ",    "\"9.5\"",
    "=\"12.5\"", "<0.1", "-999", "1,5", "abc", "0",           "12345678", "1.2.3", "\"\""};
constexpr std::string_view kQualities[] = {"Good",     "Bad",       "GOOD",  "",
                                           "192",      "Uncertain", "good",  " Good",
                                           "\"Good\"", "1",         "Bad  ", "Questionable"};
constexpr std::string_view kUnits[] = {"degC", "kPa", "", " degC", "degC ", "\"degC\"", "m3/h"};

// A long export: Tag,Timestamp,Value,Quality,Units, with instants that mostly step one minute and
// tags that mostly cycle.
std::string make_export(Bytes& in, char delim) {
    std::string csv = "Tag";
    (((csv += delim) += "Timestamp") += delim) += "Value";
    ((csv += delim) += "Quality") += delim;
    csv += "Units\n";
    const std::uint8_t shape = in.next();
    const std::string_view eol = (shape & 1) ? "\r\n" : "\n";
    const unsigned n_tags = 1 + in.next() % 5;
    unsigned minute = in.next() % 60, hour = 1 + in.next() % 3, tag = 0;
    const bool slash = (shape & 2) != 0;
    while (in.n) {
        const std::uint8_t kind = in.next();
        const std::uint8_t pick = in.next();
        // Mostly the next tag at the same instant; now and then a step, a jump or a skip.
        if (++tag >= n_tags || (kind & 0x0F) == 0) {
            tag = 0;
            ++minute;
        }
        if ((kind & 0x3F) == 1) tag = pick % n_tags;
        if ((kind & 0x7F) == 2) minute += pick;
        if ((kind & 0xFF) == 3 && minute > 0) --minute;
        hour += minute / 60;
        minute %= 60;
        char stamp[40];
        if (slash)
            std::snprintf(stamp, sizeof stamp, "%02u/03/2026 %02u:%02u", 1 + hour % 28, hour % 24,
                          minute);
        else
            std::snprintf(stamp, sizeof stamp, "2026-03-%02u %02u:%02u:00", 1 + hour / 24 % 28,
                          hour % 24, minute);
        std::string time = stamp;
        if ((kind & 0x70) == 0x10) time = "\"" + time + "\"";
        if ((kind & 0x70) == 0x20) time = " " + time;
        if ((kind & 0xF0) == 0x30) time = "Average";
        std::string name = "FIC" + std::to_string(100 + tag) + ".PV";
        if ((pick & 0x1F) == 0) name = std::string(kNames[(pick >> 5) % std::size(kNames)]);
        csv += name;
        (csv += delim) += time;
        (csv += delim) += kValues[in.next() % std::size(kValues)];
        (csv += delim) += kQualities[in.next() % std::size(kQualities)];
        const std::uint8_t unit = in.next();
        if ((unit & 0xC0) != 0xC0) {  // else a short, ragged row
            (csv += delim) += (unit & 0x30) ? kUnits[tag % 2] : kUnits[unit % std::size(kUnits)];
            if ((unit & 0x3F) == 0x3F) csv += delim;  // a cell too many
        }
        csv += eol;
    }
    return csv;
}

ep::Result<ep::PartialProfile> scan(const ep::ProfileOptions& o, std::string_view csv,
                                    std::size_t cut, bool exact) {
    std::optional<ep::ExactCells> guard;
    if (exact) guard.emplace();
    ep::ExportScanner s(o, "long.csv");
    s.feed(csv.substr(0, cut));
    s.feed(csv.substr(cut));
    return s.finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    Bytes in{data + 2, size - 2};
    ep::ProfileOptions o;
    o.layout = ep::Layout::Long;
    constexpr const char* kZones[4] = {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata"};
    o.zone_name = kZones[data[0] & 3];
    if (data[0] & 4) o.good_quality = {"1", "good"};
    if (data[0] & 8) o.missing_sentinels = {-999};
    if (data[0] & 16) o.day_first = true;
    const char delim = (data[0] & 32) ? ';' : ',';
    if (delim == ';' && (data[0] & 64)) o.decimal = ',';
    std::string csv = make_export(in, delim);
    if (data[0] & 128) csv += "\"stray,quote\n";
    const std::size_t cut = csv.empty() ? 0 : (std::size_t{data[1]} * 97) % (csv.size() + 1);

    auto exact = scan(o, csv, csv.size(), true);
    auto lean = scan(o, csv, csv.size(), false);
    auto pieces = scan(o, csv, cut, false);
    check(exact.ok() == lean.ok() && exact.ok() == pieces.ok());
    if (!exact) return 0;
    check(lean.value() == exact.value());
    check(pieces.value() == exact.value());
    return 0;
}
