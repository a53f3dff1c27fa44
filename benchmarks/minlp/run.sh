#!/usr/bin/env bash
# MINLP benchmark: MINLPLib instances through korvex's default engine against PySCIPOpt (installed
# into an environment of its own, never the project's), interleaved in the same run.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../peer_env.sh"
peer="$BUILD/bench-minlp-venv"
version=6.3.0
peer_env "$peer" "$PY" "import importlib.metadata as m; assert m.version('pyscipopt') == '$version'" \
  "PySCIPOpt could not be installed: its column is skipped" "pyscipopt==$version"
args=()
[ -x "$peer/bin/python" ] && "$peer/bin/python" -c "import pyscipopt" 2>/dev/null && args+=(--peer "$peer/bin/python")
"$PY" "$here/bench_minlp.py" "${args[@]}" "$@"
