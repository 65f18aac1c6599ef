"""The command line's text output: each result as a headline and a table.

Cells are shown with their control characters escaped (``_text.visible``) before the columns are
measured, so a table stays aligned whatever names and values the data holds; the command line
escapes the headlines when it prints them.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Any

from nolt._text import number, shorten, visible
from nolt.types import (
    ColumnDetails,
    DatasetComparison,
    DetailedProfile,
    DriftReport,
    SuggestedSchema,
    TopValue,
    ValidationReport,
)

_TOP_VALUE_CHARS = 24  # characters of a top value shown; --json has them whole


def table(header: Sequence[str], rows: Sequence[Sequence[str]], right: frozenset[int] = frozenset()) -> list[str]:
    """Columns padded to their widest cell; the columns in ``right`` are right-aligned."""
    header, rows = [visible(cell) for cell in header], [[visible(cell) for cell in row] for row in rows]
    widths = [max([len(header[index])] + [len(row[index]) for row in rows]) for index in range(len(header))]
    lines = []
    for row in [list(header), *rows]:
        cells = [cell.rjust(width) if index in right else cell.ljust(width) for index, (cell, width) in enumerate(zip(row, widths))]
        lines.append("  ".join(cells).rstrip())
    return lines


def _plural(count: int, noun: str) -> str:
    return f"{count} {noun}" if count == 1 else f"{count} {noun}s"


_COUNTS = (
    ("nan_count", "NaN"),
    ("positive_infinity_count", "+inf"),
    ("negative_infinity_count", "-inf"),
    ("zero_count", "zeros"),
    ("negative_count", "negatives"),
    ("true_count", "true"),
    ("false_count", "false"),
)
_KINDS = (("naive_count", "naive"), ("aware_count", "with zone"), ("time_count", "time of day"))


def top_value_text(top: TopValue) -> str:
    """A top value and its count: texts quoted (and cut), so "1" and 1 stay apart."""
    value = top["value"]
    if isinstance(value, str):
        shown = repr(shorten(value, _TOP_VALUE_CHARS))
    else:
        shown = _value(value) if isinstance(value, bool) else repr(value)
    return f"{shown} x{top['count']}"


def details_text(details: ColumnDetails | None) -> str:
    """A column's details in one line, leaving out counts of zero."""
    if details is None:
        return ""
    found: dict[str, Any] = dict(details)
    parts = [f"{label} {found[key]}" for key, label in _COUNTS if found.get(key)]
    if "earliest" in found:
        if found["earliest"] is not None:
            parts.append(f"{found['earliest']} to {found['latest']}")
        kinds = [f"{found[key]} {label}" for key, label in _KINDS if found[key]]
        if len(kinds) > 1:
            parts.append("mixed: " + ", ".join(kinds))
        if found["invalid_count"]:
            parts.append(f"{found['invalid_count']} not ISO 8601")
    if "top_values" in found:
        if found["min_length"] is not None:
            parts.append(f"length {found['min_length']}-{found['max_length']}")
        if found["top_values"]:
            parts.append("top " + ", ".join(top_value_text(top) for top in found["top_values"]))
    return "; ".join(parts)


def profile(result: DetailedProfile, source: str) -> list[str]:
    columns = result["columns"]
    lines = [f"{source}: {_plural(result['row_count'], 'row')}, {_plural(len(columns), 'column')}", ""]
    rows = []
    for column in columns:
        stats = column["numeric_stats"]
        numbers = ["", "", "", ""] if stats is None else [number(stats[key]) for key in ("min", "median", "max", "mean")]
        cells = [column["name"], column["logical_type"], str(column["null_count"]), str(column["unique_count"]), *numbers]
        rows.append([*cells, details_text(column.get("details"))])
    header = ["column", "type", "nulls", "distinct", "min", "median", "max", "mean", "details"]
    return lines + table(header, rows, right=frozenset(range(2, 8)))


def _value(value: str | bool) -> str:
    return ("true" if value else "false") if isinstance(value, bool) else value


def suggest(result: SuggestedSchema, source: str) -> list[str]:
    columns = result["columns"]
    lines = [f"suggested schema of {source}: {_plural(len(columns), 'column')}", ""]
    rows = []
    for column in columns:
        allowed = column["constraints"]["allowed_values"]
        allowed_text = "" if allowed is None else ", ".join(map(_value, allowed))
        rows.append([column["name"], column["logical_type"], "yes" if column["nullable"] else "no", allowed_text])
    return lines + table(["column", "type", "nullable", "allowed values"], rows)


def _detail(expected: str | bool | None, observed: str | bool | None) -> str:
    parts = []
    if expected is not None:
        parts.append(f"expected {_value(expected)}")
    if observed is not None:
        parts.append(f"observed {_value(observed)!r}" if isinstance(observed, str) else f"observed {_value(observed)}")
    return ", ".join(parts)


# Issues about a whole column: every row of the column fails them.
COLUMN_CODES = frozenset({"missing_column", "unexpected_column", "type_mismatch"})


def share(count: int, rows: int) -> str:
    """A count as a share of the rows: "2.4%", "<0.1%" for a few among many."""
    if rows <= 0:
        return ""
    percent = 100.0 * count / rows
    return "<0.1%" if 0 < percent < 0.05 else f"{percent:.1f}%"


def failing_rows(issue: Mapping[str, Any], rows: int) -> tuple[str, str]:
    """How many rows fail an issue, with their share, and the first of them: ("187 rows (2.4%)",
    "rows 3, 17, 42, ..."); a column-level issue fails all rows. Empty without failure detail."""
    if "failure_count" not in issue:
        return "", ""
    count = issue["failure_count"]
    if issue["code"] in COLUMN_CODES:
        return (f"all {_plural(count, 'row')}", "")
    amount = _plural(count, "row") + (f" ({share(count, rows)})" if rows else "")
    listed = ", ".join(map(str, issue["failure_rows"]))
    more = ", ..." if count > len(issue["failure_rows"]) else ""
    return amount, (f"{'row' if count == 1 else 'rows'} {listed}{more}" if listed else "")


def _cell(value: object) -> str:
    return repr(value) if isinstance(value, str) else _value(value) if isinstance(value, bool) else number(float(value)) if isinstance(value, float) else str(value)


def _issue_detail(issue: Mapping[str, Any]) -> str:
    """What makes rows fail: the value, the type a cell cannot be read as, the bounds crossed."""
    code = issue["code"]
    if code == "unreadable_value":
        values = issue.get("failure_values") or [issue["observed"]]
        return f"not {issue['expected']}: " + ", ".join(map(_cell, values[:5])) + (", ..." if len(values) > 5 else "")
    if code == "range_violation" and "min" in issue:
        bounds = [f"below min {number(issue['min'])}: {issue['below_min_count']}" if issue["below_min_count"] else "",
                  f"above max {number(issue['max'])}: {issue['above_max_count']}" if issue["above_max_count"] else ""]
        values = issue["failure_values"] or []
        return "; ".join(part for part in bounds if part) + (
            " (" + ", ".join(map(_cell, values[:5])) + (", ..." if len(values) > 5 else "") + ")" if values else "")
    if code == "value_not_allowed":
        return _cell(issue["observed"])
    return _detail(issue["expected"], issue["observed"])


def validate(result: ValidationReport, source: str, schema: str, rows: int = 0) -> list[str]:
    counts = f"{_plural(result['error_count'], 'error')}, {_plural(result['warning_count'], 'warning')}"
    verdict = "valid" if result["is_valid"] else "INVALID"
    lines = [f"{source} against {schema}: {verdict} ({counts})"]
    table_rows = []
    for issue in result["issues"]:
        amount, listed = failing_rows(issue, rows)
        table_rows.append([issue["severity"], issue["code"], issue["column"] or "", _issue_detail(issue), amount, listed])
    if table_rows:
        lines += [""] + table(["severity", "issue", "column", "detail", "failing", "first rows"], table_rows)
    return lines


def compare(result: DatasetComparison, before: str, after: str) -> list[str]:
    rows_line = f"rows {result['before_row_count']} -> {result['after_row_count']}"
    lines = [
        f"{before} -> {after}: " + ("changes found" if result["has_changes"] else "no changes"),
        f"{rows_line}; columns: {result['added_count']} added, {result['removed_count']} removed, "
        f"{result['changed_count']} changed, {result['unchanged_count']} unchanged",
        "",
    ]
    rows = [[entry["status"], entry["name"], ", ".join(entry["changes"])] for entry in result["columns"]]
    return lines + table(["status", "column", "changes"], rows)


def drift(result: DriftReport, before: str, after: str) -> list[str]:
    counts = f"{_plural(result['error_count'], 'error')}, {_plural(result['warning_count'], 'warning')}"
    verdict = "schema drift" if result["has_drift"] else "no schema drift"
    lines = [f"{before} -> {after}: {verdict} ({counts})"]
    rows = [[issue["severity"], issue["code"], issue["column"]] for issue in result["issues"]]
    if rows:
        lines += [""] + table(["severity", "issue", "column"], rows)
    return lines
