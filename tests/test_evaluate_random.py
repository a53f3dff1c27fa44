"""korvex.evaluate against a plain-Python evaluator of the same trees at random points."""
import math

import pytest
from hypothesis import given, settings, strategies as st, HealthCheck

import korvex

X = [korvex.var(name="x%d" % i) for i in range(3)]

# Each tree is a pair of functions: one builds the korvex object over given variables, the
# other computes its value in plain Python from given values.
leaves = st.one_of(
    st.integers(0, 2).map(lambda i: (lambda V, i=i: V[i], lambda v, i=i: v[i])),
    st.floats(-3, 3, allow_nan=False).map(lambda c: (lambda V, c=c: c, lambda v, c=c: c)),
)

UNARY = [
    (korvex.sin, math.sin), (korvex.cos, math.cos), (korvex.atan, math.atan), (korvex.erf, math.erf),
    (korvex.abs, abs), (korvex.sign, lambda a: (a > 0) - (a < 0)),
    (lambda a: korvex.exp(korvex.sin(a)), lambda a: math.exp(math.sin(a))),
    (lambda a: korvex.sqrt(1 + a * a), lambda a: math.sqrt(1 + a * a)),
    (lambda a: korvex.log(2 + korvex.cos(a)), lambda a: math.log(2 + math.cos(a))),
    (lambda a: -a, lambda a: -a),
]
BINARY = [
    (lambda a, b: a + b, lambda a, b: a + b),
    (lambda a, b: a - b, lambda a, b: a - b),
    (lambda a, b: a * b, lambda a, b: a * b),
    (lambda a, b: a / (3 + korvex.sin(b)), lambda a, b: a / (3 + math.sin(b))),
    (lambda a, b: a ** 2 - b, lambda a, b: a ** 2 - b),
    (lambda a, b: korvex.max(a, b), max),
    (lambda a, b: korvex.min([a, b, 0.5]), lambda a, b: min(a, b, 0.5)),
    (lambda a, b: korvex.Sum(a, b, 1), lambda a, b: a + b + 1),
    (lambda a, b: korvex.Prod(a, b), lambda a, b: a * b),
    (lambda a, b: korvex.user(lambda p, q: p * q - 1, a, b), lambda a, b: a * b - 1),
]


def unary(child):
    return st.tuples(st.sampled_from(UNARY), child).map(
        lambda t: (lambda V: t[0][0](t[1][0](V)), lambda v: t[0][1](t[1][1](v))))


def binary(child):
    return st.tuples(st.sampled_from(BINARY), child, child).map(
        lambda t: (lambda V: t[0][0](t[1][0](V), t[2][0](V)), lambda v: t[0][1](t[1][1](v), t[2][1](v))))


trees = st.recursive(leaves, lambda child: st.one_of(unary(child), binary(child)), max_leaves=12)
points = st.lists(st.floats(-2, 2, allow_nan=False), min_size=3, max_size=3)


def close(a, b):
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return math.isclose(a, b, rel_tol=1e-9, abs_tol=1e-9)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(trees, points)
def test_random_trees_match_reference(tree, point):
    build, ref = tree
    try:
        want = float(ref(point))
    except (OverflowError, ZeroDivisionError, ValueError):
        return
    obj = build(X)
    got = korvex.evaluate(obj, solution=dict(zip(X, point)))
    assert close(got, want), (str(obj), got, want)


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(trees, points)
def test_get_solution_equals_evaluate_on_random_trees(tree, point):
    """A problem whose bounds fix its columns at the point: getSolution of a tree over its
    variables equals evaluate on the solution and the reference value."""
    build, ref = tree
    try:
        want = float(ref(point))
    except (OverflowError, ZeroDivisionError, ValueError):
        return
    p = korvex.problem()
    p.controls.outputlog = 0
    ys = [p.addVariable(lb=v, ub=v) for v in point]
    p.optimize()
    obj = build(ys)
    sol = p.getSolution()
    got = p.getSolution(obj)
    assert close(got, korvex.evaluate(obj, solution=sol)) and close(got, want)
    assert korvex.evaluate(obj, problem=p) == got
    assert p.getSolution([obj, (obj,)]) == [got, (got,)]
