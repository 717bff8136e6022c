"""Test-time controls: assumptions and the drawing state of this thread."""

import contextlib
import threading

from quorvantis_fast.errors import UnsatisfiedAssumption
from quorvantis_fast.internal.thread_log import ThreadLog

__all__ = ["assume", "reject", "currently_drawing", "drawing"]


class _ThreadState(threading.local):
    def __init__(self):
        self.drawing_depth = 0


_state = _ThreadState()
# Strategy objects that sampled_from handed out; the oldest are dropped.
_strategy_samples = ThreadLog(cap=64)


def assume(condition):
    """Reject the current example unless ``condition`` is true.

    Returns True so that it can be used inside expressions.
    """
    if not condition:
        raise UnsatisfiedAssumption("failed to satisfy assume()")
    return True


def reject():
    """Reject the current example unconditionally."""
    raise UnsatisfiedAssumption("reject() was called")


def currently_drawing():
    """True while a strategy is being drawn on this thread."""
    return _state.drawing_depth > 0


@contextlib.contextmanager
def drawing():
    """Mark the body as the drawing of a strategy (nests)."""
    _state.drawing_depth += 1
    try:
        yield
    finally:
        _state.drawing_depth -= 1


def _record_native_3819(strategies):
    """Remember that ``sampled_from`` handed out a strategy object itself.

    The values are strategies, so the user most likely meant ``one_of``; the
    runner reads the record with ``_take_strategy_samples`` to add a hint to
    a failure report.
    """
    _strategy_samples.add(tuple(strategies))


def _take_strategy_samples():
    """The samples recorded on this thread since the last call."""
    return _strategy_samples.take()
