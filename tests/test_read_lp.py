"""readProb of LP-format files: sections, errors with their lines, long names."""
import gzip

import pytest

import korvex
from test_api_support import LP

MIP_LP = """\\ max 3x + 2y + 4b + 10 over a ranged row, an integer and a binary: 36.5 at x = 5.5, y = 3, b = 1
Maximize
 obj: 3 x + 2 y
   + 4 b + 10
Subject To
 cap: -5 <= x + y <= 8.5
 link: x - 10 b <= 0
Bounds
 x <= 6
 y <= 4.5
General
 y
Binary
 b
End
"""


pytestmark = pytest.mark.usefixtures("output_off")


def test_lp_file_reads_and_solves(tmp_path):
    path = tmp_path / "mip.lp"
    path.write_text(MIP_LP)
    p = korvex.problem()
    p.readProb(str(path))
    assert [v.name for v in p.getVariable()] == ["x", "y", "b"]
    assert (p.attributes.rows, p.attributes.cols) == (2, 3)
    p.optimize()
    assert p.attributes.objval == pytest.approx(36.5)
    assert p.getSolution() == pytest.approx([5.5, 3.0, 1.0])
    # the same file found by the l flag without its extension, and compressed
    with gzip.open(tmp_path / "packed.lp.gz", "wt") as f:
        f.write(MIP_LP)
    for name, flags in (("mip", "l"), ("packed", "lz"), ("packed.lp.gz", "")):
        q = korvex.problem()
        q.readProb(str(tmp_path / name), flags)
        assert q.attributes.cols == 3


def test_errors_name_file_and_line_and_keep_the_problem(tmp_path):
    path = tmp_path / "bad.lp"
    path.write_text("Minimise\n obj: x\nSubject To\n c1: x >= 1\nBonds\n x <= 4\nEnd\n")
    p = korvex.problem()
    p.loadLP(**LP)
    before = p.getVariable()
    with pytest.raises(korvex.SolverError, match=r"bad\.lp:6: .*'Bonds' on line 5"):
        p.readProb(str(path))
    assert p.getVariable() == before and p.attributes.rows == 2


def test_names_of_any_length(tmp_path):
    col, row = "c" * 100000, "r" * 100000
    path = tmp_path / "long.lp"
    path.write_text(f"Minimize\n obj: {col} + y\nSubject To\n {row}: {col} + y >= 4\nBounds\n {col} <= 3\nEnd\n")
    p = korvex.problem()
    p.readProb(str(path))
    assert [v.name for v in p.getVariable()] == [col, "y"]
    assert p.getConstraint()[0].name == row
    p.optimize()
    assert p.attributes.objval == pytest.approx(4.0)
