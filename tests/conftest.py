"""Fixtures shared by the test modules."""
import pytest

import korvex


@pytest.fixture
def xyz():
    """Three unlinked variables named x, y and z."""
    return korvex.var(name="x"), korvex.var(name="y"), korvex.var(name="z")
