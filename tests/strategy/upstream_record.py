"""Drawing through the upstream-style record of the test-only upstream layer."""


def upstream_draws(strategy, n=100, first_seed=0):
    """(values, stopped count) of drawing `strategy` from upstream-style
    records seeded in turn."""
    from quorvantis.internal.brindlemar.data import BrindlemarData, StopTest

    values, stopped = [], 0
    for seed in range(first_seed, first_seed + n):
        try:
            values.append(BrindlemarData(seed).draw(strategy))
        except StopTest:
            stopped += 1
    return values, stopped
