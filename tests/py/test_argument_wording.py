"""An argument of a type no conversion takes is refused with one wording
across the module: "argument '{name}': '{type}' object cannot be converted
to '{target}'"."""

import pytest

from quorvantis_fast import _engine as qf


class Odd:
    pass


def run(**kwargs):
    return qf.run_native(lambda: None, [], **kwargs)


@pytest.mark.parametrize(
    "call, name, type_name, target",
    [
        (lambda: qf.InMemoryExampleDatabase().save(Odd(), b"v"), "key", "Odd", "PyBytes"),
        (lambda: qf.InMemoryExampleDatabase().move(b"a", b"b", Odd()), "value", "Odd", "PyBytes"),
        (lambda: qf.choices_from_bytes(bytearray()), "buffer", "bytearray", "PyBytes"),
        (lambda: qf.IntervalSet().union(Odd()), "other", "Odd", "IntervalSet"),
        (lambda: qf.run_native(lambda: None, "ab"), "strategies", "str", "Sequence"),
        (lambda: qf.reproduce_native(lambda: None, [], Odd()), "choices", "Odd", "Sequence"),
        (lambda: run(names=["x", Odd()]), "names", "Odd", "PyString"),
        (lambda: run(suppress_health_check=[b"too_slow"]), "suppress_health_check", "bytes", "PyString"),
        (lambda: run(db_key="key"), "db_key", "str", "PyBytes"),
        (lambda: run(test_name=b"t"), "test_name", "bytes", "PyString"),
    ],
)
def test_wrong_type_names_argument_type_and_target(call, name, type_name, target):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == f"argument '{name}': '{type_name}' object cannot be converted to '{target}'"


def test_an_interrupt_while_wording_the_error_is_raised():
    class Wordless(TypeError):
        def __str__(self):
            raise KeyboardInterrupt

    class Index:
        def __index__(self):
            raise Wordless

    with pytest.raises(KeyboardInterrupt):
        qf.set_buffer_limit(Index())
