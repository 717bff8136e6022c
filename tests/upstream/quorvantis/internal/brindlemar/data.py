import math
import random


class PredicateCounts:
    """How often one filter predicate was satisfied and not."""

    def __init__(self):
        self.satisfied = 0
        self.unsatisfied = 0

    def update_count(self, *, condition):
        if condition:
            self.satisfied += 1
        else:
            self.unsatisfied += 1


class StopTest(BaseException):
    """Ends the current test case (raised by ``mark_invalid`` and on overrun)."""


class BrindlemarData:
    """A test-case record that draws from a seeded generator.

    Every call of a draw method is logged in ``calls`` as (name, args,
    kwargs), so tests can see what a strategy asked for.
    """

    def __init__(self, seed=0, *, max_choices=10_000):
        self.random = random.Random(seed)
        self.calls = []
        self.max_choices = max_choices
        self.invalid = False

    def _choice(self, name, args, kwargs):
        if len(self.calls) >= self.max_choices:
            raise StopTest("overrun")
        self.calls.append((name, args, kwargs))

    def draw_integer(self, min_value=None, max_value=None, **kwargs):
        self._choice("draw_integer", (min_value, max_value), kwargs)
        if min_value is None and max_value is None:
            min_value = -(2**70)
        if min_value is None:
            min_value = max_value - 1000
        if max_value is None:
            max_value = min_value + 1000
        return self.random.randint(min_value, max_value)

    def draw_boolean(self, p=0.5, *, forced=None):
        self._choice("draw_boolean", (), {"p": p, "forced": forced})
        return forced if forced is not None else self.random.random() < p

    def draw_float(self, min_value=-math.inf, max_value=math.inf, *, allow_nan=True,
                   smallest_nonzero_magnitude=5e-324):
        self._choice("draw_float", (min_value, max_value),
                     {"allow_nan": allow_nan, "smallest_nonzero_magnitude": smallest_nonzero_magnitude})
        candidates = [min_value, max_value, 0.0, -0.0]
        if allow_nan:
            candidates.append(math.nan)
        lo, hi = max(min_value, -1e300), min(max_value, 1e300)
        if lo <= hi:
            candidates += [self.random.uniform(lo, hi) for _ in range(4)]
        value = candidates[self.random.randrange(len(candidates))]
        if math.isnan(value):
            return value
        if value != 0 and abs(value) < smallest_nonzero_magnitude:
            value = math.copysign(smallest_nonzero_magnitude, value)
        if not min_value <= value <= max_value:
            value = min_value
        return value

    def draw_string(self, intervals, *, min_size=0, max_size=10**10):
        self._choice("draw_string", (intervals,), {"min_size": min_size, "max_size": max_size})
        size = self.random.randint(min_size, min(max_size, min_size + 8))
        if size and not len(intervals):
            self.mark_invalid()
        return "".join(chr(intervals[self.random.randrange(len(intervals))]) for _ in range(size))

    def draw_bytes(self, min_size=0, max_size=10**10):
        self._choice("draw_bytes", (), {"min_size": min_size, "max_size": max_size})
        size = self.random.randint(min_size, min(max_size, min_size + 8))
        return bytes(self.random.randrange(256) for _ in range(size))

    def mark_invalid(self, why=None):
        self.invalid = True
        raise StopTest("invalid")

    def draw(self, strategy, label=None):
        return strategy.do_draw(self)
