"""The one road from nolt to the native core.

The public functions, the command line and the report all come through here: datasets are
prepared (any supported container, with ``types=``), schema arguments are read (a path, a
suggested-schema dict or schema tuples), and every computation is one call below. No other
module calls the core's computations.
"""

from __future__ import annotations

import importlib
import json
import os
from collections.abc import Mapping, Sequence, Sized
from typing import Any

import _nolt_core

from nolt._adapters import to_columns
from nolt._columns import LOGICAL_TYPES, Types, check_types
from nolt.types import (
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

# What ``validate`` and ``report`` take as a schema.
SchemaArgument = str | os.PathLike[str] | SuggestedSchema | Sequence[SchemaColumnTuple]

# Raised by the core for a broken internal invariant; it derives from BaseException.
InternalFault = _nolt_core.InternalFault


def prepare(types: Types | None, *datasets: object, schema_types: Mapping[str, str] | None = None,
            tolerant: bool = False) -> list[list[ColumnTuple]]:
    """Converts each dataset; a name in ``types`` that no dataset has is an error (a typo).

    ``schema_types`` declares the columns a schema names, where ``types`` does not; it may name
    columns the data does not have. ``tolerant`` is to_columns' (reading for validation).
    """
    declared = check_types(types)
    merged = {**(schema_types or {}), **declared}
    converted = [to_columns(data, merged or types, tolerant=tolerant) for data in datasets]
    if declared:
        names = {column[0] for columns in converted for column in columns}
        for name in declared:
            if name not in names:
                raise ValueError(f"types names column '{name}', which the data does not have")
    return converted


def schema_types(schema: object) -> dict[str, str]:
    """The logical type of each column a schema names (the first of a repeated name): the types
    the data is read as for validation. "unknown" columns are left to the data. A schema that
    cannot be read gives no types here; validating against it raises its error."""
    entries: Any
    if isinstance(schema, (str, os.PathLike)):
        try:
            with open(os.fspath(schema), "rb") as handle:
                entries = json.load(handle)["schema"]["columns"]
        except (OSError, ValueError, TypeError, KeyError):
            return {}
        pairs = [(entry.get("name"), entry.get("logical_type")) for entry in entries if isinstance(entry, Mapping)]
    elif isinstance(schema, Mapping):
        entries = schema.get("columns")
        pairs = [(entry.get("name"), entry.get("logical_type")) for entry in entries or () if isinstance(entry, Mapping)]
    elif isinstance(schema, Sequence) and not isinstance(schema, (str, bytes)):
        pairs = [(entry[0], entry[1]) for entry in schema if isinstance(entry, tuple) and len(entry) == 5]
    else:
        return {}
    types: dict[str, str] = {}
    for name, logical_type in pairs:
        if isinstance(name, str) and logical_type in LOGICAL_TYPES and logical_type != "unknown":
            types.setdefault(name, logical_type)
    return types


def row_count(columns: list[ColumnTuple]) -> int:
    """The rows of converted columns: the longest column's (cells without a length count 0)."""
    lengths = [len(cells) for cells in (column[2] for column in columns) if isinstance(cells, Sized)]
    return max(lengths, default=0)


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


def profile(columns: list[ColumnTuple]) -> DatasetProfile:
    return _nolt_core.profile_dataset(columns)


def observed_schema(columns: list[ColumnTuple]) -> ObservedSchema:
    return _nolt_core.observed_schema_dataset(columns)


def suggest_schema(columns: list[ColumnTuple]) -> SuggestedSchema:
    return _nolt_core.suggest_schema_dataset(columns)


def inspect(columns: list[ColumnTuple]) -> Inspection:
    return _nolt_core.inspect_dataset(columns)


def save_schema(columns: list[ColumnTuple], path: str | os.PathLike[str]) -> None:
    _nolt_core.save_suggested_schema_dataset(columns, path_text(path))


def validate(columns: list[ColumnTuple], schema: SchemaArgument, failure_cases: bool = False) -> ValidationReport:
    """Validates against a schema file, a suggested-schema dict or a sequence of schema tuples.

    The core's report, plus an "unreadable_value" issue for each column with cells that cannot
    be read as its type; ``failure_cases`` adds to every issue the rows that fail it.
    """
    engine: Any = importlib.import_module("nolt._engine")  # compiled; imported once it is needed
    report: ValidationReport
    if isinstance(schema, (str, os.PathLike)):
        report = engine.validate(columns, path_text(schema), None, failure_cases)
    elif isinstance(schema, Mapping):
        report = engine.validate(columns, None, schema_columns(schema), failure_cases)
    else:  # anything else goes to the engine, which says what is wrong with it as the core does
        report = engine.validate(columns, None, schema, failure_cases)
    return report


def compare(before: list[ColumnTuple], after: list[ColumnTuple]) -> DatasetComparison:
    return _nolt_core.compare_datasets(before, after)


def drift(before: list[ColumnTuple], after: list[ColumnTuple]) -> DriftReport:
    return _nolt_core.schema_drift_datasets(before, after)
