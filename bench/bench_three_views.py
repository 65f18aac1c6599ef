"""inspect_dataset against the three calls it replaces.

inspect_dataset converts and profiles its input once and builds all three
views from that one profile, so it should cost about one conversion and one
profile, well under profile_dataset + observed_schema_dataset +
suggest_schema_dataset called one after the other.

    PYTHONPATH=build/dev .venv/bin/python bench/bench_three_views.py [--rows N] [--repeats R]
"""

from __future__ import annotations

import argparse
import random

import _nolt_core
from bench_buffers import best_time  # this folder is on the path of a script run from it

DEFAULT_ROWS = 1_000_000


def build_columns(rows: int, seed: int = 11) -> list[tuple[str, str, list]]:
    """Eight mixed columns of `rows` Python cells each, as a caller would pass them."""
    rng = random.Random(seed)
    levels = [f"level_{level_idx:02d}" for level_idx in range(30)]
    return [
        ("id", "integer", [rng.randrange(-10**12, 10**12) for _ in range(rows)]),
        ("amount", "float", [None if rng.random() < 0.05 else rng.uniform(-1e6, 1e6) for _ in range(rows)]),
        ("active", "boolean", [None if rng.random() < 0.02 else rng.random() < 0.5 for _ in range(rows)]),
        ("segment", "categorical", [levels[rng.randrange(30)] for _ in range(rows)]),
        ("status", "string", [("open", "closed", "pending")[rng.randrange(3)] for _ in range(rows)]),
        ("key", "string", [f"key-{row_idx:08d}" for row_idx in range(rows)]),
        ("quantity", "integer", [None if rng.random() < 0.01 else rng.randrange(1000) for _ in range(rows)]),
        ("created", "datetime", [f"2024-01-{1 + row_idx % 28:02d}T{row_idx % 24:02d}:00:00" for row_idx in range(rows)]),
    ]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=DEFAULT_ROWS)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()

    columns = build_columns(args.rows)
    separate = {
        "profile_dataset": _nolt_core.profile_dataset,
        "observed_schema_dataset": _nolt_core.observed_schema_dataset,
        "suggest_schema_dataset": _nolt_core.suggest_schema_dataset,
    }
    # The combined call must give exactly the separate results before it is timed.
    combined = _nolt_core.inspect_dataset(columns)
    assert combined == {
        "profile": separate["profile_dataset"](columns),
        "observed_schema": separate["observed_schema_dataset"](columns),
        "suggested_schema": separate["suggest_schema_dataset"](columns),
    }

    timings = {name: best_time(lambda function=function: function(columns), args.repeats)
               for name, function in separate.items()}
    inspect_seconds = best_time(lambda: _nolt_core.inspect_dataset(columns), args.repeats)
    separate_sum = sum(timings.values())

    print(f"{args.rows:,} rows x {len(columns)} columns, best of {args.repeats}")
    for name, seconds in timings.items():
        print(f"  {name:<26} {seconds * 1e3:9.1f} ms")
    print(f"  {'sum of the three':<26} {separate_sum * 1e3:9.1f} ms")
    print(f"  {'inspect_dataset':<26} {inspect_seconds * 1e3:9.1f} ms"
          f"  ({inspect_seconds / separate_sum:.0%} of the sum)")


if __name__ == "__main__":
    main()
