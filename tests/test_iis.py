"""IIS methods: the search on small models, results, files, errors, stopping."""

import pytest

import korvex
from korvex import SolStatus
from conftest import ctrl_c_in_subprocess
from test_api_support import help_synopsis, interrupted, raises, uninitialized_problem


def modelled():
    p = korvex.problem()
    x = p.addVariable(ub=1, name="x")
    y = p.addVariable(name="y")
    p.addConstraint(korvex.constraint(x + y >= 3, name="c1"), y <= 1)
    return p


def test_search_results_and_their_shapes():
    p = modelled()
    assert p.IISStatus() == (-1, [], [], [], [])
    assert p.firstIIS(mode=1) == 0
    niis, nrows, ncols, suminf, numinf = p.IISStatus()
    assert niis == 1 and nrows == [2, 2] and ncols == [1, 1] and numinf[0] == 1 and suminf[0] == pytest.approx(1)
    rowind, colind, contype, bndtype, duals, djs, isorows, isocols = p.getIISData(1)
    assert rowind == [0, 1] and colind == [0] and all(type(i) is int for i in rowind + colind)   # not objects
    assert (contype, bndtype, duals, djs, isorows, isocols) == (["G", "L"], ["U"], [-1.0, 1.0], [1.0], [-1, -1], [-1])
    assert [len(v) for v in p.getIISData(0)] == [nrows[0]] * 1 + [ncols[0]] + [nrows[0], ncols[0]] * 3
    assert p.nextIIS() == 1
    p.IISIsolations(1)
    assert p.getIISData(1)[6:] == ([1, 1], [1])
    assert p.firstIIS(True) == 0   # bool is an int: mode 1
    p.clearIIS()
    assert p.IISStatus()[0] == -1


def test_feasible_problem_and_bad_arguments():
    p = korvex.problem()
    x = p.addVariable(ub=4)
    p.addConstraint(x >= 1)
    assert p.firstIIS(2) == 1
    p = modelled()
    with raises(korvex.InterfaceError, "Error in argument 'mode': Value is not an integer"):
        p.firstIIS("1")
    with pytest.raises(TypeError):
        p.firstIIS()
    p.firstIIS(0)
    for name, args, message in [("getIISData", [2 ** 31], "'iis': int too big to convert"),
                                ("writeIIS", ["0", "0"], "'iis': Value is not an integer"),
                                ("writeIIS", [0, "0"], "'filetype': Value is not an integer")]:
        with raises(korvex.InterfaceError, "Error in argument " + message):
            getattr(p, name)(*args)
    with pytest.raises(korvex.SolverError, match="IIS 1 does not exist"):
        p.printIIS(1)


def test_print_and_write(tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    p = modelled()
    p.setProbName("small")
    p.controls.outputlog = 1   # (other tests change the module-wide default)
    p.firstIIS(1)
    p.printIIS(1)
    out = capsys.readouterr().out
    assert "IIS 1: 2 constraint(s), 1 bound(s)" in out and "row c1 G 3  multiplier -1" in out
    p.writeIIS(1, 0)                       # the problem's name, LP by default
    p.writeIIS(1, 0, None, None)
    p.writeIIS(1, 0, "iis.mps", "")
    p.writeIIS(1, 1, "iis.csv")
    for name in ["small_iis1.lp", "iis.mps"]:
        q = korvex.problem()
        q.readProb(name)
        assert (q.attributes.rows, q.attributes.cols) == (2, 2)
        assert q.optimize()[1] == SolStatus.INFEASIBLE
    with open("iis.csv") as f:
        lines = f.read().splitlines()
    assert lines[0] == "name,kind,type,value,multiplier,isolation"
    assert lines[1:] == ["c1,row,G,3,-1,-1", "R2,row,L,1,1,-1", "x,bound,U,1,1,-1"]


def many_iis(n):
    """x <= 1 against rows x >= 2, 3, ...: n IISs."""
    p = korvex.problem()
    p.loadLP(probname="many", rowtype="G" * n, rhs=[2.0 + k for k in range(n)], objcoef=[1], start=[0, n],
             rowind=list(range(n)), rowcoef=[1.0] * n, lb=[-korvex.infinity], ub=[1])
    return p


def stopped_search_found(p, n, reason):
    """After a stopped IISAll: the statuses say so, and IISStatus counts IISs that are each one of the n
    known ones of many_iis (a row x >= 2 + k with the bound x <= 1), all different."""
    assert (p.attributes.solvestatus, p.attributes.stopstatus) == (korvex.SolveStatus.STOPPED, reason)
    found = p.IISStatus()[0]
    assert 0 <= found < n
    rows = set()
    for k in range(1, found + 1):
        rowind, colind, contype, bndtype = p.getIISData(k)[:4]
        assert len(rowind) == 1 and contype == ["G"] and (colind, bndtype) == ([0], ["U"])
        rows.add(rowind[0])
    assert len(rows) == found
    return found


def test_interrupt_from_thread_stops_search_and_keeps_problem():
    n = 3000
    p = many_iis(n)
    _, ticks = interrupted(p, p.IISAll, 5)
    assert ticks >= 5   # the search released the interpreter lock
    found = stopped_search_found(p, n, korvex.StopType.USER)
    assert (p.attributes.rows, p.attributes.cols) == (n, 1)
    # going on, the search takes its stop out of the statuses again
    assert p.nextIIS() == 0 and p.IISStatus()[0] == found + 1
    assert (p.attributes.solvestatus, p.attributes.stopstatus) == (korvex.SolveStatus.UNSTARTED, 0)


def test_time_limit_stops_search_and_counts_what_it_found():
    n = 3000
    p = many_iis(n)
    p.controls.timelimit = 0.2
    assert p.IISAll() is None
    p.controls.timelimit = 10
    p.lpOptimize()   # infeasible
    statuses = (p.attributes.solvestatus, p.attributes.solstatus, p.attributes.stopstatus)
    assert statuses == (korvex.SolveStatus.COMPLETED, SolStatus.INFEASIBLE, 0)
    p.controls.timelimit = 0.2
    assert p.IISAll() is None
    stopped_search_found(p, n, korvex.StopType.TIMELIMIT)
    assert p.attributes.solstatus == SolStatus.INFEASIBLE
    # a search that ends by MAXIIS is not stopped: the solve's statuses are back
    p.controls.timelimit = 0
    p.controls.maxiis = 2
    p.IISAll()
    assert p.IISStatus()[0] == 2
    assert (p.attributes.solvestatus, p.attributes.solstatus, p.attributes.stopstatus) == statuses


def test_ctrl_c_stops_search_and_the_handler_comes_back():
    ctrl_c_in_subprocess(
        "from test_iis import many_iis",
        """
        n = 3000
        p = many_iis(n)
        """,
        "p.IISAll()",
        "assert 0 <= p.IISStatus()[0] < n", 0.2)


ANALYSIS_METHODS = ("clearIIS firstIIS nextIIS IISAll printIIS IISIsolations writeIIS IISStatus getIISData "
                    "repairWeightedInfeas repairWeightedInfeasBounds repairInfeas").split()
NO_ARGUMENTS = {"clearIIS", "nextIIS", "IISAll", "IISStatus"}


def test_help_texts_and_uninitialized_problem():
    p = uninitialized_problem()
    for name in ANALYSIS_METHODS:
        assert "problem." + name + "(" in help_synopsis(name), name
        with raises(korvex.ModelError, "Problem is not initialized"):
            getattr(p, name)(*([] if name in NO_ARGUMENTS else ["bad"] * 3))   # before any argument is looked at
