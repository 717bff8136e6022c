"""The package's Python modules that the engine calls by name."""

import concurrent.futures
import datetime
import functools
import inspect
import math
import operator
import random
import re
import sys
import unicodedata
import warnings

import pytest

from qf_testing import run_python
from quorvantis_fast import _engine, control, errors, given, native_strategies, st, strategies
from quorvantis_fast.database import InMemoryExampleDatabase
from quorvantis_fast.settings import HealthCheck, Verbosity, engine_seed, settings
from quorvantis_fast.internal.brindlemar.choice import ChoiceNode


class TestUnicodeCharmap:
    def test_partitions_every_code_point(self):
        charmap = native_strategies._unicode_charmap()
        pairs = sorted(p for ps in charmap.values() for p in ps)
        assert pairs[0][0] == 0 and pairs[-1][1] == sys.maxunicode
        for (_, hi), (lo, _) in zip(pairs, pairs[1:]):
            assert lo == hi + 1

    def test_agrees_with_unicodedata(self):
        charmap = native_strategies._unicode_charmap()
        # Every boundary of every interval, plus a fixed sample inside.
        points = {cp for ps in charmap.values() for lo, hi in ps for cp in (lo, hi)}
        points |= set(random.Random(0).sample(range(sys.maxunicode + 1), 2000))
        where = {cp: cat for cat, ps in charmap.items() for lo, hi in ps for cp in (lo, hi)}
        for cat, ps in charmap.items():
            for lo, hi in ps:
                assert unicodedata.category(chr(lo)) == cat
                assert unicodedata.category(chr(hi)) == cat
        for cp in points - set(where):
            cat = unicodedata.category(chr(cp))
            assert any(lo <= cp <= hi for lo, hi in charmap[cat])

    def test_shape_is_what_the_engine_converts(self):
        charmap = native_strategies._unicode_charmap()
        assert type(charmap) is dict and "Lu" in charmap and "Cs" in charmap
        for cat, ps in charmap.items():
            assert isinstance(cat, str) and not isinstance(ps, str)
            assert all(type(p) is tuple and len(p) == 2 and p[0] <= p[1] for p in ps)
        assert (ord("A"), ord("Z")) in charmap["Lu"]

    def test_callers_cannot_corrupt_the_cache(self):
        first = native_strategies._unicode_charmap()
        first.pop("Lu")
        assert "Lu" in native_strategies._unicode_charmap()


def lt(v):
    return functools.partial(operator.lt, v)  # keeps x with v < x


def gt(v):
    return functools.partial(operator.gt, v)  # keeps x with v > x


def eq(v):
    return functools.partial(operator.eq, v)


class TestFilterMakesEmpty:
    @pytest.mark.parametrize(
        "condition, lo, hi, empty",
        [
            (lt(10), 0, 10, True),
            (lt(9), 0, 10, False),
            (lt(9.5), 0, 10, False),
            (lt(10.0), 0, 10, True),
            (gt(0), 0, 10, True),
            (gt(0.5), 0, 10, False),
            (eq(5.5), None, None, True),
            (eq(5.0), 0, 10, False),
            (eq(11), 0, 10, True),
            (lt(math.inf), None, None, True),
            (lt(-math.inf), None, None, False),
            (lt(math.nan), None, None, True),
            (lt(10**30), None, None, False),
            (math.isnan, None, None, True),
            (math.isinf, 0, 1, True),
            (lambda x: False, 0, 0, False),
            (functools.partial(operator.lt, 1, 2), 0, 0, False),
        ],
    )
    def test_integers(self, condition, lo, hi, empty):
        assert native_strategies._filter_makes_empty(condition, "int", lo, hi, False, False) is empty

    @pytest.mark.parametrize(
        "condition, lo, hi, nan, inf, empty",
        [
            (lt(1.0), 0.0, 1.0, True, True, True),
            (lt(0.99), 0.0, 1.0, False, False, False),
            (math.isnan, 0.0, 1.0, False, False, True),
            (math.isnan, -math.inf, math.inf, True, True, False),
            (math.isinf, -math.inf, math.inf, False, False, True),
            (math.isinf, 0.0, math.inf, False, True, False),
            (math.isinf, 0.0, 1.0, False, True, True),
            (math.isfinite, math.inf, math.inf, False, True, True),
            (math.isfinite, 0.0, math.inf, False, True, False),
            # x > 1e308 holds only for infinity once past the largest float.
            (lt(sys.float_info.max), -math.inf, math.inf, False, False, True),
            (lt(sys.float_info.max), -math.inf, math.inf, False, True, False),
            (lt(math.nan), -math.inf, math.inf, True, True, True),
        ],
    )
    def test_floats(self, condition, lo, hi, nan, inf, empty):
        assert native_strategies._filter_makes_empty(condition, "float", lo, hi, nan, inf) is empty


class TestIdentityFunction:
    def test_recognises_functions_returning_their_argument(self):
        def named(value):
            return value

        assert strategies._is_identity_function(lambda x: x)
        assert strategies._is_identity_function(named)

    @pytest.mark.parametrize(
        "f",
        [lambda x: x + 0, lambda x, y=1: x, lambda *a: a, lambda x: (x,), lambda: None,
         str, abs, functools.partial(lambda x: x)],
    )
    def test_rejects_everything_else(self, f):
        assert not strategies._is_identity_function(f)

    def test_closure_over_another_value_is_not_identity(self):
        y = 3
        assert not strategies._is_identity_function(lambda x: y)


def test_choice_node_keywords_and_equality():
    node = ChoiceNode(type="float", value=0.0, constraints={"min_value": 0.0}, was_forced=False, index=2)
    same = ChoiceNode(type="float", value=0.0, constraints={"min_value": 0.0}, was_forced=False, index=2)
    assert node == same and hash(node) == hash(same)
    assert node != ChoiceNode(type="float", value=-0.0, constraints={"min_value": 0.0},
                              was_forced=False, index=2)
    nan = ChoiceNode(type="float", value=math.nan, constraints={}, was_forced=True, index=0)
    assert nan == ChoiceNode(type="float", value=math.nan, constraints={}, was_forced=True, index=0)
    assert ChoiceNode(type="integer", value=1, constraints={}, was_forced=False, index=0) != \
        ChoiceNode(type="integer", value=True, constraints={}, was_forced=False, index=0)
    with pytest.raises(TypeError):
        ChoiceNode("float", 0.0, {}, False, 0)


class TestSettings:
    def test_defaults_and_inheritance(self):
        base = settings(max_examples=7)
        child = settings(base, stateful_step_count=3)
        assert (child.max_examples, child.stateful_step_count) == (7, 3)
        assert child.verbosity is Verbosity.normal

    @pytest.mark.parametrize(
        "kwargs",
        [{"max_examples": 0}, {"max_examples": "5"}, {"stateful_step_count": 0}, {"verbosity": 9},
         {"verbosity": True}, {"deadline": -1}, {"deadline": datetime.timedelta(0)},
         {"derandomize": 1}, {"suppress_health_check": ["x"]}, {"no_such_setting": 1},
         {"database": 5}, {"database": InMemoryExampleDatabase}, {"suppress_health_check": 5},
         {"max_examples": 2**32}, {"max_shrinks": 2**64}, {"stateful_step_count": 2**63}],
    )
    def test_rejects_invalid_values(self, kwargs):
        with pytest.raises(errors.InvalidArgument):
            settings(**kwargs)

    def test_integer_settings_say_their_range_and_the_engine_takes_its_ends(self):
        for bad in (-1, 0, 2**32):
            with pytest.raises(errors.InvalidArgument, match=rf"^max_examples={bad} must be an integer from 1 to 4294967295$"):
                settings(max_examples=bad)
        s = settings(max_examples=2**32 - 1, max_shrinks=2**64 - 1, database=None, report_multiple_bugs=False)
        assert _engine.run_native(lambda x: 1 / 0, [_engine.integers()], **s.engine_arguments())

    def test_deadline_is_milliseconds_or_a_timedelta(self):
        assert settings(deadline=datetime.timedelta(seconds=1.5)).deadline == 1500.0
        assert settings(deadline=None).engine_arguments()["deadline_ms"] == 0.0

    def test_neighbouring_seeds_give_unrelated_engine_seeds(self):
        # The engine seeds example i with its seed + i, so engine seeds close
        # together would share most of their examples.
        seeds = [engine_seed(settings(seed=k)) for k in (0, 1, 2, 2**64, 2**64 + 1)]
        assert all(abs(a - b) > 2**32 for i, a in enumerate(seeds) for b in seeds[i + 1:])
        assert seeds[1] == engine_seed(settings(seed=1))

    def test_immutable(self):
        with pytest.raises(AttributeError):
            settings().max_examples = 3

    def test_verbosity_orders_by_loudness(self):
        V = Verbosity
        assert V.quiet < V.normal < V.verbose < V.debug

    def test_engine_arguments_name_the_checks_the_engine_knows(self):
        s = settings(suppress_health_check=list(HealthCheck), deadline=None)
        args = s.engine_arguments()
        assert args["suppress_health_check"] == ["filter_too_much", "too_slow"]
        assert args["deadline_ms"] == 0.0


class TestControl:
    def test_assume_rejects_examples_and_is_refused_outside_a_test(self):
        assert control.assume(1) is True
        for call in (lambda: control.assume([]), control.reject):
            with pytest.raises(errors.InvalidArgument, match=r"\(\) can only be called inside a test"):
                call()

        @settings(database=None)
        @given(st.integers(0, 9))
        def prop(x):  # also on a thread the test starts, whose error it raises
            with concurrent.futures.ThreadPoolExecutor(1) as pool:
                pool.submit(control.assume, x % 2 == 0).result()
            assert x % 2 == 0

        prop()

    def test_currently_drawing_nests(self):
        assert not control.currently_drawing()
        with control.drawing():
            with control.drawing():
                assert control.currently_drawing()
            assert control.currently_drawing()
        assert not control.currently_drawing()

    def test_strategy_samples_are_recorded_and_taken(self):
        control._take_strategy_samples()
        control._record_native_3819(("a", "b"))
        assert control._take_strategy_samples() == [("a", "b")]
        assert control._take_strategy_samples() == []


class _FakeRecord:
    """Answers integer draws from a fixed list."""

    def __init__(self, answers):
        self.answers = list(answers)
        self.notes = []

    def draw_integer(self, lo, hi):
        value = self.answers.pop(0)
        assert lo <= value <= hi
        return value

    def note(self, text):
        self.notes.append(text)


class _FakeData:
    def __init__(self, values=(), record=None):
        self.values = list(values)
        self.brindlemar_data = record

    def draw(self, strategy):
        return self.values.pop(0)


class TestDrawnObjects:
    def test_function_checks_arguments_and_draws_results(self):
        f = native_strategies._build_function(lambda a, b=1: None, "returns", False, _FakeData([10, 20]))
        assert (f(1), f(1, b=1)) == (10, 20)
        with pytest.raises(TypeError):
            f()

    def test_pure_function_repeats_answers_for_equal_arguments(self):
        f = native_strategies._build_function(max, "returns", True, _FakeData([10, 20]))
        assert [f([1]), f([2]), f([1])] == [10, 20, 10]

    def test_drawn_random_takes_every_result_from_the_record(self):
        record = _FakeRecord([2**52, 5, 0])
        r = native_strategies._build_random(_FakeData(record=record), False, True)
        assert r.random() == 0.5
        assert r.getrandbits(3) == 5
        assert r.randrange(10) == 0
        assert record.notes[:2] == [f"random() -> {2**52}", "getrandbits() -> 5"]

    def test_true_random_is_seeded_from_the_record(self):
        a = native_strategies._build_random(_FakeData(record=_FakeRecord([123])), True, False)
        assert a.random() == random.Random(123).random()

    def test_arity_callable(self):
        two = native_strategies._arity_callable(2)
        assert len(inspect.signature(two).parameters) == 2
        assert two(1, 2) is None
        with pytest.raises(TypeError):
            two(1)
        assert native_strategies._any_callable(1, k=2) is None

    def test_pretty_iter_and_generator(self):
        it = native_strategies._PrettyIter([1, 2])
        assert repr(it) == "iter([1, 2])"
        assert list(it) == [1, 2] and list(it) == []
        gen = native_strategies._make_generator(([1, 2], "done"))
        assert [next(gen), next(gen)] == [1, 2]
        with pytest.raises(StopIteration) as info:
            next(gen)
        assert info.value.value == "done"

    def test_warn_then_identity(self):
        pack = native_strategies._warn_then_identity("look out")
        marker = object()
        with pytest.warns(errors.QuorvantisWarning, match="look out"):
            assert pack(marker) is marker


def _annotated_int(x) -> int:
    return 0


def _annotated_later(x) -> "str":
    return ""


def _annotated_none(x) -> None:
    return None


class _CallableInstance:
    def __call__(self, x) -> int:
        return 0


class TestFunctionsWrapper:
    def drawn(self, **kwargs):
        f = _engine.BrindlemarData().draw(st.functions(**kwargs))
        return [f(i) for i in range(5)]

    @pytest.mark.parametrize(
        "like, result_type",
        [(_annotated_int, int), (_annotated_later, str), (_annotated_none, type(None)),
         (lambda x: x, type(None)), (_CallableInstance(), type(None)), (ValueError, type(None))],
    )
    def test_results_follow_the_return_annotation(self, like, result_type):
        assert {type(v) for v in self.drawn(like=like)} == {result_type}

    def test_given_returns_wins_over_the_annotation(self):
        assert self.drawn(like=_annotated_int, returns=_engine.just("x")) == ["x"] * 5

    @pytest.mark.parametrize(
        "kwargs, word",
        [({"like": 3}, "like=3"), ({"returns": int}, "returns=<class 'int'>"), ({"pure": 1}, "pure=1")],
    )
    def test_bad_arguments_are_refused_at_once(self, kwargs, word):
        with pytest.raises(errors.InvalidArgument, match=re.escape(word)):
            st.functions(**kwargs)


class TestTypeResolutionFallback:
    def test_unresolvable_type_raises_resolution_failed(self):
        # Neither the engine's chain nor the upstream layer knows this type.
        with pytest.raises(errors.ResolutionFailed, match="Could not resolve"):
            sys.modules["quorvantis_fast.strategies"].from_type(type("Unknown", (), {}))

    def test_upstream_module_is_found_only_when_importable(self):
        code = "import quorvantis_fast.strategies as s; print(getattr(s._real_quorvantis, '__name__', None))"
        assert run_python(code).stdout.split() == ["None"]
        assert run_python(code, upstream=True).stdout.split() == ["quorvantis"]

    def test_registering_a_type_fills_the_registry(self):
        class Custom:
            pass

        marker = lambda t: NotImplemented  # noqa: E731
        strategies.register_type_strategy(Custom, marker)
        try:
            assert native_strategies._NATIVE_TYPE_REGISTRY[Custom] is marker
        finally:
            del native_strategies._NATIVE_TYPE_REGISTRY[Custom]
        with pytest.raises(errors.InvalidArgument):
            strategies.register_type_strategy(3, marker)
