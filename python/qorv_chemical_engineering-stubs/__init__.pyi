# Types of the module `qorv_chemical_engineering`, a single stable-ABI extension module.
from typing import List, Literal, SupportsFloat, SupportsIndex, TypedDict, Union

__all__: List[str]

class ReadinessSummary(TypedDict):
    verdict: Literal["Ready", "ReadyWithCaveats", "NotReadyMissingCriticalWitnesses"]
    n_caveat: int
    n_critical_missing: int
    court_hash: str

UnitHazard = Literal[
    "consistent",
    "scale_mismatch",
    "affine_offset_hazard",
    "dimension_mismatch",
    "basis_mismatch",
    "unknown_unit",
]

def version() -> str: ...
def classify_unit_pair(a: str, b: str) -> UnitHazard: ...
def grade_readiness(
    n_tags: SupportsIndex,
    n_rows: SupportsIndex,
    baseline_present: bool,
    license_cleared: bool,
    missingness: Union[SupportsFloat, SupportsIndex],
    unit_coverage: Union[SupportsFloat, SupportsIndex],
    duplicate_timestamps: Union[SupportsFloat, SupportsIndex] = ...,
    time_span_hours: Union[SupportsFloat, SupportsIndex] = ...,
    sampling_regular: bool = ...,
    has_controllers: bool = ...,
    has_maintenance: bool = ...,
    has_batches: bool = ...,
    has_lab_samples: bool = ...,
) -> ReadinessSummary: ...
