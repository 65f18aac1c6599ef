"""Schema drift between two versions of a dataset."""

import math

import pytest

import _nolt_core
from conftest import raises_exactly

drift = _nolt_core.schema_drift_datasets

INF = math.inf
NAN = math.nan


def same(actual, expected):
    """Equal values of identical types, dict keys in the same order."""
    if type(actual) is not type(expected):
        return False
    if isinstance(expected, dict):
        return list(actual) == list(expected) and all(same(actual[k], expected[k]) for k in expected)
    if isinstance(expected, list):
        return len(actual) == len(expected) and all(same(a, e) for a, e in zip(actual, expected))
    return actual == expected


def issue(code, severity, column):
    return {"code": code, "severity": severity, "column": column}


def added(column):
    return issue("column_added", "warning", column)


def removed(column):
    return issue("column_removed", "error", column)


def type_changed(column):
    return issue("logical_type_changed", "error", column)


def nulls_changed(column, severity):
    return issue("nullability_changed", severity, column)


def report(*issues):
    severities = [i["severity"] for i in issues]
    return {
        "has_drift": bool(issues),
        "warning_count": severities.count("warning"),
        "error_count": severities.count("error"),
        "issues": list(issues),
    }


def check(before, after, *issues):
    actual = drift(before, after)
    assert list(actual) == ["has_drift", "warning_count", "error_count", "issues"]
    assert same(actual, report(*issues)), actual


DATA = [("id", "integer", [1, 2, None]), ("name", "string", ["a", "b", "c"]), ("f", "float", [1.5, NAN, INF])]


@pytest.mark.parametrize(
    "before, after",
    [
        (DATA, DATA),
        ([], []),
        (DATA, DATA[::-1]),
        (DATA, [(n, t, cells * 3) for n, t, cells in DATA]),
        (DATA, [("id", "integer", [None, 7, 8]), ("name", "string", ["x", "y", "z"]), ("f", "float", [0.0, 1, -2.0])]),
        ([("a", "integer", [])], [("a", "integer", [])]),
        ([("f", "float", [1.0])], [("f", "float", [NAN])]),
    ],
    ids=["identical", "empty", "reordered", "row_count", "values", "zero_rows", "nan_is_not_null"],
)
def test_no_drift(before, after):
    result = drift(before, after)
    assert same(result, {"has_drift": False, "warning_count": 0, "error_count": 0, "issues": []})


def test_added_column_is_a_warning():
    result = drift([], [("x", "string", ["a"])])
    assert same(result, {"has_drift": True, "warning_count": 1, "error_count": 0, "issues": [added("x")]})


def test_removed_column_is_an_error():
    result = drift([("x", "string", ["a"])], [])
    assert same(result, {"has_drift": True, "warning_count": 0, "error_count": 1, "issues": [removed("x")]})


def test_removed_in_before_order_then_added_in_after_order():
    before = [("Id", "integer", [1]), ("keep", "string", ["k"]), ("old", "string", ["o"])]
    after = [("new", "string", ["n"]), ("keep", "string", ["k"]), ("id", "integer", [1]), ("id ", "integer", [1])]
    check(before, after, removed("Id"), removed("old"), added("new"), added("id"), added("id "))


def test_type_change_and_first_null_are_two_errors_in_order():
    check([("a", "integer", [1, 2])], [("a", "float", [1.5, None])], type_changed("a"), nulls_changed("a", "error"))


def test_gaining_nulls_is_an_error_and_losing_them_a_warning():
    before = [("g", "boolean", [True, True]), ("l", "unknown", [None, 1]), ("t", "datetime", ["x", "y"])]
    after = [("g", "boolean", [None, True]), ("l", "unknown", [1, 1]), ("t", "string", ["x", "y"])]
    check(before, after, nulls_changed("g", "error"), nulls_changed("l", "warning"), type_changed("t"))


@pytest.mark.parametrize(
    "before, after, issues",
    [
        ([("a", "integer", [1])], [("a", "string", ["x"]), ("a", "integer", [2])], []),
        ([("a", "integer", [1])], [("a", "integer", [2]), ("a", "string", ["x"])], [type_changed("a")]),
        (
            [("a", "integer", [1]), ("a", "string", [None])],
            [("a", "string", ["x"])],
            [type_changed("a"), nulls_changed("a", "warning")],
        ),
        (
            [("b", "integer", [1])],
            [("n", "integer", [1]), ("b", "integer", [1]), ("n", "string", ["x"])],
            [added("n"), added("n")],
        ),
    ],
    ids=["after_repeated_last_matches", "after_repeated_last_differs", "before_repeated", "repeated_only_after"],
)
def test_repeated_names(before, after, issues):
    check(before, after, *issues)


def test_typed_float_conversion_turns_nan_into_null():
    # Plain conversion keeps NaN as a float; typed conversion makes it a null.
    check([("f", "float", [1.0, 2.0], True)], [("f", "float", [NAN, True], True)], nulls_changed("f", "error"))


# --- argument handling and error precedence ------------------------------------------

BAD_LENGTH = [("a", "integer", [1, 2]), ("b", "integer", [1])]
BAD_CELL = [("c", "string", [object()])]
AGE_FLOAT = [("age", "integer", [2.5])]
AGE_MESSAGE = "Column 'age' expected integer values but received Float"


@pytest.mark.parametrize(
    "before, after, exc_type, message",
    [
        (BAD_LENGTH, "abc", TypeError, "argument 'after_columns': Can't extract `str` to `Vec`"),
        (AGE_FLOAT, 7, TypeError, "argument 'after_columns': 'int' object cannot be converted to 'Sequence'"),
        ("abc", 5, TypeError, "argument 'before_columns': Can't extract `str` to `Vec`"),
        (BAD_LENGTH, BAD_CELL, TypeError, "Unsupported normalized value type 'object'"),
        (AGE_FLOAT, [("n", "integer", [2**63])], OverflowError, None),
        (AGE_FLOAT, BAD_LENGTH, TypeError, AGE_MESSAGE),
        (BAD_LENGTH, AGE_FLOAT, ValueError, "Column 'b' has 1 values; expected 2"),
        (
            [("ok", "integer", [1]), ("age", "integer", [None, 2.5])],
            [],
            ValueError,
            "Column 'age' has 2 values; expected 1",
        ),
        (
            [],
            [("x", "float", [2.5]), ("age", "integer", [1, 2.5])],
            ValueError,
            "Column 'age' has 2 values; expected 1",
        ),
        ([("a", "string", [1])], AGE_FLOAT, TypeError, AGE_MESSAGE),
        (
            [("p", "integer", [1, "x", 2.5]), ("q", "integer", [True, 1, 1])],
            [],
            TypeError,
            "Column 'p' expected integer values but received String",
        ),
        ([], [("s", "float", [1, True])], TypeError, "Column 's' expected float values but received Boolean"),
        ([("age", "integer", [2.5], True)], [], TypeError, "Column 'age' contains an unsupported value"),
    ],
    ids=[
        "after_str_beats_before_length",
        "after_argument_beats_before_value",
        "before_argument_first",
        "after_conversion_beats_before_length",
        "after_overflow_beats_before_value",
        "before_value_beats_after_length",
        "before_length_first",
        "before_length_before_its_values",
        "after_length_before_its_values",
        "after_value_kind",
        "first_refused_value_in_column_order",
        "float_refuses_boolean",
        "typed_conversion_refuses_float",
    ],
)
def test_error_precedence(before, after, exc_type, message):
    raises_exactly(exc_type, message, drift, before, after)


def test_keywords_and_missing_arguments():
    assert same(drift(after_columns=[("x", "string", [])], before_columns=[]), report(added("x")))
    raises_exactly(
        TypeError,
        "schema_drift_datasets() missing 2 required positional arguments: 'before_columns' and 'after_columns'",
        drift,
    )
