"""The engine's observable behaviour, case by case, and the file that pins it.

Each case runs the engine directly with fixed seeds and returns plain JSON
values: the choices each example drew (type, value, constraints), the drawn
values, test-call counts, shrink results and reports, exception texts and
database writes. ``golden.json`` holds one line per case.

    python tests/golden/make_golden.py          # rewrite golden.json
    python tests/golden/make_golden.py --check  # compare, print the diff

Everything printed here must be the same on every interpreter and under any
hash seed: sets are shown sorted, no ids, no timings.
"""

import contextlib
import dataclasses
import datetime
import hashlib
import json
import math
import os
import struct
import sys
import time
import typing

from quorvantis_fast import _engine as qf

GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "golden.json")
SEEDS = (0, 1, 2024)
EXAMPLES = 12
FILTER_TOO_MUCH = "filter_too_much"


# ---------------------------------------------------------------------------
# Showing values and choices


def show(value):
    """A repr that is the same on every run: sets sorted, floats exact."""
    if isinstance(value, float):
        return float_text(value)
    if isinstance(value, (set, frozenset)):
        items = sorted(show(v) for v in value)
        return f"{type(value).__name__}({{{', '.join(items)}}})"
    if isinstance(value, list):
        return "[" + ", ".join(show(v) for v in value) + "]"
    if isinstance(value, tuple):
        inner = ", ".join(show(v) for v in value)
        return "(" + inner + ("," if len(value) == 1 else "") + ")"
    if isinstance(value, dict):
        return "{" + ", ".join(f"{show(k)}: {show(v)}" for k, v in value.items()) + "}"
    if isinstance(value, bytes):
        return "b:" + value.hex()
    return repr(value)


def float_text(x):
    if math.isnan(x):
        return "nan:" + struct.pack(">d", x).hex()
    return repr(x)


def constraints_text(constraints):
    parts = []
    for key in sorted(constraints):
        text = show(constraints[key])
        if len(text) > 120:  # long interval sets: a digest keeps lines short
            text = f"<{len(text)} chars sha {hashlib.sha256(text.encode()).hexdigest()[:16]}>"
        parts.append(f"{key}={text}")
    return ",".join(parts)


class ChoiceTable:
    """Choice nodes as short strings; their constraints numbered per case."""

    def __init__(self):
        self.constraints = []

    def node(self, node):
        text = constraints_text(node.constraints)
        if text not in self.constraints:
            self.constraints.append(text)
        forced = "!" if node.was_forced else ""
        return f"{node.type[0]}{self.constraints.index(text)}{forced}:{show(node.value)}"


def error_text(exc):
    """Type, message and notes of an exception, with the notes of any group."""
    out = {"type": type(exc).__name__, "message": str(exc)}
    notes = getattr(exc, "__notes__", None)
    if notes:
        out["notes"] = list(notes)
    if isinstance(exc, BaseExceptionGroup):
        out["group"] = [error_text(e) for e in exc.exceptions]
    return out


def failures_text(result):
    if result is None:
        return None
    return [{"args": show(args), "error": error_text(exc)} for args, exc in result]


def digest(items):
    return hashlib.sha256(json.dumps(items).encode()).hexdigest()[:20]


def run(test, strategies, seed, **kw):
    """run_native, with its exception (a health check) as a result."""
    try:
        return {"failures": failures_text(qf.run_native(test, strategies, seed=seed, **kw))}
    except Exception as exc:  # noqa: BLE001 - the raised error is the result
        return {"raised": error_text(exc)}


# ---------------------------------------------------------------------------
# Generation: values, choices and calls


def generation(make, examples=EXAMPLES, **kw):
    """Per seed: the values of a plain run, and the choices of each example
    read through a data() argument beside the strategy."""

    def case():
        out = {}
        for seed in SEEDS:
            values = []
            plain = run(lambda *a: values.append(show(a[0])), [make()], seed,
                        max_examples=examples, **kw)
            table = ChoiceTable()
            choices, seen = [], []

            def with_data(value, data):
                seen.append(show(value))
                choices.append(" ".join(table.node(n) for n in data.brindlemar_data.nodes))

            traced = run(with_data, [make(), qf.data()], seed, max_examples=examples, **kw)
            entry = {"calls": len(values), "values": values, "run": plain,
                     "constraints": table.constraints, "choices": choices}
            if seen != values or traced != plain:
                entry["with_data"] = {"values": seen, "run": traced}
            out[str(seed)] = entry
        return out

    return case


def many(make, examples, test=None, **kw):
    """A long run: call count, a digest of all values and the first few."""

    def case():
        out = {}
        for seed in SEEDS:
            values = []

            def body(value):
                values.append(show(value))
                if test is not None:
                    test(value)

            result = run(body, [make()], seed, max_examples=examples, **kw)
            out[str(seed)] = {"calls": len(values), "distinct": len(set(values)),
                              "digest": digest(values), "first": values[:6], "run": result}
        return out

    return case


@dataclasses.dataclass
class Point:
    x: int
    y: int
    label: str = "p"


def third(x):
    return x % 3 == 0


def positive(x):
    return x > 0


def tree(children):
    return qf.one_of(qf.lists(children, max_size=3), qf.tuples(children, children))


def interactive(data):
    n = data.draw(qf.integers(0, 4))
    words = [data.draw(qf.text(max_size=3)) for _ in range(n)]
    flag = data.draw(qf.booleans())
    toward = data.brindlemar_data.draw_integer(-100, 100, shrink_towards=7)
    return (n, words, data.draw(qf.floats(0, 1)) if flag else None, toward)


def interactive_case():
    """data() draws inside the test: values and the record's choices."""
    out = {}
    for seed in SEEDS:
        table = ChoiceTable()
        values, choices = [], []

        def body(data):
            values.append(show(interactive(data)))
            choices.append(" ".join(table.node(n) for n in data.brindlemar_data.nodes))

        result = run(body, [qf.data()], seed, max_examples=EXAMPLES)
        out[str(seed)] = {"calls": len(values), "values": values, "run": result,
                          "constraints": table.constraints, "choices": choices}
    return out


GENERATION = {
    "integers_bounded": lambda: qf.integers(0, 10**6),
    "integers_negative_bounds": lambda: qf.integers(-50, -3),
    "integers_unbounded": lambda: qf.integers(),
    "integers_half_bounded": lambda: qf.integers(min_value=100),
    "floats_default": lambda: qf.floats(),
    "floats_bounded": lambda: qf.floats(-2.5, 1e6),
    "floats_no_nan": lambda: qf.floats(allow_nan=False, allow_infinity=False),
    "floats_width_32": lambda: qf.floats(width=32),
    "booleans": lambda: qf.booleans(),
    "sampled_from": lambda: qf.sampled_from(["a", "b", 3, None, 4.5]),
    "one_of": lambda: qf.one_of(qf.integers(0, 9), qf.text(max_size=2), qf.none()),
    "tuples": lambda: qf.tuples(qf.integers(), qf.booleans(), qf.binary(max_size=4)),
    "lists_unbounded": lambda: qf.lists(qf.integers()),
    "lists_bounded": lambda: qf.lists(qf.integers(0, 100), min_size=2, max_size=5),
    "lists_unique": lambda: qf.lists(qf.integers(0, 20), unique=True),
    "lists_unique_by": lambda: qf.lists(qf.tuples(qf.integers(0, 5), qf.booleans()),
                                        unique_by=lambda t: t[0]),
    "dictionaries": lambda: qf.dictionaries(qf.text(max_size=3), qf.integers(0, 9), max_size=4),
    "sets_of_integers": lambda: qf.sets(qf.integers(-10, 10), max_size=6),
    "frozensets_of_text": lambda: qf.frozensets(qf.text("ab", max_size=3), max_size=4),
    "text_default": lambda: qf.text(),
    "text_categories": lambda: qf.text(qf.characters(categories=["Lu", "Nd"], max_codepoint=0x24F), max_size=8),
    "text_codepoint_range": lambda: qf.text(qf.characters(min_codepoint=0x20, max_codepoint=0x7E)),
    "text_alphabet_string": lambda: qf.text("xyz!", min_size=1, max_size=6),
    "binary": lambda: qf.binary(),
    "binary_bounded": lambda: qf.binary(min_size=2, max_size=3),
    "map": lambda: qf.integers(0, 100).map(lambda x: x * 2 + 1),
    "filter_many_rejections": lambda: qf.integers().filter(third),
    "filter_to_bounds": lambda: qf.integers(-100, 100).filter(positive),
    "filter_lambda_bound": lambda: qf.integers().filter(lambda x: x >= 10),
    "flatmap": lambda: qf.integers(0, 4).flatmap(lambda n: qf.lists(qf.just(n), min_size=n, max_size=n)),
    "recursive": lambda: qf.recursive(qf.integers(0, 9), tree, max_leaves=10),
    "builds_dataclass": lambda: qf.builds(Point, qf.integers(0, 9), y=qf.integers(-5, 5)),
    "builds_inferred": lambda: qf.builds(Point),
    "from_type_int": lambda: qf.from_type(int),
    "from_type_list_int": lambda: qf.from_type(list[int]),
    "from_type_tuple_int_str": lambda: qf.from_type(tuple[int, str]),
    "from_type_optional_int": lambda: qf.from_type(typing.Optional[int]),
    "dates": lambda: qf.dates(),
    "dates_bounded": lambda: qf.dates(datetime.date(2020, 1, 1), datetime.date(2020, 12, 31)),
    "datetimes": lambda: qf.datetimes(),
    "just_and_none": lambda: qf.tuples(qf.just(7), qf.none()),
}

CASES = {f"gen/{name}": generation(make) for name, make in GENERATION.items()}

CASES["gen/data_interactive"] = interactive_case
CASES["many/novelty_small_lists"] = many(lambda: qf.lists(qf.integers(0, 3), max_size=3), 300)
CASES["many/novelty_booleans"] = many(lambda: qf.booleans(), 100)
CASES["many/filter_third_200"] = many(lambda: qf.integers().filter(third), 200)
CASES["many/filter_one_value"] = many(lambda: qf.integers(0, 1000).filter(lambda x: x == 7), 50)
CASES["many/filter_too_much"] = many(lambda: qf.integers().filter(lambda x: x % 1000 == 7), 50)
CASES["many/filter_too_much_health_check"] = many(lambda: qf.integers().filter(lambda x: False), 50)
CASES["many/filter_too_much_suppressed"] = many(
    lambda: qf.integers(0, 1000).filter(lambda x: x < 2), 50,
    suppress_health_check=[FILTER_TOO_MUCH])
CASES["many/filter_unsatisfiable"] = many(
    lambda: qf.integers().filter(lambda x: False), 30, suppress_health_check=[FILTER_TOO_MUCH])


# ---------------------------------------------------------------------------
# Shrinking, reports and the database


class LoggingDatabase:
    """An InMemoryExampleDatabase that logs every call the engine makes."""

    def __init__(self, inner):
        self.inner = inner
        self.log = []

    def fetch(self, key):
        self.log.append(f"fetch {key.hex()}")
        return self.inner.fetch(key)

    def save(self, key, value):
        self.log.append(f"save {key.hex()} {value.hex()}")
        return self.inner.save(key, value)

    def delete(self, key, value):
        self.log.append(f"delete {key.hex()} {value.hex()}")
        return self.inner.delete(key, value)

    def move(self, src, dest, value):
        self.log.append(f"move {src.hex()} {dest.hex()} {value.hex()}")
        return self.inner.move(src, dest, value)


def counted(test):
    calls = [0]

    def body(*args):
        calls[0] += 1
        test(*args)

    return body, calls


def shrink_report():
    total_calls, total_shrinks, capped, passes = qf.shrink_report()
    return [total_calls, total_shrinks, capped, [list(p) for p in passes]]


@contextlib.contextmanager
def frozen_clock():
    # How often a shrink replaces its stored failure depends on time: with
    # the clock stopped, only the writes that do not are pinned.
    real, time.perf_counter = time.perf_counter, lambda: 0.0
    qf.set_use_py_clock(True)
    try:
        yield
    finally:
        qf.set_use_py_clock(False)
        time.perf_counter = real


def shrinking(make, test, seeds=SEEDS, **kw):
    """Per seed: the failure, calls, shrink report, minimal choices, database
    calls and stored bytes; then a second run replaying from that database,
    and a reproduce_native of the minimal choices."""

    @frozen_clock()
    def case():
        out = {}
        key = b"golden." + make.__name__.encode()
        for seed in seeds:
            db = LoggingDatabase(qf.InMemoryExampleDatabase())
            body, calls = counted(test)
            first = run(body, [make()], seed, database=db, db_key=key, **kw)
            entry = {"calls": calls[0], "run": first, "report": shrink_report(),
                     "minimal": [show(c) for c in qf.minimal_choices()],
                     "db_log": db.log,
                     "stored": sorted(v.hex() for v in db.inner.fetch(key))}
            replay_body, replay_calls = counted(test)
            db.log = []
            again = run(replay_body, [make()], seed + 1, database=db, db_key=key, **kw)
            entry["replay"] = {"calls": replay_calls[0], "run": again, "db_log": db.log}
            choices = qf.minimal_choices()
            reproduced = qf.reproduce_native(test, [make()], choices) if choices else None
            entry["reproduce"] = failures_text([reproduced] if reproduced else None)
            entry["bytes"] = qf.choices_to_bytes(choices).hex() if choices else None
            out[str(seed)] = entry
        return out

    return case


def fixed_list():
    return qf.lists(qf.integers(), min_size=50, max_size=50)


def sum_bound(xs):
    assert sum(xs) <= 1000, f"sum {sum(xs)} too big"


def finite_floats():
    return qf.floats(allow_nan=False, allow_infinity=False)


def float_property(x):
    assert x < 1.5, f"{x!r} is at least 1.5"


def words():
    return qf.text(min_size=1)


def text_property(s):
    if len(s) >= 2 and s[0] != s[1]:
        raise ValueError("two different first characters")


def pairs():
    return qf.tuples(qf.integers(), qf.integers(0, 1000))


def two_bugs(pair):
    a, b = pair
    if a > 10:
        raise ValueError("a too big")
    if b > 500:
        raise KeyError("b too big")


def small_lists():
    return qf.lists(qf.integers(0, 10**6))


def distinct_pair(xs):
    assert len(set(xs)) < 2, "two distinct elements"


def mixed():
    return qf.tuples(qf.dictionaries(qf.integers(0, 5), qf.text(max_size=4)), qf.booleans())


def mixed_property(value):
    d, flag = value
    assert not (flag and sum(len(v) for v in d.values()) > 3)


CASES["shrink/fixed_list_sum"] = shrinking(fixed_list, sum_bound, seeds=SEEDS[:2])
CASES["shrink/float"] = shrinking(finite_floats, float_property)
CASES["shrink/text"] = shrinking(words, text_property)
CASES["shrink/multiple_bugs"] = shrinking(pairs, two_bugs, report_multiple_bugs=True)
CASES["shrink/lists_distinct"] = shrinking(small_lists, distinct_pair)
CASES["shrink/dict_and_flag"] = shrinking(mixed, mixed_property)
def towards_fifty():
    return qf.data()


def at_least_ten(data):
    x = data.brindlemar_data.draw_integer(0, 1000, shrink_towards=50)
    assert x < 10, f"{x} is at least 10"


CASES["shrink/shrink_towards"] = shrinking(towards_fifty, at_least_ten)
CASES["shrink/max_shrinks_capped"] = shrinking(fixed_list, sum_bound, seeds=SEEDS[:1], max_shrinks=5)


def replays():
    """Fixed choice sequences replayed through strategies: whole, short,
    misaligned and out of range."""
    cases = [
        (lambda: qf.lists(qf.integers(0, 10)), [True, 5, True, 3, False]),
        (lambda: qf.lists(qf.integers(0, 10)), [True, 5]),
        (lambda: qf.lists(qf.integers(0, 10)), [7, 5, False]),
        (lambda: qf.lists(qf.integers(0, 10)), [True, 50, False]),
        (lambda: qf.text("abc"), ["cab"]),
        (lambda: qf.text("abc"), ["xyz"]),
        (lambda: qf.floats(0, 1), [2.5]),
        (lambda: qf.tuples(qf.booleans(), qf.integers()), [True, 2**80]),
        (lambda: qf.integers().filter(third), [4, 5, 6]),
        (lambda: qf.one_of(qf.integers(0, 3), qf.text("q")), [1, "qq"]),
    ]
    out = []
    for make, choices in cases:
        table = ChoiceTable()
        data = qf.BrindlemarData.for_choices(choices)
        try:
            drawn = show(data.draw(make()))
        except BaseException as exc:  # noqa: BLE001 - the record's StopTest is the result
            drawn = "raised " + type(exc).__name__
        out.append({"choices": [show(c) for c in choices], "drawn": drawn, "status": data.status,
                    "misaligned_at": show(data.misaligned_at), "constraints": table.constraints,
                    "nodes": " ".join(table.node(n) for n in data.nodes)})
    return out


CASES["replay/for_choices"] = replays


def bytes_round_trip():
    sequences = [[0, 1, -1, 2**70, True, False, 0.0, -0.0, 1.5, math.inf, "", "a\u00e9\U0001f600",
                  b"", b"\x00\xff"], [2**63 - 1, -(2**63)]]
    out = []
    for choices in sequences:
        data = qf.choices_to_bytes(choices)
        back = qf.choices_from_bytes(data)
        out.append({"hex": data.hex(), "back": [show(c) for c in back]})
    return out


CASES["bytes/choice_sequences"] = bytes_round_trip


# ---------------------------------------------------------------------------
# A state machine


def stateful_case():
    from quorvantis_fast.settings import settings
    from quorvantis_fast.stateful import RuleBasedStateMachine, invariant, rule, running

    class Counter(RuleBasedStateMachine):
        def __init__(self):
            self.total = 0
            self.items = []

        @rule(n=qf.integers(0, 9))
        def add(self, n):
            self.total += n
            self.items.append(n)

        @rule()
        def clear(self):
            self.items = []

        @rule(k=qf.integers(1, 3))
        def drop(self, k):
            del self.items[:k]

        @invariant()
        def bounded(self):
            assert self.total < 15 or len(self.items) < 3, f"total {self.total}"

    out = {}
    for seed in SEEDS:
        s = settings(max_examples=200)
        runner = qf.StatefulRunner(Counter, s, 0, None)
        body, calls = counted(runner)
        with running(final=False, verbosity=s.verbosity):
            first = run(body, [qf.data()], seed, max_examples=200)
        choices = qf.minimal_choices()
        entry = {"calls": calls[0], "run": first, "report": shrink_report(),
                 "minimal": [show(c) for c in choices]}
        if choices:
            with running(final=True, verbosity=s.verbosity):
                replayed = qf.reproduce_native(runner, [qf.data()], choices)
            entry["trace"] = failures_text([replayed] if replayed else None)
        out[str(seed)] = entry
    return out


CASES["stateful/counter"] = stateful_case


# ---------------------------------------------------------------------------
# The file


def compute(name):
    """The JSON text of one case, as its line in the golden file holds it."""
    return json.dumps(CASES[name](), sort_keys=True, ensure_ascii=True)


def dump(lines):
    body = ",\n".join(f"{json.dumps(name)}: {text}" for name, text in lines.items())
    return "{\n" + body + "\n}\n"


def load():
    with open(GOLDEN, encoding="utf-8") as f:
        stored = json.load(f)
    return {name: json.dumps(value, sort_keys=True, ensure_ascii=True) for name, value in stored.items()}


def main(argv):
    lines = {name: compute(name) for name in CASES}
    if "--check" in argv:
        stored = load()
        bad = [n for n in CASES if stored.get(n) != lines[n]] + [n for n in stored if n not in CASES]
        for name in bad:
            print(f"MISMATCH {name}")
        return 1 if bad else 0
    with open(GOLDEN, "w", encoding="utf-8") as f:
        f.write(dump(lines))
    print(f"wrote {len(lines)} cases to {GOLDEN}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
