import math
import random
import struct

import pytest

from quorvantis_fast._engine import choices_from_bytes, choices_to_bytes


# An independent reading of the format, used as the oracle for fuzzing.
def ref_decode(data):
    out, p = [], 0
    while p < len(data):
        h = data[p]
        p += 1
        tag, size = h >> 5, h & 31
        if tag == 0:
            out.append(size != 0)
            continue
        if size == 31:
            if p >= len(data):
                return None
            size, k = 0, 0
            while p < len(data):
                b = data[p]
                p += 1
                size |= ((b & 0x7F) << ((7 * k) % 64)) & (2**64 - 1)
                k += 1
                if not b & 0x80:
                    break
        if p + size > len(data):
            return None
        payload = data[p : p + size]
        p += size
        if tag == 1:
            if size != 8:
                return None
            out.append(struct.unpack(">d", payload)[0])
        elif tag == 2:
            out.append(int.from_bytes(payload, "big", signed=True) if payload else 0)
        elif tag == 3:
            out.append(bytes(payload))
        elif tag == 4:
            try:
                out.append(payload.decode("utf-8", "surrogatepass"))
            except UnicodeDecodeError:
                return None
        else:
            return None
    return tuple(out)


def same(a, b):
    """Equal values of equal types, floats bit for bit."""
    if a is None or b is None:
        return a is b
    if len(a) != len(b):
        return False
    for x, y in zip(a, b):
        if type(x) is not type(y):
            return False
        if isinstance(x, float):
            if struct.pack(">d", x) != struct.pack(">d", y):
                return False
        elif x != y:
            return False
    return True


class TestKnownElements:
    @pytest.mark.parametrize(
        "value, hexed",
        [
            (False, "00"),
            (True, "01"),
            (0, "4100"),
            (-1, "41ff"),
            (127, "417f"),
            (128, "420080"),
            (255, "4200ff"),
            (-128, "42ff80"),
            (1.5, "283ff8000000000000"),
            (b"ab", "626162"),
            ("\u00e9", "82c3a9"),
            (2**63, "49008000000000000000"),
            (-(2**63), "49ff8000000000000000"),
        ],
    )
    def test_single_element(self, value, hexed):
        assert choices_to_bytes([value]).hex() == hexed
        assert same(choices_from_bytes(bytes.fromhex(hexed)), (value,))

    def test_length_boundaries(self):
        assert choices_to_bytes([b"x" * 30]) == b"\x7e" + b"x" * 30
        assert choices_to_bytes([b"x" * 31]) == b"\x7f\x1f" + b"x" * 31
        assert choices_to_bytes(["y" * 200])[:3] == bytes.fromhex("9fc801")
        assert choices_to_bytes([]) == b""
        assert choices_from_bytes(b"") == ()

    @pytest.mark.parametrize(
        "data, expected",
        [
            (b"\x1f", (True,)),
            (b"\x02", (True,)),
            (b"\x40", (0,)),
            (b"\x7f\x80", (b"",)),
            (b"\x43\x00\x00\x05", (5,)),
        ],
    )
    def test_lenient_reads(self, data, expected):
        assert same(choices_from_bytes(data), expected)

    @pytest.mark.parametrize(
        "data",
        [
            b"\x28" + b"\x00" * 7,  # truncated float
            b"\x27" + b"\x00" * 7,  # wrong float width
            b"\xa0",  # tag 5
            b"\xe0\x00",  # tag 7
            b"\xa1",  # bad tag, but truncated first
            b"\x7f",  # extended length missing
            b"\x7f\x05abc",
            b"\x7f" + b"\xff" * 9 + b"\x01",  # length past 2**64
            b"\x82\xff\xfe",  # not UTF-8
            b"\x01\x42\x00",  # a good element before a bad one
        ],
    )
    def test_undecodable_gives_none(self, data):
        assert choices_from_bytes(data) is None


class TestRoundTrip:
    def test_every_type(self):
        values = [
            True,
            False,
            0,
            -1,
            2**64,
            -(2**64) - 1,
            3**400,
            -(7**333),
            0.0,
            -0.0,
            math.inf,
            -math.inf,
            5e-324,
            struct.unpack(">d", bytes.fromhex("7ff0000000000001"))[0],  # signalling NaN
            struct.unpack(">d", bytes.fromhex("fff8dead0000beef"))[0],
            b"",
            bytes(range(256)),
            "",
            "plain",
            "\U0001f600\u00e9\x00",
            "a\ud800b\udfff",  # lone surrogates
            "z" * 100000,
        ]
        assert same(choices_from_bytes(choices_to_bytes(values)), tuple(values))

    def test_subclasses_come_back_as_base_types(self):
        class I(int):
            pass

        class F(float):
            pass

        class S(str):
            pass

        class B(bytes):
            pass

        got = choices_from_bytes(choices_to_bytes([I(-300), F(2.5), S("s"), B(b"b")]))
        assert same(got, (-300, 2.5, "s", b"b"))

    def test_subclass_methods_are_used(self):
        class Odd(int):
            def to_bytes(self, *a, **k):
                return b"\x07"

        class Loud(str):
            def encode(self, *a, **k):
                return b"LOUD"

        assert choices_to_bytes([Odd(1000), Loud("x")]) == b"\x41\x07\x84LOUD"

    def test_random_sequences(self):
        rnd = random.Random(1234)
        for _ in range(300):
            values = []
            for _ in range(rnd.randrange(8)):
                kind = rnd.randrange(5)
                if kind == 0:
                    values.append(rnd.random() < 0.5)
                elif kind == 1:
                    values.append(struct.unpack(">d", rnd.randbytes(8))[0])
                elif kind == 2:
                    values.append(rnd.getrandbits(rnd.randrange(1, 300)) - rnd.getrandbits(200))
                elif kind == 3:
                    values.append(rnd.randbytes(rnd.choice([0, 5, 30, 31, 127, 128, 300])))
                else:
                    values.append("".join(chr(rnd.randrange(0x110000)) for _ in range(rnd.randrange(40))))
            data = choices_to_bytes(values)
            assert same(choices_from_bytes(data), tuple(values))
            assert same(ref_decode(data), tuple(values))


class TestHostileInput:
    def test_random_bytes_agree_with_reference(self):
        rnd = random.Random(99)
        for _ in range(3000):
            data = rnd.randbytes(rnd.randrange(40))
            assert same(choices_from_bytes(data), ref_decode(data))

    def test_mutated_encodings_agree_with_reference(self):
        rnd = random.Random(7)
        base = choices_to_bytes([True, 1.25, 2**70, b"q" * 40, "\u00e9t\u00e9", -5])
        for _ in range(3000):
            data = bytearray(base)
            for _ in range(rnd.randrange(1, 4)):
                op = rnd.randrange(3)
                if op == 0 and data:
                    data[rnd.randrange(len(data))] = rnd.randrange(256)
                elif op == 1 and data:
                    del data[rnd.randrange(len(data)) :]
                else:
                    data.insert(rnd.randrange(len(data) + 1), rnd.randrange(256))
            data = bytes(data)
            assert same(choices_from_bytes(data), ref_decode(data))

    def test_huge_claimed_length_is_refused_without_allocating(self):
        # 2**63 announced, 3 bytes present.
        data = b"\x7f" + b"\x80" * 9 + b"\x01" + b"abc"
        assert choices_from_bytes(data) is None


class TestErrors:
    def test_unhandled_type(self):
        with pytest.raises(TypeError, match="unhandled choice type"):
            choices_to_bytes([1, "a", None])
        for bad in (bytearray(b"x"), memoryview(b"x"), [1]):
            with pytest.raises(TypeError, match="unhandled choice type"):
                choices_to_bytes([bad])

    def test_overrides_returning_non_bytes(self):
        class BadInt(int):
            def to_bytes(self, *a, **k):
                return "nope"

        class BadStr(str):
            def encode(self, *a, **k):
                return bytearray(b"x")

        for v in (BadInt(3), BadStr("s")):
            with pytest.raises(TypeError):
                choices_to_bytes([v])

    def test_from_bytes_wants_bytes(self):
        with pytest.raises(TypeError, match="buffer"):
            choices_from_bytes(bytearray(b"\x01"))
        with pytest.raises(TypeError):
            choices_from_bytes()
