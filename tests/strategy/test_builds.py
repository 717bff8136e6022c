"""builds(): argument errors, the per-run strategy cache and the draw."""

import sys
import typing
import uuid

import pytest
from builders_helpers import draws, record, registered

from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument

st = _engine


def target(*args, **kwargs):
    return args, kwargs


class TestArguments:
    @pytest.mark.parametrize("kwargs", [{}, {"x": st.uuids()}])
    def test_a_target_is_required(self, kwargs):
        with pytest.raises(InvalidArgument) as e:
            st.builds(**kwargs)
        assert str(e.value) == (
            "builds() must be passed a callable as the first positional argument, but no "
            "positional arguments were given."
        )

    def test_a_non_callable_target_is_named_by_its_repr(self):
        with pytest.raises(InvalidArgument) as e:
            st.builds(5)
        assert str(e.value) == (
            "The first positional argument to builds() must be a callable target to construct, "
            "but got non-callable 5."
        )

    # typing.Union[...] objects are callable on some interpreters, and then
    # builds() accepts them as targets.
    @pytest.mark.parametrize("union", [u for u in (int | str, typing.Union[int, str]) if not callable(u)])
    def test_a_union_target_is_pointed_at_from_type(self, union):
        with pytest.raises(InvalidArgument) as e:
            st.builds(union)
        assert str(e.value).endswith(f"non-callable {union!r}. Try using from_type({union}) instead?")

    def test_ellipsis_is_only_a_keyword_argument(self):
        with pytest.raises(InvalidArgument, match=r"^\.\.\. was passed as a positional argument to builds\(\), "
                           r"but is only allowed as a keyword argument$"):
            st.builds(target, st.uuids(), ...)

    def test_a_bad_target_repr_is_raised_as_is(self):
        class Hostile:
            def __repr__(self):
                raise ZeroDivisionError

        with pytest.raises(ZeroDivisionError):
            st.builds(Hostile())

    def test_keyword_names_that_cannot_be_text_fail_cleanly(self):
        with pytest.raises(UnicodeEncodeError):
            st.builds(target, **{"\ud800": st.uuids()})

    def test_non_strategy_arguments_fail_validation_with_their_label(self):
        with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got 1 \(type=int\)$"):
            st.builds(target, 1).validate()
        with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got x=1 \(type=int\)$"):
            st.builds(target, x=1).validate()

    def test_repr_lists_positional_then_keyword_strategies(self):
        assert repr(st.builds(target)) == "builds(target)"
        assert repr(st.builds(target, st.uuids(), x=st.data())) == "builds(target, uuids(), x=data())"


class TestStrategyCache:
    def test_the_same_objects_give_the_same_strategy(self):
        a, b = st.uuids(), st.data()
        first = st.builds(target, a, x=b, y=a)
        assert st.builds(target, a, y=a, x=b) is first
        assert st.builds(target, a, x=b) is not first
        assert st.builds(target, st.uuids(), x=b, y=a) is not first

    def test_clearing_the_caches_builds_anew(self):
        a = st.uuids()
        first = st.builds(target, a)
        st._clear_resolution_caches()
        assert st.builds(target, a) is not first

    def test_a_run_has_its_own_cache_and_restores_the_outer_one(self):
        a = st.uuids()
        outer = st.builds(target, a)
        seen = []

        def test():
            inner = st.builds(target, a)
            seen.append(inner)
            assert inner is not outer
            assert st.builds(target, a) is inner

        assert st.run_native(test, [], max_examples=3) is None
        assert seen and all(s is seen[0] for s in seen)
        assert st.builds(target, a) is outer

    def test_names_that_could_spell_another_key_are_not_cached(self):
        a, b = st.uuids(), st.data()
        plain = st.builds(target, x=a, y=b)
        tricky = st.builds(target, **{f"x={id(a):x}#y": b})
        assert tricky is not plain
        assert repr(tricky) == f"builds(target, x={id(a):x}#y=data())"

    def test_the_cache_keeps_its_objects_alive_and_lets_go_when_cleared(self):
        def fresh_target(*args):
            return args

        before = sys.getrefcount(fresh_target)
        st.builds(fresh_target, st.uuids())
        assert sys.getrefcount(fresh_target) > before
        st._clear_resolution_caches()
        assert sys.getrefcount(fresh_target) == before


class TestDraw:
    def test_values_are_the_target_called_with_drawn_arguments(self):
        s = st.builds(target, st.uuids(version=4), kind=st.ip_addresses(v=4))
        for args, kwargs in draws(s, 50):
            (u,) = args
            assert isinstance(u, uuid.UUID) and u.version == 4
            assert set(kwargs) == {"kind"} and kwargs["kind"].version == 4

    def test_keyword_names_reach_the_target_unchanged(self):
        ((args, kwargs),) = draws(st.builds(target, **{"a\0b": st.data()}), 1)
        assert list(kwargs) == ["a\0b"]

    def test_other_errors_of_the_target_pass_unchanged(self):
        boom = ValueError("boom")

        def raising():
            raise boom

        with pytest.raises(ValueError) as e:
            record(0).draw(st.builds(raising))
        assert e.value is boom

    def test_a_type_error_with_argument_strategies_passes_unchanged(self):
        def needs_two(a, b):
            return a

        with pytest.raises(TypeError, match="needs_two"):
            record(0).draw(st.builds(needs_two, st.uuids()))

    def test_a_bare_call_of_a_newtype_or_generic_advises_from_type(self):
        T = typing.TypeVar("T")

        class Box(typing.Generic[T]):
            def __init__(self, item):
                self.item = item

        for thing in (typing.NewType("Id", uuid.UUID), Box[int]):
            with pytest.raises(InvalidArgument) as e:
                record(0).draw(st.builds(thing))
            r = repr(thing)
            assert str(e.value) == (
                f"Calling {r} with no arguments raised an error - try using from_type({r}) "
                f"instead of builds({r})"
            )

    def test_a_bare_call_of_a_plain_function_keeps_its_type_error(self):
        def needs_one(a):
            return a

        with pytest.raises(TypeError, match="needs_one"):
            record(0).draw(st.builds(needs_one))

    def test_no_type_check_explains_the_missing_arguments(self):
        @typing.no_type_check
        def annotated(a: int):
            return a

        with pytest.raises(TypeError) as e:
            record(0).draw(st.builds(annotated))
        assert str(e.value) == (
            "This might be because the @no_type_check decorator prevented Quorvantis from "
            "inferring a strategy for some required arguments."
        )
        assert isinstance(e.value.__context__, TypeError)

    def test_inside_a_run(self):
        def test(value):
            args, kwargs = value
            assert isinstance(args[0], uuid.UUID)

        assert st.run_native(test, [st.builds(target, st.uuids())], max_examples=20) is None


class TestInferenceInARun:
    def test_inference_is_cached_per_target_and_keyword_names(self):
        class Token:
            pass

        calls = []

        def resolve(thing):
            calls.append(thing)
            return st.uuids()

        def make(a: Token, b=None):
            return a

        with registered({Token: resolve}):
            st.builds(make, b=st.data())
            st.builds(make, b=st.uuids())  # same names: inference is reused
            assert len(calls) == 1
            st.builds(make)  # other names: inferred afresh
            assert len(calls) == 2
            st._clear_resolution_caches()
            st.builds(make, b=st.data())
            assert len(calls) == 3
