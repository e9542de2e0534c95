"""Shared fixtures for the verrakin test suite."""

import sys

import pytest

import maths_model
import verrakin

# The model computes cos, sin and atan2 as the installed build does.
MATHS = maths_model.follow(verrakin)


def pytest_report_header(config):
    return f"verrakin maths: {MATHS}"


@pytest.fixture
def assert_note():
    """Check the argument note on an exception: `name` is the parameter the
    module names, or None for an error that must carry no note at all.

    Notes exist from Python 3.11 on; before that no exception may have any."""

    def check(exc, name):
        if name is not None and sys.version_info >= (3, 11):
            assert exc.__notes__ == [f"while processing '{name}'"]
        else:
            assert not hasattr(exc, "__notes__")

    return check
