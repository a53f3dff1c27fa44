"""Convex QP solve times: lqcp-N through korvex (interior point, certified) against Clarabel, OSQP
and HiGHS's QP solver (installed in an environment of their own), in interleaved rounds; each
solve in a fresh process, building excluded. Accuracy against an optimum certified by another
method (tests/qp_reference.py: active-set KKT solves with a dual-bound certificate).

Usage: bench_qp_peers.py --peers PYTHON [--sizes 50 100 200 500] [--rounds 3] [--highs-limit 60]
       [--slow-max 100] [--solvers korvex clarabel osqp highs]   (korvexK: korvex with threads K)"""
import argparse
import json
import os
import statistics
import subprocess
import sys

import numpy as np
import scipy.sparse as sp

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [here, os.path.join(here, "..", "..", "tests")]
from lqcp import lqcp  # noqa: E402
from qp_reference import reference_optimum  # noqa: E402
from qp_worker import korvex_problem  # noqa: E402


def run(python, solver, N, limit):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([here] + os.environ.get("PYTHONPATH", "").split(os.pathsep)))
    out = subprocess.run([python, os.path.join(here, "qp_worker.py"), solver, str(N), str(limit)], env=env,
                         capture_output=True, text=True, timeout=limit + 600)
    if out.returncode:
        return dict(time=float("nan"), obj=float("nan"), status="error: " + out.stderr.strip().splitlines()[-1][:40])
    return json.loads(out.stdout.strip().splitlines()[-1])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--peers", required=True)
    ap.add_argument("--sizes", type=int, nargs="+", default=[50, 100, 200],
                    help="lqcp sizes (500 takes Clarabel about 10 minutes a solve)")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--highs-limit", type=float, default=60.0)
    ap.add_argument("--solvers", nargs="+", default=["korvex", "clarabel", "osqp", "highs"])
    ap.add_argument("--slow-max", type=int, default=100, help="largest N for OSQP and HiGHS's QP solver")
    a = ap.parse_args()
    py = {"clarabel": a.peers, "osqp": a.peers, "highs": a.peers}
    names = {"korvex": "korvex", "korvex1": "korvex, threads 1", "korvex4": "korvex, threads 4",
             "clarabel": "Clarabel", "osqp": "OSQP (eps 1e-6)", "highs": "HiGHS QP"}
    print("| model | solver | time s (median, min-max) | ratio to Clarabel (median, min-max) | status | "
          "objective - optimum |")
    print("|---|---|---|---|---|---|")
    for N in a.sizes:
        runs = {s: [] for s in a.solvers}
        for _ in range(a.rounds):     # interleaved: one solve of each per round
            for s in a.solvers:
                if s in ("osqp", "highs") and N > a.slow_max:
                    continue
                if s == "highs" and runs[s] and runs[s][0]["time"] >= a.highs_limit:
                    continue          # it stalls: once is enough
                runs[s].append(run(py.get(s, sys.executable), s, N, a.highs_limit))
        q = lqcp(N)
        m = q["A"].shape[0]
        try:       # the active set to start from: korvex's point
            p = korvex_problem(q)
            p.optimize()
            opt, _ = reference_optimum(sp.diags(q["qdiag"]), q["cost"], q["A"], np.zeros(m), np.zeros(m), q["lb"],
                                       q["ub"], q["offset"], np.array(p.getSolution()))
        except (AssertionError, RuntimeError) as e:
            print(f"(lqcp-{N}: no reference optimum: {e})")
            opt = float("nan")
        clar = [r["time"] for r in runs.get("clarabel", [])]
        for s in a.solvers:
            t = [r["time"] for r in runs[s]]
            if not t:
                continue
            ratio = [x / y for x, y in zip(t, clar)] if clar and len(clar) == len(t) else []
            rs = (f"{statistics.median(ratio):.2f} ({min(ratio):.2f}-{max(ratio):.2f})" if ratio else "")
            last = runs[s][-1]
            print(f"| lqcp-{N} | {names[s]} | {statistics.median(t):.2f} ({min(t):.2f}-{max(t):.2f}) | {rs} | "
                  f"{last['status']} | {last['obj'] - opt:.1e} |", flush=True)


if __name__ == "__main__":
    main()
