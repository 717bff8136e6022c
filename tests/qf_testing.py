"""Helpers shared by the test modules: subprocess runs, native builds,
records and draws, and the small models the tests compare against."""

import abc
import contextlib
import fcntl
import functools
import hashlib
import os
import pathlib
import random
import re
import shutil
import struct
import subprocess
import sys
import textwrap
import unicodedata

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
UPSTREAM_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "upstream")
UPSTREAM = os.environ.get("QF_UPSTREAM") == "1"

# The small upstream layer is importable only when asked for, so that the
# suite also shows how the package behaves without it.
if UPSTREAM and UPSTREAM_DIR not in sys.path:
    sys.path.insert(0, UPSTREAM_DIR)

needs_upstream = pytest.mark.skipif(not UPSTREAM, reason="runs with QF_UPSTREAM=1")

from quorvantis_fast import _engine  # noqa: E402  (after the path is set)
from quorvantis_fast.errors import InvalidArgument, ResolutionFailed, StopTest  # noqa: E402


def child_env(*, upstream=False, env=None, extra_path=()):
    """The environment of a fresh interpreter that imports the same package.

    ``upstream`` puts the upstream layer on its path, ``extra_path`` more
    directories after it; ``env`` adds or replaces variables.
    """
    package_root = os.path.dirname(os.path.dirname(__import__("quorvantis_fast").__file__))
    paths = [package_root] + ([UPSTREAM_DIR] if upstream else []) + [str(p) for p in extra_path]
    # The child runs no test of ours, and chooses its own pytest plugins.
    dropped = ("PYTHONPATH", "QF_UPSTREAM", "PYTEST_CURRENT_TEST", "PYTEST_DISABLE_PLUGIN_AUTOLOAD")
    result = {k: v for k, v in os.environ.items() if k not in dropped}
    result["PYTHONPATH"] = os.pathsep.join(paths)
    result.update(env or {})
    return result


def run_python(code, **kwargs):
    """Run ``code`` in a fresh interpreter that imports the same package
    (``kwargs`` as for ``child_env``). Returns the completed process (text output).
    """
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env=child_env(**kwargs),
        timeout=300,
    )


def _installed():
    """Is the package imported here an installed one, with its entry points
    (not a staged copy)?"""
    from importlib import metadata

    try:
        found = metadata.distribution("quorvantis_fast").locate_file("quorvantis_fast/__init__.py")
        return os.path.samefile(found, __import__("quorvantis_fast").__file__)
    except (metadata.PackageNotFoundError, OSError):
        return False


def run_module(directory, *args, env=None):
    """Run ``python -m *args`` in ``directory`` in a fresh interpreter that
    imports the same package (``env`` as for ``child_env``). Returns the
    completed process."""
    return subprocess.run([sys.executable, "-m", *args], cwd=directory, capture_output=True, text=True,
                          timeout=300, env=child_env(env=env))


def run_pytest(directory, *args):
    """Run pytest as ``run_module`` does, with the package's plugin loaded as a
    user gets it: by its entry point when the package is installed (with
    the other plugins installed), else by name, with no plugins but
    pytest's own."""
    if _installed():
        return run_module(directory, "pytest", "-p", "no:cacheprovider", *args)
    by_name = ["-p", "quorvantis_fast.pytest_plugin"]
    return run_module(directory, "pytest", "-p", "no:cacheprovider", *by_name, *args,
                      env={"PYTEST_DISABLE_PLUGIN_AUTOLOAD": "1"})


def key_here(test):
    """The key of the stored failures of ``test`` (a test that ``given``
    made) when the calling test runs it."""
    from quorvantis_fast import keys

    return keys.call_key(test, test.__wrapped__, test.__qualname__, ())


def python_output(code, **kwargs):
    """The output of ``run_python(code, **kwargs)``, which must succeed."""
    done = run_python(code, **kwargs)
    assert done.returncode == 0, done.stderr
    return done.stdout


@contextlib.contextmanager
def _exclusive(build):
    """Holds the lock of the build directory ``build`` (made when missing).

    Parallel test processes share a build: one builds, the others wait for it
    rather than use a file that is still being written.
    """
    build.mkdir(parents=True, exist_ok=True)
    with open(f"{build}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def build_probe(name, source_dir):
    """Build the test extension whose CMakeLists.txt is in ``source_dir``.

    The build goes to build/probe-<name>-<interpreter hash>[-san]: one per
    interpreter, since a CMake cache is tied to the Python it found, and one
    per sanitizer setting. Returns the build directory, which holds the module.
    Test processes running side by side take turns (a lock file beside it).
    """
    san = os.environ.get("QF_SANITIZE") == "1"
    tag = hashlib.sha1(sys.executable.encode()).hexdigest()[:10]
    build = ROOT / "build" / f"probe-{name}-{tag}{'-san' if san else ''}"
    configure = ["cmake", "-S", str(source_dir), "-B", str(build), "-G", "Ninja",
                 f"-DPython_EXECUTABLE={sys.executable}", f"-DQF_SANITIZE={'ON' if san else 'OFF'}"]
    with _exclusive(build):
        # Once configured, the build step reconfigures by itself when needed.
        steps = [] if (build / "CMakeCache.txt").exists() else [configure]
        for cmd in (*steps, ["cmake", "--build", str(build)]):
            done = subprocess.run(cmd, capture_output=True, text=True)
            assert done.returncode == 0, done.stdout + done.stderr
    return build


@functools.lru_cache(maxsize=None)
def build_driver(name, sources, libs=()):
    """Compile a small C++ test program from ``sources`` (paths relative to the
    repository) against src/, linking ``libs``. The program is kept in
    build/driver-<name>-<hash of the compiler, flags and every source>, so it
    is built once for all test processes and sessions until a source changes.

    Under the sanitizer build (the sanitizers preloaded) the program is built
    with them too. Returns (path, env): run the program with ``env``, which
    leaves out the preloads meant for the extension, as its build does.
    Skips the test when there is no C++ compiler.
    """
    cxx = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++")
    if cxx is None:
        pytest.skip(f"no C++ compiler to build {name}")
    flags = ["-std=c++20", "-O2", "-Wall", "-Wextra", "-Werror", "-ffp-contract=off", "-fno-fast-math"]
    env = dict(os.environ)
    if "asan" in env.get("LD_PRELOAD", ""):
        flags += ["-fsanitize=address,undefined", "-fno-sanitize-recover=undefined", "-g"]
    # The driver is a plain program: the extension's preloads are not for it.
    env.pop("LD_PRELOAD", None)
    digest = hashlib.sha256(repr((cxx, flags, sources, libs)).encode())
    for path in sorted({*(ROOT / s for s in sources), *(ROOT / "src").rglob("*.[ch]pp")}):
        digest.update(f"{path.relative_to(ROOT)}\0".encode())
        digest.update(path.read_bytes())
    build = ROOT / "build" / f"driver-{name}-{digest.hexdigest()[:16]}"
    out = build / name
    with _exclusive(build):
        if not out.exists():
            partial = build / f"{name}.partial"
            cmd = [cxx, *flags, f"-I{ROOT / 'src'}", *(str(ROOT / s) for s in sources), "-o", str(partial),
                   *(f"-l{lib}" for lib in libs)]
            subprocess.run(cmd, check=True, env=env)
            partial.replace(out)
    return out, env


def numpy_style_bool(value, *, name="bool_", module="numpy"):
    """An object whose type looks like NumPy's boolean scalar (by module and
    name), truthy as ``value``; NumPy itself is not needed."""
    cls = type(name, (), {"__module__": module, "__bool__": lambda self: value})
    return cls()


class FixedSeed:
    """A `random` argument whose getrandbits always gives one seed."""

    def __init__(self, seed):
        self.seed = seed

    def getrandbits(self, n):
        assert n == 64
        return self.seed


def seeded_record(seed=0, **kwargs):
    """A record whose generator is keyed from `seed`."""
    return _engine.BrindlemarData(random=FixedSeed(seed), **kwargs)


def random_record(seed, **kwargs):
    """A record whose generator is keyed from ``random.Random(seed)``."""
    return _engine.BrindlemarData(random=random.Random(seed), **kwargs)


def rng(seed):
    return random.Random(seed)


# --- Floats ------------------------------------------------------------------

def bits_of(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def from_bits(b):
    return struct.unpack("<d", struct.pack("<Q", b))[0]


# --- Interval models ---------------------------------------------------------

def model_pairs(members):
    """Normalised (start, end) pairs of a set of ints."""
    pairs = []
    for m in sorted(members):
        if pairs and pairs[-1][1] + 1 == m:
            pairs[-1] = (pairs[-1][0], m)
        else:
            pairs.append((m, m))
    return pairs


def members_of(pairs, limit=10_000):
    """The ints of (start, end) pairs; refuses to expand runaway intervals."""
    out = set()
    for a, b in pairs:
        assert b - a < limit, (a, b)
        out.update(range(a, b + 1))
    return out


# Expected alphabets come from ``unicodedata`` one code point at a time,
# independently of the engine's interval arithmetic.
MAX_CODEPOINT = 0x10FFFF
ALL_BUT_CS = [
    "Lu", "Ll", "Lt", "Lm", "Lo", "Mn", "Mc", "Me", "Nd", "Nl", "No", "Pc", "Pd", "Ps", "Pe",
    "Pi", "Pf", "Po", "Sm", "Sc", "Sk", "So", "Zs", "Zl", "Zp", "Cc", "Cf", "Co", "Cn",
]


@functools.cache
def _categories():
    return [unicodedata.category(chr(c)) for c in range(MAX_CODEPOINT + 1)]


def points(categories=ALL_BUT_CS, lo=0, hi=MAX_CODEPOINT):
    """Code points in [lo, hi] whose category is listed."""
    wanted = set(categories)
    cats = _categories()
    return {c for c in range(lo, min(hi, MAX_CODEPOINT) + 1) if cats[c] in wanted}


def intervals_of(codepoints):
    """Sorted, merged (start, end) pairs of a set of code points."""
    return tuple(model_pairs(codepoints))


def alphabet(strategy):
    """The alphabet of a characters() strategy as (start, end) pairs."""
    return tuple(_engine._regex_alphabet_intervals(strategy).intervals)


# --- Record templates --------------------------------------------------------

class Simplest:
    """A "simplest" prefix template with a count."""

    type = "simplest"

    def __init__(self, count):
        self.count = count


class SimplestWithoutCount:
    """Says "simplest" but has no count: replayed as a plain value."""

    type = "simplest"


class Unlimited:
    """A template whose count is unusable: it serves every later draw."""

    type = "simplest"
    count = None


# --- Strategies written in Python --------------------------------------------

class PyStrategy:
    """A strategy object outside the module: drawn through its do_draw."""

    def __init__(self, draw, name="strategy"):
        self._draw = draw
        self._name = name

    def do_draw(self, data):
        return self._draw(data)

    def __repr__(self):
        return self._name


def py_integers(lo=None, hi=None):
    return PyStrategy(lambda data: data.draw_integer(lo, hi), f"integers({lo}, {hi})")


def py_booleans():
    return PyStrategy(lambda data: data.draw_boolean(0.5), "booleans()")


def py_floats():
    return PyStrategy(lambda data: data.draw_float(), "floats()")


class Ints(_engine.SearchStrategy):
    """A SearchStrategy subclass written in Python: integers in [lo, hi]."""

    def __init__(self, lo, hi):
        self.lo, self.hi = lo, hi

    def do_draw(self, data):
        return data.draw_integer(self.lo, self.hi)

    def __repr__(self):
        return f"Ints({self.lo}, {self.hi})"


# --- Drawing -----------------------------------------------------------------

INVALID = 1  # the status of a record whose test case was rejected


def stop_test_of(fn, *args, **kwargs):
    """The StopTest that ``fn(*args, **kwargs)`` must raise."""
    with pytest.raises(StopTest) as info:
        fn(*args, **kwargs)
    return info.value


def first_constraints(strategy, seed=0):
    """The constraints of each choice one draw from `strategy` makes."""
    data = seeded_record(seed)
    data.draw(strategy)
    return [n.constraints for n in data.nodes]


def draw_or_stop(strategy, seed, **kwargs):
    """(value, record) of one draw; value is StopTest when the record ended."""
    data = random_record(seed, **kwargs)
    try:
        return data.draw(strategy), data
    except StopTest:
        return StopTest, data


def draws(strategy, n=200, *, first_seed=0, stop_ok=False):
    """Values of ``strategy`` drawn from records seeded first_seed .. + n - 1.

    A test case that ends itself early (StopTest) is left out when
    ``stop_ok``, else it fails the test.
    """
    out = []
    for seed in range(first_seed, first_seed + n):
        value, _ = draw_or_stop(strategy, seed)
        if value is StopTest and not stop_ok:
            raise AssertionError(f"seed {seed}: the test case ended early")
        if value is not StopTest:
            out.append(value)
    return out


def values(strategy, n=200):
    """The values of n seeded draws, rejected test cases left out."""
    return draws(strategy, n, stop_ok=True)


def valid_draws(strategy, n=300):
    """The values of the draws among n that the record did not reject (a
    collection may give up on too many duplicates); most must be valid."""
    out = []
    for seed in range(n):
        value, data = draw_or_stop(strategy, seed)
        if value is StopTest:
            assert data.status == INVALID
        else:
            out.append(value)
    assert len(out) > n // 2
    return out


def _draws_and_stops(make_record, stop, strategy, n, first_seed):
    values, stopped = [], 0
    for seed in range(first_seed, first_seed + n):
        try:
            values.append(make_record(seed).draw(strategy))
        except stop:
            stopped += 1
    return values, stopped


def seeded_draws(strategy, n=300, first_seed=0):
    """(values, invalid count) of drawing from `seeded_record`s in turn."""
    return _draws_and_stops(seeded_record, StopTest, strategy, n, first_seed)


def upstream_draws(strategy, n=100, first_seed=0):
    """(values, stopped count) of drawing `strategy` from upstream-style
    records seeded in turn."""
    from quorvantis.internal.brindlemar.data import BrindlemarData, StopTest as UpstreamStop

    return _draws_and_stops(BrindlemarData, UpstreamStop, strategy, n, first_seed)


def is_filter(strategy):
    """Did `strategy` stay a filter (no rewrite folded its condition)?"""
    return type(strategy.wrapped_strategy) is _engine.FilteredStrategy


def is_nothing(strategy):
    return repr(strategy) == "nothing()"


def draw_invalid(strategy, seed=0):
    """Draw from a fresh record and expect the test case to end invalid."""
    data = seeded_record(seed)
    with pytest.raises(StopTest):
        data.draw(strategy)
    assert data.status == INVALID and data.frozen
    return data


def replay(strategy, choices):
    """The value drawn from a record that replays exactly ``choices``."""
    return _engine.BrindlemarData.for_choices(list(choices)).draw(strategy)


def replay_prefix(strategy, choices):
    """(value, record) of a draw whose record starts from these choices;
    value is StopTest when the record ended."""
    return draw_or_stop(strategy, 0, prefix=list(choices))


def recorded(strategy, seed=0):
    """(value, nodes) of one draw."""
    d = random_record(seed)
    value = d.draw(strategy)
    return value, d.nodes


def permits(strategy, value):
    """Does the strategy allow `value`? A replayed value that does not fit its
    constraints is replaced by the simplest one that does."""
    return replay(strategy, [value]) == value


def minimal(test, strategy, **kw):
    """The argument of the one failure that a run with shrinking reports."""
    kw.setdefault("seed", 0)
    result = _engine.run_native(test, [strategy], **kw)
    assert result is not None and len(result) == 1
    (args, _exc), = result
    return args[0]


def minimal_where(strategy, failing):
    """The shrunk value among those for which `failing` holds."""

    def test(value):
        assert not failing(value)

    return minimal(test, strategy, max_examples=300)


# --- Errors ------------------------------------------------------------------

def raises_invalid(message):
    """Expect InvalidArgument with exactly this message, raised at once."""
    return pytest.raises(InvalidArgument, match="^" + re.escape(message) + "$")


def assert_stored_error(strategy, message):
    """The constructor returned a strategy that raises `message` when used."""
    assert isinstance(strategy, _engine.SearchStrategy)
    for use in (strategy.validate, lambda: random_record(0).draw(strategy)):
        try:
            use()
        except InvalidArgument as e:
            assert not isinstance(e, ResolutionFailed)
            assert str(e) == message
        else:
            raise AssertionError("no stored error raised")


class Unresolvable:
    """A class from_type cannot build: its argument has no annotation."""

    def __init__(self, x):
        pass


UNRESOLVABLE = f"Could not resolve {Unresolvable!r} to a strategy; consider using register_type_strategy"


# --- Type resolution ---------------------------------------------------------

@contextlib.contextmanager
def registered(mapping):
    """Resolve the types of ``mapping`` to their strategies (or factories),
    through the package's type registry, for the duration."""
    from quorvantis_fast import native_strategies

    registry = native_strategies._NATIVE_TYPE_REGISTRY
    saved = dict(registry)
    registry.update(mapping)
    _engine._clear_resolution_caches()
    try:
        yield
    finally:
        registry.clear()
        registry.update(saved)
        _engine._clear_resolution_caches()


# Type resolution calls the engine's constructors by name on
# ``quorvantis_fast._engine``; the typeres tests' ``calls`` fixture puts
# recording stand-ins there, whose repr is the call that made them.
CONSTRUCTORS = [
    "integers", "booleans", "floats", "none", "just", "sampled_from", "one_of", "tuples", "lists",
    "sets", "frozensets", "dictionaries", "fixed_dictionaries", "text", "binary", "builds",
    "deferred", "fractions", "dates", "times", "datetimes", "timedeltas", "uuids",
    "complex_numbers", "decimals", "_functions_strategy",
]
ANY = "one_of(none(), booleans(), integers(), floats(), text())"


class Call(_engine.SearchStrategy):
    """A recorded constructor call."""

    def __repr__(self):
        return self.text


def made(text, name=None, args=(), kwargs=None):
    call = Call()
    call.text, call.name, call.args, call.kwargs = text, name, args, kwargs or {}
    return call


def recorder(name):
    def constructor(*args, **kwargs):
        shown = [repr(a) for a in args] + [f"{k}={v!r}" for k, v in kwargs.items()]
        return made(f"{name}({', '.join(shown)})", name, args, kwargs)

    return constructor


def can_hash(value):
    try:
        hash(value)
    except TypeError:
        return False
    return True


def assert_fails(strategy, message, cls=ResolutionFailed):
    """Validating `strategy` raises exactly `cls` with `message`."""
    with pytest.raises(InvalidArgument) as info:
        strategy.validate()
    assert (type(info.value), str(info.value)) == (cls, message)


def is_deferred_of(strategy, function, thing):
    """Is `strategy` the recorded deferred(partial(function, thing))?"""
    if getattr(strategy, "name", None) != "deferred":
        return False
    (definition,) = strategy.args
    return isinstance(definition, functools.partial) and (definition.func, definition.args) == (
        function, (thing,))


def draw_many(strategy, n=200):
    """Values drawn from `seeded_record`s 0..n-1, rejected test cases left out."""
    return seeded_draws(strategy, n)[0]


# A small abstract hierarchy shared by the class-resolution tests.
class Shape(abc.ABC):
    @abc.abstractmethod
    def area(self): ...


class Square(Shape):
    def area(self):
        return 1


class Circle(Shape):
    def __init__(self, radius: float):
        pass

    def area(self):
        return 2
