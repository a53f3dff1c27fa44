"""Objective sense, multiple objectives and quadratic matrices."""
import csv
import os

import pytest

import korvex
from korvex import SolStatus, SolveStatus
from test_api_support import raises, data_dir, LP_OPT, QP, QP_OPT
from test_api_constraints_support import named_lp, solve
from conftest import assert_feasible


@pytest.fixture
def p():
    return named_lp()


def test_objective_sense(p):
    assert p.chgObjSense(-1) is None
    assert solve(p) == pytest.approx(0)           # maximising -3x - 2y over x, y >= 0
    p.chgObjSense(1)
    assert solve(p) == pytest.approx(LP_OPT)
    with pytest.raises(korvex.SolverError):
        p.chgObjSense(5)
    with raises(korvex.InterfaceError, "Error in argument 'objsense': Value is not an integer"):
        p.chgObjSense("max")
    assert solve(p) == pytest.approx(LP_OPT)


@pytest.fixture
def two_objectives():
    """x + y <= 4, 0 <= x, y <= 3, main objective min -x - 2y."""
    prob = korvex.problem()
    prob.loadLP(rowtype="L", rhs=[4], objcoef=[-1, -2], start=[0, 1, 2], rowind=[0, 0], rowcoef=[1, 1],
                lb=[0, 0], ub=[3, 3])
    prob.addNames(2, ["x", "y"], 0, 1)
    return prob


@pytest.mark.parametrize("priority, weight, x", [
    (-1, 1.0, [1, 3]),      # main first (-7), then the most x among its optima
    (1, 1.0, [3, 1]),       # max x first, then the main objective
    (0, 2.0, [3, 1]),       # blended: -3x - 2y
    (0, 0.5, [1, 3]),       # blended: -1.5x - 2y
    (None, None, [1, 3]),   # priority 0 and weight 1: -2x - 2y, then the vertex found
])
def test_lexicographic_and_blended_objectives(two_objectives, priority, weight, x):
    p = two_objectives
    p.addObj(["x"], [-1.0], priority, weight)
    assert p.optimize() == (SolveStatus.COMPLETED, SolStatus.OPTIMAL)
    assert_feasible(p)
    if priority is None:
        # tie between the vertices: only the blended value is fixed
        sol = p.getSolution()
        assert -2 * sol[0] - 2 * sol[1] == pytest.approx(-8)
        return
    assert p.getSolution() == pytest.approx(x)


def test_changing_and_deleting_objectives(two_objectives):
    p = two_objectives
    p.addObj([0], [-1.0], priority=-1)
    assert p.optimize()[1] == SolStatus.OPTIMAL and p.getSolution() == pytest.approx([1, 3])
    p.chgObjN(1, [0, 1], [0.0, -1.0])           # second objective: max y (already at 3)
    p.chgObjN(0, [0, 1], [-2.0, -1.0])          # main: min -2x - y
    p.optimize()
    assert p.getSolution() == pytest.approx([3, 1])
    p.chgObjN(0, [0, 1], [0.0, 0.0])            # main objective flat: the second decides
    p.optimize()
    assert p.getSolution()[1] == pytest.approx(3)
    p.delObj(1)
    p.chgObjN(0, [1], [1.0])                    # min y alone
    assert solve(p) == pytest.approx(0)
    with pytest.raises(korvex.SolverError):
        p.delObj(3)
    with pytest.raises(korvex.SolverError):
        p.chgObjN(4, [0], [1.0])


def test_nonlinear_objective_excludes_further_objectives():
    p = korvex.problem()
    x = p.addVariable(lb=0, ub=1)
    y = p.addVariable(lb=0, ub=1)
    p.setObjective(korvex.exp(x) + y)
    message = "Quadratic and nonlinear objectives are not supported in multi-objective problems"
    for call in (lambda: p.addObj([0], [1.0]),
                 lambda: p.addObj([0, 1], [1.0]),        # refused before the lengths are compared
                 lambda: p.chgObjN(1, [0], [1.0])):
        with raises(korvex.ModelError, message):
            call()
    p.chgObjN(0, [y], [2.0])
    assert p.delObj(0) is None                        # also drops the nonlinear objective
    assert p.addObj([x], [1.0]) is None
    assert (p.attributes.cols, p.attributes.rows) == (2, 0)


@pytest.mark.parametrize("call, exc, message", [
    (lambda p: p.addObj([0, 1], [1.0]), korvex.InterfaceError,
     "Arguments 'colind' and 'objcoef' must have the same length"),
    (lambda p: p.addObj([0], [1.0], priority=2 ** 31), korvex.InterfaceError,
     "Error in argument 'priority': int too big to convert"),
    (lambda p: p.addObj([0], [1.0], weight="w"), korvex.InterfaceError,
     "Error in argument 'weight': Value is not a number"),
    (lambda p: p.addObj(None, [1.0]), korvex.InterfaceError, "Argument 'colind' must be iterable"),
    (lambda p: p.chgObjN(1.5, [0], [1.0]), korvex.InterfaceError, "Error in argument 'objidx': Value is not an integer"),
    (lambda p: p.chgObjN(0, [0], []), korvex.InterfaceError,
     "Arguments 'colind' and 'objcoef' must have the same length"),
    (lambda p: p.delObj("0"), korvex.InterfaceError, "Error in argument 'objidx': Value is not an integer"),
    (lambda p: p.chgGlbLimit([0, 1], [1.0]), korvex.InterfaceError,
     "Arguments 'colind' and 'limit' must have the same length"),
    (lambda p: p.addQMatrix(-1, [0, 1], [0], [1.0, 1.0]), korvex.InterfaceError,
     "Arguments 'rowqcol1', 'rowqcol2' and 'rowqcoef' must have the same length"),
    (lambda p: p.delQMatrix(-2), korvex.InterfaceError, "Error in argument 'row': Invalid constraint index"),
    (lambda p: p.addQMatrix("nosuchrow", [0], [0], [1.0]), korvex.InterfaceError,
     "Error in argument 'row': Unknown constraint: nosuchrow"),
    (lambda p: p.getQObj(0, "nosuch"), korvex.InterfaceError,
     "Error in argument 'objqcol2': Unknown variable: nosuch"),
    (lambda p: p.getQObj(0, 9), korvex.SolverError, None),
    (lambda p: p.addObj([9], [1.0]), korvex.SolverError, None),
])
def test_refusals(p, call, exc, message):
    if message is None:
        with pytest.raises(exc):
            call(p)
    else:
        with raises(exc, message):
            call(p)
    assert solve(p) == pytest.approx(LP_OPT)


def test_quadratic_objective_matrix():
    p = korvex.problem()
    p.loadQP(**QP)
    assert solve(p) == pytest.approx(QP_OPT)
    assert p.getQObj(0, 0) == 2.0 and p.getQObj(1, 0) == 0.0
    p.delQMatrix(-1)
    assert p.getQObj(0, 0) == 0.0
    # min -2x - 4y with x + y <= 2 and free columns is unbounded
    assert p.optimize()[1] == SolStatus.UNBOUNDED
    p.addQMatrix(-1, [0, 1], [0, 1], [2.0, 2.0])
    assert solve(p) == pytest.approx(QP_OPT)
    # coefficients add up: Q = diag(4, 4) halves the step: min 2x^2 + 2y^2 - 2x - 4y on x + y <= 2
    p.addQMatrix(-1, [0, 1], [0, 1], [2.0, 2.0])
    assert p.getQObj(1, 1) == 4.0
    assert solve(p) == pytest.approx(-2.5)       # x = 0.5, y = 1
    assert p.getSolution() == pytest.approx([0.5, 1.0], abs=1e-5)


def expected_objectives():
    root = data_dir()
    with open(os.path.join(root, "expected.csv")) as f:
        return {r["file"]: r for r in csv.DictReader(f)}


def test_quadratic_files_rebuilt_through_addqmatrix():
    expected = expected_objectives()
    opt = float(expected["qp/qjh.mps"]["objective"])
    p = korvex.problem()
    p.readProb(os.path.join(data_dir(), "qp", "qjh.mps"))
    assert solve(p) == pytest.approx(opt, rel=1e-6)
    x1, x2, x3 = p.getVariable()
    q = {(i, j): p.getQObj(i, j) for i in range(3) for j in range(3)}
    assert q[(0, 0)] == 2.0 and q[(0, 2)] == q[(2, 0)] == -1.0 and q[(1, 1)] == 0.2 and q[(2, 2)] == 2.0
    p.delQMatrix(-1)
    assert all(p.getQObj(i, j) == 0.0 for i in range(3) for j in range(3))
    p.addQMatrix(-1, [x1, x1, "x2", 2], [x1, x3, "x2", 2], [2.0, -1.0, 0.2, 2.0])
    assert [p.getQObj(i, j) for i, j in sorted(q)] == [q[k] for k in sorted(q)]
    assert solve(p) == pytest.approx(opt, rel=1e-6)
    for name in ("qp/qjh_quadobj.mps", "qp/qjh_qmatrix.mps", "qp/qptestnw.lp"):
        p.readProb(os.path.join(data_dir(), name))
        assert solve(p) == pytest.approx(float(expected[name]["objective"]), rel=1e-6)
