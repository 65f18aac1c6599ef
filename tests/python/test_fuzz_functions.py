"""Property-based fuzzing of all ten functions with arbitrary and hostile Python
objects: nested containers, iterables that raise midway, objects whose
__index__/__float__/__bool__/__len__/__length_hint__ raise, lie or return the
wrong type, str/int/float subclasses, numpy scalars, extreme numbers, lone
surrogates and NUL characters, NaN and infinities -- in column tuples, as cells,
as schema_columns items and bounds, and as paths.

Every call must either return a result of the documented shape (key order and
value types of each dict) or raise one of the documented exception classes with
a message; never the module's InternalFault, never SystemError, never a crash.
Fresh objects are built for every call, so the same input can be run twice and
through several functions; those calls must agree.

The examples are derandomized so that CI runs the same inputs every time. For a
longer, random hunt: NOLT_FUZZ_RANDOM=1 NOLT_FUZZ_EXAMPLES=5000 pytest this file.
"""

import collections
import datetime
import decimal
import enum
import fractions
import math
import os
import re
import struct

import numpy as np
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _nolt_core

RANDOM = os.environ.get("NOLT_FUZZ_RANDOM") == "1"
SCALE = int(os.environ.get("NOLT_FUZZ_EXAMPLES", "0"))


def fuzz_settings(examples):
    return settings(
        max_examples=SCALE or examples,
        deadline=None,
        database=None,
        derandomize=not RANDOM,
        suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.filter_too_much],
    )


# --------------------------------------------------------------------------
# Hostile objects


class Boom(Exception):
    """Raised by hostile objects; it must reach the caller unchanged."""


class RaisingIndex:
    def __index__(self):
        raise Boom("__index__ failed")


class WrongIndex:
    def __index__(self):
        return "7"


class HugeIndex:
    def __index__(self):
        return 2**100


class RaisingFloat:
    def __float__(self):
        raise Boom("__float__ failed")


class WrongFloat:
    def __float__(self):
        return "1.5"


class NaNFloat:
    def __float__(self):
        return math.nan


class RaisingBoth:
    def __index__(self):
        raise Boom("__index__ failed")

    def __float__(self):
        raise Boom("__float__ failed")


def numpy_look_alike(name, truth, text):
    """A type the boolean rule takes for numpy's boolean scalar."""
    return type(name, (), {"__module__": "numpy", "__bool__": truth, "__repr__": lambda self: text})()


def _raise_boom(self):
    raise Boom("__bool__ failed")


class IntSub(int):
    pass


class FloatSub(float):
    pass


class StrSub(str):
    pass


class Color(enum.IntEnum):
    RED = 1
    HUGE = 2**62


class Column3(collections.namedtuple("Column3", "name type values")):
    pass


Column4 = collections.namedtuple("Column4", "name type values typed")


class HostileIterable:
    """Yields its cells, raising Boom before position `fail_at` (None: never);
    its __length_hint__ answers `hint` (an exception instance is raised)."""

    def __init__(self, cells, fail_at, hint):
        self.cells, self.fail_at, self.hint = cells, fail_at, hint

    def __iter__(self):
        for row_idx, cell in enumerate(self.cells):
            if row_idx == self.fail_at:
                raise Boom("iteration failed")
            yield cell
        if self.fail_at is not None and self.fail_at >= len(self.cells):
            raise Boom("iteration failed at the end")

    def __length_hint__(self):
        if isinstance(self.hint, BaseException):
            raise self.hint
        return self.hint


class LyingList(list):
    """A list whose __len__ lies or raises; iteration is the real one."""

    def __init__(self, cells, length):
        super().__init__(cells)
        self.length = length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length


class HostileSequence:
    """Passes the sequence check; __len__ lies or raises; iteration may raise midway."""

    def __init__(self, items, fail_at, length):
        self.items, self.fail_at, self.length = items, fail_at, length

    def __getitem__(self, idx):
        return self.items[idx]

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __iter__(self):
        for idx, item in enumerate(self.items):
            if idx == self.fail_at:
                raise Boom("sequence iteration failed")
            yield item


class PathLike:
    def __fspath__(self):
        return "/tmp/never-written.json"


# A length hint is only a capacity wish: a huge one must not fail the call.
# Under AddressSanitizer every such multi-GiB reservation costs a poisoning pass
# over its shadow memory, so the sanitizer run lies less extravagantly (the huge
# lie itself is covered by test_hardening.py there too).
HUGE_HINT = 2**20 if os.environ.get("NOLT_SANITIZED") == "1" else 2**62
LIES = [HUGE_HINT, HUGE_HINT * 2 - 1, 0, 1, -1, "x", 1.5, None, Boom("hint failed")]
LENGTH_LIES = [HUGE_HINT, 0, 1, 10**6, Boom("len failed"), -1, "x"]

# --------------------------------------------------------------------------
# Cells

LOGICAL_TYPES = ["integer", "float", "boolean", "string", "datetime", "categorical", "unknown"]
BAD_TYPE_NAMES = ["Integer", "integer ", "", "float\x00", "\udc80", "boolean\n"]

int64s = st.integers(-(2**63), 2**63 - 1)
small_ints = st.integers(-5, 5)
extreme_ints = st.sampled_from([2**63 - 1, -(2**63), 2**63, -(2**63) - 1, 2**100, -(2**1000), 2**53 + 1])
floats = st.one_of(
    st.floats(),
    st.sampled_from([5e-324, -5e-324, -0.0, 0.0, 1.7976931348623157e308, math.nan, -math.nan, math.inf, -math.inf]),
)
plain_text = st.one_of(
    st.sampled_from(["a", "b", "A", "é", "", "x y", "😀", "a\x00b"]),
    st.text(max_size=4),
)
surrogate_text = st.sampled_from(["\ud800", "x\udfff", "\udc80\udc80"])
texts = st.one_of(plain_text, plain_text, plain_text, surrogate_text)  # wild cells only

subclass_cells = st.one_of(
    st.builds(IntSub, int64s),
    st.builds(FloatSub, floats),
    st.builds(StrSub, texts),
    st.sampled_from([Color.RED, Color.HUGE, IntSub(2**64)]),
)
numpy_cells = st.one_of(
    st.builds(np.int64, int64s),
    st.builds(np.float64, floats),
    st.builds(np.str_, plain_text),
    st.sampled_from(
        [
            np.int8(-3),
            np.uint64(2**64 - 1),
            np.float32(1.5),
            np.float16(np.inf),
            np.bool_(True),
            np.bool_(False),
            np.datetime64("2020-01-01"),
            np.complex128(1 + 2j),
        ]
    ),
)
hostile_cells = st.sampled_from(
    [
        RaisingIndex(),
        WrongIndex(),
        HugeIndex(),
        RaisingFloat(),
        WrongFloat(),
        NaNFloat(),
        RaisingBoth(),
        numpy_look_alike("bool_", _raise_boom, "RaisingNumpyBool()"),
        numpy_look_alike("bool_", lambda self: 2, "NumpyBoolReturning2()"),
        numpy_look_alike("bool", lambda self: True, "NumpyBoolTrue()"),
    ]
)
other_cells = st.sampled_from(
    [
        b"x",
        [1],
        (),
        {},
        {"a": 1},
        datetime.datetime(2020, 1, 1),
        decimal.Decimal("1.5"),
        fractions.Fraction(1, 3),
        object(),
        int,
        Ellipsis,
        1 + 2j,
    ]
)
wild_cells = st.one_of(
    st.none(), st.booleans(), int64s, extreme_ints, floats, texts, subclass_cells, numpy_cells, hostile_cells, other_cells
)

# Cells that a column of each logical type accepts, so that many examples get
# through conversion to the computing code.
fitting_cells = {
    "integer": st.one_of(st.none(), small_ints, int64s),
    "float": st.one_of(st.none(), floats, small_ints),
    "boolean": st.one_of(st.none(), st.booleans()),
    "string": st.one_of(st.none(), plain_text),
    "datetime": st.one_of(st.none(), plain_text, small_ints, floats, st.booleans()),
    "categorical": st.one_of(st.none(), st.sampled_from(["s", "m", "l", "é", ""])),
    "unknown": st.one_of(st.none(), plain_text, small_ints, st.booleans()),
}
typed_fitting_cells = {
    "integer": st.one_of(small_ints, st.booleans(), st.builds(np.int64, small_ints), st.just(Color.RED)),
    "float": st.one_of(floats, small_ints, st.builds(np.float32, small_ints), st.just(NaNFloat())),
    "boolean": st.one_of(st.booleans(), st.builds(np.bool_, st.booleans())),
}


# --------------------------------------------------------------------------
# Builders: the drawn description builds fresh objects on every call, so one
# input can be fed to several functions (iterators are consumed).


class Built:
    """A zero-argument maker of fresh argument objects with a readable repr."""

    def __init__(self, make, text):
        self.make, self.text = make, text

    def __call__(self):
        return self.make()

    def __repr__(self):
        return self.text


def fixed(value):
    return Built(lambda: value, repr(value))


@st.composite
def values_objects(draw, cells, hostile):
    wrappers = ["list"] * 4 + ["tuple", "generator", "lying_iterable", "lying_list", "numpy", "dict_keys"]
    wrapper = draw(st.sampled_from(wrappers + ["failing_iterable"] * 2 if hostile else wrappers))
    if wrapper == "list":
        return Built(lambda: list(cells), repr(cells))
    if wrapper == "tuple":
        return Built(lambda: tuple(cells), f"tuple({cells!r})")
    if wrapper == "generator":
        return Built(lambda: (cell for cell in cells), f"generator({cells!r})")
    if wrapper in ("lying_iterable", "failing_iterable"):
        fail_at = draw(st.integers(0, len(cells))) if wrapper == "failing_iterable" else None
        hint = draw(st.sampled_from(LIES))
        return Built(lambda: HostileIterable(cells, fail_at, hint), f"HostileIterable({cells!r}, {fail_at}, {hint!r})")
    if wrapper == "lying_list":
        length = draw(st.sampled_from(LENGTH_LIES))
        return Built(lambda: LyingList(cells, length), f"LyingList({cells!r}, {length!r})")
    if wrapper == "numpy":
        # An object array yields the cells themselves; a numeric one numpy scalars.
        if cells and all(type(cell) is int and -(2**63) <= cell < 2**63 for cell in cells):
            return Built(lambda: np.array(cells, dtype=np.int64), f"np.array({cells!r}, int64)")
        return Built(lambda: np.array(cells + [None], dtype=object)[:-1], f"np.array({cells!r}, object)")
    # Iterating a dict yields its keys; only hashable distinct cells survive.
    try:
        keys = list(dict.fromkeys(cells))
    except TypeError:
        keys = []
    return Built(lambda: dict.fromkeys(keys), f"dict.fromkeys({keys!r})")


def weighted(common, rare, hostile, ratio=6):
    """Draws from `rare` only in hostile examples, one time in about `ratio`."""
    return st.sampled_from(list(common) * ratio + (list(rare) if hostile else []))


GOOD_FLAGS = [True, False, np.bool_(True), np.bool_(False), numpy_look_alike("bool_", lambda self: False, "NumpyBoolFalse()")]
BAD_FLAGS = [1, "yes", numpy_look_alike("bool_", _raise_boom, "RaisingNumpyBool()")]


@st.composite
def columns(draw, row_count, hostile):
    logical_type = draw(st.sampled_from(LOGICAL_TYPES))
    type_text = draw(weighted([logical_type, logical_type, StrSub(logical_type)], BAD_TYPE_NAMES + [None, 5], hostile))
    name = draw(
        st.one_of(
            weighted(["a", "b", "c", "A", "é", "a\x00b", "", "a'b"], [5, None, b"a", "\udc80"], hostile),
            st.builds(StrSub, st.sampled_from(["a", "b"])),
            plain_text,
        )
    )
    typed_flag = draw(weighted([None] * 4 + GOOD_FLAGS, BAD_FLAGS, hostile, ratio=3))
    typed = any(typed_flag is flag for flag in GOOD_FLAGS) and bool(typed_flag)
    length = row_count if not hostile or draw(st.integers(0, 7)) else draw(st.integers(0, 6))
    fitting = fitting_cells[logical_type]
    if typed and logical_type in typed_fitting_cells:
        fitting = typed_fitting_cells[logical_type]
    cell_strategy = st.one_of(*[fitting] * 30, wild_cells) if hostile else fitting
    cells = draw(st.lists(cell_strategy, min_size=length, max_size=length))
    values = draw(values_objects(cells, hostile))
    shape = draw(weighted(["tuple"] * 3 + ["namedtuple"], ["list", "short", "long"], hostile))

    def make():
        parts = [name, type_text, values()]
        if typed_flag is not None:
            parts.append(typed_flag)
        if shape == "namedtuple":
            return Column4(*parts) if len(parts) == 4 else Column3(*parts)
        if shape == "list":
            return parts
        if shape == "short":
            return tuple(parts[:2])
        if shape == "long":
            return tuple(parts) + (None, None)
        return tuple(parts)

    flag_text = "" if typed_flag is None else f", {typed_flag!r}"
    return Built(make, f"{shape}({name!r}, {type_text!r}, {values!r}{flag_text})")


@st.composite
def datasets(draw, max_columns=4):
    """Half the examples are well formed (they reach the computing code), half
    hostile somewhere (they reach the error paths)."""
    hostile = draw(st.booleans())
    row_count = draw(st.integers(0, 5))
    column_makers = draw(st.lists(columns(row_count, hostile), max_size=max_columns))
    container = draw(weighted(["list"] * 4 + ["tuple", "sequence"], ["failing_sequence", "odd"], hostile, ratio=2))
    if container == "odd":
        return fixed(draw(st.sampled_from(["abc", StrSub(""), {}, None, 3, b"ab", range(3), {("a", "integer", ())}])))

    def items():
        return [make() for make in column_makers]

    if container == "tuple":
        return Built(lambda: tuple(items()), f"tuple({column_makers!r})")
    if container in ("sequence", "failing_sequence"):
        fail_at = draw(st.integers(0, len(column_makers))) if container == "failing_sequence" else None
        length = draw(st.sampled_from(LENGTH_LIES))
        return Built(
            lambda: HostileSequence(items(), fail_at, length), f"HostileSequence({column_makers!r}, {fail_at}, {length!r})"
        )
    return Built(items, repr(column_makers))


# schema_columns: five-element tuples with hostile parts.
bounds = st.one_of(
    st.none(),
    floats,
    small_ints,
    extreme_ints,
    st.sampled_from([2**2000, "1", RaisingFloat(), WrongFloat(), RaisingIndex(), np.float32(2.5), np.int64(3)]),
    st.sampled_from([FloatSub(1.0), IntSub(2), True, decimal.Decimal("1.5"), fractions.Fraction(1, 2), NaNFloat()]),
)


@st.composite
def schema_items(draw, hostile):
    name = draw(st.one_of(weighted(["a", "b", "c", "zz", "a\x00b"], [5, None, "\ud800"], hostile), plain_text))
    type_text = draw(weighted(LOGICAL_TYPES, BAD_TYPE_NAMES, hostile))
    nullable = draw(
        weighted([True, False, np.bool_(True)], [1, None, numpy_look_alike("bool_", _raise_boom, "RaisingNumpyBool()"), "true"], hostile)
    )
    good_bounds = st.one_of(st.none(), floats, small_ints, st.sampled_from([np.float32(2.5), np.int64(3), FloatSub(1.0)]))
    bound = st.one_of(good_bounds, good_bounds, bounds) if hostile else good_bounds
    range_part = draw(
        st.one_of(
            st.none(),
            st.tuples(bound, bound),
            weighted([None], [(), (1.0,), (1.0, 2.0, 3.0), [0, 1], "ab", 5], hostile, ratio=3),
        )
    )
    allowed_cells = st.one_of(plain_text, st.booleans(), *([wild_cells] if hostile else []))
    allowed = draw(
        st.one_of(
            st.none(),
            st.lists(allowed_cells, max_size=4),
            st.builds(tuple, st.lists(st.one_of(plain_text, st.booleans()), max_size=3)),
            st.builds(
                lambda cells, fail_at, length: HostileSequence(cells, fail_at, length),
                st.lists(plain_text, max_size=3),
                st.one_of(st.none(), st.integers(0, 3)) if hostile else st.none(),
                st.sampled_from(LENGTH_LIES),
            ),
            weighted([None], ["abc", {"a"}, 5, {"a": 1}], hostile, ratio=2),
        )
    )
    shape = draw(weighted(["tuple"], ["list", "short", "long"], hostile, ratio=10))
    parts = (name, type_text, nullable, range_part, allowed)
    if shape == "list":
        return list(parts)
    if shape == "short":
        return parts[:4]
    if shape == "long":
        return parts + (None,)
    return parts


@st.composite
def schema_columns_arguments(draw):
    hostile = draw(st.booleans())
    items = draw(st.lists(schema_items(hostile), max_size=4))
    container = draw(weighted(["list"] * 3 + ["tuple", "sequence"], ["failing_sequence", "odd"], hostile, ratio=2))
    if container == "tuple":
        return tuple(items)
    if container in ("sequence", "failing_sequence"):
        fail_at = draw(st.integers(0, len(items))) if container == "failing_sequence" else None
        return HostileSequence(items, fail_at, draw(st.sampled_from(LENGTH_LIES)))
    if container == "odd":
        return draw(st.sampled_from(["abc", None, 5, {}, iter([])]))
    return items


# --------------------------------------------------------------------------
# What a result or an exception may look like

ALLOWED_EXCEPTIONS = {TypeError, ValueError, OSError, OverflowError, UnicodeEncodeError, Boom}
ARGUMENT_NAMES = "columns|before_columns|after_columns|schema_columns|path|schema_path"
MODULE_MESSAGES = [
    r"\w+\(\) takes \d+ positional arguments but \d+ (was|were) given",
    r"\w+\(\) got an unexpected keyword argument '.*'",
    r"\w+\(\) got multiple values for argument '\w+'",
    r"\w+\(\) missing \d+ required positional arguments?: '\w+'( and '\w+')?",
    rf"argument '({ARGUMENT_NAMES})': .+",
    r"'.+' object cannot be converted to '(PyTuple|PyString)'",
    r"Unsupported normalized value type '.+'",
    r"Column '.*' contains an unsupported value",
    r"Column '.*' expected (integer|float) values but received (Float|Boolean|String)",
    r"Unsupported suggested allowed value type '.+'",
    r"expected tuple of length [2345], but got tuple of length \d+",
    r"Unsupported logical type '.*'",
    r"Column '.*' has \d+ values; expected \d+",
    r"Column '.*' produced \d+ observed values; expected \d+",
    r"Unsupported suggested schema format version: -?\d+",
    r"numeric range for column `.*` contains a non-finite value",
    r".+ \(os error \d+\)",
    r"stream did not contain valid UTF-8",
    r"file name contained an unexpected NUL byte",
    r".+ at line \d+ column \d+",
]
# Texts of the interpreter's own TypeErrors that conversions pass through.
INTERPRETER_MESSAGES = [
    r"'.+' object is not iterable",
    r"must be real number, not .+",
    r".*__float__ returned non-float \(type .+\)",
    r"__index__ returned non-int \(type .+\)",
    r"float\(\) argument must be a string or a real number, not '.+'",
]
MESSAGE_PATTERN = re.compile("|".join(f"(?:{p})" for p in MODULE_MESSAGES + INTERPRETER_MESSAGES), re.DOTALL)


def check_exception(error):
    assert type(error) in ALLOWED_EXCEPTIONS, f"{type(error).__qualname__}: {error}"
    text = str(error)
    assert text, f"{type(error).__qualname__} without a message"
    if type(error) in (TypeError, ValueError, OSError):
        assert MESSAGE_PATTERN.fullmatch(text), f"undocumented {type(error).__name__} text: {text!r}"


TYPE_NAMES = set(LOGICAL_TYPES)
STATS_KEYS = ["min", "max", "mean", "median", "p25", "p50", "p75"]


def is_count(value):
    return type(value) is int and value >= 0


def check_keys(value, keys):
    assert type(value) is dict, type(value)
    assert list(value) == keys, list(value)


def check_profile(profile):
    check_keys(profile, ["row_count", "columns"])
    assert is_count(profile["row_count"]) and type(profile["columns"]) is list
    for column in profile["columns"]:
        check_keys(column, ["name", "logical_type", "count", "null_count", "unique_count", "numeric_stats"])
        assert type(column["name"]) is str and column["logical_type"] in TYPE_NAMES
        assert all(is_count(column[key]) for key in ("count", "null_count", "unique_count"))
        assert column["count"] == profile["row_count"]
        assert column["unique_count"] <= column["count"] - column["null_count"]
        stats = column["numeric_stats"]
        if stats is not None:
            assert column["logical_type"] in ("integer", "float")
            check_keys(stats, STATS_KEYS)
            assert all(type(value) is float for value in stats.values())


def check_observed_column(column):
    keys = ["name", "logical_type", "observed_nullable", "observed_unique_count", "observed_range", "observed_values"]
    check_keys(column, keys)
    assert type(column["name"]) is str and column["logical_type"] in TYPE_NAMES
    assert type(column["observed_nullable"]) is bool and is_count(column["observed_unique_count"])
    value_range = column["observed_range"]
    if value_range is not None:
        assert column["logical_type"] in ("integer", "float")
        check_keys(value_range, ["min", "max"])
        assert type(value_range["min"]) is float and type(value_range["max"]) is float
    values = column["observed_values"]
    if column["logical_type"] == "boolean":
        assert type(values) is list and all(type(value) is bool for value in values)
    elif column["logical_type"] in ("string", "categorical"):
        assert values is None or (type(values) is list and all(type(value) is str for value in values))
    else:
        assert values is None
    if values is not None:
        assert len(values) == column["observed_unique_count"]


def check_observed(observed):
    check_keys(observed, ["row_count", "columns"])
    assert is_count(observed["row_count"]) and type(observed["columns"]) is list
    for column in observed["columns"]:
        check_observed_column(column)


def check_suggested(suggested):
    check_keys(suggested, ["columns"])
    assert type(suggested["columns"]) is list
    for column in suggested["columns"]:
        check_keys(column, ["name", "logical_type", "nullable", "constraints"])
        assert type(column["name"]) is str and column["logical_type"] in TYPE_NAMES
        assert type(column["nullable"]) is bool
        check_keys(column["constraints"], ["numeric_range", "allowed_values"])
        assert column["constraints"]["numeric_range"] is None
        allowed = column["constraints"]["allowed_values"]
        if allowed is not None:
            assert column["logical_type"] == "categorical"
            assert type(allowed) is list and allowed and all(type(value) is str for value in allowed)


def check_inspection(inspection):
    check_keys(inspection, ["profile", "observed_schema", "suggested_schema"])
    check_profile(inspection["profile"])
    check_observed(inspection["observed_schema"])
    check_suggested(inspection["suggested_schema"])


ISSUE_CODES = {"missing_column", "unexpected_column", "type_mismatch", "null_not_allowed", "value_not_allowed", "range_violation"}


def check_report(report):
    check_keys(report, ["is_valid", "error_count", "warning_count", "issues"])
    assert type(report["is_valid"]) is bool and type(report["issues"]) is list
    for issue in report["issues"]:
        check_keys(issue, ["code", "severity", "column", "expected", "observed"])
        assert issue["code"] in ISSUE_CODES and issue["severity"] in ("warning", "error")
        assert issue["column"] is None or type(issue["column"]) is str
        for key in ("expected", "observed"):
            assert issue[key] is None or type(issue[key]) in (str, bool)
    severities = collections.Counter(issue["severity"] for issue in report["issues"])
    assert report["error_count"] == severities["error"] and type(report["error_count"]) is int
    assert report["warning_count"] == severities["warning"] and type(report["warning_count"]) is int
    assert report["is_valid"] is (severities["error"] == 0)


CHANGE_ORDER = ["logical_type_changed", "nullability_changed", "unique_count_changed", "range_changed", "observed_values_changed"]
COMPARISON_KEYS = [
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


def check_comparison(comparison):
    check_keys(comparison, COMPARISON_KEYS)
    for key in COMPARISON_KEYS[:2] + COMPARISON_KEYS[4:10]:
        assert is_count(comparison[key]), key
    assert type(comparison["has_changes"]) is bool and type(comparison["row_count_changed"]) is bool
    statuses = collections.Counter()
    for entry in comparison["columns"]:
        check_keys(entry, ["name", "status", "before", "after", "changes"])
        assert type(entry["name"]) is str
        statuses[entry["status"]] += 1
        for side in ("before", "after"):
            if entry[side] is not None:
                check_observed_column(entry[side])
        changes = entry["changes"]
        assert type(changes) is list and changes == sorted(set(changes), key=CHANGE_ORDER.index)
        assert (entry["before"] is None) is (entry["status"] == "added")
        assert (entry["after"] is None) is (entry["status"] == "removed")
        assert bool(changes) is (entry["status"] == "changed")
    assert set(statuses) <= {"added", "removed", "changed", "unchanged"}
    for status in ("added", "removed", "changed", "unchanged"):
        assert comparison[f"{status}_count"] == statuses[status]
    assert comparison["row_count_changed"] is (comparison["before_row_count"] != comparison["after_row_count"])


DRIFT_SEVERITIES = {
    "column_added": {"warning"},
    "column_removed": {"error"},
    "logical_type_changed": {"error"},
    "nullability_changed": {"warning", "error"},
}


def check_drift(report):
    check_keys(report, ["has_drift", "warning_count", "error_count", "issues"])
    assert type(report["has_drift"]) is bool and type(report["issues"]) is list
    for issue in report["issues"]:
        check_keys(issue, ["code", "severity", "column"])
        assert issue["severity"] in DRIFT_SEVERITIES[issue["code"]] and type(issue["column"]) is str
    severities = collections.Counter(issue["severity"] for issue in report["issues"])
    assert report["warning_count"] == severities["warning"] and type(report["warning_count"]) is int
    assert report["error_count"] == severities["error"] and type(report["error_count"]) is int
    assert report["has_drift"] is bool(report["issues"])


def check_none(result):
    assert result is None


def canonical(value):
    """A comparable form: floats by their bits (NaN and -0.0 included), exceptions by class and args."""
    if type(value) is float:
        return ("float", struct.pack("<d", value))
    if type(value) is dict:
        return ("dict", [(key, canonical(item)) for key, item in value.items()])
    if type(value) is list:
        return ("list", [canonical(item) for item in value])
    return (type(value), value)


def outcome(call, check):
    """Runs one call: ('ok', canonical result) or ('raised', class, text)."""
    try:
        result = call()
    except BaseException as error:  # noqa: B036 - InternalFault derives from BaseException
        check_exception(error)
        return ("raised", type(error), str(error))
    check(result)
    return ("ok", canonical(result))


def unique_names(make):
    try:
        items = list(make())
        names = [item[0] for item in items]
    except Exception:
        return False
    return all(type(name) is str for name in names) and len(set(names)) == len(names)


# --------------------------------------------------------------------------
# The properties

core = _nolt_core


@fuzz_settings(300)
@given(dataset=datasets())
def test_single_dataset_functions(dataset):
    profile = outcome(lambda: core.profile_dataset(dataset()), check_profile)
    observed = outcome(lambda: core.observed_schema_dataset(dataset()), check_observed)
    suggested = outcome(lambda: core.suggest_schema_dataset(dataset()), check_suggested)
    inspected = outcome(lambda: core.inspect_dataset(columns=dataset()), check_inspection)
    # The same input gives the same outcome, bit for bit.
    assert outcome(lambda: core.profile_dataset(dataset()), check_profile) == profile
    # Observing adds steps after profiling: a profiling failure is its failure too.
    if profile[0] == "raised":
        assert observed == profile
    if observed[0] == "raised":
        assert suggested == observed and inspected == observed
    else:
        assert suggested[0] == "ok"
        assert inspected == ("ok", ("dict", [("profile", profile[1]), ("observed_schema", observed[1]),
                                             ("suggested_schema", suggested[1])]))


@fuzz_settings(150)
@given(dataset=datasets(), data=st.data())
def test_save_then_validate_file(dataset, data, tmp_path_factory):
    directory = tmp_path_factory.mktemp("fuzz")
    target = data.draw(
        st.one_of(
            st.just("schema.json"),
            st.just("schema.json"),
            st.text(alphabet=st.characters(exclude_characters="/"), min_size=1, max_size=8),
            st.sampled_from(["no/such/dir.json", ".", "..", "a\x00b", "\udc80.json", "x" * 300]),
        )
    )
    path = data.draw(
        st.one_of(
            st.just(os.path.join(str(directory), target)),
            st.just(os.path.join(str(directory), target)),
            st.builds(StrSub, st.just(os.path.join(str(directory), target))),
            st.sampled_from([None, b"/tmp/x.json", PathLike(), 5]),
        )
    )
    saved = outcome(lambda: core.save_suggested_schema_dataset(dataset(), path), check_none)
    validated = outcome(lambda: core.validate_dataset_file(dataset(), path), check_report)
    if saved[0] == "ok" and validated[0] == "ok" and unique_names(dataset):
        # Data always satisfies the schema suggested from it.
        report = core.validate_dataset_file(dataset(), path)
        assert report == {"is_valid": True, "error_count": 0, "warning_count": 0, "issues": []}


@fuzz_settings(300)
@given(dataset=datasets(), schema_columns=schema_columns_arguments())
def test_validate_against_schema_columns(dataset, schema_columns):
    outcome(lambda: core._validate_dataset_schema(dataset(), schema_columns), check_report)


@fuzz_settings(250)
@given(before=datasets(max_columns=3), after=datasets(max_columns=3))
def test_two_dataset_functions(before, after):
    outcome(lambda: core.compare_datasets(before(), after()), check_comparison)
    outcome(lambda: core.schema_drift_datasets(before_columns=before(), after_columns=after()), check_drift)
    if not unique_names(before):
        return
    # A dataset compared with itself: nothing changes except NaN bounds, no drift.
    same = outcome(lambda: core.compare_datasets(before(), before()), check_comparison)
    if same[0] == "ok":
        comparison = core.compare_datasets(before(), before())
        assert not comparison["row_count_changed"]
        for entry in comparison["columns"]:
            nan_bound = any(map(math.isnan, (entry["before"]["observed_range"] or {}).values()))
            assert entry["changes"] == (["range_changed"] if nan_bound else []), entry
    drift = outcome(lambda: core.schema_drift_datasets(before(), before()), check_drift)
    if drift[0] == "ok":
        assert core.schema_drift_datasets(before(), before())["issues"] == []


ARGUMENT_OBJECTS = st.one_of(
    datasets(max_columns=2),
    st.builds(fixed, st.one_of(wild_cells, st.sampled_from([[], [[]], [()], [None], "", StrSub("x"), iter([1])]))),
)


@fuzz_settings(200)
@given(first=ARGUMENT_OBJECTS, second=ARGUMENT_OBJECTS, keywords=st.sampled_from(["", "first", "second", "both", "odd"]))
def test_any_objects_in_any_argument(first, second, keywords):
    """Every function taking anything at all, by position or keyword, in any parameter."""
    functions = [
        (core.profile_dataset, ["columns"], check_profile),
        (core.observed_schema_dataset, ["columns"], check_observed),
        (core.suggest_schema_dataset, ["columns"], check_suggested),
        (core.inspect_dataset, ["columns"], check_inspection),
        (core.validate_dataset_file, ["columns", "schema_path"], check_report),
        (core._validate_dataset_schema, ["columns", "schema_columns"], check_report),
        (core.compare_datasets, ["before_columns", "after_columns"], check_comparison),
        (core.schema_drift_datasets, ["before_columns", "after_columns"], check_drift),
    ]
    for function, names, check in functions:
        arguments = [first(), second()][: len(names)]
        if keywords == "odd":
            kwargs = {"cols": arguments[0]}
            positional = arguments[1:]
        elif keywords == "both":
            kwargs = dict(zip(names, arguments))
            positional = []
        elif keywords == "second" and len(names) == 2:
            kwargs = {names[1]: arguments[1]}
            positional = arguments[:1]
        elif keywords == "first":
            kwargs = {names[0]: arguments[0]}
            positional = arguments[1:]  # a positional after a keyword: bound twice or missing
        else:
            kwargs = {}
            positional = arguments
        outcome(lambda: function(*positional, **kwargs), check)
    assert core.version() == "0.4.1"

