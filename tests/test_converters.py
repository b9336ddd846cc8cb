"""Conversion of argument values: accepted forms, error types, prefixes and causes."""
import operator

import pytest

from qorv_chemical_engineering import classify_unit_pair, grade_readiness

SIX = dict(n_tags=10, n_rows=1000, baseline_present=True, license_cleared=True, missingness=0.0,
           unit_coverage=1.0)
BOOLEANS = ("baseline_present", "license_cleared", "sampling_regular", "has_controllers",
            "has_maintenance", "has_batches", "has_lab_samples")
ROOT = KeyError("root cause")


class Index:
    def __init__(self, make):
        self.make = make

    def __index__(self):
        return self.make()


class Float:
    def __init__(self, make):
        self.make = make

    def __float__(self):
        return self.make()


class MyTypeError(TypeError):
    pass


def raises(error):
    def make():
        raise error
    return make


def type_error_from_root():
    raise TypeError("no index") from ROOT


def fake_numpy(name, **body):
    """A class that presents itself as one of NumPy's boolean scalar types."""
    return type(name, (), dict(body, __module__="numpy"))


NoBool = fake_numpy("bool_")
IntBool = fake_numpy("bool", __bool__=lambda self: 1)
NoneBool = fake_numpy("bool_", __bool__=lambda self: None)
FALSE_BOOL = fake_numpy("bool_", __bool__=lambda self: False)()
BOOL_ERROR = ValueError("bool failed")
RaisingBool = fake_numpy("bool_", __bool__=lambda self: raises(BOOL_ERROR)())
NotNumpy = type("bool_", (), {"__module__": "numpy.core", "__bool__": lambda self: True})


def grade(**changes):
    return grade_readiness(**dict(SIX, **changes))


def index_error_text(value):
    try:
        operator.index(value)
    except TypeError as error:
        return str(error)
    raise AssertionError("value has an index")


@pytest.mark.parametrize("parameter, value, message", [
    ("n_tags", 1.5, "argument 'n_tags': " + index_error_text(1.5)),
    ("n_rows", "100", "argument 'n_rows': " + index_error_text("100")),
    ("n_tags", None, "argument 'n_tags': " + index_error_text(None)),
    ("n_tags", Index(lambda: "7"), "argument 'n_tags': __index__ returned non-int (type str)"),
    ("n_tags", Index(raises(TypeError("no index"))), "argument 'n_tags': no index"),
    ("missingness", "0.1", "argument 'missingness': must be real number, not str"),
    ("time_span_hours", None, "argument 'time_span_hours': must be real number, not NoneType"),
    ("unit_coverage", Float(raises(TypeError("no float"))), "argument 'unit_coverage': no float"),
    ("has_batches", None, "argument 'has_batches': 'NoneType' object cannot be converted to 'PyBool'"),
    ("baseline_present", 1, "argument 'baseline_present': 'int' object cannot be converted to 'PyBool'"),
    ("sampling_regular", 0, "argument 'sampling_regular': 'int' object cannot be converted to 'PyBool'"),
    ("license_cleared", 1.0, "argument 'license_cleared': 'float' object cannot be converted to 'PyBool'"),
    ("has_controllers", "True", "argument 'has_controllers': 'str' object cannot be converted to 'PyBool'"),
    ("has_lab_samples", NotNumpy(), "argument 'has_lab_samples': 'bool_' object cannot be converted to 'PyBool'"),
    ("has_maintenance", NoBool(), "argument 'has_maintenance': object of type "
                                  "'<class 'numpy.bool_'>' does not define a '__bool__' conversion"),
    ("has_batches", IntBool(), "argument 'has_batches': 'int' object cannot be converted to 'PyBool'"),
    ("has_batches", NoneBool(), "argument 'has_batches': 'NoneType' object cannot be converted to 'PyBool'"),
])
def test_prefixed_type_errors(parameter, value, message):
    with pytest.raises(TypeError) as excinfo:
        grade(**{parameter: value})
    assert type(excinfo.value) is TypeError
    assert excinfo.value.args == (message,)
    assert excinfo.value.__cause__ is None and excinfo.value.__context__ is None


def test_prefixed_error_keeps_only_the_cause():
    with pytest.raises(TypeError) as excinfo:
        grade(n_rows=Index(type_error_from_root))
    assert excinfo.value.args == ("argument 'n_rows': no index",)
    assert excinfo.value.__cause__ is ROOT
    assert excinfo.value.__suppress_context__ and excinfo.value.__context__ is None


@pytest.mark.parametrize("error", [ValueError("bad index"), MyTypeError("typed"), ArithmeticError("x")])
def test_index_errors_other_than_type_error_pass_unchanged(error):
    with pytest.raises(type(error)) as excinfo:
        grade(n_tags=Index(raises(error)))
    assert excinfo.value is error


@pytest.mark.parametrize("changes, error_type", [
    (dict(n_tags=2**64), OverflowError), (dict(n_tags=-1), OverflowError),
    (dict(n_rows=Index(lambda: -1)), OverflowError), (dict(n_rows=Index(lambda: 2**70)), OverflowError),
    (dict(missingness=10**400), OverflowError),
    (dict(unit_coverage=Float(raises(ValueError("v")))), ValueError),
    (dict(has_batches=RaisingBool()), ValueError),
])
def test_other_conversion_errors_are_not_prefixed(changes, error_type):
    with pytest.raises(error_type) as excinfo:
        grade(**changes)
    assert type(excinfo.value) is error_type
    assert not str(excinfo.value).startswith("argument")


def test_failing_bool_hook_error_is_the_same_object():
    with pytest.raises(ValueError) as excinfo:
        grade(sampling_regular=RaisingBool())
    assert excinfo.value is BOOL_ERROR


@pytest.mark.parametrize("equivalent, value", [
    (dict(n_rows=100), Index(lambda: 100)), (dict(n_rows=99), Index(lambda: 99)),
    (dict(n_rows=2**64 - 1), 2**64 - 1), (dict(n_rows=1), True), (dict(n_tags=0), False),
    (dict(n_rows=100), type("Count", (int,), {})(100)),
    (dict(missingness=-1.0), Float(lambda: -1.0)), (dict(missingness=0.5), Float(lambda: 0.5)),
    (dict(missingness=3.0), Index(lambda: 3)), (dict(unit_coverage=-1.0), -1),
    (dict(time_span_hours=24.0), type("Span", (float,), {})(24.0)),
    (dict(has_batches=False), FALSE_BOOL),
])
def test_accepted_forms(equivalent, value):
    (parameter, _), = equivalent.items()
    assert grade(**{parameter: value}) == grade(**equivalent)


def test_only_the_first_bad_argument_in_parameter_order_is_reported():
    cases = [
        (dict(n_tags="x", n_rows="y"), "argument 'n_tags': "),
        (dict(has_lab_samples=1, duplicate_timestamps="x"), "argument 'duplicate_timestamps': "),
        (dict(sampling_regular=None, n_rows=-1.5, missingness=None), "argument 'n_rows': "),
        (dict(has_controllers=None, has_maintenance=None), "argument 'has_controllers': "),
    ]
    for changes, prefix in cases:
        with pytest.raises(TypeError, match="^" + prefix):
            grade(**changes)
    with pytest.raises(OverflowError):  # n_tags comes first and is not prefixed
        grade(n_tags=-1, n_rows="y")


@pytest.mark.parametrize("a, b, error_type, message", [
    (1, "m", TypeError, "argument 'a': 'int' object cannot be converted to 'PyString'"),
    ("m", 2, TypeError, "argument 'b': 'int' object cannot be converted to 'PyString'"),
    (None, None, TypeError, "argument 'a': 'NoneType' object cannot be converted to 'PyString'"),
    ("m", b"m", TypeError, "argument 'b': 'bytes' object cannot be converted to 'PyString'"),
    ("m", ["m"], TypeError, "argument 'b': 'list' object cannot be converted to 'PyString'"),
    (1.5, "\udc00", TypeError, "argument 'a': 'float' object cannot be converted to 'PyString'"),
    ("kg\udcff", 1, UnicodeEncodeError, None),
    ("m", "\ud800", UnicodeEncodeError, None),
])
def test_text_conversion_errors(a, b, error_type, message):
    with pytest.raises(error_type) as excinfo:
        classify_unit_pair(a, b)
    assert type(excinfo.value) is error_type
    if message is None:
        assert excinfo.value.reason == "surrogates not allowed"
    else:
        assert excinfo.value.args == (message,)


@pytest.mark.parametrize("parameter", BOOLEANS)
def test_numpy_booleans_are_accepted(parameter):
    np = pytest.importorskip("numpy")
    for flag in (True, False):
        assert grade(**{parameter: np.bool_(flag)}) == grade(**{parameter: flag})
    with pytest.raises(TypeError, match=f"^argument '{parameter}': 'int64' object cannot be converted to 'PyBool'$"):
        grade(**{parameter: np.int64(1)})


def test_numpy_numbers_for_counts_and_measures():
    np = pytest.importorskip("numpy")
    assert grade(n_rows=np.uint64(2**64 - 1), missingness=np.float64(0.5)) == grade(n_rows=2**64 - 1, missingness=0.5)
    assert grade(n_rows=np.int16(99), unit_coverage=np.float32(0.5)) == grade(n_rows=99, unit_coverage=0.5)
    with pytest.raises(OverflowError):
        grade(n_tags=np.int64(-1))
