class SearchStrategy:
    """A strategy draws one value from a test-case record in ``do_draw``."""

    def do_draw(self, data):
        raise NotImplementedError(f"{type(self).__name__}.do_draw")

    def map(self, pack):
        return MappedStrategy(self, pack)

    def filter(self, condition):
        return FilteredStrategy(self, condition)


class MappedStrategy(SearchStrategy):
    def __init__(self, base, pack):
        self.base = base
        self.pack = pack

    def do_draw(self, data):
        return self.pack(data.draw(self.base))

    def __repr__(self):
        return f"{self.base!r}.map({self.pack!r})"


class FilteredStrategy(SearchStrategy):
    def __init__(self, base, condition):
        self.base = base
        self.condition = condition

    def do_draw(self, data):
        for _ in range(3):
            value = data.draw(self.base)
            if self.condition(value):
                return value
        data.mark_invalid()

    def __repr__(self):
        return f"{self.base!r}.filter({self.condition!r})"


class JustStrategy(SearchStrategy):
    def __init__(self, value):
        self.value = value

    def do_draw(self, data):
        return self.value

    def __repr__(self):
        return f"just({self.value!r})"


class IntegersStrategy(SearchStrategy):
    def __init__(self, min_value=None, max_value=None):
        self.min_value = min_value
        self.max_value = max_value

    def do_draw(self, data):
        return data.draw_integer(self.min_value, self.max_value)

    def __repr__(self):
        return f"integers({self.min_value!r}, {self.max_value!r})"


class BooleansStrategy(SearchStrategy):
    def do_draw(self, data):
        return data.draw_boolean(0.5)

    def __repr__(self):
        return "booleans()"
