"""Multi-file exports with the seams a distributed scan must rejoin exactly.

Each file is a little over 2 MiB, so 1 MiB ranges cut every file two or three times. The wide
export puts a quoted note with line feeds across every 1 MiB mark, so a range starts inside
quotes right after a quoted line feed (the one place the row-start guess is wrong).
"""
import datetime as dt
import random

MIB = 1 << 20
T0 = dt.datetime(2026, 3, 2)
STRADDLING_NOTE = '"' + ("drift, see log\n" * 400) + '"'  # 6 KB, quotes and line feeds inside


def _stamp(t):
    return t.strftime("%Y-%m-%d %H:%M:%S")


def _wide_file(path, rng, header, units, stamps):
    lines = [",".join(header), ",".join(units)]
    size = sum(len(x) + 1 for x in lines)
    for t in stamps:
        values = [f"{rng.gauss(50, 5):.3f}" if rng.random() > 0.02 else "" for _ in header[2:]]
        note = ""
        if (size + 8000) // MIB > size // MIB:  # the next mark is near: straddle it
            note = STRADDLING_NOTE
        row = ",".join([_stamp(t), note, *values])
        lines.append(row)
        size += len(row) + 1
    with open(path, "w", newline="") as file:
        file.write("\n".join(lines) + "\n")


def tricky_wide(folder, rows=38000, step_s=5):
    """Three files: B repeats A's last instant (duplicate across files), adds tag T6 (a tag in
    some files) and gives T2 another unit; C steps back 30 minutes (a clock change at the file
    boundary)."""
    rng = random.Random(11)
    step = dt.timedelta(seconds=step_s)
    a = [T0 + i * step for i in range(rows)]
    b = [a[-1] + i * step for i in range(rows)]
    c = [b[-1] - dt.timedelta(minutes=30) + i * step for i in range(rows)]
    tags = ["T1", "T2", "T3", "T4", "T5"]
    units = ["degC", "kPa", "kg/h", "m3/h", "bar"]
    files = [
        ("a.csv", ["Timestamp", "Note", *tags], ["Units", "", *units], a),
        ("b.csv", ["Timestamp", "Note", *tags, "T6"],
         ["Units", "", "degC", "bar", *units[2:], "kW"], b),
        ("c.csv", ["Timestamp", "Note", *tags], ["Units", "", *units], c),
    ]
    paths = []
    for name, header, unit_row, stamps in files:
        path = str(folder / name)
        _wide_file(path, rng, header, unit_row, stamps)
        paths.append(path)
    return paths


def tricky_long(folder, rows=14000, step_s=10):
    """Two long files: the second begins with the first's last records again and gives tag
    L2 another unit; tag L4 appears only in the second."""
    rng = random.Random(12)
    step = dt.timedelta(seconds=step_s)
    paths = []
    for k, (start, tags) in enumerate([(T0, ["L1", "L2", "L3"]),
                                       (T0 + (rows - 1) * step, ["L1", "L2", "L3", "L4"])]):
        lines = ["Tag,Timestamp,Value,Units"]
        for i in range(rows):
            stamp = _stamp(start + i * step)
            for tag in tags:
                unit = "bar" if (tag == "L2" and k == 1) else "kPa"
                lines.append(f"{tag},{stamp},{rng.gauss(10, 1):.4f},{unit}")
        path = str(folder / f"long{k}.csv")
        with open(path, "w", newline="") as file:
            file.write("\n".join(lines) + "\n")
        paths.append(path)
    return paths


def companion_dask():
    """The companion's Dask module, or a skip where Dask or distributed is not installed (the
    module itself raises a plain ImportError naming the extra, which pytest does not skip on)."""
    import pytest

    pytest.importorskip("dask.dataframe")
    pytest.importorskip("distributed")
    from qorv_chemical_engineering_edge import dask

    return dask
