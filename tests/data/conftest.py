"""Fixtures of the record tests.

The record raises classes of the package's Python side (StopTest, Frozen,
ChoiceTooLarge) and builds ChoiceNode objects. Where that side does not
provide them, minimal stand-ins are installed so the record can be tested on
its own.
"""

import importlib
import sys
import types

import pytest


def _module(name):
    try:
        return importlib.import_module(name)
    except ImportError:
        mod = types.ModuleType(name)
        sys.modules[name] = mod
        parent, _, child = name.rpartition(".")
        if parent:
            setattr(_module(parent), child, mod)
        return mod


def _install_stand_ins():
    errors = _module("quorvantis_fast.errors")
    if not hasattr(errors, "StopTest"):

        class StopTest(BaseException):
            def __init__(self, testcounter):
                super().__init__(testcounter)
                self.testcounter = testcounter

        errors.StopTest = StopTest
    for name in ("Frozen", "ChoiceTooLarge"):
        if not hasattr(errors, name):
            setattr(errors, name, type(name, (Exception,), {}))
    choice = _module("quorvantis_fast.internal.brindlemar.choice")
    if not hasattr(choice, "ChoiceNode"):

        class ChoiceNode:
            def __init__(self, *, type, value, constraints, was_forced, index):
                self.type = type
                self.value = value
                self.constraints = constraints
                self.was_forced = was_forced
                self.index = index

        choice.ChoiceNode = ChoiceNode


_install_stand_ins()


@pytest.fixture(autouse=True)
def _default_buffer_limit():
    from quorvantis_fast import _engine

    _engine.clear_buffer_limit()
    yield
    _engine.clear_buffer_limit()


@pytest.fixture
def errors():
    return importlib.import_module("quorvantis_fast.errors")
