"""Branching directives: the methods' arguments, files, and their effect on the search."""
import os

import pytest

import korvex
from test_api_support import raises

LENGTHS = "Arguments 'colind', 'priority', 'dir', 'uppseudo' and 'downpseudo' must have the same length"


@pytest.fixture
def p():
    """Three integer columns x0..x2 in [0, 9], a continuous column c and one SOS1 set."""
    p = korvex.problem()
    x = [p.addVariable(name=f"x{j}", vartype=korvex.integer, ub=9) for j in range(3)]
    p.addVariable(name="c")
    p.addSets(["1"], [0], [x[0], x[1]], [1, 2])
    return p


def test_loading_and_reading_back(p):
    assert p.getDirs() == ([], [], [], [], [])
    p.loadDirs([0])                                   # only colind: every default
    assert p.getDirs() == ([0], [500], ["N"], [0.0], [0.0])
    # variables, names and ints mixed; -1 is the first set; None is the same as absent
    x1 = p.getVariable(1)
    p.loadDirs([x1, "x2", -1], [3, 2, 1], "UDN", None, [0.5, 1, 2])
    assert p.getDirs() == ([1, 2, -1], [3, 2, 1], ["U", "D", "N"], [0.0] * 3, [0.5, 1.0, 2.0])
    p.loadPresolveDirs(colind=[2], dir=["D"])         # not presolved: acts as loadDirs
    assert p.getDirs() == ([2], [500], ["D"], [0.0], [0.0])
    p.loadDirs([])
    assert p.getDirs() == ([], [], [], [], [])


@pytest.mark.parametrize("method", ["loadDirs", "loadPresolveDirs"])
def test_argument_refusals_change_nothing(p, method):
    load = getattr(p, method)
    load([0, 1], [7, 8])
    before = p.getDirs()
    with raises(korvex.InterfaceError, LENGTHS):
        load([0, 1, 2], [1, 2])                       # other arrays absent
    with raises(korvex.InterfaceError, LENGTHS):
        load([0, 1, 2], [])                           # empty is not absent
    # conversions come before the length checks
    with raises(korvex.InterfaceError, "Error in element 1 of argument 'downpseudo': Value is not a number"):
        load([0, 1, 2], [1, 2], None, None, [1, "a", 3])
    with raises(korvex.InterfaceError, "Argument 'colind' must be iterable"):
        load(None)
    with raises(korvex.InterfaceError, "Argument 'priority' must be iterable"):
        load([0], 5)
    with pytest.raises(korvex.InterfaceError, match="^Error in element 0 of argument 'colind'"):
        load([-2])
    with pytest.raises(korvex.InterfaceError, match="^Error in element 0 of argument 'colind'"):
        load(["nosuch"])
    with pytest.raises(TypeError):
        load()
    # the library's refusals: continuous column, range, repeated entity, values
    for args, text in [(([3],), "continuous"), (([0, 0],), "appears twice"), (([0], [1001]), "0..1000"),
                       (([0], None, ["X"]), "not U, D or N"), (([0], None, None, [-1.0]), "pseudo cost")]:
        with pytest.raises(korvex.SolverError, match=text):
            load(*args)
    assert p.getDirs() == before


def test_branch_marks(p):
    p.loadBranchDirs([0, "x1"])
    p.loadBranchDirs([1, -1], dir=[0, 1])
    with raises(korvex.InterfaceError, "Arguments 'colind' and 'dir' must have the same length"):
        p.loadBranchDirs([0], [1, 1])
    with pytest.raises(korvex.SolverError, match="expected 1"):
        p.loadBranchDirs([0], [2])
    p.setProbName("marks")
    p.writeDirs("marks.dir")
    try:
        with open("marks.dir") as f:
            assert [ln for ln in f.read().splitlines() if ln.startswith("BRANCH")] == ["BRANCH S #0", "BRANCH C x0"]
    finally:
        os.remove("marks.dir")


def test_files_round_trip_and_default_name(p, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    p.setProbName("dirs")
    p.loadDirs([2, -1, 0], [5, 6, 7], "DUN", [0.1, 1e-7, 3], [1 / 3, 0, 2.5])
    p.writeDirs()                                     # dirs.dir
    want = p.getDirs()
    p.loadDirs([])
    p.readDirs(None)
    assert p.getDirs() == want
    with raises(korvex.InterfaceError, "Error in argument 'filename': Value is not a string"):
        p.readDirs(3)
    with pytest.raises(korvex.SolverError, match="cannot open"):
        p.readDirs("missing.dir")
    (tmp_path / "bad.dir").write_text("DIR C x0 1\nDIR C nosuch\n")
    with pytest.raises(korvex.SolverError, match="line 2: no column is named 'nosuch'"):
        p.readDirs("bad.dir")
    assert p.getDirs() == want                        # a bad file changes nothing


def test_directives_follow_deletions_and_save(p, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    p.loadDirs([0, 1, 2, -1], [1, 2, 3, 4])
    p.delCols([p.getVariable(1)])
    assert p.getDirs()[:2] == ([0, 1, -1], [1, 3, 4])
    p.delSets([0])
    assert p.getDirs()[:2] == ([0, 1], [1, 3])
    p.setProbName("saved")
    p.saveAs()
    q = korvex.problem()
    q.restore("saved")
    assert q.getDirs() == p.getDirs()
