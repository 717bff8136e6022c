"""Raw error dropping and raw reference counting live only in src/py.

Everywhere else an error is dropped through py::drop_exception (or, where
nothing may fail, py::discard_error) and a reference is owned by py::Ref or
handed over explicitly.
"""

import re
from pathlib import Path

SRC = Path(__file__).resolve().parent.parent / "src"

RAW = re.compile(r"\b(PyErr_Clear|Py_X?INCREF|Py_X?DECREF|Py_CLEAR|Py_X?NewRef|Py_X?SETREF)\b")


def test_no_raw_error_clearing_or_reference_counting_outside_the_c_api_layer():
    found = []
    for path in sorted(SRC.rglob("*.[ch]pp")):
        rel = path.relative_to(SRC).as_posix()
        if rel.startswith("py/"):
            continue
        for lineno, line in enumerate(path.read_text().splitlines(), 1):
            m = RAW.search(line)
            if m:
                found.append(f"src/{rel}:{lineno}: {m.group(1)}")
    assert not found, "\n".join(found)
