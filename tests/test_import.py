import korvex


def test_exception_classes():
    for name in ("ModelError", "InterfaceError", "SolverError"):
        cls = getattr(korvex, name)
        assert issubclass(cls, Exception)
        assert cls.__module__ == "korvex"
