"""A new user's first steps: the README's code as written, the installed libraries' search paths,
solving without the optional engines, how constraints print, and the help of controls and attributes."""
import gc
import itertools
import os
import random
import re
import shutil
import subprocess
import sys
import textwrap

import pytest

import korvex

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIBDIR = os.path.join(os.path.dirname(korvex.__file__), "korvexlibs", "lib")


def run_python(code, cwd, **env):
    full = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(korvex.__file__)), **env)
    out = subprocess.run([sys.executable, "-c", code], cwd=cwd, env=full, capture_output=True, text=True,
                         timeout=300)
    assert out.returncode == 0, out.stdout + out.stderr
    return out.stdout


def readme_block(section):
    """The first python block of a README section."""
    text = open(os.path.join(ROOT, "README.md"), encoding="utf-8").read()
    body = text.split("\n## " + section + "\n", 1)[1].split("\n## ", 1)[0]
    return re.search(r"```python\n(.*?)```", body, re.S).group(1)


def test_readme_quick_start_and_output_recipes_run_as_written(tmp_path):
    # the quick start from the checkout's root, then the output recipes on its problem p; the
    # answers checked: the MIP by enumerating y (x then at its largest), afiro's published optimum
    shutil.copytree(os.path.join(ROOT, "examples"), tmp_path / "examples")
    check = textwrap.dedent("""
        import io, logging
        records = []
        class Keep(logging.Handler):
            def emit(self, record): records.append(record.getMessage())
        logging.getLogger("korvex").addHandler(Keep())
        logging.getLogger("korvex").setLevel(logging.INFO)
        """) + readme_block("Solver output") + textwrap.dedent("""
        log = open("solve.log").read()
        silent = io.StringIO()
        with contextlib.redirect_stdout(silent):
            p.optimize()
        print("CHECK", len(log.splitlines()), len(records), len(silent.getvalue()))
        """)
    out = run_python(readme_block("Quick start") + check, cwd=tmp_path)
    lines = out.splitlines()
    best = max((x + 3 * y, x, y) for y in range(11) for x in [(4 - y) / 2] if x >= max(0, y - 1))
    solution = [line for line in lines if line.startswith("[")][0]
    values, objval = solution.rsplit("]", 1)
    assert [float(v) for v in values.strip("[").split(",")] == pytest.approx([best[1], best[2]])
    assert float(objval) == pytest.approx(best[0])
    afiro = [line for line in lines if "SolveStatus" in line][-1]
    assert "OPTIMAL" in afiro and float(afiro.rsplit(" ", 1)[1]) == pytest.approx(-464.7531428571, rel=1e-9)
    logged, forwarded, silent = map(int, lines[-1].split()[1:])
    assert logged > 3 and forwarded > 3 and silent == 0
    assert any("HiGHS" in line for line in lines)       # the solves before the recipes print their log


def dynamic_entries(path):
    out = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
    needed = re.findall(r"\(NEEDED\).*\[(.*)\]", out)
    paths = [p for entry in re.findall(r"\((?:RUNPATH|RPATH)\).*\[(.*)\]", out) for p in entry.split(":")]
    return needed, paths


@pytest.mark.skipif(shutil.which("readelf") is None, reason="readelf is not installed")
def test_installed_libraries_search_only_beside_themselves():
    libs = [os.path.join(LIBDIR, f) for f in sorted(os.listdir(LIBDIR)) if f.endswith(".so")]
    assert {"libkrvx.so", "libkrvx_ipopt.so", "libkrvx_bonmin.so", "libkrvx_cbc.so"} <= set(map(os.path.basename, libs))
    for path in libs + [korvex._korvex.__file__]:
        needed, paths = dynamic_entries(path)
        assert paths and all(p.startswith("$ORIGIN") for p in paths), (path, paths)
    needed, _ = dynamic_entries(os.path.join(LIBDIR, "libkrvx.so"))
    engines = re.compile(r"ipopt|bonmin|Cbc|Cgl|Clp|Osi|CoinUtils|mumps|blas|lapack", re.I)
    assert [n for n in needed if engines.search(n)] == []


def test_solves_without_the_optional_engines(tmp_path):
    # the plugins' folder missing: import and the HiGHS solves work (checked against scipy's
    # linprog, enumeration and the projection's closed form); the engines' solves fail naming
    # their Debian package and leave no solution behind
    code = textwrap.dedent("""
        import itertools, korvex, numpy as np
        from scipy.optimize import linprog
        korvex.setOutputEnabled(False)
        rng = np.random.default_rng(5)
        for trial in range(5):
            A = rng.integers(1, 6, size=(3, 4)); b = rng.integers(5, 20, size=3); c = rng.integers(-5, 1, size=4)
            for integer in (False, True):
                p = korvex.problem()
                x = [p.addVariable(ub=4, vartype=korvex.integer if integer else korvex.continuous) for _ in range(4)]
                p.addConstraint(*(korvex.Sum(int(A[i, j]) * x[j] for j in range(4)) <= int(b[i]) for i in range(3)))
                p.setObjective(korvex.Sum(int(c[j]) * x[j] for j in range(4)))
                assert p.optimize()[1] == korvex.SolStatus.OPTIMAL
                if integer:
                    want = min(c @ v for v in itertools.product(range(5), repeat=4) if (A @ v <= b).all())
                else:
                    want = linprog(c, A_ub=A, b_ub=b, bounds=[(0, 4)] * 4).fun
                assert abs(p.attributes.objval - want) < 1e-6, (p.attributes.objval, want)
        q = korvex.problem()
        x, y = q.addVariable(), q.addVariable()
        q.addConstraint(x + y <= 2)
        q.setObjective(x * x - 2 * x + y * y - 4 * y + 5)       # distance to (1, 2), squared
        q.optimize()
        assert abs(q.attributes.objval - 0.5) < 1e-6 and np.allclose(q.getSolution(), [0.5, 1.5], atol=1e-5)

        def refused(build, package):
            p = korvex.problem()
            build(p)
            try:
                p.optimize()
            except korvex.SolverError as e:
                assert package in str(e) and "not available" in str(e), str(e)
                assert p.attributes.solvestatus == korvex.SolveStatus.FAILED
                print("refused", package)
            else:
                raise AssertionError("solved without " + package)

        def nonlinear(p):
            v = p.addVariable(lb=0.5, ub=4)
            p.addConstraint(korvex.exp(v) >= 3)
            p.setObjective(v)

        def minlp(p):
            v, w = p.addVariable(vartype=korvex.integer, ub=5), p.addVariable(ub=5)
            p.addConstraint(korvex.exp(w) + v >= 4.5)
            p.setObjective(v + w)

        def directed(p):
            v = [p.addVariable(vartype=korvex.integer, ub=3) for _ in range(2)]
            p.addConstraint(v[0] + v[1] >= 2)
            p.setObjective(v[0] + 2 * v[1])
            p.loadDirs([0], [1])

        refused(nonlinear, "coinor-libipopt1v5")
        refused(minlp, "coinor-libbonmin4")
        refused(directed, "coinor-libcbc3")
        """)
    out = run_python(code, cwd=tmp_path, KORVEX_ENGINE_DIR=str(tmp_path / "no-engines"))
    assert out.split() == ["refused", "coinor-libipopt1v5", "refused", "coinor-libbonmin4", "refused", "coinor-libcbc3"]


def con_body_text(con):
    """The body's text of a printed constraint (name and bounds taken off)."""
    text = str(con).split(": ", 1)[-1]
    parts = text.split(" <= ") if text.count(" <= ") == 2 else re.split(r" (?:<=|>=|==) (?=[^ ]+$)", text)
    return parts[1] if len(parts) == 3 else parts[0]


class TestConstraintPrinting:
    def random_constraints(self, rng, xs):
        for _ in range(60):
            body = sum(rng.choice([-2, -1, 1, 1.5, 3]) * v for v in rng.sample(xs, rng.randint(1, 3)))
            if rng.random() < 0.4:
                a, b = rng.sample(xs, 2)
                body = body + rng.choice([-1, 1, 0.5]) * a * b + rng.choice([1, 2]) * a * a
            rhs = rng.choice([-3, 0, 2, 2.5, 7])
            op = rng.choice(["<=", ">=", "=="])
            yield {"<=": body <= rhs, ">=": body >= rhs, "==": body == rhs}[op], body, op, rhs

    def test_round_trip_through_the_expression_printer(self):
        # a printed constraint read back as Python prints the same text, and its body takes the
        # original body's values; in a problem the row prints with its name and the same text
        rng = random.Random(11)
        names = ["x", "y", "z", "w"]
        xs = [korvex.var(name=n) for n in names]
        p = korvex.problem()
        ps = [p.addVariable(name=n) for n in names]
        for i, (con, body, op, rhs) in enumerate(self.random_constraints(rng, xs)):
            text = str(con)
            assert repr(con) == text and text.endswith(f" {op} {rhs:g}")
            again = eval(text, {}, dict(zip(names, xs)))
            assert str(again) == text and (again.lb, again.ub) == (con.lb, con.ub)
            point = {n: rng.uniform(-3, 3) for n in names}
            printed = eval(con_body_text(con), {}, point)
            assert printed == pytest.approx(eval(str(body), {}, point), abs=1e-9)
            row = eval(text, {}, dict(zip(names, ps)))
            row.name = f"c{i}"
            p.addConstraint(row)
            added = p.getConstraint(p.attributes.rows - 1)
            name, rest = str(added).split(": ", 1)
            assert name == added.name == row.name
            assert rest.endswith(f" {op} {rhs:g}")
            assert eval(con_body_text(added), {}, point) == pytest.approx(printed, abs=1e-9)

    def test_text_does_not_depend_on_other_constraints(self):
        x, y = korvex.var(name="x"), korvex.var(name="y")
        c1, c2 = x + 2 * y >= 3, korvex.constraint(x - y <= 1, name="c2")
        before = [str(c1), str(c2)]
        assert before == ["x + 2 * y >= 3", "c2: x - y <= 1"]
        for _ in range(3):
            x <= y
        assert [str(c1), str(c2)] == before
        assert str(korvex.constraint(body=x, lb=-1, ub=2, name="r")) == "r: -1 <= x <= 2"
        assert str(korvex.constraint()) == "(empty constraint)"
        p = korvex.problem()
        a, b = p.addVariable(name="x"), p.addVariable(name="y")
        d1, d2 = a + 2 * b >= 3, a - b <= 1
        p.addConstraint(d2, d1)
        assert [str(d2), str(d1)] == ["R1: x - y <= 1", "R2: x + 2 * y >= 3"]
        with pytest.raises(korvex.ModelError, match=r"getBody\(\)"):
            d1.body

    def test_variables_of_a_freed_problem(self):
        # a freed problem's variables say why (the other expression forms: test_expr_core); a
        # column deleted from a live problem does not
        p = korvex.problem()
        x, y = p.addVariable(), p.addVariable()
        q = korvex.problem()
        u, v = q.addVariable(), q.addVariable()
        q.delCols([0])
        del p
        gc.collect()
        gone = ["The variable's problem no longer exists: freeing a problem deletes its variables."]
        for make, notes in ((lambda: korvex.exp(x) <= 1, gone), (lambda: x * y, gone), (lambda: u + 1, None)):
            with pytest.raises(korvex.ModelError) as e:
                make()
            assert (str(e.value), getattr(e.value, "__notes__", None)) == ("Deleted variable in expression", notes)


def help_entries(obj):
    doc = type(obj).__doc__
    return dict(re.findall(r"^(\w+) \((.*)\)$", doc, re.M)), doc


def test_help_lists_every_control_and_attribute_as_the_library_has_it():
    p = korvex.problem()
    p.setDefaults()                   # the library's defaults, not module-wide values other tests set
    controls, doc = help_entries(p.controls)
    assert sorted(controls) == sorted(dir(p.controls))
    assert "0 or less: no limit" in doc and "redirect_stdout" in doc
    for name, head in controls.items():
        kind, rest = head.split(";")
        default = re.search(r"default (\S+),", rest).group(1)
        value = getattr(p.controls, name)
        assert isinstance(value, int if kind.startswith("integer") else float), name
        assert value == float(default), name
        bounds = re.search(r"range ([-\d.e]+) (?:to|or) ([-\d.e]+)$", rest)
        if bounds:
            lo, hi = (float(b) for b in bounds.groups())
            for ok in (lo, hi):
                setattr(p.controls, name, int(ok) if isinstance(value, int) else ok)
            step = 1 if isinstance(value, int) else max(abs(hi), abs(lo)) * 1e-6 + 1e-12
            for bad in (lo - step, hi + step):
                with pytest.raises((korvex.SolverError, OverflowError)):   # beyond 32 bits: OverflowError
                    setattr(p.controls, name, int(bad) if isinstance(value, int) else bad)
            setattr(p.controls, name, value)
    attributes, doc = help_entries(p.attributes)
    assert sorted(attributes) == sorted(dir(p.attributes))
    for name in ("solvestatus", "solstatus", "lpstatus", "mipstatus", "stopstatus"):
        enum = re.search(rf"korvex\.(\w+)\(p\.attributes\.{name}\)", doc).group(1)
        getattr(korvex, enum)(getattr(p.attributes, name))          # the enumeration reads it
    for name, head in attributes.items():
        value = getattr(p.attributes, name)
        assert isinstance(value, int if head.startswith("integer") else float), name
