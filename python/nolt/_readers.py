"""Reading CSV, Parquet and JSON-lines files for the command line.

With pyarrow installed its readers are used; otherwise CSV and JSON lines are read with the
standard csv and json modules (Parquet needs pyarrow). Both engines follow the same rules:

- an empty CSV field is null; a JSON null is null;
- a declared type (``--types``) is applied while reading;
- otherwise a CSV column is "boolean" when every non-empty field is true or false (any
  capitalisation pyarrow accepts: true, True, TRUE), "integer" when every field is a whole
  number within 64 bits, "float" when every field is a decimal number, "datetime" when every
  field is an ISO 8601 date or date and time (written back as ISO 8601 text), "unknown" when
  every field is empty, and "string" otherwise.
"""

from __future__ import annotations

import csv
import io
import json
import os
import re
from collections.abc import Callable, Sequence
from datetime import datetime, timezone
from importlib.util import find_spec
from typing import IO, Any

from nolt._columns import optional_module
from nolt._progress import CountingReader, Progress

FORMATS = ("csv", "tsv", "parquet", "jsonl")
_SUFFIXES = {".csv": "csv", ".tsv": "tsv", ".parquet": "parquet", ".pq": "parquet", ".jsonl": "jsonl", ".ndjson": "jsonl"}

_TRUE = frozenset({"true", "True", "TRUE"})
_FALSE = frozenset({"false", "False", "FALSE"})
_INTEGER = re.compile(r"[+-]?\d+")
_DECIMAL = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?")
_DATE = re.compile(r"\d{4}-\d{2}-\d{2}")
_DATETIME = re.compile(r"\d{4}-\d{2}-\d{2}(?:[T ]\d{2}:\d{2}(?::\d{2}(?:\.\d{1,6})?)?(?:Z|[+-]\d{2}:\d{2})?)?")
_INT64 = (-(2**63), 2**63 - 1)


class ReadError(Exception):
    """Input the command line cannot read: reported in one line, exit status 2."""


def detect_format(path: str, declared: str | None) -> str:
    if declared:
        return declared
    suffix = os.path.splitext(path)[1].lower()
    if suffix not in _SUFFIXES:
        raise ReadError(f"cannot tell the format of {path}: use a .csv, .tsv, .parquet or .jsonl name, or --format")
    return _SUFFIXES[suffix]


def have_pyarrow() -> bool:
    return find_spec("pyarrow") is not None


def read(path: str, types: dict[str, str], file_format: str | None = None, engine: str = "auto") -> Any:
    """Reads a data file into a pyarrow Table (pyarrow engine) or a list of column tuples."""
    file_format = detect_format(path, file_format)
    if not os.path.isfile(path):
        raise ReadError(f"no such file: {path}")
    use_arrow = engine == "pyarrow" or (engine == "auto" and have_pyarrow())
    if engine == "pyarrow" and not have_pyarrow():
        raise ReadError("the pyarrow engine needs pyarrow: pip install 'nolt[pyarrow]'")
    if file_format == "parquet" and not use_arrow:
        raise ReadError("reading Parquet files needs pyarrow: pip install 'nolt[pyarrow]'")
    progress = Progress(os.path.basename(path), os.path.getsize(path))
    try:
        return _read(path, file_format, use_arrow, types, progress)
    except ReadError:
        raise
    except Exception as error:  # the readers' own errors, said with the file's name
        lines = [line.strip() for line in str(error).splitlines() if line.strip()]
        raise ReadError(f"cannot read {path}: {'; '.join(lines) or type(error).__name__}") from error
    finally:
        progress.finish()


def _read(path: str, file_format: str, use_arrow: bool, types: dict[str, str], progress: Progress) -> Any:
    if file_format == "parquet":
        return _read_parquet(path, progress)
    with open(path, "rb") as handle:
        stream = io.BufferedReader(CountingReader(handle, progress))
        if use_arrow:
            return _read_arrow_text(stream, file_format, types)
        text = io.TextIOWrapper(stream, encoding="utf-8-sig", newline="")
        if file_format == "jsonl":
            return _read_json_lines(text, path, types)
        return _read_csv(text, path, "\t" if file_format == "tsv" else ",", types)


# -- pyarrow engine ---------------------------------------------------------------------------

_ARROW_TYPES = {"integer": "int64", "float": "float64", "boolean": "bool_", "string": "string", "categorical": "string", "unknown": "string"}


def _read_arrow_text(stream: IO[bytes], file_format: str, types: dict[str, str]) -> Any:
    pa = optional_module("pyarrow")
    if file_format == "jsonl":
        return optional_module("pyarrow.json").read_json(stream)
    pcsv = optional_module("pyarrow.csv")
    column_types = {name: getattr(pa, _ARROW_TYPES[kind])() for name, kind in types.items() if kind in _ARROW_TYPES}
    options = pcsv.ConvertOptions(
        column_types=column_types,
        null_values=[""],
        strings_can_be_null=True,
        quoted_strings_can_be_null=True,
        true_values=sorted(_TRUE),
        false_values=sorted(_FALSE),
    )
    parse = pcsv.ParseOptions(delimiter="\t" if file_format == "tsv" else ",")
    return pcsv.read_csv(stream, parse_options=parse, convert_options=options)


def _read_parquet(path: str, progress: Progress) -> Any:
    parquet = optional_module("pyarrow.parquet")
    source = parquet.ParquetFile(path)
    groups = source.num_row_groups
    progress.total = max(groups, 1)
    tables = []
    for group in range(groups):
        tables.append(source.read_row_group(group))
        progress.update(group + 1)
    if not tables:
        return source.schema_arrow.empty_table()
    return optional_module("pyarrow").concat_tables(tables)


# -- standard-library engine -----------------------------------------------------------------


def _iso(text: str) -> str:
    if _DATE.fullmatch(text):
        return text
    moment = datetime.fromisoformat(text)
    if moment.tzinfo is not None:
        moment = moment.astimezone(timezone.utc)
    return moment.isoformat()


def _boolean(text: str) -> bool:
    if text in _TRUE or text == "1":
        return True
    if text in _FALSE or text == "0":
        return False
    raise ValueError(text)


def _integer(text: str) -> int:
    value = int(text)
    if not _INT64[0] <= value <= _INT64[1]:
        raise ValueError(text)
    return value


_TEXT_PARSERS: dict[str, Callable[[str], object]] = {
    "integer": _integer,
    "float": float,
    "boolean": _boolean,
    "datetime": lambda text: _iso(text) if _DATETIME.fullmatch(text) else text,
}


def _infer_text_type(fields: Sequence[str]) -> str:
    present = [field for field in fields if field != ""]
    if not present:
        return "unknown"
    if all(field in _TRUE or field in _FALSE for field in present):
        return "boolean"
    if all(map(_INTEGER.fullmatch, present)) and all(_INT64[0] <= int(field) <= _INT64[1] for field in present):
        return "integer"
    if all(map(_DECIMAL.fullmatch, present)):
        return "float"
    if all(map(_DATETIME.fullmatch, present)):
        return "datetime"
    return "string"


def _parse_fields(path: str, name: str, fields: Sequence[str], logical_type: str) -> list[object]:
    parser = _TEXT_PARSERS.get(logical_type)
    if parser is None:
        return [None if field == "" else field for field in fields]
    cells: list[object] = []
    for row, field in enumerate(fields, 1):
        if field == "":
            cells.append(None)
            continue
        try:
            cells.append(parser(field))
        except ValueError:
            raise ReadError(f"{path} row {row}, column '{name}': cannot read '{field}' as {logical_type}") from None
    return cells


def _read_csv(text: io.TextIOWrapper, path: str, delimiter: str, types: dict[str, str]) -> list[Any]:
    try:
        rows = list(csv.reader(text, delimiter=delimiter, strict=True))
    except csv.Error as error:
        raise ReadError(f"{path}: {error}") from None
    if not rows:
        return []
    header, records = rows[0], rows[1:]
    for row_number, record in enumerate(records, 1):
        if len(record) > len(header):
            raise ReadError(f"{path} row {row_number} has {len(record)} fields; the header has {len(header)}")
        if len(record) < len(header):
            record.extend([""] * (len(header) - len(record)))
    columns: list[Any] = []
    for position, name in enumerate(header):
        fields = [record[position] for record in records]
        logical_type = types.get(name) or _infer_text_type(fields)
        columns.append((name, logical_type, _parse_fields(path, name, fields, logical_type)))
    return columns


def _json_type(values: Sequence[object]) -> str:
    kinds = {type(value) for value in values} - {type(None)}
    if not kinds:
        return "unknown"
    if kinds == {bool}:
        return "boolean"
    if kinds == {int}:
        return "integer"
    if kinds <= {int, float}:
        return "float"
    if kinds == {str}:
        texts: list[Any] = [value for value in values if value is not None]
        return "datetime" if all(map(_DATETIME.fullmatch, texts)) else "string"
    return "unknown"


def _json_text(value: object) -> object:
    if value is None or isinstance(value, str):
        return value
    return json.dumps(value, ensure_ascii=False)


def _json_cells(path: str, name: str, values: list[object], logical_type: str) -> list[object]:
    if logical_type in ("string", "categorical"):
        return list(map(_json_text, values))
    if logical_type == "datetime":
        return [_iso(value) if isinstance(value, str) and _DATETIME.fullmatch(value) else _json_text(value) for value in values]
    if logical_type == "unknown":
        return [_json_text(value) if isinstance(value, (list, dict)) else value for value in values]
    accepted: dict[str, tuple[type, ...]] = {"integer": (int,), "float": (int, float), "boolean": (bool,)}
    for row, value in enumerate(values, 1):
        wrong_bool = isinstance(value, bool) and logical_type != "boolean"
        if value is not None and (wrong_bool or not isinstance(value, accepted[logical_type])):
            raise ReadError(f"{path} row {row}, column '{name}': cannot read {json.dumps(value)} as {logical_type}")
    return values


def _read_json_lines(text: io.TextIOWrapper, path: str, types: dict[str, str]) -> list[Any]:
    records: list[dict[str, object]] = []
    for line_number, line in enumerate(text, 1):
        if not line.strip():
            continue
        try:
            record = json.loads(line)
        except ValueError as error:
            raise ReadError(f"{path} line {line_number}: {getattr(error, 'msg', error)}") from None
        if not isinstance(record, dict):
            raise ReadError(f"{path} line {line_number} is not a JSON object")
        records.append(record)
    names = dict.fromkeys(name for record in records for name in record)
    columns: list[Any] = []
    for name in names:
        values = [record.get(name) for record in records]
        logical_type = types.get(name) or _json_type(values)
        columns.append((name, logical_type, _json_cells(path, name, values, logical_type)))
    return columns


