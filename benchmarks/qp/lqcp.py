"""The lqcp-N model (m = n = N) as SciPy arrays: minimise offset + c'x + 1/2 x'Qx (Q diagonal)
subject to Ax = 0 and lb <= x <= ub; the same columns and rows as lqcp.h."""
import numpy as np
import scipy.sparse as sp


def lqcp(N):
    m = n = N
    dx, T, a = 1.0 / n, 1.58, 0.001
    dt, h2 = T / m, dx * dx
    ny = (m + 1) * (n + 1)
    ncols = ny + m
    y = lambda i, j: i * (n + 1) + j
    u = lambda i: ny + i - 1
    cost, qdiag = np.zeros(ncols), np.zeros(ncols)
    lb, ub = np.zeros(ncols), np.ones(ncols)
    lb[ny:] = -1.0
    offset = 0.0
    for j in range(n + 1):
        w, t = 0.25 * dx * (1 if j in (0, n) else 2), 0.5 * (1 - (j * dx) ** 2)
        qdiag[y(m, j)] += 2 * w
        cost[y(m, j)] -= 2 * w * t
        offset += w * t * t
    for i in range(1, m + 1):
        qdiag[u(i)] += 2 * 0.25 * a * dt * (2 if i < m else 1)
    rows, cols, vals = [], [], []
    r = 0

    def put(c, v):
        rows.append(r), cols.append(c), vals.append(v)

    for i in range(m):
        for j in range(1, n):
            for c, v in ((y(i + 1, j), h2 + dt), (y(i, j), -h2 + dt), (y(i, j - 1), -0.5 * dt),
                         (y(i, j + 1), -0.5 * dt), (y(i + 1, j - 1), -0.5 * dt), (y(i + 1, j + 1), -0.5 * dt)):
                put(c, v)
            r += 1
    for j in range(n + 1):
        put(y(0, j), 1.0)
        r += 1
    for i in range(1, m + 1):
        for c, v in ((y(i, 2), 1.0), (y(i, 1), -4.0), (y(i, 0), 3.0)):
            put(c, v)
        r += 1
        for c, v in ((y(i, n - 2), 1.0), (y(i, n - 1), -4.0), (y(i, n), 3.0 + 2 * dx), (u(i), -2 * dx)):
            put(c, v)
        r += 1
    A = sp.csc_matrix((vals, (rows, cols)), shape=(r, ncols))
    return dict(A=A, cost=cost, qdiag=qdiag, lb=lb, ub=ub, offset=offset)
