"""Repair methods: known minimal violations, phase 2, statuses, argument handling, stop requests."""
import ctypes
import glob
import os
import random

import pytest

import korvex
from korvex import SolStatus, SolveStatus, StopType
from conftest import ctrl_c_in_subprocess
from test_api_support import data_dir, interrupted, raises


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
    # preferences are finite numbers, and blanks are no flags, alike for both methods
    for bad in (float("inf"), -float("inf"), float("nan")):
        with pytest.raises(korvex.SolverError, match="lepref"):
            p.repairInfeas("c", "f", " ", bad, 1, 1, 1, 0)
        with pytest.raises(korvex.SolverError, match="entry 1 of argument 'gepref'"):
            p.repairWeightedInfeas([], [0, bad], [], [], "f", 0, "")
    assert p.repairWeightedInfeas([1, 1], [1, 1], [], [], "f", 0, " d ") == 0
    with pytest.raises(korvex.SolverError, match="Unknown flag 'q'"):
        p.repairWeightedInfeas([1, 1], [1, 1], [], [], "f", 0, " q")


def highs_feasibility_relaxation(path, rows):
    """HiGHS's own minimal violation of the bounds, and with rows of the rows, all with weight 1."""
    highsbox = pytest.importorskip("highsbox")
    lib = ctypes.CDLL(sorted(glob.glob(os.path.join(highsbox.highs_lib_dir(), "libhighs.so*")))[0])
    lib.Highs_create.restype = ctypes.c_void_p
    lib.Highs_destroy.argtypes = [ctypes.c_void_p]
    lib.Highs_setBoolOptionValue.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    lib.Highs_readModel.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    lib.Highs_feasibilityRelaxation.argtypes = [ctypes.c_void_p, ctypes.c_double, ctypes.c_double, ctypes.c_double,
                                                ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
    lib.Highs_getObjectiveValue.argtypes = [ctypes.c_void_p]
    lib.Highs_getObjectiveValue.restype = ctypes.c_double
    h = lib.Highs_create()
    try:
        lib.Highs_setBoolOptionValue(h, b"output_flag", 0)
        assert lib.Highs_readModel(h, path.encode()) == 0
        assert lib.Highs_feasibilityRelaxation(h, 1.0, 1.0, 1.0 if rows else -1.0, None, None, None) == 0
        return lib.Highs_getObjectiveValue(h)
    finally:
        lib.Highs_destroy(h)


def test_klein1_with_bound_preferences_and_every_second_phase():
    path = os.path.join(data_dir(), "infeasible", "klein1.mps")
    p = korvex.problem()
    p.controls.outputlog = 0
    p.readProb(path)
    rows, cols = p.attributes.rows, p.attributes.cols
    for rowpref in (0, 1):
        assert p.repairInfeas("c", "f", " ", rowpref, rowpref, 1, 1, 0) == 0
        p1 = p.attributes.penaltyvalue
        assert p1 == pytest.approx(highs_feasibility_relaxation(path, rowpref), rel=1e-6)
        for phase in "oxn":
            for delta in (0, 0.1):
                for status in (p.repairInfeas("c", phase, " ", rowpref, rowpref, 1, 1, delta),
                               p.repairWeightedInfeas([rowpref] * rows, [rowpref] * rows, [1] * cols, [1] * cols,
                                                      phase, delta, "")):
                    a = p.attributes
                    # the second phase's optimum, or (its solver ending without values) the first phase's point
                    assert (status, a.solvestatus, a.solstatus) in ((0, SolveStatus.COMPLETED, SolStatus.OPTIMAL),
                                                                   (3, SolveStatus.FAILED, SolStatus.FEASIBLE))
                    assert p1 * (1 - 1e-6) <= a.penaltyvalue <= (1 + delta) * p1 * (1 + 1e-6)
                    assert len(p.getSolution()) == cols
    assert (p.attributes.rows, p.attributes.cols) == (rows, cols)


def transport(m, n):
    """Supplies of 10 against larger demands: infeasible, and a repair of some size."""
    rng = random.Random(3)
    p = korvex.problem()
    p.controls.outputlog = 0
    x = p.addVariables(m, n)
    p.addConstraint(korvex.Sum(x[i, j] for j in range(n)) <= 10 for i in range(m))
    p.addConstraint(korvex.Sum(x[i, j] for i in range(m)) >= 10 * m / n + 1 for j in range(n))
    p.setObjective(korvex.Sum(rng.random() * x[i, j] for i in range(m) for j in range(n)))
    return p


def test_time_limit_and_interrupt_stop_the_repair():
    p = transport(200, 200)
    rows, cols = p.attributes.rows, p.attributes.cols
    p.controls.timelimit = 0.02
    assert p.repairInfeas("c", "o", " ", 1, 1, 0, 0, 0) == 3
    a = p.attributes
    assert (a.solvestatus, a.stopstatus) == (SolveStatus.STOPPED, StopType.TIMELIMIT)
    assert a.solstatus in (SolStatus.NOTFOUND, SolStatus.FEASIBLE)
    p.controls.timelimit = 0
    status, ticks = interrupted(p, lambda: p.repairWeightedInfeas([1] * rows, [], [], [], "o", 0, ""), 3)
    assert status == 3 and ticks >= 3
    assert (p.attributes.solvestatus, p.attributes.stopstatus) == (SolveStatus.STOPPED, StopType.USER)
    assert (p.attributes.rows, p.attributes.cols) == (rows, cols)


def test_ctrl_c_stops_the_repair_and_the_handler_comes_back():
    ctrl_c_in_subprocess(
        "from test_repair import transport",
        "p = transport(200, 200)",
        'status = p.repairInfeas("c", "o", " ", 1, 1, 0, 0, 0)',
        """
        a = p.attributes
        assert (status, a.solvestatus, a.stopstatus) == (3, korvex.SolveStatus.STOPPED, korvex.StopType.CTRLC), \\
            (status, a.solvestatus, a.stopstatus)
        """, 0.02)
