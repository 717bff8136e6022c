"""Helpers shared by the tests of builds() and the other value strategies."""

import contextlib
import random

from quorvantis_fast import _engine, native_strategies
from quorvantis_fast import strategies as package_strategies
from quorvantis_fast.errors import StopTest


def record(seed):
    return _engine.BrindlemarData(random=random.Random(seed))


def draws(strategy, n=200, *, stop_ok=False):
    """Values of ``strategy`` drawn from records seeded 0 .. n - 1.

    A test case that ends itself early (StopTest) is skipped when
    ``stop_ok``, else it fails the test.
    """
    values = []
    for seed in range(n):
        try:
            values.append(record(seed).draw(strategy))
        except StopTest:
            if not stop_ok:
                raise
    return values


def _resolve_from_registry(thing, fallback):
    registry = native_strategies._NATIVE_TYPE_REGISTRY
    if thing in registry:
        entry = registry[thing]
        return entry if isinstance(entry, _engine.SearchStrategy) else entry(thing)
    return fallback(thing)


@contextlib.contextmanager
def registered(mapping):
    """Resolve the types of ``mapping`` to their strategies (or factories).

    The entries go into the package's type registry. While the engine has
    no native ``from_type``, builds() asks the package's Python-level
    resolver, which is made to read the registry for the duration.
    """
    registry = native_strategies._NATIVE_TYPE_REGISTRY
    saved = dict(registry)
    registry.update(mapping)
    original = package_strategies.from_type
    if not hasattr(_engine, "from_type"):
        package_strategies.from_type = lambda thing: _resolve_from_registry(thing, original)
    _engine._clear_resolution_caches()
    try:
        yield
    finally:
        package_strategies.from_type = original
        registry.clear()
        registry.update(saved)
        _engine._clear_resolution_caches()
