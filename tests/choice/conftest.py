import sys
import types

import pytest


@pytest.fixture
def errors_module(monkeypatch):
    """The package's errors module, or a stand-in holding ChoiceTooLarge
    when the package does not ship one yet."""
    try:
        import quorvantis_fast.errors as errors
    except ImportError:
        errors = types.ModuleType("quorvantis_fast.errors")

        class ChoiceTooLarge(Exception):
            pass

        errors.ChoiceTooLarge = ChoiceTooLarge
        monkeypatch.setitem(sys.modules, "quorvantis_fast.errors", errors)
    return errors
