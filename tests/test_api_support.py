"""Shared models and helpers of the problem-method tests (no tests here)."""
import os
import random
import re
import threading
import time

import pytest

import korvex


def raises(exc, text):
    """pytest.raises for an exact message."""
    return pytest.raises(exc, match="^" + re.escape(text) + "$")


def help_synopsis(name):
    """Checks the fixed section layout of a problem method's help text; returns its synopsis line."""
    heads = ["Purpose:", "Topic areas:", "Synopsis:", "Arguments:", "Further information:", "Related topics:"]
    doc = getattr(korvex.problem, name).__doc__
    positions = [doc.find("\n" + h + "\n") if i else doc.find(h + "\n") for i, h in enumerate(heads)]
    assert positions[0] == 0 and positions == sorted(positions) and -1 not in positions, name
    return doc.split("Synopsis:\n", 1)[1].split("\n", 1)[0]


def data_path():
    """The shared test data folder (KORVEX_DATA, else ../shared/data beside the checkout), or None when
    it is absent (for use while tests are collected)."""
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = os.environ.get("KORVEX_DATA") or os.path.normpath(os.path.join(root, "..", "shared", "data"))
    return path if os.path.isfile(os.path.join(path, "expected.csv")) else None


def data_dir():
    """The shared test data folder. Without it the calling test is skipped, or fails under CI=true,
    where the data is always present."""
    path = data_path()
    if path is None:
        if os.environ.get("CI") == "true":
            pytest.fail("the shared test data (KORVEX_DATA or ../shared/data) is missing under CI=true")
        pytest.skip("the shared test data (KORVEX_DATA or ../shared/data) is absent")
    return path


# min -3x - 2y  s.t.  x + y <= 4, x + 3y <= 6, 0 <= x <= 3, y >= 0: optimum -11 at (3, 1)
LP = dict(probname="lp", rowtype="LL", rhs=[4, 6], objcoef=[-3, -2], start=[0, 2, 4],
          rowind=[0, 1, 0, 1], rowcoef=[1, 1, 1, 3], lb=[0, 0], ub=[3, korvex.infinity])
LP_OPT = -11.0


def named_lp(rownames):
    """The LP with its rows named rownames and its columns x and y."""
    prob = korvex.problem()
    prob.loadLP(**LP)
    prob.addNames(1, rownames, 0, 1)
    prob.addNames(2, ["x", "y"], 0, 1)
    return prob

# min -5x - 4y  s.t.  6x + 4y <= 24, x + 2y <= 6, x, y integer >= 0: optimum -20 at (4, 0)
MIP = dict(probname="mip", rowtype="LL", rhs=[24, 6], objcoef=[-5, -4], start=[0, 2, 4],
           rowind=[0, 1, 0, 1], rowcoef=[6, 1, 4, 2], lb=[0, 0], ub=[10, 10],
           coltype="II", entind=[0, 1])
MIP_OPT = -20.0

# min x^2 + y^2 - 2x - 4y  s.t.  x + y <= 2: optimum -4.5 at (0.5, 1.5)
QP = dict(probname="qp", rowtype="L", rhs=[2], objcoef=[-2, -4], start=[0, 1, 2],
          rowind=[0, 0], rowcoef=[1, 1], lb=[-korvex.infinity] * 2, ub=[korvex.infinity] * 2,
          objqcol1=[0, 1], objqcol2=[0, 1], objqcoef=[2, 2])
QP_OPT = -4.5


def market_split(m=4, n=40, seed=7):
    """Arguments of loadMIP for a market-split problem, which takes a MIP solver very long."""
    rnd = random.Random(seed)
    a = [[rnd.randint(0, 99) for _ in range(n)] for _ in range(m)]
    d = [sum(row) // 2 for row in a]
    ncols = n + 2 * m                        # x_j binary, then s+_i and s-_i
    start, rowind, rowcoef = [0], [], []
    for j in range(n):
        for i in range(m):
            rowind.append(i)
            rowcoef.append(a[i][j])
        start.append(len(rowind))
    for i in range(m):
        for sign in (1, -1):
            rowind.append(i)
            rowcoef.append(sign)
            start.append(len(rowind))
    return dict(probname="msplit", rowtype="E" * m, rhs=d, objcoef=[0] * n + [1] * (2 * m),
                start=start, rowind=rowind, rowcoef=rowcoef, lb=[0] * ncols,
                ub=[1] * n + [korvex.infinity] * (2 * m), coltype="B" * n, entind=list(range(n)))


def objval(p):
    return p.attributes.objval


def set_time_limit(p, seconds):
    """Caps a solve as a guard against a hanging test."""
    p.controls.timelimit = seconds


def uninitialized_problem():
    """A problem object without a solver handle: stopping the library releases every handle."""
    p = korvex.problem()
    for _ in range(16):
        korvex.free()
        try:
            p.getProbName()
        except korvex.ModelError:
            return p
    raise RuntimeError("the solver library did not stop")


def interrupted(p, call, after):
    """Runs call() while another thread counts ticks of 10 ms and interrupts p from tick `after` on;
    returns call's result and the ticks (they advance only while call releases the interpreter lock)."""
    done = threading.Event()
    ticks = [0]

    def worker():
        while not done.is_set():
            ticks[0] += 1
            if ticks[0] >= after:
                p.interrupt()
            time.sleep(0.01)

    t = threading.Thread(target=worker)
    t.start()
    try:
        result = call()
    finally:
        done.set()
        t.join()
    return result, ticks[0]


def sigint_c_handler():
    """The address of the C-level SIGINT handler in force (0 for the default action)."""
    import ctypes
    import signal
    buf = ctypes.create_string_buffer(256)
    assert ctypes.CDLL(None, use_errno=True).sigaction(signal.SIGINT, None, buf) == 0
    return ctypes.c_void_p.from_buffer(buf).value or 0
