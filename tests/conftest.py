# Puts the upstream layer on the path when QF_UPSTREAM=1 (see qf_testing).
import qf_testing  # noqa: F401
