"""The shapes of nolt's arguments and results, for annotating code that uses them.

Every result is a plain ``dict``; the names below are ``TypedDict``s that say which keys it
has (in the order they come) and what each holds, so a type checker can follow them::

    from nolt.types import DatasetProfile

    def null_counts(profile: DatasetProfile) -> dict[str, int]:
        return {column["name"]: column["null_count"] for column in profile["columns"]}

The names exist at run time too (``TypedDict`` classes and type aliases), so they can be
imported without ``TYPE_CHECKING``. The native module's type stubs use these same definitions.
"""

from collections.abc import Iterable, Sequence
from typing import Literal, NotRequired, TypeAlias, TypedDict

__all__ = [
    "BooleanDetails",
    "Cell",
    "ColumnChange",
    "ColumnComparison",
    "ColumnDetails",
    "ColumnProfile",
    "ColumnTuple",
    "ComparisonStatus",
    "Dataset",
    "DatasetComparison",
    "DatasetProfile",
    "DatetimeDetails",
    "DetailedColumnProfile",
    "DetailedProfile",
    "DriftCode",
    "DriftIssue",
    "DriftReport",
    "FloatDetails",
    "Inspection",
    "IntegerDetails",
    "IssueCode",
    "LogicalTypeName",
    "NumericRange",
    "NumericStats",
    "ObservedColumn",
    "ObservedRange",
    "ObservedSchema",
    "PlainColumn",
    "SchemaColumnTuple",
    "Severity",
    "SuggestedColumn",
    "SuggestedConstraints",
    "SuggestedSchema",
    "TextDetails",
    "TopValue",
    "TypedColumn",
    "ValidationIssue",
    "ValidationReport",
]

LogicalTypeName: TypeAlias = Literal["integer", "float", "boolean", "string", "datetime", "categorical", "unknown"]
Cell: TypeAlias = None | bool | int | float | str

# One column: (name, logical type, cells), or (name, logical type, cells, typed) where
# typed=True converts each cell by the declared type (a NaN in a float column becomes null).
PlainColumn: TypeAlias = tuple[str, str, Iterable[Cell]]
TypedColumn: TypeAlias = tuple[str, str, Iterable[object], bool]
ColumnTuple: TypeAlias = PlainColumn | TypedColumn
Dataset: TypeAlias = Sequence[ColumnTuple]

# (name, logical type, nullable, (min, max) or None, allowed values or None)
SchemaColumnTuple: TypeAlias = tuple[str, str, bool, tuple[float | None, float | None] | None, Sequence[str | bool] | None]

# -- profile ------------------------------------------------------------------------------


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


# -- profile details (nolt.profile) ---------------------------------------------------------


class IntegerDetails(TypedDict):
    zero_count: int
    negative_count: int


class FloatDetails(TypedDict):
    nan_count: int
    positive_infinity_count: int
    negative_infinity_count: int
    zero_count: int  # finite values; -0.0 is a zero
    negative_count: int  # finite values below zero


class BooleanDetails(TypedDict):
    true_count: int
    false_count: int


class TopValue(TypedDict):
    value: str | int | float | bool
    count: int


class TextDetails(TypedDict):
    min_length: int | None  # in code points; None without any text
    max_length: int | None
    top_values: list[TopValue]  # at most five, by count, ties by first appearance


class DatetimeDetails(TypedDict):
    earliest: str | None  # the cell's text; None when empty or mixing kinds
    latest: str | None
    naive_count: int
    aware_count: int
    time_count: int
    invalid_count: int


ColumnDetails: TypeAlias = IntegerDetails | FloatDetails | BooleanDetails | TextDetails | DatetimeDetails


class DetailedColumnProfile(ColumnProfile):
    details: ColumnDetails | None  # None for "unknown" columns


class DetailedProfile(TypedDict):
    row_count: int
    columns: list[DetailedColumnProfile]


# -- observed schema ----------------------------------------------------------------------


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


# -- suggested schema ---------------------------------------------------------------------


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


# -- inspection ---------------------------------------------------------------------------


class Inspection(TypedDict):
    profile: DatasetProfile
    observed_schema: ObservedSchema
    suggested_schema: SuggestedSchema


# -- validation ---------------------------------------------------------------------------

IssueCode: TypeAlias = Literal[
    "missing_column",
    "unexpected_column",
    "type_mismatch",
    "null_not_allowed",
    "value_not_allowed",
    "range_violation",
    "unreadable_value",  # nolt's: cells that cannot be read as the column's type
]
Severity: TypeAlias = Literal["warning", "error"]


class ValidationIssue(TypedDict):
    code: IssueCode
    severity: Severity
    column: str | None
    expected: str | bool | None
    observed: str | bool | None
    # With failure_cases=True: the rows failing the issue, the first 20 of them (0-based), and
    # for range_violation and unreadable_value the cells of those rows.
    failure_count: NotRequired[int]
    failure_rows: NotRequired[list[int]]
    failure_values: NotRequired[list[int | float | bool | str] | None]
    # range_violation with failure_cases=True: the bounds and how many cells cross each.
    min: NotRequired[float | None]
    max: NotRequired[float | None]
    below_min_count: NotRequired[int]
    above_max_count: NotRequired[int]


class ValidationReport(TypedDict):
    is_valid: bool
    error_count: int
    warning_count: int
    issues: list[ValidationIssue]


# -- comparison ---------------------------------------------------------------------------

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


# -- schema drift -------------------------------------------------------------------------

DriftCode: TypeAlias = Literal["column_added", "column_removed", "logical_type_changed", "nullability_changed"]


class DriftIssue(TypedDict):
    code: DriftCode
    severity: Severity
    column: str


class DriftReport(TypedDict):
    has_drift: bool
    warning_count: int
    error_count: int
    issues: list[DriftIssue]
