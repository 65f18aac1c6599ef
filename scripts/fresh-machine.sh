#!/usr/bin/env bash
# Runs the README's two commands as a new user would on a fresh Debian machine, and says
# whether they work. Run it whenever the set-up changes.
#
# The committed tree (HEAD of this repository; uncommitted changes are not part of it) is
# cloned into a temporary folder, where `make demo` and then `make test` run with nothing
# of this shell's environment: an empty HOME (no pip cache or configuration, no pyenv), a
# PATH of the system folders only, no XDG_*, PIP_* or PYTHON* variables, a cold cache
# (NOLT_CACHE_DIR in the temporary folder) and CPython 3.13 built from source
# (NOLT_FORCE_SOURCE_BUILD=1). It reports each command's exit status and wall time and exits
# 0 when both passed. The temporary folder is removed after a pass and kept after a failure.
#
#   scripts/fresh-machine.sh [--python PATH] [--keep]
#     --python PATH  a first run on a machine that has a CPython 3.13 installed: the set-up
#                    is given NOLT_PYTHON=PATH instead of building one
#     --keep         keep the temporary folder after a pass too
#
# Debian packages belong to the machine: those installed already are not installed again.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python=""
keep=0
while [ "$#" -gt 0 ]; do
  case "$1" in
    --python) python="${2:?--python needs a path}"; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: scripts/fresh-machine.sh [--python PATH] [--keep]" >&2; exit 2 ;;
  esac
done

say() { printf '[fresh-machine] %s\n' "$*"; }
since() {
  local seconds=$((SECONDS - $1))
  printf '%dm%02ds' $((seconds / 60)) $((seconds % 60))
}

system_path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
commit="$(git -C "$repo" rev-parse HEAD)"
if [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
  say "note: the working tree has uncommitted changes; only the commit is checked"
fi

tmp="$(mktemp -d "${TMPDIR:-/tmp}/nolt-fresh.XXXXXX")"
status=1
finish() {
  if [ "$status" -eq 0 ] && [ "$keep" -eq 0 ]; then
    rm -rf "$tmp"
  else
    say "kept $tmp (make-demo.log, make-test.log, nolt/build/setup.log)"
  fi
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir "$tmp/home" "$tmp/tmp"
git clone -q --no-hardlinks "$repo" "$tmp/nolt"
git -C "$tmp/nolt" checkout -q --detach "$commit"

conditions=(HOME="$tmp/home" PATH="$system_path" LANG=C.UTF-8 TMPDIR="$tmp/tmp" NOLT_CACHE_DIR="$tmp/cache")
if [ -n "$python" ]; then
  conditions+=(NOLT_PYTHON="$python")
  interpreter="installed: NOLT_PYTHON=$python"
else
  conditions+=(NOLT_FORCE_SOURCE_BUILD=1)
  interpreter="built from source: NOLT_FORCE_SOURCE_BUILD=1"
fi
# What a new user's shell finds on that PATH.
reachable="$(env -i PATH="$system_path" sh -c 'command -v python3.13 pyenv' || true)"

say "commit $commit in $tmp/nolt"
say "HOME empty, PATH=$system_path, cache cold, CPython 3.13 $interpreter"
say "python3.13 or pyenv on that PATH: ${reachable:-none}"

results=()
failed=0
run() {
  local target="$1" begun=$SECONDS code
  say "make $target (its output is also in $tmp/make-$target.log)"
  set +e
  # tee ignores Ctrl-C so that the set-up's last line, naming where it stopped, still shows.
  (cd "$tmp/nolt" && exec env -i "${conditions[@]}" make "$target") 2>&1 | (trap '' INT; exec tee "$tmp/make-$target.log")
  code="${PIPESTATUS[0]}"
  set -e
  results+=("$(printf 'make %-4s  exit status %d  wall time %s (%ds)' "$target" "$code" "$(since "$begun")" $((SECONDS - begun)))")
  [ "$code" -eq 0 ] || failed=1
}
run demo
run test

say "summary of commit ${commit:0:12}, CPython 3.13 $interpreter:"
printf '  %s\n' "${results[@]}"
status="$failed"
exit "$status"
