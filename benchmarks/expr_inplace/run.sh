#!/usr/bin/env bash
# In-place growth of expressions and nonlinear nodes: cost per term at two sizes, against a
# Python dictionary doing the same updates.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"${PY:-python3}" "$here/bench_inplace.py" "$@"
