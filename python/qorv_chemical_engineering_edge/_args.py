"""Checking arguments before they reach the native module.

The wording follows the module `qorv_chemical_engineering`, so that `grade` fails exactly where
`grade_readiness` does: counts take `int` (or `__index__`) from 0 to 2**64-1, measured values
anything `float()` accepts, flags exactly `True`/`False` or a NumPy boolean.
"""
from __future__ import annotations

import operator
from typing import Any, Collection

_U64_MAX = 2**64 - 1


def count(value: Any, name: str) -> int:
    try:
        number = operator.index(value)
    except TypeError as error:
        raise TypeError(f"argument '{name}': {error}") from None
    if number < 0:
        raise OverflowError(f"argument '{name}': can't convert negative int to unsigned")
    if number > _U64_MAX:
        raise OverflowError(f"argument '{name}': int too big to convert")
    return number


def real(value: Any, name: str) -> float:
    if isinstance(value, (str, bytes)):
        raise TypeError(f"argument '{name}': must be real number, not {type(value).__name__}")
    try:
        return float(value)
    except TypeError:
        raise TypeError(
            f"argument '{name}': must be real number, not {type(value).__name__}"
        ) from None


def flag(value: Any, name: str) -> bool:
    if value is True or value is False:
        return bool(value)
    kind = type(value)
    if kind.__module__ == "numpy" and kind.__name__ in ("bool_", "bool"):
        return bool(value)
    raise TypeError(
        f"argument '{name}': '{kind.__name__}' object cannot be converted to 'PyBool'"
    )


def text(value: Any, name: str) -> str:
    if not isinstance(value, str):
        raise TypeError(f"argument '{name}': must be str, not {type(value).__name__}")
    return value


def choice(value: Any, name: str, allowed: Collection[str]) -> str:
    if not isinstance(value, str) or value not in allowed:
        options = ", ".join(repr(a) for a in allowed)
        raise ValueError(f"option {name}={value!r} is not one of {options}")
    return value
