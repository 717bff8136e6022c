import warnings

import pytest

from quorvantis_fast import errors


ERRORS = ["InvalidArgument", "ResolutionFailed", "Frozen", "ChoiceTooLarge", "Unsatisfiable",
          "FailedHealthCheck", "FlakyFailure"]


@pytest.mark.parametrize("name", ERRORS)
def test_errors_share_a_base_and_are_caught_as_exceptions(name):
    cls = getattr(errors, name)
    assert issubclass(cls, errors.QuorvantisException)
    assert issubclass(cls, Exception)


@pytest.mark.parametrize("name", ["InvalidArgument", "ResolutionFailed", "Frozen", "Unsatisfiable",
                                  "FailedHealthCheck"])
def test_message_errors_keep_their_message(name):
    with pytest.raises(getattr(errors, name), match="^went wrong$"):
        raise getattr(errors, name)("went wrong")


def test_choice_too_large_takes_no_argument():
    with pytest.raises(errors.ChoiceTooLarge):
        raise errors.ChoiceTooLarge()


def test_resolution_failure_is_an_invalid_argument():
    with pytest.raises(errors.InvalidArgument):
        raise errors.ResolutionFailed("cannot resolve")


class TestStopTest:
    def test_carries_the_testcounter(self):
        stop = errors.StopTest(41)
        assert stop.testcounter == 41
        assert stop.args == (41,)

    def test_is_not_swallowed_by_except_exception(self):
        def user_test():
            try:
                raise errors.StopTest(3)
            except Exception:
                return "swallowed"

        with pytest.raises(errors.StopTest) as info:
            user_test()
        assert info.value.testcounter == 3

    def test_unsatisfied_assumption_is_a_signal_too(self):
        assert not issubclass(errors.UnsatisfiedAssumption, Exception)
        assert issubclass(errors.UnsatisfiedAssumption, BaseException)


class TestFlakyFailure:
    def test_keeps_message_and_exceptions_in_order(self):
        first, second = ValueError("a"), KeyError("b")
        flaky = errors.FlakyFailure("Inconsistent results from replaying a test case!", [first, second])
        assert flaky.message == "Inconsistent results from replaying a test case!"
        assert list(flaky.exceptions) == [first, second]
        assert isinstance(flaky, errors.Flaky)

    def test_splits_into_flaky_failures(self):
        flaky = errors.FlakyFailure("m", [ValueError(1), KeyError(2)])
        match, rest = flaky.split(ValueError)
        assert type(match) is errors.FlakyFailure and type(rest) is errors.FlakyFailure
        assert [type(e) for e in match.exceptions] == [ValueError]

    def test_except_star_sees_the_inner_exceptions(self):
        caught = []
        try:
            raise errors.FlakyFailure("m", [ValueError(1)])
        except* ValueError as group:
            caught.extend(group.exceptions)
        assert [str(e) for e in caught] == ["1"]


def test_warning_classes_work_with_warnings_module():
    for cls in (errors.QuorvantisWarning, errors.NonInteractiveExampleWarning):
        with pytest.warns(cls, match="careful"):
            warnings.warn("careful", cls)
    assert issubclass(errors.NonInteractiveExampleWarning, errors.QuorvantisWarning)
    assert issubclass(errors.QuorvantisWarning, errors.QuorvantisException)


def test_all_names_exist():
    for name in errors.__all__:
        assert isinstance(getattr(errors, name), type)
