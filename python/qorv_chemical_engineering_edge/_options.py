"""The profiler's options: checked in Python, passed to the native module as one dict.

Every bad value is a ValueError (or TypeError) naming the option; a tag list that cannot be
read is an OSError naming the file.
"""
from __future__ import annotations

import datetime as _dt
import os
from typing import Any, Dict, Iterable, List, Mapping, Optional, Sequence, Tuple, Union

from . import _args, _names, _native, _zones

PathLike = Union[str, "os.PathLike[str]"]
Instant = Union[str, _dt.datetime]

LAYOUTS = _names.LAYOUTS
TIMESTAMP_FORMATS = _names.TIMESTAMP_FORMATS
QUALITY_CONVENTIONS = _names.QUALITY_CONVENTIONS
DELIMITERS = _names.DELIMITERS
DECIMALS = _names.DECIMALS
ENCODINGS = _names.ENCODINGS
# Other spellings of an encoding, as Python's codecs know them.
ENCODING_ALIASES = {"cp1252": "windows-1252"}


def build(
    *,
    layout: str,
    tag_list: Union[None, PathLike, Mapping[str, str]],
    delimiter: Optional[str],
    decimal: str,
    day_first: Optional[bool],
    timestamp_format: Optional[str],
    tz: str,
    missing_values: Iterable[Union[float, str]],
    good_quality: Optional[Iterable[str]],
    threads: Optional[int],
    declared: Optional[Mapping[str, Optional[bool]]] = None,
    baseline: Union[None, str, Tuple[Instant, Instant]] = None,
    accept_multiline_fields: bool = False,
    accept_unparsed_rows: bool = False,
    quality_convention: str = "auto",
    header_line: Optional[int] = None,
    encoding: Optional[str] = None,
    timestamp_columns: Optional[Sequence[str]] = None,
    baseline_search: str = "off",
    baseline_breaks: Sequence[Tuple[int, int]] = (),
    context: Any = None,
    health: bool = True,
) -> Dict[str, Any]:
    """The native options dict; see python/native/profile_options.cpp for its keys."""
    zone_tzif = _zones.tzif_bytes(tz)
    options: Dict[str, Any] = {
        "layout": _args.choice(layout, "layout", LAYOUTS),
        "delimiter": "" if delimiter is None else _args.choice(delimiter, "delimiter", DELIMITERS),
        "decimal": _args.choice(decimal, "decimal", DECIMALS),
        "day_first": None if day_first is None else _args.flag(day_first, "day_first"),
        "timestamp_format": _args.choice(
            timestamp_format or "auto", "timestamp_format", TIMESTAMP_FORMATS
        ),
        "zone_name": tz if isinstance(tz, str) else _args.text(tz, "tz"),
        "zone_tzif": zone_tzif,
        "missing_sentinels": _sentinels(missing_values),
        "good_quality": [] if good_quality is None else _texts(good_quality, "good_quality"),
        "tag_list": _tag_list(tag_list),
        "threads": 0 if threads is None else _threads(threads),
        "baseline_start_us": None,
        "baseline_end_us": None,
        "accept_multiline_fields": _args.flag(accept_multiline_fields, "accept_multiline_fields"),
        "accept_unparsed_rows": _args.flag(accept_unparsed_rows, "accept_unparsed_rows"),
        "quality_convention": _args.choice(quality_convention, "quality_convention",
                                           QUALITY_CONVENTIONS),
        "header_line": 0 if header_line is None else _header_line(header_line),
        "encoding": _encoding(encoding),
        "timestamp_columns": _timestamp_columns(timestamp_columns),
        "health": _args.flag(health, "health"),
    }
    if options["delimiter"] and options["delimiter"] == options["decimal"]:
        raise ValueError("options delimiter and decimal must differ")
    # Checked by the caller through _names.declared_fields (and again natively on use).
    options.update(_names.declared_fields({}) if declared is None else declared)
    # The window search's keys only when it runs, so that other options read as they always did.
    if isinstance(baseline, str):
        if baseline != "auto":
            raise ValueError(f"option baseline={baseline!r} must be 'auto' or a (start, end) pair")
        baseline_search, baseline = "auto", None
    if baseline_search != "off":
        options["baseline_search"] = _args.choice(baseline_search, "baseline", BASELINE_SEARCHES)
        options["baseline_breaks"] = _breaks(baseline_breaks)
    files = _context(context)
    if files:  # absent otherwise: the profile and its seal are those of the export alone
        options["context"] = files
    if baseline is not None:
        start, end = _baseline(baseline, tz, zone_tzif)
        options["baseline_start_us"], options["baseline_end_us"] = start, end
    return options


BASELINE_SEARCHES = ("off", "suggest", "auto")


def _breaks(spans: Sequence[Tuple[int, int]]) -> List[Tuple[int, int]]:
    """Spans (UTC microseconds, both ends inclusive) that break a normal-operation run."""
    out = []
    for span in spans:
        if (not isinstance(span, (tuple, list)) or len(span) != 2
                or not all(isinstance(v, int) and not isinstance(v, bool) for v in span)):
            raise TypeError("option baseline_breaks must hold (start_us, end_us) pairs of ints")
        out.append((min(span), max(span)))
    return out


def public(options: Mapping[str, Any]) -> Dict[str, Any]:
    """The options as a report shows them (the zone's bytes and the tag list's content left
    out, the tag list named)."""
    shown = {k: v for k, v in options.items() if k not in ("zone_tzif", "tag_list")}
    for name in ("accept_multiline_fields", "accept_unparsed_rows", "timestamp_columns",
                 "health"):
        if not shown.get(name):  # shown when given, as the seal holds it
            shown.pop(name, None)
    if shown.get("quality_convention") == QUALITY_CONVENTIONS[0]:  # likewise: sealed when given
        shown.pop("quality_convention", None)
    if not shown.get("header_line"):
        shown.pop("header_line", None)
    if shown.get("encoding") == "auto":  # likewise
        shown.pop("encoding", None)
    if shown.get("baseline_search") != "auto":  # a suggestion only shown is sealed by nothing
        shown.pop("baseline_search", None)
        shown.pop("baseline_breaks", None)
    if "context" in shown:
        shown["context"] = [{"file": f, "kind": k or None} for f, k in shown["context"]]
    tag_list = options.get("tag_list")
    shown["tag_list"] = (None if tag_list is None else MAPPING_LABEL
                         if isinstance(tag_list, dict) else tag_list[0])
    return shown


CONTEXT_KINDS = ("lab", "maintenance", "batches")


def _context(context: Any) -> List[Tuple[str, str]]:
    """[(path, kind)] from a path, a list of paths (or (kind, path) pairs), or a mapping from
    kind to a path or list of paths; kind "" is recognised by the file's columns. A file that
    cannot be opened is an OSError naming it."""
    if context is None:
        return []
    named: List[Tuple[Any, str]] = []
    if isinstance(context, Mapping):
        for kind, paths in context.items():
            if kind not in CONTEXT_KINDS:
                raise ValueError(f"option context: kind {kind!r} is not one of "
                                 f"{', '.join(CONTEXT_KINDS)}")
            items = [paths] if isinstance(paths, (str, os.PathLike)) else paths
            if not isinstance(items, (list, tuple)):
                raise TypeError(f"option context: {kind} must be a path or a list of paths")
            named.extend((item, kind) for item in items)
    elif isinstance(context, (str, os.PathLike)):
        named.append((context, ""))
    elif isinstance(context, (list, tuple)):
        for item in context:
            if (isinstance(item, tuple) and len(item) == 2 and item[0] in CONTEXT_KINDS):
                named.append((item[1], item[0]))
            else:
                named.append((item, ""))
    else:
        raise TypeError("option context must be a path, a list of paths or a mapping from "
                        f"kind to paths, not {type(context).__name__}")
    files = []
    for item, kind in named:
        if not isinstance(item, (str, os.PathLike)):
            raise TypeError(f"option context: {item!r} is not a path")
        path = os.fspath(item)
        if os.path.isdir(path):
            raise IsADirectoryError(21, "is a directory, not a context file", path)
        with open(path, "rb"):  # FileNotFoundError / PermissionError naming the file
            pass
        files.append((path, kind))
    return files


def parse_baseline(text: str) -> Tuple[str, str]:
    """'START..END' as two texts; ValueError naming the option otherwise."""
    start, sep, end = text.partition("..")
    if not sep or not start.strip() or not end.strip():
        raise ValueError(f"option baseline={text!r} must read START..END")
    return start.strip(), end.strip()


def _baseline(window: Tuple[Instant, Instant], tz: str, tzif: bytes) -> Tuple[int, int]:
    if not isinstance(window, (tuple, list)) or len(window) != 2:
        raise ValueError("option baseline must be a (start, end) pair")
    start, end = (_instant_us(v, tz, tzif) for v in window)
    if end < start:
        raise ValueError("option baseline ends before it starts")
    return start, end


def _instant_us(value: Instant, tz: str, tzif: bytes) -> int:
    if isinstance(value, str):
        try:
            value = _dt.datetime.fromisoformat(value.strip().replace("Z", "+00:00"))
        except ValueError:
            raise ValueError(f"option baseline: {value!r} is not an ISO 8601 time") from None
    if not isinstance(value, _dt.datetime):
        raise TypeError(f"option baseline: expected datetime or str, not {type(value).__name__}")
    if value.tzinfo is None:  # a wall time in the zone, resolved as the scan resolves one
        wall = value - _dt.datetime(1970, 1, 1)
        return _native.zone_instant(_us(wall), tz, tzif)
    return _us(value - _dt.datetime(1970, 1, 1, tzinfo=_dt.timezone.utc))


def _us(delta: _dt.timedelta) -> int:
    return (delta.days * 86400 + delta.seconds) * 1_000_000 + delta.microseconds


def _sentinels(values: Iterable[Union[float, str]]) -> List[float]:
    if isinstance(values, (str, bytes)):
        values = [values]  # type: ignore[list-item]
    result = []
    for value in values:
        try:
            result.append(float(value))
        except (TypeError, ValueError):
            raise ValueError(f"option missing_values: {value!r} is not a number") from None
    return result


def _texts(values: Iterable[str], name: str) -> List[str]:
    if isinstance(values, str):
        values = [values]
    return [_args.text(v, name) for v in values]


def _header_line(value: int) -> int:
    number = _args.count(value, "header_line")
    if not 1 <= number <= 0xFFFFFFFF:
        raise ValueError(f"option header_line={value!r} must be a line number from 1")
    return number


def _encoding(value: Optional[str]) -> str:
    if value is None:
        return "auto"
    if isinstance(value, str):
        value = ENCODING_ALIASES.get(value.lower(), value.lower())
    return _args.choice(value, "encoding", ENCODINGS + tuple(ENCODING_ALIASES))


def _timestamp_columns(names: Optional[Sequence[str]]) -> List[str]:
    """One column name, or two (a date and its clock time, or a time and its milliseconds)."""
    if names is None:
        return []
    columns = _texts(names, "timestamp_columns")
    if not 1 <= len(columns) <= 2 or not all(c.strip() for c in columns):
        raise ValueError(f"option timestamp_columns={names!r} must name one or two columns")
    return columns


def _threads(value: int) -> int:
    number = _args.count(value, "threads")
    if not 1 <= number <= 1024:
        raise ValueError(f"option threads={value!r} must be from 1 to 1024")
    return number


TagList = Union[None, Tuple[str, bytes], Dict[Any, Any]]
MAPPING_LABEL = "<tag list>"  # how a report names a tag list given as a mapping


def _tag_list(tag_list: Union[None, PathLike, Mapping[str, str]]) -> TagList:
    """None, a mapping as a dict (the native module reads its pairs), or (file, its bytes)."""
    if tag_list is None:
        return None
    if isinstance(tag_list, Mapping):
        return dict(tag_list.items())
    path = os.fspath(tag_list)
    with open(path, "rb") as file:  # OSError names the file
        return (path, file.read())


def paths_of(source: Any) -> Sequence[str]:
    """The file paths of a path or list of paths; TypeError for anything else."""
    if isinstance(source, (str, os.PathLike)):
        items = [source]
    elif isinstance(source, (list, tuple)):
        items = list(source)
    else:
        raise TypeError(
            "source must be a path, a list of paths or a table offering __arrow_c_stream__, "
            f"not {type(source).__name__}"
        )
    if not items:
        raise ValueError("source is an empty list of files")
    paths = []
    for item in items:
        if not isinstance(item, (str, os.PathLike)):
            raise TypeError(f"source: {item!r} is not a path")
        path = os.fspath(item)
        if os.path.isdir(path):
            raise IsADirectoryError(21, "is a directory, not an export file", path)
        with open(path, "rb"):  # FileNotFoundError / PermissionError naming the file
            pass
        paths.append(path)
    return paths
