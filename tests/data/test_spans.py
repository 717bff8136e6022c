import _thread
import signal
from itertools import repeat
from operator import itemgetter

import pytest

from quorvantis_fast._engine import BrindlemarData
from qf_testing import numpy_style_bool, stop_test_of


def test_freeze_closes_the_root_span_once():
    d = BrindlemarData()
    d.freeze()
    assert (d.frozen, d.status) == (True, 2)
    d.freeze()
    assert d.frozen


def test_max_depth_follows_spans():
    d = BrindlemarData()
    d.start_span(7)
    d.start_span(8)
    assert d.max_depth == 2
    d.stop_span()
    d.stop_span()
    d.start_span(7)
    assert d.max_depth == 2
    d.start_span(1)
    d.start_span(1)
    assert d.max_depth == 3


def test_discard_sets_has_discards():
    d = BrindlemarData()
    d.start_span(3)
    d.stop_span(discard=False)
    assert d.has_discards is False
    d.start_span(3)
    d.stop_span(discard=True)
    assert d.has_discards is True


@pytest.mark.parametrize("bad", [1, 0, None, "yes"])
def test_discard_must_be_a_bool(bad):
    d = BrindlemarData()
    d.start_span(1)
    with pytest.raises(TypeError, match="argument 'discard'"):
        d.stop_span(discard=bad)
    assert d.has_discards is False


def test_discard_takes_a_numpy_boolean_by_its_truth():
    d = BrindlemarData()
    d.start_span(1)
    d.stop_span(discard=numpy_style_bool(False))
    assert d.has_discards is False
    d.start_span(1)
    d.stop_span(discard=numpy_style_bool(True))
    assert d.has_discards is True
    for lookalike in (numpy_style_bool(True, module="numpyx"), numpy_style_bool(True, name="int_")):
        d.start_span(1)
        with pytest.raises(TypeError, match="argument 'discard'"):
            d.stop_span(discard=lookalike)


def test_stop_without_open_span_is_tolerated():
    d = BrindlemarData()
    d.stop_span()
    d.stop_span()
    d.freeze()  # nothing left to close
    assert d.frozen and d.max_depth == 0


def test_ender_raises_stoptest_with_counter_and_freezes():
    d = BrindlemarData()
    d.start_span(5)
    d.start_span(6)
    e = stop_test_of(d.mark_overrun)
    assert e.args == (0,) and e.testcounter == d.testcounter == 0
    assert (d.status, d.frozen) == (0, True)
    # spans are closed: a stop after the end changes nothing
    d.stop_span(discard=True)
    assert d.has_discards is False


def test_enders_on_an_ended_record_replace_status():
    d = BrindlemarData()
    stop_test_of(d.mark_invalid, "because")
    assert d.status == 1 and d.interesting_origin is None
    stop_test_of(d.mark_interesting, None)
    assert d.status == 3 and d.interesting_origin is None
    stop_test_of(d.conclude_test, 3, "x")
    assert d.interesting_origin == "x"
    stop_test_of(d.conclude_test, 7)
    assert d.status == 7 and d.interesting_origin is None
    assert repr(d) == "BrindlemarData(Status=7, 0 choices, frozen)"


def test_mark_interesting_keeps_its_origin():
    origin = object()
    d = BrindlemarData()
    stop_test_of(d.mark_interesting, origin)
    assert d.interesting_origin is origin


@pytest.mark.parametrize(
    "call, exc",
    [
        (lambda d: d.conclude_test(256), OverflowError),
        (lambda d: d.conclude_test(-1), OverflowError),
        (lambda d: d.conclude_test("2"), TypeError),
        (lambda d: d.mark_invalid(5), TypeError),
        (lambda d: d.mark_invalid("\ud800"), UnicodeEncodeError),
        (lambda d: d.mark_interesting(), TypeError),
        (lambda d: d.start_span(-1), OverflowError),
        (lambda d: d.start_span(2**64), OverflowError),
        (lambda d: d.start_span("a"), TypeError),
    ],
)
def test_bad_arguments_leave_the_record_open(call, exc):
    d = BrindlemarData()
    with pytest.raises(exc):
        call(d)
    assert (d.status, d.frozen) == (2, False)


def test_frozen_record_refuses_notes_and_spans(errors):
    d = BrindlemarData()
    d.freeze()
    with pytest.raises(errors.Frozen, match="Cannot call note on frozen BrindlemarData"):
        d.note("x")
    with pytest.raises(errors.Frozen, match="Cannot call start_span on frozen BrindlemarData"):
        d.start_span(1)
    # the argument is checked first
    with pytest.raises(OverflowError):
        d.start_span(-1)
    assert d.output == ""


class TestNote:
    def test_strings_and_reprs_concatenate(self):
        d = BrindlemarData()
        d.note("a")
        d.note(1)
        d.note(b"z")
        assert d.output == "a1b'z'"

    def test_lone_surrogate_becomes_three_replacements(self):
        d = BrindlemarData()
        d.note("a\ud800")
        assert d.output == "a" + "\ufffd" * 3

    def test_failing_repr_is_raised(self):
        class Bad:
            def __repr__(self):
                raise ValueError("no repr")

        d = BrindlemarData()
        with pytest.raises(ValueError):
            d.note(Bad())
        assert d.output == ""

    def test_failing_str_of_str_subclass_is_unraisable(self, monkeypatch):
        class S(str):
            def __str__(self):
                raise ValueError("no str")

        seen = []
        monkeypatch.setattr("sys.unraisablehook", lambda u: seen.append(u))
        d = BrindlemarData()
        d.note(S("q"))
        assert d.output == "<unprintable S object>"
        assert len(seen) == 1 and isinstance(seen[0].exc_value, ValueError)

    def test_an_interrupt_is_never_taken_for_an_unprintable_value(self):
        class S(str):
            def __str__(self):
                raise KeyboardInterrupt

        d = BrindlemarData.for_choices([])
        with pytest.raises(KeyboardInterrupt):
            d.note(S("x"))
        assert d.output == ""
        # A Ctrl-C pending when note() is called (map calls it from C, right
        # after the interrupt) leaves an exact str as it is.
        previous = signal.signal(signal.SIGINT, signal.default_int_handler)
        try:
            notes = map(d.note, map(itemgetter(1), zip(iter(_thread.interrupt_main, 1), repeat("x"))))
            with pytest.raises(KeyboardInterrupt):
                next(notes)
        finally:
            signal.signal(signal.SIGINT, previous)
        assert d.output == "x"

    def test_reentry_from_repr_is_refused(self):
        d = BrindlemarData()
        seen = []

        class Sneaky:
            def __repr__(self):
                for f in (lambda: d.note("x"), lambda: d.draw_boolean(), lambda: d.status, lambda: repr(d)):
                    try:
                        f()
                    except RuntimeError as e:
                        seen.append(str(e))
                return "ok"

        d.note(Sneaky())
        assert d.output == "ok"
        assert seen == ["Already borrowed", "Already borrowed", "Already mutably borrowed", "Already mutably borrowed"]
