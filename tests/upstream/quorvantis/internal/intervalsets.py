import bisect


class IntervalSet:
    """An immutable set of code points as sorted closed intervals."""

    def __init__(self, intervals=()):
        self.intervals = tuple((int(lo), int(hi)) for lo, hi in intervals)
        self._starts = []
        size = 0
        for lo, hi in self.intervals:
            self._starts.append(size)
            size += hi - lo + 1
        self.size = size

    @classmethod
    def from_string(cls, s):
        points = sorted(set(map(ord, s)))
        intervals = []
        for p in points:
            if intervals and intervals[-1][1] + 1 == p:
                intervals[-1][1] = p
            else:
                intervals.append([p, p])
        return cls(intervals)

    def __len__(self):
        return self.size

    def __getitem__(self, i):
        if i < 0:
            i += self.size
        if not 0 <= i < self.size:
            raise IndexError(f"index {i} out of range")
        k = bisect.bisect_right(self._starts, i) - 1
        return self.intervals[k][0] + i - self._starts[k]

    def __iter__(self):
        for lo, hi in self.intervals:
            yield from range(lo, hi + 1)

    def __contains__(self, elem):
        if isinstance(elem, str):
            elem = ord(elem)
        return any(lo <= elem <= hi for lo, hi in self.intervals)

    def __eq__(self, other):
        return isinstance(other, IntervalSet) and self.intervals == other.intervals

    def __hash__(self):
        return hash(self.intervals)

    def __repr__(self):
        return f"IntervalSet({self.intervals!r})"
