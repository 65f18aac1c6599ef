"""What the container backends and the registry of containers share.

The logical type names, the ``types=`` mapping and its check, the protocol every backend
follows, and the helpers that write dates and times as ISO 8601 text. Each container kind has a
small backend (``_pandas``, ``_polars``, ``_arrow``) that knows its column types:

- ``classify(column)`` names the logical type the column's own data type stands for;
- ``values(column, logical_type)`` gives the cells as a list of ``None``, ``bool``, ``int``,
  ``float`` or ``str`` and whether they are typed floats (NaN meaning missing);
- ``text(column)`` gives the cells as text, for a column declared as a text type;
- ``cast(column, logical_type)`` converts the column to integers, floats or booleans with the
  container's own cast, for a column declared as one of those.

Every conversion is one of the container's bulk calls (``to_list``, ``tolist``,
``to_pylist``, casts and string formatting); no backend walks the cells in Python. Nothing here
imports a data-frame library; ``optional_module`` imports one on first use.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from datetime import date, datetime, time, timezone
from importlib import import_module
from typing import Any, Protocol

LOGICAL_TYPES = ("integer", "float", "boolean", "string", "datetime", "categorical", "unknown")
# Declared types whose cells are passed as text (or None).
TEXT_TYPES = frozenset({"string", "datetime", "categorical", "unknown"})

Types = Mapping[str, str]

_INT64_MAX = 2**63 - 1


class NoTextForm(TypeError):
    """A column whose data type has no text form (nested or binary data)."""

    def __init__(self, data_type: object) -> None:
        super().__init__(str(data_type))
        self.data_type = data_type


class BeyondInt64(ValueError):
    """An integer column whose values pass the signed 64-bit range the core reads."""

    def __init__(self, extreme: int) -> None:
        super().__init__(str(extreme))
        self.extreme = extreme


def check_int64(low: object, high: object) -> None:
    """Raises BeyondInt64 when the column's smallest or largest integer is past 64 bits."""
    for extreme in (high, low):
        if isinstance(extreme, int) and not -_INT64_MAX - 1 <= extreme <= _INT64_MAX:
            raise BeyondInt64(extreme)


def name_problems(names: Sequence[str]) -> str | None:
    """What is wrong with a list of column names (duplicates, empty names), or None.

    Positions are 1-based: "duplicate column name 'a' at columns 1 and 3; empty column name at
    column 2".
    """
    positions: dict[str, list[int]] = {}
    for position, name in enumerate(names, 1):
        positions.setdefault(name, []).append(position)
    problems = []
    for name, found in positions.items():
        where = _positions(found)
        if name == "":
            problems.append(f"empty column name at {where}")
        elif len(found) > 1:
            problems.append(f"duplicate column name {name!r} at {where}")
    return "; ".join(problems) or None


def _positions(found: list[int]) -> str:
    if len(found) == 1:
        return f"column {found[0]}"
    return f"columns {', '.join(map(str, found[:-1]))} and {found[-1]}"


def renamed(names: Sequence[str]) -> list[str]:
    """Unique, non-empty names: a repeated name gets ".1", ".2", ... and an empty one "column_N".

    N is the column's 1-based position; a new name that is already taken gets the next suffix.
    """
    taken = set(names)  # every name given, and every name made so far
    used: set[str] = set()  # the names of the result so far
    result: list[str] = []
    for position, name in enumerate(names, 1):
        candidate = name or f"column_{position}"
        if candidate in (used if name else taken):
            suffix = 1
            while f"{candidate}.{suffix}" in taken:
                suffix += 1
            candidate = f"{candidate}.{suffix}"
        taken.add(candidate)
        used.add(candidate)
        result.append(candidate)
    return result


class Backend(Protocol):
    def classify(self, column: Any) -> str: ...
    def values(self, column: Any, logical_type: str) -> tuple[list[Any], bool]: ...
    def text(self, column: Any) -> list[Any]: ...
    def cast(self, column: Any, logical_type: str) -> Any: ...


def check_types(types: Types | None) -> dict[str, str]:
    """The types mapping as a dict, every type name checked against the seven names."""
    if types is None:
        return {}
    if not isinstance(types, Mapping):
        raise TypeError(f"types must be a mapping of column name to logical type, not {type(types).__name__}")
    checked: dict[str, str] = {}
    for name, logical_type in types.items():
        if not isinstance(name, str) or not isinstance(logical_type, str):
            raise TypeError("types must map column names (str) to logical type names (str)")
        if logical_type not in LOGICAL_TYPES:
            raise ValueError(f"Unsupported logical type '{logical_type}'")
        checked[name] = logical_type
    return checked


def iso_cell(value: object) -> object:
    """ISO 8601 text for a date, time or datetime; aware datetimes are given in UTC."""
    if isinstance(value, datetime):
        if value != value:  # pandas' NaT is a datetime that is not equal to itself
            return None
        if value.tzinfo is not None and value.utcoffset() is not None:
            value = value.astimezone(timezone.utc)
        return value.isoformat()
    if isinstance(value, (date, time)):
        return value.isoformat()
    return value


def iso_datetime64(stamps: Any, suffix: str = "") -> list[Any]:
    """ISO 8601 text of a numpy datetime64 array, as datetime.isoformat() writes it.

    Seconds always; six fractional digits when a value has microseconds, nine when it has
    nanoseconds. NaT becomes None.
    """
    np = optional_module("numpy")
    missing = np.isnat(stamps)
    text = np.datetime_as_string(stamps, unit="s", casting="unsafe")
    whole_seconds = stamps == stamps.astype("datetime64[s]")
    if not (whole_seconds | missing).all():
        whole_micros = stamps == stamps.astype("datetime64[us]")
        text = np.where(whole_seconds, text, np.datetime_as_string(stamps, unit="us", casting="unsafe"))
        if not (whole_micros | missing).all():
            nanos = np.datetime_as_string(stamps, unit="ns", casting="unsafe")
            text = np.where(whole_seconds | whole_micros, text, nanos)
    if suffix:
        text = np.strings.add(text, suffix)
    cells = text.astype(object)
    cells[missing] = None
    return list(cells.tolist())



def optional_module(name: str) -> Any:
    """Imports an optional library on first use."""
    return import_module(name)
