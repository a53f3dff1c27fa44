#!/usr/bin/env bash
# Project driver: ./dev.sh {setup|build|test|example|bench} [args]
#   setup    Debian packages, a Python 3.13 virtual environment and the PyPI packages
#   build    incremental CMake build, staged into $BUILD/stage (importable with PYTHONPATH)
#   test     build, then the C++ tests (ctest) and the Python tests (pytest) [pytest args]
#   example  builds the package in the test build folder, then runs examples/*.py against $BUILD/stage
#   bench    build, then runs benchmarks/run.sh [args]
# KORVEX_VENV and KORVEX_BUILD choose the environment and build folders, KORVEX_JOBS the parallel jobs.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
VENV="${KORVEX_VENV:-$ROOT/.venv}"
BUILD="${KORVEX_BUILD:-$ROOT/build}"
PY="$VENV/bin/python"

find_python313() {
  local c
  for c in "$(command -v python3.13 2>/dev/null || true)" /root/.pyenv/versions/3.13*/bin/python3.13 \
           /usr/local/bin/python3.13 /usr/bin/python3.13; do
    if [ -n "$c" ] && [ -x "$c" ] && "$c" -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null; then
      echo "$c"; return 0
    fi
  done
  return 1
}

setup_apt() {
  local missing=()
  while read -r pkg; do
    case "$pkg" in ''|'#'*) continue;; esac
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done < "$ROOT/apt-packages.txt"
  if [ ${#missing[@]} -gt 0 ]; then
    local sudo=""; [ "$(id -u)" = 0 ] || sudo="sudo"
    echo "installing Debian packages: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

setup_venv() {
  if [ ! -x "$PY" ]; then
    local py; py="$(find_python313)" || { echo "error: Python 3.13 not found" >&2; exit 1; }
    "$py" -m venv "$VENV"
  fi
  local stamp="$VENV/.korvex-requirements"
  if ! cmp -s "$ROOT/requirements.txt" "$stamp"; then
    "$PY" -m pip install -q --upgrade pip
    "$PY" -m pip install -q -r "$ROOT/requirements.txt"
    cp "$ROOT/requirements.txt" "$stamp"
  fi
}

setup() { setup_apt; setup_venv; }

# build [target]: every target, or only the one given (korvex_package: what the package holds)
build() {
  setup
  if [ ! -f "$BUILD/build.ninja" ]; then
    "$VENV/bin/cmake" -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" -DPython_EXECUTABLE="$PY" -DKORVEX_TESTS=ON >/dev/null
  fi
  "$VENV/bin/cmake" --build "$BUILD" -j"${KORVEX_JOBS:-$(nproc)}" ${1:+--target "$1"}
  "$VENV/bin/cmake" --install "$BUILD" --prefix "$BUILD/stage" >/dev/null
}

cmd="${1:-test}"; shift || true
case "$cmd" in
  setup) setup ;;
  build) build ;;
  test)
    build
    (cd "$BUILD" && "$VENV/bin/ctest" --output-on-failure -j"${KORVEX_JOBS:-$(nproc)}")
    cd "$ROOT" && PYTHONPATH="$BUILD/stage" "$PY" -m pytest -q tests "$@"
    ;;
  example)
    build korvex_package
    cd "$ROOT/examples"
    for f in *.py; do echo "== $f"; PYTHONPATH="$BUILD/stage" "$PY" "$f"; done
    ;;
  bench)
    build
    PYTHONPATH="$BUILD/stage" PY="$PY" BUILD="$BUILD" bash "$ROOT/benchmarks/run.sh" "$@"
    ;;
  *) echo "usage: $0 {setup|build|test|example|bench}" >&2; exit 2 ;;
esac
