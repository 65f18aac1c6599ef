"""The files the command line writes: put in place whole, and never over one of its inputs.

``replace_file`` writes the way the core saves a schema: the bytes go to a temporary file in the
target's folder, are flushed to disk and renamed over the target, so the target is either the
old file or the whole new one; on any failure the temporary file is removed and the target is
left as it was. A symbolic link is written through to the file it names, which keeps its
permission bits and owner. Targets that are not regular files (``/dev/stdout``, a pipe), a
dangling link, and a writable target in a folder that takes no new file are written in place.
Failures raise the OSError a direct write would raise.

``input_at`` finds the input an output path would overwrite: the same file by the same path, a
symbolic link or a hard link.
"""

from __future__ import annotations

import errno
import os
import stat
from collections.abc import Iterable
from contextlib import suppress


def _write_in_place(path: str, data: bytes) -> None:
    with open(path, "wb") as handle:
        handle.write(data)


def _create_beside(folder: str) -> tuple[str, int]:
    """A new file in ``folder`` that no other writer picks, with a new file's mode (0666 less the umask)."""
    while True:
        path = os.path.join(folder, f".nolt-{os.getpid()}-{os.urandom(8).hex()}.tmp")
        try:
            return path, os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
        except FileExistsError:
            continue


def _sync_folder(folder: str) -> None:
    """Best effort: the renamed entry survives a crash right after the rename."""
    with suppress(OSError):
        descriptor = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
        try:
            os.fsync(descriptor)
        finally:
            os.close(descriptor)


def replace_file(path: str, data: bytes) -> None:
    """Replaces the file at ``path`` with ``data`` whole (see above)."""
    # Opening for writing, without creating or truncating, meets every refusal a direct write
    # meets (a directory, no permission), with the same error.
    try:
        probe = os.open(path, os.O_WRONLY | os.O_NONBLOCK)
    except FileNotFoundError:
        if os.path.lexists(path):  # a dangling link: the direct write creates the file it names
            return _write_in_place(path, data)
        existing, target = None, path
    except OSError as error:
        if error.errno == errno.ENXIO:  # a pipe without a reader yet: a direct write waits for one
            return _write_in_place(path, data)
        raise
    else:
        try:
            existing = os.fstat(probe)
            if not stat.S_ISREG(existing.st_mode):
                # A pipe or a device is written through this very descriptor: closing it and opening
                # again would show a pipe's reader the end of its data before any was written.
                os.set_blocking(probe, True)
                with open(probe, "wb", closefd=False) as handle:
                    handle.write(data)
                return None
        finally:
            os.close(probe)
        target = os.path.realpath(path)
    folder = os.path.dirname(target) or "."
    try:
        temporary, descriptor = _create_beside(folder)
    except PermissionError:
        if existing is None:
            raise
        return _write_in_place(path, data)  # a folder that takes no new file, over a writable file
    try:
        with open(descriptor, "wb") as handle:
            if existing is not None:
                os.fchmod(descriptor, stat.S_IMODE(existing.st_mode))
                if (existing.st_uid, existing.st_gid) != (os.geteuid(), os.getegid()):
                    try:
                        os.fchown(descriptor, existing.st_uid, existing.st_gid)
                    except PermissionError:  # the replacement could not keep the owner
                        os.unlink(temporary)
                        return _write_in_place(path, data)
            handle.write(data)
            handle.flush()
            try:
                os.fsync(descriptor)
            except OSError as error:
                if error.errno != errno.EINVAL:  # a file system that cannot sync has nothing to flush
                    raise
        os.replace(temporary, target)
    except BaseException:
        with suppress(OSError):
            os.unlink(temporary)
        raise
    _sync_folder(folder)
    return None


def input_at(output: str, inputs: Iterable[tuple[str, str]]) -> tuple[str, str] | None:
    """The (role, path) of the input that writing ``output`` would overwrite, or None.

    ``inputs`` are (role, path) pairs; the path ``-`` is standard input, which may be a file
    redirected in. Only an existing regular file can be overwritten: an output that does not
    exist yet, or is a device or a pipe, is no input.
    """
    try:
        target = os.stat(output)
    except (OSError, ValueError):
        return None
    if not stat.S_ISREG(target.st_mode):
        return None
    for role, path in inputs:
        try:
            source = os.fstat(0) if path == "-" else os.stat(path)
        except (OSError, ValueError):
            continue
        if (source.st_dev, source.st_ino) == (target.st_dev, target.st_ino):
            return role, path
    return None
