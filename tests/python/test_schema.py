"""observed_schema_dataset and suggest_schema_dataset: dictionaries, rules and failures."""

import math

import pytest

import _nolt_core
from conftest import raises_exactly

OBSERVED_KEYS = ["name", "logical_type", "observed_nullable", "observed_unique_count", "observed_range",
                 "observed_values"]
SUGGESTED_KEYS = ["name", "logical_type", "nullable", "constraints"]


def observed(name, logical_type, nullable, unique_count, observed_range=None, values=None):
    return {"name": name, "logical_type": logical_type, "observed_nullable": nullable,
            "observed_unique_count": unique_count, "observed_range": observed_range, "observed_values": values}


def suggested(name, logical_type, nullable, allowed_values=None):
    return {"name": name, "logical_type": logical_type, "nullable": nullable,
            "constraints": {"numeric_range": None, "allowed_values": allowed_values}}


def assert_observed_shape(result):
    assert list(result) == ["row_count", "columns"]
    assert type(result["row_count"]) is int
    for column in result["columns"]:
        assert list(column) == OBSERVED_KEYS
        assert type(column["observed_nullable"]) is bool
        assert type(column["observed_unique_count"]) is int
        if column["observed_range"] is not None:
            assert list(column["observed_range"]) == ["min", "max"]
            assert all(type(bound) is float for bound in column["observed_range"].values())
        if column["observed_values"] is not None:
            assert all(type(value) in (bool, str) for value in column["observed_values"])


def assert_suggested_shape(result):
    assert list(result) == ["columns"]
    for column in result["columns"]:
        assert list(column) == SUGGESTED_KEYS
        assert type(column["nullable"]) is bool
        assert list(column["constraints"]) == ["numeric_range", "allowed_values"]


def observe_one(column):
    result = _nolt_core.observed_schema_dataset([column])
    assert_observed_shape(result)
    return result["columns"][0]


def suggest_one(column):
    result = _nolt_core.suggest_schema_dataset([column])
    assert_suggested_shape(result)
    return result["columns"][0]


TEXTS_50 = [f"v{index}" for index in range(50)]
TEXTS_51 = [f"v{index}" for index in range(51)]


@pytest.mark.parametrize(
    "column, expected",
    [
        (("n", "integer", [3, None, 1]), observed("n", "integer", True, 2, {"min": 1.0, "max": 3.0})),
        (("n", "integer", [None, None]), observed("n", "integer", True, 0)),
        (("f", "float", [None]), observed("f", "float", True, 0)),
        (("f", "float", [-0.0, 2.5, math.nan]), observed("f", "float", False, 3, {"min": -0.0, "max": 2.5})),
        (("t", "float", [1.0, 2.0], True), observed("t", "float", False, 2, {"min": 1.0, "max": 2.0})),
        (("s", "string", TEXTS_50), observed("s", "string", False, 50, values=TEXTS_50)),
        (("s", "string", TEXTS_51 + [None]), observed("s", "string", True, 51)),
        (("s", "string", [None, None]), observed("s", "string", True, 0, values=[])),
        (("s", "string", []), observed("s", "string", False, 0, values=[])),
        (("s", "string", ["A", "a", "a", "A", "a "]), observed("s", "string", False, 3, values=["A", "a", "a "])),
        (("c", "categorical", ["b", "a", "b", None]), observed("c", "categorical", True, 2, values=["b", "a"])),
        (("c", "categorical", ["é", "e\u0301"]), observed("c", "categorical", False, 2, values=["é", "e\u0301"])),
        (("b", "boolean", [True, None, False, True]), observed("b", "boolean", True, 2, values=[True, False])),
        (("b", "boolean", [False, False], True), observed("b", "boolean", False, 1, values=[False])),
        (("b", "boolean", [None, None]), observed("b", "boolean", True, 0, values=[])),
        (("d", "datetime", ["2024-01-01", 5, 2.5]), observed("d", "datetime", False, 3)),
        (("u", "unknown", [1, 1.0, True, "1", None]), observed("u", "unknown", True, 4)),
    ],
    ids=lambda value: None,
)
def test_observed_column(column, expected):
    result = observe_one(column)
    assert result == expected
    if result["observed_range"] is not None:
        # Bounds are copied bit for bit, including the sign of zero.
        assert [math.copysign(1.0, bound) for bound in result["observed_range"].values()] == [
            math.copysign(1.0, bound) for bound in expected["observed_range"].values()]


def test_observed_empty_dataset():
    assert _nolt_core.observed_schema_dataset([]) == {"row_count": 0, "columns": []}
    assert list(_nolt_core.observed_schema_dataset([])) == ["row_count", "columns"]


def test_observed_keeps_column_order_and_duplicate_names():
    result = _nolt_core.observed_schema_dataset(
        [("x", "integer", [2, 1]), ("A", "string", ["p", "q"]), ("x", "boolean", [True, True]),
         ("a", "categorical", ["q", "q"])])
    assert_observed_shape(result)
    assert result == {"row_count": 2, "columns": [
        observed("x", "integer", False, 2, {"min": 1.0, "max": 2.0}),
        observed("A", "string", False, 2, values=["p", "q"]),
        observed("x", "boolean", False, 1, values=[True]),
        observed("a", "categorical", False, 1, values=["q"]),
    ]}


@pytest.mark.parametrize(
    "column, message",
    [
        # Distinct counts see every kind; the observed list sees only texts or booleans.
        (("c", "categorical", ["a", 1]), "Column 'c' produced 1 observed values; expected 2"),
        (("c", "categorical", ["a", "a", 1.5, True, None]), "Column 'c' produced 1 observed values; expected 3"),
        (("s", "string", TEXTS_50[:49] + [7]), "Column 's' produced 49 observed values; expected 50"),
        (("s", "string", [1, 2]), "Column 's' produced 0 observed values; expected 2"),
        (("b", "boolean", [True, 1]), "Column 'b' produced 1 observed values; expected 2"),
        (("b", "boolean", [True, 1], False), "Column 'b' produced 1 observed values; expected 2"),
        (("b", "boolean", ["yes", None]), "Column 'b' produced 0 observed values; expected 1"),
        # The boolean list has no size limit, so many distinct integers still fail.
        (("b", "boolean", list(range(60))), "Column 'b' produced 0 observed values; expected 60"),
    ],
)
@pytest.mark.parametrize("function", [_nolt_core.observed_schema_dataset, _nolt_core.suggest_schema_dataset])
def test_observed_values_error(function, column, message):
    raises_exactly(ValueError, message, function, [("ok", "integer", [0] * len(column[2])), column])


def test_mixed_column_succeeds_above_the_limit():
    # "a", 1 and 49 more texts are 51 distinct values: no list is collected.
    cells = ["a", 1] + TEXTS_50[:49]
    result = observe_one(("c", "categorical", cells))
    assert result == observed("c", "categorical", False, 51)
    assert suggest_one(("c", "categorical", cells)) == suggested("c", "categorical", False)


@pytest.mark.parametrize(
    "columns, exc_type, message",
    [
        ([("a", "integer", [1, 2]), ("b", "integer", [1])], ValueError, "Column 'b' has 1 values; expected 2"),
        ([("a", "integer", [1, 2.5]), ("b", "integer", [1])], ValueError, "Column 'b' has 1 values; expected 2"),
        ([("a", "integer", [1, 2.5])], TypeError, "Column 'a' expected integer values but received Float"),
        ([("a", "float", ["x", 1.0]), ("c", "categorical", ["a", 1])], TypeError,
         "Column 'a' expected float values but received String"),
        ([("a", "Integer", [1])], ValueError, "Unsupported logical type 'Integer'"),
        ([["a", "integer", [1]]], TypeError, "'list' object cannot be converted to 'PyTuple'"),
        ([("a", "integer", [object()])], TypeError, "Unsupported normalized value type 'object'"),
        ("abc", TypeError, "argument 'columns': Can't extract `str` to `Vec`"),
    ],
)
@pytest.mark.parametrize("function", [_nolt_core.observed_schema_dataset, _nolt_core.suggest_schema_dataset])
def test_errors_of_earlier_steps(function, columns, exc_type, message):
    raises_exactly(exc_type, message, function, columns)


@pytest.mark.parametrize("function", [_nolt_core.observed_schema_dataset, _nolt_core.suggest_schema_dataset])
def test_keyword_argument(function):
    assert function(columns=[("a", "integer", [1])]) == function([("a", "integer", [1])])


@pytest.mark.parametrize(
    "column, expected",
    [
        (("n", "integer", [1, None]), suggested("n", "integer", True)),
        (("f", "float", [1.5, 2.5]), suggested("f", "float", False)),
        (("c", "categorical", ["b", "a", "b"]), suggested("c", "categorical", False, ["b", "a"])),
        (("c", "categorical", ["B", "b", None]), suggested("c", "categorical", True, ["B", "b"])),
        (("c", "categorical", TEXTS_50), suggested("c", "categorical", False, TEXTS_50)),
        (("c", "categorical", TEXTS_51), suggested("c", "categorical", False)),
        (("c", "categorical", [None, None]), suggested("c", "categorical", True)),
        (("c", "categorical", []), suggested("c", "categorical", False)),
        (("b", "boolean", [True, False]), suggested("b", "boolean", False)),
        (("s", "string", ["x", "y", "z"]), suggested("s", "string", False)),
        (("d", "datetime", ["2024-01-01", None]), suggested("d", "datetime", True)),
        (("u", "unknown", [1, "a", True]), suggested("u", "unknown", False)),
    ],
    ids=lambda value: None,
)
def test_suggested_column(column, expected):
    assert suggest_one(column) == expected


def test_suggested_empty_and_duplicates():
    assert _nolt_core.suggest_schema_dataset([]) == {"columns": []}
    result = _nolt_core.suggest_schema_dataset([("x", "categorical", ["q"]), ("x", "integer", [None])])
    assert_suggested_shape(result)
    assert result == {"columns": [suggested("x", "categorical", False, ["q"]), suggested("x", "integer", True)]}
