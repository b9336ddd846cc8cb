"""Runs a piece of Python in a child process with a time limit, so that a crash (a signal) or a
hang in the native code fails one test instead of ending or stalling the suite.

`run_isolated(source, timeout=30)` returns the finished process (returncode, stdout, stderr);
a child still running at the limit is killed and reported as a failure naming the source.
"""
import os
import subprocess
import sys
import textwrap

import pytest


def run_isolated(source: str, timeout: float = 30, env: dict = None) -> subprocess.CompletedProcess:
    child_env = dict(os.environ)
    child_env.update(env or {})
    try:
        done = subprocess.run([sys.executable, "-c", textwrap.dedent(source)], capture_output=True,
                              text=True, timeout=timeout, env=child_env)
    except subprocess.TimeoutExpired:
        pytest.fail(f"still running after {timeout} s:\n{textwrap.dedent(source)}")
    if done.returncode < 0:
        pytest.fail(f"killed by signal {-done.returncode}:\n{done.stderr[-4000:]}")
    return done
