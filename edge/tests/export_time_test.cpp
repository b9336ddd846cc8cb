// Timestamp syntax and time-zone resolution for the export profiler.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "export/timestamps.hpp"
#include "export/tzif.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;
namespace tz = qorv_chemical_engineering_edge::export_profile::tz;

namespace {

struct TimeCase {
    const char* cell;
    ep::TimestampFormat format;
    bool day_first;
    const char* expected;  // format_instant of the parsed value; nullptr: no timestamp
    bool naive;
};

class TimestampSyntax : public ::testing::TestWithParam<TimeCase> {};

TEST_P(TimestampSyntax, ParsesOrRefuses) {
    const TimeCase& c = GetParam();
    ep::ParsedTime pt;
    const bool ok = ep::parse_timestamp(c.cell, {c.format, c.day_first, '.'}, pt);
    if (!c.expected) {
        EXPECT_FALSE(ok) << c.cell;
        return;
    }
    ASSERT_TRUE(ok) << c.cell;
    EXPECT_EQ(ep::format_instant(pt.us), c.expected) << c.cell;
    EXPECT_EQ(pt.naive, c.naive) << c.cell;
    // The fast path agrees wherever it answers.
    ep::IsoFastPath fast;
    ep::ParsedTime ft;
    if (fast.parse(c.cell, ft)) {
        EXPECT_EQ(ft.us, pt.us);
        EXPECT_EQ(ft.naive, pt.naive);
    }
}

using F = ep::TimestampFormat;
INSTANTIATE_TEST_SUITE_P(
    EveryFormat, TimestampSyntax,
    ::testing::Values(
        TimeCase{"2024-03-05T10:20:30Z", F::Auto, false, "2024-03-05T10:20:30Z", false},
        TimeCase{"2024-03-05 10:20:30", F::Auto, false, "2024-03-05T10:20:30Z", true},
        TimeCase{"2024-03-05 10:20:30.25+01:00", F::Auto, false, "2024-03-05T09:20:30.250000Z",
                 false},
        TimeCase{"2024-03-05T10:20:30-0530", F::Auto, false, "2024-03-05T15:50:30Z", false},
        TimeCase{"2024-03-05 10:20:30 +02", F::Auto, false, "2024-03-05T08:20:30Z", false},
        TimeCase{"2024-03-05T10:20", F::Auto, false, "2024-03-05T10:20:00Z", true},
        TimeCase{"2024-03-05", F::Auto, false, "2024-03-05T00:00:00Z", true},
        TimeCase{"2024/03/05 10:20:30", F::Auto, false, "2024-03-05T10:20:30Z", true},
        TimeCase{"2024/03/05 10:20", F::Auto, false, "2024-03-05T10:20:00Z", true},
        TimeCase{"03/05/2024 10:20:30 PM", F::Auto, false, "2024-03-05T22:20:30Z", true},
        TimeCase{"3/5/2024 12:00 AM", F::Auto, false, "2024-03-05T00:00:00Z", true},
        TimeCase{"03/05/2024 12:10 pm", F::Auto, false, "2024-03-05T12:10:00Z", true},
        TimeCase{"05/03/2024 10:20", F::Auto, true, "2024-03-05T10:20:00Z", true},
        TimeCase{"05.03.2024 10:20:30", F::Auto, false, "2024-03-05T10:20:30Z", true},
        // Two-digit years: 00-68 are 20xx, 69-99 19xx; three digits are no year.
        TimeCase{"3/5/24 10:20", F::Auto, false, "2024-03-05T10:20:00Z", true},
        TimeCase{"5/3/24 10:20 PM", F::Auto, true, "2024-03-05T22:20:00Z", true},
        TimeCase{"12/31/68", F::Auto, false, "2068-12-31T00:00:00Z", true},
        TimeCase{"01/01/69", F::Auto, false, "1969-01-01T00:00:00Z", true},
        TimeCase{"05.03.99 10:20:30", F::Auto, false, "1999-03-05T10:20:30Z", true},
        TimeCase{"05-Mar-00 10:20:30", F::Auto, false, "2000-03-05T10:20:30Z", true},
        TimeCase{"3/5/024 10:20", F::Auto, false, nullptr, false},
        TimeCase{"3/5/2 10:20", F::Auto, false, nullptr, false},
        TimeCase{"05-Mar-2024 10:20:30", F::Auto, false, "2024-03-05T10:20:30Z", true},
        TimeCase{"5-mar-2024 10:20:30", F::Auto, false, "2024-03-05T10:20:30Z", true},
        TimeCase{"45356.5", F::ExcelSerial, false, "2024-03-05T12:00:00Z", true},
        TimeCase{"1709634030", F::UnixSeconds, false, "2024-03-05T10:20:30Z", false},
        TimeCase{"1709634030250", F::UnixMilliseconds, false, "2024-03-05T10:20:30.250000Z", false},
        TimeCase{"2024-02-29 00:00:00", F::Auto, false, "2024-02-29T00:00:00Z", true},
        TimeCase{"2023-02-29 00:00:00", F::Auto, false, nullptr, false},
        TimeCase{"2024-13-01 00:00:00", F::Auto, false, nullptr, false},
        TimeCase{"2024-03-05 24:00:00", F::Auto, false, nullptr, false},
        TimeCase{"2024-03-05 10:20:30 XM", F::Auto, false, nullptr, false},
        TimeCase{"13/05/2024 10:20", F::Auto, false, nullptr, false},
        TimeCase{"03/05/2024 13:20 PM", F::Auto, false, nullptr, false},
        TimeCase{"1709634030", F::Auto, false, nullptr, false},
        TimeCase{"2024-03-05", F::UnixSeconds, false, nullptr, false},
        TimeCase{"Units", F::Auto, false, nullptr, false},
        TimeCase{"", F::Auto, false, nullptr, false}));

std::string zone_file(const std::string& name) {
    std::ifstream in("/usr/share/zoneinfo/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct WallCase {
    const char* zone;
    const char* wall;  // naive ISO
    tz::WallKind kind;
    const char* first;
    const char* second = nullptr;  // Repeated only
};

class ZoneResolution : public ::testing::TestWithParam<WallCase> {};

TEST_P(ZoneResolution, ResolvesWallTimes) {
    const WallCase& c = GetParam();
    std::string why;
    const auto zone = tz::load_zone(c.zone, &why);
    ASSERT_TRUE(zone) << why;
    ep::ParsedTime pt;
    ASSERT_TRUE(ep::parse_timestamp(c.wall, {}, pt));
    const tz::WallResolution r = zone->resolve(pt.us / 1000000);
    EXPECT_EQ(r.kind, c.kind) << c.zone << " " << c.wall;
    EXPECT_EQ(ep::format_instant(r.first_s * 1000000), c.first);
    if (c.second) {
        EXPECT_EQ(ep::format_instant(r.second_s * 1000000), c.second);
    }
    // Bytes handed over by a caller read the same as the system file.
    const auto from_bytes = tz::Zone::from_tzif(zone_file(c.zone));
    ASSERT_TRUE(from_bytes);
    EXPECT_EQ(from_bytes->resolve(pt.us / 1000000).first_s, r.first_s);
    // A baseline bound given as a wall time: the first instant, by name or by bytes.
    for (const std::string& bytes : {std::string(), zone_file(c.zone)}) {
        const auto at = ep::zone_instant(pt.us + 250'000, c.zone, bytes);
        ASSERT_TRUE(at) << at.error().reason;
        EXPECT_EQ(ep::format_instant(at.value() - 250'000), c.first) << c.zone << " " << c.wall;
    }
}

using K = tz::WallKind;
INSTANTIATE_TEST_SUITE_P(
    RealZones, ZoneResolution,
    ::testing::Values(
        WallCase{"Europe/Berlin", "2024-07-01 12:00:00", K::Unique, "2024-07-01T10:00:00Z"},
        WallCase{"Europe/Berlin", "2024-01-15 12:00:00", K::Unique, "2024-01-15T11:00:00Z"},
        WallCase{"Europe/Berlin", "2024-10-27 02:30:00", K::Repeated, "2024-10-27T00:30:00Z",
                 "2024-10-27T01:30:00Z"},
        WallCase{"Europe/Berlin", "2024-03-31 02:30:00", K::Gap, "2024-03-31T01:30:00Z"},
        WallCase{"America/New_York", "2024-11-03 01:30:00", K::Repeated, "2024-11-03T05:30:00Z",
                 "2024-11-03T06:30:00Z"},
        WallCase{"America/New_York", "2024-03-10 02:30:00", K::Gap, "2024-03-10T07:30:00Z"},
        WallCase{"America/New_York", "2024-03-10 03:00:00", K::Unique, "2024-03-10T07:00:00Z"},
        // Past the file's transitions, from the footer rule.
        WallCase{"Europe/Berlin", "2150-07-01 12:00:00", K::Unique, "2150-07-01T10:00:00Z"},
        WallCase{"America/New_York", "2150-12-01 12:00:00", K::Unique, "2150-12-01T17:00:00Z"},
        WallCase{"Asia/Kolkata", "2024-10-27 02:30:00", K::Unique, "2024-10-26T21:00:00Z"},
        WallCase{"UTC", "2024-10-27 02:30:00", K::Unique, "2024-10-27T02:30:00Z"}));

TEST(ZoneData, RefusesWhatIsNotAZone) {
    std::string why;
    EXPECT_FALSE(tz::load_zone("../etc/passwd", &why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(tz::load_zone("Mars/Olympus_Mons", &why));
    std::string bytes = zone_file("Europe/Berlin");
    ASSERT_GT(bytes.size(), 100u);
    EXPECT_FALSE(tz::Zone::from_tzif(bytes.substr(0, 60)));
    EXPECT_FALSE(tz::Zone::from_tzif("TZif2 not really"));
    // Every truncation fails cleanly or yields a zone; none crashes.
    for (std::size_t n = 0; n < bytes.size(); n += 7) (void)tz::Zone::from_tzif(bytes.substr(0, n));
    EXPECT_TRUE(tz::load_zone("Europe/Berlin", &why)->has_dst());
    EXPECT_FALSE(tz::load_zone("Asia/Kolkata", &why)->has_dst());
}

// A name is judged before any file is opened, also when the caller gives the zone's bytes (the
// name is sealed with the profile either way).
TEST(ZoneData, NamesAreCheckedBeforeAnyLookup) {
    const std::string many_parts = [] {
        std::string s = "Europe";
        for (int i = 1; i < 1000; ++i) s += "/a";
        return s;
    }();
    const std::pair<std::string, const char*> names[] = {
        {"America/Argentina/ComodRivadavia", nullptr},
        {"Etc/GMT+5", nullptr},
        {many_parts.substr(0, 253) + "bc", nullptr},
        {many_parts, "longer than 255"},
        {"Europe//Berlin", "empty part"},
        {"/usr/share/zoneinfo/UTC", "empty part"},
        {"Europe/./Berlin", "'.' or '..'"},
        {"Europe/-Berlin", "starts with '-'"},
        {std::string("UTC\0x", 5), "other than"},
        {"Europe\\Berlin", "other than"}};
    for (const auto& [name, fault] : names) {
        std::string why;
        EXPECT_EQ(tz::valid_zone_name(name, &why), fault == nullptr) << why;
        ep::ProfileOptions o;
        o.zone_name = name;
        o.zone_tzif = zone_file("Europe/Berlin");
        ep::ExportScanner scanner(o, "plant.csv");
        scanner.feed(std::string_view("Time,A\n2024-01-01 00:00,1\n"));
        const auto partial = scanner.finish();
        ASSERT_EQ(static_cast<bool>(partial), fault == nullptr) << name.substr(0, 40);
        if (!fault) continue;
        EXPECT_NE(why.find(fault), std::string::npos) << why;
        EXPECT_EQ(partial.error().reason, why);
        EXPECT_EQ(why.find("the zone name '" + name.substr(0, 20)), 0u) << why;
        EXPECT_FALSE(tz::load_zone(name, nullptr));
        EXPECT_NE(ep::zone_name_fault(name).find(fault), std::string::npos);
        const auto at = ep::zone_instant(0, name, o.zone_tzif);
        ASSERT_FALSE(at);
        EXPECT_EQ(at.error().reason, why);
    }
    EXPECT_NE(ep::zone_instant(0, "Mars/Olympus", "").error().reason.find("Mars/Olympus"),
              std::string::npos);
    EXPECT_FALSE(ep::zone_instant(0, "UTC", "TZif2 not really"));
    EXPECT_EQ(ep::zone_instant(-1, "UTC", "").value(), -1);  // no file needed
}

// Seals are stored and recomputed years later: these must not move, whatever release of the zone
// data the machine has (only the offsets of October 2024 in Berlin enter the first; the tzdata
// package's 2026f gives it as the system's 2025b does).
TEST(ZoneSeal, ReferenceSealsStay) {
    constexpr std::string_view kBerlinAutumn =
        "Time,A\n2024-10-27 01:30,1\n2024-10-27 02:00,1\n2024-10-27 02:30,1\n"
        "2024-10-27 02:00,1\n2024-10-27 02:30,1\n2024-10-27 03:00,1\n";
    const std::pair<const char*, const char*> cases[] = {
        {"Europe/Berlin", "c162a6e34c4410d844e9637fd10b511e4176041ce11c98d357c660f6da8a5179"},
        {"UTC", "64c5013005a78c7b22f2214b3534d8d8452822a698d6fa3aa58a7eb60555c2fd"},
    };
    for (const auto& [zone, seal] : cases) {
        ep::ProfileOptions o;
        o.zone_name = zone;
        o.health = false;  // the seals of a profile without signal health
        ep::ExportScanner scanner(o, "plant.csv");
        scanner.feed(kBerlinAutumn);
        EXPECT_EQ(scanner.finish().value().finalize(o.declared).value().seal, seal) << zone;
    }
}

}  // namespace
