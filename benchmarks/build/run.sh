#!/usr/bin/env bash
# Model-building benchmark: lqcp and fac through korvex (operators and arrays) and, when it
# installs, the other modelling layer, against the C++ floor program in the same run.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
PY="${PY:-python3}"
"$PY" -m pip install -q pyoptinterface >/dev/null 2>&1 || true   # measured only when it installs
"$PY" "$here/bench_build.py" "${BUILD:-$here/../../build}/benchmarks/build/bench_build_floor" "$@"
