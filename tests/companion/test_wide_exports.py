"""Exports with many tags: memory a small constant per tag, to_json and to_html linear in the
tags, and an HTML page that summarises past its table size (worst tags first) while the JSON
keeps every tag."""
import json
import os
import re

import pytest

import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge import html
from isolated import run_isolated

# Peak resident memory of a child profiling a wide export, per tag beyond the first 25,000: the
# scan state, the finished profile and its Python objects (measured about 680 bytes; 1,290
# before the scan state was finalised in place and the name index made lazy).
PROFILE_BYTES_PER_TAG = 900
# to_json may hold its output twice (the rows and the joined text) and not much more.
JSON_PEAK_PER_OUTPUT_BYTE = 3

UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def write_wide(path, n_tags, rows=3):
    """One timestamp column and n_tags tags; tag k is empty in (k % 4) of the rows."""
    with open(path, "w") as f:
        f.write("timestamp," + ",".join(f"T{k:07d}" for k in range(n_tags)) + "\n")
        for r in range(rows):
            cells = ("" if k % 4 > r else str((k + r) % 10) for k in range(n_tags))
            f.write(f"2024-01-01T00:0{r}:00Z," + ",".join(cells) + "\n")


CHILD = """
import json, re, resource
import qorv_chemical_engineering_edge as edge
p = edge.profile_export(PATH)
out = {"rss": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024}

def status(key):  # kB
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(key))

before = status("VmRSS:")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # starts the peak (VmHWM) again from here
text = p.to_json()
out["json_peak"] = (status("VmHWM:") - before) * 1024
out["json_len"] = len(text)
out["json_tags"] = len(json.loads(text)["tags"])
del text
page = p.to_html()
out["html_len"] = len(page)
tags = page[page.index("<h2>Tags</h2>"):]
out["table_len"] = tags.index("</section>")
said = re.search(r"the other ([0-9,]+) are in the JSON", page)
out["left_out"] = said and said.group(1)
print(json.dumps(out))
"""


@pytest.mark.skipif(UNDER_ASAN, reason="the sanitizer's allocator changes every memory figure")
@pytest.mark.skipif(not os.access("/proc/self/clear_refs", os.W_OK), reason="needs Linux /proc")
def test_wide_export_memory_per_tag_and_linear_outputs(tmp_path):
    runs = {}
    for n in (25_000, 100_000):
        path = tmp_path / f"wide{n}.csv"
        write_wide(path, n)
        done = run_isolated(f"PATH = {str(path)!r}\n" + CHILD, timeout=120)
        assert done.returncode == 0, done.stderr[-3000:]
        runs[n] = json.loads(done.stdout)
    small, big = runs[25_000], runs[100_000]
    per_tag = (big["rss"] - small["rss"]) / 75_000
    assert per_tag <= PROFILE_BYTES_PER_TAG, f"{per_tag:.0f} bytes a tag"
    for n, run in runs.items():
        assert run["json_tags"] == n
        assert run["json_peak"] <= JSON_PEAK_PER_OUTPUT_BYTE * run["json_len"], run
        assert run["left_out"] == f"{n - html.TABLE_TAGS:,}"
    assert 3.9 < big["json_len"] / small["json_len"] < 4.1
    # The table shows TABLE_TAGS rows either way: four times the tags, the same table; and the
    # page stays small (the chart has its own cap).
    assert big["table_len"] < 1.05 * small["table_len"]
    assert big["html_len"] < 2_000_000


TEXTS = ["x\"y", "é\\", "tab\there", "1"]


def write_graded(path, n_tags, rows=12, texts=TEXTS):
    """Tag k is empty in (7 * k) % 13 of its rows (at most 12), so shares repeat and the
    order falls back on names; the first tag's cells carry texts that JSON must escape."""
    names = [f"T{(k * 37) % n_tags:04d}" for k in range(n_tags)]  # names not in column order
    with open(path, "w", encoding="utf-8") as f:
        f.write("timestamp," + ",".join(names) + "\n")
        for r in range(rows):
            cells = ["" if r < (7 * k) % 13 else str(k % 10) for k in range(n_tags)]
            cells[0] = texts[r % 4] if r else ""
            f.write(f"2024-01-01T{r:02d}:00:00Z," + ",".join(
                f'"{c.replace(chr(34), chr(34) * 2)}"' if '"' in c else c for c in cells) + "\n")
    empty = {names[k]: min((7 * k) % 13, rows) for k in range(n_tags)}
    return names, empty


def table_names(page):
    section = page[page.index("<h2>Tags</h2>"):]
    body = section[section.index("<tbody>"):section.index("</tbody>")]
    return re.findall(r"<tr><td>([^<]*)</td>", body)


@pytest.mark.parametrize("n_tags, shown", [
    (150, 150),               # under TABLE_TAGS: every tag, in the export's order
    (html.TABLE_TAGS, html.TABLE_TAGS),
    (260, html.TABLE_TAGS),   # past it: the worst first, and how many more the JSON has
])
def test_html_tag_table_summarises_worst_first(tmp_path, n_tags, shown):
    path = tmp_path / "graded.csv"
    names, empty = write_graded(path, n_tags)
    profile = edge.profile_export(str(path))
    page = profile.to_html()
    listed = table_names(page)
    if shown == n_tags:
        assert listed == names and "tags-summary" not in page
    else:
        # The first tag: one empty cell and eight texts among its three numbers.
        missing = dict(empty, **{names[0]: 1 + 8})
        worst = sorted(names, key=lambda n: (-missing[n], n))[:shown]
        assert listed == worst
        assert f"the other {n_tags - shown:,} are in the JSON" in page
    assert [t["name"] for t in json.loads(profile.to_json())["tags"]] == names


# The tag rows are written apart from the rest and spliced in at a mark; a text equal to the
# mark (here among the notes' texts) takes the plain way.
@pytest.mark.parametrize("indent", [2, None, 0, 4, "\t"])
@pytest.mark.parametrize("texts", [TEXTS, ["x", "\x00qce-rows\x00", "y", "1"]])
def test_to_json_is_json_dumps_of_to_dict(tmp_path, indent, texts):
    path = tmp_path / "graded.csv"
    write_graded(path, 40, texts=texts)
    report = edge.grade_export(str(path), license_cleared=True)
    for result in (report, report.profile):
        expected = json.dumps(result.to_dict(), indent=indent, ensure_ascii=False, allow_nan=False)
        assert result.to_json(indent) == expected


def test_html_note_lists_summarise(tmp_path):
    # 60 loops (each base with PV and SP) and 60 units no one knows: the page lists the first
    # NOTE_ITEMS of each and counts the rest; the JSON keeps all.
    n = html.NOTE_ITEMS + 10
    names = [f"L{k:03d}.{s}" for k in range(n) for s in ("PV", "SP")]
    path = tmp_path / "loops.csv"
    path.write_text("timestamp," + ",".join(names) + "\n"
                    + "units," + ",".join(f"zorp{k // 2}" for k in range(2 * n)) + "\n"
                    + "2024-01-01T00:00:00Z," + ",".join("1" for _ in names) + "\n")
    profile = edge.profile_export(str(path))
    assert len(profile.notes.loops) == len(profile.notes.unknown_units) == n
    page = profile.to_html()
    assert page.count("… and 10 more in the JSON") == 2
    assert "L049 (PV/SP)" in page and "L050 (PV/SP)" not in page
    notes = json.loads(profile.to_json())["notes"]
    assert len(notes["loops"]) == len(notes["unknown_units"]) == n
