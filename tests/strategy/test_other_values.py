"""uuids, ip_addresses, emails, randoms, functions, composite, data, can_hash."""

import ipaddress
import random
import re
import uuid

import pytest
from builders_helpers import draws, record
from qf_testing import run_python

from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument, StopTest

st = _engine


def message_of(call):
    with pytest.raises(InvalidArgument) as e:
        call()
    return str(e.value)


class TestUuids:
    @pytest.mark.parametrize("version", [1, 2, 3, 4, 5])
    def test_values_have_the_asked_version(self, version):
        assert {u.version for u in draws(st.uuids(version=version), 50)} == {version}

    def test_the_nil_uuid_only_with_allow_nil(self):
        assert record_for([0]).draw(st.uuids()).int != 0
        assert record_for([0]).draw(st.uuids(allow_nil=True)) == uuid.UUID(int=0)

    def test_values_spread_over_the_whole_range(self):
        values = draws(st.uuids(), 300)
        assert len(set(values)) > 250
        assert any(u.int >= 2**64 for u in values)

    def test_argument_errors(self):
        assert message_of(lambda: st.uuids(allow_nil=1)) == "allow_nil must be a boolean value, got allow_nil=1"
        for v in (0, 6):
            assert message_of(lambda: st.uuids(version=v)) == (
                f"version={v} is not valid; use a version between 1 and 5, or None"
            )
        assert message_of(lambda: st.uuids(version=4, allow_nil=True)) == (
            "The nil UUID is not of any version, so you must use version=None"
        )
        # A version that is no small unsigned integer fails its conversion.
        with pytest.raises(OverflowError):
            st.uuids(version=300)
        with pytest.raises(TypeError, match="version"):
            st.uuids(version="4")
        with pytest.raises(TypeError):
            st.uuids(4)

    def test_none_means_absent(self):
        assert draws(st.uuids(version=None, allow_nil=None), 20) == draws(st.uuids(), 20)

    def test_repr(self):
        assert repr(st.uuids(version=3)) == "uuids()"


def record_for(choices):
    return _engine.BrindlemarData.for_choices(choices)


class TestIpAddresses:
    def test_versions(self):
        assert {type(a) for a in draws(st.ip_addresses(v=4), 30)} == {ipaddress.IPv4Address}
        assert {type(a) for a in draws(st.ip_addresses(v=6), 30)} == {ipaddress.IPv6Address}
        assert {type(a) for a in draws(st.ip_addresses(), 60)} == {
            ipaddress.IPv4Address,
            ipaddress.IPv6Address,
        }

    def test_either_version_draws_the_family_first(self):
        r = record(3)
        r.draw(st.ip_addresses())
        assert [type(c) for c in r.choices] == [bool, int]
        r = record(3)
        r.draw(st.ip_addresses(v=4))
        assert [type(c) for c in r.choices] == [int]

    @pytest.mark.parametrize("network", ["192.168.7.4/30", ipaddress.ip_network("2001:db8::/126")])
    def test_a_network_bounds_the_addresses_including_its_ends(self, network):
        net = ipaddress.ip_network(network)
        assert set(draws(st.ip_addresses(network=network), 200)) == set(net)

    def test_argument_errors(self):
        assert message_of(lambda: st.ip_addresses(v=True)) == "v=1, but only v=4 or v=6 are valid."
        assert message_of(lambda: st.ip_addresses(v=5)) == "v=5, but only v=4 or v=6 are valid."
        assert message_of(lambda: st.ip_addresses(v=2**70)) == f"v={2**70}, but only v=4 or v=6 are valid."
        assert message_of(lambda: st.ip_addresses(v="4")) == "v='4', but only v=4 or v=6 are valid."
        assert message_of(lambda: st.ip_addresses(network="10.0.0.1/30")) == (
            "network='10.0.0.1/30' is not a valid IP network."
        )
        assert message_of(lambda: st.ip_addresses(network=object)) == (
            "network=<class 'object'> is not a valid IP network."
        )
        assert message_of(lambda: st.ip_addresses(v=6, network="10.0.0.0/30")) == (
            "v=6 is incompatible with network='10.0.0.0/30'"
        )

    def test_v_checked_before_network(self):
        assert message_of(lambda: st.ip_addresses(v=5, network="bad")).startswith("v=5")


class TestEmails:
    def test_shape(self):
        shape = re.compile(r"[a-z0-9]{1,10}@[a-z0-9]{1,10}\.test")
        values = draws(st.emails(), 200)
        assert all(shape.fullmatch(v) for v in values)
        assert len(set(values)) > 150

    def test_each_call_is_a_new_strategy(self):
        assert st.emails() is not st.emails()
        assert repr(st.emails()).startswith("tuples(text(), text()).map(")


class TestRandoms:
    def test_values_are_random_objects_driven_by_the_test_case(self):
        values = draws(st.randoms(), 5)
        assert all(isinstance(r, random.Random) for r in values)
        again = draws(st.randoms(), 5)
        assert [r.random() for r in values] == [r.random() for r in again]

    def test_flags_must_be_bools(self):
        assert message_of(lambda: st.randoms(note_method_calls=1)) == (
            "Expected note_method_calls to be a bool, but got 1"
        )
        assert message_of(lambda: st.randoms(note_method_calls=0, use_true_random="x")) == (
            "Expected note_method_calls to be a bool, but got 0"
        )
        assert message_of(lambda: st.randoms(use_true_random="x")) == (
            "Expected use_true_random to be a bool, but got 'x'"
        )

    def test_true_random_is_a_plain_random(self):
        (r,) = draws(st.randoms(use_true_random=True), 1)
        assert type(r) is random.Random


class TestFunctions:
    def test_drawn_functions_draw_their_results_without_notes(self):
        def like(a, b=0):
            pass

        r = record(1)
        f = r.draw(st._functions_strategy(like, st.uuids(version=1), False))
        assert f(1).version == 1
        with pytest.raises(TypeError):
            f()
        assert not getattr(r, "_data_draws", None)

    def test_pure_must_be_a_bool(self):
        with pytest.raises(TypeError, match="pure"):
            st._functions_strategy(len, st.uuids(), 1)

    def test_repr(self):
        assert repr(st._functions_strategy(len, st.uuids(), True)) == (
            "functions(like=len, returns=uuids(), pure=True)"
        )


class TestComposite:
    def test_the_function_gets_the_record_draw_then_its_arguments(self):
        def function(draw, *args, **kwargs):
            return draw.__self__, draw(st.uuids(version=5)).version, args, kwargs

        r = record(0)
        owner, version, args, kwargs = r.draw(st._composite_strategy(function, (1, 2), {"k": 3}))
        assert owner is r and version == 5
        assert args == (1, 2) and kwargs == {"k": 3}

    @pytest.mark.parametrize("args, kwargs", [([1], {}), ((), [("k", 1)])])
    def test_malformed_stored_arguments_fail_at_draw(self, args, kwargs):
        s = st._composite_strategy(lambda draw, *a, **k: None, args, kwargs)
        with pytest.raises(TypeError):
            record(0).draw(s)

    def test_errors_of_the_function_pass_unchanged(self):
        def function(draw):
            raise KeyError("mine")

        with pytest.raises(KeyError, match="mine"):
            record(0).draw(st._composite_strategy(function, (), {}))


class TestData:
    def test_draws_a_handle_on_the_record(self):
        r = record(0)
        handle = r.draw(st.data())
        assert handle.cd is r and handle.brindlemar_data is r
        assert r.choices == ()

    def test_data_cannot_be_mapped(self):
        for method in ("map", "flatmap", "filter"):
            with pytest.raises(InvalidArgument, match=f"Cannot call {method} on a DataStrategy"):
                getattr(st.data(), method)(len)

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

    def test_a_non_strategy_is_refused(self):
        handle = record(0).draw(st.data())
        with pytest.raises(InvalidArgument, match="Expected a SearchStrategy"):
            handle.draw(5)

    def test_example_is_refused(self):
        with pytest.raises(InvalidArgument, match=r"Cannot call example\(\) on st.data\(\)"):
            st.data().example()


class TestCanHash:
    def test_answers(self):
        class Unhashable:
            def __hash__(self):
                raise ValueError("no")

        assert st.can_hash(1) is True and st.can_hash((1, "a")) is True
        assert st.can_hash([]) is False and st.can_hash(Unhashable()) is False

    def test_an_interrupt_is_not_swallowed(self):
        class Interrupting:
            def __hash__(self):
                raise KeyboardInterrupt

        with pytest.raises(KeyboardInterrupt):
            st.can_hash(Interrupting())


def test_stop_test_passes_through_every_draw():
    # A record that has no more choices ends the test case; nothing
    # swallows its StopTest.
    for s in (st.uuids(), st.ip_addresses(), st.emails(), st.builds(lambda u: u, st.uuids())):
        with pytest.raises(StopTest):
            record_for([]).draw(s)
