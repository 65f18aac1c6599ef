"""nolt: profile, describe, validate and compare tabular datasets.

Every function takes a dataset in the form you have it:

- a pandas DataFrame, a polars DataFrame or a pyarrow Table (logical types come from the
  column types: integers, floats, booleans, text, categoricals, dates and times);
- a dict of columns ``{"name": [cells...]}`` or a list of records ``[{"name": cell}, ...]``,
  each with ``types=`` naming the logical type of every column;
- the core's own list of column tuples ``(name, logical_type, cells[, typed])``.

``types=`` (a mapping of column name to logical type) also overrides the type a data frame
suggests for a column. The functions return the native module's dictionaries unchanged.
The data-frame libraries are optional: nothing here imports them until a frame of theirs
is passed in.
"""

from __future__ import annotations

import os
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any

import _nolt_core

from nolt._adapters import (
    LOGICAL_TYPES,
    Types,
    check_types,
    from_arrow,
    from_column_tuples,
    from_dict,
    from_pandas,
    from_polars,
    from_records,
    to_columns,
)
from nolt._version import __version__ as __version__

if TYPE_CHECKING:
    from _nolt_core import (
        ColumnTuple,
        DatasetComparison,
        DatasetProfile,
        DriftReport,
        Inspection,
        ObservedSchema,
        SchemaColumnTuple,
        SuggestedSchema,
        ValidationReport,
    )

__all__ = [
    "LOGICAL_TYPES",
    "compare",
    "drift",
    "from_arrow",
    "from_column_tuples",
    "from_dict",
    "from_pandas",
    "from_polars",
    "from_records",
    "inspect",
    "observed_schema",
    "profile",
    "report",
    "save_schema",
    "schema_columns",
    "suggest_schema",
    "to_columns",
    "validate",
    "version",
]


def version() -> str:
    """The version of the native core's contract, for example "0.4.1" (``__version__`` is the package's)."""
    return _nolt_core.version()


def _datasets(types: Types | None, *datasets: object) -> list[list[ColumnTuple]]:
    """Converts each dataset; a name in ``types`` that no dataset has is an error (a typo)."""
    converted = [to_columns(data, types) for data in datasets]
    if types:
        names = {column[0] for columns in converted for column in columns}
        for name in check_types(types):
            if name not in names:
                raise ValueError(f"types names column '{name}', which the data does not have")
    return converted


def _path(path: str | os.PathLike[str]) -> str:
    text = os.fspath(path)
    if not isinstance(text, str):
        raise TypeError(f"a path must be text, not {type(text).__name__}")
    return text


def profile(data: object, *, types: Types | None = None) -> DatasetProfile:
    """Row count and, per column, counts, null and distinct counts and numeric statistics."""
    (columns,) = _datasets(types, data)
    return _nolt_core.profile_dataset(columns)


def observed_schema(data: object, *, types: Types | None = None) -> ObservedSchema:
    """What the data shows per column: nullability, distinct count, range, distinct values."""
    (columns,) = _datasets(types, data)
    return _nolt_core.observed_schema_dataset(columns)


def suggest_schema(data: object, *, types: Types | None = None) -> SuggestedSchema:
    """The schema future data should meet: nullability and, for categoricals, allowed values."""
    (columns,) = _datasets(types, data)
    return _nolt_core.suggest_schema_dataset(columns)


def inspect(data: object, *, types: Types | None = None) -> Inspection:
    """Profile, observed schema and suggested schema from one pass over the data."""
    (columns,) = _datasets(types, data)
    return _nolt_core.inspect_dataset(columns)


def save_schema(data: object, path: str | os.PathLike[str], *, types: Types | None = None) -> None:
    """Writes the suggested schema of the data to a JSON file at ``path``."""
    (columns,) = _datasets(types, data)
    _nolt_core.save_suggested_schema_dataset(columns, _path(path))


def schema_columns(schema: SuggestedSchema) -> list[SchemaColumnTuple]:
    """The schema-column tuples of a suggested schema dictionary (as suggest_schema returns)."""
    result: list[SchemaColumnTuple] = []
    for column in schema["columns"]:
        constraints = column["constraints"]
        numeric_range = constraints["numeric_range"]
        bounds = None if numeric_range is None else (numeric_range["min"], numeric_range["max"])
        result.append((column["name"], column["logical_type"], column["nullable"], bounds, constraints["allowed_values"]))
    return result


def validate(
    data: object,
    schema: str | os.PathLike[str] | SuggestedSchema | Sequence[SchemaColumnTuple],
    *,
    types: Types | None = None,
) -> ValidationReport:
    """Checks the data against a schema and reports the issues; invalid data never raises.

    ``schema`` is the path of a schema file (as save_schema writes it), a suggested schema
    dictionary, or a list of ``(name, logical_type, nullable, (min, max) | None,
    allowed_values | None)`` tuples.
    """
    (columns,) = _datasets(types, data)
    if isinstance(schema, (str, os.PathLike)):
        return _nolt_core.validate_dataset_file(columns, _path(schema))
    if isinstance(schema, Mapping):
        return _nolt_core._validate_dataset_schema(columns, schema_columns(schema))
    schema_list: Any = schema
    return _nolt_core._validate_dataset_schema(columns, schema_list)


def compare(before: object, after: object, *, types: Types | None = None) -> DatasetComparison:
    """Column by column, what changed in the observed schema from ``before`` to ``after``."""
    before_columns, after_columns = _datasets(types, before, after)
    return _nolt_core.compare_datasets(before_columns, after_columns)


def drift(before: object, after: object, *, types: Types | None = None) -> DriftReport:
    """Schema drift from ``before`` to ``after``: columns added or removed, type and null changes."""
    before_columns, after_columns = _datasets(types, before, after)
    return _nolt_core.schema_drift_datasets(before_columns, after_columns)


# The report builds on the functions above, so it is imported last.
from nolt.report import report  # noqa: E402
