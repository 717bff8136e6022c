import pytest


@pytest.fixture(autouse=True)
def _own_working_directory(tmp_path, monkeypatch):
    # A failing run saves its example in the default database, which lives
    # under the working directory: each test gets its own.
    monkeypatch.chdir(tmp_path)
