#!/usr/bin/env bash
# Solve benchmark: libkrvx's solve calls against HiGHS's C API on the same files, same run.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
data="${KORVEX_DATA:-$here/../../../shared/data}"
"${BUILD:-$here/../../build}/benchmarks/solve/bench_solve" "$data" "$@"
