"""Random expression trees built with the operators, evaluated at random points against a
plain-Python evaluation of the same tree.

Our objects are evaluated from what they expose: the linear and quadratic lists of terms and
expressions (the constant read from the bounds of e == 0), and the printed text of nonlinear
nodes read back as Python."""
import math

import numpy as np
import pytest

import korvex

from hypothesis import HealthCheck, given, settings, strategies as st

NAMES = ["x0", "x1", "x2", "x3"]
VARS = [korvex.var(name=n) for n in NAMES] if hasattr(korvex, "var") else []
FUNCS = {n: getattr(math, n) for n in ("exp", "sin", "cos")} if hasattr(korvex, "exp") else {}
NUMBERS = [-3, -2, -1, -0.5, 0, 0.5, 1, 2, 3]
NUMPY = [None, np.float64, np.int64, np.float32, np.int32]

leaf = st.one_of(
    st.tuples(st.just("var"), st.integers(0, 3)),
    st.tuples(st.just("num"), st.sampled_from(NUMBERS), st.sampled_from(NUMPY)),
)


def extend(children):
    binary = st.tuples(st.sampled_from(["add", "sub", "mul", "div", "iadd", "isub", "imul", "idiv"]),
                       children, children)
    ops = [binary,
           st.tuples(st.sampled_from(["pow", "ipow"]), children, st.integers(0, 3)),
           st.tuples(st.just("neg"), children)]
    if FUNCS:
        ops.append(st.tuples(st.just("fun"), st.sampled_from(sorted(FUNCS)), children))
    return st.one_of(*ops)


trees = st.recursive(leaf, extend, max_leaves=8)


def number(value, t):
    if t is None:
        return value
    if t in (np.int64, np.int32) and value != int(value):
        return float(value)
    return t(value)


def build(d):
    """Our object for the tree d (fresh objects, so in-place forms change only this branch)."""
    op = d[0]
    if op == "var":
        return VARS[d[1]]
    if op == "num":
        return number(d[1], d[2])
    if op == "neg":
        return -build(d[1])
    if op == "fun":
        return getattr(korvex, d[1])(build(d[2]))
    if op in ("pow", "ipow"):
        a = build(d[1])
        if op == "pow":
            return a ** d[2]
        a **= d[2]
        return a
    a, b = build(d[1]), build(d[2])
    if op == "add":
        return a + b
    if op == "sub":
        return a - b
    if op == "mul":
        return a * b
    if op == "div":
        return a / b
    if op == "iadd":
        a += b
    elif op == "isub":
        a -= b
    elif op == "imul":
        a *= b
    else:
        a /= b
    return a


def reference(d, point):
    op = d[0]
    if op == "var":
        return point[d[1]]
    if op == "num":
        return float(d[1])
    if op == "neg":
        return -reference(d[1], point)
    if op == "fun":
        return FUNCS[d[1]](reference(d[2], point))
    if op in ("pow", "ipow"):
        return reference(d[1], point) ** d[2]
    a, b = reference(d[1], point), reference(d[2], point)
    return {"add": a + b, "iadd": a + b, "sub": a - b, "isub": a - b, "mul": a * b,
            "imul": a * b}.get(op) if op not in ("div", "idiv") else a / b


def ours(obj, point):
    """Value of our object at the point, and whether it was read exactly (not from text)."""
    if isinstance(obj, (int, float, np.number)):
        return float(obj), True
    values = {v: point[i] for i, v in enumerate(VARS)}
    if type(obj) is korvex.var:
        return values[obj], True
    if type(obj) is korvex.nonlin:
        env = dict(zip(NAMES, point), **FUNCS)
        return float(eval(str(obj), {"__builtins__": {}}, env)), False
    vs, cs = obj.extractLinear()
    us, ws, qs = obj.extractQuadratic()
    if type(obj) is korvex.linterm:
        assert cs[0] != 0.0
    if type(obj) is korvex.expression:
        assert all(c != 0.0 for c in cs) and all(q != 0.0 for q in qs)
    total = -(obj == 0).ub
    total += sum(c * values[v] for v, c in zip(vs, cs))
    total += sum(q * values[u] * values[w] for u, w, q in zip(us, ws, qs))
    return total, True


points = st.lists(st.lists(st.sampled_from([-1.75, -1.0, -0.5, 0.25, 0.5, 1.0, 1.5, 2.0]),
                           min_size=4, max_size=4), min_size=3, max_size=3)


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(trees, points)
def test_operators_agree_with_plain_python(tree, pts):
    try:
        with np.errstate(all="ignore"):
            obj = build(tree)
    except (korvex.ModelError, ZeroDivisionError) as e:
        assert isinstance(e, ZeroDivisionError) or "Division by zero" in str(e)
        for p in pts:
            with pytest.raises(ZeroDivisionError):
                reference(tree, p)
        return
    except OverflowError:
        return
    for p in pts:
        try:
            want = reference(tree, p)
        except (ZeroDivisionError, OverflowError, ValueError):
            continue
        if not math.isfinite(want) or abs(want) > 1e8:
            continue
        try:
            got, exact = ours(obj, p)
        except (ZeroDivisionError, OverflowError):
            continue
        # plain NumPy arithmetic in single precision, or text read back
        single = isinstance(obj, np.number) or "float32" in repr(tree)
        tol = 1e-9 if exact and not single else 1e-4
        assert got == pytest.approx(want, rel=tol, abs=tol), (tree, p, str(obj))


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(trees, trees, st.sampled_from(["<=", ">="]), points)
def test_comparisons_hold_where_the_plain_comparison_does(left, right, op, pts):
    """lb <= body <= ub of the constraint from left <= right (or >=) holds exactly at the
    points where the comparison of the plain-Python values holds."""
    try:
        with np.errstate(all="ignore"):
            a, b = build(left), build(right)
            con = a <= b if op == "<=" else a >= b
    except (korvex.ModelError, korvex.InterfaceError, ZeroDivisionError, OverflowError):
        return
    if type(con) is not korvex.constraint:
        return
    for p in pts:
        try:
            want_l, want_r = reference(left, p), reference(right, p)
            got, exact = ours(con.body, p)
        except (ZeroDivisionError, OverflowError, ValueError):
            continue
        if not all(math.isfinite(v) and abs(v) < 1e8 for v in (want_l, want_r, got)):
            continue
        margin = abs(want_l - want_r)
        if margin < 1e-3 * max(1.0, abs(want_l), abs(want_r)):
            continue
        holds = want_l <= want_r if op == "<=" else want_l >= want_r
        assert (con.lb <= got <= con.ub) == holds, (left, right, op, p, str(con.body), con.lb, con.ub)
