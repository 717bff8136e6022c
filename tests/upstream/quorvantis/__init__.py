"""A small stand-in for the pure-Python library that the engine works beside.

Test-only: it offers exactly the names the engine and the package look up,
with the arguments and results they rely on, and nothing more.
"""
