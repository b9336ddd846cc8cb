"""version() is the installed distribution's version: the build passes pyproject.toml's to the module."""
from importlib.metadata import version as distribution_version

import qorv_chemical_engineering as qce


def test_version_is_the_distribution_version():
    assert qce.version() == distribution_version("qorv-chemical-engineering")
