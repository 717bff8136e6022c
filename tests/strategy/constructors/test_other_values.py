"""uuids, ip_addresses, emails, randoms, functions, composite, data, can_hash."""

import inspect
import ipaddress
import random
import re
import sys
import uuid

import pytest
from qf_testing import draws, random_record as record, run_python

from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument, StopTest


def message(call):
    with pytest.raises(InvalidArgument) as e:
        call()
    return str(e.value)


def replaying(choices):
    return st.BrindlemarData.for_choices(choices)


class TestUuids:
    def test_values(self):
        for version in range(1, 6):
            assert {u.version for u in draws(st.uuids(version=version), 30)} == {version}
        values = draws(st.uuids(), 300)
        assert len(set(values)) > 250 and any(u.int >= 2**64 for u in values)
        assert draws(st.uuids(version=None, allow_nil=None), 20) == draws(st.uuids(), 20)

    def test_the_nil_uuid_only_with_allow_nil(self):
        assert replaying([0]).draw(st.uuids()).int != 0
        assert replaying([0]).draw(st.uuids(allow_nil=True)) == uuid.UUID(int=0)

    def test_argument_errors(self):
        assert message(lambda: st.uuids(allow_nil=1)) == "allow_nil must be a boolean value, got allow_nil=1"
        for v in (0, 6):
            assert message(lambda: st.uuids(version=v)) == (
                f"version={v} is not valid; use a version between 1 and 5, or None"
            )
        assert message(lambda: st.uuids(version=4, allow_nil=True)) == (
            "The nil UUID is not of any version, so you must use version=None"
        )
        with pytest.raises(OverflowError):
            st.uuids(version=300)
        with pytest.raises(TypeError, match="version"):
            st.uuids(version="4")


class TestIpAddresses:
    def test_versions(self):
        assert {type(a) for a in draws(st.ip_addresses(v=4), 30)} == {ipaddress.IPv4Address}
        assert {type(a) for a in draws(st.ip_addresses(v=6), 30)} == {ipaddress.IPv6Address}
        assert len({type(a) for a in draws(st.ip_addresses(), 60)}) == 2
        for s, shape in ((st.ip_addresses(), [bool, int]), (st.ip_addresses(v=4), [int])):
            r = record(3)
            r.draw(s)
            assert [type(c) for c in r.choices] == shape

    @pytest.mark.parametrize("network", ["192.168.7.4/30", ipaddress.ip_network("2001:db8::/126")])
    def test_a_network_bounds_the_addresses_including_its_ends(self, network):
        assert set(draws(st.ip_addresses(network=network), 200)) == set(ipaddress.ip_network(network))

    def test_argument_errors(self):
        for v, shown in ((True, "1"), (5, "5"), (2**70, str(2**70)), ("4", "'4'")):
            assert message(lambda: st.ip_addresses(v=v)) == f"v={shown}, but only v=4 or v=6 are valid."
        assert message(lambda: st.ip_addresses(v=5, network="bad")).startswith("v=5")
        for bad in ("10.0.0.1/30", object):
            assert message(lambda: st.ip_addresses(network=bad)) == f"network={bad!r} is not a valid IP network."
        assert message(lambda: st.ip_addresses(v=6, network="10.0.0.0/30")) == (
            "v=6 is incompatible with network='10.0.0.0/30'"
        )


def test_emails_have_their_shape():
    values = draws(st.emails(), 200)
    assert all(re.fullmatch(r"[a-z0-9]{1,10}@[a-z0-9]{1,10}\.test", v) for v in values)
    assert len(set(values)) > 150
    assert st.emails() is not st.emails()


class TestRandomsAndFunctions:
    def test_randoms_are_driven_by_the_test_case(self):
        values, again = draws(st.randoms(), 5), draws(st.randoms(), 5)
        assert all(isinstance(r, random.Random) for r in values)
        assert [r.random() for r in values] == [r.random() for r in again]
        assert type(draws(st.randoms(use_true_random=True), 1)[0]) is random.Random

    def test_random_flags_must_be_bools(self):
        assert message(lambda: st.randoms(note_method_calls=0, use_true_random="x")) == (
            "Expected note_method_calls to be a bool, but got 0"
        )
        assert message(lambda: st.randoms(use_true_random="x")) == "Expected use_true_random to be a bool, but got 'x'"

    def test_drawn_functions_draw_their_results_without_notes(self):
        def like(a, b=0):
            pass

        r = record(1)
        f = r.draw(st._functions_strategy(like, st.uuids(version=1), True))
        assert f([1]).version == 1 and f([1]) is f([1], 0) is f(b=0, a=[1]) != f([1], b=2)
        assert inspect.signature(f) == inspect.signature(like)
        with pytest.raises(TypeError):
            f()
        assert not getattr(r, "_data_draws", None)
        with pytest.raises(TypeError, match="pure"):
            st._functions_strategy(len, st.uuids(), 1)


class TestComposite:
    def test_the_function_gets_the_record_draw_then_its_arguments(self):
        def function(draw, *args, **kwargs):
            return draw.__self__, draw(st.uuids(version=5)).version, args, kwargs

        r = record(0)
        assert r.draw(st._composite_strategy(function, (1, 2), {"k": 3})) == (r, 5, (1, 2), {"k": 3})

    @pytest.mark.parametrize("args, kwargs", [([1], {}), ((), [("k", 1)])])
    def test_malformed_stored_arguments_fail_at_draw(self, args, kwargs):
        s = st._composite_strategy(lambda draw, *a, **k: None, args, kwargs)
        with pytest.raises(TypeError):
            record(0).draw(s)


class TestData:
    def test_draws_a_handle_on_the_record_without_a_choice(self):
        r = record(0)
        handle = r.draw(st.data())
        assert handle.cd is r and r.choices == ()
        with pytest.raises(InvalidArgument, match="Expected a SearchStrategy"):
            handle.draw(5)
        with pytest.raises(InvalidArgument, match=r"Cannot call map on a DataStrategy"):
            st.data().map(len)

    def test_interactive_draws_leave_numbered_notes(self):
        done = run_python(
            """
            import random
            from quorvantis_fast import _engine as st
            r = st.BrindlemarData(random=random.Random(0))
            data = r.draw(st.data())
            first = data.draw(st.uuids(version=4))
            second = data.draw(st.ip_addresses(v=4), label="size")
            notes = data._drawn_notes
            assert notes is r._data_draws, notes
            assert notes == [f"Draw 1: {first!r}", f"Draw 2 (size): {second!r}"], notes
            try:
                data.draw(st._composite_strategy(lambda draw: 1 / 0, (), {}))
            except ZeroDivisionError:
                pass
            assert len(notes) == 2, notes
            print("ok")
            """,
            upstream=True,
        )
        assert done.stdout.strip() == "ok", done.stderr


def test_can_hash():
    class Unhashable:
        def __hash__(self):
            raise ValueError("no")

    class Interrupting:
        def __hash__(self):
            raise KeyboardInterrupt

    assert st.can_hash(1) is True and st.can_hash((1, "a")) is True
    assert st.can_hash([]) is False and st.can_hash(Unhashable()) is False
    with pytest.raises(KeyboardInterrupt):
        st.can_hash(Interrupting())


def test_an_exhausted_record_stops_every_draw():
    for s in (st.uuids(), st.ip_addresses(), st.emails(), st.builds(lambda u: u, st.uuids()), st.complex_numbers()):
        with pytest.raises(StopTest):
            replaying([]).draw(s)


def test_draws_release_what_they_take():
    args, kwargs = (1, 2), {"k": 3}

    def function(draw, *a, **k):
        return None

    def failing(*a, **k):
        raise TypeError("always")

    strategies = [
        st._composite_strategy(function, args, kwargs),
        st.builds(function, st.uuids(), x=st.ip_addresses()),
        st.builds(failing, st.uuids()),
        st.recursive(st.uuids(), lambda s: st.builds(function, s)),
    ]
    watched = [args, kwargs, function, failing]
    before = [sys.getrefcount(o) for o in watched]
    for s in strategies:
        for seed in range(100):
            try:
                record(seed).draw(s)
            except TypeError:
                pass
    assert [sys.getrefcount(o) for o in watched] == before
