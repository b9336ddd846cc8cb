"""The data-availability grid: per tag and time bucket, the share of present samples.

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
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple

from . import _names

if TYPE_CHECKING:
    from .profile import ExportProfile

_NONE = -(2**63)  # an absent instant or step in the per-tag arrays


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

    @property
    def buckets(self) -> int:
        return len(self.shares[0]) if self.shares else 0


def compute(profile: "ExportProfile", buckets: int = 96,
            max_tags: Optional[int] = None) -> Availability:
    bins = profile._bins
    if bins is None:
        return Availability((), 0, 0, (), "the profile carries no availability counts")
    if not bins.bins:
        return Availability((), 0, 0, (), "no timestamped rows")
    if not bins.complete:
        return Availability((), 0, 0, (), "a time bin holds more than 4,294,967,295 samples")
    if buckets < 1:
        raise ValueError(f"buckets must be at least 1, not {buckets}")
    n = bins.bins
    rows = memoryview(bins.rows).cast("Q")
    counts = memoryview(bins.counts).cast("I")
    first = memoryview(bins.first).cast("q")
    last = memoryview(bins.last).cast("q")
    step = memoryview(bins.step).cast("q")

    # Aligned groups of 2^shift bins, as few as fit in `buckets`.
    k0 = bins.start_us // bins.bin_us
    shift = 0
    while ((k0 + n - 1) >> shift) - (k0 >> shift) + 1 > buckets:
        shift += 1
    g0 = k0 >> shift
    n_groups = ((k0 + n - 1) >> shift) - g0 + 1
    bucket_us = bins.bin_us << shift
    start = g0 * bucket_us
    group = [((k0 + i) >> shift) - g0 for i in range(n)]
    group_rows = [0] * n_groups
    for i in range(n):
        group_rows[group[i]] += rows[i]

    wide = profile.layout != _names.LAYOUTS[2]  # rows, not a tag's records, fill a bucket
    chosen = _least_data(profile, first, last, step, max_tags)
    names, shares, present, expected, bad_state = [], [], [], [], []
    for i in chosen:
        p, m, bad = [0] * n_groups, [0] * n_groups, [0] * n_groups
        base = i * n * 3
        for b in range(n):
            g = group[b]
            p[g] += counts[base + 3 * b]
            m[g] += counts[base + 3 * b + 1]
            bad[g] += counts[base + 3 * b + 2]
        row_share: List[Optional[float]] = []
        row_full: List[int] = []
        for g in range(n_groups):
            samples = p[g] + m[g] + bad[g]
            full = 0
            if samples or (wide and group_rows[g]):
                lo = start + g * bucket_us
                full = max(samples, _grid_points(lo, lo + bucket_us - 1, first[i], last[i],
                                                 step[i]))
            row_share.append(p[g] / full if full else None)
            row_full.append(full)
        names.append(profile.tags[i].name)
        shares.append(tuple(row_share))
        present.append(tuple(p))
        expected.append(tuple(row_full))
        bad_state.append(tuple(bad))
    return Availability(tuple(names), start, bucket_us, tuple(shares), "", tuple(present),
                        tuple(expected), tuple(bad_state), tuple(group_rows))


def _grid_points(lo: int, hi: int, first: int, last: int, step: int) -> int:
    """Instants first + k*step within [lo, hi] and [first, last]."""
    if first == _NONE or last == _NONE or step == _NONE or step <= 0:
        return 0
    lo, hi = max(lo, first), min(hi, last)
    if lo > hi:
        return 0
    return (hi - first) // step - (-((lo - first) // -step)) + 1


def _least_data(profile: "ExportProfile", first: Sequence[int], last: Sequence[int],
                step: Sequence[int], max_tags: Optional[int]) -> List[int]:
    """The tags to draw, in profile order: all, or the `max_tags` with the smallest share of
    present samples over their whole span (counting the grid's instants, as buckets do)."""
    order = list(range(len(profile.tags)))
    if max_tags is None or len(order) <= max_tags:
        return order

    def share(i: int) -> float:
        t = profile.tags[i]
        full = max(t.samples, _grid_points(first[i], last[i], first[i], last[i], step[i]))
        return t.present / full if full else 0.0

    return sorted(sorted(order, key=share)[:max_tags])
