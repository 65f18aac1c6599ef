"""JSON lines, or one JSON array of records, read with the standard json module for both engines.

The records' keys are the columns, in the order they first appear; a missing key is null. Each
column's type follows the JSON rules of ``_readers``; the engines then give the decided columns as
column tuples or as a pyarrow Table.
"""

from __future__ import annotations

import json
import re
from collections import Counter
from typing import Any

from nolt import _read_python
from nolt._readers import (
    INT64_MAX,
    INT64_MIN,
    VERBATIM_TYPES,
    CellError,
    ReadError,
    ReadOptions,
    Source,
    codec,
    cell_error,
    checked_names,
    datetime_cell,
    decoding_error,
    shape_note,
)
from nolt.types import ColumnTuple

_SPACE = re.compile(r"[ \t\r\n]*")  # JSON's whitespace


def _skip(text: str, position: int = 0) -> int:
    """The position of the first character at or after ``position`` that is no whitespace."""
    match = _SPACE.match(text, position)
    return position if match is None else match.end()


class _DuplicateKey(Exception):
    pass


def _object(pairs: list[tuple[str, Any]]) -> dict[str, Any]:
    record = dict(pairs)
    if len(record) != len(pairs):
        (key, _), *_ = [item for item in Counter(key for key, _ in pairs).items() if item[1] > 1]
        raise _DuplicateKey(key)
    return record


def read_json(source: Source, options: ReadOptions) -> list[ColumnTuple]:
    with source.open() as handle:
        raw = handle.read()
    try:
        text = raw.decode(codec(options.encoding))
    except UnicodeDecodeError:
        raise decoding_error(source, options.encoding) or ReadError(f"cannot decode {source.name}") from None
    del raw
    decoder = json.JSONDecoder(object_pairs_hook=_object)
    if text.startswith("[", _skip(text)):
        records, lines = _array(source, text, decoder)
    else:
        records, lines = _lines(source, text, decoder)
    if not records:
        raise ReadError(f"{source.name} holds no records")
    keys = list(dict.fromkeys(key for record in records for key in record))
    names = checked_names(keys, source, options.rename_duplicates)
    columns: list[ColumnTuple] = []
    for key, name in zip(keys, names):
        values = [record.get(key) for record in records]
        try:
            logical_type, cells = decide(name, values, options.types.get(name))
        except CellError as error:
            raise cell_error(source, error, lines[error.row]) from None
        columns.append((name, logical_type, cells))
    return columns


def _lines(source: Source, text: str, decoder: json.JSONDecoder) -> tuple[list[Any], list[int]]:
    records, lines = [], []
    for number, line in enumerate(text.split("\n"), 1):
        if not line.strip(" \t\r"):
            continue
        try:
            record = decoder.decode(line)
        except json.JSONDecodeError as error:
            raise ReadError(f"{source.name} line {number} column {error.colno}: {error.msg}") from None
        except _DuplicateKey as error:
            raise ReadError(f"{source.name} line {number}: duplicate key {error.args[0]!r} in one object") from None
        if not isinstance(record, dict):
            raise ReadError(f"{source.name} line {number} is not a JSON object")
        records.append(record)
        lines.append(number)
    return records, lines


def _array(source: Source, text: str, decoder: json.JSONDecoder) -> tuple[list[Any], list[int]]:
    """The records of one JSON array, and the line each starts on."""
    records, starts = [], []
    position = _skip(text, _skip(text) + 1)
    try:
        if text.startswith("]", position):
            position += 1
        else:
            while True:
                starts.append(position)
                record, position = decoder.raw_decode(text, position)
                records.append(record)
                position = _skip(text, position)
                if text.startswith(",", position):
                    position = _skip(text, position + 1)
                elif text.startswith("]", position):
                    position += 1
                    break
                else:
                    raise json.JSONDecodeError("Expecting ',' delimiter", text, position)
        position = _skip(text, position)
        if position != len(text):
            raise json.JSONDecodeError("Extra data", text, position)
    except json.JSONDecodeError as error:
        raise ReadError(f"{source.name} line {error.lineno} column {error.colno}: {error.msg}") from None
    except _DuplicateKey as error:
        line = text.count("\n", 0, starts[-1]) + 1
        raise ReadError(f"{source.name} line {line}: duplicate key {error.args[0]!r} in one object") from None
    lines, line, counted = [], 1, 0
    for start, record in zip(starts, records):
        line += text.count("\n", counted, start)
        counted = start
        if not isinstance(record, dict):
            raise ReadError(f"{source.name} line {line} is not a JSON object")
        lines.append(line)
    return records, lines


# -- the type of a column of JSON values -------------------------------------------------------


def _json_text(value: Any) -> Any:
    return None if value is None else json.dumps(value, ensure_ascii=False)


def _plain_text(value: Any) -> Any:
    return value if value is None or isinstance(value, str) else json.dumps(value, ensure_ascii=False)


def _in_int64(values: list[Any]) -> bool:
    integers = [value for value in values if value is not None]
    return bool(INT64_MIN <= min(integers) and max(integers) <= INT64_MAX)


def decide(name: str, values: list[Any], declared: str | None) -> tuple[str, list[Any]]:
    """The logical type and cells of a column of JSON values (None for null or missing)."""
    if declared is not None:
        return declared, _declared(name, values, declared)
    kinds = set(map(type, values)) - {type(None)}
    if not kinds:
        return "unknown", values
    if kinds == {bool}:
        return "boolean", values
    if kinds <= {int, float} and (int not in kinds or _in_int64(values)):
        if kinds == {int}:
            return "integer", values
        return "float", [None if value is None else float(value) for value in values]
    if kinds == {str}:
        datetimes = _read_python.datetimes(values)
        return ("string", values) if datetimes is None else ("datetime", datetimes)
    return "string", list(map(_json_text, values))  # mixed kinds, objects, arrays, integers past 64 bits


def _declared(name: str, values: list[Any], declared: str) -> list[Any]:
    if declared in VERBATIM_TYPES:
        return list(map(_plain_text, values))
    cells: list[Any] = []
    shape = None
    for row, value in enumerate(values):
        cell: Any = value
        if value is None:
            fits = True
        elif declared == "boolean":
            fits = isinstance(value, bool)
        elif declared == "integer":
            fits = type(value) is int and INT64_MIN <= value <= INT64_MAX
        elif declared == "float":
            try:
                cell = float(value) if type(value) in (int, float) else None
            except OverflowError:
                cell = None
            fits = cell is not None
        else:
            read = datetime_cell(value) if isinstance(value, str) else None
            shape = shape or (read[0] if read else None)
            fits = read is not None and read[0] == shape
            if read is not None and not fits:
                raise CellError(name, row, _shown(value), declared, shape_note(shape or "", read[0]))
            cell = read[1] if read else None
        if not fits:
            raise CellError(name, row, _shown(value), declared)
        cells.append(cell)
    return cells


def _shown(value: Any) -> str:
    text = json.dumps(value, ensure_ascii=False)
    return text if len(text) <= 60 else text[:60] + "..."
