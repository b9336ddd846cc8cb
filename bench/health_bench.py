"""What signal health costs the profiler, BEFORE against AFTER.

    python bench/health_bench.py BEFORE AFTER [--rounds 5]

BEFORE and AFTER are package directories (PYTHONPATH dirs, e.g. main's unpacked release wheel
and a branch's). For /tmp/wide.csv (150 MB) and /tmp/long.csv (92 MB), profile_export on one
thread with health on (the default) and off (health=False), each a fresh child process, the
packages alternating; a package without the keyword is timed as it is. Reported: MB/s per
CPU-second, medians over --rounds. The speed targets: wide with health on >= 500, with it off
as the speed round left it (>= 900).
"""
import argparse
import json
import os
import statistics
import subprocess
import sys

CASES = (("wide", "/tmp/wide.csv"), ("long", "/tmp/long.csv"))

CHILD = r"""
import inspect, json, sys, time
import qorv_chemical_engineering_edge as edge
case, path, health = sys.argv[1], sys.argv[2], sys.argv[3] == "on"
kwargs = {"threads": 1}
if case == "long":
    kwargs["layout"] = "long"
if "health" in inspect.signature(edge.profile_export).parameters:
    kwargs["health"] = health
elif health:
    print(json.dumps(None)); sys.exit(0)
cpu = time.process_time()
profile = edge.profile_export(path, **kwargs)
print(json.dumps({"cpu": time.process_time() - cpu, "seal": profile.seal}))
"""


def run(package, case, path, health):
    env = dict(os.environ, PYTHONPATH=package)
    done = subprocess.run([sys.executable, "-c", CHILD, case, path, health], env=env,
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{case} under {package} failed:\n{done.stderr[-2000:]}")
    return json.loads(done.stdout)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("before")
    ap.add_argument("after")
    ap.add_argument("--rounds", type=int, default=5)
    args = ap.parse_args()
    print(f"load average at start: {os.getloadavg()[0]:.2f}")
    print(f"{'case':<8}{'health':<8}{'before MB/s/CPU-s':>20}{'after MB/s/CPU-s':>20}")
    for case, path in CASES:
        mb = os.path.getsize(path) / 1e6
        for health in ("off", "on"):
            got = {"before": [], "after": []}
            for _ in range(args.rounds):
                for side in ("before", "after"):
                    result = run(getattr(args, side), case, path, health)
                    if result is not None:
                        got[side].append(result["cpu"])
            figures = [f"{mb / statistics.median(got[s]):.0f}" if got[s] else "–"
                       for s in ("before", "after")]
            print(f"{case:<8}{health:<8}{figures[0]:>20}{figures[1]:>20}")
    print(f"load average at end: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
