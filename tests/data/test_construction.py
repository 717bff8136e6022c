import threading

import pytest

from quorvantis_fast import _engine
from quorvantis_fast._engine import BrindlemarData

from qf_testing import Simplest, SimplestWithoutCount, seeded_record as seeded


def test_new_record_starts_valid_with_root_span_open():
    d = BrindlemarData()
    assert (d.status, d.frozen, d.max_depth, d.length, d.testcounter) == (2, False, 0, 0, 0)
    assert d.max_length == 8192
    assert d.choices == () and d.output == ""
    assert repr(d) == "BrindlemarData(Status=2, 0 choices)"
    # The root span is open: freezing closes exactly one span.
    d.freeze()
    assert d.frozen


def test_same_seed_same_draws_and_other_seed_differs():
    def draws(seed):
        d = seeded(seed)
        return [d.draw_integer() for _ in range(20)] + [d.draw_float() for _ in range(5)]

    assert draws(7) == draws(7)
    assert draws(7) != draws(8)


@pytest.mark.parametrize(
    "bits",
    [lambda n: -1, lambda n: 2**64, lambda n: "x", lambda n: 1.5, None],
)
def test_unusable_random_falls_back_to_a_fresh_seed(bits):
    class R:
        pass

    r = R()
    if bits is not None:
        r.getrandbits = bits
    d = BrindlemarData(random=r)
    assert d.draw_integer(0, 10) in range(11)


def test_max_choices_conversion_errors():
    with pytest.raises(OverflowError):
        BrindlemarData(max_choices=-1)
    with pytest.raises(OverflowError):
        BrindlemarData(max_choices=2**64)
    with pytest.raises(TypeError, match="argument 'max_choices': "):
        BrindlemarData(max_choices="3")
    with pytest.raises(TypeError):
        BrindlemarData(5)  # keyword-only
    with pytest.raises(TypeError):
        BrindlemarData(bogus=1)


def test_ignored_arguments_are_accepted():
    d = BrindlemarData(observer=object(), provider=object(), provider_kw={"a": 1})
    assert d.status == 2


def test_prefix_must_be_iterable_and_its_errors_propagate():
    with pytest.raises(TypeError):
        BrindlemarData(prefix=5)

    def broken():
        yield 1
        raise ZeroDivisionError

    with pytest.raises(ZeroDivisionError):
        BrindlemarData(prefix=broken())

    class BadCount:
        type = "simplest"

        @property
        def count(self):
            raise KeyError("count")

    with pytest.raises(KeyError):
        BrindlemarData(prefix=[BadCount()])


class TestForChoicesLimit:
    """max_choices of for_choices: values count 1, counted templates their count."""

    def limit(self, prefix):
        d = BrindlemarData.for_choices(prefix)
        n = 0
        try:
            while True:
                d.draw_boolean()
                n += 1
        except BaseException as e:  # StopTest
            assert type(e).__name__ == "StopTest"
        return n, d

    def test_plain_values(self):
        assert self.limit([True, False, True])[0] == 3

    def test_counted_template_adds_its_count(self):
        n, d = self.limit([True, True, True, Simplest(5)])
        assert n == 8
        assert d.choices[3:] == (False,) * 5

    def test_negative_count_adds_nothing(self):
        assert self.limit([True, True, True, Simplest(-4)])[0] == 3

    def test_template_without_count_means_no_limit(self):
        d = BrindlemarData.for_choices([1, Simplest(None), 2])
        for _ in range(300):
            d.draw_integer(0, 5)
        assert d.choices[0] == 1 and set(d.choices[1:]) == {0}

    def test_sum_saturates_instead_of_wrapping(self):
        # Two counts whose sum passes 2**64 must not wrap to a small limit.
        big = 2**63 - 1
        d = BrindlemarData.for_choices([Simplest(big), Simplest(big), Simplest(big), True])
        for _ in range(50):
            d.draw_boolean()
        assert len(d.choices) == 50

    def test_for_choices_on_subclass_gives_base_class(self):
        class Sub(BrindlemarData):
            pass

        assert type(Sub.for_choices([])) is BrindlemarData
        assert type(Sub()) is Sub


def test_template_count_parsing():
    # None, a float, an out-of-range int: a template without a count.
    for count in (None, 1.5, 2**70):
        d = BrindlemarData(prefix=[Simplest(count)])
        for _ in range(20):
            assert d.draw_integer(3, 9) == 3
    # "simplest" without a count attribute is an ordinary value, replayed once
    # (and misaligned for an integer draw).
    d = BrindlemarData(prefix=[SimplestWithoutCount()])
    assert d.draw_integer(4, 9) == 4
    assert d.misaligned_at is True


def test_subclass_can_carry_attributes():
    class Sub(BrindlemarData):
        def __init__(self, tag, **kw):
            self.tag = tag

        def extra(self):
            return self.tag * 2

    s = Sub.__new__(Sub)
    s.__init__(3)
    assert s.extra() == 6
    s.anything = [1]
    assert s.anything == [1]
    assert s.draw_integer(0, 0) == 0
    plain = BrindlemarData()
    plain.note_to_self = "x"
    assert plain.__dict__ == {"note_to_self": "x"}


class TestBufferLimit:
    def test_limit_applies_to_later_records_only(self):
        before = BrindlemarData()
        _engine.set_buffer_limit(10)
        after = BrindlemarData()
        assert (before.max_length, after.max_length) == (8192, 10)
        _engine.clear_buffer_limit()
        _engine.clear_buffer_limit()  # harmless twice
        assert BrindlemarData().max_length == 8192

    def test_bad_limits_keep_previous(self):
        _engine.set_buffer_limit(20)
        with pytest.raises(OverflowError):
            _engine.set_buffer_limit(-1)
        with pytest.raises(TypeError, match="argument 'limit'"):
            _engine.set_buffer_limit("5")
        assert BrindlemarData().max_length == 20

    def test_limit_is_per_thread(self):
        _engine.set_buffer_limit(10)
        seen = {}
        started = threading.Event()
        go_on = threading.Event()

        def other():
            seen["first"] = BrindlemarData().max_length
            _engine.set_buffer_limit(33)
            started.set()
            go_on.wait()
            seen["second"] = BrindlemarData().max_length

        t = threading.Thread(target=other)
        t.start()
        started.wait()
        # The other thread's limit does not leak into this one.
        assert BrindlemarData().max_length == 10
        go_on.set()
        t.join()
        assert seen == {"first": 8192, "second": 33}

    def test_length_reaching_the_limit_then_overruns(self, errors):
        _engine.set_buffer_limit(10)
        d = BrindlemarData()
        for _ in range(5):
            d.draw_integer(0, 0)  # 2 bytes each: exactly 10
        assert d.length == 10 and d.status == 2
        with pytest.raises(errors.StopTest):
            d.draw_boolean(observe=False)
        assert d.status == 0 and d.frozen

    def test_zero_limit_overruns_every_draw(self, errors):
        _engine.set_buffer_limit(0)
        with pytest.raises(errors.StopTest):
            BrindlemarData().draw_boolean()
