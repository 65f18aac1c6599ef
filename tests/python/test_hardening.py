"""Faults from outside the data: the interpreter or the C++ core running out of
memory, file-system failures on save and load, re-entrant and mutating Python
code running in the middle of a call, messages that carry NUL characters."""

import gc
import os
import signal
import shutil
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import _nolt_core
from conftest import raises_exactly, shared_temp_dir

core = _nolt_core
save = core.save_suggested_schema_dataset
validate_file = core.validate_dataset_file

# Set by scripts/sanitize.sh: AddressSanitizer reserves terabytes of address
# space (so an address-space limit cannot be set) and aborts instead of
# throwing std::bad_alloc when an allocation fails.
SANITIZED = os.environ.get("NOLT_SANITIZED") == "1"
needs_plain_allocator = pytest.mark.skipif(SANITIZED, reason="the sanitizer allocator aborts on exhaustion")

try:
    import _testcapi
except ImportError:  # an interpreter built without its test module
    _testcapi = None


def dataset():
    return [
        ("id", "integer", [1, 2, 3, None]),
        ("size", "categorical", ["s", "m", "s", None]),
        ("price", "float", [1.5, 2.5, None, -0.0]),
        ("flag", "boolean", [True, False, True, False], True),
        ("note", "string", iter(["p", "q", "r", "s"])),
    ]


SCHEMA_COLUMNS = [
    ("id", "integer", False, (0, 2), None),
    ("size", "categorical", True, None, ["s", True]),
    ("zz", "string", True, None, None),
]


def interpreter_calls(directory):
    schema_path = os.path.join(directory, "schema.json")
    save(dataset(), schema_path)
    return {
        "profile": lambda: core.profile_dataset(dataset()),
        "observed": lambda: core.observed_schema_dataset(dataset()),
        "suggest": lambda: core.suggest_schema_dataset(dataset()),
        "inspect": lambda: core.inspect_dataset(dataset()),
        "save": lambda: save(dataset(), os.path.join(directory, "again.json")),
        "validate_file": lambda: validate_file(dataset(), schema_path),
        "validate_schema": lambda: core._validate_dataset_schema(dataset(), SCHEMA_COLUMNS),
        "compare": lambda: core.compare_datasets(dataset(), dataset()[:3]),
        "drift": lambda: core.schema_drift_datasets(dataset(), dataset()[:3]),
        "binding": lambda: core.profile_dataset(cols=[]),
        "length": lambda: core.profile_dataset([("a", "integer", [1]), ("b\0c", "integer", [])]),
        "overflow": lambda: core.profile_dataset([("a", "integer", [2**70])]),
        "surrogate": lambda: core.profile_dataset([("a", "string", ["\udc80"])]),
        "typed": lambda: core.profile_dataset([("a", "float", [None], True)]),
        "missing_file": lambda: validate_file([], os.path.join(directory, "absent.json")),
        "schema_bound": lambda: core._validate_dataset_schema([], [("a", "float", True, ("x", 1), None)]),
        "schema_value": lambda: core._validate_dataset_schema([], [("a", "string", True, None, [5])]),
        # Conversions that turn an interpreter error into a refusal of the data
        # must not do so with a MemoryError.
        "numpy_flag": lambda: core.profile_dataset([("a", "integer", [1, 2], np.bool_(True))]),
        "numpy_booleans": lambda: core.profile_dataset([("b", "boolean", [np.bool_(True), np.bool_(False)], True)]),
        "index_integers": lambda: core.profile_dataset([("n", "integer", [np.int64(2**40), 2**40], True)]),
        "numpy_nullable": lambda: core._validate_dataset_schema([], [("a", "integer", np.bool_(True), None, None)]),
        "keyword": lambda: core.inspect_dataset(**{"cols": []}),
    }


def run_outcome(call):
    try:
        return ("ok", call())
    except Exception as error:
        return ("raised", type(error), str(error))


@pytest.mark.skipif(_testcapi is None, reason="needs the interpreter's _testcapi module")
@pytest.mark.parametrize("lasting", [True, False], ids=["from_then_on", "only_one"])
def test_interpreter_allocation_failing_at_every_point(tmp_path, lasting):
    """The n-th interpreter allocation of a call fails (and every later one, or
    only that one), for every n up to the call's last: the call raises
    MemoryError or gives exactly its normal outcome."""
    for name, call in interpreter_calls(str(tmp_path)).items():
        normal = run_outcome(call)
        failures = 0
        last_failing = 0
        for countdown in range(1000):
            try:
                # Only the call runs with failing allocations; the handlers below do not.
                _testcapi.set_nomemory(countdown, 0 if lasting else countdown + 1)
                try:
                    result = ("ok", call())
                finally:
                    _testcapi.remove_mem_hooks()
            except MemoryError:
                failures += 1
                last_failing = countdown
                continue
            except BaseException as error:  # noqa: B036 - InternalFault derives from BaseException
                result = ("raised", type(error), str(error))
            assert result == normal, f"{name}: allocation {countdown} failing gave {result!r}"
            if countdown > last_failing + 50:
                break  # well past the call's last allocation
        assert failures > 0, name
        assert run_outcome(call) == normal


# The C++ core running out of memory: a child process profiles a large dataset
# under an address-space limit that is raised step by step. Each call gives its
# normal result or MemoryError; a lying length hint of 2**62 never fails a call.
EXHAUSTION_CHILD = r"""
import gc, resource, _nolt_core as core

N = 300_000
data = [
    ("i", "integer", list(range(N))),
    ("t", "string", [str(i % 100_000) for i in range(N)]),
    ("f", "float", [i * 0.5 for i in range(N)]),
    ("c", "categorical", [("a", "b", None)[i % 3] for i in range(N)]),
]
class LyingHint:
    def __init__(self, cells):
        self.cells = cells
    def __iter__(self):
        return iter(self.cells)
    def __length_hint__(self):
        return 2**62
class LyingSequence:
    def __init__(self, items):
        self.items = items
    def __getitem__(self, index):
        return self.items[index]
    def __len__(self):
        return 2**62
lying = LyingSequence([("a", "integer", LyingHint([1, 2, 3])), ("b", "float", LyingHint([0.5, None, 2.0]))])
schema = [("i", "integer", False, (0, 10), None), ("c", "categorical", True, None, ["a"])]
calls = {
    "profile": lambda: core.profile_dataset(data),
    "inspect": lambda: core.inspect_dataset(data),
    "compare": lambda: core.compare_datasets(data, data[:2]),
    "drift": lambda: core.schema_drift_datasets(data, data[1:]),
    "validate": lambda: core._validate_dataset_schema(data, schema),
    "lying_hint": lambda: core.profile_dataset(lying),
}
expected = {name: call() for name, call in calls.items()}

def mapped_bytes():
    with open("/proc/self/statm") as handle:
        return int(handle.read().split()[0]) * resource.getpagesize()

soft, hard = resource.getrlimit(resource.RLIMIT_AS)
for margin_mib in (0, 1, 2, 4, 8, 16, 32, 64, 128, 256):
    for name, call in calls.items():
        gc.collect()
        resource.setrlimit(resource.RLIMIT_AS, (mapped_bytes() + margin_mib * 2**20, hard))
        try:
            outcome = "ok" if call() == expected[name] else "WRONG RESULT"
        except MemoryError:
            outcome = "MemoryError"
        except BaseException as error:
            outcome = f"{type(error).__qualname__}: {error}"
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        print(name, margin_mib, outcome, flush=True)
assert all(call() == expected[name] for name, call in calls.items())
print("done")
"""


@needs_plain_allocator
def test_core_allocation_failure_is_memory_error():
    child = subprocess.run(
        [sys.executable, "-c", EXHAUSTION_CHILD], capture_output=True, text=True, timeout=300, env=child_env()
    )
    assert child.returncode == 0, child.stderr[-3000:]
    lines = child.stdout.split("\n")
    assert lines[-2:] == ["done", ""], child.stdout[-2000:]
    outcomes = {tuple(line.split(" ", 2)[:2]): line.split(" ", 2)[2] for line in lines[:-2]}
    assert set(outcomes.values()) <= {"ok", "MemoryError"}, sorted(set(outcomes.values()))
    for name in ("profile", "inspect", "compare", "drift", "validate"):
        assert outcomes[(name, "0")] == "MemoryError", name  # the core's buffers do not fit
        assert outcomes[(name, "256")] == "ok", name
    # Reserving 2**62 cells fails at every limit; the call carries on without it.
    assert outcomes[("lying_hint", "4")] == "ok"


def child_env():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(path for path in sys.path if path)
    return env


class LyingHint:
    def __init__(self, cells, hint):
        self.cells, self.hint = cells, hint

    def __iter__(self):
        return iter(self.cells)

    def __length_hint__(self):
        return self.hint


class LyingSequence:
    def __init__(self, items, length):
        self.items, self.length = items, length

    def __getitem__(self, index):
        return self.items[index]

    def __len__(self):
        return self.length


@pytest.mark.parametrize("lie", [2**62, 2**63 - 1])
def test_huge_length_hints_and_lengths_are_only_wishes(lie):
    columns = [("a", "integer", LyingHint([3, 1, None], lie)), ("b", "string", LyingHint(["x", "y", "x"], lie))]
    expected = core.profile_dataset([("a", "integer", [3, 1, None]), ("b", "string", ["x", "y", "x"])])
    assert core.profile_dataset(LyingSequence(columns, lie)) == expected
    schema = LyingSequence([("a", "integer", True, None, LyingSequence(["x"], lie))], lie)
    assert core._validate_dataset_schema([], schema)["issues"] == [
        {"code": "missing_column", "severity": "error", "column": "a", "expected": None, "observed": None}
    ]


# --------------------------------------------------------------------------
# File-system faults: the message is the system's text and " (os error N)".


def test_write_error_after_opening():
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full")
    raises_exactly(OSError, "No space left on device (os error 28)", save, dataset(), "/dev/full")


def test_file_used_as_a_directory(tmp_path):
    plain = tmp_path / "plain"
    plain.write_text("x")
    raises_exactly(OSError, "Not a directory (os error 20)", save, [], str(plain / "s.json"))
    raises_exactly(OSError, "Not a directory (os error 20)", validate_file, [], str(plain / "s.json"))
    assert plain.read_text() == "x"


def test_name_too_long(tmp_path):
    path = str(tmp_path / ("n" * 300))
    raises_exactly(OSError, "File name too long (os error 36)", save, [], path)
    raises_exactly(OSError, "File name too long (os error 36)", validate_file, [], path)


def test_symbolic_link_loop(tmp_path):
    os.symlink(tmp_path / "b", tmp_path / "a")
    os.symlink(tmp_path / "a", tmp_path / "b")
    for function in (save, validate_file):
        raises_exactly(OSError, "Too many levels of symbolic links (os error 40)", function, [], str(tmp_path / "a"))


def test_file_without_a_size_is_read_whole(tmp_path):
    """Files whose size the system does not report are read in chunks to the end."""
    raises_exactly(ValueError, "expected value at line 1 column 1", validate_file, [], "/proc/self/status")
    # A schema of more than one 16 KiB chunk, arriving through a pipe.
    columns = [(f"column_{idx:04d}", "integer", [idx]) for idx in range(400)]
    source = tmp_path / "schema.json"
    save(columns, str(source))
    assert source.stat().st_size > 3 * 16384
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    writer = subprocess.Popen(["sh", "-c", f"cat '{source}' > '{fifo}'"])
    try:
        report = validate_file(columns, str(fifo))
    finally:
        writer.wait(timeout=30)
    assert report == {"is_valid": True, "error_count": 0, "warning_count": 0, "issues": []}


def wide_dataset(count):
    return [(f"column_{idx:04d}", "integer", [idx]) for idx in range(count)]


def test_save_replaces_the_file_whole(tmp_path):
    """Through a symbolic link, keeping the target's mode, and leaving no temporary file."""
    target = tmp_path / "real.json"
    save(wide_dataset(50), str(target))
    os.chmod(target, 0o640)
    link = tmp_path / "link.json"
    os.symlink(target, link)
    save(dataset(), str(link))
    expected = tmp_path / "expected.json"
    save(dataset(), str(expected))
    assert link.is_symlink() and target.read_bytes() == expected.read_bytes()
    assert (target.stat().st_mode & 0o777) == 0o640
    assert sorted(path.name for path in tmp_path.iterdir()) == ["expected.json", "link.json", "real.json"]


FULL_DISK_CHILD = r"""
import os, sys, _nolt_core as core
directory = sys.argv[1]
target = os.path.join(directory, "schema.json")
core.save_suggested_schema_dataset([("a", "integer", [1])], target)
before = open(target, "rb").read()
with open(os.path.join(directory, "filler"), "wb") as filler:
    try:
        while True:
            filler.write(b"x" * 4096)
            filler.flush()
    except OSError:
        pass
try:
    core.save_suggested_schema_dataset([(f"column_{i:04d}", "integer", [i]) for i in range(400)], target)
    print("saved")
except OSError as error:
    print(f"{type(error).__qualname__}: {error}")
print(open(target, "rb").read() == before, sorted(os.listdir(directory)))
"""


def test_a_full_disk_leaves_the_previous_schema(tmp_path):
    """A small private tmpfs (skipped where the system does not allow one)."""
    if shutil.which("unshare") is None or shutil.which("mount") is None:
        pytest.skip("needs unshare and mount")
    directory = tmp_path / "small"
    directory.mkdir()
    script = f"mount -t tmpfs -o size=64k tmpfs '{directory}' && exec \"$0\" -c \"$1\" '{directory}'"
    child = subprocess.run(
        ["unshare", "-m", "sh", "-c", script, sys.executable, FULL_DISK_CHILD],
        capture_output=True, text=True, timeout=60, env=child_env(),
    )
    if child.returncode != 0 and "mount" in child.stderr:
        pytest.skip("a private tmpfs is not allowed here")
    assert child.returncode == 0, child.stderr[-3000:]
    assert child.stdout.splitlines() == [
        "OSError: No space left on device (os error 28)",
        "True ['filler', 'schema.json']",
    ]


RESAVE_CHILD = r"""
import sys, _nolt_core as core
small = [("a", "integer", [1])]
large = [(f"column_{i:04d}", "integer", [i]) for i in range(300)]
for round in range(int(sys.argv[2])):
    core.save_suggested_schema_dataset(large if round % 2 else small, sys.argv[1])
"""


def test_a_reader_never_sees_a_half_saved_schema(tmp_path):
    target = str(tmp_path / "schema.json")
    save([("a", "integer", [1])], target)
    writer = subprocess.Popen([sys.executable, "-c", RESAVE_CHILD, target, "400"], env=child_env())
    reads = 0
    try:
        while writer.poll() is None:
            assert validate_file([], target)["error_count"] in (1, 300)
            reads += 1
    finally:
        writer.wait(timeout=60)
    assert writer.returncode == 0 and reads > 0


PERMISSION_CHILD = r"""
import os, sys, _nolt_core as core
directory = sys.argv[1]
if os.geteuid() == 0:
    # The module is loaded; from here on the process is an ordinary user.
    os.setgroups([])
    os.setgid(65534)
    os.setuid(65534)
def attempt(call):
    try:
        call()
        return "ok"
    except BaseException as error:
        return f"{type(error).__qualname__}: {error}"
save, validate = core.save_suggested_schema_dataset, core.validate_dataset_file
print(attempt(lambda: save([], os.path.join(directory, "locked", "new.json"))))
print(attempt(lambda: save([], os.path.join(directory, "read_only.json"))))
print(attempt(lambda: validate([], os.path.join(directory, "unreadable.json"))))
# A folder that takes no new file over a file that may be written: written in place.
print(attempt(lambda: save([], os.path.join(directory, "locked", "open.json"))))
"""


def permission_directory():
    # pytest's own temporary directories are private to root; this one must be
    # reachable by the unprivileged child.
    directory = shared_temp_dir("nolt-permissions-")
    os.mkdir(os.path.join(directory, "locked"), 0o555)
    with open(os.path.join(directory, "locked", "open.json"), "w") as handle:
        handle.write("old")
    os.chmod(os.path.join(directory, "locked", "open.json"), 0o666)
    os.chmod(os.path.join(directory, "locked"), 0o555)
    for name, mode in (("read_only.json", 0o444), ("unreadable.json", 0o000)):
        path = os.path.join(directory, name)
        with open(path, "w") as handle:
            handle.write("keep")
        os.chmod(path, mode)
    return directory


def test_no_permission():
    directory = permission_directory()
    try:
        child = subprocess.run(
            [sys.executable, "-c", PERMISSION_CHILD, directory],
            capture_output=True,
            text=True,
            timeout=60,
            env=child_env(),
        )
        assert child.returncode == 0, child.stderr[-3000:]
        assert child.stdout.splitlines() == ["OSError: Permission denied (os error 13)"] * 3 + ["ok"]
        with open(os.path.join(directory, "locked", "open.json")) as handle:
            assert handle.read().startswith("{")
        # A refused open truncates nothing.
        with open(os.path.join(directory, "read_only.json")) as handle:
            assert handle.read() == "keep"
        assert not os.path.exists(os.path.join(directory, "locked", "new.json"))
    finally:
        shutil.rmtree(directory)


READ_ONLY_MOUNT_CHILD = r"""
import os, sys, _nolt_core as core
directory = sys.argv[1]
try:
    core.save_suggested_schema_dataset([("a", "integer", [1])], os.path.join(directory, "existing.json"))
except OSError as error:
    print(f"{type(error).__qualname__}: {error}")
try:
    core.save_suggested_schema_dataset([], os.path.join(directory, "new.json"))
except OSError as error:
    print(f"{type(error).__qualname__}: {error}")
print(core.validate_dataset_file([("a", "integer", [1])], os.path.join(directory, "existing.json"))["is_valid"])
"""


def test_read_only_file_system(tmp_path):
    """A read-only bind mount in a private mount namespace (skipped where the
    system does not allow one)."""
    if shutil.which("unshare") is None or shutil.which("mount") is None:
        pytest.skip("needs unshare and mount")
    directory = tmp_path / "mounted"
    directory.mkdir()
    save([("a", "integer", [1])], str(directory / "existing.json"))
    before = (directory / "existing.json").read_bytes()
    probe = subprocess.run(
        ["unshare", "-m", "sh", "-c", f"mount --bind -o ro '{directory}' '{directory}'"],
        capture_output=True,
    )
    if probe.returncode != 0:
        pytest.skip("a private read-only bind mount is not allowed here")
    script = f"mount --bind -o ro '{directory}' '{directory}' && exec \"$0\" -c \"$1\" '{directory}'"
    child = subprocess.run(
        ["unshare", "-m", "sh", "-c", script, sys.executable, READ_ONLY_MOUNT_CHILD],
        capture_output=True,
        text=True,
        timeout=60,
        env=child_env(),
    )
    assert child.returncode == 0, child.stderr[-3000:]
    assert child.stdout.splitlines() == ["OSError: Read-only file system (os error 30)"] * 2 + ["True"]
    assert (directory / "existing.json").read_bytes() == before
    assert not (directory / "new.json").exists()


# --------------------------------------------------------------------------
# Messages are whole, also when a name carries a NUL character.


class Odd:
    pass


Odd.__qualname__ = "Odd\0Type"


@pytest.mark.parametrize(
    "call, exc_type, message",
    [
        (
            lambda: core.profile_dataset([("a", "integer", [1]), ("b\0c", "integer", [])]),
            ValueError,
            "Column 'b\0c' has 0 values; expected 1",
        ),
        (lambda: core.profile_dataset([("a", "inte\0ger", [])]), ValueError, "Unsupported logical type 'inte\0ger'"),
        (
            lambda: core.profile_dataset([("a\0", "integer", [1.5])]),
            TypeError,
            "Column 'a\0' expected integer values but received Float",
        ),
        (
            lambda: core.observed_schema_dataset([("\0", "categorical", ["x", 1])]),
            ValueError,
            "Column '\0' produced 1 observed values; expected 2",
        ),
        (
            lambda: core.profile_dataset([("n\0", "integer", [None], True)]),
            TypeError,
            "Column 'n\0' contains an unsupported value",
        ),
        (lambda: core.profile_dataset([Odd()]), TypeError, "'Odd\0Type' object cannot be converted to 'PyTuple'"),
        (
            lambda: core.profile_dataset(Odd()),
            TypeError,
            "argument 'columns': 'Odd\0Type' object cannot be converted to 'Sequence'",
        ),
        (lambda: core.profile_dataset(**{"c\0": []}), TypeError, "profile_dataset() got an unexpected keyword argument 'c\0'"),
    ],
)
def test_messages_keep_nul_characters(call, exc_type, message):
    raises_exactly(exc_type, message, call)


# --------------------------------------------------------------------------
# Python code running in the middle of a call


class Reentrant:
    """A float cell whose conversion runs the module again."""

    def __float__(self):
        inner = core.inspect_dataset([("x", "float", [1.0, 2.0])])
        return inner["profile"]["columns"][0]["numeric_stats"]["max"]


class Clearing:
    """A float cell that empties the list it is read from and drops every other
    reference to itself while it is being converted."""

    def __init__(self, cells):
        self.cells = cells

    def __float__(self):
        self.cells.clear()
        gc.collect()
        return 7.0


def test_reentrant_call_during_conversion():
    profile = core.profile_dataset([("a", "float", [Reentrant(), 1.0], True)])
    assert profile["columns"][0]["numeric_stats"]["min"] == 1.0
    assert profile["columns"][0]["numeric_stats"]["max"] == 2.0


def test_cells_list_emptied_by_its_own_cell():
    cells = []
    cells.extend([Clearing(cells), 1.0, 2.0])
    profile = core.profile_dataset([("a", "float", cells, True)])
    assert profile["row_count"] == 1
    assert profile["columns"][0]["numeric_stats"]["mean"] == 7.0


def test_dataset_list_emptied_during_conversion():
    columns = []

    def cells():
        columns.clear()
        gc.collect()
        yield 1

    columns.extend([("a", "integer", cells()), ("b", "integer", [2])])
    profile = core.profile_dataset(columns)
    assert [column["name"] for column in profile["columns"]] == ["a", "b"]


class Halt(BaseException):
    pass


def test_base_exception_from_an_iterator_passes_unchanged():
    halt = Halt("stop")

    def cells():
        yield 1
        raise halt

    with pytest.raises(Halt) as info:
        core.compare_datasets([("a", "integer", [1])], [("a", "integer", cells())])
    assert info.value is halt


def test_threads_interleaving_inside_calls():
    """Python-level conversions let other threads run in the middle of a call;
    nothing is shared between calls, so every thread gets the same results."""

    class Slow:
        def __init__(self, value):
            self.value = value

        def __float__(self):
            return self.value

    def columns():
        return [("a", "float", [Slow(float(idx % 7)) for idx in range(300)], True), ("b", "string", ["x", None] * 150)]

    expected = core.inspect_dataset(columns())
    results = []
    errors = []

    def work():
        try:
            for _ in range(20):
                results.append(core.inspect_dataset(columns()) == expected)
        except BaseException as error:  # noqa: B036
            errors.append(error)

    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=work) for _ in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(previous)
    assert errors == [] and results == [True] * 80



# --------------------------------------------------------------------------
# Every wait can be interrupted: the signal handlers run inside long calls and
# blocked file operations, and a handler's exception ends the call unchanged.

WAITS_CHILD = r"""
import os, resource, signal, sys, tempfile, _nolt_core as core

class Alarm(Exception):
    pass

raised = Alarm("the alarm rang")

def ring(signum, frame):
    raise raised

signal.signal(signal.SIGALRM, ring)
if os.environ.get("NOLT_SANITIZED") != "1":
    # Reading a file without an end must stop long before this.
    resource.setrlimit(resource.RLIMIT_AS, (4 << 30, resource.getrlimit(resource.RLIMIT_AS)[1]))
fifo = os.path.join(tempfile.mkdtemp(), "pipe")
os.mkfifo(fifo)
waits = {
    "load from a pipe without a writer": lambda: core.validate_dataset_file([], fifo),
    "load from a file without an end": lambda: core.validate_dataset_file([], "/dev/zero"),
    "save to a pipe without a reader": lambda: core.save_suggested_schema_dataset([], fifo),
}
for name, call in waits.items():
    signal.setitimer(signal.ITIMER_REAL, 0.05)
    try:
        call()
        outcome = "returned"
    except BaseException as error:
        outcome = "the alarm's exception" if error is raised else repr(error)
    signal.setitimer(signal.ITIMER_REAL, 0)
    print(f"{name}: {outcome}", flush=True)
"""


def test_blocked_file_operations_stop_with_the_handlers_exception():
    child = subprocess.run(
        [sys.executable, "-c", WAITS_CHILD], capture_output=True, text=True, timeout=120, env=child_env()
    )
    assert child.returncode == 0, child.stderr[-3000:]
    assert child.stdout.splitlines() == [
        "load from a pipe without a writer: the alarm's exception",
        "load from a file without an end: the alarm's exception",
        "save to a pipe without a reader: the alarm's exception",
    ]


class Alarm(Exception):
    pass


def test_a_long_call_stops_soon_after_a_signal_and_the_next_call_is_unchanged():
    """10^7 rows per column; the signals land in conversion and in computing."""
    levels = [f"level-{idx}" for idx in range(1000)]
    texts = levels * 10_000
    columns = [
        ("text", "string", texts),
        ("number", "integer", list(range(1000)) * 10_000),
        ("share", "float", np.arange(10**7, dtype=np.float64) / 7),
        ("again", "categorical", texts),
    ]
    expected = core.inspect_dataset(columns)
    raised = Alarm("interrupted")
    handled_at = []

    def ring(signum, frame):
        handled_at.append(time.monotonic())
        raise raised

    previous = signal.signal(signal.SIGALRM, ring)
    latencies = []
    try:
        for delay in (0.03, 0.25, 0.5):
            tries = []  # another process may hold the CPU for a moment: the best of three tries
            while len(tries) < 3 and not (tries and min(tries) < 0.2):
                handled_at.clear()
                signaled_at = time.monotonic() + delay
                signal.setitimer(signal.ITIMER_REAL, delay)
                try:
                    core.inspect_dataset(columns)  # a fast machine may finish before the later signals
                    signal.setitimer(signal.ITIMER_REAL, 0)
                    break
                except Alarm as error:
                    assert error is raised
                    tries.append(handled_at[0] - signaled_at)
            if tries:
                latencies.append(min(tries))
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert latencies and max(latencies) < 0.2, latencies
    assert core.inspect_dataset(columns) == expected


# --------------------------------------------------------------------------
# A column stores the text of a str object once, however often it repeats.

REPEATS_CHILD = r"""
import resource, _nolt_core as core
ascii_text, other_text = "x" * 2**20, "\u00e9" * 2**19  # 1 MiB of UTF-8 each
resource.setrlimit(resource.RLIMIT_AS, (1 << 30, resource.getrlimit(resource.RLIMIT_AS)[1]))
columns = [
    ("ascii", "string", [ascii_text] * 5000),
    ("other", "categorical", (other_text,) * 5000),
    ("iterated", "string", (ascii_text for _ in range(5000))),
]
profile = core.profile_dataset(columns)
print([(column["count"], column["unique_count"]) for column in profile["columns"]])
"""


@needs_plain_allocator
def test_repeated_texts_are_stored_once_per_column():
    child = subprocess.run(
        [sys.executable, "-c", REPEATS_CHILD], capture_output=True, text=True, timeout=300, env=child_env()
    )
    assert child.returncode == 0, child.stderr[-3000:]
    assert child.stdout == "[(5000, 1), (5000, 1), (5000, 1)]\n"


def churned_texts(count, length):
    """Fresh texts, each dropped by the generator one step after it is handed out."""
    for idx in range(count):
        text = f"{idx:06d}" * (length // 6) + "\u00e9" * (idx % 2)
        yield text


@pytest.mark.parametrize("length", [6, 18, 120, 1020, 1026, 5000])
def test_shared_texts_give_the_results_of_copies(length):
    """Repeated objects, the same texts as distinct objects, and objects that die
    while the column is read give the same results."""
    texts = [f"{idx:06d}" * (length // 6) + "\u00e9" * (idx % 2) for idx in range(40)]
    shared = [texts[(idx * 7919) % 40] for idx in range(3000)]
    copies = [(text + "!")[:-1] for text in shared]
    schema = [("c", "categorical", True, None, texts[:5])]

    def results(make_cells):
        inspection = core.inspect_dataset([("c", "categorical", make_cells())])
        return inspection, core._validate_dataset_schema([("c", "categorical", make_cells())], schema)

    expected = results(lambda: copies)
    assert expected[0]["observed_schema"]["columns"][0]["observed_values"] == sorted(texts, key=shared.index)
    for make_cells in (lambda: shared, lambda: tuple(shared), lambda: iter(shared)):
        assert results(make_cells) == expected
    churned = core.profile_dataset([("s", "string", churned_texts(2000, length))])
    assert churned == core.profile_dataset([("s", "string", list(churned_texts(2000, length)))])
    assert churned["columns"][0]["unique_count"] == 2000
