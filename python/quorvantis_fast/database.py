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
import stat
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


# A link where a key's folder or a value's file should be is never followed:
# opened without following it, everything else is done relative to the
# folder's descriptor, so a link put there meanwhile cannot redirect anything.
_FOLDER_FLAGS = os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW
# Non-blocking, so that a pipe put where a value's file should be reads as
# empty instead of waiting for a writer.
_VALUE_FLAGS = os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK


def _is_link(path, dir_fd=None):
    try:
        return stat.S_ISLNK(os.stat(path, dir_fd=dir_fd, follow_symlinks=False).st_mode)
    except OSError:
        return False


def _remove_stale_temporaries(folder_fd):
    now = time.time()
    try:
        entries = list(os.scandir(folder_fd))
    except OSError:
        return
    for entry in entries:
        if not entry.name.startswith(_TEMPORARY):
            continue
        try:
            if now - entry.stat(follow_symlinks=False).st_mtime > _STALE_SECONDS:
                os.unlink(entry.name, dir_fd=folder_fd)
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

    A symbolic link where a key's folder or a value's file should be is
    never followed, so that nobody who can write into a shared directory
    makes a run read, write or remove files elsewhere: every method that
    meets one raises ``OSError`` saying so, ``fetch`` included, since the
    key is there but its values cannot be read. The directory itself may be
    a link.
    """

    def __init__(self, path):
        self.path = os.fsdecode(path)

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

    def _error(self, operation, path, error, reason=None):
        if reason is None and isinstance(error, (FileExistsError, NotADirectoryError)):
            reason = "a path on the way is not a directory"
        elif reason is None:
            reason = error.strerror or str(error)
        return OSError(f"{self!r} cannot {operation} at {path!r}: {reason}")

    def _link_error(self, operation, folder, name):
        return self._error(operation, os.path.join(folder, name), None, "the value's file is a symbolic link")

    def _open_folder(self, operation, folder, create=False):
        """A descriptor of the key's folder (made first when ``create``), or
        None when the key has none."""
        try:
            try:
                return os.open(folder, _FOLDER_FLAGS)
            except FileNotFoundError:
                if not create:
                    return None
                os.makedirs(folder, exist_ok=True)
                return os.open(folder, _FOLDER_FLAGS)
        except OSError as e:
            if _is_link(folder):
                raise self._error(operation, folder, e, "the key's folder is a symbolic link") from e
            if not create and isinstance(e, NotADirectoryError):
                return None  # a file, which holds no values
            raise self._error(operation, e.filename or folder, e) from e

    def _content(self, operation, folder_fd, folder, name):
        """The bytes of the value's file ``name``, or None when it cannot be
        read; OSError when a link stands there."""
        try:
            fd = os.open(name, _VALUE_FLAGS, dir_fd=folder_fd)
        except OSError as e:
            if _is_link(name, folder_fd):
                raise self._link_error(operation, folder, name) from e
            return None
        try:
            with open(fd, "rb") as f:
                return f.read()
        except OSError:
            return None

    def fetch(self, key):
        """The values saved under ``key``, in no particular order."""
        folder = self._folder(key)
        folder_fd = self._open_folder("fetch", folder)
        if folder_fd is None:
            return []
        try:
            try:
                names = sorted(os.listdir(folder_fd))
            except OSError as e:
                raise self._error("fetch", folder, e) from e
            values = []
            for name in names:
                if _HASH_NAME.match(name):
                    value = self._content("fetch", folder_fd, folder, name)
                    if value is not None and _digest(value) == name:
                        values.append(value)
            return values
        finally:
            os.close(folder_fd)

    def save(self, key, value):
        """Keep ``value`` under ``key``; saving it again changes nothing."""
        value = bytes(memoryview(value))
        folder = self._folder(key)
        name = _digest(value)
        folder_fd = self._open_folder("save", folder, create=True)
        try:
            if self._content("save", folder_fd, folder, name) != value:
                self._write(folder_fd, name, value, os.path.join(folder, name))
        finally:
            os.close(folder_fd)

    def _write(self, folder_fd, name, value, target):
        _remove_stale_temporaries(folder_fd)
        temporary = None
        try:
            fresh = _TEMPORARY + os.urandom(8).hex()
            # Created like any other file of the process (mode 0666 less
            # the umask); the exclusive flag keeps two writers apart.
            fd = os.open(fresh, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o666, dir_fd=folder_fd)
            temporary = fresh  # ours from here on, to remove if the save fails
            with os.fdopen(fd, "wb") as f:
                f.write(value)
            os.replace(temporary, name, src_dir_fd=folder_fd, dst_dir_fd=folder_fd)
        except BaseException as e:
            if temporary is not None:
                try:
                    os.unlink(temporary, dir_fd=folder_fd)
                except OSError:
                    pass
            if isinstance(e, OSError):
                raise self._error("save", target, e) from e
            raise

    def delete(self, key, value):
        """Forget ``value`` under ``key``; a value that is not there is fine."""
        folder = self._folder(key)
        name = _digest(value)
        folder_fd = self._open_folder("delete", folder)
        if folder_fd is None:
            return
        try:
            # Unlinking never follows a link: this check only reports one.
            if _is_link(name, folder_fd):
                raise self._link_error("delete", folder, name)
            try:
                os.unlink(name, dir_fd=folder_fd)
            except (FileNotFoundError, NotADirectoryError, IsADirectoryError):
                pass  # nothing of this value is stored there
            except OSError as e:
                raise self._error("delete", os.path.join(folder, name), e) from e
        finally:
            os.close(folder_fd)


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
