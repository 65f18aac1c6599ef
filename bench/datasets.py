"""Deterministic synthetic datasets, handed over as plain Python lists.

Values are drawn with numpy's PCG64 from a fixed seed (fast enough for 10^7
rows) and turned into Python objects with .tolist(), so every cell is an
ordinary int, float, bool, str or None allocated in row order, as a reader of
a file would leave them.
"""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

Columns = list[tuple[str, str, list]]

CATEGORY_LEVELS = [f"segment_{level_idx:02d}" for level_idx in range(20)]
NULL_SHARE = 0.05
NAN_SHARE = 0.001
EPOCH_2024 = np.datetime64("2024-01-01T00:00:00", "s")


@dataclass
class Dataset:
    name: str
    columns: Columns
    # What a schema for this data would demand: per column (nullable, range, allowed values).
    notes: dict = field(default_factory=dict)

    @property
    def rows(self) -> int:
        return len(self.columns[0][2]) if self.columns else 0

    @property
    def cells(self) -> int:
        return sum(len(values) for _, _, values in self.columns)

    @property
    def text_bytes(self) -> int:
        """UTF-8 bytes of every text cell: what any copy of the data must hold."""
        return sum(len(cell.encode()) for _, _, values in self.columns for cell in values if isinstance(cell, str))


def _floats_with_gaps(rng: np.random.Generator, rows: int) -> list:
    """Normal floats with 5% None and about one NaN per thousand cells."""
    values = (rng.standard_normal(rows) * 1_000.0 + 250.0).tolist()
    draw = rng.random(rows)
    for row_idx in np.flatnonzero(draw < NULL_SHARE).tolist():
        values[row_idx] = None
    for row_idx in np.flatnonzero(draw > 1.0 - NAN_SHARE).tolist():
        values[row_idx] = float("nan")
    return values


def mixed(rows: int, seed: int = 20240601) -> Dataset:
    """Seven columns: two integer columns (compact row ids and wide-range
    amounts), floats with nulls and NaNs, booleans, a 20-level categorical, a
    high-cardinality text key and datetime text."""
    rng = np.random.Generator(np.random.PCG64(seed))
    ids = list(range(rows))
    amounts = rng.integers(-10**12, 10**12, size=rows).tolist()
    prices = _floats_with_gaps(rng, rows)
    active = (rng.random(rows) < 0.5).tolist()
    levels = CATEGORY_LEVELS
    segments = [levels[level_idx] for level_idx in rng.integers(0, len(levels), size=rows).tolist()]
    keys = [f"user-{number:010d}" for number in rng.integers(0, 10**10, size=rows).tolist()]
    seconds = rng.integers(0, 366 * 86_400, size=rows)
    created = np.datetime_as_string(EPOCH_2024 + seconds.astype("timedelta64[s]"), unit="s").tolist()
    columns: Columns = [
        ("id", "integer", ids),
        ("amount_cents", "integer", amounts),
        ("price", "float", prices),
        ("active", "boolean", active),
        ("segment", "categorical", segments),
        ("user_key", "string", keys),
        ("created_at", "datetime", created),
    ]
    return Dataset(f"mixed {rows:,}", columns)


def long_float(rows: int, seed: int = 7) -> Dataset:
    """One float column with the mixed dataset's gaps."""
    rng = np.random.Generator(np.random.PCG64(seed))
    return Dataset(f"long float 1 x {rows:,}", [("value", "float", _floats_with_gaps(rng, rows))])


def wide(long: Dataset, columns: int = 1_000) -> Dataset:
    """`columns` float columns cut from the long column: the same cell objects
    in the same order, so the two datasets differ only in shape."""
    values = long.columns[0][2]
    rows = len(values) // columns
    return Dataset(
        f"wide {columns:,} x {rows:,}",
        [(f"value_{column_idx:04d}", "float", values[column_idx * rows:(column_idx + 1) * rows])
         for column_idx in range(columns)],
    )


def mutated(dataset: Dataset) -> Dataset:
    """The 'after' side of a comparison: one column dropped, one added, one
    column gains nulls, one changes its declared type."""
    columns = [list(column) for column in dataset.columns]
    rows = dataset.rows
    after: Columns = []
    for name, type_name, values in columns:
        if name == "user_key":
            continue  # removed
        if name == "active":
            values = [None if row_idx % 97 == 0 else cell for row_idx, cell in enumerate(values)]
        if name == "segment":
            type_name = "string"
        after.append((name, type_name, values))
    after.append(("region", "categorical", [("north", "south", "east", "west")[row_idx % 4] for row_idx in range(rows)]))
    return Dataset(f"{dataset.name} (after)", after)
