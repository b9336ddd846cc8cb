"""The text output tells what the reader did: how the export was read and every note that
changes a number, in lines that fit the terminal; a closed pipe ends a run quietly; every option
of qce says what it does."""
import json
import os
import re
import subprocess
import sys

import pytest

import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge import _names, _render, cli
from export_files import write_export

QCE = [sys.executable, "-m", "qorv_chemical_engineering_edge"]


def qce(*args, cwd=None, columns=None):
    env = dict(os.environ)
    if columns is not None:
        env["COLUMNS"] = str(columns)
    run = subprocess.run([*QCE, *args], capture_output=True, text=True, timeout=120, cwd=cwd,
                         env=env)
    assert "Traceback" not in run.stderr
    return run


def block(text, head):
    """The block of `text` starting at the line `head`, up to the next blank line."""
    lines = text.splitlines()
    at = lines.index(head)
    end = lines.index("", at) if "" in lines[at:] else len(lines)
    return "\n".join(lines[at:end])


# A spreadsheet-style wide export, CRLF, a units row, minutes 00:00 to 00:29 on lines 3 to 32;
# line 33 is no timestamp; from line 34 the clock, set back ten minutes, repeats 00:20 to 00:29.
PLANT = "Time,FIC101.PV,TI102.PV\r\nUnits,kg/h,degC\r\n" + "".join(
    f"2026-03-02 00:{m:02d}:00,{m}.5,20\r\n" for m in range(30)) + "garbage,1.7,22\r\n" + "".join(
    f"2026-03-02 00:{m:02d}:00,{m}.5,21\r\n" for m in range(20, 30))

# Each row: file name, its text, options, the notes block the text output shows (worked out by
# hand from the file).
NOTE_CASES = [
    ("plant.csv", PLANT, {},
     "notes\n"
     "rows with an unparsed timestamp  1\n"
     "first unparsed rows              plant.csv:33\n"
     "likely clock changes             plant.csv:34 at 2026-03-02T00:20:00Z\n"
     # FIC101.PV climbs one unit a minute: every inner sample lies on its neighbours' line.
     "interpolated tags                FIC101.PV"),
    # A descriptor row above the units row; blank lines between rows; one row short of a cell.
    ("blocks.csv",
     "Time,A.PV,B.PV\nDescriptor,feed,return\nUnits,kPa,kPa\n2026-01-01 00:00,1,2\n\n"
     "2026-01-01 00:01,3\n\n2026-01-01 00:02,5,6\n", {},
     "notes\n"
     "metadata rows skipped                          1\n"
     "blank lines skipped                            2\n"
     "rows with more or fewer cells than the header  1"),
    # Texts in a numeric tag, a unit no court knows; the tag list gives B another unit.
    ("texts.csv",
     "Time,A,B\nUnits,furlong/fortnight,kPa\n2026-01-01 00:00,1,I/O Timeout\n"
     "2026-01-01 00:01,spare,3\n2026-01-01 00:02,n/a,I/O Timeout\n", {"tag_list": {"B": "bar"}},
     "notes\n"
     "units not recognised (× tags)           furlong/fortnight ×1\n"
     "bad-state texts (× cells)               I/O Timeout ×2, N/A ×1\n"
     "other texts, counted missing (× cells)  spare ×1\n"
     "unit disagreements                      B unit bar other kPa"),
    # Spring and autumn in a zone with daylight saving: one time moved, two read as second.
    ("dst.csv",
     "Time,A\n2026-03-29 01:30,1\n2026-03-29 02:30,2\n2026-03-29 03:30,3\n"
     "2026-10-25 02:00,4\n2026-10-25 02:30,5\n2026-10-25 02:00,6\n2026-10-25 02:30,7\n",
     {"tz": "Europe/Berlin"},
     "notes\n"
     "times in the spring gap, moved         1\n"
     "repeated-hour rows read as the second  2"),
    # A stray quote read as one cell, as asked.
    ("quote.csv",
     "Time,A,Note\n2026-01-01 00:00,1,\"opened\n2026-01-01 00:01,2,x\n2026-01-01 00:02,3,"
     "closed\"\n2026-01-01 00:03,4,y\n", {"accept_multiline_fields": True},
     "notes\n"
     "other texts, counted missing (× cells)  opened\\n2026-01-01 00:01,2,x\\n2026-01-01 00:02,3,"
     "closed ×1, y ×1\n"
     "quoted fields read as cells             1\n"
     "line ends inside them                   2\n"
     "the first of them                       quote.csv:2 line ends 2"),
]


@pytest.mark.parametrize("name, text, options, expected", NOTE_CASES,
                         ids=[c[0] for c in NOTE_CASES])
def test_text_output_shows_every_note_that_changes_a_number(tmp_path, monkeypatch, name, text,
                                                           options, expected):
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("COLUMNS", "200")
    (tmp_path / name).write_bytes(text.encode())
    profile = edge.profile_export(name, **options)
    report = edge.grade_export(name, **options)
    assert block(str(profile), "notes") == expected
    assert block(str(report), "notes") == expected


def test_qce_shows_the_reading_and_the_notes(tmp_path):
    (tmp_path / "plant.csv").write_bytes(PLANT.encode())
    tail = ("row_order         oldest_first  detected\n"
            "header_line                  1  detected\ntitle_lines                  0  detected\n"
            "unit_source       unit row      detected\n"
            "time_columns      Time          detected\ntimestamp_format  auto          default")
    reading = {
        how: "how the export was read\nplant.csv: 40 data rows\n"
             "read              as            how\n----------------  ------------  --------\n"
             f"encoding          utf-8         default\ndelimiter         ','           {how}\n"
             f"decimal           '.'           default\nlayout            wide          {how}\n"
             + tail
        for how in ("detected", "given")}
    for command in ("profile", "readiness"):
        plain = qce(command, "plant.csv", cwd=tmp_path)
        assert block(plain.stdout, "how the export was read") == reading["detected"]
        assert block(plain.stdout, "notes") == NOTE_CASES[0][3]
        given = qce(command, "plant.csv", "--layout", "wide", "--delimiter", ",", cwd=tmp_path)
        assert block(given.stdout, "how the export was read") == reading["given"]


def test_a_note_the_renderer_has_no_words_for_is_shown_by_its_key():
    quiet = {"unparsed_rows": 0, "complete": True, "clock_changes": []}
    notes = {"unparsed_rows": 0, "complete": False, "clock_changes": [],
             "censored_values": [{"text": "<0.5", "count": 3}], "newest_first": True,
             "first_footer_row": {"file": "f.csv", "line": 9, "rows": 2}, "unused": None,
             "paths": [{"base": "FIC1601/PID1", "fields": ["PV.CV", "SP.CV"]}],
             "many": list(range(12))}
    assert _render.note_items(notes, quiet, {"complete": "all listed"}) == [
        ("all listed", "no"), ("censored values", "<0.5 ×3"), ("newest first", "yes"),
        ("first footer row", "f.csv:9 rows 2"), ("paths", "FIC1601/PID1 (PV.CV/SP.CV)"),
        ("many", "0, 1, 2, 3, 4, 5, 6, 7, 8, 9 … and 2 more in the JSON")]


@pytest.mark.parametrize("command, columns", [
    ("profile", 60), ("readiness", 60), ("readiness", 72), ("profile", 40),
])
def test_lines_fit_the_terminal_and_no_number_is_cut(tmp_path, command, columns):
    path = tmp_path / "plant.csv"
    path.write_bytes(PLANT.replace("FIC101.PV", "REACTOR_FEED_FLOW_CONTROLLER_101.PV").encode())
    declared = ["--license-cleared"] if command == "readiness" else []
    run = qce(command, "plant.csv", *declared, cwd=tmp_path, columns=columns)
    assert run.returncode in (0, 1), run.stderr
    wide = [line for line in run.stdout.splitlines() if len(line) > columns]
    assert wide == []
    full = qce(command, "plant.csv", *declared, "--json", "-", cwd=tmp_path)
    data = json.loads(full.stdout)
    words = " ".join(run.stdout.split())
    joined = run.stdout.replace(" ", "").replace("\n", "")
    profile = data.get("profile", data)
    for finding in data.get("findings", []):  # every message whole, its words in order
        assert " ".join(finding["message"].split()) in words
    for value in profile["values"]:  # a row of the table, or a block of its own
        assert re.search(rf"\b{value['name']} (value )?\S+ (provenance )?{value['provenance']}\b",
                         words)
    assert profile["seal"] in joined  # a seal split in groups, never cut
    for tag in profile["tags"] if command == "profile" else []:  # the report has no tag table
        assert tag["name"] in run.stdout.split()
    assert "plant.csv:34" in words and "2026-03-02T00:20:00Z" in words


# The reader goes away before the first byte ("closed": every write fails) or after the first
# line (`| head -1`: a write under way when it goes may end short without an error, or fail).
@pytest.mark.parametrize("args, reader, codes", [
    (["profile", "{export}"], "closed", {1}),
    (["readiness", "{export}"], "closed", {1}),
    (["profile", "{export}", "--json", "-"], "closed", {1}),
    (["units", "kPa", "Pa"], "closed", {1}),
    (["profile", "{export}", "--json", "-"], "head", {0, 1}),
    (["readiness", "{export}", "--json", "-"], "head", {0, 1}),
    (["units", "--pairs", "{pairs}", "--json", "-"], "head", {0, 1}),
])
def test_a_closed_pipe_ends_the_run_quietly(tmp_path, args, reader, codes):
    pairs = tmp_path / "pairs.csv"
    pairs.write_text("a_unit,b_unit\n" + "kg/h,t/h\n" * 3000)
    export = tmp_path / "big.csv"
    write_export(export, 5, rows=50, tags=600, step_s=60)
    fill = {"export": str(export), "pairs": str(pairs)}
    writer = subprocess.Popen([*QCE, *(a.format(**fill) for a in args)], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
    if reader == "head":
        head = subprocess.run(["head", "-1"], stdin=writer.stdout, capture_output=True,
                              timeout=120)
        assert head.stdout == b"{\n"
    writer.stdout.close()  # the last reading end: the pipe is closed
    _, stderr = writer.communicate(timeout=120)
    assert stderr == b""
    assert writer.returncode in codes


def subparsers():
    parser = cli._build_parser()
    commands = next(a for a in parser._actions if a.dest == "command")
    return commands.choices


def named(text, choice):
    shown = repr(choice) if len(choice) == 1 and not choice.isalnum() else choice
    return re.search(rf"(^|[\s,(]){re.escape(shown)}($|[\s,);:])", text) is not None


@pytest.mark.parametrize("command", ["readiness", "profile", "units"])
def test_help_says_what_each_option_does_and_names_its_choices(command):
    parser = subparsers()[command]
    assert [a.dest for a in parser._actions if not a.help] == []
    shown = " ".join(qce(command, "--help", columns=100).stdout.split())
    with_choices = [a for a in parser._actions if a.choices and a.option_strings]
    assert with_choices
    for action in with_choices:
        text = action.help % {"default": action.default}
        assert action.metavar and "{" not in action.metavar  # not {,,;,tab,|} in the usage
        unnamed = [c for c in action.choices if not named(text, c)]
        assert unnamed == [], (action.dest, text)
        if isinstance(action.default, str):
            assert named(text, action.default) and "default" in text, (action.dest, text)
        assert " ".join(text.split()) in shown


def test_an_option_added_with_bare_choices_is_made_readable():
    parser = cli._Parser(prog="qce")
    parser.add_argument("--quality", choices=("auto", "opc_da", "opc_ua"), default="auto",
                        help="how quality codes read")
    parser.add_argument("--mark", choices=(".", ","), default=".")
    parser.add_argument("--order", choices=("first", "last"), help="first or last")
    cli._readable(parser)
    said = {a.dest: (a.metavar, a.help) for a in parser._actions if a.choices}
    assert said == {
        "quality": ("QUALITY", "how quality codes read; one of auto, opc_da or opc_ua "
                               "(default: auto)"),
        "mark": ("MARK", "one of '.' or ',' (default: '.')"),
        "order": ("ORDER", "first or last"),
    }


def test_html_report_shows_how_the_export_was_read_near_the_top(tmp_path):
    path = tmp_path / "plant.csv"
    path.write_bytes(PLANT.encode())
    page = edge.grade_export(str(path), delimiter=",").to_html()
    reading = page.index('<table id="reading"')
    assert page.index("<h1>") < reading < page.index("<h2>Findings</h2>")
    assert ("<td>layout</td><td><code>wide</code></td><td class=\"prov\">detected</td>"
            in page[reading:])
    assert "<td>delimiter</td><td><code>&#x27;,&#x27;</code></td><td class=\"prov\">given</td>" \
        in page[reading:]
    assert f"<td>{path}:33</td>" in page
