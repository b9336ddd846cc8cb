"""check_units over 10k pairs of unit texts, against the native court's own time.

    python bench/unit_check_bench.py BEFORE AFTER [ROUNDS]

BEFORE and AFTER are package directories (PYTHONPATH dirs: /work/pkg-main, an unpacked wheel,
build/dev/stage). Each round runs one child per package, in alternating order; a child reports
the median CPU time (process_time) of 15 calls after 3 warm-up calls. The native court's own
time is the native entry of a package that takes ready-made assertion rows (main's
`_native.check_units_v2(rows)`, rows built before the clock starts): the court, reading
the rows and making the finding tuples, with no Python loop. Ratios are of medians.
"""
import json
import os
import statistics
import subprocess
import sys

CHILD = r"""
import json, statistics, time
import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge import _native

UNITS = [("kPa", "Pa"), ("kg/h", "kg/hr"), ("degC", "K"), ("m3/h", "kg/h"), ("wt%", "mol%"),
         ("barg", "bara"), ("Nm3/h", "m3/h"), ("kmol/h", "mol/s"), ("MMscfd", "Sm3/d"),
         ("furlong", "m")]
PAIRS = [UNITS[i % len(UNITS)] for i in range(10_000)]

def median_cpu(call, reps=15, warm=3):
    for _ in range(warm):
        call()
    times = []
    for _ in range(reps):
        start = time.process_time()
        call()
        times.append(time.process_time() - start)
    return statistics.median(times)

record = edge.check_units(PAIRS)
out = {"full": median_cpu(lambda: edge.check_units(PAIRS)), "native": None,
       "seal": record.court_hash, "hazards": record.n_hazard}
rows = [("", "a", a, "b", b, False) for a, b in PAIRS]
try:
    _native.check_units_v2(rows)
except TypeError:
    pass  # this package's native court reads the assertions itself
else:
    out["native"] = median_cpu(lambda: _native.check_units_v2(rows))
print(json.dumps(out))
"""


def child(package):
    env = dict(os.environ, PYTHONPATH=package)
    done = subprocess.run([sys.executable, "-c", CHILD], env=env, check=True,
                          capture_output=True, text=True)
    return json.loads(done.stdout)


def measure(packages, rounds):
    """{name: [child result, ...]} with the packages' children interleaved."""
    results = {name: [] for name in packages}
    names = list(packages)
    for r in range(rounds):
        for name in names if r % 2 == 0 else names[::-1]:
            results[name].append(child(packages[name]))
    return results


def summary(results):
    """Medians in ms and the ratios the issue asks for; the reference is the first package
    whose native entry takes ready-made rows."""
    full = {n: statistics.median(x["full"] for x in xs) * 1e3 for n, xs in results.items()}
    native = None
    for xs in results.values():
        if xs[0]["native"] is not None:
            native = statistics.median(x["native"] for x in xs) * 1e3
            break
    seals = {x["seal"] for xs in results.values() for x in xs}
    return {"full_ms": full, "native_ms": native, "seals": len(seals),
            "ratios": {n: (t / native if native else None) for n, t in full.items()}}


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    rounds = int(argv[3]) if len(argv) > 3 else 5
    s = summary(measure({"before": argv[1], "after": argv[2]}, rounds))
    print(f"check_units, 10k pairs, CPU ms, medians of {rounds} rounds x 15 calls")
    native = s["native_ms"]
    print(f"  native court on ready rows: {native:.2f} ms" if native else
          "  native court on ready rows: no package offers the entry")
    for name, t in s["full_ms"].items():
        ratio = s["ratios"][name]
        print(f"  {name:6s} check_units: {t:7.2f} ms" +
              (f"  {ratio:.2f}x the native court" if ratio else ""))
    print(f"  after/before: {s['full_ms']['after'] / s['full_ms']['before']:.3f}; "
          f"distinct seals {s['seals']} (must be 1)")


if __name__ == "__main__":
    main(sys.argv)
