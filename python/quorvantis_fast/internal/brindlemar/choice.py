"""The Python view of one recorded choice."""

import dataclasses
import struct

__all__ = ["ChoiceNode", "CHOICE_TYPES"]

CHOICE_TYPES = ("integer", "float", "string", "bytes", "boolean")


@dataclasses.dataclass(frozen=True, slots=True, kw_only=True)
class ChoiceNode:
    """One choice of a test case: its type name, value and constraints.

    ``index`` is the choice's place in the record (0 for the first).
    """

    type: str
    value: object
    constraints: dict
    was_forced: bool
    index: int

    def __eq__(self, other):
        # Floats compare by identity of their bits, so that 0.0 != -0.0 and a
        # NaN equals the same NaN: two nodes are equal when they record the
        # same choice.
        if not isinstance(other, ChoiceNode):
            return NotImplemented
        return (
            self.type == other.type
            and _same_value(self.value, other.value)
            and self.constraints == other.constraints
            and self.was_forced == other.was_forced
            and self.index == other.index
        )

    def __hash__(self):
        return hash((self.type, self.index, self.was_forced))


def _same_value(a, b):
    if isinstance(a, float) and isinstance(b, float):
        return struct.pack("!d", a) == struct.pack("!d", b)
    return type(a) is type(b) and a == b
