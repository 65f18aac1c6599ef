"""Type stubs of the native module: its ten functions and its internal-fault class.

The shapes of the arguments and results are defined once, in ``nolt.types`` (installed with
this module), and re-exported here under the same names.
"""

from collections.abc import Sequence

from nolt.types import Cell as Cell
from nolt.types import ColumnChange as ColumnChange
from nolt.types import ColumnComparison as ColumnComparison
from nolt.types import ColumnProfile as ColumnProfile
from nolt.types import ColumnTuple as ColumnTuple
from nolt.types import ComparisonStatus as ComparisonStatus
from nolt.types import Dataset as Dataset
from nolt.types import DatasetComparison as DatasetComparison
from nolt.types import DatasetProfile as DatasetProfile
from nolt.types import DriftCode as DriftCode
from nolt.types import DriftIssue as DriftIssue
from nolt.types import DriftReport as DriftReport
from nolt.types import Inspection as Inspection
from nolt.types import IssueCode as IssueCode
from nolt.types import LogicalTypeName as LogicalTypeName
from nolt.types import NumericRange as NumericRange
from nolt.types import NumericStats as NumericStats
from nolt.types import ObservedColumn as ObservedColumn
from nolt.types import ObservedRange as ObservedRange
from nolt.types import ObservedSchema as ObservedSchema
from nolt.types import PlainColumn as PlainColumn
from nolt.types import SchemaColumnTuple as SchemaColumnTuple
from nolt.types import Severity as Severity
from nolt.types import SuggestedColumn as SuggestedColumn
from nolt.types import SuggestedConstraints as SuggestedConstraints
from nolt.types import SuggestedSchema as SuggestedSchema
from nolt.types import TypedColumn as TypedColumn
from nolt.types import ValidationIssue as ValidationIssue
from nolt.types import ValidationReport as ValidationReport

__all__: list[str]

class InternalFault(BaseException):
    """A broken internal invariant of the module (never caused by any input)."""

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
