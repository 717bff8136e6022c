# Puts the upstream layer on the path when QF_UPSTREAM=1 (see qf_testing).
import qf_testing  # noqa: F401


def pytest_report_header(config):
    import quorvantis_fast

    upstream = "with" if qf_testing.UPSTREAM else "without"
    return f"quorvantis_fast from {quorvantis_fast.__file__} ({upstream} the upstream layer)"
