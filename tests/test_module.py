import shutil
import subprocess
import sys

import pytest

from quorvantis_fast import _engine

# Every public name of the module, in the order the module registers them.
REGISTRATION_ORDER = """
float_to_lex lex_to_float is_simple IntervalSet IntervalSetIter zigzag_index zigzag_value
choice_to_index choice_from_index choice_permitted choice_index_order choice_key choices_key choice_equal stdtr
stdtrit integers_dist_cdf integers_dist_inverse_cdf BrindlemarData set_buffer_limit
clear_buffer_limit _clear_resolution_caches SearchStrategy DataObject IntegersStrategy
FloatStrategy FilteredStrategy TextStrategy BytesStrategy ListStrategy MappedStrategy integers
booleans floats none just nothing sampled_from one_of tuples lists sets frozensets dictionaries
fixed_dictionaries text characters binary uuids permutations builds _composite_strategy dates
times datetimes timedeltas complex_numbers ip_addresses deferred slices fractions decimals
recursive data from_type _resolve_abstract randoms _functions_strategy iterables emails can_hash
_regex_alphabet_intervals run_native reproduce_native draw_secs set_use_py_clock shrink_report
minimal_choices choices_to_bytes choices_from_bytes InMemoryExampleDatabase StatefulRunner
""".split()


def test_registration_order_table_is_complete():
    assert len(REGISTRATION_ORDER) == len(set(REGISTRATION_ORDER)) == 82


def test_all_lists_every_name_in_registration_order():
    assert list(_engine.__all__) == REGISTRATION_ORDER
    for name in REGISTRATION_ORDER:
        assert getattr(_engine, name) is not None
    public = {n for n in dir(_engine) if not n.startswith("__")}
    assert public == set(REGISTRATION_ORDER)


def test_module_identity_survives_reimport():
    before = list(_engine.__all__)
    del sys.modules["quorvantis_fast._engine"]
    import quorvantis_fast._engine as again

    assert again is _engine
    assert again.__all__ == before


def test_the_module_exports_only_its_init_function():
    nm = shutil.which("nm") or pytest.skip("nm is not installed")
    listed = subprocess.run([nm, "-D", "--defined-only", _engine.__file__], capture_output=True, text=True, check=True)
    assert [line.split()[-1] for line in listed.stdout.splitlines()] == ["PyInit__engine"]
