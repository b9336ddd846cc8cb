"""qorv_chemical_engineering_edge: the core library in full, from Python and the command line.

The module `qorv_chemical_engineering` offers three functions with fixed texts; this package
offers everything behind them: the readiness court with its findings (`grade`), the unit courts
over many assertions (`check_units`, `parse_unit`), and the way from a historian export to a
verdict (`profile_export`, `grade_export`). Results print as tables and serialise to JSON (a
versioned schema, `schema.json` in this package) and to a self-contained HTML report.
"""
from ._render import SCHEMA_VERSION
from . import _version
from ._availability import Availability
from .profile import (
    ContextSource,
    ExportProfile,
    ExportReport,
    FileSummary,
    ReadingFact,
    ProfileNotes,
    ProfileValue,
    TagEvidence,
    grade_export,
    profile_export,
)
from .readiness import Finding, ReadinessRecord, grade
from .units import (
    ParsedUnit,
    UnitAssertion,
    UnitCourtRecord,
    UnitFinding,
    check_tag_units,
    check_units,
    parse_unit,
)

__version__ = _version.version()

__all__ = [
    "SCHEMA_VERSION",
    "Availability",
    "ContextSource",
    "ExportProfile",
    "ExportReport",
    "FileSummary",
    "Finding",
    "ProfileNotes",
    "ProfileValue",
    "ReadingFact",
    "TagEvidence",
    "grade_export",
    "profile_export",
    "ParsedUnit",
    "ReadinessRecord",
    "UnitAssertion",
    "UnitCourtRecord",
    "UnitFinding",
    "check_tag_units",
    "check_units",
    "grade",
    "parse_unit",
]
