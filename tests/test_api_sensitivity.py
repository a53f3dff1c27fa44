"""Sensitivity analysis and strong branching through the problem methods."""
import numpy as np
import pytest

import korvex
from test_api_support import raises, help_synopsis, interrupted, MIP
from test_api_constraints_support import solve

INF = korvex.infinity

# min -3x - 2y  s.t.  cap: x + y <= 4,  mix: 2x + y <= 7,  0 <= x, y <= 10: optimum -11 at (3, 1),
# both columns basic, both rows binding with duals -1 and -1 (no degeneracy)
SMALL = dict(probname="small", rowtype="LL", rhs=[4, 7], objcoef=[-3, -2], start=[0, 2, 4],
             rowind=[0, 1, 0, 1], rowcoef=[1, 2, 1, 1], lb=[0, 0], ub=[10, 10])


def small(**changes):
    p = korvex.problem()
    p.loadLP(**dict(SMALL, **changes))
    p.addNames(1, ["cap", "mix"], 0, 1)
    p.addNames(2, ["x", "y"], 0, 1)
    return p


@pytest.fixture
def p():
    q = small()
    assert solve(q) == pytest.approx(-11)
    return q


def test_ranges_of_the_small_lp(p):
    x, y = p.getVariable()
    cap, mix = p.getConstraint()
    assert p.objSA([0, "y"]) == (pytest.approx([-4, -3]), pytest.approx([-2, -1.5]))
    assert p.objSA([x]) == p.objSA(["x"]) == p.objSA([0])
    assert p.rhsSA([cap, "mix"]) == (pytest.approx([3.5, 4]), pytest.approx([7, 8]))
    # basic columns: each bound can move up to the value from its side
    assert p.bndSA([x, 1]) == (pytest.approx([-1e20, -1e20]), pytest.approx([3, 1]),
                               pytest.approx([3, 1]), pytest.approx([1e20, 1e20]))
    # cap's dual is -3 for 0 < rhs < 3.5, -1 up to 7, 0 beyond; mix's -2 below 4, -1 up to 8, 0 beyond
    assert p.estimateRowDualRanges([cap, mix], 100) == (pytest.approx([-3, -2]), pytest.approx([0, 0]))
    # no iterations: nothing settled beyond the basis
    assert p.estimateRowDualRanges(["cap"], 0) == ([-1e20], [1e20])
    assert (p.objSA([]), p.bndSA([]), p.estimateRowDualRanges([], 5), p.strongBranch([], "", [], 5)) == \
        (([], []), ([], [], [], []), ([], []), ([], []))


@pytest.mark.parametrize("j", [0, 1])
def test_objective_is_linear_in_a_cost_inside_its_range(p, j):
    (lo,), (hi,) = p.objSA([j])
    x = p.getSolution()
    # inside the range the solution stays and the objective moves linearly; beyond either limit it moves
    for c in [*np.linspace(lo, hi, 5)[1:-1], lo - 0.5, hi + 0.5]:
        q = small(objcoef=[c if k == j else v for k, v in enumerate(SMALL["objcoef"])])
        obj = solve(q)
        if lo < c < hi:
            assert obj == pytest.approx(-11 + (c - SMALL["objcoef"][j]) * x[j]) and q.getSolution() == pytest.approx(x)
        else:
            assert q.getSolution() != pytest.approx(x)


def test_condition_number_matches_numpy(p):
    basis = np.array([[1.0, 1.0], [2.0, 1.0]])   # both columns basic
    for (norm, ord), scaled in zip(((0, np.inf), (1, 1), (2, "fro")) * 2, (0, 0, 0, True, True, True)):
        assert p.basisStability(0, norm, scaled) == pytest.approx(np.linalg.cond(basis, ord), rel=1e-9)
    for kind in (1, 2, 3, 4):
        assert 0 <= p.basisStability(kind, 2, False) < 1e-9


def test_strong_branching_matches_re_solves_and_changes_nothing(p):
    before = (p.getSolution(), p.attributes.objval, p.attributes.lpstatus)
    objval, status = p.strongBranch(["x", 0, p.getVariable(1)], "ULB", [2, 4, 0], 100)
    assert status == [1, 2, 1] and all(type(s) is int for s in status) and objval == pytest.approx([-10, 1e20, -10.5])
    assert (p.getSolution(), p.attributes.objval, p.attributes.lpstatus) == before
    # without iterations the first branch stops at the limit with a bound on its optimum
    objval, status = p.strongBranch([0], ["U"], [2.0], 0)
    assert status == [4] and objval[0] <= -10 + 1e-9
    assert p.objSA([0]) == (pytest.approx([-4]), pytest.approx([-2]))   # the basis is still there


def test_refusals_name_the_reason():
    q = small()
    with raises(korvex.SolverError, "KRVXobjsa_witharraysizes: Objective ranging needs an optimal basis: solve the "
                "problem to optimality first (changing the problem discards the basis)"):
        q.objSA([0])
    m = korvex.problem()
    m.loadMIP(**MIP)
    solve(m)
    with pytest.raises(korvex.SolverError, match="Basis stability needs a linear problem"):
        m.basisStability(0, 0, 0)
    n = korvex.problem()
    x, y = n.addVariable(lb=0, ub=3), n.addVariable(lb=0, ub=2)
    n.addConstraint(korvex.exp(x) + y <= 5)
    n.setObjective(-x - y)
    solve(n)
    with pytest.raises(korvex.SolverError, match="Objective ranging needs a linear problem: the problem has "
                       "nonlinear formulas"):
        n.objSA([x])
    # presolved form: objects refused before the solver is called, indices refused by it
    m.mipOptimize("l")
    assert m.attributes.presolvestate & 6
    with raises(korvex.InterfaceError, "Error in element 0 of argument 'rowind': Cannot pass constraint objects "
                "when problem is presolved or in a callback: use indices instead"):
        m.rhsSA([m.getConstraint(0)])
    with pytest.raises(korvex.SolverError, match="Right-hand side ranging needs a linear problem: the problem is "
                       "in presolved form"):
        m.rhsSA([0])


def test_argument_errors(p):
    bad, big = "Error in argument '%s': Value is not an integer", "Error in argument 'iterlim': int too big to convert"
    for call, text in ((lambda: p.strongBranch([0, 1], "UL", [1.0], 10),
                        "Arguments 'colind', 'bndtype' and 'bndval' must have the same length"),
                       (lambda: p.strongBranch([0], "U", [1.0, 2.0], "10"), bad % "iterlim"),  # before the length check
                       (lambda: p.strongBranch([0], "U", [1.0], 2 ** 31), big),
                       (lambda: p.strongBranch([0], "U", [1.0], -2 ** 31), big),
                       (lambda: p.basisStability(0, 2, 1.5), bad % "scaled"),
                       (lambda: p.basisStability("0", 2, 0), bad % "type"),
                       (lambda: p.estimateRowDualRanges([0], None), bad % "iterlim"),
                       (lambda: p.rhsSA(["nosuch"]),
                        "Error in element 0 of argument 'rowind': Unknown constraint: nosuch")):
        with raises(korvex.InterfaceError, text):
            call()
    with pytest.raises(korvex.SolverError, match="iterlim is negative"):
        p.strongBranch([0], "U", [1.0], -2147483647)   # passed on, refused by the solver
    with pytest.raises(TypeError):
        p.objSA()
    assert p.basisStability(type=0, norm=2, scaled=True) > 1
    assert p.strongBranch(colind=[0], bndtype="U", bndval=[2], iterlim=10)[1] == [1]


def test_help_layout():
    for name in ("objSA", "bndSA", "rhsSA", "estimateRowDualRanges", "basisStability", "strongBranch"):
        assert help_synopsis(name).strip().startswith(("lower", "lblower", "mindual", "value", "objval"))


@pytest.mark.parametrize("sense", [1, -1])
def test_problem_without_rows(sense):
    p = korvex.problem()
    p.loadLP(probname="e", rowtype="", rhs=[], objcoef=[1, -1, 2], start=[0, 0, 0, 0], rowind=[], rowcoef=[],
             lb=[0, 0, 1], ub=[5, 3, 1])
    p.chgObjSense(sense)
    solve(p)
    # either sense puts each column at the bound its cost favours: the cost may not change sign
    # (the fixed column's may)
    assert p.objSA([0, 1, 2]) == ([0, -1e20, -1e20], [1e20, 0, 1e20])
    assert p.rhsSA([]) == ([], []) and p.basisStability(1, 2, 0) == 0
    assert p.strongBranch([0, 1], "UL", [-1, 2], 5)[1] == [2, 1]


def random_lp(n, m, seed):
    """min -c x over A x <= b, 0 <= x <= 1 (A >= 0, sparse): feasible and bounded."""
    rng = np.random.default_rng(seed)
    a = rng.uniform(0.1, 1, (m, n)) * (rng.uniform(size=(m, n)) < 0.2)
    cols = [np.flatnonzero(a[:, j]) for j in range(n)]
    p = korvex.problem()
    p.controls.outputlog = 0
    p.loadLP(probname="rnd", rowtype="L" * m, rhs=list(a.sum(axis=1) * 0.3 + 0.5), objcoef=list(-rng.uniform(1, 2, n)),
             start=list(np.cumsum([0] + [len(c) for c in cols])), rowind=[int(i) for c in cols for i in c],
             rowcoef=[float(a[i, j]) for j, c in enumerate(cols) for i in c], lb=[0] * n, ub=[1] * n)
    p.lpOptimize()
    return p


def branch_candidates(p, count):
    x = p.getSolution()
    n = len(x)
    cols = [k % n for k in range(count)]
    return cols, "UL" * (count // 2), [x[j] / 2 if k % 2 == 0 else (x[j] + 1) / 2 for k, j in enumerate(cols)]


def assert_stopped_branching(p, cols, types, values, got):
    """Stopped strong branching: each candidate has its full result, or is unfinished with a lower bound
    on its optimum (those not reached: the optimum of the basis); some are unfinished."""
    base = p.attributes.objval
    p.controls.timelimit = 0
    full = p.strongBranch(cols, types, values, 1000)
    objval, status = got
    unfinished = [k for k in range(len(cols)) if (status[k], objval[k]) != pytest.approx((full[1][k], full[0][k]))]
    assert unfinished and unfinished[-1] == len(cols) - 1
    for k in unfinished:
        assert status[k] == 4 and objval[k] <= full[0][k] + 1e-6
    assert objval[-1] == pytest.approx(base)


def test_time_limit_and_interrupt_stop_strong_branching():
    p = random_lp(100, 60, 5)
    cols, types, values = branch_candidates(p, 800)
    p.controls.timelimit = 0.02
    assert_stopped_branching(p, cols, types, values, p.strongBranch(cols, types, values, 1000))
    got, ticks = interrupted(p, lambda: p.strongBranch(cols, types, values, 1000), 3)
    assert ticks >= 3   # the interpreter lock was released
    assert_stopped_branching(p, cols, types, values, got)


def test_stopped_ranging_gives_the_limits():
    p = random_lp(60, 40, 7)
    n, m = p.attributes.cols, p.attributes.rows
    calls = [lambda: p.objSA(range(n)), lambda: p.rhsSA(range(m)), lambda: p.bndSA(range(n)),
             lambda: p.estimateRowDualRanges(range(m), 1000)]
    full = [call() for call in calls]
    p.controls.timelimit = 1e-9
    for call, result in zip(calls, full):
        assert call() == tuple([-1e20] * len(v) if k % 2 == 0 else [1e20] * len(v) for k, v in enumerate(result))
    p.controls.timelimit = 0
    assert [call() for call in calls] == full
    # interrupted dual range estimates are outer bounds of the finished ones
    rows = list(range(m)) * 40
    (lo, hi), ticks = interrupted(p, lambda: p.estimateRowDualRanges(rows, 10**6), 2)
    assert ticks >= 2 and (lo[-1], hi[-1]) == (-1e20, 1e20)
    for k, i in enumerate(rows):
        assert lo[k] <= full[3][0][i] + 1e-9 and hi[k] >= full[3][1][i] - 1e-9
