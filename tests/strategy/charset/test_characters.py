"""characters(...): alphabets, reprs, argument errors and shrinking."""

import sys

import pytest

from qf_testing import ALL_BUT_CS, alphabet, assert_stored_error, draws, intervals_of, minimal_where, points
from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument

characters = _engine.characters
LETTERS = ["Lu", "Ll", "Lt", "Lm", "Lo"]
OTHER = ["Cc", "Cf", "Cs", "Co", "Cn"]


class IntLike:
    """Converts through __index__ but is no int."""

    def __index__(self):
        return 3

    def __repr__(self):
        return "IntLike()"


class Code(int):
    def __repr__(self):
        return "Code(...)"


ALPHABETS = [
    (dict(), lambda: points()),
    (dict(categories=["Lu"]), lambda: points(["Lu"])),
    (dict(categories=["L", "Nd"]), lambda: points(LETTERS + ["Nd"])),
    (dict(categories=["Cs"]), lambda: points(["Cs"])),
    (dict(categories=["C"]), lambda: points(OTHER)),
    (dict(exclude_categories=["Lu", "Ll"]), lambda: points([c for c in ALL_BUT_CS if c not in ("Lu", "Ll")])),
    (dict(min_codepoint=0x100, max_codepoint=0x2000), lambda: points(lo=0x100, hi=0x2000)),
    (dict(min_codepoint=True), lambda: points(lo=1)),
    (dict(min_codepoint=Code(0x10FFF0), max_codepoint=2**40), lambda: points(lo=0x10FFF0)),
    (dict(codec="ascii"), lambda: points(hi=127)),
    (dict(codec="ascii", min_codepoint=50), lambda: points(lo=50, hi=127)),
    # Any name of ASCII narrows as the repr says, and UTF-8 never offers the
    # surrogates it cannot encode.
    (dict(codec="US-ASCII"), lambda: points(hi=127)),
    (dict(categories=["C"], codec="utf-8"), lambda: points(["Cc", "Cf", "Co", "Cn"])),
    # Other codecs only check the included characters.
    (dict(codec="latin-1"), lambda: points()),
    (dict(max_codepoint=100, include_characters="é", categories=()), lambda: {ord("é")}),
    (dict(categories=[], include_characters="ab"), lambda: {ord("a"), ord("b")}),
    (dict(categories=["Lu"], exclude_characters="ABC"), lambda: points(["Lu"]) - set(map(ord, "ABC"))),
    (
        dict(categories=["Nd"], include_characters=["x", "y"], max_codepoint=127),
        lambda: set(map(ord, "0123456789xy")),
    ),
    (dict(whitelist_categories=["Lu"], blacklist_characters="Q"), lambda: points(["Lu"]) - {ord("Q")}),
    # A one-shot iterator gives the same categories to the alphabet and the repr.
    (dict(categories=iter(["Nd"])), lambda: points(["Nd"])),
]


@pytest.mark.parametrize("kwargs, expected", ALPHABETS)
def test_alphabet_matches_the_unicode_database(kwargs, expected):
    want = expected()
    strategy = characters(**kwargs)
    assert alphabet(strategy) == intervals_of(want)
    for value in draws(strategy, n=60):
        assert type(value) is str and len(value) == 1 and ord(value) in want


ALL_BUT_LU = ", ".join(repr(c) for c in ALL_BUT_CS[1:27] + ["Cs"] + ALL_BUT_CS[27:])


@pytest.mark.parametrize(
    "kwargs, shown",
    [
        (dict(), "characters()"),
        (dict(codec="ascii"), "characters(max_codepoint=127)"),
        (dict(codec="ascii", max_codepoint=50), "characters(max_codepoint=50)"),
        (dict(codec="ASCII", max_codepoint=500), "characters(max_codepoint=127)"),
        (dict(codec="utf8"), "characters(codec='utf-8')"),
        (dict(codec="latin-1"), "characters(codec='iso8859-1')"),
        (dict(categories=["L"]), "characters(categories=('Lu', 'Ll', 'Lt', 'Lm', 'Lo'))"),
        (dict(whitelist_categories=["Lu"]), "characters(categories=('Lu',))"),
        (dict(categories=["Nd", "Lu", "N"]), "characters(categories=('Nd', 'Lu', 'Nl', 'No'))"),
        (dict(categories=ALL_BUT_CS[::-1]), "characters()"),
        (dict(categories=["Lu", "Cs"], codec="utf-8"), "characters(codec='utf-8', categories=('Lu',))"),
        (dict(exclude_categories=["Cs"]), "characters()"),
        (dict(exclude_categories=["Lu"]), f"characters(categories=({ALL_BUT_LU}))"),
        (dict(categories=["Lu"], include_characters=""), "characters(categories=('Lu',))"),
        (
            dict(min_codepoint=1, max_codepoint=200, exclude_characters="xy", include_characters=["a"],
                 categories="N"),
            "characters(min_codepoint=1, max_codepoint=200, categories=('Nd', 'Nl', 'No'), "
            "exclude_characters='xy', include_characters=['a'])",
        ),
    ],
)
def test_repr(kwargs, shown):
    assert repr(characters(**kwargs)) == shown


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (dict(categories=["Xx"], whitelist_categories=["Lu"]),
         "Cannot pass both categories and the deprecated whitelist_categories."),
        (dict(exclude_characters="a", blacklist_characters="b", min_codepoint=-1),
         "Cannot pass both exclude_characters and the deprecated blacklist_characters."),
        (dict(min_codepoint=-1, codec=1), "min_codepoint=-1 must not be negative."),
        (dict(max_codepoint=Code(-2)), "max_codepoint=-2 must not be negative."),
        (dict(max_codepoint=1.5), "max_codepoint=1.5 must be an integer."),
        (dict(min_codepoint=IntLike()), "min_codepoint=IntLike() must be an integer."),
        (dict(min_codepoint="3"), "min_codepoint='3' must be an integer."),
        (dict(codec=1), "codec=1 must be a string."),
        (dict(codec="\ud800"), "codec='\\ud800' must be a string."),
        (dict(codec="no-such-codec"), 'codec="no-such-codec" is not a valid codec name.'),
        (dict(codec='a\t"\\\u0301\x00\x85é '), 'codec="a\\t\\"\\\\\\u{301}\\0\\u{85}é " is not a valid codec name.'),
    ],
)
def test_single_argument_errors_are_raised_at_once(kwargs, message):
    with pytest.raises(InvalidArgument) as e:
        characters(**kwargs)
    assert str(e.value) == message


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (dict(min_codepoint=5, max_codepoint=3), "min_codepoint=5 is greater than max_codepoint=3"),
        (dict(categories=["Lu"], exclude_categories=["Ll"]),
         "Pass at most one of categories and exclude_categories - these arguments both specify which "
         "categories are allowed, so it doesn't make sense to use both in a single call."),
        (dict(include_characters="ab"),
         "Nothing is excluded by other arguments, so passing only include_characters='ab' would have no "
         "effect.  Also pass categories=(), or use sampled_from('ab') instead."),
        (dict(categories=(), include_characters=["ab"]),
         "Elements of include_characters are required to be a single character, but ['ab'] passed in "
         "include_characters=['ab'] was not."),
        (dict(categories=(), exclude_characters=["c", "ab"]),
         "Elements of exclude_characters are required to be a single character, but ['ab'] passed in "
         "exclude_characters=['c', 'ab'] was not."),
        (dict(categories=(), include_characters="ba", exclude_characters="cab"),
         "Characters ['a', 'b'] are present in both include_characters='ba' and exclude_characters='cab'"),
        (dict(codec="ascii", include_characters="aé"),
         "Character 'é' in include_characters='aé' cannot be encoded with codec=\"ascii\""),
        (dict(codec="ascii", include_characters="\u0301"),
         "Character '\\u{301}' in include_characters='\u0301' cannot be encoded with codec=\"ascii\""),
        (dict(categories="Lu"), "In categories=('L', 'u'), 'u' is not a valid Unicode category."),
        (dict(exclude_categories=["Lu", "Xx"]),
         "In exclude_categories=('Lu', 'Xx'), 'Xx' is not a valid Unicode category."),
        (dict(categories=[]),
         "When `categories` is an empty collection and there are no characters specified in "
         "include_characters, nothing can be generated by the characters() strategy."),
        (dict(min_codepoint=1114112),
         "No characters are allowed to be generated by this combination of arguments: min_codepoint=1114112"),
        (dict(categories=["Lu"], min_codepoint=0x30, max_codepoint=0x39),
         "No characters are allowed to be generated by this combination of arguments: min_codepoint=48, "
         "max_codepoint=57"),
        (dict(categories=["Nd"], max_codepoint=0x39, exclude_characters="0123456789"),
         "No characters are allowed to be generated by this combination of arguments: max_codepoint=57, "
         "exclude_characters='0123456789'"),
        (dict(codec="ascii", min_codepoint=200),
         "No characters are allowed to be generated by this combination of arguments: min_codepoint=200"),
    ],
)
def test_argument_combinations_are_stored(kwargs, message):
    assert_stored_error(characters(**kwargs), message)


def test_code_points_beyond_64_bits_are_like_any_beyond_unicode():
    for big in (2**40, 2**70):
        top = characters(max_codepoint=big)
        assert repr(top) == f"characters(max_codepoint={big})" and alphabet(top) == alphabet(characters())
        assert_stored_error(characters(min_codepoint=big), "No characters are allowed to be generated by "
                            f"this combination of arguments: min_codepoint={big}")


@pytest.mark.parametrize(
    "kwargs, error",
    [
        (dict(categories=5), TypeError),
        (dict(exclude_categories=[1]), TypeError),
        (dict(categories=(), include_characters=5), TypeError),
        (dict(categories=(), include_characters=["\ud800"]), UnicodeEncodeError),
        # The categories are read before any combination is judged.
        (dict(min_codepoint=5, max_codepoint=3, categories=5), TypeError),
    ],
)
def test_unreadable_arguments_raise_the_host_error(kwargs, error):
    with pytest.raises(error):
        characters(**kwargs)


class Hostile:
    """Every protocol raises."""

    def __index__(self):
        raise RuntimeError("index")

    def __iter__(self):
        raise RuntimeError("iter")

    def __repr__(self):
        raise RuntimeError("repr")


HOSTILE = [0, -1, 2**70, 1.5, float("nan"), "", "x", "\ud800", [], ["x"], [1], b"ab", {"Lu": 1}, object(),
           Hostile(), True]
ARGUMENTS = ["codec", "min_codepoint", "max_codepoint", "categories", "exclude_categories",
             "include_characters", "exclude_characters"]


@pytest.mark.parametrize("name", ARGUMENTS)
def test_bad_input_gives_python_errors_only(name):
    for value in HOSTILE:
        try:
            s = characters(categories=() if name != "categories" else None, **{name: value})
        except Exception:
            continue
        try:
            s.validate()
        except InvalidArgument:
            continue
        assert len(draws(s, n=3)[0]) == 1


def test_failed_calls_release_their_arguments():
    include = ["a", "b"]
    bad = [1]
    before = sys.getrefcount(include), sys.getrefcount(bad)
    for _ in range(200):
        characters(categories=(), include_characters=include)
        characters(include_characters=include).is_empty
        with pytest.raises(TypeError):
            characters(categories=bad)
    assert (sys.getrefcount(include), sys.getrefcount(bad)) == before


class TestShrinking:
    def test_toward_zero_first(self):
        assert minimal_where(characters(), lambda c: True) == "0"

    def test_through_the_letters_in_order(self):
        assert minimal_where(characters(categories=["Lu"]), lambda c: c != "A") == "B"

    def test_below_zero_descending(self):
        assert minimal_where(characters(max_codepoint=0x2F), lambda c: True) == "/"

    def test_then_above_z_ascending(self):
        assert minimal_where(characters(min_codepoint=0x5B), lambda c: c not in "[\\") == "]"
