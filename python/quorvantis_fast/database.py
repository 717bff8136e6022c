"""Example databases: where failing examples are kept between runs.

A database maps a key (one per test) to a set of byte strings (the encoded
examples). The runner fetches a test's examples before generating new ones,
saves each minimal failure and deletes what no longer fails. Any object with
``fetch(key)``, ``save(key, value)`` and ``delete(key, value)`` serves.

``DirectoryExampleDatabase`` is the default; ``InMemoryExampleDatabase``
keeps examples for the life of the object only.
"""

import contextlib
import hashlib
import os
import re
import time
import warnings

from quorvantis_fast._engine import InMemoryExampleDatabase
from quorvantis_fast.errors import DatabaseErrorWarning

__all__ = ["DirectoryExampleDatabase", "InMemoryExampleDatabase"]

_HASH_NAME = re.compile(r"[0-9a-f]{32}\Z")
_TEMPORARY = ".tmp-"
# A temporary file this much older than its last write belongs to a writer
# that died between creating it and renaming it into place.
_STALE_SECONDS = 300


def _digest(data):
    return hashlib.blake2b(bytes(memoryview(data)), digest_size=16).hexdigest()


def _content(path):
    """The bytes of the file at ``path``, or None when it cannot be read."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def _remove_stale_temporaries(folder):
    now = time.time()
    try:
        entries = list(os.scandir(folder))
    except OSError:
        return
    for entry in entries:
        if not entry.name.startswith(_TEMPORARY):
            continue
        try:
            if now - entry.stat(follow_symlinks=False).st_mtime > _STALE_SECONDS:
                os.unlink(entry.path)
        except OSError:
            pass  # gone already, or not ours to remove: the save itself is unaffected


class DirectoryExampleDatabase:
    """Examples kept as files under one directory, safe for several processes.

    Each key has a folder named after the hash of the key, and each value is
    one file in it named after the hash of the value. A value is written to a
    temporary file in the same folder and renamed into place, so a reader
    sees either the whole file or none; files are created under the
    process's umask, so a directory shared by a group stays readable to it.
    A file whose content does not match its name (cut short, or not ours) is
    skipped, and rewritten when that value is saved again; so is one that
    vanishes while it is read. Temporary files left by a writer that was
    killed are removed when their folder is next written.

    Each method either does its job or raises ``OSError`` (that class
    itself, with the path and the reason, chained to the system's error):
    for instance when the directory cannot be written, when a file stands
    where a key's folder should be, or when a directory stands where a
    value's file should be. A value or key that is not there is no error.
    """

    def __init__(self, path):
        self.path = os.fspath(path)

    def __repr__(self):
        return f"DirectoryExampleDatabase({self.path!r})"

    def __eq__(self, other):
        if not isinstance(other, DirectoryExampleDatabase):
            return NotImplemented
        return self.path == other.path

    def __hash__(self):
        return hash((DirectoryExampleDatabase, self.path))

    def _folder(self, key):
        return os.path.join(self.path, _digest(key))

    def _error(self, operation, path, error):
        if isinstance(error, (FileExistsError, NotADirectoryError)):
            reason = "a path on the way is not a directory"
        else:
            reason = error.strerror or str(error)
        where = error.filename if error.filename is not None else path
        return OSError(f"{self!r} cannot {operation} at {where!r}: {reason}")

    def fetch(self, key):
        """The values saved under ``key``, in no particular order."""
        folder = self._folder(key)
        try:
            names = sorted(os.listdir(folder))
        except (FileNotFoundError, NotADirectoryError):
            return []
        except OSError as e:
            raise self._error("fetch", folder, e) from e
        values = []
        for name in names:
            if _HASH_NAME.match(name):
                value = _content(os.path.join(folder, name))
                if value is not None and _digest(value) == name:
                    values.append(value)
        return values

    def save(self, key, value):
        """Keep ``value`` under ``key``; saving it again changes nothing."""
        value = bytes(memoryview(value))
        folder = self._folder(key)
        target = os.path.join(folder, _digest(value))
        if _content(target) == value:
            return
        temporary = None
        try:
            os.makedirs(folder, exist_ok=True)
            _remove_stale_temporaries(folder)
            name = os.path.join(folder, _TEMPORARY + os.urandom(8).hex())
            # Created like any other file of the process (mode 0666 less
            # the umask); the exclusive flag keeps two writers apart.
            fd = os.open(name, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
            temporary = name  # ours from here on, to remove if the save fails
            with os.fdopen(fd, "wb") as f:
                f.write(value)
            os.replace(temporary, target)
        except BaseException as e:
            if temporary is not None:
                try:
                    os.unlink(temporary)
                except OSError:
                    pass
            if isinstance(e, OSError):
                raise self._error("save", target, e) from e
            raise

    def delete(self, key, value):
        """Forget ``value`` under ``key``; a value that is not there is fine."""
        target = os.path.join(self._folder(key), _digest(value))
        try:
            os.unlink(target)
        except (FileNotFoundError, NotADirectoryError, IsADirectoryError):
            pass  # nothing of this value is stored there
        except OSError as e:
            raise self._error("delete", target, e) from e


class _WarningOnError:
    """Hands each call on to a user's database unchanged, and warns about the
    first one that fails. The error still reaches the engine, which drops it
    and goes on; so a run never stops for its database, but neither does a
    database that cannot store anything go unnoticed."""

    def __init__(self, database):
        self._database = database
        self._warned = False
        self.escalated = None  # the warning, where warnings are errors

    def _failed(self, operation, error):
        if self._warned:
            return
        self._warned = True
        try:
            name = repr(self._database)
        except Exception:
            name = object.__repr__(self._database)
        try:
            warnings.warn(DatabaseErrorWarning(
                f"The example database {name} failed to {operation}: {type(error).__name__}: {error}. "
                "The run goes on, but failing examples may be neither kept nor replayed; "
                "later errors of the database in this run are not reported"))
        except Exception as e:
            # Raised here it would be dropped with the database's error:
            # kept for the end of the run instead.
            self.escalated = e

    @contextlib.contextmanager
    def _reporting(self, operation):
        try:
            yield
        except Exception as e:
            self._failed(operation, e)
            raise

    def fetch(self, key):
        with self._reporting("fetch"):  # the call and the iteration of its result
            yield from self._database.fetch(key)

    def save(self, key, value):
        with self._reporting("save"):
            return self._database.save(key, value)

    def delete(self, key, value):
        with self._reporting("delete"):
            return self._database.delete(key, value)


@contextlib.contextmanager
def warning_on_errors(arguments):
    """Gives ``run_native``'s keyword ``arguments`` with their database, if
    any, wrapped for one run, so that its first error is warned about. Where
    warnings are turned into errors, that error is raised when the run ends
    without an error of its own."""
    database = arguments.get("database")
    if database is None:
        yield arguments
        return
    watch = _WarningOnError(database)
    yield {**arguments, "database": watch}
    if watch.escalated is not None:
        raise watch.escalated
