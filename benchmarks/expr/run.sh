#!/usr/bin/env bash
# Expression-building benchmarks: ratios against building the same CSR arrays with NumPy.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"${PY:-python3}" "$here/bench_expr.py" "$@"
