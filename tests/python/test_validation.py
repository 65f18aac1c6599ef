"""Validating a dataset against a schema given as tuples or stored in a file."""

import json
import math

import pytest

import _nolt_core
from conftest import raises_exactly

validate = _nolt_core._validate_dataset_schema
validate_file = _nolt_core.validate_dataset_file

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


def issue(code, column, expected=None, observed=None):
    return {"code": code, "severity": "error", "column": column, "expected": expected, "observed": observed}


def report(*issues):
    return {
        "is_valid": not issues,
        "error_count": len(issues),
        "warning_count": 0,
        "issues": list(issues),
    }


def check(columns, schema_columns, *issues):
    result = validate(columns, schema_columns)
    assert same(result, report(*issues)), result


def col(name, logical_type, nullable=True, numeric_range=None, allowed=None):
    return (name, logical_type, nullable, numeric_range, allowed)


# --- the report --------------------------------------------------------------


def test_conforming_dataset_gives_the_empty_report():
    result = validate([("a", "integer", [1, 2])], [col("a", "integer", False, (1, 2))])
    assert same(result, {"is_valid": True, "error_count": 0, "warning_count": 0, "issues": []})


def test_missing_and_unexpected_columns():
    check(
        [("b", "string", [])],
        [col("a", "string")],
        issue("missing_column", "a"),
        issue("unexpected_column", "b"),
    )


def test_empty_inputs():
    check([], [])
    check([], [col("a", "float"), col("b", "float")], issue("missing_column", "a"), issue("missing_column", "b"))


def test_type_mismatch_reports_type_names_and_nothing_else_for_that_column():
    check(
        [("age", "string", [None, "x"])],
        [col("age", "integer", False, (0, 0), ["y"])],
        issue("type_mismatch", "age", "integer", "string"),
    )


@pytest.mark.parametrize("schema_type", ["integer", "float", "boolean", "string", "datetime", "categorical", "unknown"])
def test_every_type_name_is_reported(schema_type):
    data_type = "unknown" if schema_type != "unknown" else "datetime"
    check([("c", data_type, [])], [col("c", schema_type)], issue("type_mismatch", "c", schema_type, data_type))


# --- names -------------------------------------------------------------------


def test_last_dataset_column_of_a_name_is_checked_and_repeats_are_never_unexpected():
    check(
        [("a", "integer", [None]), ("a", "integer", [1]), ("b", "float", []), ("b", "float", [])],
        [col("a", "integer", False)],
        issue("unexpected_column", "b"),
        issue("unexpected_column", "b"),
    )
    check(
        [("a", "integer", [1]), ("a", "string", [None])],
        [col("a", "integer", False)],
        issue("type_mismatch", "a", "integer", "string"),
    )


def test_repeated_schema_columns_are_each_checked():
    check(
        [("a", "string", ["z", None])],
        [col("a", "string", False, None, ["y"]), col("a", "string", False, None, ["z"])],
        issue("null_not_allowed", "a"),
        issue("value_not_allowed", "a", None, "z"),
        issue("null_not_allowed", "a"),
    )


@pytest.mark.parametrize("data_name", ["Age", "age ", " age", "AGE", "a\u0301ge"])
def test_names_match_case_sensitively_as_exact_text(data_name):
    check(
        [(data_name, "integer", [1])],
        [col("age", "integer")],
        issue("missing_column", "age"),
        issue("unexpected_column", data_name),
    )


def test_non_ascii_and_empty_names_match():
    check([("caf\u00e9", "integer", []), ("", "float", [])], [col("", "float"), col("caf\u00e9", "integer")])


# --- nulls -------------------------------------------------------------------


def test_one_null_finding_however_many_nulls():
    check([("n", "unknown", [None, None, None])], [col("n", "unknown", False)], issue("null_not_allowed", "n"))


def test_nullable_column_with_nulls_is_fine():
    check([("n", "datetime", [None, "2024-01-01"])], [col("n", "datetime", True)])


def test_plain_nan_float_is_not_null_but_a_typed_nan_is():
    check([("f", "float", [NAN])], [col("f", "float", False)])
    check([("f", "float", [NAN], True)], [col("f", "float", False)], issue("null_not_allowed", "f"))


# --- allowed values ----------------------------------------------------------


def test_disallowed_values_once_each_in_first_met_order():
    check(
        [("s", "string", ["c", "a", "d", "c", None, 5, 1.5])],
        [col("s", "string", True, None, ["a", "b"])],
        issue("value_not_allowed", "s", None, "c"),
        issue("value_not_allowed", "s", None, "d"),
    )


def test_boolean_allowed_value_never_matches_its_text():
    result = validate(
        [("c", "categorical", [True, "x", False, "true", "x", False])],
        [col("c", "categorical", True, None, [True])],
    )
    assert same(
        result,
        report(
            issue("value_not_allowed", "c", None, "x"),
            issue("value_not_allowed", "c", None, False),
            issue("value_not_allowed", "c", None, "true"),
        ),
    )


def test_boolean_cell_in_a_string_column_is_disallowed():
    check(
        [("s", "string", ["a", True, True, "True"])],
        [col("s", "string", True, None, ["a", "True", True])],
        issue("value_not_allowed", "s", None, True),
    )


def test_boolean_column_reads_only_boolean_entries():
    check(
        [("b", "boolean", [True, False, "false"])],
        [col("b", "boolean", True, None, [True, "false"])],
        issue("value_not_allowed", "b", None, False),
        issue("value_not_allowed", "b", None, "false"),
    )


@pytest.mark.parametrize(
    "logical_type, allowed",
    [
        ("string", []),
        ("categorical", []),
        ("boolean", ["true", "x"]),
        ("string", [False]),
        ("integer", ["y", True]),
        ("float", ["y"]),
        ("datetime", ["y"]),
        ("unknown", ["y", False]),
    ],
)
def test_allowed_values_that_test_nothing(logical_type, allowed):
    check([("c", logical_type, ["x", True, 1, 2.5, None])], [col("c", logical_type, True, None, allowed)])


# --- numeric range -----------------------------------------------------------


@pytest.mark.parametrize(
    "logical_type, numeric_range, cells, violates",
    [
        ("integer", (0, 10), [0, 10, 11, -1, 12], True),
        ("integer", (0, 10), [0, 10], False),
        ("integer", (-5, None), [-5, -4], False),
        ("integer", (-5, None), [-6], True),
        ("float", (None, -0.5), [-0.5, -1.0], False),
        ("float", (None, -0.5), [-0.25], True),
        ("float", (0.0, -0.0), [-0.0, 0.0], False),
        ("float", (None, 1.5), [NAN, 1.5], False),
        ("float", (None, 1.5), [NAN, 1.5, INF], True),
        ("float", (0, None), [-INF], True),
        ("float", (-INF, INF), [-INF, INF], False),
        ("float", (NAN, NAN), [-INF, INF, 0.0], False),
        ("float", (NAN, 1.0), [2.0], True),
        ("float", (5, 1), [3.0], True),
        ("float", (None, None), [-1e308], False),
        ("float", (1.0, 0.0), [], False),
        ("integer", (None, 2**53), [2**53 + 1], False),
        ("integer", (None, 2**53), [2**53 + 2], True),
        ("integer", (-(2**63), 2**63 - 1), [-(2**63), 2**63 - 1], False),
        ("integer", (0, 1), [None, True, "99"], False),
        ("integer", (0, 1), [1.25], True),
        ("float", (0, 1), [2], True),
        ("string", (0, 1), [7], False),
        ("categorical", (0, 1), [9.0], False),
        ("boolean", (0, 0), [3], False),
        ("datetime", (0, 0), [3], False),
        ("unknown", (0, 0), [3], False),
    ],
)
def test_range(logical_type, numeric_range, cells, violates):
    expected = [issue("range_violation", "r")] if violates else []
    check([("r", logical_type, cells)], [col("r", logical_type, True, numeric_range)], *expected)


def test_string_column_with_range_and_values_checks_values_only():
    check(
        [("s", "string", ["z"]), ("f", "float", [9.0])],
        [col("s", "string", True, (0, 1), ["a"]), col("f", "float", True, (0, 1), ["a"])],
        issue("value_not_allowed", "s", None, "z"),
        issue("range_violation", "f"),
    )


# --- order -------------------------------------------------------------------


def test_null_then_values_then_range_and_schema_order_then_unexpected():
    check(
        [
            ("extra", "string", []),
            ("i", "integer", [50, None, -3]),
            ("s", "string", ["z", None, "y", "z"]),
            ("extra", "float", []),
        ],
        [
            col("s", "string", False, None, ["a"]),
            col("gone", "float"),
            col("i", "integer", False, (0, 1)),
        ],
        issue("null_not_allowed", "s"),
        issue("value_not_allowed", "s", None, "z"),
        issue("value_not_allowed", "s", None, "y"),
        issue("missing_column", "gone"),
        issue("null_not_allowed", "i"),
        issue("range_violation", "i"),
        issue("unexpected_column", "extra"),
        issue("unexpected_column", "extra"),
    )


def test_columns_of_different_lengths_are_checked_each_on_its_own():
    check(
        [("a", "integer", [1]), ("b", "integer", [1, 2, None])],
        [col("a", "integer", False), col("b", "integer", False)],
        issue("null_not_allowed", "b"),
    )


def test_many_disallowed_values_keep_their_order():
    values = [f"v{n}" for n in range(5000, 0, -1)]
    result = validate([("c", "categorical", values + values)], [col("c", "categorical", True, None, ["v77"])])
    assert [i["observed"] for i in result["issues"]] == [v for v in values if v != "v77"]
    assert result["error_count"] == 4999


# --- which error wins ---------------------------------------------------------

BAD_COLUMNS = [("a", "integer", [1]), ("b", "integer", ["x", object()])]
BAD_COLUMNS_MESSAGE = "Unsupported normalized value type 'object'"


@pytest.mark.parametrize("fn", [validate, validate_file])
def test_str_columns_fail_before_the_second_argument_is_looked_at(fn):
    raises_exactly(TypeError, "argument 'columns': Can't extract `str` to `Vec`", fn, "abc", 5)
    raises_exactly(TypeError, "argument 'columns': 'int' object cannot be converted to 'Sequence'", fn, 5, "x")


def test_bad_schema_columns_shape_beats_a_columns_conversion_error():
    consumed = []

    def cells():
        consumed.append(True)
        yield 1

    raises_exactly(
        ValueError,
        "expected tuple of length 5, but got tuple of length 1",
        validate,
        [("a", "integer", cells())],
        [("a",)],
    )
    assert consumed == []
    raises_exactly(
        TypeError, "argument 'schema_columns': Can't extract `str` to `Vec`", validate, BAD_COLUMNS, "abc"
    )


@pytest.mark.parametrize(
    "schema_columns", [[col("a", "Integer")], [col("a", "integer", True, None, [5])]], ids=["type", "allowed"]
)
def test_columns_conversion_error_beats_schema_building_errors(schema_columns):
    raises_exactly(TypeError, BAD_COLUMNS_MESSAGE, validate, BAD_COLUMNS, schema_columns)
    raises_exactly(ValueError, "Unsupported logical type 'x'", validate, [("a", "x", [])], schema_columns)


def test_columns_conversion_error_beats_a_missing_schema_file(tmp_path):
    raises_exactly(TypeError, BAD_COLUMNS_MESSAGE, validate_file, BAD_COLUMNS, str(tmp_path / "missing.json"))


def test_schema_path_is_taken_before_columns_are_converted():
    raises_exactly(
        TypeError, "argument 'schema_path': 'int' object cannot be converted to 'PyString'", validate_file, BAD_COLUMNS, 5
    )


def test_overflowing_cell_keeps_its_class():
    with pytest.raises(OverflowError):
        validate([("a", "integer", [2**63])], [])


# --- the schema file ----------------------------------------------------------


def write_schema(path, columns, format_version=1):
    """A schema document written by hand, compact and with its keys reordered."""
    document = {"schema": {"columns": columns}, "format_version": format_version}
    path.write_text(json.dumps(document), encoding="utf-8")
    return str(path)


def file_column(name, logical_type, nullable, numeric_range=None, allowed=None):
    return {
        "constraints": {"allowed_values": allowed, "numeric_range": numeric_range},
        "nullable": nullable,
        "logical_type": logical_type,
        "name": name,
    }


def test_file_schema_is_validated_like_tuples(tmp_path):
    path = write_schema(
        tmp_path / "s.json",
        [
            file_column("flag", "boolean", False, None, [{"kind": "boolean", "value": True}]),
            file_column("n", "integer", True, {"min": 0, "max": None}),
            file_column("c", "categorical", True, None, [{"value": "x", "kind": "string"}]),
        ],
    )
    columns = [("flag", "boolean", [True, None, False]), ("n", "integer", [3, -1]), ("c", "categorical", ["x", "y"])]
    expected = report(
        issue("null_not_allowed", "flag"),
        issue("value_not_allowed", "flag", None, False),
        issue("range_violation", "n"),
        issue("value_not_allowed", "c", None, "y"),
    )
    assert same(validate_file(columns, path), expected)
    tuples = [
        col("flag", "boolean", False, None, [True]),
        col("n", "integer", True, (0, None)),
        col("c", "categorical", True, None, ["x"]),
    ]
    assert same(validate(columns, tuples), expected)


def test_keyword_arguments(tmp_path):
    path = write_schema(tmp_path / "s.json", [])
    assert same(validate_file(schema_path=path, columns=[]), report())
    assert same(validate(schema_columns=[], columns=[("a", "float", [])]), report(issue("unexpected_column", "a")))


def test_missing_schema_file_raises_oserror(tmp_path):
    with pytest.raises(OSError) as info:
        validate_file([], str(tmp_path / "missing.json"))
    assert type(info.value) is OSError
    assert str(info.value).endswith("(os error 2)")


def test_unsupported_format_version(tmp_path):
    path = write_schema(tmp_path / "s.json", [], format_version=2)
    raises_exactly(ValueError, "Unsupported suggested schema format version: 2", validate_file, [], path)


def test_empty_schema_file(tmp_path):
    path = tmp_path / "s.json"
    path.write_bytes(b"")
    raises_exactly(ValueError, "EOF while parsing a value at line 1 column 0", validate_file, [], str(path))


DATASET = [
    ("id", "integer", list(range(20)) + [None]),
    ("ratio", "float", [0.5 * n for n in range(21)]),
    ("flag", "boolean", [n % 2 == 0 for n in range(21)]),
    ("label", "string", [f"l{n}" for n in range(21)]),
    ("size", "categorical", ["small", "large", "large"] * 7),
    ("when", "datetime", ["2024-01-01"] * 20 + [None]),
    ("other", "unknown", [1, "x", 2.5] * 7),
]


def suggested_tuples(columns):
    """The suggested schema of a dataset as schema_columns tuples."""
    return [
        (
            c["name"],
            c["logical_type"],
            c["nullable"],
            None if c["constraints"]["numeric_range"] is None else tuple(c["constraints"]["numeric_range"].values()),
            c["constraints"]["allowed_values"],
        )
        for c in _nolt_core.suggest_schema_dataset(columns)["columns"]
    ]


def test_saved_suggested_schema_round_trips(tmp_path):
    path = str(tmp_path / "suggested.json")
    assert _nolt_core.save_suggested_schema_dataset(DATASET, path) is None
    assert same(validate_file(DATASET, path), report())
    tuples = suggested_tuples(DATASET)
    assert tuples[4] == ("size", "categorical", False, None, ["small", "large"])
    assert same(validate(DATASET, tuples), report())
    changed = [*DATASET[:4], ("size", "categorical", ["small", "medium", None]), *DATASET[5:]]
    expected = report(
        issue("null_not_allowed", "size"),
        issue("value_not_allowed", "size", None, "medium"),
    )
    assert same(validate_file(changed, path), expected)
    assert same(validate(changed, tuples), expected)
