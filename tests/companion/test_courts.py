"""grade and check_units against the module's own answers, and their records."""
import math

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


@pytest.mark.parametrize("bad, error", [
    ([("kPa",)], TypeError),
    ([("kPa", 3)], TypeError),
    ([edge.UnitAssertion("kPa", "Pa", relation="added")], ValueError),
    ([{"a_unit": "kPa", "colour": "red"}], TypeError),
])
def test_bad_assertions_are_named(bad, error):
    with pytest.raises(error, match=r"assertions\[0\]"):
        edge.check_units(bad, court="v1")


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
