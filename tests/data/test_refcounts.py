"""Reference discipline: repeated calls, also failing ones, leave counts flat."""

import sys

from quorvantis_fast._engine import BrindlemarData, IntervalSet

from qf_testing import Unlimited


def flat(obj, fn, n=300):
    fn()  # warm caches
    before = sys.getrefcount(obj)
    for _ in range(n):
        fn()
    return sys.getrefcount(obj) - before


def swallow(fn, *exc):
    def run():
        try:
            fn()
        except exc or BaseException:
            pass

    return run


def test_records_and_their_contents_are_released():
    forced = object()
    weights = {3: 0.5}
    origin = object()
    alphabet = IntervalSet([(97, 122)])

    def one_record():
        d = BrindlemarData(prefix=[forced, Unlimited()])
        d.draw_integer(forced=forced)
        d.draw_integer(0, 9, weights=weights)
        d.draw_string(alphabet, max_size=3)
        d.note(forced)
        d.nodes, d.choices, d.events
        try:
            d.mark_interesting(origin)
        except BaseException:
            pass

    for obj in (forced, weights, origin, alphabet):
        assert flat(obj, one_record) == 0


def test_failing_calls_release_their_arguments():
    d = BrindlemarData()
    bad_weights = [1]
    key = object()
    values = ["a", "b"]
    assert flat(bad_weights, swallow(lambda: d.draw_integer(weights=bad_weights), TypeError)) == 0
    assert flat(key, swallow(lambda: d.choice(values, forced=key), ValueError)) == 0
    assert flat(values, swallow(lambda: d.choice(values, forced=key), ValueError)) == 0
    assert flat(key, swallow(lambda: d.draw_float(key), TypeError)) == 0


def test_overruns_release_everything(errors):
    value = object()

    def overrun():
        d = BrindlemarData.for_choices([value])
        d.draw_integer()
        try:
            d.draw_integer()
        except errors.StopTest:
            pass

    assert flat(value, overrun) == 0


def test_record_itself_is_not_leaked_by_views():
    d = BrindlemarData()
    d.draw_boolean()
    assert flat(d, lambda: (d.provider, d.nodes, d.choices, repr(d), d.events)) == 0


def test_making_records_does_not_leak_the_class():
    assert flat(BrindlemarData, lambda: BrindlemarData(), 200) == 0
    assert flat(BrindlemarData, lambda: BrindlemarData.for_choices([1]), 200) == 0


def test_runs_release_what_their_examples_held():
    from quorvantis_fast import _engine, native_strategies

    value = object()
    answers = [False, True]

    def condition(x):
        answers.append(answers.pop(0))
        return answers[-1]

    text = _engine.text(_engine.characters(codec="ascii"), max_size=2)
    probe = BrindlemarData()
    probe.draw(text)
    alphabet = probe.nodes[0].constraints["intervals"]  # what each text draw records
    del probe
    strategies = [_engine.just(value), text, _engine.lists(_engine.integers(0, 300), max_size=3).filter(condition)]

    def run():
        _engine.run_native(lambda *a: None, strategies, max_examples=20, seed=1)
        native_strategies._take_draw_events()

    for obj in (value, alphabet, condition):
        assert flat(obj, run, n=20) == 0
