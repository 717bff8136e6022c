class QuorvantisException(Exception):
    pass


class InvalidArgument(QuorvantisException, TypeError):
    pass


class Unsatisfiable(QuorvantisException):
    pass


class FailedHealthCheck(QuorvantisException):
    pass


class Flaky(QuorvantisException):
    pass


class FlakyFailure(ExceptionGroup, Flaky):
    def __new__(cls, message, exceptions):
        return super().__new__(cls, message, list(exceptions))


class QuorvantisWarning(QuorvantisException, Warning):
    pass


class NonInteractiveExampleWarning(QuorvantisWarning):
    pass
