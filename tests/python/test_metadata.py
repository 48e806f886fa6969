"""Package metadata that tools read: a test extra equal to what the tests use, one version."""

import ast
import importlib.metadata
import pathlib
import re
import sys
import tomllib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PYPROJECT = ROOT / "pyproject.toml"

pytestmark = pytest.mark.skipif(not PYPROJECT.exists(), reason="needs the source tree")


# The requirement that provides each third-party module the tests and examples
# import (cloudpickle comes with Dask's distributed scheduler); None for the
# tools that only scripts/packaging.sh installs, whose tests skip without them.
PROVIDED_BY = {
    "numpy": "numpy", "pytest": "pytest", "hypothesis": "hypothesis", "PIL": "pillow", "mypy": "mypy",
    "dask": "dask", "distributed": "dask", "cloudpickle": "dask", "skimage": "scikit-image", "build": None,
}


def imported_modules(path):
    """Top-level names of the modules a file imports, lazily or through pytest.importorskip."""
    for node in ast.walk(ast.parse(path.read_text())):
        if isinstance(node, ast.Import):
            yield from (alias.name.partition(".")[0] for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.level == 0:
            yield node.module.partition(".")[0]
        elif (isinstance(node, ast.Call) and getattr(node.func, "attr", None) == "importorskip"
              and isinstance(node.args[0], ast.Constant)):
            yield node.args[0].value.partition(".")[0]


def test_test_extra_and_dependencies_are_what_the_tests_import():
    project = tomllib.loads(PYPROJECT.read_text())["project"]
    files = sorted((ROOT / "tests" / "python").glob("*.py")) + sorted((ROOT / "examples").glob("*.py"))
    own = {"tessarin"} | {path.stem for path in files}
    used = {m for path in files for m in imported_modules(path)} - set(sys.stdlib_module_names) - own
    assert used <= PROVIDED_BY.keys(), f"say which distribution provides {sorted(used - PROVIDED_BY.keys())}"
    required = project["dependencies"] + project["optional-dependencies"]["test"]
    assert {re.match(r"[\w.-]+", r)[0].lower() for r in required} == {PROVIDED_BY[m] for m in used} - {None}


def test_installed_version_is_the_one_in_pyproject():
    project = tomllib.loads(PYPROJECT.read_text())["project"]
    assert importlib.metadata.version("tessarin") == project["version"]
