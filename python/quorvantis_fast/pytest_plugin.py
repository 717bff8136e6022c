"""The package's pytest plugin (registered as a ``pytest11`` entry point; a
copy without the package's metadata loads it with ``-p
quorvantis_fast.pytest_plugin``): tells the database keys which test pytest
is running, on whatever thread the test's body runs (see ``keys.running``).
It imports nothing of the engine, so a project that never uses ``given``
pays nothing for it."""

import pytest

from quorvantis_fast import keys


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_protocol(item):
    with keys.running(item):
        yield
