"""Column input: the shape of column tuples, the values object, and how cells
are converted (plain and typed), observed through profile_dataset."""

import collections
import datetime
import decimal
import enum
import math

import numpy
import pytest

from conftest import raises_exactly

LENGTH_4 = "expected tuple of length 3, but got tuple of length 4"


def profile(core, *columns):
    return core.profile_dataset(list(columns))


def only_column(core, column):
    result = core.profile_dataset([column])
    assert len(result["columns"]) == 1
    return result["columns"][0]


def stats_of(core, column):
    return only_column(core, column)["numeric_stats"]


class NumpyBoolStandIn:
    """Looks like numpy's boolean scalar to the boolean rule: module "numpy", name "bool_"."""

    __module__ = "numpy"

    def __init__(self, truth):
        self.truth = truth

    def __bool__(self):
        return self.truth


NumpyBoolStandIn.__name__ = "bool_"
NumpyBoolStandIn.__qualname__ = "bool_"


def numpy_stand_in(name, **members):
    return type(name, (), {"__module__": "numpy", **members})


class Indexable:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


# --- the shape of a column tuple -------------------------------------------------------------


@pytest.mark.parametrize(
    "item, exc_type, message",
    [
        (["a", "integer", [1]], TypeError, "'list' object cannot be converted to 'PyTuple'"),
        ("abc", TypeError, "'str' object cannot be converted to 'PyTuple'"),
        (None, TypeError, "'NoneType' object cannot be converted to 'PyTuple'"),
        (("a", "integer"), ValueError, "expected tuple of length 3, but got tuple of length 2"),
        ((), ValueError, "expected tuple of length 3, but got tuple of length 0"),
        (("a", "integer", [1], True, True), ValueError, "expected tuple of length 3, but got tuple of length 5"),
        # A four-element tuple with any unacceptable element reports its length.
        (("a", "integer", [1], 1), ValueError, LENGTH_4),
        (("a", "integer", [1], None), ValueError, LENGTH_4),
        (("a", "integer", [1], "yes"), ValueError, LENGTH_4),
        ((5, "integer", [1], True), ValueError, LENGTH_4),
        (("a", 5, [1], False), ValueError, LENGTH_4),
        (("\ud800", "integer", [1], True), ValueError, LENGTH_4),
        (("a", "integer", [1], numpy_stand_in("int64", __bool__=lambda self: True)()), ValueError, LENGTH_4),
        (("a", "integer", [1], numpy_stand_in("bool_")()), ValueError, LENGTH_4),
        (("a", "integer", [1], numpy_stand_in("bool_", __bool__=lambda self: 1 / 0)()), ValueError, LENGTH_4),
        ((5, "integer", [1]), TypeError, "'int' object cannot be converted to 'PyString'"),
        (("a", None, [1]), TypeError, "'NoneType' object cannot be converted to 'PyString'"),
        (("a", b"integer", [1]), TypeError, "'bytes' object cannot be converted to 'PyString'"),
        (("a", "Integer", [1]), ValueError, "Unsupported logical type 'Integer'"),
        (("a", "integer ", [1]), ValueError, "Unsupported logical type 'integer '"),
        (("a", "", [1]), ValueError, "Unsupported logical type ''"),
        (("a", "Integer", [1], True), ValueError, "Unsupported logical type 'Integer'"),
    ],
)
def test_column_tuple_refusals(core, item, exc_type, message):
    raises_exactly(exc_type, message, core.profile_dataset, [item])


def test_name_that_cannot_be_encoded_raises_the_encoding_error(core):
    expected = pytest.raises(UnicodeEncodeError, "\ud800".encode).value
    error = raises_exactly(UnicodeEncodeError, str(expected), core.profile_dataset, [("\ud800", "string", [])])
    assert error.args == expected.args


def test_tuple_subclass_is_a_column(core):
    Column = collections.namedtuple("Column", "name logical_type values")
    assert only_column(core, Column("a", "string", ["x"]))["unique_count"] == 1


@pytest.mark.parametrize(
    "flag",
    [True, numpy.bool_(True), numpy.True_, NumpyBoolStandIn(True), numpy_stand_in("bool", __bool__=lambda self: True)()],
)
def test_true_flags_select_typed_conversion(core, flag):
    # Typed integer conversion turns True into 1; plain conversion would refuse the Boolean.
    assert stats_of(core, ("n", "integer", [True, 3], flag))["mean"] == 2.0


@pytest.mark.parametrize("flag", [False, numpy.bool_(False), NumpyBoolStandIn(False)])
def test_false_flags_select_plain_conversion(core, flag):
    raises_exactly(
        TypeError,
        "Column 'n' expected integer values but received Boolean",
        core.profile_dataset,
        [("n", "integer", [True, 3], flag)],
    )


def test_later_item_is_not_examined_after_a_failing_item(core):
    consumed = []

    def values():
        consumed.append(True)
        yield 1

    raises_exactly(
        ValueError, "Unsupported logical type 'bogus'", core.profile_dataset, [("a", "bogus", []), ("b", "integer", values())]
    )
    assert consumed == []


# --- the values object -----------------------------------------------------------------------


def test_str_values_are_iterated_character_by_character(core):
    assert only_column(core, ("s", "string", "abca")) == {
        "name": "s",
        "logical_type": "string",
        "count": 4,
        "null_count": 0,
        "unique_count": 3,
        "numeric_stats": None,
    }


@pytest.mark.parametrize(
    "make_values",
    [
        lambda: (value for value in [1, None, 3]),
        lambda: iter([1, None, 3]),
        lambda: (1, None, 3),
        lambda: collections.deque([1, None, 3]),
        lambda: {1: "a", None: "b", 3: "c"},
    ],
    ids=["generator", "iterator", "tuple", "deque", "dict-keys"],
)
def test_any_iterable_is_accepted_as_values(core, make_values):
    column = only_column(core, ("n", "integer", make_values()))
    assert (column["count"], column["null_count"], column["numeric_stats"]["median"]) == (3, 1, 2.0)


def test_generator_is_consumed_once(core):
    values = (value for value in [1, 2])
    profile(core, ("n", "integer", values))
    assert list(values) == []


def test_non_iterable_values_raise_the_interpreters_error(core):
    expected = pytest.raises(TypeError, iter, None).value
    raises_exactly(TypeError, str(expected), core.profile_dataset, [("n", "integer", None)])
    raises_exactly(TypeError, "'int' object is not iterable", core.profile_dataset, [("n", "integer", 5)])


def test_error_raised_by_the_iterator_passes_unchanged(core):
    class Boom(Exception):
        pass

    def values():
        yield 1
        raise Boom("boom")

    raises_exactly(Boom, "boom", core.profile_dataset, [("n", "integer", values())])


def test_list_mutated_during_conversion_is_read_like_its_iterator(core):
    values = [1, 2]

    class Grows:
        def __index__(self):
            values.append(3)
            return 10

    values.insert(1, Grows())
    column = only_column(core, ("n", "integer", values, True))
    assert column["count"] == 4
    assert column["numeric_stats"]["max"] == 10.0


# --- lengths, names and the order of failures --------------------------------------------------


@pytest.mark.parametrize(
    "lengths, message",
    [
        ((3, 3, 2), "Column 'c' has 2 values; expected 3"),
        ((3, 5), "Column 'b' has 5 values; expected 3"),
        ((0, 1), "Column 'b' has 1 values; expected 0"),
    ],
)
def test_unequal_lengths(core, lengths, message):
    columns = [(name, "integer", [1] * length) for name, length in zip("abc", lengths)]
    raises_exactly(ValueError, message, core.profile_dataset, columns)


def test_conversion_error_wins_over_length_error(core):
    columns = [("a", "integer", [1, 2, 3]), ("b", "unknown", [1, [2], 3]), ("c", "integer", [1])]
    raises_exactly(TypeError, "Unsupported normalized value type 'list'", core.profile_dataset, columns)


def test_length_error_wins_over_statistics_error(core):
    columns = [("a", "integer", [1.5, 2]), ("b", "integer", [1])]
    raises_exactly(ValueError, "Column 'b' has 1 values; expected 2", core.profile_dataset, columns)


def test_duplicate_and_empty_names_stay_separate_columns(core):
    result = profile(core, ("x", "integer", [1, 2]), ("x", "string", ["a", "a"]), ("", "unknown", [None, None]))
    assert [(column["name"], column["logical_type"], column["unique_count"]) for column in result["columns"]] == [
        ("x", "integer", 2),
        ("x", "string", 1),
        ("", "unknown", 0),
    ]


def test_names_are_kept_byte_for_byte(core):
    names = ["Äpfel", " padded ", "日本", "a\x00b", "emoji 🎉"]
    result = profile(core, *[(name, "string", []) for name in names])
    assert [column["name"] for column in result["columns"]] == names


# --- plain conversion ------------------------------------------------------------------------


class Color(enum.IntEnum):
    RED = 1


class MyFloat(float):
    pass


class MyStr(str):
    pass


def test_plain_conversion_by_python_type(core):
    column = only_column(core, ("u", "unknown", [None, True, 7, 2.5, "x", Color.RED, MyFloat(2.5), MyStr("x")]))
    # Color.RED is the Integer 1, MyFloat(2.5) the Float 2.5 and MyStr("x") the String "x".
    assert (column["null_count"], column["unique_count"]) == (1, 5)


def test_subclass_values_count_as_their_base_values(core):
    assert stats_of(core, ("n", "integer", [Color.RED, 3]))["mean"] == 2.0
    assert stats_of(core, ("f", "float", [MyFloat(0.5)]))["max"] == 0.5
    assert only_column(core, ("s", "string", [MyStr("x"), "x"]))["unique_count"] == 1


def test_true_is_never_an_integer(core):
    raises_exactly(
        TypeError, "Column 'n' expected integer values but received Boolean", core.profile_dataset, [("n", "integer", [1, True])]
    )


@pytest.mark.parametrize(
    "value, type_name",
    [
        (datetime.datetime(2024, 1, 1), "datetime"),
        (datetime.date(2024, 1, 1), "date"),
        ([1], "list"),
        (b"x", "bytes"),
        (decimal.Decimal("1.5"), "Decimal"),
        (1j, "complex"),
        (numpy.int64(3), "int64"),
    ],
)
def test_plain_conversion_refuses_other_types(core, value, type_name):
    raises_exactly(
        TypeError, f"Unsupported normalized value type '{type_name}'", core.profile_dataset, [("d", "datetime", ["x", value])]
    )


@pytest.mark.parametrize("value", [2**63, -(2**63) - 1, 10**30])
def test_plain_conversion_of_out_of_range_integers_raises_overflow_unchanged(core, value):
    raises_exactly(OverflowError, None, core.profile_dataset, [("n", "integer", [value])])


def test_integer_range_limits_are_accepted(core):
    stats = stats_of(core, ("n", "integer", [-(2**63), 2**63 - 1]))
    assert (stats["min"], stats["max"]) == (-9.223372036854776e18, 9.223372036854776e18)


def test_lone_surrogate_raises_the_encoding_error(core):
    expected = pytest.raises(UnicodeEncodeError, "a\udfffb".encode).value
    error = raises_exactly(UnicodeEncodeError, str(expected), core.profile_dataset, [("s", "string", ["ok", "a\udfffb"])])
    assert error.args == expected.args


# --- typed conversion ------------------------------------------------------------------------


def typed(name, logical_type, values):
    return (name, logical_type, values, True)


def test_typed_integer_conversion(core):
    column = only_column(core, typed("n", "integer", [True, False, 3, Indexable(4), Color.RED, numpy.int64(5)]))
    assert column["unique_count"] == 5  # 1 (twice: True and Color.RED), 0, 3, 4, 5
    assert column["numeric_stats"]["max"] == 5.0


@pytest.mark.parametrize("value", [None, 2.0, "3", 2**63, -(2**63) - 1, Indexable(2**64), numpy.float64(1.0)])
def test_typed_integer_refusals(core, value):
    raises_exactly(TypeError, "Column 'n' contains an unsupported value", core.profile_dataset, [typed("n", "integer", [1, value])])


def test_typed_float_conversion(core):
    class Floaty:
        def __float__(self):
            return 0.25

    column = only_column(core, typed("f", "float", [3, 3.0, math.nan, -math.inf, True, Floaty(), Indexable(7)]))
    # NaN becomes a null; 3 and 3.0 are one Float; -inf counts as a value but not in the statistics.
    assert (column["null_count"], column["unique_count"]) == (1, 5)
    assert (column["numeric_stats"]["min"], column["numeric_stats"]["max"]) == (0.25, 7.0)


@pytest.mark.parametrize("value", [None, "1.5", [1.0]])
def test_typed_float_refusals_raise_the_interpreters_error(core, value):
    def interpreter_refusal():
        try:
            math.fsum([value])  # refuses exactly what the interpreter's double conversion refuses
        except TypeError as error:
            return str(error)

    raises_exactly(TypeError, interpreter_refusal(), core.profile_dataset, [typed("f", "float", [1.0, value])])


def test_typed_boolean_conversion(core):
    column = only_column(core, typed("b", "boolean", [False, True, numpy.bool_(True), NumpyBoolStandIn(False)]))
    assert (column["null_count"], column["unique_count"]) == (0, 2)


@pytest.mark.parametrize("value", [0, 1, None, "true", numpy.int64(1), numpy_stand_in("bool_")()])
def test_typed_boolean_refusals(core, value):
    raises_exactly(TypeError, "Column 'b' contains an unsupported value", core.profile_dataset, [typed("b", "boolean", [True, value])])


@pytest.mark.parametrize("logical_type", ["string", "datetime", "categorical", "unknown"])
def test_typed_conversion_of_other_types_is_plain(core, logical_type):
    column = only_column(core, typed("s", logical_type, [None, 5, 5.0, "5", True]))
    assert (column["null_count"], column["unique_count"]) == (1, 4)
    raises_exactly(
        TypeError, "Unsupported normalized value type 'bytes'", core.profile_dataset, [typed("s", logical_type, [b"5"])]
    )
