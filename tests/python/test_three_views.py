"""inspect_dataset: the three views of one dataset from one conversion and one profile."""

import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _nolt_core
from conftest import raises_exactly

LOGICAL_TYPES = ["integer", "float", "boolean", "string", "datetime", "categorical", "unknown"]
SEPARATE_CALLS = [("profile", _nolt_core.profile_dataset), ("observed_schema", _nolt_core.observed_schema_dataset),
                  ("suggested_schema", _nolt_core.suggest_schema_dataset)]


def separate_results(columns):
    """The three dedicated results, or the first failure among them."""
    results = {}
    for key, function in SEPARATE_CALLS:
        try:
            results[key] = function(columns)
        except Exception as error:  # noqa: BLE001 - the failure itself is the expected value
            return error
    return results


def assert_same_as_separate_calls(columns):
    expected = separate_results(columns)
    if isinstance(expected, Exception):
        error = raises_exactly(type(expected), str(expected), _nolt_core.inspect_dataset, columns)
        assert error.args == expected.args
        return
    result = _nolt_core.inspect_dataset(columns)
    assert list(result) == ["profile", "observed_schema", "suggested_schema"]
    assert result == expected
    # repr shows key order, int/float/bool and the sign of zero everywhere in the tree.
    assert repr(result) == repr(expected)


def test_empty_dataset():
    assert _nolt_core.inspect_dataset([]) == {
        "profile": {"row_count": 0, "columns": []},
        "observed_schema": {"row_count": 0, "columns": []},
        "suggested_schema": {"columns": []},
    }


def test_whole_result():
    columns = [("n", "integer", [3, None, 1]), ("c", "categorical", ["b", "a", "b"]),
               ("b", "boolean", [True, False, None])]
    result = _nolt_core.inspect_dataset(columns)
    assert repr(result) == repr({
        "profile": {"row_count": 3, "columns": [
            {"name": "n", "logical_type": "integer", "count": 3, "null_count": 1, "unique_count": 2,
             "numeric_stats": {"min": 1.0, "max": 3.0, "mean": 2.0, "median": 2.0, "p25": 1.5, "p50": 2.0,
                               "p75": 2.5}},
            {"name": "c", "logical_type": "categorical", "count": 3, "null_count": 0, "unique_count": 2,
             "numeric_stats": None},
            {"name": "b", "logical_type": "boolean", "count": 3, "null_count": 1, "unique_count": 2,
             "numeric_stats": None},
        ]},
        "observed_schema": {"row_count": 3, "columns": [
            {"name": "n", "logical_type": "integer", "observed_nullable": True, "observed_unique_count": 2,
             "observed_range": {"min": 1.0, "max": 3.0}, "observed_values": None},
            {"name": "c", "logical_type": "categorical", "observed_nullable": False, "observed_unique_count": 2,
             "observed_range": None, "observed_values": ["b", "a"]},
            {"name": "b", "logical_type": "boolean", "observed_nullable": True, "observed_unique_count": 2,
             "observed_range": None, "observed_values": [True, False]},
        ]},
        "suggested_schema": {"columns": [
            {"name": "n", "logical_type": "integer", "nullable": True,
             "constraints": {"numeric_range": None, "allowed_values": None}},
            {"name": "c", "logical_type": "categorical", "nullable": False,
             "constraints": {"numeric_range": None, "allowed_values": ["b", "a"]}},
            {"name": "b", "logical_type": "boolean", "nullable": True,
             "constraints": {"numeric_range": None, "allowed_values": None}},
        ]},
    })


@pytest.mark.parametrize(
    "columns, exc_type, message",
    [
        ([("c", "categorical", ["a", 1])], ValueError, "Column 'c' produced 1 observed values; expected 2"),
        ([("b", "boolean", [True, 1])], ValueError, "Column 'b' produced 1 observed values; expected 2"),
        ([("a", "integer", [1]), ("b", "integer", [1, 2])], ValueError, "Column 'b' has 2 values; expected 1"),
        ([("a", "integer", [0.5, 1]), ("c", "categorical", ["a", 1])], TypeError,
         "Column 'a' expected integer values but received Float"),
        ([("a", "integer", [2**63])], OverflowError, None),
        ([("a", "boolean", [0], True)], TypeError, "Column 'a' contains an unsupported value"),
        ({"a": 1}, TypeError, None),
    ],
)
def test_failures_match_separate_calls(columns, exc_type, message):
    error = raises_exactly(exc_type, message, _nolt_core.inspect_dataset, columns)
    expected = separate_results(columns)
    assert type(expected) is exc_type and expected.args == error.args


def test_values_are_consumed_once():
    # Each values iterable is read once; a generator gives the same views as a list.
    cells = ["x", "y", None, "x"]
    from_generator = _nolt_core.inspect_dataset([("s", "string", (cell for cell in cells))])
    assert from_generator == _nolt_core.inspect_dataset([("s", "string", cells)])
    assert from_generator["observed_schema"]["columns"][0]["observed_values"] == ["x", "y"]


def test_keyword_argument():
    assert _nolt_core.inspect_dataset(columns=[("a", "integer", [1])]) == _nolt_core.inspect_dataset(
        [("a", "integer", [1])])


TEXTS = st.one_of(st.sampled_from(["a", "A", "b", "", "a ", "\u00e9", "e\u0301"]), st.text(max_size=3))
FLOATS = st.one_of(st.sampled_from([0.0, -0.0, 1.0, 2.5, -7.25, math.nan, math.inf, -math.inf, 1e308]),
                   st.floats(allow_nan=True, allow_infinity=True))
INTEGERS = st.one_of(st.integers(min_value=-5, max_value=5), st.integers(min_value=-(2**63), max_value=2**63 - 1))
# Any cell at all: wrong kinds for the declared type, integers outside 64 bits
# and objects that cannot be converted.
ANY_CELL = st.one_of(st.none(), st.booleans(), INTEGERS, st.integers(min_value=-(2**65), max_value=2**65), FLOATS,
                     TEXTS, st.sampled_from([b"x", (), 1j]))
# Cells that fit the declared type, so most datasets get through to the schemas.
FITTING_CELLS = {
    "integer": st.one_of(st.none(), INTEGERS),
    "float": st.one_of(st.none(), FLOATS, INTEGERS),
    "boolean": st.one_of(st.none(), st.booleans()),
    "string": st.one_of(st.none(), TEXTS),
    "datetime": st.one_of(st.none(), TEXTS, INTEGERS, FLOATS, st.booleans()),
    "categorical": st.one_of(st.none(), TEXTS),
    "unknown": st.one_of(st.none(), TEXTS, INTEGERS, FLOATS, st.booleans()),
}


@st.composite
def columns_strategy(draw):
    column_count = draw(st.integers(min_value=0, max_value=4))
    # Wide datasets let string and categorical columns cross the 50-value limit.
    wide = draw(st.integers(0, 3)) == 0
    row_count = draw(st.integers(min_value=80, max_value=84) if wide else st.integers(min_value=0, max_value=8))
    columns = []
    for _ in range(column_count):
        name = draw(st.sampled_from(["a", "A", "b", "a"]))
        logical_type = draw(st.sampled_from(LOGICAL_TYPES))
        length = row_count if draw(st.integers(0, 9)) else draw(st.integers(0, 8))
        if wide and logical_type in ("string", "categorical"):
            # Stepping by 7 visits every one of `spread` texts, so the distinct
            # count sits right at the limit (50) or just above it (51).
            spread = draw(st.sampled_from([3, 50, 51, 80]))
            cells = [f"t{row_idx * 7 % spread}" for row_idx in range(length)]
            if cells and draw(st.booleans()):
                cells[draw(st.integers(0, len(cells) - 1))] = None
        else:
            cells = draw(st.lists(FITTING_CELLS[logical_type], min_size=length, max_size=length))
        if cells and draw(st.integers(0, 5)) == 0:
            cells[draw(st.integers(0, len(cells) - 1))] = draw(ANY_CELL)
        column = (name, logical_type, cells)
        flag = draw(st.sampled_from([None, False, True]))
        columns.append(column if flag is None else (*column, flag))
    return columns


@settings(max_examples=600, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(columns_strategy())
def test_inspect_equals_three_separate_calls(columns):
    assert_same_as_separate_calls(columns)
