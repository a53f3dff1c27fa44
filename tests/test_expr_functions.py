import math

import numpy as np
import pytest

import korvex
from korvex import InterfaceError, ModelError


ELEMENTARY = {
    "sin": math.sin, "cos": math.cos, "tan": math.tan, "asin": math.asin, "acos": math.acos,
    "atan": math.atan, "exp": math.exp, "log": math.log, "log10": lambda v: math.log(v) * 0.4342944819032518,
    "abs": abs, "sqrt": math.sqrt, "erf": math.erf, "erfc": math.erfc,
    "sign": lambda v: float(np.sign(v)),
}


@pytest.mark.parametrize("name", sorted(ELEMENTARY))
def test_elementary_numbers_arrays_and_nodes(name, xyz):
    f, ref = getattr(korvex, name), ELEMENTARY[name]
    for v in (0.5, np.float32(0.25), 1):
        r = f(v)
        assert type(r) is float and r == pytest.approx(ref(float(v)))
    # numeric arrays give float64 arrays of the values, whatever their element type
    for arr in (np.array([0.25, 0.5]), np.ones((2, 3), dtype=np.int64), np.array([0.5], dtype=np.float16)):
        r = f(arr)
        assert isinstance(r, korvex.ndarray) and r.dtype == np.float64 and r.shape == arr.shape
        np.testing.assert_allclose(r, np.vectorize(ref)(arr.astype(float)))
    x = xyz[0]
    node = f(x)
    assert isinstance(node, korvex.nonlin) and str(node) == f"{name}(x)"
    objs = f(np.array([x, 0.5], dtype=object))
    assert isinstance(objs, korvex.ndarray) and str(objs[0]) == f"{name}(x)" and objs[1] == pytest.approx(ref(0.5))


def test_elementary_special_values():
    assert korvex.sign(-0.0) == 0.0 and korvex.sign(float("nan")) == 0.0 and korvex.sign(-3) == -1.0
    assert math.isnan(korvex.log(-1.0)) and korvex.exp(1000.0) == math.inf
    with pytest.raises(ModelError, match="Invalid object in operation"):
        korvex.sin("x")
    with pytest.raises(ModelError):
        korvex.exp(np.uint8(3))      # not a number of the algebra


def test_max_min_gathering(xyz):
    x, y, z = xyz
    assert korvex.max(x) is x and korvex.min([y]) is y
    assert str(korvex.max(x, y, z)) == "max(x, y, z)" == str(korvex.max([x, y, z])) == str(korvex.max((x, y, z)))
    assert str(korvex.min(np.array([x, y], dtype=object))) == "min(x, y)"
    assert str(korvex.max(range(2))) == "max(0, 1)"
    assert korvex.max(np.array([7])) == 7 and type(korvex.max(np.array([7]))) is int
    assert korvex.min(np.array([np.inf], dtype=np.float16)) == math.inf
    assert korvex.max(np.array([[x]], dtype=object)) is x
    # the node does not share the caller's list
    items = [x, y]
    node = korvex.max(items)
    items.clear()
    assert str(node) == "max(x, y)"


def test_max_min_errors(xyz):
    x = xyz[0]
    with pytest.raises(ModelError, match="^The function korvex.max must have at least one argument$"):
        korvex.max([])
    with pytest.raises(ModelError, match="^The function korvex.min must have at least one argument$"):
        korvex.min()
    with pytest.raises(ModelError, match="^Only a 1-dimensional array can be used in a nonlinear expression$"):
        korvex.max(np.array([[1, 2], [3, 4]]))
    with pytest.raises(ModelError, match="^Incorrect argument for expression$"):
        korvex.max("a")
    with pytest.raises(ModelError, match="^Incorrect argument for expression$"):
        korvex.min(np.array([True]))

    class Broken:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            raise KeyError(i)

    with pytest.raises(ModelError, match="^Incorrect argument for korvex.max function$") as e:
        korvex.max(Broken())
    assert isinstance(e.value.__cause__, KeyError)
    with pytest.raises(ModelError, match="^Incorrect argument for korvex.min function$"):
        korvex.min(Broken())
    with pytest.raises(ModelError, match="Invalid object in n-ary nonlinear expression"):
        korvex.max(x, "y")


def test_user(xyz):
    x, y, _ = xyz

    def f(a, b):
        return a + b

    node = korvex.user(f, x, y)
    assert str(node) == "user(user, x, y)"
    for value in ("never", "", "always", "ondemand", True, False, 0):
        assert isinstance(korvex.user(f, x, derivatives=value), korvex.nonlin)
    with pytest.raises(InterfaceError, match="^korvex.user expects a function and at least one argument expression$"):
        korvex.user(f)
    with pytest.raises(InterfaceError, match="^Invalid function passed to korvex.user$"):
        korvex.user(3, x)
    with pytest.raises(InterfaceError, match="^Unknown value for argument derivatives: sometimes$"):
        korvex.user(f, x, derivatives="sometimes")
    with pytest.raises(TypeError):
        korvex.user(f, x, derivative=True)


def test_pwl_breakpoints(xyz):
    x, y, _ = xyz
    assert str(korvex.pwl({(0, 1): x, (1, 2): 2 * x - 1})) == "pwl(x, 0.0, 0.0, 1.0, 1.0, 2.0, 3.0)"
    # a gap and a jump both keep the end point of the interval before them
    assert str(korvex.pwl({(0, 1): x, (2, 3): x})) == "pwl(x, 0.0, 0.0, 1.0, 1.0, 2.0, 2.0, 3.0, 3.0)"
    assert str(korvex.pwl({(1, 2): 5, (0, 1): x})) == "pwl(x, 0.0, 0.0, 1.0, 1.0, 1.0, 5.0, 2.0, 5.0)"
    assert str(korvex.pwl({(0, 1): 1.0, None: x})) == "pwl(x, 0.0, 1.0, 1.0, 1.0)"
    e = 3 * x + 1 + 0 * y
    assert str(korvex.pwl({(0, 1): e})) == "pwl(x, 0.0, 1.0, 1.0, 4.0)"
    assert str(korvex.pwl({(-1e20, 0): -x, (0, 1e20): x})) == "pwl(x, -0.88, 0.88, 0.0, 0.0, 0.88, 0.88)"


def test_pwl_errors(xyz):
    x, y, _ = xyz
    cases = [
        (3, "^Function korvex.pwl only accepts a dictionary"),
        ({None: 3}, r"^Tuple \(None, Obj\) must have an korvex.var\(\) object as Obj, found <3>$"),
        ({1: x}, "^All keys in the dictionary argument of korvex.pwl must be two-tuples; <1> is not$"),
        ({(2, 1): x}, r"must be two-tuples with two constant numbers: \[a,b\] such that a<b; <\(2, 1\)> is not$"),
        ({(0, "a"): x}, "such that a<b"),
        ({(0, 1): x + y}, "not suitable for a piecewise linear function; it must contain one variable only$"),
        ({(0, 1): x * x + x}, "it must be a constant or a linear function$"),
        ({(0, 1): korvex.exp(x)}, "it must be a constant or a linear function$"),
        ({(0, 1): x, (1, 2): y}, r"^Expression in \[1,2\] interval contains variable y while another variable"),
        ({(0, 1): 1.0}, "^No variable specified for this piecewise linear function"),
        ({}, "^No variable specified"),
        ({(0, 2): x, (1, 3): x}, r"^Interval \[0.0,2.0\] overlaps with \[1.0,3.0\] in piecewise linear function$"),
    ]
    for arg, msg in cases:
        with pytest.raises(ModelError, match=msg):
            korvex.pwl(arg)
