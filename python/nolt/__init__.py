"""nolt: profile, describe, validate and compare tabular datasets.

Every function takes a dataset in the form you have it:

- a pandas DataFrame, a polars DataFrame or a pyarrow Table (logical types come from the
  column types: integers, floats, booleans, text, categoricals, dates and times);
- a dict of columns ``{"name": [cells...]}`` or a list of records ``[{"name": cell}, ...]``,
  each with ``types=`` naming the logical type of every column;
- the core's own list of column tuples ``(name, logical_type, cells[, typed])``.

``types=`` (a mapping of column name to logical type) also overrides the type a data frame
suggests for a column. ``threads=`` caps the threads a computation uses (default: the
NOLT_THREADS environment variable, else every CPU the process may use); results never depend
on it. The functions return the native module's dictionaries unchanged.
The data-frame libraries are optional: nothing here imports them until a frame of theirs
is passed in.
"""

from __future__ import annotations

import os
from collections.abc import Sequence
from pkgutil import extend_path

# The engine module may sit in a build tree's nolt/ folder rather than next to this file.
__path__ = extend_path(__path__, __name__)

from nolt import _api  # noqa: E402
from nolt._adapters import (  # noqa: E402
    from_arrow,
    from_column_tuples,
    from_dict,
    from_pandas,
    from_polars,
    from_records,
    to_columns,
)
from nolt._api import schema_columns  # noqa: E402
from nolt._columns import LOGICAL_TYPES, Types  # noqa: E402
from nolt._version import __version__ as __version__  # noqa: E402
from nolt.report import report  # noqa: E402
from nolt.types import (  # noqa: E402
    DatasetComparison,
    DetailedProfile,
    DriftReport,
    Inspection,
    ObservedSchema,
    SchemaColumnTuple,
    SuggestedSchema,
    ValidationReport,
)

__all__ = [
    "LOGICAL_TYPES",
    "compare",
    "drift",
    "from_arrow",
    "from_column_tuples",
    "from_dict",
    "from_pandas",
    "from_polars",
    "from_records",
    "inspect",
    "observed_schema",
    "profile",
    "report",
    "save_schema",
    "schema_columns",
    "suggest_schema",
    "to_columns",
    "validate",
    "version",
]


def version() -> str:
    """The version of the native core's contract, for example "0.4.1" (``__version__`` is the package's)."""
    return _api.core_version()


def profile(data: object, *, types: Types | None = None, threads: int | None = None) -> DetailedProfile:
    """Row count and, per column, counts, null and distinct counts, numeric statistics and details.

    Each column's dictionary holds the native core's profile keys, then ``"details"``: what the
    statistics and the distinct count leave out, by logical type (``None`` for "unknown"):

    - integer: ``zero_count``, ``negative_count``;
    - float: ``nan_count``, ``positive_infinity_count``, ``negative_infinity_count`` (the
      statistics are over the finite values), ``zero_count`` and ``negative_count`` of the finite
      values (-0.0 is a zero, not a negative);
    - boolean: ``true_count``, ``false_count``;
    - string and categorical: ``min_length`` and ``max_length`` of the texts in characters (code
      points), and ``top_values``: the five most frequent values with their ``count``, ties in
      order of first appearance;
    - datetime (ISO 8601 text): ``earliest`` and ``latest`` (the cells' text; values with a zone
      compared in UTC), and the counts of ``naive`` dates and date-times, ``aware`` date-times
      (with ``Z`` or an offset), ``time`` of day values and ``invalid`` cells (anything else). A
      column mixing naive, aware and time values has no common order: its range is ``None``.
    """
    (columns,) = _api.prepare(types, data)
    return _api.profile(columns, threads)


def observed_schema(data: object, *, types: Types | None = None, threads: int | None = None) -> ObservedSchema:
    """What the data shows per column: nullability, distinct count, range, distinct values."""
    (columns,) = _api.prepare(types, data)
    return _api.observed_schema(columns, threads)


def suggest_schema(data: object, *, types: Types | None = None, threads: int | None = None) -> SuggestedSchema:
    """The schema future data should meet: nullability and, for categoricals, allowed values."""
    (columns,) = _api.prepare(types, data)
    return _api.suggest_schema(columns, threads)


def inspect(data: object, *, types: Types | None = None, threads: int | None = None) -> Inspection:
    """Profile, observed schema and suggested schema from one pass over the data."""
    (columns,) = _api.prepare(types, data)
    return _api.inspect(columns, threads)


def save_schema(data: object, path: str | os.PathLike[str], *, types: Types | None = None, threads: int | None = None) -> None:
    """Writes the suggested schema of the data to a JSON file at ``path``."""
    (columns,) = _api.prepare(types, data)
    _api.save_schema(columns, path, threads)


def validate(
    data: object,
    schema: str | os.PathLike[str] | SuggestedSchema | Sequence[SchemaColumnTuple],
    *,
    types: Types | None = None,
    threads: int | None = None,
    failure_cases: bool = False,
) -> ValidationReport:
    """Checks the data against a schema and reports the issues; invalid data never raises.

    ``schema`` is the path of a schema file (as save_schema writes it), a suggested schema
    dictionary, or a list of ``(name, logical_type, nullable, (min, max) | None,
    allowed_values | None)`` tuples.

    Each column the schema names is read as the schema's logical type (``types`` overrides
    it); a cell that cannot be read so is reported in an "unreadable_value" issue of its
    column (expected: the type, observed: the first such cell) and takes part in none of the
    column's other checks. With ``failure_cases=True`` every issue also gives, after its
    other keys, "failure_count" (the rows failing it), "failure_rows" (the first 20 of them,
    0-based, ascending) and "failure_values" (the cells of those rows for "range_violation"
    and "unreadable_value", else None); a "range_violation" adds "min", "max",
    "below_min_count" and "above_max_count". A column-level issue (a missing, unexpected or
    mistyped column) fails every row of its column.
    """
    (columns,) = _api.prepare(types, data, schema_types=_api.schema_types(schema), tolerant=True)
    return _api.validate(columns, schema, threads, failure_cases)


def compare(before: object, after: object, *, types: Types | None = None, threads: int | None = None) -> DatasetComparison:
    """Column by column, what changed in the observed schema from ``before`` to ``after``."""
    before_columns, after_columns = _api.prepare(types, before, after)
    return _api.compare(before_columns, after_columns, threads)


def drift(before: object, after: object, *, types: Types | None = None, threads: int | None = None) -> DriftReport:
    """Schema drift from ``before`` to ``after``: columns added or removed, type and null changes."""
    before_columns, after_columns = _api.prepare(types, before, after)
    return _api.drift(before_columns, after_columns, threads)
