"""From a historian export to a verdict: a week of a distillation unit, profiled and graded.

Reads examples/distillation_week.csv (written by make_distillation_export.py), prints the
verdict with its findings, checks the export's units against the units a model expects, and
writes the HTML report. Run from the repository root after `pip install .`:

    python examples/quickstart.py
"""
from pathlib import Path

import qorv_chemical_engineering as qce
import qorv_chemical_engineering_edge as edge

EXPORT = Path(__file__).with_name("distillation_week.csv")
REPORT = Path("distillation_week_report.html")

# What the export cannot show is declared: the operator cleared the data for analysis, and the
# second day is the known-good window the baseline is fitted on.
report = edge.grade_export(
    EXPORT,
    license_cleared=True,
    baseline=("2026-03-03 00:00", "2026-03-04 00:00"),
)
print(report)

# The same verdict and seal from the module's own court, given the profile's thirteen values.
summary = qce.grade_readiness(**report.profile_arguments)
assert summary["court_hash"] == report.court_hash
print(f"\ngrade_readiness agrees: {summary['verdict']}, seal {summary['court_hash'][:16]}…")

# The units in the export against the units the column model was built with.
expected = {"TI101": "K", "PI101": "kPa", "FI105": "m3/h", "FI106": "kg/h", "AI108": "mg/kg"}
units = edge.check_tag_units({t.name: t.unit for t in report.profile.tags}, expected)
print()
print(units)

REPORT.write_text(report.to_html(), encoding="utf-8")
print(f"\nHTML report written to {REPORT.resolve()}")
