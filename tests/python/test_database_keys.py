"""Which stored failures each test finds again."""

import functools
import textwrap
from unittest import mock

import pytest

from qf_testing import run_module, run_pytest
from quorvantis_fast import given, settings, st

USER_TESTS = """
    '''>>> helper(20)'''
    import os, unittest, pytest
    from quorvantis_fast import given, st
    from quorvantis_fast.stateful import RuleBasedStateMachine, rule, run_state_machine_as_test
    ints = given(x=st.integers(0, 1000))

    @pytest.fixture(autouse=True)
    def elsewhere(tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)

    def check(limit, x):
        with open(os.path.join(os.path.dirname(__file__), "log"), "a") as log:
            log.write(f"{limit} {x} {os.environ.get('PYTEST_CURRENT_TEST', 'unittest').split()[0]}\\n")
        assert x < limit

    test_below = pytest.mark.parametrize("limit", [10, 500])(ints(check))
    helper = ints(check)  # called by tests, each with its own limit
    @pytest.mark.parametrize("limit", [10, 500])
    def test_calls_helper(limit):
        helper(limit)
    def make(n):
        return ints(lambda x: check(n, x))
    test_a, test_b = make(10), make(500)

    class Base:  # run by pytest, then by unittest
        test_x = ints(lambda self, x: check(self.limit, x))
    class TestLow(Base):
        limit = 10
    class TestHigh(Base, unittest.TestCase):
        limit = 500
    class TestTiny(Base, unittest.TestCase):
        limit = 5

    class Limit:  # pytest's id of it holds its address
        '''>>> helper(30)'''
        def __init__(self, n):
            self.n = n
    @pytest.mark.parametrize("limit", [Limit(10), Limit(500)], ids=str)
    @pytest.mark.parametrize("inner", [False, True])
    def test_made_inside(limit, inner):
        if inner:
            ints(lambda x: check(limit.n, x))()
        else:
            class Machine(RuleBasedStateMachine):
                step = rule(x=st.integers(0, 1000))(lambda self, x: check(limit.n, x))
            def machine():
                return Machine()
            run_state_machine_as_test(machine)
"""


# Runs each function's body on a thread of its own, as some plugins do.
ON_A_THREAD = """
    import concurrent.futures, pytest

    def pytest_pyfunc_call(pyfuncitem):
        args = {a: pyfuncitem.funcargs[a] for a in pyfuncitem._fixtureinfo.argnames}
        with concurrent.futures.ThreadPoolExecutor(1) as pool:
            pool.submit(pyfuncitem.obj, **args).result()  # raises what the body raised
        return True
    class CallsHelper(pytest.Item):  # and an item of its own kind calls the helper
        runtest = lambda self: self.parent.obj.helper(200)
    def pytest_pycollect_makeitem(collector, name):
        return CallsHelper.from_parent(collector, name="calls_helper") if name == "helper" else None
"""


def test_each_test_replays_its_own_failure_from_the_project_folder(tmp_path):
    pytest.importorskip("xdist")
    (tmp_path / "test_user.py").write_text(textwrap.dedent(USER_TESTS))
    (tmp_path / "conftest.py").write_text(textwrap.dedent(ON_A_THREAD))

    def first_calls(runner, *args):  # the first x that each test and limit met
        (tmp_path / "log").write_text("")
        done, first = runner(tmp_path, *args), {}
        for line in (tmp_path / "log").read_text().splitlines():
            limit, x, node = line.split()
            first.setdefault((node, limit), x)
        return done, first

    # Each run replays what the runs before stored, in another process, in
    # several (but for ids that differ between processes, which xdist
    # refuses), and under unittest, whose keys are those of pytest's nodes.
    xdist = ["-p", "xdist", "-n", "3", "-k", "not made_inside"]
    for run, (args, tests) in enumerate([([], 16), (xdist, 12), ([], 16)]):
        done, first = first_calls(run_pytest, "test_user.py", "--doctest-modules", *args)
        assert f"{tests} failed" in done.stdout, done.stdout + done.stderr
        assert run == 0 or len(first) == tests and all(limit == x for (_, limit), x in first.items()), first
    done, first = first_calls(run_module, "unittest", "test_user")
    assert "FAILED (failures=2)" in done.stderr, done.stderr
    assert first == {("unittest", "500"): "500", ("unittest", "5"): "5"}


def test_callable_objects_and_bound_methods_store_nothing():
    db = mock.Mock(fetch=lambda key: [])  # one class, or one function, for many of them
    class Below:
        def __call__(self, x):
            assert x < 10
    for test in Below(), functools.partial(Below().__call__):
        with pytest.raises(AssertionError):
            settings(database=db)(given(st.integers(0, 1000))(test))()
    assert db.method_calls == []
