"""How values are written for people, shared by the command line's tables and the report.

``number`` rounds a statistic for display (both show the same text for the same value);
``shorten`` cuts a long value; ``visible`` writes the characters a terminal or a browser would
act on as escapes; ``escape`` makes any text safe and visible inside the page's HTML and SVG;
``json_text`` is JSON with those characters escaped too.

Text from the data and from file names is shown, never obeyed: a column named ``\\x1b[2J``
must not clear the terminal of whoever profiles the file. ``visible`` writes as escapes:

- the C0 controls U+0000 to U+001F, DEL U+007F and the C1 controls U+0080 to U+009F, as
  ``\\x1b`` (tab, line feed and carriage return as ``\\t``, ``\\n``, ``\\r``: a value stays
  on its line);
- the bidirectional controls that reorder the text around them, U+061C, U+200E, U+200F,
  U+202A to U+202E and U+2066 to U+2069, and the line and paragraph separators U+2028 and
  U+2029, as ``\\u202e``;
- lone surrogates U+D800 to U+DFFF (a file name that is not UTF-8), as ``\\udcff``, which no
  UTF-8 stream can write.

Everything else, backslashes included, is shown as it is, so ordinary text is unchanged; the
exact value is in ``--json`` and in the page's JSON data- attributes (``data-value``,
``data-observed``, ...).
"""

from __future__ import annotations

import html
import json
import re

_BIDI_AND_SEPARATORS = "\u061c\u200e\u200f\u2028\u2029\u202a-\u202e\u2066-\u2069"
_SHOWN_ESCAPED = re.compile(f"[\x00-\x1f\x7f-\x9f{_BIDI_AND_SEPARATORS}\ud800-\udfff]")
# json.dumps escapes the C0 controls itself and puts line feeds between items when indenting.
_JSON_ESCAPED = re.compile(f"[\x7f-\x9f{_BIDI_AND_SEPARATORS}\ud800-\udfff]")


def number(value: float | None) -> str:
    """Integral values without a fraction, others with six significant digits."""
    if value is None:
        return ""
    if value.is_integer() and abs(value) < 1e15:
        return str(int(value))
    return f"{value:.6g}"


def shorten(text: str, limit: int) -> str:
    return text if len(text) <= limit else text[: limit - 1] + "\u2026"


_SHORT = {"\t": "\\t", "\n": "\\n", "\r": "\\r"}


def _escaped(match: re.Match[str]) -> str:
    character = match.group()
    code = ord(character)
    return _SHORT.get(character) or (f"\\x{code:02x}" if code < 0x100 else f"\\u{code:04x}")


def visible(text: str) -> str:
    """The text with the characters listed above written as escapes (``\\x1b``, ``\\u202e``)."""
    return _SHOWN_ESCAPED.sub(_escaped, text)


def escape(text: str) -> str:
    """Text for the page's HTML and SVG: visible, with the HTML metacharacters escaped."""
    return html.escape(visible(text), quote=True)


def json_text(value: object, indent: int | None = None) -> str:
    """``value`` as JSON, with the characters listed above as ``\\u`` escapes (the same JSON value)."""
    text = json.dumps(value, ensure_ascii=False, indent=indent)
    return _JSON_ESCAPED.sub(lambda match: f"\\u{ord(match.group()):04x}", text)
