"""Writes the two exports the Python benchmarks read when no other is at hand.

    python bench/make_exports.py [--rows 200000] [--tags 100] [--out /tmp]

It writes OUT/wide.csv and OUT/long.csv:
- wide.csv: a header, a unit row, then one row per 10 s of 3-decimal readings around each tag's
  level (about 159 MB at the defaults), 1 % empty cells and 0.2 % "Bad".
- long.csv: Tag,Timestamp,Value,Quality records of half as many tags, one instant a minute
  (about 100 MB for 40,000 instants of 50 tags), 1 % empty values, 0.5 % "Bad" quality.

Seeded, so every run writes the same bytes. These are this repository's own stand-ins: the
figures they give are comparable within a run (before against after), not with those measured
on other files.
"""
import argparse
import datetime as dt
import os
import random

UNITS = ("degC", "bar", "kg/h", "m3/h", "%", "rpm")


def wide(path: str, rows: int, tags: int) -> None:
    r = random.Random(7)
    names = [f"TAG{i:03d}.PV" for i in range(tags)]
    t0 = dt.datetime(2026, 1, 1)
    with open(path, "w") as f:
        f.write("Timestamp," + ",".join(names) + "\n")
        f.write("units," + ",".join(r.choice(UNITS) for _ in names) + "\n")
        level = [r.uniform(10, 500) for _ in names]
        for i in range(rows):
            cells = []
            for k in range(tags):
                x = r.random()
                cells.append("" if x < 0.01 else "Bad" if x < 0.012
                             else f"{level[k] + r.gauss(0, 3):.3f}")
            stamp = (t0 + dt.timedelta(seconds=10 * i)).strftime("%Y-%m-%d %H:%M:%S")
            f.write(stamp + "," + ",".join(cells) + "\n")


def long(path: str, instants: int, tags: int) -> None:
    r = random.Random(9)
    names = [f"UNIT1.TAG{i:03d}.PV" for i in range(tags)]
    t0 = dt.datetime(2026, 1, 1)
    with open(path, "w") as f:
        f.write("Tag,Timestamp,Value,Quality\n")
        for i in range(instants):
            stamp = (t0 + dt.timedelta(seconds=60 * i)).strftime("%Y-%m-%d %H:%M:%S")
            for name in names:
                x = r.random()
                value = "" if x < 0.01 else f"{r.uniform(0, 1000):.4f}"
                f.write(f"{name},{stamp},{value},{'Good' if x > 0.005 else 'Bad'}\n")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rows", type=int, default=200_000, help="wide rows (long: a fifth)")
    parser.add_argument("--tags", type=int, default=100, help="wide tags (long: half)")
    parser.add_argument("--out", default="/tmp", help="folder to write into")
    args = parser.parse_args()
    wide(os.path.join(args.out, "wide.csv"), args.rows, args.tags)
    long(os.path.join(args.out, "long.csv"), args.rows // 5, args.tags // 2)


if __name__ == "__main__":
    main()
