"""Exceptions and warnings of quorvantis_fast.

The native engine looks these classes up by name at the moment it raises, so
the names here are part of its interface.

Errors derive from ``QuorvantisException``. The two control-flow signals,
``StopTest`` (a test case ended early) and ``UnsatisfiedAssumption`` (an
example was rejected), derive from ``BaseException`` instead, so that a test's
``except Exception:`` does not swallow them; so does ``FlakyBaseFailure``,
which holds a test's ``BaseException`` (see there).
"""

__all__ = [
    "QuorvantisException",
    "InvalidArgument",
    "ResolutionFailed",
    "Frozen",
    "ChoiceTooLarge",
    "Unsatisfiable",
    "FailedHealthCheck",
    "Flaky",
    "FlakyFailure",
    "FlakyBaseFailure",
    "DeadlineExceeded",
    "StopTest",
    "UnsatisfiedAssumption",
    "QuorvantisWarning",
    "NonInteractiveExampleWarning",
    "DatabaseErrorWarning",
]


class QuorvantisException(Exception):
    """Base class of the errors raised by quorvantis_fast."""


class InvalidArgument(QuorvantisException, TypeError):
    """A strategy, setting or function was called with an invalid argument."""


class ResolutionFailed(InvalidArgument):
    """A type could not be turned into a strategy."""


class Frozen(QuorvantisException):
    """A finished test-case record was asked to change."""


class ChoiceTooLarge(QuorvantisException):
    """A choice index does not fit the choice type's order."""


class Unsatisfiable(QuorvantisException):
    """Not enough valid examples could be generated."""


class FailedHealthCheck(QuorvantisException):
    """A health check of the run failed."""


class Flaky(QuorvantisException):
    """A test behaved differently when run again with the same input."""


class FlakyBaseFailure(BaseExceptionGroup):
    """A failure that did not reproduce, among whose exceptions is one that
    is no ``Exception``: a ``GeneratorExit``, or a framework's cancellation,
    raised by the test on one call only.

    Python lets no ``Exception`` hold such an exception (an ``except
    Exception:`` would swallow it), so this one is no ``Flaky``; catch both
    kinds with ``except FlakyBaseFailure``. Like ``BaseExceptionGroup``,
    called with ordinary exceptions only it makes a ``FlakyFailure``.
    """

    def __new__(cls, message, exceptions):
        exceptions = list(exceptions)
        if cls is FlakyBaseFailure and all(isinstance(e, Exception) for e in exceptions):
            cls = FlakyFailure
        return super().__new__(cls, message, exceptions)

    def derive(self, excs):
        return type(self)(self.message, excs)


class FlakyFailure(FlakyBaseFailure, ExceptionGroup, Flaky):
    """A failure that did not reproduce; carries the exceptions seen."""


class StopTest(BaseException):
    """Ends the current test case; carries the record's ``testcounter``."""

    def __init__(self, testcounter):
        super().__init__(testcounter)
        self.testcounter = testcounter


class UnsatisfiedAssumption(BaseException):
    """The current example does not meet an assumption and is rejected."""

    def __init__(self, reason=None):
        super().__init__(*(() if reason is None else (reason,)))
        self.reason = reason


class QuorvantisWarning(QuorvantisException, Warning):
    """Base class of the warnings issued by quorvantis_fast."""


class NonInteractiveExampleWarning(QuorvantisWarning):
    """``.example()`` was used outside an interactive session."""


class DatabaseErrorWarning(QuorvantisWarning):
    """A call of the example database failed: failing examples may be neither
    kept nor replayed. Issued once per run, for the first such error."""


class DeadlineExceeded(QuorvantisException):
    """An example took longer than the ``deadline`` setting allows."""

    def __init__(self, runtime_ms, deadline_ms):
        super().__init__(
            f"Test took {runtime_ms:.2f} ms, which exceeds the deadline of {deadline_ms:.2f} ms. "
            "Make the test faster, or raise the deadline (deadline=None turns it off)")
        self.runtime_ms = runtime_ms
        self.deadline_ms = deadline_ms

    def __reduce__(self):
        return type(self), (self.runtime_ms, self.deadline_ms)
