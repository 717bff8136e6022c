"""DirectoryExampleDatabase: examples kept on disk, shared by processes."""

import os
import random
import re
import shutil
import subprocess
import sys
import textwrap
import warnings
from unittest import mock

import pytest

from qf_testing import child_env, python_output
from quorvantis_fast import given, st
from quorvantis_fast.database import DirectoryExampleDatabase
from quorvantis_fast.errors import DatabaseErrorWarning
from quorvantis_fast.settings import settings
from quorvantis_fast.stateful import RuleBasedStateMachine, rule, run_state_machine_as_test


def test_save_fetch_delete_keep_values_per_key(tmp_path):
    db = DirectoryExampleDatabase(tmp_path / "db")
    assert db.fetch(b"k") == []
    for value in (b"b", b"", b"a", b"a"):
        db.save(b"k", value)
    db.save(b"other", b"z")
    assert sorted(db.fetch(b"k")) == [b"", b"a", b"b"]
    db.delete(b"k", b"a")
    db.delete(b"k", b"never saved")
    db.delete(b"no such key", b"a")
    assert sorted(db.fetch(b"k")) == [b"", b"b"]
    assert db.fetch(b"other") == [b"z"]


def test_damaged_and_foreign_files_are_skipped(tmp_path):
    db = DirectoryExampleDatabase(tmp_path)
    db.save(b"k", b"good value")
    (folder,) = [p for p in tmp_path.iterdir()]
    (stored,) = list(folder.iterdir())
    cut = folder / ("0" * 32)
    cut.write_bytes(b"good val")  # a name of the right shape over the wrong content
    (folder / stored.name).with_name(stored.name[:-1] + "x").write_bytes(b"good value")
    (folder / "README").write_text("not an example")
    (folder / ".tmp-abandoned").write_bytes(b"half")
    os.mkdir(folder / ("1" * 32))
    os.mkfifo(folder / ("2" * 32))  # read as it stands, it would wait for a writer
    assert db.fetch(b"k") == [b"good value"]
    (tmp_path / "not-a-folder").write_bytes(b"")
    assert DirectoryExampleDatabase(tmp_path / "not-a-folder").fetch(b"k") == []


def test_save_repairs_what_it_can_and_raises_one_error_otherwise(tmp_path):
    db = DirectoryExampleDatabase(tmp_path)
    db.save(b"k", b"value")
    (stored,) = next(tmp_path.iterdir()).iterdir()
    stored.write_bytes(b"val")  # cut short by a crash or a full disk
    dead = stored.with_name(".tmp-dead")  # left by a writer killed long ago
    dead.write_bytes(b"")
    os.utime(dead, (0, 0))
    umask = os.umask(0o027)
    try:
        db.save(b"k", b"value")
    finally:
        os.umask(umask)
    assert db.fetch(b"k") == [b"value"] and stored.stat().st_mode & 0o777 == 0o640 and not dead.exists()
    stored.unlink()
    stored.mkdir()
    db.delete(b"k", b"value")  # a directory at a value's path holds nothing of it
    db.save(b"k", b"other")
    for call in (lambda: db.save(b"k", b"value"),  # the directory is in the way
                 lambda: DirectoryExampleDatabase(stored.parent).save(b"other", b""),  # a file as key folder
                 lambda: DirectoryExampleDatabase(tmp_path / ("x" * 300)).fetch(b"k")):
        with pytest.raises(OSError) as info:
            call()
        assert type(info.value) is OSError and " cannot " in str(info.value)


def test_links_inside_the_directory_are_never_followed(tmp_path):
    def only(folder):
        (entry,) = folder.iterdir()
        return entry
    dbs = [DirectoryExampleDatabase(os.fsencode(tmp_path / name)) for name in "abc"]  # bytes paths work too
    for db in dbs[:2]:
        db.save(b"k", b"value")
    failing = settings(database=dbs[2])(given(st.integers())(lambda x: 1 / 0))
    with pytest.raises(ZeroDivisionError):
        failing()
    outside = shutil.copytree(only(tmp_path / "a"), tmp_path / "outside")  # the same value, outside
    (outside / ".tmp-old").write_bytes(b"")
    os.utime(outside / ".tmp-old", (0, 0))  # stale: a save in this folder would remove it
    folder_link, value_link = only(tmp_path / "a"), only(only(tmp_path / "b"))
    for link, target in ((folder_link, outside), (value_link, outside / value_link.name), (only(tmp_path / "c"), outside)):
        shutil.rmtree(link) if link.is_dir() else link.unlink()
        link.symlink_to(target)
    before = {p.name: (p.read_bytes(), p.stat().st_mtime) for p in outside.iterdir()}
    for db, link in zip(dbs, (folder_link, value_link)):
        for call in (lambda: db.save(b"k", b"new" if link == folder_link else b"value"),
                     lambda: db.save(b"k", b"value"), lambda: db.delete(b"k", b"value"), lambda: db.fetch(b"k")):
            with pytest.raises(OSError, match=f"at {re.escape(repr(str(link)))}: the .* is a symbolic link"):
                call()
    with pytest.warns(DatabaseErrorWarning, match="failed to fetch: .* symbolic link"), pytest.raises(ZeroDivisionError):
        failing()  # and the run goes on
    assert {p.name: (p.read_bytes(), p.stat().st_mtime) for p in outside.iterdir()} == before
    with pytest.raises(TypeError, match="expected str, bytes or os.PathLike"):
        DirectoryExampleDatabase(3)


def test_a_runs_first_database_error_warns_once_and_the_run_goes_on(tmp_path):
    def failing(error):
        return mock.Mock(**{f"{name}.side_effect": error for name in ("fetch", "save", "delete")})
    class Machine(RuleBasedStateMachine):
        step = rule(x=st.integers())(lambda self, x: None if x < 10 else 1 / 0)
    (tmp_path / "file").write_bytes(b"")
    for db, error in ((DirectoryExampleDatabase(tmp_path / "file"), "save: OSError"),
                      (failing(ValueError("no disk")), "fetch: ValueError: no disk")):
        s = settings(database=db)
        for test in (s(given(st.integers())(lambda x: Machine.step(None, x))),
                     lambda: run_state_machine_as_test(Machine, settings=s)):
            with pytest.warns(DatabaseErrorWarning) as caught, pytest.raises(ZeroDivisionError):
                test()
            assert len(caught) == 1 and str(caught[0].message).startswith(f"The example database {db!r} failed to {error}")
    with pytest.raises(KeyboardInterrupt):
        settings(database=failing(KeyboardInterrupt()))(given(st.integers())(lambda x: None))()
    # Where warnings are errors, a run that passes ends with that error.
    passing = settings(database=failing(ValueError("no disk")))
    Machine.step = rule()(lambda self: None)
    for test in (passing(given(st.integers())(lambda x: None)),
                 lambda: run_state_machine_as_test(Machine, settings=settings(passing, max_examples=1))):
        with warnings.catch_warnings(), pytest.raises(DatabaseErrorWarning, match="failed to fetch"):
            warnings.simplefilter("error")
            test()


def test_default_database_stays_where_the_package_was_imported(tmp_path, monkeypatch):
    here = settings().database
    monkeypatch.chdir(tmp_path)
    assert settings().database == here and os.path.isabs(here.path)
    assert settings(database=None).database is None


WRITER = """
import random, sys
from quorvantis_fast.database import DirectoryExampleDatabase
db = DirectoryExampleDatabase(sys.argv[1])
me = int(sys.argv[2])
rnd = random.Random(me)
mine = [b"%d-%d" % (me, i) * rnd.randrange(1, 200) for i in range(150)]
for i, value in enumerate(mine):
    db.save(b"shared", value)
    db.save(b"shared", b"common")  # every writer saves and deletes this one too
    if i % 3 == 0:
        db.delete(b"shared", b"common")
    db.delete(b"shared", mine[i // 2])
    for stored in db.fetch(b"shared"):
        assert stored == b"common" or stored.split(b"-")[0].isdigit(), stored
print("done")
"""


def test_processes_share_one_directory_at_once(tmp_path):
    script = tmp_path / "writer.py"
    script.write_text(WRITER)
    db_dir = tmp_path / "db"
    env = child_env()
    writers = [subprocess.Popen([sys.executable, str(script), str(db_dir), str(n)], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
               for n in range(6)]
    for w in writers:
        out, err = w.communicate(timeout=300)
        assert w.returncode == 0 and out == "done\n", err
    kept = set(DirectoryExampleDatabase(db_dir).fetch(b"shared"))
    expected = set()
    for n in range(6):
        rnd = random.Random(n)
        mine = [b"%d-%d" % (n, i) * rnd.randrange(1, 200) for i in range(150)]
        expected |= set(mine) - {mine[i // 2] for i in range(150)}
    assert kept - {b"common"} == expected
    leftovers = [p for p in (db_dir).rglob("*") if p.name.startswith(".tmp-")]
    assert leftovers == []


@pytest.mark.parametrize("database", ["None", "settings().database"])
def test_a_failure_is_replayed_first_by_the_next_process(tmp_path, database):
    program = textwrap.dedent(f"""
        from quorvantis_fast import given, settings, st
        calls = []

        @settings(database={database})
        @given(st.lists(st.integers(0, 10**6)))
        def test_sorted(xs):
            calls.append(xs)
            assert xs == sorted(xs)

        try:
            test_sorted()
        except AssertionError as e:
            print(len(calls), e.__notes__[0])
    """)
    runs = [python_output(f"import os; os.chdir({str(tmp_path)!r})\n" + program) for _ in range(2)]
    first_calls, note = runs[0].split(" ", 1)
    assert note == "Falsifying example: test_sorted(xs=[1, 0])\n"
    second_calls, second_note = runs[1].split(" ", 1)
    assert second_note == note
    if database == "None":
        assert int(second_calls) > 2
        assert not (tmp_path / ".quorvantis_fast").exists()
    else:
        # The stored example, a short shrink (no generation), the replay for the report.
        assert int(first_calls) > 2 and 2 < int(second_calls) < 30
        assert (tmp_path / ".quorvantis_fast" / "examples").is_dir()
