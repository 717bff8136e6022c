"""The engine's sources depend on each other in one direction only.

Every `#include "..."` line under src/ is read and checked against ALLOWED,
the table of which folder may include which. A folder's unit is its top-level
folder (a file directly in src/ is its own unit: lib.cpp is `lib`,
statistics_py.cpp is `statistics`), except that the folders inside
src/strategy/ are units of their own below or beside the strategy core.
"""

import re
from pathlib import Path

SRC = Path(__file__).resolve().parent.parent / "src"

_STRATEGY_BASE = {"py", "registry", "timing", "floats", "intervalset", "charmap", "choice", "data"}

# unit -> the units it may include (besides itself).
ALLOWED = {
    "py": set(),
    "registry": {"py"},
    "rng": set(),
    "timing": {"py"},
    "floats": {"py", "registry"},
    "intervalset": {"py", "registry"},
    "charmap": {"py", "registry", "intervalset"},
    "statistics": {"py", "registry"},
    "provider": {"py", "rng", "statistics"},
    "choice": {"py", "registry", "floats", "intervalset"},
    "data": {"py", "registry", "rng", "statistics", "provider", "floats", "intervalset", "choice"},
    "database": {"py", "registry", "choice"},
    "engine": {"py", "registry", "timing", "floats", "choice", "data", "database"},
    "strategy": _STRATEGY_BASE,
    "strategy/scalars": _STRATEGY_BASE | {"strategy"},
    "strategy/draw": _STRATEGY_BASE | {"strategy"},
    "strategy/rewrite": _STRATEGY_BASE | {"strategy"},
    "strategy/typeres": _STRATEGY_BASE | {"strategy"},
    "strategy/charset": _STRATEGY_BASE | {"strategy", "strategy/scalars"},
    "strategy/constructors": _STRATEGY_BASE
    | {"strategy", "strategy/scalars", "strategy/charset", "strategy/draw", "strategy/typeres"},
}
# The module entry sits on top of everything.
ALLOWED["lib"] = set(ALLOWED)

# The units of src/py, lowest first (py.hpp gathers all the ones before it).
PY_ORDER = ["ref", "thread_exit", "errors", "convert", "modules", "recursion", "types", "py", "thread_slots"]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def unit_of(rel):
    parts = rel.split("/")
    if len(parts) == 1:
        return re.sub(r"(_py)?\.[ch]pp$", "", parts[0])
    if parts[0] == "strategy" and len(parts) > 2:
        return "strategy/" + parts[1]
    return parts[0]


def includes():
    for path in sorted(SRC.rglob("*.[ch]pp")):
        rel = path.relative_to(SRC).as_posix()
        for lineno, line in enumerate(path.read_text().splitlines(), 1):
            m = INCLUDE.match(line)
            if m:
                yield rel, lineno, m.group(1)


def test_every_include_follows_the_table():
    problems = []
    for rel, lineno, target in includes():
        where = f"src/{rel}:{lineno}: {target}"
        if not (SRC / target).is_file():
            problems.append(f"{where}: not a file under src/")
            continue
        src_unit, dst_unit = unit_of(rel), unit_of(target)
        if src_unit not in ALLOWED:
            problems.append(f"{where}: unit {src_unit!r} is not in the table")
        elif dst_unit != src_unit and dst_unit not in ALLOWED[src_unit]:
            problems.append(f"{where}: {src_unit} may not include {dst_unit}")
    assert not problems, "\n".join(problems)


def test_the_table_has_no_cycle():
    # Depth-first search; a unit met again while still on the path closes a cycle.
    state = {}

    def visit(unit, path):
        if state.get(unit) == "done":
            return
        assert state.get(unit) != "open", " -> ".join(path + [unit])
        state[unit] = "open"
        for dep in sorted(ALLOWED.get(unit, ())):
            assert dep in ALLOWED, f"{unit} allows unknown unit {dep}"
            visit(dep, path + [unit])
        state[unit] = "done"

    for unit in sorted(ALLOWED):
        visit(unit, [])


def test_the_units_of_py_include_only_units_before_them():
    problems = []
    for rel, lineno, target in includes():
        if rel.startswith("py/") and target.startswith("py/"):
            src_unit, dst_unit = Path(rel).stem, Path(target).stem
            if src_unit not in PY_ORDER or dst_unit not in PY_ORDER:
                problems.append(f"src/{rel}:{lineno}: {target}: a unit missing from PY_ORDER")
            elif PY_ORDER.index(dst_unit) > PY_ORDER.index(src_unit):
                problems.append(f"src/{rel}:{lineno}: py/{src_unit} may not include py/{dst_unit}")
    assert not problems, "\n".join(problems)
