"""nolt's engine against the frame libraries' own summaries, all measured in one run.

    .venv/bin/python bench/bench_engine.py [--rows N] [--file-rows N] [--repeats R] [--write FILE]
        [--columns | --validate]
    (or `make bench-engine`, which writes bench/RESULTS_ENGINE.md)

Every figure is the best wall time of R runs; the figures compared in a row (and the thread counts)
are run in turn, one run of each per round, so that a slow spell of a shared machine hits all of
them alike:

- frame: nolt.profile of a polars DataFrame of N rows x 7 mixed columns (int64 ids, float64
  amounts with 5% nulls, booleans, a 20-level categorical, high-cardinality text codes,
  microsecond timestamps, small int32 counts) against polars' describe() + n_unique() +
  null_count() on the same frame;
- table: nolt.profile of the same data as a pyarrow Table against the pyarrow.compute
  equivalent (per column: count, null count, distinct count and, for numbers, min/max, mean
  and the three quartiles);
- file: `nolt profile FILE` of a Parquet file of --file-rows rows in a fresh process against a
  fresh process that reads the file with polars and computes describe() + n_unique();
- threads: nolt.profile of the pyarrow Table with threads=1, 2, ... up to the usable CPUs
  (reading the Arrow data and computing; the speed-up against one thread).

With --validate it prints only nolt.validate of the pyarrow Table and the polars frame against
their suggested schema (failing rows counted), beside the adapters' column tuples validated on
one thread, which is how every input was validated before it was read from its Arrow memory.

With --columns it prints only the cost of each column alone instead: the engine's profile of a
one-column pyarrow Table on one thread, reading included, without and with the details, in ns per
row (to compare two builds, run it with each build's folder on PYTHONPATH in turn).

Every library uses every core it may. The load average before and after is printed, since the
machine may be shared.
"""

from __future__ import annotations

import argparse
import datetime
import gc
import os
import platform
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Any, Callable

import numpy as np
import polars as pl
import pyarrow as pa
import pyarrow.compute as pc
import pyarrow.parquet as pq

import nolt

LEVELS = [f"level_{idx:02d}" for idx in range(20)]


def mixed_table(rows: int, seed: int = 18) -> Any:
    """Seven columns of mixed kinds as a pyarrow Table."""
    rng = np.random.Generator(np.random.PCG64(seed))
    amounts = rng.normal(100.0, 25.0, rows)
    amount_nulls = rng.random(rows) < 0.05
    start = np.datetime64("2020-01-01T00:00:00", "us")
    return pa.table({
        "id": pa.array(rng.permutation(rows).astype(np.int64)),
        "amount": pa.array(amounts, mask=amount_nulls),
        "flag": pa.array(rng.random(rows) < 0.3),
        "level": pa.DictionaryArray.from_arrays(pa.array(rng.integers(0, 20, rows).astype(np.int32)), pa.array(LEVELS)),
        "code": pa.array(np.char.add("c", rng.integers(0, rows, rows).astype(str)).astype(object)),
        "at": pa.array(start + rng.integers(0, 10**13, rows).astype("timedelta64[us]")),
        "count": pa.array(rng.integers(0, 1000, rows).astype(np.int32)),
    })


def best(function: Callable[[], Any], repeats: int) -> float:
    return best_in_turn([function], repeats)[0]


def best_in_turn(functions: list[Callable[[], Any]], repeats: int) -> list[float]:
    """The best wall time of each function, the functions run one after another in each round."""
    times: list[list[float]] = [[] for _ in functions]
    for _ in range(repeats):
        for function, function_times in zip(functions, times):
            gc.collect()
            started = time.perf_counter()
            function()
            function_times.append(time.perf_counter() - started)
    return [min(function_times) for function_times in times]


def polars_summary(frame: Any) -> None:
    frame.describe()
    frame.select(pl.all().n_unique())
    frame.null_count()


def pyarrow_summary(table: Any) -> None:
    for column in table.columns:
        column_type = column.type
        pc.count(column, mode="all")
        column.null_count  # noqa: B018
        pc.count_distinct(column.cast(column_type.value_type) if pa.types.is_dictionary(column_type) else column)
        if pa.types.is_integer(column_type) or pa.types.is_floating(column_type):
            pc.min_max(column)
            pc.mean(column)
            pc.quantile(column, q=[0.25, 0.5, 0.75], interpolation="linear")


POLARS_FILE_SCRIPT = (
    "import sys, polars as pl\n"
    "frame = pl.read_parquet(sys.argv[1])\n"
    "frame.describe(); frame.select(pl.all().n_unique())\n"
)


def fresh_processes(commands: list[list[str]], repeats: int) -> list[float]:
    return best_in_turn([lambda arguments=arguments: subprocess.run(arguments, check=True, stdout=subprocess.DEVNULL)
                         for arguments in commands], repeats)


def column_costs(table: Any, repeats: int) -> str:
    """The engine's profile of each column alone, on one thread, without and with details."""
    from nolt import _api, _engine

    lines = ["| column | Arrow type | ns/row | ns/row with details |", "|---|---|---|---|"]
    for name in table.column_names:
        (prepared,) = _api.prepare(None, table.select([name]))
        plain = best(lambda: _engine.profile(prepared, 1, False), repeats)
        detailed = best(lambda: _engine.profile(prepared, 1, True), repeats)
        per_row = 1e9 / table.num_rows
        lines.append(f"| {name} | {table.schema.field(name).type} | {plain * per_row:.1f} | {detailed * per_row:.1f} |")
    return "\n".join(lines)


def validation_costs(table: Any, repeats: int) -> str:
    """nolt.validate of the table and of the same data as a polars frame, against the table's
    suggested schema, beside the road every input took before: the adapters' column tuples,
    read by the schema's types, validated on one thread."""
    from nolt import _api, _engine

    schema = nolt.suggest_schema(table)
    schema_tuples = _api.schema_columns(schema)
    frame = pl.from_arrow(table)

    def through_tuples(data: Any) -> Any:
        read = nolt.to_columns(data, _api.schema_types(schema), tolerant=True)
        return _engine.validate(read, None, schema_tuples, True, 1)

    expected = through_tuples(table)
    assert nolt.validate(table, schema, failure_cases=True) == expected == nolt.validate(frame, schema, failure_cases=True)
    cells = table.num_rows * table.num_columns
    lines = ["| input | column tuples, 1 thread | nolt.validate, 1 thread | nolt.validate, all threads | speed-up |",
             "|---|---|---|---|---|"]
    for label, data in (("pyarrow Table", table), ("polars DataFrame", frame)):
        before = best(lambda: through_tuples(data), repeats)
        one = best(lambda: nolt.validate(data, schema, threads=1, failure_cases=True), repeats)
        every = best(lambda: nolt.validate(data, schema, failure_cases=True), repeats)
        figures = [f"{seconds * 1e3:.0f} ms ({seconds / cells * 1e9:.1f} ns/cell)" for seconds in (before, one, every)]
        lines.append(f"| {label} | {' | '.join(figures)} | x{before / every:.1f} |")
    return "\n".join(lines)


def load() -> str:
    return " ".join(f"{value:.2f}" for value in os.getloadavg())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--file-rows", type=int, default=3_000_000)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--write", type=Path, help="also write the tables (markdown) to this file")
    parser.add_argument("--columns", action="store_true", help="only the cost of each column alone")
    parser.add_argument("--validate", action="store_true",
                        help="only nolt.validate of the table and the frame against their suggested schema")
    args = parser.parse_args()
    if args.validate:
        load_before = load()
        table_text = validation_costs(mixed_table(args.rows), args.repeats)
        text = (f"# nolt.validate: {args.rows:,} rows x 7 mixed columns against their suggested schema\n\n"
                f"Measured {datetime.datetime.now(datetime.UTC):%Y-%m-%d %H:%M} UTC, "
                f"{len(os.sched_getaffinity(0))} usable CPUs, failure_cases=True, best of {args.repeats}; "
                f"load average before {load_before}, after {load()}.\n\n{table_text}\n\n"
                "Command: `.venv/bin/python bench/bench_engine.py --validate --write bench/RESULTS_VALIDATE_ENGINE.md`.\n")
        print(text)
        if args.write:
            args.write.write_text(text)
        return
    if args.columns:
        load_before = load()
        print(column_costs(mixed_table(args.rows), args.repeats))
        print(f"best of {args.repeats}; load average before {load_before}, after {load()}")
        return

    load_before = load()
    table = mixed_table(args.rows)
    frame = pl.from_arrow(table)
    cells = args.rows * table.num_columns
    assert nolt.profile(frame) == nolt.profile(table)  # one answer for both containers

    rows: list[tuple[str, str, str]] = []  # case, nolt's figure, the peer's figure and the speed-up

    def ratio(name: str, ours_label: str, ours: float, peer_label: str, peer: float, target: str) -> None:
        rows.append((name, f"{ours_label} {ours * 1e3:.0f} ms ({ours / cells * 1e9:.1f} ns/cell)",
                     f"{peer_label} {peer * 1e3:.0f} ms; x{peer / ours:.2f} (target {target})"))

    ours, peer = best_in_turn([lambda: nolt.profile(frame), lambda: polars_summary(frame)], args.repeats)
    ratio("frame", "nolt.profile(polars)", ours, "polars describe+n_unique+null_count", peer, ">= 3x")
    ours, peer = best_in_turn([lambda: nolt.profile(table), lambda: pyarrow_summary(table)], args.repeats)
    ratio("table", "nolt.profile(pyarrow)", ours, "pyarrow.compute", peer, ">= 5x")

    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "mixed.parquet")
        pq.write_table(mixed_table(args.file_rows, seed=19), path)
        ours, peer, startup = fresh_processes([[sys.executable, "-m", "nolt", "profile", path],
                                               [sys.executable, "-c", POLARS_FILE_SCRIPT, path],
                                               [sys.executable, "-c", "import nolt"]], args.repeats)
    file_cells = args.file_rows * table.num_columns
    rows.append(("file", f"`nolt profile` {ours * 1e3:.0f} ms ({ours / file_cells * 1e9:.1f} ns/cell; "
                 f"interpreter + import nolt {startup * 1e3:.0f} ms)",
                 f"polars read+describe+n_unique {peer * 1e3:.0f} ms; x{peer / ours:.2f} (target >= 2x)"))

    thread_counts = sorted({1, 2, *range(1, len(os.sched_getaffinity(0)) + 1)})
    scaling = dict(zip(thread_counts, best_in_turn(
        [lambda threads=threads: nolt.profile(table, threads=threads) for threads in thread_counts], args.repeats)))
    for threads, seconds in scaling.items():
        rows.append((f"threads={threads}", f"nolt.profile(pyarrow) {seconds * 1e3:.0f} ms",
                     f"x{scaling[1] / seconds:.2f} against one thread" + (" (target >= 1.7x)" if threads == 2 else "")))

    lines = [
        f"# nolt's engine: {args.rows:,} rows x 7 mixed columns ({args.file_rows:,} rows in the file)",
        "",
        f"Measured {datetime.datetime.now(datetime.UTC):%Y-%m-%d %H:%M} UTC on {platform.machine()}, "
        f"{len(os.sched_getaffinity(0))} usable CPUs, Python {platform.python_version()}, polars {pl.__version__}, "
        f"pyarrow {pa.__version__}; best of {args.repeats}; load average before {load_before}, after {load()}.",
        "",
        "| case | nolt | peer and speed-up |",
        "|---|---|---|",
        *(f"| {name} | {ours} | {peer} |" for name, ours, peer in rows),
        "",
        "Command: `make bench-engine` (or `.venv/bin/python bench/bench_engine.py --write bench/RESULTS_ENGINE.md`).",
    ]
    text = "\n".join(lines) + "\n"
    print(text)
    if args.write:
        args.write.write_text(text)


if __name__ == "__main__":
    main()
