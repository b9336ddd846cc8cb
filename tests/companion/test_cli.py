"""The qce command: every exit code, one-line reasons, never a traceback."""
import gzip
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

from export_files import write_export


def qce(*args, stdin=None):
    run = subprocess.run([sys.executable, "-m", "qorv_chemical_engineering_edge", *args],
                         capture_output=True, text=True, input=stdin, timeout=120)
    assert "Traceback" not in run.stderr
    return run


@pytest.fixture
def export(tmp_path):
    path = tmp_path / "export.csv"
    write_export(path, 3, rows=300, tags=6, step_s=600)
    return str(path)


@pytest.mark.parametrize("flags, code", [
    ([], 1),                                          # no licence: a critical witness missing
    (["--license-cleared", "--baseline-present"], 0),  # caveats only
    (["--license-cleared", "--baseline-present", "--strict"], 1),
    (["--license-cleared"], 1),                       # no baseline
])
def test_readiness_exit_codes(export, flags, code):
    run = qce("readiness", export, *flags)
    assert run.returncode == code, run.stderr
    assert run.stdout.split(":")[0] in ("ReadyWithCaveats", "NotReadyMissingCriticalWitnesses",
                                        "Ready")
    assert "court_hash" in run.stdout


def test_readiness_json_to_stdout_is_the_report(export):
    run = qce("readiness", export, "--license-cleared", "--baseline-present", "--json", "-")
    assert run.returncode == 0
    report = json.loads(run.stdout)
    assert report["schema"] == "qce.export_report/3"
    assert len(report["findings"]) == 13


def test_readiness_writes_json_and_html_files(export, tmp_path):
    out_json, out_html = tmp_path / "r.json", tmp_path / "r.html"
    run = qce("readiness", export, "--json", str(out_json), "--html", str(out_html))
    assert run.returncode == 1
    assert json.loads(out_json.read_text())["verdict"] == "NotReadyMissingCriticalWitnesses"
    assert out_html.read_text().startswith("<!DOCTYPE html>")


@pytest.mark.parametrize("args, names", [
    (["readiness", "{missing}"], "absent.csv"),
    (["readiness", "{dir}"], "{dir}"),
    (["readiness", "{garbage}"], "garbage.bin"),
    (["readiness", "{export}", "--tz", "Mars/Olympus"], "Mars/Olympus"),
    (["readiness", "{export}", "--baseline", "yesterday"], "baseline"),
    (["readiness", "{export}", "--layout", "diagonal"], "layout"),
    (["readiness", "{export}", "--tag-list", "{missing}"], "absent.csv"),
    (["readiness"], "EXPORT"),
    (["readiness", "{export}", "--no-such-flag"], "--no-such-flag"),
    (["profile", "{missing}"], "absent.csv"),
    (["units", "kPa"], "two units"),
    (["units", "--pairs", "{missing}"], "absent.csv"),
    (["units", "m", "m", "--court", "v9"], "court"),
    (["units", "--tags", "{export}"], "--model"),
    (["units", "--tags", "{export}", "--model", "{missing}"], "absent.csv"),
    (["units", "--tags", "{export}", "--model", "{garbage}"], "garbage.bin"),
    (["units", "kPa", "Pa", "--tags", "{export}", "--model", "{export}"], "unit pairs"),
    ([], "command"),
])
def test_usage_and_input_errors_exit_2_with_one_line(tmp_path, export, args, names):
    garbage = tmp_path / "garbage.bin"
    garbage.write_bytes(bytes(range(256)) * 64)
    fill = {"missing": str(tmp_path / "absent.csv"), "dir": str(tmp_path), "export": export,
            "garbage": str(garbage)}
    run = qce(*(a.format(**fill) for a in args))
    assert run.returncode == 2
    lines = run.stderr.strip().splitlines()
    assert len(lines) == 1, run.stderr
    assert names.format(**fill) in lines[0]


def test_profile_prints_values_and_tags(export):
    run = qce("profile", export)
    assert run.returncode == 0, run.stderr
    for word in ("n_tags", "derived", "FIC100.SP", "profile seal"):
        assert word in run.stdout


@pytest.mark.parametrize("args, code, word", [
    (["units", "kg/h", "KG/H", "--court", "v1"], 0, "consistent"),
    (["units", "kPa", "Pa", "--court", "v1"], 1, "scale_mismatch"),
    (["units", "degF", "degC"], 1, "affine_offset_hazard"),
    (["units", "barg", "bara"], 1, "pressure_reference_mismatch"),
])
def test_units_exit_codes(args, code, word):
    run = qce(*args)
    assert run.returncode == code, run.stderr
    assert word in run.stdout and "court_hash" in run.stdout


def test_units_pairs_file_with_and_without_header(tmp_path):
    with_header = tmp_path / "pairs.csv"
    with_header.write_text("context,a_unit,b_unit\nreboiler,degC,K\nfeed,kg/h,kg/h\n")
    run = qce("units", "--pairs", str(with_header), "--court", "v1", "--json", "-")
    assert run.returncode == 1
    record = json.loads(run.stdout)
    assert [f["context"] for f in record["findings"]] == ["reboiler", "feed"]
    plain = qce("units", "--pairs", "-", "--court", "v1", stdin="kg/h,kg/h\nm,m\n")
    assert plain.returncode == 0, plain.stderr


TAGGED_EXPORT = ("Timestamp,TI101,PI101\nUnits,degC,barg\n"
                 + "".join(f"2026-01-05 00:0{m}:00,80.5,2.25\n" for m in range(4)))


@pytest.mark.parametrize("model, tag_list, code, hazards", [
    ("tag,unit\nTI101,degC\nPI101,barg\n", None, 0, []),
    ("Tag;Unit\nTI101;K\nPI101;bara\n", None, 1,
     ["affine_offset_hazard", "pressure_reference_mismatch"]),
    ("tag,unit\nXI999,kg/h\n", None, 1, ["missing_unit"]),   # the export lacks the tag
    ("tag,unit\nTI101,K\n", "tag,unit\nTI101,K\n", 0, []),  # the tag list's unit wins
])
def test_units_of_an_export_against_a_model(tmp_path, model, tag_list, code, hazards):
    export, model_file = tmp_path / "export.csv", tmp_path / "model.csv"
    export.write_text(TAGGED_EXPORT)
    model_file.write_text(model)
    args = ["units", "--tags", str(export), "--model", str(model_file), "--json", "-"]
    if tag_list is not None:
        (tmp_path / "tags.csv").write_text(tag_list)
        args += ["--tag-list", str(tmp_path / "tags.csv")]
    run = qce(*args)
    assert run.returncode == code, run.stderr
    findings = json.loads(run.stdout)["findings"]
    assert [f["hazard"] for f in findings if f["hazard"] != "consistent"] == hazards
    assert len(findings) == model.count("\n") - 1  # one per tag of the model


BOM = b"\xef\xbb\xbf"
PAIRS = b"a_unit,b_unit\ndegC,K\nkg/h,kg/h\n"
BOM_INPUTS = [  # (file name, its content (None: the export's), the command reading it as FILE)
    ("pairs.csv", PAIRS, ["units", "--pairs", "FILE"]),
    ("context.csv", b"context,a_unit,b_unit\nreboiler,degC,K\nfeed,kg/h,kg/h\n",
     ["units", "--pairs", "FILE"]),
    ("plain.csv", b"degC,K\nkg/h,kg/h\n", ["units", "--pairs", "FILE"]),
    ("-", PAIRS, ["units", "--pairs", "-"]),
    ("tags.csv", b"Tag,Unit\nFIC100.SP,kg/h\nTI200,degC\n",
     ["profile", "EXPORT", "--tag-list", "FILE"]),
    ("export.csv", None, ["profile", "FILE"]),
    ("export.csv.gz", None, ["profile", "FILE"]),
    ("second.csv", None, ["profile", "EXPORT", "FILE"]),
]


@pytest.mark.parametrize("name, data, args", BOM_INPUTS, ids=[" ".join(c[2]) + " " + c[0]
                                                              for c in BOM_INPUTS])
def test_one_byte_order_mark_is_not_content(tmp_path, export, name, data, args):
    seen = []
    for mark in (b"", BOM):
        content = mark + (Path(export).read_bytes() if data is None else data)
        path = tmp_path / (("bom-" if mark else "") + name)
        if name != "-":
            path.write_bytes(gzip.compress(content, mtime=0) if name.endswith(".gz") else content)
        argv = [{"FILE": str(path), "EXPORT": export}.get(a, a) for a in args]
        run = subprocess.run([sys.executable, "-m", "qorv_chemical_engineering_edge", *argv,
                              "--json", "-"], capture_output=True, timeout=120,
                             input=content if name == "-" else None)
        assert run.returncode in (0, 1), run.stderr
        r = json.loads(run.stdout)
        # What the run concluded, less what names the files or covers their bytes.
        seen.append((r["assertions_checked"], r["court_hash"]) if "court_hash" in r
                    else (r["values"], r["tags"], r["notes"]))
    assert seen[1] == seen[0]
    if args[0] == "units":
        assert seen[0][0] == 2


@pytest.mark.parametrize("command", [[], ["readiness"], ["profile"], ["units"]])
def test_help_for_every_command(command):
    run = qce(*command, "--help")
    assert run.returncode == 0
    assert "usage: qce" in run.stdout


def test_console_script_is_installed():
    scripts = os.path.dirname(sys.executable)
    assert os.path.exists(os.path.join(scripts, "qce"))


def test_progress_bar_only_on_a_terminal(export):
    pty = pytest.importorskip("pty")
    pytest.importorskip("tqdm")
    import fcntl
    import struct
    import termios

    controller, terminal = pty.openpty()
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    run = subprocess.run([sys.executable, "-m", "qorv_chemical_engineering_edge", "profile",
                          export], stdout=subprocess.PIPE, stderr=terminal, timeout=120)
    os.close(terminal)
    shown = b""
    try:
        while True:
            chunk = os.read(controller, 65536)
            if not chunk:
                break
            shown += chunk
    except OSError:  # the terminal is closed once everything is read
        pass
    os.close(controller)
    assert run.returncode == 0
    assert b"profiling" in shown
    piped = qce("profile", export)
    assert piped.returncode == 0 and piped.stderr == ""
