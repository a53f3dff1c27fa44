"""Model-building benchmark: lqcp-N and fac-N (linear rows only) built through korvex's operator
path (addVariables/addConstraint with expressions) and its array path (loadQP/loadMIP from NumPy
arrays), and, where it is installed, through another Python modelling layer with a HiGHS back end;
each build in its own process for its peak memory. The reference is the C++ floor program, which
builds the same CSR arrays and hands them to HiGHS in one call, measured in the same run. Only
the build and hand-over are timed, never a solve.

    python bench_build.py FLOOR_PROGRAM [lqcp:500 lqcp:1000 fac:25 fac:50]
    python bench_build.py --worker PATH MODEL N      (one build; prints key=value pairs)
"""
import math
import os
import resource
import subprocess
import sys
import time

DEFAULT_CASES = ["lqcp:500", "lqcp:1000", "fac:25", "fac:50"]
PATHS = ["korvex-ops", "korvex-arrays", "poi"]


def resident_kb():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


# ---------------------------------------------------------------------------------------
# lqcp-N, m = n = N

def lqcp_constants(N):
    m = n = N
    dx = 1.0 / n
    T = 1.58
    dt = T / m
    return m, n, dx, dt, dx * dx, 0.001, [0.5 * (1 - (j * dx) ** 2) for j in range(n + 1)]


def korvex_ops_lqcp(korvex, N):
    m, n, dx, dt, h2, a, yt = lqcp_constants(N)
    p = korvex.problem()
    y = p.addVariables(m + 1, n + 1, lb=0, ub=1).tolist()
    u = [None] + p.addVariables(m, lb=-1, ub=1).tolist()
    p.setObjective(
        korvex.Sum(0.25 * dx * (1 if j in (0, n) else 2) * (y[m][j] - yt[j]) ** 2 for j in range(n + 1))
        + korvex.Sum(0.25 * a * dt * (2 if i < m else 1) * u[i] ** 2 for i in range(1, m + 1)))
    p.addConstraint(
        h2 * (y[i + 1][j] - y[i][j]) == 0.5 * dt * (y[i][j - 1] - 2 * y[i][j] + y[i][j + 1]
                                                     + y[i + 1][j - 1] - 2 * y[i + 1][j] + y[i + 1][j + 1])
        for i in range(m) for j in range(1, n))
    p.addConstraint(y[0][j] == 0 for j in range(n + 1))
    p.addConstraint(y[i][2] - 4 * y[i][1] + 3 * y[i][0] == 0 for i in range(1, m + 1))
    p.addConstraint(y[i][n - 2] - 4 * y[i][n - 1] + 3 * y[i][n] == 2 * dx * (u[i] - y[i][n])
                    for i in range(1, m + 1))
    return p


def lqcp_coo(np, N):
    """Rows, columns and values of lqcp's matrix (row by row), with its sizes; written into
    arrays allocated once."""
    m, n, dx, dt, h2, a, yt = lqcp_constants(N)
    ny = (m + 1) * (n + 1)
    npde = m * (n - 1)
    nrows = npde + n + 1 + 2 * m
    nnz = 6 * npde + n + 1 + 7 * m
    rows = np.empty(nnz, np.int32)
    cols = np.empty(nnz, np.int32)
    vals = np.empty(nnz)
    # PDE rows: y[i, j] at i (n + 1) + j for i < m, 0 < j < n, and its five neighbours
    base = (np.arange(m, dtype=np.int32)[:, None] * (n + 1) + np.arange(1, n, dtype=np.int32)).ravel()
    pc = cols[:6 * npde].reshape(npde, 6)
    for k, off in enumerate((-1, 0, 1, n, n + 1, n + 2)):
        np.add(base, off, out=pc[:, k])
    rows[:6 * npde].reshape(npde, 6)[:] = np.arange(npde, dtype=np.int32)[:, None]
    vals[:6 * npde].reshape(npde, 6)[:] = [-0.5 * dt, -h2 + dt, -0.5 * dt, -0.5 * dt, h2 + dt, -0.5 * dt]
    # initial rows y[0, j] = 0
    k = 6 * npde
    rows[k:k + n + 1] = np.arange(npde, npde + n + 1)
    cols[k:k + n + 1] = np.arange(n + 1)
    vals[k:k + n + 1] = 1
    # boundary rows, two per i = 1..m: 3 and 4 entries
    k += n + 1
    i1 = np.arange(1, m + 1, dtype=np.int32)
    r0 = npde + n + 1 + 2 * (i1 - 1)
    b = np.empty((m, 7), np.int32)
    b[:, 0], b[:, 1], b[:, 2] = i1 * (n + 1) + 2, i1 * (n + 1) + 1, i1 * (n + 1)
    b[:, 3], b[:, 4], b[:, 5], b[:, 6] = i1 * (n + 1) + n - 2, i1 * (n + 1) + n - 1, i1 * (n + 1) + n, ny + i1 - 1
    cols[k:] = b.ravel()
    rows[k:].reshape(m, 7)[:] = np.stack([r0, r0, r0, r0 + 1, r0 + 1, r0 + 1, r0 + 1], 1)
    vals[k:].reshape(m, 7)[:] = [1.0, -4.0, 3.0, 1.0, -4.0, 3 + 2 * dx, -2 * dx]
    return rows, cols, vals, nrows, ny + m


def csc(rows, cols, vals, nrows, ncols):
    """Column starts, row indices and values of the matrix given by triples."""
    import scipy.sparse
    a = scipy.sparse.csc_matrix((vals, (rows, cols)), shape=(nrows, ncols))
    return a.indptr, a.indices, a.data


def korvex_arrays_lqcp(korvex, N):
    import numpy as np
    m, n, dx, dt, h2, a, yt = lqcp_constants(N)
    rows, cols, vals, nrows, ncols = lqcp_coo(np, N)
    start, rowind, rowcoef = csc(rows, cols, vals, nrows, ncols)
    ny = (m + 1) * (n + 1)
    w = 0.25 * dx * np.where((np.arange(n + 1) == 0) | (np.arange(n + 1) == n), 1.0, 2.0)
    objcoef = np.zeros(ncols)
    objcoef[m * (n + 1):ny] = -2 * w * np.array(yt)
    qcols = np.concatenate([np.arange(m * (n + 1), ny), np.arange(ny, ncols)])
    qcoef = np.concatenate([2 * w, 2 * 0.25 * a * dt * np.where(np.arange(1, m + 1) < m, 2.0, 1.0)])
    lb = np.concatenate([np.zeros(ny), -np.ones(m)])
    ub = np.ones(ncols)
    p = korvex.problem()
    p.loadQP("lqcp", "E" * nrows, np.zeros(nrows), None, objcoef, start, None, rowind, rowcoef, lb, ub,
             qcols, qcols, qcoef)
    return p


# ---------------------------------------------------------------------------------------
# fac-N, G = F = N, linear rows only

def korvex_ops_fac(korvex, N):
    G = F = N
    M = 2 * math.sqrt(2)
    inf = korvex.infinity
    p = korvex.problem()
    y = p.addVariables(F, 2, lb=0, ub=1).tolist()
    s = p.addVariables(G + 1, G + 1, F, lb=0).tolist()
    z = p.addVariables(G + 1, G + 1, F, vartype=korvex.binary).tolist()
    r = p.addVariables(G + 1, G + 1, F, 2, lb=-inf).tolist()
    d = p.addVariable(lb=-inf)
    p.setObjective(d)
    p.addConstraint(korvex.Sum(z[i][j]) == 1 for i in range(G + 1) for j in range(G + 1))
    p.addConstraint(s[i][j][f] == d + M * (1 - z[i][j][f])
                    for i in range(G + 1) for j in range(G + 1) for f in range(F))
    p.addConstraint(r[i][j][f][k] + y[f][k] == (i if k == 0 else j) / G
                    for i in range(G + 1) for j in range(G + 1) for f in range(F) for k in range(2))
    return p


def korvex_arrays_fac(korvex, N):
    import numpy as np
    G = F = N
    M = 2 * math.sqrt(2)
    P = (G + 1) * (G + 1) * F
    s0, z0, r0 = 2 * F, 2 * F + P, 2 * F + 2 * P
    d = r0 + 2 * P
    ncols = d + 1
    q = (G + 1) * (G + 1)
    t = np.arange(P)
    f = t % F
    ij = t // F
    i, j = ij // (G + 1), ij % (G + 1)
    # rows: q assignment rows, then per triple: the big-M row and two position rows
    rows = np.concatenate([np.repeat(np.arange(q), F),
                           np.repeat(q + 3 * t, 3),
                           np.repeat(q + 3 * t + 1, 2), np.repeat(q + 3 * t + 2, 2)])
    cols = np.concatenate([z0 + t,
                           np.stack([s0 + t, np.full(P, d), z0 + t], 1).ravel(),
                           np.stack([r0 + 2 * t, 2 * f], 1).ravel(), np.stack([r0 + 2 * t + 1, 2 * f + 1], 1).ravel()])
    vals = np.concatenate([np.ones(P), np.tile([1.0, -1.0, M], P), np.ones(4 * P)])
    nrows = q + 3 * P
    start, rowind, rowcoef = csc(rows, cols, vals, nrows, ncols)
    rhs = np.empty(nrows)
    rhs[:q] = 1
    rhs[q::3] = M
    rhs[q + 1::3] = i / G
    rhs[q + 2::3] = j / G
    inf = korvex.infinity
    lb = np.concatenate([np.zeros(2 * F + 2 * P), np.full(2 * P + 1, -inf)])
    ub = np.concatenate([np.ones(2 * F), np.full(P, inf), np.ones(P), np.full(2 * P + 1, inf)])
    objcoef = np.zeros(ncols)
    objcoef[d] = 1
    p = korvex.problem()
    p.loadMIP("fac", "E" * nrows, rhs, None, objcoef, start, None, rowind, rowcoef, lb, ub,
              "B" * P, np.arange(z0, z0 + P))
    return p


# ---------------------------------------------------------------------------------------
# the same models through the other modelling layer

def poi_load_highs():
    import highsbox
    from pyoptinterface import highs
    highs.load_library(os.path.join(highsbox.highs_dist_dir(), "lib", "libhighs.so"))


def poi_model(N):
    from pyoptinterface import highs
    model = highs.Model()
    model.set_model_attribute(__import__("pyoptinterface").ModelAttribute.Silent, True)
    return model


def poi_lqcp(N):
    import pyoptinterface as poi
    m, n, dx, dt, h2, a, yt = lqcp_constants(N)
    model = poi_model(N)
    y = [[model.add_variable(lb=0, ub=1) for j in range(n + 1)] for i in range(m + 1)]
    u = [None] + [model.add_variable(lb=-1, ub=1) for i in range(1, m + 1)]
    obj = poi.ExprBuilder()
    for j in range(n + 1):
        w = 0.25 * dx * (1 if j in (0, n) else 2)
        obj += w * (y[m][j] * y[m][j]) - 2 * w * yt[j] * y[m][j] + w * yt[j] ** 2
    for i in range(1, m + 1):
        obj += 0.25 * a * dt * (2 if i < m else 1) * (u[i] * u[i])
    model.set_objective(obj, poi.ObjectiveSense.Minimize)
    for i in range(m):
        for j in range(1, n):
            model.add_linear_constraint(
                h2 * (y[i + 1][j] - y[i][j]) - 0.5 * dt * (y[i][j - 1] - 2 * y[i][j] + y[i][j + 1] + y[i + 1][j - 1]
                                                            - 2 * y[i + 1][j] + y[i + 1][j + 1]), poi.Eq, 0.0)
    for j in range(n + 1):
        model.add_linear_constraint(y[0][j], poi.Eq, 0.0)
    for i in range(1, m + 1):
        model.add_linear_constraint(y[i][2] - 4 * y[i][1] + 3 * y[i][0], poi.Eq, 0.0)
        model.add_linear_constraint(y[i][n - 2] - 4 * y[i][n - 1] + 3 * y[i][n] - 2 * dx * (u[i] - y[i][n]),
                                    poi.Eq, 0.0)
    return model


def poi_fac(N):
    import pyoptinterface as poi
    G = F = N
    M = 2 * math.sqrt(2)
    model = poi_model(N)
    y = [[model.add_variable(lb=0, ub=1) for k in range(2)] for f in range(F)]
    s = [[[model.add_variable(lb=0) for f in range(F)] for j in range(G + 1)] for i in range(G + 1)]
    z = [[[model.add_variable(domain=poi.VariableDomain.Binary) for f in range(F)] for j in range(G + 1)]
         for i in range(G + 1)]
    r = [[[[model.add_variable() for k in range(2)] for f in range(F)] for j in range(G + 1)] for i in range(G + 1)]
    d = model.add_variable()
    model.set_objective(d + 0, poi.ObjectiveSense.Minimize)
    for i in range(G + 1):
        for j in range(G + 1):
            model.add_linear_constraint(poi.quicksum(z[i][j]), poi.Eq, 1.0)
    for i in range(G + 1):
        for j in range(G + 1):
            for f in range(F):
                model.add_linear_constraint(s[i][j][f] - d + M * z[i][j][f], poi.Eq, M)
                for k in range(2):
                    model.add_linear_constraint(r[i][j][f][k] + y[f][k], poi.Eq, (i if k == 0 else j) / G)
    return model


# ---------------------------------------------------------------------------------------

def worker(path, model, N):
    if path.startswith("korvex"):
        import korvex
        korvex.controls.outputlog = 0
        import numpy  # noqa: F401  (imported before the baseline, as the array path needs it)
        build = {"korvex-ops": {"lqcp": korvex_ops_lqcp, "fac": korvex_ops_fac},
                 "korvex-arrays": {"lqcp": korvex_arrays_lqcp, "fac": korvex_arrays_fac}}[path][model]
        base = resident_kb()
        t0 = time.perf_counter()
        p = build(korvex, N)
        t = time.perf_counter() - t0
        sizes = "cols=%d rows=%d" % (p.attributes.cols, p.attributes.rows)
    else:
        import pyoptinterface
        poi_load_highs()
        base = resident_kb()
        t0 = time.perf_counter()
        m = {"lqcp": poi_lqcp, "fac": poi_fac}[model](N)
        t = time.perf_counter() - t0
        sizes = "cols=%d rows=%d" % (m.get_model_attribute(pyoptinterface.ModelAttribute.NumberOfVariables),
                                     m.get_model_attribute(pyoptinterface.ModelAttribute.NumberOfConstraints)) \
            if hasattr(pyoptinterface.ModelAttribute, "NumberOfVariables") else ""
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print("time=%.4f peak_kb=%d base_kb=%d %s" % (t, peak, base, sizes))


def run(cmd):
    r = subprocess.run(cmd, capture_output=True, text=True)
    if r.returncode != 0:
        return None, (r.stderr.strip().splitlines() or ["exit code %d" % r.returncode])[-1]
    line = r.stdout.strip().splitlines()[-1]
    return dict(kv.split("=", 1) for kv in line.split()), None


def poi_available():
    r = subprocess.run([sys.executable, "-c", "import pyoptinterface.highs"], capture_output=True, text=True)
    return r.returncode == 0


def main(argv):
    if len(argv) >= 1 and argv[0] == "--worker":
        worker(argv[1], argv[2], int(argv[3]))
        return 0
    floor = argv[0]
    cases = argv[1:] or DEFAULT_CASES
    have_poi = poi_available()
    if not have_poi:
        print("pyoptinterface with its HiGHS back end is not installed: its column is skipped")
    me = os.path.abspath(__file__)
    print("%-10s %-14s %9s %9s %9s %7s %7s %7s  %s" % ("model", "path", "time s", "peak MB", "+MB", "t/floor",
                                                      "m/floor", "+m/fl", "sizes"))
    worst = {}
    for case in cases:
        model, N = case.split(":")
        fl, err = run([floor, model, N])
        if not fl:
            print("%-10s floor failed: %s" % (case, err))
            continue
        results = {"floor": fl}
        for path in PATHS:
            if path == "poi" and not have_poi:
                continue
            res, err = run([sys.executable, me, "--worker", path, model, N])
            results[path] = res if res else {"error": err}
        ft, fp, fb = float(fl["time"]), int(fl["peak_kb"]), int(fl["base_kb"])
        for path, res in results.items():
            name = "%s-%s" % (model, N)
            if "error" in res:
                print("%-10s %-14s failed: %s" % (name, path, res["error"]))
                continue
            t, pk, b = float(res["time"]), int(res["peak_kb"]), int(res["base_kb"])
            sizes = "cols=%s rows=%s" % (res["cols"], res["rows"]) if "cols" in res else ""
            print("%-10s %-14s %9.3f %9.1f %9.1f %7.2f %7.2f %7.2f  %s" % (
                name, path, t, pk / 1024, (pk - b) / 1024, t / ft, pk / fp, (pk - b) / max(fp - fb, 1), sizes))
            worst.setdefault(path, []).append((t / ft, pk / fp))
        if "poi" in results and "error" not in results["poi"]:
            for path in ("korvex-ops", "korvex-arrays"):
                if "error" not in results[path]:
                    print("%-10s %-14s korvex/POI time %.2f (target <= 0.7)" % (
                        "%s-%s" % (model, N), path, float(results[path]["time"]) / float(results["poi"]["time"])))
    print("targets: korvex time <= 6x floor, peak memory <= 2x floor (+MB: growth over each process's start)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
