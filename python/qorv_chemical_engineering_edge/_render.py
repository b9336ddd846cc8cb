"""Text tables and JSON for every result type.

Every result is a frozen dataclass that knows its `to_dict()` (plain, JSON-ready values) and its
text table; this module supplies the rest. JSON has no NaN, so a value that is not known (NaN,
or an infinity) is written as null: `json.loads(r.to_json()) == r.to_dict()` always holds.
"""
from __future__ import annotations

import json
import math
from typing import Any, Callable, Dict, Iterable, Optional, Sequence, Tuple

JSON = Dict[str, Any]

SCHEMA_VERSION = 1


def schema_id(kind: str) -> str:
    """The value of the `schema` key of a result of this kind, e.g. `qce.readiness/1`."""
    return f"qce.{kind}/{SCHEMA_VERSION}"


def number(value: Optional[float]) -> Optional[float]:
    """A float for JSON: NaN and infinities become None (as does None)."""
    return value if value is not None and math.isfinite(value) else None


def plain(data: Any) -> Any:
    """`data` with every NaN or infinity inside it (dicts, lists, tuples) replaced by None and
    tuples made lists: what `json.loads` gives back for its JSON."""
    if isinstance(data, float):
        return number(data)
    if isinstance(data, dict):
        return {k: plain(v) for k, v in data.items()}
    if isinstance(data, (list, tuple)):
        return [plain(v) for v in data]
    return data


def table(headers: Sequence[str], rows: Iterable[Sequence[object]]) -> str:
    """Columns padded to their widest cell; numbers right-aligned."""
    body = [[_cell(c) for c in row] for row in rows]
    widths = [len(h) for h in headers]
    for row in body:
        for i, cell in enumerate(row):
            widths[i] = max(widths[i], len(cell))
    lines = ["  ".join(h.ljust(w) for h, w in zip(headers, widths)).rstrip()]
    lines.append("  ".join("-" * w for w in widths))
    for row in body:
        cells = []
        for cell, width in zip(row, widths):
            cells.append(cell.rjust(width) if _numeric(cell) else cell.ljust(width))
        lines.append("  ".join(cells).rstrip())
    return "\n".join(lines)


def pairs(items: Iterable[Sequence[object]]) -> str:
    """A two-column key/value block."""
    rows = [(str(k), _cell(v)) for k, v in items]
    width = max((len(k) for k, _ in rows), default=0)
    return "\n".join(f"{k.ljust(width)}  {v}" for k, v in rows)


def dumps(data: JSON, indent: Optional[int]) -> str:
    return json.dumps(data, indent=indent, ensure_ascii=False, allow_nan=False)


_MARK = "\x00qce-rows\x00"


def dumps_rows(data: JSON, indent: Optional[int], path: Tuple[str, ...], keys: Sequence[str],
               rows: Callable[[], Iterable[Sequence[object]]]) -> str:
    """`dumps` of `data` with the list at `path` made of one object per row (keys: `keys`,
    values: scalars), written as json.dumps writes it. A profile's tags can number millions, and
    json's indenting encoder takes about a minute and gigabytes for a million small objects;
    here each row becomes one short string and the text is joined once."""
    if indent is not None and not isinstance(indent, int):
        return dumps(_put(data, path, _row_dicts(keys, rows())), indent)
    head = dumps(_put(data, path, _MARK), indent)
    mark = json.dumps(_MARK)
    at = head.find(mark)
    if at < 0 or head.find(mark, at + 1) >= 0:  # the mark's text also occurs in the data
        return dumps(_put(data, path, _row_dicts(keys, rows())), indent)
    if indent is None:
        names = [_json_text(k) + ": " for k in keys]
        open_, sep, close, end = "[", ", ", "]", ", "
    else:
        pad = head[head.rfind("\n", 0, at) + 1:at]
        pad = pad[: len(pad) - len(pad.lstrip(" "))]
        step = " " * max(indent, 0)
        names = [f"\n{pad}{step}{step}{_json_text(k)}: " for k in keys]
        open_, sep, close, end = f"[\n{pad}{step}", f",\n{pad}{step}", f"\n{pad}]", ","
    row_close = "}" if indent is None else f"\n{pad}{step}}}"
    # One template per row: "{" name %s , name %s ... "}", with % escaped in the names.
    template = "{" + end.join(n.replace("%", "%%") + "%s" for n in names) + (
        row_close if names else "}")
    parts = [head[:at]]
    text = _SCALARS.get
    first = open_ + template
    template = sep + template
    for row in rows():
        parts.append((template if len(parts) > 1 else first)
                     % tuple([(text(type(v)) or _scalar)(v) for v in row]))
    parts.append(close if len(parts) > 1 else "[]")
    parts.append(head[at + len(mark):])
    return "".join(parts)


def _row_dicts(keys: Sequence[str], rows: Iterable[Sequence[object]]) -> list:
    return [dict(zip(keys, (number(v) if isinstance(v, float) else v for v in r))) for r in rows]


def _put(data: JSON, path: Tuple[str, ...], value: object) -> JSON:
    """A copy of `data` with `value` at `path`, copying only the dicts on the way."""
    out = dict(data)
    inner = out
    for key in path[:-1]:
        inner[key] = dict(inner[key])
        inner = inner[key]
    inner[path[-1]] = value
    return out


_json_text = json.encoder.encode_basestring  # type: ignore[attr-defined]


def _scalar(value: object) -> str:
    """A scalar's JSON text; `_SCALARS` holds the fast ways for the exact built-in types."""
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, str):
        return _json_text(value)
    if isinstance(value, int):
        return int.__repr__(value)
    if isinstance(value, float):
        return float.__repr__(value) if math.isfinite(value) else "null"
    raise TypeError(f"a row value must be a JSON scalar, not {type(value).__name__}")


_SCALARS: Dict[type, Callable[[Any], str]] = {
    str: _json_text, int: int.__repr__, bool: {True: "true", False: "false"}.__getitem__,
    type(None): lambda _: "null", float: _scalar,
}


def _cell(value: object) -> str:
    if value is None:
        return "-"
    if isinstance(value, bool):
        return "yes" if value else "no"
    if isinstance(value, float):
        if math.isnan(value):
            return "n/a"
        return f"{value:.6g}"
    return str(value)


def _numeric(cell: str) -> bool:
    try:
        float(cell.replace(",", ""))
    except ValueError:
        return False
    return True


def short_hash(court_hash: str) -> str:
    return court_hash[:12] + "…" if len(court_hash) > 12 else court_hash


def lines(*blocks: str) -> str:
    return "\n\n".join(b for b in blocks if b)


