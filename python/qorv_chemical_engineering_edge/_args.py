"""Checking the package's own arguments before they reach the native module.

Each value is converted by the native code that binds the module `qorv_chemical_engineering`'s
parameters, so the package accepts and refuses what `grade_readiness` does, with the same texts:
counts take `int` (or `__index__`) from 0 to 2**64-1, measured values anything `float()` accepts,
flags exactly `True`/`False` or a NumPy boolean, texts `str`.
"""
from __future__ import annotations

from typing import Any, Collection

from . import _native


def count(value: Any, name: str) -> int:
    return _native.argument("count", value, name)


def real(value: Any, name: str) -> float:
    return _native.argument("real", value, name)


def flag(value: Any, name: str) -> bool:
    return _native.argument("flag", value, name)


def text(value: Any, name: str) -> str:
    return _native.argument("text", value, name)


def choice(value: Any, name: str, allowed: Collection[str]) -> str:
    if not isinstance(value, str) or value not in allowed:
        options = ", ".join(repr(a) for a in allowed)
        raise ValueError(f"option {name}={value!r} is not one of {options}")
    return value
