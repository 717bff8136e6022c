"""Deep strategy trees raise RecursionError instead of overflowing the C
stack, and references are released exactly once."""

import gc
import sys

import pytest
from qf_testing import seeded_draws as draws, seeded_record as record

from quorvantis_fast import _engine
from quorvantis_fast import _engine as st
from quorvantis_fast.errors import StopTest

DEPTH = 100_000


def map_chain(depth=DEPTH):
    s = st.integers(0, 1)
    for _ in range(depth):
        s = s.map(abs)
    return s


def one_of_chain(depth=DEPTH):
    s = st.none()
    for _ in range(depth):
        s = st.one_of(s, s)
    return s


def deferred_chain(depth=DEPTH):
    s = st.none()
    for _ in range(depth):
        s = st.deferred((lambda inner: lambda: inner)(s))
    return s


@pytest.fixture
def big_buffer():
    """Room for a choice at every level, so that a deep draw cannot end by
    overrunning the record before the recursion check stops it."""
    _engine.set_buffer_limit(10**9)
    yield
    _engine.clear_buffer_limit()


class TestDeepTrees:
    @pytest.mark.parametrize("make, walks", [
        (map_chain, ["draw", "repr", "validate", "is_empty", "wrapped_strategy"]),
        (one_of_chain, ["draw", "repr", "validate", "is_empty", "has_reusable_values"]),
    ])
    def test_every_walk_raises_recursion_error(self, make, walks, big_buffer):
        s = make()
        run = {
            "draw": lambda: record().draw(s),
            "repr": lambda: repr(s),
            "validate": lambda: s.validate(),
            "is_empty": lambda: s.is_empty,
            "wrapped_strategy": lambda: s.wrapped_strategy,
            "has_reusable_values": lambda: s.has_reusable_values,
        }
        for walk in walks:
            with pytest.raises(RecursionError):
                run[walk]()
        assert record().draw(st.integers(0, 0).map(abs)) == 0

    def test_deferred_definitions_from_fresh_lambdas(self):
        s = deferred_chain()
        with pytest.raises(RecursionError):
            s.is_empty
        with pytest.raises(RecursionError):
            s.has_reusable_values
        with pytest.raises(RecursionError):
            s.branches
        # Drawing stops at the nesting limit long before the stack does.
        with pytest.raises(StopTest):
            record().draw(s)
        assert st.deferred(lambda: st.just(1)).is_empty is False

    @pytest.mark.parametrize("make", [map_chain, one_of_chain, deferred_chain])
    def test_freeing_a_deep_chain(self, make):
        marker = object()
        s = make()
        holder = st.tuples(s, st.just(marker))
        before = sys.getrefcount(marker)
        del s, holder
        gc.collect()
        assert sys.getrefcount(marker) == before - 1


class TestReferences:
    def test_construction_and_release_of_every_view(self):
        child = st.integers(0, 3)
        value = object()
        before = (sys.getrefcount(child), sys.getrefcount(value))
        for _ in range(200):
            s = st.tuples(child, st.just(value)).map(str).filter(bool)
            s.wrapped_strategy
            child.wrapped_strategy
            (child | st.just(value)).wrapped_strategy
            del s
        assert (sys.getrefcount(child), sys.getrefcount(value)) == before

    def test_draws_leave_no_references_behind(self):
        value = object()
        s = st.lists(st.one_of(st.just(value), st.sampled_from([value])), max_size=4)
        before = sys.getrefcount(value)
        draws(s, 100)
        draws(st.tuples(st.just(value), st.nothing()), 20)
        assert sys.getrefcount(value) == before

    def test_errors_leave_no_references_behind(self):
        value = object()

        def boom(x):
            raise ValueError

        s = st.tuples(st.just(value), st.just(value).map(boom))
        before = sys.getrefcount(value)
        for _ in range(50):
            with pytest.raises(ValueError):
                record().draw(s)
        assert sys.getrefcount(value) == before

    def test_subclass_instances_release_their_attributes(self):
        class Sub(_engine.SearchStrategy):
            pass

        value = object()
        before = sys.getrefcount(value)
        for _ in range(100):
            s = Sub()
            s.held = value
            del s
        gc.collect()
        assert sys.getrefcount(value) == before


class TestHostileObjects:
    def test_unhashable_values_in_unique_lists(self):
        s = st.lists(st.sampled_from([[1], [2]]), max_size=3, unique_by=lambda x: x)
        with pytest.raises(TypeError):
            for seed in range(20):
                record(seed).draw(s)
        with pytest.raises(TypeError):
            for seed in range(20):
                record(seed).draw(st.lists(st.just(1), min_size=1, max_size=3, unique_by=lambda x: [x]))

    def test_failing_hash_and_key_functions(self):
        class BadHash:
            def __hash__(self):
                raise ArithmeticError

        with pytest.raises(ArithmeticError):
            record().draw(st.lists(st.just(BadHash()), min_size=1, max_size=2, unique_by=lambda x: x))
        with pytest.raises(TypeError):
            record().draw(st.lists(st.just(1), min_size=1, max_size=2, unique_by=(len,)))

    def test_finaliser_that_uses_the_module_while_a_chain_is_freed(self):
        drawn = []

        class Callback:
            def __del__(self):
                drawn.append(record().draw(st.lists(st.just(1), min_size=2, max_size=2).map(len)))

        s = st.just(Callback())
        for _ in range(1000):
            s = s.map(abs)
        del s
        gc.collect()
        assert drawn == [2]
