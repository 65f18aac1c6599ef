"""Every function, called many times on valid and on failing input, must not
grow the interpreter's allocated blocks or the process's resident memory."""

import gc
import os
import sys

import pytest

import _nolt_core

# Under the sanitizers (scripts/sanitize.sh) the allocator is plain malloc, so
# the interpreter counts no blocks, and freed memory sits in quarantine, so the
# resident size grows: there the calls only run, and LeakSanitizer judges them.
SANITIZED = os.environ.get("NOLT_SANITIZED") == "1"
ROUNDS = 200 if SANITIZED else 2000


def dataset(offset=0):
    return [
        ("id", "integer", [1 + offset, 2, 3, None]),
        ("price", "float", [1.5, float("nan"), None, -0.0]),
        ("flag", "boolean", [True, False, True, True], True),
        ("size", "categorical", ["s", "m", "s", None]),
        ("note", "string", ["a", "é", "b", "c"]),
        ("when", "datetime", ["2026-01-01", None, 3, 4.5]),
    ]


SCHEMA_COLUMNS = [
    ("id", "integer", False, (0, 2), None),
    ("size", "categorical", True, None, ["s", True]),
    ("missing", "string", True, None, None),
]


def make_calls(tmp_path):
    schema_path = str(tmp_path / "schema.json")
    _nolt_core.save_suggested_schema_dataset(dataset(), schema_path)
    bad_json = tmp_path / "bad.json"
    bad_json.write_text('{"format_version": 1, "schema": {"columns": [1]}}')
    good = dataset()
    other = dataset(7)[:4]
    unequal = [("a", "integer", [1, 2]), ("b", "integer", [1])]
    kind_error = [("a", "integer", [1, 2.5])]
    return {
        "version": lambda: _nolt_core.version(),
        "profile": lambda: _nolt_core.profile_dataset(good),
        "observed": lambda: _nolt_core.observed_schema_dataset(good),
        "suggest": lambda: _nolt_core.suggest_schema_dataset(good),
        "inspect": lambda: _nolt_core.inspect_dataset(good),
        "save": lambda: _nolt_core.save_suggested_schema_dataset(good, schema_path),
        "validate_file": lambda: _nolt_core.validate_dataset_file(other, schema_path),
        "validate_schema": lambda: _nolt_core._validate_dataset_schema(good, SCHEMA_COLUMNS),
        "compare": lambda: _nolt_core.compare_datasets(good, other),
        "drift": lambda: _nolt_core.schema_drift_datasets(good, other),
        # failing calls, one of each kind
        "binding": lambda: _nolt_core.compare_datasets([], cols=[]),
        "shape": lambda: _nolt_core.profile_dataset([["a", "integer", []]]),
        "str_argument": lambda: _nolt_core.inspect_dataset("abc"),
        "overflow": lambda: _nolt_core.profile_dataset([("a", "integer", [2**70])]),
        "surrogate": lambda: _nolt_core.profile_dataset([("a", "string", ["ok", "\udc80"])]),
        "iteration": lambda: _nolt_core.profile_dataset([("a", "string", (1 / 0 for _ in range(1)))]),
        "length": lambda: _nolt_core.observed_schema_dataset(unequal),
        "value_kind": lambda: _nolt_core.schema_drift_datasets(good, kind_error),
        "observed_values": lambda: _nolt_core.suggest_schema_dataset([("c", "categorical", ["a", 1])]),
        "missing_file": lambda: _nolt_core.validate_dataset_file(good, str(tmp_path / "nope.json")),
        "parse_error": lambda: _nolt_core.validate_dataset_file(good, str(bad_json)),
        "save_error": lambda: _nolt_core.save_suggested_schema_dataset(good, str(tmp_path / "no" / "x.json")),
        "schema_shape": lambda: _nolt_core._validate_dataset_schema(good, [("a", "integer", 1, None, None)]),
        "schema_value": lambda: _nolt_core._validate_dataset_schema(good, [("a", "string", True, None, [5])]),
        "schema_bound": lambda: _nolt_core._validate_dataset_schema(good, [("a", "float", True, ("x", 1), None)]),
        "typed_bool": lambda: _nolt_core.profile_dataset([("b", "boolean", [True, 0], True)]),
        **engine_calls(tmp_path),
    }


def engine_calls(tmp_path):
    """The engine's functions on Arrow data, with and without the adapters' help, and failing."""
    import nolt._engine as engine

    try:
        import pyarrow as pa
    except ImportError:
        return {}
    table = pa.table({"n": [1, None, 3], "s": pa.array(["a", None, "é"]).dictionary_encode(),
                      "t": pa.array([1, 2, 3], pa.timestamp("ms", "UTC")), "d": pa.array([1, 2, None], pa.decimal128(4, 1))})
    plan = {"arrow": table, "types": [None, None, "string", None],
            "fallback": lambda index: ("d", "float", table.column(index).cast(pa.float64()).to_pylist())}
    return {
        "engine_inspect": lambda: engine.inspect(plan, 2),
        "engine_compare": lambda: engine.compare(plan, dataset(), 2),
        "engine_drift": lambda: engine.drift(dataset(), plan, 1),
        "engine_save": lambda: engine.save_schema(plan, str(tmp_path / "engine.json"), 2),
        "engine_unread": lambda: engine.profile(table, 2),
        "engine_fallback_error": lambda: engine.profile({**plan, "fallback": lambda index: 1 / 0}, 2),
    }


def resident_kib():
    with open(f"/proc/{os.getpid()}/statm") as handle:
        return int(handle.read().split()[1]) * (os.sysconf("SC_PAGE_SIZE") // 1024)


def run(call, rounds):
    for _ in range(rounds):
        try:
            call()
        except Exception:
            pass


@pytest.mark.skipif(sys.flags.dev_mode, reason="dev mode adds tracing allocations")
def test_no_growth_of_blocks_or_resident_memory(tmp_path):
    calls = make_calls(tmp_path)
    for name, call in calls.items():
        run(call, 50)  # warm caches (interned strings, free lists)
        # A leak grows in every batch; warming that outlasts the first batch
        # (worker threads' free lists, pyarrow's pools) does not, so the
        # smallest growth of a few batches is the one judged.
        growths = []
        for _ in range(1 if SANITIZED else 3):
            gc.collect()
            blocks_before = sys.getallocatedblocks()
            rss_before = resident_kib()
            run(call, ROUNDS)
            gc.collect()
            growths.append((sys.getallocatedblocks() - blocks_before, resident_kib() - rss_before))
            if growths[-1][0] < 50 and growths[-1][1] < 4096:
                break
        if SANITIZED:
            continue
        block_growth = min(blocks for blocks, _ in growths)
        rss_growth = min(kib for _, kib in growths)
        assert block_growth < 50, f"{name}: {block_growth} blocks more after {ROUNDS} calls"
        assert rss_growth < 4096, f"{name}: resident memory grew by {rss_growth} KiB"


class Boom(Exception):
    pass


class Hostile:
    """A cell whose conversions raise."""

    def __index__(self):
        raise Boom("index")

    def __float__(self):
        raise Boom("float")


def test_argument_objects_keep_their_reference_counts(tmp_path):
    """Every reference the module takes to an argument object is given back, on
    success and on every error path (a leaked reference keeps the object
    reachable, which no leak detector sees)."""
    schema_path = str(tmp_path / "schema.json")
    name, text, flag, hostile, cell = "col", "café", numpy_bool(), Hostile(), 12345.5
    values = [cell, None, cell]
    column = (name, "float", values)
    typed = (name, "integer", [hostile], True)
    schema_item = (name, "categorical", flag, (cell, None), [text, True])
    watched = [name, text, flag, hostile, cell, values, column, typed, schema_item, schema_path]
    calls = [
        lambda: _nolt_core.inspect_dataset([column, (name, "string", [text, text, None])]),
        lambda: _nolt_core.save_suggested_schema_dataset([column], schema_path),
        lambda: _nolt_core.validate_dataset_file([column], schema_path),
        lambda: _nolt_core._validate_dataset_schema([column], [schema_item]),
        lambda: _nolt_core._validate_dataset_schema([column], [schema_item, (name, "Bad", flag, None, None)]),
        lambda: _nolt_core.compare_datasets([column], [column, column]),
        lambda: _nolt_core.schema_drift_datasets([column], [typed]),
        lambda: _nolt_core.profile_dataset([typed]),
        lambda: _nolt_core.profile_dataset([(name, "float", [hostile], True)]),
        lambda: _nolt_core.profile_dataset([(name, "integer", values)]),
        lambda: _nolt_core.profile_dataset([column, (name, "float", [cell])]),
        lambda: _nolt_core.profile_dataset([(name, "integer", [1], flag)]),
        lambda: _nolt_core._validate_dataset_schema([], [(name, "float", flag, (hostile, None), None)]),
        lambda: _nolt_core.profile_dataset(columns=[column], cols=values),
    ]
    for call in calls:
        run(call, 3)
        before = [sys.getrefcount(obj) for obj in watched]
        run(call, 100)
        assert [sys.getrefcount(obj) for obj in watched] == before


def numpy_bool():
    import numpy

    return numpy.bool_(True)
