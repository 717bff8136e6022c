"""The given() decorator: the package's thin runner over run_native."""
import base64
import contextlib
import functools
import inspect
import os
import threading
from unittest import mock

import pytest

from qf_testing import key_here, python_output
from quorvantis_fast import _engine, given, note, reproduce_failure, settings, st
from quorvantis_fast.keys import database_key, owner_of
from quorvantis_fast.database import InMemoryExampleDatabase
from quorvantis_fast.errors import Flaky, InvalidArgument


def test_a_holding_property_runs_max_examples_times():
    calls = []

    @settings(max_examples=50, seed=1)
    @given(st.integers(0, 10**9))
    def prop(x):
        calls.append(x)

    assert prop() is None
    assert len(calls) == 50
    assert all(0 <= x <= 10**9 for x in calls)


def test_failure_is_shrunk_and_reported_with_the_minimal_arguments():
    @settings(seed=3)
    @given(st.integers())
    def prop(x):
        assert x < 1000

    with pytest.raises(AssertionError) as info:
        prop()
    assert info.value.__notes__[0] == "Falsifying example: prop(x=1000)"


def test_keyword_strategies_and_pytest_fixtures_pass_through(tmp_path):
    @given(b=st.booleans())
    def prop(path, b):
        assert path == tmp_path
        assert isinstance(b, bool)

    assert list(inspect.signature(prop).parameters) == ["path"]
    prop(tmp_path)
    prop(path=tmp_path)


def test_positional_strategies_fill_the_last_arguments(tmp_path):
    class TestSuite:
        @settings(max_examples=3)
        @given(st.integers(0, 5))
        def check(self, path, x):
            assert isinstance(self, TestSuite)
            assert path == tmp_path
            assert 0 <= x <= 5

        @settings(database=None, seed=2)
        @given(st.integers(0, 10**6))
        def only(self, path, x, /):  # a caller may still name path
            assert isinstance(self, TestSuite) and path == tmp_path and x < 10

    assert list(inspect.signature(TestSuite.check).parameters) == ["self", "path"]
    TestSuite().check(tmp_path)
    with pytest.raises(AssertionError) as info:
        TestSuite.only(TestSuite(), path=tmp_path)
    assert info.value.__notes__[0] == "Falsifying example: only(x=10)"


def test_settings_apply_above_or_below_given():
    seen = []

    @given(st.integers())
    @pytest.mark.filterwarnings("default")  # decorators in between keep what they set
    @settings(max_examples=5)
    @settings(max_examples=9)
    @pytest.mark.skip
    def below(b):
        seen.append(b)

    below()
    assert len(seen) == 5 and [m.name for m in below.pytestmark] == ["skip", "filterwarnings"]

    count = []

    @settings(max_examples=7)
    @given(st.integers())
    def above(x):
        count.append(x)

    above()
    assert len(count) == 7


def test_database_replays_the_stored_failure_first():
    db = InMemoryExampleDatabase()
    calls = []

    @settings(database=db, seed=5)
    @given(st.lists(st.integers(-1000, 1000)))
    def prop(xs):
        calls.append(xs)
        assert len(set(xs)) == len(xs)

    with pytest.raises(AssertionError) as first:
        prop()
    assert first.value.__notes__[0] == "Falsifying example: prop(xs=[0, 0])"
    calls.clear()
    with pytest.raises(AssertionError) as info:
        prop()
    assert calls[0] == calls[-1] == [0, 0] and all(len(xs) <= 2 for xs in calls)  # a short shrink between
    assert info.value.__notes__ == first.value.__notes__


def test_distinct_failures_are_grouped_when_reported_together():
    @settings(seed=2, report_multiple_bugs=True, max_examples=500)
    @given(st.integers(-100, 100))
    def prop(x):
        if x > 50:
            raise ValueError("big")
        if x < -50:
            raise KeyError("small")

    with pytest.raises(ExceptionGroup) as info:
        prop()
    kinds = sorted(type(e).__name__ for e in info.value.exceptions)
    assert kinds == ["KeyError", "ValueError"]
    notes = sorted(e.__notes__[0] for e in info.value.exceptions)
    assert notes == ["Falsifying example: prop(x=-51)", "Falsifying example: prop(x=51)"]
    lines = {e.__notes__[-1] for e in info.value.exceptions}
    assert len(lines) == 2 and all(line.startswith("@reproduce_failure(") for line in lines)


def test_one_failure_is_reported_when_multiple_bugs_are_off_even_after_stored_ones():
    db = InMemoryExampleDatabase()

    def prop(x):
        if x > 50:
            raise ValueError("big")
        if x < -50:
            raise KeyError("small")

    found = settings(database=db, seed=2, max_examples=500)(given(st.integers(-100, 100))(prop))
    with pytest.raises(ExceptionGroup):
        found()  # both failures are now stored under the test's key
    single = settings(database=db, seed=2, report_multiple_bugs=False)(
        given(st.integers(-100, 100))(prop))
    with pytest.raises((ValueError, KeyError)) as info:
        single()
    assert info.value.__notes__[0] in ("Falsifying example: prop(x=51)",
                                       "Falsifying example: prop(x=-51)")


@pytest.mark.parametrize("args, kwargs, left", [
    ((), {}, []), ((st.integers(), st.integers(), st.integers()), {}, []),
    ((), {"y": st.integers()}, ["fixture", "x"]), ((st.integers(),), {"x": st.integers()}, []), ((int,), {}, ["fixture"]),
])
def test_misuse_is_an_invalid_argument_when_the_test_runs(args, kwargs, left):
    refused = given(*args, **kwargs)(lambda fixture, x: None)
    assert list(inspect.signature(refused).parameters) == left  # what pytest must supply
    for _ in range(2):
        with pytest.raises(InvalidArgument) as info:
            refused(*left)
        assert len(list(info.traceback)) == 2  # this test's frame and the refusal's


def test_composite_shrinks_in_lists_and_type_registration_with_its_notes():
    class Point(int):
        pass

    @st.composite
    def points(draw, lo=0):
        point = Point(draw(st.integers(lo, 1000)))
        note(f"drew {point}")
        return point

    st.register_type_strategy(Point, points())
    @settings(database=None, seed=3)
    @given(st.lists(st.from_type(Point)), st.one_of(points(lo=5), st.none()))
    def prop(ps, q):
        assert sum(ps) < 100

    with pytest.raises(AssertionError) as info:
        prop()
    assert info.value.__notes__[:-1] == ["Falsifying example: prop(ps=[100], q=5)", "drew 100", "drew 5"]
    assert repr(st.lists(points(lo=6))) == "lists(points(lo=6))"
    with pytest.raises(InvalidArgument, match=r"points\(\): too many"):
        points(1, 2)
    with pytest.raises(InvalidArgument, match="inside a test"):
        note("outside")


def test_composite_formats_its_arguments_when_its_repr_is_first_asked_for():
    shown = []
    counted = type("Counted", (), {"__repr__": lambda self: shown.append(1) or "Counted()"})()
    s = st.composite(lambda draw, a, b: a)(counted, b=type("Broken", (), {"__repr__": lambda self: 1 / 0})())
    assert shown == []
    assert repr(s) == repr(st.lists(s))[6:-1] == "<lambda>(Counted(), b=...)"
    assert shown == [1]


def test_settings_without_given_and_given_twice_are_refused_when_the_test_runs():
    lone = settings(max_examples=5)(lambda x: None)
    assert list(inspect.signature(lone).parameters) == []  # pytest calls it and shows why
    with pytest.raises(InvalidArgument, match="only to @given tests and state machines"):
        lone()
    with pytest.raises(InvalidArgument, match="@given was applied twice"):
        given(st.integers())(given(st.integers())(lambda x: None))()


def test_a_wrapper_of_the_test_is_refused_or_run_never_skipped():
    cwds, fast = [], settings(max_examples=3, database=None)
    patch = mock.patch("os.getcwd", return_value="/patched")
    body = lambda patched, x: cwds.append(os.getcwd())
    for wrapped in patch(fast(body)), fast(patch(fast(body))):  # between @given and @settings
        with pytest.raises(InvalidArgument, match="below @settings, or @settings above @given"):
            given(st.integers())(wrapped)()
    given(st.integers())(fast(patch(body)))()
    fast(patch(given(st.integers())(body)))()  # what is set above the wrapper reaches the test
    assert cwds == ["/patched"] * 6
    blob = base64.b64encode(_engine.choices_to_bytes([7])).decode()
    with pytest.raises(Flaky, match="passed on the example"):
        reproduce_failure(blob)(patch(given(st.integers())(body)))()


def test_a_partial_is_a_test_named_after_its_function():
    def below(limit, x):
        assert x < limit
    with pytest.raises(AssertionError) as info:
        settings(database=None, seed=1)(given(st.integers())(functools.partial(below, 10)))()
    assert info.value.__notes__[0] == "Falsifying example: below(x=10)"


def test_partials_of_one_function_keep_their_stored_failures_apart():
    db, calls = InMemoryExampleDatabase(), []
    def below(limit, x, marker=None):  # marker=object() has no stable text
        calls.append((limit, x))
        assert x < limit
    def first_call(test, fails=True):
        calls.clear()
        with pytest.raises(AssertionError) if fails else contextlib.nullcontext():
            settings(database=db, max_examples=50, seed=1)(given(x=st.integers(0, 1000))(test))()
        return calls[0]
    assert first_call(functools.partial(below, 10)) == (10, 0)
    assert first_call(functools.partial(below, 10**6), fails=False) == (10**6, 0)  # not a's example
    assert first_call(functools.partial(below, 10)) == (10, 10)  # a's example survived b
    assert [first_call(functools.partial(below, 10, marker=object())) for _ in "ab"] == [(10, 0)] * 2
    plain = lambda x: below(10, x)
    first_call(plain)
    key = key_here(given(x=st.integers())(plain))  # by the node, then by its name alone
    assert key.endswith(f" {__name__}.{plain.__qualname__}".encode()) and list(db.fetch(key))


def _partial_key(bound):
    owner, layers = owner_of(functools.partial(lambda bound, x: None, bound))
    return database_key(owner, "t", layers)


def test_a_partial_keeps_one_key_in_every_process_or_none():
    # A Mock prints its id, a set in a dataclass in the hash seed's order, and
    # lambdas or large arrays that differ in the middle print alike.
    script = """
        import dataclasses
        from unittest import mock
        from test_given import _partial_key
        holder = dataclasses.make_dataclass("Holder", ["names"])({str(i) for i in range(20)})
        print(*map(_partial_key, [mock.Mock(), holder, lambda: 1, frozenset(map(str, range(20)))]))
        """
    here = os.path.dirname(__file__)
    runs = {python_output(script, env={"PYTHONHASHSEED": seed}, extra_path=[here, os.path.dirname(here)])
            for seed in "12"}
    assert len(runs) == 1 and runs.pop().startswith("None None None b'test_given.t partial "), runs
    np = pytest.importorskip("numpy")
    assert _partial_key(np.zeros(2000)) is None


def test_note_is_refused_on_a_thread_the_test_started():
    errors = []
    @given(st.just(1))
    def t(x):
        note("from the test")
        worker = threading.Thread(target=lambda: errors.append(pytest.raises(InvalidArgument, note, 1)))
        assert worker.start() or worker.join()  # fails, once the thread is done
    with pytest.raises(AssertionError) as info:
        t()
    assert info.value.__notes__[1:-1] == ["from the test"] and {str(e.value) for e in errors} == {
        "note() can only be called inside a test (a @given test, a composite strategy or a state "
        "machine), while an example is run, and on the thread that runs it: a thread the test "
        "starts cannot add notes"}
