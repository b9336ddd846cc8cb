"""A plain export is read by mapping its pieces. One truncated while it is being profiled must
end in a clear error naming it (or, when the scan had read every byte before, the profile of the
whole file), never a bus error that ends the process. The truncation happens from the progress
callback, on the calling thread, while a worker holds later pieces mapped; each row is one size
the file is cut to: on a page boundary, inside a page, to nothing.
"""
import json

import pytest

from isolated import run_isolated

CHILD = """
import json, os
import qorv_chemical_engineering_edge as edge
path, cut_to = {path!r}, {cut_to}
whole = edge.profile_export(path, threads=1).seal
with open(path, "ab"):
    pass
cut = []
def progress(done, total):
    if not cut:
        os.truncate(path, cut_to)
        cut.append(done)
out = {{}}
try:
    out["same"] = edge.profile_export(path, threads={threads}, progress=progress).seal == whole
except ValueError as e:
    out["error"] = str(e)
print(json.dumps(out))
"""


@pytest.fixture(scope="module")
def export_bytes():
    rows = 1_100_000  # about 35 MB: several pieces
    return ("timestamp,A.PV,B.PV,C.PV\n" + "".join(
        f"2024-01-01 {i // 3600 % 24:02d}:{i // 60 % 60:02d}:{i % 60:02d},"
        f"{i % 97}.25,{i % 13}.5,{i % 7}\n" for i in range(rows))).encode()


@pytest.mark.parametrize("cut_to", [8 << 20, (9 << 20) + 123, 0])
@pytest.mark.parametrize("threads", [1, 2])
def test_export_truncated_while_read(tmp_path, export_bytes, cut_to, threads):
    path = tmp_path / "shrinking.csv"
    path.write_bytes(export_bytes)
    assert path.stat().st_size > 32 << 20
    done = run_isolated(CHILD.format(path=str(path), cut_to=cut_to, threads=threads), timeout=120)
    assert done.returncode == 0, done.stderr[-4000:]
    out = json.loads(done.stdout)
    if "error" in out:
        assert str(path) in out["error"]
    else:
        assert out["same"], out
