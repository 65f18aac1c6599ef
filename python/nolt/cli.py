"""The nolt command line: profile, suggest, validate, compare and drift on data files.

    nolt profile  DATA                 [--types name=type,...] [--json] [input options] [--dask]
    nolt suggest  DATA [-o SCHEMA]     [--types ...] [--json]
    nolt validate DATA --schema SCHEMA [--types ...] [--json]
    nolt compare  BEFORE AFTER         [--types ...] [--json]
    nolt drift    BEFORE AFTER         [--types ...] [--json]
    nolt report   DATA [--schema SCHEMA] [--baseline OTHER] [-o HTML] [--types ...]

The input options (--format, --engine, --delimiter, --encoding, --null-values,
--rename-duplicates) say how the files are read; ``-`` reads standard input. With --dask, DATA
(BEFORE, AFTER) is a folder or glob of Parquet files that nolt.dask computes in partitions, on
the local scheduler or the dask.distributed scheduler named by --scheduler, with Dask's
progress bar on stderr; the results are the same as without --dask.

``-o`` replaces its file whole (``_outputs``) and never names one of the command's inputs. Text
from the data and from file names reaches the terminal with its control characters escaped
(``_text.visible``), in tables, messages and tracebacks alike; ``--json`` escapes them as JSON.

Each command is one entry of ``COMMANDS``: its arguments, a step that reads the data files and
computes the result, and a step that writes it. Errors of the reading and computing step that
come from the input are bad input; anything else is a fault in nolt.

Exit status (``EXIT_STATUSES`` lists them for each command's --help): 0 on success, 1 when
``validate`` finds the data invalid or ``drift`` finds drift of error severity, 2 on bad input
(a missing or unreadable file, an unknown type name, malformed ``--types``, data that does not
fit its declared type), always with a one-line message on stderr, and 3 when nolt itself fails
(a bug), with the traceback on stderr. ``validate`` reads every column its schema names as the
schema's type and reports cells that cannot be read so as issues (exit status 1, not 2).
"""

from __future__ import annotations

import argparse
import dataclasses
import gc
import os
import re
import sys
import traceback
import warnings
from collections.abc import Callable, Iterator, Mapping, Sequence
from contextlib import contextmanager
from dataclasses import dataclass
from importlib.util import find_spec
from typing import IO, TYPE_CHECKING, Any, NoReturn

from nolt import _api, _cli_output
from nolt._columns import LOGICAL_TYPES, optional_module
from nolt._outputs import input_at, replace_file
from nolt._progress import Progress
from nolt._readers import FORMATS, ReadError, ReadOptions, detect_format, read_file
from nolt._text import json_text, visible
from nolt._version import __version__
from nolt.report import collect, reusable
from nolt.types import DatasetComparison, DetailedProfile, DriftReport, SuggestedSchema, ValidationReport

if TYPE_CHECKING:  # the HTML page is imported by the report command only
    from nolt._report_page import Page

EXIT_OK, EXIT_INVALID, EXIT_BAD_INPUT, EXIT_INTERNAL_ERROR = 0, 1, 2, 3


class BadInput(Exception):
    """Input the command line cannot use: reported in one line, exit status 2."""


class UsageError(BadInput):
    """A malformed command line."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        self.exit(EXIT_BAD_INPUT, f"nolt: error: {visible(message)} (see 'nolt --help')\n")


def parse_types(entries: Sequence[str]) -> dict[str, str]:
    """``name=type`` pairs separated by commas, from one or more --types options."""
    types: dict[str, str] = {}
    for entry in entries:
        for item in entry.split(","):
            name, equals, logical_type = item.rpartition("=")
            name, logical_type = name.strip(), logical_type.strip()
            if not equals or not name:
                raise UsageError(f"malformed --types '{entry}': expected name=type[,name=type...]")
            if logical_type not in LOGICAL_TYPES:
                raise UsageError(f"unknown type '{logical_type}' for column '{name}': use one of {', '.join(LOGICAL_TYPES)}")
            types[name] = logical_type
    return types


# -- arguments -------------------------------------------------------------------------------


@dataclass(frozen=True)
class Argument:
    """One argument of a command, as argparse's add_argument takes it."""

    flags: tuple[str, ...]
    settings: Mapping[str, Any]


def _argument(*flags: str, **settings: Any) -> Argument:
    return Argument(flags, settings)


# The input options: how every command reads its data files.
TYPES = _argument("--types", action="append", default=[], metavar="NAME=TYPE,...",
                  help=f"declare column types ({', '.join(LOGICAL_TYPES)}); may be repeated")
FORMAT = _argument("--format", choices=FORMATS, help="file format (default: from the file name)")
ENGINE = _argument("--engine", choices=("auto", "pyarrow", "python"), default="auto",
                   help="file reader: pyarrow when installed (auto), or the standard library (python)")
DELIMITER = _argument("--delimiter", metavar="CHAR",
                      help="CSV delimiter, one ASCII character or 'tab' (default: tab for .tsv, else sniffed)")
ENCODING = _argument("--encoding", default="utf-8", help="text encoding of CSV and JSON files (default: utf-8)")
NULL_VALUES = _argument("--null-values", metavar="TEXT,...",
                        help="CSV fields that are null, comma-separated (default: the empty field only)")
RENAME = _argument("--rename-duplicates", action="store_true",
                   help="rename duplicate column names a, a.1, ... and empty ones column_N instead of refusing them")
INPUT_OPTIONS = (TYPES, FORMAT, ENGINE, DELIMITER, ENCODING, NULL_VALUES, RENAME)
# The options of the commands that print a result: the input options and --json.
JSON = _argument("--json", action="store_true", help="print the result as JSON")
# Dask: DATA is a folder or glob of Parquet files, read in partitions and profiled exactly.
DASK = _argument("--dask", action="store_true",
                 help="DATA is a folder or glob of Parquet files, computed with Dask (pip install 'nolt[dask]'); "
                      "the same results as without it, with Dask's progress bar on stderr")
SCHEDULER = _argument("--scheduler", metavar="ADDRESS", default="threads",
                      help="with --dask: 'threads' (default), 'processes', or a dask.distributed scheduler's address")
RESULT_OPTIONS = (JSON, DASK, SCHEDULER, *INPUT_OPTIONS)

DATA = _argument("data", help="CSV, TSV, Parquet, JSON or JSON-lines file; - for standard input")
VERSIONS = (_argument("before"), _argument("after"))


def _output_path(text: str) -> str:
    if not text:
        raise argparse.ArgumentTypeError("an empty path names no file")
    return text


# The arguments naming files a command reads, and what each is called when -o would overwrite it.
INPUT_FILES = (
    ("data", "data file"), ("before", "data file"), ("after", "data file"), ("schema", "schema file"), ("baseline", "baseline file"),
)


def check_output(args: argparse.Namespace) -> None:
    """Refuses an -o that is one of the command's inputs, before anything is read or written."""
    output = getattr(args, "output", None)
    if output is None:
        return
    inputs = [(role, getattr(args, name)) for name, role in INPUT_FILES if getattr(args, name, None) is not None]
    found = input_at(output, inputs)
    if found is not None:
        role, path = found
        where = "on standard input" if path == "-" else path
        raise UsageError(f"-o {output} would overwrite the {role} {where}: write to another file")


def _cannot_write(path: str, error: OSError) -> ReadError:
    """The same message for a file written by the core (its text ends in "(os error N)") or by Python."""
    reason = error.strerror or re.sub(r" \(os error \d+\)$", "", str(error))
    return ReadError(f"cannot write {path}: {reason}")


def _delimiter(text: str | None) -> str | None:
    return "\t" if text in ("tab", "\\t") else text


class Inputs:
    """A command's data files, read with the input options and prepared for the core."""

    def __init__(self, args: argparse.Namespace) -> None:
        self.types = parse_types(args.types)
        null_values = ("",) if args.null_values is None else tuple(args.null_values.split(","))
        self.options = ReadOptions(
            types=self.types,
            file_format=args.format,
            engine=args.engine,
            delimiter=_delimiter(args.delimiter),
            encoding=args.encoding,
            null_values=null_values,
            rename_duplicates=args.rename_duplicates,
        )
        self.notes: dict[str, str] = {}

    def datasets(self, *paths: str, schema: str | None = None, tolerant: bool = False) -> list[_api.Prepared]:
        """Reads every file, then converts every dataset, in the order given.

        The columns a ``schema`` file names are read as its types (``--types`` overrides them);
        ``tolerant`` keeps cells that do not fit a declared type, for validation to report.
        """
        if paths.count("-") > 1:
            raise UsageError("standard input (-) can be read only once")
        schema_types = _api.schema_types(schema) if schema is not None and os.path.isfile(schema) else {}
        # One file's text columns may be read as dictionaries: its types then declare them text
        # (for two files they would declare the other file's columns too).
        options = dataclasses.replace(self.options, types={**schema_types, **self.types}, tolerant=tolerant,
                                      text_dictionaries=len(paths) == 1)
        data = []
        read_types: dict[str, str] = {}
        for path in paths:
            read = read_file(path, options)
            self.notes[path] = read.note
            data.append(read.data)
            read_types.update(read.types)
        return _api.prepare({**read_types, **self.types}, *data, schema_types=schema_types, tolerant=tolerant)

    def frames(self, args: argparse.Namespace, *paths: str) -> list[Any]:
        """Dask DataFrames of folders or globs of Parquet files (--dask)."""
        try:
            import dask.dataframe
        except ImportError:
            raise ReadError("--dask needs Dask: pip install 'nolt[dask]'") from None
        frames = []
        for path in paths:
            try:
                frames.append(dask.dataframe.read_parquet(path))
            except (OSError, ValueError) as error:
                raise ReadError(f"cannot read {path} as Parquet files: {_one_line(error)}") from None
        return frames

    def label(self, path: str) -> str:
        """The path as the text output names it, with how it was read when that was guessed."""
        note = self.notes.get(path)
        return f"{path} ({note})" if note else path


@dataclass(frozen=True)
class Command[Result]:
    """A command: its arguments, how it computes its result and how it writes it."""

    name: str
    help: str
    arguments: tuple[Argument, ...]
    compute: Callable[[argparse.Namespace, Inputs], Result]  # reads and computes; no output
    emit: Callable[[argparse.Namespace, Inputs, Result], int]  # writes the result; returns the exit status


# -- the commands ----------------------------------------------------------------------------


def _print(lines: Sequence[str], stream: IO[str]) -> None:
    stream.write("\n".join(map(visible, lines)) + "\n")


def _emit(result: Any, as_json: bool, text_lines: Sequence[str]) -> None:
    if as_json:
        sys.stdout.write(json_text(result, indent=2) + "\n")
    else:
        _print(text_lines, sys.stdout)


def _validate_file(columns: _api.Prepared, schema: str) -> ValidationReport:
    if not os.path.isfile(schema):
        raise ReadError(f"no such schema file: {schema}")
    try:
        return _api.validate(columns, schema, failure_cases=True)
    except (OSError, ValueError) as error:
        raise ReadError(f"cannot read schema {schema}: {error}") from None


@contextmanager
def _dask(args: argparse.Namespace) -> Iterator[Any]:
    """nolt.dask on the chosen scheduler, with Dask's progress bar on stderr."""
    import dask

    import nolt.dask

    if args.scheduler in ("threads", "processes"):
        with dask.config.set(scheduler=args.scheduler), nolt.dask.progress_bar():
            yield nolt.dask
        return
    try:
        client = optional_module("distributed").Client
    except ImportError:
        raise ReadError("--scheduler ADDRESS needs dask.distributed: pip install 'nolt[dask]'") from None
    with client(args.scheduler), nolt.dask.progress_bar():
        yield nolt.dask


def _profile(args: argparse.Namespace, inputs: Inputs) -> DetailedProfile:
    if args.dask:
        with _dask(args) as on_dask:
            return on_dask.profile(*inputs.frames(args, args.data), types=inputs.types)  # type: ignore[no-any-return]
    (columns,) = inputs.datasets(args.data)
    return _api.profile(columns)


def _print_profile(args: argparse.Namespace, inputs: Inputs, profile: DetailedProfile) -> int:
    _emit(profile, args.json, _cli_output.profile(profile, inputs.label(args.data)))
    return EXIT_OK


def _suggest(args: argparse.Namespace, inputs: Inputs) -> tuple[_api.Prepared, SuggestedSchema]:
    if args.dask:  # a few rows with the same suggested schema stand in for the data
        with _dask(args) as on_dask:
            columns = on_dask.stand_in(on_dask.observed_schema(*inputs.frames(args, args.data), types=inputs.types))
        return columns, _api.suggest_schema(columns)
    (columns,) = inputs.datasets(args.data)
    return columns, _api.suggest_schema(columns)


def _print_suggestion(args: argparse.Namespace, inputs: Inputs, result: tuple[_api.Prepared, SuggestedSchema]) -> int:
    columns, schema = result
    if args.output is not None:  # written first: a failure leaves nothing printed
        try:
            _api.save_schema(columns, args.output)
        except OSError as error:
            raise _cannot_write(args.output, error) from None
    _emit(schema, args.json, _cli_output.suggest(schema, inputs.label(args.data)))
    if args.output is not None:
        _print([f"schema written to {args.output}"], sys.stderr if args.json else sys.stdout)
    return EXIT_OK


def _validate(args: argparse.Namespace, inputs: Inputs) -> tuple[ValidationReport, int]:
    if args.dask:
        if not os.path.isfile(args.schema):
            raise ReadError(f"no such schema file: {args.schema}")
        with _dask(args) as on_dask:
            (frame,) = inputs.frames(args, args.data)
            try:
                report = on_dask.validate(frame, args.schema, types=inputs.types, failure_cases=True)
            except (OSError, ValueError) as error:
                raise ReadError(f"cannot read schema {args.schema}: {error}") from None
            return report, len(frame)
    (columns,) = inputs.datasets(args.data, schema=args.schema, tolerant=True)
    return _validate_file(columns, args.schema), _api.prepared_rows(columns)


def _print_validation(args: argparse.Namespace, inputs: Inputs, result: tuple[ValidationReport, int]) -> int:
    report, rows = result
    _emit(report, args.json, _cli_output.validate(report, inputs.label(args.data), args.schema, rows))
    return EXIT_OK if report["is_valid"] else EXIT_INVALID


def _compare(args: argparse.Namespace, inputs: Inputs) -> DatasetComparison:
    if args.dask:
        with _dask(args) as on_dask:
            return on_dask.compare(*inputs.frames(args, args.before, args.after), types=inputs.types)  # type: ignore[no-any-return]
    before, after = inputs.datasets(args.before, args.after)
    return _api.compare(before, after)


def _print_comparison(args: argparse.Namespace, inputs: Inputs, comparison: DatasetComparison) -> int:
    _emit(comparison, args.json, _cli_output.compare(comparison, inputs.label(args.before), inputs.label(args.after)))
    return EXIT_OK


def _drift(args: argparse.Namespace, inputs: Inputs) -> DriftReport:
    if args.dask:
        with _dask(args) as on_dask:
            return on_dask.drift(*inputs.frames(args, args.before, args.after), types=inputs.types)  # type: ignore[no-any-return]
    before, after = inputs.datasets(args.before, args.after)
    return _api.drift(before, after)


def _print_drift(args: argparse.Namespace, inputs: Inputs, drift: DriftReport) -> int:
    _emit(drift, args.json, _cli_output.drift(drift, inputs.label(args.before), inputs.label(args.after)))
    return EXIT_INVALID if drift["error_count"] else EXIT_OK


def _report(args: argparse.Namespace, inputs: Inputs) -> Page:
    if args.schema is not None and not os.path.isfile(args.schema):
        raise ReadError(f"no such schema file: {args.schema}")
    if args.baseline is None:
        (prepared,) = inputs.datasets(args.data, schema=args.schema)
        baseline_columns = None
    else:
        prepared, baseline = inputs.datasets(args.data, args.baseline, schema=args.schema)
        baseline_columns = reusable(baseline)
    columns = reusable(prepared)
    validation = None if args.schema is None else _validate_file(columns, args.schema)
    progress = Progress("profiling", 1)
    try:
        return collect(
            columns,
            validation=validation,
            schema_label=args.schema or "",
            baseline_columns=baseline_columns,
            baseline_label=args.baseline or "",
            title=args.title or args.data,
            progress=progress,
        )
    finally:
        progress.finish()


def _write_report(args: argparse.Namespace, inputs: Inputs, page: Page) -> int:
    from nolt._report_page import render

    html = render(page)
    if args.output is None:
        sys.stdout.write(html)
        return EXIT_OK
    try:
        replace_file(args.output, html.encode("utf-8"))
    except OSError as error:
        raise _cannot_write(args.output, error) from None
    _print([f"report written to {args.output}"], sys.stdout)
    return EXIT_OK


COMMANDS: tuple[Command[Any], ...] = (
    Command("profile", "counts, nulls, distinct values and statistics", (*RESULT_OPTIONS, DATA), _profile, _print_profile),
    Command(
        "suggest",
        "suggest a schema, optionally save it",
        (*RESULT_OPTIONS, _argument("data"),
         _argument("-o", "--output", metavar="SCHEMA", type=_output_path, help="write the schema to this JSON file")),
        _suggest,
        _print_suggestion,
    ),
    Command(
        "validate",
        "validate data against a schema file",
        (*RESULT_OPTIONS, _argument("data"),
         _argument("--schema", required=True, metavar="SCHEMA", help="schema file written by suggest -o")),
        _validate,
        _print_validation,
    ),
    Command("compare", "compare two versions column by column", (*RESULT_OPTIONS, *VERSIONS), _compare, _print_comparison),
    Command("drift", "schema drift between two versions", (*RESULT_OPTIONS, *VERSIONS), _drift, _print_drift),
    Command(
        "report",
        "write a self-contained HTML report: profile, charts, validation, drift",
        (
            DATA,
            _argument("--schema", metavar="SCHEMA", help="also validate against this schema file (written by suggest -o)"),
            _argument("--baseline", metavar="OTHER", help="also compare with this earlier version of the data"),
            _argument("-o", "--output", metavar="HTML", type=_output_path,
                      help="write the page to this file (default: standard output)"),
            _argument("--title", help="the page's heading (default: the data file's name)"),
            *INPUT_OPTIONS,
        ),
        _report,
        _write_report,
    ),
)


# What each command's exit statuses mean, as its --help lists them.
_BAD_INPUT = "  2  bad input: a file that cannot be read, an unknown type, malformed options\n"
_BUG = "  3  a fault in nolt (a bug): the traceback is on stderr\n"
EXIT_STATUSES = {
    "validate": "  0  the data is valid\n  1  the data is invalid (cells that cannot be read as their type included)\n",
    "drift": "  0  no drift of error severity (warnings only, or none)\n  1  drift of error severity\n",
}


def _exit_statuses(command: str | None) -> str:
    first = EXIT_STATUSES.get(command or "", "  0  success\n")
    if command is None:
        first = "  0  success\n  1  validate: invalid data; drift: drift of error severity\n"
    return "exit status:\n" + first + _BAD_INPUT + _BUG


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog="nolt", description="Profile, describe, validate and compare tabular data files.",
                     epilog=_exit_statuses(None), formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=f"nolt {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for command in COMMANDS:
        subparser = commands.add_parser(command.name, help=command.help, epilog=_exit_statuses(command.name),
                                        formatter_class=argparse.RawDescriptionHelpFormatter)
        for argument in command.arguments:
            subparser.add_argument(*argument.flags, **argument.settings)
    return parser


# -- running ---------------------------------------------------------------------------------


def _one_line(error: BaseException) -> str:
    """The message on one line, its control characters escaped (only line feeds join lines)."""
    text = "; ".join(line.strip() for line in str(error).split("\n") if line.strip())
    return visible(text or type(error).__name__)


def _visible_lines(text: str) -> str:
    return "".join(visible(line) + "\n" for line in text.rstrip("\n").split("\n"))


def _show_warning(message: Warning | str, category: type[Warning], filename: str, lineno: int,
                  file: Any = None, line: str | None = None) -> None:
    """Warnings from the libraries reach the terminal like any other text: escaped."""
    (file or sys.stderr).write(_visible_lines(warnings.formatwarning(message, category, filename, lineno, line)))


# What reading and computing raise about the data rather than about nolt: wrong values or
# types, files the system refuses, data too large for memory.
_INPUT_ERRORS = (TypeError, ValueError, OverflowError, OSError, MemoryError)


def _about_the_input(error: Exception) -> bool:
    if isinstance(error, _INPUT_ERRORS):
        return True
    pyarrow = sys.modules.get("pyarrow")  # pyarrow's own errors about the data, e.g. a cast it cannot do
    return pyarrow is not None and isinstance(error, pyarrow.ArrowException)


@contextmanager
def _input_errors() -> Iterator[None]:
    """Makes the errors the input causes bad input; any other error passes unchanged."""
    try:
        yield
    except Exception as error:
        if _about_the_input(error):
            raise BadInput(_one_line(error)) from error
        raise


# What pyarrow imports when it is installed, and the command line does without.
_NOT_FOR_PYARROW = ("numpy", "cloudpickle")


def _pyarrow_without_numpy(args: argparse.Namespace) -> None:
    """Imports pyarrow without numpy (nor cloudpickle, for pickling), which pyarrow imports when
    they are installed and which cost a good share of the command's start; with pyarrow.compute
    too unless every file is Parquet (which is read without it). The commands that read files
    hand pyarrow no numpy data and pickle nothing; the report (whose charts bin with numpy) and
    Dask do, and import pyarrow as usual."""
    if "pyarrow" in sys.modules or _NOT_FOR_PYARROW[0] in sys.modules or find_spec("pyarrow") is None:
        return
    formats = set()
    for path in (getattr(args, name, None) for name in ("data", "before", "after")):
        try:
            formats.add(detect_format(path, args.format) if path is not None else "parquet")
        except ReadError:  # reported when the file is read
            formats.add("")
    hidden = [name for name in _NOT_FOR_PYARROW if name not in sys.modules]
    for name in hidden:
        sys.modules[name] = None  # type: ignore[assignment]  # makes pyarrow's `import name` fail
    try:
        optional_module("pyarrow")
        if formats != {"parquet"}:
            optional_module("pyarrow.compute")
    except ImportError:
        pass
    finally:
        for name in hidden:
            del sys.modules[name]


def _run(command: Command[Any], args: argparse.Namespace, alone: bool = False) -> int:
    if alone and command.name != "report" and not getattr(args, "dask", False) and args.engine != "python":
        _pyarrow_without_numpy(args)
    check_output(args)
    inputs = Inputs(args)
    with _input_errors():
        result = command.compute(args, inputs)
    return command.emit(args, inputs, result)


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line and returns the exit status."""
    # A terminal or pipe that cannot show a character gets its escape, never a crash.
    for stream in (sys.stdout, sys.stderr):
        if hasattr(stream, "reconfigure"):
            stream.reconfigure(errors="backslashreplace")
    with warnings.catch_warnings():
        warnings.showwarning = _show_warning
        status = _main(argv)
    if argv is None:
        # Run as the program, which ends now: the interpreter's exit frees what is left by
        # reference counts, and the cyclic collector need not walk the whole heap (every
        # module of pyarrow and numpy) several times over first.
        gc.freeze()
    return status


def end(status: int) -> NoReturn:
    """Ends the program (``python -m nolt``) with this status once its output is written, without
    the interpreter's teardown (which frees every module and object one by one only for the
    system to take the memory back) where nothing is left to do at exit: no Dask scheduler or
    worker processes."""
    if {"dask", "distributed", "multiprocessing"} & sys.modules.keys():
        sys.exit(status)
    try:
        sys.stdout.flush()
    except BrokenPipeError:
        pass  # the reader of our output went away: not an error (as in _main)
    except OSError as error:
        sys.stderr.write(f"nolt: error: cannot write the output: {_one_line(error)}\n")
        status = EXIT_BAD_INPUT
    try:
        sys.stderr.flush()
    except OSError:
        pass
    os._exit(status)


def _main(argv: Sequence[str] | None) -> int:
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
        return _run(next(command for command in COMMANDS if command.name == args.command), args, alone=argv is None)
    except (BadInput, ReadError) as error:  # reported in one line, never as a traceback
        sys.stderr.write(f"nolt: error: {_one_line(error)}\n")
        return EXIT_BAD_INPUT
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader of our output went away (for example `| head`); that is not an error.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_OK
    except (Exception, _api.InternalFault):
        sys.stderr.write(_visible_lines(traceback.format_exc()))
        sys.stderr.write("nolt: internal error: this is a bug in nolt; please report it with the traceback above\n")
        return EXIT_INTERNAL_ERROR
