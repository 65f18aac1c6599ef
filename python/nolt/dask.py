"""nolt on Dask DataFrames: the results nolt gives on ``ddf.compute()``, without collecting it.

``profile``, ``observed_schema``, ``suggest_schema``, ``inspect``, ``save_schema``, ``validate``,
``compare`` and ``drift`` take Dask DataFrames and return exactly what the functions of the same
name in ``nolt`` return for the computed frames: equal dictionaries, equal schema files byte for
byte, the same exception with the same message. They run on whatever scheduler is active, a
``dask.distributed`` cluster included; partitions are read on the workers and only partial
results travel, except the ordered values that the exact median, quartiles and mean need (an
exact distributed sort) and the distinct values that the exact distinct count needs (a hash
shuffle). How that works is told in the README's Dask section.

``pip install 'nolt[dask]'`` installs what this module needs.
"""

from __future__ import annotations

import json
import math
import os
import sys
from collections.abc import Iterator, Mapping, Sequence
from contextlib import contextmanager, redirect_stdout
from contextvars import ContextVar
from typing import Any, TextIO

import numpy as np

from nolt import _api
from nolt import _dask_parts as parts
from nolt._adapters import _unique_names
from nolt._columns import Types, check_types, optional_module
from nolt._pandas import _INFERRED, BACKEND
from nolt.types import (
    ColumnTuple,
    DatasetComparison,
    DetailedProfile,
    DriftReport,
    Inspection,
    ObservedSchema,
    SchemaColumnTuple,
    SuggestedSchema,
    ValidationReport,
)

__all__ = [
    "compare",
    "drift",
    "inspect",
    "observed_schema",
    "profile",
    "progress_bar",
    "save_schema",
    "suggest_schema",
    "validate",
]

dask: Any = optional_module("dask")
delayed: Any = dask.delayed
_STAT_KEYS = ("min", "max", "mean", "median", "p25", "p50", "p75")


_progress: ContextVar[TextIO | None] = ContextVar("nolt_dask_progress", default=None)


@contextmanager
def progress_bar(stream: TextIO | None = None) -> Iterator[None]:
    """Shows Dask's progress bar on ``stream`` (standard error by default) for every computation.

    On a ``dask.distributed`` client it is the distributed text bar, otherwise the local
    schedulers' bar.
    """
    token = _progress.set(sys.stderr if stream is None else stream)
    try:
        yield
    finally:
        _progress.reset(token)


def _client() -> Any:
    """The dask.distributed client that computations go to, if they go to one."""
    owner = getattr(optional_module("dask.base").get_scheduler(), "__self__", None)
    return owner if type(owner).__name__ == "Client" else None


def _compute(*graphs: Any) -> Any:
    """Every computation goes through here, with a progress bar when one was asked for."""
    stream = _progress.get()
    if stream is None:
        return dask.compute(*graphs)
    client = _client()
    if client is None:
        with optional_module("dask.diagnostics").ProgressBar(out=stream):
            return dask.compute(*graphs)
    progress = optional_module("distributed").progress
    futures = client.compute(list(graphs))
    with redirect_stdout(stream):  # the distributed text bar writes to standard output
        progress(futures)
    stream.write("\n")
    return tuple(client.gather(futures))


# -- logical types ----------------------------------------------------------------------------


def _names(frame: Any) -> list[str]:
    return [name if isinstance(name, str) else str(name) for name in frame._meta.columns]


def _infer_objects(frame: Any, positions: list[int]) -> list[str]:
    pandas = optional_module("pandas")
    return [pandas.api.types.infer_dtype(frame.iloc[:, position], skipna=True) for position in positions]


def _type_samples(frame: Any, positions: list[int]) -> list[list[Any]]:
    """The first non-missing value of each Python type, per object column."""
    pandas = optional_module("pandas")
    result = []
    for position in positions:
        firsts: dict[type, Any] = {}
        for value in frame.iloc[:, position].tolist():
            if type(value) not in firsts and not pandas.isna(value):
                firsts[type(value)] = value
        result.append(list(firsts.values()))
    return result


def _resolve_types(frames: Sequence[Any], types: Types | None) -> tuple[list[dict[str, str]], BaseException | None]:
    """The logical type of every column of every frame, as nolt gives it for the computed frame.

    A name in ``types`` that no frame has is an error that nolt raises only after reading every
    frame, so it is returned to be raised at that point.
    """
    declared = check_types(types)
    all_names = [_names(frame) for frame in frames]
    for names in all_names:
        _unique_names(names)
    known = {name for names in all_names for name in names}
    pending = next(
        (ValueError(f"types names column '{name}', which the data does not have") for name in declared if name not in known), None
    )
    resolved = []
    for frame, names in zip(frames, all_names):
        meta = frame._meta
        result: dict[str, str] = {}
        objects: list[int] = []
        for position, name in enumerate(names):
            if name in declared:
                result[name] = declared[name]
            elif meta.dtypes.iloc[position] == object:
                objects.append(position)
            else:
                result[name] = BACKEND.classify(meta.iloc[:, position])
        if objects:
            for position, kind in zip(objects, _object_kinds(frame, objects)):
                result[names[position]] = _INFERRED.get(kind, "unknown")
        resolved.append({name: result[name] for name in names})
    return resolved, pending


def _object_kinds(frame: Any, positions: list[int]) -> list[str]:
    """pandas' inferred kind of object columns: per partition, then for the whole column."""
    pandas = optional_module("pandas")
    (per_partition,) = _compute([delayed(_infer_objects)(part, positions) for part in frame.to_delayed()])
    kinds = []
    pending = []
    for index in range(len(positions)):
        found = {inferred[index] for inferred in per_partition} - {"empty"}
        if len(found) <= 1:
            kinds.append(found.pop() if found else "empty")
        else:
            kinds.append("")
            pending.append(index)
    if pending:
        chosen = [positions[index] for index in pending]
        (found_samples,) = _compute([delayed(_type_samples)(part, chosen) for part in frame.to_delayed()])
        for offset, index in enumerate(pending):
            pooled = [value for sample in found_samples for value in sample[offset]]
            kinds[index] = pandas.api.types.infer_dtype(pandas.Series(pooled, dtype=object), skipna=True)
    return kinds


def _whole_frame(frame: Any, types: dict[str, str], failure: parts.Failure | None) -> parts.Failure | None:
    """A reading failure as the whole frame reports it.

    An unsigned 64-bit column past the signed range is refused with its largest value, which a
    partition knows only for itself: the frame's largest is looked up, and the refusal is made
    again from a one-row frame holding it.
    """
    if failure is None or failure[0] != parts.ADAPT or failure[1] < 0:
        return failure
    meta = frame._meta
    dtype = meta.dtypes.iloc[failure[1]]
    if dtype.kind != "u" or dtype.itemsize != 8:
        return failure
    (largest,) = _compute(frame.iloc[:, failure[1]].max())
    probe = type(meta)({meta.columns[failure[1]]: optional_module("pandas").Series([largest], dtype=dtype)})
    _, refusal = parts.read_partition(probe, types)
    return failure if refusal is None else (failure[0], failure[1], refusal[2])


def _raise(failure: parts.Failure | None) -> None:
    if failure is not None:
        raise failure[2]


# -- profile and observed schema --------------------------------------------------------------


class _Observed:
    """The merged partial results of one frame, before they become dictionaries."""

    def __init__(self, names: list[str], types: dict[str, str], heads: list[parts.PartitionPart]) -> None:
        self.names = names
        self.types = [types[name] for name in names]
        self.failure = parts.first_failure([head.failure for head in heads])
        self.heads = heads
        self.rows = sum(head.rows for head in heads) if names else 0
        self.profile_columns: list[dict[str, Any]] = []
        self.observed_failure: parts.Failure | None = None
        self.observed_columns: list[dict[str, Any]] = []


def _small(part: parts.PartitionPart, buckets: int) -> tuple[parts.PartitionPart, list[Any]]:
    """The partition's part without its arrays (what the final merge needs), and its samples."""
    columns = [
        parts.ColumnPart(column.nulls, None, None, column.specials, column.bools, column.head, (), column.details, column.bool_tallies)
        for column in part.columns
    ]
    return parts.PartitionPart(part.rows, part.failure, columns), parts.samples(part, buckets)


def _stats_plan(summaries: list[list[tuple[int, float, float, int]]], numeric: list[bool]) -> tuple[Any, ...]:
    """Per numeric column: the value count, min, max and scale; per bucket the positions to read."""
    buckets = len(summaries)
    scales: list[float | None] = []
    extremes: list[tuple[int, float, float, Any] | None] = []
    wanted: list[list[list[int]]] = [[[] for _ in numeric] for _ in range(buckets)]
    for position, is_numeric in enumerate(numeric):
        counts = [summary[position][0] if summary else 0 for summary in summaries]
        total = sum(counts)
        if not is_numeric or total == 0:
            scales.append(None)
            extremes.append(None)
            continue
        filled = [bucket for bucket in range(buckets) if counts[bucket]]
        low, high = summaries[filled[0]][position][1], summaries[filled[-1]][position][2]
        scales.append(max(abs(low), abs(high)) or None)
        offsets = np.cumsum([0, *counts])
        extremes.append((total, low, high, offsets))
        for index in parts.percentile_positions(total):
            bucket = int(np.searchsorted(offsets, index, side="right")) - 1
            wanted[bucket][position].append(index - int(offsets[bucket]))
    return scales, extremes, wanted


def _observe_graph(frame: Any, types: dict[str, str], observe: bool, details: bool) -> Any:
    """The delayed graph of one frame's profile parts; computed together with other graphs."""
    names = _names(frame)
    numeric = [types[name] in parts.NUMERIC for name in names]
    partitions = frame.to_delayed()
    # Buckets of the sort and of the distinct count: about the square root of the partitions,
    # so that the pieces exchanged (partitions x buckets) stay few and each bucket stays small.
    count = math.isqrt(len(partitions) - 1) + 1 if partitions else 1
    profiled = [
        delayed(parts.profile_partition, pure=True)(part, types, observe, index, details) for index, part in enumerate(partitions)
    ]
    heads = [delayed(_small, nout=2)(part, count) for part in profiled]
    bounds = delayed(parts.boundaries)([head[1] for head in heads], count, len(names))
    pieces = [delayed(parts.split, nout=count)(part, bounds, count) for part in profiled]
    buckets = [delayed(parts.merge_bucket)(*[piece[bucket] for piece in pieces]) for bucket in range(count)]
    summaries = [delayed(parts.bucket_summary)(bucket) for bucket in buckets]
    scales, extremes, wanted = delayed(_stats_plan, nout=3)(summaries, numeric)
    sums = None
    for bucket in buckets:
        sums = delayed(parts.running_sum)(bucket, scales, sums)
    picks = [delayed(parts.pick)(bucket, wanted[index]) for index, bucket in enumerate(buckets)]
    heads = [head[0] for head in heads]
    return names, (heads, summaries, scales, extremes, wanted, sums, picks)


def _merge(names: list[str], types: dict[str, str], computed: Any, observe: bool, details: bool) -> _Observed:
    heads, summaries, scales, extremes, wanted, sums, picks = computed
    result = _Observed(names, types, heads)
    if result.failure is not None:
        return result
    for position, (name, logical_type) in enumerate(zip(names, result.types)):
        columns = [head.columns[position] for head in heads]
        bools: list[bool] = []
        for column in columns:
            bools += [value for value in column.bools if value not in bools]
        specials = frozenset().union(*(column.specials for column in columns))
        distinct = sum(summary[position][3] for summary in summaries if summary) + len(bools) + len(specials)
        nulls = sum(column.nulls for column in columns)
        result.profile_columns.append(
            {
                "name": name,
                "logical_type": logical_type,
                "count": result.rows,
                "null_count": nulls,
                "unique_count": distinct,
                "numeric_stats": _stats(position, scales, extremes, wanted, sums, picks),
            }
        )
        if details:
            tops = [summary[position][4] or [] for summary in summaries if summary]
            result.profile_columns[-1]["details"] = _details(logical_type, columns, tops)
        if not observe:
            continue
        values: list[Any] | None = None
        if logical_type == "boolean":
            values = bools
        elif logical_type in ("string", "categorical") and distinct <= parts.OBSERVED_LIMIT:
            values = []
            seen: set[str] = set()
            for column in columns:
                for text in column.head or ():
                    if text not in seen:
                        seen.add(text)
                        values.append(text)
        if values is not None and len(values) != distinct and result.observed_failure is None:
            message = f"Column '{name}' produced {len(values)} observed values; expected {distinct}"
            result.observed_failure = (parts.OBSERVED, position, ValueError(message))
        stats = result.profile_columns[-1]["numeric_stats"]
        result.observed_columns.append(
            {
                "name": name,
                "logical_type": logical_type,
                "observed_nullable": nulls != 0,
                "observed_unique_count": distinct,
                "observed_range": None if stats is None else {"min": stats["min"], "max": stats["max"]},
                "observed_values": values,
            }
        )
    return result


_MOMENT_KINDS = ("naive_count", "aware_count", "time_count")


def _details(logical_type: str, columns: list[parts.ColumnPart], tops: list[list[Any]]) -> dict[str, Any] | None:
    """A column's details from the partitions' own: counts add, lengths and instants merge, and
    the most frequent values are the best of the hash buckets' (each value lives in one bucket,
    counted over every partition) and of the booleans."""
    found: list[dict[str, Any]] = [column.details for column in columns if column.details is not None]
    if not found:
        return None
    merged = dict(found[0])
    for key in merged:
        if key.endswith("_count"):
            merged[key] = sum(details[key] for details in found)
    if logical_type in parts.TEXT_TYPES:
        lengths = [details["min_length"] for details in found if details["min_length"] is not None]
        merged["min_length"] = min(lengths, default=None)
        merged["max_length"] = max((details["max_length"] for details in found if details["max_length"] is not None), default=None)
        flags: dict[bool, list[int]] = {}
        for column in columns:
            for count, first, flag in column.bool_tallies:
                tally = flags.setdefault(flag, [0, first])
                tally[0] += count
        candidates = [tally for bucket in tops for tally in bucket] + [(count, first, flag) for flag, (count, first) in flags.items()]
        merged["top_values"] = [{"value": value, "count": count} for count, _, value in parts.best_tallies(candidates)]
    elif logical_type == "datetime":
        single = sum(merged[key] != 0 for key in _MOMENT_KINDS) == 1
        for key in ("earliest", "latest"):
            # Every partition holds one kind of moment when the whole column does; the engine
            # orders the partitions' ends as instants, the first of equal ones winning.
            ends = [details[key] for details in found if details[key] is not None]
            merged[key] = _api.profile_part([("ends", "datetime", ends)], True)["columns"][0]["details"][key] if single else None
    return merged


def _stats(position: int, scales: Any, extremes: Any, wanted: Any, sums: Any, picks: Any) -> dict[str, float] | None:
    found = extremes[position]
    if found is None:
        return None
    total, low, high, offsets = found
    scale = scales[position]
    mean = 0.0 if scale is None else scale * (sums[position] / float(total))

    def at(index: int) -> float:
        bucket = int(np.searchsorted(offsets, index, side="right")) - 1
        return float(picks[bucket][position][index - int(offsets[bucket])])

    median = parts.percentile(total, 0.5, at)
    stats = (low, high, mean, median, parts.percentile(total, 0.25, at), median, parts.percentile(total, 0.75, at))
    return dict(zip(_STAT_KEYS, stats))


def _observe_frames(frames: Sequence[Any], types: Types | None, observe: bool, details: bool = False) -> list[_Observed]:
    """The merged parts of every frame; raises the error nolt raises first, if any."""
    resolved, pending = _resolve_types(frames, types)
    graphs = [_observe_graph(frame, frame_types, observe, details) for frame, frame_types in zip(frames, resolved)]
    computed = _compute(*[graph for _, graph in graphs])
    sides = [
        _merge(names, frame_types, result, observe, details) for (names, _), frame_types, result in zip(graphs, resolved, computed)
    ]
    for side, frame, frame_types in zip(sides, frames, resolved):
        side.failure = _whole_frame(frame, frame_types, side.failure)
    _raise_sides(sides, observe, pending)
    return sides


def _raise_sides(sides: Sequence[_Observed], observe: bool, pending: BaseException | None) -> None:
    """Adapter errors of every side, the types= check, conversion errors of every side, then the
    rest side by side."""
    for stage in (parts.ADAPT, parts.CONVERT):
        for side in sides:
            if side.failure is not None and side.failure[0] == stage:
                _raise(side.failure)
        if pending is not None:
            raise pending
    for side in sides:
        _raise(side.failure)
        if observe:
            _raise(side.observed_failure)


def profile(data: Any, *, types: Types | None = None) -> DetailedProfile:
    """What ``nolt.profile(data.compute())`` returns, details included, computed partition by partition."""
    (side,) = _observe_frames([data], types, observe=False, details=True)
    return {"row_count": side.rows, "columns": side.profile_columns}  # type: ignore[typeddict-item]


def observed_schema(data: Any, *, types: Types | None = None) -> ObservedSchema:
    """What ``nolt.observed_schema(data.compute())`` returns."""
    (side,) = _observe_frames([data], types, observe=True)
    return {"row_count": side.rows, "columns": side.observed_columns}  # type: ignore[typeddict-item]


def stand_in(observed: ObservedSchema) -> list[Any]:
    """A few rows whose suggested schema is the one of the observed schema.

    The suggested schema depends on the name, type, nullability and (for categoricals) the
    observed values only, so the core derives and writes it from these rows exactly as it
    would from the whole frame.
    """
    cells_by_type: dict[str, Any] = {"integer": 0, "float": 0.0, "boolean": False}
    columns: list[Any] = []
    for column in observed["columns"]:
        logical_type = column["logical_type"]
        values = column["observed_values"]
        if logical_type == "categorical" and values is None and column["observed_unique_count"]:
            cells: list[Any] = [f"value {index}" for index in range(parts.OBSERVED_LIMIT + 1)]
        elif logical_type == "categorical" and values:
            cells = list(values)
        elif column["observed_unique_count"] or not column["observed_nullable"]:
            cells = [cells_by_type.get(logical_type, "value")]
        else:
            cells = []
        if column["observed_nullable"]:
            cells.append(None)
        columns.append([column["name"], logical_type, cells])
    if observed["row_count"] == 0:
        return [(name, logical_type, []) for name, logical_type, _ in columns]
    width = max((len(cells) for _, _, cells in columns), default=0)
    for column_cells in (cells for _, _, cells in columns):
        column_cells += [column_cells[-1]] * (width - len(column_cells))
    return [(name, logical_type, cells) for name, logical_type, cells in columns]


def suggest_schema(data: Any, *, types: Types | None = None) -> SuggestedSchema:
    """What ``nolt.suggest_schema(data.compute())`` returns."""
    return _api.suggest_schema(stand_in(observed_schema(data, types=types)))


def inspect(data: Any, *, types: Types | None = None) -> Inspection:
    """What ``nolt.inspect(data.compute())`` returns: profile, observed and suggested schema."""
    (side,) = _observe_frames([data], types, observe=True)
    observed: ObservedSchema = {"row_count": side.rows, "columns": side.observed_columns}  # type: ignore[typeddict-item]
    return {
        "profile": {"row_count": side.rows, "columns": side.profile_columns},  # type: ignore[typeddict-item]
        "observed_schema": observed,
        "suggested_schema": _api.suggest_schema(stand_in(observed)),
    }


def save_schema(data: Any, path: str | os.PathLike[str], *, types: Types | None = None) -> None:
    """Writes the file ``nolt.save_schema(data.compute(), path)`` writes, byte for byte."""
    _api.save_schema(stand_in(observed_schema(data, types=types)), path)


# -- compare ----------------------------------------------------------------------------------


def _same_values(before: list[Any] | None, after: list[Any] | None) -> bool:
    if before is None or after is None:
        return before is None and after is None
    return len(before) == len(after) and all(type(one) is type(other) and one == other for one, other in zip(before, after))


def _changes(before: dict[str, Any], after: dict[str, Any]) -> list[str]:
    changes = []
    if before["logical_type"] != after["logical_type"]:
        changes.append("logical_type_changed")
    if before["observed_nullable"] != after["observed_nullable"]:
        changes.append("nullability_changed")
    if before["observed_unique_count"] != after["observed_unique_count"]:
        changes.append("unique_count_changed")
    low, high = before["observed_range"], after["observed_range"]
    if (low is None) != (high is None) or (low is not None and not (low["min"] == high["min"] and low["max"] == high["max"])):
        changes.append("range_changed")
    if not _same_values(before["observed_values"], after["observed_values"]):
        changes.append("observed_values_changed")
    return changes


def _copy(column: Any) -> Any:
    copied = dict(column)
    for key in ("observed_range", "observed_values"):
        if copied[key] is not None:
            copied[key] = type(copied[key])(copied[key])
    return copied


def compare_observed(before: ObservedSchema, after: ObservedSchema) -> DatasetComparison:
    """The comparison of two observed schemas, as ``nolt.compare`` reports it."""
    after_by_name = {column["name"]: column for column in after["columns"]}
    before_names = {column["name"] for column in before["columns"]}
    entries: list[Any] = []
    for column in before["columns"]:
        match = after_by_name.get(column["name"])
        if match is None:
            entries.append({"name": column["name"], "status": "removed", "before": _copy(column), "after": None, "changes": []})
            continue
        changes = _changes(column, match)  # type: ignore[arg-type]
        status = "changed" if changes else "unchanged"
        entries.append({"name": column["name"], "status": status, "before": _copy(column), "after": _copy(match), "changes": changes})
    for column in after["columns"]:
        if column["name"] not in before_names:
            entries.append({"name": column["name"], "status": "added", "before": None, "after": _copy(column), "changes": []})
    counts = {status: sum(entry["status"] == status for entry in entries) for status in ("added", "removed", "changed", "unchanged")}
    row_count_changed = before["row_count"] != after["row_count"]
    return {
        "before_row_count": before["row_count"],
        "after_row_count": after["row_count"],
        "has_changes": row_count_changed or counts["unchanged"] != len(entries),
        "row_count_changed": row_count_changed,
        "added_count": counts["added"],
        "removed_count": counts["removed"],
        "changed_count": counts["changed"],
        "unchanged_count": counts["unchanged"],
        "column_count_before": len(entries) - counts["added"],
        "column_count_after": len(entries) - counts["removed"],
        "columns": entries,
    }


def compare(before: Any, after: Any, *, types: Types | None = None) -> DatasetComparison:
    """What ``nolt.compare(before.compute(), after.compute())`` returns."""
    sides = _observe_frames([before, after], types, observe=True)
    schemas = [{"row_count": side.rows, "columns": side.observed_columns} for side in sides]
    return compare_observed(*schemas)  # type: ignore[arg-type]


# -- drift ------------------------------------------------------------------------------------


def drift(before: Any, after: Any, *, types: Types | None = None) -> DriftReport:
    """What ``nolt.drift(before.compute(), after.compute())`` returns."""
    frames = [before, after]
    resolved, pending = _resolve_types(frames, types)
    graphs = [[delayed(parts.drift_partition)(part, frame_types) for part in frame.to_delayed()] for frame, frame_types in zip(frames, resolved)]
    computed = _compute(*graphs)
    failures = [
        _whole_frame(frame, frame_types, parts.first_failure([part.failure for part in side]))
        for frame, frame_types, side in zip(frames, resolved, computed)
    ]
    for stage in (parts.ADAPT, parts.CONVERT, parts.VALUE_KIND):
        for failure in failures:
            if failure is not None and failure[0] == stage:
                raise failure[2]
        if pending is not None:
            raise pending
    cells_by_type: dict[str, Any] = {"integer": 0, "float": 0.0, "boolean": False}
    stand_ins: list[Any] = []
    for frame, frame_types, side in zip(frames, resolved, computed):
        flags = [any(part.nulls[position] for part in side) for position in range(len(frame_types))]
        stand_ins.append(
            [(name, logical_type, [None if flag else cells_by_type.get(logical_type, "value")]) for (name, logical_type), flag in zip(frame_types.items(), flags)]
        )
    return _api.drift(*stand_ins)


# -- validate ---------------------------------------------------------------------------------


def _record(value: Any, fields: Sequence[str]) -> list[Any]:
    """A record of a schema document, given as an object or as an array of its values."""
    if isinstance(value, list):
        return value
    return [value.get(name) for name in fields]


def _schema_document(text: str) -> list[SchemaColumnTuple]:
    """The schema columns of a document that the core has already read without error."""
    root = _record(json.loads(text), ("format_version", "schema"))
    (columns,) = _record(root[1], ("columns",))
    result: list[SchemaColumnTuple] = []
    for column in columns:
        name, logical_type, nullable, constraints = _record(column, ("name", "logical_type", "nullable", "constraints"))
        if isinstance(logical_type, dict):
            (logical_type,) = logical_type
        numeric_range, allowed = _record(constraints, ("numeric_range", "allowed_values"))
        bounds = None
        if numeric_range is not None:
            low, high = _record(numeric_range, ("min", "max"))
            bounds = (None if low is None else float(low), None if high is None else float(high))
        values = None if allowed is None else [_record(value, ("kind", "value"))[1] for value in allowed]
        result.append((name, logical_type, nullable, bounds, values))
    return result


def _is_building_error(error: BaseException) -> bool:
    message = str(error)
    return (type(error) is ValueError and message.startswith("Unsupported logical type '")) or (
        type(error) is TypeError and message.startswith("Unsupported suggested allowed value type '")
    )


def _schema_tuples(schema: Any) -> tuple[list[SchemaColumnTuple] | None, BaseException | None, BaseException | None]:
    """The schema as tuples, or the error the one-machine call raises before / after conversion."""
    try:
        if isinstance(schema, (str, os.PathLike)):
            path = _api.path_text(schema)
            try:
                _api.validate([], path)
            except (OSError, ValueError) as error:
                return None, None, error
            with open(path, encoding="utf-8") as file:
                return _schema_document(file.read()), None, None
        tuples: Any = _api.schema_columns(schema) if isinstance(schema, Mapping) else schema  # type: ignore[arg-type]
        try:
            _api.validate([], tuples)
        except Exception as error:
            if _is_building_error(error):
                return None, None, error
            raise
        return list(tuples), None, None
    except Exception as error:
        return None, error, None


_ISSUE_KEYS = ("code", "severity", "column", "expected", "observed")


def _issue(code: str, column: str, rows: int, expected: Any = None, observed: Any = None) -> dict[str, Any]:
    """A column-level issue: it fails every row of its column."""
    return {
        "code": code,
        "severity": "error",
        "column": column,
        "expected": expected,
        "observed": observed,
        "failure_count": rows,
        "failure_rows": list(range(min(rows, parts.FAILURE_ROWS))),
        "failure_values": None,
    }


def validate(data: Any, schema: _api.SchemaArgument, *, types: Types | None = None, failure_cases: bool = False) -> ValidationReport:
    """What ``nolt.validate(data.compute(), schema, failure_cases=...)`` returns; invalid data never raises.

    ``schema`` is a schema file's path (read here, on the calling machine), a suggested schema
    dictionary or a list of schema-column tuples, as for ``nolt.validate``. The columns the
    schema names are read as its types, and the failing rows are numbered over the whole frame.
    """
    declared = check_types(types)
    known = set(_names(data))
    by_schema = {name: kind for name, kind in _api.schema_types(schema).items() if name in known and name not in declared}
    (frame_types,), pending = _resolve_types([data], {**by_schema, **declared})
    tuples, early, late = _schema_tuples(schema)
    names = list(frame_types)
    last = {name: position for position, name in enumerate(names)}
    plan: list[tuple[int, SchemaColumnTuple]] = []
    layout: list[Any] = []  # per schema column: a column-level issue (code, expected, observed), or its plan entry
    for column in tuples or []:
        position = last.get(column[0])
        if position is None:
            layout.append(("missing_column", None, None))
        elif frame_types[column[0]] != column[1]:
            layout.append(("type_mismatch", column[1], frame_types[column[0]]))
        else:
            layout.append(len(plan))
            plan.append((position, column))
    (found,) = _compute([delayed(parts.validate_partition)(part, frame_types, plan) for part in data.to_delayed()])
    failure = _whole_frame(data, frame_types, parts.first_failure([part.failure for part in found]))
    if failure is not None and failure[0] == parts.ADAPT:
        raise failure[2]
    if pending is not None:
        raise pending
    if early is not None:
        raise early
    _raise(failure)
    if late is not None:
        raise late
    offsets = np.cumsum([0, *(part.rows for part in found)]).tolist()
    rows = offsets[-1] if names else 0
    issues: list[dict[str, Any]] = []
    for column, entry in zip(tuples or [], layout):
        if isinstance(entry, tuple):
            issues.append(_issue(entry[0], column[0], rows, *entry[1:]))
        else:
            issues += parts.merge_issues([(offset, part.findings[entry]) for offset, part in zip(offsets, found)])
    schema_names = {column[0] for column in tuples or []}
    issues += [_issue("unexpected_column", name, rows) for name in names if name not in schema_names]
    if not failure_cases:
        issues = [{key: issue[key] for key in _ISSUE_KEYS} for issue in issues]
    errors = sum(issue["severity"] == "error" for issue in issues)
    return {"is_valid": errors == 0, "error_count": errors, "warning_count": len(issues) - errors, "issues": issues}  # type: ignore[typeddict-item]
