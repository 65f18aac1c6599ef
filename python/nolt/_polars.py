"""polars columns (Series): logical types from data types, cells through to_list().

Nulls become None; a float NaN stays a NaN value, as polars keeps it apart from null.
Dates, times and datetimes become ISO 8601 text, decimals floats.

Integer, float and boolean columns without nulls are handed over as numpy arrays, which the core
reads from memory: the same cells as their lists of Python numbers.
"""

from __future__ import annotations

from typing import Any

from nolt._columns import NoTextForm, check_int64, optional_module

_INTEGER_TYPES = frozenset({"Int8", "Int16", "Int32", "Int64", "Int128", "UInt8", "UInt16", "UInt32", "UInt64", "UInt128"})
_TYPES = {
    "Float32": "float",
    "Float64": "float",
    "Decimal": "float",
    "Boolean": "boolean",
    "String": "string",
    "Utf8": "string",
    "Categorical": "categorical",
    "Enum": "categorical",
    "Datetime": "datetime",
    "Date": "datetime",
    "Time": "datetime",
}


_NUMPY_INTEGER_TYPES = frozenset({"Int8", "Int16", "Int32", "Int64", "UInt8", "UInt16", "UInt32", "UInt64"})
_INT64_MAX = 2**63 - 1
# Set on a series cast on request (types= overriding the column's own type): its cells are
# handed over as a list, as they always were.
_CAST_MARK = "_nolt_cast_on_request"


def _numpy_numbers(series: Any, type_name: str, logical_type: str) -> tuple[Any, bool] | None:
    """A column without nulls as a numpy array and its typed flag, or None where it must be a list.

    Integers and booleans go typed: typed conversion of their numpy scalars gives the cells plain
    conversion of the Python numbers gives (a uint64 beyond the int64 range would be refused
    differently, so it stays a list). Floats go plain as float64, which keeps a NaN a NaN value.
    """
    if series.null_count() > 0 or getattr(series, _CAST_MARK, False):
        return None
    if type_name in _NUMPY_INTEGER_TYPES and logical_type == "integer":
        array = series.to_numpy()
        if type_name == "UInt64" and array.size and int(array.max()) > _INT64_MAX:
            return None
        return array, True
    if type_name == "Boolean" and logical_type == "boolean":
        return series.to_numpy(), True
    if type_name in ("Float32", "Float64") and logical_type == "float":
        # float32 widens to float64 exactly, as to_list() widens it.
        return series.to_numpy().astype("float64", copy=False), False
    return None


def _type_name(series: Any) -> str:
    return type(series.dtype).__name__


def _trimmed(series: Any, layout: str) -> Any:
    """Text with seconds always and a fraction only where a value has one (as isoformat)."""
    pl = optional_module("polars")
    value = pl.col("value")
    nanos = value.dt.nanosecond()
    expression = (
        pl.when(nanos == 0)
        .then(value.dt.to_string(layout))
        .when(nanos % 1000 == 0)
        .then(value.dt.to_string(layout + "%.6f"))
        .otherwise(value.dt.to_string(layout + "%.9f"))
    )
    return pl.DataFrame({"value": series}).select(expression).to_series()


def iso_text(series: Any) -> list[Any]:
    """ISO 8601 text of a Date, Time or Datetime series; aware datetimes in UTC."""
    type_name = _type_name(series)
    if type_name == "Date":
        return list(series.dt.to_string("%Y-%m-%d").to_list())
    if type_name == "Time":
        return list(_trimmed(series, "%H:%M:%S").to_list())
    if series.dtype.time_zone is not None:
        text = _trimmed(series.dt.convert_time_zone("UTC"), "%Y-%m-%dT%H:%M:%S") + "+00:00"
        return list(text.to_list())
    return list(_trimmed(series, "%Y-%m-%dT%H:%M:%S").to_list())


def _category(categories: Any, number: int) -> str | None:
    try:
        return categories[number]  # type: ignore[no-any-return]
    except IndexError:  # a number reserved but not yet given a text: no cell holds it
        return None


def category_numbers(frame: Any, columns: list[bool]) -> tuple[Any, list[Any]] | None:
    """The frame with its Categorical and Enum columns (among ``columns``) as their category
    numbers, and each such column's categories in number order (None for the other columns):
    the engine reads the numbers as indexes into them. polars' own Arrow export of such a column
    finds the categories a column uses and renumbers its cells, a pass over every cell.

    A Categorical's categories may be shared with every other Categorical of the process: they
    are read up to the column's largest number, and only while those are few against its rows
    (the column keeps polars' export otherwise). None where no column is taken.
    """
    pl = optional_module("polars")
    numbers: list[Any] = []
    dictionaries: list[Any] = [None] * frame.width
    for position, (dtype, read) in enumerate(zip(frame.dtypes, columns)):
        kind = type(dtype).__name__
        if not read or kind not in ("Categorical", "Enum"):
            continue
        physical = frame.to_series(position).to_physical()
        if kind == "Enum":
            categories = dtype.categories
        elif not isinstance(getattr(dtype, "categories", None), getattr(pl, "Categories", ())):
            continue  # (a polars without shared categories numbers them otherwise)
        else:
            top = physical.max()
            count = 0 if top is None else int(top) + 1
            if count > frame.height // 64 + 64:
                continue
            categories = pl.Series([_category(dtype.categories, number) for number in range(count)], dtype=pl.String)
        numbers.append(physical)
        dictionaries[position] = categories.rechunk()
    if not numbers:
        return None
    return frame.with_columns(numbers), dictionaries


class _PolarsBackend:
    def classify(self, series: Any) -> str:
        type_name = _type_name(series)
        if type_name in _INTEGER_TYPES:
            return "integer"
        return _TYPES.get(type_name, "unknown")

    def values(self, series: Any, logical_type: str) -> tuple[Any, bool]:
        type_name = _type_name(series)
        if type_name in ("Date", "Time", "Datetime"):
            return iso_text(series), False
        if type_name == "Decimal":
            return self._floats(series), False
        if type_name in ("Categorical", "Enum") or (logical_type == "unknown" and type_name != "Null"):
            return self.text(series), False
        if logical_type == "integer" and type_name in ("UInt64", "Int128", "UInt128"):
            check_int64(series.min(), series.max())
        numbers = _numpy_numbers(series, type_name, logical_type)
        if numbers is not None:
            return numbers
        return list(series.to_list()), False

    def _floats(self, series: Any) -> list[Any]:
        return list(series.cast(optional_module("polars").Float64).to_list())

    def text(self, series: Any) -> list[Any]:
        if _type_name(series) in ("Date", "Time", "Datetime"):
            return iso_text(series)
        try:
            return list(series.cast(optional_module("polars").String).to_list())
        except Exception as error:  # nested, binary and duration columns have no text form
            raise NoTextForm(series.dtype) from error

    def cast(self, series: Any, logical_type: str) -> Any:
        pl = optional_module("polars")
        target = {"integer": pl.Int64, "float": pl.Float64, "boolean": pl.Boolean}[logical_type]
        cast = series.cast(target)
        try:
            setattr(cast, _CAST_MARK, True)
        except AttributeError:
            pass  # a series that takes no attributes goes as an array: the same cells
        return cast


BACKEND = _PolarsBackend()
