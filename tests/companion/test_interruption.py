"""Stopping a long scan: Ctrl-C, or a progress callable that raises, ends it at once.

Each case runs in a child process on an export that takes seconds to scan (one file named many
times over, or an Arrow table of it repeated). The stop must arrive well before the scan could
have finished on its own.
"""
import json

import pytest

from export_files import write_large
from isolated import run_isolated

# Scanning the whole of each export takes several seconds; a stop must come within this.
PROMPT_S = 1.5

CHILD = """
import json, os, signal, sys, threading, time
import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge.cli import main

paths, trigger, via, out = {paths!r}, {trigger!r}, {via!r}, {out!r}
marks = {{}}
raised = LookupError("the callable's own")

def progress(done, total):
    marks.setdefault("first", done)
    if trigger == "raise":
        marks["at"] = time.monotonic()
        raise raised

def interrupt():
    time.sleep(0.5)
    marks["at"] = time.monotonic()
    os.kill(os.getpid(), signal.SIGINT)

source = paths
if via == "arrow":  # one table, rendered to text as it is scanned
    import pyarrow as pa, pyarrow.csv
    source = pa.concat_tables([pyarrow.csv.read_csv(paths[0])] * (len(paths) // 2))
if trigger == "signal":
    threading.Thread(target=interrupt, daemon=True).start()
try:
    if via == "cli":
        outcome = "exit %d" % main(["profile", *paths, "--json", out])
    else:
        edge.profile_export(source, progress=progress if via == "progress" else None)
        outcome = "finished"
except BaseException as error:
    outcome = type(error).__name__ + (" (same object)" if error is raised else "")
print(json.dumps({{"outcome": outcome, "after": time.monotonic() - marks["at"],
                   "written": os.path.exists(out)}}))
"""


@pytest.fixture(scope="module")
def exports(tmp_path_factory):
    folder = tmp_path_factory.mktemp("large")
    write_large(folder / "plant.csv", 40)
    write_large(folder / "plant.csv.gz", 40, gz=True)
    return folder


@pytest.mark.parametrize("name, trigger, via, expected", [
    ("csv", "signal", "plain", "KeyboardInterrupt"),
    ("csv", "signal", "progress", "KeyboardInterrupt"),
    ("csv.gz", "signal", "plain", "KeyboardInterrupt"),
    ("csv", "signal", "cli", "exit 130"),
    ("csv", "raise", "progress", "LookupError (same object)"),
    ("csv", "signal", "arrow", "KeyboardInterrupt"),
])
def test_a_stop_ends_the_scan_at_once(exports, name, trigger, via, expected):
    if via == "arrow":
        pytest.importorskip("pyarrow")
    # Plain text scans fast: enough copies that the scan outlasts the half second before the stop.
    copies = 8 if name == "csv.gz" or via == "arrow" else 64
    paths = [str(exports / f"plant.{name}")] * copies
    out = str(exports / f"{name}-{trigger}-{via}.json")
    done = run_isolated(CHILD.format(paths=paths, trigger=trigger, via=via, out=out), timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    seen = json.loads(done.stdout.splitlines()[-1])
    assert seen["outcome"] == expected
    assert seen["after"] < PROMPT_S, f"stopped {seen['after']:.2f} s after the stop was asked"
    if via == "cli":
        assert not seen["written"]
