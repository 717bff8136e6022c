"""Builds tests/data/rng_driver.cpp against the generator and draw sources and
runs commands through it (see the .cpp for the command language)."""

import functools
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
SRC = HERE.parents[1] / "src"
SOURCES = [HERE / "rng_driver.cpp", SRC / "data" / "rng.cpp", SRC / "statistics.cpp", SRC / "provider.cpp"]


@functools.lru_cache(maxsize=None)
def _binary():
    cxx = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++")
    if cxx is None:
        pytest.skip("no C++ compiler to build the generator driver")
    out = Path(tempfile.mkdtemp(prefix="qf-rng-")) / "rng_driver"
    flags = ["-std=c++20", "-O2", "-Wall", "-Wextra", "-Werror", "-ffp-contract=off", "-fno-fast-math"]
    env = dict(os.environ)
    if "asan" in env.get("LD_PRELOAD", ""):
        flags += ["-fsanitize=address,undefined", "-fno-sanitize-recover=undefined", "-g"]
    # The driver is a plain program: the extension's preloads are not for it.
    env.pop("LD_PRELOAD", None)
    cmd = [cxx, *flags, f"-I{SRC}", *map(str, SOURCES), "-o", str(out), "-lgmpxx", "-lgmp"]
    subprocess.run(cmd, check=True, env=env)
    return out, env


def run(*commands):
    """Answer lines, one per command (each a str)."""
    binary, env = _binary()
    proc = subprocess.run([str(binary)], input="\n".join(commands) + "\n", capture_output=True,
                          text=True, check=True, env=env)
    lines = proc.stdout.splitlines()
    assert len(lines) == len(commands), proc.stderr
    for line in lines:
        assert not line.startswith("error"), line
    return lines


def words(line):
    return [int(w) for w in line.split()]


def split_state(line):
    """(outputs, (block counter, buffer index)) of an answer that ends with the state."""
    *outs, state = line.split()
    _, counter, index = state.split(":")
    return outs, (int(counter), int(index))
