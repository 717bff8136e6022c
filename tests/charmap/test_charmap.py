import json
import sys
import textwrap
import unicodedata

import pytest

from quorvantis_fast._engine import IntervalSet
from qf_testing import members_of, model_pairs, python_output

GENERAL_CATEGORIES = (
    "Lu Ll Lt Lm Lo Mn Mc Me Nd Nl No Pc Pd Ps Pe Pi Pf Po Sm Sc Sk So Zs Zl Zp Cc Cf Cs Co Cn".split()
)


@pytest.fixture(scope="module")
def probe(probe_dir):
    sys.path.insert(0, str(probe_dir))
    try:
        import _probe
    finally:
        sys.path.remove(str(probe_dir))
    return _probe


def test_every_code_point_is_in_its_own_category(probe):
    owner = [None] * (sys.maxunicode + 1)
    for cat in GENERAL_CATEGORIES:
        pairs = probe.intervals_for_categories([cat])
        assert IntervalSet(pairs) == IntervalSet(pairs) | IntervalSet(pairs)  # already normalised
        for lo, hi in pairs:
            for cp in range(lo, hi + 1):
                assert owner[cp] is None, (cp, owner[cp], cat)
                owner[cp] = cat
    mismatches = [cp for cp in range(sys.maxunicode + 1) if owner[cp] != unicodedata.category(chr(cp))]
    assert mismatches == []


def test_categories_are_merged_into_one_sorted_list(probe):
    names = ["Nd", "Lu", "Ll", "Lu"]
    members = set().union(*(members_of(probe.intervals_for_categories([n]), limit=2**21) for n in names))
    assert list(probe.intervals_for_categories(names)) == model_pairs(members)
    assert probe.intervals_for_categories(["Ll", "Lu"]) == probe.intervals_for_categories(["Lu", "Ll"])
    assert probe.intervals_for_categories(["lu", "Nope"]) == ()
    assert probe.intervals_for_categories([]) == ()


LOADING = textwrap.dedent(
    """
    import json
    import _probe
    import quorvantis_fast.native_strategies as ns

    MIN, MAX = -2**63, 2**63 - 1
    calls = []
    out = {}

    def source(value):
        def _unicode_charmap():
            calls.append(1)
            if isinstance(value, BaseException):
                raise value
            return value
        ns._unicode_charmap = _unicode_charmap

    def attempt(label, names=("Lu",)):
        try:
            out[label] = list(_probe.intervals_for_categories(list(names)))
        except BaseException as e:
            out[label] = [type(e).__name__, str(e)]

    class Mutating:
        def __len__(self):
            return 1
        def __getitem__(self, i):
            mutable["new"] = ()
            return (1, 2)

    mutable = {"Lu": Mutating()}

    source(ZeroDivisionError("no map"))
    attempt("raises")
    attempt("raises, no names", ())
    for label, bad in [
        ("not a dict", [("Lu", [(1, 2)])]),
        ("str key needed", {1: [(1, 2)]}),
        ("str value", {"Lu": "AZ"}),
        ("not a sequence", {"Lu": 5}),
        ("list pair", {"Lu": [[1, 2]]}),
        ("three items", {"Lu": [(1, 2, 3)]}),
        ("too big", {"Lu": [(0, 2**63)]}),
        ("not an int", {"Lu": [(0, "9")]}),
        ("mutating", mutable),
    ]:
        source(bad)
        attempt(label)
    failing_calls = len(calls)
    source({
        "Lu": ((65, 90),), "Ll": [(97, 122)],
        "Adj": [(71, 80), (65, 70)], "Over": [(70, 75), (65, 80)],
        "Top": [(MAX, MAX), (0, MAX - 1)], "Bottom": [(MIN + 1, -5), (MIN, MIN)],
    })
    for names in (["Lu", "Ll"], ["Ll", "Lu"], ["Adj"], ["Over"], ["Top"], ["Bottom"], ["Lu", "Lu"],
                  ["Top", "Bottom"], ["lu"], []):
        attempt(",".join(names), names)
    source(RuntimeError("must not be called again"))
    attempt("after load", ["Lu"])
    out["calls"] = [failing_calls, len(calls)]
    print(json.dumps(out))
    """
)


def test_loading_retries_until_it_succeeds_then_keeps_the_map(probe_dir):
    out = json.loads(python_output(LOADING, extra_path=[probe_dir]))
    MIN, MAX = -(2**63), 2**63 - 1
    assert out["raises"] == ["ZeroDivisionError", "no map"]
    assert out["raises, no names"] == ["ZeroDivisionError", "no map"]
    assert out["not a dict"][0] == "TypeError"
    assert out["str key needed"][0] == "TypeError"
    assert out["str value"] == ["TypeError", "Can't extract `str` to `Vec`"]
    assert out["not a sequence"][0] == "TypeError"
    assert out["list pair"][0] == "TypeError"
    assert out["three items"][0] == "ValueError"
    assert out["too big"][0] == "OverflowError"
    assert out["not an int"][0] == "TypeError"
    assert out["mutating"][0] == "InternalFault" and "changed size" in out["mutating"][1]
    assert out["Lu,Ll"] == out["Ll,Lu"] == [[65, 90], [97, 122]]
    assert out["Adj"] == out["Over"] == [[65, 80]]
    assert out["Top"] == [[0, MAX]]
    assert out["Bottom"] == [[MIN, -5]]
    assert out["Lu,Lu"] == out["after load"] == [[65, 90]]
    assert out["Top,Bottom"] == [[MIN, -5], [0, MAX]]
    assert out["lu"] == out[""] == []
    failing, total = out["calls"]
    assert failing == 11 and total == failing + 1
