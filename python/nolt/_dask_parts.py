"""What one partition of a distributed frame contributes, and how the contributions merge.

Nothing here imports Dask: these are the plain functions that the tasks of ``nolt.dask`` run
on the workers. ``read_partition`` turns one pandas partition into the core's column tuples
(the one place a faster reader can take over); the rest turns column tuples into partial
results that are small, or into the pieces of the exact distributed sort and of the exact
distinct count:

- numeric columns: the usable values as sorted 64-bit keys (integers as they are, floats by
  their IEEE total-order key), cut by exact range boundaries into buckets that are merged,
  summed and indexed in order;
- other values: the distinct values of the partition, spread over buckets by a hash that is
  the same in every process, each bucket counted once.

Errors are found by the core itself, one column at a time, so their class and message are the
core's; a partition that fails reports (stage, column position, exception) and contributes
nothing else.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from nolt import _api
from nolt._adapters import to_columns
from nolt._columns import optional_module
from nolt.types import ColumnTuple, SchemaColumnTuple

# Stages of a failure, in the order the one-machine call meets them.
ADAPT, CONVERT, VALUE_KIND, OBSERVED = 0, 1, 2, 3
NUMERIC = ("integer", "float")
_FLIP = np.int64(0x7FFFFFFFFFFFFFFF)
_NEGATIVE_ZERO_KEY = -1  # the total-order key of -0.0; +0.0 has key 0
_CANONICAL_NAN = np.int64(0x7FF8000000000000)
OBSERVED_LIMIT = 50

Failure = tuple[int, int, BaseException]


# -- reading ----------------------------------------------------------------------------------


def read_partition(frame: Any, types: dict[str, str]) -> tuple[list[ColumnTuple], Failure | None]:
    """The column tuples of one pandas partition, every logical type fixed by ``types``."""
    try:
        return to_columns(frame, types), None
    except Exception as error:  # the first failing column, as the whole frame would report it
        for position in range(frame.shape[1]):
            try:
                to_columns(frame.iloc[:, [position]], types)
            except Exception as column_error:
                return [], (ADAPT, position, column_error)
        return [], (ADAPT, -1, error)


def check_column(column: ColumnTuple, value_kinds: bool) -> tuple[int, BaseException] | None:
    """The core's conversion error of one column, then (if asked) its numeric value-kind error."""
    try:
        if value_kinds:
            _api.drift([column], [])
        else:
            _api.validate([column], [])
        return None
    except Exception as error:
        if not value_kinds:
            return CONVERT, error
        try:
            _api.validate([column], [])
        except Exception as conversion_error:
            return CONVERT, conversion_error
        return VALUE_KIND, error


def checked_columns(columns: Sequence[ColumnTuple]) -> Failure | None:
    """The first conversion error of any column, else the first value-kind error."""
    value_kind: Failure | None = None
    for position, column in enumerate(columns):
        checked = check_column(column, value_kinds=value_kind is None)
        if checked is not None and checked[0] == CONVERT:
            return CONVERT, position, checked[1]
        if checked is not None and value_kind is None:
            value_kind = VALUE_KIND, position, checked[1]
    return value_kind


def first_failure(failures: Sequence[Failure | None], rank: Any = None) -> Failure | None:
    """The failure the one-machine call meets first: earliest stage, column, then partition."""
    found = [(failure, position) for position, failure in enumerate(failures) if failure is not None]
    if not found:
        return None
    key = rank or (lambda failure: failure[0])
    return min(found, key=lambda item: (key(item[0]), item[0][1], item[1]))[0]


# -- cells by kind ----------------------------------------------------------------------------


_KIND_CODES = {type(None): 0, int: 1, float: 2, bool: 3, str: 4}


def _plain(value: object) -> object:
    """A cell of a subclass as the plain value the core reads it as."""
    if value is None or isinstance(value, bool):
        return value
    if isinstance(value, int):
        return int(value)
    if isinstance(value, float):
        return float(value)
    if isinstance(value, str):
        return str(value)
    return value


@dataclass
class Cells:
    """The non-null cells of one column by kind, each kind in row order."""

    size: int
    nulls: int = 0
    ints: Any = field(default_factory=lambda: np.empty(0, np.int64))
    floats: Any = field(default_factory=lambda: np.empty(0, np.float64))
    bools: Any = field(default_factory=lambda: np.empty(0, bool))
    texts: Any = field(default_factory=lambda: np.empty(0, object))


def cells_of(column: ColumnTuple) -> Cells:
    """Cells as the core converts them (the column converted without error there)."""
    logical_type, values = column[1], column[2]
    typed = len(column) > 3 and bool(column[3])
    if typed and logical_type == "float":
        floats = np.asarray(values, dtype=np.float64)
        missing = np.isnan(floats)
        return Cells(len(floats), int(missing.sum()), floats=floats[~missing])
    if typed and logical_type == "integer":
        ints = np.asarray(values, dtype=np.int64)
        return Cells(len(ints), ints=ints)
    if typed and logical_type == "boolean":
        bools = np.asarray(values, dtype=bool)
        return Cells(len(bools), bools=bools)
    cells = values.tolist() if isinstance(values, np.ndarray) else list(values)
    try:
        codes = np.fromiter(map(_KIND_CODES.__getitem__, map(type, cells)), np.int8, len(cells))
    except KeyError:
        cells = [_plain(cell) for cell in cells]
        codes = np.fromiter(map(_KIND_CODES.__getitem__, map(type, cells)), np.int8, len(cells))
    objects = np.empty(len(cells), dtype=object)
    objects[:] = cells
    return Cells(
        len(cells),
        int(np.count_nonzero(codes == 0)),
        ints=objects[codes == 1].astype(np.int64),
        floats=objects[codes == 2].astype(np.float64),
        bools=objects[codes == 3].astype(bool),
        texts=objects[codes == 4],
    )


def order_keys(doubles: Any) -> Any:
    """Signed 64-bit keys whose order is the IEEE total order of the doubles (-0.0 < +0.0)."""
    bits = np.ascontiguousarray(doubles, dtype=np.float64).view(np.int64)
    return np.where(bits < 0, bits ^ _FLIP, bits)


def key_doubles(keys: Any) -> Any:
    return np.where(keys < 0, keys ^ _FLIP, keys).view(np.float64)


def _float_bits(floats: Any) -> Any:
    """Canonical bit patterns: one NaN, and -0.0 as +0.0."""
    bits = (floats + 0.0).view(np.int64)
    return np.where(np.isnan(floats), _CANONICAL_NAN, bits)


def _first_bools(bools: Any) -> tuple[bool, ...]:
    if len(bools) == 0:
        return ()
    first = bool(bools[0])
    return (first,) if bool((bools == first).all()) else (first, not first)


def _ordered_unique(texts: Any) -> Any:
    return optional_module("pandas").unique(texts)


# -- profile partials -------------------------------------------------------------------------


@dataclass
class ColumnPart:
    """What one partition knows of one column's profile and observed schema."""

    nulls: int = 0
    keys: Any = None  # numeric: sorted total-order keys of the finite float cells
    ints: Any = None  # numeric: sorted integer cells
    specials: frozenset[str] = frozenset()  # numeric: non-finite float cells seen
    bools: tuple[bool, ...] = ()  # booleans in order of first appearance
    head: list[str] | None = None  # string and categorical: first distinct texts, in order
    distinct: tuple[Any, ...] = ()  # other columns: distinct texts, integers, float bit patterns


@dataclass
class PartitionPart:
    rows: int = 0
    failure: Failure | None = None
    columns: list[ColumnPart] = field(default_factory=list)


def profile_partition(frame: Any, types: dict[str, str], observe: bool) -> PartitionPart:
    """Reads a partition and reduces it to its partial profile; the pandas frame is then free."""
    columns, failure = read_partition(frame, types)
    part = PartitionPart(rows=len(frame), failure=failure)
    if failure is not None:
        return part
    failure = checked_columns(columns)
    if failure is not None:
        return PartitionPart(part.rows, failure)
    part.columns = [_column_part(column, observe) for column in columns]
    return part


def _column_part(column: ColumnTuple, observe: bool) -> ColumnPart:
    logical_type = column[1]
    cells = cells_of(column)
    part = ColumnPart(nulls=cells.nulls, bools=_first_bools(cells.bools))
    if logical_type in NUMERIC:
        floats = cells.floats
        finite = np.isfinite(floats)
        part.keys = np.sort(order_keys(floats[finite]))
        part.ints = np.sort(cells.ints)
        rest = floats[~finite]
        part.specials = frozenset(
            name for name, seen in (("nan", np.isnan(rest).any()), ("+inf", (rest > 0).any()), ("-inf", (rest < 0).any())) if seen
        )
        return part
    texts = _ordered_unique(cells.texts)
    if observe and logical_type in ("string", "categorical"):
        part.head = [str(text) for text in texts[: OBSERVED_LIMIT + 1]]
    part.distinct = (texts, np.unique(cells.ints), np.unique(_float_bits(cells.floats)))
    return part


# -- the exact sort and distinct count --------------------------------------------------------


def _int_keys(ints: Any) -> Any:
    return order_keys(ints.astype(np.float64))


def samples(part: PartitionPart, buckets: int) -> list[Any]:
    """Regularly spaced keys of each numeric column, from which the boundaries are chosen."""
    result: list[Any] = []
    for column in part.columns:
        if column.keys is None:
            result.append(None)
            continue
        found = [column.keys, _int_keys(column.ints)]
        picked = [keys[np.linspace(0, len(keys) - 1, buckets + 1).astype(np.int64)[1:-1]] for keys in found if len(keys)]
        result.append(np.concatenate(picked) if picked else np.empty(0, np.int64))
    return result


def boundaries(all_samples: Sequence[list[Any]], buckets: int, width: int) -> list[Any]:
    """Per numeric column, buckets - 1 ascending keys; bucket b holds keys in (bound b-1, bound b].

    -0.0 and +0.0 are one distinct value, so no boundary falls between them.
    """
    result: list[Any] = []
    for position in range(width):
        pooled_parts = [found[position] for found in all_samples if found and found[position] is not None]
        if not pooled_parts and not any(found and found[position] is not None for found in all_samples):
            result.append(None)
            continue
        pooled = np.sort(np.concatenate(pooled_parts)) if pooled_parts else np.empty(0, np.int64)
        if len(pooled) == 0:
            bounds = np.full(buckets - 1, np.iinfo(np.int64).max, np.int64)
        else:
            bounds = pooled[np.linspace(0, len(pooled) - 1, buckets + 1).astype(np.int64)[1:-1]]
        result.append(np.where(bounds == _NEGATIVE_ZERO_KEY, 0, bounds))
    return result


def _hash_buckets(values: Any, buckets: int) -> Any:
    pandas = optional_module("pandas")
    if len(values) == 0 or buckets == 1:
        return np.zeros(len(values), np.int64)
    return (pandas.util.hash_array(values, categorize=False) % np.uint64(buckets)).astype(np.int64)


def split(part: PartitionPart, bounds: list[Any], buckets: int) -> tuple[list[Any], ...]:
    """The partition's pieces for each bucket: sorted key ranges and hashed distinct values."""
    pieces: list[list[Any]] = [[] for _ in range(buckets)]
    for column, column_bounds in zip(part.columns, bounds if part.columns else []):
        if column.keys is not None:
            cuts = [np.searchsorted(keys, column_bounds, side="right") for keys in (column.keys, _int_keys(column.ints))]
            for bucket in range(buckets):
                sliced = []
                for values, cut in zip((column.keys, column.ints), cuts):
                    start = 0 if bucket == 0 else cut[bucket - 1]
                    stop = len(values) if bucket == buckets - 1 else cut[bucket]
                    sliced.append(values[start:stop])
                pieces[bucket].append(tuple(sliced))
        else:
            hashed = [(values, _hash_buckets(values, buckets)) for values in column.distinct]
            for bucket in range(buckets):
                pieces[bucket].append(tuple(values[where == bucket] for values, where in hashed))
    return tuple(pieces)


def _distinct_sorted(values: Any) -> int:
    return 0 if len(values) == 0 else 1 + int(np.count_nonzero(values[1:] != values[:-1]))


@dataclass
class Bucket:
    """One range of the sorted numeric columns and one hash bucket of the other columns."""

    doubles: list[Any]  # per column: the sorted usable values (None for non-numeric columns)
    distinct: list[int]


def merge_bucket(*pieces: list[Any]) -> Bucket:
    present = [piece for piece in pieces if piece]
    width = len(present[0]) if present else 0
    doubles: list[Any] = []
    distinct: list[int] = []
    for position in range(width):
        parts = [piece[position] for piece in present]
        if len(parts[0]) == 2:  # a numeric column
            # Each piece is sorted already: the stable sort merges the runs.
            keys = np.sort(np.concatenate([part[0] for part in parts]), kind="stable")
            ints = np.sort(np.concatenate([part[1] for part in parts]), kind="stable")
            distinct.append(_distinct_sorted(np.where(keys == _NEGATIVE_ZERO_KEY, 0, keys)) + _distinct_sorted(ints))
            if len(ints) == 0:
                doubles.append(key_doubles(keys))
            elif len(keys) == 0:
                doubles.append(ints.astype(np.float64))
            else:
                doubles.append(key_doubles(np.sort(np.concatenate([keys, _int_keys(ints)]), kind="stable")))
        else:
            texts = np.concatenate([part[0] for part in parts])
            count = len(optional_module("pandas").unique(texts)) if len(texts) else 0
            for kind in (1, 2):
                count += len(np.unique(np.concatenate([part[kind] for part in parts])))
            doubles.append(None)
            distinct.append(count)
    return Bucket(doubles, distinct)


def bucket_summary(bucket: Bucket) -> list[tuple[int, float, float, int]]:
    """Per column: how many sorted values, the first, the last, and the distinct count."""
    summary = []
    for values, distinct in zip(bucket.doubles, bucket.distinct):
        if values is None or len(values) == 0:
            summary.append((0, 0.0, 0.0, distinct))
        else:
            summary.append((len(values), float(values[0]), float(values[-1]), distinct))
    return summary


def running_sum(bucket: Bucket, scales: list[float | None], before: list[float] | None) -> list[float]:
    """The scaled sum carried on through this bucket's values, one addition at a time."""
    result = []
    for position, values in enumerate(bucket.doubles):
        accumulator = -0.0 if before is None else before[position]
        scale = scales[position] if position < len(scales) else None
        if values is not None and len(values) and scale:
            chain = np.empty(len(values) + 1, np.float64)
            chain[0] = accumulator
            np.divide(values, scale, out=chain[1:])
            accumulator = float(np.add.accumulate(chain)[-1])
        result.append(accumulator)
    return result


def pick(bucket: Bucket, wanted: list[list[int]]) -> list[dict[int, float]]:
    """The values at the wanted positions of this bucket's sorted ranges."""
    return [
        {index: float(values[index]) for index in indexes} if values is not None else {}
        for values, indexes in zip(bucket.doubles, wanted)
    ]


def percentile(count: int, fraction: float, at: Any) -> float:
    position = fraction * float(count - 1)
    lo, hi = math.floor(position), math.ceil(position)
    f = position - lo
    return float((1.0 - f) * at(lo) + f * at(hi))


def percentile_positions(count: int) -> list[int]:
    positions = []
    for fraction in (0.5, 0.25, 0.75):
        position = fraction * float(count - 1)
        positions += [math.floor(position), math.ceil(position)]
    return positions


# -- validation and drift ---------------------------------------------------------------------


@dataclass
class ValidationPart:
    failure: Failure | None = None
    # per schema column checked: (null found, disallowed values in first-met order, range broken)
    findings: list[tuple[bool, list[Any], bool]] = field(default_factory=list)


def validate_partition(frame: Any, types: dict[str, str], plan: list[tuple[int, SchemaColumnTuple]]) -> ValidationPart:
    """Partial findings for each (data column position, schema column) of the plan.

    Every column is converted by the core once (the conversion errors of the whole frame), and
    each planned pair is validated by the core on this partition alone.
    """
    columns, failure = read_partition(frame, types)
    if failure is not None:
        return ValidationPart(failure)
    wanted: dict[int, list[int]] = {}
    for index, (position, _) in enumerate(plan):
        wanted.setdefault(position, []).append(index)
    findings: list[tuple[bool, list[Any], bool]] = [(False, [], False)] * len(plan)
    for position, column in enumerate(columns):
        try:
            if position not in wanted:
                _api.validate([column], [])
            for index in wanted.get(position, []):
                issues = _api.validate([column], [plan[index][1]])["issues"]
                codes = [issue["code"] for issue in issues]
                values = [issue["observed"] for issue in issues if issue["code"] == "value_not_allowed"]
                findings[index] = ("null_not_allowed" in codes, values, "range_violation" in codes)
        except Exception as error:
            return ValidationPart((CONVERT, position, error))
    return ValidationPart(None, findings)


def null_flag(column: ColumnTuple) -> bool:
    values = column[2]
    if len(column) > 3 and column[3] and column[1] == "float":
        return bool(np.isnan(np.asarray(values, dtype=np.float64)).any())
    if isinstance(values, np.ndarray):
        return values.dtype == object and bool((values == None).any())  # noqa: E711
    return None in values


@dataclass
class DriftPart:
    failure: Failure | None = None
    nulls: list[bool] = field(default_factory=list)


def drift_partition(frame: Any, types: dict[str, str]) -> DriftPart:
    columns, failure = read_partition(frame, types)
    if failure is not None:
        return DriftPart(failure)
    failure = checked_columns(columns)
    if failure is not None:
        return DriftPart(failure)
    return DriftPart(None, [null_flag(column) for column in columns])
