"""The native StatefulRunner against a scripted stand-in for the stateful module."""
import sys
import types

import pytest

from quorvantis_fast import _engine
from quorvantis_fast.errors import StopTest

StatefulRunner = _engine.StatefulRunner


class Machine:
    pass


class FakeRecord:
    def __init__(self, stops):
        self.stops = list(stops)
        self.length = 0
        self.calls = []

    def draw_boolean(self, *args, **kwargs):
        assert not args
        self.calls.append(kwargs)
        self.length += 1
        return self.stops.pop(0) if self.stops else True


class Data:
    def __init__(self, record):
        self.brindlemar_data = record


class Settings:
    stateful_step_count = 5


@pytest.fixture
def st(monkeypatch):
    """A stand-in for quorvantis_fast.stateful that logs every call."""
    mod = types.ModuleType("quorvantis_fast.stateful")
    log = []

    class RuleBasedStateMachine:
        def check_invariants(self, settings, emit):
            log.append("invariants")

        def teardown(self):
            log.append("teardown")

    mod.RuleBasedStateMachine = RuleBasedStateMachine
    mod.final = False
    mod._is_final = lambda: mod.final
    mod._verbosity_at_least = lambda level: False

    def _emit(lines, printing, text):
        lines.append(text)

    mod._emit = _emit
    mod._must_stop = lambda steps, min_steps, max_steps, length: steps >= max_steps
    mod._select_rule = lambda machine, record, flaky: log.append("select") or "rule"

    def _run_step(machine, record, rule, settings, emit, printing):
        log.append(("step", rule, printing))
        emit(f"state.{rule}()")
        fail = getattr(machine, "fail", False)
        if fail:
            raise ValueError("boom") if fail is True else fail

    mod._run_step = _run_step
    mod._add_note = lambda exc, text: exc.add_note(text)
    mod.log = log
    import quorvantis_fast

    monkeypatch.setitem(sys.modules, "quorvantis_fast.stateful", mod)
    monkeypatch.setattr(quorvantis_fast, "stateful", mod, raising=False)
    return mod


def make_machine(st, fail=False):
    class MyMachine(st.RuleBasedStateMachine):
        pass

    m = MyMachine()
    m.fail = fail
    return m


def test_steps_until_the_record_says_stop(st):
    record = FakeRecord([False, False, True])
    runner = StatefulRunner(lambda: make_machine(st), Settings(), 1, "flaky")
    assert runner(Data(record)) is None
    assert st.log == ["invariants", "select", ("step", "rule", False), "invariants",
                      "select", ("step", "rule", False), "invariants", "teardown"]
    assert record.calls[0] == {"p": 2.0 ** -16, "forced": False}
    assert type(record._qv_stateful_machine).__name__ == "MyMachine"


def test_methods_rebound_by_a_step_are_used_from_then_on(st):
    record = FakeRecord([False, False, True])

    def _run_step(machine, rec, rule, settings, emit, printing):
        st.log.append("step")
        machine.check_invariants = lambda s, e: st.log.append("rebound invariants")
        rec.draw_boolean = lambda **kw: st.log.append(("rebound draw", kw["forced"])) or True

    st._run_step = _run_step
    StatefulRunner(lambda: make_machine(st), Settings(), 0, None)(Data(record))
    assert st.log == ["invariants", "select", "step", "rebound invariants",
                      ("rebound draw", False), "teardown"]
    assert len(record.calls) == 1


def test_forced_stop_at_first_step_runs_invariants_and_teardown_once(st):
    st._must_stop = lambda *a: True
    seen = []
    st._emit = lambda lines, printing, text: (seen.append(text), lines.append(text))
    record = FakeRecord([])
    StatefulRunner(lambda: make_machine(st), Settings(), 0, None)(data=Data(record))
    assert seen == ["state = MyMachine()", "state.teardown()"]
    assert st.log == ["invariants", "teardown"]
    assert record.calls == [{"p": 2.0 ** -16, "forced": True}]


def test_failure_on_final_run_carries_trace_notes(st):
    st.final = True
    record = FakeRecord([False])
    runner = StatefulRunner(lambda: make_machine(st, fail=True), Settings(), 0, None)
    with pytest.raises(ValueError, match="boom") as info:
        runner(Data(record))
    assert info.value.__notes__ == [
        "Falsifying example:", "state = MyMachine()", "state.rule()", "state.teardown()"]
    assert st.log[-1] == "teardown"
    assert ("step", "rule", True) in st.log


def test_failure_on_non_final_run_has_no_notes(st):
    runner = StatefulRunner(lambda: make_machine(st, fail=True), Settings(), 0, None)
    with pytest.raises(ValueError) as info:
        runner(Data(FakeRecord([False])))
    assert not hasattr(info.value, "__notes__")
    assert st.log[-1] == "teardown"


@pytest.mark.parametrize("fail, context", [(False, OSError), (True, ValueError), (StopTest(0), OSError)])
def test_a_teardown_error_leaves_with_the_steps_and_what_was_handled_as_context(st, fail, context):
    st.final = True
    st.RuleBasedStateMachine.teardown = lambda self: {}["leak"]
    runner = StatefulRunner(lambda: make_machine(st, fail=fail), Settings(), 0, None)
    try:
        raise OSError("handled around the call")
    except OSError as outer:
        with pytest.raises(KeyError) as info:
            runner(Data(FakeRecord([False])))
        assert sys.exc_info()[1] is outer
    assert info.value.__notes__ == [
        "Falsifying example:", "state = MyMachine()", "state.rule()", "state.teardown()"]
    assert type(info.value.__context__) is context


def test_factory_must_return_a_machine(st):
    from quorvantis_fast.errors import InvalidArgument

    record = FakeRecord([])
    runner = StatefulRunner(lambda: 42, Settings(), 0, None)
    with pytest.raises(InvalidArgument, match=r"must return a RuleBasedStateMachine, got 42$"):
        runner(Data(record))
    assert not hasattr(record, "_qv_stateful_machine")
    assert st.log == []


def test_constructor_arguments():
    with pytest.raises(TypeError, match="min_steps"):
        StatefulRunner(None, None, "x", None)
    with pytest.raises(OverflowError):
        StatefulRunner(None, None, 2**63, None)
    with pytest.raises(TypeError):
        StatefulRunner(None, None, 0)
    r = StatefulRunner(None, None, 0, None)
    assert r._quorvantis_internal_print_given_args is False
