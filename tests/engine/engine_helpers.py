"""Strategy objects outside the module, drawn through their do_draw."""


class Strategy:
    """A strategy object outside the module: drawn through its do_draw."""

    def __init__(self, draw, name="strategy"):
        self._draw = draw
        self._name = name

    def do_draw(self, data):
        return self._draw(data)

    def __repr__(self):
        return self._name


def integers(lo=None, hi=None):
    return Strategy(lambda data: data.draw_integer(lo, hi), f"integers({lo}, {hi})")


def booleans():
    return Strategy(lambda data: data.draw_boolean(0.5), "booleans()")


def floats():
    return Strategy(lambda data: data.draw_float(), "floats()")
