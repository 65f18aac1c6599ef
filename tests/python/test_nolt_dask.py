"""nolt.dask on a two-process cluster returns exactly what nolt returns on the computed frame."""

import json
import math

import numpy as np
import pytest

pd = pytest.importorskip("pandas")
dask = pytest.importorskip("dask")
dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

import nolt  # noqa: E402
import nolt.dask as nd  # noqa: E402


@pytest.fixture(scope="module")
def cluster():
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None, memory_limit="4GiB"
    ) as local, distributed.Client(local) as client:
        yield client


def split(frame, cuts):
    """A Dask DataFrame of the frame's rows cut at the given positions (empty parts included)."""
    bounds = [0, *sorted(cuts), len(frame)]
    pieces = [frame.iloc[start:stop] for start, stop in zip(bounds, bounds[1:])]
    return dd.from_delayed([dask.delayed(piece) for piece in pieces], meta=frame.iloc[:0], verify_meta=False)


def outcome(function, *args, **kwargs):
    """The result, or the exception's class and message."""
    try:
        return function(*args, **kwargs)
    except Exception as error:
        return type(error), str(error)


def same(nolt_function, dask_function, frames, *args, computed=None, **kwargs):
    """Asserts equal outcomes; ``computed`` are the frames already computed."""
    expected = outcome(nolt_function, *(computed or [frame.compute() for frame in frames]), *args, **kwargs)
    assert outcome(dask_function, *frames, *args, **kwargs) == expected
    return expected


texts = st.sampled_from(["a", "b", "A", "", "é", "a b"]) | st.text(max_size=4)
special_floats = st.sampled_from([0.0, -0.0, 1.5, -2.25, math.nan, math.inf, -math.inf, 1e308, -1e308, 5e-324])


@st.composite
def frames(draw):
    rows = draw(st.integers(0, 60))

    def cells(strategy):
        return draw(st.lists(strategy, min_size=rows, max_size=rows))

    small_ints = st.integers(-3, 3) | st.integers(-(2**63), 2**63 - 1)
    frame = pd.DataFrame(
        {
            "i": np.array(cells(small_ints), dtype=np.int64),
            "ni": pd.array(cells(st.none() | st.integers(-2, 2)), dtype="Int64"),
            "f": np.array(cells(special_floats | st.floats()), dtype=np.float64),
            "b": np.array(cells(st.booleans()), dtype=bool),
            "nb": pd.array(cells(st.none() | st.booleans()), dtype="boolean"),
            "s": pd.array(cells(st.none() | texts), dtype="string"),
            "u": pd.array([f"u{index}" for index in range(rows)], dtype="string"),
            "c": pd.Categorical(cells(st.sampled_from(["x", "y", "z", None]))),
            "d": pd.to_datetime(cells(st.none() | st.integers(0, 10**15)), unit="us"),
            "z": pd.to_datetime(cells(st.none() | st.integers(-(10**12), 10**12)), unit="ms", utc=True),
            "k": pd.array(cells(st.none() | texts), dtype="string"),
        }
    )
    cuts = draw(st.lists(st.integers(0, rows), max_size=draw(st.integers(0, 15))))
    return frame, cuts


TYPES = {"k": "unknown"}


# The cluster's background threads use the random module while examples are drawn.
@pytest.mark.filterwarnings("ignore::hypothesis.errors.HypothesisDeprecationWarning")
@settings(max_examples=10, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(before=frames(), after=frames())
def test_every_function_equals_nolt_on_the_computed_frame(cluster, tmp_path_factory, before, after):
    first, second = split(*before), split(*after)
    one, two = before[0], after[0]
    same(nolt.inspect, nd.inspect, [first], computed=[one], types=TYPES)
    same(nolt.profile, nd.profile, [second], computed=[two], types=TYPES)
    same(nolt.suggest_schema, nd.suggest_schema, [second], computed=[two])
    same(nolt.compare, nd.compare, [first, second], computed=[one, two], types=TYPES)
    same(nolt.drift, nd.drift, [first, second.drop(columns=["b"])], computed=[one, two.drop(columns=["b"])], types=TYPES)
    for failure_cases, schema in enumerate((
        nolt.suggest_schema(two, types=TYPES),
        [
            ("i", "integer", False, (-2.0, 2.0), None),
            ("f", "float", True, (None, 1.5), None),
            ("s", "string", False, None, ["a", "b", True]),
            ("c", "categorical", True, None, ["x", False]),
            ("nb", "boolean", False, None, [True]),
            ("missing", "integer", True, None, None),
            ("u", "integer", True, None, None),
            ("s", "string", True, None, ["A"]),
            ("ni", "boolean", True, None, None),  # integers unreadable as booleans
            ("d", "integer", True, (0.0, None), None),
        ],
    )):
        same(nolt.validate, nd.validate, [first], schema, computed=[one], types=TYPES, failure_cases=bool(failure_cases))
    folder = tmp_path_factory.mktemp("schemas")
    nolt.save_schema(one, folder / "one.json", types=TYPES)
    nd.save_schema(first, folder / "dask.json", types=TYPES)
    assert (folder / "dask.json").read_bytes() == (folder / "one.json").read_bytes()
    same(nolt.validate, nd.validate, [second], str(folder / "one.json"), computed=[two], types=TYPES, failure_cases=True)


def objects(*columns):
    return pd.DataFrame({name: pd.Series(values, dtype=object) for name, values in columns})


def without_string_conversion(function):
    def run(*args, **kwargs):
        with dask.config.set({"dataframe.convert-string": False}):
            return function(*args, **kwargs)

    return run


@pytest.mark.parametrize(
    ("frame", "cuts", "types"),
    [
        # pandas infers each object column over the whole column, not partition by partition
        (objects(("m", [1, 2, 2.5, None]), ("e", [None, None, "a", "b"])), [2], None),
        (objects(("m", [1, "a", None, 3])), [1, 3], None),
        # a conversion error in a later partition and an earlier column wins
        (objects(("a", [1, 2, 3]), ("big", [1, 2, 2**64])), [1], None),
        (objects(("big", [2**64, 1, 1]), ("a", [1, 2, 3])), [2], None),
        (pd.DataFrame({"a": [1, 2]}), [1], {"nope": "integer"}),
        (pd.DataFrame({"a": ["1", "x"]}), [1], {"a": "integer"}),
        (pd.DataFrame({"a": ["1", "x"]}), [1], {"a": "integer", "nope": "float"}),  # the cast fails first
        (pd.DataFrame({"u": np.array([2**63, 1, 2**64 - 1], dtype=np.uint64)}), [1], None),  # the largest is named
        (pd.DataFrame({"t": pd.array([f"t{index % 60}" for index in range(200)], dtype="string")}), [50, 120, 121], None),
        # h is no partition's fifth most frequent value but the frame's most frequent
        (pd.DataFrame({"t": list("aaabbccddeehh") + list("fffgggh") + ["h"]}), [13], None),
        (objects(("t", ["b", 1, "a", 1.0, -0.0, True, 0.0, "a", "b", True, 1, "é", None, 2.5])), [2, 5, 9], {"t": "string"}),
        (objects(("d", ["2020-01-01T00:00:00+01:00", "bad", "2019-12-31T23:00:00Z", None, "2019-12-31T23:00+00:00", "10:00"])), [2], {"d": "datetime"}),
        (objects(("d", ["2020-01-02", "2020-01-01T10:00:00", "2020-01-01T10:00:00.0", "2020-01-01 10:00"])), [1, 3], {"d": "datetime"}),
        (objects(("d", ["2020-01-02", "2020-01-01T10:00:00Z"])), [1], {"d": "datetime"}),  # naive and aware: no range
        (pd.DataFrame({"a": np.arange(50), "d": pd.Series(["2020-01-01", "x"] * 25, dtype=object)}), [10, 30, 30], None),
    ],
)
def test_fixed_frames_and_their_errors(cluster, frame, cuts, types):
    data = split(frame, cuts)
    for nolt_function, dask_function in (
        (nolt.profile, nd.profile),
        (nolt.observed_schema, nd.observed_schema),
        (nolt.suggest_schema, nd.suggest_schema),
    ):
        same(without_string_conversion(nolt_function), without_string_conversion(dask_function), [data], types=types)
    same(without_string_conversion(nolt.drift), without_string_conversion(nd.drift), [data, data], types=types)
    schema = [
        ("a", "integer", False, (0.0, 1.0), None),
        ("t", "string", True, None, ["t1", "a"]),
        ("d", "datetime", False, None, None),
        ("t", "boolean", True, None, [True]),
    ]
    same(without_string_conversion(nolt.validate), without_string_conversion(nd.validate), [data], schema, types=types, failure_cases=True)


@pytest.mark.parametrize(
    "schema",
    [
        [("a", "Integer", True, None, None)],  # refused after the data are converted
        [("a", "string", True, None, [5])],
        [("a", "integer", 1, None, None)],  # refused before
        "no such file.json",
    ],
)
def test_schema_errors_keep_their_order(cluster, tmp_path, schema, monkeypatch):
    monkeypatch.chdir(tmp_path)
    for frame in (pd.DataFrame({"a": [1, 2]}), objects(("a", [1, 2**64]))):
        same(without_string_conversion(nolt.validate), without_string_conversion(nd.validate), [split(frame, [1])], schema)


def test_the_sort_keeps_the_total_order_across_partitions(cluster):
    values = np.array([-0.0, 0.0] * 50 + [1e308, -1e308, 2.0**53, 2.0**53 + 2] * 10 + list(np.linspace(-1, 1, 97)))
    frame = pd.DataFrame({"f": values, "i": np.arange(len(values)) * (2**53 + 1)})
    for cuts in ([], [1, 2, 3], list(range(0, len(values), 7))):
        same(nolt.profile, nd.profile, [split(frame, cuts)])


@pytest.mark.parametrize("scheduler", ["threads", "cluster"])
def test_the_command_line_gives_the_same_output_with_dask(cluster, tmp_path, capsys, scheduler):
    from nolt.cli import main

    frame = pd.DataFrame({"a": [3, 1, None, 7] * 5, "s": pd.array(["x", "y", None, "x"] * 5, dtype="string")})
    (tmp_path / "parts").mkdir()
    for start in range(0, 20, 6):
        frame.iloc[start : start + 6].to_parquet(tmp_path / "parts" / f"{start:02}.parquet")
    frame.to_parquet(tmp_path / "whole.parquet")
    address = ["--scheduler", cluster.scheduler.address] if scheduler == "cluster" else []
    nolt.save_schema(frame.fillna({"a": 0}), tmp_path / "strict.json")  # the missing a's fail it, in every part
    for command in (
        ["profile"],
        ["suggest", "-o", str(tmp_path / "schema.json")],
        ["drift"],
        ["validate", "--schema", str(tmp_path / "schema.json")],
        ["validate", "--schema", str(tmp_path / "strict.json")],
    ):
        sources = ["whole.parquet"] * (2 if command == ["drift"] else 1)
        assert main([*command, *(str(tmp_path / source) for source in sources), "--json"]) in (0, 1)
        expected = capsys.readouterr().out
        sources = ["parts/*.parquet", "parts"] if command == ["drift"] else ["parts"]
        assert main([*command, *(str(tmp_path / source) for source in sources), "--json", "--dask", *address]) in (0, 1)
        found = capsys.readouterr()
        assert found.out == expected
        assert "100% Completed" in found.err


@pytest.mark.parametrize(
    "columns",
    [
        [("a", "integer", [1, 2.5]), ("b", "integer", [1, 2**64])],  # conversion errors come first
        [("a", "float", [1.0, True]), ("b", "float", [1.5, "x"])],
        [("a", "integer", [1]), ("b", "unknown", [1, []])],
    ],
)
def test_a_partition_reports_the_error_the_core_meets_first(columns):
    from nolt import _dask_parts

    failure = _dask_parts.checked_columns(columns)
    assert (type(failure[2]), str(failure[2])) == outcome(nolt.profile, columns) == outcome(nolt.drift, columns, [])
