"""_regex_alphabet_intervals: the characters of an alphabet strategy."""

import pytest

import qf_testing
from qf_testing import draws, intervals_of, permits, points
from quorvantis_fast import _engine
from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument

resolve = _engine._regex_alphabet_intervals
characters = _engine.characters


def pairs(s):
    return tuple(resolve(s).intervals)


class Foreign:
    def __init__(self, pairs):
        self.intervals = type("Intervals", (), {"intervals": pairs})()


def unresolvable(alphabet, shown):
    with pytest.raises(InvalidArgument) as e:
        resolve(alphabet)
    assert str(e.value) == f"alphabet={shown} must be a sampled_from() or characters() strategy."


def test_characters_give_a_new_copy_of_their_alphabet():
    digits = characters(categories=["Nd"])
    first, second = resolve(digits), resolve(alphabet=digits)
    assert first is not second and first == second
    assert tuple(first.intervals) == intervals_of(points(["Nd"]))


def test_one_of_is_the_union_of_its_branches():
    s = characters(max_codepoint=127) | characters(categories=["Nd"]) | characters(codec="ascii")
    assert pairs(s) == intervals_of(points(hi=127) | points(["Nd"]))


def test_a_branch_that_cannot_be_told_spoils_the_union():
    unresolvable(characters() | _engine.text(), "one_of(characters(), text())")


class NoRepr:
    intervals = None

    def __repr__(self):
        raise ValueError("no repr")


@pytest.mark.parametrize(
    "alphabet, shown",
    [(5, "5"), (_engine.SearchStrategy(), "none()"), (_engine.text("ab"), "text()"), (NoRepr(), "")],
)
def test_other_shapes_are_unresolvable(alphabet, shown):
    unresolvable(alphabet, shown)


def test_foreign_interval_sets_are_read_as_given():
    assert pairs(Foreign([(65, 70), [97, 97]])) == ((65, 70), (97, 97))
    assert pairs(Foreign(iter([]))) == ()


@pytest.mark.parametrize(
    "bad, error",
    [([(65, "B")], TypeError), ([(65,)], IndexError), ([(1, 2**64)], OverflowError), ([5], TypeError)],
)
def test_unreadable_foreign_pairs_raise(bad, error):
    with pytest.raises(error):
        resolve(Foreign(bad))


class Interrupting:
    """An alphabet whose every probe is interrupted."""

    @property
    def intervals(self):
        raise KeyboardInterrupt

    def __repr__(self):
        raise KeyboardInterrupt


class Failing:
    @property
    def intervals(self):
        raise ValueError

    def __repr__(self):
        raise ValueError


def test_failed_probes_mean_unresolvable_but_interrupts_pass():
    unresolvable(Failing(), "")
    with pytest.raises(KeyboardInterrupt):
        resolve(Interrupting())
    # Only the repr of the message is interrupted here.
    interrupted_repr = type("R", (), {"__repr__": Interrupting.__repr__})()
    with pytest.raises(KeyboardInterrupt):
        resolve(interrupted_repr)


def test_deep_one_of_raises_instead_of_crashing():
    s = characters(max_codepoint=50)
    for _ in range(20000):
        s = characters(max_codepoint=50) | s
    try:
        assert pairs(s) == intervals_of(points(hi=50))
    except RecursionError:
        pass


class TestSampledValues:
    def test_sampled_from_merges_repeats(self):
        assert pairs(st.sampled_from(["a", "b", "a"])) == ((97, 98),)

    @pytest.mark.parametrize("values", [["a", "bc"], ["a", 1], ["\ud800"]])
    def test_a_value_that_is_no_character(self, values):
        s = st.sampled_from(values)
        unresolvable(s, repr(s))

    def test_just(self):
        assert pairs(st.just("x")) == ((120, 120),)
        for value in ("xy", 1):
            s = st.just(value)
            unresolvable(s, repr(s))

    def test_one_of_with_values(self):
        s = st.one_of(characters(max_codepoint=127), st.just("\u00e9"))
        assert pairs(s) == intervals_of(points(hi=127) | {0xE9})
        unresolvable(st.one_of(), "one_of()")


@qf_testing.needs_upstream
def test_lazy_upstream_strategies_are_unwrapped():
    from quorvantis.strategies._internal.lazy import LazyStrategy
    from quorvantis.strategies._internal.strings import OneCharStringStrategy

    lazy = LazyStrategy(OneCharStringStrategy, ([(48, 57)],))
    assert pairs(lazy) == ((48, 57),)
    drawn = draws(_engine.text(lazy, min_size=50, max_size=50), n=5)
    assert set("".join(drawn)) == set("0123456789")


def test_public_constructors_as_alphabets():
    e = _engine
    assert pairs(e.one_of(characters(max_codepoint=127), e.just("\u00e9"))) == intervals_of(points(hi=127) | {0xE9})
    assert pairs(e.sampled_from(["b", "a", "b"])) == ((97, 98),)
    assert set("".join(draws(e.text(e.sampled_from("ab"), min_size=40, max_size=40), n=5))) == {"a", "b"}
    assert permits(e.text(e.one_of(characters(), e.just("a"))), "\U0010fffd")
    with pytest.raises(InvalidArgument, match=r"not of length one.*\['ab'\]"):
        e.text(e.sampled_from(["ab"]))
