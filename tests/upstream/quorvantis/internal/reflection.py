import functools
import inspect
import types


def is_plain_function(f):
    return isinstance(f, (types.FunctionType, functools.partial))


def is_identity_function(f):
    from quorvantis_fast.strategies import _is_identity_function

    return _is_identity_function(f)


def get_pretty_function_description(f):
    if isinstance(f, functools.partial):
        parts = [get_pretty_function_description(f.func)]
        parts += [repr(a) for a in f.args]
        parts += [f"{k}={v!r}" for k, v in f.keywords.items()]
        return "functools.partial({})".format(", ".join(parts))
    name = getattr(f, "__name__", None)
    if name == "<lambda>":
        try:
            params = ", ".join(inspect.signature(f).parameters)
        except (TypeError, ValueError):
            params = "*args"
        return f"lambda {params}: <unknown>"
    if name is None:
        return repr(f)
    owner = getattr(f, "__self__", None)
    if owner is not None and not isinstance(owner, types.ModuleType):
        return f"{owner!r}.{name}"
    return name


def nicerepr(v):
    if is_plain_function(v):
        return get_pretty_function_description(v)
    if isinstance(v, type):
        return v.__name__
    return repr(v)
