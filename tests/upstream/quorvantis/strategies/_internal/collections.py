from quorvantis.strategies._internal.strategies import SearchStrategy

_AVERAGE_EXTRA = 5


class ListStrategy(SearchStrategy):
    # Filters that keep exactly the non-empty collections.
    _nonempty_filters = frozenset({bool, len, tuple, list})
    # Filters that keep only non-empty collections, and not all of them.
    _nonempty_and_content_filters = frozenset({any})

    def __init__(self, elements, min_size=0, max_size=None):
        self.elements = elements
        self.min_size = min_size
        self.max_size = max_size

    def do_draw(self, data):
        result = [data.draw(self.elements) for _ in range(self.min_size)]
        p_more = 1 - 1 / (1 + _AVERAGE_EXTRA)
        while self.max_size is None or len(result) < self.max_size:
            if not data.draw_boolean(p_more):
                break
            result.append(data.draw(self.elements))
        return result

    def __repr__(self):
        return f"lists({self.elements!r}, min_size={self.min_size}, max_size={self.max_size})"
