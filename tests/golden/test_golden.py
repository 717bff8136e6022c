"""The engine's choices, values, call counts, shrinks and reports match the
pinned file case by case (regenerate it with make_golden.py only when a
behaviour is meant to change)."""

import difflib
import json

import pytest

import make_golden

STORED = make_golden.load()


def pretty(text):
    return json.dumps(json.loads(text), indent=1, sort_keys=True, ensure_ascii=True).splitlines()


def test_the_file_has_exactly_the_cases():
    assert sorted(STORED) == sorted(make_golden.CASES)


@pytest.mark.parametrize("name", list(make_golden.CASES))
def test_case_matches(name):
    got = make_golden.compute(name)
    want = STORED.get(name)
    if got != want:
        diff = difflib.unified_diff(pretty(want) if want else [], pretty(got),
                                    "golden", "now", n=2, lineterm="")
        lines = list(diff)
        shown = "\n".join(lines[:120]) + ("\n..." if len(lines) > 120 else "")
        pytest.fail(f"case {name} differs from the golden file:\n{shown}", pytrace=False)
