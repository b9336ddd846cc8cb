"""to_html() cost against the profile's own: time and peak memory, each case in a fresh child.

    PYTHONPATH=build/dev/stage python bench/availability_bench.py [workdir]

Cases: a ~3.5 MiB .gz wide export, and 60k rows at irregular steps. Peak memory is the child's
peak resident size (VmHWM) while profiling, and while to_html runs with the
profile held (the peak is reset in between).
"""
import gzip
import os
import random
import subprocess
import sys
import tempfile

CHILD = r"""
import sys, time
import qorv_chemical_engineering_edge as edge

def peak_mb():
    with open("/proc/self/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("VmHWM")) / 1024

def reset_peak():
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")

reset_peak()
t = time.perf_counter()
p = edge.profile_export(sys.argv[1], threads=1)
t_profile = time.perf_counter() - t
rss_profile = peak_mb()
reset_peak()
t = time.perf_counter()
page = p.to_html()
t_html = time.perf_counter() - t
rss_html = peak_mb()
assert 'id="availability"' in page, "no chart"
print(f"{t_profile:.3f} {t_html:.3f} {rss_profile:.0f} {rss_html:.0f}")
"""


def stamp(seconds: float) -> str:
    day, rest = divmod(seconds, 86400)
    h, rest = divmod(rest, 3600)
    m, s = divmod(rest, 60)
    return f"2026-{1 + int(day) // 28:02d}-{1 + int(day) % 28:02d} {int(h):02d}:{int(m):02d}:{s:06.3f}"


def gz_export(path: str) -> None:
    """Slowly moving values, as plant data are: they compress about twentyfold."""
    rng = random.Random(1)
    tags = 60
    level = [100.0] * tags
    lines = ["Timestamp," + ",".join(f"T{i}.PV" for i in range(tags))]
    for r in range(300_000):
        for i in range(0, tags, 7):
            level[i] += rng.choice((-0.1, 0.0, 0.0, 0.1))
        cells = ("" if r % 997 == i else f"{v:.1f}" for i, v in enumerate(level))
        lines.append(f"{stamp(r * 10)}," + ",".join(cells))
    with open(path, "wb") as f:
        f.write(gzip.compress(("\n".join(lines) + "\n").encode(), mtime=0))


def irregular(path: str) -> None:
    rng = random.Random(2)
    lines = ["Timestamp,A,B,C"]
    t = 0.0
    for _ in range(60_000):
        t += rng.choice((1, 1, 2, 5, 7.5, 60, 0.5))
        lines.append(f"{stamp(t)},{rng.random():.3f},{'' if rng.random() < 0.1 else 1},x")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def main() -> None:
    work = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp()
    cases = [("wide .gz", os.path.join(work, "wide.csv.gz"), gz_export),
             ("60k irregular rows", os.path.join(work, "irregular.csv"), irregular)]
    print(f"{'case':<20} {'size MiB':>9} {'profile s':>10} {'to_html s':>10} "
          f"{'peak profile MB':>15} {'peak to_html MB':>15}")
    for name, path, make in cases:
        if not os.path.exists(path):
            make(path)
        out = subprocess.run([sys.executable, "-c", CHILD, path], capture_output=True, text=True,
                             check=True).stdout.split()
        size = os.path.getsize(path) / 2**20
        print(f"{name:<20} {size:>9.2f} {out[0]:>10} {out[1]:>10} {out[2]:>15} {out[3]:>15}")


if __name__ == "__main__":
    main()
