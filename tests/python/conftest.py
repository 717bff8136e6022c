import importlib

import pytest


@pytest.fixture(autouse=True)
def _own_working_directory(tmp_path, monkeypatch):
    # A failing run saves its example in the default database: each test
    # gets its own, in its own working directory.
    monkeypatch.chdir(tmp_path)
    monkeypatch.setattr(importlib.import_module("quorvantis_fast.settings"), "_DEFAULT_DATABASE_DIR",
                        str(tmp_path / ".quorvantis_fast" / "examples"))
