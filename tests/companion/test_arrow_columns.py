"""Tables read from their Arrow buffers: the profile of the same data as CSV, and the digest of the
columns' canonical encoding (documented in EXPORT_PROFILE.md, "Tables")."""
import dataclasses
import datetime
import hashlib
import json
import math
import struct

import pytest

import qorv_chemical_engineering_edge as edge

pa = pytest.importorskip("pyarrow")

ROWS = 700  # past the opening the scanner reads as text: most rows come from the buffers
START = datetime.datetime(2024, 3, 1)


def _csv_float(v):
    if v is None:
        return ""
    if math.isnan(v):
        return "nan"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    return repr(v)


def _csv_text(v):
    if v is None:
        return ""
    if any(c in v for c in ',"\n\r'):
        return '"' + v.replace('"', '""') + '"'
    return v


FLOATS = [1.5, None, float("nan"), float("inf"), -2.25, float("-inf"), 0.0, -9999.0, 1e-7]
TEXTS = ["3.5", None, "Bad", "OPEN", " 12 ", "", "a,b", 'say "hi"', "Comm Fail", "1,234.5",
         "two\nlines", "<0.5", "ND", "I/O Timeout"]

# (name, Arrow type, the cells, their CSV text)
VALUE_COLUMNS = [
    ("float64", pa.float64(), FLOATS, _csv_float),
    ("float32", pa.float32(), [1.5, None, float("nan"), float("inf"), -2.25], _csv_float),
    ("int64", pa.int64(), [1, None, -3, 0, 2**40], lambda v: "" if v is None else str(v)),
    ("uint8", pa.uint8(), [1, None, 255], lambda v: "" if v is None else str(v)),
    ("int16", pa.int16(), [-7, None, 300], lambda v: "" if v is None else str(v)),
    ("bool", pa.bool_(), [True, None, False],
     lambda v: "" if v is None else ("True" if v else "False")),
    ("utf8", pa.string(), TEXTS, _csv_text),
    ("large_utf8", pa.large_string(), TEXTS, _csv_text),
    ("utf8_view", pa.string_view(), TEXTS + ["a text longer than twelve bytes"], _csv_text),
    ("dictionary", pa.dictionary(pa.int32(), pa.string()), TEXTS, _csv_text),
]

# (name, Arrow type, its CSV text of an instant)
TIME_COLUMNS = [
    ("naive_s", pa.timestamp("s"), lambda t: t.strftime("%Y-%m-%d %H:%M:%S")),
    ("utc_ms", pa.timestamp("ms", tz="UTC"), lambda t: t.strftime("%Y-%m-%d %H:%M:%S") + "Z"),
    ("zoned_us", pa.timestamp("us", tz="Europe/Berlin"),
     lambda t: t.strftime("%Y-%m-%d %H:%M:%S") + "Z"),
    ("date32", pa.date32(), lambda t: t.isoformat()),
]


def _rows(cells, gap_every=0, as_dates=False):
    times, values = [], []
    for i in range(ROWS):
        t = START + datetime.timedelta(minutes=i)
        if as_dates:
            t = (START + datetime.timedelta(days=i // 3)).date()  # repeated days: duplicates
        if gap_every and i % gap_every == gap_every - 1:
            times.append(None)  # a row whose time cell is empty: unparsed
        else:
            times.append(t)
        values.append(cells[(i * 7) % len(cells)])
    return times, values


def _same_data_as_csv(tmp_path, time_type, time_text, value_type, cells, text, batch_rows,
                      **options):
    times, values = _rows(cells, gap_every=97, as_dates=time_type == pa.date32())
    other = [float(i % 13) if i % 11 else None for i in range(ROWS)]
    table = pa.table({"Timestamp": pa.array(times, time_type),
                      "T1.PV": pa.array(values, value_type),
                      "T2.PV": pa.array(other, pa.float64())})
    path = tmp_path / "same.csv"
    sep = ";" if options.get("decimal") == "," else ","
    with open(path, "w", newline="") as f:
        f.write(sep.join(["Timestamp", "T1.PV", "T2.PV"]) + "\n")
        for t, v, o in zip(times, values, other):
            cells_text = ["" if t is None else time_text(t), text(v), _csv_float(o)]
            if sep == ";":
                cells_text[1:] = [c.replace(".", ",") if value_type in (
                    pa.float64(), pa.float32()) or i else c for i, c in enumerate(cells_text[1:])]
            f.write(sep.join(cells_text) + "\n")
    reader = pa.RecordBatchReader.from_batches(table.schema,
                                               table.to_batches(max_chunksize=batch_rows))
    from_table = edge.profile_export(reader, **options)
    from_csv = edge.profile_export(str(path), **options)
    return from_table, from_csv, str(path)


def _comparable(profile, path, label):
    notes = json.dumps(dataclasses.asdict(profile.notes), sort_keys=True, default=str)
    return (profile.values, profile.tags, notes.replace(path, label), profile.layout)


@pytest.mark.parametrize("time_name, time_type, time_text", TIME_COLUMNS,
                         ids=[t[0] for t in TIME_COLUMNS])
@pytest.mark.parametrize("value_name, value_type, cells, text", VALUE_COLUMNS,
                         ids=[v[0] for v in VALUE_COLUMNS])
def test_every_column_type_profiles_as_the_same_data_as_csv(tmp_path, time_name, time_type,
                                                            time_text, value_name, value_type,
                                                            cells, text):
    if time_name == "zoned_us":
        # Instants of a zoned column are written in UTC: the same text for the CSV.
        time_text = lambda t: (t.replace(tzinfo=datetime.timezone.utc)  # noqa: E731
                               .strftime("%Y-%m-%d %H:%M:%S") + "Z")
    table, csv, path = _same_data_as_csv(tmp_path, time_type, time_text, value_type, cells, text,
                                         batch_rows=250)
    assert _comparable(table, path, table.source[0]) == _comparable(csv, path, table.source[0])
    assert table.notes.unparsed_rows > 0  # the empty time cells were read as such


OPTIONS = [  # options whose rules read the value cells' text
    {"missing_values": [-9999.0, 0.0]},
    {"decimal": ","},
    {"tz": "Europe/Berlin"},
]


@pytest.mark.parametrize("options", OPTIONS, ids=["sentinels", "decimal_comma", "zone"])
def test_options_that_read_values_agree_with_csv(tmp_path, options):
    table, csv, path = _same_data_as_csv(tmp_path, pa.timestamp("s"),
                                         lambda t: t.strftime("%Y-%m-%d %H:%M:%S"), pa.float64(),
                                         FLOATS, _csv_float, batch_rows=ROWS, **options)
    assert _comparable(table, path, table.source[0]) == _comparable(csv, path, table.source[0])


# ---- the canonical encoding's digest ---------------------------------------------------------

def _u64(n):
    return struct.pack("<Q", n)


def canonical_digest(columns, group=8192):
    """The input digest of a table, from EXPORT_PROFILE.md's description alone: `columns` holds
    (name, format, width, [value bytes or None per row]); width 0 for text (the cell's bytes),
    -1 for booleans (b"\\x00" or b"\\x01")."""
    data = b"qce table columns\n" + b"v1\n" + _u64(len(columns))
    for name, fmt, _, _ in columns:
        data += _u64(len(name.encode())) + name.encode() + _u64(len(fmt)) + fmt.encode()

    def bitmap(bits):
        return bytes(sum(b << k for k, b in enumerate(bits[i:i + 8]))
                     for i in range(0, len(bits), 8))

    rows = len(columns[0][3])
    for first in range(0, rows, group):
        for _, _, width, cells in columns:
            part = cells[first:first + group]
            data += bitmap([c is not None for c in part])
            if width > 0:
                data += b"".join(bytes(width) if c is None else c for c in part)
            elif width < 0:
                data += bitmap([c == b"\x01" for c in part])
            else:
                data += b"".join(_u64(0 if c is None else len(c)) for c in part)
                data += b"".join(c for c in part if c is not None)
    block = 1 << 20
    blocks = [hashlib.sha256(data[i:i + block]).digest() for i in range(0, len(data), block)]
    file_digest = hashlib.sha256(b"".join(blocks)).digest()
    return hashlib.sha256(file_digest).hexdigest()


# The test vector of table_columns_v1 (its digest is written out in test_the_digest_test_vector).
VECTOR = {
    "Timestamp": pa.array([0, 60, 120, None], pa.timestamp("s")),
    "A": pa.array([1.5, None, float("nan"), -0.0], pa.float64()),
    "B": pa.array(["x", None, "", "Bad"], pa.string()),
    "C": pa.array([True, False, None, True], pa.bool_()),
}


def _vector_columns():
    nan = struct.pack("<d", float("nan"))
    return [
        ("Timestamp", "tss:", 8, [_u64(0), _u64(60), _u64(120), None]),
        ("A", "g", 8, [struct.pack("<d", 1.5), None, nan, struct.pack("<d", -0.0)]),
        ("B", "u", 0, [b"x", None, b"", b"Bad"]),
        ("C", "b", -1, [b"\x01", b"\x00", None, b"\x01"]),
    ]


def test_the_digest_test_vector():
    table = pa.table(VECTOR)
    profile = edge.profile_export(table, accept_unparsed_rows=True)
    assert profile.input_digest == canonical_digest(_vector_columns())
    assert profile.input_digest == \
        "81cc0d5f4f9eb18fe635b9987f9b80c9d7cb564160ae93f74fcb17dcb09be8b9"
    assert ("input_digest", "table_columns_v1") in [
        (r.name, r.value) for r in profile.files[0].reading]


def _digest(table, batch_rows=None):
    if batch_rows:
        table = pa.RecordBatchReader.from_batches(table.schema,
                                                  table.to_batches(max_chunksize=batch_rows))
    return edge.profile_export(table, accept_unparsed_rows=True).input_digest


CHANGES = [  # each changes one thing the encoding covers: the digest must change
    ("a value", lambda c: c.update(A=pa.array([1.5, None, float("nan"), 0.0], pa.float64()))),
    ("a validity", lambda c: c.update(B=pa.array(["x", "", "", "Bad"], pa.string()))),
    ("a name", lambda c: c.update(D=c.pop("C"))),
    ("a type", lambda c: c.update(B=pa.array(["x", None, "", "Bad"], pa.large_string()))),
    ("text split across cells", lambda c: c.update(
        B=pa.array(["x", None, "B", "ad"], pa.string()))),
]


@pytest.mark.parametrize("what, change", CHANGES, ids=[c[0] for c in CHANGES])
def test_the_digest_covers_names_types_validity_and_values(what, change):
    columns = dict(VECTOR)
    change(columns)
    assert _digest(pa.table(columns)) != _digest(pa.table(VECTOR))


def test_the_digest_is_the_same_for_any_batching_and_a_large_table():
    n = 150_000  # past one 1 MiB block and many row groups, nulls among them
    a = [None if i % 7 == 3 else float(i % 1000) / 8 for i in range(n)]
    b = [None if i % 5 == 1 else str(i % 37) for i in range(n)]
    big = pa.table({"Timestamp": pa.array(range(0, 60 * n, 60), pa.timestamp("s")),
                    "A": pa.array(a, pa.float64()), "B": pa.array(b, pa.string())})
    whole = _digest(big)
    assert _digest(big, batch_rows=4099) == whole  # cut anywhere
    times = [struct.pack("<q", t) for t in range(0, 60 * n, 60)]
    values = [None if v is None else struct.pack("<d", v) for v in a]
    texts = [None if v is None else v.encode() for v in b]
    columns = [("Timestamp", "tss:", 8, times), ("A", "g", 8, values), ("B", "u", 0, texts)]
    assert whole == canonical_digest(columns)
    # Arrays with offsets into their buffers (bitmaps not byte-aligned).
    assert _digest(big.slice(1003), batch_rows=4099) == canonical_digest(
        [(name, fmt, width, cells[1003:]) for name, fmt, width, cells in columns])
