"""The normal-operation window found in a wide export (and the same window in its long and paired
forms): planted windows, outages, trips, gaps, clock changes and break spans, the near-zero set
point rule, short exports, the interface and the window's independence from how the export is
cut."""
import datetime as dt
import json
import random

import pytest

from qorv_chemical_engineering_edge import _native, _options, grade_export, profile_export
from qorv_chemical_engineering_edge.profile import _PROFILE_OPTIONS, _from_native, _profile

T0 = dt.datetime(2026, 1, 1)
OTHERS = 20  # besides the loop's PV, SP and OP: one missing cell of 23 is within 5%, two not


def _iso(t):
    return t.strftime("%Y-%m-%dT%H:%M:%SZ")


def export(n=400, step_s=600, *, trip=(), outage=(), missing=None, jump=None, zero_loop=None):
    """A wide export's text and its row times. `trip`: rows whose PV is far from its SP;
    `outage`: rows whose loop tags are empty; `missing`: row -> how many other tags are empty;
    `jump`: (row, extra seconds before it); `zero_loop`: row -> the PV of a loop whose SP is 0."""
    times, t = [], T0
    for i in range(n):
        if i and jump and i == jump[0]:
            t += dt.timedelta(seconds=jump[1])
        times.append(t)
        t += dt.timedelta(seconds=step_s)
    header = ["Time", "FIC101.PV", "FIC101.SP", "FIC101.OP", *(f"TI{k}" for k in range(OTHERS))]
    if zero_loop:
        header += ["PIC7.PV", "PIC7.SP"]
    lines = [",".join(header)]
    for i, t in enumerate(times):
        loop = ["", "", ""] if i in outage else [f"{80.0 if i in trip else 50.2:.1f}", "50", "40"]
        others = [f"{20 + i % 3}"] * OTHERS
        for k in range((missing or {}).get(i, 0)):
            others[k] = ""
        row = [t.strftime("%Y-%m-%d %H:%M:%S"), *loop, *others]
        if zero_loop:
            row += [f"{zero_loop(i):.3f}", "0"]
        lines.append(",".join(row))
    return "\n".join(lines) + "\n", times


def _near_zero(off=()):
    rng = random.Random(5)
    noise = [rng.uniform(-0.2, 0.2) for _ in range(400)]
    # A ramp from 10 down to 1 (rows 0-9) makes the PV's range 10.2: within 5% of it is 0.51.
    return lambda i: 10.0 - i if i < 10 else 3.0 if i in off else noise[i]


def W(times, a, b):
    return (_iso(min(times[a:b + 1])), _iso(max(times[a:b + 1])), b - a + 1)


# (id, export arguments, window as (first row, last row) or None, runners-up as row pairs)
CASES = [
    ("planted window between trips", dict(trip={*range(100), *range(300, 400)}),
     (100, 299), []),
    ("outage splits; the longer part wins", dict(outage=range(180, 183)), (183, 399), [(0, 179)]),
    ("outage leaves no 24 h run", dict(n=250, outage={120, 121}), None, []),
    ("trip leaves no 24 h run", dict(n=250, trip={120}), None, []),
    ("one tag of 23 missing is within 5%", dict(n=250, missing={i: 1 for i in range(250)}),
     (0, 249), []),
    ("two tags of 23 missing are not", dict(n=250, missing={i: 2 for i in range(120, 126)}),
     None, []),
    ("a gap of four steps breaks", dict(n=250, jump=(125, 1800)), None, []),
    ("a gap of three steps does not", dict(n=250, jump=(125, 1200)), (0, 249), []),
    ("a clock change breaks", dict(jump=(150, -4200)), (150, 399), [(0, 149)]),
    ("equal runs: the earliest", dict(n=401, trip={200}), (0, 199), [(201, 400)]),
    ("SP near zero: the PV's range decides", dict(zero_loop=_near_zero()), (10, 399), []),
    ("SP near zero, PV away from it", dict(zero_loop=_near_zero(off=range(200, 206))),
     (206, 399), [(10, 199)]),
    ("short export: its whole span", dict(n=100, step_s=60), (0, 99), []),
    ("short export with a trip", dict(n=150, step_s=60, trip={75}), None, []),
]


@pytest.mark.parametrize("kind, args, window, runners", CASES, ids=[c[0] for c in CASES])
def test_the_window_found(tmp_path, kind, args, window, runners):
    text, times = export(**args)
    path = tmp_path / "w.csv"
    path.write_text(text)
    b = grade_export(str(path)).profile.baseline_suggestion
    found = None if b.window is None else (b.window.start, b.window.end, b.window.rows)
    assert found == (None if window is None else W(times, *window)), b.why
    assert [(w.start, w.end, w.rows) for w in b.runners_up] == [W(times, *r) for r in runners]
    assert b.short_export == (times[-1] - times[0] < dt.timedelta(hours=24))
    assert ("under 24 h" in b.why) == b.short_export
    assert b.why.startswith("the longest of" if window else "no run of qualifying rows")


BREAK_CASES = [
    ("a span over two rows", [(120, 121)], (122, 249), [(0, 119)]),
    ("a point between two rows", [(120.5, 120.5)], (121, 249), [(0, 120)]),
    ("spans outside the export", [(-10, -5), (300, 310)], (0, 249), []),
]


@pytest.mark.parametrize("spans, window, runners", [c[1:] for c in BREAK_CASES],
                         ids=[c[0] for c in BREAK_CASES])
def test_break_spans_break_a_run(tmp_path, spans, window, runners):
    text, times = export(n=250, step_s=900)  # 62 h: either part may hold 24 h
    path = tmp_path / "w.csv"
    path.write_text(text)
    epoch = dt.datetime(1970, 1, 1)

    def us(row):  # a row's instant; fractions fall between rows
        t = T0 + dt.timedelta(seconds=900 * row)
        return (t - epoch) // dt.timedelta(microseconds=1)

    settings = {**_PROFILE_OPTIONS, "baseline_search": "suggest",
                "baseline_breaks": [(us(a), us(b)) for a, b in spans]}
    b = _profile(str(path), settings, None, None, None).baseline_suggestion
    assert (b.window.start, b.window.end, b.window.rows) == W(times, *window)
    assert [(w.start, w.end, w.rows) for w in b.runners_up] == [W(times, *r) for r in runners]


def test_auto_decides_baseline_present_and_enters_the_seal(tmp_path):
    good, bad = tmp_path / "good.csv", tmp_path / "bad.csv"
    good.write_text(export()[0])
    bad.write_text(export(n=250, trip={120})[0])
    shown = grade_export(str(good))
    used = grade_export(str(good), baseline="auto")
    plain = profile_export(str(good))
    assert plain.baseline_suggestion is None
    # Shown only: no value, no seal changes; used: the value is suggested and sealed.
    assert shown.profile.seal == plain.seal
    assert shown.values["baseline_present"].provenance == "default"
    assert (used.values["baseline_present"].value,
            used.values["baseline_present"].provenance) == (True, "suggested")
    assert used.profile.seal != plain.seal
    assert used.profile.options["baseline_search"] == "auto"
    none = grade_export(str(bad), baseline="auto")
    assert (none.values["baseline_present"].value,
            none.values["baseline_present"].provenance) == (False, "suggested")
    assert none.profile.seal != grade_export(str(bad)).profile.seal
    # A declared value still wins.
    declared = grade_export(str(bad), baseline="auto", baseline_present=True)
    assert declared.values["baseline_present"].provenance == "declared"
    data = used.to_dict()["profile"]
    assert data["baseline_suggestion"]["window"]["rows"] == 400
    assert "baseline_suggestion" not in plain.to_dict()
    assert json.loads(used.to_json())["profile"]["baseline_suggestion"] == \
        data["baseline_suggestion"]
    assert "normal-operation window: 2026-01-01T00:00:00Z" in str(used)


def records(text, paired=False):
    """The wide export `text` as a long export in time order (paired: each tag beside its own
    time column). An empty cell becomes a record with no value on even rows and no record on odd
    ones: both are missing, as the cell is. A long export repeats FIC101.PV every seventh row
    with a trip's value: a tag's first record at an instant is the one judged."""
    header, *rows = [line.split(",") for line in text.splitlines()]
    tags = header[1:]
    if paired:
        lines = [",".join(c for tag in tags for c in ("Time", tag))]
        for i, row in enumerate(rows):
            lines.append(",".join(c for v in row[1:] for c in (
                ("", "") if v == "" and i % 2 else (row[0], v))))
        return "\n".join(lines) + "\n"
    lines = ["Time,Tag,Value"]
    for i, row in enumerate(rows):
        lines += [f"{row[0]},{tag},{v}" for tag, v in zip(tags, row[1:]) if v or i % 2 == 0]
        if i % 7 == 0:
            lines.append(f"{row[0]},FIC101.PV,80.0")
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("paired", [False, True], ids=["long", "paired"])
@pytest.mark.parametrize("kind, args, window, runners", CASES, ids=[c[0] for c in CASES])
def test_long_and_paired_exports_find_the_wide_window(tmp_path, paired, kind, args, window,
                                                      runners):
    text, _ = export(**args)
    wide, other = tmp_path / "w.csv", tmp_path / "r.csv"
    wide.write_text(text)
    other.write_text(records(text, paired))
    found = grade_export(str(other), baseline="auto")
    assert found.profile.layout == ("paired" if paired else "long")
    assert found.profile.baseline_suggestion == \
        grade_export(str(wide)).profile.baseline_suggestion
    assert found.values["baseline_present"].value == (window is not None)


def test_a_long_export_by_tag_refuses_auto_by_name(tmp_path):
    text = records(export()[0])
    by_tag = sorted(text.splitlines()[1:], key=lambda line: line.split(",")[1])
    path = tmp_path / "long.csv"
    path.write_text("Time,Tag,Value\n" + "\n".join(by_tag) + "\n")
    with pytest.raises(ValueError, match=r"long.csv.*baseline auto.*tag by tag.*"
                                         r"baseline=\(start, end\)"):
        grade_export(str(path), baseline="auto")
    b = grade_export(str(path)).profile.baseline_suggestion
    assert b.window is None and b.why.startswith("not looked for: this long export lists")
    with pytest.raises(ValueError, match="baseline='soon'"):
        grade_export(str(path), baseline="soon")


def _options_for(search):
    return _options.build(**{k: v for k, v in _PROFILE_OPTIONS.items() if k != "progress"},
                          baseline_search=search, baseline_breaks=[(0, 1)])


SPLIT_TEXT = export(zero_loop=_near_zero(off=range(200, 206)), trip={50},
                    outage={300})[0].encode()


def _finished(blob, options):
    return _from_native(_native.finalize_partial(blob, options), ("t.csv",), options)


@pytest.mark.parametrize("seed", range(6))
def test_any_split_gives_the_window_of_one_scan(seed):
    options = _options_for("auto")
    whole = _finished(_native.scan_text("t.csv", 0, SPLIT_TEXT, False, options, [SPLIT_TEXT]),
                      options)
    assert whole.baseline_suggestion.window is not None
    rng = random.Random(seed)
    cuts = sorted(rng.sample(range(400, len(SPLIT_TEXT)), 1 + seed * 3))
    bounds = [0, *cuts, len(SPLIT_TEXT)]
    blobs = [_native.scan_text("t.csv", a, SPLIT_TEXT, False, options, [SPLIT_TEXT[a:b]])
             for a, b in zip(bounds, bounds[1:])]
    while len(blobs) > 1:  # neighbours merged in a random order
        i = rng.randrange(len(blobs) - 1)
        blobs[i:i + 2] = [_native.merge_partials(blobs[i:i + 2])]
    merged = _finished(blobs[0], options)
    assert merged.baseline_suggestion == whole.baseline_suggestion
    assert merged.values == whole.values


def test_the_report_outlines_the_window_and_lists_runners_up(tmp_path):
    # How the outline looks in a browser: test_html_report.py (the sanitizer stage skips it).
    path = tmp_path / "w.csv"
    path.write_text(export(outage=range(180, 183))[0])
    report = grade_export(str(path), baseline="auto")
    page = report.to_html()
    assert page.count('id="baseline-outline"') == 1
    assert "2026-01-02T06:30:00Z" in page  # the window's first row, 183
    assert page.count("<td>2026-01-01T00:00:00Z</td>") == 1  # the runner-up, rows 0 to 179
    assert 'id="baseline-outline"' not in profile_export(str(path)).to_html()


def test_qce_readiness_takes_baseline_auto(tmp_path):
    import subprocess
    import sys

    path = tmp_path / "w.csv"
    path.write_text(export(outage=range(180, 183))[0])

    def qce(*flags):
        return subprocess.run([sys.executable, "-m", "qorv_chemical_engineering_edge", "readiness",
                               str(path), "--license-cleared", *flags, "--json", "-"],
                              capture_output=True, text=True, timeout=120)

    used, shown = qce("--baseline", "auto"), qce()
    # Shown only, the window leaves the baseline a missing witness: exit code 1.
    assert (used.returncode, shown.returncode) == (0, 1), used.stderr + shown.stderr
    values = {v["name"]: v for v in json.loads(used.stdout)["profile"]["values"]}
    assert (values["baseline_present"]["value"], values["baseline_present"]["provenance"]) == \
        (True, "suggested")
    suggestion = json.loads(shown.stdout)["profile"]["baseline_suggestion"]
    assert suggestion["window"] == {"start": "2026-01-02T06:30:00Z",
                                    "end": "2026-01-03T18:30:00Z", "rows": 217}


@pytest.mark.parametrize("layout", ["wide", "long"])
@pytest.mark.parametrize("kind, text, window, runners", [
    ("maintenance", "Work Order,Equipment,Start,Finish,Type\n"
     "WO1,FIC101,2026-01-02 06:00:00,2026-01-02 08:30:00,corrective\n", (0, 119), [(131, 249)]),
    ("batches", "Batch ID,Recipe,Unit,Phase,Event,Time\n"
     "B1,R,U1,,Start,2026-01-02 06:00:00\nB1,R,U1,,Complete,2026-01-02 08:30:00\n",
     (0, 119), [(131, 249)]),
])
def test_context_files_break_the_window(tmp_path, kind, text, window, runners, layout):
    # Rows are 15 min apart: 06:00 on the second day is row 120, 08:30 row 130. A work order
    # breaks the rows it spans; a batch's start and end each break the row at them, and the
    # nine rows between are too few for a window.
    csv_text, times = export(n=250, step_s=900)
    path, context = tmp_path / "w.csv", tmp_path / f"{kind}.csv"
    path.write_text(csv_text if layout == "wide" else records(csv_text))
    context.write_text(text)
    plain = grade_export(str(path), baseline="auto")
    report = grade_export(str(path), baseline="auto", context={kind: str(context)})
    b = report.profile.baseline_suggestion
    assert (b.window.start, b.window.end, b.window.rows) == W(times, *window)
    assert [(w.start, w.end, w.rows) for w in b.runners_up] == [W(times, *r) for r in runners]
    assert plain.profile.baseline_suggestion.window.rows == 250
    assert report.values["baseline_present"].provenance == "suggested"
