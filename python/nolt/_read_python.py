"""The standard-library engine: the reading rules of ``_readers`` in plain Python.

It is also the reference the pyarrow engine asks when a file is refused: where the row is, which
cell does not fit. Its result is a list of column tuples.
"""

from __future__ import annotations

import io
from collections.abc import Callable, Iterator
from typing import Any

from nolt._progress import CountingReader, Progress
from nolt._readers import (
    BOOLEAN_WORDS,
    END_MARK,
    END_RECORD,
    FLOAT_CELL,
    INT64_MAX,
    INT64_MIN,
    INTEGER_CELL,
    NAN_INF_CELL,
    TRUE_WORDS,
    VERBATIM_TYPES,
    CellError,
    Head,
    ReadError,
    ReadOptions,
    Source,
    beyond_int64,
    cell_error,
    csv_reader,
    datetime_cell,
    decoding_error,
    fields_of_any_length,
    float_cell,
    integer_cell,
    shape_note,
    shown,
    tolerant_cells,
    unterminated,
)
from nolt.types import ColumnTuple

_TRUE = frozenset(TRUE_WORDS)


# -- CSV --------------------------------------------------------------------------------------


def read_csv(source: Source, head: Head, options: ReadOptions, progress: Progress) -> list[ColumnTuple]:
    rows = scan(source, head, options, progress)
    nulls = frozenset(options.null_values)
    fields_by_column = list(zip(*rows)) if rows else [() for _ in head.names]
    del rows
    columns: list[ColumnTuple] = []
    for name, fields in zip(head.names, fields_by_column):
        cells = [None if field in nulls else field for field in fields]
        try:
            logical_type, cells = decide(name, cells, options.types.get(name), options.tolerant)
        except CellError as error:
            raise cell_error(source, error, line_of_row(source, head, options, error.row)) from None
        columns.append((name, logical_type, cells))
    return columns


def _rows(source: Source, head: Head, options: ReadOptions, progress: Progress | None) -> Iterator[tuple[int, list[str] | None]]:
    """(line, fields) of every data row, by the shape rules; no fields for a quote left open."""
    width = len(head.names)
    with fields_of_any_length(), source.open() as raw:
        raw.seek(head.offset)
        stream = io.BufferedReader(CountingReader(raw, progress)) if progress is not None else raw  # type: ignore[arg-type]
        reader = csv_reader(io.TextIOWrapper(stream, encoding="utf-8", newline=""), head.delimiter)
        lines = head.lines  # lines read before the record
        try:
            for fields in reader:
                line, lines = lines + 1, head.lines + reader.line_num
                if not fields:
                    if width != 1:
                        continue  # blank lines are skipped, but in a one-column file
                    fields = [""]
                elif fields[-1].endswith(END_MARK):
                    yield line, None  # the last row: a quote left open runs to the end of the file
                    return
                elif fields == END_RECORD:
                    return
                yield line, fields
        except UnicodeDecodeError:
            raise decoding_error(source, options.encoding) or ReadError(f"cannot decode {source.name}") from None


def scan(source: Source, head: Head, options: ReadOptions, progress: Progress | None = None, keep: bool = True) -> list[list[str]]:
    """Every data row's fields. A row of the wrong width is refused once the whole text has
    decoded, so that a byte that does not decode is reported first, as the pyarrow engine does."""
    width = len(head.names)
    rows: list[list[str]] = []
    problem: ReadError | None = None
    for row, (line, fields) in enumerate(_rows(source, head, options, progress), 1):
        if problem is not None:
            continue
        if fields is None:
            problem = unterminated(source, line, row)
        elif len(fields) != width:
            noun = "field" if len(fields) == 1 else "fields"
            problem = ReadError(f"{source.name} row {row} (line {line}) has {len(fields)} {noun}, the header has {width}")
        elif keep:
            rows.append(fields)
    if problem is not None:
        raise problem
    return rows


def line_of_row(source: Source, head: Head, options: ReadOptions, row: int) -> int | None:
    """The line data row ``row`` (from 0) starts on."""
    for index, (line, _) in enumerate(_rows(source, head, options, None)):
        if index == row:
            return line
    return None


# -- the type of a column of text cells --------------------------------------------------------


Converter = Callable[[list[Any], list[str], bool], list[Any] | None]


def decide(name: str, cells: list[Any], declared: str | None, tolerant: bool = False) -> tuple[str, list[Any]]:
    """The logical type and cells of a column of text cells (None for null), by the rules.

    A cell that does not fit the declared type refuses the column, or when ``tolerant`` stays
    as written."""
    if declared in VERBATIM_TYPES:
        return declared, cells
    present = [cell for cell in cells if cell is not None]
    if not present:
        return declared or "unknown", cells
    if declared is None:
        for kind in ("boolean", "integer", "float", "datetime"):
            converted = _CONVERTERS[kind](cells, present, False)
            if converted is not None:
                return kind, converted
        return "string", cells
    converted = _CONVERTERS[declared](cells, present, True)
    if converted is None and tolerant:
        return declared, tolerant_cells(cells, declared)
    if converted is None:
        raise misfit(name, cells, declared)
    return declared, converted


def _booleans(cells: list[Any], present: list[str], declared: bool) -> list[Any] | None:
    if not BOOLEAN_WORDS.issuperset(present):
        return None
    return [None if cell is None else cell in _TRUE for cell in cells]


def _integers(cells: list[Any], present: list[str], declared: bool) -> list[Any] | None:
    if not all(map(INTEGER_CELL.fullmatch, present)) or any(len(cell) > 20 for cell in present):
        return None
    values = [None if cell is None else int(cell) for cell in cells]
    if any(len(cell) > 18 for cell in present) and not all(INT64_MIN <= value <= INT64_MAX for value in values if value is not None):
        return None
    return values


def _floats(cells: list[Any], present: list[str], declared: bool) -> list[Any] | None:
    if not all(map(FLOAT_CELL.fullmatch, present)):
        return None
    if not declared and any(beyond_int64(cell) for cell in present if len(cell) > 18):
        return None  # an integer past 64 bits stays text
    values = [None if cell is None else float(cell) for cell in cells]
    if any(value in _INFINITIES for value in values):
        if any(value in _INFINITIES and not NAN_INF_CELL.fullmatch(cell) for cell, value in zip(cells, values)):
            return None  # a number too large for a double
    return values


_INFINITIES = (float("inf"), float("-inf"))


def datetimes(cells: list[Any]) -> list[Any] | None:
    """The ISO 8601 text of a column of date or date-time cells of one shape, or None."""
    shape = None
    values: list[str | None] = []
    for cell in cells:
        if cell is None:
            values.append(None)
            continue
        read = datetime_cell(cell)
        if read is None or read[0] != (shape or read[0]):
            return None
        shape = read[0]
        values.append(read[1])
    return values


def _datetimes(cells: list[Any], present: list[str], declared: bool) -> list[Any] | None:
    return datetimes(cells) if datetime_cell(present[0]) is not None else None


_CONVERTERS: dict[str, Converter] = {"boolean": _booleans, "integer": _integers, "float": _floats, "datetime": _datetimes}


def misfit(name: str, cells: list[Any], declared: str) -> CellError:
    """The first cell of a column that does not fit its declared type."""
    shape = None
    for row, cell in enumerate(cells):
        if cell is None:
            continue
        if declared == "boolean":
            fits = cell in BOOLEAN_WORDS
        elif declared == "integer":
            fits = integer_cell(cell) is not None
        elif declared == "float":
            fits = float_cell(cell, any_integer=True) is not None
        else:
            read = datetime_cell(cell)
            shape = shape or (read[0] if read else None)
            fits = read is not None and read[0] == shape
            if read is not None and not fits:
                return CellError(name, row, shown(cell), declared, shape_note(shape or "", read[0]))
        if not fits:
            return CellError(name, row, shown(cell), declared)
    raise AssertionError(f"column '{name}' fits {declared}")


# -- other formats -----------------------------------------------------------------------------


def from_json(columns: list[ColumnTuple]) -> list[ColumnTuple]:
    return columns


def read_parquet(source: Source, options: ReadOptions, progress: Progress) -> Any:
    raise ReadError("reading Parquet files needs pyarrow: pip install 'nolt[pyarrow]'")
