"""The test decorator: hands a test and its strategies to the native engine,
then replays each failure it returns once more and reports it.

Every frame of this module sets ``__tracebackhide__``, so pytest shows a
failure from the user's test down, without the runner in between.
"""

import base64
import binascii
import functools
import inspect
import sys
import time

from quorvantis_fast import _engine, control
from quorvantis_fast.database import warning_on_errors
from quorvantis_fast.errors import DeadlineExceeded, Flaky, FlakyBaseFailure, InvalidArgument
from quorvantis_fast.formatting import add_note, shown_repr, shown_str
from quorvantis_fast.keys import call_key, owner_of
from quorvantis_fast.settings import (
    Verbosity, awaited_test, given_test_of, present_stand_in, wraps_a_stand_in)
from quorvantis_fast.settings import settings as Settings

__all__ = ["given", "reproduce_failure"]

_DEFAULT_SETTINGS = Settings()

# Drawn ahead of the test's own strategies for every example. It makes no
# choice, so the examples are those of the test's strategies alone; the
# handle it gives leads to the example's record, whose choices and notes of
# interactive draws the report needs.
_RECORD_HANDLE = _engine.data()

# While searching, an example fails the deadline only when it is this much
# slower than the deadline; the replay that confirms a failure holds it to
# the deadline itself, so a test near the limit does not fail by chance.
_SEARCH_DEADLINE_SLACK = 1.25


def _settings_of(test):
    found = getattr(test, "_quorvantis_settings", None)
    return _DEFAULT_SETTINGS if found is None else found


def _call_text(name, names, args):
    parts = ", ".join(f"{n}={shown_repr(a)}" for n, a in zip(names, args))
    return f"{name}({parts})"


def _origin(exc):
    """What tells two failures apart: the error's type and the line it was raised on."""
    tb = exc.__traceback__
    while tb is not None and tb.tb_next is not None:
        tb = tb.tb_next
    return type(exc).__name__, (tb.tb_lineno if tb is not None else -1)


# The kinds of choices, in the order in which the engine ranks them.
_CHOICE_KINDS = ("boolean", "integer", "float", "string", "bytes")


def _simpler(record, other):
    """Whether the choices of ``record`` come before those of ``other`` in
    the engine's order of failures: fewer choices first, then the first
    choice that differs, by its kind and then by its index under the
    constraints it was drawn with (the order in which the shrinker makes
    choices simpler). A choice without an index ranks after the others of
    its kind. Only the pairs up to the first that differs are compared."""
    nodes, others = list(record.nodes), list(other.nodes)
    if len(nodes) != len(others):
        return len(nodes) < len(others)
    for a, b in zip(nodes, others):
        if a.type != b.type:
            return _CHOICE_KINDS.index(a.type) < _CHOICE_KINDS.index(b.type)
        order = _engine.choice_index_order(a.value, a.constraints, b.value, b.constraints)
        if order:
            return order < 0
    return False


def simplest_failure(failures):
    """Of the (arguments, exception) pairs that a run returned, whose first
    argument is the record handle, the one whose example comes first in the
    engine's order of failures (the first of equals)."""
    best = failures[0]
    for failure in failures[1:]:
        if _simpler(failure[0][0].brindlemar_data, best[0][0].brindlemar_data):
            best = failure
    return best


class VerboseLog:
    """What a verbose run prints: each example once (shrinking tries some
    again), then the first failure of each origin, and each failing example
    of that origin smaller than the smallest so far, which is what
    shrinking makes progress with."""

    def __init__(self, trying, shrunk):
        self.headings = trying, shrunk  # each printed before an example's text
        self.shown = set()
        self.smallest = {}  # failure origin -> record of the smallest example seen failing

    def trying(self, text):
        """Print ``text`` unless it was printed before; True when it is printed."""
        if text in self.shown:
            return False
        self.shown.add(text)
        print(self.headings[0] + text)
        return True

    def failed(self, text, record, exc):
        """Tell of the failure ``exc`` of the example ``text`` just printed."""
        origin = _origin(exc)
        best = self.smallest.get(origin)
        if best is None:
            print(f"  failed with {type(exc).__name__}: {shown_str(exc)}")
        elif _simpler(record, best):
            print(self.headings[1] + text)
        else:
            return
        self.smallest[origin] = record


def _is_strategy(obj):
    if isinstance(obj, _engine.SearchStrategy):
        return True
    from quorvantis_fast.strategies import _real_quorvantis

    upstream = getattr(getattr(_real_quorvantis, "strategies", None), "SearchStrategy", None)
    return upstream is not None and isinstance(obj, upstream)


def _check_strategy(name, obj):
    if _is_strategy(obj):
        return
    hint = ""
    if isinstance(obj, type):
        hint = f"; for values of a type, use st.from_type({obj.__name__})"
    elif callable(obj):
        hint = f"; it must be called: {getattr(obj, '__name__', 'strategy')}(...)"
    raise InvalidArgument(f"given() argument {name}={shown_repr(obj)} is not a strategy{hint}")


def _check_test_function(test):
    name = getattr(test, "__name__", None) or shown_repr(test)
    if inspect.iscoroutinefunction(test) or inspect.isasyncgenfunction(test):
        raise InvalidArgument(
            f"{name} is an async function: given() calls the test and nothing would await "
            "it, so its body would never run. Write the test as a plain function")
    if inspect.isgeneratorfunction(test):
        raise InvalidArgument(
            f"{name} is a generator function: calling it does not run its body, so it "
            "could check nothing. Remove the yield")


def _refuse_result(name, result):
    __tracebackhide__ = True
    if inspect.iscoroutine(result) or inspect.isgenerator(result):
        result.close()  # never run; closing it spares the 'never awaited' warning
        raise InvalidArgument(
            f"{name} returned {shown_repr(result)} instead of running: an async or generator test "
            "checks nothing under given()")
    raise InvalidArgument(
        f"{name} returned {shown_repr(result)}; a test checks with assert and returns None "
        "(was an assert forgotten?)")


class _Run:
    """One call of a decorated test: runs examples and turns failures into reports."""

    def __init__(self, test, name, args, kwargs, names, strategies, s):
        self.test = test
        self.strategies = strategies
        self.name = name
        self.args = args
        self.kwargs = kwargs
        self.names = names
        self.deadline = s.deadline
        self.deadline_slack = _SEARCH_DEADLINE_SLACK
        self.verbose = s.verbosity >= Verbosity.verbose
        self.capture = False
        self.text = None  # the arguments of the last example, as text, taken before the call
        self.runtime = None  # milliseconds the last example took, draws excluded
        self.log = VerboseLog("Trying example: ", "Shrunk example to ") if self.verbose else None
        self.record = None  # that of the example while the test runs on it, for note()
        self.failed = None  # the record of the last example whose call raised
        self.lead = None  # see pass_positionally

    def pass_positionally(self, params):
        """Call the test with its positional-only ``params`` passed by position.

        Each comes from the arguments passed through (which fill the
        parameters the runner shows in order), from a keyword of its name
        (a convenience for a caller that names it: pytest passes none of
        them, as it supplies fixtures only to parameters that take a
        keyword), from a strategy, or from its default.
        ``lead`` holds, per parameter, the index of the drawn value or None
        with the value itself.
        """
        shown = [p.name for p in params if p.name not in self.names]
        passed = dict(zip(shown, self.args))
        kwargs = dict(self.kwargs)
        lead = []
        for p in params:
            if p.name in self.names:
                lead.append((self.names.index(p.name), None))
            elif p.name in passed:
                lead.append((None, passed[p.name]))
            elif p.name in kwargs:
                lead.append((None, kwargs.pop(p.name)))
            elif p.default is not p.empty:
                lead.append((None, p.default))
            else:
                raise TypeError(f"{self.name}() missing required positional argument: {p.name!r}")
        self.lead, self.args, self.kwargs = lead, self.args[len(passed):], kwargs
        only = {p.name for p in params}
        self.by_keyword = [(i, n) for i, n in enumerate(self.names) if n not in only]

    def example(self, handle, *drawn):
        """Run the test on one drawn example (the engine's test callable)."""
        __tracebackhide__ = True
        self.text = self.runtime = None
        if self.capture or self.verbose:
            self.text = _call_text(self.name, self.names, drawn)
        fresh = self.verbose and self.log.trying(self.text)
        self.record = handle.brindlemar_data
        try:
            self._timed_call(drawn)
        except BaseException as e:
            # Whatever it raised, a flaky error of the engine may be about
            # this call (its replay of a failure).
            self.failed = self.record
            if fresh and isinstance(e, Exception):
                self.log.failed(self.text, handle.brindlemar_data, e)
            raise
        finally:
            self.record = None

    def _timed_call(self, drawn):
        __tracebackhide__ = True
        draws_before = _engine.draw_secs()
        start = time.perf_counter()
        if self.lead is None:
            result = self.test(*self.args, **self.kwargs, **dict(zip(self.names, drawn)))
        else:
            result = self.test(*[v if i is None else drawn[i] for i, v in self.lead], *self.args,
                               **self.kwargs, **{n: drawn[i] for i, n in self.by_keyword})
        elapsed = time.perf_counter() - start - (_engine.draw_secs() - draws_before)
        self.runtime = elapsed * 1000.0
        if result is not None:
            _refuse_result(self.name, result)
        if self.deadline is not None and self.runtime > self.deadline * self.deadline_slack:
            raise DeadlineExceeded(self.runtime, self.deadline)

    def replay(self, choices, exact=False):
        """Run exactly the example of ``choices`` once more, judged for the report
        (``exact``: see ``reproduce_native``)."""
        __tracebackhide__ = True
        self.capture = True
        self.deadline_slack = 1.0
        return _engine.reproduce_native(self.example, [_RECORD_HANDLE, *self.strategies], choices,
                                        exact=exact)

    def final_error(self, args, exc):
        """The error to report for a failure the engine returned."""
        __tracebackhide__ = True
        if is_flaky(exc):  # the engine already found that it does not reproduce
            return self.show_example(exc, args[0].brindlemar_data)
        replayed = self.replay(list(args[0].brindlemar_data.choices))
        if replayed is None:
            if self.text is not None:
                _note_example(exc, self.text)
            return FlakyBaseFailure(self._flaky_message(exc), [exc])
        flaky = failed_otherwise(self.name, "example", exc, replayed[1])
        if flaky is not None:
            _note_example(flaky, self.text)
            return flaky
        return self.annotate(*replayed)

    def show_example(self, flaky, record):
        """Add to the error ``flaky`` the example of ``record`` that it is
        about, drawn again from its choices without calling the test (which
        no longer behaves alike on it)."""
        shown = []

        def draw_only(handle, *drawn):
            shown.append(_call_text(self.name, self.names, drawn))

        try:
            _engine.reproduce_native(draw_only, [_RECORD_HANDLE, *self.strategies], list(record.choices))
        except Exception:
            pass  # drawn otherwise this time: the error stands without its example
        if shown:
            _note_example(flaky, shown[0])
        return flaky

    def _flaky_message(self, exc):
        if isinstance(exc, DeadlineExceeded) and self.runtime is not None:
            return (f"{self.name} took {exc.runtime_ms:.2f} ms on an example, over its deadline "
                    f"of {exc.deadline_ms:.2f} ms, but only {self.runtime:.2f} ms when the same "
                    "example was run again. If its timing varies this much, raise the "
                    "deadline or set deadline=None")
        return not_reproduced_message(self.name, "example", "its arguments")

    def annotate(self, args, exc):
        """Add the report to the error of a replayed failure."""
        _note_example(exc, self.text)
        for note in args[0]._drawn_notes:
            add_note(exc, note)
        return end_report(exc, args[0].brindlemar_data)


def _note_example(exc, text):
    """Add to ``exc`` the line of a report that shows the example ``text``."""
    add_note(exc, "Falsifying example: " + text)


def end_report(exc, record):
    """Add the notes that end a report to ``exc``: what was noted while the
    example of ``record`` ran, then the line that replays that example."""
    for text in control.notes_of(record):
        add_note(exc, text)
    blob = base64.b64encode(_engine.choices_to_bytes(record.choices)).decode("ascii")
    add_note(exc, f"@reproduce_failure({blob!r})")
    return exc


def replay_passed(name, blob, example, changed, misfit=None):
    """The error of a ``@reproduce_failure`` whose ``example`` did not fail:
    ``misfit`` says how the blob does not fit the draws of the ``changed``
    (test or machine); None when it fits and the example passed."""
    if misfit is not None:
        return InvalidArgument(
            f"{name}: @reproduce_failure({blob!r}) does not fit the draws of this {changed}: "
            f"{misfit}. The blob was made for another {changed}, or for an earlier version of "
            "this one")
    return Flaky(f"{name} passed on the {example} of @reproduce_failure({blob!r}): the failure "
                 f"does not reproduce (have the {changed} or its strategies changed since?)")


def not_reproduced_message(name, example, inputs):
    """What a FlakyFailure says when a failure passed on replaying the same ``example``."""
    return (f"{name} failed, but passed when the same {example} was run again, so the "
            f"failure does not reproduce. Does the test depend on something besides {inputs}, "
            "such as time, randomness or state left by earlier examples?")


def failed_otherwise(name, example, exc, again):
    """The error of a failure ``exc`` whose ``example``, run again, failed with
    ``again`` of another origin; None when ``again`` is of the same one."""
    if _origin(again) == _origin(exc):
        return None
    return FlakyBaseFailure(
        f"{name} failed with {type(exc).__name__}, but when the same {example} was run again it "
        f"failed with {type(again).__name__}", [exc, again])


def is_flaky(exc):
    """Whether ``exc`` is the error of a failure found not to reproduce: ours,
    or the upstream library's FlakyFailure, which the engine tries first."""
    upstream = getattr(sys.modules.get("quorvantis.errors"), "FlakyFailure", None)
    return isinstance(exc, (Flaky, FlakyBaseFailure)) or (isinstance(upstream, type) and isinstance(exc, upstream))


def raise_failures(name, failures, final_error, every):
    """Raise the report of the (arguments, exception) pairs that a run
    returned, each turned into the error to report by ``final_error``: every
    one of them with ``every`` (the setting report_multiple_bugs), else the
    simplest alone. One error is raised as it is, several together."""
    __tracebackhide__ = True
    if not every:
        failures = [simplest_failure(failures)]
    errors = [final_error(args, exc) for args, exc in failures]
    if len(errors) == 1:
        raise errors[0]
    # An ExceptionGroup when every error is an Exception.
    raise BaseExceptionGroup(f"{name} found {len(errors)} distinct failures",
                             [_from_the_test_down(e) for e in errors])


def _from_the_test_down(exc):
    """``exc`` without the runner's frames (those that set ``__tracebackhide__``)
    at the start of its traceback: pytest shows the errors of a group as
    Python does, without hiding them."""
    tb = exc.__traceback__
    while tb is not None and tb.tb_next is not None and tb.tb_frame.f_locals.get("__tracebackhide__"):
        tb = tb.tb_next
    return exc.with_traceback(tb)


def _positional(params):
    """The parameters that positional strategies may fill, in order."""
    return [p for p in params if p.kind in (p.POSITIONAL_ONLY, p.POSITIONAL_OR_KEYWORD)]


def _mock_sentinels():
    return {getattr(sys.modules.get(m), "DEFAULT", None) for m in ("unittest.mock", "mock")} - {None}


def _mocks_added(test):
    """What the ``mock.patch`` decorators of ``test`` add to each call: the
    number of mocks they pass by position (one for each plain patch that
    makes its own mock), and the names of those they pass by keyword
    (``mock.patch.multiple``). Every layer of wrappers down to the function
    whose signature ``test`` shows is looked at, each list of patches once
    (``functools.wraps`` copies the list onto the wrappers above)."""
    sentinels = _mock_sentinels()
    positional, by_keyword, seen, layers, layer = 0, [], set(), set(), test
    while layer is not None and sentinels and id(layer) not in layers:
        layers.add(id(layer))
        patchings = getattr(layer, "patchings", None)
        if isinstance(patchings, list) and id(patchings) not in seen:
            seen.add(id(patchings))
            for p in patchings:
                if getattr(p, "attribute_name", None) is None:
                    if getattr(p, "new", None) in sentinels:
                        positional += 1
                    continue
                for q in [p, *getattr(p, "additional_patchers", ())]:
                    if getattr(q, "new", None) in sentinels:
                        by_keyword.append(q.attribute_name)
        if hasattr(layer, "__signature__"):
            break  # inspect.signature stops here too
        layer = getattr(layer, "__wrapped__", None)
    return positional, by_keyword


def _shown(params, names, mocks):
    """The parameters the test shows its caller (pytest finds fixtures by
    them): those no strategy fills (``names``) and no mock of ``mocks``
    (see ``_mocks_added``) fills, the positional ones taken after a method's
    ``self``."""
    positional, by_keyword = mocks
    shown = [p for p in params if p.name not in names and p.name not in by_keyword]
    first = 1 if shown and shown[0].name in ("self", "cls") else 0
    filled = [p for p in shown[first:] if p.kind in (p.POSITIONAL_ONLY, p.POSITIONAL_OR_KEYWORD)][:positional]
    return [p for p in shown if p not in filled]


def _bind(test, name, arg_strategies, kw_strategies):
    """The test's signature, and the parameter names its strategies fill, in order."""
    if getattr(test, "is_quorvantis_test", False):
        raise InvalidArgument(f"@given was applied twice to {name}; apply it once")
    if wraps_a_stand_in(test):
        raise InvalidArgument(
            f"a decorator between @given and @settings wraps {name}, and given() would run "
            "the test without it: put that decorator below @settings, or @settings above @given")
    if not arg_strategies and not kw_strategies:
        raise InvalidArgument("given() needs at least one strategy")
    _check_test_function(test)
    sig = inspect.signature(test)
    positional = _positional(sig.parameters.values())
    if len(arg_strategies) > len(positional):
        raise InvalidArgument(
            f"given() has {len(arg_strategies)} positional strategies but "
            f"{name} takes only {len(positional)} positional arguments")
    names = [p.name for p in positional[len(positional) - len(arg_strategies):]]
    for arg in kw_strategies:
        if arg not in sig.parameters:
            raise InvalidArgument(f"{name} has no argument {arg!r}")
        if arg in names:
            raise InvalidArgument(f"argument {arg!r} was given two strategies")
    names += list(kw_strategies)
    strategies = list(arg_strategies) + list(kw_strategies.values())
    for arg, strategy in zip(names, strategies):
        _check_strategy(arg, strategy)
    return sig, names, strategies


def _refusing(test, error, arg_count, kw_names):
    """A stand-in for a test that given() cannot run: calling it raises ``error``.

    Raising when the test runs rather than when the module is imported lets
    pytest report this one test and run the others (an error at import stops
    the collection of every test). The stand-in keeps every parameter that no
    strategy for a parameter of the test would have filled, so that pytest
    collects it as it would the test, parametrize included; the package's
    pytest plugin raises ``error`` (held as ``_quorvantis_refusal``) before
    pytest looks for fixtures, some of which were meant for strategies.
    """
    try:
        params = list(inspect.signature(test).parameters.values())
    except (TypeError, ValueError):
        params = []
    # The positional strategies were meant for the last positional parameters
    # that no keyword strategy names: when one names a parameter they also
    # fill, the caller must not be asked for the one before it (pytest would
    # report a missing fixture, not this error).
    positional = [p for p in _positional(params) if p.name not in kw_names]
    filled = {p.name for p in positional[max(0, len(positional) - arg_count):]}
    filled.update(kw_names)
    kept = _shown(params, filled, _mocks_added(test)) if arg_count or kw_names else []

    @functools.wraps(test)
    def refuse(*args, **kwargs):
        __tracebackhide__ = True
        raise error.with_traceback(None)

    refuse.is_quorvantis_test = True
    refuse._quorvantis_refusal = error
    return present_stand_in(refuse, test, inspect.Signature(kept))


# What a stand-in of ours holds for itself, rather than for the test (the
# patches it copied from the test it wraps: see ``settings.present_stand_in``).
_STAND_IN_OWN = frozenset({"__wrapped__", "__signature__", "_quorvantis_awaits_given",
                           "_quorvantis_settings", "patchings"})


def _carry_over(stand_in, test):
    """Give ``test`` what was set on the stand-in that ``@settings`` below
    ``@given`` returned (pytest marks, attributes of decorators in between)."""
    if hasattr(stand_in, "_quorvantis_awaits_given"):
        for key, value in getattr(stand_in, "__dict__", {}).items():
            if key not in _STAND_IN_OWN:
                setattr(test, key, value)
    return test


def given(*arg_strategies, **kw_strategies):
    """Run the decorated test over examples drawn from the given strategies.

    Positional strategies fill the test's last positional parameters in order
    (so ``self`` and fixtures may come first); keyword strategies fill the
    parameters of those names. Parameters left over are passed through, so
    pytest can still supply fixtures for them. Each failure is shrunk to a
    minimal example, run once more to confirm it, and raised with notes: the
    example's arguments, its interactive draws, and a ``@reproduce_failure``
    line that replays exactly that example.

    A test that cannot be run this way (a strategy that is not one, an async
    test, ...) raises ``InvalidArgument`` when it is called.
    """

    def decorate(test):
        # @settings below @given hands over the test it was applied to.
        stand_in = test
        settings_below = getattr(test, "_quorvantis_settings", None)
        test = awaited_test(test)
        owner, _ = owner_of(test)
        name, qualname = getattr(owner, "__name__", "test"), getattr(owner, "__qualname__", "test")
        try:
            sig, names, strategies = _bind(test, name, arg_strategies, kw_strategies)
        except InvalidArgument as e:
            return _carry_over(stand_in, _refusing(test, e, len(arg_strategies), kw_strategies))
        params = list(sig.parameters.values())
        positional_only = [p for p in params if p.kind is p.POSITIONAL_ONLY]

        @functools.wraps(test)
        def run(*args, **kwargs):
            __tracebackhide__ = True
            s = _settings_of(run)
            state = _Run(test, name, args, kwargs, names, strategies, s)
            if positional_only:
                state.pass_positionally(positional_only)
            saved = control.swap_notes_to(state)  # the test's note() calls go to its examples
            try:
                reproduce = getattr(run, "_quorvantis_reproduce", None)
                if reproduce is not None:
                    blob, choices = reproduce
                    replayed = state.replay(list(choices), exact=True)
                    if not isinstance(replayed, tuple):
                        raise replay_passed(name, blob, "example", "test", replayed)
                    raise state.annotate(*replayed)
                with warning_on_errors(s.engine_arguments(call_key(run, test, qualname, args))) as arguments:
                    try:
                        failures = _engine.run_native(
                            state.example, [_RECORD_HANDLE, *strategies], names=["_record", *names],
                            test_name=name, **arguments)
                    except BaseException as e:
                        # A failure that failed otherwise when run again: the
                        # example is that of the last failing call.
                        if is_flaky(e) and state.failed is not None:
                            state.show_example(e, state.failed)
                        raise
                    if failures:
                        # Stored failures are all replayed first, and each origin that
                        # still fails comes back; without report_multiple_bugs only the
                        # simplest is reported.
                        raise_failures(name, failures, state.final_error, s.report_multiple_bugs)
            finally:
                control.swap_notes_to(saved)

        present_stand_in(_carry_over(stand_in, run), test,
                 sig.replace(parameters=_shown(params, names, _mocks_added(test))))
        run.__name__, run.__qualname__ = name, qualname
        run.is_quorvantis_test = True
        run._quorvantis_given_test = run  # reached through a wrapper's copy of it too
        if settings_below is not None:
            run._quorvantis_settings = settings_below
        return run

    return decorate


def reproduce_failure(blob):
    """Replay exactly the example of a reported failure (place above ``@given``,
    or above a state machine class or its ``TestCase``).

    ``blob`` is the text of the ``@reproduce_failure(...)`` line of a failure
    report. The decorated test then runs that one example (a state machine,
    that sequence of steps) and raises its failure; it raises ``Flaky`` when
    the example passes, and ``InvalidArgument`` when the blob's choices do not
    fit the test's draws (a blob made for another test).
    """
    try:
        raw = base64.b64decode(blob, validate=True)
    except (binascii.Error, TypeError, ValueError):
        raw = None
    choices = None if raw is None else _engine.choices_from_bytes(raw)
    if choices is None:
        raise InvalidArgument(
            f"reproduce_failure({blob!r}): the blob does not decode; copy it whole from the "
            "@reproduce_failure line of a failure report")

    def accept(test):
        machine = isinstance(test, type) and getattr(test, "_quorvantis_state_machine", False)
        if not (machine or getattr(test, "is_quorvantis_test", False)):
            raise InvalidArgument(
                "@reproduce_failure must be placed above @given, or above a state machine "
                "class or its TestCase")
        given_test_of(test)._quorvantis_reproduce = (blob, choices)
        return test

    return accept
