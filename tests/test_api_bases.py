"""Bases, solution input, diagnostics and the presolved form through the problem methods."""
import os
import re
import struct

import pytest

import korvex
from korvex import BasisStatus, LPStatus
from test_api_support import LP, LP_OPT, data_dir, named_lp

# LP's optimum (3, 1): x at its upper bound, y basic, row 0 at its rhs (slack at 0), row 1's slack basic
OPT_ROWS = [BasisStatus.NONBASIC_LOWER, BasisStatus.BASIC]
OPT_COLS = [BasisStatus.NONBASIC_UPPER, BasisStatus.BASIC]


def lp():
    prob = korvex.problem()
    prob.loadLP(**LP)
    prob.setControl("outputlog", 0)
    return prob


def test_optimal_basis_restarts_without_iterations(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    # the basis from arrays; from a file with the names written by default (R1, R2, C1, C2); from the problem's
    # own names with no file name given (the problem's name with .bss)
    (tmp_path / "opt.bss").write_text("NAME lp\n UL C1\n XU C2 R1\nENDATA\n")
    (tmp_path / "lp.bss").write_text("NAME lp\n UL x\n XU y a\nENDATA\n")
    for prob, load in ((lp(), lambda q: q.loadBasis(OPT_ROWS, OPT_COLS)),
                       (lp(), lambda q: q.readBasis("opt.bss", "v")),
                       (named_lp(["a", "b"]), lambda q: q.readBasis())):
        prob.setControl("outputlog", 0)
        load(prob)
        prob.lpOptimize()
        assert prob.attributes.simplexiter == 0 and prob.attributes.objval == pytest.approx(LP_OPT)


def test_bad_bases_refused():
    prob = lp()
    with pytest.raises(korvex.SolverError, match=re.escape("1 row statuses for 2 rows")):
        prob.loadBasis([1], [0, 0])
    with pytest.raises(korvex.InterfaceError, match="must be iterable"):
        prob.loadBasis(None, [0])


def test_pivot_from_slack_basis():
    prob = korvex.problem()
    prob.loadLP(**dict(LP, ub=[korvex.infinity] * 2))
    prob.loadBasis([1, 1], [0, 0])
    order = prob.getPivotOrder()
    assert sorted(order) == [0, 1]
    # x enters in row 0's place (the ratio test's choice): x = 4
    prob.pivot(prob.getVariable(0), prob.getConstraint(0))
    after = prob.getPivotOrder()
    assert after[order.index(0)] == 2 and after[order.index(1)] == 1
    assert prob.getSolution() == pytest.approx([4, 0])
    with pytest.raises(korvex.InterfaceError, match="Error in argument 'enter': Invalid variable or constraint"):
        prob.pivot(-1, 0)
    assert korvex.problem().getPivotOrder() == []


def test_loaded_solutions_and_infeasibilities():
    prob = lp()
    prob.lpOptimize()
    assert prob.getInfeas() == prob.getScaledInfeas() == ([], [], [], [])
    assert prob.loadLPSol([5, -1]) == 0 and prob.getSolution() == [5, -1]
    x, slack, duals, djs = prob.getInfeas()
    assert x == [0, 1] and slack == []    # x above 3, y below 0; rows at 4 <= 4 and 2 <= 6
    # reduced costs c - A'y = (-4, -5): y is below its bound, not at its upper one
    assert prob.loadLPSol([5, -1], duals=[0, 1]) == 0
    assert prob.getInfeas()[2:] == ([1], [1])
    # columns scaled by 2^3: a violation of 4e-6 becomes 5e-7, inside the tolerance 1e-6
    prob.scale([0, 0], [3, 3])
    prob.loadLPSol([3 + 4e-6, 0])
    assert prob.getInfeas()[0] == [0] and prob.getScaledInfeas()[0] == []
    assert prob.loadLPSol() == 0
    with pytest.raises(korvex.SolverError):
        prob.getInfeas()


def test_solution_files(tmp_path):
    prob = named_lp(["a", "b"])
    prob.setControl("outputlog", 0)
    slx = tmp_path / "sol.slx"
    slx.write_text("# a solution\nNAME first\nC x 2.5\nC y 0.5\nR a 1\n")
    prob.readSlxSol(str(slx), "v")
    assert prob.getSolution() == [2.5, 0.5]
    prob.readSlxSol(str(tmp_path / "sol"), "l")
    assert prob.getSolution() == [2.5, 0.5]
    slx.write_text("NAME s\nC nosuch 1\n")
    with pytest.raises(korvex.SolverError, match="unknown column 'nosuch'"):
        prob.readSlxSol(str(slx), "v")
    for kwargs, arg in ((dict(filename=5), "filename"), (dict(filename=str(slx), flags=1), "flags")):
        with pytest.raises(korvex.InterfaceError, match=f"Error in argument '{arg}': Value is not a string"):
            prob.readSlxSol(**kwargs)
    # a binary file written by hand in the documented layout, then damaged
    body = b"KRVXSOL\0" + struct.pack("<Iqq I", 1, 2, 2, 0) + struct.pack("<4d", 3, 1, 0, 0)
    path = tmp_path / "bin.sol"
    path.write_bytes(body + struct.pack("<Q", fnv1a(body)))
    prob.readBinSol(str(path), "v")
    assert prob.getSolution() == [3, 1]


def fnv1a(data):
    h = 1469598103934665603
    for b in data:
        h = ((h ^ b) * 1099511628211) % (1 << 64)
    return h


def test_unbounded_and_barrier():
    prob = korvex.problem()
    prob.setControl("outputlog", 0)
    # min -x - y with x - y <= 1: unbounded along x = y
    prob.loadLP("unb", "L", [1], None, [-1, -1], [0, 1, 2], None, [0, 0], [1, -1], [0, 0], [1e20, 1e20])
    prob.setControl("presolve", 0)
    prob.lpOptimize("p")
    assert prob.getUnbVec() in (0, 1, 2)
    prob = lp()
    prob.lpOptimize()
    assert prob.getLastBarSol() == ([0, 0], [0, 0], [0, 0], [0, 0], LPStatus.UNSOLVED)
    prob.lpOptimize("b")
    x, *_, status = prob.getLastBarSol()
    assert status == LPStatus.OPTIMAL and x == pytest.approx([3, 1], abs=1e-5)


def test_nonlinear_problem_refuses_a_solution():
    prob = korvex.problem()
    x = prob.addVariable(lb=0, ub=1)
    prob.addConstraint(korvex.sin(x) <= 0.5)
    with pytest.raises(korvex.SolverError, match="nonlinear formulas"):
        prob.loadLPSol([0.5])


def test_presolved_form():
    prob = korvex.problem()
    prob.readProb(os.path.join(data_dir(), "mip", "p0548.mps"))
    prob.setControl("outputlog", 0)
    attrs = prob.attributes
    rows, cols = attrs.rows, attrs.cols
    nvars = len(prob.getVariable())
    prob.mipOptimize("l")
    assert attrs.presolvestate & 6 and attrs.rows < rows and attrs.cols < cols
    rowmap, colmap = prob.getPresolveMap()
    assert len(rowmap) == attrs.rows and len(colmap) == attrs.cols
    kept = [j for j in colmap if j >= 0]
    x = prob.getVariable(0)
    for item, what in ((x, "objects"), (x.name, "names")):
        with pytest.raises(korvex.InterfaceError, match=f"Cannot pass variable {what} when problem is presolved"):
            prob.loadSecureVecs(colind=[item])
    assert prob.loadLPSol([0] * cols) == 1
    relaxed = attrs.objval
    # the presolved problem's basis: the original's lengths are refused; the slack basis makes every basis
    # row hold its own row's slack
    m = attrs.rows
    with pytest.raises(korvex.SolverError, match=f"{rows} row statuses for {m} rows"):
        prob.loadPresolveBasis([BasisStatus.BASIC] * rows, [BasisStatus.NONBASIC_LOWER] * cols)
    prob.loadPresolveBasis([BasisStatus.BASIC] * m, [BasisStatus.NONBASIC_LOWER] * attrs.cols)
    assert sorted(prob.getPivotOrder()) == list(range(m))
    prob.postSolve()
    assert attrs.presolvestate == 0 and attrs.rows == rows and len(prob.getVariable()) == nvars   # objects untouched
    with pytest.raises(korvex.SolverError, match="not in presolved form"):
        prob.loadPresolveBasis([BasisStatus.BASIC] * rows, [BasisStatus.NONBASIC_LOWER] * cols)
    # a column presolve removes survives once secured
    removed = sorted(set(range(cols)) - set(kept))[0]
    prob.loadSecureVecs(colind=[removed])
    prob.mipOptimize("l")
    assert removed in prob.getPresolveMap()[1]
    assert attrs.objval <= relaxed + 1e-6           # a weaker presolve: a relaxation at most as tight
    prob.chgColType([0], "C")                       # a change leaves the presolved form
    assert attrs.presolvestate == 0
