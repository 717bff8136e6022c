"""Fixtures of the type-resolution tests.

Type resolution calls the engine's constructors by name on
``quorvantis_fast._engine``. The ``calls`` fixture puts recording stand-ins
there, whose repr is the call that made them, so a test sees exactly what a
type resolves to. Tests that draw values use the real constructors.
"""

import sys

import pytest

from quorvantis_fast import _engine, native_strategies
from qf_testing import CONSTRUCTORS, can_hash, made, recorder


@pytest.fixture
def calls(monkeypatch):
    for name in CONSTRUCTORS:
        monkeypatch.setattr(_engine, name, recorder(name))
    monkeypatch.setattr(_engine, "can_hash", can_hash)


@pytest.fixture
def handoff(monkeypatch):
    """Stands in for the Python-level resolver; lists what it was given."""
    things = []

    def python_from_type(thing):
        things.append(thing)
        return made("python_from_type")

    # The module itself: users who import it by name get a view without its from_type.
    monkeypatch.setattr(sys.modules["quorvantis_fast.strategies"], "from_type", python_from_type)
    return things


@pytest.fixture
def registry(monkeypatch):
    """An empty type registry, with clean resolution caches."""
    reg = {}
    monkeypatch.setattr(native_strategies, "_NATIVE_TYPE_REGISTRY", reg)
    _engine._clear_resolution_caches()
    yield reg
    _engine._clear_resolution_caches()
