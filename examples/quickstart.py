"""Grade a historian export and check a few unit pairings before trusting them."""

import math

import qorv_chemical_engineering as qce

print("qorv_chemical_engineering", qce.version())

# A week of a distillation unit's historian export: 412 tags at one-minute resolution, a
# normal-operation window marked, cleared by the operator, 3.2 % of samples missing, 87 % of
# tags with an engineering unit and a controller map, but no maintenance log, batches or lab data.
export = qce.grade_readiness(
    n_tags=412,
    n_rows=10_080,
    baseline_present=True,
    license_cleared=True,
    missingness=0.032,
    unit_coverage=0.87,
    duplicate_timestamps=0.0004,
    time_span_hours=168.0,
    has_controllers=True,
)
print()
print("historian export")
for key, value in export.items():
    print(f"  {key:<20} {value}")

# The same profile with the time span not known (NaN, as when it is left out): one more
# caveat, and so a different seal.
unknown_span = qce.grade_readiness(
    412, 10_080, True, True, 0.032, 0.87, 0.0004, math.nan, has_controllers=True
)
print(f"  {'span unknown':<20} {unknown_span['n_caveat']} caveats, seal {unknown_span['court_hash'][:16]}...")

print()
print("unit pairings (compared as the same quantity)")
pairs = [
    ("kg/h", "KG/H"),
    ("kPa", "Pa"),
    ("degC", "K"),
    ("degF", "K"),
    ("bar", "kg/s"),
    ("wt%", "mol%"),
    ("m^3/h", "m3/h"),
    ("furlong", "m"),
]
for a, b in pairs:
    print(f"  {a!r:>10} vs {b!r:<8} {qce.classify_unit_pair(a, b)}")
