#!/usr/bin/env bash
# Runs every benchmark: benchmarks/<topic>/run.sh (given $PY, $BUILD and PYTHONPATH by ./dev.sh bench).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
for r in "$here"/*/run.sh; do
  [ -e "$r" ] || continue
  echo "== $(basename "$(dirname "$r")")"
  bash "$r" "$@"
done
