"""The benchmark: _nolt_core against pandas, polars, pyarrow and a floor.

    make bench                      (installs the pinned peers, builds the floor, runs this)
    PYTHONPATH=build/<dir>:build/<dir>-bench .venv/bin/python bench/run_bench.py [--max-rows N] [--write FILE]

Every figure is the best of several wall-clock runs in this one process, on
datasets handed over as plain Python lists (bench/datasets.py). For each
dataset it times

- floor: a tiny C extension (bench/floor.c) that only reads every cell's type
  and value once; what touching the data costs at the least;
- ingest: _validate_dataset_schema with an empty schema, which converts every
  cell and checks nothing;
- the module's work: profile_dataset, inspect_dataset,
  save_suggested_schema_dataset, then validate_dataset_file on the saved
  file, _validate_dataset_schema (the suggested schema plus each numeric
  column's range), compare_datasets and schema_drift_datasets (against a
  changed copy: a column removed, one added, one gaining nulls, one retyped);
- the same work by pandas, polars and pyarrow from the same lists
  (bench/peers.py); a ratio above 1 means the module is faster.

Peak extra memory is measured per call in a fresh interpreter (see
memory.py). Peers that run several threads (polars, pyarrow) use both cores;
the module uses one.
"""

from __future__ import annotations

import argparse
import datetime
import gc
import os
import platform
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import _nolt_core  # noqa: E402
import _nolt_bench_floor  # noqa: E402

import datasets  # noqa: E402
import memory  # noqa: E402
import peers  # noqa: E402

PEERS = ("pandas", "polars", "pyarrow")


@dataclass
class Row:
    dataset: str
    cells: int
    work: str
    seconds: float
    peers: dict[str, float] = field(default_factory=dict)

    @property
    def ns_per_cell(self) -> float:
        return self.seconds * 1e9 / self.cells


# A figure stops repeating once its runs have taken this long (slow peers on the wide dataset).
TIME_BUDGET_SECONDS = 30.0


def best_of(function: Callable[[], Any], repeats: int) -> float:
    """Best wall time of `repeats` calls, in seconds; the collector is off while timing."""
    best = float("inf")
    spent = 0.0
    for _ in range(repeats):
        if spent > TIME_BUDGET_SECONDS:
            break
        gc.collect()
        gc.disable()
        try:
            start = time.perf_counter()
            function()
            elapsed = time.perf_counter() - start
            best = min(best, elapsed)
            spent += elapsed
        finally:
            gc.enable()
    return best


def repeats_for(cells: int, base: int) -> int:
    # At least two runs even at 10^7 rows: a process's first large call also
    # pays the kernel for assembling huge pages, which later calls do not.
    if cells >= 50_000_000:
        return max(2, base - 1)
    if cells >= 5_000_000:
        return base
    return base + 2


def schema_checks(dataset: datasets.Dataset, with_ranges: bool) -> tuple[list[tuple], list[dict]]:
    """The dataset's suggested schema as schema tuples (plus, if asked, each
    numeric column's observed range) and the same checks for the peers."""
    suggested = _nolt_core.suggest_schema_dataset(dataset.columns)["columns"]
    observed = {column["name"]: column for column in _nolt_core.observed_schema_dataset(dataset.columns)["columns"]}
    schema, checks = [], []
    for column in suggested:
        name = column["name"]
        allowed = column["constraints"]["allowed_values"]
        bounds = observed[name]["observed_range"]
        numeric_range = (bounds["min"], bounds["max"]) if with_ranges and bounds is not None else None
        schema.append((name, column["logical_type"], column["nullable"], numeric_range, allowed))
        checks.append({"name": name, "nullable": column["nullable"], "allowed": allowed, "range": numeric_range})
    return schema, checks


def time_module_and_peers(dataset: datasets.Dataset, work: str, ours: Callable[[], Any],
                          peer_calls: dict[str, Callable[[], Any]], repeats: int, cells: int | None = None) -> Row:
    row = Row(dataset.name, cells or dataset.cells, work, best_of(ours, repeats))
    for peer, call in peer_calls.items():
        row.peers[peer] = best_of(call, max(1, repeats - 1))
    return row


def bench_dataset(dataset: datasets.Dataset, base_repeats: int, with_peers: bool, full: bool) -> list[Row]:
    columns = dataset.columns
    repeats = repeats_for(dataset.cells, base_repeats)
    rows: list[Row] = []
    rows.append(Row(dataset.name, dataset.cells, "floor (touch every cell)",
                    best_of(lambda: _nolt_bench_floor.touch(columns), repeats)))
    rows.append(Row(dataset.name, dataset.cells, "ingest (convert only)",
                    best_of(lambda: _nolt_core._validate_dataset_schema(columns, []), repeats)))

    def peer_calls(table: dict[str, Callable], *extra: Any) -> dict[str, Callable[[], Any]]:
        if not with_peers:
            return {}
        return {peer: (lambda function=table[peer]: function(columns, *extra)) for peer in PEERS}

    rows.append(time_module_and_peers(dataset, "profile_dataset", lambda: _nolt_core.profile_dataset(columns),
                                      peer_calls(peers.PROFILE), repeats))
    rows.append(time_module_and_peers(dataset, "inspect_dataset", lambda: _nolt_core.inspect_dataset(columns),
                                      peer_calls(peers.INSPECT), repeats))
    if not full:
        return rows

    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "suggested.json")
        _, file_checks = schema_checks(dataset, with_ranges=False)
        rows.append(Row(dataset.name, dataset.cells, "save_suggested_schema_dataset",
                        best_of(lambda: _nolt_core.save_suggested_schema_dataset(columns, path), repeats)))
        assert _nolt_core.validate_dataset_file(columns, path)["is_valid"]
        rows.append(time_module_and_peers(dataset, "validate_dataset_file (saved schema)",
                                          lambda: _nolt_core.validate_dataset_file(columns, path),
                                          peer_calls(peers.VALIDATE, file_checks), repeats))
    schema, range_checks = schema_checks(dataset, with_ranges=True)
    assert _nolt_core._validate_dataset_schema(columns, schema)["is_valid"]
    rows.append(time_module_and_peers(dataset, "_validate_dataset_schema (+ranges)",
                                      lambda: _nolt_core._validate_dataset_schema(columns, schema),
                                      peer_calls(peers.VALIDATE, range_checks), repeats))

    after = datasets.mutated(dataset).columns
    both_sides = dataset.cells + sum(len(values) for _, _, values in after)
    rows.append(Row(dataset.name, both_sides, "compare_datasets (both sides)",
                    best_of(lambda: _nolt_core.compare_datasets(columns, after), repeats)))
    rows.append(Row(dataset.name, both_sides, "schema_drift_datasets (both sides)",
                    best_of(lambda: _nolt_core.schema_drift_datasets(columns, after), repeats)))
    return rows


def format_seconds(seconds: float) -> str:
    if seconds < 1e-2:
        return f"{seconds * 1e3:.2f} ms"
    if seconds < 1.0:
        return f"{seconds * 1e3:.0f} ms"
    return f"{seconds:.2f} s"


def timing_table(rows: list[Row]) -> list[str]:
    lines = [
        "| dataset | cells | work | ours | ns/cell | pandas (x) | polars (x) | pyarrow (x) |",
        "|---|---:|---|---:|---:|---:|---:|---:|",
    ]
    for row in rows:
        peer_cells = []
        for peer in PEERS:
            seconds = row.peers.get(peer)
            peer_cells.append("" if seconds is None else f"{format_seconds(seconds)} ({seconds / row.seconds:.1f}x)")
        lines.append(f"| {row.dataset} | {row.cells:,} | {row.work} | {format_seconds(row.seconds)} "
                     f"| {row.ns_per_cell:.1f} | " + " | ".join(peer_cells) + " |")
    return lines


def floor_lines(rows: list[Row]) -> list[str]:
    """Ingestion against the floor, dataset by dataset."""
    lines = ["| dataset | floor ns/cell | ingest ns/cell | ingest / floor | profile ns/cell |",
             "|---|---:|---:|---:|---:|"]
    by_dataset: dict[str, dict[str, Row]] = {}
    for row in rows:
        by_dataset.setdefault(row.dataset, {})[row.work] = row
    for name, works in by_dataset.items():
        floor = works["floor (touch every cell)"]
        ingest = works["ingest (convert only)"]
        profile = works["profile_dataset"]
        lines.append(f"| {name} | {floor.ns_per_cell:.1f} | {ingest.ns_per_cell:.1f} "
                     f"| {ingest.seconds / floor.seconds:.2f} | {profile.ns_per_cell:.1f} |")
    return lines


def scaling_lines(rows: list[Row]) -> list[str]:
    """ns per cell of each work across the mixed sizes: flat means linear in cells."""
    sizes = [row.dataset for row in rows if row.dataset.startswith("mixed") and row.work == "profile_dataset"]
    works = list(dict.fromkeys(row.work for row in rows if row.dataset.startswith("mixed")))
    figures = {(row.dataset, row.work): row.ns_per_cell for row in rows}
    lines = ["| work | " + " | ".join(sizes) + " |", "|---|" + "---:|" * len(sizes)]
    for work in works:
        lines.append(f"| {work} | " + " | ".join(f"{figures.get((size, work), float('nan')):.1f}" for size in sizes)
                     + " |")
    return lines


def target_lines(rows: list[Row], memory_rows: list[dict[str, Any]]) -> list[str]:
    """The performance targets on the 10^6-row mixed dataset, each with its figure."""
    figures = {(row.dataset, row.work): row for row in rows}
    mixed = "mixed 1,000,000"
    lines = ["| target | figure | met |", "|---|---:|---|"]

    def check(label: str, value: float | None, ok: Callable[[float], bool], unit: str = "x") -> None:
        if value is None:
            return
        lines.append(f"| {label} | {value:.2f}{unit} | {'yes' if ok(value) else 'NO'} |")

    def ratio(work: str, peer: str) -> float | None:
        row = figures.get((mixed, work))
        if row is None or peer not in row.peers:
            return None
        return row.peers[peer] / row.seconds

    for work in ("profile_dataset", "inspect_dataset"):
        check(f"{work}: pandas / ours >= 3", ratio(work, "pandas"), lambda value: value >= 3)
        for peer in ("polars", "pyarrow"):
            check(f"{work}: {peer} / ours >= 2", ratio(work, peer), lambda value: value >= 2)
    for work in ("validate_dataset_file (saved schema)", "_validate_dataset_schema (+ranges)"):
        check(f"{work}: pandas / ours >= 5", ratio(work, "pandas"), lambda value: value >= 5)
    floor = figures.get((mixed, "floor (touch every cell)"))
    ingest = figures.get((mixed, "ingest (convert only)"))
    if floor and ingest:
        check("ingest / floor <= 3", ingest.seconds / floor.seconds, lambda value: value <= 3)
    for result in memory_rows:
        if result["dataset"] == mixed:
            check(f"{result['work']}: peak extra bytes/cell beyond text <= 24", result["beyond_text"],
                  lambda value: value <= 24, " B")
    long_rows = [row for row in rows if row.dataset.startswith("long") and row.work == "profile_dataset"]
    wide_rows = [row for row in rows if row.dataset.startswith("wide") and row.work == "profile_dataset"]
    if long_rows and wide_rows:
        check("profile ns/cell: wide / long <= 1", wide_rows[0].ns_per_cell / long_rows[0].ns_per_cell,
              lambda value: value <= 1.0)
    return lines


def machine_lines(load_before: tuple[float, ...], load_after: tuple[float, ...]) -> list[str]:
    cpu = platform.processor() or "unknown"
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    versions = peers.versions()
    return [
        f"- Machine: {cpu}, {os.cpu_count()} cores, Linux {platform.release()}",
        f"- Python {platform.python_version()}, _nolt_core {_nolt_core.version()} "
        f"({Path(_nolt_core.__file__).parent}), pandas {versions['pandas']}, polars {versions['polars']}, "
        f"pyarrow {versions['pyarrow']}",
        f"- Load average (1, 5, 15 min) before: {', '.join(f'{v:.2f}' for v in load_before)}; "
        f"after: {', '.join(f'{v:.2f}' for v in load_after)} (a shared machine; times are best-of-N)",
        f"- Date: {datetime.datetime.now().strftime('%Y-%m-%d %H:%M')}",
    ]


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max-rows", type=int, default=None,
                        help="largest mixed dataset (default 10^7 where memory allows, else 10^6)")
    parser.add_argument("--repeats", type=int, default=3, help="runs per figure at 10^6 rows (more below, fewer above)")
    parser.add_argument("--no-peers", action="store_true", help="time the module and the floor only")
    parser.add_argument("--no-memory", action="store_true", help="skip the peak-memory subprocesses")
    parser.add_argument("--write", metavar="FILE", help="also write the tables as Markdown to FILE")
    args = parser.parse_args(argv)

    max_rows = args.max_rows or (10_000_000 if memory.available_bytes() > 14 * 2**30 else 1_000_000)
    sizes = [rows for rows in (10_000, 100_000, 1_000_000, 10_000_000) if rows <= max_rows]
    load_before = os.getloadavg()
    rows: list[Row] = []

    for size in sizes:
        dataset = datasets.mixed(size)
        gc.collect()
        gc.freeze()  # the dataset's objects are never traced while timing
        rows += bench_dataset(dataset, args.repeats, not args.no_peers, full=True)
        print("\n".join(timing_table([row for row in rows if row.dataset == dataset.name])), flush=True)
        del dataset
        gc.unfreeze()
        gc.collect()

    long_rows = min(10_000_000, max_rows)
    long = datasets.long_float(long_rows)
    wide = datasets.wide(long, columns=1_000)
    gc.collect()
    gc.freeze()
    for dataset in (long, wide):
        rows += bench_dataset(dataset, args.repeats, not args.no_peers, full=False)
        print("\n".join(timing_table([row for row in rows if row.dataset == dataset.name])), flush=True)
    del long, wide
    gc.unfreeze()
    gc.collect()

    memory_rows = [] if args.no_memory else memory.measure_all(max_rows, long_rows)
    load_after = os.getloadavg()

    lines = ["# Benchmark results", "",
             "Produced by `make bench` (bench/run_bench.py). Seconds are the best of several runs; "
             "a peer's figure is followed by its time divided by ours (above 1: the module is faster). "
             "ns/cell is our time per input cell.", ""]
    lines += machine_lines(load_before, load_after) + [""]
    lines += ["## Time", ""] + timing_table(rows) + [""]
    lines += ["## Ingestion against the floor", "",
              "The floor reads every cell object's type and value once (bench/floor.c); ingest converts every "
              "cell into the module's columns and checks nothing (an empty schema).", ""]
    lines += floor_lines(rows) + [""]
    lines += ["## Scaling", "", "ns per cell on the mixed datasets; a flat row is linear in cells "
              "(the statistics sort aside).", ""] + scaling_lines(rows) + [""]
    if memory_rows:
        lines += ["## Peak extra memory", "", *memory.MEMORY_NOTE, ""] + memory.table(memory_rows) + [""]
    lines += ["## Targets (10^6-row mixed dataset)", ""] + target_lines(rows, memory_rows) + [""]
    text = "\n".join(lines)
    print()
    print(text)
    if args.write:
        text = text.rstrip("\n") + "\n\nThe numpy-array figures are in `RESULTS_BUFFERS.md` (`bench/bench_buffers.py`).\n"
        Path(args.write).write_text(text)
        print(f"[bench] wrote {args.write}", file=sys.stderr)


if __name__ == "__main__":
    main()
