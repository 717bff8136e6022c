import pytest

from quorvantis_fast._engine import InMemoryExampleDatabase


def test_fetch_orders_values_bytewise_with_prefixes_first():
    db = InMemoryExampleDatabase()
    for v in [b"b", b"a", b"ab", b"", b"\xff", b"\x00"]:
        db.save(b"k", v)
    assert db.fetch(b"k") == [b"", b"\x00", b"a", b"ab", b"b", b"\xff"]


def test_save_is_idempotent_and_delete_removes_once():
    db = InMemoryExampleDatabase()
    assert db.fetch(b"never") == []
    db.save(b"k", b"v")
    db.save(b"k", b"v")
    assert db.fetch(b"k") == [b"v"]
    db.delete(b"k", b"v")
    assert db.fetch(b"k") == []
    db.delete(b"k", b"v")
    db.delete(b"absent", b"v")
    assert db.fetch(b"absent") == []


def test_keys_are_independent_and_fetch_returns_copies():
    db = InMemoryExampleDatabase()
    db.save(b"a", b"1")
    db.save(b"b", b"2")
    got = db.fetch(b"a")
    got.append(b"junk")
    assert db.fetch(b"a") == [b"1"]
    assert db.fetch(b"b") == [b"2"]


def test_move_between_keys():
    db = InMemoryExampleDatabase()
    db.save(b"a", b"v")
    db.move(b"a", b"b", b"v")
    assert db.fetch(b"a") == []
    assert db.fetch(b"b") == [b"v"]
    db.move(b"x", b"y", b"w")  # stored nowhere: still lands under dest
    assert db.fetch(b"y") == [b"w"]
    db.move(b"y", b"y", b"w")  # same key: a plain save
    assert db.fetch(b"y") == [b"w"]


def test_values_of_many_lengths_round_trip():
    db = InMemoryExampleDatabase()
    values = [bytes(range(n % 256)) * (n // 256 + 1) for n in range(0, 2000, 37)]
    for v in values:
        db.save(b"k", v)
    assert db.fetch(b"k") == sorted(set(values))


class Bytes(bytes):
    pass


def test_bytes_subclasses_accepted_keywords_allowed():
    db = InMemoryExampleDatabase()
    db.save(key=Bytes(b"k"), value=Bytes(b"v"))
    assert db.fetch(key=b"k") == [b"v"]
    assert type(db.fetch(b"k")[0]) is bytes


@pytest.mark.parametrize(
    "call, name",
    [
        (lambda db: db.save(bytearray(b"k"), b"v"), "key"),
        (lambda db: db.save(b"k", "v"), "value"),
        (lambda db: db.delete(b"k", 1), "value"),
        (lambda db: db.fetch(None), "key"),
        (lambda db: db.move(b"a", memoryview(b"b"), b"v"), "dest"),
        (lambda db: db.move("a", b"b", b"v"), "src"),
    ],
)
def test_non_bytes_arguments_raise_type_error_naming_them(call, name):
    db = InMemoryExampleDatabase()
    db.save(b"a", b"v")
    with pytest.raises(TypeError, match=f"argument '{name}'"):
        call(db)
    assert db.fetch(b"a") == [b"v"]  # a failed move changes nothing


def test_constructor_and_repr():
    with pytest.raises(TypeError):
        InMemoryExampleDatabase(1)
    with pytest.raises(TypeError):
        InMemoryExampleDatabase(x=1)
    db = InMemoryExampleDatabase()
    db.save(b"k", b"v")
    assert repr(db) == "InMemoryExampleDatabase()"
    with pytest.raises(TypeError):
        db.save(b"k")
