"""The numbers behind the report's charts, and the charts as inline SVG.

Both charts are bounded whatever the number of rows: a histogram has at most
``HISTOGRAM_BINS`` bars and a value chart at most ``TOP_VALUES`` bars plus one for the rest.

- ``histogram`` bins the usable numbers of an integer or float column (the cells the profile's
  statistics are made of: no nulls, no NaN, no infinities) over the profile's min..max. An
  integer column spanning fewer than ``HISTOGRAM_BINS`` whole numbers gets one bar per number.
  numpy does the binning when it is installed; the pure-Python loop gives the same counts
  because both do the same double arithmetic in the same order.
- ``top_values`` counts the values of a text, categorical or boolean column and keeps the most
  frequent ones; ties keep the order in which the values first appear.
"""

from __future__ import annotations

import math
from collections import Counter
from collections.abc import Callable, Iterable, Sequence
from dataclasses import dataclass
from importlib.util import find_spec
from typing import Any, NamedTuple

from nolt._text import escape, json_text, number, shorten, visible

HISTOGRAM_BINS = 20
TOP_VALUES = 10
_LABEL_CHARS = 18  # characters of a value shown beside its bar
_SQUEEZE_CHARS = 12  # a longer label is fitted into the space beside the bars
_TITLE_CHARS = 200  # characters of a value shown in its tooltip
_INTEGER_TICKS = 15  # an integer histogram with at most this many bars labels each bar


@dataclass(frozen=True)
class Histogram:
    low: float
    high: float
    integers: bool  # one bar per whole number from low to high
    counts: list[int]

    @property
    def total(self) -> int:
        return sum(self.counts)

    def edges(self, index: int) -> tuple[float, float]:
        """The range of values counted in bar ``index``."""
        if self.integers:
            return self.low + index, self.low + index
        bins = len(self.counts)
        if self.low == self.high:
            return self.low, self.high
        # Halves, so that the span of the widest float range does not overflow.
        step = (self.high * 0.5 - self.low * 0.5) / bins
        start = 2 * (self.low * 0.5 + step * index)
        end = self.high if index == bins - 1 else 2 * (self.low * 0.5 + step * (index + 1))
        return start, end


class OtherCell(NamedTuple):
    """A cell of a text or boolean column that is neither text nor a boolean (plain conversion
    lets an integer into a "string" column); kept apart from text and booleans like the core does."""

    kind: str
    text: str


@dataclass(frozen=True)
class TopValues:
    items: list[tuple[str | bool | OtherCell, int]]  # most frequent first
    other_count: int  # cells of the values not listed
    other_distinct: int  # how many values those are
    total: int  # non-null cells counted


def _numpy() -> Any:
    if find_spec("numpy") is None:
        return None
    import numpy

    return numpy


def _bin_layout(logical_type: str, low: float, high: float) -> tuple[bool, int]:
    if low == high:
        return logical_type == "integer", 1
    if logical_type == "integer" and high - low < HISTOGRAM_BINS:
        return True, int(high - low) + 1
    return False, HISTOGRAM_BINS


def histogram(values: Iterable[Any], logical_type: str, low: float, high: float, use_numpy: bool = True) -> Histogram:
    """Counts of the usable numbers of a numeric column in bins over ``low``..``high``."""
    integers, bins = _bin_layout(logical_type, low, high)
    np = _numpy() if use_numpy else None
    counts: list[int] | None = None
    if np is not None:
        try:
            counts = _numpy_counts(np, values, integers, bins, low, high)
        except (TypeError, ValueError, OverflowError):
            counts = None  # cells numpy cannot read as numbers: count them one by one
    if counts is None:
        counts = _python_counts(values, integers, bins, low, high)
    return Histogram(low, high, integers, counts)


def _numpy_counts(np: Any, values: Iterable[Any], integers: bool, bins: int, low: float, high: float) -> list[int]:
    numbers = np.asarray(values if isinstance(values, Sequence) or hasattr(values, "__array__") else list(values), dtype=np.float64)
    numbers = numbers[np.isfinite(numbers)]  # None became NaN; NaN and infinities are no statistics either
    if bins == 1:
        return [int(numbers.size)]
    if integers:
        index = (numbers - low).astype(np.int64)
    else:
        step = (high * 0.5 - low * 0.5) / bins
        index = np.floor((numbers * 0.5 - low * 0.5) / step).astype(np.int64)
    np.clip(index, 0, bins - 1, out=index)
    return [int(count) for count in np.bincount(index, minlength=bins)]


def _python_counts(values: Iterable[Any], integers: bool, bins: int, low: float, high: float) -> list[int]:
    counts = [0] * bins
    step = (high * 0.5 - low * 0.5) / bins
    last = bins - 1
    isfinite, floor = math.isfinite, math.floor
    for cell in values:
        if cell is None:
            continue
        number = float(cell)
        if not isfinite(number):
            continue
        if bins == 1:
            index = 0
        elif integers:
            index = int(number - low)
        else:
            index = floor((number * 0.5 - low * 0.5) / step)
        counts[min(max(index, 0), last)] += 1
    return counts


def _cell_key(typed_boolean: bool) -> Callable[[Any], Any]:
    def key(cell: Any) -> Any:
        if cell is None:
            return None
        numpy_bool = type(cell).__module__ == "numpy" and type(cell).__name__ in ("bool_", "bool")
        if typed_boolean or isinstance(cell, bool) or numpy_bool:
            return bool(cell)
        if isinstance(cell, str):
            return cell
        if isinstance(cell, int):
            return OtherCell("integer", str(int(cell)))
        if isinstance(cell, float):
            number = 0.0 if cell == 0 else cell  # -0.0 and 0.0 are one value, as every NaN is
            return OtherCell("float", "nan" if number != number else repr(number))
        return OtherCell(type(cell).__name__, str(cell))

    return key


def top_values(values: Iterable[Any], logical_type: str, typed: bool = False, limit: int = TOP_VALUES) -> TopValues:
    """The ``limit`` most frequent non-null values, with the count of all the others."""
    if type(values).__module__ == "numpy" and hasattr(values, "tolist"):
        values = values.tolist()  # Python scalars count far faster than numpy's
    cells = values if isinstance(values, Sequence) else list(values)
    counts: Counter[Any] = Counter(cells)
    expected = bool if logical_type == "boolean" else str
    if any(type(value) is not expected for value in counts if value is not None):
        # Mixed kinds: True and 1 hash alike, so count by kind to keep them apart.
        counts = Counter(map(_cell_key(typed and logical_type == "boolean"), cells))
    counts.pop(None, None)
    items = counts.most_common(limit)
    total = sum(counts.values())
    listed = sum(count for _, count in items)
    return TopValues(items, total - listed, len(counts) - len(items), total)


# -- SVG ---------------------------------------------------------------------------------------


def value_text(value: str | bool | OtherCell) -> str:
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, OtherCell):
        return f"{value.text} ({value.kind})"
    return value


def value_json(value: str | bool | OtherCell) -> str:
    """The value for a data- attribute: JSON text, so that true and "true" stay apart."""
    if isinstance(value, OtherCell):
        return json_text({"kind": value.kind, "text": value.text})
    return json_text(value)


def histogram_svg(chart: Histogram, name: str) -> str:
    width, height, top, bottom = 300.0, 104.0, 16.0, 18.0
    bins = len(chart.counts)
    tallest = max(chart.counts) or 1
    bar_width = width / bins
    parts = [
        f'<svg class="chart histogram" viewBox="0 0 {width:g} {height:g}" role="img" '
        f'aria-label="histogram of {escape(name)}" data-bins="{bins}" data-total="{chart.total}" '
        f'data-integers="{str(chart.integers).lower()}">'
    ]
    for index, count in enumerate(chart.counts):
        bar = (height - top - bottom) * count / tallest
        if count:
            bar = max(bar, 1.0)
        start, end = chart.edges(index)
        label = number(start) if chart.integers or start == end else f"{number(start)} to {number(end)}"
        parts.append(
            f'<rect class="bin" x="{index * bar_width + 0.5:.2f}" y="{height - bottom - bar:.2f}" '
            f'width="{max(bar_width - 1, 0.5):.2f}" height="{bar:.2f}" data-count="{count}">'
            f"<title>{escape(label)}: {count:,}</title></rect>"
        )
    baseline = height - bottom
    parts.append(f'<line class="axis" x1="0" y1="{baseline:g}" x2="{width:g}" y2="{baseline:g}"/>')
    if chart.integers and bins <= _INTEGER_TICKS:
        for index in range(bins):  # few whole numbers: each bar gets its own label
            middle = (index + 0.5) * bar_width
            parts.append(f'<text class="tick" x="{middle:.2f}" y="{height - 4:g}" text-anchor="middle">{escape(number(chart.low + index))}</text>')
    else:
        parts.append(f'<text class="tick" x="0" y="{height - 4:g}">{escape(number(chart.low))}</text>')
        parts.append(f'<text class="tick" x="{width:g}" y="{height - 4:g}" text-anchor="end">{escape(number(chart.high))}</text>')
    parts.append(f'<text class="tick peak" x="{width:g}" y="10" text-anchor="end">tallest bar {tallest:,}</text>')
    parts.append("</svg>")
    return "".join(parts)


def bars_svg(chart: TopValues, name: str, flagged: Callable[[str | bool | OtherCell], bool]) -> str:
    """A bar per frequent value, the rest in one "other" bar; flagged values are drawn in red."""
    row, width, label_width, count_width = 17.0, 300.0, 118.0, 54.0
    rows = len(chart.items) + (1 if chart.other_count else 0)
    height = row * rows + 2
    longest = max([count for _, count in chart.items] + [chart.other_count, 1])
    bar_space = width - label_width - count_width
    parts = [
        f'<svg class="chart bars" viewBox="0 0 {width:g} {height:g}" role="img" '
        f'aria-label="most frequent values of {escape(name)}" data-total="{chart.total}">'
    ]

    def bar(index: int, label: str, title: str, count: int, css: str, data: str) -> None:
        y = index * row + 1
        length = max(bar_space * count / longest, 1.0)
        share = count / chart.total if chart.total else 0.0
        fit = f' textLength="{label_width - 8:g}" lengthAdjust="spacingAndGlyphs"' if len(label) > _SQUEEZE_CHARS else ""
        parts.append(
            f'<g class="{css}" {data} data-count="{count}"><title>{escape(title)}: {count:,} ({share:.1%})</title>'
            f'<text class="label" x="{label_width - 6:g}" y="{y + 12:g}" text-anchor="end"{fit}>{escape(label)}</text>'
            f'<rect x="{label_width:g}" y="{y + 2:g}" width="{length:.2f}" height="{row - 5:g}"/>'
            f'<text class="count" x="{label_width + length + 4:.2f}" y="{y + 12:g}">{count:,}</text></g>'
        )

    for index, (value, count) in enumerate(chart.items):
        text = visible(value_text(value))  # escaped before it is cut, so that the label fits
        css = "bar flagged" if flagged(value) else "bar"
        bar(index, shorten(text, _LABEL_CHARS), shorten(text, _TITLE_CHARS), count, css, f'data-value="{escape(value_json(value))}"')
    if chart.other_count:
        label = f"other ({chart.other_distinct:,})"
        bar(len(chart.items), label, f"{chart.other_distinct:,} other values", chart.other_count, "bar other",
            f'data-distinct="{chart.other_distinct}"')
    parts.append("</svg>")
    return "".join(parts)
