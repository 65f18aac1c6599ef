"""Type stubs of the native module: the ten functions and the shape of every result."""

from collections.abc import Iterable, Sequence
from typing import Literal, TypeAlias, TypedDict

__all__: list[str]

LogicalTypeName: TypeAlias = Literal[
    "integer", "float", "boolean", "string", "datetime", "categorical", "unknown"
]
Cell: TypeAlias = None | bool | int | float | str

# One column: (name, logical type, cells), or (name, logical type, cells, typed) where
# typed=True converts each cell by the declared type (a NaN in a float column becomes null).
PlainColumn: TypeAlias = tuple[str, str, Iterable[Cell]]
TypedColumn: TypeAlias = tuple[str, str, Iterable[object], bool]
ColumnTuple: TypeAlias = PlainColumn | TypedColumn
Dataset: TypeAlias = Sequence[ColumnTuple]

# (name, logical type, nullable, (min, max) or None, allowed values or None)
SchemaColumnTuple: TypeAlias = tuple[
    str, str, bool, tuple[float | None, float | None] | None, Sequence[str | bool] | None
]

# -- profile_dataset ---------------------------------------------------------------------


class NumericStats(TypedDict):
    min: float
    max: float
    mean: float
    median: float
    p25: float
    p50: float
    p75: float


class ColumnProfile(TypedDict):
    name: str
    logical_type: LogicalTypeName
    count: int
    null_count: int
    unique_count: int
    numeric_stats: NumericStats | None


class DatasetProfile(TypedDict):
    row_count: int
    columns: list[ColumnProfile]


# -- observed_schema_dataset --------------------------------------------------------------


class ObservedRange(TypedDict):
    min: float
    max: float


class ObservedColumn(TypedDict):
    name: str
    logical_type: LogicalTypeName
    observed_nullable: bool
    observed_unique_count: int
    observed_range: ObservedRange | None
    observed_values: list[bool | str] | None


class ObservedSchema(TypedDict):
    row_count: int
    columns: list[ObservedColumn]


# -- suggest_schema_dataset ---------------------------------------------------------------


class NumericRange(TypedDict):
    min: float | None
    max: float | None


class SuggestedConstraints(TypedDict):
    numeric_range: NumericRange | None
    allowed_values: list[str | bool] | None


class SuggestedColumn(TypedDict):
    name: str
    logical_type: LogicalTypeName
    nullable: bool
    constraints: SuggestedConstraints


class SuggestedSchema(TypedDict):
    columns: list[SuggestedColumn]


# -- inspect_dataset ----------------------------------------------------------------------


class Inspection(TypedDict):
    profile: DatasetProfile
    observed_schema: ObservedSchema
    suggested_schema: SuggestedSchema


# -- validate_dataset_file, _validate_dataset_schema ----------------------------------------

IssueCode: TypeAlias = Literal[
    "missing_column",
    "unexpected_column",
    "type_mismatch",
    "null_not_allowed",
    "value_not_allowed",
    "range_violation",
]
Severity: TypeAlias = Literal["warning", "error"]


class ValidationIssue(TypedDict):
    code: IssueCode
    severity: Severity
    column: str | None
    expected: str | bool | None
    observed: str | bool | None


class ValidationReport(TypedDict):
    is_valid: bool
    error_count: int
    warning_count: int
    issues: list[ValidationIssue]


# -- compare_datasets ---------------------------------------------------------------------

ComparisonStatus: TypeAlias = Literal["added", "removed", "changed", "unchanged"]
ColumnChange: TypeAlias = Literal[
    "logical_type_changed",
    "nullability_changed",
    "unique_count_changed",
    "range_changed",
    "observed_values_changed",
]


class ColumnComparison(TypedDict):
    name: str
    status: ComparisonStatus
    before: ObservedColumn | None
    after: ObservedColumn | None
    changes: list[ColumnChange]


class DatasetComparison(TypedDict):
    before_row_count: int
    after_row_count: int
    has_changes: bool
    row_count_changed: bool
    added_count: int
    removed_count: int
    changed_count: int
    unchanged_count: int
    column_count_before: int
    column_count_after: int
    columns: list[ColumnComparison]


# -- schema_drift_datasets ----------------------------------------------------------------

DriftCode: TypeAlias = Literal[
    "column_added", "column_removed", "logical_type_changed", "nullability_changed"
]


class DriftIssue(TypedDict):
    code: DriftCode
    severity: Severity
    column: str


class DriftReport(TypedDict):
    has_drift: bool
    warning_count: int
    error_count: int
    issues: list[DriftIssue]


# -- functions ----------------------------------------------------------------------------


def version() -> str: ...
def profile_dataset(columns: Dataset) -> DatasetProfile: ...
def observed_schema_dataset(columns: Dataset) -> ObservedSchema: ...
def suggest_schema_dataset(columns: Dataset) -> SuggestedSchema: ...
def inspect_dataset(columns: Dataset) -> Inspection: ...
def save_suggested_schema_dataset(columns: Dataset, path: str) -> None: ...
def validate_dataset_file(columns: Dataset, schema_path: str) -> ValidationReport: ...
def _validate_dataset_schema(
    columns: Dataset, schema_columns: Sequence[SchemaColumnTuple]
) -> ValidationReport: ...
def compare_datasets(before_columns: Dataset, after_columns: Dataset) -> DatasetComparison: ...
def schema_drift_datasets(before_columns: Dataset, after_columns: Dataset) -> DriftReport: ...
