import json
import random
import sys

import pytest
from qf_testing import python_output

from quorvantis_fast._engine import IntervalSet, IntervalSetIter

MIN, MAX = -(2**63), 2**63 - 1


def test_constructor_takes_any_iterable_of_pairs():
    assert IntervalSet(iter([[1, 2], (4, 5)])).intervals == ((1, 2), (4, 5))

    class Index:
        def __index__(self):
            return 7

    assert IntervalSet([(Index(), Index())]).intervals == ((7, 7),)
    assert IntervalSet([{0: 3, 1: 4}]).intervals == ((3, 4),)  # item[0], item[1], len 2


@pytest.mark.parametrize(
    "arg, error, text",
    [
        (5, TypeError, "not iterable"),
        ([(1, 2, 3)], ValueError, "^intervals must be 2-tuples$"),
        ([(1,)], IndexError, "tuple index out of range"),
        ([5], TypeError, "not subscriptable"),
        ([("a", 2)], TypeError, "cannot be interpreted as an integer"),
        ([(1.0, 2)], TypeError, "cannot be interpreted as an integer"),
        ([(0, 2**63)], OverflowError, None),
        ([(MIN - 1, 0)], OverflowError, None),
    ],
)
def test_constructor_errors(arg, error, text):
    with pytest.raises(error, match=text):
        IntervalSet(arg)


def test_constructor_signature():
    with pytest.raises(TypeError):
        IntervalSet([], [])
    with pytest.raises(TypeError):
        IntervalSet(pairs=[])
    assert IntervalSet.__text_signature__ == "(intervals=None)"
    assert IntervalSet.from_string.__text_signature__ == "($cls, s)"
    assert IntervalSet.index_from_char_in_shrink_order.__text_signature__ == "($self, c)"


def test_hostile_items_raise_cleanly():
    class Raises:
        def __getitem__(self, i):
            raise KeyError("boom")

    class LiesAboutLength:
        def __getitem__(self, i):
            return i + 1

        def __len__(self):
            return 3

    class LenRaises(LiesAboutLength):
        def __len__(self):
            raise RuntimeError("len")

    def gen():
        yield (1, 2)
        raise LookupError("stop")

    for arg, error in [([Raises()], KeyError), ([LiesAboutLength()], ValueError),
                       ([LenRaises()], RuntimeError), (gen(), LookupError)]:
        with pytest.raises(error):
            IntervalSet(arg)


def test_method_argument_errors():
    s = IntervalSet([(1, 5)])
    with pytest.raises(TypeError, match="argument 'value'"):
        s.index("1")
    with pytest.raises(TypeError, match="argument 'value'"):
        s.index_above(None)
    with pytest.raises(OverflowError):
        s.index_above(2**63)
    with pytest.raises(TypeError, match="argument 'i'"):
        s.char_in_shrink_order(0.5)
    with pytest.raises(TypeError, match="argument 's'"):
        IntervalSet.from_string(b"ab")
    with pytest.raises(UnicodeEncodeError):
        IntervalSet.from_string("a\ud800")
    with pytest.raises(TypeError):
        s.index_from_char_in_shrink_order("ab")
    with pytest.raises(TypeError):
        s.index_from_char_in_shrink_order(None)
    assert s.index(value=3) == 2 and s.char_in_shrink_order(i=0) == "\x05"


def test_class_is_closed():
    with pytest.raises(TypeError):
        type("Sub", (IntervalSet,), {})
    with pytest.raises(TypeError):
        IntervalSetIter()
    assert type(iter(IntervalSet())) is IntervalSetIter


def test_equality_compares_stored_pairs():
    assert IntervalSet([(1, 4)]) == IntervalSet([(1, 4)])
    assert IntervalSet([(1, 2), (3, 4)]) != IntervalSet([(1, 4)])
    assert IntervalSet([(5, 9), (1, 3)]) != IntervalSet([(1, 3), (5, 9)])
    assert (IntervalSet() == 5) is False and (IntervalSet() != 5) is True
    assert (IntervalSet() == ()) is False
    with pytest.raises(TypeError):
        IntervalSet() < IntervalSet()
    with pytest.raises(TypeError):
        IntervalSet() >= IntervalSet()
    assert hash(IntervalSet([(1, 4)])) == hash(IntervalSet.from_string("\x01\x02\x03\x04"))
    assert len({IntervalSet([(1, 2), (3, 4)]), IntervalSet([(1, 4)]), IntervalSet([(1, 4)])}) == 2


def test_repr():
    assert repr(IntervalSet([(5, 9), (1, 3)])) == "IntervalSet(((5, 9), (1, 3)))"
    assert repr(IntervalSet([(1, 1)])) == "IntervalSet(((1, 1),))"


def random_pair_lists(seed, count):
    rng = random.Random(seed)
    edges = [MIN, MIN + 1, -1, 0, 1, 48, 90, 0x10FFFF, MAX - 1, MAX]
    for _ in range(count):
        pairs = []
        for _ in range(rng.randrange(0, 6)):
            a = rng.choice(edges) if rng.random() < 0.3 else rng.randrange(-1000, 1000)
            b = rng.choice(edges) if rng.random() < 0.3 else min(MAX, a + rng.randrange(0, 50))
            pairs.append((a, b))
        yield pairs


@pytest.mark.skipif(sys.hash_info.algorithm != "siphash13", reason="needs the interpreter's SipHash-1-3")
def test_hash_is_siphash13_with_a_zero_key():
    # With PYTHONHASHSEED=0 the interpreter hashes bytes with SipHash-1-3
    # under a zero key: an independent implementation of the same function.
    lists = [p for p in random_pair_lists(5, 300) if sum(max(0, b - a + 1) for a, b in p) < 2**64]
    code = (
        "import json, struct\n"
        "out = []\n"
        "for pairs in json.loads(%r):\n"
        "    data = struct.pack('<q', len(pairs)) + b''.join(struct.pack('<qq', a, b) for a, b in pairs)\n"
        "    out.append(hash(data))\n"
        "print(json.dumps(out))\n" % json.dumps(lists)
    )
    expected = json.loads(python_output(code, env={"PYTHONHASHSEED": "0"}))
    assert [hash(IntervalSet(p)) for p in lists] == expected


def test_references_are_released():
    s = IntervalSet([(1, 3), (10, 12)])
    pair = (1, 3)
    bad = ("x", 1)
    before = (sys.getrefcount(s), sys.getrefcount(pair), sys.getrefcount(bad))
    for _ in range(200):
        list(s)
        it = iter(s)
        next(it)
        del it
        s | s, s - s, s & s, s.union(s), s == s, s != 3, hash(s), repr(s), s.intervals
        IntervalSet([pair])
        with pytest.raises(TypeError):
            IntervalSet([bad])
        with pytest.raises(TypeError):
            s.union(pair)
        s.__or__(pair)
    assert (sys.getrefcount(s), sys.getrefcount(pair), sys.getrefcount(bad)) == before
