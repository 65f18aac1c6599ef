import os
import pathlib
import stat
import sys
import tempfile

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


def shared_temp_dir(prefix):
    """A new folder (mode 755) that an unprivileged child process can reach.

    The usual temporary folder may sit below a private one (a TMPDIR inside a 0700 folder);
    then /tmp is used instead.
    """
    def reachable(folder):
        path = pathlib.Path(folder).resolve()
        return all(os.stat(part).st_mode & stat.S_IXOTH for part in [path, *path.parents])

    base = next((folder for folder in (tempfile.gettempdir(), "/tmp") if reachable(folder)), None)
    if base is None:
        pytest.skip("no temporary folder is reachable by an unprivileged user")
    directory = tempfile.mkdtemp(prefix=prefix, dir=base)
    os.chmod(directory, 0o755)
    return directory


def core_part(profile):
    """nolt.profile's result as the core gives it: each column's "details", its last key, left out."""
    columns = []
    for column in profile["columns"]:
        assert list(column)[-1] == "details", list(column)
        columns.append({key: value for key, value in column.items() if key != "details"})
    return {**profile, "columns": columns}
