import pytest

import korvex
from korvex import ModelError


DEPTH_MESSAGE = ("The expression tree depth reached the maximum limit, please reformulate or simplify "
                 "the expression")


def expr(*terms):
    """An expression built term by term in place."""
    e = korvex.expression()
    for t in terms:
        e += t
    return e


def test_terms(xyz):
    x, y, _ = xyz
    cases = [(2 * x, "2 * x"), (-1 * x, "-x"), (1.5 * x, "1.5 * x"), (1e-7 * x, "1e-07 * x"),
             (x * y, "x * y"), (y * x, "x * y"), (x * x, "x ** 2"), (3 * x * y, "3 * x * y"),
             (-1 * (x * y), "-x * y")]
    for obj, text in cases:
        assert str(obj) == text and repr(obj) == text


def test_expressions(xyz):
    x, y, z = xyz
    cases = [
        (korvex.expression(), "0"),
        (expr(2 * x), "2 * x"),
        (expr(-1 * x), "-x"),
        (expr(-1.5 * x), "-1.5 * x"),
        (expr(y, -1.5 * z), "y - 1.5 * z"),
        (expr(3, x, -2 * y, 0.5 * x * y), "3 + x - 2 * y + 0.5 * x * y"),
        (expr(z, y, x), "x + y + z"),
        (expr(y * y, -1 * (x * z), 2.5), "2.5 - x * z + y ** 2"),
        (expr(x, -1 * x), "0"),
        (expr(-7), "-7"),
    ]
    for obj, text in cases:
        assert str(obj) == text and repr(obj) == text


def test_nonlinear(xyz):
    x, y, z = xyz
    ex, ey, ez = korvex.exp(x), korvex.exp(y), korvex.exp(z)
    cases = [
        (korvex.exp(x + y), "exp(x + y)"),
        ((x + y) * ez, "(x + y) * exp(z)"),
        (ex - (ey - ez), "exp(x) - (exp(y) - exp(z))"),
        (ex / (ey * ez), "exp(x) / (exp(y) * exp(z))"),
        ((x ** 3) ** 2, "(x ** 3) ** 2"),
        ((-2) ** ex, "(-2) ** exp(x)"),
        (-ex, "-exp(x)"),
        (-(ex + ey), "-(exp(x) + exp(y))"),
        (korvex.max(x, y, z), "max(x, y, z)"),
        (korvex.user(lambda a: a, x), "user(user, x)"),
        (korvex.sqrt(2 * x), "sqrt(2 * x)"),
    ]
    for obj, text in cases:
        assert str(obj) == text and repr(obj) == text


def test_depth_cut(xyz):
    x = xyz[0]
    for levels, cut in ((64, False), (65, True)):
        n = x
        for _ in range(levels):
            n = korvex.sin(n)
        text = str(n)
        assert text.count("sin(") == levels
        assert ("[MAX RECURS LEV]" in text) == cut and text.endswith(")" * levels)


def test_extract_terms_and_expressions(xyz):
    x, y, _ = xyz
    assert (2 * x).extractLinear() == ([x], [2.0])
    assert (2 * x).extractQuadratic() == ([], [], [])
    assert (3 * x * y).extractLinear() == ([], [])
    assert (3 * y * x).extractQuadratic() == ([x], [y], [3.0])
    e = expr(3 * y, 2 * x, 1, 4 * y * x, x * x)
    assert e.extractLinear() == ([x, y], [2.0, 3.0])
    assert e.extractQuadratic() == ([x, x], [x, y], [1.0, 4.0])
    assert korvex.expression().extractLinear() == ([], [])
    assert korvex.expression().extractQuadratic() == ([], [], [])
    assert (x * y + y * x).extractQuadratic() == ([x], [y], [2.0])


def test_extract_from_trees(xyz):
    x, y, _ = xyz
    assert (x ** 5 - 7 * x).extractLinear() == ([x], [-7.0])
    assert korvex.log(korvex.exp(y)).extractLinear() == ([], [])
    s = korvex.exp(x) + 2 * x + 3 * y * y
    assert s.extractLinear() == ([x], [2.0])
    assert s.extractQuadratic() == ([y], [y], [3.0])
    assert (2 * (korvex.exp(x) + x)).extractLinear() == ([x], [2.0])
    assert ((korvex.exp(x) + x) / 4).extractLinear() == ([x], [0.25])
    assert (korvex.exp(x) * korvex.exp(y) + y).extractLinear() == ([y], [1.0])
    # entries that cancel disappear
    assert (korvex.exp(x) + x - x).extractLinear() == ([], [])


def test_extract_depth(xyz):
    x = xyz[0]
    n = korvex.exp(x) + x
    for _ in range(60):
        n = -n
    assert n.extractLinear() == ([x], [1.0])
    for _ in range(10):
        n = -n
    with pytest.raises(ModelError, match=DEPTH_MESSAGE):
        n.extractLinear()
    with pytest.raises(ModelError, match=DEPTH_MESSAGE):
        n.extractQuadratic()


def test_order_of_many_terms():
    import random
    vs = [korvex.var(name=f"v{i}") for i in range(300)]
    shuffled = vs[:]
    random.Random(4).shuffle(shuffled)
    e = expr(*shuffled)
    assert str(e) == " + ".join(f"v{i}" for i in range(300))
    assert e.extractLinear() == (vs, [1.0] * 300)
    q = expr(*(a * b for a, b in zip(shuffled, reversed(shuffled))))
    v1, v2, _ = q.extractQuadratic()
    pos = {id(v): i for i, v in enumerate(vs)}
    pairs = [(pos[id(a)], pos[id(b)]) for a, b in zip(v1, v2)]
    assert pairs == sorted(pairs) and all(i <= j for i, j in pairs) and len(pairs) == 150
