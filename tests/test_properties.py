"""Property tests: both functions against the rules stated again in plain Python (grading, seal
framing with hashlib, unit normalisation and the unit table), arbitrary objects as arguments, and
hostile __index__ / __float__ / __bool__ hooks. Example counts stay moderate: CI runs the suite
under five CPython versions and once more under the sanitizers."""
import gc
import hashlib
import math
import operator
import os
import subprocess
import sys
from decimal import Decimal
from fractions import Fraction

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import qorv_chemical_engineering as qce

SETTINGS = settings(max_examples=150, deadline=None, database=None,
                    suppress_health_check=[HealthCheck.too_slow])

# ---- readiness rules -------------------------------------------------------------------------

PARAMETERS = ("n_tags", "n_rows", "baseline_present", "license_cleared", "missingness", "unit_coverage",
              "duplicate_timestamps", "time_span_hours", "sampling_regular", "has_controllers",
              "has_maintenance", "has_batches", "has_lab_samples")
KINDS = ("u64", "u64", "bool", "bool", "float", "float", "float", "float", "bool", "bool", "bool", "bool", "bool")
DEFAULTS = {"duplicate_timestamps": 0.0, "time_span_hours": math.nan, "sampling_regular": True,
            "has_controllers": False, "has_maintenance": False, "has_batches": False, "has_lab_samples": False}


def field(label, value):
    value = value.to_bytes(8, "little") if isinstance(value, int) else value.encode()
    label = label.encode()
    return len(label).to_bytes(8, "little") + label + len(value).to_bytes(8, "little") + value


def graded(p):
    """The readiness court's result for a complete profile, by the rules."""
    ok = "ok"
    levels = [
        ("tags_present", "critical_missing" if p["n_tags"] == 0 else ok),
        ("rows_sufficient", "critical_missing" if p["n_rows"] < 100 else ok),
        ("baseline_window", ok if p["baseline_present"] else "critical_missing"),
        ("license_cleared", ok if p["license_cleared"] else "critical_missing"),
        ("missingness", ok if p["missingness"] <= 0.1 else "caveat"),
        ("unit_coverage", ok if p["unit_coverage"] >= 0.9 else "caveat"),
        ("duplicate_timestamps", ok if p["duplicate_timestamps"] <= 0.01 else "caveat"),
        ("time_span", ok if math.isfinite(p["time_span_hours"]) and p["time_span_hours"] >= 24.0 else "caveat"),
        ("sampling_regularity", ok if p["sampling_regular"] else "caveat"),
        ("controller_context", ok if p["has_controllers"] else "caveat"),
        ("maintenance_log", ok if p["has_maintenance"] else "caveat"),
        ("batch_genealogy", ok if p["has_batches"] else "caveat"),
        ("lab_samples", ok if p["has_lab_samples"] else "caveat"),
    ]
    critical = sum(level == "critical_missing" for _, level in levels)
    caveat = sum(level == "caveat" for _, level in levels)
    verdict = "NotReadyMissingCriticalWitnesses" if critical else "ReadyWithCaveats" if caveat else "Ready"
    stream = field("schema", "industrial_data_readiness_court_v1")
    for dimension, level in levels:
        stream += field("dimension", dimension) + field("level", level)
    stream += field("n_critical_missing", critical) + field("n_caveat", caveat) + field("verdict", verdict)
    return {"verdict": verdict, "n_caveat": caveat, "n_critical_missing": critical,
            "court_hash": hashlib.sha256(stream).hexdigest()}


NEAR = [0.0, 0.1, 0.9, 0.01, 24.0, 1.0, 100.0]
fractions_ = st.one_of(st.floats(), st.sampled_from(NEAR).flatmap(
    lambda x: st.sampled_from([x, math.nextafter(x, math.inf), math.nextafter(x, -math.inf)])
    if hasattr(math, "nextafter") else st.just(x)))
counts = st.one_of(st.integers(0, 2**64 - 1), st.integers(95, 105), st.just(0))
VALUES = {"u64": counts, "float": fractions_, "bool": st.booleans()}


@st.composite
def calls(draw):
    """A valid call: the values of all thirteen parameters, and how they are passed."""
    profile = {name: draw(VALUES[kind]) for name, kind in zip(PARAMETERS, KINDS)}
    omitted = {name for name in DEFAULTS if draw(st.booleans())}
    given_ = {name: value for name, value in profile.items() if name not in omitted}
    profile.update({name: DEFAULTS[name] for name in omitted})
    n_positional = draw(st.integers(0, 13))
    while n_positional and PARAMETERS[n_positional - 1] not in given_:
        n_positional -= 1
    if any(name not in given_ for name in PARAMETERS[:n_positional]):
        n_positional = 0
    args = [given_.pop(name) for name in PARAMETERS[:n_positional]]
    keywords = list(given_.items())
    draw(st.randoms()).shuffle(keywords)
    return profile, args, dict(keywords)


@SETTINGS
@given(calls())
def test_grade_readiness_follows_the_rules(call):
    profile, args, kwargs = call
    assert qce.grade_readiness(*args, **kwargs) == graded(profile)


# ---- unit rules ------------------------------------------------------------------------------

def _entries():
    pressure, mass_flow, molar, volume_flow = (1, -1, -2, 0, 0), (1, 0, -1, 0, 0), (0, 0, -1, 0, 1), (0, 3, -1, 0, 0)
    frequency, power, temperature, none = (0, 0, -1, 0, 0), (1, 2, -3, 0, 0), (0, 0, 0, 1, 0), (0,) * 5
    hour, minute = 1 / 3600, 1 / 60
    rows = [
        ("k kelvin", temperature, 1, 0, "pure"), ("c degc celsius", temperature, 1, 273.15, "pure"),
        ("f degf fahrenheit", temperature, 5 / 9, 273.15 - 32 * 5 / 9, "pure"),
        ("pa", pressure, 1, 0, "pure"), ("kpa", pressure, 1000, 0, "pure"), ("bar", pressure, 100000, 0, "pure"),
        ("mbar", pressure, 100, 0, "pure"), ("psi psig", pressure, 6894.757, 0, "pure"),
        ("atm", pressure, 101325, 0, "pure"),
        ("kg/s", mass_flow, 1, 0, "pure"), ("kg/h kg/hr", mass_flow, hour, 0, "pure"),
        ("g/s", mass_flow, 0.001, 0, "pure"), ("t/h tonne/h", mass_flow, 1000 / 3600, 0, "pure"),
        ("kg/min", mass_flow, minute, 0, "pure"),
        ("mol/s", molar, 1, 0, "pure"), ("mol/h", molar, hour, 0, "pure"), ("kmol/h", molar, 1000 / 3600, 0, "pure"),
        ("mol/min", molar, minute, 0, "pure"),
        ("m3/s", volume_flow, 1, 0, "pure"), ("m3/h", volume_flow, hour, 0, "pure"),
        ("l/s", volume_flow, 0.001, 0, "pure"), ("l/min lpm", volume_flow, 0.001 / 60, 0, "pure"),
        ("l/h lph", volume_flow, 0.001 / 3600, 0, "pure"), ("gpm", volume_flow, 6.30902e-05, 0, "pure"),
        ("hz 1/s s-1", frequency, 1, 0, "pure"), ("1/min", frequency, minute, 0, "pure"),
        ("1/h", frequency, hour, 0, "pure"),
        ("w j/s", power, 1, 0, "pure"), ("kw", power, 1000, 0, "pure"), ("kj/min", power, 1000 / 60, 0, "pure"),
        ("j/min", power, minute, 0, "pure"),
        ("kg", (1, 0, 0, 0, 0), 1, 0, "pure"), ("g", (1, 0, 0, 0, 0), 0.001, 0, "pure"),
        ("m", (0, 1, 0, 0, 0), 1, 0, "pure"), ("cm", (0, 1, 0, 0, 0), 0.01, 0, "pure"),
        ("mm", (0, 1, 0, 0, 0), 0.001, 0, "pure"),
        ("m3", (0, 3, 0, 0, 0), 1, 0, "pure"), ("l liter litre", (0, 3, 0, 0, 0), 0.001, 0, "pure"),
        ("- ratio dimensionless", none, 1, 0, "pure"), ("%", none, 0.01, 0, "pure"),
        ("wt% wt_pct mass%", none, 0.01, 0, "mass"), ("kg/kg mass_frac massfraction", none, 1, 0, "mass"),
        ("mol% mole%", none, 0.01, 0, "mole"), ("mol/mol mole_frac molefraction", none, 1, 0, "mole"),
    ]
    table = {form: meaning for forms, *meaning in rows for form in forms.split()}
    table[""] = table["-"]
    return table


UNITS = _entries()
WHITE_SPACE = "".join(map(chr, [*range(0x09, 0x0E), 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B), 0x2028,
                                0x2029, 0x202F, 0x205F, 0x3000]))


def meaning(text):
    """Trim White_Space, lower-case (full mapping), drop carets, strip leading degree signs; look up."""
    return UNITS.get(text.strip(WHITE_SPACE).lower().replace("^", "").lstrip("\u00b0"))


def close(x, y):
    return abs(x - y) <= (max(abs(x), abs(y)) + 1.0) * 1e-9


def hazard(a, b):
    a, b = meaning(a), meaning(b)
    if a is None or b is None:
        return "unknown_unit"
    (dim_a, scale_a, offset_a, basis_a), (dim_b, scale_b, offset_b, basis_b) = a, b
    if dim_a != dim_b:
        return "dimension_mismatch"
    if basis_a != basis_b:
        return "basis_mismatch"
    if not close(scale_a, scale_b):
        return "scale_mismatch"
    return "consistent" if close(offset_a, offset_b) else "affine_offset_hazard"


def decorated(form):
    """A table form as people write it: any case, blanks around, carets, leading degree signs."""
    return st.tuples(st.text(WHITE_SPACE, max_size=3), st.text("^\u00b0", max_size=2),
                     st.lists(st.booleans(), min_size=len(form), max_size=len(form)),
                     st.text(" ^", max_size=1), st.text(WHITE_SPACE, max_size=3)).map(
        lambda p: p[0] + p[1] + "".join(c.upper() if up else c for c, up in zip(form, p[2])) + p[3] + p[4])


unit_texts = st.one_of(st.sampled_from(sorted(UNITS)).flatmap(decorated), st.text(max_size=12),
                       st.sampled_from(["\u212a", "\u212aG/H", "\u00b0 C", "m\u00b3/h", "kmol/s", "KG/H\0"]))


BY_DIMENSION = {}
for _form, (_dimension, *_) in UNITS.items():
    BY_DIMENSION.setdefault(_dimension, []).append(_form)
# Two forms of one dimension, where scale, offset and basis decide.
same_dimension = st.sampled_from(sorted(BY_DIMENSION.values())).flatmap(
    lambda forms: st.tuples(st.sampled_from(forms).flatmap(decorated), st.sampled_from(forms).flatmap(decorated)))


@settings(SETTINGS, max_examples=200)
@given(st.one_of(same_dimension, st.tuples(unit_texts, unit_texts)))
def test_classify_unit_pair_follows_the_rules(pair):
    a, b = pair
    try:
        a.encode()
        b.encode()
    except UnicodeEncodeError:
        with pytest.raises(UnicodeEncodeError):
            qce.classify_unit_pair(a, b)
        return
    assert qce.classify_unit_pair(a, b) == hazard(a, b)
    assert qce.classify_unit_pair(b=b, a=a) == qce.classify_unit_pair(b, a) == hazard(b, a)


# ---- arbitrary objects ---------------------------------------------------------------------------

def as_u64(x):
    value = operator.index(x)
    if not 0 <= value < 2**64:
        raise OverflowError
    return value


def as_float(x):
    if isinstance(x, float):
        return float(x)
    if hasattr(type(x), "__float__"):
        return type(x).__float__(x)  # int, Decimal, Fraction; their own errors pass through
    if hasattr(type(x), "__index__"):
        return float(operator.index(x))
    raise TypeError


def as_bool(x):
    if type(x) is bool:
        return x
    raise TypeError


CONVERT = {"u64": as_u64, "float": as_float, "bool": as_bool}

anything = st.one_of(
    st.none(), st.booleans(), st.integers(), st.integers(-2, 2**64 + 2), st.integers(2**63, 2**70), st.floats(), st.text(max_size=4),
    st.binary(max_size=4), st.complex_numbers(), st.decimals(), st.fractions(), st.lists(st.integers(), max_size=2),
    st.builds(object), st.just(Decimal("sNaN")), st.just(Fraction(1, 3)), st.just(sys.maxsize))


def outcome(call):
    try:
        return "result", call()
    except BaseException as error:  # a PanicException or a crash would not match the model
        return type(error), (str(error) if type(error) is TypeError else None)


@pytest.mark.parametrize("kind", ["u64", "float", "bool"])
@SETTINGS
@given(data=st.data())
def test_arbitrary_arguments(kind, data):
    names = [name for name, k in zip(PARAMETERS, KINDS) if k == kind]
    replaced = data.draw(st.dictionaries(st.sampled_from(names), anything, min_size=1, max_size=2))
    base = dict(n_tags=10, n_rows=1000, baseline_present=True, license_cleared=True, missingness=0.0,
                unit_coverage=1.0, duplicate_timestamps=0.0, time_span_hours=48.0, sampling_regular=True,
                has_controllers=True, has_maintenance=True, has_batches=True, has_lab_samples=True)
    call = dict(base, **replaced)

    def model():
        profile = {}
        for name, kind in zip(PARAMETERS, KINDS):
            try:
                profile[name] = CONVERT[kind](call[name])
            except TypeError:
                raise TypeError(f"argument '{name}'")
        return graded(profile)

    expected, actual = outcome(model), outcome(lambda: qce.grade_readiness(**call))
    assert actual[0] == expected[0]
    if expected[0] == "result":
        assert actual[1] == expected[1]
    elif expected[0] is TypeError:
        assert actual[1].startswith(expected[1] + ": ")


@SETTINGS
@given(anything, anything)
def test_arbitrary_unit_arguments(a, b):
    def model():
        for name, value in (("a", a), ("b", b)):
            if not isinstance(value, str):
                raise TypeError(f"argument '{name}': '{type(value).__qualname__}' object cannot be converted "
                                "to 'PyString'")
            value.encode()
        return hazard(a, b)

    expected, actual = outcome(model), outcome(lambda: qce.classify_unit_pair(a, b))
    assert actual == expected


# ---- hostile hooks -------------------------------------------------------------------------------

class Raised(Exception):
    pass


def clear_call_dicts(obj):
    for referrer in gc.get_referrers(obj):
        if isinstance(referrer, dict) and referrer is not globals():
            referrer.clear()


# behaviour: (what the hook does, what the caller must see: a value the hook returns or an error type)
BEHAVIOURS = {
    "raises ValueError": (lambda self: (_ for _ in ()).throw(Raised("hook")), Raised),
    "raises TypeError": (lambda self: (_ for _ in ()).throw(TypeError("hook")), "prefixed"),
    "raises KeyboardInterrupt": (lambda self: (_ for _ in ()).throw(KeyboardInterrupt()), KeyboardInterrupt),
    "raises MemoryError": (lambda self: (_ for _ in ()).throw(MemoryError()), MemoryError),
    "wrong type": (lambda self: "7", "prefixed"),
    "calls the module": (lambda self: self.fallback(qce.grade_readiness(1, 100, True, True, 0.0, 1.0)), "value"),
    "clears the call's dicts": (lambda self: (clear_call_dicts(self), self.fallback(None))[1], "value"),
    "classifies inside": (lambda self: self.fallback(qce.classify_unit_pair("kPa", "Pa")), "value"),
}
FALLBACK = {"u64": 1000, "float": 0.5, "bool": False}


def hostile(kind, behaviour):
    hook, _ = BEHAVIOURS[behaviour]
    body = {"fallback": lambda self, _: FALLBACK[kind]}
    if kind == "bool":  # read through __bool__ only when it presents itself as NumPy's
        return type("bool_", (), dict(body, __module__="numpy", __bool__=hook))()
    return type("Hostile", (), dict(body, **{"__index__" if kind == "u64" else "__float__": hook}))()


@SETTINGS
@given(st.integers(0, 12), st.sampled_from(sorted(BEHAVIOURS)), st.integers(0, 13), st.randoms())
def hostile_hooks(index, behaviour, n_positional, rng):
    name, kind = PARAMETERS[index], KINDS[index]
    if kind == "bool" and behaviour == "wrong type":
        expected_message = f"argument '{name}': 'str' object cannot be converted to 'PyBool'"
    else:
        expected_message = None
    values = dict(n_tags=10, n_rows=1000, baseline_present=True, license_cleared=True, missingness=0.0,
                  unit_coverage=1.0, duplicate_timestamps=0.0, time_span_hours=48.0, sampling_regular=True,
                  has_controllers=True, has_maintenance=True, has_batches=True, has_lab_samples=True)
    positional = PARAMETERS[:n_positional]
    args = [hostile(kind, behaviour) if p == name else values[p] for p in positional]
    names = [p for p in PARAMETERS if p not in positional]
    rng.shuffle(names)
    # The keyword values are objects of their own, held by the call's dict alone: a hook that
    # clears the dict frees them unless the module holds them.
    grade = lambda: qce.grade_readiness(*args, **{k: fresh(values[k]) if k != name else hook for k in names})
    hook = hostile(kind, behaviour)
    _, expect = BEHAVIOURS[behaviour]
    if expect == "value":
        assert grade() == graded(dict(values, **{name: FALLBACK[kind]}))
    elif expect == "prefixed":
        with pytest.raises(TypeError) as excinfo:
            grade()
        assert type(excinfo.value) is TypeError and str(excinfo.value).startswith(f"argument '{name}': ")
        if expected_message:
            assert str(excinfo.value) == expected_message
    else:
        with pytest.raises(expect) as excinfo:
            grade()
        assert type(excinfo.value) is expect


def fresh(value):
    """An equal number that is a new object (outside the small-int cache), not a shared constant."""
    return type(value)(repr(value)) if type(value) in (int, float) else value


def test_hostile_hooks():
    # In a child process with CPython's debug allocator: a hook that frees an argument the module
    # still reads then fails this test instead of ending the whole run.
    env = dict(os.environ, PYTHONMALLOC="debug")
    here = os.path.dirname(os.path.abspath(__file__))
    paths = [here, os.path.dirname(os.path.abspath(qce.__file__)), env.get("PYTHONPATH", "")]
    env["PYTHONPATH"] = os.pathsep.join(p for p in paths if p)
    done = subprocess.run([sys.executable, "-c", "import test_properties; test_properties.hostile_hooks()"],
                          env=env, cwd=here, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, f"child ended with {done.returncode}:\n{done.stderr[-3000:]}"
