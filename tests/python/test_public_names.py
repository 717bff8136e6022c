"""What a user imports: the package's public names and the strategies module."""

import ast
import graphlib
import pathlib

import quorvantis_fast
from qf_testing import python_output


def test_public_names_survive_any_import_order():
    # The settings class shares its name with a submodule; whichever is
    # imported first, the package attribute stays the class.
    out = python_output("""
        import quorvantis_fast
        assert {"given", "st", "note"} <= set(dir(quorvantis_fast)), dir(quorvantis_fast)
        import quorvantis_fast.settings
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


def test_st_holds_every_public_strategy_of_the_engine():
    from quorvantis_fast import _engine, st, strategies

    names = _engine.__all__[_engine.__all__.index("integers"):_engine.__all__.index("run_native")]
    public = {n for n in names if not n.startswith("_")} - {"can_hash"}
    classes = {"SearchStrategy", "DataObject"}
    assert set(st.__all__) == public | classes | {"composite", "functions", "register_type_strategy"}
    assert all(getattr(st, n) is getattr(_engine, n) for n in public | classes)
    # The engine's resolver for users; the Python fallback the engine calls stays apart.
    assert st.from_type is _engine.from_type and strategies.from_type is not _engine.from_type
    assert st.register_type_strategy is strategies.register_type_strategy


def test_the_modules_import_each_other_one_way():
    # Imports inside functions count too: a cycle makes what works depend on
    # which module a program happens to import first.
    modules = {p.stem: p for p in pathlib.Path(quorvantis_fast.__file__).parent.glob("*.py")}
    del modules["__init__"]
    graph = {}
    for name, path in modules.items():
        used = set()
        for node in ast.walk(ast.parse(path.read_text())):
            if isinstance(node, ast.ImportFrom) and node.module == "quorvantis_fast":
                used.update(alias.name for alias in node.names)
            elif isinstance(node, ast.ImportFrom) and (node.module or "").startswith("quorvantis_fast."):
                used.add(node.module.split(".")[1])
            elif isinstance(node, ast.Import):
                used.update(a.name.split(".")[1] for a in node.names if a.name.startswith("quorvantis_fast."))
        graph[name] = used & modules.keys()
    graphlib.TopologicalSorter(graph).prepare()  # raises CycleError
