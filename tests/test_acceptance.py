"""A new user's road through loading, reading and solving: faults found by trying it."""
import os

import pytest

import korvex
from conftest import assert_feasible
from test_api_support import LP, MIP, data_dir


pytestmark = pytest.mark.usefixtures("output_off")


def solved(args, loader="loadLP"):
    p = korvex.problem()
    getattr(p, loader)(**args)
    p.optimize()
    assert_feasible(p)
    return p


def test_solution_by_generated_column_name():
    p = solved(LP)
    assert [v.name for v in p.getVariable()] == ["C1", "C2"]
    assert p.getSolution("C1") == pytest.approx(3.0)
    assert p.getSolution(["C2", "C1"]) == pytest.approx([1.0, 3.0])
    # only the exact generated form of an existing, unnamed column
    for name in ("C0", "C3", "C01", "c1", "R1", "C", "C1x"):
        with pytest.raises(korvex.InterfaceError):
            p.getSolution(name)


def test_generated_name_gives_way_to_given_names(tmp_path):
    # column 0 is called C2: that name means column 0, and column 1 has no other name
    path = tmp_path / "named.lp"
    path.write_text("Minimize\n obj: C2 + 2 y\nSubject To\n c1: C2 + y >= 1\nEnd\n")
    p = korvex.problem()
    p.readProb(str(path))
    p.optimize()
    assert_feasible(p)
    assert [v.name for v in p.getVariable()] == ["C2", "y"]
    assert p.getSolution("C2") == pytest.approx(1.0)
    with pytest.raises(korvex.InterfaceError):
        p.getSolution("C1")


def test_non_finite_value_in_lp_file_names_the_file(tmp_path):
    path = tmp_path / "nanobj.lp"
    path.write_text("Minimize\n obj: nan x + y\nSubject To\n c1: x + y >= 1\nEnd\n")
    p = korvex.problem()
    with pytest.raises(korvex.SolverError, match="nanobj.lp:2: .*not finite"):
        p.readProb(str(path))


def test_iteration_counts_of_methods_not_run_are_zero():
    p = solved(MIP, "loadMIP")
    assert p.attributes.bariter == 0
    assert p.attributes.simplexiter >= 0
    p = solved(LP)
    assert p.attributes.bariter == 0
    p.lpOptimize("b")
    assert p.attributes.bariter > 0


def test_free_mps_and_compressed_lp(tmp_path):
    import gzip
    (tmp_path / "free.mps").write_text(
        "NAME FREEX\nROWS\n N obj\n L longrowname1\nCOLUMNS\n"
        " xvariable_long obj -1 longrowname1 1\n y obj -2 longrowname1 1\n"
        "RHS\n rhs longrowname1 4\nBOUNDS\n UP bnd y 3\nENDATA\n")
    with gzip.open(tmp_path / "m.lp.gz", "wt") as f:
        f.write("Maximize\n obj: x + 2 y\nSubject To\n c1: x + y <= 4\nBounds\n y <= 3\nGeneral\n x\nEnd\n")
    for name, obj in (("free.mps", -7.0), ("m.lp.gz", 7.0)):
        p = korvex.problem()
        p.readProb(str(tmp_path / name))
        assert p.optimize() == (korvex.SolveStatus.COMPLETED, korvex.SolStatus.OPTIMAL)
        assert p.attributes.objval == pytest.approx(obj)
        assert p.getSolution() == pytest.approx([1.0, 3.0])
        assert_feasible(p)


def test_readme_example_runs_from_another_directory(tmp_path):
    import subprocess
    import sys
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(korvex.__file__)))
    for script in ("lp_and_mip.py", "read_afiro.py"):
        out = subprocess.run([sys.executable, os.path.join(root, "examples", script)], cwd=tmp_path, env=env,
                             capture_output=True, text=True, timeout=120)
        assert out.returncode == 0, out.stderr
        assert "OPTIMAL" in out.stdout


@pytest.mark.parametrize("name, obj", [("adlittle", 2.2549496316e5), ("agg", -3.5991767287e7),
                                       ("scorpion", 1.8781248227e3)])
@pytest.mark.parametrize("alg", ["d", "b"])
def test_crossover_from_any_optimal_solution(name, obj, alg):
    # duals that are not exactly complementary (adlittle, scorpion) and a model the interior
    # point code dualises (agg) still give a basic optimal solution
    p = korvex.problem()
    p.readProb(os.path.join(data_dir(), "netlib", name + ".mps.gz"))
    p.lpOptimize(alg)
    assert_feasible(p)
    assert p.crossoverLpSol() == 0
    assert p.attributes.lpstatus == korvex.LPStatus.OPTIMAL
    assert_feasible(p)
    assert p.attributes.objval == pytest.approx(obj, rel=1e-9)
    assert len(p.getSolution()) == p.attributes.cols


def test_lp_file_named_in_capitals(tmp_path):
    path = tmp_path / "MODEL.LP"
    path.write_text("\\ an LP file\nMaximize\n obj: x\nSubject To\n c1: x <= 4\nEnd\n")
    p = korvex.problem()
    p.readProb(str(path))
    p.optimize()
    assert_feasible(p)
    assert p.attributes.objval == pytest.approx(4.0)
    assert p.getProbName() == "MODEL"
