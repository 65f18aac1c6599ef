"""A progress bar on stderr for long reads, drawn only when stderr is a terminal."""

from __future__ import annotations

import io
import sys
import time
from typing import TextIO

from nolt._text import visible

_DELAY = 0.5  # seconds before the bar appears: short reads show nothing
_INTERVAL = 0.1  # seconds between redraws
_WIDTH = 30


class Progress:
    """Reports how much of a known total has been read."""

    def __init__(self, label: str, total: int, stream: TextIO | None = None, enabled: bool | None = None) -> None:
        self.stream = sys.stderr if stream is None else stream
        self.enabled = self.stream.isatty() if enabled is None else enabled
        self.label = visible(label)  # a file name may hold control characters
        self.total = max(total, 1)
        self.started = time.monotonic()
        self.drawn_at = 0.0
        self.visible = False

    def update(self, done: int) -> None:
        if not self.enabled:
            return
        now = time.monotonic()
        if now - self.started < _DELAY or now - self.drawn_at < _INTERVAL:
            return
        self.drawn_at = now
        share = min(done / self.total, 1.0)
        filled = int(share * _WIDTH)
        bar = "#" * filled + "." * (_WIDTH - filled)
        self.stream.write(f"\r{self.label} [{bar}] {share:4.0%}")
        self.stream.flush()
        self.visible = True

    def finish(self) -> None:
        if self.visible:
            self.stream.write("\r\033[K")
            self.stream.flush()
            self.visible = False


class CountingReader(io.RawIOBase):
    """A binary file that reports every read to a Progress."""

    def __init__(self, raw: io.BufferedIOBase | io.RawIOBase, progress: Progress) -> None:
        self.raw = raw
        self.progress = progress
        self.consumed = 0

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: memoryview) -> int:  # type: ignore[override]
        count = self.raw.readinto(buffer)
        self.consumed += count or 0
        self.progress.update(self.consumed)
        return count or 0

    def close(self) -> None:
        self.raw.close()
        super().close()
