"""text(alphabet, min_size=, max_size=): alphabet forms, sizes, errors, shrinking."""

import math
import re
import sys
import warnings

import pytest

from qf_testing import assert_stored_error, draws, minimal_where, permits
from quorvantis_fast import _engine
from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument, QuorvantisWarning

text = _engine.text


class Foreign:
    """A strategy of another library that exposes its interval set."""

    def __init__(self, pairs):
        self.intervals = type("Intervals", (), {"intervals": pairs})()

    def do_draw(self, data):
        raise AssertionError("never drawn here")


class NoIntervals:
    def do_draw(self, data):
        raise AssertionError("never drawn here")


class BrokenDoDraw:
    """Reading do_draw fails; the object is still a collection."""

    @property
    def do_draw(self):
        raise RuntimeError("no")

    def __iter__(self):
        return iter("xy")


def seen(alphabet, n=20):
    """The characters of n long draws."""
    return set("".join(draws(text(alphabet, min_size=200, max_size=200), n=n)))


@pytest.mark.parametrize(
    "alphabet, expected",
    [
        ("abca", "abc"),
        (["a", "b"], "ab"),
        (("a", "b"), "ab"),
        (iter(["x", "y"]), "xy"),
        ({"k": 1, "m": 2}, "km"),
        (_engine.IntervalSet([(97, 99)]), "abc"),
        (_engine.characters(categories=["Nd"], max_codepoint=127), "0123456789"),
        (Foreign([(65, 67), (0x1F600, 0x1F600)]), "ABC\U0001F600"),
        (BrokenDoDraw(), "xy"),
    ],
)
def test_alphabet_forms(alphabet, expected):
    assert seen(alphabet) == set(expected)


@pytest.mark.parametrize(
    "make, expected",
    [
        (lambda: st.just("q"), "q"),
        (lambda: st.sampled_from(["a", "b", "a"]), "ab"),
        (lambda: st.one_of(st.just("q"), st.sampled_from("rs")), "qrs"),
        (lambda: st.sampled_from("abc").map(str.upper), "ABC"),
        (lambda: st.sampled_from("abc").filter(lambda c: c != "b"), "ac"),
        (lambda: st.one_of(st.just("q"), st.just("r").map(str.upper)), "qR"),
    ],
)
def test_strategy_alphabets(make, expected):
    assert seen(make()) == set(expected)
    assert repr(text(make())) == "text()"


@pytest.mark.parametrize(
    "alphabet, drawn",
    [
        (_engine.integers(0, 0), "not unicode strings: [0]"),
        (_engine.SearchStrategy(), "not unicode strings: [None]"),
        (_engine.text("a", min_size=2, max_size=2), "not of length one, which leads to violating the size contract: ['aa']"),
    ],
)
def test_a_drawn_alphabet_value_that_is_not_one_character_is_refused(alphabet, drawn):
    s = text(alphabet, min_size=1)
    with pytest.raises(InvalidArgument, match="^" + re.escape("The following elements in alphabet are " + drawn) + "$"):
        draws(s, n=1)


@pytest.mark.parametrize("alphabet", [5, 2.5, NoIntervals()])
def test_an_alphabet_that_is_no_strategy_str_or_collection_is_refused(alphabet):
    with pytest.raises(InvalidArgument, match=r"must be a strategy, a str or an iterable of one-character"):
        text(alphabet)


@pytest.mark.parametrize("alphabet", [None])
def test_the_default_alphabet_is_every_category_but_surrogates(alphabet):
    s = text(alphabet) if alphabet is not None else text()
    assert permits(s, "a0\U0010fffd\u0378\x00")
    assert not permits(s, "\ud800")
    assert not permits(s, "a\udfff")


def test_an_empty_alphabet_draws_the_empty_string():
    assert set(draws(text(""), n=20)) == {""}
    assert set(draws(text([], max_size=3), n=20)) == {""}


def test_text_of_characters_keeps_their_alphabet():
    s = text(_engine.characters(categories=["Lu"]))
    assert permits(s, "AZ\u00c0")
    assert not permits(s, "a")


@pytest.mark.parametrize("alphabet", ["ascii", "utf-8"])
def test_codec_names_warn_then_draw_their_letters(alphabet):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        s = text(alphabet)
    assert [w.category for w in caught] == [QuorvantisWarning]
    letters = ", ".join(f'"{c}"' for c in alphabet)
    assert str(caught[0].message) == (
        f"st.text('{alphabet}'): it seems like you are trying to use the codec '{alphabet}'. "
        f"st.text('{alphabet}') instead generates strings using the literal characters [{letters}]. "
        f"To specify the {alphabet} codec, use st.text(st.characters(codec='{alphabet}')). If you intended "
        "to use character literals, you can silence this warning by reordering the characters."
    )
    assert permits(s, alphabet[::-1]) and not permits(s, "b")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(QuorvantisWarning):
            text(alphabet)


@pytest.mark.parametrize("alphabet", ["utf8", "ASCII", "asciii", ["a", "s", "c", "i", "i"]])
def test_other_spellings_do_not_warn(alphabet):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        text(alphabet)


NOT_TEXT = "The following elements in alphabet are not unicode strings: [{}]"
NOT_ONE = "The following elements in alphabet are not of length one, which leads to violating the size contract: [{}]"


@pytest.mark.parametrize(
    "alphabet, message",
    [
        (["a", "bc", 1, "de"], NOT_TEXT.format("1")),
        (["a", "bc", "de"], NOT_ONE.format("'bc', 'de'")),
        (["\ud800", "x", b"y", None], NOT_TEXT.format("'\\ud800', b'y', None")),
        ("x\ud800", NOT_TEXT.format("'\\ud800'")),
    ],
)
def test_bad_collection_elements_are_all_listed(alphabet, message):
    with pytest.raises(InvalidArgument) as e:
        text(alphabet, min_size=-1)
    assert str(e.value) == message


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda: st.just("ab"), NOT_ONE.format("'ab'")),
        (lambda: st.just(1), NOT_TEXT.format("1")),
        (lambda: st.sampled_from(["a", 2, "bc"]), NOT_TEXT.format("2")),
        (lambda: st.sampled_from(["ab"]), NOT_ONE.format("'ab'")),
    ],
)
def test_bad_strategy_elements(make, message):
    with pytest.raises(InvalidArgument) as e:
        text(make())
    assert str(e.value) == message


class Exploding:
    def __iter__(self):
        yield "a"
        raise ValueError("boom")


class BadRepr(str):
    def __repr__(self):
        raise KeyError("repr")


@pytest.mark.parametrize("alphabet, error", [(Exploding(), ValueError), ([BadRepr("ab")], KeyError)])
def test_errors_of_the_collection_pass_through(alphabet, error):
    with pytest.raises(error):
        text(alphabet)


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), dict(min_size=5, max_size=2), "min_size=5 cannot be greater than max_size=2"),
        (("",), dict(min_size=1),
         "Cannot create non-empty text with elements drawn from strategy the empty alphabet because it has no values"),
        ((), dict(min_size=-1), "min_size=-1 must be non-negative"),
        ((), dict(max_size=1.5), "max_size=1.5 must be an integer or None"),
        ((), dict(min_size=8193),
         "Cannot create a text of min_size=8193: it can never generate an example, because min_size is larger "
         "than the maximum buffer size 8192"),
    ],
)
def test_size_errors_are_stored(args, kwargs, message):
    assert_stored_error(text(*args, **kwargs), message)


@pytest.mark.parametrize(
    "alphabet, lo, hi", [("ab", 2, 4), (None, 1, 3), ("x", 0, 0), (_engine.IntervalSet([(0x1F000, 0x1F0FF)]), 5, 9)]
)
def test_drawn_lengths_stay_within_the_sizes(alphabet, lo, hi):
    lengths = {len(s) for s in draws(text(alphabet, min_size=lo, max_size=hi), n=150)}
    assert lengths <= set(range(lo, hi + 1))
    assert lo in lengths and hi in lengths


def test_accepted_sizes():
    text(min_size=8192).validate()
    text(min_size=True, max_size=None).validate()
    text("", max_size=3).validate()


def test_typed_view_and_repr():
    s = text("ab", min_size=2)
    view = s.wrapped_strategy
    assert type(s) is _engine.SearchStrategy and type(view) is _engine.TextStrategy
    assert (view.min_size, view.max_size) == (2, math.inf)
    assert text(max_size=7).wrapped_strategy.max_size == 7
    assert repr(s) == repr(text(min_size=3)) == "text()"


def test_references_are_released():
    alphabet = ["a", "b"]
    bad = ["a", 1]
    before = sys.getrefcount(alphabet), sys.getrefcount(bad)
    for _ in range(200):
        text(alphabet, min_size=2).validate()
        text(alphabet, min_size=-1)
        with pytest.raises(InvalidArgument):
            text(bad)
    assert (sys.getrefcount(alphabet), sys.getrefcount(bad)) == before


class TestShrinking:
    def test_toward_short_strings_of_zeros(self):
        assert minimal_where(text(), lambda s: len(s) >= 3) == "000"

    def test_in_the_alphabet_order(self):
        assert minimal_where(text("zyx"), lambda s: len(s) >= 2) == "xx"

    def test_through_a_characters_alphabet(self):
        letters = _engine.characters(categories=["Ll", "Lu"])
        assert minimal_where(text(letters), lambda s: any(c.isupper() for c in s)) == "A"
