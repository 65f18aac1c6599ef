#!/usr/bin/env bash
# Builds the schema-document fuzz target with clang (libFuzzer + ASan + UBSan)
# and runs it. Usage: [FUZZ_OUT=build/DIR] tests/fuzz/run.sh [SECONDS] [extra libFuzzer flags]
# Not part of the default build.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
seconds="${1:-180}"
shift || true
out="${FUZZ_OUT:-$repo/build/fuzz}"
mkdir -p "$out/corpus"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$repo/src" \
  "$repo/tests/fuzz/fuzz_document.cpp" \
  "$repo/src/persistence/document_reader.cpp" \
  "$repo/src/persistence/document_writer.cpp" \
  "$repo/src/persistence/json_text.cpp" \
  "$repo/src/error/core_error.cpp" \
  -o "$out/fuzz_document"
cd "$out"
nice -n 10 ./fuzz_document -jobs=1 -workers=1 -max_total_time="$seconds" -max_len=4096 \
  -print_final_stats=1 "$@" corpus "$repo/tests/fuzz/seeds"
