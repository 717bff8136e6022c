"""Filtered strategies: the retry loop and the fast path over sampled values."""

import pytest

from quorvantis_fast import _engine as st
from quorvantis_fast import native_strategies
from qf_testing import INVALID, StopTest, draw_or_stop, values


class Counter:
    """A condition that answers from a function and counts its calls."""

    def __init__(self, answer):
        self.answer = answer
        self.seen = []

    def __call__(self, x):
        self.seen.append(x)
        return self.answer(x)


@pytest.fixture(autouse=True)
def no_leftover_events():
    native_strategies._take_draw_events()
    yield
    native_strategies._take_draw_events()


class TestRetryLoop:
    def test_values_satisfy_the_condition(self):
        got = values(st.integers(0, 100).filter(lambda x: x % 3 == 0), 200)
        assert got and all(v % 3 == 0 for v in got)

    def test_gives_up_after_fifty_one_draws(self):
        base_draws = []
        base = st.integers(0, 10).map(lambda x: base_draws.append(x) or x)
        condition = Counter(lambda x: False)
        value, data = draw_or_stop(base.filter(condition), 0)
        assert value is StopTest and data.status == INVALID
        assert len(base_draws) == len(condition.seen) == 51
        assert data.has_discards

    def test_one_rejection_sends_one_event(self):
        answers = iter([False, True])
        condition = Counter(lambda x: next(answers))
        condition.__name__ = "picky"
        value, data = draw_or_stop(st.integers(0, 10).filter(condition), 0)
        assert value is not StopTest and len(condition.seen) == 2
        assert data.has_discards
        assert native_strategies._take_draw_events() == [
            "Retried draw from integers(0, 10).filter(picky) to satisfy filter"
        ]

    def test_the_event_hook_is_given_the_text_made_once_per_filter(self, monkeypatch):
        events = []
        monkeypatch.setattr(native_strategies, "_record_draw_event", lambda *a, **k: events.append((a, k)))

        def picky(x):
            return picky.answers.pop()

        strategy = st.integers(0, 10).filter(picky)
        for seed in (0, 1):
            picky.answers = [True, False]
            draw_or_stop(strategy, seed)
            picky.__name__ = "renamed"
        text = "Retried draw from integers(0, 10).filter(picky) to satisfy filter"
        assert events == [((text,), {})] * 2
        assert type(events[0][0][0]) is str and events[0][0][0] is events[1][0][0]

    def test_event_whose_base_has_no_repr_is_left_out(self):
        class NoRepr(st.SearchStrategy):
            def do_draw(self, data):
                return data.draw_integer(0, 10)

            def __repr__(self):
                raise RuntimeError("no repr")

        answers = iter([False, True])
        value, _ = draw_or_stop(NoRepr().filter(lambda x: next(answers)), 0)
        assert value is not StopTest
        native_strategies._record_draw_event("plain text")
        assert native_strategies._take_draw_events() == ["plain text"]

    def test_many_rejections_still_send_one_event(self):
        draw_or_stop(st.integers(0, 10).filter(lambda x: False), 0)
        assert len(native_strategies._take_draw_events()) == 1

    def test_accepted_first_time_leaves_no_trace(self):
        value, data = draw_or_stop(st.integers(0, 10).filter(lambda x: True), 0)
        assert value is not StopTest and not data.has_discards
        assert native_strategies._take_draw_events() == []

    def test_condition_errors_propagate(self):
        with pytest.raises(ZeroDivisionError):
            draw_or_stop(st.integers().filter(lambda x: 1 / 0), 0)

        class NoTruth:
            def __bool__(self):
                raise KeyError

        with pytest.raises(KeyError):
            draw_or_stop(st.integers().filter(lambda x: NoTruth()), 0)

    def test_chained_filters_apply_in_order(self):
        s = st.integers(0, 50).filter(lambda x: x % 2 == 0).filter(lambda x: x % 5 == 0)
        got = values(s, 200)
        assert got and all(v % 10 == 0 for v in got)
        assert repr(s).count(".filter(") == 2

    def test_long_range_uses_the_retry_loop(self):
        condition = Counter(lambda x: False)
        value, _ = draw_or_stop(st.sampled_from(range(10**7)).filter(condition), 0)
        assert value is StopTest and len(condition.seen) == 51
        assert len(native_strategies._take_draw_events()) == 1


class TestSampledValues:
    def test_only_acceptable_values(self):
        got = values(st.sampled_from(list(range(20))).filter(lambda x: x in (3, 17)), 200)
        assert set(got) == {3, 17}

    def test_no_acceptable_value_rejects_without_retrying(self):
        condition = Counter(lambda x: False)
        value, data = draw_or_stop(st.sampled_from([1, 2, 3]).filter(condition), 0)
        assert value is StopTest and data.status == INVALID
        # At most three tries, then at most one test of each untried value.
        assert len(condition.seen) <= 6 and set(condition.seen) == {1, 2, 3}
        assert native_strategies._take_draw_events() == []

    def test_values_are_returned_themselves(self):
        items = [object() for _ in range(5)]
        wanted = items[3]
        got = values(st.sampled_from(items).filter(lambda x: x is wanted), 30)
        assert got and all(v is wanted for v in got)

    def test_scan_looks_at_the_first_9997_values_only(self):
        n = 20000
        condition = Counter(lambda x: x == n - 1)
        for seed in range(5):
            condition.seen.clear()
            value, data = draw_or_stop(st.sampled_from(list(range(n))).filter(condition), seed)
            assert value is StopTest or value == n - 1
            assert len(condition.seen) <= 3 + 9997
            assert all(x < 9997 for x in condition.seen[3:])

    def test_short_range_uses_the_fast_path(self):
        condition = Counter(lambda x: x == 42)
        assert set(values(st.sampled_from(range(100)).filter(condition), 20)) == {42}
        assert native_strategies._take_draw_events() == []

    def test_a_range_that_cannot_be_listed_falls_back(self):
        got = values(st.sampled_from(range(0)).filter(lambda x: True), 5)
        assert got == []
