"""Validation throughput on 1,000,000 rows x 8 mixed columns held in Python lists.

Run: PYTHONPATH=<build dir> .venv/bin/python bench/bench_validate.py [rows]

Times _validate_dataset_schema against (1) the dataset's own suggested schema,
(2) a heavier schema that also asks for ranges and boolean allowed values, and
(3) an empty schema, which converts the cells but checks nothing (the floor).
The file route (validate_dataset_file on the saved suggested schema) is
timed too. Reports the best of several runs in nanoseconds per cell.

With --detail, times nolt's validation (nolt._engine.validate) of the heavier
schema with failure detail against the core's validation without it and
prints the ratio (the budget is 1.5x), e.g. at 10**7 rows:
  PYTHONPATH=<build dir> .venv/bin/python bench/bench_validate.py 10000000 --detail
"""

import os
import random
import sys
import tempfile
import time

import _nolt_core

ARGS = [arg for arg in sys.argv[1:] if not arg.startswith("--")]
ROWS = int(ARGS[0]) if ARGS else 1_000_000
DETAIL = "--detail" in sys.argv
REPEATS = 5


def make_dataset(rows):
    rng = random.Random(7)
    sizes = ["small", "medium", "large", "huge"]
    return [
        ("id", "integer", list(range(rows))),
        ("amount", "float", [rng.random() * 1000.0 for _ in range(rows)]),
        ("count", "integer", [rng.randrange(-50, 50) if n % 100 else None for n in range(rows)]),
        ("active", "boolean", [n % 3 == 0 for n in range(rows)]),
        ("label", "string", [f"user-{n}" for n in range(rows)]),
        ("size", "categorical", [sizes[n % 4] for n in range(rows)]),
        ("seen", "datetime", ["2024-05-01T12:00:00"] * rows),
        ("extra", "unknown", [n if n % 2 else "x" for n in range(rows)]),
    ]


def own_suggested_schema(columns):
    try:
        suggested = _nolt_core.suggest_schema_dataset(columns)["columns"]
    except NotImplementedError:
        # Same content as the suggested schema: nullable where a null was
        # seen, allowed values only for the categorical column.
        return [
            ("id", "integer", False, None, None),
            ("amount", "float", False, None, None),
            ("count", "integer", True, None, None),
            ("active", "boolean", False, None, None),
            ("label", "string", False, None, None),
            ("size", "categorical", False, None, ["small", "medium", "large", "huge"]),
            ("seen", "datetime", False, None, None),
            ("extra", "unknown", False, None, None),
        ]
    return [
        (c["name"], c["logical_type"], c["nullable"], None, c["constraints"]["allowed_values"]) for c in suggested
    ]


def heavy_schema(rows):
    return [
        ("id", "integer", False, (0, rows), None),
        ("amount", "float", False, (0.0, 1000.0), None),
        ("count", "integer", True, (-50, 50), None),
        ("active", "boolean", False, None, [True, False]),
        ("label", "string", False, None, None),
        ("size", "categorical", False, None, ["small", "medium", "large", "huge"]),
        ("seen", "datetime", False, None, None),
        ("extra", "unknown", False, None, None),
    ]


def best_ns_per_cell(columns, schema, fn=_nolt_core._validate_dataset_schema):
    cells = sum(len(values) for _, _, values in columns)
    best = float("inf")
    for _ in range(REPEATS):
        start = time.perf_counter_ns()
        result = fn(columns, schema)
        best = min(best, time.perf_counter_ns() - start)
    return best / cells, result


def detail_ratio(columns, repeats=9):
    """nolt's validation with failure detail against the core's without, on the heavier schema.

    The three are run in turn, `repeats` rounds, and each keeps its best wall and CPU time:
    on a shared machine the CPU time of the process is the steadier measure of the cost.
    """
    from nolt import _engine

    schema = heavy_schema(ROWS)
    # A schema the data breaks in every rule, so that detail has rows to count.
    schema[1] = ("amount", "float", False, (0.0, 500.0), None)
    schema[5] = ("size", "categorical", False, None, ["small", "medium"])
    schema[2] = ("count", "integer", False, (-25, 25), None)
    cases = {
        "core, no detail": lambda: _nolt_core._validate_dataset_schema(columns, schema),
        "nolt, no detail": lambda: _engine.validate(columns, None, schema, False),
        "nolt, failure detail": lambda: _engine.validate(columns, None, schema, True),
    }
    cells = sum(len(values) for _, _, values in columns)
    best = {label: [float("inf"), float("inf")] for label in cases}
    results = {}
    for _ in range(repeats):
        for label, run in cases.items():
            wall, cpu = time.perf_counter_ns(), time.process_time_ns()
            results[label] = run()
            cpu, wall = time.process_time_ns() - cpu, time.perf_counter_ns() - wall
            best[label] = [min(best[label][0], wall), min(best[label][1], cpu)]
    core, detail = results["core, no detail"], results["nolt, failure detail"]
    assert [issue["code"] for issue in detail["issues"]] == [issue["code"] for issue in core["issues"]]
    for label, (wall, cpu) in best.items():
        print(f"  {label:32s} {wall / cells:6.2f} ns/cell wall  {cpu / cells:6.2f} ns/cell CPU")
    print(f"  failing rows counted: {sum(issue['failure_count'] for issue in detail['issues'])}")
    base, with_detail = best["core, no detail"], best["nolt, failure detail"]
    print(f"  detail / core = {with_detail[0] / base[0]:.2f}x wall, {with_detail[1] / base[1]:.2f}x CPU (budget 1.5x)")


def main():
    columns = make_dataset(ROWS)
    if DETAIL:
        print(f"{ROWS} rows x {len(columns)} columns, best of 9 rounds")
        detail_ratio(columns)
        return
    cases = [
        ("own suggested schema", own_suggested_schema(columns)),
        ("heavier schema", heavy_schema(ROWS)),
        ("empty schema (conversion only)", []),
    ]
    print(f"{ROWS} rows x {len(columns)} columns, best of {REPEATS}")
    for label, schema_columns in cases:
        ns, result = best_ns_per_cell(columns, schema_columns)
        print(f"  {label:32s} {ns:6.2f} ns/cell  (is_valid={result['is_valid']}, issues={result['error_count']})")
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "suggested.json")
        _nolt_core.save_suggested_schema_dataset(columns, path)
        ns, result = best_ns_per_cell(columns, path, _nolt_core.validate_dataset_file)
        label = "saved suggested schema (file)"
        print(f"  {label:32s} {ns:6.2f} ns/cell  (is_valid={result['is_valid']}, issues={result['error_count']})")


if __name__ == "__main__":
    main()
