"""The module object, its three functions, their signatures and re-import."""
import importlib
import sys

import pytest

import qorv_chemical_engineering as qce

ALL = ["version", "classify_unit_pair", "grade_readiness"]
GRADE_SIGNATURE = (
    "(n_tags, n_rows, baseline_present, license_cleared, missingness, unit_coverage, duplicate_timestamps=0.0, "
    "time_span_hours=..., sampling_regular=True, has_controllers=False, has_maintenance=False, "
    "has_batches=False, has_lab_samples=False)")
CLASSIFY_DOC = (
    "Classify a pair of engineering-unit strings into a unit-consistency hazard tag\n(`consistent` / "
    "`scale_mismatch` / `affine_offset_hazard` / `dimension_mismatch` / `basis_mismatch` /\n`unknown_unit`) "
    "\u2014 the deterministic unit court applied to one `same-quantity` assertion.")
GRADE_DOC = (
    "Grade a historian-export profile (the deterministic `IndustrialDataReadinessCourtV1`). Returns a dict "
    "with\n`verdict`, `n_caveat`, `n_critical_missing`, and the sealed `court_hash`. ")


def test_module_attributes_and_version():
    assert qce.__all__ == ALL
    assert qce.__doc__ == "The Python module `qorv_chemical_engineering`."
    assert type(qce.version()) is str and qce.version() == "0.1.0"
    for call in (lambda: qce.version(1), lambda: qce.version(None), lambda: qce.version(x=1)):
        with pytest.raises(TypeError, match=r"version\(\) takes no"):
            call()


@pytest.mark.parametrize("name, signature, doc_start", [
    ("version", "()", "Return the version"), ("classify_unit_pair", "(a, b)", CLASSIFY_DOC),
    ("grade_readiness", GRADE_SIGNATURE, GRADE_DOC)])
def test_functions(name, signature, doc_start):
    function = getattr(qce, name)
    assert type(function).__name__ == "builtin_function_or_method"
    assert (function.__name__, function.__qualname__, function.__module__) == (name, name, qce.__name__)
    assert function.__self__ is qce
    assert function.__text_signature__ == signature
    assert function.__doc__.startswith(doc_start) and not function.__doc__.endswith("\n")
    assert function.__doc__.count("\n") == {"version": 0, "classify_unit_pair": 2, "grade_readiness": 2}[name]


def test_reimport_returns_the_same_module_object():
    original = sys.modules[qce.__name__]
    try:
        for _ in range(3):
            del sys.modules[qce.__name__]
            again = importlib.import_module(qce.__name__)
            assert again is original and again.__all__ == ALL
    finally:
        sys.modules[qce.__name__] = original
    assert qce.classify_unit_pair("kPa", "Pa") == "scale_mismatch"
