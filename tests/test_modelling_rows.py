"""Rows of linear constraints match, term by term, the expression they came from and the rows of
the same expressions carrying a quadratic part, whatever their order in one call."""
import random

import pytest

import korvex as k


@pytest.fixture
def p():
    prob = k.problem()
    prob.setControl("outputlog", 0)
    return prob


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
        p.addConstraint(rows)
        for e, fast, general in cases:
            want = entries(e)
            assert entries(fast.getBody()) == want == entries(general.getBody())
            assert (fast.lb, fast.ub) == (general.lb, general.ub)
