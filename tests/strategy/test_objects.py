"""Strategy objects: ids, construction, typed views, operators, DataObject."""

import math
import types
import warnings
import weakref

import pytest
from qf_testing import run_python, seeded_record as record

from quorvantis_fast import _engine, native_strategies
from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument, QuorvantisWarning, Unsatisfiable

SearchStrategy = _engine.SearchStrategy
# The size bound of a byte-string strategy given no max_size.
UNBOUNDED_BYTES = 10_000_000_000


class TestObjects:
    def test_every_creation_takes_a_larger_label(self):
        a = SearchStrategy()
        b = a.map(str)
        c = b.wrapped_strategy
        d = b.wrapped_strategy
        assert a.label < b.label < c.label < d.label
        assert c is not d and a.calc_label() == a.label

    def test_labels_count_from_one_in_a_fresh_process(self):
        proc = run_python("""
            from quorvantis_fast import _engine
            a = _engine.SearchStrategy()
            b = _engine.integers()
            c = b.wrapped_strategy
            print(a.label, b.label, c.label)
        """)
        assert proc.returncode == 0, proc.stderr
        assert proc.stdout.split() == ["1", "2", "3"]

    def test_constructor_ignores_arguments_and_draws_none(self):
        s = SearchStrategy(1, 2, x=3)
        assert repr(s) == "none()" and record().draw(s) is None

    def test_instances_carry_attributes_but_no_weak_references(self):
        s = SearchStrategy()
        s.note = 5
        assert s.__dict__ == {"note": 5}
        with pytest.raises(TypeError):
            weakref.ref(s)

    def test_subclass_without_do_draw_draws_none(self):
        class Sub(SearchStrategy):
            pass

        assert record().draw(Sub()) is None and type(Sub()) is Sub

    def test_methods_take_keywords_like_python(self):
        s = st.integers(0, 1)
        assert repr(s.map(pack=str)) == "integers(0, 1).map(str)"
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'pack'"):
            s.map()
        with pytest.raises(TypeError, match="unexpected keyword argument 'f'"):
            s.filter(f=bool)

    def test_class_subscription(self):
        alias = SearchStrategy[int]
        assert isinstance(alias, types.GenericAlias)
        assert alias.__origin__ is SearchStrategy and alias.__args__ == (int,)


class TestViews:
    def test_collection_views(self):
        alphabet = _engine.IntervalSet([(97, 98)])
        lists = st.lists(st.booleans(), min_size=2).wrapped_strategy
        assert type(lists) is _engine.ListStrategy
        assert (lists.min_size, lists.max_size) == (2, math.inf)
        text = st.text(alphabet, min_size=1, max_size=7).wrapped_strategy
        assert type(text) is _engine.TextStrategy and (text.min_size, text.max_size) == (1, 7)
        binary = st.binary().wrapped_strategy
        assert type(binary) is _engine.BytesStrategy and binary.max_size == UNBOUNDED_BYTES
        for other in (st.sets(st.booleans(), min_size=1, max_size=4), st.dictionaries(st.booleans(), st.booleans(), max_size=3)):
            assert type(other.wrapped_strategy) is _engine.ListStrategy

    def test_numeric_views(self):
        ints = st.integers(None, 9).wrapped_strategy
        assert type(ints) is _engine.IntegersStrategy and (ints.start, ints.end) == (None, 9)
        floats = st.floats(max_value=2.5).wrapped_strategy
        assert (floats.min_value, floats.max_value) == (-math.inf, 2.5)

    def test_map_view_wraps_a_new_inner_view(self):
        base = st.integers(0, 3)
        view = base.map(str).wrapped_strategy
        assert type(view) is _engine.MappedStrategy and view.pack is str
        assert type(view.mapped_strategy) is _engine.IntegersStrategy and view.mapped_strategy is not base

    def test_filter_chain_keeps_conditions_in_order(self):
        base = st.booleans()
        c1, c2 = (lambda x: True), (lambda x: x)
        view = base.filter(c1).filter(c2).wrapped_strategy
        assert type(view) is _engine.FilteredStrategy
        assert view.flat_conditions == (c1, c2) == view.condition
        assert view.filtered_strategy is base
        assert record().draw(view.filtered_strategy) in (True, False)

    def test_kinds_without_a_view_return_themselves(self):
        s = st.just(1)
        assert s.wrapped_strategy is s

    @pytest.mark.parametrize("cls, fields", [
        ("ListStrategy", {"min_size": 0, "max_size": 0}),
        ("TextStrategy", {"min_size": 0, "max_size": 0}),
        ("BytesStrategy", {"min_size": 0, "max_size": 0}),
        ("FloatStrategy", {"min_value": 0.0, "max_value": 0.0}),
        ("IntegersStrategy", {"start": None, "end": None}),
        ("MappedStrategy", {"mapped_strategy": None, "pack": None}),
        ("FilteredStrategy", {"filtered_strategy": None, "flat_conditions": (), "condition": ()}),
    ])
    def test_views_made_by_python_are_safe(self, cls, fields):
        view = getattr(_engine, cls)()
        assert {name: getattr(view, name) for name in fields} == fields
        assert view.wrapped_strategy is view
        assert record().draw(view) is None and repr(view) == "none()"
        with pytest.raises(TypeError):
            type("Sub", (getattr(_engine, cls),), {})


class TestOperators:
    def test_or_flattens_one_of(self):
        a, b, c, d = (st.just(i) for i in range(4))
        assert repr(a | b | c) == "one_of(just(0), just(1), just(2))"
        assert repr((a | b) | (c | d)) == "one_of(just(0), just(1), just(2), just(3))"
        assert repr(a | a) == "one_of(just(0), just(0))"

    def test_or_with_other_objects(self):
        class Foreign:
            def do_draw(self, data):
                return 1

        f = Foreign()
        assert (st.just(0) | f).wrapped_strategy is not None
        with pytest.raises(ValueError, match="^Cannot \\| a SearchStrategy with 3$"):
            st.just(0) | 3
        with pytest.raises(TypeError):
            3 | st.just(0)

    def test_truth_warns(self):
        with pytest.warns(QuorvantisWarning, match=r"^bool\(integers\(\)\) is always True"):
            assert bool(st.integers())
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            with pytest.raises(QuorvantisWarning):
                bool(st.integers())

    def test_map_of_an_identity_returns_the_receiver(self, upstream):
        s = st.integers(0, 3)
        assert s.map(lambda x: x) is s
        assert s.map(str) is not s

    def test_map_without_the_upstream_library_always_builds(self, no_upstream):
        s = st.integers(0, 3)
        assert s.map(lambda x: x) is not s

    @pytest.mark.parametrize("method", ["map", "flatmap", "filter"])
    def test_data_strategies_refuse_combinators(self, method):
        with pytest.raises(InvalidArgument, match=f"^Cannot call {method} on a DataStrategy"):
            getattr(st.data(), method)(str)

    def test_filter_wraps_the_receiver(self):
        s = st.integers(0, 3)
        f = s.filter(bool)
        assert type(f.wrapped_strategy) is _engine.FilteredStrategy and f.wrapped_strategy.filtered_strategy.start == 0

    def test_intervals(self, upstream):
        alphabet = _engine.IntervalSet([(48, 57)])
        from quorvantis.internal.intervalsets import IntervalSet

        for s in (st.text(alphabet), st.characters(min_codepoint=48, max_codepoint=57)):
            got = s.intervals
            assert type(got) is IntervalSet and list(got.intervals) == [(48, 57)]
        with pytest.raises(AttributeError, match="^intervals$"):
            st.integers().intervals


@pytest.mark.filterwarnings(r"ignore:The `\.example\(\)` method")
class TestExample:
    def test_values(self):
        assert st.just(3).example() == 3
        assert 0 <= st.integers(0, 9).example() <= 9

    def test_gives_up_after_200_stopped_attempts(self):
        calls = []

        class Rejects(SearchStrategy):
            def do_draw(self, data):
                calls.append(1)
                data.mark_invalid()

        with pytest.raises(Unsatisfiable, match="^could not find an example$"):
            st.one_of(Rejects()).example()
        assert len(calls) == 200

    def test_a_draw_that_rejects_itself_is_tried_again(self):
        from quorvantis_fast import assume, st as public
        true = public.composite(lambda draw: assume(draw(st.booleans())))()
        even = st.integers().map(lambda x: assume(x % 2 == 0) and x)
        assert {true.example() for _ in range(50)} == {True} and all(even.example() % 2 == 0 for _ in range(50))
        with pytest.raises(Unsatisfiable):
            st.integers().map(lambda x: assume(False)).example()
        with pytest.raises(InvalidArgument):  # no example runs once it is over
            assume(False)

    def test_data_strategy(self):
        with pytest.raises(InvalidArgument, match=r"^Cannot call example\(\) on st.data\(\)"):
            st.data().example()

    def test_inside_a_draw_or_a_running_test(self, upstream):
        from quorvantis.control import BuildContext
        from quorvantis.errors import NonInteractiveExampleWarning, QuorvantisException

        from quorvantis_fast import control

        with pytest.warns(NonInteractiveExampleWarning):  # pytest sets PYTEST_CURRENT_TEST
            st.just(1).example()
        with control.drawing():
            with pytest.raises(QuorvantisException, match="inside a strategy definition"):
                st.just(1).example()
        for depth, message in [(0, "inside a test function"), (2, "inside a strategy definition")]:
            with BuildContext(types.SimpleNamespace(depth=depth), wrapped_test=None):
                with pytest.raises(QuorvantisException, match=message):
                    st.just(1).example()


@pytest.fixture
def plain_handle(monkeypatch):
    """Makes the note-free draw handle that randoms() hands to the Python side."""
    monkeypatch.setattr(native_strategies, "_build_random", lambda handle, *flags: handle)
    return lambda data: data.draw(st.randoms())


class TestDataObject:
    def test_cannot_be_made_by_python(self):
        with pytest.raises(TypeError):
            _engine.DataObject()
        with pytest.raises(TypeError):
            type("Sub", (_engine.DataObject,), {})

    def test_notes(self, upstream):
        data = record()
        handle = data.draw(st.data())
        assert handle._drawn_notes == [] and not hasattr(data, "_data_draws")
        assert handle.draw(st.just(17)) == 17
        assert handle.draw(st.just("x"), label="size") == "x"
        assert data._data_draws == ["Draw 1: 17", "Draw 2 (size): 'x'"]
        assert handle._drawn_notes is data._data_draws
        with pytest.raises(KeyError):
            handle.draw(st.just(1).map(lambda v: {}[v]))
        assert len(data._data_draws) == 2

    def test_nested_draws_share_their_number(self):
        # Each number is taken before its draw, so the inner draw, which
        # ends first, writes its note first under the same number.
        data = record()
        handle = data.draw(st.data())
        value = handle.draw(st.just(1).map(lambda v: (v, handle.draw(st.just("in")))))
        assert value == (1, "in")
        assert data._data_draws == ["Draw 1: 'in'", "Draw 1: (1, 'in')"]

    def test_plain_handle_writes_no_notes(self, plain_handle):
        data = record()
        handle = plain_handle(data)
        assert handle.draw(st.just(1), label="ignored") == 1
        assert not hasattr(data, "_data_draws")
        assert handle.cd is data and handle.brindlemar_data is data and repr(handle) == "data(...)"
        assert handle.is_frozen() is False

    def test_draw_time_is_added_for_successful_draws_only(self, plain_handle, monkeypatch):
        import time

        handle = plain_handle(record())
        readings = iter([10.0, 12.5, 20.0, 21.0])
        monkeypatch.setattr(time, "perf_counter", lambda: next(readings))
        _engine.set_use_py_clock(True)
        try:
            before = _engine.draw_secs()
            handle.draw(st.just(1))
            assert _engine.draw_secs() == before + 2.5
            with pytest.raises(ZeroDivisionError):
                handle.draw(st.just(0).map(lambda v: 1 / v))
            assert _engine.draw_secs() == before + 2.5
        finally:
            _engine.set_use_py_clock(False)

    def test_accepts_upstream_strategies(self, plain_handle, foreign):
        import quorvantis.strategies

        assert plain_handle(record()).draw(quorvantis.strategies.just(3)) == 3

    def test_rejects_non_strategies(self, plain_handle, monkeypatch):
        from quorvantis_fast import strategies

        monkeypatch.setattr(strategies, "_real_quorvantis", None)
        handle = plain_handle(record())
        with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got .*=5 \(type=int\)$"):
            handle.draw(5)
