import sys

import numpy as np
import pytest
import scipy.sparse

import korvex
from korvex import ModelError


@pytest.fixture
def xs():
    return [korvex.var(name=f"x{i}") for i in range(4)]


def test_sum_shapes(xs):
    x0, x1, x2, x3 = xs
    for empty in (korvex.Sum(), korvex.Sum([])):
        assert isinstance(empty, korvex.expression) and str(empty) == "0"
    three = korvex.Sum(1, 2)
    assert isinstance(three, korvex.expression) and str(three) == "3"
    assert korvex.Sum(x0) is x0
    assert str(korvex.Sum([x0, None, x1])) == "x0 + x1"
    assert str(korvex.Sum(xs[i] for i in range(3))) == "x0 + x1 + x2"
    assert str(korvex.Sum(iter([2 * x0, x1]))) == "2 * x0 + x1"
    assert str(korvex.Sum({"a": x0, "b": x1})) == "x0 + x1"
    # other iterables: dictionary views and sets
    d = {"a": x0, "b": x1, "c": None}
    assert str(korvex.Sum(d.values())) == "x0 + x1"
    assert str(korvex.Sum({x0: 1, x1: 2}.keys())) == "x0 + x1"
    assert str(korvex.Prod(d.values())) == "x0 * x1"
    assert str(korvex.Sum(frozenset({2.5}))) == "2.5" and korvex.And({1, 2}) == 1.0
    assert str(korvex.Dot({"a": np.array([1.0, 2.0]), "b": np.array([x0, x1])}.values())) == "x0 + 2 * x1"
    assert str(korvex.Sum((x0, 3 * x1 * x2, 1.5, -1 * x0))) == "1.5 + 3 * x1 * x2"
    assert str(korvex.Sum(np.array([1.0, 2.0]))) == "3"
    assert str(korvex.Sum(np.array([[x0, x1], [x2, x3]]))) == "x0 + x1 + x2 + x3"
    assert str(korvex.Sum(np.array([True, True]))) == "2"
    assert str(korvex.Sum(np.array([1, 2], dtype=np.int32))) == "3"
    assert str(korvex.Sum(range(4))) == "6"
    # nonlinear items keep the sum going
    s = korvex.Sum([x0, korvex.exp(x1), 2 * x2])
    assert isinstance(s, korvex.nonlin) and s.extractLinear() == ([x0, x2], [1.0, 2.0])


def test_sum_leaves_operands_unchanged(xs):
    x0, x1, x2, _ = xs
    e = x0 + 2 * x1
    n = korvex.exp(x0) + x1
    korvex.Sum([e, x2, e, 3])
    korvex.Sum([0, n, x2, n])
    korvex.Sum([0, e, x2])
    korvex.Sum([None, e, 1.5, x2 * x2])
    korvex.Prod([e, 2, 3])
    korvex.Dot([1], [e])
    korvex.Sum(e, n, e)
    assert str(e) == "x0 + 2 * x1" and str(n) == "exp(x0) + x1"


def test_prod_and_or(xs):
    x0, x1, x2, _ = xs
    assert korvex.Prod([]) == 0.0 and korvex.Prod() == 0.0
    assert korvex.Prod(2, 3) == 6
    assert str(korvex.Prod(x0, x1)) == "x0 * x1"
    assert str(korvex.Prod(2, x0)) == "2 * x0"
    assert str(korvex.Prod(x0, korvex.exp(x1), x2)) == "x0 * exp(x1) * x2"
    assert korvex.And([]) is True and korvex.Or() is True
    assert str(korvex.And(x0, x1, x2)) == "and(x0, x1, x2)"
    assert str(korvex.Or([x0, x1])) == "or(x0, x1)"
    # two plain numbers combine as logical values, not bit by bit
    assert korvex.And(1, 2) == 1.0 and korvex.And(1, 0) == 0.0 and korvex.Or(0, 2) == 1.0
    assert korvex.Or(0.5, 0.5) == 0.0
    assert korvex.And(True, False) is False and korvex.Or(True, False) is True


def test_errors(xs):
    with pytest.raises(ModelError, match="^Incorrect objects used in Sum, Dot, Prod, or aggregate functions$"):
        korvex.Sum(np.array([1, 2], dtype=np.int64))
    with pytest.raises(ModelError, match="^Incorrect objects used in Sum, Dot, Prod, or aggregate functions$"):
        korvex.Prod(np.array([1, 2], dtype=np.float32))
    with pytest.raises(ModelError, match="^Invalid object in Sum or Prod operators$"):
        korvex.Sum(object())
    with pytest.raises(ModelError, match="^Invalid object in Sum or Prod operators$"):
        korvex.And(korvex.problem)

    class BadLength:
        def __len__(self):
            raise ValueError("no length")

        def __getitem__(self, i):
            return 1

    with pytest.raises(ModelError, match="^Invalid sequence of objects$"):
        korvex.Sum(BadLength())

    class BadItems:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            raise KeyError(i)

    with pytest.raises(ModelError, match="^Cannot iterate over sequence$") as e:
        korvex.Sum(BadItems())
    assert isinstance(e.value.__cause__, KeyError)

    def failing():
        yield xs[0]
        raise KeyError("stop")

    with pytest.raises(KeyError):
        korvex.Sum(failing())
    with pytest.raises(ModelError, match="Invalid"):
        korvex.Sum([xs[0], object()])


def test_dot(xs):
    x0, x1, x2, _ = xs
    assert korvex.Dot() == 0.0
    assert str(korvex.Dot([1, 2, 3], [x0, x1, x2])) == "x0 + 2 * x1 + 3 * x2"
    assert str(korvex.Dot(2, x0)) == "2 * x0"
    assert str(korvex.Dot(np.array([x0, x1]), np.array([x1, x2]))) == "x0 * x1 + x1 * x2"
    assert korvex.Dot(np.array([1.0, 2.0]), np.array([3.0, 4.0])) == 11.0
    m = korvex.Dot(np.eye(2), np.array([x0, x1]), 2)
    assert isinstance(m, korvex.ndarray) and [str(v) for v in m] == ["2 * x0", "2 * x1"]
    out = np.empty(2, dtype=object)
    r = korvex.Dot(np.array([[1, 0], [1, 1]]), np.array([x0, x1]), out=out)
    assert r is out and [str(v) for v in out] == ["x0", "x0 + x1"]
    with pytest.raises(ModelError):
        korvex.Dot(np.eye(2), np.array([x0, x1]), out=np.empty(3, dtype=object))
    with pytest.raises(ModelError):
        korvex.Dot(np.eye(2), np.array([x0, x1]), out=[0, 0])
    # out given positionally is one more factor
    assert str(korvex.Dot([1, 1], [x0, x1], 3)) == "3 * x0 + 3 * x1"
    with pytest.raises(ValueError, match="not aligned"):
        korvex.Dot(np.ones((2, 3)), np.array([x0, x1]))


def test_refcounts_flat(xs):
    x0, x1, x2 = xs[:3]
    before = [sys.getrefcount(v) for v in xs]
    arr = np.array(xs, dtype=object)
    A = np.arange(8.0).reshape(2, 4)
    S = scipy.sparse.csr_matrix(A)
    for _i in range(100000 // 10):
        for _j in range(10):
            korvex.Sum([x0, 2 * x1, x0 * x2, 3])
        korvex.Dot(A, arr)
        korvex.Dot(S, arr) <= 1
        korvex.Prod(x0, korvex.exp(x1))
        korvex.And(x0, x1)
        str(korvex.Sum(arr) + korvex.sin(x2))
        korvex.max([x0, x1])
        korvex.pwl({(0, 1): x0, (1, 2): 1.0})
        (korvex.exp(x0) + x1).extractLinear()
    del arr
    assert [sys.getrefcount(v) for v in xs] == before
