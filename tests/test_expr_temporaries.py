"""Partial results that only the evaluation stack holds are grown in place by the next
operator; any operand that something else still holds keeps its value."""
import numpy as np
import pytest

import korvex



def lin(e):
    vs, cs = e.extractLinear()
    return {v.name: c for v, c in zip(vs, cs)}


def seen(*args):
    return None


@pytest.fixture
def xyz():
    p = korvex.problem()
    return p, p.addVariables(4, name="v").tolist()


def test_chains_give_the_copying_results(xyz):
    p, (x, y, z, w) = xyz
    e = x - 2 * y + z + w - 2 * x + y
    assert lin(e) == {"v_0": -1.0, "v_1": -1.0, "v_2": 1.0, "v_3": 1.0}
    f = 0.5 * (x - 2 * y + z) - 3
    assert lin(f) == {"v_0": 0.5, "v_1": -1.0, "v_2": 0.5} and str(f).startswith("-3 ")
    g = 2 * x - (y - 3 * z + 1)
    assert lin(g) == {"v_0": 2.0, "v_1": -1.0, "v_2": 3.0}
    h = (x + y) * 0.0 + z
    assert lin(h) == {"v_2": 1.0}
    c = 2 * (x - y) == 0.5 * (x + y + z)
    p.addConstraint(c)
    assert p.attributes.rows == 1


def test_attribute_loads_between_operators(xyz):
    p, (x, y, z, w) = xyz

    class M:
        pass

    m = M()
    m.x, m.y, m.e = x, y, x + y
    e = 2 * m.x - 3 * m.y + m.e + m.e.extractLinear.__self__
    assert lin(e) == {"v_0": 4.0, "v_1": -1.0}
    assert lin(m.e) == {"v_0": 1.0, "v_1": 1.0}


def test_held_operands_keep_their_values(xyz):
    p, (x, y, z, w) = xyz
    e = x + y
    before = lin(e)
    f = e + z
    g = e - 2 * w
    h = 3 * e
    k = e == z
    assert lin(e) == before
    assert lin(f) == {"v_0": 1.0, "v_1": 1.0, "v_2": 1.0}
    assert lin(g) == {"v_0": 1.0, "v_1": 1.0, "v_3": -2.0}
    assert lin(h) == {"v_0": 3.0, "v_1": 3.0}
    assert k is not None
    # a partial sum kept in a container and met again as an operand
    kept = []
    r = (kept.append(x + y) or kept[0]) + z
    assert lin(kept[0]) == {"v_0": 1.0, "v_1": 1.0} and lin(r) == {"v_0": 1.0, "v_1": 1.0, "v_2": 1.0}


def test_array_elements_are_never_changed(xyz):
    p, (x, y, z, w) = xyz
    arr = np.array([x + y, y + z], dtype=object)
    # the last result of the algebra sits in the array, held by it alone
    seen(arr[1], z)   # leaves both in the frame's stack area, side by side
    s = arr + z
    d = arr - 2 * w
    m = arr * 3.0
    assert lin(arr[0]) == {"v_0": 1.0, "v_1": 1.0} and lin(arr[1]) == {"v_1": 1.0, "v_2": 1.0}
    assert lin(s[1]) == {"v_1": 1.0, "v_2": 2.0}
    assert lin(d[0]) == {"v_0": 1.0, "v_1": 1.0, "v_3": -2.0}
    assert lin(m[1]) == {"v_1": 3.0, "v_2": 3.0}
    one = np.array([x - y], dtype=object)
    t = one + z
    assert lin(one[0]) == {"v_0": 1.0, "v_1": -1.0} and lin(t[0]) == {"v_0": 1.0, "v_1": -1.0, "v_2": 1.0}


def test_builtin_folds_leave_items_alone(xyz):
    p, (x, y, z, w) = xyz
    items = [x + y, z + w, x - w]
    total = sum(items)
    assert lin(total) == {"v_0": 2.0, "v_1": 1.0, "v_2": 1.0}
    assert [lin(i) for i in items] == [{"v_0": 1.0, "v_1": 1.0}, {"v_2": 1.0, "v_3": 1.0},
                                       {"v_0": 1.0, "v_3": -1.0}]
    s = korvex.Sum(items) + x
    assert lin(items[0]) == {"v_0": 1.0, "v_1": 1.0} and lin(s)["v_0"] == 3.0


def test_failed_operation_leaves_no_partial_result(xyz):
    p, (x, y, z, w) = xyz
    q = korvex.problem()
    (u,) = q.addVariables(1).tolist()
    with pytest.raises(korvex.ModelError):
        (x + y) + u
    e = x + y
    with pytest.raises(korvex.ModelError):
        e + u
    assert lin(e) == {"v_0": 1.0, "v_1": 1.0}


class Shadow:
    """Linear forms as plain dicts, for the expected results."""

    def __init__(self, d):
        self.d = {k: v for k, v in d.items() if v != 0}

    def _f(self, o):
        return o.d if isinstance(o, Shadow) else {None: float(o)}

    def _sum(self, a, b, c):
        r = dict(a)
        for k, v in b.items():
            r[k] = r.get(k, 0.0) + c * v
        return Shadow(r)

    def __add__(self, o):
        return self._sum(self.d, self._f(o), 1.0)

    def __radd__(self, o):
        return self._sum(self._f(o), self.d, 1.0)

    def __sub__(self, o):
        return self._sum(self.d, self._f(o), -1.0)

    def __rsub__(self, o):
        return self._sum(self._f(o), self.d, -1.0)

    def __mul__(self, c):
        return Shadow({k: c * v for k, v in self.d.items()})

    __rmul__ = __mul__


def test_fresh_code_at_reused_addresses(xyz):
    # programs compiled and dropped one after another put new code where old code was: in-place
    # growth must follow each program's own instructions, never what an earlier one held there
    import random
    p, xs = xyz
    rng = random.Random(3)
    names = ["x0", "x1", "x2", "x3", "h", "(x0 - x2)", "(h + x3)"]
    for _ in range(400):
        src = rng.choice(names)
        for _ in range(rng.randrange(1, 7)):
            term = rng.choice(names)
            if rng.random() < 0.4:
                term = "%s * %s" % (rng.choice(["2", "0.5", "-3"]), term)
            if rng.random() < 0.3:   # branches between a partial sum and its next operator
                term = "(%s if %s else %s)" % (term, rng.choice(["yes", "no"]), rng.choice(names))
            src = "%s %s %s" % (src, rng.choice("+-"), term)
            if rng.random() < 0.2:
                src = "%s * (%s)" % (rng.choice(["2", "-1"]), src)
        h = xs[0] + xs[1]
        real = dict(zip(["x0", "x1", "x2", "x3"], xs), h=h, yes=True, no=False)
        shadow = {"x%d" % i: Shadow({"v_%d" % i: 1.0}) for i in range(4)}
        shadow.update(yes=True, no=False)
        shadow["h"] = shadow["x0"] + shadow["x1"]
        got = eval(compile(src, "<row>", "eval"), real)
        want = eval(compile(src, "<row>", "eval"), shadow)
        if isinstance(got, korvex.expression):
            assert {k: v for k, v in lin(got).items() if v} == {k: v for k, v in want.d.items() if k and v}, src
        assert lin(h) == {"v_0": 1.0, "v_1": 1.0}, src
