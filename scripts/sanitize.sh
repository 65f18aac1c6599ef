#!/usr/bin/env bash
# Builds the module and the C++ tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs both test suites against that build.
# The interpreter is not instrumented, so the sanitizer runtimes are preloaded
# and the interpreter's allocator is switched to malloc so ASan sees every block.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
dir="$repo/build/sanitize"
NOLT_BUILD_TYPE=RelWithDebInfo bash scripts/dev-build.sh "$dir" -DNOLT_SANITIZE=ON

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:strict_init_order=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
"$dir/nolt_core_tests" --gtest_brief=1

asan="$(g++ -print-file-name=libasan.so)"
ubsan="$(g++ -print-file-name=libubsan.so)"
LD_PRELOAD="$asan $ubsan" PYTHONMALLOC=malloc PYTHONPATH="$dir" \
  "$repo/.venv/bin/python" -m pytest tests/python -q -p no:cacheprovider "$@"
