"""The one road from nolt to the native core.

The public functions, the command line and the report all come through here: datasets are
prepared (any supported container, with ``types=``), schema arguments are read (a path, a
suggested-schema dict or schema tuples), and every computation is one call below. No other
module calls the core's computations.
"""

from __future__ import annotations

import os
from collections.abc import Mapping, Sequence
from typing import Any

import _nolt_core

import nolt._engine as _engine
from nolt._adapters import to_columns
from nolt._columns import Types, check_types
from nolt.types import (
    ColumnTuple,
    DatasetComparison,
    DetailedProfile,
    DriftReport,
    Inspection,
    ObservedSchema,
    SchemaColumnTuple,
    SuggestedSchema,
    ValidationReport,
)

# What ``validate`` and ``report`` take as a schema.
SchemaArgument = str | os.PathLike[str] | SuggestedSchema | Sequence[SchemaColumnTuple]

# Raised by the core for a broken internal invariant; it derives from BaseException.
InternalFault = _nolt_core.InternalFault


def prepare(types: Types | None, *datasets: object) -> list[list[ColumnTuple]]:
    """Converts each dataset; a name in ``types`` that no dataset has is an error (a typo)."""
    converted = [to_columns(data, types) for data in datasets]
    if types:
        names = {column[0] for columns in converted for column in columns}
        for name in check_types(types):
            if name not in names:
                raise ValueError(f"types names column '{name}', which the data does not have")
    return converted


def path_text(path: str | os.PathLike[str]) -> str:
    """The path as text; a path-like object that gives bytes is refused."""
    text = os.fspath(path)
    if not isinstance(text, str):
        raise TypeError(f"a path must be text, not {type(text).__name__}")
    return text


def schema_columns(schema: SuggestedSchema) -> list[SchemaColumnTuple]:
    """The schema-column tuples of a suggested schema dictionary (as suggest_schema returns)."""
    result: list[SchemaColumnTuple] = []
    for column in schema["columns"]:
        constraints = column["constraints"]
        numeric_range = constraints["numeric_range"]
        bounds = None if numeric_range is None else (numeric_range["min"], numeric_range["max"])
        result.append((column["name"], column["logical_type"], column["nullable"], bounds, constraints["allowed_values"]))
    return result


# -- the computations ------------------------------------------------------------------------


def core_version() -> str:
    return _nolt_core.version()


def profile(columns: list[ColumnTuple]) -> DetailedProfile:
    """The core's profile with each column's details, from one conversion of the columns."""
    return _engine.profile(columns, True)


def observed_schema(columns: list[ColumnTuple]) -> ObservedSchema:
    return _nolt_core.observed_schema_dataset(columns)


def suggest_schema(columns: list[ColumnTuple]) -> SuggestedSchema:
    return _nolt_core.suggest_schema_dataset(columns)


def inspect(columns: list[ColumnTuple]) -> Inspection:
    return _nolt_core.inspect_dataset(columns)


def save_schema(columns: list[ColumnTuple], path: str | os.PathLike[str]) -> None:
    _nolt_core.save_suggested_schema_dataset(columns, path_text(path))


def validate(columns: list[ColumnTuple], schema: SchemaArgument) -> ValidationReport:
    """Validates against a schema file, a suggested-schema dict or a sequence of schema tuples."""
    if isinstance(schema, (str, os.PathLike)):
        return _nolt_core.validate_dataset_file(columns, path_text(schema))
    if isinstance(schema, Mapping):
        return _nolt_core._validate_dataset_schema(columns, schema_columns(schema))
    schema_list: Any = schema  # anything else goes to the core, which says what is wrong with it
    return _nolt_core._validate_dataset_schema(columns, schema_list)


def compare(before: list[ColumnTuple], after: list[ColumnTuple]) -> DatasetComparison:
    return _nolt_core.compare_datasets(before, after)


def drift(before: list[ColumnTuple], after: list[ColumnTuple]) -> DriftReport:
    return _nolt_core.schema_drift_datasets(before, after)
