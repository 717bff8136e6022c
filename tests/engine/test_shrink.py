"""Shrinking of failures and what a run reports about them.

The strategies here are Python objects whose ``do_draw`` draws typed choices
straight from the record, so every expected minimum follows from the choice
orders alone.
"""

import gc
import importlib
import sys
import unittest

import pytest

from qf_testing import PyStrategy as Strategy
from quorvantis_fast import _engine, given, settings, st
from quorvantis_fast.stateful import RuleBasedStateMachine, rule, run_state_machine_as_test

DELETION = "adaptive_example_deletion"
INDIVIDUAL = "minimize_individual_choices"
DUPLICATED = "minimize_duplicated_choices"
PAIRS = "redistribute_numeric_pairs"
PASSES = [DELETION, INDIVIDUAL, DUPLICATED, PAIRS]


Drawn = Strategy  # a strategy drawn with a function of the record


def integers(min_value=None, max_value=None, **kw):
    return Drawn(lambda d: d.draw_integer(min_value, max_value, **kw))


def floats(min_value=None, max_value=None):
    return Drawn(lambda d: d.draw_float(min_value, max_value, allow_nan=False))


def booleans():
    return Drawn(lambda d: d.draw_boolean(0.5))


def fixed(n, draw):
    """Exactly n draws; a record with fewer choices overruns."""
    return Drawn(lambda d: [draw(d) for _ in range(n)])


def up_to(n, draw):
    """At most n draws: stops quietly at the end of a replayed sequence."""

    def go(d):
        out = []
        try:
            for _ in range(n):
                out.append(draw(d))
        except BaseException as e:  # the record's own StopTest
            if type(e).__name__ != "StopTest":
                raise
        return out

    return Drawn(go)


def lists(element_draw, p_more=0.8):
    def go(d):
        out = []
        while d.draw_boolean(p_more):
            out.append(element_draw(d))
        return out

    return Drawn(go)


def run(test, *strategies, **kw):
    kw.setdefault("seed", 0)
    return _engine.run_native(test, list(strategies), **kw)


def only(result):
    assert result is not None and len(result) == 1
    return result[0]


def report():
    total_calls, total_shrinks, capped, passes = _engine.shrink_report()
    return {
        "calls": total_calls,
        "shrinks": total_shrinks,
        "capped": capped,
        "passes": {name: (calls, shrinks) for name, calls, shrinks in passes},
        "order": [name for name, _, _ in passes],
    }


class Calls:
    """A test wrapper that remembers every argument tuple it was called with."""

    def __init__(self, body):
        self.body = body
        self.seen = []

    def __call__(self, *args):
        self.seen.append(args)
        self.body(*args)


FALSIFIED = "Falsified on the first call but did not on a subsequent one"


def flaky_class():
    """The class the engine makes FlakyFailure instances of, as it looks it
    up: the upstream one first, then the package's."""
    for module in ("quorvantis.errors", "quorvantis_fast.errors"):
        try:
            cls = getattr(importlib.import_module(module), "FlakyFailure", None)
        except ImportError:
            continue
        if cls is not None:
            return cls
    return None


def below_1000(x):
    assert x < 1000


# ---------------------------------------------------------------------------


class TestKnownMinima:
    def test_unbounded_integer_stops_at_the_boundary(self):
        def test(x):
            assert x < 1000

        args, exc = only(run(test, integers(), max_examples=1000))
        assert args == (1000,)
        assert isinstance(exc, AssertionError)
        assert _engine.minimal_choices() == [1000]

    def test_native_strategies_reach_their_minima(self):
        # Integer bounds beyond 64 bits, bytes, a bounded float and text, as
        # the native strategies record them: no constraints dict is made for
        # the passes to read.
        def test(x, b, f, s):
            assert not (x > 10**19 and len(b) >= 2 and f >= 2.0 and len(s) >= 2)

        strategies = [_engine.integers(-(10**20), 10**20), _engine.binary(min_size=1), _engine.floats(1.5, 3),
                      _engine.text(alphabet="xyz")]
        args, _ = only(run(test, *strategies, max_examples=1000))
        assert args == (10**19 + 1, b"\0\0", 2.0, "xx")

    def test_sum_bound_leaves_a_single_minimal_element(self):
        def test(xs):
            assert sum(xs) < 1000

        args, _ = only(run(test, lists(lambda d: d.draw_integer(0, 10**6)), max_examples=1000))
        (xs,) = args
        assert xs == [1000]

    def test_equal_integers_are_lowered_together(self):
        # The weight makes both draws 500 on most examples; lowering one of
        # them alone breaks the equality, so only the pair can shrink.
        def test(x, y):
            assert not (x == y and x >= 10)

        pair = integers(0, 1000, weights={500: 0.9})
        args, _ = only(run(test, pair, pair))
        assert args == (10, 10)
        assert report()["passes"][DUPLICATED][1] >= 1

    def test_string_deletes_characters_before_replacing_them(self):
        alphabet = _engine.IntervalSet(((ord("a"), ord("z")),))
        first = alphabet.char_in_shrink_order(0)

        def body(s):
            assert len(s) != 2

        test = Calls(body)
        strat = Drawn(lambda d: d.draw_string(alphabet, min_size=0, max_size=20))
        args, _ = only(run(test, strat, max_examples=1000))
        assert args == (first * 2,)

        start = next(i for i, (s,) in enumerate(test.seen) if len(s) == 2)
        (s0,) = test.seen[start]
        # The replay check and the first round's head replay run s0 again;
        # removing the one choice overruns without a call. Then each
        # character is deleted in turn, and only then replaced, the first
        # replacement being the start of the shrink order.
        after = [s for (s,) in test.seen[start + 1 : start + 6]]
        assert after[:4] == [s0, s0, s0[1], s0[0]]
        replaced = after[4]
        assert len(replaced) == 2 and replaced != s0
        assert [a == b for a, b in zip(replaced, s0)].count(False) == 1
        assert first in replaced

    @pytest.mark.parametrize("gap, reachable", [(8, True), (9, False)])
    def test_pair_within_reach_goes_to_its_simplest_values_together(self, gap, reachable):
        # Lowering either integer alone flips only one side of the equality;
        # setting both to 0 keeps it, but only for nodes at most 8 apart.
        def test(flag, xs):
            assert not (flag and (xs[0] > 0) == (xs[gap] > 1))

        ints = fixed(10, lambda d: d.draw_integer(0, 100))
        args, _ = only(run(test, booleans(), ints, max_examples=1000))
        flag, xs = args
        assert flag is True
        if reachable:
            assert xs == [0] * 10
        else:
            assert xs[0] == 1 and xs[gap] == 2
            assert xs[1:gap] == [0] * (gap - 1)
        assert (report()["passes"][PAIRS][1] >= 1) == reachable


class TestPassAccounting:
    def test_deletion_over_ten_choices_none_accepted(self):
        def test(xs):
            raise ValueError

        only(run(test, fixed(10, lambda d: d.draw_boolean(0.5))))
        r = report()
        assert r["passes"][DELETION] == (3 + 7 + 8 + 9 + 10, 0)
        assert r["order"] == PASSES
        assert r["calls"] == 37 and r["shrinks"] == 0 and not r["capped"]

    def test_deletion_over_ten_choices_all_accepted(self):
        def test(xs):
            raise ValueError

        only(run(test, up_to(10, lambda d: d.draw_boolean(0.5))))
        r = report()
        # The first eight go, then the remaining two.
        assert r["passes"][DELETION] == (2, 1)
        assert r["calls"] == 2 and r["shrinks"] == 1
        assert _engine.minimal_choices() == []

    def test_empty_choice_sequence(self):
        def test():
            raise ValueError

        args, exc = only(run(test))
        assert args == () and isinstance(exc, ValueError)
        assert _engine.shrink_report() == (0, 0, False, [(name, 0, 0) for name in PASSES])
        assert _engine.minimal_choices() == []

    def test_max_shrinks_zero_returns_the_failure_unchanged(self):
        test = Calls(below_1000)
        args, _ = only(run(test, integers(), max_examples=1000, max_shrinks=0))
        calls_in_generation = len(test.seen)
        assert args == test.seen[-1]
        assert args[0] >= 1000
        assert _engine.shrink_report() == (0, 0, True, [])
        assert _engine.minimal_choices() == [args[0]]
        # Neither a replay check nor a shrink trial called the test.
        assert calls_in_generation == len(test.seen)

    def test_max_shrinks_bounds_the_successful_rounds(self):
        # Every non-zero draw before the last can drop to 0 in a round of its
        # own, so an unbounded shrink makes more than three rounds progress.
        def test(xs):
            assert xs[-1] == 0

        strat = fixed(6, lambda d: d.draw_integer(0, 100))
        uncapped = only(run(test, strat, max_examples=1000))
        full = report()
        assert full["shrinks"] > 3 and not full["capped"]
        capped = only(run(test, strat, max_examples=1000, max_shrinks=3))
        r = report()
        assert r["shrinks"] == 3 and r["capped"]
        assert uncapped[0] != capped[0]
        assert list(capped[0][0]) == _engine.minimal_choices()  # reported as stored, though cut short

    def test_head_replay_that_passes_keeps_the_input(self):
        state = {"failed": False}

        def test(x):
            if not state["failed"] and x > 0:
                state["failed"] = True
                raise ValueError(x)

        args, exc = only(run(test, integers(0, 100)))
        assert exc.args == args
        assert _engine.shrink_report() == (0, 0, False, [])
        assert _engine.minimal_choices() == [args[0]]

    def test_results_are_per_thread_and_reset_by_a_passing_run(self):
        import threading

        only(run(below_1000, integers(), max_examples=1000))
        seen = []
        t = threading.Thread(target=lambda: seen.append(
            (_engine.shrink_report(), _engine.minimal_choices())))
        t.start()
        t.join()
        assert seen == [((0, 0, False, []), [])]
        assert _engine.minimal_choices() == [1000]
        assert run(lambda x: None, integers(0, 3)) is None
        assert (_engine.shrink_report(), _engine.minimal_choices()) == ((0, 0, False, []), [])

class TestErrorsAndNesting:
    def test_error_in_a_trial_ends_the_run_and_keeps_the_report(self):
        class Boom(Exception):
            pass

        def draw(d):
            # 0 (the simplest example), then 5000; the first midpoint that
            # the shrink of 5000 tries is 2500.
            x = d.draw_integer(0, 10**6, weights={5000: 0.999})
            if x == 2500:
                raise Boom  # raised while drawing: passed on, not a failure
            return x

        def test(x):
            assert x < 1000

        with pytest.raises(Boom):
            run(test, Drawn(draw))
        # The deletion pass had finished (one trial, which overran); the
        # value pass was cut short and is not recorded.
        assert _engine.shrink_report() == (1, 0, False, [(DELETION, 1, 0)])

    def test_nested_run_inside_a_trial_leaves_the_shrink_intact(self):
        def inner(x):
            pass

        def test(xs):
            assert run(inner, integers(0, 3)) is None
            raise ValueError

        only(run(test, fixed(10, lambda d: d.draw_boolean(0.5))))
        r = report()
        assert r["passes"][DELETION] == (37, 0) and r["order"] == PASSES

    def test_runs_leave_no_references_behind(self):
        strat = integers()
        gc.collect()  # cycles left by earlier tests hold the test function too
        before = (sys.getrefcount(strat), sys.getrefcount(below_1000))
        for _ in range(20):
            only(run(below_1000, strat, max_examples=1000))
        del _
        gc.collect()
        assert (sys.getrefcount(strat), sys.getrefcount(below_1000)) == before


class TestCandidatesThatCannotBeSimpler:
    """A candidate the record would map back onto the current value (or
    onto a value later in the order) is not tried, so no round claims
    progress without making any."""

    def test_float_with_a_lower_bound_above_zero(self):
        def test(x):
            raise ValueError

        args, _ = only(run(test, floats(1.5, None)))
        # 2.0 is the permitted float earliest in the float order.
        assert args == (2.0,)
        r = report()
        assert r["shrinks"] == 1 and r["calls"] < 150

    def test_float_in_a_narrow_range_does_not_oscillate(self):
        def test(x):
            raise ValueError

        args, _ = only(run(test, floats(0.1, 1.0)))
        assert args == (1.0,)
        assert report()["shrinks"] == 1

    def test_string_at_its_minimum_size(self):
        alphabet = _engine.IntervalSet(((ord("a"), ord("z")),))
        strat = Drawn(lambda d: d.draw_string(alphabet, min_size=2, max_size=5))

        def test(s):
            raise ValueError

        args, _ = only(run(test, strat))
        assert args == (alphabet.char_in_shrink_order(0) * 2,)
        assert report()["shrinks"] == 0

    @pytest.mark.parametrize("make", [lambda: _engine.lists(_engine.integers(), min_size=2),
                                      lambda: _engine.dictionaries(_engine.integers(), _engine.integers(), min_size=2)])
    def test_forced_choices_taken_back_are_no_progress(self, make):
        # Lowering a forced "one more element?" replays the same choices: no
        # progress in any round, nor when the stored minimum is shrunk again.
        def test(xs):
            assert all(v <= 10 for v in (xs.values() if isinstance(xs, dict) else xs))
        db = _engine.InMemoryExampleDatabase()
        for stored in (False, True):
            (xs,), _ = only(run(test, make(), seed=1, database=db, db_key=b"k"))
            assert sorted(xs.values() if isinstance(xs, dict) else xs) == [0, 11]
            r = report()
            assert r["passes"][DUPLICATED][1] == 0 and (r["shrinks"] == 0 or not stored)


class TestFailureReporting:
    @staticmethod
    def two_kinds(x):
        if x >= 1000:
            raise ValueError(x)
        if x >= 10:
            raise TypeError(x)

    # With weight 0.999 the first generated example is 5000: a ValueError
    # whose shrink passes through values that raise TypeError.
    STRAT = staticmethod(lambda: integers(0, 10000, weights={5000: 0.999}))

    def test_slipped_failure_reported_after_the_primary(self):
        result = run(self.two_kinds, self.STRAT(), report_multiple_bugs=True)
        assert [(a, type(e)) for a, e in result] == [((1000,), ValueError), ((10,), TypeError)]
        assert _engine.minimal_choices() == [1000]

    def test_smallest_failure_chosen_without_multiple_bugs(self):
        args, exc = only(run(self.two_kinds, self.STRAT()))
        # Same length; the slipped sequence [10] has the smaller key.
        assert args == (10,) and isinstance(exc, TypeError)
        # The primary's sequence is still the one published.
        assert _engine.minimal_choices() == [1000]

    def test_inconsistent_replay_is_flaky(self):
        calls = []

        def test(x):
            calls.append(x)
            if len(calls) == 1:
                raise ValueError("first")
            raise TypeError("second")

        with pytest.raises(BaseException) as info:
            run(test, integers(0, 10))
        err = info.value
        assert err.args[0] == "Inconsistent results from replaying a test case!"
        flaky = flaky_class()
        if flaky is not None:
            assert isinstance(err, flaky)
            assert [type(e) for e in err.exceptions] == [ValueError, TypeError]
        else:
            assert type(err) is AssertionError

    @pytest.mark.parametrize("then, says, held", [
        (None, FALSIFIED, [TypeError]),
        (ConnectionError, "test_fetch failed with TypeError, but when the example was run again it failed "
                          "with another error, ConnectionError", [TypeError, ConnectionError]),
    ])
    def test_shrunk_failure_that_stops_failing_is_reported_flaky(self, then, says, held):
        # A TypeError value fails only the first time it is seen, so the
        # TypeError failure's head replay and its confirmation both pass, or
        # fail otherwise (a timeout, then a dropped connection): both kept.
        seen = set()

        def test(x):
            if x >= 1000:
                raise ValueError(x)
            if x >= 10 and x not in seen:
                seen.add(x)
                raise TypeError(x)
            if x >= 10 and then:
                raise then(x)

        result = run(test, integers(0, 10000), report_multiple_bugs=True, max_examples=1000,
                     test_name="test_fetch")
        by_kind = {type(e).__name__: (a, e) for a, e in result}
        assert by_kind["ValueError"][0] == (1000,)
        flaky = [e for _, e in result if e.args[0] == says]
        assert len(flaky) == 1
        if flaky_class() is not None:
            assert [type(e) for e in flaky[0].exceptions] == held

    def test_several_failures_publish_no_minimal_choices(self):
        result = run(self.two_kinds, integers(0, 10000), report_multiple_bugs=True,
                     max_examples=1000)
        kinds = sorted(type(e).__name__ for _, e in result)
        assert kinds == ["TypeError", "ValueError"]
        assert dict((type(e), a) for a, e in result) == {ValueError: (1000,), TypeError: (10,)}
        assert _engine.minimal_choices() == []


class DictDatabase:
    def __init__(self):
        self.data = {}

    def fetch(self, key):
        return list(self.data.get(key, []))

    def save(self, key, value):
        values = self.data.setdefault(key, [])
        if value not in values:
            values.append(value)

    def delete(self, key, value):
        if value in self.data.get(key, []):
            self.data[key].remove(value)


class TestDatabase:
    def test_minimal_failure_is_saved_and_replayed_first(self):
        db = DictDatabase()
        test = Calls(below_1000)
        first = only(run(test, integers(), database=db, db_key=b"k", max_examples=1000))
        assert first[0] == (1000,)
        assert [_engine.choices_from_bytes(v) for v in db.data[b"k"]] == [(1000,)]

        test.seen.clear()
        second = only(run(test, integers(), database=db, db_key=b"k", seed=12345))
        # Replayed, then a shrink that finds nothing simpler: no generation.
        assert test.seen[:2] == [(1000,), (1000,)] and max(test.seen) == (1000,)
        assert second[0] == (1000,)
        assert _engine.minimal_choices() == [1000]
        assert report()["shrinks"] == 0
        assert [_engine.choices_from_bytes(v) for v in db.data[b"k"]] == [(1000,)]

    def test_an_interrupted_shrink_keeps_the_failure_it_started_from(self):
        # After its first failure the search (seed 5) finds a simpler one, which the
        # shrink starts from; its first replay there (the third run) is interrupted.
        db, failing = DictDatabase(), []

        def test(xs):
            if len(xs) >= 3:
                failing.append(xs)
                raise KeyboardInterrupt if failing.count(xs) == 3 else AssertionError

        pytest.raises(KeyboardInterrupt, run, test, _engine.lists(_engine.integers(0, 1000)), seed=5,
                      database=db, db_key=b"k", report_multiple_bugs=True)
        stored = [_engine.choices_from_bytes(v)[1::2] for v in db.data[b"k"]]
        assert len(failing[0]) > len(failing[-1]) and stored == [tuple(failing[-1])]

    def test_database_whose_save_raises_keeps_the_result(self):
        class Broken(DictDatabase):
            def save(self, key, value):
                raise OSError("disk full")

        def test(x):
            assert x < 1000

        args, _ = only(run(test, integers(), database=Broken(), db_key=b"k",
                           max_examples=1000))
        assert args == (1000,)

    def test_slipped_failures_are_saved_too(self):
        db = DictDatabase()
        run(TestFailureReporting.two_kinds, TestFailureReporting.STRAT(), database=db,
            db_key=b"k", report_multiple_bugs=True)
        saved = sorted(_engine.choices_from_bytes(v) for v in db.data[b"k"])
        assert saved == [(10,), (1000,)]


class TestSkipsOnceAFailureIsFound:
    # 1000 <= x < 5000, met (seed 0) after a failure is found, is no example
    # of it: the failure is reported and stored, in a test and in a machine.
    @pytest.mark.parametrize("leave", [pytest.skip.Exception, unittest.SkipTest, SystemExit])
    def test_the_failure_found_is_reported_and_stored(self, leave):
        def check(x):
            if 1000 <= x < 5000:
                raise leave("met while shrinking")
            assert x < 1000

        class Adder(RuleBasedStateMachine):
            @rule(x=st.integers(0, 10**6))
            def add(self, x):
                check(x)

        db = DictDatabase()
        for run_it, shown in [(settings(database=db, seed=0)(given(st.integers(0, 10**9))(check)), "check(x=5000)"),
                              (lambda: run_state_machine_as_test(Adder, settings=settings(database=None, seed=0)),
                               "state.add(x=5000)")]:
            with pytest.raises(BaseException) as info:  # a skip too, not to pass for skipped
                run_it()
            assert info.type is AssertionError and any(shown in n for n in info.value.__notes__)
        assert [_engine.choices_from_bytes(v)[-1] for [v] in db.data.values()] == [5000]

    def test_session_exit_ends_the_run_at_once(self):
        test = Calls(lambda x: pytest.exit("stop") if x >= 1000 else None)
        with pytest.raises(pytest.exit.Exception):
            run(test, TestFailureReporting.STRAT())
        assert test.seen == [(0,), (5000,)]
