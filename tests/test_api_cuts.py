"""Fixing MIP entities, model cuts and delayed rows, user scaling."""
import pytest

import korvex
from test_api_support import raises, LP_OPT, MIP, MIP_OPT
from test_api_constraints_support import named_lp, solve


@pytest.fixture
def p():
    return named_lp()


def test_fixing_entities_at_the_mip_solution():
    p = korvex.problem()
    p.loadMIP(**MIP)
    with pytest.raises(korvex.SolverError):
        p.fixMIPEntities(0)                         # no MIP solution yet
    assert solve(p) == pytest.approx(MIP_OPT)
    assert p.fixMIPEntities(True) is None           # bool counts as the int 1
    # the columns are fixed at (4, 0): maximising finds the same point
    p.chgObjSense(-1)
    assert solve(p) == pytest.approx(MIP_OPT)
    assert p.getSolution() == pytest.approx([4, 0])
    with raises(korvex.InterfaceError, "Error in argument 'options': Value is not an integer"):
        p.fixMIPEntities(1.5)
    with raises(korvex.InterfaceError, "Error in argument 'options': int too big to convert"):
        p.fixMIPEntities(2 ** 31)


@pytest.mark.parametrize("method", ["loadModelCuts", "loadDelayedRows"])
def test_marked_rows_still_bind(p, method):
    mark = getattr(p, method)
    assert mark([]) is None
    assert mark(["cap", p.getConstraint(1), 0, 0]) is None   # duplicates are passed on
    assert solve(p) == pytest.approx(LP_OPT)
    q = korvex.problem()
    q.loadMIP(**MIP)
    getattr(q, method)([0])
    assert solve(q) == pytest.approx(MIP_OPT)
    with pytest.raises(korvex.SolverError):
        mark([2])
    with raises(korvex.InterfaceError, "Argument 'rowind' must be iterable"):
        mark(None)
    with raises(korvex.InterfaceError, "Error in element 0 of argument 'rowind': Unknown constraint: nosuch"):
        mark(["nosuch"])


def test_scaling_is_stored_and_read_back(p):
    assert p.getScale() == ([0, 0], [0, 0])
    assert p.scale([1, 2], []) is None
    assert p.getScale() == ([1, 2], [0, 0])
    p.scale([], [3, -1])
    assert p.getScale() == ([1, 2], [3, -1])
    assert solve(p) == pytest.approx(LP_OPT)
    with pytest.raises(korvex.SolverError):
        p.scale([1], [])
    with raises(korvex.InterfaceError, "Argument 'rowscale' must be iterable"):
        p.scale(None, None)
    with raises(korvex.InterfaceError, "Error in element 1 of argument 'colscale': Value is not an integer"):
        p.scale([], [1, 0.5])
    assert p.getScale() == ([1, 2], [3, -1])
    q = korvex.problem()
    q.loadLP(objcoef=[1, 2, 3])
    assert q.getScale() == ([], [0, 0, 0])
