"""The same work done the way a user would otherwise do it, from the same lists.

Every pipeline starts from the Python lists (the construction of the peer's
own table or arrays is part of the cost, as it is for the module) and keeps
its results alive until it returns, so nothing is skipped lazily.

- profile: per column null count and distinct count; for numeric columns
  min, max, mean and the three quartiles.
- inspect: the profile plus the distinct values of the boolean and
  categorical columns (what the observed and suggested schemas list).
- validate: nulls where the schema forbids them, membership of the allowed
  values, and the numeric range.
"""

from __future__ import annotations

from typing import Any, Callable

from datasets import Columns

NUMERIC = ("integer", "float")
LISTED = ("boolean", "categorical")
QUARTILES = (0.25, 0.5, 0.75)


def _by_name(columns: Columns) -> dict[str, list]:
    return {name: values for name, _, values in columns}


# --- pandas -----------------------------------------------------------------

def pandas_profile(columns: Columns) -> Any:
    import pandas as pd

    frame = pd.DataFrame(_by_name(columns))
    return frame.describe(percentiles=list(QUARTILES)), frame.nunique(), frame.isna().sum()


def pandas_inspect(columns: Columns) -> Any:
    import pandas as pd

    frame = pd.DataFrame(_by_name(columns))
    listed = [frame[name].dropna().unique() for name, type_name, _ in columns if type_name in LISTED]
    return frame.describe(percentiles=list(QUARTILES)), frame.nunique(), frame.isna().sum(), listed


def pandas_validate(columns: Columns, checks: list[dict]) -> Any:
    import pandas as pd

    frame = pd.DataFrame(_by_name(columns))
    found = []
    for check in checks:
        series = frame[check["name"]]
        if not check["nullable"]:
            found.append(bool(series.isna().any()))
        if check["allowed"] is not None:
            present = series.dropna()
            found.append(bool((~present.isin(check["allowed"])).any()))
        if check["range"] is not None:
            low, high = check["range"]
            present = series.dropna()
            found.append(bool((~present.between(low, high)).any()))
    return found


# --- polars -----------------------------------------------------------------

def polars_profile(columns: Columns) -> Any:
    import polars as pl

    frame = pl.DataFrame(_by_name(columns))
    return frame.describe(percentiles=QUARTILES), frame.select(pl.all().n_unique()), frame.null_count()


def polars_inspect(columns: Columns) -> Any:
    import polars as pl

    frame = pl.DataFrame(_by_name(columns))
    listed = [frame[name].drop_nulls().unique(maintain_order=True) for name, type_name, _ in columns
              if type_name in LISTED]
    return frame.describe(percentiles=QUARTILES), frame.select(pl.all().n_unique()), frame.null_count(), listed


def polars_validate(columns: Columns, checks: list[dict]) -> Any:
    import polars as pl

    frame = pl.DataFrame(_by_name(columns))
    expressions = []
    for check in checks:
        column = pl.col(check["name"])
        if not check["nullable"]:
            expressions.append(column.is_null().any().alias(f"{check['name']}_null"))
        if check["allowed"] is not None:
            expressions.append((~column.drop_nulls().is_in(check["allowed"])).any().alias(f"{check['name']}_allowed"))
        if check["range"] is not None:
            low, high = check["range"]
            expressions.append((~column.drop_nulls().is_between(low, high)).any().alias(f"{check['name']}_range"))
    return frame.select(expressions).row(0)


# --- pyarrow compute --------------------------------------------------------

def pyarrow_profile(columns: Columns) -> Any:
    import pyarrow as pa
    import pyarrow.compute as pc

    results = []
    for _, type_name, values in columns:
        array = pa.array(values)
        result = [pc.sum(pc.is_null(array)), pc.count_distinct(array)]
        if type_name in NUMERIC:
            result += [pc.min_max(array), pc.mean(array), pc.quantile(array, q=list(QUARTILES))]
        results.append(result)
    return results


def pyarrow_inspect(columns: Columns) -> Any:
    import pyarrow as pa
    import pyarrow.compute as pc

    results = []
    for _, type_name, values in columns:
        array = pa.array(values)
        result = [pc.sum(pc.is_null(array)), pc.count_distinct(array)]
        if type_name in NUMERIC:
            result += [pc.min_max(array), pc.mean(array), pc.quantile(array, q=list(QUARTILES))]
        if type_name in LISTED:
            result.append(pc.unique(pc.drop_null(array)))
        results.append(result)
    return results


def pyarrow_validate(columns: Columns, checks: list[dict]) -> Any:
    import pyarrow as pa
    import pyarrow.compute as pc

    arrays = {name: pa.array(values) for name, _, values in columns}
    found = []
    for check in checks:
        array = arrays[check["name"]]
        if not check["nullable"]:
            found.append(pc.any(pc.is_null(array)).as_py())
        if check["allowed"] is not None:
            allowed = pa.array(check["allowed"], type=array.type)
            found.append(pc.any(pc.invert(pc.is_in(pc.drop_null(array), value_set=allowed))).as_py())
        if check["range"] is not None:
            low, high = check["range"]
            present = pc.drop_null(array)
            inside = pc.and_(pc.greater_equal(present, low), pc.less_equal(present, high))
            found.append(pc.any(pc.invert(inside)).as_py())
    return found


PROFILE: dict[str, Callable[[Columns], Any]] = {
    "pandas": pandas_profile,
    "polars": polars_profile,
    "pyarrow": pyarrow_profile,
}
INSPECT: dict[str, Callable[[Columns], Any]] = {
    "pandas": pandas_inspect,
    "polars": polars_inspect,
    "pyarrow": pyarrow_inspect,
}
VALIDATE: dict[str, Callable[[Columns, list[dict]], Any]] = {
    "pandas": pandas_validate,
    "polars": polars_validate,
    "pyarrow": pyarrow_validate,
}


def versions() -> dict[str, str]:
    import pandas
    import polars
    import pyarrow

    return {"pandas": pandas.__version__, "polars": polars.__version__, "pyarrow": pyarrow.__version__}
