"""A wide table through the Arrow stream is scanned with a few pieces in flight: the memory the
scan takes does not grow with the number of pieces times the number of tags."""
import json

import pytest

from isolated import run_isolated

# Measured in a child, so that the suite's own peak does not hide the scan's.
SOURCE = """
    import json, resource
    import numpy as np, pyarrow as pa
    import qorv_chemical_engineering_edge as edge
    tags, rows = {tags}, {rows}
    stamps = pa.array([f"2024-01-01T{{r // 3600 % 24:02d}}:{{r // 60 % 60:02d}}:{{r % 60:02d}}Z"
                       for r in range(rows)])
    values = pa.array(np.arange(rows, dtype=np.float64) % 97)
    table = pa.table([stamps] + [values] * tags,
                     names=["time"] + [f"T{{k:04d}}.PV" for k in range(tags)])
    edge.profile_export(table.slice(0, 10))  # the module's own first allocations
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    profile = edge.profile_export(table, threads=2)
    grown = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) // 1024
    print(json.dumps({{"grown_mb": grown, "tags": len(profile.tags),
                      "samples": sorted({{t.samples for t in profile.tags}})}}))
"""


@pytest.mark.parametrize("tags, rows", [
    (1000, 20000),  # ~40 pieces of a thousand tags each
    (2000, 10000),  # ~40 pieces of two thousand tags each
])
def test_wide_table_scan_memory_stays_bounded(tags, rows):
    pytest.importorskip("numpy")
    pytest.importorskip("pyarrow")
    done = run_isolated(SOURCE.format(tags=tags, rows=rows), timeout=120)
    assert done.returncode == 0, done.stderr[-4000:]
    seen = json.loads(done.stdout)
    assert (seen["tags"], seen["samples"]) == (tags, [rows])
    # Holding every piece's partial until the end took 94 and 185 MB here.
    assert seen["grown_mb"] < 48, seen
