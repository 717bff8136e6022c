"""The keys under which the database keeps each test's failures.

A key must be the same in every process that runs the same test (and under
pytest-xdist), and must differ between tests that behave differently, or
each would replay and then delete the other's failures. Where no such key
can be had, the test runs without the database.

Under pytest a test goes by the node it was collected as: the classes it
was collected under, and its parameters (each by its value where that has a
stable text, else by its position in its list). For a plain test, a module-
level function or a method of the class it is collected under, that is its
module and qualified name: the key it has outside pytest. A method
inherited from a base class goes by the class it runs on, in any runner. A
helper that tests call, each with arguments of its own, goes by the node
that calls it too (a doctest by its dotted name, an item of a plugin's own
kind by its node id), and outside pytest by its own name. A name that many
functions share (a lambda, or one defined inside a function) goes by the
node that runs it too, and outside pytest by nothing. Which node runs, on
whatever thread, the package's pytest plugin tells."""

import contextlib
import functools
import hashlib
import sys
import threading
import types

from quorvantis_fast.settings import given_test_of


def _unwrapped(test):
    """The callable under the ``functools.partial`` layers of ``test``, and the
    arguments those layers bind, innermost first."""
    inner, bound = test, []
    while isinstance(inner, functools.partial):
        bound.append((inner.args, inner.keywords))
        inner = inner.func
    return inner, bound[::-1]


def owner_of(test):
    """What names ``test``: the function under its ``functools.partial`` layers
    (a callable object goes by its class), and the arguments those layers
    bind, innermost first."""
    inner, bound = _unwrapped(test)
    return (inner if hasattr(inner, "__qualname__") else type(inner)), bound


class _NoStableText(Exception):
    """A bound value whose text may differ from one process to the next, or
    may leave out what tells it from another value."""


# Values whose repr is the same in every process and tells any two apart.
_PLAIN = frozenset({type(None), bool, int, float, complex, str, bytes})


def _stable_text(value):
    """The text of ``value`` in a database key, built only from what is known
    to have one that is stable and complete: plain values, and lists,
    tuples, dicts, sets and frozensets of them (exactly those types; the
    items of sets and dicts in the order of their texts, which does not
    follow the hash seed), classes and functions by their names. Raises
    ``_NoStableText`` for anything else."""
    kind = type(value)
    if kind in _PLAIN:
        return repr(value)
    if kind in (list, tuple):
        return f"{kind.__name__}({', '.join(map(_stable_text, value))})"
    if kind in (set, frozenset):
        return f"{kind.__name__}({{{', '.join(sorted(map(_stable_text, value)))}}})"
    if kind is dict:
        items = sorted(f"{_stable_text(k)}: {_stable_text(v)}" for k, v in value.items())
        return "{%s}" % ", ".join(items)
    return _name_text(value)


def _stable_text_or_none(value):
    """``_stable_text(value)``, or None when ``value`` has no stable text."""
    try:
        return _stable_text(value)
    except (_NoStableText, RecursionError, ValueError):  # ValueError: an int too long to print
        return None


def _name_text(value):
    """A class or function by its module and qualified name, when that names
    only it: not a lambda nor what a function defines (each call makes
    another), not a built-in bound to an object."""
    named = (isinstance(value, type) or type(value) is types.FunctionType
             or (type(value) is types.BuiltinFunctionType
                 and isinstance(value.__self__, types.ModuleType)))
    module, qualname = getattr(value, "__module__", None), getattr(value, "__qualname__", None)
    if not (named and type(module) is str and type(qualname) is str) or "<" in qualname:
        raise _NoStableText
    return f"<{module}.{qualname}>"


def database_key(owner, qualname, bound):
    """The key of the test's stored failures: the module and qualified name of
    its owner, and for a partial the digest of the text of what it binds, so
    that partials of one function with other arguments keep theirs apart.
    None (store nothing) when what it binds has no text that is the same in
    every process and tells its values apart (see ``_stable_text``)."""
    key = f"{getattr(owner, '__module__', None)}.{qualname}"
    if not bound:
        return key.encode()
    text = _stable_text_or_none(bound)
    if text is None:
        return None
    digest = hashlib.blake2b(text.encode("utf-8", "surrogatepass"), digest_size=16).hexdigest()
    return f"{key} partial {digest}".encode()


def fixed_key(test, qualname):
    """The key of ``test`` (named ``qualname``) wherever it is not the pytest
    node being run: ``database_key`` of its owner, or None for a callable
    object or a bound method, which share their class's or function's name
    with every other one."""
    inner, bound = _unwrapped(test)
    bound_to = getattr(inner, "__self__", None)
    if not hasattr(inner, "__qualname__") or not (bound_to is None or isinstance(bound_to, types.ModuleType)):
        return None
    return database_key(inner, qualname, bound)


# The item that pytest runs on each thread (by thread id), recorded by the
# package's pytest plugin around each test's run.
_running = {}

# What ``running_item`` gives when pytest runs several items at once and this
# thread runs none of them: whose call this is cannot be told.
_UNKNOWN = object()


@contextlib.contextmanager
def running(item):
    """Record that pytest runs ``item`` on this thread, for the duration (a
    run nested in it on the same thread hides it until that run ends)."""
    thread = threading.get_ident()
    outer = _running.get(thread)
    _running[thread] = item
    try:
        yield
    finally:
        if outer is None:
            del _running[thread]
        else:
            _running[thread] = outer


def running_item():
    """The pytest item that this call belongs to: the one this thread runs,
    else the one being run (on a thread its test started), ``_UNKNOWN`` when
    several are; None outside pytest. Without the package's plugin, the
    item whose run this thread's own stack holds."""
    item = _running.get(threading.get_ident())
    if item is not None:
        return item
    items = {id(i): i for i in list(_running.values())}
    if items:
        return items.popitem()[1] if len(items) == 1 else _UNKNOWN
    nodes = sys.modules.get("_pytest.nodes")
    frame = None if nodes is None else sys._getframe(1)
    while frame is not None:
        if frame.f_code.co_name == "runtest":
            item = frame.f_locals.get("self")
            if isinstance(item, nodes.Item):
                return item
        frame = frame.f_back
    return None


def _parameters_text(callspec):
    """The parametrization of a node: each parameter by its name and its
    value's text when that is stable (see ``_stable_text``), else by its
    position in its list (the id pytest made of an object may print its
    address, and a user's ids may be made that way too)."""
    params = {**getattr(callspec, "funcargs", {}), **callspec.params}  # pytest 7 keeps two dicts
    shown = []
    for name in sorted(params):
        text = _stable_text_or_none(params[name])
        shown.append(f"{name}#{callspec.indices[name]}" if text is None else f"{name}={text}")
    return ", ".join(shown)


def _node_text(item):
    """The item's name in the module it was collected from: the module's
    name, the classes it was collected under and its own name, with its
    parametrization. None when it was collected from no module."""
    module = getattr(item, "module", None)
    callspec = getattr(item, "callspec", None)
    try:
        names = [item.name if callspec is None else f"{item.originalname}[{_parameters_text(callspec)}]"]
    except (AttributeError, KeyError):  # a record of its parameters that we cannot read
        return None
    node = item.parent
    while node is not None and getattr(node, "obj", None) is not module:
        names.append(node.name)
        node = node.parent
    if node is None or not isinstance(getattr(module, "__name__", None), str):
        return None
    return ".".join([module.__name__, *reversed(names)])


def _caller_text(item):
    """The name of the item being run, for what it calls: ``_node_text`` for a
    test collected from a module. An item that is no Python test function
    goes by what names it in every process and under pytest-xdist alike: a
    doctest from a module's docstrings by its dotted name (marked as a
    doctest, as a test function with a doctest in its docstring has the
    same name), any other (a doctest of a text file, whose dotted name is
    only the file's, or an item a conftest makes) by its node id."""
    text = _node_text(item)
    python, doctest = sys.modules.get("_pytest.python"), sys.modules.get("_pytest.doctest")
    if text is not None or python is None or isinstance(item, python.Function):
        return text
    if doctest is not None and isinstance(item, doctest.DoctestItem) \
            and isinstance(item.parent, doctest.DoctestModule):
        name = getattr(item.dtest, "name", None)
        return f"doctest {name}" if isinstance(name, str) else None
    nodeid = getattr(item, "nodeid", None)
    return nodeid if isinstance(nodeid, str) and nodeid else None


def _in_node(key, item):
    """``key`` under the node being run as well, for what runs with other
    values in each test that runs it (``key`` alone when the node's name is
    that key already); None (store nothing) outside pytest, or when the
    node cannot be named."""
    node = None if key is None or item is None or item is _UNKNOWN else _caller_text(item)
    if node is None:
        return None
    node = node.encode("utf-8", "surrogatepass")
    return key if node == key else node + b" " + key


def _names_many(qualname):
    """Whether ``qualname`` names many things: a lambda, or what a function
    defines (each call makes another, from other values)."""
    return "<" in qualname


def _inherited(run, instance):
    """The class of ``instance`` and the name under which it holds ``run``,
    when it holds it from a base class (a mixin's method goes by each class
    that runs it); else None."""
    cls = type(instance)
    for klass in cls.__mro__:
        for name, value in vars(klass).items():
            if type(value) is types.FunctionType and given_test_of(value) is run:
                return None if klass is cls else (cls, name)
    return None


def call_key(run, test, qualname, args):
    """The key of this call of ``run``, the test that ``given`` made of
    ``test`` (named ``qualname``), with positional arguments ``args``: the
    node that pytest collected it as, when pytest is running that node;
    for a method, the class it runs on; else ``fixed_key``. A helper that a
    pytest test calls (with arguments of that test's), and a name that many
    share, go by the node being run too (see ``_in_node``)."""
    item = running_item()
    if item is _UNKNOWN:
        return None
    if item is not None:
        try:
            ours = given_test_of(item.obj) is run
        except Exception:  # an item whose object cannot be had is not ours
            ours = False
        if ours:
            text = _node_text(item)
            return None if text is None else text.encode("utf-8", "surrogatepass")
    key = fixed_key(test, qualname)
    held = _inherited(run, args[0]) if args and key is not None else None
    if held is not None:
        cls, name = held
        qualname = f"{cls.__qualname__}.{name}"
        key = database_key(cls, qualname, _unwrapped(test)[1])
    return key if item is None and not _names_many(qualname) else _in_node(key, item)


def machine_key(factory):
    """The key of a machine's stored failures: the module and qualified name of
    the machine (or of what makes it), so that machines of the same name
    elsewhere neither replay nor drop them. A lambda or what a function
    defines names no machine of its own (a helper that makes one from its
    arguments makes many of one name): see ``_in_node``. As for a test where
    ``fixed_key`` is None, the machine stores nothing."""
    owner, _ = owner_of(factory)
    qualname = getattr(owner, "__qualname__", None) or getattr(owner, "__name__", "state_machine")
    key = fixed_key(factory, qualname)
    if _names_many(qualname):
        key = _in_node(key, running_item())
    return None if key is None else b"stateful." + key
