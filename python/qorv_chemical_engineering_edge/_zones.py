"""Finding the TZif bytes of an IANA time zone, the way `zoneinfo` looks for them: the folders
of `zoneinfo.TZPATH` first (the system's database), then the `tzdata` package's resources.

Only the bytes are found here; the native module checks the name, reads the bytes and resolves
wall times, so the options, the scan and the seal use one reading of the zone.
"""
from __future__ import annotations

import os
import zoneinfo
from importlib import resources

from . import _args, _native


def tzif_bytes(zone: str) -> bytes:
    """The zone's TZif file, or b"" when neither source has it and the core's own lookup (UTC
    needs no file) finds it; ValueError naming the zone when the name is malformed or unknown."""
    _args.text(zone, "tz")
    why = _native.zone_name_fault(zone)
    if why is not None:  # before any file is opened: a name must not leave the zone folders
        shown = zone if len(zone) <= 64 else zone[:64] + "..."
        raise ValueError(f"time zone {shown!r} (option tz) is not a zone name: {why}")
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
    try:
        _native.zone_instant(0, zone, b"")
    except ValueError as e:
        raise ValueError(f"unknown time zone {zone!r} (option tz): {e}") from None
    return b""


def _read(path: str) -> "bytes | None":
    try:
        if not os.path.isfile(path):
            return None
        with open(path, "rb") as file:
            data = file.read()
    except OSError:
        return None
    return data if data.startswith(b"TZif") else None
