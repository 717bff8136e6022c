import importlib
import sys
import types

import pytest


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
