"""The frame of the problem methods: checks, argument defaults, the lock, interrupts, errors."""
import gc
import os
import subprocess
import sys
import textwrap
import tracemalloc

import pytest

import korvex
from korvex import SolStatus, SolveStatus
from test_api_support import (help_synopsis, interrupted, raises, LP, LP_OPT, market_split, objval, set_time_limit,
                              uninitialized_problem)


@pytest.fixture
def lp():
    p = korvex.problem()
    p.loadLP(**LP)
    return p


def test_uninitialized_problem_is_refused_before_arguments():
    p = uninitialized_problem()
    calls = [
        lambda: p.optimize(flags=5), lambda: p.lpOptimize(), lambda: p.interrupt(2 ** 40),
        lambda: p.loadLP(rhs="bad"), lambda: p.loadMIQCQP(nonsense=1), lambda: p.readProb(),
        lambda: p.getIndex(), lambda: p.setDefaults(), lambda: p.getProbName(),
        lambda: p.getSolution("x"), lambda: p.restore(1, 2), lambda: p.addNames(1),
    ]
    for call in calls:
        with raises(korvex.ModelError, "Problem is not initialized"):
            call()


def test_optimize_statuses_and_none_as_absent(lp):
    for status in (lp.optimize(), lp.optimize(None), lp.solve(flags=None)):
        assert status == (SolveStatus.COMPLETED, SolStatus.OPTIMAL)
        assert type(status[0]) is SolveStatus and type(status[1]) is SolStatus
    assert objval(lp) == pytest.approx(LP_OPT)
    lp.lpOptimize(None)
    lp.mipOptimize(flags=None)
    assert objval(lp) == pytest.approx(LP_OPT)


def test_infeasible_problem_returns_statuses():
    p = korvex.problem()
    p.loadLP(rowtype="GL", rhs=[2, 1], objcoef=[1], start=[0, 2], rowind=[0, 1], rowcoef=[1, 1])
    assert p.optimize() == (SolveStatus.COMPLETED, SolStatus.INFEASIBLE)


def test_scalar_argument_messages(lp):
    cases = [(call, 5, "flags': Value is not a string")
             for call in (lp.optimize, lp.solve, lp.lpOptimize, lp.mipOptimize, lp.tune)]
    cases += [(lp.interrupt, 2 ** 31, "reason': int too big to convert"),
              (lp.interrupt, 1.5, "reason': Value is not an integer"),
              (lp.tunerWriteMethod, None, "methodfile': Value is not a string"),
              (lambda x: lp.tuneProbSetFile("set.txt", x), "x", "ifmip': Value is not an integer"),
              (lp.optimize, "x\0", "flags': Value contains a NUL character")]
    for call, arg, text in cases:
        with raises(korvex.InterfaceError, "Error in argument '" + text):
            call(arg)
    for call in (lp.tuneProbSetFile, lambda: lp.optimize(flags="", bogus=1)):
        with pytest.raises(TypeError):
            call()


def test_standard_exceptions_become_python_errors(lp):
    def claims(n):
        """An iterable that reports a length n it does not have."""
        return type("Claims", (), {"__len__": lambda self: n, "__iter__": lambda self: iter([1.0])})()

    for n, exc in ((2 ** 62, ValueError), (2 ** 58, MemoryError)):
        with pytest.raises(exc):
            lp.loadLP(rhs=claims(n))
    lp.optimize()
    assert objval(lp) == pytest.approx(LP_OPT)


def test_solver_texts_that_are_not_utf8_decode_with_replacement(tmp_path, capsys):
    path = tmp_path / "latin1.mps"
    rows = b"NAME          n\xe9m\nROWS\n N  obj\n L  r\xe91\nCOLUMNS\n"
    path.write_bytes(rows + b"    x\xff  obj  1  r\xe92  1\nRHS\n    rhs  r\xe91  4\nENDATA\n")
    p = korvex.problem()
    with pytest.raises(korvex.SolverError, match=":6: unknown row 'r\ufffd2' in COLUMNS section$"):
        p.readProb(str(path))
    path.write_bytes(rows + b"    x\xff  obj  1  r\xe91  1\nRHS\n    rhs  r\xe91  4\nENDATA\n")
    p.readProb(str(path))
    assert [v.name for v in p.getVariable()] == ["x\ufffd"]
    assert [c.name for c in p.getConstraint()] == ["r\ufffd1"]
    assert str(p.getVariable()[0] + 1) == "1 + x\ufffd"
    p.optimize()
    capsys.readouterr()


def test_enumeration_results_leak_nothing_when_enums_fail(lp, monkeypatch):
    lp.optimize()
    member = SolveStatus.COMPLETED
    before = sys.getrefcount(member)
    monkeypatch.delattr(korvex.enums, "SolStatus")
    for _ in range(200):
        with pytest.raises(AttributeError):
            lp.optimize()
    assert sys.getrefcount(member) == before
    monkeypatch.setitem(sys.modules, "korvex.enums", None)
    with pytest.raises(ImportError):
        lp.optimize()


def test_interrupt_while_statuses_become_members_is_not_swallowed(lp, monkeypatch):
    def interrupted(value):
        raise KeyboardInterrupt

    def unknown(value):
        raise ValueError(value)

    monkeypatch.setattr(korvex.enums, "SolStatus", interrupted)
    with pytest.raises(KeyboardInterrupt):
        lp.optimize()
    monkeypatch.setattr(korvex.enums, "SolStatus", unknown)
    assert lp.optimize() == (SolveStatus.COMPLETED, 1)     # a value the enumeration refuses stays an int


def test_lock_released_and_interrupt_from_thread_stops_mip():
    p = korvex.problem()
    p.loadMIP(**market_split())
    set_time_limit(p, 120)
    status, ticks = interrupted(p, lambda: (p.mipOptimize(), p.attributes.solvestatus)[1], 50)
    assert ticks >= 50 and status == SolveStatus.STOPPED and p.attributes.stopstatus == korvex.StopType.USER


SIGINT_SCRIPT = textwrap.dedent(r"""
    import gzip, os, signal, sys, threading, time
    import korvex
    sys.path.insert(0, sys.argv[1])
    from test_api_support import raises, market_split, set_time_limit, sigint_c_handler as c_handler

    calls = []
    signal.signal(signal.SIGINT, lambda s, f: calls.append(s))
    python_handler = c_handler()
    p = korvex.problem()
    p.loadMIP(**market_split())
    set_time_limit(p, 120)
    done = threading.Event()

    def killer():
        # once the solve is under way, press Ctrl-C
        while not done.is_set():
            if c_handler() not in (python_handler, 0):
                time.sleep(0.3)
                os.kill(os.getpid(), signal.SIGINT)
                return
            time.sleep(0.005)

    t = threading.Thread(target=killer)
    t.start()
    status = p.optimize()
    done.set()
    t.join()
    assert (status[0], p.attributes.stopstatus) == (korvex.SolveStatus.STOPPED, korvex.StopType.CTRLC), status
    assert c_handler() == python_handler and calls == [], calls
    os.kill(os.getpid(), signal.SIGINT)
    time.sleep(0.05)
    assert calls == [signal.SIGINT], calls

    # Ctrl-C pressed again and again during a loop of short solves: each one either stops a solve
    # (CTRLC) or reaches the interpreter's signal handling, which writes one byte per signal to its
    # wake-up file (its handler calls may merge); the process never ends
    wake_r, wake_w = os.pipe()
    os.set_blocking(wake_r, False)
    os.set_blocking(wake_w, False)
    signal.set_wakeup_fd(wake_w)
    q = korvex.problem()
    q.loadLP(rowtype="L", rhs=[4], objcoef=[-1, -2], start=[0, 1, 2], rowind=[0, 0], rowcoef=[1, 1], ub=[3, 3])
    q.controls.outputlog = 0
    sent, stops, done = 0, 0, threading.Event()

    def presser():
        global sent
        while not done.is_set() and sent < 30:
            time.sleep(0.05)
            os.kill(os.getpid(), signal.SIGINT)
            sent += 1

    t = threading.Thread(target=presser)
    t.start()
    while sent < 30:
        q.lpOptimize()
        if q.attributes.solvestatus == korvex.SolveStatus.STOPPED:
            assert q.attributes.stopstatus == korvex.StopType.CTRLC
            stops += 1
    done.set()
    t.join()
    time.sleep(0.3)   # the last signal's byte, on a loaded machine too
    signal.set_wakeup_fd(-1)
    reached = len(os.read(wake_r, 4096))
    assert stops + reached == sent, (stops, reached, sent)

    # a read that Ctrl-C stops fails and leaves the problem as it was
    path = os.path.join(sys.argv[2], "big.mps")
    with open(path, "w") as f:
        f.write("NAME big\nROWS\n N obj\n L r\nCOLUMNS\n")
        f.writelines(" x%d obj 1 r 1\n" % j for j in range(600000))
        f.write("RHS\n rhs r 10\nENDATA\n")
    cols = q.attributes.cols

    def read_under_ctrl_c(path, press, error):
        # reads while the thread press(done) presses Ctrl-C: the read must fail with error, returned
        done = threading.Event()
        t = threading.Thread(target=press, args=(done,))
        t.start()
        try:
            q.readProb(path)
        except error as e:
            return e
        finally:
            done.set()
            t.join()
        raise AssertionError("the read was not interrupted")

    def repeat(done):
        while not done.wait(0.01):
            os.kill(os.getpid(), signal.SIGINT)

    e = read_under_ctrl_c(path, repeat, korvex.SolverError)
    assert "the read was interrupted" in str(e), e
    assert q.attributes.cols == cols
    q.readProb(path)
    assert q.attributes.cols == 600000

    # under the interpreter's own handler, one Ctrl-C during a read raises KeyboardInterrupt (not an
    # error of the read that "except korvex.SolverError" would swallow), the problem unchanged
    signal.signal(signal.SIGINT, signal.default_int_handler)
    slow = os.path.join(sys.argv[2], "slow.mps.gz")
    with gzip.open(slow, "wt", compresslevel=9) as f:
        f.write("NAME slow\nROWS\n N obj\n L c\n")
        for _ in range(20):
            f.write("* padding\n" * 1_000_000)
        f.write("COLUMNS\n x obj 1 c 1\nRHS\n rhs c 1\nENDATA\n")

    def once(done):
        while c_handler() == python_handler:
            time.sleep(0.002)
        time.sleep(0.05)
        os.kill(os.getpid(), signal.SIGINT)

    read_under_ctrl_c(slow, once, KeyboardInterrupt)
    assert q.attributes.cols == 600000
    print("ok")
""")


def test_sigint_stops_solve_and_never_ends_the_process(tmp_path):
    here = os.path.dirname(os.path.abspath(__file__))
    r = subprocess.run([sys.executable, "-c", SIGINT_SCRIPT, here, str(tmp_path)], capture_output=True, text=True,
                       timeout=300)
    assert r.returncode == 0, r.stderr[-2000:]
    assert r.stdout.strip().endswith("ok")


def rss_kb():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def test_failing_calls_keep_memory_flat(lp, tmp_path):
    missing = str(tmp_path / "missing.mps")

    def fail_all():
        for call, exc in ((lambda: lp.optimize(5), korvex.InterfaceError),
                          (lambda: lp.loadLP(rhs=[1, "x"]), korvex.InterfaceError),
                          (lambda: lp.loadLP(rowtype="LL", rhs=[1]), korvex.InterfaceError),
                          (lambda: lp.readProb(missing), korvex.SolverError),
                          (lambda: lp.getIndex(2, "nosuchname\0"), korvex.InterfaceError),
                          (lambda: lp.addNames(1, ["a", 5], 0, 1), korvex.InterfaceError),
                          (lambda: lp.setDefaultControl("nosuchcontrol"), korvex.InterfaceError)):
            try:
                call()
            except exc:
                pass

    for _ in range(300):
        fail_all()
    gc.collect()
    tracemalloc.start()
    rss0 = rss_kb()
    snap0 = tracemalloc.take_snapshot()
    for _ in range(10000 // 7 + 1):
        fail_all()
    gc.collect()
    snap1 = tracemalloc.take_snapshot()
    rss1 = rss_kb()
    tracemalloc.stop()
    assert sum(s.size_diff for s in snap1.compare_to(snap0, "filename")) < 64 * 1024 and rss1 - rss0 < 4096


API_METHODS = ("lpOptimize mipOptimize optimize solve crossoverLpSol tune tuneProbSetFile tunerWriteMethod "
               "tunerReadMethod interrupt setProbName setLogFile setDefaultControl setDefaults dumpControls "
               "setMessageStatus getMessageStatus getProbName getControlInfo getAttribInfo getIndex addNames "
               "saveAs save restore loadLP loadQP loadMIQP loadMIP loadQCQP loadMIQCQP readProb getSolution").split()


def test_help_texts_have_the_fixed_layout():
    for name in API_METHODS:
        assert name + "(" in help_synopsis(name), name
