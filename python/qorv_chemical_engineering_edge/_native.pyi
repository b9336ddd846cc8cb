# The native module's entry points. The package checks every argument before calling these.
from typing import Any, Callable, Dict, List, Optional, Tuple

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
def check_units_v2(assertions: List[_Assertion], /) -> Tuple[int, int, int, str, List[Tuple[str, str, str, str, str, str, float, float]]]: ...
def parse_unit_v2(text: str, /) -> Optional[Tuple[str, float, float, str, Tuple[int, int, int, int, int, int], str, str, str]]: ...

_Options = Dict[str, Any]
def profile_files(paths: List[str], options: _Options, progress: Optional[Callable[[int, int], None]], /) -> Dict[str, Any]: ...
def profile_stream(capsule: object, label: str, options: _Options, /) -> Dict[str, Any]: ...
def scan_ranges(data: bytes, label: str, options: _Options, n: int, /) -> List[Tuple[int, List[Tuple[str, int, int, Optional[int], Optional[int]]]]]: ...
