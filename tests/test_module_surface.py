"""The module object, its three functions, their signatures and re-import."""
import importlib
import sys

import pytest

import qorv_chemical_engineering as qce

NAME = "qorv_chemical_engineering"

CLASSIFY_DOC = (
    "Classify a pair of engineering-unit strings into a unit-consistency hazard tag\n"
    "(`consistent` / `scale_mismatch` / `affine_offset_hazard` / `dimension_mismatch` / `basis_mismatch` /\n"
    "`unknown_unit`) \u2014 the deterministic unit court applied to one `same-quantity` assertion."
)
GRADE_SIGNATURE = (
    "(n_tags, n_rows, baseline_present, license_cleared, missingness, unit_coverage, "
    "duplicate_timestamps=0.0, time_span_hours=..., sampling_regular=True, has_controllers=False, "
    "has_maintenance=False, has_batches=False, has_lab_samples=False)"
)
GRADE_DOC_START = (
    "Grade a historian-export profile (the deterministic `IndustrialDataReadinessCourtV1`). Returns a dict with\n"
    "`verdict`, `n_caveat`, `n_critical_missing`, and the sealed `court_hash`. "
)


def test_module_attributes_and_version():
    assert qce.__all__ == ["version", "classify_unit_pair", "grade_readiness"]
    assert qce.__doc__ == "The Python module `qorv_chemical_engineering`."
    assert qce.__name__ == NAME
    assert qce.version() == "0.1.0"
    assert type(qce.version()) is str


@pytest.mark.parametrize("call", [lambda: qce.version(1), lambda: qce.version(None), lambda: qce.version(x=1)])
def test_version_takes_no_arguments(call):
    with pytest.raises(TypeError, match=r"version\(\) takes no"):
        call()


@pytest.mark.parametrize(
    "name, signature",
    [("version", "()"), ("classify_unit_pair", "(a, b)"), ("grade_readiness", GRADE_SIGNATURE)],
)
def test_functions_are_bound_builtins_with_text_signatures(name, signature):
    function = getattr(qce, name)
    assert type(function).__name__ == "builtin_function_or_method"
    assert function.__name__ == name
    assert function.__qualname__ == name
    assert function.__module__ == NAME
    assert function.__self__ is qce
    assert function.__text_signature__ == signature
    assert "--" not in function.__doc__
    assert not function.__doc__.startswith(name)


def test_docstring_bodies():
    assert qce.classify_unit_pair.__doc__ == CLASSIFY_DOC
    grade_doc = qce.grade_readiness.__doc__
    assert grade_doc.startswith(GRADE_DOC_START)
    assert grade_doc.count("\n") == 2 and not grade_doc.endswith("\n")
    assert "version" in qce.version.__doc__ and "\n" not in qce.version.__doc__


def test_reimport_returns_the_same_module_object():
    original = sys.modules[NAME]
    try:
        for _ in range(3):
            del sys.modules[NAME]
            again = importlib.import_module(NAME)
            assert again is original
            assert again.__all__ == ["version", "classify_unit_pair", "grade_readiness"]
            assert again.grade_readiness is original.grade_readiness
    finally:
        sys.modules[NAME] = original
    assert qce.classify_unit_pair("kPa", "Pa") == "scale_mismatch"


def test_ordinary_errors_never_make_the_internal_failure_class():
    bad_calls = [
        lambda: qce.grade_readiness(),
        lambda: qce.grade_readiness(-1, 1, True, True, 0.0, 1.0),
        lambda: qce.grade_readiness(1, 1, 1, True, 0.0, 1.0),
        lambda: qce.classify_unit_pair("\udc00", "m"),
        lambda: qce.classify_unit_pair(**{1: 2}),
    ]
    for call in bad_calls:
        with pytest.raises(Exception):
            call()

    def all_subclasses(cls):
        for sub in cls.__subclasses__():
            yield sub
            yield from all_subclasses(sub)

    assert not [c for c in all_subclasses(BaseException) if c.__name__ == "PanicException"]
