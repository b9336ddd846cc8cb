"""Finding the TZif bytes of an IANA time zone, the way `zoneinfo` looks for them.

The core library resolves local times from TZif data handed to it, so that every platform
resolves a zone from the same kind of source: the folders of `zoneinfo.TZPATH` first (the
system's database), then the `tzdata` package's resources.
"""
from __future__ import annotations

import os
import zoneinfo
from importlib import resources


def tzif_bytes(zone: str) -> bytes:
    """The zone's TZif file; ValueError naming the zone when there is none."""
    if not isinstance(zone, str):
        raise TypeError(f"argument 'tz': must be str, not {type(zone).__name__}")
    parts = zone.split("/")
    if not zone or zone.startswith("/") or any(p in ("", ".", "..") for p in parts):
        raise ValueError(f"unknown time zone {zone!r} (option tz)")
    for base in zoneinfo.TZPATH:
        data = _read(os.path.join(base, *parts))
        if data is not None:
            return data
    try:
        package = ".".join(["tzdata", "zoneinfo", *parts[:-1]])
        data = resources.files(package).joinpath(parts[-1]).read_bytes()
    except (ImportError, OSError, ValueError, TypeError):
        data = b""
    if data.startswith(b"TZif"):
        return data
    raise ValueError(f"unknown time zone {zone!r} (option tz)")


def _read(path: str) -> "bytes | None":
    try:
        if not os.path.isfile(path):
            return None
        with open(path, "rb") as file:
            data = file.read()
    except OSError:
        return None
    return data if data.startswith(b"TZif") else None
