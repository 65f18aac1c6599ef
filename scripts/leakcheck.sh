#!/usr/bin/env bash
# Runs pytest on a sanitizer build (see scripts/sanitize.sh) and checks it for
# leaks of the module. Usage: scripts/leakcheck.sh BUILD_DIR fast|full [pytest args]
#
# The interpreter keeps much of its own memory until the process ends (interned
# strings, code objects), so an ordinary exit-time LeakSanitizer report is noise.
# Instead the leak check runs once, in process, after the tests finished and
# before the interpreter shuts down; a reported block counts as a leak only when
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
import gc
import os
import sys
import time

import pytest


def settle(limit=15.0, still=1.0):
    """Waits until no thread starts or ends for `still` seconds (at most `limit`): the leak
    check stops every thread, and one ending meanwhile can fail the check itself."""
    end = time.monotonic() + limit
    last, since = None, time.monotonic()
    while time.monotonic() < end:
        threads = sorted(os.listdir("/proc/self/task"))
        if threads != last:
            last, since = threads, time.monotonic()
        elif time.monotonic() - since >= still:
            return
        time.sleep(0.1)


if __name__ == "__main__":
    status = pytest.main(["-q", "-p", "no:cacheprovider", *sys.argv[1:]])
    sys.stdout.flush()
    check = ctypes.CDLL(None).__lsan_do_recoverable_leak_check
    gc.collect()
    settle()
    print(f"leakcheck: pytest ended with status {int(status)}; checking for leaks", file=sys.stderr, flush=True)
    check()  # reports through log_path; returns without ending the process
    sys.exit(int(status))
PY

set +e
NOLT_SANITIZED=1 PYTHONMALLOC=malloc PYTHONPATH="$dir" \
  ASAN_SYMBOLIZER_PATH="$symbolizer" \
  ASAN_OPTIONS="detect_leaks=1:leak_check_at_exit=0:abort_on_error=1:log_path=$logs/report:$unwind" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  LD_PRELOAD="$asan $ubsan" \
  "$repo/.venv/bin/python" "$logs/driver.py" "$@"
status=$?
set -e

shopt -s nullglob
reports=("$logs"/report.*)
if grep -l -E "ERROR: AddressSanitizer|runtime error:" "${reports[@]}" /dev/null >/dev/null; then
  cat "${reports[@]}" >&2
  echo "leakcheck: sanitizer error" >&2
  exit 1
fi
# The check itself can fail (a sanitizer's internal CHECK, a thread that could
# not be stopped): then it found nothing, and it must not pass for a clean run.
if grep -l -E "Sanitizer has encountered a fatal error|Sanitizer CHECK failed|Tracer caught signal" \
    "${reports[@]}" /dev/null >/dev/null || [ "$status" -gt 128 ]; then
  cat "${reports[@]}" /dev/null >&2
  echo "leakcheck: the run or its leak check ended abnormally (status $status)" >&2
  exit 1
fi
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
