import sys

import pytest

from quorvantis_fast import _engine


def test_module_identity_survives_reimport():
    before = list(_engine.__all__)
    del sys.modules["quorvantis_fast._engine"]
    import quorvantis_fast._engine as again

    assert again is _engine
    assert again.__all__ == before
