import threading

import pytest

from quorvantis_fast._engine import InMemoryExampleDatabase, draw_secs, reproduce_native, run_native, set_use_py_clock

from qf_testing import PyStrategy as Strategy, py_booleans as booleans, py_integers as integers, run_python


class Executor:
    def __init__(self, log):
        self.log = log
        self.n = 0

    def setup_example(self):
        self.n += 1
        self.log.append(("setup", self.n))
        return self.n

    def teardown_example(self, token):
        self.log.append(("teardown", token))


def blocks(log):
    """Splits a log into per-example blocks: setup, test call (if any), teardown."""
    out, cur = [], []
    for entry in log:
        cur.append(entry)
        if entry[0] == "teardown":
            out.append(cur)
            cur = []
    assert cur == []
    return out


class TestExecutor:
    def test_wraps_each_example_in_order(self):
        log = []
        run_native(lambda b: log.append(("test", b)), [booleans()], executor=Executor(log))
        examples = blocks(log)
        assert examples[0] == [("setup", 1), ("test", False), ("teardown", 1)]
        for n, block in enumerate(examples, 1):
            # duplicates are wrapped too, without a test call
            assert block[0] == ("setup", n) and block[-1] == ("teardown", n)
            assert len(block) in (2, 3)
        assert sum(len(b) == 3 for b in examples) == 2

    def test_teardown_runs_after_an_error(self):
        log = []

        def test(b):
            raise KeyboardInterrupt

        with pytest.raises(KeyboardInterrupt):
            run_native(test, [booleans()], executor=Executor(log))
        assert log == [("setup", 1), ("teardown", 1)]

    def test_setup_error_ends_the_run_without_teardown(self):
        log = []

        class Failing(Executor):
            def setup_example(self):
                raise OSError("no setup")

        with pytest.raises(OSError):
            run_native(lambda b: log.append("test"), [booleans()], executor=Failing(log))
        assert log == []

    def test_without_setup_teardown_gets_none(self):
        log = []

        class TeardownOnly:
            def teardown_example(self, token):
                log.append(token)

        run_native(lambda: None, [], executor=TeardownOnly())
        assert log and all(t is None for t in log)

    @pytest.mark.parametrize("token", [(1, 2), (), ("one",)])
    def test_tuple_token_is_one_argument(self, token):
        got = []

        class Tupled:
            def setup_example(self):
                return token

            def teardown_example(self, t):
                got.append(t)

        assert run_native(lambda: None, [], executor=Tupled()) is None
        assert got and all(t is token for t in got)

    # ... over the outcome and over an ordinary error pending from the example.
    @pytest.mark.parametrize("draw", [lambda d: d.draw_integer(), lambda d: 1 / 0], ids=["passes", "draw error"])
    def test_an_interrupting_teardown_wins(self, draw):
        class Interrupting:
            def teardown_example(self, token):
                raise KeyboardInterrupt

        with pytest.raises(KeyboardInterrupt):
            run_native(lambda x: None, [Strategy(draw)], executor=Interrupting())

    def test_teardown_errors_are_dropped(self):  # but an interrupt wins ...
        class Bad:
            def teardown_example(self, token):
                raise OSError

        assert run_native(lambda: None, [], executor=Bad()) is None


class TestGuard:
    def test_nested_run_leaves_the_outer_run_intact(self):
        outer_seen, inner_results = [], []

        def inner(x):
            assert x < 3

        def outer(b):
            outer_seen.append(b)
            inner_results.append(run_native(inner, [integers(0, 10**9)], max_examples=50))

        assert run_native(outer, [booleans()], max_examples=1000) is None
        # the outer run still saw its own trie: both booleans, once each
        assert sorted(outer_seen) == [False, True]
        assert all(r is not None and len(r) == 1 for r in inner_results)

    def test_clock_switch_and_draw_time_are_restored(self):
        before = draw_secs()

        def test():
            set_use_py_clock(True)

        run_native(test, [])
        assert draw_secs() == before

        # a run that ends by raising restores all the same
        def interrupted(x):
            set_use_py_clock(True)
            raise KeyboardInterrupt

        with pytest.raises(KeyboardInterrupt):
            run_native(interrupted, [integers(0, 5)])
        assert draw_secs() == before

    def test_clock_switch_inside_a_test_does_not_leak(self, monkeypatch):
        run_native(lambda: set_use_py_clock(True), [])
        # after the run the monotonic clock is back: perf_counter is unused
        readings = []
        monkeypatch.setattr("time.perf_counter", lambda: readings.append(1) or 0.0)
        run_native(lambda x: None, [integers(0, 5)], max_examples=3)
        assert readings == []

    def test_python_clock_times_the_draws(self, monkeypatch):
        readings = iter(range(0, 1000, 2))
        monkeypatch.setattr("time.perf_counter", lambda: float(next(readings)))
        seen = []
        set_use_py_clock(True)
        try:
            run_native(lambda x: seen.append(draw_secs()), [integers(0, 10**9)], max_examples=3)

            def broken():
                raise OSError

            monkeypatch.setattr("time.perf_counter", broken)
            run_native(lambda x: seen.append(draw_secs()), [integers(0, 10**9)], max_examples=2)
        finally:
            set_use_py_clock(False)
        assert seen == [2.0, 2.0, 2.0, 0.0, 0.0]

    def test_draws_are_timed_while_too_slow_can_fire(self, monkeypatch):
        # The monotonic clock is left alone once ten examples passed; the
        # Python clock, which tests drive, is read for every example.
        seen = []
        run_native(lambda x: seen.append(draw_secs()), [integers(0, 10**9)], max_examples=30)
        assert len(seen) == 30 and seen[10:] == [0.0] * 20
        readings = iter(range(0, 1000, 2))
        monkeypatch.setattr("time.perf_counter", lambda: float(next(readings)))
        seen.clear()
        set_use_py_clock(True)
        try:
            run_native(lambda x: seen.append(draw_secs()), [integers(0, 10**9)], max_examples=30)
        finally:
            set_use_py_clock(False)
        assert seen == [2.0] * 30

    def test_draw_secs_on_a_new_thread(self):
        out = []
        t = threading.Thread(target=lambda: out.append(draw_secs()))
        t.start()
        t.join()
        assert out == [0.0]

class TestArguments:
    @pytest.mark.parametrize(
        "kwargs, exc, match",
        [
            ({"max_examples": 2**32}, OverflowError, None),
            ({"max_examples": -1}, OverflowError, None),
            ({"seed": 2**64}, OverflowError, None),
            ({"seed": "1"}, TypeError, "seed"),
            ({"report_multiple_bugs": 1}, TypeError, "report_multiple_bugs"),
            ({"names": "ab"}, TypeError, "names"),
            ({"names": [1]}, TypeError, "names"),
            ({"suppress_health_check": [None]}, TypeError, "suppress_health_check"),
            ({"db_key": "key"}, TypeError, "db_key"),
            ({"db_key": [256]}, TypeError, "db_key"),
            ({"test_name": 3}, TypeError, "test_name"),
            ({"deadline_ms": "x"}, TypeError, "deadline_ms"),
            ({"invalid_cap": 1.5}, TypeError, "invalid_cap"),
            ({"bogus": 1}, TypeError, "unexpected keyword argument 'bogus'"),
        ],
    )
    def test_bad_arguments(self, kwargs, exc, match):
        calls = []
        with pytest.raises(exc, match=match):
            run_native(lambda: calls.append(1), [], **kwargs)
        assert calls == []

    def test_strategies_must_be_a_sequence(self):
        for bad in ("ab", 5, iter([])):
            with pytest.raises(TypeError, match="strategies"):
                run_native(lambda: None, bad)

    def test_none_means_absent(self):
        log = []
        kwargs = dict(database=None, db_key=None, names=None, executor=None, suppress_health_check=None, test_name=None)
        assert run_native(lambda b: log.append(b), [booleans()], **kwargs) is None
        assert sorted(log) == [False, True]

    def test_set_use_py_clock_wants_a_bool(self):
        with pytest.raises(TypeError, match="on"):
            set_use_py_clock(1)



class TestReferences:
    def test_runs_release_what_they_hold(self):
        import sys

        strategy = integers(0, 10**9)
        marker = object()

        def test(x):
            if x % 3 == 0:
                raise ValueError(marker)

        db = InMemoryExampleDatabase()
        before = (sys.getrefcount(strategy), sys.getrefcount(test), sys.getrefcount(marker))
        for _ in range(30):
            result = run_native(test, [strategy], database=db, db_key=b"k", report_multiple_bugs=True)
            reproduce_native(test, [strategy], [3])
            del result
        assert (sys.getrefcount(strategy), sys.getrefcount(test), sys.getrefcount(marker)) == before


# A native test and native strategies run no Python code of their own, so the
# run must itself let the interpreter hand over the lock and deliver what is
# pending. Without that the interrupt arrives only after the last example.
_INTERRUPTED_RUNS = """
import ctypes, signal, threading, time
from quorvantis_fast import _engine

MAX = 2_000_000
strategies = [_engine.lists(_engine.integers())]

def interrupted_run(start_interrupt):
    seen = []
    start_interrupt(seen)
    try:
        _engine.run_native(seen.append, strategies, max_examples=MAX)
    except KeyboardInterrupt:
        return len(seen)
    return "not interrupted"

def from_another_thread(seen):
    main = threading.get_ident()

    def interrupt():
        # Polling needs the interpreter lock while the run holds it.
        while len(seen) < 1000:
            time.sleep(0.001)
        ctypes.pythonapi.PyThreadState_SetAsyncExc(
            ctypes.c_ulong(main), ctypes.py_object(KeyboardInterrupt))

    threading.Thread(target=interrupt, daemon=True).start()

def from_a_signal(seen):
    def handler(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, 0.05)

print(interrupted_run(from_another_thread), interrupted_run(from_a_signal))
"""


def test_interrupts_reach_a_run_of_native_code_promptly():
    done = run_python(_INTERRUPTED_RUNS)
    assert done.returncode == 0, done.stderr
    for calls in done.stdout.split():
        # Far fewer examples than the run would make if left alone.
        assert int(calls) < 1_000_000, done.stdout
