#!/usr/bin/env bash
# Idempotent set-up: provides CPython 3.13 with headers, the system libraries the
# build needs, a virtual environment in .venv with the pinned build and test
# dependencies, and builds and installs the extension module into it.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
venv="$repo/.venv"
cache="${NOLT_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/nolt}"
cpython_prefix="$cache/cpython-3.13"

log() { printf '[setup] %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

apt_updated=0
apt_install() {
  if [ "$apt_updated" -eq 0 ]; then
    as_root apt-get update -qq
    apt_updated=1
  fi
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null
}

# Installs the Debian packages that are not installed yet.
ensure_debs() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    log "installing Debian packages: ${missing[*]}"
    apt_install "${missing[@]}"
  fi
}

# A usable interpreter is CPython 3.13 that runs, has its headers and can make a venv.
usable_python() {
  local py="$1"
  [ -x "$py" ] || command -v "$py" >/dev/null 2>&1 || return 1
  "$py" - <<'PY' >/dev/null 2>&1
import os, sys, sysconfig
assert sys.implementation.name == "cpython" and sys.version_info[:2] == (3, 13)
assert os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h"))
import venv, ensurepip  # noqa: F401
PY
}

find_python() {
  local candidates=()
  [ -n "${NOLT_PYTHON:-}" ] && candidates+=("$NOLT_PYTHON")
  candidates+=(python3.13 /usr/bin/python3.13 /usr/local/bin/python3.13)
  for dir in "$HOME"/.pyenv/versions/3.13*/bin /opt/python/3.13*/bin; do
    [ -d "$dir" ] && candidates+=("$dir/python3.13")
  done
  candidates+=("$cpython_prefix/bin/python3.13")
  for py in "${candidates[@]}"; do
    if usable_python "$py"; then
      if [ -x "$py" ]; then echo "$py"; else command -v "$py"; fi
      return 0
    fi
  done
  return 1
}

# Builds CPython 3.13 from Debian's own source package into the cache folder.
build_cpython_from_debian_source() {
  log "building CPython 3.13 from Debian's source package into $cpython_prefix"
  ensure_debs dpkg-dev build-essential libssl-dev zlib1g-dev libffi-dev libbz2-dev \
    liblzma-dev libsqlite3-dev libreadline-dev libncurses-dev uuid-dev xz-utils
  local uri
  uri="$(grep -h -E '^URIs:' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1 | awk '{print $2}')"
  [ -n "$uri" ] || uri="$(grep -h -E '^deb +http' /etc/apt/sources.list 2>/dev/null | head -n 1 | awk '{print $2}')"
  [ -n "$uri" ] || uri="http://deb.debian.org/debian"
  local src_list=/etc/apt/sources.list.d/nolt-python-src.sources
  local work
  work="$(mktemp -d)"
  printf 'Types: deb-src\nURIs: %s\nSuites: trixie\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' "$uri" \
    | as_root tee "$src_list" >/dev/null
  as_root apt-get update -qq || true
  (cd "$work" && apt-get source --download-only python3.13) || { as_root rm -f "$src_list"; as_root apt-get update -qq; return 1; }
  as_root rm -f "$src_list"
  as_root apt-get update -qq
  local orig
  orig="$(ls "$work"/python3.13_*.orig.tar.xz | head -n 1)"
  tar -C "$work" -xf "$orig"
  local srcdir
  srcdir="$(find "$work" -maxdepth 1 -type d -name 'Python-3.13*' | head -n 1)"
  (cd "$srcdir" && ./configure --prefix="$cpython_prefix" --with-ensurepip=install >/dev/null \
    && make -j"${NOLT_BUILD_JOBS:-$(nproc)}" >/dev/null && make install >/dev/null)
  rm -rf "$work"
}

provide_python() {
  local py
  if [ "${NOLT_FORCE_SOURCE_BUILD:-0}" = 1 ]; then
    [ -x "$cpython_prefix/bin/python3.13" ] || build_cpython_from_debian_source
    echo "$cpython_prefix/bin/python3.13"
    return 0
  fi
  if py="$(find_python)"; then echo "$py"; return 0; fi
  if apt-cache policy python3.13-dev 2>/dev/null | grep -q 'Candidate: [0-9]'; then
    log "installing python3.13-dev and python3.13-venv"
    apt_install python3.13-dev python3.13-venv
  else
    [ "$apt_updated" -eq 1 ] || { as_root apt-get update -qq; apt_updated=1; }
    if apt-cache policy python3.13-dev 2>/dev/null | grep -q 'Candidate: [0-9]'; then
      apt_install python3.13-dev python3.13-venv
    else
      build_cpython_from_debian_source
    fi
  fi
  find_python
}

# System libraries: C++ compiler, GoogleTest, Abseil's hash containers, xxHash.
ensure_debs g++ libgtest-dev libabsl-dev libxxhash-dev
# A headless browser for the HTML report tests.
ensure_debs chromium chromium-driver

python="$(provide_python)" || { log "no CPython 3.13 with headers could be provided"; exit 1; }
log "using $python"

if [ -x "$venv/bin/python" ] && ! "$venv/bin/python" -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null; then
  rm -rf "$venv"
fi
if [ ! -x "$venv/bin/python" ]; then
  log "creating $venv"
  "$python" -m venv "$venv"
fi

stamp="$venv/.requirements.sha256"
want="$(sha256sum requirements-dev.txt | cut -d' ' -f1)"
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
  log "installing pinned build and test dependencies"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip
  "$venv/bin/python" -m pip install -q --disable-pip-version-check -r requirements-dev.txt
  echo "$want" > "$stamp"
fi

log "building and installing _nolt_core"
"$venv/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps . 
"$venv/bin/python" -c 'import _nolt_core; print("[setup] _nolt_core", _nolt_core.version(), "installed")' >&2
