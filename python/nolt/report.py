"""A self-contained HTML page about a dataset: its profile, its validation and its drift.

``nolt.report(data)`` returns the page as text; ``nolt report DATA -o report.html`` writes it.
The page shows an overview, one card per column (statistics, a histogram of numeric columns, the
most frequent values of text, categorical and boolean columns), and, when asked, the validation
against a schema and the changes since a baseline version of the data. Everything shown comes
from the core's results for the data plus the counts behind the charts, and the page's size
does not grow with the number of rows.

This module is the report's entry: ``collect`` gathers what the page shows (through ``_api``
and ``_report_charts``), ``_report_page`` writes it as HTML, ``build`` does both.
"""

from __future__ import annotations

import os
from collections.abc import Iterator, Sequence
from datetime import datetime, timezone
from typing import TYPE_CHECKING, Any, Protocol

from nolt import _api
from nolt._columns import Types
from nolt.types import ColumnTuple, SchemaColumnTuple, SuggestedSchema, ValidationReport
from nolt._version import __version__

if TYPE_CHECKING:  # the page and its charts are imported when a report is made
    from nolt._report_page import ColumnView, Page

__all__ = ["report"]


class StepProgress(Protocol):
    """What the report needs of a progress bar (nolt._progress.Progress has it)."""

    total: int

    def update(self, done: int) -> None: ...


def report(
    data: object,
    *,
    schema: str | os.PathLike[str] | SuggestedSchema | Sequence[SchemaColumnTuple] | None = None,
    baseline: object = None,
    types: Types | None = None,
    title: str | None = None,
) -> str:
    """One HTML document about ``data``: profile, charts and, on request, validation and drift.

    ``data`` and ``baseline`` are any dataset the other functions take (data frames, dicts of
    columns, records, column tuples); ``types`` applies to both. ``schema`` is what
    :func:`nolt.validate` takes: a schema file, a suggested-schema dict or schema tuples. With a
    ``baseline``, the page compares the baseline (before) with ``data`` (after). ``title``
    heads the page (for example the file name). The page has no script and loads nothing.
    """
    schema_types = {} if schema is None else _api.schema_types(schema)
    if baseline is None:
        (columns,) = _api.prepare(types, data, schema_types=schema_types)
        baseline_columns = None
    else:
        columns, baseline_columns = _api.prepare(types, data, baseline, schema_types=schema_types)
    columns = reusable(columns)
    validation = None
    schema_label = ""
    if schema is not None:
        validation = _api.validate(columns, schema, failure_cases=True)
        schema_label = _schema_label(schema)
    return build(
        columns,
        validation=validation,
        schema_label=schema_label,
        baseline_columns=None if baseline_columns is None else reusable(baseline_columns),
        title=title or "dataset",
    )


def reusable(prepared: _api.Prepared) -> list[ColumnTuple]:
    """The columns with one-shot iterators of cells made into lists: the charts read them again."""
    result: list[Any] = []
    for column in _api.column_tuples(prepared):
        if isinstance(column, tuple) and len(column) in (3, 4) and isinstance(column[2], Iterator):
            column = (column[0], column[1], list(column[2]), *column[3:])
        result.append(column)
    return result


def _schema_label(schema: _api.SchemaArgument) -> str:
    """How the page names the schema: a file by its name, anything else as given."""
    if isinstance(schema, (str, os.PathLike)):
        path = _api.path_text(schema)
        return os.path.basename(path) or path
    return "the given schema"


def _by_name(items: Sequence[Any], key: str = "column") -> dict[str, list[Any]]:
    grouped: dict[str, list[Any]] = {}
    for item in items:
        if item[key] is not None:
            grouped.setdefault(item[key], []).append(item)
    return grouped


def build(columns: list[ColumnTuple], **options: Any) -> str:
    """The page for converted columns (every cell list readable twice): ``collect`` as HTML."""
    from nolt._report_page import render

    return render(collect(columns, **options))


def collect(
    columns: list[ColumnTuple],
    *,
    validation: ValidationReport | None = None,
    schema_label: str = "",
    baseline_columns: list[ColumnTuple] | None = None,
    baseline_label: str = "the baseline",
    title: str = "dataset",
    progress: StepProgress | None = None,
    made_at: datetime | None = None,
) -> Page:
    """Everything the page shows: the core's results for the columns and the counts behind the charts."""
    from nolt._report_page import ColumnView, Page

    steps = 1 + len(columns) + (3 if baseline_columns is not None else 0)
    done = 0

    def step() -> None:
        nonlocal done
        done += 1
        if progress is not None:
            progress.update(done)

    if progress is not None:
        progress.total = max(steps, 1)
    profile = _api.profile(columns)
    step()
    comparison = drift = baseline_profile = None
    if baseline_columns is not None:
        baseline_profile = _api.profile(baseline_columns)
        step()
        comparison = _api.compare(baseline_columns, columns)
        step()
        drift = _api.drift(baseline_columns, columns)
        step()

    issues = _by_name(validation["issues"]) if validation is not None else {}
    drift_issues = _by_name(drift["issues"]) if drift is not None else {}
    statuses: dict[str, tuple[str, list[str]]] = {}
    if comparison is not None:
        for entry in comparison["columns"]:
            if entry["status"] == "removed":
                continue
            known = statuses.get(entry["name"])
            if known is None or known[0] != "changed":  # a repeated name that changed anywhere shows as changed
                statuses[entry["name"]] = (entry["status"], list(entry["changes"]))
    before_profiles = {column["name"]: column for column in baseline_profile["columns"]} if baseline_profile else {}

    views = []
    for index, (column, column_profile) in enumerate(zip(columns, profile["columns"])):
        name = column_profile["name"]
        view = ColumnView(index, column_profile, issues=issues.get(name, []), drift=drift_issues.get(name, []))
        status = statuses.get(name)
        if status is not None:
            view.status, view.changes = status
            if view.status == "changed":
                view.before = before_profiles.get(name)
        _chart(view, column)
        views.append(view)
        step()

    return Page(
        title=title,
        version=__version__,
        made_at=made_at or datetime.now(timezone.utc).replace(microsecond=0),
        profile=profile,
        columns=views,
        validation=validation,
        schema_label=schema_label,
        comparison=comparison,
        drift=drift,
        baseline_label=baseline_label,
        baseline_profile=baseline_profile,
    )


def _chart(view: ColumnView, column: Any) -> None:
    """Counts the column's values for its chart, or says why it has none."""
    from nolt._report_charts import TOP_VALUES, histogram, top_values

    profile = view.profile
    logical_type = profile["logical_type"]
    values = column[2]
    typed = len(column) == 4 and bool(column[3])
    present = profile["count"] - profile["null_count"]
    stats = profile["numeric_stats"]
    if logical_type in ("integer", "float"):
        if stats is None:
            view.note = "No numbers to chart."
        else:
            view.chart = histogram(values, logical_type, stats["min"], stats["max"])
    elif logical_type in ("string", "categorical", "boolean"):
        if present == 0:
            view.note = "No values to chart."
        elif profile["unique_count"] == present and present > TOP_VALUES:
            view.note = f"Every one of the {present:,} values is different."
        else:
            view.chart = top_values(values, logical_type, typed)
    else:
        view.note = f"No chart for {logical_type} columns."
