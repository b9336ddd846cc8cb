"""Write sensor_faults.csv: two days of a compressor station's export, with sensors that lie.

Wide layout, one-minute samples, a unit row under the header. Every cell is present, so the
missingness says all is well; what the values say is planted on purpose:

- PT201 (barg) freezes at one reading for nine hours: a transmitter stuck while "present";
- TT202 (K) reads negative kelvins for half an hour: a scaling fault, below absolute zero;
- FT203 (kg/h) dips below zero overnight: a reverse flow or a zero offset, suspicious;
- XT204 (mm/s) was stored by exception and exported sampled: straight lines between sparse
  points, a value every minute that no instrument measured;
- ST205 (rpm) and PT206 (barg) are healthy.

Deterministic (a fixed seed), standard library only:

    python examples/make_sensor_faults_export.py [OUT]
"""
import datetime as dt
import math
import random
import sys

START = dt.datetime(2026, 5, 11, 0, 0)
ROWS = 2 * 24 * 60
TAGS = [("PT201", "barg"), ("TT202", "K"), ("FT203", "kg/h"), ("XT204", "mm/s"),
        ("ST205", "rpm"), ("PT206", "barg")]
FROZEN = (6 * 60, 15 * 60)                 # PT201 stuck, minutes from the start
NEGATIVE_K = (30 * 60, 30 * 60 + 30)       # TT202 scaling fault
REVERSE = (26 * 60, 28 * 60)               # FT203 below zero
KNOTS = 47                                 # XT204: a stored point every 47 minutes or so


def main(out: str) -> None:
    rng = random.Random(20260511)
    knots = sorted({0, ROWS - 1} | {i * KNOTS + rng.randrange(-9, 10) for i in range(1, ROWS // KNOTS)})
    knot_values = {k: round(2.0 + rng.uniform(-0.6, 0.6), 2) for k in knots}
    lines = ["Timestamp," + ",".join(t for t, _ in TAGS), "units," + ",".join(u for _, u in TAGS)]
    stuck = None
    for i in range(ROWS):
        day = math.sin(2 * math.pi * i / (24 * 60))
        pt201 = 42.0 + 1.5 * day + rng.gauss(0, 0.08)
        if FROZEN[0] <= i < FROZEN[1]:
            stuck = stuck if stuck is not None else pt201
            pt201 = stuck
        tt202 = 318.0 + 4 * day + rng.gauss(0, 0.3)
        if NEGATIVE_K[0] <= i < NEGATIVE_K[1]:
            tt202 = -tt202 / 100
        ft203 = 5200 + 400 * day + rng.gauss(0, 25)
        if REVERSE[0] <= i < REVERSE[1]:
            ft203 = -abs(rng.gauss(40, 15))
        lo = max(k for k in knots if k <= i)
        hi = min(k for k in knots if k >= i)
        xt204 = knot_values[lo] if lo == hi else (
            knot_values[lo] + (knot_values[hi] - knot_values[lo]) * (i - lo) / (hi - lo))
        st205 = 11800 + 150 * day + rng.gauss(0, 10)
        pt206 = 38.0 + 1.2 * day + rng.gauss(0, 0.08)
        at = START + dt.timedelta(minutes=i)
        lines.append(f"{at:%Y-%m-%d %H:%M}," + ",".join(
            [f"{pt201:.2f}", f"{tt202:.2f}", f"{ft203:.1f}", f"{xt204:.3f}", f"{st205:.0f}",
             f"{pt206:.2f}"]))
    with open(out, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/sensor_faults.csv")
