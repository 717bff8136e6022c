import collections.abc
import subprocess
import sys
import time

import pytest

from quorvantis_fast._engine import InMemoryExampleDatabase, choices_from_bytes, choices_to_bytes, run_native
from quorvantis_fast._engine import minimal_choices

from qf_testing import child_env, py_integers as integers

KEY = b"test-key"


class LoggingDatabase:
    """Records every call; serves a fixed list of stored values."""

    def __init__(self, stored=()):
        self.stored = list(stored)
        self.calls = []

    def fetch(self, key):
        self.calls.append(("fetch", key))
        return list(self.stored)

    def delete(self, key, value):
        self.calls.append(("delete", key, value))

    def save(self, key, value):
        self.calls.append(("save", key, value))

    def deleted(self):
        return [c[2] for c in self.calls if c[0] == "delete"]

    def saved(self):
        return [c[2] for c in self.calls if c[0] == "save"]


def fails_on(values):
    seen = []

    def test(x):
        seen.append(x)
        assert x not in values

    test.seen = seen
    return test


class TestReplay:
    def test_undecodable_value_is_deleted(self):
        db = LoggingDatabase([b"\xa0"])
        run_native(fails_on(()), [integers(0, 10)], database=db, db_key=KEY)
        assert db.deleted() == [b"\xa0"]

    def test_passing_value_is_deleted(self):
        stored = choices_to_bytes([3])
        db = LoggingDatabase([stored])
        test = fails_on(())
        run_native(test, [integers(0, 10)], database=db, db_key=KEY)
        assert db.deleted() == [stored]
        assert test.seen[0] == 3  # replayed before generation

    def test_reproducing_value_is_reported_without_generation(self):
        db = LoggingDatabase([choices_to_bytes([7])])
        test = fails_on({7})
        result = run_native(test, [integers(0, 10**9)], database=db, db_key=KEY)
        assert test.seen[:2] == [7, 7] and max(test.seen) == 7 and len(test.seen) < 10  # a short shrink
        assert [args for args, _ in result] == [(7,)]
        assert db.deleted() == []
        assert db.saved() == [choices_to_bytes([7])]

    def test_stored_failure_of_an_edited_test_is_shrunk_again(self):
        db = InMemoryExampleDatabase()
        run_native(lambda x: None if x < 500 else 1 / 0, [integers(0, 10**9)], database=db, db_key=KEY)
        result = run_native(lambda x: None if x < 10 else 1 / 0, [integers(0, 10**9)], database=db, db_key=KEY)
        assert [args for args, _ in result] == [(10,)] == [tuple(minimal_choices())]
        assert [choices_from_bytes(v) for v in db.fetch(KEY)] == [(10,)]

    def test_several_stored_failures_are_all_reported(self):
        db = LoggingDatabase([choices_to_bytes([7]), choices_to_bytes([8]), choices_to_bytes([9])])

        def test(x):
            if x == 7:
                raise ValueError
            if x == 8:
                raise KeyError
            raise ValueError  # another line than for 7: another origin

        result = run_native(test, [integers(0, 10**9)], database=db, db_key=KEY)
        assert [args for args, _ in result] == [(7,), (8,), (0,)]  # below 7 and 8 it fails elsewhere
        assert db.deleted() == [choices_to_bytes([9])]

    def test_simplest_stored_failure_of_an_origin_is_reported(self):
        db = LoggingDatabase([choices_to_bytes([x]) for x in (700, 12, 400)])
        result = run_native(fails_on({700, 12, 400}), [integers(0, 10**9)], database=db, db_key=KEY)
        assert [args for args, _ in result] == [(12,)]

    def test_items_that_are_not_byte_strings_stay(self):
        class Liar(collections.abc.Sequence):
            def __len__(self):
                return 3

            def __getitem__(self, i):
                raise IndexError(i)

        db = LoggingDatabase(["\x01", 5, [1, 300], None, Liar()])
        run_native(fails_on(()), [integers(0, 10)], database=db, db_key=KEY)
        assert db.deleted() == []

    def test_byte_sequences_other_than_bytes_are_read(self):
        stored = bytearray(choices_to_bytes([4]))
        db = LoggingDatabase([stored, list(choices_to_bytes([5]))])
        test = fails_on(())
        run_native(test, [integers(0, 10)], database=db, db_key=KEY)
        assert test.seen[:2] == [4, 5]
        assert db.deleted()[0] is stored  # the very object that was fetched

    def test_fetch_failures_mean_no_replay(self):
        class Broken(LoggingDatabase):
            def fetch(self, key):
                raise OSError("down")

        test = fails_on(())
        assert run_native(test, [integers(0, 10)], database=Broken(), db_key=KEY) is None
        assert test.seen[0] == 0  # went straight to the simplest example

    @pytest.mark.parametrize("method", ["fetch", "delete", "save"])
    def test_an_interrupt_from_the_database_is_not_dropped(self, method):
        class Interrupting(LoggingDatabase):
            pass

        def interrupt(*args):
            raise KeyboardInterrupt

        setattr(Interrupting, method, interrupt)
        # A stored passing value makes the replay delete it; a failure saves.
        db = Interrupting([choices_to_bytes([3])])
        with pytest.raises(KeyboardInterrupt):
            run_native(fails_on((0,)), [integers(0, 10)], database=db, db_key=KEY)

    def test_iterator_that_keeps_failing_ends_the_replay(self):
        class Endless:
            def __iter__(self):
                return self

            def __next__(self):
                raise OSError("flaky store")

        class Db(LoggingDatabase):
            def fetch(self, key):
                return Endless()

        test = fails_on(())
        assert run_native(test, [integers(0, 10)], database=Db(), db_key=KEY) is None
        assert test.seen

    def test_database_errors_are_dropped(self):
        class Hostile(LoggingDatabase):
            def delete(self, key, value):
                raise OSError

            def save(self, key, value):
                raise OSError

        db = Hostile([b"\xa0", choices_to_bytes([1])])
        result = run_native(fails_on({0}), [integers(0, 10)], database=db, db_key=KEY)
        assert [a for a, _ in result] == [(0,)]

    @pytest.mark.parametrize("given", ["database", "db_key"])
    def test_one_without_the_other_is_not_used(self, given):
        db = LoggingDatabase([choices_to_bytes([7])])
        kwargs = {"database": db} if given == "database" else {"db_key": KEY}
        run_native(fails_on({0}), [integers(0, 10)], **kwargs)
        assert db.calls == []

    def test_key_given_as_byte_sequence(self):
        db = LoggingDatabase()
        run_native(fails_on(()), [integers(0, 10)], database=db, db_key=list(KEY))
        assert db.calls == [("fetch", KEY)]


class TestSaving:
    def test_found_failure_is_saved_and_replayed(self):
        db = InMemoryExampleDatabase()
        test = fails_on({0})
        run_native(test, [integers(0, 10**9)], database=db, db_key=KEY)
        assert [choices_from_bytes(v) for v in db.fetch(KEY)] == [(0,)]

        again = fails_on({0})
        result = run_native(again, [integers(0, 10**9)], database=db, db_key=KEY)
        assert again.seen == [0, 0]  # the replay and the shrink's first
        assert [a for a, _ in result] == [(0,)]


# With "slow" each call takes 0.3 s on the engine's clock, and the fourth
# call after the shrink's first simpler failure (1.2 s later, in the same
# pass) writes the failing lists to the file "shrinking" and hangs. A run
# that ends prints its first example.
CUT_SHORT = """
import sys, time
from quorvantis_fast import _engine, given, settings, st
from quorvantis_fast.database import DirectoryExampleDatabase
folder, slow = sys.argv[1], sys.argv[2] == "slow"
clock, seen, failed, after = [0.0], [], [], []
if slow:
    time.perf_counter = lambda: clock[0]
    _engine.set_use_py_clock(True)
@settings(database=DirectoryExampleDatabase(folder + "/db"), seed=5, report_multiple_bugs=False, deadline=None)
@given(st.lists(st.integers(0, 10**4), min_size=1))
def test(xs):
    seen.append(xs)
    clock[0] += 0.3
    if slow and len(after) == 4:
        open(folder + "/shrinking", "w").write(repr(failed))
        time.sleep(600)
    fails = sum(xs) > 20000 and len(xs) >= 3
    if after or fails and failed and len(xs) < len(failed[0]):
        after.append(xs)
    if fails:
        failed.append(xs)
        raise AssertionError(xs)
try:
    test()
except AssertionError:
    print(seen[0])
"""


def test_a_run_killed_while_it_shrinks_keeps_how_far_it_got(tmp_path):
    def child(speed):
        return subprocess.Popen([sys.executable, "-c", CUT_SHORT, str(tmp_path), speed], env=child_env(),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    slow, deadline = child("slow"), time.monotonic() + 120
    try:
        while not (tmp_path / "shrinking").exists() or not (tmp_path / "shrinking").read_text():
            assert slow.poll() is None and time.monotonic() < deadline, slow.communicate()
            time.sleep(0.05)
    finally:
        slow.kill()  # SIGKILL
        slow.wait()
    failed = eval((tmp_path / "shrinking").read_text())
    assert len(list(tmp_path.glob("db/*/*"))) == 1
    out, err = child("fast").communicate(timeout=120)
    # The next run starts from what the shrink reached a second before the
    # kill, in its first pass, not from the failure it started from.
    assert eval(out) in failed[1:] and len(eval(out)) < len(failed[0]), (out, err, failed)
