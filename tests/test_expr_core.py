"""Operators of the expression algebra: kinds of results, sums, products, powers, nonlinear
nodes, in-place forms and their failures."""
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import korvex


def lin(e):
    vs, cs = e.extractLinear()
    return {v: c for v, c in zip(vs, cs)}


def quad(e):
    us, vs, cs = e.extractQuadratic()
    return {(u, v): c for u, v, c in zip(us, vs, cs)}


def const(e):
    """The constant of an expression: the bounds of e == 0 hold minus it."""
    return -(e == 0).ub


def key(u, v):
    """Canonical pair of two variables (the algebra stores u <= v)."""
    q = u * v
    (a,), (b,), _ = q.extractQuadratic()
    return a, b


class TestKinds:
    def test_results_of_the_operators(self, xyz):
        x, y, z = xyz
        assert type(2 * x) is korvex.linterm
        assert type(x * y) is korvex.quadterm
        assert type(3 * x ** 2) is korvex.quadterm
        assert type(x ** 2 + 2 * y - 5) is korvex.expression
        assert type(x ** 4) is korvex.nonlin
        assert type(x & y | z) is korvex.nonlin
        assert type(-x) is korvex.linterm
        assert type(abs(x + y)) is korvex.nonlin

    def test_types_and_instantiation(self):
        e = korvex.expression(1, 2, key=3)
        assert type(e) is korvex.expression and const(e) == 0 and lin(e) == {}
        for t in (korvex.linterm, korvex.quadterm, korvex.nonlin):
            with pytest.raises(TypeError):
                t()
        assert korvex.nonlin.__name__ == "nonlinear"

    def test_zero_coefficient_never_makes_a_linear_term(self, xyz):
        x, y, _ = xyz
        for r in (0 * x, x * 0, 0.0 * (2 * x), (2 * x) * 0):
            assert type(r) is float and r == 0.0
        # sums that cancel leave an expression without terms (it still compares into a constraint)
        for r in (x - x, x + (-1) * x, (-1 * x) + x, 2 * x - 2 * x):
            assert type(r) is korvex.expression and const(r) == 0.0 and lin(r) == {}
        q = 0 * (x * y)
        assert type(q) is korvex.quadterm and quad(q) == {key(x, y): 0.0}

    @pytest.mark.parametrize("t", [np.int32, np.float32, np.float64])
    def test_numpy_scalars_are_numbers_on_either_side(self, xyz, t):
        x, y, _ = xyz
        two = t(2)
        for r in (two * x, x * two):
            assert type(r) is korvex.linterm and lin(r) == {x: 2.0}
        assert lin(x / two) == {x: 0.5}
        e = two + x
        assert type(e) is korvex.expression and const(e) == 2.0 and lin(e) == {x: 1.0}
        e = two - (x + y)
        assert const(e) == 2.0 and lin(e) == {x: -1.0, y: -1.0}
        assert quad(x ** two) == {(x, x): 1.0}
        e = (x + y) * two
        assert lin(e) == {x: 2.0, y: 2.0}
        c = two <= x
        assert type(c) is korvex.constraint and lin(c.body) == {x: 1.0} and (c.lb, c.ub) == (2.0, 1e20)
        c = two == x + y
        assert (c.lb, c.ub) == (2.0, 2.0) and lin(c.body) == {x: 1.0, y: 1.0}

    def test_unsigned_and_other_numpy_scalars_are_not_numbers(self, xyz):
        x, _, _ = xyz
        for v in (np.uint8(2), np.uint64(2), np.complex128(1)):
            with pytest.raises(korvex.ModelError):
                v * x
            with pytest.raises(korvex.ModelError):
                x + v


class TestSums:
    def test_terms_merge_and_cancel(self, xyz):
        x, y, _ = xyz
        t = 2 * x + 3 * x
        assert type(t) is korvex.linterm and lin(t) == {x: 5.0}
        assert type(x + x) is korvex.linterm and lin(x + x) == {x: 2.0}
        assert lin((x + y) - x) == {y: 1.0}
        q = x * y + (-1) * (x * y)
        assert type(q) is korvex.quadterm and quad(q) == {key(x, y): 0.0}
        e = (x * y + x) - (x * y + x)
        assert type(e) is korvex.expression and quad(e) == {} and lin(e) == {}
        e = (x * y + 1) + (1e-300 * (x * y) + 0)
        assert quad(e) == {key(x, y): 1.0}

    def test_number_sums(self, xyz):
        x, y, _ = xyz
        assert (x + 0) is x and (0 + x) is x
        t = 2 * x
        assert type(t + 0) is korvex.linterm
        e = 3 + 2 * x
        assert const(e) == 3.0 and lin(e) == {x: 2.0}
        e = 1 - x * y
        assert const(e) == 1.0 and quad(e) == {key(x, y): -1.0}
        e = (x + y) - 4
        assert const(e) == -4.0
        assert const(5 - (x + 1)) == 4.0

    def test_sums_leave_operands_unchanged(self, xyz):
        x, y, _ = xyz
        e = x + 2 * y + 1
        f = e + (3 * x + x * y)
        assert lin(e) == {x: 1.0, y: 2.0} and quad(e) == {} and const(e) == 1.0
        assert lin(f) == {x: 4.0, y: 2.0} and quad(f) == {key(x, y): 1.0}
        g = -e
        assert lin(g) == {x: -1.0, y: -2.0} and const(g) == -1.0 and const(e) == 1.0
        near = 1.0000000000000004
        assert lin(e * near) == {x: 1.0, y: 2.0} and lin(e * 1.01) == {x: 1.01, y: 2.02}

    def test_in_place_sums_grow_the_left_expression(self, xyz):
        x, y, _ = xyz
        e = korvex.expression()
        start = e
        xs = [korvex.var() for _ in range(200)]
        for i, v in enumerate(xs):
            e += v
            e -= 0.5 * v
            e += i * (v * x)
            assert e is start
        e += 7
        e += x + 1
        assert e is start and const(e) == 8.0 and len(lin(e)) == 201
        t = 2 * x
        u = t
        t += y
        assert type(t) is korvex.expression and lin(u) == {x: 2.0}
        t = 2 * x
        u = t
        t += 0
        assert t is u
        q = x * y
        q2 = q
        q -= 0
        assert q is q2

    def test_in_place_with_itself(self, xyz):
        x, y, _ = xyz
        e = 2 * x + x * y + 3
        e -= e
        assert lin(e) == {} and quad(e) == {} and const(e) == 0.0
        e = 2 * x + x * y + 3
        e += e
        assert lin(e) == {x: 4.0} and quad(e) == {key(x, y): 2.0} and const(e) == 6.0

    def test_arrays_on_the_right(self, xyz):
        x, y, _ = xyz
        e = x + y
        r = e + np.array([1.0, 2.0])
        assert r.shape == (2,) and const(r[1]) == 2.0 and lin(r[0]) == {x: 1.0, y: 1.0}
        r = (2 * x) - np.array([1.0, 2.0])
        assert const(r[1]) == -2.0 and lin(r[1]) == {x: 2.0}
        r = e * np.array([2.0, 3.0])
        assert lin(r[1]) == {x: 3.0, y: 3.0}
        r = e / np.array([2.0, 4.0])
        assert lin(r[1]) == {x: 0.25, y: 0.25}
        with pytest.raises(korvex.ModelError, match="Cannot obtain a power with a vector as an exponent"):
            e ** [1, 2]
        with pytest.raises(korvex.ModelError, match="Cannot obtain a power with a vector as an exponent"):
            x ** np.array([1, 2])


class TestProducts:
    def test_linear_products(self, xyz):
        x, y, z = xyz
        e = (x + 1) * (x - 1)
        assert type(e) is korvex.expression
        assert const(e) == -1.0 and lin(e) == {} and quad(e) == {(x, x): 1.0}
        e = (x + y) ** 2
        assert quad(e) == {(x, x): 1.0, key(x, y): 2.0, (y, y): 1.0}
        e = (2 * x) * (x + 3 * y + 1)
        assert lin(e) == {x: 2.0} and quad(e) == {(x, x): 2.0, key(x, y): 6.0}
        assert quad(3 * (2 * x * y)) == {key(x, y): 6.0}
        assert quad((2 * x) ** 2) == {(x, x): 4.0}
        assert quad(y * x) == quad(x * y)
        e = (x + y + 2) * 0.5
        assert lin(e) == {x: 0.5, y: 0.5} and const(e) == 1.0
        assert (0 * (2 * x)) == 0.0 and type(0 * (x + y)) is korvex.expression

    def test_higher_degree_is_nonlinear(self, xyz):
        x, y, z = xyz
        for r in ((x + y) ** 3, (x * y) ** 2, (x * y) * z, x * (x * y + 1), (x * y + x) * (y + 1),
                  (x * y) * (x * y), x ** 3, (2 * x) ** 0.5):
            assert type(r) is korvex.nonlin
        assert (x * y) ** 1 is not None and type((x * y) ** 1) is korvex.quadterm
        assert (x + y) ** 0 == 1.0 and x ** 0 == 1.0 and (x * y) ** 0 == 1.0
        assert 1 ** x == 1.0 and 1 ** (x + y) == 1.0
        e = x * y + 3
        f = e * (korvex.expression() + 2)
        assert quad(f) == {key(x, y): 2.0} and const(f) == 6.0

    def test_quotients(self, xyz):
        x, y, z = xyz
        assert (2 * x) / (4 * x) == 0.5 and x / x == 1.0
        assert lin((2 * x * y) / x) == {y: 2.0}
        assert lin((2 * x * y) / (4 * y)) == {x: 0.5}
        assert (2 * x * y) / (4 * y * x) == 0.5
        assert lin((6 * x) / 3) == {x: 2.0}
        assert quad((6 * x * y) / 3) == {key(x, y): 2.0}
        e = (4 * x + 2) / 2
        assert lin(e) == {x: 2.0} and const(e) == 1.0
        for r in ((2 * x * y) / (4 * x * z), x / y, 1 / x, (x + 1) / y, x / (x * y),
                  (x * y) / (x + 1)):
            assert type(r) is korvex.nonlin
        assert (2 * x) / (korvex.expression() + 4) is not None
        assert lin((2 * x) / (korvex.expression() + 4)) == {x: 0.5}

    def test_printed_quotients(self, xyz):
        x, y, z = xyz
        assert str((2 * x * y) / (4 * x * z)) == "0.5 * y / z"
        assert str((3 * x) / (2 * x * y)) == "1.5 / y"
        assert str(x / (4 * x * y)) == "0.25 / y"

    def test_in_place_products(self, xyz):
        x, y, _ = xyz
        e = 2 * x + x * y + 1
        start = e
        e *= 2
        assert e is start and lin(e) == {x: 4.0} and quad(e) == {key(x, y): 2.0} and const(e) == 2.0
        e /= 4
        assert e is start and lin(e) == {x: 1.0} and const(e) == 0.5
        e /= 1
        assert e is start
        e **= 1
        assert e is start
        f = 3 * x
        g = f
        f *= 1
        f /= 1
        f **= 1
        assert f is g
        e *= 0
        assert e == 0.0 and type(e) is float
        e = x + 1
        e **= 2
        assert quad(e) == {(x, x): 1.0} and lin(e) == {x: 2.0}

    def test_division_by_zero(self, xyz):
        x, y, _ = xyz
        zero_q = x * y - x * y
        cases = [
            (lambda: x / 0, "Division by zero"),
            (lambda: (2 * x) / 0.0, "Division by zero"),
            (lambda: (x + y) / 0, "Division by zero"),
            (lambda: (x + y) / korvex.expression(), "Division by zero"),
            (lambda: x / (0 * x), "Division by zero"),
            (lambda: (x * y) / 0, "Division by zero of a bilinear term"),
            (lambda: (x * y) / (0 * x), "Division by zero of a bilinear term"),
            (lambda: (2 * x * y) / zero_q, "Division by zero of a bilinear term"),
            (lambda: (2 * x * y) / (0 * (x * korvex.var())), "Division by zero of a bilinear term"),
            (lambda: (2 * x) / zero_q, "Division by zero of a linear term"),
            (lambda: x / zero_q, "Division by zero of a variable"),
            (lambda: x ** 3 / 0, "Division by zero"),
        ]
        for f, msg in cases:
            with pytest.raises(korvex.ModelError, match="^" + msg + "$"):
                f()
        e = x + y
        with pytest.raises(korvex.ModelError, match="Division by zero"):
            e /= 0
        t = 2 * x
        with pytest.raises(korvex.ModelError, match="Division by zero"):
            t /= 0
        n = x ** 3
        with pytest.raises(korvex.ModelError, match="Division by zero"):
            n /= 0


class TestNonlinear:
    def test_sum_nodes_stay_flat(self, xyz):
        x, y, z = xyz
        s = korvex.exp(x) + x + y
        assert str(s) == "exp(x) + x + y"
        s2 = s + 2 * z
        assert str(s2) == "exp(x) + x + y + 2 * z" and str(s) == "exp(x) + x + y"
        assert str(korvex.exp(x) + korvex.exp(y) + 1) == "exp(x) + exp(y) + 1"
        s = korvex.exp(x) + korvex.exp(y) - 2
        s = s + 2
        assert str(s) == "exp(x) + exp(y)"
        assert str(korvex.exp(x) - 2) == "exp(x) - 2"
        s = korvex.exp(x)
        start = s
        s += korvex.exp(y)
        s += x
        s += korvex.sin(y)
        assert str(s) == "exp(x) + exp(y) + sin(y) + x"
        s -= korvex.exp(x) + 3
        assert str(s) == "exp(x) + exp(y) + sin(y) + -exp(x) + -3 + x"

    def test_products_powers_and_logic(self, xyz):
        x, y, z = xyz
        p = (x ** 3) * 2
        assert str(p) == "x ** 3 * 2"
        start = p
        p *= 0.5
        assert p is start and str(p) == "x ** 3"
        p *= 0
        assert korvex.evaluate(p, solution={x: 2.0}) == 0.0
        p = (x ** 3) ** 2
        p **= 2
        assert type(p) is korvex.nonlin and str(p) == "(x ** 3) ** 4"
        n = x ** 3
        assert str(n * -1) == "-x ** 3"
        assert str(n / 1) == "x ** 3" and 0 / n == 0.0
        assert str(x & y & z) == "and(x, y, z)" and str((x | y) | z) == "or(x, y, z)"
        a = x & y
        a &= z
        assert str(a) == "and(x, y, z)"
        assert str(n - y) == "x ** 3 - y" and str(0 - n) == "-x ** 3"
        assert str(n ** 0.5 + 1) == "x ** 3 ** 0.5 + 1" or "** 0.5" in str(n ** 0.5 + 1)

    def test_callers_objects_are_not_changed(self, xyz):
        x, y, z = xyz
        s = korvex.exp(x) + y
        t = 0
        t += s
        t += korvex.exp(z)
        assert str(s) == "exp(x) + y" and t is not s
        e, f = x + 1, y + 2
        n = korvex.exp(x) + e
        n += korvex.exp(y) + f
        assert str(e) == "1 + x" and str(f) == "2 + y"
        m = korvex.exp(x) + e
        m += y
        m += 2 * y
        m2 = korvex.exp(z) + f
        m += m2
        assert str(e) == "1 + x" and str(f) == "2 + y" and str(m2) == "exp(z) + 2 + y"
        assert str(m) == "exp(x) + exp(z) + 3 + x + 4 * y"
        e = x + 1
        alias = e
        e += korvex.exp(x)
        e += y
        e -= korvex.exp(y) + 2 * x
        assert str(alias) == "1 + x" and str(e) == "exp(x) + -exp(y) + 1 - x + y"
        d = korvex.exp(x) * y
        q = z / d
        w = korvex.var(name="w")
        q /= w
        assert str(d) == "exp(x) * y" and str(q) == "z / (exp(x) * w * y)"
        b = korvex.exp(x) ** (y * 2)
        c = b
        b **= w
        assert str(c) == str(b)
        e = x * 2
        p = korvex.exp(x) ** e
        p **= 3
        assert lin(e) == {x: 2.0}

    def test_nodes_with_themselves(self, xyz):
        x, y, _ = xyz
        s = korvex.exp(x) + y
        s += s
        assert str(s) == "exp(x) + exp(x) + 2 * y"
        p = korvex.exp(x) * 3
        p *= p
        assert str(p) == "exp(x) * exp(x) * 9.0"
        q = x / korvex.exp(y)
        q /= q
        assert str(q) == "x / (exp(y) * x / exp(y))"
        a = x & y
        a &= a
        assert str(a) == "and(x, y, x, y)"

    def test_constant_divisors(self, xyz):
        x, _, _ = xyz
        one = korvex.expression() + 1
        r = x / one
        assert lin(r) == {x: 1.0}
        assert 3 / one == 3
        assert (x ** 3) / one is not None

    def test_deep_trees_do_not_crash(self):
        code = textwrap.dedent("""
            import korvex
            x, y = korvex.var(name="x"), korvex.var(name="y")
            chains = []
            n = x ** 3
            for _ in range(5000):
                n = -n
            chains.append(n)
            n = x ** 3
            for _ in range(200000):
                n = y * n
            chains.append(n)
            for n in chains:
                for op in (lambda: n + 1, lambda: str(n), lambda: n * x, lambda: n <= 1,
                           lambda: n - n):
                    try:
                        op()
                    except (RecursionError, korvex.ModelError):
                        pass
            del chains
            del n
            print("ok")
        """)
        r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
        assert r.returncode == 0 and r.stdout.strip() == "ok", r.stderr


class TestErrors:
    def test_invalid_operands(self, xyz):
        x, y, _ = xyz

        class Thing:
            def __str__(self):
                return "thing"

        t = Thing()
        with pytest.raises(korvex.ModelError, match="^Invalid object in operation: <thing>$"):
            x ** t
        with pytest.raises(korvex.ModelError, match="^Invalid object in operation: <thing>$"):
            (x ** 3) * t
        with pytest.raises(korvex.ModelError, match="^Invalid operands in sum$"):
            x + t
        with pytest.raises(korvex.ModelError, match="^Invalid operands in sum$"):
            t - 2 * x
        with pytest.raises(korvex.ModelError, match="^Invalid operands in sum with quadratic term$"):
            x * y + t
        with pytest.raises(korvex.ModelError, match="^Invalid operand in expression$"):
            (x + y) + t
        with pytest.raises(korvex.ModelError, match="^Invalid operand in expression$"):
            (x + y) * t
        with pytest.raises(korvex.ModelError, match="^Invalid operands in product of linear terms$"):
            x * t
        with pytest.raises(korvex.ModelError, match="^Invalid operands in product of linear terms$"):
            (2 * x) / t
        if hasattr(korvex, "max"):
            with pytest.raises(korvex.ModelError, match="^Invalid object in n-ary nonlinear expression$"):
                korvex.max(x, "a")

    def test_linked_unlinked_and_deleted(self):
        p, q = korvex.problem(), korvex.problem()
        a, = linked_vars(p, 1)
        b, = linked_vars(q, 1)
        u = korvex.var()
        for f in (lambda: a + u, lambda: a * u, lambda: 2 * a + (u + 1), lambda: a <= u,
                  lambda: (a + 1) - (u * u), lambda: (a * a) + u * u, lambda: a ** 3 + u):
            with pytest.raises(korvex.ModelError,
                               match="^Linked variables and unlinked variables cannot be combined in expression$"):
                f()
        for f in (lambda: a + b, lambda: a * b, lambda: (a + 1) * (b + 1), lambda: a == b,
                  lambda: (a + 1) / b, lambda: a & b):
            with pytest.raises(korvex.ModelError, match="^Variables from different problems in expression$"):
                f()
        e, n = 2 * a + 1, a ** 3
        del p
        for f in (lambda: e + 1, lambda: 2 * a, lambda: e * 2, lambda: e <= 3, lambda: -a,
                  lambda: n + 1, lambda: a * a):
            with pytest.raises(korvex.ModelError, match="^Deleted variable in expression\nThe variable's problem no"):
                f()


def linked_vars(p, n):
    """n variables linked to the problem p."""
    p.loadLP("", [], [], None, [0.0] * n, [0] * (n + 1), None, [], [], [0.0] * n, [1.0] * n)
    return list(p.getVariable())
