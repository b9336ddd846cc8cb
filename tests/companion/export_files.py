"""Small historian exports written by the tests: wide or long, with the faults real ones have.

`write_export(path, seed, **knobs)` writes one CSV and returns what was put in, so a test can
check the profile against it. Deterministic for a seed.
"""
import datetime as dt
import gzip
import random

BAD_STATES = ["I/O Timeout", "Bad Input", "Shutdown", "Calc Failed", "No Data"]
UNITS = ["degC", "kPa", "kg/h", "m3/h", "%", "bar", "K", "mol%", "kW", "furlong", ""]
SUFFIXES = ["PV", "SP", "OP"]


def tag_names(n):
    return [f"FIC{100 + i // 3}.{SUFFIXES[i % 3]}" if i % 4 else f"TI{200 + i}" for i in range(n)]


def write_export(path, seed, *, layout="wide", rows=120, tags=5, step_s=60, empty=0.03,
                 bad=0.02, duplicates=2, unit_row=True, outage=(0, 0), gz=False,
                 delimiter=",", quality=False):
    """Writes the export; returns the facts it holds (rows, tags, duplicates)."""
    rng = random.Random(seed)
    names = tag_names(tags)
    units = [UNITS[(i + seed) % len(UNITS)] for i in range(tags)]
    t0 = dt.datetime(2026, 1, 5) + dt.timedelta(minutes=seed)
    dup_rows = set(rng.sample(range(rows), min(duplicates, rows)))
    lines = []
    d = delimiter

    def cell():
        x = rng.random()
        if x < empty:
            return ""
        if x < empty + bad:
            return rng.choice(BAD_STATES)
        return f"{rng.gauss(100, 15):.3f}"

    kept = written_twice = 0
    if layout == "wide":
        lines.append(d.join(["Timestamp", *names]))
        if unit_row:
            lines.append(d.join(["Units", *units]))
        for r in range(rows):
            if outage[0] <= r < outage[1]:
                continue
            stamp = (t0 + dt.timedelta(seconds=r * step_s)).strftime("%Y-%m-%d %H:%M:%S")
            line = d.join([stamp, *(cell() for _ in names)])
            lines.append(line)
            kept += 1
            if r in dup_rows:
                lines.append(line)
                written_twice += 1
    else:
        header = ["Tag", "Timestamp", "Value", "Units"] + (["Quality"] if quality else [])
        lines.append(d.join(header))
        for r in range(rows):
            if outage[0] <= r < outage[1]:
                continue
            stamp = (t0 + dt.timedelta(seconds=r * step_s)).strftime("%Y-%m-%d %H:%M:%S")
            kept += 1
            for name, unit in zip(names, units):
                value = cell()
                row = [name, stamp, value, unit]
                if quality:
                    row.append("Good" if rng.random() > 0.05 else "Bad")
                lines.append(d.join(row))
    data = ("\n".join(lines) + "\n").encode()
    if gz:
        data = gzip.compress(data, mtime=0)
    with open(path, "wb") as file:
        file.write(data)
    return {"rows": kept + written_twice, "tags": tags, "distinct_rows": kept,
            "duplicates": written_twice}


def write_large(path, megabytes, *, tags=40, gz=False):
    """A long export of about `megabytes` MB, written fast (one day's rows, repeated day after
    day with the date changed), for tests that need a scan to take a while."""
    names = [f"FIC{100 + i}.PV" for i in range(tags)]
    day = "".join(f"{n},@ {m // 60:02d}:{m % 60:02d}:00,{(m * 7 + i) % 1000 / 10:.1f},degC\n"
                  for m in range(1440) for i, n in enumerate(names))
    days = max(1, round(megabytes * 1e6 / len(day)))
    t0 = dt.date(2026, 1, 5)
    text = "Tag,Timestamp,Value,Units\n" + "".join(
        day.replace("@", (t0 + dt.timedelta(days=d)).isoformat()) for d in range(days))
    data = text.encode()
    with open(path, "wb") as file:
        file.write(gzip.compress(data, compresslevel=1, mtime=0) if gz else data)
