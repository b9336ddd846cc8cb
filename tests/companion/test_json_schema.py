"""Every to_json() validates against the package's schema and reads back as to_dict()."""
import dataclasses
import json
import math
from importlib import resources

import pytest

import qorv_chemical_engineering_edge as edge
from export_files import write_export

jsonschema = pytest.importorskip("jsonschema")


@pytest.fixture(scope="module")
def validator():
    schema = json.loads(resources.files("qorv_chemical_engineering_edge")
                        .joinpath("schema.json").read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


def results(tmp_path):
    wide, long = tmp_path / "wide.csv", tmp_path / "long.csv"
    write_export(wide, 4, rows=150, outage=(20, 40))
    write_export(long, 5, layout="long", rows=40, quality=True)
    paired = tmp_path / "paired.csv"
    paired.write_text("Time,FT1,Time,FT2\n2026-03-01 00:00:00,1,2026-03-01 00:00:30,2\n"
                      "2026-03-01 00:01:00,1,,\n")
    batches = tmp_path / "batches.csv"
    batches.write_text("Batch,Phase,Event,Time\nB1,,Start,2026-01-05 00:10:00\n"
                       "B1,,End,2026-01-05 00:30:00\nB2,Fill,Ended,2026-01-05 01:00:00\n")
    return {
        "context": edge.grade_export(str(wide), context={"batches": str(batches)}),
        "readiness": edge.grade(10, 1000, True, True, 0.05, 0.95),
        "readiness_nan": edge.grade(1, 1, False, False, math.nan, math.inf),
        "units_v1": edge.check_units([("kPa", "Pa"), ("furlong", "m")], court="v1"),
        "units_v2": edge.check_units([("degF", "degC"), ("Nm3/h", "m3/h"), ("", "kg")]),
        "profile": edge.profile_export(str(wide)),
        "report": edge.grade_export(str(long), license_cleared=True),
        "paired": edge.grade_export(str(paired)),
    }


def test_round_trip_and_schema(tmp_path, validator):
    for name, result in results(tmp_path).items():
        text = result.to_json()
        data = json.loads(text)
        validator.validate(data)
        assert data == result.to_dict(), name
        assert data["schema"].endswith(f"/{edge.SCHEMA_VERSION}")
        assert json.loads(result.to_json(indent=None)) == data


def test_schema_rejects_what_it_should(tmp_path, validator):
    data = edge.grade(10, 1000, True, True, 0.05, 0.95).to_dict()
    for broken in (dict(data, verdict="Maybe"), dict(data, court_hash="xyz"),
                   dict(data, findings=data["findings"][:12]), dict(data, extra=1)):
        assert not validator.is_valid(broken)


def _with_unknown_step(profile):
    tags = tuple(dataclasses.replace(t, modal_step_seconds=math.nan) for t in profile.tags)
    return dataclasses.replace(profile, tags=tags)


# Results holding a NaN or an infinity somewhere, and where its null must show in the JSON.
NOT_FINITE = [
    ("profile_nan_sentinel", lambda wide, long: edge.profile_export(wide, missing_values=["nan"]),
     lambda d: d["options"]["missing_sentinels"], [None]),
    ("profile_infinite_sentinels",
     lambda wide, long: edge.profile_export(long, missing_values=["-inf", "inf", -999]),
     lambda d: d["options"]["missing_sentinels"], [None, None, -999.0]),
    ("report_nan_sentinel", lambda wide, long: edge.grade_export(long, missing_values=["nan"]),
     lambda d: d["profile"]["options"]["missing_sentinels"], [None]),
    ("readiness_not_known", lambda wide, long: edge.grade(1, 1, False, False, math.inf, math.nan),
     lambda d: [d["profile"][k] for k in ("missingness", "unit_coverage", "time_span_hours")],
     [None, None, None]),
    ("units_overflowing_factor", lambda wide, long: edge.check_units([("km^60", "mm^60")]),
     lambda d: d["findings"][0]["factor"], None),
    ("tag_units_overflowing_factor",
     lambda wide, long: edge.check_tag_units({"FI1.PV": "km^60"}, {"FI1.PV": "mm^60"}),
     lambda d: d["findings"][0]["factor"], None),
    ("tag_evidence_unknown_step", lambda wide, long: _with_unknown_step(edge.profile_export(long)),
     lambda d: {t["modal_step_seconds"] for t in d["tags"]}, {None}),
]


@pytest.mark.parametrize("name, make, where, expected", NOT_FINITE, ids=[c[0] for c in NOT_FINITE])
def test_not_finite_values_are_null(tmp_path, validator, name, make, where, expected):
    wide, long = tmp_path / "wide.csv", tmp_path / "long.csv"
    write_export(wide, 4, rows=50)
    write_export(long, 5, layout="long", rows=40)
    result = make(str(wide), str(long))
    data = json.loads(result.to_json())
    validator.validate(data)
    assert where(data) == expected
    assert data == result.to_dict()
    json.dumps(result.to_dict(), allow_nan=False)  # no NaN or infinity left in to_dict() either
