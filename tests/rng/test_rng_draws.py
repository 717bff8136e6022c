"""Integer and collection-size draws from the record's generator: exact
agreement with a Python model of the same algorithm, then the properties the
draws promise, on fixed seeds with sample sizes far from their tolerances."""

import math

import pytest

import rng_reference as ref
from quorvantis_fast import _engine
from rng_driver import run, split_state

INT64 = range(-(2**63), 2**63)


def bound_text(v):
    return "none" if v is None else str(v)


def native_ints(seed, lo, hi, n, cmd="int"):
    """The drawn values and the generator state after them."""
    (line,) = run(f"{cmd} {seed} {bound_text(lo)} {bound_text(hi)} {n}")
    outs, state = split_state(line)
    return outs, state


def value(text):
    return int(text.lstrip("wb"))


def model_ints(seed, lo, hi, n):
    g = ref.Rng(seed)
    cdf, inv = _engine.integers_dist_cdf, _engine.integers_dist_inverse_cdf
    values = [ref.draw_integer(g, lo, hi, cdf, inv) for _ in range(n)]
    return values, g.state()


BOUNDS = [
    (None, None),
    (0, None),
    (None, 0),
    (-5, 5),
    (5, 5),
    (0, 1),
    (-(2**63), 2**63 - 1),
    (2**63, 2**64),
    (-(2**64), 2**64),
    (10**40, 10**40 + 3),       # next to no mass: uniform
    (2**62, 2**62 + 1000),      # the same inside 64 bits
    (-(2**200), None),
    (None, 2**200),
    (10**400, 10**400 + 10),    # beyond double range: uniform
    (-(10**400), 10**400),
    (7, 3),                     # empty range: the lower bound
]


def test_bounds_convert_to_double_correctly_rounded():
    # Bounds are placed on the distribution as doubles: nearest, ties to even,
    # infinite from 2^1024 on.
    cases = [0, -1, 2**53 + 1, 2**63 - 1, -(2**63), 2**63, 2**64 + 2048, 2**64 + 2049,
             2**64 + 6144, -(2**64 + 2049), 10**40, 3**200, (2**53 - 1) * 2**971,
             2**1024 - 2**970, 2**1024 - 2**970 - 1, 2**1024, -(10**400)]
    (line,) = run("double " + " ".join(map(str, cases)))
    got = [float.fromhex(v) for v in line.split()]
    for n, d in zip(cases, got):
        try:
            expected = float(n)
        except OverflowError:
            expected = math.inf if n > 0 else -math.inf
        assert d == expected, n


class TestIntegerDraws:
    @pytest.mark.parametrize("seed", [0, 77])
    @pytest.mark.parametrize("lo,hi", BOUNDS, ids=str)
    def test_matches_model(self, seed, lo, hi):
        outs, state = native_ints(seed, lo, hi, 150)
        assert ([value(v) for v in outs], state) == model_ints(seed, lo, hi, 150)

    @pytest.mark.parametrize("lo,hi", BOUNDS, ids=str)
    def test_big_integer_overload_agrees(self, lo, hi):
        outs, state = native_ints(5, lo, hi, 60)
        zouts, zstate = native_ints(5, lo, hi, 60, cmd="intz")
        assert [value(v) for v in outs] == [int(v) for v in zouts]
        assert state == zstate

    def test_results_are_64_bit_whenever_they_fit(self):
        outs, _ = native_ints(3, None, None, 2000)
        for text in outs:
            assert text[0].isdigit() or text[0] == "-" or value(text) not in INT64

    def test_single_value_range(self):
        outs, _ = native_ints(1, 5, 5, 50)
        assert {value(v) for v in outs} == {5}

    def test_empty_range_answers_lower_without_drawing(self):
        outs, state = native_ints(1, 10**40 + 1, 10**40, 5)
        assert {value(v) for v in outs} == {10**40 + 1}
        assert state == (0, 64)

    def test_narrow_far_range_is_uniform(self):
        # 4 values, 4000 draws: each count is 1000 with a deviation of about
        # 27; 150 is more than five deviations.
        outs, _ = native_ints(11, 10**40, 10**40 + 3, 4000)
        counts = {}
        for v in outs:
            counts[value(v)] = counts.get(value(v), 0) + 1
        assert sorted(counts) == [10**40 + i for i in range(4)]
        assert all(abs(c - 1000) < 150 for c in counts.values())

    def test_unbounded_draws(self):
        values = [value(v) for v in native_ints(2, None, None, 20000)[0]]
        assert all(-(2**128) <= v <= 2**128 for v in values)
        # Mass of the values that round into [-256, 256].
        p = _engine.integers_dist_cdf(256.5) - _engine.integers_dist_cdf(-256.5)
        share = sum(-256 <= v <= 256 for v in values) / len(values)
        assert abs(share - p) < 0.015  # about seven standard deviations
        assert abs(sum(v > 0 for v in values) / len(values) - 0.5) < 0.02
        assert sum(abs(v) >= 2**64 for v in values) > 200  # about 5% expected

    def test_only_a_far_lower_bound_extends_the_upper_one(self):
        values = [value(v) for v in native_ints(4, -(2**200), None, 3000)[0]]
        assert all(-(2**200) <= v <= 2**201 for v in values)

    def test_bounded_draws_follow_the_conditioned_distribution(self):
        # With bounds the draw is the distribution restricted to them: the
        # share of [0, 256] among draws from [0, 2^128] is its conditional mass.
        values = [value(v) for v in native_ints(6, 0, None, 20000)[0]]
        assert min(values) == 0 and max(values) <= 2**128
        cdf = _engine.integers_dist_cdf
        p = (cdf(256.5) - cdf(-0.5)) / (cdf(2.0**128 + 0.5) - cdf(-0.5))
        share = sum(v <= 256 for v in values) / len(values)
        assert abs(share - p) < 0.02  # more than five standard deviations


def native_sizes(seed, lo, hi, n):
    (line,) = run(f"size {seed} {lo} {hi} {n}")
    outs, state = split_state(line)
    return [int(v) for v in outs], state


def words_used(state):
    counter, index = state
    return 0 if counter == 0 else (counter - 4) * 16 + index


class TestCollectionSizes:
    @pytest.mark.parametrize("seed", [0, 31])
    @pytest.mark.parametrize(
        "lo,hi",
        [(0, 1), (0, 10), (0, 10**10), (20, 100), (3, 4), (0, 2**64 - 1), (1000, 1005),
         (100, 10**9), (7, 7), (5, 3)],
        ids=str,
    )
    def test_matches_model(self, seed, lo, hi):
        g = ref.Rng(seed)
        expected = [ref.draw_collection_size(g, lo, hi) for _ in range(300)]
        assert native_sizes(seed, lo, hi, 300) == (expected, g.state())

    def test_continuation_probabilities_of_the_model(self):
        # Reference values the native draws above are compared through.
        assert ref.continuation_probability(0, 1) == 0.5
        assert ref.continuation_probability(0, 10**10) == 0.8332333333333334
        assert abs(ref.continuation_probability(0, 10) - 0.8685) < 0.0005

    @pytest.mark.parametrize("lo,hi", [(7, 7), (5, 3), (2**64 - 1, 0)])
    def test_no_draw_when_nothing_to_choose(self, lo, hi):
        sizes, state = native_sizes(9, lo, hi, 20)
        assert sizes == [lo] * 20
        assert state == (0, 64)

    def test_each_test_beyond_min_costs_one_double(self):
        sizes, state = native_sizes(9, 3, 50, 400)
        tests = sum(s - 3 + (s < 50) for s in sizes)
        assert words_used(state) == 2 * tests

    def test_bounds_and_means(self):
        # Geometric-like runs: (0, 10^10) has mean 5 and deviation about 5.5,
        # (20, 100) mean about 40 and deviation under 20. 20000 and 5000
        # draws put the tolerances beyond six standard errors.
        sizes, _ = native_sizes(12, 0, 10**10, 20000)
        assert abs(sum(sizes) / len(sizes) - 5) < 0.3
        sizes, _ = native_sizes(13, 20, 100, 5000)
        assert all(20 <= s <= 100 for s in sizes)
        assert abs(sum(sizes) / len(sizes) - 40) < 1.5
        sizes, _ = native_sizes(14, 0, 1, 1000)
        assert set(sizes) == {0, 1} and 400 < sum(sizes) < 600

    def test_huge_target_ends_the_probability_search(self):
        # A target of 6e7 extra elements: neighbouring doubles of p move the
        # expectation by more than the search's tolerance, so it must stop on
        # its own. The draw still lands in range and spends one double per test.
        lo, hi = 60_000_000, 200_000_000
        (size,), state = native_sizes(15, lo, hi, 1)
        assert lo <= size <= hi
        assert words_used(state) == 2 * (size - lo + (size < hi))
        p = ref.continuation_probability(lo, hi)
        assert 0 < 1 - p < 1e-7 and math.isfinite(p)
