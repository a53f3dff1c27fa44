"""Argument converters, reached through the loaders and the name methods."""

import numpy as np
import pytest

import korvex
from test_api_support import raises, named_lp


@pytest.fixture
def p():
    return named_lp(["r0", "r1"])


def element(i, arg, text):
    return f"Error in element {i} of argument '{arg}': {text}"


def test_numbers(p):
    # exact integers up to 2^53, floats of any size, NumPy scalars, bool
    p.loadLP(rowtype="LLLLLL", rhs=[True, 2 ** 53, 2.0 ** 60, np.float32(1.5), np.int8(-3), np.float16(2)])
    assert p.attributes.rows == 6
    with raises(korvex.InterfaceError, element(1, "rhs", "int too big to convert")):
        p.loadLP(rhs=[0, 2 ** 53 + 1])
    with raises(korvex.InterfaceError, element(0, "rhs", "int too big to convert")):
        p.loadLP(rhs=[-2 ** 80])
    with raises(korvex.InterfaceError, element(1, "rhs", "Value is not a number")):
        p.loadLP(rhs=[1, "x"])
    with raises(korvex.InterfaceError, element(0, "lb", "Value is not a number")):
        p.loadLP(lb=[None])


def test_integers(p):
    with raises(korvex.InterfaceError, element(1, "collen", "Value is not an integer")):
        p.loadLP(collen=[0, "x", 2])
    with raises(korvex.InterfaceError, element(0, "collen", "Value is not an integer")):
        p.loadLP(collen=[np.uint8(3)])
    with raises(korvex.InterfaceError, element(0, "collen", "Value is not an integer")):
        p.loadLP(collen=[1.0])
    with raises(korvex.InterfaceError, element(0, "collen", "int too big to convert")):
        p.loadLP(collen=[-2 ** 31])
    with raises(korvex.InterfaceError, element(0, "collen", "Value is not an integer")):
        p.loadLP(collen="12")
    # 64-bit offsets take any 64-bit value; beyond, the interpreter's error
    with pytest.raises(korvex.InterfaceError, match=r"^Error in element 0 of argument 'start': .*too (big|large)"):
        p.loadLP(start=[2 ** 64])


def test_characters(p):
    with raises(korvex.InterfaceError, element(0, "rowtype", "Value is not a single character")):
        p.loadLP(rowtype=["LE"], rhs=[1])
    with raises(korvex.InterfaceError, element(0, "rowtype", "Value is not a character")):
        p.loadLP(rowtype=[1.5], rhs=[1])
    with raises(korvex.InterfaceError, element(0, "rowtype", "int too big to convert")):
        p.loadLP(rowtype=[200], rhs=[1])
    with raises(korvex.InterfaceError, element(1, "rowtype", "int too big to convert")):
        p.loadLP(rowtype="L\u00e9", rhs=[1, 1])
    # character codes 0 to 127 are accepted
    p.loadLP(rowtype=[ord("L")], rhs=[1])


def test_iterables(p):
    with raises(korvex.InterfaceError, "Argument 'rhs' must be iterable"):
        p.loadLP(rhs=5)

    def gen():
        yield 1.0
        raise ValueError("generator broke")

    with raises(ValueError, "generator broke"):
        p.loadLP(rhs=gen())
    p.loadLP(rowtype=(c for c in "LG"), rhs=iter([1, 2]))
    assert p.attributes.rows == 2


def test_row_and_column_indices(p):
    with raises(korvex.InterfaceError, element(0, "rowind", "Invalid constraint index")):
        p.loadLP(rowind=[-2])
    with pytest.raises(korvex.InterfaceError, match=r"^Error in element 0 of argument 'rowind': .*too (big|large)"):
        p.loadLP(rowind=[2 ** 70])
    with raises(korvex.InterfaceError, element(1, "rowind", "Unknown constraint: nosuch")):
        p.loadLP(rowind=["r1", "nosuch"])
    with raises(korvex.InterfaceError, element(0, "rowind", "Value is not a constraint or constraint index")):
        p.loadLP(rowind=[1.0])
    with raises(korvex.InterfaceError, element(0, "entind", "Value is not a variable or variable index")):
        p.loadMIP(entind=[None], coltype="I")
    with raises(korvex.InterfaceError, element(0, "objqcol1", "Unknown variable: z")):
        p.loadQP(objqcol1=["z"])
    # -1 is let through to the library, which refuses it where it has no meaning
    with pytest.raises(korvex.SolverError):
        p.loadLP(rowtype="L", rhs=[1], objcoef=[1], start=[0, 1], rowind=[-1], rowcoef=[1])


def test_names_resolve_against_the_problem_before_the_load(p):
    # rows named r0/r1 and columns x/y of the old problem give indices 1 and 0
    p.loadLP(rowtype="LL", rhs=[4, 6], objcoef=[-3, -2], start=[0, 1, 2],
             rowind=["r1", "r0"], rowcoef=[1, 1], lb=[0, 0], ub=[3, 3])
    p.optimize()
    assert p.getSolution() == pytest.approx([3.0, 3.0])


def test_strings(p):
    with raises(korvex.InterfaceError, "Error in argument 'probname': Value is not a string"):
        p.loadLP(probname=3)
    with raises(korvex.InterfaceError, "Error in argument 'probname': Value contains a NUL character"):
        p.loadLP(probname="a\0b")
    with raises(korvex.InterfaceError, "Error in argument 'filename': Value is not a string"):
        p.readProb(None)
    with raises(korvex.InterfaceError, "Error in argument 'filename': Value contains a NUL character"):
        p.readProb("x\0y")
    with raises(korvex.InterfaceError, element(0, "rowind", "Value contains a NUL character")):
        p.loadLP(rowind=["r0\0"])


def test_float_results_keep_every_value_bit_for_bit():
    # result lists share objects between equal values: equal means the same bits (0.0 and -0.0,
    # neighbours in the last bit stay apart), over more distinct values than the sharing table holds
    rng = np.random.default_rng(5)
    pool = [0.0, -0.0, 1e15, -1e15, 5e-324, 1.0, np.nextafter(1.0, 2.0)] + list(rng.normal(size=150))
    y = [float(pool[k]) for k in rng.integers(0, len(pool), 3000)]
    p = korvex.problem()
    p.loadLP(objcoef=[0.0, 0.0], lb=[0.0, -1e20], ub=[1.0, 1e20])
    p.addPwlCons([0], [1], [0], list(range(len(y))), y)
    got = p.getPwlCons(0, 0)[4]
    assert np.array(got).view(np.uint64).tolist() == np.array(y).view(np.uint64).tolist()
    assert all(type(v) is float for v in got)
