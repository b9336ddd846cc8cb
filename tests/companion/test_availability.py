"""The availability grid behind the HTML chart, and where time-zone data comes from."""
import zoneinfo

import pytest

import qorv_chemical_engineering_edge as edge
from export_files import write_export


@pytest.mark.parametrize("layout, step_s", [("wide", 600), ("wide", 60), ("long", 600)])
def test_outage_is_a_gap_and_full_data_is_full(tmp_path, layout, step_s):
    path = tmp_path / "export.csv"
    rows, outage = 960, (400, 520)
    write_export(path, 3, layout=layout, rows=rows, tags=4, step_s=step_s, empty=0.0, bad=0.0,
                 duplicates=0, outage=outage)
    profile = edge.profile_export(str(path))
    grid = profile.availability(buckets=48)
    assert grid.tags == tuple(t.name for t in profile.tags)
    assert grid.buckets == 48
    row_us = step_s * 1_000_000
    for shares in grid.shares:
        for b, share in enumerate(shares):
            lo = grid.start_us + b * grid.bucket_us
            hi = lo + grid.bucket_us
            gap_lo, gap_hi = grid.start_us + outage[0] * row_us, grid.start_us + outage[1] * row_us
            if gap_lo + row_us <= lo and hi <= gap_hi - row_us:
                assert share is None, b  # wholly inside the outage: no rows at all
            elif hi <= gap_lo - row_us or lo >= gap_hi + row_us:
                assert share == pytest.approx(1.0, abs=0.06), b  # every sample present


def test_bad_state_burst_lowers_the_share_where_it_is(tmp_path):
    path = tmp_path / "burst.csv"
    lines = ["Timestamp,A,B", "Units,kPa,degC"]
    for minute in range(600):
        a = "I/O Timeout" if 300 <= minute < 360 else "1.0"
        lines.append(f"2026-01-01 {minute // 60:02d}:{minute % 60:02d}:00,{a},2.0")
    path.write_text("\n".join(lines) + "\n")
    grid = edge.profile_export(str(path)).availability(buckets=10)
    a, b = grid.shares
    assert min(a) == pytest.approx(0.0, abs=0.1) and a.index(min(a)) == 5
    assert all(s == pytest.approx(1.0, abs=0.05) for s in b)


def test_arrow_tables_have_no_grid():
    pa = pytest.importorskip("pyarrow")
    table = pa.table({"Timestamp": ["2026-01-01 00:00:00", "2026-01-01 00:01:00"], "A": ["1", "2"]})
    grid = edge.profile_export(table).availability()
    assert grid.tags == () and grid.note


def test_zone_data_falls_back_to_the_tzdata_package(tmp_path):
    pytest.importorskip("tzdata")
    path = tmp_path / "export.csv"
    write_export(path, 1)
    system = edge.profile_export(str(path), tz="America/New_York")
    saved = zoneinfo.TZPATH
    zoneinfo.reset_tzpath(to=[])
    try:
        packaged = edge.profile_export(str(path), tz="America/New_York")
    finally:
        zoneinfo.reset_tzpath(to=saved)
    assert packaged.tags == system.tags
    assert packaged.profile_arguments == system.profile_arguments
