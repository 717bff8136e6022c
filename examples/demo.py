"""A property test that finds, shrinks and reports a failure.

Run with tools/demo.sh (it builds and installs the package first).
"""

from quorvantis_fast import _engine as st
from quorvantis_fast import given
from quorvantis_fast.settings import settings

database = st.InMemoryExampleDatabase()
calls = {"count": 0}


@settings(database=database, seed=2024)
@given(st.lists(st.integers(0, 1000)))
def test_sum_is_small(xs):
    calls["count"] += 1
    assert sum(xs) < 1500, f"sum {sum(xs)} is too large"


@given(st.integers(), st.integers())
def test_addition_commutes(a, b):
    assert a + b == b + a


def run(test):
    calls["count"] = 0
    try:
        test()
    except AssertionError as e:
        print(f"  FAILED after {calls['count']} test calls: {e}")
        for note in getattr(e, "__notes__", []):
            print("   ", note)
    else:
        print("  passed")


print("A property that holds: a + b == b + a")
run(test_addition_commutes)

print("\nA property that fails: the sum of a list of integers in [0, 1000] stays below 1500")
run(test_sum_is_small)
report = st.shrink_report()
print(f"  shrinking: {report[0]} trial calls; minimal choice sequence {st.minimal_choices()}")

print("\nThe same test again: the stored minimal example is replayed first")
run(test_sum_is_small)
print("  (one call: the database held the failure, so nothing was generated or shrunk)"
      if calls["count"] == 1 else "")
