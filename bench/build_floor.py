"""Builds the benchmark's floor extension (bench/floor.c) into a folder under build/.

    .venv/bin/python bench/build_floor.py [OUT_DIR]      (default: build/bench)

A direct compiler call against this interpreter's headers: nothing is installed
and nothing is written outside OUT_DIR. Rebuilds only when floor.c is newer.
"""

from __future__ import annotations

import os
import shlex
import subprocess
import sys
import sysconfig
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
SOURCE = REPO / "bench" / "floor.c"


def build(out_dir: Path) -> Path:
    out_dir.mkdir(parents=True, exist_ok=True)
    target = out_dir / f"_nolt_bench_floor{sysconfig.get_config_var('EXT_SUFFIX')}"
    if target.exists() and target.stat().st_mtime >= SOURCE.stat().st_mtime:
        return target
    compiler = shlex.split(os.environ.get("CC") or sysconfig.get_config_var("CC") or "cc")[:1]
    command = [
        *compiler, "-O2", "-fPIC", "-shared", "-Wall", "-Wextra",
        f"-I{sysconfig.get_paths()['include']}", str(SOURCE), "-o", str(target),
    ]
    subprocess.run(command, check=True)
    return target


def main() -> None:
    out_dir = Path(sys.argv[1]) if len(sys.argv) > 1 else REPO / "build" / "bench"
    print(f"[bench] floor extension: {build(out_dir.resolve())}", file=sys.stderr)


if __name__ == "__main__":
    main()
