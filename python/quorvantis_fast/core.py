"""The test decorator: hands a test and its strategies to the native engine."""

import functools
import inspect
import random

from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument
from quorvantis_fast.settings import settings as Settings

__all__ = ["given"]

_DEFAULT_SETTINGS = Settings()


def _settings_of(*objects):
    for obj in objects:
        found = getattr(obj, "_quorvantis_settings", None)
        if found is not None:
            return found
    return _DEFAULT_SETTINGS


def _call_text(name, names, args):
    parts = ", ".join(f"{n}={a!r}" for n, a in zip(names, args))
    return f"{name}({parts})"


def given(*arg_strategies, **kw_strategies):
    """Run the decorated test over examples drawn from the given strategies.

    Positional strategies fill the test's last positional parameters in order
    (so ``self`` and fixtures may come first); keyword strategies fill the
    parameters of those names. Parameters left over are passed through, so
    pytest can still supply fixtures for them. On failure
    the shrunk, minimal example is attached to the raised error as a note.
    """
    if not arg_strategies and not kw_strategies:
        raise InvalidArgument("given() needs at least one strategy")

    def decorate(test):
        sig = inspect.signature(test)
        params = list(sig.parameters.values())
        positional = [p for p in params
                      if p.kind in (p.POSITIONAL_ONLY, p.POSITIONAL_OR_KEYWORD)]
        if len(arg_strategies) > len(positional):
            raise InvalidArgument(
                f"given() has {len(arg_strategies)} positional strategies but "
                f"{test.__name__} takes only {len(positional)} positional arguments")
        names = [p.name for p in positional[len(positional) - len(arg_strategies):]]
        for name in kw_strategies:
            if name not in sig.parameters:
                raise InvalidArgument(f"{test.__name__} has no argument {name!r}")
            if name in names:
                raise InvalidArgument(f"argument {name!r} was given two strategies")
        names += list(kw_strategies)
        strategies = list(arg_strategies) + list(kw_strategies.values())
        db_key = f"{test.__module__}.{test.__qualname__}".encode()

        @functools.wraps(test)
        def run(*args, **kwargs):
            s = _settings_of(run, test)

            def one_example(*drawn):
                return test(*args, **kwargs, **dict(zip(names, drawn)))

            if s.seed is not None:
                seed = s.seed
            else:
                seed = 0 if s.derandomize else random.getrandbits(64)
            failures = _engine.run_native(
                one_example, strategies, seed=seed, database=s.database,
                db_key=db_key if s.database is not None else None, names=names,
                test_name=test.__name__, **s.engine_arguments())
            if not failures:
                return None
            errors = []
            for drawn, exc in failures:
                exc.add_note("Falsifying example: " + _call_text(test.__name__, names, drawn))
                errors.append(exc)
            if len(errors) == 1:
                raise errors[0]
            raise ExceptionGroup(f"{test.__name__} found {len(errors)} distinct failures", errors)

        run.__signature__ = sig.replace(
            parameters=[p for p in params if p.name not in names])
        del run.__wrapped__  # pytest must see the reduced signature
        run.is_quorvantis_test = True
        return run

    return decorate
