"""Example databases: where failing examples are kept between runs.

A database maps a key (one per test) to a set of byte strings (the encoded
examples). The runner fetches a test's examples before generating new ones,
saves each minimal failure and deletes what no longer fails. Any object with
``fetch(key)``, ``save(key, value)`` and ``delete(key, value)`` serves.

``DirectoryExampleDatabase`` is the default; ``InMemoryExampleDatabase``
keeps examples for the life of the object only.
"""

import hashlib
import os
import re
import tempfile

from quorvantis_fast._engine import InMemoryExampleDatabase

__all__ = ["DirectoryExampleDatabase", "InMemoryExampleDatabase"]

_HASH_NAME = re.compile(r"[0-9a-f]{32}\Z")


def _digest(data):
    return hashlib.blake2b(bytes(memoryview(data)), digest_size=16).hexdigest()


class DirectoryExampleDatabase:
    """Examples kept as files under one directory, safe for several processes.

    Each key has a folder named after the hash of the key, and each value is
    one file in it named after the hash of the value. A value is written to a
    temporary file in the same folder and renamed into place, so a reader
    sees either the whole file or none. A file whose content does not match
    its name (cut short, or not ours) is skipped; so is one that vanishes
    while it is read.
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

    def fetch(self, key):
        """The values saved under ``key``, in no particular order."""
        folder = self._folder(key)
        try:
            names = sorted(os.listdir(folder))
        except OSError:
            return []
        values = []
        for name in names:
            if not _HASH_NAME.match(name):
                continue
            try:
                with open(os.path.join(folder, name), "rb") as f:
                    value = f.read()
            except OSError:
                continue
            if _digest(value) == name:
                values.append(value)
        return values

    def save(self, key, value):
        """Keep ``value`` under ``key``; saving it again changes nothing."""
        value = bytes(memoryview(value))
        folder = self._folder(key)
        target = os.path.join(folder, _digest(value))
        if os.path.exists(target):
            return
        os.makedirs(folder, exist_ok=True)
        fd, temporary = tempfile.mkstemp(prefix=".tmp-", dir=folder)
        try:
            with os.fdopen(fd, "wb") as f:
                f.write(value)
            os.replace(temporary, target)
        except BaseException:
            try:
                os.unlink(temporary)
            except OSError:
                pass
            raise

    def delete(self, key, value):
        """Forget ``value`` under ``key``; a value that is not there is fine."""
        try:
            os.unlink(os.path.join(self._folder(key), _digest(value)))
        except (FileNotFoundError, NotADirectoryError):
            pass
