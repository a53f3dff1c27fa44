"""Reference optima for the tests of changed problems, computed apart from korvex (no tests here)."""
import itertools

import numpy as np
from scipy.optimize import linprog


def lp_min(c, a_ub=None, b_ub=None, a_eq=None, b_eq=None, bounds=None):
    """Minimum of c'x over the given rows and bounds, or None when infeasible."""
    res = linprog(c, A_ub=a_ub, b_ub=b_ub, A_eq=a_eq, b_eq=b_eq, bounds=bounds, method="highs")
    assert res.status in (0, 2), res.message
    return res.fun if res.status == 0 else None


def enumerate_min(cases):
    """The least of the optima of several LPs (keyword dicts of lp_min); None when all are infeasible."""
    values = [v for v in (lp_min(**case) for case in cases) if v is not None]
    return min(values) if values else None


def binaries(n):
    return itertools.product((0, 1), repeat=n)


def rows(*pairs):
    """(matrix, rhs) of rows given as (coefficients, rhs) pairs; empty lists give None, None."""
    if not pairs:
        return None, None
    return np.array([p[0] for p in pairs], dtype=float), np.array([p[1] for p in pairs], dtype=float)
