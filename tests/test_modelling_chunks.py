"""addConstraint on long iterators and lists, sent to the solver in chunks: the result, and that a
failure in a late chunk takes back every row of the call."""
import pytest

import korvex as k

N = 60_000   # a few chunks


@pytest.fixture
def xs(p):
    return p.addVariables(3).tolist()


def counts(p):
    return p.attributes.rows, len(p.getConstraint())


def rows(x, n=N, bad_at=None, bad=None):
    for i in range(n):
        if i == bad_at:
            if isinstance(bad, Exception):
                raise bad
            yield bad
        yield k.constraint(body=(i % 7) * x[0] + x[1] - 2 * x[2], ub=i, name="r%d" % i)


def test_generator_rows_in_order(p, xs):
    p.addConstraint(xs[0] <= 1)
    got = p.addConstraint(rows(xs))
    assert isinstance(got, list) and len(got) == N
    assert counts(p) == (N + 1, N + 1)
    for i in (0, 19_999, 20_000, 40_001, N - 1):
        c = got[i]
        assert c.index == i + 1 and c.name == "r%d" % i
        assert str(c.getBody()) == str((i % 7) * xs[0] + xs[1] - 2 * xs[2])
        assert c.ub == i


@pytest.mark.parametrize("bad_at, bad, error", [
    (N - 5, ValueError("stop"), ValueError),
    (45_000, "x <= 1", k.InterfaceError),
    (50_000, None, k.InterfaceError),
])
def test_late_failure_in_generator_adds_nothing(p, xs, bad_at, bad, error):
    p.addConstraint(xs[0] + xs[1] <= 2)
    before = counts(p)
    with pytest.raises(error):
        p.addConstraint(rows(xs, bad_at=bad_at, bad=bad))
    assert counts(p) == before
    got = p.addConstraint(rows(xs, n=3))
    assert [c.index for c in got] == [1, 2, 3]


def test_late_failure_keeps_list_constraints_unlinked(p, xs):
    good = list(rows(xs))
    crossed = k.constraint(body=xs[0], lb=5, ub=1)
    with pytest.raises(k.ModelError, match="greater than its upper bound"):
        p.addConstraint(good, crossed)
    assert counts(p) == (0, 0)
    # the bodies and names of the listed constraints survived the rollback
    p.addConstraint(good)
    assert good[N - 1].index == N - 1 and good[N - 1].name == "r%d" % (N - 1)
    assert str(good[30_000].getBody()) == str(5 * xs[0] + xs[1] - 2 * xs[2])


def test_repeat_across_chunks(p, xs):
    c = xs[0] <= 4

    def gen():
        yield c
        yield from rows(xs, n=30_000)
        yield c
    with pytest.raises(k.ModelError, match="already been added"):
        p.addConstraint(gen())
    assert counts(p) == (0, 0)
    assert p.addConstraint(c).index == 0


def test_problem_changed_by_the_iterator(p, xs):
    other = []

    def gen():
        for i, c in enumerate(rows(xs, n=30_000)):
            if i == 25_000:
                other.append(p.addConstraint(xs[2] >= -1))
            yield c
    with pytest.raises(k.ModelError, match="changed while"):
        p.addConstraint(gen())
    # the row added meanwhile stays, renumbered after the first chunk went again
    assert counts(p) == (1, 1)
    assert other[0].index == 0 and p.getConstraint(0) is other[0]
    assert str(other[0].getBody()) == str(xs[2])
