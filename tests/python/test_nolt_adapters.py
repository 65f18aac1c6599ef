"""The nolt adapters and API: every container gives the core the same columns as hand-built tuples."""

import datetime as dt
import decimal
import math
import os
import subprocess
import sys

import pytest

import _nolt_core
import nolt
from conftest import core_part, raises_exactly

pd = pytest.importorskip("pandas")
pl = pytest.importorskip("polars")
pa = pytest.importorskip("pyarrow")

NAN = math.nan

# One small dataset in every form; the expected column tuples are written out by hand.
EXPECTED = [
    ("id", "integer", [1, 2, 3, 4]),
    ("price", "float", [1.5, None, 3.25, 1.5]),
    ("paid", "boolean", [True, False, None, True]),
    ("name", "string", ["a", None, "c", "a"]),
    ("size", "categorical", ["s", "l", None, "s"]),
    ("day", "datetime", ["2026-04-22", None, "2026-03-03", "1999-12-31"]),
    ("at", "datetime", ["2026-04-22T10:00:00", "2026-04-22T10:00:00.500000", None, "1969-07-20T20:17:40"]),
]
DAYS = [dt.date(2026, 4, 22), None, dt.date(2026, 3, 3), dt.date(1999, 12, 31)]
TIMES = [dt.datetime(2026, 4, 22, 10), dt.datetime(2026, 4, 22, 10, 0, 0, 500000), None, dt.datetime(1969, 7, 20, 20, 17, 40)]


def pandas_frame():
    return pd.DataFrame(
        {
            "id": [1, 2, 3, 4],
            "price": [1.5, NAN, 3.25, 1.5],
            "paid": pd.array([True, False, None, True], dtype="boolean"),
            "name": ["a", None, "c", "a"],
            "size": pd.Categorical(["s", "l", None, "s"]),
            "day": DAYS,
            "at": pd.to_datetime(TIMES),
        }
    )


def polars_frame():
    return pl.DataFrame(
        {
            "id": [1, 2, 3, 4],
            "price": [1.5, None, 3.25, 1.5],
            "paid": [True, False, None, True],
            "name": ["a", None, "c", "a"],
            "size": pl.Series(["s", "l", None, "s"], dtype=pl.Categorical),
            "day": DAYS,
            "at": TIMES,
        }
    )


def arrow_table():
    return pa.table(
        {
            "id": [1, 2, 3, 4],
            "price": [1.5, None, 3.25, 1.5],
            "paid": [True, False, None, True],
            "name": ["a", None, "c", "a"],
            "size": pa.array(["s", "l", None, "s"]).dictionary_encode(),
            "day": DAYS,
            "at": TIMES,
        }
    )


TYPES = {name: logical_type for name, logical_type, _ in EXPECTED}


def plain_dict():
    data = {name: list(values) for name, _, values in EXPECTED}
    data["day"], data["at"] = DAYS, TIMES  # date objects become ISO text in datetime columns
    return data


def records():
    data = plain_dict()
    rows = [dict(zip(data, row)) for row in zip(*data.values())]
    for row in rows:  # a missing key is a null, like an explicit None
        if row["name"] is None:
            del row["name"]
    return rows


CONTAINERS = {
    "pandas": pandas_frame,
    "polars": polars_frame,
    "pyarrow": arrow_table,
    "dict": lambda: (plain_dict(), TYPES),
    "records": lambda: (records(), TYPES),
    "tuples": lambda: EXPECTED,
}


def containers(name):
    made = CONTAINERS[name]()
    return made if isinstance(made, tuple) else (made, None)


def same_cells(actual, expected):
    """Equal cells of identical types, NaN matching NaN."""
    def same(a, b):
        if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
            return True
        return type(a) is type(b) and a == b
    return len(actual) == len(expected) and all(map(same, actual, expected))


def without_typed_flag(columns):
    """The columns with typed floats as plain floats and NaN as None, for comparison."""
    result = []
    for column in columns:
        name, logical_type, values = column[:3]
        values = [None if isinstance(value, float) and math.isnan(value) else value for value in values]
        result.append((name, logical_type, values))
    return result


@pytest.mark.parametrize("kind", CONTAINERS)
def test_every_container_gives_the_hand_built_columns(kind):
    data, types = containers(kind)
    assert without_typed_flag(nolt.to_columns(data, types)) == EXPECTED


@pytest.mark.parametrize("kind", CONTAINERS)
@pytest.mark.parametrize(
    "function, core_function",
    [
        (nolt.profile, _nolt_core.profile_dataset),
        (nolt.observed_schema, _nolt_core.observed_schema_dataset),
        (nolt.suggest_schema, _nolt_core.suggest_schema_dataset),
        (nolt.inspect, _nolt_core.inspect_dataset),
    ],
)
def test_every_container_gives_the_core_results_of_the_hand_built_columns(kind, function, core_function):
    data, types = containers(kind)
    result = function(data, types=types)
    assert (core_part(result) if function is nolt.profile else result) == core_function(EXPECTED)


def test_pandas_float_columns_are_typed_so_nan_markers_are_nulls():
    frame = pd.DataFrame({"x": [1.0, NAN, NAN], "y": pd.array([1.5, None, 2.5], dtype="Float64")})
    columns = nolt.to_columns(frame)
    assert columns[0][1:] == ("float", columns[0][2], True)
    assert [column[3] for column in columns] == [True, True]
    profile = nolt.profile(frame)["columns"]
    assert [(column["null_count"], column["unique_count"]) for column in profile] == [(2, 1), (1, 2)]


def test_polars_and_arrow_keep_nan_apart_from_null():
    for data in (pl.DataFrame({"x": [NAN, None, 1.0]}), pa.table({"x": [NAN, None, 1.0]})):
        (column,) = nolt.profile(data)["columns"]
        assert (column["null_count"], column["unique_count"]) == (1, 2)


@pytest.mark.parametrize(
    "series, expected",
    [
        (pd.Series([None, NAN, "x"], dtype=object), ("string", [None, None, "x"])),
        (pd.Series([1, None, 3], dtype=object), ("integer", [1, None, 3])),
        (pd.Series([pd.NA, True], dtype=object), ("boolean", [None, True])),
        (pd.Series(pd.array([1, None], dtype="Int64")), ("integer", [1, None])),
        (pd.Series(pd.to_datetime(["2026-01-02", None])), ("datetime", ["2026-01-02T00:00:00", None])),
        (pd.Series([decimal.Decimal("1.5"), None], dtype=object), ("float", [1.5, NAN])),
        (pd.Series([1, "x", None], dtype=object), ("unknown", ["1", "x", None])),
        (pd.Series([None, None], dtype=object), ("unknown", [None, None])),
        (pd.Series(pd.Categorical([3, None, 1])), ("categorical", ["3", None, "1"])),
        (pd.Series([dt.time(1, 2, 3), None]), ("datetime", ["01:02:03", None])),
        (pd.Series(pd.array([None], dtype="UInt64")), ("integer", [None])),
    ],
    ids=["nan-in-object", "object-ints", "pd-na", "Int64", "NaT", "decimal", "mixed", "empty", "int-categories", "time",
         "UInt64-all-missing"],
)
def test_pandas_column_kinds(series, expected):
    (column,) = nolt.to_columns(pd.DataFrame({"c": series}))
    assert column[1] == expected[0]
    assert same_cells(column[2], expected[1])


@pytest.mark.parametrize(
    "make",
    [
        lambda stamps: pd.DataFrame({"t": pd.Series(pd.to_datetime(stamps)).dt.tz_localize("Europe/Paris")}),
        lambda stamps: pl.DataFrame({"t": stamps}).with_columns(pl.col("t").dt.replace_time_zone("Europe/Paris")),
        lambda stamps: pa.table({"t": pa.array(stamps).cast(pa.timestamp("us", "UTC")).cast(pa.timestamp("us", "Europe/Paris"))}),
    ],
    ids=["pandas", "polars", "pyarrow"],
)
def test_aware_datetimes_become_utc_text(make):
    stamps = [dt.datetime(2026, 1, 2, 1, 0, 0, 250), None]
    (column,) = nolt.to_columns(make(stamps))
    utc = dt.datetime(2026, 1, 2, 1, 0, 0, 250, tzinfo=dt.timezone.utc)
    # pyarrow takes the naive stamps as UTC, the others as Paris time (one hour ahead).
    texts = {utc.isoformat(), (utc - dt.timedelta(hours=1)).isoformat()}
    assert column[2][0] in texts and column[2][0].endswith("+00:00") and column[2][1] is None


def test_nanosecond_datetimes_keep_nine_digits():
    stamps = pd.Series(pd.to_datetime(["2026-01-02 03:04:05.123456789", "2026-01-02 03:04:05.5", "2026-01-02"], format="ISO8601"))
    (column,) = nolt.to_columns(pd.DataFrame({"t": stamps}))
    assert column[2] == ["2026-01-02T03:04:05.123456789", "2026-01-02T03:04:05.500000", "2026-01-02T00:00:00"]
    arrow = pa.table({"t": pa.array(stamps.astype("datetime64[ns]"))})
    assert nolt.to_columns(arrow)[0][2] == column[2]


@pytest.mark.parametrize(
    "array",
    [
        pa.array(TIMES),
        pa.array(TIMES).cast(pa.timestamp("us", "Asia/Tokyo")),
        pa.array(TIMES).cast(pa.timestamp("ns")),
        pa.array(TIMES).cast(pa.timestamp("s"), safe=False),
        pa.array([dt.datetime(2026, 1, 2, 3, 4, 5, 6), None]).cast(pa.timestamp("ns")),
        pa.array([dt.time(1, 2, 3), None, dt.time(4, 5, 6, 7)]),
        pa.array([dt.time(1, 2, 3, 500000)]).cast(pa.time64("ns")),
    ],
    ids=["us", "aware", "ns", "s", "micros-in-ns", "time", "time-ns"],
)
def test_arrow_text_without_numpy_equals_isoformat(array, monkeypatch):
    from nolt import _arrow

    expected = [None if value is None else nolt._adapters.iso_cell(value) for value in array.to_pylist()]
    assert _arrow.iso_text(array) == expected
    monkeypatch.setattr(_arrow, "find_spec", lambda name: None)  # the strftime path
    assert _arrow.iso_text(array) == expected


@pytest.mark.parametrize("kind", ["pandas", "polars", "pyarrow"])
def test_types_override_casts_with_the_library(kind):
    data, _ = containers(kind)
    columns = nolt.to_columns(data, {"id": "string", "name": "categorical", "price": "float", "paid": "unknown"})
    by_name = {column[0]: column for column in columns}
    assert by_name["id"][1:3] == ("string", ["1", "2", "3", "4"])
    assert by_name["name"][1:3] == ("categorical", ["a", None, "c", "a"])
    assert by_name["paid"][1] == "unknown" and by_name["paid"][2][2] is None
    floats = nolt.to_columns(data, {"id": "float"})[0]
    assert floats[1] == "float" and floats[2] == [1.0, 2.0, 3.0, 4.0]


@pytest.mark.parametrize("kind", ["pandas", "polars", "pyarrow"])
def test_an_impossible_cast_raises(kind):
    data, _ = containers(kind)
    with pytest.raises(Exception):
        nolt.to_columns(data, {"name": "integer"})


@pytest.mark.parametrize(
    "call, exc_type, message",
    [
        (lambda: nolt.profile({"a": [1]}), TypeError, "a dict of columns needs types= naming the logical type of every column"),
        (lambda: nolt.profile({"a": [1]}, types={}), ValueError, "column 'a' has no logical type in types"),
        (lambda: nolt.profile({"a": [1]}, types={"a": "Integer"}), ValueError, "Unsupported logical type 'Integer'"),
        (lambda: nolt.profile({"a": [1]}, types={"a": "integer", "b": "float"}), ValueError, "types names column 'b', which the data does not have"),
        (lambda: nolt.profile([{"a": 1, "zz": 2}], types={"a": "integer"}), ValueError, "record key 'zz' has no logical type in types"),
        (lambda: nolt.profile([{"a": 1}, 5], types={"a": "integer"}), TypeError, "every record must be a dict"),
        (lambda: nolt.profile("abc"), TypeError, "cannot read a str as a dataset: expected a pandas or polars DataFrame, a pyarrow Table, a dict of columns, a list of records or a list of column tuples"),
        (lambda: nolt.profile(pl.DataFrame({"d": [dt.timedelta(1)]})), TypeError, "column 'd' has data type Duration(time_unit='us'), which nolt cannot convert"),
        # Errors of the core pass through unchanged.
        (lambda: nolt.profile({"a": [1, 2.5]}, types={"a": "integer"}), TypeError, "Column 'a' expected integer values but received Float"),
    ],
)
def test_errors(call, exc_type, message):
    raises_exactly(exc_type, message, call)


def test_two_datasets_share_types_and_a_name_may_exist_on_one_side_only():
    before = {"a": [1, 2], "gone": ["x", "y"]}
    after = {"a": [1, None], "new": [True, False]}
    types = {"a": "integer", "gone": "string", "new": "boolean"}
    expected_before = [("a", "integer", [1, 2]), ("gone", "string", ["x", "y"])]
    expected_after = [("a", "integer", [1, None]), ("new", "boolean", [True, False])]
    assert nolt.compare(before, after, types=types) == _nolt_core.compare_datasets(expected_before, expected_after)
    assert nolt.drift(before, after, types=types) == _nolt_core.schema_drift_datasets(expected_before, expected_after)
    raises_exactly(ValueError, "types names column 'typo', which the data does not have",
                   nolt.drift, before, after, types=dict(types, typo="string"))


def test_validate_takes_a_path_a_schema_dict_or_schema_tuples(tmp_path):
    data, types = containers("dict")
    path = tmp_path / "schema.json"
    nolt.save_schema(data, path, types=types)  # a path-like object is accepted
    _nolt_core.save_suggested_schema_dataset(EXPECTED, str(tmp_path / "core.json"))
    assert path.read_bytes() == (tmp_path / "core.json").read_bytes()

    changed = dict(data, size=["s", "xl", None, "m"])
    expected = _nolt_core.validate_dataset_file(without_typed_flag(nolt.to_columns(changed, types)), str(path))
    assert expected["error_count"] == 2
    suggested = nolt.suggest_schema(data, types=types)
    assert nolt.validate(changed, str(path), types=types) == expected
    assert nolt.validate(changed, path, types=types) == expected
    assert nolt.validate(changed, suggested, types=types) == expected
    assert nolt.validate(changed, nolt.schema_columns(suggested), types=types) == expected


def test_schema_columns_keep_ranges_and_allowed_values():
    schema = {
        "columns": [
            {"name": "n", "logical_type": "integer", "nullable": False,
             "constraints": {"numeric_range": {"min": 0.0, "max": None}, "allowed_values": None}},
            {"name": "c", "logical_type": "categorical", "nullable": True,
             "constraints": {"numeric_range": None, "allowed_values": ["a", True]}},
        ]
    }
    assert nolt.schema_columns(schema) == [("n", "integer", False, (0.0, None), None), ("c", "categorical", True, None, ["a", True])]
    report = nolt.validate([("n", "integer", [-1]), ("c", "categorical", ["b"])], schema)
    assert [issue["code"] for issue in report["issues"]] == ["range_violation", "value_not_allowed"]


def test_column_tuples_pass_through_and_types_replace_their_type():
    columns = [("a", "integer", [1]), ("b", "float", [NAN], True)]
    assert nolt.to_columns(columns) == columns
    assert nolt.to_columns(columns, {"b": "unknown"}) == [("a", "integer", [1]), ("b", "unknown", [NAN], True)]


def test_numpy_arrays_in_a_dict_become_python_numbers():
    np = pytest.importorskip("numpy")
    profile = nolt.profile({"x": np.array([1, 2])}, types={"x": "integer"})
    assert core_part(profile) == _nolt_core.profile_dataset([("x", "integer", [1, 2])])


def test_importing_nolt_imports_no_data_frame_library():
    code = "import sys, nolt, nolt.cli; print(sorted(m for m in ('pandas', 'polars', 'pyarrow', 'numpy') if m in sys.modules))"
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    completed = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=environment, check=True)
    assert completed.stdout.strip() == "[]"
