"""map, flatmap and filter build nodes that compose."""

import sys
import types

import pytest

from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument
from qf_testing import UPSTREAM, needs_upstream, values


def double(x):
    return 2 * x


def has_true(xs):
    return True in xs


class TestMap:
    def test_applies_the_function(self):
        got = values(st.integers(0, 10).map(double), 100)
        assert got and all(v % 2 == 0 and 0 <= v <= 20 for v in got)

    @pytest.mark.skipif(UPSTREAM, reason="the upstream library recognises the identity")
    def test_identity_without_the_upstream_library_is_a_new_strategy(self):
        base = st.booleans()
        assert base.map(lambda x: x) is not base

    @needs_upstream
    def test_identity_returns_the_receiver(self):
        base = st.booleans()
        assert base.map(lambda x: x) is base


class TestFlatMap:
    def test_returning_a_value(self):
        with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got 3 \(type=int\)$"):
            values(st.just(3).flatmap(lambda n: n), 1)

    def test_repr(self):
        assert repr(st.booleans().flatmap(double)) == "booleans().flatmap(double)"


class TestFilter:
    def test_plain_filter_keeps_its_base(self):
        base = st.lists(st.booleans())
        assert repr(base.filter(has_true)) == "lists(booleans()).filter(has_true)"
        view = base.filter(has_true).wrapped_strategy
        assert view.condition == (has_true,)
        assert all(True in v for v in values(base.filter(has_true), 50))

    def test_compose(self):
        pairs = st.lists(
            st.tuples(st.one_of(st.integers(0, 9), st.none()), st.booleans()).filter(lambda t: t[0] != 5),
            max_size=4,
        ).map(lambda xs: [t for t in xs if t[1]])
        got = values(pairs, 200)
        assert got
        for xs in got:
            assert len(xs) <= 4
            for a, b in xs:
                assert b is True and a != 5 and (a is None or 0 <= a <= 9)

    def test_non_callables_fail_only_when_drawn(self):
        s = st.integers().map(5)
        with pytest.raises(TypeError):
            values(s, 1)
        t = st.integers().filter(None)
        with pytest.raises(TypeError):
            values(t, 1)


class Nameless:
    """Returns `result`; reading its name is interrupted."""

    def __init__(self, result):
        self.result = result

    def __call__(self, x):
        return self.result

    @property
    def __name__(self):
        raise KeyboardInterrupt


def test_an_interrupt_while_describing_or_reporting_a_draw_is_raised(monkeypatch):
    with pytest.raises(KeyboardInterrupt):
        repr(st.integers().map(Nameless(0)))
    with pytest.raises(KeyboardInterrupt):  # in the text of the filter's retry event
        st.BrindlemarData().draw(st.integers().filter(Nameless(False)))

    def interrupt(*args, **kwargs):
        raise KeyboardInterrupt

    control = types.ModuleType("quorvantis.control")
    context = types.SimpleNamespace(is_final=True, record_call=interrupt)
    control._current_build_context = types.SimpleNamespace(value=context)
    monkeypatch.setitem(sys.modules, "quorvantis.control", control)
    with pytest.raises(KeyboardInterrupt):  # reporting a map's call to the build context
        st.BrindlemarData().draw(st.integers().map(str))
