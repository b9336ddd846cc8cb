"""grade_readiness results: seal, counts, verdict, defaults and how each argument is routed."""
import hashlib
import math

import pytest

from qorv_chemical_engineering import grade_readiness

DIMENSIONS = ("tags_present", "rows_sufficient", "baseline_window", "license_cleared", "missingness",
              "unit_coverage", "duplicate_timestamps", "time_span", "sampling_regularity", "controller_context",
              "maintenance_log", "batch_genealogy", "lab_samples")
ALL_OK = dict(n_tags=10, n_rows=1000, baseline_present=True, license_cleared=True, missingness=0.0,
              unit_coverage=1.0, duplicate_timestamps=0.0, time_span_hours=48.0, sampling_regular=True,
              has_controllers=True, has_maintenance=True, has_batches=True, has_lab_samples=True)
SIX = (10, 1000, True, True, 0.05, 0.95)
DEFAULTS = (0.0, math.nan, True, False, False, False, False)
C, W = "critical_missing", "caveat"


def expected(changes):
    """Reference result for a court whose findings are all "ok" except {index: level}."""
    levels = [changes.get(i, "ok") for i in range(13)]
    critical, caveat = levels.count(C), levels.count(W)
    verdict = "NotReadyMissingCriticalWitnesses" if critical else "ReadyWithCaveats" if caveat else "Ready"
    fields = [("schema", "industrial_data_readiness_court_v1")]
    fields += [pair for d, level in zip(DIMENSIONS, levels) for pair in (("dimension", d), ("level", level))]
    fields += [("n_critical_missing", critical), ("n_caveat", caveat), ("verdict", verdict)]
    digest = hashlib.sha256()
    for label, value in fields:
        value = value.to_bytes(8, "little") if isinstance(value, int) else value.encode()
        for piece in (label.encode(), value):
            digest.update(len(piece).to_bytes(8, "little") + piece)
    return {"verdict": verdict, "n_caveat": caveat, "n_critical_missing": critical, "court_hash": digest.hexdigest()}


CONTEXT_CAVEATS = {7: W, 9: W, 10: W, 11: W, 12: W}


@pytest.mark.parametrize("args, changes, court_hash", [
    (tuple(ALL_OK.values()), {}, "1b1120e65afcd03882c4b118d58255eeda1a2e487bdb3189706634e428539c09"),
    (SIX, CONTEXT_CAVEATS, "96815849a21122812a1ab159b29c8aaa9fd424b366b0d3c6407ae4c470aa4b13"),
    ((10, 1000, True, True, 0.01, 0.99), CONTEXT_CAVEATS,
     "96815849a21122812a1ab159b29c8aaa9fd424b366b0d3c6407ae4c470aa4b13"),
    ((0, 50, False, False, 0.2, 0.5, 0.05, 12.0, False), {i: C if i < 4 else W for i in range(13)},
     "a86c7d84cfef3db63e101138ec0bbaea8fa4a905ad38e0eb3b236df5dfb2be4e"),
])
def test_published_seals(args, changes, court_hash):
    assert expected(changes)["court_hash"] == court_hash
    assert grade_readiness(*args) == expected(changes)


def test_result_shape():
    result = grade_readiness(10, 1000, True, True, 0.0, 1.0)
    assert type(result) is dict and list(result) == ["verdict", "n_caveat", "n_critical_missing", "court_hash"]
    assert [type(v) for v in result.values()] == [str, int, int, str]
    assert len(result["court_hash"]) == 64 and set(result["court_hash"]) <= set("0123456789abcdef")
    again = grade_readiness(10, 1000, True, True, 0.0, 1.0)
    assert again == result and again is not result


def test_defaults_and_keyword_order():
    names = list(ALL_OK)
    omitted = grade_readiness(*SIX)
    assert omitted == expected(CONTEXT_CAVEATS)
    assert omitted == grade_readiness(*SIX, *DEFAULTS) == grade_readiness(*SIX, time_span_hours=-math.nan)
    assert omitted == grade_readiness(**dict(reversed(list(zip(names, SIX)))))
    assert omitted == grade_readiness(**dict(reversed(list(zip(names, SIX + DEFAULTS)))))
    assert omitted == grade_readiness(10, 1000, unit_coverage=0.95, missingness=0.05, license_cleared=True,
                                      baseline_present=True)


# One argument moved away from the all-ok profile, and the only finding that may change.
@pytest.mark.parametrize("parameter, value, index, level", [
    ("n_tags", 0, 0, C), ("n_tags", False, 0, C), ("n_tags", True, 0, "ok"), ("n_tags", 2**64 - 1, 0, "ok"),
    ("n_rows", 99, 1, C), ("n_rows", 100, 1, "ok"), ("n_rows", True, 1, C),
    ("baseline_present", False, 2, C), ("license_cleared", False, 3, C),
    ("missingness", 0.1, 4, "ok"), ("missingness", 0.1000001, 4, W), ("missingness", -0.5, 4, "ok"),
    ("missingness", -1.0, 4, "ok"), ("missingness", math.inf, 4, W), ("missingness", math.nan, 4, W),
    ("unit_coverage", 0.9, 5, "ok"), ("unit_coverage", 0.8999999, 5, W), ("unit_coverage", math.nan, 5, W),
    ("duplicate_timestamps", 0.01, 6, "ok"), ("duplicate_timestamps", 0.0100001, 6, W),
    ("time_span_hours", 24.0, 7, "ok"), ("time_span_hours", 23.96, 7, W), ("time_span_hours", math.inf, 7, W),
    ("time_span_hours", -math.inf, 7, W), ("time_span_hours", math.nan, 7, W), ("time_span_hours", 10**300, 7, "ok"),
    ("sampling_regular", False, 8, W), ("has_controllers", False, 9, W), ("has_maintenance", False, 10, W),
    ("has_batches", False, 11, W), ("has_lab_samples", False, 12, W),
])
def test_each_argument_reaches_its_own_finding(parameter, value, index, level):
    profile = dict(ALL_OK, **{parameter: value})
    assert grade_readiness(**profile) == expected({index: level})
    assert grade_readiness(*profile.values()) == expected({index: level})
