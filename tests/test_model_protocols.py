"""Model objects: truth of constraints, constructor bodies, printing of deleted objects,
solution look-ups by name, the problem's parameter objects and the getters' keywords."""
import gc
import weakref

import numpy as np
import pytest

import korvex

NO_TRUTH = "A constraint has no truth value"


def loaded(ncols=2, sets=False):
    p = korvex.problem()
    p.loadLP("p", rowtype=["L"], rhs=[4], rng=None, objcoef=[1] * ncols, start=list(range(ncols + 1)),
             collen=None, rowind=[0] * ncols, rowcoef=[1] * ncols, lb=[0] * ncols, ub=[10] * ncols)
    if sets:
        p.addSets(["1"], [0], list(range(ncols)), list(range(1, ncols + 1)))
    return p


class TestConstraintTruth:
    def test_comparisons_have_no_truth(self):
        x, y, z = korvex.var(), korvex.var(), korvex.var()
        cases = [lambda: bool(x <= y), lambda: x in [y, z], lambda: not (2 * x + y >= 1),
                 lambda: np.array([x, y]) <= 1, lambda: bool(korvex.constraint(body=x, ub=1))]
        for case in cases:
            with pytest.raises(TypeError, match=NO_TRUTH):
                case()

    def test_identity_look_ups_still_work(self):
        x, y = korvex.var(), korvex.var()
        assert x in [x, y] and {x: 1, y: 2}[y] == 2
        assert korvex.evaluate(2 * x + y, solution={x: 1.0, y: 3.0}) == 5.0


class TestConstraintBody:
    def test_refused_bodies(self):
        for body in ["a", b"a", [1], object(), korvex.var() <= 1]:
            with pytest.raises(korvex.ModelError, match="^Invalid constraint body$"):
                korvex.constraint(body=body, ub=1)

    def test_accepted_bodies(self):
        x = korvex.var()
        for body in [3, 2.5, np.float64(1), x, 2 * x, x * x, x + 1, korvex.sin(x)]:
            assert korvex.constraint(body=body, ub=1).body is body


class TestDeletedPrinting:
    def test_printing_never_raises(self):
        p = loaded(sets=True)
        c, s, x = p.getConstraint(0), p.getSOS(0), p.getVariable(0)
        assert [repr(c), repr(s), str(s)] == ["R1: C1 + C2 <= 4", "S1", "S1"]
        p.loadLP("q", rowtype=["L"], rhs=[1], rng=None, objcoef=[1], start=[0, 1], collen=None,
                 rowind=[0], rowcoef=[1], lb=[0], ub=[1])
        assert str([c, s, x]) == "[(deleted constraint), (deleted SOS), (deleted variable)]"
        assert (str(c), str(s)) == ("(deleted constraint)", "(deleted SOS)")
        with pytest.raises(korvex.ModelError, match="^SOS has been deleted from the problem$"):
            s.name

    def test_unlinked_sos_repr(self):
        x, y = korvex.var(), korvex.var()
        assert repr(korvex.sos([x, y], [1, 2], name="s")) == "s"
        assert repr(korvex.sos([x, y], [1, 2])).startswith("S")


def test_solution_by_unknown_name():
    p = loaded()
    p.addNames(2, ["x", "y"], 0, 1)
    p.lpOptimize()
    assert p.getSolution("x") == 0.0
    with pytest.raises(korvex.InterfaceError, match="names an unknown column: nosuch$"):
        p.getSolution("nosuch")
    with pytest.raises(korvex.InterfaceError, match="out-of-range index"):
        p.getSolution(5)


class TestParameterObjects:
    def test_temporary_problem(self):
        assert korvex.problem().controls.miptol == korvex.problem().getControl("miptol")
        assert korvex.problem().attributes.cols == 0

    def test_lifetime(self):
        p = korvex.problem()
        assert p.controls is p.controls and p.attributes is not p.controls
        w = weakref.ref(p)
        c = p.controls
        del p
        assert w() is not None
        c.miptol = 0.25
        assert w().getControl("miptol") == 0.25
        del c
        assert w() is None                 # freed at once: no cycle with its controls

    def test_cycle_through_subclass_is_collected(self):
        class Held(korvex.problem):
            pass

        p = Held()
        p.keep = (p.controls, p.attributes, p.objattribs)
        w = weakref.ref(p)
        del p
        gc.collect()
        assert w() is None


def test_getters_take_i():
    p = loaded(sets=True)
    assert str(p.getVariable(i=1)) == "C2"
    assert [str(c) for c in p.getConstraint(i=[0])] == ["R1: C1 + C2 <= 4"]
    assert len(p.getSOS(i=None)) == 1
    with pytest.raises(TypeError):
        p.getVariable(index=0)
