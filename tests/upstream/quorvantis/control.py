import threading

from quorvantis.errors import InvalidArgument


class _Cell(threading.local):
    value = None


# The build context of the running test on this thread, or None.
_current_build_context = _Cell()


def current_build_context():
    context = _current_build_context.value
    if context is None:
        raise InvalidArgument("No build context registered")
    return context


class BuildContext:
    """The context of one test case: its record and the calls it made."""

    def __init__(self, data, *, wrapped_test, is_final=False):
        self.data = data
        self.wrapped_test = wrapped_test
        self.is_final = is_final
        self.known_object_printers = []
        self.calls = []
        self._saved = []

    def record_call(self, obj, func, *, args, kwargs):
        self.calls.append((obj, func, list(args), dict(kwargs)))

    def __enter__(self):
        self._saved.append(_current_build_context.value)
        _current_build_context.value = self
        return self

    def __exit__(self, exc_type, exc_value, tb):
        _current_build_context.value = self._saved.pop()
        return False
