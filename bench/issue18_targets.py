"""Every speed target of the profiler's speed round in one run, BEFORE against AFTER.

    python bench/issue18_targets.py BEFORE AFTER [--rounds 5] [--work /tmp/issue18]
        [--peers /work/shared/bench/profile/peers.py]

BEFORE and AFTER are package directories (PYTHONPATH dirs: main's unpacked release wheel, a
branch's unpacked wheel). Every figure is a median over --rounds runs, each run a fresh child
process, BEFORE and AFTER alternating so that machine noise hits both alike; CPU seconds are
the child's process_time over the profile_export call alone. Inputs: /tmp/wide.csv (150 MB)
and /tmp/long.csv (92 MB), read only; the gzip of the wide export and the Arrow file of its
float64 + timestamp table are made once under --work. Reported:

  wide, threads=1           MB/s per CPU-second            target >= 900
  long, threads=1           MB/s per CPU-second            target >= 700
  wide, threads=2           wall / faster peer's wall      target <= 0.1 (peers.py, Polars and
                                                           DuckDB on 2 threads)
  wide.csv.gz, threads=1    MB (inflated) per wall-second  target >= 2x BEFORE
  Arrow table, threads=1    CPU seconds / the CSV's        target <= 1
  check_units, 10k pairs    / the native court's time      target <= 1.3 (unit_check_bench.py)
  peak RSS, wide threads=1  the child's peak resident size, and what it was before the call

Seals of the CSV and gz profiles must agree between BEFORE and AFTER (the Arrow table's input
digest is allowed to differ); the script says when they do not. The machine's load average is
printed at the start and at the end.
"""
import argparse
import gzip
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import unit_check_bench  # noqa: E402  (the check_units figures, measured the same way)

WIDE = "/tmp/wide.csv"
LONG = "/tmp/long.csv"

CHILD = r"""
import json, resource, sys, time

def rss_kb(key):
    with open("/proc/self/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith(key))

case, path = sys.argv[1], sys.argv[2]
import inspect
import qorv_chemical_engineering_edge as edge
source, kwargs = path, {"threads": 1}
# The speed targets are the scan's without signal health, which a later round added (on by
# default); a package from before it has no such keyword.
if "health" in inspect.signature(edge.profile_export).parameters:
    kwargs["health"] = False
if case == "long":
    kwargs["layout"] = "long"
elif case == "arrow":
    import pyarrow as pa
    source = pa.ipc.open_file(pa.memory_map(path)).read_all()
base = rss_kb("VmHWM")
wall, cpu = time.perf_counter(), time.process_time()
profile = edge.profile_export(source, **kwargs)
cpu, wall = time.process_time() - cpu, time.perf_counter() - wall
print(json.dumps({"cpu": cpu, "wall": wall, "seal": profile.seal, "base_kb": base,
                  "peak_kb": rss_kb("VmHWM")}))
"""

PRODUCT = '''
import qorv_chemical_engineering_edge as edge

def profile_two_threads(path):
    try:
        return edge.profile_export(path, threads=2, health=False)
    except TypeError:  # a package from before signal health
        return edge.profile_export(path, threads=2)
'''


def child(package, case, path):
    env = dict(os.environ, PYTHONPATH=package)
    done = subprocess.run([sys.executable, "-c", CHILD, case, path], env=env,
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{case} under {package} failed:\n{done.stderr[-2000:]}")
    return json.loads(done.stdout)


def make_inputs(work):
    """The gzip of the wide export and its float64 + timestamp table as an Arrow file."""
    os.makedirs(work, exist_ok=True)
    gz = os.path.join(work, "wide.csv.gz")
    if not os.path.exists(gz) or os.path.getmtime(gz) < os.path.getmtime(WIDE):
        with open(WIDE, "rb") as src, gzip.open(gz + ".part", "wb", compresslevel=6) as dst:
            shutil.copyfileobj(src, dst, 1 << 20)
        os.replace(gz + ".part", gz)
    arrow = os.path.join(work, "wide_f64.arrow")
    if not os.path.exists(arrow) or os.path.getmtime(arrow) < os.path.getmtime(WIDE):
        import polars as pl
        import pyarrow as pa
        # The units row under the header is not data; every tag column becomes float64 (texts
        # that are no number become nulls), the timestamps microsecond instants.
        frame = pl.read_csv(WIDE, infer_schema=False, skip_rows_after_header=1)
        stamp, tags = frame.columns[0], frame.columns[1:]
        frame = frame.select(
            [pl.col(stamp).str.to_datetime("%Y-%m-%d %H:%M:%S", time_unit="us")]
            + [pl.col(c).cast(pl.Float64, strict=False) for c in tags])
        table = frame.to_arrow()
        with pa.OSFile(arrow + ".part", "wb") as sink, pa.ipc.new_file(sink, table.schema) as out:
            out.write_table(table)
        os.replace(arrow + ".part", arrow)
    return gz, arrow


def peers(package, rounds, peers_py, work):
    """peers.py's wall seconds for the product on 2 threads, Polars and DuckDB."""
    product_dir = tempfile.mkdtemp(dir=work)
    with open(os.path.join(product_dir, "issue18_product.py"), "w") as f:
        f.write(PRODUCT)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([package, product_dir]))
    done = subprocess.run([sys.executable, peers_py, WIDE, "--layout", "wide", "--repeat",
                           str(rounds), "--threads", "2", "--product",
                           "issue18_product:profile_two_threads"],
                          env=env, capture_output=True, text=True)
    shutil.rmtree(product_dir, ignore_errors=True)
    if done.returncode != 0:
        raise RuntimeError(f"peers.py under {package} failed:\n{done.stderr[-2000:]}")
    seconds = {m.group(1): float(m.group(2))
               for m in re.finditer(r"^(product|polars|duckdb)\s+([0-9.]+) s", done.stdout, re.M)}
    if "product" not in seconds:
        raise RuntimeError(f"peers.py did not time the product:\n{done.stdout}{done.stderr}")
    return seconds


def median(results, key):
    return statistics.median(r[key] for r in results)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("before")
    ap.add_argument("after")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--work", default="/tmp/issue18")
    ap.add_argument("--peers", default="/work/shared/bench/profile/peers.py")
    a = ap.parse_args()
    packages = {"before": os.path.abspath(a.before), "after": os.path.abspath(a.after)}
    print("load average at start: %.2f %.2f %.2f" % os.getloadavg())
    gz, arrow = make_inputs(a.work)
    inputs = {"wide": WIDE, "long": LONG, "gz": gz, "arrow": arrow}
    runs = {(name, case): [] for name in packages for case in inputs}
    for r in range(a.rounds):
        for case, path in inputs.items():
            order = list(packages) if r % 2 == 0 else list(packages)[::-1]
            for name in order:
                runs[name, case].append(child(packages[name], case, path))
    peer = {name: peers(package, a.rounds, a.peers, a.work) for name, package in packages.items()}
    units = unit_check_bench.summary(unit_check_bench.measure(packages, a.rounds))
    print("load average at end:   %.2f %.2f %.2f" % os.getloadavg())

    mb = {case: os.path.getsize(path) / 1e6 for case, path in inputs.items()}
    inflated = os.path.getsize(WIDE) / 1e6
    rows = []

    def row(what, unit, target, values):
        rows.append((what, unit, target, values["before"], values["after"]))

    row("wide 150 MB, threads=1", "MB/s per CPU-s", ">= 900",
        {n: mb["wide"] / median(runs[n, "wide"], "cpu") for n in packages})
    row("long 92 MB, threads=1", "MB/s per CPU-s", ">= 700",
        {n: mb["long"] / median(runs[n, "long"], "cpu") for n in packages})
    row("wide, threads=2: wall", "s", "", {n: peer[n]["product"] for n in packages})
    row("  / Polars wall", "ratio", "", {n: peer[n]["product"] / peer[n]["polars"]
                                          for n in packages})
    row("  / DuckDB wall", "ratio", "", {n: peer[n]["product"] / peer[n]["duckdb"]
                                          for n in packages})
    row("  / faster peer's wall", "ratio", "<= 0.1",
        {n: peer[n]["product"] / min(peer[n]["polars"], peer[n]["duckdb"]) for n in packages})
    gz_wall = {n: inflated / median(runs[n, "gz"], "wall") for n in packages}
    row(".gz, threads=1", "MB inflated/wall-s", ">= 2x before", gz_wall)
    row(".gz, threads=1", "MB inflated/CPU-s", "",
        {n: inflated / median(runs[n, "gz"], "cpu") for n in packages})
    row("Arrow f64+timestamp table", "CPU s", "", {n: median(runs[n, "arrow"], "cpu")
                                                   for n in packages})
    row("  / the CSV's CPU s", "ratio", "<= 1",
        {n: median(runs[n, "arrow"], "cpu") / median(runs[n, "wide"], "cpu") for n in packages})
    row("check_units, 10k pairs", "CPU ms", "", units["full_ms"])
    row("  / native court", "ratio", "<= 1.3",
        units["ratios"] if units["native_ms"] else {n: float("nan") for n in packages})
    row("peak RSS, wide threads=1", "MB", "flat", {n: median(runs[n, "wide"], "peak_kb") / 1024
                                                   for n in packages})
    row("  RSS before the call", "MB", "", {n: median(runs[n, "wide"], "base_kb") / 1024
                                            for n in packages})
    row("peak RSS, long threads=1", "MB", "flat", {n: median(runs[n, "long"], "peak_kb") / 1024
                                                   for n in packages})

    print(f"\nmedians of {a.rounds} runs each; peers: {a.peers}")
    print(f"{'':28s} {'unit':20s} {'target':14s} {'before':>10s} {'after':>10s} {'after/before':>13s}")
    for what, unit, target, before, after in rows:
        ratio = after / before if before else float("nan")
        print(f"{what:28s} {unit:20s} {target:14s} {before:10.3f} {after:10.3f} {ratio:13.3f}")
    print(f"native court on ready rows: "
          + (f"{units['native_ms']:.2f} ms" if units["native_ms"] else "no package offers it"))
    for case in ("wide", "long", "gz", "arrow"):
        seals = {n: {r["seal"] for r in runs[n, case]} for n in packages}
        same = seals["before"] == seals["after"] and len(seals["before"]) == 1
        note = "" if same or case != "arrow" else " (the table's digest may be redefined)"
        print(f"seal {case:5s}: {'same' if same else 'DIFFERS'}{note}")
    print(f"check_units seals: {'same' if units['seals'] == 1 else 'DIFFER'}")


if __name__ == "__main__":
    main()
