"""Indicator, piecewise-linear and general constraints: storing, reading back, deleting."""
import pytest

import korvex
from korvex import GenConsType
from test_api_support import help_synopsis, raises


@pytest.fixture
def p():
    """Columns x, y in [0, 10] and binary b; rows x + y <= 8 and x <= 4."""
    prob = korvex.problem()
    prob.loadMIP(rowtype="LL", rhs=[8, 4], objcoef=[-1, -1, 0], start=[0, 2, 3, 3], rowind=[0, 1, 0],
                 rowcoef=[1, 1, 1], lb=[0, 0, 0], ub=[10, 10, 1], coltype="B", entind=[2])
    prob.addNames(1, ["sum", "cap"], 0, 1)
    prob.addNames(2, ["x", "y", "b"], 0, 2)
    return prob


class TestIndicators:
    def test_set_get_delete(self, p):
        cap = p.getConstraint(1)
        assert p.getIndicators() == ([-1, -1], [0, 0])
        assert p.setIndicators([cap], ["b"], [-1]) is None
        assert p.getIndicators() == ([-1, 2], [0, -1])
        assert p.getIndicators(first=cap) == ([2], [-1])
        assert p.getIndicators("sum", "sum") == ([-1], [0])
        assert p.getIndicators(1, 0) == ([], [])
        p.setIndicators([1], [2], [1])
        assert p.getIndicators(1) == ([2], [1])
        assert p.delIndicators(first=1) is None
        assert p.getIndicators() == ([-1, -1], [0, 0])
        p.setIndicators([0, 1], [2, 2], [1, -1])
        p.setIndicators([0], [0], [0])            # complement 0: a plain row again
        assert p.getIndicators() == ([-1, 2], [0, -1])
        p.delIndicators()
        assert p.getIndicators() == ([-1, -1], [0, 0])

    def test_refusals(self, p):
        with raises(korvex.InterfaceError, "Arguments 'rowind', 'colind' and 'complement' must have the same length"):
            p.setIndicators([0, 1], [2], [1, 1])
        with raises(korvex.InterfaceError, "Error in argument 'first': Unknown constraint: nosuch"):
            p.getIndicators("nosuch")
        with raises(korvex.InterfaceError, "Error in argument 'last': Invalid constraint index"):
            p.delIndicators(0, -2)
        for call in (lambda: p.setIndicators([0], [0], [1]),      # x is not binary
                     lambda: p.setIndicators([5], [2], [1]),      # no row 5
                     lambda: p.getIndicators(0, 2 ** 31 - 2),     # range beyond the rows: no huge arrays
                     lambda: p.getIndicators(-1, 2 ** 31 - 1),
                     lambda: p.getIndicators(0, 2)):
            with pytest.raises(korvex.SolverError):
                call()
        assert p.getIndicators() == ([-1, -1], [0, 0])


class TestPiecewiseLinear:
    def test_add_get_delete(self, p):
        assert p.getPwlCons() == ([], [], [0], [], [])
        # y = f(x) through (0, 0), (4, 2), (10, 2); b = g(y) through (0, 0), (10, 1)
        assert p.addPwlCons(["x", 1], ["y", "b"], [0, 3], [0, 4, 10, 0, 10], [0, 2, 2, 0, 1]) is None
        assert p.getPwlCons() == ([0, 1], [1, 2], [0, 3, 5], [0.0, 4.0, 10.0, 0.0, 10.0], [0.0, 2.0, 2.0, 0.0, 1.0])
        got = p.getPwlCons(1, 1)
        assert got == ([1], [2], [0, 2], [0.0, 10.0], [0.0, 1.0])
        assert all(type(v) is float for v in got[3] + got[4])
        assert p.getPwlCons(1, 0) == ([], [], [0], [], [])
        assert p.attributes.pwlcons == 2
        assert p.delPwlCons([0]) is None
        p.delPwlCons([])
        assert p.getPwlCons() == ([1], [2], [0, 2], [0.0, 10.0], [0.0, 1.0])

    def test_refusals(self, p):
        with raises(korvex.InterfaceError, "Arguments 'colind', 'resultant' and 'start' must have the same length"):
            p.addPwlCons(["x"], ["y"], [0, 3], [0, 1, 2], [0, 1, 2])
        with raises(korvex.InterfaceError, "Arguments 'xval' and 'yval' must have the same length"):
            p.addPwlCons(["x"], ["y"], [0], [0, 1, 2], [0, 1])
        with raises(korvex.InterfaceError, "Error in element 0 of argument 'pwlind': Value is not an integer"):
            p.delPwlCons(["x"])
        with raises(korvex.InterfaceError, "Error in argument 'first': Value is not an integer"):
            p.getPwlCons("x")
        for call in (lambda: p.addPwlCons([0], [1], [0], [2, 1], [0, 0]),    # x values decreasing
                     lambda: p.addPwlCons([0], [1], [1], [0, 1], [0, 0]),    # start beyond the first point
                     lambda: p.addPwlCons([0], [9], [0], [0, 1], [0, 0]),
                     lambda: p.delPwlCons([0]),
                     lambda: p.getPwlCons(0, 0)):
            with pytest.raises(korvex.SolverError):
                call()
        assert p.getPwlCons() == ([], [], [0], [], [])


class TestGeneral:
    def test_add_get_delete(self, p):
        assert p.getGenCons() == ([], [], [0], [], [0], [])
        # y = max(x, 3); b = and(b) is not allowed on non-binaries, so: y = abs(x), then y = min(x, 2, 5)
        assert p.addGenCons([GenConsType.MAX, 4, GenConsType.MIN], ["y", "y", 1], [0, 1, 2], ["x", 0, 0],
                            [0, 1, 1], [3, 2, 5]) is None
        got = p.getGenCons()
        assert got == ([0, 4, 1], [1, 1, 1], [0, 1, 2, 3], [0, 0, 0], [0, 1, 1, 3], [3.0, 2.0, 5.0])
        assert all(type(v) is int for v in got[0]) and all(type(v) is float for v in got[5])
        assert p.getGenCons(1, 2) == ([4, 1], [1, 1], [0, 1, 2], [0, 0], [0, 0, 2], [2.0, 5.0])
        assert p.attributes.gencons == 3
        p.delGenCons([0, 2])
        assert p.getGenCons() == ([4], [1], [0, 1], [0], [0, 0], [])
        p.delGenCons([])
        # an empty val with a valstart of one entry per constraint
        p.addGenCons([GenConsType.MAX], ["b"], [0], ["x", "y"], [0], [])
        assert p.getGenCons(1, 1) == ([0], [2], [0, 2], [0, 1], [0, 0], [])

    def test_refusals(self, p):
        with raises(korvex.InterfaceError,
                    "Arguments 'contype', 'resultant', 'colstart' and 'valstart' must have the same length"):
            p.addGenCons([0], [1], [0], [0], [], [])
        with raises(korvex.InterfaceError, "Argument 'valstart' must be iterable"):
            p.addGenCons([0], [1], [0], [0], None, None)
        with raises(korvex.InterfaceError, "Error in element 0 of argument 'conind': Value is not an integer"):
            p.delGenCons([None])
        for call in (lambda: p.addGenCons([4], [1], [0], [0, 2], [0], []),   # abs of two columns
                     lambda: p.delGenCons([0]),
                     lambda: p.getGenCons(0, 0)):
            with pytest.raises(korvex.SolverError):
                call()
        assert p.getGenCons() == ([], [], [0], [], [0], [])


def test_help_texts_have_the_fixed_layout():
    names = ("addRows delRows addCols delCols chgColType addSets delSets chgObjSense chgGlbLimit addObj chgObjN "
             "delObj addQMatrix delQMatrix getQObj fixMIPEntities loadModelCuts loadDelayedRows scale getScale "
             "setIndicators getIndicators delIndicators addPwlCons getPwlCons delPwlCons addGenCons getGenCons "
             "delGenCons").split()
    for name in names:
        assert "problem." + name + "(" in help_synopsis(name), name
        assert getattr(korvex.problem, name).__text_signature__.startswith("($self"), name
