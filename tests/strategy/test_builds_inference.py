"""builds(): which parameters are inferred, from which annotations."""

import inspect
import typing

import pytest
from builders_helpers import draws, registered

from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument

st = _engine


class Alpha:
    pass


class Beta:
    pass


@pytest.fixture
def resolvable():
    """Alpha resolves to uuids(), Beta to ip_addresses(v=4)."""
    alpha, beta = st.uuids(), st.ip_addresses(v=4)
    with registered({Alpha: alpha, Beta: beta}):
        yield alpha, beta


def kinds(a: Alpha, b: Beta = None, *args, c: Beta, d=1, **kwargs):
    return a, c


def inferred(strategy):
    """The keyword names shown in a builds() repr, in order."""
    text = repr(strategy)
    inside = text[text.index("(") + 1 : -1]
    return [part.split("=")[0] for part in inside.split(", ")[1:] if "=" in part]


class TestWhichParameters:
    def test_required_annotated_parameters_are_inferred(self, resolvable):
        assert repr(st.builds(kinds)) == "builds(kinds, a=uuids(), c=SearchStrategy(...))"

    def test_positional_strategies_take_the_first_parameters(self, resolvable):
        assert inferred(st.builds(kinds, st.data())) == ["c"]

    def test_given_keywords_keep_their_place_before_inferred_ones(self, resolvable):
        def f(x: Alpha, y: Alpha, z: Alpha):
            return x

        s = st.builds(f, z=st.data(), x=...)
        assert repr(s) == "builds(f, z=data(), x=uuids(), y=uuids())"

    def test_positional_only_parameters_are_inferred_only_when_asked(self, resolvable):
        def f(a: Alpha, /, b: Alpha):
            return a

        assert inferred(st.builds(f)) == ["b"]
        assert inferred(st.builds(f, a=...)) == ["a", "b"]

    def test_values_are_drawn_with_the_inferred_strategies(self, resolvable):
        for a, c in draws(st.builds(kinds), 30):
            assert a.__class__.__name__ == "UUID"
            assert c.version == 4


class TestAnnotations:
    def test_string_and_forward_annotations_use_the_resolved_hints(self, resolvable):
        def f(a: "Alpha", b: typing.List["Alpha"]):
            return a

        hints_seen = []

        def list_of_alpha(thing):
            hints_seen.append(thing)
            return st.data()

        with registered({typing.List[Alpha]: list_of_alpha}):
            assert repr(st.builds(f)) == "builds(f, a=uuids(), b=data())"
        assert hints_seen == [typing.List[Alpha]]

    def test_unresolvable_hints_leave_the_parameter_out(self, resolvable):
        def f(a: "NoSuchName", b: Alpha):  # noqa: F821
            return a

        assert inferred(st.builds(f)) == ["b"]

    def test_the_initialiser_hint_wins_over_the_class_hint(self, resolvable):
        class Record:
            value: Alpha

            def __init__(self, value: "Beta"):
                self.value = value

        assert repr(st.builds(Record)) == "builds(Record, value=SearchStrategy(...))"
        assert all(v.value.version == 4 for v in draws(st.builds(Record), 10))

    def test_class_hints_serve_initialisers_without_annotations(self, resolvable):
        class Record:
            value: Alpha

            def __init__(self, value):
                self.value = value

        assert repr(st.builds(Record)) == "builds(Record, value=uuids())"

    def test_no_type_check_turns_inference_off(self, resolvable):
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
    def test_an_unannotated_parameter_cannot_be_inferred(self):
        def f(x):
            return x

        with pytest.raises(InvalidArgument) as e:
            st.builds(f, x=...)
        assert str(e.value) == "passed ... for x, but x has no type annotation"

    def test_a_callable_without_signature(self):
        class Opaque:
            __signature__ = "not a signature"

            def __call__(self, x):
                return x

        opaque = Opaque()
        assert repr(st.builds(opaque)).startswith("builds(")
        with pytest.raises(InvalidArgument) as e:
            st.builds(opaque, x=...)
        assert str(e.value) == "Cannot infer a strategy for x=... (no signature available)"

    @pytest.mark.skipif(not hasattr(_engine, "one_of"), reason="needs one_of and just")
    def test_a_default_joins_the_inferred_strategy(self, resolvable):
        def f(x: Alpha = 3):
            return x

        assert repr(st.builds(f, x=...)) == "builds(f, x=one_of(uuids(), just(3)))"
        assert 3 in draws(st.builds(f, x=...), 50)

    def test_errors_leave_nothing_in_the_caches(self, resolvable):
        calls = []

        class Failing:
            pass

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


@pytest.mark.skipif(not hasattr(_engine, "from_type"), reason="needs the native type resolver")
class TestSelfReference:
    def test_a_class_that_refers_to_itself_resolves_lazily(self):
        s = st.builds(Tree)
        assert "child=one_of(none(), " in repr(s)
        s.validate()
        # The guard entry of the inference is gone: a later resolution of
        # Tree builds again rather than deferring.
        assert "builds(" in repr(st.from_type(Tree))
