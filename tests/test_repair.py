"""Repair methods: known minimal violations, phase 2, statuses, argument handling."""
import pytest

import korvex
from test_api_support import raises


def conflict():
    """x <= 1 (row 0) against x >= 3 (row 1), minimising x."""
    p = korvex.problem()
    p.loadLP(probname="conflict", rowtype="LG", rhs=[1, 3], objcoef=[1], start=[0, 2], rowind=[0, 1],
             rowcoef=[1, 1], lb=[-korvex.infinity], ub=[korvex.infinity])
    return p


def test_violation_phase2_delta_and_quadratic_penalties():
    p = conflict()
    # weights 1 and 2, the first side relaxed by at most 0.5: 0.5 + 2 * 1.5
    assert p.repairWeightedInfeasBounds([1, 0], [0, 0.5], [], [], [0.5, 0], [], [], [], "f", 0, "") == 0
    assert p.attributes.penaltyvalue == pytest.approx(3.5) and p.getSolution()[0] == pytest.approx(1.5)
    assert (p.attributes.rows, p.attributes.cols) == (2, 1)
    # phase 2 minimises x: with the violation at most 2 + 1 the lower row takes it all
    assert p.repairInfeas("c", "o", "d", 1, 1, 0, 0, -1.0) == 0
    assert p.attributes.penaltyvalue == pytest.approx(3) and p.getSolution()[0] == pytest.approx(0, abs=1e-6)
    assert p.repairInfeas("c", "x", " ", 1, 1, 0, 0, 0.5) == 0   # maximise x within 1.5 times 2
    assert p.getSolution()[0] == pytest.approx(4)
    assert p.repairWeightedInfeas([-1, 0], [0, -1], [], [], "f", 0, "") == 0   # s0^2 + s1^2, s0 + s1 = 2
    assert p.attributes.penaltyvalue == pytest.approx(2, rel=1e-5) and p.getSolution()[0] == pytest.approx(2, rel=1e-5)


def test_statuses_and_iis_of_an_infeasible_relaxation():
    p = conflict()
    assert p.repairWeightedInfeas([], [], [], [], "f", 0, "") == 1          # nothing relaxed
    assert p.repairWeightedInfeasBounds([0, 0], [0, 1], [], [], [], [0, 0.5], [], [], "i", 0, "") == 1
    assert p.IISStatus()[0] == 1 and p.getIISData(1)[0] == [0, 1]
    assert p.repairInfeas("c", "a", "p", 1, 1, 1, 1, 0) == 6               # relaxable: no IIS to find


def test_argument_handling():
    p = conflict()
    with raises(korvex.InterfaceError, "Argument 'lepref' must be iterable"):
        p.repairWeightedInfeas(None, [], [], [], "f", 0, "")
    with raises(korvex.InterfaceError, "Error in argument 'penalty': Value is not a single character"):
        p.repairInfeas("cc", "f", " ", 1, 1, 1, 1, 0)
    with raises(korvex.InterfaceError, "Error in argument 'flags': Value is not a single character"):
        p.repairInfeas("c", "f", "", 1, 1, 1, 1, 0)
    with raises(korvex.InterfaceError, "Error in element 2 of argument 'ubrelax': Value is not a number"):
        p.repairWeightedInfeasBounds([], [], [], [], [], [], [], [0, 0, "a"], "f", 0, "")
    with raises(korvex.InterfaceError, "Error in argument 'lepref': Value is not a number"):
        p.repairInfeas("c", "f", " ", "1", 1, 1, 1, 0)
    assert p.repairInfeas(99, "f", " ", True, 1, 1, 1, 0) == 0               # 99 is "c", True is 1.0
    with pytest.raises(korvex.SolverError, match="argument 'lepref' has 1 entries; it needs 2"):
        p.repairWeightedInfeas([1], [], [], [], "f", 0, "")
