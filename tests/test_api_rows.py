"""Adding and deleting rows, columns and sets: object lists in step with the solver."""
import sys

import pytest

import korvex
from test_api_support import raises
from test_api_constraints_support import lp_min, named_lp, solve


@pytest.fixture
def p():
    return named_lp()


def sizes(p):
    a = p.attributes
    return (a.rows, a.cols, a.sets)


def lists(p):
    return p.getConstraint(), p.getVariable(), p.getSOS()


def assert_in_step(p):
    cons, vars_, sets = lists(p)
    assert (len(cons), len(vars_), len(sets)) == sizes(p)
    for objs in (cons, vars_, sets):
        assert [o.index for o in objs] == list(range(len(objs)))


class TestAdders:
    def test_rows_appear_at_their_indices_and_solve(self, p):
        old = p.getConstraint()
        x, y = p.getVariable()
        # x + y <= 3 with start holding one entry per row, then the same with the end entry
        assert p.addRows("L", [3], None, [0], [x, "y"], [1, 1]) is None
        p.addRows(rowtype=["G"], rhs=[-10], start=[0, 1], colind=[0], rowcoef=[1])
        cons = p.getConstraint()
        assert cons[:2] == old and [c.index for c in cons[2:]] == [2, 3]
        assert_in_step(p)
        assert solve(p) == pytest.approx(-9)      # x = 3, y = 0
        p.addRows(["E", "N"], [1, 0])             # empty rows
        assert sizes(p) == (6, 2, 0)
        assert_in_step(p)

    def test_columns_appear_at_their_indices_and_solve(self, p):
        x, y = p.getVariable()
        assert p.addCols() is None
        assert len(p.getVariable()) == 2
        p.addCols([-4], [0, 2], ["cap", 1], [1, 1], [0], [1])
        z = p.getVariable(2)
        assert z.index == 2 and p.getVariable()[:2] == [x, y]
        assert_in_step(p)
        ref = lp_min([-3, -2, -4], [[1, 1, 1], [1, 3, 1]], [4, 6], bounds=[(0, 3), (0, None), (0, 1)])
        assert solve(p) == pytest.approx(ref) == pytest.approx(-13)   # x = 3, z = 1
        p.addCols(lb=[0, 0, 0])
        assert_in_step(p)

    def test_sets_appear_at_their_indices(self, p):
        assert p.addSets(["1"], [0], ["x", 1], [1, 2]) is None
        s = p.getSOS(0)
        assert s.index == 0 and sizes(p) == (2, 2, 1)
        p.addSets("12", [0, 1, 2], [0, 1], [1, 2])
        assert p.getSOS()[0] is s and [o.index for o in p.getSOS()] == [0, 1, 2]
        assert_in_step(p)

    @pytest.mark.parametrize("call, match", [
        (lambda p: p.addRows("X", [1]), "rowtype"),
        (lambda p: p.addRows("LL", [1, 1], start=[0], colind=[0], rowcoef=[1]), "'start' has 1 entries, expected 2 or 3"),
        (lambda p: p.addRows("L", [1], start=[0, 1, 1], colind=[0], rowcoef=[1]), "'start' has 3 entries"),
        (lambda p: p.addRows("L", [1], colind=[0], rowcoef=[1]), "'start' is required"),
        (lambda p: p.addRows("L", [1], start=[0], colind=[7], rowcoef=[1]), "colind"),
        (lambda p: p.addCols([1, 1], start=[0, 1, 2, 2], rowind=[0, 1], rowcoef=[1, 1]), "'start' has 4 entries"),
        (lambda p: p.addCols([1], start=[0], rowind=[5], rowcoef=[1]), "rowind"),
        (lambda p: p.addSets("1", [0], [0, 9], [1, 2]), "colind"),
        (lambda p: p.addSets("12", [0], [0, 1], [1, 2]), "'start' has 1 entries"),
    ])
    def test_refused_additions_leave_lists_as_they_were(self, p, call, match):
        before = lists(p)
        with pytest.raises(korvex.SolverError, match=match):
            call(p)
        assert lists(p) == before
        assert_in_step(p)

    @pytest.mark.parametrize("call, message", [
        (lambda p: p.addRows(["L"], [1.0, 2.0]), "Arguments 'rowtype', 'rhs' and 'rng' must have the same length"),
        (lambda p: p.addRows("L", [1], rng=[1, 2]), "Arguments 'rowtype', 'rhs' and 'rng' must have the same length"),
        (lambda p: p.addRows("L", [1], colind=[0, 1], rowcoef=[1]),
         "Arguments 'colind' and 'rowcoef' must have the same length"),
        (lambda p: p.addRows(rowtype=None, rhs=[]), "Argument 'rowtype' must be iterable"),
        (lambda p: p.addRows("L", [1], start=[0], colind=["nosuch"], rowcoef=[1]),
         "Error in element 0 of argument 'colind': Unknown variable: nosuch"),
        (lambda p: p.addCols(lb=[0, 0], ub=[1, 1, 1]), "Arguments 'objcoef', 'lb' and 'ub' must have the same length"),
        (lambda p: p.addCols([1], start=[0], rowind=[0], rowcoef=[1, 2]),
         "Arguments 'rowind' and 'rowcoef' must have the same length"),
        (lambda p: p.addSets("1", [0], [0, 1], [1]), "Arguments 'colind' and 'refval' must have the same length"),
        (lambda p: p.addSets("1", None, [0], [1]), "Argument 'start' must be iterable"),
        (lambda p: p.chgColType([0, 1], "I"), "Arguments 'colind' and 'coltype' must have the same length"),
    ])
    def test_argument_messages(self, p, call, message):
        before = lists(p)
        with raises(korvex.InterfaceError, message):
            call(p)
        assert lists(p) == before

    def test_missing_required_arguments(self, p):
        for call in (p.addRows, p.addSets, p.delRows, p.delCols, p.delSets, p.chgColType):
            with pytest.raises(TypeError):
                call()


DELETERS = [
    # method, getter, add n more items, argument name, kind word, deleted-object message
    ("delRows", "getConstraint", lambda p, n: p.addRows("L" * n, [1] * n), "rowind", "constraint",
     "Constraint has been deleted from the problem"),
    ("delCols", "getVariable", lambda p, n: p.addCols(lb=[0] * n), "colind", "variable",
     "Variable has been deleted from the problem"),
    ("delSets", "getSOS", lambda p, n: p.addSets("1" * n, list(range(n)), [0] * n, [1] * n), "setind", "SOS",
     "SOS has been deleted from the problem"),
]


@pytest.mark.parametrize("method, getter, grow, arg, word, gone", DELETERS)
class TestDeleters:
    def make(self, p, grow, getter):
        have = len(getattr(p, getter)())
        grow(p, 8 - have)
        objs = getattr(p, getter)()
        assert len(objs) == 8
        return objs

    def test_deleted_objects_refused_and_later_ones_renumbered(self, p, method, getter, grow, arg, word, gone):
        objs = self.make(p, grow, getter)
        assert getattr(p, method)([5, objs[2]]) is None
        kept = getattr(p, getter)()
        assert kept == [objs[i] for i in (0, 1, 3, 4, 6, 7)]
        assert [o.index for o in kept] == list(range(6))
        assert_in_step(p)
        for o in (objs[2], objs[5]):
            with raises(korvex.ModelError, gone):
                o.index
        with raises(korvex.InterfaceError, "Error in element 0 of argument '%s': %s" % (arg, gone)):
            getattr(p, method)([objs[5]])
        getattr(p, method)([5])                      # the last one: nothing renumbered
        getattr(p, method)([])
        assert getattr(p, getter)() == [objs[i] for i in (0, 1, 3, 4, 6)]
        assert_in_step(p)

    def test_repeated_and_out_of_range_indices_change_nothing(self, p, method, getter, grow, arg, word, gone):
        objs = self.make(p, grow, getter)
        cases = [([2, 2, 5], "Error in element 1 of argument '%s': Repeated %s index 2" % (arg, word)),
                 ([2, objs[2]], "Error in element 1 of argument '%s': Repeated %s index 2" % (arg, word)),
                 ([-1], "Error in element 0 of argument '%s': Invalid %s index" % (arg, word)),
                 ([0, 8], "Error in element 1 of argument '%s': Invalid %s index" % (arg, word))]
        for indices, message in cases:
            with raises(korvex.InterfaceError, message):
                getattr(p, method)(indices)
            assert getattr(p, getter)() == objs
            assert [o.index for o in objs] == list(range(8))
        assert_in_step(p)


def test_deleting_rows_and_columns_changes_the_optimum(p):
    p.addRows("L", [3], start=[0], colind=[0, 1], rowcoef=[1, 1])
    assert solve(p) == pytest.approx(-9)
    p.delRows(["cap", 2])
    # left: x + 3y <= 6, x <= 3
    assert solve(p) == pytest.approx(lp_min([-3, -2], [[1, 3]], [6], bounds=[(0, 3), (0, None)]))
    x, y = p.getVariable()
    p.delCols([x])
    assert (y.index, p.getConstraint(0).index) == (0, 0)
    assert solve(p) == pytest.approx(-4)           # y <= 2
    assert_in_step(p)


def test_refused_deletion_leaves_lists_as_they_were(p):
    # a column that a general constraint uses cannot be deleted
    p.addCols([0], [0], [], [], [0], [5])
    p.addGenCons([0], [2], [0], [0, 1], [0], [])
    before = lists(p)
    with pytest.raises(korvex.SolverError):
        p.delCols(["x"])
    assert lists(p) == before
    assert_in_step(p)


def test_deleting_by_name_and_string_iteration(p):
    cap, mix = p.getConstraint()
    p.addNames(1, ["c", "1"], 0, 1)
    # a str is iterated character by character: the rows named c and 1
    p.delRows("c1")
    assert p.getConstraint() == [] and sizes(p)[0] == 0
    for o in (cap, mix):
        with raises(korvex.ModelError, "Constraint has been deleted from the problem"):
            o.index


def test_column_types_change_the_optimum():
    # min -x - y  s.t.  2x + 2y <= 5: LP optimum -2.5, integer optimum -2
    q = korvex.problem()
    q.loadLP(rowtype="L", rhs=[5], objcoef=[-1, -1], start=[0, 1, 2], rowind=[0, 0], rowcoef=[2, 2],
             lb=[0, 0], ub=[10, 10])
    assert solve(q) == pytest.approx(-2.5)
    assert q.chgColType(q.getVariable(), "II") is None
    assert solve(q) == pytest.approx(-2)
    q.chgColType([0, 1], ["C", "C"])
    assert solve(q) == pytest.approx(-2.5)
    with pytest.raises(korvex.SolverError):
        q.chgColType([0], "Z")
    with pytest.raises(korvex.SolverError):
        q.chgColType([4], "I")
    assert_in_step(q)


def test_uninitialized_problem_refused():
    from test_api_support import uninitialized_problem
    q = uninitialized_problem()
    for call in (lambda: q.addRows(), lambda: q.delCols(5), lambda: q.addSets(1, 2, 3, 4), lambda: q.addCols()):
        with raises(korvex.ModelError, "Problem is not initialized"):
            call()


def test_problems_with_unlinked_objects_are_refused():
    p = korvex.problem()
    p.addVariable(korvex.var(ub=3))             # map mode
    calls = {"addRows": lambda: p.addRows("L", [1], nonsense=1), "delRows": lambda: p.delRows(),
             "addCols": lambda: p.addCols([1]), "delCols": lambda: p.delCols([0]),
             "addSets": lambda: p.addSets("1", [0], [0], [1]), "delSets": lambda: p.delSets([0])}
    for name, call in calls.items():
        # refused before the arguments are looked at
        with raises(korvex.InterfaceError, "Cannot call problem.%s on problems with unlinked objects" % name):
            call()
    assert sizes(p) == (0, 1, 0)
    p.chgColType([0], "I")
    p.chgObjSense(-1)
    p.chgObjN(0, [0], [1.0])
    assert solve(p) == pytest.approx(3)


def test_repeated_changes_keep_memory_flat():
    import gc
    import tracemalloc

    p = named_lp()
    keep = p.getConstraint() + p.getVariable()

    def churn():
        p.addRows("LL", [9, 9], start=[0, 1], colind=[0, 1], rowcoef=[1, 1])
        p.addCols([0], [0], [2], [1.0], [0], [1])
        p.addSets("1", [0], [0, 2], [1, 2])
        for call in (lambda: p.delRows([2, 2]), lambda: p.addRows("X", [1]), lambda: p.addCols([1], [0], [9], [1])):
            try:
                call()
            except (korvex.InterfaceError, korvex.SolverError):
                pass
        p.getScale(), p.getIndicators(), p.getPwlCons(), p.getGenCons()
        p.delSets([0])
        p.delCols([2])
        p.delRows([3, 2])

    for _ in range(200):
        churn()
    gc.collect()
    refs = [sys.getrefcount(o) for o in keep]
    tracemalloc.start()
    snap0 = tracemalloc.take_snapshot()
    for _ in range(2000):
        churn()
    gc.collect()
    grown = sum(s.size_diff for s in tracemalloc.take_snapshot().compare_to(snap0, "filename"))
    tracemalloc.stop()
    assert grown < 64 * 1024
    assert [sys.getrefcount(o) for o in keep] == refs
    assert_in_step(p)
    assert sizes(p) == (2, 2, 0)
