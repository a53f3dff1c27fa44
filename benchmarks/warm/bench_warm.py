"""Warm starts and analysis calls: korvex against highspy on the same HiGHS release, same run.

Warm starts: a Netlib LP is read and solved, then changed (every cost by up to 5 %, or one row added
that cuts off the optimum) and solved again; the re-solve's simplex iterations and time are compared.
Both sides apply the same change, computed once from highspy's data. Analyses: the ranging of every
cost, bound and right-hand side (objSA + bndSA + rhsSA, each called once after a solve) against one
getRanging, and the first IIS (firstIIS(1)) against getIis with an irreducible IIS asked for.

Each side runs in a worker process of its own environment (highspy is never in the project's);
the workers take rounds in turn, each keeping the best of a few repetitions per round, and the ratio
korvex / highspy is reported as the median over the rounds with its range.

    python bench_warm.py --peer PEER_PYTHON [--data DIR] [--rounds R]
    python bench_warm.py --worker korvex|highspy --data DIR --spec FILE   (rounds on stdin)
    python bench_warm.py --make-spec FILE --data DIR                       (highspy side)
"""
import json
import os
import statistics
import subprocess
import sys
import time

WARM_MODELS = ["adlittle", "bandm", "capri", "degen2", "scsd1", "e226", "sctap1"]
CHANGES = ["costs", "cut"]
SA_MODELS = ["bandm", "capri", "degen2", "e226", "finnis", "scsd1"]
IIS_MODELS = ["woodinfe", "klein1", "forest6"]
IIS_STRATEGY = 1 + 4   # HiGHS: from the dual ray, then irreducible
REPEATS = 3


def netlib(data, name):
    return os.path.join(data, "netlib", name + ".mps.gz")


def infeasible(data, name):
    return os.path.join(data, "infeasible", name + ".mps")


# ---------------------------------------------------------------------------------------
# The changes, from highspy's model and optimum

def make_spec(data, path):
    import highspy
    import numpy as np
    spec = {}
    for name in WARM_MODELS:
        h = highspy.Highs()
        h.setOptionValue("output_flag", False)
        h.readModel(netlib(data, name))
        h.run()
        lp = h.getLp()
        cost = np.asarray(lp.col_cost_)
        rng = np.random.default_rng(sum(map(ord, name)))
        x = np.asarray(h.getSolution().col_value)
        cols = [int(j) for j in np.flatnonzero(x > 1e-6)[:4]]
        spec[name] = {
            "costs": list(cost * (1 + 0.05 * rng.uniform(-1, 1, len(cost)))),
            "cut": {"cols": cols, "rhs": 0.95 * float(x[cols].sum())},
        }
    with open(path, "w") as f:
        json.dump(spec, f)


# ---------------------------------------------------------------------------------------
# Workers: one round of every measurement, printed as one JSON line

def best_of(fn):
    """fn() -> (seconds, extra); the fastest of REPEATS runs."""
    return min((fn() for _ in range(REPEATS)), key=lambda r: r[0])


class Korvex:
    def __init__(self, data, spec):
        import korvex
        self.k, self.data, self.spec = korvex, data, spec

    def problem(self, path):
        p = self.k.problem()
        p.controls.outputlog = 0
        p.readProb(path)
        return p

    def warm(self, name, change):
        p = self.problem(netlib(self.data, name))
        p.lpOptimize()
        s = self.spec[name]
        if change == "costs":
            p.chgObjN(0, list(range(len(s["costs"]))), s["costs"])
        else:
            cut = s["cut"]
            p.addRows("L", [cut["rhs"]], None, [0], cut["cols"], [1.0] * len(cut["cols"]))
        t0 = time.perf_counter()
        p.lpOptimize()
        t = time.perf_counter() - t0
        optimal = p.attributes.solstatus == self.k.SolStatus.OPTIMAL
        return t, (p.attributes.simplexiter, p.attributes.objval if optimal else None)

    def ranging(self, name):
        p = self.problem(netlib(self.data, name))
        p.lpOptimize()
        n, m = p.attributes.cols, p.attributes.rows
        cols, rows = list(range(n)), list(range(m))

        def once():
            p.lpOptimize()   # unchanged: no iterations, a new basis record
            t0 = time.perf_counter()
            p.objSA(cols)
            p.bndSA(cols)
            p.rhsSA(rows)
            return time.perf_counter() - t0, None
        return best_of(once)

    def iis(self, name):
        def once():
            p = self.problem(infeasible(self.data, name))
            p.lpOptimize()
            t0 = time.perf_counter()
            status = p.firstIIS(1)
            t = time.perf_counter() - t0
            st = p.IISStatus()
            return t, (status, st[1][1], st[2][1])
        return best_of(once)


class Highspy:
    def __init__(self, data, spec):
        import highspy
        import numpy as np
        self.h, self.np, self.data, self.spec = highspy, np, data, spec

    def problem(self, path, **options):
        h = self.h.Highs()
        h.setOptionValue("output_flag", False)
        for k, v in options.items():
            h.setOptionValue(k, v)
        h.readModel(path)
        return h

    def warm(self, name, change):
        np = self.np
        h = self.problem(netlib(self.data, name))
        h.run()
        s = self.spec[name]
        if change == "costs":
            c = np.asarray(s["costs"])
            h.changeColsCost(len(c), np.arange(len(c), dtype=np.int32), c)
        else:
            cut = s["cut"]
            k = len(cut["cols"])
            h.addRow(-h.getInfinity(), cut["rhs"], k, np.asarray(cut["cols"], dtype=np.int32), np.ones(k))
        t0 = time.perf_counter()
        h.run()
        t = time.perf_counter() - t0
        optimal = h.getModelStatus() == self.h.HighsModelStatus.kOptimal
        return t, (h.getInfo().simplex_iteration_count, h.getInfo().objective_function_value if optimal else None)

    def ranging(self, name):
        h = self.problem(netlib(self.data, name))
        h.run()

        def once():
            h.run()
            t0 = time.perf_counter()
            h.getRanging()
            return time.perf_counter() - t0, None
        return best_of(once)

    def iis(self, name):
        def once():
            h = self.problem(infeasible(self.data, name), iis_strategy=IIS_STRATEGY)
            h.run()
            t0 = time.perf_counter()
            _, iis = h.getIis()
            t = time.perf_counter() - t0
            return t, (int(iis.valid_), len(iis.row_index_), len(iis.col_index_))
        return best_of(once)


def worker(side, data, spec_path):
    with open(spec_path) as f:
        spec = json.load(f)
    w = (Korvex if side == "korvex" else Highspy)(data, spec)
    for line in sys.stdin:
        if line.strip() != "round":
            break
        out = {}
        for name in WARM_MODELS:
            for change in CHANGES:
                out[f"warm {name} {change}"] = best_of(lambda: w.warm(name, change))
        for name in SA_MODELS:
            out[f"ranging {name}"] = w.ranging(name)
        for name in IIS_MODELS:
            out[f"iis {name}"] = w.iis(name)
        print(json.dumps(out), flush=True)


# ---------------------------------------------------------------------------------------
# Driver

def spread(values):
    return statistics.median(values), min(values), max(values)


def main(argv):
    here = os.path.abspath(__file__)
    peer, data, rounds = None, None, 7
    k = 0
    while k < len(argv):
        if argv[k] == "--peer":
            peer = argv[k + 1]
        elif argv[k] == "--data":
            data = argv[k + 1]
        elif argv[k] == "--rounds":
            rounds = int(argv[k + 1])
        else:
            sys.exit(f"unknown argument {argv[k]}")
        k += 2
    data = data or os.path.normpath(os.path.join(os.path.dirname(here), "..", "..", "..", "shared", "data"))
    if not os.path.isdir(os.path.join(data, "netlib")):
        print(f"the Netlib files are absent ({data}): benchmark skipped")
        return 0
    if not peer:
        print("highspy's environment is missing: benchmark skipped")
        return 0
    spec = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"bench_warm_spec_{os.getpid()}.json")
    subprocess.run([peer, here, "--make-spec", spec, "--data", data], check=True)
    procs = {side: subprocess.Popen([py, here, "--worker", side, "--data", data, "--spec", spec],
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
             for side, py in (("korvex", sys.executable), ("highspy", peer))}
    results = {"korvex": [], "highspy": []}
    t0 = time.time()
    try:
        for r in range(rounds):
            for side in ("korvex", "highspy") if r % 2 == 0 else ("highspy", "korvex"):
                proc = procs[side]
                proc.stdin.write("round\n")
                proc.stdin.flush()
                line = proc.stdout.readline()
                if not line:
                    sys.exit(f"the {side} worker ended early")
                results[side].append(json.loads(line))
    finally:
        for proc in procs.values():
            proc.stdin.close()
            proc.wait()
        os.remove(spec)
    kv, hs = results["korvex"], results["highspy"]
    print(f"{rounds} interleaved rounds, best of {REPEATS} per round, {time.time() - t0:.0f} s; "
          "ratio = korvex / highspy, median over rounds [min, max]")
    print("\nwarm re-solve after a change (iterations are the same in every round)")
    print(f"{'model':10} {'change':6} {'iters korvex':>12} {'highspy':>8} {'ratio':>6} "
          f"{'ms korvex':>10} {'highspy':>8} {'time ratio':>22}")
    for name in WARM_MODELS:
        for change in CHANGES:
            key = f"warm {name} {change}"
            ki, kobj = kv[0][key][1]
            hi, hobj = hs[0][key][1]
            if kobj is None or hobj is None or abs(kobj - hobj) > 1e-6 * (1 + abs(hobj)):
                print(f"  {name} {change}: optimum {kobj} differs from highspy's {hobj}")
            m, lo, hi_ = spread([a[key][0] / b[key][0] for a, b in zip(kv, hs)])
            print(f"{name:10} {change:6} {ki:12d} {hi:8d} {ki / max(hi, 1):6.2f} "
                  f"{1e3 * statistics.median(a[key][0] for a in kv):10.3f} "
                  f"{1e3 * statistics.median(b[key][0] for b in hs):8.3f} {m:8.2f} [{lo:.2f}, {hi_:.2f}]")
    print("\nanalyses: objSA + bndSA + rhsSA of every item against getRanging; firstIIS(1) against getIis")
    print(f"{'call':18} {'ms korvex':>10} {'highspy':>8} {'ratio':>22}  sizes korvex / highspy")
    for key in [f"ranging {n}" for n in SA_MODELS] + [f"iis {n}" for n in IIS_MODELS]:
        m, lo, hi_ = spread([a[key][0] / b[key][0] for a, b in zip(kv, hs)])
        sizes = ""
        if key.startswith("iis"):
            ks, hsz = kv[0][key][1], hs[0][key][1]
            sizes = f"  rows+bounds {ks[1]}+{ks[2]} / rows+cols {hsz[1]}+{hsz[2]}"
        print(f"{key:18} {1e3 * statistics.median(a[key][0] for a in kv):10.3f} "
              f"{1e3 * statistics.median(b[key][0] for b in hs):8.3f} {m:8.2f} [{lo:.2f}, {hi_:.2f}]{sizes}")
    return 0


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--worker":
        worker(sys.argv[2], sys.argv[4], sys.argv[6])
    elif len(sys.argv) > 1 and sys.argv[1] == "--make-spec":
        make_spec(sys.argv[4], sys.argv[2])
    else:
        sys.exit(main(sys.argv[1:]))
