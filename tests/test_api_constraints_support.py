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


# ---- small models given as data, solved by korvex and by enumeration ----

class Model:
    """min c'x over rows (coefficients, sense L/G/E, rhs) and column bounds (None: infinite)."""

    def __init__(self, c, bounds, rows):
        self.c, self.bounds, self.rows = list(c), list(bounds), list(rows)

    def load(self, p):
        n = len(self.c)
        start, rowind, rowcoef = [0], [], []
        for j in range(n):
            for i, (coefs, _, _) in enumerate(self.rows):
                if coefs[j]:
                    rowind.append(i)
                    rowcoef.append(coefs[j])
            start.append(len(rowind))
        inf = 1e20
        p.loadLP(rowtype=[r[1] for r in self.rows], rhs=[r[2] for r in self.rows], objcoef=self.c, start=start,
                 rowind=rowind, rowcoef=rowcoef, lb=[-inf if b[0] is None else b[0] for b in self.bounds],
                 ub=[inf if b[1] is None else b[1] for b in self.bounds])
        return p

    def lp(self, bounds, extra_rows):
        a_ub, b_ub, a_eq, b_eq = [], [], [], []
        for coefs, sense, rhs in self.rows + list(extra_rows):
            if sense == "L":
                a_ub.append(coefs), b_ub.append(rhs)
            elif sense == "G":
                a_ub.append([-v for v in coefs]), b_ub.append(-rhs)
            else:
                a_eq.append(coefs), b_eq.append(rhs)
        return dict(c=self.c, a_ub=a_ub or None, b_ub=b_ub or None, a_eq=a_eq or None, b_eq=b_eq or None,
                    bounds=bounds)

    def brute_min(self, domains=None, groups=()):
        """Least optimum over every choice of a domain per column and an alternative per group.

        domains: {column: [(lo, hi), ...]} pieces a column may lie in (integers as (v, v));
        groups: lists of alternatives, each (bound changes {column: (lo, hi)}, extra rows)."""
        domains = domains or {}
        cols = sorted(domains)
        cases = []
        for pieces in itertools.product(*(domains[j] for j in cols)):
            for alts in itertools.product(*groups) if groups else [()]:
                bounds = [list(b) for b in self.bounds]
                for j, (lo, hi) in zip(cols, pieces):
                    bounds[j] = [lo, hi]
                extra = []
                feasible = True
                for fix, rows_ in alts:
                    for j, (lo, hi) in fix.items():
                        blo = max(v for v in (bounds[j][0], lo) if v is not None) if lo is not None or \
                            bounds[j][0] is not None else None
                        bhi = min(v for v in (bounds[j][1], hi) if v is not None) if hi is not None or \
                            bounds[j][1] is not None else None
                        if blo is not None and bhi is not None and blo > bhi + 1e-9:
                            feasible = False
                        bounds[j] = [blo, bhi]
                    extra.extend(rows_)
                if feasible:
                    cases.append(self.lp([tuple(b) for b in bounds], extra))
        return enumerate_min(cases)


def unit(n, *pairs):
    """A coefficient vector of length n from (column, value) pairs."""
    v = [0.0] * n
    for j, a in pairs:
        v[j] += a
    return v


def solve(p):
    """Optimises and returns the objective value, which must be optimal."""
    from korvex import SolStatus, SolveStatus
    p.controls.outputlog = 0
    assert p.optimize() == (SolveStatus.COMPLETED, SolStatus.OPTIMAL)
    from conftest import assert_feasible
    assert_feasible(p)
    return p.attributes.objval


def named_lp():
    """The shared LP with rows cap, mix and columns x, y."""
    import korvex
    from test_api_support import LP
    p = korvex.problem()
    p.loadLP(**LP)
    p.addNames(1, ["cap", "mix"], 0, 1)
    p.addNames(2, ["x", "y"], 0, 1)
    return p
