"""Fixtures and checks shared by the test modules."""
import math

import numpy as np
import pytest

import korvex


@pytest.fixture
def xyz():
    """Three unlinked variables named x, y and z."""
    return korvex.var(name="x"), korvex.var(name="y"), korvex.var(name="z")


def _size(*values):
    """The largest finite magnitude among values, at least 1."""
    return max([1.0] + [abs(v) for v in values if abs(v) < 1e20])


def _pwl_gap(xv, yv, xs, ys, feastol):
    """Distance of yv from the piecewise-linear function through (xs, ys) at xv: jumps (repeated x)
    take either value, the end segments extend beyond the ends unless an end is a jump."""
    gaps = []
    n = len(xs)
    for t in range(n):
        if t + 1 < n and xs[t + 1] > xs[t]:
            lo_open, hi_open = t == 0, t + 2 == n
            if (lo_open or xv >= xs[t] - feastol) and (hi_open or xv <= xs[t + 1] + feastol):
                slope = (ys[t + 1] - ys[t]) / (xs[t + 1] - xs[t])
                gaps.append(abs(yv - (ys[t] + slope * (xv - xs[t]))))
        elif abs(xv - xs[t]) <= feastol:
            gaps.append(abs(yv - ys[t]))
    return min(gaps, default=math.inf)


def assert_feasible(problem, sets=(), feastol=None, miptol=None):
    """Checks the point of a solve that reported OPTIMAL or FEASIBLE against the problem's own data,
    computed here and not by the library: every row's body (read back, evaluated by korvex.evaluate
    at the point) within its bounds, the columns' bounds and integrality, indicator rows while their
    indicator is on, piecewise-linear and general constraints, and the sets given in `sets` as
    (type, variables in weight order), which cannot be read back. After a solve of the continuous
    relaxation only rows and bounds are checked. Tolerances are the problem's FEASTOL and MIPTOL,
    absolute (as the engines take them) and widened for rounding by 1e-11 of a bound's size; entities
    that engines meet through binaries (and rows with abs, min, max, pwl or sign) may be off by MIPTOL
    times the size of their values.
    Returns the point as an array, or None when the solve reported no solution."""
    a = problem.attributes
    if a.solstatus not in (korvex.SolStatus.OPTIMAL, korvex.SolStatus.FEASIBLE):
        return None
    feastol = problem.controls.feastol if feastol is None else feastol
    miptol = problem.controls.miptol if miptol is None else miptol
    relaxed = a.mipstatus in (korvex.MIPStatus.LP_OPTIMAL, korvex.MIPStatus.LP_NOT_OPTIMAL)
    x = np.asarray(problem.getSolution(), dtype=float)
    variables = problem.getVariable()
    assert len(x) == len(variables) and np.all(np.isfinite(x)), "the point is incomplete or not finite"

    def off(what, excess, tol):
        assert excess <= tol, f"{what} is violated by {excess:.3g} (tolerance {tol:.3g})"

    # columns
    for j, v in enumerate(variables):
        lb, ub, kind, xj = v.lb, v.ub, v.vartype, x[j]
        tol = feastol + 1e-11 * _size(lb, ub)
        if kind == korvex.binary:
            lb, ub = max(lb, 0.0), min(ub, 1.0)
        if kind in (korvex.semicontinuous, korvex.semiinteger):
            near0 = abs(xj) <= tol + miptol * _size(lb, ub)
            lb = min(lb, 0.0)
            if kind == korvex.semiinteger and not near0 and not relaxed:
                off(f"integrality of column {j}", abs(xj - round(xj)), miptol)
        off(f"bounds of column {j} ({xj!r} in [{lb}, {ub}])", max(lb - xj if lb > -1e20 else 0.0,
                                                                 xj - ub if ub < 1e20 else 0.0), tol)
        if kind in (korvex.binary, korvex.integer) and not relaxed:
            off(f"integrality of column {j} ({xj!r})", abs(xj - round(xj)), miptol)

    # rows
    constraints = problem.getConstraint()
    if constraints:
        bodies = [c.getBody() for c in constraints]
        values = np.array([0.0 if b is None else float(korvex.evaluate(b, solution=x, problem=problem))
                           for b in bodies])
        # bodies with abs, min, max, pwl or sign: engines meet them through binaries
        binaries = [b is not None and any(f in str(b) for f in ("abs(", "min(", "max(", "pwl(", "sign("))
                    for b in bodies]
        lbs = np.array([c.lb for c in constraints])
        ubs = np.array([c.ub for c in constraints])
        ind_col, ind_compl = problem.getIndicators()
        for i, value in enumerate(values):
            if ind_compl[i]:
                if relaxed or abs(x[ind_col[i]] - (1.0 if ind_compl[i] > 0 else 0.0)) > 0.5:
                    continue
            lo, up = lbs[i], ubs[i]
            excess = max(lo - value if lo > -1e20 else 0.0, value - up if up < 1e20 else 0.0)
            tol = feastol + (miptol * _size(value, lo, up) if binaries[i] else 1e-11 * _size(lo, up))
            off(f"row {i} ({value!r} in [{lo}, {up}])", excess, tol)
    if relaxed:
        return x

    # entities
    for kind, members in sets:
        cols = [m if isinstance(m, int) else m.index for m in members]
        nonzero = [k for k, j in enumerate(cols)
                   if abs(x[j]) > feastol + miptol * _size(variables[j].lb, variables[j].ub)]
        ok = len(nonzero) <= 1 or (str(kind) == "2" and len(nonzero) == 2 and nonzero[1] == nonzero[0] + 1)
        assert ok, f"set of type {kind} has the nonzero members {nonzero}"
    col, res, start, xs, ys = problem.getPwlCons()
    for k in range(len(col)):
        bx, by = xs[start[k]:start[k + 1]], ys[start[k]:start[k + 1]]
        off(f"piecewise-linear constraint {k}", _pwl_gap(x[col[k]], x[res[k]], bx, by, feastol),
            feastol + miptol * _size(*bx, *by))
    types, res, colstart, cols, valstart, vals = problem.getGenCons()
    for k, t in enumerate(types):
        ops = [x[j] for j in cols[colstart[k]:colstart[k + 1]]]
        consts = list(vals[valstart[k]:valstart[k + 1]])
        if t in (0, 1):
            want = (max if t == 0 else min)(ops + consts)
        elif t in (2, 3):
            truth = [o > 0.5 for o in ops + consts]
            want = float(all(truth) if t == 2 else any(truth))
        else:
            want = abs(ops[0])
        y = x[res[k]]
        off(f"general constraint {k} ({y!r}, expected {want!r})", abs(y - want),
            feastol + miptol * _size(y, *ops))
    return x
@pytest.fixture
def p():
    """An empty problem whose solver log is off (a module's own p fixture takes precedence)."""
    prob = korvex.problem()
    prob.setControl("outputlog", 0)
    return prob


@pytest.fixture
def output_off():
    """Solver message printing off for every problem during the test."""
    korvex.setOutputEnabled(False)
    yield
    korvex.setOutputEnabled(True)


_CTRL_C_SCRIPT = """\
import os, signal, sys, threading, time
import korvex
sys.path.insert(0, sys.argv[1])
from test_api_support import sigint_c_handler as c_handler
{imports}

calls = []
signal.signal(signal.SIGINT, lambda s, f: calls.append(s))
python_handler = c_handler()
{build}

def killer():
    # once the run is under way, press Ctrl-C
    while c_handler() in (python_handler, 0):
        time.sleep(0.002)
    time.sleep({delay})
    os.kill(os.getpid(), signal.SIGINT)

t = threading.Thread(target=killer)
t.start()
{run}
t.join()
{check}
assert c_handler() == python_handler and calls == [], calls
os.kill(os.getpid(), signal.SIGINT)
time.sleep(0.05)
assert calls == [signal.SIGINT], calls
print("ok")
"""


def ctrl_c_in_subprocess(imports, build, run, check, delay):
    """In a fresh interpreter (Ctrl-C goes to the whole process): `build` a problem `p`, start `run` and press
    Ctrl-C `delay` seconds after korvex's handler is in place; then `check`, and that the Python handler is
    back and gets a later Ctrl-C. Each piece is top-level code."""
    import os
    import subprocess
    import sys
    import textwrap
    script = _CTRL_C_SCRIPT.format(**{k: textwrap.dedent(v).strip() for k, v in
                                      dict(imports=imports, build=build, run=run, check=check).items()},
                                   delay=delay)
    here = os.path.dirname(os.path.abspath(__file__))
    r = subprocess.run([sys.executable, "-c", script, here], capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, r.stderr[-2000:]
    assert r.stdout.strip().endswith("ok")
