"""The identity guarantee on a two-process LocalCluster: files, byte ranges and Parquet
partitions give the one-process profile, seal and court_hash; a killed worker changes nothing;
bad input is refused by name. Cluster start-up takes a few seconds, once per module."""
import dataclasses
import gzip
import os

import pytest

distributed = pytest.importorskip("distributed")
import dask  # noqa: E402

import qorv_chemical_engineering_edge as edge  # noqa: E402
from qorv_chemical_engineering_edge import dask as qd  # noqa: E402

from dask_exports import MIB, tricky_long, tricky_wide  # noqa: E402


def without_digest(profile):
    return dataclasses.replace(profile, input_digest="", seal="", files=tuple(
        dataclasses.replace(f, bytes=0, reading=()) for f in profile.files))


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster, set_as_default=False) as c:
            yield c


@pytest.fixture(scope="module")
def exports(tmp_path_factory):
    folder = tmp_path_factory.mktemp("exports")
    wide = tricky_wide(folder)
    packed = str(folder / "b.csv.gz")  # a gzip file is one task, whatever its size
    with open(wide[1], "rb") as plain, open(packed, "wb") as out:
        out.write(gzip.compress(plain.read(), mtime=0))
    return {"wide": wide, "long": tricky_long(folder), "gzip": [wide[0], packed, wide[2]]}


def test_the_seams_are_in_the_exports(exports):
    wide = edge.profile_export(exports["wide"])
    assert wide.values["duplicate_timestamps"].value > 0
    assert [f for f, _, _ in wide.notes.clock_changes] == [exports["wide"][2]]
    assert wide.notes.unit_disagreements == (("T2", "kPa", "bar"),)
    assert wide.values["n_tags"].value == 7  # T6 is only in b.csv
    long = edge.profile_export(exports["long"])
    assert long.notes.unit_disagreements == (("L2", "kPa", "bar"),)
    assert long.values["duplicate_timestamps"].value > 0


@pytest.mark.parametrize("layout", ["wide", "long", "gzip"])
@pytest.mark.parametrize("chunk, split_every", [(qd.DEFAULT_CHUNK, 8), (MIB, 8), (MIB, 2)],
                         ids=["files", "ranges", "ranges-deep-tree"])
def test_any_split_gives_the_one_process_report(client, exports, layout, chunk, split_every):
    paths = exports[layout]
    expected = edge.grade_export(paths, license_cleared=True)
    report = qd.grade_files(paths, client=client, chunk_bytes=chunk, split_every=split_every,
                            license_cleared=True)
    assert report.profile == expected.profile  # values, tags, notes, files, digest, seal
    assert report.profile.notes.input_digest_complete
    assert report.court_hash == expected.court_hash


def test_parquet_partitions_give_the_one_process_report(client, exports, tmp_path):
    pa = pytest.importorskip("pyarrow")
    pq = pytest.importorskip("pyarrow.parquet")
    dd = pytest.importorskip("dask.dataframe")
    columns = {"Timestamp": pa.array([i * 60_000_000 for i in range(60_000)],
                                     type=pa.timestamp("us")),
               "Note": pa.array(['say "hi"\nthere' if i % 997 == 0 else "" for i in range(60_000)])}
    for k in range(6):
        columns[f"FIC{k}.PV"] = pa.array([None if (i + k) % 53 == 0 else i * 0.25 + k
                                          for i in range(60_000)])
    whole = pa.table(columns)
    pq.write_table(whole, tmp_path / "w.parquet", row_group_size=7_000)
    frame = dd.read_parquet(tmp_path / "w.parquet", split_row_groups=True)
    assert frame.npartitions > 4
    expected = edge.grade_export(str(tmp_path / "w.parquet"), license_cleared=True)
    got = qd.grade_dataframe(frame, client=client, label=expected.profile.source[0],
                             license_cleared=True)
    # Partitions are digested as their text, a table as its columns: all but the digest agree.
    assert without_digest(got.profile) == without_digest(expected.profile)
    assert got.court_hash == expected.court_hash
    assert expected.profile.notes.input_digest_complete and len(expected.profile.tags) == 7


ARM = """
import os
from qorv_chemical_engineering_edge import dask as qd
original = qd._scan
def dying(piece, options, inside=None):
    if piece["start"] == {start} and piece["path"] == {path!r}:
        try:
            os.close(os.open({marker!r}, os.O_CREAT | os.O_EXCL))
        except FileExistsError:
            return original(piece, options, inside)
        os._exit(1)  # once, mid-run: the nanny restarts the worker and the task is retried
    return original(piece, options, inside)
qd._scan = dying
"""


def test_a_worker_killed_mid_run_changes_nothing(client, exports, tmp_path):
    paths = exports["wide"]
    marker = str(tmp_path / "killed")
    client.run(exec, ARM.format(start=MIB, path=paths[1], marker=marker), {})
    got = qd.profile_files(paths, client=client, chunk_bytes=MIB)
    assert os.path.exists(marker)  # the worker did die
    assert got == edge.profile_export(paths)


def test_bad_input_is_refused_by_name(client, exports, tmp_path):
    paths = exports["wide"]
    missing = str(tmp_path / "gone.csv")
    with pytest.raises(FileNotFoundError, match="gone.csv"):
        qd.profile_files([paths[0], missing, paths[1]], client=client)
    with pytest.raises(FileNotFoundError, match="nothing-\\*.csv"):
        qd.profile_files(str(tmp_path / "nothing-*.csv"), client=client)
    prose = tmp_path / "notes.csv"
    prose.write_text("this is not,an export\n" * 10)
    big_prose = tmp_path / "big_notes.csv"
    big_prose.write_text("this is not,an export\n" * 200_000)  # split: refused by the driver
    for bad in (prose, big_prose):
        with pytest.raises(ValueError, match=bad.name):
            qd.profile_files([paths[0], str(bad)], client=client, chunk_bytes=MIB)
    with client.as_current():  # the active client, found without being named
        with pytest.raises(ValueError, match=prose.name):
            qd.profile_files([paths[0], str(prose)])
    with dask.config.set({"distributed.comm.timeouts.connect": "1s"}):
        with pytest.raises(ConnectionError, match="tcp://127.0.0.1:9"):
            qd.profile_files(paths, client="tcp://127.0.0.1:9")


@pytest.mark.parametrize("command", ["profile", "readiness"])
def test_the_cli_takes_a_glob_and_a_scheduler(client, exports, capsys, command):
    from qorv_chemical_engineering_edge import cli

    pattern = os.path.join(os.path.dirname(exports["wide"][0]), "[abc].csv")
    outputs = []
    for extra in ([], ["--scheduler", client.scheduler.address]):
        code = cli.main([command, pattern, "--json", "-", *extra])
        outputs.append((code, capsys.readouterr().out))
    assert outputs[0] == outputs[1]
    outputs = outputs[0][1]
    assert '"seal"' in outputs and exports["wide"][2] in outputs


def test_urls_are_read_through_fsspec(client, exports):
    urls = {k: ["file://" + os.path.abspath(p) for p in v] for k, v in exports.items()}
    # Same bytes under other names: the seal holds no file name unless a note does.
    long = qd.profile_files(urls["long"], client=client, chunk_bytes=MIB)
    assert long.seal == edge.profile_export(exports["long"]).seal
    wide = qd.profile_files(urls["wide"], client=client, chunk_bytes=MIB)  # quotes across cuts
    expected = edge.profile_export(exports["wide"])
    assert (wide.values, wide.tags, wide.input_digest) == \
        (expected.values, expected.tags, expected.input_digest)
    packed = qd.profile_files(urls["gzip"], client=client)
    assert packed.values == expected.values
