"""A reference cycle through the module's objects is freed by gc.collect()."""
import gc
import sys

import pytest
from qf_testing import StopTest, run_python, seeded_record

from quorvantis_fast import _engine as st


# Each builds a cycle through the module's objects that alone holds `p`.
def deferred(p):
    j = st.deferred(lambda: st.one_of(st.just(p), st.lists(j, max_size=2)))
    seeded_record().draw(j)


def mapped(p):
    s = st.integers().map(lambda x: (x, s, p))
    seeded_record().draw(s)


def views(p):
    m = st.integers().map(lambda x: (m, f, p)).wrapped_strategy
    f = st.integers().filter(lambda x: (m, f)).wrapped_strategy


def subclasses(p):
    class Sub(st.SearchStrategy):
        pass

    class Rec(st.BrindlemarData):
        pass

    s, r = Sub(), Rec()
    s.held = st.just((s, r, p))
    r.me = r


def record(p):
    box = [p]
    r = st.BrindlemarData(prefix=[box])
    box.append(r)
    r.draw_integer(0, 10)
    r.nodes[0].constraints["held"] = r
    with pytest.raises(StopTest):
        r.mark_interesting((r, p))  # a tuple: only the record's clear breaks this one


def data_handle(p):
    data = seeded_record().draw(st.data())
    data.cd.held = (data, p)


def runner(p):
    class Machine:
        pass

    Machine.runner = st.StatefulRunner(Machine, p, 1, None)


# The collector clears weak references to what it finds unreachable before
# it breaks any cycle, so only a reference count tells that the cycle went.
@pytest.mark.parametrize("make", [deferred, mapped, views, subclasses, record, data_handle, runner])
def test_a_cycle_and_what_it_alone_holds_are_freed(make):
    p = object()
    before = sys.getrefcount(p)
    make(p)
    gc.collect()
    assert sys.getrefcount(p) == before


def test_a_collection_while_the_engine_empties_a_record():
    # The finaliser runs while the record's choices go; freed memory is
    # poisoned, so reading a choice already gone crashes.
    proc = run_python("""
        import gc
        from quorvantis_fast import _engine as st

        class Collects:
            def __del__(self):
                gc.collect()

        def test(data):
            data.draw(st.integers(min_value=10**6))
            data.draw(st.booleans())
            data.cd.nodes[-1].constraints["held"] = Collects()

        st.run_native(test, [st.data()], max_examples=5)
    """, env={"PYTHONMALLOC": "debug"})
    assert proc.returncode == 0, proc.stderr
