"""pyarrow columns (Array or ChunkedArray): logical types from data types, cells through to_pylist().

Nulls become None; a float NaN stays a NaN value, as Arrow keeps it apart from null.
Dictionary columns are categorical, their values as text; dates, times and timestamps become
ISO 8601 text; decimals floats.
"""

from __future__ import annotations

import sys
from importlib.util import find_spec
from typing import Any

from nolt._columns import NoTextForm, check_int64, iso_datetime64, optional_module


def _pa() -> Any:
    return optional_module("pyarrow")


def _pc() -> Any:
    return optional_module("pyarrow.compute")


def _is_temporal(data_type: Any) -> bool:
    types = _pa().types
    return bool(types.is_timestamp(data_type) or types.is_date(data_type) or types.is_time(data_type))


def _trimmed(column: Any, coarse: Any, micro: Any, nano: Any | None, to_text: Any) -> Any:
    """Seconds always; a fraction of six or nine digits only where a value has one."""
    pc = _pc()
    text = to_text(column.cast(coarse, safe=False))
    fraction = pc.or_(pc.not_equal(pc.millisecond(column), 0), pc.not_equal(pc.microsecond(column), 0))
    nanos = pc.not_equal(pc.nanosecond(column), 0)
    text = pc.if_else(pc.or_(fraction, nanos), to_text(column.cast(micro, safe=False)), text)
    if nano is not None:
        text = pc.if_else(nanos, to_text(column.cast(nano)), text)
    return text


def iso_text(column: Any) -> list[Any]:
    """ISO 8601 text of a date, time or timestamp column, as isoformat() writes it.

    Timestamps with a time zone are given in UTC with the suffix "+00:00".
    """
    pa, pc = _pa(), _pc()
    data_type = column.type
    if pa.types.is_date(data_type):
        return list(column.cast(pa.date32()).cast(pa.string()).to_pylist())
    if pa.types.is_time(data_type):
        nano = pa.time64("ns") if data_type.unit == "ns" else None
        text = _trimmed(column, pa.time32("s"), pa.time64("us"), nano, lambda part: part.cast(pa.string()))
        return list(text.to_pylist())
    if find_spec("numpy") is not None and "numpy" in sys.modules:
        # numpy's ISO formatting is several times faster than formatting with strftime;
        # to_numpy() gives aware timestamps in UTC and nulls as NaT. (pyarrow imports numpy
        # when it can; the command line imports pyarrow without it.)
        return iso_datetime64(column.to_numpy(zero_copy_only=False), "" if data_type.tz is None else "+00:00")
    zone = None
    if data_type.tz is not None:
        zone = "UTC"
        column = column.cast(pa.timestamp(data_type.unit, zone))
    nano = pa.timestamp("ns", zone) if data_type.unit == "ns" else None
    text = _trimmed(
        column,
        pa.timestamp("s", zone),
        pa.timestamp("us", zone),
        nano,
        lambda part: pc.strftime(part, format="%Y-%m-%dT%H:%M:%S"),
    )
    if zone is not None:
        text = pc.binary_join_element_wise(text, "+00:00", "")
    return list(text.to_pylist())


class _ArrowBackend:
    def classify(self, column: Any) -> str:
        types = _pa().types
        data_type = column.type
        if types.is_integer(data_type):
            return "integer"
        if types.is_floating(data_type) or types.is_decimal(data_type):
            return "float"
        if types.is_boolean(data_type):
            return "boolean"
        if types.is_string(data_type) or types.is_large_string(data_type) or types.is_string_view(data_type):
            return "string"
        if types.is_dictionary(data_type):
            return "categorical"
        if _is_temporal(data_type):
            return "datetime"
        return "unknown"

    def values(self, column: Any, logical_type: str) -> tuple[list[Any], bool]:
        pa = _pa()
        data_type = column.type
        if _is_temporal(data_type):
            return iso_text(column), False
        if pa.types.is_decimal(data_type) or pa.types.is_float16(data_type):
            return list(column.cast(pa.float64()).to_pylist()), False
        if pa.types.is_dictionary(data_type):
            return self.text(column.cast(data_type.value_type)), False
        if logical_type == "unknown" and not pa.types.is_null(data_type):
            return self.text(column), False
        if pa.types.is_uint64(data_type) and logical_type == "integer":
            check_int64(None, _pc().max(column).as_py())
        return list(column.to_pylist()), False

    def text(self, column: Any) -> list[Any]:
        pa = _pa()
        if _is_temporal(column.type):
            return iso_text(column)
        try:
            return list(column.cast(pa.string()).to_pylist())
        except pa.ArrowException as error:  # nested and binary columns have no text form
            raise NoTextForm(column.type) from error

    def cast(self, column: Any, logical_type: str) -> Any:
        pa = _pa()
        target = {"integer": pa.int64(), "float": pa.float64(), "boolean": pa.bool_()}[logical_type]
        # Integers declared float are rounded to the nearest double, as the other libraries do.
        return column.cast(target, safe=not (logical_type == "float" and pa.types.is_integer(column.type)))


BACKEND = _ArrowBackend()
