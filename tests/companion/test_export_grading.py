"""profile_export and grade_export on exports written here: the seal identity, the profile
against what was written, and bad input."""
import math
import os

import pytest

import qorv_chemical_engineering as q
import qorv_chemical_engineering_edge as edge
from export_files import write_export

CASES = [  # (seed, knobs)
    (1, {}),
    (2, {"rows": 40, "tags": 1, "duplicates": 0}),
    (3, {"rows": 300, "tags": 9, "outage": (100, 160)}),
    (4, {"unit_row": False, "empty": 0.2, "bad": 0.1}),
    (5, {"layout": "long", "rows": 60, "tags": 4}),
    (6, {"layout": "long", "rows": 80, "tags": 3, "quality": True}),
    (7, {"delimiter": ";", "rows": 150, "step_s": 10}),
    (8, {"gz": True, "rows": 200}),
    (9, {"rows": 2, "tags": 2, "duplicates": 1}),
    (10, {"rows": 500, "tags": 12, "step_s": 3600, "empty": 0.0, "bad": 0.0}),
    (11, {"delimiter": "\t", "tags": 6}),
    (12, {"layout": "long", "rows": 30, "tags": 7, "empty": 0.5}),
]
DECLARED = [
    {},
    {"license_cleared": True, "baseline_present": True},
    {"license_cleared": True, "has_maintenance": True, "has_batches": True,
     "has_lab_samples": True},
]


def export(tmp_path, seed, knobs):
    suffix = ".csv.gz" if knobs.get("gz") else ".csv"
    path = tmp_path / f"export{seed}{suffix}"
    facts = write_export(path, seed, **knobs)
    return str(path), facts


@pytest.mark.parametrize("seed, knobs", CASES)
@pytest.mark.parametrize("declared", DECLARED)
def test_court_hash_is_grade_readiness_of_the_profile_arguments(tmp_path, seed, knobs, declared):
    path, _ = export(tmp_path, seed, knobs)
    report = edge.grade_export(path, **declared)
    summary = q.grade_readiness(**report.profile_arguments)
    assert report.court_hash == summary["court_hash"]
    assert (report.verdict, report.n_caveat, report.n_critical_missing) == (
        summary["verdict"], summary["n_caveat"], summary["n_critical_missing"])
    for name, value in declared.items():
        assert report.values[name].value is value
        assert report.values[name].provenance == "declared"


@pytest.mark.parametrize("seed, knobs", [c for c in CASES if c[1].get("layout") != "long"])
def test_wide_profile_counts_what_was_written(tmp_path, seed, knobs):
    path, facts = export(tmp_path, seed, knobs)
    profile = edge.profile_export(path)
    values = profile.profile_arguments
    assert profile.layout == "wide"
    assert values["n_tags"] == facts["tags"] == len(profile.tags)
    assert values["n_rows"] == facts["rows"]
    if facts["rows"]:
        assert values["duplicate_timestamps"] == pytest.approx(facts["duplicates"] / facts["rows"])
    assert profile.values["n_rows"].provenance == "derived"
    assert profile.values["license_cleared"].provenance == "default"
    assert len(profile.seal) == 64 and len(profile.input_digest) == 64


def test_profile_is_deterministic_and_options_are_sealed(tmp_path):
    path, _ = export(tmp_path, 3, {"rows": 200})
    one, two = edge.profile_export(path), edge.profile_export(path, threads=1)
    assert edge.profile_export(path).seal == one.seal
    assert one.profile_arguments == two.profile_arguments
    assert one.tags == two.tags
    sentinel = edge.profile_export(path, missing_values=[-999])
    assert sentinel.seal != one.seal  # the options used are part of the seal
    assert sentinel.input_digest == one.input_digest


def test_list_of_files_is_one_export(tmp_path):
    first, _ = export(tmp_path, 21, {"rows": 100, "duplicates": 0})
    second = str(tmp_path / "second.csv")
    write_export(second, 21, rows=100, duplicates=0)
    both = edge.profile_export([first, second])
    assert both.source == (first, second)
    assert both.values["n_rows"].value == 200
    assert len(both.files) == 2


def test_tag_list_units_take_precedence(tmp_path):
    path, _ = export(tmp_path, 5, {"unit_row": False, "tags": 4})
    before = edge.profile_export(path)
    names = [t.name for t in before.tags]
    after = edge.profile_export(path, tag_list={n: "kg/h" for n in names})
    assert after.values["unit_coverage"].value == 1.0
    assert all(t.unit == "kg/h" for t in after.tags)


def test_time_zone_is_resolved_and_unknown_zone_is_named(tmp_path):
    path, _ = export(tmp_path, 1, {})
    utc = edge.profile_export(path)
    berlin = edge.profile_export(path, tz="Europe/Berlin")
    assert utc.tags[0].first != berlin.tags[0].first
    with pytest.raises(ValueError, match="Mars/Olympus"):
        edge.profile_export(path, tz="Mars/Olympus")


@pytest.mark.parametrize("zone, why", [
    ("/".join(["Europe"] * 1000), "longer than 255"),
    ("Europe/" + "B" * 250, "longer than 255"),
    ("Europe//Berlin", "empty part"),
    ("Europe/Berlin/", "empty part"),
    ("/usr/share/zoneinfo/UTC", "empty part"),
    ("Europe/./Berlin", "'.' or '..'"),
    ("Europe/-Berlin", "starts with '-'"),
    ("Europe/Ber lin", "other than"),
    ("Europe/Berl\u00efn", "other than"),
    ("Europe\\Berlin", "other than"),
])
def test_malformed_zone_name_is_refused_before_any_lookup(tmp_path, zone, why):
    path, _ = export(tmp_path, 1, {})
    with pytest.raises(ValueError, match="not a zone name") as refused:
        edge.profile_export(path, tz=zone)
    assert repr(zone)[1:30] in str(refused.value) and why in str(refused.value)
    # The core refuses the same name even with a zone's bytes in hand.
    settings = {k: v for k, v in edge.profile._PROFILE_OPTIONS.items() if k != "progress"}
    options = edge.profile._options.build(**{**settings, "tz": "Europe/Berlin"})
    options["zone_name"] = zone
    with pytest.raises(ValueError, match="not a zone name"):
        edge.profile._native.profile_files([path], options, None)


@pytest.mark.parametrize("option, value", [
    ("layout", "diagonal"), ("delimiter", ":"), ("decimal", ";"), ("timestamp_format", "%Y"),
    ("missing_values", ["minus nine"]), ("threads", 0),
])
def test_wrong_option_value_is_a_value_error_naming_it(tmp_path, option, value):
    path, _ = export(tmp_path, 1, {})
    with pytest.raises(ValueError, match=option):
        edge.profile_export(path, **{option: value})


def test_bad_sources_raise_errors_naming_the_file(tmp_path):
    missing = str(tmp_path / "absent.csv")
    with pytest.raises(FileNotFoundError) as error:
        edge.profile_export(missing)
    assert error.value.filename == missing
    with pytest.raises(IsADirectoryError) as error:
        edge.profile_export(str(tmp_path))
    assert error.value.filename == str(tmp_path)
    garbage = tmp_path / "garbage.csv"
    garbage.write_bytes(os.urandom(4096))
    with pytest.raises(ValueError, match="garbage.csv"):
        edge.profile_export(str(garbage))
    empty = tmp_path / "empty.csv"
    empty.write_bytes(b"")
    with pytest.raises(ValueError, match="empty.csv"):
        edge.grade_export(str(empty))
    with pytest.raises(TypeError):
        edge.profile_export(42)
    with pytest.raises(TypeError):
        edge.grade_export(missing, colour="red")


def test_progress_callable_sees_every_byte(tmp_path):
    path, _ = export(tmp_path, 3, {"rows": 400})
    seen = []
    edge.profile_export(path, progress=lambda done, total: seen.append((done, total)))
    assert seen and seen[-1][0] == seen[-1][1] == os.path.getsize(path)


def test_nan_values_grade_as_unknown(tmp_path):
    path = tmp_path / "header_and_units_only.csv"
    path.write_text("Timestamp,A\nUnits,kPa\n2026-01-01 00:00:00,\n")
    report = edge.grade_export(str(path))
    assert math.isnan(report.values["missingness"].value) or report.values[
        "missingness"].value == 1.0
    assert report.court_hash == q.grade_readiness(**report.profile_arguments)["court_hash"]


def test_declared_flags_take_numpy_booleans_and_refuse_others(tmp_path):
    np = pytest.importorskip("numpy")
    path, _ = export(tmp_path, 1, {})
    report = edge.grade_export(path, license_cleared=np.bool_(True), has_batches=np.bool_(False))
    assert report.values["license_cleared"].value is True
    assert report.values["license_cleared"].provenance == "declared"
    assert report.values["has_batches"].provenance == "declared"
    for bad in ({"license_cleared": 1}, {"has_batches": "yes"}, {"baseline_present": 0}):
        with pytest.raises(TypeError, match=next(iter(bad))):
            edge.grade_export(path, **bad)
