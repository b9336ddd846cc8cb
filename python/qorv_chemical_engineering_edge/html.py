"""The HTML report: one self-contained file (inline CSS and SVG, no script, no network).

Read top to bottom: the verdict, how the export was read, the findings with coloured levels, the
profile values with their provenance, the data-availability chart (with a lane per context file:
lab samples as ticks, work orders and batches as bands), a section per context file, the per-tag
table, the notes and the seals.
"""
from __future__ import annotations

import datetime as _dt
import heapq
import html as _html
import itertools
import math
import os
from typing import TYPE_CHECKING, Iterable, List, Optional, Sequence, Tuple

from . import _names, _render
from ._availability import context_lanes

if TYPE_CHECKING:
    from ._availability import Availability
    from .profile import ExportProfile, ExportReport, TagEvidence
    from .readiness import ReadinessRecord
    from .units import UnitCourtRecord

# Green, amber, red: by the core's verdicts and levels, in their order (best first).
VERDICT_COLOURS = dict(zip(_names.VERDICTS, ("#1a7f37", "#b76e00", "#c62828")))
LEVEL_COLOURS = dict(zip(_names.LEVELS, ("#dff3e4", "#fff1d6", "#fde0e0")))
# Signal health's levels: a value its unit rules out is an error, the rest warnings.
HEALTH_COLOURS = {"error": "#fde0e0", "warning": "#fff1d6"}
NO_ROWS = "#3b3f46"  # a bucket without a single row: an outage or the export's edge
NO_SAMPLES = "#afb8c1"  # rows, but none of them holds the tag (a file without its column)
WINDOW_COLOUR = "#0969da"  # the normal-operation window's outline
CONTEXT_COLOURS = {"lab": "#8250df", "maintenance": "#bf3989", "batches": "#1b7c83"}

# Past these, the page summarises: the tag table shows the worst tags and each note list its
# first items, and says how many more the JSON holds. A page stays readable and its size stays
# bounded however many tags the export has (a million-row table is 500 MB of HTML).
TABLE_TAGS = 200
NOTE_ITEMS = 50

_CSS = """
*{box-sizing:border-box}
body{font:14px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,Helvetica,Arial,sans-serif;
 margin:0;color:#1f2328;background:#f6f8fa}
main{max-width:1180px;margin:0 auto;padding:0 24px 40px}
.banner{color:#fff;padding:22px 24px;margin:0 0 20px}
.banner h1{margin:0;font-size:28px;letter-spacing:.2px}
.banner p{margin:6px 0 0;opacity:.92}
section{background:#fff;border:1px solid #d0d7de;border-radius:8px;padding:16px 20px;margin:0 0 18px}
h2{font-size:17px;margin:0 0 12px}
table{border-collapse:collapse;width:100%}
th,td{text-align:left;padding:5px 10px;border-bottom:1px solid #eaeef2;vertical-align:top}
th{font-weight:600;background:#f6f8fa}
td.num{text-align:right;font-variant-numeric:tabular-nums}
.level,.health{font-weight:600;border-radius:4px;padding:1px 8px;white-space:nowrap}
.prov{color:#57606a;font-size:12px}
code{font:12px ui-monospace,SFMono-Regular,Menlo,Consolas,monospace;word-break:break-all}
.legend{display:flex;gap:18px;align-items:center;margin:8px 0 0;color:#57606a;font-size:12px}
.swatch{display:inline-block;width:14px;height:14px;border-radius:2px;vertical-align:middle;
 margin-right:5px;border:1px solid #0002}
.muted{color:#57606a}
"""


def readiness_page(record: "ReadinessRecord") -> str:
    return _page(record.verdict, [
        _banner(record.verdict, record.n_caveat, record.n_critical_missing, "profile given"),
        _findings(record),
        _section("Seal", _kv([("court_hash", f"<code>{record.court_hash}</code>")])),
    ])


HAZARD_OK = "#dff3e4"
HAZARD_BAD = "#fde0e0"


def units_page(record: "UnitCourtRecord") -> str:
    rows = []
    for f in record.findings:
        colour = HAZARD_OK if f.hazard == "consistent" else HAZARD_BAD
        conversion = "–" if f.factor is None else (
            f"× {f.factor:.10g}" + ("" if not f.offset else f" {f.offset:+.10g}"))
        rows.append(
            f"<tr><td>{_e(f.context)}</td><td style=\"white-space:nowrap\">{_e(f.a)}</td>"
            f"<td style=\"white-space:nowrap\">{_e(f.b)}</td>"
            f'<td><span class="level" style="background:{colour}">{_e(f.hazard)}</span></td>'
            f"<td>{_e(conversion)}</td><td>{_e(f.message)}</td></tr>"
        )
    colour = VERDICT_COLOURS[_names.VERDICTS[0] if record.n_hazard == 0 else _names.VERDICTS[-1]]
    banner = (
        f'<div class="banner" id="verdict" style="background:{colour}">'
        f"<h1>{record.n_hazard} unit hazard{'s' if record.n_hazard != 1 else ''}</h1>"
        f"<p>{record.assertions_checked} assertions · {record.n_consistent} consistent · "
        f"{_e(record.court)}</p></div>"
    )
    return _page(f"{record.court}: {record.n_hazard} hazards", [
        banner,
        _section("Findings", _table(("context", "a", "b", "hazard", "x_b = x_a × factor + offset",
                                     "message"), rows)),
        _section("Seal", _kv([("court_hash", f"<code>{record.court_hash}</code>")])),
    ])


def profile_page(profile: "ExportProfile") -> str:
    return _page("Export profile", [
        f'<div class="banner" style="background:#24292f"><h1>Export profile</h1>'
        f"<p>{_e(_source(profile))}</p></div>",
        _reading(profile),
        _values(profile),
        _chart(profile),
        _health(profile),
        _context(profile),
        _tags(profile),
        _notes(profile),
        _seals(profile, None),
    ])


def report_page(report: "ExportReport") -> str:
    return _page(report.verdict, [
        _banner(report.verdict, report.n_caveat, report.n_critical_missing,
                _source(report.profile)),
        _reading(report.profile),
        _findings(report.record),
        _values(report.profile),
        _chart(report.profile),
        _health(report.profile),
        _context(report.profile),
        _tags(report.profile),
        _notes(report.profile),
        _seals(report.profile, report.court_hash),
    ])


# ---- parts ---------------------------------------------------------------------------------

def _page(title: str, parts: Sequence[str]) -> str:
    banner, rest = parts[0], "\n".join(parts[1:])
    return (
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        f"<title>{_e(title)}</title><meta name=\"viewport\" content=\"width=device-width\">"
        f"<style>{_CSS}</style></head>\n<body>{banner}<main>\n{rest}\n</main></body></html>\n"
    )


def _banner(verdict: str, n_caveat: int, n_critical: int, source: str) -> str:
    colour = VERDICT_COLOURS.get(verdict, "#57606a")
    return (
        f'<div class="banner" id="verdict" style="background:{colour}">'
        f"<h1>{_e(verdict)}</h1>"
        f"<p>{n_caveat} caveat{'s' if n_caveat != 1 else ''} · {n_critical} critical "
        f"witness{'es' if n_critical != 1 else ''} missing · {_e(source)}</p></div>"
    )


def _findings(record: "ReadinessRecord") -> str:
    rows = []
    for f in record.findings:
        colour = LEVEL_COLOURS.get(f.level, "#eee")
        rows.append(
            f"<tr><td>{_e(f.dimension)}</td><td><span class=\"level\" "
            f"style=\"background:{colour}\">{_e(f.level)}</span></td><td>{_e(f.message)}</td></tr>"
        )
    return _section("Findings", _table(("dimension", "level", "message"), rows))


def _values(profile: "ExportProfile") -> str:
    rows = [
        f"<tr><td>{_e(v.name)}</td><td class=\"num\" style=\"padding-left:40px\">"
        f"{_e(_value(v.value))}</td><td class=\"prov\">{_e(v.provenance)}</td></tr>"
        for v in profile.values.values()
    ]
    files = ", ".join(
        f"{_e(f.path)} ({f.bytes:,} bytes, {f.data_rows:,} rows)" for f in profile.files
    )
    return _section(
        "Profile",
        _table(("field", "value", "provenance"), rows, width="auto")
        + f"<p class=\"muted\">{profile.layout} layout · {files}</p>",
    )


def _chart(profile: "ExportProfile") -> str:
    grid = profile.availability(max_tags=120)
    if not grid.tags:
        return _section("Data availability", f"<p class=\"muted\">Not drawn: {_e(grid.note)}.</p>")
    b = profile.baseline_suggestion
    window = None
    if b is not None and b.window is not None:
        from ._availability import span_of

        at = span_of(grid, b.window.start_us, b.window.end_us)
        if at is not None:
            window = (*at, f"normal-operation window: {b.window.start} to {b.window.end}, "
                           f"{b.window.rows:,} rows")
    return _section("Data availability", _svg(grid, window=window, context=profile)
                    + _legend(window is not None, bool(profile.context))
                    + _baseline(profile))


def _baseline(profile: "ExportProfile") -> str:
    """The normal-operation window found, why, and its runners-up; empty when not looked for."""
    b = profile.baseline_suggestion
    if b is None:
        return ""
    head = ("No normal-operation window." if b.window is None else
            f"Normal-operation window: {_e(b.window.start)} to {_e(b.window.end)}, "
            f"{b.window.rows:,} rows.")
    text = f'<p id="baseline-window"><strong>{head}</strong> {_e(b.why)}.</p>'
    if b.runners_up:
        rows = [f"<tr><td class=\"num\">{i + 1}</td><td>{_e(w.start)}</td><td>{_e(w.end)}</td>"
                f"<td class=\"num\">{w.rows:,}</td></tr>" for i, w in enumerate(b.runners_up)]
        text += _table(("runner-up", "start", "end", "rows"), rows, width="auto")
    return text


def _svg(grid: "Availability", max_tags: int = 120,
         window: Optional[Tuple[float, float, str]] = None,
         context: Optional["ExportProfile"] = None) -> str:
    order = list(range(len(grid.tags)))
    if len(order) > max_tags:  # the tags with the least data first
        order.sort(key=lambda i: _mean(grid.shares[i]))
        order = sorted(order[:max_tags])
    label_w, cell_h, top, width = 150, 14, 8, 1100
    plot_w = width - label_w - 10
    cell_w = plot_w / grid.buckets
    span_us = grid.bucket_us * grid.buckets
    lanes = [] if context is None else context_lanes(context, grid.start_us, span_us)
    lanes_top = top + cell_h * len(order) + (4 if lanes else 0)
    height = lanes_top + cell_h * len(lanes) + 40
    parts = [
        f'<svg xmlns="http://www.w3.org/2000/svg" id="availability" width="100%" '
        f'viewBox="0 0 {width} {height}" role="img" aria-label="data availability">',
        '<style>text{font:11px system-ui,sans-serif;fill:#1f2328}</style>',
    ]
    # What every row shares is made once: each column's position and time, each shade.
    columns = [f'<rect x="{label_w + b * cell_w:.2f}" ' for b in range(grid.buckets)]
    times = [_e(_time(grid, b)) for b in range(grid.buckets)]
    size = f'width="{cell_w + 0.3:.2f}" height="{cell_h - 1}" fill="'
    shades: dict = {}
    for row, i in enumerate(order):
        y = top + row * cell_h
        name = _e(grid.tags[i])
        parts.append(f'<text x="{label_w - 6}" y="{y + cell_h - 3}" text-anchor="end">'
                     f"{_e(_clip(grid.tags[i], 22))}</text>")
        at_y = f'y="{y}" {size}'
        for b, share in enumerate(grid.shares[i]):
            if share is None:
                fill, tip = _empty(grid, i, b)
            else:
                fill = shades.get(share) or shades.setdefault(share, _shade(share))
                tip = _tip(grid, i, b)
            parts.append(f'{columns[b]}{at_y}{fill}"><title>{name} · {times[b]}: {tip}</title>'
                         "</rect>")
    if window is not None:  # outlined over every row drawn, at least 3 px wide
        x0 = label_w + window[0] * plot_w
        w = max(3.0, (window[1] - window[0]) * plot_w)
        parts.append(f'<rect id="baseline-outline" x="{x0:.1f}" y="{top - 2}" width="{w:.1f}" '
                     f'height="{cell_h * len(order) + 3}" fill="none" stroke="{WINDOW_COLOUR}" '
                     f'stroke-width="3"><title>{_e(window[2])}</title></rect>')
    for k, (kind, file, marks) in enumerate(lanes):
        y = lanes_top + k * cell_h
        colour = CONTEXT_COLOURS.get(kind, "#57606a")
        # The file's own name fits the tag labels' column; the colour and the legend say the
        # kind, the hover text the whole path.
        parts.append(f'<text x="{label_w - 6}" y="{y + cell_h - 3}" text-anchor="end" '
                     f'fill="{colour}"><title>{_e(kind + ": " + file)}</title>'
                     f'{_e(_clip(os.path.basename(file) or file, 22))}</text>'
                     f'<rect x="{label_w}" y="{y}" width="{plot_w}" height="{cell_h - 1}" '
                     'fill="#f6f8fa"/>')
        for x0, x1, band, words in marks:
            x = label_w + x0 * plot_w
            w = max((x1 - x0) * plot_w, 1.5)
            dash = "" if band or kind != "batches" else ' stroke-dasharray="2,2"'
            shape = (f'<rect x="{x:.2f}" y="{y + 1}" width="{w:.2f}" height="{cell_h - 3}" '
                     f'fill="{colour}" fill-opacity="0.45" stroke="{colour}"/>' if band else
                     f'<line x1="{x:.2f}" y1="{y}" x2="{x:.2f}" y2="{y + cell_h - 1}" '
                     f'stroke="{colour}" stroke-width="1.5"{dash}/>')
            parts.append(f'<g class="context-mark">{shape}<title>{_e(file)}: {_e(words)}'
                         "</title></g>")
    axis_y = lanes_top + cell_h * len(lanes) + 14
    for at_us, label in _ticks(grid.start_us, span_us):
        x = label_w + (at_us - grid.start_us) / span_us * plot_w
        parts.append(f'<line x1="{x:.1f}" y1="{axis_y - 12}" x2="{x:.1f}" y2="{axis_y - 8}" '
                     'stroke="#57606a"/>')
        parts.append(f'<text x="{x:.1f}" y="{axis_y + 4}" text-anchor="middle">'
                     f"{_e(label)}</text>")
    parts.append(f'<text x="{label_w}" y="{axis_y + 20}" fill="#57606a">time (UTC), '
                 f"{grid.buckets} buckets of {_render.duration(grid.bucket_us)}</text>")
    parts.append("</svg>")
    return "".join(parts)


def _tip(grid: "Availability", tag: int, bucket: int) -> str:
    present, full = grid.present[tag][bucket], grid.expected[tag][bucket]
    bad = grid.bad_state[tag][bucket]
    return f"{present:,} of {full:,} present" + (f", {bad:,} bad-state" if bad else "")


def _empty(grid: "Availability", tag: int, bucket: int) -> Tuple[str, str]:
    """(fill, words) of a cell without a share: no rows at all, or rows without the tag."""
    rows = grid.rows[bucket] if grid.rows else 0
    if not rows:
        return NO_ROWS, "no rows"
    return NO_SAMPLES, f"no samples of {_e(grid.tags[tag])} ({rows:,} rows)"


def _legend(window: bool = False, context: bool = False) -> str:
    stops = [(1.0, "all present"), (0.75, "75%"), (0.5, "50%"), (0.0, "none present")]
    items = "".join(
        f'<span><span class="swatch" style="background:{_shade(s)}"></span>{label}</span>'
        for s, label in stops
    )
    items += (f'<span><span class="swatch" style="background:{NO_ROWS}"></span>'
              "no rows at all (outage)</span>"
              f'<span><span class="swatch" style="background:{NO_SAMPLES}"></span>'
              "no samples of the tag</span>")
    if window:
        items += (f'<span><span class="swatch" style="background:none;border:2px solid '
                  f'{WINDOW_COLOUR}"></span>normal-operation window</span>')
    if context:
        items += "".join(
            f'<span><span class="swatch" style="background:{colour}"></span>{label}</span>'
            for colour, label in ((CONTEXT_COLOURS["lab"], "lab sample"),
                                  (CONTEXT_COLOURS["maintenance"], "work order"),
                                  (CONTEXT_COLOURS["batches"], "batch (dashed: open)")))
    return f'<div class="legend">{items}</div>'


def _context(profile: "ExportProfile") -> str:
    """A section per context file: what it showed against the export."""
    parts = []
    for c in profile.context:
        skipped = ", ".join(f"{n:,} {r}" for r, n in c.skipped) or "none"
        tags = _listing((_e(t) for t in c.tags), len(c.tags)) or "none"
        items = [
            ("kind", _e(c.kind)),
            ("read", f"{c.records:,} rows, {c.bytes:,} bytes"),
            ("inside the export's span", f"{c.inside:,}"),
            ("outside it", f"{c.outside:,}"),
        ]
        if c.kind == "lab":
            items.append(("censored results", f"{c.censored:,}"))
        if c.kind == "batches":
            items.append(("open batches", f"{c.open:,}"))
        items += [
            ("skipped", _e(skipped)),
            ("export tags it names", tags),
            ("its own span", _e(f"{c.first or '–'} to {c.last or '–'}")),
            ("notes", "<br>".join(_e(n) for n in c.notes) or "none"),
            ("digest", f"<code>{c.digest}</code>"),
        ]
        parts.append(_section(f"Context: {c.file}", _kv(items)))
    return "\n".join(parts)


def worst_tags(tags: Sequence["TagEvidence"], limit: int) -> List[int]:
    """Indices of at most `limit` tags, worst first: the largest share of missing samples (a tag
    without samples counts as all missing), then by name. O(n log limit)."""
    def key(i: int) -> Tuple[float, str]:
        t = tags[i]
        return (-(t.missing / t.samples) if t.samples else -1.0, t.name)

    return heapq.nsmallest(limit, range(len(tags)), key=key)


def _tags(profile: "ExportProfile") -> str:
    tags = profile.tags
    indexes: Sequence[int] = range(len(tags))
    summary = ""
    if len(tags) > TABLE_TAGS:
        indexes = worst_tags(tags, TABLE_TAGS)
    shown = [tags[i] for i in indexes]
    if len(shown) < len(tags):
        summary = (f'<p class="muted" id="tags-summary">The {len(shown):,} tags with the largest '
                   f"share missing of {len(tags):,}, worst first; the other "
                   f"{len(tags) - len(shown):,} are in the JSON (<code>to_json()</code>).</p>")
    health = any(t.numeric_samples for t in tags)
    envelopes = _envelopes(profile, list(indexes)) if health else []
    notes = profile.notes
    flagged = {name: flag for flag, names in (("interpolated", notes.interpolated_tags),
                                              ("frozen", notes.frozen_tags),
                                              ("impossible", notes.impossible_value_tags))
               for name in names}
    rows = []
    for k, t in enumerate(shown):
        share = f"{t.missing / t.samples:.1%}" if t.samples else "–"
        stats = ""
        if health:
            flags = [f for f, on in (("constant", t.constant), ("state", t.state_tag),
                                     (flagged.get(t.name, ""), t.name in flagged)) if on]
            stats = "".join(f'<td class="num">{_stat(v)}</td>' for v in (
                t.min, t.max, t.mean, t.std, t.modal_step_seconds))
            stats += f"<td>{_e(' '.join(flags))}</td>"
        # Beside the name, where the eye starts: what the tag did over the export's span.
        envelope = f"<td>{envelopes[k]}</td>" if health else ""
        rows.append(
            f"<tr><td>{_e(t.name)}</td><td>{_e(t.unit or '–')}</td>{envelope}"
            f"<td>{'yes' if t.unit_recognised else 'no'}</td><td>{_e(t.dimension or '–')}</td>"
            f'<td class="num">{t.samples:,}</td><td class="num">{t.present:,}</td>'
            f'<td class="num">{share}</td><td class="num">{t.missing_empty:,}</td>'
            f'<td class="num">{t.missing_bad_state:,}</td><td class="num">{t.missing_text:,}</td>'
            f'<td class="num">{t.missing_sentinel + t.missing_quality:,}</td>{stats}</tr>'
        )
    head: Tuple[str, ...] = ("tag", "unit", *(("min/max over time",) if health else ()), "known",
                             "dimension", "samples", "present", "missing", "empty", "bad-state",
                             "text", "sentinel/quality")
    if health:
        head += ("min", "max", "mean", "std", "step s", "health")
    # Wide with the health columns: it scrolls within its section.
    return _section("Tags", summary + '<div style="overflow-x:auto">' + _table(head, rows)
                    + "</div>")


def _envelopes(profile: "ExportProfile", indexes: List[int], buckets: int = 32) -> List[str]:
    """Per tag at `indexes`, its min/max envelope over time as a small SVG: a bar per bucket
    from the least to the greatest value there, on the tag's own range; empty strings when the
    profile kept no envelope."""
    from ._availability import compute

    grid = compute(profile, buckets, tags=indexes)
    if not grid.low:
        return ["" for _ in indexes]
    width, height = 96, 18
    step = width / grid.buckets
    out = []
    for row, i in enumerate(indexes):
        t = profile.tags[i]
        if t.min is None or t.max is None or not (math.isfinite(t.min) and math.isfinite(t.max)):
            out.append("")
            continue
        span = t.max - t.min
        bars = []
        for b, (lo, hi) in enumerate(zip(grid.low[row], grid.high[row])):
            if lo is None or hi is None:
                continue
            # On the tag's own range, top the greatest; a flat tag is drawn mid-height.
            y0 = height / 2 if span <= 0 else 1 + (t.max - hi) / span * (height - 2)
            y1 = height / 2 if span <= 0 else 1 + (t.max - lo) / span * (height - 2)
            bars.append(f'<rect x="{b * step:.1f}" y="{y0:.1f}" width="{max(step - 0.6, 0.8):.1f}"'
                        f' height="{max(y1 - y0, 1.2):.1f}"/>')
        out.append(f'<svg class="envelope" width="{width}" height="{height}" '
                   f'viewBox="0 0 {width} {height}" role="img" fill="#0969da">'
                   f"<title>{_e(t.name)}: {_stat(t.min)} to {_stat(t.max)}, per "
                   f"{_render.duration(grid.bucket_us)}</title>{''.join(bars)}</svg>")
    return out


def _health(profile: "ExportProfile") -> str:
    """Signal health: the tags holding values their unit rules out (error), then suspicious
    values, frozen, interpolated and compressed tags (warning); empty when it was off."""
    tags = profile.tags
    if not any(t.numeric_samples for t in tags):
        return ""
    found = profile.health_findings()
    if not found:
        return _section("Signal health", '<p class="muted">No tag holds values its unit rules '
                        "out, none is frozen, interpolated or compressed.</p>")
    shown = found[:TABLE_TAGS]
    rows = [f'<tr><td><span class="health" style="background:{HEALTH_COLOURS[level]}">'
            f"{level}</span></td><td>{_e(name)}</td><td>{_e(text)}</td></tr>"
            for level, name, text in shown]
    more = (f'<p class="muted">{len(found) - len(shown):,} more in the JSON.</p>'
            if len(found) > len(shown) else "")
    return _section("Signal health", _table(("level", "tag", "finding"), rows) + more)


def _reading(profile: "ExportProfile") -> str:
    """How the export was read: per file, each fact the reader decided (the layout, the
    conventions) with how it was decided. Files read alike share one row."""
    groups: List[Tuple[List[str], Sequence[Tuple[str, str, str]]]] = []
    for f in profile.files:
        facts = [(r.name, r.value, r.how) for r in f.reading]
        same = next((g for g in groups if list(g[1]) == list(facts)), None)
        if same is None:
            groups.append(([f.path], facts))
        else:
            same[0].append(f.path)
    rows = []
    for paths, facts in groups:
        more = len(paths) - 1
        files = _e(paths[0]) + (f" and {more:,} more file{'s' if more > 1 else ''}" if more else "")
        for k, (name, value, how) in enumerate(facts):
            rows.append(f"<tr><td>{files if k == 0 else ''}</td><td>{_e(name)}</td>"
                        f"<td><code>{_e(_render.fact_value(value))}</code></td>"
                        f'<td class="prov">{_e(how)}</td></tr>')
    if not rows:
        return ""
    return _section("How the export was read",
                    _table(("file", "read", "as", "how"), rows, width="auto")
                    .replace("<table", '<table id="reading"', 1))


def _notes(profile: "ExportProfile") -> str:
    from .profile import _quiet_notes

    items = _render.note_items(profile.notes.to_dict(), _quiet_notes(), _names.NOTE_LABELS,
                               NOTE_ITEMS, "in the JSON")
    if not items:
        return _section("Notes", '<p class="muted">None.</p>')
    return _section("Notes", _kv((label, _e(text)) for label, text in items))


def _seals(profile: "ExportProfile", court_hash: Optional[str]) -> str:
    # What identifies the data comes first; the verdict's seal after it.
    items = [
        (f"profile seal ({_names.PROFILE_SCHEMA})", f"<code>{profile.seal}</code>"),
        ("input digest", f"<code>{profile.input_digest}</code>"),
    ]
    said = ("The profile seal and the input digest identify the data: its profile (values, "
            "evidence, notes and options) and its bytes.")
    if court_hash is not None:
        items.append((f"court_hash ({_names.READINESS_COURT})", f"<code>{court_hash}</code>"))
        said += " court_hash seals the verdict pattern the court found for that profile."
    items += [
        ("unit vocabulary", _e(profile.unit_vocabulary)),
        ("options", "<code>" + _e(", ".join(_option(k, v) for k, v in profile.options.items()))
         + "</code>"),
    ]
    return _section("Seals", f'<p class="muted" id="seals-said">{said}</p>' + _kv(items))


def _option(key: str, value: object) -> str:
    """An option as `key=value`; an instant (`..._us`, microseconds) as its ISO 8601 text."""
    if key.endswith("_us"):
        key = key[:-3]
        if isinstance(value, int) and not isinstance(value, bool):
            value = _names.format_instant(value)
    return f"{key}={value!r}"


# ---- helpers -------------------------------------------------------------------------------

def _section(title: str, body: str) -> str:
    return f"<section><h2>{_e(title)}</h2>{body}</section>"


def _table(head: Iterable[str], rows: Iterable[str], width: str = "100%") -> str:
    cells = "".join(f"<th>{_e(h)}</th>" for h in head)
    return (f'<table style="width:{width}"><thead><tr>{cells}</tr></thead>'
            f"<tbody>{''.join(rows)}</tbody></table>")


def _listing(items: Iterable[str], total: int = 0) -> str:
    """The first NOTE_ITEMS items, comma-separated; with `total` above that, how many more."""
    text = ", ".join(itertools.islice(items, NOTE_ITEMS))
    if total > NOTE_ITEMS:
        text += f" … and {total - NOTE_ITEMS:,} more in the JSON"
    return text


def _kv(items: Iterable[Tuple[str, str]]) -> str:
    rows = "".join(f"<tr><th style=\"width:30%\">{_e(k)}</th><td>{v}</td></tr>" for k, v in items)
    return f"<table>{rows}</table>"


def _shade(share: float) -> str:
    """Red (none present) through amber to green (all present)."""
    stops = [(0.0, (198, 40, 40)), (0.5, (240, 173, 40)), (0.85, (190, 214, 110)),
             (1.0, (46, 160, 67))]
    share = min(1.0, max(0.0, share))
    for (s0, c0), (s1, c1) in zip(stops, stops[1:]):
        if share <= s1:
            t = (share - s0) / (s1 - s0)
            r, g, b = (round(a + (z - a) * t) for a, z in zip(c0, c1))
            return f"#{r:02x}{g:02x}{b:02x}"
    return "#2ea043"


def _time(grid: "Availability", bucket: int) -> str:
    moment = _dt.datetime(1970, 1, 1) + _dt.timedelta(
        microseconds=grid.start_us + bucket * grid.bucket_us)
    return moment.strftime("%Y-%m-%d %H:%M")


_TICK_STEPS_S = (60, 300, 900, 1800, 3600, 3 * 3600, 6 * 3600, 12 * 3600, 86400, 2 * 86400,
                 7 * 86400, 14 * 86400, 30 * 86400, 91 * 86400, 365 * 86400)


def _ticks(start_us: int, span_us: int, most: int = 9) -> List[Tuple[int, str]]:
    """Ticks on round UTC times (whole minutes, hours or days), at most `most` of them."""
    step_s = next((s for s in _TICK_STEPS_S if span_us / (s * 1e6) <= most), _TICK_STEPS_S[-1])
    step_us = step_s * 1_000_000
    first = -(-start_us // step_us) * step_us
    fmt = "%Y-%m-%d" if step_s >= 86400 else "%m-%d %H:%M"
    out = []
    for at in range(first, start_us + span_us + 1, step_us):
        moment = _dt.datetime(1970, 1, 1) + _dt.timedelta(microseconds=at)
        out.append((at, moment.strftime(fmt)))
    return out


def _mean(values: Sequence[Optional[float]]) -> float:
    known = [v for v in values if v is not None]
    return sum(known) / len(known) if known else 0.0


def _stat(value: Optional[float]) -> str:
    return "–" if value is None else f"{value:.6g}"


def _value(value: object) -> str:
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        return "not known" if math.isnan(value) else f"{value:.6g}"
    return f"{value:,}" if isinstance(value, int) else str(value)


def _source(profile: "ExportProfile") -> str:
    if len(profile.source) == 1:
        return profile.source[0]
    return f"{profile.source[0]} and {len(profile.source) - 1} more files"


def _clip(text: str, width: int) -> str:
    return text if len(text) <= width else text[: width - 1] + "…"


def _e(text: object) -> str:
    return _html.escape(str(text), quote=True)
