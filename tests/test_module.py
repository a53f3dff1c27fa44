"""Module runtime: start-up, library start and stop, message output, controls and attributes."""
import ctypes
import os
import pathlib
import subprocess
import sys
import textwrap
import threading
import tracemalloc

import pytest

import korvex


def run_isolated(code):
    """Runs code in a fresh interpreter (library start and stop touch every live problem)."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    r = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, text=True,
                       timeout=120)
    assert r.returncode == 0, r.stdout + r.stderr
    return r.stdout


@pytest.fixture(scope="module")
def libkrvx():
    """The solver library loaded in this process, for raising messages from a handle of our own."""
    korvex.problem()   # starts the library and installs the message handler
    path = pathlib.Path(korvex.__file__).parent / "korvexlibs" / "lib" / "libkrvx.so"
    lib = ctypes.CDLL(str(path))
    lib.KRVXcreateprob.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    lib.KRVXdumpcontrols.argtypes = [ctypes.c_void_p]
    lib.KRVXdestroyprob.argtypes = [ctypes.c_void_p]
    handle = ctypes.c_void_p()
    assert lib.KRVXcreateprob(ctypes.byref(handle)) == 0
    yield lambda: lib.KRVXdumpcontrols(handle)   # ctypes releases the interpreter lock here
    lib.KRVXdestroyprob(handle)


def test_constants_classes_and_exports():
    assert (korvex.continuous, korvex.binary, korvex.integer, korvex.semicontinuous, korvex.semiinteger,
            korvex.partiallyinteger) == (0, 1, 2, 3, 4, 5)
    assert (korvex.minimize, korvex.maximize, korvex.infinity) == (1, -1, 1e20)
    for name in ("ModelError", "InterfaceError", "SolverError"):
        assert issubclass(getattr(korvex, name), Exception)
    assert issubclass(korvex.ModelWarning, Warning)
    assert issubclass(korvex.DeprecationWarning, FutureWarning)
    for cls in (korvex.var, korvex.constraint, korvex.sos, korvex.problem, korvex.poolcut, korvex.ModelError,
                korvex.InterfaceError, korvex.SolverError, korvex.ModelWarning, korvex.DeprecationWarning):
        assert cls.__module__ == "korvex"
    native = korvex._korvex
    public = {n for n in dir(native) if not n.startswith("_")}
    assert public <= set(native.__all__)
    assert "_init" in native.__all__ and korvex._init is native._init
    assert isinstance(korvex.getVersion(), str) and korvex.getVersion()


def test_checked_mode_follows_truth_value():
    class Broken:
        def __bool__(self):
            raise ZeroDivisionError

    assert korvex.getCheckedMode() is True   # on by default
    try:
        for value in (False, True, 0, 2, "", "off", [], [0], None, 0.0, float("nan")):
            korvex.setCheckedMode(value)
            assert korvex.getCheckedMode() is bool(value)
        with pytest.raises(ZeroDivisionError):
            korvex.setCheckedMode(Broken())
        assert korvex.getCheckedMode() is True   # the last value set stays
    finally:
        korvex.setCheckedMode(True)


def test_library_start_is_lazy_and_counted():
    run_isolated("""
        import korvex
        p = korvex.problem()                  # first problem starts the library
        korvex._init()                        # a second start
        korvex.free()
        assert p.getControl("miptol") == 5e-6  # one start left: p still works
        korvex.free()                         # the last start: solver data of live problems go
        try:
            p.getControl("miptol")
        except korvex.ModelError as e:
            assert str(e) == "Problem is not initialized"
        else:
            raise AssertionError("no error")
        korvex.free()                         # nothing left to undo
        q = korvex.problem()                  # starts it again
        assert q.controls.maxnode == 2147483647
        print("ok")
    """)


class TestMessages:
    def test_printed_through_sys_stdout_from_any_thread(self, libkrvx, capsys):
        libkrvx()
        out = capsys.readouterr().out
        assert "All controls have their default values" in out
        t = threading.Thread(target=libkrvx)
        t.start()
        t.join()
        assert "All controls have their default values" in capsys.readouterr().out

    def test_switched_off(self, libkrvx, capsys):
        korvex.setOutputEnabled(False)
        try:
            libkrvx()
        finally:
            korvex.setOutputEnabled(True)
        assert capsys.readouterr().out == ""

    def test_failing_stdout_is_unraisable(self, libkrvx, monkeypatch):
        class Broken:
            def write(self, text):
                raise OSError("disk full")

            def flush(self):
                pass

        seen = []
        monkeypatch.setattr(sys, "stdout", Broken())
        monkeypatch.setattr(sys, "unraisablehook", lambda u: seen.append(u.exc_value))
        libkrvx()
        monkeypatch.undo()
        assert seen and isinstance(seen[0], OSError)

    def test_problem_outputlog(self, capsys):
        p = korvex.problem()
        p.controls.outputlog = 0
        p.dumpControls()
        assert capsys.readouterr().out == ""
        p.setDefaults()          # outputlog back to 1 in the library
        p.dumpControls()
        assert "All controls have their default values" in capsys.readouterr().out


class TestControls:
    def test_by_name_case_insensitive(self):
        p = korvex.problem()
        p.controls.MIPTOL = 1e-4
        assert p.controls.miptol == 1e-4
        assert p.getControl("MipTol") == 1e-4
        p.setControl("maxnode", 10)
        p.setControl({"threads": 2, "FEASTOL": 1e-7})
        assert p.getControl(["maxnode", "threads", "feastol"]) == {"maxnode": 10, "threads": 2, "feastol": 1e-7}
        everything = p.getControl()
        assert everything["maxnode"] == 10 and set(everything) == set(dir(p.controls))
        assert isinstance(p.controls.maxnode, int) and isinstance(p.controls.miptol, float)

    def test_bad_names_and_values(self):
        p = korvex.problem()
        with pytest.raises(AttributeError, match="nosuchcontrol"):
            p.controls.nosuchcontrol
        assert not hasattr(p.controls, "nosuchcontrol")
        with pytest.raises(korvex.InterfaceError, match="nosuchcontrol"):
            p.setControl("nosuchcontrol", 1)
        with pytest.raises(korvex.InterfaceError):
            p.getControl(["miptol", "nosuchcontrol"])
        with pytest.raises(TypeError):
            p.controls.maxnode = 2.5
        with pytest.raises(TypeError):
            p.controls.miptol = "small"
        with pytest.raises(korvex.SolverError):
            p.controls.miptol = 0.9          # out of the library's range
        p.controls.maxnode = 3.0             # integral floats are taken
        assert p.controls.maxnode == 3

    def test_global_defaults_apply_to_new_problems(self):
        assert korvex.controls.miptol == 5e-6
        old = korvex.problem()
        korvex.controls.MaxNode = 77
        try:
            assert korvex.controls.maxnode == 77
            assert korvex.problem().controls.maxnode == 77
            assert old.controls.maxnode == 2147483647
        finally:
            del korvex.controls.maxnode
        assert korvex.controls.maxnode == 2147483647
        assert korvex.problem().controls.maxnode == 2147483647
        assert "miptol" in dir(korvex.controls)
        with pytest.raises(TypeError):
            korvex.controls.maxnode = "many"
        with pytest.raises(AttributeError):
            korvex.controls.nosuchcontrol = 1
        with pytest.raises(korvex.SolverError):
            korvex.controls.miptol = 0.9     # refused at once, not at every later problem creation
        assert korvex.controls.maxnode == 2147483647 and korvex.controls.miptol == 5e-6
        korvex.problem()

    def test_attributes(self):
        p = korvex.problem()
        assert p.attributes.rows == 0 and p.attributes.COLS == 0
        assert p.getAttrib("objval") == 0.0
        assert set(p.getAttrib(["rows", "cols"])) == {"rows", "cols"}
        assert "rows" in p.getAttrib() and "rows" in dir(p.attributes)
        with pytest.raises(AttributeError):
            p.attributes.rows = 3
        with pytest.raises(AttributeError):
            p.attributes.nosuchattribute

    def test_controls_object_outliving_its_problem(self):
        p = korvex.problem()
        c = p.controls
        del p
        c.miptol = 0.5                     # the controls object keeps its problem
        assert c.miptol == 0.5


def test_solve_restores_sigint_handler():
    import signal

    p = korvex.problem()
    p.loadLP("p", rowtype=["L"], rhs=[4], rng=None, objcoef=[-1], start=[0, 1], collen=None,
             rowind=[0], rowcoef=[1], lb=[0], ub=[10])

    def mine(signum, frame):
        pass

    old = signal.signal(signal.SIGINT, mine)
    try:
        p.optimize()
        assert signal.getsignal(signal.SIGINT) is mine
    finally:
        signal.signal(signal.SIGINT, old)


def test_failing_calls_keep_memory_flat():
    p = korvex.problem()

    def fail_many():
        for _ in range(10000):
            with pytest.raises(korvex.InterfaceError):
                p.setControl("nosuchcontrol", 1)
            with pytest.raises(AttributeError):
                p.controls.nosuchcontrol
            with pytest.raises(korvex.InterfaceError):
                korvex.var(name="n", vartype=9)
            with pytest.raises(TypeError):
                korvex.controls.maxnode = "many"

    fail_many()
    tracemalloc.start()
    before = tracemalloc.get_traced_memory()[0]
    fail_many()
    after = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    assert after - before < 20000
