"""The profile of generated exports against the generator's own truth file.

The generator lives in the benchmark instruments beside the repository (../shared/bench/profile);
the test is skipped where they are not laid out.
"""

import json
import math
import os
import pathlib
import subprocess
import sys

import pytest

import qorv_chemical_engineering_edge as edge

pytest.importorskip("numpy")  # the generator needs it

_GENERATOR = pathlib.Path(
    os.environ.get(
        "QCE_MAKE_EXPORT",
        pathlib.Path(__file__).resolve().parents[2].parent / "shared/bench/profile/make_export.py",
    )
)

CASES = [
    # layout, rows, tags, extra generator arguments
    ("wide", 500, 7, []),
    ("wide", 3000, 12, ["--empty", "0.2", "--tokens", "0.05", "--dup-rows", "200", "--seed", "3"]),
    ("wide", 800, 3, ["--step-s", "15", "--no-unit-row", "--seed", "1"]),
    ("long", 300, 4, []),
    ("long", 1500, 9, ["--empty", "0.3", "--step-s", "1", "--seed", "2"]),
]


@pytest.mark.skipif(not _GENERATOR.is_file(), reason="benchmark instruments not laid out")
@pytest.mark.parametrize("layout,rows,tags,extra", CASES)
def test_profile_matches_truth(tmp_path, layout, rows, tags, extra):
    out = tmp_path / f"{layout}.csv"
    subprocess.run(
        [sys.executable, str(_GENERATOR), "--layout", layout, "--rows", str(rows),
         "--tags", str(tags), "--out", str(out), *extra],
        check=True, capture_output=True,
    )
    truth = json.loads(out.with_name(out.name + ".truth.json").read_text())
    values = {v.name: v.value for v in edge.profile_export(str(out)).values.values()}

    records = truth["data_rows"] * (truth["n_tags"] if layout == "wide" else 1)
    assert values["n_tags"] == truth["n_tags"]
    assert values["n_rows"] == (truth["data_rows"] if layout == "wide" else truth["distinct_timestamps"])
    assert values["missingness"] == pytest.approx(truth["missing_cells"] / records, rel=1e-12)
    assert values["duplicate_timestamps"] == pytest.approx(truth["duplicate_rows"] / truth["data_rows"], abs=1e-15)
    assert math.isclose(values["time_span_hours"], truth["time_span_hours"], rel_tol=1e-12)
    assert values["unit_coverage"] == pytest.approx(truth["tags_with_unit"] / truth["n_tags"], rel=1e-12)
    assert values["sampling_regular"] is True
