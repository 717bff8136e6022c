"""Python-side helpers that the native strategies call by name.

Everything here is looked up by the engine at the moment of use: Unicode
category data, drawn functions and random objects, the type registry and
the small packs and predicates the strategies need.
"""

import functools
import inspect
import math
import operator
import random
import sys
import typing
import warnings

from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument, QuorvantisWarning
from quorvantis_fast.internal import unicode_table
from quorvantis_fast.internal.thread_log import ThreadLog

# Type -> strategy, or callable(type) -> strategy or NotImplemented. Read
# afresh by the engine on every resolution.
_NATIVE_TYPE_REGISTRY = {}

_MAX_CODEPOINT = 0x10FFFF


# ---------------------------------------------------------------------------
# Unicode categories


@functools.lru_cache(maxsize=None)
def _charmap_of_this_interpreter():
    runs = unicode_table.runs()
    ends = [start - 1 for start, _ in runs[1:]] + [_MAX_CODEPOINT]
    result = {}
    for (start, category), end in zip(runs, ends):
        result.setdefault(category, []).append((start, end))
    return {category: tuple(pairs) for category, pairs in result.items()}


def _unicode_charmap():
    """Category name -> tuple of (first, last) code-point pairs, in order.

    Derived from the running interpreter's ``unicodedata`` (read from the
    table the build stored when it was made for the same Unicode version);
    computed once.
    """
    return dict(_charmap_of_this_interpreter())


# ---------------------------------------------------------------------------
# Draw events


_events = ThreadLog(cap=256)


def _record_draw_event(text):
    """Note an event of the current draw (such as a retried filter): `text`
    is the event's text."""
    _events.add(text)


def _take_draw_events():
    """The texts of the events recorded on this thread since the last call.

    An event whose text cannot be made is left out.
    """
    texts = []
    for event in _events.take():
        try:
            texts.append(str(event))
        except Exception:
            pass
    return texts


# ---------------------------------------------------------------------------
# Predicates


_COMPARISONS = {operator.lt: "lt", operator.le: "le", operator.eq: "eq", operator.ge: "ge", operator.gt: "gt"}


def _comparison_bound(predicate):
    """(op, v) for ``partial(operator.OP, v)`` with a real number v, else None.

    The partial puts v first, so ``partial(operator.lt, v)(x)`` is ``v < x``.
    """
    if not isinstance(predicate, functools.partial):
        return None
    if predicate.keywords or len(predicate.args) != 1:
        return None
    op = _COMPARISONS.get(predicate.func)
    (value,) = predicate.args
    if op is None or isinstance(value, bool) or not isinstance(value, (int, float)):
        return None
    return op, value


def _int_bounds(op, v):
    """The ints x with ``v OP x`` as (least, most), None where unbounded.

    None as a whole when no int passes.
    """
    if isinstance(v, float) and math.isnan(v):
        return None  # every comparison with NaN is false
    if isinstance(v, float) and math.isinf(v):
        # No int equals an infinity or lies beyond one; every int lies on
        # its near side.
        beyond = op == "eq" or (op in ("lt", "le")) == (v > 0)
        return None if beyond else (None, None)
    least = {"lt": math.floor(v) + 1, "le": math.ceil(v), "eq": math.ceil(v)}.get(op)
    most = {"gt": math.ceil(v) - 1, "ge": math.floor(v), "eq": math.floor(v)}.get(op)
    if least is not None and most is not None and least > most:
        return None
    return least, most


def _float_bounds(op, v):
    """The floats x with ``v OP x`` as inclusive (least, most); None when none pass."""
    v = float(v)
    if math.isnan(v):
        return None
    least = {"lt": math.nextafter(v, math.inf), "le": v, "eq": v}.get(op, -math.inf)
    most = {"gt": math.nextafter(v, -math.inf), "ge": v, "eq": v}.get(op, math.inf)
    return least, most


def _filter_makes_empty(condition, kind, lo, hi, allow_nan, allow_infinity):
    """True only when ``condition`` provably rejects every value of the range.

    ``kind`` is "int" (``lo``/``hi`` ints or None) or "float" (``lo``/``hi``
    floats, infinite where absent). False means "not known to be empty".
    """
    if kind == "int":
        return _int_filter_empty(condition, lo, hi)
    if kind == "float":
        return _float_filter_empty(condition, lo, hi, allow_nan, allow_infinity)
    return False


def _int_filter_empty(condition, lo, hi):
    if condition is math.isnan or condition is math.isinf:
        return True
    bound = _comparison_bound(condition)
    if bound is None:
        return False
    bounds = _int_bounds(*bound)
    if bounds is None:
        return True
    least, most = bounds
    if lo is not None:
        least = lo if least is None else max(lo, least)
    if hi is not None:
        most = hi if most is None else min(hi, most)
    return least is not None and most is not None and least > most


def _float_filter_empty(condition, lo, hi, allow_nan, allow_infinity):
    if condition is math.isnan:
        return not allow_nan
    if condition is math.isinf:
        return not (allow_infinity and (lo == -math.inf or hi == math.inf))
    if condition is math.isfinite:
        return lo == hi and math.isinf(lo)
    bound = _comparison_bound(condition)
    if bound is None:
        return False
    bounds = _float_bounds(*bound)
    if bounds is None:
        return True  # every comparison with NaN is false
    if not allow_infinity:
        lo, hi = max(lo, -sys.float_info.max), min(hi, sys.float_info.max)
    return max(lo, bounds[0]) > min(hi, bounds[1])


def _warn_then_identity(message):
    """A one-argument callable that warns with ``message`` and returns its argument."""

    def warn_then_identity(value):
        warnings.warn(message, QuorvantisWarning, stacklevel=2)
        return value

    return warn_then_identity


# ---------------------------------------------------------------------------
# Packs and drawn objects


class _PrettyIter:
    """The iterator that ``iterables()`` draws: one pass over a list, shown in full."""

    def __init__(self, values):
        self._values = values
        self._iter = iter(values)

    def __iter__(self):
        return self

    def __next__(self):
        return next(self._iter)

    def __repr__(self):
        return f"iter({self._values!r})"


def _make_generator(yields_and_result):
    """A generator that yields the drawn values and returns the drawn result."""
    yields, result = yields_and_result

    def drawn_generator():
        yield from yields
        return result

    return drawn_generator()


def _any_callable(*args, **kwargs):
    """Accepts any arguments; the model of ``Callable[..., T]``."""
    return None


def _arity_callable(n):
    """A callable taking exactly ``n`` positional arguments."""
    n = operator.index(n)
    if n < 0:
        raise ValueError(f"arity must be non-negative, got {n}")

    def arity_callable(*args):
        if len(args) != n:
            raise TypeError(f"expected {n} positional arguments, got {len(args)}")
        return None

    kind = inspect.Parameter.POSITIONAL_ONLY
    arity_callable.__signature__ = inspect.Signature(
        [inspect.Parameter(f"a{i}", kind) for i in range(n)]
    )
    return arity_callable


def _build_function(like, returns, pure, data):
    """A function with the signature of ``like`` that draws its results.

    Each call is bound to the signature of ``like``, defaults filled in, and
    draws a value of ``returns``; a pure function answers equal bound
    arguments with the same value, however the call spelled them. Without a
    readable signature the arguments go unchecked and are compared as given.
    """
    try:
        signature = inspect.signature(like)
    except (TypeError, ValueError):
        signature = None
    answers = []  # (arguments, value): arguments need not be hashable

    def drawn_function(*args, **kwargs):
        bound = None if signature is None else signature.bind(*args, **kwargs)
        if not pure:
            return data.draw(returns)
        if bound is None:
            arguments = (args, kwargs)
        else:
            bound.apply_defaults()
            arguments = bound.arguments
        for known, value in answers:
            if known == arguments:
                return value
        value = data.draw(returns)
        answers.append((arguments, value))
        return value

    drawn_function.__name__ = getattr(like, "__name__", "drawn_function")
    drawn_function.__qualname__ = drawn_function.__name__
    if signature is not None:
        drawn_function.__signature__ = signature
    return drawn_function


class _DrawnRandom(random.Random):
    """A Random whose every result is a choice of the test case, so it shrinks."""

    def __init__(self, record, note_method_calls):
        self._record = record
        self._note = note_method_calls
        super().__init__(0)

    def _draw(self, name, upper):
        value = self._record.draw_integer(0, upper)
        if self._note:
            self._record.note(f"{name}() -> {value!r}")
        return value

    def random(self):
        return self._draw("random", 2**53 - 1) / 2**53

    def getrandbits(self, k):
        if k == 0:
            return 0
        return self._draw("getrandbits", 2**k - 1)

    def __repr__(self):
        return "Random(<drawn>)"


def _build_random(data, use_true_random, note_method_calls):
    """The ``random.Random`` that ``randoms()`` draws."""
    record = data.brindlemar_data
    if use_true_random:
        return random.Random(record.draw_integer(0, 2**64 - 1))
    return _DrawnRandom(record, note_method_calls)


# ---------------------------------------------------------------------------
# Type resolution


def _resolve_generic_subtypes(thing):
    """A strategy for a generic type the native chain treats specially, or None.

    No generic type needs special treatment yet.
    """
    return None


def complex_numbers(**kwargs):
    return _engine.complex_numbers(**kwargs)


def decimals(**kwargs):
    return _engine.decimals(**kwargs)


def functions(*, like=_any_callable, returns=None, pure=False):
    """Functions that imitate ``like``: each call checks its arguments against
    the signature of ``like`` and draws its result from ``returns``.

    Without ``returns`` the results follow the return annotation of ``like``,
    or are None when it has none. A pure function answers equal arguments
    with the same value.
    """
    if not callable(like):
        raise InvalidArgument(f"like={like!r} must be a callable to imitate")
    if returns is None:
        returns = _returns_of(like)
    elif not (isinstance(returns, _engine.SearchStrategy) or hasattr(returns, "do_draw")):
        raise InvalidArgument(f"returns={returns!r} must be a strategy")
    if not isinstance(pure, bool):
        raise InvalidArgument(f"pure={pure!r} must be True or False")
    return _engine._functions_strategy(like, returns, pure)


def _returns_of(like):
    """The strategy for the return annotation of ``like``; none() without one."""
    hint = None
    if not isinstance(like, type):  # a class's hints describe its attributes
        try:
            hint = typing.get_type_hints(like).get("return")
        except TypeError:  # not a function, method or module: nothing to read
            hint = None
    return _engine.none() if hint is None else _engine.from_type(hint)
