"""Fixtures of the strategy tests: the upstream layer on or off for one test."""

import sys

import pytest

from qf_testing import UPSTREAM_DIR


def _forget_upstream():
    return [m for m in sys.modules if m == "quorvantis" or m.startswith("quorvantis.")]


@pytest.fixture
def upstream(monkeypatch):
    """Puts the test-only upstream layer on the path for one test."""
    monkeypatch.syspath_prepend(UPSTREAM_DIR)
    yield
    for name in _forget_upstream():
        del sys.modules[name]


@pytest.fixture
def foreign(upstream, monkeypatch):
    """The upstream layer's SearchStrategy class, for one test whose
    constructors accept its instances as children (foreign strategies)."""
    import quorvantis
    import quorvantis.strategies

    from quorvantis_fast import strategies

    monkeypatch.setattr(strategies, "_real_quorvantis", quorvantis)
    return quorvantis.strategies.SearchStrategy


@pytest.fixture
def no_upstream(monkeypatch):
    """Makes the upstream library unimportable for one test."""
    for name in _forget_upstream():
        monkeypatch.delitem(sys.modules, name)
    monkeypatch.setitem(sys.modules, "quorvantis", None)
