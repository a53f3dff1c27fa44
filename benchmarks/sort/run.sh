#!/usr/bin/env bash
# Sort kernels against std::stable_sort (ratio std/ours); optional argument: kernel name filter.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${BUILD:-$here/../../build}"
"$build/benchmarks/sort/bench_sort" "$@"
