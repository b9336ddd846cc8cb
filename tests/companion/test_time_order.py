"""Time order and dates: the day/month order of slash dates decided from the data, newest-first
files read in time order, the limit on rows without a timestamp, two-digit years. Each row is a
small export in the shape a tool saves it, with its values worked out by hand."""
import pytest

import qorv_chemical_engineering_edge as edge


def write(tmp_path, name, text):
    path = tmp_path / name
    path.write_bytes(text.encode())
    return str(path)


def sheet(stamps):
    """A spreadsheet save: a date column and one value column, CRLF line ends."""
    return "Date,FIC101.PV\r\n" + "".join(f"{s},{10 + k}\r\n" for k, s in enumerate(stamps))


def hourly(days, first_day=1, month=3, day_first=True):
    """Twice a day (00:00 and 12:00) on `days` consecutive days, all fields at most 12."""
    cells = []
    for d in range(first_day, first_day + days):
        date = f"{d:02d}/{month:02d}/2026" if day_first else f"{month:02d}/{d:02d}/2026"
        cells += [f"{date} 00:00", f"{date} 12:00"]
    return cells


SETTLES_DAY_FIRST = ["12/03/2026 22:00", "12/03/2026 23:00", "13/03/2026 00:00",
                     "13/03/2026 01:00", "13/03/2026 02:00", "13/03/2026 03:00"]
SETTLES_MONTH_FIRST = ["03/12/2026 22:00", "03/12/2026 23:00", "03/13/2026 00:00",
                       "03/13/2026 01:00", "03/13/2026 02:00", "03/13/2026 03:00"]
ONCE_A_DAY = ["01/03/2026", "02/03/2026", "03/03/2026", "04/03/2026"]
SETTLE = r"pass day_first=True or day_first=False"

# (stamps, options, expected): n_rows, time span (h), the first instant, the order read; or the
# error's text.
DATE_ORDER = {
    # 12 March 22:00 to 13 March 03:00: the rows of the 13th read only day first.
    "one_row_settles_day_first":
        (SETTLES_DAY_FIRST, {}, (6, 5.0, "2026-03-12T22:00:00Z", "day_first")),
    "one_row_settles_month_first":
        (SETTLES_MONTH_FIRST, {}, (6, 5.0, "2026-03-12T22:00:00Z", "month_first")),
    # Hourly, 1 March 00:00 to 15 March 00:00: 337 rows over 336 h, the first 288 ambiguous.
    "fortnight_hourly_day_first":
        ([f"{1 + h // 24:02d}/03/2026 {h % 24:02d}:00" for h in range(337)], {},
         (337, 336.0, "2026-03-01T00:00:00Z", "day_first")),
    # 1-3 March twice a day: day first steps a day between dates, month first 31 then 28 days;
    # rows within a date make it a sub-daily export, not one row on the 3rd of each month.
    "ambiguous_twice_a_day_reads_day_first":
        (hourly(3), {}, (6, 60.0, "2026-03-01T00:00:00Z", "day_first")),
    "ambiguous_twice_a_day_reads_month_first":
        (hourly(3, day_first=False), {}, (6, 60.0, "2026-03-01T00:00:00Z", "month_first")),
    # 1-4 March once a day, or the 3rd of January to April: no row tells them apart.
    "once_a_day_is_daily_or_monthly":
        (ONCE_A_DAY, {}, r"line 2 of .*daily one way, monthly the other; " + SETTLE),
    # 1 Feb, 2 May, 7 Mar (or 2 Jan, 5 Feb, 3 Jul): no steady step either way.
    "no_steady_step_either_way": (["01/02/2026 00:00", "02/05/2026 00:00", "07/03/2026 00:00"],
                                  {}, r"neither order gives a steady step in days.*" + SETTLE),
    "dates_read_both_ways": (["13/03/2026 00:00", "03/14/2026 00:00", "03/15/2026 00:00"], {},
                             r"read both ways: line 2 of .* first field above 12 \(day first\) "
                             r"and line 3 of .* second field above 12 \(month first\); " + SETTLE),
    "given_order_is_read_as_told":
        (ONCE_A_DAY, {"day_first": True}, (4, 72.0, "2026-03-01T00:00:00Z", "day_first")),
    # Told month first, the four rows of the 13th (lines 4-7) have no date: 4 of 6 rows.
    "told_month_first_day_first_rows_refused":
        (SETTLES_DAY_FIRST, {"day_first": False},
         r"4 of 6 data rows \(66\.7%\) have no timestamp that parses, over the limit of 5%: "
         r"first at .*lines 4, 5, 6, 7; 4 read only day first \(line 4 of .*\): pass "
         r"day_first=True\. Pass accept_unparsed_rows=True"),
}


@pytest.mark.parametrize("stamps, options, expected", DATE_ORDER.values(), ids=DATE_ORDER.keys())
def test_day_and_month_order(tmp_path, stamps, options, expected):
    path = write(tmp_path, "daily.csv", sheet(stamps))
    if isinstance(expected, str):
        with pytest.raises(ValueError, match=expected) as error:
            edge.profile_export(path, **options)
        assert str(error.value).startswith(path), error.value
        return
    p = edge.profile_export(path, **options)
    n_rows, span, first, order = expected
    assert p.values["n_rows"].value == n_rows
    assert p.values["time_span_hours"].value == pytest.approx(span)
    assert p.tags[0].first == first
    assert p.notes.unparsed_rows == 0
    assert p.options["day_first"] == options.get("day_first")  # as given: None stays None
    # Stated with the file: the order, and whether the data or the caller settled it.
    facts = {r.name: (r.value, r.how) for r in p.files[0].reading}
    assert facts["date_order"] == (order, "given" if "day_first" in options else "detected")


# Two-digit years pivot at 69: 00-68 are 20xx, 69-99 19xx.
TWO_DIGIT_YEARS = {
    "m/d/yy": (["3/12/26 22:00", "3/13/26 1:00"], "2026-03-12T22:00:00Z", "2026-03-13T01:00:00Z"),
    "d/m/yy": (["12/3/26 22:00", "13/3/26 1:00"], "2026-03-12T22:00:00Z", "2026-03-13T01:00:00Z"),
    "dd.mm.yy": (["12.03.26 22:00:00", "13.03.26 01:00:00"], "2026-03-12T22:00:00Z",
                 "2026-03-13T01:00:00Z"),
    "dd-mon-yy": (["12-Mar-26 22:00:00", "13-Mar-26 01:00:00"], "2026-03-12T22:00:00Z",
                  "2026-03-13T01:00:00Z"),
    "68_is_2068": (["12/31/68 23:00", "12/31/68 23:30"], "2068-12-31T23:00:00Z",
                   "2068-12-31T23:30:00Z"),
    "69_is_1969": (["12/31/69 23:00", "12/31/69 23:30"], "1969-12-31T23:00:00Z",
                   "1969-12-31T23:30:00Z"),
}


@pytest.mark.parametrize("stamps, first, last", TWO_DIGIT_YEARS.values(),
                         ids=TWO_DIGIT_YEARS.keys())
def test_two_digit_years(tmp_path, stamps, first, last):
    p = edge.profile_export(write(tmp_path, "yy.csv", sheet(stamps)))
    assert (p.tags[0].first, p.tags[0].last) == (first, last)
    assert (p.values["n_rows"].value, p.notes.unparsed_rows) == (2, 0)


def berlin(day, walls):
    return [f"2026-{day} {w}" for w in walls]


# Data lines oldest first; the same lines reversed make the newest-first file. Expected, for
# both: n_rows, duplicate share, span (h), regular, second occurrences of the repeated hour,
# wall times moved out of a spring gap, the instants clock changes step back to.
TIME_ORDER = {
    # 25 Oct 2026, Berlin: 02:00-02:59 twice (00:00Z and 01:00Z for 02:00). Half-hourly from
    # 01:00 CEST (23:00Z) to 04:00 CET (03:00Z): nine distinct instants, two second occurrences.
    "autumn_wide": ("Europe/Berlin", "Timestamp,TI101.PV",
                    [f"{t},{k}" for k, t in enumerate(berlin("10-25", [
                        "01:00", "01:30", "02:00", "02:30", "02:00", "02:30", "03:00", "03:30",
                        "04:00"]))],
                    (9, 0.0, 4.0, True, 2, 0, [])),
    # 29 Mar 2026, Berlin: 02:30 lies in the gap and moves to 03:30 CEST (01:30Z), which the
    # next-but-one row holds too: 6 rows, 5 distinct instants from 00:00Z to 02:00Z.
    "spring_wide": ("Europe/Berlin", "Timestamp,TI101.PV",
                    [f"{t},{k}" for k, t in enumerate(berlin("03-29", [
                        "01:00", "01:30", "02:30", "03:00", "03:30", "04:00"]))],
                    (6, 1 / 6, 2.0, True, 0, 1, [])),
    # A SQL history query's rows (tag, time, value), two tags through the autumn change: per
    # tag 01:30, 02:00, 02:30, 02:00, 02:30, 03:00 = 23:30Z, 00:00Z .. 02:00Z, six instants.
    "autumn_long_two_tags": ("Europe/Berlin", "TagName,DateTime,Value",
                             [f"{tag},{t},{k}" for k, t in enumerate(berlin("10-25", [
                                 "01:30", "02:00", "02:30", "02:00", "02:30", "03:00"]))
                              for tag in ("FI100.PV", "TI100.PV")],
                             (6, 0.0, 2.5, True, 4, 0, [])),
    # A clock stepped back an hour in UTC: 00, 01, 02, 01, 02, 03 h; the step back to 01:00.
    "clock_step_back_utc": ("UTC", "Timestamp,FI200.PV",
                            [f"2026-06-01 {h:02d}:00:00,{k}" for k, h in
                             enumerate([0, 1, 2, 1, 2, 3])],
                            (6, 2 / 6, 3.0, True, 0, 0, ["2026-06-01T01:00:00Z"])),
}


@pytest.mark.parametrize("zone, header, lines, expected", TIME_ORDER.values(),
                         ids=TIME_ORDER.keys())
@pytest.mark.parametrize("newest_first", [False, True], ids=["oldest_first", "newest_first"])
def test_newest_first_reads_as_oldest_first(tmp_path, zone, header, lines, expected,
                                            newest_first):
    rows = list(reversed(lines)) if newest_first else lines
    p = edge.profile_export(write(tmp_path, "h.csv", header + "\r\n" + "\r\n".join(rows) + "\r\n"),
                            tz=zone)
    n_rows, duplicates, span, regular, second, moved, clock = expected
    v = p.values
    assert v["n_rows"].value == n_rows
    assert v["duplicate_timestamps"].value == pytest.approx(duplicates)
    assert v["time_span_hours"].value == pytest.approx(span)
    assert v["sampling_regular"].value is regular
    assert p.notes.repeated_hour_second == second
    assert p.notes.nonexistent_times_moved == moved
    assert [at for _, _, at in p.notes.clock_changes] == clock
    facts = {r.name: (r.value, r.how) for r in p.files[0].reading}
    assert facts["row_order"] == ("newest_first" if newest_first else "oldest_first", "detected")


def unparsed_export(bad_lines, rows=21):
    """An hourly export of `rows` data rows (lines 2..), those at `bad_lines` saying n/a."""
    return "Timestamp,PI300.PV\r\n" + "".join(
        f"{'n/a' if k + 2 in bad_lines else f'2026-01-01 {k:02d}:00:00'},{k}\r\n"
        for k in range(rows))


# (bad lines, rows, options, expected): the unparsed rows and n_rows, or the error's text.
UNPARSED = {
    "one_in_twenty_is_at_the_limit": ({5}, 20, {}, (1, 19)),
    "two_in_twenty_one_refused": ({5, 9}, 21, {},
                                  r"2 of 21 data rows \(9\.5%\) have no timestamp that parses, "
                                  r"over the limit of 5%: first at .*lines 5, 9\. "
                                  r"Pass accept_unparsed_rows=True"),
    "accepted_when_asked": ({5, 9}, 21, {"accept_unparsed_rows": True}, (2, 19)),
}


@pytest.mark.parametrize("bad, rows, options, expected", UNPARSED.values(), ids=UNPARSED.keys())
def test_unparsed_row_limit(tmp_path, bad, rows, options, expected):
    path = write(tmp_path, "gaps.csv", unparsed_export(bad, rows))
    if isinstance(expected, str):
        with pytest.raises(ValueError, match=expected):
            edge.profile_export(path, **options)
        return
    p = edge.profile_export(path, **options)
    assert (p.notes.unparsed_rows, p.values["n_rows"].value) == expected
    assert [line for _, line in p.notes.first_unparsed_rows] == sorted(bad)


def test_day_first_decision_is_split_independent(tmp_path):
    """A 2 MB day-first export, its first 12 days ambiguous: the file path decides day first
    from the whole scan (reading it again so); Dask's pieces, each scanned month first, refuse
    naming day_first, and told so give the file path's profile."""
    pytest.importorskip("dask")
    pytest.importorskip("distributed")
    qd = pytest.importorskip("qorv_chemical_engineering_edge.dask")
    start = 16436 * 86400  # 2015-01-01
    import datetime as dt

    lines = ["Date,FI1.PV,TI1.PV"]
    for k in range(100_000):
        t = dt.datetime.fromtimestamp(start + 3600 * k, dt.timezone.utc)
        lines.append(f"{t:%d/%m/%Y %H:%M},{k % 97},{k % 13}")
    path = write(tmp_path, "dayfirst.csv", "\r\n".join(lines) + "\r\n")
    assert (tmp_path / "dayfirst.csv").stat().st_size > 2 * 2**20  # three pieces
    detected = edge.profile_export(path)
    given = edge.profile_export(path, day_first=True)
    # 100,000 hourly rows from 2015-01-01 00:00: 99,999 hours, nothing unparsed.
    assert detected.values["n_rows"].value == 100_000
    assert detected.values["time_span_hours"].value == 99_999
    assert detected.notes.unparsed_rows == 0
    assert (detected.values, detected.tags) == (given.values, given.tags)
    with pytest.raises(ValueError, match=r"slash dates read day first .* pass day_first=True"):
        qd.profile_files(path, chunk_bytes=2**20)
    pieces = qd.profile_files(path, chunk_bytes=2**20, day_first=True)
    assert (pieces.values, pieces.tags) == (given.values, given.tags)


# The command line: the order flags and the limit's flag. (file, flags, exit code, text in the
# one line of standard error).
CLI = [
    (SETTLES_DAY_FIRST, [], 0, None),
    (SETTLES_DAY_FIRST, ["--month-first"], 2, "pass day_first=True"),
    (SETTLES_DAY_FIRST, ["--month-first", "--accept-unparsed-rows"], 0, None),
    (SETTLES_DAY_FIRST, ["--day-first", "--month-first"], 2, "not allowed with argument"),
    (ONCE_A_DAY, [], 2, "day_first=True or day_first=False"),
    (ONCE_A_DAY, ["--day-first"], 0, None),
]


@pytest.mark.parametrize("stamps, flags, code, text", CLI,
                         ids=["detected", "told_month_first", "accepted", "both_flags",
                              "undecided", "told_day_first"])
def test_command_line_order_flags(tmp_path, stamps, flags, code, text):
    import subprocess
    import sys

    path = write(tmp_path, "sheet.csv", sheet(stamps))
    run = subprocess.run([sys.executable, "-m", "qorv_chemical_engineering_edge", "profile", path,
                          *flags], capture_output=True, text=True, timeout=120)
    assert run.returncode == code, run.stderr
    assert "Traceback" not in run.stderr
    if text:
        assert len(run.stderr.strip().splitlines()) == 1 and text in run.stderr, run.stderr
