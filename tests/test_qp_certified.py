"""Convex QPs through the interior-point path (more than 2,000 columns) are optimal only when
certified: their optimum agrees with one found by another method (an active-set iteration over
KKT systems, certified in NumPy by weak duality; qp_reference.py)."""
import os
import sys

import numpy as np
import pytest
import scipy.sparse as sp

import korvex
from korvex import SolStatus, SolveStatus
from qp_reference import dual_bound, reference_optimum

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "benchmarks", "qp"))
from lqcp import lqcp  # noqa: E402


def load(Q, c, A, rlo, rup, lb, ub, sense=1):
    """The QP (Q's upper triangle, rows as ranges) into a fresh problem."""
    inf = korvex.infinity
    A = sp.csc_matrix(A)
    m = A.shape[0]
    rtype = np.where(rlo == rup, "E", np.where(np.isinf(rlo), "L", np.where(np.isinf(rup), "G", "R")))
    rhs = np.where(np.isinf(rup), rlo, rup)
    rng = np.where(rtype == "R", rup - rlo, 0.0)
    T = sp.triu(sp.coo_matrix(Q))
    p = korvex.problem()
    p.setControl("outputlog", 0)
    p.loadQP("qp", "".join(rtype), rhs, rng, sense * c, A.indptr.astype(np.int64), None,
             A.indices.astype(np.int32), A.data, np.where(np.isinf(lb), -inf, lb), np.where(np.isinf(ub), inf, ub),
             T.row.astype(np.int32), T.col.astype(np.int32), sense * T.data)
    if sense < 0:
        p.chgObjSense(-1)
    assert m == p.attributes.rows
    return p


@pytest.mark.parametrize("N", [50, 100])
def test_lqcp_optimum_agrees_with_an_active_set_solution(N):
    q = lqcp(N)
    A, m = q["A"], q["A"].shape[0]
    p = load(sp.diags(q["qdiag"]), q["cost"], A, np.zeros(m), np.zeros(m), q["lb"], q["ub"])
    assert p.optimize() == (SolveStatus.COMPLETED, SolStatus.OPTIMAL)
    x = np.array(p.getSolution())
    f, _ = reference_optimum(sp.diags(q["qdiag"]), q["cost"], A, np.zeros(m), np.zeros(m), q["lb"], q["ub"],
                             q["offset"], x)
    assert abs(p.attributes.objval + q["offset"] - f) <= 5e-8
    assert p.attributes.bestbound + q["offset"] <= f + 1e-12


def random_qp(seed, n=2100):
    """A random convex QP with cross terms among boxed columns, separable and linear columns with
    one or no finite bound, equality, ranged and one-sided rows."""
    rng = np.random.default_rng(seed)
    m = n // 3
    A = sp.random(m, n, density=4.0 / n, random_state=rng, format="csr") + sp.eye(m, n, k=seed % 7)
    B = sp.random(n // 2, n, density=2.0 / n, random_state=rng)
    boxed = rng.random(n) < 0.6
    B = B @ sp.diags(boxed.astype(float))          # cross terms among boxed columns only
    Q = (B.T @ B + sp.diags(np.where(rng.random(n) < 0.5, rng.random(n), 0.0))).tocsr()
    c = rng.normal(size=n)
    lb = np.where(boxed | (rng.random(n) < 0.5), -rng.random(n), -np.inf)
    ub = np.where(boxed, rng.random(n) + 0.1, np.where(rng.random(n) < 0.3, 2.0, np.inf))
    # bounded below: free columns get a positive diagonal, linear ones with one infinite bound a
    # cost that grows toward it
    Q = (Q + sp.diags(np.where(np.isinf(lb) & np.isinf(ub), 1.0, 0.0))).tocsr()
    linear = Q.diagonal() == 0
    c = np.where(linear & np.isinf(ub), np.abs(c) + 0.1, np.where(linear & np.isinf(lb), -np.abs(c) - 0.1, c))
    x0 = np.clip(rng.normal(size=n) * 0.1, np.maximum(lb, -0.5), np.minimum(ub, 0.5))   # feasible
    ax = A @ x0
    kind = rng.integers(0, 4, size=m)
    rlo = np.where(kind == 0, ax, np.where(kind == 1, ax - rng.random(m), np.where(kind == 2, -np.inf, ax - 0.1)))
    rup = np.where(kind == 0, ax, np.where(kind == 1, ax + rng.random(m), np.where(kind == 2, ax + 0.1, np.inf)))
    return Q, c, A, rlo, rup, lb, ub


@pytest.mark.parametrize("seed, sense, scale", [(1, 1, 1.0), (2, -1, 1.0), (3, 1, 1e4)])
def test_random_convex_qps_agree_with_an_active_set_solution(seed, sense, scale):
    # scale 1e4: gradients the interior-point solver scales down (its multipliers then too)
    Q, c, A, rlo, rup, lb, ub = random_qp(seed)
    Q, c = Q * scale, c * scale
    p = load(Q, c, A, rlo, rup, lb, ub, sense)   # sense -1: maximise -f
    assert p.optimize() == (SolveStatus.COMPLETED, SolStatus.OPTIMAL)
    x = np.array(p.getSolution())
    f, _ = reference_optimum(Q, c, A, rlo, rup, lb, ub, 0.0, x, gaptol=1e-10)
    got = sense * p.attributes.objval
    assert abs(got - f) <= 1e-7 * max(1.0, abs(f))
    assert sense * p.attributes.bestbound <= f + 1e-9 * max(1.0, abs(f))


def test_dual_bound_is_a_lower_bound_for_any_multipliers():
    # the reference's own certificate: weak duality for random multipliers, tight at the optimum
    Q, c, A, rlo, rup, lb, ub = random_qp(4, n=300)
    p = load(Q, c, A, rlo, rup, lb, ub)
    p.optimize()
    f, x = reference_optimum(Q, c, A, rlo, rup, lb, ub, 0.0, np.array(p.getSolution()))
    rng = np.random.default_rng(0)
    for _ in range(20):
        y = rng.normal(size=A.shape[0]) * 10.0 ** rng.integers(-3, 2)
        assert dual_bound(Q, c, A, rlo, rup, lb, ub, 0.0, x + rng.normal(size=len(x)) * 0.01, y) <= f + 1e-9
