"""Timing and memory of profile_dataset on a wide, realistic dataset.

Run with the module on the path, for example:

    PYTHONPATH=build/dev .venv/bin/python bench/bench_profile.py [--rows N]

Each measurement is a function returning a dict of figures, so other
benchmarks can import `build_columns`, `time_call` and `peak_extra_memory`
and add rows to the table printed by `main()`.
"""

from __future__ import annotations

import argparse
import json
import os
import random
import resource
import subprocess
import sys
import time
from typing import Any, Callable

DEFAULT_ROWS = 1_000_000


def build_columns(rows: int = DEFAULT_ROWS, seed: int = 7) -> list[tuple[str, str, list]]:
    """Eight columns of `rows` Python cells, as a caller would hand them over."""
    rng = random.Random(seed)
    levels = [f"level_{level_idx:02d}" for level_idx in range(20)]
    return [
        ("id", "integer", [rng.randrange(-10**12, 10**12) for _ in range(rows)]),
        ("amount", "float", [None if rng.random() < 0.05 else rng.uniform(-1e6, 1e6) for _ in range(rows)]),
        ("active", "boolean", [rng.random() < 0.5 for _ in range(rows)]),
        ("segment", "categorical", [levels[rng.randrange(20)] for _ in range(rows)]),
        ("key", "string", [f"key-{row_idx:08d}-{rng.randrange(10**6):06d}" for row_idx in range(rows)]),
        ("quantity", "integer", [rng.randrange(0, 1000) for _ in range(rows)]),
        ("ratio", "float", [rng.random() for _ in range(rows)]),
        ("created", "datetime", [_timestamp(row_idx) for row_idx in range(rows)]),
    ]


def _timestamp(row_idx: int) -> str:
    day, second = divmod(row_idx, 86_400)
    return f"2024-{1 + day // 28 % 12:02d}-{1 + day % 28:02d}T{second // 3600:02d}:{second // 60 % 60:02d}:{second % 60:02d}"


def cell_count(columns: list[tuple[str, str, list]]) -> int:
    return sum(len(values) for _, _, values in columns)


def text_bytes(columns: list[tuple[str, str, list]]) -> int:
    """UTF-8 bytes of every text cell: what the columns must hold anyway."""
    return sum(len(cell.encode()) for _, _, values in columns for cell in values if isinstance(cell, str))


def time_call(function: Callable[[], Any], repeats: int = 3) -> float:
    """Best wall time of `repeats` calls, in seconds."""
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        best = min(best, time.perf_counter() - start)
    return best


def measure_time(rows: int = DEFAULT_ROWS, repeats: int = 3) -> dict[str, Any]:
    import _nolt_core

    columns = build_columns(rows)
    cells = cell_count(columns)
    seconds = time_call(lambda: _nolt_core.profile_dataset(columns), repeats)
    return {"measurement": "profile_dataset time", "seconds": seconds, "ns_per_cell": seconds * 1e9 / cells}


def _rss_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def _peak_bytes() -> int:
    """The process's resident high-water mark. VmHWM where /proc exists: an
    exec'd child's ru_maxrss starts at its parent's peak, so it would hide the
    call's own peak whenever the parent is the larger process."""
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def _reset_peak() -> None:
    """Lowers the high-water mark to the current resident size (Linux), so the
    transient memory of building the input is not mistaken for the call's."""
    try:
        with open("/proc/self/clear_refs", "w") as clear_refs:
            clear_refs.write("5")
    except OSError:
        pass


def _peak_child(rows: int, function_name: str) -> None:
    """Runs in a fresh interpreter: one call, memory high-water mark around it."""
    import gc

    import _nolt_core

    columns = build_columns(rows)
    gc.collect()
    _reset_peak()
    rss_before = _rss_bytes()
    peak_before = _peak_bytes()
    getattr(_nolt_core, function_name)(columns)
    peak_after = _peak_bytes()
    print(json.dumps({
        "cells": cell_count(columns),
        "text_bytes": text_bytes(columns),
        "rss_before": rss_before,
        "peak_before": peak_before,
        "peak_after": peak_after,
    }))


def peak_extra_memory(rows: int = DEFAULT_ROWS, function_name: str = "profile_dataset") -> dict[str, Any]:
    """Peak memory the call adds beyond its input, measured in a fresh process.

    The increase is taken against the larger of the resident size and the
    earlier high-water mark before the call, so building the input never counts.
    """
    output = subprocess.run(
        [sys.executable, __file__, "--child", function_name, "--rows", str(rows)],
        check=True, capture_output=True, text=True, env=os.environ.copy(),
    ).stdout
    figures = json.loads(output)
    baseline = max(figures["rss_before"], figures["peak_before"])
    extra = max(0, figures["peak_after"] - baseline)
    cells = figures["cells"]
    return {
        "measurement": f"{function_name} peak extra memory",
        "extra_bytes": extra,
        "bytes_per_cell": extra / cells,
        "bytes_per_cell_beyond_text": (extra - figures["text_bytes"]) / cells,
    }


MEASUREMENTS: list[Callable[[int], dict[str, Any]]] = [
    lambda rows: measure_time(rows),
    lambda rows: peak_extra_memory(rows),
]


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=DEFAULT_ROWS)
    parser.add_argument("--child", metavar="FUNCTION", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        _peak_child(args.rows, args.child)
        return

    print(f"{args.rows} rows x 8 columns")
    for measurement in MEASUREMENTS:
        figures = measurement(args.rows)
        name = figures.pop("measurement")
        rendered = ", ".join(
            f"{key} {value:.3f}" if isinstance(value, float) else f"{key} {value}" for key, value in figures.items()
        )
        print(f"{name:<40} {rendered}")


if __name__ == "__main__":
    main()
