#!/usr/bin/env bash
# Model-building benchmark: lqcp and fac through korvex (arrays, operators) and the peers
# (PyOptInterface, highspy, linopy; installed into an environment of their own, never the
# project's), against the C++ floor program in the same run.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../peer_env.sh"
peers="$BUILD/bench-peers-venv"
# the peers run the HiGHS release the project is pinned to
peer_env "$peers" "$PY" "
import importlib.metadata as m, pyoptinterface, linopy
assert m.version('highspy') == m.version('highsbox') == '$highs_version'" \
  "the peers could not be installed: their columns are skipped" \
  pyoptinterface "highspy==$highs_version" linopy "highsbox==$highs_version"
# NumPy asks the kernel for huge pages for large arrays by default; where the kernel assembles
# them on first touch (as on the machine of the README's figures) that stalls for up to a second
# at random, which the floor's plain allocations never do: all Python workers run without it
export NUMPY_MADVISE_HUGEPAGE=0
args=()
[ -x "$peers/bin/python" ] && args+=(--peers "$peers/bin/python")
[ -n "${KORVEX_DATA:-}" ] && args+=(--data "$KORVEX_DATA")
"$PY" "$here/bench_build.py" "$BUILD/benchmarks/build/bench_build_floor" "${args[@]}" "$@"
