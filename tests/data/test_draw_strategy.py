import sys
import types

import pytest

from quorvantis_fast import _engine
from quorvantis_fast._engine import BrindlemarData
from quorvantis_fast.errors import InvalidArgument


class Upstream:
    """A stand-in for the upstream control module: records what happens."""

    def __init__(self, active=False, lookup_error=LookupError):
        self.active = active
        self.lookup_error = lookup_error
        self.log = []
        outer = self

        class BuildContext:
            def __init__(self, data, *, wrapped_test):
                outer.log.append(("make", data, wrapped_test(1, k=2)))

            def __enter__(self):
                outer.log.append("enter")
                outer.active = True

            def __exit__(self, *exc):
                outer.log.append(("exit", exc))
                outer.active = False
                return True  # a swallowing __exit__ must not hide the draw's error

        self.BuildContext = BuildContext

    def current_build_context(self):
        if not self.active:
            raise self.lookup_error("no build context")
        return "ctx"


@pytest.fixture
def upstream(monkeypatch):
    def install(**kw):
        up = Upstream(**kw)
        mod = types.ModuleType("quorvantis.control")
        mod.current_build_context = up.current_build_context
        mod.BuildContext = up.BuildContext
        monkeypatch.setitem(sys.modules, "quorvantis", types.ModuleType("quorvantis"))
        monkeypatch.setitem(sys.modules, "quorvantis.control", mod)
        return up

    return install


class Foreign:
    def __init__(self, value=42, error=None):
        self.value, self.error, self.seen = value, error, []

    def do_draw(self, data):
        self.seen.append(data)
        if self.error:
            raise self.error
        return data.draw_integer(0, 0) + self.value


def test_foreign_draw_opens_a_context_when_none_is_active(upstream):
    up = upstream()
    d = BrindlemarData()
    s = Foreign()
    assert d.draw(s) == 42
    assert s.seen == [d]
    assert up.log[0] == ("make", d, None) and up.log[1:] == ["enter", ("exit", (None, None, None))]
    assert d.max_depth == 0  # no span around a foreign draw
    assert d._shared_strategy_draws == {}
    d.draw(s)
    assert len(up.log) == 6  # a new context each time


def test_foreign_draw_inside_an_active_context(upstream):
    up = upstream(active=True)
    d = BrindlemarData()
    assert d.draw(Foreign(1)) == 1
    assert up.log == []


def test_foreign_draw_error_passes_after_exit(upstream):
    up = upstream()
    d = BrindlemarData()
    with pytest.raises(ZeroDivisionError):
        d.draw(Foreign(error=ZeroDivisionError()))
    assert up.log[-1] == ("exit", (None, None, None))
    with pytest.raises(InvalidArgument, match="^Expected a SearchStrategy but got <object"):
        d.draw(object())
    assert up.log[-1][0] == "exit"


@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit])
def test_interrupt_from_context_lookup_propagates(upstream, exc):
    up = upstream(lookup_error=exc)
    s = Foreign()
    with pytest.raises(exc):
        BrindlemarData().draw(s)
    assert s.seen == [] and up.log == []


def test_existing_shared_draws_are_kept(upstream):
    upstream(active=True)
    d = BrindlemarData()
    mine = {"k": 1}
    d._shared_strategy_draws = mine
    d.draw(Foreign())
    assert d._shared_strategy_draws is mine


def test_missing_upstream_raises_after_marking(monkeypatch):
    monkeypatch.setitem(sys.modules, "quorvantis", None)
    d = BrindlemarData()
    s = Foreign()
    with pytest.raises(InvalidArgument, match="looks like a strategy of the quorvantis library, which is not"):
        d.draw(s)
    assert d._shared_strategy_draws == {} and s.seen == []


class BadIndex:
    def __index__(self):
        raise ValueError("no index")


class NegativeIndex:
    def __index__(self):
        return -1


@pytest.mark.parametrize("label", [None, "x", -5, 2**64, 3.5, BadIndex(), NegativeIndex()])
def test_any_label_is_accepted(upstream, label):
    upstream(active=True)
    assert BrindlemarData().draw(Foreign(0), label=label) == 0


def test_observe_as_is_checked_first(upstream):
    up = upstream()
    d = BrindlemarData()
    s = Foreign()
    with pytest.raises(TypeError, match="argument 'observe_as'"):
        d.draw(s, observe_as=3)
    with pytest.raises(UnicodeEncodeError):
        d.draw(s, observe_as="\udc00")
    assert s.seen == [] and up.log == []
    assert d.draw(s, observe_as="name") == 42


def test_python_subclass_is_drawn_in_a_span():
    class Mine(_engine.SearchStrategy):
        def do_draw(self, data):
            return data.draw_integer(5, 5)

    d = BrindlemarData()
    assert d.draw(Mine(), label=9) == 5
    assert d.max_depth == 1


def test_span_closes_when_the_subclass_draw_raises(errors):
    class Boom(_engine.SearchStrategy):
        def do_draw(self, data):
            data.draw_boolean()
            raise ValueError("boom")

    d = BrindlemarData()
    with pytest.raises(ValueError):
        d.draw(Boom())
    d.start_span(1)  # still open for business, depth back at the root
    assert d.max_depth == 1

def test_native_strategy_is_drawn_in_a_span(errors):
    d = BrindlemarData()
    v = d.draw(_engine.integers(0, 5))
    assert v in range(6) and d.max_depth == 1
    assert d.choices == (v,)
    # a draw that overruns ends the record with every span closed
    tight = BrindlemarData(max_choices=0)
    with pytest.raises(errors.StopTest):
        tight.draw(_engine.integers(0, 5))
    assert tight.frozen and tight.status == 0


def test_native_strategy_error_closes_its_span():
    def boom(x):
        raise ValueError(x)

    d = BrindlemarData()
    with pytest.raises(ValueError):
        d.draw(_engine.integers(0, 5).map(boom))
    assert not d.frozen
    d.freeze()


def test_unbounded_integers_share_one_constraints_dict():
    d = BrindlemarData()
    d.draw(_engine.integers())
    d.draw(_engine.integers())
    first, second = d.nodes
    assert first.constraints is second.constraints
    assert first.constraints == {"min_value": None, "max_value": None, "weights": None, "shrink_towards": 0}


def test_native_draws_make_each_constraints_dict_once():
    d = BrindlemarData()
    d.draw(_engine.integers(0, 300))
    d.draw(_engine.floats(0.0, 1.0))
    d.draw(_engine.text(_engine.characters(codec="ascii"), max_size=2))
    d.draw(_engine.binary(max_size=3))
    d.draw(_engine.booleans())
    first, second = d.nodes, d.nodes
    assert all(a.constraints is b.constraints for a, b in zip(first, second))
    integer, floating, string, binary, boolean = [n.constraints for n in first]
    assert (integer["min_value"], integer["max_value"], integer["shrink_towards"]) == (0, 300, 0)
    assert (floating["min_value"], floating["max_value"], floating["allow_nan"]) == (0.0, 1.0, False)
    # The same constraints given to the record's Python draws make equal
    # dicts, keys in the same order.
    e = BrindlemarData()
    e.draw_integer(**integer)
    e.draw_float(**floating)
    e.draw_string(**string)
    e.draw_bytes(**binary)
    e.draw_boolean(**boolean)
    for made, given in zip(first, e.nodes):
        assert list(made.constraints.items()) == list(given.constraints.items())
