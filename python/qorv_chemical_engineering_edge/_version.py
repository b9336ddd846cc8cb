"""The package's version: the installed distribution's; in a source tree that is not installed,
the one its pyproject.toml declares (the build reads the same line)."""
from __future__ import annotations

import os
import re
from importlib import metadata
from typing import Callable, Optional

DISTRIBUTION = "qorv-chemical-engineering"
UNKNOWN = "0+unknown"
_DECLARED = re.compile(r'^\[project\]\s*$(?:(?!^\[).)*?^version\s*=\s*"([^"]+)"\s*$', re.M | re.S)


def version(lookup: Callable[[str], str] = metadata.version, root: Optional[str] = None) -> str:
    try:
        return lookup(DISTRIBUTION)
    except metadata.PackageNotFoundError:
        pass
    if root is None:  # python/<package>/ within the source tree
        root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))
    try:
        with open(os.path.join(root, "pyproject.toml"), encoding="utf-8") as file:
            text = file.read()
    except OSError:
        return UNKNOWN
    found = _DECLARED.search(text)
    return found.group(1) if found else UNKNOWN
