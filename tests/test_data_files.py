"""Every file of the shared test data, read with readProb and solved with optimize."""
import csv
import os

import pytest

import korvex
from korvex import SolStatus, SolveStatus
from test_api_support import data_dir, data_path


def rows():
    data = data_path()
    if data is None:
        return [pytest.param(None, id="data-absent")]
    with open(os.path.join(data, "expected.csv"), newline="") as f:
        return [pytest.param(r, id=r["file"]) for r in csv.DictReader(f)]


STATUS = {"optimal": SolStatus.OPTIMAL, "infeasible": SolStatus.INFEASIBLE,
          "unbounded": SolStatus.UNBOUNDED, "empty": SolStatus.OPTIMAL}


# expected.csv calls it all comments, but only its first line is: the LP reader refuses the text
# where the objective section must begin
REFUSED = {"bad/garbage.lp"}


@pytest.mark.parametrize("row", rows())
def test_data_file(row):
    data = data_dir()
    path = os.path.join(data, row["file"])
    p = korvex.problem()
    if row["status"] == "error" or row["file"] in REFUSED:
        with pytest.raises(korvex.SolverError) as err:
            p.readProb(path)
        text = str(err.value)
        assert os.path.basename(path) in text
        assert len(text) > len(os.path.basename(path)) + 10
        assert p.attributes.cols == 0
        return
    p.readProb(path)
    solvestatus, solstatus = p.optimize()
    assert solvestatus == SolveStatus.COMPLETED
    assert solstatus == STATUS[row["status"]]
    if row["objective"]:
        expected = float(row["objective"])
        assert p.attributes.objval == pytest.approx(expected, rel=1e-6, abs=1e-9)
