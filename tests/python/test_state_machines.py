"""Rule-based state machines run end to end through the engine."""

import functools

import pytest

from quorvantis_fast import _engine as st
from quorvantis_fast import note, reproduce_failure
from quorvantis_fast.errors import Flaky, InvalidArgument
from quorvantis_fast.settings import Verbosity, settings
from quorvantis_fast.stateful import (
    RuleBasedStateMachine,
    invariant,
    precondition,
    rule,
    run_state_machine_as_test,
)

FIXED = settings(seed=3, max_examples=300)


def test_a_bug_needing_three_steps_is_shrunk_to_them():
    teardowns = []

    class Lock(RuleBasedStateMachine):
        def __init__(self):
            self.stage = 0

        @rule()
        def noise(self):
            pass

        @rule()
        def arm(self):
            self.stage = 1 if self.stage == 0 else self.stage

        @rule(code=st.integers(0, 9))
        def enter(self, code):
            if self.stage == 1 and code == 7:
                self.stage = 2

        @rule()
        def open(self):
            assert self.stage != 2, "opened with the code"

        def teardown(self):
            teardowns.append(self.stage)

    with pytest.raises(AssertionError, match="opened with the code") as info:
        run_state_machine_as_test(Lock, settings=FIXED)
    assert info.value.__notes__[:-1] == [
        "Falsifying example:",
        "state = Lock()",
        "state.arm()",
        "state.enter(code=7)",
        "state.open()",
        "state.teardown()",
    ]
    assert teardowns  # every test case tore its machine down


def test_invariant_failures_carry_the_step_trace():
    class Bounded(RuleBasedStateMachine):
        def __init__(self):
            self.total = 0

        @rule(x=st.integers(0, 10))
        def add(self, x):
            self.total += x
            note(f"total={self.total}")

        @invariant()
        def below_limit(self):
            assert self.total < 10

    with pytest.raises(AssertionError) as info:
        run_state_machine_as_test(Bounded, settings=FIXED)
    notes = info.value.__notes__
    assert notes[:2] == ["Falsifying example:", "state = Bounded()"]
    assert notes[2:-1] == ["state.add(x=10)", "state.teardown()", "total=10"]
    assert notes[-1].startswith("@reproduce_failure('")
    # An invariant that fails before any rule, and a teardown that fails after none, alike.
    step = rule()(lambda self: None)
    broken = type("Broken", (RuleBasedStateMachine,), {"step": step, "sound": invariant()(lambda self: 1 / 0)})
    leaky = type("Leaky", (RuleBasedStateMachine,), {"step": step, "teardown": lambda self: {}["leak"]})
    for machine, error in [(broken, ZeroDivisionError), (leaky, KeyError)]:
        with pytest.raises(error) as info:
            run_state_machine_as_test(machine, settings=FIXED)
        assert info.value.__notes__ == [
            "Falsifying example:", f"state = {machine.__name__}()", "state.teardown()", "@reproduce_failure('')"]


def test_teardown_runs_when_a_rule_fails_and_when_all_pass():
    log = []

    class Fine(RuleBasedStateMachine):
        @rule()
        def step(self):
            log.append("step")

        def teardown(self):
            log.append("teardown")

    run_state_machine_as_test(Fine, settings=settings(seed=1, max_examples=20))
    assert log.count("teardown") >= 1
    assert log[-1] == "teardown"

    log.clear()

    class Broken(Fine):
        @rule()
        def boom(self):
            raise RuntimeError("boom")

    with pytest.raises(RuntimeError):
        run_state_machine_as_test(Broken, settings=FIXED)
    assert log[-1] == "teardown"


def test_a_simpler_failure_met_while_shrinking_is_the_one_replayed_and_reported():
    class FirstOrLater(RuleBasedStateMachine):
        @rule(x=st.integers(0, 1000))
        def step(self, x):
            self.later = hasattr(self, "later")
            if x >= 900:
                raise AssertionError("later step") if self.later else ValueError("first step")

    for seed in range(4):
        with pytest.raises(ValueError) as info:
            run_state_machine_as_test(FirstOrLater, settings=settings(seed=seed, database=None, report_multiple_bugs=False))
        assert info.value.__notes__[1:-1] == ["state = FirstOrLater()", "state.step(x=900)", "state.teardown()"]


def test_preconditions_gate_rules():
    class Gated(RuleBasedStateMachine):
        def __init__(self):
            self.ready = False

        @rule()
        def prepare(self):
            self.ready = True

        @precondition(lambda self: self.ready)
        @rule()
        def use(self):
            assert self.ready

    run_state_machine_as_test(Gated, settings=settings(seed=3, max_examples=50))


def test_machines_without_rules_or_with_a_bad_factory_are_refused():
    class Empty(RuleBasedStateMachine):
        pass

    with pytest.raises(InvalidArgument, match="Empty defines no rules") as info:
        run_state_machine_as_test(Empty, settings=FIXED)
    assert not hasattr(info.value, "__notes__")  # a misuse, raised as it is: no steps reported
    with pytest.raises(InvalidArgument, match="must return a RuleBasedStateMachine, got 3"):
        run_state_machine_as_test(lambda: 3, settings=FIXED)
    hidden = type("Hidden", (), {"__repr__": lambda self: 1 / 0})
    with pytest.raises(InvalidArgument, match=r"got <unrepresentable Hidden object: ZeroDivisionError"):
        run_state_machine_as_test(hidden, settings=FIXED)
    with pytest.raises(InvalidArgument, match="must be callable"):
        run_state_machine_as_test(42)
    # A rule its strategies cannot call, when it is defined; defaults and catch-alls take the rest.
    def step(self, x, y):
        pass
    with pytest.raises(InvalidArgument, match=r"^rule step\(\) has no strategy for its parameter 'y'"):
        rule(x=st.integers())(step)
    rule(x=st.integers())(lambda self, x, y=0, *rest, **more: None)
    for name, decorator in [("rule", rule), ("invariant", invariant)]:  # without parentheses
        with pytest.raises(InvalidArgument, match=rf"^@{name} is applied to step\(\) without parentheses: write @{name}\(\)$"):
            decorator(step)
    with pytest.raises(InvalidArgument, match=r"^@precondition is applied to Gated.wait\(\), which is neither a rule nor"):
        type("Gated", (RuleBasedStateMachine,), {"wait": precondition(bool)(lambda self: None)})


def test_a_machine_whose_setup_raises_reports_that_error():
    class Unbuildable(RuleBasedStateMachine):
        def __init__(self):
            raise OSError("no device")

        @rule()
        def step(self):
            pass

    with pytest.raises(OSError, match="no device"):
        run_state_machine_as_test(Unbuildable, settings=FIXED)


def test_testcase_attribute_runs_the_machine():
    class Failing(RuleBasedStateMachine):
        @rule()
        def fail(self):
            raise ValueError("x")

    case = Failing.TestCase()
    case.settings = FIXED
    with pytest.raises(ValueError):
        case.runTest()


def test_of_stored_failures_of_several_origins_the_simplest_is_reported():
    from quorvantis_fast.database import InMemoryExampleDatabase

    class Machine(RuleBasedStateMachine):
        @rule(x=st.integers(0, 1000))
        def step(self, x):
            assert not ("big" in self.fails and x >= 500), "another origin"
            assert not ("small" in self.fails and x >= 10)

    class Into:  # each failure is found alone, then both are replayed
        fetch, delete = (lambda self, *a: []), (lambda self, *a: None)
        save = lambda self, key, value: db.save(key, value)

    db = InMemoryExampleDatabase()
    for fails, database in ("big", Into()), ("small", Into()), (("big", "small"), db):
        Machine.fails = fails
        info = pytest.raises(AssertionError, run_state_machine_as_test, Machine,
                             settings=settings(FIXED, database=database, report_multiple_bugs=False))
    assert "state.step(x=10)" in info.value.__notes__


def test_each_distinct_failure_comes_back_together_with_its_own_steps():
    class Stack(RuleBasedStateMachine):  # push('') breaks the invariant, push('a') raises ValueError
        @rule(s=st.text(alphabet="ab"))
        def push(self, s):
            self.top = int(s) if s == "a" else s
        nonempty = invariant()(lambda self: getattr(self, "top", None) == "" and 1 / 0)
    group = pytest.raises(ExceptionGroup, run_state_machine_as_test, Stack, settings=settings(FIXED, database=None))
    found = sorted(group.value.exceptions, key=repr)
    for e, (error, pushed) in zip(found, [(ValueError, "'a'"), (ZeroDivisionError, "''")], strict=True):
        assert type(e) is error and e.__notes__[1:-1] == ["state = Stack()", f"state.push(s={pushed})", "state.teardown()"]
        replay = reproduce_failure(e.__notes__[-1][len("@reproduce_failure('"):-2])  # its own steps, not the other's
        pytest.raises(error, run_state_machine_as_test, replay(type("Again", (Stack,), {})))


def test_machines_of_the_same_name_keep_their_stored_failures_apart():
    from quorvantis_fast.database import InMemoryExampleDatabase

    def failing_one():
        class Machine(RuleBasedStateMachine):
            @rule(x=st.integers(0, 10))
            def step(self, x):
                assert x < 5

        return Machine

    def passing_one():
        class Machine(RuleBasedStateMachine):
            @rule(x=st.integers(0, 10))
            def step(self, x):
                pass

        return Machine

    class Recording:
        def __init__(self):
            self.stored, self.deleted = InMemoryExampleDatabase(), []

        def fetch(self, key):
            return self.stored.fetch(key)

        def save(self, key, value):
            self.stored.save(key, value)

        def delete(self, key, value):
            self.deleted.append(key)
            self.stored.delete(key, value)

    db = Recording()
    fixed = settings(FIXED, database=db)
    with pytest.raises(AssertionError):
        run_state_machine_as_test(failing_one(), settings=fixed)
    db.deleted.clear()  # what its shrink replaced of its own
    run_state_machine_as_test(passing_one(), settings=fixed)
    assert db.deleted == []  # the other machine's failure was neither replayed nor dropped
    with pytest.raises(AssertionError):
        run_state_machine_as_test(failing_one(), settings=settings(fixed, max_examples=1))

    class Below(RuleBasedStateMachine):  # partials of one machine that bind other limits
        def __init__(self, limit):
            self.limit = limit

        @rule(x=st.integers(0, 10))
        def step(self, x):
            assert x < self.limit

    with pytest.raises(AssertionError):
        run_state_machine_as_test(functools.partial(Below, 5), settings=fixed)
    db.deleted.clear()
    run_state_machine_as_test(functools.partial(Below, 11), settings=fixed)
    assert db.deleted == []


def test_a_failure_that_passes_when_its_steps_are_replayed_is_flaky():
    from quorvantis_fast.errors import FlakyFailure

    calls = []

    class Once(RuleBasedStateMachine):
        @rule(x=st.integers())
        def step(self, x):
            calls.append(x)
            assert len(calls) != 30, "fails on one call only"

    with pytest.raises(FlakyFailure, match="passed when the same sequence of steps was run again") as info:
        run_state_machine_as_test(Once, settings=settings(FIXED, database=None))
    (original,) = info.value.exceptions
    assert isinstance(original, AssertionError) and "one call only" in str(original)


def test_settings_above_a_machine_apply_to_its_runs_and_refuse_other_classes():
    built = []

    @settings(max_examples=3, database=None)
    class Counted(RuleBasedStateMachine):
        def __init__(self):
            super().__init__()
            built.append(self)

        @rule()
        def step(self):
            pass

    run_state_machine_as_test(Counted)
    Counted.TestCase().runTest()
    assert 0 < len(built) <= 6
    with pytest.raises(InvalidArgument, match="class TestPlain"):
        settings(max_examples=3)(type("TestPlain", (), {}))


def test_the_reproduction_line_replays_the_steps_above_the_machine_or_its_test_case():
    class Sum(RuleBasedStateMachine):
        total, fixed = 0, False
        @rule(x=st.integers(0, 10))
        def add(self, x):
            self.total += x
            assert self.fixed or self.total < 10

    with pytest.raises(AssertionError) as info:
        run_state_machine_as_test(Sum, settings=settings(FIXED, database=None))
    replay = reproduce_failure(info.value.__notes__[-1][len("@reproduce_failure('"):-2])
    with pytest.raises(AssertionError) as again:
        run_state_machine_as_test(replay(Sum))
    assert again.value.__notes__ == info.value.__notes__
    Sum.fixed = True  # the steps pass now, run from the machine or from its TestCase
    for run in (lambda: run_state_machine_as_test(Sum), replay(Sum.TestCase)().runTest):
        with pytest.raises(Flaky, match="does not reproduce"):
            run()


class Drawing(RuleBasedStateMachine):
    saved = 0

    @rule(data=st.data())
    def save(self, data):
        self.saved = data.draw(st.integers(0, 100), label="saved")

    @rule(data=st.data())
    def check(self, data):
        assert self.saved + data.draw(st.integers(0, 100)) < 100


@pytest.mark.parametrize("verbosity", [Verbosity.verbose, Verbosity.normal])
def test_data_draws_show_under_their_step_and_verbose_runs_print_steps_and_shrinks(capsys, verbosity):
    with pytest.raises(AssertionError) as info:
        run_state_machine_as_test(Drawing, settings=settings(FIXED, database=None, verbosity=verbosity, report_multiple_bugs=False))
    notes, out = info.value.__notes__, capsys.readouterr().out
    a, b = (int(notes[i].rpartition(": ")[2]) for i in (3, 5))  # each step's draws count from 1
    assert notes[1:-1] == ["state = Drawing()", "state.save(data=data(...))", f"Draw 1 (saved): {a}",
                           "state.check(data=data(...))", f"Draw 1: {b}", "state.teardown()"] and a + b >= 100
    assert (out == "") == (verbosity == Verbosity.normal)
    if verbosity == Verbosity.verbose:  # the last smaller failure printed is the one reported
        assert out.startswith("Trying example:\nstate = Drawing()\n") and "\n  failed with AssertionError" in out
        assert out.rsplit("Shrunk example to:\n", 1)[1].splitlines() == notes[1:-1]
