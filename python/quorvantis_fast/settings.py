"""Settings of a property test."""

import datetime
import enum
import functools
import inspect
import operator
import os

from quorvantis_fast.errors import InvalidArgument

__all__ = ["HealthCheck", "Verbosity", "settings"]


class Verbosity(enum.IntEnum):
    quiet = 0
    normal = 1
    verbose = 2
    debug = 3

    def __repr__(self):
        return f"Verbosity.{self.name}"


class HealthCheck(enum.Enum):
    """Health checks of a run; their values are the names the engine knows."""

    filter_too_much = "filter_too_much"
    too_slow = "too_slow"

    def __repr__(self):
        return f"HealthCheck.{self.name}"


def _int_setting(name, least, most=None, *, optional=False):
    """The check of an integer setting from ``least`` to ``most`` (None: no bound),
    or None when ``optional``. The engine takes these as fixed-width integers,
    whence the upper bounds."""
    wanted = f"from {least} to {most}" if most is not None else f"of at least {least}"

    def validate(value):
        __tracebackhide__ = True
        if value is None and optional:
            return None
        try:
            v = operator.index(value)
        except TypeError:
            v = None
        if v is None or v < least or (most is not None and v > most):
            raise InvalidArgument(f"{name}={value!r} must be an integer {wanted}")
        return v

    return validate


def _validate_verbosity(v):
    __tracebackhide__ = True
    if isinstance(v, bool) or not isinstance(v, int):
        raise InvalidArgument(f"verbosity={v!r} must be a Verbosity")
    try:
        return Verbosity(v)
    except ValueError:
        raise InvalidArgument(f"verbosity={v!r} must be a Verbosity") from None


def _validate_deadline(v):
    __tracebackhide__ = True
    if v is None:
        return None
    ms = v / datetime.timedelta(milliseconds=1) if isinstance(v, datetime.timedelta) else v
    if isinstance(ms, bool) or not isinstance(ms, (int, float)) or not ms > 0 or ms == float("inf"):
        raise InvalidArgument(
            f"deadline={v!r} must be None, a timedelta or a positive number of milliseconds")
    return float(ms)


class _DefaultDatabase:
    """Stands for the directory database in ``_DEFAULT_DATABASE_DIR``."""

    def __repr__(self):
        return "<the default database>"


_DEFAULT_DATABASE = _DefaultDatabase()
DEFAULT_DATABASE_PATH = os.path.join(".quorvantis_fast", "examples")


def _default_database_dir():
    """Where the default database lives: under the working directory at the
    time this package is imported (pytest imports it while collecting, before
    any fixture runs), so that a fixture's ``chdir`` does not decide where the
    project's failures go, and a later run finds them."""
    try:
        return os.path.join(os.getcwd(), DEFAULT_DATABASE_PATH)
    except OSError:  # the working directory was removed: found again at each use
        return DEFAULT_DATABASE_PATH


_DEFAULT_DATABASE_DIR = _default_database_dir()


def _validate_database(v):
    __tracebackhide__ = True
    if v is None or v is _DEFAULT_DATABASE:
        return v
    if isinstance(v, type):
        raise InvalidArgument(f"database={v!r} is a class; pass an instance of it")
    missing = [m for m in ("fetch", "save", "delete") if not callable(getattr(v, m, None))]
    if missing:
        raise InvalidArgument(
            f"database={v!r} is not an example database: it has no {', '.join(missing)} method; "
            "use None to turn the database off")
    return v


def _validate_health_checks(v):
    __tracebackhide__ = True
    try:
        checks = tuple(v)
    except TypeError:
        raise InvalidArgument(
            f"suppress_health_check={v!r} must be a list of HealthCheck") from None
    for c in checks:
        if not isinstance(c, HealthCheck):
            raise InvalidArgument(f"suppress_health_check holds {c!r}, which is not a HealthCheck")
    return checks


def _validate_bool(name):
    def validate(v):
        __tracebackhide__ = True
        if not isinstance(v, bool):
            raise InvalidArgument(f"{name}={v!r} must be True or False")
        return v

    return validate


_FIELDS = {
    "max_examples": (100, _int_setting("max_examples", 1, 2**32 - 1)),
    "stateful_step_count": (50, _int_setting("stateful_step_count", 1, 2**63 - 1)),
    "verbosity": (Verbosity.normal, _validate_verbosity),
    "deadline": (200.0, _validate_deadline),
    "derandomize": (False, _validate_bool("derandomize")),
    "report_multiple_bugs": (True, _validate_bool("report_multiple_bugs")),
    "suppress_health_check": ((), _validate_health_checks),
    "database": (_DEFAULT_DATABASE, _validate_database),
    "max_shrinks": (500, _int_setting("max_shrinks", 0, 2**64 - 1)),
    "seed": (None, _int_setting("seed", 0, optional=True)),
}


class settings:
    """An immutable set of test settings; unspecified ones come from ``parent``.

    ``settings(parent, **changes)`` makes a new object; attribute assignment
    is refused. ``deadline`` is in milliseconds (a ``timedelta`` is accepted;
    None turns it off). ``database`` defaults to a directory database at
    ``.quorvantis_fast/examples`` under the working directory at the time
    the package was imported; None turns it off.
    """

    __slots__ = tuple(f"_{name}" for name in _FIELDS)

    def __init__(self, parent=None, **kwargs):
        __tracebackhide__ = True  # pytest shows the line that made the settings
        if parent is not None and not isinstance(parent, settings):
            raise InvalidArgument(f"parent={parent!r} must be a settings object")
        for name in kwargs:
            if name not in _FIELDS:
                raise InvalidArgument(f"{name!r} is not a setting")
        for name, (default, validate) in _FIELDS.items():
            if name in kwargs:
                value = validate(kwargs[name])
            elif parent is not None:
                value = getattr(parent, name)
            else:
                value = default
            object.__setattr__(self, f"_{name}", value)

    def __getattr__(self, name):
        if name not in _FIELDS:
            raise AttributeError(name)
        value = object.__getattribute__(self, f"_{name}")
        if value is _DEFAULT_DATABASE:
            from quorvantis_fast.database import DirectoryExampleDatabase

            return DirectoryExampleDatabase(_DEFAULT_DATABASE_DIR)
        return value

    def __setattr__(self, name, value):
        raise AttributeError("settings objects are immutable")

    def __eq__(self, other):
        if not isinstance(other, settings):
            return NotImplemented
        return all(getattr(self, n) == getattr(other, n) for n in _FIELDS)

    def __hash__(self):
        return hash(tuple(repr(getattr(self, n)) for n in _FIELDS))

    def __repr__(self):
        return "settings({})".format(", ".join(f"{n}={getattr(self, n)!r}" for n in _FIELDS))

    def __call__(self, test):
        """Use these settings for ``test`` (a decorator, above or below ``given``),
        or for every run of a state machine class."""
        __tracebackhide__ = True
        if isinstance(test, type):
            if not getattr(test, "_quorvantis_state_machine", False):
                raise InvalidArgument(
                    f"@settings cannot apply to the class {test.__name__}: it would change "
                    "none of its tests. Put it on each test function, or on a state machine")
        elif not getattr(test, "is_quorvantis_test", False):
            return _awaiting_given(test, self)
        given_test_of(test)._quorvantis_settings = self
        return test

    def engine_arguments(self, db_key=None):
        """The keyword arguments of ``run_native`` that these settings decide,
        for a test whose stored failures are kept under ``db_key`` (None: the
        test keeps none, and runs without the database)."""
        database = self.database if db_key is not None else None
        return {
            "seed": engine_seed(self),
            "database": database,
            "db_key": db_key,
            "max_examples": self.max_examples,
            "report_multiple_bugs": self.report_multiple_bugs,
            "suppress_health_check": [c.value for c in self.suppress_health_check],
            "deadline_ms": self.deadline or 0.0,
            "max_shrinks": self.max_shrinks,
        }


def present_stand_in(stand_in, test, signature):
    """Make ``stand_in`` (a ``functools.wraps`` copy of ``test``) show its
    caller ``signature``, while tools that look for the source of a test
    (pytest's locations, editors) still find the test's own function
    through ``__wrapped__``: ``inspect.signature`` stops at the first
    ``__signature__``. The patches copied from ``test`` stay behind: a
    patch above would add itself to that list, and pytest would take as
    many parameters as it holds for mocks once more."""
    stand_in.__signature__ = signature
    stand_in.__wrapped__ = test
    stand_in.__dict__.pop("patchings", None)
    return stand_in


def _awaiting_given(test, s):
    """``test`` under settings ``s``, for ``given`` to take when it is applied
    next (settings may sit below it). A test that gets no ``given`` would run
    without them, so calling this stand-in raises instead; it asks for no
    arguments, so that pytest calls it and shows why. What is set on a
    stand-in (a pytest mark, say) stays on the next one, and ``given`` gives
    it to the test it returns.
    """
    __tracebackhide__ = True
    if not callable(test):
        raise InvalidArgument(
            f"@settings applies to a test function or a state machine, not {test!r}")
    name = getattr(test, "__name__", repr(test))

    @functools.wraps(test)
    def refuse(*args, **kwargs):
        __tracebackhide__ = True
        raise InvalidArgument(
            f"@settings applies only to @given tests and state machines, and {name} has no "
            "@given: add one, or remove the @settings")

    present_stand_in(refuse, test, inspect.Signature())  # it asks for nothing
    # The stand-in names itself: a wrapper of it (functools.wraps copies the
    # attributes) is told apart by not being the one named.
    refuse._quorvantis_awaits_given = refuse, awaited_test(test)
    refuse._quorvantis_settings = s
    return refuse


def _awaiting_mark(obj):
    return getattr(obj, "__dict__", {}).get("_quorvantis_awaits_given") or (None, None)


def awaited_test(obj):
    """The test that ``obj`` stands in for, when ``obj`` is a stand-in that
    ``@settings`` below ``@given`` made; else ``obj`` itself."""
    own, test = _awaiting_mark(obj)
    return test if own is obj else obj


def wraps_a_stand_in(obj):
    """True when ``obj`` is a decorator's wrapper of such a stand-in (it carries
    a copy of the stand-in's mark), which ``given`` cannot call the test through."""
    own, _ = _awaiting_mark(obj)
    return own is not None and own is not obj


def given_test_of(obj):
    """The test that ``given`` returned, when ``obj`` is that test or a
    decorator's wrapper of it (which carries a copy of the test's mark, as
    ``functools.wraps`` copies it); else ``obj`` itself. What is set on a
    wrapper the test never reads."""
    return getattr(obj, "_quorvantis_given_test", None) or obj


def engine_seed(s):
    """The seed that the engine gets for a run under settings ``s``.

    A user's seed is mixed so that neighbouring seeds give unrelated runs
    (the engine seeds example i with its seed + i); the same seed always
    gives the same run.
    """
    import hashlib
    import random

    if s.seed is None:
        return 0 if s.derandomize else random.getrandbits(64)
    raw = s.seed.to_bytes(s.seed.bit_length() // 8 + 1, "little")
    return int.from_bytes(hashlib.blake2b(raw, digest_size=8, person=b"qf-seed").digest(), "little")
