"""Only the main interpreter may own the module. Every sub-interpreter is refused with the same
ImportError, whenever it asks, and a refused import never claims the module: the main interpreter
can import it afterwards and keeps using it. (From 3.12 on CPython refuses isolated
sub-interpreters itself, with its own text, once it holds the module's init in its cache.)

Each case runs in a fresh process, since ownership is process-wide and lasts until exit.
"""
import json
import os
import subprocess
import sys

import pytest

import qorv_chemical_engineering as qce

DRIVER = r'''
import json, os, sys, tempfile
kind, order = sys.argv[1:3]

SUB = """if True:
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
"""

try:
    if kind == "legacy":
        from _testcapi import run_in_subinterp as run
    else:
        try:
            import _interpreters as interpreters
        except ImportError:
            import _xxsubinterpreters as interpreters

        def run(code):
            interpreter = interpreters.create()
            interpreters.run_string(interpreter, code)
            interpreters.destroy(interpreter)
except ImportError as missing:
    print(json.dumps({"skip": str(missing)}))
    sys.exit(0)


def in_sub_interpreter():
    fd, path = tempfile.mkstemp()
    os.close(fd)
    run(SUB % path)
    with open(path) as f:
        outcomes = json.load(f)
    os.unlink(path)
    return [["sub"] + outcome for outcome in outcomes]


def in_main_interpreter():
    try:
        import qorv_chemical_engineering as q
        return [["main", "imported", q.classify_unit_pair("kPa", "Pa")]]
    except BaseException as error:
        return [["main", type(error).__name__, str(error)]]


if order == "main first":
    events = in_main_interpreter() + in_sub_interpreter()
else:  # the sub-interpreter asks first, and again once the main interpreter owns the module
    events = in_sub_interpreter() + in_main_interpreter() + in_sub_interpreter()
events += in_main_interpreter()  # still working at the end
print(json.dumps({"events": events}))
'''

EXPECTED = {  # where the main interpreter imports, in the order of events
    "main first": ["main", "sub", "sub", "main"],
    "sub first": ["sub", "sub", "main", "sub", "sub", "main"],
}


# "legacy": Py_NewInterpreter through _testcapi, sharing the main interpreter's settings (3.9-3.13).
# "module": the interpreters extension module; isolated sub-interpreters from 3.12 on.
@pytest.mark.parametrize("order", EXPECTED)
@pytest.mark.parametrize("kind", ["legacy", "module"])
def test_only_the_main_interpreter_owns_the_module(kind, order):
    env = dict(os.environ)
    paths = [os.path.dirname(os.path.abspath(qce.__file__))] + env.get("PYTHONPATH", "").split(os.pathsep)
    env["PYTHONPATH"] = os.pathsep.join(p for p in paths if p)
    done = subprocess.run([sys.executable, "-c", DRIVER, kind, order], env=env, capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    report = json.loads(done.stdout.strip().splitlines()[-1])
    if "skip" in report:
        pytest.skip(report["skip"])
    events = report["events"]
    assert [where for where, *_ in events] == EXPECTED[order]
    assert [outcome for where, *outcome in events if where == "main"] == [["imported", "scale_mismatch"]] * 2
    refusals = [tuple(outcome) for where, *outcome in events if where == "sub"]
    assert {error for error, _ in refusals} == {"ImportError"}
    own = {message for _, message in refusals if "does not yet support sub-interpreters" in message}
    assert len(own) <= 1, own  # one and the same text, whenever a sub-interpreter asks
    if kind == "legacy" or sys.version_info < (3, 12):
        assert own and all(message in own for _, message in refusals)
    else:  # an isolated sub-interpreter may be refused by CPython before the module's init runs
        assert all(message in own or "does not support loading in subinterpreters" in message
                   for _, message in refusals)
