"""Engine benchmarks, printed side by side with plain Python loops.

Run: tools/bench.sh   (builds, installs into the CI venv and runs this file)
Not a test: it prints numbers and asserts nothing.
"""

import random
import sys
import time

from quorvantis_fast import _engine as qf

N = 10_000


def per_example(seconds, count):
    return seconds / max(count, 1) * 1e6


def timed_run(strategy, test_body, max_examples, seed):
    """(seconds, test calls, result) of one run_native over `strategy`."""
    calls = 0

    def counted(*args):
        nonlocal calls
        calls += 1
        test_body(*args)

    start = time.perf_counter()
    result = qf.run_native(counted, [strategy], max_examples=max_examples, seed=seed)
    return time.perf_counter() - start, calls, result


def bench_engine(strategy, test_body):
    elapsed, calls, _ = timed_run(strategy, test_body, N, 1)
    return elapsed, calls


def bench_loop(make_value, test_body):
    rnd = random.Random(1)
    start = time.perf_counter()
    for _ in range(N):
        test_body(make_value(rnd))
    return time.perf_counter() - start, N


def row(name, engine, loop):
    (et, ec), (lt, lc) = engine, loop
    e_us, l_us = per_example(et, ec), per_example(lt, lc)
    print(f"{name:<34} engine {e_us:8.2f} us/example ({ec} examples)   "
          f"plain loop {l_us:8.2f} us/example   ratio {e_us / l_us:5.2f}x")


def trivial(*args):
    return None


def random_list(rnd):
    # Sizes as the engine draws them are not uniform; this loop uses the same
    # bound and draws each element as a Python int of up to 64 bits.
    return [rnd.randint(-(2**63), 2**63 - 1) for _ in range(rnd.randint(0, 20))]


def shrink_cost(name, strategy, test):
    elapsed, calls, result = timed_run(strategy, test, 1000, 3)
    report = qf.shrink_report() if hasattr(qf, "shrink_report") else None
    found = result[0][0] if result else None
    print(f"{name:<34} minimal {found!r:<14} test calls {calls:6d}   {elapsed * 1e3:8.1f} ms"
          + (f"   shrink trials {report[0]}" if report else ""))


def main():
    print(f"python {sys.version.split()[0]}, {N} examples per run")
    row("integers(0, 10**6)",
        bench_engine(qf.integers(0, 10**6), trivial),
        bench_loop(lambda r: r.randint(0, 10**6), trivial))
    row("lists(integers(), max_size=20)",
        bench_engine(qf.lists(qf.integers(), max_size=20), trivial),
        bench_loop(random_list, trivial))

    def below_1000(x):
        assert x < 1000

    def small_sum(xs):
        assert sum(xs) <= 1000

    shrink_cost("shrink integers(): x < 1000", qf.integers(), below_1000)
    shrink_cost("shrink lists(integers()): sum", qf.lists(qf.integers()), small_sum)


if __name__ == "__main__":
    main()
