"""Solving problems with sets, indicators, piecewise-linear and general constraints and with
semi-continuous, semi-integer and partial-integer columns, checked against enumeration."""
import random

import pytest

import korvex
from korvex import GenConsType, SolStatus
from conftest import assert_feasible
from test_api_constraints_support import Model, binaries, enumerate_min, solve, unit

SEEDS = range(4)
TOL = dict(rel=1e-5, abs=1e-6)


def random_model(rng, n, m, ub=5, lo=0):
    """n columns in [lo, ub]; m rows sum a_j x_j <= b that x = 0 satisfies (when lo <= 0)."""
    c = [rng.randint(-6, 3) for _ in range(n)]
    rows = [([rng.randint(-1, 4) for _ in range(n)], "L", rng.randint(3, 10)) for _ in range(m)]
    return Model(c, [(lo, ub)] * n, rows)


@pytest.mark.parametrize("seed", SEEDS)
def test_sos1_and_sos2(seed):
    rng = random.Random(seed)
    m = random_model(rng, 5, 2)
    members = [0, 1, 2, 3]
    for settype, groups in (
            ("1", [[({k: (0, 0) for k in members if k != i}, []) for i in members]]),
            ("2", [[({k: (0, 0) for k in members if k not in (i, i + 1)}, []) for i in range(3)]])):
        p = m.load(korvex.problem())
        p.addSets(settype, [0], members, [1, 2, 3, 4])
        assert solve(p) == pytest.approx(m.brute_min(groups=groups), **TOL)
        assert_feasible(p, sets=[(settype, members)])


@pytest.mark.parametrize("seed", SEEDS)
@pytest.mark.parametrize("complement", [1, -1])
def test_indicator_rows(seed, complement):
    rng = random.Random(seed)
    m = random_model(rng, 3, 1)
    m.bounds.append((0, 1))                        # b, binary, rewarded
    m.c.append(-rng.randint(1, 6))
    m.rows = [(r[0] + [0], r[1], r[2]) for r in m.rows]
    ind = (unit(4, (0, 1), (1, 1)), "L", rng.randint(0, 2))
    on, off = (1, 0) if complement == 1 else (0, 1)
    ref = m.brute_min(groups=[[({3: (on, on)}, [ind]), ({3: (off, off)}, [])]])
    full = Model(m.c, m.bounds, m.rows + [ind])
    p = full.load(korvex.problem())
    p.chgColType([3], "B")
    p.setIndicators([1], [3], [complement])
    assert solve(p) == pytest.approx(ref, **TOL)
    x = p.getSolution()
    if round(x[3]) == on:
        assert x[0] + x[1] <= ind[2] + 1e-6


@pytest.mark.parametrize("seed", SEEDS)
def test_piecewise_linear(seed):
    rng = random.Random(seed)
    xs = [0, 2, 3, 6]
    ys = [rng.randint(-5, 5) for _ in xs]              # not convex in general
    m = random_model(rng, 3, 1)
    m.bounds = [(0, 6), (-10, 10), (0, 5)]
    m.c[1] = rng.choice([-2, -1, 1, 2])
    segments = []
    for k in range(len(xs) - 1):
        slope = (ys[k + 1] - ys[k]) / (xs[k + 1] - xs[k])
        segments.append(({0: (xs[k], xs[k + 1])}, [(unit(3, (1, 1), (0, -slope)), "E", ys[k] - slope * xs[k])]))
    p = m.load(korvex.problem())
    p.addPwlCons([0], [1], [0], xs, ys)
    assert solve(p) == pytest.approx(m.brute_min(groups=[segments]), **TOL)


@pytest.mark.parametrize("seed", SEEDS)
@pytest.mark.parametrize("kind", [GenConsType.MAX, GenConsType.MIN])
def test_max_and_min(seed, kind):
    rng = random.Random(seed)
    m = random_model(rng, 3, 1, lo=-4, ub=4)
    m.rows = [(r[0][:2] + [0], r[1], r[2] + 8) for r in m.rows]    # rows of x0, x1; x = -4 stays feasible
    m.bounds[2] = (-20, 20)                                            # y = f(x0, x1, value)
    m.c[2] = rng.choice([-3, -1, 1, 3])
    value = rng.randint(-3, 3)
    sign = 1 if kind == GenConsType.MAX else -1
    args = [unit(3, (0, 1)), unit(3, (1, 1)), None]
    alts = []
    for i, a in enumerate(args):
        rows_ = [(unit(3, (2, 1), (i, -1)) if a else unit(3, (2, 1)), "E", 0 if a else value)]
        for j, b in enumerate(args):
            if j != i:   # y >= b (max) or y <= b (min)
                rows_.append((unit(3, (2, 1), (j, -1)) if b else unit(3, (2, 1)), "G" if sign > 0 else "L",
                              0 if b else value))
        alts.append(({}, rows_))
    p = m.load(korvex.problem())
    p.addGenCons([kind], [2], [0], [0, 1], [0], [value])
    assert solve(p) == pytest.approx(m.brute_min(groups=[alts]), **TOL)
    x = p.getSolution()
    f = max if sign > 0 else min
    assert x[2] == pytest.approx(f(x[0], x[1], value), abs=1e-5)


@pytest.mark.parametrize("seed", SEEDS)
def test_absolute_value(seed):
    rng = random.Random(seed)
    m = random_model(rng, 2, 1, lo=-4, ub=4)
    m.rows = [(r[0] + [0], r[1], r[2] + 8) for r in m.rows]
    m.c.append(rng.choice([-2, 1, 3]))
    m.bounds.append((0, 10))
    alts = [({0: (0, None)}, [(unit(3, (2, 1), (0, -1)), "E", 0)]),
            ({0: (None, 0)}, [(unit(3, (2, 1), (0, 1)), "E", 0)])]
    p = m.load(korvex.problem())
    p.addGenCons([GenConsType.ABS], [2], [0], [0], [0], [])
    assert solve(p) == pytest.approx(m.brute_min(groups=[alts]), **TOL)
    x = p.getSolution()
    assert x[2] == pytest.approx(abs(x[0]), abs=1e-5)


@pytest.mark.parametrize("seed", SEEDS)
@pytest.mark.parametrize("kind", [GenConsType.AND, GenConsType.OR])
def test_and_and_or(seed, kind):
    rng = random.Random(seed)
    # binaries b0, b1, b2, resultant r, continuous z <= 3 + 2r
    c = [rng.randint(-3, 3) for _ in range(4)] + [-1]
    m = Model(c, [(0, 1)] * 4 + [(0, 6)], [(unit(5, (4, 1), (3, -2)), "L", 3)])
    cases = []
    for bs in binaries(3):
        r = int(all(bs)) if kind == GenConsType.AND else int(any(bs))
        cases.append(m.lp([(v, v) for v in bs] + [(r, r), (0, 6)], []))
    p = m.load(korvex.problem())
    p.chgColType([0, 1, 2, 3], "BBBB")
    p.addGenCons([kind], [3], [0], [0, 1, 2], [0], [])
    assert solve(p) == pytest.approx(enumerate_min(cases), **TOL)


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


@pytest.mark.parametrize("seed", SEEDS)
def test_combination(seed):
    rng = random.Random(seed)
    # x0..x3 in [0, 4]; x0 integer, x1 semi-continuous (limit 2), SOS1 over x2, x3;
    # b = x4 binary with an indicator b = 1 -> x0 + x1 <= 3; y = x5 = max(x0, x2)
    c = [rng.randint(-5, 2) for _ in range(4)] + [-rng.randint(1, 5), rng.choice([-1, 1])]
    m = Model(c, [(0, 4)] * 4 + [(0, 1), (0, 10)], [(unit(6, *[(j, rng.randint(0, 3)) for j in range(4)]), "L", 9)])
    ind = (unit(6, (0, 1), (1, 1)), "L", 3)
    groups = [[({3: (0, 0)}, []), ({2: (0, 0)}, [])],                               # SOS1
              [({4: (1, 1)}, [ind]), ({4: (0, 0)}, [])],                            # indicator
              [({}, [(unit(6, (5, 1), (0, -1)), "E", 0), (unit(6, (5, 1), (2, -1)), "G", 0)]),
               ({}, [(unit(6, (5, 1), (2, -1)), "E", 0), (unit(6, (5, 1), (0, -1)), "G", 0)])]]
    domains = {0: [(v, v) for v in range(5)], 1: [(0, 0), (2, 4)]}
    ref = m.brute_min(domains=domains, groups=groups)
    p = Model(m.c, m.bounds, m.rows + [ind]).load(korvex.problem())
    p.chgColType([0, 1, 4], "ISB")
    p.chgGlbLimit([1], [2])
    p.addSets("1", [0], [2, 3], [1, 2])
    p.setIndicators([1], [4], [1])
    p.addGenCons([GenConsType.MAX], [5], [0], [0, 2], [0], [])
    assert solve(p) == pytest.approx(ref, **TOL)
    assert_feasible(p, sets=[(1, [2, 3])])


def unbounded_column_cases():
    inf = korvex.infinity

    def semicontinuous(p):
        p.loadLP(objcoef=[-1], lb=[0], ub=[inf])
        p.chgColType([0], "S")
        p.chgGlbLimit([0], [1])

    def indicator(p):
        p.loadLP(rowtype="L", rhs=[1], objcoef=[-1, 0], start=[0, 1, 1], rowind=[0], rowcoef=[1],
                 lb=[0, 0], ub=[inf, 1])
        p.chgColType([1], "B")
        p.setIndicators([0], [1], [1])

    def sos(p):
        p.loadLP(objcoef=[-1, -1], lb=[0, 0], ub=[inf, 5])
        p.addSets("1", [0], [0, 1], [1, 2])

    def general(p):
        p.loadLP(objcoef=[0, 1], lb=[-inf, -inf], ub=[inf, inf])
        p.addGenCons([GenConsType.ABS], [1], [0], [0], [0], [])

    return [semicontinuous, indicator, sos, general]


@pytest.mark.parametrize("make", unbounded_column_cases(), ids=lambda f: f.__name__)
def test_missing_finite_bound_is_refused(make):
    p = korvex.problem()
    make(p)
    with pytest.raises(korvex.SolverError, match="(?i)bound"):
        p.optimize()
