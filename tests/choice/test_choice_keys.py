import math
import random
import sys

import pytest

from quorvantis_fast._engine import (
    IntervalSet,
    choice_equal,
    choice_from_index,
    choice_key,
    choice_permitted,
    choice_to_index,
    choices_key,
)

from qf_testing import bits_of, from_bits, numpy_style_bool


def key_model(x):
    if type(x) is bool:
        return ("bool", x)
    if isinstance(x, float):
        return ("float", bits_of(x))
    return x


class FloatSub(float):
    pass


class EqualsEverything:
    def __eq__(self, other):
        return True

    __hash__ = object.__hash__


def value_pool():
    return [True, False, 0, 1, -1, 2**70, 0.0, -0.0, 1.0, FloatSub(1.0), math.nan,
            from_bits(0x7FF8000000000001), -math.nan, math.inf, "", "a", b"", b"a",
            ("float", 0), ("bool", True), ("float", bits_of(1.0)), None, EqualsEverything()]


class TestKeys:
    def test_keys_match_the_model(self):
        for v in value_pool():
            k = choice_key(v)
            assert k == key_model(v) or k is v

    def test_known_keys(self):
        assert choice_key(True) == ("bool", True)
        assert choice_key(1) == 1
        assert choice_key(-0.0) == ("float", 9223372036854775808)
        assert choice_key(0.0) == ("float", 0)
        obj = object()
        assert choice_key(obj) is obj

    def test_choices_key(self):
        assert choices_key([True, 2, "a"]) == (("bool", True), 2, "a")
        assert choices_key([]) == ()
        assert choices_key(x for x in (0.0, False)) == (("float", 0), ("bool", False))
        assert choices_key((1.0,)) == (("float", bits_of(1.0)),)
        with pytest.raises(TypeError):
            choices_key(5)

        def broken():
            yield 1
            raise ZeroDivisionError

        with pytest.raises(ZeroDivisionError):
            choices_key(broken())

    def test_equality_is_equality_of_keys(self):
        pool = value_pool()
        for a in pool:
            for b in pool:
                assert choice_equal(a, b) is bool(key_model(a) == key_model(b)), (a, b)

    def test_equality_separates_what_python_confuses(self):
        assert not choice_equal(True, 1)
        assert choice_equal(1, 1)
        assert not choice_equal(0.0, -0.0)
        nan = from_bits(0x7FF8000000000123)
        assert choice_equal(nan, from_bits(0x7FF8000000000123))
        assert not choice_equal(nan, math.nan)

    def test_comparison_errors_propagate(self):
        class Broken:
            def __eq__(self, other):
                raise ZeroDivisionError

        with pytest.raises(ZeroDivisionError):
            choice_equal(Broken(), 1)


def float_c(lo=-math.inf, hi=math.inf, allow_nan=True, smallest=5e-324):
    return {"min_value": lo, "max_value": hi, "allow_nan": allow_nan,
            "smallest_nonzero_magnitude": smallest}


class TestPermitted:
    def test_integers(self):
        rnd = random.Random(20)
        for _ in range(1000):
            lo = rnd.choice([None, rnd.randrange(-(2**80), 2**80)])
            hi = rnd.choice([None, rnd.randrange(-(2**80), 2**80)])
            v = rnd.randrange(-(2**81), 2**81)
            c = {"min_value": lo, "max_value": hi}
            expected = (lo is None or v >= lo) and (hi is None or v <= hi)
            assert choice_permitted(v, c) is expected
        assert choice_permitted(5, {})

    def test_booleans(self):
        assert choice_permitted(False, {"p": 0.0}) and not choice_permitted(True, {"p": 0.0})
        assert choice_permitted(True, {"p": 1.0}) and not choice_permitted(False, {"p": 1.0})
        assert choice_permitted(True, {"p": 1e-30}) and choice_permitted(False, {"p": 1e-30})
        assert choice_permitted(True, {"p": math.nan})

    def test_strings_check_every_interval(self):
        s = IntervalSet([(100, 110), (65, 70)])  # unsorted, as given
        c = {"min_size": 0, "max_size": 5, "intervals": s}
        assert choice_permitted("AdF", c)
        assert not choice_permitted("AdZ", c)
        assert not choice_permitted("AAAAAA", c)
        assert choice_permitted("", c)

    def test_bytes(self):
        c = {"min_size": 1, "max_size": 2}
        assert [choice_permitted(b"x" * n, c) for n in range(4)] == [False, True, True, False]

    def test_simplest_value_is_permitted(self):
        # Index 0 gives a permitted value whenever one exists.
        rnd = random.Random(21)
        s = IntervalSet.from_string("xyz09")
        for _ in range(300):
            lo = rnd.randrange(-50, 50)
            c = {"min_value": lo, "max_value": lo + rnd.randrange(0, 9),
                 "shrink_towards": rnd.randrange(-80, 80)}
            assert choice_permitted(choice_from_index(0, "integer", c), c)
            n = rnd.randrange(0, 6)
            c = {"min_size": n, "max_size": n + 2, "intervals": s}
            assert choice_permitted(choice_from_index(0, "string", c), c)
            c = {"min_size": n, "max_size": n}
            assert choice_permitted(choice_from_index(0, "bytes", c), c)
            c = {"p": rnd.choice([0.0, 0.3, 1.0])}
            assert choice_permitted(choice_from_index(0, "boolean", c), c)

    def test_unhandled(self):
        with pytest.raises(NotImplementedError, match="unhandled choice type"):
            choice_permitted(None, {})


class TestConstraintErrors:
    def test_missing_keys_name_the_key(self):
        cases = [
            (lambda: choice_to_index(1, {}), "shrink_towards"),
            (lambda: choice_from_index(0, "integer", {"min_value": 0}), "shrink_towards"),
            (lambda: choice_permitted(1.5, {"min_value": 0.0, "max_value": 1.0}), "allow_nan"),
            (lambda: choice_from_index(0, "float", {"min_value": 0.0}), "max_value"),
            (lambda: choice_to_index("a", {"min_size": 0}), "intervals"),
            (lambda: choice_to_index(b"a", {}), "min_size"),
            (lambda: choice_permitted(b"abc", {"min_size": 1}), "max_size"),
            (lambda: choice_permitted("abc", {"min_size": 3}), "max_size"),
            (lambda: choice_permitted("abc", {"min_size": 0, "max_size": 5}), "intervals"),
            (lambda: choice_to_index(True, {}), "p"),
            (lambda: choice_from_index(0, "boolean", {}), "p"),
        ]
        for call, key in cases:
            with pytest.raises(KeyError) as info:
                call()
            assert info.value.args == (key,)

    def test_keys_not_needed_are_not_read(self):
        assert choice_to_index(1.5, {"min_value": 0.0, "max_value": 1.0}) > 0
        assert choice_permitted(7, {"min_value": 0})
        assert not choice_permitted(-1, {"min_value": 0, "max_value": "junk"})
        assert not choice_permitted("ab", {"min_size": 3})
        assert not choice_permitted("abc", {"min_size": 4})
        assert not choice_permitted(b"", {"min_size": 1})
        assert choice_from_index(0, "string", {"min_size": 0, "intervals": IntervalSet()}) == ""

    def test_unusable_values(self):
        with pytest.raises(TypeError):
            choice_permitted(1.0, float_c(allow_nan=1))
        with pytest.raises(OverflowError):
            choice_to_index(b"", {"min_size": -1})
        with pytest.raises(TypeError):
            choice_to_index(b"", {"min_size": "0"})
        with pytest.raises(TypeError):
            choice_to_index(1, {"shrink_towards": None})
        with pytest.raises(TypeError):
            choice_to_index(1, {"min_value": 1.5, "shrink_towards": 0})
        with pytest.raises(TypeError, match="IntervalSet"):
            choice_to_index("a", {"min_size": 0, "intervals": [(97, 97)]})
        with pytest.raises(TypeError):
            choice_to_index(True, {"p": "half"})

    def test_allow_nan_takes_a_numpy_boolean_by_its_truth(self):
        assert choice_permitted(math.nan, float_c(allow_nan=numpy_style_bool(True)))
        assert not choice_permitted(math.nan, float_c(allow_nan=numpy_style_bool(False)))
        with pytest.raises(TypeError):
            choice_permitted(math.nan, float_c(allow_nan=numpy_style_bool(True, module="numpyx")))

    def test_lenient_conversions(self):
        class Idx:
            def __index__(self):
                return 3

        assert choice_to_index(3, {"min_value": Idx(), "shrink_towards": 0}) == 0
        assert choice_permitted(0.5, float_c(0, 1, False, 0)) is True
        assert choice_to_index(True, {"p": 1}) == 0

    def test_argument_types(self):
        with pytest.raises(TypeError, match="argument 'constraints'"):
            choice_to_index(1, [("shrink_towards", 0)])
        with pytest.raises(TypeError, match="argument 'constraints'"):
            choice_permitted(1, None)
        with pytest.raises(TypeError, match="argument 'index'"):
            choice_from_index("0", "integer", {"shrink_towards": 0})
        with pytest.raises(TypeError, match="argument 'choice_type'"):
            choice_from_index(0, 1, {"shrink_towards": 0})
        with pytest.raises(TypeError):
            choice_from_index(0, "integer")

    def test_dict_subclass_is_read_as_a_dict(self):
        class D(dict):
            def __getitem__(self, key):
                raise AssertionError("not used")

        assert choice_to_index(2, D(shrink_towards=0)) == 3

    def test_failing_conversion_inside_a_reader(self):
        class Bad:
            def __index__(self):
                raise ZeroDivisionError

        with pytest.raises(ZeroDivisionError):
            choice_to_index(1, {"min_value": Bad(), "shrink_towards": 0})


class TestReferences:
    def test_calls_leave_reference_counts_unchanged(self):
        s = IntervalSet.from_string("abc")
        value = 2**90 + 1
        cases = [
            (value, {"min_value": None, "max_value": None, "shrink_towards": 2**89}, "integer"),
            (-1.5, float_c(), "float"),
            ("cab", {"min_size": 0, "max_size": 9, "intervals": s}, "string"),
            (b"\x01\x02", {"min_size": 0, "max_size": 9}, "bytes"),
            (True, {"p": 0.5}, "boolean"),
        ]
        for v, c, t in cases:
            # Singletons are shared with the rest of the interpreter.
            watched = [x for x in (v, c, s, *c.values()) if x not in (None, True, False)]
            counts = [sys.getrefcount(x) for x in watched]
            for _ in range(200):
                i = choice_to_index(v, c)
                assert choice_from_index(i, t, c) == v
                assert choice_permitted(v, c)
                choice_key(v)
                choice_equal(v, v)
            choices_key([v] * 3)
            assert [sys.getrefcount(x) for x in watched] == counts
        # Errors release what they took as well.
        c = {"min_size": 0}
        before = sys.getrefcount(c)
        for _ in range(100):
            with pytest.raises(KeyError):
                choice_permitted(b"x", c)
        assert sys.getrefcount(c) == before
