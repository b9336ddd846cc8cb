"""A second interpreter of the same process cannot import the module; the first keeps working.

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
fd, path = tempfile.mkstemp()
os.close(fd)
code = """if True:
    import json, sys
    outcomes = []
    for attempt in range(2):
        try:
            import qorv_chemical_engineering as m
            outcomes.append(["imported", m.version()])
        except BaseException as error:
            outcomes.append([type(error).__name__, str(error)])
        sys.modules.pop("qorv_chemical_engineering", None)
    with open(%r, "w") as f:
        json.dump(outcomes, f)
""" % path
try:
    if sys.argv[1] == "legacy":
        from _testcapi import run_in_subinterp
        run_in_subinterp(code)
    else:
        try:
            import _interpreters as interpreters
        except ImportError:
            import _xxsubinterpreters as interpreters
        interpreter = interpreters.create()
        interpreters.run_string(interpreter, code)
        interpreters.destroy(interpreter)
except ImportError as missing:
    print(json.dumps({"skip": str(missing)}))
    sys.exit(0)
with open(path) as f:
    outcomes = json.load(f)
os.unlink(path)
main = [main_module.classify_unit_pair("kPa", "Pa"), sys.modules["qorv_chemical_engineering"] is main_module]
print(json.dumps({"outcomes": outcomes, "main": main}))
'''


@pytest.mark.parametrize("kind", ["legacy", "isolated"])
def test_sub_interpreter_import_is_refused(kind):
    if kind == "isolated" and sys.version_info < (3, 12):
        pytest.skip("isolated sub-interpreters arrived in 3.12")
    env = dict(os.environ)
    paths = [os.path.dirname(os.path.abspath(qce.__file__))] + env.get("PYTHONPATH", "").split(os.pathsep)
    env["PYTHONPATH"] = os.pathsep.join(p for p in paths if p)
    done = subprocess.run([sys.executable, "-c", DRIVER, kind], env=env, capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    report = json.loads(done.stdout.strip().splitlines()[-1])
    if "skip" in report:
        pytest.skip(report["skip"])
    assert [outcome[0] for outcome in report["outcomes"]] == ["ImportError", "ImportError"]
    if kind == "legacy":  # the module's own refusal; an isolated interpreter is refused by CPython first
        assert all("sub-interpreter" in message for _, message in report["outcomes"])
    assert report["main"] == ["scale_mismatch", True]
