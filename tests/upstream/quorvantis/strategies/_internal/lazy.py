from quorvantis.strategies._internal.strategies import SearchStrategy


class LazyStrategy(SearchStrategy):
    """A strategy built on first use by calling ``function(*args, **kwargs)``."""

    def __init__(self, function, args=(), kwargs=None):
        self.function = function
        self.args = args
        self.kwargs = kwargs or {}
        self._wrapped = None

    @property
    def wrapped_strategy(self):
        if self._wrapped is None:
            self._wrapped = unwrap_strategies(self.function(*self.args, **self.kwargs))
        return self._wrapped

    def do_draw(self, data):
        return data.draw(self.wrapped_strategy)


def unwrap_strategies(s):
    while isinstance(s, LazyStrategy):
        s = s.wrapped_strategy
    return s
