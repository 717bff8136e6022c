"""Optional helper modules of the upstream library: a failed import is
remembered, and tried again once the import could succeed."""
import os
from concurrent.futures import ThreadPoolExecutor

from qf_testing import UPSTREAM_DIR, python_output, run_python


def test_a_failed_import_is_not_retried_until_the_path_changes():
    out = python_output(
        f"""
        import sys
        from quorvantis_fast import _engine as st

        class Watch:
            asked = []
            def find_spec(self, name, path=None, target=None):
                self.asked.append(name)

        sys.meta_path.insert(0, Watch())
        base = st.integers()
        for _ in range(50):
            shown = repr(base.map(lambda x: x + 1))
            st.run_native(lambda d: d.draw(base), [st.data()], max_examples=5)
        print(shown, sorted(set(Watch.asked)), len(Watch.asked))
        sys.path.insert(0, {UPSTREAM_DIR!r})
        print(repr(base.map(lambda x: x + 1)))
        """
    )
    assert out.splitlines() == [
        "integers().map(...) ['quorvantis'] 2",  # once for each helper module
        "integers().map(lambda x: <unknown>)",
    ]


# Daemon threads that build maps and draw interactively while the
# interpreter exits, all on one CPU.
_EXIT_WHILE_BUSY = """
import os, sys, threading, time
os.sched_setaffinity(0, {{{cpu}}})
from quorvantis_fast import _engine as st

ints = st.integers()
started = threading.Barrier(9)
busy = threading.Event()

def maps():
    started.wait()
    while True:
        ints.map(str)
        busy.set()

def draws():
    def test(data):
        data.draw(ints)
        busy.set()
    started.wait()
    while True:
        st.run_native(test, [st.data()], max_examples=10**9)

for i in range(8):
    threading.Thread(target=maps if i % 2 else draws, daemon=True).start()
started.wait()
busy.wait()
time.sleep(0.02)
"""


def test_the_process_exits_cleanly_while_daemon_threads_build_and_draw():
    cpus = sorted(os.sched_getaffinity(0))
    with ThreadPoolExecutor(4) as pool:
        runs = list(pool.map(lambda i: run_python(_EXIT_WHILE_BUSY.format(cpu=cpus[i % len(cpus)])), range(200)))
    failed = [(done.returncode, done.stderr[-500:]) for done in runs if done.returncode]
    assert not failed, failed
