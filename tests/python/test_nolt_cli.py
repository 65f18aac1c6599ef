"""The nolt command line through subprocesses: outputs, JSON results and exit statuses."""

import io
import json
import os
import pathlib
import subprocess
import sys

import errno
import re
import shutil
import threading
import warnings

import pytest

import _nolt_core
import nolt
from conftest import core_part, shared_temp_dir
from nolt import _outputs, _progress, cli
from nolt.cli import parse_types, UsageError

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
ORDERS, ORDERS_V2 = str(EXAMPLES / "orders.csv"), str(EXAMPLES / "orders_v2.csv")
ENGINES = ["pyarrow", "python"] if nolt._readers.have_pyarrow() else ["python"]

# The orders dataset as the core should be given it (the CSV read by hand).
ORDER_TYPES = {
    "order_id": "integer", "quantity": "integer", "unit_price": "float", "size": "categorical",
    "gift_wrap": "boolean", "ordered_on": "datetime", "customer": "string", "channel": "categorical",
}


def hand_read(path):
    import csv

    with open(path, newline="", encoding="utf-8") as handle:
        rows = list(csv.DictReader(handle))
    parse = {"integer": int, "float": float, "boolean": lambda text: text == "true"}
    return [
        (name, ORDER_TYPES[name], [None if row[name] == "" else parse.get(ORDER_TYPES[name], str)(row[name]) for row in rows])
        for name in rows[0]
    ]


def environment():
    """PYTHONPATH covering the nolt package and the native module, installed or not."""
    folders = [str(pathlib.Path(nolt.__file__).parents[1]), str(pathlib.Path(_nolt_core.__file__).parent)]
    if os.environ.get("PYTHONPATH"):
        folders.append(os.environ["PYTHONPATH"])
    return dict(os.environ, PYTHONPATH=os.pathsep.join(folders))


def run(*arguments, cwd=None, stdin=None):
    return subprocess.run(
        [sys.executable, "-m", "nolt", *arguments], capture_output=True, text=True, env=environment(), cwd=cwd, check=False,
        stdin=stdin,
    )


def run_json(*arguments):
    completed = run(*arguments, "--json")
    assert completed.returncode in (0, 1), completed.stderr
    return json.loads(completed.stdout)


CATEGORICAL = ["--types", "size=categorical,channel=categorical"]


@pytest.mark.parametrize("engine", ENGINES)
def test_json_results_equal_the_core_results_on_the_hand_read_data(engine, tmp_path):
    before, after = hand_read(ORDERS), hand_read(ORDERS_V2)
    single = ["--types", "size=categorical", "--engine", engine]
    profile = run_json("profile", ORDERS, *single)
    assert core_part(profile) == _nolt_core.profile_dataset(before) and profile == nolt.profile(before)
    assert run_json("suggest", ORDERS, *single) == _nolt_core.suggest_schema_dataset(before)
    both = [*CATEGORICAL, "--engine", engine]
    assert run_json("compare", ORDERS, ORDERS_V2, *both) == _nolt_core.compare_datasets(before, after)
    assert run_json("drift", ORDERS, ORDERS_V2, *both) == _nolt_core.schema_drift_datasets(before, after)

    schema = tmp_path / "orders.schema.json"
    completed = run("suggest", ORDERS, *single, "-o", str(schema))
    assert completed.returncode == 0 and completed.stdout.endswith(f"schema written to {schema}\n")
    _nolt_core.save_suggested_schema_dataset(before, str(tmp_path / "core.json"))
    assert schema.read_bytes() == (tmp_path / "core.json").read_bytes()
    validated = run_json("validate", ORDERS_V2, "--schema", str(schema), *both)
    core_keys = ["code", "severity", "column", "expected", "observed"]
    assert [list(issue)[:5] for issue in validated["issues"]] == [core_keys] * len(validated["issues"])
    validated["issues"] = [{key: issue[key] for key in core_keys} for issue in validated["issues"]]
    assert validated == _nolt_core.validate_dataset_file(after, str(schema))


def test_validate_exit_status_tells_valid_from_invalid(tmp_path):
    schema = str(tmp_path / "s.json")
    assert run("suggest", ORDERS, "-o", schema).returncode == 0
    valid = run("validate", ORDERS, "--schema", schema)
    assert (valid.returncode, valid.stderr) == (0, "")
    assert valid.stdout == f"{ORDERS} against {schema}: valid (0 errors, 0 warnings)\n"
    invalid = run("validate", ORDERS_V2, "--schema", schema)
    assert invalid.returncode == 1
    assert invalid.stdout.splitlines()[0] == f"{ORDERS_V2} against {schema}: INVALID (3 errors, 0 warnings)"


def test_text_output_of_profile():
    completed = run("profile", ORDERS, "--types", "size=categorical")
    assert completed.returncode == 0 and completed.stderr == ""
    assert completed.stdout.splitlines()[:5] == [
        f"{ORDERS}: 40 rows, 7 columns",
        "",
        "column      type         nulls  distinct   min  median    max     mean  details",
        "order_id    integer          0        40  1001  1020.5   1040   1020.5",
        "quantity    integer          0        12     1     6.5     12    6.775",
    ]


@pytest.mark.parametrize(
    "arguments, message",
    [
        (["profile", "missing.csv"], "nolt: error: no such file: missing.csv"),
        (["profile", "data.xlsx"], "nolt: error: cannot tell the format of data.xlsx: use a .csv, .tsv, .parquet, .json or .jsonl name, or --format"),
        (["profile", ORDERS, "--types", "size=Categorical"],
         "nolt: error: unknown type 'Categorical' for column 'size': use one of integer, float, boolean, string, datetime, categorical, unknown"),
        (["profile", ORDERS, "--types", "size"], "nolt: error: malformed --types 'size': expected name=type[,name=type...]"),
        (["profile", ORDERS, "--types", "size=string,"], "nolt: error: malformed --types 'size=string,': expected name=type[,name=type...]"),
        (["profile", ORDERS, "--types", "sise=string"], "nolt: error: types names column 'sise', which the data does not have"),
        (["profile", ORDERS, "--types", "customer=integer", "--engine", "python"],
         f"nolt: error: {ORDERS} row 1 (line 2), column 'customer': cannot read 'Eli' as integer"),
        (["validate", ORDERS, "--schema", "nowhere.json"], "nolt: error: no such schema file: nowhere.json"),
        (["validate", ORDERS], "nolt: error: the following arguments are required: --schema (see 'nolt --help')"),
        (["frobnicate"], None),
    ],
)
def test_bad_input_gives_one_line_and_exit_status_2(arguments, message):
    completed = run(*arguments)
    assert completed.returncode == 2
    assert completed.stdout == ""
    assert len(completed.stderr.splitlines()) == 1 and "Traceback" not in completed.stderr
    if message is not None:
        assert completed.stderr == message + "\n"


@pytest.mark.parametrize(
    "module, name, fault",
    [
        ("_api", "profile", RuntimeError("broken")),  # while computing
        ("_api", "profile", _nolt_core.InternalFault("broken")),  # the core's own fault class
        ("_cli_output", "profile", TypeError("broken")),  # while writing: a TypeError here is no bad input
    ],
)
def test_a_fault_in_nolt_shows_its_traceback_and_exit_status_3(module, name, fault, monkeypatch, capsys):
    def broken(*arguments):
        raise fault

    monkeypatch.setattr(getattr(cli, module), name, broken)
    assert cli.main(["profile", ORDERS, "--engine", "python"]) == 3
    out, err = capsys.readouterr()
    assert out == "" and err.startswith("Traceback (most recent call last):\n")
    assert err.endswith(f"{type(fault).__name__}: broken\n"
                        "nolt: internal error: this is a bug in nolt; please report it with the traceback above\n")


@pytest.mark.skipif("pyarrow" not in ENGINES, reason="needs pyarrow")
def test_a_value_that_does_not_fit_its_declared_type_is_bad_input_with_pyarrow_too():
    completed = run("profile", ORDERS, "--types", "customer=integer", "--engine", "pyarrow")
    assert (completed.returncode, completed.stderr) == (
        2, f"nolt: error: {ORDERS} row 1 (line 2), column 'customer': cannot read 'Eli' as integer\n"
    )


def test_a_broken_schema_file_is_bad_input(tmp_path):
    schema = tmp_path / "broken.json"
    schema.write_text("")
    completed = run("validate", ORDERS, "--schema", str(schema))
    assert (completed.returncode, completed.stderr) == (
        2, f"nolt: error: cannot read schema {schema}: EOF while parsing a value at line 1 column 0\n"
    )


@pytest.mark.parametrize("engine", ENGINES)
def test_csv_inference_rules(engine, tmp_path):
    path = tmp_path / "kinds.csv"
    path.write_text(
        "b,i,f,d,t,s,e,big\n"
        "true,1,1.5,2026-01-02,2026-01-02 03:04:05,x,,9223372036854775808\n"
        "FALSE,-2,2,2026-01-03,2026-01-02T03:04:05.5,,,1\n"
        ",,,,,\"\",,\n"
    )
    (b, i, f, d, t, s, e, big) = run_json("profile", str(path), "--engine", engine)["columns"]
    assert [column["logical_type"] for column in (b, i, f, d, t, s, e)] == [
        "boolean", "integer", "float", "datetime", "datetime", "string", "unknown"
    ]
    assert big["logical_type"] == "string"  # beyond 64 bits: kept as text
    assert [column["null_count"] for column in (b, i, f, d, t, s, e)] == [1, 1, 1, 1, 1, 2, 3]
    assert i["numeric_stats"]["min"] == -2.0 and f["numeric_stats"]["max"] == 2.0
    observed = run_json("suggest", str(path), "--engine", engine, "--types", "t=categorical,d=categorical")
    assert observed["columns"][3]["constraints"]["allowed_values"] == ["2026-01-02", "2026-01-03"]
    assert observed["columns"][4]["constraints"]["allowed_values"] == ["2026-01-02 03:04:05", "2026-01-02T03:04:05.5"]


@pytest.mark.parametrize("engine", ENGINES)
def test_json_lines_and_tsv_read_like_csv(engine, tmp_path):
    before = hand_read(ORDERS)
    rows = [dict(zip([c[0] for c in before], values)) for values in zip(*[c[2] for c in before])]
    jsonl = tmp_path / "orders.jsonl"
    jsonl.write_text("".join(json.dumps(row) + "\n" for row in rows))
    tsv = tmp_path / "orders.tsv"
    tsv.write_text(pathlib.Path(ORDERS).read_text().replace(",", "\t"))
    expected = _nolt_core.profile_dataset(before)
    for path in (jsonl, tsv):
        assert core_part(run_json("profile", str(path), "--types", "size=categorical", "--engine", engine)) == expected


def test_parquet_needs_pyarrow_and_reads_like_csv(tmp_path):
    parquet = pytest.importorskip("pyarrow.parquet")
    table = pytest.importorskip("pyarrow.csv").read_csv(ORDERS)
    path = tmp_path / "orders.parquet"
    parquet.write_table(table, path, row_group_size=7)
    expected = _nolt_core.profile_dataset(hand_read(ORDERS))
    assert core_part(run_json("profile", str(path), "--types", "size=categorical")) == expected
    completed = run("profile", str(path), "--engine", "python")
    assert (completed.returncode, completed.stderr) == (
        2, "nolt: error: reading Parquet files needs pyarrow: pip install 'nolt[pyarrow]'\n"
    )


def test_a_parquet_file_gives_the_same_output_however_its_text_is_stored(tmp_path, monkeypatch, capsys):
    # Several row groups; "city" is stored as dictionary indexes throughout (with nulls), "code"
    # outgrows a small dictionary and falls back to plain pages, "size" is declared categorical.
    pa, parquet = pytest.importorskip("pyarrow"), pytest.importorskip("pyarrow.parquet")
    from nolt import _read_arrow, _readers

    rows = 3000
    table = pa.table({
        "city": [None if row % 7 == 0 else f"city {row % 5}" for row in range(rows)],
        "code": [f"c{row * 7919 % rows:05}" for row in range(rows)],
        "size": ["S", "M", "L"] * (rows // 3),
        "n": list(range(rows)),
    })
    types = ["--types", "size=categorical"]
    nolt.save_schema(table.slice(0, 100), tmp_path / "schema.json", types={"size": "categorical"})
    commands = [["profile"], ["profile", "--json"], ["suggest", "--json"],
                ["validate", "--schema", str(tmp_path / "schema.json"), "--json"]]
    outputs = {}
    for folder, settings in {"plain": {"use_dictionary": False}, "indexed": {"dictionary_pagesize_limit": 4096, "write_batch_size": 100}}.items():
        (tmp_path / folder).mkdir()
        monkeypatch.chdir(tmp_path / folder)
        parquet.write_table(table, "data.parquet", row_group_size=1000, **settings)
        schema = parquet.read_schema("data.parquet")
        assert _read_arrow.indexed_text_columns(_readers.open_source("data.parquet"), schema) == (
            [] if folder == "plain" else ["city", "size"]
        )
        outputs[folder] = [(cli.main([*command, "data.parquet", *types]), capsys.readouterr()) for command in commands]
    assert outputs["indexed"] == outputs["plain"]
    assert json.loads(outputs["plain"][1][1].out) == nolt.profile(table, types={"size": "categorical"})


@pytest.mark.parametrize("suffix", [".parquet", ".csv"])
def test_a_command_imports_only_what_it_needs(suffix, tmp_path):
    pa = pytest.importorskip("pyarrow")
    path = tmp_path / f"data{suffix}"
    table = pa.table({"a": [1, 2], "b": ["x", None]})
    if suffix == ".parquet":
        pytest.importorskip("pyarrow.parquet").write_table(table, path)
    else:
        path.write_text("a,b\n1,x\n2,\n")
    completed = subprocess.run([sys.executable, "-X", "importtime", "-m", "nolt", "profile", str(path)],
                               capture_output=True, text=True, env=environment(), check=True)
    imported = {line.rsplit("|", 1)[-1].strip() for line in completed.stderr.splitlines()}
    assert "pyarrow.lib" in imported
    assert not imported & {"numpy", "cloudpickle", "pandas", "polars", "dask", "nolt._report_page", "nolt._report_charts",
                           "secrets"}
    if suffix == ".parquet":  # the CSV engine's thread pool and the standard-library reader
        assert not imported & {"concurrent.futures", "nolt._read_python"}


@pytest.mark.parametrize("tail", [
    b"",
    b"\x00\x00\x00\x00PAR1",  # an empty footer
    b"\xff\xff\xff\x7fPAR1",  # longer than the file
    b"\x1c\x15\x00\x00\x04\x00\x00\x00PAR1",  # cut short inside a struct
    b"\x1d\x00\x00\x00\x03\x00\x00\x00PAR1",  # a type Thrift does not have
    b"\x00\x00\x00\x00\x00\x00\x00\x00PARE",  # an encrypted footer
    b"\x1c" * 5000 + (5000).to_bytes(4, "little") + b"PAR1",  # structs nested past any real footer
])
def test_a_footer_that_cannot_be_read_names_no_indexed_columns(tail):
    pa = pytest.importorskip("pyarrow")
    from nolt import _read_arrow, _readers

    content = b"PAR1" + tail
    source = _readers.Source("-", "<stdin>", content, len(content))
    assert _read_arrow.indexed_text_columns(source, pa.schema([("a", pa.string())])) == []


def test_the_console_script_is_declared():
    text = (pathlib.Path(__file__).resolve().parents[2] / "pyproject.toml").read_text()
    assert 'nolt = "nolt.cli:main"' in text


@pytest.mark.parametrize(
    "entries, expected",
    [
        (["a=integer"], {"a": "integer"}),
        (["a=integer,b = float", "c=string"], {"a": "integer", "b": "float", "c": "string"}),
        (["x=y=categorical"], {"x=y": "categorical"}),  # the last '=' separates the type
        (["a=integer", "a=string"], {"a": "string"}),
    ],
)
def test_parse_types(entries, expected):
    assert parse_types(entries) == expected


@pytest.mark.parametrize("entry", ["", "a", "=integer", "a=int"])
def test_parse_types_refuses(entry):
    with pytest.raises(UsageError):
        parse_types([entry])


def test_progress_bar_draws_only_when_enabled_and_clears_its_line(monkeypatch):
    monkeypatch.setattr(_progress, "_DELAY", 0.0)
    monkeypatch.setattr(_progress, "_INTERVAL", 0.0)
    stream = io.StringIO()
    progress = _progress.Progress("orders.csv", 200, stream=stream, enabled=True)
    progress.update(50)
    progress.finish()
    assert stream.getvalue() == "\rorders.csv [#######.......................]  25%\r\033[K"
    quiet = io.StringIO()
    silent = _progress.Progress("orders.csv", 200, stream=quiet)  # a StringIO is no terminal
    silent.update(100)
    silent.finish()
    assert quiet.getvalue() == ""


def test_reading_through_the_counting_reader_reports_every_byte():
    seen = []

    class Recorder:
        def update(self, done):
            seen.append(done)

    reader = io.BufferedReader(_progress.CountingReader(io.BytesIO(b"x" * 10000), Recorder()), buffer_size=4096)
    assert len(reader.read()) == 10000
    assert seen[-1] == 10000


def test_no_progress_output_when_stderr_is_not_a_terminal():
    completed = run("profile", ORDERS)
    assert completed.stderr == ""


# -- the files -o writes -------------------------------------------------------------------------

SAME_FILE = {  # arguments; the input the output would overwrite, as the message names it
    "same path": (["suggest", "d.csv", "-o", "d.csv"], "data file d.csv"),
    "symbolic link": (["suggest", "d.csv", "-o", "link.csv"], "data file d.csv"),
    "hard link": (["suggest", "d.csv", "-o", "hard.csv"], "data file d.csv"),
    "redirected standard input": (["suggest", "-", "-o", "hard.csv"], "data file on standard input"),
    "report over its data": (["report", "link.csv", "-o", "d.csv"], "data file link.csv"),
    "report over its schema": (["report", "v2.csv", "--schema", "s.json", "-o", "s.json"], "schema file s.json"),
    "report over its baseline": (["report", "v2.csv", "--baseline", "d.csv", "-o", "hard.csv"], "baseline file d.csv"),
}


@pytest.mark.parametrize("case", SAME_FILE)
def test_output_never_overwrites_an_input(case, tmp_path):
    shutil.copy(ORDERS, tmp_path / "d.csv")
    shutil.copy(ORDERS_V2, tmp_path / "v2.csv")
    (tmp_path / "link.csv").symlink_to("d.csv")
    os.link(tmp_path / "d.csv", tmp_path / "hard.csv")
    _nolt_core.save_suggested_schema_dataset(hand_read(ORDERS), str(tmp_path / "s.json"))
    before = {path.name: path.read_bytes() for path in tmp_path.iterdir()}
    arguments, found = SAME_FILE[case]
    with open(tmp_path / "d.csv", "rb") as stdin:
        completed = run(*arguments, cwd=tmp_path, stdin=stdin)
    output = arguments[arguments.index("-o") + 1]
    assert (completed.returncode, completed.stdout, completed.stderr) == (
        2, "", f"nolt: error: -o {output} would overwrite the {found}: write to another file\n")
    assert {path.name: path.read_bytes() for path in tmp_path.iterdir()} == before


@pytest.mark.parametrize("command", ["suggest", "report"])
@pytest.mark.parametrize("target, reason", [("", None), ("none/out", "No such file or directory"), (".", "Is a directory")])
def test_both_commands_refuse_an_output_they_cannot_write_alike(command, target, reason, tmp_path):
    completed = run(command, ORDERS, "-o", target, cwd=tmp_path)
    message = (f"cannot write {target}: {reason}" if reason else
               "argument -o/--output: an empty path names no file (see 'nolt --help')")
    assert (completed.returncode, completed.stdout, completed.stderr) == (2, "", f"nolt: error: {message}\n")
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("failing", ["fsync", "replace"])
def test_a_failed_write_leaves_the_previous_page_and_no_temporary_file(failing, tmp_path, monkeypatch, capsys):
    target = tmp_path / "report.html"
    target.write_text("previous page")

    def full(*arguments):
        raise OSError(errno.ENOSPC, "No space left on device")

    monkeypatch.setattr(os, failing, full)
    assert cli.main(["report", ORDERS, "--engine", "python", "-o", str(target)]) == 2
    assert capsys.readouterr() == ("", f"nolt: error: cannot write {target}: No space left on device\n")
    assert os.listdir(tmp_path) == ["report.html"] and target.read_text() == "previous page"


def test_replace_file_writes_through_links_keeps_modes_and_writes_pipes_in_place(tmp_path):
    real, link = tmp_path / "real.html", tmp_path / "link.html"
    real.write_text("old")
    real.chmod(0o640)
    link.symlink_to(real.name)
    _outputs.replace_file(str(link), b"new")
    assert link.is_symlink() and real.read_bytes() == b"new" and (real.stat().st_mode & 0o777) == 0o640
    pipe = tmp_path / "pipe"
    os.mkfifo(pipe)
    received = []
    reader = threading.Thread(target=lambda: received.append(pipe.read_bytes()))
    reader.start()
    _outputs.replace_file(str(pipe), b"streamed")
    reader.join(timeout=10)
    assert received == [b"streamed"] and pipe.is_fifo()
    assert sorted(os.listdir(tmp_path)) == ["link.html", "pipe", "real.html"]


PERMISSION_CHILD = r"""
import contextlib, io, os, sys
from nolt import cli
data, directory = sys.argv[1], sys.argv[2]
for command in ("suggest", "report"):  # loads every module while the interpreter's files can be read
    with contextlib.redirect_stdout(io.StringIO()):
        cli.main([command, data, "--engine", "python"])
if os.geteuid() == 0:  # from here on an ordinary user
    os.setgroups([])
    os.setgid(65534)
    os.setuid(65534)
for command in ("suggest", "report"):
    for name in ("read_only", "locked/new", "locked/open"):
        err = io.StringIO()
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(err):
            status = cli.main([command, data, "--engine", "python", "-o", os.path.join(directory, name)])
        print(status, err.getvalue().replace(directory + "/", "").strip())
"""


def test_both_commands_meet_permissions_alike():
    directory = shared_temp_dir("nolt-cli-permissions-")  # reachable by the unprivileged child
    try:
        shutil.copy(ORDERS, os.path.join(directory, "d.csv"))
        os.chmod(os.path.join(directory, "d.csv"), 0o644)
        os.mkdir(os.path.join(directory, "locked"))
        for name, mode in (("read_only", 0o444), ("locked/open", 0o666), ("locked", 0o555)):
            if name != "locked":
                pathlib.Path(directory, name).write_text("keep")
            os.chmod(os.path.join(directory, name), mode)
        child = subprocess.run([sys.executable, "-c", PERMISSION_CHILD, os.path.join(directory, "d.csv"), directory],
                               capture_output=True, text=True, timeout=120, env=environment())
        assert child.returncode == 0, child.stderr[-3000:]
        refusals = ["2 nolt: error: cannot write read_only: Permission denied",
                    "2 nolt: error: cannot write locked/new: Permission denied", "0 "]
        assert child.stdout.splitlines() == refusals * 2
        assert pathlib.Path(directory, "read_only").read_text() == "keep"
        assert pathlib.Path(directory, "locked", "open").read_text().startswith("<!DOCTYPE html>")  # in place
    finally:
        os.chmod(os.path.join(directory, "locked"), 0o755)
        shutil.rmtree(directory)


# -- the terminal shows data, never obeys it -------------------------------------------------------

HOSTILE_CSV = "a\x1b[2J,b\u202e\nx\x1b]0;pwn\x07,1\n\"\x9b31m\rz\",2\n"
RAW_CONTROL = re.compile("[\x00-\x09\x0b-\x1f\x7f-\x9f\u061c\u200e\u200f\u2028\u2029\u202a-\u202e\u2066-\u2069]")
ESCAPED = ["a\\x1b[2J", "b\\u202e"]
CATEGORICAL_A = ["--types", "a\x1b[2J=categorical"]


@pytest.mark.parametrize(
    "arguments, shown",
    [
        (["profile", "h.csv"], ESCAPED),
        (["suggest", "h.csv", *CATEGORICAL_A], [*ESCAPED, "x\\x1b]0;pwn\\x07, \\x9b31m\\rz"]),
        (["suggest", "h.csv", *CATEGORICAL_A, "--json"], ['"a\\u001b[2J"', '"\\u009b31m\\rz"']),
        (["validate", "h.csv", "--schema", "s.json", *CATEGORICAL_A], [ESCAPED[0], "'\\x9b31m\\rz'"]),
        (["compare", "h.csv", "n.csv"], [*ESCAPED, "n\\x1b[31m"]),
        (["drift", "h.csv", "n.csv"], [*ESCAPED, "n\\x1b[31m"]),
        (["profile", "h.csv", "--types", "b\u202e=boolean"], ["column 'b\\u202e': cannot read '1' as boolean"]),
        (["profile", "\x1b[2J.csv"], ["nolt: error: no such file: \\x1b[2J.csv"]),
    ],
)
def test_control_characters_in_names_values_and_paths_are_shown_escaped(arguments, shown, tmp_path):
    (tmp_path / "h.csv").write_text(HOSTILE_CSV, encoding="utf-8")
    (tmp_path / "n.csv").write_text("n\x1b[31m\n1\n", encoding="utf-8")
    _nolt_core.save_suggested_schema_dataset([("a\x1b[2J", "categorical", ["ok"]), ("b\u202e", "integer", [1])],
                                             str(tmp_path / "s.json"))
    completed = run(*arguments, cwd=tmp_path)
    output = completed.stdout + completed.stderr
    assert RAW_CONTROL.search(output) is None and completed.returncode in (0, 1, 2)
    assert all(text in output for text in shown), output
    if "--json" in arguments:
        assert json.loads(completed.stdout)["columns"][0]["constraints"]["allowed_values"] == ["x\x1b]0;pwn\x07", "\x9b31m\rz"]


def test_text_tables_stay_aligned_with_escaped_names(tmp_path):
    (tmp_path / "h.csv").write_text(HOSTILE_CSV, encoding="utf-8")
    assert run("profile", "h.csv", cwd=tmp_path).stdout.splitlines() == [
        "h.csv: 2 rows, 2 columns",
        "",
        "column    type     nulls  distinct  min  median  max  mean  details",
        "a\\x1b[2J  string       0         2                          length 6-9; top 'x\\x1b]0;pwn\\x07' x1, '\\x9b31m\\rz' x1",
        "b\\u202e   integer      0         2    1     1.5    2   1.5",
    ]


def test_progress_labels_warnings_and_tracebacks_show_control_characters_escaped(monkeypatch, capsys):
    stream = io.StringIO()
    monkeypatch.setattr(_progress, "_DELAY", 0.0)
    _progress.Progress("\x1b]0;title\x07.csv", 10, stream=stream, enabled=True).update(10)
    assert stream.getvalue().startswith("\r\\x1b]0;title\\x07.csv [")

    def noisy(columns):
        warnings.warn("column \x1b[2J")
        raise RuntimeError("cell \x1b]0;x\x07")

    monkeypatch.setattr(cli._api, "profile", noisy)
    assert cli.main(["profile", ORDERS, "--engine", "python"]) == 3
    err = capsys.readouterr().err
    assert "UserWarning: column \\x1b[2J\n" in err and "RuntimeError: cell \\x1b]0;x\\x07\n" in err
    assert RAW_CONTROL.search(err) is None


def test_an_ascii_only_output_shows_other_characters_escaped(tmp_path):
    data = tmp_path / "cities.csv"
    data.write_text("city\nZürich\n", encoding="utf-8")
    completed = subprocess.run(
        [sys.executable, "-m", "nolt", "suggest", str(data), "--types", "city=categorical"],
        capture_output=True, env=dict(environment(), PYTHONIOENCODING="ascii"), check=False,
    )
    assert completed.returncode == 0, completed.stderr
    assert b"Z\\xfcrich" in completed.stdout


def test_called_in_process_the_command_line_leaves_the_garbage_collector_as_it_was(monkeypatch, capsys):
    import gc

    frozen = gc.get_freeze_count()
    assert cli.main(["profile", ORDERS]) == 0
    assert gc.get_freeze_count() == frozen
    monkeypatch.setattr(sys, "argv", ["nolt", "profile", ORDERS])
    try:
        assert cli.main() == 0  # run as the program: what is left is frozen for its exit
        assert gc.get_freeze_count() > frozen
    finally:
        gc.unfreeze()
    assert capsys.readouterr().out.count("orders.csv: ") == 2
