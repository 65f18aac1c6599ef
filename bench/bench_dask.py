"""nolt.dask on a two-worker cluster next to nolt on one machine: time, memory, equal results.

    .venv/bin/python bench/bench_dask.py [--rows 10000000] [--partitions 16] [--write bench/RESULTS_DASK.md]

The data (7 columns: two integer, two float, two text, one boolean, with nulls) is made on the
workers partition by partition and kept there (persisted), so the distributed run starts from
data in the workers' memory, as nolt on one machine starts from a frame in its own. For each
work the distributed result must equal nolt's on the same rows (checked, not assumed).

Distributed: wall-clock seconds of the nolt.dask call, and each worker's resident peak during
it (its high-water mark, reset just before the call) with the rise over its resident size
before the call. One machine: a fresh interpreter builds the whole frame, then times the same
nolt call; its peak and rise are measured the same way. Dask's own describe() (approximate
quantiles, no distinct counts) is timed on the same persisted frame for reference.
"""

from __future__ import annotations

import argparse
import json
import os
import pickle
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "python"))

from bench_profile import _peak_bytes, _reset_peak, _rss_bytes  # noqa: E402

WORKS = ("profile", "inspect", "validate")


def make_partition(index: int, rows: int) -> Any:
    """Rows index*rows ... of the benchmark's frame; the same on every machine."""
    import numpy as np
    import pandas as pd

    rng = np.random.default_rng(index)
    cities = np.array([f"city {number}" for number in range(30)], dtype=object)
    city = cities[rng.integers(0, 30, rows)]
    city[rng.random(rows) < 0.01] = None
    quantity = pd.array(rng.integers(0, 1000, rows), dtype="Int64")
    quantity[rng.random(rows) < 0.05] = pd.NA
    score = rng.normal(size=rows)
    score[rng.random(rows) < 0.02] = np.nan
    return pd.DataFrame(
        {
            "id": np.arange(index * rows, (index + 1) * rows, dtype=np.int64),
            "quantity": quantity,
            "price": rng.lognormal(3.0, 1.0, rows),
            "score": score,
            "city": pd.array(city, dtype="string"),
            "code": pd.array([f"c{number}" for number in rng.integers(0, 1_000_000, rows).tolist()], dtype="string"),
            "flag": rng.random(rows) < 0.3,
        },
        index=pd.RangeIndex(index * rows, (index + 1) * rows),
    )


def run_work(module: Any, work: str, data: Any, schema: str) -> Any:
    if work == "validate":
        return module.validate(data, schema)
    return getattr(module, work)(data)


def one_machine(work: str, rows: int, partitions: int, schema: str, out: str) -> None:
    """In a fresh interpreter: the whole frame, then one timed nolt call."""
    import gc

    import pandas as pd

    import nolt

    frame = pd.concat([make_partition(index, rows // partitions) for index in range(partitions)])
    gc.collect()
    before = _rss_bytes()
    _reset_peak()
    started = time.perf_counter()
    result = run_work(nolt, work, frame, schema)
    seconds = time.perf_counter() - started
    peak = _peak_bytes()
    with open(out, "wb") as file:
        pickle.dump({"seconds": seconds, "peak": peak, "before": before, "result": result}, file)


def _mib(count: int) -> str:
    return f"{count / 2**20:,.0f} MiB"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rows", type=int, default=10_000_000)
    parser.add_argument("--partitions", type=int, default=16)
    parser.add_argument("--write", metavar="MARKDOWN")
    parser.add_argument("--one-machine", nargs=3, metavar=("WORK", "SCHEMA", "OUT"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.one_machine:
        work, schema, out = args.one_machine
        one_machine(work, args.rows, args.partitions, schema, out)
        return

    import dask.dataframe as dd
    import distributed

    import nolt.dask

    rows_each = args.rows // args.partitions
    lines = [
        f"# nolt.dask: {rows_each * args.partitions:,} rows x 7 columns in {args.partitions} partitions",
        "",
        "Produced by `.venv/bin/python bench/bench_dask.py"
        + ("" if args.rows == 10_000_000 else f" --rows {args.rows}")
        + "`. Cluster: dask.distributed LocalCluster, 2 worker processes x 1 thread.",
        f"Machine: {os.cpu_count()} cores, shared; load average before: {', '.join(f'{load:.2f}' for load in os.getloadavg())}.",
        "",
        "| work | nolt.dask (2 workers) | worker peaks (rise) | nolt, one machine | its peak (rise) | equal |",
        "|---|---:|---|---:|---:|---|",
    ]
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None, memory_limit="10GiB"
    ) as cluster, distributed.Client(cluster) as client, tempfile.TemporaryDirectory() as folder:
        meta = make_partition(0, 0)
        frame = dd.from_map(make_partition, range(args.partitions), rows=rows_each, meta=meta).persist()
        distributed.wait(frame)
        schema = os.path.join(folder, "schema.json")
        nolt.dask.save_schema(frame, schema)
        for work in WORKS:
            client.run(_reset_peak)
            before = client.run(_rss_bytes)
            client.run(_reset_peak)
            started = time.perf_counter()
            result = run_work(nolt.dask, work, frame, schema)
            seconds = time.perf_counter() - started
            peaks = client.run(_peak_bytes)
            out = os.path.join(folder, f"{work}.pickle")
            subprocess.run(
                [sys.executable, __file__, "--rows", str(args.rows), "--partitions", str(args.partitions), "--one-machine", work, schema, out],
                check=True,
            )
            with open(out, "rb") as file:
                alone = pickle.load(file)
            workers = ", ".join(f"{_mib(peaks[name])} ({_mib(peaks[name] - before[name])})" for name in sorted(peaks))
            line = (
                f"| {work} | {seconds:.2f} s | {workers} | {alone['seconds']:.2f} s | "
                f"{_mib(alone['peak'])} ({_mib(alone['peak'] - alone['before'])}) | {'yes' if alone['result'] == result else 'NO'} |"
            )
            print(line, flush=True)
            lines.append(line)
        started = time.perf_counter()
        frame[["id", "price", "score"]].describe().compute()
        lines += ["", f"Dask's own `describe()` of the columns id, price and score (approximate quantiles; it cannot describe the nullable integers): {time.perf_counter() - started:.2f} s."]
    lines += ["", f"Load average after: {', '.join(f'{load:.2f}' for load in os.getloadavg())}."]
    print("\n".join(lines))
    if args.write:
        Path(args.write).write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
