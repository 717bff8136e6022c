"""quorvantis_fast: property-based testing with a native engine.

The public names are loaded on first use, so importing the native module
alone pulls in nothing else of the package. Settings live in
``quorvantis_fast.settings`` (the module shares its name with the class).
"""

import importlib

_PUBLIC = {
    "given": "quorvantis_fast.core",
    "HealthCheck": "quorvantis_fast.settings",
    "Verbosity": "quorvantis_fast.settings",
    "assume": "quorvantis_fast.control",
    "reject": "quorvantis_fast.control",
}

__all__ = sorted(_PUBLIC)


def __getattr__(name):
    module = _PUBLIC.get(name)
    if module is None:
        raise AttributeError(f"module 'quorvantis_fast' has no attribute {name!r}")
    value = getattr(importlib.import_module(module), name)
    globals()[name] = value
    return value
