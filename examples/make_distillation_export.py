"""Write distillation_week.csv: a week of a distillation unit's historian export.

Wide layout as plant historians write it: a timestamp column, one column per tag, a unit row
under the header, five-minute samples. What a real export carries is put in on purpose: a
historian outage (four hours with no rows at all), an analyser that reports "I/O Timeout" for
a stretch, a reboiler shutdown written as "Shutdown", scattered bad-state texts and empty
cells up to that trip (the unit runs clean after its restart: a normal-operation window), a
few rows written twice, and one tag whose unit the first unit court does not know.
Deterministic (a fixed seed), standard library only:

    python examples/make_distillation_export.py [OUT]
"""
import datetime as dt
import math
import random
import sys

# (tag, unit, mean, noise, daily swing)
TAGS = [
    ("FIC101.PV", "kg/h", 12500.0, 60.0, 300.0),   # reflux flow
    ("FIC101.SP", "kg/h", 12500.0, 0.0, 300.0),
    ("FIC101.OP", "%", 54.0, 0.8, 3.0),
    ("TI101", "degC", 78.4, 0.15, 0.6),            # top temperature
    ("TI102", "degC", 104.8, 0.2, 0.8),            # bottom temperature
    ("TIC103.PV", "degC", 131.0, 0.3, 0.5),        # reboiler
    ("TIC103.SP", "degC", 131.0, 0.0, 0.0),
    ("PI101", "kPa", 118.0, 0.4, 1.2),             # column top pressure
    ("PDI102", "kPa", 14.2, 0.2, 0.4),             # column differential pressure
    ("LIC104.PV", "%", 50.0, 0.4, 0.5),            # reflux drum level
    ("LIC104.SP", "%", 50.0, 0.0, 0.0),
    ("FI105", "m3/h", 31.5, 0.4, 1.5),             # feed
    ("FI106", "t/h", 4.1, 0.05, 0.2),              # reboiler steam
    ("AI107", "mol%", 99.2, 0.05, 0.1),            # top product purity (analyser)
    ("AI108", "ppm", 35.0, 2.0, 4.0),              # water in bottoms: a unit v1 does not know
]
START = dt.datetime(2026, 3, 2, 0, 0, 0)
STEP = dt.timedelta(minutes=5)
ROWS = 7 * 24 * 12
OUTAGE = (dt.datetime(2026, 3, 4, 9, 0), dt.datetime(2026, 3, 4, 13, 0))      # no rows
ANALYSER_TIMEOUT = (dt.datetime(2026, 3, 6, 2, 0), dt.datetime(2026, 3, 6, 8, 30))
REBOILER_TRIP = (dt.datetime(2026, 3, 7, 15, 0), dt.datetime(2026, 3, 7, 16, 30))
STEADY_FROM = REBOILER_TRIP[1]  # restarted, the unit runs clean to the week's end
SCATTERED = ["Bad Input", "Calc Failed", "No Data", "Comm Fail"]


def main() -> None:
    out = sys.argv[1] if len(sys.argv) > 1 else "examples/distillation_week.csv"
    rng = random.Random(20260302)
    duplicated = set(rng.sample(range(ROWS), 6))
    lines = ["Timestamp," + ",".join(t[0] for t in TAGS), "Units," + ",".join(t[1] for t in TAGS)]
    for r in range(ROWS):
        at = START + r * STEP
        if OUTAGE[0] <= at < OUTAGE[1]:
            continue
        hour = at.hour + at.minute / 60.0
        cells = []
        for tag, _, mean, noise, swing in TAGS:
            value = mean + swing * math.sin(2 * math.pi * (hour - 6) / 24) + rng.gauss(0, noise)
            cell = f"{value:.2f}"
            if tag.startswith("AI107") and ANALYSER_TIMEOUT[0] <= at < ANALYSER_TIMEOUT[1]:
                cell = "I/O Timeout"
            elif tag in ("TIC103.PV", "FI106") and REBOILER_TRIP[0] <= at < REBOILER_TRIP[1]:
                cell = "Shutdown"
            elif rng.random() < 0.002:
                cell = rng.choice(SCATTERED) if at < STEADY_FROM else cell
            elif rng.random() < 0.004:
                cell = "" if at < STEADY_FROM else cell
            cells.append(cell)
        line = at.strftime("%Y-%m-%d %H:%M:%S") + "," + ",".join(cells)
        lines.append(line)
        if r in duplicated:
            lines.append(line)
    with open(out, "w", newline="") as file:
        file.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
