#!/usr/bin/env bash
# Runs pytest on a sanitizer build (see scripts/sanitize.sh) and checks it for
# leaks of the module. Usage: scripts/leakcheck.sh BUILD_DIR fast|full [pytest args]
#
# The interpreter keeps much of its own memory until the process ends (interned
# strings, code objects), so an ordinary exit-time LeakSanitizer report is noise.
# Instead the leak check runs once, after the tests finished and before the
# interpreter shuts down, in a forked copy of the process (one thread, so the
# check cannot race with threads that end or allocate; a copy whose check
# fails is replaced, twice at most); a reported block counts as a leak only when
# one of the frames that allocated it lies in this project's code (namespace
# nolt, or the module itself). Unwinding: "fast" follows frame pointers, which
# this project's code keeps but the interpreter does not, so it finds blocks the
# module allocates itself (new, std containers) cheaply over the whole suite;
# "full" unwinds through the interpreter too, so that objects the interpreter
# allocates on the module's behalf (a str that is never released) show the
# module's frames. It is slow: use it on a small, focused test set.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$1"
mode="$2"
shift 2
case "$mode" in
  fast) unwind="fast_unwind_on_malloc=1:malloc_context_size=30" ;;
  full) unwind="fast_unwind_on_malloc=0:malloc_context_size=12" ;;
  *) echo "mode must be fast or full" >&2; exit 2 ;;
esac
logs="$(mktemp -d "${TMPDIR:-/tmp}/nolt-leakcheck.XXXXXX")"
trap 'rm -rf "$logs"' EXIT
asan="$(g++ -print-file-name=libasan.so)"
ubsan="$(g++ -print-file-name=libubsan.so)"
symbolizer="$(command -v llvm-symbolizer || true)"

# A file, not standard input: worker processes started by spawning import it again.
cat > "$logs/driver.py" <<'PY'
import ctypes
import os
import sys
import time
import warnings

import pytest

CHECK_FAILED = 70  # no attempt of the leak check ran to its end


def settle(limit=15.0, still=1.0):
    """Waits until no thread starts or ends for `still` seconds, at most `limit` seconds."""
    end = time.monotonic() + limit
    last, since = None, time.monotonic()
    while time.monotonic() < end:
        threads = sorted(os.listdir("/proc/self/task"))
        if threads != last:
            last, since = threads, time.monotonic()
        elif time.monotonic() - since >= still:
            return
        time.sleep(0.1)


def check_in_a_copy(report_path, limit=900.0):
    """The leak check in a forked copy of the process, which has one thread: stopping the world
    there cannot race with threads that end or allocate, which can make the check itself fail.
    The copy's reports go to `report_path`.PID. Returns whether the check ran to its end."""
    runtime = ctypes.CDLL(None)
    check, set_report_path = runtime.__lsan_do_recoverable_leak_check, runtime.__sanitizer_set_report_path
    path = report_path.encode()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # forking a process with threads
        pid = os.fork()
    if pid == 0:
        try:
            set_report_path(path)
            check()  # reports leaks; returns without ending the process
        finally:
            os._exit(0)
    end = time.monotonic() + limit
    while time.monotonic() < end:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status) == 0
        time.sleep(0.2)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    return False


if __name__ == "__main__":
    status = int(pytest.main(["-q", "-p", "no:cacheprovider", *sys.argv[2:]]))
    sys.stdout.flush()
    settle()
    for attempt in range(3):
        if check_in_a_copy(f"{sys.argv[1]}.{attempt}"):
            sys.exit(status)
        print(f"leakcheck: attempt {attempt + 1} of the leak check failed", file=sys.stderr, flush=True)
    sys.exit(CHECK_FAILED)
PY

set +e
NOLT_SANITIZED=1 PYTHONMALLOC=malloc PYTHONPATH="$dir" \
  ASAN_SYMBOLIZER_PATH="$symbolizer" \
  ASAN_OPTIONS="detect_leaks=1:leak_check_at_exit=0:abort_on_error=1:log_path=$logs/report:$unwind" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  LD_PRELOAD="$asan $ubsan" \
  "$repo/.venv/bin/python" "$logs/driver.py" "$logs/check" "$@"
status=$?
set -e

shopt -s nullglob
reports=("$logs"/report.*)
if grep -l -E "ERROR: AddressSanitizer|runtime error:" "${reports[@]}" /dev/null >/dev/null; then
  cat "${reports[@]}" >&2
  echo "leakcheck: sanitizer error" >&2
  exit 1
fi
if [ "$status" -gt 128 ]; then
  cat "${reports[@]}" /dev/null >&2
  echo "leakcheck: the run ended abnormally (status $status)" >&2
  exit 1
fi
if [ "$status" -eq 70 ]; then
  cat "$logs"/check.* /dev/null >&2
  echo "leakcheck: the leak check itself failed every time (reports above)" >&2
  exit 1
fi
# The reports of the attempt that ran to its end (failed attempts wrote no leak records).
reports=("$logs"/check.*)
# One leak record: from "Direct leak"/"Indirect leak" to the next blank line.
ours="$(awk '
  /^(Direct|Indirect) leak/ { record = $0 "\n"; inside = 1; next }
  inside && /^$/ { if (record ~ /nolt::|_nolt_core|nolt_core_tests/) printf "%s\n", record; inside = 0; next }
  inside { record = record $0 "\n" }
  END { if (inside && record ~ /nolt::|_nolt_core|nolt_core_tests/) printf "%s\n", record }
' "${reports[@]}" /dev/null)"
if [ -n "$ours" ]; then
  printf '%s' "$ours" >&2
  echo "leakcheck: the module leaked memory (records above)" >&2
  exit 1
fi
others="$(awk '/^(Direct|Indirect) leak/ { count++ } END { print count + 0 }' "${reports[@]}" /dev/null)"
echo "leakcheck ($mode): no leak from the module ($others interpreter-only records ignored)"
exit "$status"
