#!/usr/bin/env bash
# Builds the module and the C++ tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs both test suites against that build:
#   1. the C++ tests, with LeakSanitizer (every block they leave is a leak);
#   2. the whole Python suite, then a leak check of the module over it;
#   3. the call-everything test of tests/python/test_leaks.py under a leak
#      check that unwinds through the interpreter (see scripts/leakcheck.sh).
# The interpreter is not instrumented, so the sanitizer runtimes are preloaded
# and the interpreter's allocator is switched to malloc so ASan sees every block.
# Usage: scripts/sanitize.sh [pytest args for step 2]; NOLT_SANITIZE_DIR picks
# the build folder (default build/sanitize).
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
dir="${NOLT_SANITIZE_DIR:-$repo/build/sanitize}"
NOLT_BUILD_TYPE=RelWithDebInfo bash scripts/dev-build.sh "$dir" -DNOLT_SANITIZE=ON

ASAN_SYMBOLIZER_PATH="$(command -v llvm-symbolizer || true)" \
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_init_order=1:check_initialization_order=1" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  "$dir/nolt_core_tests" --gtest_brief=1

bash scripts/leakcheck.sh "$dir" fast tests/python "$@"
bash scripts/leakcheck.sh "$dir" full tests/python/test_leaks.py
