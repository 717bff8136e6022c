import importlib
import sys
import types

import pytest


def _install_error_stand_ins():
    """Where the package's error module is missing (or lacks a class the
    engine raises or recognises), minimal stand-ins let the engine be tested
    on its own."""
    try:
        errors = importlib.import_module("quorvantis_fast.errors")
    except ImportError:
        errors = types.ModuleType("quorvantis_fast.errors")
        sys.modules["quorvantis_fast.errors"] = errors
    if not hasattr(errors, "StopTest"):

        class StopTest(BaseException):
            def __init__(self, testcounter):
                super().__init__(testcounter)
                self.testcounter = testcounter

        errors.StopTest = StopTest
    if not hasattr(errors, "UnsatisfiedAssumption"):
        errors.UnsatisfiedAssumption = type("UnsatisfiedAssumption", (BaseException,), {})
    for name in ("Unsatisfiable", "FailedHealthCheck", "Frozen", "ChoiceTooLarge"):
        if not hasattr(errors, name):
            setattr(errors, name, type(name, (Exception,), {}))


_install_error_stand_ins()


@pytest.fixture(autouse=True)
def build_context(monkeypatch):
    """Foreign strategies are drawn inside an upstream build context; a
    stand-in control module reports one as active."""
    try:
        importlib.import_module("quorvantis")
    except ImportError:
        package = types.ModuleType("quorvantis")
        package.__path__ = []
        monkeypatch.setitem(sys.modules, "quorvantis", package)
    control = types.ModuleType("quorvantis.control")
    control.current_build_context = lambda: object()
    monkeypatch.setitem(sys.modules, "quorvantis.control", control)


@pytest.fixture
def upstream_errors(monkeypatch):
    """Install (or hide) the upstream error module; returns a setter."""

    def install(present):
        if not present:
            monkeypatch.setitem(sys.modules, "quorvantis.errors", None)
            return None
        mod = types.ModuleType("quorvantis.errors")

        class FailedHealthCheck(Exception):
            pass

        class Unsatisfiable(Exception):
            pass

        class FlakyFailure(Exception):
            pass

        mod.FailedHealthCheck = FailedHealthCheck
        mod.Unsatisfiable = Unsatisfiable
        mod.FlakyFailure = FlakyFailure
        monkeypatch.setitem(sys.modules, "quorvantis.errors", mod)
        return mod

    return install
