"""pandas columns (Series): logical types from dtypes, cells through pandas' bulk conversions.

Missing markers (NaN in object and float columns, None, pd.NA, NaT) become nulls. Float columns
are handed over as typed floats, so their NaN markers become nulls in the core. Object columns
get the logical type of what pandas infers for them; columns of mixed or other kinds become
"unknown" columns of their text.

Columns of numpy's own integer, float and boolean dtypes are handed over as their numpy arrays,
typed, which the core reads from memory: the same cells as their lists of Python numbers.
"""

from __future__ import annotations

import math
from typing import Any

from nolt import _arrow
from nolt._columns import check_int64, iso_cell, iso_datetime64, optional_module

# pandas' inferred kinds of an object column and the logical type each stands for.
_INFERRED = {
    "string": "string",
    "integer": "integer",
    "floating": "float",
    "mixed-integer-float": "float",
    "decimal": "float",
    "boolean": "boolean",
    "datetime": "datetime",
    "datetime64": "datetime",
    "date": "datetime",
    "time": "datetime",
}

_CAST_DTYPES = {"integer": "Int64", "float": "Float64", "boolean": "boolean"}


def _is_arrow_backed(series: Any) -> bool:
    return type(series.dtype).__name__ == "ArrowDtype"


def _arrow_array(series: Any) -> Any:
    return series.array.__arrow_array__()


def _objects(series: Any) -> list[Any]:
    """Python objects with every missing marker as None."""
    if series.dtype.kind in "biu" and type(series.dtype).__module__.startswith("numpy"):
        return list(series.to_numpy().tolist())  # plain numpy ints and bools hold no missing marker
    return list(series.to_numpy(dtype=object, na_value=None).tolist())


_INT64_MAX = 2**63 - 1


def _numpy_backed(series: Any, kinds: str) -> bool:
    """A column of one of numpy's own dtypes of these kinds (not a nullable extension dtype)."""
    return series.dtype.kind in kinds and type(series.dtype).__module__.startswith("numpy")


def _numpy_numbers(series: Any) -> Any | None:
    """A numpy integer or boolean column as its array, or None where its cells must be a list.

    Typed integer and boolean conversion of the array's numpy scalars gives the cells that plain
    conversion of the Python numbers gives, except for a uint64 beyond the int64 range (refused
    differently). Nullable extension columns stay lists: only a list holds a missing value as None.
    """
    if not _numpy_backed(series, "biu"):
        return None
    array = series.to_numpy()
    if array.dtype.kind == "u" and array.dtype.itemsize == 8 and array.size and int(array.max()) > _INT64_MAX:
        return None
    return array


def _iso_series(series: Any) -> list[Any]:
    suffix = ""
    if getattr(series.dtype, "tz", None) is not None:
        series = series.dt.tz_convert("UTC").dt.tz_localize(None)
        suffix = "+00:00"
    return iso_datetime64(series.to_numpy(), suffix)


class _PandasBackend:
    def classify(self, series: Any) -> str:
        if _is_arrow_backed(series):
            return str(_arrow.BACKEND.classify(_arrow_array(series)))
        dtype = series.dtype
        dtype_name = type(dtype).__name__
        if dtype_name == "CategoricalDtype":
            return "categorical"
        if dtype_name == "StringDtype":
            return "string"
        kind = dtype.kind
        if kind == "b":
            return "boolean"
        if kind in "iu":
            return "integer"
        if kind == "f":
            return "float"
        if kind == "M":
            return "datetime"
        if kind == "O":
            inferred = optional_module("pandas").api.types.infer_dtype(series, skipna=True)
            return _INFERRED.get(inferred, "unknown")
        return "unknown"

    def values(self, series: Any, logical_type: str) -> tuple[Any, bool]:
        if _is_arrow_backed(series):
            values, typed = _arrow.BACKEND.values(_arrow_array(series), logical_type)
            return list(values), bool(typed)
        if logical_type == "float":
            floats = series.to_numpy(dtype="float64", na_value=math.nan)
            if _numpy_backed(series, "f"):
                return floats, True  # typed: a NaN (pandas' missing marker) becomes null in the core
            return list(floats.tolist()), True
        if logical_type == "integer" and series.dtype.kind == "u" and series.dtype.itemsize == 8:
            # numpy's uint64, or the nullable UInt64's (NA when empty or all missing)
            largest = series.max(skipna=True)
            check_int64(None, None if largest is None or series.isna().all() else int(largest))
        if logical_type in ("integer", "boolean"):
            array = _numpy_numbers(series)
            if array is not None:
                return array, True
        if logical_type == "datetime":
            if series.dtype.kind == "M":
                return _iso_series(series), False
            return list(map(iso_cell, _objects(series))), False  # Python date/time objects
        if logical_type == "categorical":
            return self._category_text(series), False
        if logical_type == "unknown":
            return self.text(series), False
        return _objects(series), False

    def _category_text(self, series: Any) -> list[Any]:
        np = optional_module("numpy")
        categories = series.cat.categories
        if categories.dtype.kind == "M":
            labels = _iso_series(categories.to_series())
        else:
            labels = list(categories.astype(str))
        # Code -1 marks a missing value; it picks the None appended after the labels.
        table = np.asarray([*labels, None], dtype=object)
        return list(table[series.cat.codes.to_numpy()].tolist())

    def text(self, series: Any) -> list[Any]:
        if _is_arrow_backed(series):
            return list(_arrow.BACKEND.text(_arrow_array(series)))
        if series.dtype.kind == "M":
            return _iso_series(series)
        return _objects(series.astype("string"))

    def cast(self, series: Any, logical_type: str) -> Any:
        return series.astype(_CAST_DTYPES[logical_type])


BACKEND = _PandasBackend()
