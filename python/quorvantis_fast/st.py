"""The public strategies: ``from quorvantis_fast import st``.

Every strategy function of the native engine is here under its own name
(``st.integers``, ``st.lists``, ``st.data``, ``st.from_type``, ...), with
``composite`` and ``functions`` over the engine's composite and function
strategies, and ``register_type_strategy`` to teach ``st.from_type`` about a
type.

``st.from_type`` is the engine's resolver, the one to use in tests. The
module ``quorvantis_fast.strategies`` is a different thing: it holds the
Python-level fallbacks that the engine calls by name while it resolves a
type, and its ``from_type`` must stay that fallback.
"""

import functools
import inspect

from quorvantis_fast import _engine, control
from quorvantis_fast.errors import InvalidArgument
from quorvantis_fast.native_strategies import functions
from quorvantis_fast.strategies import register_type_strategy

# The engine's public strategy functions, in the order the engine lists them.
_STRATEGY_NAMES = (
    "integers", "booleans", "floats", "none", "just", "nothing", "sampled_from", "one_of",
    "tuples", "lists", "sets", "frozensets", "dictionaries", "fixed_dictionaries", "text",
    "characters", "binary", "uuids", "permutations", "builds", "dates", "times", "datetimes",
    "timedeltas", "complex_numbers", "ip_addresses", "deferred", "slices", "fractions",
    "decimals", "recursive", "data", "from_type", "randoms", "iterables", "emails",
)

globals().update({name: getattr(_engine, name) for name in _STRATEGY_NAMES})

# The class of every strategy (``st.SearchStrategy[int]`` in annotations) and
# that of the handle ``st.data()`` gives a test.
SearchStrategy = _engine.SearchStrategy
DataObject = _engine.DataObject

__all__ = [*_STRATEGY_NAMES, "composite", "functions", "register_type_strategy",
           "SearchStrategy", "DataObject"]


def __dir__():
    # What completes after ``st.``: the strategies and classes, not the modules used here.
    return sorted(__all__)


def composite(f):
    """Make a strategy out of a function that draws its parts.

    ``f(draw, *args, **kwargs)`` builds one value, calling ``draw(strategy)``
    for each part it needs. The decorated function takes ``*args`` and
    ``**kwargs`` only and returns a strategy whose values are the results of
    ``f``; what ``f`` draws shrinks like any other draw.
    """
    if not callable(f):
        raise InvalidArgument(f"composite() takes a function, not {f!r}")
    name = getattr(f, "__name__", "composite")
    try:
        signature = inspect.signature(f)
    except (TypeError, ValueError):
        signature = None
    if signature is not None:
        params = list(signature.parameters.values())
        if not params or params[0].kind not in (inspect.Parameter.POSITIONAL_ONLY,
                                                inspect.Parameter.POSITIONAL_OR_KEYWORD,
                                                inspect.Parameter.VAR_POSITIONAL):
            raise InvalidArgument(
                f"the composite function {name} must take draw as its first positional argument")
        if params[0].kind is not inspect.Parameter.VAR_POSITIONAL:
            signature = signature.replace(parameters=params[1:])

    def draw_value(draw, *args, **kwargs):
        __tracebackhide__ = True
        # Notes made while the value is built belong to the example drawing it.
        saved = control.swap_notes_to(control.Example(getattr(draw, "__self__", None)))
        try:
            return f(draw, *args, **kwargs)
        finally:
            control.swap_notes_to(saved)

    @functools.wraps(f)
    def strategy(*args, **kwargs):
        if signature is not None:
            try:
                signature.bind(*args, **kwargs)
            except TypeError as e:
                raise InvalidArgument(f"{name}(): {e}") from None
        result = _engine._composite_strategy(draw_value, args, kwargs)
        # The engine formats the arguments when the repr is first asked for.
        result._qv_lazy_repr = functools.partial(_call_repr, name, args, kwargs)
        return result

    if signature is not None:
        strategy.__signature__ = signature
    return strategy


def _call_repr(name, args, kwargs):
    def shown(value):
        try:
            return repr(value)
        except Exception:
            return "..."

    parts = [shown(a) for a in args] + [f"{k}={shown(v)}" for k, v in kwargs.items()]
    return f"{name}({', '.join(parts)})"
