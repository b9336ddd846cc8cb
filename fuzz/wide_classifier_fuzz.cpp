// Differential fuzzing of the wide cell loop: random wide exports (delimiters, decimal commas,
// quotes, carriage returns, sentinels, quality columns, ragged rows, bad states, footers, stray
// bytes) are scanned with the block classifier and with every cell through the per-cell rules;
// the partial profiles must be equal, whole and fed in two pieces. With the normal-operation
// window looked for, tags are named as loop members and their cells drawn so that PVs lie near
// and far from their SPs, SPs near zero: the rows' verdicts and PV ranges must be equal too.
// With signal health on, every tag's statistics, runs and steps must be equal as well.
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

// Cells most likely to sit on an edge of the plain-decimal rule.
constexpr std::string_view kCells[] = {"12.5",
                                       "-3",
                                       "+7",
                                       "0",
                                       "-999",
                                       ".5",
                                       "5.",
                                       "-.5",
                                       "+.",
                                       "-",
                                       "+",
                                       ".",
                                       "1..2",
                                       "1.2.3",
                                       "--1",
                                       "1-2",
                                       "1e5",
                                       "1E-3",
                                       "e5",
                                       " 12",
                                       "12 ",
                                       "\t4",
                                       "",
                                       "Bad",
                                       "NaN",
                                       "inf",
                                       "#N/A",
                                       "Calc Failed",
                                       "1,234.5",
                                       "1.234,5",
                                       "12,5",
                                       "=\"12.5\"",
                                       "=12.5",
                                       "<0.5",
                                       "> 3",
                                       "ND",
                                       "<LOD",
                                       "\"4.5\"",
                                       "\"a,b\"",
                                       "\"x\ny\"",
                                       "x\"y",
                                       "abc",
                                       "0x1F",
                                       "1\r",
                                       "\r",
                                       "12345678901",
                                       "123456789.123456789",
                                       "-0.000",
                                       "00012",
                                       "192",
                                       "Good",
                                       "uncertain"};
constexpr std::size_t kNumCells = sizeof kCells / sizeof kCells[0];

// Loop values: within 5% of each other or not, SPs near zero, digits past the quick parse.
constexpr std::string_view kLoopValues[] = {"100",
                                            "100.5",
                                            "104.99",
                                            "95",
                                            "94.9",
                                            "-100",
                                            "0",
                                            "-0",
                                            "0.001",
                                            "-0.02",
                                            "3",
                                            "0.1",
                                            "0.10000000000000001",
                                            "9007199254740993",
                                            "12345678901234567890.5",
                                            "1.00000000000000000000000001",
                                            "+100.0"};
constexpr std::size_t kNumLoopValues = sizeof kLoopValues / sizeof kLoopValues[0];
constexpr std::string_view kSuffixes[] = {".PV", ".SP", ".OP", "_PV", "-sp", ".MODE", ".X"};

std::string number(Bytes& in, char decimal) {
    std::string s;
    const std::uint8_t f = in.next();
    if (f & 1) s.push_back(f & 2 ? '-' : '+');
    for (int k = 0, n = (f >> 2) & 7; k <= n; ++k) s.push_back(char('0' + in.next() % 10));
    if (f & 0x20) {
        s.push_back(decimal);
        for (int k = 0, n = (f >> 6); k < n; ++k) s.push_back(char('0' + in.next() % 10));
    }
    return s;
}

std::string make_export(Bytes& in, ep::ProfileOptions& o, std::uint8_t flags) {
    const bool loops = o.baseline_search != ep::BaselineSearch::Off;
    const std::uint8_t shape = in.next();
    constexpr char kDelims[5] = {',', ';', '\t', '|', ' '};
    const char delim = kDelims[shape % 5];
    o.delimiter = delim;
    o.decimal = (shape & 8) ? ',' : '.';
    if (shape & 0x10) o.missing_sentinels = {-999, 0};
    const bool crlf = shape & 0x20;
    // Over 20 tags, so the 5% of missing cells allowed is one or more.
    const std::size_t tags = 1 + in.next() % (loops ? 26 : 9);
    const std::uint8_t header = in.next();
    std::string csv = (header & 1) ? "Time" : "Timestamp";
    for (std::size_t t = 0; t < tags; ++t) {
        csv.push_back(delim);
        // Repeated names, and quality columns beside a value.
        if (loops) {
            const std::uint8_t r = in.next();
            csv += "L" + std::to_string(r % 3);
            csv += kSuffixes[(r >> 2) % (sizeof kSuffixes / sizeof kSuffixes[0])];
        } else {
            csv += (header & 2) && t == 1 ? "T0" : "T" + std::to_string(t);
        }
        if ((header & 4) && t == 0) {
            csv.push_back(delim);
            csv += "T0 Quality";
        }
    }
    const std::string eol = crlf ? "\r\n" : "\n";
    csv += eol;
    const std::size_t rows = in.next() % 40;
    for (std::size_t r = 0; r < rows && in.n; ++r) {
        const std::uint8_t kind = in.next();
        if (kind == 0xFF) {
            csv += eol;  // a blank line
            continue;
        }
        if (kind == 0xFE) {
            csv += "Average" + std::string(1, delim) + "1" + eol;
            continue;
        }
        // In Berlin, an hour repeated and an hour skipped: rows of a clock change.
        csv += (flags & 4) ? "2026-10-25 02:" : (flags & 8) ? "2026-03-29 02:" : "2026-01-05 00:";
        csv += std::to_string(10 + r % 50) + ":" + std::to_string(10 + in.next() % 50);
        std::size_t cells = tags + ((header & 4) ? 1 : 0);
        if (kind == 0xFD) cells = in.next() % (cells + 3);  // ragged
        for (std::size_t c = 0; c < cells; ++c) {
            csv.push_back(delim);
            const std::uint8_t pick = in.next();
            if (loops && pick < 160 && (pick & 1)) {
                std::string v(kLoopValues[in.next() % kNumLoopValues]);
                if (o.decimal == ',')
                    for (char& ch : v)
                        if (ch == '.') ch = ',';
                csv += v;
            } else if (pick < 160) {
                csv += number(in, o.decimal);
            } else if (pick < 250) {
                csv += kCells[pick % kNumCells];
            } else {
                csv.push_back(static_cast<char>(in.next()));  // any byte
            }
        }
        if ((kind & 0xF0) != 0xF0)
            csv += eol;
        else if (kind & 1)
            csv += "\n";
    }
    // The rest of the input, raw: anything the generator does not make.
    if (shape & 0x40) csv.append(reinterpret_cast<const char*>(in.p), in.n);
    return csv;
}

ep::Result<ep::PartialProfile> scan(const ep::ProfileOptions& o, std::string_view csv,
                                    std::size_t cut, bool exact) {
    std::optional<ep::ExactCells> guard;
    if (exact) guard.emplace();
    ep::ExportScanner s(o, "wide.csv");
    s.feed(csv.substr(0, cut));
    s.feed(csv.substr(cut));
    return s.finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    Bytes in{data + 2, size - 2};
    ep::ProfileOptions o;
    o.layout = ep::Layout::Wide;
    o.health = data[0] & 0x10;  // with it, every plain cell's value is read from the row too
    if (data[0] & 1) o.zone_name = "Europe/Berlin";
    if (data[0] & 2) o.baseline_search = ep::BaselineSearch::Suggest;
    const std::string csv = make_export(in, o, data[0]);
    const std::size_t cut = csv.empty() ? 0 : (std::size_t{data[1]} * 97) % (csv.size() + 1);

    auto exact = scan(o, csv, csv.size(), true);
    auto fast = scan(o, csv, csv.size(), false);
    auto pieces = scan(o, csv, cut, false);
    check(exact.ok() == fast.ok() && exact.ok() == pieces.ok());
    if (!exact) return 0;
    check(fast.value() == exact.value());
    check(pieces.value() == exact.value());
    return 0;
}
