"""The readiness court in full: `grade` returns every finding with its message."""
from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Dict, Optional, Tuple

from . import _names, _native, _render

COURT = _names.READINESS_COURT

# The thirteen profile fields, in the order of `qorv_chemical_engineering.grade_readiness`.
PROFILE_FIELDS: Tuple[str, ...] = _names.READINESS_FIELDS


@dataclass(frozen=True)
class Finding:
    """One of the thirteen findings: what was judged, how, and why in words."""

    dimension: str
    level: str  # "ok", "caveat" or "critical_missing"
    message: str

    def to_dict(self) -> Dict[str, Any]:
        return {"dimension": self.dimension, "level": self.level, "message": self.message}


@dataclass(frozen=True)
class ReadinessRecord:
    """The readiness court's record: verdict, counts, seal, findings and the profile graded."""

    verdict: str
    n_caveat: int
    n_critical_missing: int
    court_hash: str
    findings: Tuple[Finding, ...]
    profile: Dict[str, Any]  # the thirteen values graded, by name

    court = COURT

    @property
    def ready(self) -> bool:
        return self.verdict != _names.VERDICTS[-1]

    def __repr__(self) -> str:
        return (
            f"ReadinessRecord(verdict={self.verdict!r}, n_caveat={self.n_caveat}, "
            f"n_critical_missing={self.n_critical_missing}, "
            f"court_hash={_render.short_hash(self.court_hash)!r})"
        )

    def __str__(self) -> str:
        head = (
            f"{self.verdict}: {self.n_caveat} caveat(s), "
            f"{self.n_critical_missing} critical witness(es) missing"
        )
        columns = _render.width()
        rows = [(f.dimension, f.level, f.message) for f in self.findings]
        return _render.lines(
            "\n".join(_render.wrap(head, columns)),
            _render.table(("dimension", "level", "message"), rows, columns),
            _render.hashes((("court_hash", self.court_hash),), columns),
        )

    def to_dict(self) -> Dict[str, Any]:
        profile = {
            k: (_render.number(v) if isinstance(v, float) else v) for k, v in self.profile.items()
        }
        return {
            "schema": _render.schema_id("readiness"),
            "court": COURT,
            "verdict": self.verdict,
            "n_caveat": self.n_caveat,
            "n_critical_missing": self.n_critical_missing,
            "court_hash": self.court_hash,
            "findings": [f.to_dict() for f in self.findings],
            "profile": profile,
        }

    def to_json(self, indent: Optional[int] = 2) -> str:
        return _render.dumps(self.to_dict(), indent)

    def to_html(self) -> str:
        from . import html

        return html.readiness_page(self)


def grade(
    n_tags: int,
    n_rows: int,
    baseline_present: bool,
    license_cleared: bool,
    missingness: float,
    unit_coverage: float,
    duplicate_timestamps: float = 0.0,
    time_span_hours: float = math.nan,
    sampling_regular: bool = True,
    has_controllers: bool = False,
    has_maintenance: bool = False,
    has_batches: bool = False,
    has_lab_samples: bool = False,
) -> ReadinessRecord:
    """Grade a historian-export profile with the readiness court, returning the full record.

    Takes the parameters of `qorv_chemical_engineering.grade_readiness`, checked the same way;
    the `court_hash` is the one `grade_readiness` returns for the same arguments. An omitted
    `time_span_hours` means "not known" (NaN) and grades as a caveat.
    """
    # Bound and converted by the native code that binds grade_readiness: the same values are
    # accepted and refused with the same texts.
    values = (n_tags, n_rows, baseline_present, license_cleared, missingness, unit_coverage,
              duplicate_timestamps, time_span_hours, sampling_regular, has_controllers,
              has_maintenance, has_batches, has_lab_samples)
    verdict, n_caveat, n_critical, court_hash, findings, converted = _native.grade(*values)
    return ReadinessRecord(
        verdict=verdict,
        n_caveat=n_caveat,
        n_critical_missing=n_critical,
        court_hash=court_hash,
        findings=tuple(Finding(*f) for f in findings),
        profile=dict(zip(PROFILE_FIELDS, converted)),
    )
