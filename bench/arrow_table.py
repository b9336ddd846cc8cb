"""CPU and wall seconds of profile_export on a float64 + timestamp Arrow table read from a CSV
export (pyarrow.csv; the unit row skipped, the time column parsed, every other cell a float64 or
a null), and on the CSV file itself, for two staged packages interleaved, at one and two threads.

Run: python bench/arrow_table.py BEFORE_DIR AFTER_DIR [ROUNDS] [CSV]
(each DIR holds qorv_chemical_engineering_edge, e.g. an unpacked wheel; CSV /tmp/wide.csv).
The table is read inside each child before the clock starts; medians over the rounds."""
import json
import os
import statistics
import subprocess
import sys

CHILD = r'''
import sys, time, json
import pyarrow.csv as pacsv
import qorv_chemical_engineering_edge as e
path, what, threads = sys.argv[1], sys.argv[2], int(sys.argv[3])
source = path
if what == "table":  # the float64 + timestamp table: unit row skipped, texts made nulls
    import pyarrow as pa, pyarrow.compute as pc
    raw = pacsv.read_csv(path, read_options=pacsv.ReadOptions(skip_rows_after_names=1),
                         convert_options=pacsv.ConvertOptions(
                             column_types={n: pa.string() for n in open(path).readline()
                                           .strip().split(",")}))
    cols = {raw.column_names[0]: pc.strptime(raw.column(0), "%Y-%m-%d %H:%M:%S", "s")}
    for name in raw.column_names[1:]:
        col = raw.column(name)
        number = pc.match_substring_regex(col, r"^-?[0-9]+(\.[0-9]*)?$")
        cols[name] = pc.cast(pc.if_else(number, col, pa.scalar(None, pa.string())), pa.float64())
    source = pa.table(cols)
t0 = time.perf_counter(); c0 = time.process_time()
p = e.profile_export(source, threads=threads)
print(json.dumps({"wall": time.perf_counter() - t0, "cpu": time.process_time() - c0,
                  "rows": p.values["n_rows"].value, "digest": p.input_digest}))
'''


def run(stage, path, what, threads):
    env = dict(os.environ, PYTHONPATH=stage)
    out = subprocess.run([sys.executable, "-c", CHILD, path, what, str(threads)], env=env,
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    builds = {"before": sys.argv[1], "after": sys.argv[2]}
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    path = sys.argv[4] if len(sys.argv) > 4 else "/tmp/wide.csv"
    res = {}
    for r in range(rounds):
        order = list(builds) if r % 2 == 0 else list(reversed(builds))
        for threads in (1, 2):
            for what in ("table", "csv"):
                for k in order:
                    res.setdefault((what, threads, k), []).append(
                        run(builds[k], path, what, threads))
    size = os.path.getsize(path) / 1e6
    for (what, threads, k), xs in sorted(res.items()):
        w = statistics.median(x["wall"] for x in xs)
        c = statistics.median(x["cpu"] for x in xs)
        print(f"{what:5s} threads={threads} {k:6s} wall {w:6.3f} s  cpu {c:6.3f} s  "
              f"{size / c:7.1f} MB/cpu-s  rows {xs[0]['rows']}  digest {xs[0]['digest'][:12]}")


if __name__ == "__main__":
    main()
