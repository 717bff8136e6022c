"""Start-up of the module: one interpreter only, nothing built at import."""

import importlib.util
import json

import pytest

from qf_testing import run_python


def _subinterpreter_module():
    for name in ("_interpreters", "_xxsubinterpreters"):
        if importlib.util.find_spec(name) is not None:
            return name
    return None


# Run inside the second interpreter: reports how importing the module went.
SUB_SCRIPT = """
import sys
sys.path[:0] = {paths!r}
try:
    import quorvantis_fast._engine
    outcome = "imported"
except ImportError as e:
    outcome = "ImportError: " + str(e)
with open({out!r}, "w") as f:
    f.write(outcome)
"""


@pytest.mark.skipif(_subinterpreter_module() is None, reason="no subinterpreter support")
def test_second_interpreter_is_refused_and_first_keeps_working(tmp_path):
    out = tmp_path / "sub.txt"
    result = run_python(
        f"""
        import sys
        import quorvantis_fast._engine as engine
        import {_subinterpreter_module()} as si

        # A legacy interpreter imports single-phase modules like the main
        # one does, so the refusal seen is the module's own.
        try:
            interp = si.create("legacy")
        except TypeError:
            interp = si.create(isolated=False)
        si.run_string(interp, {SUB_SCRIPT!r}.format(paths=sys.path[:], out={str(out)!r}))
        si.destroy(interp)

        engine.set_buffer_limit(5)
        engine.clear_buffer_limit()
        assert "set_buffer_limit" in engine.__all__
        print("main ok")
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "main ok"
    outcome = out.read_text()
    assert outcome.startswith("ImportError: ")
    assert "do not yet support subinterpreters" in outcome


def test_import_loads_no_python_side_and_starts_nothing():
    # The package's Python modules and the upstream library are imported
    # only when first needed, never by the module's start-up; the package
    # itself loads only its settings class, the helpers module behind its
    # attribute `strategies` (neither the engine nor the upstream library)
    # and the errors they raise.
    result = run_python(
        """
        import json, sys, threading
        def ours(modules):
            return sorted(m for m in modules
                          if m == "quorvantis" or m.startswith(("quorvantis.", "quorvantis_fast.")))
        before = set(sys.modules)
        import quorvantis_fast
        package = ours(set(sys.modules) - before)
        before = set(sys.modules)
        import quorvantis_fast._engine
        print(json.dumps([package, ours(set(sys.modules) - before), threading.active_count()]))
        """,
        upstream=True,
    )
    assert result.returncode == 0, result.stderr
    assert json.loads(result.stdout) == [
        ["quorvantis_fast.errors", "quorvantis_fast.settings", "quorvantis_fast.strategies"],
        ["quorvantis_fast._engine"], 1]
