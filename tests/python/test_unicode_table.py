"""The stored Unicode category table: used only when sound and of this interpreter's version."""

import struct
import unicodedata
import zlib

import pytest

from qf_testing import python_output
from quorvantis_fast.internal import unicode_table


@pytest.fixture(scope="module")
def computed():
    return unicode_table.computed_runs()


def with_crc(body):
    return body + struct.pack("<I", zlib.crc32(body))


def built_for():
    """The stored table and the Unicode version it says it was made for."""
    with open(unicode_table.TABLE_PATH, "rb") as f:
        data = f.read()
    return data, data[6:6 + data[5]].decode("ascii")


def test_the_build_ships_a_table_that_serves_its_own_version_only(computed):
    _, version = built_for()
    expected = computed if version == unicodedata.unidata_version else None
    assert unicode_table.stored_runs() == expected


def test_a_table_that_is_not_sound_for_this_interpreter_is_refused(computed, tmp_path):
    version = unicodedata.unidata_version
    good = unicode_table.encode(version, computed)
    assert unicode_table.decode(good, version) == computed
    # The category of one run changed: the CRC is right, the data is not.
    at = next(i for i, (_, c) in enumerate(computed) if c == "Lu" and computed[i + 1][1] != "Ll")
    wrong = list(computed)
    wrong[at] = (wrong[at][0], "Ll")
    header_end = len(good) - 4 - 4 * len(computed)
    flipped = bytearray(good)
    flipped[header_end + 4 * len(computed) // 2] ^= 1
    bad = {
        "other version": unicode_table.decode(good, version + ".1"),
        "bit flipped": unicode_table.decode(bytes(flipped), version),
        "bit flipped, crc fixed": unicode_table.decode(with_crc(bytes(flipped[:-4])), version),
        "truncated": unicode_table.decode(with_crc(good[:-8]), version),
        "empty": unicode_table.decode(b"", version),
        "other data, same version": unicode_table.decode(unicode_table.encode(version, wrong), version),
        "runs out of order": unicode_table.decode(
            unicode_table.encode(version, [computed[1], computed[0]] + computed[2:]), version),
    }
    assert bad == dict.fromkeys(bad)
    missing = tmp_path / "missing.bin"
    assert unicode_table.stored_runs(str(missing)) is None


@pytest.mark.parametrize("version", [None, "1.1.0"])
def test_charmap_comes_from_the_table_only_for_its_own_version(version):
    computes = (version or unicodedata.unidata_version) != built_for()[1]
    out = python_output(f"""
        import unicodedata
        if {version!r} is not None:
            unicodedata.unidata_version = {version!r}
        from quorvantis_fast.internal import unicode_table
        real, calls = unicode_table.computed_runs, []
        def counted():
            calls.append(1)
            return real()
        unicode_table.computed_runs = counted
        from quorvantis_fast import native_strategies as ns
        charmap = ns._unicode_charmap()
        assert (ord("A"), ord("Z")) in charmap["Lu"] and (0xD800, 0xDFFF) in charmap["Cs"]
        print(len(calls))
    """)
    assert int(out) == int(computes)
