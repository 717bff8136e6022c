"""A thread ended inside a run: at interpreter shutdown, or by pthread_exit."""
from concurrent.futures import ThreadPoolExecutor

import pytest

from qf_testing import python_output, run_python

# The daemon thread signals once it is inside the run; the main thread then
# gives it a moment more and exits. The interpreter ends (or parks) the
# thread the next time it asks for the lock, with our frames on its stack.
_EXIT_DURING_A_RUN = """
import threading, time
from quorvantis_fast import _engine as st

inside = threading.Event()
calls = [0]

def sleeps(x):
    inside.set()
    time.sleep(0.001)

def busy(xs):
    inside.set()
    return sum(i * i for i in range(2000))

def fails(xs):
    calls[0] += 1
    if calls[0] > 1:  # shrinking has begun
        inside.set()
    time.sleep(0.0005)
    raise AssertionError

def machine():
    from quorvantis_fast.settings import settings
    from quorvantis_fast.stateful import RuleBasedStateMachine, rule, run_state_machine_as_test

    class Counter(RuleBasedStateMachine):
        n = 0

        @rule(x=st.integers())
        def add(self, x):
            inside.set()
            self.n += 1
            time.sleep(0.0005)

    while True:
        run_state_machine_as_test(Counter, settings=settings(max_examples=10**6, database=None))

SCENARIOS = {
    "sleeps": lambda: st.run_native(sleeps, [st.integers()], max_examples=10**9),
    "busy": lambda: st.run_native(busy, [st.lists(st.integers())], max_examples=10**9),
    "shrinks": lambda: st.run_native(fails, [st.lists(st.integers(), min_size=50)], max_examples=10**9),
    "stateful": machine,
}

def work():
    while True:
        try:
            SCENARIOS[SCENARIO]()
        except AssertionError:
            pass

threading.Thread(target=work, daemon=True).start()
assert inside.wait(60)
time.sleep(0.05)
print("exiting")
"""


@pytest.mark.parametrize("scenario", ["sleeps", "busy", "shrinks", "stateful"])
def test_the_process_exits_cleanly(scenario):
    code = f"SCENARIO = {scenario!r}\n" + _EXIT_DURING_A_RUN
    with ThreadPoolExecutor(5) as pool:
        runs = list(pool.map(lambda _: run_python(code), range(5)))
    for done in runs:
        assert done.returncode == 0, done.stderr
        assert done.stdout == "exiting\n"
        assert "FATAL" not in done.stderr and "terminate" not in done.stderr, done.stderr


_ENDED_IN_A_RUN = """
import ctypes, os, threading, time
from quorvantis_fast import _engine as st
tid = []
def test(x):
    tid.append(threading.get_native_id())
    ctypes.CDLL(None).pthread_exit(None)
threading.Thread(target=st.run_native, args=(test, [st.integers()]), daemon=True).start()
while not tid or os.path.exists(f"/proc/self/task/{tid[0]}"): time.sleep(0.01)
"""


def test_a_thread_ended_by_pthread_exit_outside_shutdown_ends():
    assert python_output(_ENDED_IN_A_RUN) == ""
