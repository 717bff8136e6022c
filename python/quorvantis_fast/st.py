"""The public strategies: ``from quorvantis_fast import st``.

Every strategy function of the native engine is here under its own name
(``st.integers``, ``st.lists``, ``st.data``, ``st.from_type``, ...), with
``register_type_strategy`` to teach ``st.from_type`` about a type.

``st.from_type`` is the engine's resolver, the one to use in tests. The
module ``quorvantis_fast.strategies`` is a different thing: it holds the
Python-level fallbacks that the engine calls by name while it resolves a
type, and its ``from_type`` must stay that fallback.
"""

from quorvantis_fast import _engine
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

__all__ = [*_STRATEGY_NAMES, "register_type_strategy"]
