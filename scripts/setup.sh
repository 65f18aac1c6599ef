#!/usr/bin/env bash
# Idempotent set-up of a Debian machine for this project.
#
#   scripts/setup.sh demo    what building and running the module needs: a C++ compiler,
#                            Abseil and xxHash, CPython 3.13 with headers, .venv with
#                            requirements-build.txt, and the module built and installed
#   scripts/setup.sh [test]  all of that, plus GoogleTest, Debian's chromium and
#                            chromium-driver for the report tests and requirements-dev.txt
#
# It says what it does in a few lines on standard error; what the tools print goes to
# build/setup.log, whose end is shown on failure, followed by one line naming the step
# that failed. Nothing is written to standard output.
#
# CPython 3.13 is, in this order: NOLT_PYTHON when set; an installed python3.13 (on PATH,
# /usr/bin, /usr/local/bin, pyenv's versions folder, /opt/python); Debian's python3.13-dev
# where the release has it; otherwise built once from Debian's source package into
# $NOLT_CACHE_DIR/cpython-3.13 (default ~/.cache/nolt). NOLT_FORCE_SOURCE_BUILD=1 skips
# straight to that build; NOLT_BUILD_JOBS sets its parallel jobs (default: all cores).
set -euo pipefail

purpose="${1:-test}"
case "$purpose" in
  demo) requirements=(requirements-build.txt) ;;
  test) requirements=(requirements-build.txt requirements-dev.txt) ;;
  *) echo "usage: scripts/setup.sh [demo|test]" >&2; exit 2 ;;
esac

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
venv="$repo/.venv"
cache="${NOLT_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/nolt}"
cpython_prefix="$cache/cpython-3.13"
built_marker="$cpython_prefix/.nolt-build-complete"
mkdir -p "$repo/build"
logfile="$repo/build/setup.log"
: >"$logfile"

started=$SECONDS
step="starting"
scratch=""

say() { printf '[setup] %s\n' "$*" >&2; }
# Runs a command with everything it prints going to the log.
quiet() { "$@" >>"$logfile" 2>&1; }
since() {
  local seconds=$((SECONDS - $1))
  if [ "$seconds" -ge 60 ]; then printf '%dm%02ds' $((seconds / 60)) $((seconds % 60)); else printf '%ds' "$seconds"; fi
}

finish() {
  local status=$?
  [ -z "$scratch" ] || rm -rf "$scratch"
  if [ "$status" -ne 0 ]; then
    tail -n 25 "$logfile" | sed 's/^/  | /' >&2
    say "FAILED (exit status $status) while $step; full log: $logfile"
  fi
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# apt-get as root with its output in the log. While another apt or dpkg holds the
# package manager's lock it waits (up to 15 minutes) instead of failing.
apt_get() {
  local waited=0 status
  while :; do
    if as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=60 "$@" >>"$logfile" 2>&1; then
      return 0
    else
      status=$?
    fi
    if [ "$waited" -ge 900 ] || ! tail -n 5 "$logfile" | grep -q -E 'Could not get lock|Unable to lock|Unable to acquire'; then
      return "$status"
    fi
    [ "$waited" -gt 0 ] || say "waiting for another program to release apt's lock"
    sleep 15
    waited=$((waited + 15))
  done
}

apt_updated=0
apt_update() {
  if [ "$apt_updated" -eq 0 ]; then
    apt_get update
    apt_updated=1
  fi
}

# Installs the Debian packages that are not installed yet.
ensure_debs() {
  local missing=() pkg status
  for pkg in "$@"; do
    status="$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)"
    [ "$status" = "install ok installed" ] || missing+=("$pkg")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    step="installing Debian packages ${missing[*]}"
    say "installing Debian packages: ${missing[*]}"
    apt_update
    apt_get install -y -q "${missing[@]}"
  fi
}

# Prints the path of the interpreter PY runs when it is CPython 3.13 with its headers
# and venv and ensurepip; prints nothing and fails otherwise.
probe_python() {
  "$1" - <<'PY' 2>/dev/null
import os, sys, sysconfig
assert sys.implementation.name == "cpython" and sys.version_info[:2] == (3, 13)
assert os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h"))
import venv, ensurepip  # noqa: F401
print(sys.executable)
PY
}

# The functions below set `python` to the interpreter they found or made.
python=""

cached_build() {
  [ -f "$built_marker" ] && python="$(probe_python "$cpython_prefix/bin/python3.13")"
}

find_python() {
  local candidates=(python3.13 /usr/bin/python3.13 /usr/local/bin/python3.13) dir py
  while IFS= read -r dir; do
    if [ -n "$dir" ]; then candidates+=("$dir/python3.13"); fi
  done < <(shopt -s nullglob; printf '%s\n' "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.13*/bin \
             "$HOME"/.pyenv/versions/3.13*/bin /opt/python/3.13*/bin | sort -r -V)
  for py in "${candidates[@]}"; do
    if python="$(probe_python "$py")"; then return 0; fi
  done
  cached_build
}

# Whether apt offers the package (Debian trixie and later have python3.13-dev).
apt_has() {
  local policy
  policy="$(apt-cache policy "$1" 2>/dev/null || true)"
  grep -q 'Candidate: [0-9]' <<<"$policy"
}

# Builds CPython 3.13 from Debian's source package into the cache folder. The source
# index is read with a private apt state in a scratch folder, so nothing under
# /etc/apt changes; the scratch folder is removed on every exit.
build_cpython() {
  local begun=$SECONDS
  ensure_debs build-essential pkg-config libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev \
    libsqlite3-dev libreadline-dev libncurses-dev uuid-dev xz-utils
  step="preparing to build CPython 3.13 in $cache"
  mkdir -p "$cache"
  # One build at a time per cache: another set-up building it now is waited for.
  exec 9>"$cache/cpython-3.13.lock"
  if ! flock -n 9; then
    say "waiting for another set-up that is building CPython 3.13 into $cpython_prefix"
    flock 9
    if cached_build; then return 0; fi
  fi
  scratch="$(mktemp -d "$cache/cpython-build.XXXXXX")"
  local uri
  uri="$(grep -h -E '^URIs:' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1 | awk '{print $2}' || true)"
  [ -n "$uri" ] || uri="$(grep -h -E '^deb +http' /etc/apt/sources.list 2>/dev/null | head -n 1 | awk '{print $2}' || true)"
  [ -n "$uri" ] || uri="http://deb.debian.org/debian"
  mkdir -p "$scratch/apt/lists/partial" "$scratch/apt/sources.list.d"
  printf 'Types: deb-src\nURIs: %s\nSuites: trixie\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uri" >"$scratch/apt/sources.list.d/trixie-src.sources"
  local private=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$scratch/apt/sources.list.d"
                 -o Dir::State::Lists="$scratch/apt/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
  step="downloading Debian's python3.13 source package"
  quiet apt-get "${private[@]}" update
  (cd "$scratch" && quiet apt-get "${private[@]}" source --download-only python3.13)

  local archive srcdir version
  archive="$(find "$scratch" -maxdepth 1 -name 'python3.13_*.orig.tar.xz' | head -n 1)"
  step="unpacking ${archive##*/}"
  tar -C "$scratch" -xf "$archive"
  srcdir="$(find "$scratch" -maxdepth 1 -type d -name 'Python-3.13*' | head -n 1)"
  version="${srcdir##*/Python-}"
  say "building CPython $version from Debian's source package into $cpython_prefix (4 to 8 minutes on 2 cores)"
  rm -rf "$cpython_prefix"
  step="configuring CPython $version"
  (cd "$srcdir" && quiet ./configure --prefix="$cpython_prefix" --with-ensurepip=install)
  # The flags of a calling make (make -k, -i, -n, its jobserver) are not this build's.
  step="compiling CPython $version"
  quiet env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -C "$srcdir" -j"${NOLT_BUILD_JOBS:-$(nproc)}"
  step="installing CPython $version into $cpython_prefix"
  quiet env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -C "$srcdir" install
  step="checking the CPython $version just built"
  python="$(probe_python "$cpython_prefix/bin/python3.13")"
  touch "$built_marker"
  rm -rf "$scratch"
  scratch=""
  exec 9>&-
  say "built CPython $version in $(since "$begun")"
}

provide_python() {
  step="looking for CPython 3.13"
  if [ "${NOLT_FORCE_SOURCE_BUILD:-0}" = 1 ]; then
    if ! cached_build; then build_cpython; fi
  elif [ -n "${NOLT_PYTHON:-}" ]; then
    step="checking NOLT_PYTHON=$NOLT_PYTHON"
    if ! python="$(probe_python "$NOLT_PYTHON")"; then
      echo "NOLT_PYTHON=$NOLT_PYTHON is not CPython 3.13 with headers, venv and ensurepip" >>"$logfile"
      return 1
    fi
  elif ! find_python; then
    if ! apt_has python3.13-dev; then
      step="updating apt's package lists"
      apt_update
    fi
    if apt_has python3.13-dev; then
      ensure_debs python3.13-dev python3.13-venv
      step="checking Debian's python3.13"
      python="$(probe_python /usr/bin/python3.13)"
    else
      build_cpython
    fi
  fi
  local version
  version="$("$python" -c 'import platform; print(platform.python_version())')"
  say "Python $version: $python"
}

# Recreates .venv when it is missing, broken or made from another interpreter.
provide_venv() {
  step="creating $venv"
  local base="" home
  home="$("$python" -c 'import sys; print(sys.prefix)')"
  if [ -e "$venv" ]; then
    base="$("$venv/bin/python" -c 'import sys; print(sys.base_prefix)' 2>/dev/null || true)"
  fi
  if [ "$base" != "$home" ]; then
    say "creating .venv"
    rm -rf "$venv"
    quiet "$python" -m venv "$venv"
  fi
}

# Installs the pinned packages this purpose needs, once per version of the files.
install_requirements() {
  local stamp="$venv/.nolt-$purpose.sha256" want
  want="$(cat "${requirements[@]}" | sha256sum | cut -d' ' -f1)"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
    return 0
  fi
  local begun=$SECONDS last="${requirements[-1]}"
  step="installing the pinned packages of $last into .venv"
  say "installing the pinned packages of $last into .venv"
  quiet "$venv/bin/python" -m pip install --disable-pip-version-check --progress-bar off -r "$last"
  echo "$want" >"$stamp"
  if [ "$purpose" = test ]; then
    # requirements-dev.txt includes requirements-build.txt: the demo's set is there too.
    sha256sum <requirements-build.txt | cut -d' ' -f1 >"$venv/.nolt-demo.sha256"
  fi
  say "installed them in $(since "$begun")"
}

# System libraries: C++ compiler, Abseil's hash containers, xxHash, Highway's vectorised sort; for the tests
# GoogleTest and a headless browser with its driver for the HTML report tests.
step="checking Debian packages"
ensure_debs g++ libabsl-dev libxxhash-dev libhwy-dev
if [ "$purpose" = test ]; then
  ensure_debs libgtest-dev chromium chromium-driver
fi

provide_python
provide_venv
install_requirements

step="building and installing _nolt_core into .venv"
say "building and installing _nolt_core into .venv"
# The package was once distributed as nolt-core: drop that record only (its files are the
# package's own and are overwritten by the install below).
rm -rf "$venv"/lib/python3.13/site-packages/nolt_core-*.dist-info
quiet "$venv/bin/python" -m pip install --disable-pip-version-check --no-build-isolation --no-deps .
step="importing _nolt_core"
version="$("$venv/bin/python" -c 'import _nolt_core; print(_nolt_core.version())')"
say "_nolt_core $version ready in .venv; set-up took $(since "$started")"
