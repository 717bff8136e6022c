"""A first look at quorvantis_fast: property tests that pass, fail and are replayed.

A property test states something that should hold for every input, and
quorvantis_fast tries it on many generated inputs. When one breaks it, the
input is simplified to a smallest one that still breaks it, and the report
says how to run exactly that input again.

Run with tools/demo.sh (it builds and installs the package first).
"""

import shutil
import tempfile

from quorvantis_fast import given, reproduce_failure, settings, st
from quorvantis_fast.database import DirectoryExampleDatabase

# Failing inputs are saved in a folder, so that the next run tries them
# first. By default the folder is .quorvantis_fast/examples in the working
# directory; this demo keeps its own in a temporary folder.
folder = tempfile.mkdtemp(prefix="quorvantis-demo-")
database = DirectoryExampleDatabase(folder)
calls = {"count": 0}


@given(st.integers(), st.integers())
def test_addition_commutes(a, b):
    assert a + b == b + a


def check_no_duplicates(xs):
    calls["count"] += 1
    assert len(set(xs)) == len(xs), f"{len(xs) - len(set(xs))} duplicate(s)"


@settings(database=database, seed=2024)
@given(st.lists(st.integers(-1000, 1000)))
def test_lists_have_no_duplicates(xs):
    check_no_duplicates(xs)


def run(test):
    """Run a test as pytest would, and show what it reports."""
    calls["count"] = 0
    try:
        test()
    except AssertionError as e:
        count = calls["count"]
        print(f"  As expected, the property does not hold ({count} call{'s' * (count != 1)} of the test).")
        print(f"  The report: AssertionError: {e}")
        for note in getattr(e, "__notes__", []):
            print("   ", note)
        return e.__notes__[-1]
    print("  It held for every input tried.")
    return None


print("1. A property that holds: a + b == b + a for any integers a and b")
run(test_addition_commutes)

print("\n2. A property that does not: a list of integers never holds the same number twice")
print("   Random lists are tried until one breaks the property; that list is then")
print("   simplified as far as possible, here down to [0, 0].")
line = run(test_lists_have_no_duplicates)

print("\n3. The same test again, as in your next test run")
run(test_lists_have_no_duplicates)
print("   The failing input saved in the folder is tried first. It still fails, so it is")
print("   simplified again from there (a short round: it is already as simple as it gets),")
print("   run once more to confirm it, and reported. Nothing new was generated.")

print("\n4. The last line of a report replays exactly that input")
print(f"   Put {line} above @given, and the test runs that one input:")
blob = line[len("@reproduce_failure('"):-len("')")]


@reproduce_failure(blob)
@given(st.lists(st.integers(-1000, 1000)))
def test_lists_have_no_duplicates_replayed(xs):
    check_no_duplicates(xs)


run(test_lists_have_no_duplicates_replayed)
print("   (The text in quotes is the input's recorded random choices, in base64.)")

shutil.rmtree(folder)
