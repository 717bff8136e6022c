"""Builds tests/rng/rng_driver.cpp against the generator and draw sources and
runs commands through it (see the .cpp for the command language)."""

import subprocess

from qf_testing import build_driver

SOURCES = ("tests/rng/rng_driver.cpp", "src/rng/rng.cpp", "src/statistics.cpp", "src/provider.cpp")


def run(*commands):
    """Answer lines, one per command (each a str)."""
    binary, env = build_driver("rng_driver", SOURCES, ("gmpxx", "gmp"))
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
