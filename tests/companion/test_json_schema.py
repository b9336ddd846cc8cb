"""Every to_json() validates against the package's schema and reads back as to_dict()."""
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
    return {
        "readiness": edge.grade(10, 1000, True, True, 0.05, 0.95),
        "readiness_nan": edge.grade(1, 1, False, False, math.nan, math.inf),
        "units_v1": edge.check_units([("kPa", "Pa"), ("furlong", "m")], court="v1"),
        "units_v2": edge.check_units([("degF", "degC"), ("Nm3/h", "m3/h"), ("", "kg")]),
        "profile": edge.profile_export(str(wide)),
        "report": edge.grade_export(str(long), license_cleared=True),
    }


def test_round_trip_and_schema(tmp_path, validator):
    for name, result in results(tmp_path).items():
        text = result.to_json()
        data = json.loads(text)
        validator.validate(data)
        assert data == result.to_dict(), name
        assert data["schema"].endswith("/1")
        assert json.loads(result.to_json(indent=None)) == data


def test_schema_rejects_what_it_should(tmp_path, validator):
    data = edge.grade(10, 1000, True, True, 0.05, 0.95).to_dict()
    for broken in (dict(data, verdict="Maybe"), dict(data, court_hash="xyz"),
                   dict(data, findings=data["findings"][:12]), dict(data, extra=1)):
        assert not validator.is_valid(broken)
