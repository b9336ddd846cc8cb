"""Matching call arguments to parameters: every binder error, its exact text and precedence."""
import pytest

from qorv_chemical_engineering import classify_unit_pair as classify
from qorv_chemical_engineering import grade_readiness as grade

SIX = (10, 1000, True, True, 0.0, 1.0)
GRADE, CLASSIFY = "grade_readiness()", "classify_unit_pair()"


class Key(str):
    def __str__(self):
        return "shown"


class Opaque:
    def __str__(self):
        return "opaque-key"


ERRORS = [
    # Too many positional arguments; keywords are not looked at then.
    (grade, tuple(range(14)), {}, f"{GRADE} takes from 6 to 13 positional arguments but 14 were given"),
    (grade, tuple(range(14)), {"n_tag": 1}, f"{GRADE} takes from 6 to 13 positional arguments but 14 were given"),
    (classify, ("m", "m", "m"), {"a": "m"}, f"{CLASSIFY} takes 2 positional arguments but 3 were given"),
    (classify, (1, 2, 3, 4), {}, f"{CLASSIFY} takes 2 positional arguments but 4 were given"),
    # A keyword naming no parameter: the first in the caller's order, before anything missing.
    (grade, (), {"n_tag": 1}, f"{GRADE} got an unexpected keyword argument 'n_tag'"),
    (grade, SIX, {"N_TAGS": 1}, f"{GRADE} got an unexpected keyword argument 'N_TAGS'"),
    (classify, (), {"a": "m", "z": 1, "y": 2}, f"{CLASSIFY} got an unexpected keyword argument 'z'"),
    (classify, (), {"y": 2, "z": 1, "a": "m"}, f"{CLASSIFY} got an unexpected keyword argument 'y'"),
    (classify, ("m",), {"A": "m", "a": "m"}, f"{CLASSIFY} got an unexpected keyword argument 'A'"),
    (classify, ("m", "m"), {"a ": "m"}, f"{CLASSIFY} got an unexpected keyword argument 'a '"),
    (classify, ("m", "m"), {"a\0": "m"}, f"{CLASSIFY} got an unexpected keyword argument 'a\0'"),
    (classify, ("m", "m"), {"a\udc00": "m"}, f"{CLASSIFY} got an unexpected keyword argument 'a\udc00'"),
    (classify, ("m", "m"), {Key("zz"): "m"}, f"{CLASSIFY} got an unexpected keyword argument 'shown'"),
    # Keys that are not str reach the function through ** and name no parameter.
    (classify, (), {1: 2}, f"{CLASSIFY} got an unexpected keyword argument '1'"),
    (grade, SIX, {Opaque(): 2}, f"{GRADE} got an unexpected keyword argument 'opaque-key'"),
    (classify, (), {b"a": "m", "b": "m"}, f"{CLASSIFY} got an unexpected keyword argument 'b'a''"),
    # A parameter given by position and by keyword; reported before anything missing.
    (classify, ("m",), {"a": "m"}, f"{CLASSIFY} got multiple values for argument 'a'"),
    (classify, ("m",), {"b": "m", "a": "K"}, f"{CLASSIFY} got multiple values for argument 'a'"),
    (grade, (1, 2, True), {"n_rows": 5}, f"{GRADE} got multiple values for argument 'n_rows'"),
    (grade, SIX + (0.0,), {"duplicate_timestamps": 0.0},
     f"{GRADE} got multiple values for argument 'duplicate_timestamps'"),
    # Missing required parameters, with every length of the name list.
    (classify, (), {}, f"{CLASSIFY} missing 2 required positional arguments: 'a' and 'b'"),
    (classify, ("m",), {}, f"{CLASSIFY} missing 1 required positional argument: 'b'"),
    (classify, (), {"b": "m"}, f"{CLASSIFY} missing 1 required positional argument: 'a'"),
    (grade, (), {}, f"{GRADE} missing 6 required positional arguments: 'n_tags', 'n_rows', "
                    "'baseline_present', 'license_cleared', 'missingness', and 'unit_coverage'"),
    (grade, (1, 2), {}, f"{GRADE} missing 4 required positional arguments: 'baseline_present', "
                        "'license_cleared', 'missingness', and 'unit_coverage'"),
    (grade, (1, 2), {"missingness": 0.0}, f"{GRADE} missing 3 required positional arguments: "
                                          "'baseline_present', 'license_cleared', and 'unit_coverage'"),
    (grade, (1, 2, True, True), {},
     f"{GRADE} missing 2 required positional arguments: 'missingness' and 'unit_coverage'"),
    (grade, SIX[:5], {}, f"{GRADE} missing 1 required positional argument: 'unit_coverage'"),
    (grade, (), {"has_batches": True, "time_span_hours": 1.0, "n_rows": 1, "unit_coverage": 1.0},
     f"{GRADE} missing 4 required positional arguments: 'n_tags', 'baseline_present', "
     "'license_cleared', and 'missingness'"),
    # Binding errors win over conversion errors of the values already supplied.
    (classify, (1,), {}, f"{CLASSIFY} missing 1 required positional argument: 'b'"),
    (grade, (None,) * 5, {}, f"{GRADE} missing 1 required positional argument: 'unit_coverage'"),
    (grade, ("x", -1, 1, 1, "y", None), {"nope": None}, f"{GRADE} got an unexpected keyword argument 'nope'"),
    (classify, ("\udc00",), {"a": None}, f"{CLASSIFY} got multiple values for argument 'a'"),
]


@pytest.mark.parametrize("function, args, kwargs, message", ERRORS)
def test_binding_error(function, args, kwargs, message):
    with pytest.raises(TypeError) as excinfo:
        function(*args, **kwargs)
    assert type(excinfo.value) is TypeError
    assert excinfo.value.args == (message,)
    assert excinfo.value.__cause__ is None and excinfo.value.__context__ is None
