"""quorvantis_fast: property-based testing with a native engine.

Public names::

    from quorvantis_fast import given, settings, st, reproduce_failure

``st`` holds the strategies. ``settings`` here is the settings class: the
module of the same name, ``quorvantis_fast.settings``, also holds
``Verbosity`` and ``HealthCheck`` (both importable from here as well).
``__version__`` is the version of the package.

Apart from the small settings module, the public names are loaded on first
use, so importing the native module alone pulls in little else.
"""

import importlib as _importlib

# Imported first and bound here, so that the name is the class and stays the
# class: the submodule is then in sys.modules and later imports of it do not
# rebind the package attribute.
from quorvantis_fast.settings import settings

# In place of the helpers module that the engine calls by name, users who
# import ``quorvantis_fast.strategies`` get a view of it that points them to
# ``st`` (see that module). The import system binds a submodule to its
# package when it first imports it and never again, so the view, set here
# after that import, stays.
from quorvantis_fast import strategies as _helpers

strategies = _helpers._USERS_VIEW
del _helpers

_PUBLIC = {
    "given": "quorvantis_fast.core",
    "reproduce_failure": "quorvantis_fast.core",
    "HealthCheck": "quorvantis_fast.settings",
    "Verbosity": "quorvantis_fast.settings",
    "assume": "quorvantis_fast.control",
    "reject": "quorvantis_fast.control",
    "note": "quorvantis_fast.control",
}

__all__ = sorted([*_PUBLIC, "settings", "st"])


def _version():
    """The version of this copy of the package: that of its distribution when
    it was installed from one, else the one the build wrote beside it (a
    staged copy has no metadata of its own, and the metadata found may be
    that of another copy installed elsewhere)."""
    import os
    from importlib import metadata

    try:
        dist = metadata.distribution("quorvantis_fast")
        if os.path.samefile(dist.locate_file("quorvantis_fast/__init__.py"), __file__):
            return dist.version
    except (metadata.PackageNotFoundError, OSError):
        pass
    from quorvantis_fast._version import version

    return version


def __getattr__(name):
    if name == "st":
        return _importlib.import_module("quorvantis_fast.st")
    if name == "__version__":
        globals()[name] = value = _version()
        return value
    module = _PUBLIC.get(name)
    if module is None:
        raise AttributeError(f"module 'quorvantis_fast' has no attribute {name!r}")
    value = getattr(_importlib.import_module(module), name)
    globals()[name] = value
    return value


def __dir__():
    # The public names are loaded on first use: list them before that too.
    return sorted({*globals(), *__all__, "__version__"})
