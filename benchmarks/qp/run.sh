#!/usr/bin/env bash
# QP benchmark: lqcp-N through HiGHS's QP solver and through libkrvx, checked by duality; Hessian choice.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"${BUILD:-$here/../../build}/benchmarks/qp/bench_qp" "$@"
# Convex QP solve times against the peers (Clarabel, OSQP, HiGHS's QP solver through highspy),
# installed into an environment of their own, never the project's
peers="${BUILD:-$here/../../build}/bench-qp-peers-venv"
. "$here/../peer_env.sh"
peer_env "$peers" "${PY:-python3}" "import clarabel, osqp, scipy, highspy" \
  "the peers could not be installed: the QP comparison is skipped" \
  clarabel osqp numpy scipy "highspy==$highs_version"
[ -x "$peers/bin/python" ] && "${PY:-python3}" "$here/bench_qp_peers.py" --peers "$peers/bin/python"
