"""Python helpers that the native strategies call."""

import functools
import sys
import unicodedata


@functools.lru_cache(maxsize=None)
def _charmap_table():
    table = {}
    category = unicodedata.category
    current, first = category(chr(0)), 0
    for cp in range(1, sys.maxunicode + 1):
        cat = category(chr(cp))
        if cat != current:
            table.setdefault(current, []).append((first, cp - 1))
            current, first = cat, cp
    table.setdefault(current, []).append((first, sys.maxunicode))
    return table


def _unicode_charmap():
    """Map each Unicode general category to its (first, last) code-point pairs."""
    return {cat: list(pairs) for cat, pairs in _charmap_table().items()}
