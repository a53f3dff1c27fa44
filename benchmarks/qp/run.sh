#!/usr/bin/env bash
# QP benchmark: lqcp-N through HiGHS's QP solver and through libkrvx, checked by duality; Hessian choice.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"${BUILD:-$here/../../build}/benchmarks/qp/bench_qp" "$@"
