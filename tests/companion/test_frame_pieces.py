"""A data frame's partitions cut into pieces by the native plan: empty partitions, partitions
shorter than a block and partitions that start exactly on a block give the one-process profile,
and the plan refuses partition facts it cannot use, by name."""
import dataclasses
import re

import pytest

from qorv_chemical_engineering_edge import _native


def without_digest(profile):
    return dataclasses.replace(profile, input_digest="", seal="", files=tuple(
        dataclasses.replace(f, bytes=0, reading=()) for f in profile.files))

BLOCK = _native.DIGEST_BLOCK
ROW = 64  # every rendered row, and the header, is this long: partitions end where a test says
HEADER_NOTE = "Note" + "x" * 41  # "Timestamp,FIC1.PV," + this + "\n" is ROW bytes
ROWS_PER_BLOCK = BLOCK // ROW

# (name, rows per partition). The header counts as one row of the first block.
LAYOUTS = [
    ("empty_first_and_middle", [0, ROWS_PER_BLOCK - 1, 0, ROWS_PER_BLOCK, 0]),
    ("starts_exactly_on_blocks", [ROWS_PER_BLOCK - 1, ROWS_PER_BLOCK, ROWS_PER_BLOCK, 7]),
    ("shorter_than_a_block", [10, 20, 30, ROWS_PER_BLOCK, 5, ROWS_PER_BLOCK + 3, 1]),
    ("blocks_inside_partitions", [3 * ROWS_PER_BLOCK + 11, 2, ROWS_PER_BLOCK, 5]),
]


def frame(rows):
    pd = pytest.importorskip("pandas")
    # Every 97th note is quoted with a line feed inside, so quotes cross partition starts.
    notes = ["say\n" + "q" * 33 if r % 97 == 0 else "n" * 39 for r in range(rows)]
    return pd.DataFrame({
        "Timestamp": pd.date_range("2024-01-01", periods=rows, freq="min"),
        "FIC1.PV": [1.5 if r % 13 else 2.5 for r in range(rows)],
        HEADER_NOTE: notes,
    })


@pytest.mark.parametrize("sizes", [s for _, s in LAYOUTS], ids=[n for n, _ in LAYOUTS])
def test_partitions_give_the_one_process_profile(sizes):
    dd = pytest.importorskip("dask.dataframe")
    pytest.importorskip("pyarrow")
    import dask

    from qorv_chemical_engineering_edge import dask as qd, profile_export

    whole = frame(sum(sizes))
    header, body = qd._render(whole, qd._build_options({}, None, None, table=True))
    assert len(header) == ROW and len(body) == ROW * len(whole)  # the layout is as meant
    bounds = [sum(sizes[:k]) for k in range(len(sizes) + 1)]
    parts = [dask.delayed(whole.iloc[a:b].reset_index(drop=True))
             for a, b in zip(bounds, bounds[1:])]
    ddf = dd.from_delayed(parts, meta=whole.iloc[:0], verify_meta=False)
    assert ddf.npartitions == len(sizes)
    # Partitions are digested as their text, a table as its columns: all but the digest agree,
    # and each names its digest's kind as a file would (a frame, like a file, names none).
    from_frame, from_table = qd.profile_dataframe(ddf), profile_export(whole)
    assert without_digest(from_frame) == without_digest(from_table)
    kinds = [[r.value for r in p.files[0].reading if r.name == "input_digest"]
             for p in (from_frame, from_table)]
    assert kinds == [[], ["table_columns_v1"]]


PARTS = [
    # (parts, error type, message)
    ([(-1, False)], ValueError, "part 0 has a negative or too large length"),
    ([(10, False), (1 << 64, False)], ValueError, "part 1 has a negative or too large length"),
    ([("10", False)], TypeError, "part 0 is not a (length, quotes odd) pair"),
    ([(10,)], TypeError, "part 0 is not a (length, quotes odd) pair"),
    ([(10, False), [3, True]], TypeError, "part 1 is not a (length, quotes odd) pair"),
]


@pytest.mark.parametrize("parts,error,message", PARTS)
def test_the_plan_refuses_unusable_partition_facts(parts, error, message):
    for call in (lambda: _native.plan_parts(b"t,a\n", parts),
                 lambda: _native.part_heads(4, parts, 100)):
        with pytest.raises(error, match=re.escape(message)):
            call()
