"""Finding the TZif bytes of an IANA time zone, the way `zoneinfo` looks for them.

The core library resolves local times from TZif data handed to it, so that every platform
resolves a zone from the same kind of source: the folders of `zoneinfo.TZPATH` first (the
system's database), then the `tzdata` package's resources.
"""
from __future__ import annotations

import os
import re
import zoneinfo
from importlib import resources

_LONGEST = 255
_PART = re.compile(r"[A-Za-z0-9._+-]+")


def check_name(zone: str) -> None:
    """ValueError naming the zone unless it is a well-formed IANA-style name: at most 255
    characters of parts joined by '/', each non-empty, not '.' or '..', not starting with '-',
    of ASCII letters, digits and . _ + - only. The core library checks names the same way."""
    parts = zone.split("/")
    why = None
    if not zone:
        why = "it is empty"
    elif len(zone) > _LONGEST:
        why = "it is longer than 255 characters"
    elif any(not p for p in parts):
        why = "it has an empty part (a leading, trailing or doubled '/')"
    elif any(p in (".", "..") for p in parts):
        why = "it has a '.' or '..' part"
    elif any(p.startswith("-") for p in parts):
        why = "a part starts with '-'"
    elif not all(_PART.fullmatch(p) for p in parts):
        why = "it holds a character other than letters, digits and . _ + -"
    if why:
        shown = zone if len(zone) <= 64 else zone[:64] + "..."
        raise ValueError(f"time zone {shown!r} (option tz) is not a zone name: {why}")


def tzif_bytes(zone: str) -> bytes:
    """The zone's TZif file; ValueError naming the zone when there is none."""
    if not isinstance(zone, str):
        raise TypeError(f"argument 'tz': must be str, not {type(zone).__name__}")
    check_name(zone)
    parts = zone.split("/")
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
