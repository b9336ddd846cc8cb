"""Importing the module into a second interpreter of the same process is refused.

Each case runs in a fresh process, since a sub-interpreter import may leave state behind.
"""
import json
import os
import subprocess
import sys

import pytest

import qorv_chemical_engineering as qce

DRIVER = r'''
import json, os, sys, tempfile
import qorv_chemical_engineering as main_module

kind = sys.argv[1]
fd, path = tempfile.mkstemp()
os.close(fd)
code = """
import json, sys
outcomes = []
for attempt in range(2):
    try:
        import qorv_chemical_engineering as m
        outcomes.append(["imported", m.classify_unit_pair("kPa", "Pa")])
    except BaseException as error:
        outcomes.append([type(error).__name__, str(error)])
    sys.modules.pop("qorv_chemical_engineering", None)
with open(%r, "w") as f:
    json.dump(outcomes, f)
""" % path
if kind == "legacy":
    try:
        from _testcapi import run_in_subinterp
    except ImportError:
        print(json.dumps({"skip": "no _testcapi.run_in_subinterp"}))
        sys.exit(0)
    run_in_subinterp(code)
else:
    try:
        import _interpreters as interpreters
    except ImportError:
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            print(json.dumps({"skip": "no sub-interpreter module"}))
            sys.exit(0)
    interpreter = interpreters.create()
    interpreters.run_string(interpreter, code)
    interpreters.destroy(interpreter)
with open(path) as f:
    outcomes = json.load(f)
os.unlink(path)
print(json.dumps({
    "outcomes": outcomes,
    "main": [main_module.classify_unit_pair("kPa", "Pa"),
             main_module.grade_readiness(10, 1000, True, True, 0.0, 1.0)["n_caveat"],
             sys.modules["qorv_chemical_engineering"] is main_module],
}))
'''


def run_driver(kind):
    env = dict(os.environ)
    search = [os.path.dirname(os.path.abspath(qce.__file__))]
    env["PYTHONPATH"] = os.pathsep.join(search + [p for p in env.get("PYTHONPATH", "").split(os.pathsep) if p])
    done = subprocess.run([sys.executable, "-c", DRIVER, kind], env=env, capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    report = json.loads(done.stdout.strip().splitlines()[-1])
    if "skip" in report:
        pytest.skip(report["skip"])
    return report


def test_legacy_sub_interpreter_is_refused_by_the_module():
    report = run_driver("legacy")
    assert [kind for kind, _ in report["outcomes"]] == ["ImportError", "ImportError"]
    for _, message in report["outcomes"]:
        assert "sub-interpreter" in message
    assert report["main"] == ["scale_mismatch", 5, True]


@pytest.mark.skipif(sys.version_info < (3, 12), reason="isolated sub-interpreters arrived in 3.12")
def test_isolated_sub_interpreter_is_refused():
    report = run_driver("isolated")
    assert [kind for kind, _ in report["outcomes"]] == ["ImportError", "ImportError"]
    assert report["main"] == ["scale_mismatch", 5, True]
