"""Interactive draws of data() note what they drew, with or without the upstream library."""
from quorvantis_fast import _engine as st


def test_interactive_draws_are_noted_in_order():
    seen = []

    def test(data):
        data.draw(st.just(5))
        data.draw(st.just("x"), label="name")
        seen.append(list(data.brindlemar_data._data_draws))

    assert st.run_native(test, [st.data()], max_examples=1) is None
    assert seen[0] == ["Draw 1: 5", "Draw 2 (name): 'x'"]
