#!/usr/bin/env bash
# Builds problems row by row and column by column and deletes half of them, at two sizes.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${BUILD:-$here/../../build}"
"$build/benchmarks/modify/bench_modify" "$@"
