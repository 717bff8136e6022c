"""Test-time controls: assumptions, notes and the drawing state of this thread."""

import contextlib
import threading

from quorvantis_fast.errors import InvalidArgument, UnsatisfiedAssumption
from quorvantis_fast.internal.thread_log import ThreadLog

__all__ = ["assume", "reject", "note", "currently_drawing", "drawing"]


class _ThreadState(threading.local):
    def __init__(self):
        self.drawing_depth = 0
        self.notes_to = None  # has .record: that of the example whose code runs now, or None


_state = _ThreadState()
# How many threads run an example now (see ``swap_notes_to``): ``assume``
# may be called on a thread the test starts, whose error the test raises.
_examples_running = 0
_examples_lock = threading.Lock()
# Strategy objects that sampled_from handed out; the oldest are dropped.
_strategy_samples = ThreadLog(cap=64)


def assume(condition):
    """Reject the current example unless ``condition`` is true.

    Returns True so that it can be used inside expressions.
    """
    __tracebackhide__ = True
    if not condition:
        _reject("assume()", "failed to satisfy assume()")
    return True


def reject():
    """Reject the current example unconditionally."""
    __tracebackhide__ = True
    _reject("reject()", "reject() was called")


def _reject(call, why):
    __tracebackhide__ = True
    if not _examples_running:
        raise InvalidArgument(
            f"{call} can only be called inside a test (a @given test, a composite strategy or "
            "a state machine), while an example is run: outside one there is no example for "
            "it to reject")
    raise UnsatisfiedAssumption(why)


def note(value):
    """Add ``value`` to the report of the current example, should it fail.

    A str is noted as it is, anything else as its repr. The report of a
    failure shows what was noted while its example was run the last time,
    one line per note. Only the thread that runs the example may note: a
    thread the test starts cannot tell which example it belongs to (it may
    outlive the one that started it), so it gets the same error as code
    outside a test.
    """
    __tracebackhide__ = True
    record = getattr(_state.notes_to, "record", None)
    if record is None:
        raise InvalidArgument(
            "note() can only be called inside a test (a @given test, a composite "
            "strategy or a state machine), while an example is run, and on the thread "
            "that runs it: a thread the test starts cannot add notes")
    text = str(value) if isinstance(value, str) else repr(value)
    record.note(text)
    notes = getattr(record, "_qv_notes", None)
    if notes is None:
        notes = record._qv_notes = []
    notes.append(text)


def notes_of(record):
    """What ``note`` added to ``record``, one text per call."""
    return getattr(record, "_qv_notes", None) or []


class Example:
    """Holds the record of an example whose code runs, for ``note``."""

    __slots__ = ("record",)

    def __init__(self, record=None):
        self.record = record


def swap_notes_to(holder):
    """From now on ``note`` writes to ``holder.record`` (an ``Example`` or any
    object with that attribute, which may change as examples run); returns
    the holder it replaces, to be put back when the code it covers is done.
    A thread that has a holder runs an example."""
    global _examples_running
    saved, _state.notes_to = _state.notes_to, holder
    if (saved is None) != (holder is None):
        with _examples_lock:
            _examples_running += 1 if saved is None else -1
    return saved


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
