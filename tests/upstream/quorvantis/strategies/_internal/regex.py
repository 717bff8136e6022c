"""Strings matching a regular expression, built from its parse tree.

Handles literals, character sets, ranges, any-character, repeats, groups and
alternation; anchors are skipped. A drawn string that does not match (a set
with a category or a negation, a back-reference, a character outside the
alphabet) makes the test case invalid instead.
"""

import re
from re import _constants as c
from re import _parser

from quorvantis.strategies._internal.strategies import SearchStrategy

_EXTRA_REPEATS = 3
_DEFAULT_ALPHABET = range(32, 127)


def regex_strategy(pattern, fullmatch, *, alphabet=None):
    if isinstance(pattern, (str, bytes)):
        pattern = re.compile(pattern)
    return RegexStrategy(pattern, fullmatch, alphabet)


class RegexStrategy(SearchStrategy):
    def __init__(self, pattern, fullmatch, alphabet):
        self.pattern = pattern
        self.fullmatch = fullmatch
        self.alphabet = alphabet
        self._tree = _parser.parse(pattern.pattern, pattern.flags)

    def do_draw(self, data):
        points = []
        self._emit(self._tree, data, points)
        if isinstance(self.pattern.pattern, bytes):
            if any(p > 255 for p in points):
                data.mark_invalid()
            result = bytes(points)
        else:
            result = "".join(map(chr, points))
            if self.alphabet is not None and any(p not in self.alphabet.intervals for p in points):
                data.mark_invalid()
        match = self.pattern.fullmatch if self.fullmatch else self.pattern.search
        if match(result) is None:
            data.mark_invalid()
        return result

    def _any_point(self, data):
        if self.alphabet is not None:
            return ord(data.draw(self.alphabet))
        pool = range(256) if isinstance(self.pattern.pattern, bytes) else _DEFAULT_ALPHABET
        return pool[data.draw_integer(0, len(pool) - 1)]

    def _emit(self, tree, data, out):
        for op, arg in tree:
            if op is c.LITERAL:
                out.append(arg)
            elif op is c.NOT_LITERAL or op is c.ANY:
                out.append(self._any_point(data))
            elif op is c.IN:
                choices = [a for kind, a in arg if kind is c.LITERAL]
                choices += [chr_range for kind, chr_range in arg if kind is c.RANGE]
                if not choices or any(kind in (c.NEGATE, c.CATEGORY) for kind, _ in arg):
                    out.append(self._any_point(data))
                    continue
                pick = choices[data.draw_integer(0, len(choices) - 1)]
                if isinstance(pick, tuple):
                    pick = data.draw_integer(pick[0], pick[1])
                out.append(pick)
            elif op in (c.MAX_REPEAT, c.MIN_REPEAT, getattr(c, "POSSESSIVE_REPEAT", None)):
                low, high, sub = arg
                high = min(high, low + _EXTRA_REPEATS)
                for _ in range(data.draw_integer(low, high)):
                    self._emit(sub, data, out)
            elif op is c.SUBPATTERN:
                self._emit(arg[-1], data, out)
            elif op is c.BRANCH:
                branches = arg[1]
                self._emit(branches[data.draw_integer(0, len(branches) - 1)], data, out)
            elif op in (c.AT, getattr(c, "ATOMIC_GROUP", None)):
                if op is not c.AT:
                    self._emit(arg, data, out)
            else:
                data.mark_invalid()

    def __repr__(self):
        return f"from_regex({self.pattern.pattern!r}, fullmatch={self.fullmatch})"
