"""What the profile details cost: nolt.profile (the core's profile plus each column's details)
against the core's profile_dataset of the same columns, on the mixed dataset.

    PYTHONPATH=build/dev .venv/bin/python bench/bench_details.py [--rows N] [--repeats N]

The two calls alternate and each figure is the best of its runs, as wall time and as the
process's CPU time (steadier on a machine shared with other work). nolt.profile is given one
thread, as the core has: the budget is about the work the details add, not about threads. The budget: the ratio stays at or below 1.3. Then the engine alone on one thread, with
and without details (what the details cost where they are computed), and per column the time
the details add.
"""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path
from typing import Any, Callable

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "python"))  # the package beside the build on PYTHONPATH

import _nolt_core  # noqa: E402
import nolt  # noqa: E402
import nolt._api  # noqa: E402
import nolt._engine  # noqa: E402

import datasets  # noqa: E402

BUDGET = 1.3


def best_pair(first: Callable[[], Any], second: Callable[[], Any], repeats: int) -> dict[str, tuple[float, float]]:
    """Best (wall, cpu) seconds of each call, the calls alternating."""
    best = {"first": (float("inf"), float("inf")), "second": (float("inf"), float("inf"))}
    for _ in range(repeats):
        for name, function in (("first", first), ("second", second)):
            wall, cpu = time.perf_counter(), time.process_time()
            function()
            wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
            best[name] = (min(best[name][0], wall), min(best[name][1], cpu))
    return best


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--repeats", type=int, default=7)
    args = parser.parse_args(argv)

    columns = datasets.mixed(args.rows).columns
    best = best_pair(lambda: _nolt_core.profile_dataset(columns), lambda: nolt.profile(columns, threads=1), args.repeats)
    (core_wall, core_cpu), (nolt_wall, nolt_cpu) = best["first"], best["second"]
    print(f"mixed {args.rows:,} rows x {len(columns)} columns, best of {args.repeats}")
    print(f"{'':28} {'wall':>9} {'cpu':>9}")
    print(f"{'_nolt_core.profile_dataset':28} {core_wall:9.3f} {core_cpu:9.3f}")
    print(f"{'nolt.profile, 1 thread':28} {nolt_wall:9.3f} {nolt_cpu:9.3f}")
    ratio_wall, ratio_cpu = nolt_wall / core_wall, nolt_cpu / core_cpu
    verdict = "within" if ratio_cpu <= BUDGET else "OVER"
    print(f"{'ratio':28} {ratio_wall:9.2f} {ratio_cpu:9.2f}   ({verdict} the {BUDGET}x budget by cpu)")
    prepared = nolt._api.prepare(None, columns)[0]
    engine = best_pair(lambda: nolt._engine.profile(prepared, 1, False), lambda: nolt._engine.profile(prepared, 1, True),
                       args.repeats)
    (plain_wall, plain_cpu), (details_wall, details_cpu) = engine["first"], engine["second"]
    print(f"{'engine, 1 thread, no details':28} {plain_wall:9.3f} {plain_cpu:9.3f}")
    print(f"{'engine, 1 thread, details':28} {details_wall:9.3f} {details_cpu:9.3f}")
    print(f"{'ratio':28} {details_wall / plain_wall:9.2f} {details_cpu / plain_cpu:9.2f}")
    print()
    print("details per column: cpu ns per row added")
    for column in columns:
        one = [column]
        times = best_pair(lambda: _nolt_core.profile_dataset(one), lambda: nolt.profile(one, threads=1),
                          max(3, args.repeats // 2))
        added = (times["second"][1] - times["first"][1]) * 1e9 / max(args.rows, 1)
        print(f"  {column[0]:<14} {column[1]:<12} {added:6.1f}")


if __name__ == "__main__":
    main()
