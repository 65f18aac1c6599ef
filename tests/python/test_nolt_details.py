"""The details nolt.profile adds to each column, against a plain Python computation of each."""

import datetime as dt
import math
import re
import struct

import pytest
from hypothesis import given, settings, strategies as st

import _nolt_core
import nolt
from conftest import core_part
from nolt import _cli_output

INF = math.inf
DATE = re.compile(r"([0-9]{4})-([0-9]{2})-([0-9]{2})(?:[T ]([0-9]{2}):([0-9]{2})(?::([0-9]{2})(?:[.,]([0-9]+))?)?"
                  r"(Z|[+-][0-9]{2}(?::?[0-9]{2})?)?)?")
TIME = re.compile(r"([0-9]{2}):([0-9]{2})(?::([0-9]{2})(?:[.,]([0-9]+))?)?")
EPOCH = dt.date(1970, 1, 1).toordinal()


def clock(hour, minute, second):
    """Seconds since midnight, or None past 23:59:59."""
    hour, minute, second = int(hour), int(minute), int(second or 0)
    return None if hour > 23 or minute > 59 or second > 59 else hour * 3600 + minute * 60 + second


def moment(cell):
    """(kind, seconds, fraction digits) of an ISO 8601 date, date-time or time of day, or None."""
    if not isinstance(cell, str):
        return None
    if match := TIME.fullmatch(cell):
        seconds = clock(*match.groups()[:3])
        return None if seconds is None else ("time", seconds, (match[4] or "").rstrip("0"))
    if not (match := DATE.fullmatch(cell)):
        return None
    try:
        day = dt.date(int(match[1]), int(match[2]), int(match[3])).toordinal() - EPOCH
    except ValueError:
        return None
    seconds = clock(match[4] or 0, match[5] or 0, match[6])
    zone = match[8]
    offset = 0
    if zone and zone != "Z":
        hours, minutes = int(zone[1:3]), int(zone[-2:]) if len(zone) > 3 else 0
        offset = -1 if hours > 23 or minutes > 59 else (hours * 3600 + minutes * 60) * (-1 if zone[0] == "-" else 1)
    if seconds is None or offset == -1:
        return None
    return ("aware" if zone else "naive", day * 86400 + seconds - offset, (match[7] or "").rstrip("0"))


def value_key(value):
    """How the distinct count tells values apart: by kind, NaNs as one, -0.0 as 0.0."""
    if isinstance(value, float):
        return ("float", "nan" if math.isnan(value) else value + 0.0)
    return (type(value).__name__, value)


def shown(value):
    """A value as compared: floats by their bits, so NaN payloads and -0.0 count."""
    return ("float", struct.pack("<d", value)) if isinstance(value, float) else (type(value).__name__, value)


def expected_details(logical_type, cells):
    present = [cell for cell in cells if cell is not None]
    if logical_type in ("integer", "float"):
        finite = [cell for cell in present if not isinstance(cell, float) or math.isfinite(cell)]
        counts = {
            "nan_count": sum(isinstance(cell, float) and math.isnan(cell) for cell in present),
            "positive_infinity_count": present.count(INF),
            "negative_infinity_count": present.count(-INF),
        }
        numbers = {"zero_count": sum(cell == 0 for cell in finite), "negative_count": sum(cell < 0 for cell in finite)}
        return {**counts, **numbers} if logical_type == "float" else numbers
    if logical_type == "boolean":
        return {"true_count": sum(cell is True for cell in present), "false_count": sum(cell is False for cell in present)}
    if logical_type in ("string", "categorical"):
        lengths = [len(cell) for cell in present if isinstance(cell, str)]
        tallies = {}
        for position, cell in enumerate(present):
            tallies.setdefault(value_key(cell), [0, position, cell])[0] += 1
        top = sorted(tallies.values(), key=lambda tally: (-tally[0], tally[1]))[:5]
        return {
            "min_length": min(lengths, default=None),
            "max_length": max(lengths, default=None),
            "top_values": [{"value": shown(cell), "count": count} for count, _, cell in top],
        }
    if logical_type == "datetime":
        read = [(cell, moment(cell)) for cell in present]
        valid = [(cell, found) for cell, found in read if found is not None]
        kinds = {found[0] for _, found in valid}
        earliest = latest = None
        if len(kinds) == 1:
            earliest = min(valid, key=lambda item: item[1][1:])[0]  # min and max keep the first of equals
            latest = max(valid, key=lambda item: item[1][1:])[0]
        return {
            "earliest": earliest,
            "latest": latest,
            **{f"{kind}_count": sum(found[0] == kind for _, found in valid) for kind in ("naive", "aware", "time")},
            "invalid_count": len(read) - len(valid),
        }
    return None


def comparable(details):
    if details is not None and "top_values" in details:
        return {**details, "top_values": [{"value": shown(top["value"]), "count": top["count"]} for top in details["top_values"]]}
    return details


INT64 = st.integers(-(2**63), 2**63 - 1)
NAN_PAYLOADS = [struct.unpack("<d", struct.pack("<Q", bits))[0] for bits in (0x7FF8000000000000, 0xFFF8000000000001, 0x7FF0000000000123)]
floats = st.one_of(st.floats(), st.sampled_from([0.0, -0.0, INF, -INF, -1.5, *NAN_PAYLOADS]), st.integers(-3, 3), st.none())
texts = st.one_of(st.sampled_from(["a", "b", "é", "\U0001F600", "", "a\U0001F600b"]), st.text(max_size=5))


@st.composite
def datetime_cells(draw):
    """Dates and date-times of one zone style per column, near each other so instants tie, and others."""
    zones = draw(st.sampled_from([[""], ["Z", "+01:00", "-0530", "+02", "-00:00"], ["", "Z", "+24:00", "+01:60", "z"]]))
    others = st.one_of(st.none(), INT64, st.sampled_from(["12:00", "23:59:59.5", "24:00", "2024-W01-1", "20240101", "x"]))
    cells = []
    for _ in range(draw(st.integers(0, 12))):
        if draw(st.integers(0, 4)) == 0:
            cells.append(draw(others))
            continue
        text = f"{draw(st.integers(2023, 2024)):04d}-{draw(st.integers(1, 13)):02d}-{draw(st.integers(1, 31)):02d}"
        if draw(st.booleans()):
            text += draw(st.sampled_from("T ")) + f"{draw(st.integers(0, 24)):02d}:{draw(st.integers(0, 2)):02d}"
            if draw(st.booleans()):
                text += f":{draw(st.integers(58, 60)):02d}" + draw(st.sampled_from(["", ".5", ",50", ".25", ".000000001"]))
            text += draw(st.sampled_from(zones))
        cells.append(text)
    return cells


columns = st.one_of(
    st.tuples(st.just("float"), st.lists(floats, max_size=12)),
    st.tuples(st.just("integer"), st.lists(st.one_of(INT64, st.sampled_from([0, -1]), st.none()), max_size=12)),
    st.tuples(st.just("boolean"), st.lists(st.one_of(st.booleans(), st.none(), st.just(1)), max_size=12)),
    st.tuples(st.sampled_from(["string", "categorical"]), st.lists(st.one_of(texts, texts, st.none(), st.sampled_from([1, 1.0, True, -0.0, 0.0, *NAN_PAYLOADS])), max_size=12)),
    st.tuples(st.just("datetime"), datetime_cells()),
    st.tuples(st.just("unknown"), st.lists(st.one_of(INT64, texts, st.none()), max_size=12)),
)


@settings(max_examples=300, deadline=None)
@given(st.lists(columns, max_size=4))
def test_details_match_a_plain_computation_and_the_core_keys_stay_the_core(drawn):
    length = min((len(cells) for _, cells in drawn), default=0)
    dataset = [(f"c{index}", logical_type, cells[:length]) for index, (logical_type, cells) in enumerate(drawn)]
    result = nolt.profile(dataset)
    assert core_part(result) == _nolt_core.profile_dataset(dataset)
    for column, (_, logical_type, cells) in zip(result["columns"], dataset):
        assert comparable(column["details"]) == expected_details(logical_type, cells), (logical_type, cells)


@pytest.mark.parametrize(
    "logical_type, cells, details",
    [
        ("float", [1.5, math.nan, INF, -INF, 2.5, -0.0, None, -3],
         {"nan_count": 1, "positive_infinity_count": 1, "negative_infinity_count": 1, "zero_count": 1, "negative_count": 1}),
        ("integer", [0, -1, 5, None, -(2**63)], {"zero_count": 1, "negative_count": 2}),
        ("boolean", [True, None, False, True], {"true_count": 2, "false_count": 1}),
        ("string", ["b", "a", "b", "\U0001F600é", None, 1, "a", 1.0, True],
         {"min_length": 1, "max_length": 2, "top_values": [
             {"value": "b", "count": 2}, {"value": "a", "count": 2}, {"value": "\U0001F600é", "count": 1},
             {"value": 1, "count": 1}, {"value": 1.0, "count": 1}]}),
        ("categorical", [None, 7], {"min_length": None, "max_length": None, "top_values": [{"value": 7, "count": 1}]}),
        ("datetime", ["2024-03-01T10:00:00+02:00", "2024-03-01T08:00:00Z", "2024-02-29T09:59:59.999999999Z", "2023-02-29", 5, None],
         {"earliest": "2024-02-29T09:59:59.999999999Z", "latest": "2024-03-01T10:00:00+02:00",
          "naive_count": 0, "aware_count": 3, "time_count": 0, "invalid_count": 2}),
        ("datetime", ["2024-01-02", "2024-01-01 23:00", "2024-01-01T00:00:00Z"],
         {"earliest": None, "latest": None, "naive_count": 2, "aware_count": 1, "time_count": 0, "invalid_count": 0}),
        ("datetime", ["12:00", "09:30:00.5", "09:30:00,50"],
         {"earliest": "09:30:00.5", "latest": "12:00", "naive_count": 0, "aware_count": 0, "time_count": 3, "invalid_count": 0}),
        ("unknown", [1, "x"], None),
    ],
)
def test_details_of_fixed_columns(logical_type, cells, details):
    (column,) = nolt.profile([("c", logical_type, cells)])["columns"]
    assert list(column)[-1] == "details"
    assert column["details"] == details
    assert list(column["details"] or {}) == list(details or {})


@pytest.mark.parametrize(
    "details, text",
    [
        (None, ""),
        ({"zero_count": 0, "negative_count": 0}, ""),
        ({"nan_count": 2, "positive_infinity_count": 0, "negative_infinity_count": 1, "zero_count": 3, "negative_count": 0},
         "NaN 2; -inf 1; zeros 3"),
        ({"true_count": 0, "false_count": 4}, "false 4"),
        ({"min_length": 1, "max_length": 30, "top_values": [{"value": "x" * 30, "count": 3}, {"value": 1, "count": 2}, {"value": True, "count": 1}]},
         f"length 1-30; top '{'x' * 23}\u2026' x3, 1 x2, true x1"),
        ({"earliest": None, "latest": None, "naive_count": 1, "aware_count": 2, "time_count": 0, "invalid_count": 3},
         "mixed: 1 naive, 2 with zone; 3 not ISO 8601"),
        ({"earliest": "2024-01-01", "latest": "2024-02-01", "naive_count": 2, "aware_count": 0, "time_count": 0, "invalid_count": 0},
         "2024-01-01 to 2024-02-01"),
    ],
)
def test_text_output_of_details(details, text):
    assert _cli_output.details_text(details) == text


def test_report_cards_show_the_details():
    page = nolt.report({"x": [1.5, math.nan, -INF], "s": ["<b>", "<b>", "\x1b"]}, types={"x": "float", "s": "string"})
    assert ('<dl class="details"><dt>NaN</dt><dd data-detail="nan_count" data-value="1">1</dd><dt>+inf</dt>'
            '<dd data-detail="positive_infinity_count" data-value="0">0</dd><dt>\u2212inf</dt>'
            '<dd data-detail="negative_infinity_count" data-value="1">1</dd><dt>zeros</dt>'
            '<dd data-detail="zero_count" data-value="0">0</dd><dt>negatives</dt>'
            '<dd data-detail="negative_count" data-value="0">0</dd></dl>') in page
    assert ('<ol class="top-values" data-detail="top_values" data-value="[{&quot;value&quot;: &quot;&lt;b&gt;&quot;, '
            '&quot;count&quot;: 2}, {&quot;value&quot;: &quot;\\u001b&quot;, &quot;count&quot;: 1}]">'
            '<li><span class="value">&lt;b&gt;</span> <span class="count">2</span></li>'
            '<li><span class="value">\\x1b</span> <span class="count">1</span></li></ol>') in page
