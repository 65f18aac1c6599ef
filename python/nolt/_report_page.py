"""The report's HTML: one self-contained page with inline CSS and inline SVG charts.

Nothing on the page is fetched: the Content-Security-Policy allows no source at all except the
one style sheet in the page, named by its hash, so a browser refuses scripts, fonts, images and
style attributes even if some text slipped through. Every text that comes from the data is
escaped, its control characters shown as escapes like ``\\x00`` (``_text.escape``): HTML allows
neither them nor most of their character references. Numbers are shown rounded; the exact
values are in data- attributes (``repr`` of the core's floats, JSON for issue values, with those
characters as JSON escapes) for tools and tests that read the page.
"""

from __future__ import annotations

import base64
import hashlib
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from datetime import datetime
from typing import Any, cast

from nolt._report_charts import Histogram, OtherCell, TopValues, bars_svg, histogram_svg
from nolt._cli_output import failing_rows
from nolt._text import escape, json_text, number, shorten, visible
from nolt.types import ColumnProfile, DatasetComparison, DetailedProfile, DriftReport, ValidationReport

ISSUES_PER_COLUMN = 25  # rows of one column in an issue table; the rest are counted
_VALUE_CHARS = 80  # characters of an issue value shown

DESCRIPTIONS = {
    "missing_column": "the schema names a column the data lacks",
    "unexpected_column": "the data has a column the schema does not name",
    "type_mismatch": "the logical type differs from the schema's",
    "null_not_allowed": "nulls where the schema allows none",
    "value_not_allowed": "a value outside the schema's allowed values",
    "range_violation": "a value outside the schema's range",
    "unreadable_value": "cells that cannot be read as the column's type",
    "column_added": "a new column",
    "column_removed": "the column is gone",
    "logical_type_changed": "the logical type changed",
    "nullability_changed": "nulls appeared or disappeared",
    "unique_count_changed": "the number of distinct values changed",
    "range_changed": "the minimum or maximum changed",
    "observed_values_changed": "the set or order of observed values changed",
}

STYLE = """
:root{--ink:#1f2328;--muted:#59636e;--line:#d1d9e0;--page:#f6f8fa;--card:#fff;--bar:#4c78a8;--other:#afb8c1;
--error:#cf222e;--error-bg:#ffebe9;--warning:#9a6700;--warning-bg:#fff8c5;--changed:#8250df;--changed-bg:#fbefff;
--added:#1a7f37;--added-bg:#dafbe1}
*{box-sizing:border-box}
html{-webkit-text-size-adjust:100%;text-size-adjust:100%}
body{margin:0;background:var(--page);color:var(--ink);
font:14px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif}
main{max-width:1280px;margin:0 auto;padding:22px 20px 36px}
h1{font-size:22px;margin:0}
h2{font-size:17px;margin:26px 0 8px}
h3{font-size:14px;margin:16px 0 6px}
code{font:12px/1.3 ui-monospace,"SFMono-Regular",Menlo,Consolas,monospace}
.source{color:var(--muted);margin:2px 0 14px;overflow-wrap:anywhere}
.overview{display:grid;grid-template-columns:repeat(auto-fit,minmax(120px,1fr));gap:8px;margin:0}
.overview div{background:var(--card);border:1px solid var(--line);border-radius:6px;padding:7px 12px;min-width:0}
.overview dt{color:var(--muted);font-size:12px}
.overview dd{margin:0;font-size:17px;font-weight:600;font-variant-numeric:tabular-nums;overflow-wrap:anywhere}
.overview dd small{font-size:12px;font-weight:400;color:var(--muted)}
.verdicts{display:flex;flex-wrap:wrap;gap:8px;margin:12px 0 0;padding:0;list-style:none}
.verdict{border:1px solid;border-radius:6px;padding:5px 12px;font-weight:600}
.verdict.ok{color:var(--added);background:var(--added-bg)}
.verdict.error{color:var(--error);background:var(--error-bg)}
.verdict.warning{color:var(--warning);background:var(--warning-bg)}
.summary{margin:0 0 10px;color:var(--muted)}
.table-wrap{overflow-x:auto;border:1px solid var(--line);border-radius:6px;background:var(--card)}
table{border-collapse:collapse;width:100%}
th,td{text-align:left;padding:5px 10px;border-bottom:1px solid var(--line);vertical-align:top}
thead th{font-size:12px;color:var(--muted);font-weight:600;background:var(--page)}
tbody.group tr:last-child td{border-bottom:2px solid var(--line)}
td.column{font-weight:600;overflow-wrap:break-word;min-width:7em;max-width:260px}
td.column a{color:inherit;text-decoration-color:var(--line)}
td.value{overflow-wrap:anywhere;max-width:320px}
.nowrap{white-space:nowrap}
.what{display:block;color:var(--muted);font-size:12px}
.sev{font-size:11px;font-weight:600;border-radius:10px;padding:1px 8px;white-space:nowrap}
.sev.error,.flag.error{color:var(--error);background:var(--error-bg)}
.sev.warning,.flag.warning{color:var(--warning);background:var(--warning-bg)}
.status{font-weight:600}
.status.changed,.flag.changed{color:var(--changed)}
.status.added,.flag.added{color:var(--added)}
.status.removed{color:var(--error)}
.status.unchanged{color:var(--muted);font-weight:400}
.flag.changed{background:var(--changed-bg)}
.flag.added{background:var(--added-bg)}
tr.more td{color:var(--muted);font-style:italic}
.cards{display:grid;grid-template-columns:repeat(auto-fill,minmax(300px,1fr));gap:14px}
.card{background:var(--card);border:1px solid var(--line);border-radius:8px;padding:11px 14px 12px;min-width:0}
.card.changed,.card.added{border-color:var(--changed);box-shadow:inset 4px 0 0 var(--changed)}
.card.added{border-color:var(--added);box-shadow:inset 4px 0 0 var(--added)}
.card.has-warnings{border-color:var(--warning);box-shadow:inset 4px 0 0 var(--warning)}
.card.has-errors{border-color:var(--error);box-shadow:inset 4px 0 0 var(--error)}
.card-head{display:flex;align-items:baseline;gap:8px;flex-wrap:wrap}
.card h3{margin:0;font-size:15px;overflow-wrap:anywhere;min-width:0}
.type{color:var(--muted);font-size:12px}
.flags{display:flex;flex-wrap:wrap;gap:4px;margin:6px 0 0;padding:0;list-style:none}
.flag{font-size:11px;font-weight:600;border-radius:10px;padding:1px 8px}
.card-issues{margin:8px 0 0;padding:6px 8px;list-style:none;background:var(--error-bg);border-radius:6px;font-size:12px}
.card-issues li{overflow-wrap:anywhere}
.card-issues li.warning{color:var(--warning)}
.card-issues li.error{color:var(--error)}
.stats,.details{display:grid;grid-template-columns:auto 1fr auto 1fr;gap:1px 10px;margin:10px 0 0;font-size:13px}
.stats dt,.details dt{color:var(--muted)}
.stats dd,.details dd{margin:0;text-align:right;font-variant-numeric:tabular-nums;overflow-wrap:anywhere}
.compare{margin-top:10px;font-size:13px}
.compare th,.compare td{padding:2px 6px}
.compare th{font-weight:400;color:var(--muted);text-align:left}
.compare thead th{font-size:12px}
.compare td{text-align:right;font-variant-numeric:tabular-nums}
.compare td.differs{color:var(--changed);font-weight:600}
.note{color:var(--muted);font-size:12px;margin:10px 0 0}
.details{margin-top:4px;padding-top:4px;border-top:1px dashed var(--line)}
.mixed{color:var(--warning);font-size:12px;margin:6px 0 0}
.top-values{margin:6px 0 0;padding-left:20px;font-size:12px}
.top-values li{overflow-wrap:anywhere}
.top-values .count{color:var(--muted);font-variant-numeric:tabular-nums}
svg.chart{display:block;width:100%;height:auto;margin-top:10px;overflow:hidden}
svg .bin,svg .bar rect{fill:var(--bar)}
svg .bar.flagged rect{fill:var(--error)}
svg .bar.other rect{fill:var(--other)}
svg .axis{stroke:var(--line)}
svg text{font-size:10px;fill:var(--muted)}
svg .label{fill:var(--ink)}
svg .bar.flagged .label{fill:var(--error);font-weight:600}
footer{color:var(--muted);font-size:12px;margin-top:26px}
@media (max-width:640px){
main{padding:14px 10px 24px}
.cards{grid-template-columns:1fr}
th,td{padding:4px 6px}
.overview{grid-template-columns:repeat(2,1fr)}
}
@media print{
body{background:#fff;font-size:11px}
main{max-width:none;padding:0}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}
.card,.overview div,tr,svg{break-inside:avoid}
.cards{grid-template-columns:repeat(2,1fr);gap:8px}
.table-wrap{overflow:visible;border:0}
h2{break-after:avoid}
}
""".strip()

STYLE_HASH = base64.b64encode(hashlib.sha256(STYLE.encode("utf-8")).digest()).decode("ascii")
CONTENT_SECURITY_POLICY = f"default-src 'none'; style-src 'sha256-{STYLE_HASH}'; base-uri 'none'; form-action 'none'"


@dataclass
class ColumnView:
    """One column of the data with everything its card shows."""

    index: int
    profile: ColumnProfile
    chart: Histogram | TopValues | None = None
    note: str | None = None  # why a column has no chart
    issues: list[Any] = field(default_factory=list)  # validation issues naming the column
    drift: list[Any] = field(default_factory=list)  # drift issues naming the column
    status: str | None = None  # its status in the comparison with the baseline
    changes: list[str] = field(default_factory=list)
    before: ColumnProfile | None = None  # the baseline's profile of a changed column


@dataclass
class Page:
    title: str
    version: str
    made_at: datetime
    profile: DetailedProfile
    columns: list[ColumnView]
    validation: ValidationReport | None = None
    schema_label: str = ""
    comparison: DatasetComparison | None = None
    drift: DriftReport | None = None
    baseline_label: str = ""
    baseline_profile: DetailedProfile | None = None


# -- small pieces -------------------------------------------------------------------------------


def _attr(value: object) -> str:
    return escape(str(value))


def _count(value: int) -> str:
    return f"{value:,}"


def _share(part: int, whole: int) -> str:
    if part == 0 or whole == 0:
        return "0%"
    share = part / whole
    if 0 < share < 0.001:
        return "<0.1%"
    if 0.999 < share < 1:
        return ">99.9%"
    return f"{share:.1%}"


def _plural(count: int, noun: str) -> str:
    return f"{_count(count)} {noun}" if count == 1 else f"{_count(count)} {noun}s"


def _issue_value(value: object) -> str:
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    return escape(shorten(visible(str(value)), _VALUE_CHARS))


def group_issues(issues: Sequence[Any]) -> list[tuple[str | None, list[Any]]]:
    """Issues grouped by column in order of first mention, groups with errors first; errors
    come before warnings inside a group and otherwise keep the report's order."""
    groups: dict[str | None, list[Any]] = {}
    for issue in issues:
        groups.setdefault(issue["column"], []).append(issue)
    ordered = sorted(groups.items(), key=lambda group: not any(item["severity"] == "error" for item in group[1]))
    return [(column, sorted(items, key=lambda item: item["severity"] != "error")) for column, items in ordered]


def _column_cell(name: str, anchors: Mapping[str, int]) -> str:
    """The column's name, linked to its card when the data has the column."""
    if name in anchors:
        return f'<a href="#column-{anchors[name]}">{escape(name)}</a>'
    return escape(name)


def _failing(issue: Mapping[str, Any], rows: int) -> str:
    """The failing rows of an issue as text ("187 rows (2.4%), rows 3, 17, 42, ..."), or ""."""
    amount, listed = failing_rows(issue, rows)
    return ", ".join(part for part in (amount, listed) if part)


def _issue_table(table_id: str, issues: Sequence[Any], with_values: bool, anchors: Mapping[str, int], rows: int = 0) -> str:
    head = "<th>column</th><th>severity</th><th>issue</th>" + (
        "<th>expected</th><th>observed</th><th>failing rows</th>" if with_values else "")
    parts = [f'<div class="table-wrap"><table class="issues" id="{table_id}"><thead><tr>{head}</tr></thead>']
    for column, items in group_issues(issues):
        name = "(dataset)" if column is None else column
        parts.append(f'<tbody class="group" data-column="{_attr(name)}">')
        for position, issue in enumerate(items[:ISSUES_PER_COLUMN]):
            code, severity = issue["code"], issue["severity"]
            data = f'data-code="{_attr(code)}" data-severity="{_attr(severity)}" data-column="{_attr(name)}"'
            cells = [
                f'<td class="column">{_column_cell(name, anchors) if position == 0 else ""}</td>',
                f'<td><span class="sev {_attr(severity)}">{escape(severity)}</span></td>',
                f'<td><code>{escape(code)}</code><span class="what">{escape(DESCRIPTIONS.get(code, ""))}</span></td>',
            ]
            if with_values:
                expected, observed = issue["expected"], issue["observed"]
                data += (
                    f' data-expected="{_attr(json_text(expected))}"'
                    f' data-observed="{_attr(json_text(observed))}"'
                )
                cells.append(f'<td class="value">{_issue_value(expected)}</td>')
                cells.append(f'<td class="value">{_issue_value(observed)}</td>')
                if "failure_count" in issue:
                    data += f' data-failure-count="{issue["failure_count"]}" data-failure-rows="{_attr(json_text(issue["failure_rows"]))}"'
                cells.append(f'<td class="rows">{escape(_failing(issue, rows))}</td>')
            parts.append(f'<tr class="issue {_attr(severity)}" {data}>{"".join(cells)}</tr>')
        hidden = len(items) - ISSUES_PER_COLUMN
        if hidden > 0:
            span = 6 if with_values else 3
            parts.append(f'<tr class="more" data-hidden="{hidden}"><td colspan="{span}">and {_plural(hidden, "more issue")} on this column</td></tr>')
        parts.append("</tbody>")
    parts.append("</table></div>")
    return "".join(parts)


def _anchors(page: Page) -> dict[str, int]:
    anchors: dict[str, int] = {}
    for view in page.columns:
        anchors.setdefault(view.profile["name"], view.index)
    return anchors


# -- sections ----------------------------------------------------------------------------------


def _overview(page: Page) -> str:
    profile = page.profile
    rows, columns = profile["row_count"], len(profile["columns"])
    cells = rows * columns
    nulls = sum(column["null_count"] for column in profile["columns"])
    rows_text = _count(rows)
    if page.baseline_profile is not None:
        rows_text += f' <small>baseline {_count(page.baseline_profile["row_count"])}</small>'
    stamp = page.made_at.strftime('<span class="nowrap">%Y-%m-%d</span> <small>%H:%M UTC</small>')
    items = [
        ("rows", rows, rows_text),
        ("columns", columns, _count(columns)),
        ("cells", cells, _count(cells)),
        ("null-cells", nulls, f"{_count(nulls)} <small>{_share(nulls, cells)}</small>"),
        ("version", page.version, escape(page.version)),
        ("made", page.made_at.isoformat(), f'<time datetime="{_attr(page.made_at.isoformat())}">{stamp}</time>'),
    ]
    labels = {"null-cells": "null cells", "version": "nolt version", "made": "made"}
    parts = ['<dl class="overview" id="overview">']
    for key, value, text in items:
        parts.append(f'<div data-stat="{key}" data-value="{_attr(value)}"><dt>{labels.get(key, key)}</dt><dd>{text}</dd></div>')
    parts.append("</dl>")
    verdicts = []
    if page.validation is not None:
        report = page.validation
        counts = f'{_plural(report["error_count"], "error")}, {_plural(report["warning_count"], "warning")}'
        if report["is_valid"]:
            verdicts.append(f'<li class="verdict ok" id="validation-verdict">valid against the schema ({counts})</li>')
        else:
            verdicts.append(f'<li class="verdict error" id="validation-verdict">invalid against the schema ({counts})</li>')
    if page.drift is not None:
        drift = page.drift
        counts = f'{_plural(drift["error_count"], "error")}, {_plural(drift["warning_count"], "warning")}'
        css = "error" if drift["error_count"] else "warning" if drift["warning_count"] else "ok"
        text = f"schema drift ({counts})" if drift["has_drift"] else "no schema drift"
        verdicts.append(f'<li class="verdict {css}" id="drift-verdict">{text}</li>')
    if verdicts:
        parts.append(f'<ul class="verdicts">{"".join(verdicts)}</ul>')
    return "".join(parts)


def _validation(page: Page) -> str:
    report = page.validation
    if report is None:
        return ""
    verdict = "valid" if report["is_valid"] else "invalid"
    counts = f'{_plural(report["error_count"], "error")}, {_plural(report["warning_count"], "warning")}'
    parts = [
        '<section id="validation">',
        f"<h2>Validation against {escape(page.schema_label)}</h2>",
        f'<p class="summary">The data is {verdict}: {counts}.</p>',
    ]
    if report["issues"]:
        parts.append(_issue_table("validation-issues", report["issues"], True, _anchors(page), page.profile["row_count"]))
    parts.append("</section>")
    return "".join(parts)


def _changes(page: Page) -> str:
    comparison, drift = page.comparison, page.drift
    if comparison is None or drift is None:
        return ""
    before, after = comparison["before_row_count"], comparison["after_row_count"]
    rows = f"rows {_count(before)} \u2192 {_count(after)}" if comparison["row_count_changed"] else f"rows unchanged ({_count(after)})"
    summary = (
        f'{rows}; columns: {_count(comparison["added_count"])} added, {_count(comparison["removed_count"])} removed, '
        f'{_count(comparison["changed_count"])} changed, {_count(comparison["unchanged_count"])} unchanged'
    )
    parts = [
        '<section id="changes">',
        f"<h2>Changes since {escape(page.baseline_label)}</h2>",
        f'<p class="summary">{summary}.</p>',
    ]
    if drift["issues"]:
        parts.append("<h3>Schema drift</h3>")
        parts.append(_issue_table("drift-issues", drift["issues"], False, _anchors(page)))
    entries = [entry for entry in comparison["columns"] if entry["status"] != "unchanged"]
    if entries:
        parts.append("<h3>Columns that differ</h3>")
        parts.append('<div class="table-wrap"><table id="comparison"><thead><tr><th>column</th><th>status</th><th>changes</th></tr></thead><tbody>')
        for entry in entries:
            status = entry["status"]
            changes = ", ".join(f"<code>{escape(change)}</code>" for change in entry["changes"])
            parts.append(
                f'<tr class="entry" data-column="{_attr(entry["name"])}" data-status="{_attr(status)}" '
                f'data-changes="{_attr(json_text(entry["changes"]))}"><td class="column">{_column_cell(entry["name"], _anchors(page))}</td>'
                f'<td><span class="status {_attr(status)}">{escape(status)}</span></td><td>{changes}</td></tr>'
            )
        parts.append("</tbody></table></div>")
    parts.append("</section>")
    return "".join(parts)


_STATS = (("min", "min"), ("p25", "25%"), ("median", "median"), ("p75", "75%"), ("max", "max"), ("mean", "mean"))


def _numbers(column: ColumnProfile) -> dict[str, float] | None:
    return cast("dict[str, float] | None", column["numeric_stats"])


def _stat_list(column: ColumnProfile) -> str:
    count, nulls = column["count"], column["null_count"]
    items: list[tuple[str, str, object, str]] = [
        ("null_count", "nulls", nulls, f"{_count(nulls)} <small>({_share(nulls, count)})</small>"),
        ("unique_count", "distinct", column["unique_count"], _count(column["unique_count"])),
    ]
    stats = _numbers(column)
    if stats is not None:
        for key, label in _STATS:
            items.append((key, label, repr(stats[key]), escape(number(stats[key]))))
    parts = ['<dl class="stats">']
    for key, label, value, text in items:
        parts.append(f'<dt>{label}</dt><dd data-stat="{key}" data-value="{_attr(value)}">{text}</dd>')
    parts.append("</dl>")
    return "".join(parts)


_DETAIL_LABELS = {
    "nan_count": "NaN",
    "positive_infinity_count": "+inf",
    "negative_infinity_count": "\u2212inf",
    "zero_count": "zeros",
    "negative_count": "negatives",
    "true_count": "true",
    "false_count": "false",
    "min_length": "shortest",
    "max_length": "longest",
    "earliest": "earliest",
    "latest": "latest",
    "naive_count": "naive",
    "aware_count": "with zone",
    "time_count": "time of day",
    "invalid_count": "not ISO 8601",
}
_TOP_VALUE_CHARS = 40  # characters of a top value shown; data-value has it whole


def _top_value(value: object) -> str:
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, str):
        return escape(shorten(visible(value), _TOP_VALUE_CHARS))
    return escape(repr(value))


def _details(column: ColumnProfile) -> str:
    """What the statistics leave out: non-finite values, ranges of dates, lengths, top values."""
    details: dict[str, Any] | None = cast("dict[str, Any] | None", column.get("details"))
    if details is None:
        return ""
    parts = ['<dl class="details">']
    for key, value in details.items():
        if key == "top_values":
            continue
        if value is None:
            text = "\u2013"
        elif isinstance(value, str):
            text = escape(shorten(visible(value), _TOP_VALUE_CHARS))
        else:
            text = _count(value)
        parts.append(f'<dt>{_DETAIL_LABELS[key]}</dt><dd data-detail="{key}" data-value="{_attr(json_text(value))}">{text}</dd>')
    parts.append("</dl>")
    mixed = [key for key in ("naive_count", "aware_count", "time_count") if details.get(key)]
    if len(mixed) > 1:
        parts.append('<p class="mixed">Naive, zone-aware and time-of-day values are mixed: they have no common order.</p>')
    tops = details.get("top_values")
    if tops:
        parts.append(f'<ol class="top-values" data-detail="top_values" data-value="{_attr(json_text(tops))}">')
        for top in tops:
            parts.append(f'<li><span class="value">{_top_value(top["value"])}</span> <span class="count">{_count(top["count"])}</span></li>')
        parts.append("</ol>")
    return "".join(parts)


def _stat_rows(column: ColumnProfile | None) -> dict[str, tuple[str, str]]:
    if column is None:
        return {}
    rows = {
        "count": (str(column["count"]), _count(column["count"])),
        "null_count": (str(column["null_count"]), _count(column["null_count"])),
        "unique_count": (str(column["unique_count"]), _count(column["unique_count"])),
    }
    stats = _numbers(column)
    if stats is not None:
        for key, _ in _STATS:
            value = stats[key]
            rows[key] = (repr(value), escape(number(value)))
    return rows


def _side_by_side(before: ColumnProfile | None, after: ColumnProfile) -> str:
    """The statistics of both versions of a changed column, differing values marked."""
    old, new = _stat_rows(before), _stat_rows(after)
    labels = [("count", "rows"), ("null_count", "nulls"), ("unique_count", "distinct"), *_STATS]
    parts = ['<table class="compare"><thead><tr><th></th><th>baseline</th><th>this data</th></tr></thead><tbody>']
    for key, label in labels:
        if key not in old and key not in new:
            continue
        cells = []
        for side, values in (("before", old), ("after", new)):
            value, text = values.get(key, ("", "\u2013"))
            css = f"{side} differs" if old.get(key) != new.get(key) else side
            cells.append(f'<td class="{css}" data-value="{_attr(value)}">{text}</td>')
        parts.append(f'<tr data-stat="{key}"><th>{label}</th>{"".join(cells)}</tr>')
    parts.append("</tbody></table>")
    return "".join(parts)


def _card(view: ColumnView, rows: int = 0) -> str:
    column = view.profile
    name, logical_type = column["name"], column["logical_type"]
    errors = sum(1 for issue in view.issues + view.drift if issue["severity"] == "error")
    warnings = sum(1 for issue in view.issues + view.drift if issue["severity"] == "warning")
    css = ["card"]
    if view.status in ("changed", "added"):
        css.append(view.status)
    if errors:
        css.append("has-errors")
    elif warnings:
        css.append("has-warnings")
    data = [
        f'id="column-{view.index}"',
        f'data-index="{view.index}"',
        f'data-column="{_attr(name)}"',
        f'data-type="{_attr(logical_type)}"',
        f'data-count="{column["count"]}"',
        f'data-null-count="{column["null_count"]}"',
        f'data-unique-count="{column["unique_count"]}"',
        *(f'data-{key}="{_attr(repr(value))}"' for key, value in (_numbers(column) or {}).items()),
        f'data-issues="{len(view.issues)}"',
        f'data-drift="{len(view.drift)}"',
    ]
    if view.status is not None:
        data.append(f'data-status="{_attr(view.status)}"')
    parts = [f'<article class="{" ".join(css)}" {" ".join(data)}>']
    parts.append(f'<div class="card-head"><h3>{escape(name)}</h3><span class="type">{escape(logical_type)}</span></div>')
    flags = []
    if view.issues:
        flags.append(f'<li class="flag error">{_plural(len(view.issues), "issue")}</li>')
    if view.status == "changed":
        flags.append('<li class="flag changed">changed</li>')
    elif view.status == "added":
        flags.append('<li class="flag added">new column</li>')
    for issue in view.drift:
        flags.append(f'<li class="flag {_attr(issue["severity"])}">{escape(issue["code"])}</li>')
    if flags:
        parts.append(f'<ul class="flags">{"".join(flags)}</ul>')
    if view.issues:
        parts.append('<ul class="card-issues">')
        for issue in view.issues[:ISSUES_PER_COLUMN]:
            detail = []
            if issue["expected"] is not None:
                detail.append(f"expected {_issue_value(issue['expected'])}")
            if issue["observed"] is not None:
                detail.append(f"observed {_issue_value(issue['observed'])}")
            failing = _failing(issue, rows)
            if failing:
                detail.append(escape(failing))
            text = f"<code>{escape(issue['code'])}</code>" + (": " + ", ".join(detail) if detail else "")
            parts.append(f'<li class="{_attr(issue["severity"])}">{text}</li>')
        if len(view.issues) > ISSUES_PER_COLUMN:
            parts.append(f"<li>and {_plural(len(view.issues) - ISSUES_PER_COLUMN, 'more issue')}</li>")
        parts.append("</ul>")
    if view.status == "changed":
        parts.append(_side_by_side(view.before, column))
        changes = ", ".join(f"<code>{escape(change)}</code>" for change in view.changes)
        parts.append(f'<p class="note changes">changes: {changes}</p>')
    else:
        parts.append(_stat_list(column))
    parts.append(_details(column))
    if isinstance(view.chart, Histogram):
        parts.append(histogram_svg(view.chart, name))
    elif isinstance(view.chart, TopValues):
        disallowed = {_flag_key(issue["observed"]) for issue in view.issues if issue["code"] == "value_not_allowed"}
        parts.append(bars_svg(view.chart, name, lambda value: _flag_key(value) in disallowed))
    if view.note:
        parts.append(f'<p class="note">{escape(view.note)}</p>')
    parts.append("</article>")
    return "".join(parts)


def _flag_key(value: object) -> tuple[str, object]:
    """Keeps true and "true" apart when matching chart bars with disallowed values."""
    if isinstance(value, OtherCell):
        return ("other", value)
    return (type(value).__name__, value)


def render(page: Page) -> str:
    title = f"{page.title} \u2013 nolt report"
    cards = "".join(_card(view, page.profile["row_count"]) for view in page.columns) or '<p class="note">The data has no columns.</p>'
    body = [
        "<main>",
        "<header><h1>Data report</h1>",
        f'<p class="source">{escape(page.title)}</p>',
        _overview(page),
        "</header>",
        _validation(page),
        _changes(page),
        f'<section id="columns"><h2>Columns</h2><div class="cards">{cards}</div></section>',
        f'<footer>Made by nolt {escape(page.version)} on {page.made_at.strftime("%Y-%m-%d at %H:%M UTC")}. '
        "This page is self-contained: it loads nothing from anywhere.</footer>",
        "</main>",
    ]
    return (
        "<!DOCTYPE html>\n"
        '<html lang="en"><head><meta charset="utf-8">'
        f'<meta http-equiv="Content-Security-Policy" content="{CONTENT_SECURITY_POLICY}">'
        '<meta name="referrer" content="no-referrer">'
        '<meta name="viewport" content="width=device-width, initial-scale=1">'
        '<meta name="generator" content="nolt">'
        f"<title>{escape(title)}</title>"
        f"<style>{STYLE}</style></head>\n"
        f"<body>{''.join(body)}</body></html>\n"
    )
