"""The Unicode general category of every code point, as runs of equal category.

Computing the runs walks all 0x110000 code points through ``unicodedata``,
which costs a tenth of a second. The build therefore writes them once, for
the building interpreter's Unicode version, into ``unicode_categories.bin``
beside this module (run this file as a script with the output path). A
process reads that table only when it was made for its own interpreter's
``unicodedata.unidata_version`` and passes every check below; otherwise, or
when the file is missing, unreadable or corrupt, the runs are computed.

File layout (little-endian): magic ``QFUC``, format byte, length byte and
ASCII text of the Unicode version, count byte and two ASCII letters per
category name, u32 run count, one u32 per run (first code point in the low
24 bits, category number in the high 8), then the CRC-32 of all before it.

Imports nothing but the standard library: the build runs it before the
package's native module exists.
"""

import itertools
import os
import struct
import sys
import unicodedata
import zlib
from array import array

MAX_CODEPOINT = 0x10FFFF
MAGIC = b"QFUC"
FORMAT = 1
TABLE_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "unicode_categories.bin")


def computed_runs():
    """[(first code point, category)] of this interpreter, in order."""
    categories = map(unicodedata.category, map(chr, range(MAX_CODEPOINT + 1)))
    runs = []
    start = 0
    for category, run in itertools.groupby(categories):
        runs.append((start, category))
        start += sum(1 for _ in run)
    return runs


def encode(version, runs):
    names = sorted({category for _, category in runs})
    number = {name: i for i, name in enumerate(names)}
    words = array("I", (start | number[category] << 24 for start, category in runs))
    if sys.byteorder != "little":
        words.byteswap()
    body = b"".join([
        MAGIC,
        bytes([FORMAT, len(version)]),
        version.encode("ascii"),
        bytes([len(names)]),
        "".join(names).encode("ascii"),
        struct.pack("<I", len(runs)),
        words.tobytes(),
    ])
    return body + struct.pack("<I", zlib.crc32(body))


def decode(data, version):
    """The runs held by `data` when it is a sound table for `version`, else None."""
    try:
        if len(data) < 4 or struct.unpack("<I", data[-4:])[0] != zlib.crc32(data[:-4]):
            return None
        if data[:4] != MAGIC or data[4] != FORMAT:
            return None
        at = 6 + data[5]
        if data[6:at].decode("ascii") != version:
            return None
        count = data[at]
        names = data[at + 1:at + 1 + 2 * count].decode("ascii")
        names = [names[i:i + 2] for i in range(0, 2 * count, 2)]
        at += 1 + 2 * count
        (n,) = struct.unpack("<I", data[at:at + 4])
        at += 4
        if len(data) - 4 - at != 4 * n:
            return None
        words = array("I")
        words.frombytes(data[at:at + 4 * n])
    except (IndexError, UnicodeDecodeError, struct.error, ValueError):
        return None
    if sys.byteorder != "little":
        words.byteswap()
    runs = []
    previous, previous_number = -1, -1
    for word in words:
        start, number = word & 0xFFFFFF, word >> 24
        if start <= previous or start > MAX_CODEPOINT or number >= count or number == previous_number:
            return None
        runs.append((start, names[number]))
        previous, previous_number = start, number
    if not runs or runs[0][0] != 0:
        return None
    # A table that claims this version but was made from other data shows
    # it at the start of some run.
    for start, category in runs:
        if unicodedata.category(chr(start)) != category:
            return None
    return runs


def stored_runs(path=TABLE_PATH):
    """The runs of the table at `path`, if it is a sound one for this interpreter."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return None
    return decode(data, unicodedata.unidata_version)


def runs():
    """[(first code point, category)] of this interpreter: stored, else computed."""
    return stored_runs() or computed_runs()


def write_table(path):
    """Writes this interpreter's table to `path`, replacing it atomically."""
    data = encode(unicodedata.unidata_version, computed_runs())
    temporary = f"{path}.{os.getpid()}.tmp"
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, path)


if __name__ == "__main__":
    write_table(sys.argv[1])
