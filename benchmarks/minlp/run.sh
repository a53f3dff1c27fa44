#!/usr/bin/env bash
# MINLP benchmark: MINLPLib instances through korvex's default engine against PySCIPOpt (installed
# into an environment of its own, never the project's), interleaved in the same run.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
PY="${PY:-python3}"
BUILD="${BUILD:-$here/../../build}"
peer="$BUILD/bench-minlp-venv"
version=6.3.0
if [ ! -x "$peer/bin/python" ] || ! "$peer/bin/python" -c "
import importlib.metadata as m; assert m.version('pyscipopt') == '$version'" 2>/dev/null; then
  rm -rf "$peer"
  "$PY" -m venv "$peer" && "$peer/bin/python" -m pip install -q "pyscipopt==$version" >/dev/null 2>&1 ||
    echo "PySCIPOpt could not be installed: its column is skipped"
fi
args=()
[ -x "$peer/bin/python" ] && "$peer/bin/python" -c "import pyscipopt" 2>/dev/null && args+=(--peer "$peer/bin/python")
"$PY" "$here/bench_minlp.py" "${args[@]}" "$@"
