"""Loading problems from arrays, and reading the solution back."""
import functools
import math

import numpy as np
import pytest

import korvex
from korvex import SolStatus, SolveStatus
from test_api_support import raises, LP, LP_OPT, MIP, MIP_OPT, QP, QP_OPT, objval
from conftest import assert_feasible


def test_collen_form_and_start_rules():
    p = korvex.problem()
    args = dict(LP, start=[0, 2], collen=[2, 2])
    p.loadLP(**args)
    p.optimize()
    assert objval(p) == pytest.approx(LP_OPT)
    # without collen, start needs one entry more than there are columns: the library refuses
    with pytest.raises(korvex.SolverError):
        p.loadLP(**dict(LP, start=[0, 2]))
    assert p.attributes.cols == 2 and p.getProbName() == "lp"


def test_empty_and_positional_loads():
    p = korvex.problem()
    p.loadLP(**LP)
    p.loadLP()
    assert (p.attributes.rows, p.attributes.cols, p.getProbName()) == (0, 0, "")
    p.loadLP("pos", "LG", [1, 2])
    assert (p.attributes.rows, p.attributes.cols, p.getProbName()) == (2, 0, "pos")
    # the row count comes from rng alone; the library wants row types for it
    with pytest.raises(korvex.SolverError, match="rowtype.*3"):
        p.loadLP(rng=[1, 2, 3], rowtype=None, rhs=None)
    p.loadMIQCQP(*([None] * 26))
    assert p.attributes.rows == 0


@pytest.mark.parametrize("loader, kwargs, message", [
    ("loadLP", dict(rowtype="LL", rhs=[1, 2, 3]), "Arguments 'rowtype', 'rhs' and 'rng' must have the same length"),
    ("loadLP", dict(objcoef=[1], ub=[1, 2]), "Arguments 'objcoef', 'lb' and 'ub' must have the same length"),
    ("loadQP", dict(objqcol1=[0, 0], objqcoef=[1, 2, 3]),
     "Arguments 'objqcol1', 'objqcol2' and 'objqcoef' must have the same length"),
    ("loadQCQP", dict(qrowind=[0], nrowqcoefs=[1, 1]), "Arguments 'qrowind' and 'nrowqcoefs' must have the same length"),
    ("loadMIP", dict(coltype="BB", entind=[0]), "Arguments 'coltype', 'entind' and 'limit' must have the same length"),
    ("loadMIQP", dict(entind=[0], limit=[1, 2]), "Arguments 'coltype', 'entind' and 'limit' must have the same length"),
])
def test_mismatched_lengths(loader, kwargs, message):
    p = korvex.problem()
    p.loadLP(**LP)
    with raises(korvex.InterfaceError, message):
        getattr(p, loader)(**kwargs)
    assert p.attributes.cols == 2


def test_conversions_come_before_length_checks():
    p = korvex.problem()
    with raises(korvex.InterfaceError, "Error in element 0 of argument 'ub': Value is not a number"):
        p.loadLP(rowtype="LL", rhs=[1], ub=["x"])
    for args, kwargs in (((), dict(coltype="B")), ([None] * 12, {})):
        with pytest.raises(TypeError):
            p.loadLP(*args, **kwargs)


@pytest.mark.parametrize("bad", [math.nan, math.inf])
def test_nan_and_infinite_coefficients_are_refused(bad):
    p = korvex.problem()
    p.loadLP(**LP)
    for field in ("objcoef", "rowcoef", "rhs"):
        values = list(LP[field])
        values[0] = bad
        with pytest.raises(korvex.SolverError, match=r"(?i)nan|finite|inf"):
            p.loadLP(**dict(LP, **{field: values}))
    # the failed loads kept the old problem
    p.optimize()
    assert objval(p) == pytest.approx(LP_OPT)


def test_objects_are_rebuilt_after_a_load():
    p = korvex.problem()
    p.loadLP(**LP)
    old = p.getVariable()
    assert len(old) == 2
    p.loadMIP(**MIP)
    new = p.getVariable()
    assert len(new) == 2 and all(a is not b for a, b in zip(old, new))
    p.optimize()
    assert p.getSolution(new[0]) == pytest.approx(4)
    with pytest.raises(korvex.ModelError, match="deleted"):
        p.getSolution(old[0])
    # a failed load leaves the lists alone
    with pytest.raises(korvex.InterfaceError):
        p.loadLP(rhs=["x"])
    assert p.getVariable() == new


def test_get_solution_forms():
    p = korvex.problem()
    p.loadLP(**LP)
    # the library may refuse the read itself
    with pytest.raises((korvex.ModelError, korvex.SolverError), match="Solution is not available"):
        p.getSolution()
    p.addNames(2, ["x", "y"], 0, 1)
    p.optimize()
    assert p.getSolution() == pytest.approx([3, 1])
    for index, value in ((1, 1), (np.int32(0), 3), ("y", 1)):
        assert p.getSolution(index) == pytest.approx(value)
    assert p.getSolution(0, "y") == pytest.approx((3, 1))
    assert p.getSolution([0, ("y", 1)]) == [pytest.approx(3), (pytest.approx(1), pytest.approx(1))]
    assert p.getSolution({"a": "x"}) == {"a": pytest.approx(3)}
    arr = p.getSolution(np.array([[0, "y"]], dtype=object))
    assert arr.dtype == np.float64 and arr.shape == (1, 2) and np.allclose(arr, [[3, 1]])
    out_of_range = "Call to korvex.problem.getSolution() contains an out-of-range index"
    deep = functools.reduce(lambda d, _: [d], range(70), 0)
    for bad, error, message in [
        (2, korvex.InterfaceError, out_of_range), (-1, korvex.InterfaceError, out_of_range),
        (2 ** 80, korvex.InterfaceError, out_of_range),
        ("nosuch", korvex.InterfaceError, "Call to korvex.problem.getSolution() names an unknown column: nosuch"),
        (np.array([0, 1]), korvex.InterfaceError,
         "korvex.evaluate() requires one or more Python objects;\nNumPy arrays must have object dtype."),
        (object(), RuntimeError, "Cannot evaluate object"),
        (deep, RuntimeError, "Evaluation of expression exceeded recursion depth limit"),
    ]:
        with raises(error, message):
            p.getSolution(bad)


def as_buffers(args, start_type=np.int64):
    """The arguments as NumPy arrays of the solver's own types (read from their buffers)."""
    out = {}
    for k, v in args.items():
        if k in ("probname", "rowtype", "coltype"):
            out[k] = v
        elif k == "start":
            out[k] = np.array(v, dtype=start_type)
        elif k in ("rowind", "entind", "objqcol1", "objqcol2"):
            out[k] = np.array(v, dtype=np.int32)
        else:
            out[k] = np.array(v, dtype=np.float64)
    return out


@pytest.mark.parametrize("loader, args, opt, x", [("loadLP", LP, LP_OPT, [3, 1]), ("loadMIP", MIP, MIP_OPT, [4, 0]),
                                                  ("loadQP", QP, QP_OPT, [0.5, 1.5])])
@pytest.mark.parametrize("form", ["lists", "buffers", "int32 starts", "strided", "big-endian"])
def test_known_optima_in_every_array_form(loader, args, opt, x, form):
    a = args if form == "lists" else as_buffers(args, np.int32 if form == "int32 starts" else np.int64)
    if form == "strided":   # every other entry of a twice as long array
        a = {k: np.repeat(v, 2)[::2] if isinstance(v, np.ndarray) else v for k, v in a.items()}
    if form == "big-endian":
        a = {k: v.astype(v.dtype.newbyteorder(">")) if isinstance(v, np.ndarray) else v for k, v in a.items()}
    p = korvex.problem()
    getattr(p, loader)(**a)
    assert p.optimize() == (SolveStatus.COMPLETED, SolStatus.OPTIMAL)
    assert_feasible(p)
    assert objval(p) == pytest.approx(opt, rel=1e-6)
    assert p.getSolution() == pytest.approx(x, abs=1e-5) and p.getProbName() == args["probname"]


@pytest.mark.parametrize("field, value, error, message", [
    ("rowind", -2, korvex.InterfaceError, "element 2 of argument 'rowind'"),
    ("rowind", 2, korvex.SolverError, "entry 2 of argument 'rowind' is 2, outside 0..1"),
    ("rowcoef", math.nan, korvex.SolverError, "entry 2 of argument 'rowcoef' is NaN"),
    ("start", 5, korvex.SolverError, "start"),
    ("lb", math.nan, korvex.SolverError, "entry 1 of argument 'lb' is NaN"),
])
def test_buffers_are_checked_like_lists(field, value, error, message):
    p = korvex.problem()
    p.loadLP(**LP)
    bad = as_buffers(LP)
    bad[field][2 if field in ("rowind", "rowcoef") else 1] = value
    listed = {k: (v.tolist() if isinstance(v, np.ndarray) else v) for k, v in bad.items()}
    for a in (bad, listed):
        with pytest.raises(error, match=message):
            p.loadLP(**a)
    p.optimize()
    assert objval(p) == pytest.approx(LP_OPT)


def test_buffer_changed_by_a_later_argument():
    # converting ub runs Python code that spoils rowind, which was read as a buffer before it
    a = as_buffers(LP)

    def ub():
        a["rowind"][0] = 7
        yield from LP["ub"]
    p = korvex.problem()
    with pytest.raises(korvex.SolverError, match="rowind"):
        p.loadLP(**dict(a, ub=ub()))
    assert p.attributes.cols == 0


def test_objects_of_a_load_are_made_on_first_use():
    # after a load the objects come into being when asked for; each keeps its identity and index
    p = korvex.problem()
    n = 6
    p.loadLP(rowtype="L" * n, rhs=[1.0] * n, objcoef=[-1.0] * n, start=list(range(n + 1)), rowind=list(range(n)),
             rowcoef=[1.0] * n)
    x3 = p.getVariable(3)
    assert p.getVariable(3) is x3 and p.getVariable([3])[0] is x3 and x3.index == 3
    c4 = p.getConstraint(4)
    p.delCols([0, 1])   # objects made and not made yet move up alike
    p.delRows([0])
    assert x3.index == 1 and c4.index == 3
    assert [v.index for v in p.getVariable()] == list(range(n - 2)) and p.getVariable(1) is x3
    # a failed addConstraint takes back its rows between objects not made yet
    with pytest.raises(korvex.InterfaceError):
        p.addConstraint(c for c in [x3 <= 1, "not a constraint"])
    assert p.attributes.rows == n - 1 and c4.index == 3 and p.getConstraint(3) is c4
    p.setObjective(korvex.Sum(p.getVariable()))
    p.addConstraint(x3 + p.getVariable(0) >= 2)
    p.optimize()
    assert objval(p) == pytest.approx(2)
    p.loadLP(**LP)
    p.optimize()
    with pytest.raises(korvex.ModelError, match="deleted"):
        p.getSolution(x3)


def test_hand_over_for_benchmarks():
    p = korvex.problem()
    p.loadLP(**as_buffers(LP))
    korvex._korvex._lowerForBenchmark(p)   # lowers into the solver's instance, no solve
    assert p.attributes.solstatus == SolStatus.NOTFOUND
    p.optimize()
    assert objval(p) == pytest.approx(LP_OPT)
    with pytest.raises(TypeError):
        korvex._korvex._lowerForBenchmark(None)
