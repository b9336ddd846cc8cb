"""grade and check_units against the module's own answers, and their records."""
import copy
import dataclasses
import math
import pickle
import types
from collections import abc
from typing import NamedTuple

import pytest

import qorv_chemical_engineering as q
import qorv_chemical_engineering_edge as edge

# The first court's 69 written forms, as its unit table holds them.
FORMS = [
    "k", "kelvin", "c", "degc", "celsius", "f", "degf", "fahrenheit", "pa", "kpa", "bar", "mbar",
    "psi", "psig", "atm", "kg/s", "kg/h", "kg/hr", "g/s", "t/h", "tonne/h", "kg/min", "mol/s",
    "mol/h", "kmol/h", "mol/min", "m3/s", "m3/h", "l/s", "l/min", "lpm", "l/h", "lph", "gpm",
    "hz", "1/s", "s-1", "1/min", "1/h", "w", "j/s", "kw", "kj/min", "j/min", "kg", "g", "m", "cm",
    "mm", "m3", "l", "liter", "litre", "", "-", "ratio", "dimensionless", "%", "wt%", "wt_pct",
    "mass%", "kg/kg", "mass_frac", "massfraction", "mol%", "mole%", "mol/mol", "mole_frac",
    "molefraction",
]

PROFILES = [
    (10, 1000, True, True, 0.05, 0.95),
    (0, 50, False, False, 0.2, 0.5),
    (412, 10_080, True, True, 0.032, 0.87, 0.0004, 168.0, True, True),
    (3, 2**64 - 1, True, False, math.nan, math.inf, -0.5, 0.0, False, True, True, True, True),
    (1, 100, True, True, 0.1, 0.9, 0.01, 24.0),
]


@pytest.mark.parametrize("args", PROFILES)
def test_grade_matches_grade_readiness(args):
    record = edge.grade(*args)
    summary = q.grade_readiness(*args)
    assert (record.verdict, record.n_caveat, record.n_critical_missing, record.court_hash) == (
        summary["verdict"], summary["n_caveat"], summary["n_critical_missing"],
        summary["court_hash"])
    assert len(record.findings) == 13
    levels = [f.level for f in record.findings]
    assert levels.count("caveat") == record.n_caveat
    assert levels.count("critical_missing") == record.n_critical_missing
    assert all(f.message for f in record.findings)
    assert record.verdict in str(record) and record.court_hash in str(record)
    assert len(repr(record)) < 160


@pytest.mark.parametrize("args, kwargs", [
    ((10, 1000, 1, True, 0.0, 1.0), {}),
    ((-1, 1000, True, True, 0.0, 1.0), {}),
    ((2**64, 1000, True, True, 0.0, 1.0), {}),
    ((10, 1000, True, True, "0.5", 1.0), {}),
    ((10, 1.5, True, True, 0.0, 1.0), {}),
    ((10, 1000, True, True, 0.0, 1.0), {"has_batches": None}),
    ((10,), {}),
    ((10, 1000, True, True, 0.0, 1.0), {"colour": True}),
])
def test_grade_fails_like_grade_readiness(args, kwargs):
    with pytest.raises(Exception) as expected:
        q.grade_readiness(*args, **kwargs)
    with pytest.raises(type(expected.value)):
        edge.grade(*args, **kwargs)


def test_numpy_booleans_are_flags():
    np = pytest.importorskip("numpy")
    record = edge.grade(10, 1000, np.bool_(True), np.bool_(False), 0.0, 1.0)
    assert record.court_hash == q.grade_readiness(10, 1000, True, False, 0.0, 1.0)["court_hash"]


def test_first_court_agrees_with_classify_unit_pair_on_every_pair_of_forms():
    pairs = [(a, b) for a in FORMS for b in FORMS]
    record = edge.check_units(pairs, court="v1")
    assert record.court == "unit_consistency_court_v1"
    assert record.assertions_checked == len(pairs) == len(record.findings)
    for (a, b), finding in zip(pairs, record.findings):
        assert finding.hazard == q.classify_unit_pair(a, b), (a, b)
    assert record.n_consistent == sum(f.hazard == "consistent" for f in record.findings)
    assert record.n_consistent + record.n_hazard == len(pairs)


def test_unit_court_seal_follows_the_hazards_not_the_names_order():
    one = edge.check_units([("kPa", "Pa"), ("degC", "K")], court="v1")
    same = edge.check_units([edge.UnitAssertion("kPa", "Pa"), {"a_unit": "degC", "b_unit": "K"}],
                            court="v1")
    swapped = edge.check_units([("degC", "K"), ("kPa", "Pa")], court="v1")
    assert one.court_hash == same.court_hash != swapped.court_hash


class _BrokenMapping(abc.Mapping):
    """A mapping whose lookups fail: its KeyError is the caller's to see."""

    def __getitem__(self, key):
        raise KeyError(key)

    def __iter__(self):
        return iter(["a_unit"])

    def __len__(self):
        return 1


_EXPECTED = "expected a UnitAssertion, a pair of unit texts or a mapping, not"
_RELATIONS = "is not one of 'same_quantity', 'additively_combined'"
_NOT_TEXT = "object cannot be converted to 'PyString'"

def _refused(**fields):
    """The constructor's own complaint, as this Python words it (3.9 leaves out the class)."""
    try:
        edge.UnitAssertion(**fields)
    except TypeError as error:
        return str(error)
    raise AssertionError(f"UnitAssertion(**{fields!r}) was accepted")


# Each row: the assertions, and the error they raise (type and whole text), as the package's
# Python-side checks raised them before the court read its own assertions.
BAD_ASSERTIONS = [
    ([("kPa",)], TypeError, f"assertions[0]: {_EXPECTED} tuple"),
    ([("kPa", "Pa"), ["kPa", "Pa"]], TypeError, f"assertions[1]: {_EXPECTED} list"),
    (["kPa"], TypeError, f"assertions[0]: {_EXPECTED} str"),
    ([None], TypeError, f"assertions[0]: {_EXPECTED} NoneType"),
    ([("kPa", 3)], TypeError, f"argument 'assertions[0].b_unit': 'int' {_NOT_TEXT}"),
    ([edge.UnitAssertion(b"kPa", "Pa")], TypeError,
     f"argument 'assertions[0].a_unit': 'bytes' {_NOT_TEXT}"),
    ([("m", "m"), edge.UnitAssertion("kPa", "Pa", context=5)], TypeError,
     f"argument 'assertions[1].context': 'int' {_NOT_TEXT}"),
    ([edge.UnitAssertion("kPa", "Pa", b_name=None)], TypeError,
     f"argument 'assertions[0].b_name': 'NoneType' {_NOT_TEXT}"),
    ([edge.UnitAssertion("kPa", "Pa", relation="added")], ValueError,
     f"option assertions[0].relation='added' {_RELATIONS}"),
    ([{"a_unit": "kPa", "b_unit": "Pa", "relation": None}], ValueError,
     f"option assertions[0].relation=None {_RELATIONS}"),
    ([{"a_unit": "kPa", "colour": "red"}], TypeError,
     "assertions[0]: " + _refused(a_unit="kPa", colour="red")),
    ([{"a_unit": "kPa"}], TypeError,
     "assertions[0]: " + _refused(a_unit="kPa")),
    ([{1: "x"}], TypeError, "assertions[0]: keywords must be strings"),
    ([_BrokenMapping()], KeyError, "'a_unit'"),
    ([("kPa\ud800", "Pa")], UnicodeEncodeError,
     "'utf-8' codec can't encode character '\\ud800' in position 3: surrogates not allowed"),
    (5, TypeError, "'int' object is not iterable"),
]


@pytest.mark.parametrize("court", ["v1", "v2"])
@pytest.mark.parametrize("bad, error, text", BAD_ASSERTIONS)
def test_bad_assertions_are_named(bad, error, text, court):
    with pytest.raises(error) as raised:
        edge.check_units(bad, court=court)
    assert type(raised.value) is error
    assert str(raised.value) == text
    assert raised.value.__cause__ is None


def test_a_refused_mapping_hides_the_constructor_s_error_inside_a_handler():
    try:
        raise RuntimeError("handled elsewhere")
    except RuntimeError:
        with pytest.raises(TypeError) as raised:
            edge.check_units([{"colour": "red"}])
    # As `raise ... from None`: the constructor's own TypeError is the context, never shown.
    assert raised.value.__suppress_context__
    assert type(raised.value.__context__) is TypeError
    assert "colour" in str(raised.value.__context__)


class _Pair(NamedTuple):
    a: str
    b: str


def _forms(pairs):
    """The same assertions written every way check_units reads them."""
    relations = ["same_quantity", "additively_combined"]
    full = [dict(a_unit=a, b_unit=b, context=f"c{i % 3}", a_name=f"A{i}", b_name=f"B{i}",
                 relation=relations[i % 2]) for i, (a, b) in enumerate(pairs)]
    return {
        "dataclasses": [edge.UnitAssertion(**f) for f in full],
        "dicts": full,
        "mapping_views": (types.MappingProxyType(f) for f in full),
        "mixed": [edge.UnitAssertion(**f) if i % 2 else types.MappingProxyType(f)
                  for i, f in enumerate(full)],
    }, {
        "tuples": list(pairs),
        "named_tuples": [_Pair(a, b) for a, b in pairs],
        "generator": ((a, b) for a, b in pairs),
        "dataclasses": [edge.UnitAssertion(a, b) for a, b in pairs],
        "dicts": [{"a_unit": a, "b_unit": b} for a, b in pairs],
    }


UNIT_PAIRS = [("kPa", "Pa"), ("degC", "K"), ("barg", "bara"), ("furlong", "m"), ("", "kg"),
              ("kg/h", "kg/h"), ("°C", "degF"), ("Nm3/h", "m3/h"), ("wt%", "mol%")]


@pytest.mark.parametrize("court", ["v1", "v2"])
def test_every_written_form_of_an_assertion_gives_one_record(court):
    full, plain = _forms(UNIT_PAIRS)
    for forms in (full, plain):
        records = {name: edge.check_units(items, court=court) for name, items in forms.items()}
        first = next(iter(records.values()))
        for name, record in records.items():
            assert record == first, name
    named = records_full = edge.check_units(full["dataclasses"], court=court)
    assert [f.a for f in named.findings][:2] == ["A0 [kPa]", "A1 [degC]"]
    assert [f.relation for f in records_full.findings][:2] == [
        "same_quantity", "additively_combined"]
    assert [f.context for f in named.findings][:4] == ["c0", "c1", "c2", "c0"]
    assert first.findings[0].a == "a [kPa]" and first.findings[0].b == "b [Pa]"
    assert edge.check_units([], court=court).assertions_checked == 0


@pytest.mark.parametrize("court", ["v1", "v2"])
def test_findings_are_whole_dataclass_instances(court):
    record = edge.check_units(UNIT_PAIRS, court=court)
    assert len(record.findings) == len(UNIT_PAIRS)
    for finding in record.findings:
        assert type(finding) is edge.UnitFinding
        fields = {f.name: getattr(finding, f.name) for f in dataclasses.fields(finding)}
        assert list(vars(finding)) == list(fields)  # the attributes __init__ would set, in order
        rebuilt = edge.UnitFinding(**fields)
        assert finding == rebuilt and hash(finding) == hash(rebuilt)
        assert repr(finding) == repr(rebuilt)
        assert pickle.loads(pickle.dumps(finding)) == finding
        assert copy.deepcopy(finding) == finding
        with pytest.raises(dataclasses.FrozenInstanceError):
            finding.hazard = "consistent"
        conversion = (finding.factor, finding.offset)
        if court == "v1":
            assert conversion == (None, None)
        else:
            assert all(x is None or type(x) is float for x in conversion)
            if finding.factor is not None:  # x_b = x_a * factor + offset: scales' ratio
                a, b = (edge.parse_unit(t[t.index("[") + 1:-1]) for t in (finding.a, finding.b))
                assert finding.factor == pytest.approx(a.scale / b.scale, rel=1e-12)
    if court == "v2":
        conversions = [(f.factor, f.offset) for f in record.findings]
        assert conversions[:4] == [(1000.0, 0.0), (1.0, 273.15), (1.0, 1.01325), (None, None)]


def test_unknown_court_is_a_value_error_naming_the_option():
    with pytest.raises(ValueError, match="court"):
        edge.check_units([("m", "m")], court="v3")


@pytest.mark.parametrize("text, dimension, scale, offset", [
    ("kPa", "ML^-1T^-2", 1000.0, 0.0),
    ("degC", "Θ", 1.0, 273.15),
    ("m^3/h", "L^3T^-1", 1 / 3600, 0.0),
])
def test_parse_unit_first_court(text, dimension, scale, offset):
    parsed = edge.parse_unit(text, court="v1")
    assert parsed is not None
    assert (parsed.dimension, parsed.offset) == (dimension, offset)
    assert parsed.scale == pytest.approx(scale, rel=1e-12)
    assert edge.parse_unit("furlong", court="v1") is None


@pytest.mark.parametrize("a, b, hazard, factor, offset", [
    ("kg/h", "kg/h", "consistent", 1.0, 0.0),
    ("kPa", "Pa", "scale_mismatch", 1000.0, 0.0),
    ("degF", "degC", "affine_offset_hazard", 5 / 9, -160 / 9),
    ("barg", "bara", "pressure_reference_mismatch", 1.0, 1.01325),
    ("Nm3/h", "m3/h", "reference_state_mismatch", None, None),
    ("wt%", "mol%", "basis_mismatch", None, None),
    ("bar", "kg/s", "dimension_mismatch", None, None),
    ("", "kg", "missing_unit", None, None),
    ("furlong", "m", "unknown_unit", None, None),
])
def test_second_court_findings_carry_the_conversion(a, b, hazard, factor, offset):
    record = edge.check_units([(a, b)])
    assert record.court == "unit_consistency_court_v2"
    (finding,) = record.findings
    assert finding.hazard == hazard
    for got, want in ((finding.factor, factor), (finding.offset, offset)):
        assert got == (None if want is None else pytest.approx(want, rel=1e-12, abs=1e-12))
    assert (record.n_hazard == 0) == (hazard == "consistent")


def test_second_court_parser_keeps_the_kinds():
    barg = edge.parse_unit("barg")
    assert (barg.pressure, barg.dimension, barg.scale) == ("gauge", "ML^-1T^-2", 1e5)
    assert edge.parse_unit("Nm3/h").volume == "normal"
    assert edge.parse_unit("mw") is None  # milliwatt or megawatt: refused, not guessed
    assert edge.parse_unit("MW").exponents == (1, 2, -3, 0, 0, 0)


@pytest.mark.parametrize("unit, want", [
    ("°F", ("absolute temperature", -459.67, math.inf, -math.inf, "below absolute zero", None)),
    ("Nm3/h", ("flow", -math.inf, math.inf, 0.0, None, "reverse or zero-offset flow")),
    ("Hz", None),
])
def test_value_limits_by_unit(unit, want):
    from qorv_chemical_engineering_edge import _native
    keys = ("kind", "impossible_below", "impossible_above", "suspicious_below",
            "impossible_why", "suspicious_why")
    assert _native.value_limits(unit) == (None if want is None else dict(zip(keys, want)))


def test_tag_list_against_expected_units():
    record = edge.check_tag_units({"TI101": "degC", "PI101": "kPa"},
                                  {"TI101": "K", "PI101": "kPa", "FI105": "m3/h"})
    assert [f.hazard for f in record.findings] == [
        "affine_offset_hazard", "consistent", "missing_unit"]
    assert record.findings[0].a == "TI101 [degC]"


# The package's own arguments are converted by the module's binder: the same values fail with the
# same texts. Each row: a call into the package, and the module call that must fail alike.
SAME_REFUSAL = [
    (lambda v: edge.profile_export(__file__, threads=v), lambda v: q.grade_readiness(v, 1, True,
     True, 0.0, 1.0), "threads", "n_tags", [-1, 2**64, 1.5, "2"]),
    (lambda v: edge.parse_unit(v), lambda v: q.classify_unit_pair(v, "m"), "text", "a",
     [1, None, b"m", 1.5]),
    (lambda v: edge.profile_export(__file__, tz=v), lambda v: q.classify_unit_pair(v, "m"),
     "tz", "a", [1, b"UTC"]),
    (lambda v: edge.profile_export(__file__, day_first=v),
     lambda v: q.grade_readiness(1, 1, v, True, 0.0, 1.0), "day_first", "baseline_present",
     [1, 0, "yes"]),  # None: the order is decided from the data
    (lambda v: edge.profile_export(__file__, accept_unparsed_rows=v),
     lambda v: q.grade_readiness(1, 1, v, True, 0.0, 1.0), "accept_unparsed_rows",
     "baseline_present", [1, 0, None, "yes"]),
]


@pytest.mark.parametrize("package_call, module_call, ours, theirs, values", SAME_REFUSAL,
                         ids=["count", "unit_text", "zone_text", "flag", "another_flag"])
def test_package_arguments_fail_as_the_module_s(package_call, module_call, ours, theirs, values):
    for value in values:
        with pytest.raises(Exception) as module_error:
            module_call(value)
        with pytest.raises(Exception) as package_error:
            package_call(value)
        assert type(package_error.value) is type(module_error.value), value
        assert str(package_error.value) == str(module_error.value).replace(
            f"argument '{theirs}'", f"argument '{ours}'"), value
