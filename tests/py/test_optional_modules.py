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
        for _ in range(50):
            shown = repr(st.integers().map(lambda x: x + 1))
            st.run_native(lambda d: d.draw(st.integers()), [st.data()], max_examples=5)
        print(shown, Watch.asked)
        sys.path.insert(0, {UPSTREAM_DIR!r})
        print(repr(st.integers().map(lambda x: x + 1)))
        """
    )
    assert out.splitlines() == [
        "integers().map(...) ['quorvantis', 'quorvantis']",  # once for each helper module
        "integers().map(lambda x: <unknown>)",
    ]


def test_a_package_missing_at_import_is_never_looked_for():
    # Remembered when the engine is imported, so that no thread started
    # later goes through the import system for it.
    out = python_output(
        """
        import sys
        from quorvantis_fast import _engine as st
        asked = []
        sys.addaudithook(lambda event, args: event == "import" and asked.append(args[0]))
        repr(st.integers().map(str))
        st.run_native(lambda d: d.draw(st.integers()), [st.data()], max_examples=5)
        print([name for name in asked if name.startswith("quorvantis.")])
        """
    )
    assert out.strip() == "[]"


# Daemon threads build maps and draw interactively, all on one CPU, while
# the interpreter exits.
_EXIT_WHILE_BUSY = """
import os, threading, time
os.sched_setaffinity(0, {{{cpu}}})
from quorvantis_fast import _engine as st
started, busy = threading.Barrier(9), threading.Event()

def work(i):
    started.wait()
    while True:
        if i % 2:
            st.integers().map(str)
        else:
            st.run_native(lambda d: d.draw(st.integers()), [st.data()], max_examples=100)
        busy.set()

for i in range(8):
    threading.Thread(target=work, args=(i,), daemon=True).start()
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


def test_what_the_table_holds_is_dropped_when_the_interpreter_exits():
    # A failed import keeps a copy of sys.meta_path; the engine's exit hook
    # drops it before an exit function registered earlier runs.
    out = python_output(
        """
        import atexit, gc, sys, weakref
        atexit.register(lambda: print(gone() is None))
        from quorvantis_fast import _engine as st

        class Finder:
            def find_spec(self, name, path=None, target=None):
                return None

        sys.meta_path.insert(0, Finder())
        repr(st.integers().map(str))
        gone = weakref.ref(sys.meta_path.pop(0))
        gc.collect()
        print(gone() is None)
        """
    )
    assert out.split() == ["False", "True"]
