"""Type stubs of nolt's engine module (private: only nolt._api calls it).

A dataset argument is a list of column tuples, an object exporting Arrow data, or an Arrow plan
dict (see nolt._api); ``threads`` is the thread count, or None for every usable CPU.
"""

from typing import Any, Literal, overload

from nolt.types import (
    DatasetComparison,
    DatasetProfile,
    DetailedProfile,
    DriftReport,
    Inspection,
    ObservedSchema,
    SuggestedSchema,
    ValidationReport,
)

@overload
def profile(columns: Any, threads: int | None, details: Literal[False] = False, /) -> DatasetProfile: ...
@overload
def profile(columns: Any, threads: int | None, details: Literal[True], /) -> DetailedProfile: ...
def observed_schema(columns: Any, threads: int | None) -> ObservedSchema: ...
def suggest_schema(columns: Any, threads: int | None) -> SuggestedSchema: ...
def inspect(columns: Any, threads: int | None) -> Inspection: ...
def save_schema(columns: Any, path: str, threads: int | None) -> None: ...
def compare(before_columns: Any, after_columns: Any, threads: int | None) -> DatasetComparison: ...
def drift(before_columns: Any, after_columns: Any, threads: int | None) -> DriftReport: ...
def validate(columns: Any, schema_path: str | None, schema_columns: Any, failure_cases: bool, /) -> ValidationReport: ...
