"""The profile seal holds a time zone by its name and the offsets near the data, never by the
bytes of the zone file: the same export gives one seal whichever copy or release of the zone
data resolved it, and a change of an offset the data could have met changes the seal.

Zone files that differ where it matters or does not are written here (TZif version 2), so the
rows do not depend on the machine's zone data.
"""
import datetime as dt
import struct
import zoneinfo

import pytest

import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge import _native, _options, profile

SPRING_2024 = 1711846800  # 2024-03-31T01:00:00Z: Central Europe to summer time
AUTUMN_2024 = 1729990800  # 2024-10-27T01:00:00Z: and back
HOUR = 3600


def tzif(changes, footer=b""):
    """TZif version 2 bytes: +01:00 before the first change; `changes` as (UTC second, offset)."""
    offsets = [HOUR] + sorted({o for _, o in changes} - {HOUR})
    types = b"".join(struct.pack(">lBB", o, o != HOUR, 0) for o in offsets)

    def header(times, n_types):
        return b"TZif2" + bytes(15) + struct.pack(">6l", 0, 0, 0, times, n_types, 4)

    first = header(0, 1) + struct.pack(">lBB", HOUR, 0, 0) + b"ZZZ\0"
    body = (b"".join(struct.pack(">q", t) for t, _ in changes)
            + bytes(offsets.index(o) for _, o in changes) + types + b"ZZZ\0")
    return first + header(len(changes), len(offsets)) + body + b"\n" + footer + b"\n"


# Central European time in 2024 only (no rule after it, nothing before it).
CET_2024 = tzif([(SPRING_2024, 2 * HOUR), (AUTUMN_2024, HOUR)])
# The same with the spring change an hour later.
CET_2024_LATE_SPRING = tzif([(SPRING_2024 + HOUR, 2 * HOUR), (AUTUMN_2024, HOUR)])
# Some offsets of the 1970s and a rule from 2025 on, besides 2024's changes.
CET_ELSEWHERE_TOO = tzif([(100_000_000, 2 * HOUR), (110_000_000, HOUR),
                          (SPRING_2024, 2 * HOUR), (AUTUMN_2024, HOUR)],
                         b"CET-1CEST,M3.5.0,M10.5.0/3")


def system(zone):
    with open(f"/usr/share/zoneinfo/{zone}", "rb") as file:
        return file.read()


def rows(start, hours, count):
    t = dt.datetime.fromisoformat(start)
    return [(t + dt.timedelta(hours=hours * i)).isoformat(" ") for i in range(count)]


def write(tmp_path, times):
    path = tmp_path / "plant.csv"
    path.write_text("Time,FIC1.PV\n" + "".join(f"{t},{i}\n" for i, t in enumerate(times)))
    return str(path)


SETTINGS = {k: v for k, v in profile._PROFILE_OPTIONS.items() if k != "progress"}


def native_profile(path, zone, tzif_bytes):
    options = _options.build(**{**SETTINGS, "tz": zone})
    options["zone_tzif"] = tzif_bytes  # b"": the core looks the name up itself
    return _native.profile_files([path], options, None)


def without_seal(raw):
    return {k: v for k, v in raw.items() if k != "seal"}


# Each row: the export's timestamps, the zone name, two zone files, and whether the seals agree.
# The profiles themselves agree in every row: only what the seal holds of the zone is at stake.
ZONE_DATA = [
    ("agree_near_the_data_differ_elsewhere",
     rows("2024-03-30 12:00", 1, 36), "Europe/Berlin", CET_2024, CET_ELSEWHERE_TOO, True),
    ("system_file_and_one_year_of_it",
     rows("2024-03-30 12:00", 1, 36), "Europe/Berlin", system("Europe/Berlin"), CET_2024, True),
    # 2024-03-31 00:00 and 06:00 resolve alike with either change, 01:00Z or 02:00Z.
    ("change_moved_between_two_samples",
     rows("2024-03-30 18:00", 6, 6), "Europe/Berlin", CET_2024, CET_2024_LATE_SPRING, False),
    # Six hours after the last row: a wall time there could have met it.
    ("change_moved_just_after_the_last_row",
     rows("2024-03-30 10:00", 1, 10), "Europe/Berlin", CET_2024, CET_2024_LATE_SPRING, False),
    # Six days after the last row: beyond any offset's reach.
    ("change_moved_far_after_the_last_row",
     rows("2024-03-25 10:00", 1, 10), "Europe/Berlin", CET_2024, CET_2024_LATE_SPRING, True),
    ("utc_export_with_and_without_zone_data",
     rows("2024-03-30 12:00", 1, 36), "UTC", system("UTC"), b"", True),
    ("offset_timestamps_need_no_zone_data",
     [t + "+01:00" for t in rows("2024-03-30 12:00", 1, 36)], "Europe/Berlin",
     system("Europe/Berlin"), CET_2024_LATE_SPRING, True),
]


@pytest.mark.parametrize("times, zone, a, b, same", [r[1:] for r in ZONE_DATA],
                         ids=[r[0] for r in ZONE_DATA])
def test_seal_holds_what_the_data_used_of_the_zone(tmp_path, times, zone, a, b, same):
    path = write(tmp_path, times)
    first, second = native_profile(path, zone, a), native_profile(path, zone, b)
    assert without_seal(first) == without_seal(second)
    assert (first["seal"] == second["seal"]) == same


def _public(path, tzpath):
    saved = zoneinfo.TZPATH
    zoneinfo.reset_tzpath(to=tzpath)
    try:
        return edge.profile_export(path, tz="Europe/Berlin")
    finally:
        zoneinfo.reset_tzpath(to=saved)


# One export across the autumn change (its repeated hour) and the zone's data from each source
# a caller can have it from; the core's own lookup by name is the reference.
SOURCES = [
    ("system_database", lambda path: _public(path, ["/usr/share/zoneinfo"])),
    ("tzdata_package",
     lambda path: pytest.importorskip("tzdata") and _public(path, [])),
    ("caller_bytes", lambda path: native_profile(path, "Europe/Berlin", CET_2024)),
]


@pytest.mark.parametrize("make", [s[1] for s in SOURCES], ids=[s[0] for s in SOURCES])
def test_one_seal_from_every_source_of_the_zone(tmp_path, make):
    repeated = ["2024-10-27 02:00", "2024-10-27 02:30"] * 2
    path = write(tmp_path, rows("2024-10-26 20:00", 0.5, 12) + repeated
                 + rows("2024-10-27 03:00", 0.5, 8))
    core = native_profile(path, "Europe/Berlin", b"")
    made = make(path)
    seal = made["seal"] if isinstance(made, dict) else made.seal
    assert core["notes"]["repeated_hour_second"] > 0  # the repeated hour is in the data
    assert seal == core["seal"]


# A naive baseline bound resolves through the core as the scan resolves a wall time; zoneinfo
# (fold 0: the earlier of a repeated hour, a gap read with the offset before it) is the oracle.
BOUNDS = [
    ("Europe/Berlin", "2024-01-15 12:00:00"),
    ("Europe/Berlin", "2024-07-01 12:00:00.250000"),
    ("Europe/Berlin", "2024-10-27 02:30:00"),
    ("Europe/Berlin", "2024-03-31 02:30:00"),
    ("America/New_York", "2024-11-03 01:30:00"),
    ("America/New_York", "2024-03-10 02:30:00"),
    ("Asia/Kolkata", "1941-10-01 00:00:00"),
    ("Australia/Lord_Howe", "2024-04-07 01:45:00"),
]


@pytest.mark.parametrize("zone, wall", BOUNDS)
def test_baseline_bound_resolves_as_zoneinfo_does(zone, wall):
    options = _options.build(**{**SETTINGS, "tz": zone}, baseline=(wall, "2099-01-01 00:00"))
    at = dt.datetime.fromisoformat(wall).replace(tzinfo=zoneinfo.ZoneInfo(zone))
    epoch = dt.datetime(1970, 1, 1, tzinfo=dt.timezone.utc)
    assert options["baseline_start_us"] == (at - epoch) // dt.timedelta(microseconds=1)
