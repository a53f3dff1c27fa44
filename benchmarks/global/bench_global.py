"""Build and global solve of GLOBALLib and MINLPLib instances (models.py): korvex with flag x
against PySCIPOpt on the same SCIP, in interleaved rounds; each side runs in a worker process of
its own and times its build and solve. Printed: per instance the best time of each side over the
rounds and their ratio, then the geometric mean of the ratios.
"""
import argparse
import json
import math
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GAP, ABSGAP = 1e-4, 1e-6


def worker(side):
    sys.path.insert(0, HERE)
    import models
    if side == "korvex":
        import korvex as k

        def run(name):
            p, _ = models.build_korvex(name, k)
            p.controls.outputlog = 0
            p.controls.miprelstop, p.controls.mipabsstop = GAP, ABSGAP
            p.optimize("x")
            return p.attributes.objval
    else:
        import pyscipopt

        def run(name):
            m, _ = models.build_scip(name, pyscipopt)
            m.setParam("limits/gap", GAP)
            m.setParam("limits/absgap", ABSGAP)
            m.optimize()
            return m.getObjVal()
    for line in sys.stdin:
        name = line.strip()
        t = time.perf_counter()
        obj = run(name)
        print(json.dumps([time.perf_counter() - t, obj]), flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--peer", required=True, help="Python with pyscipopt")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--worker", choices=["korvex", "scip"])
    ap.add_argument("names", nargs="*")
    args = ap.parse_args()
    if args.worker:
        return worker(args.worker)
    sys.path.insert(0, HERE)
    import models
    names = args.names or sorted(models.INSTANCES)
    me = os.path.abspath(__file__)
    procs = {side: subprocess.Popen([exe, me, "--peer", args.peer, "--worker", side], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, text=True)
             for side, exe in (("korvex", sys.executable), ("scip", args.peer))}

    def ask(side, name):
        procs[side].stdin.write(name + "\n")
        procs[side].stdin.flush()
        return json.loads(procs[side].stdout.readline())

    best = {n: {"korvex": math.inf, "scip": math.inf} for n in names}
    for r in range(args.rounds):
        for i, n in enumerate(names):
            order = ("korvex", "scip") if (i + r) % 2 == 0 else ("scip", "korvex")
            for side in order:
                t, obj = ask(side, n)
                published = models.INSTANCES[n][0]
                if abs(obj - published) > 2e-4 * max(1.0, abs(published)):
                    print(f"warning: {side} {n} ended at {obj}, published {published}")
                best[n][side] = min(best[n][side], t)
    for p in procs.values():
        p.stdin.close()
        p.wait()
    print(f"{'instance':12s} {'korvex s':>10s} {'pyscipopt s':>12s} {'ratio':>7s}")
    logs = []
    for n in names:
        a, b = best[n]["korvex"], best[n]["scip"]
        logs.append(math.log(a / b))
        print(f"{n:12s} {a:10.4f} {b:12.4f} {a / b:7.3f}")
    print(f"geometric mean of the ratios over {len(names)} instances, best of {args.rounds} rounds: "
          f"{math.exp(sum(logs) / len(logs)):.3f}")


if __name__ == "__main__":
    main()
