"""from_type with hostile and odd inputs: probes that raise, objects that
answer every attribute, the Python-level fallback and threads."""

import sys
import threading
import typing

import pytest

from quorvantis_fast import _engine
from quorvantis_fast.errors import ResolutionFailed
from typeres_helpers import calls, handoff, registry  # noqa: F401  (fixtures)

pytestmark = pytest.mark.usefixtures("calls", "registry")


class Raising:
    """Every attribute read, comparison and hash raises."""

    def __getattribute__(self, name):
        if name in ("__class__", "__repr__"):
            return object.__getattribute__(self, name)
        raise RuntimeError(f"no {name}")

    def __eq__(self, other):
        raise RuntimeError("eq")

    def __hash__(self):
        raise RuntimeError("hash")

    def __repr__(self):
        return "Raising()"


class Everything:
    """Answers every attribute with a new object of its own kind."""

    def __getattr__(self, name):
        return Everything()


class TestFallback:
    def test_python_level_resolver_reports_what_it_cannot_resolve(self):
        for thing in (5, "int", Raising()):
            with pytest.raises(ResolutionFailed, match="Could not resolve .* to a strategy"):
                _engine.from_type(thing)

    def test_failing_probes_count_as_absent(self, handoff):
        thing = Raising()
        _engine.from_type(thing)
        assert handoff.things == [thing]

    def test_object_with_every_attribute_ends_in_recursion_error(self):
        with pytest.raises(RecursionError):
            _engine.from_type(Everything())
        assert repr(_engine.from_type(int)) == "integers()"

    def test_forward_ref_without_text(self, handoff):
        class Ref(typing.ForwardRef, _root=True):
            def __init__(self):
                pass

        ref = Ref()
        _engine.from_type(ref)
        assert handoff.things == [ref]

    def test_metadata_items_that_raise(self):
        class Annotatedish:
            __metadata__ = (Raising(), Everything())
            __origin__ = int

        assert repr(_engine.from_type(Annotatedish())) == "integers()"

    def test_exception_from_the_python_level_passes_unchanged(self, monkeypatch):
        from quorvantis_fast import strategies

        def refuse(thing):
            raise LookupError("refused")

        monkeypatch.setattr(strategies, "from_type", refuse)
        with pytest.raises(LookupError, match="refused"):
            _engine.from_type(typing.Awaitable[int])

    def test_registry_that_is_not_a_mapping(self, monkeypatch):
        from quorvantis_fast import native_strategies

        monkeypatch.setattr(native_strategies, "_NATIVE_TYPE_REGISTRY", 42)
        assert repr(_engine.from_type(int)) == "integers()"

    def test_missing_registry_is_skipped(self, monkeypatch):
        from quorvantis_fast import native_strategies

        monkeypatch.delattr(native_strategies, "_NATIVE_TYPE_REGISTRY")
        assert repr(_engine.from_type(list[int])) == "lists(integers())"

    def test_subclasses_that_raise(self):
        class Meta(type):
            def __subclasses__(cls):
                raise OSError("listing")

        class Odd(metaclass=Meta):
            pass

        with pytest.raises(OSError, match="listing"):
            _engine._resolve_abstract(Odd)

    def test_references_of_hostile_inputs(self, handoff):
        things = [Raising(), 10**30, "".join(["no such ", "type"])]
        before = [sys.getrefcount(t) for t in things]
        for _ in range(50):
            for thing in things:
                _engine.from_type(thing)
        del thing
        handoff.things.clear()
        assert [sys.getrefcount(t) for t in things] == before


class TestThreads:
    def test_guard_is_per_thread(self, registry):
        other = []

        def factory(t):
            if threading.current_thread() is threading.main_thread():
                worker = threading.Thread(target=lambda: other.append(_engine.from_type(int)))
                worker.start()
                worker.join()
                return _engine.booleans()
            return _engine.text()

        registry[int] = factory
        assert repr(_engine.from_type(int)) == "booleans()"
        # The other thread resolved int itself instead of deferring to the
        # resolution running on the main thread.
        assert [repr(s) for s in other] == ["text()"]
