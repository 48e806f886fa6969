"""What building an earlier commit with --compare needs beside the compiler.

Both benchmarks build the earlier commit with ``pip install --no-build-isolation``
(so that a rebuild reuses this environment's NumPy and takes seconds, not a
fresh download), which needs the project's build backend in this interpreter.
"""

from __future__ import annotations

import importlib.util
import subprocess
import sys
import tomllib
from pathlib import Path


def ensure_build_backend(root: Path) -> None:
    """Installs the build requirements of pyproject.toml when the backend is missing."""
    if importlib.util.find_spec("scikit_build_core") is not None:
        return
    with open(root / "pyproject.toml", "rb") as f:
        requires = tomllib.load(f)["build-system"]["requires"]
    print("installing the build requirements:", " ".join(requires), flush=True)
    subprocess.check_call([sys.executable, "-m", "pip", "install", "--quiet", *requires])
