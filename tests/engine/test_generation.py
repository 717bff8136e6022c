import itertools

import pytest

from quorvantis_fast import _engine
from quorvantis_fast._engine import run_native
from quorvantis_fast.errors import UnsatisfiedAssumption

from qf_testing import PyStrategy as Strategy, py_booleans as booleans, py_floats as floats, py_integers as integers

LETTERS = _engine.IntervalSet([(97, 122)])


class Calls:
    """A test body that records its arguments and may fail or reject."""

    def __init__(self, fail=lambda *a: False, reject=lambda *a: False):
        self.seen = []
        self.fail = fail
        self.reject = reject

    def __call__(self, *args):
        self.seen.append(args)
        if self.reject(*args):
            raise UnsatisfiedAssumption()
        if self.fail(*args):
            raise AssertionError(args)


class TestStopRules:
    def test_no_draw_test_is_called_once(self):
        t = Calls()
        assert run_native(t, []) is None
        assert t.seen == [()]

    def test_one_boolean_is_run_twice_then_exhausted(self):
        t = Calls()
        assert run_native(t, [booleans()], max_examples=1000) is None
        assert sorted(t.seen) == [(False,), (True,)]
        assert t.seen[0] == (False,)  # the simplest example comes first

    @pytest.mark.parametrize("lo", [0, -(2**127), 2**100, 2**127 - 4])
    def test_small_integer_range_is_exhausted(self, lo):
        t = Calls()
        run_native(t, [integers(lo, lo + 3)], max_examples=1000)
        assert sorted(t.seen) == [(lo + k,) for k in range(4)]

    @pytest.mark.parametrize("lo", [2**127 - 3, -(2**127) - 1, 2**200])
    def test_bounds_beyond_128_bits_are_not_counted(self, lo):
        t = Calls()
        run_native(t, [integers(lo, lo + 3)], max_examples=30)
        assert len(t.seen) == 30

    def test_uncountable_choice_turns_tracking_off(self):
        for strategy in (integers(0, 256), integers(0, None), floats()):
            t = Calls()
            run_native(t, [strategy], max_examples=30)
            assert len(t.seen) == 30

    def test_256_values_are_still_counted(self):
        # 0..255 has a count: tracking stays on, so no path runs twice.
        t = Calls()
        run_native(t, [integers(0, 255)], max_examples=300)
        assert len(t.seen) == len(set(t.seen))

    def test_more_than_256_choices_turn_tracking_off(self):
        many = Strategy(lambda d: tuple(d.draw_boolean(0.0) for _ in range(257)))
        t = Calls()
        run_native(t, [many], max_examples=20)
        assert len(t.seen) == 20  # with tracking the same path would run once

        few = Strategy(lambda d: tuple(d.draw_boolean(0.0) for _ in range(256)))
        t = Calls()
        run_native(t, [few], max_examples=20)
        assert len(t.seen) == 1

    def test_tracking_stops_after_500001_tracked_choices(self):
        # Every example makes the same 256 choices: all but the first are
        # duplicates while tracking is on. Tracking goes off once the trie
        # has taken 500001 choices (after 1954 examples); from then on the
        # test is called until max_examples examples are valid.
        same = Strategy(lambda d: [d.draw_boolean(0.0) for _ in range(256)])
        t = Calls()
        run_native(t, [same], max_examples=250)
        assert len(t.seen) == 250

    def test_choices_the_test_makes_join_the_path(self):
        # The test is handed the record and makes one more choice: the run
        # ends once all four paths of two booleans are known.
        seen = []

        def test(first, record):
            seen.append((first, record.draw_boolean(0.5)))

        run_native(test, [booleans(), Strategy(lambda d: d)], max_examples=1000)
        assert set(seen) == set(itertools.product((False, True), repeat=2))
        assert len(seen) < 100

    def test_max_examples_counts_valid_examples(self):
        t = Calls()
        run_native(t, [integers(0, 10**9)], max_examples=37)
        assert len(t.seen) == 37

    def test_max_examples_zero_still_runs_the_simplest(self):
        t = Calls()
        run_native(t, [integers(5, 10**9)], max_examples=0)
        assert t.seen == [(5,)]

    def test_loop_bound_with_every_example_rejected(self):
        t = Calls(reject=lambda x: True)
        with pytest.raises(Exception, match="filter_too_much"):
            run_native(t, [integers(0, 10**9)], max_examples=3)
        # the simplest example, then max_examples * 10 + 100 generated ones
        assert len(t.seen) == 1 + 3 * 10 + 100

    @pytest.mark.parametrize("cap, calls", [(5, 5), (1, 2)])
    def test_invalid_cap(self, cap, calls):
        t = Calls(reject=lambda x: True)
        with pytest.raises(Exception, match="filter_too_much"):
            run_native(t, [integers(0, 10**9)], invalid_cap=cap)
        assert len(t.seen) == calls

    def test_invalid_cap_does_not_apply_once_something_passed(self):
        t = Calls(reject=lambda x: x != 0)
        run_native(t, [integers(0, 10**9)], invalid_cap=3, max_examples=5)
        assert len(t.seen) > 3

    def test_seed_wraps(self):
        a, b = Calls(), Calls()
        run_native(a, [integers(0, 10**9)], seed=2**64 - 1, max_examples=4)
        run_native(b, [integers(0, 10**9)], seed=0, max_examples=4)
        # after the simplest example: seed 2**64-1, then 0, 1, ...
        assert a.seen[2:] == b.seen[1:3]

    def test_stops_at_first_failure(self):
        t = Calls(fail=lambda x: x > 10)
        # max_shrinks=0: no replay check and no shrink call the test again.
        result = run_native(t, [integers(0, 10**9)], max_examples=1000, max_shrinks=0)
        assert len(result) == 1
        args, exc = result[0]
        assert args == t.seen[-1] and args[0] > 10
        assert isinstance(exc, AssertionError)
        assert sum(1 for (x,) in t.seen if x > 10) == 1


class TestMultipleBugs:
    def test_only_simplest_fails_stops_after_ten_calls(self):
        t = Calls(fail=lambda x: x == 0)
        result = run_native(t, [integers(0, 10**9)], report_multiple_bugs=True, max_examples=1000,
                            max_shrinks=0)
        assert len(t.seen) == 10
        assert [a for a, _ in result] == [(0,)]

    def test_distinct_origins_are_reported_in_order(self):
        def test(x):
            if x == 0:
                raise ValueError("zero")
            if x % 2:
                raise KeyError("odd")

        result = run_native(test, [integers(0, 10**9)], report_multiple_bugs=True, max_examples=1000)
        assert [type(e) for _, e in result] == [ValueError, KeyError]

    @pytest.mark.parametrize(
        "new_origins_at, calls",
        [
            # min(2 * 20, 20 + 1000)
            ((20,), 40),
            # each new origin comes before twice the previous one; after the
            # last, min(2 * 600, 20 + 1000)
            ((20, 39, 77, 150, 299, 597, 600), 1020),
        ],
    )
    def test_stop_after_failures(self, new_origins_at, calls):
        kinds = {n: type(f"Fails{n}", (Exception,), {}) for n in new_origins_at}
        seen = []

        def test(x):
            seen.append(x)
            if len(seen) in kinds:
                raise kinds[len(seen)]()

        result = run_native(test, [integers(0, 10**9)], report_multiple_bugs=True,
                            max_examples=100000, max_shrinks=0)
        assert len(result) == len(new_origins_at)
        # max_shrinks=0: no replay check and no shrink; with several failures
        # each is confirmed by one more call.
        confirmations = len(new_origins_at) if len(new_origins_at) > 1 else 0
        assert len(seen) == calls + confirmations

    # Of failures alike, the one kept is the simplest by the shrinker's
    # index, not by value ("b" before "aaa", 3 before -4).
    @pytest.mark.parametrize("strategy, fails", [
        (integers(), lambda v: v % 7 == 3),
        (Strategy(lambda data: data.draw_string(LETTERS, max_size=6)), lambda s: set(s) - {"a"}),
    ], ids=["integers", "text"])
    def test_kept_failure_is_the_simplest_by_index(self, strategy, fails):
        failing = []

        def test(v):
            if fails(v):
                failing.append(v)
                raise AssertionError

        (args, _), = run_native(test, [strategy], report_multiple_bugs=True, max_examples=300, max_shrinks=0)
        both = {"intervals": LETTERS, "min_size": 0, "min_value": None, "max_value": None, "shrink_towards": 0}
        assert args == (min(failing, key=lambda v: _engine.choice_to_index(v, both)),)

    def test_same_origin_counted_once(self):
        t = Calls(fail=lambda x: True)
        result = run_native(t, [integers(0, 10**9)], report_multiple_bugs=True)
        assert len(result) == 1


class TestHealthChecks:
    @pytest.fixture
    def fake_clock(self, monkeypatch):
        """Each perf_counter reading advances half a second."""
        ticks = itertools.count()
        monkeypatch.setattr("time.perf_counter", lambda: next(ticks) * 0.5)
        _engine.set_use_py_clock(True)
        yield
        _engine.set_use_py_clock(False)

    def test_too_slow(self, fake_clock, upstream_errors):
        mod = upstream_errors(True)
        t = Calls()
        with pytest.raises(mod.FailedHealthCheck) as info:
            run_native(t, [integers(0, 10**9)], deadline_ms=100)  # limit 1.0s
        # 0.5s per example: 0.5, 1.0 (not above the limit), 1.5
        assert len(t.seen) == 3
        assert str(info.value) == (
            "Data generation is extremely slow: Only produced 3 valid examples in 1.50 "
            "seconds of generation (HealthCheck.too_slow). Try decreasing the size of the "
            "data you're generating, or disable the health check."
        )

    def test_too_slow_falls_back_to_package_class(self, fake_clock, upstream_errors):
        from quorvantis_fast.errors import FailedHealthCheck

        upstream_errors(False)
        with pytest.raises(FailedHealthCheck):
            run_native(Calls(), [integers(0, 10**9)], deadline_ms=100)

    def test_too_slow_not_checked_when_suppressed_or_failing(self, fake_clock):
        t = Calls()
        run_native(t, [integers(0, 10**9)], deadline_ms=100, suppress_health_check=["too_slow"], max_examples=20)
        assert len(t.seen) == 20
        t = Calls(fail=lambda x: True)
        result = run_native(t, [integers(0, 10**9)], deadline_ms=100, report_multiple_bugs=True,
                            max_shrinks=0)
        assert len(result) == 1 and len(t.seen) == 10

    def test_too_slow_not_checked_once_ten_are_valid(self, fake_clock):
        t = Calls()
        run_native(t, [integers(0, 10**9)], deadline_ms=1000, max_examples=30)  # limit 5.0s
        assert len(t.seen) == 30

    @pytest.mark.parametrize("deadline_ms, calls", [(100, 3), (1000, 11), (0, 61), (-5.0, 61)])
    def test_limit_follows_deadline(self, fake_clock, deadline_ms, calls):
        # Every example rejected, so the valid count stays below 10 and the
        # check keeps running: it fires on the first sum above the limit.
        t = Calls(reject=lambda x: True)
        with pytest.raises(Exception, match="Only produced 0 valid examples") as info:
            run_native(t, [integers(0, 10**9)], deadline_ms=deadline_ms)
        assert len(t.seen) == calls
        assert f"in {calls * 0.5:.2f} seconds" in str(info.value)

    @pytest.mark.parametrize("present", [True, False])
    def test_filter_too_much(self, upstream_errors, present):
        from quorvantis_fast import errors

        mod = upstream_errors(present)
        expected = mod.FailedHealthCheck if present else errors.Unsatisfiable
        with pytest.raises(expected) as info:
            run_native(Calls(reject=lambda x: True), [integers(0, 10**9)], max_examples=2)
        assert str(info.value) == (
            "It looks like your strategy filters out a lot of data; the test was unable "
            "to find any valid examples (filter_too_much)."
        )

    @pytest.mark.parametrize("present", [True, False])
    def test_filter_too_much_suppressed(self, upstream_errors, present):
        from quorvantis_fast import errors

        mod = upstream_errors(present)
        expected = mod.Unsatisfiable if present else errors.Unsatisfiable
        with pytest.raises(expected) as info:
            run_native(
                Calls(reject=lambda x: True),
                [integers(0, 10**9)],
                max_examples=1,
                suppress_health_check=["filter_too_much"],
                test_name="test_thing",
            )
        assert str(info.value).startswith(
            "Unable to satisfy assumptions of test_thing. 111 of 111 examples failed a .filter() or assume() condition."
        )

    def test_all_rejections_overruns(self, upstream_errors):
        mod = upstream_errors(True)
        overrun = Strategy(lambda d: d.mark_overrun())
        with pytest.raises(mod.Unsatisfiable) as info:
            run_native(Calls(), [overrun], suppress_health_check=["filter_too_much"])
        # no choices are made, so the novelty trie ends the run early
        assert str(info.value) == (
            "Examples for test were too large to generate: all 2 tried ran over the size limit. "
            "Ask for smaller ones, e.g. a lower max_size for collections, or fewer draws per example."
        )

    def test_every_possible_value_rejected(self, upstream_errors):
        mod = upstream_errors(True)
        t = Calls(reject=lambda b: True)
        with pytest.raises(mod.Unsatisfiable) as info:
            run_native(t, [booleans()], max_examples=1000)
        assert str(info.value) == (
            "Unable to satisfy assumptions of test: all possible values were rejected (Unsatisfiable)."
        )
        assert sorted(t.seen) == [(False,), (True,)]

    def test_last_resort_builtins(self, upstream_errors, monkeypatch):
        import sys

        upstream_errors(False)
        monkeypatch.setitem(sys.modules, "quorvantis_fast.errors", None)

        class UnsatisfiedAssumption(Exception):  # recognised by name
            pass

        def reject(x):
            raise UnsatisfiedAssumption

        with pytest.raises(RuntimeError, match="filter_too_much"):
            run_native(reject, [integers(0, 10**9)], max_examples=1)
        with pytest.raises(AssertionError, match="all possible values were rejected"):
            run_native(reject, [booleans()])



class TestRecords:
    def test_each_example_gets_a_clean_record(self):
        seen = []

        def draw(data):
            seen.append(getattr(data, "mark", None))
            data.mark = len(seen)
            return data.draw_integer(0, 10**6)

        run_native(lambda x: None, [Strategy(draw)], max_examples=30)
        assert len(seen) > 1 and set(seen) == {None}

    def test_a_record_kept_past_its_example_stays_its_own(self):
        kept = []

        def draw(data):
            value = data.draw_integer(0, 10**6)
            kept.append((data, value))
            return value

        run_native(lambda x: None, [Strategy(draw)], max_examples=30)
        assert len(kept) > 1 and len({id(d) for d, _ in kept}) == len(kept)
        assert all(d.choices == (v,) for d, v in kept)
