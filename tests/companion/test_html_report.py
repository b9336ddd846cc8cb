"""The HTML report: self-contained, and drawn as it should be in a real browser."""
import re
import shutil
import subprocess

import pytest

import qorv_chemical_engineering_edge as edge
from export_files import write_export
from png import read_png

VERDICT_RGB = {"Ready": (0x1a, 0x7f, 0x37), "ReadyWithCaveats": (0xb7, 0x6e, 0x00),
               "NotReadyMissingCriticalWitnesses": (0xc6, 0x28, 0x28)}
NO_ROWS_RGB = (0x3b, 0x3f, 0x46)


@pytest.fixture
def report(tmp_path):
    path = tmp_path / "export.csv"
    # An outage (rows 300-420 absent) in the middle of a week of 10-minute rows.
    write_export(path, 11, rows=1000, tags=8, step_s=600, outage=(300, 420), bad=0.05)
    return edge.grade_export(str(path), license_cleared=True, baseline_present=True)


def test_self_contained(report):
    page = report.to_html()
    assert page.startswith("<!DOCTYPE html>")
    assert not re.search(r"<script|https?://(?!www\.w3\.org/2000/svg)|<link|@import|url\(",
                         page)
    # The verdict comes first, then the findings, the chart and the seals.
    order = [page.index(s) for s in (report.verdict, "Findings", "Data availability",
                                     "Tags", "Seals", report.court_hash)]
    assert order == sorted(order)
    assert page.count('class="level"') == 13
    grid = report.profile.availability()
    assert any(s is None for row in grid.shares for s in row), "the outage has no rows"
    assert any(s is not None and s < 1 for row in grid.shares for s in row)
    # Each numeric tag's min/max envelope: a bar per bucket holding a value, none in the
    # outage's.
    envelopes = re.findall(r'<svg class="envelope".*?</svg>', page)
    assert len(envelopes) == sum(1 for t in report.profile.tags if t.numeric_samples) == 8
    drawn = report.profile.availability(buckets=32)
    for svg, low in zip(envelopes, drawn.low):
        assert svg.count("<rect") == sum(v is not None for v in low) < len(low)


def test_profile_record_and_unit_pages(report):
    assert "Export profile" in report.profile.to_html()
    assert report.record.court_hash in report.record.to_html()
    units = edge.check_units([("degF", "degC"), ("kg/h", "kg/h"), ("barg", "bara")])
    page = units.to_html()
    assert "2 unit hazards" in page and units.court_hash in page
    assert page.count('class="level"') == 3 and "<script" not in page


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        found = shutil.which(name)
        if found:
            return found
    return None


def count(rows, rgb, box, tolerance=6):
    x0, y0, x1, y1 = box
    return sum(
        1 for row in rows[y0:y1] for pixel in row[x0:x1]
        if all(abs(a - b) <= tolerance for a, b in zip(pixel, rgb))
    )


@pytest.mark.skipif(chromium() is None, reason="chromium is not installed")
def test_screenshot_in_headless_chromium(report, tmp_path):
    page = tmp_path / "report.html"
    page.write_text(report.to_html(), encoding="utf-8")
    shot = tmp_path / "report.png"
    subprocess.run(
        [chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
         f"--user-data-dir={tmp_path / 'profile'}", f"--screenshot={shot}",
         "--window-size=1280,1800", page.as_uri()],
        check=True, capture_output=True, timeout=120)
    width, height, rows = read_png(shot)
    assert (width, height) == (1280, 1800)
    # The banner: the verdict's colour across the top of the page.
    banner = count(rows, VERDICT_RGB[report.verdict], (0, 0, width, 60))
    assert banner > 0.5 * width * 60
    # The availability chart: shaded cells, and the outage's dark cells among them.
    assert count(rows, NO_ROWS_RGB, (0, 0, width, height)) > 200
    greens = sum(1 for row in rows for (r, g, b) in row if g > 140 and r < 120 and b < 110)
    assert greens > 2000


@pytest.mark.skipif(chromium() is None, reason="chromium is not installed")
def test_screenshot_shows_the_lab_samples_as_ticks(tmp_path):
    from test_context_files import batch_journal, lims, work_orders, write

    export = tmp_path / "export.csv"
    rows = [f"2026-03-01 {h:02d}:{m:02d}:00,{h},{m}" for h in range(24) for m in (0, 30)]
    export.write_text("\n".join(["Time,TI200,FI300", *rows]) + "\n")
    files = [write(tmp_path, n, t) for n, t in (("lab", lims()), ("wo", work_orders()),
                                                 ("batch", batch_journal()))]

    def purple(context):  # the lab ticks' colour (#8250df), also the legend's lab swatch
        report = edge.grade_export(str(export), context=context, license_cleared=True)
        page, shot = tmp_path / "report.html", tmp_path / "report.png"
        page.write_text(report.to_html(), encoding="utf-8")
        subprocess.run([chromium(), "--headless", "--no-sandbox", "--disable-gpu",
                        "--hide-scrollbars", f"--user-data-dir={tmp_path / 'profile'}",
                        f"--screenshot={shot}", "--window-size=1280,2000", page.as_uri()],
                       check=True, capture_output=True, timeout=120)
        _, _, rows = read_png(shot)
        return sum(1 for row in rows for (r, g, b) in row
                   if abs(r - 0x82) < 12 and abs(g - 0x50) < 12 and abs(b - 0xdf) < 12)

    # Twelve samples inside the span: about 8 pixels of the colour a tick.
    assert purple(files) - purple(files[1:]) > 12 * 5


@pytest.mark.skipif(chromium() is None, reason="chromium is not installed")
def test_screenshot_outlines_the_normal_operation_window(tmp_path):
    from test_baseline_window import export

    path = tmp_path / "w.csv"
    path.write_text(export(outage=range(180, 183))[0])
    page = tmp_path / "r.html"
    page.write_text(edge.grade_export(str(path), baseline="auto").to_html(), encoding="utf-8")
    shot = tmp_path / "r.png"
    subprocess.run([chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                    f"--user-data-dir={tmp_path / 'profile'}", f"--screenshot={shot}",
                    "--window-size=1280,2600", page.as_uri()],
                   check=True, capture_output=True, timeout=120)
    width, height, rows = read_png(shot)
    blue = [(x, y) for y, row in enumerate(rows) for x, p in enumerate(row)
            if all(abs(a - b) <= 8 for a, b in zip(p, (9, 105, 218)))]
    # Two upright edges of the outline, the right one near the chart's right end (the window
    # runs to the export's end), the left one under half-way (row 183 of 400).
    xs = sorted({x for x, _ in blue})
    assert len(blue) > 400 and xs[-1] > 0.8 * width and min(xs) < 0.6 * width
