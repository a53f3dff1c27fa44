"""Solving problems with sets, indicators, piecewise-linear and general constraints and with
semi-continuous, semi-integer and partial-integer columns, checked against enumeration."""
import random

import pytest

import korvex
from korvex import SolStatus
from test_api_constraints_support import Model, solve, unit

SEEDS = range(4)
TOL = dict(rel=1e-5, abs=1e-6)


def random_model(rng, n, m, ub=5, lo=0):
    """n columns in [lo, ub]; m rows sum a_j x_j <= b that x = 0 satisfies (when lo <= 0)."""
    c = [rng.randint(-6, 3) for _ in range(n)]
    rows = [([rng.randint(-1, 4) for _ in range(n)], "L", rng.randint(3, 10)) for _ in range(m)]
    return Model(c, [(lo, ub)] * n, rows)


def nonzero(values, tol=1e-6):
    return [i for i, v in enumerate(values) if abs(v) > tol]


@pytest.mark.parametrize("seed", SEEDS)
@pytest.mark.parametrize("coltype", ["S", "R", "P"])
def test_semi_continuous_semi_integer_partial_integer(seed, coltype):
    rng = random.Random(seed)
    m = random_model(rng, 3, 2, ub=7)
    # a demand row that makes the column's lower range matter: x0 + x1 >= 1.5
    m.rows.append((unit(3, (0, 1), (1, 1)), "G", 1.5))
    m.c[0] = rng.randint(-4, 1)
    limit = rng.randint(2, 4)
    ub = 7
    domains = {"S": [(0, 0), (limit, ub)],
               "R": [(0, 0)] + [(v, v) for v in range(limit, ub + 1)],
               "P": [(v, v) for v in range(limit)] + [(limit, ub)]}[coltype]
    ref = m.brute_min(domains={0: domains})
    p = m.load(korvex.problem())
    p.chgColType([0], coltype)
    p.chgGlbLimit([0], [limit])
    if ref is None:
        assert p.optimize()[1] == SolStatus.INFEASIBLE
        return
    assert solve(p) == pytest.approx(ref, **TOL)
    x0 = p.getSolution()[0]
    assert any(lo - 1e-5 <= x0 <= hi + 1e-5 for lo, hi in domains)


def unbounded_column_cases():
    inf = korvex.infinity

    def semicontinuous(p):
        p.loadLP(objcoef=[-1], lb=[0], ub=[inf])
        p.chgColType([0], "S")
        p.chgGlbLimit([0], [1])

    return [semicontinuous]


@pytest.mark.parametrize("make", unbounded_column_cases(), ids=lambda f: f.__name__)
def test_missing_finite_bound_is_refused(make):
    p = korvex.problem()
    make(p)
    with pytest.raises(korvex.SolverError, match="(?i)bound"):
        p.optimize()
