"""The nolt command line: profile, suggest, validate, compare and drift on data files.

    nolt profile  DATA                 [--types name=type,...] [--json]
    nolt suggest  DATA [-o SCHEMA]     [--types ...] [--json]
    nolt validate DATA --schema SCHEMA [--types ...] [--json]
    nolt compare  BEFORE AFTER         [--types ...] [--json]
    nolt drift    BEFORE AFTER         [--types ...] [--json]
    nolt report   DATA [--schema SCHEMA] [--baseline OTHER] [-o HTML] [--types ...]

Exit status: 0 on success, 1 when ``validate`` finds the data invalid, 2 on bad input
(a missing or unreadable file, an unknown type name, malformed ``--types``, data that does
not fit its declared type), always with a one-line message on stderr.
"""

from __future__ import annotations

import argparse
import json
import os
import sys
from collections.abc import Callable, Sequence
from typing import IO, Any, NoReturn

import _nolt_core

from nolt import _datasets, _render
from nolt._adapters import LOGICAL_TYPES
from nolt._progress import Progress
from nolt._readers import FORMATS, ReadError, read
from nolt._version import __version__
from nolt.report import build, reusable

EXIT_OK, EXIT_INVALID, EXIT_BAD_INPUT = 0, 1, 2


class UsageError(Exception):
    """A malformed command line."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        self.exit(EXIT_BAD_INPUT, f"nolt: error: {message} (see 'nolt --help')\n")


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


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog="nolt", description="Profile, describe, validate and compare tabular data files.")
    parser.add_argument("--version", action="version", version=f"nolt {__version__}")
    common = _Parser(add_help=False)
    common.add_argument("--types", action="append", default=[], metavar="NAME=TYPE,...",
                        help=f"declare column types ({', '.join(LOGICAL_TYPES)}); may be repeated")
    common.add_argument("--json", action="store_true", help="print the result as JSON")
    common.add_argument("--format", choices=FORMATS, help="file format (default: from the file name)")
    common.add_argument("--engine", choices=("auto", "pyarrow", "python"), default="auto",
                        help="file reader: pyarrow when installed (auto), or the standard library (python)")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    command = commands.add_parser("profile", parents=[common], help="counts, nulls, distinct values and statistics")
    command.add_argument("data", help="CSV, TSV, Parquet or JSON-lines file")
    command = commands.add_parser("suggest", parents=[common], help="suggest a schema, optionally save it")
    command.add_argument("data")
    command.add_argument("-o", "--output", metavar="SCHEMA", help="write the schema to this JSON file")
    command = commands.add_parser("validate", parents=[common], help="validate data against a schema file")
    command.add_argument("data")
    command.add_argument("--schema", required=True, metavar="SCHEMA", help="schema file written by suggest -o")
    for name, text in (("compare", "compare two versions column by column"), ("drift", "schema drift between two versions")):
        command = commands.add_parser(name, parents=[common], help=text)
        command.add_argument("before")
        command.add_argument("after")
    _add_report_command(commands)
    return parser


def _print(lines: Sequence[str], stream: IO[str]) -> None:
    stream.write("\n".join(lines) + "\n")


def _emit(result: Any, as_json: bool, text_lines: Sequence[str]) -> None:
    if as_json:
        sys.stdout.write(json.dumps(result, indent=2, ensure_ascii=False) + "\n")
    else:
        _print(text_lines, sys.stdout)


def _run(args: argparse.Namespace) -> int:
    types = parse_types(args.types)

    def load(path: str) -> Any:
        return read(path, types, args.format, args.engine)

    if args.command == "report":
        return _run_report(args, types, load)

    if args.command in ("compare", "drift"):
        before, after = _datasets(types, load(args.before), load(args.after))
        if args.command == "compare":
            comparison = _nolt_core.compare_datasets(before, after)
            _emit(comparison, args.json, _render.compare(comparison, args.before, args.after))
        else:
            drift = _nolt_core.schema_drift_datasets(before, after)
            _emit(drift, args.json, _render.drift(drift, args.before, args.after))
        return EXIT_OK

    (columns,) = _datasets(types, load(args.data))
    if args.command == "profile":
        profile = _nolt_core.profile_dataset(columns)
        _emit(profile, args.json, _render.profile(profile, args.data))
        return EXIT_OK
    if args.command == "suggest":
        schema = _nolt_core.suggest_schema_dataset(columns)
        _emit(schema, args.json, _render.suggest(schema, args.data))
        if args.output:
            try:
                _nolt_core.save_suggested_schema_dataset(columns, args.output)
            except OSError as error:
                raise ReadError(f"cannot write {args.output}: {error}") from None
            _print([f"schema written to {args.output}"], sys.stderr if args.json else sys.stdout)
        return EXIT_OK

    if not os.path.isfile(args.schema):
        raise ReadError(f"no such schema file: {args.schema}")
    try:
        report = _nolt_core.validate_dataset_file(columns, args.schema)
    except (OSError, ValueError) as error:
        raise ReadError(f"cannot read schema {args.schema}: {error}") from None
    _emit(report, args.json, _render.validate(report, args.data, args.schema))
    return EXIT_OK if report["is_valid"] else EXIT_INVALID


def _add_report_command(commands: Any) -> None:
    command = commands.add_parser("report", help="write a self-contained HTML report: profile, charts, validation, drift")
    command.add_argument("data", help="CSV, TSV, Parquet or JSON-lines file")
    command.add_argument("--schema", metavar="SCHEMA", help="also validate against this schema file (written by suggest -o)")
    command.add_argument("--baseline", metavar="OTHER", help="also compare with this earlier version of the data")
    command.add_argument("-o", "--output", metavar="HTML", help="write the page to this file (default: standard output)")
    command.add_argument("--title", help="the page's heading (default: the data file's name)")
    command.add_argument("--types", action="append", default=[], metavar="NAME=TYPE,...",
                         help=f"declare column types ({', '.join(LOGICAL_TYPES)}); may be repeated")
    command.add_argument("--format", choices=FORMATS, help="file format (default: from the file name)")
    command.add_argument("--engine", choices=("auto", "pyarrow", "python"), default="auto",
                         help="file reader: pyarrow when installed (auto), or the standard library (python)")


def _run_report(args: argparse.Namespace, types: dict[str, str], load: Callable[[str], Any]) -> int:
    if args.schema is not None and not os.path.isfile(args.schema):
        raise ReadError(f"no such schema file: {args.schema}")
    data = load(args.data)
    if args.baseline is None:
        (columns,) = _datasets(types, data)
        baseline_columns = None
    else:
        columns, baseline_columns = _datasets(types, data, load(args.baseline))
        baseline_columns = reusable(baseline_columns)
    columns = reusable(columns)
    validation = None
    if args.schema is not None:
        try:
            validation = _nolt_core.validate_dataset_file(columns, args.schema)
        except (OSError, ValueError) as error:
            raise ReadError(f"cannot read schema {args.schema}: {error}") from None
    progress = Progress("profiling", 1)
    try:
        page = build(
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
    if args.output is None:
        sys.stdout.write(page)
        return EXIT_OK
    try:
        with open(args.output, "w", encoding="utf-8") as handle:
            handle.write(page)
    except OSError as error:
        raise ReadError(f"cannot write {args.output}: {error.strerror or error}") from None
    _print([f"report written to {args.output}"], sys.stdout)
    return EXIT_OK


def _one_line(error: BaseException) -> str:
    text = "; ".join(line.strip() for line in str(error).splitlines() if line.strip())
    return text or type(error).__name__


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line and returns the exit status."""
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
        return _run(args)
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader of our output went away (for example `| head`); that is not an error.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_OK
    except Exception as error:  # every failure is reported in one line, never as a traceback
        sys.stderr.write(f"nolt: error: {_one_line(error)}\n")
        return EXIT_BAD_INPUT
