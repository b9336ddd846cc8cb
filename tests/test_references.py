"""Reference counts of arguments and results, and memory over a few thousand calls of every path."""
import ctypes
import gc
import sys

import pytest

from qorv_chemical_engineering import classify_unit_pair as classify
from qorv_chemical_engineering import grade_readiness as grade

CAUSE = KeyError("cause")


class Hook:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if self.value is None:
            raise TypeError("no index") from CAUSE
        return self.value


def fresh(text):
    return "".join(list(text))  # a str object of its own, not a shared constant


CALLS = {  # name: (function, args, kwargs, expected exception type or None)
    "grade": (grade, (10**3 + 7, 2**63 + 1, True, True, float("0.25"), float("0.5")),
              {"time_span_hours": float("30.5"), "has_batches": False}, None),
    "grade_index": (grade, (Hook(12), Hook(500), True, True, 0.0, 1.0), {}, None),
    "classify": (classify, (fresh("kPa"), fresh(" PA ")), {}, None),
    "too_many": (classify, (fresh("m"), fresh("m"), fresh("m")), {}, TypeError),
    "unexpected": (classify, (fresh("m"),), {fresh("zz"): fresh("m"), 12345678: 1}, TypeError),
    "multiple": (classify, (fresh("m"),), {"a": fresh("m")}, TypeError),
    "missing": (grade, (10**20,), {"missingness": float("0.5")}, TypeError),
    "bool": (grade, (1, 2, True, 10**20 + 1, 0.0, 1.0), {}, TypeError),
    "overflow": (grade, (2**64 + 3, 1, True, True, 0.0, 1.0), {}, OverflowError),
    "index_cause": (grade, (Hook(None), 1, True, True, 0.0, 1.0), {}, TypeError),
    "float": (grade, (1, 1, True, True, fresh("0.5"), 1.0), {}, TypeError),
    "surrogate": (classify, (fresh("m"), fresh("\udc00x")), {}, UnicodeEncodeError),
}


def call(function, args, kwargs, error):
    try:
        function(*args, **kwargs)
    except BaseException as caught:
        assert type(caught) is error
    else:
        assert error is None


@pytest.mark.parametrize("name", CALLS)
def test_argument_reference_counts_are_unchanged(name):
    function, args, kwargs, error = CALLS[name]
    watched = [*args, *kwargs, *kwargs.values(), CAUSE]
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(50):
        call(function, args, kwargs, error)
    assert [sys.getrefcount(o) for o in watched] == before


def test_results_hold_no_extra_references():
    result = grade(10, 1000, True, True, 0.0, 1.0)
    assert sys.getrefcount(result) == 2
    court_hash = result.pop("court_hash")
    assert sys.getrefcount(court_hash) == 2  # made for this call alone
    # Verdict and hazard texts are shared constants: calls must not pile references on them.
    verdict, hazard = result.pop("verdict"), classify("kg/h", "t/h")
    before = sys.getrefcount(verdict), sys.getrefcount(hazard)
    for _ in range(1000):
        grade(10, 1000, True, True, 0.0, 1.0)
        classify("kg/h", "t/h")
    assert (sys.getrefcount(verdict), sys.getrefcount(hazard)) == before


class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks",
                                                      "fsmblks", "uordblks", "fordblks", "keepcost")]


def malloc_in_use():
    """Bytes the C heap has handed out (glibc), where the module's own allocations live; 0 elsewhere."""
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except AttributeError:
        return 0
    mallinfo2.restype = MallInfo2
    info = mallinfo2()
    return info.uordblks + info.hblkhd


# A small leak test: a few rounds of a thousand calls. A leak of one Python object per call grows the
# block count by a thousand a round, and one of a few bytes per call grows the C heap by kilobytes.
ROUNDS, CALLS_PER_ROUND = 4, 1000


@pytest.mark.parametrize("name", CALLS)
def test_memory_is_flat_over_many_calls(name):
    blocks, heap = [], []
    for _ in range(ROUNDS):
        for _ in range(CALLS_PER_ROUND):
            call(*CALLS[name])
        gc.collect()
        blocks.append(sys.getallocatedblocks())
        heap.append(malloc_in_use())
    # The first round warms caches; the lists above grow by a block or two a round.
    assert blocks[-1] - blocks[1] < 50
    assert heap[-1] - heap[1] < 4096
