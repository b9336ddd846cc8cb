"""The export's opening and ending as report tools write them: title blocks, `sep=` lines,
section lines, metadata rows under any common label, units in header cells, and summary or
row-count lines under the data. Every expected value is worked out by hand from the rows."""
import math

import pytest

import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge import _native, _options
from qorv_chemical_engineering_edge.profile import _PROFILE_OPTIONS, _from_native


def _write(tmp_path, text, name="export.csv"):
    path = tmp_path / name
    path.write_bytes(text.encode("utf-8"))
    return str(path)


def _close(a, b):
    return (math.isnan(a) and math.isnan(b)) or a == pytest.approx(b, abs=1e-12)


# Each row: an export, then n_tags, n_rows, missingness, title lines skipped, footer rows,
# unparsed rows. Title lines are every physical line above the header (blank ones included).
OPENINGS = [
    pytest.param(
        "Daily Production Report\r\nServer: PLANTHIST01\r\n"
        "Start Time: 01-Mar-2026 00:00:00\r\nEnd Time: 01-Mar-2026 00:03:00\r\n"
        "Exported by: operator1\r\n\r\n"
        "Timestamp,FIC101.PV,TI102.PV\r\n2026-03-01 00:00:00,12.5,80.1\r\n"
        "2026-03-01 00:01:00,12.7,\r\n2026-03-01 00:02:00,12.6,80.3\r\n",
        2, 3, 1 / 6, 6, 0, 0, id="report-title-block"),
    pytest.param(
        "Shift report\n2026-03-01\n\nTime,A,B\n2026-03-01 06:00:00,1,2\n2026-03-01 06:00:05,1,2\n",
        2, 2, 0.0, 3, 0, 0, id="date-line-in-title"),
    # A spreadsheet add-in's sheet: a title cell, an unnamed time column, a blank-labelled
    # unit row.
    pytest.param(
        "Compressed data,,\n,FIC101.PV,TI102.PV\n,kg/h,degC\n01-Mar-2026 00:00:00,1,2\n"
        "01-Mar-2026 00:10:00,,2\n",
        2, 2, 1 / 4, 1, 0, 0, id="add-in-sheet"),
    # A spreadsheet pads every row to the used width; key/value lines, one without a colon.
    pytest.param(
        "Report;Reactor area trend;;\nServer:;HIST-02;;\nStart time:;2026-03-01 00:00:00;;\n"
        ";;;\nTime;FIC101;TI102;PI103\n2026-03-01 00:00:00;1.5;80;2.1\n"
        "2026-03-01 00:00:10;1.6;81;\n",
        3, 2, 1 / 6, 4, 0, 0, id="padded-key-value-block"),
    # Header names with commas tie the sniffed count: the sep= line settles the delimiter.
    pytest.param(
        "sep=;\nTime;Feed, main;Feed, bypass;Temp, top\n2026-03-01 00:00:00;1.5;2.5;80\n"
        "2026-03-01 00:01:00;1.5;;81\n",
        3, 2, 1 / 6, 1, 0, 0, id="sep-line"),
    pytest.param(
        '"sep=,"\r\nTime,A,B\r\n2026-03-01 00:00:00,1,2\r\n',
        2, 1, 0.0, 1, 0, 0, id="quoted-sep-line"),
    pytest.param(
        "[Header]\nSource,Lab historian\n[Data]\nTime,AI201,AI202\n"
        "2026-03-01 00:00:00,7.1,7.2\n2026-03-01 01:00:00,7.0,Bad\n(2 rows affected)\n",
        2, 2, 1 / 4, 3, 1, 0, id="section-lines-and-row-count"),
    pytest.param(
        "Timestamp,FIC101,FIC102\n2026-03-01 00:00:00,10,20\n2026-03-01 01:00:00,12,\n"
        "2026-03-01 02:00:00,14,22\nMin,10,20\nMax,14,22\nAverage,12,21\nCount,3,2\n"
        "Std Dev:,2,1\n",
        2, 3, 1 / 6, 0, 5, 0, id="summary-rows"),
    pytest.param(
        "TagName,DateTime,Value\nFIC101,2026-03-01 00:00:00,1.0\nFIC101,2026-03-01 00:01:00,\n"
        "TI102,2026-03-01 00:00:00,50\n\n(3 rows affected)\nRows: 3\n",
        2, 2, 1 / 3, 0, 2, 0, id="long-sql-row-count"),
    # A row that is neither data nor a footer stays an unparsed row (1 of 21, under the limit).
    pytest.param(
        "Time,A\n" + "".join(f"2026-03-01 00:{m:02d}:00,{m}\n" for m in range(20))
        + "not a time,2\nTotal,190\n",
        1, 20, 0.0, 0, 1, 1, id="footer-apart-from-unparsed"),
]


@pytest.mark.parametrize("text, n_tags, n_rows, missingness, title, footer, unparsed", OPENINGS)
def test_title_blocks_and_footers(tmp_path, text, n_tags, n_rows, missingness, title, footer,
                                  unparsed):
    p = edge.profile_export(_write(tmp_path, text))
    v = p.values
    assert (v["n_tags"].value, v["n_rows"].value) == (n_tags, n_rows)
    assert _close(v["missingness"].value, missingness)
    assert (p.notes.title_lines_skipped, p.notes.footer_rows, p.notes.unparsed_rows) == (
        title, footer, unparsed)
    assert p.to_dict()["notes"]["footer_rows"] == footer
    facts = {r.name: (r.value, r.how) for r in p.files[0].reading}
    assert facts["header_line"] == (str(title + 1), "detected")
    assert facts["title_lines"] == (str(title), "detected")


# Each row: an export, then the tags as (name, unit), unit coverage, metadata rows skipped, the
# unit disagreements noted, and where the units came from.
UNITS = [
    pytest.param("Timestamp,FIC101,TI102\nEngUnit,kg/h,degC\nDescriptor,Feed flow,Reactor temp\n",
                 [("FIC101", "kg/h"), ("TI102", "degC")], 1.0, 1, [], "unit row", id="EngUnit-Descriptor"),
    pytest.param("Timestamp,FIC101,TI102\nDescription,Feed flow,Reactor temp\nEng Units,kg/h,C\n",
                 [("FIC101", "kg/h"), ("TI102", "C")], 1.0, 1, [], "unit row", id="Eng-Units"),
    pytest.param("Timestamp,FIC101,TI102\nUnit of Measure:,t/h,degF\n",
                 [("FIC101", "t/h"), ("TI102", "degF")], 1.0, 0, [], "unit row", id="Unit-of-Measure"),
    pytest.param("Timestamp,FIC101,TI102\nEU,kg/h,furlongs\n",
                 [("FIC101", "kg/h"), ("TI102", "furlongs")], 0.5, 0, [], "unit row", id="EU-one-unknown"),
    pytest.param('Timestamp,FIC101,TI102\n"",kg/h,degC\n',
                 [("FIC101", "kg/h"), ("TI102", "degC")], 1.0, 0, [], "unit row", id="quoted-blank-label"),
    # Two unlabelled rows: the one whose cells read as units is the unit row.
    pytest.param("Timestamp,FIC101,TI102\n,Feed flow,Reactor temp\n,kg/h,degC\n",
                 [("FIC101", "kg/h"), ("TI102", "degC")], 1.0, 1, [], "unit row", id="unlabelled-unit-row"),
    pytest.param('Timestamp,FIC101.PV [kg/h],TI102.PV (degC),PI103 - barg,"LI104, %",'
                 "Pump (North)\n",
                 [("FIC101.PV", "kg/h"), ("TI102.PV", "degC"), ("PI103", "barg"),
                  ("LI104", "%"), ("Pump (North)", "")], 0.8, 0, [], "header cells", id="units-in-headers"),
    pytest.param("Time,FI300 (KSCFH),FI301 (USgpm),FI302 [klb/hr],FI303 [KPPH]\n",
                 [("FI300", "KSCFH"), ("FI301", "USgpm"), ("FI302", "klb/hr"),
                  ("FI303", "KPPH")], 1.0, 0, [], "header cells", id="field-spellings-in-headers"),
    # The unit row wins; a header unit that reads as another unit is noted, the same unit
    # written otherwise is not.
    pytest.param("Timestamp,FIC101 [kg/h],FIC102 [kg/h]\nUnits,klb/h,kg/hr\n",
                 [("FIC101", "klb/h"), ("FIC102", "kg/hr")], 1.0, 0,
                 [("FIC101", "klb/h", "kg/h")], "unit row, header cells", id="unit-row-over-header"),
]


@pytest.mark.parametrize("opening, tags, coverage, metadata, disagreements, source", UNITS)
def test_metadata_rows_and_header_units(tmp_path, opening, tags, coverage, metadata,
                                        disagreements, source):
    rows = "".join(f"2026-03-01 00:0{m}:00" + ",1" * len(tags) + "\n" for m in range(2))
    p = edge.profile_export(_write(tmp_path, opening + rows))
    assert [(t.name, t.unit) for t in p.tags] == tags
    assert _close(p.values["unit_coverage"].value, coverage)
    assert p.notes.metadata_rows_skipped == metadata
    assert list(p.notes.unit_disagreements) == disagreements
    assert p.values["n_rows"].value == 2 and p.values["missingness"].value == 0
    assert [(r.value, r.how) for r in p.files[0].reading if r.name == "unit_source"] == [
        (source, "detected")]


@pytest.mark.parametrize("text, header_line, reads", [
    # Two lines could each be the header and neither names a time column: refused.
    ("Area,North\nStamp,FIC101\n2026-03-01 00:00:00,1\n", None, "header_line"),
    ("Area,North\nStamp,FIC101\n2026-03-01 00:00:00,1\n", 2, ["FIC101"]),
    ("Area,North\nStamp,FIC101\n2026-03-01 00:00:00,1\n", 1, ["North"]),
    ("Title\nTime,A\n2026-03-01 00:00:00,1\n", 9, "header_line=9"),
    # One of the two names its time column: that one is the header.
    ("Plant,Unit 3\nTime,FIC101\n2026-03-01 00:00:00,1\n", None, ["FIC101"]),
])
def test_header_line_settles_two_candidates(tmp_path, text, header_line, reads):
    path = _write(tmp_path, text)
    if isinstance(reads, str):
        with pytest.raises(ValueError, match=reads):
            edge.profile_export(path, header_line=header_line)
        return
    p = edge.profile_export(path, header_line=header_line)
    assert [t.name for t in p.tags] == reads


@pytest.mark.parametrize("tag_list", [
    "[Tags]\nTag,Engunits\nFIC101,kg/h\nTI102,degC\n",
    "Tag Name;EngineeringUnits\nFIC101;kg/h\nTI102;degC\n",
    "Tag configuration export\nExported: 2026-03-01\n\nName,Description,Eng Units\n"
    "FIC101,Feed flow,kg/h\nTI102,Reactor temp,degC\n",
], ids=["section-line", "EngineeringUnits", "title-block"])
def test_tag_list_layouts(tmp_path, tag_list):
    export = _write(tmp_path, "Time,FIC101,TI102\n2026-03-01 00:00:00,1,2\n")
    p = edge.profile_export(export, tag_list=_write(tmp_path, tag_list, "tags.csv"))
    assert [(t.name, t.unit) for t in p.tags] == [("FIC101", "kg/h"), ("TI102", "degC")]
    assert p.values["unit_coverage"].value == 1.0
    assert [(r.value, r.how) for r in p.files[0].reading if r.name == "unit_source"] == [
        ("tag list", "given")]


# Footers in any piece of a split scan count as in one scan.
SPLIT = ("Report: area 2\n\nTime,A,B\n"
         + "".join(f"2026-03-01 00:{m:02d}:00,{m},{m % 3 or ''}\n" for m in range(40))
         + "Average,19.5,1.3\n(40 rows affected)\n").encode()
OPTIONS = _options.build(**{k: v for k, v in _PROFILE_OPTIONS.items() if k != "progress"})


def _pieces(cuts):
    opening, blobs, bounds = SPLIT, [], [0, *cuts, len(SPLIT)]  # the whole sample window
    for a, b in zip(bounds, bounds[1:]):
        inside = SPLIT[:a].count(b'"') % 2 == 1
        blobs.append(_native.scan_text("t.csv", a, opening, inside, OPTIONS, [SPLIT[a:b]]))
    merged = _native.merge_partials(blobs) if len(blobs) > 1 else blobs[0]
    return _from_native(_native.finalize_partial(merged, OPTIONS), ("t.csv",), OPTIONS)


@pytest.mark.parametrize("cuts", [[], [len(SPLIT) - 30], [len(SPLIT) - 25, len(SPLIT) - 12],
                                  [200, len(SPLIT) - 18]])
def test_footers_are_split_independent(cuts):
    p = _pieces(cuts)
    assert (p.notes.footer_rows, p.notes.unparsed_rows, p.notes.title_lines_skipped) == (2, 0, 2)
    assert p.values["n_rows"].value == 40
    assert p.values["missingness"].value == pytest.approx(14 / 80)
