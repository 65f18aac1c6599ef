"""The one road from nolt to the native core.

The public functions, the command line and the report all come through here: datasets are
prepared (any supported container, with ``types=``), schema arguments are read (a path, a
suggested-schema dict or schema tuples), and every computation is one call below. No other
module calls the native modules' computations.

Computations run in nolt's engine (``nolt._engine``), which computes with the interpreter lock
released on a pool of threads. pyarrow Tables and RecordBatches and polars DataFrames go to it as
they are, read from their Arrow memory, and so do the columns of pandas DataFrames that hold Arrow
data or convert to it without Python objects; a column whose cells the engine cannot make exactly
as the adapters would is converted by its adapter instead. Every other dataset goes as the column
tuples ``to_columns`` makes of it.
"""

from __future__ import annotations

import json
import os
import queue
import threading
from collections.abc import Callable, Mapping, Sequence, Sized
from typing import Any, TypeVar

import _nolt_core

import nolt._engine as _engine
from nolt import _arrow, _pandas, _polars
from nolt._adapters import _unique_names, build_column, container_kind, to_columns
from nolt._columns import LOGICAL_TYPES, TEXT_TYPES, Types, check_types, optional_module
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

# What ``validate`` and ``report`` take as a schema.
SchemaArgument = str | os.PathLike[str] | SuggestedSchema | Sequence[SchemaColumnTuple]

# Raised by the core for a broken internal invariant; it derives from BaseException.
InternalFault = _nolt_core.InternalFault

# The polars data types whose Arrow form the engine reads as the polars adapter converts them.
_POLARS_NATIVE = frozenset(
    "Int8 Int16 Int32 Int64 UInt8 UInt16 UInt32 UInt64 Float32 Float64 Boolean String Categorical Enum "
    "Date Time Datetime Null".split()
)

# A prepared dataset: column tuples, or an Arrow plan for the engine (see ``_arrow_plan``).
Prepared = list[ColumnTuple] | dict[str, Any]


def _arrow_plan(data: object, types: Types | None, tolerant: bool = False) -> dict[str, Any] | None:
    """How the engine reads a pyarrow table or polars frame, or None for any other dataset.

    The plan names the Arrow exporter, the declared type of each column (None: its own), a
    fallback giving one column's tuple from its adapter, and ``columns`` giving them all. The
    types and the names are checked here, as the adapters check them. ``tolerant`` is
    to_columns': the adapters keep the cells that do not fit a declared type.
    """
    kind = container_kind(data)
    frame: Any = data
    if kind == "pyarrow":
        backend: Any = _arrow.BACKEND
        names = list(frame.column_names)
        column = frame.column
        # pyarrow cannot cast dictionaries of string views to text: their adapter says so.
        native = [not (_arrow._pa().types.is_dictionary(t) and _arrow._pa().types.is_string_view(t.value_type))
                  for t in frame.schema.types]
    elif kind == "polars" and not any(type(dtype).__name__ == "Object" for dtype in frame.dtypes):
        backend = _polars.BACKEND
        names = list(frame.columns)
        column = frame.to_series
        native = [type(dtype).__name__ in _POLARS_NATIVE for dtype in frame.dtypes]
    elif kind == "pandas":
        return _pandas_plan(frame, types, tolerant)
    else:
        return None
    declared = check_types(types)
    _unique_names(names)
    plan: dict[str, Any] = {
        "arrow": frame,
        # False: the column goes through its adapter.
        "types": [declared.get(name) if read else False for name, read in zip(names, native)],
        "fallback": lambda index: build_column(backend, names[index], column(index), declared.get(names[index]), tolerant),
        "columns": lambda: to_columns(frame, types, tolerant=tolerant),
        "names": names,
    }
    if kind == "polars":
        plan["dictionaries"] = _polars.category_numbers(frame, native)
    return plan


def _pandas_arrow(series: Any, natural: str) -> Any | None:
    """A pandas column as Arrow data holding the cells its adapter makes, or None where none does.

    numpy numbers and booleans, datetimes, Arrow-backed columns and categoricals of text qualify;
    a float column's NaN markers become nulls, as the adapter's typed floats do.
    """
    pa = _arrow._pa()
    dtype = series.dtype
    dtype_name = type(dtype).__name__
    numpy_dtype = type(dtype).__module__.startswith("numpy")
    if dtype_name == "ArrowDtype" or (dtype_name == "StringDtype" and dtype.storage == "pyarrow"):
        array = series.array.__arrow_array__()
        return None if pa.types.is_dictionary(array.type) and pa.types.is_string_view(array.type.value_type) else array
    if numpy_dtype and (dtype.kind == "f" or (dtype.kind == "M" and _numpy().datetime_data(dtype)[0] in _ARROW_UNITS)):
        # The array as it is (no copy), its NaN or NaT markers as nulls when it has any.
        np, values = _numpy(), series.to_numpy()
        missing = np.isnan(values) if dtype.kind == "f" else np.isnat(values)
        mask = missing if missing.any() else None
        if dtype.kind == "f":
            return pa.array(values, mask=mask)
        # pyarrow copies datetime64 values one by one; as their int64 counts they are taken over.
        return pa.array(values.view("int64"), mask=mask).view(pa.timestamp(np.datetime_data(dtype)[0]))
    # pandas' nullable integers are IntegerDtype's subclasses (Int64Dtype, UInt8Dtype, ...).
    nullable = {kind.__name__ for kind in type(dtype).__mro__} & {"IntegerDtype", "BooleanDtype"}
    if (numpy_dtype and dtype.kind in "biu") or nullable or dtype.kind == "M":
        if natural == "float" and not numpy_dtype:
            return None
        return pa.array(series, from_pandas=True)
    if dtype_name == "CategoricalDtype" and natural == "categorical" and series.cat.categories.inferred_type == "string":
        codes = series.cat.codes.to_numpy()
        labels = pa.array(series.cat.categories.to_numpy(dtype=object), pa.string())
        missing = codes < 0
        return pa.DictionaryArray.from_arrays(pa.array(codes, mask=missing if missing.any() else None), labels)
    return None


_ARROW_UNITS = ("s", "ms", "us", "ns")  # the units of Arrow's timestamps


def _numpy() -> Any:
    return optional_module("numpy")


def _pandas_plan(frame: Any, types: Types | None, tolerant: bool = False) -> dict[str, Any]:
    """The Arrow plan of a pandas DataFrame: the columns that qualify as Arrow data, the rest by
    their adapter (a column of nulls stands in for them)."""
    pa = _arrow._pa()
    declared = check_types(types)
    names = [name if isinstance(name, str) else str(name) for name in frame.columns]
    _unique_names(names)
    arrays, plan_types = [], []
    for position, name in enumerate(names):
        series = frame.iloc[:, position]
        natural = _pandas.BACKEND.classify(series)
        target = declared.get(name, natural)
        same = target == natural or (target in TEXT_TYPES and natural in TEXT_TYPES)
        array = _pandas_arrow(series, natural) if same else None
        arrays.append(pa.nulls(len(frame)) if array is None else array)
        plan_types.append(False if array is None else target)

    def fallback(index: int) -> ColumnTuple:
        return build_column(_pandas.BACKEND, names[index], frame.iloc[:, index], declared.get(names[index]), tolerant)

    return {
        "arrow": pa.table(arrays, names=names),
        "types": plan_types,
        "fallback": fallback,
        "columns": lambda: to_columns(frame, types, tolerant=tolerant),
        "names": names,
    }


def _column_names(prepared: Prepared) -> list[str]:
    if isinstance(prepared, dict):
        return list(prepared["names"])
    return [column[0] for column in prepared]


def _raise_earlier_errors(prepared: list[Prepared]) -> None:
    """Converts the plans made so far, so that their conversion errors come first, as they did."""
    for item in prepared:
        if isinstance(item, dict):
            item["columns"]()


def prepare(types: Types | None, *datasets: object, schema_types: Mapping[str, str] | None = None,
            tolerant: bool = False) -> list[Prepared]:
    """Prepares each dataset; a name in ``types`` that no dataset has is an error (a typo).

    ``schema_types`` declares the columns a schema names, where ``types`` does not; it may name
    columns the data does not have. ``tolerant`` is to_columns' (reading for validation).
    """
    read_types = types
    if schema_types:
        read_types = {**schema_types, **check_types(types)} or types
    prepared: list[Prepared] = []
    for data in datasets:
        try:
            plan = _arrow_plan(data, read_types, tolerant)
            prepared.append(to_columns(data, read_types, tolerant=tolerant) if plan is None else plan)
        except Exception:
            _raise_earlier_errors(prepared)
            raise
    if types:
        names = {name for item in prepared for name in _column_names(item)}
        for name in check_types(types):
            if name not in names:
                _raise_earlier_errors(prepared)
                raise ValueError(f"types names column '{name}', which the data does not have")
    return prepared


def column_tuples(prepared: Prepared) -> list[ColumnTuple]:
    """The column tuples of a prepared dataset (a plan is converted by the adapters)."""
    return prepared["columns"]() if isinstance(prepared, dict) else prepared


def thread_count(threads: int | None) -> int | None:
    """The threads the engine computes on: ``threads``, else NOLT_THREADS, else None (every usable CPU)."""
    if threads is None:
        text = os.environ.get("NOLT_THREADS", "").strip()
        if not text:
            return None
        try:
            threads = int(text)
        except ValueError:
            raise ValueError(f"NOLT_THREADS must be a whole number of threads, not {text!r}") from None
    if isinstance(threads, bool) or not isinstance(threads, int):
        raise TypeError(f"threads must be an int, not {type(threads).__name__}")
    if threads < 1:
        raise ValueError(f"threads must be at least 1, not {threads}")
    return threads


def schema_types(schema: object) -> dict[str, str]:
    """The logical type of each column a schema names (the first of a repeated name): the types
    the data is read as for validation. "unknown" columns are left to the data. A schema that
    cannot be read gives no types here; validating against it raises its error."""
    entries: Any
    if isinstance(schema, (str, os.PathLike)):
        try:
            with open(os.fspath(schema), "rb") as handle:
                entries = json.load(handle)["schema"]["columns"]
        except (OSError, ValueError, TypeError, KeyError):
            return {}
        pairs = [(entry.get("name"), entry.get("logical_type")) for entry in entries if isinstance(entry, Mapping)]
    elif isinstance(schema, Mapping):
        entries = schema.get("columns")
        pairs = [(entry.get("name"), entry.get("logical_type")) for entry in entries or () if isinstance(entry, Mapping)]
    elif isinstance(schema, Sequence) and not isinstance(schema, (str, bytes)):
        pairs = [(entry[0], entry[1]) for entry in schema if isinstance(entry, tuple) and len(entry) == 5]
    else:
        return {}
    types: dict[str, str] = {}
    for name, logical_type in pairs:
        if isinstance(name, str) and logical_type in LOGICAL_TYPES and logical_type != "unknown":
            types.setdefault(name, logical_type)
    return types


def prepared_rows(prepared: Prepared) -> int:
    """The rows of a prepared dataset, as ``row_count`` gives them for its column tuples."""
    if isinstance(prepared, dict):
        return len(prepared["arrow"]) if prepared["names"] else 0
    return row_count(prepared)


def row_count(columns: list[ColumnTuple]) -> int:
    """The rows of converted columns: the longest column's (cells without a length count 0)."""
    lengths = [len(cells) for cells in (column[2] for column in columns) if isinstance(cells, Sized)]
    return max(lengths, default=0)


def path_text(path: str | os.PathLike[str]) -> str:
    """The path as text; a path-like object that gives bytes is refused."""
    text = os.fspath(path)
    if not isinstance(text, str):
        raise TypeError(f"a path must be text, not {type(text).__name__}")
    return text


def schema_columns(schema: SuggestedSchema) -> list[SchemaColumnTuple]:
    """The schema-column tuples of a suggested schema dictionary (as suggest_schema returns)."""
    result: list[SchemaColumnTuple] = []
    for column in schema["columns"]:
        constraints = column["constraints"]
        numeric_range = constraints["numeric_range"]
        bounds = None if numeric_range is None else (numeric_range["min"], numeric_range["max"])
        result.append((column["name"], column["logical_type"], column["nullable"], bounds, constraints["allowed_values"]))
    return result


# -- the computations ------------------------------------------------------------------------

_T = TypeVar("_T")


class _Helper:
    """One thread that runs engine calls for the main thread, kept between calls.

    A thread of its own per call costs a fifth of a large profile: the allocator hands every
    new thread memory that must be cleared again. ``busy`` while a call runs; one left busy
    (stuck after a cancel) is replaced, as is one inherited by a forked child.
    """

    def __init__(self) -> None:
        self.pid = os.getpid()
        self.busy = False
        self._calls: queue.SimpleQueue[tuple[Callable[[], Any], list[Any], threading.Event]] = queue.SimpleQueue()
        threading.Thread(target=self._serve, name="nolt-engine", daemon=True).start()

    def _serve(self) -> None:
        while True:
            call, outcome, done = self._calls.get()
            try:
                outcome.append((True, call()))
            except BaseException as error:  # handed to the waiting thread
                outcome.append((False, error))
            del call
            self.busy = False
            done.set()

    def submit(self, call: Callable[[], Any], outcome: list[Any], done: threading.Event) -> None:
        self.busy = True
        self._calls.put((call, outcome, done))


_helper: _Helper | None = None


def _stoppable(call: Callable[[], _T]) -> _T:
    """Runs an engine function so that Ctrl-C stops it.

    The engine computes without the interpreter lock, where no signal handler can run. On the
    main thread the call runs on a helper thread while this one waits, runs the handlers and,
    when one raises, cancels the computation (it stops at its next check) and raises that
    exception. A helper stuck in a blocking wait (a pipe without a writer) is left behind after
    a second.
    """
    global _helper
    if threading.current_thread() is not threading.main_thread():
        return call()
    if _helper is None or _helper.busy or _helper.pid != os.getpid():
        _helper = _Helper()
    outcome: list[Any] = []
    done = threading.Event()
    _engine.uncancel()
    _helper.submit(call, outcome, done)
    try:
        done.wait()
    except BaseException:
        _engine.cancel()
        done.wait(1.0)
        raise
    finished, value = outcome[0]
    if not finished:
        raise value
    result: _T = value
    return result


def core_version() -> str:
    return _nolt_core.version()


def profile(columns: Prepared, threads: int | None = None) -> DetailedProfile:
    """The core's profile with each column's details, from one conversion of the columns."""
    return _stoppable(lambda: _engine.profile(columns, thread_count(threads), True))


def observed_schema(columns: Prepared, threads: int | None = None) -> ObservedSchema:
    return _stoppable(lambda: _engine.observed_schema(columns, thread_count(threads)))


def suggest_schema(columns: Prepared, threads: int | None = None) -> SuggestedSchema:
    return _stoppable(lambda: _engine.suggest_schema(columns, thread_count(threads)))


def inspect(columns: Prepared, threads: int | None = None) -> Inspection:
    return _stoppable(lambda: _engine.inspect(columns, thread_count(threads)))


def save_schema(columns: Prepared, path: str | os.PathLike[str], threads: int | None = None) -> None:
    _stoppable(lambda: _engine.save_schema(columns, path_text(path), thread_count(threads)))


def validate(columns: Prepared, schema: SchemaArgument, threads: int | None = None,
             failure_cases: bool = False) -> ValidationReport:
    """Validates against a schema file, a suggested-schema dict or a sequence of schema tuples.

    The core's report, plus an "unreadable_value" issue for each column with cells that cannot
    be read as its type; ``failure_cases`` adds to every issue the rows that fail it.
    """
    threads = thread_count(threads)
    path: str | None = None
    taken: Any = schema
    try:
        if isinstance(schema, (str, os.PathLike)):
            path, taken = path_text(schema), None
        elif isinstance(schema, Mapping):
            taken = schema_columns(schema)
    except Exception:
        _raise_earlier_errors([columns])  # the data's conversion errors come first
        raise
    # a schema of any other kind goes to the engine, which says what is wrong with it as the core does
    return _stoppable(lambda: _engine.validate(columns, path, taken, failure_cases, threads))


def compare(before: Prepared, after: Prepared, threads: int | None = None) -> DatasetComparison:
    return _stoppable(lambda: _engine.compare(before, after, thread_count(threads)))


def drift(before: Prepared, after: Prepared, threads: int | None = None) -> DriftReport:
    return _stoppable(lambda: _engine.drift(before, after, thread_count(threads)))


# -- for nolt.dask's partitions ---------------------------------------------------------------


def profile_part(columns: Prepared, details: bool) -> dict[str, Any]:
    """One partition's profile, with its details when asked (computed on a Dask worker)."""
    if details:
        return dict(_engine.profile(columns, thread_count(None), True))
    return dict(_engine.profile(columns, thread_count(None), False))


def remember_columns(prepared: Prepared) -> Prepared:
    """The prepared dataset, its adapters' columns made once: when the engine has asked for one,
    ``prepared_column`` gives it again without converting the cells a second time."""
    if isinstance(prepared, dict):
        made: dict[int, ColumnTuple] = {}
        convert = prepared["fallback"]
        prepared = {**prepared, "fallback": lambda index: made[index] if index in made else made.setdefault(index, convert(index))}
    return prepared


def prepared_column(prepared: Prepared, position: int) -> ColumnTuple:
    """One column of a prepared dataset as the adapters make it."""
    if isinstance(prepared, dict):
        return prepared["fallback"](position)  # type: ignore[no-any-return]
    return prepared[position]


def prepared_arrow(prepared: Prepared, position: int) -> Any | None:
    """One column of an Arrow plan as the Arrow array the engine reads, or None where the
    column goes through its adapter."""
    if not isinstance(prepared, dict) or prepared["types"][position] is False:
        return None
    return prepared["arrow"].column(position).combine_chunks()
