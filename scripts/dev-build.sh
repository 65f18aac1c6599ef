#!/usr/bin/env bash
# Developer build into a folder of its own: the extension module and the C++
# tests, without installing anything. Usage: scripts/dev-build.sh [DIR] [extra cmake args]
#   then: PYTHONPATH=DIR .venv/bin/python -m pytest tests/python
#         DIR/nolt_core_tests
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="${1:-$repo/build/dev}"
shift || true
[ -x "$repo/.venv/bin/python" ] || bash "$repo/scripts/setup.sh"
"$repo/.venv/bin/cmake" -S "$repo" -B "$dir" -G Ninja -DCMAKE_MAKE_PROGRAM="$repo/.venv/bin/ninja" \
  -DCMAKE_BUILD_TYPE="${NOLT_BUILD_TYPE:-Release}" -DNOLT_BUILD_TESTS=ON -DNOLT_BUILD_MODULE=ON \
  -DPython_EXECUTABLE="$repo/.venv/bin/python" "$@" >/dev/null
"$repo/.venv/bin/cmake" --build "$dir" -j "${JOBS:-2}"
