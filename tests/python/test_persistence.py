"""Saving suggested schemas to files and reading them back."""

import json
import os
import pathlib

import pytest

import _nolt_core
from conftest import raises_exactly

save = _nolt_core.save_suggested_schema_dataset
suggest = _nolt_core.suggest_schema_dataset
validate_file = _nolt_core.validate_dataset_file

CONTROL_BYTES = "".join(chr(code) for code in range(32))
ODD_TEXT = CONTROL_BYTES + '"quote" \\back\\ /slash/ \x7f é 😀 \u2028'

EXAMPLE_COLUMNS = [
    ("size", "categorical", ["small", "large", "small"]),
    ("ratio", "float", [0.5, None, 1.5]),
]

EXAMPLE_DOCUMENT = """{
  "format_version": 1,
  "schema": {
    "columns": [
      {
        "name": "size",
        "logical_type": "categorical",
        "nullable": false,
        "constraints": {
          "numeric_range": null,
          "allowed_values": [
            {
              "kind": "string",
              "value": "small"
            },
            {
              "kind": "string",
              "value": "large"
            }
          ]
        }
      },
      {
        "name": "ratio",
        "logical_type": "float",
        "nullable": true,
        "constraints": {
          "numeric_range": null,
          "allowed_values": null
        }
      }
    ]
  }
}"""


def expected_document(columns):
    """The document for the suggested schema of `columns`, built independently.

    Derived schemas carry no numeric range, so no float layout is involved and
    the standard encoder's indented form is byte-identical to the file format.
    """
    schema = suggest(columns)
    document_columns = []
    for column in schema["columns"]:
        allowed = column["constraints"]["allowed_values"]
        document_columns.append(
            {
                "name": column["name"],
                "logical_type": column["logical_type"],
                "nullable": column["nullable"],
                "constraints": {
                    "numeric_range": None,
                    "allowed_values": None
                    if allowed is None
                    else [
                        {"kind": "boolean" if type(value) is bool else "string", "value": value}
                        for value in allowed
                    ],
                },
            }
        )
    document = {"format_version": 1, "schema": {"columns": document_columns}}
    return json.dumps(document, indent=2, ensure_ascii=False).encode()


def written(tmp_path, columns):
    path = tmp_path / "schema.json"
    assert save(columns, str(path)) is None
    return path.read_bytes()


def test_example_document_bytes(tmp_path):
    assert written(tmp_path, EXAMPLE_COLUMNS) == EXAMPLE_DOCUMENT.encode()


@pytest.mark.parametrize(
    "columns",
    [
        [],
        [("empty", "categorical", [])],
        [("all_null", "categorical", [None, None])],
        [(ODD_TEXT, "categorical", [ODD_TEXT, "é", None, ODD_TEXT])],
        [("a", "integer", [1, None]), ("a", "string", ["x", "y"]), ("flag", "boolean", [True, False])],
        [(name, name, []) for name in ["integer", "float", "boolean", "string", "datetime", "categorical", "unknown"]],
        [("many", "categorical", [str(value) for value in range(51)])],
    ],
    ids=["no_columns", "empty_column", "all_null", "escapes", "repeated_names", "every_type", "too_many_values"],
)
def test_written_bytes_match_an_independent_encoding(tmp_path, columns):
    assert written(tmp_path, columns) == expected_document(columns)


def test_empty_schema_document(tmp_path):
    assert written(tmp_path, []) == b'{\n  "format_version": 1,\n  "schema": {\n    "columns": []\n  }\n}'


def test_every_control_byte_escape(tmp_path):
    document = written(tmp_path, [(CONTROL_BYTES, "integer", [1])])
    escaped = (
        "\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
        "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d"
        "\\u001e\\u001f"
    )
    assert f'"name": "{escaped}",'.encode() in document


def test_quote_backslash_tab_and_accent(tmp_path):
    document = written(tmp_path, [('a"b\\c\td\u00e9/\x7f', "integer", [1])])
    assert b'"name": "a\\"b\\\\c\\td\xc3\xa9/\x7f",' in document


def test_saving_again_truncates_a_longer_file(tmp_path):
    path = tmp_path / "schema.json"
    path.write_bytes(b"x" * 100_000)
    assert save([], str(path)) is None
    assert path.read_bytes() == expected_document([])


def test_keyword_arguments_and_str_subclass(tmp_path):
    class PathText(str):
        pass

    path = tmp_path / "schema.json"
    assert save(path=PathText(path), columns=EXAMPLE_COLUMNS) is None
    assert path.read_bytes() == EXAMPLE_DOCUMENT.encode()


def test_path_like_is_refused_before_columns_are_converted(tmp_path):
    path = tmp_path / "schema.json"
    raises_exactly(
        TypeError,
        "argument 'path': 'PosixPath' object cannot be converted to 'PyString'",
        save,
        [("a", "no_such_type", [1])],
        path,
    )
    assert not path.exists()


def test_column_errors_leave_the_file_untouched(tmp_path):
    path = tmp_path / "schema.json"
    path.write_bytes(b"keep")
    with pytest.raises(ValueError):
        save([("a", "integer", [1]), ("b", "integer", [1, 2])], str(path))
    assert path.read_bytes() == b"keep"


def test_missing_directory(tmp_path):
    raises_exactly(OSError, "No such file or directory (os error 2)", save, [], str(tmp_path / "no" / "s.json"))


def test_directory_as_path(tmp_path):
    raises_exactly(OSError, "Is a directory (os error 21)", save, [], str(tmp_path))
    raises_exactly(OSError, "Is a directory (os error 21)", validate_file, [], str(tmp_path))


def test_embedded_nul_in_path_is_refused(tmp_path):
    raises_exactly(OSError, "file name contained an unexpected NUL byte", save, [], str(tmp_path / "a\0b"))
    assert list(tmp_path.iterdir()) == []


def test_relative_path_resolves_against_the_current_directory(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    assert save([], "relative.json") is None
    assert (tmp_path / "relative.json").read_bytes() == expected_document([])


@pytest.mark.parametrize(
    "columns",
    [
        EXAMPLE_COLUMNS,
        [(ODD_TEXT, "categorical", [ODD_TEXT, "x"]), ("b", "boolean", [True, None])],
        [],
    ],
    ids=["example", "escapes", "no_columns"],
)
def test_saved_schema_reads_back_and_accepts_its_own_data(tmp_path, columns):
    path = str(tmp_path / "schema.json")
    save(columns, path)
    report = validate_file(columns, path)
    assert report == {"is_valid": True, "error_count": 0, "warning_count": 0, "issues": []}


def load_error(tmp_path, content):
    path = tmp_path / "schema.json"
    path.write_bytes(content)
    return path


VALID = b'{"format_version": 1, "schema": {"columns": []}}'


@pytest.mark.parametrize(
    "content, exc_type, message",
    [
        (b"", ValueError, "EOF while parsing a value at line 1 column 0"),
        (b'{"format_version": 1, "schema": {"columns": []}, "x": "\xff"}', OSError, "stream did not contain valid UTF-8"),
        (b"\xef\xbb\xbf" + VALID, ValueError, "expected value at line 1 column 1"),
        (VALID.replace(b"1", b"0"), ValueError, "Unsupported suggested schema format version: 0"),
        (VALID.replace(b"1", b"2"), ValueError, "Unsupported suggested schema format version: 2"),
        (VALID.replace(b"1", b"-1"), ValueError, "invalid value: integer `-1`, expected u32 at line 1 column 21"),
        (VALID + b"\n}", ValueError, "trailing characters at line 2 column 1"),
        (
            b'{\n  "format_version": 1,\n  "schema": {\n    "columns": [\n      {"name": "a", "logical_type": "integer",'
            b' "nullable": true}\n    ]\n  }\n}',
            ValueError,
            "missing field `constraints` at line 5 column 64",
        ),
        (
            b'{"format_version": 1, "schema": {"columns": [{"name": "a", "logical_type": "Integer"}]}}',
            ValueError,
            "unknown variant `Integer`, expected one of `integer`, `float`, `boolean`, `string`, `datetime`, "
            "`categorical`, `unknown` at line 1 column 84",
        ),
    ],
    ids=["empty", "invalid_utf8", "bom", "version_0", "version_2", "version_negative", "trailing", "missing_field",
         "unknown_type"],
)
def test_load_errors(tmp_path, content, exc_type, message):
    path = load_error(tmp_path, content)
    raises_exactly(exc_type, message, validate_file, [], str(path))
    assert path.read_bytes() == content


def test_load_missing_file(tmp_path):
    raises_exactly(OSError, "No such file or directory (os error 2)", validate_file, [], str(tmp_path / "absent.json"))


def test_load_accepts_extra_keys_reordered_members_and_arrays(tmp_path):
    content = (
        b'{"extra": {"deep": [1, 2.5, null]}, "schema": {"columns": [["a", {"integer": null}, false,'
        b' {"allowed_values": null}], {"constraints": {"numeric_range": {"max": 10, "min": 0, "x": 1}},'
        b' "nullable": true, "logical_type": "float", "name": "b", "y": "z"}]}, "format_version": 1}'
    )
    path = load_error(tmp_path, content)
    report = validate_file([("a", "integer", [1]), ("b", "float", [5.0, None])], str(path))
    assert report == {"is_valid": True, "error_count": 0, "warning_count": 0, "issues": []}
