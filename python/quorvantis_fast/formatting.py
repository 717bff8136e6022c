"""The text of the user's objects in reports and logs, and the notes added to
the user's exceptions.

Formatting runs the user's ``__repr__``, ``__str__`` and ``add_note``, and
none of them may decide what a test's outcome is: a value that cannot be
shown is shown by its type and the error, and a note that cannot be added
is left out.
"""

__all__ = ["add_note", "shown_repr", "shown_str", "unrepresentable"]


def unrepresentable(value, error):
    """What stands for ``value`` when formatting it raised ``error`` (the
    engine's notes of interactive draws use it too)."""
    try:
        told = repr(error)
    except Exception:
        told = type(error).__name__
    return f"<unrepresentable {type(value).__name__} object: {told}>"


def _text(value, convert):
    try:
        text = convert(value)
    except Exception as e:
        return unrepresentable(value, e)
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
    except Exception:
        pass
    try:
        BaseException.add_note(exc, text)
    except Exception:
        pass
