"""The text of the user's objects in reports and logs, and the notes added to
the user's exceptions.

Formatting runs the user's ``__repr__``, ``__str__`` and ``add_note``, and
none of them may decide what a test's outcome is: a value that cannot be
shown is shown by its type and the error, and a note that cannot be added
is left out. What is no ``Exception`` (an interrupt, an exit, a
cancellation) is neither: it ends the run at once (see ``pass_out``).
"""

__all__ = ["add_note", "pass_out", "passes_out", "shown_repr", "shown_str", "unrepresentable"]

# Set on an exception that formatting passes out; the engine reads it through
# passes_out().
_PASSING_OUT = "_quorvantis_passes_out"


def pass_out(error):
    """Return ``error``, raised while formatting, when it is an ordinary
    ``Exception``, for the caller's fallback. Anything else (an interrupt, an
    exit, a cancellation) is raised again, marked so that the engine lets it
    end the run at once: it is no outcome of the example being formatted,
    though it is raised inside it (a shrink would take a ``sys.exit()`` for
    the test's own and go on)."""
    __tracebackhide__ = True
    if isinstance(error, Exception):
        return error
    try:
        setattr(error, _PASSING_OUT, True)
    except Exception:
        pass  # unmarked, it is still raised; the engine then judges it as the test's
    raise error


def passes_out(error):
    """Whether ``error`` was passed out by formatting (see ``pass_out``)."""
    try:
        return vars(error).get(_PASSING_OUT) is True
    except Exception:
        return False


def unrepresentable(value, error):
    """What stands for ``value`` when formatting it raised ``error`` (the
    engine's notes of interactive draws use it too)."""
    try:
        told = repr(error)
    except BaseException as e:
        pass_out(e)
        told = type(error).__name__
    return f"<unrepresentable {type(value).__name__} object: {told}>"


def _text(value, convert):
    try:
        text = convert(value)
    except BaseException as e:
        return unrepresentable(value, pass_out(e))
    # A str subclass may format differently from its text; take the plain text.
    return str.__str__(text)


def shown_repr(value):
    """``repr(value)``, or what tells why there is none."""
    return _text(value, repr)


def shown_str(value):
    """``str(value)`` (a str as it is), or what tells why there is none."""
    return _text(value, str)


def add_note(exc, text):
    """Add ``text`` to the notes of ``exc``. An ``add_note`` of the exception's
    own class that fails leaves the note to the one of ``BaseException``;
    when that fails too (``__notes__`` is not a list), the note is dropped
    and ``exc`` stays as it was."""
    try:
        exc.add_note(text)
        return
    except BaseException as e:
        pass_out(e)
    try:
        BaseException.add_note(exc, text)
    except BaseException as e:
        pass_out(e)
