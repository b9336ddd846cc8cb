"""Text tables and JSON for every result type.

Every result is a frozen dataclass that knows its `to_dict()` (plain, JSON-ready values) and its
text table; this module supplies the rest. JSON has no NaN, so a value that is not known (NaN,
or an infinity) is written as null: `json.loads(r.to_json()) == r.to_dict()` always holds.
"""
from __future__ import annotations

import json
import math
import shutil
import textwrap
from typing import Any, Callable, Dict, Iterable, List, Mapping, Optional, Sequence, Tuple

JSON = Dict[str, Any]

SCHEMA_VERSION = 3


def schema_id(kind: str) -> str:
    """The value of the `schema` key of a result of this kind, e.g. `qce.readiness/2`."""
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


def width() -> int:
    """The columns a text result fits: the terminal's, or COLUMNS, else 80. Never under 40: a
    narrower box would wrap every word onto its own line."""
    return max(shutil.get_terminal_size().columns, 40)


def table(headers: Sequence[str], rows: Iterable[Sequence[object]],
          columns: Optional[int] = None) -> str:
    """Columns padded to their widest cell; numbers right-aligned. With `columns`, a table wider
    than that wraps its text columns at spaces (widest first), and one that cannot fit so is
    written as one block of `header  value` lines per row. A number is never wrapped or cut."""
    body = [[_cell(c) for c in row] for row in rows]
    widths = [len(h) for h in headers]
    for row in body:
        for i, cell in enumerate(row):
            widths[i] = max(widths[i], len(cell))
    gaps = 2 * (len(widths) - 1)
    if columns is not None and sum(widths) + gaps > columns:
        fitted = _fit(headers, body, widths, columns - gaps)
        if fitted is None:
            return _stacked(headers, body, columns)
        widths = fitted
    lines = _row_lines(headers, widths, lambda cell: False)
    lines.append("  ".join("-" * w for w in widths))
    for row in body:
        lines += _row_lines(row, widths, _numeric)
    return "\n".join(lines)


def _row_lines(cells: Sequence[str], widths: Sequence[int],
               right: Callable[[str], bool]) -> List[str]:
    """One row as one or more lines: a cell wider than its column wrapped at spaces."""
    parts = [[cell] if len(cell) <= w else wrap(cell, w) for cell, w in zip(cells, widths)]
    out = []
    for k in range(max((len(p) for p in parts), default=1)):
        texts = []
        for part, cell, w in zip(parts, cells, widths):
            text = part[k] if k < len(part) else ""
            texts.append(text.rjust(w) if right(cell) else text.ljust(w))
        out.append("  ".join(texts).rstrip())
    return out


def _fit(headers: Sequence[str], body: List[List[str]], widths: List[int],
         room: int) -> Optional[List[int]]:
    """Column widths within `room`, narrowing the widest text column first, none below its
    longest word; None when that is not enough."""
    floors = []
    for i, header in enumerate(headers):
        cells = [row[i] for row in body]
        if all(_numeric(c) for c in cells):
            floors.append(widths[i])  # numbers keep their width
        else:
            words = [w for c in [header, *cells] for w in c.split()]
            floors.append(max((len(w) for w in words), default=1))
    widths = list(widths)
    while sum(widths) > room:
        slack = [(w - f, w, i) for i, (w, f) in enumerate(zip(widths, floors)) if w > f]
        if not slack:
            return None
        _, _, i = max(slack, key=lambda s: (s[1], s[0]))
        widths[i] -= 1
    return widths


def _stacked(headers: Sequence[str], body: List[List[str]], columns: int) -> str:
    blocks = [pairs(zip(headers, row), columns) for row in body]
    return "\n\n".join(blocks)


def wrap(text: str, columns: int, indent: str = "") -> List[str]:
    """`text` in lines of at most `columns`, broken at spaces only: a word (a number, a path)
    longer than a line keeps its line to itself."""
    return textwrap.wrap(text, columns, subsequent_indent=indent, break_long_words=False,
                         break_on_hyphens=False) or [""]


def pairs(items: Iterable[Sequence[object]], columns: Optional[int] = None) -> str:
    """A two-column key/value block; with `columns`, long values wrap under themselves (or,
    when the keys leave them too little room, on lines of their own below the key)."""
    rows = [(str(k), _cell(v)) for k, v in items]
    width = max((len(k) for k, _ in rows), default=0)
    if columns is None:
        return "\n".join(f"{k.ljust(width)}  {v}" for k, v in rows)
    room = columns - width - 2
    out = []
    for key, value in rows:
        if width + 2 + len(value) <= columns:
            out.append(f"{key.ljust(width)}  {value}".rstrip())
        elif room >= 24 and max(len(w) for w in value.split()) <= room:
            lines = wrap(value, room)
            out.append(f"{key.ljust(width)}  {lines[0]}")
            out += [" " * (width + 2) + line for line in lines[1:]]
        else:
            out.append(key)
            out += ["  " + line for line in wrap(value, columns - 2)]
    return "\n".join(out)


def hashes(items: Iterable[Tuple[str, str]], columns: Optional[int] = None) -> str:
    """Seals and digests, each whole on one line after its label; where the line cannot hold
    one, the label on its own line and the hash below it in groups of 16 digits."""
    rows = list(items)
    width = max((len(k) for k, _ in rows), default=0)
    out = []
    for key, value in rows:
        if columns is None or width + 2 + len(value) <= columns:
            out.append(f"{key.ljust(width)}  {value}")
        else:
            groups = " ".join(value[i:i + 16] for i in range(0, len(value), 16))
            out.append(key)
            out += ["  " + line for line in wrap(groups, columns - 2)]
    return "\n".join(out)


# ---- what a profile says beside its values -----------------------------------------------

Fact = Tuple[str, str, str]  # (name, value, how it was decided)


def reading(files: Sequence[Tuple[str, int, Sequence[Fact]]],
            columns: Optional[int] = None) -> str:
    """How the export was read: per file (path, data rows, facts), each fact's name, value and
    how it was decided. Files read alike share one block. The facts are shown as they come:
    this knows none of their names."""
    if not files:
        return ""
    groups: List[Tuple[List[Tuple[str, int]], Sequence[Fact]]] = []
    for path, rows, facts in files:
        same = next((g for g in groups if list(g[1]) == list(facts)), None)
        if same is None:
            groups.append(([(path, rows)], facts))
        else:
            same[0].append((path, rows))
    blocks = []
    for members, facts in groups:
        if len(members) == 1:
            path, rows = members[0]
            head = f"{path}: {rows} data rows"
        else:
            total = sum(r for _, r in members)
            more = len(members) - 1
            head = (f"{members[0][0]} and {more} more file{'s' if more > 1 else ''} read alike: "
                    f"{total} data rows")
        lines = wrap(head, columns) if columns else [head]
        if facts:
            lines.append(table(("read", "as", "how"),
                               [(n, fact_value(v), how) for n, v, how in facts], columns))
        blocks.append("\n".join(lines))
    return "how the export was read\n" + "\n\n".join(blocks)


def fact_value(value: str) -> str:
    """A fact's value as shown: one character that is not a letter or digit (a delimiter, a
    decimal mark) quoted, so that a tab or a comma is seen."""
    if len(value) == 1 and not value.isalnum():
        return repr(value)
    return value


# At most so many items of one note's list in text; the JSON holds them all.
NOTE_ITEMS = 10


def note_items(notes: Mapping[str, Any], quiet: Mapping[str, Any],
               labels: Mapping[str, str], most: Optional[int] = NOTE_ITEMS,
               more: str = "in the JSON") -> List[Tuple[str, str]]:
    """The notes that say something, as (label, text), in the notes' order. A note says
    something when it differs from its value on an export read without remark (`quiet`); a note
    not known there says something when it is not empty, zero or None. Labels come from
    `labels`, else from the note's name. Lists show their first `most` items and how many more
    `more` holds."""
    out = []
    for key, value in notes.items():
        if key in quiet:
            if value == quiet[key]:
                continue
        elif value is None or value is False or value == 0 or value == [] or value == {}:
            continue
        label = labels.get(key) or key.replace("_", " ")
        if isinstance(value, (list, tuple)):
            shown = [_note_item(v) for v in (value if most is None else value[:most])]
            text = ", ".join(shown)
            if most is not None and len(value) > most:
                text += f" … and {len(value) - most} more {more}"
        else:
            text = _note_item(value)
        out.append((label, text))
    return out


def _note_item(item: Any) -> str:
    """One note value as words: a (file, line) as file:line, a count as ×N, a list as a/b
    (in brackets after the first member), any other member as `key value` after the first."""
    if isinstance(item, Mapping):
        parts = []
        rest = dict(item)
        if "file" in rest and "line" in rest:
            parts.append(f"{rest.pop('file')}:{rest.pop('line')}")
        for key, value in rest.items():
            if key == "count":
                parts.append(f"×{value}")
            elif not parts:
                parts.append(_note_item(value))
            elif isinstance(value, (list, tuple)):
                parts.append(f"({_note_item(value)})")
            else:
                parts.append(f"{key.replace('_', ' ')} {_note_item(value)}")
        return " ".join(parts)
    if isinstance(item, (list, tuple)):
        return "/".join(_note_item(v) for v in item)
    return _cell(item)


def notes(items: Sequence[Tuple[str, str]], columns: Optional[int] = None) -> str:
    if not items:
        return "notes: none"
    return "notes\n" + pairs(items, columns)


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


# A line end or tab inside a text (a cell of a stray quote's run, a tag name) shown as its
# escape, so that one text stays on one line of a table.
_CONTROLS = {i: f"\\x{i:02x}" for i in range(32)} | {9: "\\t", 10: "\\n", 13: "\\r", 127: "\\x7f"}


def _cell(value: object) -> str:
    if value is None:
        return "-"
    if isinstance(value, bool):
        return "yes" if value else "no"
    if isinstance(value, float):
        if math.isnan(value):
            return "n/a"
        return f"{value:.6g}"
    return str(value).translate(_CONTROLS)


def _numeric(cell: str) -> bool:
    try:
        float(cell.replace(",", ""))
    except ValueError:
        return False
    return True


def duration(us: int) -> str:
    """A span in the largest unit it fills (d, h, min, s), to three figures."""
    seconds = us / 1e6
    for unit, size in (("d", 86400), ("h", 3600), ("min", 60)):
        if seconds >= size:
            return f"{seconds / size:.3g} {unit}"
    return f"{seconds:.3g} s"


def short_hash(court_hash: str) -> str:
    return court_hash[:12] + "…" if len(court_hash) > 12 else court_hash


def lines(*blocks: str) -> str:
    return "\n\n".join(b for b in blocks if b)


