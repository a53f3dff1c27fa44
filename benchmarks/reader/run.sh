#!/usr/bin/env bash
# Reads the largest Netlib files and a generated file, as MPS and as LP, with our readers and with HiGHS's.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${BUILD:-$here/../../build}"
"$build/benchmarks/reader/bench_reader" "$here/../../../shared/data" "$@"
