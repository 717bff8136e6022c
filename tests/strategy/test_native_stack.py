"""Native recursion stops with RecursionError before a thread's stack runs out."""
import threading

import pytest

from quorvantis_fast import _engine as st


def in_thread_with_stack(size, fn):
    outcome = {}

    def run():
        try:
            outcome["value"] = fn()
        except BaseException as e:  # noqa: BLE001 - carried to the caller
            outcome["error"] = e

    old = threading.stack_size(size)
    try:
        t = threading.Thread(target=run)
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    return outcome


@pytest.mark.parametrize("depth", [3000, 30000])
def test_deep_trees_in_a_small_stack_raise_recursion_error(depth):
    s = st.integers(0, 3)
    for _ in range(depth):
        s = st.tuples(s.map(lambda x: x + 0))

    def draw():
        return st.run_native(lambda x: None, [s], max_examples=1)

    outcome = in_thread_with_stack(256 * 1024, draw)
    assert isinstance(outcome.get("error"), RecursionError), outcome
