import pytest

import orbax


@pytest.fixture
def s():
    """A session in a clear workspace, closed after the test."""
    session = orbax.Session()
    yield session
    session.close()
