import unittest

import pytest

from quorvantis_fast._engine import BrindlemarData, reproduce_native, run_native, set_use_py_clock
from quorvantis_fast.errors import StopTest, UnsatisfiedAssumption

from qf_testing import PyStrategy as Strategy, py_integers as integers


class TestDrawErrors:
    def test_note_names_the_argument(self):
        def bad(data):
            raise ValueError("bad draw")

        with pytest.raises(ValueError) as info:
            run_native(lambda a, b: None, [integers(0, 3), Strategy(bad, "bad_strategy")], names=["a", "b"])
        assert info.value.__notes__ == ["while generating 'b' from bad_strategy"]

    def test_no_note_beyond_the_names(self):
        with pytest.raises(ValueError) as info:
            run_native(lambda a, b: None, [integers(0, 3), Strategy(self._raise)], names=["a"])
        assert not hasattr(info.value, "__notes__")

    def test_note_when_repr_fails(self):
        class Unprintable(Strategy):
            def __repr__(self):
                raise RuntimeError

        with pytest.raises(ValueError) as info:
            run_native(lambda a: None, [Unprintable(self._raise)], names=["a"])
        assert info.value.__notes__ == ["while generating 'a'"]

    def test_an_interrupt_from_the_repr_replaces_the_draw_error(self):
        class Interrupting(Strategy):
            def __repr__(self):
                raise KeyboardInterrupt

        with pytest.raises(KeyboardInterrupt):
            run_native(lambda a: None, [Interrupting(self._raise)], names=["a"])

    def test_draw_error_survives_the_python_clock(self, monkeypatch):
        monkeypatch.setattr("time.perf_counter", lambda: 1.0)
        set_use_py_clock(True)
        try:
            with pytest.raises(ValueError) as info:
                run_native(lambda a: None, [Strategy(self._raise, "s")], names=["a"])
        finally:
            set_use_py_clock(False)
        assert info.value.__notes__ == ["while generating 'a' from s"]

    def test_rejecting_draws_do_not_call_the_test(self):
        calls = []

        def reject(data):
            raise UnsatisfiedAssumption()

        s = Strategy(lambda d: d.draw_integer(0, 10**9))
        with pytest.raises(Exception, match="filter_too_much"):
            run_native(lambda a, b: calls.append(1), [s, Strategy(reject)], max_examples=1)
        assert calls == []

    def test_each_argument_goes_through_the_records_draw_attribute(self):
        seen = []

        def replace_draw(data):
            data.draw = lambda strategy: ("replaced", strategy)
            return data.draw_integer(0, 0)

        second = integers(0, 3)
        run_native(lambda a, b: seen.append((a, b)), [Strategy(replace_draw), second], max_examples=1)
        assert seen == [(0, ("replaced", second))]

    def test_a_draw_replaced_on_the_class_is_used(self, monkeypatch):
        from quorvantis_fast import _engine

        seen = []
        monkeypatch.setattr(BrindlemarData, "draw", lambda data, strategy: "patched")
        run_native(seen.append, [_engine.integers(0, 3)], max_examples=1)
        assert seen == ["patched"]

    @staticmethod
    def _raise(data):
        raise ValueError("bad draw")


class TestOutcomes:
    def test_own_stop_after_mark_invalid_is_a_rejection(self):
        captured = []

        def grab(data):
            captured.append(data)
            return data.draw_integer(0, 10**9)

        def test(x):
            captured[-1].mark_invalid()

        with pytest.raises(Exception, match="filter_too_much"):
            run_native(test, [Strategy(grab)], max_examples=1)

    def test_own_stop_with_valid_status_passes(self):
        captured, seen = [], []

        def grab(data):
            captured.append(data)
            return data.draw_integer(0, 10**9)

        def test(x):
            seen.append(x)
            captured[-1].conclude_test(2)

        assert run_native(test, [Strategy(grab)], max_examples=5) is None
        assert len(seen) == 5

    def test_stop_without_a_counter_is_the_ended_records_own(self):
        # A class of that name from anywhere, carrying no counter at all.
        Bare = type("StopTest", (Exception,), {})
        captured, seen = [], []

        def grab(data):
            captured.append(data)
            return data.draw_integer(0, 10**9)

        def ends_then_stops(x):
            seen.append(x)
            try:
                captured[-1].conclude_test(2)
            except StopTest:
                pass
            raise Bare()

        assert run_native(ends_then_stops, [Strategy(grab)], max_examples=5) is None
        assert len(seen) == 5

        def stops_without_ending(x):
            raise Bare()

        with pytest.raises(Bare):
            run_native(stops_without_ending, [Strategy(grab)])

    def test_stop_of_another_record_is_not_booked_as_passed(self):
        # Every record carries counter 0: a stop raised by some other
        # record must not count as this record's own.
        def test(x):
            if x > 5:
                BrindlemarData().mark_overrun()

        with pytest.raises(StopTest):
            run_native(test, [integers(0, 10**9)])

    def test_foreign_stop_counter_is_passed_on(self):
        def test(x):
            raise StopTest(12345)

        with pytest.raises(StopTest):
            run_native(test, [integers(0, 10)])

    @pytest.mark.parametrize(
        "exc",
        [
            type("Skipped", (Exception,), {})(),
            unittest.SkipTest("skip"),
            KeyboardInterrupt(),
            SystemExit(3),
        ],
    )
    def test_passed_on_unchanged(self, exc):
        def test(x):
            raise exc

        with pytest.raises(type(exc)) as info:
            run_native(test, [integers(0, 10)])
        assert info.value is exc

    def test_failure_origin_by_line(self):
        def test(x):
            if x % 2:
                raise ValueError("odd")
            raise ValueError("even")

        result = run_native(test, [integers(0, 10**9)], report_multiple_bugs=True)
        assert sorted(str(e) for _, e in result) == ["even", "odd"]

    def test_same_name_same_line_is_one_origin(self):
        classes = [type("Boom", (Exception,), {}) for _ in range(2)]

        def test(x):
            raise classes[x % 2]()

        result = run_native(test, [integers(0, 10**9)], report_multiple_bugs=True)
        assert len(result) == 1


class TestReproduce:
    def test_reproduces_a_failure(self):
        def test(x, y):
            assert x + y < 10

        args, exc = reproduce_native(test, [integers(0, 100), integers(0, 100)], [7, 5])
        assert args == (7, 5) and isinstance(exc, AssertionError)
        assert reproduce_native(test, [integers(0, 100), integers(0, 100)], [1, 2]) is None

    def test_short_sequence_overruns(self):
        assert reproduce_native(lambda x, y: 1 / 0, [integers(0, 9), integers(0, 9)], [3]) is None

    def test_errors_are_raised(self):
        def boom(x):
            raise KeyboardInterrupt

        with pytest.raises(KeyboardInterrupt):
            reproduce_native(boom, [integers(0, 9)], [1])

        def bad(data):
            raise ValueError("draw")

        with pytest.raises(ValueError) as info:
            reproduce_native(lambda x: None, [Strategy(bad)], [])
        assert not hasattr(info.value, "__notes__")

    def test_argument_errors(self):
        with pytest.raises(TypeError, match="choices"):
            reproduce_native(lambda: None, [], "abc")
        with pytest.raises(TypeError, match="strategies"):
            reproduce_native(lambda: None, 5, [])
        with pytest.raises(TypeError):
            reproduce_native(lambda: None, [])
