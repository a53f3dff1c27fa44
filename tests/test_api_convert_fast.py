"""NumPy arrays, strings and plain lists read straight by the argument converters give the same
values and the same errors as the element-by-element path."""

import numpy as np
import pytest

import korvex
from test_api_support import LP

NUMERIC = ["float64", "float32", "float16", "int8", "int16", "int32", "int64"]
OTHER = ["uint8", "uint32", "uint64", "bool", "longlong", "complex128", "longdouble", "object"]


@pytest.fixture(autouse=True)
def quiet():
    korvex.controls.outputlog = 0


def outcome(**args):
    """The loaded bounds and solution, or the error's type and text."""
    p = korvex.problem()
    try:
        p.loadLP(**{**LP, **args})
    except (korvex.InterfaceError, korvex.SolverError) as e:   # the refusal itself is compared
        return type(e).__name__, str(e)
    cols = [p.getVariable(j) for j in range(p.attributes.cols)]
    rows = [p.getConstraint(i) for i in range(p.attributes.rows)]
    p.optimize()
    return ([(v.lb, v.ub) for v in cols], [(c.lb, c.ub) for c in rows],
            p.attributes.objval if p.attributes.lpstatus == 1 else None)


def same(name, arr, **rest):
    fast = outcome(**{name: arr}, **rest)
    assert fast == outcome(**{name: slow(arr)}, **rest)
    return fast


class Float(float):
    pass


class Int(int):
    pass


def slow(arr):
    """The same elements through the object path: an iterator, with the exact ints and floats of a
    list as subclasses (a 0-d array stays: it is not iterable)."""
    if isinstance(arr, (list, tuple)):
        return iter([Float(x) if type(x) is float else Int(x) if type(x) is int else x for x in arr])
    return arr if isinstance(arr, np.ndarray) and arr.ndim == 0 else iter(arr)


def variants(values, dtype):
    """The array in native and swapped byte order, strided, unaligned, and as a subclass."""
    a = np.array(values, dtype=dtype)
    yield a
    if dtype != "object":
        yield np.frombuffer(b"\0" + a.tobytes(), dtype, offset=1)
    yield a.astype(a.dtype.newbyteorder())
    wide = np.zeros(2 * len(values), dtype=dtype)
    wide[::2] = a
    yield wide[::2]
    yield a.view(type("Sub", (np.ndarray,), {}))


def loaded(result):
    return isinstance(result[0], list)


@pytest.mark.parametrize("dtype", NUMERIC + OTHER)
def test_every_dtype(dtype):
    # doubles take integers and floats; counts, offsets and indices integers only
    numbers = dtype in NUMERIC or dtype == "object"
    integers = dtype.startswith("int") or dtype == "object"
    for a in variants([0, 1], dtype):
        assert loaded(same("lb", a)) == numbers
    for a in variants([4, 6], dtype):
        assert loaded(same("rhs", a)) == numbers
    for a in variants([0, 2, 4], dtype):
        assert loaded(same("start", a)) == integers
    for a in variants([0, 1, 0, 1], dtype):
        assert loaded(same("rowind", a)) == integers
    for a in variants([2, 2], dtype):
        assert loaded(same("collen", a, start=[0, 2])) == integers
    for a in variants([76, 71], dtype):
        assert loaded(same("rowtype", a)) == integers


@pytest.mark.parametrize("dtype", NUMERIC)
def test_first_refused_element_is_named(dtype):
    info = np.iinfo(dtype) if dtype.startswith("int") else None
    # an index out of range, an integer beyond 32 bits, beyond 2^53 in a double
    if info is not None:
        same("rowind", np.array([0, 1, -2, 1], dtype))
        if info.bits == 64:
            same("collen", np.array([2, 2 ** 40], dtype), start=[0, 2])
            same("rhs", np.array([1, 2 ** 53 + 1], dtype))
            same("rhs", np.array([1, 2 ** 53], dtype))
            same("rowind", np.array([0, 1, 0, 2 ** 31], dtype))
        same("rowtype", np.array([76, -1], dtype))
    else:
        # floats where integers are wanted; NaN and infinities as doubles
        same("collen", np.array([2.0, 2.0], dtype), start=[0, 2])
        same("rowind", np.array([0, 1, 0, 1], dtype))
        same("lb", np.array([0, np.nan], dtype))
        same("ub", np.array([np.inf, -np.inf], dtype))
        if dtype == "float16":
            same("ub", np.array([6e-8, 65504], dtype))   # subnormal and largest half


@pytest.mark.filterwarnings("ignore::PendingDeprecationWarning")
def test_shapes_and_array_kinds_the_object_path_decides():
    assert same("lb", np.array(0.0)) == ("InterfaceError", "Argument 'lb' must be iterable")
    same("lb", np.zeros((2, 1)))                     # rows are not numbers
    same("lb", np.zeros((0, 3)))                     # no rows at all
    same("lb", np.zeros(2)[None, :][0])
    same("lb", np.array([], dtype=float))
    same("lb", np.ma.masked_array([0.0, 1.0], mask=[False, True]))
    same("ub", np.matrix([[1.0, 2.0]]))
    same("lb", np.array([0, 1], dtype="q"))
    # a subclass's own item access is honoured
    twice = type("Twice", (np.ndarray,), {"__getitem__": lambda s, i: 2 * np.ndarray.__getitem__(s, i)})
    assert same("ub", np.array([1.0, 2.0]).view(twice))[0] == [(0.0, 2.0), (0.0, 4.0)]


def test_strings_and_lists():
    same("rowtype", "LL")
    same("rowtype", "L\u00e9")
    same("rowtype", "L")
    same("rowtype", type("S", (str,), {})("LL"))
    same("rhs", [4, 6.5])
    same("rhs", (4, 6.5))
    same("rhs", [True, 6])
    same("rhs", [2 ** 53 + 1, 6])
    same("rhs", [2 ** 80, 6])
    same("rhs", [4.0, "x"])
    same("collen", [2, 2.0], start=[0, 2])
    same("collen", [2, 2 ** 31], start=[0, 2])
    same("rowind", [0, 1, -1, 1])
    same("rowind", [0, 1, -2, 1])
    same("rowind", [0, 1, 2 ** 31, 1])
    same("start", [0, 2, 2 ** 64])
    same("start", [0, 2, 4.0])
