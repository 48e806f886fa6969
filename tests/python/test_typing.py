"""The installed type information: found by mypy, true to the module, strict-clean examples."""

import importlib.util
import pathlib
import subprocess
import sys

import pytest

pytest.importorskip("mypy")

from conftest import SANITIZED  # noqa: E402

# mypy runs in child processes that would inherit the sanitizer preload.
pytestmark = pytest.mark.skipif(SANITIZED, reason="type checks do not run under the sanitizer build")

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
CALLS = HERE / "typecheck_calls.py"


@pytest.fixture(scope="module")
def scratch(tmp_path_factory):
    # A directory outside the repository, so that only the installed wheel can
    # supply tessarin; its .mypy_cache is shared by the runs below.
    return tmp_path_factory.mktemp("mypy")


def run(scratch, *args):
    return subprocess.run([sys.executable, "-m", *args], cwd=scratch, capture_output=True, text=True, timeout=600)


@pytest.mark.thread_unsafe(reason="the mypy runs share one cache folder")
def test_examples_and_typical_calls_pass_strict(scratch):
    files = [str(p) for p in sorted((ROOT / "examples").glob("*.py"))] + [str(CALLS)]
    if importlib.util.find_spec("distributed") is None:
        files = [f for f in files if not f.endswith("batch.py")]
    result = run(scratch, "mypy", "--strict", *files)
    assert result.returncode == 0, result.stdout


@pytest.mark.thread_unsafe(reason="the mypy runs share one cache folder")
def test_stub_matches_the_module(scratch):
    result = run(scratch, "mypy.stubtest", "tessarin")
    assert result.returncode == 0, result.stdout + result.stderr


def test_typical_calls_run():
    subprocess.run([sys.executable, str(CALLS)], check=True, timeout=120)
