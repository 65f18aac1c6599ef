"""From the containers people have to the column tuples the core takes.

``to_columns`` tells the container kinds apart: data frames and tables go through their
library's backend (``_pandas``, ``_polars``, ``_arrow``, see ``_columns`` for what a backend
does), dicts of columns, lists of records and the core's own column tuples are read here.
No data-frame library is imported until a container of theirs is passed in.
"""

from __future__ import annotations

import operator
from collections.abc import Iterable, Mapping, Sequence
from typing import Any

from nolt import _arrow, _pandas, _polars
from nolt._readers import tolerant_cells
from nolt._columns import TEXT_TYPES, Backend, BeyondInt64, NoTextForm, Types, check_types, iso_cell, name_problems
from nolt.types import ColumnTuple


def build_column(backend: Backend, name: str, column: Any, declared: str | None, tolerant: bool = False) -> ColumnTuple:
    """One column tuple: the container's own type unless ``declared`` says otherwise.

    With ``tolerant``, a column that cannot be cast to the declared type as a whole is read
    cell by cell: the cells that fit as the type, the others as their text (which validation
    reports as unreadable)."""
    try:
        return _build_column(backend, name, column, declared, tolerant)
    except NoTextForm as error:
        raise TypeError(f"column '{name}' has data type {error.data_type}, which nolt cannot convert") from None
    except BeyondInt64 as error:
        raise ValueError(
            f"column '{name}' holds the integer {error.extreme}, past the 64-bit integers nolt reads; "
            f"read it as text with types={{{name!r}: 'string'}}"
        ) from None


def _build_column(backend: Backend, name: str, column: Any, declared: str | None, tolerant: bool) -> ColumnTuple:
    natural = backend.classify(column)
    target = declared or natural
    if target == natural:
        values, typed = backend.values(column, natural)
    elif target in TEXT_TYPES:
        # Text-like columns already come as text; others are cast to their text form.
        values, typed = backend.values(column, natural) if natural in TEXT_TYPES else (backend.text(column), False)
        typed = False
    else:
        try:
            cast = backend.cast(column, target)
        except Exception:
            if not tolerant:
                raise
            return (name, target, tolerant_cells(backend.text(column), target))
        values, typed = backend.values(cast, backend.classify(cast))
    if typed:
        return (name, target, values, True)
    return (name, target, values)


def container_kind(data: object) -> str | None:
    """Which data-frame library made ``data``, judged by its type's module and name.

    Subclasses count as their library's container. No library is imported here.
    """
    for klass in type(data).__mro__:
        package = klass.__module__.partition(".")[0]
        if package == "pandas" and klass.__name__ == "DataFrame":
            return "pandas"
        if package == "polars" and klass.__name__ == "DataFrame":
            return "polars"
        if package == "pyarrow" and klass.__name__ in ("Table", "RecordBatch"):
            return "pyarrow"
    return None


def to_columns(data: object, types: Types | None = None, *, tolerant: bool = False) -> list[ColumnTuple]:
    """Converts any supported container into the core's list of column tuples.

    ``tolerant`` reads frame columns that do not cast to their declared type cell by cell
    (``build_column``); other containers give their cells as they are in any case."""
    kind = container_kind(data)
    if kind == "pandas":
        return from_pandas(data, types, tolerant=tolerant)
    if kind == "polars":
        return from_polars(data, types, tolerant=tolerant)
    if kind == "pyarrow":
        return from_arrow(data, types, tolerant=tolerant)
    if isinstance(data, Mapping):
        if types is None:
            raise TypeError("a dict of columns needs types= naming the logical type of every column")
        return from_dict(data, types)
    if isinstance(data, Sequence) and not isinstance(data, (str, bytes, bytearray)):
        if len(data) == 0:
            return []
        first = data[0]
        if isinstance(first, tuple):
            return from_column_tuples(data, types)
        if isinstance(first, Mapping):
            if types is None:
                raise TypeError("a list of records needs types= naming the logical type of every column")
            return from_records(data, types)
    raise TypeError(
        f"cannot read a {type(data).__name__} as a dataset: expected a pandas or polars DataFrame, "
        "a pyarrow Table, a dict of columns, a list of records or a list of column tuples"
    )


# -- frames ---------------------------------------------------------------------------------


def _unique_names(names: Sequence[str]) -> None:
    """Refuses duplicate and empty column names: every comparison is by name."""
    problems = name_problems(names)
    if problems is not None:
        raise ValueError(f"column names must be unique and not empty: {problems}")


def _frame_columns(backend: Backend, pairs: Iterable[tuple[object, Any]], types: Types | None,
                   tolerant: bool = False) -> list[ColumnTuple]:
    declared = check_types(types)
    named = [(raw_name if isinstance(raw_name, str) else str(raw_name), column) for raw_name, column in pairs]
    _unique_names([name for name, _ in named])
    return [build_column(backend, name, column, declared.get(name), tolerant) for name, column in named]


def from_pandas(frame: Any, types: Types | None = None, *, tolerant: bool = False) -> list[ColumnTuple]:
    """Column tuples of a pandas DataFrame (column names that are not text become their str())."""
    pairs = ((name, frame.iloc[:, position]) for position, name in enumerate(frame.columns))
    return _frame_columns(_pandas.BACKEND, pairs, types, tolerant)


def from_polars(frame: Any, types: Types | None = None, *, tolerant: bool = False) -> list[ColumnTuple]:
    """Column tuples of a polars DataFrame."""
    return _frame_columns(_polars.BACKEND, ((series.name, series) for series in frame.get_columns()), types, tolerant)


def from_arrow(table: Any, types: Types | None = None, *, tolerant: bool = False) -> list[ColumnTuple]:
    """Column tuples of a pyarrow Table or RecordBatch."""
    pairs = zip(table.column_names, (table.column(position) for position in range(table.num_columns)))
    return _frame_columns(_arrow.BACKEND, pairs, types, tolerant)


# -- plain Python containers ----------------------------------------------------------------


def _plain_cells(values: Iterable[Any], logical_type: str) -> Iterable[Any]:
    if type(values).__module__ == "numpy" and hasattr(values, "tolist"):
        values = values.tolist()  # numpy scalars are not cells; tolist() gives Python numbers
    if logical_type == "datetime":
        return list(map(iso_cell, values))
    return values


def _checked_names(names: Iterable[str], declared: dict[str, str], what: str) -> None:
    for name in names:
        if name not in declared:
            raise ValueError(f"{what} '{name}' has no logical type in types")


def from_dict(data: Mapping[str, Iterable[object]], types: Types) -> list[ColumnTuple]:
    """Column tuples of a dict of columns; ``types`` names the logical type of every column.

    Values are passed as they are (``None`` is null); in "datetime" columns dates, times and
    datetimes become ISO 8601 text. ``types`` may name columns the dict does not have, so one
    mapping can serve two versions of a dataset.
    """
    declared = check_types(types)
    _unique_names(list(data))
    _checked_names(data, declared, "column")
    return [(name, declared[name], _plain_cells(values, declared[name])) for name, values in data.items()]


def from_records(records: Iterable[Mapping[str, object]], types: Types) -> list[ColumnTuple]:
    """Column tuples of a list of records, one column per name of ``types`` that a record has.

    The columns follow the order of ``types``; a record without a column's key holds null
    there. A key that ``types`` does not name is an error, so no data is dropped silently.
    """
    declared = check_types(types)
    rows = records if isinstance(records, list) else list(records)
    if not all(isinstance(row, Mapping) for row in rows):
        raise TypeError("every record must be a dict")
    keys: set[str] = set().union(*rows) if rows else set()
    _unique_names([name for name in declared if name in keys])
    _checked_names(sorted(keys - declared.keys(), key=str), declared, "record key")
    return [
        (name, logical_type, list(_plain_cells(map(operator.methodcaller("get", name), rows), logical_type)))
        for name, logical_type in declared.items()
        if name in keys
    ]


def from_column_tuples(columns: Sequence[Any], types: Types | None = None) -> list[ColumnTuple]:
    """The core's own column tuples, with the logical type replaced where ``types`` names one."""
    declared = check_types(types)
    result: list[Any] = []
    for column in columns:
        if declared and isinstance(column, tuple) and len(column) in (3, 4) and column[0] in declared:
            column = (column[0], declared[column[0]], *column[2:])
        result.append(column)
    return result

