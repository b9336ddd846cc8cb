"""Text tables and JSON for every result type.

Every result is a frozen dataclass that knows its `to_dict()` (plain, JSON-ready values) and its
text table; this module supplies the rest. JSON has no NaN, so a value that is not known (NaN,
or an infinity) is written as null: `json.loads(r.to_json()) == r.to_dict()` always holds.
"""
from __future__ import annotations

import json
import math
from typing import Any, Dict, Iterable, Optional, Sequence

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


