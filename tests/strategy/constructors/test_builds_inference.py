"""builds(): which parameters are inferred, from which annotations."""

import typing

import pytest
from qf_testing import draws, registered

from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument


class Alpha:
    pass


class Beta:
    pass


@pytest.fixture(autouse=True)
def resolvable():
    """Alpha resolves to uuids(), Beta to ip_addresses(v=4) (repr SearchStrategy(...))."""
    with registered({Alpha: st.uuids(), Beta: st.ip_addresses(v=4)}):
        yield


def kinds(a: Alpha, b: Beta = None, *args, c: Beta, d=1, **kwargs):
    return a, c


class TestWhichParameters:
    def test_required_annotated_parameters_after_the_positional_ones(self):
        assert repr(st.builds(kinds)) == "builds(kinds, a=uuids(), c=SearchStrategy(...))"
        assert repr(st.builds(kinds, st.data())) == "builds(kinds, data(), c=SearchStrategy(...))"
        for a, c in draws(st.builds(kinds), 30):
            assert a.__class__.__name__ == "UUID" and c.version == 4

    def test_given_keywords_keep_their_place_before_inferred_ones(self):
        def f(x: Alpha, y: Alpha, z: Alpha):
            return x

        assert repr(st.builds(f, z=st.data(), x=...)) == "builds(f, z=data(), x=uuids(), y=uuids())"

    def test_positional_only_parameters_are_inferred_only_when_asked(self):
        def f(a: Alpha, /, b: Alpha):
            return a

        assert repr(st.builds(f)) == "builds(f, b=uuids())"
        assert repr(st.builds(f, a=...)) == "builds(f, a=uuids(), b=uuids())"


class TestAnnotations:
    def test_string_and_forward_annotations_use_the_resolved_hints(self):
        def f(a: "Alpha", b: typing.List["Alpha"]):
            return a

        def g(a: "Alpha", b: Alpha, c: "NoSuchName"):  # noqa: F821
            return a

        with registered({typing.List[Alpha]: st.data()}):
            assert repr(st.builds(f)) == "builds(f, a=uuids(), b=data())"
        # get_type_hints fails on g: its string annotations count as missing.
        assert repr(st.builds(g)) == "builds(g, b=uuids())"

    def test_initialiser_hints_win_over_class_hints(self):
        class Record:
            value: Alpha
            other: Alpha

            def __init__(self, value: "Beta", other):
                self.value = value

        assert repr(st.builds(Record)) == "builds(Record, value=SearchStrategy(...), other=uuids())"

    def test_no_type_check_turns_inference_off(self):
        @typing.no_type_check
        def f(a: Alpha):
            return a

        assert repr(st.builds(f)) == "builds(f)"
        with pytest.raises(InvalidArgument, match=r"got a=Ellipsis \(type=ellipsis\)$"):
            st.builds(f, a=...).validate()

    def test_an_interrupt_while_reading_the_signature_is_not_swallowed(self):
        class Interrupting:
            @property
            def __signature__(self):
                raise KeyboardInterrupt

            def __call__(self, x):
                return x

        with pytest.raises(KeyboardInterrupt):
            st.builds(Interrupting())


class TestEllipsis:
    def test_errors(self):
        class Opaque:
            __signature__ = "not a signature"

            def __call__(self, x):
                return x

        def f(x):
            return x

        with pytest.raises(InvalidArgument) as e:
            st.builds(f, x=...)
        assert str(e.value) == "passed ... for x, but x has no type annotation"
        assert repr(st.builds(Opaque(), x=st.data())).endswith(", x=data())")
        with pytest.raises(InvalidArgument) as e:
            st.builds(Opaque(), x=...)
        assert str(e.value) == "Cannot infer a strategy for x=... (no signature available)"

    def test_a_default_joins_the_inferred_strategy(self):
        def f(x: Alpha = 3):
            return x

        assert repr(st.builds(f, x=...)) == "builds(f, x=one_of(uuids(), just(3)))"
        assert 3 in draws(st.builds(f, x=...), 50)

    def test_errors_of_the_resolver_pass_and_are_not_cached(self):
        class Failing:
            pass

        calls = []

        def resolve(thing):
            calls.append(thing)
            raise LookupError("cannot resolve")

        def f(a: Failing):
            return a

        with registered({Failing: resolve}):
            for _ in range(2):
                with pytest.raises(LookupError):
                    st.builds(f)
        assert len(calls) == 2


class Tree:
    # At module level, so that its string annotation can be resolved.
    def __init__(self, child: typing.Optional["Tree"]):
        self.child = child


def test_a_class_that_refers_to_itself_resolves_lazily():
    s = st.builds(Tree)
    assert "child=one_of(none(), " in repr(s)
    s.validate()
    # The inference's guard entry is gone: Tree resolves again, not lazily.
    assert "builds(" in repr(st.from_type(Tree))
