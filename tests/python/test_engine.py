"""nolt's engine reads Arrow data into the very cells the adapters make: whatever the types, nulls,
slices, chunks, declared types and thread count, its results equal _nolt_core's on the column
tuples of the same data."""

import datetime as dt
import json
import math

import _nolt_core
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import nolt
from conftest import core_part
from nolt import _api

pa = pytest.importorskip("pyarrow")
pl = pytest.importorskip("polars")

INT_TYPES = [pa.int8(), pa.int16(), pa.int32(), pa.int64(), pa.uint8(), pa.uint16(), pa.uint32(), pa.uint64()]
TEMPORAL_TYPES = [pa.date32(), pa.date64(), pa.time32("s"), pa.time32("ms"), pa.time64("us"), pa.time64("ns")] + [
    pa.timestamp(unit, zone) for unit in "s ms us ns".split() for zone in (None, "UTC", "Asia/Kolkata")
]
EPOCH_LIMITS = {"s": 86_400 * 2_932_896, "ms": 86_400_000 * 2_932_896, "us": 86_400_000_000 * 106_000, "ns": 2**62}


def _bits(width, signed):
    return st.integers(-(2 ** (width - 1)), 2 ** (width - 1) - 1) if signed else st.integers(0, 2**width - 1)


def _values(arrow_type):
    """A strategy of Python values for a column of this Arrow type (None is drawn apart)."""
    if pa.types.is_integer(arrow_type):
        return st.one_of(_bits(arrow_type.bit_width, pa.types.is_signed_integer(arrow_type)), st.integers(0, 3))
    if pa.types.is_floating(arrow_type):
        special = st.sampled_from([0.0, -0.0, math.inf, -math.inf, math.nan, 1.5, -2.25])
        return st.one_of(special, st.floats(width=16 if arrow_type == pa.float16() else 32, allow_nan=True))
    if pa.types.is_boolean(arrow_type):
        return st.booleans()
    if arrow_type == pa.date64():  # milliseconds, mostly at midnight
        return st.one_of(st.integers(-719_162, 2_932_896).map(lambda days: days * 86_400_000), st.integers(-(2**50), 2**50))
    if pa.types.is_date(arrow_type):
        return st.dates()
    if pa.types.is_time(arrow_type):
        per_second = {"s": 1, "ms": 1000, "us": 10**6, "ns": 10**9}[arrow_type.unit]
        return st.integers(0, 86_400 * per_second - 1)
    if pa.types.is_timestamp(arrow_type):
        limit = EPOCH_LIMITS[arrow_type.unit]
        return st.one_of(st.integers(-limit // 4, limit), st.sampled_from([0, -1, 1, 999, 1000, 10**6 + 1]))
    return st.text(max_size=14)


@st.composite
def arrow_columns(draw):
    kind = draw(st.sampled_from(["int", "float", "bool", "text", "dict", "temporal", "null"]))
    if kind == "int":
        arrow_type = draw(st.sampled_from(INT_TYPES))
    elif kind == "float":
        arrow_type = draw(st.sampled_from([pa.float16(), pa.float32(), pa.float64()]))
    elif kind == "bool":
        arrow_type = pa.bool_()
    elif kind in ("text", "dict"):
        arrow_type = draw(st.sampled_from([pa.string(), pa.large_string(), pa.string_view()]))
    elif kind == "temporal":
        arrow_type = draw(st.sampled_from(TEMPORAL_TYPES))
    else:
        arrow_type = pa.null()
    return kind, arrow_type


def _array(kind, arrow_type, cells, entries):
    """The column of these cells; a dictionary column draws its entries from `entries` (which may
    repeat a text or hold a null), taking for each cell one of the entries that show it."""
    if kind == "null":
        return pa.nulls(len(cells))
    if kind == "dict":
        entries = [*entries, *dict.fromkeys(cell for cell in cells if cell is not None)]
        shown = {}
        for entry_idx, entry in enumerate(entries):
            shown.setdefault(entry, []).append(entry_idx)
        indexes = [None if cell is None and row % 2 else shown[cell][row % len(shown[cell])] if cell in shown else None
                   for row, cell in enumerate(cells)]
        index_type = pa.int8() if len(entries) < 100 else pa.int32()
        return pa.DictionaryArray.from_arrays(pa.array(indexes, index_type), pa.array(entries, arrow_type))
    if pa.types.is_time(arrow_type) or pa.types.is_timestamp(arrow_type) or arrow_type == pa.date64():
        storage = pa.int32() if arrow_type.bit_width == 32 else pa.int64()
        return pa.array(cells, storage).view(arrow_type)
    if arrow_type == pa.float16():
        import numpy as np

        return pa.array(np.array([0.0 if c is None else c for c in cells], np.float16), mask=np.array([c is None for c in cells], bool))
    return pa.array(cells, arrow_type)


@st.composite
def tables(draw):
    """A table of a few columns, sliced and cut into chunks, with declared types for some columns."""
    rows = draw(st.integers(0, 40))
    columns, declared = {}, {}
    for column_idx in range(draw(st.integers(1, 4))):
        kind, arrow_type = draw(arrow_columns())
        pool = draw(st.lists(_values(arrow_type), min_size=1, max_size=6)) if kind != "null" else [None]
        null_rate = draw(st.sampled_from([0.0, 0.3, 1.0]))
        cells = [None if draw(st.floats(0, 1)) < null_rate else draw(st.sampled_from(pool)) for _ in range(rows)]
        entries = draw(st.lists(st.one_of(st.none(), st.sampled_from(pool)), max_size=4)) if kind == "dict" else []
        name = f"c{column_idx}"
        columns[name] = _array(kind, arrow_type, cells, entries)
        if draw(st.booleans()):
            declared[name] = draw(st.sampled_from(nolt.LOGICAL_TYPES))
    table = pa.table(columns)
    start = draw(st.integers(0, rows))
    table = table.slice(start, draw(st.integers(0, rows - start)))
    cuts = sorted(draw(st.lists(st.integers(0, table.num_rows), max_size=3)))
    pieces = [table.slice(a, b - a) for a, b in zip([0, *cuts], [*cuts, table.num_rows])]
    table = pa.concat_tables(pieces) if pieces else table
    return table, declared or None


def _outcome(compute):
    try:
        return ("ok", json.dumps(compute(), allow_nan=True, default=repr))
    except Exception as error:
        return (type(error), str(error))


def _core(name, data, types):
    """The result on the adapters' column tuples: the core's, or the engine's details on them."""
    core = {
        "profile": _nolt_core.profile_dataset,
        "details": lambda columns: nolt._engine.profile(columns, 1, True),
        "observed": _nolt_core.observed_schema_dataset,
        "inspect": _nolt_core.inspect_dataset,
    }[name]
    return _outcome(lambda: core(nolt.to_columns(data, types)))


def _engine(name, data, types, threads=None):
    if name == "profile":
        return _outcome(lambda: core_part(nolt.profile(data, types=types, threads=threads)))
    operation = {"details": nolt.profile, "observed": nolt.observed_schema, "inspect": nolt.inspect}[name]
    return _outcome(lambda: operation(data, types=types, threads=threads))


def _as_enums(frame):
    """The frame with its Categorical columns as Enums of their texts and one more (longer than any)."""
    def categories(name):
        texts = frame[name].drop_nulls().unique().cast(pl.String).sort().to_list()
        return ["~" * (1 + max(map(len, texts), default=0)), *texts]

    return frame.with_columns(
        pl.col(name).cast(pl.Enum(categories(name))) for name, dtype in frame.schema.items() if dtype == pl.Categorical
    )


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(tables(), st.sampled_from(["profile", "details", "observed", "inspect"]), st.sampled_from([1, 2, 3]),
       st.booleans())
def test_the_engine_reads_arrow_data_as_the_adapters_do(drawn, operation, threads, polars_chunks):
    table, types = drawn
    expected = _core(operation, table, types)
    assert _engine(operation, table, types, threads) == expected
    for batch in table.to_batches()[:1]:
        assert _engine(operation, batch, types, threads) == _core(operation, batch, types)
    try:
        # polars keeps the chunks or makes one; its Categoricals share their categories
        frame = pl.from_arrow(table, rechunk=not polars_chunks)
    except Exception:  # a type polars does not hold
        return
    assert _engine(operation, frame, types, threads) == _core(operation, frame, types)
    if polars_chunks and pl.Categorical in frame.dtypes:
        frame = _as_enums(frame)
        assert _engine(operation, frame, types, threads) == _core(operation, frame, types)


def test_every_operation_gives_the_same_bytes_for_any_thread_count(tmp_path):
    rows = 30_000
    table = pa.table({
        "id": pa.array(range(rows), pa.int64()),
        "x": pa.array([None if i % 17 == 0 else (i * 7919 % 1000) / 7 for i in range(rows)]),
        "label": pa.array([f"v{i % 251}" for i in range(rows)]).dictionary_encode(),
        "grade": pa.DictionaryArray.from_arrays(pa.array([i * 13 % 7 for i in range(rows)], pa.int8()),
                                                pa.array(["b", "a", None, "c", "a", "d", "e"])),
        "text": pa.array([None if i % 5 == 0 else f"t{i * 31 % 4099}" for i in range(rows)], pa.large_string()),
        "at": pa.array([dt.datetime(2020, 1, 1) + dt.timedelta(seconds=i * 3607) for i in range(rows)]),
        "flag": pa.array([i % 3 == 0 for i in range(rows)]),
    })
    before = table.slice(5, rows - 100)
    # A schema every column breaks somewhere, one column it lacks and one the table lacks.
    schema = [("gone", "float", True, None, None), ("id", "integer", False, (10, rows - 10), None),
              ("x", "float", False, (0.0, 100.0), None), ("label", "categorical", False, None, ["v1", "v2"]),
              ("grade", "string", False, None, ["a", "b"]), ("text", "integer", True, None, None),
              ("at", "datetime", False, None, ["2020-01-01T00:00:00"])]
    outputs = set()
    assert nolt.inspect(table) == _nolt_core.inspect_dataset(nolt.to_columns(table))
    assert _outcome(lambda: nolt.validate(table, schema, failure_cases=True)) == _validated_as_before(table, schema, None, True)
    for threads in (1, 2, 3, 4, 8):
        results = [
            nolt.inspect(table, threads=threads),
            nolt.validate(table, schema, threads=threads, failure_cases=True),
            nolt.compare(before, table, threads=threads),
            nolt.drift(before, table, threads=threads),
        ]
        path = tmp_path / f"schema{threads}.json"
        nolt.save_schema(table, path, threads=threads)
        outputs.add(json.dumps(results, default=repr) + path.read_text())
    assert len(outputs) == 1


def _long_column(arrow_type, rows):
    """Many distinct values, nulls and, for floats, the values the statistics leave out."""
    import numpy as np

    rng = np.random.default_rng(18)
    if pa.types.is_boolean(arrow_type):
        values = rng.random(rows) < 0.3
    elif pa.types.is_integer(arrow_type):
        info = np.iinfo(arrow_type.to_pandas_dtype())
        values = rng.integers(max(info.min, -(2**62)), min(info.max, 2**62), rows, dtype=np.int64, endpoint=True)
        values = values.astype(arrow_type.to_pandas_dtype())
    else:
        values = (rng.standard_normal(rows) * 1e3).astype(arrow_type.to_pandas_dtype())
        values[rng.integers(0, rows, 50)] = np.array([np.nan, np.inf, -np.inf, -0.0, 0.0] * 10)
    return pa.array(values, arrow_type, mask=rng.random(rows) < 0.05)


@pytest.mark.parametrize("arrow_type", [pa.int64(), pa.uint64(), pa.int8(), pa.float64(), pa.float16(), pa.bool_()])
def test_long_number_columns_split_over_the_threads_as_the_core_counts_them(arrow_type):
    column = _long_column(arrow_type, 150_000)
    table = pa.table({"x": pa.chunked_array([column.slice(0, 70_001), column.slice(70_001)]).slice(3)})
    expected = nolt._engine.profile(nolt.to_columns(table), 1, True)
    for threads in (1, 2):
        assert nolt.profile(table, threads=threads) == expected
        assert nolt.inspect(table, threads=threads) == _nolt_core.inspect_dataset(nolt.to_columns(table))


@pytest.mark.parametrize(
    ("threads", "environment", "expected"),
    [
        (None, None, None),
        (None, "3", 3),
        (2, "3", 2),
        (0, None, ValueError("threads must be at least 1, not 0")),
        (True, None, TypeError("threads must be an int, not bool")),
        (None, "many", ValueError("NOLT_THREADS must be a whole number of threads, not 'many'")),
    ],
)
def test_the_thread_count_comes_from_the_argument_then_the_environment(threads, environment, expected, monkeypatch):
    if environment is None:
        monkeypatch.delenv("NOLT_THREADS", raising=False)
    else:
        monkeypatch.setenv("NOLT_THREADS", environment)
    if isinstance(expected, Exception):
        with pytest.raises(type(expected)) as info:
            _api.thread_count(threads)
        assert str(info.value) == str(expected)
    else:
        assert _api.thread_count(threads) == expected


def test_arrow_data_without_a_plan_reads_every_column_it_can():
    table = pa.table({"n": [1, None], "s": ["a", "b"]})
    assert nolt._engine.profile(table, 1) == _nolt_core.profile_dataset(nolt.to_columns(table))
    with pytest.raises(TypeError) as info:
        nolt._engine.profile(pa.table({"d": pa.array([1], pa.decimal128(3, 1))}), 1)
    assert str(info.value) == "column 'd' has the Arrow type 'd:3,1', which nolt reads through its adapters"


@pytest.mark.parametrize("data", [
    pa.array([3, None, 1, 3], pa.int32()),
    pa.chunked_array([[1.5, None], [float("nan"), -0.0, 2.5]]).slice(1),
    pa.chunked_array([pa.array([5, 1], pa.uint64())]),
])
def test_a_bare_arrow_array_is_one_unnamed_column(data):
    logical_type = "float" if pa.types.is_floating(data.type) else "integer"
    expected = nolt._engine.profile([("", logical_type, data.to_pylist())], 1, True)
    for threads in (1, 2):
        assert nolt._engine.profile(data, threads, True) == expected


def _prepared_as_before(types, *datasets):
    """Every dataset converted by the adapters, then the names in types checked."""
    converted = [nolt.to_columns(data, types) for data in datasets]
    names = {column[0] for columns in converted for column in columns}
    for name in types or {}:
        if name not in names:
            raise ValueError(f"types names column '{name}', which the data does not have")
    return converted


BIG = pa.table({"u": pa.array([2**64 - 1], pa.uint64())})
FINE = pa.table({"u": pa.array([1], pa.uint64())})


@pytest.mark.parametrize(
    ("before", "after", "types"),
    [
        (BIG, FINE, {"missing": "string"}),  # the conversion error comes before the names check
        (FINE, FINE, {"missing": "string"}),
        (BIG, {"u": [1]}, None),  # the before side's error, though the after side fails too
        (FINE, [("u", "integer", [2**70])], None),
        (pa.table({"a": [1], "b": [2]}).rename_columns(["a", "a"]), BIG, None),
        (FINE, FINE, {"u": "float"}),
    ],
)
def test_errors_come_in_the_order_the_adapters_give_them(before, after, types):
    expected = _outcome(lambda: _nolt_core.compare_datasets(*_prepared_as_before(types, before, after)))
    assert _outcome(lambda: nolt.compare(before, after, types=types)) == expected


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(tables(), st.sampled_from(["profile", "observed"]))
def test_the_engine_reads_pandas_frames_as_their_adapter_does(drawn, operation):
    pd = pytest.importorskip("pandas")
    table, types = drawn
    nullable = {getattr(pa, name.lower())(): name for name in
                ("Int8", "Int16", "Int32", "Int64", "UInt8", "UInt16", "UInt32", "UInt64")}
    nullable[pa.bool_()] = "boolean"
    nullable_mapper = {kind: pd.api.types.pandas_dtype(name) for kind, name in nullable.items()}.get
    for options in ({}, {"types_mapper": pd.ArrowDtype}, {"types_mapper": nullable_mapper}):
        try:
            frame = table.to_pandas(**options)
        except (pa.ArrowException, ValueError, OverflowError):  # a type or range pandas does not hold
            continue
        assert _engine(operation, frame, types, 2) == _core(operation, frame, types)


@st.composite
def schemas(draw, names):
    """Schema tuples for some of these columns and one the data lacks, in any order, with types,
    ranges and allowed values that the cells often break or cannot be read as."""
    schema = []
    for name in draw(st.permutations([*names, "absent"])):
        if not draw(st.integers(0, 4)):
            continue
        logical_type = draw(st.sampled_from(nolt.LOGICAL_TYPES))
        bounds = allowed = None
        if logical_type in ("integer", "float") and draw(st.booleans()):
            bounds = tuple(draw(st.one_of(st.none(), st.integers(-3, 3))) for _ in range(2))
        elif logical_type != "unknown" and draw(st.booleans()):
            cells = st.booleans() if logical_type == "boolean" else st.sampled_from(
                ["", "a", "1", "true", "1970-01-01", "1970-01-01T00:00:00", "00:00:00", "1970-01-01T00:00:00+00:00"])
            allowed = draw(st.lists(cells, min_size=1, max_size=3, unique=True))
        schema.append((name, logical_type, draw(st.booleans()), bounds, allowed))
    return schema


def _validated_as_before(data, schema, types, failure_cases):
    """The report on the column tuples the adapters make when they read by the schema."""
    read_types = {**_api.schema_types(schema), **(types or {})} or types

    def validate():
        columns = nolt.to_columns(data, read_types, tolerant=True)
        taken = _api.schema_columns(schema) if isinstance(schema, dict) else schema
        return nolt._engine.validate(columns, None, taken, failure_cases, 1)

    return _outcome(validate)


# Text a declared type reads in part: numbers, words, dates and what fits none of them.
READABLE_IN_PART = pa.table({
    "t": ["1", "2.5", "true", "x", None, "2020-01-02", "-0", "1e3", "2020-01-02T03:04:05+01:00", "nan"],
    "n": pa.array([0, 1, 2, None, 3, -1, 1, 0, 5, 9], pa.int64()),
    "f": [0.5, 1.0, None, -2.0, float("nan"), 3.0, 0.0, 1.5, 2.0, -0.0],
    "at": pa.array([0, None, 1, 0, 86_400_000_000, -1, 0, 2, 3, 0], pa.timestamp("us")),
    "on": pa.array([0, 1, None, 0, 365, 0, 1, 2, 3, -1], pa.date32()),
})


@settings(max_examples=250, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.one_of(tables(), st.builds(lambda types: (READABLE_IN_PART, types), st.none())), st.data(),
       st.booleans(), st.sampled_from([1, 2, 3]))
def test_the_engine_validates_arrow_data_as_the_column_tuples(drawn, data, failure_cases, threads):
    table, types = drawn
    schema = data.draw(schemas(table.column_names))
    frames = [table, *table.to_batches()[:1]]
    try:
        frames.append(pl.from_arrow(table))
    except Exception:  # a type polars does not hold
        pass
    if data.draw(st.booleans()):
        try:
            frames.append(table.to_pandas())
        except (pa.ArrowException, ValueError, OverflowError):
            pass
    for frame in frames:
        expected = _validated_as_before(frame, schema, types, failure_cases)
        validated = _outcome(lambda: nolt.validate(frame, schema, types=types, threads=threads,
                                                   failure_cases=failure_cases))
        assert validated == expected


@pytest.mark.parametrize("data", [BIG, FINE])
@pytest.mark.parametrize("schema", [{"columns": [{"name": "u"}]}, [("u", "integer")], 5, b"s.json",
                                    [("u", "float", True, None, None)]])
def test_validation_errors_come_in_the_order_the_adapters_give_them(data, schema):
    assert _outcome(lambda: nolt.validate(data, schema)) == _validated_as_before(data, schema, None, False)


def test_a_signal_stops_an_engine_computation_and_the_next_call_is_unchanged():
    import signal
    import time

    import numpy as np

    rng = np.random.default_rng(7)
    table = pa.table({f"x{idx}": rng.standard_normal(5_000_000) for idx in range(4)})
    started = time.monotonic()
    expected = nolt.profile(table, threads=1)
    whole = time.monotonic() - started

    class Alarm(Exception):
        pass

    def ring(signum, frame):
        raise Alarm("stop")

    previous = signal.signal(signal.SIGALRM, ring)
    try:
        started = time.monotonic()
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        with pytest.raises(Alarm):
            nolt.profile(table, threads=1)
        # it stops at the next check: within one column's sort, well before the end
        assert time.monotonic() - started < 0.05 + 0.6 * whole
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert nolt.profile(table, threads=1) == expected


def test_the_helper_thread_is_kept_between_calls_and_not_trusted_across_fork():
    import os
    import warnings

    columns = [("a", "integer", [1, 2, 2]), ("b", "string", ["x", "y", "x"])]
    expected = nolt.profile(columns, threads=1)
    helper = _api._helper
    assert nolt.profile(columns, threads=1) == expected and _api._helper is helper
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads running
        pid = os.fork()
    if pid == 0:  # the child: its inherited helper has no thread behind it
        import signal

        signal.alarm(20)
        os._exit(0 if nolt.profile(columns, threads=1) == expected else 1)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
