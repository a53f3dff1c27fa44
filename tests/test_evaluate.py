"""korvex.evaluate and problem.getSolution of expressions: operands, containers, value sources,
the arithmetic of every node kind, and the error texts."""
import math

import numpy as np
import pytest

import korvex
from test_api_support import raises, LP, MIP

NO_PROBLEM = ("korvex.evaluate() requires at least one of the two arguments \"solution\" and \"problem\".\n"
              "See the documentation of korvex.evaluate for details.")
BAD_SOLUTION = ("Argument \"solution\" must be a dictionary, a list, or a one-dimensional NumPy array.\n"
                "See the documentation for korvex.evaluate")
NEED_PROBLEM = ("Argument \"problem\" is necessary when passing the solution as a list, array or dict "
                "keyed by index")
OBJECT_DTYPE = "korvex.evaluate() requires one or more Python objects;\nNumPy arrays must have object dtype."
DEPTH = "Evaluation of expression exceeded recursion depth limit"


@pytest.fixture
def xy():
    return korvex.var(name="x"), korvex.var(name="y")


def loaded(args=LP):
    """A problem loaded from arrays (a MIP when args has column types) and its variables."""
    p = korvex.problem()
    p.controls.outputlog = 0
    (p.loadMIP if "coltype" in args else p.loadLP)(**args)
    return p, p.getVariable()


def test_operand_kinds_against_hand_values(xy):
    x, y = xy
    s = {x: 2.0, y: -3.0}
    cases = [
        (x, 2.0), (3 * x, 6.0), (x * y, -6.0), (2 * x * x, 8.0), (x ** 2, 4.0),
        (x ** 2 - 3 * x * y + 4 * y + 1, 4 + 18 - 12 + 1), (korvex.expression() + 2.5, 2.5),
        (7, 7.0), (np.int16(3), 3.0), (np.float32(0.5), 0.5), (True, 1.0),
        (-(x + y), 1.0), (x - korvex.exp(y), 2 - math.exp(-3)), (korvex.sin(x) * y, -3 * math.sin(2)),
        ((x + 1) / (y - 1), 3 / -4), (korvex.exp(x) ** y, math.exp(2) ** -3),
        (korvex.log(x), math.log(2)), (korvex.log10(x), math.log(2) / 2.302585092994046),
        (korvex.cos(x), math.cos(2)), (korvex.tan(x), math.tan(2)), (korvex.atan(y), math.atan(-3)),
        (korvex.asin(x / 4), math.asin(0.5)), (korvex.acos(x / 4), math.acos(0.5)),
        (korvex.abs(y), 3.0), (korvex.sign(y), -1.0), (korvex.sign(x - 2), 0.0), (korvex.sqrt(x), math.sqrt(2)),
        (korvex.erf(x), math.erf(2)), (korvex.erfc(x), math.erfc(2)),
        (korvex.max(x, y, 1), 2.0), (korvex.min([x, y, 1]), -3.0),
        (korvex.Sum(korvex.sin(x), y, 1), math.sin(2) - 2), (korvex.Prod(korvex.exp(x), y, 2), -6 * math.exp(2)),
        (korvex.user(lambda a, b: a - b, x, y), 5.0), (korvex.user(lambda a: (a * 10, 1.0), x, derivatives=True), 20.0),
    ]
    for e, want in cases:
        assert korvex.evaluate(e, solution=s) == pytest.approx(want, rel=1e-12), str(e)
        assert type(korvex.evaluate(e, solution=s)) is float
    assert math.isnan(korvex.evaluate(korvex.sqrt(y), solution=s))
    assert math.isnan(korvex.evaluate(korvex.exp(y) ** 0.5 * 0 + (x - 3) ** 0.5, solution=s))


def test_containers_keep_their_shape(xy):
    x, y = xy
    s = {x: 1, y: 2}
    assert korvex.evaluate([x, (y, [x + y])], solution=s) == [1.0, (2.0, [3.0])]
    assert korvex.evaluate({"a": x, 3: (y,)}, solution=s) == {"a": 1.0, 3: (2.0,)}
    assert korvex.evaluate(x, y, 5, solution=s) == (1.0, 2.0, 5.0)
    assert korvex.evaluate(range(3), solution=s) == [0.0, 1.0, 2.0]
    arr = np.array([[x, y, 2 * x], [x * y, 1, korvex.exp(x - 1)]], dtype=object)
    for a in (arr, arr.T, arr[:, ::2], korvex.ndarray(arr.shape, dtype=object)):
        if a.dtype == object and all(v is None for v in a.flat):
            with raises(RuntimeError, "Cannot evaluate object"):
                korvex.evaluate(a, solution=s)
            continue
        got = korvex.evaluate(a, solution=s)
        assert got.dtype == np.float64 and got.shape == a.shape
        ref = np.array([[korvex.evaluate(v, solution=s) for v in row] for row in a])
        assert np.array_equal(got, ref)
    assert korvex.evaluate(np.array(x, dtype=object), solution=s).shape == ()
    with raises(korvex.InterfaceError, OBJECT_DTYPE):
        korvex.evaluate(np.array([1.0, 2.0]), solution=s)


def test_value_sources(xy):
    x, y = xy
    p, (a, b) = loaded()
    assert korvex.evaluate(2 * x + 1, solution={x: 3}) == 7.0
    assert korvex.evaluate(2 * a + 1, solution={0: 3}, problem=p) == 7.0
    assert korvex.evaluate(2 * a + b, solution={0: 3, b: 1}) == 7.0   # a by its owner, b by itself
    assert korvex.evaluate(a * b, solution=[2, 5]) == 10.0             # the owner resolves columns
    assert korvex.evaluate(a, b, solution=np.array([1.5, 2.5]), problem=p) == (1.5, 2.5)
    assert korvex.evaluate(a + b, solution=np.array([1, 2], dtype=np.int32)) == 3.0
    with raises(korvex.InterfaceError, "Mismatched lengths in arguments: expected 2, found 3"):
        korvex.evaluate(a, solution=[1, 2, 3], problem=p)
    with raises(korvex.ModelError, "Variable cannot be identified within expression"):
        korvex.evaluate(b, solution=[1.0])
    with raises(korvex.ModelError, "Variable has no value"):
        korvex.evaluate(2 * x + 1, solution={0: 3})
    with raises(korvex.ModelError, "Variable has no value"):
        korvex.evaluate(2 * a + 1, solution={5: 3}, problem=p)
    with raises(korvex.InterfaceError, NEED_PROBLEM):
        korvex.evaluate(x, solution=[1.0])
    # the problem's current solution
    with raises(korvex.ModelError, "Solution is not available"):
        korvex.evaluate(a, problem=p)
    p.optimize()
    assert korvex.evaluate([a, a + b], problem=p) == [pytest.approx(3), pytest.approx(4)]
    # the dictionary look-up compares keys structurally, not into constraints
    assert korvex.evaluate(x * y, solution={y: 4, x: 0.5}) == 2.0


def test_argument_errors(xy):
    x, y = xy
    with raises(korvex.InterfaceError, NO_PROBLEM):
        korvex.evaluate(x)
    with raises(korvex.InterfaceError, NO_PROBLEM):
        korvex.evaluate(x, solution=None, problem=None)
    with raises(korvex.InterfaceError, "Argument \"problem\" must be an korvex.problem object"):
        korvex.evaluate(x, problem=3)
    for bad in ((1.0, 2.0), 3.0, np.zeros((2, 2)), "ab"):
        with raises(korvex.InterfaceError, BAD_SOLUTION):
            korvex.evaluate(x, solution=bad)
    with raises(korvex.InterfaceError, "Call to korvex.evaluate cannot contain strings as arguments"):
        korvex.evaluate("x", solution={})
    with raises(korvex.InterfaceError, "Call to korvex.evaluate cannot contain strings as arguments"):
        korvex.evaluate([x, b"y"], solution={x: 1})
    with raises(RuntimeError, "Cannot evaluate object"):
        korvex.evaluate(object(), solution={})
    with raises(korvex.ModelError, "Evaluation of object of incorrect type"):
        korvex.evaluate(x <= 1, solution={x: 1})
    with pytest.raises(TypeError):
        korvex.evaluate(x, solution={}, bogus=1)
    with pytest.raises(TypeError):
        korvex.evaluate(x, solution={x: "not a number"})
    deep = x
    for _ in range(70):
        deep = [deep]
    with raises(RuntimeError, DEPTH):
        korvex.evaluate(deep, solution={x: 1})
    node = x
    for _ in range(70):
        node = korvex.sin(node)
    with raises(RuntimeError, DEPTH):
        korvex.evaluate(node, solution={x: 1})


def test_division_power_and_logic(xy):
    x, y = xy
    z = korvex.var()
    with raises(ZeroDivisionError, "Division by zero in evaluation of expression containing fraction"):
        korvex.evaluate(x / (y - z), solution={x: 1, y: 2, z: 2})
    assert math.isnan(korvex.evaluate(x ** 0.5 + korvex.sin(y), solution={x: -1, y: 0}))
    s = {x: 1e-6, y: 1}
    assert korvex.evaluate(korvex.And(x, y), solution=s) == 0.0
    assert korvex.evaluate(korvex.And(x + 1, y), solution=s) == 1.0
    assert korvex.evaluate(korvex.Or(x, y), solution=s) == 1.0
    assert korvex.evaluate(korvex.Or(x, y - 2e-6), solution=s) == 1.0
    assert korvex.evaluate(korvex.Or(x, y - 1e-5), solution=s) == 0.0
    # the first deciding argument ends the evaluation
    assert korvex.evaluate(korvex.And(x, y / (x + z)), solution={x: 0, y: 1, z: 0}) == 0.0
    korvex.controls.miptol = 0.01
    try:
        assert korvex.evaluate(korvex.And(x, y), solution={x: 0.005, y: 1}) == 0.0
        assert korvex.evaluate(korvex.Or(x, y), solution={x: 0, y: 0.995}) == 1.0
    finally:
        del korvex.controls.miptol


def test_piecewise_linear(xy):
    x, _ = xy
    f = korvex.pwl({(0, 1): x, (1, 2): 2 * x - 1})
    at = {-0.5: -0.5, 0: 0, 0.5: 0.5, 1: 1, 1.5: 2, 2: 3, 3: 5}
    for v, want in at.items():
        assert korvex.evaluate(f, solution={x: v}) == pytest.approx(want)
    jump = korvex.pwl({(0, 1): 1.0, (1, 2): 3.0, None: x})       # right-continuous at the jump
    assert [korvex.evaluate(jump, solution={x: v}) for v in (0.5, 1, 1.5)] == [1.0, 3.0, 3.0]
    point = korvex.pwl({(2, 2): 4.0, None: x})   # one point: both ends at x = 2
    assert korvex.evaluate(point, solution={x: 2}) == 4.0
    steps = korvex.pwl({(1, 1): 0.0, (1, 2): 5.0, (2, 2): 7.0, None: x})
    with raises(korvex.InterfaceError, "Piecewise linear function has discontinuity at first breakpoint x = 1.0 "
                                       "and can't be evaluated at 0.0"):
        korvex.evaluate(steps, solution={x: 0})
    with raises(korvex.InterfaceError, "Piecewise linear function has discontinuity at last breakpoint x = 2.0 "
                                       "and can't be evaluated at 3.0"):
        korvex.evaluate(steps, solution={x: 3})


def test_user_functions(xy):
    x, y = xy
    calls = []

    def f(a, b):
        calls.append((a, b))
        assert type(a) is float
        return a * b

    assert korvex.evaluate(korvex.user(f, x + 1, 3) + y, solution={x: 1, y: 1}) == 7.0
    assert calls == [(2.0, 3.0)]

    def bad(a):
        raise KeyError("inside")

    with pytest.raises(KeyError, match="inside"):
        korvex.evaluate(korvex.user(bad, x), solution={x: 1})
    with raises(korvex.ModelError, "User function returned an empty tuple"):
        korvex.evaluate(korvex.user(lambda a: (), x), solution={x: 1})
    with pytest.raises(TypeError):
        korvex.evaluate(korvex.user(lambda a: "text", x), solution={x: 1})
    with raises(korvex.ModelError, "Variable has no value"):   # an argument fails before the call
        korvex.evaluate(korvex.user(f, x, y), solution={x: 1})
    assert len(calls) == 1


def test_deleted_variable():
    p, (a, _) = loaded()
    e = 2 * a
    p.loadLP(**LP)   # the reload deletes the old objects
    with raises(korvex.ModelError, "Variable has been deleted from the problem"):
        korvex.evaluate(e, solution=[1.0])
    with raises(korvex.ModelError, "Variable has no value"):
        korvex.evaluate(e, solution={0: 1.0})
    assert korvex.evaluate(e, solution={a: 1.0}) == 2.0
    q = korvex.problem()
    q.loadLP(**LP)
    with raises(korvex.ModelError, "Variable in korvex.evaluate has been deleted from the problem"):
        korvex.evaluate(e, solution=[1.0, 2.0], problem=q)


@pytest.mark.parametrize("args", [LP, MIP], ids=["lp", "mip"])
def test_get_solution_matches_evaluate(args):
    p, (a, b) = loaded(args)
    p.optimize()
    sol = p.getSolution()
    exprs = [a, 2 * a + b, a * b - 3, korvex.exp(a / 10) * korvex.sin(b), korvex.max(a, b, 0.5),
             korvex.pwl({(0, 2): a, (2, 10): 0.5 * a + 1})]
    for e in exprs:
        want = korvex.evaluate(e, solution=sol)
        assert p.getSolution(e) == want
        assert korvex.evaluate(e, problem=p) == want
    assert p.getSolution(exprs) == korvex.evaluate(exprs, solution=sol)
    assert p.getSolution(a, 1, {"k": (b, 0)}) == (sol[0], sol[1], {"k": (sol[1], sol[0])})
    arr = np.array([a, 2 * b, 0.5], dtype=object)
    assert np.array_equal(p.getSolution(arr), korvex.evaluate(arr, solution=sol))
    with raises(korvex.InterfaceError, "Call to korvex.problem.getSolution() contains an out-of-range index"):
        p.getSolution([a, 2])


def test_get_solution_of_modelled_problem():
    p = korvex.problem()
    p.controls.outputlog = 0
    x = p.addVariable(lb=0, name="x")
    y = p.addVariable(vartype=korvex.integer, ub=10, name="y")
    p.addConstraint(2 * x + y <= 4, x - y >= -1, [x + k * y <= 10 for k in range(3)])
    p.setObjective(x + 3 * y, sense=korvex.maximize)
    p.optimize()
    vx, vy = p.getSolution(x), p.getSolution("y")
    assert (vx, vy) == (pytest.approx(1), pytest.approx(2))
    assert p.getSolution(2 * x + y) == pytest.approx(2 * vx + vy)
    assert p.getSolution(x * y + korvex.sin(x)) == korvex.evaluate(x * y + korvex.sin(x), solution={x: vx, y: vy})
    q = korvex.problem()
    with raises(korvex.ModelError, "Variable in korvex.evaluate is from a different problem"):
        p.getSolution(q.addVariable() + 1)


def test_get_solution_of_variable_arrays_and_dicts():
    p = korvex.problem()
    p.controls.outputlog = 0
    x = p.addVariables(2, 3, lb=1, ub=1)
    d = p.addVariables(["a", "b"], ub=2)
    p.setObjective(korvex.Sum(list(d.values())), sense=korvex.maximize)
    p.optimize()
    got = p.getSolution(2 * x + 1)
    assert got.shape == (2, 3) and got.dtype == np.float64 and np.allclose(got, 3)
    assert p.getSolution(d) == {"a": pytest.approx(2), "b": pytest.approx(2)}
    assert korvex.evaluate(x.sum(), problem=p) == pytest.approx(6)
