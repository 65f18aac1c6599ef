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


def read_partition(frame: Any, types: dict[str, str], tolerant: bool = False) -> tuple[list[ColumnTuple], Failure | None]:
    """The column tuples of one pandas partition, every logical type fixed by ``types``
    (``tolerant``: cells that do not cast to the type are kept for validation to report)."""
    try:
        return to_columns(frame, types, tolerant=tolerant), None
    except Exception as error:  # the first failing column, as the whole frame would report it
        for position in range(frame.shape[1]):
            try:
                to_columns(frame.iloc[:, [position]], types, tolerant=tolerant)
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


def _kinds(values: Any) -> tuple[Any, Any]:
    """The cells as an object array and the kind code of each."""
    cells = values.tolist() if isinstance(values, np.ndarray) else list(values)
    try:
        codes = np.fromiter(map(_KIND_CODES.__getitem__, map(type, cells)), np.int8, len(cells))
    except KeyError:
        cells = [_plain(cell) for cell in cells]
        codes = np.fromiter(map(_KIND_CODES.__getitem__, map(type, cells)), np.int8, len(cells))
    objects = np.empty(len(cells), dtype=object)
    objects[:] = cells
    return objects, codes


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
    objects, codes = _kinds(values)
    return Cells(
        len(objects),
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
    # other columns: distinct texts, integers, float bit patterns; string and categorical
    # columns of a detailed profile: each with its count and first position (see ``tallies``)
    distinct: tuple[Any, ...] = ()
    details: dict[str, Any] | None = None  # the partition's own details of the column
    bool_tallies: list[tuple[int, int, bool]] = field(default_factory=list)  # (count, first position, value)


@dataclass
class PartitionPart:
    rows: int = 0
    failure: Failure | None = None
    columns: list[ColumnPart] = field(default_factory=list)


def _located_failure(frame: Any, types: dict[str, str], error: BaseException) -> Failure:
    """The failure of a partition the engine refused, with its stage and column."""
    columns, failure = read_partition(frame, types)
    if failure is None:
        failure = checked_columns(columns)
    return failure if failure is not None else (CONVERT, frame.shape[1], error)


def profile_partition(frame: Any, types: dict[str, str], observe: bool, index: int = 0, details: bool = False) -> PartitionPart:
    """Reads a partition and reduces it to its partial profile; the pandas frame is then free.

    The engine reads the partition (from Arrow memory where it can) and profiles it: its null
    counts and details are the partition's share; the values the exact statistics, distinct
    counts and top values need come from the same prepared columns.
    """
    rows = len(frame)
    try:
        prepared = _api.remember_columns(_api.prepare(types, frame)[0])
        found = _api.profile_part(prepared, details)
    except Exception as error:  # the one-machine call meets the same error: which one first is decided later
        return PartitionPart(rows, _located_failure(frame, types, error))
    part = PartitionPart(rows=rows)
    for position, summary in enumerate(found["columns"]):
        array = _api.prepared_arrow(prepared, position)
        column_part = None if array is None else _arrow_part(array, summary["logical_type"], observe, details, index)
        if column_part is None:
            column_part = _column_part(_api.prepared_column(prepared, position), observe, details, index)
        column_part.nulls = summary["null_count"]
        column_part.details = summary.get("details")
        part.columns.append(column_part)
    return part


def _column_part(column: ColumnTuple, observe: bool, details: bool, index: int) -> ColumnPart:
    logical_type = column[1]
    if details and logical_type in TEXT_TYPES:
        return _tallied_part(column, observe, index)
    return _cells_part(cells_of(column), logical_type, observe)


def _cells_part(cells: Cells, logical_type: str, observe: bool) -> ColumnPart:
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
    if observe and logical_type in TEXT_TYPES:
        part.head = [str(text) for text in texts[: OBSERVED_LIMIT + 1]]
    part.distinct = (texts, np.unique(cells.ints), np.unique(_float_bits(cells.floats)))
    return part


def _arrow_part(array: Any, logical_type: str, observe: bool, details: bool, index: int) -> ColumnPart | None:
    """A column's part read from the Arrow array the engine read, or None for a kind of array
    that is left to the column tuples."""
    pa = optional_module("pyarrow")
    kind = array.type
    present = array.drop_null()
    if logical_type == "integer" and pa.types.is_integer(kind):
        return _cells_part(Cells(len(array), ints=present.to_numpy().astype(np.int64)), logical_type, observe)
    if logical_type == "float" and (pa.types.is_float32(kind) or pa.types.is_float64(kind)):
        # Arrow keeps a NaN apart from null: here it is a value, as the engine reads it
        return _cells_part(Cells(len(array), floats=present.to_numpy().astype(np.float64)), logical_type, observe)
    if logical_type == "boolean" and pa.types.is_boolean(kind):
        return _cells_part(Cells(len(array), bools=present.to_numpy(zero_copy_only=False).astype(bool)), logical_type, observe)
    if logical_type in TEXT_TYPES:
        if pa.types.is_dictionary(kind):
            encoded, words = array.indices, array.dictionary
        elif pa.types.is_string(kind) or pa.types.is_large_string(kind):
            encoded_array = array.dictionary_encode()
            encoded, words = encoded_array.indices, encoded_array.dictionary
        else:
            return None
        if not (pa.types.is_string(words.type) or pa.types.is_large_string(words.type)):
            return None
        codes = encoded.fill_null(-1).to_numpy().astype(np.int64)
        rows = np.flatnonzero(codes >= 0)
        found, first, counts = np.unique(codes[rows], return_index=True, return_counts=True)
        order = np.argsort(first, kind="stable")
        texts = words.take(pa.array(found[order])).to_numpy(zero_copy_only=False).astype(object)
        part = ColumnPart()
        if observe:
            part.head = [str(text) for text in texts[: OBSERVED_LIMIT + 1]]
        none = np.empty(0, np.int64)
        if details:
            firsts = (np.int64(index) << _POSITION_BITS) + rows[first[order]]
            part.distinct = (texts, counts[order].astype(np.int64), firsts, none, none, none, none, none, none, np.empty(0, np.float64))
        else:
            part.distinct = (texts, none, none)
        return part
    return None


TEXT_TYPES = ("string", "categorical")
_POSITION_BITS = 40  # a first position is (partition index << 40) | row: partition order, then row order


def tallies(values: Any, positions: Any, keys: Any = None) -> tuple[Any, Any, Any, Any]:
    """The distinct ``keys`` (default: the values) in order of first appearance, with their
    counts, first positions and the value shown for each (the first one met)."""
    keys = values if keys is None else keys
    if len(keys) == 0:
        empty = np.empty(0, np.int64)
        return keys[:0], empty, empty, values[:0]
    codes, uniques = optional_module("pandas").factorize(keys)
    counts = np.bincount(codes, minlength=len(uniques)).astype(np.int64)
    _, first = np.unique(codes, return_index=True)
    return np.asarray(uniques), counts, positions[first], values[first]


def _tallied_part(column: ColumnTuple, observe: bool, index: int) -> ColumnPart:
    """A string or categorical column of a detailed profile: every distinct value counted."""
    objects, codes = _kinds(column[2])
    positions = (np.int64(index) << _POSITION_BITS) + np.arange(len(objects), dtype=np.int64)
    texts, text_counts, text_firsts, _ = tallies(objects[codes == 4], positions[codes == 4])
    ints, int_counts, int_firsts, _ = tallies(objects[codes == 1].astype(np.int64), positions[codes == 1])
    floats = objects[codes == 2].astype(np.float64)
    bits, float_counts, float_firsts, shown = tallies(floats, positions[codes == 2], _float_bits(floats))
    flags, flag_counts, flag_firsts, _ = tallies(objects[codes == 3].astype(bool), positions[codes == 3])
    part = ColumnPart(nulls=int(np.count_nonzero(codes == 0)), bools=tuple(bool(flag) for flag in flags))
    part.bool_tallies = [(int(count), int(first), bool(flag)) for flag, count, first in zip(flags, flag_counts, flag_firsts)]
    if observe:
        part.head = [str(text) for text in texts[: OBSERVED_LIMIT + 1]]
    part.distinct = (texts, text_counts, text_firsts, ints, int_counts, int_firsts, bits, float_counts, float_firsts, shown)
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
            # Each array goes with the hash of its keys: a tallied column's counts, first
            # positions and shown values follow their keys (the arrays at 0, 3 and 6).
            distinct = column.distinct
            keyed = list(distinct) if len(distinct) == 3 else [distinct[0]] * 3 + [distinct[3]] * 3 + [distinct[6]] * 4
            hashes: dict[int, Any] = {}
            for keys in keyed:
                if id(keys) not in hashes:
                    hashes[id(keys)] = _hash_buckets(keys, buckets)
            for bucket in range(buckets):
                chosen = {key: where == bucket for key, where in hashes.items()}
                pieces[bucket].append(tuple(values[chosen[id(keys)]] for values, keys in zip(distinct, keyed)))
    return tuple(pieces)


def _distinct_sorted(values: Any) -> int:
    return 0 if len(values) == 0 else 1 + int(np.count_nonzero(values[1:] != values[:-1]))


@dataclass
class Bucket:
    """One range of the sorted numeric columns and one hash bucket of the other columns."""

    doubles: list[Any]  # per column: the sorted usable values (None for non-numeric columns)
    distinct: list[int]
    tops: list[Any] = field(default_factory=list)  # tallied columns: the bucket's most frequent values


def merge_bucket(*pieces: list[Any]) -> Bucket:
    present = [piece for piece in pieces if piece]
    width = len(present[0]) if present else 0
    doubles: list[Any] = []
    distinct: list[int] = []
    tops: list[Any] = [None] * width
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
        elif len(parts[0]) == 3:
            texts = np.concatenate([part[0] for part in parts])
            count = len(optional_module("pandas").unique(texts)) if len(texts) else 0
            for kind in (1, 2):
                count += len(np.unique(np.concatenate([part[kind] for part in parts])))
            doubles.append(None)
            distinct.append(count)
        else:
            joined = [np.concatenate([part[index] for part in parts]) for index in range(10)]
            found = [
                _merge_tallies(joined[start], joined[start + 1], joined[start + 2], joined[start] if start < 6 else joined[9])
                for start in (0, 3, 6)
            ]
            doubles.append(None)
            distinct.append(sum(count for count, _ in found))
            tops[position] = best_tallies([tally for _, kind_tops in found for tally in kind_tops])
    return Bucket(doubles, distinct, tops)


TOP_COUNT = 5


def best_tallies(found: Sequence[tuple[int, int, Any]]) -> list[tuple[int, int, Any]]:
    """The most frequent values, (count, first position, value): by falling count, then first position."""
    return sorted(found, key=lambda tally: (-tally[0], tally[1]))[:TOP_COUNT]


def _merge_tallies(keys: Any, counts: Any, firsts: Any, shown: Any) -> tuple[int, list[tuple[int, int, Any]]]:
    """The distinct count of one kind of value in a bucket, and its most frequent values."""
    if len(keys) == 0:
        return 0, []
    codes, uniques = optional_module("pandas").factorize(keys)
    totals = np.zeros(len(uniques), np.int64)
    np.add.at(totals, codes, counts)
    earliest = np.full(len(uniques), np.iinfo(np.int64).max, np.int64)
    np.minimum.at(earliest, codes, firsts)
    order = np.lexsort((earliest, -totals))[:TOP_COUNT]
    # each value's shown cell is the one of its earliest piece (first positions never repeat)
    where = np.flatnonzero(firsts == earliest[codes])
    shown_by_code = dict(zip(codes[where].tolist(), shown[where].tolist()))
    return len(uniques), [(int(totals[code]), int(earliest[code]), shown_by_code[code]) for code in order.tolist()]


def bucket_summary(bucket: Bucket) -> list[tuple[int, float, float, int, Any]]:
    """Per column: how many sorted values, the first, the last, the distinct count and the most
    frequent values (None where not tallied)."""
    summary = []
    for values, distinct, top in zip(bucket.doubles, bucket.distinct, bucket.tops):
        if values is None or len(values) == 0:
            summary.append((0, 0.0, 0.0, distinct, top))
        else:
            summary.append((len(values), float(values[0]), float(values[-1]), distinct, top))
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
    rows: int = 0
    failure: Failure | None = None
    # per schema column checked: the partition's issues of that column, with their failure detail
    findings: list[list[dict[str, Any]]] = field(default_factory=list)


def validate_partition(frame: Any, types: dict[str, str], plan: list[tuple[int, SchemaColumnTuple]]) -> ValidationPart:
    """The issues of each (data column position, schema column) of the plan in this partition.

    The partition is read by the types the schema gives (cells that do not fit become
    unreadable_value issues); every column is converted by the core (the conversion errors of
    the whole frame), and each planned pair is validated by the engine on this partition alone,
    with the failing rows counted from the partition's first row.
    """
    rows = len(frame)
    columns, failure = read_partition(frame, types, tolerant=True)
    if failure is not None:
        return ValidationPart(rows, failure)
    wanted: dict[int, list[int]] = {}
    for index, (position, _) in enumerate(plan):
        wanted.setdefault(position, []).append(index)
    findings: list[list[dict[str, Any]]] = [[] for _ in plan]
    for position, column in enumerate(columns):
        try:
            if position not in wanted:
                _api.validate([column], [])
            for index in wanted.get(position, []):
                issues: Any = _api.validate([column], [plan[index][1]], failure_cases=True)["issues"]
                findings[index] = list(issues)
        except Exception as error:
            return ValidationPart(rows, (CONVERT, position, error))
    return ValidationPart(rows, None, findings)


_ISSUE_RANK = {"unreadable_value": 0, "null_not_allowed": 1, "value_not_allowed": 2, "range_violation": 3}


def merge_issues(found: Sequence[tuple[int, list[dict[str, Any]]]]) -> list[dict[str, Any]]:
    """One schema column's issues over the partitions, given as (first row, issues) in order:
    each issue once, the disallowed values in the order they are first met, the failing rows
    counted over the whole frame."""
    groups: dict[tuple[Any, ...], list[tuple[int, dict[str, Any]]]] = {}
    for offset, issues in found:
        for issue in issues:
            observed = issue["observed"]
            key = (issue["code"], type(observed), observed) if issue["code"] == "value_not_allowed" else (issue["code"],)
            groups.setdefault(key, []).append((offset, issue))
    merged = [merge_detail(group) for group in groups.values()]
    return sorted(merged, key=lambda issue: _ISSUE_RANK[issue["code"]])


def merge_detail(found: Sequence[tuple[int, dict[str, Any]]]) -> dict[str, Any]:
    """An issue met in several partitions: the first one's keys, the counts added, the first rows."""
    issue = dict(found[0][1])
    issue["failure_count"] = sum(each["failure_count"] for _, each in found)
    rows: list[int] = []
    values: list[Any] | None = None if issue["failure_values"] is None else []
    for offset, each in found:
        if len(rows) >= FAILURE_ROWS:
            break
        rows += [offset + row for row in each["failure_rows"]]
        if values is not None:
            values += each["failure_values"]
    issue["failure_rows"] = rows[:FAILURE_ROWS]
    issue["failure_values"] = None if values is None else values[:FAILURE_ROWS]
    for key in ("below_min_count", "above_max_count"):
        if key in issue:
            issue[key] = sum(each[key] for _, each in found)
    return issue


FAILURE_ROWS = 20  # the failing rows an issue lists


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
    """Whether each column of the partition holds a null, as the engine reads the partition; a
    partition the engine refuses is read again as column tuples to find the failing column."""
    try:
        (prepared,) = _api.prepare(types, frame)
        return DriftPart(None, [column["null_count"] != 0 for column in _api.profile_part(prepared, False)["columns"]])
    except Exception:  # the column tuples say which column fails and at which stage
        pass
    columns, failure = read_partition(frame, types)
    if failure is not None:
        return DriftPart(failure)
    failure = checked_columns(columns)
    if failure is not None:
        return DriftPart(failure)
    return DriftPart(None, [null_flag(column) for column in columns])
