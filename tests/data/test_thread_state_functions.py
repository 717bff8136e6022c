"""set_buffer_limit, clear_buffer_limit, _clear_resolution_caches."""

import sys

import pytest

from quorvantis_fast import _engine

from qf_testing import ROOT, build_probe, run_python


@pytest.fixture(autouse=True)
def _no_limit_left_behind():
    yield
    _engine.clear_buffer_limit()


def _new_record_max_length():
    return _engine.BrindlemarData().max_length


class TestBufferLimitArguments:
    @pytest.mark.parametrize("bad", ["10", 1.5, None, [3]])
    def test_non_integer_names_the_argument(self, bad):
        with pytest.raises(TypeError) as info:
            _engine.set_buffer_limit(bad)
        assert str(info.value).startswith("argument 'limit': ")
        assert type(bad).__name__ in str(info.value)

    @pytest.mark.parametrize("bad", [-1, 2**64, -(2**70)])
    def test_out_of_range_is_overflow(self, bad):
        with pytest.raises(OverflowError):
            _engine.set_buffer_limit(bad)

    @pytest.mark.parametrize("good", [0, 1, 2**64 - 1, True])
    def test_accepts_the_whole_unsigned_range(self, good):
        assert _engine.set_buffer_limit(good) is None
        assert _engine.set_buffer_limit(limit=good) is None

    def test_index_objects_are_integers(self):
        class Seven:
            def __index__(self):
                return 7

        assert _engine.set_buffer_limit(Seven()) is None

    def test_failed_call_keeps_the_previous_limit(self):
        _engine.set_buffer_limit(10)
        for bad in (-1, 2**64, "x"):
            with pytest.raises((TypeError, OverflowError)):
                _engine.set_buffer_limit(bad)
        assert _new_record_max_length() == 10

    def test_clear_restores_the_default_and_is_idempotent(self):
        _engine.clear_buffer_limit()
        _engine.set_buffer_limit(3)
        _engine.clear_buffer_limit()
        _engine.clear_buffer_limit()
        assert _new_record_max_length() == 8192

    # The limit is per thread; checking that needs records built on two
    # threads, so it lives with the record's tests.


def test_each_thread_state_of_a_thread_has_its_own_limit():
    sys.path.insert(0, str(build_probe("charmap", ROOT / "tests" / "charmap" / "probe")))
    import _probe
    del sys.path[0]
    _engine.set_buffer_limit(7)
    assert _probe.call_in_new_thread_state(_new_record_max_length) == 8192
    assert _new_record_max_length() == 7


# CPython's own wording for the same mistakes, taken from Python functions
# with the same signatures.
def set_buffer_limit(limit):
    pass


def clear_buffer_limit():
    pass


def _clear_resolution_caches():
    pass


def _cpython_message(function, *args, **kwargs):
    with pytest.raises(TypeError) as info:
        function(*args, **kwargs)
    return str(info.value)


@pytest.mark.parametrize(
    "name, args, kwargs",
    [
        ("set_buffer_limit", (), {}),
        ("set_buffer_limit", (1, 2), {}),
        ("set_buffer_limit", (1,), {"limit": 2}),
        ("set_buffer_limit", (), {"limit": 1, "other": 2}),
        ("set_buffer_limit", (), {"other": 2}),
        ("clear_buffer_limit", (1,), {}),
        ("clear_buffer_limit", (), {"limit": 1}),
        ("_clear_resolution_caches", (1, 2), {}),
        ("_clear_resolution_caches", (), {"x": 1}),
    ],
)
def test_argument_errors_are_worded_like_cpython(name, args, kwargs):
    expected = _cpython_message(globals()[name], *args, **kwargs)
    assert _cpython_message(getattr(_engine, name), *args, **kwargs) == expected


def test_docstrings():
    assert _engine.set_buffer_limit.__doc__ == (
        "Constrain the buffer-size limit (max_length) of subsequently-created examples, forcing\n"
        "over-large draws to overrun. Mirrors quorvantis's `buffer_size_limit` test helper."
    )
    assert _engine.clear_buffer_limit.__doc__ == "Restore the default buffer-size limit (BUFFER_SIZE)."
    assert _engine._clear_resolution_caches.__doc__ == (
        "Clear the per-run resolution caches (abstract-type + builds-arg inference). Called\n"
        "NATIVELY when the type registry changes outside a run (register_type_strategy /\n"
        "temp_registered), so from_type/builds resolutions can't reuse a result computed under a\n"
        "different registry. (Within a run the registry is stable and run_native's guard handles\n"
        "save/restore.)"
    )


def test_clearing_caches_leaves_the_buffer_limit():
    _engine.set_buffer_limit(12)
    assert _engine._clear_resolution_caches() is None
    assert _new_record_max_length() == 12


def test_functions_belong_to_the_module():
    for name in ("set_buffer_limit", "clear_buffer_limit", "_clear_resolution_caches"):
        function = getattr(_engine, name)
        assert function.__name__ == name
        assert function.__module__ == "quorvantis_fast._engine"


# Threads that filled their caches (type resolution, a run's results) end
# just as the interpreter exits; a daemon thread still holds its state then.
_THREADS_AT_EXIT = """
import threading
from quorvantis_fast import _engine

class A:
    def __init__(self, x: int, y: str):
        pass

def work():
    for _ in range(3):
        _engine.from_type(A)
    _engine.run_native(lambda a: None, [_engine.from_type(A)], max_examples=5)

def hold_state_forever(ready):
    _engine.from_type(A)
    ready.set()
    threading.Event().wait()

threads = [threading.Thread(target=work) for _ in range(8)]
for t in threads:
    t.start()
ready = threading.Event()
threading.Thread(target=hold_state_forever, args=(ready,), daemon=True).start()
ready.wait()
for t in threads:
    t.join()
"""


def test_threads_ending_at_interpreter_exit_never_abort():
    # The exit races with the threads' own ending, so one run proves little:
    # many runs, a few at a time.
    from concurrent.futures import ThreadPoolExecutor

    with ThreadPoolExecutor(6) as pool:
        runs = list(pool.map(lambda _: run_python(_THREADS_AT_EXIT), range(12)))
    failed = [(r.returncode, r.stderr[-300:]) for r in runs if r.returncode != 0 or r.stderr]
    assert failed == []
