"""The constructors as module functions: order and reference discipline."""

import gc
import sys
import tracemalloc
from fractions import Fraction

import pytest

from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument
from qf_testing import values

# Registered in this order, with later constructors between them.
ORDER = ["integers", "booleans", "floats", "none", "just", "nothing", "sampled_from", "one_of", "tuples",
         "lists", "deferred", "slices", "fractions", "decimals"]


def test_registration_order():
    names = [n for n in st.__all__ if n in ORDER]
    assert names == ORDER
    # Strategy functions come after the strategy classes.
    assert st.__all__.index("integers") > st.__all__.index("MappedStrategy")


class TestReferences:
    def test_stored_values_are_released_with_the_strategy(self):
        items = [object(), object()]
        counts = [sys.getrefcount(x) for x in items]
        s = st.lists(st.sampled_from(items), unique=True)
        values(s, 20)
        del s
        gc.collect()
        assert [sys.getrefcount(x) for x in items] == counts

    def test_errors_leave_arguments_untouched(self):
        bound = Fraction(1, 3)
        before = sys.getrefcount(bound)
        for _ in range(100):
            with pytest.raises(InvalidArgument):
                st.fractions(bound, max_denominator=2)
            st.integers(5, 1)
            st.lists(st.integers(), min_size=bound)
        assert sys.getrefcount(bound) == before

    def test_memory_stays_flat(self):
        def work():
            st.floats(0, 1, exclude_min=True)
            st.floats(1e-310, 2e-310, allow_subnormal=False)
            st.lists(st.integers(0, 3), unique=True)
            st.sampled_from(range(10)).filter(lambda x: x > 4)
            values(st.decimals(0, 1), 3)
            values(st.slices(5), 3)
            values(st.sampled_from([1, 2, 3]).filter(lambda x: x == 2), 3)
            try:
                st.one_of(st.integers(), 5)
            except InvalidArgument:
                pass

        # Interpreter and standard-library caches fill up first.
        for _ in range(1000):
            work()
        gc.collect()
        tracemalloc.start()
        growth = []
        try:
            for _ in range(3):
                start, _ = tracemalloc.get_traced_memory()
                for _ in range(2000):
                    work()
                gc.collect()
                end, _ = tracemalloc.get_traced_memory()
                growth.append(end - start)
        finally:
            tracemalloc.stop()
        # A leak grows every batch by at least 2000 * 32 bytes; a one-off
        # cache fill (the allocator's, the interpreter's) grows one batch.
        assert min(growth) < 32 * 1024, growth
