"""CPU seconds, wall seconds and peak RSS of profile_export on one file for two staged builds,
on 1 and 2 threads, runs interleaved (before/after alternating), medians reported with ratios.

    python bench/profile_threads.py BEFORE_DIR AFTER_DIR FILE [ROUNDS]

BEFORE_DIR / AFTER_DIR: directories holding the package (an unpacked wheel). Each run is a fresh
child process, so the peak RSS is that run's alone.
"""
import json
import os
import statistics
import subprocess
import sys

CHILD = r'''
import json, resource, sys, time
import qorv_chemical_engineering_edge as e
c0 = time.process_time(); w0 = time.perf_counter()
p = e.profile_export(sys.argv[1], threads=int(sys.argv[2]))
print(json.dumps({"cpu": time.process_time() - c0, "wall": time.perf_counter() - w0,
                  "rss": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss, "seal": p.seal}))
'''


def run(stage, path, threads):
    env = dict(os.environ, PYTHONPATH=stage)
    out = subprocess.run([sys.executable, "-c", CHILD, path, str(threads)], env=env, check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    before, after, path = sys.argv[1:4]
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    builds = {"before": before, "after": after}
    res = {}
    for r in range(rounds):
        for threads in (1, 2):
            for k in (("before", "after") if r % 2 == 0 else ("after", "before")):
                res.setdefault((threads, k), []).append(run(builds[k], path, threads))
    mb = os.path.getsize(path) / 1e6
    print(f"{path}: {mb:.0f} MB, {rounds} rounds, load {os.getloadavg()[0]:.1f}")
    print("threads build  cpu_s  MB/cpu_s  wall_s  peak_rss_MB  seals")
    for threads in (1, 2):
        med = {}
        for k in ("before", "after"):
            xs = res[(threads, k)]
            cpu = statistics.median(x["cpu"] for x in xs)
            wall = statistics.median(x["wall"] for x in xs)
            med[k] = cpu
            print(f"{threads:7d} {k:6s} {cpu:6.3f} {mb / cpu:9.0f} {wall:7.3f} "
                  f"{max(x['rss'] for x in xs) / 1024:12.0f}  {len({x['seal'] for x in xs})}")
        print(f"{threads:7d} after/before cpu {med['after'] / med['before']:.3f}")
    seals = {x["seal"] for xs in res.values() for x in xs}
    print("one seal across builds and threads:", len(seals) == 1)


if __name__ == "__main__":
    main()
