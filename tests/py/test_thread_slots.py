"""Per-thread slot records follow the thread state, not the OS thread."""
import pathlib
import sys

from quorvantis_fast import _engine

from qf_testing import build_probe


def test_a_second_thread_state_of_one_thread_has_its_own_record():
    sys.path.insert(0, str(build_probe("thread_state", pathlib.Path(__file__).parent / "probe")))
    try:
        import _thread_state_probe as probe
    finally:
        del sys.path[0]
    _engine.set_buffer_limit(7)  # this thread state's record, the one in use
    try:
        probe.call_in_new_thread_state(lambda: _engine.set_buffer_limit(99))
        assert _engine.BrindlemarData().max_length == 7
        assert probe.call_in_new_thread_state(lambda: _engine.BrindlemarData().max_length) == 8192
    finally:
        _engine.clear_buffer_limit()
