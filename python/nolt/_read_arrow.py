"""The pyarrow engine: the reading rules of ``_readers`` on whole Arrow columns.

A CSV file is parsed by pyarrow's reader with every column as text (native and multi-threaded);
then each column's type is decided over the whole column with pyarrow.compute, cheap casts first
and pattern checks only where a cast accepts more than the rules do. The result is a pyarrow
Table whose column types stand for the logical types: bool, int64, float64, string, date32,
timestamp[s] or [us] (naive) and timestamp[s, UTC] or [us, UTC] (zone-aware), null for a column
without cells. When the file is refused, the standard-library engine finds the row, line and cell
to name, so both engines say the same.
"""

from __future__ import annotations

import itertools
import mmap
import os
import threading
from array import array
from collections.abc import Iterator, Sequence
from contextlib import contextmanager
from typing import Any

from nolt._columns import optional_module
from nolt._progress import CountingReader, Progress
from nolt._readers import (
    AWARE,
    BOOLEAN_WORDS,
    INTEGER_FORM,
    NAN_INF,
    VERBATIM_TYPES,
    TRUE_WORDS,
    CellError,
    Head,
    ReadError,
    ReadOptions,
    Source,
    cell_error,
    checked_names,
    datetime_cell,
    float_cell,
    integer_cell,
    tolerant_cells,
)
from nolt.types import ColumnTuple

_BLOCK = 1 << 20  # pyarrow's own block size; grown for rows that do not fit
_LARGEST_BLOCK = 2**31 - 1
_NAIVE_LENGTHS = (16, 19, 21, 22, 23, 24, 25, 26)  # YYYY-MM-DDTHH:MM, :SS, .f to .ffffff
_FIRST_MICROSECOND, _LAST_MICROSECOND = -62135596800_000000, 253402300799_999999  # 0001-01-01, 9999-12-31
_FIRST_DAY = -719162  # 0001-01-01 in days since 1970-01-01


def _python_engine() -> Any:
    """The standard-library engine, which finds the row and line a refused file is refused for."""
    from nolt import _read_python

    return _read_python


def _pa() -> Any:
    return optional_module("pyarrow")


def _pc() -> Any:
    return optional_module("pyarrow.compute")


def _arrow_type(logical_type: str | None) -> Any:
    pa = _pa()
    known = {"integer": pa.int64(), "float": pa.float64(), "boolean": pa.bool_(), "datetime": pa.timestamp("us")}
    return known.get(logical_type or "", pa.null())


# -- CSV --------------------------------------------------------------------------------------


def read_csv(source: Source, head: Head, options: ReadOptions, progress: Progress) -> Any:
    from concurrent.futures import ThreadPoolExecutor  # imported here: no other format needs it

    pa = _pa()
    text = _parse(source, head, options, progress)
    arrays = []
    # pyarrow.compute releases the interpreter lock: columns are decided side by side.
    with ThreadPoolExecutor(min(len(head.names), os.cpu_count() or 1)) as pool:
        decided = [pool.submit(decide, name, text.column(position), options.types.get(name), options.tolerant)
                   for position, name in enumerate(head.names)]
    for name, future in zip(head.names, decided):
        try:
            array = future.result()
        except CellError as error:
            _check_utf8(source, head, options, text)  # a byte that does not decode is reported first
            raise cell_error(source, error, _python_engine().line_of_row(source, head, options, error.row)) from None
        if isinstance(array, list):  # a declared column with cells kept as written (tolerant)
            _check_utf8(source, head, options, text.column(head.names.index(name)))
        elif pa.types.is_string(array.type):
            _check_utf8(source, head, options, array)
        arrays.append(array)
    del text, decided
    pa.default_memory_pool().release_unused()  # the text of the columns read as numbers and times
    if any(isinstance(array, list) for array in arrays):
        # Cells of mixed kinds fit no Arrow column: the columns are given as column tuples.
        from nolt._adapters import build_column
        from nolt._arrow import BACKEND

        return [(name, options.types[name], array) if isinstance(array, list) else build_column(BACKEND, name, array, None)
                for name, array in zip(head.names, arrays)]
    return pa.Table.from_arrays(arrays, names=head.names)


def _check_utf8(source: Source, head: Head, options: ReadOptions, text: Any) -> None:
    """Refuses text that is not UTF-8. The parser leaves it unchecked: the cells of a column read as
    numbers, booleans or times are ASCII, so only the columns kept as text need the check."""
    try:
        text.validate(full=True)
    except _pa().ArrowInvalid:
        _python_engine().scan(source, head, options, keep=False)  # raises the error it finds
        raise


def _parse(source: Source, head: Head, options: ReadOptions, progress: Progress) -> Any:
    """Every column as text (nulls already null); the standard-library engine explains failures."""
    pa, pcsv = _pa(), optional_module("pyarrow.csv")
    width = len(head.names)
    names = [str(position) for position in range(width)]
    if head.offset >= source.size:  # a header alone
        return pa.table({name: pa.nulls(0, pa.string()) for name in names})
    # Quoted fields may hold line ends, which pyarrow then has to look for when it splits the file
    # into blocks; without a quote in the file there are none, and the split is quicker.
    parse = pcsv.ParseOptions(delimiter=head.delimiter, newlines_in_values=_has_quote(source, head.offset),
                              ignore_empty_lines=width > 1)
    convert = pcsv.ConvertOptions(
        column_types={name: pa.string() for name in names},
        null_values=list(options.null_values),
        strings_can_be_null=True,
        quoted_strings_can_be_null=True,
        check_utf8=False,  # see _check_utf8
    )
    block = _BLOCK
    while True:
        with _stream(source, head.offset, progress) as stream:
            try:
                text = pcsv.read_csv(stream, read_options=pcsv.ReadOptions(column_names=names, block_size=block),
                                     parse_options=parse, convert_options=convert)
                break
            except pa.ArrowInvalid as error:
                if "straddl" in str(error) and block < _LARGEST_BLOCK:
                    block = min(block * 8, _LARGEST_BLOCK)  # a row longer than the block
                    continue
                if "straddl" in str(error):
                    raise ReadError(f"{source.name}: a row is longer than 2 GiB, the most the pyarrow reader takes "
                                    "in one block; use --engine python") from None
                _python_engine().scan(source, head, options, keep=False)  # raises the error it finds
                raise
    last = text.column(width - 1)[-1] if text.num_rows else None
    if last is not None and _left_open(source, head, options, last.as_buffer().to_pybytes() if last.is_valid else None):
        _python_engine().scan(source, head, options, keep=False)
    return text


@contextmanager
def _stream(source: Source, offset: int, progress: Progress) -> Iterator[Any]:
    """The source from ``offset`` on: read natively, or through Python for a progress bar."""
    pa = _pa()
    if progress.enabled and source.content is None:
        with source.open() as raw:
            raw.seek(offset)
            yield CountingReader(raw, progress)  # type: ignore[arg-type]
        return
    with pa.BufferReader(source.content) if source.content is not None else pa.OSFile(source.path) as stream:
        stream.seek(offset)
        yield stream


def _has_quote(source: Source, offset: int) -> bool:
    if source.content is not None:
        return source.content.find(b'"', offset) >= 0
    with open(source.path, "rb") as handle, mmap.mmap(handle.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
        return mapped.find(b'"', offset) >= 0


def _left_open(source: Source, head: Head, options: ReadOptions, last: bytes | None) -> bool:
    """Whether the file ends inside a quoted field, which pyarrow reads to the end of the file.

    Such a field is the last one read, and the file ends with an opening quote and the field's
    text with every quote doubled, just after a delimiter or a line end.
    """
    values = [value.encode("utf-8", errors="surrogatepass") for value in options.null_values] if last is None else [last]
    with source.open() as handle:
        for value in values:
            quoted = b'"' + value.replace(b'"', b'""')
            start = source.size - len(quoted)
            if start < head.offset:
                continue
            handle.seek(max(start - 1, head.offset))
            tail = handle.read()
            before, rest = (tail[:1], tail[1:]) if start > head.offset else (b"\n", tail)
            if rest == quoted and before in (b"\n", b"\r", head.delimiter.encode()):
                return True
    return False


# -- the type of a column of text cells --------------------------------------------------------


def decide(name: str, column: Any, declared: str | None, tolerant: bool = False) -> Any:
    """The typed column of a text column, by the rules; its Arrow type is its logical type.

    With ``tolerant``, a declared column with cells that do not fit is a list of its cells,
    the fitting ones read and the others as written."""
    pa, pc = _pa(), _pc()
    if declared in VERBATIM_TYPES:
        return column
    if column.null_count == len(column):
        return pa.nulls(len(column), _arrow_type(declared))
    try:
        first = _first(column)
    except UnicodeDecodeError:  # not UTF-8: the column stays text, which is checked and refused
        return column
    if declared is None:
        if first in BOOLEAN_WORDS:
            converted = _booleans(column)
        elif integer_cell(first) is not None:
            converted = _integers(column)
            if converted is None:
                converted = _floats(column, False)
        elif float_cell(first) is not None:
            converted = _floats(column, False)
        else:
            read = datetime_cell(first)
            converted = None if read is None else _datetimes(column, read[0])
        return column if converted is None else converted
    if declared == "boolean":
        converted = _booleans(column)
    elif declared == "integer":
        converted = _integers(column)
    elif declared == "float":
        converted = _floats(column, True)
    else:
        read = datetime_cell(first)
        converted = None if read is None else _datetimes(column, read[0])
    if converted is None and tolerant:
        return tolerant_cells(column.to_pylist(), declared)
    if converted is None:
        raise _python_engine().misfit(name, column.to_pylist(), declared)
    return converted


def _first(column: Any) -> Any:
    """The first value that is not null (pc.index is slow on long columns: one chunk is enough)."""
    chunk = next(chunk for chunk in column.chunks if chunk.null_count < len(chunk))
    return chunk.drop_null()[0].as_py()


def _any(mask: Any) -> bool:
    return bool(_pc().any(mask).as_py())


def _all(mask: Any) -> bool:
    return _pc().all(mask).as_py() is not False  # nulls are skipped; all of nothing is true


def _cast(column: Any, arrow_type: Any) -> Any | None:
    try:
        return column.cast(arrow_type)
    except _pa().ArrowInvalid:
        return None


# Arrays of Python objects are built from buffers: pyarrow's conversion of Python objects imports
# pandas when it is installed, which would cost more than reading a small file.


def _texts(values: Sequence[str]) -> Any:
    pa = _pa()
    data = [value.encode() for value in values]
    offsets = array("i", itertools.accumulate(map(len, data), initial=0))
    return pa.Array.from_buffers(pa.string(), len(data), [None, pa.py_buffer(offsets.tobytes()), pa.py_buffer(b"".join(data))])


def _int32s(values: Sequence[int]) -> Any:
    pa = _pa()
    return pa.Array.from_buffers(pa.int32(), len(values), [None, pa.py_buffer(array("i", values).tobytes())])


def _in(values: Any, allowed: Any) -> bool:
    """Whether every value that is not null is one of the allowed (is_in gives false for a null)."""
    present = len(values) - values.null_count
    return present == 0 or bool(_pc().sum(_pc().is_in(values, value_set=allowed)).as_py() == present)


def _booleans(column: Any) -> Any | None:
    pa, pc = _pa(), _pc()
    if not _in(column, _texts(sorted(BOOLEAN_WORDS))):
        return None
    truth = pc.is_in(column, value_set=_texts(TRUE_WORDS))
    return pc.if_else(pc.is_valid(column), truth, pa.nulls(1, pa.bool_())[0])


def _integers(column: Any) -> Any | None:
    """int64 of the column, when every cell is an integer written plainly (no +, no leading 0)."""
    pc = _pc()
    values = _cast(column, _pa().int64())  # takes '+5', '007', '0x1f' too: refused below
    if values is None:
        return None
    if _any(pc.starts_with(column, "+")) or _any(pc.starts_with(column, "-0")):
        return None
    zero = pc.starts_with(column, "0")
    if _any(zero) and pc.max(pc.binary_length(column.filter(zero))).as_py() > 1:
        return None
    return values


def _floats(column: Any, declared: bool) -> Any | None:
    """float64 of the column, when every cell is a decimal number, NaN or infinity by the rules."""
    pa, pc = _pa(), _pc()
    values = _cast(column, pa.float64())  # takes '+1', '01.5', '-nan', '1e400' too: refused below
    if values is None or _any(pc.starts_with(column, "+")):
        return None
    zero = pc.or_(pc.starts_with(column, "0"), pc.starts_with(column, "-0"))
    if _any(zero) and not _all(pc.match_substring_regex(column.filter(zero), r"^-?0(?:[.eE]|$)")):
        return None
    odd = pc.invert(pc.is_finite(values))
    if _any(odd) and not _in(pc.utf8_lower(column.filter(odd)), _texts(sorted(NAN_INF))):
        return None  # NaN or infinity in another spelling, or a number too large for a double
    bounds = pc.min_max(values).as_py()  # NaN is left out, unless every value is NaN
    if not declared and (bounds["min"] <= -(2.0**63) or bounds["max"] >= 2.0**63):
        large = pc.greater_equal(pc.abs(values), 2.0**63)
        if _any(large):
            texts = column.filter(large)
            integers = texts.filter(pc.match_substring_regex(texts, f"^{INTEGER_FORM}$"))
            if len(integers) and _cast(integers, pa.int64()) is None:
                return None  # an integer past 64 bits stays text
    return values


def _datetimes(column: Any, shape: str) -> Any | None:
    """date32 or a timestamp of the column, when every cell is a real date or time of one shape."""
    pa, pc = _pa(), _pc()
    lengths = pc.binary_length(column)
    if shape == "date":
        if pc.min_max(lengths).as_py() != {"min": 10, "max": 10}:
            return None
        values = _cast(column, pa.date32())
        if values is None or pc.min(values.cast(pa.int32())).as_py() < _FIRST_DAY:
            return None
        return values
    if shape == "naive" and not _in(lengths, _int32s(_NAIVE_LENGTHS)):
        return None
    values = _cast(column, pa.timestamp("us", None if shape == "naive" else "UTC"))
    if values is None or (shape == "aware" and not _all(pc.match_substring_regex(column, f"^{AWARE}$"))):
        return None  # (the pattern is checked once the cast has found the text ASCII)
    bounds = pc.min_max(values.cast(pa.int64())).as_py()
    if bounds["min"] < _FIRST_MICROSECOND or bounds["max"] > _LAST_MICROSECOND:
        return None  # the year 0000, or past 9999 once in UTC
    seconds = _cast(values, pa.timestamp("s", values.type.tz))  # whole seconds, as pyarrow would infer them
    return values if seconds is None else seconds


# -- other formats -----------------------------------------------------------------------------


def from_json(columns: list[ColumnTuple]) -> Any:
    """The Table of the columns the JSON reader decided."""
    pa = _pa()
    arrays = [_json_array(column[1], list(column[2])) for column in columns]
    return pa.Table.from_arrays(arrays, names=[column[0] for column in columns])


def _json_array(logical_type: str, cells: list[Any]) -> Any:
    pa = _pa()
    present = next((cell for cell in cells if cell is not None), None)
    if present is None:
        return pa.nulls(len(cells), _arrow_type(logical_type))
    if logical_type == "datetime":
        target = pa.date32() if len(present) == 10 else pa.timestamp("us", "UTC" if present.endswith("+00:00") else None)
        return pa.array(cells, pa.string()).cast(target)
    arrow_type = _arrow_type(logical_type)
    return pa.array(cells, pa.string() if logical_type in VERBATIM_TYPES else arrow_type)


def read_parquet(source: Source, options: ReadOptions, progress: Progress) -> tuple[Any, dict[str, str]]:
    """The file's Arrow Table, read by pyarrow's own file object (no reads through Python), and
    the logical type of each column read in another form than its own.

    Row group by row group, each decoded on every core, several groups at once; the groups stay
    the table's chunks (reading the whole file in one call would copy every column into one
    chunk). With ``options.text_dictionaries``, the undeclared text columns that the file holds as
    dictionary indexes throughout are read as Arrow dictionaries, which are "string" columns."""
    pa = _pa()
    indexed: list[str] = []
    if options.text_dictionaries:
        with _parquet_file(source) as parquet_file:
            indexed = [name for name in indexed_text_columns(source, parquet_file.schema_arrow) if name not in options.types]
    with _parquet_file(source, indexed) as parquet_file:
        tables = _row_groups(parquet_file, lambda: _parquet_file(source, indexed, parquet_file.metadata), progress)
        table = pa.concat_tables(tables) if tables else parquet_file.schema_arrow.empty_table()
    names = checked_names(table.column_names, source, options.rename_duplicates)
    declared = {names[table.column_names.index(name)]: "string" for name in indexed}
    return table.rename_columns(names), declared


_GROUPS_AT_ONCE = 8


def _row_groups(parquet_file: Any, another_file: Any, progress: Progress) -> list[Any]:
    """Every row group of the file, in order, several read at once.

    pyarrow decodes a group's columns in parallel, so a group takes as long as its slowest column
    (a text column, typically) while the other cores run out of columns. Groups read at once keep
    every core busy. A file reader cannot be shared between threads: each helper thread opens its
    own (``another_file()``, from the footer already read). The first failure, in whichever
    thread, stops the reading and is raised here; no helper outlives the call."""
    groups = parquet_file.num_row_groups
    progress.total = max(groups, 1)
    tables: list[Any] = [None] * groups
    claimed = itertools.count()  # next() on it is atomic
    finished = itertools.count(1)
    failures: list[BaseException] = []

    def read_groups(reader: Any, caller: bool) -> None:
        while not failures and (group := next(claimed)) < groups:
            tables[group] = reader.read_row_group(group)
            done = next(finished)
            if caller:  # the progress bar is drawn by the caller's thread alone
                progress.update(done)

    def helper() -> None:
        try:
            with another_file() as reader:
                read_groups(reader, False)
        except BaseException as error:  # raised by the caller's thread
            failures.append(error)

    helpers = [threading.Thread(target=helper, name=f"nolt-parquet-{idx}", daemon=True)
               for idx in range(min(groups, _pa().cpu_count(), _GROUPS_AT_ONCE) - 1)]
    try:
        for thread in helpers:
            thread.start()
        read_groups(parquet_file, True)
    except BaseException as error:
        failures.insert(0, error)
    finally:
        for thread in helpers:
            if thread.ident is not None:
                thread.join()
    if failures:
        raise failures[0]
    return tables


def _parquet_file(source: Source, dictionaries: Sequence[str] = (), metadata: Any = None) -> Any:
    """The file opened for pyarrow, the named columns to be read as dictionaries (``metadata``:
    its footer, already read). A file on disk is read, not mapped: a mapped file cut short by
    another program while it is read would end the process with a bus error instead of a read
    error."""
    pa, parquet = _pa(), optional_module("pyarrow.parquet")
    # pre_buffer: a row group's column chunks are fetched in a few large reads, not page by page.
    options = {"read_dictionary": dictionaries or None, "pre_buffer": True, "metadata": metadata}
    if source.content is not None:
        return parquet.ParquetFile(pa.BufferReader(source.content), **options)
    return parquet.ParquetFile(source.path, **options)


# -- Parquet columns stored as dictionary indexes ------------------------------------------------
#
# A text column chunk is written as a dictionary page and data pages of indexes into it, until
# the dictionary grows too large and the writer falls back to plain pages. Where every data page
# of every row group holds indexes, pyarrow can hand the column over as Arrow dictionaries without
# building a string per row. pyarrow does not show which encoding each page uses, so the
# footer's page encoding statistics are read here (the footer is Thrift's compact protocol).

_DATA_PAGES = (0, 3)  # DATA_PAGE, DATA_PAGE_V2
_INDEX_ENCODINGS = (2, 8)  # PLAIN_DICTIONARY, RLE_DICTIONARY
_LARGEST_FOOTER = 1 << 24


class _Compact:
    """Reads the structs of Thrift's compact protocol as {field id: value}."""

    def __init__(self, data: bytes) -> None:
        self.data, self.at = data, 0

    def byte(self) -> int:
        value = self.data[self.at]
        self.at += 1
        return value

    def varint(self) -> int:
        value = shift = 0
        while True:
            byte = self.byte()
            value |= (byte & 0x7F) << shift
            shift += 7
            if byte < 0x80:
                return value

    def integer(self) -> int:
        value = self.varint()
        return (value >> 1) ^ -(value & 1)

    def value(self, kind: int) -> Any:
        if kind in (1, 2):  # booleans in a struct carry their value in the type
            return kind == 1
        if kind == 3:
            return self.byte()
        if kind in (4, 5, 6):
            return self.integer()
        if kind == 7:
            self.at += 8
            return None
        if kind == 8:
            size = self.varint()
            self.at += size
            return self.data[self.at - size : self.at]
        if kind in (9, 10):
            header = self.byte()
            size, item = header >> 4, header & 0x0F
            if size == 15:
                size = self.varint()
            if item in (1, 2):  # booleans in a list take a byte each
                return [self.byte() == 1 for _ in range(size)]
            return [self.value(item) for _ in range(size)]
        if kind == 11:
            size = self.varint()
            kinds = self.byte() if size else 0
            return {self.value(kinds >> 4): self.value(kinds & 0x0F) for _ in range(size)}
        if kind == 12:
            return self.struct()
        raise ValueError(f"unknown Thrift type {kind}")

    def struct(self) -> dict[int, Any]:
        fields: dict[int, Any] = {}
        last = 0
        while (header := self.byte()) != 0:
            delta, kind = header >> 4, header & 0x0F
            last = last + delta if delta else self.integer()
            fields[last] = self.value(kind)
        return fields


def indexed_text_columns(source: Source, schema: Any) -> list[str]:
    """The text columns whose every data page, in every row group, holds dictionary indexes.

    A footer that cannot be read here (encrypted, without page statistics, malformed) names none.
    """
    pa = _pa()
    text = {name for name, data_type in zip(schema.names, schema.types)
            if pa.types.is_string(data_type) or pa.types.is_large_string(data_type)}
    if not text:
        return []
    try:
        with source.open() as handle:
            handle.seek(max(source.size - 8, 0))
            tail = handle.read(8)
            length = int.from_bytes(tail[:4], "little")
            if tail[4:] != b"PAR1" or not 0 < length <= min(_LARGEST_FOOTER, source.size - 12):
                return []
            handle.seek(source.size - 8 - length)
            footer = _Compact(handle.read(length)).struct()
        indexed: dict[str, bool] = {}
        for row_group in footer.get(4, []):
            for chunk in row_group.get(1, []):
                meta = chunk.get(3, {})
                path = [part.decode("utf-8", "surrogateescape") for part in meta.get(3, [])]
                name = path[0] if len(path) == 1 else ""
                pages = [entry for entry in meta.get(13, []) if entry.get(1) in _DATA_PAGES]
                fits = bool(pages) and all(entry.get(2) in _INDEX_ENCODINGS for entry in pages)
                indexed[name] = indexed.get(name, True) and fits
    except (ValueError, IndexError, AttributeError, TypeError, RecursionError):  # nesting past any real footer
        return []
    if not footer.get(4):
        return []
    return [name for name in schema.names if name in text and indexed.get(name, False)]
