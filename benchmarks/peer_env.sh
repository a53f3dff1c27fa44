# Sourced by the benchmarks' run.sh: the peers they compare against live in virtual environments of
# their own under the build folder, never the project's. Sourcing sets PY and BUILD where unset, as
# ./dev.sh bench sets them, and highs_version, the HiGHS release the project is pinned to.
PY="${PY:-python3}"
BUILD="${BUILD:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}"
highs_version="$(sed -n 's/^highsbox==//p' "$(dirname "${BASH_SOURCE[0]}")/../requirements.txt")"

# peer_env DIR PYTHON CHECK NOTE REQUIREMENT...
# Leaves DIR alone when it holds a Python that runs the code CHECK; otherwise makes it afresh, a
# virtual environment of PYTHON with the pip REQUIREMENTS. When that fails it prints NOTE and returns
# 0 (the caller goes on without the peer); with an empty NOTE, pip's output is shown and the failure
# is returned.
peer_env() {
  local dir="$1" python="$2" check="$3" note="$4"
  shift 4
  if [ -x "$dir/bin/python" ] && "$dir/bin/python" -c "$check" 2>/dev/null; then
    return 0
  fi
  rm -rf "$dir"
  if [ -z "$note" ]; then
    "$python" -m venv "$dir" && "$dir/bin/python" -m pip install -q "$@"
  else
    "$python" -m venv "$dir" && "$dir/bin/python" -m pip install -q "$@" >/dev/null 2>&1 || echo "$note"
  fi
}
