"""The module object, its function table and the argument-binding frame."""

import importlib
import inspect
import sys

import pytest

import _nolt_core
from conftest import raises_exactly

NAMES = [
    "version",
    "profile_dataset",
    "observed_schema_dataset",
    "suggest_schema_dataset",
    "inspect_dataset",
    "save_suggested_schema_dataset",
    "validate_dataset_file",
    "_validate_dataset_schema",
    "compare_datasets",
    "schema_drift_datasets",
]

PARAMETERS = {
    "version": [],
    "profile_dataset": ["columns"],
    "observed_schema_dataset": ["columns"],
    "suggest_schema_dataset": ["columns"],
    "inspect_dataset": ["columns"],
    "save_suggested_schema_dataset": ["columns", "path"],
    "validate_dataset_file": ["columns", "schema_path"],
    "_validate_dataset_schema": ["columns", "schema_columns"],
    "compare_datasets": ["before_columns", "after_columns"],
    "schema_drift_datasets": ["before_columns", "after_columns"],
}

WITH_PARAMETERS = [name for name in NAMES if PARAMETERS[name]]


def function(name):
    return getattr(_nolt_core, name)


def test_all_lists_the_ten_functions_in_table_order():
    assert _nolt_core.__all__ == NAMES
    assert type(_nolt_core.__all__) is list


def test_version_is_stable_text():
    assert _nolt_core.version() == "0.4.1"
    assert _nolt_core.version() == _nolt_core.version()
    with pytest.raises(TypeError):
        _nolt_core.version(1)


@pytest.mark.parametrize("name", NAMES)
def test_text_signature(name):
    fn = function(name)
    params = PARAMETERS[name]
    assert fn.__text_signature__ == "(" + ", ".join(params) + ")"
    assert list(inspect.signature(fn).parameters) == params
    assert all(
        p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD and p.default is inspect.Parameter.empty
        for p in inspect.signature(fn).parameters.values()
    )
    assert fn.__name__ == name
    assert fn.__module__ == "_nolt_core"


def test_module_has_no_docstring():
    assert not _nolt_core.__doc__


def test_second_import_yields_the_same_module():
    first = sys.modules.pop("_nolt_core")
    try:
        second = importlib.import_module("_nolt_core")
        assert second is first
    finally:
        sys.modules["_nolt_core"] = first


def test_internal_fault_class_derives_directly_from_base_exception():
    fault = _nolt_core.InternalFault
    assert fault.__bases__ == (BaseException,)
    assert not issubclass(fault, Exception)


def missing_message(name, missing):
    quoted = [f"'{p}'" for p in missing]
    if len(quoted) == 1:
        listed = quoted[0]
    elif len(quoted) == 2:
        listed = f"{quoted[0]} and {quoted[1]}"
    else:
        listed = ", ".join(quoted[:-1]) + ", and " + quoted[-1]
    noun = "argument" if len(missing) == 1 else "arguments"
    return f"{name}() missing {len(missing)} required positional {noun}: {listed}"


@pytest.mark.parametrize("name", WITH_PARAMETERS)
def test_missing_arguments_are_listed_in_parameter_order(name):
    params = PARAMETERS[name]
    raises_exactly(TypeError, missing_message(name, params), function(name))
    if len(params) == 2:
        raises_exactly(TypeError, missing_message(name, params[1:]), function(name), [])
        raises_exactly(TypeError, missing_message(name, params[:1]), function(name), **{params[1]: []})


def test_missing_list_joins_three_names_with_a_serial_comma():
    assert missing_message("f", ["a", "b", "c"]) == "f() missing 3 required positional arguments: 'a', 'b', and 'c'"


@pytest.mark.parametrize("name", WITH_PARAMETERS)
@pytest.mark.parametrize("extra", [1, 2])
def test_too_many_positional_arguments(name, extra):
    count = len(PARAMETERS[name])
    given = count + extra
    verb = "was" if given == 1 else "were"
    raises_exactly(
        TypeError,
        f"{name}() takes {count} positional arguments but {given} {verb} given",
        function(name),
        *([[]] * given),
    )


@pytest.mark.parametrize("name", WITH_PARAMETERS)
def test_unexpected_keyword_is_reported_before_missing_parameters(name):
    raises_exactly(TypeError, f"{name}() got an unexpected keyword argument 'cols'", function(name), cols=[])
    params = PARAMETERS[name]
    kwargs = {p: [] for p in params}
    kwargs["zzz"] = 1
    raises_exactly(TypeError, f"{name}() got an unexpected keyword argument 'zzz'", function(name), **kwargs)


def test_unexpected_keyword_that_is_not_utf8():
    raises_exactly(
        TypeError,
        "profile_dataset() got an unexpected keyword argument '\\udc80'",
        _nolt_core.profile_dataset,
        **{"\udc80": 1},
    )


@pytest.mark.parametrize("name", WITH_PARAMETERS)
def test_multiple_values_for_a_positional_parameter(name):
    first = PARAMETERS[name][0]
    raises_exactly(
        TypeError, f"{name}() got multiple values for argument '{first}'", function(name), [], **{first: []}
    )


def test_keyword_matches_the_positional_call():
    assert _nolt_core.profile_dataset(columns=[]) == _nolt_core.profile_dataset([])


@pytest.mark.parametrize(
    "value, message",
    [
        ("abc", "argument 'columns': Can't extract `str` to `Vec`"),
        (type("S", (str,), {})("abc"), "argument 'columns': Can't extract `str` to `Vec`"),
        ({}, "argument 'columns': 'dict' object cannot be converted to 'Sequence'"),
        (set(), "argument 'columns': 'set' object cannot be converted to 'Sequence'"),
        (5, "argument 'columns': 'int' object cannot be converted to 'Sequence'"),
        (None, "argument 'columns': 'NoneType' object cannot be converted to 'Sequence'"),
        ((x for x in []), "argument 'columns': 'generator' object cannot be converted to 'Sequence'"),
    ],
)
def test_list_like_argument_refusals(value, message):
    raises_exactly(TypeError, message, _nolt_core.profile_dataset, value)


@pytest.mark.parametrize("value", [[], (), range(0)])
def test_list_like_arguments_accepted(value):
    assert _nolt_core.profile_dataset(value) == {"row_count": 0, "columns": []}


def test_bytes_pass_the_sequence_check_and_fail_as_columns():
    raises_exactly(TypeError, "'int' object cannot be converted to 'PyTuple'", _nolt_core.profile_dataset, b"ab")


def test_qualified_type_name_in_sequence_refusal():
    class Outer:
        class Inner:
            pass

    raises_exactly(
        TypeError,
        "argument 'columns': 'test_qualified_type_name_in_sequence_refusal.<locals>.Outer.Inner' "
        "object cannot be converted to 'Sequence'",
        _nolt_core.profile_dataset,
        Outer.Inner(),
    )


class RaisingSequence:
    """A sequence whose iteration raises the given exception."""

    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, index):
        if index == 0:
            return ("a", "integer", [])
        raise self.exc


def test_iteration_type_error_gets_the_prefix_and_keeps_its_cause():
    cause = KeyError("root")
    exc = TypeError("broken sequence")
    exc.__cause__ = cause
    error = raises_exactly(
        TypeError, "argument 'columns': broken sequence", _nolt_core.profile_dataset, RaisingSequence(exc)
    )
    assert error.__cause__ is cause


def test_iteration_type_error_subclass_passes_unchanged():
    class MyTypeError(TypeError):
        pass

    exc = MyTypeError("mine")
    with pytest.raises(MyTypeError) as info:
        _nolt_core.profile_dataset(RaisingSequence(exc))
    assert info.value is exc


def test_iteration_other_error_passes_unchanged():
    exc = ValueError("not a type error")
    with pytest.raises(ValueError) as info:
        _nolt_core.profile_dataset(RaisingSequence(exc))
    assert info.value is exc


def test_failing_length_hint_is_ignored():
    class Seq:
        def __len__(self):
            raise RuntimeError("no")

        def __getitem__(self, index):
            if index < 1:
                return ("a", "integer", [1])
            raise IndexError

    assert _nolt_core.profile_dataset(Seq())["row_count"] == 1


def test_only_the_first_parameter_failure_is_reported():
    raises_exactly(
        TypeError, "argument 'before_columns': Can't extract `str` to `Vec`", _nolt_core.compare_datasets, "x", 5
    )
    raises_exactly(
        TypeError,
        "argument 'after_columns': 'int' object cannot be converted to 'Sequence'",
        _nolt_core.compare_datasets,
        [],
        5,
    )


class PathLike:
    def __fspath__(self):
        return "/tmp/x"


@pytest.mark.parametrize(
    "name, param",
    [("save_suggested_schema_dataset", "path"), ("validate_dataset_file", "schema_path")],
)
@pytest.mark.parametrize(
    "value, type_text",
    [(PathLike(), "PathLike"), (b"/tmp/x", "bytes"), (None, "NoneType"), (3, "int")],
)
def test_text_argument_refusals(name, param, value, type_text):
    raises_exactly(
        TypeError,
        f"argument '{param}': '{type_text}' object cannot be converted to 'PyString'",
        function(name),
        [],
        value,
    )


@pytest.mark.parametrize("name", ["save_suggested_schema_dataset", "validate_dataset_file"])
def test_text_argument_that_cannot_be_encoded(name):
    with pytest.raises(UnicodeEncodeError):
        function(name)([], "bad\udc80path")


@pytest.mark.parametrize("name", ["save_suggested_schema_dataset", "validate_dataset_file"])
def test_columns_are_taken_before_the_text_argument(name):
    raises_exactly(TypeError, "argument 'columns': Can't extract `str` to `Vec`", function(name), "abc", 5)
