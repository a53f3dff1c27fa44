"""Nonlinear, quadratically constrained and non-convex problems solved through optimize()."""
import math

import pytest

import korvex as k
from conftest import assert_feasible


def rosen(a, b):
    return (1 - a) ** 2 + 100 * (b - a * a) ** 2


def rosen_with_partials(a, b):
    return rosen(a, b), -2 * (1 - a) - 400 * a * (b - a * a), 200 * (b - a * a)


def rosen_on_demand(a, b, *deltas):
    return rosen_with_partials(a, b) if deltas else rosen(a, b)


def test_rosenbrock_expression(p):
    x, y = p.addVariable(lb=-10), p.addVariable(lb=-10)
    p.setObjective((1 - x) ** 2 + 100 * (y - x ** 2) ** 2)
    p.optimize()
    assert p.attributes.solstatus == k.SolStatus.OPTIMAL
    assert p.attributes.objval == pytest.approx(0.0, abs=1e-10)
    assert p.getSolution() == pytest.approx([1.0, 1.0], abs=1e-5)
    assert_feasible(p)


@pytest.mark.parametrize("derivatives, func", [
    ("never", rosen), ("always", rosen_with_partials), ("ondemand", rosen_on_demand)])
def test_user_function_same_optimum(p, derivatives, func):
    x, y = p.addVariable(lb=-10), p.addVariable(lb=-10)
    p.setObjective(k.user(func, x, y, derivatives=derivatives))
    p.optimize()
    assert p.attributes.solstatus == k.SolStatus.OPTIMAL
    assert p.getSolution() == pytest.approx([1.0, 1.0], abs=1e-4)
    assert_feasible(p)


def test_hs071(p):
    x = [p.addVariable(lb=1, ub=5) for _ in range(4)]
    p.addConstraint(x[0] * x[1] * x[2] * x[3] >= 25)
    p.addConstraint(x[0] ** 2 + x[1] ** 2 + x[2] ** 2 + x[3] ** 2 == 40)
    p.setObjective(x[0] * x[3] * (x[0] + x[1] + x[2]) + x[2])
    p.optimize("s")
    assert p.attributes.solvestatus == k.SolveStatus.COMPLETED
    assert p.attributes.objval == pytest.approx(17.0140173, rel=1e-7)
    assert p.getSolution() == pytest.approx([1.0, 4.74299963, 3.82114998, 1.37940829], rel=1e-6)
    assert_feasible(p)


def test_load_qcqp_convex(p):
    # min -x - y subject to x^2 + y^2 <= 2 (x, y free): optimum -2 at (1, 1)
    p.loadQCQP("disc", "L", [2.0], None, [-1.0, -1.0], [0, 0, 0], None, [], [], [-1e20, -1e20], None,
               [], [], [], [0], [2], [0, 1], [0, 1], [1.0, 1.0])
    p.setControl("outputlog", 0)
    p.optimize()
    assert p.attributes.solstatus == k.SolStatus.OPTIMAL
    assert p.attributes.objval == pytest.approx(-2.0, rel=1e-7)
    assert p.getSolution() == pytest.approx([1.0, 1.0], rel=1e-6)
    assert_feasible(p)


def test_infeasible_nlp(p):
    x, y = p.addVariable(), p.addVariable(lb=-10)
    p.addConstraint(k.exp(x) + y ** 2 <= 0.5)
    p.setObjective(x + y)
    p.optimize()
    assert p.attributes.solvestatus == k.SolveStatus.COMPLETED
    assert p.attributes.solstatus == k.SolStatus.INFEASIBLE


def test_nonconvex_quadratic_objective(p):
    # -x^2 + 0.6 x on [-1, 1]: the solver starts at 0 and walks down to the local optimum x = -1
    x = p.addVariable(lb=-1, ub=1)
    p.setObjective(-x * x + 0.6 * x)
    p.optimize()
    assert p.attributes.solstatus == k.SolStatus.OPTIMAL
    assert p.attributes.objval == pytest.approx(-1.6, rel=1e-7)
    assert_feasible(p)


@pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
def test_user_function_exception_reaches_caller(p):
    def broken(a):
        raise ValueError("no value here")

    x = p.addVariable()
    p.setObjective(k.user(broken, x))
    with pytest.raises(ValueError, match="no value here"):
        p.optimize()
    # the problem stays usable
    p.setObjective(x)
    p.optimize()
    assert p.attributes.solstatus == k.SolStatus.OPTIMAL


def test_integer_with_nonlinear_solved(p):
    # non-convex: branch-and-bound over local optima of the relaxations gives a feasible
    # integral point at least as good as the integral corners
    x = p.addVariable(vartype=k.integer, ub=3)
    y = p.addVariable(ub=3)
    p.addConstraint(x * y <= 2)
    p.setObjective(-x - y)
    p.optimize()
    assert assert_feasible(p) is not None
    assert p.attributes.objval <= -3 + 1e-6


def test_iteration_limit_stops(p):
    x, y = p.addVariable(lb=-10), p.addVariable(lb=-10)
    p.setObjective((1 - x) ** 2 + 100 * (y - x ** 2) ** 2 + k.exp(x))
    p.setControl("lpiterlimit", 2)
    p.optimize()
    assert p.attributes.solvestatus == k.SolveStatus.STOPPED
    assert math.isfinite(p.attributes.objval)
    assert_feasible(p)
