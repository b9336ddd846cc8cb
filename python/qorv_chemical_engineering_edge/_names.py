"""The core's names, read once from the native module: courts, schemas, option choices and the
readiness and declared fields. The package takes them from here and never writes them out."""
from __future__ import annotations

from typing import Any, Dict, Tuple

from . import _native

_TABLE = _native.names()

READINESS_FIELDS: Tuple[str, ...] = _TABLE["readiness_fields"]  # grading's argument order
DECLARED_FIELDS: Tuple[str, ...] = _TABLE["declared_fields"]
LAYOUTS: Tuple[str, ...] = _TABLE["layouts"]
TIMESTAMP_FORMATS: Tuple[str, ...] = _TABLE["timestamp_formats"]
QUALITY_CONVENTIONS: Tuple[str, ...] = _TABLE["quality_conventions"]
ENCODINGS: Tuple[str, ...] = _TABLE["encodings"]  # auto, utf-8, windows-1252, utf-16le, ...
DELIMITERS: Tuple[str, ...] = _TABLE["delimiters"]
DECIMALS: Tuple[str, ...] = _TABLE["decimals"]
READING_FACTS: Tuple[str, ...] = _TABLE["reading_facts"]  # the order a file's reading is stated in
RELATIONS: Tuple[str, ...] = _TABLE["relations"]
VERDICTS: Tuple[str, ...] = _TABLE["verdicts"]  # Ready, ReadyWithCaveats, NotReady...
LEVELS: Tuple[str, ...] = _TABLE["levels"]  # ok, caveat, critical_missing
READINESS_COURT: str = _TABLE["readiness_court"]
PROFILE_SCHEMA: str = _TABLE["profile_schema"]
UNIT_COURTS: Dict[str, str] = dict(_TABLE["unit_courts"])
NOTE_LABELS: Dict[str, str] = dict(_TABLE["note_labels"])  # words for the notes' keys
# Signal health: a run of one value counts as frozen from this many seconds and samples on.
FROZEN_RUN: Tuple[float, int] = _TABLE["frozen_run"]
# A profile as the core starts one (raw, as the native module hands profiles out): its notes are
# those of an export read without remark.
QUIET_PROFILE: Dict[str, Any] = _TABLE["quiet_profile"]

format_instant = _native.format_instant
declared_fields = _native.declared_fields
