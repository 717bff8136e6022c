"""@reproduce_failure with a blob made for other draws than the test's."""
import base64

import pytest

from quorvantis_fast import _engine, given, reproduce_failure, st
from quorvantis_fast.errors import InvalidArgument
from quorvantis_fast.stateful import RuleBasedStateMachine, rule


def blob(*choices):
    return base64.b64encode(_engine.choices_to_bytes(list(choices))).decode("ascii")


@pytest.mark.parametrize("strategies, choices, says", [
    ({"x": st.text()}, [5], "choice 1 of 1 is an integer (5), but the test draws a string there"),
    ({"x": st.booleans()}, [5], "choice 1 of 1 is an integer (5), but the test draws a boolean there"),
    ({"x": st.integers(0, 10)}, [50], "choice 1 of 1, the integer 50, is outside what the test's draw"),
    ({"x": st.integers(0, 10), "y": st.integers(0, 10)}, [5], "the test draws more than the 1 choice given"),
    ({"x": st.integers(0, 10)}, [5, 6], "the test drew only 1 of the 2 choices given, and 1 is left over"),
    # cut short inside the repr at a whole character
    ({"x": st.integers()}, ["€" * 30], f"choice 1 of 1 is a string ('{'€' * 18}...), but the test draws an"),
    # a list's first "one more element?" is forced at min_size=1
    ({"x": st.lists(st.integers(), min_size=1)}, [False, 5, False],
     "choice 1 of 3, the boolean False, is not the True that the test's draw forces there"),
])
def test_a_blob_that_does_not_fit_the_tests_draws_is_refused(strategies, choices, says):
    @reproduce_failure(blob(*choices))
    @given(**strategies)
    def prop(x, y=None):
        raise ValueError("fails on any example")

    with pytest.raises(InvalidArgument, match="made for another test") as info:
        prop()
    assert f"prop: @reproduce_failure({blob(*choices)!r}) does not fit the draws of this test: {says}" in str(info.value)


def test_a_machine_refuses_the_blob_of_another_machine():
    class Machine(RuleBasedStateMachine):
        @rule(k=st.integers(0, 3))
        def add(self, k):
            pass

    with pytest.raises(InvalidArgument, match=r"this machine: choice 1 of 2 is a string \('zz'\), but the test draws"):
        reproduce_failure(blob("zz", 1))(Machine.TestCase)().runTest()
