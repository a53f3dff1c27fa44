#!/usr/bin/env bash
# Global solves (flag x) against PySCIPOpt building and solving the same models with the same SCIP;
# PySCIPOpt runs in an environment of its own under the build folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${BUILD:-$here/../../build}"
peers="$build/bench-global-venv"
if [ ! -x "$peers/bin/python" ]; then
  "${PY:-python3}" -c 'import sys; assert sys.version_info[:2] == (3, 13)'
  . "$here/../peer_env.sh"
  peer_env "$peers" "$("${PY:-python3}" -c 'import sys; print(sys._base_executable)')" "" "" pyscipopt==6.3.0
fi
"${PY:-python3}" "$here/bench_global.py" --peer "$peers/bin/python" "$@"
