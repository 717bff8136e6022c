"""Helpers shared by the test modules."""

import contextlib
import fcntl
import functools
import hashlib
import os
import pathlib
import shutil
import subprocess
import sys
import textwrap

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
UPSTREAM_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "upstream")
UPSTREAM = os.environ.get("QF_UPSTREAM") == "1"

# The small upstream layer is importable only when asked for, so that the
# suite also shows how the package behaves without it.
if UPSTREAM and UPSTREAM_DIR not in sys.path:
    sys.path.insert(0, UPSTREAM_DIR)

needs_upstream = pytest.mark.skipif(not UPSTREAM, reason="runs with QF_UPSTREAM=1")


def run_python(code, *, upstream=False, env=None, extra_path=()):
    """Run ``code`` in a fresh interpreter that imports the same package.

    ``upstream`` puts the upstream layer on its path, ``extra_path`` more
    directories after it. Returns the completed process (text output).
    """
    package_root = os.path.dirname(os.path.dirname(__import__("quorvantis_fast").__file__))
    paths = [package_root] + ([UPSTREAM_DIR] if upstream else []) + [str(p) for p in extra_path]
    child_env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "QF_UPSTREAM")}
    child_env["PYTHONPATH"] = os.pathsep.join(paths)
    child_env.update(env or {})
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env=child_env,
        timeout=300,
    )


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
    from quorvantis_fast._engine import BrindlemarData

    return BrindlemarData(random=FixedSeed(seed), **kwargs)
