import collections
import sys
import types

import pytest

from quorvantis_fast._engine import BrindlemarData, IntervalSet


def test_fresh_record_views():
    d = BrindlemarData()
    assert repr(d) == "BrindlemarData(Status=2, 0 choices)"
    assert d.choices == () and d.nodes == ()
    assert (d.length, d.max_depth, d.output, d.testcounter) == (0, 0, "", 0)
    assert d.misaligned_at is None and d.interesting_origin is None
    assert d.has_discards is False and d.frozen is False


def test_repr_after_draws_and_overrun(errors):
    d = BrindlemarData()
    d.draw_boolean()
    d.draw_integer()
    with pytest.raises(errors.StopTest):
        d.mark_overrun()
    assert repr(d) == "BrindlemarData(Status=0, 2 choices, frozen)"


def test_choices_are_the_drawn_objects():
    big = 2**100
    d = BrindlemarData()
    v = d.draw_integer(forced=big)
    assert d.choices[0] is v is big


def test_nodes_describe_each_choice():
    d = BrindlemarData()
    d.draw_integer(0, 5, forced=3)
    d.draw_float()
    s = IntervalSet([(97, 98)])
    d.draw_string(s)
    d.draw_bytes()
    d.draw_boolean()
    first, second = d.nodes, d.nodes
    assert [n.type for n in first] == ["integer", "float", "string", "bytes", "boolean"]
    assert [n.index for n in first] == [0, 1, 2, 3, 4]
    assert [n.was_forced for n in first] == [True, False, False, False, False]
    assert first[2].constraints["intervals"] is s
    # fresh node objects each read, same values and constraints objects
    assert all(a is not b and a.value is b.value and a.constraints is b.constraints for a, b in zip(first, second))


def test_nodes_errors_propagate(monkeypatch):
    mod = sys.modules["quorvantis_fast.internal.brindlemar.choice"]

    def broken(**kw):
        raise ValueError("no nodes")

    monkeypatch.setattr(mod, "ChoiceNode", broken)
    d = BrindlemarData()
    d.draw_boolean()
    with pytest.raises(ValueError):
        d.nodes


@pytest.mark.parametrize(
    "view, slot, kind",
    [("events", "_events_dict", dict), ("slice_comments", "_slice_comments_dict", dict), ("arg_slices", "_arg_slices_set", set)],
)
def test_lazy_containers(view, slot, kind):
    d = BrindlemarData()
    first = getattr(d, view)
    assert type(first) is kind and len(first) == 0
    assert getattr(d, view) is first
    assert getattr(d, slot) is first
    setattr(d, slot, None)
    fresh = getattr(d, view)
    assert fresh is not first and type(fresh) is kind
    setattr(d, slot, 5)
    assert getattr(d, view) == 5


def test_observability_predicates_use_the_upstream_counts(monkeypatch):
    upstream = types.ModuleType("quorvantis.internal.brindlemar.data")

    class PredicateCounts:
        pass

    upstream.PredicateCounts = PredicateCounts
    for name in ("quorvantis", "quorvantis.internal", "quorvantis.internal.brindlemar"):
        monkeypatch.setitem(sys.modules, name, types.ModuleType(name))
    monkeypatch.setitem(sys.modules, "quorvantis.internal.brindlemar.data", upstream)
    d = BrindlemarData()
    dd = d._observability_predicates
    assert isinstance(dd, collections.defaultdict) and dd.default_factory is PredicateCounts
    assert d._observability_predicates is dd


def test_constant_views():
    d = BrindlemarData()
    assert d.provider is d and d.provider is d
    assert d.avoid_realization is False
    d.freeze()
    assert d.avoid_realization is False


def test_views_refuse_while_mutably_borrowed():
    d = BrindlemarData()
    seen = {}

    class Peek:
        def __repr__(self):
            for name in ("choices", "length", "provider", "misaligned_at"):
                try:
                    getattr(d, name)
                except RuntimeError as e:
                    seen[name] = str(e)
            seen["events"] = type(d.events).__name__  # takes no borrow
            return "p"

    d.note(Peek())
    assert seen == {
        "choices": "Already mutably borrowed",
        "length": "Already mutably borrowed",
        "provider": "Already mutably borrowed",
        "misaligned_at": "Already mutably borrowed",
        "events": "dict",
    }
