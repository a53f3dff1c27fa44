"""Model objects: variables, constraints, SOS, cut-pool entries and the problem's object lists."""
import math
import resource
import sys

import pytest

import korvex


class TestUnlinkedVariable:
    def test_defaults_and_values(self):
        x = korvex.var()
        assert (x.lb, x.ub, x.threshold, x.vartype) == (0.0, 1e20, -1e20, korvex.continuous)
        assert str(x) == x.name and x.name.startswith("C")
        y = korvex.var(-1, 5, 2, "y", korvex.semicontinuous)
        assert (y.lb, y.ub, y.threshold, y.name, y.vartype) == (-1.0, 5.0, 2.0, "y", korvex.semicontinuous)
        assert str(y) == "y"
        z = korvex.var(lb=-1e30, ub=1e30)
        assert (z.lb, z.ub) == (-1e20, 1e20)

    def test_serials_distinct(self):
        names = {korvex.var().name for _ in range(100)}
        assert len(names) == 100

    def test_changes(self):
        x = korvex.var(name="x")
        x.lb, x.ub, x.vartype, x.name = 2, 3, korvex.integer, "w"
        assert (x.lb, x.ub, x.vartype, str(x)) == (2.0, 3.0, korvex.integer, "w")
        x.name = None
        assert str(x).startswith("C")

    def test_bad_arguments(self):
        with pytest.raises(korvex.InterfaceError, match="Invalid variable type"):
            korvex.var(vartype=6)
        with pytest.raises(korvex.InterfaceError):
            korvex.var(lb=math.nan)
        with pytest.raises(korvex.InterfaceError):
            korvex.var(name=3)
        with pytest.raises(korvex.InterfaceError, match="NUL"):
            korvex.var(name="a\0b")
        with pytest.raises(TypeError):
            korvex.var(lb="low")
        with pytest.raises(korvex.ModelError, match="Variable does not belong to any problem"):
            korvex.var().index

    def test_hash_by_identity(self):
        x, y = korvex.var(), korvex.var()
        d = {x: 1, y: 2}
        assert d[x] == 1 and d[y] == 2 and hash(x) != hash(y)

    def test_dropping_many_keeps_memory_flat(self):
        def churn(n):
            for i in range(n):
                korvex.var(lb=1, ub=2, threshold=0.5, name="v")

        churn(10000)
        rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        refs = sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else None
        churn(400000)   # leaked map entries would add tens of megabytes
        assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - rss < 8 * 1024
        if refs is not None:
            assert abs(sys.gettotalrefcount() - refs) < 100
        name = "held"
        before = sys.getrefcount(name)
        vs = [korvex.var(name=name) for _ in range(10000)]
        assert sys.getrefcount(name) == before + 10000
        del vs
        assert sys.getrefcount(name) == before


class TestConstraintAndSOS:
    def test_constraint_values(self):
        x = korvex.var()
        c = korvex.constraint(body=x, lb=1, ub=2, name="c")
        assert (c.lb, c.ub, c.name, str(c)) == (1.0, 2.0, "c", f"c: 1 <= {x} <= 2")
        assert c.body is x
        c.lb, c.name = -1e30, "d"
        assert (c.lb, c.name) == (-1e20, "d")
        with pytest.raises(korvex.ModelError, match="^Constraint does not belong to any problem$"):
            c.index
        named = korvex.constraint(c, name="e")
        assert (named.lb, named.ub, named.body, named.name) == (-1e20, 2.0, x, "e")
        with pytest.raises(korvex.InterfaceError):
            korvex.constraint(c, body=x)

    def test_empty_constraint(self):
        c = korvex.constraint()
        with pytest.raises(korvex.ModelError, match="^Constraint is not initialized$"):
            c.index
        assert c.body is None

    def test_sos(self):
        x, y = korvex.var(), korvex.var()
        s = korvex.sos([x, y], [1, 2.5], type=2, name="s")
        assert (s.type, s.indices, s.weights, s.name) == (2, [x, y], [1.0, 2.5], "s")
        with pytest.raises(korvex.ModelError, match="^SOS does not belong to any problem$"):
            s.index
        with pytest.raises(korvex.InterfaceError, match="same length"):
            korvex.sos([x, y], [1])
        with pytest.raises(korvex.InterfaceError, match="Invalid SOS type"):
            korvex.sos([x], [1], type=3)
        with pytest.raises(korvex.InterfaceError):
            korvex.sos([x, 3], [1, 2])

    def test_poolcut_not_instantiable(self):
        with pytest.raises(TypeError):
            korvex.poolcut()


class TestProblemLists:
    def test_empty_problem(self):
        p = korvex.problem(name="empty")
        assert p.getVariable() == [] and p.getConstraint() == [] and p.getSOS() == []
        for get in (p.getVariable, p.getConstraint, p.getSOS):
            with pytest.raises(IndexError):
                get(0)
            with pytest.raises(IndexError):
                get(-1)
            with pytest.raises(korvex.InterfaceError):
                get("a")
        assert isinstance(p.controls, korvex.problem().controls.__class__)

    def test_subclass_and_weakref(self):
        import weakref

        class P(korvex.problem):
            pass

        p = P()
        r = weakref.ref(p)
        assert p.getVariable() == [] and p.controls.maxnode > 0
        del p
        assert r() is None

    def test_problem_name_refused_with_nul(self):
        with pytest.raises(korvex.InterfaceError):
            korvex.problem(name="a\0b")


def loaded_problem():
    """A problem with 3 columns and 2 rows, built through the loader when it is available."""
    p = korvex.problem()
    p.loadLP("p", rowtype=["L", "G"], rhs=[4, 1], rng=None, objcoef=[1, 1, 1], start=[0, 1, 2, 3],
             collen=None, rowind=[0, 1, 0], rowcoef=[1, 1, 1], lb=[0, 0, 0], ub=[10, 10, 10])
    return p


class TestLinkedObjects:
    def test_lists_and_indices(self):
        p = loaded_problem()
        xs = p.getVariable()
        assert [x.index for x in xs] == [0, 1, 2]
        assert p.getVariable([2, 0]) == [xs[2], xs[0]]
        assert [c.index for c in p.getConstraint()] == [0, 1]
        assert str(xs[0]) == "C1"

    def test_values_read_from_the_solver(self):
        p = loaded_problem()
        x = p.getVariable(1)
        assert (x.lb, x.ub, x.vartype) == (0.0, 10.0, korvex.continuous)
        c0, c1 = p.getConstraint()
        assert (c0.lb, c0.ub, c1.lb, c1.ub) == (-1e20, 4.0, 1.0, 1e20)
        if hasattr(p, "chgColType"):
            p.chgColType([x, 2], ["I", "R"])
            assert (x.vartype, p.getVariable(2).vartype) == (korvex.integer, korvex.semiinteger)
        with pytest.raises(korvex.ModelError):
            x.lb = 3           # changed through the problem's methods only

    def test_deleted_objects_refused(self):
        p = loaded_problem()
        x, c = p.getVariable(0), p.getConstraint(0)
        del p
        assert str(x) == "(deleted variable)"
        with pytest.raises(korvex.ModelError, match="^Variable has been deleted from the problem$"):
            x.index
        with pytest.raises(korvex.ModelError, match="^Variable has been deleted from the problem$"):
            x.lb
        with pytest.raises(korvex.ModelError, match="^Constraint has been deleted from the problem$"):
            c.index
        with pytest.raises(korvex.ModelError, match="^Constraint has been deleted from the problem$"):
            c.name

    def test_names_and_problem_name(self):
        p = loaded_problem()
        p.addNames(2, ["a", "b", "c"], 0, 2)
        assert [str(x) for x in p.getVariable()] == ["a", "b", "c"]
        assert p.getConstraint(1).name == "R2"
        q = korvex.problem(name="named")
        assert q.getProbName() == "named"

    def test_library_stop_deletes_objects(self):
        from test_module import run_isolated
        run_isolated("""
            import korvex
            p = korvex.problem()
            p.loadLP("p", rowtype=["L"], rhs=[4], rng=None, objcoef=[1], start=[0, 1], collen=None,
                     rowind=[0], rowcoef=[1], lb=[0], ub=[10])
            x, c = p.getVariable(0), p.getConstraint(0)
            korvex.free()
            assert p.getVariable() == [] and str(x) == "(deleted variable)"
            for obj in (x, c):
                try:
                    obj.index
                except korvex.ModelError as e:
                    assert "has been deleted from the problem" in str(e)
                else:
                    raise AssertionError("no error")
        """)

    def test_reload_marks_old_objects_deleted(self):
        p = loaded_problem()
        x = p.getVariable(0)
        p.loadLP("q", rowtype=["L"], rhs=[1], rng=None, objcoef=[1], start=[0, 1], collen=None,
                 rowind=[0], rowcoef=[1], lb=[0], ub=[1])
        with pytest.raises(korvex.ModelError, match="deleted"):
            x.index
        assert len(p.getVariable()) == 1 and p.getVariable(0).index == 0
