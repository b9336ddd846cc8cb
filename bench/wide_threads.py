"""CPU time of profile_export on one export, two staged builds interleaved, threads 1 and 2.

    python3 bench/wide_threads.py BEFORE_DIR AFTER_DIR [ROUNDS] [FILE]

BEFORE_DIR and AFTER_DIR are PYTHONPATH directories (an unpacked wheel). Each run is its own
process; the table gives medians of CPU seconds (process_time, all threads) and MB per
CPU-second, and the ratio after/before. The seals must agree.
"""
import json, os, statistics, subprocess, sys

CHILD = r'''
import sys, time, json
import qorv_chemical_engineering_edge as e
path, threads = sys.argv[1], int(sys.argv[2])
t0 = time.perf_counter(); c0 = time.process_time()
p = e.profile_export(path, threads=threads)
print(json.dumps({"wall": time.perf_counter() - t0, "cpu": time.process_time() - c0,
                  "seal": p.seal}))
'''

def run(stage, path, threads):
    env = dict(os.environ, PYTHONPATH=stage)
    out = subprocess.run([sys.executable, "-c", CHILD, path, str(threads)], env=env, check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out)

if __name__ == "__main__":
    builds = {"before": sys.argv[1], "after": sys.argv[2]}
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    path = sys.argv[4] if len(sys.argv) > 4 else "/tmp/wide.csv"
    mb = os.path.getsize(path) / 1e6
    res = {}
    for r in range(rounds):
        for threads in (1, 2):
            for k in (list(builds) if r % 2 == 0 else list(reversed(builds))):
                res.setdefault((threads, k), []).append(run(builds[k], path, threads))
    seals = {x["seal"] for xs in res.values() for x in xs}
    print(f"{path}: {mb:.0f} MB, {rounds} rounds, seals equal: {len(seals) == 1}")
    print("| threads | build | CPU s (median) | wall s (median) | MB per CPU-s |")
    print("|---|---|---|---|---|")
    for threads in (1, 2):
        cpu = {}
        for k in builds:
            xs = res[(threads, k)]
            cpu[k] = statistics.median(x["cpu"] for x in xs)
            wall = statistics.median(x["wall"] for x in xs)
            print(f"| {threads} | {k} | {cpu[k]:.3f} | {wall:.3f} | {mb / cpu[k]:.0f} |")
        print(f"| {threads} | after/before CPU | {cpu['after'] / cpu['before']:.3f} | | |")
