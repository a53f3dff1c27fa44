"""Global optimality (flag x): published optima, enumeration checks, stops, refusals, agreement
with the default engines on linear and mixed-integer problems."""
import itertools
import math
import os
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

import korvex as k

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "benchmarks", "global"))
import models  # noqa: E402

pytest.importorskip("pyscipopt", reason="the global engine comes with the pyscipopt package")

OPTIMAL = (k.SolveStatus.COMPLETED, k.SolStatus.OPTIMAL)
SLOW = {"nvs19", "nvs23", "nvs24"}   # seconds each; the benchmark runs them


def quiet():
    p = k.problem()
    p.controls.outputlog = 0
    return p


def assert_proven(p, sense=1):
    """objval and bestbound of a global solve agree within the gap controls (min: bound below)."""
    a = p.attributes
    gap = max(p.controls.mipabsstop, p.controls.miprelstop * abs(a.objval)) + 1e-9 * max(1, abs(a.objval))
    assert 0 <= sense * (a.objval - a.bestbound) <= gap, (a.objval, a.bestbound)


def assert_global_optimum(p, best, rel):
    """A global solve ends optimal at best (within rel of its size), with a proof."""
    assert p.optimize("x") == OPTIMAL
    assert p.attributes.objval == pytest.approx(best, abs=rel * max(1, abs(best)))
    assert_proven(p)


def quadratic(Q, x):
    n = len(x)
    return k.Sum(float(Q[i, j]) * x[i] * x[j] for i in range(n) for j in range(n))


@pytest.mark.parametrize("name", sorted(set(models.INSTANCES) - SLOW))
def test_published_optimum(name):
    published, sense, *_ = models.INSTANCES[name]
    p, v = models.build_korvex(name, k)
    p.controls.outputlog = 0
    assert p.optimize("x") == OPTIMAL
    a = p.attributes
    tol = 2e-4 * max(1.0, abs(published))                  # the published values carry 4 to 9 digits
    assert a.objval == pytest.approx(published, abs=tol)
    s = 1 if sense == "min" else -1
    assert_proven(p, s)
    assert s * (a.bestbound - published) <= tol           # a proof cannot pass the true optimum
    x = dict(zip(v, p.getSolution(list(v.values()))))
    assert models.violation(name, x) <= 1e-5              # the point, checked in plain floating point


class TestEnumeration:
    def test_integer_qcqp_matches_exhaustive_search(self):
        rng = np.random.default_rng(11)
        grid = list(itertools.product(range(-3, 4), repeat=3))
        for _ in range(8):
            Q = rng.integers(-4, 5, (3, 3))
            c = rng.integers(-5, 6, 3)
            A = rng.integers(-3, 4, (2, 3, 3))
            b = rng.integers(0, 12, 2)
            f = lambda z: z @ Q @ z + c @ z                          # noqa: E731
            g = lambda z, i: z @ A[i] @ z                             # noqa: E731
            feasible = [np.array(z) for z in grid if all(g(np.array(z), i) <= b[i] for i in range(2))]
            p = quiet()
            x = [p.addVariable(lb=-3, ub=3, vartype=k.integer) for _ in range(3)]
            p.addConstraint(quadratic(A[i], x) <= int(b[i]) for i in range(2))
            p.setObjective(quadratic(Q, x) + k.Sum(int(c[j]) * x[j] for j in range(3)))
            if not feasible:
                assert p.optimize("x")[1] == k.SolStatus.INFEASIBLE
            else:
                assert_global_optimum(p, min(f(z) for z in feasible), 1e-6)

    def test_concave_qp_matches_vertex_enumeration(self):
        # a concave objective over a box cut by one hyperplane is least at a vertex of that polytope:
        # the box's vertices on the right side and the hyperplane's crossings of the box's edges
        rng = np.random.default_rng(3)
        n = 4
        for _ in range(6):
            L = rng.normal(size=(n, n))
            Q = -(L @ L.T) - 0.1 * np.eye(n)
            c, a = rng.normal(size=n), rng.normal(size=n)
            lo, hi = -rng.uniform(0.5, 2, n), rng.uniform(0.5, 2, n)
            beta = float(a @ (lo + hi) / 2)
            points = []
            for corner in itertools.product(*zip(lo, hi)):
                z = np.array(corner)
                if a @ z <= beta + 1e-12:
                    points.append(z)
                for j in range(n):                      # the edge along column j from this corner
                    if corner[j] == lo[j] and a[j] != 0:
                        t = (beta - (a @ z - a[j] * z[j])) / a[j]
                        if lo[j] <= t <= hi[j]:
                            w = z.copy()
                            w[j] = t
                            points.append(w)
            best = min(0.5 * z @ Q @ z + c @ z for z in points)
            p = quiet()
            x = [p.addVariable(lb=lo[j], ub=hi[j]) for j in range(n)]
            p.addConstraint(k.Sum(a[j] * x[j] for j in range(n)) <= beta)
            p.setObjective(0.5 * quadratic(Q, x) + k.Sum(c[j] * x[j] for j in range(n)))
            assert_global_optimum(p, best, 1e-5)

    def test_box_polynomial_matches_polished_grid(self):
        scipy_optimize = pytest.importorskip("scipy.optimize")
        rng = np.random.default_rng(7)
        for _ in range(6):
            C = rng.normal(size=(5, 5)) * np.array([[1 if i + j <= 4 else 0 for j in range(5)] for i in range(5)])
            C[4, 0] = C[0, 4] = abs(C[4, 0]) + 0.5      # bounded below along the axes
            f = lambda u, w: sum(C[i, j] * u**i * w**j for i in range(5) for j in range(5))  # noqa: E731
            g = np.linspace(-2, 2, 401)
            U, W = np.meshgrid(g, g)
            F = f(U, W)
            starts = np.argsort(F, axis=None)[:20]
            best = min(scipy_optimize.minimize(lambda z: f(*z), [U.flat[s], W.flat[s]], bounds=[(-2, 2)] * 2,
                                               method="L-BFGS-B", options={"ftol": 1e-15, "gtol": 1e-12}).fun
                       for s in starts)
            p = quiet()
            u, w = p.addVariable(lb=-2, ub=2), p.addVariable(lb=-2, ub=2)
            p.setObjective(k.Sum(C[i, j] * u**i * w**j for i in range(5) for j in range(5) if C[i, j] != 0))
            assert_global_optimum(p, best, 1e-4)
            assert f(*p.getSolution([u, w])) == pytest.approx(p.attributes.objval, abs=1e-7)


class TestSameAsDefaultEngines:
    def random_model(self, rng, discrete):
        p = quiet()
        n, m = 6, 4
        kinds = [k.integer if discrete and j % 2 else k.continuous for j in range(n)]
        x = [p.addVariable(lb=-5, ub=5, vartype=kinds[j]) for j in range(n)]
        A = rng.integers(-4, 5, (m, n))
        p.addConstraint(k.Sum(int(A[i, j]) * x[j] for j in range(n)) <= int(rng.integers(0, 10)) for i in range(m))
        p.setObjective(k.Sum(float(rng.normal()) * x[j] for j in range(n)))
        return p, x

    @pytest.mark.parametrize("discrete", [False, True])
    def test_lp_and_mip(self, discrete):
        rng = np.random.default_rng(21 + discrete)
        for _ in range(10):
            p, _ = self.random_model(rng, discrete)
            assert p.optimize() == OPTIMAL
            assert_global_optimum(p, p.attributes.objval, 1e-6)

    def test_convex_qp_over_wide_boxes(self):
        rng = np.random.default_rng(4)
        for _ in range(5):
            L = rng.normal(size=(3, 3))
            Q, c = L @ L.T + np.eye(3), rng.normal(size=3)
            p = quiet()
            p.controls.timelimit = 30
            x = [p.addVariable(lb=-100, ub=100) for _ in range(3)]
            p.setObjective(0.5 * quadratic(Q, x) + k.Sum(c[j] * x[j] for j in range(3)))
            assert_global_optimum(p, -0.5 * c @ np.linalg.solve(Q, c), 2e-4)   # the stationary point's value

    def test_reformulated_content(self):
        # semi-continuous columns, SOS2, indicators and abs, as HiGHS solves them exactly
        for seed in range(6):
            rng = np.random.default_rng(seed)
            p = quiet()
            s = p.addVariable(lb=2, ub=6, vartype=k.semicontinuous)
            y = [p.addVariable(ub=3) for _ in range(4)]
            b = p.addVariable(vartype=k.binary)
            z = p.addVariable(lb=-4, ub=4)
            p.addSets("2", [0], y, [1, 2, 3, 4])
            cap = p.addConstraint(s + z <= float(rng.uniform(1, 5)))
            p.setIndicators([cap], [b], [1])
            p.addConstraint(k.Sum(y) + s >= float(rng.uniform(1, 6)))
            w = [float(v) for v in rng.uniform(-2, 3, 7)]
            p.setObjective(w[0] * s + k.Sum(w[1 + j] * y[j] for j in range(4)) + w[5] * b + k.abs(z - w[6]))
            assert p.optimize() == OPTIMAL
            obj = p.attributes.objval
            assert p.optimize("x") == OPTIMAL
            assert p.attributes.objval == pytest.approx(obj, abs=1e-6 * max(1, abs(obj)))

    def test_infeasible_and_unbounded(self):
        p = quiet()
        x = p.addVariable(lb=0, ub=1)
        p.addConstraint(x * x >= 2)
        assert p.optimize("x")[1] == k.SolStatus.INFEASIBLE
        for sense in (k.minimize, k.maximize):
            q = quiet()
            y = q.addVariable(lb=-k.infinity)
            q.setObjective(y, sense=sense)
            assert q.optimize("x") == (k.SolveStatus.COMPLETED, k.SolStatus.UNBOUNDED)
            assert q.attributes.bestbound == sense * -k.infinity      # no finite bound exists


def hard_problem():
    """A non-convex box QP that takes SCIP minutes."""
    rng = np.random.default_rng(1)
    n = 40
    Q = rng.normal(size=(n, n))
    p = quiet()
    x = [p.addVariable(lb=-1, ub=1) for _ in range(n)]
    p.setObjective(quadratic(Q + Q.T, x) + k.Sum(float(rng.normal()) * x[i] for i in range(n)))
    return p


class TestStops:
    def stopped_with_proof(self, p, reason):
        a = p.attributes
        assert (a.solvestatus, a.solstatus, a.stopstatus) == (k.SolveStatus.STOPPED, k.SolStatus.FEASIBLE, reason)
        assert a.bestbound <= a.objval                    # the incumbent and a valid bound

    @pytest.mark.parametrize("stop, reason", [("timelimit", k.StopType.TIMELIMIT), ("maxnode", k.StopType.NODELIMIT),
                                              ("interrupt", k.StopType.USER)])
    def test_limits_and_interrupt_from_another_thread(self, stop, reason):
        p = hard_problem()
        p.controls.timelimit = 1 if stop == "timelimit" else 120
        p.controls.maxnode = 3 if stop == "maxnode" else 0
        timer = threading.Timer(1.0, p.interrupt)
        if stop == "interrupt":
            timer.start()
        p.optimize("x")
        timer.cancel()
        self.stopped_with_proof(p, reason)
        assert p.attributes.time < (10 if stop == "timelimit" else 30)

    def test_ctrl_c_in_a_subprocess(self):
        script = textwrap.dedent(r"""
            import os, signal, sys, threading, time
            sys.path.insert(0, sys.argv[1])
            import korvex
            from test_global import hard_problem
            p = hard_problem()
            p.controls.timelimit = 120
            threading.Timer(1.0, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
            status = p.optimize("x")
            a = p.attributes
            assert (status[0], a.stopstatus) == (korvex.SolveStatus.STOPPED, korvex.StopType.CTRLC), status
            assert a.solstatus == korvex.SolStatus.FEASIBLE and a.bestbound <= a.objval and a.time < 30
            print("stopped")
        """)
        out = subprocess.run([sys.executable, "-c", script, HERE], capture_output=True, text=True, timeout=120)
        assert out.returncode == 0 and "stopped" in out.stdout, out.stderr

    def test_two_threads_each_with_its_own_solver(self):
        names = ["nvs05", "st_e03", "sep1", "nvs12"]
        results = {}

        def solve(name):
            p, _ = models.build_korvex(name, k)
            p.controls.outputlog = 0
            results[name] = (p.optimize("x"), p.attributes.objval)

        for _ in range(2):
            threads = [threading.Thread(target=solve, args=(n,)) for n in names]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            for n in names:
                published = models.INSTANCES[n][0]
                assert results[n] == (OPTIMAL, pytest.approx(published, abs=2e-4 * max(1, abs(published))))


class TestRefusals:
    def test_user_function_is_named(self):
        p = quiet()
        x = p.addVariable(lb=-1, ub=1, name="x")
        p.addConstraint(k.constraint(k.user(lambda v: v * v, x) <= 0.5, name="budget"))
        p.setObjective(x)
        with pytest.raises(k.SolverError, match="budget.*user function"):
            p.optimize("x")
        assert p.optimize("s") == OPTIMAL                 # the local engine takes it

    def test_unboundable_function_and_several_objectives(self):
        p = quiet()
        x = p.addVariable(lb=-1, ub=1)
        p.setObjective(k.atan(x))
        with pytest.raises(k.SolverError, match="atan"):
            p.optimize("x")
        q = quiet()
        y = q.addVariable(ub=3)
        q.setObjective(y, sense=k.maximize)
        q.addObjective(-y, priority=1)
        with pytest.raises(k.SolverError, match="several objectives"):
            q.optimize("x")

    def test_missing_library_names_the_package(self):
        script = textwrap.dedent(r"""
            import korvex
            p = korvex.problem()
            x = p.addVariable(ub=1)
            p.setObjective(x * x)
            try:
                p.optimize("x")
            except korvex.SolverError as e:
                print(e)
        """)
        env = dict(os.environ, KORVEX_SCIP_LIBRARY="/nonexistent/libscip.so.10.0")
        out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=env, timeout=60)
        assert "pyscipopt==6.3.0" in out.stdout and "/nonexistent/libscip.so.10.0" in out.stdout, out


def test_log_through_message_output_and_global_tuning(capsys):
    p, _ = models.build_korvex("st_e08", k)
    p.controls.outputlog = 1
    p.optimize("x")
    assert "Dual Bound" in capsys.readouterr().out
    q = quiet()
    x = q.addVariable(lb=-2, ub=2)
    q.setObjective(x**4 - 3 * x**2 + x)
    with pytest.raises(k.SolverError, match="nonlinear solver"):
        q.tune()                                         # the default tuner takes linear problems only
    q.controls.timelimit = 2
    q.tune("x")
    assert q.optimize("x") == OPTIMAL
