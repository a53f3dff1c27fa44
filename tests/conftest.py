"""Fixtures shared by the test modules."""
import pytest

import korvex


@pytest.fixture
def xyz():
    """Three unlinked variables named x, y and z."""
    return korvex.var(name="x"), korvex.var(name="y"), korvex.var(name="z")


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
