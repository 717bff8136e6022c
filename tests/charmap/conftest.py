import pathlib

import pytest

from qf_testing import build_probe


@pytest.fixture(scope="session")
def probe_dir():
    """Directory holding the `_probe` test extension, built on first use."""
    return build_probe("charmap", pathlib.Path(__file__).parent / "probe")
