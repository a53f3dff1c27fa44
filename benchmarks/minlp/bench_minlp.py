"""MINLP benchmark: small MINLPLib instances (models.py) solved by korvex's default engine and by
PySCIPOpt (in an environment of its own), the same model functions built through each one's
operators. Only the solve is timed. Rounds interleave the two, alternating which goes first; per
instance the ratio of the medians, the spread of the per-round ratios, and the optima checked equal
to each other and to the published one.

    python bench_minlp.py --peer PEER_PYTHON [--rounds R] [NAME ...]
    python bench_minlp.py --worker            (the peer's side: names in, "seconds objective" out)
"""
import math
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import models  # noqa: E402


class ScipBuilder:
    def __init__(self, pyscipopt):
        self.model = pyscipopt.Model()
        self.model.hideOutput()
        self.sqrt, self.exp, self.log = pyscipopt.sqrt, pyscipopt.exp, pyscipopt.log

    def var(self, lb, ub, kind="C"):
        return self.model.addVar(lb=None if lb == -models.INF else lb, ub=None if ub == models.INF else ub,
                                 vtype=kind)

    def rows(self, *constraints):
        for c in constraints:
            self.model.addCons(c)


def worker():
    import pyscipopt
    for line in sys.stdin:
        name = line.strip()
        b = ScipBuilder(pyscipopt)
        b.model.setObjective(getattr(models, name)(b), "minimize")
        t = time.perf_counter()
        b.model.optimize()
        dt = time.perf_counter() - t
        ok = b.model.getStatus() == "optimal"
        print(f"{dt!r} {b.model.getObjVal() if ok else math.nan!r}", flush=True)


def solve_korvex(name):
    import korvex
    p = models.korvex_problem(name)
    t = time.perf_counter()
    status = p.optimize()
    dt = time.perf_counter() - t
    ok = status == (korvex.SolveStatus.COMPLETED, korvex.SolStatus.OPTIMAL)
    return dt, p.attributes.objval if ok else math.nan


def main(argv):
    peer, rounds, names = None, 5, []
    it = iter(argv)
    for a in it:
        if a == "--peer":
            peer = next(it)
        elif a == "--rounds":
            rounds = int(next(it))
        else:
            names.append(a)
    names = names or models.BENCHMARK
    proc = subprocess.Popen([peer, os.path.abspath(__file__), "--worker"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True) if peer else None

    def solve_peer(name):
        proc.stdin.write(name + "\n")
        proc.stdin.flush()
        dt, obj = proc.stdout.readline().split()
        return float(dt), float(obj)

    # one solve each to load the engines
    solve_korvex(names[0])
    if proc:
        solve_peer(names[0])
    times = {n: ([], []) for n in names}
    objs = {n: [set(), set()] for n in names}
    for r in range(rounds):
        for n in names:
            order = [0, 1] if r % 2 == 0 else [1, 0]
            for side in order:
                if side == 1 and not proc:
                    continue
                dt, obj = solve_korvex(n) if side == 0 else solve_peer(n)
                times[n][side].append(dt)
                objs[n][side].add(round(obj, 4) if not math.isnan(obj) else math.nan)
    if proc:
        proc.stdin.close()
        proc.wait()

    print(f"{'instance':10s} {'korvex ms':>10s} {'SCIP ms':>9s} {'ratio':>6s} {'spread':>13s}  optimum (published)")
    ratios, bad = [], []
    for n in names:
        kt, st = times[n]
        km = statistics.median(kt)
        pub = models.OPTIMA[n]
        seen = objs[n][0] | objs[n][1]
        same = all(abs(o - pub) <= 1e-4 * (1 + abs(pub)) for o in seen)
        if not same:
            bad.append(n)
        line = f"{n:10s} {1000 * km:10.1f}"
        if st:
            sm = statistics.median(st)
            per = sorted(a / b for a, b in zip(kt, st))
            ratios.append(km / sm)
            line += f" {1000 * sm:9.1f} {km / sm:6.2f} {per[0]:6.2f}-{per[-1]:<6.2f}"
        line += f"  {sorted(objs[n][0])} {sorted(objs[n][1])} ({pub})" + ("" if same else "  MISMATCH")
        print(line)
    if ratios:
        gm = math.exp(sum(math.log(r) for r in ratios) / len(ratios))
        print(f"geometric mean of the ratios (korvex / SCIP), {len(ratios)} instances, {rounds} rounds: {gm:.2f}")
    if bad:
        print("optima differ from the published ones:", ", ".join(bad))
        return 1
    return 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["--worker"]:
        worker()
    else:
        sys.exit(main(sys.argv[1:]))
