"""From a historian export to a profile and a verdict: `profile_export` and `grade_export`."""
from __future__ import annotations

import dataclasses
import functools
import operator
from dataclasses import dataclass, field
from typing import Any, Callable, Dict, List, Mapping, Optional, Sequence, Tuple, Union

from . import _names, _native, _options, _render
from ._availability import Availability, Bins, bins_of
from .readiness import PROFILE_FIELDS, Finding, ReadinessRecord, grade

# Signal health's findings printed under its line; the rest are in health_findings().
HEALTH_LINES = 20

Progress = Callable[[int, int], None]


# Microseconds since the epoch as ISO 8601 UTC text ("...Z"); None stays None.
instant_text = _names.format_instant


@dataclass(frozen=True)
class ProfileValue:
    """One of the thirteen readiness values, with where it came from."""

    name: str
    value: Union[int, float, bool]
    provenance: str  # "derived", "inferred", "declared", "default" or "suggested"

    def to_dict(self) -> Dict[str, Any]:
        value = _render.number(self.value) if isinstance(self.value, float) else self.value
        return {"name": self.name, "value": value, "provenance": self.provenance}


@dataclass(frozen=True)
class TagEvidence:
    """What the profiler saw of one tag."""

    name: str
    unit: str
    unit_recognised: bool
    dimension: str
    numeric: bool
    samples: int
    present: int
    missing_empty: int
    missing_bad_state: int
    missing_text: int
    missing_sentinel: int
    missing_quality: int
    first: Optional[str]  # ISO 8601 UTC
    last: Optional[str]
    modal_step_seconds: Optional[float]  # long layout only
    regular: bool
    uncertain: int = 0  # present samples of uncertain quality
    censored: int = 0  # present samples written as censored values (<0.5, >100, ND)
    # Signal health (profile_export(health=True); rules in edge/EXPORT_PROFILE.md), over the
    # finite numbers counted present and not censored; None where there is none, and None, 0,
    # False or empty with health off. modal_step_seconds above is then set for
    # every layout.
    numeric_samples: int = 0
    min: Optional[float] = None
    max: Optional[float] = None
    mean: Optional[float] = None
    std: Optional[float] = None  # sample standard deviation (n - 1); None below 2 samples
    first_value: Optional[float] = None  # in the export's order
    last_value: Optional[float] = None
    constant: bool = False  # at least 2 samples, all equal
    state_tag: bool = False  # a loop's SP or MODE, or at most 8 distinct whole values
    frozen_longest_seconds: Optional[float] = None
    frozen_longest_samples: int = 0
    frozen_share: Optional[float] = None  # of its span, in runs of >= 2 h and >= 50 samples
    interpolated_share: Optional[float] = None  # of the samples judged on their neighbours
    interpolated_judged: int = 0
    compressed: bool = False  # long and paired: irregular steps spread like a deadband
    value_limits: str = ""  # the kind of limit the unit sets
    impossible_values: int = 0
    suspicious_values: int = 0

    @property
    def missing(self) -> int:
        return (self.missing_empty + self.missing_bad_state + self.missing_text
                + self.missing_sentinel + self.missing_quality)

    def to_dict(self) -> Dict[str, Any]:
        data = dict(zip(_TAG_FIELDS, _tag_values(self)))
        for name in _FLOAT_FIELDS:
            data[name] = _render.number(data[name])
        return data


_TAG_FIELDS = tuple(f.name for f in dataclasses.fields(TagEvidence))
_tag_values = operator.attrgetter(*_TAG_FIELDS)
_FLOAT_FIELDS = ("modal_step_seconds", "min", "max", "mean", "std", "first_value", "last_value",
                 "frozen_longest_seconds", "frozen_share", "interpolated_share")


@dataclass(frozen=True)
class ReadingFact:
    """One convention a file was read with: its name, the value chosen, and how it was settled
    ("detected" in the file, "given" by an option, or the reader's "default")."""

    name: str
    value: str
    how: str


@dataclass(frozen=True)
class FileSummary:
    path: str
    bytes: int
    layout: str
    delimiter: str
    data_rows: int
    reading: Tuple[ReadingFact, ...] = ()

    def to_dict(self) -> Dict[str, Any]:
        data = dataclasses.asdict(self)
        data["reading"] = [dataclasses.asdict(r) for r in self.reading]
        return data


@dataclass(frozen=True)
class ProfileNotes:
    """Everything the profiler noticed beside the values."""

    unknown_units: Tuple[Tuple[str, int], ...]
    bad_state_texts: Tuple[Tuple[str, int], ...]
    other_texts: Tuple[Tuple[str, int], ...]
    other_texts_complete: bool
    metadata_rows_skipped: int
    unparsed_rows: int
    first_unparsed_rows: Tuple[Tuple[str, int], ...]  # (file, line)
    clock_changes: Tuple[Tuple[str, int, str], ...]  # (file, line, instant stepped back to)
    nonexistent_times_moved: int
    repeated_hour_second: int
    unit_disagreements: Tuple[Tuple[str, str, str], ...]  # (tag, unit kept, other unit)
    loops: Tuple[Tuple[str, Tuple[str, ...]], ...]  # (base name, suffixes)
    blank_lines: int = 0
    ragged_rows: int = 0  # rows with more or fewer cells than the header
    oversized_rows: int = 0
    unnamed_columns: int = 0
    title_lines_skipped: int = 0  # lines above the header: title block, sep=, [Data]
    footer_rows: int = 0  # summary rows (Min, Average ...) and row counts under the data
    input_digest_complete: bool = True
    # Quoted fields holding rows (a stray quote's run), read as cells (accept_multiline_fields):
    # how many, the line ends inside them, and the first (file, line where it opened, line ends).
    multiline_fields: int = 0
    multiline_field_lines: int = 0
    first_multiline_field: Optional[Tuple[str, int, int]] = None
    # Present samples of uncertain quality, and those written as censored values, in all tags.
    uncertain_samples: int = 0
    censored_samples: int = 0
    # Texts read as Windows-1252 (not valid UTF-8, or that encoding given), and the U+FFFD put
    # in decoding UTF-16 (unpaired surrogates, a lone last byte).
    windows_1252_texts: int = 0
    utf16_replacements: int = 0
    # Signal health (health=True), tag names sorted: frozen (never a constant or state tag),
    # interpolated or compressed, and holding values their unit rules out.
    frozen_tags: Tuple[str, ...] = ()
    interpolated_tags: Tuple[str, ...] = ()
    impossible_value_tags: Tuple[str, ...] = ()

    def to_dict(self) -> Dict[str, Any]:
        def counts(items: Tuple[Tuple[str, int], ...]) -> List[Dict[str, Any]]:
            return [{"text": t, "count": n} for t, n in items]

        shown: Dict[str, Any] = {
            "unknown_units": counts(self.unknown_units),
            "bad_state_texts": counts(self.bad_state_texts),
            "other_texts": counts(self.other_texts),
            "other_texts_complete": self.other_texts_complete,
            "metadata_rows_skipped": self.metadata_rows_skipped,
            "unparsed_rows": self.unparsed_rows,
            "first_unparsed_rows": [{"file": f, "line": n} for f, n in self.first_unparsed_rows],
            "clock_changes": [{"file": f, "line": n, "at": t} for f, n, t in self.clock_changes],
            "nonexistent_times_moved": self.nonexistent_times_moved,
            "repeated_hour_second": self.repeated_hour_second,
            "unit_disagreements": [
                {"tag": t, "unit": u, "other": o} for t, u, o in self.unit_disagreements
            ],
            "loops": [{"base": b, "suffixes": list(s)} for b, s in self.loops],
            "blank_lines": self.blank_lines,
            "ragged_rows": self.ragged_rows,
            "oversized_rows": self.oversized_rows,
            "unnamed_columns": self.unnamed_columns,
            "title_lines_skipped": self.title_lines_skipped,
            "footer_rows": self.footer_rows,
            "input_digest_complete": self.input_digest_complete,
        }
        if self.multiline_fields:  # only when seen, as the seal holds them
            file, line, ends = self.first_multiline_field or ("", 0, 0)
            shown["multiline_fields"] = self.multiline_fields
            shown["multiline_field_lines"] = self.multiline_field_lines
            shown["first_multiline_field"] = {"file": file, "line": line, "line_ends": ends}
        for name in ("uncertain_samples", "censored_samples", "windows_1252_texts",
                     "utf16_replacements"):  # likewise
            if getattr(self, name):
                shown[name] = getattr(self, name)
        for name in ("frozen_tags", "interpolated_tags", "impossible_value_tags"):
            shown[name] = list(getattr(self, name))
        return shown


@dataclass(frozen=True)
class BaselineWindow:
    """A run of consecutive rows that qualify as normal operation: first and last instant
    (ISO 8601 UTC) and its rows."""

    start: str
    end: str
    rows: int
    start_us: int = field(default=0, repr=False)  # the same instants, for drawing
    end_us: int = field(default=0, repr=False)

    def to_dict(self) -> Dict[str, Any]:
        return {"start": self.start, "end": self.end, "rows": self.rows}


@dataclass(frozen=True)
class BaselineSuggestion:
    """The normal-operation window found in a wide export (see edge/EXPORT_PROFILE.md), or why
    none was; `runners_up` are the next best qualifying runs (at most five)."""

    window: Optional[BaselineWindow]
    why: str
    runners_up: Tuple[BaselineWindow, ...]
    qualifying_runs: int  # runs meeting the minimums, the window included
    qualifying_rows: int  # rows that qualify, in any run
    short_export: bool  # the export spans under 24 h: the window had to span all of it
    min_hours: float  # the span a run needed

    def to_dict(self) -> Dict[str, Any]:
        return {
            "window": None if self.window is None else self.window.to_dict(),
            "why": self.why,
            "runners_up": [w.to_dict() for w in self.runners_up],
            "qualifying_runs": self.qualifying_runs,
            "qualifying_rows": self.qualifying_rows,
            "short_export": self.short_export,
            "min_hours": self.min_hours,
        }


def _suggestion(raw: Optional[Dict[str, Any]]) -> Optional[BaselineSuggestion]:
    if raw is None:
        return None

    def window(w: Tuple[int, int, int]) -> BaselineWindow:
        return BaselineWindow(instant_text(w[0]) or "", instant_text(w[1]) or "", w[2], w[0], w[1])

    return BaselineSuggestion(
        window=None if raw["window"] is None else window(raw["window"]),
        why=raw["why"],
        runners_up=tuple(window(w) for w in raw["runners_up"]),
        qualifying_runs=raw["qualifying_runs"],
        qualifying_rows=raw["qualifying_rows"],
        short_export=raw["short_export"],
        min_hours=raw["min_duration_us"] / 3.6e9,
    )


@dataclass(frozen=True)
class ContextSource:
    """What one context file (lab samples, work orders, a batch journal) showed against the
    export: its items inside and outside the export's span, rows or samples skipped and why,
    the export's tags it names, its own span, and notes."""

    kind: str  # "lab", "maintenance" or "batches"
    file: str
    digest: str  # SHA-256 as an export file is digested
    bytes: int
    records: int  # data rows read
    inside: int  # valid samples, orders, closed batches inside the export's span
    outside: int
    censored: int  # lab results written as censored values (<0.5, ND)
    open: int  # batches without an end event of their own
    skipped: Tuple[Tuple[str, int], ...]  # (reason, rows or samples)
    tags: Tuple[str, ...]  # the export's tags it names
    first: Optional[str]  # ISO 8601 UTC: its own span
    last: Optional[str]
    notes: Tuple[str, ...]
    # [start, end] in microseconds since the epoch (UTC): breaks of a normal-operation run, and
    # what a report draws (sample instants, orders, batches). Not sealed.
    breaks_us: Tuple[Tuple[int, int], ...] = field(default=(), repr=False)
    marks_us: Tuple[Tuple[int, int], ...] = field(default=(), repr=False)

    def to_dict(self) -> Dict[str, Any]:
        return {
            "kind": self.kind, "file": self.file, "digest": self.digest, "bytes": self.bytes,
            "records": self.records, "inside": self.inside, "outside": self.outside,
            "censored": self.censored, "open": self.open,
            "skipped": [{"reason": r, "count": n} for r, n in self.skipped],
            "tags": list(self.tags), "first": self.first, "last": self.last,
            "notes": list(self.notes),
            "marks": [{"start": instant_text(a), "end": instant_text(b)}
                      for a, b in self.marks_us],
        }


def _context_source(raw: Tuple[Any, ...]) -> ContextSource:
    (kind, file, digest, size, records, inside, outside, censored, open_, skipped, tags, first,
     last, notes, breaks, marks) = raw
    return ContextSource(kind, file, digest, size, records, inside, outside, censored, open_,
                         tuple(skipped), tuple(tags), instant_text(first), instant_text(last),
                         tuple(notes), tuple(breaks), tuple(marks))


@dataclass(frozen=True)
class ExportProfile:
    """The readiness profile of one export, with its evidence, digest and seal."""

    source: Tuple[str, ...]  # the files, in order, or one "<...>" label for an Arrow table
    layout: str
    values: Dict[str, ProfileValue]  # the thirteen, in grade_readiness's order
    tags: Tuple[TagEvidence, ...]
    notes: ProfileNotes
    files: Tuple[FileSummary, ...]
    input_digest: str
    unit_vocabulary: str
    seal: str
    options: Dict[str, Any]  # as used (JSON-ready)
    context: Tuple[ContextSource, ...] = ()  # one per context file, in the order given
    _native_options: Dict[str, Any] = field(default_factory=dict, repr=False, compare=False)
    _bins: Optional[Bins] = field(default=None, repr=False, compare=False)  # not sealed
    # The normal-operation window, when looked for (grade_export always looks): sealed only
    # under baseline="auto".
    baseline_suggestion: Optional[BaselineSuggestion] = None

    @property
    def profile_arguments(self) -> Dict[str, Any]:
        """Keyword arguments for `qorv_chemical_engineering.grade_readiness` (and `grade`)."""
        return {name: self.values[name].value for name in PROFILE_FIELDS}

    def __repr__(self) -> str:
        v = self.values
        return (
            f"ExportProfile(source={_short_source(self.source)!r}, layout={self.layout!r}, "
            f"n_tags={v['n_tags'].value}, n_rows={v['n_rows'].value}, "
            f"seal={_render.short_hash(self.seal)!r})"
        )

    def __str__(self) -> str:
        columns = _render.width()
        head = f"export profile of {_short_source(self.source)} ({self.layout} layout)"
        return _render.lines(
            "\n".join(_render.wrap(head, columns)),
            self.reading_text(columns),
            _render.table(
                ("field", "value", "provenance"),
                ((p.name, p.value, p.provenance) for p in self.values.values()), columns,
            ),
            self.tag_table(columns=columns),
            self.notes_text(columns),
            self.health_text(columns),
            self.baseline_text(columns),
            self.context_text(columns),
            _render.hashes((("input_digest", self.input_digest), ("profile seal", self.seal)),
                           columns),
        )

    def health_text(self, columns: Optional[int] = None) -> str:
        """Signal health in a line: the tags counted under each rule (the notes list them);
        empty when it was off or no tag holds a number."""
        numeric = [t for t in self.tags if t.numeric_samples]
        if not numeric:
            return ""
        n = self.notes
        counts = (f"signal health: {len(numeric)} tag(s) with numbers; "
                  f"{sum(t.constant for t in numeric)} constant, {len(n.frozen_tags)} frozen, "
                  f"{len(n.interpolated_tags)} interpolated or compressed, "
                  f"{len(n.impossible_value_tags)} with impossible values, "
                  f"{sum(t.suspicious_values > 0 for t in numeric)} with suspicious values")
        columns = columns or _render.width()
        lines = _render.wrap(counts, columns)
        found = self.health_findings()
        if found:
            shown = found[:HEALTH_LINES]
            lines.append(_render.table(("level", "tag", "finding"), shown, columns))
            if len(found) > len(shown):
                lines.append(f"{len(found) - len(shown):,} more: profile.health_findings()")
        return "\n".join(lines)

    def health_findings(self) -> List[Tuple[str, str, str]]:
        """Per finding of signal health, (level, tag, what it means): values the tag's unit
        rules out ("error"), then suspicious values, frozen, interpolated and compressed tags
        ("warning"); empty when it was off or found nothing."""
        n = self.notes
        by_name = {t.name: t for t in self.tags}
        found: List[Tuple[str, str, str]] = []
        for name in n.impossible_value_tags:
            t = by_name[name]
            found.append(("error", name, f"{t.impossible_values:,} value(s) its unit ({t.unit}, "
                                         f"{t.value_limits}) rules out"))
        for t in self.tags:
            if t.suspicious_values:
                # What such a value suggests, as the core says it for the tag's unit kind.
                limits = _native.value_limits(t.unit or "")
                why = limits["suspicious_why"] if limits and limits["kind"] == t.value_limits \
                    else None
                found.append(("warning", t.name, f"{t.suspicious_values:,} suspicious value(s) "
                                                 f"({t.value_limits}){': ' + why if why else ''}"))
        seconds, samples = _names.FROZEN_RUN
        for name in n.frozen_tags:
            t = by_name[name]
            longest = _render.duration(round((t.frozen_longest_seconds or 0) * 1e6))
            found.append(("warning", name,
                          f"frozen: {t.frozen_share or 0:.1%} of its span in runs of "
                          f"{_render.duration(round(seconds * 1e6))} and {samples} samples or "
                          f"more; longest {longest}, {t.frozen_longest_samples:,} samples: "
                          "present, but no measurement"))
        for name in n.interpolated_tags:
            t = by_name[name]
            found.append(("warning", name, "compressed: stored by exception, so its gaps are no "
                          "missing data and its step is no sampling rate" if t.compressed else
                          f"interpolated: {t.interpolated_share or 0:.0%} of "
                          f"{t.interpolated_judged:,} samples on their neighbours' line, the "
                          "historian's line between stored points: present, but not measured, "
                          "and its regular step is not how often it was measured"))
        return found

    def context_text(self, columns: Optional[int] = None) -> str:
        """Each context file's evidence, as text; empty without context."""
        if not self.context:
            return ""
        rows = [(c.kind, c.file, c.records, c.inside, c.outside, c.open,
                 ", ".join(f"{n} {r}" for r, n in c.skipped) or "-",
                 len(c.tags), f"{c.first or '-'} to {c.last or '-'}") for c in self.context]
        text = _render.table(("context", "file", "rows", "inside", "outside", "open", "skipped",
                              "tags named", "own span"), rows, columns)
        notes = [f"{c.file}: {n}" for c in self.context for n in c.notes]
        return "\n".join([text, *notes])

    def reading_text(self, columns: Optional[int] = None) -> str:
        """How each file was read, as text: the layout and the conventions chosen."""
        return _render.reading(
            [(f.path, f.data_rows, [(r.name, r.value, r.how) for r in f.reading])
             for f in self.files], columns)

    def notes_text(self, columns: Optional[int] = None) -> str:
        """Every note that says something (a count that is not zero, a list that is not
        empty), as text."""
        return _render.notes(
            _render.note_items(self.notes.to_dict(), _quiet_notes(), _names.NOTE_LABELS), columns)

    def baseline_text(self, columns: Optional[int] = None) -> str:
        """The normal-operation window found, its runners-up and why; empty when not looked
        for."""
        b = self.baseline_suggestion
        if b is None:
            return ""
        head = ("normal-operation window: none" if b.window is None else
                f"normal-operation window: {b.window.start} to {b.window.end}, "
                f"{b.window.rows} rows")
        text = "\n".join(_render.wrap(head, columns or _render.width()))
        text += "\n" + "\n".join(_render.wrap(b.why, columns or _render.width()))
        if b.runners_up:
            text += "\n" + _render.table(
                ("runner-up", "start", "end", "rows"),
                ((i + 1, w.start, w.end, w.rows) for i, w in enumerate(b.runners_up)), columns)
        return text

    def tag_table(self, limit: Optional[int] = 40, columns: Optional[int] = None) -> str:
        shown = self.tags if limit is None else self.tags[:limit]
        rows = [
            (t.name, t.unit or "-", "yes" if t.unit_recognised else "no", t.samples, t.missing,
             f"{t.missing / t.samples:.1%}" if t.samples else "-", t.missing_bad_state)
            for t in shown
        ]
        text = _render.table(
            ("tag", "unit", "known", "samples", "missing", "share", "bad-state"), rows, columns
        )
        if len(shown) < len(self.tags):
            text += f"\n… {len(self.tags) - len(shown)} more tags"
        return text

    def availability(self, buckets: int = 96, max_tags: Optional[int] = None) -> Availability:
        """Per tag and time bucket, the share of present samples, from the counts the scan kept
        (at most `buckets` buckets; with `max_tags`, only the tags with the least data)."""
        from ._availability import compute

        return compute(self, buckets, max_tags)

    def to_dict(self) -> Dict[str, Any]:
        return self._dict([t.to_dict() for t in self.tags])

    def _dict(self, tags: Any) -> Dict[str, Any]:
        return {
            "schema": _render.schema_id("profile"),
            "profile_schema": _names.PROFILE_SCHEMA,
            "source": list(self.source),
            "layout": self.layout,
            "values": [p.to_dict() for p in self.values.values()],
            "tags": tags,
            "notes": self.notes.to_dict(),
            "files": [f.to_dict() for f in self.files],
            "input_digest": self.input_digest,
            "unit_vocabulary": self.unit_vocabulary,
            "seal": self.seal,
            "options": _render.plain(self.options),  # a sentinel may be NaN or an infinity
            **({} if self.baseline_suggestion is None
               else {"baseline_suggestion": self.baseline_suggestion.to_dict()}),
            "context": [c.to_dict() for c in self.context],
        }

    def to_json(self, indent: Optional[int] = 2) -> str:
        return _render.dumps_rows(self._dict(None), indent, ("tags",), _TAG_FIELDS,
                                  lambda: map(_tag_values, self.tags))

    def to_html(self) -> str:
        from . import html

        return html.profile_page(self)


@dataclass(frozen=True)
class ExportReport:
    """An export graded: the court's record and the profile it graded."""

    record: ReadinessRecord
    profile: ExportProfile

    @property
    def verdict(self) -> str:
        return self.record.verdict

    @property
    def n_caveat(self) -> int:
        return self.record.n_caveat

    @property
    def n_critical_missing(self) -> int:
        return self.record.n_critical_missing

    @property
    def court_hash(self) -> str:
        return self.record.court_hash

    @property
    def findings(self) -> Tuple[Finding, ...]:
        return self.record.findings

    @property
    def profile_arguments(self) -> Dict[str, Any]:
        return self.profile.profile_arguments

    @property
    def values(self) -> Dict[str, ProfileValue]:
        return self.profile.values

    def __repr__(self) -> str:
        return (
            f"ExportReport(verdict={self.verdict!r}, n_caveat={self.n_caveat}, "
            f"n_critical_missing={self.n_critical_missing}, "
            f"court_hash={_render.short_hash(self.court_hash)!r})"
        )

    def __str__(self) -> str:
        columns = _render.width()
        profile = self.profile
        rows = [
            (f.dimension, f.level, f.message) for f in self.record.findings
        ]
        head = (f"{self.verdict}: {self.n_caveat} caveat(s), "
                f"{self.n_critical_missing} critical witness(es) missing")
        return _render.lines(
            "\n".join(_render.wrap(head, columns)),
            profile.reading_text(columns),
            _render.table(("dimension", "level", "message"), rows, columns),
            _render.table(
                ("field", "value", "provenance"),
                ((p.name, p.value, p.provenance) for p in profile.values.values()), columns,
            ),
            profile.notes_text(columns),
            profile.health_text(columns),
            profile.baseline_text(columns),
            profile.context_text(columns),
            _render.hashes((("court_hash", self.court_hash), ("profile seal", profile.seal)),
                           columns),
        )

    def to_dict(self) -> Dict[str, Any]:
        return self._dict(self.profile.to_dict())

    def _dict(self, profile: Dict[str, Any]) -> Dict[str, Any]:
        record = self.record.to_dict()
        return {
            "schema": _render.schema_id("export_report"),
            "verdict": record["verdict"],
            "n_caveat": record["n_caveat"],
            "n_critical_missing": record["n_critical_missing"],
            "court_hash": record["court_hash"],
            "findings": record["findings"],
            "profile": profile,
        }

    def to_json(self, indent: Optional[int] = 2) -> str:
        tags = self.profile.tags
        return _render.dumps_rows(self._dict(self.profile._dict(None)), indent,
                                  ("profile", "tags"), _TAG_FIELDS,
                                  lambda: map(_tag_values, tags))

    def to_html(self) -> str:
        from . import html

        return html.report_page(self)


def profile_export(
    source: Any,
    *,
    layout: str = "auto",
    tag_list: Union[None, _options.PathLike, Mapping[str, str]] = None,
    delimiter: Optional[str] = None,
    decimal: str = ".",
    day_first: Optional[bool] = None,
    timestamp_format: Optional[str] = None,
    tz: str = "UTC",
    missing_values: Sequence[Union[float, str]] = (),
    good_quality: Optional[Sequence[str]] = None,
    threads: Optional[int] = None,
    progress: Union[None, bool, Progress] = None,
    accept_multiline_fields: bool = False,
    accept_unparsed_rows: bool = False,
    quality_convention: str = "auto",
    header_line: Optional[int] = None,
    encoding: Optional[str] = None,
    timestamp_columns: Optional[Sequence[str]] = None,
    context: Any = None,
    health: bool = True,
) -> ExportProfile:
    """Profile one historian export.

    `source` is a path or a list of paths forming one export (CSV, `.csv.gz`; Parquet when
    pyarrow is installed), or any table offering `__arrow_c_stream__` (pyarrow, Polars, pandas
    2.2+, DuckDB results). `progress` is a callable `(bytes_done, bytes_total)`, or True for a
    bar on standard error when it is a terminal. Bad input raises OSError or ValueError naming
    the file or the option. A quoted field whose lines read as rows (or with a line end in a row
    over 1 MiB) is what a stray quote looks like: such an export raises ValueError naming the
    line, unless `accept_multiline_fields` reads those fields as cells and counts them in the
    notes. `day_first` None decides a slash date's day/month order from the data (ValueError
    naming `day_first` where it cannot). More than 5% of the data rows without a timestamp that
    parses raises ValueError naming the first such lines, unless `accept_unparsed_rows`.
    `quality_convention` says how quality codes read (one of
    `_names.QUALITY_CONVENTIONS`); "auto" decides per file from the quality column's name and
    values, and refuses a file where they contradict.
    The header is found under any title block (report name, server, time range, a `sep=`
    line, `[Data]`); `header_line` (1-based) names its line where the file leaves two
    candidates. `encoding` (auto, utf-8, windows-1252 or cp1252, utf-16le, utf-16be, utf-16): by
    default UTF-16 is read when the file starts with its byte-order mark, and a text that is
    not valid UTF-8 as Windows-1252; given, it wins (the tag list is read alike).
    `timestamp_columns` names the time column, or two whose cells make the instant (a
    date and a clock time, or a time and its milliseconds), where the reader cannot tell them;
    `layout` is "wide", "long" or "paired" (each tag's own time column beside its values).
    `context` names the plant's context files read against the export: a path, a list of
    paths, or a mapping from kind ("lab", "maintenance", "batches") to a path or list of paths
    (a file given without its kind is recognised by its columns). They derive has_lab_samples,
    has_maintenance and has_batches, their evidence is `profile.context`, and the seal covers
    them; a file of no recognisable kind raises ValueError naming it.
    `health` (on by default) adds each tag's signal health to its evidence (statistics, frozen
    runs, interpolated samples, values its unit rules out; see edge/EXPORT_PROFILE.md) and the
    notes' frozen_tags, interpolated_tags and impossible_value_tags, all sealed; off, none of
    them, and the scan and seal are as they were before it existed.
    """
    return _profile(source, dict(layout=layout, tag_list=tag_list, delimiter=delimiter,
                                 decimal=decimal, day_first=day_first,
                                 timestamp_format=timestamp_format, tz=tz,
                                 missing_values=missing_values, good_quality=good_quality,
                                 threads=threads,
                                 accept_multiline_fields=accept_multiline_fields,
                                 accept_unparsed_rows=accept_unparsed_rows,
                                 quality_convention=quality_convention,
                                 header_line=header_line,
                                 encoding=encoding,
                                 timestamp_columns=timestamp_columns,
                                 context=context, health=health),
                    progress, None, None)


def grade_export(
    source: Any,
    *,
    baseline_present: Optional[bool] = None,
    baseline: Union[None, str, Tuple[_options.Instant, _options.Instant]] = None,
    license_cleared: bool = False,
    has_maintenance: Optional[bool] = None,
    has_batches: Optional[bool] = None,
    has_lab_samples: Optional[bool] = None,
    **profile_options: Any,
) -> ExportReport:
    """Profile an export and grade it with the readiness court.

    What an export cannot show is declared here: `baseline_present`, or a `baseline` window
    (start, end) that holds at least 100 rows, or `baseline="auto"`: the normal-operation window
    found in the export decides `baseline_present` (provenance "suggested"; a long export listing
    its records tag by tag raises ValueError naming the option). Without "auto" the window is found and shown
    (`report.profile.baseline_suggestion`) but changes no value and no seal; `license_cleared` (never inferred); the context
    sources, unless read from files with `context` (see `profile_export`). `profile_options` are those of `profile_export`. The report's `court_hash` equals
    `qorv_chemical_engineering.grade_readiness(**report.profile_arguments)["court_hash"]`.
    """
    unknown = set(profile_options) - set(_PROFILE_OPTIONS)
    if unknown:
        raise TypeError(f"grade_export() got an unexpected keyword argument '{sorted(unknown)[0]}'")
    declared = _names.declared_fields({
        "baseline_present": baseline_present,
        "license_cleared": license_cleared,
        "has_maintenance": has_maintenance,
        "has_batches": has_batches,
        "has_lab_samples": has_lab_samples,
    })
    progress = profile_options.pop("progress", None)
    options = {**_PROFILE_OPTIONS, **profile_options, "baseline_search": "suggest"}
    profile = _profile(source, options, progress, declared, baseline)
    return ExportReport(record=grade(**profile.profile_arguments), profile=profile)


_PROFILE_OPTIONS: Dict[str, Any] = dict(
    layout="auto", tag_list=None, delimiter=None, decimal=".", day_first=None,
    timestamp_format=None, tz="UTC", missing_values=(), good_quality=None, threads=None,
    progress=None, accept_multiline_fields=False, accept_unparsed_rows=False,
    quality_convention="auto",
    header_line=None,
    encoding=None,
    timestamp_columns=None,
    context=None,
    health=True,
)


def _profile(source: Any, settings: Dict[str, Any], progress: Union[None, bool, Progress],
             declared: Optional[Mapping[str, Optional[bool]]],
             baseline: Optional[Tuple[Any, Any]]) -> ExportProfile:
    settings = {k: v for k, v in settings.items() if k != "progress"}
    stream = _sources.arrow_stream(source)
    paths: Sequence[str] = ()
    if stream is None:
        paths = _options.paths_of(source)
        stream = _sources.parquet_stream(paths)
    if stream is not None:
        # A table is rendered to text with '.' or ',' as decimal and ',' or ';' as delimiter;
        # a delimiter asked for applies to CSV files only, and so does an encoding: Arrow's
        # strings are UTF-8.
        settings["delimiter"] = ";" if settings.get("decimal") == "," else ","
        settings["encoding"] = None
    options = _options.build(**settings, declared=declared, baseline=baseline)
    if stream is not None:
        label, capsule = stream
        raw = _native.profile_stream(capsule, label, options)
        paths = paths or (label,)
    else:
        with _sources.progress_reporter(progress, paths) as report:
            raw = _native.profile_files(list(paths), options, report)
    return _from_native(raw, tuple(paths), options)


def _from_native(raw: Dict[str, Any], source: Tuple[str, ...],
                 options: Dict[str, Any]) -> ExportProfile:
    notes = raw["notes"]
    return ExportProfile(
        source=source,
        layout=raw["layout"],
        values={name: ProfileValue(name, *raw["values"][name]) for name in PROFILE_FIELDS},
        tags=_tags(raw["tags"]),
        notes=ProfileNotes(
            unknown_units=tuple(notes["unknown_units"]),
            bad_state_texts=tuple(notes["bad_state_texts"]),
            other_texts=tuple(notes["other_texts"]),
            other_texts_complete=notes["other_texts_complete"],
            metadata_rows_skipped=notes["metadata_rows_skipped"],
            unparsed_rows=notes["unparsed_rows"],
            first_unparsed_rows=tuple(notes["first_unparsed_rows"]),
            clock_changes=tuple((f, n, instant_text(t) or "") for f, n, t in notes["clock_changes"]),
            nonexistent_times_moved=notes["nonexistent_times_moved"],
            repeated_hour_second=notes["repeated_hour_second"],
            unit_disagreements=tuple(notes["unit_disagreements"]),
            loops=tuple((b, tuple(s)) for b, s in notes["loops"]),
            blank_lines=notes["blank_lines"],
            ragged_rows=notes["ragged_rows"],
            oversized_rows=notes["oversized_rows"],
            unnamed_columns=notes["unnamed_columns"],
            title_lines_skipped=notes["title_lines_skipped"],
            footer_rows=notes["footer_rows"],
            input_digest_complete=notes["input_digest_complete"],
            multiline_fields=notes["multiline_fields"],
            multiline_field_lines=notes["multiline_field_lines"],
            first_multiline_field=notes["first_multiline_field"],
            uncertain_samples=notes["uncertain_samples"],
            censored_samples=notes["censored_samples"],
            windows_1252_texts=notes["windows_1252_texts"],
            utf16_replacements=notes["utf16_replacements"],
            frozen_tags=tuple(notes.get("frozen_tags", ())),
            interpolated_tags=tuple(notes.get("interpolated_tags", ())),
            impossible_value_tags=tuple(notes.get("impossible_value_tags", ())),
        ),
        files=tuple(FileSummary(*f[:5], tuple(ReadingFact(*r) for r in f[5]))
                    for f in raw["files"]),
        input_digest=raw["input_digest"],
        unit_vocabulary=raw["unit_vocabulary"],
        seal=raw["seal"],
        options=_options.public(options),
        context=tuple(_context_source(c) for c in raw.get("context", ())),
        _native_options=options,
        _bins=bins_of(raw["availability"]),
        baseline_suggestion=_suggestion(raw.get("baseline_suggestion")),
    )


@functools.lru_cache(maxsize=None)
def _quiet_notes() -> Dict[str, Any]:
    """The notes of an export read without remark (a profile as the core starts one), as
    to_dict() shows them: a report shows the notes that differ from these."""
    return _from_native(_names.QUIET_PROFILE, (), {}).notes.to_dict()


def _tags(raw: List[Tuple[Any, ...]]) -> Tuple[TagEvidence, ...]:
    """The native tag tuples as TagEvidence, emptying `raw` on the way so that the two forms
    of a wide export's million tags are not held at once."""
    # The tags of a wide export share their first and last instants: one text for all.
    texts: Dict[Optional[int], Optional[str]] = {None: None}

    def text(us: Optional[int]) -> Optional[str]:
        known = texts.get(us)
        if known is None and us is not None:
            known = texts[us] = instant_text(us)
        return known

    if not isinstance(raw, list):
        raw = list(raw)
    raw.reverse()
    out = []
    pop, append = raw.pop, out.append
    while raw:
        (name, unit, recognised, dimension, numeric, samples, present, empty, bad_state, text_,
         sentinel, quality, first_us, last_us, step_us, regular, uncertain, censored,
         health) = pop()
        step = None if step_us is None else step_us / 1e6
        if health is None:
            append(TagEvidence(name, unit, recognised, dimension, numeric, samples, present,
                               empty, bad_state, text_, sentinel, quality, text(first_us),
                               text(last_us), step, regular, uncertain, censored))
            continue
        (count, low, high, mean, std, first_value, last_value, health_step, constant, state,
         longest, longest_samples, frozen, interpolated, judged, compressed, limits, impossible,
         suspicious, _first_impossible, _first_suspicious) = health
        # The long layout's step stays its records' own; the samples' step fills the rest.
        if step is None:
            step = health_step
        append(TagEvidence(name, unit, recognised, dimension, numeric, samples, present, empty,
                           bad_state, text_, sentinel, quality, text(first_us), text(last_us),
                           step, regular, uncertain, censored, count, low, high, mean, std,
                           first_value, last_value, constant, state, longest, longest_samples,
                           frozen, interpolated, judged, compressed, limits, impossible,
                           suspicious))
    return tuple(out)


def _short_source(source: Tuple[str, ...]) -> str:
    if len(source) == 1:
        return source[0]
    return f"{source[0]} (+{len(source) - 1} files)"


from . import _sources  # noqa: E402  (imports this module's names lazily)
