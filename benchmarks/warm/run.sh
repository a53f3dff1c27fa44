#!/usr/bin/env bash
# Warm-start and analysis benchmark: korvex against highspy (installed into an environment of its
# own under the build folder, never the project's) on the same HiGHS release, in the same run.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
PY="${PY:-python3}"
BUILD="${BUILD:-$here/../../build}"
peer="$BUILD/bench-warm-venv"
hv="$(sed -n 's/^highsbox==//p' "$here/../../requirements.txt")"
. "$here/../peer_env.sh"
peer_env "$peer" "$("$PY" -c 'import sys; print(sys._base_executable)')" "
import importlib.metadata as m, numpy
assert m.version('highspy') == '$hv'" \
  "highspy could not be installed: the benchmark is skipped" \
  "highspy==$hv" numpy
args=()
[ -x "$peer/bin/python" ] && args+=(--peer "$peer/bin/python")
[ -n "${KORVEX_DATA:-}" ] && args+=(--data "$KORVEX_DATA")
"$PY" "$here/bench_warm.py" "${args[@]}" "$@"
