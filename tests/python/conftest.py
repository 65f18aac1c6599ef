import pathlib
import sys

import pytest

# The nolt package is importable from the source tree even when it is not installed.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "python"))

import _nolt_core  # noqa: E402


@pytest.fixture
def core():
    return _nolt_core


def raises_exactly(exc_type, message, fn, *args, **kwargs):
    """Calls fn and checks the exact exception class and the whole message."""
    with pytest.raises(BaseException) as info:
        fn(*args, **kwargs)
    assert type(info.value) is exc_type, f"{type(info.value).__name__}: {info.value}"
    if message is not None:
        assert str(info.value) == message
        if exc_type in (TypeError, ValueError, OSError) and not isinstance(info.value, OverflowError):
            assert info.value.args == (message,)
    return info.value
