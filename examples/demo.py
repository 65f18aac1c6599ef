"""A command-line tour of nolt on the bundled orders dataset.

Profiles the first version, suggests a schema for it and saves it, validates the second
version against the saved file, then compares the two versions and reports the schema drift
between them. Each step prints the command it runs (`nolt ...`) and what it printed.
"""

from __future__ import annotations

import os
import pathlib
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
TYPES = ["--types", "size=categorical,channel=categorical"]


def nolt(*arguments: str, expect: int = 0) -> None:
    """Runs `python -m nolt ARGUMENTS` from the repository folder and shows it as `nolt ...`."""
    print(f"\n$ nolt {' '.join(arguments)}", flush=True)
    environment = dict(os.environ)
    source = str(REPO / "python")
    environment["PYTHONPATH"] = os.pathsep.join(filter(None, [environment.get("PYTHONPATH"), source]))
    completed = subprocess.run([sys.executable, "-m", "nolt", *arguments], cwd=REPO, env=environment, check=False)
    if completed.returncode != expect:
        raise SystemExit(f"nolt {arguments[0]} exited with {completed.returncode}, expected {expect}")
    if completed.returncode:
        print(f"(exit status {completed.returncode})")


def main() -> None:
    before, after = "examples/orders.csv", "examples/orders_v2.csv"
    schema = "build/demo/orders.schema.json"
    (REPO / schema).parent.mkdir(parents=True, exist_ok=True)
    nolt("profile", before, "--types", "size=categorical")
    nolt("suggest", before, "--types", "size=categorical", "-o", schema)
    # The new version breaks the schema: validate reports it and exits with status 1.
    nolt("validate", after, "--schema", schema, *TYPES, expect=1)
    nolt("compare", before, after, *TYPES)
    # Columns were removed and nulls appeared: drift of error severity, exit status 1.
    nolt("drift", before, after, *TYPES, expect=1)
    nolt("drift", before, after, *TYPES, "--json", expect=1)


if __name__ == "__main__":
    main()
