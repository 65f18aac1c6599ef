"""profile_dataset: the profile dictionary, distinct counting and the numeric statistics."""

import math
import random
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _nolt_core
from conftest import raises_exactly

COLUMN_KEYS = ["name", "logical_type", "count", "null_count", "unique_count", "numeric_stats"]
STATS_KEYS = ["min", "max", "mean", "median", "p25", "p50", "p75"]


def bits(value):
    return struct.pack("<d", value)


def nan_with_payload(payload, negative=False):
    (value,) = struct.unpack("<d", struct.pack("<Q", (0xFFF0 if negative else 0x7FF0) << 48 | payload))
    assert math.isnan(value)
    return value


def only_column(core, column):
    return core.profile_dataset([column])["columns"][0]


def stats_of(core, logical_type, values):
    return only_column(core, ("x", logical_type, values))["numeric_stats"]


def assert_profile_shape(result):
    """Key order and Python types of a whole profile dictionary."""
    assert list(result) == ["row_count", "columns"]
    assert type(result["row_count"]) is int
    assert type(result["columns"]) is list
    for column in result["columns"]:
        assert list(column) == COLUMN_KEYS
        assert type(column["name"]) is str and type(column["logical_type"]) is str
        assert all(type(column[key]) is int for key in ("count", "null_count", "unique_count"))
        if column["numeric_stats"] is not None:
            assert list(column["numeric_stats"]) == STATS_KEYS
            assert all(type(value) is float for value in column["numeric_stats"].values())


def reference_stats(values):
    """The statistics in plain Python floats: total-order sort, scaled mean,
    interpolated percentiles."""
    usable = sorted((float(value) for value in values if value is not None and math.isfinite(value)),
                    key=lambda value: (value, math.copysign(1.0, value)))
    if not usable:
        return None
    n = len(usable)
    smallest, largest = usable[0], usable[-1]
    scale = max(abs(smallest), abs(largest))
    if scale == 0.0:
        mean = 0.0
    else:
        accumulator = -0.0
        for value in usable:
            accumulator = accumulator + value / scale
        mean = scale * (accumulator / float(n))

    def percentile(fraction):
        position = fraction * float(n - 1)
        lo, hi = math.floor(position), math.ceil(position)
        f = position - lo
        return (1.0 - f) * usable[lo] + f * usable[hi]

    median = percentile(0.5)
    return {"min": smallest, "max": largest, "mean": mean, "median": median,
            "p25": percentile(0.25), "p50": median, "p75": percentile(0.75)}


def assert_bit_identical(actual, expected):
    assert list(actual) == list(expected)
    assert {key: bits(value) for key, value in actual.items()} == {key: bits(value) for key, value in expected.items()}


# --- the dictionary ----------------------------------------------------------------------------


def test_empty_dataset(core):
    result = core.profile_dataset([])
    assert result == {"row_count": 0, "columns": []}
    assert_profile_shape(result)


def test_whole_profile(core):
    result = core.profile_dataset(columns=(
        ("a", "integer", [1, 2, 3, 4]),
        ("s", "string", ["x", None, "x", "y"]),
        ("f", "float", [None, None, None, None]),
        ("b", "boolean", [True, False, None, True]),
    ))
    assert result == {
        "row_count": 4,
        "columns": [
            {"name": "a", "logical_type": "integer", "count": 4, "null_count": 0, "unique_count": 4,
             "numeric_stats": {"min": 1.0, "max": 4.0, "mean": 2.5, "median": 2.5, "p25": 1.75, "p50": 2.5, "p75": 3.25}},
            {"name": "s", "logical_type": "string", "count": 4, "null_count": 1, "unique_count": 2, "numeric_stats": None},
            {"name": "f", "logical_type": "float", "count": 4, "null_count": 4, "unique_count": 0, "numeric_stats": None},
            {"name": "b", "logical_type": "boolean", "count": 4, "null_count": 1, "unique_count": 2, "numeric_stats": None},
        ],
    }
    assert_profile_shape(result)


@pytest.mark.parametrize("logical_type", ["integer", "float", "boolean", "string", "datetime", "categorical", "unknown"])
def test_logical_type_is_reported_as_declared(core, logical_type):
    column = only_column(core, ("c", logical_type, [None, None, None]))
    assert column == {"name": "c", "logical_type": logical_type, "count": 3, "null_count": 3, "unique_count": 0,
                      "numeric_stats": None}


def test_each_call_returns_fresh_objects(core):
    columns = [("a", "integer", [1])]
    first, second = core.profile_dataset(columns), core.profile_dataset(columns)
    assert first == second and first is not second and first["columns"][0] is not second["columns"][0]


finite_floats = st.floats(allow_nan=False, allow_infinity=False)
any_floats = st.one_of(finite_floats, st.just(math.nan), st.just(math.inf), st.just(-math.inf), st.none(),
                       st.sampled_from([0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
                                        -1.7976931348623157e308]))


# --- distinct counting -------------------------------------------------------------------------


@pytest.mark.parametrize(
    "values, null_count, unique_count",
    [
        ([1, 1.0, True, "1", None], 1, 4),
        ([0, 0.0, False, "0", "", None], 1, 5),
        ([nan_with_payload(1), nan_with_payload(0x8000000000000), nan_with_payload(5, negative=True), math.nan,
          0.0, -0.0], 0, 2),
        ([math.inf, -math.inf, math.inf], 0, 2),
        (["a", "A", "a", "a ", "", ""], 0, 4),
        (["é", "e\u0301"], 0, 2),  # different code points, no normalisation
        ([True, True, False], 0, 2),
        ([2**63 - 1, -(2**63), 2**63 - 1, 9007199254740993, 9007199254740992], 0, 4),
        ([0.1 + 0.2, 0.3], 0, 2),
        ([None, None], 2, 0),
        ([], 0, 0),
    ],
)
def test_distinct_counting(core, values, null_count, unique_count):
    column = only_column(core, ("u", "unknown", values))
    assert (column["count"], column["null_count"], column["unique_count"]) == (len(values), null_count, unique_count)


@pytest.mark.parametrize(
    "logical_type, values, unique_count",
    [
        ("float", [0.0, -0.0, math.nan, nan_with_payload(3, negative=True), math.inf, -math.inf, None, 1.5, 1.5], 5),
        ("float", [1, 1.0, 2, 2.0], 4),  # Integer and Float cells stay different values
        ("float", [3, 3], 1),
        ("integer", [2**53, 2**53 + 1, 2**53 + 1, -(2**53) - 1, -(2**53) - 2], 4),
        ("integer", [2**53, -(2**53), 2**53, 0, None], 3),
        ("integer", [-(2**63), 2**63 - 1, -(2**63)], 2),
    ],
)
def test_distinct_counting_in_numeric_columns(core, logical_type, values, unique_count):
    assert only_column(core, ("n", logical_type, values))["unique_count"] == unique_count


@settings(max_examples=100, deadline=None)
@given(st.lists(any_floats, max_size=400))
def test_float_distinct_count_matches_python(values):
    canonical = {0.0 if value == 0.0 else "nan" if math.isnan(value) else value for value in values if value is not None}
    assert only_column(_nolt_core, ("f", "float", values))["unique_count"] == len(canonical)


def test_distinct_counting_of_large_columns(core):
    rng = random.Random(3)
    pool = [rng.randrange(10**6) for _ in range(500)]
    texts = [f"t{rng.randrange(10**9)}" for _ in range(20_000)]
    values = texts + [str(value) for value in pool] + pool + [float(value) for value in pool] + [None] * 7
    rng.shuffle(values)
    column = only_column(core, ("u", "unknown", values))
    assert column["null_count"] == 7
    assert column["unique_count"] == len(set(texts) | {str(value) for value in pool}) + 2 * len(set(pool))


def test_distinct_counting_when_the_first_rows_are_all_distinct(core):
    # The opening rows are all distinct, the rest repeat them.
    values = [f"v{row_idx % 10_000}" for row_idx in range(60_000)]
    assert only_column(core, ("s", "string", values))["unique_count"] == 10_000


# --- numeric statistics --------------------------------------------------------------------------


@pytest.mark.parametrize(
    "logical_type, values, expected",
    [
        ("integer", [4, 1, 3, 2], [1.0, 4.0, 2.5, 2.5, 1.75, 2.5, 3.25]),
        ("integer", [1, None, 3], [1.0, 3.0, 2.0, 2.0, 1.5, 2.0, 2.5]),
        ("integer", [-7], [-7.0] * 7),
        ("float", [1.0, math.nan, math.inf, -math.inf], [1.0] * 7),
        ("float", [1, 2], [1.0, 2.0, 1.5, 1.5, 1.25, 1.5, 1.75]),
        ("float", [1e308, 1e308], [1e308] * 7),
        ("float", [-1e308, -1e308, 1e308], [-1e308, 1e308, 1e308 * ((-1.0 + -1.0 + 1.0) / 3.0), -1e308, -1e308, -1e308, 0.0]),
        ("integer", [9007199254740993], [9007199254740992.0] * 7),
        # Halving the smallest subnormal rounds to zero, so the midpoint is 0.0.
        ("float", [5e-324, 5e-324], [5e-324, 5e-324, 5e-324, 0.0, 5e-324, 0.0, 5e-324]),
    ],
)
def test_statistics_examples(core, logical_type, values, expected):
    stats = stats_of(core, logical_type, values)
    assert_bit_identical(stats, dict(zip(STATS_KEYS, expected)))


def test_signed_zeros(core):
    stats = stats_of(core, "float", [0.0, -0.0])
    assert_bit_identical(stats, {"min": -0.0, "max": 0.0, "mean": 0.0, "median": 0.0, "p25": 0.0, "p50": 0.0, "p75": 0.0})
    # A lone -0.0: every field is -0.0 except the mean, which is +0.0.
    stats = stats_of(core, "float", [-0.0])
    assert_bit_identical(stats, {"min": -0.0, "max": -0.0, "mean": 0.0, "median": -0.0, "p25": -0.0, "p50": -0.0,
                                 "p75": -0.0})
    stats = stats_of(core, "float", [-0.0, -0.0, -0.0, 0.0])
    assert (bits(stats["p25"]), bits(stats["p75"])) == (bits(-0.0), bits(-0.0 * 0.75 + 0.0 * 0.25))


@pytest.mark.parametrize("values", [[math.nan], [math.nan, math.inf, -math.inf, None], []])
def test_float_column_without_usable_values_has_no_statistics(core, values):
    assert stats_of(core, "float", values) is None


@pytest.mark.parametrize("logical_type", ["boolean", "string", "datetime", "categorical", "unknown"])
def test_non_numeric_columns_have_no_statistics_whatever_they_hold(core, logical_type):
    assert stats_of(core, logical_type, [1, 2.5, True, "x", None]) is None


def test_statistics_of_a_large_column_match_the_reference(core):
    rng = random.Random(11)
    values = [rng.choice([rng.uniform(-1e9, 1e9), rng.randrange(-1000, 1000) * 0.5, -0.0, 0.0, None]) for _ in range(50_000)]
    assert_bit_identical(stats_of(core, "float", values), reference_stats(values))


@settings(max_examples=300, deadline=None)
@given(st.lists(any_floats, max_size=700))
def test_float_statistics_match_the_reference(values):
    stats = stats_of(_nolt_core, "float", values)
    expected = reference_stats(values)
    if expected is None:
        assert stats is None
    else:
        assert_bit_identical(stats, expected)


@settings(max_examples=200, deadline=None)
@given(st.lists(st.one_of(st.integers(min_value=-(2**63), max_value=2**63 - 1), st.integers(-50, 50), st.none()),
                max_size=700))
def test_integer_statistics_match_the_reference(values):
    stats = stats_of(_nolt_core, "integer", values)
    expected = reference_stats(values)
    if expected is None:
        assert stats is None
    else:
        assert_bit_identical(stats, expected)


# --- value-kind errors ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    "name, logical_type, values, message",
    [
        ("age", "integer", [1, 2.5], "Column 'age' expected integer values but received Float"),
        ("age", "integer", [math.nan], "Column 'age' expected integer values but received Float"),
        ("age", "integer", [1.0], "Column 'age' expected integer values but received Float"),
        ("age", "integer", [None, True], "Column 'age' expected integer values but received Boolean"),
        ("age", "integer", ["1"], "Column 'age' expected integer values but received String"),
        ("score", "float", [1.0, True], "Column 'score' expected float values but received Boolean"),
        ("score", "float", [1.0, "x"], "Column 'score' expected float values but received String"),
        ("score", "float", [math.nan, "x", True], "Column 'score' expected float values but received String"),
        ("score", "float", [False, "x"], "Column 'score' expected float values but received Boolean"),
        ("", "float", ["x"], "Column '' expected float values but received String"),
    ],
)
def test_value_kind_errors(core, name, logical_type, values, message):
    raises_exactly(TypeError, message, core.profile_dataset, [(name, logical_type, values)])


def test_first_offending_column_wins(core):
    columns = [
        ("ok", "integer", [1, 2, 3]),
        ("text", "string", [1, 2.5, True]),
        ("score", "float", [1.0, 2.0, "x"]),
        ("age", "integer", [2.5, 1, 1]),
    ]
    raises_exactly(TypeError, "Column 'score' expected float values but received String", core.profile_dataset, columns)


def test_typed_integer_overflow_is_the_column_message(core):
    raises_exactly(
        TypeError, "Column 'n' contains an unsupported value", core.profile_dataset, [("n", "integer", [2**63], True)]
    )


# --- argument taking -----------------------------------------------------------------------------


@pytest.mark.parametrize(
    "argument, message",
    [
        ("abc", "argument 'columns': Can't extract `str` to `Vec`"),
        ({}, "argument 'columns': 'dict' object cannot be converted to 'Sequence'"),
        (None, "argument 'columns': 'NoneType' object cannot be converted to 'Sequence'"),
    ],
)
def test_columns_argument_refusals(core, argument, message):
    raises_exactly(TypeError, message, core.profile_dataset, argument)


def test_bytes_argument_fails_in_column_conversion(core):
    raises_exactly(TypeError, "'int' object cannot be converted to 'PyTuple'", core.profile_dataset, b"a")


def test_tuple_and_range_are_accepted_as_the_columns_argument(core):
    assert core.profile_dataset(()) == {"row_count": 0, "columns": []}
    assert core.profile_dataset(range(0)) == {"row_count": 0, "columns": []}
