"""Tables through the Arrow C stream interface give the profile of the CSV they came from."""
import pytest

import qorv_chemical_engineering_edge as edge
from export_files import write_export


def same_profile(table_profile, csv_profile):
    assert table_profile.profile_arguments == csv_profile.profile_arguments
    assert [(t.name, t.unit, t.samples, t.present, t.missing) for t in table_profile.tags] == [
        (t.name, t.unit, t.samples, t.present, t.missing) for t in csv_profile.tags]
    assert table_profile.notes.bad_state_texts == csv_profile.notes.bad_state_texts


@pytest.fixture(params=[
    {"rows": 200, "tags": 5},
    {"rows": 120, "tags": 3, "unit_row": False, "outage": (10, 30)},
    {"layout": "long", "rows": 50, "tags": 4},
])
def export(request, tmp_path):
    path = tmp_path / "export.csv"
    write_export(path, 7, **request.param)
    return str(path)


def test_pyarrow_table_of_strings(export):
    pa = pytest.importorskip("pyarrow")
    pacsv = pytest.importorskip("pyarrow.csv")
    with open(export) as file:
        header = file.readline().rstrip("\n").split(",")
    table = pacsv.read_csv(export, convert_options=pacsv.ConvertOptions(
        column_types={name: pa.string() for name in header}))
    same_profile(edge.profile_export(table), edge.profile_export(export))


def test_pyarrow_typed_columns_and_batches(export):
    pa = pytest.importorskip("pyarrow")
    pacsv = pytest.importorskip("pyarrow.csv")
    table = pacsv.read_csv(export)  # typed by inference: floats, timestamps, strings
    reader = pa.RecordBatchReader.from_batches(table.schema, table.to_batches(max_chunksize=17))
    same_profile(edge.profile_export(reader), edge.profile_export(export))


def test_polars(export):
    pl = pytest.importorskip("polars")
    frame = pl.read_csv(export, infer_schema=False)
    same_profile(edge.profile_export(frame), edge.profile_export(export))
    typed = pl.read_csv(export, try_parse_dates=True, infer_schema_length=None)
    same_profile(edge.profile_export(typed), edge.profile_export(export))


def test_pandas(export):
    pd = pytest.importorskip("pandas")
    pytest.importorskip("pyarrow")
    frame = pd.read_csv(export, dtype=str, keep_default_na=False)
    if not hasattr(frame, "__arrow_c_stream__"):
        pytest.skip("pandas before 2.2 offers no Arrow stream")
    same_profile(edge.profile_export(frame), edge.profile_export(export))


def test_parquet_file(export, tmp_path):
    pq = pytest.importorskip("pyarrow.parquet")
    pacsv = pytest.importorskip("pyarrow.csv")
    path = tmp_path / "export.parquet"
    pq.write_table(pacsv.read_csv(export), path, row_group_size=33)
    profile = edge.profile_export(str(path))
    same_profile(profile, edge.profile_export(export))
    assert profile.source == (str(path),)


def test_dictionary_and_view_columns(export):
    pa = pytest.importorskip("pyarrow")
    pacsv = pytest.importorskip("pyarrow.csv")
    table = pacsv.read_csv(export, convert_options=pacsv.ConvertOptions(
        column_types={}, auto_dict_encode=True, auto_dict_max_cardinality=10**6))
    views = pa.table({n: table[n].cast(pa.string()).cast(pa.string_view())
                      if pa.types.is_string(table[n].type) else table[n]
                      for n in table.column_names}) if hasattr(pa, "string_view") else table
    for candidate in (table, views):
        same_profile(edge.profile_export(candidate), edge.profile_export(export))


def test_unsupported_column_type_is_named():
    pa = pytest.importorskip("pyarrow")
    table = pa.table({"Timestamp": ["2026-01-01 00:00:00"],
                      "A": pa.array([[1, 2]], type=pa.list_(pa.int64()))})
    with pytest.raises(TypeError, match="'A'"):
        edge.profile_export(table)


def test_a_consumed_stream_is_refused():
    pa = pytest.importorskip("pyarrow")
    table = pa.table({"Timestamp": ["2026-01-01 00:00:00"], "A": ["1"]})

    class Once:
        capsule = table.__arrow_c_stream__()

        def __arrow_c_stream__(self, requested_schema=None):
            return self.capsule

    once = Once()
    edge.profile_export(once)
    with pytest.raises(ValueError, match="consumed"):
        edge.profile_export(once)


def test_blocks_and_quoted_cells_across_block_edges(tmp_path):
    pa = pytest.importorskip("pyarrow")
    pacsv = pytest.importorskip("pyarrow.csv")
    import random
    rng = random.Random(5)
    rows = 40_000  # several MiB of text: many blocks, cut inside rows and quoted cells
    texts = ["1.5", "-2e3", "Bad Input", 'say "hi"', "a,b", "line\nbreak", "", "OPEN"]
    table = pa.table({
        "Timestamp": [f"2026-01-01 {h // 60 % 24:02d}:{h % 60:02d}:{s:02d}"
                      for h, s in ((i // 60, i % 60) for i in range(rows))],
        **{f"T{c}.PV": [rng.choice(texts) if rng.random() < 0.3 else f"{rng.random():.4f}"
                        for _ in range(rows)] for c in range(6)},
    })
    path = tmp_path / "written.csv"
    pacsv.write_csv(table, path)
    from_file = edge.profile_export(str(path))
    one, many = edge.profile_export(table, threads=1), edge.profile_export(table, threads=3)
    same_profile(one, from_file)
    assert (one.tags, one.input_digest, one.notes) == (many.tags, many.input_digest, many.notes)
    assert one.notes.input_digest_complete
