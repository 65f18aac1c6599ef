"""Profiling numeric columns straight from numpy arrays, against the list path and pandas.

Run with the module on the path, for example:

    PYTHONPATH=build/dev .venv/bin/python bench/bench_buffers.py [--rows N] [--repeats R] [--markdown]

Columns: an int64 column of random integers and a float64 column of normal values with 1% NaN,
10^6 rows by default. Each figure is the best wall time of R calls:

- arrays: profile_dataset on the numpy arrays themselves (typed columns, read from memory);
- lists: profile_dataset on lists of Python numbers, timing ``tolist()`` too (what a caller
  had to do before), and without it (lists already built);
- nolt.profile on a pandas DataFrame over the same arrays (the adapter hands the arrays over);
- pandas: ``describe()`` + ``nunique()`` + ``isna().sum()`` on that DataFrame (the frame is
  built outside the timing);
- "reading only": the same columns validated against an empty schema, which costs little but
  reading them, to show the conversion itself.

The results of the array and list paths are checked to be identical before anything is timed.
"""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path
from typing import Any, Callable

import numpy as np

import _nolt_core as core

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))  # nolt from the source tree
import nolt  # noqa: E402

DEFAULT_ROWS = 1_000_000


def make_arrays(rows: int, seed: int = 12) -> dict[str, np.ndarray]:
    rng = np.random.default_rng(seed)
    floats = rng.standard_normal(rows) * 1e3
    floats[rng.random(rows) < 0.01] = np.nan
    return {"int64": rng.integers(-(10**12), 10**12, rows), "float64": floats}


def best_time(function: Callable[[], Any], repeats: int) -> float:
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        best = min(best, time.perf_counter() - start)
    return best


def array_columns(arrays: dict[str, np.ndarray]) -> list[tuple]:
    # Typed: numpy's scalars are no Python numbers; a NaN in the float column becomes null.
    return [(name, "integer" if name.startswith("int") else "float", values, True) for name, values in arrays.items()]


def list_columns(arrays: dict[str, np.ndarray]) -> list[tuple]:
    # The lists a caller built before: Python ints plain, Python floats typed (NaN is null).
    columns: list[tuple] = []
    for name, values in arrays.items():
        if name.startswith("int"):
            columns.append((name, "integer", values.tolist()))
        else:
            columns.append((name, "float", values.tolist(), True))
    return columns


def pandas_summary(frame: Any) -> None:
    frame.describe()
    frame.nunique()
    frame.isna().sum()


def measure(rows: int, repeats: int) -> list[tuple[str, str, float]]:
    """(columns, path, seconds) rows."""
    import pandas as pd

    all_arrays = make_arrays(rows)
    figures: list[tuple[str, str, float]] = []
    for label, names in (("int64", ["int64"]), ("float64", ["float64"]), ("int64 + float64", ["int64", "float64"])):
        arrays = {name: all_arrays[name] for name in names}
        from_arrays = core.profile_dataset(array_columns(arrays))
        prebuilt = list_columns(arrays)
        frame = pd.DataFrame(arrays)
        if not repr(from_arrays) == repr(core.profile_dataset(prebuilt)) == repr(nolt.profile(frame)):
            raise SystemExit(f"{label}: the array, list and adapter paths differ")
        figures.append((label, "arrays", best_time(lambda: core.profile_dataset(array_columns(arrays)), repeats)))
        figures.append((label, "lists incl. tolist()", best_time(lambda: core.profile_dataset(list_columns(arrays)), repeats)))
        figures.append((label, "lists prebuilt", best_time(lambda: core.profile_dataset(prebuilt), repeats)))
        figures.append((label, "nolt.profile(pandas frame)", best_time(lambda: nolt.profile(frame), repeats)))
        figures.append((label, "pandas describe+nunique+isna", best_time(lambda: pandas_summary(frame), repeats)))
        # Reading the columns alone: validation against an empty schema does little else.
        converted = f"{label}, reading only"
        figures.append((converted, "arrays", best_time(lambda: core._validate_dataset_schema(array_columns(arrays), []), repeats)))
        figures.append((converted, "lists incl. tolist()", best_time(lambda: core._validate_dataset_schema(list_columns(arrays), []), repeats)))
        figures.append((converted, "lists prebuilt", best_time(lambda: core._validate_dataset_schema(prebuilt, []), repeats)))
        del prebuilt
    return figures


def table(figures: list[tuple[str, str, float]]) -> str:
    arrays = {label: seconds for label, path, seconds in figures if path == "arrays"}
    lines = ["| columns | path | ms | vs arrays |", "|---|---|---:|---:|"]
    for label, path, seconds in figures:
        ratio = seconds / arrays[label]
        lines.append(f"| {label} | {path} | {seconds * 1e3:.1f} | {ratio:.1f}x |")
    return "\n".join(lines)


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=DEFAULT_ROWS)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--markdown", action="store_true", help="print only the table")
    args = parser.parse_args(argv)
    figures = measure(args.rows, args.repeats)
    if not args.markdown:
        print(f"{args.rows:,} rows, best of {args.repeats}; python {sys.version.split()[0]}, numpy {np.__version__}")
    print(table(figures))


if __name__ == "__main__":
    main()
