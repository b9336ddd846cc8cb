"""The report's chart as a person reads it: each cell's words and colour against what the
export holds there, for the cases a chart gets wrong (a cell called "no rows" that holds rows,
a cell inside an outage with a share, a full share where samples are missing)."""
import datetime as dt
import re

import pytest

import qorv_chemical_engineering_edge as edge

T0 = dt.datetime(2026, 1, 5)
STEP = dt.timedelta(minutes=1)


def stamp(i):
    return (T0 + i * STEP).strftime("%Y-%m-%d %H:%M:%S")


def write(path, header, rows):
    path.write_text("\n".join([",".join(header)] + [",".join(r) for r in rows]) + "\n")
    return str(path)


def two_files_second_without_b(tmp_path):
    one = write(tmp_path / "a.csv", ["Timestamp", "A", "B"],
                [[stamp(i), "1", "2"] for i in range(0, 600)])
    two = write(tmp_path / "b.csv", ["Timestamp", "A"],
                [[stamp(i), "1"] for i in range(600, 1200)])
    return [one, two]


def outage(tmp_path):
    return [write(tmp_path / "a.csv", ["Timestamp", "A"],
                  [[stamp(i), "1"] for i in range(1200) if not 300 <= i < 900])]


def empties(tmp_path):
    return [write(tmp_path / "a.csv", ["Timestamp", "A"],
                  [[stamp(i), "" if i % 7 == 3 else "1"] for i in range(1200)])]


CASES = {  # name: (export, tag looked at)
    "a tag missing from the second file": (two_files_second_without_b, "B"),
    "an outage of ten hours": (outage, "A"),
    "every seventh cell empty": (empties, "A"),
}


def minutes_in(lo_us, hi_us):
    """The row indices (one a minute from T0) whose instant falls in [lo_us, hi_us)."""
    t0 = int((T0 - dt.datetime(1970, 1, 1)).total_seconds()) * 1_000_000
    return [i for i in range(1200) if lo_us <= t0 + i * 60_000_000 < hi_us]


@pytest.mark.parametrize("case", CASES)
def test_each_cell_says_what_the_export_holds_there(tmp_path, case):
    make, tag = CASES[case]
    paths = make(tmp_path)
    profile = edge.profile_export(paths)
    grid = profile.availability()
    page = profile.to_html()
    said = re.findall(rf"<title>{tag} · [-\d]+ [:\d]+: ([^<]*)</title>", page)
    row = grid.tags.index(tag)
    assert len(said) == grid.buckets
    lines = {i: line for p in paths for line in open(p).read().splitlines()[1:]
             for i in [int((dt.datetime.fromisoformat(line.split(",")[0]) - T0) / STEP)]}
    for b, text in enumerate(said):
        lo = grid.start_us + b * grid.bucket_us
        rows = [lines[i] for i in minutes_in(lo, lo + grid.bucket_us) if i in lines]
        cells = [r.split(",")[1 + ("B" == tag)] if r.count(",") > ("B" == tag) else None
                 for r in rows]
        held = [c for c in cells if c is not None]
        present = sum(1 for c in held if c)
        if not rows:
            assert text == "no rows" and grid.shares[row][b] is None
        elif not held:
            assert text == f"no samples of {tag} ({len(rows):,} rows)"
            assert grid.shares[row][b] is None
        else:
            # Minutes of the tag's span with no row count as missing, as empty cells do.
            expected = grid.expected[row][b]
            assert expected >= len(held)
            assert text == f"{present:,} of {expected:,} present"
            assert grid.shares[row][b] == present / expected


def test_the_legend_names_both_kinds_of_empty_cell(tmp_path):
    page = edge.profile_export(two_files_second_without_b(tmp_path)).to_html()
    assert "no rows at all (outage)" in page
    assert "no samples of the tag" in page


SEALED_WINDOWS = [  # (baseline window as given, the texts the options row shows)
    (("2026-01-05T02:00:00", "2026-01-05T12:00:00"),
     ("baseline_start='2026-01-05T02:00:00Z'", "baseline_end='2026-01-05T12:00:00Z'")),
    (("2026-01-05T02:00:00.250+01:00", "2026-01-05 12:00"),
     ("baseline_start='2026-01-05T01:00:00.250000Z'", "baseline_end='2026-01-05T12:00:00Z'")),
    (None, ("baseline_start=None", "baseline_end=None")),
]


@pytest.mark.parametrize("window, shown", SEALED_WINDOWS)
def test_the_seals_section_shows_instants_and_puts_the_data_first(tmp_path, window, shown):
    paths = empties(tmp_path)
    report = edge.grade_export(paths, baseline=window, license_cleared=True)
    page = report.to_html()
    seals = page[page.index("<h2>Seals</h2>"):]
    options = re.search(r"<th[^>]*>options</th><td><code>([^<]*)</code>", seals).group(1)
    assert all(s in options.replace("&#x27;", "'") for s in shown)
    assert not re.search(r"\d{13}", options), options  # no epoch microseconds
    # The data's identity (profile seal, input digest) before the verdict's seal, each said.
    at = [seals.index(x) for x in (report.profile.seal, report.profile.input_digest,
                                   report.court_hash)]
    assert at == sorted(at)
    said = re.search(r'<p class="muted" id="seals-said">([^<]*)</p>', seals).group(1)
    assert "identify the data" in said and "court_hash seals the verdict" in said
    # The JSON keeps the instants as numbers.
    assert report.to_dict()["profile"]["options"]["baseline_start_us"] == (
        None if window is None else report.profile.options["baseline_start_us"])
