#!/usr/bin/env bash
# Warm-start and analysis benchmark: korvex against highspy (installed into an environment of its
# own under the build folder, never the project's) on the same HiGHS release, in the same run.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../peer_env.sh"
peer="$BUILD/bench-warm-venv"
peer_env "$peer" "$("$PY" -c 'import sys; print(sys._base_executable)')" "
import importlib.metadata as m, numpy
assert m.version('highspy') == '$highs_version'" \
  "highspy could not be installed: the benchmark is skipped" \
  "highspy==$highs_version" numpy
args=()
[ -x "$peer/bin/python" ] && args+=(--peer "$peer/bin/python")
[ -n "${KORVEX_DATA:-}" ] && args+=(--data "$KORVEX_DATA")
"$PY" "$here/bench_warm.py" "${args[@]}" "$@"
