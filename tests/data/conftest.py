"""Fixtures of the record tests."""

import importlib

import pytest

from quorvantis_fast import _engine


@pytest.fixture(autouse=True)
def _default_buffer_limit():
    _engine.clear_buffer_limit()
    yield
    _engine.clear_buffer_limit()


@pytest.fixture
def errors():
    return importlib.import_module("quorvantis_fast.errors")
