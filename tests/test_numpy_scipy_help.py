"""NumPy arrays in sums, SciPy sparse products, module help and silent output as a new user meets them."""
import os
import pydoc

import numpy as np
import pytest
import scipy.sparse as sp

import korvex as k
from test_api_support import data_path



@pytest.fixture
def p3():
    p = k.problem()
    return p, np.array([p.addVariable(name=f"v{i}") for i in range(3)], dtype=object)


@pytest.mark.parametrize("first", [np.array(2.0), np.array(2), np.float32(2.0), 2])
def test_sum_with_zero_dimensional_arrays_and_scalars(p3, first):
    _, v = p3
    e = k.Sum([first, v[0], first])
    assert k.evaluate(e, solution={v[0]: 1.5}) == pytest.approx(5.5)


def test_sum_leaves_numeric_arrays_of_the_caller_unchanged(p3):
    _, v = p3
    a = np.array([1.0, 2.0])
    r = k.Sum([a, v[0]])
    assert a.tolist() == [1.0, 2.0]
    assert [k.evaluate(t, solution={v[0]: 1.0}) for t in r] == [2.0, 3.0]


@pytest.mark.parametrize("fmt", ["csr_matrix", "csc_matrix", "csr_array", "csc_array"])
def test_sparse_products_with_arrays_of_variables_match_Dot(p3, fmt):
    p, v = p3
    dense = np.array([[1.0, 2.0, 0.0], [0.0, 0.0, 3.0]])
    A = getattr(sp, fmt)(dense)
    sol = {v[0]: 1.0, v[1]: -2.0, v[2]: 0.5}
    want = dense @ np.array([1.0, -2.0, 0.5])
    for r in (A @ v, A.dot(v), k.Dot(A, v)):
        assert [k.evaluate(t, solution=sol) for t in r] == pytest.approx(want)
    left = v[:2] @ A
    assert [k.evaluate(t, solution=sol) for t in left] == pytest.approx(np.array([1.0, -2.0]) @ dense)
    # products with numbers keep SciPy's own result
    assert np.allclose(A @ np.ones(3), dense @ np.ones(3))
    # and the rows built from them solve
    p.addConstraint(A @ v <= np.array([4.0, 6.0]))
    p.setObjective(-v[0] - v[1] - v[2])
    p.addConstraint(v[0] <= 10, v[1] <= 10, v[2] <= 10)
    p.optimize()
    x = np.array(p.getSolution(list(v)))
    assert np.all(dense @ x <= np.array([4.0, 6.0]) + 1e-7)


def test_help_lists_module_functions():
    text = pydoc.render_doc(k, renderer=pydoc.plaintext)
    for name in ("Sum(", "Dot(", "exp(", "pwl(", "evaluate(", "setOutputEnabled("):
        assert name in text


def test_nothing_reaches_the_process_output_while_output_is_off(capfd):
    data = data_path()                           # the data file is a further case when present
    k.setOutputEnabled(False)
    try:
        p = k.problem()
        x = p.addVariable(lb=0, ub=5)
        y = p.addVariable(ub=3)
        p.addConstraint(x + y >= 1.5)
        p.setObjective(x * x - 2 * x + y)
        p.optimize()
        p.chgColType([y], ["I"])
        p.setObjective(x + 2 * y)
        p.optimize()
        q = k.problem()
        z = q.addVariable(lb=-1, ub=2)
        q.setObjective(k.exp(z) + z * z)
        q.optimize()
        if data is not None:
            r = k.problem()
            r.readProb(os.path.join(data, "netlib", "afiro.mps.gz"))
            r.lpOptimize("b")
            r.lpOptimize("p")
    finally:
        k.setOutputEnabled(True)
    out, err = capfd.readouterr()
    assert out == "" and err == ""
