"""Names, controls, information, save and restore, tuning."""
import os
import threading

import pytest

import korvex
from korvex import ParameterType
from test_api_support import raises, LP_OPT, named_lp, MIP, MIP_OPT, data_dir, objval


@pytest.fixture
def p():
    return named_lp(["cap", "mix"])


def test_problem_name(p):
    p.setProbName("n\u00e4me")
    assert p.getProbName() == "n\u00e4me"
    p.setProbName("a" * 1024)
    assert p.getProbName() == "a" * 1024
    with pytest.raises(korvex.SolverError):
        p.setProbName("a" * 1025)
    with raises(korvex.InterfaceError, "Error in argument 'probname': Value is not a string"):
        p.setProbName(None)
    with pytest.raises(TypeError):
        p.setProbName()


def test_names_and_indices(p):
    assert p.getIndex(2, "y") == 1
    assert p.getIndex(korvex.Namespaces.ROW, "mix") == 1
    assert p.getIndex(2, "nosuch") == -1
    with raises(korvex.InterfaceError, "Missing argument 'name'"):
        p.getIndex(2)
    with raises(korvex.InterfaceError, "Missing argument 'name'"):
        p.getIndex("not looked at", None)
    with raises(korvex.InterfaceError, "Error in argument 'type': Value is not an integer"):
        p.getIndex("2", "x")
    with raises(korvex.InterfaceError, "Error in argument 'name': Value is not a string"):
        p.getIndex(2, 3)
    p.addNames(2, ["u", "v"], 0, 1)
    assert p.getIndex(2, "v") == 1 and p.getIndex(2, "y") == -1
    with raises(korvex.InterfaceError, "Error in argument 'names': Value is not a string"):
        p.addNames(2, ["a", 5], 0, 1)
    with raises(korvex.InterfaceError, "Error in argument 'names': Value contains a NUL character"):
        p.addNames(2, ["a\0b"], 0, 0)
    with pytest.raises(korvex.InterfaceError, match=r"^Error in argument 'names': .*not iterable"):
        p.addNames(2, 5, 0, 0)

    def gen():
        yield "a"
        raise ValueError("names broke")

    with raises(korvex.InterfaceError, "Error in argument 'names': names broke"):
        p.addNames(2, gen(), 0, 1)
    with pytest.raises(korvex.SolverError):
        p.addNames(2, ["a", "b", "c"], 0, 1)
    assert p.getIndex(2, "v") == 1


def test_get_index_of_objects(p):
    x = p.getVariable()[1]
    with pytest.warns(korvex.DeprecationWarning):
        assert p.getIndex(x) == 1
    with raises(korvex.InterfaceError, "Unexpected argument: None"):
        p.getIndex(x, None)


def test_control_and_attribute_info(p):
    assert p.getControlInfo("timelimit") == (8101, ParameterType.DOUBLE)
    ident, kind = p.getControlInfo("nosuchcontrol")
    assert (ident, kind) == (-1, ParameterType.NOTDEFINED) and type(kind) is ParameterType
    assert p.getAttribInfo("rows") == (1001, ParameterType.INT)
    assert p.getAttribInfo(name="nosuch") == (-1, ParameterType.NOTDEFINED)
    with raises(korvex.InterfaceError, "Error in argument 'name': Value is not a string"):
        p.getControlInfo(None)


def test_default_controls(p):
    p.controls.timelimit = 5.0
    p.setDefaultControl("timelimit")
    assert p.controls.timelimit == 0
    p.controls.timelimit = 5.0
    p.setDefaultControl(8101)
    assert p.controls.timelimit == 0
    p.controls.timelimit = 5.0
    p.setDefaults()
    assert p.controls.timelimit == 0
    with raises(korvex.InterfaceError, "Unknown control: nosuch"):
        p.setDefaultControl("nosuch")
    with raises(korvex.InterfaceError, "Error in argument 'control': Value is not an integer"):
        p.setDefaultControl(3.5)
    with pytest.raises(korvex.SolverError):
        p.setDefaultControl(12345)
    p.dumpControls()


def test_messages_and_log_file(p, tmp_path):
    p.setMessageStatus(1, 0)
    assert p.getMessageStatus(msgcode=1) == 0
    p.setMessageStatus(1, 1)
    assert p.getMessageStatus(1) != 0
    with raises(korvex.InterfaceError, "Error in argument 'status': Value is not an integer"):
        p.setMessageStatus(1, "on")
    with raises(korvex.InterfaceError, "Error in argument 'filename': Value is not a string"):
        p.setLogFile(None)
    log = tmp_path / "solve.log"
    p.setLogFile(str(log))
    p.optimize()
    assert log.exists()


def test_save_and_restore_round_trip(p, tmp_path, monkeypatch):
    p.setProbName("saved")
    p.optimize()
    x = p.getSolution()
    path = str(tmp_path / "state")
    p.saveAs(path)
    assert os.path.exists(path + ".svf")
    p.loadMIP(**MIP)
    p.optimize()
    assert objval(p) == pytest.approx(MIP_OPT)
    p.restore(path)
    assert (p.attributes.rows, p.attributes.cols) == (2, 2)
    assert p.getIndex(2, "y") == 1 and p.getIndex(1, "mix") == 1
    if hasattr(p, "getVariable"):
        assert len(p.getVariable()) == 2
    p.optimize()
    assert objval(p) == pytest.approx(LP_OPT)
    assert p.getSolution() == pytest.approx(x)
    # the verbatim flag, and save() with the problem's name in the working folder
    p.restore(path + ".svf", "v")
    monkeypatch.chdir(tmp_path)
    p.save()
    assert os.path.exists(tmp_path / "saved.svf")
    p.restore(None, None)
    with pytest.raises(korvex.SolverError):
        p.restore(str(tmp_path / "missing"))
    assert p.attributes.cols == 2


def test_crossover(p):
    assert p.crossoverLpSol() == 1
    p.optimize("b")
    assert p.crossoverLpSol() == 0
    assert objval(p) == pytest.approx(LP_OPT)


def in_new_thread(call):
    """call() in a thread that has run no solve yet."""
    out = []
    t = threading.Thread(target=lambda: out.append(call()))
    t.start()
    t.join()
    assert out, "the call raised"
    return out[0]


def test_crossover_where_the_solver_never_ran(p):
    # from a loaded point, in a thread that has run no solve (HiGHS's crossover needs that thread's
    # task scheduler); the optimum (3, 1) is the best vertex of the four
    p.loadLPSol([0, 0])
    assert in_new_thread(p.crossoverLpSol) == 0
    assert objval(p) == pytest.approx(LP_OPT) and p.getSolution() == pytest.approx([3, 1])
    data = data_dir()
    q = korvex.problem()
    q.controls.outputlog = 0
    q.readProb(os.path.join(data, "netlib", "afiro.mps.gz"))
    q.loadLPSol([0.0] * q.attributes.cols)
    assert in_new_thread(q.crossoverLpSol) == 0
    assert objval(q) == pytest.approx(-4.6475314286e+02, rel=1e-9)   # published optimum
    # after a branch-and-cut solve (directives loaded): crossover from the MIP optimum to the
    # optimum of the relaxation, which the simplex method finds on its own
    path = os.path.join(data, "mip", "flugpl.mps")
    q.readProb(path)
    q.loadDirs([1], [1], ["U"])
    q.optimize()
    assert objval(q) == pytest.approx(1201500)                         # published optimum
    assert in_new_thread(q.crossoverLpSol) == 0
    r = korvex.problem()
    r.controls.outputlog = 0
    r.readProb(path)
    r.lpOptimize()
    assert objval(q) == pytest.approx(objval(r), rel=1e-9) and objval(r) < 1201500


def test_tuner_round_trip(tmp_path):
    p = korvex.problem()
    p.loadMIP(**MIP)
    p.tune("g")
    method = tmp_path / "method.txt"
    p.tunerWriteMethod(str(method))
    assert method.stat().st_size > 0
    p.tunerReadMethod(methodfile=str(method))
    with pytest.raises(korvex.SolverError):
        p.tunerReadMethod(str(tmp_path / "missing.txt"))
    p.optimize()
    assert objval(p) == pytest.approx(MIP_OPT)


def test_tune_problem_set_file(tmp_path):
    data = data_dir()
    setfile = tmp_path / "set.txt"
    setfile.write_text("\n".join(os.path.join(data, f) for f in ("netlib/afiro.mps.gz", "netlib/sc50a.mps.gz")))
    p = korvex.problem()
    p.tuneProbSetFile(str(setfile))
    p.tuneProbSetFile(str(setfile), 0, None)
    with pytest.raises(korvex.SolverError):
        p.tuneProbSetFile(str(tmp_path / "missing.txt"))
