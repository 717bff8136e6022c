"""What a failing given() test reports, and how it is reproduced."""

import textwrap
import time

import pytest

from qf_testing import key_here, run_pytest
from quorvantis_fast import _engine, HealthCheck, Verbosity, given, note, reproduce_failure, settings, st
from quorvantis_fast.database import InMemoryExampleDatabase
from quorvantis_fast.errors import DeadlineExceeded, Flaky, FlakyBaseFailure, FlakyFailure, InvalidArgument
from quorvantis_fast.stateful import RuleBasedStateMachine, rule, run_state_machine_as_test

QUIET_DB = settings(database=None, seed=1)


class TestReport:
    def test_arguments_as_drawn_then_interactive_draws_then_reproduction_line(self):
        @settings(QUIET_DB)
        @given(st.lists(st.integers()), st.data())
        def prop(xs, data):
            n = data.draw(st.integers(0, 10), label="n")
            note(f"noted {n}")
            xs.append("MUTATED")
            assert n < 3

        with pytest.raises(AssertionError) as info:
            prop()
        *notes, line = info.value.__notes__
        assert notes == ["Falsifying example: prop(xs=[], data=data(...))", "Draw 1 (n): 3", "noted 3"]
        assert line.startswith("@reproduce_failure('") and line.endswith("')")

    def test_reproduction_line_replays_that_example_in_one_call(self):
        def make(fixed):
            calls = []

            @given(st.integers(), st.text())
            def prop(x, s):
                calls.append((x, s))
                assert fixed or x < 5

            return prop, calls

        found, _ = make(fixed=False)
        with pytest.raises(AssertionError) as info:
            settings(QUIET_DB)(found)()
        blob = info.value.__notes__[-1][len("@reproduce_failure('"):-2]

        again, calls = make(fixed=False)
        with pytest.raises(AssertionError) as replayed:
            reproduce_failure(blob)(again)()
        assert calls == [(5, "")]
        assert replayed.value.__notes__ == info.value.__notes__

        repaired, calls = make(fixed=True)
        with pytest.raises(Flaky, match="does not reproduce"):
            reproduce_failure(blob)(repaired)()
        assert calls == [(5, "")]

    @pytest.mark.parametrize("blob", ["not base64!", "oA==", "QQ", 12])
    def test_a_blob_that_does_not_decode_is_refused(self, blob):
        with pytest.raises(InvalidArgument, match="does not decode"):
            reproduce_failure(blob)

    def test_reproduce_failure_goes_above_given(self):
        with pytest.raises(InvalidArgument, match="above @given"):
            given(st.integers())(reproduce_failure("QQA=")(lambda x: None))

    def test_a_failure_that_passes_when_replayed_is_flaky(self):
        seen = set()

        @settings(QUIET_DB)
        @given(st.integers(0, 1000))
        def prop(x):
            if x not in seen:
                seen.add(x)
                raise ValueError("fails once per value")

        with pytest.raises(FlakyFailure, match="does not reproduce") as info:
            prop()
        (original,) = info.value.exceptions
        assert isinstance(original, ValueError)
        assert original.__notes__ == ["Falsifying example: prop(x=0)"]

    # Found by the engine's replay check, by its replay of a shrunk failure,
    # or by the runner's replay (the engine makes none without shrinking).
    @pytest.mark.parametrize("multiple_bugs, max_shrinks", [(False, 500), (True, 500), (False, 0)])
    def test_an_example_that_fails_otherwise_when_replayed_is_shown(self, multiple_bugs, max_shrinks):
        failed = []

        @settings(database=None, seed=1, report_multiple_bugs=multiple_bugs, max_shrinks=max_shrinks)
        @given(st.integers(11, 100))
        def prop(x):
            failed.append(x)
            raise (ConnectionError if len(failed) == 1 else ValueError)(x)

        flaky = pytest.raises(ExceptionGroup, prop).value
        flaky = flaky.exceptions[0] if multiple_bugs else flaky
        assert [type(e) for e in flaky.exceptions] == [ConnectionError, ValueError]
        assert flaky.__notes__ == [f"Falsifying example: prop(x={failed[0]})"]

    @pytest.mark.parametrize("seed", [6, 13, 26])  # each once ranked two failures of mixed kinds
    def test_of_two_failures_of_different_kinds_the_users_error_is_reported(self, seed):
        @settings(report_multiple_bugs=False, database=None, seed=seed)
        @given(st.dictionaries(st.text("ab", max_size=2), st.lists(st.integers(0, 10), max_size=3), max_size=4))
        def prop(d):
            size = sum(1 + len(xs) + sum(xs) for xs in d.values())
            if size >= 3: raise (ValueError if size % 2 else KeyError)()
        pytest.raises((ValueError, KeyError), prop)

    @pytest.mark.parametrize("seed", range(30))
    def test_the_smallest_failing_example_seen_is_the_one_reported(self, seed):
        failing = []
        @settings(database=None, seed=seed)
        @given(st.integers(0, 1000))
        def t(x):
            failing.extend([x] if x % 7 == 3 else [])
            assert x % 7 != 3
        assert pytest.raises(AssertionError, t).value.__notes__[0] == f"Falsifying example: t(x={min(failing)})"

    def test_of_stored_failures_of_several_origins_the_simplest_is_reported(self):
        db = InMemoryExampleDatabase()

        @settings(database=db, report_multiple_bugs=False)
        @given(st.integers(-10, 10))
        def prop(n):
            assert n != 3, "another origin"
            assert n != -1  # the simpler, though its bytes sort after those of 3

        for n in (3, -1):
            db.save(key_here(prop), _engine.choices_to_bytes([n]))
        assert "Falsifying example: prop(n=-1)" in pytest.raises(AssertionError, prop).value.__notes__


def test_the_users_repr_str_and_add_note_never_decide_the_outcome(capsys):
    half = type("Half", (), {"__repr__": lambda self: self.missing})
    unprintable = type("Unprintable", (Exception,), {"__str__": lambda self: 1 / 0})
    unnoted = type("Unnoted", (Exception,), {"add_note": lambda self, note: 1 / 0})

    def run(strategy, error, verbosity):
        @settings(QUIET_DB, verbosity=verbosity)
        @given(strategy)
        def prop(x):
            if hasattr(x, "draw"):
                x.draw(st.builds(half))
            if error:
                raise error
        prop()

    run(st.builds(half), None, Verbosity.verbose)
    assert "Trying example: prop(x=<unrepresentable Half object: AttributeError(" in capsys.readouterr().out
    for strategy, error, verbosity in [(st.builds(half), AssertionError, Verbosity.normal),
                                       (st.data(), AssertionError, Verbosity.normal),
                                       (st.none(), unprintable, Verbosity.verbose),
                                       (st.none(), unnoted, Verbosity.normal)]:
        with pytest.raises(error) as info:
            run(strategy, error, verbosity)
        assert info.value.__notes__[0].startswith("Falsifying example: prop(x=")


Cancelled = type("Cancelled", (BaseException,), {})  # a framework's cancellation: no Exception


def test_a_base_exception_raised_once_is_held_by_a_flaky_error():
    def run(error, also=None, seed=1):
        once = [error]

        @settings(database=None, seed=seed)
        @given(st.integers())
        def prop(x):
            if once:
                raise once.pop()  # on the first call only
            if also and x < -5:
                raise also()
        return pytest.raises(BaseException, prop).value

    flaky = run(GeneratorExit())  # found flaky by the runner's last replay
    assert type(flaky) is FlakyBaseFailure and [type(e) for e in flaky.exceptions] == [GeneratorExit]
    group = run(Cancelled(), ValueError, seed=3)  # by the engine, one of two failures
    assert sorted(type(e).__name__ for e in group.exceptions) == ["FlakyBaseFailure", "ValueError"]


@pytest.mark.parametrize("first", [AssertionError, GeneratorExit])
def test_a_replay_that_raises_no_exception_shows_the_example_it_replayed(first):
    seen = set()  # later examples fail alike, none simpler than the first
    @settings(database=None, seed=1)
    @given(st.integers(0, 1000))
    def prop(n):
        if n > 50:  # run again (by the engine's replay check), a failure is cancelled
            raise Cancelled(n) if n in seen or seen.add(n) else first(n)

    flaky = pytest.raises(FlakyBaseFailure, prop).value
    found, replayed = flaky.exceptions
    assert found.args == replayed.args and flaky.__notes__ == [f"Falsifying example: prop(n={found.args[0]})"]


@pytest.mark.parametrize("error", [SystemExit, Cancelled])
@pytest.mark.parametrize("place", ["draw note", "verbose log", "step text"])
def test_an_exit_or_cancellation_from_a_repr_while_shrinking_passes_out_at_once(place, error, capsys):
    failed, raised = [], []

    class Shown(int):
        def __repr__(self):
            if failed:
                raised.append(int(self))
                raise error()
            return "Shown()"

    def check(n):
        if n >= 10:
            failed.append(n)
            raise ValueError  # not an assert: pytest would show the repr

    drawn, verbose = st.integers().map(Shown), settings(QUIET_DB, verbosity=Verbosity.verbose)
    machine = type("Machine", (RuleBasedStateMachine,), {"step": rule(n=drawn)(lambda self, n: check(n))})
    run = {"draw note": settings(QUIET_DB)(given(st.data())(lambda data: check(data.draw(drawn)))),
           "verbose log": verbose(given(drawn)(check)),
           "step text": lambda: run_state_machine_as_test(machine, settings=verbose)}[place]
    pytest.raises(error, run)
    assert len(raised) == 1


def test_neighbouring_seeds_try_different_examples():
    def examples(seed):
        seen = []

        @settings(database=None, seed=seed)
        @given(st.tuples(st.integers(0, 2**62), st.integers(0, 2**62)))
        def prop(pair):
            seen.append(pair)

        prop()
        return seen

    first = examples(10)
    assert examples(10) == first
    assert len(set(first) & set(examples(11))) < 10  # 98 of 100 when example i used seed + i


class TestMisuse:
    @pytest.mark.parametrize("thing, hint", [
        (5, ""), (int, "st.from_type(int)"), (st.integers, "it must be called: integers(...)"),
    ])
    def test_a_non_strategy_is_refused_by_name(self, thing, hint):
        refused = given(x=thing)(lambda x: None)  # refused when run, not when decorated
        with pytest.raises(InvalidArgument, match="x=.* is not a strategy") as info:
            refused()
        assert hint in str(info.value)

    def test_tests_that_cannot_run_their_body_are_refused(self):
        async def coroutine_test(x):
            assert False

        def generator_test(x):
            yield
            assert False

        with pytest.raises(InvalidArgument, match="async function"):
            given(st.integers())(coroutine_test)()
        with pytest.raises(InvalidArgument, match="generator function"):
            given(st.integers())(generator_test)()

    def test_a_test_that_returns_a_value_fails(self):
        @settings(QUIET_DB)
        @given(st.integers())
        def prop(x):
            return x == x  # an assert forgotten

        with pytest.raises(InvalidArgument, match="returned True.*assert") as info:
            prop()
        assert not hasattr(info.value, "__notes__")  # a misuse, raised as it is

    def test_a_usage_error_inside_a_test_is_raised_as_it_is_and_not_stored(self):
        db = InMemoryExampleDatabase()
        prop = settings(database=db)(given(st.data())(lambda data: data.draw(5)))
        with pytest.raises(InvalidArgument, match="Expected a SearchStrategy") as info:
            prop()
        assert not hasattr(info.value, "__notes__") and db.fetch(key_here(prop)) == []

    def test_a_usage_error_met_only_while_shrinking_keeps_the_failure(self):
        db = InMemoryExampleDatabase()

        @settings(database=db)
        @given(st.integers(0, 10**6))
        def prop(n):
            if n == 39:
                st.integers(5, 1).validate()  # a misuse on this input only
            assert n < 40

        assert "Falsifying example: prop(n=40)" in pytest.raises(AssertionError, prop).value.__notes__
        assert len(db.fetch(key_here(prop))) == 1

SLOW = 0.25


class TestDeadline:
    # Far enough above the deadline, and the deadline far enough above a
    # trivial example, that a loaded machine cannot change the outcome.
    def test_a_slow_example_fails_and_shrinks(self):
        @settings(QUIET_DB, deadline=100)
        @given(st.integers(0, 100))
        def prop(x):
            if x >= 10:
                time.sleep(SLOW)

        with pytest.raises(DeadlineExceeded, match="exceeds the deadline of 100.00 ms") as info:
            prop()
        assert info.value.__notes__[0] == "Falsifying example: prop(x=10)"
        assert info.value.runtime_ms >= SLOW * 1000

    def test_an_example_slow_only_once_is_flaky(self):
        slow = [True]

        @settings(QUIET_DB, deadline=100)
        @given(st.integers())
        def prop(x):
            if slow:
                slow.pop()
                time.sleep(SLOW)

        with pytest.raises(FlakyFailure, match="deadline") as info:
            prop()
        assert [type(e) for e in info.value.exceptions] == [DeadlineExceeded]

    def test_draw_time_does_not_count(self):
        @settings(QUIET_DB, deadline=100, max_examples=3, suppress_health_check=[HealthCheck.too_slow])
        @given(st.integers().map(lambda x: time.sleep(SLOW) or x), st.data())
        def prop(x, data):
            data.draw(st.integers().map(lambda x: time.sleep(SLOW) or x))

        prop()


class TestVerbosity:
    def failing(self, verbosity):
        @settings(QUIET_DB, verbosity=verbosity)
        @given(st.integers())
        def prop(x):
            assert x < 1000

        with pytest.raises(AssertionError):
            prop()

    def test_verbose_prints_each_example_and_shrink(self, capsys):
        self.failing(Verbosity.verbose)
        lines = capsys.readouterr().out.splitlines()
        assert lines[0] == "Trying example: prop(x=0)"
        assert "Shrunk example to prop(x=1000)" in lines
        assert sum(line.startswith("Trying example: ") for line in lines) > 10
        assert len(set(lines)) == len(lines)  # shrinking tries some examples again

    @pytest.mark.parametrize("verbosity", [Verbosity.quiet, Verbosity.normal])
    def test_otherwise_nothing_is_printed(self, capsys, verbosity):
        self.failing(verbosity)
        assert capsys.readouterr() == ("", "")


def test_pytest_shows_the_users_frames_finds_fixtures_beside_mocks_and_places_tests(tmp_path):
    source = textwrap.dedent("""
        import functools, os, pytest
        from unittest import mock
        from quorvantis_fast import given, settings, st
        cwd, pid = mock.patch("os.getcwd", return_value="/cwd"), mock.patch("os.getpid", return_value=-1)

        @settings(database=None)
        @given(st.integers())
        def test_small(x):
            assert x < 10, "too big"
        @(lambda f: functools.wraps(f)(lambda *a, **k: f(*a, **k)))  # any wrapper
        @given(st.none())
        @cwd
        def test_logged(getcwd, tmp_path, x):
            assert os.getcwd() == "/cwd" and tmp_path.is_dir()
        @pid
        @given(st.none())
        @cwd
        def test_around(getpid, getcwd, tmp_path, x):
            assert (os.getcwd(), os.getpid(), getpid.return_value) == ("/cwd", -1, -1)
        @given(st.none())
        @mock.patch.multiple("os", getcwd=mock.DEFAULT)
        def test_multiple(getcwd, tmp_path, x):
            assert os.getcwd is getcwd and tmp_path.is_dir()
        @pytest.mark.skip(reason="marked")
        @given(st.none())
        def test_skipped(x): pass
    """)
    (tmp_path / "test_user.py").write_text(source)
    out = run_pytest(tmp_path, "-rs", "test_user.py").stdout
    assert "1 failed, 3 passed, 1 skipped" in out, out
    assert 'assert x < 10, "too big"' in out
    assert "Falsifying example: test_small(x=10)" in out
    assert "@reproduce_failure('" in out
    assert "core.py" not in out and "state.example" not in out
    line = source.splitlines().index('@pytest.mark.skip(reason="marked")') + 1
    assert f"SKIPPED [1] test_user.py:{line}: marked" in out


def test_pytest_hides_the_runner_in_state_machines_and_misuse(tmp_path):
    (tmp_path / "test_machine.py").write_text(textwrap.dedent("""
        from quorvantis_fast import settings, st
        from quorvantis_fast.stateful import RuleBasedStateMachine, invariant, rule

        class Counter(RuleBasedStateMachine):
            n = 0

            @rule(k=st.integers(0, 3))
            def add(self, k):
                assert k < 3, "rule broke"
                self.n += k

            @invariant()
            def small(self):
                assert self.n < 5, "invariant broke"

        class TestCounter(Counter.TestCase):
            settings = settings(database=None)
    """))
    (tmp_path / "test_misuse.py").write_text(textwrap.dedent("""
        import pytest
        from quorvantis_fast import given, st

        @given(int)
        def test_typed(x):
            pass

        @pytest.mark.parametrize("n", [1, 2])
        @given(st.integers)
        def test_parametrized(tmp_path, n, x):
            pass
        @pytest.mark.parametrize("limit", [1, 2])
        @given(xx=st.integers())
        def test_param_last(x, limit): pass
        @given(x=st.integers())
        def test_it(y, tmp_path): pass
    """))
    (tmp_path / "test_patched.py").write_text(textwrap.dedent("""
        import os
        from unittest import mock
        from quorvantis_fast import given, st

        patch = mock.patch("os.getcwd", return_value="/patched")
        test_function = given(st.none())(patch(lambda getcwd, tmp_path, x: None))

        class TestSuite:  # the mocks that patches add are no fixtures
            @given(x=st.none())
            @patch
            @mock.patch("os.getpid", return_value=-1)
            def test_method(self, getpid, getcwd, x):
                assert (os.getcwd(), os.getpid()) == ("/patched", -1)
    """))
    done = run_pytest(tmp_path, ".")
    out = done.stdout
    assert done.returncode == 1 and "1 failed, 2 passed, 6 errors" in out, out + done.stderr
    assert "broke" in out and "state = Counter()" in out
    assert "st.from_type(int)" in out and "it must be called: integers(...)" in out
    assert "test_param_last has no argument 'xx'" in out and "test_it has no argument 'x'" in out
    assert "stateful.py" not in out and "core.py" not in out, out
    (tmp_path / "invalid_config.py").write_text("from quorvantis_fast import settings\nsettings(max_examples=0)\n")
    out = run_pytest(tmp_path, "invalid_config.py").stdout  # an error while collecting
    assert "max_examples=0 must be an integer from 1 to" in out and "settings.py" not in out, out
