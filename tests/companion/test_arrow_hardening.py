"""The Arrow reader against arrays that lie about their schema, the column types producers hand
in, instants at the int64 extremes, and headers or first rows larger than a block.

The streams are put together with ctypes (arrow_craft.py), so these tests need no Arrow library
and run in the sanitizer stage too; rows that need pyarrow or DuckDB skip without them.
"""
import datetime as dt
import gzip
import os
import re

import pytest

import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge import _native, _options
from qorv_chemical_engineering_edge.profile import _PROFILE_OPTIONS

from arrow_craft import (Batch, Col, Stream, array, bits, decimal_bytes, fixed_column, pack,
                         utf8, utf8_column)
from dask_exports import companion_dask
from isolated import run_isolated

HERE = os.path.dirname(os.path.abspath(__file__))
RENDER = _options.build(**{**{k: v for k, v in _PROFILE_OPTIONS.items() if k != "progress"},
                           "delimiter": ","})
STAMPS = [f"2026-01-01 00:{m:02d}:00" for m in range(3)]


def rendered(columns):
    """The export text the reader makes of a crafted table: its data lines' cells."""
    _, body = _native.render_table(Stream(columns).__arrow_c_stream__(), RENDER)
    return [line.split(",", 1) for line in body.decode().splitlines()]


# ---- arrays that disagree with their schema -------------------------------------------------
# Each builds a stream over columns TS (utf8 timestamps) and A; the reader must refuse it with a
# ValueError naming the column (or the batch), on the profile path and the Dask render path.
PRELUDE = f"""
import sys
sys.path.insert(0, {HERE!r})
from arrow_craft import *
import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge import _native
from test_arrow_hardening import RENDER
TS = utf8_column("Timestamp", {STAMPS!r})
A = utf8_column("A", ["1.5", "2", "3"])
def outcome(call):
    try:
        call()
    except ValueError as error:
        return "ValueError: " + str(error)
    except Exception as error:
        return type(error).__name__ + ": " + str(error)
    return "accepted"
"""

LIES = [
    ("fewer children than the schema",
     "Stream([TS, A], batches=[Batch([TS.array], 3)])", r"batch has 1 columns where its schema has 2"),
    ("a missing child array",
     "Stream([TS, A], batches=[Batch([TS.array, None], 3)])", r"column 'A': its array is missing"),
    ("a column shorter than its batch",
     "Stream([TS, A], batches=[Batch([TS.array, array(1, utf8([b'1']))], 3)])",
     r"column 'A': its array has 1 row where 3 rows"),
    ("a batch offset past its columns",
     "Stream([TS, A], batches=[Batch([TS.array, A.array], 3, offset=2)])",
     r"column 'Timestamp': its array has 3 rows where 5 rows"),
    ("a negative length",
     "Stream([TS, A], batches=[Batch([TS.array, array(-4, utf8([b'1']))], 3)])",
     r"column 'A': its length \(-4\) or offset"),
    ("two buffers for a string column",
     "Stream([TS, Col('A', 'u', array(3, utf8([b'1', b'2', b'3'])[:2]))])",
     r"column 'A': its array has 2 buffers where its type has 3"),
    ("child arrays under a string column",
     "Stream([TS, Col('A', 'u', array(3, utf8([b'1', b'2', b'3']), children=[TS.array]))])",
     r"column 'A': its array has 1 child arrays"),
    ("decreasing offsets",
     "Stream([TS, Col('A', 'u', array(3, [None, pack('i', [0, 900000, 1, 2]), b'xyz']))])",
     r"column 'A': its offsets decrease"),
    ("a negative first offset",
     "Stream([TS, Col('A', 'u', array(3, [None, pack('i', [-1000000, 0, 1, 2]), b'xy']))])",
     r"column 'A': its offsets are negative"),
    ("no values buffer",
     "Stream([TS, Col('A', 'g', array(3, [None, None]))])", r"column 'A': .*values buffer is missing"),
    ("nulls without a validity bitmap",
     "Stream([TS, Col('A', 'g', array(3, [None, pack('d', [1, 2, 3])], null_count=2))])",
     r"column 'A': .*announces 2 nulls"),
    ("a dictionary column without its dictionary",
     "Stream([TS, Col('A', 'i', array(3, [None, pack('i', [0, 1, 0])]), dictionary_fmt='u')])",
     r"column 'A': its dictionary is missing"),
    ("a dictionary index past the dictionary",
     "Stream([TS, Col('A', 'i', array(3, [None, pack('i', [0, 70000, 1])], "
     "dictionary=array(2, utf8([b'1', b'2']))), dictionary_fmt='u')])",
     r"column 'A': row 1 has dictionary index 70000 outside its dictionary of 2 values"),
    ("a view past its data buffers",
     "Stream([TS, Col('A', 'vu', array(3, [None, pack('i', [20, 0, 0, 0]) * 3, b'x' * 20, "
     "pack('q', [4])]))])",
     r"column 'A': row 0 points outside its data buffers"),
    ("a column type missing from the schema",
     "Stream([TS, Col('A', None, A.array)])", r"column 2 is missing its type"),
]


@pytest.mark.parametrize("build,message", [case[1:] for case in LIES],
                         ids=[case[0] for case in LIES])
def test_arrays_that_lie_about_their_schema_are_refused(build, message):
    done = run_isolated(PRELUDE + f"""
print(outcome(lambda: edge.profile_export({build})))
print(outcome(lambda: _native.render_table({build}.__arrow_c_stream__(), RENDER)))
""")
    assert done.returncode == 0, done.stderr[-3000:]
    lines = done.stdout.splitlines()
    assert len(lines) == 2, done.stdout
    for line in lines:
        assert line.startswith("ValueError: ") and re.search(message, line), line


# ---- column types ---------------------------------------------------------------------------
# (format, values buffer, the cells the reader writes)
TYPES = [
    ("d:18,3", decimal_bytes([1500, -1, 0, 10**17 + 7], 16), ["1.500", "-0.001", "0.000",
                                                             "100000000000000.007"]),
    ("d:38,0,128", decimal_bytes([2**127 - 1, -(2**127), 12, -12], 16),
     [str(2**127 - 1), str(-(2**127)), "12", "-12"]),
    ("d:76,10,256", decimal_bytes([10**75 + 1, -(2**255), 5, -(10**10)], 32),
     ["1" + "0" * 65 + ".0000000001", "-" + str(2**255)[:-10] + "." + str(2**255)[-10:],
      "0.0000000005", "-1.0000000000"]),
    ("d:9,-2,32", decimal_bytes([15, -1, 0, 2**31 - 1], 4), ["1500", "-100", "0",
                                                            str(2**31 - 1) + "00"]),
    ("d:18,2,64", decimal_bytes([-(2**63), 1, 99, -99], 8),
     ["-92233720368547758.08", "0.01", "0.99", "-0.99"]),
    ("e", pack("H", [0x2E66, 0x3C00, 0x8001, 0xFBFF]), ["0.1", "1", "-6e-08", "-65500"]),
    ("tts", pack("i", [3723, 0, -1, 86399]), ["3723", "0", "-1", "86399"]),
    ("ttm", pack("i", [3723500, 1, 10, -2**31]), ["3723.5", "0.001", "0.01", "-2147483.648"]),
    ("ttu", pack("q", [1, 10**6, 2**63 - 1, 0]), ["0.000001", "1", "9223372036854.775807", "0"]),
    ("ttn", pack("q", [1, -(2**63), 1500000000, 10]),
     ["0.000000001", "-9223372036.854775808", "1.5", "0.00000001"]),
    ("tDs", pack("q", [-(2**63), 60, 0, 1]), [str(-(2**63)), "60", "0", "1"]),
    ("tDm", pack("q", [1, 1000, -1500, 2**63 - 1]), ["0.001", "1", "-1.5", "9223372036854775.807"]),
    ("tDu", pack("q", [1, 123456789, -1, 0]), ["0.000001", "123.456789", "-0.000001", "0"]),
    ("tDn", pack("q", [1, 123456789, -1, 0]), ["0.000000001", "0.123456789", "-0.000000001", "0"]),
]


@pytest.mark.parametrize("fmt,values,cells", TYPES, ids=[t[0] for t in TYPES])
def test_numeric_columns_are_written_exactly(fmt, values, cells):
    stamps = STAMPS + ["2026-01-01 00:03:00"]
    table = [utf8_column("Timestamp", stamps), Col("X", fmt, array(4, [None, values]))]
    assert [row[1] for row in rendered(table)] == cells
    profile = edge.profile_export(Stream(table))
    assert [(t.name, t.numeric, t.present) for t in profile.tags] == [("X", True, 4)]


BINARY = [
    ("z", [b"1.5", b'say "hi"', "é".encode(), b""], ["1.5", '"say ""hi"""', "é", ""]),
    ("Z", [b"a,b", b"2", b"", b"x"], ['"a,b"', "2", "", "x"]),
]


@pytest.mark.parametrize("fmt,texts,cells", BINARY, ids=[b[0] for b in BINARY])
def test_binary_columns_are_text_where_utf8(fmt, texts, cells):
    stamps = STAMPS + ["2026-01-01 00:03:00"]
    table = [utf8_column("Timestamp", stamps), Col("B", fmt, array(4, utf8(texts, fmt == "Z")))]
    assert [row[1] for row in rendered(table)] == [c for c in cells]
    broken = [utf8_column("Timestamp", stamps),
              Col("B", fmt, array(4, utf8(texts[:2] + [b"\xff\xfe", b"\xed\xa0\x80"], fmt == "Z")))]
    with pytest.raises(ValueError, match=r"column 'B': row 2 holds binary data that is not UTF-8"):
        edge.profile_export(Stream(broken))


def test_binary_views_are_checked_as_text():
    long = "é" * 10  # 20 bytes: kept in a data buffer
    views = pack("i", [3]) + b"1.5" + b"\0" * 9 + pack("i", [20, 0, 0, 0])
    table = [utf8_column("Timestamp", STAMPS[:2]),
             Col("B", "vz", array(2, [None, views, long.encode(), pack("q", [20])]))]
    assert [row[1] for row in rendered(table)] == ["1.5", long]
    bad = [table[0], Col("B", "vz", array(2, [None, views, b"\xc3" * 20, pack("q", [20])]))]
    with pytest.raises(ValueError, match=r"column 'B': row 1 holds binary data that is not UTF-8"):
        edge.profile_export(Stream(bad))


def test_duckdb_numeric_and_time_columns():
    duckdb = pytest.importorskip("duckdb")
    pytest.importorskip("pyarrow")
    result = duckdb.sql(
        "SELECT TIMESTAMP '2026-01-01 00:00:00' + INTERVAL (i) MINUTE AS Timestamp, "
        "1.5 + i AS lit, (i * 1.25)::NUMERIC(18,3) AS num, (i * 10)::HUGEINT AS huge, "
        "TIME '01:02:03.5' + INTERVAL (i) SECOND AS t, (i || '.5')::BLOB AS b "
        "FROM range(5) r(i)")
    profile = edge.profile_export(result.arrow())
    assert [(t.name, t.numeric, t.present) for t in profile.tags] == [
        (name, True, 5) for name in ("lit", "num", "huge", "t", "b")]


def test_pyarrow_numeric_and_binary_columns():
    pa = pytest.importorskip("pyarrow")
    import decimal
    import numpy as np
    n = 5
    columns = {
        "Timestamp": pa.array([dt.datetime(2026, 1, 1, 0, m) for m in range(n)]),
        "half": pa.array(np.arange(n, dtype=np.float16) / 4),
        "d256": pa.array([decimal.Decimal(f"{m}.25") for m in range(n)], pa.decimal256(40, 2)),
        "dur": pa.array([m * 1500 for m in range(n)], pa.duration("ms")),
        "t32": pa.array([m * 1000 for m in range(n)], pa.time32("ms")),
        "lbin": pa.array([f"{m}.5".encode() for m in range(n)], pa.large_binary()),
        "dict": pa.array([decimal.Decimal(f"{m % 2}.5") for m in range(n)],
                         pa.decimal128(5, 1)).dictionary_encode(),
    }
    polars = pytest.importorskip("polars")
    nulls = polars.DataFrame({"Timestamp": [f"2026-01-01 00:0{m}:00" for m in range(n)],
                              "half": [0.5] * n, "none": [None] * n})
    assert edge.profile_export(nulls).values["n_rows"].value == n  # a null column with a buffer
    if hasattr(pa, "binary_view"):
        columns["bview"] = pa.array([f"{m}.75".encode() for m in range(n)], pa.binary_view())
    profile = edge.profile_export(pa.table(columns))
    assert [(t.name, t.numeric, t.present) for t in profile.tags] == [
        (name, True, n) for name in list(columns)[1:]]


# ---- instants at the extremes -----------------------------------------------------------------

def instant_text(value, per_second, zoned, date_only=False):
    """The reader's text of an instant, from Python's calendar: years outside 1..9999 are moved
    by whole 400-year cycles (146097 days) into its range and back."""
    seconds, fraction = divmod(value, per_second)
    days, of_day = divmod(seconds, 86400)
    cycles, ordinal = divmod(days + 719162, 146097)
    day = dt.date.fromordinal(ordinal + 1)
    year = day.year + 400 * cycles
    text = ("-" if year < 0 else "") + f"{abs(year):04d}-{day.month:02d}-{day.day:02d}"
    if date_only:
        return text
    text += f" {of_day // 3600:02d}:{of_day // 60 % 60:02d}:{of_day % 60:02d}"
    if fraction:
        text += "." + str(fraction).rjust(len(str(per_second)) - 1, "0")
    return text + ("Z" if zoned else "")


I64 = (-(2**63), 2**63 - 1)
EXTREMES = [
    (f"ts{unit}:{zone}", per_second, values)
    for unit, per_second in (("s", 1), ("m", 1000), ("u", 10**6), ("n", 10**9))
    for zone in ("", "UTC")
    for values in [[*I64, -9223372036854775807, 0]]  # pandas' earliest instant is int64 min + 1
] + [
    # the edges of 0001..9999, and years 0 and -1 (a sign before four digits)
    ("tss:", 1, [-62135596800, 253402300799, -62135596801, 253402300800, -62198755200]),
    ("tsu:Europe/Berlin", 10**6, [-62135596800 * 10**6, 253402300799999999, -1, 1]),
    ("tdD", 86400, [-(2**31), 2**31 - 1, -719162, 2932896]),
    ("tdm", 86400000, [*I64, -719162 * 86400000, 2932896 * 86400000 + 1]),
]


@pytest.mark.parametrize("fmt,per_second,values", EXTREMES, ids=[e[0] for e in EXTREMES])
def test_extreme_instants_are_exact_or_unparsed(fmt, per_second, values):
    # Three ordinary instants (2026-01-01, a day apart) first, so that the table is an export.
    day = 20454 * 86400
    if fmt.startswith("td"):  # dates: date32 counts days, date64 milliseconds
        scale = 1 if fmt == "tdD" else 86400000
        column = fixed_column("Timestamp", fmt, "i" if fmt == "tdD" else "q",
                              [(20454 + k) * scale for k in range(3)] + values)
        expected = [instant_text(v // scale * 86400, 1, False, True) for v in column_values(column)]
    else:
        column = fixed_column("Timestamp", fmt, "q",
                              [(day + k * 86400) * per_second for k in range(3)] + values)
        expected = [instant_text(v, per_second, len(fmt) > 4) for v in column_values(column)]
    table = [column, utf8_column("A", ["1"] * (3 + len(values)))]
    assert [row[0] for row in rendered(table)] == expected
    # Years 1..9999 are instants; any other makes a row with an unparsed timestamp, as in a CSV.
    outside = sum(not re.match(r"\d{4}-", text) or text.startswith("0000") for text in expected)
    assert edge.profile_export(Stream(table), accept_unparsed_rows=True).notes.unparsed_rows == outside


def column_values(column):
    import struct
    data = column.array.buffers[1]
    return list(struct.unpack(f"<{column.array.length}{'i' if len(data) == 4 * column.array.length else 'q'}", data))


# ---- a header or a first row larger than a block, on every input path ------------------------
MIB = 1 << 20
MINUTES = [f"2026-01-01 00:{m:02d}:00" for m in range(40)]
BIG = {
    # 600 tags with names of 2000 characters: a header of 1.2 MB
    "1.2 MB header": [("Timestamp", MINUTES)] + [
        (f"AREA{i:03d}." + "X" * 1990 + f".{i:03d}", ["1.5"] * 40) for i in range(600)],
    "2 MiB first cell": [("Timestamp", ["x" * (2 * MIB)] + MINUTES[1:]), ("A", ["1.5"] * 40)],
    "2 MiB cell in the first row": [("Timestamp", MINUTES), ("A", ["y" * (2 * MIB)] + ["2"] * 39)],
}


def dask_files(path):
    qd = companion_dask()
    return qd.profile_files(path, chunk_bytes=MIB, split_every=2)


def dask_frame(table):
    qd = companion_dask()
    dd = pytest.importorskip("dask.dataframe")
    pd = pytest.importorskip("pandas")
    pytest.importorskip("pyarrow")
    frame = pd.DataFrame({name: cells for name, cells in table}, dtype=object)
    return qd.profile_dataframe(dd.from_pandas(frame, npartitions=3))


READERS = {
    "csv": lambda path, table: edge.profile_export(path),
    "gz": lambda path, table: edge.profile_export(gzipped(path)),
    "arrow": lambda path, table: edge.profile_export(Stream([utf8_column(n, c) for n, c in table])),
    "dask": lambda path, table: dask_files(path),
    "dask frame": lambda path, table: dask_frame(table),
}


def gzipped(path):
    with open(path, "rb") as plain, gzip.open(path + ".gz", "wb") as packed:
        packed.write(plain.read())
    return path + ".gz"


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("case", BIG)
def test_large_header_and_first_row_on_every_reader(case, reader, tmp_path):
    table = BIG[case]
    path = str(tmp_path / "export.csv")
    with open(path, "w") as file:
        file.write(",".join(name for name, _ in table) + "\n")
        for row in zip(*(cells for _, cells in table)):
            file.write(",".join(row) + "\n")
    expected = edge.profile_export(path)
    profile = READERS[reader](path, table)
    assert profile.values == expected.values
    assert profile.tags == expected.tags
    assert profile.notes.unparsed_rows == expected.notes.unparsed_rows
    if reader == "arrow":  # a table's digest is over its columns, not the file's text
        assert profile.input_digest != expected.input_digest
        assert ("input_digest", "table_columns_v1") in [
            (r.name, r.value) for r in profile.files[0].reading]


# ---- a stream implemented in Python ---------------------------------------------------------

def test_a_failing_python_stream_keeps_its_error_through_release():
    released = []
    table = [utf8_column("Timestamp", STAMPS), utf8_column("A", ["1", "2", "3"])]
    stream = Stream(table, fail_next=True, on_release=lambda: released.append(sum(range(10))))
    with pytest.raises(ValueError, match=r"the Arrow stream failed: error code 5"):
        edge.profile_export(stream)
    broken = Stream(table, batches=[Batch([table[0].array], 3)],
                    on_release=lambda: released.append(sum(range(10))))
    with pytest.raises(ValueError, match=r"1 columns where its schema has 2"):
        _native.render_table(broken.__arrow_c_stream__(), RENDER)
    assert released == [45, 45]
