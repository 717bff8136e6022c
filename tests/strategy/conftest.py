"""Fixtures of the strategy-core tests.

Nodes are built by the `_strategy_probe` test extension (tests/strategy/probe),
which makes each object through the engine's own SearchStrategy class; the
builders here give its functions the defaults of the node fields.
"""

import math
import pathlib
import sys
import types

import pytest

from qf_testing import UPSTREAM_DIR, build_probe

UNBOUNDED = 10_000_000_000

# Kind indices of the nodes.
KINDS = [
    "Integers", "Booleans", "Floats", "NoneValue", "Just", "Nothing", "SampledFrom",
    "SampledFromRange", "OneOf", "Tuples", "Lists", "Deferred", "Sets", "Dictionaries",
    "FixedDictionaries", "Text", "Characters", "Binary", "Map", "Filter", "FlatMap", "Uuids",
    "Permutations", "Builds", "Composite", "Dates", "Times", "Datetimes", "Timedeltas",
    "ComplexNumbers", "IpAddresses", "Slices", "Fractions", "Decimals", "Data", "Functions",
    "Randoms", "Invalid", "Shared",
]
K = types.SimpleNamespace(**{name: i for i, name in enumerate(KINDS)})


def _build_probe():
    build = build_probe("strategy", pathlib.Path(__file__).parent / "probe")
    sys.path.insert(0, str(build))
    import _strategy_probe

    return _strategy_probe


class Builders:
    """Node builders with the defaults of the node fields."""

    def __init__(self, probe):
        self.probe = probe

    def __getattr__(self, name):
        return getattr(self.probe, name)

    def integers(self, lo=None, hi=None):
        return self.probe.integers(lo, hi)

    def floats(self, lo=-math.inf, hi=math.inf, *, allow_nan=False, allow_infinity=False, width=64,
               smallest=0.0):
        return self.probe.floats(float(lo), float(hi), allow_nan, allow_infinity, width, float(smallest))

    def booleans(self):
        return self.probe.plain(K.Booleans)

    def none(self):
        return self.probe.plain(K.NoneValue)

    def nothing(self):
        return self.probe.plain(K.Nothing)

    def sampled_from(self, values, is_tuple=False):
        return self.probe.sampled_from(values, is_tuple)

    def one_of(self, *branches):
        return self.probe.one_of(branches)

    def tuples(self, *elements):
        return self.probe.tuples(elements)

    def lists(self, elements, min_size=0, max_size=UNBOUNDED, *, unique_by=None, domain=None):
        return self.probe.lists(elements, min_size, max_size, unique_by, domain)

    def sets(self, elements, min_size=0, max_size=UNBOUNDED, frozen=False):
        return self.probe.sets(elements, min_size, max_size, frozen)

    def dictionaries(self, keys, values, min_size=0, max_size=UNBOUNDED):
        return self.probe.dictionaries(keys, values, min_size, max_size)

    def text(self, alphabet, min_size=0, max_size=UNBOUNDED):
        return self.probe.text(alphabet, min_size, max_size)

    def binary(self, min_size=0, max_size=UNBOUNDED):
        return self.probe.binary(min_size, max_size)

    def builds(self, target, *args, **kwargs):
        return self.probe.builds(target, args, list(kwargs.items()))

    def invalid(self, message, resolution=False):
        return self.probe.invalid(message, resolution)


@pytest.fixture(scope="session")
def B():
    return Builders(_build_probe())


@pytest.fixture
def upstream(monkeypatch):
    """Puts the test-only upstream layer on the path for one test."""
    monkeypatch.syspath_prepend(UPSTREAM_DIR)
    yield
    for name in [m for m in sys.modules if m == "quorvantis" or m.startswith("quorvantis.")]:
        del sys.modules[name]


@pytest.fixture
def no_upstream(monkeypatch):
    """Makes the upstream library unimportable for one test."""
    for name in [m for m in sys.modules if m == "quorvantis" or m.startswith("quorvantis.")]:
        monkeypatch.delitem(sys.modules, name)
    monkeypatch.setitem(sys.modules, "quorvantis", None)
