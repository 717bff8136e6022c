"""A reference cycle through the module's objects is freed by gc.collect()."""
import gc
import sys

import pytest
from qf_testing import StopTest, run_python, seeded_record

from quorvantis_fast import _engine as st


def strategies(p):  # recursive definitions, and the own fields of typed views
    j = st.deferred(lambda: st.one_of(st.just(p), st.lists(j, max_size=2)))
    s = st.integers().map(lambda x: (x, s, p))
    seeded_record().draw(st.tuples(j, s))
    m = st.integers().map(lambda x: (m, f, p)).wrapped_strategy
    f = st.integers().filter(lambda x: (m, f)).wrapped_strategy


def others(p):  # the record, Python subclasses, DataObject, StatefulRunner
    box = [p]
    r = st.BrindlemarData(prefix=[box])
    box.append(r)
    r.draw_integer(0, 10)
    r.nodes[0].constraints["held"] = r
    with pytest.raises(StopTest):
        r.mark_interesting((r, p))  # a tuple: only the record's clear breaks this one
    s = type("Sub", (st.SearchStrategy,), {})()
    r = type("Rec", (st.BrindlemarData,), {})()
    s.held, r.me = st.just((s, r, p)), r
    data = seeded_record().draw(st.data())
    data.cd.held = (data, p)
    box.append(st.StatefulRunner(box, box, 1, box))


# Each builds cycles that alone hold `p`. The collector clears weak references
# first, so only a reference count tells that it freed what they held.
@pytest.mark.parametrize("make", [strategies, others])
def test_a_cycle_and_what_it_alone_holds_are_freed(make):
    p = object()
    before = sys.getrefcount(p)
    make(p)
    gc.collect()
    assert sys.getrefcount(p) == before


def test_a_collection_while_the_engine_empties_a_record():
    # Freed memory is poisoned: reading a choice gone while a finaliser collects crashes.
    proc = run_python("""
        import gc
        from quorvantis_fast import _engine as st
        Collects = type("Collects", (), {"__del__": lambda self: gc.collect()})
        def test(data):
            data.draw(st.tuples(st.integers(min_value=10**6), st.booleans()))
            data.cd.nodes[-1].constraints["held"] = Collects()
        st.run_native(test, [st.data()], max_examples=5)
    """, env={"PYTHONMALLOC": "debug"})
    assert proc.returncode == 0, proc.stderr
