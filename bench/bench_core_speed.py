"""The shared core's speed: profile_dataset on high-cardinality lists and on numpy arrays.

    PYTHONPATH=build/<dir> .venv/bin/python bench/bench_core_speed.py [--rows N] [--repeats R]
        [--baseline DIR] [--kernels BINARY] [--write FILE]

Every figure is the best wall time of R calls, all measured in one run:

- lists: five columns of 10^6 rows handed over as Python lists (random integers,
  normal floats with 5% nulls, booleans, a 20-level categorical, unique text ids):
  _nolt_core.profile_dataset against polars and pyarrow on the same lists. polars
  is timed twice: building its DataFrame from the lists included (what a caller
  holding lists pays; bench/peers.py) and on the frame built beforehand (its
  compute alone). pyarrow's figure includes building its arrays (bench/peers.py);
- arrays: one typed int64 or float64 numpy column of 10^6 values (floats with 1%
  NaN, which typed conversion makes null): profile_dataset per value, next to
  reading only (validation against an empty schema, which does little else);
- --baseline DIR: the same figures of the module found in DIR (for example a
  build of the main branch), measured in a subprocess of this run;
- --kernels BINARY: the C++ kernel benchmark (bench/core_kernels.cpp: the exact
  sorts, thread scaling of the core's parallel paths), run and appended.

The module runs on one thread (it starts none); polars and pyarrow use every core.
The load average before and after is printed, since the machine may be shared.
numpy's BLAS is held to one thread (no measured work uses it; its idle workers
would otherwise spin on the cores the measured work needs).
"""

from __future__ import annotations

import argparse
import datetime
import gc
import json
import os
import platform
import subprocess
import sys
import time
from pathlib import Path
from typing import Any, Callable

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import _nolt_core as core  # noqa: E402

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import peers  # noqa: E402
from bench_buffers import make_arrays as numeric_arrays  # noqa: E402
from datasets import CATEGORY_LEVELS  # noqa: E402

DEFAULT_ROWS = 1_000_000


def high_cardinality(rows: int, seed: int = 18) -> list[tuple[str, str, list]]:
    """Five columns as lists: every integer, float and id mostly distinct."""
    rng = np.random.Generator(np.random.PCG64(seed))
    floats = (rng.standard_normal(rows) * 1_000.0).tolist()
    for row_idx in np.flatnonzero(rng.random(rows) < 0.05).tolist():
        floats[row_idx] = None
    levels = [CATEGORY_LEVELS[idx] for idx in rng.integers(0, len(CATEGORY_LEVELS), size=rows).tolist()]
    ids = [f"id-{number:09d}" for number in rng.permutation(rows).tolist()]
    return [
        ("amount", "integer", rng.integers(-10**12, 10**12, size=rows).tolist()),
        ("price", "float", floats),
        ("active", "boolean", (rng.random(rows) < 0.5).tolist()),
        ("segment", "categorical", levels),
        ("user_id", "string", ids),
    ]


def best_of(function: Callable[[], Any], repeats: int) -> float:
    best = float("inf")
    for _ in range(repeats):
        gc.collect()
        gc.disable()
        try:
            start = time.perf_counter()
            function()
            best = min(best, time.perf_counter() - start)
        finally:
            gc.enable()
    return best


def measure_module(rows: int, repeats: int) -> dict[str, float]:
    """The module's own figures, in seconds."""
    columns = high_cardinality(rows)
    figures = {"lists": best_of(lambda: core.profile_dataset(columns), repeats)}
    del columns
    for name, values in numeric_arrays(rows).items():
        column = [(name, "integer" if name.startswith("int") else "float", values, True)]
        figures[name] = best_of(lambda: core.profile_dataset(column), repeats)
        figures[f"{name} reading"] = best_of(lambda: core._validate_dataset_schema(column, []), repeats)
    return figures


def polars_compute(frame: Any) -> Any:
    import polars as pl

    return frame.describe(percentiles=peers.QUARTILES), frame.select(pl.all().n_unique()), frame.null_count()


def measure_peers(rows: int, repeats: int) -> dict[str, float]:
    import polars as pl

    columns = high_cardinality(rows)
    frame = pl.DataFrame({name: values for name, _, values in columns})
    return {
        "polars from the lists (frame built in the timing)": best_of(lambda: peers.polars_profile(columns), repeats),
        "polars on the prebuilt frame (compute only)": best_of(lambda: polars_compute(frame), repeats),
        "pyarrow from the lists (arrays built in the timing)": best_of(lambda: peers.pyarrow_profile(columns), repeats),
    }


def measure_baseline(directory: Path, rows: int, repeats: int) -> dict[str, float]:
    environment = dict(os.environ, PYTHONPATH=str(directory))
    output = subprocess.run(
        [sys.executable, __file__, "--rows", str(rows), "--repeats", str(repeats), "--module-only"],
        env=environment, check=True, capture_output=True, text=True).stdout
    return json.loads(output)


def report(rows: int, repeats: int, baseline: Path | None, kernels: Path | None) -> str:
    import polars as pl
    import pyarrow as pa

    load_before = os.getloadavg()
    before = measure_baseline(baseline, rows, repeats) if baseline else None
    ours = measure_module(rows, repeats)
    peer_figures = measure_peers(rows, repeats)
    load_after = os.getloadavg()
    cells = rows * 5
    lines = [
        f"- {rows:,} rows, best of {repeats}; {platform.machine()}, {os.cpu_count()} CPUs; "
        f"Python {sys.version.split()[0]}, numpy {np.__version__}, polars {pl.__version__}, pyarrow {pa.__version__}",
        f"- _nolt_core from {Path(core.__file__).parent}" + (f"; before: the module in {baseline}" if baseline else ""),
        f"- load average (1, 5, 15 min) before: {', '.join(f'{v:.2f}' for v in load_before)}; "
        f"after: {', '.join(f'{v:.2f}' for v in load_after)}",
        f"- date: {datetime.datetime.now():%Y-%m-%d %H:%M}",
        "",
        f"Lists: 5 columns x {rows:,} rows (integers, floats with 5% nulls, booleans, 20-level categorical, "
        "unique ids). The module uses one thread, the peers every core.",
        "",
        "| work | ms | ns/cell | time / ours |",
        "|---|---:|---:|---:|",
    ]
    rows_of_table = [("_nolt_core.profile_dataset (1 thread)", ours["lists"])]
    if before:
        rows_of_table.append(("_nolt_core.profile_dataset before (1 thread)", before["lists"]))
    rows_of_table += list(peer_figures.items())
    for label, seconds in rows_of_table:
        ratio = "" if label.startswith("_nolt_core.profile_dataset (") else f"{seconds / ours['lists']:.2f}x"
        lines.append(f"| {label} | {seconds * 1e3:.1f} | {seconds * 1e9 / cells:.1f} | {ratio} |")
    lines += [
        "",
        f"Arrays: one typed numpy column of {rows:,} values (ns per value)",
        "",
        "| column | profile_dataset | reading only | profile before | reading before |",
        "|---|---:|---:|---:|---:|",
    ]
    for name in ("int64", "float64"):
        then = [f"{before[key] * 1e9 / rows:.1f}" for key in (name, f"{name} reading")] if before else ["", ""]
        lines.append(f"| {name} | {ours[name] * 1e9 / rows:.1f} | {ours[f'{name} reading'] * 1e9 / rows:.1f} | "
                     f"{then[0]} | {then[1]} |")
    if kernels:
        lines += ["", f"C++ kernels (`{kernels.name} {rows} {repeats}`, same run):", ""]
        lines.append(subprocess.run([str(kernels), str(rows), str(repeats)], check=True, capture_output=True,
                                    text=True).stdout.rstrip())
    return "\n".join(lines)


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=DEFAULT_ROWS)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--baseline", type=Path, help="a folder holding another build of _nolt_core to compare")
    parser.add_argument("--kernels", type=Path, help="the nolt_core_bench binary to run and append")
    parser.add_argument("--write", type=Path, help="also write the tables to this Markdown file")
    parser.add_argument("--module-only", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.module_only:
        print(json.dumps(measure_module(args.rows, args.repeats)))
        return
    text = report(args.rows, args.repeats, args.baseline, args.kernels)
    print(text)
    if args.write:
        args.write.write_text("# Core speed\n\nProduced by `bench/bench_core_speed.py` (see its docstring).\n\n"
                              + text + "\n")


if __name__ == "__main__":
    main()
