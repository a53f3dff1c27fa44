"""Optimum of a convex QP by another method than the library's: the active set of a point found
(bounds and row sides within `tol` of the point) is taken as equalities, the KKT system of that
equality-constrained QP is solved with a sparse LU factorisation, and the result is certified in
NumPy: it must lie within the bounds and rows, and its multipliers must bound the optimum from
below (weak duality, the Lagrangian minimised over the column box) within `gaptol`.

The QP: minimise offset + c'x + 1/2 x'Qx over rlo <= Ax <= rup, lb <= x <= ub (Q symmetric PSD)."""
import numpy as np
import scipy.sparse as sp
import scipy.sparse.linalg as spla


def dual_bound(Q, c, A, rlo, rup, lb, ub, offset, x, y, dualtol=0.0):
    """A lower bound of the optimum from row multipliers y (grad f = A'y + reduced costs): columns
    without cross terms minimised exactly over their interval, the others by the tangent at x.
    Reduced costs toward an infinite bound up to dualtol are dropped (the bound is then that of
    the problem with the cost perturbed by them)."""
    Q = sp.csr_matrix(Q)
    diag = Q.diagonal()
    off = Q - sp.diags(diag)
    coupled = np.zeros(len(c), bool)
    coupled[off.nonzero()[0]] = True
    # y_r > 0 bounds y_r a_r'x from below by y_r rlo_r, y_r < 0 by y_r rup_r (an infinite side: 0)
    y = np.where((y > 0) & np.isinf(rlo), 0.0, np.where((y < 0) & np.isinf(rup), 0.0, y))
    total = offset + np.sum(np.where(y > 0, y * np.where(np.isfinite(rlo), rlo, 0), 0.0)) \
        + np.sum(np.where(y < 0, y * np.where(np.isfinite(rup), rup, 0), 0.0))
    h = c - A.T @ y

    def linmin(d):
        d = np.where(((d > 0) & np.isinf(lb) | (d < 0) & np.isinf(ub)) & (np.abs(d) <= dualtol), 0.0, d)
        with np.errstate(invalid="ignore"):
            lo = np.where(d > 0, d * lb, 0.0)
            hi = np.where(d < 0, d * ub, 0.0)
        return np.where(np.isnan(lo), -np.inf, lo) + np.where(np.isnan(hi), -np.inf, hi)

    qx = off @ x + diag * x
    dc = h + qx
    total += np.sum(np.where(coupled, -0.5 * x * qx + linmin(dc), 0.0))
    t = np.where(diag > 0, np.clip(-h / np.where(diag > 0, diag, 1), lb, ub), 0.0)
    sep = np.where(diag > 0, 0.5 * diag * t * t + h * t, linmin(h))
    total += np.sum(np.where(coupled, 0.0, sep))
    return total


def objective(Q, c, offset, x):
    return offset + c @ x + 0.5 * x @ (Q @ x)


def solve_kkt(K, r, nx, eps=1e-10, steps=30):
    """A solution of the KKT system K z = r (consistent, maybe singular: dependent rows) by
    iterative refinement over the regularised, quasi-definite [H + eps I, A'; A, -eps I]."""
    d = np.concatenate([np.full(nx, eps), np.full(K.shape[0] - nx, -eps)])
    lu = spla.splu((K + sp.diags(d)).tocsc())
    z = lu.solve(r)
    for _ in range(steps):
        res = r - K @ z
        if np.max(np.abs(res)) <= 1e-14 * max(1.0, np.max(np.abs(r))):
            break
        z += lu.solve(res)
    return z


def reference_optimum(Q, c, A, rlo, rup, lb, ub, offset, guess, gaptol=1e-11):
    """The optimum and its point: a primal-dual active-set iteration from the active set at
    `guess` (bounds and row sides within 1e-6 of it, else within 1e-8), each step an
    equality-constrained QP solved through its KKT system; AssertionError when neither ends with
    a certified optimum."""
    try:
        return active_set_optimum(Q, c, A, rlo, rup, lb, ub, offset, guess, 1e-6, gaptol)
    except AssertionError:
        return active_set_optimum(Q, c, A, rlo, rup, lb, ub, offset, guess, 1e-8, gaptol)


def active_set_optimum(Q, c, A, rlo, rup, lb, ub, offset, guess, tol, gaptol, rounds=60):
    n, m = len(c), A.shape[0]
    A, Q = sp.csr_matrix(A), sp.csr_matrix(Q)
    eq = np.isfinite(rlo) & (rlo == rup)
    # -1 at the lower bound / side, 1 at the upper one, 0 between
    col = np.where(np.isfinite(lb) & (guess <= lb + tol), -1, np.where(np.isfinite(ub) & (guess >= ub - tol), 1, 0))
    ax = A @ guess
    row = np.where(eq | (np.isfinite(rlo) & (ax <= rlo + tol)), -1, np.where(np.isfinite(rup) & (ax >= rup - tol), 1, 0))
    for _ in range(rounds):
        fixed = col != 0
        xfix = np.where(col < 0, lb, np.where(col > 0, ub, 0.0))
        rows = np.flatnonzero(row != 0)
        free = np.flatnonzero(~fixed)
        Ar = A[rows]
        Af = Ar[:, free]
        b = np.where(row[rows] < 0, rlo[rows], rup[rows]) - Ar[:, np.flatnonzero(fixed)] @ xfix[fixed]
        keep = np.diff(Af.indptr) > 0          # rows without free columns are left out (checked below)
        K = sp.bmat([[Q[free][:, free], Af[keep].T], [Af[keep], None]], format="csc")
        r = np.concatenate([-c[free] - Q[free][:, np.flatnonzero(fixed)] @ xfix[fixed], b[keep]])
        sol = solve_kkt(K, r, len(free))
        x = xfix.copy()
        x[free] = sol[:len(free)]
        y = np.zeros(m)
        y[rows[keep]] = -sol[len(free):]
        d = Q @ x + c - A.T @ y                  # reduced costs
        ax = A @ x
        changed = False
        # bounds and sides with a multiplier of the wrong sign are released, violated ones taken
        for k, wrong in ((col, ((col < 0) & (d < -1e-13)) | ((col > 0) & (d > 1e-13))),
                         (row, ~eq & (((row < 0) & (y < -1e-13)) | ((row > 0) & (y > 1e-13))))):
            k[wrong] = 0
            changed |= wrong.any()
        below, above = np.isfinite(lb) & (x < lb - 1e-12) & (col == 0), np.isfinite(ub) & (x > ub + 1e-12) & (col == 0)
        col[below], col[above] = -1, 1
        rbelow = np.isfinite(rlo) & (ax < rlo - 1e-12) & (row == 0)
        rabove = np.isfinite(rup) & (ax > rup + 1e-12) & (row == 0)
        row[rbelow], row[rabove] = -1, 1
        if not (changed or below.any() or above.any() or rbelow.any() or rabove.any()):
            break
    viol = max(np.max(lb - x, initial=0), np.max(x - ub, initial=0),
               np.max(np.where(np.isfinite(rlo), rlo - ax, 0), initial=0),
               np.max(np.where(np.isfinite(rup), ax - rup, 0), initial=0))
    assert viol <= 1e-9, f"the active set's point violates the bounds or rows by {viol}"
    f = objective(Q, c, offset, x)
    bound = dual_bound(Q, c, A, rlo, rup, lb, ub, offset, x, y, dualtol=1e-12 * max(1.0, np.max(np.abs(c))))
    assert f - bound <= gaptol * max(1.0, abs(f)), f"the active set's point is not optimal: gap {f - bound}"
    return f, x
