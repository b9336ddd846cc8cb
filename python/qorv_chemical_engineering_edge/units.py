"""The unit courts over many assertions, and their unit parsers.

`court="v1"` is the first court (the 69 written forms of `classify_unit_pair`, whose seals never
change); `court="v2"` is the second court with its unit grammar, gauge/absolute pressure,
reference volumes and bases, and a conversion (`factor`, `offset`) on each finding.
"""
from __future__ import annotations

from collections import abc
from dataclasses import dataclass
from typing import Any, Dict, Iterable, Mapping, Optional, Tuple, Union

from . import _args, _names, _native, _render

COURTS = _names.UNIT_COURTS
RELATIONS = _names.RELATIONS


@dataclass(frozen=True)
class ParsedUnit:
    """A unit as the parser reads it: x in this unit is x * scale + offset in base units."""

    text: str
    dimension: str  # the dimension tag, e.g. "ML^-1T^-2"; "1" for a pure number
    scale: float
    offset: float
    basis: str  # v1: "pure", "mass_fraction", ...; v2: "none", "unstated", "mass", ...
    exponents: Tuple[int, ...]  # mass, length, time, temperature, amount (, current in v2)
    pressure: Optional[str] = None  # v2: "none", "unstated", "gauge" or "absolute"
    volume: Optional[str] = None  # v2: "none", "actual", "normal" or "standard"
    canonical: Optional[str] = None  # v2: the unit in one fixed spelling

    def to_dict(self) -> Dict[str, Any]:
        return {
            "text": self.text,
            "dimension": self.dimension,
            "scale": _render.number(self.scale),
            "offset": _render.number(self.offset),
            "basis": self.basis,
            "exponents": list(self.exponents),
            "pressure": self.pressure,
            "volume": self.volume,
            "canonical": self.canonical,
        }

    def __str__(self) -> str:
        return _render.pairs(
            (k, v) for k, v in self.to_dict().items() if k != "exponents" and v is not None
        )


@dataclass(frozen=True)
class UnitAssertion:
    """A claim that two quantities meet: compared as one quantity, or added in a balance."""

    a_unit: str
    b_unit: str
    context: str = ""
    a_name: str = "a"
    b_name: str = "b"
    relation: str = "same_quantity"  # or "additively_combined"


AssertionLike = Union[UnitAssertion, Tuple[str, str], Mapping[str, str]]


@dataclass(frozen=True)
class UnitFinding:
    context: str
    a: str  # "{a_name} [{a_unit}]"
    b: str
    relation: str
    hazard: str
    message: str
    factor: Optional[float] = None  # v2: x_b = x_a * factor + offset; None where none exists
    offset: Optional[float] = None

    def to_dict(self) -> Dict[str, Any]:
        return {
            "context": self.context,
            "a": self.a,
            "b": self.b,
            "relation": self.relation,
            "hazard": self.hazard,
            "message": self.message,
            "factor": _render.number(self.factor),  # may overflow to an infinity
            "offset": _render.number(self.offset),
        }


@dataclass(frozen=True)
class UnitCourtRecord:
    """A unit court's record: every finding, the counts and the seal."""

    court: str
    assertions_checked: int
    n_consistent: int
    n_hazard: int
    court_hash: str
    findings: Tuple[UnitFinding, ...]

    def __repr__(self) -> str:
        return (
            f"UnitCourtRecord(court={self.court!r}, assertions_checked={self.assertions_checked}, "
            f"n_hazard={self.n_hazard}, court_hash={_render.short_hash(self.court_hash)!r})"
        )

    def __str__(self) -> str:
        rows = [(f.a, f.b, f.hazard, f.message) for f in self.findings]
        head = (
            f"{self.court}: {self.assertions_checked} assertion(s), "
            f"{self.n_consistent} consistent, {self.n_hazard} hazard(s)"
        )
        columns = _render.width()
        return _render.lines(
            "\n".join(_render.wrap(head, columns)),
            _render.table(("a", "b", "hazard", "message"), rows, columns),
            _render.hashes((("court_hash", self.court_hash),), columns),
        )

    def to_dict(self) -> Dict[str, Any]:
        return {
            "schema": _render.schema_id("units"),
            "court": self.court,
            "assertions_checked": self.assertions_checked,
            "n_consistent": self.n_consistent,
            "n_hazard": self.n_hazard,
            "court_hash": self.court_hash,
            "findings": [f.to_dict() for f in self.findings],
        }

    def to_json(self, indent: Optional[int] = 2) -> str:
        return _render.dumps(self.to_dict(), indent)

    def to_html(self) -> str:
        from . import html

        return html.units_page(self)


def parse_unit(text: str, *, court: str = "v2") -> Optional[ParsedUnit]:
    """The parsed unit, or None when the court's parser does not recognise the text."""
    _args.text(text, "text")
    _args.choice(court, "court", COURTS)
    parsed = _native.parse_unit_v2(text) if court == "v2" else _native.parse_unit_v1(text)
    if parsed is None:
        return None
    dimension, scale, offset, basis, exponents, *kinds = parsed
    return ParsedUnit(text, dimension, scale, offset, basis, tuple(exponents), *kinds)


def check_units(assertions: Iterable[AssertionLike], *, court: str = "v2") -> UnitCourtRecord:
    """Judge many unit assertions in one sealed record.

    Each assertion is a `UnitAssertion`, a pair of unit texts `(a_unit, b_unit)`, or a mapping
    with the fields of `UnitAssertion`. A field that is not a `str` is a TypeError, a relation
    not in `RELATIONS` a ValueError, each naming `assertions[i]` and the field.
    """
    _args.choice(court, "court", COURTS)
    # The native court reads and checks the assertions itself (TypeError or ValueError naming
    # `assertions[i]` or its field) and makes the findings: a Python loop here cost three times
    # the court's own time.
    native = _native.check_units_v2 if court == "v2" else _native.check_units_v1
    checked, n_consistent, n_hazard, court_hash, findings = native(
        assertions, UnitAssertion, UnitFinding, abc.Mapping
    )
    return UnitCourtRecord(
        court=COURTS[court],
        assertions_checked=checked,
        n_consistent=n_consistent,
        n_hazard=n_hazard,
        court_hash=court_hash,
        findings=findings,
    )


def check_tag_units(
    tag_units: Mapping[str, str],
    expected: Mapping[str, str],
    *,
    context: str = "tag list",
    court: str = "v2",
) -> UnitCourtRecord:
    """Check an export's tag units against the units a model expects, tag by tag.

    Every tag of `expected` is one assertion; a tag absent from `tag_units` has the empty unit.
    """
    return check_units(
        (
            UnitAssertion(
                tag_units.get(tag, ""), unit, context=context, a_name=tag, b_name=f"{tag} (model)"
            )
            for tag, unit in expected.items()
        ),
        court=court,
    )
