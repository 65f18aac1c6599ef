"""How values are written for people, shared by the command line's tables and the report.

``number`` rounds a statistic for display (both show the same text for the same value);
``shorten`` cuts a long value; ``escape`` makes any text safe inside the page's HTML and SVG.
"""

from __future__ import annotations

import html


def number(value: float | None) -> str:
    """Integral values without a fraction, others with six significant digits."""
    if value is None:
        return ""
    if value.is_integer() and abs(value) < 1e15:
        return str(int(value))
    return f"{value:.6g}"


def shorten(text: str, limit: int) -> str:
    return text if len(text) <= limit else text[: limit - 1] + "\u2026"


def escape(text: str) -> str:
    return html.escape(text, quote=True)
