#!/usr/bin/env python3
"""profile_export on .gz exports with several builds, interleaved: medians of wall and CPU
seconds (the whole process's, inflater thread included), of the busiest thread's CPU seconds
(the wall time an idle machine would see), and MB/s of the inflated text.

    python bench/gz_bench.py --build main=/work/pkg-main --build new=/tmp/stage_new \\
        --file /tmp/gz/wide.csv.gz --threads 1 2 --rounds 5

Each --build is a directory put on PYTHONPATH (an unpacked wheel or a staged build); each run
is a fresh process. The seals of every build and run must agree, or the script says so.
"""
import argparse
import gzip
import json
import os
import statistics
import subprocess
import sys

CHILD = r"""
import json, os, sys, threading, time
import qorv_chemical_engineering_edge as e
path, threads = sys.argv[1], int(sys.argv[2])
# Each thread's CPU seconds, sampled from /proc while the profile runs: on a loaded machine the
# busiest thread's CPU time is what the wall time would be on an idle one.
tick = os.sysconf("SC_CLK_TCK")
busy, done = {}, threading.Event()
def sample():
    while not done.is_set():
        for tid in os.listdir("/proc/self/task"):
            try:
                with open(f"/proc/self/task/{tid}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                busy[tid] = max(busy.get(tid, 0), (int(fields[11]) + int(fields[12])) / tick)
            except OSError:
                pass
        time.sleep(0.005)
sampler = threading.Thread(target=sample, daemon=True)
sampler.start()
t0 = time.perf_counter(); c0 = time.process_time()
p = e.profile_export(path, threads=threads)
wall, cpu = time.perf_counter() - t0, time.process_time() - c0
done.set(); sampler.join()
print(json.dumps({"wall": wall, "cpu": cpu, "busiest": max(busy.values()), "seal": p.seal}))
"""


def inflated_size(path):
    with gzip.open(path, "rb") as f:
        return sum(len(b) for b in iter(lambda: f.read(1 << 20), b""))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", action="append", required=True, help="name=PYTHONPATH dir")
    ap.add_argument("--file", action="append", required=True)
    ap.add_argument("--threads", type=int, nargs="+", default=[2])
    ap.add_argument("--rounds", type=int, default=5)
    a = ap.parse_args()
    builds = dict(b.split("=", 1) for b in a.build)
    sizes = {f: inflated_size(f) for f in a.file}
    res = {}
    for r in range(a.rounds):
        order = list(builds) if r % 2 == 0 else list(reversed(builds))
        for f in a.file:
            for t in a.threads:
                for name in order:
                    env = dict(os.environ, PYTHONPATH=builds[name])
                    out = subprocess.run([sys.executable, "-c", CHILD, f, str(t)], env=env,
                                         check=True, capture_output=True, text=True).stdout
                    res.setdefault((f, t, name), []).append(json.loads(out))
    seals = {x["seal"] for xs in res.values() for x in xs}
    print(f"load average {os.getloadavg()[0]:.2f}; seals {'agree' if len(seals) == 1 else 'DIFFER'}")
    print("file | threads | build | wall s | CPU s | busiest thread CPU s | MB/s wall | "
          "MB/s per CPU-s | MB/s per busiest-thread s")
    for (f, t, name), xs in res.items():
        w, c, b = (statistics.median(x[k] for x in xs) for k in ("wall", "cpu", "busiest"))
        mb = sizes[f] / 1e6
        print(f"{os.path.basename(f)} | {t} | {name} | {w:.3f} | {c:.3f} | {b:.3f} | {mb / w:.0f} | "
              f"{mb / c:.0f} | {mb / b:.0f}")


if __name__ == "__main__":
    main()
