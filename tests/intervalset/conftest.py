import pathlib

import pytest

from qf_testing import build_probe


def model_pairs(members):
    """Normalised (start, end) pairs of a set of ints."""
    pairs = []
    for m in sorted(members):
        if pairs and pairs[-1][1] + 1 == m:
            pairs[-1] = (pairs[-1][0], m)
        else:
            pairs.append((m, m))
    return pairs


def members_of(pairs, limit=10_000):
    """The ints of (start, end) pairs; refuses to expand runaway intervals."""
    out = set()
    for a, b in pairs:
        assert b - a < limit, (a, b)
        out.update(range(a, b + 1))
    return out


@pytest.fixture(scope="session")
def probe_dir():
    """Directory holding the `_probe` test extension, built on first use."""
    return build_probe("intervalset", pathlib.Path(__file__).parent / "probe")
