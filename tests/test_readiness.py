"""grade_readiness results: seal, counts, verdicts, defaults and how each argument is routed."""
import hashlib
import math

import pytest

from qorv_chemical_engineering import grade_readiness

PARAMETERS = (
    "n_tags", "n_rows", "baseline_present", "license_cleared", "missingness", "unit_coverage",
    "duplicate_timestamps", "time_span_hours", "sampling_regular", "has_controllers",
    "has_maintenance", "has_batches", "has_lab_samples",
)
DIMENSIONS = (
    "tags_present", "rows_sufficient", "baseline_window", "license_cleared", "missingness",
    "unit_coverage", "duplicate_timestamps", "time_span", "sampling_regularity",
    "controller_context", "maintenance_log", "batch_genealogy", "lab_samples",
)
ALL_OK = dict(
    n_tags=10, n_rows=1000, baseline_present=True, license_cleared=True, missingness=0.0,
    unit_coverage=1.0, duplicate_timestamps=0.0, time_span_hours=48.0, sampling_regular=True,
    has_controllers=True, has_maintenance=True, has_batches=True, has_lab_samples=True,
)
SIX = (10, 1000, True, True, 0.05, 0.95)


def expected_result(levels):
    """Independent reference: the result dict a court with these thirteen levels must yield."""
    critical, caveat = levels.count("critical_missing"), levels.count("caveat")
    verdict = "NotReadyMissingCriticalWitnesses" if critical else "ReadyWithCaveats" if caveat else "Ready"
    digest = hashlib.sha256()

    def field(label, value):
        value = value.to_bytes(8, "little") if isinstance(value, int) else value.encode()
        for piece in (label.encode(), value):
            digest.update(len(piece).to_bytes(8, "little") + piece)

    field("schema", "industrial_data_readiness_court_v1")
    for dimension, level in zip(DIMENSIONS, levels):
        field("dimension", dimension)
        field("level", level)
    field("n_critical_missing", critical)
    field("n_caveat", caveat)
    field("verdict", verdict)
    return {"verdict": verdict, "n_caveat": caveat, "n_critical_missing": critical,
            "court_hash": digest.hexdigest()}


def levels_with(changes):
    levels = ["ok"] * 13
    for index, level in changes.items():
        levels[index] = level
    return levels


C, W = "critical_missing", "caveat"


@pytest.mark.parametrize("args, kwargs, levels, court_hash", [
    ((), ALL_OK, levels_with({}),
     "1b1120e65afcd03882c4b118d58255eeda1a2e487bdb3189706634e428539c09"),
    (SIX, {}, levels_with({7: W, 9: W, 10: W, 11: W, 12: W}),
     "96815849a21122812a1ab159b29c8aaa9fd424b366b0d3c6407ae4c470aa4b13"),
    ((10, 1000, True, True, 0.01, 0.99), {}, levels_with({7: W, 9: W, 10: W, 11: W, 12: W}),
     "96815849a21122812a1ab159b29c8aaa9fd424b366b0d3c6407ae4c470aa4b13"),
    ((0, 50, False, False, 0.2, 0.5, 0.05, 12.0, False), {}, [C] * 4 + [W] * 9,
     "a86c7d84cfef3db63e101138ec0bbaea8fa4a905ad38e0eb3b236df5dfb2be4e"),
])
def test_published_seals(args, kwargs, levels, court_hash):
    result = grade_readiness(*args, **kwargs)
    assert expected_result(levels)["court_hash"] == court_hash
    assert result == expected_result(levels)


def test_result_shape():
    result = grade_readiness(10, 1000, True, True, 0.0, 1.0)
    assert type(result) is dict
    assert list(result) == ["verdict", "n_caveat", "n_critical_missing", "court_hash"]
    assert [type(v) for v in result.values()] == [str, int, int, str]
    assert len(result["court_hash"]) == 64 and set(result["court_hash"]) <= set("0123456789abcdef")
    assert repr(result).startswith("{'verdict': ")
    assert grade_readiness(10, 1000, True, True, 0.0, 1.0) == result
    assert grade_readiness(10, 1000, True, True, 0.0, 1.0) is not result


def test_defaults_match_explicit_values_and_keyword_order_is_free():
    defaults = (0.0, math.nan, True, False, False, False, False)
    omitted = grade_readiness(*SIX)
    assert omitted == grade_readiness(*SIX, *defaults)
    assert omitted == grade_readiness(*SIX, time_span_hours=float("-nan"))
    assert omitted == grade_readiness(**dict(reversed(list(zip(PARAMETERS, SIX)))))
    assert omitted == grade_readiness(**dict(reversed(list(zip(PARAMETERS, SIX + defaults)))))
    assert omitted == grade_readiness(10, 1000, unit_coverage=0.95, missingness=0.05,
                                      license_cleared=True, baseline_present=True)


# One argument moved away from the all-ok profile, and the single finding it must change.
@pytest.mark.parametrize("parameter, value, index, level", [
    ("n_tags", 0, 0, C), ("n_tags", False, 0, C), ("n_tags", True, 0, "ok"),
    ("n_tags", 2**64 - 1, 0, "ok"),
    ("n_rows", 99, 1, C), ("n_rows", 100, 1, "ok"), ("n_rows", True, 1, C),
    ("baseline_present", False, 2, C), ("license_cleared", False, 3, C),
    ("missingness", 0.1, 4, "ok"), ("missingness", 0.1000001, 4, W), ("missingness", -0.5, 4, "ok"),
    ("missingness", -1.0, 4, "ok"), ("missingness", math.inf, 4, W), ("missingness", math.nan, 4, W),
    ("unit_coverage", 0.9, 5, "ok"), ("unit_coverage", 0.8999999, 5, W),
    ("unit_coverage", math.nan, 5, W), ("unit_coverage", 1, 5, "ok"),
    ("duplicate_timestamps", 0.01, 6, "ok"), ("duplicate_timestamps", 0.0100001, 6, W),
    ("time_span_hours", 24.0, 7, "ok"), ("time_span_hours", 23.96, 7, W),
    ("time_span_hours", math.inf, 7, W), ("time_span_hours", -math.inf, 7, W),
    ("time_span_hours", math.nan, 7, W), ("time_span_hours", 10**300, 7, "ok"),
    ("sampling_regular", False, 8, W), ("has_controllers", False, 9, W),
    ("has_maintenance", False, 10, W), ("has_batches", False, 11, W), ("has_lab_samples", False, 12, W),
])
def test_each_argument_reaches_its_own_finding(parameter, value, index, level):
    expected = expected_result(levels_with({index: level}))
    profile = dict(ALL_OK, **{parameter: value})
    assert grade_readiness(**profile) == expected
    assert grade_readiness(*profile.values()) == expected
