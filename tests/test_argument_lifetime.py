"""Arguments stay alive for the whole call, even when a converter's user code empties the call's
keyword dict and so drops the only other reference to the arguments still to be read.

Each case runs in a fresh process with CPython's debug allocator, which overwrites freed memory:
reading a freed argument then crashes that process (or gives a wrong result) instead of the suite.
"""
import os
import subprocess
import sys

import pytest

import qorv_chemical_engineering as qce

PRELUDE = r'''
import gc, qorv_chemical_engineering as q

def clear_dicts_holding(obj):
    for referrer in gc.get_referrers(obj):
        if isinstance(referrer, dict):
            referrer.clear()  # the call's own keyword dict among them

class ClearOnFloat:
    def __float__(self):
        clear_dicts_holding(self)
        return 0.0

class ClearOnIndex:
    def __index__(self):
        clear_dicts_holding(self)
        return 1

class Float:
    def __float__(self):
        return 1.0

class Index:
    def __index__(self):
        return 100

def numpy_bool(clear):
    def __bool__(self):
        if clear:
            clear_dicts_holding(self)
        return True
    return type("bool_", (), {"__module__": "numpy", "__bool__": __bool__})()
'''

# case: (positional arguments, keyword arguments, both as source text run in the child; the
# plain arguments that must grade the same)
CASES = {
    "float clears the dict": ("(1, 100, True, True)", '{"missingness": ClearOnFloat(), "unit_coverage": Float()}',
                              (1, 100, True, True, 0.0, 1.0)),
    "index clears the dict": ("()", '{"n_tags": ClearOnIndex(), "n_rows": Index(), "baseline_present": True, '
                                    '"license_cleared": True, "missingness": 0.0, "unit_coverage": 1.0}',
                              (1, 100, True, True, 0.0, 1.0)),
    "bool clears the dict": ("(1, 100)", '{"baseline_present": numpy_bool(True), "license_cleared": numpy_bool(False), '
                                         '"missingness": Float(), "unit_coverage": Float()}',
                             (1, 100, True, True, 1.0, 1.0)),
    "optionals after the clear": ("(1, 100, True, True, 0.0)",
                                  '{"unit_coverage": ClearOnFloat(), "duplicate_timestamps": Float(), '
                                  '"time_span_hours": Float()}',
                                  (1, 100, True, True, 0.0, 0.0, 1.0, 1.0)),
}


def run_child(code):
    env = dict(os.environ, PYTHONMALLOC="debug")
    paths = [os.path.dirname(os.path.abspath(qce.__file__))] + env.get("PYTHONPATH", "").split(os.pathsep)
    env["PYTHONPATH"] = os.pathsep.join(p for p in paths if p)
    return subprocess.run([sys.executable, "-c", PRELUDE + code], env=env, capture_output=True, text=True,
                          timeout=120)


@pytest.mark.parametrize("case", CASES)
def test_arguments_outlive_a_cleared_keyword_dict(case):
    args, kwargs, plain = CASES[case]
    done = run_child(f"print(repr(q.grade_readiness(*{args}, **{kwargs})))")
    assert done.returncode == 0, f"child died with {done.returncode}: {done.stderr[-2000:]}"
    assert done.stdout.strip() == repr(qce.grade_readiness(*plain))
