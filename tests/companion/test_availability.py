"""The availability grid behind the HTML chart, and where time-zone data comes from.

The grid is checked cell by cell against counts made here from the rows written: present
samples, and the samples a tag should hold in a bucket (its own, or the instants of its
10-minute grid there, so an outage counts as missing); a bucket without rows has no share.
"""
import gzip
import re
import zoneinfo

import pytest

import qorv_chemical_engineering_edge as edge
from dask_exports import companion_dask
from export_files import write_export
from isolated import run_isolated

T0_US = 1_767_571_200_000_000  # 2026-01-05T00:00:00Z
STEP_US = 600_000_000
TAGS = ("FIC1.PV", "TI2", "Note")
OUTAGE = range(100, 161)  # rows never written


def cells(r):
    """Row r's cells: numbers with a few empties, bad states and a stray text; Note is text."""
    a = "" if r % 17 == 0 else ("I/O Timeout" if 40 <= r < 52 else f"{r % 50}.5")
    b = "oops" if r % 29 == 0 else str(r % 7)
    note = "" if r % 5 == 0 else f"n{r % 3}"
    return [a, b, note]


def rows_written(n=300):
    return [(T0_US + r * STEP_US, cells(r)) for r in range(n) if r not in OUTAGE]


def stamp(us):
    import datetime as dt
    return (dt.datetime(1970, 1, 1) + dt.timedelta(microseconds=us)).strftime("%Y-%m-%d %H:%M:%S")


def export_text(layout, rows):
    if layout == "wide":
        lines = ["Timestamp," + ",".join(TAGS)]
        lines += [stamp(t) + "," + ",".join(c) for t, c in rows]
    else:
        lines = ["Tag,Timestamp,Value"]
        lines += [f"{tag},{stamp(t)},{v}" for t, c in rows for tag, v in zip(TAGS, c)]
    return "\n".join(lines) + "\n"


def is_present(tag, value):
    if tag == "Note":  # a text tag: any non-empty text is present
        return value != ""
    try:
        float(value)
        return True
    except ValueError:
        return False


def hand_envelope(rows, start_us, bucket_us, buckets):
    """Per tag and bucket, the least and greatest number there (None: none)."""
    low = [[None] * buckets for _ in TAGS]
    high = [[None] * buckets for _ in TAGS]
    for t, values in rows:
        b = (t - start_us) // bucket_us
        for i, v in enumerate(values):
            try:
                x = float(v)
            except ValueError:
                continue
            low[i][b] = x if low[i][b] is None else min(low[i][b], x)
            high[i][b] = x if high[i][b] is None else max(high[i][b], x)
    return tuple(map(tuple, low)), tuple(map(tuple, high))


def hand_grid(layout, rows, bucket_us):
    """(start_us, present, samples, bad-state, expected, shares) per tag and bucket."""
    first, last = rows[0][0], rows[-1][0]
    b0, b1 = first // bucket_us, last // bucket_us
    n = b1 - b0 + 1
    row_count = [0] * n
    present = [[0] * n for _ in TAGS]
    samples = [[0] * n for _ in TAGS]
    bad = [[0] * n for _ in TAGS]
    for t, values in rows:
        b = t // bucket_us - b0
        row_count[b] += 1
        for i, (tag, v) in enumerate(zip(TAGS, values)):
            samples[i][b] += 1
            present[i][b] += is_present(tag, v)
            bad[i][b] += v == "I/O Timeout"
    expected, shares = [], []
    for i in range(len(TAGS)):
        full_row, share_row = [], []
        for b in range(n):
            lo, hi = (b0 + b) * bucket_us, (b0 + b + 1) * bucket_us
            grid = sum(1 for t in range(first, last + 1, STEP_US) if lo <= t < hi)
            has_rows = row_count[b] if layout == "wide" else samples[i][b]
            full = max(samples[i][b], grid) if has_rows else 0
            full_row.append(full)
            share_row.append(present[i][b] / full if full else None)
        expected.append(tuple(full_row))
        shares.append(tuple(share_row))
    return (b0 * bucket_us, tuple(map(tuple, present)), samples, bad, tuple(expected),
            tuple(shares))


@pytest.mark.parametrize("layout", ["wide", "long"])
@pytest.mark.parametrize("buckets", [96, 20, 7])
def test_shares_are_the_counted_bins(tmp_path, layout, buckets):
    rows = rows_written()
    path = tmp_path / "export.csv"
    path.write_text(export_text(layout, rows))
    grid = edge.profile_export(str(path)).availability(buckets=buckets)
    assert grid.tags == TAGS and not grid.note
    # Buckets: a power-of-two number of milliseconds, the finest that fits in `buckets`.
    ms = grid.bucket_us // 1000
    assert grid.bucket_us % 1000 == 0 and ms & (ms - 1) == 0
    span = rows[-1][0] // grid.bucket_us - rows[0][0] // grid.bucket_us + 1
    finer = rows[-1][0] // (grid.bucket_us // 2) - rows[0][0] // (grid.bucket_us // 2) + 1
    assert grid.buckets == span <= buckets < finer or ms == 1
    start, present, samples, bad, expected, shares = hand_grid(layout, rows, grid.bucket_us)
    assert grid.start_us == start
    assert grid.present == present
    assert grid.expected == expected
    assert grid.shares == shares
    # The min/max envelope of signal health, over the same buckets.
    assert (grid.low, grid.high) == hand_envelope(rows, start, grid.bucket_us, grid.buckets)
    # What the chart means: an outage's inner buckets have no rows; its edges miss samples.
    gap_lo, gap_hi = T0_US + OUTAGE[0] * STEP_US, T0_US + OUTAGE[-1] * STEP_US
    inside = [b for b in range(grid.buckets) if gap_lo <= start + b * grid.bucket_us
              and start + (b + 1) * grid.bucket_us <= gap_hi]
    assert all(grid.shares[i][b] is None for i in range(3) for b in inside)
    assert inside or buckets < 20
    edges = [b for b in range(grid.buckets) if grid.shares[0][b] is not None
             and start + b * grid.bucket_us < gap_hi and gap_lo < start + (b + 1) * grid.bucket_us]
    assert edges and all(expected[i][b] > samples[i][b] for i in range(3) for b in edges)
    if buckets == 96:  # the report's chart says the same, cell by cell
        page = edge.profile_export(str(path)).to_html()
        said = re.findall(r"<title>FIC1\.PV · [-\d]+ [:\d]+: ([^<]*)</title>", page)
        assert said == [
            "no rows" if shares[0][b] is None else
            f"{present[0][b]:,} of {expected[0][b]:,} present"
            + (f", {bad[0][b]:,} bad-state" if bad[0][b] else "")
            for b in range(grid.buckets)]
        assert any("bad-state" in s for s in said)


@pytest.mark.parametrize("source", ["csv", "gz", "two_files", "dask_files"])
def test_every_source_gives_the_same_grid(tmp_path, source):
    rows = rows_written()
    text = export_text("wide", rows)
    path = tmp_path / "export.csv"
    path.write_text(text)
    want = edge.profile_export(str(path)).availability(buckets=40)
    if source == "csv":
        profile = edge.profile_export(str(path), threads=2)
    elif source == "gz":
        gz = tmp_path / "export.csv.gz"
        gz.write_bytes(gzip.compress(text.encode()))
        profile = edge.profile_export(str(gz))
    else:
        cut = len(rows) // 3  # day files: the second begins before the outage
        header = text.split("\n", 1)[0]
        files = []
        for k, part in enumerate((rows[:cut], rows[cut:])):
            f = tmp_path / f"day{k}.csv"
            f.write_text(header + "\n" + export_text("wide", part).split("\n", 1)[1])
            files.append(str(f))
        if source == "two_files":
            profile = edge.profile_export(files)
        else:
            qd = companion_dask()
            profile = qd.profile_files(files, split_every=2)
    got = profile.availability(buckets=40)
    assert (got.start_us, got.bucket_us) == (want.start_us, want.bucket_us)
    assert (got.present, got.expected, got.shares) == (want.present, want.expected, want.shares)
    assert (got.low, got.high) == (want.low, want.high) and want.low
    assert got.tags == TAGS


def test_max_tags_keeps_those_with_the_least_data(tmp_path):
    path = tmp_path / "export.csv"
    write_export(path, 4, rows=200, tags=6, empty=0.0, bad=0.0, outage=(0, 0))
    lines = path.read_text().splitlines()
    # Empty the third tag's cells in most rows, and the fifth's in a few.
    for r in range(2, len(lines)):
        c = lines[r].split(",")
        if r % 4:
            c[3] = ""
        if r % 9 == 0:
            c[5] = ""
        lines[r] = ",".join(c)
    path.write_text("\n".join(lines) + "\n")
    profile = edge.profile_export(str(path))
    grid = profile.availability(max_tags=2)
    names = [t.name for t in profile.tags]
    assert grid.tags == (names[2], names[4])
    assert len(grid.shares) == 2
    # Tags named by index, in the order given: each row is that tag's row of the whole grid.
    from qorv_chemical_engineering_edge._availability import compute
    whole = profile.availability()
    named = compute(profile, tags=[5, 0, 2])
    assert named.tags == (names[5], names[0], names[2])
    for row, i in enumerate((5, 0, 2)):
        assert (named.shares[row], named.low[row], named.high[row]) == (
            whole.shares[i], whole.low[i], whole.high[i])
    with pytest.raises(ValueError, match="^availability: no tag 6 of 6$"):
        compute(profile, tags=[1, 6])


def test_to_html_reads_nothing_and_holds_no_more_for_a_bigger_export(tmp_path):
    """A .gz export four times larger: to_html's peak stays the same, and the file is gone."""
    done = run_isolated(f"""
        import gzip, os, random, sys, tracemalloc
        sys.path.insert(0, {str(__import__('pathlib').Path(__file__).parent)!r})
        import qorv_chemical_engineering_edge as edge

        def export(path, rows):
            rng = random.Random(rows)
            lines = ["Timestamp," + ",".join(f"T{{i}}.PV" for i in range(20))]
            for r in range(rows):
                if 3000 <= r < 3500:
                    continue
                t = f"2026-01-{{1 + r // 86400:02d}} {{r // 3600 % 24:02d}}:{{r // 60 % 60:02d}}:{{r % 60:02d}}"
                lines.append(t + "," + ",".join(f"{{rng.random():.2f}}" for _ in range(20)))
            data = ("\\n".join(lines) + "\\n").encode()
            with open(path, "wb") as f:
                f.write(gzip.compress(data, 1))
            return len(data)

        peaks, profiles = [], []
        for rows in (20_000, 80_000):
            path = os.path.join({str(tmp_path)!r}, f"export{{rows}}.csv.gz")
            size = export(path, rows)
            profile = edge.profile_export(path)
            tracemalloc.start()
            page = profile.to_html()
            peaks.append(tracemalloc.get_traced_memory()[1])
            tracemalloc.stop()
            profiles.append((path, profile, page))
            print(size, peaks[-1])
        assert peaks[1] < 1.25 * peaks[0] + 200_000, peaks
        for path, profile, page in profiles:
            os.remove(path)  # the report must not need the export
            assert profile.to_html() == page
            assert 'id="availability"' in page and page.count("<rect") >= 20 * 32, path
            assert "no rows" in page  # the outage
    """, timeout=120)
    assert done.returncode == 0, done.stderr[-3000:]


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
