"""Layouts as plant tools write them: paired time/value sheets, long tables with more value
columns, time over two columns, the time column anywhere; and the refusals where the evidence
for a layout is weak. Each row is a small export with its values worked out by hand.
"""
import json
import math
import subprocess
import sys

import pytest

import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge import _native, _options
from qorv_chemical_engineering_edge.profile import _PROFILE_OPTIONS, _from_native

T0 = "2026-03-01"


def profile_of(tmp_path, text, name="export.csv", **options):
    path = tmp_path / name
    path.write_bytes(text.encode("utf-8") if isinstance(text, str) else text)
    return edge.profile_export(str(path), **options)


def crlf(text):
    return text.replace("\n", "\r\n")


def check(p, layout, tags, rows, missingness, duplicates, span_h, samples):
    """The values every row of the tables below states: the layout read, the tags in order, the
    distinct instants (rows), missing and duplicate shares, span, and each tag's samples."""
    v = {name: value.value for name, value in p.values.items()}
    assert p.layout == layout
    assert [t.name for t in p.tags] == tags
    assert v["n_tags"] == len(tags)
    assert v["n_rows"] == rows
    assert math.isclose(v["missingness"], missingness, abs_tol=1e-12)
    assert math.isclose(v["duplicate_timestamps"], duplicates, abs_tol=1e-12)
    assert math.isclose(v["time_span_hours"], span_h, abs_tol=1e-9)
    assert [t.samples for t in p.tags] == samples


# ---- Paired: each tag's own time column beside its values -------------------------------------

# A spreadsheet add-in's compressed-data sheet: tags of different lengths, shorter ones padded
# with empty cells. FIC 4 records (one empty), TI 5 (one bad state), LIC 2: 11 records, 2
# missing; instants 00:00 00:00:30 00:01 00:01:30 00:02 00:03 (6); span 3 min.
SHEET = crlf(
    "Time,FIC101.PV,Time,TI102.PV,Time,LIC103.PV\n"
    f"{T0} 00:00:00,10.5,{T0} 00:00:00,80.1,{T0} 00:00:00,50\n"
    f"{T0} 00:01:00,10.7,{T0} 00:00:30,80.3,{T0} 00:02:00,51\n"
    f"{T0} 00:02:00,,{T0} 00:01:00,80.2,,\n"
    f"{T0} 00:03:00,10.9,{T0} 00:01:30,80.4,,\n"
    f",,{T0} 00:02:00,Bad Input,,\n")
# "TAG Time, TAG Value, TAG Quality": FIC 2 records (one of bad quality), TI 3; instants
# 00:00 00:05 00:10; span 10 min.
NAMED = (
    "FIC101 Time,FIC101 Value,FIC101 Quality,TI102 Time,TI102 Value\n"
    "01-Mar-2026 00:00:00,1.5,Good,01-Mar-2026 00:00:00,20\n"
    "01-Mar-2026 00:10:00,1.6,Bad,01-Mar-2026 00:05:00,21\n"
    ",,,01-Mar-2026 00:10:00,22\n")
# Tag names over a Time/Value row; TI repeats its 00:00 sample: 5 records, 1 duplicate (per tag
# and instant); instants 00:00 00:01 00:02.
TWO_ROWS = (
    '"FIC101.PV","","TI102.PV",""\n'
    '"Time","Value","Time","Value"\n'
    f"{T0}T00:00:00Z,5,{T0}T00:00:00Z,7\n"
    f"{T0}T00:01:00Z,5,{T0}T00:00:00Z,7\n"
    f"{T0}T00:02:00Z,6,,\n")


@pytest.mark.parametrize("text, options, tags, rows, missingness, duplicates, span_h, samples", [
    (SHEET, {}, ["FIC101.PV", "TI102.PV", "LIC103.PV"], 6, 2 / 11, 0, 3 / 60, [4, 5, 2]),
    (SHEET, {"layout": "paired"}, ["FIC101.PV", "TI102.PV", "LIC103.PV"], 6, 2 / 11, 0,
     3 / 60, [4, 5, 2]),
    (NAMED, {}, ["FIC101", "TI102"], 3, 1 / 5, 0, 10 / 60, [2, 3]),
    (TWO_ROWS, {}, ["FIC101.PV", "TI102.PV"], 3, 0, 1 / 5, 2 / 60, [3, 2]),
], ids=["compressed_sheet", "compressed_sheet_given", "tag_time_tag_value", "names_over_rows"])
def test_paired_exports(tmp_path, text, options, tags, rows, missingness, duplicates, span_h,
                        samples):
    p = profile_of(tmp_path, text, **options)
    check(p, "paired", tags, rows, missingness, duplicates, span_h, samples)
    assert p.notes.metadata_rows_skipped == 0
    assert p.notes.unparsed_rows == 0


def paired_sheet(lengths, step_s=(60, 30, 120)):
    """A compressed-data sheet of len(lengths) tags, the i-th with lengths[i] samples."""
    lines = ["Time,FIC101.PV,Time,TI102.PV,Time,LIC103.PV"]
    for r in range(max(lengths)):
        cells = []
        for i, n in enumerate(lengths):
            if r < n:
                s = r * step_s[i]
                cells += [f"{T0} {s // 3600:02d}:{s // 60 % 60:02d}:{s % 60:02d}",
                          "" if (r * 7 + i) % 90 == 0 else f"{r % 13}.5"]
            else:
                cells += ["", ""]
        lines.append(",".join(cells))
    return ("\n".join(lines) + "\n").encode()


def test_the_compressed_sheet_of_the_issue(tmp_path):
    # FIC every 60 s (80 samples, to 79 min), TI every 30 s (172, to 85.5 min), LIC every 120 s
    # (40, to 78 min): the sheet's 172 rows, whose instants are TI's, which the others fall on.
    # An empty value where (7r + i) % 90 == 0: FIC r=0, TI r=77 and r=167; 3 of 292 samples.
    p = profile_of(tmp_path, paired_sheet(LENGTHS).decode())
    assert [t.samples for t in p.tags] == [80, 172, 40]
    assert p.values["n_rows"].value == 172
    assert math.isclose(p.values["missingness"].value, 3 / 292)
    assert p.values["sampling_regular"].value is True


LENGTHS = (80, 172, 40)
OPTIONS = _options.build(**{k: v for k, v in _PROFILE_OPTIONS.items() if k != "progress"})


@pytest.mark.parametrize("cuts", [[3000], [2500, 2501, 4000], [2200, 3100, 5200, 7000]])
def test_a_paired_export_split_into_pieces_gives_the_whole_profile(cuts):
    text = paired_sheet(LENGTHS)
    opening = text  # a range is given the opening through its sample window: here, all of it

    def scan(pieces):
        blobs, offset = [], 0
        for piece in pieces:
            blobs.append(_native.scan_text("p.csv", offset, opening if offset else None, False,
                                           OPTIONS, [piece]))
            offset += len(piece)
        return _from_native(_native.finalize_partial(_native.merge_partials(blobs), OPTIONS),
                            ("p.csv",), OPTIONS)

    whole = scan([text])
    bounds = [0, *cuts, len(text)]
    split = scan([text[a:b] for a, b in zip(bounds, bounds[1:])])
    assert whole.layout == "paired"
    assert (split.values, split.tags) == (whole.values, whole.tags)


# ---- Long tables with more value columns --------------------------------------------------

# A SQL history view: Value for numbers, vValue for text. FIC 2 present; PUMP1 2 text records,
# one of quality 8 (bad: not connected): 4 records, 1 missing.
STRING_BESIDE = (
    "TagName,DateTime,Value,vValue,Quality\n"
    f"FIC101.PV,{T0} 00:00:00,1.5,,192\n"
    f"PUMP1.STATE,{T0} 00:00:00,,RUNNING,192\n"
    f"FIC101.PV,{T0} 00:01:00,1.6,,192\n"
    f"PUMP1.STATE,{T0} 00:01:00,,STOPPED,8\n")
# A SCADA tag-history table: typed value columns, a data-integrity code, t_stamp in epoch
# milliseconds (1772323200000 = 2026-03-01T00:00:00Z). 6 records, the last with no value.
TYPED = (
    "tagid,intvalue,floatvalue,stringvalue,datevalue,dataintegrity,t_stamp\n"
    "1,,21.5,,,192,1772323200000\n"
    "2,7,,,,192,1772323200000\n"
    "1,,21.7,,,192,1772323260000\n"
    "2,8,,,,192,1772323260000\n"
    "3,,,OPEN,,192,1772323260000\n"
    "1,,,,,192,1772323320000\n")
# Epoch seconds in a long table's time column.
EPOCH_S = (
    "Tag,Time,Value\n"
    "FIC101.PV,1772323200,1\nTI102.PV,1772323200,2\n"
    "FIC101.PV,1772326800,1\nTI102.PV,1772326800,\n")


@pytest.mark.parametrize("text, options, tags, rows, missingness, span_h, samples", [
    (STRING_BESIDE, {}, ["FIC101.PV", "PUMP1.STATE"], 2, 1 / 4, 1 / 60, [2, 2]),
    (TYPED, {}, ["1", "2", "3"], 3, 1 / 6, 2 / 60, [3, 2, 1]),
    (EPOCH_S, {}, ["FIC101.PV", "TI102.PV"], 2, 1 / 4, 1, [2, 2]),
], ids=["string_value_column", "typed_value_columns", "epoch_seconds"])
def test_long_tables_with_more_columns(tmp_path, text, options, tags, rows, missingness, span_h,
                                       samples):
    p = profile_of(tmp_path, text, **options)
    check(p, "long", tags, rows, missingness, 0, span_h, samples)
    assert p.notes.unparsed_rows == 0


@pytest.mark.parametrize("tag_table, names, units, coverage", [
    # A SCADA tag table: id, path, unit; the history's ids take the paths and their units.
    ("id,tagpath,units\n1,Area1/FIC101.PV,kg/h\n2,Area1/PUMP1.SPEED,rpm\n3,Area1/XV1.POS,\n",
     ["Area1/FIC101.PV", "Area1/PUMP1.SPEED", "Area1/XV1.POS"], ["kg/h", "rpm", ""], 2 / 3),
    # Without an id column the ids stay names, and no unit reaches them.
    ("tag,unit\nArea1/FIC101.PV,kg/h\n", ["1", "2", "3"], ["", "", ""], 0),
], ids=["ids_named", "no_id_column"])
def test_tag_ids_take_names_and_units_from_a_tag_table(tmp_path, tag_table, names, units,
                                                       coverage):
    (tmp_path / "tags.csv").write_text(tag_table)
    p = profile_of(tmp_path, TYPED, tag_list=str(tmp_path / "tags.csv"))
    assert [t.name for t in p.tags] == names
    assert [t.unit for t in p.tags] == units
    assert math.isclose(p.values["unit_coverage"].value, coverage)


def test_a_text_tag_beside_numbers_counts_its_texts_not_empties(tmp_path):
    p = profile_of(tmp_path, STRING_BESIDE)
    pump = p.tags[1]
    assert (pump.numeric, pump.present, pump.missing_empty, pump.missing_quality) == (
        False, 1, 0, 1)


# ---- Time over two columns, the time column anywhere --------------------------------------

DATE_TIME = (
    "Date,Time,FIC101.PV,TI102.PV\n"
    f"{T0},00:00:00,1,2\n{T0},00:00:30,1,\n{T0},00:01:00,1,2\n")
# A trend tool's export: time, milliseconds, a column per pen; day-first dates.
MILLIS = crlf(
    "Time,Milliseconds,Pane1-Pen1,Pane1-Pen2\n"
    "15/06/2004 01:17:25,0,1,10\n"
    "15/06/2004 01:17:25,500,2,NA\n"
    "15/06/2004 01:17:26,0,3,20\n"
    "15/06/2004 01:17:26,500,4,25\n")
ROW_NUMBER = (
    "No.,Timestamp,FIC101.PV\n"
    f"1,{T0} 00:00:00,5\n2,{T0} 00:01:00,6\n3,{T0} 00:02:00,7\n")
TIME_LAST = (
    "FIC101.PV,TI102.PV,Timestamp\n"
    f"1,2,{T0} 00:00:00\n1,,{T0} 00:01:00\n")
TIME_BETWEEN = (
    "FIC101.PV;Zeit;TI102.PV\n"
    f"1;{T0} 00:00:00;2\n1;;\n1;{T0} 00:01:00;\n")
TWO_AXES = (
    "Start,End,FIC101.PV\n"
    f"{T0} 00:00:00,{T0} 00:05:00,1\n{T0} 00:05:00,{T0} 00:10:00,2\n")


@pytest.mark.parametrize("text, options, tags, rows, missingness, duplicates, span_h", [
    (DATE_TIME, {}, ["FIC101.PV", "TI102.PV"], 3, 1 / 6, 0, 1 / 60),
    (DATE_TIME, {"timestamp_columns": ["Date", "Time"]}, ["FIC101.PV", "TI102.PV"], 3, 1 / 6,
     0, 1 / 60),
    (MILLIS, {"day_first": True}, ["Pane1-Pen1", "Pane1-Pen2"], 4, 1 / 8, 0, 1.5 / 3600),
    (ROW_NUMBER, {}, ["FIC101.PV"], 3, 0, 0, 2 / 60),
    (TIME_LAST, {}, ["FIC101.PV", "TI102.PV"], 2, 1 / 4, 0, 1 / 60),
    # The unparsed middle row is counted, not read; "Zeit" is found by its values.
    (TIME_BETWEEN, {"accept_unparsed_rows": True}, ["FIC101.PV", "TI102.PV"], 2, 1 / 4, 0,
     1 / 60),
    (TWO_AXES, {"timestamp_columns": ["End"]}, ["Start", "FIC101.PV"], 2, 0, 0, 5 / 60),
], ids=["date_and_time", "date_and_time_given", "time_and_milliseconds", "row_number",
        "time_last", "time_between", "one_of_two_axes_given"])
def test_time_columns(tmp_path, text, options, tags, rows, missingness, duplicates, span_h):
    p = profile_of(tmp_path, text, **options)
    check(p, "wide", tags, rows, missingness, duplicates, span_h, [rows] * len(tags))


@pytest.mark.parametrize("index_name", ["Time", None], ids=["named_index", "unnamed_index"])
def test_a_dataframe_with_a_datetime_index_through_arrow(index_name):
    pd = pytest.importorskip("pandas")
    pa = pytest.importorskip("pyarrow")
    frame = pd.DataFrame({"FIC101.PV": [1.0, 2.0, None, 4.0], "TI102.PV": [3.0, 4.0, 5.0, 6.0]},
                         index=pd.date_range("2026-03-01", periods=4, freq="min",
                                             name=index_name))
    table = pa.Table.from_pandas(frame)
    assert table.column_names[-1] != "FIC101.PV"  # the index arrives last
    p = edge.profile_export(table)
    check(p, "wide", ["FIC101.PV", "TI102.PV"], 4, 1 / 8, 0, 3 / 60, [4, 4])


# ---- Layouts under a report's opening -----------------------------------------------------

# Each row: an export with a title block, a footer or a unit row, then the layout, the tags with
# their units, distinct instants, missingness, each tag's samples, the header's line and the
# footer rows. The roles are decided under the header the opening finds, never under a title.
@pytest.mark.parametrize("text, layout, units, rows, missingness, samples, header, footers", [
    # An add-in's compressed sheet under a report title; TI102 ends early (padding).
    (crlf(f"Compressed data report\nServer: HIST01\n\nTime,FIC101,Time,TI102\n"
          f"{T0} 00:00:00,1,{T0} 00:00:00,5\n{T0} 00:01:00,2,{T0} 00:02:00,6\n"
          f"{T0} 00:02:00,3,,\n"),
     "paired", [("FIC101", ""), ("TI102", "")], 3, 0.0, [3, 2], 4, 0),
    # Tag names over Time/Value under a title: that row is the header's, not a rival header.
    (f"Report\n\nFIC101,,TI102,\nTime,Value,Time,Value\n{T0} 00:00:00,1,{T0} 00:00:00,5\n"
     f"{T0} 00:01:00,2,,\n",
     "paired", [("FIC101", ""), ("TI102", "")], 2, 0.0, [2, 1], 3, 0),
    # A summary row under paired groups is a footer, not two unparsed samples.
    (f"Time,FIC101,Time,TI102\n{T0} 00:00:00,1,{T0} 00:00:00,5\n"
     f"{T0} 00:01:00,2,{T0} 00:01:00,6\nAverage,1.5,Average,5.5\n",
     "paired", [("FIC101", ""), ("TI102", "")], 2, 0.0, [2, 2], 1, 1),
    # The time column last, its unit row labelled in the time cell.
    (f"A,B,Timestamp\nkg/h,degC,Units\n1,2,{T0} 00:00:00\n1,,{T0} 00:01:00\n",
     "wide", [("A", "kg/h"), ("B", "degC")], 2, 1 / 4, [2, 2], 1, 0),
    # A spreadsheet's padded key/value block over a row-numbered sheet with the time second:
    # the "Start time:" line's date is no data row, and the row numbers are no tag.
    (f"Report;Reactor trend;;\nStart time:;{T0} 00:00:00;;\n;;;\nNo;Time;FIC101;TI102\n"
     f"1;{T0} 00:00:00;1.5;80\n2;{T0} 00:00:10;1.6;\n",
     "wide", [("FIC101", ""), ("TI102", "")], 2, 1 / 4, [2, 2], 4, 0),
], ids=["paired_under_title", "paired_names_row_under_title", "paired_footer",
        "time_last_unit_row", "key_value_block_time_second"])
def test_layouts_under_an_opening(tmp_path, text, layout, units, rows, missingness, samples,
                                  header, footers):
    p = profile_of(tmp_path, text)
    v = {name: value.value for name, value in p.values.items()}
    assert p.layout == layout
    assert [(t.name, t.unit) for t in p.tags] == units
    assert v["n_rows"] == rows
    assert math.isclose(v["missingness"], missingness, abs_tol=1e-12)
    assert [t.samples for t in p.tags] == samples
    assert p.notes.footer_rows == footers and p.notes.unparsed_rows == 0
    assert ("header_line", str(header)) in [(r.name, r.value) for r in p.files[0].reading]


# ---- Refusals where the evidence is weak --------------------------------------------------

@pytest.mark.parametrize("text, options, said, option", [
    (TWO_AXES, {}, "two columns hold timestamps, 'Start'", "timestamp_columns="),
    (f"{T0} 00:00:00,1,2\n{T0} 00:01:00,1,2\n{T0} 00:02:00,1,2\n", {},
     "reads as data: its time cell '2026-03-01 00:00:00'", "layout="),
    ("Time,FIC101.PV\n1,5\n2,6\n3,7\n", {"timestamp_format": "unix_seconds"},
     "holds small integers (1 on line 2)", "timestamp_format"),
    ("Time,FIC101.PV\n1,5\n2,6\n3,7\n", {"timestamp_format": "excel_serial"},
     "holds small integers", "timestamp_columns="),
    # The format given wins over the values' ten digits, and seconds as milliseconds are 1970.
    (EPOCH_S, {"timestamp_format": "unix_milliseconds"}, "'Time' (column 2) holds small",
     "timestamp_format"),
    (f"Timestamp,Row,FIC101.PV\n{T0} 00:00:00,1,5\n{T0} 00:01:00,2,6\n{T0} 00:02:00,3,7\n"
     f"{T0} 00:03:00,4,8\n", {}, "'Row' (column 2) is named as a row number",
     "timestamp_columns="),
    # Under a title block too: the refused header is not passed over for the unit row.
    (f"Report\nServer: H1\nTime,Other,A\n,,kg/h\n{T0} 00:00:00,{T0} 01:00:00,1\n"
     f"{T0} 00:01:00,{T0} 01:01:00,2\n", {}, "two columns hold timestamps, 'Time'",
     "timestamp_columns="),
    (DATE_TIME, {"layout": "paired"}, "shows no tag whose time column", "layout='paired'"),
    (DATE_TIME, {"timestamp_columns": ["Datum"]}, "names 'Datum', which the header does not",
     "timestamp_columns"),
], ids=["two_time_axes", "header_is_data", "epoch_1970", "serial_1900", "format_given",
        "row_number_column", "two_time_axes_under_title",
        "paired_not_found", "unknown_time_column"])
def test_weak_evidence_is_refused_naming_the_option(tmp_path, text, options, said, option):
    with pytest.raises(ValueError) as caught:
        profile_of(tmp_path, text, **options)
    message = str(caught.value)
    assert said in message and option in message and "export.csv" in message


@pytest.mark.parametrize("columns, complaint", [
    ([], "one or two"), (["a", "b", "c"], "one or two"), ([" "], "one or two"),
])
def test_the_timestamp_columns_option_is_checked(tmp_path, columns, complaint):
    with pytest.raises(ValueError, match=complaint):
        profile_of(tmp_path, DATE_TIME, timestamp_columns=columns)


@pytest.mark.parametrize("text, args, layout, n_rows", [
    (DATE_TIME, ["--timestamp-columns", "Date, Time"], "wide", 3),
    (SHEET, ["--layout", "paired"], "paired", 6),
], ids=["two_time_columns", "paired"])
def test_the_cli_passes_the_layout_options(tmp_path, text, args, layout, n_rows):
    (tmp_path / "export.csv").write_text(text)
    run = subprocess.run([sys.executable, "-m", "qorv_chemical_engineering_edge", "profile",
                          str(tmp_path / "export.csv"), *args, "--json", "-"],
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    shown = json.loads(run.stdout)
    values = {v["name"]: v["value"] for v in shown["values"]}
    assert (shown["layout"], values["n_rows"]) == (layout, n_rows)


@pytest.mark.parametrize("text, options, facts", [
    (SHEET, {}, {"layout": ("paired", "detected"), "time_columns": ("Time, Time, Time", "detected"),
                 "value_columns": ("FIC101.PV, TI102.PV, LIC103.PV", "detected")}),
    (DATE_TIME, {}, {"time_columns": ("Date, Time (date, clock time)", "detected")}),
    (DATE_TIME, {"timestamp_columns": ["Date", "Time"]},
     {"time_columns": ("Date, Time (date, clock time)", "given")}),
    (MILLIS, {"day_first": True}, {"time_columns": ("Time, Milliseconds (milliseconds)",
                                                    "detected")}),
    (TYPED, {}, {"layout": ("long", "detected"), "time_columns": ("t_stamp", "detected"),
                 "timestamp_format": ("unix_milliseconds", "detected"),
                 "tag_column": ("tagid", "detected"),
                 "value_columns": ("intvalue, floatvalue, stringvalue, datevalue", "detected"),
                 "quality_columns": ("dataintegrity", "detected")}),
    (TIME_LAST, {"timestamp_format": "auto"}, {"time_columns": ("Timestamp", "detected"),
                                               "timestamp_format": ("auto", "default")}),
], ids=["paired", "date_and_time", "date_and_time_given", "milliseconds", "typed", "time_last"])
def test_the_roles_read_are_stated_as_reading_facts(tmp_path, text, options, facts):
    p = profile_of(tmp_path, text, **options)
    stated = {r.name: (r.value, r.how) for r in p.files[0].reading}
    assert {name: stated.get(name) for name in facts} == facts
