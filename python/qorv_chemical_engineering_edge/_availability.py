"""The data-availability grid: per tag and time bucket, the share of present samples.

The profiler keeps no per-time counts, so the export's bytes are read again and cut at row
ends into short ranges, scanned by the same profiler (so "present" means what it means in the
profile); the native side returns the running totals after each range, and a range's own
counts are the difference to the totals before it. They go to the time bucket holding the
middle of the range's time (from the latest instant before it to its own latest instant).
A bucket's share is present samples over the samples a regular grid would hold there (the
modal step), so rows that are absent altogether (an outage) count as missing, not only empty
or bad-state cells; a bucket no row falls in has no share at all.
"""
from __future__ import annotations

import gzip
import statistics
from dataclasses import dataclass
from typing import TYPE_CHECKING, Dict, List, Optional, Tuple

from . import _native

if TYPE_CHECKING:
    from .profile import ExportProfile

_RANGES_PER_BUCKET = 4
_Range = Tuple[int, List[Tuple[str, int, int, Optional[int], Optional[int]]]]


@dataclass(frozen=True)
class Availability:
    tags: Tuple[str, ...]
    start_us: int
    bucket_us: int
    shares: Tuple[Tuple[Optional[float], ...], ...]  # [tag][bucket]; None: no row in the bucket
    note: str = ""  # why the grid is empty, when it is

    @property
    def buckets(self) -> int:
        return len(self.shares[0]) if self.shares else 0


def compute(profile: "ExportProfile", buckets: int) -> Availability:
    if not profile.files or any(p.startswith("<") for p in profile.source) or any(
        p.lower().endswith((".parquet", ".pq")) for p in profile.source
    ):
        return Availability((), 0, 0, (), "drawn for CSV files only")
    sizes = [f.bytes for f in profile.files]
    total = max(sum(sizes), 1)
    ranges: List[_Range] = []
    for path, size in zip(profile.source, sizes):
        with open(path, "rb") as file:
            data = file.read()
        if path.lower().endswith(".gz"):
            data = gzip.decompress(data)
        wanted = max(2, round(buckets * _RANGES_PER_BUCKET * size / total))
        ranges.extend(_own_counts(_native.scan_ranges(data, path, profile._native_options,
                                                      wanted)))

    spans = [_span(tags) for _, tags in ranges]
    firsts = [s[0] for s in spans if s is not None]
    lasts = [s[1] for s in spans if s is not None]
    if not firsts:
        return Availability((), 0, 0, (), "no timestamped rows")
    start, end = min(firsts), max(lasts)
    bucket_us = max(1, -(-(end - start + 1) // buckets))
    step = _row_step(ranges, spans)
    names = [t.name for t in profile.tags]
    index = {name: i for i, name in enumerate(names)}
    present = [[0.0] * buckets for _ in names]
    samples = [[0.0] * buckets for _ in names]
    for (n_rows, tags), span in zip(ranges, spans):
        if span is None:
            continue
        # The range's rows end at its latest instant and lie a step apart, so a gap before
        # them (an outage between two ranges) takes none of their counts.
        lo = span[0] if step is None else max(span[0], round(span[1] - n_rows * step))
        for b, weight in _overlaps(lo, span[1], start, bucket_us, buckets):
            for name, p, n, _, _ in tags:
                i = index.get(name)
                if i is not None:
                    present[i][b] += p * weight
                    samples[i][b] += n * weight

    expected = _expected_per_bucket(profile, step, bucket_us, start, end, buckets)
    shares = []
    for i, name in enumerate(names):
        row: List[Optional[float]] = []
        grid = expected.get(name)
        for b in range(buckets):
            if samples[i][b] < 0.5:  # not one row's worth: no rows here
                row.append(None)
                continue
            full = max(samples[i][b], 0.0 if grid is None else grid[b])
            row.append(min(1.0, present[i][b] / full))
        shares.append(tuple(row))
    return Availability(tuple(names), start, bucket_us, tuple(shares))


def _overlaps(lo: int, hi: int, start: int, bucket_us: int,
              buckets: int) -> List[Tuple[int, float]]:
    """(bucket, share of [lo, hi]) for the buckets the interval meets; a point is one bucket."""
    first = min(buckets - 1, max(0, (lo - start) // bucket_us))
    last = min(buckets - 1, max(0, (hi - start) // bucket_us))
    if hi <= lo or first == last:
        return [(last, 1.0)]
    out = []
    for b in range(first, last + 1):
        a = max(lo, start + b * bucket_us)
        z = min(hi, start + (b + 1) * bucket_us)
        if z > a:
            out.append((b, (z - a) / (hi - lo)))
    return out


def _row_step(ranges: List[_Range], spans: List[Optional[Tuple[int, int]]]) -> Optional[float]:
    """The typical time between rows: a range after the first spans from the latest instant
    before it to its own latest, which its rows fill a step apart."""
    steps = [
        (span[1] - span[0]) / n_rows
        for (n_rows, _), span in list(zip(ranges, spans))[1:]
        if span is not None and n_rows >= 1 and span[1] > span[0]
    ]
    return statistics.median(steps) if steps else None


def _own_counts(running: List[_Range]) -> List[_Range]:
    """Per-range counts from running totals; a range's first instant is the latest before it."""
    own: List[_Range] = []
    rows_before = 0
    before: Dict[str, Tuple[int, int, Optional[int]]] = {}
    for n_rows, tags in running:
        entries = []
        for name, present, samples, first, last in tags:
            p0, n0, last0 = before.get(name, (0, 0, None))
            entries.append((name, present - p0, samples - n0, first if last0 is None else last0,
                            last))
            before[name] = (present, samples, last)
        own.append((n_rows - rows_before, entries))
        rows_before = n_rows
    return own


def _span(tags: List[Tuple[str, int, int, Optional[int], Optional[int]]]) -> Optional[Tuple[int, int]]:
    firsts = [t[3] for t in tags if t[3] is not None]
    lasts = [t[4] for t in tags if t[4] is not None]
    return (min(firsts), max(lasts)) if firsts and lasts else None


def _expected_per_bucket(profile: "ExportProfile", step: Optional[float], bucket_us: int,
                         start: int, end: int, buckets: int) -> Dict[str, List[float]]:
    """Samples a regular grid holds per bucket: per tag (long) or for every tag (wide)."""
    def grid(step_us: float) -> List[float]:
        out = []
        for b in range(buckets):
            lo = start + b * bucket_us
            hi = min(end + 1, lo + bucket_us)
            out.append(max(0.0, (hi - lo) / step_us))
        return out

    if profile.layout == "long":
        return {
            t.name: grid(t.modal_step_seconds * 1e6)
            for t in profile.tags
            if t.modal_step_seconds
        }
    if not step:
        return {}
    per_bucket = grid(step)
    return {t.name: per_bucket for t in profile.tags}
