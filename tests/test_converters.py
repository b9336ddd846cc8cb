"""Conversion of argument values: accepted forms, error types, prefixes and causes."""
import operator

import pytest

from qorv_chemical_engineering import classify_unit_pair, grade_readiness

SIX = dict(n_tags=10, n_rows=1000, baseline_present=True, license_cleared=True, missingness=0.0, unit_coverage=1.0)
ROOT = KeyError("root cause")


class Hook:
    """An object whose __index__ and __float__ return, or raise, what `make` gives."""

    def __init__(self, make):
        self.make = make

    def __index__(self):
        return self.make()

    __float__ = __index__


def raising(error):
    def make(*_):
        raise error
    return make


def type_error_from_root():
    raise TypeError("no index") from ROOT


def fake_numpy(name, **body):  # presents itself as one of NumPy's boolean scalar types
    return type(name, (), dict(body, __module__="numpy"))()


BOOL_ERROR, INDEX_ERROR, FLOAT_ERROR = ValueError("b"), ValueError("i"), ValueError("f")
SUBCLASS_ERROR = type("MyTypeError", (TypeError,), {})("t")
NO_BOOL, INT_BOOL, NONE_BOOL = fake_numpy("bool_"), fake_numpy("bool", __bool__=lambda s: 1), \
    fake_numpy("bool_", __bool__=lambda s: None)
FALSE_BOOL = fake_numpy("bool_", __bool__=lambda s: False)
RAISING_BOOL = fake_numpy("bool_", __bool__=raising(BOOL_ERROR))
NOT_NUMPY = type("bool_", (), {"__module__": "numpy.core", "__bool__": lambda self: True})()


def grade(**changes):
    return grade_readiness(**dict(SIX, **changes))


def index_text(value):
    with pytest.raises(TypeError) as excinfo:
        operator.index(value)
    return str(excinfo.value)


@pytest.mark.parametrize("changes, message", [
    (dict(n_tags=1.5), "argument 'n_tags': " + index_text(1.5)),
    (dict(n_rows="100"), "argument 'n_rows': " + index_text("100")),
    (dict(n_tags=None), "argument 'n_tags': " + index_text(None)),
    (dict(n_tags=Hook(lambda: "7")), "argument 'n_tags': __index__ returned non-int (type str)"),
    (dict(n_tags=Hook(raising(TypeError("no index")))), "argument 'n_tags': no index"),
    (dict(missingness="0.1"), "argument 'missingness': must be real number, not str"),
    (dict(time_span_hours=None), "argument 'time_span_hours': must be real number, not NoneType"),
    (dict(unit_coverage=Hook(raising(TypeError("no float")))), "argument 'unit_coverage': no float"),
    (dict(has_batches=None), "argument 'has_batches': 'NoneType' object cannot be converted to 'PyBool'"),
    (dict(baseline_present=1), "argument 'baseline_present': 'int' object cannot be converted to 'PyBool'"),
    (dict(sampling_regular=0), "argument 'sampling_regular': 'int' object cannot be converted to 'PyBool'"),
    (dict(license_cleared=1.0), "argument 'license_cleared': 'float' object cannot be converted to 'PyBool'"),
    (dict(has_controllers="True"), "argument 'has_controllers': 'str' object cannot be converted to 'PyBool'"),
    (dict(has_lab_samples=NOT_NUMPY), "argument 'has_lab_samples': 'bool_' object cannot be converted to 'PyBool'"),
    (dict(has_maintenance=NO_BOOL),
     "argument 'has_maintenance': object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion"),
    (dict(has_batches=INT_BOOL), "argument 'has_batches': 'int' object cannot be converted to 'PyBool'"),
    (dict(has_batches=NONE_BOOL), "argument 'has_batches': 'NoneType' object cannot be converted to 'PyBool'"),
    # Only the first bad argument in parameter order is reported, whatever the keyword order.
    (dict(n_tags="x", n_rows="y"), "argument 'n_tags': " + index_text("x")),
    (dict(has_lab_samples=1, duplicate_timestamps=None), "argument 'duplicate_timestamps': "
                                                         "must be real number, not NoneType"),
    (dict(sampling_regular=None, n_rows=-1.5, missingness=None), "argument 'n_rows': " + index_text(-1.5)),
    (dict(has_maintenance=None, has_controllers=2), "argument 'has_controllers': 'int' object cannot be "
                                                    "converted to 'PyBool'"),
])
def test_prefixed_type_errors(changes, message):
    with pytest.raises(TypeError) as excinfo:
        grade(**changes)
    assert type(excinfo.value) is TypeError and excinfo.value.args == (message,)
    assert excinfo.value.__cause__ is None and excinfo.value.__context__ is None


def test_prefixed_error_keeps_only_the_cause():
    with pytest.raises(TypeError) as excinfo:
        grade(n_rows=Hook(type_error_from_root))
    assert excinfo.value.args == ("argument 'n_rows': no index",)
    assert excinfo.value.__cause__ is ROOT and excinfo.value.__context__ is None


@pytest.mark.parametrize("changes, raised", [
    (dict(n_tags=Hook(raising(INDEX_ERROR))), INDEX_ERROR),
    (dict(n_tags=Hook(raising(SUBCLASS_ERROR))), SUBCLASS_ERROR),
    (dict(missingness=Hook(raising(FLOAT_ERROR))), FLOAT_ERROR),
    (dict(has_batches=RAISING_BOOL), BOOL_ERROR),
    (dict(n_tags=-1, n_rows="y"), OverflowError), (dict(n_tags=2**64), OverflowError),
    (dict(n_rows=Hook(lambda: -1)), OverflowError), (dict(n_rows=Hook(lambda: 2**70)), OverflowError),
    (dict(missingness=10**400), OverflowError),
])
def test_other_errors_pass_unchanged(changes, raised):
    error = raised if isinstance(raised, type) else type(raised)
    with pytest.raises(error) as excinfo:
        grade(**changes)
    assert type(excinfo.value) is error and not str(excinfo.value).startswith("argument")
    assert excinfo.value is raised or raised is error  # a hook's own exception object comes back


@pytest.mark.parametrize("equivalent, value", [
    (dict(n_rows=100), Hook(lambda: 100)), (dict(n_rows=99), Hook(lambda: 99)),
    (dict(n_rows=100), type("Count", (int,), {})(100)),
    (dict(missingness=-1.0), Hook(lambda: -1.0)), (dict(missingness=0.5), Hook(lambda: 0.5)),
    (dict(missingness=3.0), type("OnlyIndex", (), {"__index__": lambda s: 3})()), (dict(unit_coverage=-1.0), -1),
    (dict(time_span_hours=24.0), type("Span", (float,), {})(24.0)), (dict(has_batches=False), FALSE_BOOL),
])
def test_accepted_forms(equivalent, value):
    (parameter, _), = equivalent.items()
    assert grade(**{parameter: value}) == grade(**equivalent)


@pytest.mark.parametrize("a, b, error, message", [
    (1, "m", TypeError, "argument 'a': 'int' object cannot be converted to 'PyString'"),
    ("m", 2, TypeError, "argument 'b': 'int' object cannot be converted to 'PyString'"),
    (None, None, TypeError, "argument 'a': 'NoneType' object cannot be converted to 'PyString'"),
    ("m", b"m", TypeError, "argument 'b': 'bytes' object cannot be converted to 'PyString'"),
    (1.5, "\udc00", TypeError, "argument 'a': 'float' object cannot be converted to 'PyString'"),
    ("kg\udcff", 1, UnicodeEncodeError, None), ("m", "\ud800", UnicodeEncodeError, None),
])
def test_text_conversion_errors(a, b, error, message):
    with pytest.raises(error) as excinfo:
        classify_unit_pair(a, b)
    assert type(excinfo.value) is error
    assert excinfo.value.args == (message,) if message else excinfo.value.reason == "surrogates not allowed"


@pytest.mark.parametrize("parameter", ["baseline_present", "license_cleared", "sampling_regular", "has_controllers",
                                       "has_maintenance", "has_batches", "has_lab_samples"])
def test_numpy_scalars(parameter):
    np = pytest.importorskip("numpy")
    for flag in (True, False):
        assert grade(**{parameter: np.bool_(flag)}) == grade(**{parameter: flag})
    with pytest.raises(TypeError, match=f"^argument '{parameter}': 'int64' object cannot be converted to 'PyBool'$"):
        grade(**{parameter: np.int64(1)})
    assert grade(n_rows=np.uint64(2**64 - 1), missingness=np.float64(0.5)) == grade(n_rows=2**64 - 1, missingness=0.5)
    assert grade(n_rows=np.int16(99), unit_coverage=np.float32(0.5)) == grade(n_rows=99, unit_coverage=0.5)
