from quorvantis.internal.intervalsets import IntervalSet
from quorvantis.strategies._internal.collections import ListStrategy
from quorvantis.strategies._internal.strategies import IntegersStrategy, SearchStrategy


class OneCharStringStrategy(SearchStrategy):
    """One character from an ``IntervalSet``; drawn as an index into it."""

    def __init__(self, intervals):
        if not isinstance(intervals, IntervalSet):
            intervals = IntervalSet(intervals)
        self.intervals = intervals

    def do_draw(self, data):
        if not len(self.intervals):
            data.mark_invalid()
        return chr(self.intervals[data.draw_integer(0, len(self.intervals) - 1)])

    def __repr__(self):
        return f"characters({self.intervals!r})"


_STR_CONTENT = frozenset(
    {
        str.isalnum,
        str.isalpha,
        str.isdecimal,
        str.isdigit,
        str.isidentifier,
        str.islower,
        str.isnumeric,
        str.isspace,
        str.istitle,
        str.isupper,
        str.strip,
        str.lstrip,
        str.rstrip,
    }
)
_BYTES_CONTENT = frozenset(
    {
        bytes.isalnum,
        bytes.isalpha,
        bytes.isdigit,
        bytes.islower,
        bytes.isspace,
        bytes.istitle,
        bytes.isupper,
        bytes.strip,
        bytes.lstrip,
        bytes.rstrip,
    }
)


class TextStrategy(ListStrategy):
    _nonempty_filters = ListStrategy._nonempty_filters | {str, str.capitalize, str.casefold, str.lower, str.upper, str.title, str.swapcase}
    _nonempty_and_content_filters = _STR_CONTENT

    def do_draw(self, data):
        return "".join(super().do_draw(data))


class BytesStrategy(ListStrategy):
    _nonempty_filters = ListStrategy._nonempty_filters | {bytes, bytes.lower, bytes.upper, bytes.title, bytes.swapcase, bytes.capitalize}
    _nonempty_and_content_filters = _BYTES_CONTENT

    def __init__(self, min_size=0, max_size=None):
        super().__init__(IntegersStrategy(0, 255), min_size, max_size)

    def do_draw(self, data):
        return bytes(super().do_draw(data))
