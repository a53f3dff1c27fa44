"""Model-building benchmark: lqcp-N and fac-N (linear rows only) built and handed to HiGHS through
korvex's array path (loadQP/loadMIP from NumPy arrays), its operator path (addVariables/addConstraint
with expressions, from generators and one row per call), and through the peers (PyOptInterface with
HiGHS, highspy's modelling layer, linopy), each in their own environment; every build in its own
process for its peak memory. The reference is the C++ floor program, which builds the same arrays
and hands them to HiGHS in one call, measured in the same run. The builds are checked equal (sizes
and optimum at the smallest sizes); only the build and hand-over are timed, never a solve. Last,
the fixed cost of a solve: korvex against highspy on small files.

    python bench_build.py FLOOR_PROGRAM [--peers PEER_PYTHON] [--data DIR] [--repeats K]
    python bench_build.py --worker PATH MODEL N [check]   (one build; prints key=value pairs)
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

def each_row(p):
    """addConstraint called once per row of a generator (the one-row-at-a-time form)."""
    def add(rows):
        for r in rows:
            p.addConstraint(r)
    return add


def lqcp_constants(N):
    m = n = N
    dx = 1.0 / n
    T = 1.58
    dt = T / m
    return m, n, dx, dt, dx * dx, 0.001, [0.5 * (1 - (j * dx) ** 2) for j in range(n + 1)]


def korvex_ops_lqcp(korvex, N, one_at_a_time=False):
    m, n, dx, dt, h2, a, yt = lqcp_constants(N)
    p = korvex.problem()
    add = each_row(p) if one_at_a_time else p.addConstraint
    y = p.addVariables(m + 1, n + 1, lb=0, ub=1).tolist()
    u = [None] + p.addVariables(m, lb=-1, ub=1).tolist()
    p.setObjective(
        korvex.Sum(0.25 * dx * (1 if j in (0, n) else 2) * (y[m][j] - yt[j]) ** 2 for j in range(n + 1))
        + korvex.Sum(0.25 * a * dt * (2 if i < m else 1) * u[i] ** 2 for i in range(1, m + 1)))
    add(h2 * (y[i + 1][j] - y[i][j]) == 0.5 * dt * (y[i][j - 1] - 2 * y[i][j] + y[i][j + 1]
                                                     + y[i + 1][j - 1] - 2 * y[i + 1][j] + y[i + 1][j + 1])
        for i in range(m) for j in range(1, n))
    add(y[0][j] == 0 for j in range(n + 1))
    add(y[i][2] - 4 * y[i][1] + 3 * y[i][0] == 0 for i in range(1, m + 1))
    add(y[i][n - 2] - 4 * y[i][n - 1] + 3 * y[i][n] == 2 * dx * (u[i] - y[i][n]) for i in range(1, m + 1))
    return p, 0.0


def lqcp_csc(np, N):
    """lqcp's matrix column by column, written in place through strided views of the output: the
    columns y[a, b] of one a-row (a = 0, 0 < a < m, a = m) and one b-group share their pattern of
    rows."""
    from numpy.lib.stride_tricks import as_strided
    m, n, dx, dt, h2, a, yt = lqcp_constants(N)
    if n < 6:
        raise ValueError("lqcp_csc needs N >= 6")
    ny = (m + 1) * (n + 1)
    npde = m * (n - 1)
    bnd = npde + n + 1                      # first boundary row (of a = 1)

    def slots(a, b):
        """(row of (A, B), coefficient) of column y[a, b] in increasing row order (a, b: the class's
        representative; rows as functions of broadcast index arrays)."""
        out = []
        if a >= 1:     # PDE rows of i = a - 1, as y[i + 1, j + 1], y[i + 1, j], y[i + 1, j - 1]
            for dj, c in ((-1, -0.5 * dt), (0, h2 + dt), (1, -0.5 * dt)):
                if 1 <= b + dj <= n - 1:
                    out.append((lambda A, B, dj=dj: (A - 1) * (n - 1) + (B + dj - 1), c))
        if a <= m - 1:  # PDE rows of i = a, as y[i, j + 1], y[i, j], y[i, j - 1]
            for dj, c in ((-1, -0.5 * dt), (0, -h2 + dt), (1, -0.5 * dt)):
                if 1 <= b + dj <= n - 1:
                    out.append((lambda A, B, dj=dj: A * (n - 1) + (B + dj - 1), c))
        if a == 0:
            out.append((lambda A, B: npde + B, 1.0))
        else:
            if b <= 2:
                out.append((lambda A, B: bnd + 2 * (A - 1), (3.0, -4.0, 1.0)[b]))
            if b >= n - 2:
                out.append((lambda A, B: bnd + 2 * (A - 1) + 1, (1.0, -4.0, 3 + 2 * dx)[b - n + 2]))
        return out

    arows = [(0, 1), (1, m), (m, m + 1)]
    bgroups = [(0, 1), (1, 2), (2, 3), (3, n - 2), (n - 2, n - 1), (n - 1, n), (n, n + 1)]
    pattern = {(ac, bg): slots(arows[ac][0], bgroups[bg][0]) for ac in range(3) for bg in range(7)}
    rowlen = [sum(len(pattern[ac, bg]) * (b1 - b0) for bg, (b0, b1) in enumerate(bgroups)) for ac in range(3)]
    astart = [0, rowlen[0], rowlen[0] + (m - 1) * rowlen[1]]
    nnz = astart[2] + rowlen[2] + m
    ncols = ny + m
    rowind = np.empty(nnz, np.int32)
    rowcoef = np.empty(nnz)
    counts = np.empty((m + 1, n + 1), np.int64)
    for ac, (a0, a1) in enumerate(arows):
        off = astart[ac]
        for bg, (b0, b1) in enumerate(bgroups):
            sl = pattern[ac, bg]
            k, na, nb = len(sl), a1 - a0, b1 - b0
            counts[a0:a1, b0:b1] = k
            ri = as_strided(rowind[off:], (na, nb, k), (4 * rowlen[ac], 4 * k, 4))
            rv = as_strided(rowcoef[off:], (na, nb, k), (8 * rowlen[ac], 8 * k, 8))
            A = np.arange(a0, a1, dtype=np.int32)[:, None]
            B = np.arange(b0, b1, dtype=np.int32)[None, :]
            for q, (row, c) in enumerate(sl):
                ri[:, :, q] = row(A, B)
                rv[:, :, q] = c
            off += k * nb
    k = astart[2] + rowlen[2]
    rowind[k:] = bnd + 2 * np.arange(m, dtype=np.int32) + 1        # u[i]: the second boundary row of i
    rowcoef[k:] = -2 * dx
    start = np.empty(ncols + 1, np.int64)
    start[0] = 0
    np.cumsum(counts.reshape(-1), out=start[1:ny + 1])
    start[ny + 1:] = start[ny] + np.arange(1, m + 1)
    return start, rowind, rowcoef, npde + n + 1 + 2 * m, ncols



def lqcp_objective(np, N):
    """Linear coefficients, Hessian diagonal (columns and values) and constant of lqcp's objective."""
    m, n, dx, dt, h2, a, yt = lqcp_constants(N)
    ny = (m + 1) * (n + 1)
    w = 0.25 * dx * np.where((np.arange(n + 1) == 0) | (np.arange(n + 1) == n), 1.0, 2.0)
    objcoef = np.zeros(ny + m)
    objcoef[m * (n + 1):ny] = -2 * w * np.array(yt)
    qcols = np.concatenate([np.arange(m * (n + 1), ny), np.arange(ny, ny + m)]).astype(np.int32)
    qcoef = np.concatenate([2 * w, 2 * 0.25 * a * dt * np.where(np.arange(1, m + 1) < m, 2.0, 1.0)])
    return objcoef, qcols, qcoef, float(np.sum(w * np.array(yt) ** 2))


def korvex_arrays_lqcp(korvex, N):
    import numpy as np
    m, n, dx, dt, h2, a, yt = lqcp_constants(N)
    start, rowind, rowcoef, nrows, ncols = lqcp_csc(np, N)
    objcoef, qcols, qcoef, const = lqcp_objective(np, N)
    ny = (m + 1) * (n + 1)
    lb = np.zeros(ncols)
    lb[ny:] = -1
    ub = np.ones(ncols)
    p = korvex.problem()
    p.loadQP("lqcp", "E" * nrows, np.zeros(nrows), None, objcoef, start, None, rowind, rowcoef, lb, ub,
             qcols, qcols, qcoef)
    return p, const   # the loaders take no objective constant: added to the checked value


# ---------------------------------------------------------------------------------------
# fac-N, G = F = N, linear rows only

def korvex_ops_fac(korvex, N, one_at_a_time=False):
    G = F = N
    M = 2 * math.sqrt(2)
    inf = korvex.infinity
    p = korvex.problem()
    add = each_row(p) if one_at_a_time else p.addConstraint
    y = p.addVariables(F, 2, lb=0, ub=1).tolist()
    s = p.addVariables(G + 1, G + 1, F, lb=0).tolist()
    z = p.addVariables(G + 1, G + 1, F, vartype=korvex.binary).tolist()
    r = p.addVariables(G + 1, G + 1, F, 2, lb=-inf).tolist()
    d = p.addVariable(lb=-inf)
    p.setObjective(d)
    add(korvex.Sum(z[i][j]) == 1 for i in range(G + 1) for j in range(G + 1))
    add(s[i][j][f] == d + M * (1 - z[i][j][f]) for i in range(G + 1) for j in range(G + 1) for f in range(F))
    add(r[i][j][f][k] + y[f][k] == (i if k == 0 else j) / G
        for i in range(G + 1) for j in range(G + 1) for f in range(F) for k in range(2))
    return p, 0.0


def fac_csc(np, N):
    """fac's matrix column by column, built directly: columns y[f, k] (2F), s[t], z[t], r[t, k]
    (t = (i (G + 1) + j) F + f), d; rows: (G + 1)^2 assignment rows, then per t the big-M row and
    the two position rows."""
    G = F = N
    M = 2 * math.sqrt(2)
    q = (G + 1) * (G + 1)
    P = q * F
    ncols = 2 * F + 4 * P + 1
    nnz = 2 * F * q + P + 2 * P + 2 * P + P
    start = np.empty(ncols + 1, np.int64)                 # y: q entries each, s: 1, z: 2, r: 1, d: P
    k = 2 * F * q
    start[:2 * F + 1] = np.arange(0, k + 1, q)
    start[2 * F + 1:2 * F + P + 1] = np.arange(k + 1, k + P + 1)
    start[2 * F + P + 1:2 * F + 2 * P + 1] = np.arange(k + P + 2, k + 3 * P + 1, 2)
    start[2 * F + 2 * P + 1:2 * F + 4 * P + 1] = np.arange(k + 3 * P + 1, k + 5 * P + 1)
    start[-1] = nnz
    rowind = np.empty(nnz, np.int32)
    rowcoef = np.ones(nnz)
    big = np.arange(q, q + 3 * P, 3, dtype=np.int32)    # big-M row of t
    # y[f, k]: position rows of every t with facility f, by t
    yk = rowind[:2 * F * q].reshape(F, 2, q)
    tt = (np.arange(q, dtype=np.int32)[None, :] * F + np.arange(F, dtype=np.int32)[:, None])   # (F, q)
    yk[:, 0, :] = q + 3 * tt + 1
    yk[:, 1, :] = q + 3 * tt + 2
    del tt
    k = 2 * F * q
    rowind[k:k + P] = big                                 # s[t]
    k += P
    zc = rowind[k:k + 2 * P].reshape(P, 2)                # z[t]: assignment row, then big-M row
    zc.reshape(q, F, 2)[:, :, 0] = np.arange(q, dtype=np.int32)[:, None]
    zc[:, 1] = big
    rowcoef[k + 1:k + 2 * P:2] = M
    k += 2 * P
    rc = rowind[k:k + 2 * P].reshape(P, 2)                # r[t, k]
    np.add(big, 1, out=rc[:, 0])
    np.add(big, 2, out=rc[:, 1])
    k += 2 * P
    rowind[k:] = big                                      # d
    rowcoef[k:] = -1
    nrows = q + 3 * P
    rhs = np.empty(nrows)
    rhs[:q] = 1
    per = rhs[q:].reshape(G + 1, G + 1, F, 3)             # per t = (i, j, f): big-M row, i / G, j / G
    per[..., 0] = M
    per[..., 1] = (np.arange(G + 1) / G)[:, None, None]
    per[..., 2] = (np.arange(G + 1) / G)[None, :, None]
    return start, rowind, rowcoef, rhs, nrows, ncols


def korvex_arrays_fac(korvex, N):
    import numpy as np
    G = F = N
    P = (G + 1) * (G + 1) * F
    start, rowind, rowcoef, rhs, nrows, ncols = fac_csc(np, N)
    inf = korvex.infinity
    lb = np.zeros(ncols)
    lb[2 * F + 2 * P:] = -inf
    ub = np.empty(ncols)                              # y, s, z, r, d
    ub[:2 * F] = 1
    ub[2 * F:2 * F + P] = inf
    ub[2 * F + P:2 * F + 2 * P] = 1
    ub[2 * F + 2 * P:] = inf
    objcoef = np.zeros(ncols)
    objcoef[-1] = 1
    z0 = 2 * F + P
    p = korvex.problem()
    p.loadMIP("fac", "E" * nrows, rhs, None, objcoef, start, None, rowind, rowcoef, lb, ub,
              "B" * P, np.arange(z0, z0 + P, dtype=np.int32))
    return p, 0.0


# ---------------------------------------------------------------------------------------
# the same models through the peers (each in the peers' own environment)

def poi_model():
    from pyoptinterface import highs
    import pyoptinterface as poi
    highs.autoload_library()
    model = highs.Model()
    model.set_model_attribute(poi.ModelAttribute.Silent, True)
    return model


def poi_lqcp(N):
    import pyoptinterface as poi
    m, n, dx, dt, h2, a, yt = lqcp_constants(N)
    model = poi_model()
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
    model = poi_model()
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


def highspy_lqcp(N):
    """highspy's modelling layer (linear expressions only: the Hessian is passed as an array)."""
    import highspy
    import numpy as np
    m, n, dx, dt, h2, a, yt = lqcp_constants(N)
    h = highspy.Highs()
    h.silent()
    y = [[h.addVariable(lb=0, ub=1) for j in range(n + 1)] for i in range(m + 1)]
    u = [None] + [h.addVariable(lb=-1, ub=1) for i in range(1, m + 1)]
    for i in range(m):
        for j in range(1, n):
            h.addConstr(h2 * (y[i + 1][j] - y[i][j]) - 0.5 * dt * (y[i][j - 1] - 2 * y[i][j] + y[i][j + 1]
                        + y[i + 1][j - 1] - 2 * y[i + 1][j] + y[i + 1][j + 1]) == 0)
    for j in range(n + 1):
        h.addConstr(y[0][j] == 0)
    for i in range(1, m + 1):
        h.addConstr(y[i][2] - 4 * y[i][1] + 3 * y[i][0] == 0)
        h.addConstr(y[i][n - 2] - 4 * y[i][n - 1] + 3 * y[i][n] - 2 * dx * (u[i] - y[i][n]) == 0)
    objcoef, qcols, qcoef, const = lqcp_objective(np, N)
    h.setObjective(h.qsum(c * v for c, v in zip(objcoef[m * (n + 1):(m + 1) * (n + 1)], y[m])) + const,
                   highspy.ObjSense.kMinimize)
    ncols = len(objcoef)
    qstart = np.searchsorted(qcols, np.arange(ncols)).astype(np.int32)
    h.passHessian(ncols, len(qcols), 1, qstart, qcols, qcoef)
    return h


def highspy_fac(N):
    import highspy
    G = F = N
    M = 2 * math.sqrt(2)
    h = highspy.Highs()
    h.silent()
    inf = highspy.kHighsInf
    y = [[h.addVariable(lb=0, ub=1) for k in range(2)] for f in range(F)]
    s = [[[h.addVariable(lb=0) for f in range(F)] for j in range(G + 1)] for i in range(G + 1)]
    z = [[[h.addVariable(lb=0, ub=1, type=highspy.HighsVarType.kInteger) for f in range(F)] for j in range(G + 1)]
         for i in range(G + 1)]
    r = [[[[h.addVariable(lb=-inf) for k in range(2)] for f in range(F)] for j in range(G + 1)] for i in range(G + 1)]
    d = h.addVariable(lb=-inf)
    h.setObjective(d + 0, highspy.ObjSense.kMinimize)
    for i in range(G + 1):
        for j in range(G + 1):
            h.addConstr(h.qsum(z[i][j]) == 1)
    for i in range(G + 1):
        for j in range(G + 1):
            for f in range(F):
                h.addConstr(s[i][j][f] - d + M * z[i][j][f] == M)
                for k in range(2):
                    h.addConstr(r[i][j][f][k] + y[f][k] == (i if k == 0 else j) / G)
    return h


def linopy_lqcp(N):
    import linopy
    import numpy as np
    import pandas as pd
    import xarray as xr
    m, n, dx, dt, h2, a, yt = lqcp_constants(N)
    md = linopy.Model()
    I, J = pd.RangeIndex(m + 1, name="i"), pd.RangeIndex(n + 1, name="j")
    y = md.add_variables(lower=0, upper=1, coords=[I, J], name="y")
    u = md.add_variables(lower=-1, upper=1, coords=[pd.RangeIndex(1, m + 1, name="i")], name="u")
    up = y.shift(i=-1)                                    # y[i + 1, j] at (i, j)
    pde = (h2 * (up - y) - 0.5 * dt * (y.shift(j=1) - 2 * y + y.shift(j=-1)
                                       + up.shift(j=1) - 2 * up + up.shift(j=-1)))
    ii, jj = xr.DataArray(np.arange(m + 1), coords=[I]), xr.DataArray(np.arange(n + 1), coords=[J])
    md.add_constraints(pde == 0, name="pde", mask=(ii < m) & (jj >= 1) & (jj <= n - 1))
    md.add_constraints(y.sel(i=0) == 0, name="init")
    inner = y.sel(i=slice(1, m))
    md.add_constraints(inner.sel(j=2) - 4 * inner.sel(j=1) + 3 * inner.sel(j=0) == 0, name="b0")
    md.add_constraints(inner.sel(j=n - 2) - 4 * inner.sel(j=n - 1) + 3 * inner.sel(j=n) - 2 * dx * (u - inner.sel(j=n))
                       == 0, name="b1")
    w = xr.DataArray(0.25 * dx * np.where((np.arange(n + 1) == 0) | (np.arange(n + 1) == n), 1.0, 2.0), coords=[J])
    ytv = xr.DataArray(np.array(yt), coords=[J])
    last = y.sel(i=m)
    cu = xr.DataArray(0.25 * a * dt * np.where(np.arange(1, m + 1) < m, 2.0, 1.0),
                      coords=[pd.RangeIndex(1, m + 1, name="i")])
    md.add_objective((w * last * last).sum() - (2 * w * ytv * last).sum() + (cu * u * u).sum())
    return md, float((w * ytv * ytv).sum())


def linopy_fac(N):
    import linopy
    import numpy as np
    import pandas as pd
    import xarray as xr
    G = F = N
    M = 2 * math.sqrt(2)
    md = linopy.Model()
    I, J = pd.RangeIndex(G + 1, name="i"), pd.RangeIndex(G + 1, name="j")
    Fi, K = pd.RangeIndex(F, name="f"), pd.RangeIndex(2, name="k")
    y = md.add_variables(lower=0, upper=1, coords=[Fi, K], name="y")
    s = md.add_variables(lower=0, coords=[I, J, Fi], name="s")
    z = md.add_variables(binary=True, coords=[I, J, Fi], name="z")
    r = md.add_variables(coords=[I, J, Fi, K], name="r")
    d = md.add_variables(name="d")
    md.add_objective(1 * d)
    md.add_constraints(z.sum("f") == 1, name="assign")
    md.add_constraints(s - d + M * z == M, name="bigm")
    pos = xr.concat([xr.DataArray(np.arange(G + 1) / G, coords=[I]).expand_dims(j=J),
                     xr.DataArray(np.arange(G + 1) / G, coords=[J]).expand_dims(i=I)], dim=K)
    md.add_constraints(r + y == pos, name="pos")
    return md, 0.0


# ---------------------------------------------------------------------------------------
# one build in its own process

def korvex_build(path, model, N):
    import korvex
    one = path == "korvex-rows"
    build = {"korvex-ops": {"lqcp": korvex_ops_lqcp, "fac": korvex_ops_fac},
             "korvex-rows": {"lqcp": korvex_ops_lqcp, "fac": korvex_ops_fac},
             "korvex-arrays": {"lqcp": korvex_arrays_lqcp, "fac": korvex_arrays_fac}}[path][model]
    p, const = build(korvex, N, True) if one else build(korvex, N)
    korvex._korvex._lowerForBenchmark(p)   # the hand-over to HiGHS, without a solve
    return p, const


def korvex_counts(p):
    return p.attributes.cols, p.attributes.rows


def korvex_solve(p):
    p.optimize()
    return p.attributes.objval


def peer_build(path, model, N):
    if path == "poi":
        return {"lqcp": poi_lqcp, "fac": poi_fac}[model](N), 0.0
    if path == "highspy":
        return {"lqcp": highspy_lqcp, "fac": highspy_fac}[model](N), 0.0
    md, const = {"lqcp": linopy_lqcp, "fac": linopy_fac}[model](N)
    return md.to_highspy(), const   # linopy hands its arrays to HiGHS here


def peer_counts(path, m):
    if path == "poi":
        import pyoptinterface as poi
        return m.number_of_variables(), m.number_of_constraints(poi.ConstraintType.Linear)
    return m.getNumCol(), m.getNumRow()


def peer_solve(path, m):
    if path == "poi":
        import pyoptinterface as poi
        m.optimize()
        return m.get_model_attribute(poi.ModelAttribute.ObjectiveValue)
    m.setOptionValue("output_flag", False)
    m.run()
    return m.getInfo().objective_function_value


def worker(path, model, N, check):
    if path.startswith("korvex"):
        import korvex
        korvex.controls.outputlog = 0
        import numpy  # noqa: F401  (imported before the baseline, as the array path needs it)
        import scipy.sparse  # noqa: F401
        build, counts, solve = korvex_build, korvex_counts, korvex_solve
    else:
        if path == "poi":
            import pyoptinterface.highs  # noqa: F401
        elif path == "highspy":
            import highspy  # noqa: F401
        else:
            import linopy  # noqa: F401
        build = peer_build
        counts = lambda m: peer_counts(path, m)  # noqa: E731
        solve = lambda m: peer_solve(path, m)  # noqa: E731
    base = resident_kb()
    t0 = time.perf_counter()
    m, const = build(path, model, N)
    t = time.perf_counter() - t0
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    cols, rows = counts(m)
    out = "time=%.4f peak_kb=%d base_kb=%d cols=%d rows=%d" % (t, peak, base, cols, rows)
    if check:
        out += " obj=%.9g" % (solve(m) + const)
    print(out)


def afiro_worker(path, data, repeats):
    """Best time of a solve of a small file (read first, not timed), cold and again unchanged."""
    files = ["netlib/afiro.mps.gz", "netlib/adlittle.mps.gz", "netlib/sc50a.mps.gz"]
    out = []
    for f in files:
        full = os.path.join(data, f)
        if not os.path.exists(full):
            continue
        cold = warm = 1e9
        for _ in range(repeats):
            if path == "korvex":
                import korvex
                m = korvex.problem()
                m.controls.outputlog = 0
                m.readProb(full)
                run = m.optimize
            else:
                import highspy
                m = highspy.Highs()
                m.silent()
                m.readModel(full)
                run = m.run
            t0 = time.perf_counter()
            run()
            t1 = time.perf_counter()
            run()
            t2 = time.perf_counter()
            cold, warm = min(cold, t1 - t0), min(warm, t2 - t1)
        out.append("%s=%.6f,%.6f" % (os.path.basename(f).split(".")[0], cold, warm))
    print(" ".join(out))


# ---------------------------------------------------------------------------------------
# the run

BUILD_CASES = [("lqcp", 1000), ("lqcp", 2000), ("fac", 50), ("fac", 100)]   # N and 2N of each model
TARGET_CASES = [("lqcp", 2000), ("fac", 100)]
PEER_CASES = [("lqcp", 1000), ("fac", 50)]         # the peers are slower: the smaller sizes
CHECK_CASES = [("lqcp", 6), ("fac", 3)]            # counts and optimum compared with the floor's
KORVEX_PATHS = ["korvex-arrays", "korvex-ops"]
PEERS = ["poi", "highspy", "linopy"]


def run(cmd, timeout=900):
    try:
        r = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout,
                           env=dict(os.environ, OPENBLAS_NUM_THREADS="1"))
    except subprocess.TimeoutExpired:
        return None, "timed out after %d s" % timeout
    if r.returncode != 0:
        return None, (r.stderr.strip().splitlines() or ["exit code %d" % r.returncode])[-1]
    lines = r.stdout.strip().splitlines()
    return dict(kv.split("=", 1) for kv in (lines[-1].split() if lines else [])), None


def merge_best(res, r):
    """The least time and the least peak memory of res and r (res may be None)."""
    if res is None:
        return dict(r)
    res["time"] = min(res["time"], r["time"], key=float)
    res["peak_kb"] = min(res["peak_kb"], r["peak_kb"], key=int)
    return res


def main(argv):
    if argv and argv[0] == "--worker":
        worker(argv[1], argv[2], int(argv[3]), len(argv) > 4)
        return 0
    if argv and argv[0] == "--afiro":
        afiro_worker(argv[1], argv[2], int(argv[3]))
        return 0
    import argparse
    ap = argparse.ArgumentParser()
    ap.add_argument("floor")
    ap.add_argument("--peers", help="python of the peers' own environment")
    ap.add_argument("--data", default=os.path.join(os.path.dirname(__file__), "..", "..", "..", "shared", "data"))
    ap.add_argument("--repeats", type=int, default=7)
    args = ap.parse_args(argv)
    me = os.path.abspath(__file__)
    peers = [q for q in PEERS if args.peers and run([args.peers, "-c", "import " + {
        "poi": "pyoptinterface.highs", "highspy": "highspy", "linopy": "linopy"}[q]])[1] is None] if args.peers else []
    if args.peers and len(peers) < len(PEERS):
        print("peers not importable, skipped: %s" % ", ".join(q for q in PEERS if q not in peers))

    def cmd(path, model, N, check=False):
        if path == "floor":
            return [args.floor, model, str(N)] + (["solve"] if check else [])
        py = sys.executable if path.startswith("korvex") else args.peers
        return [py, me, "--worker", path, model, str(N)] + (["check"] if check else [])

    # 1. the same models everywhere: counts and optimum at the smallest sizes
    print("== check: sizes and optimum of every build against the floor's")
    ok = True
    for model, N in CHECK_CASES:
        ref, err = run(cmd("floor", model, N, True))
        if not ref:
            print("%s-%d floor failed: %s" % (model, N, err))
            ok = False
            continue
        for path in KORVEX_PATHS + ["korvex-rows"] + peers:
            r, err = run(cmd(path, model, N, True))
            same = bool(r) and (r["cols"], r["rows"]) == (ref["cols"], ref["rows"]) and \
                abs(float(r["obj"]) - float(ref["obj"])) <= 1e-6 * max(1.0, abs(float(ref["obj"])))
            ok = ok and same
            got = err or "cols=%s rows=%s obj=%s" % (r["cols"], r["rows"], r["obj"])
            print("%-8s %-14s %s" % ("%s-%d" % (model, N), path, "same" if same else "DIFFERENT: %s (floor cols=%s "
                                     "rows=%s obj=%s)" % (got, ref["cols"], ref["rows"], ref["obj"])))

    # 2. build and hand-over, each in its own process; the paths of a model run in turns, round after
    # round, and each keeps its best (the machine's load drifts, so every path meets the same spells)
    print("\n== build and hand-over to HiGHS (best of %d rounds; peak = the process's peak resident memory)"
          % args.repeats)
    print("%-10s %-14s %8s %9s %7s %7s  %s" % ("model", "path", "time s", "peak MB", "t/floor", "m/floor", "sizes"))
    results = {}
    for model, N in BUILD_CASES:
        paths = ["floor"] + KORVEX_PATHS + (["korvex-rows"] if (model, N) in PEER_CASES else []) + \
            (peers if (model, N) in PEER_CASES else [])
        errors = {}
        for round_ in range(args.repeats):
            for path in paths:
                if path in errors or (round_ and path in peers):   # the peers' slow builds run once
                    continue
                r, err = run(cmd(path, model, N))
                if not r:
                    errors[path] = err
                    results.pop((model, N, path), None)
                    continue
                results[model, N, path] = merge_best(results.get((model, N, path)), r)
        name = "%s-%d" % (model, N)
        for path in paths:
            r = results.get((model, N, path))
            if not r:
                print("%-10s %-14s failed: %s" % (name, path, errors.get(path)))
                continue
            fl = results.get((model, N, "floor"))
            if not fl:
                continue
            print("%-10s %-14s %8.3f %9.1f %7.2f %7.2f  cols=%s rows=%s" % (
                name, path, float(r["time"]), int(r["peak_kb"]) / 1024, float(r["time"]) / float(fl["time"]),
                int(r["peak_kb"]) / int(fl["peak_kb"]), r["cols"], r["rows"]))

    def ratio(model, N, a, b, key="time"):
        x, y = results.get((model, N, a)), results.get((model, N, b))
        return float(x[key]) / float(y[key]) if x and y else float("nan")

    def verdict(v, limit):
        return "met" if v <= limit else "NOT met"

    print("\n== targets")
    for model, N in TARGET_CASES:
        t, m = ratio(model, N, "korvex-arrays", "floor"), ratio(model, N, "korvex-arrays", "floor", "peak_kb")
        print("%-10s arrays/floor: time %.2f, peak memory %.2f (<= 1.5: %s, %s)" % (
            "%s-%d" % (model, N), t, m, verdict(t, 1.5), verdict(m, 1.5)))
        t = ratio(model, N, "korvex-ops", "floor")
        print("%-10s operators/floor: time %.2f (<= 6: %s)" % ("%s-%d" % (model, N), t, verdict(t, 6)))
    for model, N in PEER_CASES:
        t = ratio(model, N, "korvex-rows", "korvex-ops")
        print("%-10s one row per addConstraint / generator form: time %.2f (<= 1.2: %s)" % (
            "%s-%d" % (model, N), t, verdict(t, 1.2)))
    for model in ("lqcp", "fac"):
        sizes = [n for m, n in BUILD_CASES if m == model]
        if len(sizes) != 2:
            continue
        n1, n2 = sizes
        for path in ["floor"] + KORVEX_PATHS:
            a, b = results.get((model, n1, path)), results.get((model, n2, path))
            if a and b:
                g = (float(b["time"]) / int(b["rows"])) / (float(a["time"]) / int(a["rows"]))
                print("%-10s %-14s time per row at %d / at %d: %.2f%s" % (
                    model, path, n2, n1, g, "" if path == "floor" else " (<= 1.05: %s)" % verdict(g, 1.05)))
    for model, N in PEER_CASES:
        for path in KORVEX_PATHS:
            cells = ["%s %.2f" % (q, ratio(model, N, path, q)) for q in peers if results.get((model, N, q))]
            if cells:
                print("%-10s %-14s time / peer's: %s" % ("%s-%d" % (model, N), path, ", ".join(cells)))

    # 3. fixed cost of a solve: the two layers in turns, the best of each (the machine's load drifts)
    print("\n== fixed cost of a solve (best of 3 x 30; korvex's readProb+optimize against highspy's readModel+run)")
    fastest = {}
    err = None if "highspy" in peers else "no highspy"
    for _ in range(3 if not err else 0):
        for layer, py in (("korvex", sys.executable), ("highspy", args.peers)):
            r, err = run([py, me, "--afiro", layer, args.data, "30"])
            if not r:
                break
            for f, v in r.items():
                cold, warm = map(float, v.split(","))
                b = fastest.setdefault((layer, f), [cold, warm])
                b[0], b[1] = min(b[0], cold), min(b[1], warm)
        if err:
            break
    if err or not fastest:
        print("skipped: %s" % (err or "no data files"))
    for f in sorted({f for _, f in fastest}):
        (kc, kw), (hc, hw) = fastest[("korvex", f)], fastest[("highspy", f)]
        extra = (kc - hc) * 1e3
        print("%-10s korvex %.3f ms, HiGHS %.3f ms: %+.3f ms (<= 0.15: %s); unchanged again: %.3f / %.3f ms" % (
            f, kc * 1e3, hc * 1e3, extra, verdict(extra, 0.15), kw * 1e3, hw * 1e3))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
