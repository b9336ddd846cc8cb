"""The availability chart for tables: Arrow, Parquet and Dask data frames get the grid a CSV
export of the same rows gets (Arrow libraries: run in the ordinary stage only)."""
import pytest

import qorv_chemical_engineering_edge as edge
from dask_exports import companion_dask
from test_availability import TAGS, export_text, rows_written, stamp

pa = pytest.importorskip("pyarrow")


def table():
    rows = rows_written()
    columns = {"Timestamp": [stamp(t) for t, _ in rows]}
    for i, tag in enumerate(TAGS):
        columns[tag] = [c[i] or None for _, c in rows]
    return pa.table(columns, schema=pa.schema([(name, pa.string()) for name in columns]))


@pytest.mark.parametrize("source", ["arrow", "parquet", "dask_dataframe"])
def test_tables_get_the_csv_grid(tmp_path, source):
    path = tmp_path / "export.csv"
    path.write_text(export_text("wide", rows_written()))
    want = edge.profile_export(str(path)).availability(buckets=40)
    if source == "arrow":
        profile = edge.profile_export(table())
    elif source == "parquet":
        pq = pytest.importorskip("pyarrow.parquet")
        pq.write_table(table(), tmp_path / "export.parquet", row_group_size=50)
        profile = edge.profile_export(str(tmp_path / "export.parquet"))
    else:
        dd = pytest.importorskip("dask.dataframe")
        qd = companion_dask()
        profile = qd.profile_dataframe(dd.from_pandas(table().to_pandas(), npartitions=3))
    got = profile.availability(buckets=40)
    assert got.tags == TAGS and not got.note
    assert (got.start_us, got.bucket_us) == (want.start_us, want.bucket_us)
    assert (got.present, got.expected, got.shares) == (want.present, want.expected, want.shares)
    assert (got.low, got.high) == (want.low, want.high)
    page = profile.to_html()
    assert 'id="availability"' in page and "Not drawn" not in page
