"""Reading CSV, TSV, Parquet and JSON files: one set of rules, two engines.

With pyarrow installed its CSV parser and compute functions are used (``_read_arrow``, giving a
pyarrow Table); otherwise the standard csv module (``_read_python``, giving column tuples).
JSON is read with the standard json module in both (``_read_json``); Parquet needs pyarrow.
Both engines follow the rules below and give the same columns, or the same one-line error: the
shared-corpus test holds them to it. The rules are written here once; the patterns below are the
reference both engines implement.

A CSV field is null when it equals one of the null values (default: the empty field, quoted or
not); a JSON null or a missing key is null. Every other field is a cell, and a column's type is
the first of these rules that every cell of the column fits:

=========  =========================================================================================
type       every cell is
=========  =========================================================================================
unknown    (there are no cells: every field is null, or there are no rows)
boolean    ``true``, ``True``, ``TRUE``, ``false``, ``False`` or ``FALSE``
integer    an integer written plainly: ASCII digits, no leading zero, an optional ``-`` (no ``+``),
           within signed 64 bits: ``0``, ``-12``, ``9223372036854775807``
float      a decimal number: an optional ``-``, digits without a leading zero and an optional
           fraction and exponent (``1.5``, ``-0.25``, ``.5``, ``5.``, ``1e-3``, ``-0``), or NaN or
           infinity written ``nan``, ``inf``, ``-inf``, ``infinity``, ``-infinity`` in any
           capitalisation; an integer among them must fit 64 bits, and no number may be too large
           for a double (``1e400``)
datetime   one shape for the whole column: dates ``YYYY-MM-DD``; or date-times
           ``YYYY-MM-DD[T or space]HH:MM[:SS[.ffffff]]``; or such date-times with a zone, ``Z`` or
           ``+HH:MM``/``-HH:MM``; all real calendar dates and times of the years 0001 to 9999
string     anything else: a cell that fits no rule makes its column text, kept exactly as written
=========  =========================================================================================

So ``+5``, ``007``, ``08123``, ``" 1"``, ``1_000``, ``١٢`` and ``9223372036854775808`` are text,
and so is their column; ``2024-02-30`` is text; a column mixing dates, date-times or zones is
text. Cells are given as written except: integers and floats as numbers; dates as written;
date-times as ISO 8601 ``YYYY-MM-DDTHH:MM:SS[.ffffff]``, zone-aware ones converted to UTC with
``+00:00``.

A type declared with ``--types`` is applied instead: every cell must fit that type's rule, or the
file is refused naming the row, the line, the column and the cell (a declared boolean takes no
``1`` or ``0``; a declared float also takes integers past 64 bits); a declared string,
categorical or unknown column keeps every cell as written.

JSON (JSON lines, or one array of records) keeps JSON's own kinds: booleans are "boolean",
integers within 64 bits "integer", numbers "float", strings "string", or "datetime" when every
string fits one datetime shape above. A field that mixes kinds, holds an object or an array, or an
integer past 64 bits is a "string" column of each value's JSON text (``"Up"`` with its quotes,
``1984``, ``{"type": "Point"}``), so no two different values read alike. Columns follow the order
in which keys first appear; a record with a duplicate key is refused.

Shape of a CSV file:

- the header is the first non-blank line; a file without one (empty, or blank lines only) is
  refused; a header alone gives its columns with no rows;
- column names must be present and unique, or the file is refused naming them and their columns
  (``rename_duplicates`` renames ``a, b, a`` to ``a, b, a.1`` and an empty name to
  ``column_N``, N its position);
- every row has as many fields as the header, or the file is refused: "row 7 (line 8) has 2
  fields, the header has 3". Rows count the data rows from 1; lines count physical lines from 1,
  the header's included, so a quoted newline makes them differ; a message gives the line where
  the row starts;
- blank lines are skipped in a file of two or more columns; in a one-column file a blank line is
  a row holding the empty field (so a null by default), as writers write a missing value there;
- a quoted field that is not closed before the end of the file is refused;
- line ends may be LF, CRLF or CR alone; a UTF-8 byte-order mark is skipped; fields may be of
  any length;
- the delimiter is ``--delimiter``, a tab for .tsv files, or else sniffed: of comma, semicolon,
  tab and pipe, the one that splits the header into the most fields (ties go to the one whose
  next 20 rows have as many fields, then to the earlier in that list); comma when none splits it;
- the text is decoded with ``--encoding`` (default UTF-8); a byte that does not decode is refused
  naming its line and byte offset.
"""

from __future__ import annotations

import codecs
import csv
import io
import itertools
import math
import os
import re
import stat
import sys
from collections.abc import Iterable, Iterator, Mapping, Sequence
from contextlib import contextmanager
from dataclasses import dataclass, field
from datetime import date, datetime, timezone
from importlib import import_module
from importlib.util import find_spec
from typing import IO, Any

from nolt._columns import check_types, name_problems, renamed
from nolt._progress import Progress

FORMATS = ("csv", "tsv", "parquet", "json", "jsonl")
_SUFFIXES = {
    ".csv": "csv", ".tsv": "tsv", ".parquet": "parquet", ".pq": "parquet",
    ".json": "json", ".jsonl": "jsonl", ".ndjson": "jsonl",
}
VERBATIM_TYPES = ("string", "categorical", "unknown")  # declared, they keep every cell as written

# -- the rules: patterns written for Python's re and RE2 alike (ASCII classes, no \d) ---------

TRUE_WORDS = ("true", "True", "TRUE")
FALSE_WORDS = ("false", "False", "FALSE")
BOOLEAN_WORDS = frozenset(TRUE_WORDS + FALSE_WORDS)
INTEGER = r"0|-?[1-9][0-9]*"
DECIMAL = r"-?(?:(?:0|[1-9][0-9]*)(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?"
INTEGER_FORM = r"-?[0-9]+"  # a decimal without fraction or exponent
NAN_INF = frozenset({"nan", "inf", "-inf", "infinity", "-infinity"})  # compared in lower case
NAN_INF_PATTERN = r"[Nn][Aa][Nn]|-?[Ii][Nn][Ff](?:[Ii][Nn][Ii][Tt][Yy])?"  # the same, as a pattern
DATE = r"[0-9]{4}-[0-9]{2}-[0-9]{2}"
NAIVE = DATE + r"[T ][0-9]{2}:[0-9]{2}(?::[0-9]{2}(?:\.[0-9]{1,6})?)?"
AWARE = NAIVE + r"(?:Z|[+-][0-9]{2}:[0-9]{2})"
INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1

INTEGER_CELL, DECIMAL_CELL, INTEGER_FORM_CELL = re.compile(INTEGER), re.compile(DECIMAL), re.compile(INTEGER_FORM)
NAN_INF_CELL, FLOAT_CELL = re.compile(NAN_INF_PATTERN), re.compile(f"{DECIMAL}|{NAN_INF_PATTERN}")
_DATE, _NAIVE, _AWARE = re.compile(DATE), re.compile(NAIVE), re.compile(AWARE)


def integer_cell(text: str) -> int | None:
    """The integer a cell holds, or None when it is no integer by the rules."""
    if len(text) <= 20 and INTEGER_CELL.fullmatch(text):
        value = int(text)
        if INT64_MIN <= value <= INT64_MAX:
            return value
    return None


def float_cell(text: str, any_integer: bool = False) -> float | None:
    """The float a cell holds, or None. ``any_integer`` takes integers past 64 bits (declared)."""
    if DECIMAL_CELL.fullmatch(text):
        if not any_integer and beyond_int64(text):
            return None
        value = float(text)
        return None if math.isinf(value) else value
    return float(text) if NAN_INF_CELL.fullmatch(text) else None


def beyond_int64(text: str) -> bool:
    """Whether a decimal cell is an integer past 64 bits (which is kept as text)."""
    return INTEGER_FORM_CELL.fullmatch(text) is not None and (len(text) > 20 or not INT64_MIN <= int(text) <= INT64_MAX)


def datetime_cell(text: str) -> tuple[str, str] | None:
    """(shape, ISO 8601 text) of a date or date-time cell, or None."""
    try:
        if _DATE.fullmatch(text):
            date.fromisoformat(text)
            return "date", text
        if _NAIVE.fullmatch(text):
            moment = datetime.fromisoformat(text)
            return "naive", text if len(text) == 19 and text[10] == "T" else moment.isoformat()
        if _AWARE.fullmatch(text):
            return "aware", datetime.fromisoformat(text).astimezone(timezone.utc).isoformat()
    except (ValueError, OverflowError):  # no such day or time; or past year 9999 in UTC
        pass
    return None


_SHAPE_NAMES = {"date": "a date", "naive": "a date-time", "aware": "a date-time with a zone"}


def shape_note(first: str, shape: str) -> str:
    """Why a datetime cell does not fit its column: it is of another shape than the first."""
    return f" (the column's first value is {_SHAPE_NAMES[first]}, this is {_SHAPE_NAMES[shape]})"


def tolerant_cells(cells: Iterable[Any], declared: str) -> list[Any]:
    """Text cells read as the declared type where they fit it, kept as written where they do not.

    Cells that are not text pass unchanged; a datetime column takes the shape of its first
    datetime cell. Validation then reports the cells left as text as unreadable.
    """
    if declared in VERBATIM_TYPES:
        return list(cells)
    result: list[Any] = []
    shape = None
    for cell in cells:
        if isinstance(cell, str):
            value: Any = None
            if declared == "boolean":
                value = (cell in TRUE_WORDS) if cell in BOOLEAN_WORDS else None
            elif declared == "integer":
                value = integer_cell(cell)
            elif declared == "float":
                value = float_cell(cell, any_integer=True)
            elif declared == "datetime":
                read = datetime_cell(cell)
                if read is not None and read[0] == (shape or read[0]):
                    shape, value = read
            cell = cell if value is None else value
        result.append(cell)
    return result


# -- options, sources and errors ----------------------------------------------------------------


class ReadError(Exception):
    """Input the command line cannot read: reported in one line, exit status 2."""


class CellError(Exception):
    """A cell that does not fit its column's declared type (row counts from 0)."""

    def __init__(self, column: str, row: int, shown: str, logical_type: str, note: str = "") -> None:
        super().__init__(column, row, shown, logical_type)
        self.column, self.row, self.shown, self.logical_type, self.note = column, row, shown, logical_type, note

    def text(self) -> str:
        return f"column '{self.column}': cannot read {self.shown} as {self.logical_type}{self.note}"


@dataclass(frozen=True)
class ReadOptions:
    """How a file is read: the command line's input options."""

    types: Mapping[str, str] = field(default_factory=dict)
    file_format: str | None = None
    engine: str = "auto"
    delimiter: str | None = None  # None: a tab for TSV, else sniffed
    encoding: str = "utf-8"
    null_values: tuple[str, ...] = ("",)
    rename_duplicates: bool = False
    # Parquet text columns stored as dictionary indexes throughout are read as Arrow dictionaries,
    # FileData.types declaring them "string" (for data handed to the engine, not to users).
    text_dictionaries: bool = False
    # Cells that do not fit their declared type are kept as written (validation reports them)
    # instead of refusing the file.
    tolerant: bool = False

    def __post_init__(self) -> None:
        check_types(self.types)
        delimiter = self.delimiter
        printable = delimiter is not None and len(delimiter) == 1 and delimiter.isascii() and delimiter.isprintable()
        if delimiter is not None and delimiter != "\t" and not (printable and delimiter != '"'):
            raise ReadError(f"the delimiter must be a tab or one printable ASCII character other than a quote, not {delimiter!r}")
        try:
            codecs.lookup(self.encoding)
        except LookupError:
            raise ReadError(f"unknown encoding '{self.encoding}'") from None


@dataclass
class Source:
    """A file to read: a path, or the whole content of a stream (standard input, a FIFO)."""

    path: str
    name: str  # as messages show it
    content: bytes | None = None  # held in memory for streams and transcoded text
    size: int = 0

    def open(self) -> IO[bytes]:
        if self.content is not None:
            return io.BytesIO(self.content)
        try:
            return open(self.path, "rb")
        except OSError as error:
            raise ReadError(f"cannot read {self.name}: {error.strerror or error}") from None


def open_source(path: str) -> Source:
    """The file at ``path`` (``-`` is standard input); missing files and folders are refused."""
    if path == "-":
        content = sys.stdin.buffer.read()
        return Source(path, "<stdin>", content, len(content))
    try:
        status = os.stat(path)
    except FileNotFoundError:
        raise ReadError(f"no such file: {path}") from None
    except OSError as error:
        raise ReadError(f"cannot read {path}: {error.strerror or error}") from None
    if stat.S_ISDIR(status.st_mode):
        raise ReadError(f"{path} is a directory")
    if stat.S_ISREG(status.st_mode):
        return Source(path, path, None, status.st_size)
    try:  # a FIFO, process substitution or device: read once, into memory
        with open(path, "rb") as handle:
            content = handle.read()
    except OSError as error:
        raise ReadError(f"cannot read {path}: {error.strerror or error}") from None
    return Source(path, path, content, len(content))


def detect_format(path: str, declared: str | None) -> str:
    if os.path.isdir(path):
        raise ReadError(f"{path} is a directory")
    if declared:
        return declared
    suffix = os.path.splitext(path)[1].lower()
    if suffix in _SUFFIXES:
        return _SUFFIXES[suffix]
    if path == "-" or (os.path.exists(path) and not os.path.isfile(path)):
        return "csv"  # standard input, a FIFO or process substitution: a stream without a telling name
    raise ReadError(f"cannot tell the format of {path}: use a .csv, .tsv, .parquet, .json or .jsonl name, or --format")


def have_pyarrow() -> bool:
    return find_spec("pyarrow") is not None


def decoding_error(source: Source, encoding: str) -> ReadError | None:
    """The first byte of the source that does not decode, as an error naming its line and offset."""
    decoder = codecs.getincrementaldecoder(encoding)(errors="strict")  # a byte-order mark is valid UTF-8
    offset = 0
    with source.open() as handle:
        while True:
            chunk = handle.read(1 << 20)
            pending = len(decoder.getstate()[0])
            try:
                decoder.decode(chunk, final=not chunk)
            except UnicodeDecodeError as error:
                position = offset - pending + error.start
                break
            if not chunk:
                return None
            offset += len(chunk)
        handle.seek(0)
        before = handle.read(position)
        bad = handle.read(1)
    line = len(re.findall(r"\r\n|\r|\n", before.decode(encoding, errors="replace"))) + 1
    return ReadError(
        f"{source.name} line {line} (byte offset {position}): cannot decode byte 0x{bad.hex()} as {encoding}; "
        "give the file's encoding with --encoding, for example --encoding latin-1"
    )


def codec(encoding: str) -> str:
    """The codec that decodes text in ``encoding``; for UTF-8, one that skips a byte-order mark."""
    return "utf-8-sig" if codecs.lookup(encoding).name == "utf-8" else encoding


def as_utf8(source: Source, encoding: str) -> Source:
    """The source as UTF-8 text (held in memory) when it is in another encoding."""
    if codecs.lookup(encoding).name == "utf-8":
        return source
    with source.open() as handle:
        raw = handle.read()
    try:
        text = raw.decode(encoding)
    except UnicodeDecodeError:
        raise decoding_error(source, encoding) or ReadError(f"cannot decode {source.name} as {encoding}") from None
    content = text.encode("utf-8", errors="surrogatepass")
    return Source(source.path, source.name, content, len(content))


def checked_names(names: Sequence[str], source: Source, rename: bool) -> list[str]:
    """The column names, renamed when asked; duplicate or empty names are refused otherwise."""
    problems = name_problems(names)
    if problems is None:
        return list(names)
    if rename:
        return renamed(names)
    raise ReadError(f"{source.name}: {problems} (--rename-duplicates renames them)")


def shown(text: str) -> str:
    """A cell as a message quotes it: on one line, cut after 60 characters."""
    return repr(text if len(text) <= 60 else text[:60] + "...")


# -- the head of a CSV file: delimiter and header ----------------------------------------------

_BOM = codecs.BOM_UTF8
# A line fed after the last. Read outside quotes it is the record END_RECORD; a quote left open
# takes it into its field, which then ends with END_MARK (its own closing quote ends the field).
END_MARK = "\x00nolt: end of input\x00"
END_RECORD = [END_MARK + '"']
_CANDIDATES = (",", ";", "\t", "|")
_SNIFFED_ROWS = 20


@dataclass(frozen=True)
class Head:
    """A CSV file's delimiter and header: the names, the lines and bytes they take."""

    delimiter: str
    sniffed: bool
    names: list[str]
    lines: int  # lines up to the end of the header, leading blank lines included
    offset: int  # bytes up to the end of the header, byte-order mark included


def unterminated(source: Source, line: int, row: int | None = None) -> ReadError:
    where = f"line {line}" if row is None else f"row {row} (line {line})"
    return ReadError(f"{source.name} {where}: a quoted field is not closed before the end of the file")


@contextmanager
def fields_of_any_length() -> Iterator[None]:
    """Lifts the csv module's limit on the length of a field while reading."""
    limit = csv.field_size_limit()
    csv.field_size_limit(sys.maxsize)
    try:
        yield
    finally:
        csv.field_size_limit(limit)


def read_head(source: Source, options: ReadOptions, file_format: str) -> Head:
    """Reads as much of a UTF-8 source as its header needs (64 KiB at first) and parses it."""
    size = 1 << 16
    while True:
        with source.open() as handle:
            raw = handle.read(size)
            complete = len(raw) < size or not handle.read(1)
        bom = len(_BOM) if raw.startswith(_BOM) else 0
        try:
            text = codecs.getincrementaldecoder("utf-8")().decode(raw[bom:], final=complete)
        except UnicodeDecodeError:
            raise decoding_error(source, "utf-8") or ReadError(f"cannot decode {source.name}") from None
        lines = list(io.StringIO(text, newline=""))
        if not complete:
            lines.pop()  # perhaps cut short
        head = _parse_head(source, options, file_format, lines, complete, bom)
        if head is not None:
            return head
        size *= 4


def _parse_head(source: Source, options: ReadOptions, file_format: str, lines: list[str], complete: bool, bom: int) -> Head | None:
    given = options.delimiter or ("\t" if file_format == "tsv" else None)
    delimiter = given or sniff(lines, complete)
    for line, consumed, fields in records(lines, delimiter):
        if fields and fields[-1].endswith(END_MARK):
            if complete:
                raise unterminated(source, line)
            return None  # the header may go on past the sample
        if fields:
            names = checked_names(fields, source, options.rename_duplicates)
            offset = bom + len("".join(lines[:consumed]).encode("utf-8", errors="surrogatepass"))
            return Head(delimiter, given is None, names, consumed, offset)
    if complete:
        raise ReadError(f"{source.name} is empty: a CSV file needs a header row")
    return None


def sniff(lines: list[str], complete: bool) -> str:
    """Of comma, semicolon, tab and pipe, the delimiter that splits the header into most fields."""
    best, best_score = ",", (1, False)
    for candidate in _CANDIDATES:
        with fields_of_any_length():
            parsed = [fields for fields in csv.reader(lines[: 4 * (_SNIFFED_ROWS + 1)], delimiter=candidate) if fields]
        if not complete and len(parsed) > 1:
            parsed.pop()  # perhaps cut short
        if not parsed:
            return ","
        header, rows = parsed[0], parsed[1 : _SNIFFED_ROWS + 1]
        score = (len(header), all(len(row) == len(header) for row in rows))
        if score > best_score:
            best, best_score = candidate, score
    return best


def delimiter_name(delimiter: str) -> str:
    return "tab" if delimiter == "\t" else repr(delimiter)


# -- reading ------------------------------------------------------------------------------------


@dataclass(frozen=True)
class FileData:
    """What a file holds: a pyarrow Table or column tuples; ``note`` says how it was read."""

    data: Any
    note: str = ""  # for example "delimiter ';'" when it was sniffed
    types: Mapping[str, str] = field(default_factory=dict)  # of columns read in another form than their own


def read(
    path: str,
    types: Mapping[str, str] | None = None,
    file_format: str | None = None,
    engine: str = "auto",
    **options: Any,
) -> Any:
    """Reads a data file into a pyarrow Table (pyarrow engine) or a list of column tuples.

    ``options`` are those of ReadOptions: delimiter, encoding, null_values, rename_duplicates.
    """
    return read_file(path, ReadOptions(types=dict(types or {}), file_format=file_format, engine=engine, **options)).data


def read_file(path: str, options: ReadOptions) -> FileData:
    """Reads a data file by the rules above, with the engine the options name."""
    file_format = detect_format(path, options.file_format)
    if options.engine == "pyarrow" and not have_pyarrow():
        raise ReadError("the pyarrow engine needs pyarrow: pip install 'nolt[pyarrow]'")
    use_arrow = options.engine == "pyarrow" or (options.engine == "auto" and have_pyarrow())
    if file_format == "parquet" and not use_arrow:
        raise ReadError("reading Parquet files needs pyarrow: pip install 'nolt[pyarrow]'")
    source = open_source(path)
    progress = Progress(os.path.basename(path), source.size, enabled=False if source.content is not None else None)
    try:
        return _read(source, file_format, use_arrow, options, progress)
    except (ReadError, MemoryError):
        raise
    except Exception as error:
        if not _about_the_file(error):
            raise
        lines = [line.strip() for line in str(error).splitlines() if line.strip()]
        raise ReadError(f"cannot read {source.name}: {'; '.join(lines) or type(error).__name__}") from error
    finally:
        progress.finish()


def _about_the_file(error: Exception) -> bool:
    pyarrow = sys.modules.get("pyarrow")
    if isinstance(error, (OSError, ValueError, csv.Error)):
        return True
    return pyarrow is not None and isinstance(error, pyarrow.ArrowException)


def _read(source: Source, file_format: str, use_arrow: bool, options: ReadOptions, progress: Progress) -> FileData:
    engine: Any = import_module("nolt._read_arrow" if use_arrow else "nolt._read_python")
    if file_format == "parquet":
        table, types = engine.read_parquet(source, options, progress)
        return FileData(table, types=types)
    if file_format in ("json", "jsonl"):
        columns = import_module("nolt._read_json").read_json(source, options)
        return FileData(engine.from_json(columns))
    source = as_utf8(source, options.encoding)
    head = read_head(source, options, file_format)
    data = engine.read_csv(source, head, options, progress)
    note = f"delimiter {delimiter_name(head.delimiter)}" if head.sniffed and head.delimiter != "," else ""
    return FileData(data, note)


def cell_error(source: Source, error: CellError, line: int | None) -> ReadError:
    where = f"row {error.row + 1}" + ("" if line is None else f" (line {line})")
    return ReadError(f"{source.name} {where}, {error.text()}")


def csv_reader(text: Iterable[str], delimiter: str) -> Any:
    """The csv module's reader of the text and then of one more line, END_RECORD's one field."""
    return csv.reader(itertools.chain(text, END_RECORD), delimiter=delimiter, strict=False)


def records(text: Iterable[str], delimiter: str) -> Iterator[tuple[int, int, list[str]]]:
    """(first line, last line, fields) of every record of the text, lines counted from 1.

    A blank line gives no fields. A quoted field left open at the end of the text ends in
    END_MARK, which the readers turn into an error.
    """
    with fields_of_any_length():
        reader = csv_reader(text, delimiter)
        line = 0
        for fields in reader:
            start, line = line + 1, reader.line_num
            if fields == END_RECORD:
                return
            yield start, line, fields
