"""The engine's choices, values, call counts, shrinks and reports match the
pinned file case by case (regenerate it with make_golden.py only when a
behaviour is meant to change)."""

import json
import sys

import pytest

import make_golden

STORED = make_golden.load()


def flatten(value, path=""):
    """path -> JSON text of each leaf; lists of scalars stay one leaf."""
    if isinstance(value, dict):
        items = value.items()
    elif isinstance(value, list) and any(isinstance(v, (dict, list)) for v in value):
        items = enumerate(value)
    else:
        return {path: json.dumps(value, ensure_ascii=True)}
    out = {}
    for key, item in items:
        out.update(flatten(item, f"{path}.{key}" if path else str(key)))
    return out


def differences(want, got, limit=40):
    want, got = flatten(json.loads(want)), flatten(json.loads(got))
    lines = []
    for path in sorted(set(want) | set(got)):
        if want.get(path) != got.get(path):
            lines.append(f"{path}:\n  golden {want.get(path, '(absent)')[:400]}\n"
                         f"  now    {got.get(path, '(absent)')[:400]}")
    return "\n".join(lines[:limit]) + (f"\n... {len(lines) - limit} more" if len(lines) > limit else "")


@pytest.fixture(autouse=True)
def without_upstream(monkeypatch):
    """The file pins the package on its own: the upstream layer, when it is on
    the path, lends the engine its exception classes instead."""
    names = {"quorvantis", "quorvantis.errors", "quorvantis.control"}
    names.update(n for n in sys.modules if n.startswith("quorvantis."))
    for name in names:
        monkeypatch.setitem(sys.modules, name, None)


def test_the_file_has_exactly_the_cases():
    assert sorted(STORED) == sorted(make_golden.CASES)


@pytest.mark.parametrize("name", list(make_golden.CASES))
def test_case_matches(name):
    got = make_golden.compute(name)
    want = STORED.get(name, "null")
    if got != want:
        pytest.fail(f"case {name} differs from the golden file:\n{differences(want, got)}",
                    pytrace=False)
