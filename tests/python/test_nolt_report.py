"""The HTML report: the numbers behind its charts, its bounds and safety, the report command, and
the page itself in a real headless browser (no console errors, no requests, every card and chart,
the issue tables and every number checked against the core's results for the same data).

Set NOLT_REPORT_SCREENSHOT=docs/report.png to also write the README's screenshot.
"""

import base64
import collections
import csv
import hashlib
import html
import io
import json
import math
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import _nolt_core
import nolt
from nolt import _progress, _text
from nolt._report_charts import OtherCell, histogram, top_values
from nolt.report import build

ROOT = pathlib.Path(__file__).resolve().parents[2]
ORDERS, ORDERS_V2 = ROOT / "examples" / "orders.csv", ROOT / "examples" / "orders_v2.csv"
ORDER_TYPES = {
    "order_id": "integer", "quantity": "integer", "unit_price": "float", "size": "categorical",
    "gift_wrap": "boolean", "ordered_on": "datetime", "customer": "string", "channel": "categorical",
}
HOSTILE = '<script>alert(1)</script>'
BROWSER, DRIVER = pathlib.Path("/usr/bin/chromium"), pathlib.Path("/usr/bin/chromedriver")


def hand_read(path):
    """A CSV of the examples as the core should be given it, read without nolt's readers."""
    with open(path, newline="", encoding="utf-8") as handle:
        rows = list(csv.DictReader(handle))
    parse = {"integer": int, "float": float, "boolean": lambda text: text == "true"}
    return [
        (name, ORDER_TYPES[name], [None if row[name] == "" else parse.get(ORDER_TYPES[name], str)(row[name]) for row in rows])
        for name in rows[0]
    ]


def run_cli(*arguments, cwd=None):
    folders = [str(ROOT / "python"), str(pathlib.Path(_nolt_core.__file__).parent), os.environ.get("PYTHONPATH", "")]
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, folders)))
    return subprocess.run(
        [sys.executable, "-m", "nolt", "report", *arguments], capture_output=True, text=True, env=environment, cwd=cwd, check=False
    )


# -- the numbers behind the charts -----------------------------------------------------------

NUMERIC_CASES = {
    "small integer span": ("integer", [3, 1, None, 12, 7, 7, 1]),
    "wide integer span": ("integer", [-(2**63), 0, 5, 2**63 - 1, None]),
    "floats with NaN and infinities": ("float", [0.5, float("nan"), None, float("inf"), 2.25, -1.0, float("-inf"), 2.25]),
    "the widest float range": ("float", [-1.7976931348623157e308, 0.0, 1.7976931348623157e308]),
    "one value": ("float", [4.5, 4.5, None]),
    "negative zero and zero": ("float", [-0.0, 0.0, 1e-300]),
    "many floats": ("float", [math.sin(index) * 1000 for index in range(5000)]),
}


@pytest.mark.parametrize("case", NUMERIC_CASES)
def test_histogram_counts_every_usable_number_once_with_numpy_and_without(case):
    logical_type, cells = NUMERIC_CASES[case]
    stats = _nolt_core.profile_dataset([("x", logical_type, cells)])["columns"][0]["numeric_stats"]
    usable = [cell for cell in cells if cell is not None and math.isfinite(cell)]
    fast = histogram(cells, logical_type, stats["min"], stats["max"])
    slow = histogram(cells, logical_type, stats["min"], stats["max"], use_numpy=False)
    assert fast == slow
    assert fast.total == len(usable)
    assert len(fast.counts) <= 20
    # The first bar starts at the minimum and the last ends at the maximum, and both hold a value.
    assert fast.edges(0)[0] == stats["min"] and fast.edges(len(fast.counts) - 1)[1] == stats["max"]
    assert fast.counts[0] > 0 and fast.counts[-1] > 0


def test_histogram_bins_whole_numbers_one_per_bar_and_wider_ranges_in_twenty_equal_bins():
    assert histogram([3, 1, None, 12, 7, 7, 1], "integer", 1.0, 12.0).counts == [2, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 1]
    chart = histogram([0.0, 0.049, 0.05, 0.5, 0.999, 1.0], "float", 0.0, 1.0)
    assert chart.counts == [2, 1] + [0] * 8 + [1] + [0] * 8 + [2]
    assert [chart.edges(0), chart.edges(19)] == [(0.0, 0.05), (pytest.approx(0.95), 1.0)]
    assert histogram(range(100), "integer", 0.0, 99.0).counts == [5] * 20  # a range of cells works too


def test_top_values_keep_first_appearance_for_ties_and_count_the_rest():
    cells = ["b", "a", None, "c", "a", "b", "d", "e"] + [f"v{index}" for index in range(12)]
    chart = top_values(cells, "string", limit=3)
    assert chart.items == [("b", 2), ("a", 2), ("c", 1)]
    assert (chart.other_count, chart.other_distinct, chart.total) == (14, 14, 19)


def test_top_values_keep_kinds_apart_like_the_core():
    # Plain conversion lets integers and floats into a string column; True and 1 hash alike in Python.
    cells = [True, 1, "1", 1.0, True, None, -0.0, 0.0, float("nan"), float("nan")]
    chart = top_values(cells, "string")
    assert sorted(chart.items, key=repr) == sorted(
        [(True, 2), (OtherCell("integer", "1"), 1), ("1", 1), (OtherCell("float", "1.0"), 1),
         (OtherCell("float", "0.0"), 2), (OtherCell("float", "nan"), 2)], key=repr)
    assert len(chart.items) == _nolt_core.profile_dataset([("s", "string", cells)])["columns"][0]["unique_count"]
    numpy = pytest.importorskip("numpy")
    typed = top_values(numpy.array([True, False, True]), "boolean", typed=True)
    assert typed.items == [(True, 2), (False, 1)] and all(type(value) is bool for value, _ in typed.items)


# -- the page as text ------------------------------------------------------------------------


def test_page_is_self_contained_with_a_strict_policy_and_no_active_content():
    data = {HOSTILE: ["<b>x</b>", '"><img src=x onerror=alert(2)>', None], "n": [1, 2, 3]}
    page = nolt.report(data, types={HOSTILE: "categorical", "n": "integer"}, title="</title><script>alert(3)</script>")
    lowered = page.lower()
    for active in ("<script", "<img", "<link", "<iframe", "<object", "url(", "@import", "http://", "https://", " style="):
        assert active not in lowered, active
    policy = re.search(r'<meta http-equiv="Content-Security-Policy" content="([^"]+)">', page).group(1)
    style = re.search(r"<style>(.*?)</style>", page, re.S).group(1)
    digest = base64.b64encode(hashlib.sha256(style.encode()).digest()).decode()
    assert policy == f"default-src 'none'; style-src 'sha256-{digest}'; base-uri 'none'; form-action 'none'"
    assert "&lt;script&gt;alert(1)&lt;/script&gt;" in page and "&lt;img src=x onerror=alert(2)&gt;" in page


CONTROLS = "nul\x00 esc\x1b[2J c1\x9b rlo\u202e"  # shown as nul\\x00 esc\\x1b[2J c1\\x9b rlo\\u202e


def test_control_characters_show_as_escapes_and_stay_exact_in_json_attributes():
    schema = [(CONTROLS, "categorical", False, None, ["x"])]
    page = nolt.report({CONTROLS: [CONTROLS, "x"]}, schema=schema, types={CONTROLS: "categorical"}, title=CONTROLS)
    assert re.search("[\x00-\x08\x0b\x0c\x0e-\x1f\x7f-\x9f\u202a-\u202e\u2066-\u2069]", page) is None
    shown = "nul\\x00 esc\\x1b[2J c1\\x9b rlo\\u202e"
    assert f"<h3>{shown}</h3>" in page and f"<title>{shown} \u2013 nolt report</title>" in page
    observed = re.search(r'data-observed="([^"]*)"', page).group(1)
    assert json.loads(html.unescape(observed)) == CONTROLS


def test_page_size_does_not_grow_with_the_rows():
    def page(rows):
        data = {
            "n": [index % 977 * 1.5 for index in range(rows)],
            "kind": [f"kind {index % 37}" for index in range(rows)],
            "ref": [f"r{index}" for index in range(rows)],
        }
        return nolt.report(data, types={"n": "float", "kind": "categorical", "ref": "string"})

    small, large = len(page(2_000)), len(page(200_000))
    assert large < small * 1.05


def test_issue_lists_are_cut_per_column_and_say_how_many_are_hidden():
    values = [f"value {index}" for index in range(5_000)]
    schema = [("v", "string", True, None, ["allowed"])]
    report = nolt.validate({"v": values}, schema, types={"v": "string"})
    assert len(report["issues"]) == 5_000
    page = nolt.report({"v": values}, schema=schema, types={"v": "string"})
    assert len(page) < 60_000
    assert page.count('class="issue error"') == 25
    assert '<tr class="more" data-hidden="4975"><td colspan="6">and 4,975 more issues on this column</td></tr>' in page


def test_cells_given_as_iterators_are_charted_after_profiling():
    types = {"n": "integer", "s": "string"}
    from_lists = build(nolt.to_columns({"n": [1, 2, 2], "s": ["a", "b", "a"]}, types), made_at=STAMP)
    from_iterators = nolt.report({"n": iter([1, 2, 2]), "s": (text for text in "aba")}, types=types)
    undated = re.compile(r"\d{4}-\d\d-\d\d|\d\d:\d\d(:\d\d\+00:00)?")
    assert undated.sub("", from_iterators) == undated.sub("", from_lists)


@pytest.mark.parametrize(
    "data, types",
    [
        ({"a": [1]}, {"a": "integer", "b": "float"}),
        ({"a": [1]}, {"a": "int"}),
        ([("a", "integer", [1, 2]), ("b", "integer", [1])], None),
        ([("a", "integer", [2.5])], None),
        ("a,b\n1,2", None),
    ],
)
def test_bad_data_raises_what_profile_raises(data, types):
    with pytest.raises(Exception) as expected:
        nolt.profile(data, types=types)
    with pytest.raises(Exception) as raised:
        nolt.report(data, types=types)
    assert (type(raised.value), str(raised.value)) == (type(expected.value), str(expected.value))


def test_progress_covers_profiling_and_every_column(monkeypatch):
    monkeypatch.setattr(_progress, "_DELAY", 0.0)
    monkeypatch.setattr(_progress, "_INTERVAL", 0.0)
    stream = io.StringIO()
    progress = _progress.Progress("profiling", 1, stream=stream, enabled=True)
    build(hand_read(ORDERS), baseline_columns=hand_read(ORDERS), progress=progress)
    progress.finish()
    assert progress.total == 1 + 7 + 3
    assert stream.getvalue().endswith("\rprofiling [##############################] 100%\r\033[K")


# -- the report command ----------------------------------------------------------------------


def test_command_writes_the_page_and_reports_bad_input_in_one_line(tmp_path):
    output = tmp_path / "report.html"
    completed = run_cli(str(ORDERS), "--types", "size=categorical", "--title", "orders", "-o", str(output))
    assert (completed.returncode, completed.stdout, completed.stderr) == (0, f"report written to {output}\n", "")
    page = output.read_text(encoding="utf-8")
    assert page.startswith("<!DOCTYPE html>") and page.count('<article class="card') == 7
    assert run_cli(str(ORDERS)).stdout.startswith("<!DOCTYPE html>")  # without -o the page goes to stdout

    failures = [
        ((str(tmp_path / "none.csv"),), f"nolt: error: no such file: {tmp_path / 'none.csv'}\n"),
        ((str(ORDERS), "--schema", str(tmp_path / "none.json")), f"nolt: error: no such schema file: {tmp_path / 'none.json'}\n"),
        ((str(ORDERS), "--schema", str(ORDERS)), f"nolt: error: cannot read schema {ORDERS}: expected value at line 1 column 1\n"),
        ((str(ORDERS), "-o", str(tmp_path / "no" / "r.html")), f"nolt: error: cannot write {tmp_path / 'no' / 'r.html'}: No such file or directory\n"),
        ((str(ORDERS), "--types", "size=kategorical"),
         "nolt: error: unknown type 'kategorical' for column 'size': use one of integer, float, boolean, string, datetime, categorical, unknown\n"),
        ((str(ORDERS), "--baseline", str(ORDERS_V2), "--types", "nope=string"), "nolt: error: types names column 'nope', which the data does not have\n"),
    ]
    for arguments, message in failures:
        completed = run_cli(*arguments)
        assert (completed.returncode, completed.stdout, completed.stderr) == (2, "", message)


# -- in a real browser -----------------------------------------------------------------------

STAMP = __import__("datetime").datetime(2026, 5, 4, 3, 2, 1, tzinfo=__import__("datetime").timezone.utc)

# One call gathers everything the tests read from a page (each WebDriver round trip costs).
READ_PAGE = """
const data = element => Object.assign({}, element.dataset);
const box = element => { const r = element.getBoundingClientRect(); return r.width > 0 && r.height > 0; };
const rows = selector => [...document.querySelectorAll(selector)].map(data);
return {
  scripts: document.scripts.length, images: document.images.length,
  resources: performance.getEntriesByType('resource').length,
  overview: Object.fromEntries([...document.querySelectorAll('#overview [data-stat]')].map(e => [e.dataset.stat, e.dataset.value])),
  validation: rows('#validation-issues tr.issue'), drift: rows('#drift-issues tr.issue'), comparison: rows('#comparison tr.entry'),
  cards: [...document.querySelectorAll('article.card')].map(card => {
    const histogram = card.querySelector('svg.histogram'), bars = card.querySelector('svg.bars');
    return {
      data: data(card), classes: [...card.classList], name: card.querySelector('h3').textContent, visible: box(card),
      stats: Object.fromEntries([...card.querySelectorAll('dl.stats dd')].map(e => [e.dataset.stat, [e.dataset.value, e.textContent]])),
      details: Object.fromEntries([...card.querySelectorAll('[data-detail]')].map(e => [e.dataset.detail, JSON.parse(e.dataset.value)])),
      compare: Object.fromEntries([...card.querySelectorAll('table.compare tbody tr')].map(
        row => [row.dataset.stat, [...row.querySelectorAll('td')].map(e => e.dataset.value)])),
      histogram: histogram && {shown: box(histogram), data: data(histogram), counts: [...histogram.querySelectorAll('rect.bin')].map(e => +e.dataset.count)},
      bars: bars && {shown: box(bars), bars: [...bars.querySelectorAll('g.bar')].map(g => Object.assign(data(g), {
        label: g.querySelector('text.label').textContent, flagged: g.classList.contains('flagged')}))},
      note: (card.querySelector('p.note:not(.changes)') || {}).textContent || null,
    };
  }),
};
"""


@pytest.fixture(scope="module")
def browser():
    if not (BROWSER.exists() and DRIVER.exists()):
        pytest.skip("chromium and chromedriver are not installed")
    if os.environ.get("NOLT_SANITIZED") == "1":
        pytest.skip("the browser cannot start with the sanitizer runtimes preloaded (scripts/sanitize.sh)")
    webdriver = pytest.importorskip("selenium.webdriver")
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync", "--disable-extensions"):
        options.add_argument(argument)
    options.binary_location = str(BROWSER)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    driver = webdriver.Chrome(service=Service(str(DRIVER)), options=options)
    driver.set_window_size(1200, 900)
    yield driver
    driver.quit()


def load(driver, path):
    """Opens a page; returns what it read, asserting it logged nothing and fetched nothing."""
    driver.get_log("browser"), driver.get_log("performance")  # forget earlier pages
    driver.get(path.as_uri())
    assert driver.get_log("browser") == []
    events = [json.loads(entry["message"])["message"] for entry in driver.get_log("performance")]
    requested = [event["params"]["request"]["url"] for event in events if event["method"] == "Network.requestWillBeSent"]
    assert requested == [path.as_uri()]  # the page itself and nothing else
    page = driver.execute_script(READ_PAGE)
    assert (page["scripts"], page["images"], page["resources"]) == (0, 0, 0)
    return page


def screenshot(driver, path, scale=1.0):
    """A PNG of the whole page (beyond the window) at ``scale``."""
    width, height = driver.execute_script("return [document.documentElement.scrollWidth, document.documentElement.scrollHeight]")
    shot = driver.execute_cdp_cmd("Page.captureScreenshot", {
        "format": "png", "captureBeyondViewport": True, "clip": {"x": 0, "y": 0, "width": width, "height": height, "scale": scale}})
    path.write_bytes(base64.b64decode(shot["data"]))
    return path


def grouped(issues):
    """Issues by column in order of first mention, groups with an error first, errors before warnings."""
    groups = {}
    for issue in issues:
        groups.setdefault(issue["column"], []).append(issue)
    ordered = [group for group in groups.values() if any(i["severity"] == "error" for i in group)]
    ordered += [group for group in groups.values() if all(i["severity"] != "error" for i in group)]
    return [issue for group in ordered for issue in sorted(group, key=lambda item: item["severity"] != "error")]


def check_card(card, profile, cells):
    """A card's numbers, chart and bars against the core's profile and a hand count of the cells."""
    assert card["visible"] and card["name"] == profile["name"]
    data = card["data"]
    assert (data["column"], data["type"]) == (profile["name"], profile["logical_type"])
    assert [int(data[key]) for key in ("count", "nullCount", "uniqueCount")] == [profile[k] for k in ("count", "null_count", "unique_count")]
    stats = profile["numeric_stats"]
    if stats is None:
        assert not any(key in data for key in ("min", "max", "mean"))
    else:
        assert {key: float(data[key]) for key in stats} == stats
        for key, (value, text) in card["stats"].items():
            if key in stats:
                assert (float(value), text) == (stats[key], _text.number(stats[key]))
    if card["stats"]:
        assert card["stats"]["null_count"][1].startswith(f"{profile['null_count']} (")
    present = [cell for cell in cells if cell is not None]
    if profile["logical_type"] in ("integer", "float") and stats is not None:
        assert card["histogram"]["shown"] and card["bars"] is None
        assert sum(card["histogram"]["counts"]) == int(card["histogram"]["data"]["total"]) == len(present)
    elif profile["logical_type"] in ("string", "categorical", "boolean") and present and not len(set(present)) == len(present) > 10:
        assert card["bars"]["shown"] and card["histogram"] is None
        expected = collections.Counter(present).most_common(10)
        shown = [(json.loads(bar["value"]), int(bar["count"])) for bar in card["bars"]["bars"] if "value" in bar]
        assert shown == expected
        assert sum(int(bar["count"]) for bar in card["bars"]["bars"]) == len(present)
    else:
        assert card["histogram"] is None and card["bars"] is None and card["note"]


def test_orders_report_in_the_browser_matches_the_core(browser, tmp_path):
    # As the README runs it: the examples, with the schema suggested from the first version.
    (tmp_path / "examples").mkdir()
    for source in (ORDERS, ORDERS_V2):
        shutil.copy(source, tmp_path / "examples")
    before, after = hand_read(ORDERS), hand_read(ORDERS_V2)
    _nolt_core.save_suggested_schema_dataset(before, str(tmp_path / "orders.schema.json"))
    schema, output = tmp_path / "orders.schema.json", tmp_path / "report.html"
    completed = run_cli("examples/orders_v2.csv", "--schema", "orders.schema.json", "--baseline", "examples/orders.csv",
                        "--types", "size=categorical,channel=categorical", "-o", "report.html", cwd=tmp_path)
    assert completed.returncode == 0, completed.stderr
    page = load(browser, output)

    profile, baseline = _nolt_core.profile_dataset(after), _nolt_core.profile_dataset(before)
    validation = _nolt_core.validate_dataset_file(after, str(schema))
    comparison, drift = _nolt_core.compare_datasets(before, after), _nolt_core.schema_drift_datasets(before, after)
    nulls = sum(column["null_count"] for column in profile["columns"])
    assert {key: page["overview"][key] for key in ("rows", "columns", "cells", "null-cells", "version")} == {
        "rows": "35", "columns": "7", "cells": "245", "null-cells": str(nulls), "version": nolt.__version__}

    # Every column has a card, in the data's order, with the core's numbers and its chart.
    assert [card["name"] for card in page["cards"]] == [column["name"] for column in profile["columns"]]
    for card, column_profile, (_, _, cells) in zip(page["cards"], profile["columns"], after):
        check_card(card, column_profile, cells)
    assert [card["details"] for card in page["cards"]] == [column["details"] or {} for column in nolt.profile(after)["columns"]]

    # The issue tables are the reports, grouped by column; cards with issues are marked.
    def issue_rows(issues, keys):
        return [{key: json.dumps(issue[key]) if key in ("expected", "observed") else issue[key] for key in keys} for issue in grouped(issues)]

    core_keys = ("code", "severity", "column", "expected", "observed")
    assert issue_rows(validation["issues"], core_keys) == [{key: row[key] for key in core_keys} for row in page["validation"]]
    detailed = nolt.validate(after, str(schema), failure_cases=True)["issues"]
    assert [(row["failureCount"], row["failureRows"]) for row in page["validation"]] == [
        (str(issue["failure_count"]), json.dumps(issue["failure_rows"])) for issue in grouped(detailed)]
    assert issue_rows(drift["issues"], ("code", "severity", "column")) == page["drift"]
    assert [(row["column"], row["status"], json.loads(row["changes"])) for row in page["comparison"]] == [
        (entry["name"], entry["status"], entry["changes"]) for entry in comparison["columns"] if entry["status"] != "unchanged"]
    cards = {card["name"]: card for card in page["cards"]}
    for issue in validation["issues"]:
        if issue["column"] in cards:
            assert "has-errors" in cards[issue["column"]]["classes"]
    assert [bar["label"] for bar in cards["size"]["bars"]["bars"] if bar["flagged"]] == ["x-large"]

    # Changed columns are marked and show both versions' statistics side by side.
    statuses = {entry["name"]: entry["status"] for entry in comparison["columns"]}
    before_profiles = {column["name"]: column for column in baseline["columns"]}
    for card in page["cards"]:
        assert card["data"]["status"] == statuses[card["name"]]
        if statuses[card["name"]] == "changed":
            old, new = before_profiles[card["name"]], profile["columns"][int(card["data"]["index"])]
            assert "changed" in card["classes"]
            assert card["compare"]["null_count"] == [str(old["null_count"]), str(new["null_count"])]
            assert card["compare"]["unique_count"] == [str(old["unique_count"]), str(new["unique_count"])]
            if new["numeric_stats"]:
                assert [float(value) for value in card["compare"]["mean"]] == [old["numeric_stats"]["mean"], new["numeric_stats"]["mean"]]
    assert "added" in cards["channel"]["classes"]

    shot = screenshot(browser, tmp_path / "report.png")
    assert shot.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    target = os.environ.get("NOLT_REPORT_SCREENSHOT")
    if target:  # the README's picture: NOLT_REPORT_SCREENSHOT=docs/report.png
        browser.set_window_size(1100, 900)
        browser.refresh()
        (ROOT / target).parent.mkdir(parents=True, exist_ok=True)
        screenshot(browser, ROOT / target, scale=0.75)
        browser.set_window_size(1200, 900)


def test_hostile_names_and_values_show_as_text(browser, tmp_path):
    names = [HOSTILE, '"><img src=x onerror=alert(2)>', "</svg><style>*{display:none}</style>", "a&amp;b", CONTROLS]
    values = ["</text></svg><script>alert(4)</script>", "<b>bold</b>", "x" * 500, "&lt;", CONTROLS]
    data = {name: values[index:] + values[:index] for index, name in enumerate(names)}
    types = dict.fromkeys(names, "categorical")
    schema = [(HOSTILE, "categorical", False, None, ["<b>bold</b>"])]
    output = tmp_path / "hostile.html"
    output.write_text(nolt.report(data, schema=schema, types=types, title=HOSTILE), encoding="utf-8")
    page = load(browser, output)
    assert [card["name"] for card in page["cards"]] == names[:-1] + [_text.visible(CONTROLS)]
    assert [json.loads(bar["value"]) for bar in page["cards"][0]["bars"]["bars"]] == values
    assert browser.title == f"{HOSTILE} \u2013 nolt report"
    assert [row["observed"] for row in page["validation"]] == [json.dumps(value) for value in values if value != "<b>bold</b>"] + ["null"] * (len(names) - 1)
    assert [row["column"] for row in page["validation"]] == [HOSTILE] * (len(values) - 1) + [*names[1:-1], _text.visible(CONTROLS)]
    screenshot(browser, tmp_path / "hostile.png")


def test_page_fits_a_narrow_window_and_prints_in_two_columns(browser, tmp_path):
    output = tmp_path / "orders.html"
    output.write_text(build(hand_read(ORDERS_V2), baseline_columns=hand_read(ORDERS), title="orders", made_at=STAMP), encoding="utf-8")
    try:
        browser.set_window_size(400, 800)
        load(browser, output)
        overflow = browser.execute_script("return document.documentElement.scrollWidth - document.documentElement.clientWidth")
        assert overflow <= 0
        browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {"media": "print"})
        browser.set_window_size(800, 800)
        columns = browser.execute_script("return getComputedStyle(document.querySelector('.cards')).gridTemplateColumns")
        assert len(columns.split()) == 2
        screenshot(browser, tmp_path / "print.png")
    finally:
        browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {"media": ""})
        browser.set_window_size(1200, 900)
