"""Numeric columns read from memory: numpy arrays, array.array and memoryview.

The core reads such a column's buffer instead of iterating it, and must give exactly what
iterating it gives: the same cells, or the same exception (class and message) from the same
cell and column. Every property below compares a call on the buffer with the same call on
``list(values)`` (or, where listing the object raises, on a generator over it).
"""

import array
import math
import os
import struct
import sys
import time

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _nolt_core as core
import nolt
from conftest import raises_exactly

LOGICAL_TYPES = ["integer", "float", "boolean", "string", "datetime", "categorical", "unknown"]
EXAMPLES = int(os.environ.get("NOLT_BUFFER_EXAMPLES", "400"))

property_settings = settings(
    max_examples=EXAMPLES,
    deadline=None,
    database=None,
    derandomize=os.environ.get("NOLT_FUZZ_RANDOM") != "1",
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)


def outcome(call):
    """What a call gives: its result's repr (exact for int/float/bool, -0.0, NaN and key order)
    or its exception's class, message and arguments."""
    try:
        return ("ok", repr(call()))
    except Exception as error:  # noqa: BLE001 - every exception is compared
        return ("raised", type(error), str(error), repr(error.args))


def iterated(values):
    """The reference: the Python objects iteration yields, or a generator raising as it does."""
    try:
        return list(values)
    except Exception:  # noqa: BLE001
        return yield_from(values)


def yield_from(values):
    yield from values


def column(name, logical_type, values, typed):
    return (name, logical_type, values) if typed is None else (name, logical_type, values, typed)


# --------------------------------------------------------------------------
# Strategies: element formats, values with their extremes, and exporters.

INTEGER_DTYPES = ["i1", "u1", "i2", "u2", "i4", "u4", "i8", "u8", "q", "Q"]
FLOAT_DTYPES = ["f4", "f8"]
DTYPES = INTEGER_DTYPES + FLOAT_DTYPES + ["?"]
TYPECODES = ["b", "B", "h", "H", "i", "I", "l", "L", "q", "Q", "f", "d"]


def integer_values(dtype):
    info = np.iinfo(dtype)
    extremes = [info.min, info.max, 0, -1 if info.min < 0 else 1, 2**53 + 1, 2**63 - 1, 2**63, -(2**63)]
    return st.one_of(st.integers(int(info.min), int(info.max)),
                     st.sampled_from([v for v in extremes if info.min <= v <= info.max]))


def float_values(dtype):
    width = 32 if np.dtype(dtype).itemsize == 4 else 64
    special = [math.nan, -math.nan, math.inf, -math.inf, -0.0, 0.0, 5e-324, 1.5, -2.0]
    bits = st.integers(0, 2**width - 1).map(
        lambda raw: float(np.array([raw], dtype=f"u{width // 8}").view(f"f{width // 8}")[0]))
    return st.one_of(st.floats(width=width), st.sampled_from(special), bits)


def element_values(dtype):
    kind = np.dtype(dtype).kind
    if kind == "b":
        return st.booleans()
    if kind == "f":
        return float_values(dtype)
    return integer_values(dtype)


@st.composite
def numpy_arrays(draw, dtypes=DTYPES):
    """1-D arrays in every layout iteration must walk the same way: contiguous, strided,
    reversed, a column of a 2-D array, unaligned, byte-swapped, read-only, broadcast."""
    dtype = np.dtype(draw(st.sampled_from(dtypes)))
    cells = draw(st.lists(element_values(dtype), max_size=12))
    base = np.array(cells, dtype=dtype)
    layout = draw(st.sampled_from(
        ["contiguous", "strided", "reversed", "column", "unaligned", "swapped", "readonly", "broadcast"]))
    if layout == "broadcast" and cells:
        return np.broadcast_to(base[:1], (len(cells),))  # every element at one address: stride 0
    if layout == "strided":
        step = draw(st.integers(2, 3))
        wide = np.zeros(len(cells) * step, dtype=dtype)
        wide[::step] = base
        return wide[::step]
    if layout == "reversed":
        return base[::-1].copy()[::-1]
    if layout == "column":
        table = np.zeros((len(cells), 3), dtype=dtype)
        table[:, 1] = base
        return table[:, 1]
    if layout == "unaligned":
        raw = bytearray(1 + base.nbytes)
        raw[1:] = base.tobytes()
        return np.frombuffer(raw, dtype=dtype, offset=1)
    if layout == "swapped":
        return base.astype(dtype.newbyteorder())
    if layout == "readonly":
        base.flags.writeable = False
    return base


@st.composite
def arrays_of_module_array(draw):
    typecode = draw(st.sampled_from(TYPECODES))
    if typecode in "fd":
        dtype = "f4" if typecode == "f" else "f8"
    else:
        dtype = np.dtype(f"{'i' if typecode.islower() else 'u'}{struct.calcsize(typecode)}")
    return array.array(typecode, draw(st.lists(element_values(dtype), max_size=12)))


@st.composite
def memoryviews(draw):
    """memoryview of numpy arrays (byte-swapped ones too, whose iteration raises) and of
    array.array, sliced with a step, and cast through bytes."""
    source = draw(st.one_of(numpy_arrays(), arrays_of_module_array()))
    view = memoryview(source)
    shape = draw(st.sampled_from(["whole", "step", "reversed", "cast"]))
    if shape == "step":
        return view[:: draw(st.integers(2, 3))]
    if shape == "reversed":
        return view[::-1]
    if shape == "cast" and view.c_contiguous and view.format in TYPECODES + ["l", "L", "?"]:
        return view.cast("B").cast(view.format)
    return view


exporters = st.one_of(numpy_arrays(), arrays_of_module_array(), memoryviews())
typed_flags = st.sampled_from([None, False, True, np.True_, np.False_])


def schema_for(name, logical_type):
    return [(name, logical_type, False, (-1000.0, 1000.0), None)]


# --------------------------------------------------------------------------
# The properties


@property_settings
@given(values=exporters, logical_type=st.sampled_from(LOGICAL_TYPES), typed=typed_flags)
def test_a_buffer_column_converts_as_its_iteration(values, logical_type, typed):
    def run(function, cells, *more):
        return outcome(lambda: function([column("c", logical_type, cells, typed)], *more))

    for function, more in [
        (core.profile_dataset, ()),
        (core.observed_schema_dataset, ()),
        (core._validate_dataset_schema, (schema_for("c", logical_type),)),
    ]:
        assert run(function, values, *more) == run(function, iterated(values), *more)


@property_settings
@given(
    first=exporters,
    second=exporters,
    types=st.tuples(st.sampled_from(LOGICAL_TYPES), st.sampled_from(LOGICAL_TYPES)),
    flags=st.tuples(typed_flags, typed_flags),
)
def test_the_first_failing_column_is_the_same(first, second, types, flags):
    def dataset(make):
        return [column("a", types[0], make(first), flags[0]), column("b", types[1], make(second), flags[1])]

    assert outcome(lambda: core.profile_dataset(dataset(lambda v: v))) == outcome(
        lambda: core.profile_dataset(dataset(iterated)))
    assert outcome(lambda: core.schema_drift_datasets(dataset(lambda v: v), dataset(lambda v: v))) == outcome(
        lambda: core.schema_drift_datasets(dataset(iterated), dataset(iterated)))


# --------------------------------------------------------------------------
# The conversions, written out: what iterating each kind of exporter gives.

BIG_UNSIGNED = 2**64 - 1


@pytest.mark.parametrize(
    "values, logical_type, typed, expected",
    [
        # numpy's integer scalars are not ints: plain conversion names their type.
        (np.array([3], dtype="i8"), "integer", False, (TypeError, "Unsupported normalized value type 'int64'")),
        (np.array([3], dtype="q"), "integer", False, (TypeError, "Unsupported normalized value type 'longlong'")),
        (np.array([3], dtype=">u2"), "string", True, (TypeError, "Unsupported normalized value type 'uint16'")),
        (np.array([1.5], dtype="f4"), "float", False, (TypeError, "Unsupported normalized value type 'float32'")),
        (np.array([True]), "boolean", False, (TypeError, "Unsupported normalized value type 'bool'")),
        (np.array([True]), "integer", True, (TypeError, "Column 'c' contains an unsupported value")),
        (np.array([1, 2]), "boolean", True, (TypeError, "Column 'c' contains an unsupported value")),
        (np.array([1.0]), "integer", True, (TypeError, "Column 'c' contains an unsupported value")),
        (np.array([1, BIG_UNSIGNED], dtype="u8"), "integer", True, (TypeError, "Column 'c' contains an unsupported value")),
        # array.array and memoryview yield Python numbers.
        (array.array("Q", [1, BIG_UNSIGNED]), "integer", False, (OverflowError, "int too big to convert")),
        (array.array("Q", [1, BIG_UNSIGNED]), "integer", True, (TypeError, "Column 'c' contains an unsupported value")),
        (array.array("q", [1]), "boolean", True, (TypeError, "Column 'c' contains an unsupported value")),
        (memoryview(np.array([1], dtype=">i8")), "integer", False, (NotImplementedError, "memoryview: unsupported format >q")),
        (memoryview(np.zeros((1, 1))), "float", False, (NotImplementedError, "multi-dimensional sub-views are not implemented")),
    ],
)
def test_refused_buffers_raise_what_iteration_raises(values, logical_type, typed, expected):
    raises_exactly(*expected, core.profile_dataset, [("c", logical_type, values, typed)])


ODD_VALUES = {
    "float16": np.array([1.5, np.nan], dtype="f2"),
    "longdouble": np.array([1.5, np.nan], dtype="g"),
    "complex": np.array([1 + 2j]),
    "datetime64": np.array(["2026-01-02", "NaT"], dtype="M8[D]"),
    "object": np.array([1, None, "x"], dtype=object),
    "text": np.array(["a", "b"]),
    "structured": np.zeros(2, dtype=[("x", "i8")]),
    "two-dimensional": np.zeros((2, 2)),
    "zero-dimensional": np.array(5),
    "chars": memoryview(b"ab").cast("c"),
    "bytes": b"\x01\x02",
    "bytearray": bytearray(b"\x01"),
    "unicode-array": array.array("w", "ab"),
    "released-view": (lambda view: (view.release(), view)[1])(memoryview(array.array("q", [1]))),
}


@pytest.mark.filterwarnings("ignore::numpy.exceptions.ComplexWarning")
@pytest.mark.parametrize("values", ODD_VALUES.values(), ids=ODD_VALUES.keys())
@pytest.mark.parametrize("logical_type", LOGICAL_TYPES)
@pytest.mark.parametrize("typed", [False, True])
def test_other_formats_and_shapes_are_iterated(values, logical_type, typed):
    def run(cells):
        return outcome(lambda: core.profile_dataset([("c", logical_type, cells, typed)]))

    assert run(values) == run(iterated(values))


def floats_of(profile):
    stats = profile["columns"][0]["numeric_stats"]
    return profile["columns"][0]["null_count"], stats["min"], stats["max"]


@pytest.mark.parametrize(
    "values, logical_type, typed, expected",
    [
        (np.array([-0.0, math.nan, 3.0]), "float", False, (0, -0.0, 3.0)),  # NaN stays a Float
        (np.array([-0.0, math.nan, 2.5], dtype=">f8"), "float", True, (1, -0.0, 2.5)),  # NaN becomes null
        (np.array([0.1, math.nan], dtype="f4"), "float", True, (1, float(np.float32(0.1)), float(np.float32(0.1)))),
        (np.array([2**63 - 1, -(2**63)]), "integer", True, (0, -(2.0**63), 2.0**63)),
        (np.array([BIG_UNSIGNED], dtype="u8"), "float", True, (0, 2.0**64, 2.0**64)),
        (array.array("Q", [2**53 + 1]), "float", True, (0, 2.0**53, 2.0**53)),  # rounds to even
        (memoryview(np.array([True, False])), "integer", True, (0, 0.0, 1.0)),
        (np.array([True, False]), "float", True, (0, 0.0, 1.0)),
    ],
)
def test_numbers_read_from_memory(values, logical_type, typed, expected):
    assert floats_of(core.profile_dataset([("c", logical_type, values, typed)])) == expected


# --------------------------------------------------------------------------
# Exact types only, and the buffer is always released.


class ReversedArray(np.ndarray):
    def __iter__(self):
        return iter(np.asarray(self)[::-1].tolist())


class ShortArray(array.array):
    def __iter__(self):
        return iter([7])


class NotNumpy:
    """Named like numpy's array and exporting a buffer, but iterating to other cells."""

    __module__ = "numpy"
    __qualname__ = __name__ = "ndarray"

    def __buffer__(self, flags):
        return memoryview(array.array("q", [1, 2]))

    def __iter__(self):
        return iter([5])


@pytest.mark.parametrize(
    "values, cells",
    [
        (np.array([1, 2, 3]).view(ReversedArray), [3, 2, 1]),
        (ShortArray("q", [1, 2]), [7]),
        (NotNumpy(), [5]),
    ],
)
def test_subclasses_and_look_alikes_are_iterated(values, cells):
    dataset = [("c", "integer", values, True)]
    assert core.profile_dataset(dataset) == core.profile_dataset([("c", "integer", cells, True)])


def test_a_buffer_is_released_when_a_later_column_fails():
    numbers = np.arange(10)
    module_array = array.array("q", range(10))
    view = memoryview(array.array("d", [1.0]))
    before = sys.getrefcount(numbers)
    for make in (
        lambda: [("a", "integer", numbers, True), ("b", "integer", module_array), ("c", "float", view),
                 ("d", "integer", [None], True)],
        lambda: [("a", "integer", numbers, True), ("b", "integer", module_array), ("c", "float", view),
                 ("d", "integer", [1, 2])],
    ):
        with pytest.raises((TypeError, ValueError)):
            core.profile_dataset(make())
    assert sys.getrefcount(numbers) == before
    numbers.resize(20)  # refused while anything still references the array
    module_array.append(1)  # raises BufferError while a buffer is exported
    view.release()  # raises BufferError while the view is exported


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""), reason="timing under the sanitizers")
def test_the_buffer_path_is_taken():
    """Reading memory is many times faster than making a numpy scalar per cell. Validation
    against a schema without the column does little but convert it."""
    numbers = np.arange(300_000)

    def fastest(make_values):
        best = math.inf
        for _ in range(5):
            values = make_values()
            start = time.perf_counter()
            core._validate_dataset_schema([("c", "integer", values, True)], [])
            best = min(best, time.perf_counter() - start)
        return best

    assert fastest(lambda: numbers) * 4 < fastest(lambda: iter(numbers))


# --------------------------------------------------------------------------
# The adapters hand numpy-backed columns over as arrays, with unchanged results.

pd = pytest.importorskip("pandas")
pl = pytest.importorskip("polars")

INT64_MAX = 2**63 - 1
FRAME_DATA = {
    "i64": [3, -(2**63), INT64_MAX],
    "u8": [0, 255, 7],
    "u64": [0, 2**64 - 1, 1],
    "f32": [0.1, math.nan, -0.0],
    "f64": [math.inf, math.nan, -0.0],
    "flag": [True, False, True],
}
FRAME_DTYPES = {"i64": "int64", "u8": "uint8", "u64": "uint64", "f32": "float32", "f64": "float64", "flag": "bool"}


def pandas_frame():
    frame = pd.DataFrame({name: np.array(cells, dtype=FRAME_DTYPES[name]) for name, cells in FRAME_DATA.items()})
    frame["small_u64"] = np.array([1, 2, 3], dtype="u8")
    frame["nullable"] = pd.array([1, None, 3], dtype="Int64")
    frame["nullable_full"] = pd.array([1, 2, 3], dtype="Int64")
    return frame


def polars_frame():
    data = {name: pl.Series(name, np.array(cells, dtype=FRAME_DTYPES[name])) for name, cells in FRAME_DATA.items()}
    data["small_u64"] = pl.Series("small_u64", [1, 2, 3], dtype=pl.UInt64)
    data["with_null"] = pl.Series("with_null", [1.5, None, math.nan])
    return pl.DataFrame(data)


# The lists the adapters handed over before: Python numbers, pandas' floats typed (NaN is null),
# polars' floats plain (NaN is a NaN value).
def list_columns(frame):
    def cells(series):
        return series.to_list() if hasattr(series, "to_list") else series.tolist()

    columns = []
    for name in frame.columns:
        series = frame[name]
        logical_type = nolt._adapters.to_columns(frame[[name]])[0][1]
        values = [None if value is pd.NA else value for value in cells(series)]
        typed = logical_type == "float" and isinstance(frame, pd.DataFrame)
        columns.append(column(name, logical_type, values, True if typed else None))
    return columns


@pytest.mark.parametrize("make", [pandas_frame, polars_frame], ids=["pandas", "polars"])
def test_adapters_pass_arrays_with_the_results_of_lists(make):
    frame = make()
    good = [name for name in frame.columns if name != "u64"]
    columns = nolt.to_columns(frame[good])
    as_arrays = {name for name, _, values, *_ in columns if type(values) is np.ndarray}
    expected_arrays = {"i64", "u8", "f32", "f64", "flag", "small_u64"}
    assert as_arrays == expected_arrays  # nullable columns stay lists
    for function in (core.profile_dataset, core.observed_schema_dataset):
        assert repr(function(nolt.to_columns(frame[good]))) == repr(function(list_columns(frame[good])))
    # u64 beyond the int64 range is refused by name, where the core would raise a bare OverflowError
    assert outcome(lambda: nolt.profile(frame))[:2] == ("raised", ValueError)
