"""Loading problems from arrays, and reading the solution back."""
import math

import numpy as np
import pytest

import korvex
from korvex import SolStatus, SolveStatus
from test_api_support import raises, LP, LP_OPT, MIP, MIP_OPT, QP, QP_OPT, objval


def variables(p):
    return p.getVariable()


@pytest.mark.parametrize("loader, args, opt, x", [
    ("loadLP", LP, LP_OPT, [3, 1]),
    ("loadMIP", MIP, MIP_OPT, [4, 0]),
    ("loadQP", QP, QP_OPT, [0.5, 1.5]),
])
def test_known_optima(loader, args, opt, x):
    p = korvex.problem()
    getattr(p, loader)(**args)
    assert p.optimize() == (SolveStatus.COMPLETED, SolStatus.OPTIMAL)
    assert objval(p) == pytest.approx(opt, rel=1e-6)
    assert p.getSolution() == pytest.approx(x, abs=1e-5)
    assert p.getProbName() == args["probname"]


def test_collen_form_and_start_rules():
    p = korvex.problem()
    args = dict(LP, start=[0, 2], collen=[2, 2])
    p.loadLP(**args)
    p.optimize()
    assert objval(p) == pytest.approx(LP_OPT)
    # without collen, start needs one entry more than there are columns: the library refuses
    with pytest.raises(korvex.SolverError):
        p.loadLP(**dict(LP, start=[0, 2]))
    assert p.attributes.cols == 2 and p.getProbName() == "lp"


def test_empty_and_positional_loads():
    p = korvex.problem()
    p.loadLP(**LP)
    p.loadLP()
    assert (p.attributes.rows, p.attributes.cols, p.getProbName()) == (0, 0, "")
    p.loadLP("pos", "LG", [1, 2])
    assert (p.attributes.rows, p.attributes.cols, p.getProbName()) == (2, 0, "pos")
    # the row count comes from rng alone; the library wants row types for it
    with pytest.raises(korvex.SolverError, match="rowtype.*3"):
        p.loadLP(rng=[1, 2, 3], rowtype=None, rhs=None)
    p.loadMIQCQP(*([None] * 26))
    assert p.attributes.rows == 0


@pytest.mark.parametrize("loader, kwargs, message", [
    ("loadLP", dict(rowtype="LL", rhs=[1, 2, 3]), "Arguments 'rowtype', 'rhs' and 'rng' must have the same length"),
    ("loadLP", dict(objcoef=[1], ub=[1, 2]), "Arguments 'objcoef', 'lb' and 'ub' must have the same length"),
    ("loadQP", dict(objqcol1=[0, 0], objqcoef=[1, 2, 3]),
     "Arguments 'objqcol1', 'objqcol2' and 'objqcoef' must have the same length"),
    ("loadQCQP", dict(qrowind=[0], nrowqcoefs=[1, 1]), "Arguments 'qrowind' and 'nrowqcoefs' must have the same length"),
    ("loadMIP", dict(coltype="BB", entind=[0]), "Arguments 'coltype', 'entind' and 'limit' must have the same length"),
    ("loadMIQP", dict(entind=[0], limit=[1, 2]), "Arguments 'coltype', 'entind' and 'limit' must have the same length"),
])
def test_mismatched_lengths(loader, kwargs, message):
    p = korvex.problem()
    p.loadLP(**LP)
    with raises(korvex.InterfaceError, message):
        getattr(p, loader)(**kwargs)
    assert p.attributes.cols == 2


def test_conversions_come_before_length_checks():
    p = korvex.problem()
    with raises(korvex.InterfaceError, "Error in element 0 of argument 'ub': Value is not a number"):
        p.loadLP(rowtype="LL", rhs=[1], ub=["x"])
    with pytest.raises(TypeError):
        p.loadLP(coltype="B")
    with pytest.raises(TypeError):
        p.loadLP(*([None] * 12))


@pytest.mark.parametrize("bad", [math.nan, math.inf])
def test_nan_and_infinite_coefficients_are_refused(bad):
    p = korvex.problem()
    p.loadLP(**LP)
    for field in ("objcoef", "rowcoef", "rhs"):
        values = list(LP[field])
        values[0] = bad
        with pytest.raises(korvex.SolverError, match=r"(?i)nan|finite|inf"):
            p.loadLP(**dict(LP, **{field: values}))
    # the failed loads kept the old problem
    p.optimize()
    assert objval(p) == pytest.approx(LP_OPT)


def test_objects_are_rebuilt_after_a_load():
    p = korvex.problem()
    p.loadLP(**LP)
    old = variables(p)
    assert len(old) == 2
    p.loadMIP(**MIP)
    new = variables(p)
    assert len(new) == 2 and all(a is not b for a, b in zip(old, new))
    p.optimize()
    assert p.getSolution(new[0]) == pytest.approx(4)
    with pytest.raises(korvex.ModelError, match="deleted"):
        p.getSolution(old[0])
    # a failed load leaves the lists alone
    with pytest.raises(korvex.InterfaceError):
        p.loadLP(rhs=["x"])
    assert variables(p) == new


def test_get_solution_forms():
    p = korvex.problem()
    p.loadLP(**LP)
    # the library may refuse the read itself
    with pytest.raises((korvex.ModelError, korvex.SolverError), match="Solution is not available"):
        p.getSolution()
    p.addNames(2, ["x", "y"], 0, 1)
    p.optimize()
    assert p.getSolution() == pytest.approx([3, 1])
    assert p.getSolution(1) == pytest.approx(1)
    assert p.getSolution(np.int32(0)) == pytest.approx(3)
    assert p.getSolution("y") == pytest.approx(1)
    assert p.getSolution(0, "y") == pytest.approx((3, 1))
    assert p.getSolution([0, ("y", 1)]) == [pytest.approx(3), (pytest.approx(1), pytest.approx(1))]
    assert p.getSolution({"a": "x"}) == {"a": pytest.approx(3)}
    arr = p.getSolution(np.array([[0, "y"]], dtype=object))
    assert arr.dtype == np.float64 and arr.shape == (1, 2)
    assert np.allclose(arr, [[3, 1]])
    out_of_range = "Call to korvex.problem.getSolution() contains an out-of-range index"
    for bad in (2, -1, 2 ** 80):
        with raises(korvex.InterfaceError, out_of_range):
            p.getSolution(bad)
    with raises(korvex.InterfaceError, "Call to korvex.problem.getSolution() names an unknown column: nosuch"):
        p.getSolution("nosuch")
    with raises(korvex.InterfaceError,
                "korvex.evaluate() requires one or more Python objects;\nNumPy arrays must have object dtype."):
        p.getSolution(np.array([0, 1]))
    with raises(RuntimeError, "Cannot evaluate object"):
        p.getSolution(object())
    deep = 0
    for _ in range(70):
        deep = [deep]
    with raises(RuntimeError, "Evaluation of expression exceeded recursion depth limit"):
        p.getSolution(deep)
