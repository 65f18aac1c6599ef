"""Comparing the observed schemas of two versions of a dataset."""

import math

import pytest

import _nolt_core
from conftest import raises_exactly

compare = _nolt_core.compare_datasets

NAN = math.nan
KEYS = [
    "before_row_count",
    "after_row_count",
    "has_changes",
    "row_count_changed",
    "added_count",
    "removed_count",
    "changed_count",
    "unchanged_count",
    "column_count_before",
    "column_count_after",
    "columns",
]


def same(actual, expected):
    """Equal values of identical types, dict keys in the same order."""
    if type(actual) is not type(expected):
        return False
    if isinstance(expected, dict):
        return list(actual) == list(expected) and all(same(actual[k], expected[k]) for k in expected)
    if isinstance(expected, list):
        return len(actual) == len(expected) and all(same(a, e) for a, e in zip(actual, expected))
    return actual == expected


def obs(name, logical_type, nullable=False, unique=0, observed_range=None, values=None):
    """One observed column as observed_schema_dataset lists it."""
    rng = None if observed_range is None else {"min": float(observed_range[0]), "max": float(observed_range[1])}
    return {
        "name": name,
        "logical_type": logical_type,
        "observed_nullable": nullable,
        "observed_unique_count": unique,
        "observed_range": rng,
        "observed_values": values,
    }


def entry(status, before=None, after=None, changes=()):
    name = (before or after)["name"]
    return {"name": name, "status": status, "before": before, "after": after, "changes": list(changes)}


def unchanged(column):
    return entry("unchanged", column, column)


def result(before_rows, after_rows, *entries):
    statuses = [e["status"] for e in entries]
    return {
        "before_row_count": before_rows,
        "after_row_count": after_rows,
        "has_changes": before_rows != after_rows or any(s != "unchanged" for s in statuses),
        "row_count_changed": before_rows != after_rows,
        "added_count": statuses.count("added"),
        "removed_count": statuses.count("removed"),
        "changed_count": statuses.count("changed"),
        "unchanged_count": statuses.count("unchanged"),
        "column_count_before": len(statuses) - statuses.count("added"),
        "column_count_after": len(statuses) - statuses.count("removed"),
        "columns": list(entries),
    }


def check(before, after, expected):
    actual = compare(before, after)
    assert list(actual) == KEYS
    assert same(actual, expected), actual


AGE = ("age", "integer", [30, None, 41])
AGE_OBS = obs("age", "integer", True, 2, (30, 41))
CITY = ("city", "categorical", ["b", "a", "b"])
CITY_OBS = obs("city", "categorical", False, 2, values=["b", "a"])


# --- matching ------------------------------------------------------------------


def test_identical_datasets_are_unchanged():
    data = [AGE, CITY, ("flag", "boolean", [True, None, False])]
    flag = obs("flag", "boolean", True, 2, values=[True, False])
    expected = result(3, 3, unchanged(AGE_OBS), unchanged(CITY_OBS), unchanged(flag))
    assert expected["has_changes"] is False
    check(data, data, expected)


@pytest.mark.parametrize(
    "before, after, expected",
    [
        ([], [], result(0, 0)),
        ([], [AGE, CITY], result(0, 3, entry("added", after=AGE_OBS), entry("added", after=CITY_OBS))),
        ([AGE, CITY], (), result(3, 0, entry("removed", AGE_OBS), entry("removed", CITY_OBS))),
    ],
    ids=["both", "before", "after"],
)
def test_empty_sides(before, after, expected):
    check(before, after, expected)


def test_reordered_columns_follow_the_before_order():
    check([AGE, CITY], [CITY, AGE], result(3, 3, unchanged(AGE_OBS), unchanged(CITY_OBS)))


def test_renamed_and_case_changed_columns_are_removed_and_added():
    before = [("Name", "string", ["x"]), ("id", "integer", [1]), ("code", "string", ["y"])]
    after = [("name", "string", ["x"]), ("id", "integer", [1]), ("code ", "string", ["y"])]
    check(
        before,
        after,
        result(
            1,
            1,
            entry("removed", obs("Name", "string", unique=1, values=["x"])),
            unchanged(obs("id", "integer", unique=1, observed_range=(1, 1))),
            entry("removed", obs("code", "string", unique=1, values=["y"])),
            entry("added", after=obs("name", "string", unique=1, values=["x"])),
            entry("added", after=obs("code ", "string", unique=1, values=["y"])),
        ),
    )


def test_repeated_after_name_matches_the_last_column_and_adds_nothing():
    before = [("a", "integer", [1, 2])]
    after = [("a", "integer", [5, 5]), ("a", "integer", [1, 2])]
    actual = compare(before, after)
    a = obs("a", "integer", unique=2, observed_range=(1, 2))
    assert same(actual, result(2, 2, unchanged(a)))
    assert actual["column_count_after"] == 1


def test_repeated_before_name_compares_each_with_the_same_after_column():
    before = [("a", "integer", [5, 5]), ("a", "integer", [1, 2])]
    after = [("a", "integer", [1, 2])]
    a5 = obs("a", "integer", unique=1, observed_range=(5, 5))
    a12 = obs("a", "integer", unique=2, observed_range=(1, 2))
    check(
        before,
        after,
        result(2, 2, entry("changed", a5, a12, ["unique_count_changed", "range_changed"]), unchanged(a12)),
    )


def test_repeated_name_only_after_is_added_each_time():
    after = [("n", "string", ["x"]), ("n", "integer", [3])]
    check(
        [],
        after,
        result(
            0,
            1,
            entry("added", after=obs("n", "string", unique=1, values=["x"])),
            entry("added", after=obs("n", "integer", unique=1, observed_range=(3, 3))),
        ),
    )


# --- change detection ---------------------------------------------------------------


def test_several_changes_are_listed_in_fixed_order():
    before = [("v", "integer", [1, 2, 3])]
    after = [("v", "string", ["1", None])]
    check(
        before,
        after,
        result(
            3,
            2,
            entry(
                "changed",
                obs("v", "integer", False, 3, (1, 3)),
                obs("v", "string", True, 1, values=["1"]),
                [
                    "logical_type_changed",
                    "nullability_changed",
                    "unique_count_changed",
                    "range_changed",
                    "observed_values_changed",
                ],
            ),
        ),
    )


@pytest.mark.parametrize(
    "before_cells, after_cells, before_obs, after_obs, changes",
    [
        (
            ["b", "a", "b"],
            ["a", "b", "b"],
            CITY_OBS,
            obs("city", "categorical", False, 2, values=["a", "b"]),
            ["observed_values_changed"],
        ),
        (
            ["A"],
            ["a"],
            obs("city", "categorical", False, 1, values=["A"]),
            obs("city", "categorical", False, 1, values=["a"]),
            ["observed_values_changed"],
        ),
        (
            ["a", None],
            ["a", "a"],
            obs("city", "categorical", True, 1, values=["a"]),
            obs("city", "categorical", False, 1, values=["a"]),
            ["nullability_changed"],
        ),
    ],
    ids=["values_in_another_order", "values_differ_in_case", "only_nulls_differ"],
)
def test_categorical_changes(before_cells, after_cells, before_obs, after_obs, changes):
    n_before, n_after = len(before_cells), len(after_cells)
    check(
        [("city", "categorical", before_cells)],
        [("city", "categorical", after_cells)],
        result(n_before, n_after, entry("changed", before_obs, after_obs, changes)),
    )


def test_observed_values_limit_crossed():
    before = [("s", "string", [str(i) for i in range(50)] + [None])]
    after = [("s", "string", [str(i) for i in range(51)])]
    check(
        before,
        after,
        result(
            51,
            51,
            entry(
                "changed",
                obs("s", "string", True, 50, values=[str(i) for i in range(50)]),
                obs("s", "string", False, 51),
                ["nullability_changed", "unique_count_changed", "observed_values_changed"],
            ),
        ),
    )


def test_column_gaining_a_range():
    check(
        [("x", "float", [None, None])],
        [("x", "float", [None, 2.5])],
        result(
            2,
            2,
            entry(
                "changed",
                obs("x", "float", True, 0),
                obs("x", "float", True, 1, (2.5, 2.5)),
                ["unique_count_changed", "range_changed"],
            ),
        ),
    )


def test_nan_cells_stay_out_of_the_range():
    # NaN cells are skipped by the statistics, so the bounds stay comparable.
    x = obs("x", "float", False, 2, (1.0, 1.0))
    check([("x", "float", [NAN, 1.0])], [("x", "float", [1.0, NAN])], result(2, 2, unchanged(x)))


def test_only_the_row_count_differs():
    expected = result(3, 6, unchanged(AGE_OBS), unchanged(CITY_OBS))
    assert expected["has_changes"] is True and expected["row_count_changed"] is True
    check([AGE, CITY], [(n, t, cells * 2) for n, t, cells in (AGE, CITY)], expected)


def test_profile_values_other_than_the_observed_schema_are_ignored():
    # Mean, median and null count differ; the observed schema does not.
    check(
        [("v", "integer", [1, 5, 9, None])],
        [("v", "integer", [1, 9, 9, None, None, 5])],
        result(4, 6, unchanged(obs("v", "integer", True, 3, (1, 9)))),
    )


# --- argument handling and error precedence ------------------------------------


def test_keywords_are_accepted():
    assert same(compare(after_columns=[CITY], before_columns=[AGE]), compare([AGE], [CITY]))


BAD_LENGTH = [("a", "integer", [1, 2]), ("b", "integer", [1])]
BAD_CELL = [("c", "string", [object()])]
BAD_OBSERVED = [("c", "categorical", ["a", 1])]


@pytest.mark.parametrize(
    "before, after, exc_type, message",
    [
        (
            BAD_LENGTH,
            "abc",
            TypeError,
            "argument 'after_columns': Can't extract `str` to `Vec`",
        ),
        (BAD_CELL, "abc", TypeError, "argument 'after_columns': Can't extract `str` to `Vec`"),
        ("abc", 5, TypeError, "argument 'before_columns': Can't extract `str` to `Vec`"),
        ([], {}, TypeError, "argument 'after_columns': 'dict' object cannot be converted to 'Sequence'"),
        (BAD_LENGTH, BAD_CELL, TypeError, "Unsupported normalized value type 'object'"),
        (BAD_OBSERVED, BAD_CELL, TypeError, "Unsupported normalized value type 'object'"),
        (BAD_LENGTH, BAD_LENGTH[::-1], ValueError, "Column 'b' has 1 values; expected 2"),
        ([], BAD_LENGTH[::-1], ValueError, "Column 'a' has 2 values; expected 1"),
        (
            BAD_OBSERVED,
            BAD_LENGTH,
            ValueError,
            "Column 'c' produced 1 observed values; expected 2",
        ),
        (
            [("age", "integer", [2.5])],
            BAD_OBSERVED,
            TypeError,
            "Column 'age' expected integer values but received Float",
        ),
        ([], [("t", "text", [])], ValueError, "Unsupported logical type 'text'"),
    ],
    ids=[
        "after_str_beats_before_length",
        "after_str_beats_before_cell",
        "before_argument_first",
        "after_not_a_sequence",
        "after_conversion_beats_before_length",
        "after_conversion_beats_before_observing",
        "before_length_first",
        "after_length",
        "before_observing_beats_after_length",
        "before_profiling_beats_after_observing",
        "after_type_name",
    ],
)
def test_error_precedence(before, after, exc_type, message):
    raises_exactly(exc_type, message, compare, before, after)


def test_missing_arguments():
    raises_exactly(
        TypeError,
        "compare_datasets() missing 2 required positional arguments: 'before_columns' and 'after_columns'",
        compare,
    )
    raises_exactly(
        TypeError, "compare_datasets() missing 1 required positional argument: 'after_columns'", compare, []
    )
