"""Reading files: a corpus of awkward files, read alike by both engines, and the reading options."""

import csv
import io
import json
import math
import os
import pathlib
import subprocess
import sys
from dataclasses import dataclass, field

import pytest
from hypothesis import given, settings, strategies as st

import nolt
from nolt._readers import ReadError, ReadOptions, read_file
from test_nolt_cli import ENGINES, environment

NAN, INF = math.nan, math.inf
P = "{path}"  # stands for the file's path in expected messages


@dataclass
class Case:
    id: str
    content: bytes | str
    expected: list | str  # the column tuples, or the one-line error
    suffix: str = ".csv"
    options: dict = field(default_factory=dict)


def columns(*triples):
    return list(triples)


LONG = "x" * 200_000
WIDE = [f"c{number}" for number in range(3000)]

CORPUS = [
    # Each of these was read differently by the two engines, or changed silently, before.
    Case("nan-and-infinity-as-text", "x\n1.5\nNaN\ninf\n-Infinity\n", columns(("x", "float", [1.5, NAN, INF, -INF]))),
    Case("short-row", "a,b,c\n1,2,3\n4,5\n", f"{P} row 2 (line 3) has 2 fields, the header has 3"),
    Case("blank-line-in-one-column", "x\n1\n\n3\n", columns(("x", "integer", [1, None, 3]))),
    Case("empty-file", "", f"{P} is empty: a CSV file needs a header row"),
    Case("impossible-dates", "d,e\n2024-02-29,2024-01-01\n2024-02-30,2024-13-45\n",
         columns(("d", "string", ["2024-02-29", "2024-02-30"]), ("e", "string", ["2024-01-01", "2024-13-45"]))),
    Case("naive-and-zoned-times", "t\n2024-01-01T10:00:00\n2024-01-01T10:00:00Z\n",
         columns(("t", "string", ["2024-01-01T10:00:00", "2024-01-01T10:00:00Z"]))),
    Case("arabic-indic-digits", "n\n١٢\n3\n", columns(("n", "string", ["١٢", "3"]))),
    Case("plus-sign-and-leading-zeros", "a,b,zip\n+5,007,08123\n6,8,12345\n",
         columns(("a", "string", ["+5", "6"]), ("b", "string", ["007", "8"]), ("zip", "string", ["08123", "12345"]))),
    Case("leading-space", "n\n 1\n2\n", columns(("n", "string", [" 1", "2"]))),
    Case("one-and-zero-declared-boolean", "flag\n1\n0\n", f"{P} row 1 (line 2), column 'flag': cannot read '1' as boolean",
         options={"types": {"flag": "boolean"}}),
    Case("json-text-and-numbers", '{"title": "Up"}\n{"title": 1984}\n{"title": null}\n',
         columns(("title", "string", ['"Up"', "1984", None])), ".jsonl"),
    Case("json-nested-objects", '{"id": 1, "geometry": {"type": "Point", "coordinates": [1.5, 2]}}\n{"id": 2, "geometry": [1]}\n',
         columns(("id", "integer", [1, 2]), ("geometry", "string", ['{"type": "Point", "coordinates": [1.5, 2]}', "[1]"])), ".jsonl"),
    Case("cell-of-200-kb", f"a,b\n1,{LONG}\n", columns(("a", "integer", [1]), ("b", "string", [LONG]))),
    Case("header-over-1-mb", f"{'h' * 1_100_000},b\n1,2\n", columns(("h" * 1_100_000, "integer", [1]), ("b", "integer", [2]))),
    Case("row-over-1-mb", f"a,b\n1,{'y' * 3_000_000}\n2,z\n", columns(("a", "integer", [1, 2]), ("b", "string", ["y" * 3_000_000, "z"]))),
    Case("json-integer-past-64-bits", '{"id": 18446744073709551616}\n{"id": 1}\n',
         columns(("id", "string", ["18446744073709551616", "1"])), ".jsonl"),
    Case("integers-past-64-bits", "id\n9223372036854775807\n9223372036854775808\n9223372036854775809\n",
         columns(("id", "string", ["9223372036854775807", "9223372036854775808", "9223372036854775809"]))),
    Case("latin-1-without-encoding", b"city\nM\xfcnchen\n",
         f"{P} line 2 (byte offset 6): cannot decode byte 0xfc as utf-8; give the file's encoding with --encoding, for example --encoding latin-1"),
    Case("undecodable-byte-before-a-cell-that-does-not-fit", b"n,m\n1,2\nx,\xe9\n",
         f"{P} line 3 (byte offset 10): cannot decode byte 0xe9 as utf-8; give the file's encoding with --encoding, for example --encoding latin-1",
         options={"types": {"n": "integer"}}),
    Case("duplicate-names", "a,b,a\n1,2,3\n", f"{P}: duplicate column name 'a' at columns 1 and 3 (--rename-duplicates renames them)"),
    Case("empty-name", "a,,c\n1,2,3\n", f"{P}: empty column name at column 2 (--rename-duplicates renames them)"),
    # Shapes of files.
    Case("long-row", "a,b\n1,2\n3,4,5\n", f"{P} row 2 (line 3) has 3 fields, the header has 2"),
    Case("bom-and-crlf", b"\xef\xbb\xbfa,b\r\n1,x\r\n2,y\r\n", columns(("a", "integer", [1, 2]), ("b", "string", ["x", "y"]))),
    Case("cr-line-ends", b"a,b\r1,x\r\r2,y", columns(("a", "integer", [1, 2]), ("b", "string", ["x", "y"]))),
    Case("quoted-newlines", 'a,b\n"two\r\nlines",1\n"x""y",2\n',
         columns(("a", "string", ["two\r\nlines", 'x"y']), ("b", "integer", [1, 2]))),
    Case("row-after-quoted-newline", 'a,b\n"two\nlines",1\n2\n', f"{P} row 2 (line 4) has 1 field, the header has 2"),
    Case("quote-left-open-in-last-column", 'a,b\n1,2\n3,"x\n4,y\n',
         f"{P} row 2 (line 3): a quoted field is not closed before the end of the file"),
    Case("quote-left-open-in-first-column", 'a,b\n"x,1\n', f"{P} row 1 (line 2): a quoted field is not closed before the end of the file"),
    Case("quote-closed-on-the-last-line", 'a,b\n1,""\n2,"x"', columns(("a", "integer", [1, 2]), ("b", "string", [None, "x"]))),
    Case("header-only", "a,b\n", columns(("a", "unknown", []), ("b", "unknown", []))),
    Case("blank-lines-skipped-with-two-columns", "\n\na,b\n\n1,2\n\n3,4\n\n", columns(("a", "integer", [1, 3]), ("b", "integer", [2, 4]))),
    Case("blank-lines-only", "\n\r\n\n", f"{P} is empty: a CSV file needs a header row"),
    Case("byte-order-mark-only", b"\xef\xbb\xbf", f"{P} is empty: a CSV file needs a header row"),
    Case("one-column-ending-in-blank-lines", "x\na\n\n\n", columns(("x", "string", ["a", None, None]))),
    Case("wide-header", ",".join(WIDE) + "\n" + ",".join(map(str, range(3000))) + "\n",
         columns(*[(name, "integer", [number]) for number, name in enumerate(WIDE)])),
    Case("quoted-empty-is-null", 'a,b\n"",1\n', columns(("a", "unknown", [None]), ("b", "integer", [1]))),
    # Types.
    Case("all-types", "b,i,f,s\ntrue,-3,.5,x\nFALSE,0,1e3,\n",
         columns(("b", "boolean", [True, False]), ("i", "integer", [-3, 0]), ("f", "float", [0.5, 1000.0]), ("s", "string", ["x", None]))),
    Case("minus-zero-and-exponents", "x,y\n-0,1E+2\n1,5.\n", columns(("x", "float", [-0.0, 1.0]), ("y", "float", [100.0, 5.0]))),
    Case("float-beside-integer-past-64-bits", "x\n1.5\n9223372036854775808\n", columns(("x", "string", ["1.5", "9223372036854775808"]))),
    Case("number-too-large-for-a-double", "x\n1e400\n1\n", columns(("x", "string", ["1e400", "1"]))),
    Case("nan-spelled-otherwise", "x\n1\n-nan\n", columns(("x", "string", ["1", "-nan"]))),
    Case("datetime-shapes", "d,t,z\n2024-01-01,2024-01-01 10:00,2024-01-01T10:00:00+01:00\n2024-12-31,2024-01-01T10:00:00.5,2024-01-01T09:00:00Z\n",
         columns(("d", "datetime", ["2024-01-01", "2024-12-31"]),
                 ("t", "datetime", ["2024-01-01T10:00:00", "2024-01-01T10:00:00.500000"]),
                 ("z", "datetime", ["2024-01-01T09:00:00+00:00", "2024-01-01T09:00:00+00:00"]))),
    Case("dates-beside-date-times", "d\n2024-01-01\n2024-01-01T10:00\n", columns(("d", "string", ["2024-01-01", "2024-01-01T10:00"]))),
    Case("year-zero-and-seven-digit-fractions", "d,t\n0000-01-01,2024-01-01T10:00:00.1234567\n",
         columns(("d", "string", ["0000-01-01"]), ("t", "string", ["2024-01-01T10:00:00.1234567"]))),
    Case("zoned-time-past-9999-in-utc", "t\n9999-12-31T23:30:00-01:00\n", columns(("t", "string", ["9999-12-31T23:30:00-01:00"]))),
    Case("declared-integer-with-leading-zero", "n\n1\n007\n", f"{P} row 2 (line 3), column 'n': cannot read '007' as integer",
         options={"types": {"n": "integer"}}),
    Case("declared-float-takes-large-integers", "n\n9223372036854775808\n", columns(("n", "float", [9.223372036854775808e18])),
         options={"types": {"n": "float"}}),
    Case("declared-datetime-of-two-shapes", "\nd\n2024-01-01\n\n2024-01-01T10:00\n",
         f"{P} row 3 (line 5), column 'd': cannot read '2024-01-01T10:00' as datetime "
         "(the column's first value is a date, this is a date-time)", options={"types": {"d": "datetime"}}),
    Case("declared-string-keeps-text", "n,d\n007,2024-01-01 10:00\n", columns(("n", "string", ["007"]), ("d", "categorical", ["2024-01-01 10:00"])),
         options={"types": {"n": "string", "d": "categorical"}}),
    Case("declared-all-null", "n,m\n,\n", columns(("n", "integer", [None]), ("m", "datetime", [None])),
         options={"types": {"n": "integer", "m": "datetime"}}),
    # Options.
    Case("semicolon-sniffed", "a;b\n1,5;x\n", columns(("a", "string", ["1,5"]), ("b", "string", ["x"]))),
    Case("pipe-sniffed", "a|b|c\n1|2|3\n", columns(("a", "integer", [1]), ("b", "integer", [2]), ("c", "integer", [3]))),
    Case("one-column-not-split-by-sniffing", "note\nhello; world\n", columns(("note", "string", ["hello; world"]))),
    Case("tsv", "a\tb\n1,5\tx\n", columns(("a", "string", ["1,5"]), ("b", "string", ["x"])), ".tsv"),
    Case("delimiter-given", "a;b,c\n1;2,3\n", columns(("a", "integer", [1]), ("b,c", "string", ["2,3"])), options={"delimiter": ";"}),
    Case("null-values", "a,b\nNA,1\n,n/a\n", columns(("a", "string", [None, ""]), ("b", "integer", [1, None])),
         options={"null_values": ("NA", "n/a")}),
    Case("latin-1", b"city\nM\xfcnchen\n", columns(("city", "string", ["München"])), options={"encoding": "latin-1"}),
    Case("renamed-names", "a,b,a,,a.1\n1,2,3,4,5\n",
         columns(*[(name, "integer", [value]) for name, value in zip(["a", "b", "a.2", "column_4", "a.1"], range(1, 6))]),
         options={"rename_duplicates": True}),
    # JSON.
    Case("json-array-of-records", '[{"a": 1, "b": true},\n {"a": 2.5}]', columns(("a", "float", [1.0, 2.5]), ("b", "boolean", [True, None])), ".json"),
    Case("json-missing-keys", '{"a": 1}\n\n{"b": "x", "a": 2}\n', columns(("a", "integer", [1, 2]), ("b", "string", [None, "x"])), ".jsonl"),
    Case("json-datetimes", '{"d": "2024-01-01", "t": "2024-01-01 10:00Z", "s": "true"}\n',
         columns(("d", "datetime", ["2024-01-01"]), ("t", "datetime", ["2024-01-01T10:00:00+00:00"]), ("s", "string", ["true"])), ".jsonl"),
    Case("json-duplicate-key", '{"a": 1, "a": 2}\n', f"{P} line 1: duplicate key 'a' in one object", ".jsonl"),
    Case("json-syntax-error", '{"a": 1}\n{"a":\n', f"{P} line 2 column 6: Expecting value", ".jsonl"),
    Case("json-array-syntax-error", '[{"a": 1}\n {"a": 2}]', f"{P} line 2 column 2: Expecting ',' delimiter", ".json"),
    Case("json-array-of-numbers", "[1, 2]", f"{P} line 1 is not a JSON object", ".json"),
    Case("json-empty", "[]", f"{P} holds no records", ".json"),
    Case("json-declared-type", '{"n": 1}\n{"n": "x"}\n', f'{P} row 2 (line 2), column \'n\': cannot read "x" as integer', ".jsonl",
         {"types": {"n": "integer"}}),
    Case("json-declared-string", '{"n": 1}\n{"n": "x"}\n', columns(("n", "string", ["1", "x"])), ".jsonl", {"types": {"n": "string"}}),
]


def outcome(path, engine, options):
    """What reading gives: the column tuples as the core is given them (cells by repr), or the error."""
    read_options = ReadOptions(engine=engine, **options)
    try:
        data = read_file(str(path), read_options).data
    except ReadError as error:
        return str(error)
    return [(column[0], column[1], list(column[2])) for column in nolt.to_columns(data, read_options.types)]


def write(tmp_path, case):
    path = tmp_path / f"data{case.suffix}"
    content = case.content if isinstance(case.content, bytes) else case.content.encode()
    path.write_bytes(content)
    return path


@pytest.mark.parametrize("case", CORPUS, ids=[case.id for case in CORPUS])
def test_both_engines_read_the_corpus_as_expected(case, tmp_path):
    path = write(tmp_path, case)
    expected = case.expected.replace(P, str(path)) if isinstance(case.expected, str) else case.expected
    for engine in ENGINES:
        assert repr(outcome(path, engine, case.options)) == repr(expected), engine


# -- both engines agree on any cells -----------------------------------------------------------

TOKENS = [
    "1", "-2", "007", "+5", "1.5", ".5", "5.", "-.5", "nan", "NaN", "-nan", "inf", "-Infinity", "1e5", "1E+5", "1e400",
    "-0", "0", "00", "0e0", "2024-01-01", "2024-02-30", "0000-01-01", "2024-01-01T10:00", "2024-01-01 10:00:00",
    "2024-01-01T10:00:00.123456", "2024-01-01T10:00:00.1234567", "2024-01-01T10", "2024-01-01T10:00Z",
    "2024-01-01T10:00:00+01:00", "2024-01-01T10:00:00+0100", "0001-01-01T00:10:00+01:00", "true", "False", "tRue",
    "9223372036854775807", "-9223372036854775808", "9223372036854775808", " 1", "0x10", "1_0", "١٢", "",
]
CELLS = st.one_of(st.sampled_from(TOKENS), st.text(alphabet="0123456789+-.eEnaNifIFtyT :Z_x", min_size=1, max_size=8))


@pytest.mark.skipif(len(ENGINES) < 2, reason="needs pyarrow")
@settings(max_examples=150, deadline=None)
@given(rows=st.lists(st.lists(CELLS, min_size=2, max_size=2), min_size=1, max_size=4),
       declared=st.sampled_from([None, "integer", "float", "boolean", "datetime"]))
def test_both_engines_agree_on_any_cells(rows, declared, tmp_path_factory):
    path = tmp_path_factory.mktemp("cells") / "cells.csv"
    with open(path, "w", newline="", encoding="utf-8") as handle:
        csv.writer(handle).writerows([["a", "b"], *rows])
    options = {"types": {"a": declared}} if declared else {}
    assert repr(outcome(path, "pyarrow", options)) == repr(outcome(path, "python", options))


# -- the command line ----------------------------------------------------------------------------


def run(*arguments, stdin=None):
    return subprocess.run([sys.executable, "-m", "nolt", *arguments], input=stdin, capture_output=True, text=True,
                          env=environment(), check=False)


@pytest.mark.parametrize("engine", ENGINES)
def test_standard_input_a_fifo_and_the_sniffed_delimiter_said_in_the_header_line(engine, tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    writer = subprocess.Popen(["sh", "-c", f"printf 'a;b\\n1;x\\n' > {fifo}"])
    try:
        from_fifo = run("profile", str(fifo), "--engine", engine)
    finally:
        writer.wait()
    from_stdin = run("profile", "-", "--engine", engine, stdin="a;b\n1;x\n")
    assert (from_stdin.returncode, from_stdin.stderr) == (0, "")
    assert from_stdin.stdout.splitlines()[0] == "- (delimiter ';'): 1 row, 2 columns"
    assert from_fifo.stdout.splitlines()[0] == f"{fifo} (delimiter ';'): 1 row, 2 columns"
    tabs = run("profile", "-", "--delimiter", "tab", "--null-values", "NA,", "--json", stdin="a\tb\nNA\t\n1\t2\n")
    assert [column["null_count"] for column in json.loads(tabs.stdout)["columns"]] == [1, 1]


@pytest.mark.parametrize(
    "arguments, message",
    [
        (["profile", "{tmp}"], "{tmp} is a directory"),
        (["profile", "{tmp}/x.csv", "--encoding", "klingon"], "unknown encoding 'klingon'"),
        (["profile", "{tmp}/x.csv", "--delimiter", ";;"], "the delimiter must be a tab or one printable ASCII character other than a quote, not ';;'"),
        (["compare", "-", "-"], "standard input (-) can be read only once"),
        (["profile", "{tmp}/x.csv", "--rename-duplicates", "--types", "a.1=string"], None),
    ],
)
def test_input_options_and_their_errors(arguments, message, tmp_path):
    (tmp_path / "x.csv").write_text("a,a\n1,2\n")
    completed = run(*[argument.replace("{tmp}", str(tmp_path)) for argument in arguments])
    if message is None:
        assert completed.returncode == 0, completed.stderr
        assert "\na.1     string  " in completed.stdout
    else:
        assert (completed.returncode, completed.stderr) == (2, f"nolt: error: {message.replace('{tmp}', str(tmp_path))}\n")


# -- data frames and dicts ---------------------------------------------------------------------


def uint64_frames():
    pd, pl, pa = (pytest.importorskip(name) for name in ("pandas", "polars", "pyarrow"))
    import numpy as np

    values = [1, 2**64 - 1]
    return {
        "pandas": pd.DataFrame({"id": np.array(values, dtype="uint64")}),
        "pandas-nullable": pd.DataFrame({"id": pd.array([*values, None], dtype="UInt64")}),
        "polars": pl.DataFrame({"id": pl.Series(values, dtype=pl.UInt64)}),
        "pyarrow": pa.table({"id": pa.array(values, pa.uint64())}),
    }


@pytest.mark.parametrize("kind", ["pandas", "pandas-nullable", "polars", "pyarrow"])
def test_unsigned_64_bit_ids_past_the_signed_range_are_refused_by_name_or_read_as_text(kind):
    frame = uint64_frames()[kind]
    with pytest.raises(ValueError) as info:
        nolt.profile(frame)
    assert str(info.value) == ("column 'id' holds the integer 18446744073709551615, past the 64-bit integers nolt reads; "
                               "read it as text with types={'id': 'string'}")
    (column,) = nolt.to_columns(frame, {"id": "string"})
    assert (column[0], column[1], list(column[2])[:2]) == ("id", "string", ["1", "18446744073709551615"])


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda pd: pd.DataFrame([[1, 2, 3]], columns=["a", "b", "a"]), "duplicate column name 'a' at columns 1 and 3"),
        (lambda pd: pd.DataFrame([[1, 2]], columns=[0, "0"]), "duplicate column name '0' at columns 1 and 2"),
        (lambda pd: pd.DataFrame([[1, 2]], columns=["", "b"]), "empty column name at column 1"),
        (lambda pd: {"": [1]}, "empty column name at column 1"),
    ],
)
def test_duplicate_and_empty_names_of_frames_and_dicts_are_refused(make, message):
    data = make(pytest.importorskip("pandas"))
    with pytest.raises(ValueError) as info:
        nolt.profile(data, types={"": "integer"} if isinstance(data, dict) else None)
    assert str(info.value) == f"column names must be unique and not empty: {message}"


@pytest.mark.parametrize("row_group_size", [2, 1000])
@pytest.mark.parametrize("drawn", [False, True])
def test_a_parquet_file_reads_alike_from_its_path_or_memory_with_or_without_a_progress_bar(row_group_size, drawn, tmp_path):
    pa, parquet = pytest.importorskip("pyarrow"), pytest.importorskip("pyarrow.parquet")
    from nolt import _read_arrow, _readers
    from nolt._progress import Progress

    table = pa.Table.from_arrays([pa.array([1, None, 3, 4, 5]), pa.array(["u", "v", None, "u", "w"])], names=["a", "a"])
    path = tmp_path / "dup.parquet"
    parquet.write_table(table, path, row_group_size=row_group_size)
    expected = table.rename_columns(["a", "a.1"])
    for source in (_readers.open_source(str(path)), _readers.Source(str(path), "-", path.read_bytes())):
        progress = Progress("dup.parquet", 1, stream=io.StringIO(), enabled=drawn)
        read, declared = _read_arrow.read_parquet(source, ReadOptions(rename_duplicates=True), progress)
        assert read.equals(expected) and read.schema == expected.schema and declared == {}


class _GroupReader:
    """A Parquet file's stand-in for reading row groups from several threads: a group is its number."""

    def __init__(self, groups: int, damaged: set[int]) -> None:
        self.num_row_groups, self.damaged = groups, damaged

    def __enter__(self) -> "_GroupReader":
        return self

    def __exit__(self, *exc: object) -> None:
        pass

    def read_row_group(self, group: int) -> int:
        if group in self.damaged:
            raise OSError(f"group {group} is damaged")
        return group


@pytest.mark.parametrize("groups, damaged", [(0, set()), (1, set()), (40, set()), (40, {0}), (40, {39}), (40, {5, 6, 7})])
def test_row_groups_read_at_once_come_in_order_and_a_failure_in_any_thread_is_raised(groups, damaged):
    pytest.importorskip("pyarrow")
    import threading

    from nolt import _read_arrow
    from nolt._progress import Progress

    before = threading.active_count()
    read = lambda: _read_arrow._row_groups(_GroupReader(groups, damaged), lambda: _GroupReader(groups, damaged),  # noqa: E731
                                           Progress("f", 1, enabled=False))
    if not damaged:
        assert read() == list(range(groups))
    else:
        with pytest.raises(OSError) as info:
            read()
        assert str(info.value) in {f"group {group} is damaged" for group in damaged}
    assert threading.active_count() == before
