"""builds(): argument errors, the per-run strategy cache and the draw."""

import sys
import typing
import uuid

import pytest
from qf_testing import draws, random_record as record, registered

from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument


def target(*args, **kwargs):
    return args, kwargs


def raised(call, cls=InvalidArgument):
    with pytest.raises(cls) as e:
        call()
    return e.value


class TestArguments:
    def test_messages(self):
        no_target = (
            "builds() must be passed a callable as the first positional argument, but no "
            "positional arguments were given."
        )
        assert str(raised(lambda: st.builds())) == no_target
        assert str(raised(lambda: st.builds(x=st.uuids()))) == no_target
        assert str(raised(lambda: st.builds(5))) == (
            "The first positional argument to builds() must be a callable target to construct, "
            "but got non-callable 5."
        )
        assert str(raised(lambda: st.builds(target, st.uuids(), ...))) == (
            "... was passed as a positional argument to builds(), but is only allowed as a keyword argument"
        )

    # typing.Union[...] is callable on some interpreters, and then a target.
    @pytest.mark.parametrize("union", [u for u in (int | str, typing.Union[int, str]) if not callable(u)])
    def test_a_union_target_is_pointed_at_from_type(self, union):
        assert str(raised(lambda: st.builds(union))).endswith(
            f"non-callable {union!r}. Try using from_type({union}) instead?"
        )

    def test_hostile_input_fails_cleanly(self):
        class BadRepr:
            def __repr__(self):
                raise ZeroDivisionError

        raised(lambda: st.builds(BadRepr()), ZeroDivisionError)
        raised(lambda: st.builds(target, **{"\ud800": st.uuids()}), UnicodeEncodeError)
        assert str(raised(lambda: st.builds(target, x=1).validate())) == (
            "Expected a SearchStrategy but got x=1 (type=int)"
        )


class TestStrategyCache:
    def test_the_same_objects_give_the_same_strategy(self):
        a, b = st.uuids(), st.data()
        first = st.builds(target, a, x=b, y=a)
        assert st.builds(target, a, y=a, x=b) is first
        assert st.builds(target, a, x=b) is not first
        assert st.builds(target, st.uuids(), x=b, y=a) is not first
        st._clear_resolution_caches()
        assert st.builds(target, a, x=b, y=a) is not first

    def test_a_run_has_its_own_cache_and_restores_the_outer_one(self):
        a = st.uuids()
        outer = st.builds(target, a)
        seen = []

        def test(u):
            seen.append(st.builds(target, a))
            assert st.builds(target, a) is seen[-1] is not outer

        assert st.run_native(test, [a], max_examples=3) is None
        assert len(seen) == 3 and seen[0] is seen[-1]
        assert st.builds(target, a) is outer

    def test_names_that_could_spell_another_key_are_not_cached(self):
        a, b = st.uuids(), st.data()
        plain = st.builds(target, x=a, y=b)
        tricky = st.builds(target, **{f"x={id(a):x}#y": b})
        assert tricky is not plain
        assert repr(tricky) == f"builds(target, x={id(a):x}#y=data())"

    def test_the_cache_holds_its_objects_until_cleared(self):
        def fresh(*args):
            return args

        before = sys.getrefcount(fresh)
        st.builds(fresh, st.uuids())
        assert sys.getrefcount(fresh) > before
        st._clear_resolution_caches()
        assert sys.getrefcount(fresh) == before

    def test_outside_a_run_only_the_most_recently_used_entries_stay(self):
        st._clear_resolution_caches()
        reused = st.uuids()
        cached = st.builds(target, x=reused)
        values, spare = [st.uuids() for _ in range(6000)], [st.uuids()]
        targets = [lambda x: x for _ in range(6000)]  # a target keeps no more than a few entries
        unheld = sys.getrefcount(spare[0])

        def held(indices):
            return [sys.getrefcount(values[i]) > unheld for i in indices]

        for i in range(6000):
            st.builds(targets[i], x=values[i])
            if i % 1000 == 0:
                assert st.builds(target, x=reused) is cached
        assert not any(held(range(1000))) and all(held(range(4000, 6000)))
        st._clear_resolution_caches()

        def test(_):
            for v in values:
                st.builds(target, x=v)
            assert all(held(range(6000)))  # a run's cache is not trimmed

        assert st.run_native(test, [st.none()], max_examples=1) is None
        assert not any(held(range(6000)))

    def test_inference_is_reused_per_target_and_keyword_names(self):
        class Token:
            pass

        calls = []

        def make(a: Token, b=None):
            return a

        with registered({Token: lambda thing: calls.append(thing) or st.uuids()}):
            st.builds(make, b=st.data())
            st.builds(make, b=st.uuids())  # other objects, same names
            assert len(calls) == 1
            st.builds(make)
            assert len(calls) == 2
            st._clear_resolution_caches()
            st.builds(make, b=st.data())
            assert len(calls) == 3
            # Names that keep a call out of the strategy cache keep it out
            # of the inference cache too.
            for _ in range(2):
                st.builds(make, **{"b#": st.data()})
            assert len(calls) == 5


class TestDraw:
    def test_values_are_the_target_called_with_drawn_arguments(self):
        s = st.builds(target, st.uuids(version=4), **{"kind": st.ip_addresses(v=4), "a\0b": st.data()})
        for (u,), kwargs in draws(s, 50):
            assert u.version == 4
            assert list(kwargs) == ["kind", "a\0b"] and kwargs["kind"].version == 4

    def test_errors_of_the_target_pass_unchanged(self):
        boom = ValueError("boom")

        def raising():
            raise boom

        def needs_two(a, b):
            return a

        assert raised(lambda: record(0).draw(st.builds(raising)), ValueError) is boom
        raised(lambda: record(0).draw(st.builds(needs_two, st.uuids())), TypeError)
        raised(lambda: record(0).draw(st.builds(needs_two)), TypeError)

    def test_a_bare_call_of_a_newtype_or_generic_advises_from_type(self):
        T = typing.TypeVar("T")

        class Box(typing.Generic[T]):
            def __init__(self, item):
                self.item = item

        for thing in (typing.NewType("Id", uuid.UUID), Box[int]):
            r = repr(thing)
            assert str(raised(lambda: record(0).draw(st.builds(thing)))) == (
                f"Calling {r} with no arguments raised an error - try using from_type({r}) "
                f"instead of builds({r})"
            )

    def test_a_failing_newtype_probe_counts_as_absent(self, monkeypatch):
        def probe(error):
            class Meta(type):
                @property
                def __supertype__(cls):
                    raise error

            class NeedsArgument(metaclass=Meta):
                def __init__(self, x):
                    pass

            return st.builds(NeedsArgument)

        reports = []
        monkeypatch.setattr(sys, "unraisablehook", reports.append)
        # Neither a new type nor generic: the target's own TypeError.
        e = raised(lambda: record(0).draw(probe(ValueError)), TypeError)
        assert "x" in str(e) and not isinstance(e, InvalidArgument)
        assert reports == []
        raised(lambda: record(0).draw(probe(KeyboardInterrupt)), KeyboardInterrupt)

    def test_no_type_check_explains_the_missing_arguments(self):
        @typing.no_type_check
        def annotated(a: int):
            return a

        e = raised(lambda: record(0).draw(st.builds(annotated)), TypeError)
        assert str(e) == (
            "This might be because the @no_type_check decorator prevented Quorvantis from "
            "inferring a strategy for some required arguments."
        )
        assert isinstance(e.__context__, TypeError)
