"""Peak extra memory of one module call, measured in a fresh interpreter.

The child builds the dataset (and whatever else the call takes), collects
garbage, lowers the kernel's resident high-water mark to the current resident
size (/proc/self/clear_refs), makes the one call and reads the high-water mark
(VmHWM) again: the difference is what the call added at its peak, input
excluded. The same approach as bench_profile.py, whose helpers it uses.
"""

from __future__ import annotations

import gc
import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from bench_profile import _peak_bytes, _reset_peak, _rss_bytes  # noqa: E402

MEMORY_NOTE = [
    "Measured in a fresh interpreter per call: the resident high-water mark after the call minus the resident "
    "size just before it (the mark is reset through /proc/self/clear_refs after the input is built). "
    "Per cell = extra bytes / input cells; 'beyond text' first subtracts the UTF-8 bytes of the text cells, "
    "which any copy of the data must hold.",
]

WORKS = ("profile_dataset", "inspect_dataset", "validate_dataset_file", "_validate_dataset_schema",
         "compare_datasets", "schema_drift_datasets")


def available_bytes() -> int:
    try:
        with open("/proc/meminfo") as meminfo:
            for line in meminfo:
                if line.startswith("MemAvailable:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def _build(kind: str, rows: int):
    import datasets

    if kind == "mixed":
        return datasets.mixed(rows)
    long = datasets.long_float(rows)
    return long if kind == "long" else datasets.wide(long, columns=1_000)


def _child(kind: str, rows: int, work: str) -> None:
    import _nolt_core
    import datasets

    dataset = _build(kind, rows)
    columns = dataset.columns
    cells = dataset.cells
    call: Any
    with tempfile.TemporaryDirectory() as folder:
        if work == "validate_dataset_file":
            path = os.path.join(folder, "suggested.json")
            _nolt_core.save_suggested_schema_dataset(columns, path)
            def call() -> Any: return _nolt_core.validate_dataset_file(columns, path)
        elif work == "_validate_dataset_schema":
            schema = [(c["name"], c["logical_type"], c["nullable"], None, c["constraints"]["allowed_values"])
                      for c in _nolt_core.suggest_schema_dataset(columns)["columns"]]
            def call() -> Any: return _nolt_core._validate_dataset_schema(columns, schema)
        elif work in ("compare_datasets", "schema_drift_datasets"):
            after = datasets.mutated(dataset).columns
            cells += sum(len(values) for _, _, values in after)
            function = getattr(_nolt_core, work)
            def call() -> Any: return function(columns, after)
        else:
            function = getattr(_nolt_core, work)
            def call() -> Any: return function(columns)
        text_bytes = dataset.text_bytes * (2 if work in ("compare_datasets", "schema_drift_datasets") else 1)
        gc.collect()
        _reset_peak()
        rss_before = _rss_bytes()
        peak_before = _peak_bytes()
        call()
        peak_after = _peak_bytes()
    print(json.dumps({"cells": cells, "text_bytes": text_bytes, "rss_before": rss_before,
                      "peak_before": peak_before, "peak_after": peak_after}))


def measure(kind: str, rows: int, work: str) -> dict[str, Any]:
    output = subprocess.run([sys.executable, __file__, kind, str(rows), work],
                            check=True, capture_output=True, text=True, env=os.environ.copy()).stdout
    figures = json.loads(output)
    extra = max(0, figures["peak_after"] - max(figures["rss_before"], figures["peak_before"]))
    cells = figures["cells"]
    label = f"wide 1,000 x {rows // 1_000:,}" if kind == "wide" else f"{kind} {rows:,}"
    return {"dataset": label, "work": work, "cells": cells, "extra_bytes": extra,
            "per_cell": extra / cells, "beyond_text": (extra - figures["text_bytes"]) / cells,
            "text_per_cell": figures["text_bytes"] / cells}


def measure_all(max_rows: int, long_rows: int) -> list[dict[str, Any]]:
    results = [measure("mixed", min(max_rows, 1_000_000), work) for work in WORKS]
    if max_rows >= 10_000_000:
        results.append(measure("mixed", 10_000_000, "profile_dataset"))
    results.append(measure("long", long_rows, "profile_dataset"))
    results.append(measure("wide", long_rows, "profile_dataset"))
    return results


def table(results: list[dict[str, Any]]) -> list[str]:
    lines = ["| dataset | work | cells | peak extra | bytes/cell | text bytes/cell | beyond text, bytes/cell |",
             "|---|---|---:|---:|---:|---:|---:|"]
    for result in results:
        lines.append(f"| {result['dataset']} | {result['work']} | {result['cells']:,} "
                     f"| {result['extra_bytes'] / 2**20:.1f} MiB | {result['per_cell']:.1f} "
                     f"| {result['text_per_cell']:.1f} | {result['beyond_text']:.1f} |")
    return lines


if __name__ == "__main__":
    if len(sys.argv) == 4:
        _child(sys.argv[1], int(sys.argv[2]), sys.argv[3])
    else:
        print("\n".join(table(measure_all(int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000, 1_000_000))))
