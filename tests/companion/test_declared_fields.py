"""Declared fields take one path: grade_export, the Dask paths and qce check them the same way
and grade them the same way."""
import pytest

import qorv_chemical_engineering_edge as edge
from dask_exports import companion_dask
from export_files import write_export


@pytest.fixture
def export_path(tmp_path):
    path = tmp_path / "export.csv"
    write_export(path, 3, rows=150, tags=4)
    return str(path)


def _dask():
    return companion_dask()


def _frame(path):
    dd = pytest.importorskip("dask.dataframe")
    pd = pytest.importorskip("pandas")
    pytest.importorskip("pyarrow")
    return dd.from_pandas(pd.read_csv(path, skiprows=[1]), npartitions=2)


ENTRIES = {  # how each path grades an export
    "grade_export": lambda path, **kw: edge.grade_export(path, **kw),
    "grade_files": lambda path, **kw: _dask().grade_files(path, **kw),
    "grade_dataframe": lambda path, **kw: _dask().grade_dataframe(_frame(path), **kw),
}

BAD_DECLARED = [  # (field, value, type named in the error)
    ("license_cleared", 1, "int"),
    ("license_cleared", 0, "int"),
    ("license_cleared", "yes", "str"),
    ("license_cleared", None, "NoneType"),
    ("has_maintenance", 1, "int"),
    ("baseline_present", 1.0, "float"),
    ("has_lab_samples", [True], "list"),
]


@pytest.mark.parametrize("entry", ENTRIES)
@pytest.mark.parametrize("field, value, kind", BAD_DECLARED)
def test_a_declared_field_that_is_no_bool_is_the_same_type_error_everywhere(
        export_path, entry, field, value, kind):
    with pytest.raises(TypeError) as raised:
        ENTRIES[entry](export_path, **{field: value})
    assert str(raised.value) == (
        f"argument '{field}': '{kind}' object cannot be converted to 'PyBool'")


GOOD_DECLARED = [  # (declared, provenance of license_cleared)
    ({}, "default"),
    ({"license_cleared": False}, "default"),
    ({"license_cleared": True, "baseline_present": True}, "declared"),
    ({"license_cleared": "numpy-true", "has_batches": "numpy-false"}, "declared"),
]


@pytest.mark.parametrize("entry", ["grade_files", "grade_dataframe"])
@pytest.mark.parametrize("declared, licence", GOOD_DECLARED)
def test_every_path_grades_declared_fields_as_grade_export_does(export_path, entry, declared,
                                                                 licence):
    if any(isinstance(v, str) for v in declared.values()):
        np = pytest.importorskip("numpy")
        declared = {k: np.bool_(v == "numpy-true") if isinstance(v, str) else v
                    for k, v in declared.items()}
    local = edge.grade_export(export_path, **declared)
    if entry == "grade_dataframe":
        frame = _frame(export_path)
        local = edge.grade_export(frame.compute(), **declared)
        other = _dask().grade_dataframe(frame, **declared)
    else:
        other = ENTRIES[entry](export_path, **declared)
    assert other.values["license_cleared"].provenance == licence
    assert (other.verdict, other.court_hash) == (local.verdict, local.court_hash)
    if entry == "grade_dataframe":  # partitions digest their text, a table its columns
        assert (other.profile.values, other.profile.tags) == (local.profile.values,
                                                              local.profile.tags)
    else:
        assert other.profile.seal == local.profile.seal


def test_the_command_line_declares_through_the_same_path(export_path, capsys):
    from qorv_chemical_engineering_edge.cli import main
    import json

    code = main(["readiness", export_path, "--license-cleared", "--has-batches", "--json", "-"])
    shown = json.loads(capsys.readouterr().out)
    local = edge.grade_export(export_path, license_cleared=True, has_batches=True)
    assert code in (0, 1) and shown["court_hash"] == local.court_hash
    provenance = {v["name"]: v["provenance"] for v in shown["profile"]["values"]}
    assert provenance["license_cleared"] == provenance["has_batches"] == "declared"
    assert provenance["has_maintenance"] == "default"
