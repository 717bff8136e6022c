"""The package's pytest plugin (registered as a ``pytest11`` entry point; a
copy without the package's metadata loads it with ``-p
quorvantis_fast.pytest_plugin``): tells the database keys which test pytest
is running, on whatever thread the test's body runs (see ``keys.running``),
and reports a test that ``given`` refused before pytest sets it up. It
imports nothing of the engine, so a project that never uses ``given`` pays
nothing for it."""

import pytest

from quorvantis_fast import keys


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_protocol(item):
    with keys.running(item):
        yield


# Not tryfirst, so that skip and xfail marks (read in pytest's own tryfirst
# hook) still count. Of the plain hooks, those registered last are called
# first, and pytest registers its own, which sets up the fixtures, before
# any plugin.
@pytest.hookimpl
def pytest_runtest_setup(item):
    """Raise the error of a test that ``given`` refused (a strategy for an
    argument it lacks, ...) before its fixtures are looked for: its stand-in
    shows pytest the parameters that strategies were meant for too, so that
    parametrize finds its own, and pytest would report a missing fixture in
    place of the refusal."""
    __tracebackhide__ = True
    try:
        error = getattr(item.obj, "_quorvantis_refusal", None)
    except Exception:  # an item whose object cannot be had is no test of ours
        return
    if isinstance(error, BaseException):
        raise error.with_traceback(None)
