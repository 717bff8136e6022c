"""Python-level strategy helpers that the native engine calls by name.

The engine reads ``_real_quorvantis`` here and calls ``from_type`` as its
Python-level fallback while it resolves a type. Tests take their strategies
from ``quorvantis_fast.st`` instead, whose ``from_type`` is the engine's own
resolver; ``register_type_strategy`` is the same function in both.
"""

import dis
import importlib
import inspect
import sys
import types

from quorvantis_fast.errors import InvalidArgument, ResolutionFailed

__all__ = ["from_type", "register_type_strategy"]


def _import_upstream():
    # The pure-Python library whose strategy objects are accepted wherever a
    # strategy is expected; optional.
    try:
        importlib.import_module("quorvantis.strategies")
    except ImportError:
        return None
    return sys.modules["quorvantis"]


def __getattr__(name):
    # ``_real_quorvantis`` is looked for on first use, not when the package
    # (which imports this module) is imported; a test may replace it.
    if name == "_real_quorvantis":
        globals()[name] = value = _import_upstream()
        return value
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def from_type(thing):
    """The Python-level resolver: what the engine's type chain hands over.

    The engine calls this for the types it cannot finish itself (exotic
    forward references, protocols without registered subclasses, generics
    whose arguments are not native strategies). It must not call the engine
    back for ``thing``: the engine is still resolving it and would answer
    with a deferred strategy that asks here again. Users resolve types with
    ``quorvantis_fast._engine.from_type``.
    """
    upstream = getattr(getattr(_this._real_quorvantis, "strategies", None), "from_type", None)
    if upstream is not None:
        return upstream(thing)
    raise ResolutionFailed(
        f"Could not resolve {thing!r} to a strategy; consider using register_type_strategy"
    )


def register_type_strategy(custom_type, strategy):
    """Resolve ``custom_type`` to ``strategy`` from now on.

    ``strategy`` is a strategy, or a callable taking the type and returning
    one (or NotImplemented).
    """
    from quorvantis_fast import _engine, native_strategies

    if not isinstance(custom_type, type) and not _is_typing_thing(custom_type):
        raise InvalidArgument(f"custom_type={custom_type!r} must be a type")
    if not (callable(strategy) or hasattr(strategy, "do_draw")):
        raise InvalidArgument(f"strategy={strategy!r} must be a strategy or a callable")
    native_strategies._NATIVE_TYPE_REGISTRY[custom_type] = strategy
    clear = getattr(_engine, "_clear_resolution_caches", None)
    if clear is not None:
        clear()


def _is_typing_thing(obj):
    """Type variables, forward references, new types and generic aliases,
    which the engine looks up in the registry like types."""
    import typing

    if isinstance(obj, (typing.TypeVar, typing.ForwardRef)):
        return True
    try:
        if hasattr(obj, "__supertype__"):
            return True
    except Exception:
        pass
    return typing.get_origin(obj) is not None


_SKIPPED_OPS = frozenset({"RESUME", "NOP", "CACHE", "COPY_FREE_VARS", "MAKE_CELL"})


def _is_identity_function(f):
    """True when ``f`` is a plain function that returns its one argument."""
    code = getattr(f, "__code__", None)
    if code is None or not inspect.isfunction(f):
        return False
    if code.co_argcount != 1 or code.co_kwonlyargcount or code.co_posonlyargcount > 1:
        return False
    if code.co_flags & (inspect.CO_VARARGS | inspect.CO_VARKEYWORDS | inspect.CO_GENERATOR):
        return False
    ops = [i for i in dis.get_instructions(code) if i.opname not in _SKIPPED_OPS]
    if len(ops) != 2:
        return False
    load, ret = ops
    return (
        load.opname in ("LOAD_FAST", "LOAD_FAST_CHECK", "LOAD_FAST_BORROW")
        and load.arg == 0
        and ret.opname == "RETURN_VALUE"
    )


# ---------------------------------------------------------------------------
# What a user who imports this module by its name gets
#
# ``from quorvantis_fast import strategies as st`` reads like the import of
# the strategies, and this module's ``from_type`` (the engine's fallback,
# which fails on most types) would pass for the resolver. So the package
# attribute ``strategies`` (which both ``from quorvantis_fast import
# strategies`` and ``import quorvantis_fast.strategies as ...`` read) is
# ``_USERS_VIEW``, a view of this module without the fallback: a
# strategy's name, ``from_type`` included, raises an AttributeError that
# names ``quorvantis_fast.st``, and everything else, the module's own
# attributes (``__spec__``, ``__file__``) included, is this module's, read,
# set and deleted here. The package puts the view in place when it is
# imported, after importing this module: the import system binds a
# submodule to its package on the first import only. The engine and ``from
# quorvantis_fast.strategies import ...`` take the module itself from
# ``sys.modules``, as ``importlib.import_module`` does.


class _UsersView(types.ModuleType):
    def __getattribute__(self, name):
        if name == "from_type" or not (name.startswith("_") or hasattr(_this, name)):
            raise AttributeError(
                f"module 'quorvantis_fast.strategies' has no attribute {name!r}: it holds the "
                "engine's helpers for resolving types. The strategies are quorvantis_fast.st: "
                "use `from quorvantis_fast import st`")
        return getattr(_this, name)

    def __setattr__(self, name, value):
        setattr(_this, name, value)

    def __delattr__(self, name):
        delattr(_this, name)

    def __dir__(self):
        return [n for n in dir(_this) if n != "from_type"]


_this = sys.modules[__name__]
_USERS_VIEW = _UsersView(__name__, __doc__)
