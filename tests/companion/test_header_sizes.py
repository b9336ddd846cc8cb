"""Headers of any size on every path: the one-process profile, its report, the Arrow input and
Dask (files and data frames) read the same wide export and agree on what it holds.

An 18 MB header (1,500 tags with 12,000-byte names) is past every fixed bound the paths once had
on the opening bytes (16 MiB for the first line, 16 MiB for a Dask file's or data frame's
opening); the 1.4 MB one is a real wide export's size (few tags here: a data frame of many
columns is slow to build, not to profile).
"""
import pytest

import qorv_chemical_engineering_edge as edge
from dask_exports import companion_dask

pa = pytest.importorskip("pyarrow")

# (label, tags, bytes per tag name, rows): rows enough that a Dask file has pieces past its
# first, which resume from the opening.
HEADERS = [
    ("wide_1_4_mb", 4_000, 360, 400),
    ("long_names_18_mb", 1_500, 12_000, 400),
]


def names(tags, width):
    return [f"U{k:05d}.PV" + "x" * (width - 9) for k in range(tags)]


def cells(k, r):
    return "" if (k + r) % 7 == 0 else str((k * 3 + r) % 101)


@pytest.fixture(scope="module", params=HEADERS, ids=[h[0] for h in HEADERS])
def export(request, tmp_path_factory):
    label, tags, width, rows = request.param
    path = tmp_path_factory.mktemp(label) / f"{label}.csv"
    header = names(tags, width)
    with open(path, "w") as f:
        f.write("timestamp," + ",".join(header) + "\n")
        for r in range(rows):
            f.write(f"2024-01-01T{r // 60:02d}:{r % 60:02d}:00Z,"
                    + ",".join(cells(k, r) for k in range(tags)) + "\n")
    columns = {"timestamp": [f"2024-01-01T{r // 60:02d}:{r % 60:02d}:00Z" for r in range(rows)]}
    for k, name in enumerate(header):
        columns[name] = [float(c) if c else None for c in (cells(k, r) for r in range(rows))]
    return {"path": str(path), "tags": tags, "rows": rows, "header_bytes": len(
        "timestamp," + ",".join(header) + "\n"), "table": pa.table(columns)}


def from_file(e):
    return edge.profile_export(e["path"])


def report_of_file(e):
    profile = from_file(e)
    assert "U00000.PV" in profile.to_html()
    return profile


def from_arrow(e):
    return edge.profile_export(e["table"])


def report_of_arrow(e):
    profile = from_arrow(e)
    assert "U00000.PV" in profile.to_html()
    return profile


def from_dask_files(e):
    qd = companion_dask()
    profile = qd.profile_files(e["path"], chunk_bytes=1 << 20)
    # Pieces after the first resumed from the whole opening: the seal is the one-process one.
    assert profile.seal == from_file(e).seal
    return profile


def from_dask_frame(e):
    qd = companion_dask()
    dd = pytest.importorskip("dask.dataframe")
    frame = dd.from_pandas(e["table"].to_pandas(), npartitions=3)
    one = from_arrow(e)
    profile = qd.profile_dataframe(frame, label=one.source[0])
    # A frame's partitions are digested as the text they render to, a table as its columns'
    # canonical encoding: the values agree, the digests (and so the seals) do not.
    assert (profile.values, profile.tags, profile.notes) == (one.values, one.tags, one.notes)
    return profile


PATHS = [from_file, report_of_file, from_arrow, report_of_arrow, from_dask_files,
         from_dask_frame]


@pytest.mark.parametrize("path", PATHS, ids=[p.__name__ for p in PATHS])
def test_a_header_of_any_size_reads_on_every_path(export, path):
    assert export["header_bytes"] > 1_400_000
    profile = path(export)
    assert profile.values["n_tags"].value == export["tags"]
    assert profile.values["n_rows"].value == export["rows"]
    # Every seventh cell is empty: the cells were read, not only the header.
    empty = sum(1 for r in range(export["rows"]) for k in range(export["tags"])
                if (k + r) % 7 == 0)
    assert profile.values["missingness"].value == pytest.approx(empty / (export["rows"] * export["tags"]))
