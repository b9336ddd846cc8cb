"""CPU time of profile_export on a long export for two staged packages, interleaved.

    python bench/long_export_bench.py BEFORE_DIR AFTER_DIR [ROUNDS] [FILE]

BEFORE_DIR and AFTER_DIR are PYTHONPATH directories (an unpacked wheel, or a stage holding the
package and the module). Each run is a fresh process; rounds alternate which build goes first.
Prints, per build and thread count, the median CPU seconds (all threads), the median wall
seconds, MB per CPU-second and the after/before CPU ratio. Times are CPU, so a loaded machine
shifts both builds alike; it still prints the load average.
"""
import json
import os
import statistics
import subprocess
import sys

CHILD = r'''
import sys, time, json
import qorv_chemical_engineering_edge as e
path, threads = sys.argv[1], int(sys.argv[2])
t0 = time.perf_counter(); c0 = time.process_time()
p = e.profile_export(path, layout="long", threads=threads)
print(json.dumps({"wall": time.perf_counter() - t0, "cpu": time.process_time() - c0,
                  "seal": p.seal}))
'''


def run(pythonpath, path, threads):
    env = dict(os.environ, PYTHONPATH=pythonpath)
    out = subprocess.run([sys.executable, "-c", CHILD, path, str(threads)], env=env, check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    builds = {"before": sys.argv[1], "after": sys.argv[2]}
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    path = sys.argv[4] if len(sys.argv) > 4 else "/tmp/long.csv"
    mb = os.path.getsize(path) / 1e6
    res = {}
    for r in range(rounds):
        for threads in (1, 2):
            order = list(builds) if r % 2 == 0 else list(reversed(builds))
            for k in order:
                res.setdefault((threads, k), []).append(run(builds[k], path, threads))
    print(f"{path}: {mb:.1f} MB, {rounds} rounds, load average {os.getloadavg()}")
    print("threads build  cpu_s  wall_s  MB/cpu_s  seals")
    for threads in (1, 2):
        cpu = {}
        for k in builds:
            xs = res[(threads, k)]
            cpu[k] = statistics.median(x["cpu"] for x in xs)
            wall = statistics.median(x["wall"] for x in xs)
            seals = len({x["seal"] for x in xs})
            print(f"{threads:7d} {k:6s} {cpu[k]:.3f}  {wall:.3f}  {mb / cpu[k]:8.0f}  {seals}")
        print(f"        after/before cpu {cpu['after'] / cpu['before']:.3f}")
    same = {x["seal"] for xs in res.values() for x in xs}
    print("one seal across builds and threads" if len(same) == 1 else f"SEALS DIFFER: {same}")


if __name__ == "__main__":
    main()
