"""from_type as users meet it: resolved strategies driven by run_native, and
registrations through register_type_strategy."""

import dataclasses
import enum
import typing

import pytest

from quorvantis_fast import _engine
from quorvantis_fast.strategies import register_type_strategy
from qf_testing import draw_many

pytestmark = pytest.mark.usefixtures("registry")


class Color(enum.Enum):
    RED = 1
    GREEN = 2


@dataclasses.dataclass
class Item:
    name: str
    qty: int
    tags: list[str]
    color: Color
    parent: typing.Optional["Item"] = None
    note: str = dataclasses.field(default="fixed", init=False)


def check_well_formed(item):
    assert type(item) is Item and type(item.name) is str and type(item.qty) is int
    assert all(type(t) is str for t in item.tags)
    assert isinstance(item.color, Color) and item.note == "fixed"
    if item.parent is not None:
        check_well_formed(item.parent)


class TestRunNative:
    def test_draws_well_formed_instances(self):
        seen = []

        def test(item):
            check_well_formed(item)
            seen.append(item)

        assert _engine.run_native(test, [_engine.from_type(Item)], max_examples=100) is None
        assert any(item.parent is not None for item in seen)

    def test_failure_shrinks_every_field_to_its_simplest_value(self):
        def test(item):
            assert item.qty < 5

        [(args, _)] = _engine.run_native(test, [_engine.from_type(Item)], max_examples=200)
        assert args == (Item(name="", qty=5, tags=[], color=Color.RED, parent=None),)

    def test_registered_strategy_is_used_for_fields(self):
        register_type_strategy(int, _engine.just(7))
        seen = set()
        _engine.run_native(lambda item: seen.add(item.qty), [_engine.from_type(Item)], max_examples=20)
        assert seen == {7}


def test_registration_makes_builds_infer_its_arguments_again():
    before = _engine.builds(Item)
    register_type_strategy(str, _engine.just("R"))
    after = _engine.builds(Item)
    assert after is not before
    items = draw_many(after, 50)
    assert items and all(i.name == "R" and set(i.tags) <= {"R"} for i in items)


@dataclasses.dataclass
class Tree:
    value: int
    children: list["Tree"]


class Bare:
    def __init__(self, value: int, kids: "list[Bare]"):
        self.value, self.kids = value, kids


def nested(x, cls, field):
    return type(x) is cls and type(x.value) is int and all(nested(k, cls, field) for k in getattr(x, field))


@pytest.mark.parametrize("make, cls, field", [(_engine.from_type, Tree, "children"), (_engine.builds, Bare, "kids")])
def test_classes_holding_lists_of_themselves_pass_the_default_health_checks(make, cls, field):
    # A class resolved anew at every drawn reference to itself fails too_slow.
    seen = []
    assert _engine.run_native(seen.append, [make(cls)], max_examples=100) is None
    assert all(nested(x, cls, field) for x in seen) and any(getattr(x, field) for x in seen)
