"""The schema_columns argument of _validate_dataset_schema: its accepted shapes and every refusal."""

import collections
import math

import numpy as np
import pytest

import _nolt_core
from conftest import raises_exactly

validate = _nolt_core._validate_dataset_schema

VALID = {"is_valid": True, "error_count": 0, "warning_count": 0, "issues": []}
PREFIX = "argument 'schema_columns': "


def codes(report):
    return [(issue["code"], issue["column"], issue["observed"]) for issue in report["issues"]]


def item(name="a", logical_type="integer", nullable=True, numeric_range=None, allowed=None):
    return (name, logical_type, nullable, numeric_range, allowed)


class Named:
    """An object whose type has a qualified name for the refusal texts."""


@pytest.mark.parametrize(
    "schema_columns, exc_type, message",
    [
        ("abc", TypeError, PREFIX + "Can't extract `str` to `Vec`"),
        ({}, TypeError, PREFIX + "'dict' object cannot be converted to 'Sequence'"),
        (None, TypeError, PREFIX + "'NoneType' object cannot be converted to 'Sequence'"),
        ((x for x in []), TypeError, PREFIX + "'generator' object cannot be converted to 'Sequence'"),
        ([["a", "integer", True, None, None]], TypeError, PREFIX + "'list' object cannot be converted to 'PyTuple'"),
        ([Named()], TypeError, PREFIX + "'Named' object cannot be converted to 'PyTuple'"),
        ([("a", "integer", True, None)], ValueError, "expected tuple of length 5, but got tuple of length 4"),
        ([item() + (None,)], ValueError, "expected tuple of length 5, but got tuple of length 6"),
        ([()], ValueError, "expected tuple of length 5, but got tuple of length 0"),
        ([item(name=5)], TypeError, PREFIX + "'int' object cannot be converted to 'PyString'"),
        ([item(name=b"a")], TypeError, PREFIX + "'bytes' object cannot be converted to 'PyString'"),
        ([item(logical_type=None)], TypeError, PREFIX + "'NoneType' object cannot be converted to 'PyString'"),
        ([item(nullable=1)], TypeError, PREFIX + "'int' object cannot be converted to 'PyBool'"),
        ([item(nullable=0)], TypeError, PREFIX + "'int' object cannot be converted to 'PyBool'"),
        ([item(nullable=None)], TypeError, PREFIX + "'NoneType' object cannot be converted to 'PyBool'"),
        ([item(nullable="true")], TypeError, PREFIX + "'str' object cannot be converted to 'PyBool'"),
        ([item(nullable=np.int64(1))], TypeError, PREFIX + "'int64' object cannot be converted to 'PyBool'"),
        ([item(numeric_range=[0, 1])], TypeError, PREFIX + "'list' object cannot be converted to 'PyTuple'"),
        ([item(numeric_range=5)], TypeError, PREFIX + "'int' object cannot be converted to 'PyTuple'"),
        ([item(numeric_range=(1,))], ValueError, "expected tuple of length 2, but got tuple of length 1"),
        ([item(numeric_range=(1, 2, 3))], ValueError, "expected tuple of length 2, but got tuple of length 3"),
        ([item(numeric_range=("0", None))], TypeError, PREFIX + "must be real number, not str"),
        ([item(numeric_range=(None, [1]))], TypeError, PREFIX + "must be real number, not list"),
        ([item(allowed="abc")], TypeError, PREFIX + "Can't extract `str` to `Vec`"),
        ([item(allowed={"a"})], TypeError, PREFIX + "'set' object cannot be converted to 'Sequence'"),
        ([item(allowed={"a": 1})], TypeError, PREFIX + "'dict' object cannot be converted to 'Sequence'"),
        ([item(allowed=5)], TypeError, PREFIX + "'int' object cannot be converted to 'Sequence'"),
        ([item(logical_type="Integer")], ValueError, "Unsupported logical type 'Integer'"),
        ([item(logical_type="integer ")], ValueError, "Unsupported logical type 'integer '"),
        ([item(allowed=[5])], TypeError, "Unsupported suggested allowed value type 'int'"),
        ([item(allowed=["a", 1.5])], TypeError, "Unsupported suggested allowed value type 'float'"),
        ([item(allowed=[None])], TypeError, "Unsupported suggested allowed value type 'NoneType'"),
        ([item(allowed=range(3))], TypeError, "Unsupported suggested allowed value type 'int'"),
        ([item(allowed=[np.True_])], TypeError, "Unsupported suggested allowed value type 'bool'"),
    ],
)
def test_refusals(schema_columns, exc_type, message):
    raises_exactly(exc_type, message, validate, [], schema_columns)


@pytest.mark.parametrize(
    "bound, exc_type",
    [(10**400, OverflowError), (type("Bad", (), {"__float__": lambda self: 1 / 0})(), ZeroDivisionError)],
)
def test_bound_conversion_errors_of_other_classes_pass_unchanged(bound, exc_type):
    with pytest.raises(exc_type) as info:
        validate([], [item(numeric_range=(None, bound))])
    assert not str(info.value).startswith("argument")


def test_bound_type_error_subclass_passes_unchanged():
    class MyTypeError(TypeError):
        pass

    class Bad:
        def __float__(self):
            raise MyTypeError("mine")

    with pytest.raises(MyTypeError) as info:
        validate([], [item(numeric_range=(Bad(), None))])
    assert str(info.value) == "mine"


def test_text_that_cannot_be_encoded_raises_the_interpreters_error():
    with pytest.raises(UnicodeEncodeError):
        validate([], [item(name="bad\udc80")])
    with pytest.raises(UnicodeEncodeError):
        validate([], [item(allowed=["bad\udc80"])])


def test_allowed_values_iteration_type_error_gets_the_prefix():
    class Broken:
        def __len__(self):
            return 1

        def __getitem__(self, index):
            raise TypeError("broken allowed values")

    raises_exactly(TypeError, PREFIX + "broken allowed values", validate, [], [item(allowed=Broken())])


class CountingSequence:
    """Hands out the given items and records how many were fetched; index `raise_at` raises."""

    def __init__(self, items, raise_at=None):
        self.items = items
        self.raise_at = raise_at
        self.fetched = 0

    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, index):
        if index == self.raise_at:
            raise RuntimeError("fetched too far")
        if index >= len(self.items):
            raise IndexError
        self.fetched += 1
        return self.items[index]


def test_each_item_is_checked_before_the_next_is_fetched():
    sequence = CountingSequence([item(nullable=2), item()], raise_at=1)
    raises_exactly(TypeError, PREFIX + "'int' object cannot be converted to 'PyBool'", validate, [], sequence)
    assert sequence.fetched == 1


def test_outer_iteration_error_after_good_items_passes_unchanged():
    with pytest.raises(RuntimeError, match="fetched too far"):
        validate([], CountingSequence([item()], raise_at=1))


def test_failing_length_hint_is_ignored():
    assert validate([("a", "integer", [1])], CountingSequence([item()])) == VALID


def test_first_bad_item_decides_and_taking_precedes_building():
    # The first item's type name is unknown, the second item's shape is bad:
    # the shape is reported because every item is taken before any is built.
    raises_exactly(
        ValueError,
        "expected tuple of length 5, but got tuple of length 3",
        validate,
        [],
        [item(logical_type="nope"), ("a", "integer", True)],
    )
    raises_exactly(
        ValueError, "Unsupported logical type 'nope'", validate, [], [item(logical_type="nope"), item(allowed=[1])]
    )
    raises_exactly(
        TypeError,
        "Unsupported suggested allowed value type 'int'",
        validate,
        [],
        [item(allowed=["x", 1]), item(logical_type="nope")],
    )


def test_elements_are_taken_in_position_order():
    raises_exactly(
        TypeError,
        PREFIX + "'int' object cannot be converted to 'PyString'",
        validate,
        [],
        [(1, 2, 3, 4, 5)],
    )
    raises_exactly(
        TypeError,
        PREFIX + "'int' object cannot be converted to 'PyBool'",
        validate,
        [],
        [("a", "zzz", 3, 4, 5)],
    )
    raises_exactly(
        TypeError,
        PREFIX + "'int' object cannot be converted to 'PyTuple'",
        validate,
        [],
        [("a", "zzz", True, 4, "abc")],
    )


Row = collections.namedtuple("Row", "name logical_type nullable numeric_range allowed")


class Tuple2(tuple):
    pass


class Text(str):
    pass


@pytest.mark.parametrize(
    "schema_columns, expected",
    [
        ([Row("a", "integer", True, None, None)], []),
        ((item(),), []),
        ([item(name=Text("a"), logical_type=Text("integer"))], []),
        ([item(nullable=np.True_)], []),
        ([item(nullable=np.False_)], [("null_not_allowed", "a", None)]),
        ([item(nullable=False)], [("null_not_allowed", "a", None)]),
        ([item(numeric_range=Tuple2((None, 0)))], [("range_violation", "a", None)]),
        ([item(allowed=())], []),
        ([item(allowed=("x", True))], []),
    ],
)
def test_accepted_shapes(schema_columns, expected):
    assert codes(validate([("a", "integer", [1, None])], schema_columns)) == expected


def test_empty_schema_makes_every_column_unexpected():
    report = validate([("a", "integer", []), ("b", "string", [])], [])
    assert codes(report) == [("unexpected_column", "a", None), ("unexpected_column", "b", None)]


@pytest.mark.parametrize(
    "numeric_range, cells, violates",
    [
        ((0, 120), [0, 120], False),
        ((0, 120), [121], True),
        ((None, True), [1], False),
        ((None, True), [2], True),
        ((False, None), [-1], True),
        ((5, 1), [3], True),
        ((None, None), [-(2**62), 2**62], False),
        ((float("nan"), float("nan")), [-(2**62)], False),
        ((-math.inf, math.inf), [-(2**63), 2**63 - 1], False),
        ((0.5, None), [0], True),
        ((np.float32(0.5), None), [1], False),
        ((type("Idx", (), {"__index__": lambda self: 3})(), None), [2], True),
    ],
)
def test_bounds_become_doubles(numeric_range, cells, violates):
    report = validate([("a", "integer", cells)], [item(numeric_range=numeric_range)])
    assert codes(report) == ([("range_violation", "a", None)] if violates else [])


def test_allowed_values_keep_their_kinds_order_and_duplicates():
    report = validate(
        [("color", "categorical", ["red", True, "blue", False, "true"])],
        [("color", "categorical", True, None, ["red", True, "red", Text("blue")])],
    )
    assert codes(report) == [
        ("value_not_allowed", "color", False),
        ("value_not_allowed", "color", "true"),
    ]
    assert type(report["issues"][0]["observed"]) is bool


def test_schema_objects_are_not_kept_or_changed():
    allowed = ["a"]
    schema_columns = [("s", "string", True, (None, None), allowed)]
    before = repr(schema_columns)
    validate([("s", "string", ["b"])], schema_columns)
    assert repr(schema_columns) == before
