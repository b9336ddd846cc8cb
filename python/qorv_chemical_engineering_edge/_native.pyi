# The native module's entry points. The package checks every argument before calling these.
from typing import List, Optional, Tuple

def grade(
    n_tags: int,
    n_rows: int,
    baseline_present: bool,
    license_cleared: bool,
    missingness: float,
    unit_coverage: float,
    duplicate_timestamps: float,
    time_span_hours: float,
    sampling_regular: bool,
    has_controllers: bool,
    has_maintenance: bool,
    has_batches: bool,
    has_lab_samples: bool,
    /,
) -> Tuple[str, int, int, str, List[Tuple[str, str, str]]]: ...

_Assertion = Tuple[str, str, str, str, str, bool]
_UnitCourt = Tuple[int, int, int, str, List[Tuple[str, ...]]]

def check_units_v1(assertions: List[_Assertion], /) -> Tuple[int, int, int, str, List[Tuple[str, str, str, str, str, str]]]: ...
def parse_unit_v1(text: str, /) -> Optional[Tuple[str, float, float, str, Tuple[int, int, int, int, int]]]: ...
