"""What the package offers so far, shown by using it."""

from quorvantis_fast import _engine, control, errors, native_strategies, settings


def section(title):
    print(f"\n--- {title}")


section("the native module")
print("loaded from", _engine.__file__)
print(f"{len(_engine.__all__)} names registered:", ", ".join(_engine.__all__))

section("per-thread buffer limit")
_engine.set_buffer_limit(1024)
print("set_buffer_limit(1024) -> records built on this thread stop at 1024 bytes")
for bad in (-1, "ten"):
    try:
        _engine.set_buffer_limit(bad)
    except (TypeError, OverflowError) as e:
        print(f"set_buffer_limit({bad!r}) -> {type(e).__name__}: {e}")
_engine.clear_buffer_limit()
print("clear_buffer_limit() -> back to 8192")

section("assumptions")
try:
    control.assume(2 + 2 == 5)
except errors.UnsatisfiedAssumption as e:
    print("assume(False) rejects the example:", e)

section("Unicode categories, from this interpreter's unicodedata")
charmap = native_strategies._unicode_charmap()
for category in ("Lu", "Nd", "Zs"):
    pairs = charmap[category]
    size = sum(hi - lo + 1 for lo, hi in pairs)
    first = "".join(chr(c) for c in range(pairs[0][0], min(pairs[0][1], pairs[0][0] + 9) + 1))
    print(f"{category}: {size} code points in {len(pairs)} ranges, starting {first!r}")

section("settings")
base = settings.settings(max_examples=500, verbosity=settings.Verbosity.verbose)
print(settings.settings(base, suppress_health_check=[settings.HealthCheck.too_slow]))
try:
    settings.settings(max_examples=0)
except errors.InvalidArgument as e:
    print("settings(max_examples=0) ->", e)

section("a failure that did not reproduce")
flaky = errors.FlakyFailure("Inconsistent results from replaying a test case!",
                            [ValueError("first run"), KeyError("replay")])
print(repr(flaky))

print("\nNot built yet: strategies, the test-case record and run_native.")
