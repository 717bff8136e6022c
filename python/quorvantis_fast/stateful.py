"""Rule-based state machines.

The native ``StatefulRunner`` drives the step loop; the decisions it asks
for (which rule, when to stop, what to print) are the functions below.
"""

import contextlib
import dataclasses
import inspect
import threading
import unittest

from quorvantis_fast import _engine, control
from quorvantis_fast.core import (
    VerboseLog, end_report, failed_otherwise, is_flaky, not_reproduced_message, raise_failures,
    replay_passed)
from quorvantis_fast.database import warning_on_errors
from quorvantis_fast.errors import FlakyBaseFailure, InvalidArgument
from quorvantis_fast.formatting import add_note, shown_repr
from quorvantis_fast.keys import machine_key
from quorvantis_fast.settings import Verbosity
from quorvantis_fast.settings import settings as Settings

__all__ = [
    "RuleBasedStateMachine",
    "invariant",
    "precondition",
    "rule",
    "run_state_machine_as_test",
]


@dataclasses.dataclass(frozen=True)
class Rule:
    function: object
    arguments: dict
    precondition: object = None

    @property
    def name(self):
        return self.function.__name__


def _method_name(f):
    """The name of ``f`` in its class, as errors show it."""
    return getattr(f, "__qualname__", getattr(f, "__name__", "method")).rpartition("<locals>.")[2]


def _misplaced(decorator, f):
    """The error of ``@decorator`` written without its parentheses above ``f``
    (which Python then passes to it), or given a positional argument."""
    if not callable(f):
        return InvalidArgument(f"{decorator}() takes no positional argument, got {shown_repr(f)}")
    return InvalidArgument(
        f"@{decorator} is applied to {_method_name(f)}() without parentheses: write @{decorator}()")


def rule(_misused=None, /, **arguments):
    """Mark a method as a rule; its keyword arguments are drawn from the strategies given."""
    if _misused is not None:
        raise _misplaced("rule", _misused)

    def accept(f):
        _check_rule_parameters(f, arguments)
        f._qv_rule = Rule(f, dict(arguments), getattr(f, "_qv_precondition", None))
        return f

    return accept


def _check_rule_parameters(f, arguments):
    """Refuse a rule that its strategies cannot call: the runner passes it the
    machine, then each drawn value by keyword, and a call that cannot bind
    would fail on every example as if the machine were at fault."""
    try:
        params = list(inspect.signature(f).parameters.values())
    except (TypeError, ValueError):
        return  # nothing to read: the call says what is wrong
    name = _method_name(f)
    P = inspect.Parameter
    if params and params[0].kind in (P.POSITIONAL_ONLY, P.POSITIONAL_OR_KEYWORD):
        params = params[1:]  # self
    elif not any(p.kind is P.VAR_POSITIONAL for p in params):
        raise InvalidArgument(f"rule {name}() takes no parameter for the machine: give it self first")
    by_keyword = {p.name for p in params if p.kind in (P.POSITIONAL_OR_KEYWORD, P.KEYWORD_ONLY)}
    if not any(p.kind is P.VAR_KEYWORD for p in params):
        for arg in arguments:
            if arg not in by_keyword:
                raise InvalidArgument(
                    f"@rule({arg}=...) is given to rule {name}(), which takes no keyword argument {arg!r}")
    for p in params:
        if p.default is p.empty and p.kind not in (P.VAR_POSITIONAL, P.VAR_KEYWORD) and p.name not in arguments:
            raise InvalidArgument(
                f"rule {name}() has no strategy for its parameter {p.name!r}: give it one, as in "
                f"@rule({p.name}=...), or a default value")


def precondition(predicate):
    """Only run the rule (or check the invariant) while ``predicate(machine)`` is true."""

    def accept(f):
        f._qv_precondition = predicate
        existing = getattr(f, "_qv_rule", None)
        if existing is not None:
            f._qv_rule = dataclasses.replace(existing, precondition=predicate)
        return f

    return accept


def invariant(_misused=None, /):
    """Mark a method as an invariant, checked before the first step and after each step."""
    if _misused is not None:
        raise _misplaced("invariant", _misused)

    def accept(f):
        f._qv_invariant = True
        return f

    return accept


class RuleBasedStateMachine:
    """Base class of state machines: subclasses define rules and invariants."""

    # Tells @settings and @reproduce_failure that this class is a test, without
    # an import of this module; its TestCase says the same.
    _quorvantis_state_machine = True

    @classmethod
    def rules(cls):
        found = {}
        for klass in reversed(cls.__mro__):
            for name, value in vars(klass).items():
                r = getattr(value, "_qv_rule", None)
                if r is not None:
                    found[name] = r
        return [found[name] for name in sorted(found)]

    @classmethod
    def invariants(cls):
        found = {}
        for klass in reversed(cls.__mro__):
            for name, value in vars(klass).items():
                if getattr(value, "_qv_invariant", False):
                    found[name] = value
        return [found[name] for name in sorted(found)]

    def check_invariants(self, settings, emit):
        __tracebackhide__ = True
        for inv in self.invariants():
            pre = getattr(inv, "_qv_precondition", None)
            if pre is None or pre(self):
                inv(self)

    def teardown(self):
        """Called once at the end of every run of the machine."""

    def __init_subclass__(cls, **kwargs):
        super().__init_subclass__(**kwargs)
        _check_preconditions(cls)
        machine = cls

        class TestCase(unittest.TestCase):
            settings = None
            _quorvantis_state_machine = True

            def runTest(self):
                __tracebackhide__ = True
                # @settings or @reproduce_failure above this class, else above the machine's.
                own = type(self)
                s = self.settings
                if s is None:
                    s = getattr(own, "_quorvantis_settings", None)
                reproduce = getattr(own, "_quorvantis_reproduce", None) or _replay_of(machine)
                _run_machine(machine, s, reproduce)

        TestCase.__name__ = TestCase.__qualname__ = f"{cls.__name__}.TestCase"
        cls.TestCase = TestCase


def _check_preconditions(cls):
    """Refuse a precondition on a method that is neither a rule nor an
    invariant: the runner never calls that method, so it would gate nothing."""
    for klass in cls.__mro__:
        for name, value in vars(klass).items():
            if (getattr(value, "_qv_precondition", None) is not None and getattr(value, "_qv_rule", None) is None
                    and not getattr(value, "_qv_invariant", False)):
                raise InvalidArgument(
                    f"@precondition is applied to {klass.__name__}.{name}(), which is neither a rule "
                    "nor an invariant, so the machine never runs it: add @rule() or @invariant() "
                    "to it, or remove the precondition")


# ---------------------------------------------------------------------------
# What the runner asks


class _RunState(threading.local):
    def __init__(self):
        self.final = False
        self.verbosity = Verbosity.normal
        self.trace = None  # the steps of the running example, while a verbose run shows them


_run_state = _RunState()


@contextlib.contextmanager
def running(*, final, verbosity):
    """Tell the step functions whether this run reports and how loudly."""
    state = _run_state
    saved = (state.final, state.verbosity, state.trace)
    # A machine run inside a rule of another shows its steps, if at all, apart.
    state.final, state.verbosity, state.trace = final, verbosity, None
    try:
        yield
    finally:
        state.final, state.verbosity, state.trace = saved


def _is_final():
    return _run_state.final


def _verbosity_at_least(level):
    return _run_state.verbosity >= level


def _emit(lines, printing, text):
    if printing:
        lines.append(text)
    if _run_state.trace is not None:
        _run_state.trace.append(text)


def _must_stop(steps_run, min_steps, max_steps, length):
    """True to force a stop, False to force another step, None to let the test case decide."""
    if steps_run >= max_steps:
        return True
    if steps_run < min_steps:
        return False
    return None


def _select_rule(machine, record, flaky_state):
    __tracebackhide__ = True
    rules = machine.rules()
    if not rules:
        raise InvalidArgument(f"Type {type(machine).__name__} defines no rules")
    ready = [r for r in rules if r.precondition is None or r.precondition(machine)]
    if not ready:
        raise InvalidArgument(f"No progress can be made from state {shown_repr(machine)}: no rule can run")
    return ready[record.draw_integer(0, len(ready) - 1)]


def _run_step(machine, record, rule, settings, emit, printing):
    __tracebackhide__ = True
    values = {name: record.draw(strategy) for name, strategy in rule.arguments.items()}
    emit("state.{}({})".format(rule.name, ", ".join(f"{k}={shown_repr(v)}" for k, v in values.items())))
    if not (printing or _run_state.trace is not None):
        rule.function(machine, **values)
        return
    # The step's interactive draws, numbered from 1, are shown under it.
    outer = getattr(record, "_data_draws", None)
    record._data_draws = draws = []
    try:
        rule.function(machine, **values)
    finally:
        record._data_draws = outer
        for text in draws:
            emit(text)


def _add_note(exc, text):
    """The runner's way to add a line of the report to the failure ``exc``."""
    add_note(exc, text)


class _Shown:
    """A verbose run's printing of state machines: the steps of each example,
    once the example is over. An example stopped early (out of choices,
    rejected, interrupted) is not shown."""

    def __init__(self):
        self.log = VerboseLog("Trying example:\n", "Shrunk example to:\n")

    def run(self, runner, data):
        __tracebackhide__ = True
        trace = []
        saved, _run_state.trace = _run_state.trace, trace
        try:
            runner(data)
        except Exception as e:
            self._show(trace, data, e)
            raise
        else:
            self._show(trace, data, None)
        finally:
            _run_state.trace = saved

    def _show(self, trace, data, exc):
        steps = "\n".join(trace)
        if self.log.trying(steps) and exc is not None:
            self.log.failed(steps, data.brindlemar_data, exc)


# ---------------------------------------------------------------------------
# Running a machine as a test


def _replay_of(factory):
    """The steps that @reproduce_failure above this very class asks to replay
    (not above a base class: a subclass is another machine)."""
    return getattr(factory, "__dict__", {}).get("_quorvantis_reproduce")


def run_state_machine_as_test(state_machine_factory, *, settings=None):
    """Run random sequences of rules of the machine; raise the minimal failure
    (each distinct one, together, with the setting report_multiple_bugs).

    Each failing sequence is shrunk by the engine, then replayed once more as
    a final run, whose error carries the printed steps as notes and a
    ``@reproduce_failure`` line that replays them.
    """
    __tracebackhide__ = True  # pytest shows the machine's frames, not the runner's
    _run_machine(state_machine_factory, settings, _replay_of(state_machine_factory))


def _run_machine(state_machine_factory, settings, reproduce):
    __tracebackhide__ = True
    if settings is None:
        # @settings above the machine's class applies to every run of it.
        settings = getattr(state_machine_factory, "_quorvantis_settings", None)
    s = settings if settings is not None else Settings()
    if not callable(state_machine_factory):
        raise InvalidArgument(
            f"state_machine_factory={state_machine_factory!r} must be callable")
    runner = _engine.StatefulRunner(state_machine_factory, s, 0, None)
    shown = _Shown() if s.verbosity >= Verbosity.verbose else None

    def run_steps(data):
        __tracebackhide__ = True
        saved = control.swap_notes_to(control.Example(data.brindlemar_data))
        try:
            if shown is None:
                runner(data)
            else:
                shown.run(runner, data)
        finally:
            control.swap_notes_to(saved)

    def reported(replayed):
        (data,), exc = replayed
        return end_report(exc, data.brindlemar_data)

    def final_error(args, exc):
        """The error to report for a failure the run returned, replayed from
        its own steps so that its report shows them."""
        __tracebackhide__ = True
        if is_flaky(exc):  # the engine already found that it does not reproduce
            return exc
        # No choices at all is a failure too: an invariant that fails before
        # the first step, or a teardown that fails after none.
        choices = list(args[0].brindlemar_data.choices)
        with running(final=True, verbosity=s.verbosity):
            replayed = _engine.reproduce_native(run_steps, strategies, choices)
        if replayed is None:
            return FlakyBaseFailure(not_reproduced_message(name, "sequence of steps", "its steps"), [exc])
        return failed_otherwise(name, "sequence of steps", exc, replayed[1]) or reported(replayed)

    strategies = [_engine.data()]
    name = getattr(state_machine_factory, "__name__", "state_machine")
    if reproduce is not None:
        blob, choices = reproduce
        with running(final=True, verbosity=s.verbosity):
            replayed = _engine.reproduce_native(run_steps, strategies, list(choices), exact=True)
        if not isinstance(replayed, tuple):
            raise replay_passed(name, blob, "steps", "machine", replayed)
        raise reported(replayed)
    with warning_on_errors(s.engine_arguments(machine_key(state_machine_factory))) as arguments:
        with running(final=False, verbosity=s.verbosity):
            failures = _engine.run_native(run_steps, strategies, test_name=name, **arguments)
        if failures:
            # Stored sequences of several origins come back each shrunk, and
            # so may failures of other origins met while shrinking, simpler
            # than the one shrunk (whose steps minimal_choices() holds): each
            # is replayed from its own steps. Without report_multiple_bugs
            # only the simplest is reported.
            raise_failures(name, failures, final_error, s.report_multiple_bugs)
