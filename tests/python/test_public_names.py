"""What a user imports: the package's public names and the strategies module."""

import ast
import graphlib
import pathlib
import sys
import tomllib

import pytest

import quorvantis_fast
from qf_testing import ROOT, python_output


def test_public_names_survive_any_import_order():
    # The settings class shares its name with a submodule; whichever is
    # imported first, the package attribute stays the class.
    out = python_output("""
        import quorvantis_fast.settings
        assert {"given", "st", "note"} <= set(dir(quorvantis_fast)), dir(quorvantis_fast)
        import quorvantis_fast._engine
        from quorvantis_fast import given, reproduce_failure, settings, st
        import quorvantis_fast
        from quorvantis_fast.settings import Verbosity, settings as cls
        assert settings is cls and quorvantis_fast.settings is cls
        assert Verbosity is quorvantis_fast.Verbosity
        assert callable(given) and callable(reproduce_failure)
        print(sorted(quorvantis_fast.__all__))
    """)
    assert out.strip() == str(sorted(["HealthCheck", "Verbosity", "assume", "given", "note", "reject",
                                      "reproduce_failure", "settings", "st"]))
    with open(ROOT / "pyproject.toml", "rb") as f:
        assert quorvantis_fast.__version__ == tomllib.load(f)["project"]["version"]


def test_st_holds_every_public_strategy_of_the_engine():
    from quorvantis_fast import _engine, st, strategies

    names = _engine.__all__[_engine.__all__.index("integers"):_engine.__all__.index("run_native")]
    public = {n for n in names if not n.startswith("_")} - {"can_hash"}
    classes = {"SearchStrategy", "DataObject"}
    assert set(st.__all__) == public | classes | {"composite", "functions", "register_type_strategy"}
    assert all(getattr(st, n) is getattr(_engine, n) for n in public | classes)
    # The engine's resolver for users; the Python fallback the engine calls stays apart.
    fallback = sys.modules["quorvantis_fast.strategies"].from_type
    assert st.from_type is _engine.from_type and fallback is not _engine.from_type
    assert st.register_type_strategy is strategies.register_type_strategy
    assert dir(st) == sorted(st.__all__)  # not the modules st imports


def test_the_strategies_module_imported_by_name_points_to_st(monkeypatch):
    import importlib
    import types

    import quorvantis_fast.strategies as by_path
    from quorvantis_fast import strategies

    for module, name in ((strategies, "integers"), (by_path, "from_type")):
        with pytest.raises(AttributeError, match="use `from quorvantis_fast import st`"):
            getattr(module, name)
    # The package stays an ordinary module: its attribute is replaced, removed and put back like any other.
    helpers = sys.modules["quorvantis_fast.strategies"]
    assert type(quorvantis_fast) is types.ModuleType and by_path.__spec__ is helpers.__spec__
    monkeypatch.setattr(quorvantis_fast, "strategies", "replaced")
    assert quorvantis_fast.strategies == "replaced"
    monkeypatch.delattr(quorvantis_fast, "strategies")
    monkeypatch.undo()
    assert importlib.reload(helpers) is helpers and quorvantis_fast.strategies is strategies
    assert strategies.register_type_strategy is helpers.register_type_strategy


def test_the_modules_import_each_other_one_way():
    # Imports inside functions count too: with a cycle, what works depends on the import order.
    package = pathlib.Path(quorvantis_fast.__file__).parent
    modules = {p.stem for p in package.glob("*.py")} - {"__init__"}
    graph = {}
    for name in modules:
        tree = ast.parse((package / f"{name}.py").read_text())
        imported = [a.name if isinstance(n, ast.Import) else f"{n.module}.{a.name}"
                    for n in ast.walk(tree) if isinstance(n, (ast.Import, ast.ImportFrom)) for a in n.names]
        graph[name] = {d.split(".")[1] for d in imported if d.startswith("quorvantis_fast.")} & modules
    graphlib.TopologicalSorter(graph).prepare()  # raises CycleError
