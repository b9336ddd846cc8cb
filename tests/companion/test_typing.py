"""The package and the module's stub package type-check: mypy --strict accepts the examples
and rejects a wrong argument type."""
import os
import subprocess
import sys

import pytest

pytest.importorskip("mypy")
EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples")


def mypy(*paths, cwd):
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                           "--cache-dir", os.devnull, *paths],
                          capture_output=True, text=True, cwd=cwd, timeout=300)


def test_examples_pass_strict(tmp_path):
    examples = [os.path.join(EXAMPLES, n) for n in ("quickstart.py", "make_distillation_export.py")]
    run = mypy(*examples, cwd=tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr


@pytest.mark.parametrize("line, complaint", [
    ('edge.grade(10, 1000, True, True, 0.05, "95%")', 'Argument 6 to "grade"'),
    ('edge.check_units([("kPa", 3)])', "incompatible type"),
    ('q.grade_readiness(10, 1000, True, True, 0.05, 0.95)["court"]', "court"),
    ('q.classify_unit_pair("kPa", 3)', "classify_unit_pair"),
    ('edge.profile_export("x.csv", threads="all")', "threads"),
])
def test_wrong_argument_types_are_rejected(tmp_path, line, complaint):
    misuse = tmp_path / "misuse.py"
    misuse.write_text("import qorv_chemical_engineering as q\n"
                      "import qorv_chemical_engineering_edge as edge\n\n" + line + "\n")
    run = mypy(str(misuse), cwd=tmp_path)
    assert run.returncode == 1, run.stdout
    assert complaint in run.stdout
