"""Package metadata that tools read: one list of test requirements, one version."""

import importlib.metadata
import pathlib
import tomllib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PYPROJECT = ROOT / "pyproject.toml"

pytestmark = pytest.mark.skipif(not PYPROJECT.exists(), reason="needs the source tree")


def test_requirements_file_is_the_test_extra_plus_the_runtime_dependencies():
    project = tomllib.loads(PYPROJECT.read_text())["project"]
    lines = (ROOT / "tests" / "requirements.txt").read_text().split("\n")
    listed = [line.strip() for line in lines if line.strip() and not line.startswith("#")]
    assert sorted(listed) == sorted(project["dependencies"] + project["optional-dependencies"]["test"])


def test_installed_version_is_the_one_in_pyproject():
    project = tomllib.loads(PYPROJECT.read_text())["project"]
    assert importlib.metadata.version("tessarin") == project["version"]
