"""Modelling methods: variables, batched constraints, objectives and map mode."""
import math
import random

import numpy as np
import pytest

import korvex as k
from conftest import assert_feasible


def counts(p):
    return p.attributes.cols, p.attributes.rows, len(p.getVariable()), len(p.getConstraint())


class TestIssueExample:
    def build(self, p, ytype):
        x = p.addVariable(lb=0, name="x")
        y = p.addVariable(vartype=ytype, ub=10)
        r = p.addConstraint(2 * x + y <= 4, x - y >= -1, [x + j * y <= 10 for j in range(3)])
        return x, y, r

    def test_rows_linked_in_shape(self, p):
        x, y, (c1, c2, rest) = self.build(p, k.integer)
        assert (x.index, y.index, x.name) == (0, 1, "x")
        assert [c.index for c in [c1, c2] + rest] == [0, 1, 2, 3, 4]
        assert p.getConstraint() == [c1, c2] + rest
        assert str(c1.getBody()) == str(2 * x + y)

    def test_mip_solves(self, p):
        x, y, _ = self.build(p, k.integer)
        p.setObjective(x + 3 * y, sense=k.maximize)
        p.optimize()
        assert p.getSolution() == pytest.approx([1.0, 2.0])

    def test_end_to_end(self, p):
        x, y, _ = self.build(p, k.integer)
        p.setObjective(x + 3 * y, sense=k.maximize)
        p.optimize()
        assert (p.getSolution(x), p.getSolution(2 * x + y), p.getSolution("x")) == pytest.approx((1.0, 4.0, 1.0))
        assert k.evaluate(x * y + k.sin(x), solution={x: 1, y: 2}) == pytest.approx(2 + math.sin(1))
        c = p.addConstraint(k.exp(x) + y <= 5)
        assert str(c.getBody()) == "C2 + exp(x)"
        # a mixed-integer nonlinear problem now: y = 3 leaves no x
        assert p.optimize() == (k.SolveStatus.COMPLETED, k.SolStatus.OPTIMAL)
        assert_feasible(p)
        assert p.getSolution() == pytest.approx([1.0, 2.0], abs=1e-6)

    def test_quadratic_objective_with_integer_column_solves(self, p):
        x, y, _ = self.build(p, k.integer)
        p.setObjective((x - 0.3) ** 2 - y)
        assert p.optimize() == (k.SolveStatus.COMPLETED, k.SolStatus.OPTIMAL)
        assert_feasible(p)
        assert p.getSolution() == pytest.approx([1.0, 2.0], abs=1e-6)
        assert p.attributes.objval == pytest.approx(-1.51)

    def test_continuous_qp_solves(self, p):
        x, y, _ = self.build(p, k.continuous)
        p.setObjective(x ** 2 - 4 * x + 3 * y + 1)
        p.optimize()
        assert p.getSolution() == pytest.approx([2.0, 0.0], abs=1e-6)
        assert p.attributes.objval == pytest.approx(-3.0)

    def test_objective_replaced(self, p):
        x, y, _ = self.build(p, k.continuous)
        p.setObjective(x ** 2 + y)
        p.setObjective(-x - y + 2)
        p.optimize()
        assert p.attributes.objval == pytest.approx(-1.0)


class TestVariables:
    def test_bounds_types_names(self, p):
        b = p.addVariable(vartype=k.binary, name="b")
        s = p.addVariable(vartype=k.semicontinuous, lb=0, ub=8, threshold=2)
        assert (b.name, b.vartype, s.vartype) == ("b", k.binary, k.semicontinuous)
        p.addConstraint(s >= 1)
        p.setObjective(s + b)
        p.optimize()
        assert p.getSolution() == pytest.approx([0.0, 2.0])

    def test_arrays_and_dicts(self, p):
        a = p.addVariables(2, 3, name="a", ub=5)
        assert isinstance(a, k.ndarray) and a.shape == (2, 3)
        assert (a[1, 2].name, a[1, 2].index) == ("a_1_2", 5)
        d = p.addVariables(["u", "v"], range(2), vartype=k.integer)
        assert list(d) == [("u", 0), ("u", 1), ("v", 0), ("v", 1)]
        assert [v.index for v in d.values()] == [6, 7, 8, 9]
        e = p.addVariables(["i", "j"], name="e")
        assert e["j"].name == "e_j"
        assert p.attributes.cols == 12

    def test_bad_arguments_leave_nothing(self, p):
        p.addVariable(name="x")
        p.addVariable(name="y_1")
        before = counts(p)
        for call in [lambda: p.addVariable(vartype=9), lambda: p.addVariable(name=3),
                     lambda: p.addVariable(lb=float("nan")), lambda: p.addVariables(),
                     lambda: p.addVariables("ab"), lambda: p.addVariable(name="x"),
                     lambda: p.addVariables(["a", "a"]), lambda: p.addVariables([[1], [2]]),
                     lambda: p.addVariables(2, name="y")]:
            with pytest.raises((k.InterfaceError, k.SolverError, k.ModelError, TypeError)):
                call()
            assert counts(p) == before


class TestConstraints:
    def test_any_mix_one_batch(self, p):
        x = p.addVariables(4)
        arr = x <= 1
        gen = (x[i] - x[i + 1] >= -1 for i in range(3))
        d = {"s": x.sum() <= 3}
        r = p.addConstraint(arr, gen, d, (x[0] + x[3] == 1,))
        assert r[0] is arr and r[2] is d and len(r[1]) == 3
        assert p.attributes.rows == 4 + 3 + 1 + 1
        assert [c.index for c in r[1]] == [4, 5, 6] and d["s"].index == 7

    def test_failure_adds_nothing(self, p):
        x, y = p.addVariable(), p.addVariable()
        q = k.problem()
        w = q.addVariable()
        good = [x + y <= i for i in range(5)]
        before = counts(p)
        with pytest.raises(k.ModelError, match="different problem"):
            p.addConstraint(good, x + w <= 1)
        assert counts(p) == before
        with pytest.raises(k.InterfaceError):
            p.addConstraint(good, x + y)
        assert counts(p) == before
        # the constraints were not linked and can still be added
        p.addConstraint(good)
        assert [c.index for c in good] == [0, 1, 2, 3, 4]
        with pytest.raises(k.ModelError, match="already been added"):
            p.addConstraint(good[0])
        c = x <= 3
        with pytest.raises(k.ModelError, match="already been added"):
            p.addConstraint(c, c)

    def test_bounds_and_constants(self, p):
        x = p.addVariable(lb=-10)
        c = p.addConstraint(k.constraint(body=x + 2, lb=1, ub=5))
        p.setObjective(x)
        p.optimize()
        assert p.getSolution() == pytest.approx([-1.0])
        p.setObjective(x, sense=k.maximize)
        p.optimize()
        assert p.getSolution() == pytest.approx([3.0])
        assert c.index == 0
        with pytest.raises(k.ModelError, match="greater than its upper bound"):
            p.addConstraint(k.constraint(body=x, lb=5, ub=1))
        assert p.attributes.rows == 1

    def test_quadratic_row_read_back(self, p):
        x, y = p.addVariable(), p.addVariable()
        c = p.addConstraint(x * y + 3 * x ** 2 - y <= 2)
        assert str(c.getBody()) == str(x * y + 3 * x ** 2 - y)

    def test_numpy_dot_rows(self, p):
        x = p.addVariables(3)
        A = np.array([[1.0, 2.0, 0.0], [0.0, 1.0, 1.0]])
        rows = p.addConstraint(A @ x <= np.array([4.0, 3.0]))
        assert [c.index for c in rows] == [0, 1]
        assert str(rows[1].getBody()) == str(x[1] + x[2])


class TestObjectives:
    def test_add_objective(self, p):
        x, y = p.addVariable(ub=4), p.addVariable(ub=4)
        p.addConstraint(x + y <= 5)
        p.setObjective(-x)
        p.addObjective(-y, priority=-1)
        p.optimize()
        assert p.getSolution() == pytest.approx([4.0, 1.0])
        with pytest.raises(k.ModelError, match="Only linear"):
            p.addObjective(x * y)
        with pytest.raises(k.ModelError, match="constant"):
            p.addObjective(x + 1)


class TestMapMode:
    def test_unlinked_objects(self, p):
        x = k.var(lb=1, name="xx")
        y = k.var(ub=3, vartype=k.integer)
        p.addVariable(x, y)
        c = x + 2 * y <= 7
        p.addConstraint(c, [x - y >= -2])
        assert p.getVariable() == [x, y] and x.name == "xx"
        z = p.addVariable(ub=1)            # a problem in map mode makes unlinked variables
        w = p.addVariables(2, name="w", ub=0)
        assert w[1].name == "w_1" and p.getVariable() == [x, y, z, w[0], w[1]]
        p.addConstraint(z + x <= 7.5)
        p.setObjective(x + y + z, sense=k.maximize)
        p.optimize()
        assert p.attributes.objval == pytest.approx(7.5)
        assert p.attributes.cols == 5
        assert str(c.getBody()) == str(x + 2 * y)
        with pytest.raises(k.ModelError, match="does not belong"):
            p.addConstraint(k.var() + x <= 1)

    def test_modes_do_not_mix(self, p):
        p.addVariable()
        with pytest.raises(k.ModelError, match="variables of its own"):
            p.addVariable(k.var())
        q = k.problem()
        v = k.var()
        q.addVariable(v)
        with pytest.raises(k.ModelError, match="already been added"):
            q.addVariable(v)
        assert q.attributes.cols == 1


# Rows of linear constraints match, term by term, the expression they came from and the rows of
# the same expressions carrying a quadratic part, whatever their order in one call.

def random_linear(rng, xs):
    """A linear expression grown by random operators: sums, differences, scalings (some so small
    that coefficients underflow to zero), cancelling terms and constants."""
    e = rng.choice(xs) - rng.choice(xs) + rng.uniform(-5, 5)
    for _ in range(rng.randrange(12)):
        x, c = rng.choice(xs), rng.choice([1, -2, 0.5, rng.uniform(-1e3, 1e3)])
        step = rng.randrange(6)
        if step == 0:
            e = e + c * x
        elif step == 1:
            e = e - x
        elif step == 2:
            e = c * e
        elif step == 3:
            e = e + x - x + c
        elif step == 4:
            e = 1e-200 * (1e-200 * x + e)
        else:
            e = (e + c * x) * 2 - rng.choice(xs)
    return e


def entries(body):
    vs, cs = body.extractLinear()
    return {v.index: c for v, c in zip(vs, cs) if c != 0}


def test_linear_rows_match_their_expressions_and_general_rows(p):
    xs = p.addVariables(8).tolist()
    rng = random.Random(7)
    for _ in range(20):
        cases = []
        for _ in range(rng.randrange(1, 40)):
            e = random_linear(rng, xs)
            if not isinstance(e, k.expression):
                continue
            b = rng.uniform(-10, 10)
            q = 1e-3 * xs[0] * xs[rng.randrange(8)]
            cases.append((e, e <= b, e + q <= b))
            # a body keeping its constant, between two bounds
            lb = rng.choice([-k.infinity, b - 1, b])
            cases.append((e, k.constraint(body=e, lb=lb, ub=b), k.constraint(body=e + q, lb=lb, ub=b)))
        rows = [c for case in cases for c in case[1:]]
        rng.shuffle(rows)
        mode = rng.randrange(3)   # all in one call, the linear rows in a call of their own, a call per row
        if mode == 0:
            p.addConstraint(rows)
        elif mode == 1:
            p.addConstraint([case[1] for case in cases])
            p.addConstraint([case[2] for case in cases])
        else:
            for row in rows:
                assert p.addConstraint(row) is row
        for e, fast, general in cases:
            want = entries(e)
            assert entries(fast.getBody()) == want == entries(general.getBody())
            assert (fast.lb, fast.ub) == (general.lb, general.ub)


def test_rows_added_one_per_call_are_seen_by_whatever_comes_between():
    """Rows added one per call against the same rows added in one call, with reads, deletions,
    new columns, refused rows and solves between the calls."""
    rng = random.Random(11)

    def row(xs, coefs, sense, rhs):
        body = k.Sum(c * xs[j] for j, c in coefs.items())
        return {"L": body <= rhs, "G": body >= rhs, "E": body == rhs}[sense]

    for _ in range(15):
        one, ref = k.problem(), k.problem()
        for q in (one, ref):
            q.setControl("outputlog", 0)
        xs = one.addVariables(4, ub=10).tolist()
        specs, made = [], []
        for _ in range(rng.randrange(1, 50)):
            spec = ({j: rng.choice([-2, -1, 1, 3]) for j in rng.sample(range(len(xs)), rng.randrange(1, 4))},
                    rng.choice("LGE"), rng.randrange(-5, 20))
            c = row(xs, *spec)
            assert one.addConstraint(c) is c
            specs.append(spec)
            made.append(c)
            what = rng.randrange(7)
            if what == 0:
                assert (one.attributes.rows, len(one.getConstraint())) == (len(made), len(made))
                assert [c.index for c in made] == list(range(len(made)))
            elif what == 1:
                i = rng.randrange(len(made))
                one.delRows([i])
                del specs[i], made[i]
            elif what == 2:
                xs.append(one.addVariable(ub=10))
            elif what == 3:   # refused by the solver, after the rows before it went in
                with pytest.raises(k.SolverError, match="infinite"):
                    one.addConstraint(1e30 * xs[0] <= 1)
                assert one.attributes.rows == len(made)
            elif what == 4:
                one.setObjective(k.Sum(xs))
                one.optimize()
        ys = ref.addVariables(len(xs), ub=10).tolist()
        ref.addConstraint([row(ys, *s) for s in specs])
        assert one.attributes.rows == ref.attributes.rows == len(made)
        assert [(c.lb, c.ub) for c in made] == [(c.lb, c.ub) for c in ref.getConstraint()]
        for q, vs in ((one, xs), (ref, ys)):
            q.setObjective(k.Sum((j % 3 - 1) * v for j, v in enumerate(vs)))
        assert one.optimize() == ref.optimize()
        if ref.attributes.solstatus == k.SolStatus.OPTIMAL:
            assert one.attributes.objval == pytest.approx(ref.attributes.objval)
