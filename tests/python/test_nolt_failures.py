"""Validation people can act on: columns read by the schema, unreadable cells as findings,
the failing rows of every issue, and drift's exit status."""

import json

import pytest
from hypothesis import given, settings, strategies as st

import _nolt_core
import nolt
from nolt import cli
from nolt._readers import have_pyarrow

ENGINES = ["pyarrow", "python"] if have_pyarrow() else ["python"]


def run_cli(capsys, *arguments):
    status = cli.main(list(arguments))
    return status, capsys.readouterr().out


@pytest.mark.parametrize("engine", ENGINES)
def test_validate_reads_by_the_schema_and_counts_failing_rows(engine, tmp_path, capsys):
    schema = str(tmp_path / "s.json")
    _nolt_core.save_suggested_schema_dataset(
        [("state", "categorical", ["CO", "UT"]), ("temp", "float", [1.5, 2.0])], schema)
    states = ["CO", "Colorado", "UT", "Colorado", "CO", "CO"]
    temps = ["1.5", "n/a", "2", "", "n/a", "3.25"]
    data = tmp_path / "d.csv"
    data.write_text("state,temp\n" + "".join(f"{s},{t}\n" for s, t in zip(states, temps)), encoding="utf-8")

    status, out = run_cli(capsys, "validate", str(data), "--schema", schema, "--engine", engine, "--json")
    assert status == 1
    detail = ("failure_count", "failure_rows", "failure_values")
    assert [{key: issue[key] for key in ("code", "column", "expected", "observed", *detail)}
            for issue in json.loads(out)["issues"]] == [
        {"code": "value_not_allowed", "column": "state", "expected": None, "observed": "Colorado",
         "failure_count": 2, "failure_rows": [1, 3], "failure_values": None},
        {"code": "unreadable_value", "column": "temp", "expected": "float", "observed": "n/a",
         "failure_count": 2, "failure_rows": [1, 4], "failure_values": ["n/a", "n/a"]},
        {"code": "null_not_allowed", "column": "temp", "expected": None, "observed": None,
         "failure_count": 1, "failure_rows": [3], "failure_values": None},
    ]
    status, out = run_cli(capsys, "validate", str(data), "--schema", schema, "--engine", engine)
    assert status == 1
    assert "value_not_allowed  state   'Colorado'" in out and "2 rows (33.3%)  rows 1, 3" in out
    # Explicit types still override the schema's: a string column is a type mismatch.
    status, out = run_cli(capsys, "validate", str(data), "--schema", schema, "--engine", engine,
                          "--types", "temp=string", "--json")
    assert [issue["code"] for issue in json.loads(out)["issues"]] == ["value_not_allowed", "type_mismatch"]


def test_frames_are_read_by_the_schema_and_the_default_report_keeps_the_core_keys():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"t": ["1.5", "n/a", "3"], "s": ["a", "b", "a"]})
    schema = [("t", "float", False, (0.0, 2.0), None), ("s", "categorical", True, None, ["a"])]
    report = nolt.validate(frame, schema)
    assert report == {"is_valid": False, "error_count": 3, "warning_count": 0, "issues": [
        {"code": "unreadable_value", "severity": "error", "column": "t", "expected": "float", "observed": "n/a"},
        {"code": "range_violation", "severity": "error", "column": "t", "expected": None, "observed": None},
        {"code": "value_not_allowed", "severity": "error", "column": "s", "expected": None, "observed": "b"},
    ]}
    detailed = nolt.validate(frame, schema, failure_cases=True)["issues"][1]
    assert list(detailed)[5:] == ["failure_count", "failure_rows", "failure_values", "min", "max",
                                  "below_min_count", "above_max_count"]
    assert (detailed["failure_rows"], detailed["failure_values"], detailed["above_max_count"]) == ([2], [3.0], 1)


CELLS = st.one_of(st.none(), st.integers(-5, 5), st.sampled_from(["a", "b", "c", "x"]))


@settings(max_examples=150, deadline=None)
@given(cells=st.lists(CELLS, max_size=60), nullable=st.booleans(),
       bounds=st.tuples(st.none() | st.integers(-5, 5), st.none() | st.integers(-5, 5)),
       allowed=st.lists(st.sampled_from(["a", "b", "c"]), unique=True, min_size=1))
def test_failure_counts_and_rows_agree_with_a_plain_count(cells, nullable, bounds, allowed):
    numbers = [cell if not isinstance(cell, str) else None for cell in cells]
    texts = [cell if isinstance(cell, str) or cell is None else "n/a" for cell in cells]
    data = [("n", "integer", cells),
            ("m", "integer", numbers), ("s", "string", texts)]
    schema = [("n", "integer", True, None, None), ("m", "integer", nullable, bounds, None),
              ("s", "string", True, None, allowed)]
    report = nolt.validate(data, schema, failure_cases=True)

    def rows(test, column):
        return [row for row, cell in enumerate(column) if test(cell)]

    low, high = bounds
    expected = {}
    expected[("unreadable_value", "n", None)] = rows(lambda cell: isinstance(cell, str), cells)
    if not nullable:
        expected[("null_not_allowed", "m", None)] = rows(lambda cell: cell is None, numbers)
    for value in dict.fromkeys(cell for cell in texts if cell is not None and cell not in allowed):
        expected[("value_not_allowed", "s", value)] = rows(lambda cell, value=value: cell == value, texts)
    if low is not None or high is not None:
        expected[("range_violation", "m", None)] = rows(
            lambda cell: cell is not None and ((low is not None and cell < low) or (high is not None and cell > high)), numbers)
    expected = {key: found for key, found in expected.items() if found}
    got = {(issue["code"], issue["column"], issue["observed"] if issue["code"] == "value_not_allowed" else None):
           (issue["failure_count"], issue["failure_rows"]) for issue in report["issues"]}
    assert got == {key: (len(found), found[:20]) for key, found in expected.items()}


@pytest.mark.parametrize("after, status", [
    ("a,b\n1,x\n", 0),  # no drift
    ("a,b,c\n1,x,2\n", 0),  # a column added: a warning
    ("a\n1\n", 1),  # a column removed: an error
    ("a,b\n,x\n", 1),  # nulls appeared: an error
])
def test_drift_exits_1_on_drift_of_error_severity(after, status, tmp_path, capsys):
    (tmp_path / "before.csv").write_text("a,b\n1,x\n", encoding="utf-8")
    (tmp_path / "after.csv").write_text(after, encoding="utf-8")
    assert run_cli(capsys, "drift", str(tmp_path / "before.csv"), str(tmp_path / "after.csv"))[0] == status
