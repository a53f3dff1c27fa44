import math

import numpy as np
import pytest
import scipy.sparse as sp

import korvex



@pytest.fixture
def x():
    return np.array([korvex.var(name=f"x{i}") for i in range(5)], dtype=object).view(korvex.ndarray)


def coefs(exprs, variables):
    """Dense coefficient array of an array of linear expressions: shape exprs.shape + (len(variables),)."""
    pos = {id(v): i for i, v in enumerate(variables)}
    exprs = np.asarray(exprs, dtype=object)
    out = np.zeros(exprs.shape + (len(variables),))
    for idx in np.ndindex(exprs.shape):
        vs, cs = exprs[idx].extractLinear()
        for v, c in zip(vs, cs):
            out[idx + (pos[id(v)],)] += c
    return out


@pytest.mark.parametrize("fmt", ["csr", "csc", "coo"])
def test_sparse_products(x, fmt):
    rng = np.random.default_rng(3)
    dense = rng.random((4, 5)) * (rng.random((4, 5)) < 0.5)
    dense[2] = 0.0                       # an empty row gives an empty expression
    A = sp.csr_matrix(dense).asformat(fmt)
    r = korvex.Dot(A, x)
    assert isinstance(r, korvex.ndarray) and r.shape == (4,)
    np.testing.assert_allclose(coefs(r, x), dense)
    assert str(r[2]) == "0"
    for left in (korvex.Dot(x[:4], A), x[:4] @ A):
        np.testing.assert_allclose(coefs(left, x[:4]), dense.T)
    # two-dimensional operands: columns of variables
    X = x.reshape(5, 1)[[0, 1, 2, 3, 4, 0]].reshape(2, 3).T           # shape (3, 2)
    D = rng.random((2, 3))
    R = korvex.Dot(sp.csr_matrix(D).asformat(fmt), X)
    assert R.shape == (2, 2)
    np.testing.assert_allclose(coefs(R, x), coefs(np.dot(D, X.view(np.ndarray)), x))
    L = korvex.Dot(X.T.copy(), sp.csr_array(dense.T[:3, :2]).asformat(fmt))     # (2, 3) @ (3, 2)
    np.testing.assert_allclose(coefs(L, x), coefs(np.dot(X.T.view(np.ndarray), dense.T[:3, :2]), x))
    # numbers only: SciPy's own product
    np.testing.assert_allclose(korvex.Dot(A, np.ones(5)), dense @ np.ones(5))


def parts(e, variables):
    """Linear and quadratic coefficients of one cell, keyed by variable positions."""
    pos = {id(v): i for i, v in enumerate(variables)}
    vs, cs = e.extractLinear()
    lin = {pos[id(v)]: c for v, c in zip(vs, cs)}
    v1, v2, cs = e.extractQuadratic()
    quad = {tuple(sorted((pos[id(a)], pos[id(b)]))): c for a, b, c in zip(v1, v2, cs)}
    return lin, quad


def test_dense_products_against_numpy(x):
    rng = np.random.default_rng(5)
    plain = x.view(np.ndarray)
    M = rng.random((3, 5))
    T = rng.random((2, 3, 4))
    X = plain[:4].reshape(2, 2)
    Y = np.array([plain[[0, 1, 2, 3]], plain[[4, 3, 2, 1]]])       # (2, 4)
    cases = [(M, plain), (plain, M.T), (T, plain[:4]), (T, Y.T), (plain[:4], T.transpose(0, 2, 1)), (X, X.T),
             (Y, Y.T)]
    for a, b in cases:
        got, ref = korvex.Dot(a, b), np.dot(a, b)
        assert np.shape(got) == np.shape(ref)
        for g, r in zip(np.ravel(got), np.ravel(ref)):
            (gl, gq), (rl, rq) = parts(g, x), parts(r, x)
            assert gl.keys() == rl.keys() and gq.keys() == rq.keys()
            assert all(gl[k] == pytest.approx(rl[k]) for k in gl) and all(gq[k] == pytest.approx(rq[k]) for k in gq)
    e = x @ np.arange(5.0)
    assert str(e) == "x1 + 2 * x2 + 3 * x3 + 4 * x4"
    assert str(np.arange(5.0) @ x) == str(e)
    np.testing.assert_allclose(coefs(M @ x, x), M)
    np.testing.assert_allclose(coefs(np.dot(M, x), x), M)
    out = np.empty(3, dtype=object)
    assert np.dot(M, x, out=out) is out and str(out[0]) == str((M @ x)[0])


def test_elementwise_arithmetic(x):
    cases = [(x + 1, "1 + {}"), (2 * x, "2 * {}"), (x - 2 * x, "-{}"), (x / 4, "0.25 * {}"), (x ** 2, "{} ** 2"),
             (-x, "-{}"), (korvex.exp(x), "exp({})")]
    for arr, fmt in cases:
        assert isinstance(arr, korvex.ndarray) and arr.dtype == object
        assert [str(v) for v in arr] == [fmt.format(f"x{i}") for i in range(5)]
    assert str(korvex.Sum(x)) == "x0 + x1 + x2 + x3 + x4"


def test_sum_reductions(x):
    m = (x[:4] * np.array([1, 2, 3, 4])).reshape(2, 2)
    assert str(x.sum()) == str(np.sum(x)) == "x0 + x1 + x2 + x3 + x4"
    assert [str(v) for v in m.sum(axis=0)] == ["x0 + 3 * x2", "2 * x1 + 4 * x3"]
    assert [str(v) for v in np.add.reduce(m, axis=1)] == ["x0 + 2 * x1", "3 * x2 + 4 * x3"]
    assert m.sum(axis=1, keepdims=True).shape == (2, 1) and isinstance(m.sum(axis=-1), korvex.ndarray)
    assert str(m.sum(axis=(0, 1))) == "x0 + 2 * x1 + 3 * x2 + 4 * x3"
    # arrays of numbers keep NumPy's own reduction
    assert np.array([1.0, 2.0], dtype=object).view(korvex.ndarray).sum() == 3.0


def test_comparisons_build_constraints(x):
    for arr in (x <= 3, 3 >= x, x == np.arange(5), np.arange(5.0) <= x, x >= x[::-1], (2 * x + 1) <= 4,
                x[0] <= np.arange(5.0), korvex.exp(x[1]) >= np.zeros(5)):
        assert isinstance(arr, korvex.ndarray) and arr.shape == (5,)
        assert all(isinstance(c, korvex.constraint) for c in arr)
    cons = korvex.Dot(sp.csr_matrix(np.eye(5)), x) <= np.ones(5)
    assert all(isinstance(c, korvex.constraint) for c in cons)
    # arrays of numbers still compare to truth values
    nums = np.arange(3.0).view(korvex.ndarray)
    assert (nums <= 1).dtype == bool and list(nums <= 1) == [True, True, False]


def test_half_precision():
    values = [1.0, -2.5, 65504.0, 2.0 ** -24, 0.0, math.inf, -math.inf]
    for v in values:
        assert korvex.max(np.array([v], dtype=np.float16)) == v
    assert math.isnan(korvex.max(np.array([math.nan], dtype=np.float16)))


def test_sparse_errors(x):
    A = sp.csr_matrix(np.eye(5))
    with pytest.raises(korvex.ModelError, match="^A sparse matrix can only be multiplied by an array of one or two"):
        korvex.Dot(A, x.reshape(5, 1, 1))
    with pytest.raises(ValueError, match="dimension mismatch"):
        korvex.Dot(A, x[:3])
    with pytest.raises(korvex.ModelError, match="^Only two-dimensional sparse matrices can be multiplied$"):
        korvex.Dot(sp.coo_array(np.ones(5)), x)
    # a matrix whose index arrays were damaged is refused, never read out of bounds
    bad = sp.csr_matrix(np.eye(5))
    bad.indices[2] = 7
    with pytest.raises(ValueError, match="^Invalid sparse matrix: index out of range$"):
        korvex.Dot(bad, x)
    bad = sp.csr_matrix(np.eye(5))
    bad.indptr[3] = 9
    with pytest.raises(ValueError, match="^Invalid sparse matrix: index pointers out of range$"):
        korvex.Dot(bad, x)
