"""The data-availability grid: per tag and time bucket, the share of present samples, as the
core library computes it.

The profiler counts, while it scans, each tag's present, missing and bad-state samples and the
timestamped rows in time bins (a power-of-two number of milliseconds wide, aligned to whole
multiples of that since the epoch), so the grid comes from the profile alone and the export is
never read again. A bucket is an aligned group of 2^k bins, as few as keep the buckets within
the number asked for. A bucket's share is the tag's present samples over the samples it should
hold there: its own, or more when its modal step puts more instants of a regular grid (from its
first to its last instant) in the bucket, so rows absent altogether (an outage) count as
missing, not only empty or bad-state cells. A bucket no row falls in (in the long layout: no
record of the tag) has no share at all.
"""
from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Tuple

from . import _names, _native

if TYPE_CHECKING:
    from .profile import ExportProfile


@dataclass(frozen=True)
class Bins:
    """The profile's counted bins as the native module hands them over (machine-order bytes)."""

    start_us: int
    bin_us: int
    bins: int
    complete: bool
    rows: bytes  # uint64 per bin
    counts: bytes  # uint32 [tag][bin][present, missing, bad-state]
    first: bytes  # int64 per tag
    last: bytes
    step: bytes
    low: bytes = b""  # float64 [tag][bin], NaN where no value; empty without signal health
    high: bytes = b""


def bins_of(raw: Dict[str, Any]) -> Bins:
    return Bins(**raw)


@dataclass(frozen=True)
class Availability:
    tags: Tuple[str, ...]
    start_us: int
    bucket_us: int
    shares: Tuple[Tuple[Optional[float], ...], ...]  # [tag][bucket]; None: no row in the bucket
    note: str = ""  # why the grid is empty, when it is
    present: Tuple[Tuple[int, ...], ...] = ()  # [tag][bucket]: present samples
    expected: Tuple[Tuple[int, ...], ...] = ()  # [tag][bucket]: the share's denominator
    bad_state: Tuple[Tuple[int, ...], ...] = ()  # [tag][bucket]
    rows: Tuple[int, ...] = ()  # [bucket]: timestamped rows (long: records) of any tag
    # [tag][bucket]: the least and greatest value there (None: no value); empty without signal
    # health.
    low: Tuple[Tuple[Optional[float], ...], ...] = ()
    high: Tuple[Tuple[Optional[float], ...], ...] = ()

    @property
    def buckets(self) -> int:
        return len(self.shares[0]) if self.shares else 0


def compute(profile: "ExportProfile", buckets: int = 96, max_tags: Optional[int] = None,
            tags: Optional[List[int]] = None) -> Availability:
    """The grid of the tags with the least data (all of them without `max_tags`), or of the
    profile's tags at the indexes `tags`, in that order."""
    bins = profile._bins
    if bins is None:
        return Availability((), 0, 0, (), "the profile carries no availability counts")
    if not bins.bins:
        return Availability((), 0, 0, (), "no timestamped rows")
    if not bins.complete:
        return Availability((), 0, 0, (), "a time bin holds more than 4,294,967,295 samples")
    if buckets < 1:
        raise ValueError(f"buckets must be at least 1, not {buckets}")
    if max_tags is not None and max_tags < 0:
        raise ValueError(f"max_tags must be at least 0, not {max_tags}")
    evidence = profile.tags
    chosen = () if tags is None else (list(tags),)
    drawn, start, bucket_us, shares, present, expected, bad_state, rows, low, high = (
        _native.availability_grid(
            bins.start_us, bins.bin_us, bins.bins, bins.rows, bins.counts, bins.first, bins.last,
            bins.step, [t.samples for t in evidence], [t.present for t in evidence],
            profile.layout == _names.LAYOUTS[1], buckets, -1 if max_tags is None else max_tags,
            bins.low, bins.high, *chosen))
    return Availability(tuple(evidence[i].name for i in drawn), start, bucket_us, shares, "",
                        present, expected, bad_state, rows, low, high)


def span_of(grid: Availability, start_us: int, end_us: int) -> Optional[Tuple[float, float]]:
    """Where the instants [start_us, end_us] fall along the grid's time axis, as fractions of
    its width clipped to it (a window within one bucket keeps its place); None when outside."""
    width = grid.bucket_us * grid.buckets
    if width <= 0 or end_us < grid.start_us or start_us >= grid.start_us + width:
        return None
    lo = max(0.0, (start_us - grid.start_us) / width)
    hi = min(1.0, (end_us - grid.start_us) / width)
    return lo, max(lo, hi)


# A context file's marks on the chart: a lab sample's instant as a tick, an order's or a closed
# batch's [start, end] as a band, an open batch's start as a tick (it is given no end).
Mark = Tuple[float, float, bool, str]  # x0, x1 as fractions of the chart's span; band; words


def context_lanes(profile: "ExportProfile", start_us: int,
                  span_us: int) -> List[Tuple[str, str, List[Mark]]]:
    """Per context file, (kind, file, marks) within [start_us, start_us + span_us]; marks
    wholly outside it are left out, those across its edges clipped."""
    lanes = []
    end_us = start_us + span_us
    for source in profile.context:
        marks: List[Mark] = []
        for a, b in source.marks_us:
            if b < start_us or a > end_us or span_us <= 0:
                continue
            x0 = (max(a, start_us) - start_us) / span_us
            x1 = (min(b, end_us) - start_us) / span_us
            band = b > a
            if source.kind == "batches" and not band:
                words = f"batch starts {_names.format_instant(a)}, open (no end event)"
            elif band:
                what = "order" if source.kind == "maintenance" else "batch"
                words = f"{what} {_names.format_instant(a)} to {_names.format_instant(b)}"
            else:
                words = f"sample {_names.format_instant(a)}"
            marks.append((x0, x1, band, words))
        lanes.append((source.kind, source.file, marks))
    return lanes
