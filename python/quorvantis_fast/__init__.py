"""quorvantis_fast: property-based testing with a native engine."""

from quorvantis_fast import _engine  # noqa: F401

__all__ = ["_engine"]
